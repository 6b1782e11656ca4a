// Module driver: what it sends, how it classifies and stores answers, and its timed waits, driven
// through the host's byte channel with the 10 ms flag played by the test.
#include "firmware/link/qim.h"

#include <ctype.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "firmware/usart.h"
#include "controller/controller.h"
#include "tests/support/wait_for.h"

namespace {

// What the firmware has queued for the module (single-threaded use): the take that finds the
// ring empty switches the send interrupt off and its byte is stale.
std::string Sent() {
  std::string s;
  while ((UCSR0B & 0x20) != 0) {
    uint8_t b = emu_TakeByteFromFirmware();
    if ((UCSR0B & 0x20) != 0) s += static_cast<char>(b);
  }
  return s;
}

// Feeds an answer through the receive ring into the parser; returns the code of its last byte.
uint8_t Feed(std::string_view answer) {
  uint8_t code = 0;
  for (size_t i = 0; i < answer.size(); ++i) {
    if (code != 0)
      ADD_FAILURE() << "code " << int(code) << " before byte " << i << " of " << answer;
    emu_GiveByteToFirmware(static_cast<uint8_t>(answer[i]));
    code = QIM_ProcessRxData(USART_ReadChar());
  }
  return code;
}

uint8_t Frame(int n, int i) { return qim.qimFrameBuf[n * QIM_FRAME_SIZE + i]; }
std::string Text(int at = 0) { return reinterpret_cast<const char*>(&qim.qimFrameBuf[at]); }

// --- helpers for a firmware routine running on its own thread --------------------------------

// One line as the module takes it: up to the carriage return, then the take that empties the ring.
std::string TakeLine() {
  std::string line;
  for (;;) {
    if (!WaitFor([] { return (UCSR0B & 0x20) != 0; }, 3000)) return line + "<timeout>";
    uint8_t b = emu_TakeByteFromFirmware();
    if (b == 13) {
      emu_TakeByteFromFirmware();
      return line;
    }
    line += static_cast<char>(b);
  }
}

bool RxRingEmpty() {
  pthread_mutex_lock(&qimMutex);
  bool empty = usart.usartReceiveByteIdx == usart.usartReadByteIdx;
  pthread_mutex_unlock(&qimMutex);
  return empty;
}

// Gives bytes and returns once the firmware has read them all, so that a following tick is
// counted after them.
void Give(std::string_view s) {
  for (char c : s) emu_GiveByteToFirmware(static_cast<uint8_t>(c));
  EXPECT_TRUE(WaitFor(RxRingEmpty)) << "firmware stopped reading before " << s;
}

void Tick() {
  gblTimer10msUpdate = 1;
  EXPECT_TRUE(WaitFor([] { return gblTimer10msUpdate == 0; })) << "tick not taken";
}

// Runs a firmware routine on its own thread. On destruction it ticks until the routine has
// returned, so a routine that waits longer than expected fails the test instead of hanging it.
class FirmwareCall {
 public:
  template <typename F>
  explicit FirmwareCall(F f) : thread_([this, f] { result_ = f(); }) {}
  ~FirmwareCall() {
    WaitFor(
        [this] {
          if (result_ >= 0) return true;
          gblTimer10msUpdate = 1;
          return false;
        },
        30000);
    thread_.join();
    gblTimer10msUpdate = 0;
  }
  bool Done(int timeoutMs = 5000) {
    return WaitFor([this] { return result_ >= 0; }, timeoutMs);
  }
  int Result() const { return result_; }

 private:
  std::atomic<int> result_{-1};
  std::thread thread_;
};

class QimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pthread_mutex_init(&qimMutex, nullptr);
    memset(regaddr, 0, sizeof regaddr);
    PORTE = 0x13;  // module held in reset, as after PORT_Init
    UBRR0 = 103;
    UCSR0B = 0x98;
    UCSR0C = 0x06;
    UCSR0A = 0x02;
    tarnic_InitVars();
  }
  void TearDown() override { pthread_mutex_destroy(&qimMutex); }

  void ObdRequest() {
    QIM_SendObdReq(0x01, 0x00, 0);
    Sent();
  }
  void AtCommand(uint8_t id = QIM_ATN) {
    QIM_SendATx(id);
    Sent();
  }
};

