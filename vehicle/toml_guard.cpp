// The guard in front of the TOML parser: a small reader of TOML's quoting (comments, basic and
// literal texts, their multi-line forms) that finds the characters the parser misreads.
#include "vehicle/toml_guard.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {

// toml++ 3.3 asks whether a character is white space with a table that misses three ranges
// beyond ASCII (U+00A1-0499, U+2C5E-3057, U+FB26-FEFE: Latin-1 letters and signs, Cyrillic ...):
// for those its answer is undefined. This is its own test, to find them before it does.
bool emu_TomlMisreadsAsSpace(uint32_t c) {
  if (c < 0xA0 || c > 0xFEFF) return false;
  const uint64_t child = (c - 0xA0u) / 0x3FAu;
  if ((1ull << child) & 0x7FFFFFFFFFFFF75Eull) return false;
  if (c == 0xA0 || c == 0x3000 || c == 0xFEFF) return false;
  return child != 5 && child != 7;
}

// White space as the parser skips it, beyond ASCII as well.
bool emu_TomlSpace(uint32_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 0xA0 || c == 0x85 || c == 0x1680 || c == 0x180E ||
         (c >= 0x2000 && c <= 0x200B) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x2060 ||
         c == 0x3000 || c == 0xFEFF;
}

// The UTF-8 character at text[at]: its code point and its length in bytes; length 0 when it is
// not UTF-8 (the parser reports that itself).
uint32_t emu_CodePoint(const std::string& text, size_t at, size_t* length) {
  const uint8_t lead = static_cast<uint8_t>(text[at]);
  size_t n = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
  uint32_t c = n == 1 ? lead : n == 2 ? lead & 0x1Fu : n == 3 ? lead & 0x0Fu : lead & 0x07u;
  for (size_t i = 1; i < n; ++i) {
    const uint8_t next = at + i < text.size() ? static_cast<uint8_t>(text[at + i]) : 0;
    if ((next & 0xC0) != 0x80) n = 0;
    c = c << 6 | (next & 0x3Fu);
  }
  *length = n;
  return c;
}

// How deep the text read outside quotes and comments stands: the levels of the table whose keys
// are read (its header's, or an inline table's), of the dotted key being read, and of the lists
// and inline tables open around a value. It follows valid TOML only: the parser stops at the
// first mistake, before anything after it can nest.
class Nesting {
 public:
  // One character outside quotes and comments (a key's opening quote included); false when it
  // takes the text deeper than EMU_TOML_MAX_DEPTH.
  bool Take(uint32_t c) {
    if (c == '\n') {
      if (opened_ == 0) StartKey();
      return true;
    }
    if (emu_TomlSpace(c)) return true;
    switch (part_) {
      case Part::Key:
        if (c == '[' && key_ == 0 && opened_ == 0) {  // a table header: a table of its own
          part_ = Part::Header;
          key_ = 1;
          return true;
        }
        if (c == '}' && opened_ > 0) {
          Close();
          return true;
        }
        if (c == '=') {
          part_ = Part::Value;
          value_ = table_ + key_;
          return true;
        }
        key_ += key_ == 0 ? 1 : 0;
        key_ += c == '.' ? 1 : 0;
        return table_ + key_ <= EMU_TOML_MAX_DEPTH;
      case Part::Header:  // [a.b] or [[a.b]], an array of tables: a level more
        if (c == '[' || c == '.') ++key_;
        if (c != ']') return key_ <= EMU_TOML_MAX_DEPTH;
        table_ = key_;
        part_ = Part::Value;
        return true;
      case Part::Value:
        if (c == '[' || c == '{') {
          if (value_ + 1 > EMU_TOML_MAX_DEPTH || opened_ == EMU_TOML_MAX_DEPTH) return false;
          open_[opened_++] = {static_cast<char>(c), table_, value_};
          ++value_;
          if (c == '{') {
            table_ = value_;
            StartKey();
          }
        } else if ((c == ']' || c == '}') && opened_ > 0) {
          Close();
        } else if (c == ',' && opened_ > 0 && open_[opened_ - 1].bracket == '{') {
          StartKey();
        }
        return true;
    }
    return true;
  }

 private:
  void StartKey() {
    part_ = Part::Key;
    key_ = 0;
  }
  void Close() {
    const Open& o = open_[--opened_];
    table_ = o.table;
    value_ = o.value;
    part_ = Part::Value;
  }

  enum class Part { Key, Header, Value } part_ = Part::Key;
  uint32_t table_ = 0;  // levels of the table whose keys are read
  uint32_t key_ = 0;    // levels of the key (or header) being read, 0 before it
  uint32_t value_ = 0;  // levels of the value being read
  struct Open {
    char bracket;
    uint32_t table, value;  // what closing it returns to
  } open_[EMU_TOML_MAX_DEPTH];  // each open list or inline table deepens the value: never more
  uint32_t opened_ = 0;
};

}  // namespace

