// The operator's commands: one row each, the key that types it and the menu entry that offers
// it. A key applies the number memory through the same setter as the menu's choice, unless the
// row gives the key a way of its own (the lamp only on, jitter and codes toggled). Values are
// read from the vehicle and module as they are now.
#include "host/operator_commands.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <array>
#include <string>

#include "bus/negative_codes.h"
#include "bus/protocols.h"
#include "elm327/elm327.h"
#include "host/key_loop.h"
#include "module/module.h"
#include "vehicle/uds_server.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file.h"

namespace {

const char* const OFF_ON[] = {"Off", "On"};
// The car's protocol by the table's menu names, automatic ("Any") first.
const std::array<const char*, EMU_PROTOCOL_ROWS> PROTOCOLS = [] {
  std::array<const char*, EMU_PROTOCOL_ROWS> names{};
  for (uint8_t p = 0; p < EMU_PROTOCOL_ROWS; ++p) names[p] = emu_Protocol(p).menuName;
  return names;
}();
const char* const PERSONALITIES[] = {"QIM", "ELM327 v1.1", "ELM327 v1.3a", "ELM327 v1.5"};

// "None", then each code the car can be made to answer with: "10 general reject", ...
constexpr int NEGATIVE_CHOICES = 1 + static_cast<int>(EMU_NEGATIVE_CODE_COUNT);
struct NegativeChoices {
  char text[NEGATIVE_CHOICES][48];
  std::array<const char*, NEGATIVE_CHOICES> labels;
  uint8_t digits[NEGATIVE_CHOICES];  // as the vehicle keeps them; 0 none
};
const NegativeChoices NEGATIVE_RESPONSES = [] {
  NegativeChoices c{};
  snprintf(c.text[0], sizeof c.text[0], "None");
  for (size_t i = 0; i < EMU_NEGATIVE_CODE_COUNT; ++i) {
    const EmuNegativeCode& code = EMU_NEGATIVE_CODES[i];
    snprintf(c.text[i + 1], sizeof c.text[i + 1], "%02X %s", code.code, code.name);
    c.digits[i + 1] = emu_NegativeCodeDigits(code.code);
  }
  for (int i = 0; i < NEGATIVE_CHOICES; ++i) c.labels[static_cast<size_t>(i)] = c.text[i];
  return c;
}();

const EmuEcu& emu_SelectedEcu() { return vehicle.ecu[emu_VehicleSelectedEcu()]; }

int emu_NegativeResponseChoice() {
  const uint8_t code = emu_SelectedEcu().negRespCode;
  for (int i = 0; i < NEGATIVE_CHOICES; ++i)
    if (NEGATIVE_RESPONSES.digits[i] == code) return i;
  return -1;
}

// The setter toggles a code per ECU: choosing one that is set already keeps it.
void emu_ChooseNegativeResponse(uint8_t choice) {
  const uint8_t now = emu_SelectedEcu().negRespCode;
  const uint8_t code = NEGATIVE_RESPONSES.digits[choice];
  if (code == now) return;
  if (now != 0) emu_VehicleSetObdNegRespCode(now);  // off first
  if (code != 0) emu_VehicleSetObdNegRespCode(code);
}

// Faults on cue, set by their names in the vehicle file as "set" does: the choices of a row are
// values of one name, the current one found among them.
void emu_SetFault(const std::string& name, const std::string& value) {
  std::string error;
  (void)emu_SetVehicleValue(name.c_str(), value.c_str(), &error);  // the choices are all good values
}

std::string emu_SelectedEcuKey(const char* key) {
  return "ecu." + std::to_string(emu_VehicleSelectedEcu() + 1) + "." + key;
}

template <size_t N>
int emu_ChoiceOf(const uint32_t (&values)[N], uint32_t now) {
  for (size_t i = 0; i < N; ++i)
    if (values[i] == now) return static_cast<int>(i);
  return -1;
}

const char* const ERROR_RATES[] = {"Off", "5 %", "10 %", "25 %", "50 %", "Every answer"};
const char* const ERROR_RATE_VALUES[] = {"0", "0.05", "0.1", "0.25", "0.5", "1"};
const char* const CHUNKS[] = {"Off", "1 byte, 10 ms apart", "4 bytes, 50 ms apart", "16 bytes, 200 ms apart"};
constexpr uint32_t CHUNK_BYTES[] = {0, 1, 4, 16};
constexpr uint32_t CHUNK_PAUSES_MS[] = {0, 10, 50, 200};
const char* const STALLS[] = {"Off", "100 ms", "500 ms", "2 s", "10 s"};
constexpr uint32_t STALL_MS[] = {0, 100, 500, 2000, 10000};
const char* const NOISES[] = {"Off", "8 bytes before each answer", "8 bytes inside each answer"};
const char* const ECU_DELAYS[] = {"Off", "50 ms", "200 ms", "1 s", "5 s"};
constexpr uint32_t ECU_DELAY_MS[] = {0, 50, 200, 1000, 5000};
const char* const BATTERY[] = {"11.0 V", "11.8 V", "12.4 V", "12.6 V", "13.5 V", "14.4 V"};
const char* const BATTERY_VALUES[] = {"11.0", "11.8", "12.4", "12.6", "13.5", "14.4"};
constexpr uint32_t BATTERY_DECIVOLTS[] = {110, 118, 124, 126, 135, 144};

int emu_ErrorRateChoice() {
  const double rate = emu_FaultsNow().errorRate;
  for (int i = 0; i < 6; ++i)
    if (strtod(ERROR_RATE_VALUES[i], nullptr) == rate) return i;
  return -1;
}

int emu_ChunkChoice() {
  const EmuFaults f = emu_FaultsNow();
  const int i = emu_ChoiceOf(CHUNK_BYTES, f.chunk);
  return i >= 0 && CHUNK_PAUSES_MS[i] == f.chunkPauseMs ? i : -1;
}
void emu_ChooseChunk(uint8_t v) {
  emu_SetFault("faults.chunk", std::to_string(CHUNK_BYTES[v]));
  emu_SetFault("faults.chunk_pause", std::to_string(CHUNK_PAUSES_MS[v]));
}

int emu_NoiseChoice() {
  const EmuFaults f = emu_FaultsNow();
  if (f.garbageBefore == 0 && f.garbageInside == 0) return 0;
  if (f.garbageBefore == 8 && f.garbageInside == 0) return 1;
  if (f.garbageBefore == 0 && f.garbageInside == 8) return 2;
  return -1;
}
void emu_ChooseNoise(uint8_t v) {
  emu_SetFault("faults.garbage_before", v == 1 ? "8" : "0");
  emu_SetFault("faults.garbage_inside", v == 2 ? "8" : "0");
}

const EmuEcuFaults& emu_SelectedEcuFaults(const EmuFaults& f) { return f.ecu[emu_VehicleSelectedEcu()]; }

// The oxygen sensors' layout of the selected ECU, as its setters leave it: located by PID 13 (one
// or two banks) or by PID 1D (one to four); -1 for a layout of neither's (a vehicle file's own).
bool emu_SupportsPid(const EmuEcu& ecu, uint8_t pid) {
  return (ecu.supPids[emu_PidByte(pid)].load() & emu_PidMask(pid)) != 0;
}
constexpr uint32_t PID13_LOCATIONS[] = {0x0F, 0xFF};
constexpr uint32_t PID1D_LOCATIONS[] = {0x03, 0x0F, 0x3F, 0xFF};
int emu_Pid13Banks() {
  const EmuEcu& ecu = emu_SelectedEcu();
  if (!emu_SupportsPid(ecu, 0x13) || emu_SupportsPid(ecu, 0x1D)) return -1;
  const int i = emu_ChoiceOf(PID13_LOCATIONS, ecu.dataPid13or1D.load());
  return i < 0 ? -1 : i + 1;
}
int emu_Pid1DBanks() {
  const EmuEcu& ecu = emu_SelectedEcu();
  if (!emu_SupportsPid(ecu, 0x1D) || emu_SupportsPid(ecu, 0x13)) return -1;
  const int i = emu_ChoiceOf(PID1D_LOCATIONS, ecu.dataPid13or1D.load());
  return i < 0 ? -1 : i + 1;
}

void emu_SetJitter(uint8_t on) {
  if ((vehicle.dataJitterIsEnabled != 0) != (on != 0)) emu_VehicleToggleDataJitter();
}

// The one-shot answers and the keys' own ways.
// On the serial CAN adapter there is no answer text to replace: "NO DATA" is the ECUs keeping
// silent at the next request, "CAN ERROR" an error frame destroying the tester's next frame
// (the status flags show the bus error).
void emu_NextAnswerNoData(uint8_t) {
  if (serialCanServed.load() != 0) {
    emu_CarArmCanCue(EmuCanCue::SilentRequest);
  } else {
    sendNoData = 1;
  }
}
void emu_NextAnswerCanError(uint8_t) {
  if (serialCanServed.load() != 0) {
    emu_CarArmCanCue(EmuCanCue::ErrorFrame);
  } else {
    sendCanError = 1;
  }
}
// "CAN ERROR" only exists on CAN; on other protocols it is not armed, now or later. The ELM327
// v1.5 personality serves its client on a protocol of its own; the serial CAN adapter is on CAN.
bool emu_CanInUse() {
  return serialCanServed.load() != 0 || emu_QimIsCanProtocol() != 0 ||
         (diagController == EMU_DIAG_ELM327_V15 && emu_ElmIsCanProtocolInUse() != 0);
}
void emu_MilOn(uint8_t) { emu_VehicleSetMilState(1); }
void emu_ToggleJitter(uint8_t) { emu_VehicleToggleDataJitter(); }
void emu_NumberMemShownOrHidden(uint8_t) { emu_ToggleNumberMemDisplay(); }
void emu_SetIgnition(uint8_t v) { emu_SetFault("ignition", v != 0 ? "true" : "false"); }
void emu_SetBattery(uint8_t v) { emu_SetFault("battery", BATTERY_VALUES[v]); }
void emu_SetSelectedEcuSilent(uint8_t v) { emu_SetFault(emu_SelectedEcuKey("silent"), v != 0 ? "true" : "false"); }
void emu_SetSelectedEcuLate(uint8_t v) {
  emu_SetFault(emu_SelectedEcuKey("answer_delay"), std::to_string(ECU_DELAY_MS[v]));
}
void emu_SetSelectedEcuPending(uint8_t v) {
  emu_SetFault(emu_SelectedEcuKey("response_pending"), std::to_string(ECU_DELAY_MS[v]));
}
void emu_SetErrorRate(uint8_t v) { emu_SetFault("faults.error_rate", ERROR_RATE_VALUES[v]); }
void emu_SetStall(uint8_t v) { emu_SetFault("faults.stall", std::to_string(STALL_MS[v])); }
void emu_DropNow(uint8_t) { emu_SetFault("faults.drop_now", "true"); }

int emu_OnOff(bool on) { return on ? 1 : 0; }

// The session and lock of the ECU a tester last asked through its diagnostic server (else of the
// selected ECU), as the menu's text: it changes only by the tester's requests and time.
void emu_DescribeUdsState(char* text, size_t size) {
  const int asked = emu_UdsLastAddressedEcu();
  emu_UdsStatusText(static_cast<uint8_t>(asked >= 0 ? asked : emu_VehicleSelectedEcu()), text, size);
}
void emu_NothingToDo(uint8_t) {}

// One operator command. `set` takes the key's number or the menu's value alike; `typed` is the
// key's own way where it differs. A key that takes the number ends the number being typed.
struct OperatorCommand {
  int key = 0;                            // 0: the menu's only
  bool takesNumber = false;
  void (*typed)(uint8_t numberMem) = nullptr;  // null: set(number memory)
  const char* label = nullptr;            // the menu's text; null: a key only
  EmuMenuFile file = EmuMenuFile::NoFile;
  int noOfChoices = 0;                    // 0: an action; else a radio group of so many values
  int firstValue = 0;
  const char* const* choiceLabels = nullptr;  // null: the values as numbers
  bool separatorAfter = false;
  int (*current)() = nullptr;             // null: not known
  void (*set)(uint8_t value) = nullptr;
  bool (*appliesNow)() = nullptr;         // null: always
  void (*describe)(char* text, size_t size) = nullptr;  // the menu's text as it is now; null: label
};

// The menu's entries in its order, the keys among them.
// clang-format off
constexpr OperatorCommand OPERATOR_COMMANDS[] = {
    {.label = "Load vehicle...", .file = EmuMenuFile::OpenFile},
    {.label = "Save vehicle...", .file = EmuMenuFile::SaveFile, .separatorAfter = true},
    {.key = 'e', .takesNumber = true, .label = "ECUs", .noOfChoices = 8, .firstValue = 1,
     .current = [] { return int{vehicle.maxEcu}; }, .set = emu_VehicleSetNoOfEcus},
    {.key = 'd', .takesNumber = true, .label = "Confirmed trouble codes", .noOfChoices = 17,
     .current = [] { return int{emu_SelectedEcu().noOfDtcs}; }, .set = emu_VehicleSetNoOfDtcs},
    {.key = 'p', .takesNumber = true, .label = "Pending trouble codes", .noOfChoices = 17,
     .current = [] { return int{emu_SelectedEcu().noOfPendingDtcs}; }, .set = emu_VehicleSetNoOfPendingDtcs},
    {.key = 'a', .takesNumber = true, .label = "Permanent trouble codes", .noOfChoices = 17,
     .current = [] { return int{emu_SelectedEcu().noOfPermanentDtcs}; }, .set = emu_VehicleSetNoOfPermanentDtcs},
    {.key = 'm', .typed = emu_MilOn, .label = "Malfunction lamp", .noOfChoices = 2, .choiceLabels = OFF_ON,
     .current = [] { return emu_OnOff(emu_SelectedEcu().milState != 0); }, .set = emu_VehicleSetMilState},
    {.key = 't', .takesNumber = true, .label = "Protocol of the car", .noOfChoices = EMU_PROTOCOL_ROWS, .choiceLabels = PROTOCOLS.data(),
     .current = [] { return int{vehicleProtocol}; }, .set = emu_VehicleSetProtocol},
    {.key = 'u', .takesNumber = true, .label = "Module personality", .noOfChoices = 4, .choiceLabels = PERSONALITIES,
     .current = [] { return int{diagController}; }, .set = emu_QimSetDiagController},
    // The key arms the code it is given; the menu chooses among them.
    {.key = 'x', .takesNumber = true, .typed = emu_VehicleSetObdNegRespCode, .label = "Negative response",
     .noOfChoices = NEGATIVE_CHOICES, .choiceLabels = NEGATIVE_RESPONSES.labels.data(), .current = emu_NegativeResponseChoice,
     .set = emu_ChooseNegativeResponse},
    {.key = 'v', .typed = emu_ToggleJitter, .label = "Data jitter", .noOfChoices = 2, .choiceLabels = OFF_ON,
     .current = [] { return emu_OnOff(vehicle.dataJitterIsEnabled != 0); }, .set = emu_SetJitter},
    {.key = 'b', .takesNumber = true, .label = "Oxygen sensor banks (PID 13)", .noOfChoices = 2, .firstValue = 1,
     .current = emu_Pid13Banks, .set = emu_VehicleSetNoOfPid13CylinderBanks},
    {.key = 'c', .takesNumber = true, .label = "Oxygen sensor banks (PID 1D)", .noOfChoices = 4, .firstValue = 1,
     .current = emu_Pid1DBanks, .set = emu_VehicleSetNoOfPid1DCylinderBanks},
    {.key = 'y', .label = "Next answer: NO DATA", .set = emu_NextAnswerNoData},
    {.key = 'z', .label = "Next answer: CAN ERROR", .set = emu_NextAnswerCanError, .appliesNow = emu_CanInUse},
    {.label = "Ignition", .noOfChoices = 2, .choiceLabels = OFF_ON,
     .current = [] { return emu_OnOff(emu_FaultsNow().ignition != 0); }, .set = emu_SetIgnition},
    {.label = "Battery", .noOfChoices = 6, .choiceLabels = BATTERY,
     .current = [] { return emu_ChoiceOf(BATTERY_DECIVOLTS, vehicle.batteryDeciVolts.load()); }, .set = emu_SetBattery},
    {.label = "Selected ECU silent", .noOfChoices = 2, .choiceLabels = OFF_ON,
     .current = [] { return emu_OnOff(emu_SelectedEcuFaults(emu_FaultsNow()).silent != 0); },
     .set = emu_SetSelectedEcuSilent},
    {.label = "Selected ECU answers late", .noOfChoices = 5, .choiceLabels = ECU_DELAYS,
     .current = [] { return emu_ChoiceOf(ECU_DELAY_MS, emu_SelectedEcuFaults(emu_FaultsNow()).answerDelayMs); },
     .set = emu_SetSelectedEcuLate},
    {.label = "Selected ECU response pending", .noOfChoices = 5, .choiceLabels = ECU_DELAYS,
     .current = [] { return emu_ChoiceOf(ECU_DELAY_MS, emu_SelectedEcuFaults(emu_FaultsNow()).responsePendingMs); },
     .set = emu_SetSelectedEcuPending},
    {.label = "Adapter errors", .noOfChoices = 6, .choiceLabels = ERROR_RATES, .current = emu_ErrorRateChoice,
     .set = emu_SetErrorRate},
    {.label = "Answers in pieces", .noOfChoices = 4, .choiceLabels = CHUNKS, .current = emu_ChunkChoice,
     .set = emu_ChooseChunk},
    {.label = "Silence before answers", .noOfChoices = 5, .choiceLabels = STALLS,
     .current = [] { return emu_ChoiceOf(STALL_MS, emu_FaultsNow().stallMs); }, .set = emu_SetStall},
    {.label = "Line noise", .noOfChoices = 3, .choiceLabels = NOISES, .current = emu_NoiseChoice,
     .set = emu_ChooseNoise},
    {.label = "Drop the client now", .set = emu_DropNow},
    {.label = "Diagnostic session", .set = emu_NothingToDo, .describe = emu_DescribeUdsState},
    {.key = 'n', .typed = emu_NumberMemShownOrHidden},
};
// clang-format on

constexpr bool emu_KeysAreUnique() {
  for (const OperatorCommand& a : OPERATOR_COMMANDS)
    for (const OperatorCommand& b : OPERATOR_COMMANDS)
      if (&a != &b && a.key != 0 && a.key == b.key) return false;
  return true;
}
static_assert(emu_KeysAreUnique(), "one command a key");

constexpr bool emu_EveryCommandCanBeGiven() {
  for (const OperatorCommand& c : OPERATOR_COMMANDS) {
    if (c.key == 0 && c.label == nullptr) return false;
    if (c.label != nullptr && std::char_traits<char>::length(c.label) >= sizeof EmuMenuEntry{}.label) return false;
    // (That a key or an entry has something to do is not checked here: functions' addresses are no
    // constants under the sanitizers.)
  }
  return true;
}
static_assert(emu_EveryCommandCanBeGiven(), "a row without a key or an entry, or a text too long");

// The menu's entries are the rows with a label, in order.
const OperatorCommand* emu_MenuRow(int index) {
  for (const OperatorCommand& c : OPERATOR_COMMANDS) {
    if (c.label == nullptr) continue;
    if (index-- == 0) return &c;
  }
  return nullptr;
}

bool emu_AppliesNow(const OperatorCommand& c) { return c.appliesNow == nullptr || c.appliesNow(); }

}  // namespace

