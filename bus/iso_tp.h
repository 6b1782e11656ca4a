// ISO 15765-2 on CAN, in bytes: a message cut into frames (a single frame up to 7 bytes, else a
// first frame with the length in 12 bits and 6 bytes, then consecutive frames of 7 numbered
// 1..F, 0, 1, ...), the flow control a receiver answers a first frame with, and the frames put
// together again with the faults a receiver sees. The frames here are the protocol control
// information and the data only: filling a frame to 8 bytes, identifiers and the text an adapter
// prints are the adapter's.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr uint8_t EMU_ISOTP_FRAME_BYTES = 8;
constexpr uint8_t EMU_ISOTP_SINGLE_MAX = 7;       // data bytes of a single frame
constexpr uint8_t EMU_ISOTP_FIRST_BYTES = 6;      // data bytes of a first frame
constexpr uint8_t EMU_ISOTP_CONSECUTIVE_BYTES = 7;
constexpr uint16_t EMU_ISOTP_MAX_MESSAGE = 4095;  // the first frame's 12-bit length

// Frames of a message of this many bytes: 1 up to 7, more above; 0 for an empty message and for
// one longer than 4095 bytes, which have none.
constexpr uint16_t emu_IsoTpFrameCount(size_t length) {
  if (length == 0 || length > EMU_ISOTP_MAX_MESSAGE) return 0;
  if (length <= EMU_ISOTP_SINGLE_MAX) return 1;
  return static_cast<uint16_t>(1 + (length - EMU_ISOTP_FIRST_BYTES + EMU_ISOTP_CONSECUTIVE_BYTES - 1) /
                                       EMU_ISOTP_CONSECUTIVE_BYTES);
}

// Frame `index` (0: the single or first frame) of the message into frame; returns its bytes,
// without filling (a single frame 1 + length, a first frame 8, the last consecutive frame what
// is left); 0 when the message has no such frame.
uint8_t emu_IsoTpFrame(const uint8_t* message, size_t length, uint16_t index, uint8_t frame[EMU_ISOTP_FRAME_BYTES]);

// ---------------------------------------------------------------------------------------------
// Flow control

enum class EmuIsoTpFlow : uint8_t { ContinueToSend = 0, Wait = 1, Overflow = 2 };

struct EmuIsoTpFlowControl {
  EmuIsoTpFlow status;
  uint8_t blockSize;  // consecutive frames before the next flow control; 0: all of them
  uint8_t stMin;      // the least time between consecutive frames (00-7F ms, F1-F9 100-900 us)
};

// Writes the flow control frame (3 bytes: 3x, block size, separation time); returns 3.
uint8_t emu_IsoTpWriteFlowControl(const EmuIsoTpFlowControl& fc, uint8_t frame[EMU_ISOTP_FRAME_BYTES]);
// Reads one; false when the n bytes are no flow control frame (type 3, status 0-2, 3 bytes).
bool emu_IsoTpReadFlowControl(const uint8_t* frame, size_t n, EmuIsoTpFlowControl* fc);

// ---------------------------------------------------------------------------------------------
// Receiving

enum class EmuIsoTpResult : uint8_t {
  Complete,       // the frame completed a message: message[0..length)
  Pending,        // taken; more frames to come (after a first frame: answer with a flow control)
  FlowControl,    // a flow control frame, for the sending side; nothing taken
  WrongSequence,  // a consecutive frame out of turn: the message under way is dropped
  Unexpected,     // a consecutive frame with no message under way
  BadLength,      // lengths that do not fit: a single frame of 0 or more bytes than it carries,
                  // a first frame under 8 bytes or not full, a short consecutive frame; dropped
  Overflow,       // a first frame longer than the receiver holds (answer with an overflow)
  BadFrame,       // no frame at all: empty, over 8 bytes, or of frame type 4-F
};

struct EmuIsoTpReceiver {
  uint16_t capacity = EMU_ISOTP_MAX_MESSAGE;  // the longest message taken
  uint16_t length = 0;                        // the message's bytes (first frame's length)
  uint16_t received = 0;                      // of them received so far
  uint8_t sequence = 0;                       // the next consecutive frame's number
  bool underWay = false;                      // a first frame came, not all its frames yet
  uint8_t message[EMU_ISOTP_MAX_MESSAGE];
};

// Takes one received frame (its bytes as they came, filling included). A single or first frame
// while another message is under way starts over with the new one, as receivers do; the
// unfinished message is lost.
EmuIsoTpResult emu_IsoTpReceive(EmuIsoTpReceiver* r, const uint8_t* frame, size_t n);
