// The connection to the host's NS/VT service: Connect, the socket's read,
// error and disconnect events, the framing of the byte stream into
// messages, the dispatcher that answers the host's control messages, and
// the one error report of the program.
//
// Modal boxes run nested event loops, so a handler can be re-entered while
// a message is still being acted on. Bytes that arrive then stay in the
// system's socket buffer (reads are held) and are framed after the current
// message is finished; a connection that is replaced or closed meanwhile
// loses the rest of its bytes rather than having them acted on.
#include "../shell/TNSVT.h"
#include "../shell/text.h"

#include "../shell/dialogs.h"
#include "clientsocket.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kConnectWaitLimit = 30;  // ticks of Timer2 a connection may take
constexpr int kConnectWaitEnded = 31;

// Error codes of the NS/VT events.
constexpr int kErrorNormalEnd = 0;
constexpr int kErrorInvalidPacket = 4003;
constexpr int kErrorTerminationKnown = 4004;
constexpr int kErrorTerminationUnknown = 4005;

const char* const kInvalidPacket = "RECEIVED AN INVALID PACKET";
const char* const kHostTerminated = "Host requested termination: ";
const char* const kHostTerminatedUnknown = "Host requested termination: unknown cause";
const char* const kTerminationOk = "Termination OK";
const char* const kConnectionFailed = "Connection failed";
const char* const kConnectedTo = "  Connected to: ";
const char* const kDisconnected = "Disconnected";

}  // namespace

