// The host side of one NS/VT connection.
#include "session.h"

#include <sys/socket.h>
#include <QHostAddress>
#include <QTcpSocket>
#include <cstdio>

namespace {

// The host's echo word starts away from the terminal's fixed 0x0001 so that
// a copied word can be told from the fixed one in the transcript.
constexpr uint16_t kFirstEcho = 0x0100;
// The echo word a terminal holds before the host's first message.
constexpr uint16_t kTerminalFirstEcho = 0x0001;
// Sent with a bad version byte by the BadVersion fault.
constexpr uint8_t kBadVersion = 3;
// Length field of the ShortLength fault: below the 10-byte header.
constexpr uint16_t kShortLength = 6;
// The StopReading fault's floods: as many set-break requests as one 36 KB
// read of the terminal holds, ten times a second.
constexpr int kFloodBurst = 3600;
constexpr int kFloodIntervalMs = 100;
// The chatter faults.
constexpr int kNegotiationEveryMs = 1000;
constexpr int kTrickleEveryMs = 2000;
constexpr int kFloodLines = 64;          // output lines a turn of the event loop
constexpr qint64 kFloodBacklog = 65536;  // bytes the socket may hold unsent
const QByteArray kFloodText = "SIMULATED OUTPUT THAT NEVER ENDS";
const QByteArray kTrickleText = "SIMULATED MESSAGE THAT NEVER COMPLETES";
constexpr int kMsPerSecond = 1000;

QString peerText(const QTcpSocket* s) {
  QHostAddress a = s->peerAddress();
  bool mapped = false;
  const quint32 v4 = a.toIPv4Address(&mapped);
  if (mapped)
    a = QHostAddress(v4);
  return a.toString();
}

}  // namespace

Session::Session(QTcpSocket* socket, int id, const SessionSettings& settings, mpe::HostStore& store,
                 Transcript& transcript, QObject* parent)
    : QObject(parent),
      socket_(socket),
      id_(id),
      settings_(settings),
      transcript_(transcript),
      interpreter_(*this, store, settings.host, id),
      echo_(kFirstEcho) {
  socket_->setParent(this);
  clock_.start();
  latencyTimer_.setSingleShot(true);
  latencyTimer_.setTimerType(Qt::PreciseTimer);  // a coarse timer adds up to 5% to every delay
  terminateTimer_.setSingleShot(true);
  connect(socket_, &QTcpSocket::readyRead, this, &Session::onReadyRead);
  connect(socket_, &QTcpSocket::disconnected, this, &Session::onDisconnected);
  connect(&latencyTimer_, &QTimer::timeout, this, &Session::flushQueue);
  connect(&terminateTimer_, &QTimer::timeout, this, [this] {
    logEvent("no termination reply; closing");
    enqueue({OutKind::Close, {}});
  });
  idleTimer_.setSingleShot(true);
  connect(&idleTimer_, &QTimer::timeout, this,
          [this] { endAbruptly(QString("no input for %1 s").arg(settings_.idleTimeoutSec)); });
}

Session::~Session() = default;

void Session::start() {
  logEvent(QString("connection from %1:%2").arg(peerText(socket_)).arg(socket_->peerPort()));
  markPoint(faults::pointName(faults::Point::Connect));
  if (settings_.idleTimeoutSec > 0)
    idleTimer_.start(settings_.idleTimeoutSec * kMsPerSecond);
  int unused = 0;
  if (!firePoints(&unused))
    return;
  sendRequest(vt::buildNegotiationRequest(nextEcho()), vt::kEnvReply);
}

// ---- Receiving ---------------------------------------------------------

void Session::onReadyRead() {
  if (readingStopped_)
    return;  // the bytes stay in the socket, so the terminal's sends back up
  if (idleTimer_.isActive())
    idleTimer_.start();
  framer_.feed(socket_->readAll());
  while (std::optional<QByteArray> m = framer_.next()) {
    transcript_.message(id_, clock_.elapsed(), false, *m);
    if (!silent_)
      handle(*m);
    if (stage_ == Stage::Closed)
      return;
  }
  if (framer_.broken()) {
    deviation(QString("length field %1 is below the header size; the stream cannot be framed")
                  .arg(framer_.brokenLength()));
    quiet_ = true;
    enqueue({OutKind::Close, {}});
  }
}

