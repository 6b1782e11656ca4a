// Draws TarnicBackgroundPic.png, the picture of the handheld that the window shows: a dark body
// with the unlit LCD in its bezel and the four keys, at the picture coordinates the window uses
// for the LCD area and the key areas. With --icon SIZE it draws the program's icon instead: the
// handheld's body with its LCD and keys, without backdrop or cable, centred on a transparent
// SIZE x SIZE square. Usage: draw_device_picture [--icon SIZE] OUTPUT.png
#include <cairo.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "window/window_geometry.h"

namespace {

// 200:103, the aspect the window keeps, in whole pixels.
constexpr int PICTURE_WIDTH = 1400;
constexpr int PICTURE_HEIGHT = 721;
static_assert(PICTURE_WIDTH * 103 == PICTURE_HEIGHT * 200);

struct Box {
  double x, y, w, h;
};

// The body is centred on the LCD and the keys; the cable leaves it to the right.
constexpr Box BODY = {22, 38, 1246, 652};
constexpr double BODY_RADIUS = 120;
constexpr double BEZEL_MARGIN = 30;
constexpr double KEY_RADIUS = 37;

void emu_RoundedBox(cairo_t* cr, const Box& b, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, b.x + b.w - r, b.y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, b.x + b.w - r, b.y + b.h - r, r, 0, M_PI / 2);
  cairo_arc(cr, b.x + r, b.y + b.h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, b.x + r, b.y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

Box emu_Grow(const Box& b, double d) { return {b.x - d, b.y - d, b.w + 2 * d, b.h + 2 * d}; }

void emu_Rgb(cairo_t* cr, unsigned rgb, double alpha = 1.0) {
  cairo_set_source_rgba(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                        (rgb & 0xFF) / 255.0, alpha);
}

void emu_AddStop(cairo_pattern_t* p, double offset, unsigned rgb, double alpha = 1.0) {
  cairo_pattern_add_color_stop_rgba(p, offset, ((rgb >> 16) & 0xFF) / 255.0,
                                    ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, alpha);
}

void emu_FillVertical(cairo_t* cr, double y0, double y1, unsigned top, unsigned bottom) {
  cairo_pattern_t* p = cairo_pattern_create_linear(0, y0, 0, y1);
  emu_AddStop(p, 0, top);
  emu_AddStop(p, 1, bottom);
  cairo_set_source(cr, p);
  cairo_fill_preserve(cr);
  cairo_pattern_destroy(p);
}

void emu_Text(cairo_t* cr, const char* text, double cx, double baseline, double size, bool bold,
              unsigned rgb, double spacing = 0) {
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  double width = 0;
  size_t n = strlen(text);
  for (size_t i = 0; i < n; ++i) {
    char one[2] = {text[i], 0};
    cairo_text_extents_t e;
    cairo_text_extents(cr, one, &e);
    width += e.x_advance + (i + 1 < n ? spacing : 0);
  }
  double x = cx - width / 2;
  emu_Rgb(cr, rgb);
  for (size_t i = 0; i < n; ++i) {
    char one[2] = {text[i], 0};
    cairo_text_extents_t e;
    cairo_text_extents(cr, one, &e);
    cairo_move_to(cr, x, baseline);
    cairo_show_text(cr, one);
    x += e.x_advance + spacing;
  }
}

void emu_DrawBackdrop(cairo_t* cr) {
  cairo_rectangle(cr, 0, 0, PICTURE_WIDTH, PICTURE_HEIGHT);
  emu_FillVertical(cr, 0, PICTURE_HEIGHT, 0xE4E7EB, 0xB9BEC6);
  cairo_new_path(cr);
  // A soft shadow under the body, built from widening faint layers.
  for (int i = 14; i >= 1; --i) {
    Box s = emu_Grow({BODY.x, BODY.y + 16, BODY.w, BODY.h}, i * 1.6);
    emu_RoundedBox(cr, s, BODY_RADIUS + i * 1.6);
    emu_Rgb(cr, 0x000000, 0.035);
    cairo_fill(cr);
  }
}

void emu_DrawCable(cairo_t* cr) {
  double y = BODY.y + BODY.h - 170;
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_move_to(cr, BODY.x + BODY.w + 30, y);
  cairo_curve_to(cr, 1345, y, 1360, y + 40, 1372, y + 96);
  cairo_line_to(cr, 1395, PICTURE_HEIGHT + 30);
  emu_Rgb(cr, 0x000000, 0.18);
  cairo_set_line_width(cr, 26);
  cairo_stroke_preserve(cr);
  emu_Rgb(cr, 0x1A1B1E);
  cairo_set_line_width(cr, 18);
  cairo_stroke_preserve(cr);
  emu_Rgb(cr, 0x4A4D54, 0.45);
  cairo_set_line_width(cr, 2.5);
  cairo_translate(cr, -2, -3);
  cairo_stroke(cr);
  cairo_translate(cr, 2, 3);
  // Strain relief where the cable enters the body.
  Box relief = {BODY.x + BODY.w - 8, y - 20, 48, 40};
  emu_RoundedBox(cr, relief, 12);
  emu_FillVertical(cr, relief.y, relief.y + relief.h, 0x34363B, 0x141517);
  cairo_new_path(cr);
}

void emu_DrawBody(cairo_t* cr) {
  emu_RoundedBox(cr, BODY, BODY_RADIUS);
  emu_FillVertical(cr, BODY.y, BODY.y + BODY.h, 0x41454C, 0x1C1E22);
  emu_Rgb(cr, 0x0B0C0E);
  cairo_set_line_width(cr, 3);
  cairo_stroke(cr);
  // A lighter inner rim catches the light along the top edge.
  Box rim = emu_Grow(BODY, -6);
  emu_RoundedBox(cr, rim, BODY_RADIUS - 6);
  cairo_pattern_t* p = cairo_pattern_create_linear(0, rim.y, 0, rim.y + rim.h);
  emu_AddStop(p, 0, 0xFFFFFF, 0.22);
  emu_AddStop(p, 0.5, 0xFFFFFF, 0.04);
  emu_AddStop(p, 1, 0xFFFFFF, 0.10);
  cairo_set_source(cr, p);
  cairo_set_line_width(cr, 2);
  cairo_stroke(cr);
  cairo_pattern_destroy(p);

  // Rubber grips around the key columns.
  for (int side = 0; side < 2; ++side) {
    const PictureKeyArea& upper = PICTURE_KEYS[side == 0 ? 0 : 2];
    const PictureKeyArea& lower = PICTURE_KEYS[side == 0 ? 1 : 3];
    Box grip = {upper.left - 30.0, upper.top - 36.0, upper.right - upper.left + 60.0,
                lower.bottom - upper.top + 72.0};
    emu_RoundedBox(cr, grip, 58);
    emu_FillVertical(cr, grip.y, grip.y + grip.h, 0x2A2C31, 0x202226);
    emu_Rgb(cr, 0x0E0F11, 0.9);
    cairo_set_line_width(cr, 2);
    cairo_stroke(cr);
  }
}

void emu_DrawBezelAndLcd(cairo_t* cr) {
  Box lcd = {LCD_PICTURE_X, LCD_PICTURE_Y, LCD_AREA_WIDTH, LCD_AREA_HEIGHT};
  Box bezel = emu_Grow(lcd, BEZEL_MARGIN);
  emu_RoundedBox(cr, emu_Grow(bezel, 3), 27);
  emu_Rgb(cr, 0x5A5E66, 0.55);
  cairo_fill(cr);
  emu_RoundedBox(cr, bezel, 24);
  emu_FillVertical(cr, bezel.y, bezel.y + bezel.h, 0x17181B, 0x0A0B0C);
  cairo_new_path(cr);
  // The unlit glass; the window draws the lit LCD over it.
  cairo_rectangle(cr, lcd.x, lcd.y, lcd.w, lcd.h);
  emu_FillVertical(cr, lcd.y, lcd.y + lcd.h, 0x8E9887, 0x7D8776);
  cairo_new_path(cr);
  cairo_rectangle(cr, lcd.x - 2, lcd.y - 2, lcd.w + 4, lcd.h + 4);
  emu_Rgb(cr, 0x000000);
  cairo_set_line_width(cr, 3);
  cairo_stroke(cr);

  emu_Text(cr, "TARNIC", LCD_PICTURE_X + 90, bezel.y - 22, 30, true, 0xE9EBEE, 6);
  emu_Text(cr, "OBD-II SCAN TOOL", LCD_PICTURE_X + LCD_AREA_WIDTH - 105, bezel.y - 24, 17, false,
           0x9CA1A9, 2.5);
  // Power lamp, lit.
  double lx = LCD_PICTURE_X + LCD_AREA_WIDTH / 2.0, ly = bezel.y - 32;
  cairo_pattern_t* glow = cairo_pattern_create_radial(lx, ly, 0, lx, ly, 12);
  emu_AddStop(glow, 0, 0x9CFF9C);
  emu_AddStop(glow, 0.45, 0x2FD34A);
  emu_AddStop(glow, 1, 0x2FD34A, 0);
  cairo_set_source(cr, glow);
  cairo_arc(cr, lx, ly, 12, 0, 2 * M_PI);
  cairo_fill(cr);
  cairo_pattern_destroy(glow);
}

void emu_DrawFooter(cairo_t* cr) {
  double bezelBottom = LCD_PICTURE_Y + LCD_AREA_HEIGHT + BEZEL_MARGIN;
  double cx = LCD_PICTURE_X + LCD_AREA_WIDTH / 2.0;
  // Beeper grille.
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 15; ++col) {
      double x = cx - 7 * 16 + col * 16 + (row % 2 ? 8 : 0) - (row % 2 ? 4 : 0);
      double y = bezelBottom + 56 + row * 14;
      if (row % 2 && col == 14) continue;
      cairo_arc(cr, x, y, 3.6, 0, 2 * M_PI);
      emu_Rgb(cr, 0x08090A);
      cairo_fill(cr);
      cairo_arc(cr, x, y + 1.2, 3.6, 0.15 * M_PI, 0.85 * M_PI);
      emu_Rgb(cr, 0xFFFFFF, 0.12);
      cairo_set_line_width(cr, 1);
      cairo_stroke(cr);
    }
  }
  emu_Text(cr, "SKANVO", cx, BODY.y + BODY.h - 34, 18, true, 0x8A9098, 8);
}

