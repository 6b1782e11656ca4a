// Serial port. Opening /dev/ptmx creates a pseudo-terminal whose other end a client opens; its
// name is printed on standard error. A client of that terminal may close it and open it again
// (or another client may come): each one starts on a clean line.
#include "line/serial_port.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "controller/controller.h"
#include "line/tcp_line.h"
#include "line/traffic_log.h"

#include <atomic>

namespace {
int fd = -1;
struct termios oldoptions;
// Our own pseudo-terminal: the client's end, and whether its client has gone (the master reports
// a hang-up) and the module has not been told yet.
bool ownTerminal = false;
char clientEnd[128];
bool clientGone = false;
bool hangUpToReport = false;
// Opens and closes of the client's end (inotify), so that a wait with no client ends when one
// comes (the master of a terminal nobody has open only reports the hang-up, over and over), and
// so that a client that closed the terminal is noticed even when the next one opened it before
// the master showed the hang-up.
int clientOpens = -1;
bool clientEndClosed = false;  // a close of the client's end was seen, and no open after it yet
std::atomic<bool> dropAsked{false};  // a drop waits for the line's thread
std::atomic<bool> droppedToReport{false};  // the client was hung up by a drop
// What waited in the terminal when its client left and the next one opened it meanwhile: it may
// be the next one's first request, so it is read from here before the terminal.
uint8_t carried[4096];
size_t carriedLength = 0;
uint32_t lineBaudrate = 9600;

speed_t emu_SpeedOf(uint32_t baudrate) {
  switch (baudrate) {
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
  }
}

void emu_ReportErrno(const char* prefix) { fprintf(stderr, "%s: %s\n", prefix, strerror(errno)); }

void emu_ForgetClientOpens() {
  inotify_event events[16];
  while (read(clientOpens, events, sizeof events) > 0) {
  }
  clientEndClosed = false;
}

// Bytes written for the client and not read by it: only its own end can drop them. The open is
// our own: its events are forgotten.
void emu_FlushClientEnd() {
  const int end = open(clientEnd, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (end >= 0) {
    (void)tcflush(end, TCIFLUSH);
    close(end);
  }
  if (clientOpens >= 0) emu_ForgetClientOpens();
}

int emu_FailInit(const char* prefix) {
  emu_ReportErrno(prefix);
  close(fd);
  fd = -1;
  return -1;
}

// Whether the client's end was closed and then opened again since the last look: the client
// left and the next one came (the master may never have shown the hang-up between them).
bool emu_ClientEndReopened() {
  if (clientOpens < 0) return false;
  alignas(inotify_event) char events[16 * sizeof(inotify_event)];
  bool reopened = false;
  for (ssize_t n; (n = read(clientOpens, events, sizeof events)) > 0;) {
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const inotify_event* e = reinterpret_cast<const inotify_event*>(events + at);
      if ((e->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) != 0) clientEndClosed = true;
      if ((e->mask & IN_OPEN) != 0 && clientEndClosed) reopened = true, clientEndClosed = false;
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
  }
  return reopened;
}

// The client closed our terminal. What it sent and was not read yet, and what was written for it
// and it did not read, belong to nobody: the latter would otherwise wait in the terminal for the
// next client to open it, which would take it for the answer to its own first request. When the
// next client has opened it already, what waits to be read may be its first request: that stays.
void emu_ClientLeft() {
  if (!ownTerminal || clientGone) return;
  hangUpToReport = true;
  if (!emu_ClientEndReopened()) {
    // Read out rather than flushed: the next client may open the terminal and write while this
    // runs, and what it wrote must stay. Once read, an open seen now says whose it may be.
    carriedLength = 0;
    for (ssize_t n; carriedLength < sizeof carried &&
                    (n = read(fd, carried + carriedLength, sizeof carried - carriedLength)) > 0;)
      carriedLength += static_cast<size_t>(n);
    if (!emu_ClientEndReopened()) {
      carriedLength = 0;  // the last client's
      clientEndClosed = false;  // this very close
      clientGone = true;
    }
  }
  emu_FlushClientEnd();
  emu_TellLineClient(false);
  if (!clientGone) emu_TellLineClient(true);  // the next one is here already
}

// Looks whether the client left while the next one opened the terminal at once, before the
// master showed the hang-up; true when it did. Looked at before every read: the next client's
// first bytes must not be taken for the last one's.
bool emu_LookAtClientEnd() {
  if (!ownTerminal || !emu_ClientEndReopened() || clientGone) return false;
  hangUpToReport = true;
  emu_FlushClientEnd();
  emu_TellLineClient(false);
  emu_TellLineClient(true);
  return true;
}

int emu_TtyInit(const char* device, uint32_t baudrate) {
  lineBaudrate = baudrate;
  fd = open(device, O_RDWR | O_NOCTTY | O_NDELAY);
  if (fd < 0) {
    emu_ReportErrno("open() serial device failed");
    return -1;
  }
  ownTerminal = strcmp(device, "/dev/ptmx") == 0;
  clientGone = false;
  hangUpToReport = false;
  clientEndClosed = false;
  clientEnd[0] = '\0';
  if (ownTerminal) {
    if (grantpt(fd) != 0 || unlockpt(fd) != 0) return emu_FailInit("open() serial device failed");
    const char* name = ptsname(fd);
    if (name != nullptr) snprintf(clientEnd, sizeof clientEnd, "%s", name);
  }
  // The line settings below make reads return at once on a device. On the master side of a
  // pseudo-terminal they apply to the client's side only, so its descriptor stays non-blocking
  // instead: a read with nothing there must not wait either.
  if (fcntl(fd, F_SETFL, ownTerminal ? O_NONBLOCK : 0) < 0) {
    return emu_FailInit("fcntl(F_SETFL) failed");
  }
  if (tcgetattr(fd, &oldoptions) != 0) return emu_FailInit("tcgetattr() failed");

  struct termios options = oldoptions;
  speed_t speed = emu_SpeedOf(baudrate);
  cfsetispeed(&options, speed);
  cfsetospeed(&options, speed);
  options.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
  options.c_cflag |= CS8 | CREAD | CLOCAL;
  options.c_lflag &= ~(ICANON | ECHO | ECHOE | ISIG | IEXTEN);
  options.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                       IXON | IXOFF | IXANY | IMAXBEL);
  options.c_oflag &= ~OPOST;
  options.c_cc[VMIN] = 0;
  options.c_cc[VTIME] = 0;
  if (tcflush(fd, TCIOFLUSH) != 0) emu_ReportErrno("tcflush(TCIOFLUSH) failed");
  if (tcsetattr(fd, TCSANOW, &options) != 0) return emu_FailInit("tcsetattr() failed");
  if (ownTerminal && clientEnd[0] != '\0') {
    clientOpens = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (clientOpens >= 0 &&
        inotify_add_watch(clientOpens, clientEnd, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
      close(clientOpens);
      clientOpens = -1;  // a client is then looked for after a pause
    }
  }
  // Named once the line is set up: a client that opens it at once keeps what it writes.
  if (ownTerminal) fprintf(stderr, "Serial device: %s\n", clientEnd[0] != '\0' ? clientEnd : "?");
  return 0;
}

int emu_TtyClose() {
  if (fd < 0) return 0;
  if (tcsetattr(fd, TCSANOW, &oldoptions) != 0) emu_ReportErrno("tcsetattr(oldoptions) failed");
  if (close(fd) != 0) emu_ReportErrno("close() serial device failed");
  fd = -1;
  ownTerminal = false;
  carriedLength = 0;
  if (clientOpens >= 0) close(clientOpens);
  clientOpens = -1;
  return 0;
}

// When the client's last bytes came (monotonic microseconds).
uint64_t lastInputUs = 0;

uint64_t emu_NowUs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_nsec) / 1000u;
}

