// The install-script interpreter and the dialogue step frame: fetching a
// line (string table or script file), splitting and expanding it, carrying
// out its command, the outcomes every state uses, and the local states that
// end a run (90 stop, 98 log off, anything unexpected).
//
// NextScriptLine and DialogueStep hand control to each other: a state that
// finishes asks for the next line, and a line sets the next state. Here that
// is a loop inside DialogueStep rather than mutual recursion, so a long run
// of local lines costs no stack, and LocalLinesRun bounds how many local
// lines may follow each other without an answer to the host.
#include "../shell/TNSVT.h"
#include "../shell/text.h"

#include "../shell/dialogs.h"
#include "../shell/stringtable.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <limits>
#include <string>
#include <string_view>

namespace {

constexpr std::int32_t kLastScriptId = 1000;  // the search for a line stops here

// Local states.
constexpr std::int32_t kStateNextLine = -2;
constexpr std::int32_t kStatePassing = -1;  // + 1 = idle
constexpr std::int32_t kStateStopped = 89;  // + 1 = 90
constexpr std::int32_t kStateStop = 90;
constexpr std::int32_t kStateLogOff = 98;

// String-table entries the script changes at run time.
constexpr int kIdRequiredLogon = 1010;
constexpr int kIdActionText = 1060;
const char kBeginCaption[] = "&Begin";

// First states of the host exchanges.
constexpr std::int32_t kStateDstat = 3;
constexpr std::int32_t kStateBlockStart = 10;
constexpr std::int32_t kStateSend1 = 51;
constexpr std::int32_t kStateSend2 = 61;
constexpr std::int32_t kStateRecordStart = 71;
constexpr std::int32_t kStateFcopyStarted = 73;  // FCOPY runs from here
constexpr std::int32_t kStateFcopyEnding = 78;
constexpr std::int32_t kStateTextEnd = 23;  // last state of the block transfers
constexpr std::int32_t kStateVerso = 111;
constexpr std::int32_t kStateVersu = 121;
constexpr std::int32_t kStateEcho = 181;

constexpr std::size_t kRecordBytes = 256;
constexpr std::int32_t kMinBlockPayload = static_cast<std::int32_t>(install::kRecordSize);

const char kInputBoxCaption[] = "Input Box";
const char kResourceError[] = "Resource Error";

const std::string& Arg(const TNSVT& w, std::size_t n) {
  return w.LineFields[n].Text;
}

// Where the line being carried out came from, for messages.
std::string LinePlace(const TNSVT& w, bool fromFile, std::int32_t id) {
  if (fromFile) {
    return "line " + std::to_string(w.ScriptFileLineNo) + " of the script file " + w.ScriptFileName;
  }
  return "script line " + std::to_string(id);
}

// Everything a block transfer's records can carry: the host file name fits
// the descriptor, and there are data after the payload's own header.
bool CheckBlockPayload(TNSVT& w, const std::string& hostName) {
  const std::string& name = w.ScriptVars[install::kPayloadNameVar];
  std::string problem;
  if (hostName.size() > install::kDescNameCapacity) {
    problem = "the host file name " + hostName + " is longer than " +
              std::to_string(install::kDescNameCapacity) + " characters.";
  } else if (w.PayloadSize < kMinBlockPayload) {
    problem = "it holds " + std::to_string(w.PayloadSize) +
              " bytes; a block transfer needs at least " + std::to_string(kMinBlockPayload) + ".";
  } else if (w.PayloadSize == kMinBlockPayload &&
             install::HasOwnHeader(std::span(w.PayloadData, install::kRecordSize))) {
    problem = "it holds only its own transfer header and no data.";
  }
  if (problem.empty()) {
    return true;
  }
  w.dialogs().Message(&w, "Resource Error: the payload " + name + " cannot be sent: " + problem);
  w.ReleasePayload();
  return false;
}

// The command table. Each returns the ActionCode the line sets.
using Command = std::int32_t (*)(TNSVT&);

std::int32_t CmdSend1(TNSVT&) {
  return kStateSend1;
}
std::int32_t CmdSend2(TNSVT&) {
  return kStateSend2;
}
std::int32_t CmdVerso(TNSVT&) {
  return kStateVerso;
}
std::int32_t CmdVersu(TNSVT&) {
  return kStateVersu;
}
std::int32_t CmdEcho(TNSVT&) {
  return kStateEcho;
}
std::int32_t CmdDstat(TNSVT&) {
  return kStateDstat;
}
std::int32_t CmdStop(TNSVT&) {
  return kStateStop;
}
std::int32_t CmdExit(TNSVT&) {
  return kStateLogOff;
}

template <std::size_t Var>
std::int32_t CmdAsk(TNSVT& w) {
  const auto answer = w.dialogs().Input(&w, kInputBoxCaption, Arg(w, 1), "");
  w.ScriptVars[Var] = answer.value_or(std::string());
  return kStateNextLine;
}

template <std::size_t Var>
std::int32_t CmdLet(TNSVT& w) {
  w.ScriptVars[Var] = Arg(w, 1);
  return kStateNextLine;
}

std::int32_t CmdMsgw(TNSVT& w) {
  w.ActionText = Arg(w, 1);
  return kStateNextLine;
}

std::int32_t CmdAskc(TNSVT& w) {
  return w.dialogs().Confirm(&w, Arg(w, 1)) ? kStateNextLine : kStateStop;
}

std::int32_t CmdMsgb(TNSVT& w) {
  w.dialogs().Message(&w, Arg(w, 1));
  return kStateNextLine;
}

std::int32_t CmdGoto(TNSVT& w) {
  w.ScriptLineNo = install::LineNumber(w.LineFields[1]);
  return kStateNextLine;
}

std::int32_t CmdFile(TNSVT& w) {
  // A FILE line inside a script file switches to the new file.
  if (w.ScriptFile.is_open()) {
    w.ScriptFile.close();
  }
  w.ScriptFile.clear();
  w.ScriptFile.open(Arg(w, 1), std::ios::in | std::ios::binary);
  if (w.ScriptFile.is_open()) {
    w.ScriptFileName = Arg(w, 1);
    w.ScriptFileLineNo = 0;
  } else {
    w.ScriptFile.clear();
    if (w.LineFields[2].Number != 0) {
      w.ScriptLineNo = install::LineNumber(w.LineFields[2]);
    }
  }
  return kStateNextLine;
}

std::int32_t CmdLogon(TNSVT& w) {
  w.UiPhase = 0;  // no redraw: the stop's request for phase 2 then shows phase 1
  w.RequiredLogon = Arg(w, 1);
  w.btnProcess->setText(Latin1(Arg(w, 2)));
  w.RestartScript = false;
  return kStateStop;
}

std::int32_t CmdPause(TNSVT& w) {
  w.btnProcess->setText(Latin1(Arg(w, 1)));
  w.RestartScript = false;
  return kStateStop;
}

// Loads the payload named by argument 1; on failure the second box and the
// log-off.
bool LoadPayload(TNSVT& w) {
  w.ScriptVars[install::kPayloadNameVar] = Arg(w, 1);
  if (w.InitCodeGeneration(Arg(w, 1))) {
    return true;
  }
  w.dialogs().Message(&w, kResourceError);
  return false;
}

std::int32_t CmdXferU(TNSVT& w) {
  if (!LoadPayload(w)) {
    return kStateLogOff;
  }
  // Only whole records reach the host, so a payload that does not fill its
  // last record is refused rather than cut short or changed by padding.
  const auto size = static_cast<std::size_t>(w.PayloadSize);
  if (size < kRecordBytes || size % kRecordBytes != 0) {
    w.dialogs().Message(&w, "Resource Error: the payload " + Arg(w, 1) + " holds " +
                                std::to_string(size) +
                                " bytes; a record transfer carries whole records of 256 bytes "
                                "only.");
    w.ReleasePayload();
    return kStateLogOff;
  }
  return kStateRecordStart;
}

std::int32_t CmdXferA(TNSVT& w) {
  if (!LoadPayload(w) || !CheckBlockPayload(w, Arg(w, 1))) {
    return kStateLogOff;
  }
  w.PrepareTextTransfer(static_cast<std::uint16_t>(w.LineFields[2].Number), w.LineFields[3].Number);
  return kStateBlockStart;
}

std::int32_t CmdXferB(TNSVT& w) {
  if (!LoadPayload(w) || !CheckBlockPayload(w, Arg(w, 1))) {
    return kStateLogOff;
  }
  w.PrepareBinaryTransfer();
  return kStateBlockStart;
}

std::int32_t NamedTransfer(TNSVT& w, const std::string& hostName) {
  if (!LoadPayload(w)) {
    return kStateLogOff;
  }
  if (!w.UnpackPayloadInto()) {
    w.dialogs().Message(&w, kResourceError);
    w.ReleasePayload();
    return kStateLogOff;
  }
  if (!CheckBlockPayload(w, hostName)) {
    return kStateLogOff;
  }
  w.PrepareNamedTransfer(hostName);
  return kStateBlockStart;
}

std::int32_t CmdXferC(TNSVT& w) {
  return NamedTransfer(w, Arg(w, 1));
}
std::int32_t CmdXferD(TNSVT& w) {
  return NamedTransfer(w, Arg(w, 1) + "." + w.ScriptVars[0] + "." + w.ScriptVars[1]);
}
std::int32_t CmdXferE(TNSVT& w) {
  return NamedTransfer(w, Arg(w, 1) + ".PUB.VORDANEX");
}

struct CommandEntry {
  std::string_view name;
  bool expand;  // %0 to %9 in argument 1
  Command run;
};

constexpr CommandEntry kCommands[] = {
    {"SEND1", true, CmdSend1},  {"SEND2", true, CmdSend2},  {"ASK0", false, CmdAsk<0>},
    {"ASK1", false, CmdAsk<1>}, {"ASK2", false, CmdAsk<2>}, {"LET0", false, CmdLet<0>},
    {"LET1", false, CmdLet<1>}, {"LET2", false, CmdLet<2>}, {"VERSO", true, CmdVerso},
    {"VERSU", true, CmdVersu},  {"XFERU", false, CmdXferU}, {"XFERA", false, CmdXferA},
    {"XFERB", false, CmdXferB}, {"XFERC", false, CmdXferC}, {"XFERD", false, CmdXferD},
    {"XFERE", false, CmdXferE}, {"ECHO", false, CmdEcho},   {"DSTAT", false, CmdDstat},
    {"MSGW", false, CmdMsgw},   {"ASKC", true, CmdAskc},    {"MSGB", true, CmdMsgb},
    {"GOTO", false, CmdGoto},   {"FILE", false, CmdFile},   {"STOP", false, CmdStop},
    {"EXIT", false, CmdExit},   {"LOGON", false, CmdLogon}, {"PAUSE", false, CmdPause},
};

const CommandEntry* FindCommand(std::string_view name) {
  for (const CommandEntry& entry : kCommands) {
    if (entry.name == name) {
      return &entry;
    }
  }
  return nullptr;
}

// Everything NextScriptLine does before the dialogue step: fetches the next
// line, splits and expands it and carries out its command. Returns false when the run has ended
// instead (no line, a broken line, too many local lines in a row); the
// dialogue step must then not run.
bool CarryOutNextLine(TNSVT& w) {
  if (++w.LocalLinesRun > TNSVT::kLocalLineLimit) {
    const std::string where = w.ScriptFile.is_open()
                                  ? "in the script file " + w.ScriptFileName
                                  : "before script line " + std::to_string(w.ScriptLineNo);
    w.EndRunWithMessage("The install script carried out " + std::to_string(TNSVT::kLocalLineLimit) +
                        " lines in a row without waiting for the host, so it is caught in a "
                        "loop. The installation was stopped " +
                        where + ".");
    return false;
  }

  std::string line;
  bool fromFile = false;
  std::int32_t id = w.ScriptLineNo;
  if (w.ScriptFile.is_open()) {
    fromFile = true;
    ++w.ScriptFileLineNo;
    std::getline(w.ScriptFile, line);
    const bool readError = w.ScriptFile.bad() || (w.ScriptFile.fail() && !w.ScriptFile.eof());
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();  // a file written with CR LF line ends
    }
    if (readError) {
      const std::string place = LinePlace(w, true, 0);
      w.ScriptFile.close();
      w.ScriptFile.clear();
      w.EndRunWithMessage("The script file could not be read at " + place + ".");
      return false;
    }
    if (w.ScriptFile.peek() == std::ifstream::traits_type::eof()) {
      w.ScriptFile.close();
      w.ScriptFile.clear();
    }
  } else {
    const std::int32_t first = w.ScriptLineNo;
    if (first < 0) {
      // A jump below the first entry (a number of 2^31 or more read as a
      // line number) names no line; searching up from it would take
      // billions of reads.
      w.EndRunWithMessage("The install script has no line to carry out: there is no script line " +
                          std::to_string(first) + ".");
      return false;
    }
    do {
      id = w.ScriptLineNo;
      line = w.TableString(id).substr(0, shell::kTableStringLimit);
      w.ScriptLineNo = id < std::numeric_limits<std::int32_t>::max() ? id + 1 : id;
    } while (line.empty() && w.ScriptLineNo <= kLastScriptId && w.ScriptLineNo != id);
    if (line.empty()) {
      const std::string range = first < kLastScriptId
                                    ? "script lines " + std::to_string(first) + " to " +
                                          std::to_string(kLastScriptId) + " are"
                                    : "script line " + std::to_string(first) + " is";
      w.EndRunWithMessage("The install script has no line to carry out: " + range + " empty.");
      return false;
    }
  }
  if (line.empty()) {
    w.EndRunWithMessage("The install script stopped at an empty " + LinePlace(w, true, 0) + ".");
    return false;
  }

