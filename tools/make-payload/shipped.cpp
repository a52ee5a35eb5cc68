// The image of the host program ZORBELIX that the installer carries as its
// payload (resources/payloads/ZORBELIX).
//
// The image stands in for a native-mode program file: 438 records of 256
// bytes with a file label, a code area of 32-bit instruction words, a data
// area holding the program's messages and its version line, and a symbol
// table. Everything comes from fixed constants and a seeded generator, so two
// runs write the same bytes on every platform.
#include "payloads.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kRecordSize = 256;
constexpr std::size_t kRecordCount = 438;  // 112,128 bytes
constexpr std::size_t kImageSize = kRecordSize * kRecordCount;

// The host program's own identity. The version line has the shape that the
// host's VERSION command prints: the module name blank-filled to 8
// characters, " - ", and the dotted version.
constexpr std::string_view kModuleName = "ZORBELIX";
constexpr std::string_view kModuleVersion = "2.5.0.6";
constexpr std::string_view kFileCode = "NMPRG";

// Layout, in records.
constexpr std::size_t kLabelRecord = 0;
constexpr std::size_t kCodeFirst = 2;
constexpr std::size_t kCodeRecords = 340;
constexpr std::size_t kDataFirst = kCodeFirst + kCodeRecords;  // 342
constexpr std::size_t kDataRecords = 72;
constexpr std::size_t kSymbolFirst = kDataFirst + kDataRecords;      // 414
constexpr std::size_t kSymbolRecords = kRecordCount - kSymbolFirst;  // 24
constexpr std::size_t kSymbolEntrySize = 32;
constexpr std::size_t kProcedureCount = 96;

// Deterministic generator (xorshift32); the seed fixes the whole image.
class Generator {
public:
  explicit Generator(std::uint32_t seed) : state_(seed) {}
  std::uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  std::uint32_t Below(std::uint32_t limit) { return Next() % limit; }

private:
  std::uint32_t state_;
};

class Image {
public:
  Image() : bytes_(kImageSize, 0) {}

  void Put8(std::size_t at, std::uint8_t value) { bytes_.at(at) = value; }
  void Put16(std::size_t at, std::uint16_t value) {
    Put8(at, static_cast<std::uint8_t>(value >> 8));
    Put8(at + 1, static_cast<std::uint8_t>(value));
  }
  void Put32(std::size_t at, std::uint32_t value) {
    Put16(at, static_cast<std::uint16_t>(value >> 16));
    Put16(at + 2, static_cast<std::uint16_t>(value));
  }
  // Text blank-filled (or cut) to width.
  void PutText(std::size_t at, std::string_view text, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
      Put8(at + i, static_cast<std::uint8_t>(i < text.size() ? text[i] : ' '));
    }
  }
  std::uint32_t Get32(std::size_t at) const {
    return (std::uint32_t{bytes_.at(at)} << 24) | (std::uint32_t{bytes_.at(at + 1)} << 16) |
           (std::uint32_t{bytes_.at(at + 2)} << 8) | std::uint32_t{bytes_.at(at + 3)};
  }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

private:
  std::vector<std::uint8_t> bytes_;
};

std::size_t RecordOffset(std::size_t record) {
  return record * kRecordSize;
}

std::string VersionLine() {
  std::string line(kModuleName);
  line.resize(8, ' ');
  line += " - ";
  line += kModuleVersion;
  return line;
}

struct Procedure {
  std::string name;
  std::uint32_t offset;  // byte offset in the image
  std::uint32_t length;  // bytes
};

// Code: procedures of 32-bit words, each with an entry sequence, a body drawn
// from a handful of instruction classes, and a return.
std::vector<Procedure> WriteCode(Image& image, Generator& gen) {
  static constexpr std::array<std::uint32_t, 8> kOpcodes = {
      0x08000000,  // arithmetic/logical, register form
      0x34000000,  // load offset
      0x48000000,  // load word
      0x68000000,  // store word
      0x80000000,  // compare and branch
      0xA0000000,  // add immediate and branch
      0xE8000000,  // branch and link
      0xD0000000,  // shift/extract
  };
  constexpr std::uint32_t kEntryWord = 0x6BC23FD9;   // save return pointer
  constexpr std::uint32_t kFrameWord = 0x37DE0080;   // allocate frame
  constexpr std::uint32_t kReturnWord = 0xE840C002;  // return
  constexpr std::uint32_t kPadWord = 0x08000240;     // no-op

  std::vector<Procedure> procedures;
  const std::size_t begin = RecordOffset(kCodeFirst);
  const std::size_t end = RecordOffset(kCodeFirst + kCodeRecords);
  const std::size_t perProcedure = (end - begin) / kProcedureCount / 4 * 4;
  for (std::size_t p = 0; p < kProcedureCount; ++p) {
    const std::size_t start = begin + p * perProcedure;
    const std::size_t limit = (p + 1 == kProcedureCount) ? end : start + perProcedure;
    // Each procedure uses 60 to 100 per cent of its slot; the rest is no-ops.
    const std::size_t words = (limit - start) / 4;
    const std::size_t used = words * (60 + gen.Below(41)) / 100;
    std::size_t at = start;
    image.Put32(at, kEntryWord);
    image.Put32(at + 4, kFrameWord);
    at += 8;
    for (std::size_t w = 2; w + 1 < used; ++w, at += 4) {
      const std::uint32_t opcode = kOpcodes[gen.Below(kOpcodes.size())];
      image.Put32(at, opcode | (gen.Next() & 0x03FFFFFF));
    }
    image.Put32(at, kReturnWord);
    at += 4;
    for (; at < limit; at += 4) {
      image.Put32(at, kPadWord);
    }
    char name[16];
    std::snprintf(name, sizeof name, "ZBX_PROC%03u", static_cast<unsigned>(p));
    procedures.push_back(
        {name, static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(limit - start)});
  }
  procedures.front().name = "_start";
  procedures[1].name = "main";
  procedures[2].name = "zbx_receive";
  procedures[3].name = "zbx_write_rec";
  return procedures;
}

