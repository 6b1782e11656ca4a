// Command line: the usage text as the user sees it, and the rules where they can go wrong.
#include "host/cmdline.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "controller/controller.h"
#include "module/module.h"
#include "vehicle/vehicle.h"

namespace {

struct Parsed {
  int result;
  EmuSettings settings;  // settings.device is cleared: the arguments are gone after parsing
  std::string device;    // the device argument, "-" when none was given
  std::string log;       // the traffic log's path, "" when none was given
  EmuMode mode;
  std::string out;
  std::string err;  // the line naming a refused word, before the usage
};

Parsed Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "padix");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  Parsed p{};
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  p.result = emu_ProcessCmdLine(static_cast<int>(args.size()), argv.data(), &p.settings);
  p.err = testing::internal::GetCapturedStderr();
  p.out = testing::internal::GetCapturedStdout();
  p.mode = emu_GetPadixMode();
  p.device = p.settings.device != nullptr ? p.settings.device : "-";
  p.settings.device = nullptr;
  p.log = p.settings.trafficLog != nullptr ? p.settings.trafficLog : "";
  p.settings.trafficLog = nullptr;
  return p;
}

std::string ExpectedUsage() {
  std::string head = std::string("\n Skanvo/Tarnic Emulator    Version: Padix V2.81 ") +
                     emu_GetBuildDate() + " " + emu_GetBuildTime() + "\n\n";
  return head +
         " Padix runs the firmware of the Tarnic handheld OBD-II scan tool on this computer,\n"
         " with a simulated OBD interface module and vehicle, or with a real module on a serial\n"
         " line. It comes without any warranty.\n"
         "\n"
         "Usage:\n"
         "\n"
         " padix [<device>] [<baudrate>] [options]\n"
         "\n"
         " Any kind of (virtual) serial device must be given in OBD2 software mode\n"
         " or QIM simulator mode, e.g. COMx, /dev/rfcommx, /dev/ttySx, /dev/ttyAMAx\n"
         " If optional device is not given, Padix runs in emulator mode.\n"
         " /dev/ptmx opens a new virtual serial port; tcp:[HOST:]PORT is a network\n"
         " line: listened on in QIM simulator mode (host 127.0.0.1 unless given),\n"
         " connected to in OBD2 software mode.\n"
         "\n"
         " Valid values for baudrate are 9600, 19200, 38400, 57600 or 115200.\n"
         " If optional baudrate is not given, 9600 is used if a device is given.\n"
         " If baudrate is given, a device must be specified.\n"
         "\n"
         "Options:\n"
         "\n"
         " All options may be preceded with a '-'.\n"
         "\n"
         " help, h, ? - displays Padix command line options and quits\n"
         " --version  - displays the Padix version and quits\n"
         "\n"
         "Emulator and QIM simulator options:\n"
         "\n"
         " dtc=Xxxxx  - sets a confirmed DTC, e.g. dtc=P01CE, for the first ECU.\n"
         "              This option can be given up to 16 times.\n"
         " vehicle=FILE - the simulated car as described in the vehicle file FILE.\n"
         " log=FILE   - writes every line between tester and module to FILE, with\n"
         "              the time since start (log=- writes to standard error).\n"
         " link=PATH  - with /dev/ptmx: a symbolic link PATH to the new virtual serial\n"
         "              port, for the run's length (an existing symbolic link is replaced).\n"
         " elm        - the simulated module serves its serial client as an ELM327\n"
         "              v1.5, the adapter that OBD apps and libraries expect (the\n"
         "              handheld itself keeps talking to the QIM). Key 3 u does the same.\n"
         " slcan      - the simulated module serves its serial client as a serial CAN\n"
         "              adapter (text commands S6, O, t7DF8...): the car's ECUs on a\n"
         "              CAN bus, for tools that run their own ISO 15765-2 and OBD.\n"
         "\n"
         "QIM simulator options:\n"
         "\n"
         " sim        - Padix runs in QIM simulator mode if a device is specified.\n"
         "              Note that the Padix Bluetooth menu must be entered to\n"
         "              activate the simulator. After that the menu cannot be left.\n"
         " serve      - QIM simulator mode that serves the device from start: the\n"
         "              handheld enters its Bluetooth menu by itself.\n"
         " timing=real - the ELM327 v1.5 answers as slowly as a real adapter and car:\n"
         "              line speed, answer delays, time-outs, protocol search.\n"
         "\n"
         "OBD2 software options:\n"
         "\n"
         " nosync     - disables synchronization between Padix and the OBD2 module.\n"
         "              Padix does not wait for a prompt-sign from the OBD module.\n"
         " init=<OBD module name> - Padix sends an initialization sequence to the\n"
         "                          specified module: QIM or TBX.\n"
         " Options nosync and init=QIM or init=TBX are mutual exclusive.\n"
         " learn=FILE - reads the car behind the ELM327 adapter on the device into\n"
         "              the vehicle file FILE, then quits; it never clears codes.\n"
         " learn.requests=FILE - extra requests to learn, in hex, one a line.\n"
         " relay=DEVICE - serves the device's client from the real ELM327 adapter\n"
         "              on DEVICE, every byte passed on unchanged (logged with log=).\n"
         "\n"
         "GTK3+ options:\n"
         "\n"
         " nocursor,\n"
         " hidecursor - hides the cursor\n"
         " maximize   - maximizes the Padix window (with title)\n"
         " fullscreen,\n"
         " fullsize   - makes the Padix window fullscreen (without title)\n"
         " Option fullsize overrides option maximize.\n"
         "\n"
         "Examples:\n"
         "\n"
         " padix\n"
         "\n"
         " Padix works like an Skanvo/Tarnic emulator.\n"
         "\n"
         " padix COM1\n"
         "\n"
         " Padix is running in OBD2 software mode. Padix connects to COM1 and awaits\n"
         " data sent by a real Skanvo or a second Padix running in\n"
         " QIM simulator mode.\n"
         "\n"
         " padix COM2 sim\n"
         "\n"
         " Padix works like a QIM simulator if the bluetooth menu is active. Padix\n"
         " connects to COM2 and awaits data sent by a second Padix running in OBD2\n"
         " software mode or a third party OBD2 software.\n"
         "\n"
         " padix /dev/ptmx sim elm serve\n"
         "\n"
         " Padix serves a third party OBD2 software on a new virtual serial port as\n"
         " an ELM327 v1.5 adapter, from the moment it starts.\n"
         "\n"         " padix /dev/ptmx sim slcan serve\n"
         "\n"
         " Padix serves a CAN tool on a new virtual serial port as a serial CAN\n"
         " adapter on the simulated car's bus, from the moment it starts.\n"
         "\n"
         " Read the Padix manual to find out how OBD data can be altered in the\n"
         " emulator and simulator modes.\n"
         "\n";
}

