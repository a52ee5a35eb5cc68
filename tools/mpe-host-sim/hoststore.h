// The host's file system, kept as a folder on the local disk.
//
// Layout: ROOT/ACCOUNT/GROUP/FILE holds the file's bytes and
// ROOT/ACCOUNT/GROUP/FILE.attr its attributes as "key=value" lines (name,
// code, codename, type, recsize, records, limit, size, crc32). MPE names are
// upper case, at most 8 letters and digits, so the ".attr" name can never
// clash with a file. The store is used from one thread only.
#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

namespace mpe {

// A fully qualified MPE file name.
struct FileRef {
  QString file;
  QString group;
  QString account;
  QString qualified() const { return file + "." + group + "." + account; }
  bool operator==(const FileRef&) const = default;
};

// True for a valid MPE name part: a letter, then up to 7 letters or digits.
bool isMpeName(const QString& name);

// Parses "FILE", "FILE.GROUP" or "FILE.GROUP.ACCOUNT" (any case), filling the
// missing parts from the defaults. Empty when a part is not a valid name.
std::optional<FileRef> parseFileName(const QString& text, const QString& defaultGroup,
                                     const QString& defaultAccount);

// File codes known by mnemonic (BUILD ;CODE=, LISTFILE).
std::optional<int> fileCodeForMnemonic(const QString& mnemonic);
QString mnemonicForFileCode(int code);

struct FileAttributes {
  int code = 0;
  int recordSize = 256;  // bytes
  qint64 recordCount = 0;
  qint64 limit = 0;
  bool ascii = false;
};

// The largest file the simulated host keeps. Files live in memory while they
// are copied or received, so a client on the network must not be able to
// make the simulator hold more; a larger file is refused as a full disc.
constexpr qint64 kMaxFileBytes = qint64{32} * 1024 * 1024;

struct MpeFile {
  FileAttributes attr;
  QByteArray data;
};

// Splits text at LF into fixed records of `recordSize` bytes, blank-filled
// as MPE keeps ASCII files; a line longer than a record continues in the next.
QByteArray textToRecords(const QByteArray& text, int recordSize, qint64* recordCount);

// zlib's CRC-32 of the bytes, as eight lower-case hex digits.
QString crc32Hex(const QByteArray& bytes);

class HostStore {
public:
  explicit HostStore(const QString& root);

  QString root() const { return root_; }
  QString dataPath(const FileRef& ref) const;
  QString attributePath(const FileRef& ref) const;

  bool exists(const FileRef& ref) const;
  std::optional<MpeFile> load(const FileRef& ref) const;
  // Writes the bytes and the attributes (replacing any old file).
  bool save(const FileRef& ref, const MpeFile& file, QString* error);
  // Removes a file; false when it was not there.
  bool purge(const FileRef& ref);
  // The names of the files in a group, in alphabetical order.
  QStringList files(const QString& group, const QString& account) const;

  // A file in use cannot be purged or replaced. Uses are counted, so several
  // sessions may hold one file; `pinInUse` marks a file busy for the whole run.
  void acquire(const FileRef& ref);
  void release(const FileRef& ref);
  void pinInUse(const FileRef& ref);
  bool inUse(const FileRef& ref) const;

private:
  QString root_;
  QHash<QString, int> uses_;
  QSet<QString> pinned_;
};

}  // namespace mpe
