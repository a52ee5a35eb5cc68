// Layouts of the block transfer: the 1032-byte TransferBlock, its checksum,
// the two 128-byte records sent ahead of the data (TransferDescriptor and
// TransferHeader), and the line-end rewriting of text transfers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace install {

// TransferBlock.
inline constexpr std::size_t kBlockSize = 1032;
inline constexpr std::size_t kBlockBufferSize = 2048;
inline constexpr std::size_t kOffBlockStx = 0;
inline constexpr std::size_t kOffBlockSequence = 1;
inline constexpr std::size_t kOffBlockCount = 3;
inline constexpr std::size_t kOffBlockData = 5;
inline constexpr std::size_t kBlockDataSize = 1024;
inline constexpr std::size_t kOffBlockChecksum = 1029;
inline constexpr std::size_t kOffBlockEtx = 1031;
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;

// Sum of the bytes at offsets 1..1028, modulo 65,536.
std::uint16_t BlockChecksum(std::span<const std::uint8_t, kBlockSize> block);
// Sets STX, checksum and ETX of a block whose bytes 1..1028 are filled.
void CompleteBlock(std::span<std::uint8_t, kBlockSize> block);
// Zeroes the buffer and writes sequence, count and data (data.size() <= 1024).
void BuildBlock(std::span<std::uint8_t> buffer, std::uint16_t sequence,
                std::span<const std::uint8_t> data);

// The two records.
inline constexpr std::size_t kRecordSize = 128;
using TransferRecord = std::array<std::uint8_t, kRecordSize>;
inline constexpr std::uint8_t kFileTypeText = 64;
inline constexpr std::uint8_t kFileTypeBinary = 66;
inline constexpr std::size_t kOffDescFileType = 0;
inline constexpr std::size_t kOffDescWord2 = 2;  // 15
inline constexpr std::size_t kOffDescWord4 = 4;  // 7
inline constexpr std::size_t kOffDescName = 8;
inline constexpr std::size_t kDescNameCapacity = 40;
inline constexpr std::size_t kOffDescRecordSize = 48;
inline constexpr std::size_t kOffDescRecordLimit = 50;
inline constexpr std::uint16_t kDefaultTextRecordSize = 80;
inline constexpr std::uint16_t kDefaultTextRecordLimit = 50000;

inline constexpr std::string_view kHeaderMagic = "QZBIN";
inline constexpr std::size_t kOffHeaderRecordSize = 5;
inline constexpr std::size_t kOffHeaderRecordLimit = 8;
inline constexpr std::size_t kOffHeaderMark1 = 12;  // 0x48
inline constexpr std::size_t kOffHeaderMark2 = 13;  // 0x33
inline constexpr std::uint16_t kHeaderRecordSize = 256;
inline constexpr std::uint32_t kHeaderRecordLimit = 50000;

// Descriptor: file type, the fixed words, the host file name (at most 40
// characters; the caller refuses longer names) and, for text, record size and
// limit (size 0 selects 80 and 50000).
TransferRecord MakeDescriptorText(std::string_view hostName, std::uint16_t recordSize,
                                  std::uint16_t recordLimit);
TransferRecord MakeDescriptorBinary(std::string_view hostName);
// Header built by the installer: plain (XFERA, XFERB) or named with the magic
// and the 0x48 0x33 marks (XFERC to XFERE).
TransferRecord MakePlainHeader();
TransferRecord MakeNamedHeader();
bool HasOwnHeader(std::span<const std::uint8_t> payload);  // starts with "QZBIN"

// Rewrites count data bytes from offset 5 of block in place: CR LF becomes LF,
// a lone CR becomes LF, a CR among the last two data bytes is dropped.
// Returns the new count.
std::size_t NormalizeLineEnds(std::span<std::uint8_t> block, std::size_t count);

}  // namespace install
