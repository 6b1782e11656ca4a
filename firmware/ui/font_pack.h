// Compile-time packing of glyph art into the font record layout that the LCD driver reads:
// size (2 bytes, little-endian), advance (widest glyph + 1), height, 1, first code, last code,
// one width byte per code, then the glyphs as one bit stream, column after column from the
// left, each column from the top row down, least significant bit of each byte first.
// Nothing here exists at run time: the records are constant byte arrays.
#pragma once

#include <stddef.h>
#include <stdint.h>

// A row of glyphs drawn side by side, like a sheet of type. `codes` lists the character codes
// in the order the glyphs appear; every row string holds the same glyphs, separated by one
// space, '#' for ink and '.' for background. A glyph's width is the length of its segment.
// A strip with `sameAs` instead of rows gives the codes the glyphs of other codes.
template <uint8_t H>
struct FntStrip {
  const char* codes = nullptr;
  const char* rows[H] = {};
  const char* sameAs = nullptr;
};

template <uint16_t N>
struct FntRecord {
  uint8_t bytes[N];
};

// Never defined: a call in a constant evaluation stops the compilation and the compiler shows
// the message passed to it.
void FNT_ArtError(const char* why);

namespace fnt_pack {

constexpr size_t Length(const char* s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

struct GlyphRef {
  int strip = -1;  // -1: the font has no glyph for the code
  size_t column = 0;
  uint8_t width = 0;
};

}  // namespace fnt_pack

// Packs the strips of a font of height H for the codes First ... Last. The record must come
// out at exactly Size bytes; `spareBytes` are zero bytes that the record carries after the
// bitmap (the drawing code never reads them).
template <uint16_t Size, uint8_t H, uint8_t First, uint8_t Last, size_t NStrips>
consteval FntRecord<Size> FNT_Pack(const FntStrip<H> (&strips)[NStrips], uint8_t spareBytes) {
  using fnt_pack::GlyphRef;
  using fnt_pack::Length;
  static_assert(First <= Last);
  GlyphRef refs[256]{};

  for (size_t s = 0; s < NStrips; ++s) {
    const FntStrip<H>& strip = strips[s];
    if (strip.sameAs != nullptr) continue;
    const size_t rowLength = Length(strip.rows[0]);
    for (uint8_t r = 0; r < H; ++r) {
      if (strip.rows[r] == nullptr) FNT_ArtError("strip has fewer rows than the font height");
      if (Length(strip.rows[r]) != rowLength) FNT_ArtError("rows of a strip differ in length");
      for (size_t i = 0; i < rowLength; ++i) {
        const char c = strip.rows[r][i];
        if (c != '#' && c != '.' && c != ' ') FNT_ArtError("art may only use '#', '.' and ' '");
        if ((c == ' ') != (strip.rows[0][i] == ' ')) FNT_ArtError("glyph columns do not line up");
      }
    }
    size_t column = 0;
    for (size_t k = 0; k < Length(strip.codes); ++k) {
      if (column >= rowLength) FNT_ArtError("strip has fewer glyphs than codes");
      size_t end = column;
      while (end < rowLength && strip.rows[0][end] != ' ') ++end;
      const uint8_t code = static_cast<uint8_t>(strip.codes[k]);
      if (code < First || code > Last) FNT_ArtError("code outside the font's range");
      if (refs[code].strip >= 0) FNT_ArtError("code drawn twice");
      if (end == column) FNT_ArtError("empty glyph");
      refs[code] = GlyphRef{static_cast<int>(s), column, static_cast<uint8_t>(end - column)};
      column = end + 1;
    }
    if (column < rowLength) FNT_ArtError("strip has more glyphs than codes");
  }
  for (size_t s = 0; s < NStrips; ++s) {
    const FntStrip<H>& strip = strips[s];
    if (strip.sameAs == nullptr) continue;
    if (Length(strip.codes) != Length(strip.sameAs)) FNT_ArtError("alias lengths differ");
    for (size_t k = 0; k < Length(strip.codes); ++k) {
      const uint8_t code = static_cast<uint8_t>(strip.codes[k]);
      const uint8_t from = static_cast<uint8_t>(strip.sameAs[k]);
      if (code < First || code > Last) FNT_ArtError("code outside the font's range");
      if (refs[code].strip >= 0) FNT_ArtError("code drawn twice");
      if (refs[from].strip < 0) FNT_ArtError("alias of a code without a glyph");
      refs[code] = refs[from];
    }
  }

  constexpr size_t codeCount = size_t{Last} - First + 1;
  size_t widthSum = 0;
  uint8_t widest = 0;
  for (size_t c = First; c <= Last; ++c) {
    widthSum += refs[c].width;
    if (refs[c].width > widest) widest = refs[c].width;
  }
  const size_t bits = widthSum * H;
  if (7 + codeCount + (bits + 7) / 8 + spareBytes != Size) FNT_ArtError("record size is off");
  if (bits > 0xFFFF) FNT_ArtError("bit positions must fit 16 bits");

  FntRecord<Size> rec{};
  rec.bytes[0] = static_cast<uint8_t>(Size & 0xFF);
  rec.bytes[1] = static_cast<uint8_t>(Size >> 8);
  rec.bytes[2] = static_cast<uint8_t>(widest + 1);
  rec.bytes[3] = H;
  rec.bytes[4] = 1;
  rec.bytes[5] = First;
  rec.bytes[6] = Last;
  for (size_t c = First; c <= Last; ++c) rec.bytes[7 + c - First] = refs[c].width;

  uint8_t* bitmap = rec.bytes + 7 + codeCount;
  size_t pos = 0;
  for (size_t c = First; c <= Last; ++c) {
    const GlyphRef& g = refs[c];
    for (uint8_t i = 0; i < g.width; ++i) {
      for (uint8_t j = 0; j < H; ++j, ++pos) {
        if (strips[g.strip].rows[j][g.column + i] == '#') {
          bitmap[pos / 8] = static_cast<uint8_t>(bitmap[pos / 8] | (1u << (pos % 8)));
        }
      }
    }
  }
  return rec;
}
