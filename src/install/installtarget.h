// The installation group and account: what the configured settings
// (string entries 1071 and 1072) make of them, and when a choice that
// differs from them needs the operator's confirmation. Shared by the
// window's group and account row and the command-line installer.
#pragma once

#include <string>

namespace install {

inline constexpr int kIdDefaultGroup = 1071;
inline constexpr int kIdDefaultAccount = 1072;

// How the settings present the group and account.
struct InstallTarget {
  bool rowShown = true;         // both settings one space: no row at all
  std::string group;            // what the group field shows at start (unfiltered)
  bool groupEditable = true;    // otherwise locked
  std::string account;          // what the account field shows at start (unfiltered)
  bool accountEditable = true;  // otherwise locked
  std::string defaultAccount;   // %12, what the account is compared with
};

// The rules: a setting of exactly one space empties and locks its field; a
// blank one (spaces and control characters only) stands for PUB or
// VORDANEX, locked; anything else is shown and stays editable.
InstallTarget TargetFromSettings(const std::string& groupSetting,
                                 const std::string& accountSetting);

// Whether starting with this group and account needs the "altered
// defaults" confirmation: only when the group setting is neither empty nor
// one space, and the group differs from it or the account from the default
// account (exact, case-sensitive comparisons).
bool NeedsConfirmation(const std::string& groupSetting, const std::string& defaultAccount,
                       const std::string& group, const std::string& account);

// The confirmation's text.
inline constexpr const char* kAlteredDefaults =
    "You have chosen to alter the default installation group and or account for this "
    "product. This may result in support delays. \r\n\r\n"
    "Do you wish to continue the installation using these values?";

}  // namespace install
