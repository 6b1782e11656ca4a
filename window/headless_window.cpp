// The headless front end: the window API without a display. Commands on standard input drive
// it (wait, key, hold, shot, text, sync, quit, and the host's load, set, save, import), one to a
// line of bounded length. Each answers with one line on standard output once it took effect,
// "ok COMMAND" or "error COMMAND: MESSAGE" (the message also on standard error), so that a script
// can wait for it; a run in which one failed ends with 1. The end of input quits, unless the run
// serves a line (it then serves on until a quit); a close asked for from outside (a signal) ends
// it too.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
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
bool outlivesInput = false;
std::atomic<bool> commandFailed{false};

// Drawing state (stateMutex).
uint8_t display[1056];
bool haveDisplay = false;
uint32_t framesHandedOver = 0;
LcdView view = {nullptr, 0, 0, 0, 255, false, false, 0};

// Input state (keyMutex).
int key = 0;
int button = 0;
bool keyWaitEnded = false;

// The end of the run asked for from outside (emu_GtkClose): the reader stops taking commands and
// its waits end; the key loop takes a quit from then on, whatever a script types. The pipe wakes
// the reader out of its wait for input; made once, it lives as long as the process.
std::atomic<bool> closing{false};
int wakePipe[2] = {-1, -1};
std::atomic<int> wakeFd{-1};

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

// Keys the key loop has taken (emu_GtkGetKey), under keyMutex: a typed key has been handed over
// once this count moved past the one it was typed at.
uint64_t keysTaken = 0;

// True once the key loop has taken the key (the "ok" of "key"); false when it did not within
// KEY_HANDOVER_WAIT_MS (it stays typed, until the key loop or the next key takes its place) or
// the run ends first.
bool emu_TypeKeyInTurn(int value) {
  struct timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += KEY_HANDOVER_WAIT_MS / 1000;
  pthread_mutex_lock(&keyMutex);
  while (key != 0 && !closing.load() &&
         pthread_cond_timedwait(&keyChanged, &keyMutex, &deadline) == 0) {
  }
  key = value;
  const uint64_t typedAt = keysTaken;
  pthread_cond_broadcast(&keyChanged);
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += KEY_HANDOVER_WAIT_MS / 1000;
  while (keysTaken == typedAt && !closing.load() &&
         pthread_cond_timedwait(&keyChanged, &keyMutex, &deadline) == 0) {
  }
  const bool taken = keysTaken != typedAt;
  pthread_mutex_unlock(&keyMutex);
  return taken;
}

void emu_SetButton(int value) {
  pthread_mutex_lock(&keyMutex);
  button = value;
  pthread_cond_broadcast(&keyChanged);
  pthread_mutex_unlock(&keyMutex);
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

// The host's commands (emu_GtkSetHostVerbs), known beside the front end's own.
const EmuHostVerb* hostVerbs = nullptr;
size_t noOfHostVerbs = 0;

// Waits for the time of "wait" and "hold"; a close ends it early.
void emu_SleepMs(long ms) {
  struct timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += ms / 1000;
  deadline.tv_nsec += (ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) deadline.tv_sec += 1, deadline.tv_nsec -= 1000000000L;
  pthread_mutex_lock(&keyMutex);
  while (!closing.load() && pthread_cond_timedwait(&keyChanged, &keyMutex, &deadline) != ETIMEDOUT) {
  }
  pthread_mutex_unlock(&keyMutex);
}

bool emu_IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// A word of a command line: from `*at`, up to the next blank; *at moves past it.
struct Word {
  const char* text;
  size_t length;
};
Word emu_NextWord(const char* line, size_t length, size_t* at) {
  while (*at < length && emu_IsBlank(line[*at])) ++*at;
  const size_t from = *at;
  while (*at < length && !emu_IsBlank(line[*at])) ++*at;
  return {line + from, *at - from};
}

// Milliseconds as digits only, up to EMU_COMMAND_MAX_MS; -1 for anything else.
long emu_MsOf(Word w) {
  if (w.length == 0 || w.length > 9) return -1;
  long ms = 0;
  for (size_t i = 0; i < w.length; ++i) {
    if (w.text[i] < '0' || w.text[i] > '9') return -1;
    ms = ms * 10 + (w.text[i] - '0');
  }
  return ms <= EMU_COMMAND_MAX_MS ? ms : -1;
}

// Text as one line of the answers: control bytes (a zero byte, a newline in a message) as '?'.
void emu_PutOneLine(const char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    putchar(c < 0x20 || c == 0x7F ? '?' : c);
  }
}

