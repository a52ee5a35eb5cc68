// Trace layouts (hex dump, lines, message marks) and the trace file's
// creation: private mode, no following of a planted link, binary writes.
#include "nsvt/trace.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Buffer = std::vector<std::uint8_t>;

std::string Spaces(std::size_t n) {
  return std::string(n, ' ');
}

TEST(HexDump, PartialAndFullLines) {
  EXPECT_EQ(nsvt::FormatHexDump(Buffer{'a', 'b', 'c'}),
            " 61 62 63" + Spaces(15) + "|" + Spaces(24) + "|abc\r\n");

  Buffer sixteen(16);
  for (int i = 0; i < 16; ++i) {
    sixteen[i] = static_cast<std::uint8_t>(i);
  }
  EXPECT_EQ(nsvt::FormatHexDump(sixteen),
            " 00 01 02 03 04 05 06 07| 08 09 0A 0B 0C 0D 0E 0F|" + std::string(16, '.') + "\r\n");

  Buffer seventeen = sixteen;
  seventeen.push_back(0xFF);
  EXPECT_EQ(nsvt::FormatHexDump(seventeen),
            nsvt::FormatHexDump(sixteen) + " FF" + Spaces(21) + "|" + Spaces(24) + "|\xFF\r\n");

  // Exactly eight bytes: the bar comes from the eighth cell, not the padding.
  EXPECT_EQ(nsvt::FormatHexDump(Buffer(8, ' ')),
            " 20 20 20 20 20 20 20 20|" + Spaces(24) + "|" + Spaces(8) + "\r\n");
  EXPECT_EQ(nsvt::FormatHexDump({}), "");
}

TEST(HexDump, StopsAt4096Bytes) {
  const Buffer big(5000, 'x');
  const std::string dump = nsvt::FormatHexDump(big);
  EXPECT_EQ(dump, nsvt::FormatHexDump(nsvt::ConstBytes(big).first(4096)));
  EXPECT_EQ(dump.size(), 256u * (49 + 1 + 16 + 2));
}

TEST(TraceLine, ControlCharactersShownAsDots) {
  EXPECT_EQ(nsvt::FormatTraceLine("a\tb\rc\x1F \x7F\xE9"), "a.b.c. \x7F\xE9\r\n");
}

Buffer Header(std::uint8_t messageClass, std::uint8_t type, std::size_t size = 20) {
  Buffer m(size, 0);
  m[1] = static_cast<std::uint8_t>(size);
  m[2] = 2;
  m[3] = messageClass;
  m[5] = type;
  return m;
}

struct MarkCase {
  const char* name;
  Buffer message;
  const char* mark;
};

Buffer ClassTwo(std::uint8_t type, std::uint16_t readLength, std::uint16_t second) {
  Buffer m = Header(2, type);
  m[10] = static_cast<std::uint8_t>(readLength >> 8);
  m[11] = static_cast<std::uint8_t>(readLength);
  m[12] = static_cast<std::uint8_t>(second >> 8);
  m[13] = static_cast<std::uint8_t>(second);
  return m;
}

Buffer Settings(std::uint16_t flags, std::uint8_t echo, std::uint8_t number) {
  Buffer m = Header(4, 1, 12);
  m[8] = static_cast<std::uint8_t>(flags >> 8);
  m[9] = static_cast<std::uint8_t>(flags);
  m[10] = echo;
  m[11] = number;
  return m;
}

class MarkTest : public testing::TestWithParam<MarkCase> {};

TEST_P(MarkTest, ClassAndTypeMarks) {
  EXPECT_EQ(nsvt::FormatMessageMark(GetParam().message), GetParam().mark);
}

