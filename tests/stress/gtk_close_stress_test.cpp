// The GTK window closed at moments of a connect: padix on a virtual X server of its own, through
// the main menu and "Start Diagnostics" to the automatic protocol scan and the reading of the
// vehicle's data, then the window is closed (as by the window manager's close button) or "q" is typed. Every run must end by
// itself with status 0.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/process.h"
#include "tests/support/wait_for.h"
#include "window/window_geometry.h"

// Last: Xlib's macros (None, Bool, Status) would clash with the test framework's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

constexpr const char* TITLE = "Skanvo Emulator / Tarnic Emulator";
constexpr double PICTURE_SCALE = 800.0 / 1400;  // the default window over the drawn picture

// An X server of the test's own, so that no window opens on a developer's desktop and the
// test needs no wrapper around it. Its display number comes back through -displayfd.
class VirtualDisplay {
 public:
  VirtualDisplay() {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      fcntl(p[1], F_SETFD, 0);  // the server writes its display number here
      int devNull = open("/dev/null", O_RDWR);
      dup2(devNull, 0), dup2(devNull, 1), dup2(devNull, 2);
      const std::string fd = std::to_string(p[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
             "-nolisten", "tcp", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(p[1]);
    std::string number;
    pollfd in = {p[0], POLLIN, 0};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline &&
           poll(&in, 1, 100) >= 0) {
      char buf[16];
      if ((in.revents & (POLLIN | POLLHUP)) == 0) continue;
      ssize_t n = read(p[0], buf, sizeof buf);
      if (n <= 0) break;
      number.append(buf, static_cast<size_t>(n));
    }
    close(p[0]);
    if (number.find('\n') != std::string::npos) name_ = ":" + number.substr(0, number.find('\n'));
  }
  ~VirtualDisplay() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      if (!WaitFor([&] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, 5000)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
      }
    }
  }
  const std::string& Name() const { return name_; }  // "" when it did not start

 private:
  pid_t pid_ = -1;
  std::string name_;
};

int OnScreen(double pictureUnits) { return static_cast<int>(pictureUnits * PICTURE_SCALE); }

class XSession {
 public:
  explicit XSession(const std::string& display) : dpy_(XOpenDisplay(display.c_str())) {}
  ~XSession() {
    if (dpy_ != nullptr) XCloseDisplay(dpy_);
  }
  bool Open() const { return dpy_ != nullptr; }

