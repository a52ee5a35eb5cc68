// The trace file "TRACEFIL": marks for received messages, lines with control
// characters shown as ".", and hex dumps of 16 bytes a line. Every write is
// flushed at once and every I/O error is discarded: tracing never stops or
// slows the installer's decisions. The formatting functions are pure so the
// layouts can be checked without a file.
#pragma once

#include "nsvt/vtpkt.h"

#include <cstdio>
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

class TraceWriter {
public:
  TraceWriter() = default;
  ~TraceWriter();
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  // Creates path empty (replacing a regular file of that name), readable and
  // writable by the owner only, without following a symbolic link planted in
  // its place. Returns false when the file could not be made; writes then do
  // nothing.
  bool Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }

  void TraceMark(std::string_view text);
  void TraceLine(std::string_view text);
  void TraceHexDump(ConstBytes bytes);

private:
  void Write(std::string_view text);
  std::FILE* file_ = nullptr;
};

}  // namespace nsvt
