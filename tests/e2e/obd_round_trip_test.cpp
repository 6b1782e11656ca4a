// Requests answered by the simulated vehicle and read back by the handheld's own link and OBD
// layers: every answer is built as the module prints it in the handheld's format (ATOF1), fed to
// the receive parser byte by byte, reassembled per ECU and decoded. What comes out must be what
// the vehicle holds: data bytes and their values, trouble codes, vehicle information, counters.
#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "firmware/link/qim.h"
#include "firmware/link/reassembly.h"
#include "firmware/mcu.h"
#include "firmware/obd/dtcs.h"
#include "firmware/obd/monitors.h"
#include "firmware/obd/pids.h"
#include "firmware/obd/reading.h"
#include "controller/controller.h"
#include "module/module.h"
#include "module/obd_answer.h"
#include "vehicle/vehicle.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Request {
  uint8_t service;
  uint8_t pid;  // or info type
  uint8_t frame;
};

// The handheld registers the ECUs from its first request, then reads everything else. The
// freeze-frame service is read for two frames so that each ECU reads two rows of support maps.
std::vector<Request> Requests() {
  std::vector<Request> requests = {{0x01, 0x00, 0}};
  for (uint8_t service : {0x01, 0x02}) {
    for (unsigned pid = 0; pid <= 0xE0; ++pid) {
      if (emu_GetPidClass(static_cast<uint8_t>(pid)) == EmuPidClass::None) continue;
      for (uint8_t frame = 0; frame <= (service == 0x02 ? 1 : 0); ++frame)
        requests.push_back({service, static_cast<uint8_t>(pid), frame});
    }
  }
  for (uint8_t service : {0x03, 0x07, 0x0A}) requests.push_back({service, 0, 0});
  for (uint8_t type = 0; type <= 0x0B; ++type) requests.push_back({0x09, type, 0});
  return requests;
}

// The data bytes an ECU's table holds for a service 01/02 PID, as the answer must carry them
// after service, PID and frame number.
Bytes VehicleData(uint8_t service, uint8_t pid, uint8_t frame, uint8_t ecu) {
  const EmuEcu& e = vehicle.ecu[ecu];
  switch (emu_GetPidClass(pid)) {
    case EmuPidClass::SupportMap: {
      Bytes map;
      const EmuEcu& row = vehicle.ecu[(frame + ecu) % EMU_MAX_ECUS];  // freeze frames: by frame
      for (int i = 0; i < 4; ++i) {
        const int at = pid / 8 + i;
        map.push_back(service == 0x02 ? row.supPidsSid02[at] : e.supPids[at].load());
      }
      return map;
    }
    case EmuPidClass::Pid01:
      return {static_cast<uint8_t>(e.noOfDtcs | (e.milState != 0 ? 0x80 : 0)), e.dataPid01[1], e.dataPid01[2],
              e.dataPid01[3]};
    case EmuPidClass::Pid02: {
      const uint16_t dtc = frame < e.noOfDtcs ? e.confirmedDtc[frame] : 0;
      return {static_cast<uint8_t>(dtc >> 8), static_cast<uint8_t>(dtc)};
    }
    case EmuPidClass::Banks:
      if (!emu_VehicleHasMoreThan2Banks()) return {e.genericData1};
      [[fallthrough]];
    case EmuPidClass::Generic2:
      return Bytes(e.genericData2, e.genericData2 + 2);
    case EmuPidClass::Generic1:
      return {e.genericData1};
    case EmuPidClass::Pid13or1D:
      return {e.dataPid13or1D.load()};
    case EmuPidClass::Generic4:
      return Bytes(e.genericData4, e.genericData4 + 4);
    case EmuPidClass::Pid41:
      return Bytes(e.dataPid41, e.dataPid41 + 4);
    case EmuPidClass::Pid4F:
      return Bytes(e.dataPid4F, e.dataPid4F + 4);
    case EmuPidClass::Pid50:
      return Bytes(e.dataPid50, e.dataPid50 + 4);
    case EmuPidClass::Pid70:
      return Bytes(e.dataPid70, e.dataPid70 + EMU_PID70_BYTES);
    case EmuPidClass::None:
      break;
  }
  return {};
}

struct Value {
  uint8_t ok;
  std::string text;
  uint8_t unit;
};

