// Service 01 items by name, for vehicle files and the "set" command: the items a scan tool shows
// as a number with a unit, with the linear scaling that turns their data bytes into that number
// (value = raw x scale + offset); a physical value given for one is turned back into raw bytes.
#pragma once

#include <stdint.h>

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
