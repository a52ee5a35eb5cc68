// The trace file: pure formatting of marks, lines and hex dumps, and a
// writer that flushes every write and swallows every I/O error. The careful
// opening of the file is the platform's (trace_posix.cpp, trace_win.cpp).
#include "nsvt/trace.h"

#include <algorithm>
#include <cstdio>

namespace nsvt {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kHexSplit = 8;  // "|" after this many cells
constexpr std::string_view kEmptyCell = "   ";
constexpr char kHexDigits[] = "0123456789ABCDEF";

char Printable(unsigned char c) {
  return c < 32 ? '.' : static_cast<char>(c);
}

// Flag bits of a terminal settings request after the echo bit, each with its
// trace letter.
struct FlagLetter {
  std::uint16_t bit;
  char letter;
};
constexpr FlagLetter kLaterFlags[] = {
    {0x2000, 'e'}, {0x1000, 'f'}, {0x0800, 'g'}, {0x0400, 'h'},
    {0x0200, 'i'}, {0x0100, 'j'}, {0x0080, 'k'},
};
constexpr std::uint16_t kSettingsNumberBit = 0x4000;

std::uint8_t ByteAt(ConstBytes message, std::size_t position) {
  return position < message.size() ? message[position] : 0;
}

// Type marks of classes 0 and 1: types 0 to 3 as "1" to "4".
void AppendControlTypeMark(std::string& mark, std::uint8_t type) {
  if (type <= 3) {
    mark += static_cast<char>('1' + type);
  }
}

// Type marks of classes 2 and 3: types 0, 1, 2 and 4 as "1" to "4".
void AppendTerminalTypeMark(std::string& mark, std::uint8_t type) {
  if (type <= 2) {
    mark += static_cast<char>('1' + type);
  } else if (type == 4) {
    mark += '4';
  }
}

void AppendSettingsFlags(std::string& mark, ConstBytes message) {
  const std::uint16_t flags = GetBE16(message, kOffSettingsFlags);
  if (flags & kSettingsEchoBit) {
    mark += ByteAt(message, kOffSettingsEcho) == kEchoOff ? 'a' : 'b';
    mark += 'c';
  }
  if (flags & kSettingsNumberBit) {
    mark += 'd';
    mark += std::to_string(ByteAt(message, kOffSettingsNumber));
  }
  for (const FlagLetter& flag : kLaterFlags) {
    if (flags & flag.bit) {
      mark += flag.letter;
    }
  }
}

}  // namespace

std::string CheckTraceFile(const std::string& path) {
  std::string reason;
  OpenTraceFile(path, false, reason);
  return reason;
}

std::string FormatHexDump(ConstBytes bytes) {
  const std::size_t count = std::min(bytes.size(), kHexDumpLimit);
  // 49 columns of cells, a bar, up to 16 characters, CR LF.
  constexpr std::size_t kLineWidth = 3 * kHexBytesPerLine + 1 + 1 + kHexBytesPerLine + 2;
  std::string out;
  out.reserve((count + kHexBytesPerLine - 1) / kHexBytesPerLine * kLineWidth);

  for (std::size_t start = 0; start < count; start += kHexBytesPerLine) {
    const std::size_t inLine = std::min(kHexBytesPerLine, count - start);
    for (std::size_t p = 0; p < kHexBytesPerLine; ++p) {
      if (p < inLine) {
        const std::uint8_t b = bytes[start + p];
        out += ' ';
        out += kHexDigits[b >> 4];
        out += kHexDigits[b & 0x0F];
      } else {
        out += kEmptyCell;
      }
      if (p + 1 == kHexSplit) {
        out += '|';
      }
    }
    out += '|';
    for (std::size_t p = 0; p < inLine; ++p) {
      out += Printable(bytes[start + p]);
    }
    out += kLineEnd;
  }
  return out;
}

std::string FormatTraceLine(std::string_view text) {
  std::string out;
  out.reserve(text.size() + kLineEnd.size());
  for (const char c : text) {
    out += Printable(static_cast<unsigned char>(c));
  }
  out += kLineEnd;
  return out;
}

std::string FormatMessageMark(ConstBytes message) {
  if (ByteAt(message, kOffVersion) != kProtocolVersion) {
    return {};  // an invalid packet is reported, not marked
  }
  const std::uint8_t messageClass = ByteAt(message, kOffClass);
  const std::uint8_t type = ByteAt(message, kOffType);
  std::string mark;
  switch (messageClass) {
    case kClassControlRequest:
      mark = "~A";
      AppendControlTypeMark(mark, type);
      break;
    case kClassControlReply:
      mark = "~B";
      AppendControlTypeMark(mark, type);
      break;
    case kClassTerminalRequest: {
      char head[32];
      std::snprintf(head, sizeof head, "~C(%.4d-%.4d)", GetBE16(message, kOffReadSecond),
                    GetBE16(message, kOffReadLength));
      mark = head;
      AppendTerminalTypeMark(mark, type);
      break;
    }
    case kClassTerminalInput:
      mark = "~D";
      AppendTerminalTypeMark(mark, type);
      break;
    case kClassTerminalControl:
      // Class 4 numbers its two types the other way round.
      mark = "~E";
      if (type == kTypeSetBreak) {
        mark += '2';
      } else if (type == kTypeTerminalSettings) {
        mark += '1';
        AppendSettingsFlags(mark, message);
      }
      break;
    case kClassTerminalControlReply:
      mark = "~F";
      break;
    case kClassApplicationControl:
      mark = "~G";
      break;
    case kClassApplicationControlReply:
      mark = "~H";
      break;
    case kClassMpeControl:
      mark = "~I";
      mark += type == 0 ? '1' : '2';
      break;
    case kClassMpeControlReply:
      mark = "~J";
      break;
    default:
      mark = "~K";
      break;
  }
  return mark;
}

TraceWriter::~TraceWriter() = default;

std::string TraceWriter::Open(const std::string& path) {
  file_.reset();
  std::string reason;
  file_ = OpenTraceFile(path, true, reason);
  return reason;
}

void TraceWriter::TraceMark(std::string_view text) {
  Write(text);
}

void TraceWriter::TraceLine(std::string_view text) {
  if (file_ != nullptr) {
    Write(FormatTraceLine(text));
  }
}

void TraceWriter::TraceHexDump(ConstBytes bytes) {
  if (file_ != nullptr && !bytes.empty()) {
    Write(FormatHexDump(bytes));
  }
}

void TraceWriter::Write(std::string_view text) {
  if (file_ == nullptr || text.empty()) {
    return;
  }
  // Errors are deliberately dropped: tracing never changes what the
  // installer does.
  (void)std::fwrite(text.data(), 1, text.size(), file_.get());
  (void)std::fflush(file_.get());
}

}  // namespace nsvt
