// make-payload: writes payloads by name into a folder. The shipped host
// program (resources/payloads/ZORBELIX) and every payload the tests and
// benchmarks compile in come from here, so their bytes are made one way.
//
//   make-payload DIR NAME...   write each named payload as DIR/NAME
//   make-payload --list        the names, and what each is for
#include "payloads.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

namespace {

using payloads::Bytes;

struct Entry {
  std::string_view name;
  std::string_view what;
  std::function<Bytes()> make;
};

// Damaged: a packed stream with one byte flipped in its middle.
Bytes Damaged() {
  Bytes packed = payloads::Pack(payloads::Pattern(5000, 6));
  packed[packed.size() / 2] ^= 0xFF;
  return packed;
}

Bytes WithData(Bytes head, const Bytes& data) {
  head.insert(head.end(), data.begin(), data.end());
  return head;
}

const Entry kCatalogue[] = {
    {"ZORBELIX", "the shipped host program, 438 records (resources/payloads)",
     payloads::ShippedImage},
    // The run tests.
    {"BIN3000", "run tests: 3,000 binary bytes", [] { return payloads::Pattern(3000, 1); }},
    {"OWNHDR", "run tests: own header, then 2,048 bytes",
     [] { return payloads::WithOwnHeader(128 + 2048); }},
    {"HDRONLY", "run tests: own header and nothing else",
     [] { return payloads::WithOwnHeader(128); }},
    {"TEXT", "run tests: CR LF text of three blocks", payloads::CrLfText},
    {"REC1024", "run tests: four records", [] { return payloads::Pattern(1024, 2); }},
    {"TINY", "run tests: 100 bytes, under a record", [] { return payloads::Pattern(100, 3); }},
    {"ODD300", "run tests: 300 bytes, a part record", [] { return payloads::Pattern(300, 4); }},
    {"PACKED", "run tests: 300,000 bytes packed",
     [] { return payloads::Pack(payloads::Pattern(300000, 5)); }},
    {"PACKHDR", "run tests: own header and 1,500 bytes, packed",
     [] { return payloads::Pack(payloads::WithOwnHeader(128 + 1500)); }},
    {"TOOBIG", "run tests: unpacks to 1,000,001 bytes",
     [] { return payloads::Pack(Bytes(1000001, 0x20)); }},
    {"DAMAGED", "run tests: a damaged packed stream", Damaged},
    // The end-to-end tests.
    {"E2ETEXT", "e2e: text with every line end (XFERA)", payloads::MixedLineText},
    {"E2EBIN", "e2e: 3,000 binary bytes (XFERB)", [] { return payloads::Noise(3000, 0x5EED); }},
    {"E2EHDR", "e2e: own header, then 2,048 bytes (XFERB)",
     [] { return WithData(payloads::TransferHeader(), payloads::Noise(2048, 0xC0FFEE)); }},
    {"E2EPACK", "e2e: 300,000 bytes of runs, packed (XFERC, XFERE)",
     [] { return payloads::Pack(payloads::Runs(300000, 0xB16B00B5)); }},
    {"E2EPKHD", "e2e: own header and 5,000 bytes, packed (XFERD)",
     [] {
       return payloads::Pack(WithData(payloads::TransferHeader(), payloads::Noise(5000, 0xFEED)));
     }},
    // The benchmarks.
    {"BENCHBLK", "bench: a 1,000,000-byte program image, packed (XFERC)",
     [] { return payloads::Pack(payloads::ProgramImage()); }},
    {"BENCHBLK.image", "bench: the same image unpacked, to compare the stored file with",
     payloads::ProgramImage},
};

const Entry* Find(std::string_view name) {
  for (const Entry& entry : kCatalogue) {
    if (entry.name == name) {
      return &entry;
    }
  }
  return nullptr;
}

bool Write(const std::string& path, const Bytes& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::perror(path.c_str());
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !written) {
    std::fprintf(stderr, "make-payload: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
    for (const Entry& entry : kCatalogue) {
      std::printf("%-15.*s %.*s\n", static_cast<int>(entry.name.size()), entry.name.data(),
                  static_cast<int>(entry.what.size()), entry.what.data());
    }
    return 0;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: make-payload DIR NAME...   (make-payload --list for the names)\n");
    return 2;
  }
  const std::string dir = argv[1];
  for (int i = 2; i < argc; ++i) {
    const Entry* entry = Find(argv[i]);
    if (entry == nullptr) {
      std::fprintf(stderr, "make-payload: no payload named %s (see --list)\n", argv[i]);
      return 2;
    }
    if (!Write(dir + "/" + argv[i], entry->make())) {
      return 1;
    }
  }
  return 0;
}
