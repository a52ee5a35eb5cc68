// Texts of the program are single-byte strings; upper-casing maps only the
// letters a to z.
#pragma once

#include <string>

namespace install {

inline std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return text;
}

}  // namespace install
