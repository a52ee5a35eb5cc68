// What the window-driving fuzz targets share: one offscreen QApplication for
// the whole run, a private working folder (the trace file and script files
// land there), a chunker that cuts host bytes into read events of sizes
// taken from the input, and the checks of the window's bounded buffers.
#pragma once

#include "testsupport.h"

#include <QTextDocument>

#include <cstddef>
#include <cstdint>
#include <span>

namespace fuzzing {

// Creates the application (offscreen, Qt's messages dropped) and moves into
// a fresh temporary folder. Safe to call more than once.
void InitWindowing();

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

// Aborts with a message when a buffer that grows with host input has gone
// past its bound.
void CheckBounds(const TNSVT& window);

// Aborts unless the labels that show host or script text show it as text
// (a label would otherwise render anything that starts like an HTML tag).
void CheckShownAsText(const TNSVT& window);

// A window with its doubles, connected; optionally logged on and with Begin
// pressed, so an installation is running when the host's bytes arrive.
struct Session {
  explicit Session(std::map<int, std::string> table = {});
  void StartInstallation(bool trace);
  support::WindowRig rig;
};

}  // namespace fuzzing
