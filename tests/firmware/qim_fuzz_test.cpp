// The module driver's receive parser against 100,000 random answers: random bytes, hex-looking
// frame lines with and without ':', text lines. Whatever comes, the parser reports only at a
// prompt, stays inside its frame buffer (a guard pattern around the driver's state, and
// AddressSanitizer in CI), and after each prompt parses a well-formed answer exactly.
#include <gtest/gtest.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <random>
#include <string>
#include <string_view>

#include "firmware/link/qim.h"
#include "controller/controller.h"

namespace {

constexpr int ANSWERS = 100000;
constexpr uint8_t SENTINEL_KEY_BYTE_1 = 0xC3;
constexpr uint8_t SENTINEL_KEY_BYTE_2 = 0x3C;
constexpr uint8_t TEXT_GUARD = 0xA5;  // frame buffer bytes a text answer must never reach

// Writes beyond the driver's state block itself are caught by AddressSanitizer, under which CI
// runs this test; inside it, guard values mark what a text or a frame must never reach.

const char HEX[] = "0123456789ABCDEFabcdef";

class AnswerMaker {
 public:
  explicit AnswerMaker(uint32_t seed) : rng_(seed) {}

  uint32_t Below(uint32_t n) { return rng_() % n; }

  // One answer up to and including its prompt. Random bytes may carry prompts of their own, so
  // one "answer" is sometimes several.
  std::string Make() {
    std::string a;
    switch (Below(4)) {
      case 0: {  // any bytes at all
        for (uint32_t n = Below(300); n > 0; --n) a += static_cast<char>(Below(256));
        break;
      }
      case 1:  // frame lines, the way an OBD answer looks, but with random lengths and faults
      case 2: {
        if (Below(4) != 0) a += ':';
        if (Below(2) != 0) a += '\r';
        // Up to twice the 16 frames the store holds; most lines fit its 25 characters.
        for (uint32_t lines = Below(33); lines > 0; --lines) {
          for (uint32_t n = Below(4) != 0 ? Below(25) : Below(40); n > 0; --n) {
            uint32_t r = Below(100);
            a += r == 0 ? ' ' : r == 1 ? static_cast<char>(Below(256)) : HEX[Below(sizeof HEX - 1)];
          }
          a += '\r';
        }
        break;
      }
      default: {  // text lines, some starting like the answers that have codes
        static const char* const STARTS[] = {"", "OK", "O", "NO ", "NO", "CAN", "CA", "?", ":"};
        for (uint32_t lines = Below(4); lines > 0; --lines) {
          a += STARTS[Below(9)];
          for (uint32_t n = Below(60); n > 0; --n) a += static_cast<char>(' ' + Below(95));
          if (Below(3) != 0) a += '\r';
        }
        break;
      }
    }
    a += '>';
    return a;
  }

 private:
  std::mt19937 rng_;
};

class QimFuzz : public ::testing::Test {
 protected:
  void SetUp() override {
    pthread_mutex_init(&qimMutex, nullptr);
    tarnic_InitVars();
  }
  void TearDown() override { pthread_mutex_destroy(&qimMutex); }

  // A send as the driver makes it, then the guards: sentinel values in the driver's fields that
  // no answer may change, the text buffer's unused tail, and the bytes around the state block.
  void NewCommand(uint8_t type, uint8_t dataStartIdx) {
    QIM_InitRx(type);
    initialState_ = QIM_ProcessRxData;
    qim.qimKeyByte1 = SENTINEL_KEY_BYTE_1;
    qim.qimKeyByte2 = SENTINEL_KEY_BYTE_2;
    qim.qimDataStartIdx = dataStartIdx;
    type_ = type;
    dataStartIdx_ = dataStartIdx;
    if (type == QIM_EXP_AT) {
      memset(&qim.qimFrameBuf[QIM_TEXT_BUF_SIZE], TEXT_GUARD,
             sizeof qim.qimFrameBuf - QIM_TEXT_BUF_SIZE);
    }
  }

  // Feeds one answer byte by byte. Codes come only at prompts, and the counters stay inside
  // their limits at every byte.
  testing::AssertionResult Feed(std::string_view answer, uint8_t* lastCode) {
    for (size_t i = 0; i < answer.size(); ++i) {
      const uint8_t ch = static_cast<uint8_t>(answer[i]);
      const uint8_t code = QIM_ProcessRxData(ch);
      if (ch != QIM_PROMPT && code != QIM_RESP_NONE)
        return testing::AssertionFailure() << "code " << int(code) << " at byte " << i;
      if (ch == QIM_PROMPT && (code > QIM_RESP_REJECTED ||
                               (type_ == QIM_EXP_AT && code == QIM_RESP_OBD_DATA)))
        return testing::AssertionFailure() << "code " << int(code) << " at the prompt " << i;
      if (qim.qimNoOfChars > QIM_TEXT_BUF_SIZE || qim.qimFrameNo > QIM_MAX_FRAMES)
        return testing::AssertionFailure()
               << "counters " << int(qim.qimNoOfChars) << "/" << int(qim.qimFrameNo) << " at " << i;
      *lastCode = code;
    }
    return testing::AssertionSuccess();
  }