int emu_RunOperatorKey(int key, uint8_t numberMem) {
  for (const OperatorCommand& c : OPERATOR_COMMANDS) {
    if (c.key == 0 || c.key != key) continue;
    if (emu_AppliesNow(c)) (c.typed != nullptr ? c.typed : c.set)(numberMem);
    return c.takesNumber ? 1 : 0;
  }
  return 0;
}

int emu_DescribeOperatorMenu(EmuMenuEntry* entries, int max) {
  int n = 0;
  for (const OperatorCommand& c : OPERATOR_COMMANDS) {
    if (c.label == nullptr) continue;
    if (n == max) break;
    EmuMenuEntry& e = entries[n++];
    snprintf(e.label, sizeof e.label, "%s", c.label);
    if (c.describe != nullptr) c.describe(e.label, sizeof e.label);
    e.file = c.file;
    e.noOfChoices = c.noOfChoices;
    e.firstValue = c.firstValue;
    e.choiceLabels = c.choiceLabels;
    e.current = c.current != nullptr ? c.current() : -1;
    e.separatorAfter = c.separatorAfter ? 1 : 0;
  }
  return n;
}

void emu_ActivateOperatorMenu(int index, int value, const char* path, char* message, int size) {
  message[0] = '\0';
  const OperatorCommand* c = emu_MenuRow(index);
  if (c == nullptr) return;
  std::string error;
  if (c->file == EmuMenuFile::OpenFile) {
    if (emu_LoadVehicleFile(path, &error) != 0) snprintf(message, static_cast<size_t>(size), "%s", error.c_str());
    return;
  }
  if (c->file == EmuMenuFile::SaveFile) {
    if (emu_SaveVehicleFile(path, &error) != 0) snprintf(message, static_cast<size_t>(size), "%s", error.c_str());
    return;
  }
  if (emu_AppliesNow(*c)) c->set(static_cast<uint8_t>(value));
}
