// NS/VT messages as the host side builds and reads them.
//
// Every message starts with a 10-byte header (length, version, class, an
// unused byte, type, the echo word, a class word); every multi-byte field is
// big-endian except the termination reason, which terminals read with its
// low-order byte first. This file is written from the message layouts alone
// and shares no code with the installer, so that a layout mistake made on one
// side shows up as a deviation on the other.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace vt {

// Header.
constexpr int kHeaderSize = 10;
constexpr int kOffLength = 0;
constexpr int kOffVersion = 2;
constexpr int kOffClass = 3;
constexpr int kOffUnused = 4;
constexpr int kOffType = 5;
constexpr int kOffEcho = 6;
constexpr int kOffClassWord = 8;
constexpr uint8_t kVersion = 2;
constexpr uint16_t kClassWordDefault = 0x8000;

// Classes: even requests, odd replies.
enum Class : uint8_t {
  kEnvRequest = 0,
  kEnvReply = 1,
  kTermRequest = 2,
  kTermReply = 3,
  kControlRequest = 4,
  kControlReply = 5,
  kMpeRequest = 8,
  kMpeReply = 9,
};

// Types within class 0/1.
constexpr uint8_t kTypeOpen = 0;
constexpr uint8_t kTypeNegotiation = 1;
constexpr uint8_t kTypeTerminate = 2;
constexpr uint8_t kTypeLogonNotice = 3;
// Types within class 2/3.
constexpr uint8_t kTypeRead = 0;
constexpr uint8_t kTypeWrite = 1;
// Types within class 4/5.
constexpr uint8_t kTypeSetBreak = 0;
constexpr uint8_t kTypeSetDriver = 1;
// Type within class 8/9.
constexpr uint8_t kTypeMpeControl = 0;

// Class 2 common fields.
constexpr int kOffReadLength = 10;
constexpr int kOffReadSecond = 12;
constexpr int kReadRequestSize = 14;
// TERM_IO (class 2 type 1).
constexpr int kOffWriteWord = 14;   // write flags
constexpr int kOffWriteCount = 16;  // carriage control byte plus data
constexpr int kOffCarriage = 18;
constexpr int kOffWriteData = 19;
constexpr uint8_t kCarriageStay = 0xD0;  // no line movement: prompts
constexpr uint8_t kCarriageLine = 0x20;  // single space: an ordinary line
// Write flag: the first data byte is carriage control. Terminal programs
// print that byte as a character and move no line without it.
constexpr uint16_t kWriteFlagCarriageControl = 0x8000;

// Terminal input (class 3 type 0).
constexpr int kOffInputWord1 = 10;
constexpr int kOffInputCount = 12;
constexpr int kOffInputData = 14;

// Terminal settings request (class 4 type 1).
constexpr uint16_t kSettingsEchoMask = 0x8000;
constexpr int kOffSettingsEcho = 10;
constexpr int kOffSettingsExtra = 11;
constexpr int kSettingsRequestSize = 12;
constexpr uint8_t kEchoOff = 1;
constexpr uint8_t kEchoOn = 3;

// Logon notice (class 0 type 3).
constexpr int kOffLogonLength = 14;
constexpr int kOffLogonText = 16;
constexpr int kLogonTextArea = 80;
constexpr int kLogonNoticeSize = kOffLogonText + kLogonTextArea;

// Termination request (class 0 type 2) from the host.
constexpr int kOffTerminateReason = 10;
constexpr int kTerminateRequestSize = 12;

