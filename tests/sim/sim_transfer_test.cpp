// FCOPY's record copy and the receiving host program's block transfer, from
// the terminal's side, including the ways each refuses bad input.
#include <QFile>
#include <QTest>

#include "simdialogue.h"

namespace {

void put16(QByteArray& b, int at, int v) {
  b[at] = static_cast<char>((v >> 8) & 0xFF);
  b[at + 1] = static_cast<char>(v & 0xFF);
}

// A transfer block as the installer frames it.
QByteArray block(int sequence, const QByteArray& data) {
  QByteArray b(1032, '\0');
  b[0] = 0x02;
  put16(b, 1, sequence);
  put16(b, 3, static_cast<int>(data.size()));
  b.replace(5, data.size(), data);
  b.resize(1032);
  int sum = 0;
  for (int i = 1; i <= 1028; ++i)
    sum += static_cast<uint8_t>(b[i]);
  put16(b, 1029, sum & 0xFFFF);
  b[1031] = 0x03;
  return b;
}

QByteArray descriptor(int fileType, const QByteArray& name, int recordSize = 0, int limit = 0) {
  QByteArray d(128, '\0');
  d[0] = static_cast<char>(fileType);
  put16(d, 2, 15);
  put16(d, 4, 7);
  d.replace(8, name.size(), name);
  d.resize(128);
  put16(d, 48, recordSize);
  put16(d, 50, limit);
  return d;
}

QByteArray binaryHeader() {
  QByteArray h(128, '\0');
  put16(h, 5, 256);
  put16(h, 10, 50000);  // 32-bit limit at offset 8
  return h;
}

// Runs FCOPY up to its first record request on a file of `limit` records.
int startFcopy(TestTerminal& t, int limit) {
  t.answer(QString("BUILD $NEWPASS;REC=128;CODE=NMPRG;DISC=%1,1,1").arg(limit).toLatin1());
  t.answer("RUN FCOPY.PUB.SYS");
  t.answer("FROM=$CTUL;TO=$OLDPASS");
  t.takeText();
  return t.answer("");
}

}  // namespace

class SimTransferTest : public QObject {
  Q_OBJECT
private slots:
  void init();
  void fcopyRefusesRecordsItCannotTake_data();
  void fcopyRefusesRecordsItCannotTake();
  void fcopyAsksYesOrNoBeforeItEnds();
  void fcopyRejectsUnknownCommandsWithItsOwnText();
  void blockTransferStoresBinaryFile();
  void blockTransferStoresTextAsRecords();
  void badBlockEndsProgramAndStoresNothing_data();
  void badBlockEndsProgramAndStoresNothing();
  void wrongChallengeEchoEndsProgram();
  void shortChallengeOnRequest();
  void badFileNameInDescriptorIsCierr();
  void runOfMissingProgramIsCierr();

private:
  // Runs the host program up to the first data block's read; false if any
  // step did not look as the installer requires.
  bool startBlockTransfer(const QByteArray& desc, bool binary);
  QTemporaryDir dir_;
  QString program_;
  std::unique_ptr<SimProcess> sim_;
  std::unique_ptr<TestTerminal> t_;
};

void SimTransferTest::init() {
  program_ = dir_.filePath("ZORBELIX");
  QFile f(program_);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(makePayload(4));
  f.close();
  sim_ = std::make_unique<SimProcess>();
  t_ = std::make_unique<TestTerminal>();
}

void SimTransferTest::fcopyRefusesRecordsItCannotTake_data() {
  QTest::addColumn<int>("limit");
  QTest::addColumn<int>("goodRecords");
  QTest::addColumn<QByteArray>("badAnswer");
  QTest::addColumn<QByteArray>("errorText");
  QTest::newRow("short record") << 5 << 1 << QByteArray(255, 'x') << QByteArray("FCOPY ERROR 12");
  QTest::newRow("past the limit") << 2 << 2 << QByteArray(256, 'x') << QByteArray("FCOPY ERROR 15");
}

void SimTransferTest::fcopyRefusesRecordsItCannotTake() {
  QFETCH(int, limit);
  QFETCH(int, goodRecords);
  QFETCH(QByteArray, badAnswer);
  QFETCH(QByteArray, errorText);
  QVERIFY(sim_->start({}));
  TestTerminal& t = *t_;
  QCOMPARE(connectAndLogOn(*sim_, t), 80);
  QCOMPARE(startFcopy(t, limit), 80);
  for (int i = 0; i < goodRecords; ++i) {
    QCOMPARE(t.answer("0100"), 256);
    t.answer(QByteArray(256, 'r'));
  }
  QCOMPARE(t.answer("0100"), 256);
  t.takeText();
  QVERIFY(t.answer(badAnswer) > 0);
  const QByteArray text = t.takeText();
  QVERIFY2(text.contains(errorText) && !text.contains("RECORDS PROCESSED") && text.endsWith(">"),
           text);
  QVERIFY(!text.contains("&p1s2R"));
}

