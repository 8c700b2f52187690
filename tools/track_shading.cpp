// Terrain lighting for generated tracks: shadows by a horizon sweep along the
// sun's azimuth, then Lambert shading of the vertex normals. The shading
// uses the renderer's own rule for edited ground, so generated and edited
// areas look alike.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tools/track_builder.h"

namespace {

float clampf(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

bool shade_terrain(HeightField* hf, const SunLight* sun) {
  int32_t g = hf->grid_size;
  size_t count = (size_t)g * (size_t)g;
  float sx = sun->direction[0], sy = sun->direction[1], sz = sun->direction[2];
  float len = sqrtf(sx * sx + sy * sy + sz * sz);
  if (!(len > 0) || !(sy > 0)) return false;
  sx /= len;
  sy /= len;
  sz /= len;
  if (!hf->shadow) hf->shadow = (uint8_t*)mem_alloc_zeroed(count, 1);
  if (!hf->shading) hf->shading = (uint8_t*)mem_alloc_zeroed(count, 3);
  if (!hf->shadow || !hf->shading) return false;

  // Horizon sweep. The sun's horizontal direction is walked along its major
  // axis: every step of one sample along that axis moves `minor` samples
  // along the other. horizon[] holds, for the previous line of samples, the
  // highest height that a ray towards the sun would have to clear, already
  // lowered to that line; it is interpolated for the current line.
  float hx = sx, hz = sz;
  float hlen = sqrtf(hx * hx + hz * hz);
  float* horizon = (float*)mem_alloc_or_die((size_t)g * sizeof(float));
  float* next = (float*)mem_alloc_or_die((size_t)g * sizeof(float));
  if (hlen < 1e-6f) {
    memset(hf->shadow, 0, count);  // sun overhead: no shadows
  } else {
    hx /= hlen;
    hz /= hlen;
    bool major_x = fabsf(hx) >= fabsf(hz);
    float major = major_x ? hx : hz;
    float minor = (major_x ? hz : hx) / fabsf(major);  // minor steps per major step
    int32_t major_step = major > 0 ? 1 : -1;
    // Horizontal distance of one major step and the drop of a sun ray over it.
    float step_len = hf->spacing * sqrtf(1.0f + minor * minor);
    float drop = step_len * (sy / hlen);
    // Lines are taken from the sun's side, so a line's neighbour towards the
    // sun is already done.
    int32_t first = major_step > 0 ? g - 1 : 0;
    auto height = [&](int32_t line, int32_t across) {
      return major_x ? hf->heights[(size_t)across * g + line]
                     : hf->heights[(size_t)line * g + across];
    };
    auto shadow_at = [&](int32_t line, int32_t across) -> uint8_t& {
      return major_x ? hf->shadow[(size_t)across * g + line]
                     : hf->shadow[(size_t)line * g + across];
    };
    for (int32_t k = 0; k < g; k++) horizon[k] = -1e30f;
    for (int32_t step = 0; step < g; step++) {
      int32_t line = first - step * major_step;
      for (int32_t k = 0; k < g; k++) {
        float h = height(line, k);
        float block = -1e30f;
        if (step > 0) {
          // The neighbour towards the sun on the previous line.
          float pos = (float)k + minor;
          if (pos >= 0 && pos <= (float)(g - 1)) {
            int32_t k0 = (int32_t)floorf(pos);
            int32_t k1 = k0 + 1 < g ? k0 + 1 : k0;
            float f = pos - (float)k0;
            int32_t prev_line = line + major_step;
            float hp = height(prev_line, k0) * (1 - f) + height(prev_line, k1) * f;
            float hz_prev = horizon[k0] * (1 - f) + horizon[k1] * f;
            block = fmaxf(hp, hz_prev) - drop;
          }
        }
        next[k] = block;
        float excess = block - h;
        float amount = excess > 0 ? clampf(excess / sun->shadow_softness, 0, 1) : 0;
        shadow_at(line, k) = (uint8_t)(amount * sun->shadow_strength * 255.0f + 0.5f);
      }
      float* t = horizon;
      horizon = next;
      next = t;
    }
  }
  mem_free(horizon);
  mem_free(next);

  // Lambert shading: w = clamp(S.n, 0, 1) * (1 - shadow / 255), per channel
  // trunc(255 * (K * w + A) * 0.5) clamped to a byte.
  for (int32_t j = 0; j < g; j++) {
    for (int32_t i = 0; i < g; i++) {
      float n[3];
      hf_vertex_normal(hf, i, j, n);
      size_t idx = (size_t)j * (size_t)g + (size_t)i;
      float w = clampf(sx * n[0] + sy * n[1] + sz * n[2], 0, 1) * (1.0f - hf->shadow[idx] / 255.0f);
      for (int c = 0; c < 3; c++) {
        float v = 255.0f * (sun->color[c] * w + sun->ambient[c]) * 0.5f;
        hf->shading[idx * 3 + c] = (uint8_t)clampf(v, 0, 255);
      }
    }
  }
  return true;
}

bool write_shadows_pgm(const HeightField* hf, const char* path) {
  FILE* f = dg_create("", path);
  if (!f) return false;
  int32_t g = hf->grid_size;
  fprintf(f, "P5\n%d %d\n255\n", g, g);
  uint8_t* row = (uint8_t*)mem_alloc_or_die((size_t)g);
  bool ok = true;
  for (int32_t j = 0; j < g && ok; j++) {
    for (int32_t i = 0; i < g; i++) row[i] = (uint8_t)(255 - hf->shadow[(size_t)j * g + i]);
    ok = fwrite(row, 1, (size_t)g, f) == (size_t)g;
  }
  mem_free(row);
  return fclose(f) == 0 && ok;
}
