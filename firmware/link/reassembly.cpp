// Frame reassembly. The frames come from the module driver's frame store: slot by slot, headers
// first; the ECU is told by its header and the data begin at qimDataStartIdx. Each call starts
// from a cleared buffer and no announced length, so a response never shows bytes of an earlier
// one, whatever gaps or stray frames the answer has.
#include "link/reassembly.h"

#include <string.h>

#include "link/qim.h"
#include "mcu.h"

D2oState d2o = {{}, D2O_ReassembleNonCan, 0};

namespace {

constexpr uint8_t D2O_SIZE = D2O_OBD_DATA_BUF_SIZE;
constexpr uint8_t D2O_CAN_FRAME_BYTES = 8;      // control byte and 7 data bytes
constexpr uint8_t D2O_NON_CAN_FRAME_BYTES = 7;  // service byte and 6 bytes
constexpr uint8_t D2O_MAX_DATA_START = 4;

// Every frame, read from its data start, stays inside its slot, and the last slot inside the store.
static_assert(D2O_MAX_DATA_START + D2O_CAN_FRAME_BYTES <= QIM_FRAME_SIZE);
static_assert(D2O_MAX_DATA_START + D2O_NON_CAN_FRAME_BYTES <= QIM_FRAME_SIZE);
static_assert((QIM_MAX_FRAMES - 1) * QIM_FRAME_SIZE + QIM_FRAME_SIZE <= QIM_FRAME_BUF_SIZE);

uint8_t* const buf = d2o.d2o_obdDataBuf;

// Copies n bytes to the buffer at length, as many as fit; returns the new length.
uint8_t D2O_Append(const uint8_t* src, uint8_t n, uint8_t length) {
  if (length >= D2O_SIZE) return length;
  if (n > D2O_SIZE - length) n = static_cast<uint8_t>(D2O_SIZE - length);
  memcpy(&buf[length], src, n);
  return static_cast<uint8_t>(length + n);
}

// Whole trouble codes that still fit behind the given length.
uint8_t D2O_DtcsThatFit(uint8_t codes, uint8_t length) {
  uint8_t room = length < D2O_SIZE ? static_cast<uint8_t>((D2O_SIZE - length) / 2) : 0;
  return codes < room ? codes : room;
}

bool D2O_IsDtcService(uint8_t sid) { return sid == 0x43 || sid == 0x47 || sid == 0x4A; }

// The first frame of a non-CAN response sets up its layout; see D2O_NonCanNextFrame.
uint8_t D2O_NonCanFirstFrame(const uint8_t* frame) {
  const uint8_t sid = frame[0];
  if (D2O_IsDtcService(sid)) {
    uint8_t codes[6];
    memcpy(codes, &frame[1], sizeof codes);
    uint8_t count = D2O_GetNoOfDtcs(codes);
    buf[0] = sid;
    buf[1] = count;
    return D2O_Append(codes, static_cast<uint8_t>(2 * count), 2);
  }
  if (sid == 0x44) {
    buf[0] = sid;
    return 1;
  }
  if (sid == 0x7F) return D2O_Append(frame, 3, 0);  // 7F, rejected service, response code
  if (sid != 0x49) return D2O_Append(frame, D2O_NON_CAN_FRAME_BYTES, 0);

  // Service 09 frames are 49, info type, message number, 4 data bytes. The response gets the
  // layout of a CAN answer: 49, info type, item count, the items.
  const uint8_t type = frame[1];
  buf[0] = sid;
  buf[1] = type;
  switch (type) {
    case 0x00:  // supported info types: no item count
      return D2O_Append(&frame[3], 4, 2);
    case 0x02:  // VIN: three filler bytes before the first character
      buf[2] = 1;
      return D2O_Append(&frame[6], 1, 3);
    case 0x04:  // CAL IDs: one counts once its 16 characters are in
      buf[2] = 0;
      return D2O_Append(&frame[3], 4, 3);
    case 0x06:  // CVNs: 4 bytes each
    case 0x0A:  // ECU name
      buf[2] = 1;
      return D2O_Append(&frame[3], 4, 3);
    case 0x08:  // IPT counters: two per frame
    case 0x0B:
      buf[2] = 2;
      return D2O_Append(&frame[3], 4, 3);
    default:
      return D2O_Append(frame, D2O_NON_CAN_FRAME_BYTES, 0);
  }
}

// A following frame only adds to a response of its own service (and info type): a frame that
// contradicts the first one is left out rather than mixed in.
uint8_t D2O_NonCanNextFrame(const uint8_t* frame, uint8_t length) {
  const uint8_t sid = frame[0];
  if (sid != buf[0]) return length;
  if (sid == 0x41) return D2O_Append(&frame[2], 5, length);
  if (sid == 0x42) return D2O_Append(&frame[3], 4, length);
  if (D2O_IsDtcService(sid)) {
    uint8_t codes[6];
    memcpy(codes, &frame[1], sizeof codes);
    uint8_t count = D2O_GetNoOfDtcs(codes);
    buf[1] = static_cast<uint8_t>(buf[1] + D2O_DtcsThatFit(count, length));
    return D2O_Append(codes, static_cast<uint8_t>(2 * count), length);
  }
  if (sid != 0x49 || frame[1] != buf[1]) return length;

  // The item count in byte 2 only counts items that are complete inside the buffer.
  switch (frame[1]) {
    case 0x04:  // the frame that completes a 16-character CAL ID (lengths 15, 31, 47)
      if (length < 48 && (length + 1) % 16 == 0) ++buf[2];
      break;
    case 0x06:
      if (length < 48) ++buf[2];
      break;
    case 0x08:
    case 0x0B:
      if (length < 48) {
        buf[2] = static_cast<uint8_t>(buf[2] + 2);
      } else if (length < 50) {
        ++buf[2];
      }
      break;
    default:
      break;
  }
  return D2O_Append(&frame[3], 4, length);
}

}  // namespace

