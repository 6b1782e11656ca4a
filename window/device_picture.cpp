// The device picture's places, searched in a fixed order.
#include "window/device_picture.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Folders relative to the program's own folder; "" is that folder itself.
const char* const BESIDE_PROGRAM[] = {"", "../share/padix/"};

bool emu_Readable(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

// Folders of example vehicles relative to the program's own folder: installed, then built in the tree.
const char* const VEHICLES_BESIDE_PROGRAM[] = {"../share/padix/vehicles", "../examples/vehicles"};
constexpr const char* VEHICLES_IN_TREE = "examples/vehicles";

bool emu_IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && emu_Readable(path);
}

std::string emu_ExePath() {
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  return n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string();
}

}  // namespace

std::string emu_FindDevicePicture(const std::string& exePath) {
  if (emu_Readable(DEVICE_PICTURE_FILE)) return DEVICE_PICTURE_FILE;
  const size_t slash = exePath.rfind('/');
  if (slash == std::string::npos) return "";
  const std::string folder = exePath.substr(0, slash + 1);
  for (const char* beside : BESIDE_PROGRAM) {
    const std::string path = folder + beside + DEVICE_PICTURE_FILE;
    if (emu_Readable(path)) return path;
  }
  return "";
}

std::string emu_FindDevicePicture() { return emu_FindDevicePicture(emu_ExePath()); }

std::string emu_FindVehiclesFolder(const std::string& exePath) {
  if (emu_IsFolder(VEHICLES_IN_TREE)) {
    char* here = getcwd(nullptr, 0);
    std::string path = here != nullptr ? std::string(here) + "/" + VEHICLES_IN_TREE : VEHICLES_IN_TREE;
    free(here);
    return path;
  }
  const size_t slash = exePath.rfind('/');
  if (slash == std::string::npos) return "";
  const std::string folder = exePath.substr(0, slash + 1);
  for (const char* beside : VEHICLES_BESIDE_PROGRAM)
    if (emu_IsFolder(folder + beside)) return folder + beside;
  return "";
}

std::string emu_FindVehiclesFolder() { return emu_FindVehiclesFolder(emu_ExePath()); }
