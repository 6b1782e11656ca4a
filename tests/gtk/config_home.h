// A settings folder of the test's own (XDG_CONFIG_HOME), where the window keeps whether its test
// bench panel is shown: a test starts from no setting and never touches the user's.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

struct ConfigHome {
  char dir[32] = "/tmp/padix-config-XXXXXX";
  std::string before;
  bool had = false;
  ConfigHome() {
    if (mkdtemp(dir) == nullptr) ADD_FAILURE() << "no folder for the settings";
    const char* old = getenv("XDG_CONFIG_HOME");
    had = old != nullptr;
    if (had) before = old;
    setenv("XDG_CONFIG_HOME", dir, 1);
  }
  ~ConfigHome() {
    std::filesystem::remove_all(dir);
    if (had)
      setenv("XDG_CONFIG_HOME", before.c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
  }
  std::string Panel() const {
    std::stringstream text;
    text << std::ifstream(std::string(dir) + "/padix/panel").rdbuf();
    return text.str();
  }
  void Remember(const std::string& text) const {
    std::filesystem::create_directories(std::string(dir) + "/padix");
    std::ofstream(std::string(dir) + "/padix/panel") << text;
  }
};

