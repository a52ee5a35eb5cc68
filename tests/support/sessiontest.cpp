#include "sessiontest.h"

#include <QTest>
#include <QTimer>

#ifndef _WIN32
#include <sys/socket.h>
#endif

#include <algorithm>

namespace support {

// ---- CaptureSocket ----

void CaptureSocket::Open(const QString& host, quint16 port) {
  openedHost = host;
  openedPort = port;
  ++opens;
  inbox_.clear();
  taken_ = 0;
  readEnabled_ = true;
  if (refuseWith != 0) {
    const int code = refuseWith;
    QTimer::singleShot(0, this, [this, code] { emit OnError(code, QStringLiteral("refused")); });
    return;
  }
  if (holdOpen) {
    pendingOpen_ = true;
    return;
  }
  connected_ = true;
  emit OnConnect();
}

void CaptureSocket::Close() {
  if (pendingOpen_) {
    pendingOpen_ = false;
    ++cancelledOpens;
  }
  if (!connected_) {
    return;
  }
  ++closes;
  emit OnDisconnect();  // still connected, as the real socket is
  connected_ = false;
  inbox_.clear();
  taken_ = 0;
}

qint64 CaptureSocket::Send(std::span<const std::uint8_t> bytes) {
  if (!connected_ || failSends) {
    if (connected_ && failSendsWith != 0) {
      QTimer::singleShot(0, this, [this, code = failSendsWith] {
        if (connected_) {
          emit OnError(code, QStringLiteral("No buffer space"));
        }
      });
    }
    return -1;
  }
  sent.emplace_back(bytes.begin(), bytes.end());
  return static_cast<qint64>(bytes.size());
}

qint64 CaptureSocket::Receive(std::span<std::uint8_t> buffer) {
  std::size_t n = 0;
  const std::size_t limit = std::min(buffer.size(), chunkSize);
  n = std::min(limit, Pending());
  std::copy_n(inbox_.begin() + static_cast<std::ptrdiff_t>(taken_), n, buffer.begin());
  taken_ += n;
  if (taken_ == inbox_.size()) {
    inbox_.clear();
    taken_ = 0;
  }
  return static_cast<qint64>(n);
}

void CaptureSocket::SetReadEnabled(bool enabled) {
  readEnabled_ = enabled;
  if (enabled && Pending() > 0) {
    // As a socket notifier would: the held bytes are read on the next turn
    // of the event loop.
    QTimer::singleShot(0, this, [this] { Deliver(); });
  }
}

void CaptureSocket::Append(std::span<const std::uint8_t> bytes) {
  inbox_.insert(inbox_.end(), bytes.begin(), bytes.end());
}

void CaptureSocket::Inject(std::span<const std::uint8_t> bytes) {
  Append(bytes);
  Deliver();
}

void CaptureSocket::Arrive(std::span<const std::uint8_t> bytes) {
  Append(bytes);
  if (connected_ && readEnabled_) {
    emit OnRead();
  }
}

void CaptureSocket::Deliver() {
  if (delivering_) {
    return;  // the outer delivery loop takes the new bytes
  }
  delivering_ = true;
  while (connected_ && readEnabled_ && Pending() > 0) {
    const std::size_t before = Pending();
    emit OnRead();
    if (Pending() == before) {
      break;  // the window took nothing (reads are held)
    }
  }
  delivering_ = false;
}

void CaptureSocket::PeerClose() {
  if (!connected_) {
    return;
  }
  emit OnDisconnect();
  connected_ = false;
}

void CaptureSocket::FailPendingOpen(int code) {
  if (pendingOpen_) {
    pendingOpen_ = false;
    emit OnError(code, QStringLiteral("Connection timed out"));
  }
}

void CaptureSocket::NamePeer(const QString& name) {
  remoteHost = name;
  emit OnPeerNamed(name);
}

void CaptureSocket::PeerError(int code) {
  emit OnError(code, QStringLiteral("Connection reset by peer"));
}

// ---- host messages ----

namespace host {

namespace {
void Put16(Bytes& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value >> 8);
  bytes[at + 1] = static_cast<std::uint8_t>(value & 0xFF);
}
}  // namespace

Bytes Message(std::uint8_t messageClass, std::uint8_t type, std::uint16_t classWord,
              const Bytes& body, std::uint16_t echo) {
  Bytes message(10 + body.size(), 0);
  std::copy(body.begin(), body.end(), message.begin() + 10);
  Put16(message, 0, static_cast<std::uint16_t>(message.size()));
  message[2] = 2;
  message[3] = messageClass;
  message[4] = 0x5A;  // unused by the terminal; replies must keep it
  message[5] = type;
  Put16(message, 6, echo);
  Put16(message, 8, classWord);
  return message;
}

Bytes NegotiationRequest(std::uint16_t echo) {
  return Message(0, 1, 0x8000, Bytes(16, 0), echo);
}

Bytes ReadRequest(std::uint16_t length, std::uint16_t second, std::uint16_t echo) {
  Bytes body(4, 0);
  Put16(body, 0, length);
  Put16(body, 2, second);
  return Message(2, 0, 0x8000, body, echo);
}

Bytes TermIo(const std::string& text, std::uint8_t control, std::uint16_t word14,
             std::uint16_t echo) {
  Bytes body(9 + text.size(), 0);
  Put16(body, 0, 80);
  Put16(body, 4, word14);
  Put16(body, 6, static_cast<std::uint16_t>(text.size() + 1));
  body[8] = control;
  std::copy(text.begin(), text.end(), body.begin() + 9);
  return Message(2, 1, 0x8000, body, echo);
}

Bytes LogonNotice(const std::string& text, std::optional<std::uint16_t> length) {
  Bytes body(6 + 80, 0);
  Put16(body, 4, length.value_or(static_cast<std::uint16_t>(text.size())));
  std::copy_n(text.begin(), std::min<std::size_t>(text.size(), 80), body.begin() + 6);
  return Message(0, 3, 0x8000, body);
}

Bytes Termination(std::uint8_t byte10, std::uint8_t byte11, std::uint16_t echo) {
  return Message(0, 2, 0, Bytes{byte10, byte11}, echo);
}

Bytes TerminationReply() {
  return Message(1, 2, 0x8000, {});
}

Bytes Settings(std::uint16_t flags, std::uint8_t echo, std::uint8_t number) {
  return Message(4, 1, flags, Bytes{echo, number});
}

Bytes InputStop() {
  return Message(3, 0, 0x8000, {});
}

Bytes SetBreak() {
  return Message(4, 0, 0x8000, {});
}

Bytes MpeControl() {
  return Message(8, 0, 0x8000, {});
}

bool IsTerminalInput(const Bytes& message) {
  return message.size() >= 14 && message[2] == 2 && message[3] == 3 && message[5] == 0;
}

std::string InputText(const Bytes& message) {
  if (!IsTerminalInput(message)) {
    return {};
  }
  const std::size_t count = (std::size_t{message[12]} << 8) | message[13];
  const std::size_t available = std::min(count, message.size() - 14);
  return std::string(message.begin() + 14, message.begin() + 14 + available);
}

}  // namespace host