Value DecodeItem(uint8_t service, const Bytes& resp, uint8_t item) {
  char txt[OBD_VALUE_TXT_SIZE] = "";
  uint8_t unit = 0xEE;
  const uint8_t len = static_cast<uint8_t>(resp.size());
  const uint8_t ok = service == 0x01 ? OBD_DecodeSid01RespDataByIdx(resp.data(), len, item, txt, &unit)
                                     : OBD_DecodeSid02RespDataByIdx(resp.data(), len, item, txt, &unit);
  return {ok, txt, unit};
}

class ObdRoundTrip : public testing::Test {
 protected:
  void SetUp() override {
    pthread_mutex_init(&qimMutex, nullptr);
    tarnic_InitVars();
    emu_QimInitState();
    emu_VehicleInit();
  }
  void TearDown() override {
    emu_QimInitState();
    emu_VehicleInit();
    tarnic_InitVars();
    pthread_mutex_destroy(&qimMutex);
  }

  // Module and handheld on one protocol, the module in the handheld's answer format, the
  // handheld at the start of a data reading.
  void Connect(uint8_t protocol, uint8_t ecus) {
    emu_QimSetProtocol(protocol);
    atof1Enabled = 1;
    emu_VehicleSetNoOfEcus(ecus);
    can_ = protocol >= 6;
    qimProtocol = static_cast<uint8_t>(protocol | (can_ ? 0x20 : 0x10));
    D2O_Init();
    OBD_Init();
  }

  // Builds the answer and passes it through the receive parser; returns the lines the module
  // sent (0: "NO DATA"). Every line must have become a frame.
  size_t Ask(const Request& r) {
    char text[EMU_OBD_ANSWER_BUF_SIZE];
    const size_t lines = emu_BuildObdAnswer(r.service, r.pid, r.frame, text);
    if (lines == 0) return 0;
    QIM_InitRx(QIM_EXP_OBD);
    uint8_t code = QIM_RESP_NONE;
    for (const char* p = text; *p != '\0'; ++p) code = QIM_ProcessRxData(static_cast<uint8_t>(*p));
    EXPECT_EQ(code, QIM_RESP_OBD_DATA);
    QIM_SetDataStartIdx();
    return lines;
  }

  // One ECU's reassembled response, that ECU made the active one for the decoders.
  static Bytes Response(uint8_t ecu) {
    uint8_t length = 0;
    const uint8_t* data = D2O_GetObdData(&length, ecuAddr[ecu]);
    OBD_SetActiveEcuAddr(ecuAddr[ecu]);
    return Bytes(data, data + length);
  }

  void CheckPid(const Request& r, uint8_t ecu, const Bytes& resp);
  void CheckTroubleCodes(uint8_t service, uint8_t ecu, const Bytes& resp);
  void CheckInfoType(uint8_t type, uint8_t ecu, const Bytes& resp);

  bool can_ = false;
};

// The answer carries the table's bytes (non-CAN answers may carry a checksum and fill after
// them); every item of the PID decodes to the value of exactly those bytes.
void ObdRoundTrip::CheckPid(const Request& r, uint8_t ecu, const Bytes& resp) {
  Bytes expected = {static_cast<uint8_t>(0x40 + r.service), r.pid};
  if (r.service == 0x02) expected.push_back(r.frame);
  const Bytes data = VehicleData(r.service, r.pid, r.frame, ecu);
  expected.insert(expected.end(), data.begin(), data.end());
  ASSERT_GE(resp.size(), expected.size());
  EXPECT_EQ(Bytes(resp.begin(), resp.begin() + static_cast<long>(expected.size())), expected);
  if (can_) {
    EXPECT_EQ(resp.size(), expected.size());
  }

  OBD_SetActiveSid(r.service);
  OBD_SetActiveFrameNo(r.frame);
  // Configuration answers are stored as the handheld stores them when it connects; of the
  // freeze frames only the support maps and the code that stored the frame.
  if (r.service == 0x01 || r.pid % 0x20 == 0 || r.pid == 0x02) {
    OBD_DecodeSid01RespDataByPid(resp.data(), static_cast<uint8_t>(resp.size()), r.pid);
  }
  if (r.service == 0x02 && r.pid == 0x02) {
    EXPECT_EQ(OBD_GetFreezeFrameDtc(), (data[0] << 8) | data[1]);
  }
  for (uint8_t item = 0; item < OBD_NUM_DATA_ITEMS; ++item) {
    if (obd_dataItem[item].pid != r.pid) continue;
    // Bank 3/4 halves exist only in two-byte answers.
    if (obd_dataItem[item].dataLen > data.size()) continue;
    const Value got = DecodeItem(r.service, resp, item);
    const Value want = DecodeItem(r.service, expected, item);
    ASSERT_EQ(got.ok, 1) << "item " << int{item};
    EXPECT_EQ(got.text, want.text) << "item " << int{item};
    EXPECT_EQ(got.unit, want.unit);
  }
  if (r.service == 0x01 && r.pid == 0x0C) {  // engine speed: a quarter rpm per bit
    uint8_t rpm = 0;
    while (obd_dataItem[rpm].pid != 0x0C) ++rpm;
    const Value v = DecodeItem(1, resp, rpm);
    EXPECT_EQ(v.text, std::to_string(std::lround(((data[0] << 8) | data[1]) / 4.0)));
    EXPECT_EQ(v.unit, OBD_UNIT_RPM);
  }
}

