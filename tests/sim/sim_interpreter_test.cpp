// The command interpreter against a recording terminal: the answers MPE
// gives, which the installer judges by the texts they contain.
#include <QTemporaryDir>
#include <QTest>

#include "commandinterpreter.h"

namespace {

// Records what the MPE side shows; a line that moves the cursor ends in "\n".
class RecordingTerminal : public mpe::HostTerminal {
public:
  void writeLine(const QByteArray& text) override { output += text + "\n"; }
  void writeInPlace(const QByteArray& bytes) override { output += bytes; }
  void postRead(int length) override { reads << length; }
  void setEcho(bool on) override { echoes << on; }
  void sendLogonNotice(const QByteArray& text) override { notices << text; }
  void markPoint(const faults::PointName& point) override { points << point.text(); }
  void logEvent(const QString& text) override { events << text; }
  void logOff() override { loggedOff = true; }
  void terminate(int reason) override { terminatedWith = reason; }

  QByteArray take() { return std::exchange(output, {}); }

  QByteArray output;
  QList<int> reads;
  QList<bool> echoes;
  QList<QByteArray> notices;
  QStringList points;
  QStringList events;
  bool loggedOff = false;
  int terminatedWith = -1;
};

}  // namespace

class SimInterpreterTest : public QObject {
  Q_OBJECT
private slots:
  void init();
  void answers_data();
  void answers();
  void saveMakesTemporaryFilePermanentOnce();
  void versionListsModuleLinesOnly();
  void listFileShowsAttributes();
  void helloInSessionLogsOnAnew_data();
  void helloInSessionLogsOnAnew();
  void byeLogsOffWithoutPrompt();
  void pointsNameTheCommands();

private:
  QByteArray run(const QByteArray& command);
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<mpe::HostStore> store_;
  mpe::HostConfig config_;
  RecordingTerminal terminal_;
  std::unique_ptr<mpe::CommandInterpreter> ci_;
};

void SimInterpreterTest::init() {
  dir_ = std::make_unique<QTemporaryDir>();
  store_ = std::make_unique<mpe::HostStore>(dir_->path());
  config_ = mpe::HostConfig();
  config_.failCommands << "SHOWJOB";
  terminal_ = RecordingTerminal();
  ci_ = std::make_unique<mpe::CommandInterpreter>(terminal_, *store_, config_, 1);
  ci_->start();
  ci_->input("HELLO MANAGER.SYS");
  terminal_.take();
}

QByteArray SimInterpreterTest::run(const QByteArray& command) {
  ci_->input(command);
  return terminal_.take();
}

