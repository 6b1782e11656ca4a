// Capture to table: the requests and answers of a session against a real adapter and car, taken
// from a traffic log (log=FILE: "MS tester|module BYTES", <0D>-style escapes) or from a terminal
// transcript (a line ">REQUEST" as the terminal shows the prompt and what was typed, then the
// adapter's answer lines), into the running vehicle's request/answer tables. A serial CAN
// adapter's log has frames instead ("tester t7E0802090200..." and "module t7E810144902..."): the
// tester's frames are put together into requests, the ECUs' into answers, both by ISO 15765-2.
// With headers on (ATH1) each answer goes to the ECU that sent it: 11-bit CAN by its identifier
// (7E8: the ECU whose CAN identifier that is), 29-bit CAN and J1850 / K-line by the sender's
// address; CAN frames are put together again (single, first and consecutive frames). With headers
// off every answer goes to ECU 1, and the lines of one answer are one message (as J1850 and the
// K-line send long answers), or the frames of an automatically formatted CAN message ("014",
// "0: ..."). A 7F xx 78 followed by more becomes a response-pending entry with its "then" answer.
#include "vehicle/capture_import.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bus/hex.h"
#include "bus/iso_tp.h"
#include "bus/negative_codes.h"
#include "vehicle/file_reader.h"
#include "vehicle/vehicle.h"

namespace {

struct Exchange {
  std::string request;
  std::vector<std::string> lines;
  uint32_t lineNo;  // where the request stands in the file
  bool frames = false;  // from a serial CAN adapter's log: the lines are CAN frames with headers
};

std::string emu_Compact(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != ' ' && c != '\t') out += static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return out;
}

bool emu_AllHex(const std::string& s) {
  for (char c : s)
    if (emu_HexDigit(c) < 0) return false;
  return !s.empty();
}

// Pairs of hex digits (checked by the caller) as bytes.
std::vector<uint8_t> emu_Bytes(const std::string& hex) {
  std::vector<uint8_t> out(hex.size() / 2);
  out.resize(emu_ReadHexBytes(hex.data(), hex.size() / 2 * 2, {"", false}, out.data(), out.size()).n);
  return out;
}

