// The GTK window under a virtual X server (run by xvfb-run): the window API in-process with real
// mouse and keyboard input through the XTEST extension, then padix itself opening, drawing and
// ending on "q" or on the window manager's close.
#include <cairo.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "tests/support/wait_for.h"
#include "window/lcd_renderer.h"
#include "window/window_api.h"

// Last: Xlib's macros (None, Bool, Status) would clash with the test framework's names.
#include "tests/x11/x_session.h"

namespace {

bool Near(Rgb a, Rgb b, int tolerance = 3) {
  return abs(a.r - b.r) <= tolerance && abs(a.g - b.g) <= tolerance &&
         abs(a.b - b.b) <= tolerance;
}

Rgb Backlight(int red, int green, int blue) {
  LcdColor c = emu_BacklightColor(red, green, blue);
  return {static_cast<int>(c.red * 255 + 0.5), static_cast<int>(c.green * 255 + 0.5),
          static_cast<int>(c.blue * 255 + 0.5)};
}

std::string BinDir() {
  const char* dir = getenv("PADIX_BIN_DIR");
  return dir != nullptr ? dir : ".";
}

class GtkWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!x.Open()) GTEST_SKIP() << "no X display (run under xvfb-run)";
  }
  XSession x;
};

TEST_F(GtkWindow, DrawsTheLcdOverThePictureAndTurnsClicksAndKeysIntoKeyValues) {
  ASSERT_EQ(chdir(BinDir().c_str()), 0);  // where the device picture is built
  ASSERT_EQ(emu_GtkInit({0, 0, 0}), 0);
  Window w = x.FindWindow();
  ASSERT_NE(w, 0u);
  int width, height;
  x.Size(w, &width, &height);
  EXPECT_EQ(width, 800);
  EXPECT_EQ(height, 412);

  uint8_t mem[1056] = {};
  mem[0] = 0x01;  // pixel (0,0)
  emu_GtkSetColors(165, 111, 28, mem);
  ASSERT_TRUE(WaitFor([&] { return emu_GtkDrawDisplay(mem) == 0; }));
  const int marginX = OnScreen(LCD_PICTURE_X + 20), marginY = OnScreen(LCD_PICTURE_Y + 176);
  const int firstX = OnScreen(LCD_PICTURE_X + 42.5), firstY = OnScreen(LCD_PICTURE_Y + 19);
  const int lastX = OnScreen(LCD_PICTURE_X + 697.5), lastY = OnScreen(LCD_PICTURE_Y + 334);
  EXPECT_TRUE(WaitFor([&] { return Near(x.Pixel(w, marginX, marginY), Backlight(165, 111, 28)); }));
  EXPECT_TRUE(WaitFor([&] { return x.Pixel(w, firstX, firstY).r < 90; }));

  // Turned by 180 degrees, pixel (0,0) shows at the bottom right.
  emu_GtkSetOrientation(1);
  ASSERT_TRUE(WaitFor([&] { return emu_GtkDrawDisplay(mem) == 0; }));
  EXPECT_TRUE(WaitFor([&] { return x.Pixel(w, lastX, lastY).r < 90; }));
  EXPECT_TRUE(Near(x.Pixel(w, firstX, firstY), Backlight(165, 111, 28)));

  emu_GtkSetColors(255, 150, 100, mem);
  EXPECT_TRUE(WaitFor([&] { return Near(x.Pixel(w, marginX, marginY), {255, 255, 255}); }));

  // A device key held with the mouse stays pressed until the button is released.
  for (const PictureKeyArea& k : PICTURE_KEYS) {
    x.Button(w, OnScreen((k.left + k.right) / 2.0), OnScreen((k.top + k.bottom) / 2.0), true);
    EXPECT_TRUE(WaitFor([&] { return emu_GtkGetKey() == k.keyValue; })) << k.label;
    EXPECT_EQ(emu_GtkGetKey(), k.keyValue) << k.label;
    x.Button(w, OnScreen((k.left + k.right) / 2.0), OnScreen((k.top + k.bottom) / 2.0), false);
    EXPECT_TRUE(WaitFor([&] { return emu_GtkGetKey() == 0; })) << k.label;
  }

  // A typed key is taken once.
  x.Type(w, XK_Return);
  EXPECT_TRUE(WaitFor([&] { return emu_GtkGetKey() == EMU_KEY_RETURN; }));
  EXPECT_EQ(emu_GtkGetKey(), 0);

  // "q" destroys the window and ends the window thread; no redraw is taken any more.
  x.Type(w, XK_q);
  EXPECT_TRUE(WaitFor([&] { return emu_GtkGetKey() == EMU_KEY_QUIT; }));
  EXPECT_TRUE(x.WindowGone(w));  // the X window goes after the destroy handler ran
  EXPECT_EQ(emu_GtkDrawDisplay(mem), -1);
  EXPECT_EQ(emu_GtkDrawDisplay(mem), -1);
  emu_GtkExit();
}

