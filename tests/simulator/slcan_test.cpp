// The serial CAN adapter in-process on a real pseudo-terminal, the test playing the CAN tool:
// every command and its answer byte for byte, and the car's ECUs through ISO 15765-2 both ways
// (flow control, block sizes, separation times read from a stepped clock, the time-outs, a lost
// consecutive frame, functional and physical requests on 11 and 29 bits, the wrong bit rate).
// The default car: ECU 0 (7E8 / address 10) has 0C = 01 10 and VIN 1234567890XYZABCD; ECU 1
// (7E9 / 18) has no PID 0C.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "slcan/slcan.h"
#include "slcan/slcan_bus.h"
#include "slcan/slcan_reader.h"
#include "vehicle/vehicle_faults.h"
#include "vehicle/vehicle_file.h"
#include "tests/simulator/elm_adapter.h"

namespace {

using elm_test::AdapterRead;
using elm_test::AdapterWrite;

const EmuSlcanPort PSEUDO_TERMINAL = {AdapterRead, AdapterWrite};

// A line whose client leaves when the test says so.
bool clientLeaves = false;
int TakeLeaving() { return std::exchange(clientLeaves, false) ? 1 : 0; }
const EmuSlcanPort LEAVING = {AdapterRead, AdapterWrite, TakeLeaving};

// The bus's clock, stepped by the test; a pause moves it on and is recorded.
uint64_t nowUs = 1000000;
std::vector<uint32_t> pauses;
uint64_t TestNow() { return nowUs; }
void TestPause(uint32_t us) {
  pauses.push_back(us);
  nowUs += us;
}
const EmuSlcanClock TEST_CLOCK = {TestNow, TestPause};

// A frame as the adapter writes it, its data filled to 8 bytes with 00 as the ECUs fill theirs.
std::string Frame(uint32_t id, std::vector<uint8_t> data, bool extended = false) {
  data.resize(8, 0x00);
  char text[64];
  int n = extended ? snprintf(text, sizeof text, "T%08X8", id) : snprintf(text, sizeof text, "t%03X8", id);
  for (uint8_t b : data) n += snprintf(text + n, sizeof text - static_cast<size_t>(n), "%02X", b);
  return std::string(text) + "\r";
}
// A frame as the tester sends it: its data filled to 8 bytes with `fill`, without the CR.
std::string Request(uint32_t id, std::vector<uint8_t> data, bool extended = false, uint8_t fill = 0x00) {
  data.resize(8, fill);
  const std::string text = Frame(id, data, extended);
  return text.substr(0, text.size() - 1);
}

const std::string OK = "\r";
const std::string BEL = "\a";
const std::string Z11 = "z\r";
const std::string Z29 = "Z\r";

// The VIN answer of ECU 0 (49 02 01 and 17 characters): a first frame and two consecutive ones.
const std::string VIN_FIRST = Frame(0x7E8, {0x10, 0x14, 0x49, 0x02, 0x01, '1', '2', '3'});
const std::string VIN_CF1 = Frame(0x7E8, {0x21, '4', '5', '6', '7', '8', '9', '0'});
const std::string VIN_CF2 = Frame(0x7E8, {0x22, 'X', 'Y', 'Z', 'A', 'B', 'C', 'D'});
const std::string RPM_ECU0 = Frame(0x7E8, {0x04, 0x41, 0x0C, 0x01, 0x10});
const std::string PID00_ECU0 = Frame(0x7E8, {0x06, 0x41, 0x00, 0xFF, 0xFF, 0xFF, 0xF7});
const std::string PID00_ECU1 = Frame(0x7E9, {0x06, 0x41, 0x00, 0xB7, 0x80, 0x00, 0x01});
const std::string ASK_RPM = Request(0x7DF, {0x02, 0x01, 0x0C});
const std::string ASK_VIN = Request(0x7E0, {0x02, 0x09, 0x02});
std::string FlowControl(uint8_t status, uint8_t bs, uint8_t st) { return Request(0x7E0, {uint8_t(0x30 | status), bs, st}); }

// Loads the text as the vehicle file.
void LoadCar(const std::string& text) {
  char path[] = "/tmp/slcan_car_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  std::string error;
  ASSERT_EQ(emu_LoadVehicleFile(path, &error), 0) << error;
  unlink(path);
}
// A car whose ECU 0 sends two frames by itself: fixed bytes every 100 ms, its speed every 250 ms.
const char* const BROADCASTING_CAR =
    "[ecu.1]\nspeed = 50\n"
    "broadcast = [{ id = \"3E9\", period = 100, data = \"01 02 03\" },\n"
    "             { id = \"18FEF100\", period = 250, value = \"speed\" }]\n";

class Slcan : public elm_test::ElmAdapter {
 protected:
  void SetUp() override {
    ElmAdapter::SetUp();
    nowUs = 1000000;
    pauses.clear();
    emu_SlcanSetClock(&TEST_CLOCK);
    emu_SlcanInit();
    emu_SlcanSetPort(&PSEUDO_TERMINAL);
  }
  void TearDown() override {
    emu_SlcanSetPort(nullptr);
    emu_SlcanSetClock(nullptr);
    emu_SlcanSetRealTiming(false);
    emu_SlcanInit();
    ElmAdapter::TearDown();
  }

