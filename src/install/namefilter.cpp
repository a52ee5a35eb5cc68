// The input filter of the installation group and account fields: MPE group
// and account names are at most 8 letters and digits, starting with a letter.
#include "install/namefilter.h"

#include "install/asciitext.h"

namespace install {

namespace {

bool IsUpperLetter(char c) {
  return c >= 'A' && c <= 'Z';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::string FilterInstallName(std::string_view text) {
  // Upper case first, then cut: the cut counts the characters as typed,
  // including those the next step removes.
  std::string name = UpperAscii(std::string(text.substr(0, kInstallNameLength)));
  if (name.empty()) {
    return name;
  }
  if (!IsUpperLetter(name.front())) {
    name.front() = 'A';
  }
  std::size_t kept = 1;
  for (std::size_t i = 1; i < name.size(); ++i) {
    if (IsUpperLetter(name[i]) || IsDigit(name[i])) {
      name[kept++] = name[i];
    }
  }
  name.resize(kept);
  return name;
}

}  // namespace install
