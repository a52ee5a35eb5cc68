// bench_cli: zorbelix-install on many hosts at once against one host alone.
//
// Starts N simulators (mpe-host-sim --latency-ms L) on 127.0.0.2 to
// 127.0.0.(N+1), all on port 1570, then, each round, runs the real
// zorbelix-install (a child process) twice: with a hosts file of the first
// address only, and with all N addresses and --jobs N. For each run it
// measures the wall time from start to exit and, from wait4(), the
// installer's CPU time (user + system) and its peak memory (maximum RSS).
// A run counts only when the installer exits 0 and every simulator's store
// holds the shipped payload byte for byte. The simulators' own CPU is not
// counted; they are other processes.
//
//   bench_cli [--hosts N] [--latency-ms L] [--rounds R] [--keep]
//             [--install PATH] [--sim PATH]
//
// Linux only (every 127.x address is local there; wait4 gives the child's
// usage).
#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

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

constexpr int kDefaultHosts = 50;
constexpr int kDefaultLatencyMs = 10;
constexpr int kDefaultRounds = 3;
constexpr int kFirstHostByte = 2;  // 127.0.0.2
constexpr int kLastHostByte = 254;
constexpr int kStartWaitMs = 10000;
constexpr int kPollMs = 50;
constexpr double kTargetRatio = 1.3;
constexpr double kKilobytesPerMegabyte = 1024.0;
constexpr double kMillisecondsPerSecond = 1000.0;
constexpr int kUsageStatus = 64;
constexpr int kExecFailed = 127;
const char kPort[] = "1570";
const char kLogon[] = "MANAGER.SYS";

struct Settings {
  int hosts = kDefaultHosts;
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
};

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// A simulator on 127.0.0.X:1570 with its own store; its log goes to a file
// so that nothing has to read it while the installer runs.
class Simulator {
public:
  Simulator(const Settings& settings, const QString& dir, const QString& address)
      : address_(address), store_(dir + "/store"), log_(dir + "/sim.log") {
    QDir().mkpath(store_);
    process_.setStandardErrorFile(log_);
    process_.start(settings.sim, {"--listen", address + ":" + kPort, "--store", store_,
                                  "--latency-ms", QString::number(settings.latencyMs)});
  }
  ~Simulator() {
    process_.terminate();
    if (!process_.waitForFinished(kStartWaitMs)) {
      process_.kill();
      process_.waitForFinished(kStartWaitMs);
    }
  }
  bool WaitListening() {
    QDeadlineTimer deadline(kStartWaitMs);
    while (!deadline.hasExpired() && process_.state() != QProcess::NotRunning) {
      if (ReadAll(log_).contains("mpe-host-sim: store ")) {
        return true;
      }
      QThread::msleep(kPollMs);
    }
    return false;
  }
  const QString& address() const { return address_; }
  QByteArray Installed() const { return ReadAll(store_ + "/SYS/PUB/ZORBELIX"); }
  void ClearInstalled() const { QFile::remove(store_ + "/SYS/PUB/ZORBELIX"); }
  QString log() const { return QString::fromLocal8Bit(ReadAll(log_)); }

private:
  QString address_;
  QString store_;
  QString log_;
  QProcess process_;
};

// Runs the installer as a child with its output in a file; wait4 gives its
// own CPU time and peak memory.
std::optional<Measure> RunInstaller(const Settings& settings, const QString& hostsFile, int jobs,
                                    const QString& outputFile) {
  const std::string program = settings.install.toStdString();
  const std::vector<std::string> args = {program, "--hosts", hostsFile.toStdString(), "--logon",
                                         kLogon,  "--jobs",  std::to_string(jobs)};
  std::vector<char*> argv;
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  const std::string output = outputFile.toStdString();

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

QString WriteHostsFile(const QString& path, const std::vector<std::unique_ptr<Simulator>>& sims,
                       std::size_t count) {
  QFile file(path);
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    for (std::size_t i = 0; i < count; ++i) {
      file.write(sims[i]->address().toLatin1() + "\n");
    }
  }
  return path;
}

