// Frame reassembly driven by module answers as text: each answer goes through the receive
// parser into the frame store, and the response of one ECU is read back with D2O_GetObdData.
// Random frame sets, written straight into the store, go through reassembly and every decoder.
#include "firmware/link/reassembly.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "firmware/link/qim.h"
#include "firmware/mcu.h"
#include "firmware/obd/dtcs.h"
#include "firmware/obd/reading.h"
#include "controller/controller.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string HexByte(unsigned b) {
  char s[3];
  snprintf(s, sizeof s, "%02X", b & 0xFF);
  return s;
}

std::string HexBytes(const Bytes& bytes) {
  std::string s;
  for (uint8_t b : bytes) s += HexByte(b);
  return s;
}

// An 11-bit CAN line in the module's ATOF1 format: identifier 000007xx, then the control byte and
// data, filled with 00 to 8 bytes as the module does.
std::string CanLine(uint8_t ecu, const std::string& pciAndData) {
  std::string data = pciAndData;
  while (data.size() < 16) data += "00";
  return "000007" + HexByte(ecu) + data;
}

// A non-CAN line with headers: 48 6B, the ECU, the data, the checksum.
std::string NonCanLine(uint8_t ecu, const std::string& data) {
  std::string line = "486B" + HexByte(ecu) + data;
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < line.size(); i += 2) sum += std::stoul(line.substr(i, 2), nullptr, 16);
  return line + HexByte(sum);
}

// Feeds a whole OBD answer (summary line, the lines, empty line, prompt) through the parser.
void Answer(const std::vector<std::string>& lines) {
  QIM_InitRx(QIM_EXP_OBD);
  std::string text = ":" + HexByte(static_cast<unsigned>(lines.size() * 12)) +
                     HexByte(static_cast<unsigned>(lines.size())) + "\r";
  for (const std::string& line : lines) text += line + "\r";
  text += "\r>";
  uint8_t code = 0;
  for (char ch : text) code = QIM_ProcessRxData(static_cast<uint8_t>(ch));
  ASSERT_EQ(code, QIM_RESP_OBD_DATA);
  ASSERT_EQ(qim.qimNoOfFrames, std::min<size_t>(lines.size(), QIM_MAX_FRAMES));
}

Bytes Data(uint8_t ecu) {
  uint8_t length = 0xEE;
  const uint8_t* data = D2O_GetObdData(&length, ecu);
  EXPECT_LE(length, D2O_OBD_DATA_BUF_SIZE);
  return Bytes(data, data + length);
}

Bytes Seq(uint8_t first, size_t n) {
  Bytes b;
  for (size_t i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(first + i));
  return b;
}

// The lines of a CAN message of the given payload, cut as the module cuts it.
std::vector<std::string> CanMessage(uint8_t ecu, const Bytes& payload, size_t announced) {
  std::vector<std::string> lines;
  if (payload.size() <= 7) {
    lines.push_back(
        CanLine(ecu, HexByte(static_cast<unsigned>(payload.size())) + HexBytes(payload)));
    return lines;
  }
  lines.push_back(CanLine(ecu, HexByte(0x10 | ((announced >> 8) & 0x0F)) +
                                   HexByte(announced & 0xFF) +
                                   HexBytes(Bytes(payload.begin(), payload.begin() + 6))));
  for (size_t at = 6, seq = 1; at < payload.size(); at += 7, ++seq) {
    Bytes part(payload.begin() + at, payload.begin() + std::min(at + 7, payload.size()));
    lines.push_back(CanLine(ecu, HexByte(0x20 | (seq & 0x0F)) + HexBytes(part)));
  }
  return lines;
}

class ReassemblyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pthread_mutex_init(&qimMutex, nullptr);
    tarnic_InitVars();
  }
  void TearDown() override { pthread_mutex_destroy(&qimMutex); }

  static void UseCan() {
    qimProtocol = 0x26;  // ISO 15765-4, 11 bit, 500 kbit/s
    QIM_SetDataStartIdx();
    D2O_Init();
  }
  static void UseNonCan() {
    qimProtocol = 0x13;  // ISO 9141-2
    QIM_SetDataStartIdx();
    D2O_Init();
  }
};

// ---------------------------------------------------------------------------------------------
// CAN

TEST_F(ReassemblyTest, CanSingleFramesOfSeveralEcusStayApart) {
  UseCan();
  Answer({CanLine(0xE8, "064100BE3EB811"), CanLine(0xE9, "06410080000001")});
  EXPECT_EQ(Data(0xE8), (Bytes{0x41, 0x00, 0xBE, 0x3E, 0xB8, 0x11}));
  EXPECT_EQ(Data(0xE9), (Bytes{0x41, 0x00, 0x80, 0x00, 0x00, 0x01}));
  EXPECT_EQ(Data(0xEA), Bytes{});
}

