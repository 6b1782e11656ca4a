// The ISO 15765-2 framer both ways: messages cut into frames as a CAN bus carries them, and
// frames put together again, with what a receiver refuses.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "bus/iso_tp.h"

namespace {

using Frame = std::vector<uint8_t>;

std::vector<uint8_t> Message(size_t length) {
  std::vector<uint8_t> m(length);
  for (size_t i = 0; i < length; ++i) m[i] = static_cast<uint8_t>(i * 7 + 1);
  return m;
}

std::vector<Frame> Frames(const std::vector<uint8_t>& message) {
  std::vector<Frame> frames;
  for (uint16_t i = 0; i < emu_IsoTpFrameCount(message.size()); ++i) {
    uint8_t f[EMU_ISOTP_FRAME_BYTES];
    const uint8_t n = emu_IsoTpFrame(message.data(), message.size(), i, f);
    frames.emplace_back(f, f + n);
  }
  return frames;
}

// The receiver is 4 KB: on the heap, as the capture import keeps one per sender.
std::unique_ptr<EmuIsoTpReceiver> Receiver() { return std::make_unique<EmuIsoTpReceiver>(); }

EmuIsoTpResult Take(EmuIsoTpReceiver& r, const Frame& f) { return emu_IsoTpReceive(&r, f.data(), f.size()); }

// Feeds every frame; the result of the last one.
EmuIsoTpResult TakeAll(EmuIsoTpReceiver& r, const std::vector<Frame>& frames) {
  EmuIsoTpResult last = EmuIsoTpResult::BadFrame;
  for (const Frame& f : frames) last = Take(r, f);
  return last;
}

}  // namespace

// Up to 7 bytes: one single frame whose first byte is the length, nothing filled in. An empty
// message has no frame (a single frame of length 0 is not allowed on the bus).
TEST(IsoTpSending, ShortMessagesAreOneSingleFrame) {
  EXPECT_EQ(emu_IsoTpFrameCount(0), 0);
  uint8_t f[EMU_ISOTP_FRAME_BYTES];
  EXPECT_EQ(emu_IsoTpFrame(nullptr, 0, 0, f), 0);
  for (size_t length = 1; length <= 7; ++length) {
    const std::vector<uint8_t> m = Message(length);
    const std::vector<Frame> frames = Frames(m);
    ASSERT_EQ(frames.size(), 1u) << length;
    Frame expected{static_cast<uint8_t>(length)};
    expected.insert(expected.end(), m.begin(), m.end());
    EXPECT_EQ(frames[0], expected) << length;
  }
}

// 8 bytes: a first frame with the 12-bit length and 6 bytes, then one consecutive frame with
// the last two.
TEST(IsoTpSending, EightBytesTakeAFirstAndAConsecutiveFrame) {
  const std::vector<uint8_t> m = Message(8);
  const std::vector<Frame> frames = Frames(m);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], (Frame{0x10, 0x08, m[0], m[1], m[2], m[3], m[4], m[5]}));
  EXPECT_EQ(frames[1], (Frame{0x21, m[6], m[7]}));
  EXPECT_EQ(emu_IsoTpFrame(m.data(), m.size(), 2, nullptr), 0) << "a frame past the last";
}

// The longest message: length FFF in the first frame, sequence numbers 1..F, 0, 1, ... and a
// last frame with what is left; one byte more has no frames at all.
TEST(IsoTpSending, TheLongestMessageWrapsItsSequenceNumbers) {
  const std::vector<uint8_t> m = Message(EMU_ISOTP_MAX_MESSAGE);
  const std::vector<Frame> frames = Frames(m);
  ASSERT_EQ(frames.size(), 1u + (4095 - 6 + 6) / 7);
  EXPECT_EQ(frames[0][0], 0x1F);
  EXPECT_EQ(frames[0][1], 0xFF);
  size_t at = 6;
  for (size_t k = 1; k < frames.size(); ++k) {
    ASSERT_EQ(frames[k][0], 0x20 | (k & 0x0F)) << k;
    EXPECT_TRUE(std::equal(frames[k].begin() + 1, frames[k].end(), m.begin() + static_cast<long>(at))) << k;
    at += frames[k].size() - 1;
  }
  EXPECT_EQ(at, m.size());
  EXPECT_EQ(frames[15][0], 0x2F);
  EXPECT_EQ(frames[16][0], 0x20);
  EXPECT_EQ(frames.back().size(), 1u + (4095 - 6) % 7);
  EXPECT_EQ(emu_IsoTpFrameCount(EMU_ISOTP_MAX_MESSAGE + 1), 0);
}

