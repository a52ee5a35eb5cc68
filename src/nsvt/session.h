// Session: the terminal side of one NS/VT connection at a time. It owns the
// socket, cuts the byte stream into messages, answers the host's control
// messages itself, keeps the protocol state the host sets (EchoWord,
// LocalEcho, HostReadLength), writes the trace, and sends the terminal input
// it is asked to. Everything else it reports to its listener: the
// connection made, host output, read requests, logon notices, input stops,
// errors and the end of the connection. It knows nothing of scripts or
// windows.
//
// A listener's handler may run a nested event loop (a modal box). While a
// handler runs, reads are held: the bytes wait in the system's buffers and
// are framed, in order and once, after the handler returns. A connection
// that is replaced or closed meanwhile loses the rest of its bytes, and no
// reply built before a box goes out on a newer connection.
#pragma once

#include "nsvt/clientsocket.h"
#include "nsvt/framer.h"
#include "nsvt/hostlink.h"
#include "nsvt/trace.h"
#include "nsvt/vtpkt.h"

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace nsvt {

// What a session reports. Every handler runs on the session's thread, from
// inside the socket's events; each may open a modal box.
class SessionListener {
public:
  virtual ~SessionListener() = default;

  // The TCP connection is made; the peer's name is not known yet.
  virtual void Connected() = 0;
  // The reverse lookup of the peer found its name (RemoteHost() holds it).
  // It may come at any time after Connected, or never; it is no sign of
  // life from the host.
  virtual void PeerNamed(const std::string& name) { static_cast<void>(name); }
  // Bytes arrived from the host (before they are framed).
  virtual void Received() = 0;
  // TERM_IO: the host's terminal output, and its OutputControl byte
  // (kOutputControlNoNewLine: no line break after it).
  virtual void HostOutput(ConstBytes data, std::uint8_t outputControl) = 0;
  // The host asks for input (HostReadLength holds how much).
  virtual void ReadRequest() = 0;
  // The host's logon notice, its first min(length, 80) bytes.
  virtual void LogonNotice(std::string_view text) = 0;
  // The host stopped the terminal's input (class 3, type 0).
  virtual void InputStopped() = 0;
  // A protocol event or failure: 0 (the host confirmed termination), 4003
  // (an invalid packet), 4004 and 4005 (the host asks to terminate), or a
  // Windows Sockets code when the socket failed (socketFailed: the
  // connection is closed right after this returns, while it still counts as
  // connected during it).
  virtual void Error(int code, const std::string& text, bool socketFailed) = 0;
  // The connection is gone. byHost: the host closed it normally; otherwise
  // this program closed it (Close, a new Open, a failure). Raised while the
  // socket still counts as connected, so a last message can go out.
  virtual void Closed(bool byHost) = 0;
};

class Session final : public QObject, public HostLink {
  Q_OBJECT
public:
  using SocketFactory = std::function<TClientSocket*(QObject* parent)>;

  // makeSocket defaults to the platform socket.
  explicit Session(SessionListener& listener, const SocketFactory& makeSocket = {},
                   QObject* parent = nullptr);
  ~Session() override;

  // Starts an asynchronous lookup and connect; a live connection is closed
  // first (reported as Closed(false)). Success shows as Connected().
  void Open(const QString& host, quint16 port);
  // Closes the connection; Closed(false) when it was up. Safe when closed.
  void Close();
  bool Connected() const;
  QString RemoteHost() const;
  // Whether the next connections look the peer's name up (the default).
  void SetPeerLookup(bool on);
  // How long terminal data waiting to be sent may go without the host
  // taking any of it before the connection fails (10060).
  void SetSendStallLimit(int milliseconds);

  // The termination request that ends a session from this side.
  void SendTerminationRequest();
  // A line typed at the console; with maskInTrace (typed while the host's
  // echo was off: a password) the trace shows the same fixed mask for every
  // line, so it tells nothing of the password, not even its length.
  bool SendLine(std::string_view text, bool maskInTrace);

  // Creates the trace file through TraceWriter::Open and switches tracing
  // on for good. Returns why the file was refused or could not be made (the
  // writes then do nothing); empty when it is open.
  std::string OpenTrace(const std::string& path);

  // HostLink.
  bool SendLine(std::string_view text) override;
  bool SendArray(ConstBytes bytes) override;
  bool blk_out(std::span<std::uint8_t, kBlockSize> block) override;
  bool SendUncut(ConstBytes bytes) override;
  std::int32_t HostReadLength() const override { return HostReadLength_; }
  bool LocalEcho() const override { return LocalEcho_; }
  bool TraceOn() const override { return TraceOn_; }
  void TraceLine(std::string_view text) override;

  // State, for tests and diagnostics.
  nsvt::EchoWord echoWord() const { return EchoWord_; }
  std::uint16_t hostReadSecond() const { return hostReadSecond_; }

private:
  void OnRead();
  void OnSocketError(int code, const QString& text);
  void OnDisconnect();
  // Frames bytes and dispatches each completed message; returns early when
  // the connection the bytes came from is gone.
  void AcceptBytes(ConstBytes bytes);
  void DispatchMessage();
  void ReceiveTermIo(ConstBytes message);
  void TraceMark(std::string_view text);
  void TraceHexDump(ConstBytes bytes);
  // Writes bytes to the connection (or queues them); negative on failure,
  // which also ends the connection.
  qint64 SocketSend(ConstBytes bytes);
  // Ends the connection a send failed on, unless the socket has already
  // reported why.
  void EndAfterFailedSend();
  // Closes the socket as this program, not the host.
  void CloseOurselves();

  SessionListener& listener_;
  TClientSocket* socket_ = nullptr;  // a Qt child

  // The protocol state the host sets.
  EchoWord EchoWord_ = kInitialEchoWord;
  bool LocalEcho_ = true;
  std::int32_t HostReadLength_ = 1;
  std::uint16_t hostReadSecond_ = 0;

  Framer framer_;
  ScratchArea scratch_;
  // Written before every read of them, so they are never cleared.
  std::array<std::uint8_t, kReadChunk> readBuffer_;
  std::array<std::uint8_t, kTerminalInputHeaderSize + kMaxTerminalData> sendBuffer_;
  bool dispatching_ = false;                // a message is being acted on
  bool readsHeld_ = false;                  // reads were paused meanwhile
  std::uint32_t connectionGeneration_ = 0;  // bumped whenever the socket opens or closes
  bool closingOurselves_ = false;           // a close made by this program
  bool InErrorHandler = false;              // the socket's error is being handled

  bool TraceOn_ = false;
  TraceWriter trace_;
};

}  // namespace nsvt
