// What an ELM327-type adapter printed for one request, read back into the car's messages: its
// lines (headers on, spaces either way) split by sender, CAN frames put together again (ISO
// 15765-2), J1850 and K-line lines stripped of their three header bytes and their check byte.
// The adapter's own words (SEARCHING..., BUS INIT: ...OK, NO DATA, STOPPED) are no message.
// Everything here is outside bytes: lines are bounded, nothing is trusted.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// How the answer's headers are laid out: by the protocol the adapter found.
enum class EmuLearnBus : uint8_t { Can11, Can29, Serial };  // Serial: J1850 and the K-line
EmuLearnBus emu_LearnBusOf(uint8_t protocol);

// One message as the car sent it, its data bytes only (service byte first).
struct EmuLearnMessage {
  uint8_t sender;  // 11-bit CAN: the identifier's low byte (E8 for 7E8); else the source address
  std::vector<uint8_t> bytes;
};

// The adapter's longest line worth reading (a 29-bit frame with spaces is 36 characters); a
// longer one is no frame and is skipped.
constexpr size_t EMU_LEARN_MAX_LINE = 96;
// The most messages one answer is taken with (eight ECUs, a few dozen lines each).
constexpr size_t EMU_LEARN_MAX_MESSAGES = 512;

// The messages of an answer's text (what came after the request, up to the prompt), in the order
// each was complete. A CAN message whose frames came out of turn is left out.
std::vector<EmuLearnMessage> emu_LearnReadAnswer(const char* text, size_t n, EmuLearnBus bus);

// The adapter's own words that mean the car said nothing: NO DATA, UNABLE TO CONNECT, ERROR...
bool emu_LearnAnswerIsSilence(const std::string& text);
