// The interrupter on Windows: a console control handler, which the system
// runs on a thread of its own, queues the signal to the event loop.
#include "cli/interrupt.h"

#include <csignal>

#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max, not the macros
#endif
#include <windows.h>

namespace cli {

namespace {

Interrupter* activeInterrupter = nullptr;  // not owned

// Runs on a thread of its own: the signal is queued to the event loop.
BOOL WINAPI ConsoleControl(DWORD /*event*/) {
  if (activeInterrupter == nullptr) {
    return FALSE;
  }
  QMetaObject::invokeMethod(
      activeInterrupter, [] { emit activeInterrupter->Interrupted(SIGINT); }, Qt::QueuedConnection);
  return TRUE;
}

}  // namespace

Interrupter::Interrupter(QObject* parent) : QObject(parent) {
  activeInterrupter = this;
  ok_ = SetConsoleCtrlHandler(ConsoleControl, TRUE) != 0;
}

Interrupter::~Interrupter() {
  SetConsoleCtrlHandler(ConsoleControl, FALSE);
  activeInterrupter = nullptr;
}

void Interrupter::ReadSignals() {}

// Windows has no SIGPIPE: a write to a closed pipe only fails.
void IgnoreClosedOutput() {}

}  // namespace cli
