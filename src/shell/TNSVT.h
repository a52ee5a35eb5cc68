// TNSVT: the installer's one window. It holds the controls, the console, the
// user-interface phases, the Begin button, the two timers, Exit and closing.
// It owns one NS/VT Session (the connection to the host) and one
// installation Run, and wires them together: it is the session's listener
// and the run's operator. Nothing of the protocol or the script lives here.
//
// Its handlers are split by concern:
//   tnsvt_form.cpp        controls, start-up, phases, timers, Exit, closing
//   tnsvt_connection.cpp  Connect and what the session reports
//   tnsvt_console.cpp     the console
//   tnsvt_begin.cpp       Begin and the group and account fields
//   tnsvt_operator.cpp    what the run shows and asks
#pragma once

#include "install/operator.h"
#include "install/run.h"
#include "nsvt/session.h"
#include "shell/controls.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace shell {

class Dialogs;

class TNSVT final : public QMainWindow, private nsvt::SessionListener, private install::Operator {
  Q_OBJECT
public:
  // What the window needs from the platform; tests replace every part.
  struct Platform {
    Dialogs* dialogs = nullptr;                                // required
    nsvt::Session::SocketFactory makeSocket;                   // default: native socket
    std::function<Qt::KeyboardModifiers()> keyboardModifiers;  // default: Qt's current
    QStringList arguments;  // command-line arguments after the program name
    // String-table lookup; default LoadTableString. Tests put their own
    // settings and scripts here.
    std::function<std::string(int id)> tableString;
  };

  explicit TNSVT(Platform platform, QWidget* parent = nullptr);
  ~TNSVT() override;

  // ---- What tests and the program's start observe ----
  const TNSVTControls& ui() const { return ui_; }
  const nsvt::Session& session() const { return session_; }
  const install::Run& run() const { return run_; }
  std::uint8_t uiPhase() const { return UiPhase; }
  bool logonAccepted() const { return LogonAccepted; }
  std::int32_t connectWaitTicks() const { return ConnectWaitTicks; }
  bool applicationEnded() const { return applicationEnded_; }
  int exitStatus() const { return exitStatus_; }
  std::string LogonInstruction() const;

  // ---- Handlers, public so tests can raise them as the controls do ----
  void btnConnectClick();
  void btnProcessClick();
  void btnExitClick();
  void Memo1KeyPress(std::uint8_t c);
  void Timer1Timer();
  void Timer2Timer();
  void FormClose();
  // SetUiPhase and ReportError serve the run as well as the window.
  void SetUiPhase(int phase) override;
  void ReportError(int code, const std::string& text) override;

  // The exit status after an installation was cut short or failed.
  static constexpr int kExitIncomplete = 1;
  // The console keeps at most this many lines, and this many characters
  // besides, so a host that never ends a line cannot grow it without bound.
  static constexpr int kConsoleLineLimit = 20;
  static constexpr int kConsoleCharLimit = 64 * 1024;

signals:
  // The program should end (Exit, closing, the host closing the connection),
  // with this exit status.
  void ApplicationEnd(int status);

protected:
  void closeEvent(QCloseEvent* event) override;
  // Keys that arrive while the console's input is off and it had the focus
  // reach no control: not Tab, not a mnemonic, not a typed-ahead letter.
  bool event(QEvent* event) override;
  // Escape, unless a control used it, is the window's cancel key.
  void keyPressEvent(QKeyEvent* event) override;

private:
  // ---- tnsvt_form.cpp ----
  void BuildControls();
  void DescribeForAssistiveTechnology();
  void FitFonts();
  void FitActionFont(const QString& also);
  void SetUpGroupAccountRow();
  void SetLogonLabel(const std::string& text);
  void ShowAction(const std::string& text);
  void SetStatus(const QString& text);
  void EndApplication();
  void LetEventsRun();

