// Doubles for driving an installation Run without a connection or a
// window: a host link that records what the run sends and answers with
// what the test sets, and an operator that records what the run shows and
// answers its boxes from queues.
#pragma once

#include "install/operator.h"
#include "install/run.h"
#include "nsvt/hostlink.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace support {

// One terminal input the run sent, as its data bytes.
struct SentInput {
  enum class Kind { Line, Array, Block, Uncut };
  Kind kind;
  std::string data;
};

class RecordingHost final : public nsvt::HostLink {
public:
  std::vector<SentInput> sent;
  std::int32_t readLength = 1;  // HostReadLength
  bool localEcho = true;
  bool failSends = false;
  bool traceOn = false;
  std::vector<std::string> traceLines;

  bool SendLine(std::string_view text) override;
  bool SendArray(nsvt::ConstBytes bytes) override;
  bool blk_out(std::span<std::uint8_t, nsvt::kBlockSize> block) override;
  bool SendUncut(nsvt::ConstBytes bytes) override;
  std::int32_t HostReadLength() const override { return readLength; }
  bool LocalEcho() const override { return localEcho; }
  bool TraceOn() const override { return traceOn; }
  void TraceLine(std::string_view text) override { traceLines.emplace_back(text); }

private:
  bool Record(SentInput::Kind kind, std::string data);
  std::size_t Cut(std::size_t n) const;
};

// Boxes that never block: each is recorded, Confirm and Input answer from
// queues (Yes and Cancel when empty), and onBox runs while the box would be
// open. Shared by the recording operator and the window's recording boxes.
class BoxRecorder {
public:
  enum class Kind { Message, Error, Confirm, Input };
  struct Box {
    Kind kind;
    std::string text;  // for an error report, the status line the window would show
    std::string caption;
  };
  std::vector<Box> boxes;
  std::deque<bool> confirmAnswers;                      // Yes when empty
  std::deque<std::optional<std::string>> inputAnswers;  // Cancel when empty
  std::function<void(const Box&)> onBox;                // runs while the box would be open

  std::vector<std::string> Texts(Kind kind) const;
  std::size_t Count(Kind kind) const { return Texts(kind).size(); }
  bool Saw(Kind kind, const std::string& text) const;

protected:
  void Record(Kind kind, const std::string& text, const std::string& caption = {});
  bool AnswerConfirm(const std::string& text);
  std::optional<std::string> AnswerInput(const std::string& caption, const std::string& prompt);
};

class RecordingOperator final : public install::Operator, public BoxRecorder {
public:
  bool consoleInput = false;
  std::string console;      // what the run echoed, and the host output the rig showed
  bool keepConsole = true;  // off where a long run would grow it without end
  std::vector<int> phases;
  std::optional<install::TransferProgress> progress;
  std::string progressStatus;  // progress.status outlives the call only here
  std::string beginCaption = "&Begin";
  bool idleTimer = false;
  std::vector<std::string> commands;
  std::vector<install::RunEnd> ends;
  std::vector<int> errorCodes;

  void Message(const std::string& text) override { Record(Kind::Message, text); }
  bool Confirm(const std::string& text) override { return AnswerConfirm(text); }
  std::optional<std::string> Input(const std::string& caption, const std::string& prompt,
                                   int) override {
    return AnswerInput(caption, prompt);
  }
  void ReportError(int code, const std::string& text) override;
  void SetConsoleInput(bool on) override { consoleInput = on; }
  void EchoLine(std::string_view echo) override;
  void EchoBytes(std::span<const std::uint8_t> bytes) override;
  void SetUiPhase(int phase) override { phases.push_back(phase); }
  void ForgetUiPhase() override { phases.push_back(-1); }
  void ShowProgress(const install::TransferProgress& shown) override;
  void SetBeginCaption(const std::string& caption) override { beginCaption = caption; }
  void SetIdleTimer(bool running) override { idleTimer = running; }
  void CommandSent(std::string_view command) override { commands.emplace_back(command); }
  void RunEnded(install::RunEnd how) override { ends.push_back(how); }

  int Phase() const { return phases.empty() ? 0 : phases.back(); }

private:
  std::string status_;  // the status line an error report leaves
};

// A string table whose script is only the given lines: the shipped lines
// are blanked (an empty text counts as a missing entry); other entries come
// from the program's own table.
std::map<int, std::string> Script(std::initializer_list<std::pair<const int, std::string>> lines);
std::function<std::string(int)> TableWithOverrides(const std::map<int, std::string>& table);

// A run with both doubles, driven as a front end drives it: Answer is the
// host's output and its next read request.
class RunRig {
  std::map<int, std::string> table_;  // first: the run reads it as it is made

public:
  explicit RunRig(std::map<int, std::string> table = {});
  // A table of the caller's own (kept alive by it), and a lower bound on
  // local lines in a row (a fuzzer's, so loops end sooner).
  RunRig(install::TableLookup table, std::int32_t localLineLimit);
  static constexpr std::int32_t kPromptReadLength = 80;

  RecordingHost host;
  RecordingOperator op;
  install::Run run;

  // Begin with the group and account the fields would give (empty: the row
  // hidden).
  void Begin(const std::string& group = {}, const std::string& account = {});
  // The host's output (if any), shown in the console while the run's echo is
  // on, then its read request of readLength bytes.
  void Answer(const std::string& output, std::int32_t readLength = 80);
  // Terminal input sent since the last call, one entry per message.
  std::vector<std::string> Sent();
  std::vector<std::string> Messages() const { return op.Texts(RecordingOperator::Kind::Message); }
  std::string LastMessage() const;
  // The run is over and the operator has the console at the prompt.
  bool HandedBack() const { return !run.InProgress() && op.consoleInput; }

private:
  std::size_t mark_ = 0;
};

}  // namespace support
