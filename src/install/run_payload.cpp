// Payloads: loading a compiled-in payload by name, unpacking a packed one,
// preparing the two 128-byte records a block transfer sends ahead of the
// data, and releasing whatever is loaded.
//
// At most one payload is loaded. PayloadData points either into the
// resource (payloadResource_) or, after unpacking, into unpackBuffer_; both
// are dropped together on release.
#include "install/run.h"

#include "install/payloadstore.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

namespace install {

namespace {

const char kResourceErrorPrefix[] = "Resource Error: ";

}  // namespace

bool Run::InitCodeGeneration(const std::string& name) {
  if (host_.TraceOn()) {
    host_.TraceLine(" InitCodeGeneration: " + name);
  }
  ReleasePayload();
  StoredSize = 0;
  PayloadSize = 0;
  FileBytesSent = 0;
  BlockNumber = 1;
  recordTransfer_ = {};
  blockTransfer_.DataStart = 0;

  std::optional<QByteArray> found = FindPayload(name);
  if (!found || found->size() > std::numeric_limits<std::int32_t>::max()) {
    op_.Message(kResourceErrorPrefix + name);
    return false;
  }
  payloadResource_ = std::move(*found);
  StoredSize = PayloadSize = static_cast<std::int32_t>(payloadResource_.size());
  PayloadData = reinterpret_cast<const std::uint8_t*>(payloadResource_.constData());
  if (host_.TraceOn()) {
    host_.TraceLine(" ResourcePtr: " +
                    std::to_string(reinterpret_cast<std::uintptr_t>(PayloadData)));
  }
  return true;
}

bool Run::UnpackPayloadInto() {
  std::size_t size = 0;
  const UnpackResult result = UnpackPayload(
      std::span(PayloadData, static_cast<std::size_t>(StoredSize)), unpackBuffer_, size);
  if (result != UnpackResult::Ok) {
    const std::string why = result == UnpackResult::TooLarge
                                ? " unpacks to more than 1,000,000 bytes."
                                : " is damaged and cannot be unpacked.";
    op_.Message(kResourceErrorPrefix + PayloadName() + why);
    return false;
  }
  // The resource stays loaded beside its unpacked copy until the release.
  PayloadData = unpackBuffer_.data();
  PayloadSize = static_cast<std::int32_t>(size);
  return true;
}

// Steps shared by the three prepare operations, after the descriptor: the
// payload's own header when it brings one, else the one built here.
void Run::PrepareHeader(const TransferRecord& builtHeader) {
  blockTransfer_.BlockSequence = 1;
  blockTransfer_.TransferHeader.fill(0);
  const auto available = static_cast<std::size_t>(std::max(PayloadSize, 0));
  const std::size_t copied = std::min(kTransferRecordSize, available);
  if (PayloadData != nullptr) {
    std::copy_n(PayloadData, copied, blockTransfer_.TransferHeader.begin());
  }
  if (HasOwnHeader(blockTransfer_.TransferHeader)) {
    blockTransfer_.DataStart = static_cast<std::int32_t>(kTransferRecordSize);
  } else {
    blockTransfer_.DataStart = 0;
    blockTransfer_.TransferHeader = builtHeader;
  }
  ActionCode = kStateBlockStart;
}

void Run::PrepareTextTransfer(std::uint16_t recordSize, std::int64_t recordLimit) {
  blockTransfer_.TransferDescriptor =
      MakeDescriptorText(PayloadName(), recordSize, static_cast<std::uint16_t>(recordLimit));
  PrepareHeader(MakePlainHeader());
}

void Run::PrepareBinaryTransfer() {
  blockTransfer_.TransferDescriptor = MakeDescriptorBinary(PayloadName());
  PrepareHeader(MakePlainHeader());
}

void Run::PrepareNamedTransfer(const std::string& hostName) {
  blockTransfer_.TransferDescriptor = MakeDescriptorBinary(hostName);
  PrepareHeader(MakeNamedHeader());
}

void Run::ReleasePayload() {
  PayloadData = nullptr;
  payloadResource_ = QByteArray();
  std::vector<std::uint8_t>().swap(unpackBuffer_);
}

}  // namespace install
