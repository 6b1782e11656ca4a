// The ELM327 v1.5's commands that real clients also send, byte for byte on a real
// pseudo-terminal, against the default car (elm_adapter.h): K-line initialisation, filters, the
// message buffer, the bus monitor, the baud rate switch and the transmit buffer it can overflow.
#include <atomic>
#include <thread>

#include "tests/simulator/elm_adapter.h"

namespace {

using namespace elm_test;

using ElmAnswers = ElmAdapter;
using ElmKLine = ElmAdapter;
using ElmFilters = ElmAdapter;
using ElmMonitor = ElmAdapter;
using ElmBaud = ElmAdapter;

TEST_F(ElmKLine, SlowInitialisationReachesTheFunctionalAddressAndEachEcusOwn) {
  Quiet();
  emu_VehicleSetProtocol(4);
  ExpectOk("ATSP4");
  // ATSI before any request: the bus is initialised and the protocol in use.
  EXPECT_EQ(Ask("ATSI"), Lines({"BUS INIT: ...OK"}));
  EXPECT_EQ(emu_ElmConnectedProtocol(), 4);
  EXPECT_EQ(Ask("ATKW"), Lines({"1:6B 2:8F"}));
  EXPECT_EQ(Ask("010C"), Lines({ECU0_RPM}));  // no second initialisation
  // Each ECU answers its own address; an address no ECU has fails, and nothing is connected.
  for (const char* ecu : {"ATIIA 10", "ATIIA 18", "ATIIA 33"}) {
    SCOPED_TRACE(ecu);
    ExpectOk(ecu);
    EXPECT_EQ(Ask("ATSI"), Lines({"BUS INIT: ...OK"}));
  }
  ExpectOk("ATIIA 11");
  EXPECT_EQ(Ask("ATSI"), "BUS INIT: ...ERROR\r\r>");
  ExpectOk("ATPC");
  EXPECT_EQ(Ask("010C"), "BUS INIT: ...ERROR\r\r>");
  EXPECT_EQ(emu_ElmConnectedProtocol(), 0);
  // The address set by a client that talks to one ECU initialises it before a request.
  ExpectOk("ATIIA 10");
  ExpectOk("ATSH 8110F1");
  EXPECT_EQ(Ask("010C"), "BUS INIT: ...OK\r" + Lines({ECU0_RPM}));
  // A reset returns to the functional address.
  ASSERT_EQ(Ask("ATZ"), "\r\r" + Lines({IDENTITY}));
  Quiet();
  ExpectOk("ATSP4");
  ExpectOk("ATIIA 11");
  ASSERT_EQ(Ask("ATD"), Lines({"OK"}));
  Quiet();
  EXPECT_EQ(Ask("ATSI"), Lines({"BUS INIT: ...OK"}));
  // ISO 9141-2's key bytes.
  ExpectOk("ATSP3");
  EXPECT_EQ(Ask("ATSI"), "BUS INIT: ...ERROR\r\r>");  // the car talks ISO 14230-4
  emu_VehicleSetProtocol(3);
  EXPECT_EQ(Ask("ATSI"), Lines({"BUS INIT: ...OK"}));
  EXPECT_EQ(Ask("ATKW"), Lines({"1:94 2:94"}));
}

TEST_F(ElmKLine, FastInitialisationAndCommandsOnProtocolsWhereTheyDoNotApply) {
  Quiet();
  ExpectOk("ATSP5");
  EXPECT_EQ(Ask("ATFI"), Lines({"BUS INIT: OK"}));
  EXPECT_EQ(Ask("ATKW"), Lines({"1:E9 2:8F"}));
  EXPECT_EQ(Ask("ATSI"), Lines({"?"}));  // slow initialisation: protocols 3 and 4 only
  emu_VehicleSetProtocol(6);
  EXPECT_EQ(Ask("ATFI"), "BUS INIT: ERROR\r\r>");
  // Off the K-line (and before any protocol is chosen) none of them applies.
  for (const char* set : {"ATSP0", "ATSP1", "ATSP6", "ATSP9"}) {
    SCOPED_TRACE(set);
    ExpectOk(set);
    for (const char* command : {"ATSI", "ATFI", "ATKW"}) EXPECT_EQ(Ask(command), Lines({"?"})) << command;
  }
  ExpectOk("ATSP3");
  EXPECT_EQ(Ask("ATFI"), Lines({"?"}));
  // The initialisation's address is two hex digits; the key-byte check a bit.
  for (const char* bad : {"ATIIA", "ATIIA 1", "ATIIA 123", "ATIIA GG", "ATKW2", "ATSI1", "ATFI0"})
    EXPECT_EQ(Ask(bad), Lines({"?"})) << bad;
  ExpectOk("ATKW0");
  emu_VehicleSetProtocol(3);
  EXPECT_EQ(Ask("ATSI"), Lines({"BUS INIT: ...OK"}));
}

TEST_F(ElmFilters, AutomaticReceiveUndoesTheFiltersAndIdAndMaskChooseTheAnswers) {
  Quiet();
  ExpectOk("ATSP6");
  ExpectOk("ATH1");
  const std::string ecu0 = "7E8 06 " + ECU0_PID00 + "00 ";
  const std::string ecu1 = "7E9 06 " + ECU1_PID00 + "00 ";
  ExpectOk("ATCRA 7E9");
  EXPECT_EQ(Ask("0100"), Lines({ecu1}));
  ExpectOk("ATAR");
  EXPECT_EQ(Ask("0100"), Lines({ecu0, ecu1}));
  // ATCF alone compares every bit; ATCM chooses the bits.
  ExpectOk("ATCF 7E8");
  EXPECT_EQ(Ask("0100"), Lines({ecu0}));
  ExpectOk("ATCM 7F0");
  EXPECT_EQ(Ask("0100"), Lines({ecu0, ecu1}));
  ExpectOk("ATCM 7FF");
  ExpectOk("ATCF 7E9");
  EXPECT_EQ(Ask("0100"), Lines({ecu1}));
  ExpectOk("ATCF 7EA");
  EXPECT_EQ(Ask("0100"), Lines({"NO DATA"}));
  ExpectOk("ATAR");
  EXPECT_EQ(Ask("0100"), Lines({ecu0, ecu1}));
  // A mask alone compares its bits with zeros.
  ExpectOk("ATCM 001");
  EXPECT_EQ(Ask("0100"), Lines({ecu0}));
  ExpectOk("ATAR");
  // 29-bit identifiers take eight digits.
  ExpectOk("ATSP7");
  ExpectOk("ATCF 18DAF118");
  EXPECT_EQ(Ask("0100"), Lines({"18 DA F1 18 06 " + ECU1_PID00 + "00 "}));
  ExpectOk("ATAR");
  EXPECT_EQ(Ask("0100"), Lines({"18 DA F1 10 06 " + ECU0_PID00 + "00 ", "18 DA F1 18 06 " + ECU1_PID00 + "00 "}));
  for (const char* bad : {"ATCF", "ATCF 7E", "ATCF 7EX", "ATCM 1234", "ATAR1"}) EXPECT_EQ(Ask(bad), Lines({"?"})) << bad;
}

TEST_F(ElmFilters, BufferDumpShowsTheLastMessageReceived) {
  Quiet();
  auto dump = [](std::vector<uint8_t> message) {
    std::vector<std::string> lines = {Hex({static_cast<uint8_t>(message.size())})};
    message.resize(12, 0x00);
    for (uint8_t b : message) lines.push_back(Hex({b}));
    std::string text;
    for (const std::string& line : lines) text += line + "\r";
    return text + "\r>";
  };
  EXPECT_EQ(Ask("ATBD"), dump({}));  // nothing received yet
  ExpectOk("ATSP6");
  ASSERT_EQ(Ask("010C1"), Lines({ECU0_RPM}));
  EXPECT_EQ(Ask("ATBD"), dump({0x04, 0x41, 0x0C, 0x01, 0x10, 0x00, 0x00, 0x00}));
  // A multi-frame answer leaves its last frame.
  ASSERT_EQ(Ask("09021").substr(0, 4), "014 ");
  EXPECT_EQ(Ask("ATBD"), dump({0x22, 0x58, 0x59, 0x5A, 0x41, 0x42, 0x43, 0x44}));
  // Off CAN the header and the check byte are kept, with headers off too.
  ExpectOk("ATSP3");
  ASSERT_EQ(Ask("010C"), "BUS INIT: ...OK\r" + Lines({ECU0_RPM}));
  EXPECT_EQ(Ask("ATBD"), dump({0x48, 0x6B, 0x10, 0x41, 0x0C, 0x01, 0x10, 0x21}));
  ExpectOk("ATS0");
  EXPECT_EQ(Ask("ATBD").substr(0, 9), "08\r48\r6B\r");
}

// The car's ECUs broadcast what the test puts here, one message each time the monitor looks.
std::vector<EmuElmBusMessage> broadcasts;
std::atomic<size_t> broadcastAt = 0;
bool endless = false;
bool NextBroadcast(uint8_t, EmuElmBusMessage* m) {
  if (broadcastAt >= broadcasts.size()) {
    if (!endless || broadcasts.empty()) return false;
    broadcastAt = 0;
  }
  *m = broadcasts[broadcastAt++];
  return true;
}

class ElmBusMonitor : public ElmAdapter {
 protected:
  void SetUp() override {
    ElmAdapter::SetUp();
    broadcasts.clear();
    broadcastAt = 0;
    endless = false;
    emu_ElmSetBroadcastSource(NextBroadcast);
  }
  void TearDown() override {
    emu_ElmSetRealTiming(false, 9600);
    emu_ElmSetBroadcastSource(nullptr);
    ElmAdapter::TearDown();
  }

