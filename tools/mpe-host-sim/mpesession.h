// What one MPE session knows about itself, shared by the command interpreter
// and the programs it runs, and the host's configuration.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "hoststore.h"

namespace mpe {

struct UserEntry {
  QString user;
  QString account;
  QString homeGroup = "PUB";
};

// How the host is set up (from the command line).
struct HostConfig {
  QList<UserEntry> users{UserEntry{"MANAGER", "SYS", "PUB"}};
  QString userPassword;                   // empty: none asked
  QString accountPassword;                // empty: none asked
  QString groupPassword;                  // empty: none asked
  QStringList failCommands;               // answered with a CIERR
  std::optional<QByteArray> logonNotice;  // replaces the true logon notice
  int fcopyQuestions = 0;                 // "Y OR N" questions FCOPY asks before it ends
  int challengeLength = 256;
};

struct SessionState {
  int id = 0;      // the connection's number in the simulator's log
  int number = 0;  // MPE's session number (#S), new with every logon
  int ldev = 0;    // the terminal's logical device
  QString sessionName;
  QString user;
  QString account;
  QString group;
  bool loggedOn = false;
  QDateTime connectedAt = QDateTime::currentDateTime();  // from the logon on
  // The session's temporary file: $NEWPASS when built, $OLDPASS afterwards.
  std::optional<MpeFile> tempFile;
};

// A program run by RUN. It owns the terminal until it ends.
class Program {
public:
  virtual ~Program() = default;
  // Writes the program's first output and posts its first read.
  virtual void start() = 0;
  // Takes the answer to the program's pending read. Returns true when the
  // program has ended (the command interpreter then takes the terminal back);
  // otherwise the program has posted its next read, or the session is over.
  virtual bool input(const QByteArray& data) = 0;
};

}  // namespace mpe
