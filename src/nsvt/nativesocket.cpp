// The platform socket behind TClientSocket: a non-blocking TCP client on the
// system's sockets, watched with QSocketNotifier on the user-interface
// thread. It exists because Qt's own socket reports a reset exactly like a
// normal close; here a receive of zero bytes is a normal close (the
// disconnect event, raised while still connected so a last message can go
// out) and a failed receive is an error with its Windows Sockets code.
// Sends never wait: what the system cannot take at once goes to a backlog
// that a write notifier drains, so one host that stops reading cannot hold
// up the event loop, and with it every other host and the window.
#include "nsvt/clientsocket.h"
#include "nsvt/systemsocket.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cstring>
#include <vector>

namespace {

using nsvt::CloseSocket;
using nsvt::KeepFromChildren;
using nsvt::kNoSocket;
using nsvt::kWsaHostNotFound;
using nsvt::kWsaNoBufferSpace;
using nsvt::kWsaTimedOut;
using nsvt::LastSocketError;
using nsvt::NativeHandle;
using nsvt::ReceiveSome;
using nsvt::SendSome;
using nsvt::SetNonBlocking;
using nsvt::SocketErrorText;
using nsvt::StartSocketLayer;
using nsvt::StopSocketLayer;
using nsvt::ToWsaCode;
using nsvt::WouldBlock;

// A host reads a few hundred bytes of replies at a time; this much waiting
// in the backlog beside the system's own buffers means it has stopped.
constexpr std::size_t kSendBacklogLimit = std::size_t{256} * 1024;
constexpr std::size_t kBytesPerKilobyte = 1024;
// How long a backlog may go without the peer taking a byte, unless the
// owner sets its own limit.
constexpr int kDefaultSendStallMs = 60000;
// The system's send buffer, fixed: what goes to a host is small replies and
// one record or block per read, which a modest buffer carries at full
// speed. Left to grow on its own it holds megabytes per stopped host, out
// of sight of the backlog's bound and stall limit.
constexpr int kSystemSendBuffer = 64 * 1024;
constexpr int kMillisecondsPerSecond = 1000;

class NativeSocket final : public TClientSocket {
public:
  NativeSocket(QObject* parent, HostResolver resolver, nsvt::ReverseResolver reverseResolver)
      : TClientSocket(parent),
        resolver_(std::move(resolver)),
        reverseResolver_(std::move(reverseResolver)) {
    StartSocketLayer();
    stallTimer_.setSingleShot(true);
    stallTimer_.setInterval(kDefaultSendStallMs);
    connect(&stallTimer_, &QTimer::timeout, this, [this] { SendStalled(); });
  }
  ~NativeSocket() override {
    ReleaseHandle();
    StopSocketLayer();
  }

  void Open(const QString& host, quint16 port) override {
    ReleaseHandle();
    state_ = State::LookingUp;
    ++generation_;
    port_ = port;
    readEnabled_ = true;
    remoteHost_.clear();
    localAddress_.clear();
    const quint32 generation = generation_;
    const auto connectIfCurrent = [this, generation](const QHostInfo& info) {
      if (generation == generation_ && state_ == State::LookingUp) {
        ConnectTo(info);
      }
    };
    // A name lookup of an address literal would first look its name up in
    // reverse, which a slow resolver turns into lost connection time; only
    // the peer's name, looked up once connected, needs the resolver.
    const QHostAddress literal(host);
    if (!literal.isNull()) {
      QHostInfo info;
      info.setAddresses({literal});
      // Still asynchronous: the caller starts its wait before any outcome.
      QTimer::singleShot(0, this, [connectIfCurrent, info] { connectIfCurrent(info); });
      return;
    }
    lookupId_ = resolver_(host, this, connectIfCurrent);
  }

  void Close() override {
    if (state_ == State::Closed) {
      return;
    }
    if (state_ == State::Connected) {
      state_ = State::Closing;
      // The stream has ended: a handler that waits in a box must not be
      // woken again and again by a read that has nothing left.
      if (readNotifier_ != nullptr) {
        readNotifier_->setEnabled(false);
      }
      emit OnDisconnect();  // still connected: a last message can go out
      // What the system takes now still reaches the host after the close.
      if (handle_ != kNoSocket && !sendFailed_) {
        WriteSome(PendingSend());
      }
    }
    ReleaseHandle();
  }

