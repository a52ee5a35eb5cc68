// What the reporters ask of the console they write to, one file per
// platform: console_posix.cpp, console_win.cpp.
#pragma once

namespace cli {

// Whether standard output is a terminal that takes the cursor movements of
// the live display. On Windows the console is switched to them here.
bool StdoutIsLiveTerminal();

struct TerminalSize {
  static constexpr int kFallbackWidth = 80;
  static constexpr int kFallbackHeight = 24;
  int width = kFallbackWidth;
  int height = kFallbackHeight;
};

// The visible size of standard output's terminal; the fallback when it
// cannot be told.
TerminalSize QueryTerminalSize();

}  // namespace cli
