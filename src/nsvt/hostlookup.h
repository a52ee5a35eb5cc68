// The peer's name, looked up beside the session and never in front of it.
//
// A reverse lookup may take seconds, or never answer. It runs on a few
// worker threads shared by the whole process, at most kMaxLookupsAtOnce at a
// time (a queue holds the rest), so that a thousand connections cost no more
// than a handful of threads and no descriptors. The workers are detached: a
// lookup still waiting for its resolver never holds the process back once
// its work is done. The answer comes back on the receiver's thread, and not
// at all when the receiver is gone or the lookup was cancelled.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

namespace nsvt {

inline constexpr int kMaxLookupsAtOnce = 8;

// Looks an address literal up in reverse and blocks until it has the answer:
// the name, or empty when there is none. Runs on a worker thread.
using ReverseResolver = std::function<QString(const QString& address)>;
using PeerNamed = std::function<void(const QString& name)>;

// Cancels its lookup when asked to or when it goes: a cancelled lookup that
// has not started never calls its resolver, and none reports its answer.
class LookupTicket {
public:
  LookupTicket() = default;
  explicit LookupTicket(std::shared_ptr<std::atomic<bool>> cancelled)
      : cancelled_(std::move(cancelled)) {}
  ~LookupTicket() { Cancel(); }
  LookupTicket(LookupTicket&&) noexcept = default;
  LookupTicket& operator=(LookupTicket&& other) noexcept {
    Cancel();
    cancelled_ = std::move(other.cancelled_);
    return *this;
  }
  LookupTicket(const LookupTicket&) = delete;
  LookupTicket& operator=(const LookupTicket&) = delete;

  void Cancel() {
    if (cancelled_) {
      cancelled_->store(true);
      cancelled_.reset();
    }
  }

private:
  std::shared_ptr<std::atomic<bool>> cancelled_;
};

// Queues a reverse lookup of address with resolver (empty: the system's);
// done runs on receiver's thread with the name.
LookupTicket LookUpPeerName(const QString& address, QObject* receiver, PeerNamed done,
                            ReverseResolver resolver = {});

// The system's reverse lookup (getnameinfo); empty when the address has no
// name.
QString SystemReverseLookup(const QString& address);

// Puts resolver in the place of the system's for every lookup that names
// none (a test build's resolver that never answers, or answers late).
void SetDefaultReverseResolver(ReverseResolver resolver);

// Lookups running or waiting, for tests and diagnostics.
int LookupsInFlight();

}  // namespace nsvt
