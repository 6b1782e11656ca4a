// An ECU's keys in vehicle files, each declared once (vehicle_file_keys.cpp): its name as users
// type it, the kind of value it takes, its limits and where the ECU keeps it. Loading a file,
// "set" and saving all go by the one table, saving in its order; keys with logic of their own
// (the PIDs' bytes, test results, answers) are reached from their row. A key whose name has a dot
// ("dtc.confirmed") is read inside the table its first part names ("dtc = { confirmed = ... }").
// Not here: the named service 01 items (vehicle_items.h) and the ECU's faults
// (vehicle_file_faults.h).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <ostream>
#include <string>

#include <toml++/toml.h>

#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file_answers.h"

enum class EmuKeyKind : uint8_t {
  Flag,     // true or false, kept as 1 or 0
  Whole,    // a whole number from `low` to `high`; with `choices`, only one of them
  Hex,      // hex bytes in quotes ("07 FF FF"): as many as the place holds, or with `shorter`
            // 1 up to them (the rest 00)
  Address,  // one hex byte, not 00
  Text,     // a text in quotes: as many bytes as the place holds, or with `shorter` up to them
            // (the rest zero bytes, which a save leaves out)
  EcuName,  // a text laid out as an ECU name (emu_EcuNameFromText)
  Codes,    // trouble codes ("P0301", or a list), up to the place's entries
  Own,      // read and written by the row's own functions
};

// Where an ECU keeps a key's value, as bytes (two-byte numbers high byte first): one value of
// `width` bytes, or a list of up to `entries` such values with its count.
struct EmuEcuPlace {
  uint8_t width;
  uint8_t entries;  // 0: one value
  void (*get)(const EmuEcu& ecu, uint8_t entry, uint8_t* bytes);
  void (*put)(EmuEcu& ecu, uint8_t entry, const uint8_t* bytes);
  uint8_t (*count)(const EmuEcu& ecu);
  void (*setCount)(EmuEcu& ecu, uint8_t n);
};

struct EmuEcuKey {
  const char* name = nullptr;
  EmuKeyKind kind = EmuKeyKind::Own;
  EmuEcuPlace place = {};
  int64_t low = 0, high = 0;         // Whole
  const uint8_t* choices = nullptr;  // Whole: the values allowed, in order (null: any in range)
  uint8_t noOfChoices = 0;
  bool shorter = false;              // Hex, Text
  // What is said of a list that is none or too long, or of a text of another length.
  const char* wrongSize = nullptr;
  // Own keys.
  bool (*read)(const toml::node& node, EmuVehicle& v, uint8_t ecuIdx, EmuFileFault* fault) = nullptr;
  // `initial` is the ECU as a loaded file starts it.
  void (*write)(std::ostream& out, const EmuVehicle& v, const EmuEcu& initial, uint8_t ecuIdx) = nullptr;
};

// The keys, in the order a save writes them.
const EmuEcuKey* emu_EcuKeys(size_t* count);
// The key of this name ("vin", "dtc.pending"), or null.
const EmuEcuKey* emu_FindEcuKey(const std::string& name);
// Whether `name` is the first part of dotted keys ("dtc"), and the words for a value that is not
// their table ("expected dtc.confirmed, dtc.pending or dtc.permanent").
bool emu_IsEcuKeyGroup(const std::string& name);
std::string emu_EcuKeyGroupExpected(const std::string& name);

// Reads one key's value into ECU ecuIdx of `v`; false with `fault` set.
bool emu_ReadEcuKey(const EmuEcuKey& key, const toml::node& node, EmuVehicle& v, uint8_t ecuIdx, EmuFileFault* fault);
// Writes "name = value" lines of one key of ECU ecuIdx.
void emu_WriteEcuKey(std::ostream& out, const EmuEcuKey& key, const EmuVehicle& v, const EmuEcu& initial,
                     uint8_t ecuIdx);

// Shared with the rest of the reader and the writer.
// The values a key's kinds take, read: false with `fault` set.
bool emu_ReadWhole(const toml::node& node, int64_t low, int64_t high, int64_t* out, EmuFileFault* fault);
bool emu_ReadFlag(const toml::node& node, bool* out, EmuFileFault* fault);
// The data bytes a PID's class sends where its raw bytes may be given; 0 when they may not.
uint8_t emu_PidRawBytes(uint8_t pid);
// A PID's bytes as given (a value of its own, or its table), the PID then marked supported.
void emu_SetPidBytes(EmuEcu& ecu, uint8_t pid, const uint8_t* data, size_t n);
// A PID given a value is one the ECU supports, with the ranges that lead to it.
void emu_MarkPidSupported(EmuEcu& ecu, uint8_t pid);
// A TOML basic string; zero bytes (ECU names have them) and other control characters escaped.
// With `padded`, trailing zero bytes are padding and left out.
std::string emu_QuotedBytes(const uint8_t* bytes, size_t n, bool padded);
