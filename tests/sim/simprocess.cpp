// The simulator as a child process of a test.
#include "simprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>

SimProcess::~SimProcess() {
  if (process.state() != QProcess::NotRunning) {
    process.kill();
    process.waitForFinished(2000);
  }
}

bool SimProcess::start(const QStringList& args) {
  process.start(MPE_HOST_SIM_PATH,
                QStringList{"--listen", "127.0.0.1:0", "--store", store.path()} + args);
  if (!process.waitForStarted(3000))
    return false;
  static const QRegularExpression listening("mpe-host-sim: listening on 127\\.0\\.0\\.1:(\\d+)");
  QDeadlineTimer deadline(5000);
  while (!deadline.hasExpired()) {
    const QRegularExpressionMatch m = listening.match(log());
    if (m.hasMatch()) {
      port = static_cast<quint16>(m.captured(1).toUInt());
      return true;
    }
    if (!process.waitForReadyRead(100) && process.state() == QProcess::NotRunning)
      return false;
  }
  return false;
}

int SimProcess::waitExit(int timeoutMs) {
  if (!process.waitForFinished(timeoutMs))
    return -1;
  log();
  return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QString SimProcess::log() {
  log_ += QString::fromLatin1(process.readAllStandardError());
  return log_;
}

bool SimProcess::waitForLog(const QString& text, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!log().contains(text)) {
    if (deadline.hasExpired())
      return false;
    process.waitForReadyRead(50);
  }
  return true;
}

QString SimProcess::storePath(const QString& account, const QString& group,
                              const QString& file) const {
  return store.path() + "/" + account + "/" + group + "/" + file;
}

QByteArray SimProcess::storedBytes(const QString& account, const QString& group,
                                   const QString& file) const {
  QFile f(storePath(account, group, file));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QMap<QString, QString> SimProcess::attributes(const QString& account, const QString& group,
                                              const QString& file) const {
  QMap<QString, QString> out;
  QFile f(storePath(account, group, file) + ".attr");
  if (!f.open(QIODevice::ReadOnly))
    return out;
  for (const QByteArray& line : f.readAll().split('\n')) {
    const int eq = line.indexOf('=');
    if (eq > 0)
      out.insert(QString::fromLatin1(line.left(eq)), QString::fromLatin1(line.mid(eq + 1)));
  }
  return out;
}