INSTANTIATE_TEST_SUITE_P(
    Marks, MarkTest,
    testing::Values(MarkCase{"ReadRequest", ClassTwo(0, 80, 0), "~C(0000-0080)1"},
                    MarkCase{"TermIo", ClassTwo(1, 80, 0), "~C(0000-0080)2"},
                    MarkCase{"ClassTwoFieldOrder", ClassTwo(4, 12345, 7), "~C(0007-12345)4"},
                    MarkCase{"ClassTwoType3HasNoTypeMark", ClassTwo(3, 1, 0), "~C(0000-0001)"},
                    MarkCase{"NegotiationRequest", Header(0, 1), "~A2"},
                    MarkCase{"LogonNotice", Header(0, 3), "~A4"},
                    MarkCase{"InputStop", Header(3, 0), "~D1"},
                    MarkCase{"ClassFourType0IsTwo", Header(4, 0), "~E2"},
                    MarkCase{"SettingsEchoOffAndNumber", Settings(0xC000, 1, 5), "~E1acd5"},
                    MarkCase{"SettingsEchoOn", Settings(0x8000, 0, 0), "~E1bc"},
                    MarkCase{"SettingsNumberWithoutEchoBit", Settings(0x4000, 1, 200), "~E1d200"},
                    MarkCase{"SettingsLaterFlagsInOrder", Settings(0x7FFF, 0, 0), "~E1d0efghijk"},
                    MarkCase{"ClassEightOtherType", Header(8, 9), "~I2"},
                    MarkCase{"ClassAboveNine", Header(12, 0), "~K"},
                    MarkCase{"BadVersionUnmarked", Buffer(20, 0), ""}),
    [](const auto& info) { return std::string(info.param.name); });

class TraceFileTest : public testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/nsvt-trace-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static std::string Contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  static mode_t Mode(const std::filesystem::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
  }

  std::filesystem::path dir_;
};

TEST_F(TraceFileTest, ReplacesAnOldFileWithAPrivateOne) {
  const auto path = dir_ / "TRACEFIL";
  std::ofstream(path) << "old contents that must go";
  ::chmod(path.c_str(), 0644);

  // The check leaves the file as it is; the writer empties it.
  EXPECT_EQ(nsvt::CheckTraceFile(path.string()), "");
  EXPECT_EQ(Contents(path), "old contents that must go");
  nsvt::TraceWriter trace;
  ASSERT_EQ(trace.Open(path.string()), "");
  EXPECT_EQ(Mode(path), 0600u);
  trace.TraceMark("~C(0000-0080)1");
  trace.TraceLine(" TERM_IO from host\n");
  trace.TraceHexDump(Buffer{'a', 'b', 'c'});
  // Flushed at once: readable before the writer closes.
  EXPECT_EQ(Contents(path),
            "~C(0000-0080)1 TERM_IO from host.\r\n" + nsvt::FormatHexDump(Buffer{'a', 'b', 'c'}));
}

// Whatever is planted at the path is refused with its reason, by the check
// and the writer alike, before anything is emptied; a FIFO never blocks.
TEST_F(TraceFileTest, RefusesWhatIsNotAPlainFileOfItsOwn) {
  const auto victim = dir_ / "victim";
  const struct {
    const char* name;
    void (*plant)(const std::filesystem::path& path, const std::filesystem::path& victim);
    const char* reason;
  } cases[] = {
      {"symbolic link",
       [](const auto& path, const auto& target) { std::filesystem::create_symlink(target, path); },
       "it is a symbolic link"},
      {"hard link",
       [](const auto& path, const auto& target) {
         std::filesystem::create_hard_link(target, path);
       },
       "it has another name (a hard link)"},
      {"FIFO", [](const auto& path, const auto&) { ::mkfifo(path.c_str(), 0600); },
       "it is not a plain file"},
      {"folder", [](const auto& path, const auto&) { std::filesystem::create_directory(path); },
       "Is a directory"},
  };
  for (const auto& c : cases) {
    const auto path = dir_ / c.name;
    std::ofstream(victim) << "keep";
    c.plant(path, victim);
    EXPECT_EQ(nsvt::CheckTraceFile(path.string()), c.reason) << c.name;
    nsvt::TraceWriter trace;
    EXPECT_EQ(trace.Open(path.string()), c.reason) << c.name;
    EXPECT_FALSE(trace.IsOpen());
    trace.TraceLine("nothing happens");
    EXPECT_EQ(Contents(victim), "keep") << c.name;
  }
}

}  // namespace
