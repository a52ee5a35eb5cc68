// The window's side of the connection: Connect and its wait, the phases
// that follow the host's reads and logon notice, the error report as the
// operator sees it, and how the program ends or stays open when the
// connection goes.
#include "testdir.h"
#include "windowrig.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using shell::ConsoleEdit;
using shell::TNSVT;
using support::Bytes;
using support::RecordingDialogs;
using support::WindowRig;
namespace host = support::host;
using Kind = RecordingDialogs::Kind;

namespace {

std::string Status(const TNSVT& w) {
  return w.ui().lblStatus->text().toLatin1().toStdString();
}

// Class, type and class word of a message the window sent.
struct Sent {
  int messageClass;
  int type;
  int length;
};

Sent Describe(const Bytes& message) {
  return {message[3], message[5], (message[0] << 8) | message[1]};
}

}  // namespace

class ConnectionTest : public QObject {
  Q_OBJECT

private slots:
  void phasesFollowReadsAndLogon() {
    WindowRig rig;
    rig.Connect();
    TNSVT& w = *rig.window;
    rig.Host(host::NegotiationRequest());
    rig.Host(host::ReadRequest(80));
    QCOMPARE(w.uiPhase(), 1);
    QVERIFY(w.ui().Memo1->isEnabled());
    QVERIFY(!w.ui().btnProcess->isEnabled());
    rig.Host(host::LogonNotice("MANAGER.SYS,PUB"));
    QCOMPARE(w.ui().lblLogonString->text(), QString("MANAGER.SYS,PUB"));
    QVERIFY(w.logonAccepted());
    rig.Host(host::ReadRequest(80));
    QCOMPARE(w.uiPhase(), 2);
    QVERIFY(w.ui().btnProcess->isEnabled());
    QVERIFY(rig.dialogs.boxes.empty());

    // The console shows a caret while it takes typing, and looks inactive
    // once the line is sent and until the host reads again.
    const ConsoleEdit* memo = w.ui().Memo1;
    QVERIFY(memo->textInteractionFlags().testFlag(Qt::TextSelectableByKeyboard));
    w.Memo1KeyPress('\r');
    QVERIFY(!memo->textInteractionFlags().testFlag(Qt::TextSelectableByKeyboard));
    QVERIFY(memo->palette().color(QPalette::Disabled, QPalette::Base) !=
            memo->palette().color(QPalette::Active, QPalette::Base));
  }

  void refusedLogonRepeatsTheInstruction() {
    WindowRig rig;
    rig.Connect();
    rig.Host(host::ReadRequest(80));
    rig.Host(host::LogonNotice("OPERATOR.SYS"));
    rig.Host(host::ReadRequest(80));
    QCOMPARE(rig.dialogs.Texts(Kind::Message), std::vector{rig.window->LogonInstruction()});
    QCOMPARE(rig.window->uiPhase(), 1);
    QVERIFY(!rig.window->ui().btnProcess->isEnabled());
  }

  void logonTextIsTakenFromItsField() {
    WindowRig rig;
    rig.Connect();
    // A length beyond 80 takes all 80 bytes; a zero byte ends what the label shows.
    rig.Host(host::LogonNotice(std::string(80, 'M'), 100));
    QCOMPARE(rig.window->ui().lblLogonString->text(), QString(80, 'M'));
    rig.Host(host::LogonNotice(std::string("MANAGER.SYS,PUB\0X", 17)));
    QCOMPARE(rig.window->ui().lblLogonString->text(), QString("MANAGER.SYS,PUB"));
  }

  void hostTermination_data() {
    QTest::addColumn<int>("byte10");
    QTest::addColumn<int>("byte11");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("errorBox");
    QTest::newRow("reason 6") << 6 << 0
                              << "  Network Error: 4004, Host requested termination: LOGON FAILED"
                              << false;
    QTest::newRow("reason 1, low byte first")
        << 1 << 0 << "  Network Error: 4004, Host requested termination: USER ABORT REQUEST"
        << false;
    QTest::newRow("reason 256 is unknown")
        << 0 << 1 << "  Network Error: 4005, Host requested termination: unknown cause" << true;
  }
  void hostTermination() {
    QFETCH(int, byte10);
    QFETCH(int, byte11);
    QFETCH(QString, status);
    QFETCH(bool, errorBox);
    WindowRig rig;
    rig.Connect();
    rig.LogOn();
    rig.Host(host::Termination(static_cast<std::uint8_t>(byte10), static_cast<std::uint8_t>(byte11),
                               0x0102));
    QCOMPARE(rig.window->ui().lblStatus->text(), status);
    QCOMPARE(rig.dialogs.Count(Kind::Error), errorBox ? std::size_t{1} : std::size_t{0});
    QCOMPARE(rig.window->uiPhase(), 0);
    QVERIFY(rig.window->ui().Panel1->isVisible());
    const Bytes& reply = rig.socket->sent.back();
    QCOMPARE(reply, (Bytes{0, 10, 2, 1, 0x5A, 2, 0x01, 0x02, 0x80, 0}));
    rig.socket->NamePeer("late.example");  // covers nothing newer
    QCOMPARE(rig.window->ui().lblStatus->text(), status);
  }

