// Operator: everything an installation run shows or asks of the person (or
// program) in front of it. The window implements it with its boxes,
// console, status line and progress bars; the command-line installer with
// printed lines and fixed answers; tests with a recorder. The run calls it
// from inside its steps, and any call may run a nested event loop (a modal
// box) before it returns.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace install {

// Where a payload transfer stands after a step.
struct TransferProgress {
  std::string_view status;     // the status line: "  NAME Size: 109KB - 199"
  int filePercent = 0;         // this payload (pb1)
  int overallPercent = 0;      // the whole installation (pb2)
  std::string_view payload;    // the payload's name
  bool records = true;         // records of 256 bytes (else blocks of 1024)
  std::int32_t sent = 0;       // records or blocks sent so far
  std::int32_t total = 0;      // records or blocks in all
  std::int32_t bytesSent = 0;  // bytes of this payload counted as sent
  std::int32_t payloadSize = 0;
};

// How a run ended, when ActionCode went back to 0.
enum class RunEnd {
  LoggedOff,       // EXIT sent BYE: the script's own end
  PayloadRefused,  // a payload could not be loaded or sent ("Resource Error"); BYE was sent
  Stopped,         // STOP, a No to ASKC, a failed check: the operator has the console
  Paused,          // PAUSE or LOGON: the operator has the console, and Begin goes on
  Aborted,         // an upload failure ended it at once, with an error report
  ScriptError,     // the script itself could not go on (a broken line, no line, a loop)
  Abandoned,       // the connection went
};

class Operator {
public:
  virtual ~Operator() = default;

  // The boxes. Message: text and OK. Confirm: Yes and No, true only for Yes.
  // Input: caption, prompt and an empty default, for script variable
  // variable (0 to 2); nothing on Cancel.
  virtual void Message(const std::string& text) = 0;
  virtual bool Confirm(const std::string& text) = 0;
  virtual std::optional<std::string> Input(const std::string& caption, const std::string& prompt,
                                           int variable) = 0;
  // ReportError: the program's one error report (the status line, an error
  // box while connected, the window back to its connect phase).
  virtual void ReportError(int code, const std::string& text) = 0;

  // SetConsoleInput: whether the operator may type to the host.
  virtual void SetConsoleInput(bool on) = 0;
  // What the run sent, shown in the console while its echo is on: a line
  // (the text and its trailing blank, then a line end unless the line is
  // empty), or raw bytes up to the first NUL followed by CR LF.
  virtual void EchoLine(std::string_view echo) = 0;
  virtual void EchoBytes(std::span<const std::uint8_t> bytes) = 0;

  // SetUiPhase (0 connect, 1 log on, 2 at a prompt, 3 installing); LOGON
  // sets phase 0 without showing it, so the next request for phase 2 shows
  // the logon phase.
  virtual void SetUiPhase(int phase) = 0;
  virtual void ForgetUiPhase() = 0;
  virtual void ShowProgress(const TransferProgress& progress) = 0;
  // The Begin button's caption (PAUSE and LOGON name the next step).
  virtual void SetBeginCaption(const std::string& caption) = 0;
  // Counting the host's silence while FCOPY copies (Timer1).
  virtual void SetIdleTimer(bool running) = 0;

  // Notices for front ends that log what happens; the window has no use for
  // them. CommandSent: a command of the script's own went to the host.
  virtual void CommandSent(std::string_view /*command*/) {}
  virtual void RunEnded(RunEnd /*how*/) {}
};

}  // namespace install
