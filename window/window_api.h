// The window API of the emulator: one C-style interface with two link-time implementations,
// the GTK window (gtk_window.cpp) and the headless front end (headless_window.cpp).
#pragma once

#include <stddef.h>
#include <stdint.h>

struct EmuWindowFlags {
  uint8_t maximize;
  uint8_t fullscreen;
  uint8_t hideCursor;
  // The run serves a line (simulator mode): the end of command input does not end it, only a
  // quit, the window's close or an ending signal do. A script may start it with its input closed.
  uint8_t outlivesInput = 0;
};

int emu_GtkInit(const EmuWindowFlags& flags);  // 0 once the window is shown, -1 on failure
void emu_GtkExit();                            // waits for the window thread to end
int emu_GtkGetKey();                           // typed key (once) or the mouse-held device key
// Waits until a key is typed, the mouse button changes or emu_GtkEndKeyWait is called, at most
// timeoutMs (a negative one: no limit). The key loop's pause between passes: it answers input at
// once without waking up periodically.
void emu_GtkWaitForKey(int timeoutMs);
// Ends the key loop's wait now, or its next one if it is not waiting (any thread).
void emu_GtkEndKeyWait();
// Ends the run as closing the window does: the window goes, the key loop then takes its quit.
// From any thread, at any time of the run (before the window opens too), as often as it comes:
// the signals that end a run call it.
void emu_GtkClose();
// What a failed start does before the program ends: the window program waits for RETURN, so that
// its message stays readable in a terminal opened for it; the headless one ends at once, as a
// script that supervises it expects. One value per window implementation, fixed at link time.
extern const bool emu_GtkWaitForReturnOnFailure;
// Display memory: 8 pages x 132 bytes, bit (y mod 8) of byte (y / 8) * 132 + x, set = dark.
int emu_GtkDrawDisplay(const uint8_t* displayMem);  // -1 while a redraw is pending
void emu_GtkSetColors(int red, int green, int blue, const uint8_t* displayMem);
void emu_GtkSetContrast(int value);
void emu_GtkSetOrientation(int rotated);
void emu_GtkDrawNumberMem(int value, int enabled);
// Commands the window leaves to the host (padix-headless: "load FILE", "set NAME VALUE",
// "save FILE", "import LOG"): each its verb and what carries it out with the rest of the line,
// 0 once the command took effect, or -1 with the reason in `why` (its message is already on
// standard error). Set once before emu_GtkInit; the verbs live as long as the program.
struct EmuHostVerb {
  const char* name;
  int (*run)(const char* rest, char* why, size_t whySize);
};
void emu_GtkSetHostVerbs(const EmuHostVerb* verbs, size_t count);
// Whether a command typed to the window failed during the run: the program then ends with 1.
bool emu_GtkCommandFailed();

// The operator's menu (a right click on the window): entries that the host describes, with their
// values now, and carries out. An entry is an action, or a choice among values shown by their
// labels with the current one marked; an action may first ask for a file to load or save.
enum class EmuMenuFile : uint8_t { NoFile, OpenFile, SaveFile };
struct EmuMenuEntry {
  char label[48];
  EmuMenuFile file;
  int noOfChoices;                  // 0: an action
  int firstValue;                   // the value of the first choice, the next one more
  const char* const* choiceLabels;  // null: the values as numbers
  int current;                      // the value now; outside the choices when unknown
  uint8_t separatorAfter;           // a line after it sets apart the entries that follow
};
// Fills up to `max` entries; returns how many.
using EmuMenuDescribe = int (*)(EmuMenuEntry* entries, int max);
// Carries out entry `index` with the value chosen (or the file chosen); writes what went wrong
// into `message` (left empty when nothing did).
using EmuMenuActivate = void (*)(int index, int value, const char* path, char* message, int size);
void emu_GtkSetOperatorMenu(EmuMenuDescribe describe, EmuMenuActivate activate);

// The test bench panel beside the handheld (window/panel/panel_sources.h): what it shows of the
// line and the car and what it drives. Set once before emu_GtkInit; the sources live as long as
// the program. The headless front end has no panel.
struct EmuPanelLineSource;
struct EmuPanelCarSource;
void emu_GtkSetPanelSources(const EmuPanelLineSource* line, const EmuPanelCarSource* car);

// GDK key values the window delivers.
constexpr int EMU_KEY_RETURN = 65293;
constexpr int EMU_KEY_ESCAPE = 65307;
constexpr int EMU_KEY_LEFT = 65361;
constexpr int EMU_KEY_UP = 65362;
constexpr int EMU_KEY_RIGHT = 65363;
constexpr int EMU_KEY_DOWN = 65364;
constexpr int EMU_KEY_QUIT = 'q';
constexpr int EMU_KEY_PANEL = 65478;  // F9: the test bench panel shown or hidden (the window's own)
