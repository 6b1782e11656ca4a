// A folder of a test's own under /tmp, removed with everything in it when the test ends.
#pragma once

#include <stdlib.h>

#include <string>

struct ScratchDir {
  ScratchDir() {
    char name[] = "/tmp/padix-test-XXXXXX";
    if (mkdtemp(name) != nullptr) path = name;
  }
  ~ScratchDir() {
    if (!path.empty()) (void)!system(("rm -rf '" + path + "'").c_str());
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string path;
};
