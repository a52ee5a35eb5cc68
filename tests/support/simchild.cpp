// The simulator as a child process of a test or a benchmark.
#include "simchild.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>

#ifdef __linux__
#include <sys/prctl.h>

#include <csignal>
#endif

namespace support {

namespace {

// How often a wait looks at the child's output again when it goes to a file.
constexpr int kPollMs = 20;
// How often waitForLog looks again when nothing new arrived.
constexpr int kLogPollMs = 50;

}  // namespace

SimChild::SimChild(Ending ending, int endWaitMs) : ending_(ending), endWaitMs_(endWaitMs) {
  // The simulator prints nothing on stdout while it serves.
  process_.setStandardOutputFile(QProcess::nullDevice());
#ifdef __linux__
  // A test that crashes takes its simulator with it.
  process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
}

SimChild::~SimChild() {
  if (!running())
    return;
  if (ending_ == Ending::Terminate) {
    process_.terminate();
    if (process_.waitForFinished(endWaitMs_))
      return;
  }
  process_.kill();
  process_.waitForFinished(endWaitMs_);
}

void SimChild::setLogFile(const QString& path) {
  logFile_ = path;
  process_.setStandardErrorFile(path);
}

void SimChild::start(const QString& program, const QStringList& arguments) {
  process_.start(program, arguments);
}

bool SimChild::waitListening(int timeoutMs, QString* error) {
  if (!process_.waitForStarted(timeoutMs)) {
    if (error)
      *error = "cannot start " + process_.program() + ": " + process_.errorString();
    return false;
  }
  static const QRegularExpression listening("mpe-host-sim: listening on [0-9.]+:(\\d+)");
  QDeadlineTimer deadline(timeoutMs);
  for (;;) {
    const QString text = log();
    const QRegularExpressionMatch match = listening.match(text);
    if (match.hasMatch() && text.contains("mpe-host-sim: store ")) {
      port_ = static_cast<quint16>(match.captured(1).toUInt());
      return true;
    }
    if (!running() || deadline.hasExpired())
      break;
    waitForOutput(kPollMs);
  }
  if (error)
    *error = "the simulator did not say where it listens:\n" + log();
  return false;
}

QString SimChild::log() {
  if (!logFile_.isEmpty()) {
    QFile file(logFile_);
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
  }
  log_ += QString::fromLatin1(process_.readAllStandardError());
  return log_;
}

bool SimChild::waitForLog(const QString& text, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!log().contains(text)) {
    if (!running())
      return log().contains(text);
    if (deadline.hasExpired())
      return false;
    waitForOutput(kLogPollMs);
  }
  return true;
}

int SimChild::waitExit(int timeoutMs) {
  // waitForFinished is false for a child that has already ended.
  if (running() && !process_.waitForFinished(timeoutMs))
    return -1;
  log();
  return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

// Output that goes to a file raises no signal, so that wait sleeps instead
// (ending early when the child ends).
bool SimChild::waitForOutput(int timeoutMs) {
  return logFile_.isEmpty() ? process_.waitForReadyRead(timeoutMs)
                            : process_.waitForFinished(timeoutMs);
}

}  // namespace support
