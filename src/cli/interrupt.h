// Interrupter: turns Ctrl+C, SIGTERM and SIGHUP (on Windows, Ctrl+C, Ctrl+Break and
// the console's closing) into a Qt signal on the event loop's thread, so
// that ending the sessions happens there, never in a signal handler. On
// POSIX the handler only writes the signal's number into a pipe whose
// other end a QSocketNotifier watches. One file per platform:
// interrupt_posix.cpp, interrupt_win.cpp.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace cli {

class Interrupter final : public QObject {
  Q_OBJECT
public:
  // Installs the handlers; at most one Interrupter exists at a time. The
  // handlers stay in place until it is destroyed.
  explicit Interrupter(QObject* parent = nullptr);
  ~Interrupter() override;

  // Whether the handlers could be installed (a pipe could be made).
  bool ok() const { return ok_; }

signals:
  void Interrupted(int signalNumber);

private:
  void ReadSignals();

  bool ok_ = false;
  QSocketNotifier* notifier_ = nullptr;  // a Qt child, watching the signal pipe (POSIX)
};

// A reader of the output that goes away (a closed pipe) must not end the
// program in the middle of installations; the writes just fail.
void IgnoreClosedOutput();

}  // namespace cli