// ---------------------------------------------------------------------------------------------

TEST_F(QimTest, SendsEachCommandAndRequestAsOneLine) {
  // The ids are fixed: screens keep them as numbers (system information sends 75 to 77).
  for (auto [id, line] :
       {std::pair{64, "ATZ\r"}, {70, "ATSB1\r"}, {73, "ATOF1\r"}, {77, "AT!10\r"}}) {
    QIM_SendATx(static_cast<uint8_t>(id));
    EXPECT_EQ(Sent(), line) << id;
  }
  QIM_SendATx(63);
  QIM_SendATx(78);
  EXPECT_EQ(Sent(), "");

  struct {
    uint8_t id, value;
    const char* line;
  } values[] = {{QIM_ATSF, 0x00, "ATSF00\r"},
                {QIM_ATSF, 0xE8, "ATSFE8\r"},
                {QIM_ATP, 3, "ATP3\r"},
                {QIM_ATKW, 2, "ATKW2\r"}};
  for (auto& v : values) {
    QIM_SendATxValue(v.id, v.value);
    EXPECT_EQ(Sent(), v.line);
  }

  struct {
    uint8_t service, pid, frame;
    const char* line;
  } requests[] = {{0x01, 0x00, 0x00, "0100\r"},   {0x03, 0x55, 0x07, "03\r"},
                  {0x02, 0x0C, 0x00, "020C00\r"}, {0x02, 0x0D, 0x01, "020D01\r"},
                  {0x09, 0x02, 0x00, "0902\r"},   {0x0A, 0x00, 0x00, "0A\r"}};
  for (auto& r : requests) {
    QIM_SendObdReq(r.service, r.pid, r.frame);
    EXPECT_EQ(Sent(), r.line);
  }
}

TEST_F(QimTest, ClassifiesAnswersByTheirFirstCharacters) {
  struct {
    bool obdRequest;
    const char* answer;
    uint8_t code;
  } cases[] = {
      {false, ">", 0},         {false, "O>", 0},           {false, "?>", 0},
      {false, "OK\r>", 3},     {false, "OK>", 3},          {false, "OKAY\r>", 3},
      {false, "ON\r>", 2},     {false, "NO DATA\r>", 4},   {false, "NODATA\r>", 2},
      {false, "NO>", 2},       {false, "CAN ERROR\r>", 5}, {false, "CA\r>", 2},
      {false, "?\r>", 6},      {false, "ERROR\r>", 2},     {false, "19200\rOK\r>", 2},
      {true, "NO DATA\r>", 4}, {true, "CAN ERROR>", 5},    {true, "?\r>", 6},
      {true, "OK\r>", 3},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.answer);
    c.obdRequest ? ObdRequest() : AtCommand();
    EXPECT_EQ(Feed(c.answer), c.code);
  }
  // "NO" stored earlier must not make a later "NO" look like "NO ".
  AtCommand();
  EXPECT_EQ(Feed("NO DATA\r>"), 4);
  EXPECT_EQ(Feed("NO>"), 2);
}

TEST_F(QimTest, KeepsTextAsTerminatedLinesCutTo39Characters) {
  AtCommand();
  Feed("19200\rOK\r>");
  EXPECT_EQ(Text(0), "19200");
  EXPECT_EQ(Text(6), "OK");

  AtCommand();
  Feed("NO DATA>");  // the module's forced answer has no carriage return
  EXPECT_EQ(Text(), "NO DATA");

  const std::string long45(45, 'X');
  for (size_t length : {39u, 40u, 45u}) {
    SCOPED_TRACE(length);
    AtCommand();
    memset(&qim.qimFrameBuf[40], 0x55, sizeof qim.qimFrameBuf - 40);
    EXPECT_EQ(Feed(long45.substr(0, length) + ">"), 2);
    EXPECT_EQ(Text(), long45.substr(0, 39));
    EXPECT_EQ(qim.qimFrameBuf[40], 0x55) << "text written past its 40 bytes";
  }
}