void Session::handle(const QByteArray& m) {
  const vt::Header h = vt::readHeader(m);
  if (h.version != vt::kVersion) {
    deviation(QString("version byte %1 in %2")
                  .arg(h.version)
                  .arg(vt::messageName(h.msgClass, h.type, false)));
    return;
  }
  // Before the host has sent anything, a terminal's termination request
  // carries the echo word it starts with.
  const bool earlyTermination = h.msgClass == vt::kEnvRequest && h.type == vt::kTypeTerminate &&
                                stage_ == Stage::AwaitNegotiationReply &&
                                h.echo == kTerminalFirstEcho;
  const bool fixedEcho = (h.msgClass == vt::kEnvReply && h.type == vt::kTypeNegotiation) ||
                         (h.msgClass == vt::kEnvRequest && h.type == vt::kTypeOpen) ||
                         earlyTermination;
  if (!fixedEcho && !sentEchoes_.contains(h.echo)) {
    deviation(QString("echo word 0x%1 of %2 was never sent by the host")
                  .arg(h.echo, 4, 16, QChar('0'))
                  .arg(vt::messageName(h.msgClass, h.type, false)));
  }
  if (chattering_ && ((h.msgClass == vt::kEnvReply && h.type == vt::kTypeNegotiation) ||
                      (h.msgClass == vt::kEnvRequest && h.type == vt::kTypeOpen))) {
    return;  // the terminal's answer to the chatter's negotiation: taken, and ignored
  }
  if (h.msgClass == vt::kEnvReply && h.type == vt::kTypeNegotiation) {
    if (stage_ != Stage::AwaitNegotiationReply)
      deviation("negotiation reply out of turn");
    for (const QString& d : vt::checkNegotiationReply(m))
      deviation("negotiation reply: " + d);
    pendingReplies_.removeIf([](const PendingReply& r) {
      return r.msgClass == vt::kEnvReply && r.type == vt::kTypeNegotiation;
    });
    stage_ = Stage::AwaitOpenRequest;
  } else if (h.msgClass == vt::kEnvRequest && h.type == vt::kTypeOpen) {
    if (stage_ != Stage::AwaitOpenRequest)
      deviation("open request out of turn");
    for (const QString& d : vt::checkOpenRequest(m, peerText(socket_)))
      deviation("open request: " + d);
    if (stage_ == Stage::AwaitOpenRequest)
      beginDialogue();
  } else if (h.msgClass == vt::kEnvRequest && h.type == vt::kTypeTerminate) {
    logEvent("the terminal asked to end the session");
    // After a logoff or a fault the connection is already on its way down.
    if (!quiet_) {
      quiet_ = true;
      enqueue({OutKind::Message, vt::buildTerminateReply(h.echo)});
      enqueue({OutKind::Close, {}});
    }
  } else if (h.msgClass == vt::kTermReply && h.type == vt::kTypeRead) {
    handleInput(m);
  } else if (h.msgClass % 2 == 1) {
    handleReply(h, m);
  } else {
    deviation("unexpected " + vt::messageName(h.msgClass, h.type, false));
  }
}

void Session::handleReply(const vt::Header& h, const QByteArray& m) {
  const QString name = vt::messageName(h.msgClass, h.type, false);
  auto it = std::find_if(
      pendingReplies_.begin(), pendingReplies_.end(),
      [&](const PendingReply& r) { return r.msgClass == h.msgClass && r.type == h.type; });
  if (it == pendingReplies_.end()) {
    deviation(name + " without a request");
    return;
  }
  pendingReplies_.erase(it);
  QStringList problems;
  if (h.msgClass == vt::kControlReply && h.type == vt::kTypeSetDriver) {
    problems = vt::checkSettingsReply(m);
  } else {
    problems = vt::checkShortReply(
        m, h.msgClass == vt::kMpeReply ? vt::kMpeReplyWord : vt::kClassWordDefault);
  }
  for (const QString& p : problems)
    deviation(name + ": " + p);
  if (h.msgClass == vt::kEnvReply && h.type == vt::kTypeTerminate && stage_ == Stage::Terminating) {
    terminateTimer_.stop();
    enqueue({OutKind::Close, {}});
  }
}

