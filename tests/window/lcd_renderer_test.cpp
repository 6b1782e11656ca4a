// The LCD renderer drawn into image surfaces: colours, pixel places, rotation, number memory.
#include "window/lcd_renderer.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

namespace {

struct Rgb {
  int r, g, b;
};

void SetPixel(uint8_t* mem, int column, int row) {
  mem[(row / 8) * 132 + column] |= static_cast<uint8_t>(1 << (row % 8));
}

// An image of w x h device pixels showing the picture units from (left, top) at `zoom`.
class LcdImage {
 public:
  LcdImage(const LcdView& view, int w, int h, double zoom = 1.0, double left = 0, double top = 0,
           bool withPicture = true, double sw = 1.0, double sh = 1.0) {
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_t* cr = cairo_create(surface_);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_scale(cr, zoom, zoom);
    cairo_translate(cr, -left, -top);
    emu_RenderLcd(cr, view, 0, 0, withPicture, sw, sh);
    cairo_destroy(cr);
    cairo_surface_flush(surface_);
  }
  ~LcdImage() { cairo_surface_destroy(surface_); }
  Rgb At(int x, int y) const {
    const uint8_t* row = cairo_image_surface_get_data(surface_) +
                         y * cairo_image_surface_get_stride(surface_);
    uint32_t px;
    memcpy(&px, row + 4 * x, 4);
    return {static_cast<int>((px >> 16) & 0xFF), static_cast<int>((px >> 8) & 0xFF),
            static_cast<int>(px & 0xFF)};
  }
  int DarkCount(int x0, int y0, int x1, int y1) const {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += At(x, y).r < 120;
    return n;
  }

