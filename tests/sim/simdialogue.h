// Steps of the installer's dialogue shared by the tests that drive the
// simulator process.
#pragma once

#include <QByteArray>

#include "simprocess.h"
#include "testterminal.h"

// Connects, negotiates and logs on with `hello`; returns the read length of
// the ":" prompt (or -1). The output up to the prompt stays in the terminal.
inline int connectAndLogOn(SimProcess& sim, TestTerminal& t,
                           const QByteArray& hello = "HELLO MANAGER.SYS") {
  if (!t.connectTo(sim.port()) || !t.negotiate())
    return -1;
  if (t.nextRead() < 0)
    return -1;
  t.takeText();
  return t.answer(hello);
}

// A payload of `records` 256-byte records that carries a version line.
inline QByteArray makePayload(int records) {
  QByteArray p;
  for (int i = 0; i < records * 256; ++i)
    p += static_cast<char>((i * 7 + i / 256) & 0xFF);
  p.replace(1000, 18, "ZORBELIX - 2.5.0.6");
  return p;
}
