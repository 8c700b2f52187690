// The shipped points series (three rounds of two motos each on the two
// generated tracks, against nine robot riders) and two bike set-ups.
#include <cstdint>
#include <cstdio>

#include "core/files.h"
#include "tools/datagen.h"

namespace {

constexpr int32_t SERIES_POSITIONS = 40;

// Points by finishing position, first 20 places score.
const int32_t MOTO_POINTS[SERIES_POSITIONS] = {25, 22, 20, 18, 16, 15, 14, 13, 12, 11,
                                               10, 9,  8,  7,  6,  5,  4,  3,  2,  1};
// Championship points by the round's overall position.
const int32_t ROUND_POINTS[SERIES_POSITIONS] = {50, 44, 40, 36, 32, 30, 28, 26, 24, 22,
                                                20, 18, 16, 14, 12, 10, 8,  6,  4,  2};

// Numbers of robots in the roster (20..99).
const int32_t RIDER_NUMBERS[] = {24, 27, 32, 21, 33, 44, 51, 68, 95};

struct Moto {
  const char* name;
  const char* track;
  int32_t minutes, laps;
  bool ends_round;
};

const Moto MOTOS[] = {
    {"Round 1 - Rabbit Hill - Moto 1", "rabbithill", 0, 4, false},
    {"Round 1 - Rabbit Hill - Moto 2", "rabbithill", 0, 4, true},
    {"Round 2 - Practice Valley - Moto 1", "practice", 0, 5, false},
    {"Round 2 - Practice Valley - Moto 2", "practice", 0, 5, true},
    {"Round 3 - Rabbit Hill - Moto 1", "rabbithill", 6, 1, false},
    {"Round 3 - Rabbit Hill - Moto 2", "rabbithill", 6, 1, true},
};

void write_table(FILE* f, const int32_t* table) {
  for (int32_t i = 0; i < SERIES_POSITIONS; i++)
    fprintf(f, "%d%c", table[i], i % 20 == 19 ? '\n' : ' ');
}

bool write_series(const char* out_dir) {
  FILE* f = dg_create(out_dir, dg_file(DG_SERIES));
  if (!f) return false;
  const int32_t riders = (int32_t)(sizeof RIDER_NUMBERS / sizeof RIDER_NUMBERS[0]);
  const int32_t motos = (int32_t)(sizeof MOTOS / sizeof MOTOS[0]);
  fprintf(f, "\"Rabbit Hill Cup\"\n");
  fprintf(f, "%d Amateur\n", riders);
  for (int32_t i = 0; i < riders; i++)
    fprintf(f, "%d%c", RIDER_NUMBERS[i], i + 1 < riders ? ' ' : '\n');
  fprintf(f, "%d\n", motos);
  static const int32_t NONE[SERIES_POSITIONS] = {};
  for (int32_t m = 0; m < motos; m++) {
    fprintf(f, "\n\"%s\"\n%s\n%d %d\n", MOTOS[m].name, MOTOS[m].track, MOTOS[m].minutes,
            MOTOS[m].laps);
    write_table(f, MOTO_POINTS);
    write_table(f, MOTOS[m].ends_round ? ROUND_POINTS : NONE);
  }
  return fclose(f) == 0;
}

// Suspension set-ups: only the suspension keys, so reading one keeps the
// rider's bike, name and riding aids.
struct SetupValue {
  const char* key;
  double soft, stiff;
};

const SetupValue SETUP_VALUES[] = {
    {"fork_compression_adjustment", 30, 72},       {"fork_slow_compression_adjustment", 35, 68},
    {"fork_rebound_adjustment", 35, 65},           {"fork_slow_rebound_adjustment", 40, 62},
    {"fork_spring_rate_adjustment", 25, 78},       {"fork_preload_adjustment", 40, 60},
    {"fork_oil_level_adjustment", 35, 70},         {"shock_compression_adjustment", 30, 72},
    {"shock_slow_compression_adjustment", 35, 68}, {"shock_rebound_adjustment", 35, 65},
    {"shock_slow_rebound_adjustment", 40, 62},     {"shock_spring_rate_adjustment", 25, 78},
    {"shock_preload_adjustment", 40, 60},
};

bool write_setup(const char* out_dir, const char* asset, bool stiff) {
  FILE* f = dg_create(out_dir, dg_file(asset));
  if (!f) return false;
  for (const SetupValue& v : SETUP_VALUES) fprintf(f, "%s=%f\n", v.key, stiff ? v.stiff : v.soft);
  return fclose(f) == 0;
}

}  // namespace

bool datagen_series(const char* out_dir) {
  return write_series(out_dir) && write_setup(out_dir, DG_SETUP_SOFT, false) &&
         write_setup(out_dir, DG_SETUP_STIFF, true);
}