  testing::AssertionResult GuardsIntact() {
    if (qim.qimExpRespType != type_ || qim.qimKeyByte1 != SENTINEL_KEY_BYTE_1 ||
        qim.qimKeyByte2 != SENTINEL_KEY_BYTE_2 || qim.qimDataStartIdx != dataStartIdx_)
      return testing::AssertionFailure() << "a field after the frame buffer was written";
    if (type_ == QIM_EXP_AT) {
      for (size_t i = QIM_TEXT_BUF_SIZE; i < sizeof qim.qimFrameBuf; ++i)
        if (qim.qimFrameBuf[i] != TEXT_GUARD)
          return testing::AssertionFailure() << "text written at frame buffer byte " << i;
    }
    return testing::AssertionSuccess();
  }

  testing::AssertionResult BackInInitialState() {
    if (QIM_ProcessRxData != initialState_ || qim.qimNoOfChars != 0 || qim.qimFrameNo != 0 ||
        qim.qimNoOfFrames > QIM_MAX_FRAMES)
      return testing::AssertionFailure() << "not back in the initial state after the prompt";
    return testing::AssertionSuccess();
  }

  // A well-formed answer right after the random one is parsed as by a fresh parser.
  testing::AssertionResult ParsesWellFormedAnswer(bool obd) {
    uint8_t code = 0;
    if (obd) {
      static const uint8_t FRAME[QIM_FRAME_SIZE] = {0x48, 0x6B, 0x10, 0x41, 0x00, 0xBE,
                                                    0x3E, 0xB8, 0x11, 0xC9, 0,    0};
      testing::AssertionResult fed = Feed(":\r0A01\r486B104100BE3EB811C9\r\r>", &code);
      if (!fed) return fed;
      if (code != QIM_RESP_OBD_DATA || qim.qimNoOfFrames != 1 ||
          memcmp(qim.qimFrameBuf, FRAME, sizeof FRAME) != 0)
        return testing::AssertionFailure() << "OBD answer parsed as code " << int(code) << " with "
                                           << int(qim.qimNoOfFrames) << " frames";
    } else {
      testing::AssertionResult fed = Feed("NO DATA\r>", &code);
      if (!fed) return fed;
      if (code != QIM_RESP_NO || strcmp(reinterpret_cast<const char*>(qim.qimFrameBuf), "NO DATA"))
        return testing::AssertionFailure() << "text answer parsed as code " << int(code);
    }
    return BackInInitialState();
  }

  QIM_RX_FCT initialState_ = nullptr;
  uint8_t type_ = 0;
  uint8_t dataStartIdx_ = 0;
};

std::string Printable(std::string_view bytes) {
  std::string s;
  char hex[8];
  for (unsigned char c : bytes) {
    if (c >= ' ' && c < 127 && c != '\\') {
      s += static_cast<char>(c);
    } else {
      snprintf(hex, sizeof hex, "\\x%02X", c);
      s += hex;
    }
  }
  return s;
}

TEST_F(QimFuzz, RandomAnswersStayInTheFrameBufferAndEndInTheInitialState) {
  AnswerMaker maker(20240611);
  long bytesFed = 0;
  for (int n = 0; n < ANSWERS; ++n) {
    // Now and then a new command: which answer type is expected, and the header length the
    // frame count depends on.
    if (n == 0 || maker.Below(3) == 0) {
      NewCommand(maker.Below(2) != 0 ? QIM_EXP_OBD : QIM_EXP_AT,
                 maker.Below(2) != 0 ? 3 : 4);
    }
    const std::string answer = maker.Make();
    bytesFed += static_cast<long>(answer.size());
    uint8_t code = 0;
    testing::AssertionResult ok = Feed(answer, &code);
    if (ok) ok = BackInInitialState();
    if (ok) ok = GuardsIntact();
    if (ok) ok = ParsesWellFormedAnswer(type_ == QIM_EXP_OBD && maker.Below(2) != 0);
    if (ok) ok = GuardsIntact();
    if (!ok) {
      ADD_FAILURE() << "answer " << n << " (type " << int(type_) << ", data start "
                    << int(dataStartIdx_) << "): " << ok.message() << "\n"
                    << Printable(answer);
      return;
    }
  }
  RecordProperty("bytes_fed", static_cast<int>(bytesFed));
}

}  // namespace
