// The install script run on a recording host link and operator, with no
// window: the shipped script's checks, the host dialogue states, local
// commands, script files, LOGON and PAUSE, Begin's checks and trace, and the
// runs the installer must end by itself.
#include "runtest.h"
#include "testdir.h"

#include <QTest>

#include <QFile>

#include <fstream>

using support::RunRig;
using support::Script;
using Kind = support::RecordingOperator::Kind;
using Bytes = std::vector<std::uint8_t>;
using support::InTempDir;

namespace {

const char kCommandError[] = "Error processing command\r\nCannot continue.";

void WriteFile(const char* name, const std::string& text) {
  std::ofstream(name, std::ios::binary) << text;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

class RunScriptTest : public QObject {
  Q_OBJECT

private slots:
  void shippedScriptChecks_data();
  void shippedScriptChecks();
  void failedCheckWithoutErrorLine_data();
  void failedCheckWithoutErrorLine();
  void dstat_data();
  void dstat();
  void versions_data();
  void versions();
  void localCommands();
  void scriptFile_data();
  void scriptFile();
  void send2ErrorLineLeavesFileAtOnce();
  void pauseAndLogonContinue();
  void reconnectStartsTheScriptOver();
  void runsEndedByTheInstaller_data();
  void runsEndedByTheInstaller();
  void invalidCommandEndsTheRun();
  void payloadsRefused_data();
  void payloadsRefused();
  void connectionLossDuringABoxEndsTheRun();
};

// ---- The shipped script ----

void RunScriptTest::shippedScriptChecks_data() {
  QTest::addColumn<QString>("echoAnswer");
  QTest::addColumn<QString>("purgeAnswer");
  QTest::addColumn<QString>("message");
  QTest::addColumn<int>("lineAfter");
  QTest::newRow("bad user: line 910")
      << "OPERATOR.SYS"
      << ""
      << "Error occured, Bad user name or not at MPE prompt." << 916;
  QTest::newRow("purge CIERR: line 900") << "MANAGER.SYS"
                                         << "CIERR 383 NONEXISTENT FILE"
                                         << "Error occured" << 906;
}

void RunScriptTest::shippedScriptChecks() {
  QFETCH(QString, echoAnswer);
  QFETCH(QString, purgeAnswer);
  QFETCH(QString, message);
  QFETCH(int, lineAfter);
  // The upload (line 22) comes between ECHO and PURGE; left out here.
  RunRig s(purgeAnswer.isEmpty() ? std::map<int, std::string>{}
                                 : std::map<int, std::string>{{22, ""}});
  s.Begin();
  QCOMPARE(s.Sent(), std::vector<std::string>{"ECHO !HPUSER.!HPACCOUNT"});
  s.Answer(echoAnswer.toStdString());
  if (!purgeAnswer.isEmpty()) {
    QCOMPARE(s.Sent(), std::vector<std::string>{"PURGE ZORBELIX"});
    s.Answer(purgeAnswer.toStdString());
  }
  QCOMPARE(s.Sent(), std::vector<std::string>{""});  // the failed check answers the read
  QVERIFY(s.Messages().empty());
  s.Answer(":");  // the resume step jumps; MSGB and STOP run at once
  QCOMPARE(s.LastMessage(), message.toStdString());
  QVERIFY(s.Sent().empty());
  QVERIFY(s.HandedBack());
  QCOMPARE(s.op.Phase(), 2);
  QCOMPARE(s.run.scriptLineNo(), lineAfter);
  QVERIFY(s.run.TookFailurePath());
}

// ---- Host dialogue states ----

void RunScriptTest::failedCheckWithoutErrorLine_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<QString>("answer");
  QTest::newRow("SEND1 text missing") << "SEND1~SHOWME~FOUND"
                                      << "NOTHING";
  QTest::newRow("SEND1 empty expected text") << "SEND1~SHOWME~~"
                                             << "ANYTHING";
  QTest::newRow("SEND2 error text present") << "SEND2~PURGE X~CIERR"
                                            << "CIERR 383";
}

void RunScriptTest::failedCheckWithoutErrorLine() {
  QFETCH(QString, line);
  QFETCH(QString, answer);
  RunRig s(Script({{1, line.toStdString()}, {2, "MSGB~went on"}}));
  s.Begin();
  s.Sent();
  s.Answer(answer.toStdString());
  QCOMPARE(s.Messages(), std::vector<std::string>{kCommandError});
  QCOMPARE(s.Sent(), std::vector<std::string>{""});
  QCOMPARE(s.run.actionCode(), 90);
  s.Answer(":");
  QVERIFY(s.HandedBack());
  QCOMPARE(s.Messages().size(), std::size_t{1});
}

void RunScriptTest::dstat_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<QString>("answer");
  QTest::addColumn<QString>("message");
  QTest::newRow("VOLUME found") << "DSTAT~30"
                                << "VOLUME SET MPEXL_SYSTEM_VOLUME_SET"
                                << "next line";
  QTest::newRow("no VOLUME, error line") << "DSTAT~30"
                                         << "NO DISCS"
                                         << "error line";
  QTest::newRow("no VOLUME, no error line") << "DSTAT"
                                            << "NO DISCS"
                                            << "";
}

