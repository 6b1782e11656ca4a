// A simulator-mode run of padix-headless and a client on its line, the way a user sets it up.
// On a pseudo-terminal: start `padix-headless /dev/ptmx sim`, enter the Bluetooth menu, open the
// printed terminal (raw, non-blocking) and talk to the simulated module. Over TCP, as a Wi-Fi
// adapter is reached: start `padix-headless tcp:0 sim` (a port of the system's choice), connect to
// where it says it listens, and the same. With "serve" among the extra arguments the run serves
// from start: the handheld enters its bridge by itself.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/support/process.h"

// The line between the client and the simulated module.
enum class SimLine {
  Pty,  // the run's own pseudo-terminal ("/dev/ptmx")
  Tcp,  // a TCP port on this machine ("tcp:0")
};
inline void PrintTo(SimLine line, std::ostream* out) { *out << (line == SimLine::Tcp ? "Tcp" : "Pty"); }
// Names value-parameterised tests after the line they run on: ".../Pty", ".../Tcp".
inline std::string SimLineName(const testing::TestParamInfo<SimLine>& info) {
  return info.param == SimLine::Tcp ? "Tcp" : "Pty";
}

// Connects to "HOST:PORT" (IPv4), non-blocking with no delay; -1 when it cannot.
int ConnectTcp(const std::string& hostPort);
// The socket's own address as the run names its clients ("127.0.0.1:PORT").
std::string TcpName(int fd);

class SimulatorOnPort {
 public:
  // `extra` goes on the command line after "/dev/ptmx sim" (or "tcp:0 sim"), such as
  // {"dtc=P0300"}.
  explicit SimulatorOnPort(const std::vector<std::string>& extra = {})
      : SimulatorOnPort(SimLine::Pty, extra) {}
  explicit SimulatorOnPort(SimLine line, const std::vector<std::string>& extra = {});
  ~SimulatorOnPort();
  SimulatorOnPort(const SimulatorOnPort&) = delete;
  SimulatorOnPort& operator=(const SimulatorOnPort&) = delete;

  // Opens the line, enters the Bluetooth menu and waits until the module answers "ATI" with
  // `atiAnswer` (the QIM's by default). A run that serves from start is not led to the menu, and
  // its line is opened as soon as it is named and used as it is: the first thing the client
  // receives must be that answer. Should something else come first, the line is still brought
  // in step (up to that answer) for the requests that follow, and the failure tells what came.
  testing::AssertionResult Serving(const std::string& atiAnswer = "Korvan QIM1 v1.7\r>");

  // Closes the client's end of the line, as a program that quits does.
  void Close();
  // Opens the line again (a terminal: raw, non-blocking); what was received before is
  // forgotten. Over TCP the run serves one client at a time: the new connection is made once
  // it serves nobody (ServesNobody()).
  testing::AssertionResult Reopen();
  // Opens the line again at once, as a client does that comes while the run is still busy with
  // the one before (answering it, or waiting for its car): over TCP the run then sees the last
  // client gone as it takes the new one in.
  testing::AssertionResult ReopenAtOnce();
  // Over TCP: waits until the run has seen every client it took in leave, as many "Client ...
  // left" as "Client ... connected" on its standard error.
  testing::AssertionResult ServesNobody(int timeoutMs = 5000);

  // Writes all bytes, reading (and keeping) what comes back meanwhile so that neither side
  // blocks the other. A line that the run has closed fails the test.
  void Write(const std::string& bytes);
  // What came up to and including the next prompt ("" after the time-out, or at once when the
  // run has closed the line or hung the terminal up).
  std::string ReadAnswer(int timeoutMs = 3000);
  std::string Ask(const std::string& line, int timeoutMs = 3000);

  void Forget() { received_.clear(), taken_ = 0; }
  HeadlessChild& Program() { return sim_; }
  // The terminal's name, or where the run listens ("127.0.0.1:PORT").
  const std::string& Where() const { return where_; }
  // Over TCP, how the run names this client ("127.0.0.1:PORT").
  const std::string& ClientName() const { return clientName_; }
  int Fd() const { return fd_; }  // the client's descriptor, for tests that relay the line

 private:
  testing::AssertionResult Open();
  void Drain();

  SimLine line_;
  HeadlessChild sim_;
  bool serve_ = false;
  std::string where_, clientName_;
  int fd_ = -1;
  bool ended_ = false;  // the run closed the line (end of stream, or reset)
  std::string received_;
  size_t taken_ = 0;  // how much of received_ was read as answers already
  size_t errCounted_ = 0;  // how much of the run's standard error was counted
  int clientsIn_ = 0, clientsOut_ = 0;
};