void SimTransferTest::fcopyAsksYesOrNoBeforeItEnds() {
  QVERIFY(sim_->start({"--fcopy-question", "1"}));
  TestTerminal& t = *t_;
  QCOMPARE(connectAndLogOn(*sim_, t), 80);
  startFcopy(t, 1);
  t.answer("0100");
  t.answer(QByteArray(256, 'r'));
  const int afterEod = t.answer(":EOD");
  QVERIFY(afterEod > 0 && afterEod < 500);
  t.takeText();
  t.answer("E");
  QVERIFY(t.takeText().contains("Y OR N"));
  t.answer("N");
  QCOMPARE(t.takeText(), QByteArray(">"));
  QCOMPARE(t.answer("E"), 80);
  QVERIFY(t.takeText().contains("END OF PROGRAM"));
  // The copy still counts: $OLDPASS holds the record.
  QCOMPARE(t.answer("SAVE $OLDPASS,ONE"), 80);
  QCOMPARE(sim_->storedBytes("SYS", "PUB", "ONE"), QByteArray(256, 'r'));
}

void SimTransferTest::fcopyRejectsUnknownCommandsWithItsOwnText() {
  QVERIFY(sim_->start({}));
  TestTerminal& t = *t_;
  QCOMPARE(connectAndLogOn(*sim_, t), 80);
  t.answer("RUN FCOPY.PUB.SYS");
  t.takeText();
  for (const QByteArray& bad : {QByteArray("COPY IT"), QByteArray("FROM=$CTUL;TO=$OLDPASS"),
                                QByteArray("FROM=TAPE;TO=$OLDPASS")}) {
    QCOMPARE(t.answer(bad), 80);
    const QByteArray text = t.takeText();
    QVERIFY2(text.contains("FCOPY ERROR") && !text.contains("CIERR") && text.endsWith(">"), text);
  }
}

bool SimTransferTest::startBlockTransfer(const QByteArray& desc, bool binary) {
  TestTerminal& t = *t_;
  if (connectAndLogOn(*sim_, t) != 80)
    return false;
  t.takeText();
  t.answer("RUN ZORBELIX.PUB.SYS");
  if (!t.takeText().contains("Host Program: Build"))
    return false;
  t.takeRaw();
  if (t.answer("Y") < 256)
    return false;
  const QByteArray challenge = t.takeRaw();
  if (challenge.size() != 256)
    return false;
  t.takeText();
  if (t.answer(challenge) != 1032 || !t.takeText().contains("YGA"))
    return false;
  t.takeRaw();
  if (binary) {
    if (t.answer(block(0, desc)) != 1032 || t.takeText().contains("CIERR"))
      return false;
    if (t.answer(block(0, binaryHeader())) != 1)
      return false;
  } else if (t.answer(block(0, desc)) != 1) {
    return false;
  }
  if (t.answer("1") != 1032)
    return false;
  const QByteArray ready = t.takeRaw();
  return ready.size() >= 7 && ready[6] == '\x01';
}

void SimTransferTest::blockTransferStoresBinaryFile() {
  QByteArray data;
  for (int i = 0; i < 3000; ++i)
    data += static_cast<char>(i * 31);
  QFile local(dir_.filePath("DATA"));
  QVERIFY(local.open(QIODevice::WriteOnly));
  local.write(data);
  local.close();
  QVERIFY(sim_->start(
      {"--once", "--put", "ZORBELIX=" + program_, "--expect", "DATA.PUB.SYS=" + local.fileName()}));
  QVERIFY(startBlockTransfer(descriptor(66, "DATA"), true));
  TestTerminal& t = *t_;
  for (int seq = 1; seq <= 3; ++seq) {
    QCOMPARE(t.answer(block(seq, data.mid((seq - 1) * 1024, 1024))), 1032);
  }
  QVERIFY(!t.takeText().contains("END OF PROGRAM"));
  QCOMPARE(t.answer(block(4, {})), 80);
  QVERIFY(t.takeText().contains("END OF PROGRAM"));
  t.send("BYE");
  QVERIFY(t.waitClosed());
  QCOMPARE(sim_->waitExit(), 0);
  QCOMPARE(sim_->storedBytes("SYS", "PUB", "DATA"), data);
  QCOMPARE(sim_->attributes("SYS", "PUB", "DATA").value("records"), QString("12"));
  QVERIFY(sim_->log().contains("received DATA.PUB.SYS size 3000 crc32 "));
}

