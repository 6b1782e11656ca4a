// The operator's menu: one row an entry, in the order the window shows them. Values are read
// from the vehicle and module as they are now; the choices call the same setters as the keys.
#include "host/operator_menu.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "simulator/module.h"
#include "simulator/vehicle.h"
#include "simulator/vehicle_file.h"

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

const EmuEcu& emu_SelectedEcu() { return vehicle.ecu[emu_GetEcuIdx(ecuFilter)]; }

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
  if (now != 0) emu_QimSetObdNegRespCode(now);  // off first
  if (code != 0) emu_QimSetObdNegRespCode(code);
}

void emu_SetJitter(int on) {
  if ((vehicle.dataJitterIsEnabled != 0) != (on != 0)) emu_QimToggleDataJitterEnabledState();
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
    {"ECUs",                   EmuMenuFile::NoFile, 8,  1, nullptr,            [] { return int{vehicle.maxEcu}; },                 [](int v) { emu_QimSetNoOfEcus(static_cast<uint8_t>(v)); }},
    {"Confirmed trouble codes", EmuMenuFile::NoFile, 17, 0, nullptr,           [] { return int{emu_SelectedEcu().noOfDtcs}; },       [](int v) { emu_QimSetNoOfDtcs(static_cast<uint8_t>(v)); }},
    {"Pending trouble codes",  EmuMenuFile::NoFile, 17, 0, nullptr,            [] { return int{emu_SelectedEcu().noOfPendingDtcs}; }, [](int v) { emu_QimSetNoOfPendingDtcs(static_cast<uint8_t>(v)); }},
    {"Permanent trouble codes", EmuMenuFile::NoFile, 17, 0, nullptr,           [] { return int{emu_SelectedEcu().noOfPermanentDtcs}; }, [](int v) { emu_QimSetNoOfPermanentDtcs(static_cast<uint8_t>(v)); }},
    {"Malfunction lamp",       EmuMenuFile::NoFile, 2,  0, OFF_ON,             [] { return emu_SelectedEcu().milState != 0 ? 1 : 0; }, [](int v) { emu_QimSetMilState(static_cast<uint8_t>(v)); }},
    {"Protocol of the car",    EmuMenuFile::NoFile, 10, 0, PROTOCOLS,          [] { return int{respondingProtocol}; },             [](int v) { emu_QimSetRespondingProtocol(static_cast<uint8_t>(v)); }},
    {"Module personality",     EmuMenuFile::NoFile, 4,  0, PERSONALITIES,      [] { return int{diagController}; },                 [](int v) { emu_QimSetDiagController(static_cast<uint8_t>(v)); }},
    {"Negative response",      EmuMenuFile::NoFile, 7,  0, NEGATIVE_RESPONSES, emu_NegativeResponseChoice,                        emu_ChooseNegativeResponse},
    {"Data jitter",            EmuMenuFile::NoFile, 2,  0, OFF_ON,             [] { return vehicle.dataJitterIsEnabled != 0 ? 1 : 0; }, emu_SetJitter},
    {"Oxygen sensor banks (PID 13)", EmuMenuFile::NoFile, 2, 1, nullptr,       emu_Unknown,                                        [](int v) { emu_QimSetNoOfPid13CylinderBanks(static_cast<uint8_t>(v)); }},
    {"Oxygen sensor banks (PID 1D)", EmuMenuFile::NoFile, 4, 1, nullptr,       emu_Unknown,                                        [](int v) { emu_QimSetNoOfPid1DCylinderBanks(static_cast<uint8_t>(v)); }},
    {"Next answer: NO DATA",   EmuMenuFile::NoFile, 0,  0, nullptr,            emu_Unknown, [](int) { sendNoData = 1; }},
    {"Next answer: CAN ERROR", EmuMenuFile::NoFile, 0,  0, nullptr,            emu_Unknown, [](int) { if (emu_QimIsCanProtocol()) sendCanError = 1; }},
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