void ObdRoundTrip::CheckTroubleCodes(uint8_t service, uint8_t ecu, const Bytes& resp) {
  const EmuEcu& e = vehicle.ecu[ecu];
  const uint16_t* list = service == 0x03 ? e.confirmedDtc : service == 0x07 ? e.pendingDtc : e.permanentDtc;
  const uint8_t n = service == 0x03 ? e.noOfDtcs : service == 0x07 ? e.noOfPendingDtcs : e.noOfPermanentDtcs;
  ASSERT_EQ(OBD_DecodeDtcRespData(resp.data(), static_cast<uint8_t>(resp.size()), service), 1);
  const uint8_t idx = OBD_GetActiveEcuIdx();
  ASSERT_EQ(OBD_GetNumDtcs(idx, service), n);
  for (uint8_t i = 0; i < n; ++i) EXPECT_EQ(OBD_GetDtc(idx, service, i), list[i]) << "code " << int{i};
}

void ObdRoundTrip::CheckInfoType(uint8_t type, uint8_t ecu, const Bytes& resp) {
  const EmuEcu& e = vehicle.ecu[ecu];
  uint8_t out[OBD_INFO_TYPE_OUT_SIZE] = {};
  const uint8_t result =
      OBD_DecodeInfoTypeRespData(resp.data(), static_cast<uint8_t>(resp.size()), type, out);
  const uint8_t idx = OBD_GetActiveEcuIdx();
  switch (type) {
    case 0x00:  // CAN has no message-count types
      ASSERT_EQ(result, 1);
      for (uint8_t t = 1; t <= 0x0B; ++t) {
        const bool odd = t % 2 == 1 && t <= 9;
        EXPECT_EQ(OBD_InfoTypeIsSupported(t, idx), emu_VehicleSupportsInfoType(t, ecu) && !(can_ && odd))
            << "type " << int{t};
      }
      break;
    case 0x02:
      ASSERT_EQ(result, 1);
      EXPECT_EQ(std::string(reinterpret_cast<char*>(out)),
                std::string(reinterpret_cast<const char*>(e.vin + EMU_VIN_FILL), OBD_VIN_LEN));
      break;
    case 0x04:
    case 0x06: {
      ASSERT_EQ(result, 1);
      const uint8_t count = type == 0x04 ? e.noOfCalIds : e.noOfCvns;
      const Bytes items = type == 0x04 ? Bytes(&e.calId[0][0], &e.calId[0][0] + count * EMU_CAL_ID_CHARS)
                                       : Bytes(&e.cvn[0][0], &e.cvn[0][0] + count * EMU_CVN_BYTES);
      EXPECT_EQ(out[0], count);
      EXPECT_EQ(Bytes(out + 1, out + 1 + items.size()), items);
      break;
    }
    case 0x08:
    case 0x0B: {
      ASSERT_EQ(result, 1);
      const uint8_t kept = type == 0x08 ? OBD_NUM_IPT_SPARK : OBD_NUM_IPT_COMPR;
      ASSERT_EQ(OBD_GetNumIptCounters(), std::min(e.noOfIptCounters, kept));
      for (uint8_t i = 0; i < OBD_GetNumIptCounters(); ++i) {
        char txt[OBD_VALUE_TXT_SIZE];
        OBD_GetIptCounterStr(txt, i);
        EXPECT_EQ(txt, std::to_string(e.iptCounter[i])) << "counter " << int{i};
      }
      break;
    }
    case 0x0A: {
      ASSERT_EQ(result, 1);
      char shortName[OBD_ECU_SHORT_NAME_SIZE];
      char longName[OBD_ECU_LONG_NAME_SIZE];
      OBD_GetEcuShortName(shortName, idx);
      OBD_GetEcuLongName(longName, idx);
      const char* name = reinterpret_cast<const char*>(e.ecuName);
      EXPECT_EQ(shortName, std::string(name, strnlen(name, 4)));
      EXPECT_EQ(longName, std::string(name + 5, strnlen(name + 5, 15)));
      break;
    }
    default: {  // message counts: lines per item on K-line and J1850, one message on CAN
      EXPECT_EQ(result, 0) << "nothing to show";
      if (type == 0x03 || type == 0x05 || type == 0x07) {
        const uint8_t lines = type == 0x03 ? 4 * e.noOfCalIds : type == 0x05 ? e.noOfCvns : e.noOfIptCounters;
        EXPECT_EQ(out[0], can_ ? 1 : lines);
      }
      break;
    }
  }
}

