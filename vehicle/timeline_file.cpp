// The timeline's [[events]] in the vehicle file, read and written (timeline_file.h).
#include "vehicle/timeline_file.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <charconv>

#include "vehicle/vehicle.h"

namespace {

bool emu_Refuse(const toml::node& node, const std::string& what, EmuFileFault* fault) {
  fault->node = &node;
  fault->what = what;
  return false;
}

// A TOML basic string, control characters escaped.
std::string emu_Quote(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    char escaped[8];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned char>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// The shortest text of a double that reads back the same, in any locale.
std::string emu_NumberText(double value, bool keepFloat) {
  char text[32];
  *std::to_chars(text, text + sizeof text - 1, value).ptr = '\0';
  std::string out = text;
  if (keepFloat && out.find_first_of(".eEin") == std::string::npos) out += ".0";
  return out;
}

// A value that is not a text, as it would stand in the file (and as "set" takes it): a number,
// true or false, or a list of them and of texts.
bool emu_ValueText(const toml::node& node, std::string* out, EmuFileFault* fault) {
  if (const auto* i = node.as_integer()) return *out = std::to_string(i->get()), true;
  if (const auto* f = node.as_floating_point()) return *out = emu_NumberText(f->get(), true), true;
  if (const auto* b = node.as_boolean()) return *out = b->get() ? "true" : "false", true;
  if (const auto* s = node.as_string()) return *out = emu_Quote(s->get()), true;
  if (const toml::array* list = node.as_array()) {
    std::string text = "[";
    for (const toml::node& item : *list) {
      std::string one;
      if (!emu_ValueText(item, &one, fault)) return false;
      text += (text.size() > 1 ? ", " : "") + one;
    }
    return *out = text + "]", true;
  }
  return emu_Refuse(node, "expected the value: a text, a number, true or false, or a list", fault);
}

// The name of a value: letters, digits, '_', '-' and dots, as "set" takes it.
bool emu_NameOk(const std::string& name) {
  if (name.empty() || name.size() > EMU_MAX_EVENT_NAME || name.front() == '.' || name.back() == '.') return false;
  for (const char c : name)
    if (!isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.') return false;
  return name.find("..") == std::string::npos;
}

// P0123, C0123, B0123, U0123 (the letter in either case).
bool emu_CodeOk(std::string* code) {
  if (code->size() != 5 || strchr("PCBU", toupper(static_cast<unsigned char>((*code)[0]))) == nullptr) return false;
  (*code)[0] = static_cast<char>(toupper(static_cast<unsigned char>((*code)[0])));
  if ((*code)[1] < '0' || (*code)[1] > '3') return false;
  for (size_t i = 2; i < 5; ++i)
    if (!isxdigit(static_cast<unsigned char>((*code)[i]))) return false;
  for (char& c : *code) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return true;
}

bool emu_ReadEvent(const toml::table& t, const toml::node& where, EmuTimelineEvent* e, EmuFileFault* fault) {
  bool haveAt = false, haveValue = false, haveEcu = false;
  int actions = 0;
  const toml::node* ecuNode = nullptr;
  for (auto&& [key, node] : t) {
    const std::string k(key.str());
    if (k == "at") {
      const auto seconds = node.value<double>();
      if (!seconds) return emu_Refuse(node, "expected the time in seconds", fault);
      if (!(*seconds >= 0 && *seconds <= EMU_MAX_EVENT_SECONDS))
        return emu_Refuse(node, "value out of range: " + emu_NumberText(*seconds, false) + " (0 to 1000000 seconds)", fault);
      e->at = *seconds;
      haveAt = true;
    } else if (k == "from") {
      const std::string from = node.is_string() ? node.as_string()->get() : "";
      if (from != "start" && from != "connect") return emu_Refuse(node, "from is \"start\" or \"connect\"", fault);
      e->from = from == "start" ? EmuEventFrom::Start : EmuEventFrom::Connect;
    } else if (k == "set") {
      const std::string name = node.is_string() ? node.as_string()->get() : "";
      if (!emu_NameOk(name)) return emu_Refuse(node, "expected the name of a value in quotes, such as \"ecu.1.rpm\"", fault);
      e->kind = EmuEventKind::Set;
      e->name = name;
      ++actions;
    } else if (k == "value") {
      if (const auto* text = node.as_string()) {
        e->value = text->get();
        e->valueIsText = true;
        for (const char c : e->value)
          if (c == '\n' || c == '\r') return emu_Refuse(node, "a value is one line", fault);
      } else if (!emu_ValueText(node, &e->value, fault)) {
        return false;
      }
      haveValue = true;
    } else if (k == "dtc") {
      std::string code = node.is_string() ? node.as_string()->get() : "";
      if (!emu_CodeOk(&code))
        return emu_Refuse(node, "expected one code such as \"P0301\" (a letter P, C, B or U, a digit 0-3, three hex digits)", fault);
      e->kind = EmuEventKind::Dtc;
      e->value = code;
      ++actions;
    } else if (k == "clear_dtcs") {
      if (node.value_exact<bool>() != std::optional<bool>(true))
        return emu_Refuse(node, "clear_dtcs = true, or leave it out", fault);
      e->kind = EmuEventKind::ClearDtcs;
      ++actions;
    } else if (k == "ecu") {
      const auto n = node.value_exact<int64_t>();
      if (!n || *n < 1 || *n > EMU_MAX_ECUS) return emu_Refuse(node, "expected an ECU from 1 to 8", fault);
      e->ecu = static_cast<uint8_t>(*n);
      haveEcu = true;
      ecuNode = &node;
    } else {
      return emu_Refuse(node, "unknown key '" + k + "' (at, from, set, value, dtc, clear_dtcs, ecu)", fault);
    }
  }
  if (!haveAt) return emu_Refuse(where, "an event needs at (seconds)", fault);
  if (actions != 1) return emu_Refuse(where, "an event does one thing: set (with value), dtc or clear_dtcs", fault);
  if (e->kind == EmuEventKind::Set && !haveValue) return emu_Refuse(where, "set needs a value", fault);
  if (e->kind != EmuEventKind::Set && haveValue) return emu_Refuse(where, "value goes with set", fault);
  if (e->kind == EmuEventKind::Set && haveEcu) return emu_Refuse(*ecuNode, "ecu goes with dtc or clear_dtcs", fault);
  if (e->kind == EmuEventKind::ClearDtcs && !haveEcu) e->ecu = 0;  // the codes of every ECU
  return true;
}

}  // namespace

bool emu_ReadTimeline(const toml::node& node, std::vector<EmuTimelineEvent>* events, EmuFileFault* fault) {
  const toml::array* list = node.as_array();
  if (list == nullptr) return emu_Refuse(node, "expected [[events]] tables", fault);
  events->clear();
  for (const toml::node& item : *list) {
    const toml::table* t = item.as_table();
    if (t == nullptr) return emu_Refuse(item, "expected an event: { at = SECONDS, set = NAME, value = VALUE }", fault);
    if (events->size() == EMU_MAX_EVENTS) return emu_Refuse(item, "more than 1000 events", fault);
    EmuTimelineEvent e;
    if (!emu_ReadEvent(*t, item, &e, fault)) return false;
    events->push_back(std::move(e));
  }
  return true;
}

void emu_WriteTimeline(std::ostream& out, const std::vector<EmuTimelineEvent>& events) {
  for (const EmuTimelineEvent& e : events) {
    out << "\n[[events]]\nat = " << emu_NumberText(e.at, false) << "\n";
    out << "from = \"" << (e.from == EmuEventFrom::Start ? "start" : "connect") << "\"\n";
    switch (e.kind) {
      case EmuEventKind::Set:
        out << "set = " << emu_Quote(e.name) << "\nvalue = " << (e.valueIsText ? emu_Quote(e.value) : e.value) << "\n";
        break;
      case EmuEventKind::Dtc:
        out << "dtc = " << emu_Quote(e.value) << "\necu = " << static_cast<int>(e.ecu) << "\n";
        break;
      case EmuEventKind::ClearDtcs:
        out << "clear_dtcs = true\n";
        if (e.ecu != 0) out << "ecu = " << static_cast<int>(e.ecu) << "\n";
        break;
    }
  }
}
