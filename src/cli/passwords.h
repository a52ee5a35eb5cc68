// The passwords an unattended logon may need: from the environment
// (ZORBELIX_USER_PASSWORD, ZORBELIX_ACCOUNT_PASSWORD, ZORBELIX_GROUP_PASSWORD)
// or from a password file, never from the command line. They go to the
// host only as answers to its password prompts, masked in the trace, and
// are never printed.
//
// The password file: one KEY=VALUE a line, KEY being user, account or
// group; blank lines and lines starting with # are skipped; the value is
// what follows the first '=' on the line, without the blanks around it
// (MPE passwords hold none, and "user = x" means x). The file must be a
// plain file of the running user's, not readable or writable by the group
// or others.
#pragma once

#include "cli/hosttext.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace cli {

class Passwords {
public:
  const std::optional<std::string>& For(PasswordKind kind) const {
    return values_[static_cast<std::size_t>(kind)];
  }
  void Set(PasswordKind kind, std::string value) {
    values_[static_cast<std::size_t>(kind)] = std::move(value);
  }

private:
  std::array<std::optional<std::string>, kPasswordKinds> values_;
};

// The environment variable and the password file's key of each kind.
const char* PasswordVariable(PasswordKind kind);
const char* PasswordKey(PasswordKind kind);

// The passwords set (even to an empty text) in the environment. Each
// variable read is blanked and removed from the environment: from then on
// the passwords live in the returned object only, and no child process or
// reader of the process's environment sees them.
Passwords PasswordsFromEnvironment();

// Parses a password file's text into passwords (what it names replaces
// what passwords held). The error names the line, never its value; empty
// when the text is well formed.
std::string ParsePasswordFile(std::string_view text, Passwords& passwords);

// Reads the password file at path into passwords, after checking on the
// opened file that it is a plain file of the running user's that only its
// owner may read or write. The error says what is wrong and
// how to fix it; empty on success.
std::string LoadPasswordFile(const std::string& path, Passwords& passwords);

}  // namespace cli