void emu_DrawKey(cairo_t* cr, const PictureKeyArea& k) {
  double cx = (k.left + k.right + 1) / 2.0, cy = (k.top + k.bottom + 1) / 2.0;
  // The well the key sits in.
  cairo_arc(cr, cx, cy, KEY_RADIUS + 7, 0, 2 * M_PI);
  cairo_pattern_t* well = cairo_pattern_create_linear(0, cy - KEY_RADIUS, 0, cy + KEY_RADIUS);
  emu_AddStop(well, 0, 0x08090A);
  emu_AddStop(well, 1, 0x34373D);
  cairo_set_source(cr, well);
  cairo_fill(cr);
  cairo_pattern_destroy(well);

  unsigned light = 0x6A707A, dark = 0x2E3137, ink = 0xF2F3F5;
  if (k.keyValue == EMU_KEY_RETURN) light = 0x4FB36A, dark = 0x1F6B34;
  if (k.keyValue == EMU_KEY_ESCAPE) light = 0xD0564F, dark = 0x7E201C;
  cairo_arc(cr, cx, cy, KEY_RADIUS, 0, 2 * M_PI);
  cairo_pattern_t* cap = cairo_pattern_create_radial(cx - 12, cy - 16, 4, cx, cy, KEY_RADIUS + 4);
  emu_AddStop(cap, 0, light);
  emu_AddStop(cap, 1, dark);
  cairo_set_source(cr, cap);
  cairo_fill_preserve(cr);
  cairo_pattern_destroy(cap);
  emu_Rgb(cr, 0x000000, 0.6);
  cairo_set_line_width(cr, 1.5);
  cairo_stroke(cr);
  cairo_arc(cr, cx, cy, KEY_RADIUS - 3, 1.1 * M_PI, 1.9 * M_PI);
  emu_Rgb(cr, 0xFFFFFF, 0.25);
  cairo_set_line_width(cr, 2);
  cairo_stroke(cr);

  bool up = k.keyValue == EMU_KEY_UP, down = k.keyValue == EMU_KEY_DOWN;
  double baseline = cy + 7 + (up ? 9 : down ? -7 : 0);
  emu_Text(cr, k.label, cx, baseline, 17, true, ink, 1);
  if (up || down) {
    double tip = up ? cy - 21 : cy + 21, base = up ? cy - 9 : cy + 9;
    cairo_move_to(cr, cx, tip);
    cairo_line_to(cr, cx + 9, base);
    cairo_line_to(cr, cx - 9, base);
    cairo_close_path(cr);
    emu_Rgb(cr, ink);
    cairo_fill(cr);
  }
}

