// Texts of the program are single-byte strings; upper-casing maps only the
// letters a to z, and trimming takes off the bytes a predicate names.
#pragma once

#include <string>
#include <string_view>

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

// A space or a tab.
inline bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// A space or a control character (every byte up to 32).
inline bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

// The text without the bytes at either end for which trimmed holds.
inline std::string_view Trimmed(std::string_view text, bool (*trimmed)(char)) {
  while (!text.empty() && trimmed(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && trimmed(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace install
