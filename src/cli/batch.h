// Batch: the installations of a run, at most --jobs at once, all in this
// thread and driven by the event loop (each host's session is its own
// state machine; nothing blocks). A host that ends hands its place to the
// next one waiting; one host's failure, drop or silence touches no other.
// When the last host has ended the batch reports the summary and says the
// program's exit status.
#pragma once

#include "cli/hostinstall.h"
#include "cli/outcome.h"
#include "cli/report.h"

#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <memory>
#include <vector>

namespace cli {

class Batch final : public QObject {
  Q_OBJECT
public:
  using Ended = std::function<void(int exitStatus)>;

  // many: the hosts came from a hosts file (a summary table ends the
  // report). ended is called once, from the event loop.
  Batch(std::vector<HostPlan> plans, InstallSettings settings, int jobs, bool many,
        Reporter& reporter, Ended ended);
  ~Batch() override;

  void Start();
  // A signal (its number): hosts not started yet are not started, hosts
  // under way end their sessions; a second one closes every connection.
  void Interrupt(int signalNumber);

private:
  void StartWaitingHosts();
  void HostFinished(std::size_t index, const HostResult& result);
  void ReleaseHost(std::size_t index);
  void EndIfDone();

  const std::vector<HostPlan> plans_;
  const InstallSettings settings_;
  const std::size_t jobs_;
  const bool many_;
  Reporter& reporter_;
  Ended ended_;

  std::vector<std::unique_ptr<HostInstall>> running_;  // by plan; empty when not running
  std::vector<HostResult> results_;                    // by plan
  std::vector<bool> done_;
  std::size_t nextPlan_ = 0;
  std::size_t runningCount_ = 0;
  int signalNumber_ = 0;
  bool endReported_ = false;
  QElapsedTimer elapsed_;
};

}  // namespace cli