  install::ParseScriptLine(line, w.LineFields);
  const CommandEntry* command = FindCommand(w.LineFields[0].Text);
  if (command == nullptr) {
    w.dialogs().Message(&w, "Invalid script command: " + w.LineFields[0].Text);
    return true;  // ActionCode stays; the step's unexpected-value branch ends the run
  }
  if (command->expand) {
    const install::ExpandResult expanded =
        install::ExpandVariables(w.LineFields[1].Text, w.ScriptVars);
    if (expanded != install::ExpandResult::Ok) {
      const std::string why = expanded == install::ExpandResult::BadReference
                                  ? "a \"%\" in it is not followed by a digit 0 to 9"
                                  : "its variables refer to each other without end";
      w.EndRunWithMessage("The install script cannot go on at " + LinePlace(w, fromFile, id) +
                          ": " + why + ".\r\n" + line);
      return false;
    }
  }
  w.ActionCode = command->run(w);
  return true;
}

}  // namespace

void TNSVT::NextScriptLine() {
  const std::uint32_t run = RunSerial;
  if (CarryOutNextLine(*this) && run == RunSerial) {
    DialogueStep();
  }
}

void TNSVT::DialogueStep() {
  const std::uint32_t run = RunSerial;
  for (;;) {
    const std::int32_t state = ActionCode;
    if (state != kStateNextLine) {
      LocalLinesRun = 0;  // every other state answers the host or ends the run
    }
    switch (state) {
      case kStateNextLine:
        ConsoleEcho = true;
        break;
      case kStateStop:
        SetUiPhase(2);
        SetConsoleInput(true);
        ActionCode = kStatePassing;
        break;
      case kStateLogOff:
        ConsoleEcho = true;
        ClearHostText(false);
        SendLine("BYE");
        ActionCode = kStatePassing;
        break;
      default:
        if (!RunDialogueState(state) && !RunUploadState(state)) {
          dialogs().Message(this, "unexpected value: " + std::to_string(state));
          SetUiPhase(2);
          SetConsoleInput(true);
          ActionCode = kStatePassing;
          SendLine("");
        }
        break;
    }
    if (run != RunSerial) {
      return;  // the connection went while a box was open; AbandonRun ended the run
    }
    const bool nextLine = ActionCode == kStateNextLine;
    ++ActionCode;
    if (ActionCode == 0) {
      // The run is over: nothing may keep counting FCOPY's silence, and the
      // payload is not needed any more.
      Timer1->stop();
      ReleasePayload();
    }
    if (!nextLine) {
      return;
    }
    if (!CarryOutNextLine(*this) || run != RunSerial) {
      return;
    }
  }
}

