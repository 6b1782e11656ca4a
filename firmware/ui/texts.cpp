// The firmware's texts, numbered by text id. Codes below 0x20 are the fonts' special glyphs:
// 0x09 narrow space, 0x0A degree sign, 0x0D/0x0E empty/ticked check box, 0x02 the engine
// symbol, 0x1A-0x1F the narrow hexadecimal digits A-F.
#include "ui/texts.h"

namespace {

// Built by a constructor that takes both fields: a row without its text does not compile.
struct TxtRow {
  TxtId id;
  const char* text;
  constexpr TxtRow(TxtId i, const char* t) : id(i), text(t) {}
};

// clang-format off
constexpr TxtRow TXT_ROWS[] = {
    {TXT_START_DIAGNOSTICS,          "Start Diagnostics"},
    {TXT_BLUETOOTH_MODE,             "Bluetooth Mode"},
    {TXT_USB_MODE,                   "USB Mode"},
    {TXT_SERIAL_INTERFACE_MODE,      "Serial Interface Mode"},
    {TXT_SYSTEM_INFORMATION,         "System Information"},
    {TXT_SYSTEM_SETTINGS,            "System Settings"},
    {TXT_CURRENT_DATA,               "Current Data"},
    {TXT_TROUBLE_CODES,              "Trouble Codes"},
    {TXT_IM_READINESS,               "I/M Readiness"},
    {TXT_VEHICLE_INFO,               "Vehicle/ECU Info"},
    {TXT_PROTOCOL_INFORMATION,       "Protocol Information"},
    {TXT_CHANGE_ECU,                 "Change ECU"},
    {TXT_RELOAD_OBD_DATA,            "Reload OBD Data"},
    {TXT_DTC_SUMMARY,                "DTC Summary"},
    {TXT_CLEAR_DTC_DATA,             "Clear DTC Data"},
    {TXT_FREEZE_FRAMES,              "Freeze Frames"},
    {TXT_SUPPORTED_MONITORS,         "Supported Monitors"},
    {TXT_MONITOR_STATUS,             "Monitor Status"},
    {TXT_MONITOR_STATUS_DTC,         "Monitor Status (DTC)"},
    {TXT_MONITOR_STATUS_CYCLE,       "Monitor Status (Cycle)"},
    {TXT_MONITOR_SETTINGS,           "Monitor Settings"},
    {TXT_VIN,                        "VIN"},
    {TXT_CALIBRATION_IDS,            "Calibration Identifications"},
    {TXT_CALIBRATION_VERIFICATION,   "Calibration Verification"},
    {TXT_PERFORMANCE_TRACKING_08,    "Performance Tracking 08"},
    {TXT_ECU_NAME,                   "ECU Name"},
    {TXT_PERFORMANCE_TRACKING_0B,    "Performance Tracking 0" "\x1B"},
    {TXT_O2_SENSOR_LOCATIONS,        "O2 Sensor Locations"},
    {TXT_TARNIC,                     "Tarnic"},
    {TXT_OBD2,                       "OBD2"},
    {TXT_UP,                         "UP"},
    {TXT_DOWN,                       "DOWN"},
    {TXT_ESC,                        "ESC"},
    {TXT_OK,                         "OK"},
    {TXT_ERROR,                      "ERROR"},
    {TXT_NO_RESPONSE_FROM_QIM,       "No response from QIM"},
    {TXT_NO_PROTOCOL_FOUND,          "No protocol found"},
    {TXT_NO_DATA_RECEIVED,           "No data received"},
    {TXT_TOO_MANY_ECUS,              "Too many ECUs"},
    {TXT_SERVICE_NOT_SUPPORTED,      "Service not supported"},
    {TXT_NO_DATA,                    "No data"},
    {TXT_INVALID_DATA,               "Invalid data"},
    {TXT_NO_FREEZE_FRAMES,           "No freeze frames stored"},
    {TXT_PLACEHOLDER_DOTS,           "." "\x09" "." "\x09" "."},
    {TXT_YES,                        "YES"},
    {TXT_NO,                         "NO"},
    {TXT_EQUALS,                     " = "},
    {TXT_NEG_RESPONSE,               "Neg. response:"},
    {TXT_WAITING_FOR_CVN,            "Waiting for CVN response..."},
    {TXT_PID_LABEL,                  "PID:"},
    {TXT_ECU_LABEL,                  "ECU:"},
    {TXT_DTC_LABEL,                  "DTC:"},
    {TXT_VIN_LABEL,                  "VIN:"},
    {TXT_FRAME_LABEL,                "FRAME:"},
    {TXT_ACRONYM,                    "Acronym:"},
    {TXT_NAME,                       "Name:"},
    {TXT_CALID,                      "CALID"},
    {TXT_CVN,                        "CVN"},
    {TXT_PROTOCOL_1_PWM,             "1-PWM"},
    {TXT_PROTOCOL_2_VPWM,            "2-VPWM"},
    {TXT_PROTOCOL_3_ISO,             "3-ISO"},
    {TXT_PROTOCOL_4_KWP,             "4-KWP"},
    {TXT_PROTOCOL_5_KWP,             "5-KWP"},
    {TXT_PROTOCOL_6_CAN,             "6-CAN"},
    {TXT_PROTOCOL_7_CAN,             "7-CAN"},
    {TXT_PROTOCOL_8_CAN,             "8-CAN"},
    {TXT_PROTOCOL_9_CAN,             "9-CAN"},
    {TXT_KEY_BYTES,                  "Key bytes:"},
    {TXT_DASHES,                     "---"},
    {TXT_ENGINE_SYMBOL,              "\x02"},
    {TXT_ATKW1,                      "ATKW1"},
    {TXT_ATKW2,                      "ATKW2"},
    {TXT_P2MIN_0MS,                  "P2min" "\x09" "=" "\x09" "0ms"},
    {TXT_P2MIN_25MS,                 "P2min" "\x09" "=" "\x09" "25ms"},
    {TXT_HEADER_SIZE_3,              "Header size:" "\x09" "3"},
    {TXT_HEADER_SIZE_4,              "Header size:" "\x09" "4"},
    {TXT_ECU,                        "ECU"},
    {TXT_ERROR_CODE,                 "error code:"},
    {TXT_MAIN_MENU,                  "MAIN MENU"},
    {TXT_PRESS_ESC_TO_RETURN,        "Press ESC to return"},
    {TXT_TO_MAIN_MENU,               "to main menu!"},
    {TXT_QIM_SERIAL,                 "QIM-Serial:"},
    {TXT_QIM_BIOS,                   "QIM-Bios:"},
    {TXT_QIM_POWER,                  "QIM-Power:"},
    {TXT_ORIENTATION_180_OFF,        "\x0D" "Orientation 180" "\x0A"},
    {TXT_ORIENTATION_180_ON,         "\x0E" "Orientation 180" "\x0A"},
    {TXT_BEEP_ON,                    "\x0E" "Beep"},
    {TXT_BEEP_OFF,                   "\x0D" "Beep"},
    {TXT_SAVE_LAST_PROTOCOL_ON,      "\x0E" "Save last Protocol"},
    {TXT_SAVE_LAST_PROTOCOL_OFF,     "\x0D" "Save last Protocol"},
    {TXT_BLUETOOTH_MENU_ON,          "\x0E" "Bluetooth Menu"},
    {TXT_BLUETOOTH_MENU_OFF,         "\x0D" "Bluetooth Menu"},
    {TXT_USB_MENU_ON,                "\x0E" "USB Menu"},
    {TXT_USB_MENU_OFF,               "\x0D" "USB Menu"},
    {TXT_SERIAL_MENU_ON,             "\x0E" "Serial Menu"},
    {TXT_SERIAL_MENU_OFF,            "\x0D" "Serial Menu"},
    {TXT_LCD_CONTRAST,               "LCD Contrast"},
    {TXT_LCD_BACKLIGHT_RED,          "LCD Backlight Red"},
    {TXT_LCD_BACKLIGHT_GREEN,        "LCD Backlight Green"},
    {TXT_LCD_BACKLIGHT_BLUE,         "LCD Backlight Blue"},
    {TXT_SELECT_PROTOCOL,            "SELECT PROTOCOL"},
    {TXT_AUTOMATIC_PROTOCOL_SCAN,    "Automatic Protocol Scan"},
    {TXT_SAE_J1850_PWM,              "SAE J1850 PWM"},
    {TXT_SAE_J1850_VPWM,             "SAE J1850 VPWM"},
    {TXT_ISO_9141_2,                 "ISO 9141-2"},
    {TXT_KWP2000_5_BAUD_INIT,        "KWP2000 5" "\x09" "Baud init"},
    {TXT_KWP2000_FAST_INIT,          "KWP2000 fast init"},
    {TXT_CAN_11_BIT_500,             "CAN 11" "\x09" "bit Id, 500" "\x09" "kbps"},
    {TXT_CAN_29_BIT_500,             "CAN 29" "\x09" "bit Id, 500" "\x09" "kbps"},
    {TXT_CAN_11_BIT_250,             "CAN 11" "\x09" "bit Id, 250" "\x09" "kbps"},
    {TXT_CAN_29_BIT_250,             "CAN 29" "\x09" "bit Id, 250" "\x09" "kbps"},
    {TXT_ISO_9141_KWP2000_SLOW,      "ISO 9141/KWP2000 slow"},
    {TXT_KWP2000_FAST_AND_5_BAUD,    "KWP2000 fast + 5 Baud"},
    {TXT_CONNECT,                    "CONNECT"},
    {TXT_READING_DATA,               "READING DATA"},
    {TXT_DIAGNOSTICS_MENU,           "DIAGNOSTICS MENU"},
    {TXT_NO_SUPPORTED_PIDS,          "No supported PIDs"},
    {TXT_TROUBLE_CODES_MENU,         "TROUBLE CODES MENU"},
    {TXT_DIAGNOSTIC_TROUBLE_CODES,   "DIAGNOSTIC TROUBLE CODES"},
    {TXT_CONFIRMED,                  "confirmed"},
    {TXT_PENDING,                    "pending"},
    {TXT_PERMANENT,                  "permanent"},
    {TXT_NO_TROUBLE_CODES,           "No trouble codes"},
    {TXT_CLEAR_ASK_LINE1,            "Clear diagnostic"},
    {TXT_CLEAR_ASK_LINE2,            "fault data?"},
    {TXT_NO_RESPONSE,                "no response"},
    {TXT_DIAGNOSTIC_DATA_CLEARED,    "Diagnostic data cleared"},
    {TXT_ERASE_INCOMPLETE,           "Erase incomplete!"},
    {TXT_RELOADING_DATA,             "Reloading data now..."},
    {TXT_CHECK_ECU_ERROR_RESPONSES,  "CHECK ECU ERROR RESPONSES"},
    {TXT_SELECT_FRAME,               "SELECT FREEZE FRAME"},
    {TXT_READINESS_TITLE,            "INSP/MAINT READINESS"},
    {TXT_MONITOR_STATUS_CYCLE_TITLE, "MONITOR STATUS (CYC)"},
    {TXT_MARK_DTC,                   "(DTC)"},
    {TXT_MARK_CYCLE,                 "(CYCLE)"},
    {TXT_SHOW_UNSUP_MONITORS_ON,     "\x0E" "Show unsupported Monitors"},
    {TXT_SHOW_UNSUP_MONITORS_OFF,    "\x0D" "Show unsupported Monitors"},
    {TXT_SHOW_AC_MONITOR_ON,         "\x0E" "Show A/C System Monitor"},
    {TXT_SHOW_AC_MONITOR_OFF,        "\x0D" "Show A/C System Monitor"},
    {TXT_SHOW_STATUS_ALL,            "Show Status [all]"},
    {TXT_SHOW_STATUS_SINCE_CLEARED,  "Show Status [since DTCs cleared]"},
    {TXT_SHOW_STATUS_THIS_CYCLE,     "Show Status [this Cycle]"},
    {TXT_SUPPORTED_PIDS_01,          "SUPPORTED PIDS 01"},
    {TXT_SUPPORTED_PIDS_02,          "SUPPORTED PIDS 02"},
    {TXT_SUP_INFOTYPES,              "SUPPORTED INFOTYPES"},
    {TXT_VEHICLE_INFO_TITLE,         "VEHICLE/ECU INFO"},
    {TXT_VIN_TITLE,                  "VEHICLE ID NUMBER"},
    {TXT_CAL_TITLE,                  "CALIBRATION IDS"},
    {TXT_CVN_TITLE,                  "VERIFICATION NUMBERS"},
    {TXT_IPT08_TITLE,                "IPT    INFOTYPE:" "\x09" "08"},
    {TXT_IPT0B_TITLE,                "IPT    INFOTYPE:" "\x09" "0B"},
    {TXT_O2SLOC_PID13,               "O2SLOC PID13:"},
    {TXT_O2SLOC_PID1D,               "O2SLOC PID1D:"},
    {TXT_SELECT_ECU,                 "SELECT ECU"},
};
// clang-format on

static_assert(sizeof TXT_ROWS / sizeof TXT_ROWS[0] == TXT_COUNT, "every text id has its text");

constexpr bool RowsInIdOrder() {
  for (uint8_t id = 0; id < TXT_COUNT; ++id) {
    if (TXT_ROWS[id].id != id) return false;
  }
  return true;
}
static_assert(RowsInIdOrder(), "each text stands in the row of its id");

constexpr std::array<const char*, TXT_COUNT> TextsById() {
  std::array<const char*, TXT_COUNT> texts{};
  for (uint8_t id = 0; id < TXT_COUNT; ++id) texts[id] = TXT_ROWS[id].text;
  return texts;
}

}  // namespace

constexpr std::array<const char*, TXT_COUNT> txt = TextsById();
