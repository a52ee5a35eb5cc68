// Connect, and what the session reports: the window's side of the
// connection. A read request goes to the run while an installation is in
// progress and to the operator's console otherwise; errors become the one
// error report; a host that closes the connection ends the program.
#include "shell/TNSVT.h"

#include "install/errorreport.h"
#include "install/logonnotice.h"
#include "shell/consoleedit.h"
#include "shell/controls.h"
#include "shell/dialogs.h"
#include "shell/statuslabel.h"
#include "shell/text.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace shell {

namespace {

constexpr int kConnectWaitLimit = 30;  // ticks of Timer2 a connection may take

const char kConnectionFailed[] = "Connection failed";
const char kConnectedTo[] = "  Connected to: ";

}  // namespace

void TNSVT::btnConnectClick() {
  if (connectWaitActive_) {
    return;  // a connection is already being waited for
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  run_.AbandonRun();
  session_.Open(ui_.Host3->text(), static_cast<quint16>(ui_.Port3->text().toUInt()));
  ConnectWaitTicks = 0;
  ui_.Timer2->start();

  connectWaitActive_ = true;
  while (!session_.Connected() && ConnectWaitTicks <= kConnectWaitLimit && ui_.Timer2->isActive() &&
         !applicationEnded_) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  connectWaitActive_ = false;
  ui_.Timer2->stop();

  if (session_.Connected()) {
    SetStatus(kConnectedTo + session_.RemoteHost());
    return;  // the busy cursor stays until the host first asks for input
  }
  // The system may still be trying; an attempt given up on here must not
  // report its own failure (or success) minutes later.
  session_.Close();
  while (QApplication::overrideCursor() != nullptr) {
    QApplication::restoreOverrideCursor();
  }
  if (!applicationEnded_) {
    dialogs_.Message(this, kConnectionFailed);
  }
}

void TNSVT::Connected() {
  // The connection wait notices it on its own.
}

// The name comes from a lookup that runs beside the session; by then the
// status line may tell of something newer, which it must not cover.
void TNSVT::PeerNamed(const std::string& name) {
  if (ui_.lblStatus->text().startsWith(QLatin1String(kConnectedTo))) {
    SetStatus(kConnectedTo + Latin1(name));
  }
}

void TNSVT::Received() {
  IdleTicks = 0;
}

void TNSVT::HostOutput(nsvt::ConstBytes data, std::uint8_t outputControl) {
  const bool shown = run_.consoleEcho();
  if (shown) {
    AppendConsoleBytes(data);
  }
  run_.HostOutput(data);
  if (shown && outputControl != nsvt::kOutputControlNoNewLine) {
    EndConsoleLine();
  }
}

void TNSVT::ReadRequest() {
  HandleReadRequest();
}

void TNSVT::HandleReadRequest() {
  if (run_.InProgress()) {
    SetUiPhase(3);
    run_.DialogueStep();
    return;
  }
  SetConsoleInput(true);
  if (LogonAccepted) {
    ui_.btnProcess->setEnabled(true);
  }
  SetUiPhase(2);
}

void TNSVT::LogonNotice(std::string_view text) {
  HandleLogonNotice(text);
}

void TNSVT::HandleLogonNotice(std::string_view text) {
  SetLogonLabel(std::string(install::ShownLogonNotice(text)));
  if (install::LogonAccepted(text, run_.requiredLogon())) {
    LogonAccepted = true;
    return;
  }
  LogonAccepted = false;
  dialogs_.Message(this, LogonInstruction());
  SetUiPhase(1);
}

void TNSVT::InputStopped() {
  SetConsoleInput(false);
}

void TNSVT::ReportError(int code, const std::string& text) {
  ShowErrorReport(code, text, true);
}

void TNSVT::ShowErrorReport(int code, const std::string& text, bool box) {
  if (install::ErrorActionFor(code) == install::ErrorAction::Disconnected) {
    SetStatus(install::kDisconnectedStatus);
    return;
  }
  SetUiPhase(0);
  if (const std::optional<std::string> line = install::ErrorStatusLine(code, text)) {
    SetStatus(Latin1(*line));
  }
  if (box && session_.Connected() && install::ErrorShowsBox(code)) {
    dialogs_.Error(this, ui_.lblStatus->text().toLatin1().toStdString());
  }
}

void TNSVT::Error(int code, const std::string& text, bool socketFailed) {
  if (!socketFailed) {
    ReportError(code, text);
    return;
  }
  // The socket failed: the run is over, the error reported while the
  // connection still counts as open, and a connection wait ends at once.
  // A run cut short this way is reported as when the host closes the
  // connection, but the window stays for a reconnect.
  const bool cutShort = run_.InProgress();
  const std::string report =
      cutShort ? run_.IncompleteInstallationText("the connection failed (" + std::to_string(code) +
                                                 ", " + text + ")")
               : std::string();
  run_.AbandonRun();
  ShowErrorReport(code, text, !cutShort);
  ui_.Timer2->stop();
  ConnectWaitTicks = kConnectWaitEnded;
  if (cutShort) {
    exitStatus_ = kExitIncomplete;
    dialogs_.Error(this, report);
  }
}

void TNSVT::Closed(bool byHost) {
  // A run still in progress when the host closes the connection (not the
  // log-off that ends a run) did not install anything the operator can rely
  // on: say so before the program ends, and end it with a failure status.
  const bool hostEnded = byHost && !applicationEnded_;
  const bool cutShort = hostEnded && run_.InProgress();
  const std::string report =
      cutShort ? run_.IncompleteInstallationText("the host closed the connection") : std::string();
  run_.AbandonRun();
  if (!hostEnded) {
    return;
  }
  if (cutShort) {
    exitStatus_ = kExitIncomplete;
    dialogs_.Error(this, report);
  }
  if (!applicationEnded_) {
    close();  // the host ended the session: the program ends
  }
}

// A run that took a failure path (an error line, a stop, an error report)
// installed nothing the operator can rely on, even when its script ends it
// with EXIT: the program then ends with the failure status, until a later
// run installs.
void TNSVT::RunEnded(install::RunEnd how) {
  switch (how) {
    case install::RunEnd::Abandoned:
      return;  // the connection's end has set the status
    case install::RunEnd::LoggedOff:
    case install::RunEnd::Stopped:
    case install::RunEnd::Paused:
      if (run_.TookFailurePath()) {
        exitStatus_ = kExitIncomplete;
      } else if (how == install::RunEnd::LoggedOff) {
        exitStatus_ = 0;  // installed
      }
      return;
    case install::RunEnd::PayloadRefused:
    case install::RunEnd::Aborted:
    case install::RunEnd::ScriptError:
      exitStatus_ = kExitIncomplete;
      return;
  }
}

}  // namespace shell
