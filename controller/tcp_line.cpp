// TCP lines. Serving, the listening socket stays open for the run and one accepted client at a
// time is the line; a client that leaves (or a new one taking its place) starts a clean line:
// its socket, with whatever was unread in either direction, is gone. Connected as the tester,
// a connection that breaks leaves a silent line, as a module that stops answering does.
#include "controller/tcp_line.h"
#include "controller/serial_port.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int CONNECT_WAIT_MS = 5000;
constexpr int SEND_WAIT_MS = 1000;  // a peer that takes nothing for this long loses the rest
constexpr char PROMPT = '>';
constexpr char CR = '\r';

int listenFd = -1;
int peerFd = -1;
bool serving = false;
bool hangUpToReport = false;
char peerName[300];

// Bytes received and not read yet, and bytes queued for the peer.
uint8_t input[4096];
size_t inputHead = 0, inputTail = 0;
char output[4096];
size_t queued = 0;

void emu_TcpNameOf(const sockaddr* a, char* out, size_t size) {
  char host[INET6_ADDRSTRLEN] = "?";
  unsigned port = 0;
  if (a->sa_family == AF_INET) {
    const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(a);
    inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
    port = ntohs(in->sin_port);
    snprintf(out, size, "%s:%u", host, port);
  } else if (a->sa_family == AF_INET6) {
    const sockaddr_in6* in6 = reinterpret_cast<const sockaddr_in6*>(a);
    inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
    port = ntohs(in6->sin6_port);
    snprintf(out, size, "[%s]:%u", host, port);
  } else {
    snprintf(out, size, "?");
  }
}

// "tcp:PORT", "tcp:HOST:PORT", "tcp:[V6ADDR]:PORT"; the host defaults to this machine only.
bool emu_TcpParse(const char* device, char* host, size_t hostSize, char* port, size_t portSize) {
  const char* rest = device + 4;
  const char* colon = strrchr(rest, ':');
  const char* portText = colon != nullptr ? colon + 1 : rest;
  if (colon == nullptr) {
    snprintf(host, hostSize, "127.0.0.1");
  } else {
    size_t n = static_cast<size_t>(colon - rest);
    const char* h = rest;
    if (n >= 2 && h[0] == '[' && h[n - 1] == ']') ++h, n -= 2;
    if (n == 0 || n >= hostSize) return false;
    memcpy(host, h, n);
    host[n] = '\0';
  }
  char* end = nullptr;
  const long number = strtol(portText, &end, 10);
  if (portText[0] == '\0' || *end != '\0' || number < 0 || number > 65535) return false;
  snprintf(port, portSize, "%ld", number);
  return true;
}

void emu_TcpNoDelay(int fd) {
  const int one = 1;
  (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void emu_TcpForgetPeer() {
  if (peerFd >= 0) close(peerFd);
  peerFd = -1;
  inputHead = inputTail = 0;
  queued = 0;
}

// Told once the connection is closed: whoever reads the message finds nothing of it left.
void emu_TcpPeerLeft() {
  if (peerFd < 0) return;
  emu_TcpForgetPeer();
  hangUpToReport = true;
  if (serving) fprintf(stderr, "Client %s left\n", peerName);
  else fprintf(stderr, "Connection to %s lost\n", peerName);
  if (serving) emu_TellLineClient(false);
}

// The client being served has hung up (its end of stream has come, read or not).
bool emu_TcpPeerHungUp() {
  pollfd p = {peerFd, POLLRDHUP, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

// Takes in waiting connections: the first becomes the line, the others are turned away while it
// is served.
void emu_TcpAcceptWaiting() {
  for (;;) {
    sockaddr_storage address;
    socklen_t length = sizeof address;
    const int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    char name[64];
    emu_TcpNameOf(reinterpret_cast<sockaddr*>(&address), name, sizeof name);
    // A client that has hung up makes way, even when its end of stream was not read yet: a
    // program that reconnects at once after a drop is served.
    if (peerFd >= 0 && emu_TcpPeerHungUp()) emu_TcpPeerLeft();
    if (peerFd >= 0) {
      fprintf(stderr, "Refused client %s: client %s is being served\n", name, peerName);
      close(fd);
      continue;
    }
    emu_TcpNoDelay(fd);
    peerFd = fd;
    snprintf(peerName, sizeof peerName, "%s", name);
    inputHead = inputTail = 0;
    queued = 0;
    hangUpToReport = true;
    fprintf(stderr, "Client %s connected\n", peerName);
    emu_TellLineClient(true);
  }
}

int emu_TcpFail(const char* what, const char* host, const char* port, int fd) {
  fprintf(stderr, "%s %s:%s failed: %s\n", what, host, port, strerror(errno));
  if (fd >= 0) close(fd);
  return -1;
}

int emu_TcpListen(const char* host, const char* port) {
  addrinfo hints{}, *found = nullptr;
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  const int err = getaddrinfo(host, port, &hints, &found);
  if (err != 0) {
    fprintf(stderr, "getaddrinfo() for %s:%s failed: %s\n", host, port, gai_strerror(err));
    return -1;
  }
  const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int one = 1;
  if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, 4) != 0) {
    freeaddrinfo(found);
    return emu_TcpFail("bind() to", host, port, fd);
  }
  freeaddrinfo(found);
  sockaddr_storage bound;
  socklen_t length = sizeof bound;
  char name[64] = "?";
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0)
    emu_TcpNameOf(reinterpret_cast<sockaddr*>(&bound), name, sizeof name);
  listenFd = fd;
  fprintf(stderr, "Listening on %s\n", name);
  return 0;
}

int emu_TcpConnect(const char* host, const char* port) {
  addrinfo hints{}, *found = nullptr;
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  const int err = getaddrinfo(host, port, &hints, &found);
  if (err != 0) {
    fprintf(stderr, "getaddrinfo() for %s:%s failed: %s\n", host, port, gai_strerror(err));
    return -1;
  }
  const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int result = fd < 0 ? -1 : connect(fd, found->ai_addr, found->ai_addrlen);
  freeaddrinfo(found);
  if (result != 0 && fd >= 0 && errno == EINPROGRESS) {
    pollfd p = {fd, POLLOUT, 0};
    int soError = ETIMEDOUT;
    socklen_t length = sizeof soError;
    if (poll(&p, 1, CONNECT_WAIT_MS) > 0) getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length);
    errno = soError;
    result = soError == 0 ? 0 : -1;
  }
  if (result != 0) return emu_TcpFail("connect() to", host, port, fd);
  emu_TcpNoDelay(fd);
  peerFd = fd;
  snprintf(peerName, sizeof peerName, "%s:%s", host, port);
  return 0;
}

}  // namespace

