#include "cli/program.h"

#include "cli/batch.h"
#include "cli/descriptors.h"
#include "cli/helptext.h"
#include "cli/hosttext.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/outcome.h"
#include "cli/passwords.h"
#include "cli/report.h"
#include "cli/reporters.h"
#include "cli/retryfile.h"
#include "install/installtarget.h"
#include "install/payloadstore.h"
#include "install/stringtable.h"
#include "install/version.h"
#include "nsvt/trace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace cli {

namespace {

const char kProgram[] = "zorbelix-install";
const char kTraceSuffix[] = ".trace";
const char kStandardInput[] = "-";
// The host program the installation puts on the host: its payload's name,
// its file's and its version line's module.
const char kHostProgram[] = "ZORBELIX";

// A complaint on standard error; usage errors point to --help. It may quote
// a file's line or a host's answer, so its control characters are shown.
void Complain(const std::string& text, bool usage) {
  std::fprintf(stderr, "%s: %s\n", kProgram, VisibleText(text).c_str());
  if (usage) {
    std::fprintf(stderr, "Try '%s --help' for more information.\n", kProgram);
  }
}

// Output that could not be written (a full disc, a closed pipe) is lost:
// the caller must not take the run for a success. Standard error says so,
// and the status becomes kExitOutputError unless a signal ended the run.
int WithOutputChecked(int status) {
  int error = OutputError();
  if (std::fflush(stdout) != 0 && error == 0) {
    error = errno;
  }
  if (error == 0 && std::ferror(stdout) != 0) {
    error = EIO;
  }
  if (error == 0) {
    return status;
  }
  Complain(std::string("cannot write to standard output: ") + std::strerror(error), false);
  return status >= kExitSignalBase ? status : kExitOutputError;
}

QString Local(const std::string& path) {
  return QString::fromLocal8Bit(path.c_str());
}

// The hosts file, "-" standard input; the --host values are read as its
// lines would be.
std::string ReadHosts(const Options& options, std::vector<HostEntry>& hosts) {
  QByteArray text;
  std::string source = "--host";
  if (options.hostsFile) {
    const std::string& path = *options.hostsFile;
    const bool standardInput = path == kStandardInput;
    QFile file(Local(path));
    const bool opened =
        standardInput ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly);
    if (!opened) {
      return "cannot read the hosts file " + path + ": " + file.errorString().toStdString();
    }
    text = file.readAll();
    source = standardInput ? "the hosts on standard input" : "the hosts file " + path;
  } else {
    for (const std::string& host : options.hosts) {
      text += QByteArray::fromStdString(host) + '\n';
    }
  }
  HostListResult list =
      ParseHostList(std::string_view(text.constData(), static_cast<std::size_t>(text.size())),
                    HostDefaults{options.port, options.logon});
  if (!list.error.empty()) {
    return source + ", " +
           (options.hostsFile ? list.error : list.error.substr(list.error.find(':') + 2));
  }
  hosts = std::move(list.hosts);
  return {};
}

// "10.0.0.5.trace", "hp3000_1571.trace": the label with what a file name
// cannot hold made '_'.
std::string TraceFileName(const HostEntry& entry) {
  std::string name =
      entry.port == kNsvtPort ? entry.host : entry.host + "_" + std::to_string(entry.port);
  for (char& c : name) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '-' || c == '_';
    if (!kept) {
      c = '_';
    }
  }
  return name + kTraceSuffix;
}

// A trace asked for on the command line is judged before anything connects,
// by the same careful opening the session's writer uses; nothing in its
// place is emptied or followed.
std::string CheckTraceFile(const std::string& path) {
  if (std::string reason = nsvt::CheckTraceFile(path); !reason.empty()) {
    return "cannot write the trace file " + path + ": " + reason;
  }
  return {};
}

std::string PlanTraces(const Options& options, std::vector<HostPlan>& plans) {
  if (!options.trace) {
    return {};
  }
  if (!options.hostsFile && plans.size() == 1) {
    plans.front().tracePath = *options.trace;
    return CheckTraceFile(*options.trace);
  }
  const QDir folder(Local(*options.trace));
  if (!folder.mkpath(".")) {
    return "cannot make the trace folder " + *options.trace;
  }
  for (HostPlan& plan : plans) {
    plan.tracePath = folder.filePath(Local(TraceFileName(plan.entry))).toLocal8Bit().toStdString();
    if (std::string error = CheckTraceFile(plan.tracePath); !error.empty()) {
      return error;
    }
  }
  return {};
}

