// Fuzz target: the pure cores that take bytes from outside the program.
// One input feeds all of them: version texts, line-end rewriting of a
// transfer block, the trace's hex dump and line format, script line
// splitting and variable expansion, payload unpacking, the NS/VT readers and
// the framer. Besides "no crash, no sanitizer report" it checks the
// properties each one promises.
#include "install/payloadstore.h"
#include "install/scriptline.h"
#include "install/transfer.h"
#include "install/version.h"
#include "nsvt/framer.h"
#include "nsvt/trace.h"
#include "nsvt/vtpkt.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz_pure: broken promise: %s\n", what);
    std::abort();
  }
}

void Versions(std::string_view text) {
  const std::int32_t version = install::ParseVersion(text);
  Require(version >= 0, "ParseVersion is never negative");
}

void LineEnds(std::span<const std::uint8_t> bytes) {
  // A block whose data is the input (cut to the block's data size), with a
  // guard zone behind it that must stay untouched.
  std::array<std::uint8_t, install::kBlockBufferSize> block{};
  const std::size_t dataRoom = install::kBlockSize - install::kOffBlockData;
  const std::size_t count = std::min(bytes.size(), dataRoom);
  std::copy_n(bytes.begin(), count, block.begin() + install::kOffBlockData);
  const std::size_t written = install::NormalizeLineEnds(block, count);
  Require(written <= count, "NormalizeLineEnds never lengthens the data");
  for (std::size_t i = 0; i < written; ++i) {
    Require(block[install::kOffBlockData + i] != '\r', "no CR is left in the data");
  }
  for (std::size_t i = install::kOffBlockData + written; i < block.size(); ++i) {
    Require(block[i] == 0, "the block stays zero-padded after its data");
  }
  // A count larger than the block is cut, never followed outside it.
  std::array<std::uint8_t, install::kBlockSize> small{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), small.size()), small.begin());
  Require(install::NormalizeLineEnds(small, bytes.size() + 5000) <= small.size(),
          "NormalizeLineEnds stays in its block");
}

void Trace(std::span<const std::uint8_t> bytes) {
  const std::string dump = nsvt::FormatHexDump(bytes);
  const std::size_t dumped = std::min(bytes.size(), nsvt::kHexDumpLimit);
  const std::size_t lines = (dumped + nsvt::kHexBytesPerLine - 1) / nsvt::kHexBytesPerLine;
  Require(static_cast<std::size_t>(std::count(dump.begin(), dump.end(), '\n')) == lines,
          "one hex-dump line per 16 bytes, at most kHexDumpLimit bytes");
  const std::string line = nsvt::FormatTraceLine(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  Require(line.size() == bytes.size() + 2, "a trace line is its text plus CR LF");
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    Require(static_cast<unsigned char>(line[i]) >= 32, "control characters become dots");
  }
}

void ScriptLines(std::string_view text) {
  // The first line is the script line; the following lines are variables
  // 0 to 9, so values can refer to each other (and to themselves).
  const std::size_t end = text.find('\n');
  const std::string_view line = text.substr(0, end);
  install::ScriptVars vars;
  std::string_view rest = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
  for (std::size_t i = 0; i < 10 && !rest.empty(); ++i) {
    const std::size_t next = rest.find('\n');
    vars[i] = std::string(rest.substr(0, next));
    rest = next == std::string_view::npos ? std::string_view{} : rest.substr(next + 1);
  }

  install::LineFields fields;
  fields[5].Text = "stale";
  install::ParseScriptLine(line, fields);
  for (const install::ScriptField& field : fields) {
    Require(field.Number >= 0, "a field's number is never negative");
    Require(field.Text.size() <= line.size(), "a field is part of its line");
    Require(field.Text.find(install::kFieldSeparator) == std::string::npos,
            "no field holds a separator");
  }
  install::LineFields kept;
  kept[5].Text = "stale";
  install::ParseScriptLine(line, kept, true);
  (void)install::LineNumber(kept[1]);

  std::string expanded = fields[1].Text;
  const std::string before = expanded;
  const install::ExpandResult result = install::ExpandVariables(expanded, vars);
  if (result == install::ExpandResult::Ok) {
    Require(expanded.find('%') == std::string::npos, "an expanded text holds no %");
    Require(expanded.size() <= std::max(before.size(), install::kMaxExpandedLength),
            "expansion is bounded");
  } else {
    Require(expanded == before, "a failed expansion leaves the text as it was");
  }
}

