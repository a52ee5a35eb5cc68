#include "e2eharness.h"

#include "install/stringtable.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <optional>

#include <zlib.h>

using shell::TNSVT;

namespace e2e {

namespace {

constexpr std::size_t kUnpackLimit = 1000000;

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The data of a terminal input line of the transcript, taken from its hex
// column: the n bytes the header announces, as n two-digit groups. The last
// run of exactly n groups is taken, so a text column that holds such a run
// cannot be mistaken for it.
std::optional<QByteArray> InputData(const QString& line) {
  static const QRegularExpression count(R"( n=(\d+) )");
  static const QRegularExpression hexRun(R"([0-9A-F]{2}(?: [0-9A-F]{2})*)");
  const QRegularExpressionMatch counted = count.match(line);
  if (!counted.hasMatch()) {
    return std::nullopt;
  }
  const qsizetype n = counted.captured(1).toLongLong();
  if (n == 0) {
    return QByteArray();
  }
  QString found;
  for (auto it = hexRun.globalMatch(line, counted.capturedEnd()); it.hasNext();) {
    const QString run = it.next().captured(0);
    if (run.size() == n * 3 - 1) {
      found = run;
    }
  }
  if (found.isEmpty()) {
    return std::nullopt;
  }
  return QByteArray::fromHex(found.toLatin1());
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  // Not QTest::qWait: it sleeps between rounds, which would add its sleep
  // to every exchange with the host.
  QDeadlineTimer deadline(timeoutMs);
  QTimer wake;
  wake.start(20);
  while (!condition()) {
    if (deadline.hasExpired()) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// ---- SimHost ----

SimHost::SimHost(const QStringList& args) : args_(args) {
  if (!dir_.isValid()) {
    return;
  }
  // E2E_KEEP=1 keeps the store and transcript for a look after the run.
  dir_.setAutoRemove(qEnvironmentVariableIntValue("E2E_KEEP") == 0);
  child_.start(
      QStringLiteral(MPE_HOST_SIM_PATH),
      support::SimChild::freePort() +
          QStringList{"--store", storeDir(), "--transcript", dir_.path() + "/transcript.txt"} +
          args);
}

bool SimHost::ok() {
  if (!waited_) {
    waited_ = true;
    listening_ = child_.waitListening(kStartWaitMs);
  }
  return listening_;
}

quint16 SimHost::port() {
  return ok() ? child_.port() : 0;
}

QString SimHost::log() {
  return child_.log();
}

QString SimHost::transcript() const {
  return QString::fromLatin1(ReadAll(dir_.path() + "/transcript.txt"));
}

std::vector<QByteArray> SimHost::Received() const {
  std::vector<QByteArray> messages;
  for (const QString& line : transcript().split('\n')) {
    if (line.contains(" term> TERMINAL-INPUT ")) {
      // A line whose bytes cannot be read back stays in the list, marked by
      // a size no message can have, so the order is kept and a test fails.
      messages.push_back(InputData(line).value_or(QByteArray(70000, '?')));
    }
  }
  return messages;
}

QStringList SimHost::ReceivedLines(int maxLine) const {
  QStringList lines;
  for (const QByteArray& data : Received()) {
    lines << (data.size() <= maxLine ? QString::fromLatin1(data)
                                     : QString("<%1 bytes>").arg(data.size()));
  }
  return lines;
}

bool SimHost::SawEvent(const QString& text) const {
  QFile file(dir_.path() + "/transcript.txt");
  if (file.open(QIODevice::ReadOnly) && file.seek(eventScanEnd_)) {
    const QByteArray added = file.readAll();
    // A line still being written is read again whole next time.
    const qsizetype complete = added.lastIndexOf('\n') + 1;
    eventScanEnd_ += complete;
    for (const QByteArray& line : added.left(complete).split('\n')) {
      if (line.contains(" event ")) {
        events_ << QString::fromLatin1(line);
      }
    }
  }
  return std::any_of(events_.begin(), events_.end(),
                     [&](const QString& line) { return line.contains(text); });
}

QStringList SimHost::Deviations() const {
  QStringList found;
  for (const QString& line : transcript().split('\n')) {
    if (line.contains(" DEVIATION ")) {
      found << line;
    }
  }
  return found;
}

bool SimHost::HasFile(const QString& account, const QString& group, const QString& file) const {
  return QFile::exists(storeDir() + "/" + account + "/" + group + "/" + file);
}

QByteArray SimHost::Stored(const QString& account, const QString& group,
                           const QString& file) const {
  return ReadAll(storeDir() + "/" + account + "/" + group + "/" + file);
}

QMap<QString, QString> SimHost::Attributes(const QString& account, const QString& group,
                                           const QString& file) const {
  QMap<QString, QString> attributes;
  const QByteArray text = ReadAll(storeDir() + "/" + account + "/" + group + "/" + file + ".attr");
  for (const QByteArray& line : text.split('\n')) {
    const qsizetype eq = line.indexOf('=');
    if (eq > 0) {
      attributes.insert(QString::fromLatin1(line.left(eq)).trimmed(),
                        QString::fromLatin1(line.mid(eq + 1)).trimmed());
    }
  }
  return attributes;
}

// ---- Installer ----

Installer::Installer(std::map<int, std::string> table, QStringList arguments, bool shown)
    : table_(std::move(table)) {
  TNSVT::Platform platform;
  platform.dialogs = &dialogs;
  platform.arguments = std::move(arguments);
  platform.keyboardModifiers = [this] { return modifiers; };
  platform.tableString = support::TableWithOverrides(table_);
  window = std::make_unique<TNSVT>(std::move(platform));
  QObject::connect(window.get(), &TNSVT::ApplicationEnd, [this](int status) {
    ended = true;
    exitStatus = status;
  });
  if (shown) {
    window->show();
  }
}

Installer::~Installer() {
  dialogs.onBox = nullptr;
  if (!ended) {
    window->close();  // ends the session with the host, as closing the window does
  }
}

void Installer::Connect(quint16 port) {
  window->ui().Host3->clear();
  QTest::keyClicks(window->ui().Host3, "127.0.0.1");
  window->ui().Port3->setText(QString::number(port));
  QTest::mouseClick(window->ui().btnConnect, Qt::LeftButton);
}

bool Installer::LogOn(const QString& hello) {
  if (!WaitUntil([this] { return window->uiPhase() == 1 && window->ui().Memo1->isEnabled(); },
                 kStartWaitMs)) {
    return false;
  }
  Type(hello);
  return WaitUntil(
      [this] {
        return window->uiPhase() == 2 && window->ui().btnProcess->isEnabled() &&
               window->ui().Memo1->isEnabled();
      },
      kStartWaitMs);
}

void Installer::Type(const QString& line) {
  QTest::keyClicks(window->ui().Memo1, line);
  QTest::keyClick(window->ui().Memo1, Qt::Key_Return);
}

void Installer::Begin() {
  QTest::mouseClick(window->ui().btnProcess, Qt::LeftButton);
}

bool Installer::LogOff() {
  // A host program or FCOPY may still hold the terminal: each BYE that does
  // not end the session ends the program, and the next one logs off.
  for (int attempt = 0; attempt < 3 && !ended; ++attempt) {
    if (!window->ui().Memo1->isEnabled()) {
      return false;
    }
    Type("BYE");
    WaitUntil(
        [this] {
          return ended || (window->ui().Memo1->isEnabled() && window->run().actionCode() == 0);
        },
        kStartWaitMs);
  }
  return ended;
}

bool Installer::StartInstallation(quint16 port) {
  Connect(port);
  if (!LogOn()) {
    return false;
  }
  Begin();
  return true;
}

std::string Installer::Status() const {
  return window->ui().lblStatus->text().toLatin1().toStdString();
}

bool Installer::SuccessShown() const {
  return dialogs.Saw(support::RecordingDialogs::Kind::Message, "Successful installation.");
}

std::string Installer::BoxSummary() const {
  using Kind = support::RecordingDialogs::Kind;
  std::string summary;
  for (const auto& box : dialogs.boxes) {
    summary += box.kind == Kind::Error     ? "[Error] "
               : box.kind == Kind::Message ? "[Message] "
                                           : "[Other] ";
    summary += box.text + "\n";
  }
  return summary;
}

// ---- Payloads ----

QByteArray ShippedPayload() {
  return ReadAll(QStringLiteral(ZORBELIX_PAYLOAD_DIR "/ZORBELIX"));
}

QByteArray Resource(const QString& name) {
  return ReadAll(":/payloads/" + name);
}

QByteArray Unpacked(const QByteArray& packed) {
  QByteArray out(kUnpackLimit, '\0');
  uLongf size = kUnpackLimit;
  if (uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                 reinterpret_cast<const Bytef*>(packed.constData()),
                 static_cast<uLong>(packed.size())) != Z_OK) {
    return {};
  }
  out.resize(static_cast<qsizetype>(size));
  return out;
}

QByteArray TextRecords(const QByteArray& text, int recordSize) {
  QByteArray lf = text;
  lf.replace("\r\n", "\n");
  lf.replace('\r', '\n');
  QList<QByteArray> lines = lf.split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) {
    lines.removeLast();
  }
  QByteArray records;
  for (const QByteArray& line : lines) {
    qsizetype at = 0;
    do {
      QByteArray record = line.mid(at, recordSize);
      records += record + QByteArray(recordSize - record.size(), ' ');
      at += recordSize;
    } while (at < line.size());
  }
  return records;
}

QString WriteScript(const QString& dir, const QString& name, const QStringList& lines) {
  const QString path = QDir(dir).filePath(name);
  QFile file(path);
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    file.write(lines.join('\n').toLatin1() + '\n');
  }
  return path;
}

}  // namespace e2e