void TNSVT::btnConnectClick() {
  if (connectWaitActive) {
    return;  // a connection is already being waited for
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  ActionCode = 0;
  AbandonRun();
  if (socket->Connected()) {
    reconnecting = true;
    socket->Close();
    reconnecting = false;
  }
  framer.Clear();
  ++connectionGeneration;
  socket->Open(Host3->text(), static_cast<quint16>(Port3->text().toUInt()));
  ConnectWaitTicks = 0;
  Timer2->start();

  connectWaitActive = true;
  while (!socket->Connected() && ConnectWaitTicks <= kConnectWaitLimit && Timer2->isActive() &&
         !ApplicationEnded) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  connectWaitActive = false;
  Timer2->stop();

  if (socket->Connected()) {
    lblStatus->setText(kConnectedTo + socket->RemoteHost());
    return;  // the busy cursor stays until the host first asks for input
  }
  // The system may still be trying; an attempt given up on here must not
  // report its own failure (or success) minutes later.
  socket->Close();
  while (QApplication::overrideCursor() != nullptr) {
    QApplication::restoreOverrideCursor();
  }
  if (!ApplicationEnded) {
    dialogs().Message(this, kConnectionFailed);
  }
}

void TNSVT::OnRead() {
  IdleTicks = 0;
  if (dispatching) {
    // Framed after the message being handled; until then the bytes wait in
    // the socket.
    readsHeld = true;
    socket->SetReadEnabled(false);
    return;
  }
  const qint64 received = socket->Receive(readBuffer);
  if (received > 0) {
    AcceptBytes(std::span(readBuffer).first(static_cast<std::size_t>(received)));
  }
}

void TNSVT::AcceptBytes(std::span<const std::uint8_t> bytes) {
  const std::uint32_t generation = connectionGeneration;
  while (!bytes.empty()) {
    nsvt::Framer::Result result = nsvt::Framer::Result::NeedMore;
    const std::size_t taken = framer.Accept(bytes, result);
    bytes = bytes.subspan(taken);
    if (result == nsvt::Framer::Result::NeedMore) {
      continue;
    }
    if (result == nsvt::Framer::Result::BadLength) {
      // A length below the header size: the stream has lost its framing and
      // nothing after this point can be trusted. Report it and close the
      // connection; the window stays open for a new Connect. Reads stay
      // held while the report's box is open, so no byte of the broken
      // stream is acted on meanwhile.
      framer.Clear();
      dispatching = true;
      ReportError(kErrorInvalidPacket, kInvalidPacket);
      if (socket->Connected()) {
        reconnecting = true;
        socket->Close();
        reconnecting = false;
      }
      dispatching = false;
      readsHeld = false;
      return;
    }
    scratch.Load(framer.Message());
    framer.Clear();
    dispatching = true;
    DispatchMessage();
    dispatching = false;
    if (readsHeld) {
      readsHeld = false;
      socket->SetReadEnabled(true);
    }
    if (generation != connectionGeneration || !socket->Connected()) {
      return;  // the connection these bytes came from is gone
    }
  }
}

qint64 TNSVT::SocketSend(std::span<const std::uint8_t> bytes) {
  if (!socket->Connected()) {
    return -1;
  }
  return socket->Send(bytes);
}

void TNSVT::DispatchMessage() {
  const nsvt::Bytes message = scratch.Data();
  const std::uint32_t generation = connectionGeneration;
  // Replies are built over the received message and sent at once; their
  // results are not examined.
  const auto reply = [this, message, generation](std::size_t length) {
    if (generation != connectionGeneration) {
      return;  // a box let the operator reconnect meanwhile
    }
    scratch.MarkWritten(length);
    SocketSend(message.first(length));
  };

  if (message[nsvt::kOffVersion] != nsvt::kProtocolVersion) {
    ReportError(kErrorInvalidPacket, kInvalidPacket);
    return;
  }
  EchoWord = {message[nsvt::kOffEchoWord], message[nsvt::kOffEchoWord + 1]};
  if (TraceOn) {
    TraceMark(nsvt::FormatMessageMark(message));
  }

  const std::uint8_t messageClass = message[nsvt::kOffClass];
  const std::uint8_t type = message[nsvt::kOffType];
  switch (messageClass) {
    case nsvt::kClassControlRequest:
      if (type == nsvt::kTypeNegotiation) {
        reply(nsvt::BuildNegotiationReply(message));
        const std::string address = socket->LocalAddress().toStdString();
        reply(nsvt::BuildOpenRequest(message, address));
      } else if (type == nsvt::kTypeTermination) {
        const int reason = nsvt::TerminationReason(message);
        if (reason <= nsvt::kLastKnownTerminationReason) {
          ReportError(kErrorTerminationKnown,
                      kHostTerminated + std::string(nsvt::TerminationReasonText(reason)));
        } else {
          ReportError(kErrorTerminationUnknown, kHostTerminatedUnknown);
        }
        reply(nsvt::BuildTerminationReply(message, EchoWord));
      } else if (type == nsvt::kTypeLogonNotice) {
        HandleLogonNotice(nsvt::LogonNoticeText(message));
        reply(nsvt::BuildLogonNoticeReply(message, EchoWord));
      }
      break;
    case nsvt::kClassControlReply:
      if (type == nsvt::kTypeTermination) {
        ReportError(kErrorNormalEnd, kTerminationOk);
      }
      break;
    case nsvt::kClassTerminalRequest:
      HostReadLength = nsvt::GetBE16(message, nsvt::kOffReadLength);
      HostReadSecond = nsvt::GetBE16(message, nsvt::kOffReadSecond);
      if (type == nsvt::kTypeReadRequest) {
        HandleReadRequest();
      } else if (type == nsvt::kTypeTermIo) {
        ReceiveTermIo(message);
      }
      break;
    case nsvt::kClassTerminalInput:
      if (type == nsvt::kTypeInputStop) {
        SetConsoleInput(false);
      }
      break;
    case nsvt::kClassTerminalControl:
      if (type == nsvt::kTypeSetBreak) {
        reply(nsvt::BuildClass4Type0Reply(message, EchoWord));
      } else if (type == nsvt::kTypeTerminalSettings) {
        if (nsvt::AllBitsSet(message, nsvt::kOffSettingsFlags, nsvt::kSettingsEchoBit)) {
          LocalEcho = message[nsvt::kOffSettingsEcho] != nsvt::kEchoOff;
        }
        reply(nsvt::BuildSettingsReply(message, EchoWord));
      }
      break;
    case nsvt::kClassMpeControl:
      if (type == 0) {
        reply(nsvt::BuildClass8Type0Reply(message, EchoWord));
      }
      break;
    default:
      break;  // classes 5, 6, 7, 9 and above are only traced
  }
}

void TNSVT::HandleReadRequest() {
  if (ActionCode != 0) {
    SetUiPhase(3);
    DialogueStep();
    return;
  }
  SetConsoleInput(true);
  if (LogonAccepted) {
    btnProcess->setEnabled(true);
  }
  SetUiPhase(2);
}

void TNSVT::HandleLogonNotice(std::string_view text) {
  // A label shows the text up to its first zero byte.
  const std::string shown(text.substr(0, text.find('\0')));
  SetLogonLabel(shown);
  if (!RequiredLogon.empty() && shown.find(RequiredLogon) != std::string::npos) {
    LogonAccepted = true;
    return;
  }
  LogonAccepted = false;
  dialogs().Message(this, LogonInstruction());
  SetUiPhase(1);
}

void TNSVT::ReportError(int code, const std::string& text) {
  if (code == kWsaConnectionAborted) {
    lblStatus->setText(kDisconnected);
    return;
  }
  SetUiPhase(0);
  if (UpperAscii(text).find("BLOCK") == std::string::npos) {
    if (code <= 0) {
      lblStatus->setText(Latin1(text));
    } else {
      char head[32];
      std::snprintf(head, sizeof head, "  Network Error: %d, ", code);
      lblStatus->setText(QString::fromLatin1(head) + Latin1(text));
    }
  }
  if (socket->Connected() && code != kErrorNormalEnd && code != kErrorTerminationKnown &&
      code != kWsaConnectionReset) {
    dialogs().Error(this, lblStatus->text().toLatin1().toStdString());
  }
}

void TNSVT::OnError(int code, const QString& text) {
  InErrorHandler = true;
  ActionCode = 0;
  AbandonRun();
  ReportError(code, text.toLatin1().toStdString());
  socket->Close();
  Timer2->stop();
  ConnectWaitTicks = kConnectWaitEnded;
  InErrorHandler = false;
}

void TNSVT::OnDisconnect() {
  // A run still in progress when the host closes the connection (not the
  // log-off that ends a run) did not install anything the operator can rely
  // on: say so before the program ends, and end it with a failure status.
  const bool hostEnded = !InErrorHandler && !reconnecting && !ApplicationEnded;
  const bool cutShort = hostEnded && ActionCode != 0;
  const std::string step = cutShort ? RunStepText() : std::string();
  ActionCode = 0;
  AbandonRun();
  ++connectionGeneration;
  framer.Clear();
  if (!hostEnded) {
    return;
  }
  if (cutShort) {
    ExitStatus = kExitIncomplete;
    dialogs().Error(this, IncompleteInstallationText(step));
  }
  if (!ApplicationEnded) {
    close();  // the host ended the session: the program ends
  }
}