// Keeps the parser away from the characters it misreads. Outside quotes and comments, and right
// after a backslash in a multi-line string, such a character is a mistake: false, with `error`
// set to "LINE:COLUMN: what" (columns counted in characters, as the parser counts them). Where
// the parser skips white space after a line-ending backslash, it is written as its \u escape.
bool emu_GuardToml(std::string* text, std::string* error) {
  enum class In { Value, Comment, Basic, Literal, MultiBasic, MultiLiteral } in = In::Value;
  std::string& t = *text;
  uint32_t line = 1, column = 1;
  bool skipping = false;  // white space after a line-ending backslash
  Nesting nesting;
  const std::string tooDeep = "nested more than " + std::to_string(EMU_TOML_MAX_DEPTH) + " levels deep";
  size_t literalStart = 0;  // where the text in quotes now read began
  auto starts = [&](size_t i, const char* s) { return t.compare(i, strlen(s), s) == 0; };
  auto fail = [&](uint32_t col, const std::string& what) {
    *error = std::to_string(line) + ":" + std::to_string(col) + ": " + what;
    return false;
  };
  for (size_t i = 0; i < t.size();) {
    size_t n = 1;
    const uint32_t code = emu_CodePoint(t, i, &n);
    if (n == 0) return true;  // not UTF-8: the parser stops there
    const char c = t[i];
    // No such character reaches the parser, whatever it makes of the text around it: in a comment
    // it becomes '?', in a "basic" text its \u escape; elsewhere it is a mistake.
    if (emu_TomlMisreadsAsSpace(code)) {
      const std::string ch = t.substr(i, n);
      if (in == In::Value) return fail(column, "unexpected '" + ch + "': text belongs in quotes");
      if (in == In::MultiLiteral)
        return fail(column, "'" + ch + "' in a text in triple single quotes: write it in double quotes");
      if (in == In::Literal) {
        // The text in single quotes is written again in double quotes, with its escapes.
        const size_t close = t.find_first_of("'\n", i);
        const bool closed = close != std::string::npos && t[close] == '\'';
        const size_t end = close == std::string::npos ? t.size() : close;
        std::string basic = "\"";
        for (size_t k = literalStart + 1; k < end;) {
          size_t m = 1;
          const uint32_t cp = emu_CodePoint(t, k, &m);
          if (m == 0) m = 1;
          char escape[8];
          if (t[k] == '\\' || t[k] == '"') {
            basic += '\\';
            basic += t[k];
          } else if (emu_TomlMisreadsAsSpace(cp)) {
            snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(cp));
            basic += escape;
          } else {
            basic.append(t, k, m);
          }
          k += m;
        }
        if (closed) basic += '"';
        t.replace(literalStart, (closed ? end + 1 : end) - literalStart, basic);
        i = literalStart + basic.size();
        in = In::Value;
        continue;
      }
      if (in == In::Comment) {
        t.replace(i, n, "?");
        n = 1;
      } else {
        char escape[8];
        snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(code));
        t.replace(i, n, escape);
        n = strlen(escape);
      }
    }
    skipping = skipping && emu_TomlSpace(code);
    switch (in) {
      case In::Value:
        if (!nesting.Take(code)) return fail(column, tooDeep);
        if (c == '#') {
          in = In::Comment;
        } else if (starts(i, "\"\"\"") || starts(i, "'''")) {
          in = c == '"' ? In::MultiBasic : In::MultiLiteral;
          n = 3;
        } else if (c == '"' || c == '\'') {
          in = c == '"' ? In::Basic : In::Literal;
          literalStart = i;
        }
        break;
      case In::Comment:
        if (c == '\n') {
          in = In::Value;
          (void)nesting.Take('\n');
        }
        break;
      case In::Basic:
        if (c == '\\' && i + 1 < t.size() && static_cast<uint8_t>(t[i + 1]) < 0x80) n = 2;  // escaped
        else if (c == '"' || c == '\n') in = In::Value;
        break;
      case In::Literal:
        if (c == '\'' || c == '\n') in = In::Value;
        break;
      case In::MultiBasic:
      case In::MultiLiteral:
        if (in == In::MultiBasic && c == '\\' && i + 1 < t.size()) {
          size_t m = 0;
          const uint32_t next = emu_CodePoint(t, i + 1, &m);
          if (m != 0 && emu_TomlMisreadsAsSpace(next))
            return fail(column + 1, "unexpected '" + t.substr(i + 1, m) + "' after a backslash");
          skipping = emu_TomlSpace(next);
          if (!skipping && next < 0x80) n = 2;  // escaped
        } else if (starts(i, in == In::MultiBasic ? "\"\"\"" : "'''")) {
          while (n < 5 && i + n < t.size() && t[i + n] == c) ++n;  // up to two quotes belong to the text
          in = In::Value;
        }
        break;
    }
    for (size_t k = i; k < i + n; ++k) {
      if (t[k] == '\n') {
        ++line;
        column = 1;
      } else if ((static_cast<uint8_t>(t[k]) & 0xC0) != 0x80) {
        ++column;
      }
    }
    i += n;
  }
  return true;
}