int emu_TtyReadByte(uint8_t* byte) {
  if (fd < 0 || emu_LookAtClientEnd()) return 0;
  const ssize_t n = read(fd, byte, 1);
  if (n == 1) {
    clientGone = false;
    lastInputUs = emu_NowUs();
    return 1;
  }
  if (n < 0 && errno == EIO) emu_ClientLeft();  // the master of a terminal nobody has open
  return 0;
}

int emu_TtyWriteByte(uint8_t byte) {
  if (fd < 0) return 0;
  if (tcflush(fd, TCIFLUSH) != 0) emu_ReportErrno("tcflush(TCIFLUSH) failed");
  return write(fd, &byte, 1) == 1 ? 1 : 0;
}

void emu_TtyFlush() {
  if (fd >= 0 && tcflush(fd, TCIOFLUSH) != 0) emu_ReportErrno("tcflush(TCIOFLUSH) failed");
}

constexpr int NO_CLIENT_PAUSE_MS = 100;

bool emu_NoClient() {
  struct pollfd p = {fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)) != 0;
}

// Nobody holds our terminal open: waits until somebody opens it, at most timeoutMs (a negative
// one: no limit). Opens seen so far (our own, to flush the client's input, among them) are
// forgotten first; a client that came before that holds the line, which the master then shows.
void emu_WaitForClient(int timeoutMs) {
  if (clientOpens < 0) {
    usleep(static_cast<useconds_t>(timeoutMs < 0 ? NO_CLIENT_PAUSE_MS : timeoutMs) * 1000);
    return;
  }
  emu_ForgetClientOpens();
  if (!emu_NoClient()) return;
  struct pollfd p = {clientOpens, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) > 0) emu_ForgetClientOpens();
}

