// The password file and the environment on POSIX systems: the file is
// judged on the open descriptor, and a password read from the environment
// is blanked where it stood.
#include "cli/passwords_platform.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

constexpr std::size_t kReadChunk = 4096;

// Why the open password file cannot be trusted; empty when it can. It must
// be a plain file (a FIFO would hold the program), the running user's own,
// and only its owner may read or write it.
std::string JudgePasswordFile(int fd, const std::string& path) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return "cannot read the password file " + path + ": " + std::strerror(errno);
  }
  if (!S_ISREG(info.st_mode)) {
    return "the password file " + path + " is not a plain file";
  }
  if (info.st_uid != ::geteuid()) {
    return "the password file " + path + " belongs to another user (uid " +
           std::to_string(info.st_uid) + "); it must be your own";
  }
  constexpr mode_t kOthersMayUse = S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;
  if ((info.st_mode & kOthersMayUse) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return "the password file " + path + " may be read or written by others (mode " + mode +
           "); only its owner may: chmod 600 " + path;
  }
  return {};
}

}  // namespace

// Opens the file first and judges what was opened, so nothing can be
// swapped in between; O_NONBLOCK keeps a FIFO from holding the open.
std::string ReadPasswordFile(const std::string& path, std::string& text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return "cannot read the password file " + path + ": " + std::strerror(errno);
  }
  std::string problem = JudgePasswordFile(fd, path);
  std::array<char, kReadChunk> chunk{};
  while (problem.empty()) {
    const ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      problem = "cannot read the password file " + path + ": " + std::strerror(errno);
    } else if (got == 0) {
      break;
    } else {
      text.append(chunk.data(), static_cast<std::size_t>(got));
    }
  }
  ::close(fd);
  return problem;
}

// The environment a process started with stays readable (in
// /proc/PID/environ) after unsetenv.
void BlankEnvironmentValue(char* value) {
  std::memset(value, 0, std::strlen(value));
}

}  // namespace cli
