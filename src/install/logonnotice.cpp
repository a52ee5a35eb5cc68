#include "install/logonnotice.h"

namespace install {

std::string_view ShownLogonNotice(std::string_view notice) {
  return notice.substr(0, notice.find('\0'));
}

bool LogonAccepted(std::string_view notice, const std::string& requiredLogon) {
  return !requiredLogon.empty() &&
         ShownLogonNotice(notice).find(requiredLogon) != std::string_view::npos;
}

}  // namespace install
