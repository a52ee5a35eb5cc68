// Texts of the program are single-byte strings; these convert them at the
// widgets' edge and upper-case them as the program does (a to z only).
#pragma once

#include <QString>
#include <string>

inline QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return text;
}