// The command as a script typed it, blanks round it and a carriage return dropped.
void emu_PutCommand(const char* line, size_t length) {
  size_t from = 0;
  while (from < length && emu_IsBlank(line[from])) ++from;
  while (length > from && emu_IsBlank(line[length - 1])) --length;
  if (length - from <= EMU_ANSWER_COMMAND_MAX) {
    emu_PutOneLine(line + from, length - from);
    return;
  }
  emu_PutOneLine(line + from, EMU_ANSWER_COMMAND_MAX);
  fputs("...", stdout);
}

// The answer of a command, on standard output: "ok COMMAND", or "error COMMAND: MESSAGE" with
// the message standard error has just been given (a failure counts for the run's status).
void emu_Answer(const char* line, size_t length, const char* message) {
  fputs(message == nullptr ? "ok " : "error ", stdout);
  emu_PutCommand(line, length);
  if (message != nullptr) {
    fputs(": ", stdout);
    emu_PutOneLine(message, strlen(message));
    commandFailed = true;
  }
  putchar('\n');
  fflush(stdout);
}

// Tells a failure on standard error (as it always has been told) and answers it.
void emu_Fail(const char* line, size_t length, const char* message) {
  fprintf(stderr, "%s\n", message);
  emu_Answer(line, length, message);
}

// What the commands do, each answering once it took effect; false when the run is to end.
// `line` is the command as typed, for its answer.
struct Typed {
  const char* line;
  size_t length;
};

bool emu_Ok(const Typed& t) {
  emu_Answer(t.line, t.length, nullptr);
  return true;
}

bool emu_RunQuit(const EmuCommand&, const Typed& t) {
  emu_Ok(t);
  return false;
}

bool emu_RunWait(const EmuCommand& c, const Typed& t) {
  emu_SleepMs(c.ms);
  return emu_Ok(t);
}

// Taken by the key loop: what the device does with it comes after.
bool emu_RunKey(const EmuCommand& c, const Typed& t) {
  if (!emu_TypeKeyInTurn(emu_KeyValueOf(c.word))) {
    char why[PATH_MAX + 64];
    snprintf(why, sizeof why, "key: %s not taken within %ld ms", c.word, KEY_HANDOVER_WAIT_MS);
    emu_Fail(t.line, t.length, why);
  } else {
    emu_Ok(t);
  }
  // "q" ends the run as it closes the window: the run's end waits for this thread, which must
  // not go back to wait for a command that may never come.
  return emu_KeyValueOf(c.word) != EMU_KEY_QUIT;
}

bool emu_RunHold(const EmuCommand& c, const Typed& t) {
  emu_SetButton(emu_KeyValueOf(c.word));
  emu_SleepMs(c.ms);
  emu_SetButton(0);
  return emu_Ok(t);
}

bool emu_RunShot(const EmuCommand& c, const Typed& t) {
  if (emu_WriteShot(c.word) == 0) return emu_Ok(t);
  char why[PATH_MAX + 64];
  snprintf(why, sizeof why, "shot: cannot write %s", c.word);
  emu_Fail(t.line, t.length, why);
  return true;
}

bool emu_RunText(const EmuCommand&, const Typed& t) {
  emu_PrintText();
  return emu_Ok(t);
}

// Every command before it has answered, and so taken effect: the reader runs one at a time.
bool emu_RunSync(const EmuCommand&, const Typed& t) { return emu_Ok(t); }

bool emu_RunHostVerb(const EmuCommand& c, const Typed& t) {
  char message[1024];
  message[0] = '\0';
  if (c.host->run(std::string(c.rest, c.restLength).c_str(), message, sizeof message) == 0) return emu_Ok(t);
  emu_Answer(t.line, t.length, message);  // the host has told standard error
  return true;
}

