// The installation group and account (%0 and %1) of an unattended run:
// --group and --account where the program's settings let them be chosen,
// else what the settings make of them, exactly as the window's group and
// account row starts; and whether the choice needs the confirmation that
// --yes gives.
#pragma once

#include <optional>
#include <string>

namespace cli {

struct InstallChoice {
  std::string group;
  std::string account;
  std::string defaultAccount;  // %12
  bool needsConfirmation = false;
};

struct InstallChoiceResult {
  InstallChoice choice;
  std::string error;  // bad usage, in words; empty when the choice stands
};

// groupSetting and accountSetting are the settings entries as looked up
// (install::kIdDefaultGroup, kIdDefaultAccount); group and account what the
// command line asked for, if anything. A name must be an MPE name; a field
// the settings lock cannot be changed.
InstallChoiceResult ChooseInstallTarget(const std::string& groupSetting,
                                        const std::string& accountSetting,
                                        const std::optional<std::string>& group,
                                        const std::optional<std::string>& account);

}  // namespace cli
