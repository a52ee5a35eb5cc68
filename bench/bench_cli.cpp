// bench_cli: zorbelix-install on a fleet at once against one host alone.
//
// Starts simulators (mpe-host-sim --latency-ms L --listen-count K), each
// serving up to 250 consecutive addresses 127.0.B.2 to 127.0.B.251 on port
// 1570 (B from 10, one block a simulator), each address a host with its own
// store. Each round runs the real zorbelix-install (a child process) three
// times: on the first address alone, on the first --middle addresses with
// --jobs of that many, and on all --hosts addresses with --jobs of that
// many, the child's open-file limit set to --file-limit (soft and hard). For
// each run it measures the wall time from start to exit, from wait4() the
// installer's CPU time (user + system) and peak memory (maximum RSS), the
// simulators' CPU in the same time (from /proc), and the spurious failures:
// hosts whose store does not then hold the shipped payload byte for byte.
//
//   bench_cli [--hosts N] [--middle M] [--latency-ms L] [--rounds R]
//             [--file-limit F] [--keep] [--install PATH] [--sim PATH]
//
// Linux only (every 127.x address is local there; wait4 gives the child's
// usage, /proc the simulators').
#include "simchild.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultHosts = 1000;
constexpr int kDefaultMiddle = 50;
constexpr int kDefaultLatencyMs = 10;
constexpr int kDefaultRounds = 1;
constexpr int kDefaultFileLimit = 1024;  // the common default soft limit
constexpr int kMaxHosts = 1000;          // zorbelix-install's --jobs at most
constexpr int kHostsPerSimulator = 250;  // 127.0.B.2 to 127.0.B.251
constexpr int kFirstBlock = 10;          // 127.0.10.x, 127.0.11.x, ...
constexpr int kFirstHostByte = 2;
constexpr int kStartWaitMs = 20000;
constexpr double kTargetRatio = 1.5;
constexpr double kTargetCpuMs = 20;
constexpr double kTargetRssMb = 300;
constexpr double kKilobytesPerMegabyte = 1024.0;
constexpr double kMillisecondsPerSecond = 1000.0;
constexpr int kUsageStatus = 64;
constexpr int kExecFailed = 127;
const char kPort[] = "1570";
const char kLogon[] = "MANAGER.SYS";

struct Settings {
  int hosts = kDefaultHosts;
  int middle = kDefaultMiddle;
  int fileLimit = kDefaultFileLimit;
  int latencyMs = kDefaultLatencyMs;
  int rounds = kDefaultRounds;
  bool keep = false;
  QString install;
  QString sim;
};

struct Measure {
  double wallSeconds = 0;
  double cpuSeconds = 0;
  long maxRssKb = 0;
  int exitStatus = -1;
  double simCpuSeconds = 0;
  int failures = 0;
};

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

// A simulator serving count consecutive addresses on port 1570, each with
// its own store (DIR/1 to DIR/count); its log goes to a file so that
// nothing has to read it while the installer runs.
class Simulator {
public:
  Simulator(const Settings& settings, const QString& dir, int block, int count)
      : store_(dir + "/store"), child_(support::SimChild::Ending::Terminate, kStartWaitMs) {
    for (int i = 0; i < count; ++i) {
      addresses_ << QString("127.0.%1.%2").arg(block).arg(kFirstHostByte + i);
    }
    QDir().mkpath(store_);
    child_.setLogFile(dir + "/sim.log");
    child_.start(settings.sim, {"--listen", addresses_.first() + ":" + kPort, "--listen-count",
                                QString::number(count), "--store", store_, "--latency-ms",
                                QString::number(settings.latencyMs)});
  }
  bool WaitListening() { return child_.waitListening(kStartWaitMs); }
  const QStringList& addresses() const { return addresses_; }
  QString StoredPath(int host) const {
    return store_ + "/" + QString::number(host + 1) + "/SYS/PUB/ZORBELIX";
  }
  QString log() { return child_.log(); }
  // User + system CPU so far, from /proc/PID/stat (fields 14 and 15).
  double CpuSeconds() const {
    const QList<QByteArray> fields =
        ReadAll(QString("/proc/%1/stat").arg(child_.pid())).split(')').last().split(' ');
    constexpr int kUserField = 12;  // counted after the ')' that ends the name
    constexpr int kSystemField = 13;
    if (fields.size() <= kSystemField) {
      return 0;
    }
    return static_cast<double>(fields[kUserField].toLongLong() +
                               fields[kSystemField].toLongLong()) /
           static_cast<double>(::sysconf(_SC_CLK_TCK));
  }

private:
  QStringList addresses_;
  QString store_;
  support::SimChild child_;
};

