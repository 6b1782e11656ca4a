// Traffic log. A tester's line ends with its carriage return, a module's answer with its prompt;
// when the other side starts sending first, what is pending is written as it stands, so the
// entries keep the order in which the bytes crossed. Each entry goes out with one write; when the
// disk is full the log is cut back to its last whole entry and stops, said once on standard error.
#include "line/traffic_log.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

std::atomic<bool> trafficLogOn{false};

namespace {

constexpr size_t ENTRY_MAX = 4096;  // escaped characters of one entry; a longer line goes on

struct PendingEntry {
  char text[ENTRY_MAX + 8];
  size_t length;
  double lastMs;  // when its last byte crossed the line: the entry's time
};

pthread_mutex_t logMutex = PTHREAD_MUTEX_INITIALIZER;
int logFd = -1;
bool ownFile = false;
char logName[PATH_MAX];  // for the message when writing fails
off_t wholeEntriesEnd = 0;  // where the last whole entry ends in the file (own file only)
timespec started;
PendingEntry pending[2];  // by sender
int pendingSender = -1;
std::atomic<uint8_t> moduleEnd{'>'};
bool timeStarted = false;  // the times count from the first of the file's open and the memory's start

// The last entries, in memory (logMutex).
bool keepInMemory = false;
char kept[TRAFFIC_KEPT][TRAFFIC_KEPT_LENGTH + 1];
uint64_t keptCount = 0;
uint64_t senderCount[2] = {0, 0};

void emu_LogStartTime() {
  if (timeStarted) return;
  clock_gettime(CLOCK_MONOTONIC, &started);
  timeStarted = true;
}

void emu_LogKeep(const char* line, size_t length) {
  if (!keepInMemory) return;
  if (length > 0 && line[length - 1] == '\n') --length;
  if (length > TRAFFIC_KEPT_LENGTH) length = TRAFFIC_KEPT_LENGTH;
  char* slot = kept[keptCount % TRAFFIC_KEPT];
  memcpy(slot, line, length);
  slot[length] = '\0';
  ++keptCount;
}

double emu_LogNowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec - started.tv_sec) * 1000.0 +
         static_cast<double>(t.tv_nsec - started.tv_nsec) / 1e6;
}

const char* const SENDER_NAME[2] = {"tester", "module"};

// One line out whole, or the log stops: a short write is cut back to the last whole entry (a
// reader never sees half an entry), and what went wrong is said once.
void emu_LogWriteLine(const char* line, size_t length) {
  if (logFd < 0) return;
  int failure = 0;
  for (size_t done = 0; failure == 0 && done < length;) {
    const ssize_t n = write(logFd, line + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) failure = n < 0 ? errno : EIO;
    else done += static_cast<size_t>(n);
  }
  if (failure == 0) {
    wholeEntriesEnd += static_cast<off_t>(length);
    return;
  }
  // Should the cut fail too, the message still says where the log ended.
  if (ownFile) (void)!ftruncate(logFd, wholeEntriesEnd);
  fprintf(stderr, "traffic log %s: write failed: %s; logging stopped\n", logName, strerror(failure));
  trafficLogOn = keepInMemory;
  if (ownFile) close(logFd);
  logFd = -1;
}

void emu_LogWriteEntry(int sender) {
  PendingEntry& e = pending[sender];
  if (e.length == 0) return;
  e.text[e.length] = '\0';
  char line[ENTRY_MAX + 64];  // the time (up to 20 digits), sender, the escaped bytes, the line end
  const int length = snprintf(line, sizeof line, "%12.3f %s %s\n", e.lastMs, SENDER_NAME[sender], e.text);
  e.length = 0;
  if (length <= 0 || static_cast<size_t>(length) >= sizeof line) return;
  ++senderCount[sender];
  emu_LogKeep(line, static_cast<size_t>(length));
  emu_LogWriteLine(line, static_cast<size_t>(length));
}

void emu_LogAppend(PendingEntry& e, uint8_t c) {
  if (c >= 0x20 && c < 0x7F && c != '<') {
    e.text[e.length++] = static_cast<char>(c);
  } else {
    static constexpr char HEX[] = "0123456789ABCDEF";
    e.text[e.length++] = '<';
    e.text[e.length++] = HEX[c >> 4];
    e.text[e.length++] = HEX[c & 0x0F];
    e.text[e.length++] = '>';
  }
}

}  // namespace

