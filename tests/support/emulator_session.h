// A whole power-on in-process for scenario tests: the device runs on its own threads, the test
// types keys at the headless window and waits for what the LCD shows.
#pragma once

#include <stdint.h>

#include <array>
#include <functional>
#include <future>
#include <initializer_list>
#include <utility>
#include <string>

using TitleRows = std::array<uint8_t, 132>;

// The title bar (rows 0..4) as the firmware draws `title` in its header font. Render every
// title a test needs before PowerOn: while the firmware runs, its frame buffer and font state
// belong to its own thread.
TitleRows RenderTitle(const char* title);

// A rectangle of the screen as the firmware's own routines draw it, rendered before PowerOn
// like the titles, so that a running session can wait for it.
struct ScreenPart {
  int x = 0, y = 0, width = 0, height = 0;
  std::array<uint8_t, 132 * 8> mem{};
  bool ShownIn(const uint8_t* displayMem) const;
};
// What `draw` puts into the rectangle, drawn on a cleared frame buffer.
ScreenPart RenderPart(int x, int y, int width, int height, const std::function<void()>& draw);
// `text` at (x, y) in `font` (a font record such as SystemFont.bytes), the rectangle it covers.
ScreenPart RenderText(uint8_t x, uint8_t y, const uint8_t* font, const char* text);

class EmulatorSession {
 public:
  // Settings at their defaults but for the (address, value) pairs given, then power-on.
  explicit EmulatorSession(std::initializer_list<std::pair<uint8_t, uint8_t>> settings = {});
  ~EmulatorSession();  // quits if the test did not

  bool WaitForTitle(const TitleRows& title, int timeoutMs = 10000);
  // Until `shows` holds for the LCD's content; the last content looked at stays in `shown`.
  bool WaitForScreen(const std::function<bool(const uint8_t*)>& shows, int timeoutMs = 5000,
                     uint8_t* shown = nullptr);
  bool WaitForPart(const ScreenPart& part, int timeoutMs = 5000, uint8_t* shown = nullptr);
  // Types a key and waits until the LCD changed because of it.
  bool TypeAndWaitForChange(int keyValue, int timeoutMs = 5000);
  void Type(int keyValue);
  std::string Screen();  // the LCD as text, for failure messages
  void Display(uint8_t* displayMem);
  int Quit();  // the power-on's result, or -2 when it did not end
  // Holds Esc until the firmware forces its watchdog reset, then powers on again with the
  // settings kept; false when no restart came.
  bool HoldEscapeToRestart();

 private:
  std::future<int> run_;
  bool ended_ = false;
  uint32_t framesBefore_ = 0;  // the display still shows an earlier power-on until this grows
};
