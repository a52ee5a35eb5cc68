// Every text the simulated host prints, kept together.
//
// Texts confirmed from public MPE/iX material are marked "seen"; the rest are
// plausible guesses, chosen so that what the installer searches for ("CIERR",
// "CIWARN", "VOLUME", "END OF", "Y OR N", "&p1s2R", "Host Program: Build",
// "YGA") appears exactly where a real host would show it and nowhere else.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace mpe::text {

// The host's release and MPE/iX version, as the banner and SHOWME show them.
inline const QByteArray kRelease = "C.75.00";
inline const QByteArray kMpeVersion = "HP31900 C.95.00";

// Logon (seen).
inline const QByteArray kLogonPrompt = "MPE XL:";
inline const QByteArray kBannerRelease =
    "HP3000  Release: " + kRelease + "  User Version: " + kRelease + "  ";
inline const QByteArray kBannerCopyright =
    "MPE/iX  " + kMpeVersion + "  Copyright Hewlett-Packard 1987.  All rights reserved.";
// Guesses.
inline const QByteArray kExpectedHello =
    "EXPECTED HELLO, :JOB, :DATA, OR (CMD) AS LOGON. (CIERR 1402)";
inline const QByteArray kBadLogonSyntax =
    "EXPECTED [SESSION NAME,] USER.ACCOUNT [,GROUP]. (CIERR 1424)";
inline const QByteArray kUnknownUser = "NON-EXISTENT USER OR ACCOUNT. (CIERR 1437)";
inline const QByteArray kIncorrectPassword = "INCORRECT PASSWORD. (CIERR 1441)";
QByteArray passwordPrompt(const QString& kind,
                          const QString& name);  // "ENTER ACCOUNT (SYS) PASSWORD:"

// Command interpreter.
inline const QByteArray kCiPrompt = ":";
inline const QByteArray kUnknownCommand = "UNKNOWN COMMAND NAME. (CIERR 975)";  // seen
QByteArray nonexistentFileWarning(const QString& qualified);  // PURGE of a missing file
QByteArray nonexistentFileError(const QString& qualified);    // RUN, VERSION, LISTFILE
QByteArray fileInUseError(const QString& qualified);
QByteArray duplicateFileError(const QString& qualified);
QByteArray invalidFileNameError(const QString& name);
QByteArray unknownVariableError(const QString& name);
QByteArray failedOnRequestError(const QString& command);
inline const QByteArray kNoTempFile = "NONEXISTENT TEMPORARY FILE $OLDPASS. (CIERR 907)";
inline const QByteArray kSaveSyntax =
    "EXPECTED $OLDPASS,NEWNAME OR A TEMPORARY FILE NAME. (CIERR 1093)";
inline const QByteArray kBuildBadOption = "INVALID OR DUPLICATE BUILD OPTION. (CIERR 1057)";
inline const QByteArray kBuildBadCode = "INVALID FILE CODE. (CIERR 1069)";
inline const QByteArray kBuildBadRecord = "INVALID RECORD SIZE. (CIERR 1071)";
inline const QByteArray kBuildBadDisc = "INVALID DISC PARAMETER. (CIERR 1073)";
// A file larger than the simulator keeps (the text is a guess).
inline const QByteArray kOutOfDiscSpace = "OUT OF DISC SPACE. (CIERR 1092)";
inline const QByteArray kNotAProgram = "NOT A PROGRAM FILE. (CIERR 624)";
inline const QByteArray kEndOfProgram = "END OF PROGRAM";
// The simulated host uses no CPU time worth counting; BYE and SHOWME show
// this many seconds (a guess at what a short session shows).
constexpr int kCpuSeconds = 1;
QByteArray logoffLine(const QDateTime& connectedAt, const QDateTime& now);  // seen shape
QByteArray bannerDate(const QDateTime& now);  // "TUE, DEC  8, 2026,  4:00 PM"; also SHOWTIME

