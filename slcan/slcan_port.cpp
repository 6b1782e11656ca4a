// The serial CAN adapter's state and its commands: bit rate, channel open / listen-only /
// closed, status flags, version and serial number, time stamps, acceptance code and mask, and
// the frames both ways. Frames the tester sends go onto the car's bus (slcan_bus.h); frames the
// ECUs send come back as text lines while the channel is open.
#include "slcan/slcan.h"

#include <string.h>
#include <time.h>

#include "adapter/line_faults.h"
#include "slcan/slcan_bus.h"
#include "slcan/slcan_reader.h"
#include "vehicle/broadcasts.h"
#include "vehicle/vehicle_faults.h"

namespace {

constexpr char CR = '\r';
constexpr char BEL = '\x07';
constexpr uint8_t DEFAULT_BIT_RATE = 6;          // S6, 500 kbit/s: most cars' OBD bus
constexpr uint32_t TIME_STAMP_WRAP_MS = 60000;   // 0000-EA5F

constexpr uint32_t BIT_RATES[] = {10000, 20000, 50000, 100000, 125000, 250000, 500000, 800000, 1000000};
static_assert(sizeof BIT_RATES / sizeof BIT_RATES[0] == 9, "S0 to S8");

enum class Channel : uint8_t { Closed, Open, ListenOnly };

struct Slcan {
  uint8_t bitRate;  // S0..S8
  Channel channel;
  bool timeStamps;
  uint32_t acceptanceCode;
  uint32_t acceptanceMask;  // a bit set: that identifier bit is not compared
  uint8_t flags;
  EmuSlcanLine line;
};
Slcan slcan{DEFAULT_BIT_RATE, Channel::Closed, false, 0, 0xFFFFFFFF, 0, {}};
bool busReady = false;  // the bus has its hooks (emu_SlcanInit, or the first input served)

const EmuSlcanPort* port = nullptr;

struct Output {
  char text[8192];
  size_t length;
};
Output output;

uint64_t emu_SlcanRealNowUs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_nsec) / 1000u;
}

void emu_SlcanRealPauseUs(uint32_t us) {
  const timespec pause = {static_cast<time_t>(us / 1000000u), static_cast<long>(us % 1000000u) * 1000L};
  nanosleep(&pause, nullptr);
}

const EmuSlcanClock REAL_CLOCK = {emu_SlcanRealNowUs, emu_SlcanRealPauseUs};
const EmuSlcanClock* busClock = &REAL_CLOCK;

void emu_SlcanFlush() {
  if (output.length == 0) return;
  if (port != nullptr) emu_LineFaultsWrite(port->write, output.text, output.length);
  output.length = 0;
}

void emu_SlcanPut(const char* text, size_t n) {
  if (output.length + n > sizeof output.text) emu_SlcanFlush();
  memcpy(output.text + output.length, text, n);
  output.length += n;
}

void emu_SlcanPutChar(char c) { emu_SlcanPut(&c, 1); }

void emu_SlcanLine(const char* text) {
  emu_SlcanPut(text, strlen(text));
  emu_SlcanPutChar(CR);
}

// A frame the ECUs put on the bus, for a client whose channel is open and whose filter takes it.
void emu_SlcanFrameFromBus(const EmuCanFrame& f) {
  if (slcan.channel == Channel::Closed) return;
  if (((f.id ^ slcan.acceptanceCode) & ~slcan.acceptanceMask) != 0) return;
  char text[EMU_SLCAN_FRAME_TEXT_MAX];
  const int32_t stamp = slcan.timeStamps ? static_cast<int32_t>(busClock->nowUs() / 1000u % TIME_STAMP_WRAP_MS) : -1;
  emu_SlcanPut(text, emu_SlcanWriteFrame(f, stamp, text));
}

uint64_t emu_SlcanNowUs() { return busClock->nowUs(); }

// The tester waits for the next consecutive frame: what is written so far goes out first.
void emu_SlcanPauseUs(uint32_t us) {
  emu_SlcanFlush();
  busClock->pauseUs(us);
}

const EmuCanBusHooks BUS_HOOKS = {emu_SlcanFrameFromBus, emu_SlcanNowUs, emu_SlcanPauseUs};

uint64_t emu_SlcanNowMs() { return busClock->nowUs() / 1000u; }

// The ECUs hear nothing at another bit rate, and the client nothing of them.
bool emu_SlcanHearsTheCar() {
  return slcan.channel != Channel::Closed && emu_CanBusCarAt(BIT_RATES[slcan.bitRate]);
}

