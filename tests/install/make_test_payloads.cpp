// Writes the payloads the engine tests upload into the folder given as the
// only argument. They are compiled into the tests as resources under
// ":/payloads/", beside the shipped one. Every byte follows from the sizes
// and a fixed seed.
#include "testpayloads.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace testpayloads;

void Write(const std::string& dir, const char* name, const Bytes& data) {
  const std::string path = dir + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || std::fwrite(data.data(), 1, data.size(), file) != data.size()) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  std::fclose(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_test_payloads DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  Write(dir, "BIN3000", Pattern(3000, 1));
  Write(dir, "OWNHDR", WithOwnHeader(128 + 2048));
  Write(dir, "HDRONLY", WithOwnHeader(128));
  Write(dir, "TEXT", Text());
  Write(dir, "REC1024", Pattern(1024, 2));
  Write(dir, "TINY", Pattern(100, 3));
  Write(dir, "ODD300", Pattern(300, 4));
  Write(dir, "PACKED", Pack(Pattern(300000, 5)));
  Write(dir, "PACKHDR", Pack(WithOwnHeader(128 + 1500)));
  Write(dir, "TOOBIG", Pack(Bytes(1000001, 0x20)));
  Bytes damaged = Pack(Pattern(5000, 6));
  damaged[damaged.size() / 2] ^= 0xFF;
  Write(dir, "DAMAGED", damaged);
  return 0;
}
