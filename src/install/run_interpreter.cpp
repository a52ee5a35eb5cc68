// The install-script interpreter: fetching a line (string table or script
// file), splitting and expanding it, and carrying out its command, which
// sets the next ActionCode.
#include "install/run.h"

#include "install/stringtable.h"

#include <limits>
#include <string>
#include <string_view>

namespace install {

namespace {

constexpr std::int32_t kLastScriptId = 1000;  // the search for a line stops here
constexpr std::int32_t kMinBlockPayload = static_cast<std::int32_t>(kTransferRecordSize);

const char kInputBoxCaption[] = "Input Box";
const char kResourceError[] = "Resource Error";

}  // namespace

struct Run::CommandEntry {
  std::string_view name;
  bool expand;                      // %0 to %9 in argument 1
  std::int32_t (Run::*carryOut)();  // returns the ActionCode the line sets
};

const Run::CommandEntry* Run::FindCommand(std::string_view name) {
  static const CommandEntry kCommands[] = {
      {"SEND1", true, &Run::CmdSend1},  {"SEND2", true, &Run::CmdSend2},
      {"ASK0", false, &Run::CmdAsk<0>}, {"ASK1", false, &Run::CmdAsk<1>},
      {"ASK2", false, &Run::CmdAsk<2>}, {"LET0", false, &Run::CmdLet<0>},
      {"LET1", false, &Run::CmdLet<1>}, {"LET2", false, &Run::CmdLet<2>},
      {"VERSO", true, &Run::CmdVerso},  {"VERSU", true, &Run::CmdVersu},
      {"XFERU", false, &Run::CmdXferU}, {"XFERA", false, &Run::CmdXferA},
      {"XFERB", false, &Run::CmdXferB}, {"XFERC", false, &Run::CmdXferC},
      {"XFERD", false, &Run::CmdXferD}, {"XFERE", false, &Run::CmdXferE},
      {"ECHO", false, &Run::CmdEcho},   {"DSTAT", false, &Run::CmdDstat},
      {"MSGW", false, &Run::CmdMsgw},   {"ASKC", true, &Run::CmdAskc},
      {"MSGB", true, &Run::CmdMsgb},    {"GOTO", false, &Run::CmdGoto},
      {"FILE", false, &Run::CmdFile},   {"STOP", false, &Run::CmdStop},
      {"EXIT", false, &Run::CmdExit},   {"LOGON", false, &Run::CmdLogon},
      {"PAUSE", false, &Run::CmdPause},
  };
  for (const CommandEntry& entry : kCommands) {
    if (entry.name == name) {
      return &entry;
    }
  }
  return nullptr;
}

// ---- commands ----

std::int32_t Run::CmdSend1() {
  return kStateSend1;
}
std::int32_t Run::CmdSend2() {
  return kStateSend2;
}
std::int32_t Run::CmdVerso() {
  return kStateVerso;
}
std::int32_t Run::CmdVersu() {
  return kStateVersu;
}
std::int32_t Run::CmdEcho() {
  return kStateEcho;
}
std::int32_t Run::CmdDstat() {
  return kStateDstat;
}
std::int32_t Run::CmdStop() {
  runEnding_ = RunEnd::Stopped;
  return kStateStop;
}
std::int32_t Run::CmdExit() {
  runEnding_ = RunEnd::LoggedOff;
  return kStateLogOff;
}

// A payload that cannot be loaded or sent: the session is logged off as EXIT
// does, but the run ends as a failure.
std::int32_t Run::RefusePayload() {
  runEnding_ = RunEnd::PayloadRefused;
  return kStateLogOff;
}

template <std::size_t Var>
std::int32_t Run::CmdAsk() {
  const auto answer = op_.Input(kInputBoxCaption, Arg(1), static_cast<int>(Var));
  ScriptVars_[Var] = answer.value_or(std::string());
  return kStateNextLine;
}

template <std::size_t Var>
std::int32_t Run::CmdLet() {
  ScriptVars_[Var] = Arg(1);
  return kStateNextLine;
}

std::int32_t Run::CmdMsgw() {
  ActionText = Arg(1);
  return kStateNextLine;
}

std::int32_t Run::CmdAskc() {
  if (op_.Confirm(Arg(1))) {
    return kStateNextLine;
  }
  runEnding_ = RunEnd::Stopped;
  return kStateStop;
}

std::int32_t Run::CmdMsgb() {
  op_.Message(Arg(1));
  return kStateNextLine;
}

std::int32_t Run::CmdGoto() {
  JumpTo(LineFields_[1]);
  return kStateNextLine;
}

std::int32_t Run::CmdFile() {
  // A FILE line inside a script file switches to the new file.
  if (ScriptFile.is_open()) {
    ScriptFile.close();
  }
  ScriptFile.clear();
  ScriptFile.open(Arg(1), std::ios::in | std::ios::binary);
  // A folder opens like a file on some systems and fails at the first read:
  // it is a file that cannot be opened, checked on the stream just opened.
  if (ScriptFile.is_open() && (ScriptFile.peek(), ScriptFile.bad())) {
    ScriptFile.close();
  }
  if (ScriptFile.is_open()) {
    scriptFileName_ = Arg(1);
    scriptFileLineNo_ = 0;
  } else {
    ScriptFile.clear();
    if (NamesErrorLine(2)) {
      JumpTo(LineFields_[2]);
    }
  }
  return kStateNextLine;
}

std::int32_t Run::CmdLogon() {
  op_.ForgetUiPhase();  // the stop's request for phase 2 then shows phase 1
  RequiredLogon = Arg(1);
  op_.SetBeginCaption(Arg(2));
  RestartScript = false;
  runEnding_ = RunEnd::Paused;
  return kStateStop;
}

std::int32_t Run::CmdPause() {
  op_.SetBeginCaption(Arg(1));
  RestartScript = false;
  runEnding_ = RunEnd::Paused;
  return kStateStop;
}

// Loads the payload named by argument 1; on failure the second box and the
// log-off.
bool Run::LoadPayload() {
  ScriptVars_[kPayloadNameVar] = Arg(1);
  if (InitCodeGeneration(Arg(1))) {
    return true;
  }
  op_.Message(kResourceError);
  return false;
}

// Everything a block transfer's records can carry: the host file name fits
// the descriptor, and there are data after the payload's own header.
bool Run::CheckBlockPayload(const std::string& hostName) {
  std::string problem;
  if (hostName.size() > kDescNameCapacity) {
    problem = "the host file name " + hostName + " is longer than " +
              std::to_string(kDescNameCapacity) + " characters.";
  } else if (PayloadSize < kMinBlockPayload) {
    problem = "it holds " + std::to_string(PayloadSize) +
              " bytes; a block transfer needs at least " + std::to_string(kMinBlockPayload) + ".";
  } else if (PayloadSize == kMinBlockPayload &&
             HasOwnHeader(std::span(PayloadData, kTransferRecordSize))) {
    problem = "it holds only its own transfer header and no data.";
  }
  if (problem.empty()) {
    return true;
  }
  op_.Message("Resource Error: the payload " + PayloadName() + " cannot be sent: " + problem);
  ReleasePayload();
  return false;
}

std::int32_t Run::CmdXferU() {
  if (!LoadPayload()) {
    return RefusePayload();
  }
  // Only whole records reach the host, so a payload that does not fill its
  // last record is refused rather than cut short or changed by padding.
  const auto size = static_cast<std::size_t>(PayloadSize);
  if (size < kRecordBytes || size % kRecordBytes != 0) {
    op_.Message("Resource Error: the payload " + Arg(1) + " holds " + std::to_string(size) +
                " bytes; a record transfer carries whole records of 256 bytes only.");
    ReleasePayload();
    return RefusePayload();
  }
  return kStateRecordStart;
}

std::int32_t Run::CmdXferA() {
  if (!LoadPayload() || !CheckBlockPayload(Arg(1))) {
    return RefusePayload();
  }
  PrepareTextTransfer(static_cast<std::uint16_t>(LineFields_[2].Number), LineFields_[3].Number);
  return kStateBlockStart;
}

std::int32_t Run::CmdXferB() {
  if (!LoadPayload() || !CheckBlockPayload(Arg(1))) {
    return RefusePayload();
  }
  PrepareBinaryTransfer();
  return kStateBlockStart;
}

std::int32_t Run::NamedTransfer(const std::string& hostName) {
  if (!LoadPayload()) {
    return RefusePayload();
  }
  if (!UnpackPayloadInto()) {
    op_.Message(kResourceError);
    ReleasePayload();
    return RefusePayload();
  }
  if (!CheckBlockPayload(hostName)) {
    return RefusePayload();
  }
  PrepareNamedTransfer(hostName);
  return kStateBlockStart;
}

std::int32_t Run::CmdXferC() {
  return NamedTransfer(Arg(1));
}
std::int32_t Run::CmdXferD() {
  return NamedTransfer(Arg(1) + "." + ScriptVars_[0] + "." + ScriptVars_[1]);
}
std::int32_t Run::CmdXferE() {
  return NamedTransfer(Arg(1) + ".PUB.VORDANEX");
}

// ---- fetching and carrying out lines ----

// Where the line being carried out came from, for messages.
std::string Run::LinePlace(bool fromFile, std::int32_t id) const {
  if (fromFile) {
    return "line " + std::to_string(scriptFileLineNo_) + " of the script file " + scriptFileName_;
  }
  return "script line " + std::to_string(id);
}

// The next line from the script file, or else the string table. False when
// the run has been ended instead.
bool Run::FetchLine(std::string& line, bool& fromFile, std::int32_t& id) {
  id = ScriptLineNo;
  fromFile = ScriptFile.is_open();
  if (fromFile) {
    ++scriptFileLineNo_;
    std::getline(ScriptFile, line);
    const bool readError = ScriptFile.bad() || (ScriptFile.fail() && !ScriptFile.eof());
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();  // a file written with CR LF line ends
    }
    if (readError) {
      const std::string place = LinePlace(true, 0);
      ScriptFile.close();
      ScriptFile.clear();
      EndRunWithMessage("The script file could not be read at " + place + ".");
      return false;
    }
    if (ScriptFile.peek() == std::ifstream::traits_type::eof()) {
      ScriptFile.close();
      ScriptFile.clear();
    }
    if (line.empty()) {
      EndRunWithMessage("The install script stopped at an empty " + LinePlace(true, 0) + ".");
      return false;
    }
    return true;
  }