// A client that sends request after request writes its next one microseconds after it has read
// the answer. While it does, a short look at the line before sleeping saves a thread's wake-up
// (and an idle core's) per request; a client that paused costs nothing.
constexpr uint64_t BUSY_CLIENT_US = 2000;  // input this recent: the client is busy
constexpr uint64_t BUSY_LOOK_US = 100;

int emu_TtyPoll(struct pollfd* p, nfds_t n, int timeoutMs) {
  if (timeoutMs != 0 && emu_NowUs() - lastInputUs < BUSY_CLIENT_US) {
    const uint64_t end = emu_NowUs() + BUSY_LOOK_US;
    do {
      const int ready = poll(p, n, 0);
      if (ready != 0) return ready;
      sched_yield();  // the client may be waiting for this very core
    } while (emu_NowUs() < end);
  }
  return poll(p, n, timeoutMs);
}

bool emu_TtyDropIfAsked();

int emu_TtyWait(int timeoutMs) {
  (void)emu_TtyDropIfAsked();
  if (fd < 0) return 0;
  if (carriedLength > 0) return 1;
  struct pollfd both[2] = {{fd, POLLIN, 0}, {clientOpens, POLLIN, 0}};
  const struct pollfd& p = both[0];
  const int ready = emu_TtyPoll(both, ownTerminal && clientOpens >= 0 ? 2 : 1, timeoutMs);
  if (ready > 0 && (both[1].revents & POLLIN) != 0) (void)emu_LookAtClientEnd();
  if (ready > 0 && (p.revents & (POLLHUP | POLLERR)) != 0) {
    emu_ClientLeft();
    if (carriedLength > 0) return 1;
    // Don't spin on the hang-up the master keeps reporting while nobody has the terminal open.
    if (ownTerminal)
      emu_WaitForClient(timeoutMs);
    else
      usleep(static_cast<useconds_t>(timeoutMs < 0 ? NO_CLIENT_PAUSE_MS : timeoutMs) * 1000);
    return 0;
  }
  if (ready >= 0) clientGone = false;  // a client holds the line open (again)
  if (ready >= 0 && ownTerminal) emu_TellLineClient(true);
  return ready > 0 && (p.revents & POLLIN) != 0 ? 1 : 0;
}

