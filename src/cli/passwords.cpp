#include "cli/passwords.h"
#include "cli/passwords_platform.h"
#include "install/asciitext.h"

#include <QtGlobal>

#include <cstdlib>

namespace cli {

namespace {

const char kCommentMark = '#';

struct KindNames {
  PasswordKind kind;
  const char* variable;
  const char* key;
};
constexpr std::array<KindNames, kPasswordKinds> kNames = {{
    {PasswordKind::User, "ZORBELIX_USER_PASSWORD", "user"},
    {PasswordKind::Account, "ZORBELIX_ACCOUNT_PASSWORD", "account"},
    {PasswordKind::Group, "ZORBELIX_GROUP_PASSWORD", "group"},
}};

const KindNames& NamesOf(PasswordKind kind) {
  return kNames[static_cast<std::size_t>(kind)];
}

using install::Trimmed;

// Only spaces and tabs are the file's layout, around a line and its '=', and
// only they are trimmed: any other byte, a control character too, is taken
// as part of the value as it was written, rather than guessed stray and
// dropped, which would change a password unseen.
constexpr auto kLayoutBlank = install::IsBlank;

}  // namespace

const char* PasswordVariable(PasswordKind kind) {
  return NamesOf(kind).variable;
}

const char* PasswordKey(PasswordKind kind) {
  return NamesOf(kind).key;
}

Passwords PasswordsFromEnvironment() {
  Passwords passwords;
  for (const KindNames& names : kNames) {
    char* value = std::getenv(names.variable);
    if (value == nullptr) {
      continue;
    }
    passwords.Set(names.kind, value);
    BlankEnvironmentValue(value);
    qunsetenv(names.variable);
  }
  return passwords;
}

std::string ParsePasswordFile(std::string_view text, Passwords& passwords) {
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (const std::string_view content = Trimmed(line, kLayoutBlank);
        content.empty() || content.front() == kCommentMark) {
      continue;
    }
    const std::size_t equals = line.find('=');
    const std::string_view key =
        Trimmed(line.substr(0, equals == std::string_view::npos ? 0 : equals), kLayoutBlank);
    const KindNames* named = nullptr;
    for (const KindNames& names : kNames) {
      if (key == names.key) {
        named = &names;
      }
    }
    if (named == nullptr) {
      return "line " + std::to_string(lineNumber) +
             ": expected user=..., account=... or group=... (a comment starts with #)";
    }
    passwords.Set(named->kind, std::string(Trimmed(line.substr(equals + 1), kLayoutBlank)));
  }
  return {};
}

std::string LoadPasswordFile(const std::string& path, Passwords& passwords) {
  std::string text;
  if (std::string problem = ReadPasswordFile(path, text); !problem.empty()) {
    return problem;
  }
  if (std::string problem = ParsePasswordFile(text, passwords); !problem.empty()) {
    return "the password file " + path + ", " + problem;
  }
  return {};
}

}  // namespace cli
