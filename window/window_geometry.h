// Where things are on the pictured device and on the LCD, and the colours the LCD is drawn in:
// the small pure rules behind the window's drawing and its mouse input.
#pragma once

#include <time.h>

#include "window/window_api.h"

// The device picture: its LCD area and the four keys, in picture units.
constexpr int LCD_AREA_WIDTH = 740;
constexpr int LCD_AREA_HEIGHT = 353;
constexpr int LCD_PICTURE_X = 277;
constexpr int LCD_PICTURE_Y = 132;

struct PictureKeyArea {
  int left, top, right, bottom;  // inclusive
  int keyValue;
  const char* label;
};
constexpr PictureKeyArea PICTURE_KEYS[] = {
    {113, 165, 192, 244, EMU_KEY_UP, "UP"},
    {113, 365, 192, 444, EMU_KEY_DOWN, "DOWN"},
    {1093, 165, 1172, 244, EMU_KEY_ESCAPE, "ESC"},
    {1093, 365, 1172, 444, EMU_KEY_RETURN, "OK"},
};

// The 132 x 64 pixels: 4.8 units wide on a pitch of 5.0, the first column 40.1 units in.
constexpr int LCD_COLUMNS = 132;
constexpr int LCD_ROWS = 64;
constexpr double LCD_PIXEL_SIZE = 4.8;
constexpr double LCD_PIXEL_GAP = 0.2;
constexpr double LCD_FIRST_COLUMN_X = 40.1;
constexpr double LCD_FIRST_ROW_Y_PICTURE = 16.6;  // with the picture

// A click in the window that toggles full screen instead of pressing a key.
constexpr int AREA_TOGGLE_FULLSCREEN = -1;
constexpr int FULLSCREEN_CORNER = 30;  // window pixels from the top and right edges

struct LcdColor {
  double red, green, blue;
};

// The backlight as the LEDs' PWM values (0..255) light the LCD; each component at most 1.
LcdColor emu_BacklightColor(int red, int green, int blue);
// Opacity of a dark pixel for an LCD contrast value, at most 1.
double emu_PixelOpacity(int contrast);

struct LcdRows {
  double top;     // first row, from the LCD area's top edge
  double height;  // of one row
  double gap;     // between rows
};
// With the picture the rows keep the picture's layout; without it they are centred and made
// as tall on screen as the columns are wide.
LcdRows emu_LcdRowLayout(bool withPicture, double scaleWidth, double scaleHeight);

// True for the top-right corner of a window of the given width.
bool emu_InFullscreenCorner(double x, double y, int windowWidth);
// A button-1 click on the window showing the picture: the device key's value,
// AREA_TOGGLE_FULLSCREEN, or 0 for a click elsewhere.
int emu_PictureClick(double x, double y, int windowWidth, double scaleWidth, double scaleHeight);
// A button-1 click on the window without the picture: the quadrants are Up, Esc (upper) and
// Down, OK (lower); the top-right corner toggles full screen.
int emu_AreaClick(double x, double y, int width, int height);

// The moment timeoutMs from now on the realtime clock, for a timed wait on a condition.
struct timespec emu_DeadlineAfterMs(int timeoutMs);
