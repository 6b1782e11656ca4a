// Where the window finds the picture of the handheld (drawn by tools/draw_device_picture).
#pragma once

#include <string>

constexpr const char* DEVICE_PICTURE_FILE = "TarnicBackgroundPic.png";

// The first readable one of: the file in the working directory, beside the program (the build
// folder holds both), and in the data folder of the prefix the program is installed in
// (<prefix>/bin/padix finds <prefix>/share/padix/). `exePath` is the program's absolute path;
// "" when none is readable.
std::string emu_FindDevicePicture(const std::string& exePath);
// The same for the running program, whose path is /proc/self/exe.
std::string emu_FindDevicePicture();

// The example vehicles' folder, where the operator's file chooser opens first: "examples/vehicles"
// in the working directory (the source tree), the installed data folder's "vehicles"
// (<prefix>/share/padix/vehicles), or the tree's beside a build folder in it; "" when none is there.
std::string emu_FindVehiclesFolder(const std::string& exePath);
std::string emu_FindVehiclesFolder();
