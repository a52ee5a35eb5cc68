// What the fuzz targets share: one application object for the whole run, a
// private
// working folder (the trace file and script files land there), a chunker
// that cuts host bytes into read events of sizes taken from the input, and
// the checks of the buffers that grow with host input.
#pragma once

#include "headlessrig.h"
#include "runtest.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace fuzzing {

// Creates the application (a QCoreApplication unless one exists: the window
// target makes its own), drops Qt's messages and moves into a fresh
// temporary folder. Safe to call more than once.
void InitApplication();

// Runs posted events, deferred deletes included, so nothing of one input
// outlives it.
void Settle();

// Picks read-event sizes from a seed byte: small pieces (1 to 16 bytes),
// mixed ones (1 to 300) or large ones (1 to 36,288), varying per read.
class Chunker {
public:
  explicit Chunker(std::uint8_t seed);
  std::size_t Next();
  bool Coin();  // a pseudo-random yes or no from the same sequence

private:
  std::uint32_t state_;
  std::size_t limit_;
};

// Feeds the host's byte stream of an input to a capture socket in read
// events of the chunker's sizes: the stream-driven targets' main loop.
class StreamFeeder {
public:
  StreamFeeder(std::span<const std::uint8_t> stream, std::uint8_t chunkSeed);

  // While a box is open the event loop runs: the host's next bytes may be
  // read then, whatever the receiver is in the middle of.
  void ArriveDuringBox(support::CaptureSocket& socket);
  // Feeds everything, or until stop() holds. A closed connection is opened
  // again with reconnect() when allowed, a few times at most. afterRead
  // runs after each read event (the targets' checks).
  void Feed(support::CaptureSocket& socket, bool reconnectAllowed,
            const std::function<void()>& reconnect, const std::function<bool()>& stop,
            const std::function<void()>& afterRead);
  // The input's ending: a reset, then a normal close by the host.
  static void EndConnection(support::CaptureSocket& socket, bool reset, bool hostCloses);

  Chunker& chunker() { return chunker_; }

private:
  std::span<const std::uint8_t> NextChunk();
  Chunker chunker_;
  std::span<const std::uint8_t> stream_;
};

// Aborts with a message when a buffer that grows with host input has gone
// past its bound.
void CheckBounds(const install::Run& run);

}  // namespace fuzzing
