// CPU of padix with its window (run under an X server: bench/run starts a virtual one), the test
// bench panel hidden and shown, as % of one core (median of one-second windows): left alone at
// the main menu, and serving an OBD program that reads 010C 50 times a second on the run's own
// pseudo-terminal. Whether the panel is shown is what padix remembers from the last run: each run
// here has a settings folder of its own (XDG_CONFIG_HOME) saying so.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "bench/bench_report.h"

namespace {

constexpr int REQUESTS_PER_SECOND = 50;

struct Run {
  pid_t pid = -1;
  int out = -1;  // its standard output
  std::string config;
};

Run StartPadix(const std::string& exe, bool panelShown, bool serve) {
  Run run;
  char dir[] = "/tmp/padix-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return run;
  run.config = dir;
  mkdir((run.config + "/padix").c_str(), 0700);
  FILE* f = fopen((run.config + "/padix/panel").c_str(), "w");
  if (f != nullptr) fputs(panelShown ? "shown\n" : "hidden\n", f), fclose(f);
  int out[2];
  if (pipe(out) != 0) return run;
  run.pid = fork();
  if (run.pid == 0) {
    const int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    dup2(out[1], 1);
    close(out[0]), close(out[1]);
    setenv("XDG_CONFIG_HOME", run.config.c_str(), 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    if (serve)
      execl(exe.c_str(), exe.c_str(), "/dev/ptmx", "sim", "elm", "serve", static_cast<char*>(nullptr));
    else
      execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  run.out = out[0];
  return run;
}

void EndPadix(Run& run) {
  if (run.pid > 0) {
    kill(run.pid, SIGTERM);
    waitpid(run.pid, nullptr, 0);
  }
  if (run.out >= 0) close(run.out);
  if (!run.config.empty()) (void)!system(("rm -rf " + run.config).c_str());
}

// The terminal the run names on its standard output ("/dev/pts/N"), or "".
std::string Terminal(const Run& run) {
  std::string text;
  auto named = [&] {
    const size_t at = text.find("/dev/pts/");
    return at != std::string::npos && text.find('\n', at) != std::string::npos;
  };
  for (int i = 0; i < 100 && !named(); ++i) {
    pollfd p{run.out, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[256];
    const ssize_t n = read(run.out, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  if (!named()) return "";
  const size_t at = text.find("/dev/pts/");
  return text.substr(at, text.find_first_of(" \n", at) - at);
}

// An OBD program asking for the engine speed REQUESTS_PER_SECOND times a second, each request
// once the last answer is in.
struct Client {
  std::atomic<bool> stop{false};
  std::atomic<long> answers{0};
  std::thread thread;
  bool Start(const std::string& terminal) {
    const int fd = open(terminal.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    thread = std::thread([this, fd] {
      auto next = std::chrono::steady_clock::now();
      while (!stop) {
        next += std::chrono::microseconds(1000000 / REQUESTS_PER_SECOND);
        if (write(fd, "010C\r", 5) == 5) {
          for (int waited = 0; waited < 1000;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) {
              waited += 50;
              continue;
            }
            char buf[256];
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0 && memchr(buf, '>', static_cast<size_t>(n)) != nullptr) {
              ++answers;
              break;
            }
          }
        }
        std::this_thread::sleep_until(next);
      }
      close(fd);
    });
    return true;
  }
  void Stop() {
    stop = true;
    if (thread.joinable()) thread.join();
  }
};

void Measure(const std::string& exe, bool shown, bool serving, int seconds) {
  const std::string panel = shown ? "panel shown" : "panel hidden";
  const std::string figure = serving ? "window CPU, client reading 010C 50/s, " + panel + ", % of one core"
                                     : "window idle CPU at the main menu, " + panel + ", % of one core";
  Run run = StartPadix(exe, shown, serving);
  if (run.pid < 0) {
    BenchFailedRow(figure.c_str(), "padix not started");
    return;
  }
  Client client;
  if (serving) {
    const std::string terminal = Terminal(run);
    if (terminal.empty() || !client.Start(terminal)) {
      EndPadix(run);
      BenchFailedRow(figure.c_str(), "no terminal to serve on");
      return;
    }
  }
  // Power-on, the window drawn, the client going, and with the panel its first seconds: its fonts
  // shaped for the first time and the traffic view filling up to the entries it holds (4 s of a
  // client at 50 requests a second), which cost more than the steady state measured here.
  std::this_thread::sleep_for(std::chrono::seconds(8));
  const long answers0 = client.answers;
  const auto t0 = std::chrono::steady_clock::now();
  const double percent = MedianCpuPercent(run.pid, seconds);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const long answers = client.answers - answers0;
  client.Stop();
  EndPadix(run);
  if (percent < 0) {
    BenchFailedRow(figure.c_str(), "no CPU time of padix");
    return;
  }
  BenchRow(figure.c_str(), percent, 2, "%", Better::Lower, serving ? 3.0 : 1.0);
  if (serving) BenchNote("window, %s: %.1f answers/s read by the client", panel.c_str(), answers / wall);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string exe = argc > 1 ? argv[1] : "./padix";
  const int seconds = argc > 2 ? atoi(argv[2]) : 10;
  if (getenv("DISPLAY") == nullptr) {
    BenchFailedRow("window CPU", "no X display: run under xvfb-run");
    return 1;
  }
  for (bool serving : {false, true})
    for (bool shown : {false, true}) Measure(exe, shown, serving, seconds);
  return 0;
}
