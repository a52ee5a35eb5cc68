// The installer's shipped dialogue and the logon paths, against the real
// simulator process.
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include "simdialogue.h"
#include "terminalscreen.h"

class SimDialogueTest : public QObject {
  Q_OBJECT
private slots:
  void shippedInstallationArrivesByteForByte();
  void sessionReadsAsOnATerminal();
  void logonNotice_data();
  void logonNotice();
  void passwordsAreAskedWithEchoOff();
  void threeWrongPasswordsFailTheLogon();
  void threeFailedLogonsTerminateTheSession();
  void commandsBeforeLogonAreRefused();
};

// Plays the installer's record transfer exactly as its dialogue states do,
// checking at every read what those states check.
void SimDialogueTest::shippedInstallationArrivesByteForByte() {
  const int kRecords = 438;
  const QByteArray payload = makePayload(kRecords);
  QTemporaryDir dir;
  QFile local(dir.filePath("ZORBELIX"));
  QVERIFY(local.open(QIODevice::WriteOnly));
  local.write(payload);
  local.close();

  SimProcess sim;
  QVERIFY(sim.start({"--once", "--expect", "ZORBELIX=" + local.fileName()}));
  TestTerminal t;
  QCOMPARE(connectAndLogOn(sim, t), 80);
  QCOMPARE(t.logonNotices, QList<QByteArray>{"MANAGER.SYS,PUB"});

  t.takeText();
  QCOMPARE(t.answer("ECHO !HPUSER.!HPACCOUNT"), 80);
  QVERIFY(t.takeText().contains("MANAGER.SYS"));
  QCOMPARE(t.answer("PURGE ZORBELIX"), 80);
  const QByteArray purge = t.takeText();
  QVERIFY2(!purge.contains("CIERR") && purge.contains("CIWARN"), purge);
  QCOMPARE(t.answer("BUILD $NEWPASS;REC=128;CODE=NMPRG;DISC=438,1,1"), 80);
  QVERIFY(!t.takeText().contains("CIERR"));
  QVERIFY(t.answer("RUN FCOPY.PUB.SYS") > 0);
  QVERIFY(!t.takeText().contains("CIERR"));
  QVERIFY(t.answer("FROM=$CTUL;TO=$OLDPASS") > 0);
  t.takeText();
  int read = t.answer("");
  for (int r = 0; r < kRecords; ++r) {
    QVERIFY2(t.takeText().contains("&p1s2R"), qPrintable(QString("record %1").arg(r)));
    QVERIFY(read >= 4);
    QCOMPARE(t.answer("0100"), 256);
    read = t.answer(payload.mid(r * 256, 256));
  }
  QVERIFY(t.takeText().contains("&p1s2R"));
  read = t.answer(":EOD");
  QVERIFY(read > 0 && read < 500);
  const QByteArray counts = t.takeText();
  QVERIFY2(counts.contains("438 RECORDS PROCESSED *** 0 ERRORS"), counts);
  QVERIFY(!counts.contains("END OF") && !counts.contains("Y OR N"));
  QCOMPARE(t.answer("E"), 80);
  const QByteArray end = t.takeText();
  QVERIFY2(end.contains("END OF PROGRAM") && !end.contains("CIERR"), end);
  QCOMPARE(t.answer("SAVE $OLDPASS,ZORBELIX"), 80);
  QVERIFY(!t.takeText().contains("CIERR"));
  QCOMPARE(t.answer("VERSION ZORBELIX"), 80);
  QVERIFY(t.takeText().contains("ZORBELIX - 2.5.0.6"));
  QCOMPARE(t.answer("LISTFILE ZORBELIX,2"), 80);
  const QByteArray listing = t.takeText();
  QVERIFY2(listing.contains("NMPRG") && listing.contains("438"), listing);
  t.send("BYE");
  QVERIFY(t.waitClosed());
  QVERIFY(t.takeText().contains("CPU="));
  QVERIFY(t.terminationReasons.isEmpty());

  QCOMPARE(sim.waitExit(), 0);
  QCOMPARE(sim.storedBytes("SYS", "PUB", "ZORBELIX"), payload);
  const auto attr = sim.attributes("SYS", "PUB", "ZORBELIX");
  QCOMPARE(attr.value("code"), QString("1030"));
  QCOMPARE(attr.value("codename"), QString("NMPRG"));
  QCOMPARE(attr.value("recsize"), QString("256"));
  QCOMPARE(attr.value("records"), QString("438"));
  QCOMPARE(attr.value("limit"), QString("438"));
  QVERIFY(sim.log().contains("saved ZORBELIX.PUB.SYS size 112128 crc32 "));
  QVERIFY(sim.log().contains("expect ZORBELIX.PUB.SYS: match"));
}

