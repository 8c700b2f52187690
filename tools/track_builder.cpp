// Track building toolkit: centre lines, jump profiles, sculpting, tile
// corners, the HUD map picture and small file helpers.
#include "tools/track_builder.h"

#include <cairo.h>

#include <cmath>
#include <cstring>

#include "core/files.h"
#include "render/image.h"

namespace {

constexpr float PI = 3.14159265358979f;
constexpr float FAR_AWAY = 1e30f;

float clampf(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }
float smoothstep01(float t) {
  t = clampf(t, 0.0f, 1.0f);
  return t * t * (3.0f - 2.0f * t);
}

void push_point(TrackPath* path, float width, int32_t turn, float bank) {
  PathPoint p{};
  p.x = path->x;
  p.z = path->z;
  p.dx = cosf(path->heading);
  p.dz = sinf(path->heading);
  p.s = path->points.count ? path->points.data[path->points.count - 1].s : 0.0f;
  if (path->points.count) {
    const PathPoint& q = path->points.data[path->points.count - 1];
    p.s += hypotf(p.x - q.x, p.z - q.z);
  }
  p.width = width;
  p.bank = bank;
  p.turn = turn;
  grow_push(path->points, p);
}

// Length of a face rising by height whose steepest slope (at the lip) is
// face_degrees, for the quarter-cosine shape used below.
float face_length(float height, float face_degrees) {
  return height * (PI / 2) / tanf(face_degrees * PI / 180.0f);
}

// Adds f(s) for s in [s0, s1) to the profile.
template <typename F>
void add_profile(TrackPath* path, float s0, float s1, F f) {
  for (int32_t k = 0; k < path->points.count; k++) {
    PathPoint& p = path->points.data[k];
    if (p.s >= s0 && p.s < s1) p.profile += f(p.s - s0);
  }
}

// Concave face: 0 at t = 0, height at t = 1, steepest at the lip.
float face_shape(float t) { return 1.0f - cosf(clampf(t, 0, 1) * PI / 2); }

}  // namespace

// ---------------------------------------------------------------- centre line

void path_begin(TrackPath* path, float x, float z, float heading, float width) {
  path->points = GrowArray<PathPoint>{};
  path->x = x;
  path->z = z;
  path->heading = heading;
  path->width = width;
  path->closed = false;
  push_point(path, width, 0, 0.0f);
}

void path_straight(TrackPath* path, float length, float end_width) {
  if (end_width < 0) end_width = path->width;
  float start_width = path->width;
  int32_t steps = (int32_t)ceilf(length / PATH_STEP);
  if (steps < 1) steps = 1;
  float step = length / (float)steps;
  float dx = cosf(path->heading), dz = sinf(path->heading);
  // Starting point of the piece, so that rounding never accumulates.
  float x0 = path->x, z0 = path->z;
  for (int32_t k = 1; k <= steps; k++) {
    path->x = x0 + dx * step * (float)k;
    path->z = z0 + dz * step * (float)k;
    float t = (float)k / (float)steps;
    push_point(path, start_width + (end_width - start_width) * t, 0, 0.0f);
  }
  path->width = end_width;
}

void path_straight_to_x(TrackPath* path, float x) {
  float dx = cosf(path->heading);
  if (fabsf(dx) < 1e-3f) return;
  float length = (x - path->x) / dx;
  if (length > 0) path_straight(path, length);
}

void path_straight_to_z(TrackPath* path, float z) {
  float dz = sinf(path->heading);
  if (fabsf(dz) < 1e-3f) return;
  float length = (z - path->z) / dz;
  if (length > 0) path_straight(path, length);
}

