// Open-file descriptors: how many hosts fit in the process's limit at once,
// and telling a want of descriptors from a host's failure. A connection
// needs a descriptor, a trace another; the name lookups and the program
// itself (standard streams, the event loop, the signal pipe, the payload)
// need some whatever the hosts. A run that asks for more hosts at once than
// fit runs fewer, rather than failing hosts or aborting.
#pragma once

#include <string>

namespace cli {

// Held back from the hosts: the program's own, and the name lookups'.
inline constexpr long kReservedDescriptors = 24;
inline constexpr long kLookupDescriptors = 16;

// Raises the soft open-file limit to the hard one where the system has
// such limits, and returns the soft limit then; 0 when there is none to
// go by (Windows sockets are not descriptors).
long RaiseOpenFileLimit();

// Descriptors open now: inherited ones count against the limit too.
long OpenDescriptors();

// At most jobs, and no more hosts at once than limit descriptors hold
// beside the open ones and the reserve (each host a connection, with trace
// a file too), at least one; jobs when limit is 0.
int JobsThatFit(int jobs, long limit, long open, bool trace);

// A connection's failure code (Windows Sockets numbering) or a trace's
// failure text that tells of no free descriptor, in the process or the
// system: the host did not fail, it must wait.
bool IsDescriptorShortage(int socketCode);
bool IsDescriptorShortage(const std::string& reason);

}  // namespace cli
