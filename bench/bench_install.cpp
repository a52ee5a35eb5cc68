// bench_install: whole installations against mpe-host-sim on loopback.
//
// The simulator runs as a child process (its own CPU is not counted); this
// process runs only the installer: the real window with the native socket,
// boxes answered by RecordingDialogs. Each session connects, logs on by
// typing "HELLO MANAGER.SYS" into the console, presses Begin, and runs until
// the host closes the connection. Measured from Begin to that close: wall
// time, and this process's CPU time (getrusage RUSAGE_SELF, user + system).
//
//   1. The shipped installation (XFERU of the 112,128-byte ZORBELIX), no
//      added latency.
//   2. The same with the simulator's --latency-ms, compared with the number
//      of host read requests the run took (counted in the simulator's
//      transcript) times the latency.
//   3. A block transfer of a packed 1,000,000-byte image (XFERC of BENCHBLK,
//      a resource of this program only), run from a script file through the
//      FILE command, on the store the shipped installation has just put
//      ZORBELIX.PUB.SYS into.
//
// Every session's simulator runs with --once and --expect, so a run only
// counts when the host file arrived byte for byte and the simulator saw no
// protocol deviation.
//
// With --connects N it measures only this: N sessions opened at once against
// one simulator, with a reverse resolver that never answers, and the time
// from Open to the connection and to the negotiation done (the host's first
// read request, which follows the negotiation reply and open request).
//
//   QT_QPA_PLATFORM=offscreen bench_install [--rounds N] [--latency-ms MS]
//                                           [--sim PATH] [--keep] [--connects N]
#include "install/stringtable.h"
#include "nsvt/clientsocket.h"
#include "nsvt/session.h"
#include "shell/TNSVT.h"
#include "simchild.h"
#include "windowrig.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using shell::TNSVT;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStartWaitMs = 10000;
constexpr int kLogonWaitMs = 30000;
constexpr int kRunLimitMs = 600000;
const char kLogonCommand[] = "HELLO MANAGER.SYS";
const char kSuccessBox[] = "Successful installation.";
const char kFirstScriptInput[] = "ECHO !HPUSER.!HPACCOUNT";
const char kBlockPayload[] = "BENCHBLK";

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// ---- the simulator as a child process ----

// Starts the simulator on a free port with store, its log in logFile (so
// this process spends nothing reading it); false, with the reason printed
// under name, when it does not come up.
bool StartSimulator(support::SimChild& simulator, const QString& program, const QString& store,
                    const QString& logFile, const QStringList& extra, const QString& name,
                    bool once = true) {
  simulator.setLogFile(logFile);
  simulator.start(program, support::SimChild::freePort() + QStringList{"--store", store} +
                               (once ? QStringList{"--once"} : QStringList{}) + extra);
  QString error;
  if (!simulator.waitListening(kStartWaitMs, &error)) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(error));
    return false;
  }
  return true;
}

// ---- one installer session ----

struct SessionResult {
  bool ok = false;
  QString failure;
  double wallSeconds = 0;
  double cpuSeconds = 0;
};

// Script lines 1 to 1000 replaced (empty: the shipped script).
using ScriptLines = std::map<int, std::string>;

bool WaitFor(const std::function<bool()>& done, int ms) {
  return QTest::qWaitFor(done, ms);
}

// Counts paint events by widget (object name, else class) while counting.
class PaintCounter final : public QObject {
public:
  bool counting = false;
  std::map<QString, int> counts;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (counting && event->type() == QEvent::Paint) {
      const QString name = watched->objectName();
      ++counts[name.isEmpty() ? QString(watched->metaObject()->className()) : name];
    }
    return false;
  }
};

