#include "harness.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzzing {

namespace {

void DropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz: bound broken: %s\n", what);
  std::abort();
}

}  // namespace

void InitWindowing() {
  if (QApplication::instance() != nullptr) {
    return;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  qInstallMessageHandler(DropMessage);
  static int argc = 1;
  static char name[] = "zorbelix-fuzz";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // lives as long as the process

  static std::string folder = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
  folder += "/zorbelix-fuzz-XXXXXX";
  if (mkdtemp(folder.data()) == nullptr || chdir(folder.c_str()) != 0) {
    std::perror("zorbelix-fuzz: working folder");
    std::abort();
  }
  // A normal end removes it; after a crash it stays for a look.
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  });
}

void Settle() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

Chunker::Chunker(std::uint8_t seed) : state_(0x9E3779B9u ^ seed) {
  static constexpr std::size_t kLimits[] = {16, 300, 36288, 1};
  limit_ = kLimits[seed & 3];
}

std::size_t Chunker::Next() {
  state_ = state_ * 1664525u + 1013904223u;
  return 1 + (state_ >> 8) % limit_;
}

bool Chunker::Coin() {
  state_ = state_ * 1664525u + 1013904223u;
  return (state_ >> 20) & 1;
}

void CheckBounds(const TNSVT& window) {
  if (window.HostText.size() > TNSVT::kHostTextLimit) {
    Fail("HostText above kHostTextLimit");
  }
  if (window.RawHostCount < 0 ||
      static_cast<std::size_t>(window.RawHostCount) > window.RawHostData.size()) {
    Fail("RawHostCount outside RawHostData");
  }
  const QTextDocument* console = window.Memo1->document();
  if (console->characterCount() > TNSVT::kConsoleCharLimit) {
    Fail("console above kConsoleCharLimit characters");
  }
  // Twenty lines, and an empty one after a final line break.
  if (console->blockCount() > static_cast<int>(TNSVT::kConsoleLineLimit) + 1) {
    Fail("console above its line limit");
  }
}

void CheckShownAsText(const TNSVT& window) {
  for (const QLabel* label : {window.lblStatus, window.lblAction, window.lblLogonString}) {
    if (label->textFormat() != Qt::PlainText) {
      Fail("a label showing host text may render it as HTML");
    }
  }
}

Session::Session(std::map<int, std::string> table) : rig(std::move(table)) {
  rig.Connect();
}

void Session::StartInstallation(bool trace) {
  rig.LogOn();
  if (trace) {
    rig.modifiers = Qt::ControlModifier;
  }
  if (rig.window->btnProcess->isEnabled()) {
    rig.window->btnProcess->click();
  }
  rig.modifiers = Qt::NoModifier;
}

}  // namespace fuzzing