TEST_F(ReassemblyTest, CanFirstAndConsecutiveFramesOfInterleavedEcus) {
  UseCan();
  // Two VINs (20 bytes each, announced as 0x14) whose frames arrive interleaved.
  Bytes vin1 = {0x49, 0x02, 0x01};
  Bytes vin2 = vin1;
  for (char c : std::string("WP0ZZZ99ZTS392124")) vin1.push_back(static_cast<uint8_t>(c));
  for (char c : std::string("1G1JC5444R7252367")) vin2.push_back(static_cast<uint8_t>(c));
  auto a = CanMessage(0xE8, vin1, vin1.size());
  auto b = CanMessage(0xE9, vin2, vin2.size());
  ASSERT_EQ(a[0].substr(8, 4), "1014");
  Answer({a[0], b[0], b[1], a[1], a[2], b[2]});
  EXPECT_EQ(Data(0xE8), vin1);
  EXPECT_EQ(Data(0xE9), vin2);
}

TEST_F(ReassemblyTest, CanConsecutiveFramesLandBySequenceNumber) {
  UseCan();
  // Frame 1 missing: frame 2 still lands at 13 and the gap reads as zeros, not as bytes of the
  // response read before.
  Bytes payload = Seq(0x40, 20);
  auto lines = CanMessage(0xE8, payload, payload.size());
  Answer(lines);
  ASSERT_EQ(Data(0xE8), payload);
  Answer({lines[0], lines[2]});
  Bytes expected = payload;
  std::fill(expected.begin() + 6, expected.begin() + 13, 0);
  expected.resize(13);  // 6 from the first frame and the 7 of frame 2
  EXPECT_EQ(Data(0xE8), expected);

  // Repeated frames never make the response longer than announced, and a stray consecutive
  // frame after a single frame adds nothing.
  Answer({lines[0], lines[1], lines[1], lines[1], lines[2], lines[2]});
  EXPECT_EQ(Data(0xE8).size(), payload.size());
  Answer({CanLine(0xE8, "0543010133"), lines[1]});
  EXPECT_EQ(Data(0xE8), (Bytes{0x43, 0x01, 0x01, 0x33, 0x00}));

  // Flow control and other control bytes from 0x30 on are passed over.
  Answer({lines[0], CanLine(0xE8, "300000"), lines[1], lines[2]});
  EXPECT_EQ(Data(0xE8), payload);
}

TEST_F(ReassemblyTest, CanMessageLongerThanTheBufferIsCutTo51) {
  UseCan();
  for (size_t announced : {100u, 0xFFFu}) {
    SCOPED_TRACE(announced);
    // First frame and 15 consecutive frames: the most the frame store holds for one answer.
    Bytes payload = Seq(0x01, 6 + 15 * 7);
    auto lines = CanMessage(0xE8, payload, announced);
    ASSERT_EQ(lines.size(), 16u);
    Answer(lines);
    // Frames 1 to 6 whole (positions 6 to 47), frame 7 three bytes (48 to 50), the rest ignored.
    EXPECT_EQ(Data(0xE8), Bytes(payload.begin(), payload.begin() + 51));
    EXPECT_EQ(d2o.D2O_FrameReassembler, D2O_ReassembleCan);  // nothing written past the buffer
  }

  // Three CAL IDs: 51 bytes announced (0x33) fill the buffer exactly.
  Bytes cal = {0x49, 0x04, 0x03};
  for (int i = 0; i < 48; ++i) cal.push_back(static_cast<uint8_t>('A' + i % 26));
  Answer(CanMessage(0xE8, cal, cal.size()));
  EXPECT_EQ(Data(0xE8), cal);
}

