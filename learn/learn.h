// Learning a car: padix-headless DEVICE learn=FILE drives an ELM327-type adapter on the line
// (reset, headers on, automatic search), reads what every ECU that answers supports in services
// 01, 02, 03, 06, 07, 09 and 0A, and the user's extra requests, and writes a vehicle file that
// answers them as the car did. It never sends a request that changes the car (clearing codes,
// writing, routines, resets, security access) unless the user's list names it.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// Services learning itself never asks.
bool emu_LearnChangesCar(uint8_t service);

// The user's extra requests, one a line in hex ("22 F1 90"; '#' starts a comment), and among them
// the adapter settings that keep its answers readable: its time-out (ATST hh, ATAT n) and whom
// requests go to (ATSH, ATCRA, ATAR, ATCP). Settings before the first request are made before the
// search, so they hold for the whole learning (a slow car: ATST FF); the others in their turn.
// 0, or -1 with `error` naming the line. At most EMU_LEARN_MAX_EXTRA lines, requests of 1 to 8
// bytes.
struct EmuLearnExtra {
  std::string command;           // an adapter setting, as sent ("ATSH7E0"); "" for a request
  std::vector<uint8_t> request;
};
constexpr size_t EMU_LEARN_MAX_EXTRA = 256;
int emu_LearnReadRequests(const char* path, std::vector<EmuLearnExtra>* out, std::string* error);

// The whole run on the open line: progress on standard output, a summary at the end. 0 when the
// file was written, -1 after a message on standard error.
int emu_LearnCar(const char* file, const char* requestsFile);
