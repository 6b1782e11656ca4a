// The firmware's power-on sequence and endless main loop. One pass serves the 10 ms flag (request
// timer and keys), at most one received byte, and the display transfer.
#include "main.h"

#include "beep.h"
#include "eeprom.h"
#include "link/dispatcher.h"
#include "link/qim.h"
#include "link/reassembly.h"
#include "mcu.h"
#include "obd/ecus.h"
#include "obd/monitors.h"
#include "obd/pids.h"
#include "obd/dtcs.h"
#include "screens/settings.h"
#include "screens/trouble_codes.h"
#include "screens/live_data.h"
#include "screens/readiness.h"
#include "screens/vehicle_info.h"
#include "screens/connect.h"
#include "screens/tables.h"
#include "timer.h"
#include "ui/gui.h"
#include "ui/lcd.h"
#include "ui/list.h"
#include "ui/menu.h"
#include "ui/texts.h"
#include "usart.h"
#include "watchdog.h"

std::atomic<uint8_t> qimProtocol{0};


// Every module's mutable state back to its power-on value.
void tarnic_InitVars() {
  SCR_RegisterTables();
  TIMER_InitState();
  BEEP_InitState();
  USART_InitState();
  LCD_InitState();
  MEN_InitState();
  LIST_InitState();
  QIM_InitState();
  DRH_InitState();
  OBD_InitState();
  OBD_InitEcuAddr();
  OBD_InitMonitorsState();
  D2O_InitState();
  SSM_InitState();
  OBD_InitDtcs();
  TCM_InitState();
  PDI_InitState();
  VIM_InitState();
  RCM_InitState();
  SPS_InitState();
  RDS_InitState();
  DM_InitState();
  qimProtocol = 0;
}

void PORT_Init() {
  DDRA = 0x08, PORTA = 0xFF;
  DDRB = 0xE7, PORTB = 0x1F;
  DDRC = 0x00, PORTC = 0xFF;
  DDRD = 0x98, PORTD = 0x7F;
  DDRE = 0xE2, PORTE = 0x13;  // module reset line (bit 7) low: module held in reset
  DDRF = 0x63, PORTF = 0xDE;
  DDRG = 0x00, PORTG = 0x1F;
}

void SPI_Init() {
  SPCR = 0x50;  // SPI on, master
  SPSR = 0;
  _delay_ms(100);
}

static void tarnic_MainLoopPass() {
  if (gblTimer10msUpdate != 0) {
    gblTimer10msUpdate = 0;
    if (gblCounter10ms != 0) {
      if (--gblCounter10ms == 0) DRH_TimerExpiredEvent();
    }
    KEY_EventHandler();
  }

  uint8_t c = USART_ReadChar();
  if (c == 255) {
    MCU_IdleWait();
  } else {
    uint8_t code = QIM_ProcessRxData(c);
    if (code != 0) DRH_QimRxEvent(code);
  }

  if (guiDoDisplayUpdate != 0) {
    guiDoDisplayUpdate = 0;
    LCD_UpdateDisplay();
  }
}

void tarnic_main() {
  WatchdogOff();
  PORT_Init();
  EEP_Init();

  USART_InitTxRxBuf();
  UBRR0 = 103;     // 9600 baud at double speed
  UCSR0B = 0x98;   // receiver, transmitter, receive interrupt
  UCSR0C = 0x06;   // 8 data bits
  UCSR0A = 0x02;   // double speed

  SPI_Init();
  LCD_Init();
  LCD_SetOrientation(EEP_Read(EEP_ORIENTATION));
  KEY_SetOrientation(EEP_Read(EEP_ORIENTATION));
  LCD_SetContrast(EEP_Read(EEP_CONTRAST));
  BEEP_Init();
  GUI_DrawStartScreen(FW_VERSION_MAJOR, FW_VERSION_MINOR, FW_VERSION_PATCH);

  TCCR2A = 0x0F, OCR2A = 77, TIMSK2 = 0x02;  // 10 ms: 8 MHz / 1024 / 78
  TCCR3A = 0x09, TCCR3B = 0x11;              // beeper tone generator
  TCCR1A = 0xA9, TCCR1B = 0x03;              // backlight PWM

  BEEP_PlaySound(SND_OK);
  MEN_EnterMenu(MENU_INIT);
  if (QIM_ResetInit()) {
    MEN_EnterMenu(MENU_MAIN);
  } else {
    BEEP_PlaySound(SND_ERROR);
    GUI_DrawErrMsg(TXT_NO_RESPONSE_FROM_QIM);
  }
  gblCounter10ms = 0;

  for (;;) tarnic_MainLoopPass();
}
