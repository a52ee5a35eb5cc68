// Run: the installation run. It holds the install-script interpreter, the
// host dialogue and upload states, the loaded payload, and what the host
// wrote since a state last judged it (HostText, RawHostData). It talks to the
// host only through a HostLink (the NS/VT session) and to the operator only
// through an Operator (the window, the command-line installer, a test).
//
// The front end drives it: Begin when the operator starts the script,
// HostOutput for every piece of the host's terminal output, DialogueStep for
// every read request while InProgress(), AbandonRun when the connection is
// gone. Everything runs on one thread; an Operator call may open a modal box
// whose event loop lets the connection go meanwhile, which AbandonRun then
// notes so that the interrupted step does nothing more.
#pragma once

#include "install/dialoguestate.h"
#include "install/operator.h"
#include "install/scriptline.h"
#include "install/transfer.h"
#include "nsvt/hostlink.h"
#include "nsvt/vtpkt.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace install {

// The command that logs off the host, as a run ends and as a front end
// gives up on a host.
inline constexpr char kLogOffCommand[] = "BYE";

// A string-table entry by id: at most 254 characters, empty when missing.
using TableLookup = std::function<std::string(int id)>;

class Run {
public:
  // How many local lines may follow each other without an answer to the
  // host before the run is ended as caught in a loop.
  static constexpr std::int32_t kLocalLineLimit = 10000;

  // table defaults to the program's own string table. localLineLimit is
  // lowered only where loops must end sooner (a fuzzer).
  Run(nsvt::HostLink& host, Operator& op, TableLookup table = {},
      std::int32_t localLineLimit = kLocalLineLimit);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // Begin: stores the installation group and account as %0 and %1 and runs
  // the script from its first line (while RestartScript is set) or where it
  // paused.
  void Begin(const std::string& group, const std::string& account);
  // One step of the dialogue, for a read request while InProgress().
  void DialogueStep();
  // The host's terminal output, gathered for the states to judge.
  void HostOutput(nsvt::ConstBytes data);
  // HostText := empty (the console does this when it sends a typed line).
  void ClearHostText(bool withRaw = false);
  // The connection is gone (an error, a close, a new Connect) while a run may
  // be in progress: the run ends without sending anything, and the script
  // starts over at the next Begin.
  void AbandonRun();
  // Releases the loaded payload, if any (the window's closing does this).
  void ReleasePayload();
  // The configured default account (%12), set up by the front end at start.
  void SetDefaultAccount(const std::string& account);

  bool InProgress() const { return ActionCode != kStateIdle; }
  // The run took a failure path since the script last started over: an
  // error line, a stop with a message, an error report. A script may still
  // end such a path with EXIT, which logs off like a success; the front
  // ends must not count that as an installation.
  bool TookFailurePath() const { return failurePathTaken_; }
  // Where the run stands, for a report: "copying ZORBELIX, after record 199
  // of 438", or the command whose answer it waits for, followed by what the
  // host holds of the program now (HostFileText).
  std::string RunStepText() const;
  // What the host holds of the program if the run ends here: the previous
  // copy still there (nothing purged yet), purged, or, once SAVE was sent,
  // maybe the new one, with the command that tells.
  std::string HostFileText() const;
  // What the operator is told when the connection ends (cause: "the host
  // closed the connection") while the run is in progress.
  std::string IncompleteInstallationText(const std::string& cause) const;

  // State, read by the front ends and tests.
  std::int32_t actionCode() const { return ActionCode; }
  bool consoleEcho() const { return ConsoleEcho; }
  const std::string& requiredLogon() const { return RequiredLogon; }
  const std::string& actionText() const { return ActionText; }
  const std::string& hostText() const { return HostText; }
  std::int32_t rawHostCount() const { return RawHostCount; }
  nsvt::ConstBytes rawHostData() const {
    return std::span(RawHostData).first(static_cast<std::size_t>(RawHostCount));
  }
  const install::ScriptVars& scriptVars() const { return ScriptVars_; }
  std::int32_t scriptLineNo() const { return ScriptLineNo; }
  bool restartScript() const { return RestartScript; }
  bool scriptFileOpen() const { return ScriptFile.is_open(); }
  bool payloadLoaded() const { return PayloadData != nullptr; }
  std::int32_t payloadSize() const { return PayloadSize; }
  std::int32_t storedSize() const { return StoredSize; }
  std::int32_t blockNumber() const { return BlockNumber; }
  std::int32_t totalBytesSent() const { return TotalBytesSent; }
  std::int32_t grandTotal() const { return GrandTotal; }
  const TransferRecord& transferDescriptor() const { return blockTransfer_.TransferDescriptor; }
  const std::string& lastCommand() const { return lastCommand_; }

