// Faults on cue: settings that make the car and the serial line misbehave the way real ones do,
// so that a client's handling of them can be tried. They are part of the vehicle (its file's
// [faults] table, "ignition", "resting_battery" and ecu.N.silent / .answer_delay /
// .response_pending) and change under the vehicle's lock like any other value. With the
// defaults nothing is different. What they do on the line is line_faults.h's; what the car does,
// the queries below.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr uint8_t EMU_FAULT_ECUS = 8;  // one an ECU of the vehicle (vehicle.h checks)

// The adapter errors a share of answers can be replaced by, in this order (indices in
// EmuFaults::errors).
constexpr const char* EMU_FAULT_ERROR_TEXTS[] = {
    "NO DATA",     "CAN ERROR",  "BUS ERROR", "BUS BUSY", "BUFFER FULL",      "DATA ERROR",
    "<DATA ERROR", "<RX ERROR",  "FB ERROR",  "STOPPED",  "UNABLE TO CONNECT",
};
constexpr uint8_t EMU_FAULT_ERROR_KINDS = sizeof EMU_FAULT_ERROR_TEXTS / sizeof EMU_FAULT_ERROR_TEXTS[0];
constexpr uint8_t EMU_FAULT_NO_DATA = 0;
constexpr uint8_t EMU_FAULT_DATA_ERROR_MARK = 6;  // "<DATA ERROR": after the answer's line
constexpr uint8_t EMU_FAULT_RX_ERROR_MARK = 7;    // "<RX ERROR": after what was received

// Bounds of the numbers, as the vehicle file checks them.
constexpr uint32_t EMU_FAULT_MAX_MS = 600000;      // pauses, stalls, drops: ten minutes
constexpr uint32_t EMU_FAULT_MAX_ECU_MS = 60000;   // an ECU's delays, as a table entry's
constexpr uint16_t EMU_FAULT_MAX_GARBAGE = 4096;   // bytes of line noise at one place
constexpr uint32_t EMU_FAULT_MAX_REQUESTS = 1000000000;

struct EmuEcuFaults {
  uint8_t silent;              // the ECU does not answer
  uint32_t answerDelayMs;      // it answers this late (past the adapter's time-out: not at all)
  uint32_t responsePendingMs;  // every answer is first 7F xx 78, the answer itself this late
};

struct EmuFaults {
  // The line (the adapter's personalities; line_faults.h).
  uint16_t chunk;          // answers go out in pieces of this many bytes; 0 whole
  uint32_t chunkPauseMs;   // between two pieces
  uint32_t stallMs;        // silence before each answer
  uint16_t garbageBefore;  // bytes of noise before each answer
  uint16_t garbageInside;  // bytes of noise inside each answer, at a drawn place
  uint32_t dropAfter;      // the client is dropped once this many of its lines are answered; 0 never
  uint32_t dropAtMs;       // the client is dropped this long after it came; 0 never
  double errorRate;        // share of OBD answers replaced by an error, 0..1
  uint8_t noOfErrors;      // the errors drawn from, as indices into EMU_FAULT_ERROR_TEXTS
  uint8_t errors[EMU_FAULT_ERROR_KINDS];
  uint64_t seed;           // of the generator that draws errors, noise and places
  uint32_t seedStamp;      // new each time a seed is given (or a file loaded): the draws restart
  // The car.
  uint8_t ignition;            // off: no ECU answers and the supply shows the resting voltage
  uint8_t restingDeciVolts;    // the battery with the engine off (12.4 V)
  EmuEcuFaults ecu[EMU_FAULT_ECUS];
};

void emu_FaultsSetDefaults(EmuFaults& f);
// The running vehicle's faults as they are now (a copy taken under the vehicle's lock).
EmuFaults emu_FaultsNow();

// ---------------------------------------------------------------------------------------------
// The car (car_faults.cpp).

// Faults of the car's CAN bus that happen once, when asked for (a file's or a set's
// "lose_frame" / "error_frame", the operator's keys): armed from any thread, taken by the front
// that serves the bus when their moment comes.
enum class EmuCanCue : uint8_t {
  SilentRequest = 0x01,  // the next request the tester sends goes unanswered
  ErrorFrame = 0x02,     // the next frame the tester sends is destroyed by an error frame
  LostFrame = 0x04,      // the next consecutive frame an ECU sends never reaches the tester
};
void emu_CarArmCanCue(EmuCanCue cue);
// True once after the cue was armed.
bool emu_CarTakeCanCue(EmuCanCue cue);
void emu_CarClearCanCues();

struct EmuEcuAnswer;

// The ignition is on (the default).
bool emu_CarIgnitionOn();
// The ECU gives no answer: the ignition is off, or the ECU is made silent.
bool emu_CarEcuSilent(uint8_t ecuIdx);
// What an adapter reads on its supply pin: the battery with the ignition on, the resting voltage
// with it off.
uint8_t emu_CarSupplyDeciVolts();
// The ECU's answer to a request of this service as the faults make it: late by its answer delay,
// or first a 78 (response pending) and the answer after the pending time. An answer that already
// has its own delay (a table entry's 78) keeps it.
void emu_CarApplyEcuFaults(uint8_t ecuIdx, uint8_t service, EmuEcuAnswer* answer);
