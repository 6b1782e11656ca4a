// In-process access to the headless front end, for tests and benchmarks that run the emulator
// without standard input commands, and its command reading without standard input (the fuzz
// target goes through the same line splitting and parsing as the reader).
#pragma once

#include <limits.h>
#include <stddef.h>
#include <stdint.h>

#include "window/window_api.h"

void emu_HeadlessTypeKey(int keyValue);    // typed once, as a key press on the window
void emu_HeadlessHoldKey(int keyValue);    // held as with the mouse; 0 releases
// Copies the last display memory handed over (1056 bytes); returns the number of frames
// handed over so far in this run.
uint32_t emu_HeadlessGetDisplay(uint8_t* displayMem);

// The longest command line, its newline not counted. It holds the longest value "set" takes: a
// whole request/answer table on one line as "save" writes it (256 entries of up to about 90
// characters around their bytes, and 16,384 answer bytes at 3 characters each: about 72 KiB).
// A longer line is refused whole: nothing of it runs.
constexpr size_t EMU_COMMAND_LINE_MAX = 131072;
// The longest word after a command's verb that the front end itself takes (a key's name, a file
// for "shot"): a path as long as the system allows one.
constexpr size_t EMU_COMMAND_WORD_MAX = PATH_MAX - 1;
constexpr size_t EMU_COMMAND_VERB_MAX = 15;
constexpr long EMU_COMMAND_MAX_MS = 86400000;  // "wait" and "hold": a day at most
// The most of a command its answer repeats ("ok shot FILE"): a file name of the longest with its
// verb whole; beyond that (a table for "set") the answer cuts it short with "...", so that a
// script that writes a long line before it reads the answers is not held up by a full pipe.
constexpr size_t EMU_ANSWER_COMMAND_MAX = EMU_COMMAND_WORD_MAX + 64;

// Where split lines go: `line` gets each whole line (its newline removed, zero-terminated, no
// longer than EMU_COMMAND_LINE_MAX) and returns false when no more are to be read; `overLong` is
// told of each line that was dropped for its length.
struct EmuLineSink {
  bool (*line)(void* context, const char* text, size_t length);
  void (*overLong)(void* context);
  void* context;
};

// Splits the bytes of command input into lines, however the input is cut into reads.
class EmuCommandLines {
 public:
  // The next bytes of input. Returns false once a line said to stop; the rest is not looked at.
  bool Feed(const char* bytes, size_t size, const EmuLineSink& sink);
  // The end of input: a last line without its newline still counts.
  bool Finish(const EmuLineSink& sink);

 private:
  bool EndLine(const EmuLineSink& sink);
  char text_[EMU_COMMAND_LINE_MAX + 1];
  size_t length_ = 0;
  bool overLong_ = false;  // the line now read is being dropped
};

// The front end's own verbs, and Host for those the host hands it (emu_GtkSetHostVerbs).
enum class EmuVerb : uint8_t { None, Quit, Wait, Key, Hold, Shot, Text, Sync, Host };

// One command line taken apart. `rest` (the host's commands: load, set, save, import) points into
// the line given to emu_ParseCommand.
struct EmuCommand {
  EmuVerb verb = EmuVerb::None;  // None: an empty line
  const EmuHostVerb* host = nullptr;  // the host's command (verb Host)
  char word[EMU_COMMAND_WORD_MAX + 1] = {};  // key name or file
  long ms = 0;
  const char* rest = nullptr;  // the line after the verb, without the spaces round it
  size_t restLength = 0;
};

// Takes a command line apart: 0, or -1 with the reason in `why` when the line is refused (an
// unknown verb, a word too long, a missing or malformed value, words too many); a refused line
// must not run at all. The host's verbs are known once it has handed them over.
int emu_ParseCommand(const char* line, size_t length, EmuCommand* command, char* why, size_t whySize);
