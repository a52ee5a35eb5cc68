// Fault injection end to end: the real installer window against
// mpe-host-sim with each of its faults at every named point of the shipped
// installation and of the block transfers. Whatever the host does, the
// installer must not crash, must not claim a success the host's store does
// not show, must end in the state the program gives for that failure with
// its timer stopped and its payload released, and must then be usable: a
// second installation succeeds where the window stays open, the program ends
// cleanly where the host closed the connection, and a host that falls silent
// cannot keep the window from closing.
#include "e2eharness.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using e2e::Installer;
using e2e::SimHost;
using shell::TNSVT;
using Kind = support::RecordingDialogs::Kind;

namespace {

const char kSuccess[] = "Successful installation.";
constexpr int kSettleMs = 15000;

// What the installation transfers and where the host keeps it.
struct Scenario {
  const char* name;
  const char* line;  // the script file's transfer line; nullptr: the shipped script
  const char* account;
  const char* file;
  int lastBlock;  // the block:N point of the end block
};

constexpr Scenario kShipped{"XFERU", nullptr, "SYS", "ZORBELIX", 0};
constexpr Scenario kBlockScenarios[] = {
    {"XFERA", "XFERA~E2ETEXT~0", "SYS", "E2ETEXT", 4},
    {"XFERB", "XFERB~E2EBIN", "SYS", "E2EBIN", 4},
    {"XFERC", "XFERC~E2EPKHD", "SYS", "E2EPKHD", 6},
    {"XFERD", "XFERD~E2EPKHD", "SYS", "E2EPKHD", 6},
    {"XFERE", "XFERE~E2EPKHD", "VORDANEX", "E2EPKHD", 6},
};

QByteArray Expected(const Scenario& s) {
  const QString line = s.line == nullptr ? QString() : QString(s.line);
  if (line.isEmpty()) {
    return e2e::ShippedPayload();
  }
  if (line.startsWith("XFERA")) {
    return e2e::TextRecords(e2e::Resource("E2ETEXT"), 80);
  }
  if (line.startsWith("XFERB")) {
    return e2e::Resource("E2EBIN");
  }
  return e2e::Unpacked(e2e::Resource("E2EPKHD")).mid(128);  // its own header
}

enum class Action { Drop, Reset, Terminate, Silent, BadVersion, ShortLength, ReadLength, Cierr };

QStringList FaultArgs(Action action, const QString& point) {
  switch (action) {
    case Action::Drop:
      return {"--drop-at", point};
    case Action::Reset:
      return {"--reset-at", point};
    case Action::Terminate:
      return {"--terminate-at", point};
    case Action::Silent:
      return {"--silent-at", point};
    case Action::BadVersion:
      return {"--bad-version-at", point};
    case Action::ShortLength:
      return {"--short-length-at", point};
    case Action::ReadLength:
      return {"--read-length", point + "=2"};
    case Action::Cierr:
      return {"--fail", point.section(':', 1)};
  }
  return {};
}

const char* ActionName(Action action) {
  switch (action) {
    case Action::Drop:
      return "drop";
    case Action::Reset:
      return "reset";
    case Action::Terminate:
      return "termination request";
    case Action::Silent:
      return "silence";
    case Action::BadVersion:
      return "bad version byte";
    case Action::ShortLength:
      return "length below 10";
    case Action::ReadLength:
      return "read of 2";
    case Action::Cierr:
      return "CIERR";
  }
  return "?";
}

// The window's state once the fault has played out.
enum class End {
  Ended,    // the program ended: the host closed the connection
  Error,    // error report, connection gone: connect row, console and Begin off
  Console,  // the run is over and the operator has the console
};

std::optional<End> Settled(const Installer& rig) {
  const TNSVT& w = *rig.window;
  if (rig.ended) {
    return End::Ended;
  }
  if (w.run().actionCode() != 0) {
    return std::nullopt;
  }
  if (w.uiPhase() == 0 && !w.session().Connected()) {
    return End::Error;
  }
  if (w.ui().Memo1->isEnabled() && w.uiPhase() != 0 && w.uiPhase() != 3) {
    return End::Console;
  }
  return std::nullopt;
}

QString PutShipped() {
  return QStringLiteral("ZORBELIX=" ZORBELIX_PAYLOAD_DIR "/ZORBELIX");
}

// A previous ZORBELIX on the host, unlike the new one in every record.
QByteArray PreviousZorbelix() {
  constexpr int kRecords = 12;
  return QByteArray(kRecords * 256, 'P');
}

// Where the shipped installation stands at a point: before its PURGE the
// previous ZORBELIX must survive any failure, byte for byte.
bool BeforePurge(const QString& point) {
  return point != "command:PURGE" && point != "command:SAVE" && point != "command:BYE";
}

// How the box of a run cut short ends: what the host holds now.
QString HostFileEnding(int scenario, const QString& point) {
  if (scenario >= 0 || BeforePurge(point)) {
    return ", if any, is still on the host.";
  }
  return point == "command:PURGE" ? " may have been purged."
                                  : "may be installed: check with LISTFILE ZORBELIX.PUB.SYS,2.";
}

// The simulator's command line for a case.
QStringList SimArgs(int scenario, Action action, const QString& point, const QString& previous) {
  QStringList args = FaultArgs(action, point);
  if (scenario >= 0) {
    args << "--put" << PutShipped();  // the receiving host program
  } else {
    args << "--put"
         << "ZORBELIX=" + previous;
  }
  return args;
}

std::map<int, std::string> Table(const QString& scriptPath) {
  // %0 and %1 are PUB and SYS, the group and account XFERD names.
  std::map<int, std::string> table{{1071, "PUB"}, {1072, "SYS"}};
  if (!scriptPath.isEmpty()) {
    table[1] = "FILE~" + scriptPath.toStdString() + "~940";
  }
  return table;
}

}  // namespace

