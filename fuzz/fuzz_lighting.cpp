// Fuzzes the lighting reader over arbitrary bytes.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "core/files.h"
#include "core/mem.h"
#include "render/texture.h"
#include "track/objects.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DataFile* f = data_open_memory(data, size, false, false);
  if (!f) return 0;
  Lighting lighting{};
  lighting_defaults(&lighting);
  lighting_read(&lighting, f);
  data_close(f);
  lighting_finish(&lighting);
  if (!(lighting.near_plane >= 1.0f / 1024 && lighting.near_plane <= 0.875f)) __builtin_trap();
  if (!(lighting.far_plane >= lighting.near_plane && lighting.far_plane <= 1048576.0f))
    __builtin_trap();
  const float* sun = lighting.sun_vector;
  if (fabsf(sun[0] * sun[0] + sun[1] * sun[1] + sun[2] * sun[2] - 1.0f) > 1e-3f) __builtin_trap();
  for (int32_t i = 0; i < SKY_TEXTURES; i++)
    if (!lighting.sky_names[i]) __builtin_trap();
  for (int32_t i = 0; i < lighting.flares.count; i++) {
    int32_t n = lighting.flares.data[i].element_count;
    if (n < 0 || n > MAX_FLARE_ELEMENTS) __builtin_trap();
  }
  lighting_free(&lighting);
  textures_purge(true);
  return 0;
}
