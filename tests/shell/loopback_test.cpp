// The window on the platform socket against a real host on 127.0.0.1: a
// normal close must end the program with the termination request still
// sent, a reset must leave the window open, a refused port must fail, and
// the peer's name must never hold the session up. The platform socket's
// sends against a host that stops reading, reads one byte at a time, or
// resets in the middle of them.
#include "reservedport.h"
#include "windowrig.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <condition_variable>
#include <mutex>

#ifndef _WIN32
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

using shell::TNSVT;
using support::Bytes;
using support::LoopbackHost;
using support::RecordingDialogs;
using support::ReservedPort;
namespace host = support::host;
using Kind = RecordingDialogs::Kind;

namespace {

struct NativeRig {
  RecordingDialogs dialogs;
  std::unique_ptr<TNSVT> window;
  bool ended = false;

  explicit NativeRig(nsvt::ReverseResolver reverseResolver = {}) {
    TNSVT::Platform platform;
    platform.dialogs = &dialogs;
    if (reverseResolver) {
      platform.makeSocket = [reverseResolver](QObject* parent) {
        return CreateNativeSocket(parent, {}, reverseResolver);
      };
    }
    window = std::make_unique<TNSVT>(std::move(platform));
    QObject::connect(window.get(), &TNSVT::ApplicationEnd, [this] { ended = true; });
    window->show();
  }

  void Connect(quint16 port) {
    window->ui().Host3->setText("127.0.0.1");
    window->ui().Port3->setText(QString::number(port));
    QTest::mouseClick(window->ui().btnConnect, Qt::LeftButton);
  }

  std::string Status() const { return window->ui().lblStatus->text().toLatin1().toStdString(); }
};

// The messages in a received byte stream, by their length fields.
std::vector<Bytes> Split(const Bytes& stream) {
  std::vector<Bytes> messages;
  std::size_t at = 0;
  while (at + 2 <= stream.size()) {
    const std::size_t length = (std::size_t{stream[at]} << 8) | stream[at + 1];
    if (length < 10 || at + length > stream.size()) {
      break;
    }
    messages.emplace_back(stream.begin() + at, stream.begin() + at + length);
    at += length;
  }
  return messages;
}

// A reverse resolver that answers only once released: while the test holds
// it, it is one that never answers.
class HeldResolver {
public:
  HeldResolver() : state_(std::make_shared<State>()) {}
  ~HeldResolver() { Release(); }
  HeldResolver(const HeldResolver&) = delete;
  HeldResolver& operator=(const HeldResolver&) = delete;

  nsvt::ReverseResolver Answering(const QString& name) const {
    return [state = state_, name](const QString&) {
      std::unique_lock lock(state->mutex);
      state->changed.wait(lock, [&state] { return state->released; });
      return name;
    };
  }
  void Release() {
    const std::lock_guard lock(state_->mutex);
    state_->released = true;
    state_->changed.notify_all();
  }

private:
  // Shared with the lookup's worker thread, which may outlive the test.
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
  };
  std::shared_ptr<State> state_;
};

#ifndef _WIN32
constexpr int kSmallReceiveBuffer = 4096;  // so that sends back up soon
constexpr std::size_t kChunk = 4096;
constexpr std::size_t kBacklogBound = 256 * 1024;
constexpr std::size_t kSendLimit = 64 * 1024 * 1024;  // a backlog that never fills: a fault
constexpr int kStallMs = 300;

// A host on 127.0.0.1 on the system's sockets, so that the test decides
// when it reads and how much.
class RawPeer {
public:
  RawPeer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    // Inherited by the accepted connection, and set before its handshake.
    ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &kSmallReceiveBuffer,
                 sizeof kSmallReceiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::listen(listener_, 1) == 0 &&
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
      port_ = ntohs(address.sin_port);
    }
    ::fcntl(listener_, F_SETFL, O_NONBLOCK);
  }
  ~RawPeer() {
    if (connection_ >= 0) {
      ::close(connection_);
    }
    ::close(listener_);
  }
  RawPeer(const RawPeer&) = delete;
  RawPeer& operator=(const RawPeer&) = delete;

  quint16 port() const { return port_; }
  bool Accept() {
    if (!QTest::qWaitFor(
            [this] { return (connection_ = ::accept(listener_, nullptr, nullptr)) >= 0; })) {
      return false;
    }
    ::fcntl(connection_, F_SETFL, O_NONBLOCK);
    return true;
  }
  // Takes what has arrived, one byte a call, at most limit bytes.
  void ReadByteByByte(Bytes& into, std::size_t limit) {
    std::uint8_t byte = 0;
    for (std::size_t n = 0; n < limit && ::recv(connection_, &byte, 1, 0) == 1; ++n) {
      into.push_back(byte);
    }
  }
  // Aborts the connection: the other side's next send fails.
  void Reset() {
    const linger abort{1, 0};
    ::setsockopt(connection_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(connection_);
    connection_ = -1;
  }

private:
  int listener_ = -1;
  int connection_ = -1;
  quint16 port_ = 0;
};

