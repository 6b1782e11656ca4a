// The firmware knows nothing of the host: every header a firmware file includes in quotes is one
// of the firmware's own, named from the firmware folder ("ui/menu.h"), and no include of any kind
// reaches the host, the simulator or the window.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kRoot = fs::path(__FILE__).parent_path().parent_path().parent_path();
const fs::path kFirmware = kRoot / "firmware";

// What is wrong with one include line of a firmware file, or "" when it is fine.
std::string IncludeFault(const std::string& kind, const std::string& name) {
  for (const char* other : {"host/", "controller/", "line/", "vehicle/", "module/", "elm327/", "adapter/", "window/", "tests/", "bench/", "tools/"}) {
    if (name.rfind(other, 0) == 0) return "reaches " + std::string(other);
  }
  if (name.find("..") != std::string::npos) return "climbs out of its folder";
  if (kind == "\"" && !fs::is_regular_file(kFirmware / name)) {
    return "is not a firmware header named from the firmware folder";
  }
  return "";
}

std::vector<std::string> BorderFaults() {
  static const std::regex include(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
  std::vector<std::string> faults;
  for (const auto& entry : fs::recursive_directory_iterator(kFirmware)) {
    const fs::path& file = entry.path();
    if (file.extension() != ".cpp" && file.extension() != ".h") continue;
    std::ifstream in(file);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      std::smatch m;
      if (!std::regex_search(line, m, include)) continue;
      std::string fault = IncludeFault(m[1], m[2]);
      if (!fault.empty()) {
        faults.push_back(fs::relative(file, kRoot).string() + ":" + std::to_string(number) +
                         ": " + m[2].str() + " " + fault);
      }
    }
  }
  return faults;
}

TEST(FirmwareBorder, FirmwareIncludesOnlyItsOwnHeaders) {
  ASSERT_TRUE(fs::is_regular_file(kFirmware / "mcu.h")) << "firmware not found under " << kRoot;
  std::vector<std::string> faults = BorderFaults();
  std::string all;
  for (const std::string& f : faults) all += f + "\n";
  EXPECT_TRUE(faults.empty()) << all;
}

TEST(FirmwareBorder, TheRuleRefusesWhatCrosses) {
  EXPECT_NE(IncludeFault("\"", "host/key_loop.h"), "");
  EXPECT_NE(IncludeFault("\"", "controller/controller.h"), "");
  EXPECT_NE(IncludeFault("<", "vehicle/vehicle.h"), "");
  EXPECT_NE(IncludeFault("\"", "../window/window_api.h"), "");
  EXPECT_NE(IncludeFault("\"", "firmware/ui/menu.h"), "");  // the host's way of naming it
  EXPECT_NE(IncludeFault("\"", "no_such_header.h"), "");
  EXPECT_EQ(IncludeFault("\"", "ui/menu.h"), "");
  EXPECT_EQ(IncludeFault("\"", "mcu.h"), "");
  EXPECT_EQ(IncludeFault("<", "stdint.h"), "");
}

}  // namespace