  // What the adapter answers to these bytes (the fixture's Send, served by this adapter).
  std::string Serve(const std::string& bytes) {
    for (size_t at = 0; at < bytes.size();) {
      const ssize_t n = write(client_, bytes.data() + at, bytes.size() - at);
      if (n <= 0) {
        ADD_FAILURE() << "the client cannot write";
        return "";
      }
      at += static_cast<size_t>(n);
    }
    EXPECT_TRUE(WaitFor([&] {
      int waiting = 0;
      return ioctl(elm_test::adapterSide, FIONREAD, &waiting) == 0 && static_cast<size_t>(waiting) >= bytes.size();
    }));
    const size_t before = elm_test::adapterWrote;
    emu_SlcanServeInput();
    const size_t expected = elm_test::adapterWrote - before;
    std::string answer;
    EXPECT_TRUE(WaitFor([&] {
      char buf[512];
      for (ssize_t n; (n = read(client_, buf, sizeof buf)) > 0;) answer.append(buf, static_cast<size_t>(n));
      return answer.size() >= expected;
    }));
    return answer;
  }
  std::string Cmd(const std::string& line) { return Serve(line + "\r"); }

  void Open(const char* rate = "S6") {
    ASSERT_EQ(Cmd(rate), OK);
    ASSERT_EQ(Cmd("O"), OK);
  }
};

// ---------------------------------------------------------------------------------------------
// Commands

TEST_F(Slcan, EveryCommandIsAnsweredCrOrBelAsTheChannelAllows) {
  const std::string tooLong(40, 'S');  // longer than any command
  const struct {
    const char* line;
    std::string answer;
  } dialogue[] = {
      {"", OK},  // tools send lone CRs to clear the adapter's line
      {"V", "V1013\r"}, {"v", "v1013\r"}, {"N", "NA123\r"},
      {"F", BEL},  // no status while closed
      {"C", BEL},  // already closed
      {"S0", OK}, {"S8", OK}, {"S9", BEL}, {"S", BEL}, {"S66", BEL},
      {"Z1", OK}, {"Z0", OK}, {"Z2", BEL},
      {"M00000000", OK}, {"mFFFFFFFF", OK}, {"m1234", BEL}, {"Mxyz00000", BEL},
      {"t7DF80201000000000000", BEL},  // no frames on a closed channel
      {"X", BEL}, {"o", BEL},
      {"S6", OK}, {"O", OK},
      {"O", BEL}, {"L", BEL}, {"S5", BEL}, {"Z1", BEL}, {"M00000000", BEL},  // not while open
      {"F", "F00\r"},
      {"r7DF0", Z11}, {"R18DB33F10", Z29},  // remote frames go out, nobody answers them
      {"t7DF0", Z11},
      {"t7DF9", BEL}, {"t800", BEL}, {"t7DF2AA", BEL}, {"t7DF1AAB", BEL}, {"t7DF1GG", BEL},
      {"T200000000", BEL}, {"T18DB33F", BEL},
      {"C", OK},
      {"L", OK},
      {"t7DF80201000000000000", BEL},  // listen-only sends nothing
      {"F", "F00\r"},
      {"C", OK},
      {tooLong.c_str(), BEL},  // longer than any command: refused whole
      {"S6", OK},
  };
  for (const auto& step : dialogue) EXPECT_EQ(Cmd(step.line), step.answer) << step.line;
}

TEST_F(Slcan, ReaderTakesEitherCaseAndWritesFramesWithTimeStamps) {
  EmuSlcanCommand c = emu_SlcanReadCommand("T18daf1103abcdef", 16);
  ASSERT_EQ(c.kind, EmuSlcanCommandKind::Frame);
  EXPECT_TRUE(c.frame.extended);
  EXPECT_EQ(c.frame.id, 0x18DAF110u);
  ASSERT_EQ(c.frame.dlc, 3);
  EXPECT_EQ(c.frame.data[2], 0xEF);
  c = emu_SlcanReadCommand("r7E08", 5);
  ASSERT_EQ(c.kind, EmuSlcanCommandKind::Frame);
  EXPECT_TRUE(c.frame.remote);
  EXPECT_EQ(c.frame.dlc, 8);

  char out[EMU_SLCAN_FRAME_TEXT_MAX];
  EmuCanFrame f{0x18DAF110, true, false, 8, {1, 2, 3, 4, 5, 6, 7, 0xFF}};
  EXPECT_EQ(std::string(out, emu_SlcanWriteFrame(f, 0xEA5F, out)), "T18DAF110801020304050607FFEA5F\r");
  EXPECT_EQ(emu_SlcanWriteFrame(f, 0xEA5F, out), EMU_SLCAN_FRAME_TEXT_MAX);
  f = {0x7E8, false, true, 8, {}};
  EXPECT_EQ(std::string(out, emu_SlcanWriteFrame(f, -1, out)), "r7E88\r");

  // Line feeds between commands are no part of them; a line too long is said at its CR.
  EmuSlcanLine line;
  emu_SlcanClearLine(&line);
  for (char ch : std::string("\nO")) EXPECT_FALSE(emu_SlcanTakeByte(&line, static_cast<uint8_t>(ch)));
  EXPECT_TRUE(emu_SlcanTakeByte(&line, '\r'));
  EXPECT_EQ(std::string(line.text, line.length), "O");
  emu_SlcanClearLine(&line);
  for (size_t i = 0; i <= EMU_SLCAN_LINE_MAX; ++i) emu_SlcanTakeByte(&line, 't');
  EXPECT_TRUE(line.overflow);
  EXPECT_EQ(line.length, EMU_SLCAN_LINE_MAX);
}

// ---------------------------------------------------------------------------------------------
// The car on the bus

TEST_F(Slcan, FunctionalAndPhysicalRequestsOnElevenAndTwentyNineBits) {
  Open();
  // 010C to all: only ECU 0 has the PID.
  EXPECT_EQ(Cmd(ASK_RPM), Z11 + RPM_ECU0);
  // 0100 to all, filled with 55 as some testers do: both answer, each from its own identifier.
  EXPECT_EQ(Cmd(Request(0x7DF, {0x02, 0x01, 0x00}, false, 0x55)), Z11 + PID00_ECU0 + PID00_ECU1);
  // Physically to ECU 1 (7E1) only, in a frame without filling.
  EXPECT_EQ(Cmd("t7E130201 00"), BEL);
  EXPECT_EQ(Cmd("t7E13020100"), Z11 + PID00_ECU1);
  EXPECT_EQ(Cmd(Request(0x7E5, {0x02, 0x01, 0x00})), Z11);  // no ECU there
  // The same car on 29 bits (a car on automatic answers on both lengths).
  EXPECT_EQ(Cmd(Request(0x18DB33F1, {0x02, 0x01, 0x00}, true)),
            Z29 + Frame(0x18DAF110, {0x06, 0x41, 0x00, 0xFF, 0xFF, 0xFF, 0xF7}, true) +
                Frame(0x18DAF118, {0x06, 0x41, 0x00, 0xB7, 0x80, 0x00, 0x01}, true));
  EXPECT_EQ(Cmd(Request(0x18DA18F1, {0x02, 0x01, 0x00}, true)),
            Z29 + Frame(0x18DAF118, {0x06, 0x41, 0x00, 0xB7, 0x80, 0x00, 0x01}, true));
  // A functional request must be a single frame.
  EXPECT_EQ(Cmd(Request(0x7DF, {0x10, 0x08, 0x01, 0x00, 0x0C, 0x0D, 0x05, 0x0F})), Z11);
  // A car set to CAN 11 bit ignores 29-bit frames, though its controllers acknowledge them.
  vehicleProtocol = 6;
  EXPECT_EQ(Cmd(Request(0x18DB33F1, {0x02, 0x01, 0x00}, true)), Z29);
  EXPECT_EQ(Cmd("F"), "F00\r");
}

TEST_F(Slcan, AtAnotherBitRateNothingAnswersAndTheFlagsShowTheErrors) {
  vehicleProtocol = 6;  // 11 bit, 500 kbit/s
  Open("S5");           // 250 kbit/s
  EXPECT_EQ(Cmd(ASK_RPM), Z11);
  EXPECT_EQ(Cmd("F"), "FA4\r");
  EXPECT_EQ(Cmd("F"), "F00\r");  // read, the flags start again
  ASSERT_EQ(Cmd("C"), OK);
  Open("S6");
  EXPECT_EQ(Cmd(ASK_RPM), Z11 + RPM_ECU0);
  EXPECT_EQ(Cmd("F"), "F00\r");
  // A car on the K-line has no CAN node at all; a car with its ignition off none that is awake.
  vehicleProtocol = 3;
  EXPECT_EQ(Cmd(ASK_RPM), Z11);
  EXPECT_EQ(Cmd("F"), "FA4\r");
}

TEST_F(Slcan, MultiFrameAnswerKeepsToBlockSizeAndSeparationTime) {
  Open();
  struct {
    std::string flowControl;  // the tester's first flow control
    std::string afterFirst;   // what comes after it
    bool second;              // the block asks for another flow control before the last frame
    std::vector<uint32_t> pauses;
  } const cases[] = {
      {FlowControl(0, 0, 0), Z11 + VIN_CF1 + VIN_CF2, false, {}},
      {FlowControl(0, 1, 0), Z11 + VIN_CF1, true, {}},  // block size 1
      {FlowControl(0, 8, 0), Z11 + VIN_CF1 + VIN_CF2, false, {}},
      {FlowControl(0, 0, 5), Z11 + VIN_CF1 + VIN_CF2, false, {5000}},       // 5 ms
      {FlowControl(0, 0, 0xF1), Z11 + VIN_CF1 + VIN_CF2, false, {100}},     // 100 us
      {FlowControl(0, 0, 0x80), Z11 + VIN_CF1 + VIN_CF2, false, {127000}},  // reserved: 127 ms
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flowControl);
    pauses.clear();
    EXPECT_EQ(Cmd(ASK_VIN), Z11 + VIN_FIRST);
    EXPECT_EQ(Cmd(c.flowControl), c.afterFirst);
    if (c.second) {
      EXPECT_EQ(Cmd(c.flowControl), Z11 + VIN_CF2);
    }
    EXPECT_EQ(pauses, c.pauses);
  }
  // Wait, then continue; an overflow ends the transfer.
  EXPECT_EQ(Cmd(ASK_VIN), Z11 + VIN_FIRST);
  EXPECT_EQ(Cmd(FlowControl(1, 0, 0)), Z11);
  EXPECT_EQ(Cmd(FlowControl(0, 0, 0)), Z11 + VIN_CF1 + VIN_CF2);
  EXPECT_EQ(Cmd(ASK_VIN), Z11 + VIN_FIRST);
  EXPECT_EQ(Cmd(FlowControl(2, 0, 0)), Z11);
  EXPECT_EQ(Cmd(FlowControl(0, 0, 0)), Z11);
}

