// The payload uploads, one state per host read request.
//
// Record transfer (XFERU, states 71-79): BUILD a temporary file, run FCOPY
// from the terminal into it, and answer FCOPY's reads with "0100" and a
// 256-byte record in turn, then ":EOD" and the answers that let FCOPY end.
//
// Block transfer (XFERA-XFERE, states 10-18 and 20-23): run the receiving
// host program, hand its 256-byte challenge back, send the descriptor and
// header blocks, then the data in checksummed 1032-byte blocks and an empty
// end block.
//
// Where a failure would leave the host's read unanswered, the read is
// answered with an empty line so that the host prompts again and state 90
// hands the console back; a send that itself failed ends the run at once.
// A failure during the copy ends FCOPY's input with ":EOD" first, so the
// operator or the error line finds the host back at its prompt.
#include "../shell/TNSVT.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

using install::kBlockSize;

constexpr std::size_t kRecordBytes = 256;
constexpr std::int32_t kRecordBytes32 = 256;
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
constexpr std::int32_t kFcopyLongRead = 500;
constexpr std::int32_t kFcopyExitTryLimit = 8;
constexpr std::int32_t kChallengeSize = 256;
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

// Text W of the block transfer's failures.
std::string TextW(const TNSVT& w) {
  return AckMarkSeen(w.HostText) ? "Error " + w.HostText : kWriteFailed;
}

int Percent(std::int64_t part, std::int64_t whole) {
  if (whole <= 0) {
    return 0;
  }
  return static_cast<int>(std::min<std::int64_t>(part * kProgressMax / whole, kProgressMax));
}

// The status line of a record or block. pb1 is set once per step, by the
// caller, to the value the step leaves it at: QProgressBar repaints at once
// on every change, and a bar set to its share and back to 0 in one step
// only costs a repaint without showing anything.
void ShowRecordProgress(TNSVT& w) {
  const std::string status = "  " + w.ScriptVars[install::kPayloadNameVar] +
                             " Size: " + std::to_string(w.PayloadSize / 1024) + "KB - " +
                             std::to_string(w.BlockNumber);
  w.lblStatus->setText(QString::fromLatin1(status.data(), static_cast<qsizetype>(status.size())));
}

void CountOverallProgress(TNSVT& w, std::int32_t bytes) {
  w.TotalBytesSent += bytes;
  w.pb2->setValue(Percent(w.TotalBytesSent, w.GrandTotal));
}

std::span<std::uint8_t, kBlockSize> Block(TNSVT& w) {
  return std::span<std::uint8_t, kBlockSize>(w.BlockBuffer.data(), kBlockSize);
}

// A send that failed leaves nothing to wait for: report it and end the run
// at once, with the console back in the operator's hands.
void EndAfterFailedSend(TNSVT& w) {
  w.Timer1->stop();
  w.ReportError(kCodeBlockSend, "Error " + w.HostText);
  w.ConsoleEcho = true;
  w.ClearHostText(true);
  w.SetUiPhase(2);
  w.SetConsoleInput(true);
  w.ActionCode = -1;
}

// A stop whose state sends nothing: the pending read gets an empty line, so
// the host prompts again and state 90 ends the run.
void StopAndAnswer(TNSVT& w, int code, const std::string& text) {
  w.OutcomeStopWithCode(code, text);
  w.ClearHostText(true);
  w.SendLine("");
}

// An abort ends the run at once; the pending read gets an empty line so the
// host prompts again and the console returns to the operator.
void AbortAndAnswer(TNSVT& w, int code, const std::string& text) {
  w.OutcomeAbortWithCode(code, text);
  w.ClearHostText(true);
  w.SendLine("");
}

bool SendHeaderBlock(TNSVT& w, const install::TransferRecord& record) {
  install::BuildBlock(w.BlockBuffer, 0, record);
  return w.blk_out(Block(w));
}

