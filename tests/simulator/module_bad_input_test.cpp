// The module thread given lines no well-behaved client sends: binary bytes, lines that never
// end or end late, lines of 10,000 characters, lone carriage returns. Each gets the module's
// answer for it ("?" or the answer of the line cut to 19 characters) and the module goes on
// serving. Both clients: the firmware's USART (emulator mode) and a serial client (simulator mode).
#include <poll.h>

#include <random>
#include <string>

#include "tests/simulator/module_thread_fixture.h"

namespace {

constexpr uint8_t CR = 13;
const std::string OWN_IDENTIFICATION = "Korvan QIM1 v1.7\r>";
const std::string REJECTED = "?\r>";

// Bytes of every value but the carriage return, which would end the line.
std::string BinaryBytes(std::mt19937& rng, size_t count) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::string bytes;
  while (bytes.size() < count) {
    int b = byte(rng);
    if (b != CR) bytes += static_cast<char>(b);
  }
  return bytes;
}

// A binary line the module can only reject: it neither starts an AT/ST command nor an OBD
// request ("0"), or it starts "AT"/"ST" followed by a byte that no command has.
std::string RejectedBinaryLine(std::mt19937& rng, size_t length) {
  std::string line = BinaryBytes(rng, length);
  switch (rng() % 3) {
    case 0:
      while (line[0] == '0' || line[0] == 'A' || line[0] == 'a' || line[0] == 'S' || line[0] == 's')
        line[0] = BinaryBytes(rng, 1)[0];
      break;
    case 1: line.replace(0, 3, std::string("AT") + static_cast<char>(0x80 | (rng() & 0x7F))); break;
    default: line.replace(0, 3, std::string("st") + static_cast<char>(0x80 | (rng() & 0x7F))); break;
  }
  return line.substr(0, length);
}

// The answer of a line cut to its first 19 characters: the rest must neither change it nor
// give a second answer.
const std::string CUT_TO_ATP1 = "ATP1" + std::string(9996, 'x');
const std::string CUT_TO_ATP1_ANSWER = "1 = SAE J1850 / PWM\r>";
const std::string CUT_TO_ATSF_E8 = "ATSFE8" + std::string(9994, '1');

class ModuleBadInput : public ModuleThread {
 protected:
  // Emulator mode: the start-up dialogue done, the module serves the firmware's USART.
  void ServeFirmware() {
    Start();
    ReleaseReset();
    UBRR0 = emu_BaudrateToUBRR0(19200);
    ASSERT_EQ(FirmwareAsks("ATOF1"), "OK\r>");
    ASSERT_TRUE(WaitFor([] { return syncWithQimIsDone != 0; }));
  }

  // Simulator mode: the firmware has entered a bridge menu, the module serves the port.
  void ServeSerialClient() {
    OpenSerialPort(EmuMode::Simulator);
    ServeFirmware();
    UCSR0B = 0;
  }

  // Nothing came out of the port within a moment's wait.
  bool PortQuiet() {
    pollfd p = {master_, POLLIN, 0};
    return poll(&p, 1, 50) == 0;
  }

  // The module still answers a valid command, and nothing else came before that answer.
  void ExpectFirmwareServed() { EXPECT_EQ(FirmwareAsks("ATI"), OWN_IDENTIFICATION); }
  void ExpectClientServed() { EXPECT_EQ(ClientAsks("ATI"), OWN_IDENTIFICATION); }
};

// ---------------------------------------------------------------------------------------------
// Emulator mode: the firmware's transmit ring carries the lines seven bytes at a time.

TEST_F(ModuleBadInput, FirmwareLinesOfBinaryBytesAreRejected) {
  ASSERT_NO_FATAL_FAILURE(ServeFirmware());
  std::mt19937 rng(3);
  for (int n = 0; n < 40; ++n) {
    const std::string line = RejectedBinaryLine(rng, 1 + rng() % 40);
    SCOPED_TRACE(testing::PrintToString(line));
    EXPECT_EQ(FirmwareAsks(line), REJECTED);
    ExpectFirmwareServed();
  }
  EXPECT_EQ(FirmwareAsks(std::string("\0ATI", 4)), REJECTED);
}

TEST_F(ModuleBadInput, FirmwareLineIsAnsweredOnlyAtItsCarriageReturn) {
  ASSERT_NO_FATAL_FAILURE(ServeFirmware());
  for (const std::string part : {"AT", "D", "P"}) {
    ASSERT_TRUE(FirmwareSends(part));
    EXPECT_TRUE(WaitFor([] { return (UCSR0B & 0x20) == 0; })) << "bytes not taken";
    EXPECT_EQ(FirmwareReceived(), "") << "answered before the carriage return";
  }
  ASSERT_TRUE(FirmwareSends("\r"));
  EXPECT_EQ(FirmwareReceivesAnswer(), "NOT CONNECTED\r>");
  ExpectFirmwareServed();
}