// A session as an operator sees it on any NS/VT terminal, line by line: the
// host's output laid out by its carriage control, what was typed echoed
// after each prompt.
void SimDialogueTest::sessionReadsAsOnATerminal() {
  const QByteArrayList typed{
      "HELLO MANAGER.SYS", "ECHO !HPUSER.!HPACCOUNT", "DSTAT ALL", "BUILD NOTES", "LISTF", "BYE"};
  struct Line {
    const char* text;
    bool dated;  // the text is followed by the date and time
  };
  const Line screen[] = {
      {"MPE XL:HELLO MANAGER.SYS", false},
      {"HP3000  Release: C.75.00  User Version: C.75.00  ", true},
      {"MPE/iX  HP31900 C.95.00  Copyright Hewlett-Packard 1987.  All rights reserved.", false},
      {":ECHO !HPUSER.!HPACCOUNT", false},
      {"MANAGER.SYS", false},
      {":DSTAT ALL", false},
      {"LDEV-TYPE    STATUS      VOLUME  (VOLUME SET - GEN)", false},
      {"- - - - - - - - - - - - - - - - - - - - - - - - -", false},
      {"  1-079350    MASTER      MEMBER1 (MPEXL_SYSTEM_VOLUME_SET-0)", false},
      {"  2-079350    MEMBER      MEMBER2 (MPEXL_SYSTEM_VOLUME_SET-0)", false},
      {":BUILD NOTES", false},
      {":LISTF", false},
      {"FILENAME", false},
      {"", false},
      {"NOTES", false},
      {":BYE", false},
      {"CPU=1. CONNECT=1. ", true},
  };
  static const QRegularExpression date(
      R"(^(MON|TUE|WED|THU|FRI|SAT|SUN), [A-Z]{3} [ \d]\d, \d{4}, [ \d]\d:\d\d [AP]M$)");

  SimProcess sim;
  QVERIFY(sim.start({"--once"}));
  TestTerminal t;
  QVERIFY(t.connectTo(sim.port()) && t.negotiate());
  TerminalScreen shown;
  qsizetype seen = 0;
  const auto showReceived = [&] {
    for (; seen < t.received.size(); ++seen)
      shown.hostMessage(t.received[seen]);
  };
  QVERIFY(t.nextRead() > 0);
  for (const QByteArray& line : typed) {
    showReceived();
    shown.typed(line);
    if (line != "BYE")
      QVERIFY(t.answer(line) > 0);
  }
  t.send("BYE");
  QVERIFY(t.waitClosed());
  showReceived();

  const QStringList lines = shown.lines();
  const QString all = lines.join('\n');
  QVERIFY2(lines.size() == std::ssize(screen), qPrintable(all));
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QString want = QString::fromLatin1(screen[i].text);
    const bool same = screen[i].dated ? lines[i].startsWith(want) &&
                                            date.match(lines[i].mid(want.size())).hasMatch()
                                      : lines[i] == want;
    QVERIFY2(same, qPrintable(QString("line %1 of\n%2").arg(i).arg(all)));
  }
}

void SimDialogueTest::logonNotice_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<QByteArray>("hello");
  QTest::addColumn<QByteArray>("notice");
  QTest::addColumn<QByteArray>("helloAgain");  // in the session; empty: none
  QTest::addColumn<QByteArray>("noticeAgain");
  QTest::newRow("default user") << QStringList() << QByteArray("HELLO MANAGER.SYS")
                                << QByteArray("MANAGER.SYS,PUB") << QByteArray() << QByteArray();
  QTest::newRow("session name first")
      << QStringList() << QByteArray("HELLO INST,MANAGER.SYS") << QByteArray("INST,MANAGER.SYS,PUB")
      << QByteArray() << QByteArray();
  QTest::newRow("lower case, group given")
      << QStringList() << QByteArray("hello manager.sys,pub") << QByteArray("MANAGER.SYS,PUB")
      << QByteArray() << QByteArray();
  QTest::newRow("other user and home group")
      << QStringList{"--user", "OPER.PROD,WORK"} << QByteArray("HELLO OPER.PROD")
      << QByteArray("OPER.PROD,WORK") << QByteArray() << QByteArray();
  QTest::newRow("wrong notice on request")
      << QStringList{"--logon-notice", "OPERATOR.SYS,PUB"} << QByteArray("HELLO MANAGER.SYS")
      << QByteArray("OPERATOR.SYS,PUB") << QByteArray() << QByteArray();
  QTest::newRow("HELLO in the session logs on anew")
      << QStringList{"--user", "MANAGER.SYS", "--user", "OPER.PROD,WORK"}
      << QByteArray("HELLO OPER.PROD") << QByteArray("OPER.PROD,WORK")
      << QByteArray("HELLO MANAGER.SYS") << QByteArray("MANAGER.SYS,PUB");
}

