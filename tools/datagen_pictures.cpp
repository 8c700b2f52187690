// Generated pictures: ground tiles and their dirt-grass transitions, roost
// particles, the sky box and its environment map, billboards, flaggers,
// decals and statue textures. Everything is drawn from fixed seeds (hashed
// lattice noise and cairo paths, no fonts), so every run gives the same bytes.
#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/mem.h"
#include "render/image.h"
#include "tools/datagen.h"

namespace {

constexpr int32_t TILE_SIZE = 256;
constexpr double PI = 3.14159265358979323846;

char g_dir[4096];

const char* out_path(const char* asset) {
  static char path[4200];
  snprintf(path, sizeof path, "%s%s", g_dir, dg_file(asset));
  return path;
}

// ------------------------------------------------------------ noise

uint32_t hash3(uint32_t x, uint32_t y, uint32_t seed) {
  uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ seed * 0xcb1ab31fu;
  h ^= h >> 15;
  h *= 0x2c1b3c6du;
  h ^= h >> 12;
  h *= 0x297a2d39u;
  h ^= h >> 15;
  return h;
}

float lattice(int32_t x, int32_t y, int32_t period, uint32_t seed) {
  x = ((x % period) + period) % period;
  y = ((y % period) + period) % period;
  return (hash3((uint32_t)x, (uint32_t)y, seed) & 0xFFFFFF) / 16777216.0f;
}

float smooth(float t) { return t * t * (3 - 2 * t); }

// Value noise in [0, 1) over pixel coordinates, cells of `cell` pixels,
// repeating every `size` pixels (size a multiple of cell).
float vnoise(float px, float py, int32_t cell, int32_t size, uint32_t seed) {
  int32_t period = size / cell;
  float fx = px / cell, fy = py / cell;
  int32_t ix = (int32_t)floorf(fx), iy = (int32_t)floorf(fy);
  float tx = smooth(fx - ix), ty = smooth(fy - iy);
  float a = lattice(ix, iy, period, seed), b = lattice(ix + 1, iy, period, seed);
  float c = lattice(ix, iy + 1, period, seed), d = lattice(ix + 1, iy + 1, period, seed);
  return (a + (b - a) * tx) * (1 - ty) + (c + (d - c) * tx) * ty;
}

// Octaves from cell `big` down to 2 pixels, weight halving; result in [0, 1).
float fbm(float px, float py, int32_t big, int32_t size, uint32_t seed) {
  float sum = 0, weight = 1, total = 0;
  for (int32_t cell = big; cell >= 2; cell /= 2) {
    sum += vnoise(px, py, cell, size, seed + (uint32_t)cell) * weight;
    total += weight;
    weight *= 0.55f;
  }
  return sum / total;
}

float white(int32_t x, int32_t y, uint32_t seed) {
  return (hash3((uint32_t)x, (uint32_t)y, seed) & 0xFFFF) / 65536.0f;
}

uint8_t to_byte(float v) {
  if (v <= 0) return 0;
  if (v >= 255) return 255;
  return (uint8_t)(v + 0.5f);
}

float clampf(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }
float lerpf(float a, float b, float t) { return a + (b - a) * t; }

struct Rgb {
  float r, g, b;
};

Rgb mix(Rgb a, Rgb b, float t) {
  return {lerpf(a.r, b.r, t), lerpf(a.g, b.g, t), lerpf(a.b, b.b, t)};
}
Rgb scale(Rgb a, float s) { return {a.r * s, a.g * s, a.b * s}; }

// ------------------------------------------------------------ ground tiles

enum Ground {
  GROUND_DIRT,
  GROUND_DIRT_ALT,
  GROUND_HARDPACK,
  GROUND_GRASS,
  GROUND_SAND,
  GROUND_MUD
};

// One pixel of a ground picture; every picture repeats seamlessly.
Rgb ground_pixel(Ground kind, int32_t x, int32_t y) {
  const int32_t S = TILE_SIZE;
  switch (kind) {
    case GROUND_DIRT:
    case GROUND_DIRT_ALT: {
      uint32_t seed = kind == GROUND_DIRT ? 100 : 200;
      float base = fbm((float)x, (float)y, 64, S, seed);
      float fine = vnoise((float)x, (float)y, 4, S, seed + 7);
      Rgb dry = kind == GROUND_DIRT ? Rgb{136, 98, 64} : Rgb{142, 96, 60};
      Rgb dark = {88, 60, 38};
      Rgb c = mix(dark, dry, clampf(base * 1.6f - 0.25f, 0, 1));
      c = scale(c, 0.85f + 0.3f * fine);
      // Clods: bright tops and dark shadows below them.
      float clod = vnoise((float)x, (float)y, 8, S, seed + 11);
      float below = vnoise((float)x, (float)(y - 2), 8, S, seed + 11);
      if (clod > 0.78f)
        c = scale(c, 1.18f);
      else if (below > 0.78f)
        c = scale(c, 0.7f);
      float speck = white(x, y, seed + 3);
      if (speck > 0.985f)
        c = {170, 150, 120};  // pebbles
      else if (speck < 0.02f)
        c = scale(c, 0.6f);
      return c;
    }
    case GROUND_HARDPACK: {
      float base = fbm((float)x, (float)y, 64, S, 300);
      float fine = vnoise((float)x, (float)y, 2, S, 307);
      Rgb c = mix(Rgb{118, 92, 68}, Rgb{160, 132, 100}, clampf(base * 1.4f - 0.2f, 0, 1));
      c = scale(c, 0.93f + 0.14f * fine);
      // Packed streaks along the direction of travel.
      float streak = vnoise((float)x, (float)y * 0.125f, 4, S, 311);
      c = scale(c, 0.92f + 0.16f * streak);
      // Fine cracks.
      float crack = fabsf(vnoise((float)x, (float)y, 32, S, 317) - 0.5f);
      if (crack < 0.012f) c = scale(c, 0.72f);
      if (white(x, y, 313) > 0.99f) c = {182, 164, 140};
      return c;
    }
    case GROUND_GRASS: {
      float base = fbm((float)x, (float)y, 64, S, 400);
      // Blades: noise stretched vertically.
      float blade = vnoise((float)x * 4, (float)y, 8, S * 4, 405);
      float blade2 = vnoise((float)x * 4 + 37, (float)y, 4, S * 4, 406);
      Rgb dark = {46, 84, 30}, light = {98, 150, 56}, dry = {128, 140, 66};
      Rgb c = mix(dark, light, clampf(blade * 0.7f + blade2 * 0.5f - 0.1f, 0, 1));
      c = mix(c, dry, clampf((base - 0.55f) * 2.0f, 0, 0.6f));
      c = scale(c, 0.85f + 0.3f * base);
      if (white(x, y, 409) > 0.992f) c = {200, 200, 120};  // flowers and seeds
      return c;
    }
    case GROUND_SAND: {
      float base = fbm((float)x, (float)y, 64, S, 500);
      float grain = white(x, y, 503);
      // Wind ripples: whole periods across the tile so it repeats.
      float warp = vnoise((float)x, (float)y, 32, S, 507) * 2.0f;
      float ripple = sinf((float)(2 * PI * (x * 3 + y * 8) / S) + warp * 3.0f);
      Rgb c = mix(Rgb{196, 168, 118}, Rgb{226, 204, 156}, clampf(base * 1.5f - 0.25f, 0, 1));
      c = scale(c, 0.94f + 0.06f * ripple + 0.08f * (grain - 0.5f));
      if (grain > 0.995f) c = {140, 120, 96};
      return c;
    }
    case GROUND_MUD: {
      float base = fbm((float)x, (float)y, 64, S, 600);
      float wet = fbm((float)x, (float)y, 32, S, 611);
      float fine = vnoise((float)x, (float)y, 4, S, 607);
      Rgb c = mix(Rgb{58, 42, 30}, Rgb{96, 72, 50}, clampf(base * 1.5f - 0.25f, 0, 1));
      c = scale(c, 0.9f + 0.2f * fine);
      // Standing water: darker with a sky-coloured sheen.
      if (wet > 0.62f) {
        float t = clampf((wet - 0.62f) * 8, 0, 1);
        c = mix(c, Rgb{70, 66, 62}, t * 0.7f);
        if (vnoise((float)x, (float)y, 8, S, 613) > 0.7f) c = mix(c, Rgb{150, 150, 150}, t * 0.3f);
      }
      return c;
    }
  }
  return {255, 0, 255};
}

bool write_rgb(const char* asset, const uint8_t* rgb, int32_t w, int32_t h) {
  if (!image_write_png_rgb(out_path(asset), rgb, w, h)) {
    fprintf(stderr, "rt_datagen: can't write %s: %s\n", out_path(asset), image_last_error());
    return false;
  }
  return true;
}

bool write_ground(const char* asset, Ground kind) {
  uint8_t* rgb = (uint8_t*)mem_alloc(TILE_SIZE * TILE_SIZE * 3);
  if (!rgb) return false;
  for (int32_t y = 0; y < TILE_SIZE; y++)
    for (int32_t x = 0; x < TILE_SIZE; x++) {
      Rgb c = ground_pixel(kind, x, y);
      uint8_t* p = rgb + (y * TILE_SIZE + x) * 3;
      p[0] = to_byte(c.r), p[1] = to_byte(c.g), p[2] = to_byte(c.b);
    }
  bool ok = write_rgb(asset, rgb, TILE_SIZE, TILE_SIZE);
  mem_free(rgb);
  return ok;
}

// Dirt with grass on the corners whose bit is set in mask (bit 3 top-left,
// 2 top-right, 1 bottom-left, 0 bottom-right). The border between the two is
// ragged but depends only on the corners of each edge, so neighbouring tiles
// meet without seams, and away from the border the pixels are exactly those
// of the plain dirt and grass pictures.
bool write_transition(int32_t mask) {
  char bits[5];
  for (int32_t i = 0; i < 4; i++) bits[i] = (mask >> (3 - i)) & 1 ? '1' : '0';
  bits[4] = 0;
  char asset[64];
  snprintf(asset, sizeof asset, DG_TILE_DIRT_GRASS_FORMAT, bits);
  float tl = (mask >> 3) & 1, tr = (mask >> 2) & 1, bl = (mask >> 1) & 1, br = mask & 1;
  uint8_t* rgb = (uint8_t*)mem_alloc(TILE_SIZE * TILE_SIZE * 3);
  if (!rgb) return false;
  for (int32_t y = 0; y < TILE_SIZE; y++)
    for (int32_t x = 0; x < TILE_SIZE; x++) {
      float u = (x + 0.5f) / TILE_SIZE, v = (y + 0.5f) / TILE_SIZE;
      float w = (tl * (1 - u) + tr * u) * (1 - v) + (bl * (1 - u) + br * u) * v;
      float ragged = (fbm((float)x, (float)y, 32, TILE_SIZE, 700) - 0.5f) * 0.5f;
      float t = clampf((w + ragged - 0.45f) / 0.1f, 0, 1);
      Rgb c = mix(ground_pixel(GROUND_DIRT, x, y), ground_pixel(GROUND_GRASS, x, y), t);
      // Trampled, darker fringe where the grass meets the dirt.
      float edge = 1 - fabsf(t * 2 - 1);
      c = scale(c, 1 - 0.15f * edge);
      uint8_t* p = rgb + (y * TILE_SIZE + x) * 3;
      p[0] = to_byte(c.r), p[1] = to_byte(c.g), p[2] = to_byte(c.b);
    }
  bool ok = write_rgb(asset, rgb, TILE_SIZE, TILE_SIZE);
  mem_free(rgb);
  return ok;
}

// ------------------------------------------------------------ PPM

bool write_ppm(const char* asset, const uint8_t* rgb, int32_t w, int32_t h) {
  FILE* f = fopen(out_path(asset), "wb");
  if (!f) {
    fprintf(stderr, "rt_datagen: can't write %s\n", out_path(asset));
    return false;
  }
  fprintf(f, "P6\n%d %d\n255\n", w, h);
  fwrite(rgb, 1, (size_t)w * h * 3, f);
  return fclose(f) == 0;
}

// ------------------------------------------------------------ sky

// 3D value noise (not repeating) for clouds.
float noise3(float x, float y, float z, uint32_t seed) {
  int32_t ix = (int32_t)floorf(x), iy = (int32_t)floorf(y), iz = (int32_t)floorf(z);
  float tx = smooth(x - ix), ty = smooth(y - iy), tz = smooth(z - iz);
  float v[2][2][2];
  for (int a = 0; a < 2; a++)
    for (int b = 0; b < 2; b++)
      for (int c = 0; c < 2; c++)
        v[a][b][c] =
            (hash3((uint32_t)(ix + a), (uint32_t)(iy + b) * 7919u + (uint32_t)(iz + c), seed) &
             0xFFFFFF) /
            16777216.0f;
  float x00 = lerpf(v[0][0][0], v[1][0][0], tx), x10 = lerpf(v[0][1][0], v[1][1][0], tx);
  float x01 = lerpf(v[0][0][1], v[1][0][1], tx), x11 = lerpf(v[0][1][1], v[1][1][1], tx);
  return lerpf(lerpf(x00, x10, ty), lerpf(x01, x11, ty), tz);
}

// Sky colour seen along a direction (y up): a blue gradient with clouds
// above the horizon, distant tree-lined hills and hazy ground below it.
Rgb sky_color(float dx, float dy, float dz) {
  float len = sqrtf(dx * dx + dy * dy + dz * dz);
  dx /= len, dy /= len, dz /= len;
  Rgb horizon = {205, 218, 232}, zenith = {62, 112, 196};
  // Hills: height above the horizon as a function of the azimuth only.
  float az = atan2f(dz, dx);
  float ca = cosf(az), sa = sinf(az);
  float hill = 0.035f + 0.05f * noise3(ca * 3 + 10, sa * 3 + 10, 0.5f, 801) +
               0.02f * noise3(ca * 12 + 10, sa * 12 + 10, 0.5f, 803);
  float trees = 0.012f * noise3(ca * 90 + 10, sa * 90 + 10, 0.5f, 805);
  if (dy < hill + trees) {
    float depth = clampf((hill + trees - dy) * 4, 0, 1);
    Rgb far_hill = {120, 140, 128}, near_ground = {84, 96, 60};
    Rgb c = mix(far_hill, near_ground, depth);
    if (dy < 0) c = mix(c, Rgb{96, 88, 64}, clampf(-dy * 2, 0, 1));
    return c;
  }
  float e = clampf(dy, 0, 1);
  Rgb c = mix(horizon, zenith, powf(e, 0.55f));
  // Clouds on a flat layer: project the direction onto it.
  float k = 1.0f / (dy + 0.08f);
  float px = dx * k, pz = dz * k;
  float cloud = 0;
  float amp = 1, total = 0;
  for (int o = 0; o < 5; o++) {
    float f = (float)(1 << o) * 0.9f;
    cloud += noise3(px * f, 3.0f, pz * f, 820 + o) * amp;
    total += amp;
    amp *= 0.5f;
  }
  cloud /= total;
  float cover = clampf((cloud - 0.5f) * 4.0f, 0, 1);
  cover *= clampf(dy * 6, 0, 1) * 0.4f + 0.6f;
  Rgb white_c = {246, 246, 248}, shade = {190, 196, 208};
  Rgb cl = mix(white_c, shade, clampf((cloud - 0.62f) * 4, 0, 1));
  return mix(c, cl, cover * clampf(dy * 12 + 0.3f, 0, 1));
}

bool write_sky() {
  const int32_t S = 256;
  uint8_t* rgb = (uint8_t*)mem_alloc(S * S * 3);
  if (!rgb) return false;
  const char* names[5] = {DG_SKY_N, DG_SKY_E, DG_SKY_S, DG_SKY_W, DG_SKY_U};
  bool ok = true;
  for (int32_t face = 0; face < 5 && ok; face++) {
    for (int32_t j = 0; j < S; j++)
      for (int32_t i = 0; i < S; i++) {
        float a = 2 * (i + 0.5f) / S - 1, b = 2 * (j + 0.5f) / S - 1;
        float d[3];
        // North looks along -z, east +x, south +z, west -x; the top face has
        // north at its top edge.
        switch (face) {
          case 0: d[0] = a, d[1] = -b, d[2] = -1; break;
          case 1: d[0] = 1, d[1] = -b, d[2] = a; break;
          case 2: d[0] = -a, d[1] = -b, d[2] = 1; break;
          case 3: d[0] = -1, d[1] = -b, d[2] = -a; break;
          default: d[0] = a, d[1] = 1, d[2] = b; break;
        }
        Rgb c = sky_color(d[0], d[1], d[2]);
        uint8_t* p = rgb + (j * S + i) * 3;
        p[0] = to_byte(c.r), p[1] = to_byte(c.g), p[2] = to_byte(c.b);
      }
    ok = write_ppm(names[face], rgb, S, S);
  }
  // Environment map for reflections: the centre looks straight up, the
  // circle of radius 1/4 is the horizon, the rim straight down.
  for (int32_t j = 0; ok && j < S; j++)
    for (int32_t i = 0; i < S; i++) {
      float u = (i + 0.5f) / S - 0.5f, v = (j + 0.5f) / S - 0.5f;
      float rho = sqrtf(u * u + v * v);
      float angle = rho * 2 * (float)PI;  // from straight up
      float s = sinf(angle);
      float dx = rho > 0 ? u / rho * s : 0, dz = rho > 0 ? v / rho * s : 0;
      Rgb c = sky_color(dx, cosf(angle), dz);
      uint8_t* p = rgb + (j * S + i) * 3;
      p[0] = to_byte(c.r), p[1] = to_byte(c.g), p[2] = to_byte(c.b);
    }
  ok = ok && write_ppm(DG_SKY_ENV, rgb, S, S);
  mem_free(rgb);
  return ok;
}

// ------------------------------------------------------------ cairo pictures

struct Canvas {
  cairo_surface_t* surface;
  cairo_t* cr;
  int32_t w, h;
};

Canvas canvas_new(int32_t w, int32_t h, bool alpha) {
  Canvas c;
  c.w = w, c.h = h;
  c.surface = cairo_image_surface_create(alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, w, h);
  c.cr = cairo_create(c.surface);
  cairo_set_antialias(c.cr, CAIRO_ANTIALIAS_GOOD);
  return c;
}

bool canvas_save(Canvas* c, const char* asset) {
  cairo_surface_flush(c->surface);
  cairo_status_t st = cairo_surface_write_to_png(c->surface, out_path(asset));
  cairo_destroy(c->cr);
  cairo_surface_destroy(c->surface);
  if (st != CAIRO_STATUS_SUCCESS) {
    fprintf(stderr, "rt_datagen: can't write %s\n", out_path(asset));
    return false;
  }
  return true;
}

// As a PPM (RGB, no alpha).
bool canvas_save_ppm(Canvas* c, const char* asset) {
  cairo_surface_flush(c->surface);
  const uint8_t* data = cairo_image_surface_get_data(c->surface);
  int32_t stride = cairo_image_surface_get_stride(c->surface);
  uint8_t* rgb = (uint8_t*)mem_alloc((size_t)c->w * c->h * 3);
  bool ok = rgb != nullptr;
  if (ok) {
    for (int32_t y = 0; y < c->h; y++)
      for (int32_t x = 0; x < c->w; x++) {
        uint32_t px;
        memcpy(&px, data + y * stride + x * 4, 4);
        uint8_t* p = rgb + (y * c->w + x) * 3;
        p[0] = (px >> 16) & 255, p[1] = (px >> 8) & 255, p[2] = px & 255;
      }
    ok = write_ppm(asset, rgb, c->w, c->h);
    mem_free(rgb);
  }
  cairo_destroy(c->cr);
  cairo_surface_destroy(c->surface);
  return ok;
}

void rgba(cairo_t* cr, int r, int g, int b, double a = 1.0) {
  cairo_set_source_rgba(cr, r / 255.0, g / 255.0, b / 255.0, a);
}

// Per-pixel speckle over what is drawn (keeps alpha): breaks up flat fills.
void canvas_texture(Canvas* c, uint32_t seed, float amount) {
  cairo_surface_flush(c->surface);
  uint8_t* data = cairo_image_surface_get_data(c->surface);
  int32_t stride = cairo_image_surface_get_stride(c->surface);
  for (int32_t y = 0; y < c->h; y++)
    for (int32_t x = 0; x < c->w; x++) {
      uint8_t* p = data + y * stride + x * 4;
      float n = 1 + amount * (white(x, y, seed) - 0.5f) +
                amount * (vnoise((float)x, (float)y, 8, 1024, seed + 1) - 0.5f);
      // Premultiplied: scaling the colours keeps them below alpha as long as n <= 1.
      for (int k = 0; k < 3; k++) {
        float v = p[k] * n;
        float limit =
            (c->surface && cairo_image_surface_get_format(c->surface) == CAIRO_FORMAT_ARGB32) ? p[3]
                                                                                              : 255;
        p[k] = (uint8_t)clampf(v, 0, limit);
      }
    }
  cairo_surface_mark_dirty(c->surface);
}

// A blobby disc of leaves.
void leaf_clump(cairo_t* cr, double cx, double cy, double r, uint32_t seed, int dark_r, int dark_g,
                int dark_b, int light_r, int light_g, int light_b) {
  for (int i = 0; i < 40; i++) {
    double a = white(i, 0, seed) * 2 * PI;
    double d = sqrt(white(i, 1, seed)) * r;
    double rr = r * (0.18 + 0.22 * white(i, 2, seed));
    double x = cx + cos(a) * d, y = cy + sin(a) * d;
    // Lit from the upper left.
    double lit = clampf((float)(0.5 - (x - cx) / (2 * r) - (y - cy) / (2 * r)), 0, 1);
    rgba(cr, (int)lerpf(dark_r, light_r, (float)lit), (int)lerpf(dark_g, light_g, (float)lit),
         (int)lerpf(dark_b, light_b, (float)lit));
    cairo_arc(cr, x, y, rr, 0, 2 * PI);
    cairo_fill(cr);
  }
}

bool draw_tree1() {  // conifer
  Canvas c = canvas_new(256, 256, true);
  cairo_t* cr = c.cr;
  rgba(cr, 92, 64, 40);
  cairo_rectangle(cr, 120, 200, 16, 56);
  cairo_fill(cr);
  for (int layer = 0; layer < 6; layer++) {
    double top = 8 + layer * 32, bottom = top + 60;
    double half = 22 + layer * 16;
    cairo_move_to(cr, 128, top);
    for (int k = 0; k <= 8; k++) {  // ragged lower edge
      double x = 128 + half - k * half / 4;
      double y = bottom - ((k & 1) ? 10 : 0) - 6 * white(k, layer, 901);
      cairo_line_to(cr, x, y);
    }
    cairo_close_path(cr);
    cairo_pattern_t* p = cairo_pattern_create_linear(128 - half, 0, 128 + half, 0);
    cairo_pattern_add_color_stop_rgb(p, 0, 50 / 255.0, 96 / 255.0, 52 / 255.0);
    cairo_pattern_add_color_stop_rgb(p, 1, 22 / 255.0, 52 / 255.0, 30 / 255.0);
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
  }
  canvas_texture(&c, 903, 0.35f);
  return canvas_save(&c, DG_BB_TREE1);
}

bool draw_tree2() {  // broad-leaved tree
  Canvas c = canvas_new(256, 256, true);
  cairo_t* cr = c.cr;
  rgba(cr, 100, 74, 50);
  cairo_move_to(cr, 116, 256);
  cairo_line_to(cr, 122, 140);
  cairo_line_to(cr, 96, 100);
  cairo_line_to(cr, 104, 96);
  cairo_line_to(cr, 128, 126);
  cairo_line_to(cr, 150, 92);
  cairo_line_to(cr, 158, 98);
  cairo_line_to(cr, 136, 140);
  cairo_line_to(cr, 142, 256);
  cairo_close_path(cr);
  cairo_fill(cr);
  leaf_clump(cr, 128, 96, 84, 911, 34, 70, 24, 110, 160, 60);
  leaf_clump(cr, 86, 120, 48, 913, 34, 70, 24, 100, 150, 54);
  leaf_clump(cr, 172, 118, 50, 917, 34, 70, 24, 100, 150, 54);
  canvas_texture(&c, 919, 0.3f);
  return canvas_save(&c, DG_BB_TREE2);
}

bool draw_bush() {
  Canvas c = canvas_new(256, 128, true);
  cairo_t* cr = c.cr;
  leaf_clump(cr, 128, 84, 60, 921, 40, 72, 28, 120, 160, 70);
  leaf_clump(cr, 70, 96, 40, 923, 40, 72, 28, 116, 156, 66);
  leaf_clump(cr, 186, 96, 42, 925, 40, 72, 28, 116, 156, 66);
  canvas_texture(&c, 927, 0.3f);
  return canvas_save(&c, DG_BB_BUSH);
}

// Block letters as strokes on a 4 x 6 grid (x right, y down).
struct Glyph {
  char ch;
  const char* strokes;  // "x0y0x1y1..." polylines separated by spaces
};
const Glyph GLYPHS[] = {
    {'R', "06003041423303 2346"},
    {'U', "000516364540"},
    {'T', "0040 2026"},
    {'M', "0600234046"},
    {'O', "103041453616050110"},
    {'X', "0046 4006"},
    {'S', "41301001021333344445361605"},
    {'L', "000646"},
    {'W', "0016233640"},
    {'0', "103041453616050110 3115"},
    {'3', "01103041423313 334445361605"},
};

void draw_text(cairo_t* cr, const char* text, double x, double y, double cell, double line) {
  cairo_set_line_width(cr, line);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  for (const char* t = text; *t; t++, x += cell * 5.5) {
    const Glyph* g = nullptr;
    for (const Glyph& candidate : GLYPHS)
      if (candidate.ch == *t) g = &candidate;
    if (!g) continue;
    const char* s = g->strokes;
    bool first = true;
    while (*s) {
      if (*s == ' ') {
        first = true;
        s++;
        continue;
      }
      double px = x + (s[0] - '0') * cell, py = y + (s[1] - '0') * cell;
      if (first)
        cairo_move_to(cr, px, py);
      else
        cairo_line_to(cr, px, py);
      first = false;
      s += 2;
    }
    cairo_stroke(cr);
  }
}

double text_width(const char* text, double cell) { return (strlen(text) * 5.5 - 1.5) * cell; }

bool draw_banner1() {  // white lettering and border on transparent
  Canvas c = canvas_new(512, 128, true);
  cairo_t* cr = c.cr;
  rgba(cr, 255, 255, 255, 0.35);
  cairo_rectangle(cr, 6, 6, 500, 116);
  cairo_fill(cr);
  rgba(cr, 255, 255, 255);
  cairo_set_line_width(cr, 8);
  cairo_rectangle(cr, 10, 10, 492, 108);
  cairo_stroke(cr);
  const char* text = "RUTMOTO";
  double cell = 12;
  draw_text(cr, text, 256 - text_width(text, cell) / 2, 28, cell, 11);
  return canvas_save(&c, DG_BB_BANNER1);
}

bool draw_banner2() {  // chequered ends and chevrons around "MX"
  Canvas c = canvas_new(512, 128, true);
  cairo_t* cr = c.cr;
  rgba(cr, 255, 255, 255);
  for (int side = 0; side < 2; side++)
    for (int row = 0; row < 4; row++)
      for (int col = 0; col < 3; col++)
        if ((row + col) % 2 == 0) {
          cairo_rectangle(cr, side * 416 + 8 + col * 28, 8 + row * 28, 28, 28);
          cairo_fill(cr);
        }
  for (int k = 0; k < 3; k++) {
    for (int side = 0; side < 2; side++) {
      double x = side == 0 ? 110 + k * 26 : 402 - k * 26;
      double dir = side == 0 ? 1 : -1;
      cairo_move_to(cr, x, 24);
      cairo_line_to(cr, x + dir * 24, 64);
      cairo_line_to(cr, x, 104);
      cairo_set_line_width(cr, 10);
      cairo_stroke(cr);
    }
  }
  draw_text(cr, "MX", 256 - text_width("MX", 10) / 2, 34, 10, 10);
  return canvas_save(&c, DG_BB_BANNER2);
}

bool draw_arrow() {  // a yellow board with a black arrow on a post
  Canvas c = canvas_new(128, 128, true);
  cairo_t* cr = c.cr;
  rgba(cr, 110, 110, 110);
  cairo_rectangle(cr, 58, 72, 12, 56);
  cairo_fill(cr);
  rgba(cr, 30, 30, 30);
  cairo_rectangle(cr, 8, 12, 112, 64);
  cairo_fill(cr);
  rgba(cr, 250, 210, 30);
  cairo_rectangle(cr, 12, 16, 104, 56);
  cairo_fill(cr);
  rgba(cr, 20, 20, 20);
  cairo_move_to(cr, 22, 36);
  cairo_line_to(cr, 70, 36);
  cairo_line_to(cr, 70, 22);
  cairo_line_to(cr, 106, 44);
  cairo_line_to(cr, 70, 66);
  cairo_line_to(cr, 70, 52);
  cairo_line_to(cr, 22, 52);
  cairo_close_path(cr);
  cairo_fill(cr);
  return canvas_save(&c, DG_BB_ARROW);
}

// ------------------------------------------------------------ flaggers

enum FlagKind {
  FLAG_NONE,
  FLAG_GREEN,
  FLAG_YELLOW,
  FLAG_WHITE,
  FLAG_CHECKERED,
  FLAG_CROSSED,
  FLAG_BOARD_30,
  FLAG_BOARD_SIDE
};

void flag_cloth(cairo_t* cr, FlagKind kind, double x, double y, double w, double h) {
  if (kind == FLAG_CHECKERED) {
    for (int r = 0; r < 4; r++)
      for (int k = 0; k < 5; k++) {
        if ((r + k) % 2)
          rgba(cr, 20, 20, 20);
        else
          rgba(cr, 245, 245, 245);
        cairo_rectangle(cr, x + k * w / 5, y + r * h / 4, w / 5 + 0.5, h / 4 + 0.5);
        cairo_fill(cr);
      }
    return;
  }
  if (kind == FLAG_GREEN)
    rgba(cr, 30, 170, 60);
  else if (kind == FLAG_YELLOW)
    rgba(cr, 250, 215, 20);
  else
    rgba(cr, 248, 248, 248);
  cairo_move_to(cr, x, y);
  cairo_curve_to(cr, x + w * 0.3, y - h * 0.12, x + w * 0.6, y + h * 0.12, x + w, y);
  cairo_line_to(cr, x + w, y + h);
  cairo_curve_to(cr, x + w * 0.6, y + h * 1.12, x + w * 0.3, y + h * 0.88, x, y + h);
  cairo_close_path(cr);
  cairo_fill_preserve(cr);
  rgba(cr, 60, 60, 60);
  cairo_set_line_width(cr, 1.5);
  cairo_stroke(cr);
}

// A marshal in an orange vest; `raised` lifts the right arm above the head.
void draw_person(cairo_t* cr, bool raised, FlagKind flag) {
  // Legs.
  rgba(cr, 40, 48, 70);
  cairo_rectangle(cr, 52, 150, 11, 96);
  cairo_rectangle(cr, 66, 150, 11, 96);
  cairo_fill(cr);
  rgba(cr, 30, 30, 30);
  cairo_rectangle(cr, 48, 240, 15, 10);
  cairo_rectangle(cr, 66, 240, 15, 10);
  cairo_fill(cr);
  // Body with vest.
  rgba(cr, 245, 120, 20);
  cairo_rectangle(cr, 48, 74, 34, 80);
  cairo_fill(cr);
  rgba(cr, 230, 230, 120);
  cairo_rectangle(cr, 48, 118, 34, 6);
  cairo_fill(cr);
  // Head and cap.
  rgba(cr, 226, 180, 146);
  cairo_arc(cr, 65, 58, 14, 0, 2 * PI);
  cairo_fill(cr);
  rgba(cr, 30, 30, 30);
  cairo_arc(cr, 65, 52, 14, PI, 2 * PI);
  cairo_fill(cr);
  // Left arm down.
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_width(cr, 10);
  rgba(cr, 245, 120, 20);
  cairo_move_to(cr, 48, 80);
  cairo_line_to(cr, 40, 140);
  cairo_stroke(cr);
  // Right arm and what it holds.
  double hx, hy;
  cairo_move_to(cr, 82, 80);
  if (raised) {
    hx = 96, hy = 50;
  } else {
    hx = 96, hy = 134;
  }
  cairo_line_to(cr, hx, hy);
  cairo_stroke(cr);
  if (flag == FLAG_NONE) return;
  if (flag == FLAG_BOARD_30 || flag == FLAG_BOARD_SIDE) {
    rgba(cr, 90, 90, 90);
    cairo_set_line_width(cr, 4);
    cairo_move_to(cr, hx, hy);
    cairo_line_to(cr, hx, hy - 16);
    cairo_stroke(cr);
    if (flag == FLAG_BOARD_30) {
      rgba(cr, 250, 250, 250);
      cairo_rectangle(cr, hx - 24, hy - 50, 48, 34);
      cairo_fill(cr);
      rgba(cr, 20, 20, 20);
      draw_text(cr, "30", hx - 16.5, hy - 44, 3.5, 3.5);
    } else {
      rgba(cr, 250, 250, 250);
      cairo_rectangle(cr, hx - 3, hy - 50, 6, 34);  // the board turned sideways
      cairo_fill(cr);
    }
    return;
  }
  // A stick with the cloth.
  double top_x = raised ? hx + 4 : hx + 18, top_y = raised ? hy - 44 : hy + 40;
  rgba(cr, 80, 60, 40);
  cairo_set_line_width(cr, 3);
  cairo_move_to(cr, hx, hy);
  cairo_line_to(cr, top_x, top_y);
  cairo_stroke(cr);
  if (flag == FLAG_CROSSED) {
    // Two rolled flags crossed above the head.
    rgba(cr, 248, 248, 248);
    cairo_set_line_width(cr, 7);
    cairo_move_to(cr, 40, 4);
    cairo_line_to(cr, 112, 48);
    cairo_stroke(cr);
    rgba(cr, 30, 170, 60);
    cairo_move_to(cr, 112, 4);
    cairo_line_to(cr, 40, 48);
    cairo_stroke(cr);
    return;
  }
  if (raised)
    flag_cloth(cr, flag, top_x, top_y, 26, 20);
  else
    flag_cloth(cr, flag, top_x - 4, top_y - 2, 10, 28);
}

bool draw_flagger(const char* asset, bool raised, FlagKind flag) {
  Canvas c = canvas_new(128, 256, true);
  draw_person(c.cr, raised, flag);
  return canvas_save(&c, asset);
}

bool draw_flaggers() {
  char name[64];
  // Starter: green flag to call the riders, the 30-second board, the board
  // turned sideways (5 seconds), then standing back.
  const FlagKind starter[5] = {FLAG_GREEN, FLAG_BOARD_30, FLAG_BOARD_SIDE, FLAG_NONE, FLAG_NONE};
  const bool starter_raised[5] = {true, true, true, false, true};
  for (int i = 0; i < 5; i++) {
    snprintf(name, sizeof name, DG_FLAG_STARTER_FORMAT, i + 1);
    if (!draw_flagger(name, starter_raised[i], starter[i])) return false;
  }
  // Lap flagger: racing (green), half-way (crossed), last lap (white), finish (chequered).
  const FlagKind lap[4] = {FLAG_GREEN, FLAG_CROSSED, FLAG_WHITE, FLAG_CHECKERED};
  for (int i = 0; i < 4; i++) {
    snprintf(name, sizeof name, DG_FLAG_LAP_FORMAT, i + 1);
    if (!draw_flagger(name, i != 0, lap[i])) return false;
  }
  return draw_flagger(DG_FLAG_CORNER, false, FLAG_YELLOW) &&
         draw_flagger(DG_FLAG_CORNER_WAVING, true, FLAG_YELLOW);
}

// ------------------------------------------------------------ roost and decals

// A soft particle: a few overlapping blobs with a radial alpha fall-off.
bool draw_particle(const char* asset, int32_t size, Rgb color, float softness, uint32_t seed,
                   int blobs) {
  Canvas c = canvas_new(size, size, true);
  cairo_t* cr = c.cr;
  double half = size / 2.0;
  for (int i = 0; i < blobs; i++) {
    double a = white(i, 0, seed) * 2 * PI, d = white(i, 1, seed) * half * 0.45;
    double r = half * (0.25 + 0.3 * white(i, 2, seed));
    double x = half + cos(a) * d, y = half + sin(a) * d;
    cairo_pattern_t* p = cairo_pattern_create_radial(x, y, r * (1 - softness), x, y, r);
    float shade = 0.8f + 0.4f * white(i, 3, seed);
    cairo_pattern_add_color_stop_rgba(p, 0, color.r * shade / 255, color.g * shade / 255,
                                      color.b * shade / 255, 1);
    cairo_pattern_add_color_stop_rgba(p, 1, color.r * shade / 255, color.g * shade / 255,
                                      color.b * shade / 255, 0);
    cairo_set_source(cr, p);
    cairo_arc(cr, x, y, r, 0, 2 * PI);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
  }
  return canvas_save(&c, asset);
}

bool draw_grass_roost() {  // torn blades and clods
  Canvas c = canvas_new(64, 64, true);
  cairo_t* cr = c.cr;
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  for (int i = 0; i < 14; i++) {
    double x = 12 + white(i, 0, 941) * 40, y = 12 + white(i, 1, 941) * 40;
    double a = white(i, 2, 941) * PI;
    rgba(cr, 50 + (int)(60 * white(i, 3, 941)), 110 + (int)(50 * white(i, 4, 941)), 40);
    cairo_set_line_width(cr, 2.5);
    cairo_move_to(cr, x - cos(a) * 9, y - sin(a) * 9);
    cairo_line_to(cr, x + cos(a) * 9, y + sin(a) * 9);
    cairo_stroke(cr);
  }
  rgba(cr, 96, 70, 46);
  cairo_arc(cr, 32, 34, 8, 0, 2 * PI);
  cairo_fill(cr);
  return canvas_save(&c, DG_ROOST_GRASS);
}

bool draw_decals() {
  {  // Tyre marks: two dark tread bands, fading at the ends.
    Canvas c = canvas_new(64, 256, true);
    cairo_t* cr = c.cr;
    for (int y = 0; y < 256; y += 8) {
      double fade = clampf((float)(1 - fabs(y - 128.0) / 128.0) * 2, 0, 1);
      rgba(cr, 40, 30, 22, 0.75 * fade);
      cairo_rectangle(cr, 12, y, 40, 5);
      cairo_fill(cr);
      rgba(cr, 40, 30, 22, 0.4 * fade);
      cairo_rectangle(cr, 12, y + 5, 40, 3);
      cairo_fill(cr);
    }
    if (!canvas_save(&c, DG_DECAL_TYRES)) return false;
  }
  {  // Puddle: muddy water with a bright sheen and a soft edge.
    Canvas c = canvas_new(128, 128, true);
    cairo_t* cr = c.cr;
    cairo_save(cr);
    cairo_translate(cr, 64, 64);
    cairo_scale(cr, 1.0, 0.75);
    cairo_pattern_t* p = cairo_pattern_create_radial(-10, -10, 4, 0, 0, 60);
    cairo_pattern_add_color_stop_rgba(p, 0, 0.62, 0.64, 0.66, 0.9);
    cairo_pattern_add_color_stop_rgba(p, 0.5, 0.32, 0.30, 0.26, 0.85);
    cairo_pattern_add_color_stop_rgba(p, 0.85, 0.26, 0.20, 0.14, 0.7);
    cairo_pattern_add_color_stop_rgba(p, 1, 0.26, 0.20, 0.14, 0);
    cairo_set_source(cr, p);
    cairo_arc(cr, 0, 0, 60, 0, 2 * PI);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
    cairo_restore(cr);
    if (!canvas_save(&c, DG_DECAL_PUDDLE)) return false;
  }
  {  // Start line: a white painted band with worn edges.
    Canvas c = canvas_new(256, 32, true);
    cairo_t* cr = c.cr;
    rgba(cr, 250, 250, 250, 0.9);
    cairo_rectangle(cr, 0, 8, 256, 16);
    cairo_fill(cr);
    cairo_surface_flush(c.surface);
    uint8_t* data = cairo_image_surface_get_data(c.surface);
    int32_t stride = cairo_image_surface_get_stride(c.surface);
    for (int32_t y = 0; y < 32; y++)
      for (int32_t x = 0; x < 256; x++)
        if (vnoise((float)x, (float)y, 4, 256, 951) < 0.3f) memset(data + y * stride + x * 4, 0, 4);
    cairo_surface_mark_dirty(c.surface);
    if (!canvas_save(&c, DG_DECAL_START)) return false;
  }
  return true;
}

// ------------------------------------------------------------ statue textures

bool draw_statue_textures() {
  {  // Hay bale: straw with strings.
    Canvas c = canvas_new(256, 256, false);
    cairo_t* cr = c.cr;
    rgba(cr, 214, 186, 100);
    cairo_paint(cr);
    cairo_set_line_width(cr, 1.5);
    for (int i = 0; i < 500; i++) {
      double x = white(i, 0, 961) * 256, y = white(i, 1, 961) * 256;
      double a = (white(i, 2, 961) - 0.5) * 0.6;
      int v = (int)(60 * white(i, 3, 961));
      rgba(cr, 170 + v, 140 + v, 60 + v / 2);
      cairo_move_to(cr, x - cos(a) * 14, y - sin(a) * 14);
      cairo_line_to(cr, x + cos(a) * 14, y + sin(a) * 14);
      cairo_stroke(cr);
    }
    rgba(cr, 60, 100, 160);
    cairo_set_line_width(cr, 4);
    for (int k = 0; k < 2; k++) {
      cairo_move_to(cr, 80 + k * 96, 0);
      cairo_line_to(cr, 80 + k * 96, 256);
      cairo_stroke(cr);
    }
    canvas_texture(&c, 963, 0.2f);
    if (!canvas_save(&c, DG_HAYBALE_TEXTURE)) return false;
  }
  {  // Tuff block: blue plastic with a white band.
    Canvas c = canvas_new(256, 128, false);
    cairo_t* cr = c.cr;
    rgba(cr, 30, 80, 170);
    cairo_paint(cr);
    rgba(cr, 240, 240, 240);
    cairo_rectangle(cr, 0, 48, 256, 32);
    cairo_fill(cr);
    rgba(cr, 20, 50, 120);
    cairo_set_line_width(cr, 3);
    cairo_rectangle(cr, 4, 4, 248, 120);
    cairo_stroke(cr);
    canvas_texture(&c, 965, 0.12f);
    if (!canvas_save(&c, DG_TUFFBLOCK_TEXTURE)) return false;
  }
  {  // Tire: black rubber with tread blocks (u around, v across).
    Canvas c = canvas_new(256, 64, false);
    cairo_t* cr = c.cr;
    rgba(cr, 28, 28, 30);
    cairo_paint(cr);
    rgba(cr, 48, 48, 50);
    for (int k = 0; k < 16; k++) {
      cairo_rectangle(cr, k * 16 + 2, 18, 10, 12);
      cairo_rectangle(cr, k * 16 + 9, 34, 10, 12);
    }
    cairo_fill(cr);
    canvas_texture(&c, 967, 0.25f);
    if (!canvas_save(&c, DG_TIRE_TEXTURE)) return false;
  }
  {  // Sign: "SLOW" on a yellow board (upper half front, lower half back/edges).
    Canvas c = canvas_new(256, 128, false);
    cairo_t* cr = c.cr;
    rgba(cr, 250, 210, 30);
    cairo_paint(cr);
    rgba(cr, 20, 20, 20);
    cairo_set_line_width(cr, 6);
    cairo_rectangle(cr, 6, 6, 244, 116);
    cairo_stroke(cr);
    draw_text(cr, "SLOW", 128 - text_width("SLOW", 9) / 2, 37, 9, 9);
    if (!canvas_save(&c, DG_SIGN_TEXTURE)) return false;
  }
  {  // Start gate: painted metal, the riders' side with a "GO" stripe pattern.
    Canvas c = canvas_new(256, 128, false);
    cairo_t* cr = c.cr;
    rgba(cr, 200, 204, 210);
    cairo_paint(cr);
    for (int k = -4; k < 20; k++) {
      rgba(cr, 250, 200, 20);
      cairo_move_to(cr, k * 24, 128);
      cairo_line_to(cr, k * 24 + 12, 128);
      cairo_line_to(cr, k * 24 + 12 + 40, 88);
      cairo_line_to(cr, k * 24 + 40, 88);
      cairo_close_path(cr);
      cairo_fill(cr);
    }
    rgba(cr, 30, 60, 140);
    cairo_rectangle(cr, 0, 0, 256, 24);
    cairo_fill(cr);
    rgba(cr, 255, 255, 255);
    draw_text(cr, "RUTMOTO", 128 - text_width("RUTMOTO", 3) / 2, 3, 3, 2.5);
    canvas_texture(&c, 969, 0.1f);
    if (!canvas_save_ppm(&c, DG_STARTGATE_TEXTURE)) return false;
  }
  return true;
}

}  // namespace

