// The command line of zorbelix-install.
#pragma once

#include "cli/hostinstall.h"
#include "cli/hostlist.h"
#include "cli/logon.h"

#include <QStringList>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace cli {

inline constexpr int kDefaultJobs = 8;
inline constexpr int kMaxJobs = 1000;
inline constexpr int kDefaultTimeoutSeconds = 60;

struct Options {
  std::vector<std::string> hosts;        // --host, each HOST[:PORT]
  std::optional<std::string> hostsFile;  // --hosts; "-" is standard input
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
  int timeoutSeconds = kDefaultTimeoutSeconds;  // between two steps of a host's session
  int connectTimeoutSeconds = 0;                // for the connection alone; 0: --timeout's
  int deadlineSeconds = 0;                      // a host's whole run; 0: none
  int maxFail = 0;                              // 0: no limit
  std::optional<std::string> retryFile;
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
