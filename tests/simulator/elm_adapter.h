// The ELM327 v1.5 personality served in-process on one end of a real pseudo-terminal, the test
// playing the client on the other end: the fixture and the helpers that write expected answers.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "elm327/elm327.h"
#include "module/module.h"
#include "vehicle/vehicle.h"
#include "tests/support/wait_for.h"

namespace elm_test {

// What the default car answers: two ECUs; ECU 0 has PID 00 = FF FF FF F7, 04 = 01, 0C = 01 10
// and VIN 1234567890XYZABCD; ECU 1 has PID 00 = B7 80 00 01, 04 = 10, no PID 0C, and VIN
// ABCDEFGHJKLMNPRST. Their addresses off CAN are 10 and 18.
inline const std::string ECU0_PID00 = "41 00 FF FF FF F7 ";
inline const std::string ECU1_PID00 = "41 00 B7 80 00 01 ";
inline const std::string ECU0_RPM = "41 0C 01 10 ";
inline const std::string IDENTITY = "ELM327 v1.5";

// The adapter's end of the pseudo-terminal, and how many bytes it has written there in all.
inline int adapterSide = -1;
inline size_t adapterWrote = 0;

inline int AdapterRead(uint8_t* bytes, int max) {
  const ssize_t n = read(adapterSide, bytes, static_cast<size_t>(max));
  return n > 0 ? static_cast<int>(n) : 0;
}

inline void AdapterWrite(const char* text, size_t n) {
  for (size_t at = 0; at < n;) {
    const ssize_t written = write(adapterSide, text + at, n - at);
    if (written > 0) {
      at += static_cast<size_t>(written);
      adapterWrote += static_cast<size_t>(written);
      continue;
    }
    pollfd p = {adapterSide, POLLOUT, 0};
    if (poll(&p, 1, 2000) <= 0) {
      ADD_FAILURE() << "the client's side of the line takes no more of the answer";
      return;
    }
  }
}

inline int AdapterWaitForInput(int timeoutMs) {
  pollfd p = {adapterSide, POLLIN, 0};
  return poll(&p, 1, timeoutMs) > 0 ? 1 : 0;
}

inline const EmuElmPort PSEUDO_TERMINAL = {AdapterRead, AdapterWrite, AdapterWaitForInput};

// An answer of these lines, each ended by CR, then the closing line end and the prompt.
inline std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r";
  return text + "\r>";
}

// Bytes as the adapter shows them with spaces on.
inline std::string Hex(const std::vector<uint8_t>& bytes) {
  static constexpr char DIGITS[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) text += {DIGITS[b >> 4], DIGITS[b & 0x0F], ' '};
  return text;
}

// The J1850 check byte: CRC-8 with polynomial 1D, preset FF, sent inverted.
constexpr uint8_t J1850Crc(const uint8_t* bytes, size_t n) {
  unsigned crc = 0xFF;
  for (size_t i = 0; i < n; ++i) {
    for (int bit = 7; bit >= 0; --bit) {
      const bool feedback = ((crc >> 7) ^ (bytes[i] >> bit)) & 1;
      crc = ((crc << 1) & 0xFF) ^ (feedback ? 0x1D : 0x00);
    }
  }
  return static_cast<uint8_t>(crc ^ 0xFF);
}
// The catalogue check value of this CRC over the digits 1 to 9.
inline constexpr uint8_t DIGITS_1_TO_9[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
static_assert(J1850Crc(DIGITS_1_TO_9, sizeof DIGITS_1_TO_9) == 0x4B);

// A J1850 message with headers on: header, data, check byte.
inline std::string J1850Line(std::vector<uint8_t> message) {
  const uint8_t crc = J1850Crc(message.data(), message.size());
  message.push_back(crc);
  return Hex(message);
}

class ElmAdapter : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(openpty(&adapterSide, &client_, nullptr, nullptr, nullptr), 0);
    termios raw;
    ASSERT_EQ(tcgetattr(client_, &raw), 0);
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(client_, TCSANOW, &raw), 0);
    for (int fd : {adapterSide, client_}) ASSERT_EQ(fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK), 0);
    adapterWrote = 0;
    emu_ElmInit();
    emu_VehicleInit();
    emu_QimInitState();
    emu_ElmSetPort(&PSEUDO_TERMINAL);
  }

  void TearDown() override {
    emu_ElmSetPort(nullptr);
    emu_ElmInit();
    emu_VehicleInit();
    emu_QimInitState();
    if (client_ >= 0) close(client_);
    if (adapterSide >= 0) close(adapterSide);
    adapterSide = -1;
  }

  // The client writes the bytes in one go; once all of them have reached the adapter's side,
  // the adapter serves them. Returns everything it wrote back.
  std::string Send(const std::string& bytes) {
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
      return ioctl(adapterSide, FIONREAD, &waiting) == 0 && static_cast<size_t>(waiting) >= bytes.size();
    })) << "the line did not carry the client's bytes";
    const size_t before = adapterWrote;
    emu_ElmServeInput();
    const size_t expected = adapterWrote - before;
    std::string answer;
    EXPECT_TRUE(WaitFor([&] {
      char buf[512];
      for (ssize_t n; (n = read(client_, buf, sizeof buf)) > 0;) answer.append(buf, static_cast<size_t>(n));
      return answer.size() >= expected;
    })) << "the client received " << answer.size() << " of " << expected << " bytes";
    return answer;
  }

  std::string Ask(const std::string& line) { return Send(line + "\r"); }

  // Echo off, so that the following answers are compared alone.
  void Quiet() { ASSERT_EQ(Ask("ATE0"), "ATE0\r" + Lines({"OK"})); }

  void ExpectOk(const std::string& command) { EXPECT_EQ(Ask(command), Lines({"OK"})) << command; }

  int client_ = -1;
};

}  // namespace elm_test
