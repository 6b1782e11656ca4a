// Readers of files facing a FIFO that nobody writes to: such a reader must refuse it at once,
// never wait for a writer that will not come (and keep the program from its next command).
#pragma once

#include <functional>
#include <string>

// Makes a FIFO at `path` (a folder of the test's own).
void MakeFifo(const std::string& path);
// Runs `read`, which opens `fifo`; true when it returned within the time-out. Otherwise the FIFO
// is opened and closed for writing, which ends the reader's wait (it reads an empty file), and
// false comes once the reader has returned.
bool ReturnsWithoutAWriter(const std::string& fifo, const std::function<void()>& read, int timeoutMs = 5000);
