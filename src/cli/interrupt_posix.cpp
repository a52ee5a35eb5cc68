// The interrupter on POSIX systems: the signal handler only writes the
// signal's number into a pipe whose other end a QSocketNotifier watches.
#include "cli/interrupt.h"

#include <QSocketNotifier>

#include <csignal>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace cli {

namespace {

constexpr int kReadEnd = 0;
constexpr int kWriteEnd = 1;
int signalPipe[2] = {-1, -1};
// SIGHUP: the terminal or the ssh session went away; the sessions end as
// for SIGTERM instead of being cut mid-transfer.
constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Async-signal-safe: one write, errno kept.
void OnSignal(int signalNumber) {
  const int savedErrno = errno;
  const unsigned char number = static_cast<unsigned char>(signalNumber);
  [[maybe_unused]] const ssize_t written = ::write(signalPipe[kWriteEnd], &number, 1);
  errno = savedErrno;
}

bool MakeSignalPipe() {
  if (::pipe(signalPipe) != 0) {
    return false;
  }
  for (int end : signalPipe) {
    ::fcntl(end, F_SETFD, FD_CLOEXEC);
    ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
  }
  return true;
}

// A signal ignored when the program started (nohup ignores SIGHUP) stays
// ignored: whoever started the program asked for that.
void SetHandlers(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signalNumber : kHandledSignals) {
    struct sigaction before {};
    if (::sigaction(signalNumber, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) {
      continue;
    }
    ::sigaction(signalNumber, &action, nullptr);
  }
}

}  // namespace

Interrupter::Interrupter(QObject* parent) : QObject(parent) {
  if (!MakeSignalPipe()) {
    return;
  }
  notifier_ = new QSocketNotifier(signalPipe[kReadEnd], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &Interrupter::ReadSignals);
  SetHandlers(OnSignal);
  ok_ = true;
}

Interrupter::~Interrupter() {
  if (ok_) {
    SetHandlers(SIG_DFL);
    notifier_->setEnabled(false);
    for (int& end : signalPipe) {
      ::close(end);
      end = -1;
    }
  }
}

void Interrupter::ReadSignals() {
  unsigned char number = 0;
  while (::read(signalPipe[kReadEnd], &number, 1) == 1) {
    emit Interrupted(number);
  }
}

void IgnoreClosedOutput() {
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace cli