// The default vehicle with longer trouble code lists, so that they span several lines. Its two
// ECUs fit every answer into the handheld's 16 frames; a third would not (see below).
TEST_F(ObdRoundTrip, EveryAnswerOfTheVehicleDecodesToWhatItHolds) {
  constexpr uint8_t ECUS = 2;
  const std::vector<Request> requests = Requests();
  for (uint8_t protocol : {6, 7, 3, 5}) {
    SCOPED_TRACE("protocol " + std::to_string(protocol));
    emu_VehicleInit();
    emu_VehicleSetNoOfDtcs(16);
    emu_VehicleSetNoOfPendingDtcs(4);
    emu_VehicleSetNoOfPermanentDtcs(7);
    Connect(protocol, ECUS);

    size_t answers = 0;
    for (const Request& r : requests) {
      SCOPED_TRACE(testing::Message() << std::hex << "request " << int{r.service} << " " << int{r.pid}
                                      << " frame " << int{r.frame});
      const size_t lines = Ask(r);
      if (lines == 0) continue;
      ++answers;
      ASSERT_EQ(qim.qimNoOfFrames, lines) << "every line a frame";
      if (answers == 1) {  // the handheld registers the ECUs in the order their frames come
        for (uint8_t f = 0; f < qim.qimNoOfFrames; ++f) OBD_SetEcuAddr(QIM_GetEcuAddr(f));
        ASSERT_EQ(OBD_GetNumEcus(), ECUS);
      }
      for (uint8_t f = 0; f < qim.qimNoOfFrames; ++f) {
        const uint8_t addr = QIM_GetEcuAddr(f);
        EXPECT_EQ(OBD_GetEcuIdx(addr), emu_QimGetEcuIdx(addr));
        EXPECT_EQ(OBD_GetEcuAddr(emu_QimGetEcuIdx(addr)), addr);
      }

      for (uint8_t ecu = 0; ecu < ECUS; ++ecu) {
        SCOPED_TRACE("ECU " + std::to_string(ecu));
        const bool answers01 = emu_VehicleSupportsPid(r.service, r.pid, r.frame, ecu);
        const bool answers09 = emu_VehicleSupportsInfoType(r.pid, ecu);
        const bool expected = r.service <= 0x02 ? answers01 : r.service == 0x09 ? answers09 : true;
        const Bytes resp = Response(ecu);
        ASSERT_EQ(!resp.empty(), expected);
        if (resp.empty()) continue;
        if (r.service <= 0x02) CheckPid(r, ecu, resp);
        if (r.service == 0x03 || r.service == 0x07 || r.service == 0x0A)
          CheckTroubleCodes(r.service, ecu, resp);
        if (r.service == 0x09) CheckInfoType(r.pid, ecu, resp);
      }
    }
    EXPECT_GT(answers, 150u);

    // What the configuration answers left with the handheld: support maps, monitor status,
    // MIL, sensor layout, scaling maxima, code counts over all ECUs.
    for (uint8_t ecu = 0; ecu < ECUS; ++ecu) {
      for (uint8_t b = 0; b < OBD_SUP_PID_BYTES; ++b)
        EXPECT_EQ(obdPid.obd_supPids[ecu][b], vehicle.ecu[ecu].supPids[b])
            << "ECU " << int{ecu} << " byte " << int{b};
      const uint8_t* status = obdPid.obd_monitorStatusSinceDtcsClrd[ecu];
      EXPECT_EQ(Bytes(status, status + 4), emu_VehicleSupportsPid(1, 0x01, 0, ecu)
                                               ? VehicleData(1, 0x01, 0, ecu)
                                               : Bytes(4, 0));
    }
    EXPECT_EQ(OBD_GetMilStatus(), 1);
    EXPECT_EQ(obdPid.obd_o2SensorLocPid[0], 0x13);
    EXPECT_EQ(obdPid.obd_o2SensorLocPidData[0], vehicle.ecu[0].dataPid13or1D);
    EXPECT_EQ(obdPid.obd_scalingMapPidData[0], vehicle.ecu[0].dataPid4F[3]);
    EXPECT_EQ(obdPid.obd_scalingMafPidData[0], vehicle.ecu[0].dataPid50[0]);
    EXPECT_EQ(OBD_GetNumDtcsBySid(0x03), 16 + (ECUS - 1));
    EXPECT_EQ(OBD_GetNumDtcsBySid(0x0A), can_ ? 7 + (ECUS - 1) : 0) << "permanent codes are CAN only";

    // Clearing: every ECU confirms, and its list is empty afterwards.
    ASSERT_GT(Ask({0x04, 0, 0}), 0u);
    for (uint8_t ecu = 0; ecu < ECUS; ++ecu) {
      const Bytes resp = Response(ecu);
      EXPECT_EQ(OBD_DecodeClearDtcRespData(resp.data(), static_cast<uint8_t>(resp.size())), 0x44);
    }
    OBD_InitDtcs();
    ASSERT_GT(Ask({0x03, 0, 0}), 0u);
    for (uint8_t ecu = 0; ecu < ECUS; ++ecu) {
      const Bytes resp = Response(ecu);
      OBD_DecodeDtcRespData(resp.data(), static_cast<uint8_t>(resp.size()), 0x03);
    }
    EXPECT_EQ(OBD_GetNumDtcsBySid(0x03), 0);
  }
}