// Data: the messages first, each NUL-terminated and word-aligned, then
// tables of 16-bit values.
void WriteData(Image& image, Generator& gen) {
  const std::string version = VersionLine();
  const std::string_view messages[] = {
      version,
      "Host Program: Build",
      "YGA",
      "END OF PROGRAM",
      "Error opening file",
      "Error writing record",
      "Checksum error in block",
      "Sequence error in block",
      "Transfer complete",
      "Records written: ",
      "Usage: RUN ZORBELIX.PUB.SYS",
  };
  std::size_t at = RecordOffset(kDataFirst);
  for (std::string_view message : messages) {
    image.PutText(at, message, message.size());
    at += (message.size() + 1 + 3) / 4 * 4;  // NUL, then word alignment
  }
  at = RecordOffset(kDataFirst + 2);
  const std::size_t end = RecordOffset(kDataFirst + kDataRecords);
  // Lookup tables: a rising ramp, then values with few bits set.
  for (std::size_t i = 0; at < end && i < 2048; ++i, at += 2) {
    image.Put16(at, static_cast<std::uint16_t>(i * 37));
  }
  for (; at < end; at += 2) {
    image.Put16(at, static_cast<std::uint16_t>(gen.Next() & gen.Next() & 0x0FFF));
  }
}

// Symbols: 32-byte entries of name (16, blank-filled), offset, length, kind.
void WriteSymbols(Image& image, const std::vector<Procedure>& procedures) {
  std::size_t at = RecordOffset(kSymbolFirst);
  const std::size_t end = RecordOffset(kSymbolFirst + kSymbolRecords);
  for (const Procedure& procedure : procedures) {
    if (at + kSymbolEntrySize > end) {
      break;
    }
    image.PutText(at, procedure.name, 16);
    image.Put32(at + 16, procedure.offset);
    image.Put32(at + 20, procedure.length);
    image.Put16(at + 24, 1);  // code symbol
    at += kSymbolEntrySize;
  }
  image.PutText(at, "zbx_messages", 16);
  image.Put32(at + 16, static_cast<std::uint32_t>(RecordOffset(kDataFirst)));
  image.Put32(at + 20, static_cast<std::uint32_t>(kDataRecords * kRecordSize));
  image.Put16(at + 24, 2);  // data symbol
}

// File label: name, file code, the layout, and a sum of every later word.
void WriteLabel(Image& image) {
  const std::size_t at = RecordOffset(kLabelRecord);
  image.PutText(at, kModuleName, 8);
  image.PutText(at + 8, kFileCode, 8);
  image.Put16(at + 16, static_cast<std::uint16_t>(kRecordSize));
  image.Put16(at + 18, static_cast<std::uint16_t>(kRecordCount));
  image.Put16(at + 20, static_cast<std::uint16_t>(kCodeFirst));
  image.Put16(at + 22, static_cast<std::uint16_t>(kCodeRecords));
  image.Put16(at + 24, static_cast<std::uint16_t>(kDataFirst));
  image.Put16(at + 26, static_cast<std::uint16_t>(kDataRecords));
  image.Put16(at + 28, static_cast<std::uint16_t>(kSymbolFirst));
  image.Put16(at + 30, static_cast<std::uint16_t>(kSymbolRecords));
  image.Put32(at + 32, static_cast<std::uint32_t>(RecordOffset(kCodeFirst)));  // entry point
  image.PutText(at + 64, VersionLine(), 32);
  std::uint32_t sum = 0;
  for (std::size_t word = RecordOffset(kLabelRecord + 1); word < kImageSize; word += 4) {
    sum += image.Get32(word);
  }
  image.Put32(at + 252, sum);
}

}  // namespace

namespace payloads {

Bytes ShippedImage() {
  Image image;
  Generator gen(0x5A42584Cu);  // "ZBXL"
  const std::vector<Procedure> procedures = WriteCode(image, gen);
  WriteData(image, gen);
  WriteSymbols(image, procedures);
  WriteLabel(image);
  return image.Bytes();
}

}  // namespace payloads
