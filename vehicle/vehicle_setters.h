// The vehicle's setters (vehicle_setters.cpp): the defaults, the protocol, the selected ECU and
// the operator's setters. Setters acting on "the selected ECU" act on the ECU the tester's filter
// picks (emu_VehicleSelectEcu): ECU 0 when no filter is set.
#pragma once

#include <stdint.h>

#include <atomic>

#include "vehicle/vehicle_state.h"

// A vehicle as at program start, and one vehicle's tables copied into another (`to` is the
// running vehicle only with its lock held).
void emu_VehicleSetDefaults(EmuVehicle& v);
void emu_VehicleAssign(EmuVehicle& to, const EmuVehicle& from);

// Back to the defaults (program start; tests). A restart of the handheld keeps the vehicle.
void emu_VehicleInit();

// The protocol the car answers on (vehicleProtocol, vehicle_state.h).
void emu_VehicleSetProtocol(uint8_t protocol);  // above 9 ignored

// The ECU the operator's one-ECU setters act on, as the tester's filter picks it; the tester
// hands it down whenever its filter or the addresses change. `alone`: the filter names one ECU,
// and a negative response is armed on it only (otherwise on every ECU that answers).
void emu_VehicleSelectEcu(uint8_t ecuIdx, bool alone);
uint8_t emu_VehicleSelectedEcu();

// Whether the tester talks to the car on CAN now, as the tester that registers the question
// answers it (none registered: no). A clear of codes on CAN makes the confirmed codes permanent.
extern std::atomic<bool (*)()> emu_vehicleTesterOnCan;
bool emu_VehicleTesterOnCan();

void emu_VehicleSetNoOfEcus(uint8_t n);  // 1..8, others ignored
void emu_VehicleSetMilState(uint8_t on);
void emu_VehicleSetNoOfDtcs(uint8_t n);           // more than 16 is taken as 16
void emu_VehicleSetNoOfPendingDtcs(uint8_t n);    // more than 16 is taken as 16
void emu_VehicleSetNoOfPermanentDtcs(uint8_t n);  // more than 16 is taken as 16
// The k-th call (over the program's life) stores the code as ECU 0's confirmed DTC k and makes
// k + 1 codes confirmed; from the seventeenth call on, ignored.
void emu_VehicleSetConfirmedDtc(uint16_t dtc);
uint8_t emu_VehicleGetNoOfConfirmedDtcs();          // codes given so far on the command line
uint16_t emu_VehicleGetConfirmedDtc(uint8_t index); // one of them, 0 beyond those given
void emu_VehicleSetNoOfPid13CylinderBanks(uint8_t banks);  // 1 or 2, others ignored
void emu_VehicleSetNoOfPid1DCylinderBanks(uint8_t banks);  // 1..4, others ignored
// 0, or a code of EMU_NEGATIVE_CODES (bus/negative_codes.h) given by its digits (78 for 78);
// toggles per ECU. The ECU keeps the digits.
void emu_VehicleSetObdNegRespCode(uint8_t code);
void emu_VehicleToggleDataJitter();
