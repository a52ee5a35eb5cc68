// Faults on request, the verdicts the simulator exits with, and sessions
// side by side.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <cerrno>

#include "session.h"
#include "simdialogue.h"

namespace {

enum class CloseKind { Fin, Reset, StillOpen };

// Reads the socket's descriptor directly until the host closes it, to tell
// an orderly close from a reset (Qt reports both as a closed connection).
CloseKind waitForClose(qintptr fd, int timeoutMs) {
  char buf[4096];
  pollfd p{static_cast<int>(fd), POLLIN, 0};
  while (::poll(&p, 1, timeoutMs) > 0) {
    const ssize_t n = ::recv(static_cast<int>(fd), buf, sizeof buf, 0);
    if (n == 0)
      return CloseKind::Fin;
    if (n < 0)
      return errno == ECONNRESET ? CloseKind::Reset : CloseKind::StillOpen;
  }
  return CloseKind::StillOpen;
}

}  // namespace

class SimFaultTest : public QObject {
  Q_OBJECT
private slots:
  void pointsParseAsTheHostNamesThem();
  void connectionEndsAtNamedPoint_data();
  void connectionEndsAtNamedPoint();
  void faultsActInFirstSessionsOnly_data();
  void faultsActInFirstSessionsOnly();
  void terminationRequestCarriesReasonLowByteFirst();
  void hostFallsSilentAtRecord();
  void strayMessagesThenDialogueGoesOn_data();
  void strayMessagesThenDialogueGoesOn();
  void readLengthChangedAtPoint_data();
  void readLengthChangedAtPoint();
  void failedCommandAndLatency();
  void deviationsMakeVerdictTwo_data();
  void deviationsMakeVerdictTwo();
  void earlyTerminationIsNoDeviation();
  void expectMismatchMakesVerdictOne();
  void sessionsShareStoreAndRunningProgramIsInUse();
  void stopsOnSigterm();
  void sessionsBeyondTheLimitAreRefusedAndIdleOnesEnded();
  void sessionEndsWhenItsOutputIsNotTaken();
};

// Every point of the table is taken in any case, in the form the host
// names it when it reaches it; near misses are refused.
void SimFaultTest::pointsParseAsTheHostNamesThem() {
  using faults::PointArgument;
  QString error;
  for (const faults::PointEntry& entry : faults::kPoints) {
    const QString name =
        (entry.argument == PointArgument::None     ? faults::pointName(entry.point)
         : entry.argument == PointArgument::Number ? faults::pointName(entry.point, 7)
                                                   : faults::pointName(entry.point, "build"))
            .text();
    QCOMPARE(faults::normalizePoint(name.toUpper(), &error).value_or("refused: " + error), name);
  }
  for (const char* bad :
       {"fcopy-records:3", "block:0", "block", "logon:1", "command:", "command:A B"})
    QVERIFY2(!faults::normalizePoint(bad, &error), bad);
}

void SimFaultTest::connectionEndsAtNamedPoint_data() {
  QTest::addColumn<QString>("option");
  QTest::addColumn<int>("expected");
  QTest::newRow("drop after ECHO") << "--drop-at" << static_cast<int>(CloseKind::Fin);
  QTest::newRow("reset after ECHO") << "--reset-at" << static_cast<int>(CloseKind::Reset);
}

void SimFaultTest::connectionEndsAtNamedPoint() {
  QFETCH(QString, option);
  QFETCH(int, expected);
  SimProcess sim;
  QVERIFY(sim.start({"--once", option, "command:echo"}));
  TestTerminal t;
  QCOMPARE(connectAndLogOn(sim, t), 80);
  t.send("ECHO HI");
  QCOMPARE(static_cast<int>(waitForClose(t.socket.socketDescriptor(), 3000)), expected);
  QCOMPARE(sim.waitExit(), 0);  // a fault asked for is no deviation
}

void SimFaultTest::faultsActInFirstSessionsOnly_data() {
  QTest::addColumn<QStringList>("limit");
  QTest::addColumn<QList<bool>>("dropped");  // per session, in order
  QTest::newRow("every session by default") << QStringList() << QList<bool>{true, true, true};
  QTest::newRow("0 is every session")
      << QStringList{"--fault-sessions", "0"} << QList<bool>{true, true};
  QTest::newRow("the first session only")
      << QStringList{"--fault-sessions", "1"} << QList<bool>{true, false, false};
  QTest::newRow("the first two") << QStringList{"--fault-sessions", "2"}
                                 << QList<bool>{true, true, false};
}