// LISTF of a whole group: the names only, across the line (guessed layout),
// or at level 2 the head and one row per file (the layout LISTFILE shows).
inline const QByteArray kListNamesHead = "FILENAME";
constexpr int kListNamesPerLine = 8;
constexpr int kListNameWidth = 10;
inline const QByteArray kNoFilesFound = "NO FILES FOUND IN FILE-SET (CIWARN 431)";  // guess
QList<QByteArray> listNames(const QStringList& names);
QByteArray listAccountGroup(const QString& account, const QString& group);
inline const QByteArray kListHead1 =
    "FILENAME  CODE  ------------LOGICAL RECORD-----------  ----SPACE----";
inline const QByteArray kListHead2 =
    "                  SIZE  TYP        EOF      LIMIT R/B  SECTORS #X MX";

// SHOWME (guessed layout: the lines MPE/iX is reported to show).
struct ShowMeFacts {
  QString logon;  // [SESSION,]USER.ACCOUNT,GROUP
  int sessionNumber = 0;
  int ldev = 0;
  QDateTime logonAt;
  QDateTime now;
};
QList<QByteArray> showMe(const ShowMeFacts& facts);
constexpr int kShowMeColumn = 26;       // where its second column starts
constexpr int kShowMeBreakColumn = 45;  // where the USER line's break state starts

// DSTAT ALL (seen shape).
inline const QByteArray kDstatHead = "LDEV-TYPE    STATUS      VOLUME  (VOLUME SET - GEN)";
inline const QByteArray kDstatRule = "- - - - - - - - - - - - - - - - - - - - - - - - -";
inline const QByteArray kDstatRow1 =
    "  1-079350    MASTER      MEMBER1 (MPEXL_SYSTEM_VOLUME_SET-0)";
inline const QByteArray kDstatRow2 =
    "  2-079350    MEMBER      MEMBER2 (MPEXL_SYSTEM_VOLUME_SET-0)";

// FCOPY (guesses; the installer reads only ">", "&p1s2R", "END OF", "Y OR N").
inline const QByteArray kFcopyBanner = "HP32212A.03.26 FILE COPIER (C) HEWLETT-PACKARD CO. 1992";
inline const QByteArray kFcopyPrompt = ">";
inline const QByteArray kFcopyTapeReady = "READY $CTUL AND PRESS RETURN";
// The HP 264x device-read escape: device 1 (left tape), "s2", read.
inline const QByteArray kTapeReadEscape = "\x1b&p1s2R";
inline const QByteArray kTapeStatusRecord = "0100";
inline const QByteArray kTapeStatusEnd = ":EOD";
inline const QByteArray kFcopyExitQuestion = "EXIT FCOPY (Y OR N)?";
inline const QByteArray kFcopyUnknownCommand = "*** ILLEGAL FCOPY COMMAND (FCOPY ERROR 1)";
inline const QByteArray kFcopyNoFromFile =
    "*** FROMFILE MUST BE $CTUL ON THIS HOST (FCOPY ERROR 2)";
inline const QByteArray kFcopyNoToFile = "*** TOFILE $OLDPASS DOES NOT EXIST (FCOPY ERROR 3)";
inline const QByteArray kFcopyBadStatus = "*** INVALID STATUS FROM $CTUL (FCOPY ERROR 7)";
QByteArray fcopyWrongRecordSize(int got, int want);
QByteArray fcopyLimitReached(qint64 limit);
QByteArray fcopyEof(qint64 records);
QByteArray fcopyProcessed(qint64 records, int errors);
inline const QByteArray kFcopyIncomplete = "*** COPY NOT COMPLETED";

// The receiving host program.
inline const QByteArray kProgramBuildPrompt = "Host Program: Build file from PC (Y/N)? ";
inline const QByteArray kProgramGo = "YGA";
// Seven characters before each data block; the seventh is 0x01.
inline const QByteArray kProgramBlockReady = QByteArray("READY ") + '\x01';
inline const QByteArray kProgramDeclined = "Host Program: nothing built";
QByteArray programError(const QString& reason);
QByteArray programDone(const QString& qualified, qint64 records, qint64 bytes);

}  // namespace mpe::text
