// Writes the block-transfer payload of bench_install: a deterministic
// 1,000,000-byte image (program-like: runs of a small instruction
// vocabulary with literal data mixed in, so it packs about as a real program
// does) and the same bytes packed with zlib's compress2.
//
//   make_bench_block RAW_FILE PACKED_FILE
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr std::size_t kImageSize = 1000000;

bool WriteFile(const char* path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    return false;
  }
  const bool written = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_bench_block RAW_FILE PACKED_FILE\n");
    return 2;
  }
  std::vector<std::uint8_t> image(kImageSize);
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
  // Must not look like a payload that brings its own transfer header.
  image[0] = 0;

  std::vector<std::uint8_t> packed(compressBound(image.size()));
  uLongf packedSize = static_cast<uLongf>(packed.size());
  if (compress2(packed.data(), &packedSize, image.data(), image.size(), Z_BEST_COMPRESSION) !=
      Z_OK) {
    std::fprintf(stderr, "make_bench_block: compress2 failed\n");
    return 1;
  }
  if (!WriteFile(argv[1], image.data(), image.size()) ||
      !WriteFile(argv[2], packed.data(), packedSize)) {
    std::fprintf(stderr, "make_bench_block: cannot write the output files\n");
    return 1;
  }
  return 0;
}