void path_arc(TrackPath* path, float radius, float degrees, float bank) {
  float sign = degrees >= 0 ? 1.0f : -1.0f;
  float total = fabsf(degrees) * PI / 180.0f;
  float length = radius * total;
  int32_t steps = (int32_t)ceilf(length / PATH_STEP);
  if (steps < 1) steps = 1;
  // Centre of the turn: to the right (+) or left (-) of the heading.
  float h0 = path->heading;
  float cx = path->x - sinf(h0) * radius * sign;
  float cz = path->z + cosf(h0) * radius * sign;
  // Outside of a right turn is the rider's left: the right side goes down.
  float side_bank = -sign * bank;
  for (int32_t k = 1; k <= steps; k++) {
    float h = h0 + sign * total * (float)k / (float)steps;
    path->heading = h;
    path->x = cx + sinf(h) * radius * sign;
    path->z = cz - cosf(h) * radius * sign;
    push_point(path, path->width, (int32_t)sign, side_bank);
  }
  // Keep headings exact for axis-aligned pieces that follow.
  float snapped = roundf(path->heading / (PI / 2)) * (PI / 2);
  if (fabsf(snapped - path->heading) < 1e-4f) path->heading = snapped;
}

float path_length(const TrackPath* path) {
  if (!path->points.count) return 0;
  float length = path->points.data[path->points.count - 1].s;
  if (path->closed) {
    const PathPoint& a = path->points.data[path->points.count - 1];
    const PathPoint& b = path->points.data[0];
    length += hypotf(a.x - b.x, a.z - b.z);
  }
  return length;
}

int32_t path_index_at(const TrackPath* path, float s) {
  int32_t lo = 0, hi = path->points.count - 1;
  if (hi < 0) return -1;
  if (s <= path->points.data[0].s) return 0;
  if (s >= path->points.data[hi].s) return hi;
  while (hi - lo > 1) {
    int32_t mid = (lo + hi) / 2;
    if (path->points.data[mid].s <= s)
      lo = mid;
    else
      hi = mid;
  }
  return s - path->points.data[lo].s < path->points.data[hi].s - s ? lo : hi;
}

const PathPoint* path_at(const TrackPath* path, float s) {
  int32_t k = path_index_at(path, s);
  return k < 0 ? nullptr : &path->points.data[k];
}

void path_free(TrackPath* path) { grow_free(path->points); }

namespace {

// Box filter of +-radius points over one float field of the points.
void smooth_field(TrackPath* path, size_t offset, float radius) {
  int32_t n = path->points.count;
  if (n < 3) return;
  int32_t r = (int32_t)(radius / PATH_STEP);
  if (r < 1) return;
  float* values = (float*)mem_alloc_or_die(sizeof(float) * (size_t)n);
  float* out = (float*)mem_alloc_or_die(sizeof(float) * (size_t)n);
  auto field = [&](int32_t k) -> float& {
    return *(float*)((char*)&path->points.data[k] + offset);
  };
  for (int32_t k = 0; k < n; k++) values[k] = field(k);
  for (int32_t pass = 0; pass < 2; pass++) {
    for (int32_t k = 0; k < n; k++) {
      double sum = 0;
      int32_t count = 0;
      for (int32_t m = k - r; m <= k + r; m++) {
        int32_t idx = m;
        if (path->closed)
          idx = ((m % n) + n) % n;
        else if (idx < 0 || idx >= n)
          continue;
        sum += values[idx];
        count++;
      }
      out[k] = (float)(sum / count);
    }
    memcpy(values, out, sizeof(float) * (size_t)n);
  }
  for (int32_t k = 0; k < n; k++) field(k) = values[k];
  mem_free(values);
  mem_free(out);
}

}  // namespace

void path_smooth_bank(TrackPath* path, float radius) {
  smooth_field(path, offsetof(PathPoint, bank), radius);
}

void path_set_ground(TrackPath* path, float (*base)(float x, float z), float smooth_radius) {
  for (int32_t k = 0; k < path->points.count; k++) {
    PathPoint& p = path->points.data[k];
    p.ground = base(p.x, p.z);
  }
  smooth_field(path, offsetof(PathPoint, ground), smooth_radius);
}

// ---------------------------------------------------------------- jump profiles