void SimInterpreterTest::answers_data() {
  QTest::addColumn<QByteArray>("command");
  QTest::addColumn<QByteArray>("contains");
  QTest::addColumn<QByteArray>("lacks");
  QTest::newRow("echo expands user and account")
      << QByteArray("ECHO !HPUSER.!HPACCOUNT") << QByteArray("MANAGER.SYS\n") << QByteArray("!");
  QTest::newRow("echo keeps a doubled !")
      << QByteArray("echo 100!!") << QByteArray("100!\n") << QByteArray("CIERR");
  QTest::newRow("echo of an unknown variable")
      << QByteArray("ECHO !NOSUCH") << QByteArray("CIERR") << QByteArray("NOSUCH\n");
  QTest::newRow("purge of a missing file warns")
      << QByteArray("PURGE ZORBELIX") << QByteArray("(CIWARN") << QByteArray("CIERR");
  QTest::newRow("purge of a bad name")
      << QByteArray("PURGE 9X") << QByteArray("CIERR") << QByteArray("CIWARN");
  QTest::newRow("build with record size 0")
      << QByteArray("BUILD X;REC=0") << QByteArray("CIERR") << QByteArray();
  QTest::newRow("build with a record size past the largest")
      << QByteArray("BUILD X;REC=16384") << QByteArray("(CIERR 1071)") << QByteArray();
  QTest::newRow("build with a record size that overflows doubled")
      << QByteArray("BUILD X;REC=1073741824") << QByteArray("(CIERR 1071)") << QByteArray();
  QTest::newRow("build with the most negative record size")
      << QByteArray("BUILD X;REC=-2147483648") << QByteArray("(CIERR 1071)") << QByteArray();
  QTest::newRow("build of a file larger than the host keeps")
      << QByteArray("BUILD $NEWPASS;REC=-32767;DISC=1025") << QByteArray("(CIERR 1092)")
      << QByteArray();
  QTest::newRow("build with unknown code")
      << QByteArray("BUILD X;CODE=NOPE") << QByteArray("CIERR") << QByteArray();
  QTest::newRow("build with empty disc")
      << QByteArray("BUILD X;DISC=0") << QByteArray("CIERR") << QByteArray();
  QTest::newRow("build with unknown option")
      << QByteArray("BUILD X;FAST") << QByteArray("CIERR") << QByteArray();
  QTest::newRow("save without temporary file")
      << QByteArray("SAVE $OLDPASS,ZORBELIX") << QByteArray("CIERR") << QByteArray();
  QTest::newRow("save without new name")
      << QByteArray("SAVE ZORBELIX") << QByteArray("CIERR") << QByteArray();
  QTest::newRow("run of a missing program")
      << QByteArray("RUN NOPROG.PUB.SYS") << QByteArray("CIERR") << QByteArray("END OF");
  QTest::newRow("version of a missing file")
      << QByteArray("VERSION ZORBELIX") << QByteArray("CIERR") << QByteArray(" - ");
  QTest::newRow("listfile of a missing file")
      << QByteArray("LISTFILE ZORBELIX,2") << QByteArray("CIERR") << QByteArray();
  QTest::newRow("dstat in lower case")
      << QByteArray("dstat all") << QByteArray("VOLUME") << QByteArray("CIERR");
  QTest::newRow("listf of an empty logon group")
      << QByteArray("LISTF") << QByteArray("(CIWARN 431)") << QByteArray("FILE NAME");
  QTest::newRow("showme names the session and its logon")
      << QByteArray("SHOWME") << QByteArray(",MANAGER.SYS,PUB ") << QByteArray("CI");
  const QByteArray year = QByteArray::number(QDate::currentDate().year());
  QTest::newRow("showtime") << QByteArray("showtime") << ", " + year + ", " << QByteArray("CI");
  QTest::newRow("unknown command")
      << QByteArray("FROBNICATE") << QByteArray("UNKNOWN COMMAND NAME. (CIERR 975)")
      << QByteArray();
  QTest::newRow("command failed on request")
      << QByteArray("showjob") << QByteArray("(SIMULATED FAULT)") << QByteArray();
}

void SimInterpreterTest::answers() {
  QFETCH(QByteArray, command);
  QFETCH(QByteArray, contains);
  QFETCH(QByteArray, lacks);
  const QByteArray out = run(command);
  QVERIFY2(out.contains(contains), out);
  if (!lacks.isEmpty())
    QVERIFY2(!out.contains(lacks), out);
  QVERIFY2(out.endsWith("\n:") || out == ":", out);
  QCOMPARE(terminal_.reads.last(), 80);
}

void SimInterpreterTest::saveMakesTemporaryFilePermanentOnce() {
  QCOMPARE(run("BUILD $NEWPASS;REC=-80;CODE=1234;DISC=5"), QByteArray(":"));
  QCOMPARE(run("SAVE $OLDPASS,NOTES"), QByteArray(":"));
  const auto file = store_->load({"NOTES", "PUB", "SYS"});
  QVERIFY(file.has_value());
  QCOMPARE(file->attr.code, 1234);
  QCOMPARE(file->attr.recordSize, 80);
  QCOMPARE(file->attr.limit, 5);
  // $OLDPASS is gone once saved; a second temporary file cannot take the name.
  QVERIFY(run("SAVE $OLDPASS,OTHER").contains("CIERR"));
  run("BUILD $NEWPASS");
  QVERIFY(run("SAVE $OLDPASS,NOTES").contains("CIERR"));
}

void SimInterpreterTest::versionListsModuleLinesOnly() {
  mpe::MpeFile program;
  program.data = QByteArray(300, '\0') + "ZORBELIX - 2.5.0.6" + QByteArray(40, '\x7f') +
                 "HELPER   - 1.0.0.12" + "zz - 1.2.3.4" + "SHORT - 1.2.3";
  QString error;
  QVERIFY(store_->save({"ZORBELIX", "PUB", "SYS"}, program, &error));
  // Nothing follows a version but the prompt, so the installer's reading of
  // the 20 characters after the name ends at the version's last digit.
  QCOMPARE(run("VERSION ZORBELIX"), QByteArray("ZORBELIX - 2.5.0.6\nHELPER   - 1.0.0.12\n:"));
}

