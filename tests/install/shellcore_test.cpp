#include "install/namefilter.h"
#include "install/stringtable.h"
#include "install/versioninfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace install {
namespace {

TEST(LoadTableString, ShippedEntries) {
  EXPECT_EQ(LoadTableString(10), "SEND1~ECHO !HPUSER.!HPACCOUNT~MANAGER.SYS~910");
  // The upload first; the previous program is purged only before SAVE.
  EXPECT_EQ(LoadTableString(22), "XFERU~ZORBELIX~NMPRG");
  EXPECT_EQ(LoadTableString(24), "SEND2~PURGE ZORBELIX~CIERR~900");
  EXPECT_EQ(LoadTableString(26), "SEND2~SAVE $OLDPASS,ZORBELIX~CIERR~900");
  EXPECT_EQ(LoadTableString(941), "EXIT");
  EXPECT_EQ(LoadTableString(1051), "Error processing command\r\nCannot continue.");
  EXPECT_EQ(LoadTableString(1070), "112128");
  EXPECT_EQ(LoadTableString(1071), " ");
}

TEST(LoadTableString, ScriptHasNoOtherLines) {
  const std::set<int> script = {10,  22,  24,  26,  806, 808, 810, 900,
                                905, 910, 915, 920, 921, 940, 941};
  for (int id = 0; id <= 1000; ++id) {
    EXPECT_EQ(LoadTableString(id).empty(), !script.contains(id)) << id;
  }
  EXPECT_EQ(LoadTableString(1050), "");
  EXPECT_EQ(LoadTableString(-1), "");
}

TEST(ParseStringTable, EscapesCommentsAndMalformedLines) {
  std::string errors;
  const auto table = ParseStringTable(
      "# comment\n"
      "\n"
      "1 \"a\\\\b\\\"c\\r\\n\\td\"\r\n"
      "  2   \"~%0 \"  \n"
      "3 unquoted\n"
      "4 \"open\n"
      "5 \"bad \\q escape\"\n"
      "x \"no id\"\n"
      "6 \"tail\" junk\n"
      "1 \"again\"\n"
      "7 \"\"",
      &errors);
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table.at(1), "a\\b\"c\r\n\td");
  EXPECT_EQ(table.at(2), "~%0 ");
  EXPECT_EQ(table.at(7), "");
  // One report per malformed line, naming it.
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 6) << errors;
  EXPECT_NE(errors.find("line 5:"), std::string::npos) << errors;
  EXPECT_NE(errors.find("line 10:"), std::string::npos) << errors;
}

TEST(VersionText, ComesFromTheBuildVersion) {
  EXPECT_EQ(VersionText(), "Version(32): 2.5.0.6");
}

TEST(FilterInstallName, UpperCaseEightCharactersLetterFirst) {
  const struct {
    const char* typed;
    const char* shown;
  } cases[] = {
      {"", ""},
      {"sys", "SYS"},
      {"Pub1", "PUB1"},
      {"1abc", "AABC"},
      {"-x", "AX"},
      {"ab-c.d", "ABCD"},
      {"abcdefghi", "ABCDEFGH"},
      {"ab-cdefghij", "ABCDEFG"},  // cut to 8 before the sign is removed
      {"\xE4sys", "ASYS"},         // only a-z are letters
      {"s\xE4s", "SS"},
  };
  for (const auto& c : cases) {
    const std::string shown = FilterInstallName(c.typed);
    EXPECT_EQ(shown, c.shown) << c.typed;
    EXPECT_EQ(FilterInstallName(shown), shown) << c.typed;
  }
}

}  // namespace
}  // namespace install
