// NS/VT byte-order helpers, message builders and readers. Builders write only
// the bytes their layout names, so a reply built over a received message keeps
// every other byte (byte 4 among them) as it arrived.
#include "nsvt/vtpkt.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace nsvt {

namespace {

// A byte of a received message; bytes past the end of the span read as 0,
// just as bytes past the length field do in the zero-filled scratch area.
std::uint8_t ByteAt(ConstBytes buffer, std::size_t position) {
  return position < buffer.size() ? buffer[position] : 0;
}

// The fields every message the installer sends shares. Byte 4 is left alone.
void PutHeader(Bytes buffer, std::size_t length, std::uint8_t messageClass, std::uint8_t type,
               EchoWord echo, std::uint16_t classWord) {
  assert(buffer.size() >= length);
  PutBE16(buffer, kOffLength, static_cast<std::uint16_t>(length));
  buffer[kOffVersion] = kProtocolVersion;
  buffer[kOffClass] = messageClass;
  buffer[kOffType] = type;
  buffer[kOffEchoWord] = echo[0];
  buffer[kOffEchoWord + 1] = echo[1];
  PutBE16(buffer, kOffClassWord, classWord);
}

std::size_t BuildShortReply(Bytes buffer, std::uint8_t messageClass, std::uint8_t type,
                            EchoWord echo, std::uint16_t classWord) {
  PutHeader(buffer, kShortMessageSize, messageClass, type, echo, classWord);
  return kShortMessageSize;
}

// Fixed fields of the negotiation reply after its header.
constexpr std::size_t kOffNegotiationWord1 = 10;
constexpr std::size_t kOffNegotiationWord2 = 12;
constexpr std::size_t kOffNegotiationWord3 = 14;
constexpr std::size_t kOffNegotiationWord4 = 16;
constexpr std::size_t kOffNegotiationByte1 = 18;
constexpr std::size_t kOffNegotiationByte2 = 19;
constexpr std::size_t kOffNegotiationWord5 = 20;
constexpr std::size_t kOffNegotiationWord6 = 22;
constexpr std::size_t kOffNegotiationWord7 = 24;

// Fixed fields of the open request after its header. Its bytes 8 and 9 are
// two separate bytes, not the usual class word.
constexpr std::size_t kOffOpenByte8 = 8;
constexpr std::size_t kOffOpenByte9 = 9;
constexpr std::size_t kOffOpenWord = 10;
constexpr std::size_t kOffOpenSpaces = 12;
constexpr std::string_view kOpenSpaces = "      ";

constexpr std::uint16_t kClass8ReplyWord = 0x0800;

constexpr std::string_view kTerminationReasons[] = {
    "NORMAL TERMINATION", "USER ABORT REQUEST",    "STOP CANCEL FROM OP",
    "PROGRAMMATIC ERROR", "NEGOTIATION FAILED",    "LOGIC ERROR",
    "LOGON FAILED",       "INITIALIZATION FAILED", "NO DEVICE SUPPORT",
};
static_assert(std::size(kTerminationReasons) == kLastKnownTerminationReason + 1);

}  // namespace

std::uint16_t Swap16(std::uint16_t value) {
  return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}

std::uint16_t GetBE16(ConstBytes buffer, std::size_t position) {
  return static_cast<std::uint16_t>((ByteAt(buffer, position) << 8) | ByteAt(buffer, position + 1));
}

std::uint32_t GetBE32(ConstBytes buffer, std::size_t position) {
  return (static_cast<std::uint32_t>(GetBE16(buffer, position)) << 16) |
         GetBE16(buffer, position + 2);
}

bool AllBitsSet(ConstBytes buffer, std::size_t position, std::uint16_t mask) {
  return (GetBE16(buffer, position) & mask) == mask;
}

void PutBE16(Bytes buffer, std::size_t position, std::uint16_t value) {
  assert(position + 2 <= buffer.size());
  buffer[position] = static_cast<std::uint8_t>(value >> 8);
  buffer[position + 1] = static_cast<std::uint8_t>(value);
}

void PutBE32(Bytes buffer, std::size_t position, std::uint32_t value) {
  PutBE16(buffer, position, static_cast<std::uint16_t>(value >> 16));
  PutBE16(buffer, position + 2, static_cast<std::uint16_t>(value));
}

void PutBE16EndingAt(Bytes buffer, std::size_t position, std::uint16_t value) {
  assert(position >= 1);
  PutBE16(buffer, position - 1, value);
}

void PutBytes(Bytes buffer, std::size_t position, std::string_view text) {
  assert(position + text.size() <= buffer.size());
  if (!text.empty()) {
    std::memcpy(buffer.data() + position, text.data(), text.size());
  }
}