float profile_tabletop(TrackPath* path, float s0, float height, float face_degrees,
                       float deck_length, float landing_length) {
  float face = face_length(height, face_degrees);
  float deck_end = face + deck_length;
  float end = deck_end + landing_length;
  add_profile(path, s0, s0 + end, [=](float t) {
    if (t < face) return height * face_shape(t / face);
    if (t < deck_end) return height;
    return height * (1.0f - smoothstep01((t - deck_end) / landing_length));
  });
  return s0 + end;
}

float profile_double(TrackPath* path, float s0, float height, float face_degrees, float gap,
                     float landing_height, float landing_length) {
  float face = face_length(height, face_degrees);
  // The back of the take-off and the front of the landing are steep (about
  // 45 degrees); the gap between them returns to the ground.
  float back = height * 1.2f;
  float front = landing_height * 1.2f;
  float lip = face;
  float top = lip + gap;  // top of the landing ramp
  float end = top + landing_length;
  add_profile(path, s0, s0 + end, [=](float t) {
    float h = 0;
    if (t < lip)
      h = height * face_shape(t / face);
    else if (t < lip + back)
      h = height * (1.0f - smoothstep01((t - lip) / back));
    if (t >= top - front && t < top)
      h = fmaxf(h, landing_height * smoothstep01((t - (top - front)) / front));
    if (t >= top) h = landing_height * (1.0f - smoothstep01((t - top) / landing_length));
    return h;
  });
  return s0 + end;
}

float profile_step_up(TrackPath* path, float s0, float height, float face_degrees, float gap,
                      float top_height, float top_length, float down_length) {
  float face = face_length(height, face_degrees);
  float lip = face;
  float wall = 6.0f;  // front of the upper landing
  float top = lip + gap;
  float end = top + top_length + down_length;
  // The gap dips to half the lip height.
  float dip = height * 0.5f;
  add_profile(path, s0, s0 + end, [=](float t) {
    if (t < lip) return height * face_shape(t / face);
    if (t < top - wall) {
      float u = (t - lip) / fmaxf(1.0f, top - wall - lip);
      return height - (height - dip) * sinf(u * PI);
    }
    if (t < top) {
      float from = height - (height - dip) * sinf(PI);  // = height
      return from + (top_height - from) * smoothstep01((t - (top - wall)) / wall);
    }
    if (t < top + top_length) return top_height;
    return top_height * (1.0f - smoothstep01((t - top - top_length) / down_length));
  });
  return s0 + end;
}

float profile_kicker(TrackPath* path, float s0, float height, float face_degrees) {
  float face = face_length(height, face_degrees);
  float back = height * 2.0f;
  add_profile(path, s0, s0 + face + back, [=](float t) {
    if (t < face) return height * face_shape(t / face);
    return height * (1.0f - smoothstep01((t - face) / back));
  });
  return s0 + face + back;
}

float profile_whoops(TrackPath* path, float s0, int32_t count, float spacing, float height) {
  float end = (float)count * spacing;
  add_profile(path, s0, s0 + end, [=](float t) {
    float u = fmodf(t, spacing) / spacing;
    return height * 0.5f * (1.0f - cosf(u * 2 * PI));
  });
  return s0 + end;
}

// ---------------------------------------------------------------- sculpting

namespace {

// Interpolated point values at distance s.
struct PathSample {
  float width, bank, profile, ground;
};

PathSample sample_path(const TrackPath* path, float s) {
  const GrowArray<PathPoint>& pts = path->points;
  int32_t n = pts.count;
  PathSample out{};
  if (n == 0) return out;
  int32_t lo = 0, hi = n - 1;
  if (s <= pts.data[0].s) {
    hi = 0;
  } else if (s >= pts.data[n - 1].s) {
    lo = n - 1;
  } else {
    while (hi - lo > 1) {
      int32_t mid = (lo + hi) / 2;
      if (pts.data[mid].s <= s)
        lo = mid;
      else
        hi = mid;
    }
  }
  if (hi <= lo) {
    const PathPoint& p = pts.data[hi < lo ? hi : lo];
    return PathSample{p.width, p.bank, p.profile, p.ground};
  }
  const PathPoint& a = pts.data[lo];
  const PathPoint& b = pts.data[hi];
  float span = b.s - a.s;
  float t = span > 0 ? (s - a.s) / span : 0;
  out.width = a.width + (b.width - a.width) * t;
  out.bank = a.bank + (b.bank - a.bank) * t;
  out.profile = a.profile + (b.profile - a.profile) * t;
  out.ground = a.ground + (b.ground - a.ground) * t;
  return out;
}

float surface_from_sample(const PathSample& p, float lateral, float shoulder) {
  float half = p.width * 0.5f + shoulder;
  return p.ground + p.profile + p.bank * clampf(lateral, -half, half);
}

}  // namespace

