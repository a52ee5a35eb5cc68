// bench_receive: throughput and heap allocations of the receive path.
//
// A prebuilt stream of TERM_IO and read-request messages is pushed through
// the NS/VT session's receive path (one socket read of at most 36,288 bytes
// per read event: framing, dispatch, the replies) into an installation run
// that gathers the host's output (HostText, RawHostData), no script
// running, as while FCOPY or a host program talks. The socket is a
// stand-in that is always connected, hands over the stream and discards
// what is sent. Heap allocations are counted only inside the measured loop.
//
//   bench_receive [--mb N] [--rounds R] [--scenario NAME|all] [--stacks K]
//
// --stacks K prints where the first K allocations of the first round happen
// (pipe stderr through c++filt).
#include "alloc_counter.h"

#include "install/operator.h"
#include "install/run.h"
#include "nsvt/clientsocket.h"
#include "nsvt/session.h"
#include "nsvt/vtpkt.h"
#include "sessiontest.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Always connected; every send succeeds and is dropped; Feed hands bytes
// over as one read event.
class DiscardSocket final : public TClientSocket {
public:
  using TClientSocket::TClientSocket;
  void Open(const QString&, quint16) override { connected_ = true; }
  void Feed(std::span<const std::uint8_t> bytes) {
    pending_ = bytes;
    emit OnRead();
  }
  void Close() override {
    if (connected_) {
      emit OnDisconnect();
      connected_ = false;
    }
  }
  bool Connected() const override { return connected_; }
  qint64 Send(std::span<const std::uint8_t> bytes) override {
    ++sends;
    return static_cast<qint64>(bytes.size());
  }
  qint64 Receive(std::span<std::uint8_t> buffer) override {
    const std::size_t n = std::min(buffer.size(), pending_.size());
    std::copy_n(pending_.begin(), n, buffer.begin());
    pending_ = pending_.subspan(n);
    return static_cast<qint64>(n);
  }
  QString LocalAddress() const override { return QStringLiteral("127.0.0.1"); }
  QString RemoteHost() const override { return QStringLiteral("localhost"); }
  void SetReadEnabled(bool) override {}
  std::uint64_t sends = 0;

private:
  bool connected_ = false;
  std::span<const std::uint8_t> pending_;
};

// What a front end does with the session's reports while no script runs:
// host output goes to the run, read requests hand the console over (here:
// nothing), and the operator sees nothing.
class BenchFrontEnd final : public nsvt::SessionListener, public install::Operator {
public:
  install::Run* run = nullptr;
  int reports = 0;  // anything a healthy stream should not cause

  void Connected() override {}
  void Received() override {}
  void HostOutput(nsvt::ConstBytes data, std::uint8_t) override { run->HostOutput(data); }
  void ReadRequest() override {}
  void LogonNotice(std::string_view) override {}
  void InputStopped() override {}
  void Error(int, const std::string&, bool) override { ++reports; }
  void Closed(bool) override { ++reports; }

  void Message(const std::string&) override { ++reports; }
  bool Confirm(const std::string&) override { return ++reports, true; }
  std::optional<std::string> Input(const std::string&, const std::string&, int) override {
    ++reports;
    return std::nullopt;
  }
  void ReportError(int, const std::string&) override { ++reports; }
  void SetConsoleInput(bool) override {}
  void EchoLine(std::string_view) override {}
  void EchoBytes(std::span<const std::uint8_t>) override {}
  void SetUiPhase(int) override {}
  void ForgetUiPhase() override {}
  void ShowProgress(const install::TransferProgress&) override {}
  void SetBeginCaption(const std::string&) override {}
  void SetIdleTimer(bool) override {}
};

// A deterministic generator, so every run pushes the same bytes.
class Lcg {
public:
  std::uint32_t Next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state_ >> 33);
  }
  std::uint32_t Between(std::uint32_t low, std::uint32_t high) {
    return low + Next() % (high - low + 1);
  }

private:
  std::uint64_t state_ = 0x5EED;
};

struct Scenario {
  const char* name;
  const char* what;
  std::uint32_t minText;  // TERM_IO data length range
  std::uint32_t maxText;
  int termIoPerRead;  // TERM_IO messages between two read requests
};

