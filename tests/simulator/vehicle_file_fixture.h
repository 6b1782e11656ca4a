// The vehicle-file tests' fixture: a fresh car and module for each test, a scratch folder, and
// the answers of every service on every link, to compare two cars by what a tester would see.
#pragma once

#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "module/module.h"
#include "module/obd_answer.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file.h"

namespace vehicle_file_fixture {

namespace fs = std::filesystem;

inline const fs::path kExamples = fs::path(__FILE__).parent_path().parent_path().parent_path() / "examples" / "vehicles";

inline std::string Example(const char* name) { return (kExamples / name).string(); }

// The links every answer is compared on: CAN 11-bit and 29-bit, K-line (KWP, fast init) and
// J1850 PWM, each with headers off and on (ATH1).
struct Link {
  uint8_t protocol;
  bool headers;
};
inline constexpr Link kLinks[] = {{6, false}, {6, true}, {7, false}, {7, true}, {5, false}, {5, true}, {1, false}, {1, true}};

inline std::string Hex(unsigned value) {
  char text[4];
  snprintf(text, sizeof text, "%02X", value & 0xFF);
  return text;
}

// The first line in which two texts differ, or "" when they are the same.
inline std::string FirstDifference(const std::string& a, const std::string& b) {
  std::istringstream inA(a), inB(b);
  for (int line = 1;; ++line) {
    std::string lineA, lineB;
    const bool moreA = static_cast<bool>(std::getline(inA, lineA));
    const bool moreB = static_cast<bool>(std::getline(inB, lineB));
    if (!moreA && !moreB) return "";
    if (moreA != moreB || lineA != lineB) return "line " + std::to_string(line) + ": " + lineA + "\n   now: " + lineB;
  }
}

// "a.a.a" with `levels` names, as a dotted key or (in brackets) a table header.
inline std::string Dotted(size_t levels) {
  std::string key = "a";
  for (size_t i = 1; i < levels; ++i) key += ".a";
  return key;
}

inline size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

inline std::string Printable(std::string text) {
  for (char& c : text) c = c == '\r' ? '|' : c;
  return text;
}

class VehicleFile : public ::testing::Test {
 protected:
  void SetUp() override {
    emu_QimInitState();
    emu_VehicleInit();
    emu_QimSetProtocol(6);
    dir_ = fs::temp_directory_path() / ("padix_vehicle_file_" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    emu_QimInitState();
    emu_VehicleInit();
    fs::remove_all(dir_);
  }

  std::string Write(const std::string& name, const std::string& text) const {
    const std::string path = (dir_ / name).string();
    std::ofstream(path) << text;
    return path;
  }
  // "" when loaded, else the error.
  static std::string Load(const std::string& path) {
    std::string error;
    return emu_LoadVehicleFile(path.c_str(), &error) == 0 ? "" : error;
  }
  static std::string Set(const char* name, const char* value) {
    std::string error;
    return emu_SetVehicleValue(name, value, &error) == 0 ? "" : error;
  }
  std::string Save(const std::string& name = "saved.toml") const {
    const std::string path = (dir_ / name).string();
    std::string error;
    EXPECT_EQ(emu_SaveVehicleFile(path.c_str(), &error), 0) << error;
    return path;
  }
  static std::string Text(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
  }

  // One ECU's answer data, before framing, in hex: every line (message) run together.
  static std::string Data(uint8_t service, uint8_t pid, uint8_t ecu, bool can = true, uint8_t frame = 0) {
    EmuEcuAnswer answer;
    emu_InitFrameData(service, pid, frame, ecu, can, &answer);
    std::string text;
    for (uint8_t i = 0; i < answer.length; ++i) text += Hex(answer.data[i]);
    return text;
  }

  // Every request of every service on every link, labelled; `prepare` sets the car up before
  // each link. With `clear`, service 04 comes last, and 03, 07 and 0A are asked again after it.
  static std::vector<std::string> Transcript(const std::function<void()>& prepare, bool clear = true) {
    std::vector<std::string> out;
    for (const Link& link : kLinks) {
      prepare();
      emu_QimSetProtocol(link.protocol);
      ath1Enabled = link.headers ? 1 : 0;
      auto ask = [&](uint8_t service, uint8_t pid, uint8_t frame) {
        char answer[EMU_OBD_ANSWER_BUF_SIZE];
        const size_t lines = emu_BuildObdAnswer(service, pid, frame, answer);
        out.push_back(std::to_string(link.protocol) + (link.headers ? "H " : "  ") + Hex(service) + " " + Hex(pid) +
                      " " + Hex(frame) + ": " + (lines == 0 ? "NO DATA" : answer));
      };
      for (unsigned pid = 0; pid < 256; ++pid)
        if (emu_RequestIsKnown(1, static_cast<uint8_t>(pid))) ask(1, static_cast<uint8_t>(pid), 0);
      for (uint8_t frame = 0; frame <= EMU_MAX_ECUS; ++frame)
        for (unsigned pid = 0; pid < 256; ++pid)
          if (emu_RequestIsKnown(2, static_cast<uint8_t>(pid))) ask(2, static_cast<uint8_t>(pid), frame);
      for (uint8_t type = 0; type <= 0x0B; ++type) ask(9, type, 0);
      for (unsigned id = 0; id < 256; ++id) ask(6, static_cast<uint8_t>(id), 0);
      for (uint8_t service : {0x03, 0x07, 0x0A}) ask(service, 0, 0);
      if (!clear) continue;
      for (uint8_t service : {0x04, 0x03, 0x07, 0x0A}) ask(service, 0, 0);
      ask(1, 0x01, 0);
    }
    return out;
  }

  // The labels of the answers that differ.
  static std::set<std::string> Differences(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::set<std::string> labels;
    EXPECT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
      if (a[i] != b[i]) labels.insert(a[i].substr(0, a[i].find(':')));
    return labels;
  }
  static void ExpectSameAnswers(const std::vector<std::string>& expected, const std::vector<std::string>& actual,
                                const std::string& what) {
    ASSERT_EQ(expected.size(), actual.size()) << what;
    for (size_t i = 0; i < expected.size(); ++i) {
      if (expected[i] == actual[i]) continue;
      ADD_FAILURE() << what << ": first answer that differs\n  expected " << Printable(expected[i]) << "\n  actual   "
                    << Printable(actual[i]);
      return;
    }
  }

  // Loads `path` and makes all eight ECUs answer, so that every ECU's tables are compared.
  static std::function<void()> Loading(const std::string& path) {
    return [path] {
      ASSERT_EQ(Load(path), "");
      emu_VehicleSetNoOfEcus(EMU_MAX_ECUS);
    };
  }

  fs::path dir_;
};

}  // namespace vehicle_file_fixture