bool SendEndBlock(TNSVT& w) {
  install::BuildBlock(w.BlockBuffer, static_cast<std::uint16_t>(w.BlockSequence++), {});
  return w.blk_out(Block(w));
}

// Builds the next data block in BlockBuffer; text transfers get LF line ends.
void BuildDataBlock(TNSVT& w, bool text) {
  std::fill(w.BlockBuffer.begin(), w.BlockBuffer.end(), 0);
  const auto data =
      std::span(w.BlockBuffer).subspan(install::kOffBlockData, install::kBlockDataSize);
  std::size_t count = w.FillDataBlock(data, install::kBlockDataSize);
  if (text) {
    count = install::NormalizeLineEnds(w.BlockBuffer, count);
    std::fill(data.begin() + static_cast<std::ptrdiff_t>(count), data.end(), 0);
  }
  nsvt::PutBE16(w.BlockBuffer, install::kOffBlockSequence,
                static_cast<std::uint16_t>(w.BlockSequence++));
  nsvt::PutBE16(w.BlockBuffer, install::kOffBlockCount, static_cast<std::uint16_t>(count));
}

bool DataBlockWanted(const TNSVT& w) {
  return w.HostReadLength == kBlockReadLength && !w.HostTextContains(kEndOfProgram);
}

// The end block goes when the host program still reads a whole block;
// otherwise the transfer is aborted with what the host said.
void FinishBlockTransfer(TNSVT& w) {
  if (DataBlockWanted(w)) {
    if (!SendEndBlock(w)) {
      EndAfterFailedSend(w);
    }
  } else if (AckMarkSeen(w.HostText)) {
    AbortAndAnswer(w, kCodeEndBlockText, "Error " + w.HostText);
  } else {
    AbortAndAnswer(w, kCodeEndBlockWrite, kWriteFailed);
  }
}

// State 78 once FCOPY has ended (or been given up on). An FCOPY that was
// still asking after every answer was given up on: what it copied was never
// confirmed and the session is still inside it, so going on to SAVE would
// claim an installation that may not exist.
void FcopyFinished(TNSVT& w, bool gaveUp) {
  w.Timer1->stop();
  w.ConsoleEcho = true;
  if (gaveUp && !w.RecordCopyFailed) {
    if (w.NamesErrorLine(3)) {
      w.OutcomeErrorLine(3);  // through the resume step 79
      w.SendLine("");
    } else {
      w.OutcomeStopWithCode(kCodeNewFile, "Error creating new file" + w.HostText);
      w.ClearHostText(true);
      w.SendLine("");
    }
    return;
  }
  if (w.RecordCopyFailed) {
    // FCOPY's data request failed earlier: the copy is not complete.
    w.RecordCopyFailed = false;
    if (w.NamesErrorLine(3)) {
      w.OutcomeErrorLine(3);  // through the resume step 79
    } else {
      w.OutcomeStop(w.CommandErrorText);
    }
    w.ClearHostText(true);
    w.SendLine("");
    return;
  }
  if (!w.HostTextContains(kCierr)) {
    w.OutcomeContinue();
    return;
  }
  if (w.NamesErrorLine(3)) {
    w.OutcomeErrorLine(3);
    w.SendLine("");
  } else {
    w.OutcomeStopWithCode(kCodeNewFile, "Error creating new file" + w.HostText);
    w.ClearHostText(true);
    w.SendLine("");
  }
}

}  // namespace

