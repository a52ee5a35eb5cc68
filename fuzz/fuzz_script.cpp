// Fuzz target: the install script. Arbitrary script text is run by the real
// window (offscreen), as string-table lines or as the lines of a script file
// started with FILE, against a host that answers each prompt with output and
// a read request made from the input (or with raw bytes).
//
// Input: byte 0 flags, then the script text, a NUL byte, and the host's
// answers. Script lines are separated by line feeds; string-table line i
// (from 0) gets id i + 1.
//   flag 0x01  the lines are a script file: the table starts it with FILE
//              and then holds the same lines
//   flag 0x02  trace on (Ctrl held at Begin)
//   flag 0x04  confirmation boxes answered No, input boxes with the next
//              answer's text (Yes and Cancel otherwise)
//   flag 0x08  close the window at the end (the exit path)
//   flag 0x10  press Begin again after a run has ended, while answers last
// Answers: one control byte c, one length byte n, n bytes.
//   c & 0x80   the n bytes go to the window as they are (any framing)
//   otherwise  a TERM_IO with the n bytes (no new line when c & 0x01),
//              unless c & 0x40, then a read request whose length is
//              80, 0, 1 or 256 by (c >> 4) & 3; c & 0x08 sends a logon
//              notice with the bytes instead of the TERM_IO; c & 0x04 a
//              terminal settings request turning echo off (c & 0x02) or on
#include "harness.h"

#include <QCoreApplication>
#include <QPushButton>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <string_view>

namespace {

constexpr std::uint8_t kAsFile = 0x01;
constexpr std::uint8_t kTrace = 0x02;
constexpr std::uint8_t kAnswerBoxes = 0x04;
constexpr std::uint8_t kCloseAtEnd = 0x08;
constexpr std::uint8_t kBeginAgain = 0x10;

constexpr int kScriptIdLimit = 1000;  // the string table's script ids are 1 to 1000
constexpr int kBeginLimit = 4;
const char kScriptFileName[] = "script.txt";

std::map<int, std::string> ScriptTable(std::string_view script, bool asFile) {
  std::map<int, std::string> table;
  for (int id = 1; id <= kScriptIdLimit; ++id) {
    table[id] = "";  // only the fuzzed lines: no entry of the shipped script
  }
  int id = 1;
  if (asFile) {
    table[id++] = std::string("FILE~") + kScriptFileName;
  }
  while (!script.empty() && id <= kScriptIdLimit) {
    const std::size_t end = script.find('\n');
    table[id++] = std::string(script.substr(0, end));
    script = end == std::string_view::npos ? std::string_view{} : script.substr(end + 1);
  }
  return table;
}

support::Bytes Answer(std::uint8_t control, std::span<const std::uint8_t> bytes) {
  namespace host = support::host;
  if (control & 0x80) {
    return support::Bytes(bytes.begin(), bytes.end());
  }
  support::Bytes answer;
  const auto add = [&answer](const support::Bytes& message) {
    answer.insert(answer.end(), message.begin(), message.end());
  };
  const std::string text(bytes.begin(), bytes.end());
  if (control & 0x04) {
    add(host::Settings(0x8000, (control & 0x02) ? 1 : 0));
  }
  if (!(control & 0x40)) {
    add((control & 0x08) ? host::LogonNotice(text.substr(0, 80))
                         : host::TermIo(text, (control & 0x01) ? 0xD0 : 0));
  }
  static constexpr std::uint16_t kReadLengths[] = {80, 0, 1, 256};
  add(host::ReadRequest(kReadLengths[(control >> 4) & 3]));
  return answer;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::InitWindowing();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::InitWindowing();
  if (size < 1) {
    return 0;
  }
  const std::uint8_t flags = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t split = rest.find('\0');
  const std::string_view script = rest.substr(0, split);
  std::span<const std::uint8_t> answers;
  if (split != std::string_view::npos) {
    answers = std::span(data + 1 + split + 1, size - 1 - split - 1);
  }

  if (flags & kAsFile) {
    std::ofstream file(kScriptFileName, std::ios::binary | std::ios::trunc);
    file.write(script.data(), static_cast<std::streamsize>(script.size()));
  }

  {
    fuzzing::Session session(ScriptTable(script, (flags & kAsFile) != 0));
    support::WindowRig& rig = session.rig;
    TNSVT& window = *rig.window;

    const auto nextAnswer = [&]() -> support::Bytes {
      const std::uint8_t control = answers[0];
      const std::size_t n =
          answers.size() > 1 ? std::min<std::size_t>(answers[1], answers.size() - 2) : 0;
      const auto bytes = answers.subspan(std::min<std::size_t>(2, answers.size()), n);
      answers = answers.subspan(std::min(answers.size(), 2 + n));
      return Answer(control, bytes);
    };
    if (flags & kAnswerBoxes) {
      rig.dialogs.onBox = [&](const support::RecordingDialogs::Box& box) {
        if (box.kind == support::RecordingDialogs::Kind::Confirm) {
          rig.dialogs.confirmAnswers.push_back(false);
        } else if (box.kind == support::RecordingDialogs::Kind::Input && answers.size() > 1) {
          const std::size_t n = std::min<std::size_t>(answers[1], answers.size() - 2);
          rig.dialogs.inputAnswers.push_back(std::string(
              answers.begin() + 2, answers.begin() + 2 + static_cast<std::ptrdiff_t>(n)));
        }
      };
    }

    session.StartInstallation((flags & kTrace) != 0);
    int begins = 1;
    while (!answers.empty() && !rig.ended && rig.socket->Connected()) {
      if (window.ActionCode == 0 && (flags & kBeginAgain) && window.btnProcess->isEnabled() &&
          begins < kBeginLimit) {
        ++begins;
        window.btnProcess->click();
        continue;
      }
      rig.socket->Inject(nextAnswer());
      QCoreApplication::processEvents();
      fuzzing::CheckBounds(window);
    }
    rig.dialogs.onBox = nullptr;
    if ((flags & kCloseAtEnd) && !rig.ended) {
      window.close();
    }
    fuzzing::CheckBounds(window);
    fuzzing::CheckShownAsText(window);
  }
  fuzzing::Settle();
  return 0;
}
