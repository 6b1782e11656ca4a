// The named service 01 items and their scaling, one row an item in PID order, as scan tools
// decode them: a value is raw x scale + offset in the unit given. Also the text form of values
// and of ECU names, as vehicle files hold them.
#include "vehicle/vehicle_items.h"

#include <math.h>
#include <string.h>

#include <charconv>

namespace {

constexpr double PERCENT = 100.0 / 255.0;
constexpr double TRIM = 100.0 / 128.0;  // fuel trims: -100 % (lean) .. +99.2 % (rich)

// clang-format off
constexpr EmuVehicleItem ITEMS[] = {
    {"load",                  0x04, 1, PERCENT, 0,     "%"},
    {"coolant",               0x05, 1, 1,       -40,   "C"},
    {"short_fuel_trim_1",     0x06, 1, TRIM,    -100,  "%"},
    {"long_fuel_trim_1",      0x07, 1, TRIM,    -100,  "%"},
    {"short_fuel_trim_2",     0x08, 1, TRIM,    -100,  "%"},
    {"long_fuel_trim_2",      0x09, 1, TRIM,    -100,  "%"},
    {"fuel_pressure",         0x0A, 1, 3,       0,     "kPa"},
    {"intake_pressure",       0x0B, 1, 1,       0,     "kPa"},
    {"rpm",                   0x0C, 2, 0.25,    0,     "rpm"},
    {"speed",                 0x0D, 1, 1,       0,     "km/h"},
    {"timing_advance",        0x0E, 1, 0.5,     -64,   "deg"},
    {"intake_temp",           0x0F, 1, 1,       -40,   "C"},
    {"maf",                   0x10, 2, 0.01,    0,     "g/s"},
    {"throttle",              0x11, 1, PERCENT, 0,     "%"},
    {"run_time",              0x1F, 2, 1,       0,     "s"},
    {"distance_with_mil",     0x21, 2, 1,       0,     "km"},
    {"fuel_rail_pressure",    0x23, 2, 10,      0,     "kPa"},
    {"egr_commanded",         0x2C, 1, PERCENT, 0,     "%"},
    {"egr_error",             0x2D, 1, TRIM,    -100,  "%"},
    {"evap_purge",            0x2E, 1, PERCENT, 0,     "%"},
    {"fuel_level",            0x2F, 1, PERCENT, 0,     "%"},
    {"warm_ups",              0x30, 1, 1,       0,     ""},
    {"distance_since_clear",  0x31, 2, 1,       0,     "km"},
    {"barometric_pressure",   0x33, 1, 1,       0,     "kPa"},
    {"catalyst_temp_b1s1",    0x3C, 2, 0.1,     -40,   "C"},
    {"catalyst_temp_b2s1",    0x3D, 2, 0.1,     -40,   "C"},
    {"catalyst_temp_b1s2",    0x3E, 2, 0.1,     -40,   "C"},
    {"catalyst_temp_b2s2",    0x3F, 2, 0.1,     -40,   "C"},
    {"control_voltage",       0x42, 2, 0.001,   0,     "V"},
    {"absolute_load",         0x43, 2, PERCENT, 0,     "%"},
    {"relative_throttle",     0x45, 1, PERCENT, 0,     "%"},
    {"ambient_temp",          0x46, 1, 1,       -40,   "C"},
    {"throttle_b",            0x47, 1, PERCENT, 0,     "%"},
    {"accelerator_d",         0x49, 1, PERCENT, 0,     "%"},
    {"accelerator_e",         0x4A, 1, PERCENT, 0,     "%"},
    {"throttle_actuator",     0x4C, 1, PERCENT, 0,     "%"},
    {"time_with_mil",         0x4D, 2, 1,       0,     "min"},
    {"time_since_clear",      0x4E, 2, 1,       0,     "min"},
    {"ethanol",               0x52, 1, PERCENT, 0,     "%"},
    {"fuel_rail_pressure_abs",0x59, 2, 10,      0,     "kPa"},
    {"accelerator_relative",  0x5A, 1, PERCENT, 0,     "%"},
    {"hybrid_battery_life",   0x5B, 1, PERCENT, 0,     "%"},
    {"oil_temp",              0x5C, 1, 1,       -40,   "C"},
    {"fuel_injection_timing", 0x5D, 2, 1.0 / 128, -210, "deg"},
    {"fuel_rate",             0x5E, 2, 0.05,    0,     "L/h"},
};
// clang-format on

constexpr int ITEM_COUNT = sizeof ITEMS / sizeof ITEMS[0];

constexpr bool emu_ItemsInPidOrderWithUniqueNames() {
  for (int i = 1; i < ITEM_COUNT; ++i) {
    if (ITEMS[i].pid <= ITEMS[i - 1].pid) return false;
    for (int j = 0; j < i; ++j) {
      const char *a = ITEMS[i].name, *b = ITEMS[j].name;
      while (*a != '\0' && *a == *b) ++a, ++b;
      if (*a == *b) return false;
    }
  }
  for (const EmuVehicleItem& item : ITEMS)
    if (item.bytes < 1 || item.bytes > 4 || item.scale <= 0) return false;
  return true;
}
static_assert(emu_ItemsInPidOrderWithUniqueNames());

}  // namespace

