// The rules of the program's one error report (ReportError), shared by
// every front end: what the status line becomes and whether an error box
// repeats it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace install {

// What an error report does.
enum class ErrorAction {
  Disconnected,  // 10053: only the status line, "Disconnected"
  Report,        // the connect phase, the status line (unless kept), maybe a box
};
ErrorAction ErrorActionFor(int code);
inline constexpr const char* kDisconnectedStatus = "Disconnected";

// The status line for a report: the text itself for a code of 0 or below,
// else "  Network Error: %d, %s"; nothing (the previous line stays) when the
// text holds "BLOCK" in any mix of cases.
std::optional<std::string> ErrorStatusLine(int code, std::string_view text);

// Whether an error box repeats the status line (while the connection is up):
// every code but 0, 4004 and 10054 (a reset).
bool ErrorShowsBox(int code);

}  // namespace install
