// Frame reassembly driven by module answers as text: each answer goes through the receive
// parser into the frame store, and the response of one ECU is read back with D2O_GetObdData.
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
#include "host/controller.h"

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

TEST_F(ReassemblyTest, RandomFramesStayInsideTheBuffer) {
  // Frames of a few ECUs with control and service bytes drawn from the interesting values; the
  // sanitizer builds catch any access outside the buffers.
  std::mt19937 rng(6);
  const uint8_t heads[] = {0x00, 0x01, 0x07, 0x08, 0x10, 0x1F, 0x20, 0x21, 0x27, 0x28, 0x2F, 0x30,
                           0x41, 0x42, 0x43, 0x44, 0x47, 0x49, 0x4A, 0x7F, 0xFF};
  const uint8_t types[] = {0x00, 0x02, 0x04, 0x06, 0x08, 0x0A, 0x0B, 0xFF};
  for (int round = 0; round < 20000; ++round) {
    round % 2 ? UseCan() : UseNonCan();
    memset(qim.qimFrameBuf, 0, sizeof qim.qimFrameBuf);
    qim.qimNoOfFrames = static_cast<uint8_t>(rng() % (QIM_MAX_FRAMES + 1));
    for (uint8_t f = 0; f < qim.qimNoOfFrames; ++f) {
      uint8_t* slot = &qim.qimFrameBuf[f * QIM_FRAME_SIZE];
      for (int i = 0; i < QIM_FRAME_SIZE; ++i) slot[i] = static_cast<uint8_t>(rng());
      slot[2] = slot[3] = static_cast<uint8_t>(0x10 + rng() % 3);  // the ECU, either header
      uint8_t start = qim.qimDataStartIdx;
      slot[start] = heads[rng() % sizeof heads];
      slot[start + 1] = rng() % 2 ? types[rng() % sizeof types] : slot[start + 1];
    }
    for (uint8_t ecu = 0x10; ecu <= 0x12; ++ecu) {
      uint8_t length = 0xEE;
      const uint8_t* data = D2O_GetObdData(&length, ecu);
      ASSERT_LE(length, D2O_OBD_DATA_BUF_SIZE);
      OBD_DecodeDtcRespData(data, length, static_cast<uint8_t>(data[0] - 0x40));
      OBD_DecodeClearDtcRespData(data, length);
    }
    ASSERT_EQ(d2o.D2O_FrameReassembler, round % 2 ? D2O_ReassembleCan : D2O_ReassembleNonCan);
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
