// Texts a hostile host or file may hold where the installer shows them (a
// logon notice, an answer quoted in a reason, a hosts file line), and how a
// text output must show them: every control character made visible, so
// none can drive the operator's terminal. The window shows the same texts
// as they are, as plain text. One table for both front ends.
#pragma once

#include <string_view>

namespace support {

struct HostileText {
  const char* name;
  std::string_view text;
  std::string_view shown;  // by the command line's live, plain and error output
};

inline constexpr HostileText kHostileTexts[] = {
    {"retitle and clear the screen", "OK\x1b]0;HOSTILE TITLE\x07\x1b[2J",
     "OK^[]0;HOSTILE TITLE^G^[[2J"},
    {"cursor up, paint over", "failed\x1b[1A\rinstalled", "failed^[[1A^Minstalled"},
    {"NUL inside", std::string_view("A\0B", 3), "A^@B"},
    {"DEL and a C1 CSI",
     "x\x7f\x9b"
     "2Jy",
     "x^?M-^[2Jy"},
    {"tab and Latin-1 stay", "a\tb\xe9", "a\tb\xe9"},
    {"markup stays text", "<b>installed</b>", "<b>installed</b>"},
};

}  // namespace support
