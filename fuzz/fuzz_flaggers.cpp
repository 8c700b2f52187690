// Fuzzes the flaggers reader over arbitrary bytes.
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
  const int32_t gate_count = 3;
  flaggers_read(&objects, fixture_ground(), f, gate_count);
  data_close(f);
  int32_t billboards = objects.billboards.count;
  if (objects.starter.billboard >= billboards || objects.lap_flagger.billboard >= billboards)
    __builtin_trap();
  for (int32_t i = 0; i < objects.flaggers.count; i++) {
    const Flagger& flagger = objects.flaggers.data[i];
    if (flagger.billboard < 0 || flagger.billboard >= billboards) __builtin_trap();
    for (int32_t gate : flagger.gates)
      if (gate < -1 || gate >= gate_count) __builtin_trap();
  }
  objects_free(&objects);
  textures_purge(true);
  return 0;
}
