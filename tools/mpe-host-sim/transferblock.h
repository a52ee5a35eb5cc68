// The frames and records of the block transfer, read on the host side.
//
// A transfer block is 1032 bytes: STX, a sequence number, a data count, 1024
// data bytes, a checksum over the sequence, count and data, and ETX. Its first
// two blocks carry 128-byte records: the descriptor of the target file and,
// for binary transfers, a header describing the data.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace xfer {

constexpr int kBlockSize = 1032;
constexpr int kOffStx = 0;
constexpr int kOffSequence = 1;
constexpr int kOffCount = 3;
constexpr int kOffData = 5;
constexpr int kDataArea = 1024;
constexpr int kOffChecksum = 1029;
constexpr int kOffEtx = 1031;
constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr int kRecordSize = 128;  // descriptor and header blocks

// Descriptor (first header block).
constexpr int kOffFileType = 0;
constexpr int kOffDescWord2 = 2;
constexpr int kOffDescWord4 = 4;
constexpr int kOffFileName = 8;
constexpr int kFileNameArea = 40;
constexpr int kOffTextRecordSize = 48;
constexpr int kOffTextRecordLimit = 50;
constexpr uint8_t kFileTypeText = 64;
constexpr uint8_t kFileTypeBinary = 66;
constexpr uint16_t kDescWord2 = 15;
constexpr uint16_t kDescWord4 = 7;

// Header (second header block, binary transfers).
constexpr int kOffMagic = 0;
constexpr int kOffHeaderRecordSize = 5;
constexpr int kOffHeaderRecordLimit = 8;
inline const QByteArray kMagic = "QZBIN";

struct Block {
  uint16_t sequence = 0;
  uint16_t count = 0;
  QByteArray data;  // `count` bytes
};

// Sum of bytes 1..1028 modulo 65536.
uint16_t checksum(const QByteArray& block);

// Builds a complete block (the tests use it to play the installer).
QByteArray buildBlock(uint16_t sequence, const QByteArray& data);

// Checks the frame and returns the block, or the reason it is bad.
std::optional<Block> decodeBlock(const QByteArray& bytes, QString* problem);

struct Descriptor {
  uint8_t fileType = 0;
  QString fileName;
  uint16_t textRecordSize = 0;
  uint16_t textRecordLimit = 0;
};
std::optional<Descriptor> decodeDescriptor(const QByteArray& record, QString* problem);

struct DataHeader {
  bool hasMagic = false;
  uint16_t recordSize = 0;
  uint32_t recordLimit = 0;
};
std::optional<DataHeader> decodeHeader(const QByteArray& record, QString* problem);

}  // namespace xfer
