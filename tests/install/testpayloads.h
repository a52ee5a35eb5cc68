// The test payloads, shared by their generator and the tests that check
// what was uploaded against them.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace testpayloads {

using Bytes = std::vector<std::uint8_t>;

// Bytes that neither start with the header magic nor pack to nothing.
inline Bytes Pattern(std::size_t size, std::uint32_t seed) {
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

inline Bytes WithOwnHeader(std::size_t size) {
  Bytes data = Pattern(size, 77);
  std::memcpy(data.data(), "QZBIN", 5);
  return data;
}

inline Bytes Pack(const Bytes& data) {
  uLongf length = compressBound(static_cast<uLong>(data.size()));
  Bytes packed(length);
  if (compress(packed.data(), &length, data.data(), static_cast<uLong>(data.size())) != Z_OK) {
    std::fprintf(stderr, "compress failed\n");
    std::exit(1);
  }
  packed.resize(length);
  return packed;
}

// Text of lines ending in CR LF, a lone CR and LF, long enough for three
// blocks.
inline Bytes Text() {
  std::string text;
  for (int i = 0; text.size() < 2500; ++i) {
    text += "LINE " + std::to_string(i) + (i % 7 == 3 ? "\r" : "\r\n");
  }
  return Bytes(text.begin(), text.end());
}

}  // namespace testpayloads
