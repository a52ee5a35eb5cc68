// zorbelix-install end to end: the real program, started with QProcess,
// against mpe-host-sim children, one row of the table per case. A row's
// simulators listen on 127.0.B.2, 127.0.B.3, ... port 1570 (every 127.x
// address is local on Linux); B is 0 unless another run holds those.
// Every row checks the exit status, the last line (or the summary row of
// each host), what each host stored, that no simulator saw a protocol
// deviation, that no password shows in the output or a trace, and that no
// control character reaches standard output or error except as a line end;
// --json rows check every line against the events' fields.
#include "e2eharness.h"
#include "reservedport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <map>
#include <memory>
#include <vector>

using e2e::SimHost;

namespace {

constexpr int kRunLimitMs = 120000;
constexpr int kFleetEndWaitMs = 10000;  // the simulator's last session-end lines
constexpr int kAddressBlocks = 8;       // 127.0.0.x, then 127.0.1.x, ... when taken
const QString kPort = QStringLiteral("1570");
const char kLogon[] = "MANAGER.SYS";
const QString kUserPassword = QStringLiteral("Q7USERPW");
const QString kAccountPassword = QStringLiteral("Q7ACCTPW");

// One host: its simulator's options, the outcome its summary row (or the
// last line) names: "installed", "failed", "not logged on", "interrupted",
// "current" or "checked" (a pattern: the row's version columns may follow),
// and the ZORBELIX it holds before the run.
enum class Held { Nothing, Older, Shipped };
struct Host {
  QStringList simArgs{};
  QString outcome{};
  Held held = Held::Nothing;
  bool saved = false;  // the new ZORBELIX is on the host though not reported installed
};

enum class Program { Shipped, AlteredSettings };
// SIGTERM or SIGHUP once a record went.
enum class Stop { None, WhenCopying, HangUpWhenCopying };
// What is planted where the run's trace or password file goes: a link to
// a file that must stay as it is, a FIFO, a file of another user's.
enum class Plant { None, TraceLink, TraceFifo, PasswordFifo, PasswordOfNobody };
enum class HostsVia { File, Options, StandardInput };

struct Case {
  const char* name = nullptr;
  std::vector<Host> hosts{};  // none: a port nobody listens on
  QStringList args{};         // besides --host/--hosts, --port and --logon
  int exitStatus = 0;
  // A pattern of stdout's last line, or of stderr's first for bad usage.
  const char* line = nullptr;
  QStringList env{};  // NAME=VALUE
  const char* passwordFile = nullptr;
  bool passwordFileOpen = false;  // readable by the group and others
  QByteArray hostsFile{};         // its text; else one line per host, when many
  bool many = false;
  Program program = Program::Shipped;
  Stop stop = Stop::None;
  Plant plant = Plant::None;
  bool outputFull = false;  // standard output is /dev/full
  // A pattern the output must hold somewhere, and one it must not.
  const char* shown = nullptr;
  const char* notShown = nullptr;
  // One simulator serving this many addresses (--listen-count), each a host
  // that must install; hosts is empty then.
  int fleet = 0;
  int fileLimit = 0;                // the installer's RLIMIT_NOFILE; 0: as it is
  HostsVia via = HostsVia::File;    // how the hosts reach the installer, when many
  const char* retryFile = nullptr;  // --retry-file's expected text (@N: the Nth address)
};

const QStringList kWithPasswords = {"--password", kUserPassword, "--account-password",
                                    kAccountPassword};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {.name = "shipped installation",
       .hosts = {{{}, "installed"}},
       .line = R"(^host 127\.0\.\d+\.2: installed \(EXIT\) in \d+\.\d s$)"},
      {.name = "passwords from a file, JSON, a trace",
       .hosts = {{kWithPasswords, "installed"}},
       .args = {"--json", "--trace", "@trace"},
       .line =
           R"(^\{"checked":0,"current":0,"elapsed_s":[0-9.]+,"event":"summary","exit_status":0,)",
       .passwordFile = "# for the test\nuser=Q7USERPW\naccount=Q7ACCTPW\n"},
      {.name = "many hosts, one CIERR, one drop",
       .hosts = {{{}, "installed"},
                 {{"--fail", "PURGE"}, "failed"},
                 {{"--drop-at", "fcopy-record:200"}, "failed"},
                 {{}, "installed"},
                 {{}, "installed"}},
       .args = {"--jobs", "3", "--trace", "@trace"},
       .exitStatus = 1,
       .line = R"(^summary: 3 of 5 hosts installed, 2 failed in \d+\.\d s; exit status 1$)",
       .many = true},
      {.name = "wrong password",
       .hosts = {{kWithPasswords, "not logged on"}},
       .exitStatus = 2,
       .line = R"(: not logged on after .*: the host refused the (user|account) password$)",
       .env = {"ZORBELIX_USER_PASSWORD=WRONG", "ZORBELIX_ACCOUNT_PASSWORD=WRONG"}},
      {.name = "refused connection",
       .exitStatus = 2,
       .line = R"(: not logged on after .*: cannot connect: .*\(10061\)$)"},
      {.name = "group needing confirmation, no --yes",
       .hosts = {{{}, "failed"}},
       .args = {"--group", "xyz"},
       .exitStatus = 1,
       .line = R"(: failed after .*XYZ\.SYS.*--yes.*nothing was started$)",
       .program = Program::AlteredSettings},
      {.name = "group needing confirmation, --yes",
       .hosts = {{{}, "installed"}},
       .args = {"--group", "xyz", "--yes"},
       .line = R"(: installed \(EXIT\))",
       .program = Program::AlteredSettings},
      {.name = "password file readable by others",
       .exitStatus = 64,
       .line = R"(passwords may be read or written by others \(mode 0644\); .*chmod 600)",
       .passwordFile = "user=Q7USERPW\n",
       .passwordFileOpen = true},
      {.name = "malformed hosts file",
       .exitStatus = 64,
       .line = R"(hosts\.txt, line 3: '99999' is not a port number)",
       .hostsFile = "# sites\n127.0.0.2\n127.0.0.3:99999\n",
       .many = true},
      {.name = "silent host",
       .hosts = {{{"--silent-at", "fcopy-record:100"}, "failed"}},
       .args = {"--timeout", "1"},
       .exitStatus = 1,
       .line = R"(: no progress from the host for 1 s while copying ZORBELIX, after record 99 of )"
               R"(438; ZORBELIX was not installed, and the previous ZORBELIX, if any, is still )"
               R"(on the host$)"},
      {.name = "resolver that never answers: nothing waits for it",
       .hosts = {{{}, "installed"}, {{}, "installed"}, {{}, "installed"}},
       .args = {"--timeout", "1", "--json"},
       .line = R"(^\{"checked":0,"current":0,.*"exit_status":0,.*"installed":3,)",
       .env = {"E2E_RESOLVER=silent"},
       .many = true,
       .program = Program::AlteredSettings,
       .notShown = "peer_name"},
      {.name = "resolver that answers late: the name as an event of its own",
       .hosts = {{{"--latency-ms", "2"}, "installed"}},
       .args = {"--json"},
       .line = R"("event":"summary")",
       .env = {"E2E_RESOLVER=slow:100"},
       .program = Program::AlteredSettings,
       .shown = R"("event":"peer_name","host":"127\.0\.\d+\.2","name":"slow\.example")"},
      {.name = "--no-reverse-lookup",
       .hosts = {{{}, "installed"}},
       .args = {"-n", "--json"},
       .line = R"("event":"summary")",
       .env = {"E2E_RESOLVER=slow:1"},
       .program = Program::AlteredSettings,
       .notShown = "peer_name"},
      {.name = "a host that stops reading, beside healthy ones",
       .hosts = {{{"--stop-reading-at", "after-logon"}, "failed"},
                 {{}, "installed"},
                 {{}, "installed"},
                 {{}, "installed"}},
       .args = {"--timeout", "5", "--jobs", "4"},
       .exitStatus = 1,
       .line = R"(^summary: 3 of 4 hosts installed, 1 failed in \d+\.\d s; exit status 1$)",
       .many = true,
       .shown = R"(No buffer space: .*\(10055\))"},
      {.name = "interrupted while copying",
       .hosts = {{{"--latency-ms", "20"}, "interrupted"}},
       .exitStatus = 143,
       .line = R"(: interrupted while copying ZORBELIX, after record \d+ of 438; ZORBELIX was )"
               R"(not installed, .* still on the host; the installation did not complete$)",
       .stop = Stop::WhenCopying},
      {.name = "--check: an older version, none, the same",
       .hosts = {{{}, R"(checked +0\.\d s +2\.4\.0\.0 +2\.5\.0\.6 +install)", Held::Older},
                 {{}, R"(checked +0\.\d s +none +2\.5\.0\.6 +install)"},
                 {{}, R"(checked +0\.\d s +2\.5\.0\.6 +2\.5\.0\.6 +none)", Held::Shipped}},
       .args = {"--check"},
       .line = R"(^summary: 0 of 3 hosts installed, 3 checked in \d+\.\d s; exit status 0$)",
       .many = true},
      {.name = "--skip-current, JSON",
       .hosts = {{{}, "current", Held::Shipped}, {{}, "installed", Held::Older}, {{}, "installed"}},
       .args = {"--skip-current", "--json"},
       .line = R"(^\{"checked":0,"current":1,.*"exit_status":0,.*"installed":2,)",
       .many = true},
      {.name = "hung up while copying",
       .hosts = {{{"--latency-ms", "20"}, "interrupted"}},
       .exitStatus = 129,
       .line = R"(: interrupted while copying ZORBELIX, after record \d+ of 438; )",
       .stop = Stop::HangUpWhenCopying},
      {.name = "hostile logon notice",
       .hosts = {{{"--logon-notice", "MANAGER.SYS,PUB\x1b]0;HOSTILE TITLE\x07\x1b[2J"},
                  "installed"}},
       .line = R"(: installed \(EXIT\))"},
      {.name = "hostile hosts file line",
       .exitStatus = 64,
       .line = R"(hosts\.txt, line 2: '127\.0\.0\.3\^@\^\[\[2J' is not a host name)",
       .hostsFile = QByteArray("127.0.0.2\n127.0.0.3\0\x1b[2J\n", 25),
       .many = true},
      {.name = "trace path a link",
       .args = {"--trace", "@trace"},
       .exitStatus = 64,
       .line = R"(cannot write the trace file .*trace: it is a symbolic link$)",
       .plant = Plant::TraceLink},
      {.name = "trace folder holding a FIFO",
       .args = {"--trace", "@trace"},
       .exitStatus = 64,
       .line = R"(cannot write the trace file .*127\.0\.0\.2\.trace: it is not a plain file$)",
       .hostsFile = "127.0.0.2\n",
       .many = true,
       .plant = Plant::TraceFifo},
      {.name = "password file a FIFO",
       .exitStatus = 64,
       .line = R"(the password file .*passwords is not a plain file$)",
       .passwordFile = "user=Q7USERPW\n",
       .plant = Plant::PasswordFifo},
      {.name = "password file of another user",
       .exitStatus = 64,
       .line = R"(the password file .*passwords belongs to another user)",
       .passwordFile = "user=Q7USERPW\n",
       .plant = Plant::PasswordOfNobody},
      {.name = "JSON to a full disc",
       .hosts = {{{}, "installed"}},
       .args = {"--json"},
       .exitStatus = 74,
       .line = R"(^zorbelix-install: cannot write to standard output: No space left on device$)",
       .outputFull = true},
      {.name = "planned failure: error line, MSGB, EXIT",
       .hosts = {{{"--fail", "PURGE"}, "failed"}},
       .exitStatus = 1,
       .line = R"(: failed after .*: File is in use\. +Cannot continue\.)",
       .env = {"E2E_SCRIPT_LINE=24=SEND2~PURGE ZORBELIX~CIERR~920"},
       .program = Program::AlteredSettings},
      {.name = "drop after SAVE",
       .hosts = {{{"--drop-at", "command:SAVE"}, "failed", Held::Nothing, true}},
       .exitStatus = 1,
       .line = R"(: failed after .*ZORBELIX may be installed: check with LISTFILE )"
               R"(ZORBELIX\.PUB\.SYS,2\.$)"},
      {.name = "100 hosts at --jobs 100 under an open-file limit of 64",
       .args = {"--jobs", "100"},
       .line = R"(^summary: 100 of 100 hosts installed in \d+\.\d s; exit status 0$)",
       .many = true,
       .fleet = 100,
       .fileLimit = 64},
      {.name = "hosts that talk and never ask, from standard input",
       .hosts = {{{"--chatter-at", "fcopy-record:50=negotiation"}, "failed"},
                 {{"--chatter-at", "after-logon=output"}, "not logged on"},
                 {{"--chatter-at", "fcopy-record:9=trickle"}, "failed"},
                 {{"--latency-ms", "20"}, "failed"}},
       .args = {"--timeout", "2", "--deadline", "4", "--jobs", "4"},
       .exitStatus = 2,
       .line = R"(^summary: 0 of 4 hosts installed, 3 failed, 1 not logged on in \d+\.\d s; )",
       .many = true,
       .via = HostsVia::StandardInput},
      {.name = "--host twice, --max-fail, --retry-file",
       .hosts = {{{"--fail", "PURGE"}, "failed"}, {{}, "skipped"}},
       .args = {"--jobs", "1", "--max-fail", "1", "--retry-file", "@retry"},
       .exitStatus = 2,
       .line =
           R"(^summary: 0 of 2 hosts installed, 1 failed, 1 skipped in \d+\.\d s; exit status 2$)",
       .many = true,
       .via = HostsVia::Options,
       .retryFile = "@0 MANAGER.SYS\n@1 MANAGER.SYS\n"},
  };
  return cases;
}

