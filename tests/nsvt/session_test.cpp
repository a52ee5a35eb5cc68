// The NS/VT session on a socket the test plays the host through, with no
// window: what it answers to each host message, what it reports, how it
// frames a stream split anywhere, how it holds bytes that arrive while a
// report is being handled, and what it writes to the trace.
#include "sessiontest.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "nsvt/hostlookup.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

using support::Bytes;
using support::RecordingListener;
using support::SessionRig;
namespace host = support::host;

namespace {

// Class and type of a message the session sent.
struct Sent {
  int messageClass;
  int type;
};

Sent Describe(const Bytes& message) {
  return {message[3], message[5]};
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class SessionTest : public QObject {
  Q_OBJECT

private slots:
  void negotiationIsAnsweredWithReplyAndOpenRequest() {
    SessionRig rig;
    rig.Connect();
    QCOMPARE(rig.socket->openedHost, QString("127.0.0.1"));
    QCOMPARE(rig.socket->openedPort, quint16{1570});
    QCOMPARE(rig.listener.Kinds(), std::vector<std::string>{"connected"});
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
    QTest::addColumn<QString>("reported");
    QTest::newRow("set break") << host::SetBreak()
                               << Bytes{0, 10, 2, 5, 0x5A, 0, 0x4B, 0x21, 0x80, 0} << "";
    QTest::newRow("MPE control") << host::MpeControl()
                                 << Bytes{0, 10, 2, 9, 0x5A, 0, 0x4B, 0x21, 0x08, 0} << "";
    QTest::newRow("settings") << host::Settings(0x8000, 1, 5)
                              << Bytes{0, 12, 2, 5, 0x5A, 1, 0x4B, 0x21, 0x80, 0, 0x80, 0} << "";
    QTest::newRow("logon notice") << host::LogonNotice("MANAGER.SYS,PUB")
                                  << Bytes{0, 10, 2, 1, 0x5A, 3, 0x4B, 0x21, 0x80, 0} << "logon";
    QTest::newRow("termination, reason 1 low byte first")
        << host::Termination(1, 0, 0x0102) << Bytes{0, 10, 2, 1, 0x5A, 2, 0x01, 0x02, 0x80, 0}
        << "error";
  }
  void controlRequestsGetTheirFixedReplies() {
    QFETCH(Bytes, request);
    QFETCH(Bytes, reply);
    QFETCH(QString, reported);
    SessionRig rig;
    rig.Connect();
    rig.listener.events.clear();
    rig.Host(request);
    QCOMPARE(rig.socket->sent, std::vector<Bytes>{reply});
    QCOMPARE(rig.listener.Kinds(),
             reported.isEmpty() ? std::vector<std::string>{} : std::vector{reported.toStdString()});
  }

  // A reply that cannot be written ends the connection, with the socket's
  // reason when it gives one; it is never dropped in silence.
  void replyThatCannotBeWrittenEndsTheSession_data() {
    QTest::addColumn<int>("socketReason");
    QTest::addColumn<int>("code");
    QTest::newRow("the socket gives no reason") << 0 << 10053;
    QTest::newRow("the socket's reason") << 10055 << 10055;
  }
  void replyThatCannotBeWrittenEndsTheSession() {
    QFETCH(int, socketReason);
    SessionRig rig;
    rig.Connect();
    rig.socket->failSends = true;
    rig.socket->failSendsWith = socketReason;
    rig.listener.events.clear();
    rig.Host(host::SetBreak());
    QTRY_COMPARE(rig.listener.Kinds(), (std::vector<std::string>{"error", "closed"}));
    QTEST(rig.listener.events.front().code, "code");
    QVERIFY(rig.listener.events.front().flag);  // as a failed socket
    QVERIFY(!rig.session->Connected());
  }

  void peerNameIsNoSignOfLife() {
    SessionRig rig;
    rig.Connect();
    rig.socket->NamePeer("hp3000.example");
    QCOMPARE(rig.listener.events.back().what, std::string("named"));
    QCOMPARE(rig.listener.events.back().text, std::string("hp3000.example"));
    QCOMPARE(rig.listener.received, 0);
  }

  // However many connections want a name, only a few lookups run at once;
  // the rest wait their turn, and each answer comes back to its receiver.
  void reverseLookupsRunAFewAtATime() {
    struct Gate {
      std::mutex mutex;
      std::condition_variable changed;
      int running = 0;
      int most = 0;
      bool open = false;
    };
    auto gate = std::make_shared<Gate>();
    const nsvt::ReverseResolver held = [gate](const QString& address) {
      std::unique_lock lock(gate->mutex);
      gate->most = std::max(gate->most, ++gate->running);
      gate->changed.notify_all();
      gate->changed.wait(lock, [&gate] { return gate->open; });
      --gate->running;
      return "name-of-" + address;
    };
    constexpr int kLookups = 3 * nsvt::kMaxLookupsAtOnce;
    QObject receiver;
    std::vector<std::string> names;
    std::vector<nsvt::LookupTicket> tickets;
    for (int i = 0; i < kLookups; ++i) {
      tickets.push_back(nsvt::LookUpPeerName(
          QString::number(i), &receiver,
          [&names](const QString& name) { names.push_back(name.toStdString()); }, held));
    }
    {
      std::unique_lock lock(gate->mutex);
      QVERIFY(gate->changed.wait_for(lock, std::chrono::seconds(5),
                                     [&gate] { return gate->running == nsvt::kMaxLookupsAtOnce; }));
      gate->open = true;
      gate->changed.notify_all();
    }
    QTRY_COMPARE(names.size(), std::size_t{kLookups});
    QCOMPARE(gate->most, nsvt::kMaxLookupsAtOnce);
    tickets.front() = nsvt::LookUpPeerName(
        "x", &receiver, [&names](const QString&) { names.push_back("cancelled, yet answered"); },
        held);
    tickets.front().Cancel();
    QTest::qWait(50);
    QCOMPARE(names.size(), std::size_t{kLookups});
  }

  void reportsOfTheHost_data() {
    QTest::addColumn<Bytes>("message");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("termination, reason 6")
        << host::Termination(6, 0) << 4004 << "Host requested termination: LOGON FAILED";
    QTest::newRow("termination, reason 256 is unknown")
        << host::Termination(0, 1) << 4005 << "Host requested termination: unknown cause";
    QTest::newRow("termination reply") << host::TerminationReply() << 0 << "Termination OK";
  }
  void reportsOfTheHost() {
    QFETCH(Bytes, message);
    SessionRig rig;
    rig.Connect();
    rig.Host(message);
    const RecordingListener::Event& event = rig.listener.events.back();
    QCOMPARE(event.what, std::string("error"));
    QTEST(event.code, "code");
    QTEST(QString::fromStdString(event.text), "text");
    QVERIFY(!event.flag);
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
    SessionRig rig;
    rig.Connect();
    rig.Host(host::Settings(static_cast<std::uint16_t>(flags), static_cast<std::uint8_t>(echo)));
    QTEST(rig.session->LocalEcho(), "localEcho");
  }

  void terminalRequestsAreReported() {
    SessionRig rig;
    rig.Connect();
    rig.listener.events.clear();
    rig.Host(host::TermIo("MPE XL:", 0xD0));
    rig.Host(host::ReadRequest(7, 3));
    rig.Host(host::InputStop());
    QCOMPARE(rig.listener.Kinds(), (std::vector<std::string>{"output", "read", "stopped"}));
    QCOMPARE(rig.listener.events[0].text, std::string("MPE XL:"));
    QCOMPARE(rig.listener.events[0].code, 0xD0);
    // Any class 2 message replaces the read length.
    QCOMPARE(rig.session->HostReadLength(), 7);
    QCOMPARE(rig.session->hostReadSecond(), std::uint16_t{3});
    rig.Host(host::TermIo("x"));
    QCOMPARE(rig.session->HostReadLength(), 80);
  }

  void badVersionIsReportedAndIgnored() {
    SessionRig rig;
    rig.Connect();
    Bytes request = host::SetBreak();
    request[2] = 3;
    rig.Host(request);
    QCOMPARE(rig.listener.events.back().code, 4003);
    QCOMPARE(rig.listener.events.back().text, std::string("RECEIVED AN INVALID PACKET"));
    QVERIFY(rig.socket->sent.empty());
    QCOMPARE(rig.session->echoWord(), nsvt::kInitialEchoWord);
    // The stream goes on: the next message is acted on.
    rig.Host(host::SetBreak());
    QCOMPARE(rig.socket->sent.size(), std::size_t{1});
  }

  void lengthBelowHeaderClosesTheConnection() {
    SessionRig rig;
    rig.Connect();
    Bytes broken = host::SetBreak();
    broken[1] = 4;
    broken.insert(broken.end(), 20, 0);  // would loop a naive framer
    rig.Host(broken);
    QCOMPARE(rig.listener.Kinds(), (std::vector<std::string>{"connected", "error", "closed"}));
    QCOMPARE(rig.listener.events[1].code, 4003);
    QVERIFY(!rig.listener.events[2].flag);  // closed by this side, not the host
    QVERIFY(!rig.socket->Connected());
  }

  void invalidPacketReportHoldsTheBrokenStream() {
    SessionRig rig;
    rig.Connect();
    Bytes broken = host::SetBreak();
    broken[1] = 4;
    // While the report's box is open (its loop runs events), the rest of the
    // broken stream arrives: none of it may be acted on.
    rig.listener.onEvent = [&](const RecordingListener::Event& event) {
      if (event.what == "error") {
        Bytes rest = host::NegotiationRequest();
        const Bytes read = host::ReadRequest(80);
        rest.insert(rest.end(), read.begin(), read.end());
        rig.socket->Arrive(rest);
      }
    };
    rig.Host(broken);
    QVERIFY(rig.socket->sent.empty());
    QCOMPARE(rig.listener.Kinds(), (std::vector<std::string>{"connected", "error", "closed"}));
    QCOMPARE(rig.session->HostReadLength(), 1);
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
      SessionRig rig;
      rig.Connect();
      rig.socket->chunkSize = chunk;
      rig.Host(stream);
      QCOMPARE(rig.socket->sent.size(), std::size_t{2});
      QCOMPARE(Describe(rig.socket->sent[0]).messageClass, 5);
      QCOMPARE(Describe(rig.socket->sent[1]).messageClass, 9);
    }
  }

  void bytesArrivingDuringAReportWaitTheirTurn() {
    SessionRig rig;
    rig.Connect();
    rig.Host(host::ReadRequest(80));
    // While the logon notice is handled (a box could be open) the host sends
    // a read request; it must be handled after the notice, whose reply goes
    // first, and once.
    bool injected = false;
    rig.listener.onEvent = [&](const RecordingListener::Event& event) {
      if (event.what == "logon" && !injected) {
        injected = true;
        rig.socket->Arrive(host::ReadRequest(33));
        QCOMPARE(rig.session->HostReadLength(), 80);  // not yet
      }
    };
    rig.Host(host::LogonNotice("NOBODY"));
    QTRY_COMPARE(rig.session->HostReadLength(), 33);
    QCOMPARE(Describe(rig.socket->sent.back()).messageClass, 1);
    QCOMPARE(rig.listener.Kinds(),
             (std::vector<std::string>{"connected", "read", "logon", "read"}));
  }

  void closesAreReportedByWhoClosed() {
    SessionRig rig;
    rig.Connect();
    rig.socket->PeerClose();
    QCOMPARE(rig.listener.events.back().what, std::string("closed"));
    QVERIFY(rig.listener.events.back().flag);  // the host
    rig.Connect();
    rig.Connect();  // a new Open closes the live connection itself
    QCOMPARE(rig.listener.events.back().what, std::string("connected"));
    QVERIFY(!rig.listener.events[rig.listener.events.size() - 2].flag);
    rig.socket->PeerError(10054);
    QCOMPARE(rig.listener.Kinds().back(), std::string("closed"));
    const auto& failed = rig.listener.events[rig.listener.events.size() - 2];
    QCOMPARE(failed.code, 10054);
    QVERIFY(failed.flag);  // the socket failed
    QVERIFY(!rig.listener.events.back().flag);
  }

  void passwordsStayOutOfTheTrace() {
    QTemporaryDir dir;
    SessionRig rig;
    const QString path = QDir(dir.path()).filePath("TRACEFIL");
    rig.session->OpenTrace(path.toStdString());
    rig.Connect();
    rig.Host(host::Settings(0x8000, 1));
    rig.Host(host::ReadRequest(80));
    rig.session->SendLine("secret", !rig.session->LocalEcho());
    QCOMPARE(host::InputText(rig.socket->sent.back()), std::string("secret"));
    rig.session->SendLine("pw", !rig.session->LocalEcho());
    const QByteArray trace = ReadFile(path);
    QVERIFY(!trace.contains("secret"));
    // One mask for every password: the trace tells no length.
    QCOMPARE(trace.count(" [******** ]\r\n"), 2);
  }

  void traceMarksAndLinesForHostOutput() {
    QTemporaryDir dir;
    SessionRig rig;
    const QString path = QDir(dir.path()).filePath("TRACEFIL");
    rig.session->OpenTrace(path.toStdString());
    rig.Connect();
    rig.Host(host::ReadRequest(80));
    rig.Host(host::TermIo("abc", 0, 0));
    const QByteArray trace = ReadFile(path);
    QVERIFY2(trace.startsWith("~C(0000-0080)1~C(0000-0080)2 TERM_IO from host [    3] [0000]\r\n"),
             trace.constData());
  }
};

QTEST_GUILESS_MAIN(SessionTest)
#include "session_test.moc"
