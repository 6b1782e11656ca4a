// The GTK window under a virtual X server (run by xvfb-run): the window API in-process with real
// mouse and keyboard input through the XTEST extension, then padix itself opening, drawing and
// ending on "q", on the window manager's close or on a signal, and its operator menu (right
// click) changing the simulated car as the handheld then reads it.
#include <cairo.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "firmware/ui/fonts.h"
#include "firmware/ui/gui.h"
#include "firmware/ui/lcd.h"
#include "firmware/ui/list.h"
#include "tests/support/screen_text.h"
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

// Reading the window's pixels costs the X server and this process time that padix needs.
constexpr int LCD_POLL_MS = 10;

// The LCD as the window shows it (XSession::Lcd) turned back into the firmware's frame memory:
// pages of 8 rows, the top row in bit 0.
struct LcdFrame {
  uint8_t mem[LCD_FRAME_SIZE] = {};
  std::string text;
};
LcdFrame ReadLcd(XSession& x, Window w) {
  LcdFrame f;
  f.text = x.Lcd(w);
  if (f.text.size() != static_cast<size_t>((LCD_WIDTH + 1) * LCD_HEIGHT)) return f;
  for (int y = 0; y < LCD_HEIGHT; ++y)
    for (int col = 0; col < LCD_WIDTH; ++col)
      if (f.text[static_cast<size_t>(y * (LCD_WIDTH + 1) + col)] == '#')
        f.mem[(y / 8) * LCD_WIDTH + col] |= static_cast<uint8_t>(1 << (y % 8));
  return f;
}

// The title band (the title and the line under it, rows 0 to 6) as the firmware draws `title`.
// Drawn into the firmware's frame memory of this process, where no firmware runs.
bool ShowsTitle(const LcdFrame& f, const char* title) {
  GUI_DrawTitle(title);
  for (int col = 0; col < LCD_WIDTH; ++col)
    if ((f.mem[col] ^ lcdFrameBuf[col]) & 0x7F) return false;
  return true;
}

// The main menu, drawn whole; not the start screen before it.
bool WaitForMainMenu(XSession& x, Window w) {
  return WaitFor([&] { return ShowsTitle(ReadLcd(x, w), "MAIN MENU"); }, 8000, LCD_POLL_MS) &&
         x.WaitUntilStill(w);
}

// The diagnostics menu's summary column: "E1&3" for the first of three ECUs (the ECU's address
// follows; the first ECU is the active one for the simulated car); "E1&" for any number (0).
constexpr uint8_t ECU_INFO_X = 103, ECU_INFO_Y = 27;
testing::AssertionResult ShowsEcuOfEcus(const LcdFrame& f, int ecus) {
  return ShowsText(f.mem, ECU_INFO_X, ECU_INFO_Y, HeaderFont.bytes,
                   ("E1&" + (ecus > 0 ? std::to_string(ecus) : "")).c_str());
}

// Row of a menu list under the cursor bar (its left column dark all 8 pixels high), or -1.
int CursorRow(const LcdFrame& f) {
  for (int row = 0; row < LIST_VISIBLE_ROWS; ++row)
    if (f.mem[(row + 1) * LCD_WIDTH] == 0xFF) return row;
  return -1;
}

// Row of a menu list that shows `item` (inverse: under the cursor bar), or -1.
int RowShowing(const LcdFrame& f, const char* item, bool inverse) {
  for (uint8_t row = 0; row < LIST_VISIBLE_ROWS; ++row)
    if (ShowsText(f.mem, 1, GUI_RowY(row), SystemFont.bytes, item, inverse)) return row;
  return -1;
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
  EXPECT_TRUE(WaitForMainMenu(x, w)) << "the main menu did not appear";
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
  // padix also looks beside itself and in its prefix's data folder: a copy of it in a folder of
  // its own, with no picture anywhere it looks.
  const std::string bin = std::string(dir) + "/bin";
  ASSERT_EQ(mkdir(bin.c_str(), 0700), 0);
  std::filesystem::copy_file(BinDir() + "/padix", bin + "/padix");
  pid_t pid = StartPadix(bin, dir);
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
  std::filesystem::remove_all(dir);
}

// The signals that end a run close the window as its close button does: padix ends with 0.
TEST_F(GtkWindow, PadixEndsWithZeroOnTheSignalsThatEndARun) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    pid_t pid = StartPadix(BinDir(), BinDir());
    ASSERT_GT(pid, 0);
    Window w = x.FindWindow();
    ASSERT_NE(w, 0u) << sig;
    ASSERT_EQ(kill(pid, sig), 0);
    EXPECT_EQ(WaitForPadixExit(pid), 0) << sig;
    EXPECT_TRUE(x.WindowGone(w)) << sig;
  }
}

