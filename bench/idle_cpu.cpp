// Idle CPU of padix-headless: the device powered on and left alone at the main menu, from the
// process's own CPU time, as % of one core (median of one-second windows); and the resident set
// the process reached.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/bench_report.h"

#include <chrono>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  std::string exe = argc > 1 ? argv[1] : "./padix-headless";
  int seconds = argc > 2 ? atoi(argv[2]) : 10;
  int in[2];
  if (pipe(in) != 0) return 1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    close(in[0]), close(in[1]);
    execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  std::this_thread::sleep_for(std::chrono::seconds(3));  // power-on to the main menu
  const ThreadWindow threads = StartThreadWindow(pid);
  const double percent = MedianCpuPercent(pid, seconds);
  ThreadWakeUpNote("idle at the main menu", threads);
  const double peakMiB = PeakResidentMiB(pid);
  (void)!write(in[1], "quit\n", 5);
  close(in[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  const char* figure = "idle CPU, padix-headless at the main menu, % of one core";
  if (percent < 0) {
    BenchFailedRow(figure, "no CPU time of padix-headless");
    return 1;
  }
  BenchRow(figure, percent, 2, "%", Better::Lower, 1.0);
  BenchRow("resident memory, padix-headless at the main menu", peakMiB, 1, "MiB", Better::Lower, 16.0);
  const double tick = TickFloorPercent(2);
  BenchNote("idle: %.2f %% = %.1f x what a bare loop of 10 ms sleeps costs on this machine now "
            "(%.2f %%; the device's tick alone)", percent, percent / tick, tick);
  return 0;
}
