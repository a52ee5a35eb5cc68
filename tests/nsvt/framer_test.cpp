// Framing of the host's stream however it is cut into reads, and the scratch
// area's promise that every byte past the loaded message reads as zero.
#include "nsvt/framer.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

namespace {

using nsvt::Framer;
using Buffer = std::vector<std::uint8_t>;

// A message of the given length; a length below 10 gives a 10-byte header
// whose length field says so.
Buffer MakeMessage(std::size_t length, std::uint8_t seed) {
  Buffer m(std::max<std::size_t>(length, nsvt::kHeaderSize));
  for (std::size_t i = 0; i < m.size(); ++i) {
    m[i] = static_cast<std::uint8_t>(seed + i * 7);
  }
  m[0] = static_cast<std::uint8_t>(length >> 8);
  m[1] = static_cast<std::uint8_t>(length);
  return m;
}

struct Event {
  Framer::Result result;
  Buffer message;  // the completed message, empty for BadLength
  bool operator==(const Event&) const = default;
};

// Records an event and empties the framer for the next message.
Event Take(Framer& framer, Framer::Result result) {
  const nsvt::ConstBytes m = framer.Message();
  Event event{result, result == Framer::Result::Complete ? Buffer(m.begin(), m.end()) : Buffer{}};
  framer.Clear();
  return event;
}

// Feeds reads through Accept, clearing after every event, as the receive path does.
std::vector<Event> FeedInReads(Framer& framer, const std::vector<Buffer>& reads) {
  std::vector<Event> events;
  for (const Buffer& read : reads) {
    nsvt::ConstBytes rest(read);
    while (!rest.empty()) {
      Framer::Result result;
      const std::size_t taken = framer.Accept(rest, result);
      EXPECT_GT(taken, 0u);
      rest = rest.subspan(taken);
      if (result == Framer::Result::NeedMore) {
        EXPECT_TRUE(rest.empty()) << "stopped early without an event";
        continue;
      }
      events.push_back(Take(framer, result));
    }
  }
  return events;
}

std::vector<Event> FeedByteByByte(Framer& framer, const Buffer& stream) {
  std::vector<Event> events;
  for (std::uint8_t byte : stream) {
    const Framer::Result result = framer.AcceptByte(byte);
    if (result != Framer::Result::NeedMore) {
      events.push_back(Take(framer, result));
    }
  }
  return events;
}

Buffer Concat(const std::vector<Buffer>& parts) {
  Buffer out;
  for (const Buffer& p : parts) {
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

class FramerTest : public testing::Test {
protected:
  std::unique_ptr<Framer> framer_ = std::make_unique<Framer>();  // 72 KB: not on the stack
};

TEST_F(FramerTest, TwoMessagesSplitAtEveryByteBoundary) {
  const Buffer headerOnly = MakeMessage(10, 1);
  const Buffer termIo = MakeMessage(25, 2);
  const Buffer stream = Concat({headerOnly, termIo});
  const std::vector<Event> expected = {{Framer::Result::Complete, headerOnly},
                                       {Framer::Result::Complete, termIo}};
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE(cut);
    const Buffer first(stream.begin(), stream.begin() + cut);
    const Buffer second(stream.begin() + cut, stream.end());
    EXPECT_EQ(FeedInReads(*framer_, {first, second}), expected);
    EXPECT_EQ(framer_->ReceiveCount(), 0u);
  }
}

TEST_F(FramerTest, AcceptStopsAtTheEndOfTheFirstMessage) {
  const Buffer stream = Concat({MakeMessage(12, 3), MakeMessage(30, 4)});
  Framer::Result result;
  EXPECT_EQ(framer_->Accept(stream, result), 12u);
  EXPECT_EQ(result, Framer::Result::Complete);
  EXPECT_EQ(framer_->Message().size(), 12u);
}

TEST_F(FramerTest, LengthBelowHeaderSizeIsLostFramingAtTheTenthByte) {
  for (std::uint8_t length : {0, 1, 9}) {
    SCOPED_TRACE(int(length));
    Buffer stream(40, 0x55);
    stream[0] = 0;
    stream[1] = length;
    for (std::size_t i = 0; i < 9; ++i) {
      EXPECT_EQ(framer_->AcceptByte(stream[i]), Framer::Result::NeedMore);
    }
    EXPECT_EQ(framer_->AcceptByte(stream[9]), Framer::Result::BadLength);
    framer_->Clear();

    Framer::Result result;
    EXPECT_EQ(framer_->Accept(stream, result), 10u);
    EXPECT_EQ(result, Framer::Result::BadLength);
    framer_->Clear();
  }
}

TEST_F(FramerTest, AcceptMatchesAcceptByteOnRandomStreams) {
  std::mt19937 rng(12345);
  auto fresh = std::make_unique<Framer>();
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE(round);
    std::vector<Buffer> messages;
    for (int i = 0; i < 40; ++i) {
      const int kind = rng() % 20;
      const std::size_t length = kind == 0   ? rng() % 10            // lost framing
                                 : kind == 1 ? 60000 + rng() % 5535  // near the top
                                             : 10 + rng() % 300;
      messages.push_back(MakeMessage(length, static_cast<std::uint8_t>(rng())));
    }
    const Buffer stream = Concat(messages);
    std::vector<Buffer> reads;
    for (std::size_t at = 0; at < stream.size();) {
      const std::size_t n = std::min<std::size_t>(stream.size() - at, 1 + rng() % 4000);
      reads.emplace_back(stream.begin() + at, stream.begin() + at + n);
      at += n;
    }
    EXPECT_EQ(FeedInReads(*framer_, reads), FeedByteByByte(*fresh, stream));
    EXPECT_EQ(framer_->ReceiveCount(), fresh->ReceiveCount());
    framer_->Clear();
    fresh->Clear();
  }
}

TEST(ScratchArea, BytesPastTheMessageReadAsZero) {
  auto scratch = std::make_unique<nsvt::ScratchArea>();
  const Buffer large(500, 0xAA);
  scratch->Load(large);
  scratch->Load(MakeMessage(10, 1));
  for (std::size_t i = 10; i < 600; ++i) {
    ASSERT_EQ(scratch->View()[i], 0) << i;
  }

  // A reply written past the message it was built over.
  std::fill_n(scratch->Data().begin() + 10, 2000, 0xBB);
  scratch->MarkWritten(2010);
  scratch->Load(MakeMessage(12, 2));
  EXPECT_EQ(scratch->View()[11], MakeMessage(12, 2)[11]);
  for (std::size_t i = 12; i < 2100; ++i) {
    ASSERT_EQ(scratch->View()[i], 0) << i;
  }
}

}  // namespace