void RunScriptTest::dstat() {
  QFETCH(QString, line);
  QFETCH(QString, answer);
  QFETCH(QString, message);
  RunRig s(Script({{1, line.toStdString()},
                   {2, "MSGB~next line"},
                   {3, "STOP"},
                   {30, "MSGB~error line"},
                   {31, "STOP"}}));
  s.Begin();
  QCOMPARE(s.Sent(), std::vector<std::string>{"DSTAT ALL"});
  s.Answer(answer.toStdString());
  if (message.isEmpty()) {
    QCOMPARE(
        s.op.Texts(Kind::Error),
        std::vector<std::string>{"  Network Error: 4150, Error checking for volume set names."});
    QCOMPARE(s.Sent(), std::vector<std::string>{""});
    s.Answer(":");
  } else {
    QCOMPARE(s.LastMessage(), message.toStdString());  // state 4 goes on at once
    QVERIFY(s.Sent().empty());
  }
  QVERIFY(s.HandedBack());
}

void RunScriptTest::versions_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<QString>("hostOutput");
  QTest::addColumn<QString>("outcome");  // the message box the run ends with
  const QString verso = "VERSO~ZORBELIX~ZORBELIX~2.5.0.6";
  const QString versu = "VERSU~ZORBELIX~ZORBELIX~2.5.0.6";
  QTest::newRow("VERSO same version") << verso + "~50~60"
                                      << "ZORBELIX - 2.5.0.6"
                                      << "passed";
  QTest::newRow("VERSO older host") << verso + "~50~60"
                                    << "ZORBELIX - 2.4.0.0"
                                    << "passed";
  QTest::newRow("VERSO newer host, line") << verso + "~50~60"
                                          << "ZORBELIX - 2.6.0.0"
                                          << "higher";
  QTest::newRow("VERSO newer host, no line") << verso << "ZORBELIX - 2.6.0.0"
                                             << "RC file error";
  QTest::newRow("VERSO not listed, line") << verso + "~50~60"
                                          << "ZORBELI2 - 2.5.0.6"
                                          << "not listed";
  QTest::newRow("VERSO not listed, no line") << verso << "NOTHING HERE" << kCommandError;
  QTest::newRow("VERSO short name filled to 8") << "VERSO~AB~AB~1.0.0.0~50~60"
                                                << "AB       - 0.9.0.0"
                                                << "passed";
  QTest::newRow("VERSO short name not filled") << "VERSO~AB~AB~1.0.0.0~50~60"
                                               << "AB - 0.9.0.0"
                                               << "not listed";
  QTest::newRow("VERSU same version") << versu + "~50~60"
                                      << "ZORBELIX - 2.5.0.6"
                                      << "passed";
  QTest::newRow("VERSU newer host") << versu + "~50~60"
                                    << "ZORBELIX - 10.0.0.0"
                                    << "passed";
  QTest::newRow("VERSU older host, line") << versu + "~50~60"
                                          << "ZORBELIX - 2.4.9.9"
                                          << "higher";
  QTest::newRow("VERSU older host, no line") << versu << "ZORBELIX - 2.4.9.9"
                                             << "RC file error";
}

