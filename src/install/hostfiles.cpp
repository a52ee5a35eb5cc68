#include "install/hostfiles.h"

#include "install/asciitext.h"

#include <algorithm>

namespace install {

namespace {

constexpr std::string_view kPurge = "PURGE ";
constexpr std::string_view kSave = "SAVE ";

// The first word after the command's name, up to a blank or ';'.
std::optional<std::string> Operand(std::string_view command, std::string_view verb) {
  if (UpperAscii(std::string(command.substr(0, verb.size()))) != verb) {
    return std::nullopt;
  }
  std::string_view rest = command.substr(verb.size());
  rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
  rest = rest.substr(0, rest.find_first_of(" ;"));
  if (rest.empty()) {
    return std::nullopt;
  }
  return UpperAscii(std::string(rest));
}

}  // namespace

std::optional<std::string> PurgedFileName(std::string_view command) {
  return Operand(command, kPurge);
}

std::optional<std::string> SavedFileName(std::string_view command) {
  const std::optional<std::string> operands = Operand(command, kSave);
  if (!operands) {
    return std::nullopt;
  }
  const std::size_t comma = operands->find(',');
  if (comma == std::string::npos || comma + 1 == operands->size()) {
    return std::nullopt;
  }
  return operands->substr(comma + 1);
}

std::string QualifiedFileName(const std::string& name, const std::string& requiredLogon) {
  // The logon is USER.ACCOUNT,GROUP.
  const std::size_t dot = requiredLogon.find('.');
  const std::size_t comma = requiredLogon.find(',');
  if (name.find('.') != std::string::npos || dot == std::string::npos ||
      comma == std::string::npos || comma < dot) {
    return name;
  }
  const std::string account = requiredLogon.substr(dot + 1, comma - dot - 1);
  const std::string group = requiredLogon.substr(comma + 1);
  if (account.empty() || group.empty()) {
    return name;
  }
  return name + "." + group + "." + account;
}

std::string SentenceStart(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') {
    text[0] = static_cast<char>(text[0] - 'a' + 'A');
  }
  return text;
}

}  // namespace install