  void peerNameJoinsTheConnectedText() {
    WindowRig rig;
    rig.socket->remoteHost.clear();
    rig.Connect();
    QCOMPARE(Status(*rig.window), std::string("  Connected to: "));
    rig.socket->NamePeer("hp3000.example");
    QCOMPARE(Status(*rig.window), std::string("  Connected to: hp3000.example"));
  }

  void terminationReplyEndsQuietly() {
    WindowRig rig;
    rig.Connect();
    rig.Host(host::TerminationReply());
    QCOMPARE(Status(*rig.window), std::string("Termination OK"));
    QVERIFY(rig.dialogs.boxes.empty());
  }

  void lengthBelowHeaderClosesTheConnection() {
    WindowRig rig;
    rig.Connect();
    Bytes broken = host::SetBreak();
    broken[1] = 4;
    broken.insert(broken.end(), 20, 0);  // would loop a naive framer
    rig.Host(broken);
    QCOMPARE(Status(*rig.window), std::string("  Network Error: 4003, RECEIVED AN INVALID PACKET"));
    QVERIFY(!rig.socket->Connected());
    QVERIFY(!rig.ended);
    QCOMPARE(rig.window->uiPhase(), 0);
  }

  void errorReportRules() {
    WindowRig rig;
    rig.Connect();
    TNSVT& w = *rig.window;
    w.ReportError(4150, "Error checking for volume set names.");
    QCOMPARE(Status(w), std::string("  Network Error: 4150, Error checking for volume set names."));
    QCOMPARE(rig.dialogs.Texts(Kind::Error).back(), Status(w));
    // A text holding "block" in any case keeps the previous line; the box repeats it.
    w.ReportError(4210, "Error: Bad BlOcK");
    QCOMPARE(Status(w), std::string("  Network Error: 4150, Error checking for volume set names."));
    QCOMPARE(rig.dialogs.Texts(Kind::Error).back(), Status(w));
    w.ReportError(10053, "aborted");
    QCOMPARE(Status(w), std::string("Disconnected"));
    QCOMPARE(rig.dialogs.Count(Kind::Error), std::size_t{2});
    w.ReportError(-5, "negative codes show their text alone");
    QCOMPARE(Status(w), std::string("negative codes show their text alone"));
  }

  // A reset keeps the window for a reconnect; one that cuts a run short is
  // reported as a host's close would be, with where the run stood.
  void resetKeepsTheWindowOpen_data() {
    QTest::addColumn<bool>("running");
    QTest::addColumn<QString>("box");  // the error box; empty: none
    QTest::newRow("at the prompt") << false << QString();
    QTest::newRow("while a run waits")
        << true
        << "The installation did not complete: the connection failed (10054, Connection reset by "
           "peer) while waiting for the answer to \"ECHO !HPUSER.!HPACCOUNT\".\r\nThe host "
           "program was not installed, and the previous one, if any, is still on the host.";
  }
  void resetKeepsTheWindowOpen() {
    QFETCH(bool, running);
    QFETCH(QString, box);
    WindowRig rig;
    rig.Connect();
    rig.LogOn();
    if (running) {
      rig.window->btnProcessClick();
    }
    rig.socket->PeerError(10054);
    QCOMPARE(Status(*rig.window), std::string("  Network Error: 10054, Connection reset by peer"));
    const auto errors = rig.dialogs.Texts(Kind::Error);
    QCOMPARE(errors, box.isEmpty() ? std::vector<std::string>{}
                                   : std::vector<std::string>{box.toStdString()});
    QCOMPARE(rig.window->exitStatus(), running ? 1 : 0);
    QVERIFY(!rig.ended);
    QVERIFY(!rig.socket->Connected());
    QCOMPARE(rig.window->uiPhase(), 0);
  }

