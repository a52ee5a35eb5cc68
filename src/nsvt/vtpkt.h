// NS/VT message layouts, byte-order helpers and the builders of every message
// the installer sends. Plain bytes in, plain bytes out: nothing here owns state
// or touches a socket, so the layouts can be checked by feeding buffers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace nsvt {

// The TCP port of the NS/VT service on an HP 3000, where both front ends
// connect unless told otherwise.
inline constexpr std::uint16_t kNsvtPort = 1570;

using Bytes = std::span<std::uint8_t>;
using ConstBytes = std::span<const std::uint8_t>;

// Two raw bytes copied from bytes 6-7 of the last message received and put
// back, unchanged, into most messages the installer sends.
using EchoWord = std::array<std::uint8_t, 2>;
inline constexpr EchoWord kInitialEchoWord{0x00, 0x01};

// Common header, every message.
inline constexpr std::size_t kHeaderSize = 10;
inline constexpr std::size_t kOffLength = 0;     // u16, whole message length
inline constexpr std::size_t kOffVersion = 2;    // u8, always kProtocolVersion
inline constexpr std::size_t kOffClass = 3;      // u8
inline constexpr std::size_t kOffUnused = 4;     // u8, never read, kept in replies
inline constexpr std::size_t kOffType = 5;       // u8
inline constexpr std::size_t kOffEchoWord = 6;   // 2 raw bytes
inline constexpr std::size_t kOffClassWord = 8;  // u16, class dependent
inline constexpr std::uint8_t kProtocolVersion = 2;
inline constexpr std::uint16_t kClassWordDefault = 0x8000;

// Buffer sizes of the receive path and the send limits.
inline constexpr std::size_t kMaxFrame = 72576;         // receive buffer, scratch, RawHostData
inline constexpr std::size_t kReadChunk = 36288;        // one socket read
inline constexpr std::size_t kMaxTerminalData = 36288;  // data bytes of one terminal input

// Message classes.
enum MessageClass : std::uint8_t {
  kClassControlRequest = 0,
  kClassControlReply = 1,
  kClassTerminalRequest = 2,
  kClassTerminalInput = 3,
  kClassTerminalControl = 4,
  kClassTerminalControlReply = 5,
  kClassApplicationControl = 6,
  kClassApplicationControlReply = 7,
  kClassMpeControl = 8,
  kClassMpeControlReply = 9,
};

// Types within classes 0 and 1.
inline constexpr std::uint8_t kTypeOpen = 0;
inline constexpr std::uint8_t kTypeNegotiation = 1;
inline constexpr std::uint8_t kTypeTermination = 2;
inline constexpr std::uint8_t kTypeLogonNotice = 3;
// Types within class 2 (and 3).
inline constexpr std::uint8_t kTypeReadRequest = 0;
inline constexpr std::uint8_t kTypeTermIo = 1;
inline constexpr std::uint8_t kTypeInput = 0;      // class 3
inline constexpr std::uint8_t kTypeInputStop = 0;  // class 3 from the host
// Types within class 4.
inline constexpr std::uint8_t kTypeSetBreak = 0;
inline constexpr std::uint8_t kTypeTerminalSettings = 1;

// Sizes of the fixed messages the installer sends.
inline constexpr std::size_t kNegotiationReplySize = 26;
inline constexpr std::size_t kOpenRequestSize = 71;
inline constexpr std::size_t kShortMessageSize = 10;
inline constexpr std::size_t kSettingsReplySize = 12;
inline constexpr std::size_t kTerminalInputHeaderSize = 14;

// Open request fields.
inline constexpr std::size_t kOffOpenAddressLength = 18;
inline constexpr std::size_t kOffOpenAddress = 20;
inline constexpr std::size_t kOpenAddressCapacity = 51;

// Termination request from the host: reason, little-endian at 10-11.
inline constexpr std::size_t kOffTerminationReason = 10;
inline constexpr int kLastKnownTerminationReason = 8;