SessionResult RunSession(quint16 port, const ScriptLines& script, const char* successBox,
                         bool shown, PaintCounter* paints) {
  SessionResult result;
  support::RecordingDialogs dialogs;
  QEventLoop loop;
  bool closed = false;
  bool ended = false;
  Clock::time_point closedAt;
  double closedCpu = 0;

  TNSVT::Platform platform;
  platform.dialogs = &dialogs;
  platform.keyboardModifiers = [] { return Qt::KeyboardModifiers(Qt::NoModifier); };
  platform.makeSocket = [&](QObject* parent) {
    TClientSocket* socket = CreateNativeSocket(parent);
    // Connected before the window's own handler, so the clock stops the
    // moment the close is seen, not after the window has finished closing.
    QObject::connect(socket, &TClientSocket::OnDisconnect, [&] {
      if (!closed) {
        closedAt = Clock::now();
        closedCpu = CpuSeconds();
        closed = true;
        loop.quit();
      }
    });
    return socket;
  };
  if (!script.empty()) {
    platform.tableString = [&script](int id) {
      if (id >= 1 && id <= 1000) {
        const auto found = script.find(id);
        return found == script.end() ? std::string() : found->second;
      }
      return LoadTableString(id);
    };
  }
  auto window = std::make_unique<TNSVT>(std::move(platform));
  QObject::connect(window.get(), &TNSVT::ApplicationEnd, [&ended](int) { ended = true; });
  if (shown) {
    window->show();
  }

  window->ui().Host3->setText(QStringLiteral("127.0.0.1"));
  window->ui().Port3->setText(QString::number(port));
  window->btnConnectClick();
  if (!window->session().Connected()) {
    result.failure = "no connection: " + window->ui().lblStatus->text();
    return result;
  }
  if (!WaitFor([&] { return window->ui().Memo1->isEnabled() || closed; }, kLogonWaitMs) || closed) {
    result.failure = "the host never asked for the logon";
    return result;
  }
  for (const char c : std::string(kLogonCommand)) {
    window->Memo1KeyPress(static_cast<std::uint8_t>(c));
  }
  window->Memo1KeyPress('\r');
  if (!WaitFor(
          [&] {
            return (window->ui().btnProcess->isEnabled() && window->uiPhase() == 2) || closed;
          },
          kLogonWaitMs) ||
      closed) {
    result.failure = "the logon did not end at an MPE prompt with Begin enabled";
    return result;
  }

  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
  if (paints != nullptr) {
    paints->counting = true;
  }
  const Clock::time_point begin = Clock::now();
  const double beginCpu = CpuSeconds();
  window->btnProcessClick();
  if (!closed) {
    limit.start(kRunLimitMs);
    loop.exec();
  }
  limit.stop();
  if (paints != nullptr) {
    paints->counting = false;
  }
  if (!closed) {
    result.failure = "the host did not close the connection";
    return result;
  }
  result.wallSeconds = std::chrono::duration<double>(closedAt - begin).count();
  result.cpuSeconds = closedCpu - beginCpu;
  WaitFor([&ended] { return ended; }, kStartWaitMs);

  QStringList problems;
  for (const auto& box : dialogs.boxes) {
    if (box.kind != support::RecordingDialogs::Kind::Message || box.text != successBox) {
      problems << QString("box: %1").arg(QString::fromLatin1(box.text.c_str()));
    }
  }
  if (successBox[0] != '\0' && !dialogs.Saw(support::RecordingDialogs::Kind::Message, successBox)) {
    problems << QString("no box \"%1\"").arg(successBox);
  }
  if (!problems.isEmpty()) {
    result.failure = problems.join("; ") + "; status line: " + window->ui().lblStatus->text();
    return result;
  }
  result.ok = true;
  return result;
}

// ---- the transcript ----

struct TranscriptCounts {
  int readRequests = 0;  // host read requests after the script's first input
  int hostMessages = 0;  // every host message after it
  int deviations = 0;    // in the whole transcript
  bool found = false;    // the script's first input was seen
  // The installer's answer times as the simulator saw them: from each read
  // request to the terminal input that answered it (millisecond stamps).
  std::vector<double> answerSeconds;
};

// The seconds stamp of a transcript line ("S1 +1.326 host> ...").
std::optional<double> Stamp(const QString& line) {
  static const QRegularExpression stamp("^S\\d+ \\+(\\d+\\.\\d+) ");
  const QRegularExpressionMatch match = stamp.match(line);
  if (!match.hasMatch()) {
    return std::nullopt;
  }
  return match.captured(1).toDouble();
}

