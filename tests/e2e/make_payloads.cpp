// Writes the payloads that the end-to-end tests compile in under
// ":/payloads/": the same bytes on every build, so a stored file can be
// compared with what the test expects.
//
//   E2ETEXT  text with CR LF, bare CR and LF line ends, three blocks (XFERA)
//   E2EBIN   3,000 binary bytes without a transfer header (XFERB)
//   E2EHDR   its own 128-byte "QZBIN" header, then 2,048 data bytes (XFERB)
//   E2EPACK  zlib stream of 300,000 bytes (XFERC, XFERE)
//   E2EPKHD  zlib stream of a "QZBIN" header and 5,000 data bytes (XFERD)
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// xorshift32: small, fixed, and the same everywhere.
class Noise {
public:
  explicit Noise(std::uint32_t seed) : x_(seed) {}
  std::uint8_t Next() {
    x_ ^= x_ << 13;
    x_ ^= x_ >> 17;
    x_ ^= x_ << 5;
    return static_cast<std::uint8_t>(x_ >> 11);
  }

private:
  std::uint32_t x_;
};

Bytes Binary(std::size_t size, std::uint32_t seed) {
  Noise noise(seed);
  Bytes bytes(size);
  for (std::uint8_t& b : bytes) {
    b = noise.Next();
  }
  return bytes;
}

// A transfer header of the installer's layout: magic, record size 256 at
// offset 5, record limit 50000 at offset 8, big-endian.
Bytes OwnHeader() {
  Bytes header(128, 0);
  const std::string magic = "QZBIN";
  std::copy(magic.begin(), magic.end(), header.begin());
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
Bytes Text() {
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

Bytes Pack(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes packed(size);
  if (compress2(packed.data(), &size, data.data(), static_cast<uLong>(data.size()), 9) != Z_OK) {
    std::fprintf(stderr, "make_payloads: compress failed\n");
    std::exit(1);
  }
  packed.resize(size);
  return packed;
}

bool Write(const std::string& dir, const char* name, const Bytes& bytes) {
  const std::string path = dir + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::perror(path.c_str());
    return false;
  }
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_payloads OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[1];

  Bytes withHeader = OwnHeader();
  const Bytes headerData = Binary(2048, 0xC0FFEE);
  withHeader.insert(withHeader.end(), headerData.begin(), headerData.end());

  // Runs of repeated bytes so the stream packs well, with noise between.
  Bytes big;
  Noise noise(0xB16B00B5);
  while (big.size() < 300000) {
    const std::uint8_t b = noise.Next();
    big.insert(big.end(), 1 + b % 64, b);
  }
  big.resize(300000);

  Bytes packedWithHeader = OwnHeader();
  const Bytes packedData = Binary(5000, 0xFEED);
  packedWithHeader.insert(packedWithHeader.end(), packedData.begin(), packedData.end());

  const bool ok = Write(dir, "E2ETEXT", Text()) && Write(dir, "E2EBIN", Binary(3000, 0x5EED)) &&
                  Write(dir, "E2EHDR", withHeader) && Write(dir, "E2EPACK", Pack(big)) &&
                  Write(dir, "E2EPKHD", Pack(packedWithHeader));
  return ok ? 0 : 1;
}
