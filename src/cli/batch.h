// Batch: the installations of a run, at most --jobs at once, all in this
// thread and driven by the event loop (each host's session is its own
// state machine; nothing blocks). A host that ends hands its place to the
// next one waiting; one host's failure, drop or silence touches no other.
// A host that finds no free descriptor waits for another to end and starts
// again, and fewer run at once from then on. With a failure limit, hosts
// not started once that many have failed are skipped. When the last host
// has ended the batch reports the summary and says the program's exit
// status.
#pragma once

#include "cli/hostinstall.h"
#include "cli/outcome.h"
#include "cli/report.h"

#include <QElapsedTimer>
#include <QObject>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace cli {

class Batch final : public QObject {
  Q_OBJECT
public:
  using Ended = std::function<void(int exitStatus)>;

  // many: the hosts came from a hosts file (a summary table ends the
  // report). maxFail: failed hosts after which none is started; 0: no
  // limit. ended is called once, from the event loop.
  Batch(std::vector<HostPlan> plans, InstallSettings settings, int jobs, int maxFail, bool many,
        Reporter& reporter, Ended ended);
  ~Batch() override;

  void Start();
  // A signal (its number): hosts not started yet are not started, hosts
  // under way end their sessions; a second one closes every connection.
  void Interrupt(int signalNumber);

  const std::vector<HostResult>& results() const { return results_; }
  const std::vector<HostPlan>& plans() const { return plans_; }

  // Tries of a host that finds no free descriptor while no other host is
  // under way to wait for, a pause apart, before it fails.
  static constexpr int kShortageTries = 20;
  static constexpr int kShortagePauseMs = 500;

private:
  void StartWaitingHosts();
  bool NextHost(std::size_t& index);
  void HostFinished(std::size_t index, const HostResult& result);
  void HostPostponed(std::size_t index);
  void SkipRest();
  void EndUnstarted(Outcome outcome, const std::string& reason);
  void ReleaseHost(std::size_t index);
  void EndIfDone();

  const std::vector<HostPlan> plans_;
  const InstallSettings settings_;
  const std::size_t jobs_;
  const int maxFail_;
  const bool many_;
  Reporter& reporter_;
  Ended ended_;

  std::vector<std::unique_ptr<HostInstall>> running_;  // by plan; empty when not running
  std::vector<HostResult> results_;                    // by plan
  std::vector<bool> done_;
  std::size_t nextPlan_ = 0;
  std::deque<std::size_t> postponed_;  // plans to start again, first come first
  std::vector<int> shortageTries_;     // by plan
  std::size_t runningCount_ = 0;
  std::size_t capacity_;  // hosts at once now: jobs_, less after a want of descriptors
  int failures_ = 0;
  bool skipping_ = false;
  int signalNumber_ = 0;
  bool endReported_ = false;
  QElapsedTimer elapsed_;
};

}  // namespace cli
