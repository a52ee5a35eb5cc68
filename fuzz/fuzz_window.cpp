// Fuzz target: the receive path. Arbitrary host bytes, cut into read events
// of sizes taken from the input, go through the socket double into the real
// window (offscreen): framing, dispatch, terminal data, the console, and,
// when an installation is running, the dialogue states. Sends are captured,
// boxes are answered at once.
//
// Input: byte 0 flags, byte 1 chunk seed, then the host's byte stream.
//   flag 0x01  log on and press Begin first, so the bytes meet a running
//              installation (the shipped script)
//   flag 0x02  trace on (Ctrl held at Begin, or the trace opened directly)
//   flag 0x04  bytes arrive while a box is open (as a nested event loop
//              would deliver them)
//   flag 0x08  close the window at the end (the exit path) instead of
//              destroying it
//   flag 0x10  connect again when the window has closed the connection
//   flag 0x20  the host closes the connection after the stream (the
//              program ends)
//   flag 0x40  the connection is reset after the stream (the window stays)
#include "harness.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

constexpr std::uint8_t kInstall = 0x01;
constexpr std::uint8_t kTrace = 0x02;
constexpr std::uint8_t kDuringBoxes = 0x04;
constexpr std::uint8_t kCloseAtEnd = 0x08;
constexpr std::uint8_t kReconnect = 0x10;
constexpr std::uint8_t kHostCloses = 0x20;
constexpr std::uint8_t kReset = 0x40;
constexpr int kReconnectLimit = 4;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::InitWindowing();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::InitWindowing();
  if (size < 2) {
    return 0;
  }
  const std::uint8_t flags = data[0];
  fuzzing::Chunker chunker(data[1]);
  std::span<const std::uint8_t> stream(data + 2, size - 2);

  {
    fuzzing::Session session;
    support::WindowRig& rig = session.rig;
    TNSVT& window = *rig.window;

    const auto nextChunk = [&] {
      const std::size_t n = std::min(chunker.Next(), stream.size());
      support::Bytes chunk(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(n));
      stream = stream.subspan(n);
      return chunk;
    };

    if (flags & kInstall) {
      session.StartInstallation((flags & kTrace) != 0);
    } else if (flags & kTrace) {
      window.OpenTrace();
    }
    if (flags & kDuringBoxes) {
      // While a box is open the event loop runs: the host's next bytes are
      // read then, whatever the window is in the middle of.
      rig.dialogs.onBox = [&](const support::RecordingDialogs::Box&) {
        if (!stream.empty() && rig.socket->Connected() && chunker.Coin()) {
          rig.socket->Inject(nextChunk());
          emit rig.socket->OnRead();
        }
      };
    }

    int reconnects = 0;
    int reads = 0;
    while (!stream.empty() && !rig.ended) {
      if (!rig.socket->Connected()) {
        if (!(flags & kReconnect) || ++reconnects > kReconnectLimit) {
          break;
        }
        rig.Connect();
        continue;
      }
      rig.socket->Inject(nextChunk());
      if (chunker.Coin()) {
        window.Timer1Timer();
      }
      // Held reads resume from the event loop; otherwise let it turn now and
      // then only, so byte-sized reads stay cheap.
      if (rig.socket->Pending() > 0 || ++reads % 32 == 0) {
        QCoreApplication::processEvents();
      }
      fuzzing::CheckBounds(window);
    }
    rig.dialogs.onBox = nullptr;
    if ((flags & kReset) && rig.socket->Connected()) {
      rig.socket->PeerError(kWsaConnectionReset);
    }
    if ((flags & kHostCloses) && rig.socket->Connected()) {
      rig.socket->PeerClose();
    }
    if ((flags & kCloseAtEnd) && !rig.ended) {
      window.close();
    }
    fuzzing::CheckBounds(window);
    fuzzing::CheckShownAsText(window);
  }
  fuzzing::Settle();
  return 0;
}
