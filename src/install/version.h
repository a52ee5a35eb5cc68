// Dotted version numbers as host programs print them ("2.5.0.6"), turned
// into one comparable integer (2,050,006).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace install {

// Four groups weighted 1,000,000, 10,000, 100 and 1; further groups are
// ignored. An empty group counts as 0; a group too large saturates at the
// largest 32-bit value, and so does the result.
std::int32_t ParseVersion(std::string_view text);

// The version a host program's version line gives for module, found as the
// VERSO check finds it: the module name blank-filled (or cut) to 8
// characters and " - ", then the 20 characters after it (fewer where the
// text ends), trimmed to the dotted version they start with ("2.5.0.6").
// Nothing when no line names the module.
std::optional<std::string> FindModuleVersion(std::string_view text, std::string_view module);

}  // namespace install
