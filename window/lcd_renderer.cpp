// The LCD as the window shows it: the backlit glass in the backlight's colour, a dark frame with
// rounded corners, the set pixels as grey rectangles whose opacity follows the contrast, turned
// by 180 degrees when the controller's segment order is reversed, and the operator's number
// memory. Nothing here knows about GTK.
#include "window/lcd_renderer.h"

#include <stdio.h>

namespace {

// The frame's corner arcs, as the device's bezel has them; the angles are kept to the digits
// the frame has always been drawn with.
constexpr double FRAME_INSET = 3.0;
constexpr double FRAME_RADIUS = 8.675;
constexpr double FRAME_LINE_WIDTH = 5.0;
constexpr double QUARTER = 1.570795;
constexpr double HALF = 3.14159;
constexpr double THREE_QUARTERS = 4.712384999999999;

bool emu_PixelIsSet(const uint8_t* mem, int column, int row) {
  return (mem[(row / 8) * LCD_COLUMNS + column] >> (row % 8)) & 1;
}

void emu_RenderFrame(cairo_t* cr, double x0, double y0) {
  double x = x0 + FRAME_INSET, y = y0 + FRAME_INSET;
  double w = LCD_AREA_WIDTH - 2 * FRAME_INSET, h = LCD_AREA_HEIGHT - 2 * FRAME_INSET;
  double r = FRAME_RADIUS;
  cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
  cairo_set_line_width(cr, FRAME_LINE_WIDTH);
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -QUARTER, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, QUARTER);
  cairo_arc(cr, x + r, y + h - r, r, QUARTER, HALF);
  cairo_arc(cr, x + r, y + r, r, HALF, THREE_QUARTERS);
  cairo_close_path(cr);
  cairo_rectangle(cr, x, y, w, h);
  cairo_stroke(cr);
}

}  // namespace

void emu_RenderLcd(cairo_t* cr, const LcdView& view, double x0, double y0, bool withPicture,
                   double scaleWidth, double scaleHeight) {
  if (view.displayMem == nullptr) return;  // nothing to show before the first frame
  cairo_save(cr);

  LcdColor back = emu_BacklightColor(view.red, view.green, view.blue);
  cairo_set_source_rgb(cr, back.red, back.green, back.blue);
  cairo_rectangle(cr, x0, y0, LCD_AREA_WIDTH, LCD_AREA_HEIGHT);
  cairo_fill(cr);

  emu_RenderFrame(cr, x0, y0);

  LcdRows rows = emu_LcdRowLayout(withPicture, scaleWidth, scaleHeight);
  double firstRowY = y0 + rows.top;
  double rowPitch = rows.height + rows.gap;
  double columnPitch = LCD_PIXEL_SIZE + LCD_PIXEL_GAP;
  cairo_set_source_rgba(cr, 0.25, 0.25, 0.25, emu_PixelOpacity(view.contrast));
  for (int row = 0; row < LCD_ROWS; ++row) {
    for (int column = 0; column < LCD_COLUMNS; ++column) {
      if (!emu_PixelIsSet(view.displayMem, column, row)) continue;
      // A reversed segment order and common output order turn the glass by 180 degrees.
      int p = view.rotated ? LCD_COLUMNS - 1 - column : column;
      int q = view.rotated ? LCD_ROWS - 1 - row : row;
      cairo_rectangle(cr, x0 + LCD_FIRST_COLUMN_X + columnPitch * p, firstRowY + rowPitch * q,
                      LCD_PIXEL_SIZE, rows.height);
    }
  }
  // One fill for all pixels: a screen pixel shared by two neighbours across the narrow gap is
  // shaded once, so the contrast looks the same at every window size.
  cairo_fill(cr);

  if (view.numberMemEnabled) {
    char text[16];
    snprintf(text, sizeof text, "%02d", view.numberMem);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    cairo_select_font_face(cr, "Courier", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 24);
    cairo_move_to(cr, x0 + LCD_FIRST_COLUMN_X + 630, firstRowY + 48);
    cairo_show_text(cr, text);
  }
  cairo_restore(cr);
}

int emu_RenderLcdPng(const LcdView& view, const char* path) {
  cairo_surface_t* s =
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, LCD_AREA_WIDTH, LCD_AREA_HEIGHT);
  cairo_t* cr = cairo_create(s);
  emu_RenderLcd(cr, view, 0, 0, true, 1.0, 1.0);
  cairo_destroy(cr);
  int rc = cairo_surface_write_to_png(s, path) == CAIRO_STATUS_SUCCESS ? 0 : -1;
  cairo_surface_destroy(s);
  return rc;
}
