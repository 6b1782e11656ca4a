// The vehicle file's service 06 results and request/answer table of one ECU, read and written:
//   tests = ["01 01 0A 0E66 0CCD 1000", ...]   MID, TID, unit and scaling ID, value, min, max
//   answers = [{ request = "22 F1 90", answer = "62 F1 90 ..." },
//              { request = "19 02 *", negative = "31" },
//              { request = "10 03", negative = "78", delay = 250, then = "50 03 00 32 01 F4" }]
// Each replaces what the ECU had.
#pragma once

#include <stdint.h>

#include <ostream>
#include <string>

#include <toml++/toml.h>

#include "vehicle/vehicle.h"

// What is wrong with a value, and where: at its key when one is given, else at the value.
struct EmuFileFault {
  const toml::node* node = nullptr;
  const toml::key* key = nullptr;
  std::string what;
};

bool emu_ReadTestResults(const toml::node& node, EmuEcu& ecu, EmuFileFault* fault);
bool emu_ReadAnswers(const toml::node& node, EmuVehicle& v, uint8_t ecuIdx, EmuFileFault* fault);

// The two keys as the file has them; answers only when the ECU has any.
void emu_WriteTestResults(std::ostream& out, const EmuEcu& ecu);
void emu_WriteAnswers(std::ostream& out, const EmuVehicle& v, uint8_t ecuIdx);

// "22 F1 90", "22F190", "19 02 *": hex bytes, spaces anywhere between digit pairs, and with
// `wildcard` allowed a trailing '*'. False with `what` set when the text is none of these.
bool emu_ParseHexRequest(const std::string& text, bool wildcardAllowed, uint8_t* bytes, size_t max, size_t* n,
                         bool* wildcard, std::string* what);
