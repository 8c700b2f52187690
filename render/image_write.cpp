// PNG writing: 16-bit grey (the editor's height image) and 8-bit RGB
// (screenshots), through the file layer.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "core/files.h"
#include "core/mem.h"
#include "render/image.h"

namespace {

struct PngWrite {
  DataFile* file;
  png_structp png;
  png_infop info;
  const uint8_t* pixels;  // rows of row_bytes, already in PNG byte order
  size_t row_bytes;
  int32_t width;
  int32_t height;
  int32_t bit_depth;
  int32_t color_type;
};

void write_fn(png_structp png, png_bytep data, size_t length) {
  PngWrite* w = (PngWrite*)png_get_io_ptr(png);
  if (data_write(w->file, data, length) != length) png_error(png, "write failed");
}

void flush_fn(png_structp) {}

void error_fn(png_structp png, png_const_charp message) {
  image_set_error("PNG error: %.900s", message ? message : "");
  png_longjmp(png, 1);
}

void warning_fn(png_structp, png_const_charp) {}

png_voidp malloc_fn(png_structp, png_alloc_size_t size) { return mem_alloc(size ? size : 1); }
void free_fn(png_structp, png_voidp block) { mem_free(block); }

bool encode(PngWrite* w) {
  if (setjmp(png_jmpbuf(w->png))) return false;
  png_set_write_fn(w->png, w, write_fn, flush_fn);
  png_set_IHDR(w->png, w->info, (png_uint_32)w->width, (png_uint_32)w->height, w->bit_depth,
               w->color_type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(w->png, w->info);
  for (int32_t y = 0; y < w->height; y++)
    png_write_row(w->png, (png_const_bytep)(w->pixels + w->row_bytes * y));
  png_write_end(w->png, nullptr);
  return true;
}

bool write_png(const char* name, PngWrite* w) {
  if (!name || !w->pixels || w->width <= 0 || w->height <= 0 || w->width > IMAGE_MAX_DIMENSION ||
      w->height > IMAGE_MAX_DIMENSION) {
    image_set_error("Bad image for '%.900s'", name ? name : "");
    return false;
  }
  w->file = data_open(name, "wb");
  if (!w->file) {
    image_set_error("Can't open '%.900s'", name);
    return false;
  }
  bool ok = false;
  w->png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, nullptr, error_fn, warning_fn, nullptr,
                                     malloc_fn, free_fn);
  if (w->png) {
    w->info = png_create_info_struct(w->png);
    ok = w->info && encode(w);
    png_destroy_write_struct(&w->png, &w->info);
  } else {
    image_set_error("Can't create PNG writer");
  }
  if (!data_flush(w->file)) ok = false;
  data_close(w->file);
  w->file = nullptr;
  return ok;
}

}  // namespace

bool image_write_png_grey16(const char* name, const uint16_t* samples, int32_t width,
                            int32_t height) {
  if (!samples || width <= 0 || height <= 0 || width > IMAGE_MAX_DIMENSION ||
      height > IMAGE_MAX_DIMENSION) {
    image_set_error("Bad image for '%.900s'", name ? name : "");
    return false;
  }
  // PNG stores 16-bit samples most significant byte first.
  size_t count = (size_t)width * height;
  uint8_t* bytes = (uint8_t*)mem_alloc(count * 2);
  if (!bytes) fatal_out_of_memory();
  for (size_t i = 0; i < count; i++) {
    bytes[2 * i] = (uint8_t)(samples[i] >> 8);
    bytes[2 * i + 1] = (uint8_t)samples[i];
  }
  PngWrite w;
  memset(&w, 0, sizeof w);
  w.pixels = bytes;
  w.row_bytes = (size_t)width * 2;
  w.width = width;
  w.height = height;
  w.bit_depth = 16;
  w.color_type = PNG_COLOR_TYPE_GRAY;
  bool ok = write_png(name, &w);
  mem_free(bytes);
  return ok;
}

namespace {

bool write_png_8bit(const char* name, const uint8_t* pixels, int32_t width, int32_t height,
                    int32_t channels, int color_type) {
  PngWrite w;
  memset(&w, 0, sizeof w);
  w.pixels = pixels;
  w.row_bytes = (size_t)width * (size_t)channels;
  w.width = width;
  w.height = height;
  w.bit_depth = 8;
  w.color_type = color_type;
  return write_png(name, &w);
}

}  // namespace

bool image_write_png_rgb(const char* name, const uint8_t* rgb, int32_t width, int32_t height) {
  return write_png_8bit(name, rgb, width, height, 3, PNG_COLOR_TYPE_RGB);
}

bool image_write_png_rgba(const char* name, const uint8_t* rgba, int32_t width, int32_t height) {
  return write_png_8bit(name, rgba, width, height, 4, PNG_COLOR_TYPE_RGBA);
}
