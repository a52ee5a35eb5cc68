#include "install/transfer.h"

#include <gtest/gtest.h>

#include <vector>

namespace install {
namespace {

std::uint16_t BE16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

std::uint32_t BE32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return std::uint32_t{BE16(bytes, at)} << 16 | BE16(bytes, at + 2);
}

// Bytes of a record outside [from, to) that are not zero.
int NonZeroOutside(const TransferRecord& record, std::size_t from, std::size_t to) {
  int count = 0;
  for (std::size_t i = 0; i < record.size(); ++i) {
    count += (i < from || i >= to) && record[i] != 0;
  }
  return count;
}

TEST(TransferBlock, ChecksumCoversSequenceCountAndData) {
  std::array<std::uint8_t, kBlockSize> block{};
  block[2] = 5;
  CompleteBlock(block);
  EXPECT_EQ(block[kOffBlockStx], kStx);
  EXPECT_EQ(block[1029], 0x00);
  EXPECT_EQ(block[1030], 0x05);
  EXPECT_EQ(block[kOffBlockEtx], kEtx);

  block.fill(0xFF);  // STX, checksum and ETX bytes must not count
  EXPECT_EQ(BlockChecksum(block), (1028 * 255) % 65536);
  CompleteBlock(block);
  EXPECT_EQ(BE16(block, kOffBlockChecksum), 0xFFFC);
}

TEST(TransferBlock, BuildClearsTheBufferAndWritesBigEndianFields) {
  std::vector<std::uint8_t> buffer(kBlockBufferSize, 0xAA);
  const std::uint8_t data[] = {1, 2, 3};
  BuildBlock(buffer, 0x0102, data);
  EXPECT_EQ(BE16(buffer, kOffBlockSequence), 0x0102);
  EXPECT_EQ(BE16(buffer, kOffBlockCount), 3);
  EXPECT_EQ(buffer[5], 1);
  EXPECT_EQ(buffer[7], 3);
  EXPECT_EQ(buffer[8], 0);
  EXPECT_EQ(buffer[kBlockBufferSize - 1], 0);

  BuildBlock(buffer, 4, {});  // the end block
  EXPECT_EQ(BE16(buffer, kOffBlockCount), 0);
  EXPECT_EQ(buffer[5], 0);
}

TEST(TransferRecords, DescriptorForEachKind) {
  // XFERA with record size 0: the defaults.
  TransferRecord text = MakeDescriptorText("NOTES", 0, 1234);
  EXPECT_EQ(text[kOffDescFileType], kFileTypeText);
  EXPECT_EQ(BE16(text, 2), 15);
  EXPECT_EQ(BE16(text, 4), 7);
  EXPECT_EQ(std::string(text.begin() + 8, text.begin() + 13), "NOTES");
  EXPECT_EQ(text[13], 0);
  EXPECT_EQ(BE16(text, 48), 80);
  EXPECT_EQ(BE16(text, 50), 50000);
  EXPECT_EQ(NonZeroOutside(text, 0, 52), 0);

  text = MakeDescriptorText("NOTES", 132, 9000);
  EXPECT_EQ(BE16(text, 48), 132);
  EXPECT_EQ(BE16(text, 50), 9000);

  // XFERD with group PUB and account SYS.
  const TransferRecord binary = MakeDescriptorBinary("PAYLOAD.PUB.SYS");
  EXPECT_EQ(binary[0], kFileTypeBinary);
  EXPECT_EQ(std::string(binary.begin() + 8, binary.begin() + 23), "PAYLOAD.PUB.SYS");
  EXPECT_EQ(NonZeroOutside(binary, 0, 23), 0);  // no record size or limit

  const TransferRecord longName = MakeDescriptorBinary(std::string(50, 'N'));
  EXPECT_EQ(longName[47], 'N');
  EXPECT_EQ(longName[48], 0);  // the name never spills into the text fields
}

TEST(TransferRecords, PlainAndNamedHeaders) {
  const TransferRecord plain = MakePlainHeader();  // XFERA, XFERB
  EXPECT_EQ(BE16(plain, 5), 256);
  EXPECT_EQ(BE32(plain, 8), 50000u);
  EXPECT_FALSE(HasOwnHeader(plain));
  EXPECT_EQ(NonZeroOutside(plain, 5, 12), 0);

  const TransferRecord named = MakeNamedHeader();  // XFERC, XFERD, XFERE
  EXPECT_TRUE(HasOwnHeader(named));
  EXPECT_EQ(BE16(named, 5), 256);
  EXPECT_EQ(BE32(named, 8), 50000u);
  EXPECT_EQ(named[12], 0x48);
  EXPECT_EQ(named[13], 0x33);
  EXPECT_EQ(NonZeroOutside(named, 0, 14), 0);

  const std::uint8_t shortMagic[] = {'Q', 'Z', 'B', 'I'};
  EXPECT_FALSE(HasOwnHeader(shortMagic));
  const std::uint8_t lowerMagic[] = {'q', 'z', 'b', 'i', 'n', 0};
  EXPECT_FALSE(HasOwnHeader(lowerMagic));
}

// A block with data from offset 5; returns the data after normalizing.
std::vector<std::uint8_t> Normalize(std::vector<std::uint8_t> data, std::size_t& count) {
  std::vector<std::uint8_t> block(kBlockBufferSize, 0);
  std::copy(data.begin(), data.end(), block.begin() + kOffBlockData);
  count = NormalizeLineEnds(block, data.size());
  return {block.begin() + kOffBlockData, block.begin() + kOffBlockData + data.size()};
}

TEST(NormalizeLineEnds, CrLfAndLoneCrBecomeLf) {
  std::size_t count = 0;
  const auto out = Normalize({0x41, 0x0D, 0x0A, 0x42, 0x0D, 0x43, 0x44, 0x45}, count);
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{0x41, 0x0A, 0x42, 0x0A, 0x43, 0x44, 0x45, 0x00}));
}

TEST(NormalizeLineEnds, CrAmongTheLastTwoBytesIsDropped) {
  std::size_t count = 0;
  auto out = Normalize({0x41, 0x42, 0x0D}, count);
  EXPECT_EQ(count, 2u);
  out = Normalize({0x41, 0x0D, 0x0A}, count);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(out[1], 0x0A);
  out = Normalize({0x41, 0x0D, 0x42}, count);  // even before a plain byte
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(out[1], 0x42);
}

TEST(NormalizeLineEnds, StaysWithinCountAndSpan) {
  // An LF after the counted bytes must not be read as the CR's partner.
  std::vector<std::uint8_t> block(kBlockBufferSize, 0);
  block[5] = 0x41;
  block[6] = 0x42;
  block[7] = 0x43;
  block[8] = 0x0D;
  block[9] = 0x0A;
  EXPECT_EQ(NormalizeLineEnds(block, 4), 3u);
  EXPECT_EQ(block[9], 0x0A);  // beyond the count: untouched

  std::vector<std::uint8_t> small = {0, 0, 0, 0, 0, 0x41, 0x0D, 0x0D, 0x42};
  EXPECT_EQ(NormalizeLineEnds(small, 1024), 3u);  // the count is cut to the span
  EXPECT_EQ(small[6], 0x0A);
  EXPECT_EQ(NormalizeLineEnds(std::span<std::uint8_t>(small).first(3), 10), 0u);
}

}  // namespace
}  // namespace install