  Window FindWindow(int timeoutMs = 15000) {
    Window found = 0;
    WaitFor([&] { return (found = Search(DefaultRootWindow(dpy_))) != 0; }, timeoutMs);
    return found;
  }
  // The LCD as the window shows it over the device picture: 64 rows of 132 '#' (dark) or '.',
  // each LCD pixel read at its centre; "" when the window cannot be read (it is gone).
  std::string Lcd(Window w) {
    const int x0 = OnScreen(LCD_PICTURE_X + 40.1), y0 = OnScreen(LCD_PICTURE_Y + 16.6);
    const int x1 = OnScreen(LCD_PICTURE_X + 40.1 + 5.0 * 132), y1 = OnScreen(LCD_PICTURE_Y + 16.6 + 5.0 * 64);
    XImage* img = XGetImage(dpy_, w, x0, y0, static_cast<unsigned>(x1 - x0),
                            static_cast<unsigned>(y1 - y0), AllPlanes, ZPixmap);
    if (img == nullptr) return "";
    std::string map;
    for (int row = 0; row < 64; ++row) {
      for (int col = 0; col < 132; ++col) {
        const int x = OnScreen(LCD_PICTURE_X + 40.1 + 5.0 * col + 2.4) - x0;
        const int y = OnScreen(LCD_PICTURE_Y + 16.6 + 5.0 * row + 2.4) - y0;
        unsigned long p = XGetPixel(img, x, y);
        unsigned long mask = img->red_mask;
        int shift = 0;
        while (mask != 0 && (mask & 1) == 0) mask >>= 1, ++shift;
        map += static_cast<int>((p >> shift) & mask) < 120 ? '#' : '.';
      }
      map += '\n';
    }
    XDestroyImage(img);
    return map;
  }
  void Type(Window w, KeySym sym) {
    XSetInputFocus(dpy_, w, RevertToPointerRoot, CurrentTime);
    KeyCode code = XKeysymToKeycode(dpy_, sym);
    XTestFakeKeyEvent(dpy_, code, True, CurrentTime);
    XTestFakeKeyEvent(dpy_, code, False, CurrentTime);
    XSync(dpy_, False);
  }
  // Types until the LCD changes: a key typed before the firmware saw the last one released is
  // lost, as on the device.
  bool TypeAndWaitForChange(Window w, KeySym sym) {
    const std::string before = Lcd(w);
    for (int attempt = 0; attempt < 3; ++attempt) {
      Type(w, sym);
      if (WaitFor([&] { std::string now = Lcd(w); return !now.empty() && now != before; }, 1500))
        return true;
    }
    return false;
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

// The window going away underneath a request is what these runs do; Xlib's default handler
// would end the test.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

// padix in the build directory (where the device picture is), standard input from /dev/null,
// on the given display.
pid_t StartPadix(const std::string& display) {
  const std::string dir = BinDir(), exe = dir + "/padix";
  pid_t pid = fork();
  if (pid == 0) {
    int devNull = open("/dev/null", O_RDONLY);
    if (devNull < 0 || dup2(devNull, 0) < 0 || chdir(dir.c_str()) != 0) _exit(120);
    setenv("DISPLAY", display.c_str(), 1);
    execl(exe.c_str(), "padix", static_cast<char*>(nullptr));
    _exit(121);
  }
  return pid;
}

// The exit status, or -1 (and the process killed) when it does not end in time.
int WaitForExit(pid_t pid, int timeoutMs) {
  int status = 0;
  if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeoutMs)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool MainMenuShown(const std::string& lcd) {
  // The first item's inverse bar reaches across the LCD: column 120 of row 12 is dark there
  // and light on the start screen before it.
  return lcd.size() == 64 * 133 && lcd[12 * 133 + 120] == '#';
}

TEST(GtkCloseStress, ClosingTheWindowAtMomentsOfAConnectEndsPadixWithZero) {
  VirtualDisplay display;
  if (display.Name().empty()) GTEST_SKIP() << "Xvfb could not be started";
  XSetErrorHandler(IgnoreXError);
  XSession x(display.Name());
  ASSERT_TRUE(x.Open()) << display.Name();

  const auto t0 = std::chrono::steady_clock::now();
  int runs = 0;
  // The simulated vehicle answers the first protocol tried: the scan is over within a quarter
  // of a second and the reading of its data within two; the last moment is in the diagnostics
  // menu.
  for (int delayMs : {0, 100, 250, 500, 800, 1200, 1600, 2000, 3500}) {
    const bool byQ = runs++ % 2 == 1;
    SCOPED_TRACE(testing::Message() << delayMs << " ms into the scan, " << (byQ ? "q" : "closed"));
    pid_t pid = StartPadix(display.Name());
    ASSERT_GT(pid, 0);
    Window w = x.FindWindow();
    bool ready = w != 0 && WaitFor([&] { return MainMenuShown(x.Lcd(w)); }, 15000) &&
                 x.TypeAndWaitForChange(w, XK_Return) &&  // "Start Diagnostics"
                 x.TypeAndWaitForChange(w, XK_Return);    // "Automatic Protocol Scan"
    if (!ready) {
      WaitForExit(pid, 0);
      FAIL() << "the scan was not reached";
    }
    // The moment: the scan goes on while the test waits for it.
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    if (byQ) {
      x.Type(w, XK_q);
    } else {
      x.Close(w);
    }
    EXPECT_EQ(WaitForExit(pid, 10000), 0);
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  printf("%d windows closed during a connect: %.0f s\n", runs, s);
}

}  // namespace