// The fields every event of a kind must carry, and their JSON types.
using Fields = std::vector<std::pair<QString, QJsonValue::Type>>;
const std::map<QString, Fields>& Schema() {
  using T = QJsonValue::Type;
  static const std::map<QString, Fields> schema = {
      {"connected", {{"host", T::String}, {"peer", T::String}}},
      {"peer_name", {{"host", T::String}, {"name", T::String}}},
      {"logged_on", {{"host", T::String}, {"logon", T::String}}},
      {"command", {{"host", T::String}, {"command", T::String}}},
      {"progress",
       {{"host", T::String},
        {"payload", T::String},
        {"unit", T::String},
        {"sent", T::Double},
        {"total", T::Double},
        {"percent", T::Double},
        {"overall_percent", T::Double},
        {"bytes", T::Double},
        {"kb_per_s", T::Double}}},
      {"box", {{"host", T::String}, {"kind", T::String}, {"text", T::String}}},
      {"result",
       {{"host", T::String},
        {"outcome", T::String},
        {"exit_status", T::Double},
        {"reason", T::String},
        {"elapsed_s", T::Double}}},
      {"summary",
       {{"hosts", T::Double},
        {"installed", T::Double},
        {"failed", T::Double},
        {"not_logged_on", T::Double},
        {"interrupted", T::Double},
        {"current", T::Double},
        {"checked", T::Double},
        {"exit_status", T::Double},
        {"elapsed_s", T::Double}}},
  };
  return schema;
}