void D2O_InitState() {
  memset(&d2o, 0, sizeof d2o);
  d2o.D2O_FrameReassembler = D2O_ReassembleNonCan;
}

void D2O_Init() {
  d2o.D2O_FrameReassembler = (qimProtocol & 0x20) != 0 ? D2O_ReassembleCan : D2O_ReassembleNonCan;
}

uint8_t D2O_GetNoOfDtcs(uint8_t* bytes) {
  uint8_t count = 0;
  for (uint8_t i = 0; i < 3; ++i) {
    uint8_t high = bytes[2 * i];
    uint8_t low = bytes[2 * i + 1];
    if (high == 0 && low == 0) continue;  // filler
    bytes[2 * count] = high;
    bytes[2 * count + 1] = low;
    ++count;
  }
  for (uint8_t i = count; i < 3; ++i) bytes[2 * i] = bytes[2 * i + 1] = 0;
  return count;
}

uint8_t D2O_ReassembleNonCan(const uint8_t* frame, uint8_t length) {
  return length == 0 ? D2O_NonCanFirstFrame(frame) : D2O_NonCanNextFrame(frame, length);
}

uint8_t D2O_ReassembleCan(const uint8_t* frame, uint8_t length) {
  const uint8_t pci = frame[0];

  if (pci >= 0x01 && pci <= 0x07) {  // single frame of pci bytes
    memcpy(buf, &frame[1], pci);
    return pci;
  }

  if ((pci & 0xF0) == 0x10) {  // first frame: 12-bit total length, then 6 bytes
    uint16_t total = static_cast<uint16_t>(((pci & 0x0F) << 8) | frame[1]);
    if (total <= 7) return 0;  // would have been a single frame
    d2o.d2o_expectedLength = total < D2O_SIZE ? total : D2O_SIZE;
    memcpy(buf, &frame[2], 6);
    return 6;
  }

  if (pci == 0x20) return 0;  // sequence number 0: the message wrapped past anything kept

  if ((pci & 0xF0) == 0x20) {  // consecutive frame: its place comes from the sequence number
    const uint8_t pos = static_cast<uint8_t>(7 * (pci & 0x0F) - 1);
    const uint16_t expected = d2o.d2o_expectedLength;
    // Without a first frame, or once the announced length is reached, nothing more is taken.
    uint8_t count = 0;
    if (length + 6 < expected) {
      count = 7;
    } else if (length < expected) {
      count = static_cast<uint8_t>(expected - length);
    }
    if (pos + count > D2O_SIZE) {
      if (pos > D2O_SIZE - 2) return length;  // sequence numbers 8 and above
      count = static_cast<uint8_t>(D2O_SIZE - pos);
    }
    memcpy(&buf[pos], &frame[1], count);
    return static_cast<uint8_t>(length + count);
  }

  if (pci >= 0x30) return length;  // flow control and others
  return 0;                        // 0x00 and 0x08 to 0x0F: no valid frame
}

const uint8_t* D2O_GetObdData(uint8_t* length, uint8_t ecuAddr) {
  memset(buf, 0, D2O_SIZE);
  d2o.d2o_expectedLength = 0;
  uint8_t start = qim.qimDataStartIdx;  // 3 or 4, by the header format
  if (start > D2O_MAX_DATA_START) start = D2O_MAX_DATA_START;
  uint8_t frames = qim.qimNoOfFrames <= QIM_MAX_FRAMES ? qim.qimNoOfFrames : QIM_MAX_FRAMES;
  uint8_t len = 0;
  for (uint8_t slot = 0; slot < frames; ++slot) {
    if (QIM_GetEcuAddr(slot) != ecuAddr) continue;
    len = d2o.D2O_FrameReassembler(&qim.qimFrameBuf[slot * QIM_FRAME_SIZE + start], len);
    if (len == 0) break;
  }
  *length = len;
  return buf;
}
