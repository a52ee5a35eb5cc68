// Builders and checks of the NS/VT messages the host side exchanges.
#include "vtmessage.h"

namespace vt {

namespace {

QByteArray newMessage(int size, uint8_t msgClass, uint8_t type, uint16_t echo,
                      uint16_t classWord = kClassWordDefault) {
  QByteArray m(size, '\0');
  putBE16(m, kOffLength, static_cast<uint16_t>(size));
  m[kOffVersion] = static_cast<char>(kVersion);
  m[kOffClass] = static_cast<char>(msgClass);
  m[kOffType] = static_cast<char>(type);
  putBE16(m, kOffEcho, echo);
  putBE16(m, kOffClassWord, classWord);
  return m;
}

QString hex4(uint32_t v) {
  return QString::asprintf("0x%04X", v);
}

// Compares one field and appends a deviation when it differs.
void expectWord(QStringList& out, const QByteArray& m, int offset, uint16_t want,
                const char* what) {
  const uint16_t got = getBE16(m, offset);
  if (got != want) {
    out << QString("%1 (bytes %2-%3) is %4, expected %5")
               .arg(what)
               .arg(offset)
               .arg(offset + 1)
               .arg(hex4(got), hex4(want));
  }
}

void expectByte(QStringList& out, const QByteArray& m, int offset, uint8_t want, const char* what) {
  const uint8_t got = static_cast<uint8_t>(m.at(offset));
  if (got != want) {
    out << QString("%1 (byte %2) is %3, expected %4").arg(what).arg(offset).arg(got).arg(want);
  }
}

// The part every check shares: the length, version, class and type.
bool checkFrame(QStringList& out, const QByteArray& m, int size, uint8_t msgClass, uint8_t type) {
  if (m.size() != size) {
    out << QString("length is %1, expected %2").arg(m.size()).arg(size);
    return false;
  }
  expectByte(out, m, kOffVersion, kVersion, "version");
  expectByte(out, m, kOffClass, msgClass, "class");
  expectByte(out, m, kOffType, type, "type");
  return true;
}

}  // namespace

uint16_t getBE16(const QByteArray& m, int offset) {
  if (offset + 2 > m.size())
    return 0;
  return static_cast<uint16_t>((static_cast<uint8_t>(m[offset]) << 8) |
                               static_cast<uint8_t>(m[offset + 1]));
}

uint32_t getBE32(const QByteArray& m, int offset) {
  return (static_cast<uint32_t>(getBE16(m, offset)) << 16) | getBE16(m, offset + 2);
}

void putBE16(QByteArray& m, int offset, uint16_t value) {
  m[offset] = static_cast<char>(value >> 8);
  m[offset + 1] = static_cast<char>(value & 0xFF);
}

void putBE32(QByteArray& m, int offset, uint32_t value) {
  putBE16(m, offset, static_cast<uint16_t>(value >> 16));
  putBE16(m, offset + 2, static_cast<uint16_t>(value & 0xFFFF));
}

Header readHeader(const QByteArray& message) {
  Header h;
  h.length = getBE16(message, kOffLength);
  h.version = static_cast<uint8_t>(message.at(kOffVersion));
  h.msgClass = static_cast<uint8_t>(message.at(kOffClass));
  h.unused = static_cast<uint8_t>(message.at(kOffUnused));
  h.type = static_cast<uint8_t>(message.at(kOffType));
  h.echo = getBE16(message, kOffEcho);
  h.classWord = getBE16(message, kOffClassWord);
  return h;
}

QByteArray buildNegotiationRequest(uint16_t echo) {
  QByteArray m = newMessage(kNegotiationRequestSize, kEnvRequest, kTypeNegotiation, echo);
  putBE16(m, kOffNegVersionMask, kNegVersionMask);
  putBE16(m, kOffNegBufferSize, kNegBufferSize);
  putBE16(m, kOffNegOsCode, kNegOsMpeXl);
  m[kOffNegEcho] = static_cast<char>(kEchoOn);
  m[kOffNegCharDelete] = static_cast<char>(kNegCharDelete);
  m[kOffNegLineDelete] = static_cast<char>(kNegLineDelete);
  m[kOffNegTypeAhead] = 0;
  m[kOffNegParity] = 0;
  m[kOffNegBreak] = 1;
  putBE16(m, kOffNegLogonIdOffset, 0);
  putBE16(m, kOffNegDeviceIdOffset, 0);
  return m;
}

QByteArray buildTerminateRequest(uint16_t echo, uint16_t reason) {
  QByteArray m = newMessage(kTerminateRequestSize, kEnvRequest, kTypeTerminate, echo);
  // Terminals take the reason low-order byte first.
  m[kOffTerminateReason] = static_cast<char>(reason & 0xFF);
  m[kOffTerminateReason + 1] = static_cast<char>(reason >> 8);
  return m;
}

QByteArray buildLogonNotice(uint16_t echo, const QByteArray& text) {
  QByteArray m = newMessage(kLogonNoticeSize, kEnvRequest, kTypeLogonNotice, echo);
  const QByteArray cut = text.left(kLogonTextArea);
  putBE16(m, kOffLogonLength, static_cast<uint16_t>(cut.size()));
  m.replace(kOffLogonText, cut.size(), cut);
  return m;
}

QByteArray buildReadRequest(uint16_t echo, uint16_t length) {
  QByteArray m = newMessage(kReadRequestSize, kTermRequest, kTypeRead, echo);
  putBE16(m, kOffReadLength, length);
  putBE16(m, kOffReadSecond, 0);
  return m;
}

QByteArray buildWrite(uint16_t echo, const QByteArray& data, uint8_t carriage) {
  QByteArray m = newMessage(kOffWriteData + data.size(), kTermRequest, kTypeWrite, echo);
  // A write posts no read: its read-length field is 0.
  putBE16(m, kOffReadLength, 0);
  // Every host write starts with a carriage-control byte.
  putBE16(m, kOffWriteWord, kWriteFlagCarriageControl);
  putBE16(m, kOffWriteCount, static_cast<uint16_t>(data.size() + 1));
  m[kOffCarriage] = static_cast<char>(carriage);
  m.replace(kOffWriteData, data.size(), data);
  return m;
}

QByteArray buildSettingsRequest(uint16_t echo, bool echoOn) {
  QByteArray m =
      newMessage(kSettingsRequestSize, kControlRequest, kTypeSetDriver, echo, kSettingsEchoMask);
  m[kOffSettingsEcho] = static_cast<char>(echoOn ? kEchoOn : kEchoOff);
  m[kOffSettingsExtra] = 0;
  return m;
}

QByteArray buildSetBreakRequest(uint16_t echo) {
  return newMessage(kHeaderSize, kControlRequest, kTypeSetBreak, echo);
}

QByteArray buildMpeControlRequest(uint16_t echo) {
  return newMessage(kHeaderSize, kMpeRequest, kTypeMpeControl, echo);
}

QByteArray buildTerminateReply(uint16_t echo) {
  return newMessage(kHeaderSize, kEnvReply, kTypeTerminate, echo);
}

QStringList checkNegotiationReply(const QByteArray& m) {
  QStringList out;
  if (!checkFrame(out, m, kNegotiationReplySize, kEnvReply, kTypeNegotiation))
    return out;
  struct Field {
    int offset;
    uint16_t value;
    const char* what;
  };
  static constexpr Field kWords[] = {
      {kOffEcho, kFixedTerminalEcho, "echo word"},
      {8, 0x8000, "class word"},
      {10, 0x8000, "word 10"},
      {12, 0x8000, "word 12"},
      {14, 43, "word 14"},
      {16, 12020, "word 16"},
      {20, 0, "word 20"},
      {22, 2, "word 22"},
      {24, 1, "word 24"},
  };
  for (const Field& f : kWords)
    expectWord(out, m, f.offset, f.value, f.what);
  expectByte(out, m, 18, 6, "byte 18");
  expectByte(out, m, 19, 8, "byte 19");
  return out;
}

QStringList checkOpenRequest(const QByteArray& m, const QString& peerAddress) {
  QStringList out;
  if (!checkFrame(out, m, kOpenRequestSize, kEnvRequest, kTypeOpen))
    return out;
  expectWord(out, m, kOffEcho, kFixedTerminalEcho, "echo word");
  expectByte(out, m, 8, 1, "byte 8");
  expectByte(out, m, 9, 0, "byte 9");
  expectWord(out, m, kOffOpenWord10, 4, "word 10");
  if (m.mid(kOffOpenBlanks, kOpenBlankCount) != QByteArray(kOpenBlankCount, ' ')) {
    out << "bytes 12-17 are not six blanks";
  }
  const int n = getBE16(m, kOffOpenAddressLength);
  if (n > kOpenAddressArea) {
    out << QString("address length %1 exceeds %2").arg(n).arg(kOpenAddressArea);
    return out;
  }
  const QByteArray address = m.mid(kOffOpenAddress, n);
  const QByteArray padding = m.mid(kOffOpenAddress + n, kOpenAddressArea - n);
  if (padding.count('\0') != padding.size())
    out << "address padding is not all zero";
  if (!peerAddress.isEmpty() && QString::fromLatin1(address) != peerAddress) {
    out << QString("address text '%1' is not the terminal's address %2")
               .arg(QString::fromLatin1(address), peerAddress);
  }
  return out;
}

QStringList checkShortReply(const QByteArray& m, uint16_t expectedWord) {
  QStringList out;
  if (m.size() != kShortReplySize) {
    out << QString("length is %1, expected %2").arg(m.size()).arg(kShortReplySize);
    return out;
  }
  expectWord(out, m, kOffClassWord, expectedWord, "class word");
  return out;
}

QStringList checkSettingsReply(const QByteArray& m) {
  QStringList out;
  if (m.size() != kSettingsReplySize) {
    out << QString("length is %1, expected %2").arg(m.size()).arg(kSettingsReplySize);
    return out;
  }
  expectWord(out, m, kOffClassWord, 0x8000, "class word");
  expectWord(out, m, 10, 0x8000, "word 10");
  return out;
}

std::optional<QByteArray> decodeTerminalInput(const QByteArray& m, QString* problem) {
  if (m.size() < kOffInputData) {
    *problem = QString("terminal input of %1 bytes is shorter than its header").arg(m.size());
    return std::nullopt;
  }
  const int n = getBE16(m, kOffInputCount);
  if (n + kOffInputData != m.size()) {
    *problem =
        QString("terminal input data count %1 does not match its length %2").arg(n).arg(m.size());
    return std::nullopt;
  }
  QStringList words;
  expectWord(words, m, kOffClassWord, 0x8000, "class word");
  expectWord(words, m, kOffInputWord1, 0x8000, "word 10");
  if (!words.isEmpty())
    *problem = words.join("; ");
  return m.mid(kOffInputData, n);
}

QString messageName(uint8_t msgClass, uint8_t type, bool fromHost) {
  switch (msgClass) {
    case kEnvRequest:
      switch (type) {
        case kTypeOpen:
          return "OPEN-REQUEST";
        case kTypeNegotiation:
          return "NEGOTIATION-REQUEST";
        case kTypeTerminate:
          return "TERMINATION-REQUEST";
        case kTypeLogonNotice:
          return "LOGON-NOTICE";
      }
      break;
    case kEnvReply:
      switch (type) {
        case kTypeNegotiation:
          return "NEGOTIATION-REPLY";
        case kTypeTerminate:
          return "TERMINATION-REPLY";
        case kTypeLogonNotice:
          return "LOGON-NOTICE-REPLY";
      }
      break;
    case kTermRequest:
      if (type == kTypeRead)
        return "READ-REQUEST";
      if (type == kTypeWrite)
        return "TERM_IO";
      break;
    case kTermReply:
      if (type == kTypeRead)
        return fromHost ? "INPUT-STOP" : "TERMINAL-INPUT";
      break;
    case kControlRequest:
      if (type == kTypeSetBreak)
        return "SET-BREAK-REQUEST";
      if (type == kTypeSetDriver)
        return "SETTINGS-REQUEST";
      break;
    case kControlReply:
      if (type == kTypeSetBreak)
        return "SET-BREAK-REPLY";
      if (type == kTypeSetDriver)
        return "SETTINGS-REPLY";
      break;
    case kMpeRequest:
      if (type == kTypeMpeControl)
        return "MPE-CONTROL-REQUEST";
      break;
    case kMpeReply:
      if (type == kTypeMpeControl)
        return "MPE-CONTROL-REPLY";
      break;
  }
  return QString("CLASS-%1-TYPE-%2").arg(msgClass).arg(type);
}

void Framer::feed(const QByteArray& bytes) {
  if (!broken_)
    buffer_.append(bytes);
}

std::optional<QByteArray> Framer::next() {
  if (broken_ || buffer_.size() < 2)
    return std::nullopt;
  const int length = getBE16(buffer_, kOffLength);
  if (length < kHeaderSize) {
    // Nothing tells where the next message starts: the stream is lost.
    broken_ = true;
    brokenLength_ = length;
    buffer_.clear();
    return std::nullopt;
  }
  if (buffer_.size() < length)
    return std::nullopt;
  QByteArray message = buffer_.left(length);
  buffer_.remove(0, length);
  return message;
}

}  // namespace vt