void SimFaultTest::faultsActInFirstSessionsOnly() {
  QFETCH(QStringList, limit);
  QFETCH(QList<bool>, dropped);
  SimProcess sim;
  QVERIFY(sim.start(QStringList{"--drop-at", "command:ECHO"} + limit));
  for (qsizetype i = 0; i < dropped.size(); ++i) {
    TestTerminal t;
    QCOMPARE(connectAndLogOn(sim, t), 80);
    t.send("ECHO HI");
    const CloseKind expected = dropped[i] ? CloseKind::Fin : CloseKind::StillOpen;
    QCOMPARE(waitForClose(t.socket.socketDescriptor(), dropped[i] ? 3000 : 300), expected);
  }
}

void SimFaultTest::terminationRequestCarriesReasonLowByteFirst() {
  SimProcess sim;
  QVERIFY(sim.start({"--once", "--terminate-at", "command:BUILD:1"}));
  TestTerminal t;
  QCOMPARE(connectAndLogOn(sim, t), 80);
  t.send("BUILD $NEWPASS;REC=128;CODE=NMPRG;DISC=10");
  QVERIFY(t.waitClosed());
  QCOMPARE(t.terminationReasons, QList<int>{1});
  const QByteArray request = t.received.last();
  QCOMPARE(request.mid(10, 2), QByteArray("\x01\x00", 2));
  QCOMPARE(sim.waitExit(), 0);

  // Without a reason the operator's cancel is sent; at connect nothing else is.
  SimProcess atConnect;
  QVERIFY(atConnect.start({"--once", "--terminate-at", "connect"}));
  TestTerminal u;
  QVERIFY(u.connectTo(atConnect.port()));
  QVERIFY(u.waitClosed());
  QCOMPARE(u.terminationReasons, QList<int>{2});
  QCOMPARE(u.received.size(), 1);
}

void SimFaultTest::hostFallsSilentAtRecord() {
  SimProcess sim;
  QVERIFY(sim.start({"--silent-at", "fcopy-record:3"}));
  TestTerminal t;
  QCOMPARE(connectAndLogOn(sim, t), 80);
  t.answer("BUILD $NEWPASS;REC=128;DISC=5");
  t.answer("RUN FCOPY.PUB.SYS");
  t.answer("FROM=$CTUL;TO=$OLDPASS");
  t.answer("");
  QCOMPARE(t.answer("0100"), 256);
  QVERIFY(t.answer(QByteArray(256, 'r')) > 0);
  QCOMPARE(t.answer("0100"), 256);
  t.takeText();
  // Record 2 is taken; the request for record 3 is written but never read.
  QCOMPARE(t.answer(QByteArray(256, 'r'), 400), -1);
  QVERIFY(!t.closed);
  QVERIFY(t.takeText().contains("&p1s2R"));  // the output came, the read did not
}

void SimFaultTest::strayMessagesThenDialogueGoesOn_data() {
  QTest::addColumn<QString>("option");
  QTest::addColumn<int>("badVersion");
  QTest::addColumn<int>("shortLength");
  QTest::newRow("bad version byte") << "--bad-version-at" << 1 << 0;
  QTest::newRow("length below 10") << "--short-length-at" << 0 << 1;
}

void SimFaultTest::strayMessagesThenDialogueGoesOn() {
  QFETCH(QString, option);
  QFETCH(int, badVersion);
  QFETCH(int, shortLength);
  SimProcess sim;
  QVERIFY(sim.start({option, "after-logon"}));
  TestTerminal t;
  QCOMPARE(connectAndLogOn(sim, t), 80);
  QCOMPARE(t.badVersionMessages, badVersion);
  QCOMPARE(t.shortLengthHeaders, shortLength);
  QCOMPARE(t.answer("ECHO STILL HERE"), 80);
  QVERIFY(t.takeText().contains("STILL HERE"));
}

void SimFaultTest::readLengthChangedAtPoint_data() {
  QTest::addColumn<QString>("option");
  QTest::addColumn<int>("step");  // reads answered before the changed one
  QTest::addColumn<int>("length");
  QTest::newRow("logon read") << "logon=1" << 0 << 1;
  QTest::newRow("command prompt after BUILD") << "command:build=500" << 1 << 500;
}