// What the sender cuts, the receiver puts together, at every length where the framing changes,
// also with the frames filled to 8 bytes as a bus carries them.
TEST(IsoTpReceiving, PutsTogetherWhatTheSenderCut) {
  for (size_t length : {1, 6, 7, 8, 13, 14, 20, 111, 112, 113, 4094, 4095}) {
    const std::vector<uint8_t> m = Message(length);
    for (bool filled : {false, true}) {
      std::vector<Frame> frames = Frames(m);
      if (filled)
        for (Frame& f : frames) f.resize(EMU_ISOTP_FRAME_BYTES, 0xAA);
      auto r = Receiver();
      for (size_t k = 0; k + 1 < frames.size(); ++k) ASSERT_EQ(Take(*r, frames[k]), EmuIsoTpResult::Pending) << length;
      ASSERT_EQ(Take(*r, frames.back()), EmuIsoTpResult::Complete) << length;
      EXPECT_EQ(std::vector<uint8_t>(r->message, r->message + r->length), m) << length << (filled ? " filled" : "");
    }
  }
}

// A frame out of turn drops the message; a consecutive frame without a first frame is
// unexpected, also right after a message completed.
TEST(IsoTpReceiving, FramesOutOfTurnAreRefused) {
  const std::vector<Frame> frames = Frames(Message(30));  // first frame and 4 consecutive ones
  auto r = Receiver();
  EXPECT_EQ(Take(*r, frames[1]), EmuIsoTpResult::Unexpected);
  EXPECT_EQ(Take(*r, frames[0]), EmuIsoTpResult::Pending);
  EXPECT_EQ(Take(*r, frames[2]), EmuIsoTpResult::WrongSequence) << "frame 1 was lost";
  EXPECT_EQ(Take(*r, frames[3]), EmuIsoTpResult::Unexpected) << "the message was dropped";
  EXPECT_EQ(Take(*r, frames[0]), EmuIsoTpResult::Pending);
  EXPECT_EQ(Take(*r, frames[1]), EmuIsoTpResult::Pending);
  EXPECT_EQ(Take(*r, frames[1]), EmuIsoTpResult::WrongSequence) << "a frame twice";
  EXPECT_EQ(TakeAll(*r, frames), EmuIsoTpResult::Complete);
  EXPECT_EQ(Take(*r, frames[4]), EmuIsoTpResult::Unexpected);

  // The sequence after F is 0, not 10 or 1.
  const std::vector<Frame> longer = Frames(Message(6 + 7 * 17));
  ASSERT_EQ(longer.size(), 18u);
  for (size_t k = 0; k <= 15; ++k) ASSERT_EQ(Take(*r, longer[k]), EmuIsoTpResult::Pending) << k;
  EXPECT_EQ(Take(*r, longer[1]), EmuIsoTpResult::WrongSequence) << "1 again after F";
}

// A single or first frame in the middle of a message starts over with the new one.
TEST(IsoTpReceiving, ANewMessageInTheMiddleStartsOver) {
  const std::vector<uint8_t> first = Message(20), second = Message(9);
  const std::vector<Frame> a = Frames(first), b = Frames(second);
  auto r = Receiver();
  EXPECT_EQ(Take(*r, a[0]), EmuIsoTpResult::Pending);
  EXPECT_EQ(Take(*r, Frame{0x02, 0x7E, 0x00}), EmuIsoTpResult::Complete);
  EXPECT_EQ(std::vector<uint8_t>(r->message, r->message + r->length), (std::vector<uint8_t>{0x7E, 0x00}));
  EXPECT_EQ(Take(*r, a[1]), EmuIsoTpResult::Unexpected);
  EXPECT_EQ(Take(*r, a[0]), EmuIsoTpResult::Pending);
  EXPECT_EQ(TakeAll(*r, b), EmuIsoTpResult::Complete);
  EXPECT_EQ(std::vector<uint8_t>(r->message, r->message + r->length), second);
}