  const std::int32_t first = ScriptLineNo;
  if (first < 0) {
    // A jump below the first entry (a number of 2^31 or more read as a line
    // number) names no line; searching up from it would take billions of
    // reads.
    EndRunWithMessage("The install script has no line to carry out: there is no script line " +
                      (unreachableLine_.empty() ? std::to_string(first) : unreachableLine_) + ".");
    return false;
  }
  do {
    id = ScriptLineNo;
    line = table_(id).substr(0, kTableStringLimit);
    ScriptLineNo = id < std::numeric_limits<std::int32_t>::max() ? id + 1 : id;
  } while (line.empty() && ScriptLineNo <= kLastScriptId && ScriptLineNo != id);
  if (line.empty()) {
    const std::string range = first < kLastScriptId
                                  ? "script lines " + std::to_string(first) + " to " +
                                        std::to_string(kLastScriptId) + " are"
                                  : "script line " + std::to_string(first) + " is";
    EndRunWithMessage("The install script has no line to carry out: " + range + " empty.");
    return false;
  }
  return true;
}

bool Run::CarryOutNextLine() {
  if (++localLinesRun_ > localLineLimit_) {
    const std::string where = ScriptFile.is_open()
                                  ? "in the script file " + scriptFileName_
                                  : "before script line " + std::to_string(ScriptLineNo);
    EndRunWithMessage("The install script carried out " + std::to_string(localLineLimit_) +
                      " lines in a row without waiting for the host, so it is caught in a "
                      "loop. The installation was stopped " +
                      where + ".");
    return false;
  }

  std::string line;
  bool fromFile = false;
  std::int32_t id = 0;
  if (!FetchLine(line, fromFile, id)) {
    return false;
  }

  ParseScriptLine(line, LineFields_);
  const CommandEntry* command = FindCommand(LineFields_[0].Text);
  if (command == nullptr) {
    op_.Message("Invalid script command: " + LineFields_[0].Text);
    return true;  // ActionCode stays; the step's unexpected-value branch ends the run
  }
  if (command->expand) {
    const ExpandResult expanded = ExpandVariables(LineFields_[1].Text, ScriptVars_);
    if (expanded != ExpandResult::Ok) {
      const std::string why = expanded == ExpandResult::BadReference
                                  ? "a \"%\" in it is not followed by a digit 0 to 9"
                                  : "its variables refer to each other without end";
      EndRunWithMessage("The install script cannot go on at " + LinePlace(fromFile, id) + ": " +
                        why + ".\r\n" + line);
      return false;
    }
  }
  ActionCode = (this->*command->carryOut)();
  return true;
}

void Run::NextScriptLine() {
  const std::uint32_t run = runSerial_;
  if (CarryOutNextLine() && run == runSerial_) {
    DialogueStep();
  }
}

}  // namespace install
