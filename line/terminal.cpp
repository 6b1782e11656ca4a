// Terminals as the line, and the row of a real serial device: raw 8N1, no flow control, the
// settings it had put back at the close. Nobody comes or goes on a serial device: its other end
// is wired.
#include "line/terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "line/line_kind.h"

namespace {

int fd = -1;
struct termios oldoptions;
// When the client's last bytes came (monotonic microseconds).
uint64_t lastInputUs = 0;

// A rate asked for by a divisor of the adapter's clock (ATBRD) comes close to a standard one;
// a UART takes it within 3 %.
struct EmuNamedSpeed {
  uint32_t baudrate;
  speed_t speed;
};
constexpr EmuNamedSpeed SPEEDS[] = {
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},     {115200, B115200},
    {230400, B230400}, {460800, B460800}, {500000, B500000}, {921600, B921600}, {1000000, B1000000},
};

bool emu_NearestSpeed(uint32_t baudrate, speed_t* speed) {
  for (const EmuNamedSpeed& s : SPEEDS) {
    const uint32_t diff = s.baudrate > baudrate ? s.baudrate - baudrate : baudrate - s.baudrate;
    if (diff * 100u <= s.baudrate * 3u) {
      *speed = s.speed;
      return true;
    }
  }
  return false;
}

uint64_t emu_NowUs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_nsec) / 1000u;
}

}  // namespace

void emu_ReportErrno(const char* prefix) { fprintf(stderr, "%s: %s\n", prefix, strerror(errno)); }

int emu_TerminalFd() { return fd; }

int emu_TerminalOpen(const char* device) {
  fd = open(device, O_RDWR | O_NOCTTY | O_NDELAY);
  if (fd >= 0) return 0;
  emu_ReportErrno("open() serial device failed");
  return -1;
}

int emu_TerminalFail(const char* prefix) {
  emu_ReportErrno(prefix);
  close(fd);
  fd = -1;
  return -1;
}

int emu_TerminalSetUp(uint32_t baudrate, int fileFlags) {
  if (fcntl(fd, F_SETFL, fileFlags) < 0) return emu_TerminalFail("fcntl(F_SETFL) failed");
  if (tcgetattr(fd, &oldoptions) != 0) return emu_TerminalFail("tcgetattr() failed");

  struct termios options = oldoptions;
  speed_t speed = emu_TerminalSpeed(baudrate);
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
  if (tcsetattr(fd, TCSANOW, &options) != 0) return emu_TerminalFail("tcsetattr() failed");
  return 0;
}

int emu_TerminalSetBaud(uint32_t baudrate) {
  speed_t speed;
  struct termios options;
  if (fd < 0 || !emu_NearestSpeed(baudrate, &speed) || tcgetattr(fd, &options) != 0) return -1;
  cfsetispeed(&options, speed);
  cfsetospeed(&options, speed);
  // What was written goes out at the old rate first.
  if (tcsetattr(fd, TCSADRAIN, &options) != 0) {
    emu_ReportErrno("tcsetattr(baud rate) failed");
    return -1;
  }
  return 1;
}

void emu_TerminalClose() {
  if (fd < 0) return;
  if (tcsetattr(fd, TCSANOW, &oldoptions) != 0) emu_ReportErrno("tcsetattr(oldoptions) failed");
  if (close(fd) != 0) emu_ReportErrno("close() serial device failed");
  fd = -1;
}

ssize_t emu_TerminalRead(uint8_t* bytes, size_t max) {
  const ssize_t n = read(fd, bytes, max);
  if (n > 0) lastInputUs = emu_NowUs();
  return n;
}

void emu_TerminalInputCame() { lastInputUs = emu_NowUs(); }

int emu_TerminalWriteByte(uint8_t byte) {
  if (fd < 0) return 0;
  if (tcflush(fd, TCIFLUSH) != 0) emu_ReportErrno("tcflush(TCIFLUSH) failed");
  return write(fd, &byte, 1) == 1 ? 1 : 0;
}