TEST_F(QimTest, TurnsObdAnswerLinesIntoFrames) {
  qimProtocol = 0x13;
  ObdRequest();
  EXPECT_EQ(Feed(":0A01\r486B104100BE3EB811C9\r\r>"), 1);
  ASSERT_EQ(qim.qimNoOfFrames, 1);
  const uint8_t expected[12] = {0x48, 0x6B, 0x10, 0x41, 0x00, 0xBE, 0x3E, 0xB8, 0x11, 0xC9, 0, 0};
  EXPECT_EQ(memcmp(&qim.qimFrameBuf[0], expected, 12), 0);
  EXPECT_EQ(QIM_GetEcuAddr(0), 0x10);

  // The parser is back in its initial state: the next answer is classified afresh.
  EXPECT_EQ(Feed("OK\r>"), 3);
  EXPECT_EQ(Feed(":\r>"), 1);
  EXPECT_EQ(qim.qimNoOfFrames, 0);

  // A new send abandons an answer half received.
  ObdRequest();
  Feed(":0A01\r486B");
  AtCommand();
  EXPECT_EQ(Feed("OK\r>"), 3);
}

TEST_F(QimTest, CountsOnlyLinesWithDataAfterTheHeader) {
  ObdRequest();
  // header only; one data byte; spaced digits (conversion stops at the space); lower case
  EXPECT_EQ(Feed(":0000\r486B10\r486B1041\r48 6B 10 41\r486b1041aa\r\r>"), 1);
  ASSERT_EQ(qim.qimNoOfFrames, 2);
  EXPECT_EQ(Frame(0, 3), 0x41);
  EXPECT_EQ(Frame(0, 4), 0x00);
  EXPECT_EQ(Frame(1, 4), 0xAA);

  qim.qimDataStartIdx = 4;
  ObdRequest();
  EXPECT_EQ(Feed(":\r486B1041\r486B104100\r>"), 1);
  EXPECT_EQ(qim.qimNoOfFrames, 1);

  // A full 24-digit line leaves its characters in the next slot; a following line with an odd
  // digit count must not pair its last digit with one of them.
  qim.qimDataStartIdx = 3;
  ObdRequest();
  EXPECT_EQ(Feed(":\r000007E8064100BE3EB81122\r486B10410\r>"), 1);
  ASSERT_EQ(qim.qimNoOfFrames, 2);
  EXPECT_EQ(Frame(0, 11), 0x22);
  EXPECT_EQ(Frame(1, 3), 0x41);
  EXPECT_EQ(Frame(1, 4), 0x00);
}

TEST_F(QimTest, DropsLinesBeyondSixteenFramesAndAfterAnOverlongLine) {
  std::string answer = ":1101\r";
  for (int n = 0; n < 17; ++n) {
    char line[32];
    snprintf(line, sizeof line, "486B%02X41%02X\r", 0x10 + n, n);
    answer += line;
  }
  ObdRequest();
  EXPECT_EQ(Feed(answer + "\r>"), 1);
  ASSERT_EQ(qim.qimNoOfFrames, 16);
  for (int n = 0; n < 16; ++n) EXPECT_EQ(Frame(n, 2), 0x10 + n) << n;
  EXPECT_EQ(Frame(15, 4), 15);

  const std::string line24 = "486B10" + std::string(18, '1');
  ObdRequest();
  EXPECT_EQ(Feed(":\r" + line24 + "\r" + line24 + "2\r486B1041\r\r>"), 1);
  EXPECT_EQ(qim.qimNoOfFrames, 1) << "a 25-character line loses itself and the rest";
  EXPECT_EQ(Frame(0, 11), 0x11);

  // An overlong line in the last slot stays inside the buffer; the frames before it survive.
  answer = ":\r";
  for (int n = 0; n < 15; ++n) answer += "486B1041AB\r";
  ObdRequest();
  EXPECT_EQ(Feed(answer + std::string(40, 'F') + "\r>"), 1);
  EXPECT_EQ(qim.qimNoOfFrames, 15);
  EXPECT_EQ(Frame(14, 4), 0xAB);
}

