// The shared assets of the game data: pictures, statue models, collision
// shapes, the points series and set-ups; then the pictures go into
// "textures.saf" and the models and shapes into "models.saf".
#include <cstdint>
#include <cstdio>

#include "tools/datagen.h"

bool datagen_pictures(const char* out_dir);
bool datagen_models(const char* out_dir);
bool datagen_shapes(const char* out_dir);
bool datagen_series(const char* out_dir);
bool dg_pack(const char* out_dir, const char* archive, const char* const* assets, int32_t count);

namespace {

// Every picture, in archive order. The transition tiles are added by number.
const char* const PICTURES[] = {
    DG_TILE_DIRT,
    DG_TILE_DIRT_ALT,
    DG_TILE_HARDPACK,
    DG_TILE_GRASS,
    DG_TILE_SAND,
    DG_TILE_MUD,
    DG_ROOST_DIRT,
    DG_ROOST_DUST,
    DG_ROOST_GRASS,
    DG_ROOST_SAND,
    DG_SPLASH_MUD,
    DG_SKY_N,
    DG_SKY_E,
    DG_SKY_S,
    DG_SKY_W,
    DG_SKY_U,
    DG_SKY_ENV,
    DG_BB_TREE1,
    DG_BB_TREE2,
    DG_BB_BUSH,
    DG_BB_BANNER1,
    DG_BB_BANNER2,
    DG_BB_ARROW,
    DG_FLAG_CORNER,
    DG_FLAG_CORNER_WAVING,
    DG_DECAL_TYRES,
    DG_DECAL_PUDDLE,
    DG_DECAL_START,
    DG_HAYBALE_TEXTURE,
    DG_TUFFBLOCK_TEXTURE,
    DG_TIRE_TEXTURE,
    DG_SIGN_TEXTURE,
    DG_STARTGATE_TEXTURE,
};

const char* const MODELS[] = {
    DG_HAYBALE_MODEL,   DG_HAYBALE_SHAPE,     DG_TUFFBLOCK_MODEL,  DG_TUFFBLOCK_SHAPE,
    DG_TIRE_MODEL,      DG_TIRE_SHAPE,        DG_SIGN_MODEL,       DG_STARTGATE_MODEL,
    DG_STARTGATE_SHAPE, DG_SHAPE_FRAME,       DG_SHAPE_FORK_UPPER, DG_SHAPE_FORK_LOWER,
    DG_SHAPE_SWINGARM,  DG_SHAPE_FRONT_WHEEL, DG_SHAPE_REAR_WHEEL, DG_SHAPE_RIDER,
};

constexpr int32_t PICTURE_COUNT = (int32_t)(sizeof PICTURES / sizeof PICTURES[0]);
constexpr int32_t MODEL_COUNT = (int32_t)(sizeof MODELS / sizeof MODELS[0]);
constexpr int32_t NUMBERED_PICTURES = 14 + 5 + 4;  // transitions, starter, lap flagger

}  // namespace

bool datagen_assets(const char* out_dir) {
  if (!datagen_pictures(out_dir) || !datagen_models(out_dir) || !datagen_shapes(out_dir) ||
      !datagen_series(out_dir))
    return false;
  // The numbered names, then the fixed ones.
  static char numbered[NUMBERED_PICTURES][64];
  const char* pictures[PICTURE_COUNT + NUMBERED_PICTURES];
  int32_t n = 0;
  for (int32_t mask = 1; mask <= 14; mask++) {
    char bits[5];
    for (int32_t i = 0; i < 4; i++) bits[i] = (mask >> (3 - i)) & 1 ? '1' : '0';
    bits[4] = 0;
    snprintf(numbered[n], sizeof numbered[n], DG_TILE_DIRT_GRASS_FORMAT, bits);
    pictures[n] = numbered[n];
    n++;
  }
  for (int32_t i = 1; i <= 5; i++) {
    snprintf(numbered[n], sizeof numbered[n], DG_FLAG_STARTER_FORMAT, i);
    pictures[n] = numbered[n];
    n++;
  }
  for (int32_t i = 1; i <= 4; i++) {
    snprintf(numbered[n], sizeof numbered[n], DG_FLAG_LAP_FORMAT, i);
    pictures[n] = numbered[n];
    n++;
  }
  for (int32_t i = 0; i < PICTURE_COUNT; i++) pictures[n++] = PICTURES[i];
  return dg_pack(out_dir, "textures.saf", pictures, n) &&
         dg_pack(out_dir, "models.saf", MODELS, MODEL_COUNT);
}
