#include "cli/batch.h"

#include <QTimer>

#include <algorithm>

namespace cli {

namespace {

constexpr double kMillisecondsPerSecond = 1000.0;
const char kShortageReason[] =
    "cannot connect: no free file descriptor, and no other host under way to wait for";
const char kSkippedReason[] = "not started: --max-fail hosts had failed";

}  // namespace

Batch::Batch(std::vector<HostPlan> plans, InstallSettings settings, int jobs, int maxFail,
             bool many, Reporter& reporter, Ended ended)
    : plans_(std::move(plans)),
      settings_(std::move(settings)),
      jobs_(static_cast<std::size_t>(std::max(1, jobs))),
      maxFail_(maxFail),
      many_(many),
      reporter_(reporter),
      ended_(std::move(ended)),
      running_(plans_.size()),
      results_(plans_.size()),
      done_(plans_.size(), false),
      shortageTries_(plans_.size(), 0),
      capacity_(jobs_) {}

Batch::~Batch() = default;

void Batch::Start() {
  elapsed_.start();
  StartWaitingHosts();
  EndIfDone();
}

// The next host to start: one put back for want of descriptors first.
bool Batch::NextHost(std::size_t& index) {
  if (!postponed_.empty()) {
    index = postponed_.front();
    postponed_.pop_front();
    return true;
  }
  if (nextPlan_ < plans_.size()) {
    index = nextPlan_++;
    return true;
  }
  return false;
}

void Batch::StartWaitingHosts() {
  std::size_t index = 0;
  while (signalNumber_ == 0 && !skipping_ && runningCount_ < capacity_ && NextHost(index)) {
    running_[index] = std::make_unique<HostInstall>(
        plans_[index], settings_, reporter_,
        [this, index](const HostResult& result) { HostFinished(index, result); },
        [this, index] { HostPostponed(index); });
    ++runningCount_;
    running_[index]->Start();
  }
}

// Called from inside the host's own handlers: the host is released, and
// the next one started, once those have returned.
void Batch::HostFinished(std::size_t index, const HostResult& result) {
  results_[index] = result;
  done_[index] = true;
  if (ExitStatusFor(result.outcome) != kExitInstalled && result.outcome != Outcome::Interrupted &&
      ++failures_ == maxFail_) {
    skipping_ = true;
  }
  QTimer::singleShot(0, this, [this, index] {
    ReleaseHost(index);
    capacity_ = std::min(jobs_, capacity_ + 1);  // room again, a step at a time
    if (skipping_) {
      SkipRest();
    }
    StartWaitingHosts();
    EndIfDone();
  });
}

// No descriptor was free: the host waits for one under way to end, and the
// batch runs no more at once than it does now. With none to wait for it
// tries again after a pause, a bounded number of times.
void Batch::HostPostponed(std::size_t index) {
  QTimer::singleShot(0, this, [this, index] {
    ReleaseHost(index);
    if (signalNumber_ != 0 || skipping_) {
      postponed_.push_front(index);
      signalNumber_ != 0
          ? EndUnstarted(Outcome::Interrupted, "interrupted before its installation started")
          : SkipRest();
      EndIfDone();
      return;
    }
    capacity_ = std::max<std::size_t>(1, runningCount_);
    postponed_.push_front(index);
    if (runningCount_ > 0) {
      return;  // the next host to end starts it
    }
    if (++shortageTries_[index] >= kShortageTries) {
      postponed_.pop_front();
      done_[index] = true;
      results_[index] = {plans_[index].entry.Label(), Outcome::NotLoggedOn, kShortageReason, 0};
      reporter_.Result(results_[index]);
      StartWaitingHosts();
      EndIfDone();
      return;
    }
    QTimer::singleShot(kShortagePauseMs, this, [this] {
      StartWaitingHosts();
      EndIfDone();
    });
  });
}

void Batch::ReleaseHost(std::size_t index) {
  if (running_[index]) {
    running_[index].reset();
    --runningCount_;
  }
}

// Every host not yet started (or put back) ends so, reported at once.
void Batch::EndUnstarted(Outcome outcome, const std::string& reason) {
  std::size_t index = 0;
  while (NextHost(index)) {
    if (!done_[index]) {
      done_[index] = true;
      results_[index] = {plans_[index].entry.Label(), outcome, reason, 0};
      reporter_.Result(results_[index]);
    }
  }
}

void Batch::SkipRest() {
  EndUnstarted(Outcome::Skipped, kSkippedReason);
}

void Batch::Interrupt(int signalNumber) {
  const bool again = signalNumber_ != 0;
  signalNumber_ = signalNumber;
  EndUnstarted(Outcome::Interrupted, "interrupted before its installation started");
  for (const std::unique_ptr<HostInstall>& host : running_) {
    if (host) {
      again ? host->CloseNow() : host->Interrupt();
    }
  }
  EndIfDone();
}

void Batch::EndIfDone() {
  if (endReported_ || runningCount_ > 0 || nextPlan_ < plans_.size() || !postponed_.empty()) {
    return;
  }
  if (!std::all_of(done_.begin(), done_.end(), [](bool done) { return done; })) {
    return;
  }
  endReported_ = true;
  const int status = CombinedExitStatus(results_, signalNumber_);
  reporter_.Summary(results_, many_, status,
                    static_cast<double>(elapsed_.elapsed()) / kMillisecondsPerSecond);
  ended_(status);
}

}  // namespace cli
