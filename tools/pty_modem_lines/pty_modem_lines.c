/* Modem lines for a pseudo-terminal, preloaded into a scan tool:
 *   LD_PRELOAD=build/libpty_modem_lines.so some-scan-tool /dev/pts/7
 *
 * Some scan tools read the serial line's modem signals before they send a byte, and give up
 * when the line has none: a Linux pseudo-terminal refuses TIOCMGET and its kin ("Inappropriate
 * ioctl for device"). This wraps ioctl() so that such a request on a pseudo-terminal is answered
 * as a line with DSR, CTS and CD asserted, and with the DTR and RTS the program last set (both up
 * at first, as a serial port is after open()). The lines never change, so TIOCMIWAIT waits until
 * a signal interrupts it, and TIOCGICOUNT counts nothing. Every other request, and every request
 * the real ioctl() answers, goes to the real ioctl() unchanged.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <stdint.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

typedef int (*RealIoctl)(int, unsigned long, ...);

/* The lines a program may set, and those the other end of the line holds up. */
#define PML_OWN_LINES (TIOCM_DTR | TIOCM_RTS)
#define PML_PEER_LINES (TIOCM_DSR | TIOCM_CTS | TIOCM_CAR)

/* What each descriptor's program has set, with the terminal it was set on: a descriptor number
 * used again for another terminal starts afresh. Kept lock-free, one 64-bit word each: the
 * device number in the high half, the lines and a "set" mark in the low half. Descriptors
 * beyond the table are answered with both lines up. */
#define PML_MAX_FDS 1024
#define PML_SET_MARK 0x80000000u
static uint64_t pmlLines[PML_MAX_FDS];

static RealIoctl pml_Real(void) {
  static RealIoctl real;
  RealIoctl found = __atomic_load_n(&real, __ATOMIC_ACQUIRE);
  if (found == NULL) {
    found = (RealIoctl)dlsym(RTLD_NEXT, "ioctl");
    __atomic_store_n(&real, found, __ATOMIC_RELEASE);
  }
  return found;
}

/* A pseudo-terminal's slave (/dev/pts/N: majors 136 to 143) or its master (/dev/ptmx). */
static int pml_IsPty(int fd, uint32_t* device) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  const unsigned int devMajor = major(st.st_rdev);
  *device = (uint32_t)st.st_rdev;
  return (devMajor >= 136 && devMajor <= 143) || (devMajor == 5 && minor(st.st_rdev) == 2);
}

static int pml_OwnLines(int fd, uint32_t device) {
  if (fd < 0 || fd >= PML_MAX_FDS) return PML_OWN_LINES;
  const uint64_t entry = __atomic_load_n(&pmlLines[fd], __ATOMIC_RELAXED);
  if ((uint32_t)(entry >> 32) != device || ((uint32_t)entry & PML_SET_MARK) == 0) return PML_OWN_LINES;
  return (int)((uint32_t)entry & PML_OWN_LINES);
}

static void pml_SetOwnLines(int fd, uint32_t device, int lines) {
  if (fd < 0 || fd >= PML_MAX_FDS) return;
  const uint64_t entry = (uint64_t)device << 32 | PML_SET_MARK | (uint32_t)(lines & PML_OWN_LINES);
  __atomic_store_n(&pmlLines[fd], entry, __ATOMIC_RELAXED);
}

/* The answer for a modem line request the terminal refused: 0, or -1 with errno. */
static int pml_Answer(int fd, uint32_t device, unsigned long request, void* arg) {
  if (request == TIOCMIWAIT) {
    /* Nothing ever changes: wait, as the real request does, until a signal comes. */
    return pause();
  }
  if (arg == NULL) {
    errno = EFAULT;
    return -1;
  }
  if (request == TIOCGICOUNT) {
    memset(arg, 0, sizeof(struct serial_icounter_struct));
    return 0;
  }
  int* bits = (int*)arg;
  const int own = pml_OwnLines(fd, device);
  switch (request) {
    case TIOCMGET: *bits = PML_PEER_LINES | own; return 0;
    case TIOCMSET: pml_SetOwnLines(fd, device, *bits); return 0;
    case TIOCMBIS: pml_SetOwnLines(fd, device, own | *bits); return 0;
    case TIOCMBIC: pml_SetOwnLines(fd, device, own & ~*bits); return 0;
    default: errno = ENOTTY; return -1;
  }
}

int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  RealIoctl real = pml_Real();
  if (real == NULL) {
    errno = ENOSYS;
    return -1;
  }
  const int modemRequest = request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS ||
                           request == TIOCMBIC || request == TIOCMIWAIT || request == TIOCGICOUNT;
  if (!modemRequest) return real(fd, request, arg);
  const int saved = errno;
  const int result = real(fd, request, arg);
  uint32_t device = 0;
  if (result != -1 || (errno != ENOTTY && errno != EINVAL) || !pml_IsPty(fd, &device)) return result;
  errno = saved;
  return pml_Answer(fd, device, request, arg);
}