int emu_TtyRead(uint8_t* bytes, int max) {
  // Nothing is read in the same look as a drop: the port hears of the drop first.
  if (emu_TtyDropIfAsked()) return 0;
  if (fd < 0 || max <= 0 || emu_LookAtClientEnd()) return 0;
  if (carriedLength > 0) {
    const size_t n = carriedLength < static_cast<size_t>(max) ? carriedLength : static_cast<size_t>(max);
    memcpy(bytes, carried, n);
    memmove(carried, carried + n, carriedLength - n);
    carriedLength -= n;
    clientGone = false;
    lastInputUs = emu_NowUs();
    return static_cast<int>(n);
  }
  const ssize_t n = read(fd, bytes, static_cast<size_t>(max));
  if (n > 0) {
    clientGone = false;
    lastInputUs = emu_NowUs();
    return static_cast<int>(n);
  }
  if (n < 0 && errno == EIO) emu_ClientLeft();  // the master of a terminal nobody has open
  return 0;
}

void emu_TtyWrite(const char* bytes, size_t n) {
  constexpr int WRITE_WAIT_MS = 1000;
  // Our terminal's client has gone: what is written now would wait there for the next one.
  if (ownTerminal && clientGone) return;
  while (fd >= 0 && n > 0) {
    const ssize_t written = write(fd, bytes, n);
    if (written > 0) {
      bytes += written;
      n -= static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && errno != EAGAIN && errno != EINTR) return;
    struct pollfd p = {fd, POLLOUT, 0};
    if (poll(&p, 1, WRITE_WAIT_MS) <= 0 || (p.revents & (POLLHUP | POLLERR)) != 0) {
      if ((p.revents & POLLHUP) != 0) emu_ClientLeft();
      return;
    }
  }
}

// A hang-up throws away what the client has not read yet: the answer before the drop is read
// first. What the line's end writes reaches the client's side a moment later (the kernel passes
// it on by itself), so the client's side is looked at until it has stayed empty for a while.
constexpr int DROP_READ_WAIT_MS = 1000;
constexpr int DROP_LOOK_MS = 5;
constexpr int DROP_EMPTY_LOOKS = 4;

