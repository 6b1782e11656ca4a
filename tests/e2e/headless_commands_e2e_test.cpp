// padix-headless's commands as a script sends them: a line is one command or none, whatever its
// length; a word the front end cannot take whole, or a value it cannot read, refuses the line
// with a message, and reading goes on with the next line. Each command answers on standard
// output, "ok COMMAND" or "error COMMAND: MESSAGE", and a run with a failure in it ends with 1.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <sstream>
#include <vector>

#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "tests/support/process.h"
#include "window/headless_window.h"

namespace {

struct ScratchDir {
  ScratchDir() {
    char name[] = "/tmp/padix-commands-XXXXXX";
    if (mkdtemp(name) != nullptr) path = name;
  }
  ~ScratchDir() {
    if (!path.empty()) (void)!system(("rm -rf '" + path + "'").c_str());
  }
  std::set<std::string> Files() const {
    std::set<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
      while (const dirent* e = readdir(d))
        if (e->d_name[0] != '.') names.insert(e->d_name);
      closedir(d);
    }
    return names;
  }
  std::string path;
};

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

const std::string OVER_LONG = "command line longer than " + std::to_string(EMU_COMMAND_LINE_MAX) +
                              " bytes: ignored\n";

// The tail of a line over the limit is not a command of its own: a "save" placed where a reader
// of fixed pieces would cut the line writes nothing, the "set" before it changes nothing, and the
// next line runs as typed.
TEST(HeadlessCommands, ALineOverTheLimitIsRefusedWholeAndReadingGoesOn) {
  ScratchDir dir;
  ASSERT_FALSE(dir.path.empty());
  // Blanks up to the cut: a reader that cuts lines finds nothing to complain about in them.
  const std::string head = "set ecu.1.name Overlong";
  for (size_t piece : {511u, 4095u}) {  // fgets with 512 bytes; a reader of 4 KiB
    SCOPED_TRACE(piece);
    const size_t cut = (EMU_COMMAND_LINE_MAX / piece + 1) * piece;
    const std::string tail = "save " + dir.path + "/tail.toml";
    const std::string line = head + std::string(cut - head.size(), ' ') + tail;
    ASSERT_GT(line.size(), EMU_COMMAND_LINE_MAX);
    ProcessResult r = RunHeadless({}, line + "\nsave " + dir.path + "/next.toml\nquit\n");
    EXPECT_EQ(r.status, 1) << r.err;  // the refused line failed
    EXPECT_EQ(r.err, OVER_LONG);
    EXPECT_EQ(dir.Files(), std::set<std::string>{"next.toml"});
    EXPECT_EQ(ReadWhole(dir.path + "/next.toml").find("Overlong"), std::string::npos);
    unlink((dir.path + "/next.toml").c_str());
  }
}

// The limit holds the longest value "set" takes, a request/answer table on one line: a line of
// exactly the limit runs, one byte more is refused (also as the input's last line, without its
// newline).
TEST(HeadlessCommands, ALineOfTheLimitRunsAndOneByteMoreDoesNot) {
  ScratchDir dir;
  ASSERT_FALSE(dir.path.empty());
  std::string table = "set ecu.1.answers [";
  // Kept to a tenth of the limit, the rest blanks: a reader that cuts lines complains about each
  // piece, and its complaints must fit the pipe this test reads only at the end.
  for (int i = 0; i < 60; ++i) {
    char request[16];
    snprintf(request, sizeof request, "22 F1 %02X", i);
    std::string answer = "62 F1";
    for (int b = 0; b < 60; ++b) answer += " 5A";
    table += std::string(i == 0 ? "" : ", ") + "{ request = \"" + request + "\", answer = \"" + answer + "\" }";
  }
  ASSERT_LT(table.size() + 1, EMU_COMMAND_LINE_MAX);
  table += std::string(EMU_COMMAND_LINE_MAX - table.size() - 1, ' ') + "]";
  ASSERT_EQ(table.size(), EMU_COMMAND_LINE_MAX);
  const std::string over = " " + table;
  const std::string saveBefore = "save " + dir.path + "/before.toml\n";
  const std::string saveAfter = "save " + dir.path + "/after.toml\n";

  ProcessResult r = RunHeadless({}, over + "\n" + saveBefore + table + "\n" + saveAfter + over);
  EXPECT_EQ(r.status, 1) << r.err;  // the refused lines failed
  EXPECT_EQ(r.err, OVER_LONG + OVER_LONG);
  EXPECT_EQ(ReadWhole(dir.path + "/before.toml").find("22 F1 00"), std::string::npos);
  const std::string saved = ReadWhole(dir.path + "/after.toml");
  EXPECT_NE(saved.find("{ request = \"22 F1 00\", answer = \"62 F1 5A"), std::string::npos) << saved.substr(0, 2000);
  EXPECT_NE(saved.find("{ request = \"22 F1 3B\", answer = \"62 F1 5A"), std::string::npos);
}

