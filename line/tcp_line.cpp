// TCP lines, given as "tcp:[HOST:]PORT" wherever a serial device is accepted. In simulator mode
// Padix listens there (127.0.0.1 unless another address is named) and serves one client at a
// time, as a Wi-Fi adapter does: a second connection is closed at once. In OBD2 software mode it
// connects to the adapter (or another Padix) there.
//
// Serving, the listening socket stays open for the run and one accepted client at a time is the
// line; a client that leaves (or a new one taking its place) starts a clean line: its socket,
// with whatever was unread in either direction, is gone. A client that shuts its sending side
// only (half-close) is answered all it sent, then let go; one that vanished without a word is
// found out by the kernel's probes. Connected as the tester, a connection that breaks leaves a
// silent line, as a module that stops answering does. What is written is queued: the queue goes
// out at a prompt (serving) or at a carriage return (connected as the tester), when it is full,
// and before any wait for input.

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

#include <atomic>

#include "line/line_kind.h"
#include "line/serial_port.h"

namespace {

constexpr int CONNECT_WAIT_MS = 5000;
constexpr int SEND_WAIT_MS = 1000;  // a peer that takes nothing for this long loses the rest
constexpr char PROMPT = '>';
constexpr char CR = '\r';

// Connections the kernel completes while the module is busy (answering, waiting for the car)
// wait here until they are taken in; a full queue would make quick reconnects wait a second for
// the client's retry.
constexpr int LISTEN_QUEUE = SOMAXCONN;
// A client that vanished without closing (its machine off, out of Wi-Fi range) holds the only
// line until the kernel gives it up: a connection silent this long is probed, and one whose
// probes (or whose answers) go unacknowledged for the last time is dropped, about a minute after
// the client was last heard. A live client answers the probes and keeps the line while idle.
constexpr int KEEPALIVE_IDLE_S = 30;
constexpr int KEEPALIVE_INTERVAL_S = 10;
constexpr int KEEPALIVE_PROBES = 3;
constexpr unsigned UNACKNOWLEDGED_MS = 60000;

int listenFd = -1;
char listenName[64] = "";  // the address bound, as "127.0.0.1:PORT", while listening
std::atomic<int> peerFd{-1};  // shut down by a drop from another thread
bool serving = false;
// The client being served has shut its sending side: what it sent is answered, then it is let
// go. Its end of stream is not read again.
bool peerSentAll = false;
// Serving: lines the module has read (carriage returns) and not answered yet (prompts). A client
// whose end of stream comes with none of them open has nothing more coming and is let go at once.
unsigned unanswered = 0;
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

// An accepted client's socket: no delay, and probed when silent.
void emu_TcpPrepareClient(int fd) {
  emu_TcpNoDelay(fd);
  const int on = 1, idle = KEEPALIVE_IDLE_S, interval = KEEPALIVE_INTERVAL_S, probes = KEEPALIVE_PROBES;
  const unsigned unacknowledged = UNACKNOWLEDGED_MS;
  (void)setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  (void)setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  (void)setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  (void)setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
  // Probes are not sent while an answer waits to be acknowledged: a client gone in the middle
  // of answers is given up after the same time.
  (void)setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledged, sizeof unacknowledged);
}