TEST_F(QimTest, ConvertsHexDigits) {
  const char* digits = "0123456789ABCDEF";
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(QIM_Char2HexNibble(digits[i]), i);
    EXPECT_EQ(QIM_Char2HexNibble(tolower(digits[i])), i);
  }
  const int others[] = {'/', ':', '@', 'G', '`', 'g', ' ', 0, 13, 255};
  for (int c : others) EXPECT_EQ(QIM_Char2HexNibble(static_cast<uint8_t>(c)), -1) << c;
}

TEST_F(QimTest, ReadsProtocolAndKeyBytesFromTheirAnswers) {
  struct {
    const char* answer;
    uint8_t protocol;
  } atn[] = {{"F1\r>", 0x01}, {"F3\r>", 0x13}, {"F5\r>", 0x15}, {"F6\r>", 0x26},
             {"F9\r>", 0x29}, {"A0\r>", 0x00}, {"?\r>", 0x00}};
  for (auto& c : atn) {
    AtCommand(QIM_ATN);
    Feed(c.answer);
    QIM_SetProtocol();
    EXPECT_EQ(int(qimProtocol.load()), c.protocol) << c.answer;
  }

  for (const char* answer : {"8F E9\r>", "8FE9\r>", "8f e9\r>"}) {
    AtCommand(QIM_ATK);
    Feed(answer);
    QIM_SetKeyBytes();
    EXPECT_EQ(qim.qimKeyByte2, 0x8F) << answer;
    EXPECT_EQ(qim.qimKeyByte1, 0xE9) << answer;
  }
  AtCommand(QIM_ATK);
  Feed("?\r>");
  QIM_SetKeyBytes();
  EXPECT_EQ(qim.qimKeyByte1 | qim.qimKeyByte2, 0);
}

TEST_F(QimTest, FindsDataStartAndEcuAddressByProtocol) {
  // 11-bit and 29-bit CAN: four identifier bytes, the ECU is the last.
  qimProtocol = 0x26;
  QIM_SetDataStartIdx();
  EXPECT_EQ(qim.qimDataStartIdx, 4);
  ObdRequest();
  EXPECT_EQ(Feed(":1802\r000007E8064100BE3EB81100\r18DAF110064100BE3EB81100\r\r>"), 1);
  ASSERT_EQ(qim.qimNoOfFrames, 2);
  EXPECT_EQ(QIM_GetEcuAddr(0), 0xE8);
  EXPECT_EQ(QIM_GetEcuAddr(1), 0x10);
  EXPECT_EQ(QIM_GetEcuAddr(16), 0);

  // ISO 14230-4: a length byte after the header when key byte 1 allows it and the format byte
  // carries no length.
  struct {
    uint8_t protocol, keyByte1, formatByte, start;
  } kLine[] = {{0x14, 0x6B, 0xC0, 4}, {0x15, 0x02, 0x80, 4}, {0x15, 0x6B, 0x86, 3},
               {0x15, 0xE9, 0xC0, 3}, {0x13, 0x6B, 0xC0, 3}, {0x02, 0x6B, 0x00, 3}};
  for (auto& c : kLine) {
    qimProtocol = c.protocol;
    qim.qimKeyByte1 = c.keyByte1;
    qim.qimFrameBuf[0] = c.formatByte;
    QIM_SetDataStartIdx();
    EXPECT_EQ(qim.qimDataStartIdx, c.start)
        << std::hex << int(c.protocol) << " " << int(c.keyByte1) << " " << int(c.formatByte);
  }
}

TEST_F(QimTest, PowerOnValuesAreRestored) {
  qimProtocol = 0x26;
  qim.qimDataStartIdx = 4;
  qim.qimKeyByte1 = 0xE9;
  ObdRequest();
  Feed(":\r000007E8064100BE3EB81100\r");  // left in the middle of an OBD answer
  tarnic_InitVars();
  EXPECT_EQ(int(qimProtocol.load()), 0);
  EXPECT_EQ(qim.qimDataStartIdx, 3);
  EXPECT_EQ(qim.qimKeyByte1, 0);
  EXPECT_EQ(qim.qimFrameBuf[0], 0);
  EXPECT_EQ(Feed("OK\r>"), 3);
}