// ---- LoopbackHost ----

LoopbackHost::LoopbackHost() {
  server_.listen(QHostAddress::LocalHost, 0);
  connect(&server_, &QTcpServer::newConnection, this, [this] {
    client = server_.nextPendingConnection();
    connect(client, &QTcpSocket::readyRead, this, [this] {
      const QByteArray bytes = client->readAll();
      received.insert(received.end(), bytes.begin(), bytes.end());
    });
  });
}

bool LoopbackHost::WaitForClient(int ms) {
  return QTest::qWaitFor([this] { return client != nullptr; }, ms);
}

void LoopbackHost::Send(const Bytes& bytes) {
  client->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  client->flush();
}

void LoopbackHost::CloseNormally() {
#ifndef _WIN32
  // Half-close: the terminal sees a normal end of the stream, and what it
  // sends last still arrives here.
  ::shutdown(static_cast<int>(client->socketDescriptor()), SHUT_WR);
#else
  client->disconnectFromHost();
#endif
}

void LoopbackHost::Reset() {
#ifndef _WIN32
  // A close with a zero linger time sends a reset instead of a normal end.
  struct linger hard = {1, 0};
  ::setsockopt(static_cast<int>(client->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
               sizeof hard);
#endif
  client->abort();
}

// ---- RecordingListener and SessionRig ----

void RecordingListener::Record(Event event) {
  events.push_back(std::move(event));
  if (onEvent) {
    onEvent(events.back());
  }
}

std::vector<std::string> RecordingListener::Kinds() const {
  std::vector<std::string> kinds;
  for (const Event& event : events) {
    kinds.push_back(event.what);
  }
  return kinds;
}

SessionRig::SessionRig() {
  session = std::make_unique<nsvt::Session>(listener, [this](QObject* parent) {
    socket = new CaptureSocket(parent);
    return socket;
  });
}

}  // namespace support
