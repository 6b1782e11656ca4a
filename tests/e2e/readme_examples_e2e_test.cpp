// The README's client examples, run as a reader would paste them: each Python block is taken from
// README.md as it stands, pointed at a fresh simulator run (its terminal or port in place of the
// README's), and what it prints must be what its comments promise, line for line. A README whose
// example reads half an answer, or prints something else than its comment says, fails here.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace {

std::string ReadReadme() {
  std::ifstream in(std::string(PADIX_SOURCE_DIR) + "/README.md");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The first ```python block after `marker`; "" when there is none.
std::string PythonBlockAfter(const std::string& readme, const std::string& marker) {
  const size_t at = readme.find(marker);
  if (at == std::string::npos) return "";
  const std::string fence = "```python\n";
  const size_t start = readme.find(fence, at);
  if (start == std::string::npos) return "";
  const size_t end = readme.find("```", start + fence.size());
  if (end == std::string::npos) return "";
  return readme.substr(start + fence.size(), end - start - fence.size());
}

// What each print(...) line promises in its comment: the first quoted literal after '#', as
// Python's repr() prints it.
std::vector<std::string> PromisedLines(const std::string& block) {
  static const std::regex promise(R"(^print\(.*#\s*(b?'(?:[^'\\]|\\.)*'))");
  std::vector<std::string> lines;
  std::istringstream in(block);
  std::string line;
  std::smatch m;
  while (std::getline(in, line))
    if (std::regex_search(line, m, promise)) lines.push_back(m[1]);
  return lines;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Runs the script with python3 (up to 20 s) and returns its printed lines.
std::vector<std::string> RunPython(const std::string& script) {
  char path[] = "/tmp/padix_readme_XXXXXX";
  const int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, script.data(), script.size()), static_cast<ssize_t>(script.size()));
  close(fd);
  const std::string command = std::string("timeout 20 python3 ") + path;
  int status = -1;
  const std::vector<std::string> lines = CommandLines(command, &status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << script;
  unlink(path);
  return lines;
}

struct Example {
  const char* marker;      // text of the README just before the block
  std::vector<std::string> args;  // the run the block talks to
  const char* readmeWhere;  // where the README's block connects, replaced by the run's
  const char* announces;    // how the run names where it serves, on standard error
};

const Example EXAMPLES[] = {
    {"With the standard serial module of Python", {"/dev/ptmx", "sim", "elm", "serve"},
     "/dev/pts/7", "Serial device: "},
    {"For example, with Python:", {"/dev/ptmx", "sim", "serve"}, "/dev/pts/7", "Serial device: "},
    {"Android emulator reaches", {"tcp:0", "sim", "elm", "serve"}, "35000", "Listening on "},
};

TEST(ReadmeExamples, PrintWhatTheirCommentsSay) {
  const std::string readme = ReadReadme();
  ASSERT_FALSE(readme.empty());
  for (const Example& example : EXAMPLES) {
    SCOPED_TRACE(example.marker);
    const std::string block = PythonBlockAfter(readme, example.marker);
    ASSERT_NE(block.find(example.readmeWhere), std::string::npos) << block;
    const std::vector<std::string> promised = PromisedLines(block);
    ASSERT_FALSE(promised.empty()) << block;

    HeadlessChild run(example.args);
    std::string where = run.WaitForErrLine(example.announces);
    ASSERT_FALSE(where.empty()) << run.Err();
    // Over TCP the README names only the port.
    if (std::string(example.readmeWhere) == "35000") where = where.substr(where.rfind(':') + 1);
    EXPECT_EQ(RunPython(ReplaceAll(block, example.readmeWhere, where)), promised);
    EXPECT_EQ(run.Quit(), 0);
  }
}

}  // namespace