// Also while the operator's menu waits on its file chooser: the chooser goes with the window.
TEST_F(GtkWindow, PadixEndsWithZeroOnASignalWhileTheFileChooserIsOpen) {
  pid_t pid = StartPadix(BinDir(), BinDir());
  ASSERT_GT(pid, 0);
  Window w = x.FindWindow();
  ASSERT_NE(w, 0u);
  ASSERT_TRUE(WaitForMainMenu(x, w)) << "the main menu did not appear";
  x.Click(w, OnScreen(1130), OnScreen(600), 3);
  ASSERT_TRUE(WaitFor([&] { return x.Popup() != 0; })) << "no menu on a right click";
  x.Type(w, XK_Down);
  x.Type(w, XK_Return);  // Load vehicle...
  const Window chooser = x.FindWindowNamed("Load vehicle", 5000);
  ASSERT_NE(chooser, 0u) << "no file chooser from \"Load vehicle...\"";
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  EXPECT_EQ(WaitForPadixExit(pid), 0);
  EXPECT_TRUE(x.WindowGone(chooser));
}

// Types a path into a GTK file chooser as a user does: the leading '/' opens its location field,
// which takes keys only once it shows; the rest follows then, and Return opens the file.
void TypePathIntoFileChooser(XSession& x, Window chooser, const std::string& path) {
  ASSERT_EQ(path[0], '/');
  ASSERT_TRUE(x.WaitUntilStill(chooser)) << "the file chooser keeps changing";
  const std::string before = x.Picture(chooser);
  x.TypeText(chooser, "/");
  ASSERT_TRUE(WaitFor([&] { return x.Picture(chooser) != before; }, 5000, LCD_POLL_MS))
      << "no location field on '/' in the file chooser";
  ASSERT_TRUE(x.WaitUntilStill(chooser)) << "the file chooser keeps changing";
  x.TypeText(chooser, path.substr(1));
  x.Type(chooser, XK_Return);
}