TEST_F(ModuleBadInput, FirmwareLinesOf10000CharactersGetTheAnswerOfTheirFirst19) {
  ASSERT_NO_FATAL_FAILURE(ServeFirmware());
  EXPECT_EQ(FirmwareAsks(CUT_TO_ATP1), CUT_TO_ATP1_ANSWER);
  EXPECT_EQ(atpProtocol, 1);
  ExpectFirmwareServed();
  EXPECT_EQ(FirmwareAsks(CUT_TO_ATSF_E8), "OK\r>");
  EXPECT_EQ(ecuFilter, 0xE8);
  ExpectFirmwareServed();
}

TEST_F(ModuleBadInput, FirmwareLoneCarriageReturnsAreRejectedOneByOne) {
  ASSERT_NO_FATAL_FAILURE(ServeFirmware());
  EXPECT_EQ(FirmwareAsks(""), REJECTED);
  ASSERT_TRUE(FirmwareSends("\r\r\r"));
  for (int n = 0; n < 3; ++n) EXPECT_EQ(FirmwareReceivesAnswer(), REJECTED) << n;
  EXPECT_EQ(FirmwareReceived(), "");
  ExpectFirmwareServed();
}

// ---------------------------------------------------------------------------------------------
// Simulator mode: a client on the serial port. The module discards what the client sent ahead
// while it answers, so the client sends one line at a time, as a real client waits for the prompt.

TEST_F(ModuleBadInput, SerialLinesOfBinaryBytesAreRejected) {
  ASSERT_NO_FATAL_FAILURE(ServeSerialClient());
  std::mt19937 rng(4);
  for (int n = 0; n < 40; ++n) {
    const std::string line = RejectedBinaryLine(rng, 1 + rng() % 40);
    SCOPED_TRACE(testing::PrintToString(line));
    EXPECT_EQ(ClientAsks(line), REJECTED);
    ExpectClientServed();
  }
}

TEST_F(ModuleBadInput, SerialLineIsAnsweredOnlyAtItsCarriageReturn) {
  ASSERT_NO_FATAL_FAILURE(ServeSerialClient());
  // In pieces with pauses, a line feed at the end (only the carriage return ends a line), and a
  // 10,000-character line: nothing until the carriage return comes.
  for (const std::string part : {"AT", "D", "P"}) {
    SendToPort(part);
    ASSERT_TRUE(PortInputTaken());
    EXPECT_TRUE(PortQuiet()) << "answered before the carriage return";
  }
  EXPECT_EQ(ClientAsks(""), "NOT CONNECTED\r>");

  SendToPort("ATI\n");
  ASSERT_TRUE(PortInputTaken());
  EXPECT_TRUE(PortQuiet());
  EXPECT_EQ(ClientAsks(""), REJECTED);

  SendToPort(CUT_TO_ATP1);
  ASSERT_TRUE(PortInputTaken());
  EXPECT_TRUE(PortQuiet());
  EXPECT_EQ(ClientAsks(""), CUT_TO_ATP1_ANSWER);
  ExpectClientServed();
}

TEST_F(ModuleBadInput, SerialLinesOf10000CharactersGetTheAnswerOfTheirFirst19) {
  ASSERT_NO_FATAL_FAILURE(ServeSerialClient());
  EXPECT_EQ(ClientAsks(CUT_TO_ATP1), CUT_TO_ATP1_ANSWER);
  EXPECT_EQ(atpProtocol, 1);
  EXPECT_EQ(ecuAddr[1], 0x18) << "protocol 1 has the non-CAN ECU addresses";
  ExpectClientServed();
  EXPECT_EQ(ClientAsks(CUT_TO_ATSF_E8), "OK\r>");
  EXPECT_EQ(ecuFilter, 0xE8);
  ExpectClientServed();
  std::mt19937 rng(10001);
  EXPECT_EQ(ClientAsks(RejectedBinaryLine(rng, 10000)), REJECTED);
  ExpectClientServed();
}

TEST_F(ModuleBadInput, SerialLoneCarriageReturnsAreRejected) {
  ASSERT_NO_FATAL_FAILURE(ServeSerialClient());
  for (int n = 0; n < 5; ++n) EXPECT_EQ(ClientAsks(""), REJECTED) << n;
  ExpectClientServed();
}

}  // namespace
