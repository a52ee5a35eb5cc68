// Start, what the session reports, the logon, and the ways a host's
// installation ends. Every path ends in Finish once the connection is
// gone: a normal close by the host, a close from this side after a
// termination request or a silence, or a connection that never came.
#include "cli/hostinstall.h"

#include "cli/descriptors.h"
#include "cli/hosttext.h"
#include "install/errorreport.h"
#include "install/installtarget.h"
#include "install/logonnotice.h"
#include "install/traceheader.h"
#include "install/version.h"
#include "nsvt/eventcodes.h"

#include <algorithm>

namespace cli {

namespace {

const char kVersionCommand[] = "VERSION ";
const char kInstalledReason[] = "the script ended through EXIT";
const char kPayloadRefusedReason[] =
    "a payload could not be loaded or sent (Resource Error); the host was logged off";
constexpr int kMillisecondsPerSecond = 1000;
constexpr int kSilenceCheckMs = 1000;  // how often a host's silence is looked at, at most
constexpr int kSilenceChecks = 4;      // and at least, within the bound

// "ZORBELIX.PUB.SYS" for the logon "MANAGER.SYS,PUB": the script works in
// its logon group, which the logon the installation requires names; without
// a group the file's own name stands for the one in the logon group.
std::string InstalledFile(const std::string& file, std::string_view logon) {
  const std::size_t dot = logon.find('.');
  const std::size_t comma = logon.find(',', dot == std::string_view::npos ? 0 : dot);
  if (dot == std::string_view::npos || comma == std::string_view::npos) {
    return file;
  }
  return file + "." + std::string(logon.substr(comma + 1)) + "." +
         std::string(logon.substr(dot + 1, comma - dot - 1));
}

// A host whose result is settled once it has logged off: BYE is on its way.
bool SettledAtLogOff(Outcome outcome) {
  return outcome == Outcome::Installed || outcome == Outcome::Current ||
         outcome == Outcome::Checked;
}

// The shortest of two bounds in seconds, 0 for none.
int ShortestBound(int first, int second) {
  if (first == 0 || second == 0) {
    return std::max(first, second);
  }
  return std::min(first, second);
}

// "Connection refused (10061)".
std::string ReportLine(int code, const std::string& text) {
  return OneLine(text) + " (" + std::to_string(code) + ")";
}

}  // namespace

HostInstall::HostInstall(HostPlan plan, const InstallSettings& settings, Reporter& reporter,
                         Finished finished, Postponed postponed)
    : plan_(std::move(plan)),
      label_(plan_.entry.Label()),
      settings_(settings),
      reporter_(reporter),
      finished_(std::move(finished)),
      postponed_(std::move(postponed)),
      session_(*this, settings.makeSocket),
      run_(session_, *this, settings.table) {
  run_.SetDefaultAccount(settings_.target.defaultAccount);
  startRequiredLogon_ = run_.requiredLogon();
  session_.SetPeerLookup(settings_.reverseLookup);
  if (settings_.timeoutSeconds > 0) {
    // A host that takes none of our data for as long as it may go without
    // a step has stopped too.
    session_.SetSendStallLimit(settings_.timeoutSeconds * kMillisecondsPerSecond);
  }
  // Checked four times within the shortest bound, so a host ends within a
  // quarter of it after the bound, and at least once a second.
  if (const int bound = ShortestBound(settings_.timeoutSeconds, settings_.connectTimeoutSeconds);
      bound > 0) {
    silenceCheck_.setInterval(
        std::min(kSilenceCheckMs, bound * kMillisecondsPerSecond / kSilenceChecks));
  }
  connect(&silenceCheck_, &QTimer::timeout, this, &HostInstall::CheckSilence);
  deadline_.setSingleShot(true);
  deadline_.setInterval(std::chrono::seconds(settings_.deadlineSeconds));
  connect(&deadline_, &QTimer::timeout, this, &HostInstall::DeadlinePassed);
  endWait_.setSingleShot(true);
  endWait_.setInterval(kEndWait);
  connect(&endWait_, &QTimer::timeout, this, &HostInstall::EndWaitExpired);
}

HostInstall::~HostInstall() = default;

void HostInstall::Start() {
  started_.start();
  lastStep_.start();
  if (!plan_.tracePath.empty()) {
    // Judged before the run; refused now, something was planted since.
    if (std::string reason = session_.OpenTrace(plan_.tracePath); !reason.empty()) {
      if (IsDescriptorShortage(reason)) {
        Postpone();
        return;
      }
      Note(Outcome::NotLoggedOn, "cannot write the trace file " + plan_.tracePath + ": " + reason);
      Finish();
      return;
    }
    install::WriteTraceHeader(session_);
  }
  if (silenceCheck_.interval() > 0) {
    silenceCheck_.start();
  }
  if (settings_.deadlineSeconds > 0) {
    deadline_.start();
  }
  session_.Open(QString::fromStdString(plan_.entry.host), plan_.entry.port);
}

// ---- the session's reports ----

void HostInstall::Connected() {
  phase_ = Phase::LoggingOn;
  lastStep_.restart();
  reporter_.Connected(label_, session_.RemoteHost().toStdString());
}

// Not a sign of life: the name comes from the resolver, not the host.
void HostInstall::PeerNamed(const std::string& name) {
  reporter_.PeerNamed(label_, name);
}

// Bytes are not progress: a host that talks without ever asking for input
// (negotiation over and over, endless output, a message that never ends)
// must not hold the run. Only a step of the session restarts the bound.
void HostInstall::Received() {}

void HostInstall::HostOutput(nsvt::ConstBytes data, std::uint8_t outputControl) {
  run_.HostOutput(data);
  KeepHostLines(data, outputControl);
}

// The host's lines since this side's latest line or command, with their
// line breaks as a console shows them (the run's host text has none, and is
// cleared as soon as a check has judged it). The head is what matters, the
// prompt or the error line; a transfer's output after it is not kept.
void HostInstall::KeepHostLines(nsvt::ConstBytes data, std::uint8_t outputControl) {
  if (hostLines_.size() >= kHostLinesLimit) {
    return;
  }
  const std::size_t kept = std::min(data.size(), kHostLinesLimit - hostLines_.size());
  hostLines_.append(reinterpret_cast<const char*>(data.data()), kept);
  if (outputControl != nsvt::kOutputControlNoNewLine) {
    hostLines_.push_back('\n');
  }
}

void HostInstall::ReadRequest() {
  if (phase_ == Phase::Ending || phase_ == Phase::Done) {
    return;  // this side is ending the session; nothing more goes out
  }
  lastStep_.restart();  // a read request answered is a step
  if (run_.InProgress()) {
    run_.DialogueStep();
    AfterRunCall();
    return;
  }
  consoleInput_ = true;
  switch (phase_) {
    case Phase::Connecting:
    case Phase::LoggingOn:
      AnswerLogonRead();
      break;
    case Phase::LoggedOn:
      settings_.versionMode == VersionMode::Off ? StartRun() : AskVersion();
      break;
    case Phase::Checking:
      JudgeVersion();
      break;
    case Phase::Running:
    case Phase::LoggingOff:
      LogOff();
      break;
    case Phase::Ending:
    case Phase::Done:
      break;
  }
}

void HostInstall::LogonNotice(std::string_view text) {
  if (phase_ != Phase::LoggingOn) {
    return;  // a later logon within the session is the script's business
  }
  lastStep_.restart();
  const std::string shown(install::ShownLogonNotice(text));
  reporter_.LoggedOn(label_, shown);
  if (install::LogonAccepted(text, run_.requiredLogon())) {
    phase_ = Phase::LoggedOn;
    return;
  }
  Note(Outcome::NotLoggedOn,
       "logged on as " + shown + ", but the installation needs a logon as " + run_.requiredLogon());
  phase_ = Phase::LoggingOff;  // BYE at the host's next read
}

void HostInstall::InputStopped() {
  consoleInput_ = false;
}

void HostInstall::Error(int code, const std::string& text, bool socketFailed) {
  if (phase_ == Phase::Done) {
    return;
  }
  if (socketFailed) {
    if (!session_.Connected()) {
      // The connection never came: no close follows.
      if (IsDescriptorShortage(code)) {
        Postpone();
        return;
      }
      Note(Outcome::NotLoggedOn, "cannot connect: " + ReportLine(code, text));
      Finish();
      return;
    }
    if (result_ && SettledAtLogOff(result_->outcome)) {
      Finish();  // after BYE: the host ended the session, if roughly
      return;
    }
    Note(FailureNow(), "the connection failed (" + ReportLine(code, text) + ")" + WhileRunning());
    run_.AbandonRun();
    return;  // Closed follows at once
  }
  if (code == nsvt::kErrorNormalEnd) {
    // The host confirmed this side's termination request: the session is
    // over, whether or not the host closes the connection itself.
    QTimer::singleShot(0, this, [this] { session_.Close(); });
    return;
  }
  if (code == nsvt::kErrorTerminationKnown || code == nsvt::kErrorTerminationUnknown) {
    // The session has replied; the host closes the connection next.
    Note(FailureNow(), "the host ended the session (" + OneLine(text) + ")" + WhileRunning());
    run_.AbandonRun();
    phase_ = Phase::Ending;
    endWait_.start();
    return;
  }
  // Anything else (an invalid packet) leaves the byte stream in doubt: the
  // window would report it in a box; unattended, the session ends.
  ReportError(code, text);
  Note(FailureNow(), ReportLine(code, text) + WhileRunning());
  run_.AbandonRun();
  EndSession();
}

void HostInstall::Closed(bool byHost) {
  const bool cutShort = run_.InProgress();
  const std::string incomplete =
      cutShort ? run_.IncompleteInstallationText("the host closed the connection") : std::string();
  run_.AbandonRun();
  if (phase_ == Phase::Done) {
    return;
  }
  if (cutShort) {
    Note(Outcome::Failed, OneLine(incomplete));
  } else if (!result_) {
    Note(FailureNow(), phase_ == Phase::LoggingOn || phase_ == Phase::Connecting
                           ? "the host closed the connection during the logon"
                           : "the host closed the connection");
  } else if (result_->outcome == Outcome::Installed && !byHost) {
    Note(Outcome::Failed, "the script ended through EXIT, but the host did not end the session");
  }
  Finish();
}

// ---- the logon ----

void HostInstall::AnswerLogonRead() {
  if (!helloSent_) {
    helloSent_ = true;
    SendOwnLine(plan_.entry.logon.HelloLine(), false);
    return;
  }
  if (!session_.LocalEcho()) {
    AnswerPasswordPrompt();
    return;
  }
  // Echo on again without a logon notice: the host is back at its logon
  // prompt, and says why above it.
  std::string why = ErrorLineIn(hostLines_);
  if (why.empty()) {
    why = FirstLineIn(hostLines_);
  }
  Note(Outcome::NotLoggedOn, "the host refused the logon as " + plan_.entry.logon.Text() +
                                 (why.empty() ? std::string() : ": " + why));
  EndSession();
}

// A read with the host's echo off is a password prompt; the prompt says
// whose password it wants. One answer each: a second prompt for the same
// password means the host refused it, and trying it again cannot help.
void HostInstall::AnswerPasswordPrompt() {
  const std::optional<PasswordKind> kind = PasswordKindIn(hostLines_);
  if (!kind) {
    Note(Outcome::NotLoggedOn,
         "the host asks for a password that is not a user, account or group "
         "password: \"" +
             OneLine(hostLines_) + "\"");
    EndSession();
    return;
  }
  const std::string name = PasswordKindName(*kind);
  bool& sent = passwordSent_[static_cast<std::size_t>(*kind)];
  if (sent) {
    Note(Outcome::NotLoggedOn, "the host refused the " + name + " password");
    EndSession();
    return;
  }
  const std::optional<std::string>& password = settings_.passwords.For(*kind);
  if (!password) {
    Note(Outcome::NotLoggedOn, "the host asks for the " + name + " password, and none was given (" +
                                   PasswordVariable(*kind) + ", or " + PasswordKey(*kind) +
                                   "= in --password-file)");
    EndSession();
    return;
  }
  sent = true;
  SendOwnLine(*password, true);
}

// ---- the version check ----

void HostInstall::AskVersion() {
  phase_ = Phase::Checking;
  const std::string command =
      kVersionCommand + InstalledFile(settings_.versionModule, run_.requiredLogon());
  if (SendOwnLine(command, false)) {
    reporter_.CommandSent(label_, command);
  }
}

// The host's answer is judged as the script's VERSO judges it; a missing
// file and a file without a version line both mean no installed version.
void HostInstall::JudgeVersion() {
  std::optional<std::string> installed =
      install::FindModuleVersion(run_.hostText(), settings_.versionModule);
  if (installed && installed->empty()) {
    installed.reset();
  }
  versions_ = VersionCheck{std::move(installed), settings_.payloadVersion};
  if (settings_.versionMode == VersionMode::Check) {
    Note(Outcome::Checked, VersionsText(*versions_));
  } else if (!versions_->InstallNeeded()) {
    Note(Outcome::Current, "the host holds version " + VersionWord(versions_->installed) +
                               ", the payload's; nothing was installed");
  } else {
    StartRun();
    return;
  }
  BeginLogOff();
}

// ---- the run ----

void HostInstall::StartRun() {
  const InstallChoice& target = settings_.target;
  if (target.needsConfirmation) {
    reporter_.Box(label_, ConfirmBox(install::kAlteredDefaults, settings_.yes));
    if (!settings_.yes) {
      Note(Outcome::Failed, "the installation group and account " + target.group + "." +
                                target.account +
                                " differ from the configured ones, and --yes was not given to "
                                "confirm them; nothing was started");
      BeginLogOff();
      return;
    }
  }
  phase_ = Phase::Running;
  runStarted_ = true;
  run_.Begin(target.group, target.account);
  AfterRunCall();
}

void HostInstall::AfterRunCall() {
  if (!runEnd_ || run_.InProgress()) {
    return;
  }
  const install::RunEnd how = *runEnd_;
  runEnd_.reset();
  switch (how) {
    case install::RunEnd::LoggedOff:
    case install::RunEnd::PayloadRefused:
      // BYE went out; the host's close confirms it. Only the script's own
      // EXIT, with no failure path on the way (an error line, a stop
      // message, an error report), is an installation.
      if (how == install::RunEnd::PayloadRefused) {
        Note(Outcome::Failed, kPayloadRefusedReason);
      } else if (errorShown_ || run_.TookFailurePath()) {
        Note(Outcome::Failed, StopReason());
      } else {
        Note(Outcome::Installed, kInstalledReason);
      }
      phase_ = Phase::LoggingOff;
      logOffTries_ = 1;
      endWait_.start();
      return;
    case install::RunEnd::Stopped:
    case install::RunEnd::Aborted:
    case install::RunEnd::ScriptError:
      Note(Outcome::Failed, StopReason());
      break;
    case install::RunEnd::Paused:
      Note(Outcome::Failed, PauseReason());
      break;
    case install::RunEnd::Abandoned:
      return;  // the connection's end says why
  }
  BeginLogOff();
}

// ---- sending, logging off, ending ----

// A line of this side's own, as the console sends a typed one: the host
// text gathered so far is done with; a password stays out of the trace.
bool HostInstall::SendOwnLine(const std::string& text, bool masked) {
  run_.ClearHostText();
  hostLines_.clear();
  consoleInput_ = false;
  if (session_.SendLine(text, masked)) {
    return true;
  }
  Note(FailureNow(), masked ? "the password could not be sent (at most " +
                                  std::to_string(nsvt::kMaxTerminalData) + " characters)"
                            : "\"" + text + "\" could not be sent to the host");
  EndSession();
  return false;
}

void HostInstall::BeginLogOff() {
  phase_ = Phase::LoggingOff;
  if (consoleInput_) {
    LogOff();  // the host's read is still waiting
  }
}

void HostInstall::LogOff() {
  if (logOffTries_ >= kLogOffTries) {
    EndSession();
    return;
  }
  ++logOffTries_;
  if (SendOwnLine(install::kLogOffCommand, false)) {
    endWait_.start();
  }
}

void HostInstall::EndSession() {
  phase_ = Phase::Ending;
  if (!session_.Connected()) {
    session_.Close();  // gives up a connection still being made
    Finish();
    return;
  }
  session_.SendTerminationRequest();
  endWait_.start();
}

void HostInstall::EndWaitExpired() {
  if (phase_ == Phase::LoggingOff) {
    Note(FailureNow(), "the host did not end the session after BYE");
    EndSession();
    return;
  }
  session_.Close();  // reports Closed(false) while connected
  if (phase_ != Phase::Done) {
    Finish();
  }
}

void HostInstall::CheckSilence() {
  const bool connecting = phase_ == Phase::Connecting;
  const int seconds = connecting && settings_.connectTimeoutSeconds > 0
                          ? settings_.connectTimeoutSeconds
                          : settings_.timeoutSeconds;
  if (phase_ == Phase::Ending || phase_ == Phase::Done || seconds == 0 ||
      !lastStep_.hasExpired(static_cast<qint64>(seconds) * kMillisecondsPerSecond)) {
    return;
  }
  silenceCheck_.stop();
  const std::string bound = std::to_string(seconds) + " s";
  if (connecting) {
    Note(Outcome::NotLoggedOn, "no connection within " + bound);
  } else {
    Note(FailureNow(), "no progress from the host for " + bound + WhileRunning());
  }
  run_.AbandonRun();
  EndSession();
}

void HostInstall::DeadlinePassed() {
  if (phase_ == Phase::Ending || phase_ == Phase::Done) {
    return;  // already ending, within its own bound
  }
  Note(phase_ == Phase::Connecting ? Outcome::NotLoggedOn : FailureNow(),
       "not done within the deadline of " + std::to_string(settings_.deadlineSeconds) + " s" +
           WhileRunning());
  run_.AbandonRun();
  EndSession();
}

void HostInstall::Interrupt() {
  if (phase_ == Phase::Done || (result_ && SettledAtLogOff(result_->outcome))) {
    return;  // a settled host's close after BYE is already on its way
  }
  if (run_.InProgress()) {
    Note(Outcome::Interrupted,
         "interrupted while " + run_.RunStepText() + "; the installation did not complete");
  } else if (phase_ == Phase::Running || phase_ == Phase::LoggingOff) {
    Note(Outcome::Interrupted, "interrupted while logging off");
  } else {
    Note(Outcome::Interrupted, "interrupted before the installation started");
  }
  run_.AbandonRun();
  if (phase_ != Phase::Ending) {
    EndSession();
  }
}

void HostInstall::CloseNow() {
  if (phase_ == Phase::Done) {
    return;
  }
  Note(Outcome::Interrupted, "interrupted");
  session_.Close();
  if (phase_ != Phase::Done) {
    Finish();
  }
}

// ---- the result ----

void HostInstall::Note(Outcome outcome, std::string reason) {
  const bool replaces =
      !result_ || (SettledAtLogOff(result_->outcome) && outcome != Outcome::Interrupted);
  if (replaces) {
    result_ = HostResult{label_, outcome, std::move(reason), 0};
  }
}

Outcome HostInstall::FailureNow() const {
  return runStarted_ ? Outcome::Failed : Outcome::NotLoggedOn;
}

std::string HostInstall::WhileRunning() const {
  return run_.InProgress() ? " while " + run_.RunStepText() : std::string();
}

void HostInstall::Finish() {
  phase_ = Phase::Done;
  silenceCheck_.stop();
  deadline_.stop();
  endWait_.stop();
  HostResult result =
      result_.value_or(HostResult{label_, Outcome::Failed, "ended for no known reason", 0});
  result.seconds = static_cast<double>(started_.elapsed()) / kMillisecondsPerSecond;
  result.versions = versions_;
  reporter_.Result(result);
  finished_(result);
}

void HostInstall::Postpone() {
  phase_ = Phase::Done;
  silenceCheck_.stop();
  deadline_.stop();
  endWait_.stop();
  postponed_();
}

}  // namespace cli
