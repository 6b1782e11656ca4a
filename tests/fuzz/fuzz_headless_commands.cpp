// Fuzz target: padix-headless's command input, split into lines and taken apart as its reader does
// it, without running them (nothing sleeps, types or writes). The first byte says in what pieces
// the input arrives, the second how many times it comes one after the other (so that lines pass
// the length limit); the lines must be the same however the input is cut.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "host/vehicle_commands.h"
#include "window/headless_window.h"

namespace {

// What the reader was given: each line, or a line dropped for its length (empty text).
struct Lines {
  std::vector<std::pair<bool, std::string>> seen;  // (dropped, text)
  static bool Line(void* context, const char* text, size_t length) {
    if (length > EMU_COMMAND_LINE_MAX || text[length] != '\0' || memchr(text, '\n', length) != nullptr) abort();
    static_cast<Lines*>(context)->seen.emplace_back(false, std::string(text, length));
    return true;
  }
  static void OverLong(void* context) { static_cast<Lines*>(context)->seen.emplace_back(true, ""); }
  EmuLineSink Sink() { return {Line, OverLong, this}; }
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// `word` stands in `line` whole: between blanks or the line's ends, never a piece of a longer one.
bool StandsWhole(const std::string& line, const char* word) {
  const size_t n = strlen(word);
  for (size_t at = line.find(word); at != std::string::npos; at = line.find(word, at + 1)) {
    const bool before = at == 0 || IsBlank(line[at - 1]);
    const bool after = at + n == line.size() || IsBlank(line[at + n]);
    if (before && after) return true;
  }
  return false;
}

void Check(const std::string& line) {
  EmuCommand c;
  char why[128];
  if (emu_ParseCommand(line.data(), line.size(), &c, why, sizeof why) != 0) {
    if (strlen(why) == 0) abort();  // a refusal always says why
    return;
  }
  if (memchr(line.data(), '\0', line.size()) != nullptr) abort();
  bool blank = true;
  for (char ch : line) blank = blank && IsBlank(ch);
  if ((c.verb == EmuVerb::None) != blank) abort();
  if (c.ms < 0 || c.ms > EMU_COMMAND_MAX_MS) abort();
  const size_t word = strnlen(c.word, sizeof c.word);
  if (word == sizeof c.word) abort();
  const bool takesWord = c.verb == EmuVerb::Key || c.verb == EmuVerb::Hold || c.verb == EmuVerb::Shot;
  if (takesWord != (word > 0)) abort();
  if (takesWord && !StandsWhole(line, c.word)) abort();
  if (c.rest != nullptr) {
    if (c.rest < line.data() || c.rest + c.restLength > line.data() + line.size()) abort();
    if (c.restLength > 0 && (IsBlank(c.rest[0]) || IsBlank(c.rest[c.restLength - 1]))) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const bool hostVerbsKnown = (emu_OfferVehicleCommands(), true);  // as padix-headless reads
  (void)hostVerbsKnown;
  const size_t piece = static_cast<size_t>(data[0]) + 1;
  const int times = data[1] % 64 + 1;
  const char* bytes = reinterpret_cast<const char*>(data + 2);
  size -= 2;

  static EmuCommandLines* whole = new EmuCommandLines;
  static EmuCommandLines* cut = new EmuCommandLines;
  *whole = EmuCommandLines();
  *cut = EmuCommandLines();
  Lines a, b;
  for (int t = 0; t < times; ++t) {
    whole->Feed(bytes, size, a.Sink());
    for (size_t at = 0; at < size; at += piece) cut->Feed(bytes + at, size - at < piece ? size - at : piece, b.Sink());
  }
  whole->Finish(a.Sink());
  cut->Finish(b.Sink());
  if (a.seen != b.seen) abort();
  for (const auto& [dropped, line] : a.seen)
    if (!dropped) Check(line);
  return 0;
}