  // ---- tnsvt_connection.cpp: the session's listener ----
  void Connected() override;
  void PeerNamed(const std::string& name) override;
  void Received() override;
  void HostOutput(nsvt::ConstBytes data, std::uint8_t outputControl) override;
  void ReadRequest() override;
  void LogonNotice(std::string_view text) override;
  void InputStopped() override;
  void Error(int code, const std::string& text, bool socketFailed) override;
  void Closed(bool byHost) override;
  // The error report, with or without its box.
  void ShowErrorReport(int code, const std::string& text, bool box);
  void HandleReadRequest();
  void HandleLogonNotice(std::string_view text);

  // ---- tnsvt_console.cpp ----
  void Memo1Change();
  void AppendConsoleBytes(std::span<const std::uint8_t> bytes);  // up to the first NUL
  void EndConsoleLine();  // CR LF unless the last line is empty
  void InsertConsoleBreak();
  void InsertConsoleText(std::string_view text);

  // ---- tnsvt_begin.cpp ----
  void DefaultGroupChange();
  void DefaultAccountChange();

  // ---- tnsvt_operator.cpp: what the run shows and asks ----
  void Message(const std::string& text) override;
  bool Confirm(const std::string& text) override;
  std::optional<std::string> Input(const std::string& caption, const std::string& prompt,
                                   int variable) override;
  void SetConsoleInput(bool on) override;
  void EchoLine(std::string_view echo) override;
  void EchoBytes(std::span<const std::uint8_t> bytes) override;
  void ForgetUiPhase() override;
  void ShowProgress(const install::TransferProgress& progress) override;
  void SetBeginCaption(const std::string& caption) override;
  void SetIdleTimer(bool running) override;
  void RunEnded(install::RunEnd how) override;
  // Progress is shown at most ten times a second and no faster than the
  // screen refreshes: the latest values wait for the next showing, and
  // anything that writes the status line itself first puts them on screen.
  void FlushProgress();
  int FrameMilliseconds() const;

  std::string TableString(int id) const;
  // The modifier keys held now, as the platform reports them.
  Qt::KeyboardModifiers CurrentModifiers() const;

  Platform platform_;
  Dialogs& dialogs_;
  TNSVTControls ui_;
  nsvt::Session session_;
  install::Run run_;

  // ---- shell state ----
  std::uint8_t UiPhase = 0;
  bool LogonAccepted = false;
  std::string logonLabel_;    // what lblLogonString shows, kept for the phase checks
  std::string hintConnect_;   // entry 1020
  std::string logonHead_;     // entry 1030
  std::string logonTail_;     // entry 1031
  std::string hintAtPrompt_;  // entry 1040
  std::string shownAction_;   // what lblAction shows, so unchanged hints cost nothing
  std::int32_t IdleTicks = 0;
  std::int32_t ConnectWaitTicks = 0;
  // ConnectWaitTicks once no connection is awaited any more: past the 30
  // ticks a connection may take.
  static constexpr std::int32_t kConnectWaitEnded = 31;
  bool ExitInProgress = false;
  bool connectWaitActive_ = false;  // btnConnectClick is waiting for the connection
  bool applicationEnded_ = false;   // the program has been told to end
  int exitStatus_ = 0;
  // What the group and account fields showed at start; a No to the
  // confirmation puts them back.
  QString startGroupText_;
  QString startAccountText_;

  // ---- the console ----
  std::string ConsoleLine;
  bool trimmingConsole_ = false;
  bool consoleCrPending_ = false;  // output ended in a CR whose LF may follow
  bool consoleKeysHeld_ = false;   // input went off in the focused console

  // ---- progress waiting for the next frame ----
  struct PendingProgress {
    QString status;
    int filePercent = 0;
    int overallPercent = 0;
  };
  std::optional<PendingProgress> pendingProgress_;
  QTimer frameTimer_;
  QElapsedTimer sinceProgressShown_;
};

}  // namespace shell
