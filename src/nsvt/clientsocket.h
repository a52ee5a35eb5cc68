// The TCP client the window talks to the host through: a small interface in
// the shape of the asynchronous socket component the installer was designed
// around, with errors reported as Windows Sockets codes so the error rules
// (10053 aborted, 10054 reset, ...) hold on every platform.
//
// Contract:
//  - Open() starts an asynchronous lookup and connect; success shows as
//    Connected() turning true, failure as OnError.
//  - OnConnect: the connection is made (Connected() is true); it is
//    reported at once, before the peer's name is known.
//  - OnPeerNamed(name): the reverse lookup of the peer answered with a name
//    (RemoteHost() holds it from then on). It may come at any time after
//    OnConnect, or never; SetPeerLookup(false) skips the lookup.
//  - OnRead: data can be received; the handler calls Receive() once.
//  - OnError(code, text): a failed operation; the handler closes the socket.
//  - OnDisconnect: the connection is ending (the host closed it normally, or
//    Close() was called). It is raised while Connected() is still true, so
//    the handler can still send a last message; the socket closes after.
//  - Send never blocks: what the system cannot take at once waits in the
//    connection's send backlog, and a queued send counts as written. A
//    backlog that grows past its bound, or takes no byte for the send stall
//    limit, fails the connection (OnError 10055 or 10060); so does a send
//    the system refuses. The error is raised from the event loop, never
//    from inside Send, which then returns a negative value.
//  - SetReadEnabled(false) holds back OnRead (and the detection of a close)
//    until reads are enabled again; bytes wait in the system's buffers.
#pragma once

#include "nsvt/hostlookup.h"
#include "nsvt/socketerrors.h"

#include <QHostInfo>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <span>

class TClientSocket : public QObject {
  Q_OBJECT
public:
  using QObject::QObject;
  ~TClientSocket() override = default;

  virtual void Open(const QString& host, quint16 port) = 0;
  // Raises OnDisconnect first when connected, then closes. Safe to call
  // when closed.
  virtual void Close() = 0;
  virtual bool Connected() const = 0;
  // Writes all bytes; returns the count written, or a negative value.
  virtual qint64 Send(std::span<const std::uint8_t> bytes) = 0;
  // Receives at most buffer.size() bytes; 0 when nothing is there.
  virtual qint64 Receive(std::span<std::uint8_t> buffer) = 0;
  // Local address of the connection in dotted-decimal form; empty if unknown.
  virtual QString LocalAddress() const = 0;
  // Host name of the peer by reverse lookup; empty when it has none.
  virtual QString RemoteHost() const = 0;
  virtual void SetReadEnabled(bool enabled) = 0;
  // Whether the next connections look the peer's name up (the default).
  virtual void SetPeerLookup(bool on) { Q_UNUSED(on); }
  // How long a send backlog may go without the peer taking a byte.
  virtual void SetSendStallLimit(int milliseconds) { Q_UNUSED(milliseconds); }
  // Bytes waiting in the send backlog, for tests and diagnostics.
  virtual std::size_t PendingBytes() const { return 0; }

signals:
  void OnConnect();
  void OnPeerNamed(const QString& name);
  void OnRead();
  void OnError(int code, const QString& text);
  void OnDisconnect();
};

// Looks a host name up (its addresses) and calls back on receiver's
// thread; returns an id that QHostInfo::abortHostLookup accepts.
using HostResolved = std::function<void(const QHostInfo&)>;
using HostResolver = std::function<int(const QString& name, QObject* receiver, HostResolved done)>;

// The platform socket (POSIX sockets with QSocketNotifier; Winsock on
// Windows). Defined in nativesocket.cpp. The resolver (names to addresses)
// defaults to QHostInfo::lookupHost, the reverse one (the peer's name) to
// the shared bounded resolver's default; tests put slow ones in their place.
TClientSocket* CreateNativeSocket(QObject* parent, HostResolver resolver = {},
                                  nsvt::ReverseResolver reverseResolver = {});
