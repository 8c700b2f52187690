// PPM/PGM and the predictive "V6"/"V7" raster, the first-word reader, the
// reading by content and the shared error text.
#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/files.h"
#include "core/mem.h"
#include "render/image.h"

namespace {

char last_error[1024];

bool is_blank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads "%d" after skipping white space and "#" comment lines; false when no
// number converts.
bool read_header_int(DataFile* file, int32_t* value) {
  data_skip_comments(file);
  int v = 0;
  if (data_scanf(file, "%d", &v) != 1) return false;
  *value = v;
  return true;
}

bool dimensions_ok(int32_t width, int32_t height) {
  return width > 0 && height > 0 && width <= IMAGE_MAX_DIMENSION && height <= IMAGE_MAX_DIMENSION &&
         (int64_t)width * height <= IMAGE_MAX_PIXELS;
}

// A buffer that grows as the data actually arrives, so that a short file
// claiming a huge size never makes a huge allocation.
struct GrowingBytes {
  uint8_t* data;
  size_t capacity;
  size_t total;
};

bool growing_reserve(GrowingBytes* b, size_t needed) {
  if (needed <= b->capacity) return true;
  size_t cap = b->capacity ? b->capacity : 65536;
  while (cap < needed) cap *= 2;
  if (cap > b->total) cap = b->total;
  uint8_t* bigger = (uint8_t*)mem_realloc(b->data, cap);
  if (!bigger) return false;
  b->data = bigger;
  b->capacity = cap;
  return true;
}

// Reads exactly total bytes from the stream into a new block.
uint8_t* read_exact(DataFile* file, size_t total) {
  GrowingBytes b = {nullptr, 0, total};
  size_t done = 0;
  while (done < total) {
    size_t chunk = total - done;
    if (chunk > ((size_t)1 << 20)) chunk = (size_t)1 << 20;
    if (!growing_reserve(&b, done + chunk)) break;
    size_t got = data_read(file, b.data + done, chunk);
    done += got;
    if (got < chunk) break;
  }
  if (done < total) {
    mem_free(b.data);
    return nullptr;
  }
  return b.data;
}

// The digit of a "P2", "P3", "P5" or "P6" word, else 0.
char pnm_kind(const char* word) {
  if (word[0] != 'P' || word[1] == 0 || word[2] != 0) return 0;
  return strchr("2356", word[1]) ? word[1] : 0;
}

bool ends_with(const char* text, const char* tail) {
  size_t n = strlen(text), m = strlen(tail);
  return n >= m && strcasecmp(text + n - m, tail) == 0;
}

uint8_t scale_sample(int64_t v, int32_t maximum) {
  if (v < 0) v = 0;
  if (v > maximum) v = maximum;
  if (maximum == 255) return (uint8_t)v;
  return (uint8_t)(v * 255 / maximum);
}

}  // namespace

// ---------------------------------------------------------------- shared

const char* image_last_error() { return last_error; }

void image_set_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(last_error, sizeof last_error, format, args);
  va_end(args);
}

void image_free(Image* image) {
  if (!image) return;
  mem_free(image->pixels);
  mem_free(image->info);
  memset(image, 0, sizeof *image);
}

bool image_read_magic(DataFile* file, char word[16], uint8_t* raw, size_t raw_capacity,
                      size_t* raw_size) {
  size_t used = 0;
  bool overflow = false;
  auto keep = [&](int c) {
    if (overflow) return;
    if (used < raw_capacity)
      raw[used++] = (uint8_t)c;
    else
      overflow = true;
  };
  int c;
  do {
    c = data_getc(file);
    if (c != EOF && is_blank(c)) keep(c);
  } while (c != EOF && is_blank(c));
  int n = 0;
  while (c != EOF && !is_blank(c) && n < 15) {
    word[n++] = (char)c;
    keep(c);
    if (n == 15) break;
    c = data_getc(file);
  }
  if (n < 15 && c != EOF && is_blank(c)) data_ungetc(file, c);
  word[n] = 0;
  *raw_size = overflow ? SIZE_MAX : used;
  return n > 0;
}

// ---------------------------------------------------------------- PPM / PGM

