// The payload uploads, one state per host read request.
//
// Record transfer (XFERU): BUILD a temporary file, run FCOPY from the
// terminal into it, and answer FCOPY's reads with "0100" and a 256-byte
// record in turn, then ":EOD" and the answers that let FCOPY end.
//
// Block transfer (XFERA to XFERE): run the receiving host program, hand its
// 256-byte challenge back, send the descriptor and header blocks, then the
// data in checksummed 1032-byte blocks and an empty end block.
//
// Where a failure would leave the host's read unanswered, the read is
// answered with an empty line so that the host prompts again and state 90
// hands the console back; a send that itself failed ends the run at once.
// A failure during the copy ends FCOPY's input with ":EOD" first, so the
// operator or the error line finds the host back at its prompt.
#include "install/run.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace install {

namespace {

constexpr auto kRecordBytes32 = static_cast<std::int32_t>(kRecordBytes);
constexpr std::int32_t kKilobyte = 1024;
constexpr int kProgressMax = 100;

// Things the host shows or answers.
const char kCierr[] = "CIERR";
const char kFcopyDataRequest[] = "&p1s2R";
const char kFcopyRecordAnswer[] = "0100";
const char kEndOfData[] = ":EOD";
const char kFcopyEnded[] = "END OF";
const char kYesOrNo[] = "Y OR N";
const char kHostProgramGreeting[] = "Host Program: Build";
const char kHostProgramReady[] = "YGA";
const char kEndOfProgram[] = "END OF PROGRAM";
const char kAnswerYes[] = "Y";
const char kAnswerNo[] = "N";
const char kAnswerExit[] = "E";
const char kConfirmTransfer[] = "1";
constexpr std::int32_t kFcopyLongRead = 500;
constexpr std::int32_t kFcopyExitTryLimit = 8;
constexpr std::int32_t kChallengeSize = 256;
constexpr std::int32_t kConfirmReadLength = 1;
constexpr std::int32_t kBlockReadLength = static_cast<std::int32_t>(kBlockSize);
constexpr std::size_t kAckMarkIndex = 6;  // 7th character of the host's answer
constexpr char kAckMark = '\x01';

const char kWriteFailed[] = "Error cannot write to file.";

enum Code {
  kCodeHostProgram = 4006,
  kCodeChallenge = 4008,
  kCodeNotReady = 4009,
  kCodeBlockRead = 4010,
  kCodeReadLength = 4014,
  kCodeEndBlockWrite = 4046,
  kCodeEndBlockText = 4047,
  kCodeFcopy = 4108,
  kCodeHeader = 4109,
  kCodeNewFile = 4110,
  kCodeBlockSend = 4210,
};

bool AckMarkSeen(const std::string& text) {
  return text.size() > kAckMarkIndex && text[kAckMarkIndex] == kAckMark;
}

int Percent(std::int64_t part, std::int64_t whole) {
  if (whole <= 0) {
    return 0;
  }
  return static_cast<int>(std::min<std::int64_t>(part * kProgressMax / whole, kProgressMax));
}

}  // namespace

// Text W of the block transfer's failures.
std::string Run::TextW() const {
  return AckMarkSeen(HostText) ? "Error " + HostText : kWriteFailed;
}

std::span<std::uint8_t, kBlockSize> Run::Block() {
  return std::span<std::uint8_t, kBlockSize>(blockTransfer_.buffer.data(), kBlockSize);
}

// The status line and both bars after a record or block, shown once per
// step with the values the step leaves them at.
void Run::ShowTransferProgress(bool records, int filePercent) {
  const std::string status = "  " + PayloadName() +
                             " Size: " + std::to_string(PayloadSize / kKilobyte) + "KB - " +
                             std::to_string(BlockNumber - 1);
  TransferProgress progress;
  progress.status = status;
  progress.filePercent = filePercent;
  progress.overallPercent = Percent(TotalBytesSent, GrandTotal);
  progress.payload = PayloadName();
  progress.records = records;
  progress.sent = BlockNumber - 1;
  const std::int32_t unit = records ? kRecordBytes32 : static_cast<std::int32_t>(kBlockDataSize);
  progress.total = records
                       ? PayloadSize / unit
                       : (std::max(PayloadSize - blockTransfer_.DataStart, 0) + unit - 1) / unit;
  progress.bytesSent = FileBytesSent;
  progress.payloadSize = PayloadSize;
  op_.ShowProgress(progress);
}

