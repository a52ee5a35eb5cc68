// The console on POSIX systems: the terminal named by TERM, its size from
// the terminal driver.
#include "cli/console.h"

#include <cstdlib>
#include <cstring>

#include <sys/ioctl.h>
#include <unistd.h>

namespace cli {

// TERM must name a terminal, and "dumb" (an editor's shell buffer, a
// serial console) has none.
bool StdoutIsLiveTerminal() {
  constexpr char kDumbTerminal[] = "dumb";
  const char* term = std::getenv("TERM");
  return ::isatty(STDOUT_FILENO) != 0 && term != nullptr && *term != '\0' &&
         std::strcmp(term, kDumbTerminal) != 0;
}

TerminalSize QueryTerminalSize() {
  TerminalSize size;
  winsize window{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &window) == 0 && window.ws_col > 0 && window.ws_row > 0) {
    size.width = window.ws_col;
    size.height = window.ws_row;
  }
  return size;
}

}  // namespace cli
