#include "cli/descriptors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#endif

namespace cli {

namespace {

// The socket layer reports a system error without a Windows Sockets name as
// 10000 + errno; WSAEMFILE is 10024 on Windows too.
constexpr int kSocketCodeBase = 10000;

}  // namespace

long RaiseOpenFileLimit() {
#ifdef _WIN32
  return 0;
#else
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    return 0;
  }
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
      limit = raised;
    }
  }
  if (limit.rlim_cur == RLIM_INFINITY) {
    return 0;
  }
  return static_cast<long>(limit.rlim_cur);
#endif
}

long OpenDescriptors() {
#ifdef _WIN32
  return 0;
#else
  // Probed one by one up to the limit's first few thousand: a program
  // started with more open than that has other troubles.
  constexpr int kProbed = 4096;
  long open = 0;
  for (int fd = 0; fd < kProbed; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) {
      ++open;
    }
  }
  return open;
#endif
}

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
