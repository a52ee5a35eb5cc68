// The uploads on a recording host link, with no window, the test playing
// BUILD, FCOPY and the receiving host program: the shipped installation
// record by record, block transfers of each kind checked byte for byte, and
// every way the host can make an upload fail.
#include "runtest.h"
#include "testdir.h"

#include <QTest>

#include <QFile>

#include <zlib.h>

#include <algorithm>

using support::RunRig;
using support::Script;
using Kind = support::RecordingOperator::Kind;
using Bytes = std::vector<std::uint8_t>;

namespace {

nsvt::ConstBytes AsSpan(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

const char kCommandError[] = "Error processing command\r\nCannot continue.";
const char kDataRequest[] = "\x1b&p1s2R";
const std::string kAck = std::string("\r\nOK  ") + '\x01';  // 7th character 0x01

Bytes Resource(const QString& name) {
  QFile file(":/payloads/" + name);
  if (!file.open(QIODevice::ReadOnly)) {
    return {};
  }
  const QByteArray bytes = file.readAll();
  return Bytes(bytes.begin(), bytes.end());
}

Bytes Unpacked(const Bytes& packed) {
  Bytes out(1000000);
  uLongf length = static_cast<uLongf>(out.size());
  if (uncompress(out.data(), &length, packed.data(), static_cast<uLong>(packed.size())) != Z_OK) {
    return {};
  }
  out.resize(length);
  return out;
}

unsigned Be16(const std::string& bytes, std::size_t at) {
  return (static_cast<unsigned char>(bytes[at]) << 8) | static_cast<unsigned char>(bytes[at + 1]);
}

unsigned Be32(const std::string& bytes, std::size_t at) {
  return (Be16(bytes, at) << 16) | Be16(bytes, at + 2);
}

// One TransferBlock as sent: framing and checksum checked here, sequence,
// count and data handed back.
struct Block {
  unsigned sequence = 0;
  unsigned count = 0;
  std::string data;
};

bool Decode(const std::string& sent, Block& block) {
  if (sent.size() != 1032 || sent[0] != '\x02' || sent[1031] != '\x03') {
    return false;
  }
  unsigned sum = 0;
  for (std::size_t i = 1; i <= 1028; ++i) {
    sum += static_cast<unsigned char>(sent[i]);
  }
  if (Be16(sent, 1029) != (sum & 0xFFFF)) {
    return false;
  }
  block.sequence = Be16(sent, 1);
  block.count = Be16(sent, 3);
  if (block.count > 1024) {
    return false;
  }
  block.data = sent.substr(5, block.count);
  // Past the count the data area is zero.
  return sent.compare(5 + block.count, 1024 - block.count, std::string(1024 - block.count, '\0')) ==
         0;
}

// The text transfer's line ends, worked out per block of 1024 payload bytes.
std::string NormalizedText(const Bytes& text) {
  std::string out;
  for (std::size_t start = 0; start < text.size(); start += 1024) {
    const std::size_t n = std::min<std::size_t>(1024, text.size() - start);
    for (std::size_t i = 0; i < n; ++i) {
      const char c = static_cast<char>(text[start + i]);
      if (c != '\r') {
        out += c;
      } else if (i + 2 < n) {
        if (text[start + i + 1] != '\n') {
          out += '\n';
        }
      }
    }
  }
  return out;
}

std::string Challenge() {
  std::string bytes(256, '\0');
  for (int i = 0; i < 256; ++i) {
    bytes[static_cast<std::size_t>(i)] = static_cast<char>(i);
  }
  return bytes;
}

std::map<int, std::string> TransferScript(const std::string& line) {
  return Script({{1, line}, {2, "MSGB~complete"}, {3, "STOP"}, {50, "MSGB~failed"}, {51, "STOP"}});
}

// Begin, BUILD, FCOPY and its FROM= line: FCOPY's first data request is
// next.
void StartRecordTransfer(RunRig& s) {
  s.Begin();
  QCOMPARE(s.Sent().size(), std::size_t{1});  // BUILD
  s.Answer("");
  QCOMPARE(s.Sent(), std::vector<std::string>{"RUN FCOPY.PUB.SYS"});
  s.Answer("HP32212A.03.40 FILE COPIER\r\n>");
  QCOMPARE(s.Sent(), std::vector<std::string>{"FROM=$CTUL;TO=$OLDPASS"});
  s.Answer("");
  QCOMPARE(s.Sent(), std::vector<std::string>{""});
}

// Sends count records through state 75 and 76.
void CopyRecords(RunRig& s, int count) {
  for (int i = 0; i < count; ++i) {
    s.Answer(kDataRequest);
    s.Answer("");
  }
}

// From Begin up to the header or descriptor block's answer: the next read
// is state 15 (binary) or 20 (text).
void StartBlockTransfer(RunRig& s, bool text) {
  s.Begin();
  QCOMPARE(s.Sent(), std::vector<std::string>{"RUN ZORBELIX.PUB.SYS"});
  s.Answer("Host Program: Build", 1);
  QCOMPARE(s.Sent(), std::vector<std::string>{"Y"});
  s.Answer(Challenge(), 256);
  QCOMPARE(s.Sent(), std::vector<std::string>{Challenge()});
  s.Answer("YGA", 1032);
  QCOMPARE(s.Sent().size(), std::size_t{1});  // the descriptor
  if (!text) {
    s.Answer("", 1032);
    QCOMPARE(s.Sent().size(), std::size_t{1});  // the header
  }
}

}  // namespace

class RunUploadTest : public QObject {
  Q_OBJECT

private slots:
  void shippedInstallation();
  void recordTransferCheckFails_data();
  void recordTransferCheckFails();
  void dataRequestMissing_data();
  void dataRequestMissing();
  void fcopyEnding_data();
  void fcopyEnding();
  void connectionGoesDuringRecords();
  void binaryTransfer_data();
  void binaryTransfer();
  void textTransfer();
  void blockTransferFails_data();
  void blockTransferFails();
  void failedBlockSendEndsTheRun();
  void floodKeepsTheBlockMark();
};

// ---- Record transfer ----

void RunUploadTest::shippedInstallation() {
  RunRig s;
  s.host.traceOn = true;
  const Bytes payload = Resource("ZORBELIX");
  QCOMPARE(payload.size(), std::size_t{112128});

  s.Begin();
  QCOMPARE(s.Sent(), std::vector<std::string>{"ECHO !HPUSER.!HPACCOUNT"});
  s.Answer("MANAGER.SYS");
  QCOMPARE(s.Sent(), std::vector<std::string>{"BUILD $NEWPASS;REC=128;CODE=NMPRG;DISC=438,1,1"});
  QCOMPARE(s.run.payloadSize(), 112128);
  QCOMPARE(s.run.storedSize(), 112128);
  QCOMPARE(s.run.blockNumber(), 1);
  s.Answer("");
  QCOMPARE(s.Sent(), std::vector<std::string>{"RUN FCOPY.PUB.SYS"});
  QVERIFY(s.op.idleTimer);
  s.Answer("HP32212A.03.40 FILE COPIER\r\n>");
  QCOMPARE(s.Sent(), std::vector<std::string>{"FROM=$CTUL;TO=$OLDPASS"});
  s.Answer("");
  QCOMPARE(s.Sent(), std::vector<std::string>{""});

  for (int record = 1; record <= 438; ++record) {
    s.Answer(kDataRequest);
    QCOMPARE(s.Sent(), std::vector<std::string>{"0100"});
    s.Answer("", 80);  // a short read: the record is not cut to it
    const auto sent = s.Sent();
    QCOMPARE(sent.size(), std::size_t{1});
    QVERIFY(s.host.sent.back().kind == support::SentInput::Kind::Uncut);  // never cut
    const std::size_t from = static_cast<std::size_t>(record - 1) * 256;
    QVERIFY2(sent[0] == std::string(payload.begin() + from, payload.begin() + from + 256),
             qPrintable(QString("record %1").arg(record)));
    if (record == 100) {
      QCOMPARE(s.op.progress->overallPercent, 22);
    }
  }
  QCOMPARE(QString::fromStdString(s.op.progressStatus), QString("  ZORBELIX Size: 109KB - 438"));
  QVERIFY(s.op.console.find("0100") == std::string::npos);  // FCOPY's dialogue is not shown

  s.Answer("");
  QCOMPARE(s.Sent(), std::vector<std::string>{":EOD"});
  QVERIFY(!s.run.payloadLoaded());
  s.Answer("438 RECORDS PROCESSED *** 0 ERRORS\r\n>");
  QCOMPARE(s.Sent(), std::vector<std::string>{"E"});
  s.Answer("END OF PROGRAM");
  QVERIFY(!s.op.idleTimer);
  // The previous program goes only once the new one is on the host, and a
  // run cut short says what the host holds at each stage.
  QCOMPARE(s.Sent(), std::vector<std::string>{"PURGE ZORBELIX"});
  QCOMPARE(s.run.IncompleteInstallationText("the host closed the connection"),
           std::string("The installation did not complete: the host closed the connection while "
                       "waiting for the answer to \"PURGE ZORBELIX\".\r\nZORBELIX was not "
                       "installed, and the previous ZORBELIX may have been purged."));
  s.Answer("");
  QCOMPARE(s.Sent(), std::vector<std::string>{"SAVE $OLDPASS,ZORBELIX"});
  QCOMPARE(s.run.RunStepText(),
           std::string("waiting for the answer to \"SAVE $OLDPASS,ZORBELIX\"; ZORBELIX may be "
                       "installed: check with LISTFILE ZORBELIX.PUB.SYS,2"));
  QVERIFY(s.Messages().empty());
  s.Answer(":");
  QCOMPARE(s.Sent(), std::vector<std::string>{"BYE"});
  QCOMPARE(s.Messages(), std::vector<std::string>{"Successful installation."});
  QCOMPARE(s.op.ends, std::vector<install::RunEnd>{install::RunEnd::LoggedOff});
  QCOMPARE(s.run.actionText(), std::string("Done."));
  QCOMPARE(s.run.actionCode(), 0);
  QVERIFY(!s.run.TookFailurePath());

  const auto& trace = s.host.traceLines;
  QCOMPARE(std::count(trace.begin(), trace.end(), " (256)"), 438);
  QVERIFY(std::find(trace.begin(), trace.end(), " InitCodeGeneration: ZORBELIX") != trace.end());
  QVERIFY(std::any_of(trace.begin(), trace.end(),
                      [](const std::string& line) { return line.starts_with(" ResourcePtr: "); }));
}

void RunUploadTest::recordTransferCheckFails_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<bool>("atBuild");  // else when FCOPY is run
  QTest::addColumn<QStringList>("sent");
  QTest::addColumn<QString>("box");  // message box, or the error box's text
  QTest::newRow("BUILD CIERR, no line")
      << "XFERU~REC1024~NMPRG" << true << QStringList{""} << kCommandError;
  QTest::newRow("BUILD CIERR, line")
      << "XFERU~REC1024~NMPRG~50" << true << QStringList{""} << "failed";
  QTest::newRow("FCOPY CIERR, no line") << "XFERU~REC1024~NMPRG" << false << QStringList{""}
                                        << "  Network Error: 4108, Error running FCOPY 1.";
  QTest::newRow("FCOPY CIERR, line")
      << "XFERU~REC1024~NMPRG~50" << false << QStringList{} << "failed";
}

