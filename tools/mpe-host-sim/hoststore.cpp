// The folder-backed file system of the simulated host.
#include "hoststore.h"

#include <zlib.h>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>

namespace mpe {

namespace {

constexpr int kMaxNamePart = 8;

struct CodeName {
  const char* mnemonic;
  int code;
};
// The mnemonics a BUILD is likely to name; others are given as numbers.
constexpr CodeName kFileCodes[] = {
    {"USL", 1024}, {"RL", 1028},   {"PROG", 1029}, {"NMPRG", 1030},
    {"SL", 1031},  {"NMRL", 1070}, {"NMXL", 1071}, {"NMOBJ", 1461},
};

constexpr const char* kAttrSuffix = ".attr";

}  // namespace

bool isMpeName(const QString& name) {
  static const QRegularExpression re(QString("^[A-Z][A-Z0-9]{0,%1}$").arg(kMaxNamePart - 1));
  return re.match(name).hasMatch();
}

std::optional<FileRef> parseFileName(const QString& text, const QString& defaultGroup,
                                     const QString& defaultAccount) {
  const QStringList parts = text.trimmed().toUpper().split('.');
  if (parts.size() > 3)
    return std::nullopt;
  FileRef ref{parts[0], parts.size() > 1 ? parts[1] : defaultGroup,
              parts.size() > 2 ? parts[2] : defaultAccount};
  if (!isMpeName(ref.file) || !isMpeName(ref.group) || !isMpeName(ref.account)) {
    return std::nullopt;
  }
  return ref;
}

std::optional<int> fileCodeForMnemonic(const QString& mnemonic) {
  for (const CodeName& c : kFileCodes) {
    if (mnemonic.compare(c.mnemonic, Qt::CaseInsensitive) == 0)
      return c.code;
  }
  return std::nullopt;
}

QString mnemonicForFileCode(int code) {
  for (const CodeName& c : kFileCodes) {
    if (c.code == code)
      return c.mnemonic;
  }
  return QString::number(code);
}

QByteArray textToRecords(const QByteArray& text, int recordSize, qint64* recordCount) {
  QByteArray out;
  qint64 count = 0;
  QList<QByteArray> lines = text.split('\n');
  // Text that ends with LF has no line after it.
  if (!lines.isEmpty() && lines.last().isEmpty())
    lines.removeLast();
  for (const QByteArray& line : lines) {
    int pos = 0;
    do {
      QByteArray record = line.mid(pos, recordSize);
      record.append(QByteArray(recordSize - record.size(), ' '));
      out.append(record);
      ++count;
      pos += recordSize;
    } while (pos < line.size());
  }
  *recordCount = count;
  return out;
}

QString crc32Hex(const QByteArray& bytes) {
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.constData()),
              static_cast<uInt>(bytes.size()));
  return QString::asprintf("%08lx", crc);
}

HostStore::HostStore(const QString& root) : root_(QDir(root).absolutePath()) {}

QString HostStore::dataPath(const FileRef& ref) const {
  return root_ + "/" + ref.account + "/" + ref.group + "/" + ref.file;
}

QString HostStore::attributePath(const FileRef& ref) const {
  return dataPath(ref) + kAttrSuffix;
}

bool HostStore::exists(const FileRef& ref) const {
  return QFile::exists(dataPath(ref));
}

std::optional<MpeFile> HostStore::load(const FileRef& ref) const {
  QFile data(dataPath(ref));
  if (!data.open(QIODevice::ReadOnly))
    return std::nullopt;
  MpeFile f;
  f.data = data.readAll();
  f.attr.recordCount = f.data.size() / f.attr.recordSize;
  QFile attr(attributePath(ref));
  if (attr.open(QIODevice::ReadOnly | QIODevice::Text)) {
    for (const QByteArray& line : attr.readAll().split('\n')) {
      const int eq = line.indexOf('=');
      if (eq < 0)
        continue;
      const QByteArray key = line.left(eq);
      const QByteArray value = line.mid(eq + 1).trimmed();
      if (key == "code")
        f.attr.code = value.toInt();
      if (key == "recsize")
        f.attr.recordSize = qMax(1, value.toInt());
      if (key == "records")
        f.attr.recordCount = value.toLongLong();
      if (key == "limit")
        f.attr.limit = value.toLongLong();
      if (key == "type")
        f.attr.ascii = value == "ascii";
    }
  }
  return f;
}

bool HostStore::save(const FileRef& ref, const MpeFile& file, QString* error) {
  if (!QDir().mkpath(QFileInfo(dataPath(ref)).path())) {
    *error = "cannot create folder for " + ref.qualified();
    return false;
  }
  QSaveFile data(dataPath(ref));
  QSaveFile attr(attributePath(ref));
  const FileAttributes& a = file.attr;
  const QString text = QString(
                           "name=%1\ncode=%2\ncodename=%3\ntype=%4\nrecsize=%5\nrecords=%6\n"
                           "limit=%7\nsize=%8\ncrc32=%9\n")
                           .arg(ref.qualified())
                           .arg(a.code)
                           .arg(mnemonicForFileCode(a.code), a.ascii ? "ascii" : "binary")
                           .arg(a.recordSize)
                           .arg(a.recordCount)
                           .arg(a.limit)
                           .arg(file.data.size())
                           .arg(crc32Hex(file.data));
  const bool ok = data.open(QIODevice::WriteOnly) && data.write(file.data) == file.data.size() &&
                  attr.open(QIODevice::WriteOnly) && attr.write(text.toLatin1()) >= 0 &&
                  data.commit() && attr.commit();
  if (!ok)
    *error = "cannot write " + dataPath(ref);
  return ok;
}

bool HostStore::purge(const FileRef& ref) {
  QFile::remove(attributePath(ref));
  return QFile::remove(dataPath(ref));
}

QStringList HostStore::files(const QString& group, const QString& account) const {
  QStringList names = QDir(root_ + "/" + account + "/" + group).entryList(QDir::Files, QDir::Name);
  // The attribute side files are no MPE files.
  names.removeIf([](const QString& name) { return !isMpeName(name); });
  return names;
}

void HostStore::acquire(const FileRef& ref) {
  ++uses_[ref.qualified()];
}

void HostStore::release(const FileRef& ref) {
  auto it = uses_.find(ref.qualified());
  if (it != uses_.end() && --it.value() <= 0)
    uses_.erase(it);
}

void HostStore::pinInUse(const FileRef& ref) {
  pinned_.insert(ref.qualified());
}

bool HostStore::inUse(const FileRef& ref) const {
  return pinned_.contains(ref.qualified()) || uses_.value(ref.qualified()) > 0;
}

}  // namespace mpe