  void ReadSome(std::string* seen) {
    char buf[4096];
    for (ssize_t n; (n = read(client_, buf, sizeof buf)) > 0;) seen->append(buf, static_cast<size_t>(n));
  }

  // The client starts the monitor, lets it see every broadcast, then sends a character: what the
  // monitor printed up to its prompt.
  std::string Monitor(const std::string& command) {
    broadcastAt = 0;
    const std::string line = command + "\r";
    EXPECT_EQ(write(client_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    std::thread adapter([] { emu_ElmServeInput(); });
    EXPECT_TRUE(WaitFor([&] { return broadcastAt == broadcasts.size(); }));
    EXPECT_EQ(write(client_, "X", 1), 1);
    std::string seen;
    EXPECT_TRUE(WaitFor([&] {
      ReadSome(&seen);
      return seen.size() >= 2 && seen.compare(seen.size() - 2, 2, "\r>") == 0;
    }));
    adapter.join();
    return seen;
  }
};

TEST_F(ElmBusMonitor, MonitorShowsTheBusUntilACharacterAndFiltersByAddress) {
  Quiet();
  ExpectOk("ATSP3");
  ASSERT_EQ(Ask("0100").substr(0, 16), "BUS INIT: ...OK\r");
  // Off CAN: three header bytes in `id`; to 6B (the tester) from 10 and 18, and one to 22.
  broadcasts = {{0x486B10, {0x41, 0x0D, 0x20}, 3}, {0x486B18, {0x41, 0x05, 0x7B}, 3}, {0x482210, {0x01, 0x02}, 2}};
  EXPECT_EQ(Monitor("ATMA"), Lines({"41 0D 20 ", "41 05 7B ", "01 02 "}));
  EXPECT_EQ(Ask("ATI"), Lines({IDENTITY}));  // the X was dropped, not taken as a command
  ExpectOk("ATH1");
  EXPECT_EQ(Monitor("ATMT 18"), Lines({"48 6B 18 41 05 7B 8C "}));
  EXPECT_EQ(Monitor("ATMR 22"), Lines({"48 22 10 01 02 7D "}));
  // CAN: the receive filter applies; the frame's data alone with headers off.
  ExpectOk("ATSP6");
  broadcasts = {{0x7E8, {0x03, 0x41, 0x0D, 0x20, 0, 0, 0, 0}, 8}, {0x3E0, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}, 8}};
  EXPECT_EQ(Monitor("ATMA"), Lines({"7E8 03 41 0D 20 00 00 00 00 ", "3E0 01 02 03 04 05 06 07 08 "}));
  ExpectOk("ATCRA 3E0");
  EXPECT_EQ(Monitor("ATMA"), Lines({"3E0 01 02 03 04 05 06 07 08 "}));
  ExpectOk("ATAR");
  ExpectOk("ATH0");
  EXPECT_EQ(Monitor("ATMA"), Lines({"41 0D 20 ", "02 "}));
  for (const char* bad : {"ATMA1", "ATMR", "ATMT 1", "ATMR 123"}) EXPECT_EQ(Ask(bad), Lines({"?"})) << bad;
}

TEST_F(ElmBusMonitor, ACharacterStopsTheMonitorAfterTheLineItIsPrinting) {
  Quiet();
  ExpectOk("ATSP6");
  ExpectOk("ATH1");
  broadcasts = {{0x3E0, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}, 8}};
  endless = true;
  // Real timing: each line takes its bytes' time, and the character comes while one goes out.
  emu_ElmSetRealTiming(true, 9600);
  const std::string line = "3E0 01 02 03 04 05 06 07 08 \r";
  ASSERT_EQ(write(client_, "ATMA\r", 5), 5);
  std::thread adapter([] { emu_ElmServeInput(); });
  std::string seen;
  auto readSome = [&] { ReadSome(&seen); };
  EXPECT_TRUE(WaitFor([&] {
    readSome();
    return seen.size() > 3 * line.size();
  }));
  ASSERT_EQ(write(client_, "X", 1), 1);
  EXPECT_TRUE(WaitFor([&] {
    readSome();
    return seen.size() >= 2 && seen.compare(seen.size() - 2, 2, "\r>") == 0;
  }));
  adapter.join();
  readSome();
  // Whole lines only, then the prompt; the adapter listens again.
  ASSERT_GE(seen.size(), line.size() + 2);
  const std::string lines = seen.substr(0, seen.size() - 2);
  ASSERT_EQ(lines.size() % line.size(), 0u) << lines.size();
  for (size_t at = 0; at < lines.size(); at += line.size()) ASSERT_EQ(lines.substr(at, line.size()), line) << at;
  endless = false;
  EXPECT_EQ(Ask("ATI"), Lines({IDENTITY}));
}

TEST_F(ElmBaud, HandshakeKeepsTheRateOnlyWhenTheClientAnswersWithACarriageReturn) {
  Quiet();
  // The client answers the identity at the new rate: the prompt follows the identity.
  EXPECT_EQ(Send("ATBRD 23\r\r"), "OK\r" + Lines({IDENTITY}));
  EXPECT_EQ(Ask("ATI"), Lines({IDENTITY}));
  // No answer within the ATBRT time: back at the old rate, the prompt there.
  ExpectOk("ATBRT 02");
  EXPECT_EQ(Send("ATBRD 45\r"), "OK\r" + Lines({IDENTITY}));
  // Anything but a carriage return is no answer; it is not taken as a command either.
  EXPECT_EQ(Send("ATBRD 45\rATI\r"), "OK\r" + Lines({IDENTITY}));
  EXPECT_EQ(Ask("ATI"), Lines({IDENTITY}));
  for (const char* bad : {"ATBRD 00", "ATBRD", "ATBRD 1", "ATBRT", "ATBRT 123"}) EXPECT_EQ(Ask(bad), Lines({"?"})) << bad;
}

TEST_F(ElmAnswers, ALongAnswerAtALowBaudRateFillsTheTransmitBuffer) {
  // ECU 0 answers 22 F1 90 with the longest message a table holds: 29 frames on CAN.
  std::vector<uint8_t> longest(EMU_TABLE_MAX_MESSAGE, 0x55);
  longest[0] = 0x62, longest[1] = 0xF1, longest[2] = 0x90;
  EmuTableEntry e{};
  e.ecuIdx = 0;
  e.requestLength = 3;
  e.request[0] = 0x22, e.request[1] = 0xF1, e.request[2] = 0x90;
  const char* error = nullptr;
  ASSERT_TRUE(emu_TableAdd(vehicle, e, {longest.data(), EMU_TABLE_MAX_MESSAGE, 0}, {nullptr, 0, 0}, &error)) << error;
  Quiet();
  ExpectOk("ATSP6");
  ExpectOk("ATH1");
  // As fast as it is built, all of it.
  std::string whole = Ask("22F190");
  EXPECT_EQ(std::count(whole.begin(), whole.end(), '\r'), 29 + 1);
  // At 9600 baud the line carries some 6 characters while the bus brings the frames: the 512
  // bytes of the buffer take 17 whole lines of 29 characters; the rest is lost.
  emu_ElmSetRealTiming(true, 9600);
  const std::string cut = Ask("22F190");
  const std::string line0 = "7E8 10 C8 62 F1 90 55 55 55 \r";
  ASSERT_EQ(cut.substr(0, line0.size()), line0);
  EXPECT_EQ(cut.substr(17 * line0.size()), Lines({"BUFFER FULL"}));
  EXPECT_EQ(cut.substr(0, 17 * line0.size()), whole.substr(0, 17 * line0.size()));
  // Without headers and spaces it fits.
  ExpectOk("ATH0");
  ExpectOk("ATS0");
  const std::string fits = Ask("22F190");
  emu_ElmSetRealTiming(false, 9600);
  EXPECT_EQ(fits.find("BUFFER FULL"), std::string::npos);
  EXPECT_EQ(fits.substr(0, 4), "0C8\r");
  EXPECT_EQ(std::count(fits.begin(), fits.end(), '\r'), 1 + 29 + 1);
}

}  // namespace
