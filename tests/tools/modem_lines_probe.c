/* What a scan tool that reads modem lines gets from a terminal: opens the terminal named on
 * the command line and prints one line per request, "NAME 0xBITS" or "NAME error TEXT".
 *   modem_lines_probe PATH         the modem line requests in turn, then a request that is no
 *                                  modem line's, then TIOCMGET on /dev/null
 *   modem_lines_probe PATH wait    TIOCMIWAIT, after printing "waiting"; ends when a signal
 *                                  (SIGUSR1) interrupts it
 */
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

static void Report(const char* name, int result, int bits) {
  if (result == -1) {
    printf("%s error %s\n", name, strerror(errno));
  } else {
    printf("%s 0x%03x\n", name, (unsigned)bits);
  }
}

static void Get(int fd, const char* name) {
  int bits = 0;
  const int result = ioctl(fd, TIOCMGET, &bits);
  Report(name, result, bits);
}

static void Change(int fd, unsigned long request, const char* name, int bits) {
  Report(name, ioctl(fd, request, &bits), bits);
}

static void OnSignal(int signo) { (void)signo; }

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const int fd = open(argv[1], O_RDWR | O_NOCTTY);
  if (fd < 0) {
    printf("open error %s\n", strerror(errno));
    return 1;
  }
  if (argc > 2 && strcmp(argv[2], "wait") == 0) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;  /* no SA_RESTART: the wait ends with EINTR */
    sigaction(SIGUSR1, &action, NULL);
    printf("waiting\n");
    fflush(stdout);
    Report("miwait", ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR), 0);
    return 0;
  }
  Get(fd, "get");
  Change(fd, TIOCMBIC, "bic", TIOCM_DTR);
  Get(fd, "get");
  Change(fd, TIOCMBIS, "bis", TIOCM_DTR);
  Get(fd, "get");
  Change(fd, TIOCMSET, "set", TIOCM_RTS | TIOCM_DSR);
  Get(fd, "get");
  struct serial_icounter_struct counts;
  memset(&counts, 0xFF, sizeof counts);
  const int counted = ioctl(fd, TIOCGICOUNT, &counts);
  Report("icount", counted, counts.cts + counts.dsr + counts.dcd + counts.rng);
  struct winsize size;
  Report("winsize", ioctl(fd, TIOCGWINSZ, &size), 0);
  const int null = open("/dev/null", O_RDWR);
  Get(null, "null");
  return 0;
}