// The platform socket connected to a raw peer, its errors recorded.
struct RawRig {
  RawPeer peer;
  QObject owner;
  TClientSocket* socket = CreateNativeSocket(&owner);
  QSignalSpy errors{socket, &TClientSocket::OnError};
  Bytes sent;

  RawRig() {
    socket->SetPeerLookup(false);
    socket->SetSendStallLimit(kStallMs);
    socket->Open("127.0.0.1", peer.port());
  }
  bool Connect() {
    return peer.Accept() && QTest::qWaitFor([this] { return socket->Connected(); });
  }
  // Sends numbered bytes; true while the socket takes them.
  bool SendChunk() {
    Bytes chunk(kChunk);
    for (std::uint8_t& byte : chunk) {
      byte = static_cast<std::uint8_t>(sent.size() % 251);
      sent.push_back(byte);
    }
    return socket->Send(chunk) == static_cast<qint64>(chunk.size());
  }
  // Sends until the system's buffers are full and bytes wait in the backlog.
  bool FillTheSystemsBuffers() {
    while (socket->PendingBytes() == 0 && sent.size() < kSendLimit) {
      if (!SendChunk()) {
        return false;
      }
    }
    return socket->PendingBytes() > 0;
  }
  int ErrorCode() const { return errors.isEmpty() ? 0 : errors.first().first().toInt(); }
};
#endif

}  // namespace

class LoopbackTest : public QObject {
  Q_OBJECT

private slots:
  void negotiatesWithTheLocalAddress() {
    LoopbackHost server;
    NativeRig rig;
    rig.Connect(server.port());
    QVERIFY(server.WaitForClient());
    QVERIFY(rig.Status().starts_with("  Connected to: "));
    server.Send(host::NegotiationRequest());
    QTRY_COMPARE(Split(server.received).size(), std::size_t{2});
    const Bytes open = Split(server.received)[1];
    QCOMPARE(open.size(), std::size_t{71});
    QCOMPARE(std::string(open.begin() + 20, open.begin() + 29), std::string("127.0.0.1"));
    QCOMPARE(open[19], std::uint8_t{9});
  }

  void normalCloseEndsTheProgramAfterTermination() {
    LoopbackHost server;
    NativeRig rig;
    rig.Connect(server.port());
    QVERIFY(server.WaitForClient());
    server.Send(host::NegotiationRequest());
    server.Send(host::ReadRequest(80));
    QTRY_COMPARE(rig.window->uiPhase(), 1);
    server.CloseNormally();
    QTRY_VERIFY(rig.ended);
    QTRY_COMPARE(Split(server.received).size(), std::size_t{3});
    const Bytes termination = Split(server.received)[2];
    QCOMPARE(termination.size(), std::size_t{10});
    QCOMPARE(termination[3], std::uint8_t{0});
    QCOMPARE(termination[5], std::uint8_t{2});
  }

  void resetLeavesTheWindowOpen() {
    LoopbackHost server;
    NativeRig rig;
    rig.Connect(server.port());
    QVERIFY(server.WaitForClient());
    server.Send(host::ReadRequest(80));
    QTRY_COMPARE(rig.window->uiPhase(), 1);
    server.Reset();
    QTRY_VERIFY(rig.Status().starts_with("  Network Error: 10054, "));
    QVERIFY(!rig.ended);
    QCOMPARE(rig.window->uiPhase(), 0);
    QCOMPARE(rig.dialogs.Count(Kind::Error), std::size_t{0});
  }