Q_DECLARE_METATYPE(Action)

class FaultE2eTest : public QObject {
  Q_OBJECT

  QTemporaryDir work_;
  QString previous_;  // the previous ZORBELIX the shipped cases start with
  int rows_ = 0;
  // Starting a simulator takes longer than many cases, so the next case's
  // is started while a case runs, and the hosts of second installations
  // (one without and one with the receiving program) serve every case.
  std::vector<QStringList> caseArgs_;
  std::map<QByteArray, std::size_t> caseIndex_;
  std::unique_ptr<SimHost> next_;
  std::unique_ptr<SimHost> cleanHosts_[2];

  SimHost* CleanHost(const Scenario& s) {
    std::unique_ptr<SimHost>& host = cleanHosts_[s.line == nullptr ? 0 : 1];
    if (!host) {
      host = std::make_unique<SimHost>(s.line == nullptr ? QStringList{}
                                                         : QStringList{"--put", PutShipped()});
    }
    // Whatever an earlier case stored there must not pass for this one.
    QFile::remove(host->storeDir() + "/" + s.account + "/PUB/" + s.file);
    return host.get();
  }

  // The script file of a block scenario: the transfer, the success message
  // and the log-off, as the shipped script ends.
  QString Script(const Scenario& s) {
    if (s.line == nullptr) {
      return {};
    }
    return e2e::WriteScript(work_.path(), QString("%1.txt").arg(s.name),
                            {s.line, QString("MSGB~") + kSuccess, "EXIT"});
  }

  // A full installation on a window that is open and connected or at its
  // connect row; true when it claimed success and the host stored the file.
  bool SecondInstallation(Installer& rig, SimHost& faulty, const Scenario& s, End end) {
    SimHost* host = &faulty;
    rig.dialogs.boxes.clear();
    if (end == End::Error) {
      host = CleanHost(s);
      if (!host->ok()) {
        return false;
      }
      rig.Connect(host->port());
      if (!rig.LogOn()) {
        return false;
      }
    }
    rig.Begin();
    if (!e2e::WaitUntil([&] { return rig.ended; }, kSettleMs)) {
      return false;
    }
    return rig.SuccessShown() && host->Stored(s.account, "PUB", s.file) == Expected(s);
  }

private slots:
  void faults_data() {
    previous_ = work_.filePath("PREVIOUS");
    QFile previous(previous_);
    QVERIFY(previous.open(QIODevice::WriteOnly) && previous.write(PreviousZorbelix()) > 0);
    QTest::addColumn<int>("scenario");  // -1 the shipped one, else kBlockScenarios
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("point");

    const Action all[] = {Action::Drop,      Action::Reset,      Action::Terminate,
                          Action::Silent,    Action::BadVersion, Action::ShortLength,
                          Action::ReadLength};
    const auto add = [&](int scenario, const char* name, const QString& point, Action action) {
      const QByteArray tag = QString("%1 %2 at %3").arg(name, ActionName(action), point).toLatin1();
      QTest::newRow(tag.constData()) << scenario << action << point;
      caseIndex_[tag] = caseArgs_.size();
      caseArgs_.push_back(SimArgs(scenario, action, point, previous_));
    };

    const QStringList shippedPoints{
        "command:ECHO",     "command:BUILD", "command:RUN",   "fcopy-record:1", "fcopy-record:200",
        "fcopy-record:439", "fcopy-end",     "command:PURGE", "command:SAVE",   "command:BYE"};
    for (const QString& point : shippedPoints) {
      for (Action action : all) {
        add(-1, kShipped.name, point, action);
      }
      if (point.startsWith("command:")) {
        add(-1, kShipped.name, point, Action::Cierr);
      }
    }
    for (int i = 0; i < static_cast<int>(std::size(kBlockScenarios)); ++i) {
      const Scenario& s = kBlockScenarios[i];
      const bool text = QString(s.line).startsWith("XFERA");
      const QString endBlock = QString("block:%1").arg(s.lastBlock);
      QStringList points;
      if (i < 2) {
        points << "command:RUN"
               << "challenge"
               << "descriptor";
        if (!text) {
          points << "header";
        }
        points << "block-confirm"
               << "block:1"
               << "block:2" << endBlock << "command:BYE";
      } else {
        // XFERC to XFERE differ from XFERB only in what they send, not in
        // the exchange: the descriptor (the host file name), a data block
        // and the end block.
        points << "descriptor"
               << "block:2" << endBlock;
      }
      for (const QString& point : points) {
        for (Action action : all) {
          add(i, s.name, point, action);
        }
      }
      if (i < 2) {
        add(i, s.name, "command:RUN", Action::Cierr);
      }
    }
  }