TranscriptCounts CountTranscript(const QString& path, const QString& firstInput) {
  TranscriptCounts counts;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return counts;
  }
  const QString marker = "text=\"" + firstInput + "\"";
  double readAt = -1;  // stamp of the read request not yet answered; -1: none
  for (const QByteArray& raw : file.readAll().split('\n')) {
    const QString line = QString::fromLatin1(raw);
    if (line.contains(" DEVIATION ")) {
      ++counts.deviations;
    }
    if (!counts.found) {
      counts.found = line.contains(" term> TERMINAL-INPUT ") && line.contains(marker);
      continue;
    }
    if (line.contains(" host> ")) {
      ++counts.hostMessages;
      if (line.contains(" host> READ-REQUEST ")) {
        ++counts.readRequests;
        readAt = Stamp(line).value_or(-1);
      }
    } else if (line.contains(" term> TERMINAL-INPUT ") && readAt >= 0) {
      if (const std::optional<double> answeredAt = Stamp(line)) {
        counts.answerSeconds.push_back(*answeredAt - readAt);
      }
      readAt = -1;
    }
  }
  return counts;
}

// ---- the runs ----

struct Options {
  int rounds = 5;
  int latencyMs = 10;
  QString simulator;
  bool keep = false;
  bool hidden = false;  // diagnostic: the window never shown, so nothing is painted
  bool paints = false;  // diagnostic: count paint events per widget between Begin and close
  int connects = 0;     // only the connect run, with this many sessions
};

struct Stats {
  std::vector<double> values;
  double Median() const {
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    return sorted.empty() ? 0 : sorted[sorted.size() / 2];
  }
  double Best() const {
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
  }
  double Worst() const {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
  }
};

void PrintStats(const char* what, const Stats& wall, const Stats& cpu, const char* targets) {
  std::printf("%s (%zu runs)\n", what, wall.values.size());
  std::printf("    wall, Begin to close: median %.3f s  (best %.3f, worst %.3f)\n", wall.Median(),
              wall.Best(), wall.Worst());
  std::printf("    installer CPU:        median %.3f s  (best %.3f, worst %.3f)\n", cpu.Median(),
              cpu.Best(), cpu.Worst());
  std::printf("    targets: %s\n", targets);
}

// One session against a fresh simulator on store; prints why when it fails.
std::optional<SessionResult> Session(const Options& options, const QString& work,
                                     const QString& store, const QString& name,
                                     const QStringList& simArgs, const ScriptLines& script,
                                     const char* successBox) {
  support::SimChild simulator;
  PaintCounter paintCounter;
  if (options.paints) {
    QApplication::instance()->installEventFilter(&paintCounter);
  }
  if (!StartSimulator(simulator, options.simulator, store, work + "/" + name + ".log", simArgs,
                      name)) {
    return std::nullopt;
  }
  const SessionResult result = RunSession(simulator.port(), script, successBox, !options.hidden,
                                          options.paints ? &paintCounter : nullptr);
  if (options.paints) {
    std::printf("%s: paint events between Begin and close:", qPrintable(name));
    for (const auto& [widget, count] : paintCounter.counts) {
      std::printf(" %s %d;", qPrintable(widget), count);
    }
    std::printf("\n");
  }
  // The --once verdict: 0 when the expected file arrived and nothing
  // deviated; -1 when the simulator did not end.
  const int verdict = simulator.waitExit(kStartWaitMs);
  if (!result.ok || verdict != 0) {
    std::fprintf(stderr, "%s: %s (simulator verdict %d)\n--- simulator log ---\n%s\n",
                 qPrintable(name), result.ok ? "installer finished" : qPrintable(result.failure),
                 verdict, qPrintable(simulator.log()));
    return std::nullopt;
  }
  return result;
}

// ---- many connections, a resolver that never answers ----

// When one session connected and when its negotiation was done.
class ConnectClock final : public nsvt::SessionListener {
public:
  std::optional<double> connected;
  std::optional<double> negotiated;
  bool failed = false;

  void Opening() { start_ = Clock::now(); }
  void Connected() override { connected = Since(); }
  void Received() override {}
  void HostOutput(nsvt::ConstBytes, std::uint8_t) override {}
  void ReadRequest() override {
    if (!negotiated) {
      negotiated = Since();
    }
  }
  void LogonNotice(std::string_view) override {}
  void InputStopped() override {}
  void Error(int, const std::string&, bool) override { failed = true; }
  void Closed(bool) override {}

private:
  double Since() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
  Clock::time_point start_ = Clock::now();
};

constexpr int kConnectRunLimitMs = 30000;

