// Fuzz target: the seams between the window and the rest. Arbitrary host
// bytes, cut into read events of sizes taken from the input, go through the
// socket double into the real window (offscreen) with its session and run:
// the phases, the console, Begin, the boxes, the progress shown, the exit
// paths. Slower than the headless targets (a window per input), so it is
// kept for what only the window does. Sends are captured, boxes are
// answered at once.
//
// Input: byte 0 flags, byte 1 chunk seed, then the host's byte stream.
//   flag 0x01  log on and press Begin first, so the bytes meet a running
//              installation (the shipped script)
//   flag 0x02  trace on (Ctrl held at Begin)
//   flag 0x04  bytes arrive while a box is open (as a nested event loop
//              would deliver them)
//   flag 0x08  close the window at the end (the exit path) instead of
//              destroying it
//   flag 0x10  connect again when the window has closed the connection
//   flag 0x20  the host closes the connection after the stream (the
//              program ends)
//   flag 0x40  the connection is reset after the stream (the window stays)
#include "harness.h"
#include "windowrig.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTextDocument>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using shell::TNSVT;
using shell::TNSVTControls;

namespace {

constexpr std::uint8_t kInstall = 0x01;
constexpr std::uint8_t kTrace = 0x02;
constexpr std::uint8_t kDuringBoxes = 0x04;
constexpr std::uint8_t kCloseAtEnd = 0x08;
constexpr std::uint8_t kReconnect = 0x10;
constexpr std::uint8_t kHostCloses = 0x20;
constexpr std::uint8_t kReset = 0x40;

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz: bound broken: %s\n", what);
  std::abort();
}

// The window's own bounds, besides the run's: the console's lines and
// characters.
void CheckWindow(const TNSVT& window) {
  fuzzing::CheckBounds(window.run());
  const QTextDocument* console = window.ui().Memo1->document();
  if (console->characterCount() > TNSVT::kConsoleCharLimit) {
    Fail("console above kConsoleCharLimit characters");
  }
  // Twenty lines, and an empty one after a final line break.
  if (console->blockCount() > TNSVT::kConsoleLineLimit + 1) {
    Fail("console above its line limit");
  }
}

// The labels that show host or script text show it as text (a label would
// otherwise render anything that starts like an HTML tag).
void CheckShownAsText(const TNSVT& window) {
  const TNSVTControls& ui = window.ui();
  for (const QLabel* label :
       {static_cast<const QLabel*>(ui.lblStatus), static_cast<const QLabel*>(ui.lblAction),
        static_cast<const QLabel*>(ui.lblLogonString)}) {
    if (label->textFormat() != Qt::PlainText) {
      Fail("a label showing host text may render it as HTML");
    }
  }
}

// The offscreen application, before the harness's own set-up.
void InitWindowing() {
  if (QCoreApplication::instance() == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "zorbelix-fuzz";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives as long as the process
  }
  fuzzing::InitApplication();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitWindowing();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InitWindowing();
  if (size < 2) {
    return 0;
  }
  const std::uint8_t flags = data[0];
  fuzzing::StreamFeeder feeder(std::span(data + 2, size - 2), data[1]);
  {
    support::WindowRig rig;
    TNSVT& window = *rig.window;
    rig.Connect();
    if (flags & kInstall) {
      rig.LogOn();
      if (flags & kTrace) {
        rig.modifiers = Qt::ControlModifier;
      }
      if (window.ui().btnProcess->isEnabled()) {
        window.ui().btnProcess->click();
      }
      rig.modifiers = Qt::NoModifier;
    }
    if (flags & kDuringBoxes) {
      rig.dialogs.onBox = [&](const support::RecordingDialogs::Box&) {
        feeder.ArriveDuringBox(*rig.socket);
      };
    }
    feeder.Feed(
        *rig.socket, (flags & kReconnect) != 0, [&] { rig.Connect(); }, [&] { return rig.ended; },
        [&] {
          if (feeder.chunker().Coin()) {
            window.Timer1Timer();
          }
          CheckWindow(window);
        });
    rig.dialogs.onBox = nullptr;
    fuzzing::StreamFeeder::EndConnection(*rig.socket, (flags & kReset) != 0,
                                         (flags & kHostCloses) != 0);
    if ((flags & kCloseAtEnd) && !rig.ended) {
      window.close();
    }
    CheckWindow(window);
    CheckShownAsText(window);
  }
  fuzzing::Settle();
  return 0;
}
