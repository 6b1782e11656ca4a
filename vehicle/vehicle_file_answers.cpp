// Service 06 results and the request/answer table in vehicle files.
#include "vehicle/vehicle_file_answers.h"

#include <stdio.h>
#include <string.h>

#include "bus/hex.h"
#include "bus/negative_codes.h"

namespace {

constexpr size_t TEST_RESULT_BYTES = 9;  // MID TID UASID and three values of two bytes

bool emu_Fail(EmuFileFault* fault, const toml::node& node, const std::string& what) {
  fault->node = &node;
  fault->what = what;
  return false;
}

bool emu_HexOf(const toml::node& node, const char* what, size_t max, bool wildcardAllowed, uint8_t* bytes, size_t* n,
               bool* wildcard, EmuFileFault* fault) {
  if (!node.is_string()) return emu_Fail(fault, node, std::string("expected ") + what + " as hex bytes in quotes");
  std::string problem;
  if (!emu_ParseHexRequest(node.as_string()->get(), wildcardAllowed, bytes, max, n, wildcard, &problem))
    return emu_Fail(fault, node, problem);
  return true;
}

bool emu_ReadAnswer(const toml::table& t, const toml::node& node, EmuVehicle& v, uint8_t ecuIdx, EmuFileFault* fault) {
  EmuTableEntry e{};
  e.ecuIdx = ecuIdx;
  uint8_t answer[EMU_TABLE_MAX_MESSAGE], then[EMU_TABLE_MAX_MESSAGE];
  EmuTableAnswerBytes a{answer, 0, 0}, th{then, 0, 0};
  bool haveRequest = false, haveAnswer = false, haveThen = false;
  for (auto&& [key, value] : t) {
    const std::string k(key.str());
    size_t n = 0;
    bool wildcard = false;
    if (k == "request") {
      if (!emu_HexOf(value, "the request", EMU_TABLE_MAX_REQUEST, true, e.request, &n, &wildcard, fault)) return false;
      if (n == 0 && !wildcard) return emu_Fail(fault, value, "an empty request");
      e.requestLength = static_cast<uint8_t>(n);
      e.wildcard = wildcard ? 1 : 0;
      haveRequest = true;
    } else if (k == "answer" || k == "then") {
      EmuTableAnswerBytes& m = k == "answer" ? a : th;
      if (!emu_HexOf(value, "the answer", EMU_TABLE_MAX_MESSAGE, false, k == "answer" ? answer : then, &n, &wildcard,
                     fault))
        return false;
      if (n == 0) return emu_Fail(fault, value, "an empty answer");
      m.length = static_cast<uint8_t>(n);
      (k == "answer" ? haveAnswer : haveThen) = true;
    } else if (k == "negative") {
      uint8_t code = 0;
      if (!emu_HexOf(value, "the negative response code", 1, false, &code, &n, &wildcard, fault)) return false;
      if (n != 1 || code == 0) return emu_Fail(fault, value, "expected a negative response code from 01 to FF");
      a.negative = code;
    } else if (k == "delay") {
      const auto ms = value.value_exact<int64_t>();
      if (!ms || *ms < 0 || *ms > 60000) return emu_Fail(fault, value, "expected a delay from 0 to 60000 ms");
      e.delayMs = static_cast<uint16_t>(*ms);
    } else {
      return emu_Fail(fault, value, "unknown key '" + k + "' (request, answer, negative, delay, then)");
    }
  }
  if (!haveRequest) return emu_Fail(fault, node, "an answer needs its request");
  if (haveAnswer == (a.negative != 0)) return emu_Fail(fault, node, "give either answer or negative");
  if (haveThen && a.negative != EMU_RESPONSE_PENDING) return emu_Fail(fault, node, "then follows only negative = \"78\" (response pending)");
  if (a.negative != 0) a.length = 0;
  const char* full = nullptr;
  if (!emu_TableAdd(v, e, a, th, &full)) return emu_Fail(fault, node, full);
  return true;
}

}  // namespace

bool emu_ParseHexRequest(const std::string& text, bool wildcardAllowed, uint8_t* bytes, size_t max, size_t* n,
                         bool* wildcard, std::string* what) {
  const char* const BLANKS = " \t";
  const EmuHexRead read = emu_ReadHexBytes(text.data(), text.size(), {BLANKS, true}, bytes, max);
  *n = read.n;
  *wildcard = false;
  switch (read.error) {
    case EmuHexError::None:
      return true;
    case EmuHexError::NotHex: {
      const char c = text[read.at];
      // A '*' after whole bytes, with nothing but blanks behind it.
      if (c == '*' && wildcardAllowed && !read.loneDigit && text.find_first_not_of(BLANKS, read.at + 1) == std::string::npos) {
        *wildcard = true;
        return true;
      }
      *what = "not a hex byte: '" + std::string(1, c) + "'" + (wildcardAllowed ? " ('*' only at the end)" : "");
      return false;
    }
    case EmuHexError::TooMany:
      *what = "more than " + std::to_string(max) + " bytes";
      return false;
    case EmuHexError::OddDigits:
      break;
  }
  *what = "an odd number of hex digits";
  return false;
}

