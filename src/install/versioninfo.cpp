// The version text of the trace header, from the version the build compiles
// into the program.
#include "install/versioninfo.h"

#include <cstdint>
#include <iterator>

std::string VersionText() {
#if defined(ZORBELIX_VERSION_MAJOR) && defined(ZORBELIX_VERSION_MINOR) && \
    defined(ZORBELIX_VERSION_PATCH) && defined(ZORBELIX_VERSION_TWEAK)
  // "+ 0" turns a part the build left empty (a three-part project version)
  // into 0 instead of a syntax error. Each part is a 16-bit field of the
  // file version, as the version resource holds it.
  const std::uint16_t parts[] = {
      static_cast<std::uint16_t>(ZORBELIX_VERSION_MAJOR + 0),
      static_cast<std::uint16_t>(ZORBELIX_VERSION_MINOR + 0),
      static_cast<std::uint16_t>(ZORBELIX_VERSION_PATCH + 0),
      static_cast<std::uint16_t>(ZORBELIX_VERSION_TWEAK + 0),
  };
  std::string text = "Version(32): ";
  for (std::size_t i = 0; i < std::size(parts); ++i) {
    if (i > 0) {
      text.push_back('.');
    }
    text += std::to_string(parts[i]);
  }
  return text;
#else
  return "Version: Unknown";
#endif
}
