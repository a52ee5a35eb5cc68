#include "nsvt/transferblock.h"

#include "nsvt/vtpkt.h"

namespace nsvt {

std::uint16_t BlockChecksum(std::span<const std::uint8_t, kBlockSize> block) {
  std::uint32_t sum = 0;
  for (std::size_t i = kOffBlockSequence; i < kOffBlockChecksum; ++i) {
    sum += block[i];
  }
  return static_cast<std::uint16_t>(sum);  // modulo 65,536
}

void CompleteBlock(std::span<std::uint8_t, kBlockSize> block) {
  block[kOffBlockStx] = kStx;
  PutBE16(block, kOffBlockChecksum, BlockChecksum(block));
  block[kOffBlockEtx] = kEtx;
}

}  // namespace nsvt
