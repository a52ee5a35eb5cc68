#include "install/scriptline.h"

#include <gtest/gtest.h>

namespace install {
namespace {

TEST(ScriptNumber, DigitsOnlyWithinSigned64Bit) {
  const struct {
    const char* text;
    std::int64_t number;
  } cases[] = {
      {"910", 910},
      {"0012", 12},
      {"9223372036854775807", INT64_MAX},
      {"9223372036854775808", 0},
      {"1234567890123456789012345", 0},
      {"12a", 0},
      {"-5", 0},
      {"+5", 0},
      {" 12", 0},
      {"", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Number(c.text), c.number) << '"' << c.text << '"';
  }
}

TEST(ParseScriptLine, SplitsCommandAndArguments) {
  LineFields fields;
  ParseScriptLine("SEND1~ECHO !HPUSER.!HPACCOUNT~MANAGER.SYS~910", fields);
  EXPECT_EQ(fields[0].Text, "SEND1");
  EXPECT_EQ(fields[1].Text, "ECHO !HPUSER.!HPACCOUNT");
  EXPECT_EQ(fields[2].Text, "MANAGER.SYS");
  EXPECT_EQ(fields[3].Text, "910");
  EXPECT_EQ(fields[3].Number, 910);
  EXPECT_EQ(LineNumber(fields[3]), 910);
}

TEST(ParseScriptLine, EmptyFieldsAndTheSixFieldLimit) {
  LineFields fields;
  ParseScriptLine("SEND1~X~~910", fields);
  EXPECT_EQ(fields[2].Text, "");
  EXPECT_EQ(fields[3].Number, 910);

  ParseScriptLine("C~1~2~3~4~5~6~7", fields);
  EXPECT_EQ(fields[5].Text, "5");  // everything after the sixth field is ignored
  EXPECT_EQ(fields[5].Number, 5);

  ParseScriptLine("STOP~", fields);  // a trailing separator opens no field
  EXPECT_EQ(fields[0].Text, "STOP");
  EXPECT_EQ(fields[1].Text, "");
}

TEST(ParseScriptLine, FieldsNotReachedLoseNumbersAndOptionallyTexts) {
  LineFields fields;
  ParseScriptLine("VERSO~A~B~1~2~3", fields);
  ParseScriptLine("GOTO~7", fields);
  EXPECT_EQ(fields[1].Number, 7);
  for (std::size_t i = 2; i < kFieldCount; ++i) {
    EXPECT_EQ(fields[i].Text, "") << i;
    EXPECT_EQ(fields[i].Number, 0) << i;
  }

  ParseScriptLine("VERSO~A~B~1~2~3", fields);
  ParseScriptLine("GOTO~7", fields, /*keepStale=*/true);
  EXPECT_EQ(fields[5].Text, "3");
  EXPECT_EQ(fields[5].Number, 0);
}

TEST(ScriptLineNumber, TakesTheLow32Bits) {
  ScriptField field;
  field.Number = (std::int64_t{1} << 32) + 910;
  EXPECT_EQ(LineNumber(field), 910);
  field.Number = 0xFFFFFFFF;
  EXPECT_EQ(LineNumber(field), -1);
}

class ExpandVariablesTest : public ::testing::Test {
protected:
  ScriptVars vars{};
  void SetUp() override {
    vars[0] = "PUB";
    vars[1] = "VORDANEX";
  }
};

TEST_F(ExpandVariablesTest, ReplacesReferencesIncludingNestedOnes) {
  std::string text = "%0 account %1";
  EXPECT_EQ(ExpandVariables(text, vars), ExpandResult::Ok);
  EXPECT_EQ(text, "PUB account VORDANEX");

  vars[2] = "%0.%1";  // LET2~%0.%1, then SEND1~ECHO %2
  text = "ECHO %2";
  EXPECT_EQ(ExpandVariables(text, vars), ExpandResult::Ok);
  EXPECT_EQ(text, "ECHO PUB.VORDANEX");

  text = "[%7]";
  EXPECT_EQ(ExpandVariables(text, vars), ExpandResult::Ok);
  EXPECT_EQ(text, "[]");

  text = "%0%0%0";
  EXPECT_EQ(ExpandVariables(text, vars), ExpandResult::Ok);
  EXPECT_EQ(text, "PUBPUBPUB");
}

TEST_F(ExpandVariablesTest, BadReferencesLeaveTheTextAsItWas) {
  for (const char* bad : {"50%", "%x", "ECHO %%1", "100% sure", "%"}) {
    std::string text = bad;
    EXPECT_EQ(ExpandVariables(text, vars), ExpandResult::BadReference) << bad;
    EXPECT_EQ(text, bad);
  }
  vars[3] = "5%";  // the fault can sit inside a value
  std::string text = "%0 %3";
  EXPECT_EQ(ExpandVariables(text, vars), ExpandResult::BadReference);
  EXPECT_EQ(text, "%0 %3");
}

TEST_F(ExpandVariablesTest, SelfReferenceIsBounded) {
  vars[2] = "%2";  // directly, without growth: bounded by steps
  std::string text = "ECHO %2";
  EXPECT_EQ(ExpandVariables(text, vars), ExpandResult::TooLong);
  EXPECT_EQ(text, "ECHO %2");

  vars[0] = "%1";  // through another variable
  vars[1] = "%0";
  text = "%0";
  EXPECT_EQ(ExpandVariables(text, vars), ExpandResult::TooLong);

  vars[2] = "x%2x";  // with growth: bounded by length
  text = "%2";
  EXPECT_EQ(ExpandVariables(text, vars), ExpandResult::TooLong);
}

}  // namespace
}  // namespace install
