// The seam between the simulated MPE (command interpreter, FCOPY, the
// receiving host program) and the NS/VT connection that carries it.
//
// The MPE side calls these operations in the order a real host would act;
// the session turns them into NS/VT messages. Tests replace the session with
// a recorder. After a fault has ended or silenced the connection the calls
// still return normally and do nothing.
#pragma once

#include <QByteArray>
#include <QString>

#include "faultpoints.h"

namespace mpe {

class HostTerminal {
public:
  virtual ~HostTerminal() = default;

  // A line of output; the terminal moves to a new line after it.
  virtual void writeLine(const QByteArray& text) = 0;
  // Output that leaves the cursor where it ends (prompts, escape sequences,
  // raw bytes).
  virtual void writeInPlace(const QByteArray& bytes) = 0;
  // Asks for input of at most `length` bytes. The answer comes back through
  // the program's input operation; at most one read is pending at a time.
  virtual void postRead(int length) = 0;
  // Turns the terminal's echo on or off (passwords).
  virtual void setEcho(bool on) = 0;
  virtual void sendLogonNotice(const QByteArray& text) = 0;
  // Names a point of the dialogue. Faults armed for it take effect at the
  // next read request (in its place, or changing its length), or at the
  // session's end when no read follows (BYE).
  virtual void markPoint(const faults::PointName& point) = 0;
  // One line for the event log (stderr and transcript).
  virtual void logEvent(const QString& text) = 0;
  // Ends the session after BYE: the connection closes normally.
  virtual void logOff() = 0;
  // Ends the session with a termination request (logon failures).
  virtual void terminate(int reason) = 0;
};

}  // namespace mpe
