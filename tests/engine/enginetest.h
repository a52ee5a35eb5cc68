// A logged-on window with the test playing the host: it answers each step
// with the host's output and a read request, and reads back what the
// installer sent since it last looked.
#pragma once

#include "testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace enginetest {

using support::Bytes;
using Kind = support::RecordingDialogs::Kind;

// A string table whose script is only the given lines: the shipped lines are
// blanked (an empty text counts as a missing entry).
inline std::map<int, std::string> Script(
    std::initializer_list<std::pair<const int, std::string>> lines) {
  std::map<int, std::string> table;
  for (int id : {10, 22, 24, 26, 806, 808, 810, 900, 905, 910, 915, 920, 921, 940, 941}) {
    table[id] = "";
  }
  for (const auto& [id, text] : lines) {
    table[id] = text;
  }
  return table;
}

class Session {
public:
  explicit Session(std::map<int, std::string> table = {}, QStringList arguments = {})
      : rig(std::move(table), std::move(arguments)) {
    rig.Connect();
    rig.LogOn();
    mark_ = rig.socket->sent.size();
  }

  support::WindowRig rig;
  TNSVT& w() { return *rig.window; }

  void Begin() { w().btnProcessClick(); }
  // The host's output (if any), then its read request.
  void Answer(const std::string& output, std::uint16_t readLength = 80) {
    if (!output.empty()) {
      rig.Host(support::host::TermIo(output));
    }
    rig.Host(support::host::ReadRequest(readLength));
  }
  // Terminal input sent since the last call, one entry per message.
  std::vector<std::string> Sent() {
    std::vector<std::string> lines = rig.SentLines(mark_);
    mark_ = rig.socket->sent.size();
    return lines;
  }
  std::vector<std::string> Messages() const { return rig.dialogs.Texts(Kind::Message); }
  std::string LastMessage() const {
    const auto texts = Messages();
    return texts.empty() ? std::string() : texts.back();
  }
  // The run is over and the operator has the console at the prompt.
  bool HandedBack() { return w().ActionCode == 0 && w().Memo1->isEnabled(); }

private:
  std::size_t mark_ = 0;
};

// Runs each test in a fresh temporary folder, where script files and the
// trace are made.
class InTempDir {
public:
  InTempDir() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
  ~InTempDir() { QDir::setCurrent(previous_); }
  QString Path(const QString& name) const { return dir_.filePath(name); }

private:
  QString previous_;
  QTemporaryDir dir_;
};

}  // namespace enginetest