// A send that failed leaves nothing to wait for: report it and end the run
// at once, with the console back in the operator's hands.
void Run::EndAfterFailedSend() {
  op_.SetIdleTimer(false);
  runEnding_ = RunEnd::Aborted;
  failurePathTaken_ = true;
  op_.ReportError(kCodeBlockSend, "Error " + HostText);
  ConsoleEcho = true;
  ClearHostText(true);
  op_.SetUiPhase(2);
  op_.SetConsoleInput(true);
  ActionCode = kStatePassing;
}

// A stop whose state sends nothing: the pending read gets an empty line, so
// the host prompts again and state 90 ends the run.
void Run::StopAndAnswer(int code, const std::string& text) {
  OutcomeStopWithCode(code, text);
  ClearHostText(true);
  SendLine("");
}

// An abort ends the run at once; the pending read gets an empty line so the
// host prompts again and the console returns to the operator.
void Run::AbortAndAnswer(int code, const std::string& text) {
  OutcomeAbortWithCode(code, text);
  ClearHostText(true);
  SendLine("");
}

// ---- record transfer ----

void Run::StateRecordStart() {
  ClearHostText(true);
  SendCommand("BUILD $NEWPASS;REC=128;CODE=" + Arg(2) +
              ";DISC=" + std::to_string(PayloadSize / kRecordBytes32) + ",1,1");
}

void Run::StateFcopyStart() {
  if (HostTextContains(kCierr)) {
    if (NamesErrorLine(3)) {
      OutcomeErrorLine(3);
      ActionCode = kStateRecordResume - 1;
    } else {
      OutcomeStop(CommandErrorText);
    }
    ClearHostText();
    SendLine("");
    return;
  }
  ClearHostText();
  SendCommand("RUN FCOPY.PUB.SYS");
  op_.SetIdleTimer(true);
  ConsoleEcho = false;
}

void Run::StateFcopyFrom() {
  if (HostTextContains(kCierr)) {
    op_.SetIdleTimer(false);  // FCOPY did not start
    if (NamesErrorLine(3)) {
      OutcomeErrorLine(3);
      OutcomeContinue();
    } else {
      StopAndAnswer(kCodeFcopy, "Error running FCOPY 1.");
    }
    return;
  }
  ClearHostText(true);
  SendCommand("FROM=$CTUL;TO=$OLDPASS");
}

void Run::StateFcopyConfirm() {
  ClearHostText(true);
  SendLine("");
}

void Run::StateDataRequest() {
  if (HostTextContains(kFcopyDataRequest)) {
    ClearHostText(true);
    SendLine(kFcopyRecordAnswer);
    return;
  }
  // FCOPY did not ask for the next record. End its input so that it stops
  // copying and can be left normally; state 78 then takes the error line or
  // stops, and never reports the copy as complete.
  recordTransfer_.copyFailed = true;
  ClearHostText(true);
  SendLine(kEndOfData);
  ReleasePayload();
  ActionCode = kStateFcopyEnding - 1;
}

void Run::StateRecord() {
  if (!SendRecord()) {
    EndAfterFailedSend();
  }
}

void Run::StateEndOfData() {
  ClearHostText(true);
  SendLine(kEndOfData);
  ReleasePayload();
}

void Run::StateFcopyEnding() {
  const bool ended = HostTextContains(kFcopyEnded) || host_.HostReadLength() >= kFcopyLongRead;
  if (ended || recordTransfer_.FcopyExitTries >= kFcopyExitTryLimit) {
    FcopyFinished(!ended);
    return;
  }
  ++recordTransfer_.FcopyExitTries;
  RawHostCount = 0;
  ActionCode = kStateFcopyEnding - 1;  // the state stays
  const bool question = HostTextContains(kYesOrNo);
  ClearHostText();
  SendLine(question ? kAnswerNo : kAnswerExit);
}

