// Texts of the program are single-byte strings; this converts them at the
// widgets' edge.
#pragma once

#include <QString>
#include <string>

namespace shell {

inline QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace shell