// The verbs: what follows each as typed (words the front end takes itself, or the rest of the
// line for the host), and what the command does. A key is one the window delivers (KEY_NAMES,
// or one character).
enum class Takes : uint8_t { Nothing, Ms, Key, KeyAndMs, File, Rest };
struct CommandForm {
  const char* name;
  EmuVerb verb;
  Takes takes;
  bool (*run)(const EmuCommand& c, const Typed& t);
};
// clang-format off
const CommandForm COMMAND_FORMS[] = {
    {"quit", EmuVerb::Quit, Takes::Nothing,  emu_RunQuit},
    {"wait", EmuVerb::Wait, Takes::Ms,       emu_RunWait},
    {"key",  EmuVerb::Key,  Takes::Key,      emu_RunKey},
    {"hold", EmuVerb::Hold, Takes::KeyAndMs, emu_RunHold},
    {"shot", EmuVerb::Shot, Takes::File,     emu_RunShot},
    {"text", EmuVerb::Text, Takes::Nothing,  emu_RunText},
    {"sync", EmuVerb::Sync, Takes::Nothing,  emu_RunSync},
};
// clang-format on
// The host's verbs all take the rest of the line.
constexpr CommandForm HOST_FORM = {"", EmuVerb::Host, Takes::Rest, emu_RunHostVerb};

bool emu_RunCommand(const EmuCommand& c, const char* line, size_t length) {
  if (c.verb == EmuVerb::Host) return HOST_FORM.run(c, {line, length});
  for (const CommandForm& f : COMMAND_FORMS)
    if (f.verb == c.verb) return f.run(c, {line, length});
  return true;  // an empty line
}

bool emu_RunLine(void*, const char* text, size_t length) {
  if (closing.load()) return false;
  EmuCommand command;
  char why[128];
  if (emu_ParseCommand(text, length, &command, why, sizeof why) != 0) {
    emu_Fail(text, length, why);
    return true;
  }
  return emu_RunCommand(command, text, length);
}

void emu_ReportOverLong(void*) {
  char why[96];
  snprintf(why, sizeof why, "command line longer than %zu bytes: ignored", EMU_COMMAND_LINE_MAX);
  fprintf(stderr, "%s\n", why);
  // Nothing of the line was kept to name it by.
  emu_Answer("-", 1, why);
}

// Standard input is read as it comes (no stdio buffer), in a wait that a close ends too.
void* emu_ReaderThread(void*) {
  (void)pthread_setname_np(pthread_self(), "commands");
  static EmuCommandLines lines;  // one reader per run; too large for a thread's stack
  lines = EmuCommandLines();
  const EmuLineSink sink{emu_RunLine, emu_ReportOverLong, nullptr};
  for (;;) {
    if (closing.load()) break;
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) break;
    char chunk[4096];
    const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      if (!lines.Finish(sink) || !outlivesInput) break;
      // A run that serves a line goes on without a script: only a close ends the wait.
      pollfd wake = {wakePipe[0], POLLIN, 0};
      while (!closing.load() && poll(&wake, 1, -1) <= 0) {
      }
      break;
    }
    if (!lines.Feed(chunk, static_cast<size_t>(n), sink)) break;
  }
  emu_SetKey(EMU_KEY_QUIT);  // like closing the window
  return nullptr;
}

}  // namespace

void emu_GtkSetHostVerbs(const EmuHostVerb* verbs, size_t count) {
  hostVerbs = verbs;
  noOfHostVerbs = count;
}
bool emu_GtkCommandFailed() { return commandFailed.load(); }

// Without a window there is no menu: scripts have the commands.
void emu_GtkSetOperatorMenu(EmuMenuDescribe, EmuMenuActivate) {}
void emu_GtkSetPanelSources(const EmuPanelLineSource*, const EmuPanelCarSource*) {}

const bool emu_GtkWaitForReturnOnFailure = false;

