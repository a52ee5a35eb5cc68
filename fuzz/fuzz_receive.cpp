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

#include <QCoreApplication>

#include <algorithm>

namespace {

constexpr std::uint8_t kInstall = 0x01;
constexpr std::uint8_t kTrace = 0x02;
constexpr std::uint8_t kDuringBoxes = 0x04;
constexpr std::uint8_t kEndAtEnd = 0x08;
constexpr std::uint8_t kReconnect = 0x10;
constexpr std::uint8_t kHostCloses = 0x20;
constexpr std::uint8_t kReset = 0x40;
constexpr int kReconnectLimit = 4;
constexpr int kReadsPerEventTurn = 32;
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
  fuzzing::Chunker chunker(data[1]);
  std::span<const std::uint8_t> stream(data + 2, size - 2);

  {
    support::HeadlessRig rig({}, kFuzzLocalLineLimit);
    rig.op.keepConsole = false;
    rig.Connect();

    const auto nextChunk = [&] {
      const std::size_t n = std::min(chunker.Next(), stream.size());
      const std::span<const std::uint8_t> chunk = stream.first(n);
      stream = stream.subspan(n);
      return chunk;
    };

    if (flags & kTrace) {
      rig.session->OpenTrace(kTraceFile);
    }
    if (flags & kInstall) {
      rig.LogOn();
      rig.Begin();
    }
    if (flags & kDuringBoxes) {
      // While a box is open the event loop runs: the host's next bytes are
      // read then, whatever the session or the run is in the middle of.
      rig.op.onBox = [&](const support::RecordingOperator::Box&) {
        if (!stream.empty() && rig.socket->Connected() && chunker.Coin()) {
          rig.socket->Arrive(nextChunk());
        }
      };
    }

    int reconnects = 0;
    int reads = 0;
    while (!stream.empty()) {
      if (!rig.socket->Connected()) {
        if (!(flags & kReconnect) || ++reconnects > kReconnectLimit) {
          break;
        }
        rig.Connect();
        continue;
      }
      rig.socket->Inject(nextChunk());
      // Held reads resume from the event loop; otherwise let it turn now and
      // then only, so byte-sized reads stay cheap.
      if (rig.socket->Pending() > 0 || ++reads % kReadsPerEventTurn == 0) {
        QCoreApplication::processEvents();
      }
      fuzzing::CheckBounds(*rig.run);
    }
    rig.op.onBox = nullptr;
    if ((flags & kReset) && rig.socket->Connected()) {
      rig.socket->PeerError(nsvt::kWsaConnectionReset);
    }
    if ((flags & kHostCloses) && rig.socket->Connected()) {
      rig.socket->PeerClose();
    }
    if ((flags & kEndAtEnd) && rig.session->Connected()) {
      rig.session->SendTerminationRequest();
      rig.session->Close();
    }
    fuzzing::CheckBounds(*rig.run);
  }
  fuzzing::Settle();
  return 0;
}