using Simulators = std::vector<std::unique_ptr<Simulator>>;

double SimulatorsCpu(const Simulators& sims) {
  double seconds = 0;
  for (const auto& sim : sims) {
    seconds += sim->CpuSeconds();
  }
  return seconds;
}

// Runs the installer as a child with its output in a file; wait4 gives its
// own CPU time and peak memory.
std::optional<Measure> RunInstaller(const Settings& settings, const QString& hostsFile, int jobs,
                                    const QString& outputFile, const QString& errorFile) {
  const std::string program = settings.install.toStdString();
  const std::vector<std::string> args = {program, "--hosts", hostsFile.toStdString(), "--logon",
                                         kLogon,  "--jobs",  std::to_string(jobs)};
  std::vector<char*> argv;
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  const std::string output = outputFile.toStdString();
  const std::string errors = errorFile.toStdString();
  const auto fileLimit = static_cast<rlim_t>(settings.fileLimit);

  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) {
    return std::nullopt;
  }
  if (pid == 0) {
    const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
      ::dup2(fd, STDOUT_FILENO);
      ::close(fd);
    }
    const int errorFd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (errorFd >= 0) {
      ::dup2(errorFd, STDERR_FILENO);
      ::close(errorFd);
    }
    const rlimit limit{fileLimit, fileLimit};
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ::execv(program.c_str(), argv.data());
    _exit(kExecFailed);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) {
    return std::nullopt;
  }
  Measure measure;
  measure.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  measure.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  measure.maxRssKb = usage.ru_maxrss;
  measure.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return measure;
}

QStringList AllAddresses(const Simulators& sims) {
  QStringList addresses;
  for (const auto& sim : sims) {
    addresses += sim->addresses();
  }
  return addresses;
}

QString WriteHostsFile(const QString& path, const QStringList& addresses, int count) {
  QFile file(path);
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    file.write(addresses.mid(0, count).join('\n').toLatin1() + "\n");
  }
  return path;
}

// The hosts of the run whose store does not hold the shipped payload; every
// stored copy is then removed, so the next run has to put it there again.
int CountFailures(const Simulators& sims, int count, const QByteArray& payload) {
  int failures = 0;
  int host = 0;
  for (const auto& sim : sims) {
    for (int i = 0; i < sim->addresses().size() && host < count; ++i, ++host) {
      if (ReadAll(sim->StoredPath(i)) != payload) {
        ++failures;
      }
      QFile::remove(sim->StoredPath(i));
    }
  }
  return failures;
}

std::optional<Settings> ParseArguments(const QStringList& args) {
  Settings settings;
  const QString dir = QCoreApplication::applicationDirPath();
  settings.install = dir + "/zorbelix-install";
  settings.sim = dir + "/mpe-host-sim";
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--keep") {
      settings.keep = true;
    } else if (arg == "--hosts" && hasValue) {
      settings.hosts = args[++i].toInt();
    } else if (arg == "--middle" && hasValue) {
      settings.middle = args[++i].toInt();
    } else if (arg == "--file-limit" && hasValue) {
      settings.fileLimit = args[++i].toInt();
    } else if (arg == "--latency-ms" && hasValue) {
      settings.latencyMs = args[++i].toInt();
    } else if (arg == "--rounds" && hasValue) {
      settings.rounds = args[++i].toInt();
    } else if (arg == "--install" && hasValue) {
      settings.install = args[++i];
    } else if (arg == "--sim" && hasValue) {
      settings.sim = args[++i];
    } else {
      return std::nullopt;
    }
  }
  if (settings.hosts < 1 || settings.hosts > kMaxHosts || settings.middle < 1 ||
      settings.middle > settings.hosts || settings.rounds < 1 || settings.latencyMs < 0 ||
      settings.fileLimit < 1) {
    return std::nullopt;
  }
  return settings;
}

// One run: the installer on the first count hosts at --jobs count, with the
// simulators' CPU in the same time and the hosts that did not install.
std::optional<Measure> Run(const Settings& settings, const Simulators& sims, const QString& dir,
                           int count, const QByteArray& payload) {
  const QString name = QString("run-%1").arg(count);
  const QString hosts = WriteHostsFile(dir + "/" + name + ".txt", AllAddresses(sims), count);
  const double simCpuBefore = SimulatorsCpu(sims);
  std::optional<Measure> measure =
      RunInstaller(settings, hosts, count, dir + "/" + name + ".out", dir + "/" + name + ".err");
  if (measure) {
    measure->simCpuSeconds = SimulatorsCpu(sims) - simCpuBefore;
    measure->failures = CountFailures(sims, count, payload);
  }
  return measure;
}