// "lines" is the headline: the host's ordinary output (lines up to 132
// characters, a prompt-and-read every 8 lines). The other two bracket it:
// large output blocks, and a stream of nothing but read requests.
const Scenario kScenarios[] = {
    {"lines", "TERM_IO of 1-132 bytes, a read request after every 8", 1, 132, 8},
    {"blocks", "TERM_IO of 1,024-4,096 bytes, a read request after every 4", 1024, 4096, 4},
    {"reads", "read requests only (14-byte messages)", 0, 0, 0},
};

struct Stream {
  Bytes bytes;
  std::uint64_t messages = 0;
  std::uint64_t readRequests = 0;
};

Stream BuildStream(const Scenario& scenario, std::size_t target) {
  Stream stream;
  stream.bytes.reserve(target + 8192);
  Lcg random;
  std::string text;
  while (stream.bytes.size() < target) {
    for (int i = 0; i < scenario.termIoPerRead; ++i) {
      text.resize(random.Between(scenario.minText, scenario.maxText));
      for (char& c : text) {
        c = static_cast<char>(' ' + random.Next() % 95);
      }
      // Every line but the last of a burst ends with a new line on screen.
      const std::uint8_t control = i + 1 == scenario.termIoPerRead ? 0xD0 : 0;
      const Bytes message = support::host::TermIo(text, control);
      stream.bytes.insert(stream.bytes.end(), message.begin(), message.end());
      ++stream.messages;
    }
    const Bytes read = support::host::ReadRequest(80);
    stream.bytes.insert(stream.bytes.end(), read.begin(), read.end());
    ++stream.messages;
    ++stream.readRequests;
  }
  return stream;
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void Push(DiscardSocket& socket, const Bytes& stream) {
  std::span<const std::uint8_t> rest(stream);
  while (!rest.empty()) {
    const std::size_t n = std::min(rest.size(), nsvt::kReadChunk);
    socket.Feed(rest.first(n));
    rest = rest.subspan(n);
  }
}

struct Result {
  double wallSeconds = 0;
  double cpuSeconds = 0;
  alloc_counter::Counts allocations;
};

struct Options {
  std::size_t megabytes = 128;
  int rounds = 3;
  std::string scenario = "all";
  int stacks = 0;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--mb" && hasValue) {
      options.megabytes = std::strtoul(argv[++i], nullptr, 10);
    } else if (arg == "--rounds" && hasValue) {
      options.rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--scenario" && hasValue) {
      options.scenario = argv[++i];
    } else if (arg == "--stacks" && hasValue) {
      options.stacks = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr,
                   "usage: bench_receive [--mb N] [--rounds R] [--scenario lines|blocks|reads|all]"
                   " [--stacks K]\n");
      return false;
    }
  }
  return options.megabytes > 0;
}

