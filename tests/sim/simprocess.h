// Runs mpe-host-sim as a child process on a free port with a fresh store,
// and reads the lines it prints to stderr.
#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

class SimProcess {
public:
  ~SimProcess();
  // Starts the simulator with `args` plus --listen 127.0.0.1:0 and --store;
  // waits for its "listening on" line. False when it did not come up.
  bool start(const QStringList& args);
  // Waits for the process to end; its exit code, or -1 on a time-out.
  int waitExit(int timeoutMs = 5000);
  // Everything printed to stderr so far.
  QString log();
  // Waits until stderr holds `text` (a session event, say).
  bool waitForLog(const QString& text, int timeoutMs = 5000);

  QString storePath(const QString& account, const QString& group, const QString& file) const;
  QByteArray storedBytes(const QString& account, const QString& group, const QString& file) const;
  // The attribute side file as key=value pairs.
  QMap<QString, QString> attributes(const QString& account, const QString& group,
                                    const QString& file) const;

  quint16 port = 0;
  QTemporaryDir store;
  QProcess process;

private:
  QString log_;
};
