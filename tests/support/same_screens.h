// Two padix-headless runs showing the same thing: a run in OBD2 software mode against one in
// emulator mode that got the same keys.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/process.h"

// Both displays agree and have stayed unchanged for a while (data screens fill row by row).
// With `liveData`, the strip at the left edge where the live data list marks the row being
// read is left out: where the mark stands depends on the moment.
testing::AssertionResult ShowTheSame(HeadlessChild& tester, HeadlessChild& reference,
                                     bool liveData = false);
