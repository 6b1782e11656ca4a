// The drawing of the LCD (backlight, frame, pixels, number memory) on any cairo context, shared
// by the GTK window and the headless front end so that both show the same picture.
#pragma once

#include <cairo.h>
#include <stdint.h>

#include "window/window_geometry.h"

struct LcdView {
  const uint8_t* displayMem;  // 8 pages x 132 bytes, or null before the first frame
  int red, green, blue;       // backlight PWM values 0..255
  int contrast;               // LCD contrast value
  bool rotated;               // drawn turned by 180 degrees
  bool numberMemEnabled;
  int numberMem;
};

// Draws the LCD with its top-left corner at (x0, y0) in picture units on a context already
// scaled by (scaleWidth, scaleHeight). withPicture selects the row layout of the device picture;
// without it the rows are centred and kept square on screen. Without a display memory nothing
// is drawn.
void emu_RenderLcd(cairo_t* cr, const LcdView& view, double x0, double y0, bool withPicture,
                   double scaleWidth, double scaleHeight);

// Writes the LCD area alone (740 x 353, the picture's row layout at scale 1) as a PNG file.
// 0 or -1.
int emu_RenderLcdPng(const LcdView& view, const char* path);
