// Whole power-on cycles in-process: start-up to the firmware's main loop, watchdog restarts
// requested by the firmware (Esc held), quitting, and failing thread or lock calls.
#include "host/power_on.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "firmware/eeprom.h"
#include "firmware/ui/menu.h"
#include "controller/controller.h"
#include "tests/support/wait_for.h"
#include "window/headless_window.h"
#include "window/window_api.h"

namespace {

int CountThreads() {
  int n = 0;
  DIR* d = opendir("/proc/self/task");
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n;
}

// One power-on on its own thread; the test plays the user at the window.
std::future<int> PowerOn() { return std::async(std::launch::async, emu_PowerOnCycle); }

bool Finished(std::future<int>& run, int seconds = 10) {
  return run.wait_for(std::chrono::seconds(seconds)) == std::future_status::ready;
}

TEST(PowerOn, TwentyWatchdogRestartsEachReachTheMainLoopWithFreshState) {
  std::thread([] {}).join();  // a sanitizer's own helper thread starts with the first thread
  const int baseline = CountThreads();
  for (int cycle = 0; cycle <= 20; ++cycle) {
    std::future<int> run = PowerOn();
    ASSERT_TRUE(WaitFor([] { return syncWithQimIsDone.load() != 0; }, 10000)) << cycle;
    if (cycle == 0) {
      __eewr_byte_can128(EEP_CONTRAST, 27);  // a setting changed while running
    } else {
      EXPECT_EQ(__eerd_byte_can128(EEP_CONTRAST), 27) << "settings survive a restart";
    }
    if (cycle == 20) {
      emu_HeadlessTypeKey(EMU_KEY_QUIT);
      ASSERT_TRUE(Finished(run));
      EXPECT_EQ(run.get(), 1) << "quit";
      break;
    }
    // Holding Esc makes the firmware's menu engine force a watchdog reset.
    emu_HeadlessHoldKey(EMU_KEY_ESCAPE);
    ASSERT_TRUE(Finished(run)) << "cycle " << cycle << " did not restart";
    emu_HeadlessHoldKey(0);
    EXPECT_EQ(run.get(), 0) << "restart requested";
    EXPECT_EQ(menu.menMenuId, 1) << "the firmware had entered the main menu";
    // A counter left over from the previous power-on would have restarted one repeat early.
    EXPECT_EQ(menu.menEscRepeatCounter, 4) << "cycle " << cycle;
  }
  // Detached beep threads end by themselves; nothing else may be left.
  EXPECT_TRUE(WaitFor([&] { return CountThreads() == baseline; }, 3000))
      << CountThreads() << " threads, " << baseline << " before";
}

TEST(PowerOn, QuitEndsThePowerOnAfterTheFirstFrame) {
  uint8_t mem[1056];
  uint32_t frames = emu_HeadlessGetDisplay(mem);
  std::future<int> run = PowerOn();
  ASSERT_TRUE(WaitFor([&] { return emu_HeadlessGetDisplay(mem) > frames; }));
  emu_HeadlessTypeKey(EMU_KEY_QUIT);
  ASSERT_TRUE(Finished(run));
  EXPECT_EQ(run.get(), 1);
}

TEST(PowerOnFailures, EachFailingCallIsReportedAndEndsThePowerOn) {
  const char* const expected[] = {
      "pthread_cond_init(key) failed with error 11!\n",
      "pthread_mutex_init(key) failed with error 11!\n",
      "pthread_mutex_init(qim) failed with error 11!\n",
      "pthread_cond_init(lcd) failed with error 11!\n",
      "pthread_mutex_init(lcd) failed with error 11!\n",
      "pthread_create(counter) failed with error 11!\n",
  };
  for (int i = 0; i < 6; ++i) {
    emu_powerOnFailingCall = i;
    testing::internal::CaptureStderr();
    int result = emu_PowerOnCycle();
    std::string err = testing::internal::GetCapturedStderr();
    emu_powerOnFailingCall = -1;
    EXPECT_EQ(result, -1) << i;
    EXPECT_EQ(err, expected[i]);
  }
}

}  // namespace
