// Module initialisation in OBD2 software mode against a module on a pseudo-terminal.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>

#include "host/power_on.h"
#include "line/serial_port.h"

namespace {

// The module's side of the line: reads each command up to its carriage return and answers it.
class ScriptedModule {
 public:
  ScriptedModule() {
    char name[256];
    EXPECT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    slaveName_ = name;
  }
  ~ScriptedModule() {
    if (peer_.joinable()) peer_.join();
    close(master_);
    close(slave_);
  }
  const char* Device() const { return slaveName_.c_str(); }

  // Answers `commands` command lines with answer(command), then stops.
  void Serve(int commands, std::function<std::string(const std::string&)> answer) {
    peer_ = std::thread([this, commands, answer]() mutable {
      std::string line;
      char c;
      for (int n = 0; n < commands && read(master_, &c, 1) == 1;) {
        line.push_back(c);
        if (c != '\r') continue;
        received_ += line;
        std::string reply = answer(line);
        line.clear();
        ++n;
        (void)!write(master_, reply.data(), reply.size());
      }
    });
  }
  std::string Received() {
    if (peer_.joinable()) peer_.join();
    return received_;
  }

 private:
  int master_ = -1, slave_ = -1;
  std::string slaveName_;
  std::thread peer_;
  std::string received_;
};

const char* const QIM_COMMANDS[] = {"ATE0\r", "ATL0\r", "ATOF1\r"};

TEST(ObdModuleInit, ResetThenEachCommandAnsweredOk) {
  ScriptedModule module;
  module.Serve(4, [](const std::string& cmd) {
    return std::string(cmd == "ATZ\r" ? "\r\rQIM1 v1.7\r\r>" : "OK\r\r>");
  });
  ASSERT_EQ(emu_InitCOM(module.Device(), 19200), 0);
  EXPECT_EQ(emu_InitObdModule(QIM_COMMANDS, 3), 0);
  emu_CloseCOM();
  EXPECT_EQ(module.Received(), "ATZ\rATE0\rATL0\rATOF1\r");
}

TEST(ObdModuleInit, ThreeErrorAnswersToTheResetEndTheRun) {
  ScriptedModule module;
  module.Serve(3, [](const std::string&) { return "?\r>"; });
  ASSERT_EQ(emu_InitCOM(module.Device(), 9600), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(emu_InitObdModule(QIM_COMMANDS, 3), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Received error response for AT command ATZ 3 times!\n");
  emu_CloseCOM();
  EXPECT_EQ(module.Received(), "ATZ\rATZ\rATZ\r");
}

TEST(ObdModuleInit, OkMustBeOneWordBeforeThePrompt) {
  struct Case {
    const char* answer;
    bool ok;
  };
  for (const Case& c : {Case{"OK\r>", true}, Case{"xxOKxx\r>", true}, Case{"O K\r>", false},
                        Case{"OOK\r>", false}, Case{"NO DATA\r>", false}, Case{"\r>", false}}) {
    ScriptedModule module;
    module.Serve(2, [c](const std::string& cmd) {
      return std::string(cmd == "ATZ\r" ? ">" : c.answer);
    });
    ASSERT_EQ(emu_InitCOM(module.Device(), 9600), 0);
    testing::internal::CaptureStderr();
    int result = emu_InitObdModule(QIM_COMMANDS, 1);
    std::string err = testing::internal::GetCapturedStderr();
    emu_CloseCOM();
    EXPECT_EQ(result, c.ok ? 0 : -1) << c.answer;
    if (!c.ok) {
      EXPECT_EQ(err, "No OK response for AT command ATE0\r received!\n") << c.answer;
    }
  }
}

}  // namespace