bool image_read_pnm_body(DataFile* file, char kind, Image* out) {
  memset(out, 0, sizeof *out);
  bool binary = kind == '5' || kind == '6';
  int32_t channels = (kind == '2' || kind == '5') ? 1 : 3;
  if (kind != '2' && kind != '3' && kind != '5' && kind != '6') {
    image_set_error("Can't parse PPM header");
    return false;
  }
  int32_t width = 0, height = 0, maximum = 0;
  if (!read_header_int(file, &width) || !read_header_int(file, &height) ||
      !read_header_int(file, &maximum) || !dimensions_ok(width, height) || maximum <= 0 ||
      maximum > 65535) {
    image_set_error("Can't get PPM dimensions");
    return false;
  }
  size_t samples = (size_t)width * height * channels;
  uint8_t* pixels = nullptr;
  if (binary) {
    data_getc(file);  // the one separator byte
    int bytes_per_sample = maximum > 255 ? 2 : 1;
    uint8_t* raw = read_exact(file, samples * bytes_per_sample);
    if (!raw) {
      image_set_error("Error reading PPM data");
      return false;
    }
    if (bytes_per_sample == 1) {
      pixels = raw;
      if (maximum != 255)
        for (size_t i = 0; i < samples; i++) pixels[i] = scale_sample(pixels[i], maximum);
    } else {
      pixels = (uint8_t*)mem_alloc(samples);
      if (!pixels) fatal_out_of_memory();
      for (size_t i = 0; i < samples; i++)
        pixels[i] = scale_sample((raw[2 * i] << 8) | raw[2 * i + 1], maximum);
      mem_free(raw);
    }
  } else {
    GrowingBytes b = {nullptr, 0, samples};
    for (size_t i = 0; i < samples; i++) {
      int v = 0;
      data_skip_comments(file);
      if (data_scanf(file, "%d", &v) != 1 || !growing_reserve(&b, i + 1)) {
        mem_free(b.data);
        image_set_error("Error reading PPM data");
        return false;
      }
      b.data[i] = scale_sample(v, maximum);
    }
    pixels = b.data;
  }
  out->width = width;
  out->height = height;
  out->channels = channels;
  out->pixels = pixels;
  return true;
}

bool image_read_pnm_stream(DataFile* file, Image* out) {
  memset(out, 0, sizeof *out);
  char word[16];
  uint8_t raw[32];
  size_t raw_size = 0;
  if (!file || !image_read_magic(file, word, raw, sizeof raw, &raw_size) || !pnm_kind(word)) {
    image_set_error("Can't parse PPM header");
    return false;
  }
  return image_read_pnm_body(file, word[1], out);
}

bool image_read_pnm(const char* name, Image* out) {
  memset(out, 0, sizeof *out);
  DataFile* file = name ? data_open(name, "rb") : nullptr;
  if (!file) {
    image_set_error("Can't open '%.900s'", name ? name : "");
    return false;
  }
  bool ok = image_read_pnm_stream(file, out);
  data_close(file);
  return ok;
}

// ---------------------------------------------------------------- V6 / V7

bool image_read_v_raster(DataFile* file, int32_t channels, Image* out) {
  memset(out, 0, sizeof *out);
  int32_t width = 0, height = 0;
  if (!read_header_int(file, &width) || !read_header_int(file, &height) ||
      !dimensions_ok(width, height)) {
    image_set_error("Can't get V%d dimensions", channels == 4 ? 7 : 6);
    return false;
  }
  data_getc(file);  // the one separator byte
  size_t row_bytes = (size_t)width * channels;
  uint8_t* p = read_exact(file, row_bytes * height);
  if (!p) {
    image_set_error("Error reading V%d data", channels == 4 ? 7 : 6);
    return false;
  }
  // Each stored byte is the difference to a prediction, modulo 256.
  for (int32_t y = 0; y < height; y++) {
    uint8_t* row = p + y * row_bytes;
    const uint8_t* above = y > 0 ? row - row_bytes : nullptr;
    for (int32_t x = 0; x < width; x++) {
      for (int32_t c = 0; c < channels; c++) {
        size_t i = (size_t)x * channels + c;
        int predicted;
        if (y == 0)
          predicted = x == 0 ? 0 : row[i - channels];
        else if (x == 0)
          predicted = above[i];
        else {
          predicted = row[i - channels] + above[i] - above[i - channels];
          if (predicted < 0) predicted = 0;
          if (predicted > 255) predicted = 255;
        }
        row[i] = (uint8_t)(row[i] + predicted);
      }
    }
  }
  out->width = width;
  out->height = height;
  out->channels = channels;
  out->pixels = p;
  return true;
}

// ---------------------------------------------------------------- by content

bool image_read_stream(DataFile* file, const char* name, Image* out) {
  memset(out, 0, sizeof *out);
  if (!file) {
    image_set_error("Can't open '%.900s'", name ? name : "");
    return false;
  }
  char word[16];
  uint8_t raw[64];
  size_t raw_size = 0;
  if (!image_read_magic(file, word, raw, sizeof raw, &raw_size)) {
    image_set_error("Empty image file '%.900s'", name ? name : "");
    return false;
  }
  if (strcmp(word, "V6") == 0) return image_read_v_raster(file, 3, out);
  if (strcmp(word, "V7") == 0) return image_read_v_raster(file, 4, out);
  if (pnm_kind(word)) return image_read_pnm_body(file, pnm_kind(word), out);
  static const uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (raw_size == SIZE_MAX || raw_size > 8 || memcmp(raw, PNG_SIGNATURE, raw_size) != 0) {
    if (name && (ends_with(name, ".ppm") || ends_with(name, ".pgm")))
      image_set_error("Can't parse PPM header");
    else
      image_set_error("Unknown image format in '%.900s'", name ? name : "");
    return false;
  }
  return image_read_png_stream(file, raw, raw_size, name, out);
}

bool image_read(const char* name, Image* out) {
  memset(out, 0, sizeof *out);
  DataFile* file = name ? data_open(name, "rb") : nullptr;
  if (!file) {
    image_set_error("Can't open '%.900s'", name ? name : "");
    return false;
  }
  bool ok = image_read_stream(file, name, out);
  data_close(file);
  return ok;
}
