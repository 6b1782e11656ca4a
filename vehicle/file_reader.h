// The files a user names to the simulator (a vehicle file, its trace, a captured session), read
// whole: only a regular file, and only up to the size limit of its kind, so that a device such as
// /dev/zero, a FIFO nobody writes to or a runaway log never stalls or swamps the running program.
#pragma once

#include <stddef.h>

#include <string>

// What a file is read as: its name in messages and the most bytes it may have. Each limit lies
// far above the largest file of its kind the simulator can use (a vehicle file holds at most
// 256 answers of 200 bytes; a trace at most 8192 rows), leaving room for comments.
struct EmuFileKind {
  const char* name;
  size_t maxBytes;
};
constexpr EmuFileKind EMU_VEHICLE_FILE_KIND = {"a vehicle file", 4u << 20};
constexpr EmuFileKind EMU_TRACE_KIND = {"a trace", 16u << 20};
constexpr EmuFileKind EMU_CAPTURE_KIND = {"a captured session", 32u << 20};

struct EmuFileText {
  std::string bytes;  // the whole file
  std::string why;    // why it was not read: the system's reason, or the check it failed
  bool refused;       // it was there but is no regular file, or is too large for its kind
};

// 0 with `out->bytes` the whole file; -1 with `out->why` set: the system's reason ("No such file
// or directory", "Is a directory"), "not a regular file", or "larger than N bytes, the limit
// for a vehicle file" (the kind's). Nothing but a regular file is ever opened, so nothing blocks.
int emu_ReadWholeFile(const char* path, const EmuFileKind& kind, EmuFileText* out);
