// What the run shows and asks, answered without a person: messages are
// reported, confirmations take --yes, inputs take --answer, error reports
// are reported and remembered (a report the window would show in a box
// makes the installation a failure), progress goes to the reporter with
// the transfer's rate.
#include "cli/hostinstall.h"

#include "cli/hosttext.h"
#include "install/errorreport.h"

#include <algorithm>

namespace cli {

namespace {

constexpr double kBytesPerKb = 1024.0;
constexpr std::int64_t kPercent = 100;
const char kAccelerator = '&';  // marks a caption's access key

std::string WithoutAccelerator(std::string caption) {
  caption.erase(std::remove(caption.begin(), caption.end(), kAccelerator), caption.end());
  return caption;
}

}  // namespace

void HostInstall::Message(const std::string& text) {
  lastMessage_ = text;
  // The host's answer that led here, if it reported an error: a script
  // shows its own words ("Error occured"); the host's say what went wrong.
  lastMessageHostError_ = ErrorLineIn(hostLines_);
  lastMessageCommand_ = run_.lastCommand();
  reporter_.Box(label_, MessageBox(text));
}

bool HostInstall::Confirm(const std::string& text) {
  if (!settings_.yes) {
    refusedConfirmation_ = text;
  }
  reporter_.Box(label_, ConfirmBox(text, settings_.yes));
  return settings_.yes;
}

std::optional<std::string> HostInstall::Input(const std::string& /*caption*/,
                                              const std::string& prompt, int variable) {
  const auto index = static_cast<std::size_t>(std::clamp(variable, 0, kScriptAnswers - 1));
  const std::string answer = settings_.answers[index].value_or(std::string());
  reporter_.Box(label_, InputBox(prompt, answer, variable));
  return answer;
}

void HostInstall::ReportError(int code, const std::string& text) {
  const std::string line = OneLine(install::ErrorStatusLine(code, text).value_or(text));
  reporter_.Box(label_, ErrorBox(code, line));
  const bool boxShown = install::ErrorActionFor(code) == install::ErrorAction::Report &&
                        install::ErrorShowsBox(code) && session_.Connected();
  if (boxShown && !errorShown_) {
    errorShown_ = true;
    errorReason_ = line;
  }
}

void HostInstall::ShowProgress(const install::TransferProgress& progress) {
  const auto now = std::chrono::steady_clock::now();
  if (progress.payload != ratePayload_ || progress.bytesSent < rateStartBytes_) {
    ratePayload_ = progress.payload;
    rateStartBytes_ = progress.bytesSent;
    rateStart_ = now;
  }
  const double seconds = std::chrono::duration<double>(now - rateStart_).count();
  const double kbPerSecond =
      seconds > 0 ? (progress.bytesSent - rateStartBytes_) / kBytesPerKb / seconds : 0.0;
  // The window's first bar stays at 0 through a record transfer; here the
  // percent is always the share of records or blocks sent.
  const int percent =
      progress.total > 0
          ? static_cast<int>(static_cast<std::int64_t>(progress.sent) * kPercent / progress.total)
          : 0;
  reporter_.Progress(label_, {progress.payload, progress.records, progress.sent, progress.total,
                              percent, progress.overallPercent, progress.bytesSent, kbPerSecond});
}

void HostInstall::CommandSent(std::string_view command) {
  hostLines_.clear();
  reporter_.CommandSent(label_, command);
}

std::string HostInstall::StopReason() const {
  if (!refusedConfirmation_.empty()) {
    return "the script asked \"" + OneLine(refusedConfirmation_) +
           "\", and without --yes the answer is No";
  }
  if (errorShown_) {
    return errorReason_;
  }
  if (lastMessage_.empty()) {
    return "the install script stopped" +
           (run_.lastCommand().empty() ? std::string() : " after " + run_.lastCommand());
  }
  std::string reason = OneLine(lastMessage_);
  if (!lastMessageHostError_.empty()) {
    reason += "; the host's answer to " + lastMessageCommand_ + ": " + lastMessageHostError_;
  }
  return reason;
}

std::string HostInstall::PauseReason() const {
  const std::string caption = WithoutAccelerator(beginCaption_);
  if (run_.requiredLogon() != startRequiredLogon_) {
    return "the install script asks for a logon as " + run_.requiredLogon() + " to go on (" +
           caption + "), which an unattended installation does not do";
  }
  return "the install script paused (" + caption +
         "), and an unattended installation does not go on after a pause";
}

}  // namespace cli
