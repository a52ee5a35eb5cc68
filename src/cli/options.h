// The command line of zorbelix-install.
#pragma once

#include "cli/hostinstall.h"
#include "cli/hostlist.h"
#include "cli/logon.h"

#include <QStringList>

#include <array>
#include <optional>
#include <string>

namespace cli {

inline constexpr int kDefaultJobs = 8;
inline constexpr int kMaxJobs = 1000;
inline constexpr int kDefaultTimeoutSeconds = 60;

struct Options {
  std::optional<std::string> host;       // --host
  std::optional<std::string> hostsFile;  // --hosts
  quint16 port = kNsvtPort;
  std::optional<Logon> logon;
  std::optional<std::string> group;    // as given; checked against the settings later
  std::optional<std::string> account;  // as given
  std::optional<std::string> trace;    // a file for --host, a folder for --hosts
  std::optional<std::string> passwordFile;
  std::array<std::optional<std::string>, kScriptAnswers> answers;
  bool yes = false;
  bool json = false;
  VersionMode versionMode = VersionMode::Off;  // --check, --skip-current
  int jobs = kDefaultJobs;
  int timeoutSeconds = kDefaultTimeoutSeconds;
  bool reverseLookup = true;  // -n, --no-reverse-lookup turns it off
  bool help = false;
  bool version = false;
};

struct OptionsResult {
  Options options;
  std::string error;  // bad usage, in words; empty when the command line stands
};

// arguments: the program's name first, as QCoreApplication::arguments().
OptionsResult ParseOptions(const QStringList& arguments);

}  // namespace cli