void RunUploadTest::recordTransferCheckFails() {
  QFETCH(QString, line);
  QFETCH(bool, atBuild);
  QFETCH(QStringList, sent);
  QFETCH(QString, box);
  RunRig s(TransferScript(line.toStdString()));
  s.Begin();
  QCOMPARE(s.Sent(), std::vector<std::string>{"BUILD $NEWPASS;REC=128;CODE=NMPRG;DISC=4,1,1"});
  if (!atBuild) {
    s.Answer("");
    s.Sent();
  }
  s.Answer("CIERR 100");
  std::vector<std::string> expected;
  for (const QString& text : sent) {
    expected.push_back(text.toStdString());
  }
  QCOMPARE(s.Sent(), expected);
  QVERIFY(!s.op.idleTimer);
  if (s.run.actionCode() != 0) {
    s.Answer(":");
  }
  const bool errorBox = box.startsWith("  Network Error");
  QCOMPARE(errorBox ? s.op.Texts(Kind::Error).back() : s.LastMessage(), box.toStdString());
  QVERIFY(s.HandedBack());
  QVERIFY(!s.run.payloadLoaded());
  QVERIFY(!s.op.Saw(Kind::Message, "complete"));
}

void RunUploadTest::dataRequestMissing_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<QString>("outcome");
  QTest::newRow("error line") << "XFERU~REC1024~NMPRG~50"
                              << "failed";
  QTest::newRow("no error line") << "XFERU~REC1024~NMPRG" << kCommandError;
}

