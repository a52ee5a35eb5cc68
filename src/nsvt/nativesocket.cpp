// The platform socket behind TClientSocket: a non-blocking TCP client on the
// system's sockets, watched with QSocketNotifier on the user-interface
// thread. It exists because Qt's own socket reports a reset exactly like a
// normal close; here a receive of zero bytes is a normal close (the
// disconnect event, raised while still connected so a last message can go
// out) and a failed receive is an error with its Windows Sockets code.
#include "nsvt/clientsocket.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using NativeHandle = SOCKET;
constexpr NativeHandle kNoSocket = INVALID_SOCKET;
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
using NativeHandle = int;
constexpr NativeHandle kNoSocket = -1;
#endif

namespace {

using nsvt::kWsaConnectionAborted;
using nsvt::kWsaConnectionRefused;
using nsvt::kWsaConnectionReset;
using nsvt::kWsaHostNotFound;
using nsvt::kWsaHostUnreachable;
using nsvt::kWsaNetworkUnreachable;
using nsvt::kWsaTimedOut;

// A send waits at most this long for room in the system's buffer.
constexpr int kSendWaitMs = 30000;
// The peer's name is looked up before the connection is reported; a
// resolver that does not answer in time leaves the name empty.
constexpr int kReverseLookupWaitMs = 3000;

int LastError() {
#ifdef _WIN32
  return WSAGetLastError();
#else
  return errno;
#endif
}

bool WouldBlock(int error) {
#ifdef _WIN32
  return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
#else
  return error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS;
#endif
}

// The Windows Sockets code for a system error (on Windows they are the same).
int ToWsaCode(int error) {
#ifdef _WIN32
  return error;
#else
  switch (error) {
    case ECONNREFUSED:
      return kWsaConnectionRefused;
    case ETIMEDOUT:
      return kWsaTimedOut;
    case ECONNRESET:
    case EPIPE:
      return kWsaConnectionReset;
    case ECONNABORTED:
      return kWsaConnectionAborted;
    case EHOSTUNREACH:
      return kWsaHostUnreachable;
    case ENETUNREACH:
      return kWsaNetworkUnreachable;
    case ENETDOWN:
      return 10050;
    case ENETRESET:
      return 10052;
    case EADDRNOTAVAIL:
      return 10049;
    case EADDRINUSE:
      return 10048;
    case ENOTCONN:
      return 10057;
    case EACCES:
      return 10013;
    case ENOBUFS:
      return 10055;
    default:
      return 10000 + error;  // no Windows Sockets equivalent
  }
#endif
}

QString ErrorText(int error) {
#ifdef _WIN32
  wchar_t* text = nullptr;
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  QString result = text ? QString::fromWCharArray(text).trimmed() : QString();
  LocalFree(text);
  return result;
#else
  return QString::fromLocal8Bit(std::strerror(error));
#endif
}

void CloseHandle(NativeHandle handle) {
#ifdef _WIN32
  closesocket(handle);
#else
  ::close(handle);
#endif
}

bool SetNonBlocking(NativeHandle handle) {
#ifdef _WIN32
  u_long on = 1;
  return ioctlsocket(handle, FIONBIO, &on) == 0;
#else
  const int flags = fcntl(handle, F_GETFL, 0);
  return flags >= 0 && fcntl(handle, F_SETFL, flags | O_NONBLOCK) == 0;
#endif
}

class NativeSocket final : public TClientSocket {
public:
  NativeSocket(QObject* parent, HostResolver resolver)
      : TClientSocket(parent), resolver_(std::move(resolver)) {
#ifdef _WIN32
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
#endif
  }
  ~NativeSocket() override {
    ReleaseHandle();
#ifdef _WIN32
    WSACleanup();
#endif
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
    }
    ReleaseHandle();
  }

  bool Connected() const override {
    return state_ == State::Connected || state_ == State::Closing;
  }

  qint64 Send(std::span<const std::uint8_t> bytes) override {
    if (!Connected() || handle_ == kNoSocket) {
      return -1;
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
      const auto* data = reinterpret_cast<const char*>(bytes.data() + written);
      const auto left = bytes.size() - written;
#ifdef _WIN32
      const int n = ::send(handle_, data, static_cast<int>(left), 0);
#else
      const ssize_t n = ::send(handle_, data, left, MSG_NOSIGNAL);
#endif
      if (n > 0) {
        written += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && WouldBlock(LastError()) && WaitWritable()) {
        continue;
      }
      return -1;
    }
    return static_cast<qint64>(written);
  }