int emu_GtkInit(const EmuWindowFlags& flags) {
  outlivesInput = flags.outlivesInput != 0;
  if (wakePipe[0] < 0) {
    if (pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
      fprintf(stderr, "pipe2(wake) failed with error %d!\n", errno);
      return -1;
    }
    wakeFd = wakePipe[1];
  }
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

void emu_GtkClose() {
  pthread_mutex_lock(&keyMutex);
  closing = true;
  key = EMU_KEY_QUIT;
  pthread_cond_broadcast(&keyChanged);
  pthread_mutex_unlock(&keyMutex);
  // Before the window opens there is no reader yet: it sees `closing` when it starts.
  const int fd = wakeFd.load();
  if (fd >= 0) (void)!write(fd, "x", 1);
}

int emu_GtkGetKey() {
  pthread_mutex_lock(&keyMutex);
  if (closing.load()) key = EMU_KEY_QUIT;
  int value = key != 0 ? key : button;
  if (key != 0) {
    key = 0;
    ++keysTaken;
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
  if (key == 0 && !keyWaitEnded && !closing.load()) {
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

// ---------------------------------------------------------------------------------------------
// Command input: lines, then their words.

bool EmuCommandLines::EndLine(const EmuLineSink& sink) {
  const bool dropped = overLong_;
  const size_t length = length_;
  length_ = 0;
  overLong_ = false;
  if (dropped) {
    sink.overLong(sink.context);
    return true;
  }
  text_[length] = '\0';
  return sink.line(sink.context, text_, length);
}

bool EmuCommandLines::Feed(const char* bytes, size_t size, const EmuLineSink& sink) {
  for (size_t i = 0; i < size;) {
    const char* newline = static_cast<const char*>(memchr(bytes + i, '\n', size - i));
    const size_t end = newline != nullptr ? static_cast<size_t>(newline - bytes) : size;
    const size_t n = end - i;
    // A line that outgrows the buffer is dropped up to its newline: its tail is not a command.
    if (!overLong_ && length_ + n > EMU_COMMAND_LINE_MAX) overLong_ = true;
    if (!overLong_) {
      memcpy(text_ + length_, bytes + i, n);
      length_ += n;
    }
    i = end;
    if (newline == nullptr) break;
    ++i;
    if (!EndLine(sink)) return false;
  }
  return true;
}

bool EmuCommandLines::Finish(const EmuLineSink& sink) {
  if (length_ == 0 && !overLong_) return true;
  return EndLine(sink);
}

int emu_ParseCommand(const char* line, size_t length, EmuCommand* command, char* why, size_t whySize) {
  *command = EmuCommand();
  if (memchr(line, '\0', length) != nullptr) {
    snprintf(why, whySize, "command line with a zero byte: ignored");
    return -1;
  }
  size_t at = 0;
  const Word verb = emu_NextWord(line, length, &at);
  if (verb.length == 0) return 0;
  auto named = [&](const char* name) { return strlen(name) == verb.length && memcmp(name, verb.text, verb.length) == 0; };
  const CommandForm* form = nullptr;
  for (const CommandForm& f : COMMAND_FORMS)
    if (named(f.name)) form = &f;
  for (size_t i = 0; form == nullptr && i < noOfHostVerbs; ++i) {
    if (!named(hostVerbs[i].name)) continue;
    form = &HOST_FORM;
    command->host = &hostVerbs[i];
  }
  if (form == nullptr) {
    const int shown = static_cast<int>(verb.length > EMU_COMMAND_VERB_MAX ? EMU_COMMAND_VERB_MAX : verb.length);
    snprintf(why, whySize, "unknown command: %.*s%s", shown, verb.text, verb.length > EMU_COMMAND_VERB_MAX ? "..." : "");
    return -1;
  }
  command->verb = form->verb;
  if (form->takes == Takes::Rest) {
    while (at < length && emu_IsBlank(line[at])) ++at;
    size_t end = length;
    while (end > at && emu_IsBlank(line[end - 1])) --end;
    command->rest = line + at;
    command->restLength = end - at;
    return 0;
  }
  const bool takesKey = form->takes == Takes::Key || form->takes == Takes::KeyAndMs;
  if (takesKey || form->takes == Takes::File) {
    const Word w = emu_NextWord(line, length, &at);
    if (w.length == 0) {
      snprintf(why, whySize, "%s: no %s given", form->name, takesKey ? "key" : "file");
      return -1;
    }
    if (w.length > EMU_COMMAND_WORD_MAX) {
      snprintf(why, whySize, "%s: word longer than %zu bytes: ignored", form->name, EMU_COMMAND_WORD_MAX);
      return -1;
    }
    memcpy(command->word, w.text, w.length);
    command->word[w.length] = '\0';
    if (takesKey && emu_KeyValueOf(command->word) == 0) {
      snprintf(why, whySize, "%s: unknown key %.32s", form->name, command->word);
      return -1;
    }
  }
  if (form->takes == Takes::Ms || form->takes == Takes::KeyAndMs) {
    command->ms = emu_MsOf(emu_NextWord(line, length, &at));
    if (command->ms < 0) {
      snprintf(why, whySize, "%s: expected milliseconds, 0 to %ld", form->name, EMU_COMMAND_MAX_MS);
      return -1;
    }
  }
  if (emu_NextWord(line, length, &at).length != 0) {
    snprintf(why, whySize, "%s: too many words", form->name);
    return -1;
  }
  return 0;
}