bool TNSVT::HostTextContains(std::string_view text) const {
  return !text.empty() && HostText.find(text) != std::string::npos;
}

bool TNSVT::NamesErrorLine(int argument) const {
  return install::LineNumber(LineFields[static_cast<std::size_t>(argument)]) != 0;
}

void TNSVT::OutcomeContinue() {
  ConsoleEcho = true;
  ActionCode = kStateNextLine;
}

void TNSVT::OutcomeErrorLine(int argument) {
  if (NamesErrorLine(argument)) {
    ScriptLineNo = install::LineNumber(LineFields[static_cast<std::size_t>(argument)]);
  }
}

void TNSVT::OutcomeStop(const std::string& text) {
  ActionCode = kStateStopped;
  ConsoleEcho = true;
  dialogs().Message(this, text);
}

void TNSVT::OutcomeStopWithCode(int code, const std::string& text) {
  ActionCode = kStateStopped;
  ConsoleEcho = true;
  ReportError(code, text);
}

void TNSVT::OutcomeAbortWithCode(int code, const std::string& text) {
  ActionCode = kStatePassing;
  ConsoleEcho = true;
  ReportError(code, text);
}

// The host's read that led here (or the prompt the operator was at when
// Begin was pressed) stays unanswered: the console is handed back, so the
// operator's next line answers it, exactly as after STOP.
void TNSVT::EndRunWithMessage(const std::string& text) {
  ActionCode = 0;
  LocalLinesRun = 0;
  ConsoleEcho = true;
  Timer1->stop();
  ReleasePayload();
  dialogs().Message(this, text);
  SetUiPhase(2);
  SetConsoleInput(true);
}