void RunUploadTest::dataRequestMissing() {
  // FCOPY stops asking for records after the second: its input is ended
  // with ":EOD", it is let finish, and only then does the script go on.
  QFETCH(QString, line);
  QFETCH(QString, outcome);
  RunRig s(TransferScript(line.toStdString()));
  StartRecordTransfer(s);
  CopyRecords(s, 2);
  s.Sent();
  s.Answer("*** ERROR WRITING TO TOFILE");
  QCOMPARE(s.Sent(), std::vector<std::string>{":EOD"});
  QVERIFY(!s.run.payloadLoaded());
  s.Answer("UNKNOWN COMMAND\r\n>");
  QCOMPARE(s.Sent(), std::vector<std::string>{"E"});
  QVERIFY(s.Messages().empty());
  s.Answer("END OF PROGRAM");
  QVERIFY(!s.op.idleTimer);
  QCOMPARE(s.Sent(), std::vector<std::string>{""});
  s.Answer(":");
  QCOMPARE(s.LastMessage(), outcome.toStdString());
  QVERIFY(s.HandedBack());
  QVERIFY(!s.op.Saw(Kind::Message, "complete"));
}

void RunUploadTest::fcopyEnding_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<QString>("answer");  // FCOPY's output after ":EOD" and each answer
  QTest::addColumn<int>("readLength");
  QTest::addColumn<QStringList>("answers");  // what the installer says to it
  QTest::addColumn<QString>("outcome");
  const QStringList eightNo{"N", "N", "N", "N", "N", "N", "N", "N"};
  QStringList givenUp = eightNo;
  givenUp << "";
  // An FCOPY that never ends is given up on: the copy was never confirmed,
  // so the run must not go on to SAVE and claim success.
  QTest::newRow("Y OR N eight times, then given up")
      << "XFERU~REC1024~NMPRG"
      << "PURGE OLD FILE (Y OR N)?" << 80 << givenUp
      << "  Network Error: 4110, Error creating new filePURGE OLD FILE (Y OR N)?";
  QTest::newRow("given up, with an error line")
      << "XFERU~REC1024~NMPRG~50"
      << "PURGE OLD FILE (Y OR N)?" << 80 << givenUp << "failed";
  QTest::newRow("a long read ends the wait") << "XFERU~REC1024~NMPRG"
                                             << "" << 500 << QStringList{} << "complete";
  QTest::newRow("END OF with CIERR, line") << "XFERU~REC1024~NMPRG~50"
                                           << "CIERR END OF" << 80 << QStringList{""} << "failed";
  QTest::newRow("END OF with CIERR, no line")
      << "XFERU~REC1024~NMPRG"
      << "CIERR END OF" << 80 << QStringList{""}
      << "  Network Error: 4110, Error creating new fileCIERR END OF";
}

