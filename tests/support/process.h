// Running padix-headless as a separate process: arguments, standard input, output and status.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#include <string>
#include <vector>

struct ProcessResult {
  int status;  // exit status, or -1 when it did not end within the time-out (it is killed)
  std::string out, err;
};

// The build directory that holds padix-headless.
std::string BinDir();

// The system's Python (where Debian's python3-can and python3-scapy are), else the first on the path.
std::string SystemPython();

// Runs `command` through the shell and returns what it printed, a line each (their newlines
// taken off); its exit status goes to `status` (-1 when it could not be started).
std::vector<std::string> CommandLines(const std::string& command, int* status);

// Runs padix-headless with the arguments, writes the input to its standard input and closes
// it, and waits up to timeoutMs for it to end.
ProcessResult RunHeadless(const std::vector<std::string>& args, const std::string& input,
                          int timeoutMs = 20000);

// padix-headless as a running child driven through its standard input: commands are sent one
// at a time and what it prints is read as it comes, so a test can wait for the display or for a
// message before it types the next key. The child is killed if the test did not quit it.
class HeadlessChild {
 public:
  explicit HeadlessChild(const std::vector<std::string>& args);
  // Another padix-headless (an installed one, say) started in another working directory.
  HeadlessChild(const std::vector<std::string>& args, const std::string& exe,
                const std::string& workDir);
  ~HeadlessChild();
  HeadlessChild(const HeadlessChild&) = delete;
  HeadlessChild& operator=(const HeadlessChild&) = delete;

  bool Running() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  void Send(const std::string& command);  // one command line, such as "key Down"
  // Waits for a line on standard error that starts with `prefix`; returns the rest of it, or ""
  // after the time-out.
  std::string WaitForErrLine(const std::string& prefix, int timeoutMs = 10000);
  // Waits for a line on standard output that starts with `prefix` (an answer such as "ok sync"),
  // passing over the lines before it; returns the whole line, or "" after the time-out.
  std::string WaitForOutLine(const std::string& prefix, int timeoutMs = 10000);
  // The display as the "text" command prints it: 64 rows of 132 '#' or '.', each ended by '\n';
  // "" when it did not come within the time-out.
  std::string Text(int timeoutMs = 5000);
  // The display in the LCD's memory layout (8 pages of 132 bytes, bit 0 the top row of a page).
  bool Display(uint8_t* displayMem, int timeoutMs = 5000);
  // Waits until the title bar shows `title` (drawn in the firmware's header font).
  bool WaitForTitle(const char* title, int timeoutMs = 15000);
  // Types a key until the display changes: a key typed before the firmware has seen the
  // previous one released is lost, as on the device.
  bool TypeAndWaitForChange(const char* key);
  // Sends "quit" and waits for the end: the exit status, or -1 when it had to be killed.
  int Quit(int timeoutMs = 10000);
  // Closes its standard input: the end of input, which quits it like "quit" (a run that serves a
  // line in simulator mode goes on serving).
  void CloseInput();
  // Waits for it to end by itself (after "key q", say): the exit status, or -1 when it did not
  // end within the time-out (the destructor kills it).
  int WaitForExit(int timeoutMs = 10000);
  const std::string& Err() const { return err_; }
  // Reads what has come on either output within the time-out, for Err() and the waits above;
  // false when nothing came.
  bool ReadOutput(int timeoutMs) { return ReadSome(timeoutMs); }
  // The processor time it has used so far, in clock ticks (sysconf(_SC_CLK_TCK) a second).
  long CpuTicks() const;

 private:
  bool ReadSome(int timeoutMs);  // reads what is there on either output; false on time-out
  bool NextOutLine(std::string* line, int timeoutMs);  // takes the next whole line of output
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, errFd_ = -1;
  std::string outBuf_, err_;
  size_t errScanned_ = 0;
};