void TNSVT::AbandonRun() {
  ++RunSerial;
  ActionCode = 0;
  LocalLinesRun = 0;
  ConsoleEcho = true;
  RecordCopyFailed = false;
  LastCommand.clear();
  if (Timer1 != nullptr) {
    Timer1->stop();
  }
  ReleasePayload();
  RestartScriptFromTop();
}

// Where a run stood is tied to the session it ran in: a line after a PAUSE,
// LOGON or a command cut short (in the string table or inside a script file)
// only makes sense after what came before it on that host. So a new
// connection starts the script over, as at program start, with the texts
// the script changed put back.
void TNSVT::RestartScriptFromTop() {
  RestartScript = true;
  ScriptLineNo = 1;
  if (ScriptFile.is_open()) {
    ScriptFile.close();
  }
  ScriptFile.clear();
  RequiredLogon = TableString(kIdRequiredLogon);
  ActionText = TableString(kIdActionText);
  if (btnProcess != nullptr) {
    btnProcess->setText(kBeginCaption);
  }
}

std::string TNSVT::RunStepText() const {
  const std::string& name = ScriptVars[install::kPayloadNameVar];
  const bool recordCopy = ActionCode >= kStateFcopyStarted && ActionCode <= kStateFcopyEnding;
  const bool blockCopy = ActionCode >= kStateBlockStart && ActionCode <= kStateTextEnd;
  if (recordCopy && PayloadSize > 0) {
    return "copying " + name + ", after record " + std::to_string(BlockNumber - 1) + " of " +
           std::to_string(PayloadSize / static_cast<std::int32_t>(kRecordBytes));
  }
  if (blockCopy && PayloadSize > 0) {
    return "sending " + name + ", after block " + std::to_string(BlockNumber - 1);
  }
  if (!LastCommand.empty()) {
    return "waiting for the answer to \"" + LastCommand + "\"";
  }
  return "running script line " + std::to_string(ScriptLineNo - 1);
}

std::string TNSVT::IncompleteInstallationText(const std::string& step) const {
  const std::string& name = ScriptVars[install::kPayloadNameVar];
  return "The installation did not complete: the host closed the connection while " + step +
         ".\r\n" + (name.empty() ? std::string("The host program") : name) + " was not installed.";
}

bool TNSVT::SendCommand(std::string_view text) {
  LastCommand = text;
  return SendLine(text);
}
