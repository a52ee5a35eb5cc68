// Payloads compiled into the program as Qt resources under ":/payloads/",
// and the unpacking of packed payloads with zlib.
#include "install/payloadstore.h"

#include "install/asciitext.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <zlib.h>

#include <algorithm>
#include <map>
#include <string>

namespace install {

namespace {

const char kPayloadDir[] = ":/payloads";

// Resource names compare without regard to case, in ASCII only, like the
// names of host files.
bool SameName(const QByteArray& entry, std::string_view name) {
  if (static_cast<std::size_t>(entry.size()) != name.size()) {
    return false;
  }
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (UpperAscii(entry[static_cast<qsizetype>(i)]) != UpperAscii(name[i])) {
      return false;
    }
  }
  return true;
}

// Reads a payload from the resources; nothing when there is none by that name.
std::optional<QByteArray> ReadPayload(std::string_view name) {
  const QDir dir(QString::fromLatin1(kPayloadDir));
  const QStringList entries = dir.entryList(QDir::Files, QDir::Name);
  for (const QString& entry : entries) {
    if (!SameName(entry.toLatin1(), name)) {
      continue;
    }
    QFile file(dir.filePath(entry));
    if (!file.open(QIODevice::ReadOnly)) {
      return std::nullopt;
    }
    return file.readAll();
  }
  return std::nullopt;
}

}  // namespace

// The compiled-in payloads never change, so each is read (and decompressed)
// once; later loads share its bytes (QByteArray is implicitly shared) instead
// of copying them again.
std::optional<QByteArray> FindPayload(std::string_view name) {
  if (name.empty()) {
    return std::nullopt;
  }
  static std::map<std::string, QByteArray> loaded;
  std::string key = UpperAscii(std::string(name));
  if (const auto it = loaded.find(key); it != loaded.end()) {
    return it->second;
  }
  std::optional<QByteArray> payload = ReadPayload(name);
  if (payload) {
    loaded.emplace(std::move(key), *payload);
  }
  return payload;
}

UnpackResult UnpackPayload(std::span<const std::uint8_t> packed, std::vector<std::uint8_t>& out,
                           std::size_t& size) {
  out.assign(kUnpackCapacity, 0);
  size = 0;
  // zlib reads sourceLen bytes and no more; an empty source still needs a
  // valid pointer.
  static const Bytef kEmpty = 0;
  const Bytef* source = packed.empty() ? &kEmpty : packed.data();
  uLongf length = static_cast<uLongf>(out.size());
  const int rc = uncompress(out.data(), &length, source, static_cast<uLong>(packed.size()));
  switch (rc) {
    case Z_OK:
      size = static_cast<std::size_t>(length);
      return UnpackResult::Ok;
    case Z_BUF_ERROR:
      // uncompress reports a truncated stream as Z_DATA_ERROR when room was
      // left, so Z_BUF_ERROR here means the output did not fit.
      return UnpackResult::TooLarge;
    default:
      return UnpackResult::Damaged;
  }
}

}  // namespace install
