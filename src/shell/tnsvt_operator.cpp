// What the run shows and asks of the operator: its boxes through the dialog
// seam, its echo in the console, the phases, the Begin caption, the idle
// timer, and the transfer's progress.
//
// The run reports progress after every record (several hundred times a
// second on a fast host). The window is a view: it keeps the latest values
// and puts them on screen at most ten times a second (never faster than the
// screen refreshes), so a run costs a few repaints a second rather than one
// a record; the final values are always shown.
#include "shell/TNSVT.h"

#include "shell/consoleedit.h"
#include "shell/controls.h"
#include "shell/dialogs.h"
#include "shell/statuslabel.h"
#include "shell/text.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace shell {

namespace {

constexpr double kMillisecondsPerSecond = 1000.0;
constexpr double kFallbackRefreshHz = 60.0;
// Progress is shown at most this often, and never faster than the screen
// refreshes: ten times a second reads as smooth, and a fast host's records
// (fifty a second at a 10 ms network delay) would otherwise each cost a
// repaint.
constexpr int kProgressIntervalMs = 100;
const std::uint8_t kLineBreak[] = {'\r', '\n'};

}  // namespace

// A box stops the run until it is answered: what the run has done so far is
// put on screen behind it first.
void TNSVT::Message(const std::string& text) {
  FlushProgress();
  dialogs_.Message(this, text);
}

bool TNSVT::Confirm(const std::string& text) {
  FlushProgress();
  return dialogs_.Confirm(this, text);
}

std::optional<std::string> TNSVT::Input(const std::string& caption, const std::string& prompt,
                                        int /*variable*/) {
  FlushProgress();
  return dialogs_.Input(this, caption, prompt, "");
}

void TNSVT::SetConsoleInput(bool on) {
  ConsoleEdit* memo = ui_.Memo1;
  if (!on && memo->hasFocus()) {
    // Disabling the focused console would hand the focus to the next
    // control in the tab chain (Begin, or the group field), and with it
    // whatever the operator types ahead. Until the host reads again those
    // keys go nowhere: not even Tab moves the focus (see event()).
    memo->clearFocus();
    consoleKeysHeld_ = true;
  }
  memo->setEnabled(on);
  // A caret shows where typing goes while the host reads; without input the
  // console looks inactive (its disabled colours).
  memo->setTextInteractionFlags(on ? Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard
                                   : Qt::TextSelectableByMouse);
  if (on) {
    consoleKeysHeld_ = false;
    memo->setFocus();
  }
}

void TNSVT::EchoLine(std::string_view echo) {
  AppendConsoleBytes(std::span(reinterpret_cast<const std::uint8_t*>(echo.data()), echo.size()));
  EndConsoleLine();
}

void TNSVT::EchoBytes(std::span<const std::uint8_t> bytes) {
  AppendConsoleBytes(bytes);
  AppendConsoleBytes(kLineBreak);
}

void TNSVT::ForgetUiPhase() {
  UiPhase = 0;  // no redraw: the stop's request for phase 2 then shows phase 1
}

void TNSVT::SetBeginCaption(const std::string& caption) {
  ui_.btnProcess->setText(Latin1(caption));
}

void TNSVT::SetIdleTimer(bool running) {
  if (running) {
    ui_.Timer1->start();
  } else {
    ui_.Timer1->stop();
  }
}

void TNSVT::ShowProgress(const install::TransferProgress& progress) {
  pendingProgress_ = PendingProgress{
      QString::fromLatin1(progress.status.data(), static_cast<qsizetype>(progress.status.size())),
      progress.filePercent, progress.overallPercent};
  if (frameTimer_.isActive()) {
    return;  // shown with the frame already waiting
  }
  // A change after a frame's time without one is shown at once (no timer,
  // no extra turn of the event loop); one that follows sooner waits for the
  // rest of the frame, together with any that come after it.
  const int frame = FrameMilliseconds();
  const qint64 since = sinceProgressShown_.isValid() ? sinceProgressShown_.elapsed() : frame;
  if (since >= frame || !isVisible()) {
    FlushProgress();
    return;
  }
  frameTimer_.start(static_cast<int>(frame - since));
}

int TNSVT::FrameMilliseconds() const {
  const QScreen* shownOn = screen();
  const double hz = shownOn != nullptr && shownOn->refreshRate() > 0 ? shownOn->refreshRate()
                                                                     : kFallbackRefreshHz;
  return std::max(kProgressIntervalMs, static_cast<int>(std::lround(kMillisecondsPerSecond / hz)));
}

void TNSVT::FlushProgress() {
  frameTimer_.stop();
  if (!pendingProgress_) {
    return;
  }
  const PendingProgress shown = *pendingProgress_;
  pendingProgress_.reset();
  sinceProgressShown_.start();
  ui_.lblStatus->SetStatusText(shown.status);
  ui_.pb1->setValue(shown.filePercent);
  ui_.pb2->setValue(shown.overallPercent);
}

}  // namespace shell