  bool Connected() const override { return state_ == State::Connected || state_ == State::Closing; }

  qint64 Send(std::span<const std::uint8_t> bytes) override {
    if (!Connected() || handle_ == kNoSocket || sendFailed_) {
      return -1;
    }
    std::span<const std::uint8_t> rest = bytes;
    if (PendingSend().empty()) {  // order: nothing may overtake the backlog
      const qint64 written = WriteSome(bytes);
      if (written < 0) {
        const int error = LastSocketError();
        FailSend(ToWsaCode(error), SocketErrorText(error));
        return -1;
      }
      rest = bytes.subspan(static_cast<std::size_t>(written));
    }
    if (rest.empty()) {
      return static_cast<qint64>(bytes.size());
    }
    if (PendingSend().size() + rest.size() > kSendBacklogLimit) {
      FailSend(kWsaNoBufferSpace,
               QStringLiteral("No buffer space: the host has taken no data while %1 KB waited")
                   .arg(kSendBacklogLimit / kBytesPerKilobyte));
      return -1;
    }
    backlog_.insert(backlog_.end(), rest.begin(), rest.end());
    StartDraining();
    return static_cast<qint64>(bytes.size());
  }

  qint64 Receive(std::span<std::uint8_t> buffer) override {
    if (state_ != State::Connected || handle_ == kNoSocket) {
      return 0;
    }
    const std::ptrdiff_t n = ReceiveSome(handle_, buffer);
    if (n > 0) {
      return n;
    }
    if (n == 0) {
      peerClosed_ = true;
    } else if (!WouldBlock(LastSocketError())) {
      pendingError_ = LastSocketError();
    }
    return 0;
  }

  QString LocalAddress() const override { return localAddress_; }
  QString RemoteHost() const override { return remoteHost_; }

  void SetReadEnabled(bool enabled) override {
    readEnabled_ = enabled;
    if (readNotifier_ != nullptr) {
      readNotifier_->setEnabled(enabled && state_ == State::Connected);
    }
  }

  void SetPeerLookup(bool on) override { peerLookup_ = on; }

  void SetSendStallLimit(int milliseconds) override { stallTimer_.setInterval(milliseconds); }

  std::size_t PendingBytes() const override { return PendingSend().size(); }

private:
  enum class State { Closed, LookingUp, Connecting, Connected, Closing };

  void ConnectTo(const QHostInfo& info) {
    QHostAddress target;
    for (const QHostAddress& address : info.addresses()) {
      if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        target = address;
        break;
      }
      if (target.isNull()) {
        target = address;
      }
    }
    if (info.error() != QHostInfo::NoError || target.isNull()) {
      Fail(kWsaHostNotFound,
           info.errorString().isEmpty() ? QStringLiteral("Host not found") : info.errorString());
      return;
    }

    sockaddr_storage storage{};
    socklen_t length = 0;
    if (target.protocol() == QAbstractSocket::IPv4Protocol) {
      auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
      v4->sin_family = AF_INET;
      v4->sin_port = htons(port_);
      v4->sin_addr.s_addr = htonl(target.toIPv4Address());
      length = sizeof(sockaddr_in);
    } else {
      auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
      v6->sin6_family = AF_INET6;
      v6->sin6_port = htons(port_);
      const Q_IPV6ADDR raw = target.toIPv6Address();
      std::memcpy(&v6->sin6_addr, raw.c, sizeof raw.c);
      length = sizeof(sockaddr_in6);
    }