void SimInterpreterTest::listFileShowsAttributes() {
  run("BUILD $NEWPASS;REC=128;CODE=NMPRG;DISC=438,1,1");
  run("SAVE $OLDPASS,ZORBELIX");
  const QByteArray row = "ZORBELIX  NMPRG   128W  FB            0        438";
  const QByteArray out = run("LISTF ZORBELIX,2");
  QVERIFY2(out.contains(row), out);
  // Without a file set: the logon group's files, by name or in detail.
  QString error;
  QVERIFY(store_->save({"OTHER", "PUB", "SYS"}, {}, &error));
  QVERIFY(store_->save({"ELSEWHER", "DATA", "SYS"}, {}, &error));
  QCOMPARE(run("LISTF"), QByteArray("FILENAME\n\nOTHER     ZORBELIX\n:"));
  const QByteArray detail = run("LISTF ,2");
  QVERIFY2(detail.contains(row) && detail.contains("\nOTHER ") && !detail.contains("ELSEWHER"),
           detail);
}

void SimInterpreterTest::helloInSessionLogsOnAnew_data() {
  QTest::addColumn<QByteArray>("hello");
  QTest::addColumn<QString>("password");   // the users' password; empty: none
  QTest::addColumn<QByteArray>("ending");  // of the output after HELLO
  QTest::addColumn<QByteArray>("notice");  // of the new logon; empty: none
  QTest::newRow("another user") << QByteArray("HELLO OPER.PROD") << QString()
                                << QByteArray("reserved.\n:") << QByteArray("OPER.PROD,WORK");
  QTest::newRow("the password is asked")
      << QByteArray(":hello oper.prod") << "SECRET" << QByteArray("ENTER USER (OPER) PASSWORD:")
      << QByteArray("OPER.PROD,WORK");
  QTest::newRow("a failed logon leaves no session")
      << QByteArray("HELLO NOBODY.PROD") << QString() << QByteArray("(CIERR 1437)\nMPE XL:")
      << QByteArray();
}

void SimInterpreterTest::helloInSessionLogsOnAnew() {
  QFETCH(QByteArray, hello);
  QFETCH(QString, password);
  QFETCH(QByteArray, ending);
  QFETCH(QByteArray, notice);
  config_.users << mpe::UserEntry{"OPER", "PROD", "WORK"};
  config_.userPassword = password;
  run("BUILD $NEWPASS");
  const QByteArray out = run(hello);
  // The old session ends as with BYE, but the connection stays.
  QVERIFY2(out.startsWith("CPU=1. CONNECT=1. ") && out.endsWith(ending), out);
  QVERIFY(!terminal_.loggedOff);
  if (!password.isEmpty())
    QVERIFY(run(password.toLatin1()).endsWith("reserved.\n:"));
  QCOMPARE(terminal_.notices.size(), notice.isEmpty() ? 1 : 2);
  QCOMPARE(terminal_.notices.last(), notice.isEmpty() ? "MANAGER.SYS,PUB" : notice);
  QCOMPARE(ci_->session().loggedOn, !notice.isEmpty());
  QVERIFY(!ci_->session().tempFile);
}

void SimInterpreterTest::byeLogsOffWithoutPrompt() {
  const QByteArray out = run("BYE");
  QVERIFY2(out.startsWith("CPU=") && out.endsWith("\n") && !out.contains(":\n:"), out);
  QVERIFY(terminal_.loggedOff);
  const int reads = static_cast<int>(terminal_.reads.size());
  QCOMPARE(run("ECHO TOO LATE"), QByteArray());
  QCOMPARE(terminal_.reads.size(), reads);
}

void SimInterpreterTest::pointsNameTheCommands() {
  run("build $newpass");
  run("Run fcopy.pub.sys");
  QVERIFY(terminal_.points.contains("command:BUILD"));
  QVERIFY(terminal_.points.contains("command:RUN"));
  QVERIFY(terminal_.points.contains("after-logon"));
}

QTEST_GUILESS_MAIN(SimInterpreterTest)
#include "sim_interpreter_test.moc"
