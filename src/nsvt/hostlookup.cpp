// The bounded reverse resolver: a queue of lookups, drained by at most
// kMaxLookupsAtOnce detached worker threads, each posting its answer back
// to the application's thread.
#include "nsvt/hostlookup.h"
#include "nsvt/systemsocket.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QPointer>

#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace nsvt {

namespace {

struct Job {
  QString address;
  ReverseResolver resolver;
  QPointer<QObject> receiver;  // read on the receiver's thread only
  PeerNamed done;
  std::shared_ptr<std::atomic<bool>> cancelled;
};

// Shared with the detached workers, which may outlive main: never
// destroyed, so a worker finishing during exit finds it intact.
struct Pool {
  std::mutex mutex;
  std::deque<Job> queue;
  int workers = 0;
  int running = 0;
  bool appGone = false;
  ReverseResolver fallback;
};

Pool& ThePool() {
  static Pool* pool = [] {
    auto* created = new Pool;  // deliberately never freed, see above
    return created;
  }();
  return *pool;
}

// Once the application object goes no answer can be delivered.
void MarkAppGone() {
  Pool& pool = ThePool();
  const std::lock_guard lock(pool.mutex);
  pool.appGone = true;
}

void Deliver(Pool& pool, Job job, const QString& name) {
  const std::lock_guard lock(pool.mutex);
  QCoreApplication* app = QCoreApplication::instance();
  if (pool.appGone || app == nullptr || job.cancelled->load()) {
    return;
  }
  QMetaObject::invokeMethod(
      app,
      [receiver = std::move(job.receiver), done = std::move(job.done),
       cancelled = std::move(job.cancelled), name] {
        if (receiver != nullptr && !cancelled->load()) {
          done(name);
        }
      },
      Qt::QueuedConnection);
}

void Work() {
  Pool& pool = ThePool();
  for (;;) {
    Job job;
    {
      const std::lock_guard lock(pool.mutex);
      if (pool.queue.empty()) {
        --pool.workers;
        return;
      }
      job = std::move(pool.queue.front());
      pool.queue.pop_front();
      ++pool.running;
    }
    QString name;
    if (!job.cancelled->load()) {
      name = job.resolver ? job.resolver(job.address) : SystemReverseLookup(job.address);
    }
    {
      const std::lock_guard lock(pool.mutex);
      --pool.running;
    }
    Deliver(pool, std::move(job), name);
  }
}

}  // namespace

LookupTicket LookUpPeerName(const QString& address, QObject* receiver, PeerNamed done,
                            ReverseResolver resolver) {
  static const bool hooked = [] {
    qAddPostRoutine(MarkAppGone);
    return true;
  }();
  Q_UNUSED(hooked);
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  Pool& pool = ThePool();
  const std::lock_guard lock(pool.mutex);
  pool.queue.push_back({address, resolver ? std::move(resolver) : pool.fallback,
                        QPointer<QObject>(receiver), std::move(done), cancelled});
  if (pool.workers < kMaxLookupsAtOnce) {
    ++pool.workers;
    std::thread(Work).detach();
  }
  return LookupTicket(std::move(cancelled));
}

QString SystemReverseLookup(const QString& address) {
  const QHostAddress parsed(address);
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (parsed.protocol() == QAbstractSocket::IPv4Protocol) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = htonl(parsed.toIPv4Address());
    length = sizeof(sockaddr_in);
  } else if (parsed.protocol() == QAbstractSocket::IPv6Protocol) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    v6->sin6_family = AF_INET6;
    const Q_IPV6ADDR raw = parsed.toIPv6Address();
    std::memcpy(&v6->sin6_addr, raw.c, sizeof raw.c);
    length = sizeof(sockaddr_in6);
  } else {
    return {};
  }
  char name[NI_MAXHOST] = {};
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&storage), length, name, sizeof name, nullptr,
                    0, NI_NAMEREQD) != 0) {
    return {};
  }
  return QString::fromLocal8Bit(name);
}

void SetDefaultReverseResolver(ReverseResolver resolver) {
  Pool& pool = ThePool();
  const std::lock_guard lock(pool.mutex);
  pool.fallback = std::move(resolver);
}

int LookupsInFlight() {
  Pool& pool = ThePool();
  const std::lock_guard lock(pool.mutex);
  return static_cast<int>(pool.queue.size()) + pool.running;
}

}  // namespace nsvt
