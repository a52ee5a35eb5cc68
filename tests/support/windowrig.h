// Test doubles for driving the installer window without a display, a
// network or a person: boxes that record and answer, a socket the test plays
// the host through, a real loopback host, and host-side message makers.
#pragma once

#include "runtest.h"
#include "sessiontest.h"
#include "shell/TNSVT.h"
#include "shell/consoleedit.h"
#include "shell/controls.h"
#include "shell/dialogs.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace support {

// The window's boxes, recorded and answered without blocking.
class RecordingDialogs final : public shell::Dialogs, public BoxRecorder {
public:
  void Message(QWidget*, const std::string& text) override { Record(Kind::Message, text); }
  void Error(QWidget*, const std::string& text) override { Record(Kind::Error, text); }
  bool Confirm(QWidget*, const std::string& text) override { return AnswerConfirm(text); }
  std::optional<std::string> Input(QWidget*, const std::string& caption, const std::string& prompt,
                                   const std::string&) override {
    return AnswerInput(caption, prompt);
  }
};

// A window with recording boxes and a capture socket, the string table
// optionally overridden entry by entry (an empty text stands for a missing
// entry).
class WindowRig {
public:
  explicit WindowRig(std::map<int, std::string> table = {}, QStringList arguments = {});
  ~WindowRig();

  RecordingDialogs dialogs;
  CaptureSocket* socket = nullptr;
  std::unique_ptr<shell::TNSVT> window;
  Qt::KeyboardModifiers modifiers = Qt::NoModifier;
  bool ended = false;  // the window asked the program to end
  int exitStatus = 0;  // with this status

  // Types the host name and presses Connect.
  void Connect(const QString& host = QStringLiteral("127.0.0.1"));
  void Host(const Bytes& bytes) { socket->Inject(bytes); }
  // Negotiation, the first read, the logon notice and a read of 80: the
  // window ends at an MPE prompt with Begin enabled.
  void LogOn(const std::string& logon = "MANAGER.SYS,PUB");
  // The texts of the terminal input messages sent so far, from index from.
  std::vector<std::string> SentLines(std::size_t from = 0) const;
  std::string ConsoleText() const;

private:
  std::map<int, std::string> table_;
};

}  // namespace support
