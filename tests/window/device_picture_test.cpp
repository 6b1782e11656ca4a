// Where the window takes the device picture from: the working directory before the program's
// own folder (the build folder) before the installed data folder, and nothing when none has it.
#include "window/device_picture.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

class DevicePicturePlaces : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/padix-picture-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    ASSERT_NE(getcwd(before_, sizeof before_), nullptr);
    ASSERT_EQ(system(("mkdir -p " + root_ + "/work " + root_ + "/bin " + root_ + "/share/padix").c_str()), 0);
    ASSERT_EQ(chdir((root_ + "/work").c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(before_), 0);
    ASSERT_EQ(system(("rm -rf " + root_).c_str()), 0);
  }
  void Put(const std::string& folder) { std::ofstream(root_ + folder + DEVICE_PICTURE_FILE) << "x"; }

  std::string root_;
  char before_[4096];
};

TEST_F(DevicePicturePlaces, FirstFoundWinsInTheOrderWorkingDirectoryProgramFolderDataFolder) {
  const std::string exe = root_ + "/bin/padix";
  EXPECT_EQ(emu_FindDevicePicture(exe), "") << "none anywhere";
  Put("/share/padix/");
  EXPECT_EQ(emu_FindDevicePicture(exe), root_ + "/bin/../share/padix/" + DEVICE_PICTURE_FILE);
  Put("/bin/");
  EXPECT_EQ(emu_FindDevicePicture(exe), root_ + "/bin/" + DEVICE_PICTURE_FILE);
  Put("/work/");
  EXPECT_EQ(emu_FindDevicePicture(exe), DEVICE_PICTURE_FILE);
  // A program path that names no folder has only the working directory.
  EXPECT_EQ(emu_FindDevicePicture("padix"), DEVICE_PICTURE_FILE);
  ASSERT_EQ(unlink(DEVICE_PICTURE_FILE), 0);
  EXPECT_EQ(emu_FindDevicePicture("padix"), "");
}

// The vehicle file chooser opens where the example vehicles are: in the source tree run from its
// top (examples/vehicles), installed (<prefix>/share/padix/vehicles), or the tree's beside a build
// folder in it; nowhere when there are none.
TEST_F(DevicePicturePlaces, ExampleVehiclesAreFoundInTheTreeOrInstalled) {
  const std::string exe = root_ + "/bin/padix";
  EXPECT_EQ(emu_FindVehiclesFolder(exe), "") << "none anywhere";
  ASSERT_EQ(system(("mkdir -p " + root_ + "/examples/vehicles").c_str()), 0);
  EXPECT_EQ(emu_FindVehiclesFolder(exe), root_ + "/bin/../examples/vehicles") << "the tree beside the build folder";
  ASSERT_EQ(system(("mkdir -p " + root_ + "/share/padix/vehicles").c_str()), 0);
  EXPECT_EQ(emu_FindVehiclesFolder(exe), root_ + "/bin/../share/padix/vehicles") << "installed";
  ASSERT_EQ(system(("mkdir -p " + root_ + "/work/examples/vehicles").c_str()), 0);
  EXPECT_EQ(emu_FindVehiclesFolder(exe), root_ + "/work/examples/vehicles") << "the tree run from its top";
  EXPECT_EQ(emu_FindVehiclesFolder("padix"), root_ + "/work/examples/vehicles");
}

}  // namespace
