// Traffic log. A tester's line ends with its carriage return, a module's answer with its prompt;
// when the other side starts sending first, what is pending is written as it stands, so the
// entries keep the order in which the bytes crossed.
#include "controller/traffic_log.h"

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

std::atomic<bool> trafficLogOn{false};

namespace {

constexpr size_t ENTRY_MAX = 4096;  // escaped characters of one entry; a longer line goes on

struct PendingEntry {
  char text[ENTRY_MAX + 8];
  size_t length;
  double startMs;
};

pthread_mutex_t logMutex = PTHREAD_MUTEX_INITIALIZER;
FILE* logFile = nullptr;
bool ownFile = false;
timespec started;
PendingEntry pending[2];  // by sender
int pendingSender = -1;

double emu_LogNowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec - started.tv_sec) * 1000.0 +
         static_cast<double>(t.tv_nsec - started.tv_nsec) / 1e6;
}

const char* const SENDER_NAME[2] = {"tester", "module"};

void emu_LogWriteEntry(int sender) {
  PendingEntry& e = pending[sender];
  if (e.length == 0) return;
  e.text[e.length] = '\0';
  fprintf(logFile, "%12.3f %s %s\n", e.startMs, SENDER_NAME[sender], e.text);
  fflush(logFile);
  e.length = 0;
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
  clock_gettime(CLOCK_MONOTONIC, &started);
  if (strcmp(path, "-") == 0) {
    logFile = stderr;
    ownFile = false;
  } else {
    logFile = fopen(path, "w");
    if (logFile == nullptr) {
      fprintf(stderr, "fopen() traffic log %s failed: %s\n", path, strerror(errno));
      return -1;
    }
    ownFile = true;
  }
  fprintf(logFile, "# Padix traffic log: milliseconds since start, sender (tester or module), bytes\n");
  fflush(logFile);
  trafficLogOn = true;
  return 0;
}

void emu_CloseTrafficLog() {
  if (logFile == nullptr) return;
  pthread_mutex_lock(&logMutex);
  trafficLogOn = false;
  for (int s = 0; s < 2; ++s) emu_LogWriteEntry(s);
  if (ownFile) fclose(logFile);
  logFile = nullptr;
  pthread_mutex_unlock(&logMutex);
}

void emu_LogTrafficBytes(EmuSender from, const uint8_t* bytes, size_t n) {
  const int sender = static_cast<int>(from);
  const uint8_t end = from == EmuSender::Tester ? '\r' : '>';
  // Writing the file is a cancellation point; the module thread must not leave the lock held.
  int oldState;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &oldState);
  pthread_mutex_lock(&logMutex);
  if (logFile != nullptr) {
    if (pendingSender >= 0 && pendingSender != sender) emu_LogWriteEntry(pendingSender);
    pendingSender = sender;
    PendingEntry& e = pending[sender];
    for (size_t i = 0; i < n; ++i) {
      if (e.length == 0) e.startMs = emu_LogNowMs();
      emu_LogAppend(e, bytes[i]);
      if (bytes[i] == end || e.length >= ENTRY_MAX) emu_LogWriteEntry(sender);
    }
  }
  pthread_mutex_unlock(&logMutex);
  pthread_setcancelstate(oldState, nullptr);
}
