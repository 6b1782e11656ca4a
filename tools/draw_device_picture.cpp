// Draws the device picture (placeholder).
#include <cairo.h>
int main(int argc, char** argv) {
  if (argc < 2) return 1;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1294, 666);
  cairo_status_t st = cairo_surface_write_to_png(s, argv[1]);
  cairo_surface_destroy(s);
  return st == CAIRO_STATUS_SUCCESS ? 0 : 1;
}