// Logon notice from the host.
inline constexpr std::size_t kOffLogonLength = 14;
inline constexpr std::size_t kOffLogonText = 16;
inline constexpr std::size_t kLogonTextCapacity = 80;

// Class 2 fields (read request and TERM_IO).
inline constexpr std::size_t kOffReadLength = 10;     // u16, HostReadLength
inline constexpr std::size_t kOffReadSecond = 12;     // u16, shown in the trace
inline constexpr std::size_t kOffTermIoWord = 14;     // u16, shown in the trace
inline constexpr std::size_t kOffTermIoCount = 16;    // u16, data length + 1
inline constexpr std::size_t kOffOutputControl = 18;  // u8
inline constexpr std::size_t kOffTermIoData = 19;
inline constexpr std::uint8_t kOutputControlNoNewLine = 0xD0;

// Terminal settings request (class 4, type 1).
inline constexpr std::size_t kOffSettingsFlags = 8;    // u16 flag bits
inline constexpr std::size_t kOffSettingsEcho = 10;    // u8
inline constexpr std::size_t kOffSettingsNumber = 11;  // u8, shown in the trace
inline constexpr std::uint16_t kSettingsEchoBit = 0x8000;
inline constexpr std::uint8_t kEchoOff = 1;

// Terminal input fields.
inline constexpr std::size_t kOffInputWord1 = 10;
inline constexpr std::size_t kOffInputCount = 12;
inline constexpr std::size_t kOffInputData = 14;

// Byte-order helpers. Every multi-byte field is big-endian except the
// termination reason read by TerminationReason().
std::uint16_t Swap16(std::uint16_t value);
std::uint16_t GetBE16(ConstBytes buffer, std::size_t position);
std::uint32_t GetBE32(ConstBytes buffer, std::size_t position);
// True when every bit of mask is set in the big-endian word at position.
bool AllBitsSet(ConstBytes buffer, std::size_t position, std::uint16_t mask);
void PutBE16(Bytes buffer, std::size_t position, std::uint16_t value);
void PutBE32(Bytes buffer, std::size_t position, std::uint32_t value);
// Low-order byte at position, high-order byte just before it.
void PutBE16EndingAt(Bytes buffer, std::size_t position, std::uint16_t value);
void PutBytes(Bytes buffer, std::size_t position, std::string_view text);

// Builders. Each writes into a caller-owned buffer at least as long as the
// message and returns the message length; none sends anything. Replies are
// meant to be built over the received message, so bytes a builder does not
// write (byte 4 among them) keep what the buffer held.
std::size_t BuildNegotiationReply(Bytes buffer);
std::size_t BuildOpenRequest(Bytes buffer, std::string_view address);
std::size_t BuildTerminationRequest(Bytes buffer, EchoWord echo);
std::size_t BuildTerminationReply(Bytes buffer, EchoWord echo);
std::size_t BuildLogonNoticeReply(Bytes buffer, EchoWord echo);
std::size_t BuildClass4Type0Reply(Bytes buffer, EchoWord echo);
std::size_t BuildClass8Type0Reply(Bytes buffer, EchoWord echo);
std::size_t BuildSettingsReply(Bytes buffer, EchoWord echo);
// Header plus data; data.size() must not exceed kMaxTerminalData and buffer
// must hold kTerminalInputHeaderSize + data.size() bytes.
std::size_t BuildTerminalInput(Bytes buffer, EchoWord echo, ConstBytes data);

// Readers of received messages (the buffer is zero beyond the message).
std::uint16_t MessageLength(ConstBytes message);
int TerminationReason(ConstBytes message);  // byte 10 + 256 * byte 11
// "NORMAL TERMINATION" ... "NO DEVICE SUPPORT", or empty for reasons above 8.
std::string_view TerminationReasonText(int reason);
// The logon notice text: the first min(length, 80) bytes at offset 16.
std::string_view LogonNoticeText(ConstBytes message);
// TERM_IO data: (count at 16) - 1 bytes from offset 19, clamped to the buffer;
// empty when the count is 0.
ConstBytes TermIoData(ConstBytes message);

}  // namespace nsvt
