// Start-up by mode, the power-on cycle and the end of a run. The window, the serial port, the
// EEPROM and the simulated vehicle live for the run; locks and emulator threads for one power-on.
#include "host/power_on.h"

#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "host/cmdline.h"
#include "controller/controller.h"
#include "controller/spi_bus.h"
#include "host/key_loop.h"
#include "host/lcd_controller.h"
#include "line/serial_port.h"
#include "line/traffic_log.h"
#include "host/operator_commands.h"
#include "host/panel_sources.h"
#include "host/vehicle_commands.h"
#include "learn/learn.h"
#include "learn/relay.h"
#include "vehicle/vehicle_file.h"
#include "elm327/elm327.h"
#include "slcan/slcan.h"
#include "module/module.h"
#include "vehicle/timeline.h"
#include "vehicle/uds_server.h"
#include "window/window_api.h"

int emu_powerOnFailingCall = -1;
void* (*emu_powerOnQimThreadBody)(void*) = emu_QimThread;

namespace {

int callIndex = 0;

// Makes one thread or lock call; reports a failure as "<call>(<object>) failed with error %d!".
template <typename Call>
bool emu_Call(const char* what, Call&& call) {
  int err = (callIndex++ == emu_powerOnFailingCall) ? EAGAIN : call();
  if (err == 0) return true;
  fprintf(stderr, "%s failed with error %d!\n", what, err);
  return false;
}

bool emu_StopThread(const char* cancelWhat, const char* joinWhat, pthread_t thread) {
  return emu_Call(cancelWhat, [&] { return pthread_cancel(thread); }) &&
         emu_Call(joinWhat, [&] { return pthread_join(thread, nullptr); });
}

void emu_ResetSharedState() {
  tarnicThreadWasCreated = 0;
  SPDR = 0xFF;
  SPSR = 0;
  PINA = 0xFF;
  UCSR0A = 0;
  WDTCR = 0;
  OCR3A = 0;
  PORTE = 0;  // the module is held in reset until the firmware releases it
  syncWithQimIsDone = 0;
  keyServiceCallsCounter = 0;
  tickStopped = false;
  beepThreadArg.busyTimeMs = 0;
  emu_ResetKeyLoop();
  emu_InitTarnicVars();
  emu_SpiResetBus();
}

// Threads carry names for the tools that list them (top -H, /proc/PID/task/*/comm, bench/run).
void emu_NameThread(pthread_t thread, const char* name) { (void)pthread_setname_np(thread, name); }

// The LCD thread sets SPSR once it waits for its first byte; the firmware may start then.
void emu_WaitForLcdReady() {
  while (SPSR == 0) usleep(10000);
}

// The signals that end a run (kill's default, Ctrl+C, the terminal going away) end it as "quit"
// and closing the window do: the line's terminal settings put back, the traffic log complete,
// every thread joined. They are blocked in every thread (each inherits the mask of the thread
// that made it, and main blocks them first) and taken by one thread in sigwait, which ends the
// run through the window. No work happens in a signal handler: there is none.
std::atomic<bool> runEnding{false};  // a signal came: the start-up waits give up, status 0
std::atomic<bool> signalThreadStopping{false};
pthread_t signalThread;
bool signalThreadStarted = false;

sigset_t emu_EndSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, sig);
  return set;
}

void* emu_SignalThread(void*) {
  (void)pthread_setname_np(pthread_self(), "signals");
  const sigset_t set = emu_EndSignals();
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (signalThreadStopping.load()) return nullptr;
    // A second signal while the run ends asks again; the window takes it as often as it comes.
    runEnding = true;
    emu_GtkClose();
  }
}

