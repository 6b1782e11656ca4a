// Idle CPU of padix-headless: the device powered on and left alone, measured over a window of
// seconds from the process's own CPU time (/proc/<pid>/stat), as % of one core.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

static double CpuSeconds(pid_t pid) {
  std::string path = "/proc/" + std::to_string(pid) + "/stat";
  FILE* f = fopen(path.c_str(), "r");
  if (f == nullptr) return -1;
  char buf[2048];
  size_t n = fread(buf, 1, sizeof buf - 1, f);
  fclose(f);
  buf[n] = '\0';
  // Fields after the command name in parentheses; utime and stime are fields 14 and 15.
  const char* p = strrchr(buf, ')');
  unsigned long utime = 0, stime = 0;
  if (p == nullptr || sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime,
                             &stime) != 2)
    return -1;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

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
  double start = CpuSeconds(pid);
  auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  double end = CpuSeconds(pid);
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  (void)!write(in[1], "quit\n", 5);
  close(in[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (start < 0 || end < 0) {
    fprintf(stderr, "cannot read the CPU time of padix-headless\n");
    return 1;
  }
  double percent = 100.0 * (end - start) / wall;
  printf("idle CPU  %.2f %% of one core over %.1f s (target <= 2 %%)  %s\n", percent, wall,
         percent <= 2.0 ? "pass" : "FAIL");
  return 0;
}
