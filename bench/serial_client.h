// An OBD client of a simulator-mode run: padix-headless started on "/dev/ptmx" (the terminal it
// prints opened raw) or on "tcp:0" (connected to where it listens), with the given options and a
// script on its standard input, and requests written and answered up to the prompt.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

struct SimChild {
  pid_t pid = -1;
  int in = -1;
  int fd = -1;  // the client's end of the terminal
  std::string pts;
  std::chrono::steady_clock::time_point started;
};

// Reads up to and including the prompt; "" after the time-out. With `until`, the prompt only
// counts once that text has come (what was written before the client opened the line is passed).
inline std::string SimReadAnswer(int fd, int timeoutMs, const char* until = nullptr) {
  std::string answer;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      answer.append(buf, static_cast<size_t>(n));
      const bool seen = until == nullptr || answer.find(until) != std::string::npos;
      if (seen && answer.back() == '>') return answer;
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p = {fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
  }
}

inline std::string SimAsk(int fd, const std::string& line, int timeoutMs = 1000) {
  const std::string request = line + "\r";
  if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) return "";
  return SimReadAnswer(fd, timeoutMs);
}

// Connects to "Listening on HOST:PORT" (IPv4); -1 when it cannot.
inline int SimConnect(const std::string& where) {
  const size_t colon = where.rfind(':');
  if (colon == std::string::npos) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(atoi(where.c_str() + colon + 1)));
  if (inet_pton(AF_INET, where.substr(0, colon).c_str(), &a.sin_addr) != 1) return -1;
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  fcntl(fd, F_SETFL, O_NONBLOCK);
  return fd;
}

// Starts padix-headless on `device` ("/dev/ptmx", or "tcp:0" for a port of the system's choice)
// with `options` after it, writes `script` to its standard input, and opens the terminal it
// names or connects to where it listens (fd -1 when it can't).
inline SimChild SimStart(const std::string& exe, const std::string& device,
                         const std::vector<std::string>& options, const std::string& script) {
  SimChild child;
  int in[2], err[2];
  if (pipe(in) != 0 || pipe(err) != 0) return child;
  child.started = std::chrono::steady_clock::now();
  child.pid = fork();
  if (child.pid == 0) {
    dup2(in[0], 0), dup2(err[1], 2);
    for (int fd : {in[0], in[1], err[0], err[1]}) close(fd);
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    std::vector<char*> argv{const_cast<char*>(exe.c_str()), const_cast<char*>(device.c_str())};
    for (const std::string& o : options) argv.push_back(const_cast<char*>(o.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]), close(err[1]);
  child.in = in[1];
  FILE* errors = fdopen(err[0], "r");
  char line[256];
  const bool tcp = device.compare(0, 4, "tcp:") == 0;
  const char* const named = tcp ? "Listening on " : "Serial device: ";
  while (fgets(line, sizeof line, errors) != nullptr) {
    if (strncmp(line, named, strlen(named)) == 0) {
      child.pts = line + strlen(named);
      child.pts.erase(child.pts.find_last_not_of("\r\n") + 1);
      break;
    }
  }
  // Standard error stays open (and unread) for the rest of the run: what more is printed (clients
  // coming and going) fits in the pipe.
  if (!script.empty()) (void)!write(child.in, script.data(), script.size());
  if (child.pts.empty()) return child;
  if (tcp) {
    child.fd = SimConnect(child.pts);
    return child;
  }
  child.fd = open(child.pts.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios raw;
  if (child.fd >= 0 && tcgetattr(child.fd, &raw) == 0) {
    cfmakeraw(&raw);
    tcsetattr(child.fd, TCSANOW, &raw);
  }
  return child;
}

// Times `n` requests one after the other, in milliseconds each; false when one is not answered.
inline bool SimTimeRequests(int fd, const std::string& request, int n, std::vector<double>* ms) {
  for (int i = 0; i < n; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (SimAsk(fd, request).empty()) return false;
    ms->push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  return true;
}

inline void SimStop(SimChild& child) {
  if (child.fd >= 0) close(child.fd);
  (void)!write(child.in, "quit\n", 5);
  close(child.in);
  int status = 0;
  waitpid(child.pid, &status, 0);
}
