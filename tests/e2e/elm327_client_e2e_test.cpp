// A third-party OBD program on the line of `padix-headless /dev/ptmx sim elm serve`, and of
// `padix-headless tcp:0 sim elm serve` as a Wi-Fi adapter's: the simulated module serves it as
// an ELM327 v1.5 adapter from start, while the handheld enters its Bluetooth bridge by itself. A
// client written the way the common OBD programs are (reset, settings, automatic search,
// supported-PID walk, status, trouble codes, vehicle number, live data) finds the simulated car's
// values on each of the nine protocols, with headers and spaces on and off, and again by trying
// one protocol after the other. Noise, over-long lines, a character that stops a request and a
// client that leaves in the middle of an answer all leave the next request answered exactly, and
// the run ends with status 0. Real timing is in elm327_real_timing_e2e_test.cpp.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/simulator_on_port.h"
#include "tests/support/wait_for.h"

namespace {

using Bytes = std::vector<int>;
using Lines = std::vector<std::string>;

const std::string ATI_ECHOED = "ATI\rELM327 v1.5\r\r>";
const std::string RPM_ANSWER = "41 0C 01 10 \r\r>";  // headers off, spaces on

std::string Shown(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  return out;
}

bool IsHex(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

std::string Hex(int value, int digits = 2) {
  char text[12];
  snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

Bytes ToBytes(const std::string& hex) {
  EXPECT_TRUE(hex.size() % 2 == 0 && IsHex(hex)) << "not hex bytes: " << hex;
  Bytes bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// J1850 messages end in a CRC (polynomial 1D, preset FF, inverted); ISO 9141-2 and ISO 14230-4
// ones in the sum of their bytes.
int CheckByte(int protocol, const Bytes& bytes) {
  int check = protocol <= 2 ? 0xFF : 0;
  for (int b : bytes) {
    if (protocol > 2) {
      check = (check + b) & 0xFF;
      continue;
    }
    check ^= b;
    for (int bit = 0; bit < 8; ++bit) check = ((check << 1) ^ ((check & 0x80) != 0 ? 0x1D : 0)) & 0xFF;
  }
  return protocol <= 2 ? (~check & 0xFF) : check;
}

std::string TroubleCode(int a, int b) {
  return std::string(1, "PCBU"[a >> 6]) + static_cast<char>('0' + ((a >> 4) & 3)) + Hex(a & 0x0F, 1) + Hex(b);
}

// A message as a client library hands it on: its sender as the headers show it (CAN identifier
// or source address; "-" without headers) and its data, service byte first.
struct Message {
  std::string from;
  Bytes data;
};

bool Is(const Message& m, const Bytes& head, size_t size) {
  const bool is = m.data.size() >= size && std::equal(head.begin(), head.end(), m.data.begin());
  EXPECT_TRUE(is) << "from " << m.from << ": " << m.data.size() << " bytes, not " << Hex(head[0]) << "...";
  return is;
}

// The client: sends a line, reads up to the prompt and makes messages of the answer, knowing
// only what it set itself and what ATDPN told it.
class ElmProgram {
 public:
  explicit ElmProgram(SimulatorOnPort& port) : port_(port) {}
  bool headers = false, spaces = true;
  int protocol = 0;
  std::string connectNote;  // "SEARCHING..." or "BUS INIT: ...OK" before the last answer

  bool Can() const { return protocol >= 6; }

  // The answer's lines without the echo, the notes about finding the car and the prompt.
  Lines Ask(const std::string& line) {
    const std::string answer = port_.Ask(line);
    EXPECT_TRUE(answer.size() >= 3 && answer.compare(answer.size() - 3, 3, "\r\r>") == 0)
        << line << " answered " << Shown(answer);
    Lines lines;
    std::string current;
    connectNote.clear();
    for (char c : answer) {
      if (c != '\r' && c != '\n' && c != '>') {
        current += c;
        continue;
      }
      if (current == "SEARCHING..." || current == "BUS INIT: ...OK") {
        connectNote = current;
      } else if (!current.empty() && !(lines.empty() && current == line)) {
        lines.push_back(current);
      }
      current.clear();
    }
    return lines;
  }
  bool Ok(const std::string& command) { return Ask(command) == Lines{"OK"}; }

  std::vector<Message> Query(const std::string& request) { return Parse(request, Ask(request)); }

  std::vector<Message> Parse(const std::string& request, const Lines& lines) {
    std::vector<Message> messages;
    if (lines == Lines{"NO DATA"}) return messages;
    for (const std::string& line : lines) {
      SCOPED_TRACE(request + " -> " + line);
      if (spaces) {
        EXPECT_TRUE(line.back() == ' ' && line.find("  ") == std::string::npos) << "a space after each byte";
      } else {
        EXPECT_EQ(line.find(' '), std::string::npos);
      }
      std::string hex;
      for (char c : line)
        if (c != ' ') hex += c;
      if (Can()) {
        ReadCanLine(hex, messages);
      } else {
        ReadLineMessage(hex, messages);
      }
    }
    for (const auto& [from, open] : open_) ADD_FAILURE() << request << ": unfinished message from " << from;
    open_.clear();
    return messages;
  }

 private:
  struct Assembly {
    size_t length;
    int next;  // sequence number of the next frame
    Message message;
  };

  void Append(const std::string& from, int sequence, const Bytes& bytes, std::vector<Message>& out) {
    const auto it = open_.find(from);
    if (it == open_.end()) {
      ADD_FAILURE() << "a following frame without a first one";
      return;
    }
    Assembly& a = it->second;
    EXPECT_EQ(sequence, a.next & 0x0F) << "frame order";
    ++a.next;
    a.message.data.insert(a.message.data.end(), bytes.begin(), bytes.end());
    if (a.message.data.size() < a.length) return;
    EXPECT_LT(a.message.data.size() - a.length, 7u) << "fill bytes beyond the last frame";
    a.message.data.resize(a.length);
    out.push_back(a.message);
    open_.erase(it);
  }

  // CAN: without headers a single frame's data, or a length line and numbered frame lines;
  // with headers the identifier and the frame's eight bytes, PCI byte first.
  void ReadCanLine(const std::string& hex, std::vector<Message>& out) {
    if (!headers) {
      if (hex.size() == 3 && IsHex(hex)) {
        EXPECT_EQ(open_.count("-"), 0u) << "the message before is unfinished";
        open_["-"] = {std::stoul(hex, nullptr, 16), 0, {"-", {}}};
      } else if (hex.size() > 2 && hex[1] == ':') {
        Append("-", std::stoi(hex.substr(0, 1), nullptr, 16), ToBytes(hex.substr(2)), out);
      } else {
        out.push_back({"-", ToBytes(hex)});
      }
      return;
    }
    const size_t idDigits = protocol == 7 || protocol == 9 ? 8 : 3;
    const std::string from = hex.substr(0, idDigits);
    const Bytes frame = ToBytes(hex.substr(std::min(idDigits, hex.size())));
    EXPECT_TRUE(IsHex(from));
    EXPECT_EQ(frame.size(), 8u) << "the whole frame";
    if (frame.size() < 2) return;
    switch (frame[0] >> 4) {
      case 0: {
        const size_t n = std::min(static_cast<size_t>(frame[0]), frame.size() - 1);
        out.push_back({from, Bytes(frame.begin() + 1, frame.begin() + 1 + static_cast<long>(n))});
        return;
      }
      case 1:
        EXPECT_EQ(open_.count(from), 0u) << "the message before is unfinished";
        open_[from] = {static_cast<size_t>((frame[0] & 0x0F) << 8 | frame[1]), 1,
                       {from, Bytes(frame.begin() + 2, frame.end())}};
        return;
      case 2: Append(from, frame[0] & 0x0F, Bytes(frame.begin() + 1, frame.end()), out); return;
      default: ADD_FAILURE() << "not a frame an ECU answers with";
    }
  }

  // J1850 and the K-line: a message a line, with headers between three header bytes and a check
  // byte.
  void ReadLineMessage(const std::string& hex, std::vector<Message>& out) {
    const Bytes bytes = ToBytes(hex);
    if (!headers) {
      out.push_back({"-", bytes});
      return;
    }
    if (bytes.size() < 5) {
      ADD_FAILURE() << "shorter than headers and check byte";
      return;
    }
    const Bytes checked(bytes.begin(), bytes.end() - 1);
    EXPECT_EQ(bytes.back(), CheckByte(protocol, checked)) << "check byte";
    out.push_back({Hex(bytes[2]), Bytes(bytes.begin() + 3, bytes.end() - 1)});
  }

  SimulatorOnPort& port_;
  std::map<std::string, Assembly> open_;  // multi-frame CAN messages by sender
};

struct Format {
  bool headers, spaces;
  bool fixed;  // ATSP with the car's protocol (as a program that remembers it), else ATSP0
};

// What the program finds after its connect sequence, one line per fact.
Lines ConnectAndRead(ElmProgram& obd, int car, const Format& s) {
  obd.headers = s.headers;
  obd.spaces = s.spaces;
  obd.protocol = 0;
  Lines found;
  EXPECT_EQ(obd.Ask("ATZ"), Lines{"ELM327 v1.5"});
  const std::string settings[] = {"ATE0", "ATL0", s.spaces ? "ATS1" : "ATS0", s.headers ? "ATH1" : "ATH0",
                                  "ATAT1", s.fixed ? "ATSP" + std::to_string(car) : "ATSP0"};
  for (const std::string& command : settings) EXPECT_TRUE(obd.Ok(command)) << command;
  const Lines volts = obd.Ask("ATRV");
  found.push_back("battery " + (volts.empty() ? std::string() : volts[0]));

  // The first request finds the car; the answer is read once ATDPN has told the protocol.
  const Lines firstRange = obd.Ask("0100");
  found.push_back("connect " + (obd.connectNote.empty() ? "at once" : obd.connectNote));
  const Lines dpn = obd.Ask("ATDPN");
  std::string number = dpn.size() == 1 ? dpn[0] : "?";
  const bool automatic = number[0] == 'A';
  if (automatic) number.erase(0, 1);
  EXPECT_TRUE(number.size() == 1 && IsHex(number)) << "ATDPN: " << number;
  obd.protocol = IsHex(number) ? std::stoi(number, nullptr, 16) : 0;
  found.push_back("protocol " + number + (automatic ? " found" : " set"));

  // Supported PIDs: the next range as long as an ECU marks its last PID.
  std::map<std::string, std::set<int>> supported;
  std::string ranges = "ranges";
  std::vector<Message> answer = obd.Parse("0100", firstRange);
  for (int base = 0;; base += 0x20) {
    ranges += " " + Hex(base);
    bool more = false;
    for (const Message& m : answer) {
      if (!Is(m, {0x41, base}, 6)) continue;
      for (int bit = 0; bit < 32; ++bit)
        if ((m.data[2 + bit / 8] & (0x80 >> (bit % 8))) != 0) supported[m.from].insert(base + 1 + bit);
      more = more || (m.data[5] & 0x01) != 0;
    }
    if (!more || base == 0xE0) break;
    answer = obd.Query("01" + Hex(base + 0x20));
  }
  found.push_back(ranges);
  for (const auto& [from, pids] : supported) {
    std::string line = from + " supports";
    for (int pid : {0x01, 0x05, 0x0C, 0x0D})
      if (pids.count(pid) != 0) line += " " + Hex(pid);
    found.push_back(line);
  }

  for (const Message& m : obd.Query("0101"))
    if (Is(m, {0x41, 0x01}, 6))
      found.push_back(m.from + " lamp " + ((m.data[2] & 0x80) != 0 ? "on, " : "off, ") +
                      std::to_string(m.data[2] & 0x7F) + " codes");

  // Trouble codes: on CAN a count first; elsewhere three codes a message, 0000 where there is none.
  const std::pair<int, const char*> lists[] = {{0x03, "stored"}, {0x07, "pending"}, {0x0A, "permanent"}};
  for (const auto& [service, kind] : lists) {
    const std::vector<Message> codes = obd.Query(Hex(service));
    if (codes.empty()) found.push_back(std::string("no ") + kind + " codes");
    for (const Message& m : codes) {
      if (!Is(m, {0x40 | service}, obd.Can() ? 2 : 7)) continue;
      std::string line = m.from + " " + kind;
      int count = 0;
      for (size_t i = obd.Can() ? 2 : 1; i + 1 < m.data.size(); i += 2) {
        if (m.data[i] == 0 && m.data[i + 1] == 0) continue;
        line += " " + TroubleCode(m.data[i], m.data[i + 1]);
        ++count;
      }
      if (obd.Can()) {
        EXPECT_EQ(m.data[1], count) << line;
      }
      found.push_back(line);
    }
  }

  // The vehicle number: on CAN one message per ECU (the item count, then 17 characters);
  // elsewhere five per ECU, numbered from 1, of four bytes each, led by three zero bytes.
  std::vector<std::pair<std::string, std::string>> vins;
  for (const Message& m : obd.Query("0902")) {
    if (!Is(m, {0x49, 0x02}, 3)) continue;
    if (obd.Can() || m.data[2] == 1) vins.push_back({m.from, ""});
    for (auto v = vins.rbegin(); v != vins.rend(); ++v) {
      if (v->first != m.from) continue;
      for (size_t i = 3; i < m.data.size(); ++i)
        if (m.data[i] != 0) v->second += static_cast<char>(m.data[i]);
      break;
    }
  }
  for (const auto& [from, vin] : vins) found.push_back(from + " vin " + vin);

  for (const Message& m : obd.Query("010C"))
    if (Is(m, {0x41, 0x0C}, 4))
      found.push_back(m.from + " rpm " + std::to_string((m.data[2] * 256 + m.data[3]) / 4));
  for (const Message& m : obd.Query("010D"))
    if (Is(m, {0x41, 0x0D}, 3)) found.push_back(m.from + " speed " + std::to_string(m.data[2]) + " km/h");
  for (const Message& m : obd.Query("0105"))
    if (Is(m, {0x41, 0x05}, 3)) found.push_back(m.from + " coolant " + std::to_string(m.data[2] - 40) + " C");
  return found;
}

// The simulated car as it is after start: two ECUs (engine first) with one stored, pending and
// (on CAN) permanent trouble code each and the lamp on.
Lines CarAfterStart(int car, const Format& s) {
  const bool can = car >= 6, kLine = car >= 3 && car <= 5;
  std::string e0 = "-", e1 = "-";
  if (s.headers) {
    e0 = car == 7 || car == 9 ? "18DAF110" : can ? "7E8" : "10";
    e1 = car == 7 || car == 9 ? "18DAF118" : can ? "7E9" : "18";
  }
  const char* connect = !s.fixed ? "SEARCHING..." : kLine ? "BUS INIT: ...OK" : "at once";
  Lines expected = {"battery 12.6V", std::string("connect ") + connect,
                    "protocol " + std::to_string(car) + (s.fixed ? " set" : " found"), "ranges 00 20 40 60"};
  if (s.headers) {
    expected.insert(expected.end(), {e0 + " supports 01 05 0C 0D", e1 + " supports 01"});
  } else {
    expected.push_back("- supports 01 05 0C 0D");
  }
  expected.insert(expected.end(), {e0 + " lamp on, 1 codes", e1 + " lamp on, 1 codes", e0 + " stored P0100",
                                   e1 + " stored P0200", e0 + " pending P0230", e1 + " pending P0100"});
  if (can) {
    expected.insert(expected.end(), {e0 + " permanent P0230", e1 + " permanent P0100"});
  } else {
    expected.push_back("no permanent codes");
  }
  expected.insert(expected.end(), {e0 + " vin 1234567890XYZABCD", e1 + " vin ABCDEFGHJKLMNPRST",
                                   e0 + " rpm 68", e0 + " speed 1 km/h", e0 + " coolant -39 C"});
  return expected;
}

// The operator keys make the car answer on `protocol` alone. They take effect a moment later:
// until then the search still finds the protocol before.
testing::AssertionResult SetCarProtocol(SimulatorOnPort& port, int protocol) {
  port.Program().Send("key " + std::to_string(protocol));
  port.Program().Send("key t");
  ElmProgram obd(port);
  obd.Ask("ATZ");
  obd.Ok("ATE0");
  obd.Ok("ATSP0");
  Lines dpn;
  if (WaitFor([&] {
        obd.Ok("ATPC");
        obd.Ask("0100");
        return (dpn = obd.Ask("ATDPN")) == Lines{"A" + std::to_string(protocol)};
      }))
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "ATDPN still " << (dpn.empty() ? "" : dpn[0]);
}

// Reads until no prompt has come for a while, then forgets what came. Over TCP megabytes of
// echoed noise may still be on their way, holding thousands of prompts: they are read without a
// pause between them.
void LetTheLineSettle(SimulatorOnPort& port) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  bool settled = false;
  while (!settled && std::chrono::steady_clock::now() < deadline) settled = port.ReadAnswer(500).empty();
  EXPECT_TRUE(settled) << "the answers do not end";
  port.Forget();
}

class ElmClient : public testing::TestWithParam<SimLine> {
 protected:
  // One run for all on each kind of line: serving from start, with the adapter personality from
  // the command line.
  struct Run {
    SimulatorOnPort port;
    testing::AssertionResult served;
    int status = 0;  // 1 once a test made a command fail
    explicit Run(SimLine line) : port(line, {"elm", "serve"}), served(port.Serving(ATI_ECHOED)) {}
  };
  static void TearDownTestSuite() {
    for (auto& [line, run] : runs_) {
      EXPECT_EQ(run->port.Program().Quit(), run->status)
          << testing::PrintToString(line) << ": the run ends normally after all of it";
      delete run;
    }
    runs_.clear();
  }
  void SetUp() override {
    Run*& run = runs_[GetParam()];
    if (run == nullptr) run = new Run(GetParam());
    run_ = run;
    shared_ = &run->port;
    served_ = &run->served;
    ASSERT_GE(shared_->Fd(), 0) << "no line: " << served_->message();
  }

  static std::map<SimLine, Run*> runs_;
  Run* run_ = nullptr;
  SimulatorOnPort* shared_ = nullptr;
  const testing::AssertionResult* served_ = nullptr;
};
std::map<SimLine, ElmClient::Run*> ElmClient::runs_;

TEST_P(ElmClient, ServesAClientFromStartWhileTheHandheldEntersItsBridgeByItself) {
  // The line was opened as soon as it was named and "ATI" sent at once.
  EXPECT_TRUE(*served_);
  EXPECT_TRUE(shared_->Program().WaitForTitle("Bluetooth Mode"));
}

TEST_P(ElmClient, TheConnectSequenceFindsTheCarOnEachProtocolInEachAnswerFormat) {
  SimulatorOnPort& port = *shared_;
  ElmProgram obd(port);
  const Format formats[] = {
      {false, true, false}, {true, true, false}, {false, false, false}, {true, false, true}};
  for (int car = 1; car <= 9; ++car) {
    SCOPED_TRACE("car on protocol " + std::to_string(car));
    ASSERT_TRUE(SetCarProtocol(port, car));
    for (const Format& s : formats) {
      SCOPED_TRACE(std::string(s.headers ? "headers on" : "headers off") +
                   (s.spaces ? ", spaces on" : ", spaces off") + (s.fixed ? ", protocol set" : ", automatic"));
      EXPECT_EQ(ConnectAndRead(obd, car, s), CarAfterStart(car, s));
    }
    // A program that cannot use the search tries one protocol after the other: the ones the car
    // does not use fail, its own one answers.
    const std::set<std::string> failures = {"NO DATA", "CAN ERROR", "BUS INIT: ...ERROR",
                                            "UNABLE TO CONNECT"};
    int answered = 0;
    for (int h = 1; h <= 9 && answered == 0; ++h) {
      EXPECT_TRUE(obd.Ok("ATTP" + std::to_string(h)));
      obd.protocol = h;
      const Lines lines = obd.Ask("0100");
      if (lines.size() == 1 && failures.count(lines[0]) != 0) continue;
      EXPECT_EQ(obd.Parse("0100", lines).size(), 2u);
      answered = h;
    }
    EXPECT_EQ(answered, car);
    EXPECT_EQ(obd.Ask("ATDPN"), Lines{std::to_string(car)});
  }
}

TEST_P(ElmClient, NoiseOverlongLinesAndAStoppedRequestLeaveTheNextRequestAnsweredExactly) {
  SimulatorOnPort& port = *shared_;
  ASSERT_TRUE(SetCarProtocol(port, 6));  // echo off, headers off, CAN 11/500 found
  ASSERT_EQ(port.Ask("010C"), RPM_ANSWER);

  // Longer than the adapter's 128 characters: refused as a whole, even where the first 128
  // would make a command.
  const std::string overlong[] = {std::string(129, '1'), "ATWM" + std::string(125, '8'),
                                  std::string(100000, 'A')};
  for (const std::string& line : overlong) {
    EXPECT_EQ(port.Ask(line), "?\r\r>") << line.size() << " characters";
    EXPECT_EQ(port.Ask("010C"), RPM_ANSWER);
  }

  // A character right behind a request stops it, and is no part of the next line; the same
  // during the search.
  port.Write("0100\rX");
  EXPECT_EQ(port.ReadAnswer(), "STOPPED\r\r>");
  EXPECT_EQ(port.Ask("010C"), RPM_ANSWER);
  EXPECT_EQ(port.Ask("ATPC"), "OK\r\r>");
  port.Write("0100\rX");
  EXPECT_EQ(port.ReadAnswer(), "SEARCHING...\rSTOPPED\r\r>");
  EXPECT_EQ(port.Ask("010C"), "SEARCHING...\r" + RPM_ANSWER);

  // 10 MB of random bytes with echo on, the last one a carriage return. The module echoes and
  // answers what it makes of them; once that has ended, the next request is answered as before.
  EXPECT_EQ(port.Ask("ATE1"), "OK\r\r>");
  std::mt19937 rng(20261208);
  std::string noise(10 << 20, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  noise.back() = '\r';
  port.Write(noise);
  port.Forget();  // what came while writing: of no interest
  LetTheLineSettle(port);
  EXPECT_EQ(port.Ask("ATI"), ATI_ECHOED);
  EXPECT_EQ(port.Ask("ATE0"), "ATE0\rOK\r\r>");
  EXPECT_EQ(port.Ask("010C"), RPM_ANSWER);
}

// Writes "ATI" lines without reading until the line takes no more: the module is then held
// up writing answers nobody reads. Reads the start of them, as a client that is leaving.
void LeaveAnswersUnread(SimulatorOnPort& port) {
  std::string lines;
  for (int i = 0; i < 1024; ++i) lines += "ATI\r";
  while (write(port.Fd(), lines.data(), lines.size()) > 0) {
  }
  pollfd p = {port.Fd(), POLLIN, 0};
  char start[100];
  ASSERT_TRUE(poll(&p, 1, 3000) == 1 && read(port.Fd(), start, sizeof start) > 0) << "no answer";
}

TEST_P(ElmClient, AClientThatLeavesMidLineOrMidAnswerLeavesNothingForTheNextOne) {
  SimulatorOnPort& port = *shared_;
  const std::string reset = port.Ask("ATZ");  // echo on from here
  ASSERT_TRUE(reset.size() > 14 && reset.compare(reset.size() - 14, 14, "ELM327 v1.5\r\r>") == 0)
      << Shown(reset);
  // Leaving during answers three times over: what the module is doing at the close varies.
  enum Leave { HALF_LINE, DURING_ANSWERS };
  for (Leave leave : {HALF_LINE, DURING_ANSWERS, DURING_ANSWERS, DURING_ANSWERS}) {
    SCOPED_TRACE(leave == HALF_LINE ? "left with half a line typed" : "left during answers");
    if (leave == HALF_LINE) {
      port.Write("01");
    } else {
      LeaveAnswersUnread(port);
    }
    port.Close();
    // Nobody on the line: the module waits without spinning.
    const long before = port.Program().CpuTicks();
    EXPECT_FALSE(WaitFor([&] { return port.Program().CpuTicks() - before > sysconf(_SC_CLK_TCK) / 2; }, 1000))
        << "half a second of processor time within a second with no client";
    ASSERT_TRUE(port.Reopen());
    // With echo on, anything the last client left (its half line, answers for it) shows.
    const std::string first = port.Ask("ATI");
    EXPECT_EQ(Shown(first), Shown(ATI_ECHOED));
    if (first != ATI_ECHOED) LetTheLineSettle(port);
    EXPECT_EQ(port.Ask("ATI"), ATI_ECHOED);
  }
}

// A car loaded from a vehicle file while the client is served (the petrol example, idling at
// 780 rpm), a value set after it, and the answers of a captured session imported, are what the
// client reads; a file with a mistake changes nothing. An empty file brings the default car back.
TEST_P(ElmClient, AVehicleFileLoadedAndAValueSetWhileServingAreWhatTheClientReads) {
  SimulatorOnPort& port = *shared_;
  char dir[] = "/tmp/padix-cars-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string good = std::string(__FILE__).substr(0, std::string(__FILE__).rfind("/tests/")) +
                           "/examples/vehicles/petrol_can.toml";
  const std::string bad = std::string(dir) + "/bad.toml", empty = std::string(dir) + "/empty.toml";
  const std::string capture = std::string(dir) + "/session.txt";
  std::ofstream(bad) << "[ecu.1]\nrmp = 900\n";
  std::ofstream(capture) << ">22F18C\n62 F1 8C 31 32\n>\n";
  std::ofstream(empty) << "";
  ElmProgram obd(port);
  obd.Ask("ATZ");
  ASSERT_TRUE(obd.Ok("ATE0"));
  ASSERT_TRUE(obd.Ok("ATS1"));
  ASSERT_TRUE(obd.Ok("ATH0"));
  port.Program().Send("load " + good);
  EXPECT_TRUE(WaitFor([&] { return obd.Ask("010C1") == Lines{"41 0C 0C 30 "}; }));
  port.Program().Send("load " + bad);
  run_->status = 1;  // a failed command
  port.Program().Send("set ecu.1.rpm 2500");
  EXPECT_TRUE(WaitFor([&] { return obd.Ask("010C1") == Lines{"41 0C 27 10 "}; }));
  port.Program().Send("import " + capture);
  EXPECT_TRUE(WaitFor([&] { return obd.Ask("22F18C1") == Lines{"62 F1 8C 31 32 "}; }));
  port.Program().Send("load " + empty);
  EXPECT_TRUE(WaitFor([&] { return obd.Ask("010C1") == Lines{"41 0C 01 10 "}; }));
  for (const std::string& f : {bad, empty, capture}) unlink(f.c_str());
  rmdir(dir);
}

// Commands are carried out in order: once a save written after it shows the value, it is set,
// with no request on the line (which would count toward a drop).
void SetAndWait(SimulatorOnPort& port, const std::string& name, const std::string& value, const std::string& saved) {
  char dir[] = "/tmp/padix-faults-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/car.toml";
  port.Program().Send("set " + name + " " + value);
  port.Program().Send("save " + file);
  EXPECT_TRUE(WaitFor([&] {
    std::ifstream in(file);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return !text.empty() && (saved.empty() ? text.find("[faults]") == std::string::npos : text.find(saved) != std::string::npos);
  })) << name << " " << value;
  unlink(file.c_str());
  rmdir(dir);
}

// The line drops its client at once when told to, and once the third request of a client is
// answered: the answer comes whole, then the connection is closed (TCP) or the terminal hung up
// (its reads find the end of the file). The client that comes next is served as on a fresh line
// and counted afresh.
TEST_P(ElmClient, TheLineDropsTheClientAtOnceOrAfterItsLastRequestAndServesTheNextAfresh) {
  SimulatorOnPort& port = *shared_;
  const std::string reset = port.Ask("ATZ");  // echo on from here
  ASSERT_TRUE(reset.size() > 14 && reset.compare(reset.size() - 14, 14, "ELM327 v1.5\r\r>") == 0) << Shown(reset);
  SetAndWait(port, "faults.drop_after", "3", "drop_after = 3");
  auto dropped = [&] {
    return WaitFor([&] {
      char byte;
      return read(port.Fd(), &byte, 1) == 0;
    });
  };
  port.Program().Send("set faults.drop_now true");
  EXPECT_TRUE(dropped()) << "the line still holds the client after drop_now";
  for (int client = 0; client < 2; ++client) {
    SCOPED_TRACE(client == 0 ? "first client" : "next client");
    ASSERT_TRUE(port.Reopen());
    EXPECT_EQ(port.Ask("ATI"), ATI_ECHOED);
    EXPECT_EQ(port.Ask("ATI"), ATI_ECHOED);
    EXPECT_EQ(port.Ask("ATI"), ATI_ECHOED);
    EXPECT_TRUE(dropped()) << "the line still holds the client after its third request";
  }
  SetAndWait(port, "faults.drop_after", "0", "");
  ASSERT_TRUE(port.Reopen());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(port.Ask("ATI"), ATI_ECHOED);
}

INSTANTIATE_TEST_SUITE_P(, ElmClient, testing::Values(SimLine::Pty, SimLine::Tcp), SimLineName);

// A vehicle file's timeline drops each client two seconds after it came: the event is a set of
// faults.drop_now, counted from the connection, so the next client is dropped again.
class ElmTimeline : public testing::TestWithParam<SimLine> {};

TEST_P(ElmTimeline, AnEventFromTheConnectionDropsEachClient) {
  char dir[] = "/tmp/padix-timeline-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/drop.toml";
  std::ofstream(file) << "[[events]]\nat = 2\nfrom = \"connect\"\nset = \"faults.drop_now\"\nvalue = true\n";
  SimulatorOnPort port(GetParam(), {"elm", "serve", "vehicle=" + file});
  ASSERT_TRUE(port.Serving(ATI_ECHOED));
  auto dropped = [&] {
    return WaitFor([&] {
      char byte;
      return read(port.Fd(), &byte, 1) == 0;
    }, 10000);
  };
  EXPECT_TRUE(dropped()) << "the first client was not dropped";
  ASSERT_TRUE(port.Reopen());
  EXPECT_EQ(port.Ask("ATI"), ATI_ECHOED) << "the next client is served";
  EXPECT_TRUE(dropped()) << "the next client was not dropped";
  EXPECT_EQ(port.Program().Quit(), 0);
  unlink(file.c_str());
  rmdir(dir);
}

INSTANTIATE_TEST_SUITE_P(, ElmTimeline, testing::Values(SimLine::Pty, SimLine::Tcp), SimLineName);

}  // namespace
