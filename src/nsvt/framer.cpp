// Framing of the host's byte stream and the scratch area messages are
// dispatched from. Both work in fixed buffers: the receive path allocates
// nothing per message.
#include "nsvt/framer.h"

#include <algorithm>
#include <cstring>

namespace nsvt {

namespace {

// Every builder writes at most this far into the scratch area (the open
// request is the longest at 71 bytes), so Load always clears this much even
// if a caller forgot MarkWritten; a fill this small costs nothing.
constexpr std::size_t kAlwaysCleared = 128;

}  // namespace

Framer::Result Framer::AcceptByte(std::uint8_t byte) {
  if (count_ >= buffer_.size()) {
    // Only reachable when a caller keeps feeding without Clear().
    return Result::BadLength;
  }
  buffer_[count_++] = byte;
  if (count_ < kHeaderSize) {
    return Result::NeedMore;
  }
  const std::size_t length = MessageLength(buffer_);
  if (length < kHeaderSize) {
    return Result::BadLength;
  }
  return count_ < length ? Result::NeedMore : Result::Complete;
}

std::size_t Framer::Accept(ConstBytes input, Result& result) {
  result = Result::NeedMore;
  if (input.empty()) {
    return 0;
  }
  // A finished message still held (no Clear() yet) or a full buffer: keep
  // exactly the byte-at-a-time behaviour for that odd case.
  if (count_ >= kHeaderSize) {
    const std::size_t length = MessageLength(buffer_);
    if (length < kHeaderSize || count_ >= length) {
      result = AcceptByte(input[0]);
      return 1;
    }
  }

  std::size_t taken = 0;
  if (count_ < kHeaderSize) {
    const std::size_t chunk = std::min(kHeaderSize - count_, input.size());
    std::memcpy(buffer_.data() + count_, input.data(), chunk);
    count_ += chunk;
    taken = chunk;
    if (count_ < kHeaderSize) {
      return taken;
    }
    const std::size_t length = MessageLength(buffer_);
    if (length < kHeaderSize) {
      result = Result::BadLength;
      return taken;
    }
    if (count_ >= length) {
      result = Result::Complete;
      return taken;
    }
  }

  // The length field is at most 65535, below the buffer's size, so the copy
  // always fits.
  const std::size_t length = MessageLength(buffer_);
  const std::size_t chunk = std::min(length - count_, input.size() - taken);
  std::memcpy(buffer_.data() + count_, input.data() + taken, chunk);
  count_ += chunk;
  taken += chunk;
  if (count_ == length) {
    result = Result::Complete;
  }
  return taken;
}

ConstBytes Framer::Message() const {
  // Bytes arrive no further than the end of the message, so when it is
  // complete the count is exactly its length.
  return ConstBytes(buffer_.data(), count_);
}

void ScratchArea::Load(ConstBytes message) {
  const std::size_t size = std::min(message.size(), buffer_.size());
  if (size != 0) {
    std::memcpy(buffer_.data(), message.data(), size);
  }
  const std::size_t clearEnd = std::max(dirty_, std::min(kAlwaysCleared, buffer_.size()));
  if (clearEnd > size) {
    std::memset(buffer_.data() + size, 0, clearEnd - size);
  }
  dirty_ = size;
}

void ScratchArea::MarkWritten(std::size_t end) {
  dirty_ = std::max(dirty_, std::min(end, buffer_.size()));
}

}  // namespace nsvt