// Blocks the ending signals in this thread, and so in every thread made from now on.
void emu_BlockEndSignals() {
  const sigset_t set = emu_EndSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// Made before the power-on's calls, which the test hook counts.
bool emu_StartSignalThread() {
  const int err = pthread_create(&signalThread, nullptr, emu_SignalThread, nullptr);
  if (err != 0) fprintf(stderr, "pthread_create(signals) failed with error %d!\n", err);
  signalThreadStarted = err == 0;
  return signalThreadStarted;
}

// The signal thread leaves once the run has ended; a signal that comes after that stays pending,
// blocked, until the process ends with the run's own status.
void emu_StopSignalThread() {
  if (!signalThreadStarted) return;
  signalThreadStopping = true;
  pthread_kill(signalThread, SIGTERM);
  pthread_join(signalThread, nullptr);
  signalThreadStarted = false;
}

const char* const QIM_INIT_COMMANDS[] = {"ATE0\r", "ATL0\r", "ATOF1\r"};
const char* const TBX_INIT_COMMANDS[] = {"ATE0\r", "ATL0\r", "ATOF1\r", "ATOHS0\r"};

// Mode-specific preparation of the serial line before the window opens.
int emu_PrepareSerialLine(const EmuSettings& settings) {
  if (padixMode == EmuMode::Simulator) {
    // Serving from start, a client may open the line at once and write: its request is kept for
    // the module, which answers about a second after start, and no prompt of ours comes before
    // that answer (the client would take it for the answer).
    if (settings.serve != 0) return 0;
    while (emu_WriteByteCOM(static_cast<uint8_t>(emu_GetPrompt())) != 1 && !runEnding.load()) {
    }
    for (int i = 0; i < 4 && !runEnding.load(); ++i) usleep(999999);
    return 0;
  }
  switch (settings.moduleInit) {
    case EMU_INIT_QIM: return emu_InitObdModule(QIM_INIT_COMMANDS, 3);
    case EMU_INIT_TBX: return emu_InitObdModule(TBX_INIT_COMMANDS, 4);
    default: break;
  }
  if (settings.noSync) return 0;
  // Wait for the module's prompt; everything before it is dropped.
  while (!runEnding.load()) {
    uint8_t byte;
    if (emu_ReadByteCOM(&byte) == 1 && byte == static_cast<uint8_t>(emu_GetPrompt())) return 0;
    usleep(100000);
  }
  return 0;
}

// link=PATH: a symbolic link to the pseudo-terminal's client end, so that a client configured
// once finds the line of every run. Anything at PATH but a symbolic link (left by an earlier run)
// is the user's and stays.
int emu_MakePtyLink(const char* path, const char* target) {
  struct stat st;
  if (lstat(path, &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      fprintf(stderr, "link=%s: %s exists and is not a symbolic link\n", path, path);
      return -1;
    }
    if (unlink(path) != 0) {
      fprintf(stderr, "link=%s: cannot replace %s: %s\n", path, path, strerror(errno));
      return -1;
    }
  }
  if (symlink(target, path) != 0) {
    fprintf(stderr, "link=%s: cannot make %s: %s\n", path, path, strerror(errno));
    return -1;
  }
  return 0;
}

// The link goes with the run, unless something else has taken its place meanwhile.
void emu_RemovePtyLink(const char* path, const char* target) {
  char now[PATH_MAX];
  const ssize_t n = readlink(path, now, sizeof now - 1);
  if (n < 0) return;
  now[n] = '\0';
  if (strcmp(now, target) == 0) (void)unlink(path);
}

// The first line on standard output names where a client comes to the line (a script starts a
// run and reads it before it connects): "ready pty /dev/pts/N" or "ready tcp 127.0.0.1:PORT".
// Nothing when Padix opened no line for a client (a serial device, a TCP connection of its own).
void emu_AnnounceLine() {
  const char* kind = nullptr;
  const char* where = nullptr;
  if (!emu_COMClientPlace(&kind, &where)) return;
  printf("ready %s %s\n", kind, where);
  fflush(stdout);
}

// An ECU's diagnostic session or lock changed: a note in the traffic log, where the request that
// changed it is.
void emu_LogUdsState(uint8_t ecuIdx) {
  char text[64];
  emu_UdsStatusText(ecuIdx, text, sizeof text);
  emu_LogTrafficNote(text);
}

}  // namespace

