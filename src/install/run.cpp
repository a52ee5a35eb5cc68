// The dialogue step frame: the table from ActionCode to its handler, the
// step itself, the outcomes every state uses, the local states that end a
// run (90 stop, 98 log off, anything unexpected), the run's sending, and
// what it gathers of the host's output.
//
// NextScriptLine and DialogueStep hand control to each other: a state that
// finishes asks for the next line, and a line sets the next state. Here that
// is a loop inside DialogueStep rather than mutual recursion, so a long run
// of local lines costs no stack, and localLinesRun_ bounds how many local
// lines may follow each other without an answer to the host.
#include "install/run.h"

#include "install/hostfiles.h"
#include "install/stringtable.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

namespace install {

namespace {

// String-table entries the run reads.
constexpr int kIdRequiredLogon = 1010;
constexpr int kIdCommandError = 1051;
constexpr int kIdActionText = 1060;
constexpr int kIdGrandTotal = 1070;

const char kBeginCaption[] = "&Begin";
const char kNulShownAs = '~';

// The handler of every state, indexed by the state.
constexpr std::int32_t kLastState = kStateEchoResume;

}  // namespace

Run::Handler Run::HandlerFor(std::int32_t state) {
  static const auto table = [] {
    std::array<Handler, kLastState + 1> handlers{};
    const std::pair<DialogueState, Handler> entries[] = {
        {kStateDstat, &Run::StateDstat},
        {kStateDstatCheck, &Run::StateDstatCheck},
        {kStateBlockStart, &Run::StateBlockStart},
        {kStateGreeting, &Run::StateGreeting},
        {kStateChallenge, &Run::StateChallenge},
        {kStateDescriptor, &Run::StateDescriptor},
        {kStateHeader, &Run::StateHeader},
        {kStateBinaryConfirm, &Run::StateBinaryConfirm},
        {kStateBinaryData, &Run::StateBinaryData},
        {kStateBinaryEnd, &Run::StateBlockEnd},
        {kStateBinaryResume, &Run::StateResume},
        {kStateTextConfirm, &Run::StateTextConfirm},
        {kStateTextData, &Run::StateTextData},
        {kStateTextEnd, &Run::StateBlockEnd},
        {kStateTextResume, &Run::StateResume},
        {kStateSend1, &Run::StateSend1},
        {kStateSend1Check, &Run::StateSend1Check},
        {kStateSend1Resume, &Run::StateResume},
        {kStateSend2, &Run::StateSend2},
        {kStateSend2Check, &Run::StateSend2Check},
        {kStateSend2Resume, &Run::StateResume},
        {kStateRecordStart, &Run::StateRecordStart},
        {kStateFcopyStart, &Run::StateFcopyStart},
        {kStateFcopyFrom, &Run::StateFcopyFrom},
        {kStateFcopyConfirm, &Run::StateFcopyConfirm},
        {kStateDataRequest, &Run::StateDataRequest},
        {kStateRecord, &Run::StateRecord},
        {kStateEndOfData, &Run::StateEndOfData},
        {kStateFcopyEnding, &Run::StateFcopyEnding},
        {kStateRecordResume, &Run::StateResume},
        {kStateStop, &Run::StateStop},
        {kStateLogOff, &Run::StateLogOff},
        {kStateVerso, &Run::StateVerso},
        {kStateVersoCheck, &Run::StateVersoCheck},
        {kStateVersoResume, &Run::StateResume},
        {kStateVersu, &Run::StateVersu},
        {kStateVersuCheck, &Run::StateVersuCheck},
        {kStateVersuResume, &Run::StateResume},
        {kStateEcho, &Run::StateEcho},
        {kStateEchoResume, &Run::StateResume},
    };
    for (const auto& [state, handler] : entries) {
      handlers[static_cast<std::size_t>(state)] = handler;
    }
    return handlers;
  }();
  if (state == kStateNextLine) {
    return &Run::StateNextLine;
  }
  if (state < 0 || state > kLastState) {
    return nullptr;
  }
  return table[static_cast<std::size_t>(state)];
}

Run::Run(nsvt::HostLink& host, Operator& op, TableLookup table, std::int32_t localLineLimit)
    : host_(host),
      op_(op),
      table_(table ? std::move(table) : TableLookup(LoadTableString)),
      localLineLimit_(localLineLimit) {
  RequiredLogon = table_(kIdRequiredLogon);
  ActionText = table_(kIdActionText);
  CommandErrorText = table_(kIdCommandError);
  GrandTotal = static_cast<std::int32_t>(Number(table_(kIdGrandTotal)));
}

Run::~Run() = default;

void Run::SetDefaultAccount(const std::string& account) {
  ScriptVars_[kDefaultAccountVar] = account;
}

void Run::Begin(const std::string& group, const std::string& account) {
  ScriptVars_[0] = group;
  ScriptVars_[1] = account;
  if (RestartScript) {
    // Starting over means the script's first line, not the rest of a script
    // file an earlier run stopped in.
    ScriptLineNo = 1;
    if (ScriptFile.is_open()) {
      ScriptFile.close();
    }
    ScriptFile.clear();
    failurePathTaken_ = false;
    purgeName_.clear();
    purgeAnswered_ = false;
    savedName_.clear();
  }
  localLinesRun_ = 0;
  lastCommand_.clear();
  runEnding_ = RunEnd::Stopped;
  NextScriptLine();
}

void Run::DialogueStep() {
  const std::uint32_t run = runSerial_;
  for (;;) {
    const std::int32_t state = ActionCode;
    if (state != kStateNextLine) {
      localLinesRun_ = 0;  // every other state answers the host or ends the run
    }
    if (const Handler handler = HandlerFor(state)) {
      (this->*handler)();
    } else {
      StateUnexpected(state);
    }
    if (run != runSerial_) {
      return;  // the connection went while a box was open; AbandonRun ended the run
    }
    const bool nextLine = ActionCode == kStateNextLine;
    ++ActionCode;
    if (ActionCode == kStateIdle) {
      // The run is over: nothing may keep counting FCOPY's silence, and the
      // payload is not needed any more.
      op_.SetIdleTimer(false);
      ReleasePayload();
      op_.RunEnded(runEnding_);
    }
    if (!nextLine) {
      return;
    }
    if (!CarryOutNextLine() || run != runSerial_) {
      return;
    }
  }
}

// ---- local states ----

void Run::StateNextLine() {
  ConsoleEcho = true;
}

void Run::StateStop() {
  op_.SetUiPhase(2);
  op_.SetConsoleInput(true);
  ActionCode = kStatePassing;
}

void Run::StateLogOff() {
  ConsoleEcho = true;
  ClearHostText();
  SendLine(kLogOffCommand);
  ActionCode = kStatePassing;
}

void Run::StateUnexpected(std::int32_t state) {
  runEnding_ = RunEnd::ScriptError;
  op_.Message("unexpected value: " + std::to_string(state));
  op_.SetUiPhase(2);
  op_.SetConsoleInput(true);
  ActionCode = kStatePassing;
  SendLine("");
}

void Run::StateResume() {
  OutcomeContinue();
}

// ---- outcomes ----

bool Run::HostTextContains(std::string_view text) const {
  return !text.empty() && HostText.find(text) != std::string::npos;
}

bool Run::NamesErrorLine(int argument) const {
  const ScriptField& field = LineFields_[static_cast<std::size_t>(argument)];
  return LineNumber(field) != 0 || BeyondLineRange(field);
}

void Run::JumpTo(const ScriptField& field) {
  if (BeyondLineRange(field)) {
    // Kept as the script wrote it: the next fetch refuses it by this text.
    unreachableLine_ = field.Text;
    ScriptLineNo = kNoScriptLine;
    return;
  }
  unreachableLine_.clear();
  ScriptLineNo = LineNumber(field);
}

void Run::OutcomeContinue() {
  ConsoleEcho = true;
  ActionCode = kStateNextLine;
}

void Run::OutcomeErrorLine(int argument) {
  if (NamesErrorLine(argument)) {
    failurePathTaken_ = true;
    JumpTo(LineFields_[static_cast<std::size_t>(argument)]);
  }
}

void Run::OutcomeStop(const std::string& text) {
  failurePathTaken_ = true;
  ActionCode = kStateStopped;
  ConsoleEcho = true;
  op_.Message(text);
}

void Run::OutcomeStopWithCode(int code, const std::string& text) {
  failurePathTaken_ = true;
  ActionCode = kStateStopped;
  ConsoleEcho = true;
  op_.ReportError(code, text);
}

void Run::OutcomeAbortWithCode(int code, const std::string& text) {
  failurePathTaken_ = true;
  ActionCode = kStatePassing;
  ConsoleEcho = true;
  runEnding_ = RunEnd::Aborted;
  op_.ReportError(code, text);
}

// The host's read that led here (or the prompt the operator was at when
// Begin was pressed) stays unanswered: the console is handed back, so the
// operator's next line answers it, exactly as after STOP.
void Run::EndRunWithMessage(const std::string& text) {
  ActionCode = kStateIdle;
  localLinesRun_ = 0;
  ConsoleEcho = true;
  op_.SetIdleTimer(false);
  ReleasePayload();
  op_.Message(text);
  op_.SetUiPhase(2);
  op_.SetConsoleInput(true);
  op_.RunEnded(RunEnd::ScriptError);
}

void Run::AbandonRun() {
  const bool wasRunning = ActionCode != kStateIdle;
  ++runSerial_;
  ActionCode = kStateIdle;
  localLinesRun_ = 0;
  ConsoleEcho = true;
  recordTransfer_.copyFailed = false;
  lastCommand_.clear();
  op_.SetIdleTimer(false);
  ReleasePayload();
  RestartScriptFromTop();
  if (wasRunning) {
    op_.RunEnded(RunEnd::Abandoned);
  }
}

// Where a run stood is tied to the session it ran in: a line after a PAUSE,
// LOGON or a command cut short (in the string table or inside a script file)
// only makes sense after what came before it on that host. So a new
// connection starts the script over, as at program start, with the texts
// the script changed put back.
void Run::RestartScriptFromTop() {
  RestartScript = true;
  ScriptLineNo = 1;
  if (ScriptFile.is_open()) {
    ScriptFile.close();
  }
  ScriptFile.clear();
  RequiredLogon = table_(kIdRequiredLogon);
  ActionText = table_(kIdActionText);
  op_.SetBeginCaption(kBeginCaption);
}

std::string Run::StepText() const {
  const std::string& name = PayloadName();
  const bool recordCopy = ActionCode >= kStateFcopyFrom && ActionCode <= kStateFcopyEnding;
  const bool blockCopy = ActionCode >= kStateBlockStart && ActionCode <= kStateTextResume;
  if (recordCopy && PayloadSize > 0) {
    return "copying " + name + ", after record " + std::to_string(BlockNumber - 1) + " of " +
           std::to_string(PayloadSize / static_cast<std::int32_t>(kRecordBytes));
  }
  if (blockCopy && PayloadSize > 0) {
    return "sending " + name + ", after block " + std::to_string(BlockNumber - 1);
  }
  if (!lastCommand_.empty()) {
    return "waiting for the answer to \"" + lastCommand_ + "\"";
  }
  return "running script line " + std::to_string(ScriptLineNo - 1);
}

std::string Run::RunStepText() const {
  return StepText() + "; " + HostFileText();
}

// The program's file on the host goes through three stages in the shipped
// script: the previous copy stays until PURGE is answered, then there is
// none, and once SAVE has been sent the new one may be in place whatever
// the host answers (or fails to answer).
std::string Run::HostFileText() const {
  if (!savedName_.empty()) {
    return savedName_ + " may be installed: check with LISTFILE " +
           QualifiedFileName(savedName_, RequiredLogon) + ",2";
  }
  const bool named = !PayloadName().empty();
  const std::string name = named ? PayloadName() : std::string("the host program");
  if (purgeName_.empty()) {
    return name + " was not installed, and the previous " + (named ? name : "one") +
           ", if any, is still on the host";
  }
  // A PURGE the host may have carried out before the connection went.
  return name + " was not installed, and the previous " + purgeName_ +
         (purgeAnswered_ ? " has been purged" : " may have been purged");
}

std::string Run::IncompleteInstallationText(const std::string& cause) const {
  return "The installation did not complete: " + cause + " while " + StepText() + ".\r\n" +
         SentenceStart(HostFileText()) + ".";
}

void Run::NoteCommandAnswered() {
  if (PurgedFileName(lastCommand_)) {
    purgeAnswered_ = true;
  }
}

// ---- terminal data ----

void Run::HostOutput(nsvt::ConstBytes data) {
  // RawHostData keeps what fits; the excess of a flood that no dialogue
  // clears is dropped, so the buffer is never overrun.
  const std::size_t room = RawHostData.size() - static_cast<std::size_t>(RawHostCount);
  const std::size_t kept = std::min(data.size(), room);
  std::copy_n(data.begin(), kept, RawHostData.begin() + RawHostCount);
  RawHostCount += static_cast<std::int32_t>(kept);

  const std::size_t start = HostText.size();
  HostText.append(reinterpret_cast<const char*>(data.data()), data.size());
  std::replace(HostText.begin() + static_cast<std::ptrdiff_t>(start), HostText.end(), '\0',
               kNulShownAs);
  if (HostText.size() > kHostTextLimit) {
    // The output after the head goes, oldest first, half the limit at once
    // so a flood costs little per message; what the states judge at fixed
    // places (the 7th character) stays where it was.
    HostText.erase(kHostTextHead, HostText.size() - kHostTextLimit / 2);
  }
}

void Run::ClearHostText(bool withRaw) {
  HostText.clear();
  if (withRaw) {
    RawHostCount = 0;
  }
}

// ---- sending ----

bool Run::SendLine(std::string_view text) {
  if (text.size() > nsvt::kMaxTerminalData) {
    return false;  // nothing is sent, shown or traced
  }
  const bool sent = host_.SendLine(text);
  if (ConsoleEcho) {
    std::string echo(text);
    echo.push_back(' ');
    op_.EchoLine(echo);
  }
  op_.SetConsoleInput(false);
  return sent;
}

bool Run::SendCommand(std::string_view text) {
  lastCommand_ = text;
  if (const std::optional<std::string> purged = PurgedFileName(text)) {
    purgeName_ = *purged;
    purgeAnswered_ = false;
  }
  if (const std::optional<std::string> saved = SavedFileName(text)) {
    savedName_ = *saved;
  }
  op_.CommandSent(text);
  return SendLine(text);
}

bool Run::SendArray(nsvt::ConstBytes bytes) {
  if (bytes.size() > nsvt::kMaxTerminalData) {
    return false;
  }
  op_.SetConsoleInput(false);
  const bool sent = host_.SendArray(bytes);
  if (host_.LocalEcho()) {
    op_.EchoBytes(bytes);
  }
  return sent;
}

bool Run::blk_out(std::span<std::uint8_t, nsvt::kBlockSize> block) {
  op_.SetConsoleInput(false);
  return host_.blk_out(block);
}

}  // namespace install
