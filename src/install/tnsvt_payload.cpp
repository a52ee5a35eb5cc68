// Payloads: loading a compiled-in payload by name, unpacking a packed one,
// preparing the two 128-byte records a block transfer sends ahead of the
// data, and releasing whatever is loaded.
//
// At most one payload is loaded. PayloadData points either into the
// resource (PayloadResource) or, after unpacking, into UnpackBuffer; both
// are dropped together on release.
#include "../shell/TNSVT.h"

#include "../shell/dialogs.h"
#include "payloadstore.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

namespace {

const char kResourceErrorPrefix[] = "Resource Error: ";

const std::string& PayloadName(const TNSVT& w) {
  return w.ScriptVars[install::kPayloadNameVar];
}

// Steps shared by the three prepare operations, after the descriptor: the
// payload's own header when it brings one, else the one built here.
void PrepareHeader(TNSVT& w, const install::TransferRecord& builtHeader) {
  w.BlockSequence = 1;
  w.TransferHeader.fill(0);
  const auto available = static_cast<std::size_t>(std::max(w.PayloadSize, 0));
  const std::size_t copied = std::min(install::kRecordSize, available);
  if (w.PayloadData != nullptr) {
    std::copy_n(w.PayloadData, copied, w.TransferHeader.begin());
  }
  if (install::HasOwnHeader(w.TransferHeader)) {
    w.DataStart = static_cast<std::int32_t>(install::kRecordSize);
  } else {
    w.DataStart = 0;
    w.TransferHeader = builtHeader;
  }
  w.ActionCode = 10;
}

}  // namespace

bool TNSVT::InitCodeGeneration(const std::string& name) {
  if (TraceOn) {
    TraceLine(" InitCodeGeneration: " + name);
  }
  ReleasePayload();
  StoredSize = 0;
  PayloadSize = 0;
  FileBytesSent = 0;
  BlockNumber = 1;
  FcopyExitTries = 0;
  DataStart = 0;
  RecordCopyFailed = false;

  std::optional<QByteArray> found = install::FindPayload(name);
  if (!found || found->size() > std::numeric_limits<std::int32_t>::max()) {
    dialogs().Message(this, kResourceErrorPrefix + name);
    return false;
  }
  PayloadResource = std::move(*found);
  StoredSize = PayloadSize = static_cast<std::int32_t>(PayloadResource.size());
  PayloadData = reinterpret_cast<const std::uint8_t*>(PayloadResource.constData());
  if (TraceOn) {
    TraceLine(" ResourcePtr: " + std::to_string(reinterpret_cast<std::uintptr_t>(PayloadData)));
  }
  return true;
}

bool TNSVT::UnpackPayloadInto() {
  std::size_t size = 0;
  const install::UnpackResult result = install::UnpackPayload(
      std::span(PayloadData, static_cast<std::size_t>(StoredSize)), UnpackBuffer, size);
  if (result != install::UnpackResult::Ok) {
    const std::string why = result == install::UnpackResult::TooLarge
                                ? " unpacks to more than 1,000,000 bytes."
                                : " is damaged and cannot be unpacked.";
    dialogs().Message(this, kResourceErrorPrefix + PayloadName(*this) + why);
    return false;
  }
  // The resource stays loaded beside its unpacked copy until the release.
  PayloadData = UnpackBuffer.data();
  PayloadSize = static_cast<std::int32_t>(size);
  return true;
}

void TNSVT::PrepareTextTransfer(std::uint16_t recordSize, std::int64_t recordLimit) {
  TransferDescriptor = install::MakeDescriptorText(PayloadName(*this), recordSize,
                                                   static_cast<std::uint16_t>(recordLimit));
  PrepareHeader(*this, install::MakePlainHeader());
}

void TNSVT::PrepareBinaryTransfer() {
  TransferDescriptor = install::MakeDescriptorBinary(PayloadName(*this));
  PrepareHeader(*this, install::MakePlainHeader());
}

void TNSVT::PrepareNamedTransfer(const std::string& hostName) {
  TransferDescriptor = install::MakeDescriptorBinary(hostName);
  PrepareHeader(*this, install::MakeNamedHeader());
}

void TNSVT::ReleasePayload() {
  PayloadData = nullptr;
  PayloadResource = QByteArray();
  std::vector<std::uint8_t>().swap(UnpackBuffer);
}