void RunScriptTest::versions() {
  QFETCH(QString, line);
  QFETCH(QString, hostOutput);
  QFETCH(QString, outcome);
  RunRig s(Script({{1, line.toStdString()},
                   {2, "MSGB~passed"},
                   {3, "STOP"},
                   {50, "MSGB~not listed"},
                   {51, "STOP"},
                   {60, "MSGB~higher"},
                   {61, "STOP"}}));
  s.Begin();
  QCOMPARE(s.Sent(), std::vector<std::string>{"VERSION " + line.section('~', 1, 1).toStdString()});
  const bool verso = line.startsWith("VERSO");
  QCOMPARE(s.run.consoleEcho(), !verso);
  s.Answer(hostOutput.toStdString());
  // VERSION's output fills the console only for VERSU.
  QCOMPARE(Contains(s.op.console, hostOutput.toStdString()), !verso);
  QVERIFY(s.run.consoleEcho());
  if (s.run.actionCode() != 0) {
    QCOMPARE(s.Sent(), std::vector<std::string>{""});
    s.Answer(":");
  }
  QCOMPARE(s.LastMessage(), outcome.toStdString());
  QCOMPARE(s.Messages().size(), std::size_t{1});
  QVERIFY(s.HandedBack());
}

// ---- Local commands ----

void RunScriptTest::localCommands() {
  RunRig s(Script({{1, "ASK0~Group?"},
                   {2, "ASK1~Account?"},
                   {3, "MSGB~[%1]"},
                   {4, "ASK1~Account?"},
                   {5, "MSGB~%0 account %1%7."},
                   {6, "LET2~%0.%1"},
                   {7, "SEND1~ECHO %2~PUB.VORDANEX~0"},
                   {8, "MSGW~Almost done"},
                   {9, "GOTO~20"},
                   {10, "MSGB~skipped"},
                   {20, "ASKC~Go on?"},
                   {21, "MSGB~went on"}}));
  auto& boxes = s.op;
  boxes.inputAnswers = {std::string("PUB"), std::nullopt, std::string("VORDANEX")};
  boxes.confirmAnswers = {false};
  s.Begin();
  QCOMPARE(boxes.Texts(Kind::Input), (std::vector<std::string>{"Group?", "Account?", "Account?"}));
  QCOMPARE(boxes.boxes.front().caption, std::string("Input Box"));
  QCOMPARE(s.Messages(), (std::vector<std::string>{"[]", "PUB account VORDANEX."}));
  QCOMPARE(s.Sent(), std::vector<std::string>{"ECHO PUB.VORDANEX"});
  s.Answer("PUB.VORDANEX");
  QCOMPARE(s.run.actionText(), std::string("Almost done"));
  QCOMPARE(boxes.Texts(Kind::Confirm), std::vector<std::string>{"Go on?"});
  QVERIFY(s.Sent().empty());
  QVERIFY(s.HandedBack());
  QCOMPARE(s.op.Phase(), 2);
  QCOMPARE(s.run.scriptLineNo(), 21);
  QCOMPARE(s.Messages().size(), std::size_t{2});
}

void RunScriptTest::scriptFile_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<QStringList>("messages");
  QTest::newRow("three lines, then the table")
      << "FILE~script.txt~40" << QStringList{"one", "three", "thirty"};
  QTest::newRow("missing file, failure line") << "FILE~absent.txt~40" << QStringList{"missing"};
  QTest::newRow("missing file, no failure line") << "FILE~absent.txt" << QStringList{"table"};
  QTest::newRow("a folder, failure line") << "FILE~.~40" << QStringList{"missing"};
}

void RunScriptTest::scriptFile() {
  QFETCH(QString, line);
  QFETCH(QStringList, messages);
  InTempDir dir;
  // CR LF line ends and no end after the last line; the GOTO in the file
  // takes effect only when the file is done.
  WriteFile("script.txt", "MSGB~one\r\nGOTO~30\r\nMSGB~three");
  RunRig s(Script({{1, line.toStdString()},
                   {2, "MSGB~table"},
                   {3, "STOP"},
                   {30, "MSGB~thirty"},
                   {31, "STOP"},
                   {40, "MSGB~missing"},
                   {41, "STOP"}}));
  s.Begin();
  std::vector<std::string> expected;
  for (const QString& m : messages) {
    expected.push_back(m.toStdString());
  }
  QCOMPARE(s.Messages(), expected);
  QVERIFY(!s.run.scriptFileOpen());
  QVERIFY(s.HandedBack());
}

void RunScriptTest::send2ErrorLineLeavesFileAtOnce() {
  InTempDir dir;
  WriteFile("script.txt", "SEND1~ONE~OK~30\nSEND2~TWO~CIERR~30\nMSGB~rest of file\n");
  RunRig s(Script({{1, "FILE~script.txt"}, {2, "STOP"}, {30, "MSGB~thirty"}, {31, "STOP"}}));
  s.Begin();
  s.Answer("NOT GOOD");  // SEND1 fails: its jump waits for the file's end
  QCOMPARE(s.Sent(), (std::vector<std::string>{"ONE", ""}));
  s.Answer(":");
  QCOMPARE(s.Sent(), std::vector<std::string>{"TWO"});
  QVERIFY(s.run.scriptFileOpen());
  s.Answer("CIERR 383");  // SEND2 fails: the file is closed and the jump is at once
  QVERIFY(!s.run.scriptFileOpen());
  s.Answer(":");
  QCOMPARE(s.Messages(), std::vector<std::string>{"thirty"});
}

