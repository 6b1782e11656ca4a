// Colours, row layout and mouse hit-testing of the display window.
#include "window/window_geometry.h"

#include <gtest/gtest.h>

TEST(WindowColors, BacklightFollowsTheLedValuesAndSaturates) {
  LcdColor stored = emu_BacklightColor(165, 111, 28);  // the settings' defaults
  EXPECT_NEAR(stored.red, 0.824, 0.001);
  EXPECT_NEAR(stored.green, 0.867, 0.001);
  EXPECT_NEAR(stored.blue, 0.640, 0.001);

  LcdColor maxima = emu_BacklightColor(255, 150, 100);  // the sliders' ends
  EXPECT_DOUBLE_EQ(maxima.red, 1.0);
  EXPECT_DOUBLE_EQ(maxima.green, 1.0);
  EXPECT_DOUBLE_EQ(maxima.blue, 1.0);

  LcdColor beyond = emu_BacklightColor(255, 255, 255);
  EXPECT_DOUBLE_EQ(beyond.green, 1.0);
  EXPECT_DOUBLE_EQ(beyond.blue, 1.0);

  LcdColor dark = emu_BacklightColor(0, 0, 0);
  EXPECT_NEAR(dark.red, 128 / 255.0, 1e-9);
  EXPECT_NEAR(dark.green, 0.5, 1e-9);
  EXPECT_NEAR(dark.blue, 0.5, 1e-9);
  EXPECT_NEAR(emu_BacklightColor(1, 1, 1).red, dark.red, 1e-9);  // half values: odd bit drops
}

TEST(WindowColors, PixelOpacityFollowsContrast) {
  EXPECT_NEAR(emu_PixelOpacity(0), 15 / 31.0, 1e-9);  // still visible at the lowest contrast
  EXPECT_NEAR(emu_PixelOpacity(18), 0.774, 0.001);
  EXPECT_NEAR(emu_PixelOpacity(31), 0.968, 0.001);
  EXPECT_DOUBLE_EQ(emu_PixelOpacity(33), 1.0);
  EXPECT_DOUBLE_EQ(emu_PixelOpacity(255), 1.0);
}

TEST(WindowLayout, RowsKeepThePictureLayoutOrStaySquareAndCentred) {
  LcdRows picture = emu_LcdRowLayout(true, 0.3, 0.9);
  EXPECT_DOUBLE_EQ(picture.top, 16.6);
  EXPECT_DOUBLE_EQ(picture.height, 4.8);
  EXPECT_DOUBLE_EQ(picture.gap, 0.2);

  // Without the picture at equal scales the centred rows land where the picture has them.
  LcdRows square = emu_LcdRowLayout(false, 1.5, 1.5);
  EXPECT_NEAR(square.top, 16.6, 1e-9);
  EXPECT_NEAR(square.height, 4.8, 1e-9);

  // A window taller than the aspect: rows shrink in picture units but stay square on screen.
  double sw = 1.0, sh = 1.25;
  LcdRows tall = emu_LcdRowLayout(false, sw, sh);
  EXPECT_NEAR(tall.height * sh, LCD_PIXEL_SIZE * sw, 1e-9);
  EXPECT_NEAR(tall.gap * sh, LCD_PIXEL_GAP * sw, 1e-9);
  double used = LCD_ROWS * (tall.height + tall.gap) - tall.gap;
  EXPECT_NEAR(tall.top + used + tall.top, LCD_AREA_HEIGHT, 1e-9);
}

TEST(WindowInput, PictureKeysHitInclusiveBoundsInPictureUnits) {
  struct Case {
    double x, y;
    int expected;
  };
  const Case cases[] = {
      {113, 165, EMU_KEY_UP},           {192, 244, EMU_KEY_UP},
      {192.9, 200, EMU_KEY_UP},         {193, 200, 0},
      {112.9, 200, 0},                  {150, 245, 0},
      {150, 364.9, 0},                  {150, 365, EMU_KEY_DOWN},
      {1093, 165, EMU_KEY_ESCAPE},      {1172, 444, EMU_KEY_RETURN},
      {1173, 444, 0},                   {650, 300, 0},  // on the LCD
  };
  for (const Case& c : cases)
    EXPECT_EQ(emu_PictureClick(c.x, c.y, 1400, 1.0, 1.0), c.expected) << c.x << "," << c.y;

  // In a window of 800 x 412 one window pixel is 1.75 picture units.
  double s = 800.0 / 1400;
  EXPECT_EQ(emu_PictureClick(113 * s, 165 * s, 800, s, s), EMU_KEY_UP);
  EXPECT_EQ(emu_PictureClick(1132 * s, 404 * s, 800, s, s), EMU_KEY_RETURN);
  EXPECT_EQ(emu_PictureClick(193 * s + 0.01, 200 * s, 800, s, s), 0);
}

TEST(WindowInput, TopRightCornerTogglesFullscreen) {
  EXPECT_EQ(emu_PictureClick(799, 0, 800, 0.57, 0.57), AREA_TOGGLE_FULLSCREEN);
  EXPECT_EQ(emu_PictureClick(770, 29.9, 800, 0.57, 0.57), AREA_TOGGLE_FULLSCREEN);
  EXPECT_EQ(emu_PictureClick(769.9, 0, 800, 0.57, 0.57), 0);
  EXPECT_EQ(emu_PictureClick(799, 30, 800, 0.57, 0.57), 0);
  EXPECT_EQ(emu_AreaClick(799, 0, 800, 412), AREA_TOGGLE_FULLSCREEN);
}

TEST(WindowInput, QuadrantsWithoutThePicture) {
  struct Case {
    double x, y;
    int w, h;
    int expected;
  };
  const Case cases[] = {
      {0, 0, 800, 412, EMU_KEY_UP},         {400, 206, 800, 412, EMU_KEY_UP},
      {400, 207, 800, 412, EMU_KEY_DOWN},   {401, 206, 800, 412, EMU_KEY_ESCAPE},
      {401, 207, 800, 412, EMU_KEY_RETURN}, {799, 411, 800, 412, EMU_KEY_RETURN},
      {769, 0, 800, 412, EMU_KEY_ESCAPE},   {799, 30, 800, 412, EMU_KEY_ESCAPE},
      {400.5, 10, 801, 413, EMU_KEY_ESCAPE},  // halves by integer division
  };
  for (const Case& c : cases)
    EXPECT_EQ(emu_AreaClick(c.x, c.y, c.w, c.h), c.expected) << c.x << "," << c.y;
}
