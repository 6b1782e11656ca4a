// Quitting padix-headless at any moment of a connect or of a data reading: the automatic
// protocol scan, the reading of the vehicle's data after it, and the current data screen. Each
// run quits at another moment, by "quit", by the operator key "q" or by the end of its input,
// and must end by itself with status 0 and no failing thread or lock call.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "firmware/ui/fonts.h"
#include "firmware/ui/lcd.h"
#include "tests/support/emulator_session.h"
#include "tests/support/process.h"
#include "tests/support/wait_for.h"

namespace {

enum class QuitBy { Command, KeyQ, EndOfInput };

const char* Name(QuitBy how) {
  switch (how) {
    case QuitBy::Command: return "\"quit\"";
    case QuitBy::KeyQ: return "key q";
    case QuitBy::EndOfInput: return "end of input";
  }
  return "?";
}

struct QuitMoment {
  bool inCurrentData;  // false: counted from OK on "Automatic Protocol Scan"
  int delayMs;
  QuitBy how;
};

std::string Describe(const QuitMoment& m) {
  return std::string(m.inCurrentData ? "current data" : "connect") + " + " +
         std::to_string(m.delayMs) + " ms, " + Name(m.how);
}

// The titles waited for, drawn once before the runs start: drawing uses the firmware's one
// frame buffer and font state, which the runs side by side must not share.
struct Titles {
  ScreenPart mainMenu, selectProtocol, diagnosticsMenu;
};

Titles RenderTitles() {
  const uint8_t* font = HeaderFont.bytes;
  return {RenderText(1, 0, font, "MAIN MENU"), RenderText(1, 0, font, "SELECT PROTOCOL"),
          RenderText(1, 0, font, "DIAGNOSTICS MENU")};
}

bool WaitForTitle(HeadlessChild& padix, const ScreenPart& title, int timeoutMs = 15000) {
  uint8_t shown[LCD_FRAME_SIZE];
  return WaitFor([&] { return padix.Display(shown) && title.ShownIn(shown); }, timeoutMs);
}

// One run of padix-headless up to the moment, then the quit. "" when it ended as it should,
// otherwise what went wrong.
std::string QuitAt(const QuitMoment& m, const Titles& titles) {
  HeadlessChild padix({});
  if (!padix.Running()) return "padix-headless did not start";
  if (!WaitForTitle(padix, titles.mainMenu)) return "no main menu";
  // A vehicle on CAN 11 bit, 500 kbps: the scan tries PWM, VPWM, ISO 9141 and KWP2000 first,
  // which takes some 7 s; the reading of its data follows.
  padix.Send("key 6");
  padix.Send("key t");
  if (!padix.TypeAndWaitForChange("Return")) return "\"Start Diagnostics\" not taken";
  if (!WaitForTitle(padix, titles.selectProtocol)) return "no protocol list";
  // The first entry is the automatic scan: nothing was stored as used last.
  if (!padix.TypeAndWaitForChange("Return")) return "the scan did not start";
  if (m.inCurrentData) {
    if (!WaitForTitle(padix, titles.diagnosticsMenu, 30000)) return "no connection";
    if (!padix.TypeAndWaitForChange("Return")) return "\"Current Data\" not taken";
  }
  // The moment: the device runs on while padix-headless itself waits.
  padix.Send("wait " + std::to_string(m.delayMs));
  switch (m.how) {
    case QuitBy::Command: padix.Send("quit"); break;
    case QuitBy::KeyQ: padix.Send("key q"); break;
    case QuitBy::EndOfInput: padix.CloseInput(); break;
  }
  const int status = padix.WaitForExit(m.delayMs + 10000);
  if (status == -1) return "did not end (killed); stderr:\n" + padix.Err();
  if (status != 0) return "exit status " + std::to_string(status) + "; stderr:\n" + padix.Err();
  if (padix.Err().find("failed") != std::string::npos) return "stderr:\n" + padix.Err();
  return "";
}

// The runs are separate processes; a few run side by side, each waiting on the device's timing.
constexpr int PARALLEL_RUNS = 4;

TEST(QuitDuringConnectStress, EveryMomentOfAConnectOrReadingQuitsWithZero) {
  std::vector<QuitMoment> moments;
  const QuitBy ways[] = {QuitBy::Command, QuitBy::KeyQ, QuitBy::EndOfInput};
  // Over the whole scan and the reading after it (the diagnostics menu comes after some 9 s);
  // each way of quitting in its turn, so each covers the range in steps of 1.5 s.
  for (int i = 0; i <= 24; ++i) moments.push_back({false, 500 * i, ways[i % 3]});
  // The current data screen asks for its values over and over.
  for (int i = 0; i < 6; ++i) moments.push_back({true, 700 * i, ways[i % 3]});

  const Titles titles = RenderTitles();
  const auto t0 = std::chrono::steady_clock::now();
  std::atomic<size_t> next{0};
  std::mutex failuresMutex;
  std::vector<std::string> failures;
  std::vector<std::future<void>> workers;
  for (int w = 0; w < PARALLEL_RUNS; ++w) {
    workers.push_back(std::async(std::launch::async, [&] {
      for (size_t i; (i = next++) < moments.size();) {
        const std::string failure = QuitAt(moments[i], titles);
        if (failure.empty()) continue;
        std::lock_guard<std::mutex> lock(failuresMutex);
        failures.push_back(Describe(moments[i]) + ": " + failure);
      }
    }));
  }
  for (auto& w : workers) w.get();
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  printf("%zu quits during a connect or a reading, %d side by side: %.0f s\n", moments.size(),
         PARALLEL_RUNS, s);
  for (const std::string& f : failures) ADD_FAILURE() << f;
}

}  // namespace
