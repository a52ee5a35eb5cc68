// Cuts the host's byte stream into NS/VT messages by their length field.
// Bytes are taken in arrival order into one fixed buffer; a message is
// complete the moment its last byte arrives, and no byte of the next message
// is in the buffer then. Nothing is allocated after construction.
#pragma once

#include "nsvt/vtpkt.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace nsvt {

class Framer {
public:
  enum class Result {
    NeedMore,   // the message is not complete yet
    Complete,   // Message() holds one whole message; call Clear() when done
    BadLength,  // the length field is below the header size: framing is lost
  };

  // Appends one byte. After Complete or BadLength the caller must call
  // Clear() before feeding the next byte.
  Result AcceptByte(std::uint8_t byte);

  // Feeds bytes until a message completes or framing is lost, and returns how
  // many bytes of input were taken (the rest belongs to later messages). Same
  // result as calling AcceptByte for each of those bytes, only faster.
  std::size_t Accept(ConstBytes input, Result& result);

  // The complete message (valid after Complete until Clear()).
  ConstBytes Message() const;
  std::size_t ReceiveCount() const { return count_; }
  void Clear() { count_ = 0; }

private:
  // Bytes are only read up to count_, so the buffer is never cleared.
  std::array<std::uint8_t, kMaxFrame> buffer_;
  std::size_t count_ = 0;
};

// The zero-filled area a message is dispatched from and replies are built
// over. Load() copies a message in and zeroes every byte beyond it, but only
// those an earlier message or reply may have written, so a small message
// does not cost a clear of the whole area.
class ScratchArea {
public:
  void Load(ConstBytes message);
  nsvt::Bytes Data() { return buffer_; }
  ConstBytes View() const { return buffer_; }
  // Records that a reply wrote up to end, so the next Load clears it.
  void MarkWritten(std::size_t end);

private:
  std::array<std::uint8_t, kMaxFrame> buffer_{};
  std::size_t dirty_ = 0;
};

}  // namespace nsvt