  qint64 Receive(std::span<std::uint8_t> buffer) override {
    if (state_ != State::Connected || handle_ == kNoSocket) {
      return 0;
    }
#ifdef _WIN32
    const int n =
        ::recv(handle_, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
#else
    const ssize_t n = ::recv(handle_, buffer.data(), buffer.size(), MSG_DONTWAIT);
#endif
    if (n > 0) {
      return n;
    }
    if (n == 0) {
      peerClosed_ = true;
    } else if (!WouldBlock(LastError())) {
      pendingError_ = LastError();
    }
    return 0;
  }

  QString LocalAddress() const override {
    return localAddress_;
  }
  QString RemoteHost() const override {
    return remoteHost_;
  }

  void SetReadEnabled(bool enabled) override {
    readEnabled_ = enabled;
    if (readNotifier_ != nullptr) {
      readNotifier_->setEnabled(enabled && state_ == State::Connected);
    }
  }

private:
  enum class State { Closed, LookingUp, Connecting, ResolvingPeer, Connected, Closing };

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
      Fail(ToWsaCode(LastError()), ErrorText(LastError()));
      return;
    }
#ifndef _WIN32
    fcntl(handle_, F_SETFD, FD_CLOEXEC);
#endif
    int noDelay = 1;  // one small message per host read: do not hold them back
    ::setsockopt(handle_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);
    state_ = State::Connecting;
    if (::connect(handle_, reinterpret_cast<sockaddr*>(&storage), length) == 0) {
      ConnectionMade();
      return;
    }
    if (!WouldBlock(LastError())) {
      Fail(ToWsaCode(LastError()), ErrorText(LastError()));
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
      Fail(ToWsaCode(error), ErrorText(error));
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
    sockaddr_storage peer{};
    size = sizeof peer;
    QString peerText;
    if (::getpeername(handle_, reinterpret_cast<sockaddr*>(&peer), &size) == 0) {
      peerText = QHostAddress(reinterpret_cast<sockaddr*>(&peer)).toString();
    }
    state_ = State::ResolvingPeer;
    const quint32 generation = generation_;
    auto finish = [this, generation, peerText](const QString& name) {
      if (generation != generation_ || state_ != State::ResolvingPeer) {
        return;
      }
      remoteHost_ = (name == peerText) ? QString() : name;  // no name: empty
      Established();
    };
    QTimer::singleShot(kReverseLookupWaitMs, this, [finish] { finish(QString()); });
    lookupId_ = resolver_(peerText, this, [finish](const QHostInfo& info) {
      finish(info.error() == QHostInfo::NoError ? info.hostName() : QString());
    });
  }

  void Established() {
    state_ = State::Connected;
    readNotifier_ = new QSocketNotifier(static_cast<qintptr>(handle_), QSocketNotifier::Read, this);
    readNotifier_->setEnabled(readEnabled_);
    connect(readNotifier_, &QSocketNotifier::activated, this, [this] { Readable(); });
    emit OnConnect();
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
      emit OnError(ToWsaCode(error), ErrorText(error));
    } else if (peerClosed_) {
      peerClosed_ = false;
      Close();
    }
  }

  void Fail(int code, const QString& text) {
    ReleaseHandle();
    emit OnError(code, text);
  }

  bool WaitWritable() {
#ifdef _WIN32
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(handle_, &writable);
    timeval wait{kSendWaitMs / 1000, 0};
    return ::select(0, nullptr, &writable, nullptr, &wait) > 0;
#else
    pollfd entry{handle_, POLLOUT, 0};
    return ::poll(&entry, 1, kSendWaitMs) > 0 && (entry.revents & POLLOUT) != 0;
#endif
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
    DropNotifier(readNotifier_);
    DropNotifier(writeNotifier_);
    if (handle_ != kNoSocket) {
      CloseHandle(handle_);
      handle_ = kNoSocket;
    }
    state_ = State::Closed;
    ++generation_;
  }

  HostResolver resolver_;
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
  QSocketNotifier* writeNotifier_ = nullptr;
};

}  // namespace

TClientSocket* CreateNativeSocket(QObject* parent, HostResolver resolver) {
  if (!resolver) {
    resolver = [](const QString& name, QObject* receiver, HostResolved done) {
      return QHostInfo::lookupHost(name, receiver, std::move(done));
    };
  }
  return new NativeSocket(parent, std::move(resolver));
}
