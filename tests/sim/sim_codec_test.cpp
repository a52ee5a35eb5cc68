// The host side's message layouts, checked against byte strings written out
// by hand from the layouts, and the checks it applies to the terminal's
// messages.
#include <QTest>

#include "hoststore.h"
#include "transferblock.h"
#include "vtmessage.h"

namespace {
QByteArray hex(const char* text) {
  return QByteArray::fromHex(text);
}
}  // namespace

class SimCodecTest : public QObject {
  Q_OBJECT
private slots:
  void hostMessagesHaveTheirLayouts_data();
  void hostMessagesHaveTheirLayouts();
  void logonNoticeHoldsTextInEightyBytes();
  void negotiationReplyCheck_data();
  void negotiationReplyCheck();
  void openRequestCheck_data();
  void openRequestCheck();
  void terminalInputDecode_data();
  void terminalInputDecode();
  void framerCutsTheStream();
  void transferBlocks_data();
  void transferBlocks();
  void textSplitsIntoBlankFilledRecords_data();
  void textSplitsIntoBlankFilledRecords();
};

void SimCodecTest::hostMessagesHaveTheirLayouts_data() {
  QTest::addColumn<QByteArray>("built");
  QTest::addColumn<QByteArray>("expected");
  QTest::newRow("prompt without line movement")
      << vt::buildWrite(0x1234, ":", vt::kCarriageStay)
      << hex("0014 02 02 00 01 1234 8000 0000 0000 8000 0002 D0 3A");
  QTest::newRow("read request of 1032")
      << vt::buildReadRequest(0x0105, 1032) << hex("000E 02 02 00 00 0105 8000 0408 0000");
  QTest::newRow("termination reason, low byte first")
      << vt::buildTerminateRequest(0x0200, 6) << hex("000C 02 00 00 02 0200 8000 0600");
  QTest::newRow("echo off for a password")
      << vt::buildSettingsRequest(0x0107, false) << hex("000C 02 04 00 01 0107 8000 01 00");
  QTest::newRow("echo on") << vt::buildSettingsRequest(0x0108, true)
                           << hex("000C 02 04 00 01 0108 8000 03 00");
}

void SimCodecTest::hostMessagesHaveTheirLayouts() {
  QFETCH(QByteArray, built);
  QFETCH(QByteArray, expected);
  QCOMPARE(built.toHex(' '), expected.toHex(' '));
}

void SimCodecTest::logonNoticeHoldsTextInEightyBytes() {
  const QByteArray m = vt::buildLogonNotice(0x0109, "MANAGER.SYS,PUB");
  QCOMPARE(m.size(), 96);
  QCOMPARE(m.left(10), hex("0060 02 00 00 03 0109 8000"));
  QCOMPARE(m.mid(14, 2), hex("000F"));
  QCOMPARE(m.mid(16, 15), QByteArray("MANAGER.SYS,PUB"));
  QCOMPARE(m.mid(31), QByteArray(65, '\0'));
}

void SimCodecTest::negotiationReplyCheck_data() {
  const QByteArray good =
      hex("001A 02 01 00 01 0001 8000 8000 8000 002B 2EF4 06 08 0000 0002 0001");
  QTest::addColumn<QByteArray>("reply");
  QTest::addColumn<QString>("problem");
  QTest::newRow("as laid out") << good << QString();
  QByteArray echoed = good;
  echoed[7] = 5;
  QTest::newRow("host's echo word copied") << echoed << "echo word";
  QByteArray b19 = good;
  b19[19] = 9;
  QTest::newRow("byte 19 changed") << b19 << "byte 19";
  QTest::newRow("one byte short") << good.left(25) << "length is 25";
}

void SimCodecTest::negotiationReplyCheck() {
  QFETCH(QByteArray, reply);
  QFETCH(QString, problem);
  const QStringList found = vt::checkNegotiationReply(reply);
  if (problem.isEmpty()) {
    QVERIFY2(found.isEmpty(), qPrintable(found.join("; ")));
  } else {
    QCOMPARE(found.size(), 1);
    QVERIFY2(found.first().startsWith(problem), qPrintable(found.first()));
  }
}

void SimCodecTest::openRequestCheck_data() {
  QByteArray good = hex("0047 02 00 00 00 0001 01 00 0004 202020202020 000C") + "192.168.1.10";
  good.append(QByteArray(39, '\0'));
  QTest::addColumn<QByteArray>("request");
  QTest::addColumn<QString>("problem");
  QTest::newRow("as laid out") << good << QString();
  QByteArray padded = good;
  padded[70] = 'x';
  QTest::newRow("padding not zero") << padded << "address padding";
  QByteArray tooLong = good;
  tooLong[19] = 52;
  QTest::newRow("address longer than 51") << tooLong << "address length 52";
  QByteArray blanks = good;
  blanks[13] = '\0';
  QTest::newRow("blanks missing") << blanks << "bytes 12-17";
}

