// The game-data generator: everything the program needs to run, written
// deterministically (the same bytes on every run and machine) into one
// game-data folder. Shared names and entry points of its parts.
#pragma once

#include <cstdint>
#include <cstdio>

// ------------------------------------------------------------ entry points
// Each writes into out_dir (a plain path ending in "/"), returns false after
// printing what failed on standard error.

// Shared assets: ground tile pictures, roost and splash pictures, sky faces
// and environment map, billboard and flagger pictures, statue models,
// textures and shapes, the seven stock bike shapes, the start gate, the
// points series and set-ups; packs what can be shared into archives.
bool datagen_assets(const char* out_dir);
// The two tracks (directories "practice/" and "rabbithill/").
bool datagen_track_practice(const char* out_dir);
bool datagen_track_rabbithill(const char* out_dir);
// The marker archive "zzzz.saf" (written last).
bool datagen_marker_archive(const char* out_dir);

// ------------------------------------------------------------ asset names
// Ground tiles. The tileinfo of each track lists the tiles it uses; these
// pictures exist (256x256 RGB PNG).
#define DG_TILE_DIRT "@dirt.png"          // loose dirt
#define DG_TILE_DIRT_ALT "@dirt-alt1.png" // another picture of loose dirt
#define DG_TILE_HARDPACK "@hardpack.png"
#define DG_TILE_GRASS "@grass.png"
#define DG_TILE_SAND "@sand.png"
#define DG_TILE_MUD "@mud.png"
// Dirt-grass transitions for every corner mask 0001..1110 (the first
// character is the highest bit; a set bit is a grass corner: upper-left 8,
// upper-right 4, lower-left 2, lower-right 1, "upper" being the picture's top
// row = smaller z, as the editor's tilemap brush refits corners):
// "@dirt-grass-%s.png".
#define DG_TILE_DIRT_GRASS_FORMAT "@dirt-grass-%s.png"

// Roost particles.
#define DG_ROOST_DIRT "@roost.png"
#define DG_ROOST_DUST "@roost-dust.png"
#define DG_ROOST_GRASS "@roost-grass.png"
#define DG_ROOST_SAND "@roost-sand.png"
#define DG_SPLASH_MUD "@splash-mud.png"

// Sky: the lighting defaults' names.
#define DG_SKY_N "@sky-n.ppm"
#define DG_SKY_E "@sky-e.ppm"
#define DG_SKY_S "@sky-s.ppm"
#define DG_SKY_W "@sky-w.ppm"
#define DG_SKY_U "@sky-u.ppm"
#define DG_SKY_ENV "@sky-env.ppm"

// Billboards (RGBA PNG with transparency).
#define DG_BB_TREE1 "@tree1.png"
#define DG_BB_TREE2 "@tree2.png"
#define DG_BB_BUSH "@bush.png"
#define DG_BB_BANNER1 "@banner1.png"   // white lettering on transparent: tint with "#rrggbb#"
#define DG_BB_BANNER2 "@banner2.png"
#define DG_BB_ARROW "@arrow.png"
// Flaggers: starter (5 pictures), lap flagger (4), corner flaggers.
#define DG_FLAG_STARTER_FORMAT "@starter%d.png"   // 1..5
#define DG_FLAG_LAP_FORMAT "@lapflag%d.png"       // 1..4
#define DG_FLAG_CORNER "@flagger.png"
#define DG_FLAG_CORNER_WAVING "@flagger-wave.png"
// Decals.
#define DG_DECAL_TYRES "@decal-tyres.png"
#define DG_DECAL_PUDDLE "@decal-puddle.png"
#define DG_DECAL_START "@decal-startline.png"

// Statues: model, texture, shape.
#define DG_HAYBALE_MODEL "@haybale.jm"
#define DG_HAYBALE_TEXTURE "@haybale.png"
#define DG_HAYBALE_SHAPE "@haybale.shp"
#define DG_TUFFBLOCK_MODEL "@tuffblock.jm"
#define DG_TUFFBLOCK_TEXTURE "@tuffblock.png"
#define DG_TUFFBLOCK_SHAPE "@tuffblock.shp"
#define DG_TIRE_MODEL "@tire.jm"
#define DG_TIRE_TEXTURE "@tire.png"
#define DG_TIRE_SHAPE "@tire.shp"
// Tires in a stack (0.6 ft each): a wall to ride into.
constexpr int TIRE_LAYERS = 6;
#define DG_SIGN_MODEL "@sign.jm"          // camera-facing board (angle >= 3.25)
#define DG_SIGN_TEXTURE "@sign.png"
// The starting gate (the timing_gates defaults).
#define DG_STARTGATE_MODEL "@startgate.jm"
#define DG_STARTGATE_TEXTURE "@startgate.ppm"
#define DG_STARTGATE_SHAPE "@startgate.shp"

// The seven stock bike shapes.
#define DG_SHAPE_FRAME "@generic_frame.shp"
#define DG_SHAPE_FORK_UPPER "@generic_fork_upper.shp"
#define DG_SHAPE_FORK_LOWER "@generic_fork_lower.shp"
#define DG_SHAPE_SWINGARM "@generic_swingarm.shp"
#define DG_SHAPE_FRONT_WHEEL "@front_wheel.shp"
#define DG_SHAPE_REAR_WHEEL "@rear_wheel.shp"
#define DG_SHAPE_RIDER "@generic_rider.shp"

// Points series and set-ups.
#define DG_SERIES "@rabbithill_cup.series"
#define DG_SETUP_SOFT "@setups/soft"  // name as "readsetup" takes it
#define DG_SETUP_STIFF "@setups/stiff"

// Helpers shared by the parts.
// Creates dir + name for writing (with its parent folders); on failure says
// so on standard error and returns nullptr.
FILE* dg_create(const char* dir, const char* name);
// The file name without the leading "@".
inline const char* dg_file(const char* asset) { return asset[0] == '@' ? asset + 1 : asset; }
