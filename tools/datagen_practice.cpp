// "practice": a flat hardpack field with a simple oval, one tabletop and one
// kicker, a few things to ride into, timing and a short start grid. The
// field is exactly at height 0 away from the jumps and the rim, which makes
// it the standard ground for physics tests and a newcomer's first ride.
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "tools/datagen.h"
#include "tools/track_builder.h"

namespace {

constexpr float PI = 3.14159265358979f;
constexpr int32_t N_LOG2 = 8;
constexpr float SPACING = 1.0f;
constexpr float WIDTH = 24.0f;
constexpr float START_X = 140.0f;  // file position of the gate row
constexpr float START_Z = 380.0f;
constexpr int32_t START_GATES = 8;

enum : int32_t { T_HARDPACK = 0, T_DIRT, T_GRASS };

float clampf(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Flat field with a low grassy rim near the edges of the terrain.
float base_height(float x, float z) {
  float edge = fmaxf(fabsf(x - 256.0f), fabsf(z - 256.0f)) - 215.0f;
  if (edge <= 0) return 0.0f;
  float t = clampf(edge / 35.0f, 0, 1);
  return 6.0f * t * t * (3 - 2 * t);
}

bool in_field(float x, float z) { return fmaxf(fabsf(x - 256.0f), fabsf(z - 256.0f)) < 212.0f; }

struct Practice {
  TrackPath loop;
  float table_s, kicker_s, finish_s;
};

void build_layout(Practice* P) {
  TrackPath& p = P->loop;
  path_begin(&p, 120.0f, START_Z, 0.0f, WIDTH);
  path_straight_to_x(&p, 392.0f);
  path_arc(&p, 70.0f, -180.0f, 0.0f);
  float top = p.points.data[p.points.count - 1].s;
  path_straight_to_x(&p, 120.0f);
  path_arc(&p, 70.0f, -180.0f, 0.0f);
  p.closed = true;
  P->table_s = top + 40;
  float e = profile_tabletop(&p, P->table_s, 4.0f, 24.0f, 30.0f, 28.0f);
  P->kicker_s = e + 50;
  profile_kicker(&p, P->kicker_s, 2.0f, 22.0f);
  // The finish line is just behind the gates, so the first lap is a full lap.
  P->finish_s = START_X - 10.0f - 120.0f;
  path_set_ground(&p, base_height, 20.0f);
}

struct Place {
  float x, z;
};
Place beside(const PathPoint* q, float lateral) {
  return Place{q->x - q->dz * lateral, q->z + q->dx * lateral};
}

const char LIGHTING[] =
    "sun_vector [ -0.35 0.8 0.45 ]\n"
    "sun_color [ 0.80 0.78 0.72 ]\n"
    "ambient [ 0.40 0.42 0.45 ]\n"
    "global_ambient [ 0.20 0.20 0.20 ]\n"
    "near_plane 0.25\n"
    "far_plane 4000\n"
    "dynamic_lighting 1\n"
    DG_SKY_LIGHTING_LINES
    "fog [ 0.74 0.80 0.88 ] 0.0008\n";

const SunLight SUN = {
    {-0.35f, 0.8f, 0.45f}, {0.80f, 0.78f, 0.72f}, {0.40f, 0.42f, 0.45f}, 1.0f, 0.7f};

bool write_files(const char* dir, const Practice* P, const TimingData* timing) {
  bool ok = true;
  FILE* f = dg_create(dir, "tileinfo");
  if (!f) return false;
  tileinfo_write_tile(f, GROUND_HARDPACK, DG_TILE_HARDPACK);
  tileinfo_write_tile(f, GROUND_DIRT, DG_TILE_DIRT);
  tileinfo_write_tile(f, GROUND_GRASS, DG_TILE_GRASS);
  ok = fclose(f) == 0 && ok;

  f = dg_create(dir, "flaggers");
  if (!f) return false;
  fprintf(f, "[%f %f %f] [%f %f %f] %f %f %f", START_X + 20, 3.0, START_Z - 5, START_X + 20, 3.0,
          START_Z - 22, 6.0, 1.0, 3.0);
  for (int k = 1; k <= 5; k++) {
    char name[64];
    snprintf(name, sizeof name, DG_FLAG_STARTER_FORMAT, k);
    fprintf(f, " %s", name);
  }
  const PathPoint* q = path_at(&P->loop, P->finish_s);
  Place at = beside(q, WIDTH * 0.5f + 5);
  fprintf(f, "\n[%f %f %f] %f %f", at.x, 3.0, at.z, 6.0, 1.0);
  for (int k = 1; k <= 4; k++) {
    char name[64];
    snprintf(name, sizeof name, DG_FLAG_LAP_FORMAT, k);
    fprintf(f, " %s", name);
  }
  fputs("\n", f);
  ok = fclose(f) == 0 && ok;

  // Four cameras at the corners of the infield, each covering its quarter.
  f = dg_create(dir, "cameras");
  if (!f) return false;
  static const float CAM[4][2] = {{96, 420}, {416, 420}, {416, 200}, {96, 200}};
  for (int32_t k = 0; k < 4; k++) {
    fputs("fov 60\ngate", f);
    for (int32_t g = 0; g < timing->gate_count; g++) {
      int32_t best = 0;
      float best_d = 1e30f;
      for (int32_t c = 0; c < 4; c++) {
        float d =
            hypotf(CAM[c][0] - timing->gates[g].centre[0], CAM[c][1] - timing->gates[g].centre[2]);
        if (d < best_d) {
          best_d = d;
          best = c;
        }
      }
      if (best == k) fprintf(f, " %d", g);
    }
    fprintf(f, "\naddcamera %f %f %f\n", CAM[k][0], 16.0, CAM[k][1]);
  }
  ok = fclose(f) == 0 && ok;
  ok = ok && track_write_text(dir, "lighting", LIGHTING);
  ok = ok && track_write_text(dir, "desc", "Practice Field\n");
  return ok;
}

bool build(const char* out_dir) {
  char dir[4096];
  snprintf(dir, sizeof dir, "%spractice/", out_dir);
  mkdir(dir, 0755);
  Practice P{};
  build_layout(&P);
  TrackPath* paths[1] = {&P.loop};

  HeightField hf{};
  hf_set_geometry(&hf, N_LOG2, SPACING, 0, 0);
  size_t samples = (size_t)hf.grid_size * hf.grid_size;
  hf.heights = (float*)mem_alloc_or_die(samples * sizeof(float));
  SculptParams sculpt = {1.0f, 8.0f, 2.0f};
  PathField field{};
  sculpt_paths(&hf, paths, 1, base_height, &sculpt, &field);
  // Hardpack everywhere in the field, loose dirt on the jumps, grass on the rim.
  int32_t cells = 1 << N_LOG2;
  hf.tilemap = (uint8_t*)mem_alloc_or_die((size_t)cells * cells);
  for (int32_t cz = 0; cz < cells; cz++) {
    for (int32_t cx = 0; cx < cells; cx++) {
      float x = ((float)cx + 0.5f) * hf.tile_size, z = ((float)cz + 0.5f) * hf.tile_size;
      uint8_t tile = in_field(x, z) ? T_HARDPACK : T_GRASS;
      size_t idx = (size_t)(2 * cz + 1) * field.grid + (size_t)(2 * cx + 1);
      if (tile == T_HARDPACK && hf_height_at(&hf, x, z) > 0.05f && field.dist[idx] < 40)
        tile = T_DIRT;
      hf.tilemap[(size_t)cz * cells + cx] = tile;
    }
  }
  bool ok = shade_terrain(&hf, &SUN);
  hf.has_decals = true;
  decal_push(&hf, START_X + 6, START_Z, PI / 2, 2.0f, 13.0f, DG_DECAL_START);
  const PathPoint* fin = path_at(&P.loop, P.finish_s);
  decal_push(&hf, fin->x, fin->z, PI / 2, 2.0f, 13.0f, DG_DECAL_START);
  ok = ok && terrain_save(&hf, dir);
  char path[4200];
  snprintf(path, sizeof path, "%sshadows.pgm", dir);
  ok = ok && write_shadows_pgm(&hf, path);

  TimingData* timing = (TimingData*)mem_alloc_zeroed(1, sizeof(TimingData));
  TrackObjects objects;
  objects_init(&objects);
  timing_init(timing);
  for (int32_t k = 0; k < START_GATES; k++) {
    float z = START_Z + ((float)k - (START_GATES - 1) * 0.5f) * 2.9f;
    starting_gate_add(timing, &objects, &hf, START_X, 0, z, -PI / 2, STARTING_GATE_MODEL,
                      STARTING_GATE_TEXTURE, STARTING_GATE_SHAPE);
  }
  int32_t first_file_statue = objects.statues.count;
  float length = path_length(&P.loop);
  int32_t gates = (int32_t)lroundf(length / 80.0f);
  float spacing = length / (float)gates;
  for (int32_t k = 0; k < gates; k++) {
    float s = fmodf(P.finish_s + (float)(k + 1) * spacing, length);
    checkpoint_add(timing, &P.loop, s, WIDTH * 0.5f + 2.0f);
    timing->normal_lap[timing->normal_lap_count++] = k;
    timing->first_lap[timing->first_lap_count++] = k;
  }
  timing_finish(timing);
  ok = ok && timing->active && timing_save(timing, &objects, dir);

  // Tuff blocks around the outside of both turns, hay bales beside the
  // tabletop, and a cluster of tyres and bales in the infield to ride into.
  float last_s = -100;
  for (int32_t k = 0; k < P.loop.points.count; k++) {
    const PathPoint* q = &P.loop.points.data[k];
    if (q->turn == 0 || q->s - last_s < 8.0f) continue;
    last_s = q->s;
    Place at = beside(q, q->turn > 0 ? -(WIDTH * 0.5f + 2.5f) : WIDTH * 0.5f + 2.5f);
    statue_add(&objects, &hf, DG_TUFFBLOCK_MODEL, DG_TUFFBLOCK_TEXTURE, DG_TUFFBLOCK_SHAPE, at.x, 0,
               at.z, atan2f(-q->dz, q->dx));
  }
  for (float s = P.table_s; s < P.table_s + 70; s += 10) {
    const PathPoint* q = path_at(&P.loop, s);
    for (int side = -1; side <= 1; side += 2) {
      Place at = beside(q, side * (WIDTH * 0.5f + 3.0f));
      statue_add(&objects, &hf, DG_HAYBALE_MODEL, DG_HAYBALE_TEXTURE, DG_HAYBALE_SHAPE, at.x, 0,
                 at.z, 0);
    }
  }
  static const float INFIELD[][3] = {
      {230, 310, 0}, {245, 310, 0}, {260, 310, 0.5f}, {290, 300, 1.2f}, {300, 318, 0.3f}};
  for (int32_t k = 0; k < 5; k++) {
    bool tire = k < 3;
    statue_add(&objects, &hf, tire ? DG_TIRE_MODEL : DG_HAYBALE_MODEL,
               tire ? DG_TIRE_TEXTURE : DG_HAYBALE_TEXTURE, tire ? DG_TIRE_SHAPE : DG_HAYBALE_SHAPE,
               INFIELD[k][0], 0, INFIELD[k][1], INFIELD[k][2]);
  }
  statue_add(&objects, &hf, DG_SIGN_MODEL, DG_SIGN_TEXTURE, "null", 256, 0, 410, 5.0f);
  ok = ok && statues_save(&objects, dir, first_file_statue);

  // Trees outside the field.
  std::mt19937 rng(0x9e3779b9u);
  auto u01 = [&]() { return (float)(rng() & 0xFFFFFF) / 16777215.0f; };
  for (int32_t k = 0; k < 160; k++) {
    float x = 10 + u01() * 492, z = 10 + u01() * 492, pick = u01(), size = 18 + u01() * 16;
    if (fmaxf(fabsf(x - 256), fabsf(z - 256)) < 222) continue;
    billboard_create(&objects, &hf, x, size * 0.5f - 0.5f, z, size, 1,
                     pick < 0.5f ? DG_BB_TREE1 : DG_BB_TREE2);
  }
  billboard_create(&objects, &hf, 256, 2.5f, 418, 14, 0.3f, "#e02020#" DG_BB_BANNER1);
  ok = ok && billboards_save(&objects, dir, 0);
  ok = ok && write_files(dir, &P, timing);
  snprintf(path, sizeof path, "%smap.png", dir);
  ok = ok && render_track_map(path, &hf, paths, 1, 256);

  objects_free(&objects);
  timing_free(timing);
  mem_free(timing);
  path_field_free(&field);
  path_free(&P.loop);
  terrain_free(&hf);
  if (!ok) fprintf(stderr, "rt_datagen: practice failed\n");
  return ok;
}

}  // namespace

bool datagen_track_practice(const char* out_dir) { return build(out_dir); }
