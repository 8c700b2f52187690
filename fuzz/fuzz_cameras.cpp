// Fuzzes the cameras reader over arbitrary bytes.
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
  cameras_read(&objects, fixture_ground(), f);
  data_close(f);
  for (int32_t camera : objects.gate_camera)
    if (camera < -1 || camera >= objects.cameras.count) __builtin_trap();
  for (int32_t i = 0; i < objects.cameras.count; i++) {
    const TrackCamera& c = objects.cameras.data[i];
    if (!std::isfinite(c.x) || !std::isfinite(c.z) || !(c.fov >= 0) || !(c.autofovsize >= 0))
      __builtin_trap();
  }
  objects_free(&objects);
  return 0;
}