int emu_OpenTrafficLog(const char* path) {
  pthread_mutex_lock(&logMutex);
  emu_LogStartTime();
  pthread_mutex_unlock(&logMutex);
  snprintf(logName, sizeof logName, "%s", strcmp(path, "-") == 0 ? "(standard error)" : path);
  wholeEntriesEnd = 0;
  if (strcmp(path, "-") == 0) {
    logFd = STDERR_FILENO;
    ownFile = false;
  } else {
    logFd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (logFd < 0) {
      fprintf(stderr, "fopen() traffic log %s failed: %s\n", path, strerror(errno));
      return -1;
    }
    ownFile = true;
  }
  static constexpr char HEADER[] = "# Padix traffic log: milliseconds since start, sender (tester or module), bytes\n";
  trafficLogOn = true;
  emu_LogWriteLine(HEADER, sizeof HEADER - 1);
  return 0;
}

void emu_CloseTrafficLog() {
  pthread_mutex_lock(&logMutex);
  for (int s = 0; s < 2; ++s) emu_LogWriteEntry(s);
  trafficLogOn = keepInMemory;
  if (ownFile && logFd >= 0) close(logFd);
  logFd = -1;
  pendingSender = -1;
  pthread_mutex_unlock(&logMutex);
}

void emu_LogTrafficNote(const char* text) {
  if (!trafficLogOn.load(std::memory_order_relaxed)) return;
  char line[256];  // the time, the note (cut to fit) and the line end
  int oldState;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &oldState);
  pthread_mutex_lock(&logMutex);
  const int length = snprintf(line, sizeof line, "#%11.3f %.200s\n", emu_LogNowMs(), text);
  if (length > 0 && static_cast<size_t>(length) < sizeof line) {
    emu_LogKeep(line, static_cast<size_t>(length));
    emu_LogWriteLine(line, static_cast<size_t>(length));
  }
  pthread_mutex_unlock(&logMutex);
  pthread_setcancelstate(oldState, nullptr);
}

void emu_SetTrafficLogModuleEnd(uint8_t end) { moduleEnd.store(end, std::memory_order_relaxed); }

void emu_LogTrafficBytes(EmuSender from, const uint8_t* bytes, size_t n) {
  const int sender = static_cast<int>(from);
  const uint8_t end = from == EmuSender::Tester ? '\r' : moduleEnd.load(std::memory_order_relaxed);
  // Writing the file is a cancellation point; the module thread must not leave the lock held.
  int oldState;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &oldState);
  pthread_mutex_lock(&logMutex);
  if (logFd >= 0 || keepInMemory) {
    if (pendingSender >= 0 && pendingSender != sender) emu_LogWriteEntry(pendingSender);
    pendingSender = sender;
    PendingEntry& e = pending[sender];
    for (size_t i = 0; i < n; ++i) {
      emu_LogAppend(e, bytes[i]);
      e.lastMs = emu_LogNowMs();
      if (bytes[i] == end || e.length >= ENTRY_MAX) emu_LogWriteEntry(sender);
    }
  }
  pthread_mutex_unlock(&logMutex);
  pthread_setcancelstate(oldState, nullptr);
}

void emu_KeepTrafficInMemory() {
  pthread_mutex_lock(&logMutex);
  emu_LogStartTime();
  keepInMemory = true;
  trafficLogOn = true;
  pthread_mutex_unlock(&logMutex);
}

uint64_t emu_TrafficEntryCount() {
  pthread_mutex_lock(&logMutex);
  const uint64_t n = keptCount;
  pthread_mutex_unlock(&logMutex);
  return n;
}

int emu_TrafficEntry(uint64_t number, char* out, size_t size) {
  if (size == 0) return -1;
  pthread_mutex_lock(&logMutex);
  const bool there = number >= 1 && number <= keptCount && keptCount - number < TRAFFIC_KEPT;
  if (there) snprintf(out, size, "%s", kept[(number - 1) % TRAFFIC_KEPT]);
  pthread_mutex_unlock(&logMutex);
  return there ? 0 : -1;
}

void emu_TrafficSenderCounts(uint64_t* tester, uint64_t* module) {
  pthread_mutex_lock(&logMutex);
  *tester = senderCount[0];
  *module = senderCount[1];
  pthread_mutex_unlock(&logMutex);
}
