// The installer end to end against mpe-host-sim: the shipped installation
// through the real window, every block transfer kind from a script file,
// the failures the host can produce on the way, and a traced run.
#include "e2eharness.h"

#include <QApplication>
#include <QLineEdit>
#include <QWindow>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using e2e::Installer;
using e2e::SimHost;
using shell::TNSVT;
using Kind = support::RecordingDialogs::Kind;

namespace {

constexpr int kRecords = 438;
constexpr int kRecordSize = 256;
constexpr int kBlockSize = 1032;
constexpr int kBlockData = 1024;
const char kSuccess[] = "Successful installation.";
const QString kBuildLine = QStringLiteral("BUILD $NEWPASS;REC=128;CODE=NMPRG;DISC=438,1,1");

// Everything the shipped installation sends, from the logon to "BYE", with
// FCOPY's ending answered by the given answers.
QStringList ShippedLines(const QStringList& fcopyEnding = {"E"}) {
  QStringList lines{"HELLO MANAGER.SYS", "ECHO !HPUSER.!HPACCOUNT", kBuildLine,
                    "RUN FCOPY.PUB.SYS", "FROM=$CTUL;TO=$OLDPASS",  ""};
  for (int record = 1; record <= kRecords; ++record) {
    lines << "0100" << QString("<%1 bytes>").arg(kRecordSize);
  }
  lines << ":EOD" << fcopyEnding << "PURGE ZORBELIX"
        << "SAVE $OLDPASS,ZORBELIX"
        << "BYE";
  return lines;
}

QString Diff(const QStringList& got, const QStringList& want) {
  const qsizetype n = std::min(got.size(), want.size());
  for (qsizetype i = 0; i < n; ++i) {
    if (got[i] != want[i]) {
      return QString("line %1: got '%2', want '%3'").arg(i).arg(got[i], want[i]);
    }
  }
  return QString("got %1 lines, want %2; last got: '%3'")
      .arg(got.size())
      .arg(want.size())
      .arg(got.isEmpty() ? QString() : got.last());
}

// The 256-byte records the host received, joined.
QByteArray JoinedRecords(const SimHost& sim) {
  QByteArray joined;
  for (const QByteArray& data : sim.Received()) {
    if (data.size() == kRecordSize) {
      joined += data;
    }
  }
  return joined;
}

struct Block {
  int sequence;
  int count;
  QByteArray data;
};

// The transfer blocks among the host's input from message index from on.
std::vector<Block> ReceivedBlocks(const SimHost& sim, std::size_t from) {
  std::vector<Block> blocks;
  const std::vector<QByteArray> received = sim.Received();
  for (std::size_t i = from; i < received.size(); ++i) {
    const QByteArray& data = received[i];
    if (data.size() == kBlockSize && data[0] == '\x02') {
      const auto byte = [&](int at) { return static_cast<std::uint8_t>(data[at]); };
      const int count = byte(3) << 8 | byte(4);
      blocks.push_back({byte(1) << 8 | byte(2), count, data.mid(5, std::min(count, kBlockData))});
    }
  }
  return blocks;
}

// The window's end states after a failure.
enum class End {
  Ended,     // the program ended (the host closed the connection)
  Error,     // an error report: connect row, console off, Begin off
  Prompt,    // the operator has the console at the prompt, Begin on
  LogOnRow,  // the console, but Begin off until the host logs on again
};

bool Settled(const Installer& rig, End end) {
  const TNSVT& w = *rig.window;
  switch (end) {
    case End::Ended:
      return rig.ended;
    case End::Error:
      return w.run().actionCode() == 0 && w.uiPhase() == 0;
    case End::Prompt:
      return w.run().actionCode() == 0 && w.uiPhase() == 2 && w.ui().Memo1->isEnabled();
    case End::LogOnRow:
      return w.run().actionCode() == 0 && w.uiPhase() == 1 && w.ui().Memo1->isEnabled();
  }
  return false;
}

}  // namespace

