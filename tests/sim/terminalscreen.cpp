// The terminal's screen for the tests.
#include "terminalscreen.h"

namespace {

// TERM_IO (class 2 type 1) as terminals read it.
constexpr int kOffClass = 3;
constexpr int kOffType = 5;
constexpr int kOffWriteFlags = 14;
constexpr int kOffWriteCount = 16;  // the bytes from kOffWriteData on
constexpr int kOffWriteData = 18;
constexpr uint8_t kClassTerminalRequest = 2;
constexpr uint8_t kTypeWrite = 1;
// The first data byte is carriage control; without it the data is text.
constexpr uint16_t kFlagCarriageControl = 0x8000;

// Carriage control, acting after the text.
constexpr uint8_t kStay = 0xD0;  // no line movement: prompts
constexpr uint8_t kSingleSpace = 0x20;
constexpr uint8_t kDoubleSpace = 0x30;
constexpr uint8_t kTripleSpace = 0x2D;
constexpr uint8_t kOverprint = 0x2B;  // back to the line's start
constexpr uint8_t kNewPage = 0x31;
constexpr uint8_t kSkipFirst = 0x80;  // skip (control - 0x80) lines
constexpr uint8_t kSkipLast = 0xBF;

constexpr char kFormFeed = '\f';

int get16(const QByteArray& m, int at) {
  return (static_cast<uint8_t>(m[at]) << 8) | static_cast<uint8_t>(m[at + 1]);
}

}  // namespace

void TerminalScreen::hostMessage(const QByteArray& m) {
  if (m.size() < kOffWriteData || static_cast<uint8_t>(m[kOffClass]) != kClassTerminalRequest ||
      static_cast<uint8_t>(m[kOffType]) != kTypeWrite) {
    return;
  }
  const QByteArray data = m.mid(kOffWriteData, get16(m, kOffWriteCount));
  if (data.isEmpty() || !(get16(m, kOffWriteFlags) & kFlagCarriageControl)) {
    print(data);
    return;
  }
  print(data.mid(1));
  applyCarriageControl(static_cast<uint8_t>(data[0]));
}

void TerminalScreen::typed(const QByteArray& line) {
  print(line);
  advance(1);
}

QStringList TerminalScreen::lines() const {
  QStringList out;
  for (const QByteArray& line : lines_)
    out << QString::fromLatin1(line);
  if (out.last().isEmpty())
    out.removeLast();
  return out;
}

// Plain text moves the cursor only by its own CR and LF.
void TerminalScreen::print(const QByteArray& text) {
  for (const char c : text) {
    if (c == '\r') {
      column_ = 0;
    } else if (c == '\n') {
      advance(1);
    } else {
      QByteArray& line = lines_[row_];
      if (line.size() <= column_)
        line.resize(column_ + 1, ' ');
      line[column_++] = c;
    }
  }
}

void TerminalScreen::applyCarriageControl(uint8_t control) {
  switch (control) {
    case kStay:
      return;
    case kSingleSpace:
      return advance(1);
    case kDoubleSpace:
      return advance(2);
    case kTripleSpace:
      return advance(3);
    case kOverprint:
      column_ = 0;
      return;
    case kNewPage:
      return newPage();
    default:
      if (control >= kSkipFirst && control <= kSkipLast)
        return advance(control - kSkipFirst);
      // An unknown control byte moves as an ordinary line does.
      return advance(1);
  }
}

void TerminalScreen::advance(int count) {
  column_ = 0;
  row_ += count;
  while (lines_.size() <= row_)
    lines_ << QByteArray();
}

void TerminalScreen::newPage() {
  advance(1);
  lines_[row_] = QByteArray(1, kFormFeed);
  advance(1);
}
