// The TransferBlock: the 1032-byte frame of a block transfer's data, sent as
// the data of one terminal input message. Its sender completes the frame
// (STX, checksum, ETX); the block transfer fills sequence, count and data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace nsvt {

inline constexpr std::size_t kBlockSize = 1032;
inline constexpr std::size_t kOffBlockStx = 0;       // u8, kStx
inline constexpr std::size_t kOffBlockSequence = 1;  // u16, 0 for the two header blocks
inline constexpr std::size_t kOffBlockCount = 3;     // u16, data bytes, 0 ends a transfer
inline constexpr std::size_t kOffBlockData = 5;
inline constexpr std::size_t kBlockDataSize = 1024;
inline constexpr std::size_t kOffBlockChecksum = 1029;  // u16
inline constexpr std::size_t kOffBlockEtx = 1031;       // u8, kEtx
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;

// Sum of the bytes at offsets 1..1028, modulo 65,536.
std::uint16_t BlockChecksum(std::span<const std::uint8_t, kBlockSize> block);
// Sets STX, checksum and ETX of a block whose bytes 1..1028 are filled.
void CompleteBlock(std::span<std::uint8_t, kBlockSize> block);

}  // namespace nsvt