// What is wrong with one line of --json output; empty when nothing is.
QString SchemaProblem(const QByteArray& line, QStringList& events) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(line, &error);
  if (!document.isObject()) {
    return "not a JSON object: " + error.errorString();
  }
  const QJsonObject object = document.object();
  const QString event = object.value("event").toString();
  const auto fields = Schema().find(event);
  if (fields == Schema().end()) {
    return "unknown event '" + event + "'";
  }
  events << event;
  if (!QDateTime::fromString(object.value("time").toString(), Qt::ISODateWithMs).isValid()) {
    return "no valid time";
  }
  for (const auto& [name, type] : fields->second) {
    if (object.value(name).type() != type) {
      return "field '" + name + "' missing or of the wrong type";
    }
  }
  if (event == "box" && object.value("kind") == "confirm" && !object.value("answer").isString()) {
    return "a confirmation without its answer";
  }
  const QJsonValue installed = object.value("installed_version");
  if (object.contains("action") && !(object.value("payload_version").isString() &&
                                     (installed.isString() || installed.isNull()))) {
    return "an action without the versions";
  }
  return {};
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteFile(const QString& path, const QByteArray& text, bool open = false) {
  QFile file(path);
  const QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner;
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size() &&
         file.setPermissions(open ? owner | QFile::ReadGroup | QFile::ReadOther : owner);
}

