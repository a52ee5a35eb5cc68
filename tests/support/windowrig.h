// Test doubles for driving the installer window without a display, a
// network or a person: boxes that record and answer, a socket the test plays
// the host through, a real loopback host, and host-side message makers.
#pragma once

#include "nsvt/clientsocket.h"
#include "shell/TNSVT.h"
#include "shell/dialogs.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace support {

using Bytes = std::vector<std::uint8_t>;

// Boxes that never block: each is recorded, Confirm and Input answer from
// queues (Yes and Cancel when empty), and onBox runs while the box would be
// open.
class RecordingDialogs final : public Dialogs {
public:
  enum class Kind { Message, Error, Confirm, Input };
  struct Box {
    Kind kind;
    std::string text;
    std::string caption;  // Input only
  };
  std::vector<Box> boxes;
  std::deque<bool> confirmAnswers;
  std::deque<std::optional<std::string>> inputAnswers;
  std::function<void(const Box&)> onBox;

  void Message(QWidget*, const std::string& text) override;
  void Error(QWidget*, const std::string& text) override;
  bool Confirm(QWidget*, const std::string& text) override;
  std::optional<std::string> Input(QWidget*, const std::string& caption, const std::string& prompt,
                                   const std::string& initial) override;

  std::vector<std::string> Texts(Kind kind) const;
  bool Saw(Kind kind, const std::string& text) const;
  std::size_t Count(Kind kind) const;

private:
  void Record(Kind kind, const std::string& text, const std::string& caption = {});
};

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
  void Inject(const Bytes& bytes);
  // Bytes that arrive while a handler is running (inside a box's loop): one
  // read event, as the system's notifier would raise, unless reads are held.
  void Arrive(const Bytes& bytes);
  void PeerClose();                // a normal close by the host
  void PeerError(int code);        // a reset (10054) or another failure
  void FailPendingOpen(int code);  // the system gives up on a pending open
  std::size_t Pending() const { return inbox_.size(); }

private:
  void Deliver();
  bool connected_ = false;
  bool pendingOpen_ = false;
  bool readEnabled_ = true;
  bool delivering_ = false;
  std::deque<std::uint8_t> inbox_;
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

// String-table lookup for a test window: the entries of table (kept alive by
// the caller) in place of the program's own, cut as the program cuts them.
std::function<std::string(int)> TableWithOverrides(const std::map<int, std::string>& table);

// A window with recording boxes and a capture socket, the string table
// optionally overridden entry by entry (an empty text stands for a missing
// entry).
class WindowRig {
public:
  explicit WindowRig(std::map<int, std::string> table = {}, QStringList arguments = {});
  ~WindowRig();

  RecordingDialogs dialogs;
  CaptureSocket* socket = nullptr;
  std::unique_ptr<TNSVT> window;
  Qt::KeyboardModifiers modifiers = Qt::NoModifier;
  bool ended = false;  // the window asked the program to end
  int exitStatus = 0;  // with this status

  // Types the host name and presses Connect.
  void Connect(const QString& host = QStringLiteral("127.0.0.1"));
  void Host(const Bytes& bytes) { socket->Inject(bytes); }
  // Negotiation, the first read, the logon notice and a read of 80: the
  // window ends at an MPE prompt with Begin enabled.
  void LogOn(const std::string& logon = "MANAGER.SYS,PUB");
  // The texts of the terminal input messages sent so far, from index from.
  std::vector<std::string> SentLines(std::size_t from = 0) const;
  std::string ConsoleText() const;

private:
  std::map<int, std::string> table_;
};

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

}  // namespace support
