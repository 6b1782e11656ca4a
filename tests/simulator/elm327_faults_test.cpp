// Faults on cue in the ELM327 v1.5 personality, in-process over a real pseudo-terminal: set by
// their names as "set" gives them, byte for byte on the line where the outcome is fixed; the
// seeded draws (errors, noise and where it goes) the same for the same seed and different for
// another; answers cut into pieces seen as the writes the port gets; the client dropped after
// so many lines, after its time, or at once, through the line's drop.
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "adapter/line_faults.h"
#include "vehicle/vehicle_file.h"
#include "tests/simulator/elm_adapter.h"

namespace {

using namespace elm_test;

const std::string ECU0_PID00 = "41 00 FF FF FF F7 ";
const std::string ECU1_PID00 = "41 00 B7 80 00 01 ";
const std::string ECU0_RPM = "41 0C 01 10 ";

// Every write the adapter hands its port, as it hands it.
std::vector<std::string> writes;
void RecordingWrite(const char* text, size_t n) {
  writes.emplace_back(text, n);
  AdapterWrite(text, n);
}
const EmuElmPort RECORDING = {AdapterRead, RecordingWrite, AdapterWaitForInput};

// The line's drops, and how much the adapter had written when each came.
std::vector<size_t> drops;
void RecordDrop() { drops.push_back(adapterWrote); }

class ElmFaults : public ElmAdapter {
 protected:
  void SetUp() override {
    ElmAdapter::SetUp();
    writes.clear();
    drops.clear();
    emu_LineFaultsSetDrop(RecordDrop);
    emu_ElmSetPort(&RECORDING);
  }
  void TearDown() override {
    emu_LineFaultsSetDrop(nullptr);
    ElmAdapter::TearDown();
  }

  static void Set(const char* name, const char* value) {
    std::string error;
    ASSERT_EQ(emu_SetVehicleValue(name, value, &error), 0) << name << " " << value << ": " << error;
  }