int emu_PowerOnCycle() {
  callIndex = 0;
  emu_ResetSharedState();

  bool ok = emu_Call("pthread_cond_init(key)", [] { return pthread_cond_init(&keyCond, nullptr); }) &&
            emu_Call("pthread_mutex_init(key)", [] { return pthread_mutex_init(&keyMutex, nullptr); }) &&
            emu_Call("pthread_mutex_init(qim)", [] { return pthread_mutex_init(&qimMutex, nullptr); }) &&
            emu_Call("pthread_cond_init(lcd)", [] { return pthread_cond_init(&lcdCond, nullptr); }) &&
            emu_Call("pthread_mutex_init(lcd)", [] { return pthread_mutex_init(&lcdMutex, nullptr); }) &&
            emu_Call("pthread_create(counter)",
                     [] { return pthread_create(&counterThread, nullptr, emu_CounterThread, nullptr); }) &&
            emu_Call("pthread_create(qim)",
                     [] {
                       return pthread_create(&qimThread, nullptr, emu_powerOnQimThreadBody, nullptr);
                     }) &&
            emu_Call("pthread_create(lcd)",
                     [] { return pthread_create(&lcdThread, nullptr, emu_LcdThread, nullptr); });
  if (!ok) return -1;
  emu_NameThread(counterThread, "tick");
  emu_NameThread(qimThread, "module");
  emu_NameThread(lcdThread, "lcd");
  emu_WaitForLcdReady();
  ok = emu_Call("pthread_create(tarnic)",
                [] { return pthread_create(&tarnicThread, nullptr, emu_TarnicThread, nullptr); });
  if (!ok) return -1;
  emu_NameThread(tarnicThread, "firmware");
  tarnicThreadWasCreated = 1;
  ok = emu_Call("pthread_attr_init(beep)", [] { return pthread_attr_init(&beepThreadAttr); }) &&
       emu_Call("pthread_attr_setdetachstate(beep)", [] {
         return pthread_attr_setdetachstate(&beepThreadAttr, PTHREAD_CREATE_DETACHED);
       });
  if (!ok) return -1;

  int result = emu_ProcessKeyLoop();

  ok = emu_StopThread("pthread_cancel(counter)", "pthread_join(counter)", counterThread) &&
       emu_StopThread("pthread_cancel(qim)", "pthread_join(qim)", qimThread) &&
       emu_StopThread("pthread_cancel(lcd)", "pthread_join(lcd)", lcdThread) &&
       (!tarnicThreadWasCreated ||
        emu_StopThread("pthread_cancel(tarnic)", "pthread_join(tarnic)", tarnicThread)) &&
       emu_Call("pthread_mutex_destroy(key)", [] { return pthread_mutex_destroy(&keyMutex); }) &&
       emu_Call("pthread_mutex_destroy(qim)", [] { return pthread_mutex_destroy(&qimMutex); }) &&
       emu_Call("pthread_mutex_destroy(lcd)", [] { return pthread_mutex_destroy(&lcdMutex); }) &&
       emu_Call("pthread_cond_destroy(lcd)", [] { return pthread_cond_destroy(&lcdCond); }) &&
       emu_Call("pthread_attr_destroy(beep)", [] { return pthread_attr_destroy(&beepThreadAttr); }) &&
       emu_Call("pthread_cond_destroy(key)", [] { return pthread_cond_destroy(&keyCond); });
  if (!ok) return -1;
  return result;
}

