// Ground decals: the "decals" file, their images, and the 8 x 8 buckets that
// say which decals touch which part of the terrain square.
#include <cmath>
#include <cstring>

#include "core/files.h"
#include "core/loading.h"
#include "core/mem.h"
#include "platform/log.h"
#include "render/texture.h"
#include "track/heightfield.h"

namespace {

// name with its extension (from the last ".") replaced by suffix; nullptr
// when the name has no ".".
char* replace_extension(const char* name, const char* suffix) {
  const char* dot = strrchr(name, '.');
  if (!dot) return nullptr;
  size_t stem = (size_t)(dot - name);
  size_t length = strlen(suffix);
  char* out = (char*)mem_alloc_or_die(stem + length + 1);
  memcpy(out, name, stem);
  memcpy(out + stem, suffix, length + 1);
  return out;
}

// The first of two alternative images that loads as a texture, or 0.
uint32_t load_extra_texture(const char* name, const char* png_suffix, const char* ppm_suffix) {
  uint32_t id = 0;
  char* png = replace_extension(name, png_suffix);
  if (!png) return 0;
  id = texture_load(png);
  mem_free(png);
  if (id) return id;
  char* ppm = replace_extension(name, ppm_suffix);
  id = texture_load(ppm);
  mem_free(ppm);
  return id;
}

bool load_decal_images(const HeightField* hf, Decal* decal) {
  if (hf->texture_method == TERRAIN_METHOD_SOFTWARE) {
    if (!image_load(decal->name, &decal->pixels, &decal->width, &decal->height, &decal->channels) ||
        !decal->pixels)
      return false;
  } else {
    decal->texture = texture_load(decal->name);
    if (!decal->texture) return false;
  }
  if (hf->shaders) {
    decal->normal_texture = load_extra_texture(decal->name, "_tnorm.png", "_tnorm.ppm");
    decal->specular_texture = load_extra_texture(decal->name, "_tspec.png", "_tspec.ppm");
  }
  return true;
}

}  // namespace

void decals_read(HeightField* hf, DataFile* file, bool load_images) {
  hf->has_decals = true;
  if (!hf->decals.data) grow_init(hf->decals);
  char name[1024];
  for (;;) {
    Decal decal = {};
    if (data_scanf(file, "[ %f %f ] %f %f %f %1023s ", &decal.x, &decal.z, &decal.angle,
                   &decal.size, &decal.aspect, name) != 6)
      break;
    loading_spinner("Loading decals");
    if (!std::isfinite(decal.x) || !std::isfinite(decal.z) || !std::isfinite(decal.angle) ||
        !std::isfinite(decal.size) || !std::isfinite(decal.aspect)) {
      log_printf("Decal '%.950s' skipped: bad placement\n", name);
      continue;
    }
    decal.name = intern_string(name);
    decal.sin_angle = sinf(decal.angle);
    decal.cos_angle = cosf(decal.angle);
    if (load_images && !load_decal_images(hf, &decal)) continue;
    grow_push(hf->decals, decal);
  }
}

void decal_half_extents(const Decal* decal, float* half_x, float* half_z) {
  float length = decal->size * decal->aspect;
  *half_x = fabsf(length * decal->cos_angle) / 2 + fabsf(decal->size * decal->sin_angle) / 2;
  *half_z = fabsf(decal->size * decal->cos_angle) / 2 + fabsf(length * decal->sin_angle) / 2;
}

void decal_bucket_range(const HeightField* hf, float centre, float half_extent, int32_t* first,
                        int32_t* last) {
  const float top = (float)(DECAL_BUCKETS_PER_SIDE - 1);
  float scale = (float)DECAL_BUCKETS_PER_SIDE / hf->world_size;
  // Clamped as floats so that no value outside 0..7 (or NaN) becomes an integer.
  float low = fminf(fmaxf(floorf((centre - half_extent) * scale), 0.0f), top);
  float high = fminf(fmaxf(floorf((centre + half_extent) * scale), 0.0f), top);
  *first = (int32_t)low;
  *last = (int32_t)high;
}

void decal_buckets_build(HeightField* hf) {
  for (GrowArray<int32_t>& bucket : hf->decal_buckets) bucket.count = 0;
  if (!(hf->world_size > 0)) return;
  for (int32_t index = 0; index < hf->decals.count; index++) {
    const Decal* decal = &hf->decals.data[index];
    float half_x, half_z;
    decal_half_extents(decal, &half_x, &half_z);
    int32_t x0, x1, z0, z1;
    decal_bucket_range(hf, decal->x, half_x, &x0, &x1);
    decal_bucket_range(hf, decal->z, half_z, &z0, &z1);
    for (int32_t row = z0; row <= z1; row++)
      for (int32_t column = x0; column <= x1; column++)
        grow_push(hf->decal_buckets[row * DECAL_BUCKETS_PER_SIDE + column], index);
  }
}

void decals_free(HeightField* hf) {
  // Images and textures belong to the texture layer's caches.
  grow_free(hf->decals);
  for (GrowArray<int32_t>& bucket : hf->decal_buckets) grow_free(bucket);
  hf->has_decals = false;
}
