// Timelines: events at their times, from the load or from the client's connection; a clear acts
// as a scan tool's on the tester's protocol; a load replaces the timeline, a refused one keeps it;
// a save writes the events back in their own forms; malformed events are refused where they are.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "line/serial_port.h"
#include "tests/simulator/vehicle_file_fixture.h"
#include "tests/support/wait_for.h"
#include "vehicle/timeline.h"

namespace {

using namespace vehicle_file_fixture;

struct Fired {
  size_t index;
  std::chrono::steady_clock::time_point at;  // as this test's clock saw it
};
std::mutex firedLock;
std::vector<Fired> fired;

void RecordFired(size_t index, uint64_t, uint64_t) {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(firedLock);
  fired.push_back({index, now});
}

class Timeline : public VehicleFile {
 protected:
  void SetUp() override {
    VehicleFile::SetUp();
    Forget();
    emu_timelineFiredNotice = &RecordFired;
  }
  void TearDown() override {
    emu_TimelineReplace({});
    emu_TellLineClient(false);
    emu_timelineFiredNotice = nullptr;
    VehicleFile::TearDown();
  }
  static void Forget() {
    std::lock_guard<std::mutex> lock(firedLock);
    fired.clear();
  }
  static std::vector<Fired> FiredSoFar() {
    std::lock_guard<std::mutex> lock(firedLock);
    return fired;
  }
  static std::vector<size_t> Order() {
    std::vector<size_t> order;
    for (const Fired& f : FiredSoFar()) order.push_back(f.index);
    return order;
  }
  static bool WaitForFired(size_t n, int timeoutMs = 5000) {
    return WaitFor([&] { return FiredSoFar().size() >= n; }, timeoutMs);
  }
  // Each fired event no earlier than `at` after the moment before its count began, and at most
  // half a second after the moment that count had begun by.
  static void ExpectWithinBounds(const Fired& f, double at, std::chrono::steady_clock::time_point before,
                                 std::chrono::steady_clock::time_point after) {
    const auto due = std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(at));
    EXPECT_GE(f.at, before + due) << "event " << f.index << " fired early";
    EXPECT_LE(f.at, after + due + std::chrono::milliseconds(500)) << "event " << f.index << " fired late";
  }
};

TEST_F(Timeline, EventsFireInTheirTimesOrderAndThoseDueTogetherInTheFilesOrder) {
  // ECU 2 has no codes and its lamp is out until the code comes.
  const std::string path = Write("timeline.toml",
                                 "ecus = 1\n[ecu.2]\ndtc.confirmed = []\nlamp = false\n\n"
                                 "[[events]]\nat = 0.05\nset = \"ecus\"\nvalue = 2\n\n"
                                 "[[events]]\nat = 0.15\ndtc = \"p0301\"\necu = 2\n\n"
                                 "[[events]]\nat = 0.15\nset = \"ecu.1.rpm\"\nvalue = \"2500\"\n\n"
                                 "[[events]]\nat = 0.1\nfrom = \"start\"\nset = \"battery\"\nvalue = 13.5\n\n"
                                 "[[events]]\nat = 0.2\nset = \"ecu.1.dtc.confirmed\"\nvalue = [\"P0420\", \"P0171\"]\n");
  const auto before = std::chrono::steady_clock::now();
  ASSERT_EQ(Load(path), "");
  const auto after = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitForFired(5));
  EXPECT_EQ(Order(), (std::vector<size_t>{0, 3, 1, 2, 4}));
  const double at[] = {0.05, 0.15, 0.15, 0.1, 0.2};
  for (const Fired& f : FiredSoFar()) ExpectWithinBounds(f, at[f.index], before, after);

  // Every kind of value landed: a number, a text, a number with a fraction, a list; the code
  // given with dtc is confirmed in ECU 2 and its lamp lit, as a car stores one.
  EXPECT_EQ(vehicle.maxEcu.load(), 2);
  EXPECT_EQ(Data(1, 0x0C, 0), "410C2710");
  EXPECT_EQ(vehicle.batteryDeciVolts, 135);
  EXPECT_EQ(Data(3, 0, 0), "430204200171");
  EXPECT_EQ(Data(3, 0, 1), "43010301");
  EXPECT_EQ(Data(1, 0x01, 1).substr(4, 2), "81") << "the lamp lit with the one code";
}

