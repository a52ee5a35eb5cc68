#include "reservedescriptor.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int openReserve() {
  return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

}  // namespace

ReserveDescriptor::ReserveDescriptor() : fd_(openReserve()) {}

ReserveDescriptor::~ReserveDescriptor() {
  if (fd_ >= 0)
    ::close(fd_);
}

bool ReserveDescriptor::refuseOne(qintptr listeningSocket) {
  if (fd_ < 0)
    return false;
  ::close(fd_);
  const int fd = ::accept(static_cast<int>(listeningSocket), nullptr, nullptr);
  const bool refused = fd >= 0;
  if (refused)
    ::close(fd);
  fd_ = openReserve();
  return refused;
}

const char* ReserveDescriptor::exhaustedResource() {
  return "file descriptors";
}