  // HostText keeps at most this many bytes. A binary transfer judges the
  // 7th character of everything since its header block, and a megabyte can
  // arrive in a large transfer; so the head is kept and the oldest output
  // after it goes first, half the limit at once.
  static constexpr std::size_t kHostTextLimit = 1 << 20;
  static constexpr std::size_t kHostTextHead = std::size_t{64} * 1024;

private:
  using Handler = void (Run::*)();
  static Handler HandlerFor(std::int32_t state);

  // ---- the interpreter (run_interpreter.cpp) ----
  struct CommandEntry;
  static const CommandEntry* FindCommand(std::string_view name);
  void NextScriptLine();
  // Fetches, splits, expands and carries out the next line; false when the
  // run ended instead (no line, a broken line, a loop), and the dialogue
  // step must then not run.
  bool CarryOutNextLine();
  bool FetchLine(std::string& line, bool& fromFile, std::int32_t& id);
  std::string LinePlace(bool fromFile, std::int32_t id) const;
  const std::string& Arg(std::size_t n) const { return LineFields_[n].Text; }
  std::int32_t CmdSend1();
  std::int32_t CmdSend2();
  std::int32_t CmdVerso();
  std::int32_t CmdVersu();
  std::int32_t CmdEcho();
  std::int32_t CmdDstat();
  std::int32_t CmdStop();
  std::int32_t CmdExit();
  template <std::size_t Var>
  std::int32_t CmdAsk();
  template <std::size_t Var>
  std::int32_t CmdLet();
  std::int32_t CmdMsgw();
  std::int32_t CmdAskc();
  std::int32_t CmdMsgb();
  std::int32_t CmdGoto();
  std::int32_t CmdFile();
  std::int32_t CmdLogon();
  std::int32_t CmdPause();
  std::int32_t CmdXferU();
  std::int32_t CmdXferA();
  std::int32_t CmdXferB();
  std::int32_t CmdXferC();
  std::int32_t CmdXferD();
  std::int32_t CmdXferE();
  std::int32_t NamedTransfer(const std::string& hostName);
  std::int32_t RefusePayload();
  bool LoadPayload();
  bool CheckBlockPayload(const std::string& hostName);

  // ---- the frame: outcomes and local states (run.cpp) ----
  void OutcomeContinue();
  void OutcomeErrorLine(int argument);
  // ScriptLineNo := the line a GOTO, FILE or error line names.
  void JumpTo(const ScriptField& field);
  bool NamesErrorLine(int argument) const;
  void OutcomeStop(const std::string& text);
  void OutcomeStopWithCode(int code, const std::string& text);
  void OutcomeAbortWithCode(int code, const std::string& text);
  // A check passed: notes what the answered command did to the host's files.
  void NoteCommandAnswered();
  bool HostTextContains(std::string_view text) const;
  // Where the run stands, without what the host holds.
  std::string StepText() const;
  // Ends the run as STOP does, after telling the operator why (where the
  // script itself cannot go on).
  void EndRunWithMessage(const std::string& text);
  void RestartScriptFromTop();
  void StateNextLine();
  void StateStop();
  void StateLogOff();
  void StateUnexpected(std::int32_t state);
  void StateResume();

  // ---- sending (run.cpp) ----
  // SendLine as the run sends: shown in the console while ConsoleEcho is
  // on, and console input off.
  bool SendLine(std::string_view text);
  bool SendArray(nsvt::ConstBytes bytes);
  bool blk_out(std::span<std::uint8_t, nsvt::kBlockSize> block);
  // A command of the run's own (not an answer), kept as lastCommand_.
  bool SendCommand(std::string_view text);

  // ---- host command states (run_dialogue.cpp) ----
  void StateDstat();
  void StateDstatCheck();
  void StateSend1();
  void StateSend1Check();
  void StateSend2();
  void StateSend2Check();
  void StateVerso();
  void StateVersoCheck();
  void StateVersu();
  void StateVersuCheck();
  void StateEcho();
  enum class VersionForm { O, U };
  void VersionCheck(VersionForm form);