// Clearing acts as a scan tool's clear; an event that fails is told once on standard error and
// the events after it fire.
TEST_F(Timeline, ClearingCodesPutsTheLampOutAndAFailingEventIsToldOnceAndTheRestGoOn) {
  emu_VehicleSetNoOfEcus(2);
  ASSERT_NE(Data(3, 0, 0), "4300") << "the default car has codes";
  const std::string path = Write("failing.toml",
                                 "[[events]]\nat = 0.02\nset = \"ecu.1.rpmm\"\nvalue = 800\n\n"
                                 "[[events]]\nat = 0.04\nclear_dtcs = true\n\n"
                                 "[[events]]\nat = 0.06\nset = \"ecu.1.rpm\"\nvalue = 2500\n\n"
                                 "[[events]]\nat = 0.08\ndtc = \"U0100\"\n");
  testing::internal::CaptureStderr();
  ASSERT_EQ(Load(path), "");
  const bool all = WaitForFired(4);
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(all);
  EXPECT_EQ(err, "Timeline: the event at 0.02s (set ecu.1.rpmm) failed: set ecu.1.rpmm: unknown key 'rpmm'\n");
  EXPECT_EQ(Data(3, 0, 1), "4300") << "every ECU's codes cleared";
  EXPECT_EQ(Data(1, 0x01, 1).substr(4, 2), "00") << "and its lamp out";
  EXPECT_EQ(Data(1, 0x0C, 0), "410C2710");
  EXPECT_EQ(Data(3, 0, 0), "4301C100") << "a code after the clear";
}

// A clear on the timeline clears as a scan tool's on the protocol the tester talks now: on CAN the
// confirmed codes stay visible as permanent ones, off CAN the permanent codes stay as they were.
TEST_F(Timeline, AClearClearsAsOnTheProtocolTheTesterTalks) {
  const std::string path = Write("clear.toml",
                                 "[ecu.1]\ndtc.confirmed = [\"P0420\"]\ndtc.permanent = []\n\n"
                                 "[[events]]\nat = 0\nclear_dtcs = true\necu = 1\n");
  for (const uint8_t protocol : {6, 3}) {
    SCOPED_TRACE("protocol " + std::to_string(protocol));
    emu_QimSetProtocol(protocol);
    Forget();
    ASSERT_EQ(Load(path), "");
    ASSERT_TRUE(WaitForFired(1));
    EXPECT_EQ(Data(3, 0, 0), "4300");
    EXPECT_EQ(Data(0x0A, 0, 0), protocol == 6 ? "4A010420" : "4A00");
  }
}

// Events from the connection wait for a client, count from its coming and start over for the
// next one; a client that leaves takes the rest of its events along.
TEST_F(Timeline, EventsFromTheConnectionStartOverForEachClient) {
  const std::string path = Write("connect.toml",
                                 "[[events]]\nat = 0.05\nset = \"ecu.1.speed\"\nvalue = 50\n\n"
                                 "[[events]]\nat = 0.1\nfrom = \"connect\"\nset = \"ecu.1.rpm\"\nvalue = 2500\n");
  ASSERT_EQ(Load(path), "");
  ASSERT_TRUE(WaitForFired(1));
  // No client yet: only the event from the start has fired, even when it is well past.
  ASSERT_TRUE(WaitFor([] { return Data(1, 0x0D, 0) == "410D32"; }));
  EXPECT_NE(Data(1, 0x0C, 0), "410C2710");
  EXPECT_EQ(Order(), std::vector<size_t>{0});

  for (int client = 0; client < 2; ++client) {
    SCOPED_TRACE(client);
    ASSERT_EQ(Set("ecu.1.rpm", "1000"), "");
    Forget();
    const auto before = std::chrono::steady_clock::now();
    emu_TellLineClient(true);
    const auto after = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitForFired(1));
    EXPECT_EQ(Order(), std::vector<size_t>{1});
    ExpectWithinBounds(FiredSoFar()[0], 0.1, before, after);
    EXPECT_EQ(Data(1, 0x0C, 0), "410C2710");
    emu_TellLineClient(false);
  }
  // A timeline loaded while a client is on the line counts from the load.
  emu_TellLineClient(true);
  Forget();
  const auto before = std::chrono::steady_clock::now();
  ASSERT_EQ(Load(path), "");
  const auto after = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitForFired(2));
  for (const Fired& f : FiredSoFar()) ExpectWithinBounds(f, f.index == 0 ? 0.05 : 0.1, before, after);
}