void SimCodecTest::openRequestCheck() {
  QFETCH(QByteArray, request);
  QFETCH(QString, problem);
  const QStringList found = vt::checkOpenRequest(request, "192.168.1.10");
  if (problem.isEmpty()) {
    QVERIFY2(found.isEmpty(), qPrintable(found.join("; ")));
  } else {
    QVERIFY2(found.size() == 1 && found.first().startsWith(problem), qPrintable(found.join("; ")));
  }
}

void SimCodecTest::terminalInputDecode_data() {
  QTest::addColumn<QByteArray>("message");
  QTest::addColumn<bool>("decoded");
  QTest::addColumn<QByteArray>("data");
  QTest::addColumn<bool>("problem");
  QTest::newRow("BYE") << hex("0011 02 03 00 00 0105 8000 8000 0003") + "BYE" << true
                       << QByteArray("BYE") << false;
  QTest::newRow("empty line") << hex("000E 02 03 00 00 0105 8000 8000 0000") << true
                              << QByteArray("") << false;
  QTest::newRow("count disagrees with length")
      << hex("0011 02 03 00 00 0105 8000 8000 0004") + "BYE" << false << QByteArray() << true;
  QTest::newRow("word 10 not 0x8000")
      << hex("0011 02 03 00 00 0105 8000 0000 0003") + "BYE" << true << QByteArray("BYE") << true;
}

void SimCodecTest::terminalInputDecode() {
  QFETCH(QByteArray, message);
  QFETCH(bool, decoded);
  QFETCH(QByteArray, data);
  QFETCH(bool, problem);
  QString why;
  const std::optional<QByteArray> got = vt::decodeTerminalInput(message, &why);
  QCOMPARE(got.has_value(), decoded);
  if (decoded)
    QCOMPARE(*got, data);
  QCOMPARE(!why.isEmpty(), problem);
}

void SimCodecTest::framerCutsTheStream() {
  const QByteArray a = hex("000A 02 05 00 00 0101 8000");
  const QByteArray b = hex("000C 02 05 00 01 0102 8000 8000");
  vt::Framer f;
  // Split inside the length field, then two messages in one piece.
  f.feed(a.left(1));
  QVERIFY(!f.next());
  f.feed(a.mid(1) + b.left(5));
  QCOMPARE(f.next().value_or(QByteArray()), a);
  QVERIFY(!f.next());
  f.feed(b.mid(5) + a);
  QCOMPARE(f.next().value_or(QByteArray()), b);
  QCOMPARE(f.next().value_or(QByteArray()), a);
  // A length below the header cannot be framed.
  f.feed(hex("0006 02 02 00 01 0101 8000") + a);
  QVERIFY(!f.next());
  QVERIFY(f.broken());
  QCOMPARE(f.brokenLength(), 6);
}

void SimCodecTest::transferBlocks_data() {
  QTest::addColumn<int>("spoil");  // byte to change; -1 none
  QTest::addColumn<bool>("good");
  QTest::newRow("intact") << -1 << true;
  QTest::newRow("STX") << 0 << false;
  QTest::newRow("data byte, checksum stale") << 700 << false;
  QTest::newRow("ETX") << 1031 << false;
}

void SimCodecTest::transferBlocks() {
  QFETCH(int, spoil);
  QFETCH(bool, good);
  // Sequence 5, no data: the checksum is the sequence number's low byte.
  QByteArray b(1032, '\0');
  b[0] = 0x02;
  b[2] = 5;
  b[1030] = 5;
  b[1031] = 0x03;
  QCOMPARE(xfer::buildBlock(5, {}), b);
  if (spoil >= 0)
    b[spoil] = 0x7f;
  QString problem;
  const std::optional<xfer::Block> block = xfer::decodeBlock(b, &problem);
  QCOMPARE(block.has_value(), good);
  if (good)
    QCOMPARE(block->sequence, 5);
}

void SimCodecTest::textSplitsIntoBlankFilledRecords_data() {
  QTest::addColumn<QByteArray>("text");
  QTest::addColumn<QByteArray>("records");
  QTest::addColumn<int>("count");
  QTest::newRow("two lines") << QByteArray("AB\nC\n") << QByteArray("AB  C   ") << 2;
  QTest::newRow("last line without LF") << QByteArray("AB\nC") << QByteArray("AB  C   ") << 2;
  QTest::newRow("empty line kept") << QByteArray("\nA\n") << QByteArray("    A   ") << 2;
  QTest::newRow("long line continues") << QByteArray("ABCDEF\n") << QByteArray("ABCDEF  ") << 2;
}

void SimCodecTest::textSplitsIntoBlankFilledRecords() {
  QFETCH(QByteArray, text);
  QFETCH(QByteArray, records);
  QFETCH(int, count);
  qint64 n = 0;
  QCOMPARE(mpe::textToRecords(text, 4, &n), records);
  QCOMPARE(n, count);
}

QTEST_GUILESS_MAIN(SimCodecTest)
#include "sim_codec_test.moc"