TEST(CmdLineUsage, TextIsExactAndBuildStampHasTheCompilerForm) {
  Parsed p = Parse({"help"});
  EXPECT_EQ(p.result, -1);
  EXPECT_EQ(p.out, ExpectedUsage());
  // "Jan  8 2017" and "00:58:00"
  EXPECT_EQ(strlen(emu_GetBuildDate()), 11u);
  EXPECT_EQ(strlen(emu_GetBuildTime()), 8u);
  EXPECT_EQ(emu_GetBuildTime()[2], ':');
}

TEST(CmdLineUsage, HelpIsFoundInsideAnyArgument) {
  for (const char* arg : {"myhelpfile", "foo?", "?", "h", "-h", "--help", "-help"}) {
    Parsed p = Parse({arg});
    EXPECT_EQ(p.result, -1) << arg;
    EXPECT_EQ(p.out, ExpectedUsage()) << arg;
  }
  // "hh" and "H" are neither exactly "h" nor contain "help": they are device paths. "--h" is
  // no option either, and no device.
  for (const char* arg : {"hh", "H"}) {
    Parsed p = Parse({arg});
    EXPECT_EQ(p.result, 0) << arg;
    EXPECT_EQ(p.device, arg);
  }
  Parsed p = Parse({"--h"});
  EXPECT_EQ(p.result, -1);
  EXPECT_EQ(p.err, "unknown option \"--h\"\n");
}