// The whole picture, as the window shows it.
cairo_surface_t* emu_DrawPicture() {
  cairo_surface_t* s =
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, PICTURE_WIDTH, PICTURE_HEIGHT);
  cairo_t* cr = cairo_create(s);
  emu_DrawBackdrop(cr);
  emu_DrawCable(cr);
  emu_DrawBody(cr);
  emu_DrawBezelAndLcd(cr);
  emu_DrawFooter(cr);
  for (const PictureKeyArea& k : PICTURE_KEYS) emu_DrawKey(cr, k);
  cairo_destroy(cr);
  return s;
}

// The icon: the body fills the square's width less a small margin, centred.
cairo_surface_t* emu_DrawIcon(int size) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
  cairo_t* cr = cairo_create(s);
  const double margin = size / 32.0;
  const double scale = (size - 2 * margin) / BODY.w;
  cairo_translate(cr, size / 2.0, size / 2.0);
  cairo_scale(cr, scale, scale);
  cairo_translate(cr, -(BODY.x + BODY.w / 2), -(BODY.y + BODY.h / 2));
  emu_DrawBody(cr);
  emu_DrawBezelAndLcd(cr);
  for (const PictureKeyArea& k : PICTURE_KEYS) emu_DrawKey(cr, k);
  cairo_destroy(cr);
  return s;
}

