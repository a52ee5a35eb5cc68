#include "cli/reporttext.h"

#include "cli/hosttext.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace cli {

namespace {

const char kHostHeading[] = "HOST";
const char kOutcomeHeading[] = "OUTCOME";
const char kTimeHeading[] = "TIME";
const char kReasonHeading[] = "REASON";
// The version columns, shown when some host's version was read.
const char kInstalledHeading[] = "INSTALLED";
const char kPayloadHeading[] = "PAYLOAD";
const char kActionHeading[] = "ACTION";
constexpr std::size_t kColumnGap = 2;

std::string Padded(std::string text, std::size_t width) {
  text.resize(std::max(width, text.size()), ' ');
  return text;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

}  // namespace

std::string ProgressText(const ProgressEvent& progress) {
  char text[160];
  std::snprintf(text, sizeof text, "%.*s %s %d of %d (%d%%), %.0f KB/s",
                static_cast<int>(progress.payload.size()), progress.payload.data(),
                progress.records ? "record" : "block", static_cast<int>(progress.sent),
                static_cast<int>(progress.total), progress.percent, progress.kbPerSecond);
  return text;
}

std::string BoxText(const BoxEvent& box) {
  switch (box.kind) {
    case BoxKind::Message:
      return "message: " + OneLine(box.text);
    case BoxKind::Confirm:
      return "confirm: " + OneLine(box.text) + " -> " + box.answer;
    case BoxKind::Input:
      return "input %" + std::to_string(box.variable) + ": " + OneLine(box.text) + " -> \"" +
             box.answer + "\"";
    case BoxKind::Error:
      return "error " + std::to_string(box.code) + ": " + OneLine(box.text);
  }
  return OneLine(box.text);
}

std::string SummaryText(const std::vector<HostResult>& results, int exitStatus, double seconds) {
  std::size_t hostWidth = sizeof kHostHeading - 1;
  std::size_t outcomeWidth = sizeof kOutcomeHeading - 1;
  std::size_t timeWidth = sizeof kTimeHeading - 1;
  std::map<Outcome, int> counts;
  std::size_t installedWidth = 0;
  std::size_t payloadWidth = 0;
  std::size_t actionWidth = 0;
  std::vector<HostResult> shown = results;
  for (HostResult& result : shown) {
    result.host = VisibleText(result.host);
    result.reason = VisibleText(result.reason);
    if (result.versions) {
      installedWidth = std::max({installedWidth, sizeof kInstalledHeading - 1 + kColumnGap,
                                 VersionWord(result.versions->installed).size() + kColumnGap});
      payloadWidth = std::max({payloadWidth, sizeof kPayloadHeading - 1 + kColumnGap,
                               result.versions->payload.size() + kColumnGap});
      actionWidth = std::max({actionWidth, sizeof kActionHeading - 1 + kColumnGap,
                              std::string(ActionWord(*result.versions)).size() + kColumnGap});
    }
    hostWidth = std::max(hostWidth, result.host.size());
    outcomeWidth = std::max(outcomeWidth, std::string(OutcomeWord(result.outcome)).size());
    timeWidth = std::max(timeWidth, Seconds(result.seconds).size());
    ++counts[result.outcome];
  }
  hostWidth += kColumnGap;
  outcomeWidth += kColumnGap;
  timeWidth += kColumnGap;

  // Hosts whose version was not read leave the version columns blank.
  const auto versionColumns = [&](const std::optional<VersionCheck>& versions) {
    if (installedWidth == 0) {
      return std::string();
    }
    return Padded(versions ? VersionWord(versions->installed) : "", installedWidth) +
           Padded(versions ? versions->payload : "", payloadWidth) +
           Padded(versions ? ActionWord(*versions) : "", actionWidth);
  };

  std::string text = Padded(kHostHeading, hostWidth) + Padded(kOutcomeHeading, outcomeWidth) +
                     Padded(kTimeHeading, timeWidth);
  if (installedWidth > 0) {
    text += Padded(kInstalledHeading, installedWidth) + Padded(kPayloadHeading, payloadWidth) +
            Padded(kActionHeading, actionWidth);
  }
  text += kReasonHeading + std::string("\n");
  for (const HostResult& result : shown) {
    text += Padded(result.host, hostWidth) + Padded(OutcomeWord(result.outcome), outcomeWidth) +
            Padded(Seconds(result.seconds), timeWidth) + versionColumns(result.versions) +
            result.reason + "\n";
  }
  text += "summary: " + std::to_string(counts[Outcome::Installed]) + " of " +
          std::to_string(results.size()) + " hosts installed";
  for (const Outcome outcome : {Outcome::Failed, Outcome::NotLoggedOn, Outcome::Interrupted,
                                Outcome::Current, Outcome::Checked, Outcome::Skipped}) {
    if (counts[outcome] > 0) {
      text += ", " + std::to_string(counts[outcome]) + " " + OutcomeWord(outcome);
    }
  }
  text += " in " + Seconds(seconds) + "; exit status " + std::to_string(exitStatus) + "\n";
  return text;
}

}  // namespace cli
