// The car knows no adapter: no file of vehicle/ includes a header of the adapters (module/,
// elm327/, adapter/), the line, the host or the window, and no vehicle object file calls a
// function or takes a variable that one of theirs defines. The handheld module's answer path is
// layered the same way: its port (state, settings, writer) calls neither the answer builder, the
// interpreter nor the thread; the answer builder calls neither of the last two; the interpreter
// not the thread. The symbol checks read the build's object files with nm.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kRoot = fs::path(__FILE__).parent_path().parent_path().parent_path();
const fs::path kVehicle = kRoot / "vehicle";

// What is wrong with one include of a vehicle file, or "" when it is fine.
std::string IncludeFault(const std::string& name) {
  for (const char* above : {"module/", "elm327/", "adapter/", "line/", "host/", "window/"}) {
    if (name.rfind(above, 0) == 0) return "reaches " + std::string(above);
  }
  if (name.find("..") != std::string::npos) return "climbs out of its folder";
  return "";
}

std::vector<std::string> VehicleIncludeFaults() {
  static const std::regex include(R"(^\s*#\s*include\s*[<"]([^>"]+)[>"])");
  std::vector<std::string> faults;
  for (const auto& entry : fs::recursive_directory_iterator(kVehicle)) {
    const fs::path& file = entry.path();
    if (file.extension() != ".cpp" && file.extension() != ".h") continue;
    std::ifstream in(file);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      std::smatch m;
      if (!std::regex_search(line, m, include)) continue;
      const std::string fault = IncludeFault(m[1]);
      if (!fault.empty())
        faults.push_back(fs::relative(file, kRoot).string() + ":" + std::to_string(number) + ": " + m[1].str() +
                         " " + fault);
    }
  }
  return faults;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

TEST(VehicleLayer, VehicleFilesIncludeNoHeaderOfTheLayersAboveOrOfTheLine) {
  ASSERT_TRUE(fs::is_regular_file(kVehicle / "vehicle.h")) << "vehicle/ not found under " << kRoot;
  const std::vector<std::string> faults = VehicleIncludeFaults();
  EXPECT_TRUE(faults.empty()) << Joined(faults);
}

TEST(VehicleLayer, TheIncludeRuleRefusesWhatReachesUp) {
  for (const char* name : {"module/module.h", "module/module_port.h", "elm327/elm327.h", "adapter/line_faults.h",
                           "line/serial_port.h", "host/key_loop.h", "window/window_api.h", "../module/module.h"})
    EXPECT_NE(IncludeFault(name), "") << name;
  for (const char* name : {"vehicle/vehicle.h", "controller/controller.h", "stdint.h", "toml++/toml.h"})
    EXPECT_EQ(IncludeFault(name), "") << name;
}

// ---------------------------------------------------------------------------------------------
// Symbols, from the object files of this build (beside the test binary).

fs::path BuildDir() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return {};
  self[n] = '\0';
  return fs::path(self).parent_path();
}

// The object files of a folder's sources, in whichever library target CMake built them
// (CMakeFiles/TARGET.dir/FOLDER/NAME.cpp.o).
std::vector<fs::path> Objects(const char* folder) {
  std::vector<fs::path> objects;
  std::error_code ec;
  for (const auto& target : fs::directory_iterator(BuildDir() / "CMakeFiles", ec)) {
    if (target.path().extension() != ".dir") continue;
    std::error_code none;
    for (const auto& entry : fs::directory_iterator(target.path() / folder, none))
      if (entry.path().extension() == ".o") objects.push_back(entry.path());
  }
  return objects;
}

// The external symbols an object file defines (`defined`) or takes from others.
std::set<std::string> Symbols(const fs::path& object, bool defined) {
  std::set<std::string> names;
  const std::string command =
      std::string("nm -P ") + (defined ? "--defined-only --extern-only " : "--undefined-only ") + "'" +
      object.string() + "' 2>/dev/null";
  FILE* nm = popen(command.c_str(), "r");
  if (nm == nullptr) return names;
  char line[4096];
  while (fgets(line, sizeof line, nm) != nullptr) {
    std::string text = line;
    const size_t space = text.find(' ');
    if (space == std::string::npos) continue;
    const char kind = space + 1 < text.size() ? text[space + 1] : ' ';
    // Weak and unique symbols are inline functions and templates every user carries a copy of.
    if (defined && (kind == 'W' || kind == 'w' || kind == 'V' || kind == 'v' || kind == 'u')) continue;
    names.insert(text.substr(0, space));
  }
  pclose(nm);
  return names;
}

std::set<std::string> Defined(const std::vector<fs::path>& objects) {
  std::set<std::string> names;
  for (const fs::path& o : objects) names.merge(Symbols(o, true));
  return names;
}

// "file: symbol" for each symbol an object of `lower` takes from `upper`.
std::vector<std::string> CallsUp(const std::vector<fs::path>& lower, const std::set<std::string>& upper) {
  std::vector<std::string> faults;
  for (const fs::path& o : lower)
    for (const std::string& name : Symbols(o, false))
      if (upper.count(name) != 0) faults.push_back(o.filename().string() + ": " + name);
  return faults;
}

bool NmRuns() { return system("nm --version >/dev/null 2>&1") == 0; }

TEST(VehicleLayer, VehicleObjectsTakeNothingFromTheAdaptersTheLineOrTheHost) {
  const std::vector<fs::path> vehicle = Objects("vehicle");
  if (vehicle.empty() || !NmRuns()) GTEST_SKIP() << "no object files of vehicle/ beside " << BuildDir();
  std::vector<fs::path> above;
  for (const char* folder : {"module", "elm327", "adapter", "line", "host", "window"}) {
    const std::vector<fs::path> objects = Objects(folder);
    EXPECT_FALSE(objects.empty()) << "no object files of " << folder << "/";
    above.insert(above.end(), objects.begin(), objects.end());
  }
  const std::set<std::string> upper = Defined(above);
  ASSERT_FALSE(upper.empty());
  size_t taken = 0;  // nm read: the vehicle takes its lock, the C++ library, ...
  for (const fs::path& o : vehicle) taken += Symbols(o, false).size();
  ASSERT_GT(taken, 0u);
  const std::vector<std::string> faults = CallsUp(vehicle, upper);
  EXPECT_TRUE(faults.empty()) << Joined(faults);
}

TEST(VehicleLayer, TheModulesAnswerPathCallsOnlyDownwards) {
  const std::vector<fs::path> module = Objects("module");
  const auto object = [&](const char* name) {
    for (const fs::path& o : module)
      if (o.filename() == std::string(name) + ".cpp.o") return o;
    return fs::path();
  };
  if (object("module_port").empty() || !NmRuns()) GTEST_SKIP() << "no object files of module/";
  // Low to high; each may take from those before it only.
  const char* const layers[] = {"module_port", "obd_answer", "at_commands", "module"};
  constexpr size_t kLayers = sizeof layers / sizeof layers[0];
  for (size_t i = 0; i + 1 < kLayers; ++i) {
    std::vector<fs::path> upper;
    for (size_t j = i + 1; j < kLayers; ++j) upper.push_back(object(layers[j]));
    const std::set<std::string> defined = Defined(upper);
    ASSERT_FALSE(defined.empty()) << "nm read nothing above " << layers[i];
    const std::vector<std::string> faults = CallsUp({object(layers[i])}, defined);
    EXPECT_TRUE(faults.empty()) << layers[i] << " calls up:\n" << Joined(faults);
  }
}

}  // namespace
