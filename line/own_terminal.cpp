// The line on a pseudo-terminal of Padix's own: opening "/dev/ptmx" creates one whose other end
// a client opens; its name is printed on standard error. A client of that terminal may close it
// and open it again (or another client may come): each one starts on a clean line. Unlike a
// serial device, the master sees its client leave (a hang-up, and reads that fail) and can hang
// it up in turn.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>

#include "line/line_kind.h"
#include "line/serial_port.h"
#include "line/terminal.h"

namespace {

constexpr char OWN_TERMINAL[] = "/dev/ptmx";

// The client's end, and whether its client has gone (the master reports a hang-up) and the
// module has not been told yet.
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
  if (clientGone) return;
  hangUpToReport = true;
  if (!emu_ClientEndReopened()) {
    // Read out rather than flushed: the next client may open the terminal and write while this
    // runs, and what it wrote must stay. Once read, an open seen now says whose it may be.
    carriedLength = 0;
    for (ssize_t n; carriedLength < sizeof carried &&
                    (n = read(emu_TerminalFd(), carried + carriedLength, sizeof carried - carriedLength)) > 0;)
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
  if (!emu_ClientEndReopened() || clientGone) return false;
  hangUpToReport = true;
  emu_FlushClientEnd();
  emu_TellLineClient(false);
  emu_TellLineClient(true);
  return true;
}

// A read that took bytes: the client may have left and the next one opened the terminal and
// written between the look before the read and the read itself (a busy machine may stop the line's
// thread there for long). The bytes may then be the next client's first request: they are kept
// for it, as when it came before the hang-up was seen, and the change of client is told first.
// True when they were kept.
bool emu_KeptForNextClient(const uint8_t* bytes, size_t n) {
  if (!emu_LookAtClientEnd()) return false;
  carriedLength = n < sizeof carried ? n : sizeof carried;
  memcpy(carried, bytes, carriedLength);
  return true;
}

bool emu_OwnTerminalNames(const char* device) { return strcmp(device, OWN_TERMINAL) == 0; }

int emu_OwnTerminalOpen(const char* device, uint32_t baudrate, bool) {
  lineBaudrate = baudrate;
  if (emu_TerminalOpen(device) != 0) return -1;
  clientGone = false;
  hangUpToReport = false;
  clientEndClosed = false;
  clientEnd[0] = '\0';
  const int fd = emu_TerminalFd();
  if (grantpt(fd) != 0 || unlockpt(fd) != 0) return emu_TerminalFail("open() serial device failed");
  const char* name = ptsname(fd);
  if (name != nullptr) snprintf(clientEnd, sizeof clientEnd, "%s", name);
  // The line settings make reads return at once on a device. On the master side of a
  // pseudo-terminal they apply to the client's side only, so its descriptor stays non-blocking
  // instead: a read with nothing there must not wait either.
  if (emu_TerminalSetUp(baudrate, O_NONBLOCK) != 0) return -1;
  if (clientEnd[0] != '\0') {
    clientOpens = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (clientOpens >= 0 &&
        inotify_add_watch(clientOpens, clientEnd, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
      close(clientOpens);
      clientOpens = -1;  // a client is then looked for after a pause
    }
  }
  // Named once the line is set up: a client that opens it at once keeps what it writes.
  fprintf(stderr, "Serial device: %s\n", clientEnd[0] != '\0' ? clientEnd : "?");
  return 0;
}

void emu_OwnTerminalClose() {
  if (emu_TerminalFd() < 0) return;
  emu_TerminalClose();
  clientEnd[0] = '\0';
  carriedLength = 0;
  if (clientOpens >= 0) close(clientOpens);
  clientOpens = -1;
}

int emu_OwnTerminalIsOpen() { return emu_TerminalFd() >= 0 ? 1 : 0; }

int emu_OwnTerminalRead(uint8_t* bytes, int max);

int emu_OwnTerminalReadByte(uint8_t* byte) {
  if (carriedLength > 0) return emu_OwnTerminalRead(byte, 1);  // the next client's, kept first
  if (emu_TerminalFd() < 0 || emu_LookAtClientEnd()) return 0;
  const ssize_t n = emu_TerminalRead(byte, 1);
  if (n == 1) {
    if (emu_KeptForNextClient(byte, 1)) return 0;
    clientGone = false;
    return 1;
  }
  if (n < 0 && errno == EIO) emu_ClientLeft();  // the master of a terminal nobody has open
  return 0;
}

bool emu_NoClient() {
  struct pollfd p = {emu_TerminalFd(), POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)) != 0;
}

// Nobody holds our terminal open: waits until somebody opens it, at most timeoutMs (a negative
// one: no limit). Opens seen so far (our own, to flush the client's input, among them) are
// forgotten first; a client that came before that holds the line, which the master then shows.
void emu_WaitForClient(int timeoutMs) {
  if (clientOpens < 0) {
    emu_TerminalPause(timeoutMs);
    return;
  }
  emu_ForgetClientOpens();
  if (!emu_NoClient()) return;
  struct pollfd p = {clientOpens, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) > 0) emu_ForgetClientOpens();
}

bool emu_DropIfAsked();