void Unpack(std::span<const std::uint8_t> bytes) {
  std::vector<std::uint8_t> out;
  std::size_t size = 0;
  const install::UnpackResult result = install::UnpackPayload(bytes, out, size);
  if (result == install::UnpackResult::Ok) {
    Require(size <= install::kUnpackCapacity && size <= out.size(),
            "an unpacked payload fits its buffer");
  }
  (void)install::HasOwnHeader(bytes);
}

// The NS/VT readers on a message as the dispatcher holds it: in a
// zero-filled frame-sized area, possibly shorter than its fields.
void Readers(std::span<const std::uint8_t> bytes) {
  nsvt::ScratchArea scratch;
  scratch.Load(bytes.first(std::min(bytes.size(), nsvt::kMaxFrame)));
  const nsvt::ConstBytes message = scratch.View();
  (void)nsvt::MessageLength(message);
  (void)nsvt::TerminationReasonText(nsvt::TerminationReason(message));
  Require(nsvt::LogonNoticeText(message).size() <= 80, "a logon notice is at most 80 bytes");
  const nsvt::ConstBytes data = nsvt::TermIoData(message);
  Require(data.empty() || (data.data() >= message.data() &&
                           data.data() + data.size() <= message.data() + message.size()),
          "TERM_IO data lie inside the message");
  if (bytes.size() >= nsvt::kHeaderSize && bytes[nsvt::kOffVersion] == nsvt::kProtocolVersion) {
    (void)nsvt::FormatMessageMark(message);
  }
}

// The framer fed in one piece and byte by byte must cut the same messages.
void Framing(std::span<const std::uint8_t> bytes) {
  static nsvt::Framer whole;
  static nsvt::Framer single;
  whole.Clear();
  single.Clear();
  std::vector<std::vector<std::uint8_t>> byWhole;
  std::vector<std::vector<std::uint8_t>> bySingle;
  int badWhole = 0;
  int badSingle = 0;

  std::span<const std::uint8_t> rest = bytes;
  while (!rest.empty()) {
    nsvt::Framer::Result result = nsvt::Framer::Result::NeedMore;
    const std::size_t taken = whole.Accept(rest, result);
    Require(taken > 0 && taken <= rest.size(), "Accept takes at least one byte of its input");
    rest = rest.subspan(taken);
    if (result == nsvt::Framer::Result::Complete) {
      const nsvt::ConstBytes message = whole.Message();
      Require(message.size() >= nsvt::kHeaderSize && message.size() == nsvt::MessageLength(message),
              "a complete message has its stated length");
      byWhole.emplace_back(message.begin(), message.end());
      whole.Clear();
    } else if (result == nsvt::Framer::Result::BadLength) {
      ++badWhole;
      whole.Clear();
    }
  }
  for (const std::uint8_t byte : bytes) {
    const nsvt::Framer::Result result = single.AcceptByte(byte);
    if (result == nsvt::Framer::Result::Complete) {
      const nsvt::ConstBytes message = single.Message();
      bySingle.emplace_back(message.begin(), message.end());
      single.Clear();
    } else if (result == nsvt::Framer::Result::BadLength) {
      ++badSingle;
      single.Clear();
    }
  }
  Require(
      byWhole == bySingle && badWhole == badSingle && whole.ReceiveCount() == single.ReceiveCount(),
      "Accept and AcceptByte frame alike");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Versions(text);
  LineEnds(bytes);
  Trace(bytes);
  ScriptLines(text);
  Unpack(bytes);
  Readers(bytes);
  Framing(bytes);
  return 0;
}