void RunUploadTest::fcopyEnding() {
  QFETCH(QString, line);
  QFETCH(QString, answer);
  QFETCH(int, readLength);
  QFETCH(QStringList, answers);
  QFETCH(QString, outcome);
  RunRig s(TransferScript(line.toStdString()));
  StartRecordTransfer(s);
  CopyRecords(s, 4);
  QCOMPARE(s.Sent().size(), std::size_t{8});  // "0100" and a record, four times
  s.Answer("");
  QCOMPARE(s.Sent(), std::vector<std::string>{":EOD"});
  std::vector<std::string> said;
  while (s.run.actionCode() == 78) {
    s.Answer(answer.toStdString(), static_cast<std::uint16_t>(readLength));
    for (const std::string& text : s.Sent()) {
      said.push_back(text);
    }
    QVERIFY(said.size() <= 9);
  }
  std::vector<std::string> expected;
  for (const QString& text : answers) {
    expected.push_back(text.toStdString());
  }
  QCOMPARE(said, expected);
  QVERIFY(!s.op.idleTimer);
  QVERIFY(s.run.consoleEcho());
  if (s.run.actionCode() != 0) {
    s.Answer(":");
  }
  const bool errorBox = outcome.startsWith("  Network Error");
  QCOMPARE(errorBox ? s.op.Texts(Kind::Error).back() : s.LastMessage(), outcome.toStdString());
  QVERIFY(s.HandedBack());
}

