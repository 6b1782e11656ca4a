// Running padix-headless as a separate process: arguments, standard input, output and status.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
  int status;  // exit status, or -1 when it did not end within the time-out (it is killed)
  std::string out, err;
};

// The build directory that holds padix-headless.
std::string BinDir();

// Runs padix-headless with the arguments, writes the input to its standard input and closes
// it, and waits up to timeoutMs for it to end.
ProcessResult RunHeadless(const std::vector<std::string>& args, const std::string& input,
                          int timeoutMs = 20000);
