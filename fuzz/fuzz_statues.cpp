// Fuzzes the statues reader, the statue grid and statues_near over arbitrary bytes.
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
  const HeightField* hf = fixture_ground();
  TrackObjects objects;
  objects_init(&objects);
  int32_t added = statues_read(&objects, hf, f);
  data_close(f);
  if (added != objects.statues.count) __builtin_trap();
  // Shape files are rarely there while fuzzing: give the shapeless statues
  // stand-in shapes of assorted radii so the grid sees every position.
  static const Shape stand_ins[] = {{0, nullptr, "a", 0.0f}, {0, nullptr, "b", 1.5f},
                                    {0, nullptr, "c", 7.0f}, {0, nullptr, "d", 1e30f},
                                    {0, nullptr, "e", NAN},  {0, nullptr, "f", -3.0f}};
  for (int32_t i = 0; i < objects.statues.count; i++)
    if (!objects.statues.data[i].shape) objects.statues.data[i].shape = &stand_ins[i % 6];
  statue_grid_build(&objects, hf);
  for (const GrowArray<int32_t>& bucket : objects.statue_grid)
    for (int32_t k = 0; k < bucket.count; k++) {
      if (bucket.data[k] < 0 || bucket.data[k] >= objects.statues.count) __builtin_trap();
      if (k > 0 && bucket.data[k] <= bucket.data[k - 1]) __builtin_trap();
    }
  GrowArray<int32_t> near;
  for (int32_t i = 0; i < objects.statues.count; i++) {
    const Statue& s = objects.statues.data[i];
    objects_statues_near(&objects, s.x, s.z, &near);
    bool found = false;
    for (int32_t k = 0; k < near.count; k++) {
      if (k > 0 && near.data[k] <= near.data[k - 1]) __builtin_trap();
      if (near.data[k] == i) found = true;
    }
    // A statue with a shape is always found from its own position.
    if (s.shape && !found) __builtin_trap();
  }
  grow_free(near);
  objects_free(&objects);
  shape_cache_free();
  textures_purge(true);
  return 0;
}
