// Trouble codes: names, storage per ECU and service, the clear answer, negative response texts,
// and the description database checked against the code list it is generated from.
#include "firmware/obd/dtcs.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "firmware/obd/dtc_texts.h"

namespace {

const std::filesystem::path kRoot =
    std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
constexpr const char* kNoText = "No description available";

std::string Name(uint16_t code) {
  char txt[OBD_DTC_TXT_SIZE];
  memset(txt, 'x', sizeof txt);
  OBD_DtcToTxt(txt, code);
  return std::string(txt, strnlen(txt, sizeof txt));
}

uint16_t Code(const std::string& name) {
  static const std::string letters = "PCBU";
  return static_cast<uint16_t>((letters.find(name[0]) << 14) |
                               std::stoul(name.substr(1), nullptr, 16));
}

// code -> description, as the project's code list has them.
std::map<uint16_t, std::string> CodeList() {
  std::map<uint16_t, std::string> codes;
  std::ifstream in(kRoot / "tools/dtc/generic_dtc.tsv");
  std::string line;
  while (std::getline(in, line)) {
    size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    codes[Code(line.substr(0, tab))] = line.substr(tab + 1);
  }
  return codes;
}

class DtcsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OBD_InitEcuAddr();
    OBD_InitDtcs();
  }
  static uint8_t Decode(std::vector<uint8_t> response, uint8_t service) {
    return OBD_DecodeDtcRespData(response.data(), static_cast<uint8_t>(response.size()), service);
  }
  static std::vector<std::string> Stored(uint8_t ecuIdx, uint8_t service) {
    std::vector<std::string> names;
    for (uint8_t n = 0; n < OBD_GetNumDtcs(ecuIdx, service); ++n) {
      names.push_back(Name(OBD_GetDtc(ecuIdx, service, n)));
    }
    return names;
  }
};

TEST_F(DtcsTest, NamesTellLetterFromTheTopBits) {
  const std::pair<uint16_t, const char*> cases[] = {
      {0x0101, "P0101"}, {0x4123, "C0123"}, {0x8ABC, "B0ABC"}, {0xC001, "U0001"},
      {0x3400, "P3400"}, {0xFFFF, "U3FFF"}, {0x0000, "P0000"}, {0x7FFF, "C3FFF"},
  };
  for (const auto& [code, name] : cases) EXPECT_EQ(Name(code), name);
}

TEST_F(DtcsTest, StoresNonZeroCodesPerEcuAndService) {
  ASSERT_EQ(Decode({0x43, 0x02, 0x01, 0x33, 0x00, 0x00, 0x02, 0x20}, 0x03), 1);
  EXPECT_EQ(Stored(0, 0x03), (std::vector<std::string>{"P0133", "P0220"}));

  // Pending and permanent codes of a second ECU; the count byte of the answer is not trusted.
  OBD_SetEcuAddr(0x10);
  OBD_SetEcuAddr(0x18);
  ASSERT_EQ(OBD_SetActiveEcuAddr(0x18), 1);
  ASSERT_EQ(Decode({0x47, 0x09, 0xC1, 0x00}, 0x07), 1);
  ASSERT_EQ(Decode({0x4A, 0x01, 0x81, 0x23, 0x00}, 0x0A), 1);  // a half code is left out
  EXPECT_EQ(Stored(1, 0x07), std::vector<std::string>{"U0100"});
  EXPECT_EQ(Stored(1, 0x0A), std::vector<std::string>{"B0123"});
  EXPECT_EQ(OBD_GetNumDtcs(0, 0x07), 0);
  EXPECT_EQ(OBD_GetNumDtcsBySid(0x03), 2);
  EXPECT_EQ(OBD_GetNumDtcsBySid(0x07), 1);
  EXPECT_EQ(OBD_GetNumDtcsBySid(0x0A), 1);

  // Not an answer to the service: nothing stored.
  EXPECT_EQ(Decode({0x43, 0x01, 0x01, 0x00}, 0x07), 0);
  EXPECT_EQ(Decode({0x7F, 0x03, 0x11}, 0x03), 0);
  EXPECT_EQ(Decode({}, 0x03), 0);
  EXPECT_EQ(OBD_GetNumDtcsBySid(0x07), 1);
  EXPECT_EQ(OBD_GetDtc(1, 0x07, 1), 0);  // beyond the stored codes
  EXPECT_EQ(OBD_GetNumDtcs(OBD_MAX_ECUS, 0x03), 0);
}

