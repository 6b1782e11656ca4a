// The timeline's thread and its schedule (timeline.h). The schedule is kept under one lock, never
// held while an event fires: an event takes the vehicle's lock itself.
#include "vehicle/timeline.h"

#include <pthread.h>
#include <stdio.h>
#include <time.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "vehicle/vehicle.h"

std::atomic<void (*)(size_t, uint64_t, uint64_t)> emu_timelineFiredNotice{nullptr};

namespace {

constexpr uint64_t NS_PER_S = 1000000000u;
constexpr uint64_t NOT_YET = UINT64_MAX;

uint64_t emu_NowNs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * NS_PER_S + static_cast<uint64_t>(t.tv_nsec);
}

struct Scheduled {
  EmuTimelineEvent event;
  uint64_t offsetNs;
  bool fired;
  bool reported;  // its failure was told once already
  bool failed;    // its last firing failed
};

struct Schedule {
  std::mutex lock;
  std::condition_variable changed;  // new events, a client, a hold released, an event fired
  std::vector<Scheduled> events;
  uint64_t startNs = 0;
  uint64_t connectNs = NOT_YET;  // the client on the line came then; NOT_YET: none is there
  int holds = 0;
  bool firing = false;
  bool threadStarted = false;
};

// Never destroyed: its thread waits on it to the end of the run (destroying a condition with a
// waiter blocks the exit).
Schedule& schedule = *new Schedule;
thread_local bool onTimelineThread = false;

// The next event to fire (the earliest; of those due together the first in the file) and when,
// or NOT_YET when none will without a new client.
size_t emu_NextEvent(const Schedule& s, uint64_t* dueNs) {
  size_t next = s.events.size();
  *dueNs = NOT_YET;
  for (size_t i = 0; i < s.events.size(); ++i) {
    const Scheduled& e = s.events[i];
    const uint64_t base = e.event.from == EmuEventFrom::Start ? s.startNs : s.connectNs;
    if (e.fired || base == NOT_YET) continue;
    if (base + e.offsetNs < *dueNs) *dueNs = base + e.offsetNs, next = i;
  }
  return next;
}

std::string emu_CodeText(uint16_t code) {
  static constexpr char LETTERS[] = "PCBU";
  char text[8];
  snprintf(text, sizeof text, "%c%04X", LETTERS[code >> 14], code & 0x3FFF);
  return text;
}

// A confirmed code as a car stores one: added to the ECU's list (once), its lamp lit. The code is
// known good (the file's reader checked it). False with `error` set when the list is full.
std::atomic<EmuValueSetter> valueSetter{nullptr};

bool emu_AddConfirmedCode(uint8_t ecuIdx, const std::string& text, std::string* error) {
  static constexpr char LETTERS[] = "PCBU";
  uint16_t code = 0;
  for (uint8_t i = 0; i < 4; ++i)
    if (LETTERS[i] == text[0]) code = static_cast<uint16_t>(i << 14);
  code = static_cast<uint16_t>(code | (std::stoul(text.substr(1), nullptr, 16) & 0x3FFF));
  bool full = false;
  emu_VehicleLock();
  EmuEcu& ecu = vehicle.ecu[ecuIdx];
  const uint8_t n = emu_AtMost16(ecu.noOfDtcs);
  bool there = false;
  for (uint8_t i = 0; i < n; ++i) there = there || ecu.confirmedDtc[i] == code;
  if (!there && n == EMU_MAX_DTCS) {
    full = true;
  } else {
    if (!there) ecu.confirmedDtc[n] = code, ecu.noOfDtcs = static_cast<uint8_t>(n + 1);
    ecu.milState = 1;
    ecu.dtcsCleared = 0;
  }
  emu_VehicleUnlock();
  if (full) *error = "ECU " + std::to_string(ecuIdx + 1) + " has 16 codes already, none more for " + emu_CodeText(code);
  return !full;
}

// One event, done as its kind says. False with `error` set when it could not be.
bool emu_Fire(const EmuTimelineEvent& e, std::string* error) {
  switch (e.kind) {
    case EmuEventKind::Set:
      if (EmuValueSetter set = valueSetter.load(); set != nullptr) return set(e.name.c_str(), e.value.c_str(), error) == 0;
      *error = "no setter of values";
      return false;
    case EmuEventKind::Dtc:
      return emu_AddConfirmedCode(static_cast<uint8_t>(e.ecu - 1), e.value, error);
    case EmuEventKind::ClearDtcs:
      // As a scan tool's clear does it, on the protocol the tester talks.
      for (uint8_t i = 0; i < EMU_MAX_ECUS; ++i)
        if (e.ecu == 0 || e.ecu == i + 1) emu_VehicleClearCodes(i, emu_VehicleTesterOnCan());
      return true;
  }
  return true;
}

const char* emu_What(const EmuTimelineEvent& e) {
  return e.kind == EmuEventKind::Set ? "set" : e.kind == EmuEventKind::Dtc ? "dtc" : "clear_dtcs";
}