void Session::handleInput(const QByteArray& m) {
  QString problem;
  const std::optional<QByteArray> data = vt::decodeTerminalInput(m, &problem);
  if (!problem.isEmpty())
    deviation("terminal input: " + problem);
  if (!data || quiet_)
    return;
  if (stage_ != Stage::Dialogue) {
    deviation("terminal input before the negotiation ended");
    return;
  }
  if (pendingRead_ < 0) {
    deviation("terminal input without a pending read");
    return;
  }
  // The terminal copies the echo word of the last message it has seen, so
  // an answer carrying a word older than the read's was typed ahead of it.
  const uint16_t echo = vt::readHeader(m).echo;
  if (static_cast<uint16_t>(echo - pendingReadEcho_) >= 0x8000) {
    deviation(QString("terminal input sent before the read request (echo word 0x%1, read 0x%2)")
                  .arg(echo, 4, 16, QChar('0'))
                  .arg(pendingReadEcho_, 4, 16, QChar('0')));
  }
  QByteArray answer = *data;
  if (pendingRead_ > 0 && answer.size() > pendingRead_) {
    const QString what =
        QString("terminal input of %1 bytes for a read of %2").arg(answer.size()).arg(pendingRead_);
    if (answer.size() == interpreter_.uncutRecordSize()) {
      // A record of the record transfer goes whole, never cut to the read;
      // a host whose read was shorter (a fault) takes what fits.
      logEvent(what + ": a whole record; the host takes the first " +
               QString::number(pendingRead_) + " bytes");
    } else {
      deviation(what);
    }
    answer.truncate(pendingRead_);
  }
  pendingRead_ = -1;
  interpreter_.input(answer);
}

void Session::beginDialogue() {
  stage_ = Stage::Dialogue;
  logEvent("negotiation complete");
  sendRequest(vt::buildSetBreakRequest(nextEcho()), vt::kControlReply);
  sendRequest(vt::buildMpeControlRequest(nextEcho()), vt::kMpeReply);
  interpreter_.start();
}

void Session::onDisconnected() {
  if (finished_)
    return;
  finished_ = true;
  if (!loggedOff_ && stage_ != Stage::Closed)
    logEvent("connection closed");
  stage_ = Stage::Closed;
  latencyTimer_.stop();
  terminateTimer_.stop();
  floodTimer_.stop();
  chatterTimer_.stop();
  idleTimer_.stop();
  emit finished(this);
}

void Session::deviation(const QString& text) {
  ++deviations_;
  transcript_.deviation(id_, clock_.elapsed(), text);
  std::fprintf(stderr, "mpe-host-sim: session %d: DEVIATION %s\n", id_, qPrintable(text));
}

// ---- HostTerminal --------------------------------------------------------

void Session::writeLine(const QByteArray& text) {
  if (!quiet_)
    sendMessage(vt::buildWrite(nextEcho(), text, vt::kCarriageLine));
}

void Session::writeInPlace(const QByteArray& bytes) {
  if (!quiet_)
    sendMessage(vt::buildWrite(nextEcho(), bytes, vt::kCarriageStay));
}

void Session::postRead(int length) {
  if (quiet_ || !firePoints(&length) || chattering_)
    return;
  pendingRead_ = length;
  pendingReadEcho_ = nextEcho();
  sendMessage(vt::buildReadRequest(pendingReadEcho_, static_cast<uint16_t>(length)));
}

void Session::setEcho(bool on) {
  if (!quiet_)
    sendRequest(vt::buildSettingsRequest(nextEcho(), on), vt::kControlReply);
}

void Session::sendLogonNotice(const QByteArray& text) {
  if (!quiet_)
    sendRequest(vt::buildLogonNotice(nextEcho(), text), vt::kEnvReply);
}

void Session::markPoint(const faults::PointName& point) {
  markedPoints_ << point.text();
}

void Session::logEvent(const QString& text) {
  transcript_.event(id_, clock_.elapsed(), text);
  std::fprintf(stderr, "mpe-host-sim: session %d: %s\n", id_, qPrintable(text));
}

