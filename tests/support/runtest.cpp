#include "runtest.h"

#include "install/errorreport.h"
#include "install/stringtable.h"

#include <algorithm>

namespace support {

// ---- RecordingHost ----

std::size_t RecordingHost::Cut(std::size_t n) const {
  return readLength != 0 && static_cast<std::size_t>(readLength) < n
             ? static_cast<std::size_t>(readLength)
             : n;
}

bool RecordingHost::Record(SentInput::Kind kind, std::string data) {
  if (failSends) {
    return false;
  }
  sent.push_back({kind, std::move(data)});
  return true;
}

bool RecordingHost::SendLine(std::string_view text) {
  if (text.size() > nsvt::kMaxTerminalData) {
    return false;
  }
  return Record(SentInput::Kind::Line, std::string(text.substr(0, Cut(text.size()))));
}

bool RecordingHost::SendArray(nsvt::ConstBytes bytes) {
  if (bytes.size() > nsvt::kMaxTerminalData) {
    return false;
  }
  const auto n = static_cast<std::ptrdiff_t>(Cut(bytes.size()));
  return Record(SentInput::Kind::Array, std::string(bytes.begin(), bytes.begin() + n));
}

bool RecordingHost::blk_out(std::span<std::uint8_t, nsvt::kBlockSize> block) {
  nsvt::CompleteBlock(block);
  return Record(SentInput::Kind::Block, std::string(block.begin(), block.end()));
}

bool RecordingHost::SendUncut(nsvt::ConstBytes bytes) {
  return Record(SentInput::Kind::Uncut, std::string(bytes.begin(), bytes.end()));
}

// ---- BoxRecorder and RecordingOperator ----

void BoxRecorder::Record(Kind kind, const std::string& text, const std::string& caption) {
  boxes.push_back({kind, text, caption});
  if (onBox) {
    onBox(boxes.back());
  }
}

bool BoxRecorder::AnswerConfirm(const std::string& text) {
  Record(Kind::Confirm, text);
  if (confirmAnswers.empty()) {
    return true;
  }
  const bool answer = confirmAnswers.front();
  confirmAnswers.pop_front();
  return answer;
}

std::optional<std::string> BoxRecorder::AnswerInput(const std::string& caption,
                                                    const std::string& prompt) {
  Record(Kind::Input, prompt, caption);
  if (inputAnswers.empty()) {
    return std::nullopt;
  }
  auto answer = inputAnswers.front();
  inputAnswers.pop_front();
  return answer;
}

std::vector<std::string> BoxRecorder::Texts(Kind kind) const {
  std::vector<std::string> texts;
  for (const Box& box : boxes) {
    if (box.kind == kind) {
      texts.push_back(box.text);
    }
  }
  return texts;
}

bool BoxRecorder::Saw(Kind kind, const std::string& text) const {
  const auto texts = Texts(kind);
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// As the window reports an error: the connect phase, the status line, and
// an error box with that line (the connection counts as up).
void RecordingOperator::ReportError(int code, const std::string& text) {
  errorCodes.push_back(code);
  if (install::ErrorActionFor(code) == install::ErrorAction::Disconnected) {
    status_ = install::kDisconnectedStatus;
    return;
  }
  phases.push_back(0);
  consoleInput = false;
  if (const auto line = install::ErrorStatusLine(code, text)) {
    status_ = *line;
  }
  if (install::ErrorShowsBox(code)) {
    Record(Kind::Error, status_);
  }
}

void RecordingOperator::EchoLine(std::string_view echo) {
  if (!keepConsole) {
    return;
  }
  console.append(echo);
  console.append("\r\n");
}

void RecordingOperator::EchoBytes(std::span<const std::uint8_t> bytes) {
  if (!keepConsole) {
    return;
  }
  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  console.append(bytes.begin(), end);
  console.append("\r\n");
}

void RecordingOperator::ShowProgress(const install::TransferProgress& shown) {
  progressStatus = shown.status;
  progress = shown;
  progress->status = progressStatus;
}

// ---- the string table ----

std::map<int, std::string> Script(std::initializer_list<std::pair<const int, std::string>> lines) {
  std::map<int, std::string> table;
  for (int id : {10, 22, 24, 26, 806, 808, 810, 900, 905, 910, 915, 920, 921, 940, 941}) {
    table[id] = "";
  }
  for (const auto& [id, text] : lines) {
    table[id] = text;
  }
  return table;
}

std::function<std::string(int)> TableWithOverrides(const std::map<int, std::string>& table) {
  return [&table](int id) {
    const auto found = table.find(id);
    if (found == table.end()) {
      return LoadTableString(id);
    }
    return found->second.substr(0, install::kTableStringLimit);
  };
}

// ---- RunRig ----

RunRig::RunRig(std::map<int, std::string> table)
    : table_(std::move(table)), run(host, op, TableWithOverrides(table_)) {
  host.readLength = kPromptReadLength;  // logged on, at a prompt
}

RunRig::RunRig(install::TableLookup table, std::int32_t localLineLimit)
    : run(host, op, std::move(table), localLineLimit) {
  host.readLength = kPromptReadLength;
}

void RunRig::Begin(const std::string& group, const std::string& account) {
  run.Begin(group, account);
}

void RunRig::Answer(const std::string& output, std::int32_t readLength) {
  if (!output.empty()) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(output.data());
    if (run.consoleEcho() && op.keepConsole) {
      op.console.append(output.substr(0, output.find('\0')));
    }
    run.HostOutput(std::span(bytes, output.size()));
  }
  host.readLength = readLength;
  // The front end's read request: a step of the run, or the console.
  if (run.InProgress()) {
    op.phases.push_back(3);
    run.DialogueStep();
  } else {
    op.consoleInput = true;
    op.phases.push_back(2);
  }
}

std::vector<std::string> RunRig::Sent() {
  std::vector<std::string> lines;
  for (std::size_t i = mark_; i < host.sent.size(); ++i) {
    lines.push_back(host.sent[i].data);
  }
  mark_ = host.sent.size();
  return lines;
}

std::string RunRig::LastMessage() const {
  const auto texts = Messages();
  return texts.empty() ? std::string() : texts.back();
}

}  // namespace support
