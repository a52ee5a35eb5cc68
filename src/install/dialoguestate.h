// The values of ActionCode: the state of the host dialogue that the next
// DialogueStep runs. DialogueStep adds 1 after every handler, so a handler
// that wants state S next sets S - 1, and the values are plain numbers that
// take part in that arithmetic.
#pragma once

#include <cstdint>

namespace install {

enum DialogueState : std::int32_t {
  // The frame.
  kStateNextLine = -2,  // the exchange is complete: the next script line at once
  kStatePassing = -1,   // + 1 = idle; also what ends a run
  kStateIdle = 0,       // no script is running

  // DSTAT.
  kStateDstat = 3,
  kStateDstatCheck = 4,

  // Block transfer (XFERA to XFERE).
  kStateBlockStart = 10,     // RUN ZORBELIX.PUB.SYS
  kStateGreeting = 11,       // "Host Program: Build": answer Y
  kStateChallenge = 12,      // hand the 256-byte challenge back
  kStateDescriptor = 13,     // "YGA": the descriptor block
  kStateHeader = 14,         // the header block (binary)
  kStateBinaryConfirm = 15,  // read of 1: answer "1"
  kStateBinaryData = 16,     // data blocks
  kStateBinaryEnd = 17,      // the end block
  kStateBinaryResume = 18,   // resume step
  kStateTextConfirm = 20,    // read of 1: answer "1"
  kStateTextData = 21,       // data blocks, LF line ends
  kStateTextEnd = 22,        // the end block
  kStateTextResume = 23,     // resume step

  // SEND1 and SEND2.
  kStateSend1 = 51,
  kStateSend1Check = 52,
  kStateSend1Resume = 53,
  kStateSend2 = 61,
  kStateSend2Check = 62,
  kStateSend2Resume = 63,

  // Record transfer (XFERU).
  kStateRecordStart = 71,   // BUILD
  kStateFcopyStart = 72,    // RUN FCOPY.PUB.SYS
  kStateFcopyFrom = 73,     // FROM=$CTUL;TO=$OLDPASS
  kStateFcopyConfirm = 74,  // the empty line FCOPY waits for
  kStateDataRequest = 75,   // "&p1s2R": answer "0100"
  kStateRecord = 76,        // the next record
  kStateEndOfData = 77,     // ":EOD"
  kStateFcopyEnding = 78,   // answers until FCOPY has ended
  kStateRecordResume = 79,  // resume step

  // The run's own ends.
  kStateStopped = 89,  // + 1 = kStateStop
  kStateStop = 90,     // the operator gets the console at the prompt
  kStateLogOff = 98,   // BYE

  // VERSO and VERSU.
  kStateVerso = 111,
  kStateVersoCheck = 112,
  kStateVersoResume = 113,
  kStateVersu = 121,
  kStateVersuCheck = 122,
  kStateVersuResume = 123,

  // ECHO.
  kStateEcho = 181,
  kStateEchoResume = 182,
};

}  // namespace install