// The version line alone, wherever it is asked for, and the run ends successfully; what comes
// after it is not looked at. Near misses are unknown options.
TEST(CmdLineUsage, VersionIsOneLineAndEndsTheRunWithSuccess) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"--version"}, {"-version"}, {"version"}, {"/dev/ttyS0", "sim", "--version"},
           {"--version", "help"}, {"--version", "nosync"}}) {
    Parsed p = Parse(args);
    EXPECT_EQ(p.result, 1) << args[0];
    EXPECT_EQ(p.out, std::string(EMU_VERSION) + "\n") << args[0];
  }
  EXPECT_EQ(std::string(EMU_VERSION).rfind("Padix V", 0), 0u);
  for (const char* arg : {"--versions", "---version", "-v"}) {
    Parsed p = Parse({arg});
    EXPECT_EQ(p.result, -1) << arg;
    EXPECT_EQ(p.device, "-") << arg;
    EXPECT_EQ(p.out, ExpectedUsage()) << arg;
    EXPECT_EQ(p.err.rfind(std::string("unknown option \"") + arg + "\"", 0), 0u) << p.err;
  }
}

TEST(CmdLineUsage, DeviceOnlyOptionsWithoutDeviceShowUsage) {
  for (const char* arg : {"-sim", "sim", "19200", "nosync", "init=QIM", "-init=TBX", "init=ELM",
                          "serve", "-timing=real"}) {
    Parsed p = Parse({arg});
    EXPECT_EQ(p.result, -1) << arg;
    EXPECT_EQ(p.out, ExpectedUsage()) << arg;
  }
  // Help after a device-only option ends parsing at once, even with a device after it.
  Parsed p = Parse({"nosync", "help", "/dev/ttyS0"});
  EXPECT_EQ(p.result, -1);
  EXPECT_EQ(p.out, ExpectedUsage());
}

TEST(CmdLineModes, ModeAndDeviceDoNotDependOnOrder) {
  EXPECT_EQ(Parse({}).mode, EmuMode::Emulator);
  EXPECT_EQ(Parse({"/dev/ttyS0", "sim"}).mode, EmuMode::Simulator);
  EXPECT_EQ(Parse({"sim", "/dev/ttyS0"}).mode, EmuMode::Simulator);
  EXPECT_EQ(Parse({"-sim", "/dev/ttyS0"}).mode, EmuMode::Simulator);
  Parsed p = Parse({"/dev/ttyS0", "/dev/ttyUSB0"});
  EXPECT_EQ(p.mode, EmuMode::Obd2Software);
  EXPECT_EQ(p.device, "/dev/ttyUSB0");
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.out, "");
}

