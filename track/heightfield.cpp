// The height field record: geometry, the height / normal / tile queries, the
// normal map, the texture method choice and releasing everything.
#include "track/heightfield.h"

#include <cmath>
#include <cstring>

#include "core/loading.h"
#include "core/messages.h"
#include "track/track.h"

TerrainRenderHooks terrain_render_hooks = {};

bool hf_set_geometry(HeightField* hf, int32_t n, float spacing, float min_height,
                     float max_height) {
  if (n < 0 || n > TERRAIN_MAX_SIZE_LOG2) return false;
  if (!std::isfinite(spacing) || !(spacing > 0)) return false;
  if (!std::isfinite(min_height) || !std::isfinite(max_height)) return false;
  if (!std::isfinite(max_height - min_height)) return false;  // differences stay finite
  float world_size = (float)(1 << (n + 1)) * spacing;
  if (!std::isfinite(world_size) || !std::isfinite(2 * spacing)) return false;
  hf->size_log2 = n;
  hf->grid_size = (1 << (n + 1)) + 1;
  hf->spacing = spacing;
  hf->tile_size = 2 * spacing;
  hf->world_size = world_size;
  hf->min_height = min_height;
  hf->max_height = max_height;
  return true;
}

// ---------------------------------------------------------------- queries

float hf_sample(const HeightField* hf, int32_t i, int32_t j) {
  int32_t last = hf->grid_size - 1;
  if (i < 0) i = 0;
  if (i > last) i = last;
  if (j < 0) j = 0;
  if (j > last) j = last;
  return hf->heights[(size_t)j * (size_t)hf->grid_size + (size_t)i];
}

namespace {

// The plane through the triangle's corners, written with weights so that a
// point on a sample gives exactly that sample:
//   low:  H(a,j) + u (H(b,j) - H(a,j)) + v (H(a,j+1) - H(a,j))
//   high: H(b,j+1) + (1-u) (H(a,j+1) - H(b,j+1)) + (1-v) (H(b,j) - H(b,j+1))
inline float blend_low(float h_aj, float h_bj, float h_aj1, float u, float v) {
  return h_aj * (1 - u - v) + h_bj * u + h_aj1 * v;
}
inline float blend_high(float h_bj1, float h_aj1, float h_bj, float u, float v) {
  return h_bj1 * (u + v - 1) + h_aj1 * (1 - u) + h_bj * (1 - v);
}

}  // namespace

float hf_height_at(const HeightField* hf, float x, float z) {
  if (!hf->heights) return 0;
  // Beyond one cell outside the grid every point reads the border, so the
  // coordinates can be limited first (this also tames NaN and huge values
  // before they become integers).
  float limit = (float)hf->grid_size;
  float fx = x / hf->spacing, fz = z / hf->spacing;
  if (!(fx >= -1.0f)) fx = -1.0f;  // NaN too
  if (fx > limit) fx = limit;
  if (!(fz >= -1.0f)) fz = -1.0f;
  if (fz > limit) fz = limit;
  float fi = floorf(fx), fj = floorf(fz);
  int32_t i = (int32_t)fi, j = (int32_t)fj;
  float v = fz - fj;
  int32_t a, b;
  float u;
  if ((i ^ j) & 1) {
    a = i;
    b = i + 1;
    u = fx - fi;
  } else {
    a = i + 1;
    b = i;
    u = 1 - (fx - fi);
  }
  int32_t g = hf->grid_size;
  if (i >= 0 && j >= 0 && i < g - 1 && j < g - 1) {
    const float* row = hf->heights + (size_t)j * (size_t)g;
    const float* next = row + g;
    if (u + v <= 1) return blend_low(row[a], row[b], next[a], u, v);
    return blend_high(next[b], next[a], row[b], u, v);
  }
  if (u + v <= 1)
    return blend_low(hf_sample(hf, a, j), hf_sample(hf, b, j), hf_sample(hf, a, j + 1), u, v);
  return blend_high(hf_sample(hf, b, j + 1), hf_sample(hf, a, j + 1), hf_sample(hf, b, j), u, v);
}

