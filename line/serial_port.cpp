// The line, whatever its kind: the row of its kind (line_kind.h) is chosen once, when it opens,
// from the device's name; every byte that crosses it goes to the traffic log, told apart by which
// side sent it.
#include "line/serial_port.h"

#include <pthread.h>
#include <stdio.h>
#include <time.h>

#include "controller/controller.h"
#include "line/line_kind.h"
#include "line/traffic_log.h"

namespace {

// Tried in order; the serial device takes any name, so it comes last.
const EmuLineKind* const LINE_KINDS[] = {&emu_tcpLine, &emu_ownTerminalLine, &emu_serialDeviceLine};

int emu_NoLineNothing() { return 0; }
int emu_NoLineWait(int) { return 0; }

// Before the line opens and after it closes: nothing comes, nothing goes, nobody is there.
const EmuLineKind NO_LINE = {
    .names = nullptr,
    .open = nullptr,
    .close = [] {},
    .isOpen = emu_NoLineNothing,
    .readByte = [](uint8_t*) { return 0; },
    .read = [](uint8_t*, int) { return 0; },
    .writeByte = [](uint8_t) { return 0; },
    .write = [](const char*, size_t) {},
    .flush = [] {},
    .wait = emu_NoLineWait,
    .waitMidAnswer = nullptr,
    .takeHangUp = nullptr,
    .clientPlace = nullptr,
    .dropClient = nullptr,
    .connected = emu_NoLineNothing,
    .setBaud = nullptr,
};

// Set by the open and the close (the run's own thread); read by the module's thread, which reads
// and writes the line, and by whichever thread drops a client.
std::atomic<const EmuLineKind*> line{&NO_LINE};

const EmuLineKind& emu_Line() { return *line.load(std::memory_order_acquire); }

const EmuLineKind& emu_LineKindOf(const char* device) {
  for (const EmuLineKind* kind : LINE_KINDS)
    if (kind->names(device)) return *kind;
  return emu_serialDeviceLine;
}

bool emu_Serving() { return emu_GetPadixMode() == EmuMode::Simulator; }

// Serving (simulator mode), Padix is the module and the other side the tester; otherwise
// Padix's handheld is the tester.
EmuSender emu_OtherSide() { return emu_Serving() ? EmuSender::Tester : EmuSender::Module; }
EmuSender emu_OwnSide() { return emu_Serving() ? EmuSender::Module : EmuSender::Tester; }

// What goes to no one (no client is connected) is not logged.
bool emu_SomebodyThere(const EmuLineKind& kind) { return kind.connected == nullptr || kind.connected() != 0; }

}  // namespace

std::atomic<void (*)(bool here)> emu_lineClientNotice{nullptr};

namespace {
// The client as last told (clientMutex): the panel reads it on the window's thread.
pthread_mutex_t clientMutex = PTHREAD_MUTEX_INITIALIZER;
bool clientShown = false;
timespec clientSince{};
char clientFrom[300] = "";   // set before the client is told
char comingFrom[300] = "";
}  // namespace

void emu_NoteLineClientFrom(const char* name) {
  pthread_mutex_lock(&clientMutex);
  snprintf(comingFrom, sizeof comingFrom, "%s", name);
  pthread_mutex_unlock(&clientMutex);
}

bool emu_LineClient(double* seconds, char* from, size_t size) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  pthread_mutex_lock(&clientMutex);
  const bool here = clientShown;
  *seconds = here ? static_cast<double>(now.tv_sec - clientSince.tv_sec) +
                        static_cast<double>(now.tv_nsec - clientSince.tv_nsec) / 1e9
                  : 0.0;
  if (size > 0) snprintf(from, size, "%s", here ? clientFrom : "");
  pthread_mutex_unlock(&clientMutex);
  return here;
}

namespace {
void emu_ShowLineClient(bool here) {
  pthread_mutex_lock(&clientMutex);
  if (here != clientShown) {
    clientShown = here;
    clock_gettime(CLOCK_MONOTONIC, &clientSince);
    snprintf(clientFrom, sizeof clientFrom, "%s", here ? comingFrom : "");
  }
  comingFrom[0] = '\0';
  pthread_mutex_unlock(&clientMutex);
}
}  // namespace

// Each coming and going told once: the line notices a client at every wait.
void emu_TellLineClient(bool here) {
  static bool clientHere = false;
  emu_ShowLineClient(here);
  if (here == clientHere) return;
  clientHere = here;
  if (auto notice = emu_lineClientNotice.load()) notice(here);
}

// A line that failed to open stays chosen until it is closed, and does nothing meanwhile.
int emu_InitCOM(const char* device, uint32_t baudrate) {
  const EmuLineKind& kind = emu_LineKindOf(device);
  line.store(&kind, std::memory_order_release);
  return kind.open(device, baudrate, emu_Serving());
}

int emu_CloseCOM() {
  emu_Line().close();
  emu_ShowLineClient(false);  // a line closed has nobody on it
  line.store(&NO_LINE, std::memory_order_release);
  return 0;
}

int emu_ReadByteCOM(uint8_t* byte) {
  const int n = emu_Line().readByte(byte);
  if (n == 1) emu_LogTraffic(emu_OtherSide(), byte, 1);
  return n;
}

int emu_WriteByteCOM(uint8_t byte) {
  const EmuLineKind& kind = emu_Line();
  const int n = kind.writeByte(byte);
  if (n == 1 && emu_SomebodyThere(kind)) emu_LogTraffic(emu_OwnSide(), &byte, 1);
  return n;
}

void emu_FlushCOM() { emu_Line().flush(); }

int emu_IsCOMOpen() { return emu_Line().isOpen(); }

int emu_WaitForCOMInput(int timeoutMs) { return emu_Line().wait(timeoutMs); }

int emu_WaitForCOMInputMidAnswer(int timeoutMs) {
  const EmuLineKind& kind = emu_Line();
  return kind.waitMidAnswer != nullptr ? kind.waitMidAnswer(timeoutMs) : kind.wait(timeoutMs);
}

int emu_ReadCOM(uint8_t* bytes, int max) {
  const int n = emu_Line().read(bytes, max);
  if (n > 0) emu_LogTraffic(emu_OtherSide(), bytes, static_cast<size_t>(n));
  return n;
}

void emu_WriteCOM(const char* bytes, size_t n) {
  const EmuLineKind& kind = emu_Line();
  if (emu_SomebodyThere(kind)) emu_LogTraffic(emu_OwnSide(), reinterpret_cast<const uint8_t*>(bytes), n);
  kind.write(bytes, n);
}

int emu_SetCOMBaud(uint32_t baudrate) {
  const EmuLineKind& kind = emu_Line();
  return kind.setBaud != nullptr ? kind.setBaud(baudrate) : 0;
}

int emu_TakeCOMHangUp() {
  const EmuLineKind& kind = emu_Line();
  return kind.takeHangUp != nullptr ? kind.takeHangUp() : 0;
}

bool emu_COMClientPlace(const char** kind, const char** where) {
  const EmuLineKind& open = emu_Line();
  *kind = "";
  *where = "";
  return open.clientPlace != nullptr && open.clientPlace(kind, where);
}

void emu_DropCOMClient() {
  const EmuLineKind& kind = emu_Line();
  if (kind.dropClient != nullptr) kind.dropClient();
}