bool TNSVT::RunUploadState(std::int32_t state) {
  switch (state) {
    // ---- Record transfer ----
    case 71:
      ClearHostText(true);
      SendCommand("BUILD $NEWPASS;REC=128;CODE=" + LineFields[2].Text +
                  ";DISC=" + std::to_string(PayloadSize / kRecordBytes32) + ",1,1");
      return true;
    case 72:
      if (HostTextContains(kCierr)) {
        if (NamesErrorLine(3)) {
          OutcomeErrorLine(3);
          ActionCode = 78;  // resume step 79
        } else {
          OutcomeStop(CommandErrorText);
        }
        ClearHostText(false);
        SendLine("");
        return true;
      }
      ClearHostText(false);
      SendCommand("RUN FCOPY.PUB.SYS");
      Timer1->start();
      ConsoleEcho = false;
      return true;
    case 73:
      if (HostTextContains(kCierr)) {
        Timer1->stop();  // FCOPY did not start
        if (NamesErrorLine(3)) {
          OutcomeErrorLine(3);
          OutcomeContinue();
        } else {
          StopAndAnswer(*this, kCodeFcopy, "Error running FCOPY 1.");
        }
        return true;
      }
      ClearHostText(true);
      SendCommand("FROM=$CTUL;TO=$OLDPASS");
      return true;
    case 74:
      ClearHostText(true);
      SendLine("");
      return true;
    case 75:
      if (HostTextContains(kFcopyDataRequest)) {
        ClearHostText(true);
        SendLine(kFcopyRecordAnswer);
        return true;
      }
      // FCOPY did not ask for the next record. End its input so that it
      // stops copying and can be left normally; state 78 then takes the
      // error line or stops, and never reports the copy as complete.
      RecordCopyFailed = true;
      ClearHostText(true);
      SendLine(kEndOfData);
      ReleasePayload();
      ActionCode = 77;  // FCOPY's ending, state 78
      return true;
    case 76:
      if (!SendRecord()) {
        EndAfterFailedSend(*this);
      }
      return true;
    case 77:
      ClearHostText(true);
      SendLine(kEndOfData);
      ReleasePayload();
      return true;
    case 78: {
      const bool ended = HostTextContains(kFcopyEnded) || HostReadLength >= kFcopyLongRead;
      if (ended || FcopyExitTries >= kFcopyExitTryLimit) {
        FcopyFinished(*this, !ended);
        return true;
      }
      ++FcopyExitTries;
      RawHostCount = 0;
      ActionCode = 77;  // stays 78
      const bool question = HostTextContains(kYesOrNo);
      ClearHostText(false);
      SendLine(question ? "N" : "E");
      return true;
    }

    // ---- Block transfer ----
    case 10:
      ClearHostText(true);
      ConsoleEcho = false;
      SendCommand("RUN ZORBELIX.PUB.SYS");
      return true;
    case 11:
      if (HostTextContains(kHostProgramGreeting)) {
        ClearHostText(true);
        SendLine("Y");
        ConsoleEcho = false;
      } else {
        StopAndAnswer(*this, kCodeHostProgram, "Error running host program: " + HostText);
      }
      return true;
    case 12:
      if (RawHostCount == kChallengeSize) {
        // The challenge goes back exactly as it came.
        std::array<std::uint8_t, kChallengeSize> challenge;
        std::copy_n(RawHostData.begin(), kChallengeSize, challenge.begin());
        ClearHostText(true);
        if (!SendArray(challenge)) {
          EndAfterFailedSend(*this);
        }
      } else {
        char text[64];
        std::snprintf(text, sizeof text, "Error %d - ", static_cast<int>(RawHostCount));
        StopAndAnswer(*this, kCodeChallenge, text + HostText);
      }
      return true;
    case 13:
      if (!HostTextContains(kHostProgramReady)) {
        StopAndAnswer(*this, kCodeNotReady, "Error " + HostText);
        return true;
      }
      ClearHostText(true);
      if (!SendHeaderBlock(*this, TransferDescriptor)) {
        EndAfterFailedSend(*this);
      } else if (TransferDescriptor[install::kOffDescFileType] == install::kFileTypeText) {
        ActionCode = 19;  // text transfer, state 20
      }
      return true;
    case 14:
      if (HostTextContains(kCierr)) {
        StopAndAnswer(*this, kCodeHeader, "Error " + HostText);
        return true;
      }
      ClearHostText(true);
      if (!SendHeaderBlock(*this, TransferHeader)) {
        EndAfterFailedSend(*this);
      }
      return true;
    case 15:
      if (HostReadLength != 1) {
        OutcomeAbortWithCode(kCodeReadLength, TextW(*this));
        ClearHostText(true);
      }
      SendLine("1");
      return true;
    case 16:
      if (AckMarkSeen(HostText) && DataBlockWanted(*this)) {
        BuildDataBlock(*this, false);
        if (!blk_out(Block(*this))) {
          EndAfterFailedSend(*this);
        }
      } else {
        AbortAndAnswer(*this, kCodeBlockRead, TextW(*this));
      }
      return true;
    case 17:
      // The binary transfer's end block is judged as the text transfer's
      // is: a host program that no longer reads a block (or has ended) must
      // not be told the file is complete.
      FinishBlockTransfer(*this);
      return true;
    case 20:
      if (HostReadLength != 1) {
        OutcomeAbortWithCode(kCodeReadLength, TextW(*this));
      }
      ClearHostText(true);
      SendLine("1");
      return true;
    case 21:
      if (DataBlockWanted(*this)) {
        BuildDataBlock(*this, true);
        ClearHostText(true);
        if (!blk_out(Block(*this))) {
          EndAfterFailedSend(*this);
        }
      } else {
        AbortAndAnswer(*this, kCodeBlockRead, TextW(*this));
      }
      return true;
    case 22:
      FinishBlockTransfer(*this);
      return true;

    case 18:
    case 23:
    case 79:
      OutcomeContinue();  // resume step
      return true;

    default:
      return false;
  }
}

