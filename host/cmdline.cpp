// Command line. Each argument is tested against the rules in a fixed order; the first rule
// that matches takes it, and anything no rule takes is the device, unless it is plainly meant
// as an option or a baud rate: such a word is named, with what was expected, in a line before
// the usage, instead of failing later as a serial device that cannot be opened.
#include "host/cmdline.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "controller/controller.h"
#include "module/module.h"
#include "vehicle/vehicle.h"

// The version is the project's, given by the build.
const char* const EMU_VERSION = "Padix V" PADIX_VERSION;
const char* emu_GetBuildDate() { return __DATE__; }
const char* emu_GetBuildTime() { return __TIME__; }

namespace {

// Groups of usage lines; a blank line separates two groups.
const char* const USAGE_GROUPS[][13] = {
    {"Usage:"},
    {" padix [<device>] [<baudrate>] [options]"},
    {" Any kind of (virtual) serial device must be given in OBD2 software mode",
     " or QIM simulator mode, e.g. COMx, /dev/rfcommx, /dev/ttySx, /dev/ttyAMAx",
     " If optional device is not given, Padix runs in emulator mode.",
     " /dev/ptmx opens a new virtual serial port; tcp:[HOST:]PORT is a network",
     " line: listened on in QIM simulator mode (host 127.0.0.1 unless given),",
     " connected to in OBD2 software mode."},
    {" Valid values for baudrate are 9600, 19200, 38400, 57600 or 115200.",
     " If optional baudrate is not given, 9600 is used if a device is given.",
     " If baudrate is given, a device must be specified."},
    {"Options:"},
    {" All options may be preceded with a '-'."},
    {" help, h, ? - displays Padix command line options and quits",
     " --version  - displays the Padix version and quits"},
    {"Emulator and QIM simulator options:"},
    {" dtc=Xxxxx  - sets a confirmed DTC, e.g. dtc=P01CE, for the first ECU.",
     "              This option can be given up to 16 times.",
     " vehicle=FILE - the simulated car as described in the vehicle file FILE.",
     " log=FILE   - writes every line between tester and module to FILE, with",
     "              the time since start (log=- writes to standard error).",
     " link=PATH  - with /dev/ptmx: a symbolic link PATH to the new virtual serial",
     "              port, for the run's length (an existing symbolic link is replaced).",
     " elm        - the simulated module serves its serial client as an ELM327",
     "              v1.5, the adapter that OBD apps and libraries expect (the",
     "              handheld itself keeps talking to the QIM). Key 3 u does the same.",
     " slcan      - the simulated module serves its serial client as a serial CAN",
     "              adapter (text commands S6, O, t7DF8...): the car's ECUs on a",
     "              CAN bus, for tools that run their own ISO 15765-2 and OBD."},
    {"QIM simulator options:"},
    {" sim        - Padix runs in QIM simulator mode if a device is specified.",
     "              Note that the Padix Bluetooth menu must be entered to",
     "              activate the simulator. After that the menu cannot be left.",
     " serve      - QIM simulator mode that serves the device from start: the",
     "              handheld enters its Bluetooth menu by itself.",
     " timing=real - the ELM327 v1.5 answers as slowly as a real adapter and car:",
     "              line speed, answer delays, time-outs, protocol search."},
    {"OBD2 software options:"},
    {" nosync     - disables synchronization between Padix and the OBD2 module.",
     "              Padix does not wait for a prompt-sign from the OBD module.",
     " init=<OBD module name> - Padix sends an initialization sequence to the",
     "                          specified module: QIM or TBX.",
     " Options nosync and init=QIM or init=TBX are mutual exclusive.",
     " learn=FILE - reads the car behind the ELM327 adapter on the device into",
     "              the vehicle file FILE, then quits; it never clears codes.",
     " learn.requests=FILE - extra requests to learn, in hex, one a line.",
     " relay=DEVICE - serves the device's client from the real ELM327 adapter",
     "              on DEVICE, every byte passed on unchanged (logged with log=)."},
    {"GTK3+ options:"},
    {" nocursor,", " hidecursor - hides the cursor",
     " maximize   - maximizes the Padix window (with title)", " fullscreen,",
     " fullsize   - makes the Padix window fullscreen (without title)",
     " Option fullsize overrides option maximize."},
    {"Examples:"},
    {" padix"},
    {" Padix works like an Skanvo/Tarnic emulator."},
    {" padix COM1"},
    {" Padix is running in OBD2 software mode. Padix connects to COM1 and awaits",
     " data sent by a real Skanvo or a second Padix running in", " QIM simulator mode."},
    {" padix COM2 sim"},
    {" Padix works like a QIM simulator if the bluetooth menu is active. Padix",
     " connects to COM2 and awaits data sent by a second Padix running in OBD2",
     " software mode or a third party OBD2 software."},
    {" padix /dev/ptmx sim elm serve"},
    {" Padix serves a third party OBD2 software on a new virtual serial port as",
     " an ELM327 v1.5 adapter, from the moment it starts."},
    {" padix /dev/ptmx sim slcan serve"},
    {" Padix serves a CAN tool on a new virtual serial port as a serial CAN",
     " adapter on the simulated car's bus, from the moment it starts."},
    {" Read the Padix manual to find out how OBD data can be altered in the",
     " emulator and simulator modes."},
};

const char* const USAGE_NOTICE[] = {
    " Padix runs the firmware of the Tarnic handheld OBD-II scan tool on this computer,",
    " with a simulated OBD interface module and vehicle, or with a real module on a serial",
    " line. It comes without any warranty.",
};

// Exact comparison that also accepts the word with one leading '-'.
bool emu_IsOption(const char* arg, const char* word) {
  if (arg[0] == '-') ++arg;
  return strcmp(arg, word) == 0;
}

bool emu_IsHelp(const char* arg) {
  return strstr(arg, "help") != nullptr || strchr(arg, '?') != nullptr || strcmp(arg, "h") == 0 ||
         strcmp(arg, "-h") == 0;
}

// dtc=Xnnnn: the letter (either case) gives the top two bits, the number (one to four hex
// digits, at most 3FFF) the rest. False, storing nothing, for any other value.
bool emu_TakeDtcOption(const char* value) {
  static constexpr char LETTERS[] = "PCBU";
  const char* letter =
      value[0] != '\0' ? strchr(LETTERS, toupper(static_cast<unsigned char>(value[0]))) : nullptr;
  if (letter == nullptr) return false;
  const size_t digits = strspn(value + 1, "0123456789abcdefABCDEF");
  if (digits == 0 || digits > 4 || value[1 + digits] != '\0') return false;
  const unsigned long number = strtoul(value + 1, nullptr, 16);
  if (number > 0x3FFF) return false;
  emu_VehicleSetConfirmedDtc(static_cast<uint16_t>((letter - LETTERS) << 14 | number));
  return true;
}

struct BaudOption {
  const char* text;
  uint32_t value;
};
const BaudOption BAUD_OPTIONS[] = {
    {"9600", 9600}, {"19200", 19200}, {"38400", 38400}, {"57600", 57600}, {"115200", 115200}};
const char* const BAUD_RATES_TEXT = "9600, 19200, 38400, 57600 or 115200";  // as the usage has them

struct InitOption {
  const char* text;
  uint8_t value;
};
const InitOption INIT_OPTIONS[] = {
    {"init=QIM", EMU_INIT_QIM}, {"init=TBX", EMU_INIT_TBX}, {"init=ELM", EMU_INIT_ELM}};

// Baud rates are taken only as they stand, without a leading '-'.
const BaudOption* emu_FindBaudOption(const char* arg) {
  for (const BaudOption& b : BAUD_OPTIONS)
    if (strcmp(arg, b.text) == 0) return &b;
  return nullptr;
}

const InitOption* emu_FindInitOption(const char* arg) {
  for (const InitOption& o : INIT_OPTIONS)
    if (emu_IsOption(arg, o.text)) return &o;
  return nullptr;
}

// Every option by its name, and the form it is written in when it takes a value (nullptr when
// it stands alone): a word that names an option but that no rule took is told that form.
struct OptionName {
  const char* name;
  const char* form;
};
const OptionName OPTION_NAMES[] = {
    {"maximize", nullptr}, {"fullscreen", nullptr}, {"fullsize", nullptr}, {"nocursor", nullptr},
    {"hidecursor", nullptr}, {"version", nullptr}, {"sim", nullptr}, {"serve", nullptr},
    {"elm", nullptr}, {"slcan", nullptr}, {"nosync", nullptr}, {"dtc", "dtc=Xxxxx, such as dtc=P01CE"},
    {"vehicle", "vehicle=FILE"}, {"log", "log=FILE"}, {"link", "link=PATH"}, {"timing", "timing=real"},
    {"init", "init=QIM, init=TBX or init=ELM"}, {"learn", "learn=FILE"}, {"learn.requests", "learn.requests=FILE"},
    {"relay", "relay=DEVICE"},
};

// The option a word names, up to its '=' if it has one.
const OptionName* emu_FindOptionName(const char* word) {
  const size_t length = strcspn(word, "=");
  for (const OptionName& o : OPTION_NAMES)
    if (strlen(o.name) == length && strncmp(word, o.name, length) == 0) return &o;
  return nullptr;
}

// A word as a message shows it: control bytes as '?', a long one cut short with "...".
constexpr size_t SHOWN_WORD_CHARS = 60;
struct ShownWord {
  char text[SHOWN_WORD_CHARS + sizeof "..."];
};
ShownWord emu_ShowWord(const char* word) {
  ShownWord shown{};
  size_t n = 0;
  for (; word[n] != '\0' && n < SHOWN_WORD_CHARS; ++n) {
    const unsigned char c = static_cast<unsigned char>(word[n]);
    shown.text[n] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
  }
  if (word[n] != '\0') memcpy(shown.text + n, "...", sizeof "...");
  return shown;
}

// A word refused: the line that says why goes to standard error before the usage, which goes to
// standard output (flushed first, so that a shared terminal shows the two in order).
void emu_Refuse(const char* line) {
  fflush(stdout);
  fprintf(stderr, "%s\n", line);
}

bool emu_IsDigits(const char* word) {
  return word[0] != '\0' && word[strspn(word, "0123456789")] == '\0';
}

// A word that no rule took is the device, unless it is plainly meant as an option (it names
// one, starts with '-', or has a key without '/' before '=') or as a baud rate (digits only);
// then the line that names it is written and the result is false.
bool emu_WordCanBeDevice(const char* arg) {
  const char* equals = strchr(arg, '=');
  const bool keyed =
      equals != nullptr && memchr(arg, '/', static_cast<size_t>(equals - arg)) == nullptr;
  const char* bare = arg[0] == '-' ? arg + 1 : arg;
  const OptionName* option = bare[0] != '-' ? emu_FindOptionName(bare) : nullptr;
  const char* undashed = arg + strspn(arg, "-");
  const ShownWord shown = emu_ShowWord(arg);
  char message[2 * sizeof shown.text + 80];
  if (option != nullptr && option->form == nullptr && equals != nullptr) {
    snprintf(message, sizeof message, "\"%s\": option %s takes no value", shown.text, option->name);
  } else if (option != nullptr && option->form != nullptr) {
    snprintf(message, sizeof message, "%s in \"%s\": expected %s",
             equals != nullptr ? "bad value" : "no value", shown.text, option->form);
  } else if (arg[0] == '-' || keyed) {
    if (emu_FindBaudOption(undashed) != nullptr) {
      snprintf(message, sizeof message, "unknown option \"%s\" (a baud rate has no '-': %s)",
               shown.text, undashed);
    } else if (emu_FindOptionName(undashed) != nullptr) {
      snprintf(message, sizeof message,
               "unknown option \"%s\" (an option takes one '-' at most: -%s)", shown.text,
               emu_ShowWord(undashed).text);
    } else {
      snprintf(message, sizeof message, "unknown option \"%s\"", shown.text);
    }
  } else if (emu_IsDigits(arg)) {
    snprintf(message, sizeof message,
             "baud rate \"%s\" not supported: expected %s", shown.text, BAUD_RATES_TEXT);
  } else {
    return true;
  }
  emu_Refuse(message);
  return false;
}

}  // namespace

