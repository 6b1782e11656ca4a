// Standing between a client and a real adapter (relay.h). Bytes pass as they come, in both
// directions, so whatever the adapter does (echo, a request stopped by the client's next
// character, the prompt) reaches the client unchanged. Two threads: this one waits for the
// client through the line; the other waits for the adapter on its descriptor and writes to the
// line.
#include "learn/relay.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "elm327/elm327.h"
#include "learn/adapter_answer.h"
#include "line/serial_port.h"
#include "line/terminal.h"

namespace {

constexpr int WAIT_MS = 100;             // how often the ending is looked at
constexpr size_t RELAY_CHUNK = 4096;     // bytes passed on at once
constexpr size_t MAX_INPUT_LINE = 256;   // a command typed on standard input

int emu_ConnectTcp(const std::string& hostPort) {
  const size_t colon = hostPort.rfind(':');
  const std::string host = colon == std::string::npos ? "127.0.0.1" : hostPort.substr(0, colon);
  const std::string port = colon == std::string::npos ? hostPort : hostPort.substr(colon + 1);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return -1;
  int fd = -1;
  for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd >= 0 && connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd >= 0) {
    const int one = 1;
    (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  return fd;
}

struct Relay {
  int adapter = -1;
  const std::atomic<bool>* ending = nullptr;
  std::atomic<bool> stop{false};
  std::atomic<bool> adapterGone{false};
};

// The adapter's bytes to the client, as they come.
void* emu_AdapterToClient(void* arg) {
  Relay& r = *static_cast<Relay*>(arg);
  (void)pthread_setname_np(pthread_self(), "relay");
  char buf[RELAY_CHUNK];
  while (!r.stop.load()) {
    pollfd p{r.adapter, POLLIN, 0};
    if (poll(&p, 1, WAIT_MS) <= 0) continue;
    const ssize_t n = read(r.adapter, buf, sizeof buf);
    if (n > 0) {
      emu_WriteCOM(buf, static_cast<size_t>(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      r.adapterGone = true;
      return nullptr;
    }
  }
  return nullptr;
}

bool emu_WriteAll(int fd, const uint8_t* bytes, size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, bytes, n);
    if (w > 0) {
      bytes += w;
      n -= static_cast<size_t>(w);
    } else if (w < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      (void)poll(&p, 1, WAIT_MS);
    } else if (w < 0 && errno != EINTR) {
      return false;
    }
  }
  return true;
}

// "quit" on standard input ends the relay (its end does not: a run that serves outlives it).
bool emu_QuitTyped(std::string* pending, bool* inputOpen) {
  if (!*inputOpen) return false;
  pollfd p{0, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0) return false;
  char buf[MAX_INPUT_LINE];
  const ssize_t n = read(0, buf, sizeof buf);
  if (n <= 0) {
    *inputOpen = false;
    return false;
  }
  pending->append(buf, static_cast<size_t>(n));
  for (size_t end; (end = pending->find('\n')) != std::string::npos;) {
    const std::string line = pending->substr(0, end);
    pending->erase(0, end + 1);
    if (line == "quit" || line == "quit\r") return true;
  }
  if (pending->size() > MAX_INPUT_LINE) pending->clear();
  return false;
}

// The ELM327 of Padix's own that answers what the vehicle knows: it reads one client line at a
// time from here and writes its answer here.
struct Shadow {
  std::string in;
  size_t at = 0;
  std::string out;
};
Shadow shadow;

const EmuElmPort SHADOW_PORT = {
    .read =
        [](uint8_t* bytes, int max) {
          const size_t n = std::min(shadow.in.size() - shadow.at, static_cast<size_t>(max));
          memcpy(bytes, shadow.in.data() + shadow.at, n);
          shadow.at += n;
          return static_cast<int>(n);
        },
    .write = [](const char* text, size_t n) { shadow.out.append(text, n); },
    .waitForInput = [](int) { return shadow.at < shadow.in.size() ? 1 : 0; },
    .takeHangUp = nullptr,
    .setBaud = nullptr,
};

// The shadow's answer to one whole line.
std::string emu_ShadowAnswer(const std::string& line) {
  shadow.in = line;
  shadow.at = 0;
  shadow.out.clear();
  emu_ElmServeInput();
  return shadow.out;
}

// One line the client completed: answered here when it is an OBD request the vehicle answers with
// data, else passed on. The shadow reads every line, so that its settings and protocol follow the
// adapter's. False when the adapter cannot be written to.
bool emu_RelayKnownLine(int adapter, const std::string& line) {
  std::string compact;
  for (char c : line)
    if (c != ' ' && c != '\r') compact += static_cast<char>(toupper(static_cast<unsigned char>(c)));
  const std::string answer = emu_ShadowAnswer(line);
  const bool obd = !compact.empty() && compact.compare(0, 2, "AT") != 0;
  if (obd && !emu_LearnAnswerIsSilence(answer)) {
    emu_WriteCOM(answer.data(), answer.size());
    return true;
  }
  return emu_WriteAll(adapter, reinterpret_cast<const uint8_t*>(line.data()), line.size());
}

}  // namespace

int emu_RelayOpenAdapter(const char* device, uint32_t baudrate) {
  if (strncmp(device, "tcp:", 4) == 0) {
    const int fd = emu_ConnectTcp(device + 4);
    if (fd < 0) fprintf(stderr, "relay: cannot connect to %s\n", device + 4);
    if (fd >= 0) (void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
  }
  const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    fprintf(stderr, "relay: cannot open %s: %s\n", device, strerror(errno));
    return -1;
  }
  termios t;
  if (tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetspeed(&t, emu_TerminalSpeed(baudrate));
    (void)tcsetattr(fd, TCSANOW, &t);
  }
  return fd;
}

int emu_RelayLine(const char* device, uint32_t baudrate, const std::atomic<bool>& ending, bool answerKnown) {
  Relay r;
  r.adapter = emu_RelayOpenAdapter(device, baudrate);
  if (r.adapter < 0) return -1;
  if (answerKnown) {
    emu_ElmInit();
    emu_ElmSetPort(&SHADOW_PORT);
  }
  std::string pending;  // answering what is known: the client's line so far
  r.ending = &ending;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, emu_AdapterToClient, &r) != 0) {
    fprintf(stderr, "relay: cannot start its thread\n");
    close(r.adapter);
    return -1;
  }
  fprintf(stderr, "Relaying to %s\n", device);
  std::string typed;
  bool inputOpen = true;
  int status = 0;
  while (!ending.load() && !emu_QuitTyped(&typed, &inputOpen)) {
    if (r.adapterGone.load()) {
      fprintf(stderr, "relay: the adapter on %s is gone\n", device);
      status = -1;
      break;
    }
    // A client that leaves: the next one is relayed the same way; what it half typed is void.
    if (emu_TakeCOMHangUp() != 0 && answerKnown) {
      pending.clear();
      emu_ElmClientLeft();
    }
    if (emu_WaitForCOMInput(WAIT_MS) <= 0) continue;
    uint8_t buf[RELAY_CHUNK];
    const int n = emu_ReadCOM(buf, static_cast<int>(sizeof buf));
    bool written = true;
    if (n > 0 && answerKnown) {
      for (int i = 0; i < n && written; ++i) {
        if (pending.size() < EMU_ELM_LINE_MAX * 2) pending += static_cast<char>(buf[i]);
        if (buf[i] != '\r') continue;
        written = emu_RelayKnownLine(r.adapter, pending);
        pending.clear();
      }
    } else if (n > 0) {
      written = emu_WriteAll(r.adapter, buf, static_cast<size_t>(n));
    }
    if (!written) {
      fprintf(stderr, "relay: cannot write to %s: %s\n", device, strerror(errno));
      status = -1;
      break;
    }
  }
  r.stop = true;
  pthread_join(thread, nullptr);
  close(r.adapter);
  return status;
}
