// The receive path (framing, dispatch, the replies to the host's control
// messages), terminal data in both directions, and the trace writes.
#include "nsvt/session.h"

#include "nsvt/eventcodes.h"
#include "nsvt/socketerrors.h"

#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace nsvt {

namespace {

const char kInvalidPacket[] = "RECEIVED AN INVALID PACKET";
const char kHostTerminated[] = "Host requested termination: ";
const char kHostTerminatedUnknown[] = "Host requested termination: unknown cause";
const char kTerminationOk[] = "Termination OK";

constexpr std::uint8_t kTypeMpeRequest = 0;     // class 8
constexpr std::size_t kTermIoDumpLimit = 2048;  // bytes of host output dumped per message
// What the trace shows for a password: the same for every one, whatever
// its length.
const char kPasswordMask[] = "********";

}  // namespace

Session::Session(SessionListener& listener, const SocketFactory& makeSocket, QObject* parent)
    : QObject(parent), listener_(listener) {
  socket_ = makeSocket ? makeSocket(this) : CreateNativeSocket(this);
  connect(socket_, &TClientSocket::OnConnect, this, [this] { listener_.Connected(); });
  connect(socket_, &TClientSocket::OnPeerNamed, this,
          [this](const QString& name) { listener_.PeerNamed(name.toStdString()); });
  connect(socket_, &TClientSocket::OnRead, this, &Session::OnRead);
  connect(socket_, &TClientSocket::OnError, this, &Session::OnSocketError);
  connect(socket_, &TClientSocket::OnDisconnect, this, &Session::OnDisconnect);
}

Session::~Session() {
  // The socket is a child and goes with the session; none of its events may
  // reach a half-destroyed one.
  socket_->disconnect(this);
}

void Session::Open(const QString& host, quint16 port) {
  CloseOurselves();
  framer_.Clear();
  ++connectionGeneration_;
  socket_->Open(host, port);
}

void Session::Close() {
  CloseOurselves();
}

void Session::CloseOurselves() {
  if (!socket_->Connected()) {
    socket_->Close();  // gives up a lookup or connect still pending
    return;
  }
  closingOurselves_ = true;
  socket_->Close();
  closingOurselves_ = false;
}

bool Session::Connected() const {
  return socket_->Connected();
}

QString Session::RemoteHost() const {
  return socket_->RemoteHost();
}

void Session::SetPeerLookup(bool on) {
  socket_->SetPeerLookup(on);
}

void Session::SetSendStallLimit(int milliseconds) {
  socket_->SetSendStallLimit(milliseconds);
}

// ---- receive path ----

void Session::OnRead() {
  listener_.Received();
  if (dispatching_) {
    // Framed after the message being handled; until then the bytes wait in
    // the socket.
    readsHeld_ = true;
    socket_->SetReadEnabled(false);
    return;
  }
  const qint64 received = socket_->Receive(readBuffer_);
  if (received > 0) {
    AcceptBytes(std::span(readBuffer_).first(static_cast<std::size_t>(received)));
  }
}

void Session::AcceptBytes(ConstBytes bytes) {
  const std::uint32_t generation = connectionGeneration_;
  while (!bytes.empty()) {
    Framer::Result result = Framer::Result::NeedMore;
    const std::size_t taken = framer_.Accept(bytes, result);
    bytes = bytes.subspan(taken);
    if (result == Framer::Result::NeedMore) {
      continue;
    }
    dispatching_ = true;
    if (result == Framer::Result::BadLength) {
      // A length below the header size: the stream has lost its framing and
      // nothing after this point can be trusted. Report it (reads held, so
      // no byte of the broken stream is acted on while a box is open) and
      // close the connection.
      framer_.Clear();
      listener_.Error(kErrorInvalidPacket, kInvalidPacket, false);
      CloseOurselves();
      dispatching_ = false;
      readsHeld_ = false;
      return;
    }
    scratch_.Load(framer_.Message());
    framer_.Clear();
    DispatchMessage();
    dispatching_ = false;
    if (readsHeld_) {
      readsHeld_ = false;
      socket_->SetReadEnabled(true);
    }
    if (generation != connectionGeneration_ || !socket_->Connected()) {
      return;  // the connection these bytes came from is gone
    }
  }
}