int emu_Main(int argc, char** argv) {
  emu_BlockEndSignals();  // before any thread is made
  int status = -1;
  EmuSettings settings;
  const int parsed = emu_ProcessCmdLine(argc, argv, &settings);
  if (parsed > 0) return 0;  // the version was asked for and printed
  if (parsed == 0) {
    // The firmware's wake-up counters last the whole run: made before the line opens, a client
    // never sees the run's descriptors grow once it is served.
    emu_InitFirmwareWake();
    padixServe = settings.serve;
    emu_ElmSetRealTiming(settings.realTiming != 0, settings.baudrate);
    emu_SlcanSetRealTiming(settings.realTiming != 0);
    bool serialOpen = false;
    std::string linkTarget;  // the terminal linked to by link=PATH, once the link is made
    // A run that serves a line is not its script's: the end of its commands does not end it.
    settings.window.outlivesInput = padixMode == EmuMode::Simulator ? 1 : 0;
    bool ready = true;
    if (settings.ptyLink != nullptr &&
        (settings.device == nullptr || strcmp(settings.device, "/dev/ptmx") != 0)) {
      fprintf(stderr, "link=%s: only a virtual serial port of Padix's own (/dev/ptmx) can be linked to\n",
              settings.ptyLink);
      ready = false;
    }
    if (ready) ready = emu_StartSignalThread();
    if (ready && settings.trafficLog != nullptr) ready = emu_OpenTrafficLog(settings.trafficLog) == 0;
    emu_udsStateChanged = emu_LogUdsState;
    if (ready && settings.vehicleFile != nullptr) {
      std::string error;
      ready = emu_LoadVehicleFile(settings.vehicleFile, &error) == 0;
      if (!ready) fprintf(stderr, "%s\n", error.c_str());
    }
    emu_OfferVehicleCommands();
    emu_GtkSetOperatorMenu(emu_DescribeOperatorMenu, emu_ActivateOperatorMenu);
    emu_GtkSetPanelSources(&PANEL_LINE_SOURCE, &PANEL_CAR_SOURCE);
    if (ready && settings.device != nullptr) {
      ready = emu_InitCOM(settings.device, settings.baudrate) == 0;
      serialOpen = ready;
      const char* kind = nullptr;
      const char* where = nullptr;
      if (ready && settings.ptyLink != nullptr && emu_COMClientPlace(&kind, &where)) {
        ready = emu_MakePtyLink(settings.ptyLink, where) == 0;
        if (ready) linkTarget = where;
      }
      if (ready) emu_AnnounceLine();
      // Learning drives the adapter itself and ends the run: no firmware, no window.
      if (ready && settings.learnFile != nullptr) {
        status = emu_LearnCar(settings.learnFile, settings.learnRequests) == 0 ? 0 : 1;
        ready = false;
      }
      // Standing between the client and a real adapter: no simulated module answers.
      if (ready && settings.relayDevice != nullptr) {
        status = emu_RelayLine(settings.relayDevice, settings.baudrate, runEnding, settings.vehicleFile != nullptr) == 0 ? 0 : 1;
        ready = false;
      }
      if (ready) ready = emu_PrepareSerialLine(settings) == 0;
    }
    if (ready && runEnding.load()) {
      status = 0;  // ended by a signal while it started
    } else if (ready && emu_GtkInit(settings.window) == 0) {
      int cycle;
      do {
        cycle = emu_PowerOnCycle();
      } while (cycle == 0);
      if (cycle > 0) status = emu_GtkCommandFailed() ? 1 : 0;
      // The window (the reader of commands) is not asked to close any more once it ends.
      emu_StopSignalThread();
      emu_GtkExit();
    }
    emu_StopSignalThread();
    // A timeline's events reach the line (a drop): none may fire while it closes.
    emu_TimelineReplace({});
    if (!linkTarget.empty()) emu_RemovePtyLink(settings.ptyLink, linkTarget.c_str());
    if (serialOpen) emu_CloseCOM();
    emu_udsStateChanged = nullptr;
    emu_CloseTrafficLog();
  }
  if (status == -1) {
    printf("Press RETURN to quit!\n");
    fflush(stdout);
    if (emu_GtkWaitForReturnOnFailure) {
      // Nothing is left to put back: a signal may end the wait as it ends any program.
      const sigset_t set = emu_EndSignals();
      pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
      (void)getchar();
    }
  }
  return status;
}
