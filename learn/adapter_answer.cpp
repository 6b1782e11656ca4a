// Reading an ELM327-type adapter's answer lines back into the car's messages (adapter_answer.h).
#include "learn/adapter_answer.h"

#include <ctype.h>

#include <map>
#include <memory>

#include "bus/hex.h"
#include "bus/iso_tp.h"
#include "bus/protocols.h"

namespace {

constexpr size_t CAN11_ID_DIGITS = 3;
constexpr size_t CAN29_ID_DIGITS = 8;
constexpr size_t SERIAL_HEADER_BYTES = 3;  // priority, target, source; a check byte follows the data

// A line's hex digits without spaces; false when anything else is in it (the adapter's words).
bool emu_CompactHex(const std::string& line, std::string* out) {
  out->clear();
  for (char c : line) {
    if (c == ' ' || c == '\t') continue;
    if (emu_HexDigit(c) < 0) return false;
    *out += static_cast<char>(toupper(static_cast<unsigned char>(c)));
  }
  return !out->empty();
}

std::vector<uint8_t> emu_BytesOf(const std::string& hex) {
  std::vector<uint8_t> out(hex.size() / 2);
  out.resize(emu_ReadHexBytes(hex.data(), out.size() * 2, {"", false}, out.data(), out.size()).n);
  return out;
}

}  // namespace

EmuLearnBus emu_LearnBusOf(uint8_t protocol) {
  if (!emu_ProtocolIsCan(protocol)) return EmuLearnBus::Serial;
  return emu_ProtocolIs29Bit(protocol) ? EmuLearnBus::Can29 : EmuLearnBus::Can11;
}

bool emu_LearnAnswerIsSilence(const std::string& text) {
  static const char* const WORDS[] = {"NO DATA", "UNABLE TO CONNECT", "ERROR", "STOPPED", "BUS BUSY", "?"};
  for (const char* w : WORDS)
    if (text.find(w) != std::string::npos) return true;
  return false;
}

std::vector<EmuLearnMessage> emu_LearnReadAnswer(const char* text, size_t n, EmuLearnBus bus) {
  std::vector<EmuLearnMessage> out;
  // One receiver per CAN sender: frames of several ECUs may interleave.
  std::map<uint8_t, std::unique_ptr<EmuIsoTpReceiver>> receivers;
  std::string line, hex;
  auto take = [&]() {
    const bool fits = line.size() <= EMU_LEARN_MAX_LINE;
    const bool isHex = fits && emu_CompactHex(line, &hex);
    line.clear();
    if (!isHex || hex.size() % 2 != (bus == EmuLearnBus::Can11 ? 1u : 0u) || out.size() >= EMU_LEARN_MAX_MESSAGES)
      return;
    if (bus == EmuLearnBus::Serial) {
      const std::vector<uint8_t> b = emu_BytesOf(hex);
      if (b.size() < SERIAL_HEADER_BYTES + 2) return;  // header, one data byte, check byte
      out.push_back({b[2], std::vector<uint8_t>(b.begin() + SERIAL_HEADER_BYTES, b.end() - 1)});
      return;
    }
    const size_t idDigits = bus == EmuLearnBus::Can11 ? CAN11_ID_DIGITS : CAN29_ID_DIGITS;
    if (hex.size() <= idDigits) return;
    uint32_t id = 0;
    (void)emu_ReadHexNumber(hex.c_str(), idDigits, &id);
    const uint8_t sender = static_cast<uint8_t>(id);  // 7E8 -> E8; 18 DA F1 10 -> 10
    const std::vector<uint8_t> frame = emu_BytesOf(hex.substr(idDigits));
    std::unique_ptr<EmuIsoTpReceiver>& r = receivers[sender];
    if (!r) r = std::make_unique<EmuIsoTpReceiver>();
    if (emu_IsoTpReceive(r.get(), frame.data(), frame.size()) == EmuIsoTpResult::Complete)
      out.push_back({sender, std::vector<uint8_t>(r->message, r->message + r->length)});
  };
  for (size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n' || c == '>') {
      take();
    } else if (line.size() <= EMU_LEARN_MAX_LINE) {
      line += c;
    }
  }
  take();
  return out;
}