void emu_PrintUsage(FILE* out) {
  fprintf(out, "\n Skanvo/Tarnic Emulator    Version: %s %s %s\n\n", EMU_VERSION, emu_GetBuildDate(),
          emu_GetBuildTime());
  for (const char* line : USAGE_NOTICE) fprintf(out, "%s\n", line);
  for (const auto& group : USAGE_GROUPS) {
    fputc('\n', out);
    for (const char* line : group) {
      if (line != nullptr) fprintf(out, "%s\n", line);
    }
  }
  fputc('\n', out);
}

int emu_ProcessCmdLine(int argc, char** argv, EmuSettings* settings) {
  *settings = EmuSettings{};
  padixMode = EmuMode::Emulator;
  bool deviceOptionGiven = false;

  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i] != nullptr ? argv[i] : "";
    bool needsDevice = false;

    if (emu_IsOption(arg, "maximize")) {
      settings->window.maximize = 1;
    } else if (emu_IsOption(arg, "fullscreen") || emu_IsOption(arg, "fullsize")) {
      settings->window.fullscreen = 1;
    } else if (emu_IsOption(arg, "nocursor") || emu_IsOption(arg, "hidecursor")) {
      settings->window.hideCursor = 1;
    } else if (emu_IsHelp(arg)) {
      emu_PrintUsage(stdout);
      return -1;
    } else if (emu_IsOption(arg, "version") || strcmp(arg, "--version") == 0) {
      printf("%s\n", EMU_VERSION);
      return 1;
    } else if (strncmp(arg[0] == '-' ? arg + 1 : arg, "dtc=", 4) == 0) {
      if (!emu_TakeDtcOption((arg[0] == '-' ? arg + 1 : arg) + 4)) {
        char message[sizeof(ShownWord::text) + 120];
        snprintf(message, sizeof message,
                 "bad trouble code in \"%s\": expected a letter P, C, B or U and up to four hex "
                 "digits (0000 to 3FFF), such as dtc=P01CE",
                 emu_ShowWord(arg).text);
        emu_Refuse(message);
        emu_PrintUsage(stdout);
        return -1;
      }
    } else if (emu_IsOption(arg, "sim")) {
      padixMode = EmuMode::Simulator;
      needsDevice = true;
    } else if (emu_IsOption(arg, "serve")) {
      padixMode = EmuMode::Simulator;
      settings->serve = 1;
      needsDevice = true;
    } else if (emu_IsOption(arg, "timing=real")) {
      settings->realTiming = 1;
      needsDevice = true;
    } else if (strncmp(arg[0] == '-' ? arg + 1 : arg, "vehicle=", 8) == 0) {
      settings->vehicleFile = (arg[0] == '-' ? arg + 1 : arg) + 8;
    } else if (strncmp(arg[0] == '-' ? arg + 1 : arg, "link=", 5) == 0 &&
               (arg[0] == '-' ? arg + 1 : arg)[5] != '\0') {
      settings->ptyLink = (arg[0] == '-' ? arg + 1 : arg) + 5;
    } else if (strncmp(arg[0] == '-' ? arg + 1 : arg, "learn=", 6) == 0 && (arg[0] == '-' ? arg + 1 : arg)[6] != '\0') {
      settings->learnFile = (arg[0] == '-' ? arg + 1 : arg) + 6;
      needsDevice = true;
    } else if (strncmp(arg[0] == '-' ? arg + 1 : arg, "learn.requests=", 15) == 0 &&
               (arg[0] == '-' ? arg + 1 : arg)[15] != '\0') {
      settings->learnRequests = (arg[0] == '-' ? arg + 1 : arg) + 15;
      needsDevice = true;
    } else if (strncmp(arg[0] == '-' ? arg + 1 : arg, "relay=", 6) == 0 && (arg[0] == '-' ? arg + 1 : arg)[6] != '\0') {
      settings->relayDevice = (arg[0] == '-' ? arg + 1 : arg) + 6;
      padixMode = EmuMode::Simulator;
      settings->serve = 1;
      needsDevice = true;
    } else if (strncmp(arg[0] == '-' ? arg + 1 : arg, "log=", 4) == 0) {
      settings->trafficLog = (arg[0] == '-' ? arg + 1 : arg) + 4;
    } else if (emu_IsOption(arg, "elm")) {
      emu_QimSetDiagController(EMU_DIAG_ELM327_V15);
    } else if (emu_IsOption(arg, "slcan")) {
      serialCanServed = 1;
    } else if (const BaudOption* baud = emu_FindBaudOption(arg)) {
      settings->baudrate = baud->value;
      needsDevice = true;
    } else if (emu_IsOption(arg, "nosync")) {
      settings->noSync = 1;
      needsDevice = true;
    } else if (const InitOption* init = emu_FindInitOption(arg)) {
      settings->moduleInit = init->value;
      needsDevice = true;
    } else if (emu_WordCanBeDevice(arg)) {
      settings->device = arg;
      if (padixMode != EmuMode::Simulator) padixMode = EmuMode::Obd2Software;
    } else {
      emu_PrintUsage(stdout);
      return -1;
    }
    if (needsDevice) deviceOptionGiven = true;
  }

  if (deviceOptionGiven && settings->device == nullptr) {
    emu_PrintUsage(stdout);
    return -1;
  }
  return 0;
}
