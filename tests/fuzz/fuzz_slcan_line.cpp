// Fuzz target: the bytes a CAN tool sends the serial CAN adapter. Every line the reader completes
// is read as a command; a frame stays within its bounds and, written as the adapter writes
// frames and read again, comes out the same. The same bytes are then served whole by the adapter
// with the car on its bus (a clock that only moves when asked), which must answer within its
// buffers whatever comes.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "slcan/slcan.h"
#include "slcan/slcan_reader.h"

namespace {

void emu_FuzzFail(const char* what) {
  fprintf(stderr, "slcan_line: %s\n", what);
  abort();
}

void emu_FuzzCheckFrame(const EmuCanFrame& f) {
  if (f.dlc > EMU_CAN_MAX_DLC) emu_FuzzFail("a length over 8");
  if (f.id > (f.extended ? EMU_CAN_MAX_ID29 : EMU_CAN_MAX_ID11)) emu_FuzzFail("an identifier too large");
  char text[EMU_SLCAN_FRAME_TEXT_MAX];
  const size_t n = emu_SlcanWriteFrame(f, -1, text);
  if (n == 0 || n > sizeof text || text[n - 1] != '\r') emu_FuzzFail("a frame written past its bound");
  const EmuSlcanCommand again = emu_SlcanReadCommand(text, n - 1);
  if (again.kind != EmuSlcanCommandKind::Frame || again.frame.id != f.id || again.frame.dlc != f.dlc ||
      again.frame.extended != f.extended || again.frame.remote != f.remote ||
      (!f.remote && memcmp(again.frame.data, f.data, f.dlc) != 0))
    emu_FuzzFail("a frame changed on its way through writer and reader");
}

const uint8_t* input;
size_t inputLeft;
size_t written;

int emu_FuzzRead(uint8_t* bytes, int max) {
  // A few bytes at a time, so that commands are cut between reads as a line cuts them.
  size_t n = inputLeft < 7 ? inputLeft : 7;
  if (n > static_cast<size_t>(max)) n = static_cast<size_t>(max);
  memcpy(bytes, input, n);
  input += n;
  inputLeft -= n;
  return static_cast<int>(n);
}
void emu_FuzzWrite(const char*, size_t n) { written += n; }

uint64_t fuzzNowUs = 0;
uint64_t emu_FuzzNow() { return fuzzNowUs += 137; }
void emu_FuzzPause(uint32_t us) { fuzzNowUs += us; }

const EmuSlcanPort PORT = {emu_FuzzRead, emu_FuzzWrite};
const EmuSlcanClock CLOCK = {emu_FuzzNow, emu_FuzzPause};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EmuSlcanLine line;
  emu_SlcanClearLine(&line);
  for (size_t i = 0; i < size; ++i) {
    if (line.length > EMU_SLCAN_LINE_MAX) emu_FuzzFail("past the line");
    if (!emu_SlcanTakeByte(&line, data[i])) continue;
    if (!line.overflow) {
      const EmuSlcanCommand c = emu_SlcanReadCommand(line.text, line.length);
      if (c.kind == EmuSlcanCommandKind::Frame) emu_FuzzCheckFrame(c.frame);
    }
    emu_SlcanClearLine(&line);
  }

  emu_SlcanSetClock(&CLOCK);
  emu_SlcanInit();
  emu_SlcanSetPort(&PORT);
  input = data;
  inputLeft = size;
  written = 0;
  emu_SlcanServeInput();
  emu_SlcanSetPort(nullptr);
  return 0;
}