TEST_F(Slcan, TesterWithoutFlowControlLosesTheAnswerAndIsServedNext) {
  Open();
  EXPECT_EQ(Cmd(ASK_VIN), Z11 + VIN_FIRST);
  nowUs += EMU_ISOTP_TIMEOUT_US + 1;
  EXPECT_EQ(Cmd(FlowControl(0, 0, 0)), Z11);
  EXPECT_EQ(Cmd(ASK_RPM), Z11 + RPM_ECU0);
  // In time, the flow control still counts.
  EXPECT_EQ(Cmd(ASK_VIN), Z11 + VIN_FIRST);
  nowUs += EMU_ISOTP_TIMEOUT_US - 1000;
  EXPECT_EQ(Cmd(FlowControl(0, 0, 0)), Z11 + VIN_CF1 + VIN_CF2);
  // Functional 0902 on 29 bits: ECU 0's first frame waits for a flow control at its address.
  EXPECT_EQ(Cmd(Request(0x18DB33F1, {0x02, 0x09, 0x02}, true)),
            Z29 + Frame(0x18DAF110, {0x10, 0x14, 0x49, 0x02, 0x01, '1', '2', '3'}, true) +
                Frame(0x18DAF118, {0x10, 0x14, 0x49, 0x02, 0x01, 'A', 'B', 'C'}, true));
  EXPECT_EQ(Cmd(Request(0x18DA10F1, {0x30, 0x00, 0x00}, true)),
            Z29 + Frame(0x18DAF110, {0x21, '4', '5', '6', '7', '8', '9', '0'}, true) +
                Frame(0x18DAF110, {0x22, 'X', 'Y', 'Z', 'A', 'B', 'C', 'D'}, true));
}