Q_DECLARE_METATYPE(End)

class InstallE2eTest : public QObject {
  Q_OBJECT

  QTemporaryDir work_;
  // A host on which the shipped installation has put ZORBELIX in place, and
  // a window logged on to it, shared by the block transfer rows.
  std::unique_ptr<SimHost> blockHost_;
  std::unique_ptr<Installer> blockRig_;

  QString PutShipped() const {
    return QStringLiteral("ZORBELIX=" ZORBELIX_PAYLOAD_DIR "/ZORBELIX");
  }

private slots:
  void shippedInstallationThroughTheWindow() {
    SimHost sim;
    QVERIFY2(sim.ok(), qPrintable(sim.log()));
    Installer rig;
    TNSVT& w = *rig.window;

    QString statusAtSuccess;
    std::string actionAtSuccess;
    bool byeBeforeSuccess = true;
    rig.dialogs.onBox = [&](const support::RecordingDialogs::Box& box) {
      if (box.text == kSuccess) {
        statusAtSuccess = w.ui().lblStatus->text();
        actionAtSuccess = w.run().actionText();
        byeBeforeSuccess = sim.ReceivedLines().contains("BYE");
      }
    };

    QVERIFY(rig.StartInstallation(sim.port()));
    QVERIFY(e2e::WaitUntil([&] { return rig.ended; }));

    const QStringList sent = sim.ReceivedLines();
    QVERIFY2(sent == ShippedLines(), qPrintable(Diff(sent, ShippedLines())));
    const QByteArray payload = e2e::ShippedPayload();
    QCOMPARE(payload.size(), kRecords * kRecordSize);
    QVERIFY(JoinedRecords(sim) == payload);

    QVERIFY(sim.Stored("SYS", "PUB", "ZORBELIX") == payload);
    const auto attributes = sim.Attributes("SYS", "PUB", "ZORBELIX");
    QCOMPARE(attributes.value("codename"), QString("NMPRG"));
    QCOMPARE(attributes.value("records"), QString::number(kRecords));
    QCOMPARE(attributes.value("recsize"), QString::number(kRecordSize));
    QVERIFY2(sim.Deviations().isEmpty(), qPrintable(sim.Deviations().join('\n')));

    QCOMPARE(rig.dialogs.Texts(Kind::Message), std::vector<std::string>{kSuccess});
    QCOMPARE(rig.dialogs.Count(Kind::Error), std::size_t{0});
    QCOMPARE(statusAtSuccess, QString("  ZORBELIX Size: 109KB - 438"));
    QCOMPARE(actionAtSuccess, std::string("Done."));
    QVERIFY(!byeBeforeSuccess);
    QCOMPARE(w.run().actionCode(), 0);
    QVERIFY(!w.ui().Timer1->isActive());
    QVERIFY(!w.run().payloadLoaded());
  }

