// Learning a car: padix-headless serving the largest example vehicle (examples/vehicles/
// largest.toml: eight ECUs, every item) as an ELM327 v1.5 on a pseudo-terminal, and a second
// padix-headless learning it into a vehicle file (learn=FILE), its whole run from start to exit
// timed. The median of several runs is the figure.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "bench/serial_client.h"

namespace {

constexpr double TARGET_MEDIAN_S = 5.0;

// One learning run; its wall time in seconds, or a negative number when it failed.
double emu_LearnOnce(const std::string& exe, const std::string& pts, const std::string& file) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0), dup2(devnull, 1);
    const std::string learn = "learn=" + file;
    execl(exe.c_str(), exe.c_str(), pts.c_str(), learn.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? s : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string exe = argc > 1 ? argv[1] : "./padix-headless";
  const int runs = argc > 2 ? atoi(argv[2]) : 5;
  signal(SIGPIPE, SIG_IGN);
  const char* row = "learning the largest example (8 ECUs, all items) through a pseudo-terminal, median";
  SimChild sim = SimStart(exe, "/dev/ptmx",
                          {"sim", "elm", "serve", "vehicle=" PADIX_SOURCE_DIR "/examples/vehicles/largest.toml"}, "");
  if (sim.fd < 0 || SimAsk(sim.fd, "ATI", 10000).empty()) {
    BenchFailedRow(row, "no adapter on the terminal");
    SimStop(sim);
    return 1;
  }
  close(sim.fd);  // the learning runs are its clients now
  sim.fd = -1;
  char dir[] = "/tmp/padix-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const std::string file = std::string(dir) + "/learned.toml";
  std::vector<double> s;
  for (int i = 0; i < runs; ++i) {
    const double took = emu_LearnOnce(exe, sim.pts, file);
    if (took < 0) {
      BenchFailedRow(row, "a learning run failed");
      SimStop(sim);
      return 1;
    }
    s.push_back(took);
  }
  SimStop(sim);
  std::stringstream text;
  text << std::ifstream(file).rdbuf();
  (void)!system(("rm -rf '" + std::string(dir) + "'").c_str());
  if (text.str().find("ecus = 8") == std::string::npos) {
    BenchFailedRow(row, "the learned file has not eight ECUs");
    return 1;
  }
  BenchRow(row, Percentile(s, 0.5), 3, "s", Better::Lower, TARGET_MEDIAN_S);
  BenchNote("learning the largest example: %d runs, slowest %.3f s", runs, Percentile(s, 1.0));
  return 0;
}
