#include "cli/passwords.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace cli {

namespace {

const char kCommentMark = '#';

struct KindNames {
  PasswordKind kind;
  const char* variable;
  const char* key;
};
constexpr std::array<KindNames, kPasswordKinds> kNames = {{
    {PasswordKind::User, "ZORBELIX_USER_PASSWORD", "user"},
    {PasswordKind::Account, "ZORBELIX_ACCOUNT_PASSWORD", "account"},
    {PasswordKind::Group, "ZORBELIX_GROUP_PASSWORD", "group"},
}};

const KindNames& NamesOf(PasswordKind kind) {
  return kNames[static_cast<std::size_t>(kind)];
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

#ifndef _WIN32

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

#else

// On Windows the file's access list is left to the user.
std::string ReadPasswordFile(const std::string& path, std::string& text) {
  QFile file(QString::fromLocal8Bit(path.c_str()));
  if (!file.open(QIODevice::ReadOnly)) {
    return "cannot read the password file " + path + ": " + file.errorString().toStdString();
  }
  text = file.readAll().toStdString();
  return {};
}

#endif

}  // namespace

const char* PasswordVariable(PasswordKind kind) {
  return NamesOf(kind).variable;
}

const char* PasswordKey(PasswordKind kind) {
  return NamesOf(kind).key;
}

Passwords PasswordsFromEnvironment() {
  Passwords passwords;
  for (const KindNames& names : kNames) {
    char* value = std::getenv(names.variable);
    if (value == nullptr) {
      continue;
    }
    passwords.Set(names.kind, value);
#ifndef _WIN32
    // Blanked where it stood, then removed: the environment a process
    // started with stays readable (in /proc/PID/environ) after unsetenv.
    std::memset(value, 0, std::strlen(value));
#endif
    qunsetenv(names.variable);
  }
  return passwords;
}

std::string ParsePasswordFile(std::string_view text, Passwords& passwords) {
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (Trimmed(line).empty() || Trimmed(line).front() == kCommentMark) {
      continue;
    }
    const std::size_t equals = line.find('=');
    const std::string_view key =
        Trimmed(line.substr(0, equals == std::string_view::npos ? 0 : equals));
    const KindNames* named = nullptr;
    for (const KindNames& names : kNames) {
      if (key == names.key) {
        named = &names;
      }
    }
    if (named == nullptr) {
      return "line " + std::to_string(lineNumber) +
             ": expected user=..., account=... or group=... (a comment starts with #)";
    }
    passwords.Set(named->kind, std::string(Trimmed(line.substr(equals + 1))));
  }
  return {};
}

std::string LoadPasswordFile(const std::string& path, Passwords& passwords) {
  std::string text;
  if (std::string problem = ReadPasswordFile(path, text); !problem.empty()) {
    return problem;
  }
  if (std::string problem = ParsePasswordFile(text, passwords); !problem.empty()) {
    return "the password file " + path + ", " + problem;
  }
  return {};
}

}  // namespace cli
