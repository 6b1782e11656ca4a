// Module thread and the bytes it takes in. The thread waits for the firmware to release the module
// from reset, answers its start-up dialogue, then serves it (or relays it to a real module in
// OBD2 software mode), and in simulator mode finally serves a client on the serial port.
// The AT command interpreter is in at_commands.cpp; the answer writer, with the module's state
// and settings, in module_port.cpp.
#include "module/module.h"

#include <pthread.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "controller/controller.h"
#include "line/serial_port.h"
#include "line/traffic_log.h"
#include "elm327/elm327.h"
#include "slcan/slcan.h"
#include "bus/protocols.h"
#include "vehicle/broadcasts.h"
#include "adapter/line_faults.h"

namespace {

constexpr uint8_t UCSR0B_UDRIE = 0x20;  // data-register-empty interrupt: bytes wait to be sent

constexpr useconds_t RESET_POLL_US = 100000;
constexpr useconds_t FIRST_HANDSHAKE_POLL_US = 500000;
constexpr useconds_t BAUD_SWITCH_POLL_US = 150000;
constexpr useconds_t USART_POLL_US = 1000;
// The 1 ms poll for serial data is a wait on the port that ends as soon as data arrives, so
// neither answers nor idle wake-ups depend on it. Relaying to a real module, its time-out bounds
// how late the firmware's next line is noticed; serving a client once the firmware has stopped,
// nothing else can happen, and the wait has no time-out.
constexpr int SERIAL_WAIT_MS = 100;
constexpr int SERIAL_NO_TIME_OUT = -1;
// The firmware's USART is watched by waiting for its "bytes to send" signal rather than polled
// every millisecond. In the start-up dialogue, and while the module serves the serial client
// too, the wait ends after this time; serving the firmware alone it has no time-out, since the
// firmware signals when it switches its USART off as well.
constexpr int USART_WAIT_MS = 10;
constexpr int USART_NO_TIME_OUT = -1;
constexpr useconds_t STOP_FIRMWARE_WAIT_US = 999999;

// The command line being received. Bytes beyond EMU_QIM_LINE_MAX are dropped.
struct QimLine {
  char text[EMU_QIM_LINE_MAX + 1];
  uint8_t length;

  void Clear() {
    length = 0;
    text[0] = '\0';
  }
  bool Append(uint8_t c) {
    if (length >= EMU_QIM_LINE_MAX) return false;
    text[length++] = static_cast<char>(c);
    text[length] = '\0';
    return true;
  }
};

// The ELM327 v1.5 personality reads and writes the serial line itself; its waits are those of an
// answer under way, and it hears of a client that left in the middle of one.
const EmuElmPort SERIAL_LINE = {emu_ReadCOM, emu_WriteCOM, emu_WaitForCOMInputMidAnswer, emu_TakeCOMHangUp,
                                 emu_SetCOMBaud};
const EmuSlcanPort SERIAL_CAN_LINE = {emu_ReadCOM, emu_WriteCOM, emu_TakeCOMHangUp};

bool emu_FirmwareHasBytesToSend() { return (UCSR0B & UCSR0B_UDRIE) != 0; }

// Takes one byte while the firmware signals bytes to send. Returns false when the byte is stale:
// the firmware's ring was empty and it switched the signal off instead of sending.
bool emu_TakeFirmwareByte(uint8_t* byte) {
  *byte = emu_SendDataByteToQim();
  return emu_FirmwareHasBytesToSend();
}

// A wait that ends as soon as the serial port has data, or after timeoutMs.
void emu_WaitForSerialData(int timeoutMs) {
  if (emu_IsCOMOpen())
    emu_WaitForCOMInput(timeoutMs);
  else
    usleep(USART_POLL_US);
}

void emu_QimServeClientInput(QimLine& line);

uint64_t emu_NowUs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_nsec) / 1000u;
}

// The wait for the client, cut short where the line's faults or the serial CAN adapter's
// periodic frames need the line sooner (-1: no limit).
int emu_QimClientWaitMs(int timeoutMs) {
  int wait = emu_LineFaultsWaitMs(timeoutMs);
  if (serialCanServed.load() == 0) return wait;
  const int frames = emu_SlcanWaitMs();
  if (frames >= 0 && (wait < 0 || frames < wait)) wait = frames;
  return wait;
}

// The car's periodic frames for the ELM327 v1.5's bus monitor, as the bus brings them: the
// frames of the protocol's identifier length.
bool emu_QimCarBroadcast(uint8_t protocol, EmuElmBusMessage* m) {
  if (!emu_ProtocolIsCan(protocol)) return false;
  const uint64_t nowMs = emu_NowUs() / 1000u;
  EmuBroadcastFrame f;
  while (emu_BroadcastNext(nowMs, &f)) {
    if (f.extended != emu_ProtocolIs29Bit(protocol)) continue;
    m->id = f.id;
    memcpy(m->bytes, f.data, sizeof m->bytes);
    m->n = f.dlc;
    return true;
  }
  return false;
}

