// Whether the host's logon notice shows the logon the installation needs.
// Shared by every front end: the window enables Begin on it, the
// command-line installer starts the run on it.
#pragma once

#include <string>
#include <string_view>

namespace install {

// The notice as a label shows it: up to its first zero byte.
std::string_view ShownLogonNotice(std::string_view notice);

// The shown notice holds the required logon (e.g. "MANAGER.SYS,PUB"); an
// empty requirement is never met, so a script that clears it stops every
// run at the logon.
bool LogonAccepted(std::string_view notice, const std::string& requiredLogon);

}  // namespace install
