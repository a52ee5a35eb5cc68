// One NS/VT connection, host side: negotiation, the control messages and
// their replies, terminal output and reads, and the faults of the plan.
//
// The session carries the MPE dialogue (CommandInterpreter) and implements
// the HostTerminal it talks through. Everything runs on the event loop's
// thread; outgoing messages pass through one queue so that a latency and the
// faults (drop, reset, termination) keep their place in the dialogue.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include "commandinterpreter.h"
#include "faults.h"
#include "hostterminal.h"
#include "transcript.h"
#include "vtmessage.h"

class QTcpSocket;

struct SessionSettings {
  mpe::HostConfig host;
  faults::FaultPlan faults;
  int faultSessions = 0;  // faults act in sessions 1 to N only; 0: in every session
  int latencyMs = 0;
  int idleTimeoutSec = 600;  // a session without input this long is ended; 0: never
};

class Session : public QObject, public mpe::HostTerminal {
  Q_OBJECT
public:
  Session(QTcpSocket* socket, int id, const SessionSettings& settings, mpe::HostStore& store,
          Transcript& transcript, QObject* parent = nullptr);
  ~Session() override;

  // Sends the negotiation request (unless a fault at "connect" says
  // otherwise). Call once, right after construction.
  void start();

  int id() const { return id_; }
  int deviations() const { return deviations_; }
  const mpe::SessionState& mpeSession() const { return interpreter_.session(); }

  // HostTerminal
  void writeLine(const QByteArray& text) override;
  void writeInPlace(const QByteArray& bytes) override;
  void postRead(int length) override;
  void setEcho(bool on) override;
  void sendLogonNotice(const QByteArray& text) override;
  void markPoint(const faults::PointName& point) override;
  void logEvent(const QString& text) override;
  void logOff() override;
  void terminate(int reason) override;

  // How long the host waits for the terminal's termination reply.
  static constexpr int kTerminateReplyWaitMs = 2000;
  // Output a terminal has not taken yet, queued or in the socket's buffer;
  // a session over it is ended, so that a client that never reads cannot
  // grow the simulator without bound.
  static constexpr qint64 kMaxUnsentBytes = qint64{1024} * 1024;

signals:
  // The connection has closed; emitted once.
  void finished(Session* session);

private:
  enum class Stage { AwaitNegotiationReply, AwaitOpenRequest, Dialogue, Terminating, Closed };
  enum class OutKind { Message, Raw, Close, Reset };
  struct Outgoing {
    OutKind kind;
    QByteArray bytes;
    qint64 due = 0;  // session clock time at which it may go out
  };
  struct PendingReply {
    uint8_t msgClass;
    uint8_t type;
    uint16_t requestEcho;
  };

  void onReadyRead();
  void onDisconnected();
  void handle(const QByteArray& message);
  void handleReply(const vt::Header& h, const QByteArray& m);
  void handleInput(const QByteArray& m);
  void beginDialogue();
  void deviation(const QString& text);

  uint16_t nextEcho();
  void sendMessage(const QByteArray& message);
  void sendRequest(const QByteArray& message, uint8_t replyClass);
  void enqueue(Outgoing item);
  void flushQueue();
  void perform(const Outgoing& item);
  // Applies the faults of the points marked since the last read. Returns
  // false when one of them has ended or silenced the connection.
  bool firePoints(int* readLength);
  bool faultsActHere() const;
  void apply(const faults::Fault& fault, int* readLength);
  void sendTermination(int reason);
  // The StopReading fault: nothing more is read, while the floods go on.
  void stopReading();
  void sendFlood();
  void startChatter(faults::ChatterKind kind);
  void chatter();
  void checkUnsent();
  void endAbruptly(const QString& why);

  QTcpSocket* socket_;
  int id_;
  const SessionSettings& settings_;
  Transcript& transcript_;
  mpe::CommandInterpreter interpreter_;
  vt::Framer framer_;
  Stage stage_ = Stage::AwaitNegotiationReply;
  QElapsedTimer clock_;
  uint16_t echo_;
  QSet<uint16_t> sentEchoes_;
  QList<PendingReply> pendingReplies_;
  int pendingRead_ = -1;          // length of the posted read; -1: none
  uint16_t pendingReadEcho_ = 0;  // echo word of that read request
  QStringList markedPoints_;
  QSet<QString> firedPoints_;
  bool quiet_ = false;   // a fault or the logoff: the host says nothing more
  bool silent_ = false;  // the host ignores the terminal too
  bool loggedOff_ = false;
  bool chattering_ = false;  // a fault: the host talks on and never asks for input
  faults::ChatterKind chatterKind_ = faults::ChatterKind::Negotiation;
  QTimer chatterTimer_;
  QByteArray trickle_;  // the message a trickle sends, what is left of it
  int deviations_ = 0;
  QList<Outgoing> queue_;
  qint64 queuedBytes_ = 0;
  QTimer latencyTimer_;
  QTimer terminateTimer_;
  QTimer floodTimer_;
  bool readingStopped_ = false;
  QTimer idleTimer_;
  bool finished_ = false;
};