void Session::DispatchMessage() {
  const Bytes message = scratch_.Data();
  const std::uint32_t generation = connectionGeneration_;
  // Replies are built over the received message and sent at once; one that
  // cannot be written ends the connection (SocketSend).
  const auto reply = [this, message, generation](std::size_t length) {
    if (generation != connectionGeneration_) {
      return;  // a box let the operator reconnect meanwhile
    }
    scratch_.MarkWritten(length);
    SocketSend(message.first(length));
  };

  if (message[kOffVersion] != kProtocolVersion) {
    listener_.Error(kErrorInvalidPacket, kInvalidPacket, false);
    return;
  }
  EchoWord_ = {message[kOffEchoWord], message[kOffEchoWord + 1]};
  if (TraceOn_) {
    TraceMark(FormatMessageMark(message));
  }

  const std::uint8_t messageClass = message[kOffClass];
  const std::uint8_t type = message[kOffType];
  switch (messageClass) {
    case kClassControlRequest:
      if (type == kTypeNegotiation) {
        reply(BuildNegotiationReply(message));
        const std::string address = socket_->LocalAddress().toStdString();
        reply(BuildOpenRequest(message, address));
      } else if (type == kTypeTermination) {
        const int reason = TerminationReason(message);
        if (reason <= kLastKnownTerminationReason) {
          listener_.Error(kErrorTerminationKnown,
                          kHostTerminated + std::string(TerminationReasonText(reason)), false);
        } else {
          listener_.Error(kErrorTerminationUnknown, kHostTerminatedUnknown, false);
        }
        reply(BuildTerminationReply(message, EchoWord_));
      } else if (type == kTypeLogonNotice) {
        listener_.LogonNotice(LogonNoticeText(message));
        reply(BuildLogonNoticeReply(message, EchoWord_));
      }
      break;
    case kClassControlReply:
      if (type == kTypeTermination) {
        listener_.Error(kErrorNormalEnd, kTerminationOk, false);
      }
      break;
    case kClassTerminalRequest:
      HostReadLength_ = GetBE16(message, kOffReadLength);
      hostReadSecond_ = GetBE16(message, kOffReadSecond);
      if (type == kTypeReadRequest) {
        listener_.ReadRequest();
      } else if (type == kTypeTermIo) {
        ReceiveTermIo(message);
      }
      break;
    case kClassTerminalInput:
      if (type == kTypeInputStop) {
        listener_.InputStopped();
      }
      break;
    case kClassTerminalControl:
      if (type == kTypeSetBreak) {
        reply(BuildClass4Type0Reply(message, EchoWord_));
      } else if (type == kTypeTerminalSettings) {
        if (AllBitsSet(message, kOffSettingsFlags, kSettingsEchoBit)) {
          LocalEcho_ = message[kOffSettingsEcho] != kEchoOff;
        }
        reply(BuildSettingsReply(message, EchoWord_));
      }
      break;
    case kClassMpeControl:
      if (type == kTypeMpeRequest) {
        reply(BuildClass8Type0Reply(message, EchoWord_));
      }
      break;
    default:
      break;  // classes 5, 6, 7, 9 and above are only traced
  }
}

void Session::OnSocketError(int code, const QString& text) {
  InErrorHandler = true;
  listener_.Error(code, text.toLatin1().toStdString(), true);
  socket_->Close();
  InErrorHandler = false;
}

void Session::OnDisconnect() {
  ++connectionGeneration_;
  framer_.Clear();
  listener_.Closed(!InErrorHandler && !closingOurselves_);
}

qint64 Session::SocketSend(ConstBytes bytes) {
  if (!socket_->Connected()) {
    return -1;
  }
  const qint64 sent = socket_->Send(bytes);
  if (sent < 0) {
    EndAfterFailedSend();
  }
  return sent;
}

