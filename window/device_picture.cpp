// The device picture's places, searched in a fixed order.
#include "window/device_picture.h"

#include <unistd.h>

namespace {

// Folders relative to the program's own folder; "" is that folder itself.
const char* const BESIDE_PROGRAM[] = {"", "../share/padix/"};

bool emu_Readable(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

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

std::string emu_FindDevicePicture() {
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  return emu_FindDevicePicture(n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string());
}
