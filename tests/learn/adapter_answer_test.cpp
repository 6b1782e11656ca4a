// Reading an adapter's answer lines back into the car's messages, and the user's list of extra
// requests: the two things learning takes from outside.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "learn/adapter_answer.h"
#include "learn/learn.h"
#include "tests/support/scratch_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<EmuLearnMessage> Read(const std::string& text, EmuLearnBus bus) {
  return emu_LearnReadAnswer(text.data(), text.size(), bus);
}

TEST(AdapterAnswer, CanFramesOfSeveralEcusArePutTogetherPerSender) {
  // A VIN from 7E8 over three frames, with a single frame of 7E9 between them; spaces on and off.
  const std::string text =
      "SEARCHING...\r7E8 10 14 49 02 01 31 44 34 \r7E9 06 41 00 98 18 80 01 \r7E82150473030523535\r"
      "7E8 22 42 31 32 33 34 35 36 \r\r";
  const auto m = Read(text, EmuLearnBus::Can11);
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].sender, 0xE9);
  EXPECT_EQ(m[0].bytes, (Bytes{0x41, 0x00, 0x98, 0x18, 0x80, 0x01}));
  EXPECT_EQ(m[1].sender, 0xE8);
  ASSERT_EQ(m[1].bytes.size(), 20u);
  EXPECT_EQ(m[1].bytes[0], 0x49);
  EXPECT_EQ(m[1].bytes[19], 0x36);

  // 29-bit: the sender is the identifier's last byte.
  const auto m29 = Read("18 DA F1 10 04 41 0C 1A F8 00 00 00 \r18DAF118037F0112000000\r", EmuLearnBus::Can29);
  ASSERT_EQ(m29.size(), 2u);
  EXPECT_EQ(m29[0].sender, 0x10);
  EXPECT_EQ(m29[0].bytes, (Bytes{0x41, 0x0C, 0x1A, 0xF8}));
  EXPECT_EQ(m29[1].sender, 0x18);
  EXPECT_EQ(m29[1].bytes, (Bytes{0x7F, 0x01, 0x12}));
}

TEST(AdapterAnswer, CanMessageWithALostFrameIsLeftOutTheOthersTaken) {
  const std::string text = "7E8 10 14 49 02 01 31 44 34 \r7E8 22 42 31 32 33 34 35 36 \r7E9 03 43 01 01 00 00 00 00 \r";
  const auto m = Read(text, EmuLearnBus::Can11);
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].sender, 0xE9);
}

TEST(AdapterAnswer, SerialLinesLoseHeaderAndCheckByteAndAdapterWordsAreNoMessages) {
  const std::string text =
      "BUS INIT: ...OK\r48 6B 10 41 0C 1A F8 E6 \r48 6B 18 41 0C 00 \r48 6B 10 43 01 01 00 00 00 00 6C <DATA ERROR\r"
      "48 6B 10 \rNO DATA\r";
  const auto m = Read(text, EmuLearnBus::Serial);
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].sender, 0x10);
  EXPECT_EQ(m[0].bytes, (Bytes{0x41, 0x0C, 0x1A, 0xF8}));
  EXPECT_EQ(m[1].sender, 0x18);
  EXPECT_EQ(m[1].bytes, (Bytes{0x41, 0x0C}));
}

TEST(AdapterAnswer, LinesAndMessagesAreBounded) {
  // A line one character over the limit is no frame; one at the limit is read.
  std::string atLimit = "48 6B 10 41";
  while (atLimit.size() + 3 <= EMU_LEARN_MAX_LINE - 3) atLimit += " 00";
  atLimit += " 00";
  EXPECT_EQ(Read(atLimit + "\r", EmuLearnBus::Serial).size(), 1u);
  EXPECT_TRUE(Read(atLimit + " 00 00 00 00\r", EmuLearnBus::Serial).empty());
  std::string many;
  for (size_t i = 0; i < EMU_LEARN_MAX_MESSAGES + 10; ++i) many += "7E8 02 41 00 00 00 00 00 00\r";
  EXPECT_EQ(Read(many, EmuLearnBus::Can11).size(), EMU_LEARN_MAX_MESSAGES);
  EXPECT_TRUE(emu_LearnAnswerIsSilence("SEARCHING...\rUNABLE TO CONNECT\r"));
  EXPECT_FALSE(emu_LearnAnswerIsSilence("7E8 02 41 00 \r"));
}