// A load replaces the timeline with the file's (none when it has none); a refused file leaves the
// one running; "set" cannot start one.
TEST_F(Timeline, ALoadReplacesTheTimelineAndARefusedOneKeepsIt) {
  const std::string first = Write("first.toml", "[[events]]\nat = 0.3\nset = \"ecu.1.rpm\"\nvalue = 1000\n");
  const std::string second = Write("second.toml", "[[events]]\nat = 0.6\nset = \"ecu.1.speed\"\nvalue = 50\n");
  ASSERT_EQ(Load(first), "");
  ASSERT_EQ(Load(second), "");
  // The first file's event would have been due long before the second's.
  ASSERT_TRUE(WaitFor([] { return Data(1, 0x0D, 0) == "410D32"; }));
  EXPECT_NE(Data(1, 0x0C, 0), "410C0FA0") << "the first file's event fired on the second's car";
  // Its firing is told just after its value is set: heard before the count starts again.
  ASSERT_TRUE(WaitForFired(1));

  Forget();
  ASSERT_EQ(Load(first), "");
  const std::string bad = Write("bad.toml", "[[events]]\nat = 0.1\nset = \"ecu.1.speed\"\nvalue = 60\nfrom = \"now\"\n");
  EXPECT_EQ(Load(bad), bad + ":5:8: from is \"start\" or \"connect\"");
  ASSERT_TRUE(WaitForFired(1));
  EXPECT_EQ(Data(1, 0x0C, 0), "410C0FA0");

  EXPECT_EQ(Set("events", "[{ at = 1, set = \"ecus\", value = 2 }]"), "set events: events come with a whole file (load it)");
  ASSERT_EQ(Load(second), "");
  EXPECT_EQ(emu_TimelineEvents().size(), 1u);
  ASSERT_EQ(Load(Write("none.toml", "ecus = 1\n")), "");
  EXPECT_TRUE(emu_TimelineEvents().empty());
}

