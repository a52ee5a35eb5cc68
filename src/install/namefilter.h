// The input filter of the installation group and account fields.
#pragma once

#include <string>
#include <string_view>

namespace install {

inline constexpr std::size_t kInstallNameLength = 8;

// Upper case, at most 8 characters, first a letter (else "A"), then only
// letters and digits. Filtering the result again changes nothing.
std::string FilterInstallName(std::string_view text);

}  // namespace install