// A tester's one command: serving from start implies simulator mode; the adapter personality
// may be chosen in any mode, as the key "3 u" can.
TEST(CmdLineModes, ServeElmAndRealTiming) {
  Parsed p = Parse({"/dev/ptmx", "-serve", "elm", "timing=real", "38400"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.mode, EmuMode::Simulator);
  EXPECT_EQ(p.settings.serve, 1);
  EXPECT_EQ(p.settings.realTiming, 1);
  EXPECT_EQ(p.settings.baudrate, 38400u);
  EXPECT_EQ(diagController, EMU_DIAG_ELM327_V15);
  emu_QimSetDiagController(EMU_DIAG_QIM);

  p = Parse({"tcp:35000", "sim", "-log=-"});
  EXPECT_EQ(p.device, "tcp:35000");
  EXPECT_EQ(p.log, "-");
  p = Parse({"/dev/ttyS0", "sim"});
  EXPECT_EQ(p.settings.serve, 0);
  EXPECT_EQ(p.settings.realTiming, 0);
  p = Parse({"elm"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.mode, EmuMode::Emulator);
  EXPECT_EQ(diagController, EMU_DIAG_ELM327_V15);
  emu_QimSetDiagController(EMU_DIAG_QIM);
}

// The serial CAN adapter instead of any AT dialect, on whatever line is given; the firmware's own
// personality stays as it is.
TEST(CmdLineModes, ServeSerialCan) {
  Parsed p = Parse({"/dev/ptmx", "serve", "slcan"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.mode, EmuMode::Simulator);
  EXPECT_EQ(p.device, "/dev/ptmx");
  EXPECT_EQ(serialCanServed, 1);
  EXPECT_EQ(diagController, EMU_DIAG_QIM);
  emu_QimInitState();
  EXPECT_EQ(serialCanServed, 0);
  p = Parse({"tcp:35000", "-slcan", "serve"});
  EXPECT_EQ(p.device, "tcp:35000");
  EXPECT_EQ(serialCanServed, 1);
  emu_QimInitState();
}

TEST(CmdLineModes, BaudRatesAreExactWordsOnly) {
  EXPECT_EQ(Parse({"COM1", "115200"}).settings.baudrate, 115200u);
  EXPECT_EQ(Parse({"COM1"}).settings.baudrate, 9600u);
  // "-19200" is not a baud rate, nor is 4800 one Padix offers: neither is taken for the device.
  Parsed p = Parse({"COM1", "-19200"});
  EXPECT_EQ(p.result, -1);
  EXPECT_EQ(p.err, "unknown option \"-19200\" (a baud rate has no '-': 19200)\n");
  p = Parse({"COM1", "4800"});
  EXPECT_EQ(p.result, -1);
  EXPECT_EQ(p.err, "baud rate \"4800\" not supported: expected 9600, 19200, 38400, 57600 or 115200\n");
}

TEST(CmdLineModes, ModuleInitAndSyncFlags) {
  EXPECT_EQ(Parse({"COM1", "init=QIM"}).settings.moduleInit, EMU_INIT_QIM);
  EXPECT_EQ(Parse({"COM1", "-init=TBX"}).settings.moduleInit, EMU_INIT_TBX);
  EXPECT_EQ(Parse({"COM1", "init=ELM"}).settings.moduleInit, EMU_INIT_ELM);
  EXPECT_EQ(Parse({"COM1", "-nosync"}).settings.noSync, 1);
  // Case matters: "init=qim" is refused.
  Parsed p = Parse({"COM1", "init=qim"});
  EXPECT_EQ(p.result, -1);
  EXPECT_EQ(p.err, "bad value in \"init=qim\": expected init=QIM, init=TBX or init=ELM\n");
}

TEST(CmdLineModes, WindowFlags) {
  Parsed p = Parse({"-maximize", "fullsize", "hidecursor"});
  EXPECT_EQ(p.settings.window.maximize, 1);
  EXPECT_EQ(p.settings.window.fullscreen, 1);
  EXPECT_EQ(p.settings.window.hideCursor, 1);
  EXPECT_EQ(p.mode, EmuMode::Emulator);
  EXPECT_EQ(Parse({"-nocursor"}).settings.window.hideCursor, 1);
  EXPECT_EQ(Parse({"fullscreen"}).settings.window.fullscreen, 1);
}

// A word meant as an option or as a baud rate is not opened as the serial device: a line on
// standard error names it and says what was expected, then comes the usage.
TEST(CmdLineRefused, WordsMeantAsOptionsOrBaudRatesAreNamed) {
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"timing=fast"}, "bad value in \"timing=fast\": expected timing=real"},
      {{"/dev/ptmx", "-timing=slow", "sim"}, "bad value in \"-timing=slow\": expected timing=real"},
      {{"--vehicle=x"}, "unknown option \"--vehicle=x\" (an option takes one '-' at most: -vehicle=x)"},
      {{"--serve", "/dev/ptmx"}, "unknown option \"--serve\" (an option takes one '-' at most: -serve)"},
      {{"/dev/ptmx", "12345", "sim"},
       "baud rate \"12345\" not supported: expected 9600, 19200, 38400, 57600 or 115200"},
      {{"/dev/ttyS0", "0"}, "baud rate \"0\" not supported: expected 9600, 19200, 38400, 57600 or 115200"},
      {{"COM1", "init=ELM327"}, "bad value in \"init=ELM327\": expected init=QIM, init=TBX or init=ELM"},
      {{"/dev/ttyS0", "sim=1"}, "\"sim=1\": option sim takes no value"},
      {{"-vehicle"}, "no value in \"-vehicle\": expected vehicle=FILE"},
      {{"log"}, "no value in \"log\": expected log=FILE"},
      {{"/dev/ptmx", "sim", "link="}, "bad value in \"link=\": expected link=PATH"},
      {{"colour=red"}, "unknown option \"colour=red\""},
      {{"-x", "/dev/ttyS0"}, "unknown option \"-x\""},
      {{"-"}, "unknown option \"-\""},
      // Shown as typed, control bytes as '?', a long word cut short.
      {{"a\tb=1"}, "unknown option \"a?b=1\""},
      {{"x=" + std::string(100, 'y')}, "unknown option \"x=" + std::string(58, 'y') + "...\""},
  };
  for (const auto& c : cases) {
    Parsed p = Parse(c.args);
    EXPECT_EQ(p.result, -1) << c.args[0];
    EXPECT_EQ(p.err, c.err + "\n");
    EXPECT_EQ(p.out, ExpectedUsage()) << c.args[0];
  }
  // What a device may look like stays a device, '=' included after a '/'.
  for (const char* device : {"/dev/ttyUSB0", "/dev/ptmx", "tcp:35000", "tcp:localhost:35000", "tcp:[::1]:35000",
                             "COM1", "/dev/serial/by-id/usb-FTDI=A1", "./line=2"}) {
    Parsed p = Parse({device, "sim"});
    EXPECT_EQ(p.result, 0) << device;
    EXPECT_EQ(p.device, device);
    EXPECT_EQ(p.err, "") << device;
  }
}

