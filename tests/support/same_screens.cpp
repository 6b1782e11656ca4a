#include "tests/support/same_screens.h"

#include <string.h>

#include <chrono>

#include "firmware/ui/lcd.h"
#include "tests/support/screen_text.h"
#include "tests/support/wait_for.h"

namespace {

using Clock = std::chrono::steady_clock;
using Screen = uint8_t[LCD_FRAME_SIZE];

constexpr int READING_MARK_WIDTH = 4;

void HideReadingMark(uint8_t* shown) {
  for (int page = 1; page < LCD_HEIGHT / 8; ++page)
    for (int x = 0; x < READING_MARK_WIDTH; ++x) shown[page * LCD_WIDTH + x] = 0;
}

}  // namespace

testing::AssertionResult ShowTheSame(HeadlessChild& tester, HeadlessChild& reference,
                                     bool liveData) {
  Screen a, b, last{};
  auto since = Clock::now();
  const bool same = WaitFor(
      [&] {
        if (!tester.Display(a) || !reference.Display(b)) return false;
        if (liveData) HideReadingMark(a), HideReadingMark(b);
        if (memcmp(a, b, sizeof a) != 0) {
          since = Clock::now();
          return false;
        }
        if (memcmp(a, last, sizeof a) != 0) {
          memcpy(last, a, sizeof a);
          since = Clock::now();
        }
        return Clock::now() - since > std::chrono::milliseconds(300);
      },
      20000);
  if (same) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "OBD2 software mode shows\n"
                                     << ScreenRect(a, 0, 0, LCD_WIDTH, LCD_HEIGHT)
                                     << "emulator mode shows\n"
                                     << ScreenRect(b, 0, 0, LCD_WIDTH, LCD_HEIGHT);
}
