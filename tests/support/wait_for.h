// Waiting for a condition with a time-out, never on a bare sleep.
#pragma once

#include <chrono>
#include <thread>

// `pollMs`: the pause between two looks, longer where a look is costly (a window's pixels).
template <typename Condition>
bool WaitFor(Condition&& condition, int timeoutMs = 5000, int pollMs = 1) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
  }
  return true;
}