  void faults() {
    QFETCH(int, scenario);
    QFETCH(Action, action);
    QFETCH(QString, point);
    ++rows_;
    const Scenario& s = scenario < 0 ? kShipped : kBlockScenarios[scenario];
    const QByteArray expected = Expected(s);
    QVERIFY(!expected.isEmpty());
    const bool afterSuccess = point == "command:BYE";

    const QStringList args = SimArgs(scenario, action, point, previous_);
    std::unique_ptr<SimHost> host =
        next_ && next_->args() == args ? std::move(next_) : std::make_unique<SimHost>(args);
    next_.reset();
    const auto index = caseIndex_.find(QTest::currentDataTag());
    if (index != caseIndex_.end() && index->second + 1 < caseArgs_.size()) {
      next_ = std::make_unique<SimHost>(caseArgs_[index->second + 1]);
    }
    SimHost& sim = *host;
    QVERIFY2(sim.ok(), qPrintable(sim.log()));
    Installer rig(Table(Script(s)), {}, false);
    QVERIFY(rig.StartInstallation(sim.port()));
    TNSVT& w = *rig.window;

    if (action == Action::Silent) {
      // The host says nothing more; closing the window must still work.
      QVERIFY(e2e::WaitUntil([&] { return sim.SawEvent("fault at " + point + ": silence"); },
                             kSettleMs));
      QVERIFY(!rig.ended);
      w.close();
      QVERIFY(rig.ended);
      QVERIFY(e2e::WaitUntil([&] { return sim.transcript().contains("term> TERMINATION-REQUEST"); },
                             kSettleMs));
      QVERIFY(!w.ui().Timer1->isActive() && !w.ui().Timer2->isActive());
      QVERIFY(!w.run().payloadLoaded());
      QVERIFY(!rig.SuccessShown() || sim.Stored(s.account, "PUB", s.file) == expected);
      return;
    }

    std::optional<End> end;
    QVERIFY2(e2e::WaitUntil([&] { return (end = Settled(rig)).has_value(); }, kSettleMs),
             qPrintable(QString("phase %1, ActionCode %2, status '%3'\n%4")
                            .arg(w.uiPhase())
                            .arg(w.run().actionCode())
                            .arg(w.ui().lblStatus->text())
                            .arg(QString::fromStdString(rig.BoxSummary()))));
    const QString status = w.ui().lblStatus->text();
    if (qEnvironmentVariableIntValue("E2E_VERBOSE") != 0) {
      // What each case came to, for a person reviewing the table.
      qInfo("end %d phase %d begin %d status '%s' boxes: %s deviations: %s", static_cast<int>(*end),
            w.uiPhase(), w.ui().btnProcess->isEnabled(), qPrintable(status),
            QString::fromStdString(rig.BoxSummary()).replace('\n', " | ").toLatin1().constData(),
            qPrintable(sim.Deviations().join(" | ")));
    }

    // Never a success the host's store does not bear out; and until the
    // shipped script's PURGE, a failure leaves the previous program whole.
    const bool stored = sim.Stored(s.account, "PUB", s.file) == expected;
    QVERIFY2(!rig.SuccessShown() || stored, rig.BoxSummary().c_str());
    if (scenario < 0 && BeforePurge(point) && !rig.SuccessShown()) {
      QVERIFY(sim.Stored("SYS", "PUB", "ZORBELIX") == PreviousZorbelix());
    }
    if (action == Action::ReadLength && scenario < 0) {
      // A short read is the host's right; the installer's answers to it are
      // no deviation (records go whole, as they must).
      QVERIFY2(sim.Deviations().isEmpty(), qPrintable(sim.Deviations().join("\n")));
    }
    QCOMPARE(w.run().actionCode(), 0);
    QVERIFY(!w.ui().Timer1->isActive() && !w.ui().Timer2->isActive());
    QVERIFY(!w.run().payloadLoaded());

    switch (*end) {
      case End::Ended:
        break;
      case End::Error:
        QVERIFY(!w.ui().Memo1->isEnabled());
        QVERIFY(!w.ui().btnProcess->isEnabled());
        QVERIFY(!w.ui().Panel1->isHidden());
        QVERIFY2(status.startsWith("  Network Error: "), qPrintable(status));
        break;
      case End::Console:
        QVERIFY(w.uiPhase() == 1 || w.uiPhase() == 2);
        QCOMPARE(w.ui().btnProcess->isEnabled(), w.logonAccepted());
        break;
    }

    // A connection that ends in the middle of the installation is reported
    // with where the run stood and what the host holds now, and a program
    // that ends then ends with a failure status; the end of the script's own
    // log-off is not.
    const auto endsAsCutShort = [&](const std::string& cause) {
      const auto errors = rig.dialogs.Texts(Kind::Error);
      QCOMPARE(errors.size(), afterSuccess ? std::size_t{0} : std::size_t{1});
      if (*end == End::Ended) {
        QCOMPARE(rig.exitStatus, afterSuccess ? 0 : 1);
      }
      if (!afterSuccess) {
        QVERIFY2(errors[0].starts_with("The installation did not complete: " + cause) &&
                     QString::fromStdString(errors[0]).endsWith(HostFileEnding(scenario, point)),
                 errors[0].c_str());
      }
    };
    const std::string hostClosed = "the host closed the connection while ";

    // What each fault leads to.
    switch (action) {
      case Action::Drop:
        QCOMPARE(*end, End::Ended);
        QCOMPARE(rig.SuccessShown(), afterSuccess);
        endsAsCutShort(hostClosed);
        break;
      case Action::Terminate:
        QCOMPARE(*end, End::Ended);
        QVERIFY2(status.startsWith("  Network Error: 4004, Host requested termination: "),
                 qPrintable(status));
        QCOMPARE(rig.SuccessShown(), afterSuccess);
        endsAsCutShort(hostClosed);
        break;
      case Action::Reset:
        QCOMPARE(*end, End::Error);
        QVERIFY2(status.startsWith("  Network Error: 10054, "), qPrintable(status));
        QCOMPARE(rig.SuccessShown(), afterSuccess);
        endsAsCutShort("the connection failed (10054, ");
        break;
      case Action::ShortLength:
        QCOMPARE(*end, End::Error);
        QCOMPARE(status, QString("  Network Error: 4003, RECEIVED AN INVALID PACKET"));
        QCOMPARE(rig.SuccessShown(), afterSuccess);
        break;
      case Action::BadVersion:
        // Reported, not acted on; the installation itself goes on.
        QVERIFY(rig.dialogs.Saw(Kind::Error, "  Network Error: 4003, RECEIVED AN INVALID PACKET"));
        QCOMPARE(*end, End::Ended);
        QVERIFY(rig.SuccessShown());
        QVERIFY(stored);
        break;
      case Action::Cierr:
        QCOMPARE(*end, End::Console);
        QCOMPARE(rig.SuccessShown(), afterSuccess);
        break;
      case Action::ReadLength:
      case Action::Silent:
        break;  // where a short read leads depends on the point; the checks above hold
    }

    // The window is usable again.
    switch (*end) {
      case End::Ended:
        QVERIFY(!w.isVisible() || w.applicationEnded());
        break;
      case End::Error:
        QVERIFY2(SecondInstallation(rig, sim, s, *end), rig.BoxSummary().c_str());
        break;
      case End::Console:
        if (!w.ui().btnProcess->isEnabled()) {
          // Begin waits for a new logon; the operator can still log off.
          QVERIFY(rig.LogOff());
        } else if (action == Action::Cierr) {
          // The host fails the command every time: the run fails again the
          // same way and claims nothing.
          rig.dialogs.boxes.clear();
          rig.Begin();
          QVERIFY(e2e::WaitUntil([&] { return Settled(rig).has_value(); }, kSettleMs));
          QCOMPARE(rig.SuccessShown(), afterSuccess);
        } else {
          QVERIFY2(SecondInstallation(rig, sim, s, *end), rig.BoxSummary().c_str());
        }
        break;
    }
  }

  void cleanupTestCase() {
    next_.reset();
    cleanHosts_[0].reset();
    cleanHosts_[1].reset();
    qInfo("fault cases run: %d", rows_);
  }
};

QTEST_MAIN(FaultE2eTest)
#include "fault_e2e_test.moc"
