// zorbelix-install end to end: the real program, started with QProcess,
// against mpe-host-sim children, one row of the table per case. A row's
// simulators listen on 127.0.B.2, 127.0.B.3, ... port 1570 (every 127.x
// address is local on Linux); B is 0 unless another run holds those.
// Every row checks the exit status, the last line (or the summary row of
// each host), what each host stored, that no simulator saw a protocol
// deviation, and that no password shows in the output or a trace; --json
// rows check every line against the events' fields.
#include "e2eharness.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>
#include <vector>

using e2e::SimHost;

namespace {

constexpr int kRunLimitMs = 120000;
constexpr int kAddressBlocks = 8;  // 127.0.0.x, then 127.0.1.x, ... when taken
const QString kPort = QStringLiteral("1570");
const char kLogon[] = "MANAGER.SYS";
const QString kUserPassword = QStringLiteral("Q7USERPW");
const QString kAccountPassword = QStringLiteral("Q7ACCTPW");

// One host: its simulator's options and the outcome its summary row (or
// the last line) names: "installed", "failed", "not logged on" or
// "interrupted".
struct Host {
  QStringList simArgs{};
  QString outcome{};
  bool saved = false;  // the new ZORBELIX is on the host though not reported installed
};

enum class Program { Shipped, AlteredSettings };
enum class Stop { None, WhenCopying };  // SIGTERM once a record went

struct Case {
  const char* name = nullptr;
  std::vector<Host> hosts{};  // none: a port nobody listens on
  QStringList args{};         // besides --host/--hosts, --port and --logon
  int exitStatus = 0;
  // A pattern of stdout's last line, or of stderr's first for bad usage.
  const char* line = nullptr;
  QStringList env{};  // NAME=VALUE
  const char* passwordFile = nullptr;
  bool passwordFileOpen = false;    // readable by the group and others
  const char* hostsFile = nullptr;  // its text; else one line per host, when many
  bool many = false;
  Program program = Program::Shipped;
  Stop stop = Stop::None;
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
       .line = R"(^\{"elapsed_s":[0-9.]+,"event":"summary","exit_status":0,)",
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
       .line = R"(: no answer from the host for 1 s while copying ZORBELIX, after record 99 of )"
               R"(438; ZORBELIX was not installed, and the previous ZORBELIX, if any, is still )"
               R"(on the host$)"},
      {.name = "interrupted while copying",
       .hosts = {{{"--latency-ms", "20"}, "interrupted"}},
       .exitStatus = 143,
       .line = R"(: interrupted while copying ZORBELIX, after record \d+ of 438; ZORBELIX was )"
               R"(not installed, .* still on the host; the installation did not complete$)",
       .stop = Stop::WhenCopying},
      {.name = "planned failure: error line, MSGB, EXIT",
       .hosts = {{{"--fail", "PURGE"}, "failed"}},
       .exitStatus = 1,
       .line = R"(: failed after .*: File is in use\. +Cannot continue\.)",
       .env = {"E2E_SCRIPT_LINE=24=SEND2~PURGE ZORBELIX~CIERR~920"},
       .program = Program::AlteredSettings},
      {.name = "drop after SAVE",
       .hosts = {{{"--drop-at", "command:SAVE"}, "failed", true}},
       .exitStatus = 1,
       .line = R"(: failed after .*ZORBELIX may be installed: check with LISTFILE )"
               R"(ZORBELIX\.PUB\.SYS,2\.$)"},
  };
  return cases;
}

