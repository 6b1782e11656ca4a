// Faults on the serial line: what the line's owner asks before, during and after each answer.
#include "adapter/line_faults.h"

#include <errno.h>
#include <string.h>
#include <time.h>

#include <atomic>

#include "line/serial_port.h"
#include "vehicle/timeline.h"
#include "vehicle/vehicle_faults.h"
#include "vehicle/vehicle_file.h"

namespace {

constexpr char PROMPT = '>';

std::atomic<void (*)()> dropLine{nullptr};

// The line and the car meet here, above both, from the start of the run: the line tells the
// timeline of its clients (timeline or not), and the car's "faults.drop_now" drops the client.
[[maybe_unused]] const bool lineAndCarJoined =
    (emu_lineClientNotice.store(&emu_TimelineClientNotice), emu_vehicleDropNotice.store(&emu_LineFaultsDrop), true);

// splitmix64: small, fast, and the same sequence from the same seed on every machine.
struct Generator {
  uint64_t state;
  uint32_t stamp;
  bool started;

  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. n-1
  uint64_t Below(uint64_t n) { return n == 0 ? 0 : Next() % n; }
  // Starts again from the seed when a new one was given.
  void Follow(const EmuFaults& f) {
    if (started && stamp == f.seedStamp) return;
    state = f.seed;
    stamp = f.seedStamp;
    started = true;
  }
};
Generator generator{0, 0, false};

// The client on the line: its answered lines and since when it is there (0: no byte yet).
uint32_t linesAnswered = 0;
uint64_t clientSinceMs = 0;

// The answer being written.
struct Answer {
  bool on;         // between the carriage return and the prompt, with the line misbehaving
  bool begun;      // its first byte has gone (after the stall and the noise before it)
  bool silent;     // it is swallowed whole, prompt and all
  size_t inPiece;  // bytes of the current piece written
  EmuFaults f;
};
Answer answer{};

// One-shot faults, armed by another thread and taken (exchanged) by the line's.
std::atomic<int> armedError{-1};
std::atomic<uint32_t> armedStallMs{0};
std::atomic<bool> armedSilence{false};

uint64_t emu_NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000u + static_cast<uint64_t>(t.tv_nsec) / 1000000u;
}

void emu_Pause(uint32_t ms) {
  timespec left = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

bool emu_WireFaultsOn(const EmuFaults& f) {
  return f.chunk != 0 || f.stallMs != 0 || f.garbageBefore != 0 || f.garbageInside != 0;
}

// Answer bytes in pieces of faults.chunk, with the pause between two pieces.
void emu_PutPieces(void (*write)(const char*, size_t), const char* text, size_t n) {
  const size_t piece = answer.f.chunk;
  if (piece == 0) {
    if (n != 0) write(text, n);
    return;
  }
  while (n > 0) {
    if (answer.inPiece == piece) {
      emu_Pause(answer.f.chunkPauseMs);
      answer.inPiece = 0;
    }
    const size_t take = n < piece - answer.inPiece ? n : piece - answer.inPiece;
    write(text, take);
    answer.inPiece += take;
    text += take;
    n -= take;
  }
}

// Line noise: any byte but the prompt, which would end the client's wait for the answer.
void emu_PutNoise(void (*write)(const char*, size_t), uint16_t count) {
  char noise[256];
  while (count > 0) {
    const size_t n = count < sizeof noise ? count : sizeof noise;
    for (size_t i = 0; i < n; ++i) {
      uint8_t b = static_cast<uint8_t>(generator.Below(255));
      if (b >= static_cast<uint8_t>(PROMPT)) ++b;
      noise[i] = static_cast<char>(b);
    }
    emu_PutPieces(write, noise, n);
    count = static_cast<uint16_t>(count - n);
  }
}

}  // namespace

void emu_LineFaultsSetDrop(void (*drop)()) { dropLine = drop; }

void emu_LineFaultsDrop() {
  void (*drop)() = dropLine.load();
  if (drop != nullptr) drop();
}

void emu_LineFaultsRestart() {
  generator.started = false;
  emu_LineFaultsNewClient();
  answer.on = false;
}

void emu_LineFaultsNewClient() {
  linesAnswered = 0;
  clientSinceMs = 0;
  answer.on = false;  // an answer cut short by the client's leaving ends with it
}

void emu_LineFaultsInput() {
  if (clientSinceMs == 0) clientSinceMs = emu_NowMs();
}

