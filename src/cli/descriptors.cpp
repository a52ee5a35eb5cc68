#include "cli/descriptors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace cli {

namespace {

// The socket layer reports a system error without a Windows Sockets name as
// 10000 + errno; WSAEMFILE is 10024 on Windows too.
constexpr int kSocketCodeBase = 10000;

}  // namespace

int JobsThatFit(int jobs, long limit, long open, bool trace) {
  if (limit <= 0) {
    return jobs;
  }
  const long perHost = trace ? 2 : 1;
  const long hosts = (limit - open - kReservedDescriptors - kLookupDescriptors) / perHost;
  return static_cast<int>(std::clamp<long>(hosts, 1, jobs));
}

bool IsDescriptorShortage(int socketCode) {
  return socketCode == kSocketCodeBase + EMFILE || socketCode == kSocketCodeBase + ENFILE;
}

bool IsDescriptorShortage(const std::string& reason) {
  return reason == std::strerror(EMFILE) || reason == std::strerror(ENFILE);
}

}  // namespace cli