// Serving from start in the ELM327 v1.5 personality or as the serial CAN adapter, the client is
// answered while the module waits for the firmware's power-up too: those adapters keep settings
// of their own, and without real timing an answer takes microseconds, which the firmware's polls
// do not notice.
bool emu_QimServesClientDuringPowerUp() {
  const bool ownAdapter = serialCanServed.load() != 0 || (diagController == EMU_DIAG_ELM327_V15 && !emu_ElmRealTiming());
  return emu_GetPadixMode() == EmuMode::Simulator && padixServe.load() != 0 && ownAdapter && emu_IsCOMOpen() != 0;
}

// One poll interval of the power-up: slept, or spent serving the client.
void emu_QimPowerUpPause(useconds_t us, QimLine& clientLine) {
  if (!emu_QimServesClientDuringPowerUp()) {
    usleep(us);
    return;
  }
  const uint64_t end = emu_NowUs() + us;
  for (uint64_t now = emu_NowUs(); now < end; now = emu_NowUs()) {
    (void)emu_WaitForCOMInput(static_cast<int>((end - now + 999) / 1000));
    emu_QimServeClientInput(clientLine);
  }
}

// Phase 1: the firmware holds the module in reset until its driver starts; a prompt tells it
// that the module is up. Until the start-up dialogue is over, the firmware's 10 ms flag moves
// only when the module side sets it.
void emu_QimPowerUp() {
  QimLine clientLine;
  clientLine.Clear();
  while ((PORTE & emu_GetQimRst()) == 0) emu_QimPowerUpPause(RESET_POLL_US, clientLine);
  emu_SetTimerUpdate(1);
  while (emu_GetTimerUpdate() != 0) emu_QimPowerUpPause(FIRST_HANDSHAKE_POLL_US, clientLine);
  emu_QimSendResponsePrompt();
}

// After "ATSB1" the firmware reprograms its USART for 19200 baud and then expects the answer to
// the "ATZ" it sent just before (and discarded with its buffers).
void emu_QimFollowBaudSwitch() {
  while (UBRR0 != emu_BaudrateToUBRR0(19200) || UCSR0A == 0) usleep(BAUD_SWITCH_POLL_US);
  emu_SetTimerUpdate(1);
  while (emu_GetTimerUpdate() != 0) usleep(BAUD_SWITCH_POLL_US);
  emu_QimSendATCmdResponse("ATZ");
}

// Phase 2: every line is an AT command. The firmware's last set-up command, written exactly as
// it sends it, ends the dialogue; from then on the 10 ms tick drives the firmware.
void emu_QimStartUpDialogue(QimLine& line) {
  line.Clear();
  while (syncWithQimIsDone.load() == 0) {
    if (!emu_FirmwareHasBytesToSend()) {
      emu_WaitForFirmwareTx(USART_WAIT_MS);
      continue;
    }
    uint8_t c;
    if (!emu_TakeFirmwareByte(&c)) continue;
    if (c != static_cast<uint8_t>(emu_GetCarriageReturn())) {
      line.Append(c);
      continue;
    }
    (void)emu_SendDataByteToQim();  // the carriage return was the last byte: this one is stale
    emu_QimSendATCmdResponse(line.text);
    if (strcmp(line.text, "ATSB1") == 0) {
      emu_QimFollowBaudSwitch();
    } else if (strcmp(line.text, "ATOF1") == 0 || strcmp(line.text, "ATH1") == 0) {
      syncWithQimIsDone.store(1);
    }
    line.Clear();
  }
}

// OBD2 software mode: the line has gone to the real module; its answer goes to the firmware
// byte by byte up to the prompt. A module that falls silent (a lost line, a dropped connection)
// may never send that prompt: once the firmware has given up waiting and begun its next line,
// the rest of this answer is no longer wanted, and the next line must get through.
void emu_QimRelayAnswer() {
  for (;;) {
    uint8_t byte;
    if (emu_ReadByteCOM(&byte) != 1) {
      if (emu_FirmwareHasQueuedBytes() != 0) return;
      emu_WaitForSerialData(SERIAL_WAIT_MS);
      continue;
    }
    emu_GiveByteToFirmware(byte);
    if (byte == static_cast<uint8_t>(emu_GetPrompt())) return;
  }
}

void emu_QimTakeRunningByte(QimLine& line, uint8_t c, EmuMode mode) {
  if (c == static_cast<uint8_t>(emu_GetCarriageReturn())) {
    if (mode == EmuMode::Obd2Software) {
      emu_QimWriteSerialByte(c);
      emu_QimRelayAnswer();
    } else {
      emu_SendResponse(line.text);
    }
    line.Clear();
    return;
  }
  if (mode == EmuMode::Obd2Software && line.length == 0) emu_FlushCOM();
  if (line.Append(c) && mode == EmuMode::Obd2Software) emu_QimWriteSerialByte(c);
}