// A drop may be asked for from any thread (a command, a timeline event), but only the line's own
// thread reads the line: it carries the drop out before its next look at the line, so no byte of
// the next client is read before the drop or thrown away after it. The zero byte written from
// the client's side wakes the line's thread and goes with the old client's input.
void emu_TtyDropClient() {
  if (!ownTerminal || fd < 0 || clientEnd[0] == '\0') return;
  dropAsked = true;
  const int end = open(clientEnd, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (end < 0) return;
  (void)!write(end, "", 1);
  close(end);
}

// On the line's thread: the client reads its last answer, what it sent is thrown away, then it
// is hung up (or, where hanging up is not allowed, the terminal replaced). Returns whether it
// was dropped.
bool emu_TtyDropIfAsked() {
  if (!dropAsked.exchange(false) || !ownTerminal || fd < 0 || clientEnd[0] == '\0') return false;
  const int end = open(clientEnd, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (end < 0) return false;
  for (int waited = 0, empty = 0; waited < DROP_READ_WAIT_MS && empty < DROP_EMPTY_LOOKS; waited += DROP_LOOK_MS) {
    usleep(DROP_LOOK_MS * 1000);
    int unread = 0;
    if (ioctl(end, FIONREAD, &unread) != 0) break;
    empty = unread == 0 ? empty + 1 : 0;
  }
  // Thrown away before the hang-up: once the client is hung up, the next one may open the
  // terminal and write at once.
  (void)tcflush(fd, TCIFLUSH);
  carriedLength = 0;
  const bool hungUp = ioctl(end, TIOCVHANGUP) == 0;
  close(end);
  if (!hungUp) {
    emu_TtyClose();
    if (emu_TtyInit("/dev/ptmx", lineBaudrate) != 0) return false;
  }
  droppedToReport = true;
  return true;
}

int emu_TtyTakeHangUp() {
  const bool hungUp = hangUpToReport || droppedToReport.exchange(false);
  hangUpToReport = false;
  return hungUp ? 1 : 0;
}

}  // namespace

std::atomic<void (*)(bool here)> emu_lineClientNotice{nullptr};

// Each coming and going told once: the line notices a client at every wait.
void emu_TellLineClient(bool here) {
  static bool clientHere = false;
  if (here == clientHere) return;
  clientHere = here;
  if (auto notice = emu_lineClientNotice.load()) notice(here);
}

// ---------------------------------------------------------------------------------------------
// The line, whatever its kind; every byte that crosses it goes to the traffic log.

namespace {

bool tcpLine = false;

// Serving (simulator mode), Padix is the module and the other side the tester; otherwise
// Padix's handheld is the tester.
EmuSender emu_OtherSide() { return emu_GetPadixMode() == EmuMode::Simulator ? EmuSender::Tester : EmuSender::Module; }
EmuSender emu_OwnSide() { return emu_GetPadixMode() == EmuMode::Simulator ? EmuSender::Module : EmuSender::Tester; }

}  // namespace

int emu_InitCOM(const char* device, uint32_t baudrate) {
  tcpLine = emu_IsTcpDevice(device);
  if (tcpLine) return emu_TcpOpen(device, emu_GetPadixMode() == EmuMode::Simulator);
  return emu_TtyInit(device, baudrate);
}

int emu_CloseCOM() {
  if (!tcpLine) return emu_TtyClose();
  emu_TcpClose();
  tcpLine = false;
  return 0;
}

int emu_ReadByteCOM(uint8_t* byte) {
  const int n = tcpLine ? emu_TcpRead(byte, 1) : emu_TtyReadByte(byte);
  if (n == 1) emu_LogTraffic(emu_OtherSide(), byte, 1);
  return n;
}

int emu_WriteByteCOM(uint8_t byte) {
  int n;
  if (tcpLine) {
    // Unread input is discarded before an answer (or a line) begins: bytes already queued were
    // written after that.
    if (emu_TcpNothingQueued()) emu_TcpDiscardInput();
    emu_TcpQueue(reinterpret_cast<const char*>(&byte), 1);
    n = 1;
  } else {
    n = emu_TtyWriteByte(byte);
  }
  // What goes to no one (no client is connected) is not logged.
  if (n == 1 && (!tcpLine || emu_TcpConnected())) emu_LogTraffic(emu_OwnSide(), &byte, 1);
  return n;
}

void emu_FlushCOM() {
  if (tcpLine) {
    emu_TcpDiscardInput();
  } else {
    emu_TtyFlush();
  }
}

int emu_IsCOMOpen() { return tcpLine || fd >= 0 ? 1 : 0; }

int emu_WaitForCOMInput(int timeoutMs) { return tcpLine ? emu_TcpWait(timeoutMs, false) : emu_TtyWait(timeoutMs); }

int emu_WaitForCOMInputMidAnswer(int timeoutMs) {
  return tcpLine ? emu_TcpWait(timeoutMs, true) : emu_TtyWait(timeoutMs);
}

int emu_ReadCOM(uint8_t* bytes, int max) {
  const int n = tcpLine ? emu_TcpRead(bytes, max) : emu_TtyRead(bytes, max);
  if (n > 0) emu_LogTraffic(emu_OtherSide(), bytes, static_cast<size_t>(n));
  return n;
}

void emu_WriteCOM(const char* bytes, size_t n) {
  if (!tcpLine || emu_TcpConnected()) emu_LogTraffic(emu_OwnSide(), reinterpret_cast<const uint8_t*>(bytes), n);
  if (tcpLine) {
    emu_TcpQueue(bytes, n);
    emu_TcpSendQueued();
  } else {
    emu_TtyWrite(bytes, n);
  }
}

int emu_TakeCOMHangUp() { return tcpLine ? emu_TcpTakeHangUp() : emu_TtyTakeHangUp(); }

bool emu_COMClientPlace(const char** kind, const char** where) {
  if (tcpLine) {
    *kind = "tcp";
    *where = emu_TcpListenName();
  } else {
    *kind = "pty";
    *where = ownTerminal ? clientEnd : "";
  }
  return (*where)[0] != '\0';
}

void emu_DropCOMClient() {
  if (tcpLine) {
    emu_TcpDropPeer();
  } else {
    emu_TtyDropClient();
  }
}