TEST_F(DtcsTest, KeepsAtMost16CodesPerEcuAndService) {
  std::vector<uint8_t> answer = {0x43, 17};
  for (int i = 1; i <= 17; ++i) answer.insert(answer.end(), {0x01, static_cast<uint8_t>(i)});
  ASSERT_EQ(Decode(answer, 0x03), 1);
  std::vector<std::string> stored = Stored(0, 0x03);
  ASSERT_EQ(stored.size(), 16u);
  EXPECT_EQ(stored.back(), "P0110");
  Decode({0x43, 0x01, 0x02, 0x00}, 0x03);  // a later answer finds the slot full
  EXPECT_EQ(OBD_GetNumDtcs(0, 0x03), 16);

  OBD_InitDtcs();
  EXPECT_EQ(OBD_GetNumDtcs(0, 0x03), 0);
}

TEST_F(DtcsTest, ClearAnswerGivesPositiveOrTheRefusalCode) {
  struct Case {
    std::vector<uint8_t> answer;
    uint8_t result;
  } cases[] = {
      // clang-format off
      {{0x44},             0x44},
      {{0x7F, 0x04, 0x22}, 0x22},
      {{0x7F, 0x01, 0x12}, 0},
      {{0x7F, 0x04},       0},  // no code
      {{0x41, 0x00},       0},
      {{},                 0},
      // clang-format on
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OBD_DecodeClearDtcRespData(c.answer.data(), static_cast<uint8_t>(c.answer.size())),
              c.result);
  }
}

TEST_F(DtcsTest, NegativeResponseShortTexts) {
  std::map<int, std::string> named = {{0x10, "GR"},    {0x11, "SNS"},     {0x12, "SFNSIF"},
                                      {0x21, "BRR"},   {0x22, "CNCORSE"}, {0x44, "OK"},
                                      {0x78, "RCR-RP"}};
  for (int code = 0; code < 256; ++code) {
    auto it = named.find(code);
    EXPECT_STREQ(OBD_GetErrorCodeShortTxt(static_cast<uint8_t>(code)),
                 it != named.end() ? it->second.c_str() : "INVALID")
        << code;
  }
}

TEST_F(DtcsTest, DescriptionsOfChosenCodes) {
  EXPECT_STREQ(OBD_GetDtcText(Code("P0101")),
               "Mass or Volume Air Flow Sensor \"A\" Circuit Range/Performance");
  EXPECT_STREQ(OBD_GetDtcText(Code("P0C1D")),
               "Electric/Auxiliary Transmission Fluid Pump Control Module Internal Temperature "
               "Sensor Circuit Range/Performance");  // the one longer than 105, kept whole
  // First and last codes of group tables, including the whole P0Axx group.
  for (const char* present :
       {"P0001", "P0A00", "P0AFF", "P0B00", "P0C87", "C0001", "U3000", "U3036"}) {
    EXPECT_STRNE(OBD_GetDtcText(Code(present)), kNoText) << present;
  }
  for (const char* absent :
       {"P0000", "P1234", "P0D00", "P2900", "P0C88", "C0000", "C0100", "B3FFF", "U0600", "U3037"}) {
    EXPECT_STREQ(OBD_GetDtcText(Code(absent)), kNoText) << absent;
  }
}

TEST_F(DtcsTest, EveryListedCodeAndNoOtherHasItsDescription) {
  const std::map<uint16_t, std::string> codes = CodeList();
  ASSERT_EQ(codes.size(), 7215u) << "code list not found under " << kRoot;
  for (uint32_t code = 0; code <= 0xFFFF; ++code) {
    auto it = codes.find(static_cast<uint16_t>(code));
    const char* text = OBD_GetDtcText(static_cast<uint16_t>(code));
    if (it != codes.end()) {
      ASSERT_EQ(text, it->second) << Name(static_cast<uint16_t>(code));
    } else {
      ASSERT_STREQ(text, kNoText) << Name(static_cast<uint16_t>(code));
    }
  }
}

TEST(DtcTextTables, GeneratedFileIsUpToDate) {
  std::string command =
      "python3 '" + (kRoot / "tools/dtc/gen_dtc_texts.py").string() + "' --check 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char chunk[256];
  while (fgets(chunk, sizeof chunk, pipe) != nullptr) output += chunk;
  int status = pclose(pipe);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) GTEST_SKIP() << "python3 not found";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;

  std::ifstream generated(kRoot / "firmware/obd/dtc_texts.cpp");
  std::string first;
  std::getline(generated, first);
  EXPECT_EQ(
      first.rfind("// Generated by tools/dtc/gen_dtc_texts.py from tools/dtc/generic_dtc.tsv", 0),
      0u)
      << first;
}

}  // namespace