int emu_LineFaultsWaitMs(int timeoutMs) {
  if (clientSinceMs == 0) return timeoutMs;
  const uint32_t dropAt = emu_FaultsNow().dropAtMs;
  if (dropAt == 0) return timeoutMs;
  const uint64_t due = clientSinceMs + dropAt, now = emu_NowMs();
  const int left = due <= now ? 0 : static_cast<int>(due - now);
  return timeoutMs < 0 || left < timeoutMs ? left : timeoutMs;
}

bool emu_LineFaultsDropDue() {
  if (clientSinceMs == 0) return false;
  const uint32_t dropAt = emu_FaultsNow().dropAtMs;
  if (dropAt == 0 || emu_NowMs() - clientSinceMs < dropAt) return false;
  clientSinceMs = 0;
  return true;
}

void emu_LineFaultsAnswerBegins(void (*flush)()) {
  EmuFaults f = emu_FaultsNow();
  generator.Follow(f);
  // An armed stall replaces the set one for this answer only.
  if (const uint32_t stall = armedStallMs.exchange(0); stall != 0) f.stallMs = stall;
  const bool silent = armedSilence.exchange(false);
  if (!silent && !emu_WireFaultsOn(f)) {
    answer.on = false;
    return;
  }
  flush();  // the last answer, when it is still held, goes out to its prompt first
  answer.f = f;
  answer.on = true;
  answer.begun = false;
  answer.silent = silent;
  answer.inPiece = 0;
}

bool emu_LineFaultsAnswerEnds() {
  ++linesAnswered;
  const uint32_t after = emu_FaultsNow().dropAfter;
  if (after == 0 || linesAnswered < after) return false;
  linesAnswered = 0;
  return true;
}

void emu_LineFaultsWrite(void (*write)(const char* text, size_t n), const char* text, size_t n) {
  while (n > 0) {
    if (!answer.on) {
      write(text, n);
      return;
    }
    if (answer.silent) {
      const char* prompt = static_cast<const char*>(memchr(text, PROMPT, n));
      if (prompt == nullptr) return;
      answer.on = false;
      n -= static_cast<size_t>(prompt - text) + 1;
      text = prompt + 1;
      continue;
    }
    if (!answer.begun) {
      answer.begun = true;
      if (answer.f.stallMs != 0) emu_Pause(answer.f.stallMs);
      emu_PutNoise(write, answer.f.garbageBefore);
    }
    const char* prompt = static_cast<const char*>(memchr(text, PROMPT, n));
    const size_t part = prompt != nullptr ? static_cast<size_t>(prompt - text) + 1 : n;
    if (prompt != nullptr && answer.f.garbageInside != 0) {
      // Somewhere after the answer's first byte here and before its prompt.
      const size_t before = part - 1;
      const size_t at = before == 0 ? 0 : 1 + generator.Below(before);
      emu_PutPieces(write, text, at);
      emu_PutNoise(write, answer.f.garbageInside);
      emu_PutPieces(write, text + at, part - at);
    } else {
      emu_PutPieces(write, text, part);
    }
    if (prompt != nullptr) answer.on = false;
    text += part;
    n -= part;
  }
}

int emu_LineFaultsDrawError() {
  // An armed error draws nothing: the seeded draws go on as they would have without it.
  if (const int armed = armedError.exchange(-1); armed >= 0 && armed < EMU_FAULT_ERROR_KINDS) return armed;
  const EmuFaults f = emu_FaultsNow();
  generator.Follow(f);
  if (f.errorRate <= 0 || f.noOfErrors == 0) return -1;
  const double draw = static_cast<double>(generator.Next() >> 11) * 0x1.0p-53;
  if (draw >= f.errorRate) return -1;
  return f.errors[generator.Below(f.noOfErrors)];
}

void emu_LineFaultsArmError(int error) { armedError = error >= 0 && error < EMU_FAULT_ERROR_KINDS ? error : -1; }

void emu_LineFaultsArmStall(uint32_t ms) { armedStallMs = ms > EMU_FAULT_MAX_MS ? EMU_FAULT_MAX_MS : ms; }

void emu_LineFaultsArmSilence(bool silent) { armedSilence = silent; }

EmuArmedFaults emu_LineFaultsArmed() {
  EmuArmedFaults armed;
  armed.error = armedError;
  armed.stallMs = armedStallMs;
  armed.silent = armedSilence;
  return armed;
}
