#include "cli/installchoice.h"

#include "cli/logon.h"
#include "install/installtarget.h"
#include "install/namefilter.h"

namespace cli {

namespace {

// The field's value: what was asked for, checked, or what the row shows at
// start (the field's filter applied, as setting its text applies it).
std::string ChooseField(const std::string& field, const std::optional<std::string>& asked,
                        const std::string& shown, bool editable, std::string& error) {
  const std::string option = "--" + field;
  std::string atStart = install::FilterInstallName(shown);
  if (!asked) {
    return atStart;
  }
  const auto name = ParseMpeName(*asked);
  if (!name) {
    error = option + " '" + *asked +
            "' is not an MPE name (a letter, then letters and digits, at most 8)";
    return atStart;
  }
  if (!editable && *name != atStart) {
    error = "the program's settings fix the installation " + field + " (" +
            (atStart.empty() ? std::string("empty") : "to " + atStart) + "); " + option +
            " cannot change it";
    return atStart;
  }
  return *name;
}

}  // namespace

InstallChoiceResult ChooseInstallTarget(const std::string& groupSetting,
                                        const std::string& accountSetting,
                                        const std::optional<std::string>& group,
                                        const std::optional<std::string>& account) {
  const install::InstallTarget target = install::TargetFromSettings(groupSetting, accountSetting);
  InstallChoiceResult result;
  InstallChoice& choice = result.choice;
  choice.group = ChooseField("group", group, target.group, target.groupEditable, result.error);
  if (result.error.empty()) {
    choice.account =
        ChooseField("account", account, target.account, target.accountEditable, result.error);
  }
  choice.defaultAccount = target.defaultAccount;
  choice.needsConfirmation =
      install::NeedsConfirmation(groupSetting, choice.defaultAccount, choice.group, choice.account);
  return result;
}

}  // namespace cli