  // Every action from the keyboard, keys going in through the window as the
  // platform delivers them: the host typed and Enter (Connect), the logon
  // typed in the console, Tab to Begin and Space. (The port is the window's
  // hidden setting, so it is set, not typed; the boxes are answered by the
  // dialog seam.)
  void keyboardOnlyInstallation() {
    SimHost sim;
    QVERIFY2(sim.ok(), qPrintable(sim.log()));
    Installer rig;
    TNSVT& w = *rig.window;
    QWindow* keyboard = w.windowHandle();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.ui().Port3->setText(QString::number(sim.port()));
    const auto type = [keyboard](const char* text) {
      for (const char* c = text; *c != '\0'; ++c) {
        QTest::keyClick(keyboard, *c);
      }
    };

    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.ui().Host3));
    type("127.0.0.1");
    QTest::keyClick(keyboard, Qt::Key_Return);
    QVERIFY(e2e::WaitUntil([&] { return w.ui().Memo1->hasFocus(); }));
    type("HELLO MANAGER.SYS");
    QTest::keyClick(keyboard, Qt::Key_Return);
    QVERIFY(e2e::WaitUntil([&] {
      return w.uiPhase() == 2 && w.ui().btnProcess->isEnabled() && w.ui().Memo1->hasFocus();
    }));
    QTest::keyClick(keyboard, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.ui().btnProcess));
    QTest::keyClick(keyboard, Qt::Key_Space);

    QVERIFY(e2e::WaitUntil([&] { return rig.ended; }));
    QVERIFY(rig.SuccessShown());
    QVERIFY(sim.Stored("SYS", "PUB", "ZORBELIX") == e2e::ShippedPayload());
  }

  // The host falls silent instead of asking for record 101, so the window
  // is seen exactly as record 100 left it.
  void progressAfterRecord100() {
    SimHost sim({"--silent-at", "fcopy-record:101"});
    QVERIFY2(sim.ok(), qPrintable(sim.log()));
    Installer rig;
    QVERIFY(rig.StartInstallation(sim.port()));
    QVERIFY(e2e::WaitUntil([&] { return sim.SawEvent("fault at fcopy-record:101: silence"); }));
    const TNSVT& w = *rig.window;
    // The window shows progress at its next frame.
    QVERIFY(
        e2e::WaitUntil([&] { return w.ui().lblStatus->text() == "  ZORBELIX Size: 109KB - 100"; },
                       e2e::kStartWaitMs));
    QCOMPARE(w.ui().lblStatus->text(), QString("  ZORBELIX Size: 109KB - 100"));
    QCOMPARE(w.ui().pb2->value(), 22);
    QCOMPARE(w.uiPhase(), 3);
    // Timer1 counts the seconds the host has been silent during the copy.
    QVERIFY(w.ui().Timer1->isActive());
    QVERIFY(e2e::WaitUntil([&] { return w.ui().lbl2->text() == "1"; }, e2e::kStartWaitMs));
    QCOMPARE(sim.ReceivedLines().count(QString("<%1 bytes>").arg(kRecordSize)), 100);
  }

  void blockTransferKinds_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("binary");

    const QByteArray text = e2e::Resource("E2ETEXT");
    const QByteArray packed = e2e::Unpacked(e2e::Resource("E2EPACK"));
    const QByteArray packedWithHeader = e2e::Unpacked(e2e::Resource("E2EPKHD"));
    QVERIFY(!text.isEmpty() && packed.size() == 300000 && packedWithHeader.size() == 5128);

    QTest::newRow("XFERA text, default records")
        << "XFERA~E2ETEXT~0"
        << "SYS"
        << "E2ETEXT" << e2e::TextRecords(text, 80) << false;
    QTest::newRow("XFERA text, 72-byte records")
        << "XFERA~E2ETEXT~72~900"
        << "SYS"
        << "E2ETEXT" << e2e::TextRecords(text, 72) << false;
    QTest::newRow("XFERB binary, 3000 bytes") << "XFERB~E2EBIN"
                                              << "SYS"
                                              << "E2EBIN" << e2e::Resource("E2EBIN") << true;
    QTest::newRow("XFERB with its own QZBIN header")
        << "XFERB~E2EHDR"
        << "SYS"
        << "E2EHDR" << e2e::Resource("E2EHDR").mid(128) << true;
    QTest::newRow("XFERC packed") << "XFERC~E2EPACK"
                                  << "SYS"
                                  << "E2EPACK" << packed << true;
    QTest::newRow("XFERD packed with its own header to PUB.SYS")
        << "XFERD~E2EPKHD"
        << "SYS"
        << "E2EPKHD" << packedWithHeader.mid(128) << true;
    QTest::newRow("XFERE packed to PUB.VORDANEX") << "XFERE~E2EPACK"
                                                  << "VORDANEX"
                                                  << "E2EPACK" << packed << true;
  }

  void blockTransferKinds() {
    QFETCH(QString, line);
    QFETCH(QString, account);
    QFETCH(QString, file);
    QFETCH(QByteArray, expected);
    QFETCH(bool, binary);

    if (!blockHost_) {
      // The receiving program gets onto the host the way a customer's does.
      blockHost_ = std::make_unique<SimHost>();
      QVERIFY2(blockHost_->ok(), qPrintable(blockHost_->log()));
      {
        Installer shipped;
        QVERIFY(shipped.StartInstallation(blockHost_->port()));
        QVERIFY(e2e::WaitUntil([&] { return shipped.ended; }));
        QVERIFY(shipped.SuccessShown());
      }
      // Begin runs the script file first; %0 and %1 are PUB and SYS.
      const QString script = QDir(work_.path()).filePath("blocks.txt");
      blockRig_ = std::make_unique<Installer>(std::map<int, std::string>{
          {1, "FILE~" + script.toStdString() + "~940"}, {1071, "PUB"}, {1072, "SYS"}});
      blockRig_->Connect(blockHost_->port());
      QVERIFY(blockRig_->LogOn());
    }
    QVERIFY(blockRig_ != nullptr);
    Installer& rig = *blockRig_;
    SimHost& sim = *blockHost_;
    e2e::WriteScript(work_.path(), "blocks.txt", {line, "STOP"});
    rig.dialogs.boxes.clear();
    const std::size_t sentBefore = sim.Received().size();

    rig.Begin();
    QVERIFY(rig.window->run().actionCode() != 0);
    QVERIFY(e2e::WaitUntil([&] { return Settled(rig, End::Prompt); }));

    QVERIFY2(rig.dialogs.boxes.empty(), rig.BoxSummary().c_str());
    QVERIFY(sim.Stored(account, "PUB", file) == expected);
    QVERIFY2(sim.Deviations().isEmpty(), qPrintable(sim.Deviations().join('\n')));

    const QStringList sent = sim.ReceivedLines().mid(static_cast<qsizetype>(sentBefore));
    QVERIFY(sent.size() > 4);
    QCOMPARE(sent.mid(0, 3), QStringList({"RUN ZORBELIX.PUB.SYS", "Y", "<256 bytes>"}));

    if (binary) {
      // Two header blocks of 128 bytes, data blocks of 1024 numbered from 1
      // with the rest in the last, and an empty end block.
      const std::vector<Block> blocks = ReceivedBlocks(sim, sentBefore);
      QVERIFY(blocks.size() >= 4);
      QCOMPARE(blocks[0].sequence, 0);
      QCOMPARE(blocks[0].count, 128);
      QCOMPARE(blocks[1].sequence, 0);
      QCOMPARE(blocks[1].count, 128);
      // Only a plain XFERB payload goes with a header without the magic.
      QCOMPARE(blocks[1].data.startsWith("QZBIN"), line != "XFERB~E2EBIN");
      const std::size_t dataBlocks = (expected.size() + kBlockData - 1) / kBlockData;
      QCOMPARE(blocks.size(), dataBlocks + 3);
      for (std::size_t i = 0; i < dataBlocks; ++i) {
        const Block& b = blocks[2 + i];
        QCOMPARE(b.sequence, static_cast<int>(i + 1));
        const qsizetype want = std::min<qsizetype>(kBlockData, expected.size() - i * kBlockData);
        QCOMPARE(b.count, static_cast<int>(want));
      }
      QCOMPARE(blocks.back().sequence, static_cast<int>(dataBlocks + 1));
      QCOMPARE(blocks.back().count, 0);
    }
  }

  void failurePaths_data() {
    QTest::addColumn<QStringList>("simArgs");
    // empty: the shipped script; "22:" and a line: the shipped script with
    // that line in place of its XFERU line; else a script file's line
    QTest::addColumn<QString>("script");
    QTest::addColumn<End>("end");
    QTest::addColumn<QString>("status");  // the status line starts with it
    QTest::addColumn<QString>("box");     // a box with this text; "E:" for an error box
    QTest::addColumn<QStringList>("lastSent");

    const QString put = PutShipped();
    QTest::newRow("BUILD answered with CIERR")
        << QStringList{"--fail", "BUILD"} << QString() << End::Prompt << QString()
        << QString("Error processing command\r\nCannot continue.")
        << QStringList{"ECHO !HPUSER.!HPACCOUNT", kBuildLine, ""};
    QTest::newRow("FCOPY asks Y OR N twice")
        << QStringList{"--fcopy-question", "2"} << QString() << End::Ended << QString()
        << QString(kSuccess)
        << QStringList{":EOD", "E", "N", "E", "N", "E", "PURGE ZORBELIX", "SAVE $OLDPASS,ZORBELIX",
                       "BYE"};
    // FCOPY given up on after eight answers: the copy is not confirmed, so
    // nothing is saved and the run stops with an error.
    QTest::newRow("FCOPY that never stops asking")
        << QStringList{"--fcopy-question", "1000"} << QString() << End::LogOnRow
        << QString("  Network Error: 4110, Error creating new file") << QString()
        << QStringList{":EOD", "E", "N", "E", "N", "E", "N", "E", "N", ""};
    // FCOPY's data request fails: its input is ended, it is left, and the
    // script goes on at the error line; nothing is saved.
    QTest::newRow("FCOPY's data request fails, XFERU with an error line")
        << QStringList{"--read-length", "fcopy-record:5=2"}
        << QString("22:XFERU~ZORBELIX~NMPRG~900") << End::Prompt << QString()
        << QString("Error occured") << QStringList{":EOD", "E", ""};
    QTest::newRow("drop in the middle of the records")
        << QStringList{"--drop-at", "fcopy-record:200"} << QString() << End::Ended << QString()
        << QString() << QStringList{"0100", "<256 bytes>"};
    QTest::newRow("reset in the middle of the records")
        << QStringList{"--reset-at", "fcopy-record:200"} << QString() << End::Error
        << QString("  Network Error: 10054, ") << QString() << QStringList{"0100", "<256 bytes>"};
    QTest::newRow("drop in the middle of the blocks")
        << QStringList{"--put", put, "--drop-at", "block:100"} << QString("XFERC~E2EPACK")
        << End::Ended << QString() << QString() << QStringList{"<1032 bytes>"};
    QTest::newRow("reset in the middle of the blocks")
        << QStringList{"--put", put, "--reset-at", "block:100"} << QString("XFERC~E2EPACK")
        << End::Error << QString("  Network Error: 10054, ") << QString()
        << QStringList{"<1032 bytes>"};
    QTest::newRow("read of 2 before the data")
        << QStringList{"--put", put, "--read-length", "block-confirm=2"} << QString("XFERB~E2EBIN")
        << End::LogOnRow << QString("  Network Error: 4014, Error cannot write to file.")
        << QString("E:  Network Error: 4014, Error cannot write to file.")
        << QStringList{"<1032 bytes>", "<1032 bytes>", "1"};
    QTest::newRow("read of 80 for a data block")
        << QStringList{"--put", put, "--read-length", "block:2=80"} << QString("XFERB~E2EBIN")
        << End::LogOnRow << QString("  Network Error: 4010, Error READY \x01READY \x01")
        << QString("E:  Network Error: 4010, Error READY \x01READY \x01")
        << QStringList{"1", "<1032 bytes>", ""};
    QTest::newRow("target file in use on the host")
        << QStringList{"--put", put, "--in-use", "E2EBIN"} << QString("XFERB~E2EBIN")
        << End::LogOnRow
        << QString("  Network Error: 4109, Error FILE E2EBIN.PUB.SYS IS IN USE. (CIERR 384)")
        << QString() << QStringList{"<1032 bytes>", ""};
    QTest::newRow("challenge of 255 bytes")
        << QStringList{"--put", put, "--challenge-length", "255"} << QString("XFERB~E2EBIN")
        << End::LogOnRow << QString("  Network Error: 4008, Error 255 - ") << QString()
        << QStringList{"RUN ZORBELIX.PUB.SYS", "Y", ""};
  }

  void failurePaths() {
    QFETCH(QStringList, simArgs);
    QFETCH(QString, script);
    QFETCH(End, end);
    QFETCH(QString, status);
    QFETCH(QString, box);
    QFETCH(QStringList, lastSent);

    SimHost sim(simArgs);
    QVERIFY2(sim.ok(), qPrintable(sim.log()));
    std::map<int, std::string> table;
    if (script.startsWith("22:")) {
      table[22] = script.mid(3).toStdString();
    } else if (!script.isEmpty()) {
      const QString path =
          e2e::WriteScript(work_.path(), QString("fail%1.txt").arg(sim.port()), {script, "STOP"});
      table[1] = "FILE~" + path.toStdString() + "~940";
    }
    Installer rig(table);
    QVERIFY(rig.StartInstallation(sim.port()));
    QVERIFY(e2e::WaitUntil([&] { return Settled(rig, end); }));
    const TNSVT& w = *rig.window;

    QVERIFY2(box == kSuccess || !rig.SuccessShown(), rig.BoxSummary().c_str());
    if (box == kSuccess) {
      QVERIFY(rig.SuccessShown());
      QVERIFY(sim.Stored("SYS", "PUB", "ZORBELIX") == e2e::ShippedPayload());
    } else if (script.isEmpty() || script.startsWith("22:")) {
      QVERIFY(!sim.HasFile("SYS", "PUB", "ZORBELIX"));
    }
    if (box.startsWith("E:")) {
      QVERIFY2(rig.dialogs.Saw(Kind::Error, box.mid(2).toLatin1().toStdString()),
               rig.BoxSummary().c_str());
    } else if (!box.isEmpty()) {
      QVERIFY2(rig.dialogs.Saw(Kind::Message, box.toLatin1().toStdString()),
               rig.BoxSummary().c_str());
    }
    if (end == End::Error) {
      QVERIFY(!w.ui().Memo1->isEnabled());
      QVERIFY(!w.ui().btnProcess->isEnabled());
      QVERIFY(!rig.ended);
    }
    if (end == End::Prompt) {
      QVERIFY(w.ui().btnProcess->isEnabled());
    }
    if (end == End::LogOnRow) {
      QVERIFY(!w.ui().btnProcess->isEnabled());
    }
    if (!status.isEmpty()) {
      QVERIFY2(QString::fromStdString(rig.Status()).startsWith(status), rig.Status().c_str());
    }
    QVERIFY(!w.ui().Timer1->isActive() && !w.ui().Timer2->isActive());
    QVERIFY(!w.run().payloadLoaded());
    QCOMPARE(w.run().actionCode(), 0);

    // What the host got last; nothing went out after the failure.
    const QStringList sent = sim.ReceivedLines();
    QVERIFY(box == kSuccess || !sent.contains("SAVE $OLDPASS,ZORBELIX"));
    QVERIFY2(sent.size() >= lastSent.size() && sent.mid(sent.size() - lastSent.size()) == lastSent,
             qPrintable(sent.mid(std::max<qsizetype>(0, sent.size() - 8)).join(" | ")));
  }

  // A script file whose run failed is not picked up where it stopped: Begin
  // starts the script over, so the lines after the failure (here the
  // success message) are never carried out on their own.
  void beginAfterAFailureInAScriptFile() {
    SimHost sim;
    QVERIFY2(sim.ok(), qPrintable(sim.log()));
    const QString path =
        e2e::WriteScript(work_.path(), "restart.txt",
                         {"SEND1~ECHO HELLO~NOT THERE", QString("MSGB~") + kSuccess, "EXIT"});
    Installer rig({{1, "FILE~" + path.toStdString()}});
    QVERIFY(rig.StartInstallation(sim.port()));
    QVERIFY(e2e::WaitUntil([&] { return Settled(rig, End::Prompt); }));
    QVERIFY(!rig.SuccessShown());

    rig.Begin();
    QVERIFY(e2e::WaitUntil([&] { return rig.ended || Settled(rig, End::Prompt); }));
    QVERIFY2(!rig.SuccessShown(), rig.BoxSummary().c_str());
    QCOMPARE(sim.ReceivedLines().count("ECHO HELLO"), 2);
  }

  void tracedRun() {
    // TRACEFIL goes to the current directory: a fresh one, left again
    // however the test ends.
    QTemporaryDir dir;
    struct Restore {
      QString path = QDir::currentPath();
      ~Restore() { QDir::setCurrent(path); }
    } restore;
    QVERIFY(QDir::setCurrent(dir.path()));
    SimHost sim;
    QVERIFY2(sim.ok(), qPrintable(sim.log()));
    {
      Installer rig({}, {"xt"});
      QVERIFY(rig.StartInstallation(sim.port()));
      QVERIFY(e2e::WaitUntil([&] { return rig.ended; }));
      QVERIFY(rig.SuccessShown());
    }
    QFile file(dir.filePath("TRACEFIL"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray trace = file.readAll();
    QVERIFY(trace.endsWith("\r\n"));
    QCOMPARE(trace.count('\n'), trace.count("\r\n"));
    const QList<QByteArray> lines = trace.left(trace.size() - 2).split('\n');
    const auto line = [&](qsizetype i) { return QString::fromLatin1(lines[i].chopped(1)); };

    QVERIFY(
        QRegularExpression(R"(^PELTRIMAX TRACE: Version(\(32\): \d+\.\d+\.\d+\.\d+|: Unknown)$)")
            .match(line(0))
            .hasMatch());
    QCOMPARE(line(1), QString("ZORBELIX MPEiX Installation"));

    // Each record answers a read of 256, whose mark starts the record's line.
    const QRegularExpression record(R"(^~C\(\d{4}-0256\)1 \(256\)$)");
    const QRegularExpression termIo(R"(TERM_IO from host \[([ \d]{5})\] \[[0-9A-F]{4}\]$)");
    const QRegularExpression dumpLine(R"(^(( [0-9A-F]{2}| {3}){8}\|){2}.{1,16}$)");
    int records = 0;
    int dumps = 0;
    bool echoLine = false;
    bool lookup = false;
    bool resource = false;
    bool echoAnswer = false;
    for (qsizetype i = 2; i < lines.size(); ++i) {
      const QString text = line(i);
      records += record.match(text).hasMatch() ? 1 : 0;
      echoLine = echoLine || text.endsWith(" [ECHO !HPUSER.!HPACCOUNT ]");
      lookup = lookup || text.endsWith(" InitCodeGeneration: ZORBELIX");
      resource = resource || QRegularExpression(R"( ResourcePtr: \d+$)").match(text).hasMatch();
      const QRegularExpressionMatch output = termIo.match(text);
      if (output.hasMatch() && output.captured(1).trimmed() != "0") {
        QVERIFY(text.startsWith("~C("));  // the marks of the read and the output
        QVERIFY2(i + 1 < lines.size() && dumpLine.match(line(i + 1)).hasMatch(),
                 qPrintable(line(i) + "\n" + line(i + 1)));
        ++dumps;
        if (text.contains("[   11]") && line(i + 1) == " 4D 41 4E 41 47 45 52 2E| 53 59 53" +
                                                           QString(15, ' ') + "|MANAGER.SYS") {
          echoAnswer = true;
        }
      }
    }
    QCOMPARE(records, kRecords);
    QVERIFY(dumps > 10);
    QVERIFY(echoLine);
    QVERIFY(lookup);
    QVERIFY(resource);
    QVERIFY(echoAnswer);
  }

  void cleanupTestCase() {
    blockRig_.reset();
    blockHost_.reset();
  }
};

QTEST_MAIN(InstallE2eTest)
#include "install_e2e_test.moc"
