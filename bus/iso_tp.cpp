// The ISO 15765-2 framer: one place that knows the frame types, for every adapter that prints or
// reads CAN frames.
#include "bus/iso_tp.h"

#include <string.h>

namespace {

constexpr uint8_t SINGLE = 0x0, FIRST = 0x1, CONSECUTIVE = 0x2, FLOW_CONTROL = 0x3;
constexpr uint8_t FLOW_CONTROL_BYTES = 3;

}  // namespace

uint8_t emu_IsoTpFrame(const uint8_t* message, size_t length, uint16_t index, uint8_t frame[EMU_ISOTP_FRAME_BYTES]) {
  if (index >= emu_IsoTpFrameCount(length)) return 0;
  if (length <= EMU_ISOTP_SINGLE_MAX) {
    frame[0] = static_cast<uint8_t>(SINGLE << 4 | length);
    memcpy(frame + 1, message, length);
    return static_cast<uint8_t>(1 + length);
  }
  if (index == 0) {
    frame[0] = static_cast<uint8_t>(FIRST << 4 | (length >> 8));
    frame[1] = static_cast<uint8_t>(length & 0xFF);
    memcpy(frame + 2, message, EMU_ISOTP_FIRST_BYTES);
    return EMU_ISOTP_FRAME_BYTES;
  }
  const size_t at = EMU_ISOTP_FIRST_BYTES + (index - 1u) * EMU_ISOTP_CONSECUTIVE_BYTES;
  const size_t n = length - at < EMU_ISOTP_CONSECUTIVE_BYTES ? length - at : EMU_ISOTP_CONSECUTIVE_BYTES;
  frame[0] = static_cast<uint8_t>(CONSECUTIVE << 4 | (index & 0x0F));
  memcpy(frame + 1, message + at, n);
  return static_cast<uint8_t>(1 + n);
}

uint8_t emu_IsoTpWriteFlowControl(const EmuIsoTpFlowControl& fc, uint8_t frame[EMU_ISOTP_FRAME_BYTES]) {
  frame[0] = static_cast<uint8_t>(FLOW_CONTROL << 4 | static_cast<uint8_t>(fc.status));
  frame[1] = fc.blockSize;
  frame[2] = fc.stMin;
  return FLOW_CONTROL_BYTES;
}

bool emu_IsoTpReadFlowControl(const uint8_t* frame, size_t n, EmuIsoTpFlowControl* fc) {
  if (n < FLOW_CONTROL_BYTES || n > EMU_ISOTP_FRAME_BYTES || frame[0] >> 4 != FLOW_CONTROL) return false;
  const uint8_t status = frame[0] & 0x0F;
  if (status > static_cast<uint8_t>(EmuIsoTpFlow::Overflow)) return false;
  fc->status = static_cast<EmuIsoTpFlow>(status);
  fc->blockSize = frame[1];
  fc->stMin = frame[2];
  return true;
}

EmuIsoTpResult emu_IsoTpReceive(EmuIsoTpReceiver* r, const uint8_t* frame, size_t n) {
  if (n == 0 || n > EMU_ISOTP_FRAME_BYTES) return EmuIsoTpResult::BadFrame;
  const uint8_t type = frame[0] >> 4;
  if (type == FLOW_CONTROL) return EmuIsoTpResult::FlowControl;
  if (type == SINGLE || type == FIRST) r->underWay = false;  // whatever was under way is lost
  switch (type) {
    case SINGLE: {
      const uint8_t length = frame[0] & 0x0F;
      if (length == 0 || length > EMU_ISOTP_SINGLE_MAX || 1u + length > n) return EmuIsoTpResult::BadLength;
      memcpy(r->message, frame + 1, length);
      r->length = r->received = length;
      return EmuIsoTpResult::Complete;
    }
    case FIRST: {
      if (n < EMU_ISOTP_FRAME_BYTES) return EmuIsoTpResult::BadLength;
      const uint16_t length = static_cast<uint16_t>((frame[0] & 0x0F) << 8 | frame[1]);
      if (length <= EMU_ISOTP_SINGLE_MAX) return EmuIsoTpResult::BadLength;
      if (length > r->capacity || length > EMU_ISOTP_MAX_MESSAGE) return EmuIsoTpResult::Overflow;
      memcpy(r->message, frame + 2, EMU_ISOTP_FIRST_BYTES);
      r->length = length;
      r->received = EMU_ISOTP_FIRST_BYTES;
      r->sequence = 1;
      r->underWay = true;
      return EmuIsoTpResult::Pending;
    }
    case CONSECUTIVE: {
      if (!r->underWay) return EmuIsoTpResult::Unexpected;
      if ((frame[0] & 0x0F) != r->sequence) {
        r->underWay = false;
        return EmuIsoTpResult::WrongSequence;
      }
      const uint16_t left = static_cast<uint16_t>(r->length - r->received);
      const uint16_t take = left < EMU_ISOTP_CONSECUTIVE_BYTES ? left : EMU_ISOTP_CONSECUTIVE_BYTES;
      if (n < 1u + take) {
        r->underWay = false;
        return EmuIsoTpResult::BadLength;
      }
      memcpy(r->message + r->received, frame + 1, take);  // what follows is filling
      r->received = static_cast<uint16_t>(r->received + take);
      r->sequence = static_cast<uint8_t>((r->sequence + 1) & 0x0F);
      if (r->received < r->length) return EmuIsoTpResult::Pending;
      r->underWay = false;
      return EmuIsoTpResult::Complete;
    }
    default:
      return EmuIsoTpResult::BadFrame;
  }
}
