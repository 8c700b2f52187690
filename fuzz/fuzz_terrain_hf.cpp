// Fuzzes the ground readers: the terrain.hf header with its binary samples,
// the tilemap bytes and the decal lines with their buckets, then the queries
// on whatever field they produced.
//
// Input layout: byte 0 tile count - 1, bytes 1-2 tilemap length, bytes 3-4
// decals length (little-endian), then the tilemap bytes, the decal text, and
// the rest is terrain.hf.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/files.h"
#include "track/heightfield.h"

namespace {

constexpr int32_t LARGEST_FUZZED_SIZE_LOG2 = 8;  // larger fields only cost time

size_t take(size_t* size, size_t want) {
  size_t got = want < *size ? want : *size;
  *size -= got;
  return got;
}

// The header's first number as the reader would see it, to keep fields small.
bool small_enough(const uint8_t* data, size_t size) {
  char text[64];
  size_t n = size < sizeof text - 1 ? size : sizeof text - 1;
  memcpy(text, data, n);
  text[n] = 0;
  long value = strtol(text, nullptr, 10);
  return value <= LARGEST_FUZZED_SIZE_LOG2;
}

float float_from(const uint8_t* data, size_t size, size_t at) {
  uint32_t bits = 0;
  for (size_t k = 0; k < 4; k++) bits = bits << 8 | (size ? data[(at + k) % size] : 0);
  float value;
  memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  int32_t tile_count = data[0] + 1;
  size_t tilemap_size = (size_t)data[1] | (size_t)data[2] << 8;
  size_t decals_size = (size_t)data[3] | (size_t)data[4] << 8;
  const uint8_t* p = data + 5;
  size_t left = size - 5;
  const uint8_t* tilemap = p;
  tilemap_size = take(&left, tilemap_size);
  p += tilemap_size;
  const uint8_t* decals = p;
  decals_size = take(&left, decals_size);
  p += decals_size;
  if (!small_enough(p, left)) return 0;

  static HeightField hf;
  DataFile* file = data_open_memory(p, left, false, false);
  if (!file) return 0;
  bool ok = hf_read_heights(&hf, file, nullptr);
  data_close(file);
  if (ok) {
    hf.tile_count = tile_count;
    file = data_open_memory(tilemap, tilemap_size, false, false);
    if (file) {
      if (!hf_read_tilemap(&hf, file)) __builtin_trap();
      data_close(file);
      size_t cells = (size_t)1 << (2 * hf.size_log2);
      for (size_t k = 0; k < cells; k++)
        if (hf.tilemap[k] >= tile_count) __builtin_trap();
    }
    file = data_open_memory(decals, decals_size, false, false);
    if (file) {
      decals_read(&hf, file, false);
      data_close(file);
      decal_buckets_build(&hf);
    }
    for (size_t k = 0; k < 8; k++) {
      float x = float_from(data, size, k * 8), z = float_from(data, size, k * 8 + 4);
      volatile float h = hf_height_at(&hf, x, z);
      (void)h;
      int32_t tile = hf_tile_at(&hf, x, z);
      if (tile < 0 || tile >= tile_count) __builtin_trap();
      float normal[3];
      hf_vertex_normal(&hf, (int32_t)(data[k % size] % 8) - 2, hf.grid_size - 3 + (int32_t)k,
                       normal);
    }
    hf.tile_count = 0;  // no tile records were loaded
  }
  terrain_free(&hf);
  return 0;
}