// State 78 once FCOPY has ended (or been given up on). An FCOPY that was
// still asking after every answer was given up on: what it copied was never
// confirmed and the session is still inside it, so going on to SAVE would
// claim an installation that may not exist.
void Run::FcopyFinished(bool gaveUp) {
  op_.SetIdleTimer(false);
  ConsoleEcho = true;
  if (gaveUp && !recordTransfer_.copyFailed) {
    if (NamesErrorLine(3)) {
      OutcomeErrorLine(3);  // through the resume step
      SendLine("");
    } else {
      OutcomeStopWithCode(kCodeNewFile, "Error creating new file" + HostText);
      ClearHostText(true);
      SendLine("");
    }
    return;
  }
  if (recordTransfer_.copyFailed) {
    // FCOPY's data request failed earlier: the copy is not complete.
    recordTransfer_.copyFailed = false;
    if (NamesErrorLine(3)) {
      OutcomeErrorLine(3);  // through the resume step
    } else {
      OutcomeStop(CommandErrorText);
    }
    ClearHostText(true);
    SendLine("");
    return;
  }
  if (!HostTextContains(kCierr)) {
    OutcomeContinue();
    return;
  }
  if (NamesErrorLine(3)) {
    OutcomeErrorLine(3);
    SendLine("");
  } else {
    OutcomeStopWithCode(kCodeNewFile, "Error creating new file" + HostText);
    ClearHostText(true);
    SendLine("");
  }
}

bool Run::SendRecord() {
  op_.SetConsoleInput(false);
  if (PayloadData == nullptr) {
    return false;
  }
  const std::size_t start = static_cast<std::size_t>(BlockNumber - 1) * kRecordBytes;
  if (start + kRecordBytes > static_cast<std::size_t>(PayloadSize)) {
    return false;  // only whole records are sent; the load refuses anything else
  }
  // The record goes first: the host is waiting for it, and the progress
  // shown after it costs time. Never cut to the host's read length and
  // never shown in the console.
  const bool sent = host_.SendUncut(std::span(PayloadData + start, kRecordBytes));

  FileBytesSent = std::min(FileBytesSent + kRecordBytes32, PayloadSize);
  ++BlockNumber;
  int filePercent = 0;
  if (PayloadSize / kRecordBytes32 >= BlockNumber) {
    TotalBytesSent += kRecordBytes32;
    ActionCode -= 2;  // the next read is FCOPY's data request again, state 75
  } else {
    filePercent = Percent(FileBytesSent, PayloadSize);
  }
  ShowTransferProgress(true, filePercent);
  if (host_.TraceOn()) {
    host_.TraceLine(" (256)");
  }
  return sent;
}

// ---- block transfer ----

bool Run::SendHeaderBlock(const TransferRecord& record) {
  BuildBlock(blockTransfer_.buffer, 0, record);
  return blk_out(Block());
}

bool Run::SendEndBlock() {
  BuildBlock(blockTransfer_.buffer, static_cast<std::uint16_t>(blockTransfer_.BlockSequence++), {});
  return blk_out(Block());
}

// Builds the next data block in the block buffer; text transfers get LF
// line ends.
void Run::BuildDataBlock(bool text) {
  auto& buffer = blockTransfer_.buffer;
  std::fill(buffer.begin(), buffer.end(), 0);
  const auto data = std::span(buffer).subspan(kOffBlockData, kBlockDataSize);
  std::size_t count = FillDataBlock(data, kBlockDataSize);
  if (text) {
    count = NormalizeLineEnds(buffer, count);
    std::fill(data.begin() + static_cast<std::ptrdiff_t>(count), data.end(), 0);
  }
  nsvt::PutBE16(buffer, kOffBlockSequence,
                static_cast<std::uint16_t>(blockTransfer_.BlockSequence++));
  nsvt::PutBE16(buffer, kOffBlockCount, static_cast<std::uint16_t>(count));
}

bool Run::DataBlockWanted() const {
  return host_.HostReadLength() == kBlockReadLength && !HostTextContains(kEndOfProgram);
}

