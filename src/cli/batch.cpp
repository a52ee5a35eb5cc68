#include "cli/batch.h"

#include <QTimer>

#include <algorithm>

namespace cli {

namespace {

constexpr double kMillisecondsPerSecond = 1000.0;

}  // namespace

Batch::Batch(std::vector<HostPlan> plans, InstallSettings settings, int jobs, bool many,
             Reporter& reporter, Ended ended)
    : plans_(std::move(plans)),
      settings_(std::move(settings)),
      jobs_(static_cast<std::size_t>(std::max(1, jobs))),
      many_(many),
      reporter_(reporter),
      ended_(std::move(ended)),
      running_(plans_.size()),
      results_(plans_.size()),
      done_(plans_.size(), false) {}

Batch::~Batch() = default;

void Batch::Start() {
  elapsed_.start();
  StartWaitingHosts();
  EndIfDone();
}

void Batch::StartWaitingHosts() {
  while (signalNumber_ == 0 && runningCount_ < jobs_ && nextPlan_ < plans_.size()) {
    const std::size_t index = nextPlan_++;
    running_[index] = std::make_unique<HostInstall>(
        plans_[index], settings_, reporter_,
        [this, index](const HostResult& result) { HostFinished(index, result); });
    ++runningCount_;
    running_[index]->Start();
  }
}

// Called from inside the host's own handlers: the host is released, and
// the next one started, once those have returned.
void Batch::HostFinished(std::size_t index, const HostResult& result) {
  results_[index] = result;
  done_[index] = true;
  QTimer::singleShot(0, this, [this, index] {
    ReleaseHost(index);
    StartWaitingHosts();
    EndIfDone();
  });
}

void Batch::ReleaseHost(std::size_t index) {
  if (running_[index]) {
    running_[index].reset();
    --runningCount_;
  }
}

void Batch::Interrupt(int signalNumber) {
  const bool again = signalNumber_ != 0;
  signalNumber_ = signalNumber;
  for (std::size_t index = nextPlan_; index < plans_.size(); ++index) {
    if (!done_[index]) {
      done_[index] = true;
      results_[index] = {plans_[index].entry.Label(), Outcome::Interrupted,
                         "interrupted before its installation started", 0};
      reporter_.Result(results_[index]);
    }
  }
  nextPlan_ = plans_.size();
  for (const std::unique_ptr<HostInstall>& host : running_) {
    if (host) {
      again ? host->CloseNow() : host->Interrupt();
    }
  }
  EndIfDone();
}

void Batch::EndIfDone() {
  if (endReported_ || runningCount_ > 0 || nextPlan_ < plans_.size()) {
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
