// FCOPY, copying from the terminal's tape unit into $OLDPASS.
#include "fcopy.h"

#include <QRegularExpression>

#include "faultpoints.h"
#include "mpetexts.h"

namespace mpe {

namespace {
constexpr int kTapeReadyReadLength = 80;
}

Fcopy::Fcopy(HostTerminal& terminal, SessionState& session, const HostConfig& config)
    : terminal_(terminal), session_(session), questionsLeft_(config.fcopyQuestions) {}

void Fcopy::start() {
  terminal_.writeLine(text::kFcopyBanner);
  terminal_.writeLine("");
  prompt();
}

void Fcopy::prompt() {
  step_ = Step::Command;
  terminal_.writeInPlace(text::kFcopyPrompt);
  terminal_.postRead(kCommandReadLength);
}

bool Fcopy::input(const QByteArray& data) {
  switch (step_) {
    case Step::Command:
      return command(data);
    case Step::ExitQuestion:
      if (data.trimmed().toUpper().startsWith('Y'))
        return true;
      prompt();
      return false;
    case Step::TapeReady:
      askForRecord();
      return false;
    case Step::Status:
      status(data);
      return false;
    case Step::Record:
      record(data);
      return false;
  }
  return false;
}

bool Fcopy::command(const QByteArray& line) {
  const QString cmd = QString::fromLatin1(line).trimmed().toUpper();
  if (cmd.isEmpty()) {
    prompt();
    return false;
  }
  if (cmd == "E" || cmd == "EXIT") {
    if (questionsLeft_ <= 0)
      return true;
    --questionsLeft_;
    step_ = Step::ExitQuestion;
    terminal_.writeInPlace(text::kFcopyExitQuestion);
    terminal_.postRead(kCommandReadLength);
    return false;
  }
  static const QRegularExpression copyRe(R"(^FROM\s*=\s*([^;\s]+)\s*;\s*TO\s*=\s*([^;\s]+)\s*$)");
  const QRegularExpressionMatch m = copyRe.match(cmd);
  if (!m.hasMatch()) {
    terminal_.writeLine(text::kFcopyUnknownCommand);
  } else if (m.captured(1) != "$CTUL") {
    terminal_.writeLine(text::kFcopyNoFromFile);
  } else if (m.captured(2) != "$OLDPASS" || !session_.tempFile) {
    terminal_.writeLine(text::kFcopyNoToFile);
  } else {
    startCopy();
    return false;
  }
  prompt();
  return false;
}

void Fcopy::startCopy() {
  // A new copy starts the file afresh, as FCOPY opens its TOFILE anew.
  session_.tempFile->data.clear();
  session_.tempFile->attr.recordCount = 0;
  copied_ = 0;
  terminal_.logEvent("FCOPY copy from $CTUL to $OLDPASS started");
  step_ = Step::TapeReady;
  terminal_.writeInPlace(text::kFcopyTapeReady);
  terminal_.postRead(kTapeReadyReadLength);
}

void Fcopy::askForRecord() {
  step_ = Step::Status;
  terminal_.markPoint(faults::pointName(faults::Point::FcopyRecord, copied_ + 1));
  terminal_.writeInPlace(text::kTapeReadEscape);
  terminal_.postRead(kStatusReadLength);
}

void Fcopy::status(const QByteArray& answer) {
  if (answer == text::kTapeStatusEnd) {
    endCopy();
  } else if (answer == text::kTapeStatusRecord) {
    step_ = Step::Record;
    terminal_.postRead(session_.tempFile->attr.recordSize);
  } else {
    failCopy(text::kFcopyBadStatus);
  }
}

void Fcopy::record(const QByteArray& bytes) {
  FileAttributes& attr = session_.tempFile->attr;
  if (bytes.size() != attr.recordSize) {
    failCopy(text::fcopyWrongRecordSize(static_cast<int>(bytes.size()), attr.recordSize));
    return;
  }
  if (attr.limit > 0 && copied_ >= attr.limit) {
    failCopy(text::fcopyLimitReached(attr.limit));
    return;
  }
  if (session_.tempFile->data.size() + bytes.size() > kMaxFileBytes) {
    failCopy(text::kOutOfDiscSpace);
    return;
  }
  session_.tempFile->data.append(bytes);
  attr.recordCount = ++copied_;
  askForRecord();
}

void Fcopy::endCopy() {
  if (copied_ > 0)
    terminal_.writeLine(text::fcopyEof(copied_));
  terminal_.writeLine(text::fcopyProcessed(copied_, 0));
  terminal_.logEvent(QString("FCOPY copied %1 records (%2 bytes) into $OLDPASS")
                         .arg(copied_)
                         .arg(session_.tempFile->data.size()));
  terminal_.markPoint(faults::pointName(faults::Point::FcopyEnd));
  prompt();
}

void Fcopy::failCopy(const QByteArray& why) {
  terminal_.writeLine(why);
  terminal_.writeLine(text::kFcopyIncomplete);
  terminal_.logEvent(
      QString("FCOPY copy failed after %1 records: %2").arg(copied_).arg(QString::fromLatin1(why)));
  prompt();
}

}  // namespace mpe