// The list's lines, a setting as its text and a request as its bytes in hex.
struct RequestsFile {
  ScratchDir dir;
  std::string path = dir.path + "/requests.txt";
  int Read(const std::string& text, std::vector<std::string>* out, std::string* error) {
    std::ofstream(path, std::ios::binary) << text;
    std::vector<EmuLearnExtra> extra;
    const int result = emu_LearnReadRequests(path.c_str(), &extra, error);
    out->clear();
    for (const EmuLearnExtra& e : extra) {
      std::string hex;
      for (uint8_t b : e.request) hex += "0123456789ABCDEF"[b >> 4], hex += "0123456789ABCDEF"[b & 15];
      out->push_back(e.command.empty() ? hex : "(" + e.command + ")");
    }
    return result;
  }
};

TEST(LearnRequests, HexLinesWithCommentsAreReadAndAMistakeIsNamedAtItsLine) {
  RequestsFile f;
  std::vector<std::string> out;
  std::string error;
  ASSERT_EQ(f.Read("at st ff # a slow car\n# data identifiers\n22 F1 90\n\n  2201 02 03 04 05 06 07   # eight bytes\n"
                   "ATSH 7E0\n1003\r\natar\n",
                   &out, &error),
            0)
      << error;
  EXPECT_EQ(out, (std::vector<std::string>{"(ATSTFF)", "22F190", "2201020304050607", "(ATSH7E0)", "1003", "(ATAR)"}));

  EXPECT_EQ(f.Read("22F190\n22 01 02 03 04 05 06 07 08\n", &out, &error), -1);
  EXPECT_EQ(error, f.path + ":2: expected a request of 1 to 8 hex bytes");
  EXPECT_EQ(f.Read("22F19\n", &out, &error), -1);
  EXPECT_EQ(error, f.path + ":1: expected a request of 1 to 8 hex bytes");
  // Settings that would change how answers are printed, or the protocol, are no extra's.
  for (const char* setting : {"ATH0", "ATZ", "ATSP3", "ATCAF0", "ATSTXY"}) {
    EXPECT_EQ(f.Read(std::string("22F190\n") + setting + "\n", &out, &error), -1) << setting;
    EXPECT_EQ(error, f.path + ":2: only the adapter's time-out and addressing are set here (ATST, ATAT, ATSH, ATCRA, "
                              "ATAR, ATCP)");
  }
  std::vector<EmuLearnExtra> none;
  EXPECT_EQ(emu_LearnReadRequests((f.dir.path + "/none").c_str(), &none, &error), -1);
  EXPECT_NE(error.find("cannot read the file: No such file or directory"), std::string::npos) << error;
}

TEST(LearnRequests, AtMostTheLimitOfRequests) {
  RequestsFile f;
  std::string text;
  for (size_t i = 0; i < EMU_LEARN_MAX_EXTRA; ++i) text += "22 F1 90\n";
  std::vector<std::string> out;
  std::string error;
  EXPECT_EQ(f.Read(text, &out, &error), 0) << error;
  EXPECT_EQ(out.size(), EMU_LEARN_MAX_EXTRA);
  EXPECT_EQ(f.Read(text + "ATAR\n", &out, &error), -1);
  EXPECT_EQ(error, f.path + ":" + std::to_string(EMU_LEARN_MAX_EXTRA + 1) + ": more than " +
                       std::to_string(EMU_LEARN_MAX_EXTRA) + " lines");
}

}  // namespace