bool TNSVT::SendRecord() {
  SetConsoleInput(false);
  if (PayloadData == nullptr) {
    return false;
  }
  const std::size_t start = static_cast<std::size_t>(BlockNumber - 1) * kRecordBytes;
  if (start + kRecordBytes > static_cast<std::size_t>(PayloadSize)) {
    return false;  // only whole records are sent; the load refuses anything else
  }
  // The record goes first: the host is waiting for it, and the progress
  // bars repaint at once when they change. Built here rather than by
  // SendLine: the record is never cut to the host's read length and never
  // shown in the console.
  std::array<std::uint8_t, nsvt::kTerminalInputHeaderSize + kRecordBytes> message;
  const std::size_t length =
      nsvt::BuildTerminalInput(message, EchoWord, std::span(PayloadData + start, kRecordBytes));
  const bool sent = SocketSend(std::span(message).first(length)) >= 0;

  FileBytesSent = std::min(FileBytesSent + kRecordBytes32, PayloadSize);
  ShowRecordProgress(*this);
  ++BlockNumber;
  if (PayloadSize / kRecordBytes32 >= BlockNumber) {
    CountOverallProgress(*this, kRecordBytes32);
    pb1->setValue(0);
    ActionCode -= 2;  // the next read is FCOPY's data request again, state 75
  } else {
    pb1->setValue(Percent(FileBytesSent, PayloadSize));
  }
  if (TraceOn) {
    TraceLine(" (256)");
  }
  return sent;
}

std::size_t TNSVT::FillDataBlock(std::span<std::uint8_t> data, std::size_t n) {
  if (PayloadData == nullptr) {
    return 0;
  }
  const std::size_t offset =
      static_cast<std::size_t>(BlockNumber - 1) * n + static_cast<std::size_t>(DataStart);
  const auto size = static_cast<std::size_t>(PayloadSize);
  FileBytesSent = static_cast<std::int32_t>(std::min<std::int64_t>(
      std::int64_t{FileBytesSent} + static_cast<std::int64_t>(n), PayloadSize));
  ShowRecordProgress(*this);
  ++BlockNumber;
  if (offset + n < size) {
    pb1->setValue(Percent(FileBytesSent, PayloadSize));
    --ActionCode;  // the same state handles the next read
  } else {
    CountOverallProgress(*this, StoredSize);
    pb1->setValue(0);
    n = offset < size ? size - offset : 0;
  }
  n = std::min(n, data.size());
  std::copy_n(PayloadData + offset, n, data.begin());
  return n;
}