// The ECUs' periodic frames that are due, as they come off the bus.
void emu_SlcanBroadcasts() {
  if (!emu_SlcanHearsTheCar()) return;
  EmuBroadcastFrame b;
  for (const uint64_t now = emu_SlcanNowMs(); emu_BroadcastNext(now, &b);) {
    EmuCanFrame f{b.id, b.extended, false, b.dlc, {}};
    memcpy(f.data, b.data, sizeof f.data);
    emu_SlcanFrameFromBus(f);
  }
}

// ---------------------------------------------------------------------------------------------
// Commands: each returns whether it is accepted; a refused one is answered BEL. Settings change
// only while the channel is closed.

bool emu_SlcanClosed() { return slcan.channel == Channel::Closed; }

bool emu_SlcanBitRate(const EmuSlcanCommand& c) {
  if (!emu_SlcanClosed()) return false;
  slcan.bitRate = static_cast<uint8_t>(c.value);
  return true;
}

bool emu_SlcanOpenAs(Channel how) {
  if (!emu_SlcanClosed()) return false;
  slcan.channel = how;
  slcan.flags = 0;
  emu_BroadcastsStart(emu_SlcanNowMs());
  return true;
}

bool emu_SlcanOpen(const EmuSlcanCommand&) { return emu_SlcanOpenAs(Channel::Open); }
bool emu_SlcanListen(const EmuSlcanCommand&) { return emu_SlcanOpenAs(Channel::ListenOnly); }

bool emu_SlcanClose(const EmuSlcanCommand&) {
  if (emu_SlcanClosed()) return false;
  slcan.channel = Channel::Closed;
  emu_CanBusInit(&BUS_HOOKS);
  return true;
}

// A frame goes out on an open channel (not listen-only); unacknowledged, the controller counts
// errors and says so in the flags. The adapter confirms the frame taken with z / Z.
bool emu_SlcanFrame(const EmuSlcanCommand& c) {
  if (slcan.channel != Channel::Open) return false;
  emu_SlcanLine(c.frame.extended ? "Z" : "z");
  // An error frame on cue: the frame is destroyed on the bus, no ECU gets it, the controller
  // counts the bus error.
  if (emu_CarTakeCanCue(EmuCanCue::ErrorFrame)) {
    slcan.flags |= EMU_SLCAN_FLAG_BUS_ERROR;
    return true;
  }
  if (!emu_CanBusSend(c.frame, BIT_RATES[slcan.bitRate])) {
    slcan.flags |= EMU_SLCAN_FLAG_ERROR_WARNING | EMU_SLCAN_FLAG_ERROR_PASSIVE | EMU_SLCAN_FLAG_BUS_ERROR;
  }
  return true;
}

bool emu_SlcanStatus(const EmuSlcanCommand&) {
  if (emu_SlcanClosed()) return false;
  const char text[] = {'F', "0123456789ABCDEF"[slcan.flags >> 4], "0123456789ABCDEF"[slcan.flags & 0x0F], '\0'};
  slcan.flags = 0;
  emu_SlcanLine(text);
  return true;
}

bool emu_SlcanVersion(const EmuSlcanCommand&) {
  emu_SlcanLine(EMU_SLCAN_VERSION);
  return true;
}

bool emu_SlcanFirmware(const EmuSlcanCommand&) {
  emu_SlcanLine(EMU_SLCAN_FIRMWARE);
  return true;
}

bool emu_SlcanSerial(const EmuSlcanCommand&) {
  emu_SlcanLine(EMU_SLCAN_SERIAL);
  return true;
}

bool emu_SlcanTimeStamps(const EmuSlcanCommand& c) {
  if (!emu_SlcanClosed()) return false;
  slcan.timeStamps = c.value != 0;
  return true;
}

bool emu_SlcanCode(const EmuSlcanCommand& c) {
  if (!emu_SlcanClosed()) return false;
  slcan.acceptanceCode = c.value;
  return true;
}

bool emu_SlcanMask(const EmuSlcanCommand& c) {
  if (!emu_SlcanClosed()) return false;
  slcan.acceptanceMask = c.value;
  return true;
}

bool emu_SlcanEmpty(const EmuSlcanCommand&) { return true; }
bool emu_SlcanRefuse(const EmuSlcanCommand&) { return false; }

