// Whole regular files with a size limit: the one reader of the files users name to the simulator.
// A path is looked at before it is opened, so a FIFO, a terminal or a device is never opened at
// all; what is opened is looked at again (the path may have changed in between) and read no
// further than one byte past the limit, since a file may grow while it is read.
#include "vehicle/file_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int emu_Refuse(EmuFileText* out, const std::string& why, bool refused) {
  out->bytes.clear();
  out->why = why;
  out->refused = refused;
  return -1;
}

std::string emu_TooLarge(const EmuFileKind& kind) {
  return "larger than " + std::to_string(kind.maxBytes) + " bytes, the limit for " + kind.name;
}

// Why a file of this kind is not read, or "" when it may be; `refused` when it is our check.
std::string emu_Unfit(const struct stat& st, const EmuFileKind& kind, bool* refused) {
  *refused = !S_ISDIR(st.st_mode);
  if (S_ISDIR(st.st_mode)) return strerror(EISDIR);
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (static_cast<unsigned long long>(st.st_size) > kind.maxBytes) return emu_TooLarge(kind);
  return std::string();
}

}  // namespace

int emu_ReadWholeFile(const char* path, const EmuFileKind& kind, EmuFileText* out) {
  struct stat st;
  bool refused = false;
  if (stat(path, &st) != 0) return emu_Refuse(out, strerror(errno), false);
  std::string why = emu_Unfit(st, kind, &refused);
  if (!why.empty()) return emu_Refuse(out, why, refused);
  // Should the path have become a FIFO since, opening it without a writer still returns at once.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return emu_Refuse(out, strerror(errno), false);
  if (fstat(fd, &st) != 0) {
    why = strerror(errno);
    refused = false;
  } else {
    why = emu_Unfit(st, kind, &refused);
  }
  if (!why.empty()) {
    close(fd);
    return emu_Refuse(out, why, refused);
  }
  out->bytes.clear();
  out->bytes.reserve(static_cast<size_t>(st.st_size));
  char chunk[16 * 1024];  // any size works; fewer calls for a large file
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      close(fd);
      return emu_Refuse(out, strerror(error), false);
    }
    if (n == 0) break;
    if (out->bytes.size() + static_cast<size_t>(n) > kind.maxBytes) {
      close(fd);
      return emu_Refuse(out, emu_TooLarge(kind), true);
    }
    out->bytes.append(chunk, static_cast<size_t>(n));
  }
  close(fd);
  out->why.clear();
  out->refused = false;
  return 0;
}