// Three ECUs' calibration ids (1, 2 and 3 of them) are more than the 16 frames the handheld
// keeps: 24 lines on ISO 9141-2, 17 frames on CAN. The first two ECUs come through whole; the
// third keeps the frames that arrived and counts only the ids complete in them.
TEST_F(ObdRoundTrip, AnswerBeyondSixteenFramesIsCutAtAFrame) {
  const struct {
    uint8_t protocol;
    size_t lines;
    uint8_t thirdWhole;  // ids of the third ECU that are complete
    size_t thirdLength;  // its response: the bytes of the frames kept
  } cases[] = {
      {3, 24, 1, 3 + 16},     // the four lines of its first id
      {6, 17, 2, 6 + 6 * 7},  // first frame and six of its seven consecutive frames
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("protocol " + std::to_string(c.protocol));
    emu_VehicleInit();
    Connect(c.protocol, 3);
    ASSERT_EQ(Ask({0x01, 0x00, 0}), 3u);
    for (uint8_t f = 0; f < qim.qimNoOfFrames; ++f) OBD_SetEcuAddr(QIM_GetEcuAddr(f));
    ASSERT_EQ(vehicle.ecu[2].noOfCalIds, 3);

    ASSERT_EQ(Ask({0x09, 0x04, 0}), c.lines);
    EXPECT_EQ(qim.qimNoOfFrames, QIM_MAX_FRAMES);
    for (uint8_t ecu = 0; ecu < 3; ++ecu) {
      const EmuEcu& e = vehicle.ecu[ecu];
      const uint8_t whole = ecu < 2 ? e.noOfCalIds : c.thirdWhole;
      const Bytes resp = Response(ecu);
      ASSERT_EQ(resp.size(), ecu < 2 ? 3u + whole * EMU_CAL_ID_CHARS : c.thirdLength) << "ECU " << int{ecu};
      EXPECT_EQ(Bytes(resp.begin() + 3, resp.end()), Bytes(&e.calId[0][0], &e.calId[0][0] + resp.size() - 3))
          << "ECU " << int{ecu};
      uint8_t out[OBD_INFO_TYPE_OUT_SIZE] = {};
      ASSERT_EQ(OBD_DecodeInfoTypeRespData(resp.data(), static_cast<uint8_t>(resp.size()), 0x04, out), 1);
      EXPECT_EQ(out[0], whole);
      EXPECT_EQ(Bytes(out + 1, out + 1 + whole * EMU_CAL_ID_CHARS),
                Bytes(&e.calId[0][0], &e.calId[0][0] + whole * EMU_CAL_ID_CHARS));
    }
  }
}

}  // namespace
