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
#include "tests/x11/x_session.h"

namespace {

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

// The window going away underneath a request is what these runs do; Xlib's default handler
// would end the test.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

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
    pid_t pid = StartPadix(BinDir(), BinDir(), display.Name());
    ASSERT_GT(pid, 0);
    Window w = x.FindWindow();
    bool ready = w != 0 && WaitFor([&] { return MainMenuShown(x.Lcd(w)); }, 15000) &&
                 x.TypeAndWaitForChange(w, XK_Return) &&  // "Start Diagnostics"
                 x.TypeAndWaitForChange(w, XK_Return);    // "Automatic Protocol Scan"
    if (!ready) {
      WaitForPadixExit(pid, 0);
      FAIL() << "the scan was not reached";
    }
    // The moment: the scan goes on while the test waits for it.
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    if (byQ) {
      x.Type(w, XK_q);
    } else {
      x.Close(w);
    }
    EXPECT_EQ(WaitForPadixExit(pid, 10000), 0);
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  printf("%d windows closed during a connect: %.0f s\n", runs, s);
}

}  // namespace
