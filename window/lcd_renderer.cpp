// LCD renderer (placeholder until the window lands): an empty backlit area.
#include "window/lcd_renderer.h"

void emu_RenderLcd(cairo_t* cr, const LcdView& view, double x0, double y0, bool withPicture,
                   double scaleWidth, double scaleHeight) {
  cairo_set_source_rgb(cr, 0.8, 0.8, 0.6);
  cairo_rectangle(cr, x0, y0, LCD_AREA_WIDTH, LCD_AREA_HEIGHT);
  cairo_fill(cr);
}

int emu_RenderLcdPng(const LcdView& view, const char* path) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, LCD_AREA_WIDTH, LCD_AREA_HEIGHT);
  cairo_t* cr = cairo_create(s);
  emu_RenderLcd(cr, view, 0, 0, true, 1.0, 1.0);
  cairo_destroy(cr);
  int rc = cairo_surface_write_to_png(s, path) == CAIRO_STATUS_SUCCESS ? 0 : -1;
  cairo_surface_destroy(s);
  return rc;
}
