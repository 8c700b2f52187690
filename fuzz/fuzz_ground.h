// A small sloping ground built once in memory, for the track-object fuzzers.
#pragma once

#include "core/mem.h"
#include "track/heightfield.h"

static inline const HeightField* fixture_ground() {
  static HeightField* hf = nullptr;
  if (!hf) {
    hf = (HeightField*)mem_alloc_zeroed(1, sizeof(HeightField));
    hf_set_geometry(hf, 2, 2.0f, 0.0f, 10.0f);
    int32_t g = hf->grid_size;
    hf->heights = (float*)mem_alloc((size_t)g * g * sizeof(float));
    for (int32_t j = 0; j < g; j++)
      for (int32_t i = 0; i < g; i++) hf->heights[j * g + i] = 0.25f * (float)i + 0.5f * (float)j;
  }
  return hf;
}
