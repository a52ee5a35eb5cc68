// Fuzz target: the install script, without a connection or a window.
// Arbitrary script text is run by the installation Run, as string-table
// lines or as the lines of a script file started with FILE, against a host
// link that answers each prompt with output and a read request made from
// the input.
//
// Input: byte 0 flags, then the script text, a NUL byte, and the host's
// answers. Script lines are separated by line feeds; string-table line i
// (from 0) gets id i + 1.
//   flag 0x01  the lines are a script file: the table starts it with FILE
//              and then holds the same lines
//   flag 0x02  trace on
//   flag 0x04  confirmation boxes answered No, input boxes with the next
//              answer's text (Yes and Cancel otherwise)
//   flag 0x08  the connection goes at the end (the run is abandoned)
//   flag 0x10  press Begin again after a run has ended, while answers last
// Answers: one control byte c, one length byte n, n bytes.
//   c & 0x80   the n bytes are host output with no read request after them
//   otherwise  host output of the n bytes unless c & 0x40, then a read
//              request whose length is 80, 0, 1 or 256 by (c >> 4) & 3;
//              c & 0x04 first turns the host's echo off (c & 0x02) or on;
//              c & 0x08 makes the host's writes fail for that answer
#include "harness.h"

#include "install/stringtable.h"

#include <algorithm>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::uint8_t kAsFile = 0x01;
constexpr std::uint8_t kTrace = 0x02;
constexpr std::uint8_t kAnswerBoxes = 0x04;
constexpr std::uint8_t kAbandonAtEnd = 0x08;
constexpr std::uint8_t kBeginAgain = 0x10;

constexpr std::uint8_t kRawOutput = 0x80;
constexpr std::uint8_t kReadOnly = 0x40;
constexpr std::uint8_t kFailWrites = 0x08;
constexpr std::uint8_t kSetEcho = 0x04;
constexpr std::uint8_t kEchoOff = 0x02;
constexpr int kReadLengthShift = 4;
constexpr std::int32_t kReadLengths[] = {80, 0, 1, 256};

constexpr std::size_t kScriptIdLimit = 1000;  // the string table's script ids are 1 to 1000
// Local lines in a row before a run counts as caught in a loop: far below
// the program's bound, so a looping input costs little, and still reached.
constexpr std::int32_t kFuzzLocalLineLimit = 64;
constexpr int kBeginLimit = 4;
const char kScriptFileName[] = "script.txt";

// The fuzzed lines as the string table's script (ids 1 to 1000, every
// other script id empty); entries above 1000 are the program's own.
class ScriptTable {
public:
  ScriptTable(std::string_view script, bool asFile) {
    if (asFile) {
      lines_.push_back(std::string("FILE~") + kScriptFileName);
    }
    while (!script.empty() && lines_.size() < kScriptIdLimit) {
      const std::size_t end = script.find('\n');
      lines_.emplace_back(script.substr(0, end));
      script = end == std::string_view::npos ? std::string_view{} : script.substr(end + 1);
    }
  }
  std::string Lookup(int id) const {
    if (id > static_cast<int>(kScriptIdLimit)) {
      return LoadTableString(id);
    }
    if (id < 1 || id > static_cast<int>(lines_.size())) {
      return {};
    }
    return lines_[static_cast<std::size_t>(id - 1)].substr(0, install::kTableStringLimit);
  }

private:
  std::vector<std::string> lines_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::InitApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::InitApplication();
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

  const ScriptTable table(script, (flags & kAsFile) != 0);
  support::RunRig rig([&table](int id) { return table.Lookup(id); }, kFuzzLocalLineLimit);
  rig.op.keepConsole = false;
  rig.host.traceOn = (flags & kTrace) != 0;
  if (flags & kAnswerBoxes) {
    rig.op.onBox = [&](const support::RecordingOperator::Box& box) {
      if (box.kind == support::RecordingOperator::Kind::Confirm) {
        rig.op.confirmAnswers.push_back(false);
      } else if (box.kind == support::RecordingOperator::Kind::Input && answers.size() > 1) {
        const std::size_t n = std::min<std::size_t>(answers[1], answers.size() - 2);
        rig.op.inputAnswers.push_back(
            std::string(answers.begin() + 2, answers.begin() + 2 + static_cast<std::ptrdiff_t>(n)));
      }
    };
  }

  rig.Begin();
  int begins = 1;
  while (!answers.empty()) {
    if (!rig.run.InProgress() && (flags & kBeginAgain) && begins < kBeginLimit) {
      ++begins;
      rig.Begin();
      continue;
    }
    const std::uint8_t control = answers[0];
    const std::size_t n =
        answers.size() > 1 ? std::min<std::size_t>(answers[1], answers.size() - 2) : 0;
    const auto bytes = answers.subspan(std::min<std::size_t>(2, answers.size()), n);
    answers = answers.subspan(std::min(answers.size(), 2 + n));
    const std::string text(bytes.begin(), bytes.end());

    rig.host.failSends = (control & kFailWrites) != 0;
    if (control & kRawOutput) {
      rig.run.HostOutput(bytes);
    } else {
      if (control & kSetEcho) {
        rig.host.localEcho = (control & kEchoOff) == 0;
      }
      rig.Answer((control & kReadOnly) ? std::string() : text,
                 kReadLengths[(control >> kReadLengthShift) & 3]);
    }
    rig.host.sent.clear();  // what went out is not judged here
    fuzzing::CheckBounds(rig.run);
  }
  rig.op.onBox = nullptr;
  if (flags & kAbandonAtEnd) {
    rig.run.AbandonRun();
  }
  fuzzing::CheckBounds(rig.run);
  return 0;
}
