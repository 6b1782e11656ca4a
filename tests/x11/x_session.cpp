#include "tests/x11/x_session.h"

#include <cairo.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include <X11/XKBlib.h>

#include "tests/support/wait_for.h"
#include "window/window_geometry.h"

namespace {

int MaskedChannel(unsigned long pixel, unsigned long mask) {
  int shift = 0;
  while (mask != 0 && (mask & 1) == 0) mask >>= 1, ++shift;
  return static_cast<int>((pixel >> shift) & mask);
}

// Where LCD pixel (column, row) is drawn over the picture, its centre, in picture units.
double LcdX(double column) { return LCD_PICTURE_X + 40.1 + 5.0 * column; }
double LcdY(double row) { return LCD_PICTURE_Y + 16.6 + 5.0 * row; }

// Windows come and go while the tree is walked (menus, dialogs, padix ending): a request on one
// that has just gone fails, and the call says so by its result, instead of ending the test.
int IgnoreGoneWindows(Display*, XErrorEvent* e) {
  if (e->error_code == BadWindow || e->error_code == BadDrawable || e->error_code == BadMatch)
    return 0;
  char text[128];
  XGetErrorText(e->display, e->error_code, text, sizeof text);
  fprintf(stderr, "X error: %s (request %d)\n", text, e->request_code);
  return 0;
}

}  // namespace

XSession::XSession(const std::string& display)
    : dpy_(XOpenDisplay(display.empty() ? nullptr : display.c_str())) {
  XSetErrorHandler(IgnoreGoneWindows);
}

XSession::~XSession() {
  if (dpy_ != nullptr) XCloseDisplay(dpy_);
}

Window XSession::FindWindow(int timeoutMs) {
  return FindWindowNamed(PADIX_WINDOW_TITLE, timeoutMs);
}

Window XSession::FindWindowNamed(const std::string& title, int timeoutMs) {
  Window found = 0;
  WaitFor([&] { return (found = Search(DefaultRootWindow(dpy_), title.c_str())) != 0; }, timeoutMs);
  return found;
}

bool XSession::WindowGone(Window w) {
  return WaitFor([&] { return Search(DefaultRootWindow(dpy_), PADIX_WINDOW_TITLE) != w; });
}

Window XSession::Popup() {
  Window root, up, *children = nullptr;
  unsigned n = 0;
  Window found = 0;
  if (!XQueryTree(dpy_, DefaultRootWindow(dpy_), &root, &up, &children, &n)) return 0;
  for (unsigned i = n; i > 0 && found == 0; --i) {  // top of the stacking order first
    XWindowAttributes a;
    if (XGetWindowAttributes(dpy_, children[i - 1], &a) && a.map_state == IsViewable &&
        a.override_redirect && a.width > 1 && a.height > 1)
      found = children[i - 1];
  }
  if (children != nullptr) XFree(children);
  return found;
}

void XSession::Size(Window w, int* width, int* height) {
  XWindowAttributes a;
  XGetWindowAttributes(dpy_, w, &a);
  *width = a.width, *height = a.height;
}

Rgb XSession::Pixel(Window w, int x, int y) {
  XImage* img = XGetImage(dpy_, w, x, y, 1, 1, AllPlanes, ZPixmap);
  if (img == nullptr) return {-1, -1, -1};
  unsigned long p = XGetPixel(img, 0, 0);
  Rgb c{MaskedChannel(p, img->red_mask), MaskedChannel(p, img->green_mask),
        MaskedChannel(p, img->blue_mask)};
  XDestroyImage(img);
  return c;
}

std::string XSession::DarkMap(Window w, int x0, int y0, int x1, int y1) {
  std::string map;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) map += Pixel(w, x, y).r < 120 ? '#' : '.';
  return map;
}

std::string XSession::Lcd(Window w) {
  const int x0 = OnScreen(LcdX(0)), y0 = OnScreen(LcdY(0));
  const int x1 = OnScreen(LcdX(132)), y1 = OnScreen(LcdY(64));
  XImage* img = XGetImage(dpy_, w, x0, y0, static_cast<unsigned>(x1 - x0),
                          static_cast<unsigned>(y1 - y0), AllPlanes, ZPixmap);
  if (img == nullptr) return "";
  std::string map;
  for (int row = 0; row < 64; ++row) {
    for (int col = 0; col < 132; ++col) {
      const unsigned long p = XGetPixel(img, OnScreen(LcdX(col) + 2.4) - x0, OnScreen(LcdY(row) + 2.4) - y0);
      map += MaskedChannel(p, img->red_mask) < 120 ? '#' : '.';
    }
    map += '\n';
  }
  XDestroyImage(img);
  return map;
}

