// What an installation run may ask of its connection to the host, and no
// more: send a line, bytes or a block as terminal input, what the host's
// latest read asked for, whether the terminal echoes what it sends, and the
// trace. The NS/VT session implements it; tests put a recording host in its
// place.
#pragma once

#include "nsvt/transferblock.h"
#include "nsvt/vtpkt.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace nsvt {

class HostLink {
public:
  virtual ~HostLink() = default;

  // SendLine: the text as one terminal input message, cut to the host's read
  // length (0 means no limit), traced as " [text ]". False when the text is
  // longer than kMaxTerminalData (then nothing is sent or traced) or the
  // write failed.
  virtual bool SendLine(std::string_view text) = 0;
  // SendArray: raw bytes, cut as SendLine cuts; traced with the count asked
  // for and a dump. False as for SendLine.
  virtual bool SendArray(ConstBytes bytes) = 0;
  // blk_out: completes the block's STX, checksum and ETX and sends all 1032
  // bytes, never cut; traced with a dump.
  virtual bool blk_out(std::span<std::uint8_t, kBlockSize> block) = 0;
  // Sends bytes as one terminal input message, never cut and not traced (a
  // record of the record transfer, whose caller traces it its own way).
  virtual bool SendUncut(ConstBytes bytes) = 0;

  // Bytes 10-11 of the host's latest class 2 message; 1 until one came.
  virtual std::int32_t HostReadLength() const = 0;
  // The terminal shows what it sends itself (the host's echo is off).
  virtual bool LocalEcho() const = 0;

  virtual bool TraceOn() const = 0;
  // Writes a trace line; call only while TraceOn().
  virtual void TraceLine(std::string_view text) = 0;
};

}  // namespace nsvt