    handle_ = ::socket(storage.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (handle_ == kNoSocket || !SetNonBlocking(handle_)) {
      Fail(ToWsaCode(LastSocketError()), SocketErrorText(LastSocketError()));
      return;
    }
    KeepFromChildren(handle_);
    int noDelay = 1;  // one small message per host read: do not hold them back
    ::setsockopt(handle_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);
    ::setsockopt(handle_, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&kSystemSendBuffer),
                 sizeof kSystemSendBuffer);
    state_ = State::Connecting;
    if (::connect(handle_, reinterpret_cast<sockaddr*>(&storage), length) == 0) {
      ConnectionMade();
      return;
    }
    if (!WouldBlock(LastSocketError())) {
      Fail(ToWsaCode(LastSocketError()), SocketErrorText(LastSocketError()));
      return;
    }
    writeNotifier_ =
        new QSocketNotifier(static_cast<qintptr>(handle_), QSocketNotifier::Write, this);
    connect(writeNotifier_, &QSocketNotifier::activated, this, [this] { ConnectFinished(); });
  }

  void ConnectFinished() {
    DropNotifier(writeNotifier_);
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(handle_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
    if (error != 0) {
      Fail(ToWsaCode(error), SocketErrorText(error));
      return;
    }
    ConnectionMade();
  }

  void ConnectionMade() {
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    if (::getsockname(handle_, reinterpret_cast<sockaddr*>(&local), &size) == 0) {
      QHostAddress address(reinterpret_cast<sockaddr*>(&local));
      if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        bool isV4 = false;
        const quint32 v4 = address.toIPv4Address(&isV4);
        if (isV4) {
          address = QHostAddress(v4);
        }
      }
      localAddress_ = address.toString();
    }
    state_ = State::Connected;
    readNotifier_ = new QSocketNotifier(static_cast<qintptr>(handle_), QSocketNotifier::Read, this);
    readNotifier_->setEnabled(readEnabled_);
    connect(readNotifier_, &QSocketNotifier::activated, this, [this] { Readable(); });
    if (peerLookup_) {
      LookUpPeer();
    }
    emit OnConnect();
  }