// Every simulator of the run holds the shipped payload; its copy is then
// removed, so the next run has to put it there again.
bool AllInstalled(const std::vector<std::unique_ptr<Simulator>>& sims, std::size_t count,
                  const QByteArray& payload) {
  bool all = true;
  for (std::size_t i = 0; i < count; ++i) {
    if (sims[i]->Installed() != payload) {
      std::fprintf(stderr, "bench_cli: %s did not store the payload\n",
                   qPrintable(sims[i]->address()));
      all = false;
    }
    sims[i]->ClearInstalled();
  }
  return all;
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
  if (settings.hosts < 1 || settings.hosts > kLastHostByte - kFirstHostByte + 1 ||
      settings.rounds < 1 || settings.latencyMs < 0) {
    return std::nullopt;
  }
  return settings;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);
  const std::optional<Settings> parsed = ParseArguments(QCoreApplication::arguments());
  if (!parsed) {
    std::fprintf(stderr,
                 "usage: bench_cli [--hosts N (1-253)] [--latency-ms L] [--rounds R] [--keep]\n"
                 "                 [--install PATH] [--sim PATH]\n");
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

  std::vector<std::unique_ptr<Simulator>> sims;
  for (int i = 0; i < settings.hosts; ++i) {
    const QString address = QString("127.0.0.%1").arg(kFirstHostByte + i);
    sims.push_back(std::make_unique<Simulator>(settings, work.filePath("sim-" + address), address));
  }
  for (const auto& sim : sims) {
    if (!sim->WaitListening()) {
      std::fprintf(stderr, "bench_cli: no simulator listening on %s:%s (port taken?)\n%s",
                   qPrintable(sim->address()), kPort, qPrintable(sim->log()));
      return 1;
    }
  }
  const auto count = static_cast<std::size_t>(settings.hosts);
  const QString oneHost = WriteHostsFile(work.filePath("one-host.txt"), sims, 1);
  const QString allHosts = WriteHostsFile(work.filePath("all-hosts.txt"), sims, count);
  std::printf("bench_cli: %d hosts, --latency-ms %d, %d rounds, work folder %s\n", settings.hosts,
              settings.latencyMs, settings.rounds, qPrintable(work.path()));

  std::vector<double> ratios;
  std::vector<double> oneWalls;
  std::vector<double> manyWalls;
  std::vector<double> cpuPerHost;
  long peakRssKb = 0;
  for (int round = 1; round <= settings.rounds; ++round) {
    const auto one = RunInstaller(settings, oneHost, 1, work.filePath("one.out"));
    const bool oneOk = one && one->exitStatus == 0 && AllInstalled(sims, 1, payload);
    const auto many = RunInstaller(settings, allHosts, settings.hosts, work.filePath("many.out"));
    const bool manyOk = many && many->exitStatus == 0 && AllInstalled(sims, count, payload);
    if (!oneOk || !manyOk) {
      std::fprintf(stderr, "bench_cli: round %d failed (exit %d / %d); see %s\n", round,
                   one ? one->exitStatus : -1, many ? many->exitStatus : -1,
                   qPrintable(work.path()));
      return 1;
    }
    const double ratio = many->wallSeconds / one->wallSeconds;
    std::printf(
        "round %d: one host %.2f s (CPU %.3f s, max RSS %.1f MB); %d hosts %.2f s (CPU %.3f s, "
        "%.1f ms a host, max RSS %.1f MB); ratio %.3f\n",
        round, one->wallSeconds, one->cpuSeconds,
        static_cast<double>(one->maxRssKb) / kKilobytesPerMegabyte, settings.hosts,
        many->wallSeconds, many->cpuSeconds,
        many->cpuSeconds / settings.hosts * kMillisecondsPerSecond,
        static_cast<double>(many->maxRssKb) / kKilobytesPerMegabyte, ratio);
    std::fflush(stdout);
    ratios.push_back(ratio);
    oneWalls.push_back(one->wallSeconds);
    manyWalls.push_back(many->wallSeconds);
    cpuPerHost.push_back(many->cpuSeconds / settings.hosts);
    peakRssKb = std::max(peakRssKb, many->maxRssKb);
  }
  const double ratio = Median(ratios);
  std::printf(
      "median: one host %.2f s, %d hosts %.2f s, ratio %.3f (target <= %.1f: %s); "
      "installer CPU %.1f ms a host; max RSS %.1f MB\n",
      Median(oneWalls), settings.hosts, Median(manyWalls), ratio, kTargetRatio,
      ratio <= kTargetRatio ? "met" : "NOT met", Median(cpuPerHost) * kMillisecondsPerSecond,
      static_cast<double>(peakRssKb) / kKilobytesPerMegabyte);
  return ratio <= kTargetRatio ? 0 : 2;
}