void RunUploadTest::connectionGoesDuringRecords() {
  RunRig s(TransferScript("XFERU~REC1024~NMPRG"));
  StartRecordTransfer(s);
  CopyRecords(s, 2);
  QVERIFY(s.op.idleTimer);
  QVERIFY(s.run.RunStepText().ends_with(
      "; REC1024 was not installed, and the previous REC1024, if any, is still on the host"));
  s.run.AbandonRun();  // a reset, or the host closing the connection
  QCOMPARE(s.run.actionCode(), 0);
  QVERIFY(!s.op.idleTimer);
  QVERIFY(!s.run.payloadLoaded());
  QVERIFY(s.Messages().empty());
  QCOMPARE(s.op.ends, std::vector<install::RunEnd>{install::RunEnd::Abandoned});
}

// ---- Block transfer ----

void RunUploadTest::binaryTransfer_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<QString>("hostName");
  QTest::addColumn<bool>("packed");
  QTest::addColumn<bool>("ownHeader");
  QTest::addColumn<QList<int>>("counts");
  QTest::newRow("XFERB, 3000 bytes") << "XFERB~BIN3000"
                                     << "BIN3000" << false << false << QList<int>{1024, 1024, 952};
  QTest::newRow("XFERB, own QZBIN header") << "XFERB~OWNHDR"
                                           << "OWNHDR" << false << true << QList<int>{1024, 1024};
  QList<int> packedCounts(292, 1024);
  packedCounts << 992;
  QTest::newRow("XFERC, packed") << "XFERC~PACKED"
                                 << "PACKED" << true << false << packedCounts;
  QTest::newRow("XFERD, packed, group and account")
      << "XFERD~PACKED"
      << "PACKED.PUB.SYS" << true << false << packedCounts;
  QTest::newRow("XFERE, packed with own header")
      << "XFERE~PACKHDR"
      << "PACKHDR.PUB.VORDANEX" << true << true << QList<int>{1024, 476};
}

void RunUploadTest::binaryTransfer() {
  QFETCH(QString, line);
  QFETCH(QString, hostName);
  QFETCH(bool, packed);
  QFETCH(bool, ownHeader);
  QFETCH(QList<int>, counts);
  RunRig s(TransferScript(line.toStdString()));
  const Bytes stored = Resource(line.section('~', 1, 1));
  const Bytes payload = packed ? Unpacked(stored) : stored;
  QVERIFY(!payload.empty());

  s.Begin("PUB", "SYS");  // the group and account XFERD names
  QCOMPARE(s.Sent(), std::vector<std::string>{"RUN ZORBELIX.PUB.SYS"});
  QVERIFY(!s.run.consoleEcho());
  s.Answer("Host Program: Build", 1);
  QCOMPARE(s.Sent(), std::vector<std::string>{"Y"});
  s.Answer(Challenge(), 256);
  QCOMPARE(s.Sent(), std::vector<std::string>{Challenge()});
  s.Answer("YGA", 1032);
  Block block;
  auto sent = s.Sent();
  QCOMPARE(sent.size(), std::size_t{1});
  QVERIFY(Decode(sent[0], block));
  QCOMPARE(block.sequence, 0u);
  QCOMPARE(block.count, 128u);
  QCOMPARE(int(block.data[0]), 66);
  QCOMPARE(Be16(block.data, 2), 15u);
  QCOMPARE(Be16(block.data, 4), 7u);
  QCOMPARE(block.data.substr(8, 40),
           hostName.toStdString() + std::string(40 - std::size_t(hostName.size()), '\0'));

  s.Answer("", 1032);
  sent = s.Sent();
  QCOMPARE(sent.size(), std::size_t{1});
  QVERIFY(Decode(sent[0], block));
  QCOMPARE(block.sequence, 0u);
  QCOMPARE(block.count, 128u);
  if (ownHeader) {
    QCOMPARE(block.data, std::string(payload.begin(), payload.begin() + 128));
  } else {
    QCOMPARE(block.data.substr(0, 5), packed ? std::string("QZBIN") : std::string(5, '\0'));
    QCOMPARE(Be16(block.data, 5), 256u);
    QCOMPARE(Be32(block.data, 8), 50000u);
    QCOMPARE(block.data.substr(12, 2), packed ? std::string("\x48\x33") : std::string(2, '\0'));
  }

  s.Answer("", 1);
  QCOMPARE(s.Sent(), std::vector<std::string>{"1"});
  std::string data;
  for (int i = 0; i < counts.size(); ++i) {
    s.Answer(i == 0 ? kAck : "", 1032);
    sent = s.Sent();
    QCOMPARE(sent.size(), std::size_t{1});
    QVERIFY(Decode(sent[0], block));
    QCOMPARE(block.sequence, unsigned(i + 1));
    QCOMPARE(int(block.count), counts[i]);
    data += block.data;
  }
  const std::size_t start = ownHeader ? 128 : 0;
  QVERIFY(data == std::string(payload.begin() + start, payload.end()));
  QCOMPARE(s.run.totalBytesSent(), std::int32_t(stored.size()));
  QCOMPARE(s.run.storedSize(), std::int32_t(stored.size()));

  s.Answer("", 1032);  // a read of a whole block: the end block goes out
  sent = s.Sent();
  QCOMPARE(sent.size(), std::size_t{1});
  QVERIFY(Decode(sent[0], block));
  QCOMPARE(block.sequence, unsigned(counts.size() + 1));
  QCOMPARE(block.count, 0u);
  s.Answer("END OF PROGRAM\r\n:");
  QCOMPARE(s.Messages(), std::vector<std::string>{"complete"});
  QVERIFY(s.HandedBack());
}

