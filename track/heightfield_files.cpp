// Loading the ground of a track directory: terrain.hf (with binary samples or
// terrain.png), shading, shadows, tile types, tilemap and decals, in that order
// with the loading messages.
#include <nettle/ripemd160.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/config.h"
#include "core/files.h"
#include "core/loading.h"
#include "core/mem.h"
#include "core/messages.h"
#include "core/program.h"
#include "platform/log.h"
#include "render/image.h"
#include "render/texture.h"
#include "track/heightfield.h"

namespace {

constexpr size_t HEIGHT_CHUNK_BYTES = 65536;  // binary samples read per step

void log_digest(const uint8_t digest[20]) {
  char hex[41];
  for (int k = 0; k < 20; k++) snprintf(hex + 2 * k, 3, "%02x", digest[k]);
  log_printf("%s\n", hex);
}

// Height of a 16-bit sample. Computed in double so that 0 and 65535 give
// min_height and max_height exactly.
struct SampleScale {
  double min;
  double range;
};

inline float sample_height(const SampleScale& scale, uint32_t sample) {
  return (float)(scale.min + (double)sample * scale.range / 65535.0);
}

// Binary samples following ':' in terrain.hf. A short section leaves the
// remaining samples at 0 (min_height).
void read_binary_samples(HeightField* hf, DataFile* file, ripemd160_ctx* digest) {
  size_t count = (size_t)hf->grid_size * (size_t)hf->grid_size;
  SampleScale scale = {hf->min_height, (double)hf->max_height - (double)hf->min_height};
  // Every sample value's height, computed once with the exact formula.
  float* table = (float*)mem_alloc_or_die(65536 * sizeof(float));
  for (uint32_t s = 0; s < 65536; s++) table[s] = sample_height(scale, s);
  uint8_t* buffer = (uint8_t*)mem_alloc_or_die(HEIGHT_CHUNK_BYTES);
  size_t done = 0;
  while (done < count) {
    loading_spinner("Loading heights");
    size_t want = count - done;
    if (want > HEIGHT_CHUNK_BYTES / 2) want = HEIGHT_CHUNK_BYTES / 2;
    size_t got = data_read(file, buffer, want * 2) / 2;
    float* out = hf->heights + done;
    for (size_t k = 0; k < got; k++)
      out[k] = table[(uint32_t)buffer[2 * k] | ((uint32_t)buffer[2 * k + 1] << 8)];
    ripemd160_update(digest, got * 2, buffer);
    done += got;
    if (got < want) break;
  }
  if (done < count) {
    log_printf("Height data ends after %lu of %lu samples, the rest is at minimum height\n",
               (unsigned long)done, (unsigned long)count);
    memset(buffer, 0, HEIGHT_CHUNK_BYTES);
    for (size_t k = done; k < count; k++) hf->heights[k] = hf->min_height;
    size_t left = (count - done) * 2;
    while (left > 0) {
      size_t step = left < HEIGHT_CHUNK_BYTES ? left : HEIGHT_CHUNK_BYTES;
      ripemd160_update(digest, step, buffer);
      left -= step;
    }
  }
  mem_free(table);
  mem_free(buffer);
}

// Heights from a 16-bit grey image; a smaller image repeats its last row and
// column, an unreadable one gives a flat field.
void read_png_samples(HeightField* hf, const char* png_name, ripemd160_ctx* digest) {
  int32_t g = hf->grid_size;
  uint16_t* samples = nullptr;
  int32_t width = 0, height = 0;
  bool have = png_name && image_read_png_grey16(png_name, &samples, &width, &height) && samples &&
              width > 0 && height > 0;
  SampleScale scale = {hf->min_height, (double)hf->max_height - (double)hf->min_height};
  uint8_t* row_bytes = (uint8_t*)mem_alloc_or_die((size_t)g * 2);
  for (int32_t j = 0; j < g; j++) {
    if ((j & 63) == 0) loading_spinner("Loading heights");
    float* row = hf->heights + (size_t)j * (size_t)g;
    if (!have) {
      for (int32_t i = 0; i < g; i++) row[i] = hf->min_height;
      memset(row_bytes, 0, (size_t)g * 2);
    } else {
      const uint16_t* source = samples + (size_t)(j < height ? j : height - 1) * (size_t)width;
      for (int32_t i = 0; i < g; i++) {
        uint32_t s = source[i < width ? i : width - 1];
        row[i] = sample_height(scale, s);
        row_bytes[2 * i] = (uint8_t)(s & 0xFF);
        row_bytes[2 * i + 1] = (uint8_t)(s >> 8);
      }
    }
    ripemd160_update(digest, (size_t)g * 2, row_bytes);
  }
  mem_free(row_bytes);
  mem_free(samples);
}

void bad_heights() {
  print_message("Bad height field parameters");
  print_message("Error reading heights");
}

// Converts an image's pixels to `channels` bytes per pixel (grey replicated,
// colour averaged, alpha dropped) into out.
void copy_pixels(const Image* image, uint8_t* out, int32_t channels) {
  size_t count = (size_t)image->width * (size_t)image->height;
  int32_t in_channels = image->channels;
  const uint8_t* in = image->pixels;
  for (size_t p = 0; p < count; p++) {
    const uint8_t* px = in + p * (size_t)in_channels;
    if (channels == 3) {
      if (in_channels >= 3) {
        out[p * 3] = px[0];
        out[p * 3 + 1] = px[1];
        out[p * 3 + 2] = px[2];
      } else {
        out[p * 3] = out[p * 3 + 1] = out[p * 3 + 2] = px[0];
      }
    } else {
      out[p] = in_channels >= 3 ? (uint8_t)((px[0] + px[1] + px[2]) / 3) : px[0];
    }
  }
}

bool image_usable(const Image* image) {
  return image->pixels && image->width > 0 && image->height > 0 && image->channels >= 1 &&
         image->channels <= 4;
}

char* track_file(const char* track_path, const char* name) { return join(track_path, name); }

bool file_exists_in_track(const char* path) {
  DataFile* file = data_open(path, "rb");
  if (!file) return false;
  data_close(file);
  return true;
}

bool load_shading(HeightField* hf, const char* track_path) {
  char* path = track_file(track_path, "shadingx2.ppm");
  bool halve = false;
  if (!file_exists_in_track(path)) {
    mem_free(path);
    path = track_file(track_path, "shading.ppm");
    halve = true;
    if (!file_exists_in_track(path)) {
      print_messagef("Can't open '%.950s'", path);
      mem_free(path);
      return false;
    }
  }
  Image image = {};
  bool read = image_read(path, &image) && image_usable(&image);
  mem_free(path);
  if (!read) {
    image_free(&image);
    print_message("Error reading shading");
    return false;
  }
  if (image.width != hf->grid_size || image.height != hf->grid_size) {
    print_messagef("Bad shading dimensions (%dx%d)", image.width, image.height);
    image_free(&image);
    return false;
  }
  size_t bytes = (size_t)hf->grid_size * (size_t)hf->grid_size * 3;
  if (image.channels == 3) {
    hf->shading = image.pixels;  // already in place: take the block
    image.pixels = nullptr;
  } else {
    hf->shading = (uint8_t*)mem_alloc_or_die(bytes);
    copy_pixels(&image, hf->shading, 3);
  }
  image_free(&image);
  if (halve)
    for (size_t k = 0; k < bytes; k++) hf->shading[k] >>= 1;
  return true;
}

bool load_shadows(HeightField* hf, const char* track_path) {
  size_t count = (size_t)hf->grid_size * (size_t)hf->grid_size;
  char* path = track_file(track_path, "shadows.pgm");
  if (!file_exists_in_track(path)) {
    mem_free(path);
    hf->shadow = (uint8_t*)mem_alloc_zeroed(count, 1);
    if (!hf->shadow) fatal_out_of_memory();
    return true;
  }
  Image image = {};
  bool read = image_read(path, &image) && image_usable(&image);
  mem_free(path);
  if (!read) {
    image_free(&image);
    print_message("Error reading shadows");
    return false;
  }
  if (image.width != hf->grid_size || image.height != hf->grid_size) {
    log_printf("Bad shadow dimensions (%dx%d)\n", image.width, image.height);
    image_free(&image);
    return false;
  }
  if (image.channels == 1) {
    hf->shadow = image.pixels;  // already in place: take the block
    image.pixels = nullptr;
  } else {
    hf->shadow = (uint8_t*)mem_alloc_or_die(count);
    copy_pixels(&image, hf->shadow, 1);
  }
  image_free(&image);
  for (size_t k = 0; k < count; k++) hf->shadow[k] = (uint8_t)(255 - hf->shadow[k]);
  return true;
}

void log_texture_memory(const char* when) {
  if (debug_level >= 1)
    log_printf("%lu bytes texture memory used %s\n", (unsigned long)texture_memory_used(), when);
}

bool fail(HeightField* hf) {
  terrain_free(hf);
  return false;
}

}  // namespace

