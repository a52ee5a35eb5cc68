// The listening host: accepts NS/VT connections, runs one Session each over
// the shared store, checks the expected files when a session ends and keeps
// the run's verdict.
#pragma once

#include <QObject>
#include <QTcpServer>

#include "hoststore.h"
#include "options.h"
#include "reservedescriptor.h"
#include "transcript.h"

class SimServer : public QObject {
  Q_OBJECT
public:
  // Verdict bits, also the exit status.
  static constexpr int kExpectFailed = 1;
  static constexpr int kDeviationSeen = 2;

  SimServer(const SimOptions& options, mpe::HostStore& store, Transcript& transcript,
            QObject* parent = nullptr);

  bool listen(const QHostAddress& address, QString* error);
  quint16 port() const { return server_.serverPort(); }
  int verdict() const { return verdict_; }

  // Compares the stored files named by --expect with their local files and
  // logs each result; returns kExpectFailed when one differs or is missing.
  int checkExpectations(int sessionId, const QString& group, const QString& account) const;

signals:
  // With --once: the one session has ended.
  void done(int verdict);

private:
  void onNewConnection();
  void onSessionFinished(Session* session);
  void onAcceptError(QAbstractSocket::SocketError error);
  void refuseOneConnection();

  const SimOptions& options_;
  mpe::HostStore& store_;
  Transcript& transcript_;
  QTcpServer server_;
  int nextId_ = 1;
  int liveSessions_ = 0;
  ReserveDescriptor reserve_;  // given up at the descriptor limit to refuse a connection
  int verdict_ = 0;
  bool servedOnce_ = false;
};
