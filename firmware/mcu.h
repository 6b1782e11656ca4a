// The border between the handheld's firmware and the host that emulates its controller.
// The firmware sees an AT90CAN128: a data space of I/O registers (`regaddr`), three interrupt
// routines, the EEPROM calls and two library helpers. The host includes this header too; nothing
// else crosses. Not emulated: real timers, the SPI shift register, pin electrical behaviour.
#pragma once

#include <stdint.h>

#include <atomic>

// ---------------------------------------------------------------------------------------------
// Register file: the controller's data space 0x00..0xFE. Every access is a single atomic byte,
// because the host's threads poll several registers without a lock (SPSR, UCSR0B, WDTCR,
// PORTE, UBRR0). 16-bit registers are stored low byte first.
extern uint8_t regaddr[255];

struct Reg8 {
  uint8_t addr;
  operator uint8_t() const { return __atomic_load_n(&regaddr[addr], __ATOMIC_ACQUIRE); }
  const Reg8& operator=(uint8_t v) const {
    __atomic_store_n(&regaddr[addr], v, __ATOMIC_RELEASE);
    return *this;
  }
  const Reg8& operator|=(uint8_t v) const {
    __atomic_fetch_or(&regaddr[addr], v, __ATOMIC_ACQ_REL);
    return *this;
  }
  const Reg8& operator&=(uint8_t v) const {
    __atomic_fetch_and(&regaddr[addr], v, __ATOMIC_ACQ_REL);
    return *this;
  }
};

struct Reg16 {
  uint8_t addr;
  operator uint16_t() const {
    return static_cast<uint16_t>(Reg8{addr} | (Reg8{static_cast<uint8_t>(addr + 1)} << 8));
  }
  const Reg16& operator=(uint16_t v) const {
    Reg8{addr} = static_cast<uint8_t>(v & 0xFF);
    Reg8{static_cast<uint8_t>(addr + 1)} = static_cast<uint8_t>(v >> 8);
    return *this;
  }
};

#define PINA   (Reg8{0x20})   // key lines, bits 4..7, active low
#define DDRA   (Reg8{0x21})
#define PORTA  (Reg8{0x22})
#define DDRB   (Reg8{0x24})
#define PORTB  (Reg8{0x25})   // bit 0: LCD chip select (0 = selected)
#define DDRC   (Reg8{0x27})
#define PORTC  (Reg8{0x28})
#define DDRD   (Reg8{0x2A})
#define PORTD  (Reg8{0x2B})   // bit 4: LCD A0, bit 7: LCD reset, bit 3: USB bridge line
#define PINE   (Reg8{0x2C})   // bit 0: module serial output (bridge menus)
#define DDRE   (Reg8{0x2D})
#define PORTE  (Reg8{0x2E})   // bit 7: module reset line (0 = held in reset)
#define PINF   (Reg8{0x2F})
#define DDRF   (Reg8{0x30})
#define PORTF  (Reg8{0x31})
#define DDRG   (Reg8{0x33})
#define PORTG  (Reg8{0x34})
#define SPCR   (Reg8{0x4C})
#define SPSR   (Reg8{0x4D})   // bit 7: LCD side has taken the byte
#define SPDR   (Reg8{0x4E})
#define WDTCR  (Reg8{0x60})
#define TIMSK2 (Reg8{0x70})
#define TCCR1A (Reg8{0x80})
#define TCCR1B (Reg8{0x81})
#define OCR1A  (Reg16{0x88})  // backlight red
#define OCR1B  (Reg16{0x8A})  // backlight green
#define OCR1C  (Reg16{0x8C})  // backlight blue
#define TCCR3A (Reg8{0x90})
#define TCCR3B (Reg8{0x91})
#define OCR3A  (Reg16{0x98})  // beeper tone value
#define OCR3C  (Reg16{0x9C})  // beeper on (1000) / off (0)
#define TCCR2A (Reg8{0xB0})
#define OCR2A  (Reg8{0xB3})
#define UCSR0A (Reg8{0xC0})
#define UCSR0B (Reg8{0xC1})   // 0x98 on, bit 5: bytes waiting to be sent, 0 = off
#define UCSR0C (Reg8{0xC2})
#define UBRR0  (Reg16{0xC4})
#define UDR0   (Reg8{0xC6})   // byte sent by the firmware
#define UDR0_RX (Reg8{0xC7})  // byte received by the firmware

// ---------------------------------------------------------------------------------------------
// Interrupt routines and entry points of the firmware, called by host threads.
void tarnic_main();      // firmware thread body; never returns
void tarnic_InitVars();  // puts every firmware variable back to its power-on value
void __vector_9();       // 10 ms timer (host tick, keyMutex held)
void __vector_21();      // USART receive complete (module thread, qimMutex held)
void __vector_22();      // USART data register empty (module thread, qimMutex held)
void BEEP_TickService(); // the beeper step of __vector_9, run alone before synchronisation
uint8_t USART_TxPending();  // 1 while bytes wait in the transmit ring (module thread, qimMutex held)

// ---------------------------------------------------------------------------------------------
// Controller library services provided by the host.
uint8_t __eerd_byte_can128(uint16_t addr);
void __eewr_byte_can128(uint16_t addr, uint8_t value);
void _delay_ms(double ms);
char* strcpy_P(char* dst, const char* src);

// Locks of the emulated buses. The firmware holds them only with cancellation disabled.
// Taking a lock disables the thread's cancellation; releasing it enables cancellation again.
void MCU_LockQim();
void MCU_UnlockQim();
void MCU_LockLcd();
void MCU_UnlockLcd();
void MCU_SignalLcd();    // hands the byte stored in SPDR to the LCD controller
void MCU_WaitSpiDone();  // waits until the LCD controller has taken the byte (SPSR bit 7)
// The chip select was released (PORTB bit 0 set): the controller acts on what it was sent.
void MCU_LcdChipSelectReleased();

// The main loop's pause when no byte has arrived: returns as soon as a byte is received or the
// 10 ms flag is set, and after two ticks' time at the latest. Nothing the main loop serves can
// change without one of these, so this stands for the firmware's 1 ms wait without idle wake-ups.
void MCU_IdleWait();

// The USART's data-register-empty interrupt was just enabled (bytes wait to be sent): on the
// controller this starts the transfer at once; here it wakes the module side.
void MCU_UsartTxStarted();
// The USART was switched off (UCSR0B 0): the module side stops serving the firmware.
void MCU_UsartSwitchedOff();

// ---------------------------------------------------------------------------------------------
// Firmware variables the host touches.
struct SND_ENTRY {
  uint8_t duration10ms;  // 0 ends the sound
  uint16_t toneValue;    // sounds at 8,000,000 / (2 * toneValue) Hz
};
extern const SND_ENTRY* const SND_DATA[6];
// Single bytes (and one pointer) shared between the firmware thread and the host's tick and
// module threads; each is read and written whole.
extern std::atomic<const SND_ENTRY*> beepCfg;          // next entry of the sound playing
extern std::atomic<uint8_t> beepDurationCounter10ms;   // ticks left of the current tone
extern std::atomic<uint8_t> gblTimer10msUpdate;        // set by the tick, cleared by the main loop
extern std::atomic<uint8_t> qimProtocol;               // protocol number | 0x10 K-line | 0x20 CAN