// ---------------------------------------------------------------- readers

bool hf_read_heights(HeightField* hf, DataFile* file, const char* png_name) {
  int32_t n = 0;
  float spacing = 0, min_height = 0, max_height = 0;
  if (data_scanf(file, "%d %f %f %f ", &n, &spacing, &min_height, &max_height) != 4 ||
      !hf_set_geometry(hf, n, spacing, min_height, max_height)) {
    bad_heights();
    return false;
  }
  int next = data_getc(file);
  size_t count = (size_t)hf->grid_size * (size_t)hf->grid_size;
  mem_free(hf->heights);
  hf->heights = (float*)mem_alloc_or_die(count * sizeof(float));
  ripemd160_ctx digest;
  ripemd160_init(&digest);
  if (next == ':')
    read_binary_samples(hf, file, &digest);
  else
    read_png_samples(hf, png_name, &digest);
  ripemd160_digest(&digest, RIPEMD160_DIGEST_SIZE, hf->samples_digest);
  if (debug_level >= 2) log_digest(hf->samples_digest);
  return true;
}

bool hf_read_tilemap(HeightField* hf, DataFile* file) {
  if (hf->grid_size <= 0 || hf->tile_count < 1) return false;
  size_t cells = (size_t)1 << hf->size_log2;
  size_t count = cells * cells;
  mem_free(hf->tilemap);
  hf->tilemap = (uint8_t*)mem_alloc_zeroed(count, 1);
  if (!hf->tilemap) fatal_out_of_memory();
  size_t done = 0;
  while (done < count) {
    loading_spinner("Loading tilemap");
    size_t want = count - done < HEIGHT_CHUNK_BYTES ? count - done : HEIGHT_CHUNK_BYTES;
    size_t got = data_read(file, hf->tilemap + done, want);
    done += got;
    if (got < want) break;
  }
  if (done < count) {
    log_printf("Tilemap ends after %lu of %lu cells, the rest is tile 0\n", (unsigned long)done,
               (unsigned long)count);
    memset(hf->tilemap + done, 0, count - done);
  }
  int32_t last = hf->tile_count - 1;
  if (last < 255)
    for (size_t k = 0; k < count; k++)
      if (hf->tilemap[k] > last) hf->tilemap[k] = (uint8_t)last;
  return true;
}