// The simulators of a row, one per loopback address on port 1570, in the
// first block of addresses where all of them come up.
std::vector<std::unique_ptr<SimHost>> StartSimulators(const std::vector<Host>& hosts, int fleet,
                                                      const QString& expect,
                                                      QStringList& addresses) {
  for (int block = 0; block < kAddressBlocks; ++block) {
    std::vector<std::unique_ptr<SimHost>> sims;
    addresses.clear();
    if (fleet > 0) {
      for (int i = 0; i < fleet; ++i) {
        addresses << QString("127.0.%1.%2").arg(block).arg(i + 2);
      }
      sims.push_back(std::make_unique<SimHost>(
          QStringList{"--listen", addresses.first() + ":" + kPort, "--listen-count",
                      QString::number(fleet), "--expect", "ZORBELIX=" + expect}));
      if (sims.front()->ok()) {
        return sims;
      }
      continue;
    }
    for (std::size_t i = 0; i < hosts.size(); ++i) {
      const QString address = QString("127.0.%1.%2").arg(block).arg(i + 2);
      addresses << address;
      sims.push_back(std::make_unique<SimHost>(QStringList{"--listen", address + ":" + kPort} +
                                               hosts[i].simArgs));
    }
    bool allUp = true;
    for (const auto& sim : sims) {
      allUp = sim->ok() && allUp;
    }
    if (allUp) {
      return sims;
    }
  }
  addresses.clear();
  return {};
}

