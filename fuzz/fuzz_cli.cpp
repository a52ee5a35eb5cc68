// Fuzz target: the unattended installer's host-facing side. Arbitrary host
// bytes, cut into read events of sizes taken from the input, reach a
// HostInstall through the capture socket: the logon (HELLO, the password
// prompts), the VERSION check, the shipped script's run, the error-line and
// first-line readers and the log-off, with all three reporters (live
// terminal, plain, JSON) writing to memory.
//
// Besides the sanitizers it checks, on every input:
//   - no control byte reaches the printed output: the plain and live
//     reports hold none but line ends (and the live report's own cursor
//     sequences), the JSON report none but its line ends;
//   - a host counts as installed only when its run ended, with no failure
//     path taken and no error reported on the way;
//   - the host text readers return what they promise.
//
// Input (as fuzz_receive's, whose corpus seeds this one): byte 0 flags,
// byte 1 chunk seed, then the host's byte stream.
//   flag 0x01  the three passwords are given
//   flag 0x02  --yes (and a group and account confirmation to answer)
//   flag 0x04  --check
//   flag 0x08  --skip-current
//   flag 0x10  a signal after the stream (the session is ended from here)
//   flag 0x20  the host closes the connection after the stream
//   flag 0x40  the connection is reset after the stream
//   flag 0x80  the summary as for a hosts file (a table)
#include "harness.h"

#include "cli/hostinstall.h"
#include "cli/hosttext.h"
#include "cli/reporters.h"
#include "install/asciitext.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr std::uint8_t kPasswords = 0x01;
constexpr std::uint8_t kYes = 0x02;
constexpr std::uint8_t kCheck = 0x04;
constexpr std::uint8_t kSkipCurrent = 0x08;
constexpr std::uint8_t kSignal = 0x10;
constexpr std::uint8_t kHostCloses = 0x20;
constexpr std::uint8_t kReset = 0x40;
constexpr std::uint8_t kManyHosts = 0x80;
constexpr unsigned char kEscape = 0x1b;
constexpr unsigned char kDelete = 0x7f;
constexpr unsigned char kFirstC1 = 0x80;
constexpr unsigned char kLastC1 = 0x9f;
constexpr unsigned char kFirstPrintable = 0x20;

void Fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "fuzz_cli: %s in:\n", what);
  std::fwrite(text.data(), 1, text.size(), stderr);  // NULs and all
  std::fputc('\n', stderr);
  std::abort();
}

bool IsControl(unsigned char c) {
  return (c < kFirstPrintable && c != '\n' && c != '\t') || c == kDelete ||
         (c >= kFirstC1 && c <= kLastC1);
}

// The live report's own sequences: "ESC[K" before a line end, and
// "ESC[nA CR ESC[J" to go back over the lines it drew. Returns how many
// bytes the one at `at` takes; 0 when none starts there.
std::size_t OwnSequence(std::string_view out, std::size_t at) {
  const std::string_view rest = out.substr(at);
  if (rest.starts_with("\x1b[K")) {
    return 3;
  }
  if (!rest.starts_with("\x1b[")) {
    return 0;
  }
  std::size_t i = 2;
  while (i < rest.size() && rest[i] >= '0' && rest[i] <= '9') {
    ++i;
  }
  return i > 2 && rest.substr(i).starts_with("A\r\x1b[J") ? i + 5 : 0;
}

void CheckShownAsText(std::string_view out, bool ownSequences) {
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (ownSequences && static_cast<unsigned char>(out[i]) == kEscape) {
      if (const std::size_t n = OwnSequence(out, i); n > 0) {
        i += n - 1;
        continue;
      }
    }
    if (IsControl(static_cast<unsigned char>(out[i]))) {
      Fail("a control byte in the report", out);
    }
  }
}

void CheckJson(std::string_view out) {
  for (const char c : out) {
    if (static_cast<unsigned char>(c) < kFirstPrintable && c != '\n') {
      Fail("a raw control byte in the JSON report", out);
    }
  }
}

// A report written to memory (to a temporary file where the system has no
// memory streams); Close ends it and reads it back.
class MemoryReport {
public:
#ifndef _WIN32
  MemoryReport() : file(open_memstream(&data_, &size_)) {}
  ~MemoryReport() {
    std::free(data_);
  }
  void Close() {
    std::fclose(file);
    text_.assign(data_, size_);
  }
#else
  MemoryReport() : file(std::tmpfile()) {}
  void Close() {
    std::rewind(file);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
      text_.append(buffer, n);
    }
    std::fclose(file);
  }
#endif
  std::string_view Text() const {
    return text_;
  }

  std::FILE* file;

private:
#ifndef _WIN32
  char* data_ = nullptr;
  std::size_t size_ = 0;
#endif
  std::string text_;
};

// Hands every event to the three reporters, and notes the error boxes.
class TeeReporter final : public cli::Reporter {
public:
  TeeReporter()
      : live_(cli::MakeTerminalReporter(liveOut.file)),
        plain_(cli::MakePlainReporter(plainOut.file)),
        json_(cli::MakeJsonReporter(jsonOut.file)) {}

  // Ends the reports (the live one erases its lines) and checks them.
  void CloseAndCheck() {
    live_.reset();
    plain_.reset();
    json_.reset();
    for (MemoryReport* r : {&liveOut, &plainOut, &jsonOut}) {
      r->Close();
    }
    if (std::getenv("FUZZ_CLI_SHOW") != nullptr) {  // to look at what an input makes
      std::fprintf(stderr, "%.*s", static_cast<int>(plainOut.Text().size()),
                   plainOut.Text().data());
    }
    CheckShownAsText(liveOut.Text(), true);
    CheckShownAsText(plainOut.Text(), false);
    CheckJson(jsonOut.Text());
  }

