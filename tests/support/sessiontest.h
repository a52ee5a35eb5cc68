// Doubles for driving an NS/VT session without a network: a socket the test
// plays the host through, a real host on loopback for the platform socket,
// and host-side messages encoded here from the layouts (not with the
// installer's own builders, so a mistake shared by both cannot hide).
#pragma once

#include "nsvt/clientsocket.h"
#include "nsvt/session.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace support {

using Bytes = std::vector<std::uint8_t>;

// A socket whose far end is the test. Open connects at once (or fails with
// refuseWith); Inject hands bytes to the window as a read event would, in
// chunks of at most chunkSize; sends are recorded whole.
class CaptureSocket final : public TClientSocket {
  Q_OBJECT
public:
  using TClientSocket::TClientSocket;

  QString openedHost;
  quint16 openedPort = 0;
  int opens = 0;
  int closes = 0;
  int refuseWith = 0;      // when set, Open reports this error code
  bool holdOpen = false;   // when set, Open stays pending until FailPendingOpen
  int cancelledOpens = 0;  // pending opens that Close gave up on
  bool failSends = false;
  int failSendsWith = 0;  // when set, a failed send also reports this code, as the socket does
  std::size_t chunkSize = 36288;
  std::vector<Bytes> sent;
  QString localAddress = QStringLiteral("127.0.0.1");
  QString remoteHost = QStringLiteral("localhost");

  void Open(const QString& host, quint16 port) override;
  void Close() override;
  bool Connected() const override { return connected_; }
  qint64 Send(std::span<const std::uint8_t> bytes) override;
  qint64 Receive(std::span<std::uint8_t> buffer) override;
  QString LocalAddress() const override { return localAddress; }
  QString RemoteHost() const override { return remoteHost; }
  void SetReadEnabled(bool enabled) override;

  // Host side.
  void Inject(std::span<const std::uint8_t> bytes);
  // Bytes that arrive while a handler is running (inside a box's loop): one
  // read event, as the system's notifier would raise, unless reads are held.
  void Arrive(std::span<const std::uint8_t> bytes);
  void PeerClose();                    // a normal close by the host
  void PeerError(int code);            // a reset (10054) or another failure
  void FailPendingOpen(int code);      // the system gives up on a pending open
  void NamePeer(const QString& name);  // the reverse lookup answers
  std::size_t Pending() const { return inbox_.size() - taken_; }

private:
  void Deliver();
  bool connected_ = false;
  bool pendingOpen_ = false;
  bool readEnabled_ = true;
  bool delivering_ = false;
  // Bytes not yet received are inbox_ from taken_ on.
  std::vector<std::uint8_t> inbox_;
  std::size_t taken_ = 0;
  void Append(std::span<const std::uint8_t> bytes);
};

// Host-side NS/VT messages, encoded here from the layouts and not with the
// installer's builders, so a mistake shared by both cannot hide.
namespace host {
inline constexpr std::uint16_t kEcho = 0x4B21;
Bytes Message(std::uint8_t messageClass, std::uint8_t type, std::uint16_t classWord,
              const Bytes& body, std::uint16_t echo = kEcho);
Bytes NegotiationRequest(std::uint16_t echo = kEcho);
Bytes ReadRequest(std::uint16_t length, std::uint16_t second = 0, std::uint16_t echo = kEcho);
Bytes TermIo(const std::string& text, std::uint8_t control = 0, std::uint16_t word14 = 0,
             std::uint16_t echo = kEcho);
Bytes LogonNotice(const std::string& text, std::optional<std::uint16_t> length = std::nullopt);
Bytes Termination(std::uint8_t byte10, std::uint8_t byte11, std::uint16_t echo = kEcho);
Bytes TerminationReply();
Bytes Settings(std::uint16_t flags, std::uint8_t echo, std::uint8_t number = 0);
Bytes InputStop();
Bytes SetBreak();
Bytes MpeControl();
// The data of a terminal input message the installer sent (class 3, type 0).
std::string InputText(const Bytes& message);
bool IsTerminalInput(const Bytes& message);
}  // namespace host

// A real host on 127.0.0.1 for the native socket: accepts connections,
// records what arrives, sends what the test says, closes or resets.
class LoopbackHost : public QObject {
  Q_OBJECT
public:
  LoopbackHost();
  quint16 port() const { return server_.serverPort(); }
  bool WaitForClient(int ms = 5000);
  void Send(const Bytes& bytes);
  void CloseNormally();
  void Reset();
  Bytes received;
  QTcpSocket* client = nullptr;

private:
  QTcpServer server_;
};

// What a session reported, in order; onEvent runs inside each report, as
// the handler of a box's nested event loop would.
class RecordingListener final : public nsvt::SessionListener {
public:
  struct Event {
    std::string what;   // connected, output, read, logon, stopped, error, closed
    std::string text;   // output data, logon text, error text
    int code = 0;       // error code; output control
    bool flag = false;  // socketFailed; byHost
  };
  std::vector<Event> events;
  std::function<void(const Event&)> onEvent;
  int received = 0;

  void Connected() override { Record({"connected", {}, 0, false}); }
  void PeerNamed(const std::string& name) override { Record({"named", name, 0, false}); }
  void Received() override { ++received; }
  void HostOutput(nsvt::ConstBytes data, std::uint8_t outputControl) override {
    Record({"output", std::string(data.begin(), data.end()), outputControl, false});
  }
  void ReadRequest() override { Record({"read", {}, 0, false}); }
  void LogonNotice(std::string_view text) override {
    Record({"logon", std::string(text), 0, false});
  }
  void InputStopped() override { Record({"stopped", {}, 0, false}); }
  void Error(int code, const std::string& text, bool socketFailed) override {
    Record({"error", text, code, socketFailed});
  }
  void Closed(bool byHost) override { Record({"closed", {}, 0, byHost}); }

  std::vector<std::string> Kinds() const;

private:
  void Record(Event event);
};

// A session on a capture socket with a recording listener.
class SessionRig {
public:
  SessionRig();
  RecordingListener listener;
  CaptureSocket* socket = nullptr;
  std::unique_ptr<nsvt::Session> session;

  void Connect() { session->Open(QStringLiteral("127.0.0.1"), 1570); }
  void Host(const Bytes& bytes) { socket->Inject(bytes); }
};

}  // namespace support