  // ---- uploads (run_upload.cpp) ----
  void StateRecordStart();
  void StateFcopyStart();
  void StateFcopyFrom();
  void StateFcopyConfirm();
  void StateDataRequest();
  void StateRecord();
  void StateEndOfData();
  void StateFcopyEnding();
  void FcopyFinished(bool gaveUp);
  void StateBlockStart();
  void StateGreeting();
  void StateChallenge();
  void StateDescriptor();
  void StateHeader();
  void StateBinaryConfirm();
  void StateBinaryData();
  void StateTextConfirm();
  void StateTextData();
  void StateBlockEnd();
  bool SendRecord();
  std::size_t FillDataBlock(std::span<std::uint8_t> data, std::size_t n);
  void BuildDataBlock(bool text);
  bool SendHeaderBlock(const TransferRecord& record);
  bool SendEndBlock();
  bool DataBlockWanted() const;
  std::string TextW() const;
  void EndAfterFailedSend();
  void StopAndAnswer(int code, const std::string& text);
  void AbortAndAnswer(int code, const std::string& text);
  void ShowTransferProgress(bool records, int filePercent);
  std::span<std::uint8_t, nsvt::kBlockSize> Block();

  // ---- payloads (run_payload.cpp) ----
  bool InitCodeGeneration(const std::string& name);
  bool UnpackPayloadInto();
  void PrepareTextTransfer(std::uint16_t recordSize, std::int64_t recordLimit);
  void PrepareBinaryTransfer();
  void PrepareNamedTransfer(const std::string& hostName);
  void PrepareHeader(const TransferRecord& builtHeader);
  const std::string& PayloadName() const { return ScriptVars_[kPayloadNameVar]; }

  nsvt::HostLink& host_;
  Operator& op_;
  TableLookup table_;

  // The script.
  std::int32_t ActionCode = kStateIdle;
  bool RestartScript = true;
  std::int32_t ScriptLineNo = 1;
  // A jump's line number of 2^31 or more, as written; ScriptLineNo is then
  // kNoScriptLine.
  std::string unreachableLine_;
  static constexpr std::int32_t kNoScriptLine = -1;
  install::LineFields LineFields_;
  install::ScriptVars ScriptVars_;
  std::ifstream ScriptFile;
  std::string scriptFileName_;         // as the FILE line named it, for messages
  std::int32_t scriptFileLineNo_ = 0;  // lines read from ScriptFile so far
  // Local lines carried out since the host was last answered; a run that
  // exceeds the bound is ended instead of looping without end.
  std::int32_t localLinesRun_ = 0;
  std::int32_t localLineLimit_ = kLocalLineLimit;
  // Bumped by AbandonRun, so a step that was showing a box when the
  // connection went knows its run is over.
  std::uint32_t runSerial_ = 0;
  // The last command the run sent, to say where a run cut short stood.
  std::string lastCommand_;
  // How the run ends when ActionCode next returns to 0.
  RunEnd runEnding_ = RunEnd::Stopped;
  bool failurePathTaken_ = false;
  // What the run did to the host's files: the name a PURGE was sent for,
  // whether its answer came without an error, and the name a SAVE was sent
  // for.
  std::string purgeName_;
  bool purgeAnswered_ = false;
  std::string savedName_;

  // What the script changes of the front end's texts.
  std::string RequiredLogon;
  std::string ActionText;
  std::string CommandErrorText;

  // Terminal data.
  bool ConsoleEcho = true;
  std::string HostText;  // NUL stored as "~"; bounded by kHostTextLimit
  std::array<std::uint8_t, nsvt::kMaxFrame> RawHostData;  // read up to RawHostCount only
  std::int32_t RawHostCount = 0;

  // The payload and its progress, shared by both transfers.
  QByteArray payloadResource_;              // the loaded resource's bytes
  std::vector<std::uint8_t> unpackBuffer_;  // owned copy after unpacking
  const std::uint8_t* PayloadData = nullptr;
  std::int32_t PayloadSize = 0;
  std::int32_t StoredSize = 0;
  std::int32_t BlockNumber = 1;  // the next record or block, from 1
  std::int32_t FileBytesSent = 0;
  std::int32_t TotalBytesSent = 0;
  std::int32_t GrandTotal = 0;

  // The record transfer (XFERU): FCOPY reading the records from the terminal.
  struct RecordTransfer {
    std::int32_t FcopyExitTries = 0;  // answers given to a finishing FCOPY
    // FCOPY's data request failed: the copy is being ended with ":EOD" and
    // the run goes on at the error line, or stops, once FCOPY has finished.
    bool copyFailed = false;
  };
  RecordTransfer recordTransfer_;

  // The block transfer (XFERA to XFERE): the host program reading blocks.
  struct BlockTransfer {
    // Where the data begin in PayloadData: past the payload's own
    // TransferHeader when it brings one.
    std::int32_t DataStart = 0;
    std::int32_t BlockSequence = 1;  // of the next data or end block
    TransferRecord TransferDescriptor{};
    TransferRecord TransferHeader{};
    std::array<std::uint8_t, kBlockBufferSize> buffer;  // cleared as each block is built
  };
  BlockTransfer blockTransfer_;
};

}  // namespace install
