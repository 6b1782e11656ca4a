// The headless front end: the window API without a display. Commands on standard input drive
// it (wait, key, hold, shot, text, quit); end of input quits.
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "window/headless_window.h"
#include "window/lcd_renderer.h"
#include "window/window_api.h"
#include "window/window_geometry.h"

namespace {

pthread_t readerThread;
pthread_mutex_t stateMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t keyMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t keyChanged = PTHREAD_COND_INITIALIZER;
bool readerStarted = false;

// Drawing state (stateMutex).
uint8_t display[1056];
bool haveDisplay = false;
uint32_t framesHandedOver = 0;
LcdView view = {nullptr, 0, 0, 0, 255, false, false, 0};

// Input state (keyMutex).
int key = 0;
int button = 0;
bool keyWaitEnded = false;

struct KeyName {
  const char* name;
  int value;
};
const KeyName KEY_NAMES[] = {{"Up", EMU_KEY_UP},         {"Down", EMU_KEY_DOWN},
                             {"Left", EMU_KEY_LEFT},     {"Right", EMU_KEY_RIGHT},
                             {"Return", EMU_KEY_RETURN}, {"Escape", EMU_KEY_ESCAPE}};

int emu_KeyValueOf(const char* name) {
  for (const KeyName& k : KEY_NAMES)
    if (strcmp(name, k.name) == 0) return k.value;
  if (strlen(name) == 1) return static_cast<unsigned char>(name[0]);
  return 0;
}

void emu_SetKey(int value) {
  pthread_mutex_lock(&keyMutex);
  key = value;
  pthread_cond_broadcast(&keyChanged);
  pthread_mutex_unlock(&keyMutex);
}

// A key typed by a script waits until the key loop has taken the one typed before, so that keys
// typed one after the other all arrive (a window has a user's pace; a script has none). When no
// key loop takes it (the start-up waits, a restart) the key is replaced after this time, as the
// window replaces it.
constexpr long KEY_HANDOVER_WAIT_MS = 5000;

void emu_TypeKeyInTurn(int value) {
  struct timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += KEY_HANDOVER_WAIT_MS / 1000;
  pthread_mutex_lock(&keyMutex);
  while (key != 0 && pthread_cond_timedwait(&keyChanged, &keyMutex, &deadline) == 0) {
  }
  key = value;
  pthread_cond_broadcast(&keyChanged);
  pthread_mutex_unlock(&keyMutex);
}

void emu_SetButton(int value) {
  pthread_mutex_lock(&keyMutex);
  button = value;
  pthread_cond_broadcast(&keyChanged);
  pthread_mutex_unlock(&keyMutex);
}

void emu_SleepMs(long ms) {
  if (ms > 0) usleep(static_cast<useconds_t>(ms) * 1000);
}

bool emu_PixelSet(const uint8_t* mem, int x, int y) { return (mem[(y / 8) * 132 + x] >> (y % 8)) & 1; }

void emu_PrintText() {
  pthread_mutex_lock(&stateMutex);
  for (int y = 0; y < 64; ++y) {
    char row[133];
    for (int x = 0; x < 132; ++x) row[x] = emu_PixelSet(display, x, y) ? '#' : '.';
    row[132] = '\0';
    printf("%s\n", row);
  }
  pthread_mutex_unlock(&stateMutex);
  fflush(stdout);
}

int emu_WritePbm(const char* path) {
  FILE* f = fopen(path, "w");
  if (f == nullptr) return -1;
  pthread_mutex_lock(&stateMutex);
  fprintf(f, "P1\n132 64\n");
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 132; ++x) fputc(emu_PixelSet(display, x, y) ? '1' : '0', f);
    fputc('\n', f);
  }
  pthread_mutex_unlock(&stateMutex);
  return fclose(f) == 0 ? 0 : -1;
}

int emu_WriteShot(const char* path) {
  size_t n = strlen(path);
  if (n > 4 && strcmp(path + n - 4, ".pbm") == 0) return emu_WritePbm(path);
  pthread_mutex_lock(&stateMutex);
  LcdView copy = view;
  uint8_t mem[1056];
  memcpy(mem, display, sizeof mem);
  copy.displayMem = haveDisplay ? mem : nullptr;
  pthread_mutex_unlock(&stateMutex);
  return emu_RenderLcdPng(copy, path);
}

EmuHostCommand hostCommand = nullptr;