TEST_F(ReassemblyTest, CanFramesThatEndTheResponse) {
  UseCan();
  Bytes payload = Seq(0x10, 20);
  auto lines = CanMessage(0xE8, payload, payload.size());
  struct Case {
    const char* what;
    std::vector<std::string> lines;
  } cases[] = {
      {"sequence number 0 (wrap after 15)", {lines[0], lines[1], CanLine(0xE8, "20AABBCC")}},
      {"control byte 0x08", {CanLine(0xE8, "0841000102030405")}},
      {"control byte 0x00", {CanLine(0xE8, "00410001")}},
      {"first frame announcing 7 bytes", {CanLine(0xE8, "1007490201020304"), lines[1]}},
      {"first frame announcing 0 bytes", {CanLine(0xE8, "1000490201020304"), lines[1]}},
      {"consecutive frame without first frame", {lines[1], lines[2]}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Answer(c.lines);
    EXPECT_EQ(Data(0xE8), Bytes{});
  }

  // A length announced to one ECU does not carry over to another ECU's stray frame.
  Answer({lines[0], lines[1], lines[2], CanLine(0xE9, "21010203040506")});
  EXPECT_EQ(Data(0xE8), payload);
  EXPECT_EQ(Data(0xE9), Bytes{});
}

TEST_F(ReassemblyTest, CanTroubleCodesDecodeToTheirNames) {
  UseCan();
  // Three confirmed codes, as an 11-bit CAN ECU sends them: first frame 10 08, then one more.
  Answer({CanLine(0xE8, "1008430301000101"), CanLine(0xE8, "21010200000000")});
  Bytes data = Data(0xE8);
  EXPECT_EQ(data, (Bytes{0x43, 0x03, 0x01, 0x00, 0x01, 0x01, 0x01, 0x02}));
  OBD_SetEcuAddr(0xE8);
  ASSERT_EQ(OBD_DecodeDtcRespData(data.data(), static_cast<uint8_t>(data.size()), 0x03), 1);
  ASSERT_EQ(OBD_GetNumDtcs(0, 0x03), 3);
  char name[OBD_DTC_TXT_SIZE];
  OBD_DtcToTxt(name, OBD_GetDtc(0, 0x03, 2));
  EXPECT_STREQ(name, "P0102");
}

// ---------------------------------------------------------------------------------------------
// Non-CAN

TEST_F(ReassemblyTest, NonCanTroubleCodeFramesAreCompactedAndCounted) {
  UseNonCan();
  Answer({NonCanLine(0x10, "43013300000000"), NonCanLine(0x10, "43013401350000")});
  EXPECT_EQ(Data(0x10), (Bytes{0x43, 0x03, 0x01, 0x33, 0x01, 0x34, 0x01, 0x35}));

  // No codes: one frame of filler.
  Answer({NonCanLine(0x10, "47000000000000")});
  EXPECT_EQ(Data(0x10), (Bytes{0x47, 0x00}));

  // Filler before a code, and a code whose first byte is zero.
  Answer({NonCanLine(0x10, "43000000010001")});
  EXPECT_EQ(Data(0x10), (Bytes{0x43, 0x02, 0x00, 0x01, 0x00, 0x01}));
}

TEST_F(ReassemblyTest, NonCanTroubleCodesBeyondTheBufferAreNotCounted) {
  UseNonCan();
  // 1 code, then frames of 3: after 7 full frames the length is 46 and 22 codes are in; the next
  // frame has room for 2 whole codes and half of the third.
  std::vector<std::string> lines = {NonCanLine(0x10, "43010000000000")};
  Bytes expected = {0x43, 0, 0x01, 0x00};
  for (int f = 0; f < 8; ++f) {
    Bytes codes;
    for (int c = 0; c < 3; ++c) codes.insert(codes.end(), {0x02, static_cast<uint8_t>(3 * f + c)});
    lines.push_back(NonCanLine(0x10, "43" + HexBytes(codes)));
    expected.insert(expected.end(), codes.begin(), codes.end());
  }
  expected.resize(51);
  expected[1] = 24;
  Answer(lines);
  Bytes data = Data(0x10);
  EXPECT_EQ(data, expected);

  // Every whole code in the buffer is a stored code; the half one is not.
  OBD_SetEcuAddr(0x10);
  OBD_DecodeDtcRespData(data.data(), static_cast<uint8_t>(data.size()), 0x03);
  EXPECT_EQ(OBD_GetNumDtcs(0, 0x03), OBD_MAX_DTCS_PER_SLOT);

  // From length 48: one more code fits.
  lines = {NonCanLine(0x10, "43010101020000")};
  for (int f = 0; f < 8; ++f) lines.push_back(NonCanLine(0x10, "43030303030303"));
  Answer(lines);
  data = Data(0x10);
  ASSERT_EQ(data.size(), 51u);
  EXPECT_EQ(data[1], 2 + 7 * 3 + 1);
}

TEST_F(ReassemblyTest, NonCanServiceNineItemsAreCountedAsTheyComplete) {
  UseNonCan();
  // VIN: five frames; the first carries three filler bytes before the first character.
  std::string vin = "WP0ZZZ99ZTS392124";
  std::string padded = std::string(3, '\0') + vin;
  std::vector<std::string> lines;
  for (int k = 0; k < 5; ++k) {
    Bytes part(padded.begin() + 4 * k, padded.begin() + 4 * k + 4);
    lines.push_back(NonCanLine(0x10, "4902" + HexByte(k + 1) + HexBytes(part)));
  }
  Answer(lines);
  Bytes expected = {0x49, 0x02, 0x01};
  expected.insert(expected.end(), vin.begin(), vin.end());
  EXPECT_EQ(Data(0x10), expected);

  struct Case {
    uint8_t type;
    int frames;
    uint8_t count;  // item count in byte 2
  } cases[] = {
      {0x04, 4, 1},    // one CAL ID of 16 characters
      {0x04, 7, 1},    // the second is not complete yet
      {0x04, 12, 3},   // three fill the buffer
      {0x04, 16, 3},   // a fourth does not fit
      {0x06, 3, 3},    // CVNs, one per frame
      {0x06, 13, 12},  // the 13th does not fit
      {0x08, 10, 20},  // IPT counters, two per frame
      {0x0B, 12, 24},  // the 12th frame fills the buffer
      {0x0B, 13, 24},  // the 13th does not fit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << int(c.type) << ", " << c.frames << " frames");
    lines.clear();
    Bytes items;
    for (int k = 0; k < c.frames; ++k) {
      Bytes part = Seq(static_cast<uint8_t>(0x30 + 4 * k), 4);
      lines.push_back(NonCanLine(0x10, "49" + HexByte(c.type) + HexByte(k + 1) + HexBytes(part)));
      items.insert(items.end(), part.begin(), part.end());
    }
    Answer(lines);
    expected = {0x49, c.type, c.count};
    expected.insert(expected.end(), items.begin(), items.end());
    if (expected.size() > 51) expected.resize(51);
    EXPECT_EQ(Data(0x10), expected);
  }

  // Supported info types carry no item count; message counts keep the frame as it is.
  Answer({NonCanLine(0x10, "49000155400000")});
  EXPECT_EQ(Data(0x10), (Bytes{0x49, 0x00, 0x55, 0x40, 0x00, 0x00}));
  Answer({NonCanLine(0x10, "490105")});
  Bytes data = Data(0x10);
  ASSERT_EQ(data.size(), 7u);
  EXPECT_EQ(data[2], 0x05);
}

TEST_F(ReassemblyTest, NonCanOtherServices) {
  UseNonCan();
  // Current data spread over two frames (PID 70): the second adds its five data bytes.
  Answer({NonCanLine(0x10, "41700102030405"), NonCanLine(0x10, "41700607080910")});
  EXPECT_EQ(Data(0x10), (Bytes{0x41, 0x70, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x10}));

  // Clear answers of two ECUs: positive, and negative with its code.
  Answer({NonCanLine(0x10, "44"), NonCanLine(0x18, "7F0422")});
  Bytes first = Data(0x10);
  Bytes second = Data(0x18);
  EXPECT_EQ(first, Bytes{0x44});
  EXPECT_EQ(second, (Bytes{0x7F, 0x04, 0x22}));
  EXPECT_EQ(OBD_DecodeClearDtcRespData(first.data(), static_cast<uint8_t>(first.size())), 0x44);
  EXPECT_EQ(OBD_DecodeClearDtcRespData(second.data(), static_cast<uint8_t>(second.size())), 0x22);
}

TEST_F(ReassemblyTest, NonCanEcusAreTakenApartAndContradictoryFramesLeftOut) {
  UseNonCan();
  Answer({NonCanLine(0x10, "43013300000000"), NonCanLine(0x18, "43C12300000000"),
          NonCanLine(0x10, "43013400000000"), NonCanLine(0x10, "49020100000031"),
          NonCanLine(0x18, "43000000000000")});
  EXPECT_EQ(Data(0x10), (Bytes{0x43, 0x02, 0x01, 0x33, 0x01, 0x34}));
  EXPECT_EQ(Data(0x18), (Bytes{0x43, 0x01, 0xC1, 0x23}));

  // ISO 14230-4 frames with a separate length byte: the data start one byte later.
  qim.qimDataStartIdx = 4;
  Answer({"80F11006410D2F00", "80F11806410D3000"});
  EXPECT_EQ(Data(0x18), (Bytes{0x41, 0x0D, 0x30, 0x00, 0x00, 0x00, 0x00}));
}

// ---------------------------------------------------------------------------------------------
// Random frame sets through reassembly and every decoder

// Frame sets as the parser leaves them in the store, drawn to be wrong in the ways a vehicle or
// a bad line can be. Half are whole messages of three ECUs, interleaved, with faults: first
// frames announcing 0 to 4095 bytes, consecutive frames missing, repeated or out of sequence,
// service 09 items and trouble code lists of any count, negative answers with and without their
// code, lines cut short. The other half are single frames of any kind: lengths 0 to 8, flow
// control, service bytes and PIDs that contradict the ECU's first frame. Plain arrays: this
// runs 100,000 times in Debug and sanitizer builds.
class FrameSetMaker {
 public:
  explicit FrameSetMaker(uint32_t seed) : rng_(seed) {}

  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }

  void Fill(bool can) {
    memset(qim.qimFrameBuf, 0, sizeof qim.qimFrameBuf);
    Frames frames[3];
    for (Frames& list : frames) {
      if (Below(2) == 0) {
        Message(can, list);
      } else {
        for (uint32_t n = Below(8); n > 0; --n) AnyFrame(can, list.New());
      }
    }
    // Interleaved in arrival order, as many as the store holds.
    uint8_t count = 0;
    while (count < QIM_MAX_FRAMES && !(frames[0].Done() && frames[1].Done() && frames[2].Done())) {
      const uint8_t ecu = static_cast<uint8_t>(Below(3));
      if (!frames[ecu].Done()) Put(count++, ecu, can, frames[ecu].Next());
    }
    // Now and then a count beyond the store, which the parser never leaves but nothing may trust.
    qim.qimNoOfFrames = Below(50) == 0 ? static_cast<uint8_t>(QIM_MAX_FRAMES + Below(240)) : count;
  }

 private:
  static constexpr uint8_t FRAME_BYTES = QIM_FRAME_SIZE - 3;
  struct Frame {
    uint8_t b[FRAME_BYTES];
    uint8_t n;
    void Add(uint8_t v) {
      if (n < FRAME_BYTES) b[n++] = v;
    }
  };
  // One ECU's frames in order; those beyond what the store could take are dropped.
  struct Frames {
    Frame f[QIM_MAX_FRAMES];
    Frame spare;
    uint8_t n = 0;
    uint8_t next = 0;
    Frame& New() {
      Frame& frame = n < QIM_MAX_FRAMES ? f[n++] : spare;
      frame.n = 0;
      return frame;
    }
    bool Done() const { return next >= n; }
    const Frame& Next() { return f[next++]; }
  };

  template <size_t N>
  uint8_t Pick(const uint8_t (&values)[N]) {
    return values[Below(N)];
  }
  uint8_t Byte() { return Below(4) == 0 ? 0 : static_cast<uint8_t>(rng_()); }

  // One frame into its slot: random header bytes with the ECU's address, the frame from the data
  // start, sometimes cut short (the parser clears what a short line did not reach).
  void Put(uint8_t f, uint8_t ecu, bool can, const Frame& frame) {
    uint8_t* slot = &qim.qimFrameBuf[f * QIM_FRAME_SIZE];
    for (uint8_t i = 0; i < qim.qimDataStartIdx; ++i) slot[i] = static_cast<uint8_t>(rng_());
    slot[can ? 3 : 2] = static_cast<uint8_t>(0x10 + ecu);
    uint32_t n = std::min<uint32_t>(frame.n, QIM_FRAME_SIZE - qim.qimDataStartIdx);
    if (Below(10) == 0) n = Below(n + 1);
    memcpy(slot + qim.qimDataStartIdx, frame.b, n);
  }

  void AnyFrame(bool can, Frame& frame) {
    static const uint8_t SERVICES[] = {0x41, 0x42, 0x43, 0x44, 0x47, 0x49, 0x4A, 0x7F, 0x00, 0xFF};
    static const uint8_t PIDS[] = {0x00, 0x01, 0x02, 0x03, 0x06, 0x0C, 0x13, 0x14, 0x1D, 0x1F,
                                   0x20, 0x24, 0x34, 0x41, 0x4F, 0x50, 0x51, 0x55, 0x70, 0xFF};
    if (can) {
      static const uint8_t KINDS[] = {0x00, 0x10, 0x20, 0x30};  // single, first, consecutive, others
      const uint8_t kind = Pick(KINDS);
      frame.Add(static_cast<uint8_t>(kind == 0x00   ? Below(9)
                                     : kind == 0x30 ? 0x30 + Below(0xD0)
                                                    : kind + Below(16)));
    }
    const uint8_t sid = Pick(SERVICES);
    frame.Add(sid);
    frame.Add(sid == 0x49   ? static_cast<uint8_t>(Below(0x0D))
              : sid == 0x7F ? Pick(SERVICES) - 0x40
                            : Pick(PIDS));
    while (frame.n < FRAME_BYTES) frame.Add(Byte());
  }

  // A whole response of one ECU (service byte first), then cut into frames (CAN) or lines of
  // one message each with a checksum (the other protocols).
  void Message(bool can, Frames& out) {
    static const uint8_t TYPES[] = {0x00, 0x02, 0x04, 0x06, 0x08, 0x0A, 0x0B, 0x03};
    static const uint8_t DTC_SERVICES[] = {0x43, 0x47, 0x4A};
    static const uint8_t REJECTED[] = {0x01, 0x02, 0x03, 0x04, 0x07, 0x09, 0x0A};
    uint8_t m[3 + 3 * 16 + 64] = {};  // more than 16 frames carry
    size_t length = 0;
    size_t head = 1;     // bytes that start every non-CAN line
    size_t perLine = 6;  // message bytes after them on each line
    size_t skip = 0;     // message bytes after the service byte that the lines leave out
    switch (Below(5)) {
      case 0:
      case 1: {  // vehicle information; lines are 49, type, line number, 4 bytes
        const uint8_t type = Pick(TYPES);
        const uint8_t itemLen = type == 0x04 ? 16 : type == 0x06 ? 4 : type == 0x08 || type == 0x0B ? 2 : 0;
        uint8_t count =
            itemLen == 2 ? static_cast<uint8_t>(16 + Below(5)) : static_cast<uint8_t>(1 + Below(3));
        if (Below(8) == 0) count = static_cast<uint8_t>(Below(32));
        size_t bytes = type == 0x00 ? 4 : type == 0x02 ? 17 : type == 0x0A ? 20 : itemLen * count;
        if (type == 0x03) bytes = 0;
        m[length++] = 0x49;
        m[length++] = type;
        if (type != 0x00) m[length++] = type == 0x02 || type == 0x0A ? 1 : count;
        for (size_t i = 0; i < bytes && length < sizeof m; ++i)
          m[length++] = static_cast<uint8_t>(0x20 + Below(0x5F));
        head = 3;
        perLine = 4;
        skip = type == 0x00 ? 1 : 2;
        break;
      }
      case 2: {  // trouble codes, some slots empty; three to a line
        m[length++] = Pick(DTC_SERVICES);
        const uint8_t n = static_cast<uint8_t>(Below(24));
        m[length++] = n;
        for (uint8_t i = 0; i < n; ++i) {
          m[length++] = Below(6) == 0 ? 0 : static_cast<uint8_t>(rng_());
          m[length++] = Byte();
        }
        skip = 1;
        break;
      }
      case 3: {  // current data or a freeze frame, up to PID 70's ten bytes
        const uint8_t sid = static_cast<uint8_t>(0x41 + Below(2));
        m[length++] = sid;
        m[length++] = Below(3) == 0 ? 0x70 : static_cast<uint8_t>(Below(0x60));
        if (sid == 0x42) m[length++] = static_cast<uint8_t>(Below(2));
        for (uint32_t n = 1 + Below(10); n > 0; --n) m[length++] = Byte();
        head = sid == 0x42 ? 3 : 2;
        perLine = sid == 0x42 ? 4 : 5;
        skip = head - 1;
        break;
      }
      default:  // clear answers and negative answers, with or without the code
        if (Below(3) == 0) {
          m[length++] = 0x44;
        } else {
          m[length++] = 0x7F;
          m[length++] = Pick(REJECTED);
          if (Below(2) != 0) m[length++] = static_cast<uint8_t>(0x10 + Below(0x70));
        }
        head = length;
        break;
    }

    if (!can) {
      // Lines: the head (with the line number for service 09), then their share of the data.
      const size_t first = 1 + skip;
      uint8_t number = 1;
      for (size_t at = first; at < length || at == first; at += perLine, ++number) {
        Frame& line = out.New();
        for (size_t i = 0; i < head; ++i) line.Add(m[0] == 0x49 && i == 2 ? number : m[i]);
        for (size_t i = at; i < at + perLine && head < length; ++i) line.Add(i < length ? m[i] : 0);
        line.Add(static_cast<uint8_t>(rng_()));  // checksum
        if (head == length) break;
      }
      return;
    }
    if (length <= 7 && Below(8) != 0) {
      Frame& single = out.New();
      single.Add(static_cast<uint8_t>(length));
      for (size_t i = 0; i < length; ++i) single.Add(m[i]);
      return;
    }
    const size_t lengths[] = {length, 0, 7, 0xFFF, length - 3, length + 9, Below(0x1000)};
    const size_t announced = Below(4) == 0 ? lengths[Below(7)] & 0xFFF : length;
    Frame& first = out.New();
    first.Add(static_cast<uint8_t>(0x10 | (announced >> 8)));
    first.Add(static_cast<uint8_t>(announced));
    for (size_t i = 0; i < 6; ++i) first.Add(m[i]);
    for (size_t at = 6, seq = 1; at < length; at += 7, ++seq) {
      const uint32_t fault = Below(24);
      if (fault == 0) continue;                                      // lost
      for (int copies = fault == 2 ? 2 : 1; copies > 0; --copies) {  // or repeated
        Frame& next = out.New();
        next.Add(static_cast<uint8_t>(0x20 | (fault == 1 ? Below(16) : seq & 0x0F)));
        for (size_t i = at; i < at + 7; ++i) next.Add(i < length ? m[i] : 0);
      }
    }
  }

  std::minstd_rand rng_;
};

