// The colour and hit-testing rules of the display window, kept free of GTK so that they can be
// checked on their own.
#include "window/window_geometry.h"

namespace {

double emu_AtMostOne(double v) { return v > 1.0 ? 1.0 : v; }

}  // namespace

LcdColor emu_BacklightColor(int red, int green, int blue) {
  // The red LED is the strongest: its half value lifts a base of 128/255, green and blue start
  // from lower bases and saturate at 150 and 100 (the settings' slider maxima).
  return {emu_AtMostOne(((red >> 1) + 128) / 255.0), emu_AtMostOne(((green >> 1) + 75) / 150.0),
          emu_AtMostOne(((blue >> 1) + 50) / 100.0)};
}

double emu_PixelOpacity(int contrast) { return emu_AtMostOne(((contrast >> 1) + 15) / 31.0); }

LcdRows emu_LcdRowLayout(bool withPicture, double scaleWidth, double scaleHeight) {
  if (withPicture) return {LCD_FIRST_ROW_Y_PICTURE, LCD_PIXEL_SIZE, LCD_PIXEL_GAP};
  double aspect = scaleWidth / scaleHeight;
  LcdRows rows{0.0, LCD_PIXEL_SIZE * aspect, LCD_PIXEL_GAP * aspect};
  rows.top = (LCD_AREA_HEIGHT - (LCD_ROWS * (rows.height + rows.gap) - rows.gap)) / 2;
  return rows;
}

bool emu_InFullscreenCorner(double x, double y, int windowWidth) {
  return y < FULLSCREEN_CORNER && x >= windowWidth - FULLSCREEN_CORNER;
}

int emu_PictureClick(double x, double y, int windowWidth, double scaleWidth, double scaleHeight) {
  if (emu_InFullscreenCorner(x, y, windowWidth)) return AREA_TOGGLE_FULLSCREEN;
  // Whole picture pixels: the key areas' bounds are the first and last pixel of each key.
  int px = static_cast<int>(x / scaleWidth);
  int py = static_cast<int>(y / scaleHeight);
  for (const PictureKeyArea& k : PICTURE_KEYS)
    if (px >= k.left && px <= k.right && py >= k.top && py <= k.bottom) return k.keyValue;
  return 0;
}

int emu_AreaClick(double x, double y, int width, int height) {
  bool left = x <= width / 2;
  bool upper = y <= height / 2;
  if (left) return upper ? EMU_KEY_UP : EMU_KEY_DOWN;
  if (!upper) return EMU_KEY_RETURN;
  return emu_InFullscreenCorner(x, y, width) ? AREA_TOGGLE_FULLSCREEN : EMU_KEY_ESCAPE;
}

struct timespec emu_DeadlineAfterMs(int timeoutMs) {
  struct timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_nsec += static_cast<long>(timeoutMs) * 1000000L;
  deadline.tv_sec += deadline.tv_nsec / 1000000000L;
  deadline.tv_nsec %= 1000000000L;
  return deadline;
}
