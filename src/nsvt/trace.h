// The trace file "TRACEFIL": marks for received messages, lines with control
// characters shown as ".", and hex dumps of 16 bytes a line. Every write is
// flushed at once and every I/O error is discarded: tracing never stops or
// slows the installer's decisions. The formatting functions are pure so the
// layouts can be checked without a file.
#pragma once

#include "nsvt/vtpkt.h"

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace nsvt {

inline constexpr std::size_t kHexDumpLimit = 4096;  // bytes dumped at most per call
inline constexpr std::size_t kHexBytesPerLine = 16;

// One hex-dump line per 16 bytes, each ending in CR LF; at most
// kHexDumpLimit bytes are dumped, the rest is ignored.
std::string FormatHexDump(ConstBytes bytes);
// The text with every character below 32 replaced by ".", plus CR LF.
std::string FormatTraceLine(std::string_view text);
// The class mark and type mark (and the flag letters of a terminal settings
// request) for a received message whose version byte is 2.
std::string FormatMessageMark(ConstBytes message);

struct TraceFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using TraceFile = std::unique_ptr<std::FILE, TraceFileCloser>;

// The one way a trace file is opened, for the check before a run and for
// the writer alike. The path must name a plain file of the running user's
// with no other name (or nothing, and it is created 0600); a symbolic link,
// a FIFO, a device, a folder, a hard link or another user's file is
// refused. Everything is judged on the open descriptor, never on the path,
// and only then, with emptied set, is the file emptied: a refused path is
// never truncated. Returns the file, or none with the reason in reason.
TraceFile OpenTraceFile(const std::string& path, bool emptied, std::string& reason);

// Whether path would be accepted as a trace file (it is created if it did
// not exist, and left as it was if it did); the reason when not, else empty.
std::string CheckTraceFile(const std::string& path);

class TraceWriter {
public:
  TraceWriter() = default;
  ~TraceWriter();
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  // Opens path through OpenTraceFile, emptied and readable and writable by
  // the owner only. Returns why it was refused or could not be made (the
  // writes then do nothing); empty when it is open.
  std::string Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }

  void TraceMark(std::string_view text);
  void TraceLine(std::string_view text);
  void TraceHexDump(ConstBytes bytes);

private:
  void Write(std::string_view text);
  TraceFile file_;
};

}  // namespace nsvt