bool emu_IsTcpDevice(const char* device) { return strncmp(device, "tcp:", 4) == 0; }

int emu_TcpOpen(const char* device, bool serve) {
  char host[256], port[8];
  if (!emu_TcpParse(device, host, sizeof host, port, sizeof port)) {
    fprintf(stderr, "open() serial device failed: %s is not tcp:[HOST:]PORT\n", device);
    return -1;
  }
  serving = serve;
  hangUpToReport = false;
  inputHead = inputTail = 0;
  queued = 0;
  return serve ? emu_TcpListen(host, port) : emu_TcpConnect(host, port);
}

void emu_TcpClose() {
  emu_TcpSendQueued();
  emu_TcpForgetPeer();
  if (listenFd >= 0) close(listenFd);
  listenFd = -1;
}

int emu_TcpRead(uint8_t* bytes, int max) {
  if (inputHead == inputTail) {
    if (peerFd < 0 || max <= 0) return 0;
    const ssize_t n = recv(peerFd, input, sizeof input, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      emu_TcpPeerLeft();
      return 0;
    }
    if (n < 0) return 0;
    inputHead = 0;
    inputTail = static_cast<size_t>(n);
  }
  size_t n = inputTail - inputHead;
  if (n > static_cast<size_t>(max)) n = static_cast<size_t>(max);
  memcpy(bytes, input + inputHead, n);
  inputHead += n;
  return static_cast<int>(n);
}

void emu_TcpSendQueued() {
  size_t at = 0;
  while (peerFd >= 0 && at < queued) {
    const ssize_t n = send(peerFd, output + at, queued - at, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      at += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      emu_TcpPeerLeft();
      break;
    }
    pollfd p = {peerFd, POLLOUT, 0};
    if (poll(&p, 1, SEND_WAIT_MS) <= 0) break;  // a reader that takes nothing loses the rest
  }
  queued = 0;
}

void emu_TcpQueue(const char* bytes, size_t n) {
  if (peerFd < 0) return;
  const char end = serving ? PROMPT : CR;
  for (size_t i = 0; i < n; ++i) {
    if (queued == sizeof output) emu_TcpSendQueued();
    output[queued++] = bytes[i];
    if (bytes[i] == end) emu_TcpSendQueued();
  }
}

bool emu_TcpNothingQueued() { return queued == 0; }

void emu_TcpDiscardInput() {
  inputHead = inputTail = 0;
  uint8_t scratch[4096];
  while (peerFd >= 0) {
    const ssize_t n = recv(peerFd, scratch, sizeof scratch, MSG_DONTWAIT);
    if (n > 0) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) emu_TcpPeerLeft();
    return;
  }
}

int emu_TcpWait(int timeoutMs) {
  emu_TcpSendQueued();
  if (inputHead != inputTail) return 1;
  pollfd p[2];
  nfds_t n = 0;
  if (listenFd >= 0) p[n++] = {listenFd, POLLIN, 0};
  const nfds_t peer = n;
  if (peerFd >= 0) p[n++] = {peerFd, POLLIN, 0};
  if (poll(p, n, timeoutMs) <= 0) return 0;
  if (listenFd >= 0 && (p[0].revents & POLLIN) != 0) emu_TcpAcceptWaiting();
  // A peer that hung up is readable too: the next read finds it gone.
  return peer < n && p[peer].revents != 0 && peerFd >= 0 ? 1 : 0;
}

int emu_TcpTakeHangUp() {
  const bool hungUp = hangUpToReport;
  hangUpToReport = false;
  return hungUp ? 1 : 0;
}

int emu_TcpConnected() { return peerFd >= 0 ? 1 : 0; }
