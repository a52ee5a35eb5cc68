// The simulator as a child process of a test.
#include "simprocess.h"

#include <QFile>

namespace {

constexpr int kStartWaitMs = 5000;

}  // namespace

bool SimProcess::start(const QStringList& args) {
  SimChild::start(MPE_HOST_SIM_PATH, freePort() + QStringList{"--store", store.path()} + args);
  return waitListening(kStartWaitMs);
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