// "<0D>" back to its byte.
std::string emu_Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint8_t byte;
    if (text[i] == '<' && i + 3 < text.size() && text[i + 3] == '>' &&
        emu_ReadHexBytes(text.data() + i + 1, 2, {"", false}, &byte, 1).error == EmuHexError::None) {
      out += static_cast<char>(byte);
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

void emu_SplitInto(const std::string& text, std::vector<std::string>* lines) {
  std::string line;
  for (char c : text) {
    if (c == '\r' || c == '\n' || c == '>') {
      if (!line.empty()) lines->push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines->push_back(line);
}

// A CAN frame as a serial CAN adapter's log has it: "t7E8804410C0110000000" (11 bits) or
// "T18DAF110806410C..." (29 bits), the length digit, the data, maybe a 4-digit time stamp.
struct LoggedFrame {
  uint32_t id;
  bool extended;
  std::vector<uint8_t> data;
};

bool emu_ReadLoggedFrame(const std::string& text, LoggedFrame* f) {
  if (text.empty() || (text[0] != 't' && text[0] != 'T')) return false;
  f->extended = text[0] == 'T';
  const size_t idDigits = f->extended ? 8 : 3;
  if (text.size() < 2 + idDigits || !emu_AllHex(text.substr(1, idDigits + 1))) return false;
  (void)emu_ReadHexNumber(text.c_str() + 1, idDigits, &f->id);
  const int dlc = emu_HexDigit(text[1 + idDigits]);
  const size_t dataDigits = 2 * static_cast<size_t>(dlc);
  const size_t rest = text.size() - 2 - idDigits;
  if (dlc > 8 || (rest != dataDigits && rest != dataDigits + 4) || (rest != 0 && !emu_AllHex(text.substr(2 + idDigits))))
    return false;
  f->data = emu_Bytes(text.substr(2 + idDigits, dataDigits));
  return true;
}

constexpr uint8_t PCI_FLOW_CONTROL = 3;

// The tester's frames put together into requests, one receiver per identifier it sends to.
struct FrameRequests {
  std::map<uint32_t, std::unique_ptr<EmuIsoTpReceiver>> receivers;

  // The request the frame completes, else empty.
  std::vector<uint8_t> Take(const LoggedFrame& f) {
    if (f.data.empty() || (f.data[0] >> 4) == PCI_FLOW_CONTROL) return {};
    std::unique_ptr<EmuIsoTpReceiver>& r = receivers[f.id | (f.extended ? 0x80000000u : 0)];
    if (r == nullptr) r = std::make_unique<EmuIsoTpReceiver>();
    if (emu_IsoTpReceive(r.get(), f.data.data(), f.data.size()) != EmuIsoTpResult::Complete) return {};
    return std::vector<uint8_t>(r->message, r->message + r->length);
  }
};

// A frame an ECU sent, as an answer line with headers: "7E8" and the data on 11 bits, the whole
// 29-bit identifier and 8 data bytes (filled with 00) on 29. Its flow control is no answer, and
// frames from other identifiers (an ECU's periodic ones) answer nothing.
bool emu_FrameAnswerLine(const LoggedFrame& f, std::string* line) {
  if (f.data.empty() || (f.data[0] >> 4) == PCI_FLOW_CONTROL) return false;
  if (f.extended ? (f.id & 0xFFFFFF00u) != 0x18DAF100u : f.id < 0x700u) return false;
  char id[16];
  snprintf(id, sizeof id, f.extended ? "%08X" : "%03X", static_cast<unsigned>(f.id));
  std::vector<uint8_t> data = f.data;
  if (f.extended) data.resize(8, 0x00);
  *line = id + emu_HexText(data.data(), data.size());
  return true;
}

// A traffic log's entries, or a transcript's lines, as requests and their answer lines.
std::vector<Exchange> emu_ReadExchanges(std::istream& in) {
  std::vector<Exchange> out;
  FrameRequests frameRequests;
  std::string line;
  for (uint32_t lineNo = 1; std::getline(in, line); ++lineNo) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    char sender[8] = {0};
    double ms = 0;
    int at = 0;
    if (sscanf(line.c_str(), " %lf %7s %n", &ms, sender, &at) == 2 && at > 0 &&
        (strcmp(sender, "tester") == 0 || strcmp(sender, "module") == 0)) {
      const std::string bytes = emu_Unescape(line.substr(static_cast<size_t>(at)));
      std::vector<std::string> parts;
      emu_SplitInto(bytes, &parts);
      for (const std::string& p : parts) {
        LoggedFrame f;
        std::string answer;
        if (!emu_ReadLoggedFrame(p, &f)) {
          if (sender[0] == 't') {
            out.push_back({p, {}, lineNo});
          } else if (!out.empty()) {
            out.back().lines.push_back(p);
          }
        } else if (sender[0] == 't') {
          const std::vector<uint8_t> request = frameRequests.Take(f);
          if (!request.empty()) out.push_back({emu_HexText(request.data(), request.size()), {}, lineNo, true});
        } else if (!out.empty() && out.back().frames && emu_FrameAnswerLine(f, &answer)) {
          out.back().lines.push_back(answer);
        }
      }
    } else if (line[0] == '>') {
      out.push_back({line.substr(1), {}, lineNo});
    } else if (!out.empty()) {
      out.back().lines.push_back(line);
    }
  }
  // The echo of the request, when echo was on, is no answer.
  for (Exchange& e : out) {
    if (!e.lines.empty() && emu_Compact(e.lines[0]) == emu_Compact(e.request)) e.lines.erase(e.lines.begin());
  }
  return out;
}

// Who sent a message: the bus kind and the sender's identifier or address.
struct Source {
  int kind;  // 0 headers off, 1 CAN 11-bit, 2 CAN 29-bit, 3 J1850 / K-line
  uint8_t address;
  bool operator<(const Source& o) const { return kind != o.kind ? kind < o.kind : address < o.address; }
};

struct Assembly {
  std::vector<std::vector<uint8_t>> messages;
  // Headers off: the automatically formatted CAN message being put together.
  std::vector<uint8_t> partial;
  size_t expected = 0;
  // Headers on: the sender's CAN frames.
  EmuIsoTpReceiver frames;
};

// One CAN frame (PCI byte first) added to its sender's messages. A message whose frames came out
// of turn (one lost in the capture) is left out rather than taken with a hole in it.
void emu_AddCanFrame(Assembly& a, const std::vector<uint8_t>& frame) {
  if (emu_IsoTpReceive(&a.frames, frame.data(), frame.size()) == EmuIsoTpResult::Complete)
    a.messages.emplace_back(a.frames.message, a.frames.message + a.frames.length);
}

// An answer's lines as messages per sender.
// With the CAN frames' length digit shown (ATD1) it stands after the identifier: 7E8 8 06 ...
std::map<Source, Assembly> emu_Messages(const std::vector<std::string>& lines, bool headers, bool dlc) {
  std::map<Source, Assembly> out;
  Assembly* offMulti = nullptr;  // headers off: an automatically formatted CAN message
  for (const std::string& raw : lines) {
    std::string s = emu_Compact(raw);
    if (headers && dlc && (s.size() == 3 + 1 + 16 || s.size() == 8 + 1 + 16)) s.erase(s.size() - 17, 1);
    const size_t colon = s.find(':');
    if (!headers && colon != std::string::npos && colon > 0 && offMulti != nullptr) {
      const std::string data = s.substr(colon + 1);
      if (!emu_AllHex(s.substr(0, colon)) || !emu_AllHex(data) || data.size() % 2 != 0) continue;
      const std::vector<uint8_t> piece = emu_Bytes(data);
      offMulti->partial.insert(offMulti->partial.end(), piece.begin(), piece.end());
      if (offMulti->partial.size() >= offMulti->expected) {
        offMulti->partial.resize(offMulti->expected);
        offMulti->messages.push_back(offMulti->partial);
        offMulti->expected = 0;
        offMulti = nullptr;
      }
      continue;
    }
    if (!emu_AllHex(s)) continue;  // SEARCHING..., NO DATA, OK and the like
    if (!headers) {
      Assembly& a = out[{0, 0}];
      if (s.size() == 3) {  // the length line of a formatted CAN message
        uint32_t length;
        (void)emu_ReadHexNumber(s.c_str(), 3, &length);
        a.expected = length;
        a.partial.clear();
        offMulti = a.expected != 0 ? &a : nullptr;
      } else if (s.size() % 2 == 0) {
        a.messages.push_back(emu_Bytes(s));
      }
      continue;
    }
    if (s.size() % 2 == 1 && s.size() >= 5) {  // 7E8 and the frame
      uint32_t id;
      (void)emu_ReadHexNumber(s.c_str(), 3, &id);
      emu_AddCanFrame(out[{1, static_cast<uint8_t>(id)}], emu_Bytes(s.substr(3)));
    } else if (s.size() == 24 && s.compare(0, 4, "18DA") == 0) {
      const std::vector<uint8_t> b = emu_Bytes(s);
      emu_AddCanFrame(out[{2, b[3]}], std::vector<uint8_t>(b.begin() + 4, b.end()));
    } else if (s.size() % 2 == 0 && s.size() >= 10) {  // header, data, check byte
      const std::vector<uint8_t> b = emu_Bytes(s);
      out[{3, b[2]}].messages.emplace_back(b.begin() + 3, b.end() - 1);
    }
  }
  return out;
}

// The ECU that sends from this source; false when the vehicle has none there.
bool emu_EcuOf(const EmuVehicle& v, const Source& s, uint8_t* idx) {
  if (s.kind == 0) {
    *idx = 0;
    return true;
  }
  const int i = emu_VehicleEcuIndex(v, s.address, s.kind == 1 ? EmuEcuAddressing::Can11 : EmuEcuAddressing::Header);
  if (i < 0) return false;
  *idx = static_cast<uint8_t>(i);
  return true;
}

bool emu_IsNegative(const std::vector<uint8_t>& m) { return m.size() == 3 && m[0] == EMU_NEGATIVE_RESPONSE && m[2] != 0; }

std::string emu_SourceName(const Source& s) { return (s.kind == 1 ? "7" : "") + emu_HexText(&s.address, 1); }

}  // namespace

int emu_ImportCapture(const char* path, std::string* report) {
  std::vector<Exchange> exchanges;
  {
    EmuFileText file;
    if (emu_ReadWholeFile(path, EMU_CAPTURE_KIND, &file) != 0) {
      *report = std::string(path) + ": cannot read the file: " + file.why;
      return -1;
    }
    std::istringstream in(std::move(file.bytes));
    exchanges = emu_ReadExchanges(in);
  }
  auto scratch = std::make_unique<EmuVehicle>();
  emu_VehicleLock();
  emu_VehicleAssign(*scratch, vehicle);
  emu_VehicleUnlock();
  bool headers = false, dlc = false;
  int added = 0;
  std::string skipped;
  uint8_t highest = 0;
  for (const Exchange& x : exchanges) {
    std::string request = emu_Compact(x.request);
    if (!x.frames && request.rfind("AT", 0) == 0) {
      if (request == "ATH1" || request == "ATH0") headers = request == "ATH1";
      if (request == "ATD1" || request == "ATD0") dlc = request == "ATD1";
      if (request == "ATZ" || request == "ATWS" || request == "ATD") headers = dlc = false;
      continue;
    }
    if (!x.frames && request.size() % 2 == 1 && request.size() >= 3) request.pop_back();  // the count of answers awaited
    if (!emu_AllHex(request) || request.size() % 2 != 0 || request.size() / 2 > EMU_TABLE_MAX_REQUEST) continue;
    EmuTableEntry e{};
    const std::vector<uint8_t> req = emu_Bytes(request);
    e.requestLength = static_cast<uint8_t>(req.size());
    memcpy(e.request, req.data(), req.size());
    // Frames carry their identifiers, as answers with headers do.
    for (auto& [source, assembly] : emu_Messages(x.lines, headers || x.frames, dlc && !x.frames)) {
      std::vector<std::vector<uint8_t>>& messages = assembly.messages;
      if (messages.empty()) continue;
      if (!emu_EcuOf(*scratch, source, &e.ecuIdx)) {
        if (skipped.find(emu_SourceName(source)) == std::string::npos) skipped += " " + emu_SourceName(source);
        continue;
      }
      EmuTableAnswerBytes answer{nullptr, 0, 0}, then{nullptr, 0, 0};
      std::vector<uint8_t> joined;
      size_t first = 0;
      if (emu_IsNegative(messages[0]) && messages[0][2] == EMU_RESPONSE_PENDING) {
        while (first < messages.size() && emu_IsNegative(messages[first]) && messages[first][2] == EMU_RESPONSE_PENDING) ++first;
      }
      // An answer too long for the table is refused as the vehicle file refuses it, never cut.
      auto tooLong = [&](const std::vector<uint8_t>& m) {
        if (m.size() <= EMU_TABLE_MAX_MESSAGE) return false;
        *report = std::string(path) + ":" + std::to_string(x.lineNo) + ": the answer to " + request + " has " +
                  std::to_string(m.size()) + " bytes, more than " + std::to_string(EMU_TABLE_MAX_MESSAGE);
        return true;
      };
      if (first > 0 && first < messages.size()) {
        if (tooLong(messages[first])) return -1;
        answer.negative = EMU_RESPONSE_PENDING;
        then = {messages[first].data(), static_cast<uint8_t>(messages[first].size()), 0};
      } else if (emu_IsNegative(messages[0])) {
        answer.negative = messages[0][2];
      } else {
        // CAN messages stand alone; J1850 and K-line messages of one answer are one message split.
        if (source.kind == 1 || source.kind == 2) {
          joined = messages[0];
        } else {
          for (const auto& m : messages) joined.insert(joined.end(), m.begin(), m.end());
        }
        if (joined.empty()) continue;
        if (tooLong(joined)) return -1;
        answer = {joined.data(), static_cast<uint8_t>(joined.size()), 0};
      }
      const char* full = nullptr;
      if (!emu_TableAdd(*scratch, e, answer, then, &full)) {
        *report = std::string(path) + ": " + full;
        return -1;
      }
      ++added;
      highest = std::max(highest, e.ecuIdx);
    }
  }
  if (scratch->maxEcu <= highest) scratch->maxEcu = static_cast<uint8_t>(highest + 1);
  emu_VehicleLock();
  emu_VehicleAssign(vehicle, *scratch);
  emu_VehicleUnlock();
  *report = std::string(path) + ": " + std::to_string(added) + (added == 1 ? " answer taken" : " answers taken");
  if (!skipped.empty()) *report += "; no ECU sends from" + skipped + ", its answers left out";
  return added;
}
