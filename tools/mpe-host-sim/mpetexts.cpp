// The host's formatted texts.
#include "mpetexts.h"

namespace mpe::text {

namespace {

QByteArray latin(const QString& s) {
  return s.toLatin1();
}

// MPE counts every begun minute of a session, and at least one.
qint64 connectMinutes(const QDateTime& connectedAt, const QDateTime& now) {
  return qMax<qint64>(1, (connectedAt.secsTo(now) + 59) / 60);
}

}  // namespace

QByteArray passwordPrompt(const QString& kind, const QString& name) {
  return latin(QString("ENTER %1 (%2) PASSWORD:").arg(kind, name));
}

QByteArray nonexistentFileWarning(const QString& qualified) {
  return latin(
      QString("NONEXISTENT PERMANENT FILE  (FILE NAME IS %1) (CIWARN 383)").arg(qualified));
}

QByteArray nonexistentFileError(const QString& qualified) {
  return latin(QString("NONEXISTENT PERMANENT FILE  (FILE NAME IS %1) (CIERR 383)").arg(qualified));
}

QByteArray fileInUseError(const QString& qualified) {
  return latin(QString("FILE %1 IS IN USE. (CIERR 384)").arg(qualified));
}

QByteArray duplicateFileError(const QString& qualified) {
  return latin(QString("DUPLICATE PERMANENT FILE NAME %1. (CIERR 100)").arg(qualified));
}

QByteArray invalidFileNameError(const QString& name) {
  return latin(QString("INVALID FILE NAME \"%1\". (CIERR 102)").arg(name));
}

QByteArray unknownVariableError(const QString& name) {
  return latin(QString("UNKNOWN VARIABLE \"%1\". (CIERR 8102)").arg(name));
}

QByteArray failedOnRequestError(const QString& command) {
  return latin(QString("%1 FAILED (SIMULATED FAULT). (CIERR 9999)").arg(command));
}

QByteArray bannerDate(const QDateTime& now) {
  const QDate d = now.date();
  const QTime t = now.time();
  const int hour12 = t.hour() % 12 == 0 ? 12 : t.hour() % 12;
  return latin(
      QString("%1, %2 %3, %4, %5:%6 %7")
          .arg(QLocale::c().toString(d, "ddd").toUpper(), QLocale::c().toString(d, "MMM").toUpper())
          .arg(d.day(), 2)
          .arg(d.year())
          .arg(hour12, 2)
          .arg(t.minute(), 2, 10, QChar('0'))
          .arg(t.hour() < 12 ? "AM" : "PM"));
}

QByteArray logoffLine(const QDateTime& connectedAt, const QDateTime& now) {
  return latin(QString("CPU=%1. CONNECT=%2. ")
                   .arg(kCpuSeconds)
                   .arg(connectMinutes(connectedAt, now))) +
         bannerDate(now);
}

QList<QByteArray> listNames(const QStringList& names) {
  QList<QByteArray> lines{kListNamesHead, ""};
  for (qsizetype i = 0; i < names.size(); i += kListNamesPerLine) {
    QString line;
    for (const QString& name : names.mid(i, kListNamesPerLine))
      line += QString("%1").arg(name, -kListNameWidth);
    lines << latin(line).trimmed();
  }
  return lines;
}

QByteArray listAccountGroup(const QString& account, const QString& group) {
  return latin(QString("ACCOUNT=  %1  GROUP=  %2").arg(account, -8).arg(group));
}

QList<QByteArray> showMe(const ShowMeFacts& f) {
  // Two columns, the second one starting at a fixed place.
  const auto columns = [](const QString& left, const QString& right, int at = kShowMeColumn) {
    return latin(left.leftJustified(at - 1) + ' ' + right);
  };
  return {
      columns("USER: #S" + QString::number(f.sessionNumber) + "," + f.logon, "(NOT IN BREAK)",
              kShowMeBreakColumn),
      "RELEASE: " + kRelease + "    MPE/iX " + kMpeVersion + "    USER VERSION: " + kRelease,
      "CURRENT: " + bannerDate(f.now),
      "LOGON:   " + bannerDate(f.logonAt),
      columns(QString("CPU SECONDS: %1").arg(kCpuSeconds),
              QString("CONNECT MINUTES: %1").arg(connectMinutes(f.logonAt, f.now))),
      columns(QString("$STDIN LDEV: %1").arg(f.ldev), QString("$STDLIST LDEV: %1").arg(f.ldev)),
  };
}

QByteArray fcopyWrongRecordSize(int got, int want) {
  return latin(QString("*** RECORD OF %1 BYTES FROM $CTUL, TOFILE RECORD IS %2 (FCOPY ERROR 12)")
                   .arg(got)
                   .arg(want));
}

QByteArray fcopyLimitReached(qint64 limit) {
  return latin(QString("*** END OF FILE ON TOFILE AFTER %1 RECORDS (FCOPY ERROR 15)").arg(limit));
}

QByteArray fcopyEof(qint64 records) {
  // FCOPY numbers records from 0, so the last of n records is n - 1.
  return latin(QString("EOF FOUND IN FROMFILE AFTER RECORD %1").arg(records - 1));
}

QByteArray fcopyProcessed(qint64 records, int errors) {
  return latin(QString("%1 RECORDS PROCESSED *** %2 ERRORS").arg(records).arg(errors));
}

QByteArray programError(const QString& reason) {
  return latin("Host Program: ERROR " + reason);
}

QByteArray programDone(const QString& qualified, qint64 records, qint64 bytes) {
  return latin(QString("Host Program: %1 built, %2 records, %3 bytes")
                   .arg(qualified)
                   .arg(records)
                   .arg(bytes));
}

}  // namespace mpe::text
