// The receiving host program's side of the block transfer.
#include "blockprogram.h"

#include "faultpoints.h"
#include "mpetexts.h"

namespace mpe {

namespace {

// A deterministic challenge, different per session, covering all byte values
// the installer must hand back unchanged (NUL, CR, LF among them).
QByteArray makeChallenge(int length, int sessionId) {
  QByteArray bytes(length, '\0');
  uint32_t x = 0x9E3779B9u ^ static_cast<uint32_t>(sessionId);
  for (int i = 0; i < length; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    bytes[i] = static_cast<char>(i % 2 == 0 ? i / 2 : x & 0xFF);
  }
  return bytes;
}

}  // namespace

BlockProgram::BlockProgram(HostTerminal& terminal, HostStore& store, SessionState& session,
                           const HostConfig& config)
    : terminal_(terminal),
      store_(store),
      session_(session),
      challengeLength_(config.challengeLength) {}

void BlockProgram::start() {
  step_ = Step::Build;
  terminal_.writeInPlace(text::kProgramBuildPrompt);
  terminal_.postRead(kAnswerReadLength);
}

bool BlockProgram::input(const QByteArray& bytes) {
  switch (step_) {
    case Step::Build:
      return build(bytes);
    case Step::Challenge:
      return challenge(bytes);
    case Step::Descriptor:
      return descriptor(bytes);
    case Step::Header:
      return header(bytes);
    case Step::Confirm:
      return confirm(bytes);
    case Step::Data:
      return data(bytes);
  }
  return true;
}

bool BlockProgram::build(const QByteArray& answer) {
  if (!answer.trimmed().toUpper().startsWith('Y')) {
    terminal_.writeLine(text::kProgramDeclined);
    return true;
  }
  step_ = Step::Challenge;
  challengeBytes_ = makeChallenge(challengeLength_, session_.id);
  terminal_.markPoint(faults::pointName(faults::Point::Challenge));
  // The challenge must be the only output before the read: the installer
  // counts every byte that arrives.
  terminal_.writeInPlace(challengeBytes_);
  terminal_.postRead(qMax(challengeLength_, 1));
  return false;
}

bool BlockProgram::challenge(const QByteArray& echo) {
  if (echo != challengeBytes_) {
    return fail(QString("challenge answered with %1 bytes that do not match").arg(echo.size()));
  }
  step_ = Step::Descriptor;
  terminal_.markPoint(faults::pointName(faults::Point::Descriptor));
  terminal_.writeInPlace(text::kProgramGo);
  terminal_.postRead(kBlockReadLength);
  return false;
}

std::optional<xfer::Block> BlockProgram::takeBlock(const QByteArray& bytes, uint16_t sequence,
                                                   int count) {
  QString problem;
  std::optional<xfer::Block> block = xfer::decodeBlock(bytes, &problem);
  if (!block) {
    lastProblem_ = problem;
  } else if (block->sequence != sequence) {
    lastProblem_ = QString("block sequence %1, expected %2").arg(block->sequence).arg(sequence);
    block.reset();
  } else if (count >= 0 && block->count != count) {
    lastProblem_ = QString("block count %1, expected %2").arg(block->count).arg(count);
    block.reset();
  }
  return block;
}

bool BlockProgram::descriptor(const QByteArray& bytes) {
  const std::optional<xfer::Block> block = takeBlock(bytes, 0, xfer::kRecordSize);
  if (!block)
    return fail("descriptor block: " + lastProblem_);
  QString problem;
  const std::optional<xfer::Descriptor> d = xfer::decodeDescriptor(block->data, &problem);
  if (!d)
    return fail("descriptor: " + problem);
  const std::optional<FileRef> ref = parseFileName(d->fileName, session_.group, session_.account);
  if (!ref) {
    // Shown as a command interpreter error, which the installer looks for.
    terminal_.writeLine(text::invalidFileNameError(d->fileName));
    return fail("no file built");
  }
  if (store_.inUse(*ref)) {
    terminal_.writeLine(text::fileInUseError(ref->qualified()));
    return fail("no file built");
  }
  descriptor_ = *d;
  target_ = *ref;
  terminal_.logEvent(
      QString("block transfer of %1 (%2) started")
          .arg(target_.qualified(), d->fileType == xfer::kFileTypeText ? "text" : "binary"));
  if (d->fileType == xfer::kFileTypeText) {
    recordSize_ = d->textRecordSize ? d->textRecordSize : kDefaultTextRecordSize;
    recordLimit_ = d->textRecordLimit;
    step_ = Step::Confirm;
    terminal_.markPoint(faults::pointName(faults::Point::BlockConfirm));
    terminal_.postRead(kConfirmReadLength);
  } else {
    step_ = Step::Header;
    terminal_.markPoint(faults::pointName(faults::Point::Header));
    terminal_.postRead(kBlockReadLength);
  }
  return false;
}

bool BlockProgram::header(const QByteArray& bytes) {
  const std::optional<xfer::Block> block = takeBlock(bytes, 0, xfer::kRecordSize);
  if (!block)
    return fail("header block: " + lastProblem_);
  QString problem;
  const std::optional<xfer::DataHeader> h = xfer::decodeHeader(block->data, &problem);
  if (!h)
    return fail("header: " + problem);
  recordSize_ = h->recordSize;
  recordLimit_ = h->recordLimit;
  step_ = Step::Confirm;
  terminal_.markPoint(faults::pointName(faults::Point::BlockConfirm));
  terminal_.postRead(kConfirmReadLength);
  return false;
}

bool BlockProgram::confirm(const QByteArray& answer) {
  if (answer != "1")
    return fail("expected 1 before the data");
  step_ = Step::Data;
  nextSequence_ = 1;
  received_.clear();
  askForBlock();
  return false;
}

void BlockProgram::askForBlock() {
  terminal_.markPoint(faults::pointName(faults::Point::Block, nextSequence_));
  terminal_.writeInPlace(text::kProgramBlockReady);
  terminal_.postRead(kBlockReadLength);
}

bool BlockProgram::data(const QByteArray& bytes) {
  const std::optional<xfer::Block> block = takeBlock(bytes, nextSequence_, -1);
  if (!block)
    return fail(QString("data block %1: %2").arg(nextSequence_).arg(lastProblem_));
  if (block->count == 0)
    return finish();
  if (received_.size() + block->data.size() > kMaxFileBytes) {
    terminal_.writeLine(text::kOutOfDiscSpace);
    return fail("file larger than the host keeps");
  }
  received_.append(block->data);
  const bool binary = descriptor_.fileType == xfer::kFileTypeBinary;
  if (binary && recordLimit_ > 0 && received_.size() > recordLimit_ * recordSize_) {
    return fail(QString("file limit of %1 records exceeded").arg(recordLimit_));
  }
  ++nextSequence_;
  askForBlock();
  return false;
}

bool BlockProgram::finish() {
  MpeFile file;
  file.attr.recordSize = recordSize_;
  file.attr.limit = recordLimit_;
  if (descriptor_.fileType == xfer::kFileTypeText) {
    file.attr.ascii = true;
    // Every line becomes at least one blank-filled record: bound the records
    // before they are made.
    const qint64 lines = received_.count('\n') + 1;
    if (lines * recordSize_ + received_.size() > kMaxFileBytes) {
      terminal_.writeLine(text::kOutOfDiscSpace);
      return fail("file larger than the host keeps");
    }
    file.data = textToRecords(received_, recordSize_, &file.attr.recordCount);
    if (recordLimit_ > 0 && file.attr.recordCount > recordLimit_) {
      return fail(QString("file limit of %1 records exceeded").arg(recordLimit_));
    }
  } else {
    file.data = received_;
    file.attr.recordCount = (received_.size() + recordSize_ - 1) / recordSize_;
  }
  if (store_.exists(target_))
    store_.purge(target_);
  QString error;
  if (!store_.save(target_, file, &error))
    return fail(error);
  terminal_.logEvent(QString("received %1 size %2 crc32 %3")
                         .arg(target_.qualified())
                         .arg(file.data.size())
                         .arg(crc32Hex(file.data)));
  terminal_.writeLine(
      text::programDone(target_.qualified(), file.attr.recordCount, file.data.size()));
  return true;
}

bool BlockProgram::fail(const QString& reason) {
  terminal_.logEvent("block transfer failed: " + reason);
  terminal_.writeLine(text::programError(reason));
  return true;
}

}  // namespace mpe