TEST_F(Timeline, SaveWritesTheEventsBackInTheirOwnForms) {
  const std::string events =
      "[[events]]\nat = 1000\nset = \"ecu.1.rpm\"\nvalue = 3000\n\n"
      "[[events]]\nat = 1000.25\nfrom = \"connect\"\nset = \"ecu.2.dtc.confirmed\"\nvalue = \"P0301, P0420\"\n\n"
      "[[events]]\nat = 2000\nset = \"jitter\"\nvalue = true\n\n"
      "[[events]]\nat = 2000\nset = \"battery\"\nvalue = 12.0\n\n"
      "[[events]]\nat = 0.001\nfrom = \"connect\"\nset = \"ecu.1.dtc.pending\"\nvalue = [\"P0171\", \"P0A\\\"\"]\n\n"
      "[[events]]\nat = 3000\ndtc = \"C0123\"\necu = 3\n\n"
      "[[events]]\nat = 3000\nclear_dtcs = true\n\n"
      "[[events]]\nat = 3000\nclear_dtcs = true\necu = 2\n";
  ASSERT_EQ(Load(Write("events.toml", "ecus = 2\n" + events)), "");
  const auto loaded = emu_TimelineEvents();
  const std::string saved = Save();
  const std::string text = Text(saved);
  const std::string written = text.substr(text.find("\n[[events]]") + 1);
  EXPECT_EQ(written,
            "[[events]]\nat = 1000\nfrom = \"start\"\nset = \"ecu.1.rpm\"\nvalue = 3000\n\n"
            "[[events]]\nat = 1000.25\nfrom = \"connect\"\nset = \"ecu.2.dtc.confirmed\"\nvalue = \"P0301, P0420\"\n\n"
            "[[events]]\nat = 2000\nfrom = \"start\"\nset = \"jitter\"\nvalue = true\n\n"
            "[[events]]\nat = 2000\nfrom = \"start\"\nset = \"battery\"\nvalue = 12.0\n\n"
            "[[events]]\nat = 0.001\nfrom = \"connect\"\nset = \"ecu.1.dtc.pending\"\nvalue = [\"P0171\", \"P0A\\\"\"]\n\n"
            "[[events]]\nat = 3000\nfrom = \"start\"\ndtc = \"C0123\"\necu = 3\n\n"
            "[[events]]\nat = 3000\nfrom = \"start\"\nclear_dtcs = true\n\n"
            "[[events]]\nat = 3000\nfrom = \"start\"\nclear_dtcs = true\necu = 2\n");
  ASSERT_EQ(Load(saved), "");
  const auto again = emu_TimelineEvents();
  ASSERT_EQ(again.size(), loaded.size());
  for (size_t i = 0; i < loaded.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(again[i].at, loaded[i].at);
    EXPECT_EQ(again[i].from, loaded[i].from);
    EXPECT_EQ(again[i].kind, loaded[i].kind);
    EXPECT_EQ(again[i].name, loaded[i].name);
    EXPECT_EQ(again[i].value, loaded[i].value);
    EXPECT_EQ(again[i].valueIsText, loaded[i].valueIsText);
    EXPECT_EQ(again[i].ecu, loaded[i].ecu);
  }
  EXPECT_EQ(Text(Save("again.toml")), text);
}

// The example in which a code appears: its drive moves, no code is there at first, and its
// timeline brings P0301 (lamp on) at 20 s; it saves back unchanged, events and all.
TEST_F(Timeline, TheExampleWithACodeThatAppearsLoadsAndSavesBack) {
  ASSERT_EQ(Load(Example("code_appears.toml")), "");
  EXPECT_EQ(Data(3, 0, 0), "4300");
  EXPECT_EQ(Data(1, 0x01, 0).substr(4, 2), "00");
  EXPECT_EQ(vehicle.ecu[0].noOfMotions, 3);
  const auto events = emu_TimelineEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].kind, EmuEventKind::Dtc);
  EXPECT_EQ(events[1].value, "P0301");
  EXPECT_EQ(events[1].at, 20);
  const std::string first = Save("first.toml");
  ASSERT_EQ(Load(first), "");
  EXPECT_EQ(FirstDifference(Text(first), Text(Save("second.toml"))), "");
}

// A set while the timeline fires is never undone by an event, nor an event by the set: both copy
// the car, change the copy and put it back.
TEST_F(Timeline, SetsWhileEventsFireLoseNothing) {
  std::string events;
  for (int i = 0; i < 200; ++i)
    events += "[[events]]\nat = " + std::to_string(0.01 + i * 0.002) + "\nset = \"ecu.1.rpm\"\nvalue = " +
              std::to_string(1000 + i) + "\n";
  ASSERT_EQ(Load(Write("busy.toml", events)), "");
  auto rpm = [] { return std::stoul(Data(1, 0x0C, 0).substr(4), nullptr, 16) / 4; };
  int setsLost = 0, eventsLost = 0;
  for (unsigned i = 0; FiredSoFar().size() < 200 && i < 100000; ++i) {
    const unsigned speed = i % 200;
    ASSERT_EQ(Set("ecu.1.speed", std::to_string(speed).c_str()), "");
    // The events fire in order, each told once its value is in the car.
    const size_t done = FiredSoFar().size();
    if (done > 0 && rpm() < 1000 + done - 1) ++eventsLost;
    if (Data(1, 0x0D, 0) != "410D" + Hex(speed)) ++setsLost;
  }
  ASSERT_TRUE(WaitForFired(200));
  EXPECT_EQ(setsLost, 0) << "sets undone by an event";
  EXPECT_EQ(eventsLost, 0) << "events undone by a set";
  EXPECT_EQ(Data(1, 0x0C, 0), "410C" + Hex((1199 * 4) >> 8) + Hex(1199 * 4)) << "an event undone by a set";
}