int RunConnects(const Options& options, const QString& work) {
  support::SimChild simulator;
  if (!StartSimulator(simulator, options.simulator, work + "/store-connects",
                      work + "/connects.log", {}, "connects", false)) {
    return 1;
  }
  // Holds every lookup for the whole run; the workers are never joined.
  const nsvt::ReverseResolver silent = [](const QString&) {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::hours(1));
    }
    return QString();
  };
  std::vector<std::unique_ptr<ConnectClock>> clocks;
  std::vector<std::unique_ptr<nsvt::Session>> sessions;
  for (int i = 0; i < options.connects; ++i) {
    clocks.push_back(std::make_unique<ConnectClock>());
    sessions.push_back(std::make_unique<nsvt::Session>(*clocks.back(), [&silent](QObject* parent) {
      return CreateNativeSocket(parent, {}, silent);
    }));
    clocks.back()->Opening();
    sessions.back()->Open(QStringLiteral("127.0.0.1"), simulator.port());
  }
  const bool done = WaitFor(
      [&] {
        return std::all_of(clocks.begin(), clocks.end(),
                           [](const auto& c) { return c->negotiated.has_value() || c->failed; });
      },
      kConnectRunLimitMs);
  Stats connected, negotiated, negotiation;
  int failed = 0;
  for (const auto& c : clocks) {
    failed += c->failed || !c->negotiated ? 1 : 0;
    if (c->connected) {
      connected.values.push_back(*c->connected);
    }
    if (c->negotiated) {
      negotiated.values.push_back(*c->negotiated);
    }
    if (c->connected && c->negotiated) {
      negotiation.values.push_back(*c->negotiated - *c->connected);
    }
  }
  std::printf("connects: %d sessions at once, a reverse resolver that never answers%s\n",
              options.connects, done ? "" : " (some did not finish in 30 s)");
  std::printf("    Open to connected:  median %.3f s  (best %.3f, worst %.3f)\n",
              connected.Median(), connected.Best(), connected.Worst());
  std::printf("    Open to negotiated: median %.3f s  (best %.3f, worst %.3f)\n",
              negotiated.Median(), negotiated.Best(), negotiated.Worst());
  std::printf("    connected to negotiated: median %.3f s  (best %.3f, worst %.3f)\n",
              negotiation.Median(), negotiation.Best(), negotiation.Worst());
  std::printf("    failed: %d; lookups still held: %d\n", failed, nsvt::LookupsInFlight());
  std::printf("    target: connected to negotiated, median <= 0.050 s for 100 sessions\n");
  sessions.clear();
  return failed == 0 && done ? 0 : 1;
}

