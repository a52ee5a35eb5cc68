// The transcript: every message both ways, decoded, plus session events and
// deviations, one line each, for people debugging a dialogue and for tests.
//
// Line forms (S<n> is the session number, then seconds since it opened):
//   S1 +0.004 host> TERM_IO 2.1 len=26 ver=2 echo=0x0104 cw=0x8000 read=0
//       flags=0x8000 cctl=0xd0 text="MPE XL:" hex=4D 50 ...
//   S1 +0.010 term> TERMINAL-INPUT 3.0 len=31 ver=2 echo=0x0105 cw=0x8000
//       n=17 text="HELLO MANAGER.SYS" hex=...
//   S1 +0.010 event logged on as MANAGER.SYS,PUB
//   S1 +0.010 DEVIATION terminal input without a pending read
// (each on one line).
// Text shows printable ASCII as is and other bytes as \xHH.
#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QString>

class Transcript {
public:
  // Opens FILE for writing; an empty name keeps the transcript off.
  bool open(const QString& fileName, QString* error);
  bool enabled() const { return file_.isOpen(); }

  void message(int session, qint64 msecs, bool fromHost, const QByteArray& message);
  void event(int session, qint64 msecs, const QString& text);
  void deviation(int session, qint64 msecs, const QString& text);

  // The decoded form of one message (without the prefix); public for tests.
  static QString decode(const QByteArray& message, bool fromHost);
  static QString printable(const QByteArray& bytes);

private:
  void write(int session, qint64 msecs, const QString& text);
  QFile file_;
};
