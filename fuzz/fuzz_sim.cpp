// Fuzz target: the simulator's input side, what a client on the network
// controls. The terminal's byte stream is cut into messages by the framer;
// every message goes through the layout checks and the transcript's
// decoder, and terminal input goes, cut to the pending read as the session
// cuts it, to the command interpreter: logon, the commands (BUILD's record
// sizes and limits among them), FCOPY's record copy and the receiving host
// program's block transfer. The block decoders also see the raw bytes.
//
// Input: byte 0 flags, then the terminal's byte stream.
//   flag 0x01  the stream is lines (split at LF), each the answer to the
//              pending read, instead of NS/VT messages: reaches the
//              commands without the framing
//   flag 0x02  passwords are set (user, account and group: PW)
//   flag 0x04  FCOPY asks "Y OR N" at its first exit
//   flag 0x08  the host program's challenge is 4 bytes, else none
//   flag 0x10  the checksum of every answer of a block's size is set right,
//              so that the transfer's later steps are reached
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "commandinterpreter.h"
#include "transcript.h"
#include "transferblock.h"
#include "vtmessage.h"

namespace {

constexpr std::uint8_t kLines = 0x01;
constexpr std::uint8_t kPasswords = 0x02;
constexpr std::uint8_t kFcopyQuestion = 0x04;
constexpr std::uint8_t kChallenge = 0x08;
constexpr std::uint8_t kFixChecksums = 0x10;
constexpr int kShortChallenge = 4;
// The stored host program that RUN ZORBELIX.PUB.SYS starts (its bytes do not matter).
constexpr int kProgramBytes = 512;
// Inputs an input may answer: bounds a stream of empty lines.
constexpr int kMaxAnswers = 4096;

void DropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

// The terminal the interpreter talks through: it keeps the pending read
// and whether the session has ended; output is dropped.
class FuzzTerminal final : public mpe::HostTerminal {
public:
  void writeLine(const QByteArray&) override {}
  void writeInPlace(const QByteArray&) override {}
  void postRead(int length) override { pendingRead = length; }
  void setEcho(bool) override {}
  void sendLogonNotice(const QByteArray&) override {}
  void markPoint(const faults::PointName&) override {}
  void logEvent(const QString&) override {}
  void logOff() override { over = true; }
  void terminate(int) override { over = true; }

  int pendingRead = -1;
  bool over = false;
};

// A store folder in memory when the system has one, emptied per input.
QString StoreRoot() {
  static QTemporaryDir dir(QDir("/dev/shm").exists() ? "/dev/shm/fuzz-sim-XXXXXX"
                                                     : QDir::tempPath() + "/fuzz-sim-XXXXXX");
  return dir.path();
}

void SeedStore(mpe::HostStore& store) {
  mpe::MpeFile program;
  program.attr.code = 1029;  // NMPRG
  program.data = QByteArray(kProgramBytes, '\0');
  program.attr.recordCount = kProgramBytes / program.attr.recordSize;
  program.attr.limit = program.attr.recordCount;
  QString error;
  store.save({"ZORBELIX", "PUB", "SYS"}, program, &error);
}

mpe::HostConfig ConfigFor(std::uint8_t flags) {
  mpe::HostConfig c;
  if (flags & kPasswords) {
    c.userPassword = c.accountPassword = c.groupPassword = "PW";
  }
  c.fcopyQuestions = (flags & kFcopyQuestion) ? 1 : 0;
  c.challengeLength = (flags & kChallenge) ? kShortChallenge : 0;
  c.failCommands << "SHOWJOB";
  return c;
}

// What the session does with an answer: one without a pending read is
// dropped, a longer one is cut to the read.
void Answer(mpe::CommandInterpreter& ci, FuzzTerminal& t, QByteArray answer, bool fixChecksum) {
  if (t.over || t.pendingRead < 0) {
    return;
  }
  if (fixChecksum && answer.size() == xfer::kBlockSize) {
    vt::putBE16(answer, xfer::kOffChecksum, xfer::checksum(answer));
  }
  if (t.pendingRead > 0 && answer.size() > t.pendingRead) {
    answer.truncate(t.pendingRead);
  }
  t.pendingRead = -1;
  ci.input(answer);
}

void CheckMessage(const QByteArray& m) {
  const vt::Header h = vt::readHeader(m);
  if (h.length != m.size()) {
    std::fprintf(stderr, "fuzz_sim: framed %lld bytes for a length field of %u\n",
                 static_cast<long long>(m.size()), h.length);
    std::abort();
  }
  vt::checkNegotiationReply(m);
  vt::checkOpenRequest(m, "127.0.0.1");
  vt::checkShortReply(m, vt::kMpeReplyWord);
  vt::checkSettingsReply(m);
  Transcript::decode(m, false);
}

void DecodeBlocks(const QByteArray& bytes) {
  QString problem;
  if (const std::optional<xfer::Block> block = xfer::decodeBlock(bytes, &problem)) {
    xfer::decodeDescriptor(block->data, &problem);
    xfer::decodeHeader(block->data, &problem);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qInstallMessageHandler(DropMessage);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  const std::uint8_t flags = data[0];
  const QByteArray stream(reinterpret_cast<const char*>(data) + 1,
                          static_cast<qsizetype>(size - 1));
  DecodeBlocks(stream);

  QDir(StoreRoot()).removeRecursively();
  QDir().mkpath(StoreRoot());
  mpe::HostStore store(StoreRoot());
  SeedStore(store);
  const mpe::HostConfig config = ConfigFor(flags);
  FuzzTerminal terminal;
  mpe::CommandInterpreter ci(terminal, store, config, 1);
  ci.start();

  int answers = 0;
  const bool fix = (flags & kFixChecksums) != 0;
  if (flags & kLines) {
    for (const QByteArray& line : stream.split('\n')) {
      if (terminal.over || ++answers > kMaxAnswers) {
        break;
      }
      Answer(ci, terminal, line, fix);
    }
    return 0;
  }
  vt::Framer framer;
  framer.feed(stream);
  while (std::optional<QByteArray> m = framer.next()) {
    CheckMessage(*m);
    QString problem;
    const vt::Header h = vt::readHeader(*m);
    if (h.msgClass != vt::kTermReply || h.type != vt::kTypeRead) {
      continue;
    }
    if (const std::optional<QByteArray> input = vt::decodeTerminalInput(*m, &problem)) {
      Answer(ci, terminal, *input, fix);
    }
    if (terminal.over || ++answers > kMaxAnswers) {
      break;
    }
  }
  return 0;
}
