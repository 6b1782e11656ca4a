// The module's state block, its settings and its answer writer (module_port.h). The car is the
// vehicle's: the module asks it for the protocol it answers on and its ECUs' addresses, and hands
// down which ECU its filter picks.
#include "module/module_port.h"

#include <stdio.h>
#include <unistd.h>

#include "bus/protocols.h"
#include "controller/controller.h"
#include "line/serial_port.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file.h"

std::atomic<uint8_t> ate1Enabled{1};
std::atomic<uint8_t> atl1Enabled{1};
std::atomic<uint8_t> ath1Enabled{0};
std::atomic<uint8_t> atof1Enabled{0};
std::atomic<uint8_t> atpProtocol{0};
std::atomic<uint8_t> ecuFilter{0};
std::atomic<uint8_t> diagController{EMU_DIAG_QIM};
std::atomic<uint8_t> serialCanServed{0};
std::atomic<uint8_t> lastAtCmdIsAtsb{0};
std::atomic<uint8_t> sendNoData{0};
std::atomic<uint8_t> sendCanError{0};
std::atomic<uint8_t> ecuAddr[EMU_QIM_NO_OF_ECU_ADDR];

namespace {

constexpr useconds_t USART_POLL_US = 1000;

bool answeringSerialClient = false;

// The ECU the filter picks, for the operator's setters.
void emu_QimHandDownSelection() {
  const uint8_t filter = ecuFilter;
  emu_VehicleSelectEcu(emu_QimGetEcuIdx(filter), filter != 0);
}

// The vehicle tells the module of a car put in whole (its addresses may be others) and asks
// whether the tester is on CAN (a clear of codes on the timeline), from the start of the run.
[[maybe_unused]] const bool toldOfTheCar =
    (emu_vehicleSwappedNotice.store(&emu_QimRefreshEcuAddresses),
     emu_vehicleTesterOnCan.store([] { return emu_QimIsCanProtocol() != 0; }), true);

}  // namespace

void emu_QimInitState() {
  ate1Enabled = 1;
  atl1Enabled = 1;
  ath1Enabled = 0;
  atof1Enabled = 0;
  atpProtocol = 0;
  emu_VehicleSetProtocol(0);
  ecuFilter = 0;
  diagController = EMU_DIAG_QIM;
  serialCanServed = 0;
  lastAtCmdIsAtsb = 0;
  sendNoData = 0;
  sendCanError = 0;
  for (auto& addr : ecuAddr) addr = 0;
  emu_QimHandDownSelection();
}

// ---------------------------------------------------------------------------------------------
// Writing

void emu_QimAnswerSerialClient(bool on) { answeringSerialClient = on; }

void emu_QimWriteSerialByte(uint8_t byte) {
  while (emu_WriteByteCOM(byte) != 1) usleep(USART_POLL_US);  // cancellation point per try
}

void emu_SendDataBuf(const char* text) {
  const bool usartOn = UCSR0B != 0 && !answeringSerialClient;
  // "OK" is never replaced, so set-up commands still succeed while a failure is armed.
  if (usartOn && text[0] != 'O') {
    if (sendCanError.exchange(0) != 0) {
      text = "CAN ERROR>";
    } else if (sendNoData.exchange(0) != 0) {
      text = "NO DATA>";
    }
  }
  const uint8_t prompt = static_cast<uint8_t>(emu_GetPrompt());
  if (usartOn) {
    for (const char* p = text; *p != '\0'; ++p) {
      emu_GiveByteToFirmware(static_cast<uint8_t>(*p));
      if (static_cast<uint8_t>(*p) == prompt) break;
    }
  } else if (emu_GetPadixMode() == EmuMode::Simulator) {
    emu_FlushCOM();
    for (const char* p = text; *p != '\0'; ++p) {
      emu_QimWriteSerialByte(static_cast<uint8_t>(*p));
      if (static_cast<uint8_t>(*p) == prompt) break;
    }
  }
}

void emu_QimSendText(const char* text) {
  char answer[64];
  snprintf(answer, sizeof answer, "%s\r%c", text, emu_GetPrompt());
  emu_SendDataBuf(answer);
}

void emu_QimSendResponsePrompt() { emu_SendDataBuf(">"); }
void emu_QimSendResponseOk() { emu_SendDataBuf("OK\r>"); }
void emu_QimSendResponseError() { emu_SendDataBuf("?\r>"); }
void emu_QimSendResponseNoData() { emu_SendDataBuf("NO DATA\r>"); }

// ---------------------------------------------------------------------------------------------
// Protocol and module settings

uint8_t emu_QimGetProtocol() { return atpProtocol; }

void emu_QimSetProtocol(uint8_t protocol) {
  if (protocol > EMU_PROTOCOL_LAST) return;
  if (protocol != 0) {
    atpProtocol = protocol;
  } else {
    // "Automatic" settles on the vehicle's protocol; a simulator-mode vehicle without one
    // talks CAN 11/500.
    if (emu_GetPadixMode() == EmuMode::Simulator && vehicleProtocol == 0) emu_VehicleSetProtocol(6);
    atpProtocol = vehicleProtocol.load();
  }
  emu_QimRefreshEcuAddresses();
}

// On CAN the low byte of the 11-bit response identifiers (7E8..7EF by default), which the module
// also puts after 18DAF1 on 29-bit CAN; on the other protocols the header's source address (10,
// 18, 11, ... by default).
void emu_QimRefreshEcuAddresses() {
  const EmuEcuAddressing by = emu_QimIsCanProtocol() != 0 ? EmuEcuAddressing::Can11 : EmuEcuAddressing::Header;
  for (uint8_t i = 0; i < EMU_QIM_NO_OF_ECU_ADDR; ++i) ecuAddr[i] = emu_VehicleEcuAddress(i, by);
  emu_QimHandDownSelection();
}

uint8_t emu_QimIsCanProtocol() {
  return emu_ProtocolIsCan(atpProtocol) ? 1 : 0;
}

void emu_QimSetEcuFilter(uint8_t addr) {
  ecuFilter = addr;
  emu_QimHandDownSelection();
}

void emu_QimSetDiagController(uint8_t personality) {
  if (personality <= EMU_DIAG_ELM327_V15) diagController = personality;
}

uint8_t emu_QimGetEcuIdx(uint8_t addr) {
  if (addr == 0) return 0;
  for (uint8_t i = 0; i < EMU_QIM_NO_OF_ECU_ADDR; ++i) {
    if (ecuAddr[i] == addr) return i;
  }
  return 0;
}