  // The answers to `count` asks of 010C.
  std::vector<std::string> Answers(int count) {
    std::vector<std::string> got;
    for (int i = 0; i < count; ++i) got.push_back(Ask("010C"));
    return got;
  }
};

// ---------------------------------------------------------------------------------------------
// The adapter's errors

TEST_F(ElmFaults, ErrorsReplaceOrMarkTheAnswerAsTheAdapterPrintsThem) {
  Quiet();
  ExpectOk("ATSP6");
  Set("faults.error_rate", "1");
  struct {
    const char* error;
    std::string pid0C, pid00;
  } const cases[] = {
      {"CAN ERROR", Lines({"CAN ERROR"}), Lines({"CAN ERROR"})},
      {"NO DATA", Lines({"NO DATA"}), Lines({"NO DATA"})},
      {"UNABLE TO CONNECT", Lines({"UNABLE TO CONNECT"}), Lines({"UNABLE TO CONNECT"})},
      {"BUFFER FULL", Lines({"BUFFER FULL"}), Lines({"BUFFER FULL"})},
      // The check byte mark ends the line whose bytes are still shown; the rest follows.
      {"<DATA ERROR", Lines({ECU0_RPM + "<DATA ERROR"}), Lines({ECU0_PID00 + "<DATA ERROR", ECU1_PID00})},
      // After a frame received with an error nothing more is shown.
      {"<RX ERROR", Lines({ECU0_RPM + "<RX ERROR"}), Lines({ECU0_PID00 + "<RX ERROR"})},
  };
  for (const auto& c : cases) {
    Set("faults.errors", c.error);
    EXPECT_EQ(Ask("010C"), c.pid0C) << c.error;
    EXPECT_EQ(Ask("0100"), c.pid00) << c.error;
    // Commands keep their answers.
    EXPECT_EQ(Ask("ATRV"), Lines({"12.6V"})) << c.error;
  }
  // With headers the mark follows the frame's bytes.
  ExpectOk("ATH1");
  Set("faults.errors", "<DATA ERROR");
  EXPECT_EQ(Ask("010C"), Lines({"7E8 04 41 0C 01 10 00 00 00 <DATA ERROR"}));
  // Off CAN the mark is for the check byte the line corrupted: shown as it came, with headers.
  ExpectOk("ATSP3");
  EXPECT_EQ(Ask("010C"), "BUS INIT: ...OK\r" + Lines({"48 6B 10 41 0C 01 10 DE <DATA ERROR"}));
  EXPECT_EQ(Ask("ATBD").substr(0, 36), "08 \r48 \r6B \r10 \r41 \r0C \r01 \r10 \rDE \r");
  ExpectOk("ATSP6");
  ExpectOk("ATH0");
  // A request that no ECU answers has no line to mark.
  EXPECT_EQ(Ask("011D"), Lines({"NO DATA"}));
  Set("faults.error_rate", "0");
  EXPECT_EQ(Ask("010C"), Lines({ECU0_RPM}));
}

TEST_F(ElmFaults, TheSameSeedDrawsTheSameErrorsAndAnotherSeedOthers) {
  Quiet();
  ExpectOk("ATSP6");
  Set("faults.error_rate", "0.5");
  Set("faults.errors", "NO DATA, CAN ERROR, <RX ERROR");
  Set("faults.seed", "7");
  const std::vector<std::string> first = Answers(12);
  const std::string RPM = Lines({ECU0_RPM}), NO_DATA = Lines({"NO DATA"}), CAN_ERROR = Lines({"CAN ERROR"}),
                    RX_ERROR = Lines({ECU0_RPM + "<RX ERROR"});
  EXPECT_EQ(first, (std::vector<std::string>{NO_DATA, RPM, RPM, NO_DATA, NO_DATA, RX_ERROR, CAN_ERROR, RPM, RPM, RPM,
                                             RPM, RPM}));
  // Giving the seed again starts the draws again, whatever came between.
  EXPECT_EQ(Ask("ATI"), Lines({"ELM327 v1.5"}));
  Set("faults.seed", "7");
  EXPECT_EQ(Answers(12), first);
  Set("faults.seed", "8");
  EXPECT_NE(Answers(12), first);
}

// ---------------------------------------------------------------------------------------------
// The line

TEST_F(ElmFaults, AnAnswerGoesOutInPiecesAfterTheEchoWrittenApart) {
  EXPECT_EQ(Ask("ATSP6"), "ATSP6\r" + Lines({"OK"}));
  writes.clear();
  Set("faults.chunk", "4");
  EXPECT_EQ(Ask("010C"), "010C\r" + Lines({ECU0_RPM}));
  EXPECT_EQ(writes, (std::vector<std::string>{"010C\r", "41 0", "C 01", " 10 ", "\r\r>"}));
  // Two lines in one batch: each answer in pieces of its own, the echo between them whole.
  writes.clear();
  Set("faults.chunk", "6");
  EXPECT_EQ(Send("ATE0\rATRV\r"), "ATE0\r" + Lines({"OK"}) + Lines({"12.6V"}));
  EXPECT_EQ(writes, (std::vector<std::string>{"ATE0\r", "OK\r\r>", "12.6V\r", "\r>"}));
  // A stall (with no pieces) keeps the answer whole.
  writes.clear();
  Set("faults.chunk", "0");
  Set("faults.stall", "1");
  EXPECT_EQ(Ask("010C"), Lines({ECU0_RPM}));
  EXPECT_EQ(writes, (std::vector<std::string>{Lines({ECU0_RPM})}));
}

// Armed once (the window's test bench): the next answer only, then the car as before.
TEST_F(ElmFaults, AnArmedFaultActsOnTheNextAnswerOnly) {
  Quiet();
  ExpectOk("ATSP6");
  // An error replaces the next OBD answer, never a command's, and draws nothing from the seed.
  emu_LineFaultsArmError(1);  // CAN ERROR
  EXPECT_EQ(Ask("ATRV"), Lines({"12.6V"}));
  EXPECT_EQ(Ask("010C"), Lines({"CAN ERROR"}));
  EXPECT_EQ(Ask("010C"), Lines({ECU0_RPM}));
  EXPECT_EQ(emu_LineFaultsArmed().error, -1);
  // Silence swallows the next answer, prompt and all; the line after it is answered.
  emu_LineFaultsArmSilence(true);
  EXPECT_EQ(Ask("010C"), "");
  EXPECT_FALSE(emu_LineFaultsArmed().silent);
  EXPECT_EQ(Ask("010C"), Lines({ECU0_RPM}));
  // A stall holds the next answer back and writes it whole, as a set stall does.
  emu_LineFaultsArmStall(1);
  writes.clear();
  EXPECT_EQ(Ask("ATRV"), Lines({"12.6V"}));
  EXPECT_EQ(writes, (std::vector<std::string>{Lines({"12.6V"})}));
  EXPECT_EQ(emu_LineFaultsArmed().stallMs, 0u);
  // Disarmed before the answer: nothing happens to it.
  emu_LineFaultsArmError(0);
  emu_LineFaultsArmError(-1);
  EXPECT_EQ(Ask("010C"), Lines({ECU0_RPM}));
}

// What is left of a noisy answer once the noise is taken out at `at`: the answer itself.
std::string WithoutNoise(const std::string& answer, size_t at, size_t n) {
  return answer.substr(0, at) + answer.substr(at + n);
}

TEST_F(ElmFaults, LineNoiseComesBeforeOrInsideTheAnswerNeverAsAPrompt) {
  Quiet();
  ExpectOk("ATSP6");
  const std::string clean = Lines({ECU0_PID00, ECU1_PID00});
  Set("faults.seed", "3");
  Set("faults.garbage_before", "300");
  const std::string before = Ask("0100");
  ASSERT_EQ(before.size(), 300 + clean.size());
  EXPECT_EQ(before.substr(300), clean);
  EXPECT_EQ(before.find('>'), before.size() - 1);
  Set("faults.seed", "3");
  EXPECT_EQ(Ask("0100"), before) << "the same seed gives the same noise";
  Set("faults.seed", "4");
  EXPECT_NE(Ask("0100"), before);

  Set("faults.garbage_before", "0");
  Set("faults.garbage_inside", "5");
  std::vector<size_t> places;
  for (int i = 0; i < 20; ++i) {
    const std::string inside = Ask("0100");
    ASSERT_EQ(inside.size(), clean.size() + 5);
    EXPECT_EQ(inside.find('>'), inside.size() - 1);
    // Where the noise went: the first byte that differs, with the answer whole around it.
    size_t at = 0;
    while (at < clean.size() && inside[at] == clean[at]) ++at;
    // Noise may begin with the very byte it pushed on: look back for the run that leaves the
    // answer whole.
    size_t found = std::string::npos;
    for (size_t start = at + 1; start-- > 0 && found == std::string::npos;)
      if (WithoutNoise(inside, start, 5) == clean) found = start;
    ASSERT_NE(found, std::string::npos) << "the answer is not whole around the noise";
    EXPECT_GE(found, 1u);
    EXPECT_LE(found, clean.size() - 1) << "the noise comes before the prompt";
    places.push_back(found);
  }
  EXPECT_NE(std::count(places.begin(), places.end(), places[0]), 20) << "the place is drawn anew each answer";
}

TEST_F(ElmFaults, TheClientIsDroppedAfterItsLastLineAnswered) {
  Quiet();  // the first line of this client
  Set("faults.drop_after", "4");
  EXPECT_EQ(Ask("ATI"), Lines({"ELM327 v1.5"}));
  EXPECT_TRUE(drops.empty());
  // The fourth line's answer goes out whole before the drop; what the client sent after it
  // is nobody's.
  const size_t before = adapterWrote;
  EXPECT_EQ(Send("ATRV\rATRV\rATI\r"), Lines({"12.6V"}) + Lines({"12.6V"}));
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(drops[0], before + 2 * Lines({"12.6V"}).size());
  // The next client is counted from its first line; the adapter kept its settings (echo off).
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Ask("ATI"), Lines({"ELM327 v1.5"}));
  EXPECT_EQ(drops.size(), 1u);
  EXPECT_EQ(Ask("ATI"), Lines({"ELM327 v1.5"}));
  EXPECT_EQ(drops.size(), 2u);
  // A half-typed line of a dropped client is void.
  Set("faults.drop_after", "1");
  EXPECT_EQ(Send("ATI\rATR"), Lines({"ELM327 v1.5"}));
  EXPECT_EQ(Ask("V"), Lines({"?"}));
}

