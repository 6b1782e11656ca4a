// A simulator-mode run of padix-headless and a client on its pseudo-terminal, the way a user
// sets it up: start `padix-headless /dev/ptmx sim`, enter the Bluetooth menu, open the printed
// terminal (raw, non-blocking) and talk to the simulated module. With "serve" among the extra
// arguments the run serves from start: the handheld enters its bridge by itself.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process.h"

class SimulatorOnPort {
 public:
  // `extra` goes on the command line after "/dev/ptmx sim", such as {"dtc=P0300"}.
  explicit SimulatorOnPort(const std::vector<std::string>& extra = {});
  ~SimulatorOnPort();
  SimulatorOnPort(const SimulatorOnPort&) = delete;
  SimulatorOnPort& operator=(const SimulatorOnPort&) = delete;

  // Opens the terminal, enters the Bluetooth menu and waits until the module answers "ATI" with
  // `atiAnswer` (the QIM's by default). A run that serves from start is not led to the menu, and
  // its terminal is opened as soon as it is named and used as it is: the first thing the client
  // receives must be that answer. Should something else come first, the line is still brought
  // in step (up to that answer) for the requests that follow, and the failure tells what came.
  testing::AssertionResult Serving(const std::string& atiAnswer = "Korvan QIM1 v1.7\r>");

  // Closes the client's end of the line, as a program that quits does.
  void Close();
  // Opens the terminal again (raw, non-blocking); what was received before is forgotten.
  testing::AssertionResult Reopen();

  // Writes all bytes, reading (and keeping) what comes back meanwhile so that neither side
  // blocks the other.
  void Write(const std::string& bytes);
  // What came up to and including the next prompt ("" after the time-out).
  std::string ReadAnswer(int timeoutMs = 3000);
  std::string Ask(const std::string& line, int timeoutMs = 3000);

  void Forget() { received_.clear(); }
  HeadlessChild& Program() { return sim_; }
  const std::string& Terminal() const { return pts_; }
  int Fd() const { return fd_; }  // the client's descriptor, for tests that relay the line

 private:
  testing::AssertionResult Open();
  void Drain();

  HeadlessChild sim_;
  bool serve_ = false;
  std::string pts_;
  int fd_ = -1;
  std::string received_;
};