  void Connected(const std::string& h, const std::string& peer) override {
    Each([&](cli::Reporter& r) { r.Connected(h, peer); });
  }
  void LoggedOn(const std::string& h, const std::string& logon) override {
    Each([&](cli::Reporter& r) { r.LoggedOn(h, logon); });
  }
  void CommandSent(const std::string& h, std::string_view command) override {
    Each([&](cli::Reporter& r) { r.CommandSent(h, command); });
  }
  void Progress(const std::string& h, const cli::ProgressEvent& p) override {
    Each([&](cli::Reporter& r) { r.Progress(h, p); });
  }
  void Box(const std::string& h, const cli::BoxEvent& box) override {
    errorBoxes += box.kind == cli::BoxKind::Error ? 1 : 0;
    Each([&](cli::Reporter& r) { r.Box(h, box); });
  }
  void Result(const cli::HostResult& result) override {
    Each([&](cli::Reporter& r) { r.Result(result); });
  }
  void Summary(const std::vector<cli::HostResult>& results, bool many, int status,
               double seconds) override {
    Each([&](cli::Reporter& r) { r.Summary(results, many, status, seconds); });
  }

  MemoryReport liveOut;
  MemoryReport plainOut;
  MemoryReport jsonOut;
  int errorBoxes = 0;

private:
  template <typename F>
  void Each(F f) {
    f(*live_);
    f(*plain_);
    f(*json_);
  }
  std::unique_ptr<cli::Reporter> live_;
  std::unique_ptr<cli::Reporter> plain_;
  std::unique_ptr<cli::Reporter> json_;
};

// The readers of host text, on the raw stream: their promises.
void CheckReaders(std::string_view text) {
  const std::string error = cli::ErrorLineIn(text);  // "ERR" in any case
  if (!error.empty() && (install::UpperAscii(error).find("ERR") == std::string::npos ||
                         error.find('\n') != std::string::npos)) {
    Fail("ErrorLineIn gave a line without ERR", error);
  }
  if (cli::FirstLineIn(text).find('\n') != std::string::npos) {
    Fail("FirstLineIn gave more than a line", text);
  }
  for (const char c : cli::VisibleText(text)) {
    if (IsControl(static_cast<unsigned char>(c)) || c == '\n') {
      Fail("VisibleText let a control byte through", text);
    }
  }
}

cli::InstallSettings SettingsFor(std::uint8_t flags) {
  cli::InstallSettings s;
  if (flags & kPasswords) {
    for (const cli::PasswordKind kind :
         {cli::PasswordKind::User, cli::PasswordKind::Account, cli::PasswordKind::Group}) {
      s.passwords.Set(kind, "SECRET");
    }
  }
  s.yes = (flags & kYes) != 0;
  s.answers[0] = "ANSWER";
  // With --yes the changed group and account are confirmed, and without it
  // none is asked for, so that the run starts either way.
  s.target = {"PUB", "SYS", "SYS", s.yes};
  s.versionMode = (flags & kCheck)         ? cli::VersionMode::Check
                  : (flags & kSkipCurrent) ? cli::VersionMode::SkipCurrent
                                           : cli::VersionMode::Off;
  s.versionModule = "ZORBELIX";
  s.payloadVersion = "2.5.0.6";
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::InitApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::InitApplication();
  if (size < 2) {
    return 0;
  }
  const std::uint8_t flags = data[0];
  CheckReaders(std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2));
  fuzzing::StreamFeeder feeder(std::span(data + 2, size - 2), data[1]);
  support::CaptureSocket* socket = nullptr;
  cli::InstallSettings settings = SettingsFor(flags);
  settings.makeSocket = [&socket](QObject* parent) {
    socket = new support::CaptureSocket(parent);
    return socket;
  };
  TeeReporter reporter;
  std::optional<cli::HostResult> result;
  {
    const cli::HostPlan plan{{"127.0.0.1", cli::kNsvtPort, {"MANAGER", "SYS", ""}}, ""};
    cli::HostInstall* self = nullptr;
    cli::HostInstall install(
        plan, settings, reporter,
        [&](const cli::HostResult& r) {
          result = r;
          const bool runClean = self != nullptr && !self->run().InProgress() &&
                                !self->run().TookFailurePath() && reporter.errorBoxes == 0;
          if (r.outcome == cli::Outcome::Installed && !runClean) {
            Fail("installed, but the run did not end cleanly", r.reason);
          }
        },
        [] { Fail("put off for want of a descriptor, which a capture socket never lacks", ""); });
    self = &install;
    install.Start();
    QCoreApplication::processEvents();
    if (socket != nullptr) {
      feeder.Feed(
          *socket, false, [] {}, [&] { return result.has_value(); },
          [&] { fuzzing::CheckBounds(install.run()); });
      if (!result && (flags & kSignal)) {
        install.Interrupt();
      }
      fuzzing::StreamFeeder::EndConnection(*socket, (flags & kReset) != 0,
                                           (flags & kHostCloses) != 0);
    }
    if (!result) {
      install.CloseNow();
    }
    fuzzing::Settle();
  }
  if (result) {
    reporter.Summary({*result}, (flags & kManyHosts) != 0, cli::ExitStatusFor(result->outcome),
                     result->seconds);
  }
  reporter.CloseAndCheck();
  fuzzing::Settle();
  return 0;
}