void SimFaultTest::readLengthChangedAtPoint() {
  QFETCH(QString, option);
  QFETCH(int, step);
  QFETCH(int, length);
  SimProcess sim;
  QVERIFY(sim.start({"--read-length", option}));
  TestTerminal t;
  QVERIFY(t.connectTo(sim.port()) && t.negotiate());
  int read = t.nextRead();
  if (step > 0) {
    QCOMPARE(t.answer("HELLO MANAGER.SYS"), 80);
    read = t.answer("BUILD X");
  }
  QCOMPARE(read, length);
}

void SimFaultTest::failedCommandAndLatency() {
  const int kLatencyMs = 40;
  QTemporaryDir dir;
  const QString transcript = dir.filePath("transcript");
  SimProcess sim;
  QVERIFY(sim.start({"--fail", "purge", "--latency-ms", QString::number(kLatencyMs), "--transcript",
                     transcript}));
  TestTerminal t;
  QCOMPARE(connectAndLogOn(sim, t), 80);
  t.takeText();
  QElapsedTimer clock;
  clock.start();
  QCOMPARE(t.answer("PURGE ZORBELIX"), 80);
  // Nothing comes before one latency; no upper bound, as a busy machine
  // delays the answer further.
  QVERIFY2(clock.elapsed() >= kLatencyMs, QByteArray::number(clock.elapsed()));
  const QByteArray text = t.takeText();
  QVERIFY2(text.contains("CIERR") && !text.contains("CIWARN"), text);

  // The answer (the error line, ":" and the read) was produced at once, so
  // the host sends it at once: its messages leave together, not a latency
  // apart each. The host's own clock in the transcript shows it.
  QFile file(transcript);
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = file.readAll().split('\n');
  const auto at = [](const QByteArray& line) {
    return qRound64(line.split(' ').value(1).toDouble() * 1000);  // "S1 +0.123 ..."
  };
  qsizetype i = 0;
  while (i < lines.size() && !lines[i].contains("text=\"PURGE ZORBELIX\""))
    ++i;
  QList<qint64> answer;
  for (++i; i < lines.size() && answer.size() < 3; ++i) {
    if (lines[i].contains(" host> "))
      answer << at(lines[i]);
  }
  QCOMPARE(answer.size(), 3);
  QVERIFY2(answer.last() - answer.first() < kLatencyMs,
           qPrintable(QString::number(answer.last() - answer.first())));
}

void SimFaultTest::deviationsMakeVerdictTwo_data() {
  QTest::addColumn<int>("kind");
  QTest::addColumn<QString>("deviation");
  QTest::newRow("negotiation reply with a wrong word") << 0 << "negotiation reply: word 14";
  QTest::newRow("input typed ahead of the read") << 1 << "sent before the read request";
  QTest::newRow("control requests left unanswered") << 2 << "no reply to the request";
}

void SimFaultTest::deviationsMakeVerdictTwo() {
  QFETCH(int, kind);
  QFETCH(QString, deviation);
  SimProcess sim;
  QVERIFY(sim.start({"--once"}));
  TestTerminal t;
  QVERIFY(t.connectTo(sim.port()));
  if (kind == 0) {
    QVERIFY(t.nextRead(300) < 0);  // the negotiation request
    QByteArray reply = TestTerminal::negotiationReply();
    reply[15] = 44;
    t.sendRaw(reply + TestTerminal::openRequest(t.socket.localAddress().toString().toLatin1()));
    QCOMPARE(t.nextRead(), 80);
    t.answer("HELLO MANAGER.SYS");
  } else {
    QVERIFY(t.negotiate());
    t.answerControl = kind != 2;
    QCOMPARE(t.nextRead(), 80);
    t.answer("HELLO MANAGER.SYS");
    if (kind == 1) {
      t.send("ECHO A");
      t.send("ECHO B");  // before the read that follows ECHO A
      t.nextRead();
      t.nextRead();
    }
  }
  t.send("BYE");
  QVERIFY(t.waitClosed());
  QCOMPARE(sim.waitExit(), 2);
  QVERIFY2(sim.log().contains("DEVIATION") && sim.log().contains(deviation), qPrintable(sim.log()));
}

// A terminal that ends the session before it has read the host's first
// message sends the echo word it starts with, 0x0001.
void SimFaultTest::earlyTerminationIsNoDeviation() {
  SimProcess sim;
  QVERIFY(sim.start({"--once"}));
  TestTerminal t;
  QVERIFY(t.connectTo(sim.port()));
  QByteArray request(10, '\0');
  request[1] = 10;  // length
  request[2] = 2;   // version
  request[5] = 2;   // class 0, type 2: termination request
  request[7] = 1;   // echo word 0x0001
  t.sendRaw(request);
  QVERIFY(t.waitClosed());
  QVERIFY2(sim.waitExit() == 0, qPrintable(sim.log()));
}

