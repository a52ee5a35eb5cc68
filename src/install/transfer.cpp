// The block transfer's byte layouts: building a TransferBlock, the
// TransferDescriptor and TransferHeader records, and the line-end rewriting
// of text blocks.
#include "install/transfer.h"

#include "nsvt/vtpkt.h"

#include <algorithm>
#include <cassert>

namespace install {

namespace {

constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint16_t kDescWord2Value = 15;
constexpr std::uint16_t kDescWord4Value = 7;
constexpr std::uint8_t kHeaderMark1Value = 0x48;
constexpr std::uint8_t kHeaderMark2Value = 0x33;

using nsvt::PutBE16;
using nsvt::PutBE32;

TransferRecord MakeDescriptor(std::uint8_t fileType, std::string_view hostName) {
  TransferRecord record{};
  record[kOffDescFileType] = fileType;
  PutBE16(record, kOffDescWord2, kDescWord2Value);
  PutBE16(record, kOffDescWord4, kDescWord4Value);
  const std::size_t length = std::min(hostName.size(), kDescNameCapacity);
  std::copy_n(hostName.begin(), length, record.begin() + kOffDescName);
  return record;
}

}  // namespace

void BuildBlock(std::span<std::uint8_t> buffer, std::uint16_t sequence,
                std::span<const std::uint8_t> data) {
  assert(buffer.size() >= kBlockSize);
  assert(data.size() <= kBlockDataSize);
  std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
  const std::size_t count = std::min(data.size(), kBlockDataSize);
  PutBE16(buffer, kOffBlockSequence, sequence);
  PutBE16(buffer, kOffBlockCount, static_cast<std::uint16_t>(count));
  std::copy_n(data.begin(), count, buffer.begin() + kOffBlockData);
}

TransferRecord MakeDescriptorText(std::string_view hostName, std::uint16_t recordSize,
                                  std::uint16_t recordLimit) {
  TransferRecord record = MakeDescriptor(kFileTypeText, hostName);
  if (recordSize == 0) {
    recordSize = kDefaultTextRecordSize;
    recordLimit = kDefaultTextRecordLimit;
  }
  PutBE16(record, kOffDescRecordSize, recordSize);
  PutBE16(record, kOffDescRecordLimit, recordLimit);
  return record;
}

TransferRecord MakeDescriptorBinary(std::string_view hostName) {
  return MakeDescriptor(kFileTypeBinary, hostName);
}

TransferRecord MakePlainHeader() {
  TransferRecord record{};
  PutBE16(record, kOffHeaderRecordSize, kHeaderRecordSize);
  PutBE32(record, kOffHeaderRecordLimit, kHeaderRecordLimit);
  return record;
}

TransferRecord MakeNamedHeader() {
  TransferRecord record = MakePlainHeader();
  std::copy(kHeaderMagic.begin(), kHeaderMagic.end(), record.begin());
  record[kOffHeaderMark1] = kHeaderMark1Value;
  record[kOffHeaderMark2] = kHeaderMark2Value;
  return record;
}

bool HasOwnHeader(std::span<const std::uint8_t> payload) {
  return payload.size() >= kHeaderMagic.size() &&
         std::equal(kHeaderMagic.begin(), kHeaderMagic.end(), payload.begin());
}

std::size_t NormalizeLineEnds(std::span<std::uint8_t> block, std::size_t count) {
  if (block.size() <= kOffBlockData) {
    return 0;
  }
  const std::span<std::uint8_t> data = block.subspan(kOffBlockData);
  const std::size_t n = std::min(count, data.size());
  std::size_t written = 0;
  // Writing never overtakes reading (written <= i), so the rewrite can run in
  // place.
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t byte = data[i];
    if (byte != kCr) {
      data[written++] = byte;
    } else if (i + 2 >= n) {
      // A CR among the last two bytes: its partner may be in the next block,
      // so it is dropped rather than guessed at.
    } else if (data[i + 1] != kLf) {
      data[written++] = kLf;
    }
    // A CR before an LF is dropped; the LF is copied in its turn.
  }
  // The bytes given up keep the block zero-padded after its data.
  std::fill(data.begin() + static_cast<std::ptrdiff_t>(written),
            data.begin() + static_cast<std::ptrdiff_t>(n), std::uint8_t{0});
  return written;
}

}  // namespace install
