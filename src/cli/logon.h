// The logon an unattended installation uses: USER.ACCOUNT[,GROUP] as given
// on the command line or in a hosts file, and the HELLO line it becomes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cli {

struct Logon {
  std::string user;
  std::string account;
  std::string group;  // empty: the user's home group

  // "MANAGER.SYS" or "MANAGER.SYS,PUB".
  std::string Text() const;
  // "HELLO MANAGER.SYS[,PUB]".
  std::string HelloLine() const;
};

// USER.ACCOUNT[,GROUP], each part an MPE name (a letter, then letters and
// digits, at most 8), in either case; the result is upper case. Nothing when
// the text is not of that form (a password in it, "USER/PW.ACCOUNT", is
// refused too: passwords never come from the command line).
std::optional<Logon> ParseLogon(std::string_view text);

// An MPE name as the group and account fields take it: upper case, a
// letter first, letters and digits, 1 to 8 characters. Nothing otherwise.
std::optional<std::string> ParseMpeName(std::string_view text);

}  // namespace cli