// --check and --skip-current compare with the version line the payload
// carries, read as the host's VERSION output is.
std::string ReadPayloadVersion(InstallSettings& settings) {
  settings.versionModule = kHostProgram;
  const std::optional<QByteArray> payload = install::FindPayload(kHostProgram);
  if (!payload) {
    return std::string("the payload ") + kHostProgram + " is missing from the program";
  }
  const std::optional<std::string> version = install::FindModuleVersion(
      std::string_view(payload->constData(), static_cast<std::size_t>(payload->size())),
      kHostProgram);
  if (!version || version->empty()) {
    return std::string("the payload ") + kHostProgram +
           " has no version line, so --check and --skip-current cannot compare versions";
  }
  settings.payloadVersion = *version;
  return {};
}

// Everything the command line asks for, checked before anything connects
// (settings holds the passwords from the environment); the error is bad
// usage.
std::string PrepareRun(const Options& options, const install::TableLookup& table,
                       std::vector<HostPlan>& plans, InstallSettings& settings) {
  std::vector<HostEntry> hosts;
  if (std::string error = ReadHosts(options, hosts); !error.empty()) {
    return error;
  }
  if (options.retryFile) {
    if (std::string error = CheckRetryFile(*options.retryFile); !error.empty()) {
      return error;
    }
  }
  for (HostEntry& entry : hosts) {
    plans.push_back({std::move(entry), {}});
  }

  const InstallChoiceResult target =
      ChooseInstallTarget(table(install::kIdDefaultGroup), table(install::kIdDefaultAccount),
                          options.group, options.account);
  if (!target.error.empty()) {
    return target.error;
  }
  settings.target = target.choice;
  if (options.passwordFile) {
    if (std::string error = LoadPasswordFile(*options.passwordFile, settings.passwords);
        !error.empty()) {
      return error;
    }
  }
  settings.yes = options.yes;
  settings.answers = options.answers;
  settings.timeoutSeconds = options.timeoutSeconds;
  settings.reverseLookup = options.reverseLookup;
  settings.connectTimeoutSeconds = options.connectTimeoutSeconds;
  settings.deadlineSeconds = options.deadlineSeconds;
  settings.table = table;
  settings.versionMode = options.versionMode;
  if (settings.versionMode != VersionMode::Off) {
    if (std::string error = ReadPayloadVersion(settings); !error.empty()) {
      return error;
    }
  }
  return PlanTraces(options, plans);
}

}  // namespace

int RunInstaller(const QStringList& arguments, const install::TableLookup& givenTable) {
  // Taken out of the environment first thing, whatever else happens.
  InstallSettings settings;
  settings.passwords = PasswordsFromEnvironment();
  const OptionsResult parsed = ParseOptions(arguments);
  if (!parsed.error.empty()) {
    Complain(parsed.error, true);
    return kExitUsage;
  }
  const Options& options = parsed.options;
  if (options.help) {
    WriteOut(stdout, HelpText());
    return WithOutputChecked(kExitInstalled);
  }
  if (options.version) {
    WriteOut(stdout, std::string(kProgram) + " " + ZORBELIX_VERSION + "\n");
    return WithOutputChecked(kExitInstalled);
  }

  const install::TableLookup table =
      givenTable ? givenTable : install::TableLookup(LoadTableString);
  std::vector<HostPlan> plans;
  if (std::string error = PrepareRun(options, table, plans, settings); !error.empty()) {
    Complain(error, true);
    return kExitUsage;
  }

  IgnoreClosedOutput();
  const long fileLimit = RaiseOpenFileLimit();
  const int jobs =
      JobsThatFit(options.jobs, fileLimit, OpenDescriptors(), options.trace.has_value());
  if (jobs < options.jobs && std::cmp_less(jobs, plans.size())) {
    Complain("--jobs " + std::to_string(options.jobs) + " cut to " + std::to_string(jobs) +
                 ": the open-file limit leaves room for " + std::to_string(jobs) +
                 (jobs == 1 ? " host" : " hosts") + " at once",
             false);
  }
  const bool many = options.hostsFile.has_value() || plans.size() > 1;
  const std::unique_ptr<Reporter> reporter = MakeReporter(ChooseReportStyle(options.json));
  int exitStatus = kExitFailed;
  Batch batch(std::move(plans), std::move(settings), jobs, options.maxFail, many, *reporter,
              [&exitStatus](int status) {
                exitStatus = status;
                QCoreApplication::exit(status);
              });
  Interrupter interrupter;
  if (!interrupter.ok()) {
    Complain("cannot catch Ctrl+C: an interrupt will end the program without ending the sessions",
             false);
  }
  QObject::connect(&interrupter, &Interrupter::Interrupted, &batch, &Batch::Interrupt);
  QTimer::singleShot(0, &batch, &Batch::Start);
  QCoreApplication::exec();
  if (options.retryFile) {
    if (std::string error =
            WriteRetryFile(*options.retryFile, RetryList(batch.plans(), batch.results()));
        !error.empty()) {
      Complain(error, false);
      exitStatus = exitStatus >= kExitSignalBase ? exitStatus : kExitOutputError;
    }
  }
  return WithOutputChecked(exitStatus);
}

}  // namespace cli