bool emu_ReadTestResults(const toml::node& node, EmuEcu& ecu, EmuFileFault* fault) {
  const toml::array* list = node.as_array();
  if (list == nullptr) return emu_Fail(fault, node, "expected a list of results such as [\"01 01 0A 0E66 0CCD 1000\"]");
  if (list->size() > EMU_MAX_TEST_RESULTS)
    return emu_Fail(fault, node, "more than " + std::to_string(EMU_MAX_TEST_RESULTS) + " results");
  uint8_t count = 0;
  EmuTestResult results[EMU_MAX_TEST_RESULTS];
  for (const toml::node& item : *list) {
    uint8_t b[TEST_RESULT_BYTES];
    size_t n = 0;
    bool wildcard = false;
    if (!emu_HexOf(item, "a result (MID TID UASID value min max)", TEST_RESULT_BYTES, false, b, &n, &wildcard, fault))
      return false;
    if (n != TEST_RESULT_BYTES)
      return emu_Fail(fault, item, "expected 9 bytes: MID, TID, UASID, then value, min and max of two bytes each");
    if (b[0] % 0x20 == 0) return emu_Fail(fault, item, "MID " + emu_HexText(b, 1) + " is a range of MIDs, not a monitor");
    uint8_t sameMid = 0;
    for (uint8_t i = 0; i < count; ++i) sameMid = static_cast<uint8_t>(sameMid + (results[i].mid == b[0]));
    if (sameMid == EMU_MAX_TESTS_PER_MID)
      return emu_Fail(fault, item, "more than " + std::to_string(EMU_MAX_TESTS_PER_MID) + " results for MID " + emu_HexText(b, 1));
    results[count++] = {b[0], b[1], b[2], static_cast<uint16_t>(b[3] << 8 | b[4]), static_cast<uint16_t>(b[5] << 8 | b[6]),
                        static_cast<uint16_t>(b[7] << 8 | b[8])};
  }
  ecu.noOfTestResults = count;
  memcpy(ecu.testResult, results, count * sizeof results[0]);
  return true;
}

bool emu_ReadAnswers(const toml::node& node, EmuVehicle& v, uint8_t ecuIdx, EmuFileFault* fault) {
  const toml::array* list = node.as_array();
  if (list == nullptr) return emu_Fail(fault, node, "expected a list of { request = \"..\", answer = \"..\" }");
  emu_TablePack(v, ecuIdx);
  for (const toml::node& item : *list) {
    const toml::table* t = item.as_table();
    if (t == nullptr) return emu_Fail(fault, item, "expected { request = \"..\", answer = \"..\" }");
    if (!emu_ReadAnswer(*t, item, v, ecuIdx, fault)) return false;
  }
  return true;
}

void emu_WriteTestResults(std::ostream& out, const EmuEcu& ecu) {
  out << "tests = [";
  for (uint8_t i = 0; i < ecu.noOfTestResults && i < EMU_MAX_TEST_RESULTS; ++i) {
    const EmuTestResult& r = ecu.testResult[i];
    char line[48];
    snprintf(line, sizeof line, "\n  \"%02X %02X %02X %04X %04X %04X\",", r.mid, r.tid, r.uasid, r.value, r.min, r.max);
    out << line;
  }
  out << (ecu.noOfTestResults != 0 ? "\n]\n" : "]\n");
}

void emu_WriteAnswers(std::ostream& out, const EmuVehicle& v, uint8_t ecuIdx) {
  const EmuAnswerTable& t = v.table;
  bool any = false;
  for (uint16_t i = 0; i < t.noOfEntries && i < EMU_MAX_TABLE_ENTRIES; ++i) {
    const EmuTableEntry& e = t.entry[i];
    if (e.ecuIdx != ecuIdx) continue;
    out << (any ? "" : "answers = [") << "\n  { request = \"" << emu_HexText(e.request, e.requestLength)
        << (e.wildcard != 0 ? (e.requestLength != 0 ? " *" : "*") : "") << "\"";
    if (e.answer.negative != 0) {
      out << ", negative = \"" << emu_HexText(&e.answer.negative, 1) << "\"";
    } else {
      out << ", answer = \"" << emu_HexText(t.pool + e.answer.at, e.answer.length) << "\"";
    }
    if (e.delayMs != 0) out << ", delay = " << e.delayMs;
    if (e.then.length != 0) out << ", then = \"" << emu_HexText(t.pool + e.then.at, e.then.length) << "\"";
    out << " },";
    any = true;
  }
  if (any) out << "\n]\n";
}