void hf_vertex_normal(const HeightField* hf, int32_t i, int32_t j, float out[3]) {
  out[0] = 0;
  out[1] = 1;
  out[2] = 0;
  if (!hf->heights) return;
  static const int32_t OFFSETS[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0},
                                        {1, 1},   {0, 1},  {-1, 1}, {-1, 0}};
  double s = hf->spacing;
  double h0 = hf_sample(hf, i, j);
  double p[8][3];  // neighbours relative to the centre sample
  for (int k = 0; k < 8; k++) {
    int32_t di = OFFSETS[k][0], dj = OFFSETS[k][1];
    p[k][0] = di * s;
    p[k][1] = (double)hf_sample(hf, i + di, j + dj) - h0;
    p[k][2] = dj * s;
  }
  double sum[3] = {0, 0, 0};
  for (int k = 0; k < 8; k++) {
    const double* a = p[(k + 1) & 7];
    const double* b = p[k];
    double c[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    double len = sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
    if (!(len > 0) || !std::isfinite(len)) continue;
    for (int m = 0; m < 3; m++) sum[m] += c[m] / len;
  }
  double len = sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
  if (!(len > 0) || !std::isfinite(len)) return;
  for (int m = 0; m < 3; m++) out[m] = (float)(sum[m] / len);
}

int32_t hf_tile_at(const HeightField* hf, float x, float z) {
  if (!hf->tilemap) return 0;
  int32_t cells = 1 << hf->size_log2;
  float last = (float)(cells - 1);
  float column = fminf(fmaxf(x / hf->tile_size, 0.0f), last);
  float row = fminf(fmaxf(z / hf->tile_size, 0.0f), last);
  return hf->tilemap[(size_t)(int32_t)row * (size_t)cells + (size_t)(int32_t)column];
}

float terrain_height_at(float x, float z) { return hf_height_at(&track.hf, x, z); }
void terrain_vertex_normal(int32_t i, int32_t j, float out[3]) {
  hf_vertex_normal(&track.hf, i, j, out);
}
int32_t terrain_tile_at(float x, float z) { return hf_tile_at(&track.hf, x, z); }

// ---------------------------------------------------------------- normal map

namespace {

uint8_t pack_normal_component(float c) {
  int32_t v = (int32_t)fminf(fmaxf(c * 127.0f, -127.0f), 127.0f);  // trunc, then clamp
  return (uint8_t)(v + 128);
}

}  // namespace

bool hf_build_normal_map(HeightField* hf) {
  if (!hf->heights) return false;
  int32_t g = hf->grid_size;
  size_t count = (size_t)g * (size_t)g;
  if (!hf->normal_map) hf->normal_map = (uint8_t*)mem_alloc_or_die(count * 3);
  for (int32_t j = 0; j < g; j++) {
    if ((j & 63) == 0) loading_spinner("Creating terrain normals");
    for (int32_t i = 0; i < g; i++) {
      size_t index = (size_t)j * (size_t)g + (size_t)i;
      float n[3];
      hf_vertex_normal(hf, i, j, n);
      uint8_t* out = hf->normal_map + index * 3;
      out[0] = pack_normal_component(n[0]);
      out[1] = (uint8_t)(255 - (hf->shadow ? hf->shadow[index] : 0));
      out[2] = pack_normal_component(n[2]);
    }
  }
  return true;
}

// ---------------------------------------------------------------- texture method

int32_t terrain_choose_method(int32_t requested, int32_t texture_dim,
                              int32_t* ground_texture_size) {
  // Setting order: Software, Hardware/Copy, Hardware/Direct, Shaders/Copy, Shaders/Direct.
  int32_t wanted = TERRAIN_METHOD_SOFTWARE;
  if (requested == 1 || requested == 3) wanted = TERRAIN_METHOD_COPY;
  if (requested == 2 || requested == 4) wanted = TERRAIN_METHOD_DIRECT;
  if (texture_dim < 32) texture_dim = 32;
  if (texture_dim > 1024) texture_dim = 1024;
  int32_t limited = texture_dim < 256 ? texture_dim : 256;
  if (wanted == TERRAIN_METHOD_DIRECT && terrain_render_hooks.framebuffer_objects) {
    *ground_texture_size = texture_dim;
    return TERRAIN_METHOD_DIRECT;
  }
  *ground_texture_size = limited;
  // Without framebuffer objects a direct request falls back to copying.
  if (wanted != TERRAIN_METHOD_SOFTWARE) return TERRAIN_METHOD_COPY;
  return TERRAIN_METHOD_SOFTWARE;
}

// ---------------------------------------------------------------- free

void terrain_free(HeightField* hf) {
  if (hf->renderer && terrain_render_hooks.release) terrain_render_hooks.release(hf);
  mem_free(hf->heights);
  mem_free(hf->shading);
  mem_free(hf->shadow);
  mem_free(hf->tilemap);
  mem_free(hf->normal_map);
  decals_free(hf);
  if (hf->tile_count > 0) tiles_free(hf->tiles, hf->tile_count);
  memset((void*)hf, 0, sizeof *hf);
}
