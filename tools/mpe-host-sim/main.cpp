// mpe-host-sim: an HP 3000 running MPE/iX behind NS/VT, for rehearsing
// installations and for the installer's tests. See README.md.
#include <sys/socket.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

#include "simserver.h"

namespace {

constexpr int kExitUsage = 64;
constexpr int kExitCannotStart = 70;
int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

// Turns SIGINT and SIGTERM into an orderly stop of the event loop.
void watchSignals(QCoreApplication& app, const std::vector<std::unique_ptr<SimServer>>& servers) {
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
    return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, &servers] {
    char c;
    [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &c, 1);
    std::fprintf(stderr, "mpe-host-sim: stopping\n");
    int verdict = 0;
    for (const auto& server : servers)
      verdict |= server->verdict();
    app.exit(verdict);
  });
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
}

// Seeds the store with --put files.
bool putFiles(const SimOptions& o, mpe::HostStore& store, QString* error) {
  for (const auto& [target, path] : o.puts) {
    const QString name = target.section(':', 0, 0);
    const QString code = target.section(':', 1);
    const std::optional<mpe::FileRef> ref = mpe::parseFileName(name, "PUB", "SYS");
    QFile local(path);
    if (!ref || !local.open(QIODevice::ReadOnly)) {
      *error = QString("--put %1=%2: bad name or unreadable file").arg(target, path);
      return false;
    }
    mpe::MpeFile file;
    file.data = local.readAll();
    bool numeric = false;
    const int number = code.toInt(&numeric);
    file.attr.code =
        numeric ? number : mpe::fileCodeForMnemonic(code.isEmpty() ? "NMPRG" : code).value_or(0);
    file.attr.recordCount = (file.data.size() + file.attr.recordSize - 1) / file.attr.recordSize;
    file.attr.limit = file.attr.recordCount;
    if (!store.save(*ref, file, error))
      return false;
  }
  for (const QString& name : o.inUse) {
    const std::optional<mpe::FileRef> ref = mpe::parseFileName(name, "PUB", "SYS");
    if (!ref) {
      *error = "--in-use " + name + ": not a file name";
      return false;
    }
    store.pinInUse(*ref);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  SimOptions options;
  QString text;
  switch (parseOptions(app.arguments(), &options, &text)) {
    case ParseResult::Help:
      std::fputs(qPrintable(text), stdout);
      return 0;
    case ParseResult::Error:
      std::fprintf(stderr, "mpe-host-sim: %s\n", qPrintable(text));
      return kExitUsage;
    case ParseResult::Run:
      break;
  }

  QString storeDir = options.storeDir;
  if (storeDir.isEmpty()) {
    QTemporaryDir fresh(QDir::tempPath() + "/mpe-host-sim-XXXXXX");
    fresh.setAutoRemove(false);  // kept, so the installed files can be inspected
    storeDir = fresh.path();
  }
  if (storeDir.isEmpty() || !QDir().mkpath(storeDir)) {
    std::fprintf(stderr, "mpe-host-sim: cannot create store %s\n", qPrintable(storeDir));
    return kExitCannotStart;
  }
  // One host per listen address: its own store (the folder itself for one
  // host, DIR/1 to DIR/N for many), one transcript for all.
  Transcript transcript;
  if (!transcript.open(options.transcriptFile, &text)) {
    std::fprintf(stderr, "mpe-host-sim: %s\n", qPrintable(text));
    return kExitCannotStart;
  }
  std::vector<std::unique_ptr<mpe::HostStore>> stores;
  std::vector<std::unique_ptr<SimServer>> servers;
  for (int i = 0; i < options.listenCount; ++i) {
    const QString dir =
        options.listenCount == 1 ? storeDir : storeDir + "/" + QString::number(i + 1);
    const QHostAddress address(options.address.toIPv4Address() + static_cast<quint32>(i));
    if (!QDir().mkpath(dir)) {
      std::fprintf(stderr, "mpe-host-sim: cannot create store %s\n", qPrintable(dir));
      return kExitCannotStart;
    }
    stores.push_back(std::make_unique<mpe::HostStore>(dir));
    if (!putFiles(options, *stores.back(), &text)) {
      std::fprintf(stderr, "mpe-host-sim: %s\n", qPrintable(text));
      return kExitCannotStart;
    }
    servers.push_back(std::make_unique<SimServer>(options, *stores.back(), transcript));
    if (!servers.back()->listen(options.listenCount == 1 ? options.address : address, &text)) {
      std::fprintf(stderr, "mpe-host-sim: cannot listen on %s:%u: %s\n",
                   qPrintable(address.toString()), options.port, qPrintable(text));
      return kExitCannotStart;
    }
    std::fprintf(stderr, "mpe-host-sim: listening on %s:%u\n",
                 qPrintable((options.listenCount == 1 ? options.address : address).toString()),
                 servers.back()->port());
  }
  std::fprintf(stderr, "mpe-host-sim: store %s\n", qPrintable(QDir(storeDir).absolutePath()));
  std::fflush(stderr);
  // With --once the program ends when every host has served its session.
  int servedHosts = 0;
  int verdicts = 0;
  for (const auto& server : servers) {
    QObject::connect(server.get(), &SimServer::done, &app,
                     [&app, &servedHosts, &verdicts, &servers](int verdict) {
                       verdicts |= verdict;
                       if (++servedHosts == static_cast<int>(servers.size()))
                         app.exit(verdicts);
                     });
  }
  watchSignals(app, servers);
  return app.exec();
}
