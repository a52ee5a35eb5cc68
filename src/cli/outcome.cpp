#include "cli/outcome.h"
#include "cli/hosttext.h"

#include "install/version.h"

#include <algorithm>
#include <cstdio>

namespace cli {

const char* OutcomeWord(Outcome outcome) {
  switch (outcome) {
    case Outcome::Installed:
      return "installed";
    case Outcome::Failed:
      return "failed";
    case Outcome::NotLoggedOn:
      return "not logged on";
    case Outcome::Interrupted:
      return "interrupted";
    case Outcome::Current:
      return "current";
    case Outcome::Checked:
      return "checked";
    case Outcome::Skipped:
      return "skipped";
  }
  return "failed";
}

bool VersionCheck::InstallNeeded() const {
  return !installed || install::ParseVersion(*installed) != install::ParseVersion(payload);
}

const char* ActionWord(const VersionCheck& versions) {
  return versions.InstallNeeded() ? "install" : "none";
}

// The installed version is the host's text, so it is shown as text.
std::string VersionWord(const std::optional<std::string>& version) {
  return version ? VisibleText(*version) : "none";
}

std::string VersionsText(const VersionCheck& versions) {
  return "installed version " + VersionWord(versions.installed) + ", payload version " +
         versions.payload + ", action " + ActionWord(versions);
}

const char* OutcomeKey(Outcome outcome) {
  return outcome == Outcome::NotLoggedOn ? "not_logged_on" : OutcomeWord(outcome);
}

int ExitStatusFor(Outcome outcome) {
  switch (outcome) {
    case Outcome::Installed:
    case Outcome::Current:
    case Outcome::Checked:
      return kExitInstalled;
    case Outcome::NotLoggedOn:
    case Outcome::Skipped:  // nothing was done on the host
      return kExitNotLoggedOn;
    case Outcome::Failed:
    case Outcome::Interrupted:
      return kExitFailed;
  }
  return kExitFailed;
}

int CombinedExitStatus(const std::vector<HostResult>& results, int signalNumber) {
  if (signalNumber != 0) {
    return kExitSignalBase + signalNumber;
  }
  int status = kExitInstalled;
  for (const HostResult& result : results) {
    status = std::max(status, ExitStatusFor(result.outcome));
  }
  return status;
}

std::string ResultLine(const HostResult& result) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", result.seconds);
  std::string line = "host " + result.host + ": " + OutcomeWord(result.outcome);
  if (result.outcome == Outcome::Installed) {
    return line + " (EXIT) in " + seconds;  // the only way a host counts as installed
  }
  if (result.outcome == Outcome::Current || result.outcome == Outcome::Checked) {
    return line + " in " + seconds + ": " + result.reason;
  }
  return line + " after " + seconds + ": " + result.reason;
}

}  // namespace cli
