// Opening the trace file on POSIX systems, where a folder the user can
// write may hold a planted link, FIFO or second name of another file: the
// file is opened without following links or waiting, and judged on the open
// descriptor before anything is written.
#include "nsvt/trace.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nsvt {

namespace {

// The trace may hold host output: it is the owner's alone.
constexpr mode_t kPrivateMode = S_IRUSR | S_IWUSR;

// Why open() refused the path, in the operator's words.
std::string OpenFailure(const std::string& path, int error) {
  struct stat info {};
  if (error == ELOOP && ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    return "it is a symbolic link";
  }
  if (error == ENXIO) {
    return "it is not a plain file";  // a FIFO without a reader, or a device
  }
  return std::strerror(error);
}

// Why the open file cannot be a trace; empty when it can. A file of
// another user's, or one with a second name, could be a planted way into a
// file that the trace must never overwrite.
std::string JudgeOpenFile(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return std::strerror(errno);
  }
  if (!S_ISREG(info.st_mode)) {
    return "it is not a plain file";
  }
  if (info.st_uid != ::geteuid()) {
    return "it belongs to another user";
  }
  if (info.st_nlink > 1) {
    return "it has another name (a hard link)";
  }
  return {};
}

// Makes a judged file private, emptied if asked, and blocking again.
std::string PrepareOpenFile(int fd, bool emptied) {
  if (::fchmod(fd, kPrivateMode) != 0 || (emptied && ::ftruncate(fd, 0) != 0)) {
    return std::strerror(errno);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return std::strerror(errno);
  }
  return {};
}

}  // namespace

TraceFile OpenTraceFile(const std::string& path, bool emptied, std::string& reason) {
  // O_NOFOLLOW refuses a link instead of following it; O_NONBLOCK keeps a
  // FIFO from holding the open until a reader comes. No O_TRUNC: nothing is
  // emptied before it has been judged.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kPrivateMode);
  if (fd < 0) {
    reason = OpenFailure(path, errno);
    return {};
  }
  reason = JudgeOpenFile(fd);
  if (reason.empty()) {
    reason = PrepareOpenFile(fd, emptied);
  }
  TraceFile file(reason.empty() ? ::fdopen(fd, "wb") : nullptr);
  if (!file) {
    if (reason.empty()) {
      reason = std::strerror(errno);
    }
    ::close(fd);
  }
  return file;
}

}  // namespace nsvt
