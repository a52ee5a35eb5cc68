// The codes the session reports its NS/VT events with through
// SessionListener::Error, beside the socket's Windows Sockets codes
// (socketerrors.h); plain constants, so that every layer can name them.
#pragma once

namespace nsvt {

inline constexpr int kErrorNormalEnd = 0;              // the host confirmed termination
inline constexpr int kErrorInvalidPacket = 4003;       // a message the session cannot take
inline constexpr int kErrorTerminationKnown = 4004;    // the host asked to end, with a known reason
inline constexpr int kErrorTerminationUnknown = 4005;  // the host asked to end, with another reason

}  // namespace nsvt
