// The operator console (Memo1): typed characters collected into a line and
// sent as the answer to the host's read, local echo, and the console's
// limits (20 lines, caret at the end).
#include "shell/TNSVT.h"

#include "shell/consoleedit.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>

namespace shell {

namespace {

constexpr std::uint8_t kBackspace = 8;
constexpr std::uint8_t kEnter = 13;
constexpr char kNul = '\0';
constexpr char kCr = '\r';
constexpr char kLf = '\n';
const QString kLineBreak = QStringLiteral("\r\n");
// The console lays its last line out again on every append, so a host that
// never ends a line would make each message cost as much as the whole
// console (TNSVT::kConsoleCharLimit characters). Output goes on in a new line once
// the last one holds this many characters, far more than any terminal line.
constexpr int kConsoleLineCharLimit = 1024;

QTextCursor EndOf(QPlainTextEdit* edit) {
  QTextCursor cursor(edit->document());
  cursor.movePosition(QTextCursor::End);
  return cursor;
}

// Lines as the operator counts them: a trailing line break does not start a
// line of its own.
int CountLines(const QTextDocument* document) {
  int lines = document->blockCount();
  if (lines > 0 && document->lastBlock().length() <= 1) {
    --lines;
  }
  return lines;
}

}  // namespace

void TNSVT::Memo1KeyPress(std::uint8_t c) {
  if (c == kBackspace) {
    if (session_.LocalEcho()) {
      if (consoleCrPending_) {
        consoleCrPending_ = false;  // the last character is that CR
      } else {
        QTextCursor cursor = EndOf(ui_.Memo1);
        cursor.deletePreviousChar();
      }
    }
    if (!ConsoleLine.empty()) {
      ConsoleLine.pop_back();
    }
    return;
  }
  if (c != kEnter) {
    if (session_.LocalEcho()) {
      const char typed = static_cast<char>(c);
      AppendConsoleBytes(std::span(reinterpret_cast<const std::uint8_t*>(&typed), 1));
    }
    ConsoleLine.push_back(static_cast<char>(c));
    if (static_cast<std::int64_t>(ConsoleLine.size()) < session_.HostReadLength()) {
      return;
    }
  }

  // Send the line. The typed characters are on screen already, so the line
  // is not shown a second time; typed with the host's echo off, they are a
  // password and stay out of the trace.
  const bool localEcho = session_.LocalEcho();
  if (localEcho) {
    InsertConsoleBreak();
  }
  run_.ClearHostText();
  if (ConsoleLine.size() <= nsvt::kMaxTerminalData) {
    session_.SendLine(ConsoleLine, !localEcho);
    SetConsoleInput(false);
  }
  ConsoleLine.clear();
}

void TNSVT::Memo1Change() {
  if (trimmingConsole_) {
    return;  // the trimming below changes the text itself
  }
  trimmingConsole_ = true;
  QTextDocument* document = ui_.Memo1->document();
  while (CountLines(document) > TNSVT::kConsoleLineLimit) {
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
  }
  if (document->characterCount() > TNSVT::kConsoleCharLimit) {
    // Drop the oldest half at once so a flood costs little per message.
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor,
                        document->characterCount() - TNSVT::kConsoleCharLimit / 2);
    cursor.removeSelectedText();
  }
  ui_.Memo1->moveCursor(QTextCursor::End);
  ui_.Memo1->verticalScrollBar()->setValue(ui_.Memo1->verticalScrollBar()->maximum());
  trimmingConsole_ = false;
}

// Only CR LF ends a console line, as in the console the program was made
// for; a lone CR or LF shows nothing. A CR that ends one piece of output
// waits for the next to know whether an LF follows, so a CR LF split across
// two messages is still one line break.
void TNSVT::AppendConsoleBytes(std::span<const std::uint8_t> bytes) {
  // The console holds text only up to a NUL.
  const auto* text = reinterpret_cast<const char*>(bytes.data());
  std::size_t length = 0;
  while (length < bytes.size() && text[length] != kNul) {
    ++length;
  }
  std::size_t start = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (consoleCrPending_) {
      consoleCrPending_ = false;
      if (c == kLf) {
        InsertConsoleBreak();
        start = i + 1;
        continue;
      }
    }
    if (c == kCr || c == kLf) {
      InsertConsoleText(std::string_view(text + start, i - start));
      consoleCrPending_ = c == kCr;
      start = i + 1;
    }
  }
  InsertConsoleText(std::string_view(text + start, length - start));
}

void TNSVT::InsertConsoleBreak() {
  consoleCrPending_ = false;
  EndOf(ui_.Memo1).insertText(kLineBreak);
}

// Text without line ends, continued on a new line once the last one holds
// kConsoleLineCharLimit characters.
void TNSVT::InsertConsoleText(std::string_view text) {
  while (!text.empty()) {
    const int lastLine = ui_.Memo1->document()->lastBlock().length() - 1;
    if (lastLine >= kConsoleLineCharLimit) {
      InsertConsoleBreak();
      continue;
    }
    const std::size_t piece =
        std::min(text.size(), static_cast<std::size_t>(kConsoleLineCharLimit - lastLine));
    EndOf(ui_.Memo1).insertText(QString::fromLatin1(text.data(), static_cast<qsizetype>(piece)));
    text.remove_prefix(piece);
  }
}

void TNSVT::EndConsoleLine() {
  consoleCrPending_ = false;  // a CR left waiting was a lone one
  const QTextBlock last = ui_.Memo1->document()->lastBlock();
  if (last.length() > 1) {
    InsertConsoleBreak();
  }
}

}  // namespace shell