// One command line; returns false when the run is to end.
bool emu_RunCommand(const std::string& line) {
  char verb[16] = {0}, arg[256] = {0};
  long ms = 0;
  int fields = sscanf(line.c_str(), "%15s %255s %ld", verb, arg, &ms);
  if (fields <= 0) return true;
  if (strcmp(verb, "quit") == 0) return false;
  if (strcmp(verb, "wait") == 0) {
    emu_SleepMs(strtol(arg, nullptr, 10));
  } else if (strcmp(verb, "key") == 0 && fields >= 2) {
    const int value = emu_KeyValueOf(arg);
    emu_TypeKeyInTurn(value);
    // "q" ends the run as it closes the window: the run's end waits for this thread, which must
    // not go back to wait for a command that may never come.
    if (value == EMU_KEY_QUIT) return false;
  } else if (strcmp(verb, "hold") == 0 && fields == 3) {
    emu_SetButton(emu_KeyValueOf(arg));
    emu_SleepMs(ms);
    emu_SetButton(0);
  } else if (strcmp(verb, "shot") == 0 && fields >= 2) {
    if (emu_WriteShot(arg) != 0) fprintf(stderr, "shot: cannot write %s\n", arg);
  } else if (strcmp(verb, "text") == 0) {
    emu_PrintText();
  } else if (hostCommand != nullptr && (strcmp(verb, "load") == 0 || strcmp(verb, "set") == 0 ||
                                        strcmp(verb, "save") == 0 || strcmp(verb, "import") == 0)) {
    std::string rest = line.substr(line.find(verb) + strlen(verb));
    rest.erase(0, rest.find_first_not_of(" \t"));
    rest.erase(rest.find_last_not_of(" \t\r\n") + 1);
    hostCommand(verb, rest.c_str());
  } else {
    fprintf(stderr, "unknown command: %s\n", line.c_str());
  }
  return true;
}

void* emu_ReaderThread(void*) {
  (void)pthread_setname_np(pthread_self(), "commands");
  char buf[512];
  while (fgets(buf, sizeof buf, stdin) != nullptr) {
    if (!emu_RunCommand(buf)) break;
  }
  emu_SetKey(EMU_KEY_QUIT);  // like closing the window
  return nullptr;
}

}  // namespace

void emu_GtkSetHostCommand(EmuHostCommand handler) { hostCommand = handler; }

// Without a window there is no menu: scripts have the commands.
void emu_GtkSetOperatorMenu(EmuMenuDescribe, EmuMenuActivate) {}

int emu_GtkInit(const EmuWindowFlags&) {
  int err = pthread_create(&readerThread, nullptr, emu_ReaderThread, nullptr);
  if (err != 0) {
    fprintf(stderr, "pthread_create(gtkThread) failed with error %d!\n", err);
    return -1;
  }
  readerStarted = true;
  return 0;
}

void emu_GtkExit() {
  if (readerStarted) pthread_join(readerThread, nullptr);
  readerStarted = false;
}

int emu_GtkGetKey() {
  pthread_mutex_lock(&keyMutex);
  int value = key != 0 ? key : button;
  if (key != 0) {
    key = 0;
    pthread_cond_broadcast(&keyChanged);  // a script's next key may come
  }
  pthread_mutex_unlock(&keyMutex);
  return value;
}

void emu_GtkWaitForKey(int timeoutMs) {
  const struct timespec deadline = emu_DeadlineAfterMs(timeoutMs < 0 ? 0 : timeoutMs);
  pthread_mutex_lock(&keyMutex);
  pthread_cleanup_push(+[](void* m) { pthread_mutex_unlock(static_cast<pthread_mutex_t*>(m)); },
                       &keyMutex);
  if (key == 0 && !keyWaitEnded) {
    if (timeoutMs < 0)
      pthread_cond_wait(&keyChanged, &keyMutex);
    else
      pthread_cond_timedwait(&keyChanged, &keyMutex, &deadline);
  }
  keyWaitEnded = false;
  pthread_cleanup_pop(1);
}

void emu_GtkEndKeyWait() {
  pthread_mutex_lock(&keyMutex);
  keyWaitEnded = true;
  pthread_cond_broadcast(&keyChanged);
  pthread_mutex_unlock(&keyMutex);
}

int emu_GtkDrawDisplay(const uint8_t* displayMem) {
  pthread_mutex_lock(&stateMutex);
  memcpy(display, displayMem, sizeof display);
  haveDisplay = true;
  ++framesHandedOver;
  pthread_mutex_unlock(&stateMutex);
  return 0;
}

void emu_GtkSetColors(int red, int green, int blue, const uint8_t*) {
  pthread_mutex_lock(&stateMutex);
  view.red = red, view.green = green, view.blue = blue;
  pthread_mutex_unlock(&stateMutex);
}

void emu_GtkSetContrast(int value) {
  pthread_mutex_lock(&stateMutex);
  view.contrast = value;
  pthread_mutex_unlock(&stateMutex);
}

void emu_GtkSetOrientation(int rotated) {
  pthread_mutex_lock(&stateMutex);
  view.rotated = rotated != 0;
  pthread_mutex_unlock(&stateMutex);
}

void emu_GtkDrawNumberMem(int value, int enabled) {
  pthread_mutex_lock(&stateMutex);
  view.numberMem = value;
  view.numberMemEnabled = enabled != 0;
  pthread_mutex_unlock(&stateMutex);
}

void emu_HeadlessTypeKey(int keyValue) { emu_SetKey(keyValue); }
void emu_HeadlessHoldKey(int keyValue) { emu_SetButton(keyValue); }

uint32_t emu_HeadlessGetDisplay(uint8_t* displayMem) {
  pthread_mutex_lock(&stateMutex);
  memcpy(displayMem, display, sizeof display);
  uint32_t frames = framesHandedOver;
  pthread_mutex_unlock(&stateMutex);
  return frames;
}
