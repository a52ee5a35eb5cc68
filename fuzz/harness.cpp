#include "harness.h"

#include <QCoreApplication>

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzzing {

namespace {

void DropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz: bound broken: %s\n", what);
  std::abort();
}

}  // namespace

void InitApplication() {
  static bool done = false;
  if (done) {
    return;
  }
  done = true;
  qInstallMessageHandler(DropMessage);
  if (QCoreApplication::instance() == nullptr) {
    static int argc = 1;
    static char name[] = "zorbelix-fuzz";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);  // lives as long as the process
  }

  // In memory where the system offers it: the trace and script files of
  // every input are written and truncated there.
  static std::string folder = std::getenv("TMPDIR")                       ? std::getenv("TMPDIR")
                              : std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                                                                          : "/tmp";
  folder += "/zorbelix-fuzz-XXXXXX";
  if (mkdtemp(folder.data()) == nullptr || chdir(folder.c_str()) != 0) {
    std::perror("zorbelix-fuzz: working folder");
    std::abort();
  }
  // A normal end removes it; after a crash it stays for a look.
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  });
}

void Settle() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

Chunker::Chunker(std::uint8_t seed) : state_(0x9E3779B9u ^ seed) {
  static constexpr std::size_t kLimits[] = {16, 300, 36288, 1};
  limit_ = kLimits[seed & 3];
}

std::size_t Chunker::Next() {
  state_ = state_ * 1664525u + 1013904223u;
  return 1 + (state_ >> 8) % limit_;
}

bool Chunker::Coin() {
  state_ = state_ * 1664525u + 1013904223u;
  return (state_ >> 20) & 1;
}

namespace {

constexpr int kReconnectLimit = 4;
constexpr int kReadsPerEventTurn = 32;

}  // namespace

StreamFeeder::StreamFeeder(std::span<const std::uint8_t> stream, std::uint8_t chunkSeed)
    : chunker_(chunkSeed), stream_(stream) {}

std::span<const std::uint8_t> StreamFeeder::NextChunk() {
  const std::size_t n = std::min(chunker_.Next(), stream_.size());
  const std::span<const std::uint8_t> chunk = stream_.first(n);
  stream_ = stream_.subspan(n);
  return chunk;
}

void StreamFeeder::ArriveDuringBox(support::CaptureSocket& socket) {
  if (!stream_.empty() && socket.Connected() && chunker_.Coin()) {
    socket.Arrive(NextChunk());
  }
}

void StreamFeeder::Feed(support::CaptureSocket& socket, bool reconnectAllowed,
                        const std::function<void()>& reconnect, const std::function<bool()>& stop,
                        const std::function<void()>& afterRead) {
  int reconnects = 0;
  int reads = 0;
  while (!stream_.empty() && !stop()) {
    if (!socket.Connected()) {
      if (!reconnectAllowed || ++reconnects > kReconnectLimit) {
        return;
      }
      reconnect();
      continue;
    }
    socket.Inject(NextChunk());
    // Held reads resume from the event loop; otherwise let it turn now and
    // then only, so byte-sized reads stay cheap.
    if (socket.Pending() > 0 || ++reads % kReadsPerEventTurn == 0) {
      QCoreApplication::processEvents();
    }
    afterRead();
  }
}

void StreamFeeder::EndConnection(support::CaptureSocket& socket, bool reset, bool hostCloses) {
  if (reset && socket.Connected()) {
    socket.PeerError(nsvt::kWsaConnectionReset);
  }
  if (hostCloses && socket.Connected()) {
    socket.PeerClose();
  }
}

void CheckBounds(const install::Run& run) {
  if (run.hostText().size() > install::Run::kHostTextLimit) {
    Fail("HostText above kHostTextLimit");
  }
  if (run.rawHostCount() < 0 || static_cast<std::size_t>(run.rawHostCount()) > nsvt::kMaxFrame) {
    Fail("RawHostCount outside RawHostData");
  }
}

}  // namespace fuzzing