TEST_F(ElmFaults, TheClientIsDroppedWhenItsTimeIsUpOrAtOnce) {
  Set("faults.drop_at", "1");
  EXPECT_EQ(emu_LineFaultsWaitMs(-1), -1) << "no client byte yet: no time running";
  EXPECT_EQ(Ask("ATI"), "ATI\r" + Lines({"ELM327 v1.5"}));
  EXPECT_GE(emu_LineFaultsWaitMs(-1), 0) << "a wait for input ends at the drop time";
  EXPECT_TRUE(WaitFor([] {
    emu_ElmServeInput();
    return drops.size() == 1;
  }));
  EXPECT_EQ(emu_LineFaultsWaitMs(-1), -1) << "the next client's time starts with its first byte";
  Set("faults.drop_at", "0");

  Set("faults.drop_now", "true");
  EXPECT_EQ(drops.size(), 2u);
  Set("faults.drop_now", "false");
  EXPECT_EQ(drops.size(), 2u);
}

// ---------------------------------------------------------------------------------------------
// The car

TEST_F(ElmFaults, WithTheIgnitionOffNoEcuAnswersAndTheBatteryRests) {
  Quiet();
  Set("battery", "11.8");
  EXPECT_EQ(Ask("ATRV"), Lines({"11.8V"}));
  Set("ignition", "false");
  EXPECT_EQ(Ask("ATRV"), Lines({"12.4V"}));
  Set("resting_battery", "11.9");
  EXPECT_EQ(Ask("ATRV"), Lines({"11.9V"}));
  EXPECT_EQ(Ask("0100"), "SEARCHING...\r" + Lines({"UNABLE TO CONNECT"}));
  ExpectOk("ATSP3");
  EXPECT_EQ(Ask("010C"), "BUS INIT: ...ERROR\r\r>");
  Set("ignition", "true");
  EXPECT_EQ(Ask("ATRV"), Lines({"11.8V"}));
  EXPECT_EQ(Ask("010C"), "BUS INIT: ...OK\r" + Lines({ECU0_RPM}));
  // Switched off while connected: silence, on CAN as well.
  Set("ignition", "false");
  EXPECT_EQ(Ask("010C"), Lines({"NO DATA"}));
  ExpectOk("ATSP6");
  EXPECT_EQ(Ask("0100"), Lines({"NO DATA"}));
  Set("ignition", "true");
  EXPECT_EQ(Ask("0100"), Lines({ECU0_PID00, ECU1_PID00}));
}

