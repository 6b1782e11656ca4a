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

struct EmuPanelCarSource {
  // Filled as the car's view grows: the ECUs, their live values and codes, the faults.
  int unused = 0;
};