void Session::logOff() {
  int unused = 0;
  if (quiet_ || !firePoints(&unused))
    return;
  for (const PendingReply& r : pendingReplies_) {
    deviation(QString("no reply to the request with echo word 0x%1 (class %2 type %3 expected)")
                  .arg(r.requestEcho, 4, 16, QChar('0'))
                  .arg(r.msgClass)
                  .arg(r.type));
  }
  loggedOff_ = true;
  quiet_ = true;
  enqueue({OutKind::Close, {}});
}

void Session::terminate(int reason) {
  if (quiet_)
    return;
  sendTermination(reason);
}

void Session::sendTermination(int reason) {
  logEvent(QString("sending termination request, reason %1").arg(reason));
  sendRequest(vt::buildTerminateRequest(nextEcho(), static_cast<uint16_t>(reason)), vt::kEnvReply);
  quiet_ = true;
  stage_ = Stage::Terminating;
  terminateTimer_.start(kTerminateReplyWaitMs);
}

// ---- Faults --------------------------------------------------------------

bool Session::firePoints(int* readLength) {
  const QStringList points = markedPoints_;
  markedPoints_.clear();
  if (!faultsActHere())
    return true;
  for (const QString& point : points) {
    if (firedPoints_.contains(point))
      continue;
    const QList<faults::Fault> list = settings_.faults.at(point);
    if (list.isEmpty())
      continue;
    firedPoints_.insert(point);
    for (const faults::Fault& f : list) {
      logEvent(QString("fault at %1: %2").arg(point, faults::actionName(f.action)));
      apply(f, readLength);
      if (quiet_)
        return false;
    }
  }
  return true;
}

// Limiting the faults to the first sessions lets an operator rehearse the
// recovery: the next connection finds a healthy host.
bool Session::faultsActHere() const {
  return settings_.faultSessions <= 0 || id_ <= settings_.faultSessions;
}

void Session::apply(const faults::Fault& fault, int* readLength) {
  using faults::Action;
  switch (fault.action) {
    case Action::Drop:
      quiet_ = true;
      enqueue({OutKind::Close, {}});
      break;
    case Action::Reset:
      quiet_ = true;
      enqueue({OutKind::Reset, {}});
      break;
    case Action::Terminate:
      sendTermination(fault.value);
      break;
    case Action::Silent:
      quiet_ = true;
      silent_ = true;
      break;
    case Action::BadVersion: {
      QByteArray m = vt::buildWrite(nextEcho(), "SIMULATED MESSAGE WITH A BAD VERSION BYTE",
                                    vt::kCarriageLine);
      m[vt::kOffVersion] = static_cast<char>(kBadVersion);
      sendMessage(m);
      break;
    }
    case Action::ShortLength: {
      QByteArray m = vt::buildWrite(nextEcho(), {}, vt::kCarriageLine).left(vt::kHeaderSize);
      vt::putBE16(m, vt::kOffLength, kShortLength);
      enqueue({OutKind::Raw, m});
      break;
    }
    case Action::ReadLength:
      *readLength = fault.value;
      break;
    case Action::StopReading:
      stopReading();
      break;
    case Action::Chatter:
      startChatter(static_cast<faults::ChatterKind>(fault.value));
      break;
  }
}

// A host busy with something of its own: it sends, and sends, and never
// posts the read the terminal waits for.
void Session::startChatter(faults::ChatterKind kind) {
  chattering_ = true;
  chatterKind_ = kind;
  chatterTimer_.setInterval(kind == faults::ChatterKind::Negotiation ? kNegotiationEveryMs
                            : kind == faults::ChatterKind::Trickle   ? kTrickleEveryMs
                                                                     : 0);
  if (kind == faults::ChatterKind::Trickle)
    trickle_ = vt::buildWrite(nextEcho(), kTrickleText, vt::kCarriageLine);
  connect(&chatterTimer_, &QTimer::timeout, this, &Session::chatter);
  chatterTimer_.start();
}

