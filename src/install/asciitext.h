// Texts of the program are single-byte strings; upper-casing maps only the
// letters a to z.
#pragma once

#include <string>

namespace install {

inline char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string UpperAscii(std::string text) {
  for (char& c : text) {
    c = UpperAscii(c);
  }
  return text;
}

}  // namespace install