bool emu_TerminalWrite(const char* bytes, size_t n) {
  constexpr int WRITE_WAIT_MS = 1000;
  while (fd >= 0 && n > 0) {
    const ssize_t written = write(fd, bytes, n);
    if (written > 0) {
      bytes += written;
      n -= static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && errno != EAGAIN && errno != EINTR) return false;
    struct pollfd p = {fd, POLLOUT, 0};
    if (poll(&p, 1, WRITE_WAIT_MS) <= 0 || (p.revents & (POLLHUP | POLLERR)) != 0) {
      return (p.revents & POLLHUP) != 0;
    }
  }
  return false;
}

void emu_TerminalFlush() {
  if (fd >= 0 && tcflush(fd, TCIOFLUSH) != 0) emu_ReportErrno("tcflush(TCIOFLUSH) failed");
}

// A client that sends request after request writes its next one microseconds after it has read
// the answer. While it does, a short look at the line before sleeping saves a thread's wake-up
// (and an idle core's) per request; a client that paused costs nothing.
constexpr uint64_t BUSY_CLIENT_US = 2000;  // input this recent: the client is busy
constexpr uint64_t BUSY_LOOK_US = 100;

int emu_TerminalPoll(struct pollfd* p, nfds_t n, int timeoutMs) {
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

void emu_TerminalPause(int timeoutMs) {
  constexpr int NO_CLIENT_PAUSE_MS = 100;
  usleep(static_cast<useconds_t>(timeoutMs < 0 ? NO_CLIENT_PAUSE_MS : timeoutMs) * 1000);
}

// ---------------------------------------------------------------------------------------------
// A serial device

namespace {

// Any name that no other kind of line takes: the table tries this row last.
bool emu_SerialDeviceNames(const char*) { return true; }

// The line settings make reads return at once: the descriptor itself may block.
int emu_SerialDeviceOpen(const char* device, uint32_t baudrate, bool) {
  if (emu_TerminalOpen(device) != 0) return -1;
  return emu_TerminalSetUp(baudrate, 0);
}

int emu_SerialDeviceIsOpen() { return fd >= 0 ? 1 : 0; }

int emu_SerialDeviceReadByte(uint8_t* byte) { return fd >= 0 && emu_TerminalRead(byte, 1) == 1 ? 1 : 0; }

int emu_SerialDeviceRead(uint8_t* bytes, int max) {
  if (fd < 0 || max <= 0) return 0;
  const ssize_t n = emu_TerminalRead(bytes, static_cast<size_t>(max));
  return n > 0 ? static_cast<int>(n) : 0;
}

void emu_SerialDeviceWrite(const char* bytes, size_t n) { (void)emu_TerminalWrite(bytes, n); }

int emu_SerialDeviceWait(int timeoutMs) {
  if (fd < 0) return 0;
  struct pollfd p = {fd, POLLIN, 0};
  const int ready = emu_TerminalPoll(&p, 1, timeoutMs);
  if (ready > 0 && (p.revents & (POLLHUP | POLLERR)) != 0) {
    emu_TerminalPause(timeoutMs);  // not spun on while the device reports it
    return 0;
  }
  return ready > 0 && (p.revents & POLLIN) != 0 ? 1 : 0;
}

}  // namespace

const EmuLineKind emu_serialDeviceLine = {
    .names = emu_SerialDeviceNames,
    .open = emu_SerialDeviceOpen,
    .close = emu_TerminalClose,
    .isOpen = emu_SerialDeviceIsOpen,
    .readByte = emu_SerialDeviceReadByte,
    .read = emu_SerialDeviceRead,
    .writeByte = emu_TerminalWriteByte,
    .write = emu_SerialDeviceWrite,
    .flush = emu_TerminalFlush,
    .wait = emu_SerialDeviceWait,
    .waitMidAnswer = nullptr,
    .takeHangUp = nullptr,
    .clientPlace = nullptr,
    .dropClient = nullptr,
    .connected = nullptr,
    .setBaud = emu_TerminalSetBaud,
};

speed_t emu_TerminalSpeed(uint32_t baudrate) {
  switch (baudrate) {
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
  }
}
