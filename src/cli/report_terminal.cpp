// On a terminal: one live line per host being installed (what it does now,
// or its transfer's count, percent and KB/s), redrawn in place as a block
// at most ten times a second; boxes and results scroll above the block as
// permanent lines; for many hosts the summary table comes last.
#include "cli/console.h"
#include "cli/hosttext.h"
#include "cli/reporters.h"
#include "cli/reporttext.h"

#include <QTimer>

#include <algorithm>
#include <vector>

namespace cli {

namespace {

constexpr int kRedrawIntervalMs = 100;
constexpr int kMinLiveLines = 1;
// Rows the live block leaves free for the line that scrolls in above it
// and the cursor's own row.
constexpr int kReservedRows = 2;

class TerminalReporter final : public Reporter {
public:
  explicit TerminalReporter(std::FILE* out) : out_(out), size_(QueryTerminalSize()) {
    redraw_.setSingleShot(true);
    redraw_.setInterval(kRedrawIntervalMs);
    QObject::connect(&redraw_, &QTimer::timeout, [this] { Redraw(); });
  }
  ~TerminalReporter() override { Erase(); }

  void Connected(const std::string& host, const std::string& peerName) override {
    SetLine(host, peerName.empty() ? "connected" : "connected to " + peerName);
  }
  void LoggedOn(const std::string& host, const std::string& logon) override {
    SetLine(host, "logged on as " + logon);
  }
  void CommandSent(const std::string& host, std::string_view command) override {
    SetLine(host, "sent " + std::string(command));
  }
  void Progress(const std::string& host, const ProgressEvent& progress) override {
    SetLine(host, ProgressText(progress));
  }
  void Box(const std::string& host, const BoxEvent& box) override {
    Permanent(host + ": " + BoxText(box));
  }
  void Result(const HostResult& result) override {
    live_.erase(std::remove_if(live_.begin(), live_.end(),
                               [&](const LiveLine& line) { return line.host == result.host; }),
                live_.end());
    Permanent(ResultLine(result));
  }
  void Summary(const std::vector<HostResult>& results, bool many, int exitStatus,
               double seconds) override {
    live_.clear();
    Erase();
    if (many) {
      WriteOut(out_, "\n" + SummaryText(results, exitStatus, seconds));
    }
  }

private:
  struct LiveLine {
    std::string host;
    std::string text;  // as shown, the host's label first
  };

  // The host's live line becomes "HOST: TEXT", as it will be shown.
  void SetLine(const std::string& host, const std::string& given) {
    std::string text = VisibleText(host + ": " + given);
    auto line = std::find_if(live_.begin(), live_.end(),
                             [&](const LiveLine& live) { return live.host == host; });
    if (line == live_.end()) {
      live_.push_back({host, std::move(text)});
    } else {
      line->text = std::move(text);
    }
    if (!redraw_.isActive()) {
      redraw_.start();
    }
  }

  // A line that stays: the block is taken away, the line written, the
  // block drawn again below it.
  void Permanent(const std::string& text) {
    Erase();
    std::string shown = VisibleText(text) + "\n";
    shown += Block();
    WriteOut(out_, shown);
  }

  void Redraw() {
    std::string shown = EraseSequence();
    shown += Block();
    WriteOut(out_, shown);
  }

  void Erase() { WriteOut(out_, EraseSequence()); }

  // Moves to the block's first line and clears from there to the end.
  std::string EraseSequence() {
    if (drawn_ == 0) {
      return {};
    }
    std::string sequence = "\x1b[" + std::to_string(drawn_) + "A\r\x1b[J";
    drawn_ = 0;
    return sequence;
  }

  // The live lines, clipped to the terminal's width and, with more hosts
  // than rows, to its height with a count of the hosts not shown.
  std::string Block() {
    const std::size_t rows =
        static_cast<std::size_t>(std::max(kMinLiveLines, size_.height - kReservedRows));
    const std::size_t width = static_cast<std::size_t>(std::max(1, size_.width - 1));
    const bool cut = live_.size() > rows;
    const std::size_t shownHosts = cut ? rows - 1 : live_.size();
    std::string block;
    for (std::size_t i = 0; i < shownHosts; ++i) {
      block += live_[i].text.substr(0, width) + "\x1b[K\n";
    }
    if (cut) {
      block += ("... and " + std::to_string(live_.size() - shownHosts) + " more hosts")
                   .substr(0, width) +
               "\x1b[K\n";
    }
    drawn_ = cut ? rows : live_.size();
    return block;
  }

  std::FILE* out_;
  TerminalSize size_;
  std::vector<LiveLine> live_;
  std::size_t drawn_ = 0;  // lines of the block now on screen
  QTimer redraw_;
};

}  // namespace

std::unique_ptr<Reporter> MakeTerminalReporter(std::FILE* out) {
  return std::make_unique<TerminalReporter>(out);
}

}  // namespace cli
