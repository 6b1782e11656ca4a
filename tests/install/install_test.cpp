// Padix installed as users get it: `cmake --install` into a fresh prefix, the installed programs
// started from a folder that has nothing of Padix in it, the menu entry and the manual pages
// through the desktop's and man's own checkers, and the Debian package built and unpacked.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "window/device_picture.h"

namespace {

struct Shell {
  int status;
  std::string output;  // standard output and error together
};

Shell RunShell(const std::string& command) {
  Shell result{-1, ""};
  // A group, so that the command's own redirections are kept.
  FILE* p = popen(("(" + command + ") 2>&1").c_str(), "r");
  if (p == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) result.output.append(buffer, n);
  const int status = pclose(p);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string TempDir(const char* what) {
  std::string pattern = std::string("/tmp/padix-") + what + "-XXXXXX";
  return mkdtemp(pattern.data()) != nullptr ? pattern : "";
}

// Where the build puts things in a prefix; the package has them under usr/.
const std::vector<std::string> INSTALLED_FILES = {
    "bin/padix",
    "bin/padix-headless",
    "share/padix/TarnicBackgroundPic.png",
    "share/padix/vehicles/default.toml",
    "share/padix/vehicles/drive.toml",
    "share/padix/vehicles/drive.csv",
    "share/applications/padix.desktop",
    "share/icons/hicolor/16x16/apps/padix.png",
    "share/icons/hicolor/48x48/apps/padix.png",
    "share/icons/hicolor/256x256/apps/padix.png",
    "share/man/man1/padix.1.gz",
    "share/man/man1/padix-headless.1.gz",
    "share/doc/padix/README.md",
    "share/doc/padix/docs/screenshot.png",
    "share/doc/padix/docs/main_menu.png",
};

// A PNG's size from its header chunk: width and height, big-endian, at bytes 16 and 20.
std::pair<int, int> PngSize(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  unsigned char head[24] = {};
  f.read(reinterpret_cast<char*>(head), sizeof head);
  auto be = [&](int at) { return (head[at] << 24) | (head[at + 1] << 16) | (head[at + 2] << 8) | head[at + 3]; };
  return {be(16), be(20)};
}

class InstalledPadix : public testing::Test {
 protected:
  void SetUp() override {
    prefix_ = TempDir("prefix");
    elsewhere_ = TempDir("elsewhere");
    ASSERT_FALSE(prefix_.empty() || elsewhere_.empty());
    const Shell install = RunShell(std::string(PADIX_CMAKE_COMMAND) + " --install " + BinDir() +
                              " --prefix " + prefix_);
    ASSERT_EQ(install.status, 0) << install.output;
  }
  void TearDown() override { RunShell("rm -rf " + prefix_ + " " + elsewhere_); }

  std::string prefix_, elsewhere_;
};

TEST_F(InstalledPadix, StartsFromAnyFolderWithItsFilesInPlace) {
  for (const std::string& file : INSTALLED_FILES) EXPECT_TRUE(Exists(prefix_ + "/" + file)) << file;
  // Every example vehicle is installed and named in the manual page's FILES.
  const Shell examples = RunShell(std::string("ls ") + PADIX_SOURCE_DIR + "/examples/vehicles");
  const Shell manual = RunShell("zcat " + prefix_ + "/share/man/man1/padix.1.gz");
  std::istringstream names(examples.output);
  for (std::string name; std::getline(names, name);) {
    EXPECT_TRUE(Exists(prefix_ + "/share/padix/vehicles/" + name)) << name;
    EXPECT_NE(manual.output.find(name), std::string::npos) << name << " missing from padix(1)";
  }
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    const std::string dir = std::to_string(size) + "x" + std::to_string(size);
    EXPECT_EQ(PngSize(prefix_ + "/share/icons/hicolor/" + dir + "/apps/padix.png"),
              std::make_pair(size, size)) << dir;
  }
  for (const char* program : {"padix", "padix-headless"}) {
    const Shell version = RunShell("cd " + elsewhere_ + " && " + prefix_ + "/bin/" + program + " --version");
    EXPECT_EQ(version.status, 0) << program;
    EXPECT_EQ(version.output, std::string("Padix V") + PADIX_VERSION + "\n") << program;
  }

  // The installed window program finds its picture through its own path, from a folder where
  // no picture lies.
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  ASSERT_EQ(chdir(elsewhere_.c_str()), 0);
  const std::string picture = emu_FindDevicePicture(prefix_ + "/bin/padix");
  ASSERT_EQ(chdir(here), 0);
  EXPECT_EQ(picture, prefix_ + "/bin/../share/padix/" + DEVICE_PICTURE_FILE);

  // The installed headless program with the installed recorded drive, whose trace lies beside
  // it, powers on to the main menu.
  HeadlessChild padix({"vehicle=" + prefix_ + "/share/padix/vehicles/drive.toml"},
                      prefix_ + "/bin/padix-headless", elsewhere_);
  ASSERT_TRUE(padix.Running());
  EXPECT_TRUE(padix.WaitForTitle("MAIN MENU")) << padix.Err();
  EXPECT_EQ(padix.Quit(), 0) << padix.Err();
}

TEST_F(InstalledPadix, MenuEntryAndManualPagesPassTheirCheckers) {
  ASSERT_EQ(RunShell("command -v desktop-file-validate").status, 0)
      << "desktop-file-validate is missing: scripts/install-deps.sh test installs it";
  const Shell entry = RunShell("desktop-file-validate " + prefix_ + "/share/applications/padix.desktop");
  EXPECT_EQ(entry.status, 0) << entry.output;
  EXPECT_EQ(entry.output, "") << "hints count too";

  for (const char* page : {"padix", "padix-headless"}) {
    const std::string path = prefix_ + "/share/man/man1/" + page + ".1.gz";
    // The formatter's warnings only: the page itself goes to /dev/null.
    const Shell man = RunShell("LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l " + path +
                          " 2>&1 >/dev/null");
    EXPECT_EQ(man.status, 0) << page << ": " << man.output;
    EXPECT_EQ(man.output, "") << page;
    // The NAME section as whatis and apropos read it.
    const Shell name = RunShell("lexgrog " + path);
    EXPECT_EQ(name.status, 0) << name.output;
    EXPECT_NE(name.output.find(std::string("\"") + page + " - "), std::string::npos) << name.output;
  }
}

// The package: dependencies worked out from the programs' own libraries, and every file under
// usr/ where the prefix install puts it.
TEST(DebianPackage, BuildsWithDependenciesFromTheProgramsAndUnpacks) {
  const std::string out = TempDir("package");
  ASSERT_FALSE(out.empty());
  const Shell cpack = RunShell(std::string("cd ") + out + " && " + PADIX_CPACK_COMMAND + " -G DEB --config " +
                          BinDir() + "/CPackConfig.cmake -B " + out);
  ASSERT_EQ(cpack.status, 0) << cpack.output;
  const Shell deb = RunShell("ls " + out + "/*.deb");
  ASSERT_EQ(deb.status, 0) << deb.output;
  const std::string package = deb.output.substr(0, deb.output.find('\n'));

  const Shell fields = RunShell("dpkg-deb --field " + package + " Package Version Depends");
  EXPECT_NE(fields.output.find("Package: padix\n"), std::string::npos) << fields.output;
  EXPECT_NE(fields.output.find(std::string("Version: ") + PADIX_VERSION + "\n"), std::string::npos)
      << fields.output;
  for (const char* library : {"libgtk-3-0", "libcairo2", "libpulse0", "libc6"})
    EXPECT_NE(fields.output.find(library), std::string::npos) << library << " in " << fields.output;

  const Shell unpack = RunShell("dpkg-deb -x " + package + " " + out + "/root");
  ASSERT_EQ(unpack.status, 0) << unpack.output;
  for (const std::string& file : INSTALLED_FILES)
    EXPECT_TRUE(Exists(out + "/root/usr/" + file)) << file;
  const Shell version = RunShell(out + "/root/usr/bin/padix-headless --version");
  EXPECT_EQ(version.output, std::string("Padix V") + PADIX_VERSION + "\n");
  RunShell("rm -rf " + out);
}

}  // namespace