void emu_TimelineThread() {
  pthread_setname_np(pthread_self(), "timeline");
  onTimelineThread = true;
  std::unique_lock<std::mutex> lock(schedule.lock);
  for (;;) {
    uint64_t dueNs;
    const size_t next = emu_NextEvent(schedule, &dueNs);
    if (schedule.holds > 0 || dueNs == NOT_YET) {
      schedule.changed.wait(lock);
      continue;
    }
    const uint64_t now = emu_NowNs();
    if (dueNs > now) {
      // steady_clock is CLOCK_MONOTONIC: the wait ends at the event's time, not a period.
      const auto until = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(dueNs));
      schedule.changed.wait_until(lock, until);
      continue;
    }
    Scheduled& due = schedule.events[next];
    due.fired = true;
    const EmuTimelineEvent event = due.event;
    const bool reported = due.reported;
    schedule.firing = true;
    lock.unlock();

    std::string error;
    const bool done = emu_Fire(event, &error);
    const uint64_t doneNs = emu_NowNs();
    if (!done && !reported)
      fprintf(stderr, "Timeline: the event at %gs (%s %s) failed: %s\n", event.at, emu_What(event),
              event.kind == EmuEventKind::Set ? event.name.c_str() : event.value.c_str(), error.c_str());
    if (auto notice = emu_timelineFiredNotice.load()) notice(next, dueNs, doneNs);

    lock.lock();
    schedule.firing = false;
    // The events may have been replaced meanwhile only under a hold, which waits for this one.
    if (!done && next < schedule.events.size()) schedule.events[next].reported = true;
    if (next < schedule.events.size()) schedule.events[next].failed = !done;
    schedule.changed.notify_all();
  }
}

}  // namespace

void emu_TimelineSetValueSetter(EmuValueSetter setter) { valueSetter = setter; }

void emu_TimelineReplace(std::vector<EmuTimelineEvent> events) {
  std::vector<Scheduled> scheduled;
  scheduled.reserve(events.size());
  for (EmuTimelineEvent& e : events) {
    const uint64_t offset = static_cast<uint64_t>(e.at * 1e9 + 0.5);
    scheduled.push_back({std::move(e), offset, false, false, false});
  }
  std::unique_lock<std::mutex> lock(schedule.lock);
  // An event being fired belongs to the car it was meant for: the new timeline starts after it.
  if (!onTimelineThread) schedule.changed.wait(lock, [] { return !schedule.firing; });
  schedule.events = std::move(scheduled);
  const uint64_t now = emu_NowNs();
  schedule.startNs = now;
  if (schedule.connectNs != NOT_YET) schedule.connectNs = now;
  if (!schedule.events.empty() && !schedule.threadStarted) {
    schedule.threadStarted = true;
    std::thread(emu_TimelineThread).detach();
  }
  schedule.changed.notify_all();
}

std::vector<EmuTimelineEvent> emu_TimelineEvents() {
  std::lock_guard<std::mutex> lock(schedule.lock);
  std::vector<EmuTimelineEvent> events;
  events.reserve(schedule.events.size());
  for (const Scheduled& e : schedule.events) events.push_back(e.event);
  return events;
}

std::vector<EmuTimelineEntry> emu_TimelineEntries() {
  std::lock_guard<std::mutex> lock(schedule.lock);
  const uint64_t now = emu_NowNs();
  std::vector<EmuTimelineEntry> entries;
  entries.reserve(schedule.events.size());
  for (const Scheduled& e : schedule.events) {
    EmuTimelineEntry entry{e.event};
    const uint64_t base = e.event.from == EmuEventFrom::Start ? schedule.startNs : schedule.connectNs;
    if (e.fired) {
      entry.state = e.failed ? EmuEventState::Failed : EmuEventState::Fired;
    } else if (base == NOT_YET) {
      entry.state = EmuEventState::Waiting;
    } else {
      const uint64_t due = base + e.offsetNs;
      entry.inSeconds = due > now ? static_cast<double>(due - now) / NS_PER_S : 0;
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

EmuTimelineHold::EmuTimelineHold() : held_(!onTimelineThread) {
  if (!held_) return;
  std::unique_lock<std::mutex> lock(schedule.lock);
  ++schedule.holds;
  schedule.changed.wait(lock, [] { return !schedule.firing; });
}

EmuTimelineHold::~EmuTimelineHold() {
  if (!held_) return;
  std::lock_guard<std::mutex> lock(schedule.lock);
  --schedule.holds;
  schedule.changed.notify_all();
}

void emu_TimelineClientNotice(bool here) {
  std::lock_guard<std::mutex> lock(schedule.lock);
  schedule.connectNs = here ? emu_NowNs() : NOT_YET;
  // Events from the connection start over for the new client.
  for (Scheduled& e : schedule.events)
    if (e.event.from == EmuEventFrom::Connect) e.fired = false;
  if (schedule.threadStarted) schedule.changed.notify_all();
}
