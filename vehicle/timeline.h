// A vehicle file's timeline: things that happen to the car at given times, counted from the
// load of the file ("start") or from the connection of the line's client ("connect"). An event
// sets one value as the command "set NAME VALUE" does, gives an ECU a confirmed trouble code
// (its lamp lights, as a car's does once a fault is confirmed) or clears codes as a scan tool
// does (one ECU's, or every ECU's).
//
// One thread, started with the first timeline that has events, sleeps until the next event is
// due and fires it; with nothing due (no events, or only events waiting for a client) it sleeps
// without a time-out, so a car without a timeline costs no wake-up at all. Events due at the
// same time fire in the file's order. Events from "connect" start over for each new client and
// wait while no client is on the line; an event whose set fails is reported on standard error
// (once) and the timeline goes on.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <string>
#include <vector>

constexpr size_t EMU_MAX_EVENTS = 1000;
constexpr double EMU_MAX_EVENT_SECONDS = 1e6;  // a little over eleven days
constexpr size_t EMU_MAX_EVENT_NAME = 64;      // the name of a value, as "set" takes it

enum class EmuEventFrom : uint8_t { Start, Connect };
enum class EmuEventKind : uint8_t { Set, Dtc, ClearDtcs };

struct EmuTimelineEvent {
  double at = 0;  // seconds, as the file gives them
  EmuEventFrom from = EmuEventFrom::Start;
  EmuEventKind kind = EmuEventKind::Set;
  std::string name;          // Set: the value's name
  std::string value;         // Set: the value as "set" takes it; Dtc: the code
  bool valueIsText = false;  // Set: the file gave the value in quotes
  uint8_t ecu = 1;           // Dtc, ClearDtcs: 1..8; ClearDtcs: 0 for every ECU
};

// Replaces the running timeline with `events` (none when empty). "start" counts from now, and so
// does "connect" while a client is on the line; otherwise it waits for the next one.
void emu_TimelineReplace(std::vector<EmuTimelineEvent> events);
// The events of the running timeline, fired or not, as the file gave them.
std::vector<EmuTimelineEvent> emu_TimelineEvents();
// The same with where each stands now: waiting for a client (a "connect" event with none on the
// line), due in so many seconds, fired, or fired and failed.
enum class EmuEventState : uint8_t { Waiting, Due, Fired, Failed };
struct EmuTimelineEntry {
  EmuTimelineEvent event;
  EmuEventState state = EmuEventState::Due;
  double inSeconds = 0;  // Due: from now
};
std::vector<EmuTimelineEntry> emu_TimelineEntries();

// Keeps the timeline from firing while the car is changed by another hand (a load, a set): both
// copy the car, change the copy and put it back, so an event between the two would be lost or
// would undo the change. Waits for an event being fired to finish. Does nothing on the
// timeline's own thread (its events are sets).
class EmuTimelineHold {
 public:
  EmuTimelineHold();
  ~EmuTimelineHold();
  EmuTimelineHold(const EmuTimelineHold&) = delete;
  EmuTimelineHold& operator=(const EmuTimelineHold&) = delete;

 private:
  bool held_;
};

// How an event sets a value: the setter of the vehicle files ("set NAME VALUE"), given by their
// reader, which sits above the timeline. Without one, a "set" event fails.
using EmuValueSetter = int (*)(const char* name, const char* value, std::string* error);
void emu_TimelineSetValueSetter(EmuValueSetter setter);

// The line's client came (true) or left (false); the line calls it through its client notice,
// where the testers that own the line put it.
void emu_TimelineClientNotice(bool here);

// Told after each event has fired, on the timeline's thread: the event's place in the file's
// list, when it was due and when it was done (CLOCK_MONOTONIC nanoseconds). For measurements.
extern std::atomic<void (*)(size_t index, uint64_t dueNs, uint64_t doneNs)> emu_timelineFiredNotice;
