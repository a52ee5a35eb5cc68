// Fuzz target: the receive path, without a window. Arbitrary host bytes, cut
// into read events of sizes taken from the input, go through the socket
// double into the NS/VT session: framing, dispatch, the replies, terminal
// data, and, when an installation is running, the run's dialogue states.
// Sends are captured, the operator's boxes are answered at once.
//
// Input: byte 0 flags, byte 1 chunk seed, then the host's byte stream.
//   flag 0x01  log on and press Begin first, so the bytes meet a running
//              installation (the shipped script)
//   flag 0x02  trace on
//   flag 0x04  bytes arrive while a box is open (as a nested event loop
//              would deliver them)
//   flag 0x08  end the session from this side at the end (the exit path's
//              termination request, then a close)
//   flag 0x10  connect again when the connection has closed
//   flag 0x20  the host closes the connection after the stream
//   flag 0x40  the connection is reset after the stream
#include "harness.h"

namespace {

constexpr std::uint8_t kInstall = 0x01;
constexpr std::uint8_t kTrace = 0x02;
constexpr std::uint8_t kDuringBoxes = 0x04;
constexpr std::uint8_t kEndAtEnd = 0x08;
constexpr std::uint8_t kReconnect = 0x10;
constexpr std::uint8_t kHostCloses = 0x20;
constexpr std::uint8_t kReset = 0x40;
const char kTraceFile[] = "TRACEFIL";
// Local lines in a row before a run counts as caught in a loop: far below
// the program's bound, so a looping input costs little, and still reached.
constexpr std::int32_t kFuzzLocalLineLimit = 64;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::InitApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::InitApplication();
  if (size < 2) {
    return 0;
  }
  const std::uint8_t flags = data[0];
  fuzzing::StreamFeeder feeder(std::span(data + 2, size - 2), data[1]);
  {
    support::HeadlessRig rig({}, kFuzzLocalLineLimit);
    rig.op.keepConsole = false;
    rig.Connect();
    if (flags & kTrace) {
      rig.session->OpenTrace(kTraceFile);
    }
    if (flags & kInstall) {
      rig.LogOn();
      rig.Begin();
    }
    if (flags & kDuringBoxes) {
      rig.op.onBox = [&](const support::RecordingOperator::Box&) {
        feeder.ArriveDuringBox(*rig.socket);
      };
    }
    feeder.Feed(
        *rig.socket, (flags & kReconnect) != 0, [&] { rig.Connect(); }, [] { return false; },
        [&] { fuzzing::CheckBounds(*rig.run); });
    rig.op.onBox = nullptr;
    fuzzing::StreamFeeder::EndConnection(*rig.socket, (flags & kReset) != 0,
                                         (flags & kHostCloses) != 0);
    if ((flags & kEndAtEnd) && rig.session->Connected()) {
      rig.session->SendTerminationRequest();
      rig.session->Close();
    }
    fuzzing::CheckBounds(*rig.run);
  }
  fuzzing::Settle();
  return 0;
}