constexpr uint8_t GUARD = 0x5A;

bool Guarded(const void* bytes, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  for (size_t i = 0; i < n; ++i)
    if (p[i] != GUARD) return false;
  return true;
}

// A value text: 1 to 15 printable characters, terminated inside its buffer.
bool IsValueText(const char* txt) {
  const size_t n = strnlen(txt, OBD_VALUE_TXT_SIZE);
  return n > 0 && n < OBD_VALUE_TXT_SIZE &&
         std::all_of(txt, txt + n, [](char c) { return c >= 0x20 && c < 0x7F; });
}

// Every decoder takes one ECU's response as an exact-size copy, so that a read past its length
// shows under the sanitizers; outputs carry guard bytes behind their documented size. A decoder
// either refuses (its "no data" path) or gives a value text that fits, a known unit, counts
// within their tables.
void DecodeEverything(const Bytes& resp, FrameSetMaker& rng, const std::vector<uint8_t> (&itemsOfPid)[256]) {
  const uint8_t* data = resp.data();
  const uint8_t len = static_cast<uint8_t>(resp.size());
  const uint8_t pid = len >= 2 ? resp[1] : static_cast<uint8_t>(rng.Below(256));

  for (uint8_t sid : {1, 2}) {
    OBD_SetActiveSid(sid);
    OBD_SetActiveFrameNo(len >= 3 && rng.Below(2) ? resp[2] : 0);
    ASSERT_LE(OBD_DecodeSid01RespDataByPid(data, len, pid), 1);
    auto decode = [&](uint8_t item) {
      char txt[OBD_VALUE_TXT_SIZE + 8];
      memset(txt, GUARD, sizeof txt);
      uint8_t unit = 0xEE;
      const uint8_t ok = sid == 1 ? OBD_DecodeSid01RespDataByIdx(data, len, item, txt, &unit)
                                  : OBD_DecodeSid02RespDataByIdx(data, len, item, txt, &unit);
      const bool fine = ok == 0 ? Guarded(txt, sizeof txt) && unit == 0xEE
                                : ok == 1 && unit < OBD_NUM_UNITS && IsValueText(txt) &&
                                      Guarded(txt + OBD_VALUE_TXT_SIZE, 8);
      ASSERT_TRUE(fine) << "service " << int{sid} << " item " << int{item} << " gave " << int{ok} << ", unit "
                        << int{unit} << ", text " << std::string(txt, strnlen(txt, sizeof txt));
    };
    for (uint8_t item : itemsOfPid[pid]) ASSERT_NO_FATAL_FAILURE(decode(item));
    ASSERT_NO_FATAL_FAILURE(decode(static_cast<uint8_t>(rng.Below(OBD_NUM_DATA_ITEMS + 2))));
  }
  const uint8_t ecuIdx = OBD_GetActiveEcuIdx();
  const uint8_t locPid = obdPid.obd_o2SensorLocPid[ecuIdx];
  ASSERT_TRUE(locPid == 0 || locPid == 0x13 || locPid == 0x1D);

  for (uint8_t service : {0x03, 0x07, 0x0A}) {
    ASSERT_LE(OBD_DecodeDtcRespData(data, len, service), 1);
    const uint8_t n = OBD_GetNumDtcs(ecuIdx, service);
    ASSERT_LE(n, OBD_MAX_DTCS_PER_SLOT);
    for (uint8_t i = 0; i < n; ++i) ASSERT_NE(OBD_GetDtc(ecuIdx, service, i), 0);
  }
  const uint8_t cleared = OBD_DecodeClearDtcRespData(data, len);
  const bool refusal = len >= 3 && resp[0] == 0x7F && resp[1] == 0x04;
  ASSERT_TRUE(cleared == 0 || cleared == 0x44 || (refusal && cleared == resp[2])) << int{cleared};

  for (uint8_t type : {pid, static_cast<uint8_t>(rng.Below(0x0D))}) {
    uint8_t out[OBD_INFO_TYPE_OUT_SIZE + 8];
    memset(out, GUARD, sizeof out);
    const uint8_t result = OBD_DecodeInfoTypeRespData(data, len, type, out);
    ASSERT_TRUE(Guarded(out + OBD_INFO_TYPE_OUT_SIZE, 8));
    if (len >= 3 && resp[0] == 0x7F && resp[1] == 0x09) {
      ASSERT_EQ(result, resp[2] == 1 ? 0 : resp[2]) << "negative answers give their code";
    } else if (result == 1 && (type == 0x04 || type == 0x06)) {
      const uint8_t itemLen = type == 0x04 ? OBD_CALID_LEN : OBD_CVN_LEN;
      ASSERT_LE(out[0], 3);
      ASSERT_LE(3 + out[0] * itemLen, len) << "only whole items";
    } else if (result == 1 && type == 0x02) {
      ASSERT_EQ(out[OBD_VIN_LEN], 0);
    } else {
      ASSERT_LE(result, 1);
    }
  }
  if (OBD_DecodeIptRespData(data, len, static_cast<uint8_t>(rng.Below(30))) == 1) {
    ASSERT_GE(len, 35) << "sixteen counters at least";
  }
  ASSERT_LE(OBD_GetNumIptCounters(), OBD_MAX_IPT_COUNTERS);
  for (uint8_t i = 0; i <= OBD_GetNumIptCounters(); ++i) {
    char txt[OBD_VALUE_TXT_SIZE + 8];
    memset(txt, GUARD, sizeof txt);
    OBD_GetIptCounterStr(txt, i);
    const bool fine = i < OBD_GetNumIptCounters() ? IsValueText(txt) : txt[0] == 0;
    ASSERT_TRUE(fine && Guarded(txt + OBD_VALUE_TXT_SIZE, 8)) << "counter " << int{i};
  }
  char names[OBD_ECU_SHORT_NAME_SIZE + OBD_ECU_LONG_NAME_SIZE + 8];
  memset(names, GUARD, sizeof names);
  OBD_GetEcuShortName(names, ecuIdx);
  OBD_GetEcuLongName(names + OBD_ECU_SHORT_NAME_SIZE, ecuIdx);
  ASSERT_EQ(names[OBD_ECU_SHORT_NAME_SIZE - 1], 0);
  ASSERT_TRUE(Guarded(names + OBD_ECU_SHORT_NAME_SIZE + OBD_ECU_LONG_NAME_SIZE, 8));
}