void Session::EndAfterFailedSend() {
  // Queued behind the socket's own report, which names the cause; this one
  // only acts for a socket that gave none.
  const std::uint32_t generation = connectionGeneration_;
  QTimer::singleShot(0, this, [this, generation] {
    if (generation == connectionGeneration_ && socket_->Connected()) {
      OnSocketError(kWsaConnectionAborted, QStringLiteral("Data for the host could not be sent"));
    }
  });
}

void Session::SendTerminationRequest() {
  std::array<std::uint8_t, kShortMessageSize> request{};
  const std::size_t length = BuildTerminationRequest(request, EchoWord_);
  SocketSend(std::span(request).first(length));
}

// ---- terminal data ----

void Session::ReceiveTermIo(ConstBytes message) {
  const ConstBytes data = TermIoData(message);
  if (TraceOn_) {
    if (GetBE16(message, kOffTermIoCount) == 0) {
      TraceLine(" {}");
    } else {
      char line[64];
      std::snprintf(line, sizeof line, " TERM_IO from host [%5d] [%.4X]",
                    static_cast<int>(data.size()),
                    static_cast<unsigned>(GetBE16(message, kOffTermIoWord)));
      TraceLine(line);
      TraceHexDump(data.first(std::min(data.size(), kTermIoDumpLimit)));
    }
  }
  listener_.HostOutput(data, message[kOffOutputControl]);
}

bool Session::SendLine(std::string_view text) {
  return SendLine(text, false);
}

bool Session::SendLine(std::string_view text, bool maskInTrace) {
  std::size_t n = text.size();
  if (n > kMaxTerminalData) {
    return false;
  }
  if (HostReadLength_ != 0 && static_cast<std::size_t>(HostReadLength_) < n) {
    n = static_cast<std::size_t>(HostReadLength_);
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const std::size_t length = BuildTerminalInput(sendBuffer_, EchoWord_, std::span(bytes, n));
  const bool sent = SocketSend(std::span(sendBuffer_).first(length)) >= 0;
  if (TraceOn_) {
    // The line with the blank its echo ends in.
    TraceLine(" [" + (maskInTrace ? std::string(kPasswordMask) : std::string(text)) + " ]");
  }
  return sent;
}

bool Session::SendArray(ConstBytes bytes) {
  if (bytes.size() > kMaxTerminalData) {
    return false;
  }
  std::size_t n = bytes.size();
  if (HostReadLength_ != 0 && static_cast<std::size_t>(HostReadLength_) < n) {
    n = static_cast<std::size_t>(HostReadLength_);
  }
  const std::size_t length = BuildTerminalInput(sendBuffer_, EchoWord_, bytes.first(n));
  const bool sent = SocketSend(std::span(sendBuffer_).first(length)) >= 0;
  if (TraceOn_) {
    TraceLine(" SendArray [" + std::to_string(bytes.size()) + "]");
    TraceHexDump(bytes);
  }
  return sent;
}

bool Session::blk_out(std::span<std::uint8_t, kBlockSize> block) {
  CompleteBlock(block);
  const std::size_t length = BuildTerminalInput(sendBuffer_, EchoWord_, block);
  const bool sent = SocketSend(std::span(sendBuffer_).first(length)) >= 0;
  if (TraceOn_) {
    TraceLine(" blk_out [" + std::to_string(kBlockSize) + "]");
    TraceHexDump(block);
  }
  return sent;
}

bool Session::SendUncut(ConstBytes bytes) {
  if (bytes.size() > kMaxTerminalData) {
    return false;
  }
  const std::size_t length = BuildTerminalInput(sendBuffer_, EchoWord_, bytes);
  return SocketSend(std::span(sendBuffer_).first(length)) >= 0;
}

// ---- trace ----

std::string Session::OpenTrace(const std::string& path) {
  TraceOn_ = true;
  return trace_.Open(path);
}

void Session::TraceMark(std::string_view text) {
  trace_.TraceMark(text);
}

void Session::TraceLine(std::string_view text) {
  trace_.TraceLine(text);
}

void Session::TraceHexDump(ConstBytes bytes) {
  trace_.TraceHexDump(bytes);
}

}  // namespace nsvt
