// The MPE/iX side of one session: logon, the command interpreter at the ":"
// prompt, and the programs it runs.
//
// It sees the terminal only through HostTerminal: every answer the terminal
// sends to a read comes in through input(), and everything the host shows
// goes out through the terminal's write operations.
#pragma once

#include <QByteArray>
#include <QList>
#include <memory>
#include <span>

#include "hostterminal.h"
#include "mpesession.h"

namespace mpe {

// A command the ":" prompt understands and one line about it: what --help
// lists, and what a test finds in the README.
struct CommandHelp {
  const char* verb;
  const char* help;
};

class CommandInterpreter {
public:
  CommandInterpreter(HostTerminal& terminal, HostStore& store, const HostConfig& config,
                     int sessionId);
  ~CommandInterpreter();

  // Shows the logon prompt.
  void start();
  // Takes the terminal's answer to the pending read.
  void input(const QByteArray& data);

  const SessionState& session() const { return session_; }
  // The record size of the file FCOPY copies into while FCOPY runs, else 0:
  // the terminal sends such records whole, whatever length the host read.
  int uncutRecordSize() const;

  static constexpr int kCommandReadLength = 80;
  static constexpr int kLogonReadLength = 80;
  static constexpr int kPasswordReadLength = 80;
  static constexpr int kPasswordTries = 3;
  static constexpr int kLogonAttempts = 3;
  static constexpr int kTerminateLogonFailed = 6;

  // Every command, in the order the table lists them.
  static QList<CommandHelp> commandHelp();

private:
  enum class Phase { Logon, Password, Command, Program, Over };

  struct PasswordCheck {
    QString kind;  // ACCOUNT, USER, GROUP
    QString name;
    QString expected;
  };

  void logonPrompt();
  void logon(const QString& line);
  void askPassword();
  void password(const QByteArray& answer);
  void logonFailed(const QByteArray& why);
  void completeLogon();
  void showLogoff();
  QString logonText() const;
  void commandPrompt();
  void command(const QString& line);
  void endProgram();
  void error(const QByteArray& text) { terminal_.writeLine(text); }

  // A command line split at its verb.
  struct CommandLine {
    QString line;  // the whole line, without the ":"
    QString args;  // the text after the verb, trimmed
    QString text;  // the text after the verb's separator, as typed
  };
  // One row of the command table (commandinterpreter.cpp): adding a command
  // is a row there and its handler here.
  struct CommandRow {
    const char* verb;
    void (CommandInterpreter::*handler)(const CommandLine&);
    const char* help;
    // The handler shows the next prompt itself (HELLO logs on anew).
    bool promptsItself = false;
  };
  static std::span<const CommandRow> commands();
  static const CommandRow* findCommand(const QString& verb);

  // Command handlers.
  void echo(const CommandLine& c);
  void purge(const CommandLine& c);
  void build(const CommandLine& c);
  void save(const CommandLine& c);
  void hello(const CommandLine& c);
  void listFile(const CommandLine& c);
  void showMe(const CommandLine& c);
  void showTime(const CommandLine& c);
  void dstat(const CommandLine& c);
  void version(const CommandLine& c);
  void run(const CommandLine& c);
  void bye(const CommandLine& c);

  void listGroup(const QString& level);
  void writeListHead(const FileRef& group);
  void writeListRow(const FileRef& ref, const MpeFile& file);

  std::optional<FileRef> fileArgument(const QString& text);
  void saveToStore(const FileRef& ref, const MpeFile& file, const char* what);

  HostTerminal& terminal_;
  HostStore& store_;
  const HostConfig& config_;
  SessionState session_;
  Phase phase_ = Phase::Logon;
  QList<PasswordCheck> passwords_;
  int passwordTries_ = 0;
  int failedLogons_ = 0;
  std::unique_ptr<Program> program_;
  std::optional<FileRef> programFile_;
};

}  // namespace mpe
