// Bridge menus (Bluetooth, USB, Serial Interface). On the device they hand the module's serial
// lines to a PC program: the USART is switched off and the handheld only copies line levels
// until Esc is held. Leaving gives the lines back and initialises the module again. In the
// emulator nothing drives the copied lines; switching the USART off is what makes a simulator
// run serve its serial port instead of the firmware.
#include "beep.h"
#include "link/qim.h"
#include "mcu.h"
#include "screens/screens.h"
#include "ui/gui.h"
#include "ui/menu.h"
#include "ui/texts.h"
#include "usart.h"

namespace {

struct Reg8Bit {
  Reg8 reg;
  uint8_t bit;
};

struct BridgeLines {
  uint8_t titleTxtId;
  Reg8Bit input;       // copied to the module's input (PORTE bit 1)
  Reg8Bit output;      // receives the module's output (PINE bit 0)
  Reg8Bit idle;        // set when the bridge ends
  uint8_t powerBit;    // PORTF bit switched on while bridged (Bluetooth module), 0 = none
};

// clang-format off
const BridgeLines BRIDGE_BLUETOOTH = {TXT_BLUETOOTH_MODE,        {PINF, 0x80}, {PORTF, 0x40}, {PORTF, 0x40}, 0x20};
const BridgeLines BRIDGE_USB       = {TXT_USB_MODE,              {PINF, 0x04}, {PORTF, 0x08}, {PORTD, 0x08}, 0};
const BridgeLines BRIDGE_SERIAL    = {TXT_SERIAL_INTERFACE_MODE, {PINF, 0x04}, {PORTF, 0x02}, {PORTF, 0x02}, 0};
// clang-format on

constexpr uint8_t BRIDGE_ESC_PASSES = 250;  // Esc held for more passes than this ends the bridge

void BRIDGE_CopyBit(Reg8Bit from, Reg8Bit to) {
  if (from.reg & from.bit) {
    to.reg |= to.bit;
  } else {
    to.reg &= static_cast<uint8_t>(~to.bit);
  }
}

void BRIDGE_Run(const BridgeLines& b) {
  GUI_DrawTitle(GUI_GetTxt(b.titleTxtId));
  GUI_DrawMenuMsg(TXT_PRESS_ESC_TO_RETURN, TXT_TO_MAIN_MENU);

  UCSR0B = 0;
  MCU_UsartSwitchedOff();
  if (b.powerBit != 0) PORTF |= b.powerBit;
  while (BEEP_IsPlaying()) _delay_ms(1);

  for (uint16_t escPasses = 0; escPasses <= BRIDGE_ESC_PASSES;) {
    escPasses = (PINA & menu.keyEsc) ? 0 : static_cast<uint16_t>(escPasses + 1);
    BRIDGE_CopyBit(b.input, {PORTE, 0x02});
    BRIDGE_CopyBit({PINE, 0x01}, b.output);
    // A pass of the real copy loop takes microseconds; a short pause keeps the host's core
    // free while Esc still needs to be held only a few milliseconds, as on the device.
    _delay_ms(0.01);
  }

  if (b.powerBit != 0) PORTF &= static_cast<uint8_t>(~b.powerBit);
  b.idle.reg |= b.idle.bit;
  PORTE |= 0x02;

  USART_InitTxRxBuf();
  UBRR0 = 51;     // 19200 baud, as the module runs since its reset
  UCSR0B = 0x98;
  UCSR0C = 0x06;
  UCSR0A = 0x02;
  if (QIM_Init()) {
    BEEP_PlaySound(SND_CLICK);
    MEN_CancelMenu();
  } else {
    BEEP_PlaySound(SND_ERROR);
    GUI_DrawErrMsg(TXT_NO_RESPONSE_FROM_QIM);
  }
}

}  // namespace

void BTM_EnterMenu() { BRIDGE_Run(BRIDGE_BLUETOOTH); }
void USB_EnterMenu() { BRIDGE_Run(BRIDGE_USB); }
void SIF_EnterMenu() { BRIDGE_Run(BRIDGE_SERIAL); }