// Lengths that do not fit the frames, frames that are none, and a message longer than the
// receiver holds; a flow control is no message data.
TEST(IsoTpReceiving, LengthsThatDoNotFitAreRefused) {
  struct Case {
    Frame frame;
    EmuIsoTpResult result;
  };
  const Case cases[] = {
      {{0x00, 0x11}, EmuIsoTpResult::BadLength},                                 // single frame of 0
      {{0x03, 0x11, 0x22}, EmuIsoTpResult::BadLength},                           // says 3, carries 2
      {{0x08, 1, 2, 3, 4, 5, 6, 7}, EmuIsoTpResult::BadLength},                  // 8 in a single frame
      {{0x10, 0x07, 1, 2, 3, 4, 5, 6}, EmuIsoTpResult::BadLength},               // 7 in a first frame
      {{0x10, 0x14, 1, 2, 3, 4, 5}, EmuIsoTpResult::BadLength},                  // a first frame not full
      {{}, EmuIsoTpResult::BadFrame},
      {{0x02, 1, 2, 0, 0, 0, 0, 0, 0}, EmuIsoTpResult::BadFrame},                // 9 bytes
      {{0x40, 1, 2}, EmuIsoTpResult::BadFrame},                                  // frame type 4
      {{0xF1, 1, 2}, EmuIsoTpResult::BadFrame},
      {{0x30, 0x00, 0x0A}, EmuIsoTpResult::FlowControl},
  };
  for (const Case& c : cases) {
    auto r = Receiver();
    EXPECT_EQ(Take(*r, c.frame), c.result) << testing::PrintToString(c.frame);
  }

  // A consecutive frame shorter than what is left of the message drops it.
  auto r = Receiver();
  ASSERT_EQ(Take(*r, Frame{0x10, 0x0A, 1, 2, 3, 4, 5, 6}), EmuIsoTpResult::Pending);
  EXPECT_EQ(Take(*r, Frame{0x21, 7, 8, 9}), EmuIsoTpResult::BadLength);
  EXPECT_EQ(Take(*r, Frame{0x21, 7, 8, 9, 10}), EmuIsoTpResult::Unexpected);

  // Held: as many bytes as the receiver's capacity, one more is an overflow.
  r->capacity = 20;
  EXPECT_EQ(Take(*r, Frame{0x10, 21, 1, 2, 3, 4, 5, 6}), EmuIsoTpResult::Overflow);
  EXPECT_EQ(Take(*r, Frame{0x21, 7, 8, 9, 10, 11, 12, 13}), EmuIsoTpResult::Unexpected);
  EXPECT_EQ(TakeAll(*r, Frames(Message(20))), EmuIsoTpResult::Complete);
}

// The flow control a receiver answers with, written and read back; what is not one is refused.
TEST(IsoTpFlowControl, WrittenAndReadBack) {
  uint8_t f[EMU_ISOTP_FRAME_BYTES];
  for (EmuIsoTpFlow status : {EmuIsoTpFlow::ContinueToSend, EmuIsoTpFlow::Wait, EmuIsoTpFlow::Overflow}) {
    ASSERT_EQ(emu_IsoTpWriteFlowControl({status, 8, 0xF5}, f), 3);
    EXPECT_EQ(f[0], 0x30 | static_cast<uint8_t>(status));
    EXPECT_EQ(f[1], 8);
    EXPECT_EQ(f[2], 0xF5);
    EmuIsoTpFlowControl read{};
    ASSERT_TRUE(emu_IsoTpReadFlowControl(f, EMU_ISOTP_FRAME_BYTES, &read));  // filled to 8 bytes too
    EXPECT_EQ(read.status, status);
    EXPECT_EQ(read.blockSize, 8);
    EXPECT_EQ(read.stMin, 0xF5);
  }
  EmuIsoTpFlowControl read{};
  const Frame notOnes[] = {{0x33, 0, 0}, {0x30, 0}, {0x21, 0, 0}, {0x30, 0, 0, 0, 0, 0, 0, 0, 0}};
  for (const Frame& n : notOnes) EXPECT_FALSE(emu_IsoTpReadFlowControl(n.data(), n.size(), &read)) << testing::PrintToString(n);
}
