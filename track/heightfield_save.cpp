// Writing the ground back into a track directory (track editor): terrain.hf
// header, 16-bit terrain.png, shading at both scales, tilemap and decals.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/files.h"
#include "core/mem.h"
#include "core/messages.h"
#include "render/image.h"
#include "render/texture.h"
#include "track/heightfield.h"

namespace {

// The text "%f" gives for a header height, rounded so that reading it back
// gives a value on the wanted side of v (below for the minimum, above for the
// maximum); *parsed receives that value.
void header_height(float v, bool down, char* text, size_t size, float* parsed) {
  double d = v;
  for (int attempt = 0; attempt < 16; attempt++) {
    snprintf(text, size, "%f", d);
    *parsed = strtof(text, nullptr);
    if (down ? *parsed <= v : *parsed >= v) return;
    d += down ? -1e-6 : 1e-6;
  }
  snprintf(text, size, "%f", (double)v);
  *parsed = v;
}

DataFile* create_file(const char* track_path, const char* name) {
  char* path = join(track_path, name);
  DataFile* file = data_open(path, "wb");
  mem_free(path);
  if (!file) print_messagef("Can't open '%s'", name);
  return file;
}

// Closes file; false (after a message) when something was not written.
bool finish_file(DataFile* file, const char* name, bool written) {
  if (written && !data_flush(file)) written = false;
  data_close(file);
  if (!written) print_messagef("Error writing '%s'", name);
  return written;
}

// Writes the header; *min and *max become the values a reader gets back.
bool save_header(const HeightField* hf, const char* track_path, float* min, float* max) {
  char min_text[64], max_text[64];
  bool flat = *min == *max;
  header_height(*min, true, min_text, sizeof min_text, min);
  if (flat) {
    memcpy(max_text, min_text, sizeof max_text);
    *max = *min;
  } else {
    header_height(*max, false, max_text, sizeof max_text, max);
  }
  DataFile* file = create_file(track_path, "terrain.hf");
  if (!file) return false;
  char spacing_text[64];
  snprintf(spacing_text, sizeof spacing_text, "%f", (double)hf->spacing);
  bool ok = data_printf(file, "%d %s %s %s\n", hf->size_log2, spacing_text, min_text, max_text) > 0;
  return finish_file(file, "terrain.hf", ok);
}

bool save_png(const HeightField* hf, const char* track_path, float min, float max) {
  int32_t g = hf->grid_size;
  size_t count = (size_t)g * (size_t)g;
  uint16_t* samples = (uint16_t*)mem_alloc_or_die(count * sizeof(uint16_t));
  double range = (double)max - (double)min;
  for (size_t k = 0; k < count; k++) {
    double s = range > 0 ? ((double)hf->heights[k] - min) / range * 65535.0 + 0.5 : 0.0;
    // Not-a-number heights (never expected) write as 0.
    if (!(s >= 0)) s = 0;
    if (s > 65535) s = 65535;
    samples[k] = (uint16_t)s;
  }
  char* path = join(track_path, "terrain.png");
  bool ok = image_write_png_grey16(path, samples, g, g);
  mem_free(path);
  mem_free(samples);
  if (!ok) print_message("Can't open 'terrain.png'");
  return ok;
}

bool save_shading(const HeightField* hf, const char* track_path, const char* name, bool doubled) {
  DataFile* file = create_file(track_path, name);
  if (!file) return false;
  int32_t g = hf->grid_size;
  bool ok = data_printf(file, "P6\n%d %d\n255\n", g, g) > 0;
  size_t row_bytes = (size_t)g * 3;
  uint8_t* row = (uint8_t*)mem_alloc_or_die(row_bytes);
  for (int32_t j = 0; ok && j < g; j++) {
    const uint8_t* in = hf->shading ? hf->shading + (size_t)j * row_bytes : nullptr;
    for (size_t k = 0; k < row_bytes; k++) {
      int32_t value = in ? in[k] : 0;
      if (doubled) value = value * 2 > 255 ? 255 : value * 2;
      row[k] = (uint8_t)value;
    }
    ok = data_write(file, row, row_bytes) == row_bytes;
  }
  mem_free(row);
  return finish_file(file, name, ok);
}

bool save_tilemap(const HeightField* hf, const char* track_path) {
  DataFile* file = create_file(track_path, "tilemap");
  if (!file) return false;
  size_t cells = (size_t)1 << hf->size_log2;
  size_t count = cells * cells;
  bool ok;
  if (hf->tilemap) {
    ok = data_write(file, hf->tilemap, count) == count;
  } else {
    ok = true;
    for (size_t k = 0; ok && k < count; k++) ok = data_putc(file, 0) != EOF;
  }
  return finish_file(file, "tilemap", ok);
}

bool save_decals(const HeightField* hf, const char* track_path) {
  DataFile* file = create_file(track_path, "decals");
  if (!file) return false;
  bool ok = true;
  for (int32_t k = 0; ok && k < hf->decals.count; k++) {
    const Decal* d = &hf->decals.data[k];
    const char* name = d->texture ? texture_name(d->texture) : nullptr;
    if (!name) name = d->name ? d->name : "";
    ok = data_printf(file, "[%f %f] %f %f %f %s\n", d->x, d->z, d->angle, d->size, d->aspect,
                     name) > 0;
  }
  return finish_file(file, "decals", ok);
}

}  // namespace

bool terrain_save(HeightField* hf, const char* track_path) {
  if (!hf->heights || hf->grid_size <= 0) return false;
  size_t count = (size_t)hf->grid_size * (size_t)hf->grid_size;
  float min = INFINITY, max = -INFINITY;
  for (size_t k = 0; k < count; k++) {
    float h = hf->heights[k];
    if (!std::isfinite(h)) continue;
    if (h < min) min = h;
    if (h > max) max = h;
  }
  if (!(min <= max)) min = max = hf->min_height;
  if (!save_header(hf, track_path, &min, &max)) return false;
  hf->min_height = min;
  hf->max_height = max;
  if (!save_png(hf, track_path, min, max)) return false;
  if (!save_shading(hf, track_path, "shading.ppm", true)) return false;
  if (!save_shading(hf, track_path, "shadingx2.ppm", false)) return false;
  if (!save_tilemap(hf, track_path)) return false;
  if (hf->has_decals && !save_decals(hf, track_path)) return false;
  return true;
}