int emu_OwnTerminalWait(int timeoutMs) {
  (void)emu_DropIfAsked();
  const int fd = emu_TerminalFd();  // a drop may have opened a new terminal
  if (fd < 0) return 0;
  if (carriedLength > 0) return 1;
  struct pollfd both[2] = {{fd, POLLIN, 0}, {clientOpens, POLLIN, 0}};
  const struct pollfd& p = both[0];
  const int ready = emu_TerminalPoll(both, clientOpens >= 0 ? 2 : 1, timeoutMs);
  // A hang-up shown in the same look as the next client's open is the one that open ended: once
  // the change of client is told, the line is the next client's, and what waits is its own.
  const bool clientChanged = ready > 0 && (both[1].revents & POLLIN) != 0 && emu_LookAtClientEnd();
  if (ready > 0 && !clientChanged && (p.revents & (POLLHUP | POLLERR)) != 0) {
    emu_ClientLeft();
    if (carriedLength > 0) return 1;
    // Don't spin on the hang-up the master keeps reporting while nobody has the terminal open.
    emu_WaitForClient(timeoutMs);
    return 0;
  }
  if (ready >= 0) {
    clientGone = false;  // a client holds the line open (again)
    emu_TellLineClient(true);
  }
  return ready > 0 && (p.revents & POLLIN) != 0 ? 1 : 0;
}

int emu_OwnTerminalRead(uint8_t* bytes, int max) {
  // Nothing is read in the same look as a drop: the port hears of the drop first.
  if (emu_DropIfAsked()) return 0;
  if (emu_TerminalFd() < 0 || max <= 0 || emu_LookAtClientEnd()) return 0;
  if (carriedLength > 0) {
    const size_t n = carriedLength < static_cast<size_t>(max) ? carriedLength : static_cast<size_t>(max);
    memcpy(bytes, carried, n);
    memmove(carried, carried + n, carriedLength - n);
    carriedLength -= n;
    clientGone = false;
    emu_TerminalInputCame();
    return static_cast<int>(n);
  }
  const ssize_t n = emu_TerminalRead(bytes, static_cast<size_t>(max));
  if (n > 0) {
    if (emu_KeptForNextClient(bytes, static_cast<size_t>(n))) return 0;
    clientGone = false;
    return static_cast<int>(n);
  }
  if (n < 0 && errno == EIO) emu_ClientLeft();  // the master of a terminal nobody has open
  return 0;
}

void emu_OwnTerminalWrite(const char* bytes, size_t n) {
  // The client has gone: what is written now would wait there for the next one.
  if (clientGone) return;
  if (emu_TerminalWrite(bytes, n)) emu_ClientLeft();
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
void emu_OwnTerminalDropClient() {
  if (emu_TerminalFd() < 0 || clientEnd[0] == '\0') return;
  dropAsked = true;
  const int end = open(clientEnd, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (end < 0) return;
  (void)!write(end, "", 1);
  close(end);
}

// On the line's thread: the client reads its last answer, what it sent is thrown away, then it
// is hung up (or, where hanging up is not allowed, the terminal replaced). Returns whether it
// was dropped.
bool emu_DropIfAsked() {
  if (!dropAsked.exchange(false) || emu_TerminalFd() < 0 || clientEnd[0] == '\0') return false;
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
  (void)tcflush(emu_TerminalFd(), TCIFLUSH);
  carriedLength = 0;
  // A hang-up puts the terminal's settings back to a fresh terminal's (echo on, lines edited):
  // until the next client set its own, what the line wrote would come back to it as if sent.
  termios settings;
  const bool settingsKept = tcgetattr(emu_TerminalFd(), &settings) == 0;
  const bool hungUp = ioctl(end, TIOCVHANGUP) == 0;
  if (hungUp && settingsKept) (void)tcsetattr(emu_TerminalFd(), TCSANOW, &settings);
  close(end);
  emu_ForgetClientOpens();  // the drop's own opens; the drop itself tells of the change
  if (!hungUp) {
    emu_OwnTerminalClose();
    if (emu_OwnTerminalOpen(OWN_TERMINAL, lineBaudrate, false) != 0) return false;
  }
  droppedToReport = true;
  return true;
}

int emu_OwnTerminalTakeHangUp() {
  const bool hungUp = hangUpToReport || droppedToReport.exchange(false);
  hangUpToReport = false;
  return hungUp ? 1 : 0;
}

bool emu_OwnTerminalClientPlace(const char** kind, const char** where) {
  *kind = "pty";
  *where = clientEnd;
  return clientEnd[0] != '\0';
}

}  // namespace

const EmuLineKind emu_ownTerminalLine = {
    .names = emu_OwnTerminalNames,
    .open = emu_OwnTerminalOpen,
    .close = emu_OwnTerminalClose,
    .isOpen = emu_OwnTerminalIsOpen,
    .readByte = emu_OwnTerminalReadByte,
    .read = emu_OwnTerminalRead,
    .writeByte = emu_TerminalWriteByte,
    .write = emu_OwnTerminalWrite,
    .flush = emu_TerminalFlush,
    .wait = emu_OwnTerminalWait,
    .waitMidAnswer = nullptr,
    .takeHangUp = emu_OwnTerminalTakeHangUp,
    .clientPlace = emu_OwnTerminalClientPlace,
    .dropClient = emu_OwnTerminalDropClient,
    .connected = nullptr,
    .setBaud = nullptr,
};