constexpr int ICON_MIN_SIZE = 16, ICON_MAX_SIZE = 1024;

}  // namespace

int main(int argc, char** argv) {
  int iconSize = 0;
  if (argc == 4 && strcmp(argv[1], "--icon") == 0) {
    char* end = nullptr;
    long size = strtol(argv[2], &end, 10);
    if (*end == '\0' && size >= ICON_MIN_SIZE && size <= ICON_MAX_SIZE) iconSize = static_cast<int>(size);
  }
  if (argc != 2 && iconSize == 0) {
    fprintf(stderr, "usage: %s [--icon SIZE] OUTPUT.png (SIZE %d to %d)\n", argv[0], ICON_MIN_SIZE,
            ICON_MAX_SIZE);
    return 1;
  }
  const char* output = argv[argc - 1];
  cairo_surface_t* s = iconSize != 0 ? emu_DrawIcon(iconSize) : emu_DrawPicture();
  cairo_status_t st = cairo_surface_write_to_png(s, output);
  cairo_surface_destroy(s);
  cairo_debug_reset_static_data();  // font caches, so that leak checkers see a clean exit
  if (st != CAIRO_STATUS_SUCCESS) {
    fprintf(stderr, "%s: %s\n", output, cairo_status_to_string(st));
    return 1;
  }
  return 0;
}
