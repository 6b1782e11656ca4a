// A car as learning read it through an adapter: for each ECU that answered, every request asked
// and the messages it answered with; turned into a vehicle whose own OBD services (support maps,
// PID values, codes, monitors, test results, vehicle information) give the same bytes, with what
// those services cannot hold (PIDs and info types the vehicle does not model, the user's extra
// requests) in its request/answer table. Then written with the vehicle's own save.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "learn/adapter_answer.h"
#include "vehicle/vehicle.h"

struct EmuLearnedEcu {
  uint8_t sender = 0;  // 11-bit CAN: E8 for 7E8; else its address
  // Each request (its bytes) and the ECU's messages to it, in the order they came.
  std::map<std::vector<uint8_t>, std::vector<std::vector<uint8_t>>> answers;
  // Every reading of a service 01 PID's data bytes, with its time (ms): a value seen changing
  // becomes a trace of what was seen.
  std::map<uint8_t, std::vector<std::pair<uint32_t, std::vector<uint8_t>>>> samples;
  bool Moves(uint8_t pid) const;
  const std::vector<std::vector<uint8_t>>* Answer(const std::vector<uint8_t>& request) const;
};

struct EmuLearnedCar {
  uint8_t protocol = 0;  // 1..9, as the adapter found it
  EmuLearnBus bus = EmuLearnBus::Can11;
  uint8_t batteryDeciVolts = 0;  // 0: not read
  std::vector<EmuLearnedEcu> ecus;  // in the order they first answered; at most 8
  // Requests the vehicle's own services do not cover: their answers go to the table.
  std::vector<std::vector<uint8_t>> tableRequests;

  // The ECU that sent from this address, made when new (nullptr past eight ECUs).
  EmuLearnedEcu* Ecu(uint8_t sender, bool addIfNew);
  // Every message of one answer taken to its sender, in place of an earlier answer to the request.
  void Take(const std::vector<uint8_t>& request, const std::vector<EmuLearnMessage>& messages, bool addEcus);
};

// Fills `v` (from the built-in car) with the learned ECUs; 0, or -1 with `error` set (a table
// that overflows). Values seen changing, and service 01 values other than the freeze frame's of
// the same PID, go into v.trace (looping, from the first reading), named `tracePath`.
int emu_LearnBuildVehicle(const EmuLearnedCar& car, EmuVehicle& v, const std::string& tracePath, std::string* error);
// Writes v.trace as the trace file `path` ("time,ecu,pid.XX,bytes" rows); 0, or -1 with `error`.
int emu_LearnWriteTrace(const EmuVehicle& v, const std::string& path, std::string* error);

// Puts `v` in as the running car, with the learned protocol, and compares each learned answer with
// what the running car now gives: the requests whose answer differs ("01 0C from 7E8"), none when
// the file reproduces the car. PIDs seen moving are left out: they follow their trace.
std::vector<std::string> emu_LearnPutAndCompare(const EmuLearnedCar& car, const EmuVehicle& v);