std::size_t BuildNegotiationReply(Bytes buffer) {
  PutHeader(buffer, kNegotiationReplySize, kClassControlReply, kTypeNegotiation, kInitialEchoWord,
            kClassWordDefault);
  PutBE16(buffer, kOffNegotiationWord1, 0x8000);
  PutBE16(buffer, kOffNegotiationWord2, 0x8000);
  PutBE16(buffer, kOffNegotiationWord3, 43);
  PutBE16(buffer, kOffNegotiationWord4, 12020);
  buffer[kOffNegotiationByte1] = 6;
  buffer[kOffNegotiationByte2] = 8;
  PutBE16(buffer, kOffNegotiationWord5, 0);
  PutBE16(buffer, kOffNegotiationWord6, 2);
  PutBE16(buffer, kOffNegotiationWord7, 1);
  return kNegotiationReplySize;
}

std::size_t BuildOpenRequest(Bytes buffer, std::string_view address) {
  assert(buffer.size() >= kOpenRequestSize);
  // The open request is built over the negotiation reply just sent, so the
  // address field is cleared before the shorter text goes in.
  std::memset(buffer.data() + kOffOpenAddress, 0, kOpenAddressCapacity);
  PutBE16(buffer, kOffLength, static_cast<std::uint16_t>(kOpenRequestSize));
  buffer[kOffVersion] = kProtocolVersion;
  buffer[kOffClass] = kClassControlRequest;
  buffer[kOffType] = kTypeOpen;
  buffer[kOffEchoWord] = kInitialEchoWord[0];
  buffer[kOffEchoWord + 1] = kInitialEchoWord[1];
  buffer[kOffOpenByte8] = 1;
  buffer[kOffOpenByte9] = 0;
  PutBE16(buffer, kOffOpenWord, 4);
  PutBytes(buffer, kOffOpenSpaces, kOpenSpaces);
  const std::string_view text = address.substr(0, kOpenAddressCapacity);
  PutBE16(buffer, kOffOpenAddressLength, static_cast<std::uint16_t>(text.size()));
  PutBytes(buffer, kOffOpenAddress, text);
  return kOpenRequestSize;
}

std::size_t BuildTerminationRequest(Bytes buffer, EchoWord echo) {
  return BuildShortReply(buffer, kClassControlRequest, kTypeTermination, echo, 0);
}

std::size_t BuildTerminationReply(Bytes buffer, EchoWord echo) {
  return BuildShortReply(buffer, kClassControlReply, kTypeTermination, echo, kClassWordDefault);
}

std::size_t BuildLogonNoticeReply(Bytes buffer, EchoWord echo) {
  return BuildShortReply(buffer, kClassControlReply, kTypeLogonNotice, echo, kClassWordDefault);
}

std::size_t BuildClass4Type0Reply(Bytes buffer, EchoWord echo) {
  return BuildShortReply(buffer, kClassTerminalControlReply, kTypeSetBreak, echo,
                         kClassWordDefault);
}

std::size_t BuildClass8Type0Reply(Bytes buffer, EchoWord echo) {
  return BuildShortReply(buffer, kClassMpeControlReply, 0, echo, kClass8ReplyWord);
}

std::size_t BuildSettingsReply(Bytes buffer, EchoWord echo) {
  PutHeader(buffer, kSettingsReplySize, kClassTerminalControlReply, kTypeTerminalSettings, echo,
            kClassWordDefault);
  PutBE16(buffer, kOffSettingsEcho, kClassWordDefault);
  return kSettingsReplySize;
}

std::size_t BuildTerminalInput(Bytes buffer, EchoWord echo, ConstBytes data) {
  assert(data.size() <= kMaxTerminalData);
  const std::size_t count = std::min(data.size(), kMaxTerminalData);
  const std::size_t length = kTerminalInputHeaderSize + count;
  PutHeader(buffer, length, kClassTerminalInput, kTypeInput, echo, kClassWordDefault);
  PutBE16(buffer, kOffInputWord1, kClassWordDefault);
  PutBE16(buffer, kOffInputCount, static_cast<std::uint16_t>(count));
  if (count != 0) {
    std::memcpy(buffer.data() + kOffInputData, data.data(), count);
  }
  return length;
}

std::uint16_t MessageLength(ConstBytes message) {
  return GetBE16(message, kOffLength);
}

int TerminationReason(ConstBytes message) {
  // The one little-endian field of the protocol.
  return ByteAt(message, kOffTerminationReason) + 256 * ByteAt(message, kOffTerminationReason + 1);
}

std::string_view TerminationReasonText(int reason) {
  if (reason < 0 || reason > kLastKnownTerminationReason) {
    return {};
  }
  return kTerminationReasons[reason];
}

std::string_view LogonNoticeText(ConstBytes message) {
  if (message.size() <= kOffLogonText) {
    return {};
  }
  const std::size_t length = std::min({static_cast<std::size_t>(GetBE16(message, kOffLogonLength)),
                                       kLogonTextCapacity, message.size() - kOffLogonText});
  return {reinterpret_cast<const char*>(message.data() + kOffLogonText), length};
}

ConstBytes TermIoData(ConstBytes message) {
  const std::uint16_t countField = GetBE16(message, kOffTermIoCount);
  if (countField == 0 || message.size() <= kOffTermIoData) {
    return {};
  }
  const std::size_t length =
      std::min(static_cast<std::size_t>(countField - 1), message.size() - kOffTermIoData);
  return message.subspan(kOffTermIoData, length);
}

}  // namespace nsvt