float path_surface_height(const TrackPath* path, float s, float lateral) {
  return surface_from_sample(sample_path(path, s), lateral, 0.0f);
}

bool sculpt_paths(HeightField* hf, TrackPath* const* paths, int32_t path_count,
                  float (*base)(float x, float z), const SculptParams* params, PathField* field) {
  int32_t g = hf->grid_size;
  size_t count = (size_t)g * (size_t)g;
  float sp = hf->spacing;
  field->grid = g;
  field->spacing = sp;
  field->dist = (float*)mem_alloc_or_die(count * sizeof(float));
  field->lateral = (float*)mem_alloc_or_die(count * sizeof(float));
  field->s = (float*)mem_alloc_or_die(count * sizeof(float));
  field->which = (uint8_t*)mem_alloc_or_die(count);
  for (size_t k = 0; k < count; k++) {
    field->dist[k] = FAR_AWAY;
    field->lateral[k] = 0;
    field->s[k] = 0;
    field->which[k] = 0;
  }
  for (int32_t w = 0; w < path_count; w++) {
    const TrackPath* path = paths[w];
    int32_t n = path->points.count;
    if (n < 2) continue;
    // Reach: the widest surface plus the longest blend the path can need.
    float reach = 0;
    for (int32_t k = 0; k < n; k++) {
      const PathPoint& p = path->points.data[k];
      float half = p.width * 0.5f + params->shoulder;
      float rise = fabsf(p.profile) + fabsf(p.bank) * half + 4.0f;
      float r = half + params->blend_min + params->blend_ratio * rise;
      if (r > reach) reach = r;
    }
    int32_t segments = path->closed ? n : n - 1;
    for (int32_t k = 0; k < segments; k += 2) {
      const PathPoint& a = path->points.data[k];
      int32_t kb = k + 2;
      float sb;
      if (kb >= n) {
        kb = path->closed ? kb - n : n - 1;
        sb = path->closed ? path_length(path) + path->points.data[kb].s : path->points.data[kb].s;
      } else {
        sb = path->points.data[kb].s;
      }
      const PathPoint& b = path->points.data[kb];
      float ex = b.x - a.x, ez = b.z - a.z;
      float len2 = ex * ex + ez * ez;
      if (len2 <= 0) continue;
      int32_t i0 = (int32_t)floorf((fminf(a.x, b.x) - reach) / sp);
      int32_t i1 = (int32_t)ceilf((fmaxf(a.x, b.x) + reach) / sp);
      int32_t j0 = (int32_t)floorf((fminf(a.z, b.z) - reach) / sp);
      int32_t j1 = (int32_t)ceilf((fmaxf(a.z, b.z) + reach) / sp);
      if (i0 < 0) i0 = 0;
      if (j0 < 0) j0 = 0;
      if (i1 > g - 1) i1 = g - 1;
      if (j1 > g - 1) j1 = g - 1;
      float inv_len = 1.0f / sqrtf(len2);
      for (int32_t j = j0; j <= j1; j++) {
        float pz = (float)j * sp;
        size_t row = (size_t)j * (size_t)g;
        for (int32_t i = i0; i <= i1; i++) {
          float px = (float)i * sp;
          float t = ((px - a.x) * ex + (pz - a.z) * ez) / len2;
          t = clampf(t, 0.0f, 1.0f);
          float qx = a.x + ex * t - px, qz = a.z + ez * t - pz;
          float d2 = qx * qx + qz * qz;
          size_t idx = row + (size_t)i;
          float d = sqrtf(d2);
          if (d >= field->dist[idx]) continue;
          field->dist[idx] = d;
          // Right of the direction of travel (dx, dz) is (-dz, dx).
          float side = ((px - a.x) * (-ez) + (pz - a.z) * ex) * inv_len;
          field->lateral[idx] = side >= 0 ? d : -d;
          field->s[idx] = a.s + (sb - a.s) * t;
          field->which[idx] = (uint8_t)w;
        }
      }
    }
  }
  for (int32_t j = 0; j < g; j++) {
    for (int32_t i = 0; i < g; i++) {
      size_t idx = (size_t)j * (size_t)g + (size_t)i;
      float x = (float)i * sp, z = (float)j * sp;
      float b = base(x, z);
      float d = field->dist[idx];
      if (d >= FAR_AWAY) {
        hf->heights[idx] = b;
        continue;
      }
      const TrackPath* path = paths[field->which[idx]];
      float s = field->s[idx];
      if (path->closed) {
        float length = path_length(path);
        if (s >= length) s -= length;
      }
      PathSample p = sample_path(path, s);
      float half = p.width * 0.5f + params->shoulder;
      float lateral = field->lateral[idx];
      float surface = surface_from_sample(p, lateral, params->shoulder);
      float beyond = d - half;
      if (beyond <= 0) {
        hf->heights[idx] = surface;
        continue;
      }
      float blend = params->blend_min + params->blend_ratio * fabsf(surface - b);
      float t = smoothstep01(beyond / blend);
      hf->heights[idx] = surface + (b - surface) * t;
    }
  }
  return true;
}

