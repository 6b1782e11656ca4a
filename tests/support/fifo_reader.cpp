// A reader that waits on a FIFO is set free by a writer that comes and goes at once.
#include "tests/support/fifo_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <stdexcept>

void MakeFifo(const std::string& path) {
  if (mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo " + path);
}

bool ReturnsWithoutAWriter(const std::string& fifo, const std::function<void()>& read, int timeoutMs) {
  std::future<void> reading = std::async(std::launch::async, read);
  if (reading.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready) {
    reading.get();
    return true;
  }
  // The reader waits in open() for a writer, or in read() for bytes: a writer that opens and
  // closes ends both waits.
  while (reading.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) close(fd);
  }
  reading.get();
  return false;
}
