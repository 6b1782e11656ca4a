// Child process runner for whole-program tests.
#include "tests/support/process.h"

#include "firmware/ui/fonts.h"
#include "firmware/ui/lcd.h"
#include "tests/support/screen_text.h"
#include "tests/support/wait_for.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>

std::string BinDir() {
  if (const char* dir = getenv("PADIX_BIN_DIR")) return dir;
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string exe(path, static_cast<size_t>(n));
  return exe.substr(0, exe.rfind('/'));
}

namespace {

struct Child {
  pid_t pid;
  int in, out, err;  // the parent's ends: its standard input, output and error
};

// `exe` "" is the build's padix-headless; `workDir` "" keeps the test's working directory.
Child SpawnHeadless(const std::vector<std::string>& args, std::string exe = "",
                    const std::string& workDir = "") {
  int in[2], out[2], err[2];
  // Close-on-exec: a child started meanwhile by another thread must not keep this child's pipes
  // open (its standard input would never see the end). dup2 clears the flag on 0, 1 and 2.
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
    return {-1, -1, -1, -1};
  if (exe.empty()) exe = BinDir() + "/padix-headless";
  pid_t pid = fork();
  if (pid == 0) {
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
    dup2(in[0], 0), dup2(out[1], 1), dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]), close(out[1]), close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  return {pid, in[1], out[0], err[0]};
}

}  // namespace

std::string SystemPython() { return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }

std::vector<std::string> CommandLines(const std::string& command, int* status) {
  FILE* out = popen(command.c_str(), "r");
  std::vector<std::string> lines;
  char buf[4096];
  while (out != nullptr && fgets(buf, sizeof buf, out) != nullptr) {
    std::string line(buf);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  *status = out != nullptr ? pclose(out) : -1;
  return lines;
}

ProcessResult RunHeadless(const std::vector<std::string>& args, const std::string& input,
                          int timeoutMs) {
  const Child child = SpawnHeadless(args);
  if (child.pid < 0) return {-1, "", "pipe failed"};
  const pid_t pid = child.pid;
  if (!input.empty()) (void)!write(child.in, input.data(), input.size());
  close(child.in);

  ProcessResult result{-1, "", ""};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  pollfd fds[2] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) break;
    if (poll(fds, 2, static_cast<int>(left)) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
      }
    }
  }
  int status = 0;
  bool ended = false;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      ended = true;
      break;
    }
    usleep(1000);
  }
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  } else if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
  for (pollfd& f : fds)
    if (f.fd >= 0) close(f.fd);
  return result;
}

// ---------------------------------------------------------------------------------------------

HeadlessChild::HeadlessChild(const std::vector<std::string>& args) : HeadlessChild(args, "", "") {}

HeadlessChild::HeadlessChild(const std::vector<std::string>& args, const std::string& exe,
                             const std::string& workDir) {
  const Child child = SpawnHeadless(args, exe, workDir);
  pid_ = child.pid, in_ = child.in, out_ = child.out, errFd_ = child.err;
}

HeadlessChild::~HeadlessChild() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {in_, out_, errFd_})
    if (fd >= 0) close(fd);
}

void HeadlessChild::Send(const std::string& command) {
  const std::string line = command + "\n";
  if (in_ >= 0) (void)!write(in_, line.data(), line.size());
}

bool HeadlessChild::ReadSome(int timeoutMs) {
  pollfd fds[2] = {{out_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  if (poll(fds, 2, timeoutMs) <= 0) return false;
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || fds[i].revents == 0) continue;
    char buf[8192];
    ssize_t n = read(fds[i].fd, buf, sizeof buf);
    if (n <= 0) {
      close(fds[i].fd);
      (i == 0 ? out_ : errFd_) = -1;
    } else {
      (i == 0 ? outBuf_ : err_).append(buf, static_cast<size_t>(n));
    }
  }
  return true;
}

namespace {
int MsLeft(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}
}  // namespace

std::string HeadlessChild::WaitForErrLine(const std::string& prefix, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    size_t end;
    while ((end = err_.find('\n', errScanned_)) != std::string::npos) {
      const std::string line = err_.substr(errScanned_, end - errScanned_);
      errScanned_ = end + 1;
      if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
    }
    if (MsLeft(deadline) == 0 || (out_ < 0 && errFd_ < 0)) return "";
    ReadSome(MsLeft(deadline));
  }
}

bool HeadlessChild::NextOutLine(std::string* line, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const size_t end = outBuf_.find('\n');
    if (end != std::string::npos) {
      *line = outBuf_.substr(0, end);
      outBuf_.erase(0, end + 1);
      return true;
    }
    if (MsLeft(deadline) == 0 || out_ < 0) return false;
    ReadSome(MsLeft(deadline));
  }
}

std::string HeadlessChild::WaitForOutLine(const std::string& prefix, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string line;
  while (NextOutLine(&line, MsLeft(deadline)))
    if (line.compare(0, prefix.size(), prefix) == 0) return line;
  return "";
}

std::string HeadlessChild::Text(int timeoutMs) {
  Send("text");
  // The rows come among the answers of the commands sent before ("ok key Return"), which are
  // passed over, as is the answer of "text" itself after them.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string text, line;
  int rows = 0;
  while (rows < 64) {
    if (!NextOutLine(&line, MsLeft(deadline))) return "";
    const bool row = line.size() == 132 && line.find_first_not_of("#.") == std::string::npos;
    if (!row) {
      text.clear(), rows = 0;
      continue;
    }
    text += line + "\n";
    ++rows;
  }
  (void)WaitForOutLine("ok text", MsLeft(deadline));
  return text;
}

bool HeadlessChild::Display(uint8_t* displayMem, int timeoutMs) {
  const std::string text = Text(timeoutMs);
  if (text.empty()) return false;
  for (int i = 0; i < 8 * 132; ++i) displayMem[i] = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 132; ++x)
      if (text[static_cast<size_t>(y * 133 + x)] == '#')
        displayMem[(y / 8) * 132 + x] |= static_cast<uint8_t>(1u << (y % 8));
  return true;
}

bool HeadlessChild::WaitForTitle(const char* title, int timeoutMs) {
  uint8_t shown[LCD_FRAME_SIZE];
  return WaitFor([&] { return Display(shown) && ShowsText(shown, 1, 0, HeaderFont.bytes, title); },
                 timeoutMs);
}

bool HeadlessChild::TypeAndWaitForChange(const char* key) {
  uint8_t before[LCD_FRAME_SIZE], now[LCD_FRAME_SIZE];
  if (!Display(before)) return false;
  for (int attempt = 0; attempt < 3; ++attempt) {
    Send(std::string("key ") + key);
    if (WaitFor([&] { return Display(now) && memcmp(before, now, sizeof now) != 0; }, 1500))
      return true;
  }
  return false;
}

long HeadlessChild::CpuTicks() const {
  std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // Fields after the command name (which may hold spaces): state is the 3rd, utime the 14th.
  const size_t name = text.rfind(')');
  if (name == std::string::npos) return 0;
  std::istringstream fields(text.substr(name + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return utime + stime;
}

int HeadlessChild::Quit(int timeoutMs) {
  Send("quit");
  CloseInput();
  return WaitForExit(timeoutMs);
}

void HeadlessChild::CloseInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

int HeadlessChild::WaitForExit(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  while (pid_ > 0) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (MsLeft(deadline) == 0) break;
    if (!ReadSome(std::min(MsLeft(deadline), 10))) continue;  // keeps its pipes from filling
  }
  return -1;  // the destructor kills it
}
