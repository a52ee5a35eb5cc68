// Accepting sessions and judging them.
#include "simserver.h"

#include <QFile>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>

namespace {

constexpr const char* kDefaultGroup = "PUB";
constexpr const char* kDefaultAccount = "SYS";
// After a connection could not even be refused, wait this long before
// accepting again rather than spin on the listening socket.
constexpr int kAcceptRetryMs = 1000;

// The records a local text file becomes on the host: line ends turned into
// LF as the installer sends them, then split into blank-filled records.
QByteArray expectedText(QByteArray local, int recordSize) {
  local.replace("\r\n", "\n");
  local.replace('\r', '\n');
  qint64 unused = 0;
  return mpe::textToRecords(local, recordSize, &unused);
}

}  // namespace

SimServer::SimServer(const SimOptions& options, mpe::HostStore& store, Transcript& transcript,
                     QObject* parent)
    : QObject(parent), options_(options), store_(store), transcript_(transcript) {
  connect(&server_, &QTcpServer::newConnection, this, &SimServer::onNewConnection);
  connect(&server_, &QTcpServer::acceptError, this, &SimServer::onAcceptError);
}

bool SimServer::listen(const QHostAddress& address, QString* error) {
  if (!server_.listen(address, options_.port)) {
    *error = server_.errorString();
    return false;
  }
  return true;
}

void SimServer::onNewConnection() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
    if (options_.once && servedOnce_) {
      // One session only: later callers are turned away.
      socket->abort();
      socket->deleteLater();
      continue;
    }
    if (liveSessions_ >= options_.maxSessions) {
      std::fprintf(stderr, "mpe-host-sim: refusing a connection: %d sessions already\n",
                   liveSessions_);
      socket->abort();
      socket->deleteLater();
      continue;
    }
    servedOnce_ = true;
    ++liveSessions_;
    // The dialogue is one small message per exchange: do not let them wait
    // for the terminal's delayed acknowledgements.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto* session = new Session(socket, nextId_++, options_.session, store_, transcript_, this);
    connect(session, &Session::finished, this, &SimServer::onSessionFinished);
    session->start();
  }
}

// Out of descriptors, the listening socket stays readable with the waiting
// connection and Qt stops accepting. Giving up the reserve descriptor lets
// that connection be accepted and closed at once; then accepting goes on.
void SimServer::onAcceptError(QAbstractSocket::SocketError error) {
  if (error != QAbstractSocket::SocketResourceError) {
    std::fprintf(stderr, "mpe-host-sim: cannot accept a connection: %s\n",
                 qPrintable(server_.errorString()));
    QTimer::singleShot(kAcceptRetryMs, &server_, &QTcpServer::resumeAccepting);
    return;
  }
  refuseOneConnection();
}

void SimServer::refuseOneConnection() {
  const bool refused = reserve_.refuseOne(server_.socketDescriptor());
  std::fprintf(stderr, "mpe-host-sim: out of %s; %s\n", ReserveDescriptor::exhaustedResource(),
               refused ? "refused a connection" : "waiting before accepting again");
  QTimer::singleShot(refused ? 0 : kAcceptRetryMs, &server_, &QTcpServer::resumeAccepting);
}

void SimServer::onSessionFinished(Session* session) {
  --liveSessions_;
  const mpe::SessionState& s = session->mpeSession();
  int verdict = checkExpectations(session->id(), s.loggedOn ? s.group : kDefaultGroup,
                                  s.loggedOn ? s.account : kDefaultAccount);
  if (session->deviations() > 0)
    verdict |= kDeviationSeen;
  verdict_ |= verdict;
  std::fprintf(stderr, "mpe-host-sim: session %d: ended, %d deviations, verdict %d\n",
               session->id(), session->deviations(), verdict);
  session->deleteLater();
  if (options_.once)
    emit done(verdict_);
}

int SimServer::checkExpectations(int sessionId, const QString& group,
                                 const QString& account) const {
  int verdict = 0;
  for (const auto& [name, path] : options_.expects) {
    QString result;
    const std::optional<mpe::FileRef> ref = mpe::parseFileName(name, group, account);
    const std::optional<mpe::MpeFile> stored = ref ? store_.load(*ref) : std::nullopt;
    QFile local(path);
    if (!ref) {
      result = "MISMATCH: not a file name";
    } else if (!stored) {
      result = "MISMATCH: not stored";
    } else if (!local.open(QIODevice::ReadOnly)) {
      result = "MISMATCH: cannot read " + path;
    } else {
      QByteArray want = local.readAll();
      if (stored->attr.ascii)
        want = expectedText(want, stored->attr.recordSize);
      result = stored->data == want
                   ? QString("match, %1 bytes crc32 %2")
                         .arg(stored->data.size())
                         .arg(mpe::crc32Hex(stored->data))
                   : QString("MISMATCH: stored %1 bytes crc32 %2, local %3 bytes crc32 %4")
                         .arg(stored->data.size())
                         .arg(mpe::crc32Hex(stored->data))
                         .arg(want.size())
                         .arg(mpe::crc32Hex(want));
    }
    if (result.startsWith("MISMATCH"))
      verdict |= kExpectFailed;
    const QString line = QString("expect %1: %2").arg(ref ? ref->qualified() : name, result);
    transcript_.event(sessionId, 0, line);
    std::fprintf(stderr, "mpe-host-sim: session %d: %s\n", sessionId, qPrintable(line));
  }
  return verdict;
}