// An 8-byte request from the vehicle's table needs a first frame: the ECU answers it with a
// flow control, the consecutive frame completes it; one out of turn drops it, one too late
// finds nothing under way.
TEST_F(Slcan, MultiFrameRequestGetsFlowControlAndALostFrameDropsIt) {
  char path[] = "/tmp/slcan_table_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string car = "[ecu.1]\nanswers = [{ request = \"2E F1 90 41 42 43 44 45\", answer = \"6E F1 90\" }]\n";
  ASSERT_EQ(write(fd, car.data(), car.size()), static_cast<ssize_t>(car.size()));
  close(fd);
  std::string error;
  ASSERT_EQ(emu_LoadVehicleFile(path, &error), 0) << error;
  unlink(path);
  Open();
  const std::string first = Request(0x7E0, {0x10, 0x08, 0x2E, 0xF1, 0x90, 0x41, 0x42, 0x43});
  const std::string FLOW = Frame(0x7E8, {0x30, 0x00, 0x00});
  EXPECT_EQ(Cmd(first), Z11 + FLOW);
  EXPECT_EQ(Cmd(Request(0x7E0, {0x21, 0x44, 0x45})), Z11 + Frame(0x7E8, {0x03, 0x6E, 0xF1, 0x90}));
  // The consecutive frame numbered 2 where 1 was due: the request is lost whole.
  EXPECT_EQ(Cmd(first), Z11 + FLOW);
  EXPECT_EQ(Cmd(Request(0x7E0, {0x22, 0x44, 0x45})), Z11);
  EXPECT_EQ(Cmd(Request(0x7E0, {0x21, 0x44, 0x45})), Z11);
  // N_Cr over before the consecutive frame.
  EXPECT_EQ(Cmd(first), Z11 + FLOW);
  nowUs += EMU_ISOTP_TIMEOUT_US + 1;
  EXPECT_EQ(Cmd(Request(0x7E0, {0x21, 0x44, 0x45})), Z11);
}

// The ECUs' faults as the vehicle file sets them, and real timing read from the stepped clock:
// each frame its time on the bus, the answer after the car's answer time and the ECU's delay.
TEST_F(Slcan, SilentAndLateEcusAndTheTimeFramesTake) {
  auto set = [](const char* name, const char* value) {
    std::string error;
    ASSERT_EQ(emu_SetVehicleValue(name, value, &error), 0) << name << ": " << error;
  };
  Open();
  set("ecu.1.silent", "true");
  EXPECT_EQ(Cmd(Request(0x7DF, {0x02, 0x01, 0x00})), Z11 + PID00_ECU1);
  set("ecu.1.silent", "false");

  emu_SlcanSetRealTiming(true);
  pauses.clear();
  EXPECT_EQ(Cmd(ASK_RPM), Z11 + RPM_ECU0);
  EXPECT_EQ(pauses, (std::vector<uint32_t>{250, 10000, 250}));  // 125 bits at 500 kbit/s, the car's 10 ms
  set("ecu.1.answer_delay", "300");
  pauses.clear();
  EXPECT_EQ(Cmd(ASK_RPM), Z11 + RPM_ECU0);
  EXPECT_EQ(pauses, (std::vector<uint32_t>{250, 310000, 250}));
  pauses.clear();
  EXPECT_EQ(Cmd(Request(0x18DA10F1, {0x02, 0x01, 0x0C}, true)),
            Z29 + Frame(0x18DAF110, {0x04, 0x41, 0x0C, 0x01, 0x10}, true));
  EXPECT_EQ(pauses, (std::vector<uint32_t>{300, 310000, 300}));
  emu_SlcanSetRealTiming(false);
}

// The bus's faults on cue, each once, loaded or set: a consecutive frame lost (the ECU goes on,
// the tester finds the next one out of turn and drops the message: nothing comes half), an
// error frame (the tester's frame reaches no ECU, the flags show the bus error), and a request
// the ECUs keep silent at.
TEST_F(Slcan, LostFramesErrorFramesAndSilentRequestsComeOnceOnCue) {
  auto set = [](const char* name, const char* value) {
    std::string error;
    ASSERT_EQ(emu_SetVehicleValue(name, value, &error), 0) << name << ": " << error;
  };
  Open();
  set("lose_frame", "true");
  EXPECT_EQ(Cmd(ASK_RPM), Z11 + RPM_ECU0) << "single frames are not consecutive ones";
  EXPECT_EQ(Cmd(ASK_VIN), Z11 + VIN_FIRST);
  EXPECT_EQ(Cmd(FlowControl(0, 0, 0)), Z11 + VIN_CF2);
  EXPECT_EQ(Cmd(ASK_VIN), Z11 + VIN_FIRST);
  EXPECT_EQ(Cmd(FlowControl(0, 0, 0)), Z11 + VIN_CF1 + VIN_CF2) << "once";
  LoadCar("error_frame = true\n");
  EXPECT_EQ(Cmd(ASK_RPM), Z11);
  EXPECT_EQ(Cmd("F"), "F80\r");
  EXPECT_EQ(Cmd(ASK_RPM), Z11 + RPM_ECU0);
  EXPECT_EQ(Cmd("F"), "F00\r");
  emu_CarArmCanCue(EmuCanCue::SilentRequest);  // the operator's y
  EXPECT_EQ(Cmd(Request(0x7DF, {0x02, 0x01, 0x00})), Z11);
  EXPECT_EQ(Cmd(Request(0x7DF, {0x02, 0x01, 0x00})), Z11 + PID00_ECU0 + PID00_ECU1);
  emu_CarArmCanCue(EmuCanCue::SilentRequest);
  EXPECT_EQ(Cmd(ASK_VIN), Z11);
  EXPECT_EQ(Cmd(FlowControl(0, 0, 0)), Z11);
  EXPECT_EQ(Cmd("F"), "F00\r");
}

// A client that leaves takes its half-sent command and its transfer with it; the adapter keeps
// its channel open and its settings, as one that keeps its power does.
TEST_F(Slcan, AClientThatLeavesTakesItsLineAndTransferWithIt) {
  emu_SlcanSetPort(&LEAVING);
  Open();
  EXPECT_EQ(Cmd(ASK_VIN), Z11 + VIN_FIRST);
  EXPECT_EQ(Serve("t7E0802"), "");
  clientLeaves = true;
  EXPECT_EQ(Cmd("V"), "V1013\r");  // not "t7E0802V": the half-sent frame left with its client
  EXPECT_EQ(Cmd(FlowControl(0, 0, 0)), Z11);  // the answer under way went too
  EXPECT_EQ(Cmd(ASK_RPM), Z11 + RPM_ECU0);
}

TEST_F(Slcan, TheFilterAndTimeStampsShapeWhatTheClientReceives) {
  ASSERT_EQ(Cmd("M000007E9"), OK);
  ASSERT_EQ(Cmd("m00000000"), OK);  // only 7E9
  Open();
  EXPECT_EQ(Cmd(Request(0x7DF, {0x02, 0x01, 0x00})), Z11 + PID00_ECU1);
  ASSERT_EQ(Cmd("C"), OK);
  ASSERT_EQ(Cmd("mFFFFFFFF"), OK);
  ASSERT_EQ(Cmd("Z1"), OK);
  Open();
  nowUs = 61234567;  // 61234 ms: the stamp wraps at 60000
  const std::string stamped = RPM_ECU0.substr(0, RPM_ECU0.size() - 1) + "04D2\r";
  EXPECT_EQ(Cmd(ASK_RPM), Z11 + stamped);
}

// The car's periodic frames reach a client whose channel is open, listen-only too, at their
// period on the bus's clock, a live value as the car has it when the frame goes; nothing on a
// closed channel, at another bit rate, or with the ignition off.
TEST_F(Slcan, PeriodicFramesComeAtTheirPeriodWhileTheChannelIsOpen) {
  LoadCar(BROADCASTING_CAR);
  const std::string FIXED = "t3E93010203\r";
  auto speed = [](const char* hex) { return "T18FEF1001" + std::string(hex) + "\r"; };
  EXPECT_EQ(Serve(""), "");  // closed
  EXPECT_EQ(Cmd("L"), OK + FIXED + speed("32"));
  EXPECT_EQ(emu_SlcanWaitMs(), 100);
  nowUs += 99000;
  EXPECT_EQ(Serve(""), "");
  nowUs += 1000;
  EXPECT_EQ(Serve(""), FIXED);
  std::string error;
  ASSERT_EQ(emu_SetVehicleValue("ecu.1.speed", "60", &error), 0) << error;
  nowUs += 150000;  // 250 ms: the frame due at 200 comes late, once
  EXPECT_EQ(Serve(""), FIXED + speed("3C"));
  nowUs += 50000;
  EXPECT_EQ(Serve(""), FIXED);
  // A closed channel hears nothing and needs no waking; opened, every frame is due at once, and
  // frames due go out after the answer the client asked for.
  ASSERT_EQ(Cmd("C"), OK);
  EXPECT_EQ(emu_SlcanWaitMs(), -1);
  nowUs += 1000000;
  EXPECT_EQ(Serve(""), "");
  EXPECT_EQ(Cmd("O"), OK + FIXED + speed("3C"));
  nowUs += 100000;
  EXPECT_EQ(Cmd(Request(0x7E0, {0x02, 0x01, 0x0D})), Z11 + Frame(0x7E8, {0x03, 0x41, 0x0D, 0x3C}) + FIXED);
  // At another bit rate, or with the ignition off, the car sends nothing.
  vehicleProtocol = 6;
  ASSERT_EQ(Cmd("C"), OK);
  ASSERT_EQ(Cmd("S5"), OK);
  ASSERT_EQ(Cmd("O"), OK);
  EXPECT_EQ(emu_SlcanWaitMs(), -1);
  nowUs += 1000000;
  EXPECT_EQ(Serve(""), "");
  ASSERT_EQ(Cmd("C"), OK);
  ASSERT_EQ(Cmd("S6"), OK);
  ASSERT_EQ(emu_SetVehicleValue("ignition", "false", &error), 0) << error;
  EXPECT_EQ(Cmd("O"), OK);
  EXPECT_EQ(emu_SlcanWaitMs(), -1);
}

// The adapter stands beside the handheld's module and the ELM327: it reaches the bus facts, the
// car, what adapters share at the line and the line, never another adapter or what is above.
TEST(SlcanLayers, TheAdapterIncludesNoOtherAdapterNorTheHost) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(__FILE__).parent_path().parent_path().parent_path() / "slcan";
  static const std::regex include(R"re(^\s*#\s*include\s*"([^"]+)")re");
  int files = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::ifstream in(entry.path());
    ++files;
    for (std::string line; std::getline(in, line);) {
      std::smatch m;
      if (!std::regex_search(line, m, include)) continue;
      const std::string name = m[1];
      bool allowed = false;
      for (const char* below : {"bus/", "vehicle/", "adapter/", "line/", "slcan/"}) allowed = allowed || name.rfind(below, 0) == 0;
      EXPECT_TRUE(allowed) << entry.path().filename() << " includes " << name;
    }
  }
  EXPECT_GT(files, 0);
}

}  // namespace