  void addressLiteralNeedsNoResolver() {
    LoopbackHost server;
    // A resolver that never answers: a literal must connect without it.
    QObject owner;
    int lookups = 0;
    TClientSocket* socket =
        CreateNativeSocket(&owner, [&lookups](const QString&, QObject*, HostResolved) {
          ++lookups;
          return -1;
        });
    socket->Open("127.0.0.1", server.port());
    QVERIFY(server.WaitForClient());
    QCOMPARE(lookups, 0);  // the peer's name goes to the reverse resolver
  }

  // The session runs while the peer's name is looked up; the name shows
  // when (if ever) it comes.
  void peerNameComesBesideTheSession_data() {
    QTest::addColumn<bool>("answers");
    QTest::newRow("resolver never answers") << false;
    QTest::newRow("resolver answers late") << true;
  }
  void peerNameComesBesideTheSession() {
    QFETCH(bool, answers);
    LoopbackHost server;
    HeldResolver resolver;
    NativeRig rig(resolver.Answering("late.example"));
    rig.Connect(server.port());
    QVERIFY(server.WaitForClient());
    QCOMPARE(rig.Status(), std::string("  Connected to: "));
    server.Send(host::NegotiationRequest());
    QTRY_COMPARE(Split(server.received).size(), std::size_t{2});  // answered at once
    if (answers) {
      resolver.Release();
      QTRY_COMPARE(rig.Status(), std::string("  Connected to: late.example"));
    } else {
      QTest::qWait(100);
      QCOMPARE(rig.Status(), std::string("  Connected to: "));
    }
  }

#ifndef _WIN32
  void sendsNeverWaitForAHostThatStopsReading() {
    RawRig rig;
    QVERIFY(rig.Connect());
    // Every send returns at once and counts as written, until the backlog
    // passes its bound; the failure is reported from the event loop.
    while (rig.SendChunk()) {
      QVERIFY(rig.sent.size() < kSendLimit);
    }
    QVERIFY(rig.socket->PendingBytes() > 0);
    QVERIFY(rig.socket->PendingBytes() <= kBacklogBound);
    QVERIFY(rig.errors.isEmpty());
    QTRY_COMPARE(rig.ErrorCode(), nsvt::kWsaNoBufferSpace);
    QVERIFY(rig.socket->Send(Bytes(1)) < 0);
  }

  void backlogThatMovesNoByteTimesOut() {
    RawRig rig;
    QVERIFY(rig.Connect());
    QVERIFY(rig.FillTheSystemsBuffers());
    QTRY_COMPARE(rig.ErrorCode(), nsvt::kWsaTimedOut);
  }

  void hostReadingOneByteAtATimeGetsEveryByteInOrder() {
    RawRig rig;
    QVERIFY(rig.Connect());
    QVERIFY(rig.FillTheSystemsBuffers());
    for (int more = 0; more < 8; ++more) {
      QVERIFY(rig.SendChunk());
    }
    Bytes received;
    QVERIFY(QTest::qWaitFor([&] {
      rig.peer.ReadByteByByte(received, kChunk);
      return received.size() >= rig.sent.size();
    }));
    QVERIFY(received == rig.sent);
    QCOMPARE(rig.socket->PendingBytes(), std::size_t{0});
    QVERIFY(rig.errors.isEmpty());  // slow progress is progress: no stall
  }

  void resetDuringASendFailsTheConnection() {
    RawRig rig;
    QVERIFY(rig.Connect());
    QVERIFY(rig.FillTheSystemsBuffers());
    rig.peer.Reset();
    QTRY_COMPARE(rig.ErrorCode(), nsvt::kWsaConnectionReset);
    QCOMPARE(rig.errors.size(), 1);
  }
#endif

  void refusedPortFailsAtOnce() {
    const ReservedPort closed;
    QVERIFY(closed.port() != 0);
    NativeRig rig;
    rig.Connect(closed.port());
    QVERIFY(rig.Status().starts_with("  Network Error: 10061, "));
    QCOMPARE(rig.dialogs.Texts(Kind::Message), std::vector<std::string>{"Connection failed"});
    QVERIFY(rig.window->connectWaitTicks() >= 31);
  }
};

QTEST_MAIN(LoopbackTest)
#include "loopback_test.moc"
