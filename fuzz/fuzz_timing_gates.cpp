// Feeds arbitrary bytes to the timing_gates reader, then exercises the
// sequence mapping, the crossing test and the writer's bounds on the result.
#include <cstddef>
#include <cstdint>

#include "core/files.h"
#include "track/timing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TimingData timing;
  DataFile* file = data_open_memory(data, size, false, false);
  if (!file) return 0;
  timing_read(&timing, nullptr, nullptr, file);
  data_close(file);

  // Every position of a few laps names a checkpoint inside the table.
  for (int32_t p = 0; p < 2 * TIMING_MAX_SEQUENCE + 8; p++) {
    int32_t k = timing_gate_at(&timing, p);
    if (timing.active && (k < 0 || k >= timing.gate_count)) __builtin_trap();
    timing_is_lap_end(&timing, p);
    timing_position_splits(&timing, p);
  }
  BikeTiming bike = {};
  for (int32_t p = 0; p < 8 && timing.gate_count > 0; p++) {
    const TimingGate* gate = &timing.gates[timing.gate_count > p ? p : 0];
    bike_gate_progress(&timing, &bike, gate->centre[0], gate->centre[2], p, &bike, 2);
  }
  bike_timing_free(&bike);
  float x, z;
  starting_grid_place(&timing, 170, &x, &z, nullptr, nullptr);
  timing_free(&timing);
  return 0;
}