void RunUploadTest::textTransfer() {
  RunRig s(TransferScript("XFERA~TEXT~0~0"));
  const Bytes text = Resource("TEXT");
  StartBlockTransfer(s, true);
  // Only the descriptor went out (checked in StartBlockTransfer); state 20
  // comes next.
  QCOMPARE(s.run.actionCode(), 20);
  QCOMPARE(int(s.run.transferDescriptor()[0]), 64);
  QCOMPARE(s.run.transferDescriptor()[48] * 256 + s.run.transferDescriptor()[49], 80);
  QCOMPARE(s.run.transferDescriptor()[50] * 256 + s.run.transferDescriptor()[51], 50000);
  s.Answer("", 1);
  QCOMPARE(s.Sent(), std::vector<std::string>{"1"});
  std::string data;
  unsigned sequence = 1;
  Block block;
  while (s.run.actionCode() == 21) {
    s.Answer("", 1032);
    const auto sent = s.Sent();
    QCOMPARE(sent.size(), std::size_t{1});
    QVERIFY(Decode(sent[0], block));
    QCOMPARE(block.sequence, sequence++);
    data += block.data;
  }
  QCOMPARE(sequence, 4u);  // three blocks
  QVERIFY(data.find('\r') == std::string::npos);
  QCOMPARE(data, NormalizedText(text));
  s.Answer("", 1032);
  const auto sent = s.Sent();
  QVERIFY(Decode(sent.at(0), block));
  QCOMPARE(block.sequence, 4u);
  QCOMPARE(block.count, 0u);
  s.Answer(":");
  QCOMPARE(s.Messages(), std::vector<std::string>{"complete"});
}

void RunUploadTest::blockTransferFails_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<int>("stage");  // answers given correctly before the bad one
  QTest::addColumn<QString>("output");
  QTest::addColumn<int>("readLength");
  QTest::addColumn<QString>("error");
  QTest::addColumn<QStringList>("sent");  // answer to the bad read
  const QString binary = "XFERB~BIN3000";
  const QString text = "XFERA~TEXT";
  QTest::newRow("no greeting") << binary << 0 << "UNKNOWN PROGRAM" << 1
                               << "4006, Error running host program: UNKNOWN PROGRAM"
                               << QStringList{""};
  QTest::newRow("255-byte challenge")
      << binary << 1 << QString::fromLatin1(Challenge().substr(1).c_str()) << 256
      << "4008, Error 255 - " << QStringList{""};
  QTest::newRow("not ready") << binary << 2 << "NO" << 1032 << "4009, Error NO" << QStringList{""};
  QTest::newRow("header refused") << binary << 3 << "CIERR 52" << 1032 << "4109, Error CIERR 52"
                                  << QStringList{""};
  QTest::newRow("read length 2 before the data")
      << binary << 4 << "" << 2 << "4014, Error cannot write to file." << QStringList{"1"};
  QTest::newRow("answer shorter than seven")
      << binary << 5 << "OK" << 1032 << "4010, Error cannot write to file." << QStringList{""};
  QTest::newRow("END OF PROGRAM") << binary << 5 << "ABCDEF\x01 END OF PROGRAM" << 1032
                                  << "4010, Error ABCDEF\x01 END OF PROGRAM" << QStringList{""};
  QTest::newRow("text: read length 80 at the end")
      << text << 7 << "" << 80 << "4046, Error cannot write to file." << QStringList{""};
  QTest::newRow("text: marked answer at the end")
      << text << 7 << "ABCDEF\x01" << 80 << "4047, Error ABCDEF\x01" << QStringList{""};
}

