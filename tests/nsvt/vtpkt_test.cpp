// Built messages against the literal bytes of their layouts, and the readers
// of received messages on their awkward inputs.
#include "nsvt/vtpkt.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using nsvt::EchoWord;
using Buffer = std::vector<std::uint8_t>;

constexpr std::uint8_t kFill = 0xEE;       // what the buffer held before building
constexpr EchoWord kHostEcho{0xAB, 0xCD};  // as the host last sent them

struct BuilderCase {
  std::string name;
  std::function<std::size_t(nsvt::Bytes)> build;
  Buffer expected;  // kFill where the builder must not write (byte 4)
};

class BuilderTest : public testing::TestWithParam<BuilderCase> {};

TEST_P(BuilderTest, WritesExactlyTheLayoutAndKeepsByte4) {
  const BuilderCase& c = GetParam();
  Buffer buffer(c.expected.size() + 4, kFill);
  const std::size_t length = c.build(buffer);
  ASSERT_EQ(length, c.expected.size());
  EXPECT_EQ(Buffer(buffer.begin(), buffer.begin() + length), c.expected);
  EXPECT_EQ(Buffer(buffer.begin() + length, buffer.end()), Buffer(4, kFill));
}

const BuilderCase kBuilderCases[] = {
    {"NegotiationReplyIgnoresEchoWord",
     [](nsvt::Bytes b) { return nsvt::BuildNegotiationReply(b); },
     {0x00, 0x1A, 0x02, 0x01, kFill, 0x01, 0x00, 0x01, 0x80, 0x00, 0x80, 0x00, 0x80,
      0x00, 0x00, 0x2B, 0x2E, 0xF4,  0x06, 0x08, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01}},
    {"TerminationRequest",
     [](nsvt::Bytes b) { return nsvt::BuildTerminationRequest(b, kHostEcho); },
     {0x00, 0x0A, 0x02, 0x00, kFill, 0x02, 0xAB, 0xCD, 0x00, 0x00}},
    {"TerminationReply",
     [](nsvt::Bytes b) { return nsvt::BuildTerminationReply(b, kHostEcho); },
     {0x00, 0x0A, 0x02, 0x01, kFill, 0x02, 0xAB, 0xCD, 0x80, 0x00}},
    {"LogonNoticeReply",
     [](nsvt::Bytes b) { return nsvt::BuildLogonNoticeReply(b, kHostEcho); },
     {0x00, 0x0A, 0x02, 0x01, kFill, 0x03, 0xAB, 0xCD, 0x80, 0x00}},
    {"Class4Type0Reply",
     [](nsvt::Bytes b) { return nsvt::BuildClass4Type0Reply(b, kHostEcho); },
     {0x00, 0x0A, 0x02, 0x05, kFill, 0x00, 0xAB, 0xCD, 0x80, 0x00}},
    {"Class8Type0Reply",
     [](nsvt::Bytes b) { return nsvt::BuildClass8Type0Reply(b, kHostEcho); },
     {0x00, 0x0A, 0x02, 0x09, kFill, 0x00, 0xAB, 0xCD, 0x08, 0x00}},
    {"SettingsReply",
     [](nsvt::Bytes b) { return nsvt::BuildSettingsReply(b, kHostEcho); },
     {0x00, 0x0C, 0x02, 0x05, kFill, 0x01, 0xAB, 0xCD, 0x80, 0x00, 0x80, 0x00}},
    {"TerminalInputBye",
     [](nsvt::Bytes b) {
       const std::uint8_t bye[] = {'B', 'Y', 'E'};
       return nsvt::BuildTerminalInput(b, kHostEcho, bye);
     },
     {0x00, 0x11, 0x02, 0x03, kFill, 0x00, 0xAB, 0xCD, 0x80, 0x00, 0x80, 0x00, 0x00, 0x03, 'B', 'Y',
      'E'}},
    {"TerminalInputEmpty",
     [](nsvt::Bytes b) { return nsvt::BuildTerminalInput(b, kHostEcho, {}); },
     {0x00, 0x0E, 0x02, 0x03, kFill, 0x00, 0xAB, 0xCD, 0x80, 0x00, 0x80, 0x00, 0x00, 0x00}},
};

INSTANTIATE_TEST_SUITE_P(Builders, BuilderTest, testing::ValuesIn(kBuilderCases),
                         [](const auto& info) { return info.param.name; });

Buffer OpenRequestHeader(std::uint8_t addressLength) {
  Buffer header = {0x00, 0x47, 0x02, 0x00, kFill, 0x00, 0x00, 0x01, 0x01, 0x00,
                   0x00, 0x04, ' ',  ' ',  ' ',   ' ',  ' ',  ' ',  0x00, addressLength};
  return header;
}