void RunScriptTest::pauseAndLogonContinue() {
  RunRig s(Script({{1, "MSGB~first"},
                   {2, "PAUSE~&Continue"},
                   {3, "MSGB~second"},
                   {4, "LOGON~OPERATOR.SYS~&Resume"},
                   {5, "MSGB~third"},
                   {6, "STOP"}}));
  s.Begin();
  QCOMPARE(QString::fromStdString(s.op.beginCaption), QString("&Continue"));
  QVERIFY(!s.run.restartScript());
  QVERIFY(s.HandedBack());
  s.Begin();  // continues after PAUSE, not at line 1
  QCOMPARE(s.Messages(), (std::vector<std::string>{"first", "second"}));
  QCOMPARE(QString::fromStdString(s.op.beginCaption), QString("&Resume"));
  QCOMPARE(s.run.requiredLogon(), std::string("OPERATOR.SYS"));
  // LOGON forgets the phase before its stop asks for phase 2, so the window
  // shows the logon phase: the operator logs on again.
  QCOMPARE(std::vector<int>(s.op.phases.end() - 2, s.op.phases.end()), (std::vector<int>{-1, 2}));
  QVERIFY(s.HandedBack());
  s.Begin();
  QCOMPARE(s.Messages(), (std::vector<std::string>{"first", "second", "third"}));
  QVERIFY(s.Sent().empty());
}

// Where a paused run stood belongs to its connection: after a reconnect the
// script starts over instead of running the lines after the script file.
void RunScriptTest::reconnectStartsTheScriptOver() {
  InTempDir dir;
  WriteFile("s.txt", "PAUSE~&Go\nMSGB~in file after pause\nSTOP\n");
  RunRig s(Script({{1, "FILE~s.txt"}, {2, "MSGB~Successful installation."}, {3, "EXIT"}}));
  s.Begin();
  QCOMPARE(QString::fromStdString(s.op.beginCaption), QString("&Go"));
  s.run.AbandonRun();  // the operator connects again
  QCOMPARE(QString::fromStdString(s.op.beginCaption), QString("&Begin"));
  QVERIFY(s.run.restartScript());
  s.Sent();
  s.Begin();
  QVERIFY(s.Messages().empty());
  QCOMPARE(QString::fromStdString(s.op.beginCaption), QString("&Go"));
  QVERIFY(s.Sent().empty());
  s.Begin();
  QCOMPARE(s.Messages(), std::vector<std::string>{"in file after pause"});
}

// ---- Runs the installer ends by itself ----

void RunScriptTest::runsEndedByTheInstaller_data() {
  QTest::addColumn<QStringList>("lines");  // from line 1 on
  QTest::addColumn<QString>("message");    // a part of the last message
  QTest::newRow("% not followed by a digit") << QStringList{"MSGB~100%x"} << "script line 1";
  QTest::newRow("% at the end of argument 1")
      << QStringList{"LET0~x", "SEND1~ECHO 5%~5"} << "script line 2";
  QTest::newRow("variable refers to itself")
      << QStringList{"LET2~<%2>", "MSGB~%2"} << "refer to each other";
  QTest::newRow("GOTO back to itself") << QStringList{"MSGB~start", "GOTO~2"} << "loop";
  QTest::newRow("no line found") << QStringList{"GOTO~5000"} << "script line 5000 is empty";
  QTest::newRow("GOTO 2^31, refused as written")
      << QStringList{"GOTO~2147483648"} << "there is no script line 2147483648.";
  QTest::newRow("error line 2^32 + 5, not line 5")
      << QStringList{"FILE~absent.txt~4294967301", "", "", "", "MSGB~line 5"}
      << "there is no script line 4294967301.";
  QTest::newRow("GOTO beyond 64 bits") << QStringList{"GOTO~99999999999999999999"}
                                       << "there is no script line 99999999999999999999.";
  QTest::newRow("empty line in a file")
      << QStringList{"FILE~script.txt", "STOP"} << "empty line 2 of the script file script.txt";
}

