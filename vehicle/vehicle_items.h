// Service 01 items by name, for vehicle files and the "set" command: the items a scan tool shows
// as a number with a unit, with the linear scaling that turns their data bytes into that number
// (value = raw x scale + offset); a physical value given for one is turned back into raw bytes.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

struct EmuVehicleItem {
  const char* name;  // lower case, as typed in files and commands
  uint8_t pid;
  uint8_t bytes;     // data bytes, high byte first
  double scale;
  double offset;
  const char* unit;
};

// The item of this name, or null.
const EmuVehicleItem* emu_FindVehicleItem(const char* name);
// The item of this PID, or null (the PID has no physical value here; it is given as bytes).
const EmuVehicleItem* emu_FindVehicleItemByPid(uint8_t pid);
// All items, in PID order.
const EmuVehicleItem* emu_VehicleItems(int* count);

// A physical value as the item's raw value; false when it lies outside what the bytes can hold.
bool emu_ItemRaw(const EmuVehicleItem& item, double value, uint32_t* raw);
// The raw value as the physical value.
double emu_ItemValue(const EmuVehicleItem& item, uint32_t raw);
// The physical value as the shortest text that reads back to the same raw value: exact where a
// decimal more than a step needs holds it (780.25 rpm, 3.11 g/s), else to about the item's step
// (39.2 for 100 of 255 %, 0.8 for a trim of 0.78125 %); false, with `text` empty, when no text
// gives the same bytes back.
bool emu_ItemText(const EmuVehicleItem& item, uint32_t raw, std::string* text);

// ECU names (service 09 info type 0A) are "ACRO-Name": an acronym of four characters padded with
// zero bytes, '-', the name padded with zero bytes. A text "TCM-TransmisCtrl" whose acronym is
// shorter than four is laid out so ("TCM\0-TransmisCtrl"), when it fits and holds no zero byte;
// any other text is taken byte for byte.
void emu_EcuNameFromText(const std::string& text, uint8_t* name, size_t size);
// The text a name is written as: without its padding where that text is laid out back to the
// same bytes, else the bytes as they are, but the trailing zero bytes.
std::string emu_EcuNameText(const uint8_t* name, size_t size);
