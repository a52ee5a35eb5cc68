// What an operator's NS/VT terminal shows of a session: the host's TERM_IO
// messages laid out as screen lines by their carriage control, and the lines
// the operator typed, echoed where the cursor stood. It follows the
// carriage-control rules of terminal output alone and shares no code with
// the simulator, so that it reads the host's output as a terminal program
// would.
#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

class TerminalScreen {
public:
  // Takes one host message; anything but a TERM_IO leaves the screen as is.
  void hostMessage(const QByteArray& message);
  // A line the operator typed at the cursor, then Return.
  void typed(const QByteArray& line);
  // The screen's lines, without the empty line the cursor may wait on. A
  // new page shows as a line holding a form feed.
  QStringList lines() const;

private:
  void print(const QByteArray& text);
  void applyCarriageControl(uint8_t control);
  void advance(int count);
  void newPage();

  QList<QByteArray> lines_{QByteArray()};
  int row_ = 0;
  int column_ = 0;
};