// The fields every event of a kind must carry, and their JSON types.
using Fields = std::vector<std::pair<QString, QJsonValue::Type>>;
const std::map<QString, Fields>& Schema() {
  using T = QJsonValue::Type;
  static const std::map<QString, Fields> schema = {
      {"connected", {{"host", T::String}, {"peer", T::String}}},
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
std::vector<std::unique_ptr<SimHost>> StartSimulators(const std::vector<Host>& hosts,
                                                      QStringList& addresses) {
  for (int block = 0; block < kAddressBlocks; ++block) {
    std::vector<std::unique_ptr<SimHost>> sims;
    addresses.clear();
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

// A port on 127.0.0.1 that nobody listens on.
quint16 ClosedPort() {
  QTcpServer server;
  server.listen(QHostAddress::LocalHost, 0);
  return server.serverPort();
}

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

    QStringList addresses;
    const auto sims = StartSimulators(c.hosts, addresses);
    QVERIFY2(sims.size() == c.hosts.size(), "the simulators did not come up on port 1570");

    QStringList args{"--logon", kLogon};
    for (const QString& arg : c.args) {
      args << (arg == "@trace" ? work.filePath("trace") : arg);
    }
    if (c.many) {
      const QString hostsFile = work.filePath("hosts.txt");
      QVERIFY(WriteFile(hostsFile,
                        c.hostsFile ? QByteArray(c.hostsFile) : addresses.join('\n').toLatin1()));
      args << "--hosts" << hostsFile;
    } else if (addresses.isEmpty()) {
      args << "--host"
           << "127.0.0.1"
           << "--port" << QString::number(ClosedPort());
    } else {
      args << "--host" << addresses.first();
    }
    if (c.passwordFile) {
      const QString passwordFile = work.filePath("passwords");
      QVERIFY(WriteFile(passwordFile, c.passwordFile, c.passwordFileOpen));
      args << "--password-file" << passwordFile;
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
    installer.start();
    QVERIFY(installer.waitForStarted(e2e::kStartWaitMs));
    QByteArray out;
    if (c.stop == Stop::WhenCopying) {
      while (!out.contains(" record ") && installer.waitForReadyRead(e2e::kRunWaitMs)) {
        out += installer.readAllStandardOutput();
      }
      installer.terminate();
    }
    QVERIFY(installer.waitForFinished(kRunLimitMs));
    out += installer.readAllStandardOutput();
    const QByteArray err = installer.readAllStandardError();
    const QString shown = QString::fromLatin1(out + err);

    QCOMPARE(installer.exitStatus(), QProcess::NormalExit);
    QVERIFY2(installer.exitCode() == c.exitStatus,
             qPrintable(QString("exit status %1\n%2").arg(installer.exitCode()).arg(shown)));
    const QList<QByteArray> lines = (c.exitStatus == 64 ? err : out).trimmed().split('\n');
    const QByteArray& line = c.exitStatus == 64 ? lines.first() : lines.last();
    QVERIFY2(QRegularExpression(c.line).match(QString::fromLatin1(line)).hasMatch(),
             qPrintable(shown));

    const QByteArray shipped = e2e::ShippedPayload();
    for (std::size_t i = 0; i < sims.size(); ++i) {
      const Host& host = c.hosts[i];
      const SimHost& sim = *sims[i];
      const bool installed = host.outcome == "installed";
      QVERIFY2(sim.Deviations().isEmpty(), qPrintable(sim.Deviations().join('\n')));
      QVERIFY2(installed || host.saved ? sim.Stored("SYS", "PUB", "ZORBELIX") == shipped
                                       : !sim.HasFile("SYS", "PUB", "ZORBELIX"),
               qPrintable(addresses[i] + " stored the wrong thing\n" + shown));
      if (c.many) {
        const QRegularExpression row(
            "^" + QRegularExpression::escape(addresses[i]) + " +" + host.outcome + "  ",
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
    if (c.args.contains("@trace")) {
      QVERIFY2(traces.contains("HELLO MANAGER.SYS"), "no trace written");
    }
    for (const QString& secret : {kUserPassword, kAccountPassword}) {
      QVERIFY2(!shown.contains(secret) && !traces.contains(secret.toLatin1()),
               qPrintable(secret + " shows in the output or a trace"));
    }

    if (c.args.contains("--json")) {
      QStringList events;
      for (const QByteArray& line : out.trimmed().split('\n')) {
        const QString problem = SchemaProblem(line, events);
        QVERIFY2(problem.isEmpty(), qPrintable(problem + "\n" + QString::fromLatin1(line)));
      }
      events.removeDuplicates();
      QCOMPARE(events, (QStringList{"connected", "logged_on", "command", "progress", "box",
                                    "result", "summary"}));
    }
  }
};

QTEST_MAIN(CliE2eTest)
#include "cli_e2e_test.moc"
