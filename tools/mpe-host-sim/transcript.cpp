// Decoding of messages for the transcript.
#include "transcript.h"

#include "vtmessage.h"

bool Transcript::open(const QString& fileName, QString* error) {
  if (fileName.isEmpty())
    return true;
  file_.setFileName(fileName);
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
    *error = QString("cannot write transcript %1: %2").arg(fileName, file_.errorString());
    return false;
  }
  return true;
}

QString Transcript::printable(const QByteArray& bytes) {
  QString out;
  for (char c : bytes) {
    const auto u = static_cast<uint8_t>(c);
    if (u >= 0x20 && u < 0x7F && c != '\\' && c != '"') {
      out += QChar(c);
    } else {
      out += QString::asprintf("\\x%02X", u);
    }
  }
  return out;
}

QString Transcript::decode(const QByteArray& m, bool fromHost) {
  using namespace vt;
  if (m.size() < kHeaderSize) {
    return QString("SHORT len=%1 hex=%2").arg(m.size()).arg(QString(m.toHex(' ').toUpper()));
  }
  const Header h = readHeader(m);
  QString out = QString("%1 %2.%3 len=%4 ver=%5 echo=0x%6 cw=0x%7")
                    .arg(messageName(h.msgClass, h.type, fromHost))
                    .arg(h.msgClass)
                    .arg(h.type)
                    .arg(h.length)
                    .arg(h.version)
                    .arg(h.echo, 4, 16, QChar('0'))
                    .arg(h.classWord, 4, 16, QChar('0'));
  QByteArray data;
  if (h.msgClass == kTermRequest) {
    out += QString(" read=%1").arg(getBE16(m, kOffReadLength));
    if (h.type == kTypeWrite && m.size() >= kOffWriteData) {
      out += QString(" flags=0x%1 cctl=0x%2")
                 .arg(getBE16(m, kOffWriteWord), 4, 16, QChar('0'))
                 .arg(static_cast<uint8_t>(m[kOffCarriage]), 2, 16, QChar('0'));
      data = m.mid(kOffWriteData);
    }
  } else if (h.msgClass == kTermReply && !fromHost) {
    out += QString(" n=%1").arg(getBE16(m, kOffInputCount));
    data = m.mid(kOffInputData);
  } else if (h.msgClass == kEnvRequest && h.type == kTypeLogonNotice) {
    const int t = getBE16(m, kOffLogonLength);
    data = m.mid(kOffLogonText, qMin(t, kLogonTextArea));
  } else if (h.msgClass == kEnvRequest && h.type == kTypeTerminate && m.size() >= 12) {
    out +=
        QString(" reason=%1").arg(static_cast<uint8_t>(m[10]) + 256 * static_cast<uint8_t>(m[11]));
  } else if (h.msgClass == kControlRequest && h.type == kTypeSetDriver && m.size() >= 12) {
    out += QString(" echo-setting=%1").arg(static_cast<uint8_t>(m[kOffSettingsEcho]));
  } else if (h.msgClass == kEnvRequest && h.type == kTypeOpen && m.size() >= kOffOpenAddress) {
    data = m.mid(kOffOpenAddress, qMin<int>(getBE16(m, kOffOpenAddressLength), kOpenAddressArea));
  } else if (m.size() > kHeaderSize) {
    out += " body=" + QString(m.mid(kHeaderSize).toHex(' ').toUpper());
  }
  if (!data.isNull()) {
    out += QString(" text=\"%1\" hex=%2")
               .arg(printable(data),
                    QString(data.toHex(' ').toUpper()));  // one call: data may hold "%1"
  }
  return out;
}

void Transcript::message(int session, qint64 msecs, bool fromHost, const QByteArray& m) {
  if (!enabled())
    return;
  write(session, msecs, QString(fromHost ? "host> " : "term> ") + decode(m, fromHost));
}

void Transcript::event(int session, qint64 msecs, const QString& text) {
  write(session, msecs, "event " + text);
}

void Transcript::deviation(int session, qint64 msecs, const QString& text) {
  write(session, msecs, "DEVIATION " + text);
}

void Transcript::write(int session, qint64 msecs, const QString& text) {
  if (!enabled())
    return;
  file_.write(QString("S%1 +%2.%3 %4\n")
                  .arg(session)
                  .arg(msecs / 1000)
                  .arg(msecs % 1000, 3, 10, QChar('0'))
                  .arg(text)
                  .toLatin1());
  file_.flush();
}
