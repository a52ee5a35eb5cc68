// The console on Windows: switched to the cursor movements of the live
// display, its size from the console's window.
#include "cli/console.h"

#include <cstdio>

#include <io.h>
#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max, not the macros
#endif
#include <windows.h>

namespace cli {

// The console must be switched to the cursor movements first.
bool StdoutIsLiveTerminal() {
  if (_isatty(_fileno(stdout)) == 0) {
    return false;
  }
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  return GetConsoleMode(console, &mode) != 0 &&
         SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

TerminalSize QueryTerminalSize() {
  TerminalSize size;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) != 0) {
    size.width = info.srWindow.Right - info.srWindow.Left + 1;
    size.height = info.srWindow.Bottom - info.srWindow.Top + 1;
  }
  return size;
}

}  // namespace cli