// ---------------------------------------------------------------------------------------------
// Timed waits: the test plays each tick and waits until the firmware has taken it.

TEST_F(QimTest, WaitForCharDiscardsOtherBytesAndCountsTicks) {
  emu_GiveByteToFirmware('a');
  emu_GiveByteToFirmware('>');
  emu_GiveByteToFirmware('b');
  EXPECT_EQ(QIM_WaitForChar(10, '>'), 10);
  EXPECT_EQ(USART_ReadChar(), 'b');
  EXPECT_EQ(QIM_WaitForPrompt(0), 0);

  {
    FirmwareCall call([] { return QIM_WaitForChar(3, '>'); });
    Tick();
    Tick();
    Give("x>");
    ASSERT_TRUE(call.Done());
    EXPECT_EQ(call.Result(), 1);
  }
  {
    FirmwareCall call([] { return QIM_WaitForPrompt(3); });
    Tick();
    Tick();
    Tick();
    ASSERT_TRUE(call.Done());
    EXPECT_EQ(call.Result(), 0);
  }
}

TEST_F(QimTest, InitSharesFiveTicksAcrossOkAndPrompt) {
  {  // four ticks spread over the three waits: passes
    FirmwareCall call([] { return QIM_Init(); });
    EXPECT_EQ(TakeLine(), "ATE0");
    Tick(), Give("O"), Tick(), Give("K"), Tick(), Tick(), Give("\r>");
    EXPECT_EQ(TakeLine(), "ATL0");
    Give("OK\r>");
    EXPECT_EQ(TakeLine(), "ATOF1");
    Give("OK\r>");
    ASSERT_TRUE(call.Done());
    EXPECT_EQ(call.Result(), 1);
  }
  {  // no single wait takes five ticks, together they do: fails before the prompt
    FirmwareCall call([] { return QIM_Init(); });
    EXPECT_EQ(TakeLine(), "ATE0");
    Give("O"), Tick(), Tick(), Tick(), Give("K"), Tick(), Tick();
    ASSERT_TRUE(call.Done());
    EXPECT_EQ(call.Result(), 0);
  }
}

TEST_F(QimTest, InitStopsAtTheFirstCommandNotAnsweredOk) {
  for (const char* answer : {"?\r>", "KO\r>", "NO DATA\r>"}) {
    SCOPED_TRACE(answer);
    FirmwareCall call([] { return QIM_Init(); });
    EXPECT_EQ(TakeLine(), "ATE0");
    Give(answer);
    for (int i = 0; i < 5; ++i) Tick();
    ASSERT_TRUE(call.Done());
    EXPECT_EQ(call.Result(), 0);
    EXPECT_EQ(UCSR0B & 0x20, 0) << "a further command was sent";
  }
  FirmwareCall call([] { return QIM_Init(); });
  EXPECT_EQ(TakeLine(), "ATE0");
  Give("OKAY\r>");
  EXPECT_EQ(TakeLine(), "ATL0");
  Give("OK\r>");
  EXPECT_EQ(TakeLine(), "ATOF1");
  for (int i = 0; i < 5; ++i) Tick();
  ASSERT_TRUE(call.Done());
  EXPECT_EQ(call.Result(), 0);
}

// ---------------------------------------------------------------------------------------------
// Reset sequence against a scripted module.

class ScriptedModule {
 public:
  int answerOnRelease = 1;  // the release of the reset line answered with '>'; 0: none
  bool answerAtsb1 = true;
  bool tickAfterPrompt = false;  // keep the 10 ms flag going after the prompt
  std::atomic<int> releases{0};
  std::vector<std::string> lines;  // read after Stop()