bool datagen_pictures(const char* out_dir) {
  snprintf(g_dir, sizeof g_dir, "%s", out_dir);
  bool ok = write_ground(DG_TILE_DIRT, GROUND_DIRT) &&
            write_ground(DG_TILE_DIRT_ALT, GROUND_DIRT_ALT) &&
            write_ground(DG_TILE_HARDPACK, GROUND_HARDPACK) &&
            write_ground(DG_TILE_GRASS, GROUND_GRASS) && write_ground(DG_TILE_SAND, GROUND_SAND) &&
            write_ground(DG_TILE_MUD, GROUND_MUD);
  for (int32_t mask = 1; ok && mask <= 14; mask++) ok = write_transition(mask);
  ok = ok && draw_particle(DG_ROOST_DIRT, 64, Rgb{120, 88, 58}, 0.5f, 931, 6) &&
       draw_particle(DG_ROOST_DUST, 64, Rgb{176, 154, 124}, 0.95f, 933, 7) && draw_grass_roost() &&
       draw_particle(DG_ROOST_SAND, 64, Rgb{214, 190, 140}, 0.7f, 937, 9) &&
       draw_particle(DG_SPLASH_MUD, 64, Rgb{70, 52, 36}, 0.3f, 939, 8);
  ok = ok && write_sky();
  ok = ok && draw_tree1() && draw_tree2() && draw_bush() && draw_banner1() && draw_banner2() &&
       draw_arrow();
  ok = ok && draw_flaggers() && draw_decals() && draw_statue_textures();
  return ok;
}
