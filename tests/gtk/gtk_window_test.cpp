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
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

constexpr const char* TITLE = "Skanvo Emulator / Tarnic Emulator";
constexpr double PICTURE_SCALE = 800.0 / 1400;  // the default window over the drawn picture

struct Rgb {
  int r, g, b;
};

int MaskedChannel(unsigned long pixel, unsigned long mask) {
  int shift = 0;
  while (mask != 0 && (mask & 1) == 0) mask >>= 1, ++shift;
  return static_cast<int>((pixel >> shift) & mask);
}

// The X side of the tests: finding the window, reading its pixels, and input as a user gives it.
class XSession {
 public:
  XSession() : dpy_(XOpenDisplay(nullptr)) {}
  ~XSession() {
    if (dpy_ != nullptr) XCloseDisplay(dpy_);
  }
  bool Open() const { return dpy_ != nullptr; }

  Window FindWindow(int timeoutMs = 10000) {
    Window found = 0;
    WaitFor([&] { return (found = Search(DefaultRootWindow(dpy_))) != 0; }, timeoutMs);
    return found;
  }
  bool WindowGone(Window w) {
    return WaitFor([&] { return Search(DefaultRootWindow(dpy_)) != w; });
  }
  void Size(Window w, int* width, int* height) {
    XWindowAttributes a;
    XGetWindowAttributes(dpy_, w, &a);
    *width = a.width, *height = a.height;
  }
  Rgb Pixel(Window w, int x, int y) {
    XImage* img = XGetImage(dpy_, w, x, y, 1, 1, AllPlanes, ZPixmap);
    if (img == nullptr) return {-1, -1, -1};
    unsigned long p = XGetPixel(img, 0, 0);
    Rgb c{MaskedChannel(p, img->red_mask), MaskedChannel(p, img->green_mask),
          MaskedChannel(p, img->blue_mask)};
    XDestroyImage(img);
    return c;
  }
  // The region's dark pixels as '#', the others as '.'.
  std::string DarkMap(Window w, int x0, int y0, int x1, int y1) {
    std::string map;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) map += Pixel(w, x, y).r < 120 ? '#' : '.';
    return map;
  }
  bool SavePng(Window w, const std::string& path) {
    int width, height;
    Size(w, &width, &height);
    XImage* img = XGetImage(dpy_, w, 0, 0, width, height, AllPlanes, ZPixmap);
    if (img == nullptr) return false;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_surface_flush(s);
    for (int y = 0; y < height; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) +
                                              y * cairo_image_surface_get_stride(s));
      for (int x = 0; x < width; ++x) {
        unsigned long p = XGetPixel(img, x, y);
        row[x] = static_cast<uint32_t>(MaskedChannel(p, img->red_mask) << 16 |
                                       MaskedChannel(p, img->green_mask) << 8 |
                                       MaskedChannel(p, img->blue_mask));
      }
    }
    cairo_surface_mark_dirty(s);
    bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    XDestroyImage(img);
    return ok;
  }
  void Button(Window w, double x, double y, bool press) {
    int rx, ry;
    Window child;
    XTranslateCoordinates(dpy_, w, DefaultRootWindow(dpy_), static_cast<int>(x),
                          static_cast<int>(y), &rx, &ry, &child);
    XTestFakeMotionEvent(dpy_, -1, rx, ry, CurrentTime);
    XTestFakeButtonEvent(dpy_, 1, press, CurrentTime);
    XSync(dpy_, False);
  }
  void Type(Window w, KeySym sym) {
    XSetInputFocus(dpy_, w, RevertToPointerRoot, CurrentTime);
    KeyCode code = XKeysymToKeycode(dpy_, sym);
    XTestFakeKeyEvent(dpy_, code, True, CurrentTime);
    XTestFakeKeyEvent(dpy_, code, False, CurrentTime);
    XSync(dpy_, False);
  }
  // What a window manager sends when the title bar's close button is clicked.
  void Close(Window w) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(dpy_, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy_, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy_, w, False, NoEventMask, &ev);
    XSync(dpy_, False);
  }

 private:
  Window Search(Window parent) {
    Window root, up, *children = nullptr;
    unsigned n = 0;
    Window found = 0;
    if (!XQueryTree(dpy_, parent, &root, &up, &children, &n)) return 0;
    for (unsigned i = 0; i < n && found == 0; ++i) {
      char* name = nullptr;
      XWindowAttributes a;
      if (XGetWindowAttributes(dpy_, children[i], &a) && a.map_state == IsViewable &&
          XFetchName(dpy_, children[i], &name) && strcmp(name, TITLE) == 0)
        found = children[i];
      if (name != nullptr) XFree(name);
      if (found == 0) found = Search(children[i]);
    }
    if (children != nullptr) XFree(children);
    return found;
  }
  Display* dpy_;
};

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

// Window coordinates of a point given in picture units.
int OnScreen(double pictureUnits) { return static_cast<int>(pictureUnits * PICTURE_SCALE); }

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

// Runs padix in `dir` with standard input from /dev/null.
pid_t StartPadix(const std::string& dir) {
  std::string exe = BinDir() + "/padix";
  pid_t pid = fork();
  if (pid == 0) {
    int devNull = open("/dev/null", O_RDONLY);
    if (devNull < 0 || dup2(devNull, 0) < 0 || chdir(dir.c_str()) != 0) _exit(120);
    execl(exe.c_str(), "padix", static_cast<char*>(nullptr));
    _exit(121);
  }
  return pid;
}

// The exit status of padix, or -1 (and the process ended) when it does not end in time.
int WaitForExit(pid_t pid) {
  int status = 0;
  if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10000)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(GtkWindow, PadixShowsTheDeviceAndTheNumberMemoryAndQuitsOnQ) {
  pid_t pid = StartPadix(BinDir());
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
  EXPECT_EQ(WaitForExit(pid), 0);
}

TEST_F(GtkWindow, PadixWithoutThePictureShowsTheLcdAloneAndEndsWhenClosed) {
  char dir[] = "/tmp/padix-gtk-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  pid_t pid = StartPadix(dir);
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
  EXPECT_EQ(WaitForExit(pid), 0);
  rmdir(dir);
}

}  // namespace