const EmuVehicleItem* emu_FindVehicleItem(const char* name) {
  for (const EmuVehicleItem& item : ITEMS)
    if (strcmp(item.name, name) == 0) return &item;
  return nullptr;
}

const EmuVehicleItem* emu_FindVehicleItemByPid(uint8_t pid) {
  for (const EmuVehicleItem& item : ITEMS)
    if (item.pid == pid) return &item;
  return nullptr;
}

const EmuVehicleItem* emu_VehicleItems(int* count) {
  *count = ITEM_COUNT;
  return ITEMS;
}

bool emu_ItemRaw(const EmuVehicleItem& item, double value, uint32_t* raw) {
  const double exact = (value - item.offset) / item.scale;
  const double limit = item.bytes == 4 ? 4294967295.0 : static_cast<double>((1ull << (8 * item.bytes)) - 1);
  const double rounded = floor(exact + 0.5);
  if (!(rounded >= 0.0 && rounded <= limit)) return false;  // also refuses NaN
  *raw = static_cast<uint32_t>(rounded);
  return true;
}

double emu_ItemValue(const EmuVehicleItem& item, uint32_t raw) { return raw * item.scale + item.offset; }

bool emu_ItemText(const EmuVehicleItem& item, uint32_t raw, std::string* text) {
  const double value = emu_ItemValue(item, raw);
  // Decimals that resolve one step, at least: 1 for 100/255 %, 3 for 1/128 degree.
  const int stepDecimals = item.scale >= 1 ? 0 : static_cast<int>(ceil(-log10(item.scale)));
  char digits[64];  // 17 decimals of at most 4294967295 x 10 - 210, a sign and the point
  for (const bool exact : {true, false}) {
    // Exact while it takes at most one decimal more than a step (780.25 rpm, not 0.78125 %).
    for (int decimals = exact ? 0 : stepDecimals; decimals <= (exact ? stepDecimals + 1 : 17); ++decimals) {
      // Not snprintf and strtod: the window's locale may write a decimal comma, which TOML refuses.
      const auto written = std::to_chars(digits, digits + sizeof digits - 1, value, std::chars_format::fixed, decimals);
      if (written.ec != std::errc()) continue;
      *written.ptr = '\0';
      double read = 0;
      std::from_chars(digits, written.ptr, read);
      uint32_t back;
      if (exact && fabs(read - value) > 1e-9 * fmax(1.0, fabs(value))) continue;
      if (!emu_ItemRaw(item, read, &back) || back != raw) continue;
      // "12.0" and "-0" read as "12" and "0".
      size_t length = strlen(digits);
      if (strchr(digits, '.') != nullptr) {
        while (digits[length - 1] == '0') --length;
        if (digits[length - 1] == '.') --length;
      }
      *text = std::string(digits, length);
      if (*text == "-0") *text = "0";
      return true;
    }
  }
  text->clear();
  return false;
}

void emu_EcuNameFromText(const std::string& text, uint8_t* name, size_t size) {
  constexpr size_t ACRONYM = 4;
  memset(name, 0, size);
  const size_t dash = text.find('-');
  const bool laidOut = dash >= 1 && dash < ACRONYM && text.find('\0') == std::string::npos &&
                       text.size() + (ACRONYM - dash) <= size;
  if (laidOut) {
    memcpy(name, text.data(), dash);
    memcpy(name + ACRONYM, text.data() + dash, text.size() - dash);
  } else {
    memcpy(name, text.data(), text.size() < size ? text.size() : size);
  }
}

std::string emu_EcuNameText(const uint8_t* name, size_t size) {
  size_t n = size;
  while (n > 0 && name[n - 1] == 0) --n;
  const std::string bytes(reinterpret_cast<const char*>(name), n);
  const size_t acronym = bytes.find('\0');
  if (acronym == std::string::npos || acronym == 0 || acronym >= 4 || n <= 4) return bytes;
  const std::string shortened = bytes.substr(0, acronym) + bytes.substr(4);
  uint8_t back[64];  // names are 20 bytes
  if (size > sizeof back) return bytes;
  emu_EcuNameFromText(shortened, back, size);
  return memcmp(back, name, size) == 0 ? shortened : bytes;
}