TEST_F(ElmFaults, SilentLateAndPendingEcus) {
  Quiet();
  ExpectOk("ATSP6");
  Set("ecu.1.silent", "true");
  EXPECT_EQ(Ask("0100"), Lines({ECU1_PID00}));
  EXPECT_EQ(Ask("010C"), Lines({"NO DATA"}));
  Set("ecu.1.silent", "false");
  // Later than the time-out (200 ms by default) the adapter does not wait for the ECU.
  Set("ecu.2.answer_delay", "300");
  EXPECT_EQ(Ask("0100"), Lines({ECU0_PID00}));
  ExpectOk("ATST 4B");  // 300 ms
  EXPECT_EQ(Ask("0100"), Lines({ECU0_PID00, ECU1_PID00}));
  Set("ecu.2.answer_delay", "0");
  // Response pending: the 78 first, then the answer, however long the ECU takes.
  Set("ecu.1.response_pending", "5000");
  EXPECT_EQ(Ask("010C"), Lines({"7F 01 78 ", ECU0_RPM}));
  ExpectOk("ATH1");
  EXPECT_EQ(Ask("0100"), Lines({"7E8 03 7F 01 78 00 00 00 00 ", "7E8 06 41 00 FF FF FF F7 00 ",
                                "7E9 06 41 00 B7 80 00 01 00 "}));
}

}  // namespace