void SimDialogueTest::logonNotice() {
  QFETCH(QStringList, args);
  QFETCH(QByteArray, hello);
  QFETCH(QByteArray, notice);
  QFETCH(QByteArray, helloAgain);
  QFETCH(QByteArray, noticeAgain);
  SimProcess sim;
  QVERIFY(sim.start(args));
  TestTerminal t;
  QCOMPARE(connectAndLogOn(sim, t, hello), 80);
  QCOMPARE(t.logonNotices, QList<QByteArray>{notice});
  const QByteArray text = t.takeText();
  QVERIFY(text.contains("HP3000") && text.endsWith(":"));
  if (helloAgain.isEmpty())
    return;
  QCOMPARE(t.answer(helloAgain), 80);
  QCOMPARE(t.logonNotices, (QList<QByteArray>{notice, noticeAgain}));
  const QByteArray again = t.takeText();
  QVERIFY2(again.startsWith("CPU=") && again.contains("HP3000") && again.endsWith(":"), again);
}

void SimDialogueTest::passwordsAreAskedWithEchoOff() {
  SimProcess sim;
  QVERIFY(sim.start({"--password", "secret", "--account-password", "acct"}));
  TestTerminal t;
  QVERIFY(t.connectTo(sim.port()) && t.negotiate());
  QCOMPARE(t.nextRead(), 80);
  QCOMPARE(t.takeText(), QByteArray("MPE XL:"));
  QVERIFY(t.answer("HELLO MANAGER.SYS") > 0);
  QCOMPARE(t.takeText(), QByteArray("ENTER ACCOUNT (SYS) PASSWORD:"));
  QVERIFY(t.answer("ACCT") > 0);
  QCOMPARE(t.takeText(), QByteArray("\nENTER USER (MANAGER) PASSWORD:"));
  QCOMPARE(t.answer("Secret"), 80);
  QCOMPARE(t.logonNotices, QList<QByteArray>{"MANAGER.SYS,PUB"});
  // On for the logon prompt, then off and on around each password.
  QCOMPARE(t.echoSettings, (QList<int>{3, 1, 3, 1, 3}));

  // A password given on the HELLO line is not asked for.
  TestTerminal inline_;
  QCOMPARE(connectAndLogOn(sim, inline_, "HELLO MANAGER/SECRET.SYS/ACCT"), 80);
  QCOMPARE(inline_.logonNotices.size(), 1);
}

void SimDialogueTest::threeWrongPasswordsFailTheLogon() {
  SimProcess sim;
  QVERIFY(sim.start({"--password", "secret"}));
  TestTerminal t;
  QVERIFY(t.connectTo(sim.port()) && t.negotiate() && t.nextRead() > 0);
  QVERIFY(t.answer("HELLO MANAGER.SYS") > 0);
  QVERIFY(t.answer("WRONG1") > 0);
  // Each prompt and the refusal on lines of their own, as MPE writes them.
  QCOMPARE(t.takeText(),
           QByteArray("MPE XL:ENTER USER (MANAGER) PASSWORD:\nENTER USER (MANAGER) PASSWORD:"));
  QVERIFY(t.answer("WRONG2") > 0);
  t.takeText();
  QCOMPARE(t.answer("WRONG3"), 80);
  const QByteArray text = t.takeText();
  QVERIFY2(text.startsWith("\nINCORRECT PASSWORD") && text.endsWith("MPE XL:"), text);
  QVERIFY(t.logonNotices.isEmpty());
}

void SimDialogueTest::threeFailedLogonsTerminateTheSession() {
  SimProcess sim;
  QVERIFY(sim.start({"--once"}));
  TestTerminal t;
  QVERIFY(t.connectTo(sim.port()) && t.negotiate() && t.nextRead() > 0);
  QVERIFY(t.answer("HELLO NOBODY.SYS") > 0);
  QVERIFY(t.answer("HELLO MANAGER") > 0);
  t.send("HELLO MANAGER.NOACCT");
  QVERIFY(t.waitClosed());
  QCOMPARE(t.terminationReasons, QList<int>{6});  // LOGON FAILED
  QCOMPARE(sim.waitExit(), 0);
}

void SimDialogueTest::commandsBeforeLogonAreRefused() {
  SimProcess sim;
  QVERIFY(sim.start({}));
  TestTerminal t;
  QVERIFY(t.connectTo(sim.port()) && t.negotiate() && t.nextRead() > 0);
  t.takeText();
  QCOMPARE(t.answer("PURGE ZORBELIX"), 80);
  const QByteArray text = t.takeText();
  QVERIFY2(text.contains("(CIERR 1402)") && text.endsWith("MPE XL:"), text);
  QCOMPARE(t.answer("HELLO MANAGER.SYS"), 80);
  QCOMPARE(t.logonNotices.size(), 1);
}

QTEST_GUILESS_MAIN(SimDialogueTest)
#include "sim_dialogue_test.moc"
