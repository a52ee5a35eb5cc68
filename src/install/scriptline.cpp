// Install-script lines: the split into command and arguments, the numbers of
// the fields and the expansion of the variable references %0 to %9.
#include "install/scriptline.h"

#include <limits>
#include <utility>

namespace install {

std::int64_t Number(std::string_view text) {
  if (text.empty()) {
    return 0;
  }
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') {
      return 0;
    }
    const int digit = c - '0';
    if (value > (kMax - digit) / 10) {
      return 0;  // beyond the signed 64-bit range
    }
    value = value * 10 + digit;
  }
  return value;
}

void ParseScriptLine(std::string_view line, LineFields& fields, bool keepStale) {
  for (ScriptField& field : fields) {
    field.Number = 0;
  }
  std::string_view rest = line;
  std::size_t taken = 0;
  // A field is taken only while text is left, so "A~" has one field and
  // "A~~B" has three, the middle one empty.
  while (taken < kFieldCount && !rest.empty()) {
    const std::size_t separator = rest.find(kFieldSeparator);
    const std::string_view text = rest.substr(0, separator);
    fields[taken].Text.assign(text);
    fields[taken].Number = Number(text);
    rest = separator == std::string_view::npos ? std::string_view{} : rest.substr(separator + 1);
    ++taken;
  }
  if (!keepStale) {
    for (std::size_t i = taken; i < kFieldCount; ++i) {
      fields[i].Text.clear();
    }
  }
}

std::int32_t LineNumber(const ScriptField& field) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(field.Number));
}

bool BeyondLineRange(const ScriptField& field) {
  if (field.Number > std::numeric_limits<std::int32_t>::max()) {
    return true;
  }
  // Number is 0 for digits beyond the 64-bit range, and for zeros.
  return field.Number == 0 && !field.Text.empty() &&
         field.Text.find_first_not_of("0123456789") == std::string::npos &&
         field.Text.find_first_not_of('0') != std::string::npos;
}

ExpandResult ExpandVariables(std::string& text, const ScriptVars& vars) {
  // Work on a copy so that a failed expansion leaves text as it came in,
  // which is what the error message should show.
  std::string work = text;
  int steps = 0;
  for (std::size_t percent = work.find('%'); percent != std::string::npos;
       percent = work.find('%')) {
    if (percent + 1 >= work.size() || work[percent + 1] < '0' || work[percent + 1] > '9') {
      return ExpandResult::BadReference;
    }
    if (++steps > kMaxExpansionSteps) {
      return ExpandResult::TooLong;
    }
    const std::string& value = vars[static_cast<std::size_t>(work[percent + 1] - '0')];
    if (work.size() - 2 + value.size() > kMaxExpandedLength) {
      return ExpandResult::TooLong;
    }
    // The search restarts at the beginning, so references inside a value are
    // expanded as well.
    work.replace(percent, 2, value);
  }
  text = std::move(work);
  return ExpandResult::Ok;
}

}  // namespace install
