// The X side of the window tests: finding padix's window on an X display, reading its pixels
// and its LCD, and giving input as a user does (XTEST keys and buttons, the window manager's
// close). Include it after the test framework's headers: Xlib's macros (None, Bool, Status)
// would clash with names there.
#pragma once

#include <sys/types.h>

#include <string>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

constexpr const char* PADIX_WINDOW_TITLE = "Skanvo Emulator / Tarnic Emulator";
constexpr double PICTURE_SCALE = 800.0 / 1400;  // the default window over the drawn picture

// Window coordinates of a point given in picture units.
inline int OnScreen(double pictureUnits) { return static_cast<int>(pictureUnits * PICTURE_SCALE); }

struct Rgb {
  int r, g, b;
};

class XSession {
 public:
  // The display named, or $DISPLAY for "".
  explicit XSession(const std::string& display = "");
  ~XSession();
  XSession(const XSession&) = delete;
  XSession& operator=(const XSession&) = delete;
  bool Open() const { return dpy_ != nullptr; }

  Window FindWindow(int timeoutMs = 15000);
  // A viewable window with this title (a dialog of padix's, say); 0 when none shows in time.
  Window FindWindowNamed(const std::string& title, int timeoutMs = 15000);
  // The pop-up shown now (a menu: a viewable override-redirect window at the top), or 0.
  Window Popup();
  bool WindowGone(Window w);
  void Size(Window w, int* width, int* height);
  Rgb Pixel(Window w, int x, int y);
  // The region's dark pixels as '#', the others as '.'.
  std::string DarkMap(Window w, int x0, int y0, int x1, int y1);
  // The LCD as the window shows it over the device picture: 64 rows of 132 '#' (dark) or '.',
  // each ended by '\n', every LCD pixel read at its centre; "" when the window cannot be read.
  std::string Lcd(Window w);
  bool SavePng(Window w, const std::string& path);
  // The window's pixels as they are now, for comparing; "" when it cannot be read.
  std::string Picture(Window w);
  // Until the window's pixels stayed the same for `stillMs` (a dialog drawn, a field shown).
  bool WaitUntilStill(Window w, int stillMs = 200, int timeoutMs = 5000);

  // Mouse button `number` (1 left, 3 right) pressed or released at window point (x, y).
  void Button(Window w, double x, double y, bool press, unsigned number = 1);
  void Click(Window w, double x, double y, unsigned number = 1);
  void Type(Window w, KeySym sym);
  // Printable ASCII text, key by key, with Shift where the keyboard needs it.
  void TypeText(Window w, const std::string& text);
  // Types until the LCD changes: a key typed before the firmware saw the last one released is
  // lost, as on the device.
  bool TypeAndWaitForChange(Window w, KeySym sym);
  // A key with Control held (Control+C, Control+A).
  void TypeWithControl(Window w, KeySym sym);
  // The text on the clipboard (CLIPBOARD as UTF-8), as a program pasting it gets it; "" when
  // nobody holds it or it does not come in time.
  std::string Clipboard(int timeoutMs = 2000);
  // What a window manager sends when the title bar's close button is clicked.
  void Close(Window w);

 private:
  Window Search(Window parent, const char* title);
  void Key(KeyCode code, bool shifted);
  Display* dpy_;
};

// padix from `binDir`, run in `workDir` (the first place it looks for the device picture) with
// standard input from /dev/null, on `display` ("" keeps $DISPLAY).
pid_t StartPadix(const std::string& binDir, const std::string& workDir,
                 const std::string& display = "");
// The exit status, or -1 (and the process killed) when it does not end in time.
int WaitForPadixExit(pid_t pid, int timeoutMs = 10000);
