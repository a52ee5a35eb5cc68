#include "install/installtarget.h"

namespace install {

namespace {

const char kOneSpace[] = " ";
const char kBlankGroup[] = "PUB";
const char kBlankAccount[] = "VORDANEX";

// Blank: nothing left after removing leading and trailing spaces and control
// characters.
bool IsBlank(const std::string& text) {
  for (unsigned char c : text) {
    if (c > ' ') {
      return false;
    }
  }
  return true;
}

}  // namespace

InstallTarget TargetFromSettings(const std::string& groupSetting,
                                 const std::string& accountSetting) {
  InstallTarget target;
  target.rowShown = !(groupSetting == kOneSpace && accountSetting == kOneSpace);
  if (groupSetting == kOneSpace) {
    target.groupEditable = false;
  } else if (IsBlank(groupSetting)) {
    target.group = kBlankGroup;
    target.groupEditable = false;
  } else {
    target.group = groupSetting;
  }
  if (accountSetting == kOneSpace) {
    target.accountEditable = false;
  } else if (IsBlank(accountSetting)) {
    target.account = target.defaultAccount = kBlankAccount;
    target.accountEditable = false;
  } else {
    target.account = target.defaultAccount = accountSetting;
  }
  return target;
}

bool NeedsConfirmation(const std::string& groupSetting, const std::string& defaultAccount,
                       const std::string& group, const std::string& account) {
  if (groupSetting.empty() || groupSetting == kOneSpace) {
    return false;
  }
  return group != groupSetting || account != defaultAccount;
}

}  // namespace install