bool XSession::SavePng(Window w, const std::string& path) {
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

std::string XSession::Picture(Window w) {
  int width, height;
  Size(w, &width, &height);
  XImage* img = XGetImage(dpy_, w, 0, 0, static_cast<unsigned>(width),
                          static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (img == nullptr) return "";
  std::string pixels(img->data, static_cast<size_t>(img->bytes_per_line) * img->height);
  XDestroyImage(img);
  return pixels;
}

bool XSession::WaitUntilStill(Window w, int stillMs, int timeoutMs) {
  std::string last = Picture(w);
  auto since = std::chrono::steady_clock::now();
  return WaitFor(
      [&] {
        std::string now = Picture(w);
        if (now != last) {
          last = std::move(now);
          since = std::chrono::steady_clock::now();
          return false;
        }
        return !now.empty() &&
               std::chrono::steady_clock::now() - since >= std::chrono::milliseconds(stillMs);
      },
      timeoutMs, 20);
}

void XSession::Button(Window w, double x, double y, bool press, unsigned number) {
  int rx, ry;
  Window child;
  XTranslateCoordinates(dpy_, w, DefaultRootWindow(dpy_), static_cast<int>(x), static_cast<int>(y),
                        &rx, &ry, &child);
  XTestFakeMotionEvent(dpy_, -1, rx, ry, CurrentTime);
  XTestFakeButtonEvent(dpy_, number, press, CurrentTime);
  XSync(dpy_, False);
}

void XSession::Click(Window w, double x, double y, unsigned number) {
  Button(w, x, y, true, number);
  Button(w, x, y, false, number);
}

void XSession::Type(Window w, KeySym sym) {
  XSetInputFocus(dpy_, w, RevertToPointerRoot, CurrentTime);
  Key(XKeysymToKeycode(dpy_, sym), false);
  XSync(dpy_, False);
}

void XSession::Key(KeyCode code, bool shifted) {
  const KeyCode shift = XKeysymToKeycode(dpy_, XK_Shift_L);
  if (shifted) XTestFakeKeyEvent(dpy_, shift, True, CurrentTime);
  XTestFakeKeyEvent(dpy_, code, True, CurrentTime);
  XTestFakeKeyEvent(dpy_, code, False, CurrentTime);
  if (shifted) XTestFakeKeyEvent(dpy_, shift, False, CurrentTime);
}

void XSession::TypeWithControl(Window w, KeySym sym) {
  XSetInputFocus(dpy_, w, RevertToPointerRoot, CurrentTime);
  const KeyCode control = XKeysymToKeycode(dpy_, XK_Control_L);
  XTestFakeKeyEvent(dpy_, control, True, CurrentTime);
  Key(XKeysymToKeycode(dpy_, sym), false);
  XTestFakeKeyEvent(dpy_, control, False, CurrentTime);
  XSync(dpy_, False);
}

std::string XSession::Clipboard(int timeoutMs) {
  const Atom clipboard = XInternAtom(dpy_, "CLIPBOARD", False), utf8 = XInternAtom(dpy_, "UTF8_STRING", False);
  const Atom property = XInternAtom(dpy_, "PADIX_TEST_PASTE", False);
  const Window me = XCreateSimpleWindow(dpy_, DefaultRootWindow(dpy_), 0, 0, 1, 1, 0, 0, 0);
  XConvertSelection(dpy_, clipboard, utf8, property, me, CurrentTime);
  XFlush(dpy_);
  std::string text;
  XEvent e;
  WaitFor([&] {
    if (!XCheckTypedWindowEvent(dpy_, me, SelectionNotify, &e)) return false;
    if (e.xselection.property == 0) return true;  // nobody holds it
    Atom type;
    int format;
    unsigned long items, after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(dpy_, me, property, 0, 1 << 20, True, AnyPropertyType, &type, &format, &items, &after,
                           &data) == Success &&
        data != nullptr) {
      text.assign(reinterpret_cast<char*>(data), items);
      XFree(data);
    }
    return true;
  }, timeoutMs);
  XDestroyWindow(dpy_, me);
  return text;
}

void XSession::TypeText(Window w, const std::string& text) {
  XSetInputFocus(dpy_, w, RevertToPointerRoot, CurrentTime);
  for (char c : text) {
    const KeySym sym = static_cast<unsigned char>(c);  // printable ASCII: the keysym is the code
    const KeyCode code = XKeysymToKeycode(dpy_, sym);
    Key(code, XkbKeycodeToKeysym(dpy_, code, 0, 0) != sym);
  }
  XSync(dpy_, False);
}

bool XSession::TypeAndWaitForChange(Window w, KeySym sym) {
  const std::string before = Lcd(w);
  for (int attempt = 0; attempt < 3; ++attempt) {
    Type(w, sym);
    if (WaitFor([&] { std::string now = Lcd(w); return !now.empty() && now != before; }, 1500))
      return true;
  }
  return false;
}

void XSession::Close(Window w) {
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

Window XSession::Search(Window parent, const char* title) {
  Window root, up, *children = nullptr;
  unsigned n = 0;
  Window found = 0;
  if (!XQueryTree(dpy_, parent, &root, &up, &children, &n)) return 0;
  for (unsigned i = 0; i < n && found == 0; ++i) {
    char* name = nullptr;
    XWindowAttributes a;
    if (XGetWindowAttributes(dpy_, children[i], &a) && a.map_state == IsViewable &&
        XFetchName(dpy_, children[i], &name) && strcmp(name, title) == 0)
      found = children[i];
    if (name != nullptr) XFree(name);
    if (found == 0) found = Search(children[i], title);
  }
  if (children != nullptr) XFree(children);
  return found;
}

pid_t StartPadix(const std::string& binDir, const std::string& workDir, const std::string& display) {
  const std::string exe = binDir + "/padix";
  pid_t pid = fork();
  if (pid == 0) {
    int devNull = open("/dev/null", O_RDONLY);
    if (devNull < 0 || dup2(devNull, 0) < 0 || chdir(workDir.c_str()) != 0) _exit(120);
    if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);  // its dialogs keep no settings of the desktop's
    execl(exe.c_str(), "padix", static_cast<char*>(nullptr));
    _exit(121);
  }
  return pid;
}

int WaitForPadixExit(pid_t pid, int timeoutMs) {
  int status = 0;
  if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeoutMs)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
