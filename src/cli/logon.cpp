#include "cli/logon.h"

#include "install/asciitext.h"
#include "install/namefilter.h"

namespace cli {

namespace {

const char kHello[] = "HELLO ";

}  // namespace

std::string Logon::Text() const {
  std::string text = user + "." + account;
  if (!group.empty()) {
    text += "," + group;
  }
  return text;
}

std::string Logon::HelloLine() const {
  return kHello + Text();
}

// The name filter of the group and account fields is the one rule for MPE
// names: a name is valid when filtering it changes nothing but its case.
std::optional<std::string> ParseMpeName(std::string_view text) {
  const std::string upper = install::UpperAscii(std::string(text));
  if (upper.empty() || install::FilterInstallName(upper) != upper) {
    return std::nullopt;
  }
  return upper;
}

std::optional<Logon> ParseLogon(std::string_view text) {
  const std::size_t dot = text.find('.');
  if (dot == std::string_view::npos) {
    return std::nullopt;
  }
  const std::size_t comma = text.find(',', dot);
  const std::string_view rest = text.substr(dot + 1);
  const std::string_view accountText =
      comma == std::string_view::npos ? rest : text.substr(dot + 1, comma - dot - 1);
  const auto user = ParseMpeName(text.substr(0, dot));
  const auto account = ParseMpeName(accountText);
  if (!user || !account) {
    return std::nullopt;
  }
  Logon logon{*user, *account, {}};
  if (comma != std::string_view::npos) {
    const auto group = ParseMpeName(text.substr(comma + 1));
    if (!group) {
      return std::nullopt;
    }
    logon.group = *group;
  }
  return logon;
}

}  // namespace cli
