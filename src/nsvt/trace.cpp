// The trace file: pure formatting of marks, lines and hex dumps, the careful
// opening of the file, and a writer that flushes every write and swallows
// every I/O error.
#include "nsvt/trace.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

#ifndef _WIN32

// The trace may hold host output: it is the owner's alone.
constexpr mode_t kPrivateMode = S_IRUSR | S_IWUSR;

// Why open() refused the path, in the operator's words.
std::string OpenFailure(const std::string& path, int error) {
  struct stat info {};
  if (error == ELOOP && ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    return "it is a symbolic link";
  }
  if (error == ENXIO) {
    return "it is not a plain file";  // a FIFO without a reader, or a device
  }
  return std::strerror(error);
}

// Why the open file cannot be a trace; empty when it can. A file of
// another user's, or one with a second name, could be a planted way into a
// file that the trace must never overwrite.
std::string JudgeOpenFile(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return std::strerror(errno);
  }
  if (!S_ISREG(info.st_mode)) {
    return "it is not a plain file";
  }
  if (info.st_uid != ::geteuid()) {
    return "it belongs to another user";
  }
  if (info.st_nlink > 1) {
    return "it has another name (a hard link)";
  }
  return {};
}

// Makes a judged file private, emptied if asked, and blocking again.
std::string PrepareOpenFile(int fd, bool emptied) {
  if (::fchmod(fd, kPrivateMode) != 0 || (emptied && ::ftruncate(fd, 0) != 0)) {
    return std::strerror(errno);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return std::strerror(errno);
  }
  return {};
}

#endif

}  // namespace

TraceFile OpenTraceFile(const std::string& path, bool emptied, std::string& reason) {
#ifdef _WIN32
  // No links or FIFOs to plant in the way POSIX folders allow.
  TraceFile file(std::fopen(path.c_str(), emptied ? "wb" : "ab"));
  reason = file ? std::string() : std::strerror(errno);
  return file;
#else
  // O_NOFOLLOW refuses a link instead of following it; O_NONBLOCK keeps a
  // FIFO from holding the open until a reader comes. No O_TRUNC: nothing is
  // emptied before it has been judged.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kPrivateMode);
  if (fd < 0) {
    reason = OpenFailure(path, errno);
    return {};
  }
  reason = JudgeOpenFile(fd);
  if (reason.empty()) {
    reason = PrepareOpenFile(fd, emptied);
  }
  TraceFile file(reason.empty() ? ::fdopen(fd, "wb") : nullptr);
  if (!file) {
    if (reason.empty()) {
      reason = std::strerror(errno);
    }
    ::close(fd);
  }
  return file;
#endif
}

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