// Runs last in this group: the trouble code store keeps its codes for the whole run.
TEST(CmdLineDtc, LettersLimitsAndTheSixteenCodeStore) {
  uint8_t before = emu_VehicleGetNoOfConfirmedDtcs();
  ASSERT_EQ(before, 0) << "another test stored trouble codes first";
  // A code is stored, or refused with a line that names the word.
  struct Case {
    const char* arg;
    bool stored;
    uint16_t code;
  };
  const Case cases[] = {
      {"dtc=P01CE", true, 0x01CE},  {"dtc=c0123", true, 0x4123},  {"dtc=U3FFF", true, 0xFFFF},
      {"-dtc=B0001", true, 0x8001}, {"dtc=p0a1f", true, 0x0A1F},  {"dtc=P12", true, 0x0012},
      {"dtc=X12", false, 0},        {"dtc=X123", false, 0},       {"dtc=P4000", false, 0},
      {"dtc=P", false, 0},          {"xdtc=P0100", false, 0},     {"--dtc=P0100", false, 0},
      {"dtc=Pzz", false, 0},        {"dtc=P03001", false, 0},     {"dtc=P0x12", false, 0},
      {"dtc=", false, 0},           {"dtc=P0300 ", false, 0},
  };
  uint8_t count = 0;
  for (const Case& c : cases) {
    Parsed p = Parse({c.arg});
    EXPECT_EQ(p.result, c.stored ? 0 : -1) << c.arg;
    EXPECT_EQ(p.mode, EmuMode::Emulator) << c.arg << " must not be taken as a device";
    if (c.stored) {
      EXPECT_EQ(p.err, "") << c.arg;
      ASSERT_EQ(emu_VehicleGetNoOfConfirmedDtcs(), count + 1) << c.arg;
      EXPECT_EQ(emu_VehicleGetConfirmedDtc(count), c.code) << c.arg;
      ++count;
    } else {
      EXPECT_NE(p.err.find(std::string("\"") + c.arg + "\""), std::string::npos) << p.err;
      EXPECT_EQ(p.out, ExpectedUsage()) << c.arg;
      EXPECT_EQ(emu_VehicleGetNoOfConfirmedDtcs(), count) << c.arg;
    }
  }
  EXPECT_EQ(Parse({"dtc=X123"}).err,
            "bad trouble code in \"dtc=X123\": expected a letter P, C, B or U and up to four hex digits "
            "(0000 to 3FFF), such as dtc=P01CE\n");
  // A refused code ends the parsing: the codes after it are not stored.
  EXPECT_EQ(Parse({"dtc=X123", "dtc=P0300"}).result, -1);
  EXPECT_EQ(emu_VehicleGetNoOfConfirmedDtcs(), count);
  for (int i = count; i < 20; ++i) Parse({"dtc=P0300"});
  EXPECT_EQ(emu_VehicleGetNoOfConfirmedDtcs(), 16);
  EXPECT_EQ(emu_VehicleGetConfirmedDtc(0), 0x01CE);
}

TEST(CmdLineBadInput, OddArgumentsNeverCrash) {
  std::string longArg(100000, 'x');
  std::string binary("\x01\xff\x7f\x80 \t", 6);
  Parsed p = Parse({longArg, "", binary});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.device, binary);
  EXPECT_EQ(p.mode, EmuMode::Obd2Software);
}

}  // namespace