void path_field_free(PathField* field) {
  mem_free(field->dist);
  mem_free(field->lateral);
  mem_free(field->s);
  mem_free(field->which);
  *field = PathField{};
}

bool path_field_on_track(const PathField* field, TrackPath* const* paths, int32_t i, int32_t j,
                         float margin) {
  if (i < 0 || j < 0 || i >= field->grid || j >= field->grid) return false;
  size_t idx = (size_t)j * (size_t)field->grid + (size_t)i;
  float d = field->dist[idx];
  if (d >= FAR_AWAY) return false;
  const TrackPath* path = paths[field->which[idx]];
  const PathPoint* p = path_at(path, field->s[idx]);
  return p && d <= p->width * 0.5f + margin;
}

// ---------------------------------------------------------------- tiles

int32_t tile_corner_mask(const bool* grass_corner, int32_t corners_per_side, int32_t cx,
                         int32_t cz) {
  auto at = [&](int32_t x, int32_t z) {
    return grass_corner[(size_t)z * (size_t)corners_per_side + (size_t)x] ? 1 : 0;
  };
  // Upper-left 8, upper-right 4, lower-left 2, lower-right 1, as the
  // editor's tilemap brush refits them ("upper" = smaller z).
  return at(cx, cz) << 3 | at(cx + 1, cz) << 2 | at(cx, cz + 1) << 1 | at(cx + 1, cz + 1);
}

float cell_hash(int32_t cx, int32_t cz, uint32_t salt) {
  uint32_t h = (uint32_t)cx * 0x8da6b343u ^ (uint32_t)cz * 0xd8163841u ^ salt * 0xcb1ab31fu;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return (float)(h & 0xFFFFFF) / 16777215.0f;
}

// ---------------------------------------------------------------- files

bool track_write_text(const char* dir, const char* name, const char* text) {
  FILE* f = dg_create(dir, name);
  if (!f) return false;
  size_t n = strlen(text);
  bool ok = fwrite(text, 1, n, f) == n;
  return fclose(f) == 0 && ok;
}