 private:
  cairo_surface_t* surface_;
};

int Channel(double v) { return static_cast<int>(v * 255 + 0.5); }

void ExpectColor(Rgb got, Rgb want, const char* where) {
  EXPECT_NEAR(got.r, want.r, 1) << where;
  EXPECT_NEAR(got.g, want.g, 1) << where;
  EXPECT_NEAR(got.b, want.b, 1) << where;
}

class LcdRenderer : public ::testing::Test {
 protected:
  uint8_t mem[1056] = {};
  LcdView view{mem, 165, 111, 28, 18, false, false, 0};
  Rgb Backlight() const {
    LcdColor c = emu_BacklightColor(view.red, view.green, view.blue);
    return {Channel(c.red), Channel(c.green), Channel(c.blue)};
  }
  // The pixel colour: grey 0.25 over the backlight at the contrast's opacity.
  Rgb PixelOver(Rgb back) const {
    double a = emu_PixelOpacity(view.contrast);
    auto mix = [a](int bg) { return static_cast<int>(0.25 * 255 * a + bg * (1 - a) + 0.5); };
    return {mix(back.r), mix(back.g), mix(back.b)};
  }
};

TEST_F(LcdRenderer, NothingIsDrawnBeforeTheFirstFrame) {
  view.displayMem = nullptr;
  LcdImage img(view, 740, 353);
  ExpectColor(img.At(370, 176), {255, 255, 255}, "centre");
}

TEST_F(LcdRenderer, BacklightAndFrame) {
  LcdImage img(view, 740, 353);
  ExpectColor(img.At(20, 176), {210, 221, 163}, "backlight at the stored defaults");
  ExpectColor(img.At(370, 8), Backlight(), "just inside the frame");
  ExpectColor(img.At(3, 176), {77, 77, 77}, "frame, left");
  ExpectColor(img.At(736, 176), {77, 77, 77}, "frame, right");
  ExpectColor(img.At(370, 349), {77, 77, 77}, "frame, bottom");

  view.red = 255, view.green = 150, view.blue = 100;
  LcdImage full(view, 740, 353);
  ExpectColor(full.At(20, 176), {255, 255, 255}, "backlight at the sliders' ends");
}

TEST_F(LcdRenderer, PixelOpacityFollowsContrast) {
  memset(mem, 0xFF, sizeof mem);
  for (int contrast : {0, 18, 31, 255}) {
    view.contrast = contrast;
    LcdImage img(view, 740, 353);
    ExpectColor(img.At(372, 174), PixelOver(Backlight()), std::to_string(contrast).c_str());
  }
}

TEST_F(LcdRenderer, PixelsSitOnTheirPitchWithGaps) {
  SetPixel(mem, 0, 0);
  SetPixel(mem, 1, 0);
  SetPixel(mem, 0, 1);
  // Ten device pixels per unit, showing units 38..58 x 14..26: pixel (0,0) covers device
  // x 21..69, y 26..74; the column gap is x 69..71 and the row gap y 74..76.
  LcdImage img(view, 200, 120, 10.0, 38, 14);
  Rgb dark = PixelOver(Backlight());
  ExpectColor(img.At(45, 50), dark, "pixel (0,0)");
  ExpectColor(img.At(95, 50), dark, "pixel (1,0)");
  ExpectColor(img.At(45, 100), dark, "pixel (0,1)");
  ExpectColor(img.At(95, 100), Backlight(), "pixel (1,1) is clear");
  ExpectColor(img.At(19, 50), Backlight(), "left of the first column");
  ExpectColor(img.At(45, 24), Backlight(), "above the first row");
  ExpectColor(img.At(69, 50), Backlight(), "column gap");
  ExpectColor(img.At(45, 74), Backlight(), "row gap");
  ExpectColor(img.At(20, 50), Backlight(), "first column edge is 40.1, not 40");
  EXPECT_NE(img.At(21, 50).r, Backlight().r);
}

TEST_F(LcdRenderer, DisplayMemoryLayoutAndRotation) {
  SetPixel(mem, 0, 0);
  SetPixel(mem, 5, 10);  // bit 2 of byte 132 + 5
  ASSERT_EQ(mem[137], 0x04);
  Rgb dark = PixelOver(Backlight());
  {
    LcdImage img(view, 740, 353);
    ExpectColor(img.At(42, 19), dark, "top-left pixel");
    ExpectColor(img.At(67, 69), dark, "pixel (5,10)");
    ExpectColor(img.At(697, 334), Backlight(), "bottom-right is clear");
  }
  view.rotated = true;
  LcdImage img(view, 740, 353);
  ExpectColor(img.At(42, 19), Backlight(), "top-left is clear when turned");
  ExpectColor(img.At(697, 334), dark, "pixel (0,0) at the bottom right");
  ExpectColor(img.At(40 + 5 * 126 + 2, 16 + 5 * 53 + 3), dark, "pixel (5,10) at (126,53)");
}

TEST_F(LcdRenderer, RowsWithoutThePictureAreCentred) {
  SetPixel(mem, 0, 0);
  SetPixel(mem, 0, 63);
  // Scales 1 x 1.25: rows 3.84 high on a pitch of 4, the first at 48.58.
  LcdImage img(view, 740, 353, 1.0, 0, 0, false, 1.0, 1.25);
  Rgb dark = PixelOver(Backlight());
  ExpectColor(img.At(42, 50), dark, "first row");
  ExpectColor(img.At(42, 47), Backlight(), "above the first row");
  ExpectColor(img.At(42, 302), dark, "last row");
  ExpectColor(img.At(42, 305), Backlight(), "below the last row");
}

TEST_F(LcdRenderer, NumberMemoryIsShownOnlyWhenEnabled) {
  view.numberMem = 7;
  LcdImage off(view, 740, 353);
  EXPECT_EQ(off.DarkCount(665, 35, 720, 75), 0);
  view.numberMemEnabled = true;
  LcdImage on(view, 740, 353);
  // "07" in Courier 24 from x 670.1 on the baseline 64.6: two glyphs, nothing below the line.
  EXPECT_GT(on.DarkCount(668, 40, 684, 66), 20);
  EXPECT_GT(on.DarkCount(684, 40, 700, 66), 10);
  EXPECT_EQ(on.DarkCount(665, 67, 720, 80), 0);
}

TEST_F(LcdRenderer, PngIsTheLcdAreaAtPictureScale) {
  SetPixel(mem, 0, 0);
  std::string path = ::testing::TempDir() + "lcd_render_test.png";
  ASSERT_EQ(emu_RenderLcdPng(view, path.c_str()), 0);
  cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
  ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  EXPECT_EQ(cairo_image_surface_get_width(png), 740);
  EXPECT_EQ(cairo_image_surface_get_height(png), 353);
  uint32_t px;
  memcpy(&px, cairo_image_surface_get_data(png) + 19 * cairo_image_surface_get_stride(png) + 4 * 42,
         4);
  EXPECT_NEAR(static_cast<int>((px >> 16) & 0xFF), PixelOver(Backlight()).r, 1);
  cairo_surface_destroy(png);
  unlink(path.c_str());
  EXPECT_EQ(emu_RenderLcdPng(view, "/nonexistent-dir/x.png"), -1);
}

}  // namespace
