// Hundreds of watchdog restarts in a row, in-process: every power-on must reach the main menu
// again, and the threads, file descriptors and memory of a power-on must all be given back.
// PADIX_STRESS_RESTARTS sets the number of restarts (default 200, about 4 s each).
#include <dirent.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "tests/support/emulator_session.h"
#include "tests/support/wait_for.h"

#if defined(__SANITIZE_ADDRESS__)
#define PADIX_STRESS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PADIX_STRESS_ASAN 1
#endif
#endif
#ifdef PADIX_STRESS_ASAN
// The sanitizer runtime's count of bytes allocated and not yet freed (its header is not always
// installed with the compiler).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

int CountEntries(const char* dir) {
  int n = 0;
  DIR* d = opendir(dir);
  if (d == nullptr) return -1;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n;  // for /proc/self/fd this includes the descriptor of the listing itself
}

long RssKb() {
  FILE* f = fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long kb = -1;
  while (fgets(line, sizeof line, f) != nullptr)
    if (strncmp(line, "VmRSS:", 6) == 0) kb = strtol(line + 6, nullptr, 10);
  fclose(f);
  return kb;
}

// Heap bytes in use. Under AddressSanitizer its allocator's count: freed blocks sit in its
// quarantine, and malloc's own figures are not kept.
long HeapBytes() {
#ifdef PADIX_STRESS_ASAN
  return static_cast<long>(__sanitizer_get_current_allocated_bytes());
#else
  return static_cast<long>(mallinfo2().uordblks);
#endif
}

struct Figures {
  int threads = 0, fds = 0;
  long rssKb = 0, heapBytes = 0;
};

Figures Measure() {
  return {CountEntries("/proc/self/task"), CountEntries("/proc/self/fd"), RssKb(), HeapBytes()};
}

void Print(const char* when, const Figures& f) {
  printf("%-28s threads %3d  fds %3d  VmRSS %7ld kB  heap in use %9ld B\n", when, f.threads,
         f.fds, f.rssKb, f.heapBytes);
  fflush(stdout);
}

int RestartCount() {
  if (const char* s = getenv("PADIX_STRESS_RESTARTS")) {
    const int n = atoi(s);
    if (n > 0) return n;
  }
  return 200;
}

// Power-on, `restarts` watchdog restarts each after the main menu was reached, and the quit.
void RunRestarts(int restarts, int firstCycle, const TitleRows& mainMenu) {
  EmulatorSession session;
  for (int i = 0; i < restarts; ++i) {
    const int cycle = firstCycle + i;
    ASSERT_TRUE(session.WaitForTitle(mainMenu, 15000))
        << "cycle " << cycle << " did not reach the main menu:\n" << session.Screen();
    ASSERT_TRUE(session.HoldEscapeToRestart()) << "cycle " << cycle << " did not restart";
    if (cycle % 50 == 49) Print(("after restart " + std::to_string(cycle + 1)).c_str(), Measure());
  }
  ASSERT_TRUE(session.WaitForTitle(mainMenu, 15000)) << "the last restart:\n" << session.Screen();
  ASSERT_EQ(session.Quit(), 1) << "the quit did not end the power-on";
}

TEST(WatchdogRestartStress, EveryRestartReachesTheMainMenuAndNothingGrows) {
  const int restarts = RestartCount();
  // The first power-ons fill caches (malloc arenas, thread stacks, the LCD renderer); the
  // baseline is taken once they are warm, with no power-on running.
  const int warmUp = std::clamp(restarts / 4, 1, 10);
  const TitleRows mainMenu = RenderTitle("MAIN MENU");
  const Figures start = Measure();
  Print("before the first power-on", start);

  RunRestarts(warmUp, 0, mainMenu);
  if (HasFatalFailure()) return;
  // Detached beeper threads end by themselves, shortly after their tone.
  WaitFor([&] { return Measure().threads <= start.threads; }, 3000);
  const Figures baseline = Measure();
  Print(("baseline after " + std::to_string(warmUp) + " restarts").c_str(), baseline);

  RunRestarts(restarts - warmUp, warmUp, mainMenu);
  if (HasFatalFailure()) return;
  Figures end;
  const bool threadsBack = WaitFor([&] { return (end = Measure()).threads == baseline.threads; }, 3000);
  const bool fdsBack = WaitFor([&] { return (end = Measure()).fds == baseline.fds; }, 3000);
  end = Measure();
  Print(("end after " + std::to_string(restarts) + " restarts").c_str(), end);

  EXPECT_TRUE(threadsBack) << end.threads << " threads, " << baseline.threads << " at the baseline";
  EXPECT_TRUE(fdsBack) << end.fds << " descriptors, " << baseline.fds << " at the baseline";
  // A power-on that kept as little as 100 bytes would have grown the heap by more than this
  // after 100 restarts.
  const long heapTolerance = 8 * 1024;
  EXPECT_LE(end.heapBytes - baseline.heapBytes, heapTolerance)
      << "heap in use grew from " << baseline.heapBytes << " to " << end.heapBytes << " bytes";
#ifndef PADIX_STRESS_ASAN
  // Resident memory moves with malloc's trimming and the kernel's paging: a leak of a thread
  // stack or a frame buffer per power-on would still show far beyond this.
  const long rssToleranceKb = 2048;
  EXPECT_LE(end.rssKb - baseline.rssKb, rssToleranceKb)
      << "VmRSS grew from " << baseline.rssKb << " to " << end.rssKb << " kB";
#endif
}

}  // namespace
