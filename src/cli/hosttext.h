// What the unattended installer reads in the host's output: which password
// a prompt asks for, and the line that says why the host refused something.
// Host text is the host's lines since the installer last sent one. And how
// any text from a host or a file is made safe to print.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cli {

enum class PasswordKind { User, Account, Group };
inline constexpr int kPasswordKinds = 3;

// "user", "account", "group".
const char* PasswordKindName(PasswordKind kind);

// The password a prompt asks for, from its last line that names a
// PASSWORD: "ENTER ACCOUNT (SYS) PASSWORD:" asks for the account's. The
// name in parentheses is skipped, so an account called USER cannot pass for
// the user's prompt. Nothing when the prompt names none of the three.
std::optional<PasswordKind> PasswordKindIn(std::string_view hostText);

// The last line of the host text that reports an error (it holds "ERR", as
// in "(CIERR 1441)" or "(FCOPY ERROR 3)"), trimmed; empty when none does.
std::string ErrorLineIn(std::string_view hostText);

// The first non-blank line of the host text, trimmed; empty when none.
std::string FirstLineIn(std::string_view hostText);

// Text made fit for one line of a report: CR, LF and tabs become spaces,
// runs of spaces one, and the ends are trimmed.
std::string OneLine(std::string_view text);

// Text from a host or a file as it may reach a terminal: every control
// character but TAB is made visible in caret notation, C0 as "^@" to "^_",
// DEL as "^?" and C1 as "M-^@" to "M-^_" (as cat -v shows them), so that no
// host can move the cursor, clear the screen or retitle the window. All
// else, Latin-1 letters too, stays as it is. The live, plain and standard
// error output pass their texts through it; JSON escapes them itself.
std::string VisibleText(std::string_view text);

}  // namespace cli