bool render_track_map(const char* path, const HeightField* hf, TrackPath* const* paths,
                      int32_t path_count, int32_t size) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return false;
  cairo_t* cr = cairo_create(surface);
  double scale = (double)size / hf->world_size;
  cairo_scale(cr, scale, scale);
  // Outline first, then the surface over it, so crossings and merges join.
  for (int32_t pass = 0; pass < 2; pass++) {
    double extra = pass == 0 ? 2.2 / scale : 0.0;
    if (pass == 0)
      cairo_set_source_rgba(cr, 0.12, 0.09, 0.06, 1.0);
    else
      cairo_set_source_rgba(cr, 0.93, 0.82, 0.62, 1.0);
    for (int32_t w = 0; w < path_count; w++) {
      const TrackPath* p = paths[w];
      for (int32_t k = 0; k < p->points.count; k += 2) {
        const PathPoint& q = p->points.data[k];
        cairo_new_path(cr);
        cairo_arc(cr, q.x, q.z, q.width * 0.5 + extra, 0, 2 * M_PI);
        cairo_fill(cr);
      }
    }
  }
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  const uint8_t* data = cairo_image_surface_get_data(surface);
  int32_t stride = cairo_image_surface_get_stride(surface);
  uint8_t* rgba = (uint8_t*)mem_alloc_or_die((size_t)size * (size_t)size * 4);
  for (int32_t y = 0; y < size; y++) {
    for (int32_t x = 0; x < size; x++) {
      uint32_t v;
      memcpy(&v, data + (size_t)y * (size_t)stride + (size_t)x * 4, 4);
      uint32_t a = v >> 24, r = (v >> 16) & 255, g = (v >> 8) & 255, b = v & 255;
      uint8_t* o = rgba + ((size_t)y * (size_t)size + (size_t)x) * 4;
      // Cairo stores premultiplied colour.
      o[0] = (uint8_t)(a ? (r * 255 + a / 2) / a : 0);
      o[1] = (uint8_t)(a ? (g * 255 + a / 2) / a : 0);
      o[2] = (uint8_t)(a ? (b * 255 + a / 2) / a : 0);
      o[3] = (uint8_t)a;
    }
  }
  cairo_surface_destroy(surface);
  bool ok = image_write_png_rgba(path, rgba, size, size);
  mem_free(rgba);
  return ok;
}

void decal_push(HeightField* hf, float x, float z, float angle, float size, float aspect,
                const char* name) {
  Decal d{};
  d.x = x;
  d.z = z;
  d.angle = angle;
  d.size = size;
  d.aspect = aspect;
  d.sin_angle = sinf(angle);
  d.cos_angle = cosf(angle);
  d.name = intern_string(name);
  grow_push(hf->decals, d);
  hf->has_decals = true;
}

int32_t checkpoint_add(TimingData* timing, const TrackPath* path, float s, float radius) {
  if (timing->gate_count >= TIMING_MAX_GATES) return -1;
  PathSample p = sample_path(path, s);
  const PathPoint* q = path_at(path, s);
  if (!q) return -1;
  TimingGate& gate = timing->gates[timing->gate_count];
  gate = TimingGate{};
  gate.centre[0] = q->x;
  gate.centre[1] = p.ground + p.profile;
  gate.centre[2] = q->z;
  gate.direction[0] = q->dx;
  gate.direction[1] = 0;
  gate.direction[2] = q->dz;
  gate.radius = radius;
  return timing->gate_count++;
}

// ---------------------------------------------------------------- ground types

