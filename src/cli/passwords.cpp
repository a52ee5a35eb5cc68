#include "cli/passwords.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <cstdio>

#ifndef _WIN32
#include <sys/stat.h>
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

// Only the owner may read or write a file of passwords; on Windows the
// file's access list is left to the user.
std::string CheckPrivate(const std::string& path) {
#ifndef _WIN32
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return {};  // reading it reports what is wrong
  }
  constexpr mode_t kOthersMayUse = S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;
  if ((info.st_mode & kOthersMayUse) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return "the password file " + path + " may be read or written by others (mode " + mode +
           "); only its owner may: chmod 600 " + path;
  }
#else
  (void)path;
#endif
  return {};
}

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
    if (qEnvironmentVariableIsSet(names.variable)) {
      passwords.Set(names.kind, qEnvironmentVariable(names.variable).toLatin1().toStdString());
    }
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
  if (std::string problem = CheckPrivate(path); !problem.empty()) {
    return problem;
  }
  QFile file(QString::fromLocal8Bit(path.c_str()));
  if (!file.open(QIODevice::ReadOnly)) {
    return "cannot read the password file " + path + ": " + file.errorString().toStdString();
  }
  const QByteArray text = file.readAll();
  if (std::string problem =
          ParsePasswordFile(std::string_view(text.constData(), text.size()), passwords);
      !problem.empty()) {
    return "the password file " + path + ", " + problem;
  }
  return {};
}

}  // namespace cli