// A right click opens the operator menu over the window, and what is chosen there is what the
// handheld then reads from the car ("Reload OBD Data" in its diagnostics menu): nothing when the
// menu is left with Escape; three ECUs after ECUs -> 3, chosen with the keys; one ECU after a
// vehicle file with one, loaded through "Load vehicle..." and its file chooser.
TEST_F(GtkWindow, OperatorMenuChangesTheCarThatTheHandheldReads) {
  struct VehicleFile {  // removed again on a failed assertion too
    char dir[32] = "/tmp/padix-gtk-XXXXXX";
    std::string path;
    ~VehicleFile() {
      if (path.empty()) return;
      unlink(path.c_str());
      rmdir(dir);
    }
  } vehicle;
  ASSERT_NE(mkdtemp(vehicle.dir), nullptr);
  vehicle.path = std::string(vehicle.dir) + "/one-ecu.toml";
  ASSERT_TRUE(std::ofstream(vehicle.path) << "ecus = 1\n");

  pid_t pid = StartPadix(BinDir(), BinDir());
  ASSERT_GT(pid, 0);
  struct EndsPadix {  // killed on a failed assertion
    pid_t& pid;
    ~EndsPadix() {
      if (pid > 0) WaitForPadixExit(pid, 0);
    }
  } endsPadix{pid};
  Window w = x.FindWindow();
  ASSERT_NE(w, 0u);
  ASSERT_TRUE(WaitForMainMenu(x, w)) << "the main menu did not appear";

  // A handheld key, typed once the screen is drawn whole (a key that comes while the firmware
  // still works on the last one is lost, as on the device; it is typed again then).
  LcdFrame lcd;
  auto press = [&](KeySym k, auto&& shows) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      if (!x.WaitUntilStill(w)) return false;
      x.Type(w, k);
      if (WaitFor([&] { return shows(lcd = ReadLcd(x, w)); }, 2000, LCD_POLL_MS)) return true;
    }
    return false;
  };
  // The diagnostics menu once the car has been read, drawn whole.
  auto diagnosticsMenu = [&](LcdFrame* shown) {
    return WaitFor([&] { return ShowsEcuOfEcus(*shown = ReadLcd(x, w), 0); }, 30000,
                   LCD_POLL_MS) &&
           x.WaitUntilStill(w) && (*shown = ReadLcd(x, w), true);
  };
  // "Reload OBD Data", the diagnostics menu's last item, reads the car again.
  auto reload = [&](LcdFrame* shown) {
    lcd = ReadLcd(x, w);
    for (int downs = 0; RowShowing(lcd, "Reload OBD Data", true) < 0; ++downs) {
      const int row = CursorRow(lcd);
      if (downs == LIST_VISIBLE_ROWS || row < 0 ||
          !press(XK_Down, [&](const LcdFrame& f) { return CursorRow(f) == row + 1; }))
        return false;
    }
    return press(XK_Return,
                 [](const LcdFrame& f) { return RowShowing(f, "Reload OBD Data", true) < 0; }) &&
           diagnosticsMenu(shown);
  };

  // The menu opens at the pointer, down and to the right: clicked below the device's OK key it
  // leaves the LCD free. A menu or dialog that has gone leaves its pixels over the window until
  // padix redraws there, so the LCD is read again only once it shows what it showed before the
  // menu opened.
  const double menuX = OnScreen(1130), menuY = OnScreen(600);
  std::string before;
  auto openMenu = [&] {
    if (!x.WaitUntilStill(w)) return false;
    before = x.Lcd(w);
    x.Click(w, menuX, menuY, 3);
    return WaitFor([&] { return x.Popup() != 0; });
  };
  auto menuGone = [&] {
    return WaitFor([&] { return x.Popup() == 0; }) &&
           WaitFor([&] { return x.Lcd(w) == before; }, 5000, LCD_POLL_MS);
  };

  // Start Diagnostics, the first protocol of the list (automatic), then the scan and the reading.
  ASSERT_TRUE(press(XK_Return, [](const LcdFrame& f) { return ShowsTitle(f, "SELECT PROTOCOL"); }))
      << lcd.text;
  ASSERT_TRUE(press(XK_Return, [](const LcdFrame& f) { return !ShowsTitle(f, "SELECT PROTOCOL"); }))
      << lcd.text;
  LcdFrame defaultCar;
  ASSERT_TRUE(diagnosticsMenu(&defaultCar)) << defaultCar.text;

  // Opened and left with Escape, the menu changes nothing.
  ASSERT_TRUE(openMenu()) << "no menu on a right click";
  x.Type(w, XK_Escape);
  ASSERT_TRUE(menuGone()) << "the menu stays after Escape\n" << x.Lcd(w);
  LcdFrame unchanged;
  ASSERT_TRUE(reload(&unchanged)) << lcd.text;
  EXPECT_EQ(unchanged.text, defaultCar.text) << "the car changed with the menu only opened";

  // Load vehicle..., Save vehicle..., (separator), ECUs: in its submenu 1, 2, 3.
  ASSERT_TRUE(openMenu()) << "no menu on the second right click";
  for (KeySym k : {XK_Down, XK_Down, XK_Down, XK_Right, XK_Down, XK_Down, XK_Return}) x.Type(w, k);
  ASSERT_TRUE(menuGone()) << "the menu stays after a choice\n" << x.Lcd(w);
  LcdFrame threeEcus;
  ASSERT_TRUE(reload(&threeEcus)) << lcd.text;
  EXPECT_TRUE(ShowsEcuOfEcus(threeEcus, 3)) << threeEcus.text;
  EXPECT_GE(RowShowing(threeEcus, "Change ECU", false), 0) << threeEcus.text;

  // Load vehicle..., then the file in its chooser.
  ASSERT_TRUE(openMenu()) << "no menu on the third right click";
  x.Type(w, XK_Down);
  x.Type(w, XK_Return);
  const Window chooser = x.FindWindowNamed("Load vehicle", 5000);
  ASSERT_NE(chooser, 0u) << "no file chooser from \"Load vehicle...\"";
  ASSERT_NO_FATAL_FAILURE(TypePathIntoFileChooser(x, chooser, vehicle.path));
  ASSERT_TRUE(WaitFor([&] { return x.FindWindowNamed("Load vehicle", 0) == 0; }))
      << "the file chooser stays open";
  ASSERT_TRUE(menuGone()) << "the diagnostics menu does not show again (an error message?)\n"
                          << x.Lcd(w);
  LcdFrame oneEcu;
  ASSERT_TRUE(reload(&oneEcu)) << lcd.text;
  EXPECT_TRUE(ShowsEcuOfEcus(oneEcu, 1)) << oneEcu.text;
  EXPECT_NE(oneEcu.text, threeEcus.text);
  EXPECT_EQ(RowShowing(oneEcu, "Change ECU", false), -1) << oneEcu.text;
  EXPECT_TRUE(x.SavePng(w, BinDir() + "/gtk_window_operator_menu.png"));

  x.Type(w, XK_q);
  EXPECT_EQ(WaitForPadixExit(pid), 0);
  pid = 0;
}

}  // namespace
