#include "install/version.h"

#include <gtest/gtest.h>

namespace install {
namespace {

TEST(ParseVersion, WeighsFourGroups) {
  const struct {
    const char* text;
    std::int32_t value;
  } cases[] = {
      {"2.5.0.6", 2050006},
      {"2.5", 2050000},
      {"10.20", 10200000},
      {"1.2.3.4.5", 1020304},           // a fifth group is ignored
      {"2.5.0.6   (C) 1999", 2050006},  // the 20 characters after a version key
      {"2.5.0.10", 2050010},
      {"2.5.1.0", 2050100},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseVersion(c.text), c.value) << c.text;
  }
}

TEST(ParseVersion, FaultyTextHasDefinedResults) {
  const struct {
    const char* text;
    std::int32_t value;
  } cases[] = {
      {"", 0},
      {"...", 0},
      {"2..6", 2000600},  // an empty group counts as 0 but uses up its weight
      {".5", 50000},
      {"2147.483647", INT32_MAX},
      {"2148", INT32_MAX},                       // the result saturates
      {"99999999999999999999999.1", INT32_MAX},  // so does an overlong group
      {"1.99999999999999999999", INT32_MAX},
      {"0.0.0.99999999999999999999", INT32_MAX},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseVersion(c.text), c.value) << c.text;
  }
}

TEST(FindModuleVersion, ReadsTheVersionLineAsVersoDoes) {
  const struct {
    const char* text;
    const char* module;
    std::optional<std::string> version;
  } cases[] = {
      {":VERSION ZORBELIX\r\nZORBELIX - 2.5.0.6\r\n:", "ZORBELIX", "2.5.0.6"},
      {"AB       - 1.0.0.0", "AB", "1.0.0.0"},  // a short name blank-filled to 8
      {"AB - 1.0.0.0", "AB", std::nullopt},     // and not found unfilled
      {"ZORBELIX - ", "ZORBELIX", ""},          // a line without a version
      {"NO VERSION INFORMATION IN ZORBELIX.PUB.SYS", "ZORBELIX", std::nullopt},
      {"LONGNAMEX - 3.1", "LONGNAMEXYZ", std::nullopt},  // cut to 8: "LONGNAME - "
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindModuleVersion(c.text, c.module), c.version) << c.text;
  }
}

}  // namespace
}  // namespace install