void SimTransferTest::blockTransferStoresTextAsRecords() {
  QVERIFY(sim_->start({"--put", "ZORBELIX=" + program_}));
  QVERIFY(startBlockTransfer(descriptor(64, "NOTES.PUB", 12, 3), false));
  TestTerminal& t = *t_;
  QCOMPARE(t.answer(block(1, "FIRST LINE\nSECOND\n")), 1032);
  QCOMPARE(t.answer(block(2, "")), 80);
  QVERIFY(t.takeText().contains("END OF PROGRAM"));
  QCOMPARE(sim_->storedBytes("SYS", "PUB", "NOTES"), QByteArray("FIRST LINE  SECOND      "));
  const auto attr = sim_->attributes("SYS", "PUB", "NOTES");
  QCOMPARE(attr.value("type"), QString("ascii"));
  QCOMPARE(attr.value("recsize"), QString("12"));
  QCOMPARE(attr.value("records"), QString("2"));
}

void SimTransferTest::badBlockEndsProgramAndStoresNothing_data() {
  QTest::addColumn<int>("byteToSpoil");
  QTest::addColumn<int>("sequence");
  QTest::newRow("checksum") << 1029 << 2;
  QTest::newRow("missing STX") << 0 << 2;
  QTest::newRow("missing ETX") << 1031 << 2;
  QTest::newRow("sequence skipped") << -1 << 3;
}

void SimTransferTest::badBlockEndsProgramAndStoresNothing() {
  QFETCH(int, byteToSpoil);
  QFETCH(int, sequence);
  QVERIFY(sim_->start({"--put", "ZORBELIX=" + program_}));
  QVERIFY(startBlockTransfer(descriptor(66, "DATA"), true));
  TestTerminal& t = *t_;
  QCOMPARE(t.answer(block(1, QByteArray(1024, 'a'))), 1032);
  QByteArray bad = block(sequence, QByteArray(1024, 'b'));
  if (byteToSpoil >= 0)
    bad[byteToSpoil] = static_cast<char>(bad[byteToSpoil] ^ 0x40);
  t.takeText();
  QCOMPARE(t.answer(bad), 80);
  const QByteArray text = t.takeText();
  QVERIFY2(text.contains("ERROR") && text.contains("END OF PROGRAM"), text);
  QVERIFY(!QFile::exists(sim_->storePath("SYS", "PUB", "DATA")));
}

void SimTransferTest::wrongChallengeEchoEndsProgram() {
  QVERIFY(sim_->start({"--put", "ZORBELIX=" + program_}));
  TestTerminal& t = *t_;
  QCOMPARE(connectAndLogOn(*sim_, t), 80);
  t.answer("RUN ZORBELIX.PUB.SYS");
  t.takeRaw();
  t.answer("Y");
  QByteArray echo = t.takeRaw();
  echo[10] = static_cast<char>(echo[10] ^ 1);
  t.takeText();
  QCOMPARE(t.answer(echo), 80);
  const QByteArray text = t.takeText();
  QVERIFY2(text.contains("END OF PROGRAM") && !text.contains("YGA"), text);
}

void SimTransferTest::shortChallengeOnRequest() {
  QVERIFY(sim_->start({"--put", "ZORBELIX=" + program_, "--challenge-length", "255"}));
  TestTerminal& t = *t_;
  QCOMPARE(connectAndLogOn(*sim_, t), 80);
  t.answer("RUN ZORBELIX.PUB.SYS");
  t.takeRaw();
  QVERIFY(t.answer("Y") > 0);
  QCOMPARE(t.takeRaw().size(), 255);
}

void SimTransferTest::badFileNameInDescriptorIsCierr() {
  QVERIFY(sim_->start({"--put", "ZORBELIX=" + program_}));
  TestTerminal& t = *t_;
  QCOMPARE(connectAndLogOn(*sim_, t), 80);
  t.answer("RUN ZORBELIX.PUB.SYS");
  t.takeRaw();
  t.answer("Y");
  t.answer(t.takeRaw());
  t.takeText();
  QCOMPARE(t.answer(block(0, descriptor(66, "9BAD.NAME"))), 80);
  const QByteArray text = t.takeText();
  QVERIFY2(text.contains("CIERR") && text.contains("END OF PROGRAM"), text);
}

void SimTransferTest::runOfMissingProgramIsCierr() {
  QVERIFY(sim_->start({}));
  TestTerminal& t = *t_;
  QCOMPARE(connectAndLogOn(*sim_, t), 80);
  t.takeText();
  QCOMPARE(t.answer("RUN ZORBELIX.PUB.SYS"), 80);
  const QByteArray text = t.takeText();
  QVERIFY2(text.contains("CIERR") && !text.contains("Host Program"), text);
}

QTEST_GUILESS_MAIN(SimTransferTest)
#include "sim_transfer_test.moc"