TEST(OpenRequest, AddressPaddedWithZerosOverAnEarlierMessage) {
  // Built over the negotiation reply's buffer, which held other bytes.
  Buffer buffer(80, kFill);
  const std::string address = "192.168.10.1";  // 12 characters
  ASSERT_EQ(nsvt::BuildOpenRequest(buffer, address), nsvt::kOpenRequestSize);

  Buffer expected = OpenRequestHeader(12);
  expected.insert(expected.end(), address.begin(), address.end());
  expected.insert(expected.end(), 39, 0x00);
  EXPECT_EQ(Buffer(buffer.begin(), buffer.begin() + 71), expected);
  EXPECT_EQ(buffer[71], kFill);
}

TEST(OpenRequest, AddressCutTo51) {
  Buffer buffer(71, 0);
  const std::string address(60, '7');
  nsvt::BuildOpenRequest(buffer, address);
  Buffer expected = OpenRequestHeader(51);
  expected[4] = 0;
  expected.insert(expected.end(), 51, '7');
  EXPECT_EQ(buffer, expected);
}

Buffer Message(std::size_t size, std::initializer_list<std::pair<std::size_t, std::uint8_t>> set) {
  Buffer m(size, 0);
  for (auto [at, value] : set) {
    m[at] = value;
  }
  return m;
}

TEST(TerminationReason, ByteTenIsTheLowOrderByte) {
  const Buffer low = Message(12, {{10, 0x01}, {11, 0x00}});
  EXPECT_EQ(nsvt::TerminationReason(low), 1);
  EXPECT_EQ(nsvt::TerminationReasonText(1), "USER ABORT REQUEST");

  const Buffer high = Message(12, {{10, 0x00}, {11, 0x01}});
  EXPECT_EQ(nsvt::TerminationReason(high), 256);
  EXPECT_EQ(nsvt::TerminationReasonText(256), "");

  EXPECT_EQ(nsvt::TerminationReason(Message(10, {})), 0);  // header only
  EXPECT_EQ(nsvt::TerminationReasonText(0), "NORMAL TERMINATION");
  EXPECT_EQ(nsvt::TerminationReasonText(8), "NO DEVICE SUPPORT");
  EXPECT_EQ(nsvt::TerminationReasonText(9), "");
  EXPECT_EQ(nsvt::TerminationReasonText(-1), "");
}

TEST(LogonNoticeText, LengthBeyond80GivesAll80BytesZerosIncluded) {
  Buffer m = Message(96, {{14, 0x00}, {15, 100}});
  for (std::size_t i = 16; i < 96; ++i) {
    m[i] = static_cast<std::uint8_t>('A' + i % 26);
  }
  m[20] = 0;
  const std::string_view text = nsvt::LogonNoticeText(m);
  ASSERT_EQ(text.size(), 80u);
  EXPECT_EQ(text, std::string_view(reinterpret_cast<const char*>(m.data() + 16), 80));

  m[15] = 5;
  EXPECT_EQ(nsvt::LogonNoticeText(m).size(), 5u);
  // A short span is never read past.
  EXPECT_EQ(nsvt::LogonNoticeText(nsvt::ConstBytes(m).first(30)).size(), 5u);
  m[15] = 100;
  EXPECT_EQ(nsvt::LogonNoticeText(nsvt::ConstBytes(m).first(30)).size(), 14u);
  EXPECT_TRUE(nsvt::LogonNoticeText(nsvt::ConstBytes(m).first(10)).empty());
}

TEST(TermIoData, CountIsOneMoreThanTheDataAndIsClamped) {
  Buffer m = Message(24, {{16, 0x00}, {17, 4}, {19, 'a'}, {20, 'b'}, {21, 'c'}});
  const nsvt::ConstBytes data = nsvt::TermIoData(m);
  ASSERT_EQ(data.size(), 3u);
  EXPECT_EQ(data.data(), m.data() + 19);

  m[17] = 0;
  EXPECT_TRUE(nsvt::TermIoData(m).empty());
  m[17] = 1;
  EXPECT_TRUE(nsvt::TermIoData(m).empty());
  m[16] = 0xFF;  // claims far more than the span holds
  EXPECT_EQ(nsvt::TermIoData(m).size(), 5u);
  EXPECT_TRUE(nsvt::TermIoData(nsvt::ConstBytes(m).first(18)).empty());
}

TEST(ByteOrder, HelpersAreBigEndian) {
  Buffer b(8, 0);
  nsvt::PutBE32(b, 0, 0x01020304);
  nsvt::PutBE16EndingAt(b, 5, 0xA1B2);  // low-order byte at 5
  EXPECT_EQ(b, (Buffer{1, 2, 3, 4, 0xA1, 0xB2, 0, 0}));
  EXPECT_EQ(nsvt::GetBE32(b, 0), 0x01020304u);
  EXPECT_EQ(nsvt::GetBE16(b, 4), 0xA1B2);
  EXPECT_EQ(nsvt::Swap16(0x1234), 0x3412);
  EXPECT_TRUE(nsvt::AllBitsSet(b, 4, 0xA100));
  EXPECT_FALSE(nsvt::AllBitsSet(b, 4, 0xA1B3));
}

}  // namespace