// Phase 3: serve the firmware until, in simulator mode, it switches its USART off (one of its
// bridge menus was entered).
void emu_QimRun(QimLine& line) {
  const EmuMode mode = emu_GetPadixMode();
  line.Clear();
  for (;;) {
    emu_WaitForFirmwareTx(USART_NO_TIME_OUT);
    const uint8_t control = UCSR0B;
    if (control == 0 && mode == EmuMode::Simulator) return;
    if ((control & UCSR0B_UDRIE) == 0) continue;
    uint8_t c;
    while (emu_FirmwareHasBytesToSend() && emu_TakeFirmwareByte(&c)) {
      emu_QimTakeRunningByte(line, c, mode);
    }
  }
}

void emu_QimStopFirmware() {
  pthread_cancel(tarnicThread);
  pthread_join(tarnicThread, nullptr);
  tarnicThreadWasCreated = 0;
}

// Answers what the serial client has sent, without waiting for more. The ELM327 v1.5 personality
// reads the line itself and hears from the port of a client that left; the others take it byte
// by byte: only the carriage return ends a line (a line feed belongs to the next line), and what
// a client typed before it closed the terminal is no part of the next client's line.
void emu_QimServeClientInput(QimLine& line) {
  if (serialCanServed.load() != 0) {
    emu_SetTrafficLogModuleEnd('\r');  // a frame a line, and no prompt
    emu_SlcanSetPort(&SERIAL_CAN_LINE);
    emu_SlcanServeInput();
    return;
  }
  if (diagController == EMU_DIAG_ELM327_V15) {
    emu_ElmSetPort(&SERIAL_LINE);
    emu_ElmSetBroadcastSource(emu_QimCarBroadcast);
    emu_ElmServeInput();
    return;
  }
  emu_QimAnswerSerialClient(true);
  uint8_t c;
  while (emu_ReadByteCOM(&c) == 1) {
    if (emu_TakeCOMHangUp() != 0) line.Clear();
    if (c != static_cast<uint8_t>(emu_GetCarriageReturn())) {
      line.Append(c);
      continue;
    }
    emu_SendResponse(line.text);
    line.Clear();
  }
  emu_QimAnswerSerialClient(false);
}

// Phase 4: the handheld now only passes the serial lines through, so the firmware is stopped
// (after the user has had time to see the bridge screen) and the module answers the port.
[[noreturn]] void emu_QimServeSerialClient(QimLine& line) {
  if (tarnicThreadWasCreated.load() != 0) {
    usleep(STOP_FIRMWARE_WAIT_US);
    usleep(STOP_FIRMWARE_WAIT_US);
    emu_QimStopFirmware();
  }
  line.Clear();
  for (;;) {
    emu_WaitForSerialData(emu_QimClientWaitMs(SERIAL_NO_TIME_OUT));
    emu_QimServeClientInput(line);
  }
}

// Serving from start (after the firmware's own module set-up): the client is answered while the
// firmware goes on to its bridge menu. The firmware keeps being served too, should it send; once
// it has switched its USART off it is stopped after the same two seconds as in phase 4.
[[noreturn]] void emu_QimServeFromStart(QimLine& line) {
  const EmuMode mode = emu_GetPadixMode();
  QimLine clientLine;
  clientLine.Clear();
  line.Clear();
  uint64_t usartOffSinceUs = 0;
  for (;;) {
    if (tarnicThreadWasCreated.load() != 0) {
      uint8_t c;
      if (UCSR0B != 0) {
        usartOffSinceUs = 0;
        while (emu_FirmwareHasBytesToSend() && emu_TakeFirmwareByte(&c)) emu_QimTakeRunningByte(line, c, mode);
      } else if (usartOffSinceUs == 0) {
        usartOffSinceUs = emu_NowUs();
      } else if (emu_NowUs() - usartOffSinceUs >= 2u * STOP_FIRMWARE_WAIT_US) {
        emu_QimStopFirmware();
      }
    }
    if (emu_IsCOMOpen()) {
      (void)emu_WaitForCOMInput(emu_QimClientWaitMs(tarnicThreadWasCreated.load() != 0 ? USART_WAIT_MS : SERIAL_NO_TIME_OUT));
    } else {
      usleep(USART_POLL_US);
    }
    emu_QimServeClientInput(clientLine);
  }
}

}  // namespace

void* emu_QimThread(void*) {
  emu_QimAnswerSerialClient(false);  // a thread cancelled while answering its client left it set
  emu_LineFaultsSetDrop(emu_DropCOMClient);
  QimLine line;
  emu_QimPowerUp();
  emu_QimStartUpDialogue(line);
  if (emu_GetPadixMode() == EmuMode::Simulator && padixServe.load() != 0) emu_QimServeFromStart(line);
  emu_QimRun(line);
  emu_QimServeSerialClient(line);
}

uint8_t emu_SendDataByteToQim() { return emu_TakeByteFromFirmware(); }
