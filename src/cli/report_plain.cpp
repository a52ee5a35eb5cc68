// Plain lines, one per event, for logs and pipes: "HOST: connected",
// "HOST: sent PURGE ZORBELIX", progress at most once a second per host, the
// boxes, the result line, and for many hosts the summary table.
#include "cli/hosttext.h"
#include "cli/reporters.h"
#include "cli/reporttext.h"

namespace cli {

namespace {

class PlainReporter final : public Reporter {
public:
  explicit PlainReporter(std::FILE* out) : out_(out) {}

  void Connected(const std::string& host, const std::string& peerName) override {
    Line(host, peerName.empty() ? "connected" : "connected to " + peerName);
  }
  void LoggedOn(const std::string& host, const std::string& logon) override {
    Line(host, "logged on as " + logon);
  }
  void CommandSent(const std::string& host, std::string_view command) override {
    Line(host, "sent " + std::string(command));
  }
  void Progress(const std::string& host, const ProgressEvent& progress) override {
    if (throttle_.Due(host, progress)) {
      Line(host, ProgressText(progress));
    }
  }
  void Box(const std::string& host, const BoxEvent& box) override { Line(host, BoxText(box)); }
  void Result(const HostResult& result) override {
    throttle_.Forget(result.host);
    WriteOut(out_, VisibleText(ResultLine(result)) + "\n");
  }
  void Summary(const std::vector<HostResult>& results, bool many, int exitStatus,
               double seconds) override {
    if (many) {
      WriteOut(out_, "\n" + SummaryText(results, exitStatus, seconds));
    }
  }

private:
  void Line(const std::string& host, const std::string& text) {
    WriteOut(out_, VisibleText(host + ": " + text) + "\n");
  }

  std::FILE* out_;
  ProgressThrottle throttle_;
};

}  // namespace

std::unique_ptr<Reporter> MakePlainReporter(std::FILE* out) {
  return std::make_unique<PlainReporter>(out);
}

}  // namespace cli
