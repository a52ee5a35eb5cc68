// FCOPY as the installer meets it: a ">" prompt, FROM=$CTUL;TO=$OLDPASS to
// copy records from the terminal's left tape unit into the session's
// temporary file, and E or EXIT.
//
// Per record FCOPY writes the HP 264x device-read escape, reads a status
// ("0100": a record follows; ":EOD": end of data) and then reads the record
// itself, which must be exactly the file's record size.
#pragma once

#include "hostterminal.h"
#include "mpesession.h"

namespace mpe {

class Fcopy : public Program {
public:
  Fcopy(HostTerminal& terminal, SessionState& session, const HostConfig& config);
  void start() override;
  bool input(const QByteArray& data) override;

  // The status read and the ">" read; both stay below 500 so the installer
  // keeps answering the prompt rather than treating FCOPY as ended.
  static constexpr int kCommandReadLength = 80;
  static constexpr int kStatusReadLength = 80;

private:
  enum class Step { Command, ExitQuestion, TapeReady, Status, Record };

  bool command(const QByteArray& line);
  void startCopy();
  void askForRecord();
  void status(const QByteArray& answer);
  void record(const QByteArray& bytes);
  void endCopy();
  void failCopy(const QByteArray& why);
  void prompt();

  HostTerminal& terminal_;
  SessionState& session_;
  int questionsLeft_;
  Step step_ = Step::Command;
  qint64 copied_ = 0;
};

}  // namespace mpe