void Session::chatter() {
  if (quiet_) {
    chatterTimer_.stop();
    return;
  }
  switch (chatterKind_) {
    case faults::ChatterKind::Negotiation:
      sendMessage(vt::buildNegotiationRequest(nextEcho()));
      break;
    case faults::ChatterKind::Output:
      for (int i = 0; i < kFloodLines && socket_->bytesToWrite() < kFloodBacklog; ++i)
        sendMessage(vt::buildWrite(nextEcho(), kFloodText, vt::kCarriageLine));
      break;
    case faults::ChatterKind::Trickle:
      if (trickle_.size() > 1) {  // the last byte never goes
        enqueue({OutKind::Raw, trickle_.left(1)});
        trickle_.remove(0, 1);
      }
      break;
  }
}

void Session::stopReading() {
  readingStopped_ = true;
  // A full buffer of one byte makes the socket leave the rest with the
  // system, which then stops taking the terminal's bytes.
  socket_->setReadBufferSize(1);
  connect(&floodTimer_, &QTimer::timeout, this, &Session::sendFlood, Qt::UniqueConnection);
  floodTimer_.start(kFloodIntervalMs);
  sendFlood();
}

void Session::sendFlood() {
  for (int i = 0; i < kFloodBurst; ++i)
    sendMessage(vt::buildSetBreakRequest(nextEcho()));
}

// ---- Sending -------------------------------------------------------------

uint16_t Session::nextEcho() {
  const uint16_t e = echo_++;
  sentEchoes_.insert(e);
  return e;
}

void Session::sendMessage(const QByteArray& message) {
  enqueue({OutKind::Message, message});
}

void Session::sendRequest(const QByteArray& message, uint8_t replyClass) {
  const vt::Header h = vt::readHeader(message);
  pendingReplies_ << PendingReply{replyClass, h.type, h.echo};
  sendMessage(message);
}

// The latency is the network's: each message leaves latencyMs after the host
// produced it, and messages produced together (an output line and its read
// request) arrive together, in order.
void Session::enqueue(Outgoing item) {
  if (stage_ == Stage::Closed)
    return;
  item.due = clock_.elapsed() + settings_.latencyMs;
  queuedBytes_ += item.bytes.size();
  queue_ << std::move(item);
  if (settings_.latencyMs <= 0) {
    flushQueue();
  } else if (!latencyTimer_.isActive()) {
    latencyTimer_.start(settings_.latencyMs);
  }
  checkUnsent();  // a latency holds output back in the queue
}

void Session::flushQueue() {
  while (!queue_.isEmpty() && stage_ != Stage::Closed) {
    const qint64 wait = queue_.first().due - clock_.elapsed();
    if (settings_.latencyMs > 0 && wait > 0) {
      latencyTimer_.start(static_cast<int>(wait));
      return;
    }
    const Outgoing item = queue_.takeFirst();
    queuedBytes_ -= item.bytes.size();
    perform(item);
  }
  checkUnsent();
}

void Session::checkUnsent() {
  if (stage_ == Stage::Closed)
    return;
  const qint64 unsent = queuedBytes_ + socket_->bytesToWrite();
  if (unsent > kMaxUnsentBytes)
    endAbruptly(QString("%1 bytes of output not taken by the terminal").arg(unsent));
}

// Ends the session at once, dropping what is still unsent: a terminal that
// stops reading would never let an orderly close complete.
void Session::endAbruptly(const QString& why) {
  logEvent(why + "; ending the session");
  quiet_ = true;
  silent_ = true;
  queue_.clear();
  queuedBytes_ = 0;
  socket_->abort();
  onDisconnected();
}

void Session::perform(const Outgoing& item) {
  switch (item.kind) {
    case OutKind::Message:
    case OutKind::Raw:
      transcript_.message(id_, clock_.elapsed(), true, item.bytes);
      socket_->write(item.bytes);
      break;
    case OutKind::Close:
      logEvent(loggedOff_ ? "closing the connection after logoff" : "closing the connection");
      socket_->disconnectFromHost();
      break;
    case OutKind::Reset: {
      logEvent("resetting the connection");
      socket_->flush();
      // Linger on with a zero timeout makes close() send RST instead of FIN.
      const linger hard{1, 0};
      ::setsockopt(static_cast<int>(socket_->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                   sizeof hard);
      socket_->abort();
      break;
    }
  }
}