TEST_F(ReassemblyTest, RandomFrameSetsStayInsideTheBuffersThroughEveryDecoder) {
  std::vector<uint8_t> itemsOfPid[256];
  for (uint8_t i = 0; i < OBD_NUM_DATA_ITEMS; ++i) itemsOfPid[obd_dataItem[i].pid].push_back(i);
  OBD_Init();
  for (uint8_t ecu = 0x10; ecu <= 0x12; ++ecu) OBD_SetEcuAddr(ecu);

  FrameSetMaker maker(6);
  for (int round = 0; round < 100000; ++round) {
    const bool can = round % 2 != 0;
    can ? UseCan() : UseNonCan();
    if (!can && maker.Below(4) == 0) qim.qimDataStartIdx = 4;  // ISO 14230-4 with a length byte
    maker.Fill(can);
    OBD_InitDtcs();
    for (uint8_t ecu = 0x10; ecu <= 0x12; ++ecu) {
      uint8_t length = 0xEE;
      const uint8_t* data = D2O_GetObdData(&length, ecu);
      ASSERT_LE(length, D2O_OBD_DATA_BUF_SIZE);
      ASSERT_EQ(d2o.D2O_FrameReassembler, can ? D2O_ReassembleCan : D2O_ReassembleNonCan);
      ASSERT_LE(d2o.d2o_expectedLength, D2O_OBD_DATA_BUF_SIZE);
      ASSERT_EQ(OBD_SetActiveEcuAddr(ecu), 1);
      DecodeEverything(Bytes(data, data + length), maker, itemsOfPid);
      if (HasFatalFailure()) {
        ADD_FAILURE() << "round " << round << ", ECU " << std::hex << int{ecu};
        return;
      }
    }
  }
}

TEST_F(ReassemblyTest, TroubleCodeSlotsAreCompactedInPlace) {
  uint8_t slots[6] = {0x00, 0x00, 0x00, 0x01, 0x43, 0x00};
  EXPECT_EQ(D2O_GetNoOfDtcs(slots), 2);
  EXPECT_EQ(Bytes(slots, slots + 6), (Bytes{0x00, 0x01, 0x43, 0x00, 0x00, 0x00}));
  uint8_t none[6] = {};
  EXPECT_EQ(D2O_GetNoOfDtcs(none), 0);
}

TEST_F(ReassemblyTest, ProtocolChoosesTheReassembler) {
  UseCan();
  EXPECT_EQ(d2o.D2O_FrameReassembler, D2O_ReassembleCan);
  UseNonCan();
  EXPECT_EQ(d2o.D2O_FrameReassembler, D2O_ReassembleNonCan);
  UseCan();
  tarnic_InitVars();
  EXPECT_EQ(d2o.D2O_FrameReassembler, D2O_ReassembleNonCan);
}

}  // namespace