bool ParseOptions(const QStringList& arguments, Options& options) {
  options.simulator = QCoreApplication::applicationDirPath() + "/mpe-host-sim";
  for (int i = 1; i < arguments.size(); ++i) {
    const QString& arg = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if (arg == "--rounds" && hasValue) {
      options.rounds = std::max(1, arguments[++i].toInt());
    } else if (arg == "--latency-ms" && hasValue) {
      options.latencyMs = std::max(0, arguments[++i].toInt());
    } else if (arg == "--sim" && hasValue) {
      options.simulator = arguments[++i];
    } else if (arg == "--paints") {
      options.paints = true;
    } else if (arg == "--hidden") {
      options.hidden = true;
    } else if (arg == "--keep") {
      options.keep = true;
    } else if (arg == "--connects" && hasValue) {
      options.connects = std::max(1, arguments[++i].toInt());
    } else {
      std::fprintf(stderr,
                   "usage: bench_install [--rounds N] [--latency-ms MS (0 skips that run)]"
                   " [--sim PATH] [--keep] [--hidden] [--paints] [--connects N]\n");
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  Options options;
  if (!ParseOptions(QApplication::arguments(), options)) {
    return 2;
  }
  QTemporaryDir work(QDir::tempPath() + "/bench_install-XXXXXX");
  work.setAutoRemove(!options.keep);
  if (!work.isValid()) {
    std::fprintf(stderr, "cannot make a work folder\n");
    return 1;
  }
  if (options.connects > 0) {
    return RunConnects(options, work.path());
  }
  const QString shippedPayload = QStringLiteral(ZORBELIX_SHIPPED_PAYLOAD);
  const QString blockImage = QStringLiteral(BENCH_BLOCK_IMAGE);
  const QStringList expectShipped{"--expect", "ZORBELIX=" + shippedPayload};
  const QStringList expectBlock{"--expect", QString(kBlockPayload) + "=" + blockImage};

  // The block transfer's script: line 1 reads the rest from a file.
  const QString scriptFile = work.path() + "/xferc-script.txt";
  {
    QFile file(scriptFile);
    if (!file.open(QIODevice::WriteOnly)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(scriptFile));
      return 1;
    }
    file.write(QString("XFERC~%1\nEXIT\n").arg(kBlockPayload).toLatin1());
  }
  const ScriptLines blockScript{{1, "FILE~" + scriptFile.toStdString() + "~2"},
                                {2, "MSGB~The script file could not be opened."},
                                {3, "EXIT"}};

  std::printf("bench_install: installer and mpe-host-sim on 127.0.0.1 (%s)\n",
              qPrintable(options.simulator));
  std::fflush(stdout);
  Stats shippedWall, shippedCpu, blockWall, blockCpu;
  for (int round = 1; round <= options.rounds; ++round) {
    const QString store = work.path() + QString("/store%1").arg(round);
    const auto shipped = Session(options, work.path(), store, QString("shipped%1").arg(round),
                                 expectShipped, {}, kSuccessBox);
    if (!shipped) {
      return 1;
    }
    shippedWall.values.push_back(shipped->wallSeconds);
    shippedCpu.values.push_back(shipped->cpuSeconds);
    const auto block = Session(options, work.path(), store, QString("xferc%1").arg(round),
                               expectBlock, blockScript, "");
    if (!block) {
      return 1;
    }
    blockWall.values.push_back(block->wallSeconds);
    blockCpu.values.push_back(block->cpuSeconds);
  }
  PrintStats("1. shipped installation (XFERU, 112,128 bytes), no added latency", shippedWall,
             shippedCpu, "wall < 1 s, installer CPU < 0.3 s");
  PrintStats("3. packed block transfer (XFERC, 1,000,000 bytes unpacked) from a FILE script",
             blockWall, blockCpu, "report only");
  std::fflush(stdout);

  if (options.latencyMs > 0) {
    const QString transcript = work.path() + "/latency-transcript.txt";
    const auto slow =
        Session(options, work.path(), work.path() + "/store-latency", "latency",
                expectShipped + QStringList{"--latency-ms", QString::number(options.latencyMs),
                                            "--transcript", transcript},
                {}, kSuccessBox);
    if (!slow) {
      return 1;
    }
    const TranscriptCounts counts = CountTranscript(transcript, kFirstScriptInput);
    if (!counts.found || counts.readRequests == 0) {
      std::fprintf(stderr, "latency: the transcript %s does not show the script's reads\n",
                   qPrintable(transcript));
      return 1;
    }
    const double latency = options.latencyMs / 1000.0;
    const double readFloor = counts.readRequests * latency;
    // The simulator waits its latency before every message it sends (and
    // before the close), one after another: its own floor for the run.
    const double messageFloor = (counts.hostMessages + 1) * latency;
    std::printf("2. shipped installation with --latency-ms %d\n", options.latencyMs);
    std::printf("    wall, Begin to close: %.3f s, installer CPU %.3f s\n", slow->wallSeconds,
                slow->cpuSeconds);
    std::printf("    host read requests after Begin: %d (transcript); host messages: %d\n",
                counts.readRequests, counts.hostMessages);
    std::printf("    wall / (reads x %d ms)           = %.3f   (target <= 1.03)\n",
                options.latencyMs, slow->wallSeconds / readFloor);
    std::printf("    wall / ((messages + close) x %d ms) = %.3f   (the simulator's own floor)\n",
                options.latencyMs, slow->wallSeconds / messageFloor);
    Stats answers;
    answers.values = counts.answerSeconds;
    double answerTotal = 0;
    for (const double seconds : counts.answerSeconds) {
      answerTotal += seconds;
    }
    std::printf(
        "    installer's answers as the simulator saw them: %zu, total %.3f s, median %.1f ms,"
        " worst %.1f ms\n",
        counts.answerSeconds.size(), answerTotal, answers.Median() * 1000, answers.Worst() * 1000);
    std::printf("    deviations in the transcript: %d\n", counts.deviations);
  }
  if (options.keep) {
    std::printf("work folder kept: %s\n", qPrintable(work.path()));
  }
  return 0;
}