void emu_TcpForgetPeer() {
  if (peerFd >= 0) close(peerFd);
  peerFd = -1;
  peerSentAll = false;
  unanswered = 0;
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

// The peer's end of stream (`ended`), or an error, has come. A client being served with lines
// still to be answered may have shut its sending side only, and be reading: it is kept until it
// has had its answers. Connected as the tester, the adapter is gone.
void emu_TcpEndOfInput(bool ended) {
  if (ended && serving && unanswered > 0) {
    peerSentAll = true;
  } else {
    emu_TcpPeerLeft();
  }
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
    emu_TcpPrepareClient(fd);
    peerFd = fd;
    peerSentAll = false;
    unanswered = 0;
    snprintf(peerName, sizeof peerName, "%s", name);
    inputHead = inputTail = 0;
    queued = 0;
    hangUpToReport = true;
    fprintf(stderr, "Client %s connected\n", peerName);
    emu_NoteLineClientFrom(peerName);
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
      bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, LISTEN_QUEUE) != 0) {
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
  snprintf(listenName, sizeof listenName, "%s", name);
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

bool emu_TcpNames(const char* device) { return strncmp(device, "tcp:", 4) == 0; }

// Listens (serve = true) or connects.
int emu_TcpOpen(const char* device, uint32_t, bool serve) {
  char host[256], port[8];
  if (!emu_TcpParse(device, host, sizeof host, port, sizeof port)) {
    fprintf(stderr, "open() serial device failed: %s is not tcp:[HOST:]PORT\n", device);
    return -1;
  }
  serving = serve;
  hangUpToReport = false;
  peerSentAll = false;
  inputHead = inputTail = 0;
  queued = 0;
  return serve ? emu_TcpListen(host, port) : emu_TcpConnect(host, port);
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

void emu_TcpClose() {
  emu_TcpSendQueued();
  emu_TcpForgetPeer();
  if (listenFd >= 0) close(listenFd);
  listenFd = -1;
  listenName[0] = '\0';
}

int emu_TcpRead(uint8_t* bytes, int max) {
  if (inputHead == inputTail) {
    if (peerFd < 0 || peerSentAll || max <= 0) return 0;
    const ssize_t n = recv(peerFd, input, sizeof input, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      emu_TcpEndOfInput(n == 0);
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
  if (serving)
    for (size_t i = 0; i < n; ++i) unanswered += bytes[i] == CR;
  return static_cast<int>(n);
}

void emu_TcpQueue(const char* bytes, size_t n) {
  if (peerFd < 0) return;
  const char end = serving ? PROMPT : CR;
  for (size_t i = 0; i < n; ++i) {
    if (queued == sizeof output) emu_TcpSendQueued();
    output[queued++] = bytes[i];
    if (bytes[i] == PROMPT && serving && unanswered > 0) --unanswered;
    if (bytes[i] == end) emu_TcpSendQueued();
  }
}

// Unread input is thrown away: what the client sent and the line has not read yet.
void emu_TcpDiscardInput() {
  inputHead = inputTail = 0;
  uint8_t scratch[4096];
  while (peerFd >= 0 && !peerSentAll) {
    const ssize_t n = recv(peerFd, scratch, sizeof scratch, MSG_DONTWAIT);
    if (n > 0) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) emu_TcpEndOfInput(n == 0);
    return;
  }
}

// Waits up to timeoutMs for input, taking in (or turning away) clients meanwhile; 1 when input
// is there. Between requests (not midAnswer) a client that has shut its sending side has had all
// its answers, and its connection is closed first.
int emu_TcpWait(int timeoutMs, bool midAnswer) {
  emu_TcpSendQueued();
  if (inputHead != inputTail) return 1;
  // Waiting for the next request, everything the client sent has been answered.
  if (!midAnswer && peerSentAll) emu_TcpPeerLeft();
  pollfd p[2];
  nfds_t n = 0;
  if (listenFd >= 0) p[n++] = {listenFd, POLLIN, 0};
  const nfds_t peer = n;
  // A client that sent all it will send has nothing to read: only its connection breaking (a
  // reset, probes unanswered) can end the wait.
  if (peerFd >= 0) p[n++] = {peerFd, static_cast<short>(peerSentAll ? 0 : POLLIN), 0};
  if (poll(p, n, timeoutMs) <= 0) return 0;
  bool readable = false;
  if (peer < n && p[peer].revents != 0) {
    // A peer that hung up is readable too: the next read finds it gone.
    if (peerSentAll) {
      emu_TcpPeerLeft();
    } else {
      readable = true;
    }
  }
  if (listenFd >= 0 && (p[0].revents & POLLIN) != 0) emu_TcpAcceptWaiting();
  return readable && peerFd >= 0 ? 1 : 0;
}

int emu_TcpWaitBetweenRequests(int timeoutMs) { return emu_TcpWait(timeoutMs, false); }
int emu_TcpWaitMidAnswer(int timeoutMs) { return emu_TcpWait(timeoutMs, true); }

int emu_TcpReadByte(uint8_t* byte) { return emu_TcpRead(byte, 1); }

// Unread input is discarded before an answer (or a line) begins: bytes already queued were
// written after that.
int emu_TcpWriteByte(uint8_t byte) {
  if (queued == 0) emu_TcpDiscardInput();
  emu_TcpQueue(reinterpret_cast<const char*>(&byte), 1);
  return 1;
}

void emu_TcpWrite(const char* bytes, size_t n) {
  emu_TcpQueue(bytes, n);
  emu_TcpSendQueued();
}

// 1 once after the client left or a new one came: what the last one half sent is void.
int emu_TcpTakeHangUp() {
  const bool hungUp = hangUpToReport;
  hangUpToReport = false;
  return hungUp ? 1 : 0;
}

// Where clients connect while Padix listens, the port actually bound ("127.0.0.1:PORT" for
// tcp:0).
bool emu_TcpClientPlace(const char** kind, const char** where) {
  *kind = "tcp";
  *where = listenName;
  return listenName[0] != '\0';
}

// Serving: the client's connection is shut down; the line then finds it gone. Any thread.
void emu_TcpDropPeer() {
  const int fd = peerFd.load();
  if (serving && fd >= 0) (void)shutdown(fd, SHUT_RDWR);
}

int emu_TcpConnected() { return peerFd >= 0 ? 1 : 0; }

// The line stays open for the run, whether or not anybody is on it.
int emu_TcpIsOpen() { return 1; }

}  // namespace

const EmuLineKind emu_tcpLine = {
    .names = emu_TcpNames,
    .open = emu_TcpOpen,
    .close = emu_TcpClose,
    .isOpen = emu_TcpIsOpen,
    .readByte = emu_TcpReadByte,
    .read = emu_TcpRead,
    .writeByte = emu_TcpWriteByte,
    .write = emu_TcpWrite,
    .flush = emu_TcpDiscardInput,
    .wait = emu_TcpWaitBetweenRequests,
    .waitMidAnswer = emu_TcpWaitMidAnswer,
    .takeHangUp = emu_TcpTakeHangUp,
    .clientPlace = emu_TcpClientPlace,
    .dropClient = emu_TcpDropPeer,
    .connected = emu_TcpConnected,
    .setBaud = nullptr,
};
