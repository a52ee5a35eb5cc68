// Layouts of the block transfer: the two 128-byte records sent ahead of the data
// (TransferDescriptor and TransferHeader), and the line-end rewriting of text transfers.
#pragma once

#include "nsvt/transferblock.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace install {

// TransferBlock (its layout and checksum belong to the terminal data layer).
using nsvt::BlockChecksum;
using nsvt::CompleteBlock;
using nsvt::kBlockDataSize;
using nsvt::kBlockSize;
using nsvt::kEtx;
using nsvt::kOffBlockChecksum;
using nsvt::kOffBlockCount;
using nsvt::kOffBlockData;
using nsvt::kOffBlockEtx;
using nsvt::kOffBlockSequence;
using nsvt::kOffBlockStx;
using nsvt::kStx;
inline constexpr std::size_t kBlockBufferSize = 2048;  // one step's work area

// Zeroes the buffer and writes sequence, count and data (data.size() <= 1024).
void BuildBlock(std::span<std::uint8_t> buffer, std::uint16_t sequence,
                std::span<const std::uint8_t> data);

// The records of the record transfer (BUILD, then FCOPY from the terminal),
// which a payload's size is a whole number of.
inline constexpr std::size_t kRecordBytes = 256;

// The block transfer's two records, the descriptor and the header.
inline constexpr std::size_t kTransferRecordSize = 128;
using TransferRecord = std::array<std::uint8_t, kTransferRecordSize>;
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