void tileinfo_write_tile(FILE* f, GroundKind kind, const char* texture) {
  fprintf(f, "texture %s\n", texture);
  switch (kind) {
    case GROUND_DIRT:
      // Loose dirt: good grip that falls away as the tyre spins up, digs in,
      // throws a lot of roost and ruts quickly.
      fputs("friction 1.10 1\nfriction 1.00 6\nfriction 0.85 20\n", f);
      fputs("roll_resist 6 18 1\nroll_resist 7 22 40\n", f);
      fputs(
          "roost texture=@roost.png count=2 dig=1 slip_threshold=4 size=0.3 grow=3 drag=0.6 "
          "vscale=0.9 randomize=12 r=150 g=118 b=86 a=255 fade_a=-180\n",
          f);
      fputs(
          "roost texture=@roost-dust.png count=0.5 slip_threshold=8 size=0.8 grow=6 drag=1.5 "
          "vscale=0.4 randomize=6 r=190 g=170 b=140 a=110 fade_a=-60\n",
          f);
      fputs(
          "erode_depth 1.0\nerode_lower 50\nerode_upper 150\nerode_displacement 2\n"
          "erode_radius 4\nerode_max_slope 0.25\nerode_off_speed 10\nerode_on_speed 15\n",
          f);
      break;
    case GROUND_HARDPACK:
      // Packed clay: the most grip, little drag, dust instead of clods,
      // hardly deforms.
      fputs("friction 1.20 1\nfriction 1.10 8\nfriction 0.95 25\n", f);
      fputs("roll_resist 4 8 1\nroll_resist 5 10 40\n", f);
      fputs(
          "roost texture=@roost-dust.png count=1 slip_threshold=6 size=0.6 grow=5 drag=1.2 "
          "vscale=0.5 randomize=8 r=200 g=185 b=160 a=120 fade_a=-70\n",
          f);
      fputs(
          "erode_depth 0.15\nerode_lower 90\nerode_upper 250\nerode_displacement 1\n"
          "erode_radius 3\nerode_max_slope 0.15\nerode_off_speed 14\nerode_on_speed 22\n",
          f);
      break;
    case GROUND_GRASS:
      // Grass: slippery once it slides, soft underneath, throws turf.
      fputs("friction 0.85 1\nfriction 0.70 5\nfriction 0.55 15\n", f);
      fputs("roll_resist 5 14 1\nroll_resist 6 18 40\n", f);
      fputs(
          "roost texture=@roost-grass.png count=1 slip_threshold=5 size=0.25 grow=1 drag=0.8 "
          "vscale=0.7 randomize=10 r=120 g=160 b=80 a=255 fade_a=-120\n",
          f);
      fputs(
          "erode_depth 0.3\nerode_lower 70\nerode_upper 200\nerode_displacement 1.5\n"
          "erode_radius 3\nerode_max_slope 0.2\nerode_off_speed 12\nerode_on_speed 18\n",
          f);
      break;
    case GROUND_SAND:
      // Deep sand: grip holds at low slip, heavy drag, big soft roost,
      // deep wide ruts.
      fputs("friction 0.95 1\nfriction 0.85 6\nfriction 0.75 18\n", f);
      fputs("roll_resist 12 40 1\nroll_resist 14 48 40\n", f);
      fputs(
          "roost texture=@roost-sand.png count=3 dig=1.5 slip_threshold=3 slow_angle=1.4 "
          "size=0.35 grow=4 drag=0.7 vscale=0.8 randomize=14 r=220 g=200 b=150 a=255 "
          "fade_a=-160\n",
          f);
      fputs(
          "erode_depth 2.0\nerode_lower 40\nerode_upper 130\nerode_displacement 2.5\n"
          "erode_radius 5\nerode_max_slope 0.35\nerode_off_speed 8\nerode_on_speed 13\n",
          f);
      break;
    case GROUND_MUD:
      // Mud: little grip, heavy drag, splashes and sticky clods.
      fputs("friction 0.70 1\nfriction 0.55 5\nfriction 0.45 15\n", f);
      fputs("roll_resist 14 45 1\nroll_resist 16 52 40\n", f);
      fputs(
          "roost texture=@splash-mud.png splash=1 count=2 size=0.5 grow=2 drag=0.5 vscale=0.6 "
          "randomize=4 r=90 g=70 b=50 a=230 fade_a=-150\n",
          f);
      fputs(
          "roost texture=@roost.png count=1 slip_threshold=3 size=0.35 grow=1 drag=0.4 "
          "vscale=0.8 randomize=10 r=80 g=62 b=45 a=255 fade_a=-140\n",
          f);
      fputs(
          "erode_depth 1.5\nerode_lower 35\nerode_upper 120\nerode_displacement 1.5\n"
          "erode_radius 4\nerode_max_slope 0.4\nerode_off_speed 6\nerode_on_speed 11\n",
          f);
      break;
  }
  fputs("addtile\n", f);
}
