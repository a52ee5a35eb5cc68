#include "install/payloadstore.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

namespace install {
namespace {

std::vector<std::uint8_t> Pack(const std::vector<std::uint8_t>& data) {
  uLongf length = compressBound(static_cast<uLong>(data.size()));
  std::vector<std::uint8_t> packed(length);
  EXPECT_EQ(compress(packed.data(), &length, data.data(), static_cast<uLong>(data.size())), Z_OK);
  packed.resize(length);
  return packed;
}

// Bytes that do not pack to almost nothing, so a damaged stream is noticed.
std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  std::uint32_t x = 12345;
  for (auto& byte : data) {
    x = x * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>((x >> 16) % 64);
  }
  return data;
}

TEST(FindPayload, ShippedPayloadByNameInAnyCase) {
  for (const char* name : {"ZORBELIX", "zorbelix", "ZorBelix"}) {
    const std::optional<QByteArray> payload = FindPayload(name);
    ASSERT_TRUE(payload.has_value()) << name;
    EXPECT_EQ(payload->size(), 112128);
    EXPECT_TRUE(payload->contains("ZORBELIX - 2.5.0.6"));
  }
}

TEST(FindPayload, UnknownNamesFindNothing) {
  for (const char* name : {"", "MISSING", "ZORBELI", "ZORBELIXX", "payloads/ZORBELIX", "."}) {
    EXPECT_FALSE(FindPayload(name).has_value()) << '"' << name << '"';
  }
}

TEST(UnpackPayload, RoundTrips) {
  for (std::size_t size : {std::size_t{1}, std::size_t{300000}, kUnpackCapacity}) {
    const std::vector<std::uint8_t> data = Pattern(size);
    std::vector<std::uint8_t> out;
    std::size_t unpacked = 0;
    ASSERT_EQ(UnpackPayload(Pack(data), out, unpacked), UnpackResult::Ok) << size;
    ASSERT_EQ(unpacked, size);
    ASSERT_EQ(out.size(), kUnpackCapacity);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin())) << size;
    EXPECT_TRUE(std::all_of(out.begin() + size, out.end(), [](auto b) { return b == 0; }));
  }
}

TEST(UnpackPayload, OversizedAndDamagedStreamsAreRefused) {
  std::vector<std::uint8_t> out;
  std::size_t unpacked = 99;
  EXPECT_EQ(UnpackPayload(Pack(Pattern(kUnpackCapacity + 1)), out, unpacked),
            UnpackResult::TooLarge);
  EXPECT_EQ(unpacked, 0u);

  std::vector<std::uint8_t> packed = Pack(Pattern(5000));
  std::vector<std::uint8_t> damaged = packed;
  damaged[damaged.size() / 2] ^= 0x55;
  EXPECT_EQ(UnpackPayload(damaged, out, unpacked), UnpackResult::Damaged);

  const std::vector<std::uint8_t> truncated(packed.begin(), packed.begin() + 100);
  EXPECT_EQ(UnpackPayload(truncated, out, unpacked), UnpackResult::Damaged);

  const std::vector<std::uint8_t> notZlib(256, 'A');
  EXPECT_EQ(UnpackPayload(notZlib, out, unpacked), UnpackResult::Damaged);
  EXPECT_EQ(UnpackPayload({}, out, unpacked), UnpackResult::Damaged);
}

}  // namespace
}  // namespace install