  void Start() {
    ticking_ = true;
    thread_ = std::thread([this] { Run(); });
  }
  void Stop() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Send(const char* s) {
    for (; *s != '\0'; ++s) emu_GiveByteToFirmware(static_cast<uint8_t>(*s));
  }
  void Answer(const std::string& line) {
    lines.push_back(line);
    if (line == "ATSB1") {
      if (answerAtsb1) Send("19200\rOK\r>");
    } else if (line == "ATZ") {
      // answered only once the firmware has switched to the module's new baud rate
      if (WaitFor([] { return UBRR0 == 51 && UCSR0A != 0; })) Send("QIM1 v1.7\r>");
    } else {
      Send("OK\r>");
    }
  }
  void Run() {
    bool released = (PORTE & 0x80) != 0;
    std::string line;
    while (!stop_) {
      bool now = (PORTE & 0x80) != 0;
      if (now && !released && ++releases == answerOnRelease) {
        ticking_ = tickAfterPrompt;
        Send(">");
      }
      released = now;
      while ((UCSR0B & 0x20) != 0) {
        uint8_t b = emu_TakeByteFromFirmware();
        if (b != 13) {
          line += static_cast<char>(b);
          continue;
        }
        emu_TakeByteFromFirmware();
        Answer(line);
        line.clear();
      }
      if (ticking_ && gblTimer10msUpdate == 0) gblTimer10msUpdate = 1;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  std::atomic<bool> stop_{false}, ticking_{false};
  std::thread thread_;
};

TEST_F(QimTest, ResetInitBringsAnsweringModuleIntoWorkingMode) {
  ScriptedModule module;
  module.Start();
  {
    FirmwareCall call([] { return QIM_ResetInit(); });
    ASSERT_TRUE(call.Done(10000));
    EXPECT_EQ(call.Result(), 1);
  }
  module.Stop();
  EXPECT_EQ(module.releases.load(), 1);
  EXPECT_EQ(module.lines, (std::vector<std::string>{"ATSB1", "ATZ", "ATE0", "ATL0", "ATOF1"}));
  EXPECT_NE(PORTE & 0x80, 0);
  EXPECT_EQ(int(UBRR0), 51);
  EXPECT_EQ(int(UCSR0B), 0x98);
  EXPECT_EQ(int(UCSR0C), 0x06);
  EXPECT_EQ(int(UCSR0A), 0x02);
  EXPECT_EQ(int(OCR1A), 50);
  EXPECT_EQ(int(OCR1B), 150);
  EXPECT_EQ(int(OCR1C), 10);
}

TEST_F(QimTest, ResetInitTriesThreeTimesThenHoldsTheModuleInReset) {
  for (int answerOn : {3, 0}) {
    SCOPED_TRACE(answerOn);
    tarnic_InitVars();
    PORTE = 0x13;
    ScriptedModule module;
    module.answerOnRelease = answerOn;
    module.Start();
    int result;
    {
      FirmwareCall call([] { return QIM_ResetInit(); });
      ASSERT_TRUE(call.Done(15000));
      result = call.Result();
    }
    module.Stop();
    EXPECT_EQ(module.releases.load(), 3);
    EXPECT_EQ(result, answerOn == 3 ? 1 : 0);
    EXPECT_EQ((PORTE & 0x80) != 0, answerOn == 3);
    EXPECT_EQ(module.lines.size(), answerOn == 3 ? 5u : 0u);
  }
}

TEST_F(QimTest, ResetInitGivesUpAtOnceWhenAtsb1IsNotAnswered) {
  ScriptedModule module;
  module.answerAtsb1 = false;
  module.tickAfterPrompt = true;
  module.Start();
  {
    FirmwareCall call([] { return QIM_ResetInit(); });
    ASSERT_TRUE(call.Done(10000));
    EXPECT_EQ(call.Result(), 0);
  }
  module.Stop();
  EXPECT_EQ(module.releases.load(), 1);
  EXPECT_EQ(module.lines, std::vector<std::string>{"ATSB1"});
  EXPECT_EQ(int(UBRR0), 103) << "baud rate switched without an answer";
}

}  // namespace