int RunScenario(const Scenario& scenario, const Options& options) {
  BenchFrontEnd frontEnd;
  DiscardSocket* socket = nullptr;
  nsvt::Session session(frontEnd, [&socket](QObject* parent) {
    socket = new DiscardSocket(parent);
    return socket;
  });
  install::Run run(session, frontEnd);
  frontEnd.run = &run;

  // Connected and logged on: the host's opening, then its prompt.
  session.Open(QStringLiteral("127.0.0.1"), 1570);
  Bytes opening;
  for (const Bytes& message : {support::host::NegotiationRequest(), support::host::ReadRequest(80),
                               support::host::LogonNotice("MANAGER.SYS,PUB"),
                               support::host::TermIo(":", 0xD0), support::host::ReadRequest(80)}) {
    opening.insert(opening.end(), message.begin(), message.end());
  }
  socket->Feed(opening);
  if (!session.Connected() || frontEnd.reports != 0) {
    std::fprintf(stderr, "%s: the session did not reach the MPE prompt\n", scenario.name);
    return 1;
  }

  const Stream stream = BuildStream(scenario, options.megabytes * 1000 * 1000);
  const double megabytes = static_cast<double>(stream.bytes.size()) / 1e6;

  // Warm up: the run's text buffers reach their working size (HostText
  // grows to its bound once), caches fill.
  Push(*socket, stream.bytes);

  std::vector<Result> results;
  for (int round = 0; round < options.rounds; ++round) {
    Result result;
    alloc_counter::PrintStacks(round == 0 ? options.stacks : 0);
    const double cpu0 = ThreadCpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    alloc_counter::Start();
    Push(*socket, stream.bytes);
    result.allocations = alloc_counter::Stop();
    const auto wall1 = std::chrono::steady_clock::now();
    result.cpuSeconds = ThreadCpuSeconds() - cpu0;
    result.wallSeconds = std::chrono::duration<double>(wall1 - wall0).count();
    results.push_back(result);
  }

  if (!session.Connected() || frontEnd.reports != 0 || session.HostReadLength() != 80) {
    std::fprintf(stderr, "%s: the session left its state during the run (%d reports)\n",
                 scenario.name, frontEnd.reports);
    return 1;
  }

  std::sort(results.begin(), results.end(),
            [](const Result& a, const Result& b) { return a.wallSeconds < b.wallSeconds; });
  const Result& best = results.front();
  const Result& median = results[results.size() / 2];
  double leastCpu = best.cpuSeconds;
  for (const Result& result : results) {
    leastCpu = std::min(leastCpu, result.cpuSeconds);
  }
  std::uint64_t newCount = 0;
  std::uint64_t mallocCount = 0;
  for (const Result& result : results) {
    newCount += result.allocations.operatorNew;
    mallocCount += result.allocations.malloc;
  }
  const double messages = static_cast<double>(stream.messages) * options.rounds;
  std::printf("%-7s %s\n", scenario.name, scenario.what);
  std::printf(
      "        %.1f MB, %llu messages (%llu read requests) per round, %d rounds\n"
      "        wall: best %.3f s = %.0f MB/s, median %.3f s = %.0f MB/s\n"
      "        cpu (this thread), least of the rounds: %.3f s = %.0f MB/s, %.0f ns per message\n"
      "        allocations per message: operator new %.6f, malloc %.6f (totals %llu, %llu)\n",
      megabytes, static_cast<unsigned long long>(stream.messages),
      static_cast<unsigned long long>(stream.readRequests), options.rounds, best.wallSeconds,
      megabytes / best.wallSeconds, median.wallSeconds, megabytes / median.wallSeconds, leastCpu,
      megabytes / leastCpu, leastCpu * 1e9 / static_cast<double>(stream.messages),
      static_cast<double>(newCount) / messages, static_cast<double>(mallocCount) / messages,
      static_cast<unsigned long long>(newCount), static_cast<unsigned long long>(mallocCount));
  std::fflush(stdout);
  return 0;
}

// The counter must see both kinds of allocation, or a zero proves nothing.
bool CounterWorks() {
  alloc_counter::Start();
  auto* number = new int(7);
  QByteArray bytes(1000, 'x');
  const alloc_counter::Counts seen = alloc_counter::Stop();
  delete number;
  const bool ok = seen.operatorNew >= 1 && (!alloc_counter::CountsMalloc() || seen.malloc >= 1) &&
                  !bytes.isEmpty();
  if (!ok) {
    std::fprintf(stderr,
                 "the allocation counter does not see allocations (new %llu, malloc %llu)\n",
                 static_cast<unsigned long long>(seen.operatorNew),
                 static_cast<unsigned long long>(seen.malloc));
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    return 2;
  }
  QCoreApplication application(argc, argv);
  std::printf("bench_receive: the session's receive path into a run, no script\n");
  if (!alloc_counter::CountsMalloc()) {
    std::printf("(malloc is not interposed on this platform: only operator new is counted)\n");
  }
  if (!alloc_counter::Available()) {
    std::printf("(a sanitizer build: allocations are not counted, and times mean little)\n");
  } else if (!CounterWorks()) {
    return 1;
  }
  int status = 0;
  bool ran = false;
  for (const Scenario& scenario : kScenarios) {
    if (options.scenario == "all" || options.scenario == scenario.name) {
      ran = true;
      status |= RunScenario(scenario, options);
    }
  }
  if (!ran) {
    std::fprintf(stderr, "no scenario named %s\n", options.scenario.c_str());
    return 2;
  }
  return status;
}
