// Service 01 values that move by themselves: a recorded trace replayed in time, or a waveform of
// the ECU (ramp, sine, random walk). Read with the vehicle's lock held, as every answer's data.
#include <math.h>
#include <string.h>
#include <time.h>

#include <algorithm>

#include "vehicle/vehicle.h"

namespace {

uint64_t emu_MonotonicMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000u + static_cast<uint64_t>(t.tv_nsec) / 1000000u;
}

void emu_PutRaw(uint32_t value, uint8_t bytes, uint8_t* out) {
  for (uint8_t i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

// The recorded value of this ECU's PID now: the last point at or before the replay's time (the
// points are ordered by ECU, PID and time). False when the trace has none for it.
bool emu_TraceValue(uint8_t ecuIdx, uint8_t pid, uint8_t* out) {
  const EmuTrace& trace = vehicle.trace;
  if (trace.noOfPoints == 0) return false;
  uint64_t at = emu_MonotonicMs() - trace.startedMs;
  if (trace.loop != 0 && trace.durationMs > 0) at %= static_cast<uint64_t>(trace.durationMs) + 1;
  const EmuTracePoint* begin = trace.points;
  const EmuTracePoint* end = trace.points + trace.noOfPoints;
  auto key = [](const EmuTracePoint& p) { return static_cast<uint64_t>(p.ecuIdx) << 40 | static_cast<uint64_t>(p.pid) << 32 | p.timeMs; };
  const uint64_t wanted = static_cast<uint64_t>(ecuIdx) << 40 | static_cast<uint64_t>(pid) << 32;
  const EmuTracePoint* first = std::lower_bound(begin, end, wanted, [&](const EmuTracePoint& p, uint64_t k) { return key(p) < k; });
  if (first == end || first->ecuIdx != ecuIdx || first->pid != pid) return false;
  const uint64_t until = wanted | (at > 0xFFFFFFFFu ? 0xFFFFFFFFu : at);
  const EmuTracePoint* after = std::upper_bound(first, end, until, [&](uint64_t k, const EmuTracePoint& p) { return k < key(p); });
  const EmuTracePoint* point = after == first ? first : after - 1;  // before its first point: that one
  memcpy(out, point->value, point->bytes);
  return true;
}

uint32_t emu_WaveValue(EmuMotion& m) {
  const double low = m.low, high = m.high;
  const double phase = m.periodMs != 0 ? static_cast<double>(emu_MonotonicMs() % m.periodMs) / m.periodMs : 0.0;
  double value = low;
  switch (m.wave) {
    case EmuWave::Ramp:
      value = low + (high - low) * phase;
      break;
    case EmuWave::Sine:
      value = low + (high - low) * (1.0 - cos(2.0 * M_PI * phase)) / 2.0;
      break;
    case EmuWave::Walk: {
      // Steps of up to a sixteenth of the range, kept inside it.
      static uint32_t seed = 2463534242u;
      seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
      const double span = fabs(high - low);
      const double step = (static_cast<double>(seed % 2001) / 1000.0 - 1.0) * span / 16.0;
      const double lo = std::min(low, high), hi = std::max(low, high);
      value = std::clamp(static_cast<double>(m.walk) + step, lo, hi);
      m.walk = static_cast<uint32_t>(value + 0.5);
      return m.walk;
    }
  }
  return static_cast<uint32_t>(value + 0.5);
}

}  // namespace

// A recorded value shorter than the answer's bytes (a one-byte bank value sent as two) is padded
// with zeros, as a value of its own is.
bool emu_MovingValue(uint8_t ecuIdx, uint8_t pid, uint8_t bytes, uint8_t* out) {
  memset(out, 0, bytes);
  if (emu_TraceValue(ecuIdx, pid, out)) return true;
  EmuEcu& ecu = vehicle.ecu[ecuIdx];
  for (uint8_t i = 0; i < ecu.noOfMotions && i < EMU_MAX_MOTIONS; ++i) {
    if (ecu.motion[i].pid != pid) continue;
    emu_PutRaw(emu_WaveValue(ecu.motion[i]), bytes, out);
    return true;
  }
  return false;
}

bool emu_MovingValueSeen(uint8_t ecuIdx, uint8_t pid, uint8_t bytes, uint8_t* out) {
  const EmuEcu& ecu = vehicle.ecu[ecuIdx % EMU_MAX_ECUS];
  for (uint8_t i = 0; i < ecu.noOfMotions && i < EMU_MAX_MOTIONS; ++i) {
    if (ecu.motion[i].pid != pid || ecu.motion[i].wave != EmuWave::Walk) continue;
    memset(out, 0, bytes);
    if (emu_TraceValue(ecuIdx, pid, out)) return true;
    emu_PutRaw(ecu.motion[i].walk, bytes, out);
    return true;
  }
  return emu_MovingValue(ecuIdx % EMU_MAX_ECUS, pid, bytes, out);
}
