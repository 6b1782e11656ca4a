// Fuzz target: CAN frames as a receiver gets them off the bus. The input is a run of frames,
// each a length byte (its low four bits: 0 to 15 bytes, so that frames over 8 bytes come too)
// and the frame's bytes; the first byte sets the receiver's capacity. Whatever arrives, the
// receiver stays within its buffer, and every message it completes, cut into frames again and
// taken by a second receiver, comes out the same.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "bus/iso_tp.h"

namespace {

void emu_FuzzFail(const char* what) {
  fprintf(stderr, "iso_tp: %s\n", what);
  abort();
}

void emu_FuzzRoundTrip(const EmuIsoTpReceiver& got) {
  auto again = std::make_unique<EmuIsoTpReceiver>();
  const uint16_t frames = emu_IsoTpFrameCount(got.length);
  if (frames == 0) emu_FuzzFail("a completed message that has no frames");
  EmuIsoTpResult last = EmuIsoTpResult::BadFrame;
  for (uint16_t i = 0; i < frames; ++i) {
    uint8_t f[EMU_ISOTP_FRAME_BYTES];
    const uint8_t n = emu_IsoTpFrame(got.message, got.length, i, f);
    if (n == 0 || n > EMU_ISOTP_FRAME_BYTES) emu_FuzzFail("a frame of no or too many bytes");
    last = emu_IsoTpReceive(again.get(), f, n);
    if (i + 1 < frames && last != EmuIsoTpResult::Pending) emu_FuzzFail("own frames refused");
  }
  if (last != EmuIsoTpResult::Complete || again->length != got.length ||
      memcmp(again->message, got.message, got.length) != 0)
    emu_FuzzFail("a message changed on its way through the framer");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  auto r = std::make_unique<EmuIsoTpReceiver>();
  r->capacity = static_cast<uint16_t>(data[0] == 0 ? EMU_ISOTP_MAX_MESSAGE : data[0] * 16u);
  for (size_t at = 1; at < size;) {
    const size_t n = data[at] & 0x0F;
    ++at;
    const size_t take = n < size - at ? n : size - at;
    const EmuIsoTpResult result = emu_IsoTpReceive(r.get(), data + at, take);
    at += take;
    if (r->received > r->length || r->length > EMU_ISOTP_MAX_MESSAGE) emu_FuzzFail("past the message");
    if (result == EmuIsoTpResult::Complete) {
      if (r->length == 0 || r->received != r->length) emu_FuzzFail("an incomplete message completed");
      if (r->length > EMU_ISOTP_SINGLE_MAX && r->length > r->capacity) emu_FuzzFail("over the capacity");
      emu_FuzzRoundTrip(*r);
    }
  }
  return 0;
}
