// Fuzzes the billboards reader over arbitrary bytes.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "core/files.h"
#include "core/mem.h"
#include "physics/shape.h"
#include "render/texture.h"
#include "track/heightfield.h"
#include "track/objects.h"
#include "fuzz/fuzz_ground.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DataFile* f = data_open_memory(data, size, false, false);
  if (!f) return 0;
  TrackObjects objects;
  objects_init(&objects);
  int32_t added = billboards_read(&objects, fixture_ground(), f);
  data_close(f);
  if (added != objects.billboards.count) __builtin_trap();
  for (int32_t i = 0; i < objects.billboards.count; i++) {
    const Billboard& b = objects.billboards.data[i];
    if (!std::isfinite(b.x) || !std::isfinite(b.z) || b.a != 255) __builtin_trap();
    if (b.name && !b.name[0]) __builtin_trap();
    if (b.texture && !b.name) __builtin_trap();
  }
  objects_free(&objects);
  textures_purge(true);
  return 0;
}