// A word is taken whole or the line is refused: "shot" never writes to a file named by the first
// part of what was typed, nor to the first of several words.
TEST(HeadlessCommands, AWordTooLongOrAValueMisreadRefusesTheLine) {
  ScratchDir dir;
  ASSERT_FALSE(dir.path.empty());
  const std::string overLongWord = dir.path + "/" + std::string(EMU_COMMAND_WORD_MAX, 'w') + ".pbm";
  const std::string longName = dir.path + "/" + std::string(300, 'n') + ".pbm";  // over NAME_MAX
  const std::string input = "shot " + overLongWord + "\n" +
                            "shot " + longName + "\n" +
                            "shot " + dir.path + "/first.pbm second.pbm\n" +
                            "quitquitquitquitquit\n" +
                            "wait 99999999999999999999\n" +
                            "wait 10ms\n" +
                            "hold Up\n" +
                            "key Upward\n" +
                            "key\n" +
                            "text now\n" +
                            "shot " + dir.path + "/last.pbm\n" +
                            "quit\n";
  ProcessResult r = RunHeadless({}, input);
  EXPECT_EQ(r.status, 1) << r.err;  // the refused lines failed
  EXPECT_EQ(dir.Files(), std::set<std::string>{"last.pbm"});
  const std::string expected =
      "shot: word longer than " + std::to_string(EMU_COMMAND_WORD_MAX) + " bytes: ignored\n" +
      "shot: cannot write " + longName + "\n" +
      "shot: too many words\n" +
      "unknown command: quitquitquitqui...\n" +
      "wait: expected milliseconds, 0 to 86400000\n" +
      "wait: expected milliseconds, 0 to 86400000\n" +
      "hold: expected milliseconds, 0 to 86400000\n" +
      "key: unknown key Upward\n" +
      "key: no key given\n" +
      "text: too many words\n";
  EXPECT_EQ(r.err, expected);
  // The answers only (ten errors, the last shot, quit): "text now" printed no display.
  EXPECT_EQ(Count(r.out, "\n"), 12u) << r.out;
  EXPECT_EQ(Count(ReadWhole(dir.path + "/last.pbm"), "\n"), 66u);  // P1, the size, 64 rows
}

// Each command and the one line it answers with, as a script matches it: the command as typed
// (blanks round it dropped) after "ok", or after "error" with the message standard error got.
struct Answered {
  std::string command, answer;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(HeadlessCommands, EachCommandAnswersOkOrErrorOnStandardOutput) {
  ScratchDir dir;
  ASSERT_FALSE(dir.path.empty());
  const std::string car = dir.path + "/car.toml";
  const std::vector<Answered> table = {
      {"wait 300", "ok wait 300"},
      {"key Return", "ok key Return"},
      {"  key Escape \r", "ok key Escape"},
      {"hold Up 100", "ok hold Up 100"},
      {"set ecu.1.rpm 2500", "ok set ecu.1.rpm 2500"},
      {"save " + car, "ok save " + car},
      {"load " + car, "ok load " + car},
      {"shot " + dir.path + "/x.pbm", "ok shot " + dir.path + "/x.pbm"},
      {"sync", "ok sync"},
      {"save /nonexistent/x.toml",
       "error save /nonexistent/x.toml: cannot write /nonexistent/x.toml: No such file or directory"},
      {"load /nonexistent/car.toml",
       "error load /nonexistent/car.toml: /nonexistent/car.toml: cannot read the file: No such file or directory"},
      {"set ecu.1.rpm", "error set ecu.1.rpm: set ecu.1.rpm: no value given"},
      {"shot /nonexistent/x.png", "error shot /nonexistent/x.png: shot: cannot write /nonexistent/x.png"},
      {"frob 1 2", "error frob 1 2: unknown command: frob"},
      {"key Upward", "error key Upward: key: unknown key Upward"},
      {"hold Up 1s", "error hold Up 1s: hold: expected milliseconds, 0 to 86400000"},
      {"wait", "error wait: wait: expected milliseconds, 0 to 86400000"},
      {"sync now", "error sync now: sync: too many words"},
      {"", ""},  // an empty line is no command, and gets no answer
      {"quit", "ok quit"},
  };
  std::string input, expected;
  for (const Answered& a : table) {
    input += a.command + "\n";
    if (!a.answer.empty()) expected += a.answer + "\n";
  }
  ProcessResult r = RunHeadless({}, input);
  EXPECT_EQ(r.out, expected) << r.err;
  EXPECT_EQ(r.status, 1) << "a run with a failed command ends with 1";
  // Standard error keeps its messages, one for each failure.
  EXPECT_EQ(Count(r.err, "\n"), 9u) << r.err;
  EXPECT_NE(ReadWhole(car).find("2500"), std::string::npos);
}

// "text" prints the display's 64 rows and then its answer; a run in which nothing failed ends with
// 0, also when it ends with its input.
TEST(HeadlessCommands, TextAnswersAfterItsRowsAndARunWithoutFailuresEndsWithZero) {
  ProcessResult r = RunHeadless({}, "wait 100\ntext\nsync\n");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 67u) << r.out;
  EXPECT_EQ(lines[0], "ok wait 100");
  for (size_t y = 1; y <= 64; ++y) {
    EXPECT_EQ(lines[y].size(), 132u);
    EXPECT_EQ(lines[y].find_first_not_of("#."), std::string::npos) << lines[y];
  }
  EXPECT_EQ(lines[65], "ok text");
  EXPECT_EQ(lines[66], "ok sync");
}

// A line too long to run has nothing left to name it by.
TEST(HeadlessCommands, ALineOverTheLimitAnswersAnError) {
  const std::string over(EMU_COMMAND_LINE_MAX + 1, 'x');
  ProcessResult r = RunHeadless({}, over + "\nquit\n");
  EXPECT_EQ(r.out, "error -: command line longer than " + std::to_string(EMU_COMMAND_LINE_MAX) +
                       " bytes: ignored\nok quit\n");
  EXPECT_EQ(r.status, 1);
}

}  // namespace
