// Install-script lines: splitting a line into its command and arguments,
// the digits-only numbers of the fields, and the expansion of %0 to %9.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace install {

inline constexpr char kFieldSeparator = '~';
inline constexpr std::size_t kFieldCount = 6;  // command and five arguments
inline constexpr std::size_t kScriptVarCount = 13;
inline constexpr std::size_t kPayloadNameVar = 10;
inline constexpr std::size_t kDefaultAccountVar = 12;

struct ScriptField {
  std::string Text;
  std::int64_t Number = 0;
};
using LineFields = std::array<ScriptField, kFieldCount>;
using ScriptVars = std::array<std::string, kScriptVarCount>;

// The decimal value of text when it is non-empty, digits 0-9 only and within
// the signed 64-bit range; 0 otherwise.
std::int64_t Number(std::string_view text);

// Splits line into fields. Every Number is reset; a field the line does not
// reach keeps its Text from the previous line only when keepStale is true
// (the installer clears them).
void ParseScriptLine(std::string_view line, LineFields& fields, bool keepStale = false);

// The low 32 bits of a field's Number, as used for script line numbers.
std::int32_t LineNumber(const ScriptField& field);
// The field is a number of 2^31 or more (also beyond the 64-bit range): no
// script line has it, and its low 32 bits would name another one.
bool BeyondLineRange(const ScriptField& field);

enum class ExpandResult {
  Ok,
  BadReference,  // "%" not followed by a digit, or at the end
  TooLong,       // expansion exceeded kMaxExpansionSteps steps or kMaxExpandedLength
};
inline constexpr int kMaxExpansionSteps = 1000;
inline constexpr std::size_t kMaxExpandedLength = 36288;

// Replaces the first "%d" by vars[d] (d a digit 0-9) again and again until no
// "%" is left, so references inside a value expand too. On any result other
// than Ok, text is left exactly as it was passed in.
ExpandResult ExpandVariables(std::string& text, const ScriptVars& vars);

}  // namespace install