void RunScriptTest::runsEndedByTheInstaller() {
  QFETCH(QStringList, lines);
  QFETCH(QString, message);
  InTempDir dir;
  WriteFile("script.txt", "MSGB~in file\n\nMSGB~after the gap\n");
  std::map<int, std::string> table = Script({});
  for (int i = 0; i < lines.size(); ++i) {
    table[i + 1] = lines[i].toStdString();
  }
  RunRig s(table);
  s.Begin();
  QVERIFY2(Contains(s.LastMessage(), message.toStdString()), s.LastMessage().c_str());
  QVERIFY(s.Sent().empty());
  QVERIFY(s.HandedBack());
  QCOMPARE(s.op.Phase(), 2);
}

void RunScriptTest::invalidCommandEndsTheRun() {
  // An entry above 1000 reached by GOTO is carried out as a script line.
  RunRig s(Script({{1, "GOTO~1010"}}));
  s.Begin();
  QCOMPARE(s.Messages(), (std::vector<std::string>{"Invalid script command: MANAGER.SYS,PUB",
                                                   "unexpected value: -1"}));
  QCOMPARE(s.Sent(), std::vector<std::string>{""});
  QCOMPARE(s.run.actionCode(), 0);
}

void RunScriptTest::payloadsRefused_data() {
  QTest::addColumn<QStringList>("lines");
  QTest::addColumn<QString>("first");  // a part of the first message
  QTest::addColumn<int>("boxes");      // with the command's own "Resource Error"
  QTest::newRow("missing payload")
      << QStringList{"XFERU~NOSUCH~NMPRG"} << "Resource Error: NOSUCH" << 2;
  QTest::newRow("record transfer under 256 bytes")
      << QStringList{"XFERU~TINY~NMPRG"} << "holds 100 bytes" << 1;
  QTest::newRow("record transfer, part record")
      << QStringList{"XFERU~ODD300~NMPRG"} << "holds 300 bytes" << 1;
  QTest::newRow("block transfer under 128 bytes")
      << QStringList{"XFERB~TINY"} << "at least 128" << 1;
  QTest::newRow("own header and no data") << QStringList{"XFERA~HDRONLY"} << "no data" << 1;
  QTest::newRow("host file name over 40")
      << QStringList{"LET0~ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJ", "XFERD~PACKED"}
      << "longer than 40" << 1;
  QTest::newRow("damaged packed payload") << QStringList{"XFERC~DAMAGED"} << "damaged" << 2;
  QTest::newRow("packed payload too large")
      << QStringList{"XFERE~TOOBIG"} << "more than 1,000,000" << 2;
}

void RunScriptTest::payloadsRefused() {
  QFETCH(QStringList, lines);
  QFETCH(QString, first);
  QFETCH(int, boxes);
  std::map<int, std::string> table = Script({});
  for (int i = 0; i < lines.size(); ++i) {
    table[i + 1] = lines[i].toStdString();
  }
  RunRig s(table);
  s.Begin();
  const auto messages = s.Messages();
  QCOMPARE(messages.size(), std::size_t(boxes));
  QVERIFY2(Contains(messages.front(), first.toStdString()), messages.front().c_str());
  QVERIFY(Contains(messages.front(), "Resource Error"));
  if (boxes == 2) {
    QCOMPARE(messages.back(), std::string("Resource Error"));
  }
  QCOMPARE(s.Sent(), std::vector<std::string>{"BYE"});  // nothing of the payload went out
  QCOMPARE(s.op.ends, std::vector<install::RunEnd>{install::RunEnd::PayloadRefused});
  QCOMPARE(s.run.actionCode(), 0);
  QVERIFY(!s.run.payloadLoaded());
}

void RunScriptTest::connectionLossDuringABoxEndsTheRun() {
  // The connection goes while the CommandErrorText box is open:
  // the step that showed it must not bring the run back to life.
  RunRig s(Script({{1, "SEND1~SHOWME~FOUND"}, {2, "MSGB~went on"}}));
  s.Begin();
  s.op.onBox = [&](const support::RecordingOperator::Box& box) {
    if (box.kind == Kind::Message) {
      s.run.AbandonRun();  // the host reset the connection
    }
  };
  s.Answer("NOTHING");
  QCOMPARE(s.run.actionCode(), 0);
  s.op.onBox = nullptr;
  QCOMPARE(s.Messages(), std::vector<std::string>{kCommandError});
}

QTEST_MAIN(RunScriptTest)
#include "run_script_test.moc"