  // A script's planned failure (an error line, a message, EXIT) logs off
  // like a success; the program still ends with the failure status.
  void plannedFailureEndsWithFailureStatus() {
    WindowRig rig({{10, "SEND2~PURGE ZORBELIX~CIERR~920"}, {22, ""}, {24, ""}, {26, ""}});
    rig.Connect();
    rig.LogOn();
    const std::size_t before = rig.socket->sent.size();
    rig.window->btnProcessClick();
    rig.Host(host::TermIo("FILE IN USE. (CIERR 384)"));
    rig.Host(host::ReadRequest(80));
    rig.Host(host::ReadRequest(80));
    QCOMPARE(rig.SentLines(before), (std::vector<std::string>{"PURGE ZORBELIX", "", "BYE"}));
    QVERIFY(rig.dialogs.Saw(Kind::Message, "File is in use.  Cannot continue."));
    rig.socket->PeerClose();
    QVERIFY(rig.ended);
    QCOMPARE(rig.exitStatus, 1);
  }

  void hostCloseEndsTheProgramWithTermination() {
    WindowRig rig;
    rig.Connect();
    rig.LogOn();
    rig.socket->PeerClose();
    QVERIFY(rig.ended);
    const Bytes& last = rig.socket->sent.back();
    QCOMPARE(Describe(last).messageClass, 0);
    QCOMPARE(Describe(last).type, 2);
  }

  void refusedConnectionFails() {
    WindowRig rig;
    rig.socket->refuseWith = 10061;
    rig.Connect();
    QCOMPARE(Status(*rig.window), std::string("  Network Error: 10061, refused"));
    QCOMPARE(rig.dialogs.Texts(Kind::Message), std::vector<std::string>{"Connection failed"});
    QCOMPARE(rig.dialogs.Count(Kind::Error), std::size_t{0});
    QVERIFY(!rig.ended);
    rig.socket->refuseWith = 0;
    rig.Connect();  // a new attempt is possible
    QVERIFY(rig.socket->Connected());
  }

  void connectionWaitGivenUpCancelsTheAttempt() {
    WindowRig rig;
    rig.socket->holdOpen = true;
    // The wait ends after 31 ticks of Timer2.
    QTimer::singleShot(0, rig.window.get(), [&rig] {
      for (int tick = 0; tick < 31; ++tick) {
        rig.window->Timer2Timer();
      }
    });
    rig.Connect();
    QCOMPARE(rig.dialogs.Texts(Kind::Message), std::vector<std::string>{"Connection failed"});
    const std::string status = Status(*rig.window);
    // The system giving up minutes later must not reach the window.
    rig.socket->FailPendingOpen(10060);
    QCOMPARE(Status(*rig.window), status);
    QCOMPARE(rig.socket->cancelledOpens, 1);
  }

  void connectWhileConnectedReconnects() {
    WindowRig rig;
    rig.Connect();
    rig.LogOn();
    rig.Connect("otherhost");
    QCOMPARE(rig.socket->opens, 2);
    QCOMPARE(rig.socket->closes, 1);
    QVERIFY(!rig.ended);
    QVERIFY(rig.socket->Connected());
    QCOMPARE(rig.socket->openedHost, QString("otherhost"));
  }

  void passwordsStayOutOfTheTrace() {
    support::InTempDir dir;
    WindowRig rig(support::Script({{1, "STOP"}}));
    rig.modifiers = Qt::ControlModifier;  // Begin opens the trace
    rig.Connect();
    rig.LogOn();
    rig.window->btnProcessClick();
    rig.Host(host::Settings(0x8000, 1));  // the host's echo goes off: a password prompt
    rig.Host(host::ReadRequest(80));
    for (char c : std::string("secret\r")) {
      rig.window->Memo1KeyPress(static_cast<std::uint8_t>(c));
    }
    QCOMPARE(rig.SentLines().back(), std::string("secret"));
    QFile file("TRACEFIL");
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray trace = file.readAll();
    QVERIFY(!trace.contains("secret"));
    QVERIFY(trace.contains(" [******** ]\r\n"));
  }
};

QTEST_MAIN(ConnectionTest)
#include "connection_test.moc"
