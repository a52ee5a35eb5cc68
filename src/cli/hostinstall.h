// HostInstall: one unattended installation on one host. It is the second
// front end of the installation beside the window, with the window's shape
// and no widgets: it owns an NS/VT Session and a Run, is the session's
// listener and the run's operator, and routes as the window does (a read
// request goes to the run while it is in progress). Where the window waits
// for a person, it acts on its own: it sends the HELLO line and the
// passwords, starts the run at the MPE prompt after the logon, answers the
// run's boxes from the command line, logs off, and bounds the host's
// silence. It tells its reporter what happens and, once the connection is
// gone, hands its result to whoever started it.
//
// Its handlers are split by concern:
//   hostinstall.cpp           start, the session's reports, the logon, ending
//   hostinstall_operator.cpp  what the run shows and asks
#pragma once

#include "cli/hostlist.h"
#include "cli/installchoice.h"
#include "cli/outcome.h"
#include "cli/passwords.h"
#include "cli/report.h"
#include "install/operator.h"
#include "install/run.h"
#include "nsvt/session.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace cli {

inline constexpr int kScriptAnswers = 3;  // ASK0 to ASK2

// Whether a host's installed version is read after the logon, and what
// follows.
enum class VersionMode {
  Off,          // the installation starts at once
  Check,        // --check: VERSION, then BYE; nothing on the host changes
  SkipCurrent,  // --skip-current: VERSION; BYE when the host holds the payload's version
};

// What every host of a run shares.
struct InstallSettings {
  Passwords passwords;
  bool yes = false;  // Yes to the group and account confirmation and to ASKC
  std::array<std::optional<std::string>, kScriptAnswers> answers;  // --answer N=TEXT
  InstallChoice target;
  int timeoutSeconds = 0;         // the longest time between two steps of a session; 0: none
  int connectTimeoutSeconds = 0;  // the longest time to connect; 0: timeoutSeconds
  int deadlineSeconds = 0;        // the longest whole run of a host; 0: none
  bool reverseLookup = true;      // look the hosts' names up once connected
  install::TableLookup table;     // the string table; empty: the program's own
  VersionMode versionMode = VersionMode::Off;
  std::string versionModule;   // the payload's name and its version line's module: "ZORBELIX"
  std::string payloadVersion;  // the payload's own version line's: "2.5.0.6"
  nsvt::Session::SocketFactory makeSocket;  // empty: the platform socket; tests put a double
};

// One host of a run.
struct HostPlan {
  HostEntry entry;
  std::string tracePath;  // empty: no trace
};

class HostInstall final : public QObject, private nsvt::SessionListener, private install::Operator {
  Q_OBJECT
public:
  using Finished = std::function<void(const HostResult&)>;
  using Postponed = std::function<void()>;

  // settings and reporter must outlive the object. finished is called once,
  // from inside the object's handlers: it must not destroy the object there.
  // postponed is called instead, the same way, when the connection or the
  // trace found no free descriptor: nothing was sent, and the host is to be
  // started again once another has ended.
  HostInstall(HostPlan plan, const InstallSettings& settings, Reporter& reporter, Finished finished,
              Postponed postponed);
  ~HostInstall() override;

  // Opens the trace, if any, and connects.
  void Start();
  // A signal: the session ends now (a termination request where the
  // connection can still write), and the result says where the run stood.
  void Interrupt();
  // A second signal: the connection closes at once.
  void CloseNow();
  // The run, for tests that judge a result against the way it ended.
  const install::Run& run() const { return run_; }

  // How long an ending session may take: after a BYE, and after a
  // termination request, before the connection is closed from this side.
  static constexpr std::chrono::milliseconds kEndWait{3000};
  // BYEs sent at the host's reads after a failed run before a termination
  // request ends the session instead (a program that holds the terminal may
  // take the first).
  static constexpr int kLogOffTries = 2;
  // What is kept of the host's lines after a line of this side's or a
  // command: the prompt or the error line comes first.
  static constexpr std::size_t kHostLinesLimit = 4096;

private:
  enum class Phase {
    Connecting,  // the connection is being made
    LoggingOn,   // HELLO and passwords
    LoggedOn,    // the logon notice was accepted; the run starts at the next read
    Checking,    // VERSION sent; its answer is judged at the next read
    Running,     // the run is in progress
    LoggingOff,  // BYE sent or to be sent at the next read
    Ending,      // a termination request went out; waiting for the close
    Done,
  };

