// The test and benchmark payloads.
#include "payloads.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace payloads {

namespace {

// xorshift32: small, fixed, and the same everywhere.
class Xorshift {
public:
  explicit Xorshift(std::uint32_t seed) : x_(seed) {}
  std::uint8_t Next() {
    x_ ^= x_ << 13;
    x_ ^= x_ >> 17;
    x_ ^= x_ << 5;
    return static_cast<std::uint8_t>(x_ >> 11);
  }

private:
  std::uint32_t x_;
};

constexpr std::size_t kHeaderSize = 128;
const char kHeaderMagic[] = "QZBIN";
constexpr std::size_t kMagicLength = 5;
constexpr std::size_t kProgramImageSize = 1000000;

}  // namespace

Bytes Pack(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes packed(size);
  if (compress2(packed.data(), &size, data.data(), static_cast<uLong>(data.size()),
                Z_BEST_COMPRESSION) != Z_OK) {
    std::fprintf(stderr, "make-payload: compress2 failed\n");
    std::exit(1);
  }
  packed.resize(size);
  return packed;
}

Bytes Pattern(std::size_t size, std::uint32_t seed) {
  Bytes data(size);
  std::uint32_t x = seed;
  for (auto& byte : data) {
    x = x * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(x >> 16);
  }
  if (size > 0) {
    data[0] = 0x7F;
  }
  return data;
}

Bytes WithOwnHeader(std::size_t size) {
  Bytes data = Pattern(size, 77);
  std::memcpy(data.data(), kHeaderMagic, kMagicLength);
  return data;
}

Bytes CrLfText() {
  std::string text;
  for (int i = 0; text.size() < 2500; ++i) {
    text += "LINE " + std::to_string(i) + (i % 7 == 3 ? "\r" : "\r\n");
  }
  return Bytes(text.begin(), text.end());
}

Bytes Noise(std::size_t size, std::uint32_t seed) {
  Xorshift noise(seed);
  Bytes bytes(size);
  for (std::uint8_t& b : bytes) {
    b = noise.Next();
  }
  return bytes;
}

// Magic, record size 256 at offset 5, record limit 50000 at offset 8
// (big-endian), the marks 0x48 0x33 at offsets 12 and 13.
Bytes TransferHeader() {
  Bytes header(kHeaderSize, 0);
  std::copy_n(kHeaderMagic, kMagicLength, header.begin());
  header[5] = 0x01;  // 256
  header[6] = 0x00;
  header[8] = 0x00;  // 50000 = 0x0000C350
  header[9] = 0x00;
  header[10] = 0xC3;
  header[11] = 0x50;
  header[12] = 0x48;
  header[13] = 0x33;
  return header;
}

// Lines of varying length (all shorter than an 80-byte record) with every
// kind of line end. A text transfer drops a CR that falls on the last two
// bytes of a 1024-byte block, so none is left there.
Bytes MixedLineText() {
  std::string text;
  for (int line = 1; text.size() < 2600; ++line) {
    text += "LINE " + std::to_string(line) + " ";
    for (int i = 0; i < line % 37; ++i) {
      text += static_cast<char>('A' + (line + i) % 26);
    }
    text += line % 5 == 0 ? "\r" : (line % 3 == 0 ? "\n" : "\r\n");
  }
  text += "LAST LINE\r\n";
  for (std::size_t edge = 1024; edge <= text.size(); edge += 1024) {
    while (text[edge - 2] == '\r' || text[edge - 1] == '\r') {
      text.insert(edge - 2, ".");
    }
  }
  return Bytes(text.begin(), text.end());
}

Bytes Runs(std::size_t size, std::uint32_t seed) {
  Bytes runs;
  Xorshift noise(seed);
  while (runs.size() < size) {
    const std::uint8_t b = noise.Next();
    runs.insert(runs.end(), 1 + b % 64, b);
  }
  runs.resize(size);
  return runs;
}

// Runs of a small instruction vocabulary with literal words mixed in, so it
// packs about as a real program does.
Bytes ProgramImage() {
  Bytes image(kProgramImageSize);
  std::uint64_t state = 0x3000;
  const auto next = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state >> 33);
  };
  static const std::uint32_t kWords[] = {0x37DE3FE1, 0x6BC23FD9, 0x4BC23F59, 0x08030241,
                                         0xE840C000, 0x0FC0109C, 0x34160000, 0x20200000};
  for (std::size_t i = 0; i + 4 <= image.size(); i += 4) {
    const std::uint32_t pick = next();
    const std::uint32_t word = (pick & 3) == 0 ? next() : kWords[(pick >> 2) & 7];
    image[i] = static_cast<std::uint8_t>(word >> 24);
    image[i + 1] = static_cast<std::uint8_t>(word >> 16);
    image[i + 2] = static_cast<std::uint8_t>(word >> 8);
    image[i + 3] = static_cast<std::uint8_t>(word);
  }
  image[0] = 0;  // must not look like a payload that brings its own transfer header
  return image;
}

}  // namespace payloads
