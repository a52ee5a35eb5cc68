// mpe-host-sim as a child process of a test or a benchmark: started with the
// caller's arguments, waited for until it says where it listens, and ended
// with its owner. Qt Core alone, so that every test level and benchmark can
// use it.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace support {

class SimChild {
public:
  // How the child is ended when its owner goes: killed at once, or asked
  // to end (SIGTERM: it stops cleanly) and killed only if it does not.
  enum class Ending { Kill, Terminate };
  static constexpr int kDefaultEndWaitMs = 2000;
  static constexpr int kDefaultWaitMs = 5000;

  // The arguments that make the simulator listen on a free loopback port.
  static QStringList freePort() { return {"--listen", "127.0.0.1:0"}; }

  explicit SimChild(Ending ending = Ending::Kill, int endWaitMs = kDefaultEndWaitMs);
  ~SimChild();
  SimChild(const SimChild&) = delete;
  SimChild& operator=(const SimChild&) = delete;

  // Sends what the child prints on stderr to the file at path instead of
  // a pipe, so that nothing has to read it while it runs. Before start().
  void setLogFile(const QString& path);
  // Starts program with arguments; returns at once.
  void start(const QString& program, const QStringList& arguments);
  // Waits until the child has printed its "store" line (after the
  // "listening on" lines) and takes the port of the first one. False, with
  // the reason in error, when it ended or took longer than timeoutMs.
  bool waitListening(int timeoutMs, QString* error = nullptr);

  quint16 port() const { return port_; }
  qint64 pid() const { return process_.processId(); }
  bool running() const { return process_.state() != QProcess::NotRunning; }
  // Everything printed on stderr so far.
  QString log();
  // Waits until stderr holds text (a session event, say).
  bool waitForLog(const QString& text, int timeoutMs = kDefaultWaitMs);
  // Waits for the child to end: its exit code, or -1 on a time-out or crash.
  int waitExit(int timeoutMs = kDefaultWaitMs);

private:
  bool waitForOutput(int timeoutMs);

  QProcess process_;
  Ending ending_;
  int endWaitMs_;
  QString logFile_;
  QString log_;
  quint16 port_ = 0;
};

}  // namespace support