TEST_F(GtkWindow, PadixShowsTheDeviceAndTheNumberMemoryAndQuitsOnQ) {
  pid_t pid = StartPadix(BinDir(), BinDir());
  ASSERT_GT(pid, 0);
  Window w = x.FindWindow();
  ASSERT_NE(w, 0u);
  // The firmware's first frame lights the LCD in the stored backlight colour.
  EXPECT_TRUE(WaitFor([&] {
    return Near(x.Pixel(w, OnScreen(LCD_PICTURE_X + 20), OnScreen(LCD_PICTURE_Y + 176)),
                Backlight(165, 111, 28));
  }));
  // The main menu: its first item's inverse bar reaches across the LCD (column 120, row 12 is
  // dark there and light on the start screen before it).
  int barX = OnScreen(LCD_PICTURE_X + 40.1 + 5.0 * 120 + 2.4);
  int barY = OnScreen(LCD_PICTURE_Y + 16.6 + 5.0 * 12 + 2.4);
  EXPECT_TRUE(WaitFor([&] { return x.DarkMap(w, barX, barY, barX + 1, barY + 1) == "#"; }, 8000))
      << "the main menu did not appear";
  // Operator keys: "n" shows the number memory (00) at the LCD's upper right, then 4 and 2 make
  // it 04 and 42. The window keeps one typed key, so each is typed once the last one shows.
  int left = OnScreen(LCD_PICTURE_X + 668), right = OnScreen(LCD_PICTURE_X + 702);
  int top = OnScreen(LCD_PICTURE_Y + 44), bottom = OnScreen(LCD_PICTURE_Y + 66);
  std::string shown = x.DarkMap(w, left, top, right, bottom);
  for (KeySym k : {XK_n, XK_4, XK_2}) {
    x.Type(w, k);
    EXPECT_TRUE(WaitFor([&] {
      std::string now = x.DarkMap(w, left, top, right, bottom);
      return now != shown && (shown = now, true);
    })) << XKeysymToString(k);
  }
  EXPECT_GT(std::count(shown.begin(), shown.end(), '#'), 20);
  EXPECT_TRUE(x.SavePng(w, BinDir() + "/gtk_window_padix.png"));
  x.Type(w, XK_q);
  EXPECT_EQ(WaitForPadixExit(pid), 0);
}

TEST_F(GtkWindow, PadixWithoutThePictureShowsTheLcdAloneAndEndsWhenClosed) {
  char dir[] = "/tmp/padix-gtk-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  pid_t pid = StartPadix(BinDir(), dir);
  ASSERT_GT(pid, 0);
  Window w = x.FindWindow();
  ASSERT_NE(w, 0u);
  int width, height;
  x.Size(w, &width, &height);
  EXPECT_EQ(width, 800);  // asked for 800 x 412, kept to the LCD's aspect
  EXPECT_NEAR(static_cast<double>(width) / height, 740.0 / 353, 0.01);
  // The LCD fills the window: its left margin, 20 of 740 units in, is backlight.
  EXPECT_TRUE(WaitFor([&] {
    return Near(x.Pixel(w, 20 * width / 740, height / 2), Backlight(165, 111, 28));
  }));
  EXPECT_TRUE(x.SavePng(w, BinDir() + "/gtk_window_padix_lcd_only.png"));
  x.Close(w);
  EXPECT_EQ(WaitForPadixExit(pid), 0);
  rmdir(dir);
}

}  // namespace