// Host negotiation request (class 0 type 1). Terminals read only its header;
// the field values follow what MPE hosts are reported to send (a version
// mask, buffer size, operating-system code, editing characters) and are
// guesses kept together here.
constexpr int kOffNegVersionMask = 10;
constexpr int kOffNegBufferSize = 12;
constexpr int kOffNegOsCode = 14;
constexpr int kOffNegEcho = 16;
constexpr int kOffNegCharDelete = 17;
constexpr int kOffNegLineDelete = 18;
constexpr int kOffNegTypeAhead = 19;
constexpr int kOffNegParity = 20;
constexpr int kOffNegBreak = 21;
constexpr int kOffNegLogonIdOffset = 22;
constexpr int kOffNegDeviceIdOffset = 24;
constexpr int kNegotiationRequestSize = 26;
constexpr uint16_t kNegVersionMask = 0x8000;
constexpr uint16_t kNegBufferSize = 4096;
constexpr uint16_t kNegOsMpeXl = 2;
constexpr uint8_t kNegCharDelete = 0x08;  // backspace
constexpr uint8_t kNegLineDelete = 0x18;  // control-X

// What the terminal must answer the negotiation with (26 bytes) and the open
// request it sends next (71 bytes).
constexpr int kNegotiationReplySize = 26;
constexpr int kOpenRequestSize = 71;
constexpr int kOffOpenWord10 = 10;
constexpr int kOffOpenBlanks = 12;
constexpr int kOpenBlankCount = 6;
constexpr int kOffOpenAddressLength = 18;
constexpr int kOffOpenAddress = 20;
constexpr int kOpenAddressArea = 51;
constexpr uint16_t kFixedTerminalEcho = 0x0001;

// Short replies from the terminal.
constexpr int kShortReplySize = 10;
constexpr int kSettingsReplySize = 12;
constexpr uint16_t kMpeReplyWord = 0x0800;

// A decoded header. `length` is the message's own length field.
struct Header {
  uint16_t length = 0;
  uint8_t version = 0;
  uint8_t msgClass = 0;
  uint8_t unused = 0;
  uint8_t type = 0;
  uint16_t echo = 0;
  uint16_t classWord = 0;
};

uint16_t getBE16(const QByteArray& m, int offset);
uint32_t getBE32(const QByteArray& m, int offset);
void putBE16(QByteArray& m, int offset, uint16_t value);
void putBE32(QByteArray& m, int offset, uint32_t value);

// Reads the header of a message of at least kHeaderSize bytes.
Header readHeader(const QByteArray& message);

// Builders of the messages the host sends. Each takes the echo word the host
// puts in bytes 6-7 and returns the complete message.
QByteArray buildNegotiationRequest(uint16_t echo);
QByteArray buildTerminateRequest(uint16_t echo, uint16_t reason);
QByteArray buildLogonNotice(uint16_t echo, const QByteArray& text);
QByteArray buildReadRequest(uint16_t echo, uint16_t length);
QByteArray buildWrite(uint16_t echo, const QByteArray& data, uint8_t carriage);
QByteArray buildSettingsRequest(uint16_t echo, bool echoOn);
QByteArray buildSetBreakRequest(uint16_t echo);
QByteArray buildMpeControlRequest(uint16_t echo);
QByteArray buildTerminateReply(uint16_t echo);

// Checks of what the terminal sends. Each returns the list of deviations
// from the layout; empty when the message is as it must be.
QStringList checkNegotiationReply(const QByteArray& m);
QStringList checkOpenRequest(const QByteArray& m, const QString& peerAddress);
QStringList checkShortReply(const QByteArray& m, uint16_t expectedWord);
QStringList checkSettingsReply(const QByteArray& m);

// Terminal input (class 3 type 0): the data, or nothing when the layout is
// broken (the reason then goes to *problem).
std::optional<QByteArray> decodeTerminalInput(const QByteArray& m, QString* problem);

// A readable name for a class and type, for the transcript.
QString messageName(uint8_t msgClass, uint8_t type, bool fromHost);

// Cuts the terminal's byte stream into messages by their length field.
class Framer {
public:
  // Adds received bytes.
  void feed(const QByteArray& bytes);
  // Takes the next complete message, if one is there. A length field below
  // the header size cannot be framed; `broken()` then turns true and no
  // further message comes out.
  std::optional<QByteArray> next();
  bool broken() const { return broken_; }
  int brokenLength() const { return brokenLength_; }

private:
  QByteArray buffer_;
  bool broken_ = false;
  int brokenLength_ = 0;
};

}  // namespace vt