// One row per command kind, in the order of EmuSlcanCommandKind.
struct CommandRow {
  EmuSlcanCommandKind kind;
  bool (*run)(const EmuSlcanCommand& c);
  bool answersCr;  // accepted, it is answered CR (a frame's z / Z and the texts carry their own)
};
constexpr CommandRow COMMANDS[] = {
    {EmuSlcanCommandKind::Refused,         emu_SlcanRefuse,     false},
    {EmuSlcanCommandKind::Empty,           emu_SlcanEmpty,      true},
    {EmuSlcanCommandKind::BitRate,         emu_SlcanBitRate,    true},
    {EmuSlcanCommandKind::Open,            emu_SlcanOpen,       true},
    {EmuSlcanCommandKind::ListenOnly,      emu_SlcanListen,     true},
    {EmuSlcanCommandKind::Close,           emu_SlcanClose,      true},
    {EmuSlcanCommandKind::Frame,           emu_SlcanFrame,      false},
    {EmuSlcanCommandKind::Status,          emu_SlcanStatus,     false},
    {EmuSlcanCommandKind::Version,         emu_SlcanVersion,    false},
    {EmuSlcanCommandKind::FirmwareVersion, emu_SlcanFirmware,   false},
    {EmuSlcanCommandKind::Serial,          emu_SlcanSerial,     false},
    {EmuSlcanCommandKind::TimeStamps,      emu_SlcanTimeStamps, true},
    {EmuSlcanCommandKind::AcceptanceCode,  emu_SlcanCode,       true},
    {EmuSlcanCommandKind::AcceptanceMask,  emu_SlcanMask,       true},
};
constexpr bool emu_CommandsInOrder() {
  for (size_t i = 0; i < sizeof COMMANDS / sizeof COMMANDS[0]; ++i)
    if (static_cast<size_t>(COMMANDS[i].kind) != i) return false;
  return true;
}
static_assert(emu_CommandsInOrder(), "one row per kind, in the enum's order");
static_assert(sizeof COMMANDS / sizeof COMMANDS[0] == static_cast<size_t>(EmuSlcanCommandKind::AcceptanceMask) + 1);

void emu_SlcanRun(const EmuSlcanLine& line) {
  const EmuSlcanCommand c = line.overflow ? EmuSlcanCommand{EmuSlcanCommandKind::Refused, 0, {}}
                                          : emu_SlcanReadCommand(line.text, line.length);
  const CommandRow& row = COMMANDS[static_cast<size_t>(c.kind)];
  if (!row.run(c)) {
    emu_SlcanPutChar(BEL);
  } else if (row.answersCr) {
    emu_SlcanPutChar(CR);
  }
}

// A client that left takes its half-sent command and the transfers under way with it; the
// adapter keeps its settings and its channel, as a real one does while it has power.
void emu_SlcanTakeHangUp() {
  if (port == nullptr || port->takeHangUp == nullptr || port->takeHangUp() == 0) return;
  emu_SlcanClearLine(&slcan.line);
  output.length = 0;
  emu_CanBusInit(&BUS_HOOKS);
  emu_LineFaultsNewClient();
}

}  // namespace

void emu_SlcanInit() {
  slcan.bitRate = DEFAULT_BIT_RATE;
  slcan.channel = Channel::Closed;
  slcan.timeStamps = false;
  slcan.acceptanceCode = 0;
  slcan.acceptanceMask = 0xFFFFFFFF;
  slcan.flags = 0;
  emu_SlcanClearLine(&slcan.line);
  output.length = 0;
  emu_CanBusInit(&BUS_HOOKS);
  emu_CarClearCanCues();
  busReady = true;
}

void emu_SlcanSetPort(const EmuSlcanPort* p) { port = p; }

void emu_SlcanSetRealTiming(bool on) { emu_CanBusSetRealTiming(on); }

void emu_SlcanSetClock(const EmuSlcanClock* c) { busClock = c != nullptr ? c : &REAL_CLOCK; }

void emu_SlcanServeInput() {
  if (port == nullptr) return;
  if (!busReady) {
    emu_CanBusInit(&BUS_HOOKS);
    busReady = true;
  }
  emu_SlcanTakeHangUp();
  uint8_t bytes[512];
  for (int n = port->read(bytes, sizeof bytes); n > 0; n = port->read(bytes, sizeof bytes)) {
    for (int i = 0; i < n; ++i) {
      if (!emu_SlcanTakeByte(&slcan.line, bytes[i])) continue;
      emu_SlcanRun(slcan.line);
      emu_SlcanClearLine(&slcan.line);
    }
    emu_SlcanFlush();
    emu_SlcanTakeHangUp();
  }
  emu_SlcanBroadcasts();
  emu_SlcanFlush();
}

int emu_SlcanWaitMs() {
  if (!emu_SlcanHearsTheCar()) return -1;
  const int64_t wait = emu_BroadcastWaitMs(emu_SlcanNowMs());
  return wait > INT32_MAX ? INT32_MAX : static_cast<int>(wait);
}