void RunUploadTest::blockTransferFails() {
  QFETCH(QString, line);
  QFETCH(int, stage);
  QFETCH(QString, output);
  QFETCH(int, readLength);
  QFETCH(QString, error);
  QFETCH(QStringList, sent);
  const bool text = line.startsWith("XFERA");
  RunRig s(TransferScript(line.toStdString()));
  s.Begin();
  // The good answers, stage by stage.
  const std::vector<std::pair<std::string, std::uint16_t>> good =
      text ? std::vector<std::pair<std::string, std::uint16_t>>{{"Host Program: Build", 1},
                                                                {Challenge(), 256},
                                                                {"YGA", 1032},
                                                                {"", 1},
                                                                {"", 1032},
                                                                {"", 1032},
                                                                {"", 1032}}
           : std::vector<std::pair<std::string, std::uint16_t>>{{"Host Program: Build", 1},
                                                                {Challenge(), 256},
                                                                {"YGA", 1032},
                                                                {"", 1032},
                                                                {"", 1},
                                                                {kAck, 1032}};
  for (int i = 0; i < stage; ++i) {
    s.Answer(good[static_cast<std::size_t>(i)].first, good[static_cast<std::size_t>(i)].second);
  }
  if (text && stage == 7) {
    QCOMPARE(s.run.actionCode(), 22);
  }
  s.Sent();
  s.Answer(output.toLatin1().toStdString(), static_cast<std::uint16_t>(readLength));
  std::vector<std::string> expected;
  for (const QString& t : sent) {
    expected.push_back(t.toStdString());
  }
  QCOMPARE(s.Sent(), expected);
  const auto errors = s.op.Texts(Kind::Error);
  QCOMPARE(errors.size(), std::size_t{1});
  const std::string wanted = "  Network Error: " + error.toLatin1().toStdString();
  QVERIFY2(errors[0].rfind(wanted, 0) == 0, errors[0].c_str());
  // A stop ends at the host's next prompt, an abort at once; either way the
  // host prompts again and the operator gets the console.
  QVERIFY(s.run.actionCode() == 0 || s.run.actionCode() == 90);
  s.Answer(":");
  QVERIFY(s.HandedBack());
  QVERIFY(s.Messages().empty());
}

void RunUploadTest::failedBlockSendEndsTheRun() {
  RunRig s(TransferScript("XFERB~BIN3000"));
  StartBlockTransfer(s, false);
  s.Answer("", 1);
  s.Sent();
  s.host.failSends = true;
  s.Answer(kAck, 1032);
  const auto errors = s.op.Texts(Kind::Error);
  QCOMPARE(errors, std::vector<std::string>{"  Network Error: 4210, Error " + kAck});
  QVERIFY(s.HandedBack());
  QVERIFY(!s.run.payloadLoaded());
  QVERIFY(s.Messages().empty());
}

// More than a megabyte of host output during a binary transfer: the 7th
// character since the header block still decides, so the data go on.
void RunUploadTest::floodKeepsTheBlockMark() {
  RunRig s(TransferScript("XFERB~BIN3000"));
  StartBlockTransfer(s, false);
  s.Answer("", 1);
  s.Sent();
  s.run.HostOutput(AsSpan(kAck));
  const std::string flood(60000, 'x');
  for (int i = 0; i < 20; ++i) {
    s.run.HostOutput(AsSpan(flood));
  }
  s.Answer("", 1032);
  QCOMPARE(s.op.Count(Kind::Error), std::size_t{0});
  QCOMPARE(s.Sent().size(), std::size_t{1});  // the first data block
  QCOMPARE(s.run.actionCode(), 16);
}

QTEST_MAIN(RunUploadTest)
#include "run_upload_test.moc"
