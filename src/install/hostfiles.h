// What the install script's MPE commands do to the host's files, read from
// the commands themselves, so that a run cut short can tell the operator
// whether the previous program is still on the host or the new one may
// already be there.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace install {

// "PURGE NAME": NAME; nothing for any other command.
std::optional<std::string> PurgedFileName(std::string_view command);
// "SAVE $OLDPASS,NAME" (or any "SAVE FROM,NAME"): NAME; nothing otherwise.
std::optional<std::string> SavedFileName(std::string_view command);
// A file name as a LISTFILE anywhere on the host finds it: an unqualified
// NAME gets the group and account of the logon the installation requires
// ("MANAGER.SYS,PUB" gives NAME.PUB.SYS); a qualified one stays as it is.
std::string QualifiedFileName(const std::string& name, const std::string& requiredLogon);
// The text with its first letter in upper case, to start a sentence.
std::string SentenceStart(std::string text);

}  // namespace install
