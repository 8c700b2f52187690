// "rabbithill": the default outdoor motocross circuit. A wide start chute with
// 30 gates merges into a lap of about 3100 ft that winds up and down four
// columns over a low hill: a wide bermed first turn, tabletops, a double, a
// step-up, a whoops section, sand, a muddy hollow, an off-camber hairpin and
// a finish-line jump.
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include "core/files.h"
#include "tools/datagen.h"
#include "tools/track_builder.h"

namespace {

constexpr float PI = 3.14159265358979f;
constexpr int32_t N_LOG2 = 10;
constexpr float SPACING = 0.5f;
constexpr float LOOP_WIDTH = 28.0f;
constexpr float GATE_X = 157.0f;  // file position of the gate row (the riders' line)
constexpr float CHUTE_Z = 900.0f;
constexpr int32_t START_GATES = 30;
constexpr float GATE_PITCH = 3.3f;

// Tile indices, in tileinfo order.
enum : int32_t {
  T_DIRT = 0,
  T_GRASS,
  T_HARDPACK,
  T_SAND,
  T_MUD,
  T_DIRT_ALT,
  T_TRANSITION_FIRST,  // dirt-grass-0001 .. 1110 follow (mask m at T_TRANSITION_FIRST + m - 1)
};

float clampf(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }
float smooth01(float t) {
  t = clampf(t, 0, 1);
  return t * t * (3 - 2 * t);
}

// The land: a low hill in the east half, gentle undulations and a rim of
// higher ground around the field.
float base_height(float x, float z) {
  float dx = x - 650.0f, dz = z - 470.0f;
  float h = 20.0f * expf(-(dx * dx + dz * dz) / (2.0f * 175.0f * 175.0f));
  h += 1.2f * sinf(x / 97.0f + 0.3f) * cosf(z / 123.0f - 0.5f) + 0.8f * sinf((x + z) / 61.0f);
  float edge = fmaxf(fabsf(x - 512.0f), fabsf(z - 512.0f)) - 450.0f;
  if (edge > 0) h += 14.0f * smooth01(edge / 62.0f);
  return h;
}

struct Layout {
  TrackPath loop;
  TrackPath chute;
  float finish_s;          // finish line on the loop
  float sand_s0, sand_s1;  // sand section
  float mud_s0, mud_s1;    // muddy hollow
  float jump_s[8];         // take-off of each jump (for hay bales and flaggers)
  int32_t jump_count;
};

void build_layout(Layout* L) {
  // Start chute: 110 ft wide at the gates, narrowing to the loop's width
  // where the lap joins it.
  TrackPath& c = L->chute;
  path_begin(&c, 100.0f, CHUTE_Z, 0.0f, 110.0f);
  path_straight_to_x(&c, 190.0f);
  path_straight(&c, 230.0f, 40.0f);
  path_straight(&c, 180.0f, LOOP_WIDTH);

  // The lap starts where it merges into the chute.
  TrackPath& p = L->loop;
  path_begin(&p, 520.0f, CHUTE_Z, 0.0f, LOOP_WIDTH);
  L->jump_count = 0;
  path_straight_to_x(&p, 760.0f);
  path_arc(&p, 100.0f, -90.0f, 0.07f);  // wide first turn, gently bermed
  // Column A, north: tabletop, then whoops.
  float a0 = p.points.data[p.points.count - 1].s;
  path_straight_to_z(&p, 250.0f);
  path_arc(&p, 70.0f, -180.0f, 0.16f);  // bermed hairpin
  // Column B, south: double, then sand.
  float b0 = p.points.data[p.points.count - 1].s;
  path_straight_to_z(&p, 650.0f);
  path_arc(&p, 70.0f, 180.0f, 0.16f);  // bermed hairpin
  // Column C, north: step-up, kicker.
  float c0 = p.points.data[p.points.count - 1].s;
  path_straight_to_z(&p, 250.0f);
  path_arc(&p, 70.0f, -180.0f, -0.05f);  // off-camber hairpin over the hill top
  // Column D, south: tabletop, mud, finish jump; then the turn into the chute.
  float d0 = p.points.data[p.points.count - 1].s;
  path_straight_to_z(&p, 820.0f);
  path_arc(&p, 80.0f, -90.0f, 0.05f);
  p.closed = true;

  // Jumps.
  L->jump_s[L->jump_count++] = a0 + 40;
  float e = profile_tabletop(&p, a0 + 40, 6.0f, 25.0f, 40.0f, 36.0f);
  L->jump_s[L->jump_count++] = e + 90;
  profile_whoops(&p, e + 90, 10, 12.0f, 2.0f);
  L->jump_s[L->jump_count++] = b0 + 45;
  e = profile_double(&p, b0 + 45, 6.0f, 27.0f, 58.0f, 5.0f, 36.0f);
  L->sand_s0 = e + 30;
  L->sand_s1 = e + 170;
  L->jump_s[L->jump_count++] = c0 + 50;
  e = profile_step_up(&p, c0 + 50, 4.5f, 25.0f, 14.0f, 7.0f, 28.0f, 45.0f);
  L->jump_s[L->jump_count++] = e + 70;
  profile_kicker(&p, e + 70, 2.5f, 24.0f);
  L->jump_s[L->jump_count++] = d0 + 40;
  e = profile_tabletop(&p, d0 + 40, 7.0f, 24.0f, 50.0f, 40.0f);
  // Muddy hollow: a shallow dip.
  L->mud_s0 = e + 25;
  L->mud_s1 = e + 85;
  float mud0 = L->mud_s0, mud_len = L->mud_s1 - L->mud_s0;
  for (int32_t k = 0; k < p.points.count; k++) {
    PathPoint& q = p.points.data[k];
    if (q.s >= mud0 && q.s < mud0 + mud_len)
      q.profile -= 1.0f * 0.5f * (1 - cosf((q.s - mud0) / mud_len * 2 * PI));
  }
  L->jump_s[L->jump_count++] = L->mud_s1 + 40;
  e = profile_tabletop(&p, L->mud_s1 + 40, 5.0f, 23.0f, 32.0f, 34.0f);
  L->finish_s = e + 15;

  path_smooth_bank(&p, 12.0f);
  path_set_ground(&p, base_height, 45.0f);
  path_set_ground(&c, base_height, 80.0f);
}

// Sections of the lap that are far apart along the lap must stay apart on
// the ground, or their slopes would run into each other.
bool check_separation(const TrackPath* p, float min_distance, float along) {
  float length = path_length(p);
  for (int32_t i = 0; i < p->points.count; i += 4) {
    for (int32_t j = i + 4; j < p->points.count; j += 4) {
      const PathPoint& a = p->points.data[i];
      const PathPoint& b = p->points.data[j];
      float ds = fabsf(a.s - b.s);
      if (ds > length - ds) ds = length - ds;
      if (ds < along) continue;
      if (hypotf(a.x - b.x, a.z - b.z) < min_distance) {
        fprintf(stderr, "rt_datagen: rabbithill sections at s=%.0f and s=%.0f are too close\n", a.s,
                b.s);
        return false;
      }
    }
  }
  return true;
}

// Paddock: hard standing beside the start, off the track.
bool in_paddock(float x, float z) { return x > 90 && x < 330 && z > 560 && z < 770; }

// The nearest path's surface covers (x, z) (with margin).
bool on_track(const PathField* field, TrackPath* const* paths, float x, float z, float margin) {
  int32_t i = (int32_t)lroundf(x / SPACING), j = (int32_t)lroundf(z / SPACING);
  return path_field_on_track(field, paths, i, j, margin);
}

float field_distance(const PathField* field, float x, float z) {
  int32_t i = (int32_t)lroundf(x / SPACING), j = (int32_t)lroundf(z / SPACING);
  if (i < 0 || j < 0 || i >= field->grid || j >= field->grid) return 1e30f;
  return field->dist[(size_t)j * field->grid + i];
}

void paint_tiles(HeightField* hf, const PathField* field, TrackPath* const* paths,
                 const Layout* L) {
  int32_t cells = 1 << N_LOG2, corners = cells + 1;
  bool* grass = (bool*)mem_alloc_or_die((size_t)corners * corners);
  for (int32_t cz = 0; cz < corners; cz++)
    for (int32_t cx = 0; cx < corners; cx++)
      grass[(size_t)cz * corners + cx] = !path_field_on_track(field, paths, 2 * cx, 2 * cz, 1.0f);
  hf->tilemap = (uint8_t*)mem_alloc_or_die((size_t)cells * cells);
  for (int32_t cz = 0; cz < cells; cz++) {
    for (int32_t cx = 0; cx < cells; cx++) {
      int32_t mask = tile_corner_mask(grass, corners, cx, cz);
      uint8_t tile;
      float x = ((float)cx + 0.5f) * hf->tile_size, z = ((float)cz + 0.5f) * hf->tile_size;
      if (mask == 15) {
        tile = in_paddock(x, z) ? T_HARDPACK : T_GRASS;
      } else if (mask != 0) {
        tile = (uint8_t)(T_TRANSITION_FIRST + mask - 1);
      } else {
        size_t idx = (size_t)(2 * cz + 1) * field->grid + (size_t)(2 * cx + 1);
        const TrackPath* path = paths[field->which[idx]];
        float s = field->s[idx], d = field->dist[idx];
        const PathPoint* q = path_at(path, s);
        float inner = q ? q->width * 0.5f - 3.0f : 0;
        tile = cell_hash(cx, cz, 7) < 0.22f ? T_DIRT_ALT : T_DIRT;
        if (path == &L->chute && x < GATE_X + 25) tile = T_HARDPACK;
        if (path == &L->loop && d < inner) {
          // Ends of the sand and mud patches are ragged, not a straight line.
          float jitter = (cell_hash(cx, cz, 11) - 0.5f) * 8.0f;
          if (s + jitter > L->sand_s0 && s + jitter < L->sand_s1) tile = T_SAND;
          if (s + jitter > L->mud_s0 && s + jitter < L->mud_s1) tile = T_MUD;
        }
      }
      hf->tilemap[(size_t)cz * cells + cx] = tile;
    }
  }
  mem_free(grass);
}

bool write_tileinfo(const char* dir) {
  FILE* f = dg_create(dir, "tileinfo");
  if (!f) return false;
  tileinfo_write_tile(f, GROUND_DIRT, DG_TILE_DIRT);
  tileinfo_write_tile(f, GROUND_GRASS, DG_TILE_GRASS);
  tileinfo_write_tile(f, GROUND_HARDPACK, DG_TILE_HARDPACK);
  tileinfo_write_tile(f, GROUND_SAND, DG_TILE_SAND);
  tileinfo_write_tile(f, GROUND_MUD, DG_TILE_MUD);
  tileinfo_write_tile(f, GROUND_DIRT, DG_TILE_DIRT_ALT);
  for (int32_t mask = 1; mask <= 14; mask++) {
    char code[5], name[64];
    for (int b = 0; b < 4; b++) code[b] = (mask >> (3 - b)) & 1 ? '1' : '0';
    code[4] = 0;
    snprintf(name, sizeof name, DG_TILE_DIRT_GRASS_FORMAT, code);
    // The riding line of a border tile is dirt.
    tileinfo_write_tile(f, GROUND_DIRT, name);
  }
  return fclose(f) == 0;
}

// Angle of a statue whose first axis runs along (dx, dz).
float along_angle(float dx, float dz) { return atan2f(-dz, dx); }

struct Place {
  float x, z;
};
Place beside(const PathPoint* q, float lateral) {
  return Place{q->x - q->dz * lateral, q->z + q->dx * lateral};
}

void add_statues(TrackObjects* objects, const HeightField* hf, const PathField* field,
                 TrackPath* const* paths, const Layout* L) {
  const TrackPath* p = &L->loop;
  float half = LOOP_WIDTH * 0.5f;
  // Tuff blocks on the outside of every turn.
  float last_s = -100;
  for (int32_t k = 0; k < p->points.count; k++) {
    const PathPoint* q = &p->points.data[k];
    if (q->turn == 0 || q->s - last_s < 6.0f) continue;
    last_s = q->s;
    float lateral = q->turn > 0 ? -(half + 2.5f) : half + 2.5f;
    Place at = beside(q, lateral);
    if (on_track(field, paths, at.x, at.z, 2.0f)) continue;
    statue_add(objects, hf, DG_TUFFBLOCK_MODEL, DG_TUFFBLOCK_TEXTURE, DG_TUFFBLOCK_SHAPE, at.x, 0,
               at.z, along_angle(q->dx, q->dz));
  }
  // Hay bales along both sides of the jumps.
  for (int32_t j = 0; j < L->jump_count; j++) {
    for (float s = L->jump_s[j]; s < L->jump_s[j] + 70; s += 9.0f) {
      const PathPoint* q = path_at(p, s);
      for (int side = -1; side <= 1; side += 2) {
        Place at = beside(q, side * (half + 3.5f));
        if (on_track(field, paths, at.x, at.z, 2.0f)) continue;
        statue_add(objects, hf, DG_HAYBALE_MODEL, DG_HAYBALE_TEXTURE, DG_HAYBALE_SHAPE, at.x, 0,
                   at.z, along_angle(q->dx, q->dz));
      }
    }
  }
  // Tyres along the start chute.
  const TrackPath* c = &L->chute;
  for (float s = 100; s < 390; s += 20) {
    const PathPoint* q = path_at(c, s);
    for (int side = -1; side <= 1; side += 2) {
      Place at = beside(q, side * (q->width * 0.5f + 3.0f));
      if (on_track(field, paths, at.x, at.z, 2.0f)) continue;
      statue_add(objects, hf, DG_TIRE_MODEL, DG_TIRE_TEXTURE, DG_TIRE_SHAPE, at.x, 0, at.z, 0);
    }
  }
  // Sponsor boards that always face the camera.
  static const float SIGN_S[] = {200, 700, 1150, 1650, 2150, 2700};
  for (float s : SIGN_S) {
    const PathPoint* q = path_at(p, s);
    Place at = beside(q, half + 12);
    if (on_track(field, paths, at.x, at.z, 4.0f)) at = beside(q, -(half + 12));
    statue_add(objects, hf, DG_SIGN_MODEL, DG_SIGN_TEXTURE, "null", at.x, 0, at.z, 6.0f);
  }
}

void add_billboards(TrackObjects* objects, const HeightField* hf, const PathField* field,
                    const Layout* L) {
  // Banners along the north side of the start chute.
  static const char* const BANNERS[] = {"#e02020#" DG_BB_BANNER1, "#2060e0#" DG_BB_BANNER2,
                                        "#f0c020#" DG_BB_BANNER1, "#20a040#" DG_BB_BANNER2};
  int32_t n = 0;
  for (float s = 140; s < 310; s += 42, n++) {
    const PathPoint* q = path_at(&L->chute, s);
    Place at = beside(q, -(q->width * 0.5f + 9.0f));
    billboard_create(objects, hf, at.x, 2.5f, at.z, 14.0f, 0.3f, BANNERS[n % 4]);
  }
  // Trees and bushes off the track.
  std::mt19937 rng(0x7261u);
  auto u01 = [&]() { return (float)(rng() & 0xFFFFFF) / 16777215.0f; };
  for (int32_t k = 0; k < 700; k++) {
    float x = 20 + u01() * 984, z = 20 + u01() * 984;
    float kind = u01(), size_pick = u01();
    if (in_paddock(x, z) || field_distance(field, x, z) < 55.0f) continue;
    if (kind < 0.35f) {
      float size = 22 + size_pick * 16;
      billboard_create(objects, hf, x, size * 0.5f - 0.5f, z, size, 1, DG_BB_TREE1);
    } else if (kind < 0.7f) {
      float size = 18 + size_pick * 14;
      billboard_create(objects, hf, x, size * 0.5f - 0.5f, z, size, 1, DG_BB_TREE2);
    } else {
      float size = 5 + size_pick * 4;
      billboard_create(objects, hf, x, size * 0.5f - 0.3f, z, size, 1, DG_BB_BUSH);
    }
  }
}

// Index of the checkpoint nearest to distance s of the loop.
int32_t gate_near(const float* gate_s, int32_t count, float s, float length) {
  int32_t best = -1;
  float best_d = 1e30f;
  for (int32_t k = 0; k < count; k++) {
    float d = fabsf(gate_s[k] - s);
    if (d > length - d) d = length - d;
    if (d < best_d) {
      best_d = d;
      best = k;
    }
  }
  return best;
}

bool write_flaggers(const char* dir, const HeightField* hf, const Layout* L, const float* gate_s,
                    int32_t loop_gates) {
  FILE* f = dg_create(dir, "flaggers");
  if (!f) return false;
  // Starter: in front of the gates, walks off the side before the drop.
  fprintf(f, "[%f %f %f] [%f %f %f] %f %f %f", GATE_X + 25, 3.0, CHUTE_Z - 36, GATE_X + 25, 3.0,
          CHUTE_Z - 64, 6.0, 1.0, 4.0);
  for (int k = 1; k <= 5; k++) {
    char name[64];
    snprintf(name, sizeof name, DG_FLAG_STARTER_FORMAT, k);
    fprintf(f, " %s", name);
  }
  fputs("\n", f);
  // Lap flagger beside the finish line.
  const PathPoint* q = path_at(&L->loop, L->finish_s);
  Place at = beside(q, -(LOOP_WIDTH * 0.5f + 6));
  fprintf(f, "[%f %f %f] %f %f", at.x, 3.0, at.z, 6.0, 1.0);
  for (int k = 1; k <= 4; k++) {
    char name[64];
    snprintf(name, sizeof name, DG_FLAG_LAP_FORMAT, k);
    fprintf(f, " %s", name);
  }
  fputs("\n", f);
  // Corner flaggers on the blind side of the big jumps, waving while a rider
  // is between the take-off and the landing.
  float length = path_length(&L->loop);
  for (int32_t j = 0; j < L->jump_count; j++) {
    float s = L->jump_s[j];
    const PathPoint* p = path_at(&L->loop, s + 35);
    Place f_at = beside(p, LOOP_WIDTH * 0.5f + 8);
    int32_t g0 = gate_near(gate_s, loop_gates, s, length);
    int32_t g1 = gate_near(gate_s, loop_gates, s + 70, length);
    fprintf(f, "[%f %f %f] %f %f %d %d %d %d %s %s\n", f_at.x, 3.0, f_at.z, 6.0, 1.0, g0,
            g1 != g0 ? g1 : -1, -1, -1, DG_FLAG_CORNER, DG_FLAG_CORNER_WAVING);
  }
  (void)hf;
  return fclose(f) == 0;
}

bool write_cameras(const char* dir, const PathField* field, const Layout* L,
                   const TimingData* timing) {
  FILE* f = dg_create(dir, "cameras");
  if (!f) return false;
  constexpr int32_t CAMERAS = 8;
  float cam[CAMERAS][2];
  float length = path_length(&L->loop);
  for (int32_t k = 0; k < CAMERAS; k++) {
    const PathPoint* q = path_at(&L->loop, length * ((float)k + 0.3f) / CAMERAS);
    // The side with more room.
    Place a = beside(q, 45), b = beside(q, -45);
    Place at = field_distance(field, a.x, a.z) >= field_distance(field, b.x, b.z) ? a : b;
    cam[k][0] = at.x;
    cam[k][1] = at.z;
  }
  // Each checkpoint goes to the nearest camera.
  int32_t owner[TIMING_MAX_GATES];
  for (int32_t g = 0; g < timing->gate_count; g++) {
    float best = 1e30f;
    owner[g] = 0;
    for (int32_t k = 0; k < CAMERAS; k++) {
      float d =
          hypotf(cam[k][0] - timing->gates[g].centre[0], cam[k][1] - timing->gates[g].centre[2]);
      if (d < best) {
        best = d;
        owner[g] = k;
      }
    }
  }
  fputs("# trackside cameras: the gates each one covers, then its place\n", f);
  for (int32_t k = 0; k < CAMERAS; k++) {
    fprintf(f, "fov %d\nautofovsize %d\ngate", k % 2 ? 50 : 60, k % 2 ? 12 : 0);
    for (int32_t g = 0; g < timing->gate_count; g++)
      if (owner[g] == k) fprintf(f, " %d", g);
    fprintf(f, "\naddcamera %f %f %f\n", cam[k][0], 18.0 + 4.0 * (k % 3), cam[k][1]);
  }
  return fclose(f) == 0;
}

const char LIGHTING[] =
    "sun_vector [ 0.55 0.60 0.50 ]\n"
    "sun_color [ 0.78 0.76 0.70 ]\n"
    "ambient [ 0.40 0.42 0.46 ]\n"
    "global_ambient [ 0.20 0.20 0.20 ]\n"
    "near_plane 0.25\n"
    "far_plane 6000\n"
    "dynamic_lighting 1\n"
    DG_SKY_LIGHTING_LINES
    "fog [ 0.72 0.78 0.86 ] 0.0006\n";

const SunLight SUN = {
    {0.55f, 0.60f, 0.50f}, {0.78f, 0.76f, 0.70f}, {0.40f, 0.42f, 0.46f}, 1.5f, 0.75f};

bool build(const char* out_dir) {
  char dir[4096];
  snprintf(dir, sizeof dir, "%srabbithill/", out_dir);
  mkdir(dir, 0755);

  Layout L{};
  build_layout(&L);
  bool ok = check_separation(&L.loop, 100.0f, 260.0f);
  TrackPath* paths[2] = {&L.loop, &L.chute};

  HeightField hf{};
  hf_set_geometry(&hf, N_LOG2, SPACING, 0, 0);
  size_t samples = (size_t)hf.grid_size * hf.grid_size;
  hf.heights = (float*)mem_alloc_or_die(samples * sizeof(float));
  SculptParams sculpt = {1.5f, 10.0f, 2.2f};
  PathField field{};
  sculpt_paths(&hf, paths, 2, base_height, &sculpt, &field);
  paint_tiles(&hf, &field, paths, &L);
  ok = ok && shade_terrain(&hf, &SUN);

  // Decals: the start and finish lines, braking marks, a puddle.
  decal_push(&hf, GATE_X + 6, CHUTE_Z, PI / 2, 2.5f, 40.0f, DG_DECAL_START);
  const PathPoint* fin = path_at(&L.loop, L.finish_s);
  decal_push(&hf, fin->x, fin->z, atan2f(fin->dz, fin->dx) + PI / 2, 2.5f, 12.0f, DG_DECAL_START);
  float hairpins[] = {0, 0, 0, 0};
  int32_t turns = 0;
  for (int32_t k = 1; k < L.loop.points.count && turns < 4; k++) {
    const PathPoint& q = L.loop.points.data[k];
    if (q.turn != 0 && L.loop.points.data[k - 1].turn == 0) hairpins[turns++] = q.s;
  }
  for (int32_t k = 0; k < turns; k++) {
    const PathPoint* q = path_at(&L.loop, hairpins[k] - 8);
    decal_push(&hf, q->x, q->z, atan2f(q->dz, q->dx), 5.0f, 3.0f, DG_DECAL_TYRES);
  }
  const PathPoint* mud = path_at(&L.loop, (L.mud_s0 + L.mud_s1) * 0.5f);
  decal_push(&hf, mud->x, mud->z, atan2f(mud->dz, mud->dx), 14.0f, 1.6f, DG_DECAL_PUDDLE);

  ok = ok && terrain_save(&hf, dir);
  char path[4200];
  snprintf(path, sizeof path, "%sshadows.pgm", dir);
  ok = ok && write_shadows_pgm(&hf, path);
  ok = ok && write_tileinfo(dir);

  // Timing: checkpoints every ~70 ft of the lap, indexed from just after the
  // finish line so that the normal lap is 0 .. N-1 and ends on it; two more on
  // the start chute open the first lap.
  TimingData* timing = (TimingData*)mem_alloc_zeroed(1, sizeof(TimingData));
  TrackObjects objects;
  objects_init(&objects);
  timing_init(timing);
  for (int32_t k = 0; k < START_GATES; k++) {
    float z = CHUTE_Z + ((float)k - (START_GATES - 1) * 0.5f) * GATE_PITCH;
    starting_gate_add(timing, &objects, &hf, GATE_X, 0, z, -PI / 2, STARTING_GATE_MODEL,
                      STARTING_GATE_TEXTURE, STARTING_GATE_SHAPE);
  }
  int32_t first_file_statue = objects.statues.count;
  float length = path_length(&L.loop);
  int32_t loop_gates = (int32_t)lroundf(length / 70.0f);
  float spacing = length / (float)loop_gates;
  float gate_s[TIMING_MAX_GATES];
  for (int32_t k = 0; k < loop_gates; k++) {
    float s = L.finish_s + (float)(k + 1) * spacing;
    if (s >= length - 0.01f) s -= length;
    gate_s[k] = s;
    checkpoint_add(timing, &L.loop, s, LOOP_WIDTH * 0.5f + 2.0f);
    timing->normal_lap[timing->normal_lap_count++] = k;
  }
  for (float x : {GATE_X + 150.0f, 420.0f}) {
    const PathPoint* q = path_at(&L.chute, x - 100.0f);
    int32_t g = checkpoint_add(timing, &L.chute, x - 100.0f, q->width * 0.5f + 2.0f);
    timing->first_lap[timing->first_lap_count++] = g;
  }
  for (int32_t k = 0; k < loop_gates; k++)
    if (L.finish_s + (float)(k + 1) * spacing >= length - 0.01f)
      timing->first_lap[timing->first_lap_count++] = k;
  timing_finish(timing);
  ok = ok && timing->active && timing_save(timing, &objects, dir);

  add_statues(&objects, &hf, &field, paths, &L);
  add_billboards(&objects, &hf, &field, &L);
  ok = ok && statues_save(&objects, dir, first_file_statue);
  ok = ok && billboards_save(&objects, dir, 0);
  ok = ok && write_flaggers(dir, &hf, &L, gate_s, loop_gates);
  ok = ok && write_cameras(dir, &field, &L, timing);
  ok = ok && track_write_text(dir, "lighting", LIGHTING);
  ok = ok && track_write_text(dir, "desc", "Rabbit Hill MX\n");
  snprintf(path, sizeof path, "%smap.png", dir);
  ok = ok && render_track_map(path, &hf, paths, 2, 256);

  objects_free(&objects);
  timing_free(timing);
  mem_free(timing);
  path_field_free(&field);
  path_free(&L.loop);
  path_free(&L.chute);
  terrain_free(&hf);
  if (!ok) fprintf(stderr, "rt_datagen: rabbithill failed\n");
  return ok;
}

}  // namespace

bool datagen_track_rabbithill(const char* out_dir) { return build(out_dir); }