void SimFaultTest::expectMismatchMakesVerdictOne() {
  QTemporaryDir dir;
  QFile local(dir.filePath("WANT"));
  QVERIFY(local.open(QIODevice::WriteOnly));
  local.write(QByteArray(256, 'w'));
  local.close();
  SimProcess sim;
  QVERIFY(sim.start({"--once", "--expect", "ZORBELIX=" + local.fileName()}));
  TestTerminal t;
  QCOMPARE(connectAndLogOn(sim, t), 80);
  t.send("BYE");
  QVERIFY(t.waitClosed());
  QCOMPARE(sim.waitExit(), 1);
  QVERIFY(sim.log().contains("expect ZORBELIX.PUB.SYS: MISMATCH: not stored"));
}

void SimFaultTest::sessionsShareStoreAndRunningProgramIsInUse() {
  QTemporaryDir dir;
  QFile program(dir.filePath("ZORBELIX"));
  QVERIFY(program.open(QIODevice::WriteOnly));
  program.write(makePayload(1));
  program.close();
  SimProcess sim;
  QVERIFY(sim.start({"--put", "ZORBELIX=" + program.fileName()}));
  TestTerminal first;
  TestTerminal second;
  QCOMPARE(connectAndLogOn(sim, first), 80);
  QCOMPARE(connectAndLogOn(sim, second), 80);
  QVERIFY(first.answer("RUN ZORBELIX.PUB.SYS") > 0);
  second.takeText();
  QCOMPARE(second.answer("PURGE ZORBELIX"), 80);
  QVERIFY(second.takeText().contains("CIERR"));
  QCOMPARE(first.answer("N"), 80);  // the program ends
  QCOMPARE(second.answer("PURGE ZORBELIX"), 80);
  QVERIFY(!second.takeText().contains("CI"));
  QVERIFY(!QFile::exists(sim.storePath("SYS", "PUB", "ZORBELIX")));
}

void SimFaultTest::stopsOnSigterm() {
  SimProcess sim;
  QVERIFY(sim.start({}));
  ::kill(static_cast<pid_t>(sim.pid()), SIGTERM);
  QCOMPARE(sim.waitExit(), 0);
  QVERIFY(sim.log().contains("stopping"));
}

void SimFaultTest::sessionsBeyondTheLimitAreRefusedAndIdleOnesEnded() {
  SimProcess sim;
  QVERIFY(sim.start({"--max-sessions", "1", "--idle-timeout", "1"}));
  TestTerminal first;
  QCOMPARE(connectAndLogOn(sim, first), 80);
  TestTerminal second;
  QVERIFY(second.connectTo(sim.port()));
  QVERIFY(second.waitClosed());
  QVERIFY(sim.waitForLog("refusing a connection: 1 sessions already"));
  QVERIFY(first.waitClosed(3000));
  QVERIFY(sim.waitForLog("session 1: no input for 1 s; ending the session"));
  TestTerminal third;  // the ended session no longer counts
  QCOMPARE(connectAndLogOn(sim, third), 80);
}

// In process: a peer that never reads, and a host that keeps writing.
void SimFaultTest::sessionEndsWhenItsOutputIsNotTaken() {
  QTcpServer server;
  QVERIFY(server.listen(QHostAddress::LocalHost));
  QTcpSocket peer;
  peer.setReadBufferSize(1);  // Qt takes no more than this from the kernel
  peer.connectToHost(QHostAddress::LocalHost, server.serverPort());
  QVERIFY(server.waitForNewConnection(5000));
  QTemporaryDir dir;
  mpe::HostStore store(dir.path());
  Transcript transcript;
  SessionSettings settings;
  Session session(server.nextPendingConnection(), 1, settings, store, transcript);
  QSignalSpy finished(&session, &Session::finished);
  session.start();
  const QByteArray line(1000, 'x');
  constexpr int kMaxLines = 100000;  // 100 MB: far more than any socket buffers
  for (int i = 0; i < kMaxLines && finished.isEmpty(); ++i) {
    session.writeLine(line);
    QCoreApplication::processEvents();
  }
  QCOMPARE(finished.size(), 1);
}

QTEST_GUILESS_MAIN(SimFaultTest)
#include "sim_fault_test.moc"
