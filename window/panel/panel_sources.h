// What the test bench panel beside the handheld shows and drives, handed over by the host as the
// operator menu is (the window knows no adapter and no car). Two sources, each filled by its own
// host module: the line and its traffic (host/panel_line_source.cpp), the car and its faults
// (host/panel_car_source.cpp). Their functions are called on the window's thread.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The line as it is now. Texts are "" where there is nothing to say.
struct EmuPanelLineStatus {
  char mode[48];         // "Simulator (serving)", "Emulator", ...
  char personality[48];  // "Handheld module", "ELM327 v1.5", "Serial CAN"
  char served[300];      // the terminal or address a client comes to, or the device used
  int client;            // 1 a client is there, 0 none, -1 a line without clients that come and go
  double clientSeconds;  // since the client came
  char clientFrom[300];  // a TCP client's address
  char protocol[64];     // found or set; "" none yet
  int searching;         // 1 while the adapter searches for the car's protocol
  double requestsPerSecond, answersPerSecond;  // over the last second or so
};

struct EmuPanelLineSource {
  void (*status)(EmuPanelLineStatus* out) = nullptr;
  // The traffic log's last entries (line/traffic_log.h), kept from the first call of keepTraffic.
  void (*keepTraffic)() = nullptr;
  uint64_t (*trafficCount)() = nullptr;
  int (*trafficEntry)(uint64_t number, char* out, size_t size) = nullptr;  // 0, or -1 gone
  // Traffic-log text taken into the car as "import" takes a file: the number of answers taken,
  // or -1; `message` says what was taken or what went wrong.
  int (*importText)(const char* text, char* message, size_t size) = nullptr;
};

// The car as the panel shows it, for one ECU: what the section reads at each refresh and compares
// with what it shows, redrawing only what differs.
constexpr int EMU_PANEL_MAX_ITEMS = 16;  // live values shown
constexpr int EMU_PANEL_MAX_CODES = 16;  // of each kind, as an ECU's lists hold them
constexpr int EMU_PANEL_CODE_KINDS = 3;  // confirmed, pending, permanent (the vehicle file's order)
constexpr int EMU_PANEL_TEXT = 48;
constexpr int EMU_PANEL_NAME = 24;

// A live value in the vehicle file's terms: its name as "set" takes it, its unit, the limits its
// bytes hold and the step of one raw unit (spin buttons show as many digits as the step needs).
struct EmuPanelItem {
  char name[EMU_PANEL_NAME];
  char unit[8];
  double low, high, step;
};

struct EmuPanelCar {
  int noOfEcus;
  char protocol[EMU_PANEL_TEXT];
  double value[EMU_PANEL_MAX_ITEMS];
  uint8_t sent[EMU_PANEL_MAX_ITEMS];   // the ECU sends the value (it supports the PID)
  uint8_t moves[EMU_PANEL_MAX_ITEMS];  // it moves by itself (a waveform, a recorded trace)
  uint8_t lamp;
  uint8_t noOfCodes[EMU_PANEL_CODE_KINDS];
  uint16_t code[EMU_PANEL_CODE_KINDS][EMU_PANEL_MAX_CODES];  // two bytes as sent (P0301: 0301)
};

// The faults as the panel lists them: the settings that are not at their default, what is armed
// to happen to the next answer, then the timeline's events with their state.
constexpr int EMU_PANEL_MAX_FAULT_ROWS = 48;
struct EmuPanelFaultRow {
  char what[EMU_PANEL_TEXT];   // "faults.error_rate", "at 5s set ignition"
  char state[EMU_PANEL_TEXT];  // "0.1", "armed", "fired", "in 3.2 s"
};
struct EmuPanelFaults {
  int noOfRows;
  EmuPanelFaultRow row[EMU_PANEL_MAX_FAULT_ROWS];
};

// Every change goes through the vehicle file's setter, as "set NAME VALUE" does: 0, or -1 with
// the reason in `why`.
struct EmuPanelCarSource {
  // Fills up to `max` items; returns how many. Fixed for the run.
  int (*items)(EmuPanelItem* items, int max) = nullptr;
  void (*car)(uint8_t ecuIdx, EmuPanelCar* out) = nullptr;
  int (*setItem)(uint8_t ecuIdx, int item, double value, char* why, size_t whySize) = nullptr;
  // A code as typed ("P0301"), of kind 0 confirmed, 1 pending, 2 permanent.
  int (*addCode)(uint8_t ecuIdx, int kind, const char* code, char* why, size_t whySize) = nullptr;
  int (*removeCode)(uint8_t ecuIdx, int kind, uint16_t code, char* why, size_t whySize) = nullptr;
  int (*setLamp)(uint8_t ecuIdx, bool on, char* why, size_t whySize) = nullptr;

  // One-shot faults, each a button: the label of shot `index` (null past the last), and firing it.
  const char* (*oneShot)(int index) = nullptr;
  int (*fireOneShot)(int index, char* why, size_t whySize) = nullptr;
  void (*faults)(EmuPanelFaults* out) = nullptr;
  // Every line and car fault back to its default (the timeline stays).
  int (*clearFaults)(char* why, size_t whySize) = nullptr;
};
