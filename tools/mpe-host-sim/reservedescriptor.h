// A descriptor held back for the moment the simulator runs out of them.
// At the limit a pending connection cannot be accepted, so Qt stops
// accepting and the client waits in the backlog for nothing; giving the
// reserve up for a moment lets the simulator accept that connection and
// close it at once, so the client hears a refusal instead. Where the system
// has no such limit to work around (Windows sockets are not descriptors),
// there is no reserve and nothing is refused.
#pragma once

#include <QtGlobal>

class ReserveDescriptor {
public:
  ReserveDescriptor();
  ~ReserveDescriptor();
  ReserveDescriptor(const ReserveDescriptor&) = delete;
  ReserveDescriptor& operator=(const ReserveDescriptor&) = delete;

  // Gives the reserve up, accepts one pending connection on the listening
  // socket and closes it, and takes the reserve again. False when there was
  // no reserve or no connection could be accepted.
  bool refuseOne(qintptr listeningSocket);

  // What the process ran out of, as the simulator's message names it.
  static const char* exhaustedResource();

private:
  int fd_ = -1;
};