  // ---- hostinstall.cpp: the session's listener ----
  void Connected() override;
  void PeerNamed(const std::string& name) override;
  void Received() override;
  void HostOutput(nsvt::ConstBytes data, std::uint8_t outputControl) override;
  void ReadRequest() override;
  void LogonNotice(std::string_view text) override;
  void InputStopped() override;
  void Error(int code, const std::string& text, bool socketFailed) override;
  void Closed(bool byHost) override;

  void KeepHostLines(nsvt::ConstBytes data, std::uint8_t outputControl);
  void AnswerLogonRead();
  void AnswerPasswordPrompt();
  void AskVersion();
  void JudgeVersion();
  void StartRun();
  // After every call into the run: acts on the way it ended, if it did.
  void AfterRunCall();
  bool SendOwnLine(const std::string& text, bool masked);
  void BeginLogOff();
  void LogOff();
  void EndSession();
  void CheckSilence();
  void DeadlinePassed();
  void EndWaitExpired();
  // Records how the host's installation ends; the first cause stands,
  // except that a later failure replaces an installation still waiting
  // for the host to log off.
  void Note(Outcome outcome, std::string reason);
  // The outcome of a failure now: before the run started, the host counts
  // as not logged on to (nothing was done on it).
  Outcome FailureNow() const;
  std::string WhileRunning() const;
  void Finish();
  void Postpone();

  // ---- hostinstall_operator.cpp: the run's operator ----
  void Message(const std::string& text) override;
  bool Confirm(const std::string& text) override;
  std::optional<std::string> Input(const std::string& caption, const std::string& prompt,
                                   int variable) override;
  void ReportError(int code, const std::string& text) override;
  void SetConsoleInput(bool on) override { consoleInput_ = on; }
  void EchoLine(std::string_view) override {}
  void EchoBytes(std::span<const std::uint8_t>) override {}
  void SetUiPhase(int) override {}
  void ForgetUiPhase() override {}
  void ShowProgress(const install::TransferProgress& progress) override;
  void SetBeginCaption(const std::string& caption) override { beginCaption_ = caption; }
  void SetIdleTimer(bool) override {}
  void CommandSent(std::string_view command) override;
  void RunEnded(install::RunEnd how) override { runEnd_ = how; }
  // Why a run that ended so failed, in words.
  std::string StopReason() const;
  std::string PauseReason() const;

  const HostPlan plan_;
  const std::string label_;
  const InstallSettings& settings_;
  Reporter& reporter_;
  Finished finished_;
  Postponed postponed_;

  nsvt::Session session_;
  install::Run run_;  // after the session it sends through

  Phase phase_ = Phase::Connecting;
  bool runStarted_ = false;
  std::optional<HostResult> result_;  // noted, reported at Finish
  std::optional<VersionCheck> versions_;
  QElapsedTimer started_;
  QElapsedTimer lastStep_;  // since the session's latest step (a read request, the logon)
  QTimer silenceCheck_;
  QTimer deadline_;
  QTimer endWait_;

  // The logon.
  bool helloSent_ = false;
  std::array<bool, kPasswordKinds> passwordSent_{};
  std::string startRequiredLogon_;

  // The run, as its operator saw it.
  bool consoleInput_ = false;  // the host's read waits for this side's line
  std::optional<install::RunEnd> runEnd_;
  int logOffTries_ = 0;
  std::string hostLines_;  // what the host wrote since this side's latest line or command
  std::string lastMessage_;
  std::string lastMessageHostError_;  // the host's error line when it was shown
  std::string lastMessageCommand_;    // the command that line answered
  std::string refusedConfirmation_;
  bool errorShown_ = false;
  std::string errorReason_;
  std::string beginCaption_;

  // The rate of the transfer under way.
  std::string ratePayload_;
  std::int32_t rateStartBytes_ = 0;
  std::chrono::steady_clock::time_point rateStart_;
};

}  // namespace cli
