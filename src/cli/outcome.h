// How an unattended installation ended on one host, and the program's exit
// status for one host or many.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cli {

// Exit statuses.
inline constexpr int kExitInstalled = 0;
inline constexpr int kExitFailed = 1;       // the installation failed on the host
inline constexpr int kExitNotLoggedOn = 2;  // no connection, or no logon
inline constexpr int kExitUsage = 64;       // bad usage (as EX_USAGE)
inline constexpr int kExitSignalBase = 128;
// Standard output could not be written: the reports are lost (as EX_IOERR).
inline constexpr int kExitOutputError = 74;

enum class Outcome {
  Installed,    // the script ended through EXIT, no error report on the way, the host logged off
  Failed,       // the run started and did not end so
  NotLoggedOn,  // the connection or the logon failed; nothing was started on the host
  Interrupted,  // a signal ended it (or it never started because of one)
  Current,      // --skip-current: the host holds the payload's version; nothing was installed
  Checked,      // --check: the versions were read; nothing was changed
  Skipped,      // --max-fail: not started, as enough hosts had failed already
};

// What the VERSION command found on a host, beside the payload's version.
struct VersionCheck {
  std::optional<std::string> installed;  // none: no such file, or no version line in it
  std::string payload;
  // Whether an installation would change the host: unless the versions
  // compare equal as the script's VERSO and VERSU compare them.
  bool InstallNeeded() const;
};

struct HostResult {
  std::string host;  // the host's label
  Outcome outcome = Outcome::Failed;
  std::string reason;                      // one line, in words
  double seconds = 0;                      // from the start of its connection to its end
  std::optional<VersionCheck> versions{};  // when the host's version was read
};

// "installed", "failed", "not logged on", "interrupted", "current", "checked",
// "skipped".
const char* OutcomeWord(Outcome outcome);
// The same as a JSON value: "not_logged_on" for "not logged on".
const char* OutcomeKey(Outcome outcome);
// "install" or "none".
const char* ActionWord(const VersionCheck& versions);
// "none" for a missing version.
std::string VersionWord(const std::optional<std::string>& version);
// "installed version 2.4.0.0, payload version 2.5.0.6, action install".
std::string VersionsText(const VersionCheck& versions);

// The exit status of one host's outcome; an interruption counts as a
// failure here (the program's status says it was interrupted).
int ExitStatusFor(Outcome outcome);

// The program's status: 0 when every host installed; otherwise the
// highest of the hosts' statuses, so 2 says some host was never logged on
// to and 1 that every host was, and some installation failed; 128 + the
// signal's number (130 for Ctrl+C) when a signal ended the run.
int CombinedExitStatus(const std::vector<HostResult>& results, int signalNumber);

// "host 127.0.0.2: installed (EXIT) in 4.2 s",
// "host 127.0.0.3: failed after 1.3 s: Error occured; ...",
// "host 127.0.0.4: checked in 0.3 s: installed version none, payload
// version 2.5.0.6, action install".
std::string ResultLine(const HostResult& result);

}  // namespace cli
