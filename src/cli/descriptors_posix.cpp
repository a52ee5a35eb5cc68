// Open-file limits on POSIX systems: the soft limit raised to the hard one,
// the open descriptors counted.
#include "cli/descriptors.h"

#include <fcntl.h>
#include <sys/resource.h>

namespace cli {

long RaiseOpenFileLimit() {
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
}

long OpenDescriptors() {
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
}

}  // namespace cli
