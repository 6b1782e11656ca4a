// The operator's menu: one row an entry, in the order the window shows them. Values are read
// from the vehicle and module as they are now; the choices call the same setters as the keys.
#include "host/operator_menu.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "module/module.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file.h"

namespace {

const char* const OFF_ON[] = {"Off", "On"};
const char* const PROTOCOLS[] = {"Any",
                                 "1 SAE J1850 PWM",
                                 "2 SAE J1850 VPWM",
                                 "3 ISO 9141-2",
                                 "4 ISO 14230-4 KWP (5-baud init)",
                                 "5 ISO 14230-4 KWP (fast init)",
                                 "6 ISO 15765-4 CAN (11 bit, 500 kbit/s)",
                                 "7 ISO 15765-4 CAN (29 bit, 500 kbit/s)",
                                 "8 ISO 15765-4 CAN (11 bit, 250 kbit/s)",
                                 "9 ISO 15765-4 CAN (29 bit, 250 kbit/s)"};
const char* const PERSONALITIES[] = {"QIM", "ELM327 v1.1", "ELM327 v1.3a", "ELM327 v1.5"};
const char* const NEGATIVE_RESPONSES[] = {"None", "10 general reject", "11 service not supported",
                                          "12 sub-function not supported", "21 busy, repeat request",
                                          "22 conditions not correct", "78 response pending"};
constexpr uint8_t NEGATIVE_RESPONSE_CODES[] = {0, 10, 11, 12, 21, 22, 78};

const EmuEcu& emu_SelectedEcu() { return vehicle.ecu[emu_VehicleSelectedEcu()]; }

int emu_NegativeResponseChoice() {
  const uint8_t code = emu_SelectedEcu().negRespCode;
  for (int i = 0; i < 7; ++i)
    if (NEGATIVE_RESPONSE_CODES[i] == code) return i;
  return -1;
}

// The setter toggles a code per ECU: choosing one that is set already keeps it.
void emu_ChooseNegativeResponse(int choice) {
  const uint8_t now = emu_SelectedEcu().negRespCode;
  const uint8_t code = NEGATIVE_RESPONSE_CODES[choice];
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
void emu_ChooseChunk(int v) {
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
void emu_ChooseNoise(int v) {
  emu_SetFault("faults.garbage_before", v == 1 ? "8" : "0");
  emu_SetFault("faults.garbage_inside", v == 2 ? "8" : "0");
}

const EmuEcuFaults& emu_SelectedEcuFaults(const EmuFaults& f) { return f.ecu[emu_VehicleSelectedEcu()]; }

void emu_SetJitter(int on) {
  if ((vehicle.dataJitterIsEnabled != 0) != (on != 0)) emu_VehicleToggleDataJitter();
}

struct MenuRow {
  const char* label;
  EmuMenuFile file;
  int noOfChoices;
  int firstValue;
  const char* const* choiceLabels;
  int (*current)();
  void (*choose)(int value);
};

int emu_Unknown() { return -1; }

// clang-format off
const MenuRow MENU[] = {
    {"Load vehicle...",        EmuMenuFile::OpenFile, 0,  0, nullptr,            emu_Unknown, nullptr},
    {"Save vehicle...",        EmuMenuFile::SaveFile, 0,  0, nullptr,            emu_Unknown, nullptr},
    {"ECUs",                   EmuMenuFile::NoFile, 8,  1, nullptr,            [] { return int{vehicle.maxEcu}; },                 [](int v) { emu_VehicleSetNoOfEcus(static_cast<uint8_t>(v)); }},
    {"Confirmed trouble codes", EmuMenuFile::NoFile, 17, 0, nullptr,           [] { return int{emu_SelectedEcu().noOfDtcs}; },       [](int v) { emu_VehicleSetNoOfDtcs(static_cast<uint8_t>(v)); }},
    {"Pending trouble codes",  EmuMenuFile::NoFile, 17, 0, nullptr,            [] { return int{emu_SelectedEcu().noOfPendingDtcs}; }, [](int v) { emu_VehicleSetNoOfPendingDtcs(static_cast<uint8_t>(v)); }},
    {"Permanent trouble codes", EmuMenuFile::NoFile, 17, 0, nullptr,           [] { return int{emu_SelectedEcu().noOfPermanentDtcs}; }, [](int v) { emu_VehicleSetNoOfPermanentDtcs(static_cast<uint8_t>(v)); }},
    {"Malfunction lamp",       EmuMenuFile::NoFile, 2,  0, OFF_ON,             [] { return emu_SelectedEcu().milState != 0 ? 1 : 0; }, [](int v) { emu_VehicleSetMilState(static_cast<uint8_t>(v)); }},
    {"Protocol of the car",    EmuMenuFile::NoFile, 10, 0, PROTOCOLS,          [] { return int{vehicleProtocol}; },             [](int v) { emu_VehicleSetProtocol(static_cast<uint8_t>(v)); }},
    {"Module personality",     EmuMenuFile::NoFile, 4,  0, PERSONALITIES,      [] { return int{diagController}; },                 [](int v) { emu_QimSetDiagController(static_cast<uint8_t>(v)); }},
    {"Negative response",      EmuMenuFile::NoFile, 7,  0, NEGATIVE_RESPONSES, emu_NegativeResponseChoice,                        emu_ChooseNegativeResponse},
    {"Data jitter",            EmuMenuFile::NoFile, 2,  0, OFF_ON,             [] { return vehicle.dataJitterIsEnabled != 0 ? 1 : 0; }, emu_SetJitter},
    {"Oxygen sensor banks (PID 13)", EmuMenuFile::NoFile, 2, 1, nullptr,       emu_Unknown,                                        [](int v) { emu_VehicleSetNoOfPid13CylinderBanks(static_cast<uint8_t>(v)); }},
    {"Oxygen sensor banks (PID 1D)", EmuMenuFile::NoFile, 4, 1, nullptr,       emu_Unknown,                                        [](int v) { emu_VehicleSetNoOfPid1DCylinderBanks(static_cast<uint8_t>(v)); }},
    {"Next answer: NO DATA",   EmuMenuFile::NoFile, 0,  0, nullptr,            emu_Unknown, [](int) { sendNoData = 1; }},
    {"Next answer: CAN ERROR", EmuMenuFile::NoFile, 0,  0, nullptr,            emu_Unknown, [](int) { if (emu_QimIsCanProtocol()) sendCanError = 1; }},
    {"Ignition",               EmuMenuFile::NoFile, 2,  0, OFF_ON,             [] { return emu_FaultsNow().ignition != 0 ? 1 : 0; }, [](int v) { emu_SetFault("ignition", v != 0 ? "true" : "false"); }},
    {"Battery",                EmuMenuFile::NoFile, 6,  0, BATTERY,            [] { return emu_ChoiceOf(BATTERY_DECIVOLTS, vehicle.batteryDeciVolts.load()); }, [](int v) { emu_SetFault("battery", BATTERY_VALUES[v]); }},
    {"Selected ECU silent",    EmuMenuFile::NoFile, 2,  0, OFF_ON,             [] { return emu_SelectedEcuFaults(emu_FaultsNow()).silent != 0 ? 1 : 0; }, [](int v) { emu_SetFault(emu_SelectedEcuKey("silent"), v != 0 ? "true" : "false"); }},
    {"Selected ECU answers late", EmuMenuFile::NoFile, 5, 0, ECU_DELAYS,       [] { return emu_ChoiceOf(ECU_DELAY_MS, emu_SelectedEcuFaults(emu_FaultsNow()).answerDelayMs); }, [](int v) { emu_SetFault(emu_SelectedEcuKey("answer_delay"), std::to_string(ECU_DELAY_MS[v])); }},
    {"Selected ECU response pending", EmuMenuFile::NoFile, 5, 0, ECU_DELAYS,   [] { return emu_ChoiceOf(ECU_DELAY_MS, emu_SelectedEcuFaults(emu_FaultsNow()).responsePendingMs); }, [](int v) { emu_SetFault(emu_SelectedEcuKey("response_pending"), std::to_string(ECU_DELAY_MS[v])); }},
    {"Adapter errors",         EmuMenuFile::NoFile, 6,  0, ERROR_RATES,        emu_ErrorRateChoice,                                [](int v) { emu_SetFault("faults.error_rate", ERROR_RATE_VALUES[v]); }},
    {"Answers in pieces",      EmuMenuFile::NoFile, 4,  0, CHUNKS,             emu_ChunkChoice,                                    emu_ChooseChunk},
    {"Silence before answers", EmuMenuFile::NoFile, 5,  0, STALLS,             [] { return emu_ChoiceOf(STALL_MS, emu_FaultsNow().stallMs); }, [](int v) { emu_SetFault("faults.stall", std::to_string(STALL_MS[v])); }},
    {"Line noise",             EmuMenuFile::NoFile, 3,  0, NOISES,             emu_NoiseChoice,                                    emu_ChooseNoise},
    {"Drop the client now",    EmuMenuFile::NoFile, 0,  0, nullptr,            emu_Unknown, [](int) { emu_SetFault("faults.drop_now", "true"); }},
};
// clang-format on

constexpr int MENU_ROWS = sizeof MENU / sizeof MENU[0];

}  // namespace

int emu_DescribeOperatorMenu(EmuMenuEntry* entries, int max) {
  int n = 0;
  for (; n < MENU_ROWS && n < max; ++n) {
    const MenuRow& row = MENU[n];
    EmuMenuEntry& e = entries[n];
    snprintf(e.label, sizeof e.label, "%s", row.label);
    e.file = row.file;
    e.noOfChoices = row.noOfChoices;
    e.firstValue = row.firstValue;
    e.choiceLabels = row.choiceLabels;
    e.current = row.current();
  }
  return n;
}

void emu_ActivateOperatorMenu(int index, int value, const char* path, char* message, int size) {
  message[0] = '\0';
  if (index < 0 || index >= MENU_ROWS) return;
  const MenuRow& row = MENU[index];
  std::string error;
  if (row.file == EmuMenuFile::OpenFile) {
    if (emu_LoadVehicleFile(path, &error) != 0) snprintf(message, static_cast<size_t>(size), "%s", error.c_str());
    return;
  }
  if (row.file == EmuMenuFile::SaveFile) {
    if (emu_SaveVehicleFile(path, &error) != 0) snprintf(message, static_cast<size_t>(size), "%s", error.c_str());
    return;
  }
  if (row.choose != nullptr) row.choose(value);
}