  // The name comes when it comes; the session runs meanwhile.
  void LookUpPeer() {
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    if (::getpeername(handle_, reinterpret_cast<sockaddr*>(&peer), &size) != 0) {
      return;
    }
    QHostAddress address(reinterpret_cast<sockaddr*>(&peer));
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4) {
      address = QHostAddress(v4);
    }
    const QString peerText = address.toString();
    const quint32 generation = generation_;
    peerLookupTicket_ = nsvt::LookUpPeerName(
        peerText, this,
        [this, generation, peerText](const QString& name) {
          if (generation != generation_ || !Connected() || name.isEmpty() || name == peerText) {
            return;
          }
          remoteHost_ = name;
          emit OnPeerNamed(name);
        },
        reverseResolver_);
  }

  // ---- the send backlog ----

  std::span<const std::uint8_t> PendingSend() const {
    return std::span(backlog_).subspan(backlogTaken_);
  }

  // Writes what the system takes without waiting; the count, or negative
  // on a failure other than a full buffer.
  qint64 WriteSome(std::span<const std::uint8_t> bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
      const auto* data = reinterpret_cast<const char*>(bytes.data() + written);
      const auto left = bytes.size() - written;
      const std::ptrdiff_t n = SendSome(handle_, data, left);
      if (n > 0) {
        written += static_cast<std::size_t>(n);
      } else if (n < 0 && WouldBlock(LastSocketError())) {
        break;
      } else {
        return -1;
      }
    }
    return static_cast<qint64>(written);
  }

  void StartDraining() {
    if (drainNotifier_ == nullptr) {
      drainNotifier_ =
          new QSocketNotifier(static_cast<qintptr>(handle_), QSocketNotifier::Write, this);
      connect(drainNotifier_, &QSocketNotifier::activated, this, [this] { Drain(); });
    }
    drainNotifier_->setEnabled(true);
    if (!stallTimer_.isActive()) {
      stallTimer_.start();
    }
  }

  void Drain() {
    const qint64 written = WriteSome(PendingSend());
    if (written < 0) {
      const int error = LastSocketError();
      RaiseSendError(ToWsaCode(error), SocketErrorText(error));
      return;
    }
    if (written > 0) {
      backlogTaken_ += static_cast<std::size_t>(written);
      stallTimer_.start();  // the host took something: it is not stalled
    }
    if (PendingSend().empty()) {
      backlog_.clear();
      backlogTaken_ = 0;
      drainNotifier_->setEnabled(false);
      stallTimer_.stop();
    } else if (backlogTaken_ > backlog_.size() / 2) {
      backlog_.erase(backlog_.begin(),
                     backlog_.begin() + static_cast<std::ptrdiff_t>(backlogTaken_));
      backlogTaken_ = 0;
    }
  }

  void SendStalled() {
    if (Connected() && !PendingSend().empty()) {
      RaiseSendError(kWsaTimedOut, QStringLiteral("Timed out: the host has taken no data for %1 s")
                                       .arg(stallTimer_.interval() / kMillisecondsPerSecond));
    }
  }

  // A failure found inside Send: reported from the event loop once the
  // caller has returned, so no handler is re-entered from its own send.
  void FailSend(int code, const QString& text) {
    sendFailed_ = true;
    const quint32 generation = generation_;
    QTimer::singleShot(0, this, [this, generation, code, text] {
      if (generation == generation_ && Connected()) {
        RaiseSendError(code, text);
      }
    });
  }

  void RaiseSendError(int code, const QString& text) {
    sendFailed_ = true;
    stallTimer_.stop();
    DropNotifier(drainNotifier_);
    if (readNotifier_ != nullptr) {
      readNotifier_->setEnabled(false);
    }
    emit OnError(code, text);
  }

  void Readable() {
    const quint32 generation = generation_;
    peerClosed_ = false;
    pendingError_ = 0;
    emit OnRead();
    if (generation != generation_ || state_ != State::Connected) {
      return;  // the handler closed or replaced the connection
    }
    if (pendingError_ != 0) {
      const int error = pendingError_;
      pendingError_ = 0;
      if (readNotifier_ != nullptr) {
        readNotifier_->setEnabled(false);
      }
      emit OnError(ToWsaCode(error), SocketErrorText(error));
    } else if (peerClosed_) {
      peerClosed_ = false;
      Close();
    }
  }

  void Fail(int code, const QString& text) {
    ReleaseHandle();
    emit OnError(code, text);
  }

  void DropNotifier(QSocketNotifier*& notifier) {
    if (notifier != nullptr) {
      notifier->setEnabled(false);
      notifier->deleteLater();
      notifier = nullptr;
    }
  }

  void ReleaseHandle() {
    if (lookupId_ >= 0) {
      QHostInfo::abortHostLookup(lookupId_);
      lookupId_ = -1;
    }
    peerLookupTicket_.Cancel();
    DropNotifier(readNotifier_);
    DropNotifier(writeNotifier_);
    DropNotifier(drainNotifier_);
    stallTimer_.stop();
    backlog_.clear();
    backlogTaken_ = 0;
    sendFailed_ = false;
    if (handle_ != kNoSocket) {
      CloseSocket(handle_);
      handle_ = kNoSocket;
    }
    state_ = State::Closed;
    ++generation_;
  }

  HostResolver resolver_;
  nsvt::ReverseResolver reverseResolver_;
  nsvt::LookupTicket peerLookupTicket_;
  bool peerLookup_ = true;
  State state_ = State::Closed;
  NativeHandle handle_ = kNoSocket;
  quint16 port_ = 0;
  quint32 generation_ = 0;
  int lookupId_ = -1;
  bool readEnabled_ = true;
  bool peerClosed_ = false;
  int pendingError_ = 0;
  QString localAddress_;
  QString remoteHost_;
  QSocketNotifier* readNotifier_ = nullptr;
  QSocketNotifier* writeNotifier_ = nullptr;  // the connect's completion
  QSocketNotifier* drainNotifier_ = nullptr;  // room for the backlog
  std::vector<std::uint8_t> backlog_;         // unsent from backlogTaken_ on
  std::size_t backlogTaken_ = 0;
  bool sendFailed_ = false;
  QTimer stallTimer_;
};

}  // namespace

TClientSocket* CreateNativeSocket(QObject* parent, HostResolver resolver,
                                  nsvt::ReverseResolver reverseResolver) {
  if (!resolver) {
    resolver = [](const QString& name, QObject* receiver, HostResolved done) {
      return QHostInfo::lookupHost(name, receiver, std::move(done));
    };
  }
  return new NativeSocket(parent, std::move(resolver), std::move(reverseResolver));
}