constexpr uid_t kNobody = 65534;

// A port on 127.0.0.1 that nobody listens on.
}  // namespace

class CliE2eTest : public QObject {
  Q_OBJECT

private slots:
  void run_data() {
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < Cases().size(); ++i) {
      QTest::newRow(Cases()[i].name) << static_cast<int>(i);
    }
  }

  void run() {
    QFETCH(int, index);
    const Case& c = Cases()[static_cast<std::size_t>(index)];
    QTemporaryDir work;
    QVERIFY(work.isValid());

    const QByteArray shipped = e2e::ShippedPayload();
    QByteArray older = shipped;
    older.replace("ZORBELIX - 2.5.0.6", "ZORBELIX - 2.4.0.0");
    const std::map<Held, QByteArray> held = {{Held::Older, older}, {Held::Shipped, shipped}};
    std::vector<Host> hosts = c.hosts;
    for (Host& host : hosts) {
      if (host.held != Held::Nothing) {
        const QString path = work.filePath(host.held == Held::Older ? "older" : "shipped");
        QVERIFY(WriteFile(path, held.at(host.held)));
        host.simArgs << "--put"
                     << "ZORBELIX=" + path;
      }
    }
    QStringList addresses;
    const QString shippedPath = work.filePath("shipped-expected");
    QVERIFY(WriteFile(shippedPath, shipped));
    const auto sims = StartSimulators(hosts, c.fleet, shippedPath, addresses);
    QVERIFY2(sims.size() == (c.fleet > 0 ? 1 : c.hosts.size()),
             "the simulators did not come up on port 1570");

    const support::ReservedPort closed;  // refuses the run that has no simulator
    QStringList args{"--logon", kLogon};
    for (const QString& arg : c.args) {
      args << (arg.startsWith('@') ? work.filePath(arg.mid(1)) : arg);
    }
    if (c.many && c.via == HostsVia::Options) {
      for (const QString& address : addresses) {
        args << "--host" << address;
      }
    } else if (c.many && c.via == HostsVia::StandardInput) {
      args << "--hosts"
           << "-";
    } else if (c.many) {
      const QString hostsFile = work.filePath("hosts.txt");
      QVERIFY(WriteFile(hostsFile,
                        c.hostsFile.isNull() ? addresses.join('\n').toLatin1() : c.hostsFile));
      args << "--hosts" << hostsFile;
    } else if (addresses.isEmpty()) {
      QVERIFY(closed.port() != 0);
      args << "--host"
           << "127.0.0.1"
           << "--port" << QString::number(closed.port());
    } else {
      args << "--host" << addresses.first();
    }
    if (c.passwordFile) {
      const QString passwordFile = work.filePath("passwords");
      if (c.plant == Plant::PasswordFifo) {
        QCOMPARE(::mkfifo(QFile::encodeName(passwordFile).constData(), 0600), 0);
      } else {
        QVERIFY(WriteFile(passwordFile, c.passwordFile, c.passwordFileOpen));
      }
      if (c.plant == Plant::PasswordOfNobody) {
        if (::geteuid() != 0) {
          QSKIP("giving a file to another user needs root");
        }
        QCOMPARE(::chown(QFile::encodeName(passwordFile).constData(), kNobody, kNobody), 0);
      }
      args << "--password-file" << passwordFile;
    }
    const QString victim = work.filePath("victim");
    QVERIFY(WriteFile(victim, "keep"));
    if (c.plant == Plant::TraceLink) {
      QVERIFY(QFile::link(victim, work.filePath("trace")));
    } else if (c.plant == Plant::TraceFifo) {
      QVERIFY(QDir(work.path()).mkdir("trace"));
      const QByteArray fifo = QFile::encodeName(work.filePath("trace/127.0.0.2.trace"));
      QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : env.keys()) {
      if (name.startsWith("ZORBELIX_")) {
        env.remove(name);
      }
    }
    for (const QString& setting : c.env) {
      env.insert(setting.section('=', 0, 0), setting.section('=', 1));
    }
    QProcess installer;
    installer.setProcessEnvironment(env);
    installer.setProgram(c.program == Program::Shipped ? QStringLiteral(ZORBELIX_INSTALL_PATH)
                                                       : QStringLiteral(SETTINGS_INSTALLER_PATH));
    installer.setArguments(args);
    if (c.outputFull) {
      installer.setStandardOutputFile(QStringLiteral("/dev/full"));
    }
    // A SIGHUP this test ignores (under nohup) would stay ignored in the child.
    const rlim_t fileLimit = static_cast<rlim_t>(c.fileLimit);
    installer.setChildProcessModifier([fileLimit] {
      ::signal(SIGHUP, SIG_DFL);
      if (fileLimit > 0) {
        const rlimit limit{fileLimit, fileLimit};
        ::setrlimit(RLIMIT_NOFILE, &limit);
      }
    });
    installer.start();
    QVERIFY(installer.waitForStarted(e2e::kStartWaitMs));
    if (c.via == HostsVia::StandardInput) {
      installer.write(addresses.join('\n').toLatin1() + '\n');
      installer.closeWriteChannel();
    }
    QByteArray out;
    if (c.stop != Stop::None) {
      while (!out.contains(" record ") && installer.waitForReadyRead(e2e::kRunWaitMs)) {
        out += installer.readAllStandardOutput();
      }
      ::kill(static_cast<pid_t>(installer.processId()),
             c.stop == Stop::WhenCopying ? SIGTERM : SIGHUP);
    }
    // The event loop, not waitForFinished: the simulators' logs must be read
    // meanwhile, or a busy one stalls on a full pipe.
    QVERIFY(e2e::WaitUntil([&installer] { return installer.state() == QProcess::NotRunning; },
                           kRunLimitMs));
    out += installer.readAllStandardOutput();
    const QByteArray err = installer.readAllStandardError();
    const QString shown = QString::fromLatin1(out + err);

    QCOMPARE(installer.exitStatus(), QProcess::NormalExit);
    QVERIFY2(installer.exitCode() == c.exitStatus,
             qPrintable(QString("exit status %1\n%2").arg(installer.exitCode()).arg(shown)));
    const bool complaint = c.exitStatus == 64 || c.outputFull;
    const QList<QByteArray> lines = (complaint ? err : out).trimmed().split('\n');
    const QByteArray& line = complaint ? lines.first() : lines.last();
    QVERIFY2(QRegularExpression(c.line).match(QString::fromLatin1(line)).hasMatch(),
             qPrintable(shown));
    QVERIFY2(!c.shown || QRegularExpression(c.shown).match(shown).hasMatch(), qPrintable(shown));
    QVERIFY2(!c.notShown || !shown.contains(c.notShown), qPrintable(shown));
    QVERIFY2(!QRegularExpression("[\\x00-\\x08\\x0b-\\x1f\\x7f-\\x9f]").match(shown).hasMatch(),
             qPrintable("a control character reaches the output\n" + shown));
    QCOMPARE(ReadFile(victim), QByteArray("keep"));

    if (c.fleet > 0) {
      // Each address its own store, each compared at its session's end; the
      // simulator may log the last end a moment after the installer exits.
      const auto ended = [&] {
        return sims.front()->log().count("ended, 0 deviations, verdict 0");
      };
      e2e::WaitUntil([&] { return ended() >= c.fleet; }, kFleetEndWaitMs);
      QCOMPARE(ended(), c.fleet);
      QVERIFY2(c.fleet <= c.args.last().toInt() || err.contains("cut to"), qPrintable(shown));
    }
    if (c.retryFile) {
      QString expected = c.retryFile;
      for (int i = 0; i < addresses.size(); ++i) {
        expected.replace(QString("@%1").arg(i), addresses[i]);
      }
      const QByteArray retry = ReadFile(work.filePath("retry"));
      QVERIFY2(retry.endsWith(expected.toLatin1()), retry.constData());
    }
    for (std::size_t i = 0; i < c.hosts.size() && c.fleet == 0; ++i) {
      const Host& host = c.hosts[i];
      const SimHost& sim = *sims[i];
      const bool installed = host.outcome == "installed";
      QVERIFY2(sim.Deviations().isEmpty(), qPrintable(sim.Deviations().join('\n')));
      QVERIFY2(installed || host.saved ? sim.Stored("SYS", "PUB", "ZORBELIX") == shipped
               : host.held != Held::Nothing
                   ? sim.Stored("SYS", "PUB", "ZORBELIX") == held.at(host.held)
                   : !sim.HasFile("SYS", "PUB", "ZORBELIX"),
               qPrintable(addresses[i] + " stored the wrong thing\n" + shown));
      if (host.outcome.startsWith("checked") || host.outcome == "current") {
        // Nothing past the version check but the logoff.
        QCOMPARE(sim.ReceivedLines(),
                 (QStringList{"HELLO MANAGER.SYS", "VERSION ZORBELIX.PUB.SYS", "BYE"}));
      }
      if (c.many) {
        // The summary table's row, or the result event's outcome.
        const QString address = QRegularExpression::escape(addresses[i]);
        const QRegularExpression row(
            c.args.contains("--json")
                ? "\"host\":\"" + address + "\".*\"outcome\":\"" + host.outcome + "\""
                : "^" + address + " +" + host.outcome + "  ",
            QRegularExpression::MultilineOption);
        QVERIFY2(row.match(shown).hasMatch(), qPrintable(addresses[i] + "\n" + shown));
      }
    }
    if (c.args.contains("--group") && !c.args.contains("--yes")) {
      // A No to the confirmation starts nothing: the logon, then BYE.
      QCOMPARE(sims.front()->ReceivedLines(), (QStringList{"HELLO MANAGER.SYS", "BYE"}));
    }

    QByteArray traces;
    for (const QString& name : QDir(work.filePath("trace")).entryList(QDir::Files)) {
      traces += ReadFile(work.filePath("trace/" + name));
    }
    traces += ReadFile(work.filePath("trace"));
    if (c.args.contains("@trace") && c.exitStatus != 64) {
      QVERIFY2(traces.contains("HELLO MANAGER.SYS"), "no trace written");
    }
    for (const QString& secret : {kUserPassword, kAccountPassword}) {
      QVERIFY2(!shown.contains(secret) && !traces.contains(secret.toLatin1()),
               qPrintable(secret + " shows in the output or a trace"));
    }

    if (c.args.contains("--json") && !c.outputFull) {
      QStringList events;
      for (const QByteArray& line : out.trimmed().split('\n')) {
        const QString problem = SchemaProblem(line, events);
        QVERIFY2(problem.isEmpty(), qPrintable(problem + "\n" + QString::fromLatin1(line)));
      }
      events.removeDuplicates();
      events.removeAll("peer_name");  // whether the system's resolver names a host varies
      events.sort();                  // with many hosts one's result may come before another's box
      QCOMPARE(events, (QStringList{"box", "command", "connected", "logged_on", "progress",
                                    "result", "summary"}));
    }
  }
};

QTEST_MAIN(CliE2eTest)
#include "cli_e2e_test.moc"