// ---------------------------------------------------------------- load

bool terrain_load(HeightField* hf, const char* track_path, int32_t texture_method) {
  memset((void*)hf, 0, sizeof *hf);
  hf->requested_method = texture_method;
  log_loading_message("Loading terrain");

  char* path = track_file(track_path, "terrain.hf");
  DataFile* file = data_open(path, "rb");
  if (!file) {
    print_messagef("Can't open '%.950s'", path);
    mem_free(path);
    return fail(hf);
  }
  mem_free(path);
  char* png = track_file(track_path, "terrain.png");
  bool ok = hf_read_heights(hf, file, png);
  mem_free(png);
  data_close(file);
  if (!ok) return fail(hf);
  if (terrain_render_hooks.lod_setup && !terrain_render_hooks.lod_setup(hf)) return fail(hf);
  loading_done("Loading terrain");

  hf->texture_method =
      terrain_choose_method(texture_method, derived.ground_texture_size, &hf->ground_texture_size);
  hf->shaders = terrain_render_hooks.shaders && texture_method >= 3 &&
                hf->texture_method != TERRAIN_METHOD_SOFTWARE;
  switch (hf->texture_method) {
    case TERRAIN_METHOD_SOFTWARE:
      print_message("Terrain texture rendering with TexSubImage");
      break;
    case TERRAIN_METHOD_COPY:
      print_message("Terrain texture rendering with CopyTexSubImage");
      break;
    case TERRAIN_METHOD_DIRECT:
      print_message("Terrain texture rendering with framebuffer objects");
      break;
    default:
      print_message("Something went wrong setting up terrain texture rendering!");
      return fail(hf);
  }
  bool software = hf->texture_method == TERRAIN_METHOD_SOFTWARE;

  log_loading_message("Loading shading");
  if (!load_shading(hf, track_path)) return fail(hf);
  loading_done("Loading shading");

  log_loading_message("Loading shadows");
  if (!load_shadows(hf, track_path)) return fail(hf);
  loading_done("Loading shadows");
  log_texture_memory("before ground tiles loaded");

  log_loading_message("Loading tileinfo");
  if (!tiles_load(hf->tiles, &hf->tile_count, track_path, software) || hf->tile_count < 1)
    return fail(hf);
  loading_done("Loading tileinfo");
  log_texture_memory("after ground tiles loaded");

  log_loading_message("Loading tilemap");
  path = track_file(track_path, "tilemap");
  file = data_open(path, "rb");
  if (!file) {
    print_messagef("Can't open '%.950s'", path);
    mem_free(path);
    return fail(hf);
  }
  mem_free(path);
  hf_read_tilemap(hf, file);
  data_close(file);
  loading_done("Loading tilemap");

  if (hf->shaders) {
    log_loading_message("Creating terrain normals");
    hf_build_normal_map(hf);
    loading_done("Creating terrain normals");
  }

  if (terrain_render_hooks.ground_textures_setup && !terrain_render_hooks.ground_textures_setup(hf))
    return fail(hf);
  log_texture_memory("after low detail ground textures");

  path = track_file(track_path, "decals");
  file = data_open(path, "rb");
  mem_free(path);
  if (file) {
    decals_read(hf, file, true);
    data_close(file);
    decal_buckets_build(hf);
  }
  return true;
}