std::size_t Run::FillDataBlock(std::span<std::uint8_t> data, std::size_t n) {
  if (PayloadData == nullptr) {
    return 0;
  }
  const std::size_t offset = static_cast<std::size_t>(BlockNumber - 1) * n +
                             static_cast<std::size_t>(blockTransfer_.DataStart);
  const auto size = static_cast<std::size_t>(PayloadSize);
  FileBytesSent = static_cast<std::int32_t>(std::min<std::int64_t>(
      std::int64_t{FileBytesSent} + static_cast<std::int64_t>(n), PayloadSize));
  ++BlockNumber;
  int filePercent = 0;
  if (offset + n < size) {
    filePercent = Percent(FileBytesSent, PayloadSize);
    --ActionCode;  // the same state handles the next read
  } else {
    TotalBytesSent += StoredSize;
    n = offset < size ? size - offset : 0;
  }
  ShowTransferProgress(false, filePercent);
  n = std::min(n, data.size());
  std::copy_n(PayloadData + offset, n, data.begin());
  return n;
}

void Run::StateBlockStart() {
  ClearHostText(true);
  ConsoleEcho = false;
  SendCommand("RUN ZORBELIX.PUB.SYS");
}

void Run::StateGreeting() {
  if (HostTextContains(kHostProgramGreeting)) {
    ClearHostText(true);
    SendLine(kAnswerYes);
    ConsoleEcho = false;
  } else {
    StopAndAnswer(kCodeHostProgram, "Error running host program: " + HostText);
  }
}

void Run::StateChallenge() {
  if (RawHostCount == kChallengeSize) {
    // The challenge goes back exactly as it came.
    std::array<std::uint8_t, kChallengeSize> challenge;
    std::copy_n(RawHostData.begin(), kChallengeSize, challenge.begin());
    ClearHostText(true);
    if (!SendArray(challenge)) {
      EndAfterFailedSend();
    }
    return;
  }
  char text[64];
  std::snprintf(text, sizeof text, "Error %d - ", static_cast<int>(RawHostCount));
  StopAndAnswer(kCodeChallenge, text + HostText);
}

void Run::StateDescriptor() {
  if (!HostTextContains(kHostProgramReady)) {
    StopAndAnswer(kCodeNotReady, "Error " + HostText);
    return;
  }
  ClearHostText(true);
  if (!SendHeaderBlock(blockTransfer_.TransferDescriptor)) {
    EndAfterFailedSend();
  } else if (blockTransfer_.TransferDescriptor[kOffDescFileType] == kFileTypeText) {
    ActionCode = kStateTextConfirm - 1;
  }
}

void Run::StateHeader() {
  if (HostTextContains(kCierr)) {
    StopAndAnswer(kCodeHeader, "Error " + HostText);
    return;
  }
  ClearHostText(true);
  if (!SendHeaderBlock(blockTransfer_.TransferHeader)) {
    EndAfterFailedSend();
  }
}

void Run::StateBinaryConfirm() {
  if (host_.HostReadLength() != kConfirmReadLength) {
    OutcomeAbortWithCode(kCodeReadLength, TextW());
    ClearHostText(true);
  }
  SendLine(kConfirmTransfer);
}

void Run::StateBinaryData() {
  if (AckMarkSeen(HostText) && DataBlockWanted()) {
    BuildDataBlock(false);
    if (!blk_out(Block())) {
      EndAfterFailedSend();
    }
    return;
  }
  AbortAndAnswer(kCodeBlockRead, TextW());
}

void Run::StateTextConfirm() {
  if (host_.HostReadLength() != kConfirmReadLength) {
    OutcomeAbortWithCode(kCodeReadLength, TextW());
  }
  ClearHostText(true);
  SendLine(kConfirmTransfer);
}

void Run::StateTextData() {
  if (DataBlockWanted()) {
    BuildDataBlock(true);
    ClearHostText(true);
    if (!blk_out(Block())) {
      EndAfterFailedSend();
    }
    return;
  }
  AbortAndAnswer(kCodeBlockRead, TextW());
}

// States 17 and 22. The end block goes when the host program still reads a
// whole block (in a binary transfer too: a host program that no longer
// reads a block, or has ended, must not be told the file is complete);
// otherwise the transfer is aborted with what the host said.
void Run::StateBlockEnd() {
  if (DataBlockWanted()) {
    if (!SendEndBlock()) {
      EndAfterFailedSend();
    }
  } else if (AckMarkSeen(HostText)) {
    AbortAndAnswer(kCodeEndBlockText, "Error " + HostText);
  } else {
    AbortAndAnswer(kCodeEndBlockWrite, kWriteFailed);
  }
}

}  // namespace install
