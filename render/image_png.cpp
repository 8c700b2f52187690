// PNG reading through libpng: RGB/RGBA images with their info text (text
// chunks and the ".info" side file) and 16-bit grey samples for height images.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "core/files.h"
#include "core/mem.h"
#include "render/image.h"

namespace {

// Interlaced images need the whole image in memory before the first row is
// complete, so they get a smaller limit than images read row by row.
constexpr int64_t PNG_MAX_INTERLACED_PIXELS = (int64_t)1 << 24;
constexpr size_t INFO_FILE_MAX = (size_t)1 << 20;
constexpr png_alloc_size_t PNG_CHUNK_MALLOC_MAX = (png_alloc_size_t)8 << 20;
constexpr png_alloc_size_t PNG_LIBRARY_BLOCK_MAX = (png_alloc_size_t)16 << 20;
constexpr png_uint_32 PNG_CHUNK_CACHE_MAX = 1000;

enum PngTarget { PNG_TO_RGB, PNG_TO_GREY16 };

// Everything the reader keeps across libpng calls (libpng reports errors by
// longjmp, so the state lives in memory reachable from the io pointer).
struct PngRead {
  DataFile* file;
  const uint8_t* prefix;
  size_t prefix_size;
  size_t prefix_pos;
  PngTarget target;
  const char* name;  // for messages, may be nullptr
  png_structp png;
  png_infop info;
  png_infop end_info;
  uint8_t* rows;            // decoded rows, row_bytes each
  png_bytep* row_pointers;  // interlaced images only
  size_t rows_capacity;
  size_t row_bytes;
  int32_t width;
  int32_t height;
  int32_t channels;
  int32_t bit_depth;
  bool rows_done;
  char* text;
  size_t text_size;
};

void read_fn(png_structp png, png_bytep data, size_t length) {
  PngRead* r = (PngRead*)png_get_io_ptr(png);
  size_t done = 0;
  while (done < length && r->prefix_pos < r->prefix_size) data[done++] = r->prefix[r->prefix_pos++];
  if (done < length && data_read(r->file, data + done, length - done) < length - done)
    png_error(png, "unexpected end of file");
}

void error_fn(png_structp png, png_const_charp message) {
  PngRead* r = (PngRead*)png_get_error_ptr(png);
  image_set_error("PNG error in '%.900s': %.100s", r && r->name ? r->name : "",
                  message ? message : "");
  png_longjmp(png, 1);
}

void warning_fn(png_structp, png_const_charp) {}

// libpng's own blocks (row buffers, chunk data) stay small for any image we
// accept; refusing larger ones makes a damaged chunk length fail at once
// instead of allocating and clearing gigabytes.
png_voidp malloc_fn(png_structp, png_alloc_size_t size) {
  if (size > PNG_LIBRARY_BLOCK_MAX) return nullptr;
  return mem_alloc(size ? size : 1);
}
void free_fn(png_structp, png_voidp block) { mem_free(block); }

bool append_text(PngRead* r, const char* text, size_t size) {
  if (!size) return true;
  char* bigger = (char*)mem_realloc(r->text, r->text_size + size + 1);
  if (!bigger) return false;
  memcpy(bigger + r->text_size, text, size);
  r->text_size += size;
  bigger[r->text_size] = 0;
  r->text = bigger;
  return true;
}

void append_chunks(PngRead* r, png_infop info) {
  png_textp text = nullptr;
  int count = 0;
  if (!info || !png_get_text(r->png, info, &text, &count)) return;
  for (int i = 0; i < count; i++)
    if (text[i].text) append_text(r, text[i].text, strlen(text[i].text));
}

// The ".info" side file named like the image.
void append_info_file(PngRead* r, const char* name) {
  if (!name) return;
  char* info_name = join(name, ".info");
  if (!info_name) return;
  DataFile* f = data_open(info_name, "rb");
  mem_free(info_name);
  if (!f) return;
  char buffer[4096];
  size_t total = 0, got;
  while (total < INFO_FILE_MAX && (got = data_read(f, buffer, sizeof buffer)) > 0) {
    if (!append_text(r, buffer, got)) break;
    total += got;
  }
  data_close(f);
}

bool reserve_rows(PngRead* r, size_t needed) {
  if (needed <= r->rows_capacity) return true;
  size_t full = r->row_bytes * (size_t)r->height;
  size_t cap = r->rows_capacity ? r->rows_capacity : 65536;
  while (cap < needed) cap *= 2;
  if (cap > full) cap = full;
  uint8_t* bigger = (uint8_t*)mem_realloc(r->rows, cap);
  if (!bigger) return false;
  r->rows = bigger;
  r->rows_capacity = cap;
  return true;
}

void set_transforms(PngRead* r) {
  png_structp png = r->png;
  png_uint_32 w = 0, h = 0;
  int depth = 0, color = 0, interlace = 0;
  png_get_IHDR(png, r->info, &w, &h, &depth, &color, &interlace, nullptr, nullptr);
  if (w == 0 || h == 0 || w > (png_uint_32)IMAGE_MAX_DIMENSION ||
      h > (png_uint_32)IMAGE_MAX_DIMENSION || (int64_t)w * h > IMAGE_MAX_PIXELS ||
      (interlace != PNG_INTERLACE_NONE && (int64_t)w * h > PNG_MAX_INTERLACED_PIXELS))
    png_error(png, "image too large");
  r->width = (int32_t)w;
  r->height = (int32_t)h;
  if (color == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if ((color & PNG_COLOR_MASK_COLOR) == 0 && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (r->target == PNG_TO_RGB) {
    if (png_get_valid(png, r->info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_strip_16(png);
    if ((color & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  } else {
    if (color & PNG_COLOR_MASK_COLOR) png_set_rgb_to_gray_fixed(png, 1, -1, -1);
    if (color & PNG_COLOR_MASK_ALPHA) png_set_strip_alpha(png);
  }
}

// Decodes into r; false after an error (r->rows may hold a partial image).
bool decode(PngRead* r) {
  if (setjmp(png_jmpbuf(r->png))) return r->rows_done;
  png_set_user_limits(r->png, IMAGE_MAX_DIMENSION, IMAGE_MAX_DIMENSION);
  // A damaged chunk length must not make libpng allocate gigabytes.
  png_set_chunk_malloc_max(r->png, PNG_CHUNK_MALLOC_MAX);
  png_set_chunk_cache_max(r->png, PNG_CHUNK_CACHE_MAX);
  png_set_read_fn(r->png, r, read_fn);
  png_read_info(r->png, r->info);
  set_transforms(r);
  int passes = png_set_interlace_handling(r->png);
  png_read_update_info(r->png, r->info);
  r->channels = png_get_channels(r->png, r->info);
  r->bit_depth = png_get_bit_depth(r->png, r->info);
  r->row_bytes = png_get_rowbytes(r->png, r->info);
  bool shape_ok = r->target == PNG_TO_RGB
                      ? (r->bit_depth == 8 && (r->channels == 3 || r->channels == 4))
                      : (r->channels == 1 && (r->bit_depth == 8 || r->bit_depth == 16));
  if (!shape_ok || r->row_bytes != (size_t)r->width * r->channels * (r->bit_depth / 8))
    png_error(r->png, "unsupported pixel format");
  if (passes > 1) {
    if (!reserve_rows(r, r->row_bytes * r->height)) png_error(r->png, "out of memory");
    r->row_pointers = (png_bytep*)mem_alloc(sizeof(png_bytep) * (size_t)r->height);
    if (!r->row_pointers) png_error(r->png, "out of memory");
    for (int32_t y = 0; y < r->height; y++) r->row_pointers[y] = r->rows + r->row_bytes * y;
    png_read_image(r->png, r->row_pointers);
  } else {
    for (int32_t y = 0; y < r->height; y++) {
      if (!reserve_rows(r, r->row_bytes * (y + 1))) png_error(r->png, "out of memory");
      png_read_row(r->png, r->rows + r->row_bytes * y, nullptr);
    }
  }
  r->rows_done = true;
  append_chunks(r, r->info);
  png_read_end(r->png, r->end_info);
  append_chunks(r, r->end_info);
  return true;
}

// Runs the decoder over a stream; the caller owns r->rows and r->text after.
bool read_png(PngRead* r, const char* name) {
  r->name = name;
  r->png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, r, error_fn, warning_fn, nullptr,
                                    malloc_fn, free_fn);
  if (!r->png) {
    image_set_error("Can't create PNG reader");
    return false;
  }
  r->info = png_create_info_struct(r->png);
  r->end_info = png_create_info_struct(r->png);
  bool ok = r->info && r->end_info && decode(r);
  png_destroy_read_struct(&r->png, &r->info, &r->end_info);
  mem_free(r->row_pointers);
  r->row_pointers = nullptr;
  if (!ok) {
    mem_free(r->rows);
    mem_free(r->text);
    r->rows = nullptr;
    r->text = nullptr;
  }
  return ok;
}

}  // namespace

bool image_read_png_stream(DataFile* file, const uint8_t* prefix, size_t prefix_size,
                           const char* name, Image* out) {
  memset(out, 0, sizeof *out);
  if (!file) return false;
  PngRead r;
  memset(&r, 0, sizeof r);
  r.file = file;
  r.prefix = prefix;
  r.prefix_size = prefix ? prefix_size : 0;
  r.target = PNG_TO_RGB;
  if (!read_png(&r, name)) return false;
  // The info text was collected while the chunks were read; the side file
  // follows them.
  append_info_file(&r, name);
  out->width = r.width;
  out->height = r.height;
  out->channels = r.channels;
  out->pixels = r.rows;
  out->info = r.text;
  return true;
}

bool image_read_png_grey16_stream(DataFile* file, const char* name, uint16_t** samples,
                                  int32_t* width, int32_t* height) {
  *samples = nullptr;
  *width = *height = 0;
  if (!file) return false;
  PngRead r;
  memset(&r, 0, sizeof r);
  r.file = file;
  r.target = PNG_TO_GREY16;
  if (!read_png(&r, name)) return false;
  mem_free(r.text);
  size_t count = (size_t)r.width * r.height;
  uint16_t* out = (uint16_t*)mem_alloc(count * sizeof(uint16_t));
  if (!out) fatal_out_of_memory();
  if (r.bit_depth == 16) {
    for (size_t i = 0; i < count; i++)
      out[i] = (uint16_t)((r.rows[2 * i] << 8) | r.rows[2 * i + 1]);
  } else {
    for (size_t i = 0; i < count; i++) out[i] = (uint16_t)(r.rows[i] * 257);
  }
  mem_free(r.rows);
  *samples = out;
  *width = r.width;
  *height = r.height;
  return true;
}

bool image_read_png_grey16(const char* name, uint16_t** samples, int32_t* width, int32_t* height) {
  *samples = nullptr;
  *width = *height = 0;
  DataFile* file = name ? data_open(name, "rb") : nullptr;
  if (!file) {
    image_set_error("Can't open '%.900s'", name ? name : "");
    return false;
  }
  bool ok = image_read_png_grey16_stream(file, name, samples, width, height);
  data_close(file);
  return ok;
}
