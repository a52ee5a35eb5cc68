// Decoding and checking of transfer blocks and their two header records.
#include "transferblock.h"

#include "vtmessage.h"

namespace xfer {

uint16_t checksum(const QByteArray& block) {
  uint32_t sum = 0;
  for (int i = kOffSequence; i < kOffChecksum && i < block.size(); ++i) {
    sum += static_cast<uint8_t>(block[i]);
  }
  return static_cast<uint16_t>(sum & 0xFFFF);
}

QByteArray buildBlock(uint16_t sequence, const QByteArray& data) {
  QByteArray b(kBlockSize, '\0');
  b[kOffStx] = static_cast<char>(kStx);
  vt::putBE16(b, kOffSequence, sequence);
  vt::putBE16(b, kOffCount, static_cast<uint16_t>(data.size()));
  b.replace(kOffData, data.size(), data);
  b.resize(kBlockSize);
  vt::putBE16(b, kOffChecksum, checksum(b));
  b[kOffEtx] = static_cast<char>(kEtx);
  return b;
}

std::optional<Block> decodeBlock(const QByteArray& bytes, QString* problem) {
  if (bytes.size() != kBlockSize) {
    *problem = QString("block of %1 bytes, expected %2").arg(bytes.size()).arg(kBlockSize);
    return std::nullopt;
  }
  if (static_cast<uint8_t>(bytes[kOffStx]) != kStx) {
    *problem = "block does not start with STX";
    return std::nullopt;
  }
  if (static_cast<uint8_t>(bytes[kOffEtx]) != kEtx) {
    *problem = "block does not end with ETX";
    return std::nullopt;
  }
  const uint16_t stated = vt::getBE16(bytes, kOffChecksum);
  const uint16_t actual = checksum(bytes);
  if (stated != actual) {
    *problem = QString("block checksum %1, computed %2").arg(stated).arg(actual);
    return std::nullopt;
  }
  Block b;
  b.sequence = vt::getBE16(bytes, kOffSequence);
  b.count = vt::getBE16(bytes, kOffCount);
  if (b.count > kDataArea) {
    *problem = QString("block count %1 exceeds %2").arg(b.count).arg(kDataArea);
    return std::nullopt;
  }
  b.data = bytes.mid(kOffData, b.count);
  return b;
}

std::optional<Descriptor> decodeDescriptor(const QByteArray& record, QString* problem) {
  if (record.size() != kRecordSize) {
    *problem = QString("descriptor of %1 bytes, expected %2").arg(record.size()).arg(kRecordSize);
    return std::nullopt;
  }
  Descriptor d;
  d.fileType = static_cast<uint8_t>(record[kOffFileType]);
  if (d.fileType != kFileTypeText && d.fileType != kFileTypeBinary) {
    *problem = QString("file type %1 is neither text (64) nor binary (66)").arg(d.fileType);
    return std::nullopt;
  }
  if (vt::getBE16(record, kOffDescWord2) != kDescWord2 ||
      vt::getBE16(record, kOffDescWord4) != kDescWord4) {
    *problem = "descriptor words 2 and 4 are not 15 and 7";
    return std::nullopt;
  }
  QByteArray name = record.mid(kOffFileName, kFileNameArea);
  const int nul = name.indexOf('\0');
  if (nul >= 0)
    name.truncate(nul);
  d.fileName = QString::fromLatin1(name);
  d.textRecordSize = vt::getBE16(record, kOffTextRecordSize);
  d.textRecordLimit = vt::getBE16(record, kOffTextRecordLimit);
  return d;
}

std::optional<DataHeader> decodeHeader(const QByteArray& record, QString* problem) {
  if (record.size() != kRecordSize) {
    *problem = QString("header of %1 bytes, expected %2").arg(record.size()).arg(kRecordSize);
    return std::nullopt;
  }
  DataHeader h;
  const QByteArray magic = record.mid(kOffMagic, kMagic.size());
  h.hasMagic = magic == kMagic;
  if (!h.hasMagic && magic != QByteArray(kMagic.size(), '\0')) {
    *problem = "header starts with neither QZBIN nor zeros";
    return std::nullopt;
  }
  h.recordSize = vt::getBE16(record, kOffHeaderRecordSize);
  h.recordLimit = vt::getBE32(record, kOffHeaderRecordLimit);
  if (h.recordSize == 0) {
    *problem = "header record size is 0";
    return std::nullopt;
  }
  return h;
}

}  // namespace xfer
