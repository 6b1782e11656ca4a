// The traffic log (option log=FILE, or log=- for standard error): every line that crosses the
// serial line, whatever kind of line it is, or in emulator mode the handheld's own line to its
// simulated module. One entry a line: the milliseconds since start when its last byte crossed
// the line, who sent it ("tester": the handheld or the OBD program; "module": the interface
// module, simulated or real), and its bytes, those that are not printable as <0D>-style escapes. Each entry is written out at once,
// so a crash loses nothing that was logged. A write that fails (a full disk) stops the log at its
// last whole entry and is said once on standard error; the line is served on.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>

enum class EmuSender : uint8_t { Tester, Module };

int emu_OpenTrafficLog(const char* path);  // 0, or -1 after a message
void emu_CloseTrafficLog();                // writes what is pending

// Where a module's entry ends: at its prompt ('>', the default), or for an adapter that sends
// one frame a line and no prompt (the serial CAN adapter) at each carriage return, so that
// every frame is an entry of its own with its time.
void emu_SetTrafficLogModuleEnd(uint8_t end);

// A note between the entries, in the log's comment style with the time: "#   1234.567 text".
// Entries still under way stay so, and follow it.
void emu_LogTrafficNote(const char* text);

// The window's live view of the traffic: the last TRAFFIC_KEPT entries kept in memory, as they
// are written to the log (with or without a log file), numbered from 1 in the order they were
// completed. A reader asks for the count, then for the entries after the last it has; an entry
// that has already left the memory is gone for it.
constexpr size_t TRAFFIC_KEPT = 512;
constexpr size_t TRAFFIC_KEPT_LENGTH = 512;  // characters of an entry kept, line end left out
void emu_KeepTrafficInMemory();              // from now on; before or after the log file opens
uint64_t emu_TrafficEntryCount();
// Entry `number` as written to the log (time, sender, bytes), without its line end, cut to
// size; -1 when it is not kept (any more).
int emu_TrafficEntry(uint64_t number, char* out, size_t size);
// Entries completed so far by each sender (requests and answers on a line served).
void emu_TrafficSenderCounts(uint64_t* tester, uint64_t* module);

extern std::atomic<bool> trafficLogOn;  // a log file or the memory takes entries
void emu_LogTrafficBytes(EmuSender from, const uint8_t* bytes, size_t n);
inline void emu_LogTraffic(EmuSender from, const uint8_t* bytes, size_t n) {
  if (trafficLogOn.load(std::memory_order_relaxed) && n > 0) emu_LogTrafficBytes(from, bytes, n);
}
