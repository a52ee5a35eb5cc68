// The receive path and the dispatcher: what the window answers to each
// host message, how it reports errors, and how it survives messages that
// arrive while a box is open.
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using support::Bytes;
using support::RecordingDialogs;
using support::WindowRig;
namespace host = support::host;
using Kind = RecordingDialogs::Kind;

namespace {

std::string Status(const TNSVT& w) {
  return w.lblStatus->text().toLatin1().toStdString();
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
  void negotiationIsAnsweredWithReplyAndOpenRequest() {
    WindowRig rig;
    rig.Connect();
    QCOMPARE(rig.socket->openedHost, QString("127.0.0.1"));
    QCOMPARE(rig.socket->openedPort, quint16{1570});
    QCOMPARE(Status(*rig.window), std::string("  Connected to: localhost"));
    rig.Host(host::NegotiationRequest(0x7777));
    QCOMPARE(rig.socket->sent.size(), std::size_t{2});
    const Bytes& reply = rig.socket->sent[0];
    const Bytes expected{0,    26, 2,  1,    0x5A, 1, 0x00, 0x01, 0x80, 0x00, 0x80, 0x00, 0x80,
                         0x00, 0,  43, 0x2E, 0xF4, 6, 8,    0,    0,    0,    2,    0,    1};
    QCOMPARE(reply, expected);  // byte 4 is the host's, bytes 6-7 always 00 01
    const Bytes& open = rig.socket->sent[1];
    QCOMPARE(open.size(), std::size_t{71});
    QCOMPARE(Bytes(open.begin(), open.begin() + 20),
             (Bytes{0, 71, 2, 0, 0x5A, 0, 0, 1, 1, 0, 0, 4, ' ', ' ', ' ', ' ', ' ', ' ', 0, 9}));
    QCOMPARE(std::string(open.begin() + 20, open.begin() + 29), std::string("127.0.0.1"));
    QVERIFY(std::all_of(open.begin() + 29, open.end(), [](std::uint8_t b) { return b == 0; }));
  }

  void controlRequestsGetTheirFixedReplies_data() {
    QTest::addColumn<Bytes>("request");
    QTest::addColumn<Bytes>("reply");
    QTest::newRow("set break") << host::SetBreak()
                               << Bytes{0, 10, 2, 5, 0x5A, 0, 0x4B, 0x21, 0x80, 0};
    QTest::newRow("MPE control") << host::MpeControl()
                                 << Bytes{0, 10, 2, 9, 0x5A, 0, 0x4B, 0x21, 0x08, 0};
    QTest::newRow("settings") << host::Settings(0x8000, 1, 5)
                              << Bytes{0, 12, 2, 5, 0x5A, 1, 0x4B, 0x21, 0x80, 0, 0x80, 0};
    QTest::newRow("logon notice") << host::LogonNotice("MANAGER.SYS,PUB")
                                  << Bytes{0, 10, 2, 1, 0x5A, 3, 0x4B, 0x21, 0x80, 0};
  }
  void controlRequestsGetTheirFixedReplies() {
    QFETCH(Bytes, request);
    QFETCH(Bytes, reply);
    WindowRig rig;
    rig.Connect();
    rig.Host(request);
    QCOMPARE(rig.socket->sent.size(), std::size_t{1});
    QCOMPARE(rig.socket->sent[0], reply);
  }

  void settingsSwitchLocalEchoOnlyWithTheEchoBit_data() {
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("echo");
    QTest::addColumn<bool>("localEcho");
    QTest::newRow("bit set, echo off") << 0x8000 << 1 << false;
    QTest::newRow("bit set, other value") << 0x8000 << 3 << true;
    QTest::newRow("bit clear") << 0x4000 << 1 << true;
  }
  void settingsSwitchLocalEchoOnlyWithTheEchoBit() {
    QFETCH(int, flags);
    QFETCH(int, echo);
    WindowRig rig;
    rig.Connect();
    rig.Host(host::Settings(static_cast<std::uint16_t>(flags), static_cast<std::uint8_t>(echo)));
    QTEST(rig.window->LocalEcho, "localEcho");
  }

  void phasesFollowReadsAndLogon() {
    WindowRig rig;
    rig.Connect();
    TNSVT& w = *rig.window;
    rig.Host(host::NegotiationRequest());
    rig.Host(host::ReadRequest(80));
    QCOMPARE(w.UiPhase, 1);
    QVERIFY(w.Memo1->isEnabled());
    QVERIFY(!w.btnProcess->isEnabled());
    rig.Host(host::LogonNotice("MANAGER.SYS,PUB"));
    QCOMPARE(w.lblLogonString->text(), QString("MANAGER.SYS,PUB"));
    QVERIFY(w.LogonAccepted);
    rig.Host(host::ReadRequest(80));
    QCOMPARE(w.UiPhase, 2);
    QVERIFY(w.btnProcess->isEnabled());
    QVERIFY(rig.dialogs.boxes.empty());
    // Any class 2 message replaces the read length.
    rig.Host(host::TermIo("x"));
    QCOMPARE(w.HostReadLength, 80);
    rig.Host(host::ReadRequest(7));
    QCOMPARE(w.HostReadLength, 7);
  }

  void refusedLogonRepeatsTheInstruction() {
    WindowRig rig;
    rig.Connect();
    rig.Host(host::ReadRequest(80));
    rig.Host(host::LogonNotice("OPERATOR.SYS"));
    rig.Host(host::ReadRequest(80));
    QCOMPARE(rig.dialogs.Texts(Kind::Message), std::vector{rig.window->LogonInstruction()});
    QCOMPARE(rig.window->UiPhase, 1);
    QVERIFY(!rig.window->btnProcess->isEnabled());
  }

  void logonTextIsTakenFromItsField() {
    WindowRig rig;
    rig.Connect();
    // A length beyond 80 takes all 80 bytes; a zero byte ends what the label shows.
    rig.Host(host::LogonNotice(std::string(80, 'M'), 100));
    QCOMPARE(rig.window->lblLogonString->text(), QString(80, 'M'));
    rig.Host(host::LogonNotice(std::string("MANAGER.SYS,PUB\0X", 17)));
    QCOMPARE(rig.window->lblLogonString->text(), QString("MANAGER.SYS,PUB"));
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
    QCOMPARE(rig.window->lblStatus->text(), status);
    QCOMPARE(rig.dialogs.Count(Kind::Error), errorBox ? std::size_t{1} : std::size_t{0});
    QCOMPARE(rig.window->UiPhase, 0);
    QVERIFY(rig.window->Panel1->isVisible());
    const Bytes& reply = rig.socket->sent.back();
    QCOMPARE(reply, (Bytes{0, 10, 2, 1, 0x5A, 2, 0x01, 0x02, 0x80, 0}));
  }

  void terminationReplyEndsQuietly() {
    WindowRig rig;
    rig.Connect();
    rig.Host(host::TerminationReply());
    QCOMPARE(Status(*rig.window), std::string("Termination OK"));
    QVERIFY(rig.dialogs.boxes.empty());
  }

  void badVersionIsReportedAndIgnored() {
    WindowRig rig;
    rig.Connect();
    Bytes request = host::SetBreak();
    request[2] = 3;
    rig.Host(request);
    QCOMPARE(Status(*rig.window), std::string("  Network Error: 4003, RECEIVED AN INVALID PACKET"));
    QCOMPARE(rig.dialogs.Count(Kind::Error), std::size_t{1});
    QVERIFY(rig.socket->sent.empty());
    QCOMPARE(rig.window->EchoWord, nsvt::kInitialEchoWord);
    // The stream goes on: the next message is acted on.
    rig.Host(host::SetBreak());
    QCOMPARE(rig.socket->sent.size(), std::size_t{1});
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
    QCOMPARE(rig.window->UiPhase, 0);
  }

  void invalidPacketBoxHoldsTheBrokenStream() {
    WindowRig rig;
    rig.Connect();
    Bytes broken = host::SetBreak();
    broken[1] = 4;
    // While the report's box is open (its loop runs events), the rest of the
    // broken stream arrives: none of it may be acted on.
    rig.dialogs.onBox = [&](const RecordingDialogs::Box&) {
      Bytes rest = host::NegotiationRequest();
      const Bytes read = host::ReadRequest(80);
      rest.insert(rest.end(), read.begin(), read.end());
      rig.socket->Arrive(rest);
    };
    rig.Host(broken);
    QVERIFY(rig.socket->sent.empty());
    QCOMPARE(rig.dialogs.boxes.size(), std::size_t{1});
    QCOMPARE(rig.window->HostReadLength, 1);
    QVERIFY(!rig.socket->Connected());
  }

  void messagesSplitAnywhereAreDispatchedOnce() {
    const Bytes stream = [] {
      Bytes all = host::SetBreak();
      const Bytes second = host::MpeControl();
      all.insert(all.end(), second.begin(), second.end());
      return all;
    }();
    for (std::size_t chunk = 1; chunk <= stream.size(); ++chunk) {
      WindowRig rig;
      rig.Connect();
      rig.socket->chunkSize = chunk;
      rig.Host(stream);
      QCOMPARE(rig.socket->sent.size(), std::size_t{2});
      QCOMPARE(Describe(rig.socket->sent[0]).messageClass, 5);
      QCOMPARE(Describe(rig.socket->sent[1]).messageClass, 9);
    }
  }

  void bytesArrivingDuringABoxWaitTheirTurn() {
    WindowRig rig;
    rig.Connect();
    rig.Host(host::ReadRequest(80));
    // While the refused-logon box is open the host sends a read request; it
    // must be handled after the notice (whose reply goes first), once.
    bool injected = false;
    rig.dialogs.onBox = [&](const RecordingDialogs::Box&) {
      if (!injected) {
        injected = true;
        rig.Host(host::ReadRequest(33));
        QCOMPARE(rig.window->HostReadLength, 80);  // not yet
      }
    };
    rig.Host(host::LogonNotice("NOBODY"));
    QTRY_COMPARE(rig.window->HostReadLength, 33);
    QCOMPARE(Describe(rig.socket->sent.back()).messageClass, 1);
    QCOMPARE(rig.dialogs.boxes.size(), std::size_t{1});
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

  void resetKeepsTheWindowOpen() {
    WindowRig rig;
    rig.Connect();
    rig.LogOn();
    rig.socket->PeerError(10054);
    QCOMPARE(Status(*rig.window), std::string("  Network Error: 10054, Connection reset by peer"));
    QCOMPARE(rig.dialogs.Count(Kind::Error), std::size_t{0});
    QVERIFY(!rig.ended);
    QVERIFY(!rig.socket->Connected());
    QCOMPARE(rig.window->UiPhase, 0);
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
    QTimer::singleShot(0, rig.window.get(), [&rig] { rig.window->ConnectWaitTicks = 31; });
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
    QTemporaryDir dir;
    WindowRig rig;
    const std::string path = QDir(dir.path()).filePath("TRACEFIL").toStdString();
    QVERIFY(rig.window->trace.Open(path));
    rig.window->TraceOn = true;
    rig.Connect();
    rig.Host(host::Settings(0x8000, 1));
    rig.Host(host::ReadRequest(80));
    for (char c : std::string("secret\r")) {
      rig.window->Memo1KeyPress(static_cast<std::uint8_t>(c));
    }
    QCOMPARE(rig.SentLines().back(), std::string("secret"));
    QFile file(QString::fromStdString(path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray trace = file.readAll();
    QVERIFY(!trace.contains("secret"));
    QVERIFY(trace.contains(" [****** ]\r\n"));
  }

  void traceMarksAndLinesForHostOutput() {
    QTemporaryDir dir;
    WindowRig rig;
    const std::string path = QDir(dir.path()).filePath("TRACEFIL").toStdString();
    QVERIFY(rig.window->trace.Open(path));
    rig.window->TraceOn = true;
    rig.Connect();
    rig.Host(host::ReadRequest(80));
    rig.Host(host::TermIo("abc", 0, 0));
    QFile file(QString::fromStdString(path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray trace = file.readAll();
    QVERIFY2(trace.startsWith("~C(0000-0080)1~C(0000-0080)2 TERM_IO from host [    3] [0000]\r\n"),
             trace.constData());
  }
};

QTEST_MAIN(ConnectionTest)
#include "connection_test.moc"