void PrintRun(const char* label, int hosts, const Measure& run, double oneWall) {
  std::printf(
      "  %-9s %4d hosts: wall %6.2f s (%.2fx one host), exit %d, spurious failures %d, "
      "installer CPU %.3f s (%.1f ms a host), max RSS %.1f MB, simulators' CPU %.2f s\n",
      label, hosts, run.wallSeconds, run.wallSeconds / oneWall, run.exitStatus, run.failures,
      run.cpuSeconds, run.cpuSeconds / hosts * kMillisecondsPerSecond,
      static_cast<double>(run.maxRssKb) / kKilobytesPerMegabyte, run.simCpuSeconds);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);
  const std::optional<Settings> parsed = ParseArguments(QCoreApplication::arguments());
  if (!parsed) {
    std::fprintf(
        stderr,
        "usage: bench_cli [--hosts N (1-1000)] [--middle M] [--latency-ms L] [--rounds R]\n"
        "                 [--file-limit F] [--keep] [--install PATH] [--sim PATH]\n");
    return kUsageStatus;
  }
  const Settings& settings = *parsed;
  QTemporaryDir work;
  work.setAutoRemove(!settings.keep);
  const QByteArray payload = ReadAll(QStringLiteral(ZORBELIX_SHIPPED_PAYLOAD));
  if (!work.isValid() || payload.isEmpty()) {
    std::fprintf(stderr, "bench_cli: no work folder or no shipped payload\n");
    return 1;
  }

  Simulators sims;
  for (int first = 0, block = kFirstBlock; first < settings.hosts;
       first += kHostsPerSimulator, ++block) {
    const int count = std::min(kHostsPerSimulator, settings.hosts - first);
    sims.push_back(std::make_unique<Simulator>(
        settings, work.filePath(QString("sim-%1").arg(block)), block, count));
  }
  for (const auto& sim : sims) {
    if (!sim->WaitListening()) {
      std::fprintf(stderr, "bench_cli: a simulator did not listen on %s:%s (port taken?)\n%s",
                   qPrintable(sim->addresses().first()), kPort, qPrintable(sim->log()));
      return 1;
    }
  }
  std::printf(
      "bench_cli: %d hosts on %zu simulators, --latency-ms %d, open-file limit %d, %d rounds, "
      "work folder %s\n",
      settings.hosts, sims.size(), settings.latencyMs, settings.fileLimit, settings.rounds,
      qPrintable(work.path()));

  bool met = true;
  for (int round = 1; round <= settings.rounds; ++round) {
    std::printf("round %d:\n", round);
    const auto one = Run(settings, sims, work.path(), 1, payload);
    const auto middle = Run(settings, sims, work.path(), settings.middle, payload);
    const auto all = Run(settings, sims, work.path(), settings.hosts, payload);
    if (!one || !middle || !all) {
      std::fprintf(stderr, "bench_cli: round %d: a run could not be started\n", round);
      return 1;
    }
    PrintRun("one host", 1, *one, one->wallSeconds);
    PrintRun("middle", settings.middle, *middle, one->wallSeconds);
    PrintRun("all", settings.hosts, *all, one->wallSeconds);
    const double ratio = all->wallSeconds / one->wallSeconds;
    const double cpuMs = all->cpuSeconds / settings.hosts * kMillisecondsPerSecond;
    const double rssMb = static_cast<double>(all->maxRssKb) / kKilobytesPerMegabyte;
    const bool roundMet = all->exitStatus == 0 && all->failures == 0 && cpuMs <= kTargetCpuMs &&
                          rssMb <= kTargetRssMb && ratio <= kTargetRatio;
    std::printf(
        "  targets for all %d: spurious failures 0 (%d), CPU <= %.0f ms a host (%.1f), max RSS "
        "<= %.0f MB (%.1f), wall <= %.1fx one host (%.2fx): %s\n",
        settings.hosts, all->failures, kTargetCpuMs, cpuMs, kTargetRssMb, rssMb, kTargetRatio,
        ratio, roundMet ? "met" : "NOT all met");
    met = met && roundMet;
  }
  return met ? 0 : 2;
}