TEST_F(Timeline, MalformedEventsAreRefusedWhereTheyAreWrong) {
  const std::string running = Write("running.toml", "[[events]]\nat = 500\nset = \"ecus\"\nvalue = 3\n");
  ASSERT_EQ(Load(running), "");
  const auto before = Transcript([] {}, false);
  const struct {
    std::string events;
    const char* error;  // after "FILE:"
  } cases[] = {
      {"events = 3\n", "1:10: expected [[events]] tables"},
      {"events = [1]\n", "1:11: expected an event: { at = SECONDS, set = NAME, value = VALUE }"},
      {"[[events]]\nset = \"ecus\"\nvalue = 2\n", "1:1: an event needs at (seconds)"},
      {"[[events]]\nat = -1\nset = \"ecus\"\nvalue = 2\n", "2:6: value out of range: -1 (0 to 1000000 seconds)"},
      {"[[events]]\nat = \"soon\"\nset = \"ecus\"\nvalue = 2\n", "2:6: expected the time in seconds"},
      {"[[events]]\nat = 1\nset = \"ecus\"\n", "1:1: set needs a value"},
      {"[[events]]\nat = 1\nvalue = 2\n", "1:1: an event does one thing: set (with value), dtc or clear_dtcs"},
      {"[[events]]\nat = 1\nset = \"ecus\"\nvalue = 2\ndtc = \"P0301\"\n",
       "1:1: an event does one thing: set (with value), dtc or clear_dtcs"},
      {"[[events]]\nat = 1\nset = \"ecus = 3\\nbattery\"\nvalue = 2\n",
       "3:7: expected the name of a value in quotes, such as \"ecu.1.rpm\""},
      {"[[events]]\nat = 1\nset = \"ecus\"\nvalue = \"2\\necus = 3\"\n", "4:9: a value is one line"},
      {"[[events]]\nat = 1\nset = \"ecus\"\nvalue = { n = 2 }\n",
       "4:9: expected the value: a text, a number, true or false, or a list"},
      {"[[events]]\nat = 1\ndtc = \"P0G01\"\n",
       "3:7: expected one code such as \"P0301\" (a letter P, C, B or U, a digit 0-3, three hex digits)"},
      {"[[events]]\nat = 1\ndtc = \"P0301\"\necu = 9\n", "4:7: expected an ECU from 1 to 8"},
      {"[[events]]\nat = 1\nset = \"ecus\"\nvalue = 2\necu = 1\n", "5:7: ecu goes with dtc or clear_dtcs"},
      {"[[events]]\nat = 1\nclear_dtcs = false\n", "3:14: clear_dtcs = true, or leave it out"},
      {"[[events]]\nat = 1\ndtc = \"P0301\"\nvalue = 2\n", "1:1: value goes with set"},
      {"[[events]]\nat = 1\nwhen = \"later\"\n",
       "3:8: unknown key 'when' (at, from, set, value, dtc, clear_dtcs, ecu)"},
  };
  for (const auto& c : cases) {
    const std::string path = Write("bad.toml", "ecus = 1\n" + c.events);
    // The file's first line is its own: the events begin on the second.
    std::string error = c.error;
    error = std::to_string(std::stoi(error) + 1) + error.substr(error.find(':'));
    EXPECT_EQ(Load(path), path + ":" + error) << c.events;
  }
  std::string many = "ecus = 1\n";
  for (size_t i = 0; i <= EMU_MAX_EVENTS; ++i) many += "[[events]]\nat = 1\nclear_dtcs = true\n";
  const std::string path = Write("many.toml", many);
  EXPECT_EQ(Load(path), path + ":" + std::to_string(2 + 3 * EMU_MAX_EVENTS) + ":1: more than 1000 events");

  ExpectSameAnswers(before, Transcript([] {}, false), "after the refused files");
  ASSERT_EQ(emu_TimelineEvents().size(), 1u) << "a refused file replaced the timeline";
  EXPECT_EQ(emu_TimelineEvents()[0].value, "3");
}

}  // namespace
