// Arbitrary bytes as a track's "tileinfo" and as its "texturelist": reading
// never fails or overruns, at most 256 tiles come out, and every tile answers
// the friction and rolling-resistance lookups with finite, non-negative values.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/files.h"
#include "track/tiles.h"

namespace {

TileType tiles[TERRAIN_MAX_TILES];

void check_tiles(int32_t count) {
  if (count < 0 || count > TERRAIN_MAX_TILES) abort();
  tiles_compute_transitions(tiles, count);
  const float speeds[] = {0.0f, 1e-4f, 0.5f, 1.0f, 3.0f, 17.0f, 1e3f, 1e20f};
  for (int32_t i = 0; i < count; i++) {
    const TileType* t = &tiles[i];
    uint32_t code = t->transition;
    if (code != 0xFFFFFF00u) {
      if ((code >> 24) != 0 || (int32_t)((code >> 16) & 255) >= count ||
          (int32_t)((code >> 8) & 255) >= count || (code & 0xF0u) != 0)
        abort();
    }
    for (float s : speeds) {
      float f = tile_type_friction(t, s * s);
      float lo, hi;
      tile_type_roll_resist(t, s, &lo, &hi);
      if (!std::isfinite(f) || f < 0 || !std::isfinite(lo) || lo < 0 || !std::isfinite(hi) ||
          hi < 0)
        abort();
    }
  }
  tiles_free(tiles, count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (int pass = 0; pass < 2; pass++) {
    DataFile* f = data_open_memory(data, size, false, false);
    if (!f) return 0;
    int32_t count = 0;
    if (pass == 0)
      tileinfo_read(f, tiles, &count, false, false);
    else
      texturelist_read(f, tiles, &count, false, false);
    data_close(f);
    check_tiles(count);
  }
  return 0;
}
