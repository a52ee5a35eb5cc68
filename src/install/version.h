// Dotted version numbers as host programs print them ("2.5.0.6"), turned
// into one comparable integer (2,050,006).
#pragma once

#include <cstdint>
#include <string_view>

namespace install {

// Four groups weighted 1,000,000, 10,000, 100 and 1; further groups are
// ignored. An empty group counts as 0; a group too large saturates at the
// largest 32-bit value, and so does the result.
std::int32_t ParseVersion(std::string_view text);

}  // namespace install
