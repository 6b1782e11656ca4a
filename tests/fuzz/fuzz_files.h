// What the fuzz targets that go through files share: a scratch folder of the process's own under
// /tmp (made on first use, emptied and removed at exit), reading and writing whole files, and
// failing loudly with the reason.
#pragma once

#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace fuzz_files {

inline std::string& FolderName() {
  static std::string folder;
  return folder;
}

inline void RemoveFolder() {
  const std::string& folder = FolderName();
  if (DIR* d = opendir(folder.c_str())) {
    while (const dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') unlink((folder + "/" + e->d_name).c_str());
    }
    closedir(d);
  }
  rmdir(folder.c_str());
}

}  // namespace fuzz_files

// The folder, "/tmp/padix_fuzz_" and `what` with a unique ending.
inline const std::string& ScratchFolder(const char* what) {
  std::string& folder = fuzz_files::FolderName();
  if (folder.empty()) {
    std::string name = std::string("/tmp/padix_fuzz_") + what + "_XXXXXX";
    if (mkdtemp(name.data()) == nullptr) abort();
    folder = name;
    atexit(fuzz_files::RemoveFolder);
  }
  return folder;
}

inline void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr || fwrite(data, 1, size, f) != size || fclose(f) != 0) abort();
}

inline std::string ReadFile(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

[[noreturn]] inline void Fail(const char* what, const std::string& detail) {
  fprintf(stderr, "%s: %s\n", what, detail.c_str());
  abort();
}
