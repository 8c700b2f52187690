// Ground tile types: look, grip, rolling drag, roost particles and erosion
// parameters of each kind of ground, read from a track's "tileinfo" file (or
// the older "texturelist"), and the friction and rolling-resistance lookups
// used by the wheel contacts.
#pragma once

#include <cstdint>

struct DataFile;

constexpr int32_t TERRAIN_MAX_TILES = 256;
constexpr int32_t TILE_MAX_POINTS = 8;  // friction / rolling-resistance points per tile
constexpr int32_t TILE_MAX_ROOST = 4;   // particle kinds per tile

// Smallest slip speed stored for a friction or rolling-resistance point (2^-20).
constexpr float TILE_MIN_POINT_SPEED = 9.5367431640625e-7f;

// One kind of particle thrown up by the wheels. Colours fade per simulation tick.
struct RoostType {
  int32_t kind;  // 0 none, 1 roost, 2 splash
  uint32_t texture;
  float count;
  float dig;
  float slip_threshold;
  float slow_angle;  // radians
  float fast_angle;  // radians
  float slow_speed;
  float fast_speed;
  float size;
  float grow;
  float drag;
  float vscale;
  float randomize;
  uint8_t r, g, b, a;
  int8_t fade_r, fade_g, fade_b, fade_a;  // change per tick
};

struct TileType {
  uint32_t texture;  // texture id (all texture methods but software), 0 = none
  uint8_t* pixels;   // software method only: the cached image (not owned)
  int32_t width;
  int32_t height;
  int32_t channels;
  // Blend code: bits 16-23 base tile, bits 8-15 second tile, bits 0-3 corner
  // mask; 0xFFFFFF00 when the second tile is unknown.
  uint32_t transition;
  float friction[TILE_MAX_POINTS];
  float friction_speed[TILE_MAX_POINTS];  // ascending; 0 ends the list
  float roll_resist[TILE_MAX_POINTS][2];  // (shallow, deep)
  float roll_resist_speed[TILE_MAX_POINTS];
  RoostType roost[TILE_MAX_ROOST];  // unused entries have kind 0
  float erode_depth;
  float erode_lower;
  float erode_upper;
  float erode_displacement;
  float erode_radius;
  float erode_max_slope;
  float erode_off_speed;
  float erode_on_speed;
  const char* key;  // texture name as written in the file (owned), nullptr = none
};

// The defaults of a particle kind (kind 0, texture "@roost.png" when
// load_texture, else 0).
void roost_type_defaults(RoostType* roost, bool load_texture);
// A tile with every default: no texture, one friction point 1.0, one
// rolling-resistance point (5, 15), four kind-0 roost entries, default erosion.
void tile_type_defaults(TileType* tile, bool load_texture);

// Gives the tile the image name (kept as its key) and, with load_textures, its
// pixels (software) or texture. An image that cannot be loaded leaves none.
void tile_set_image(TileType* tile, const char* name, bool software, bool load_textures);

// Reads "tileinfo" of the track directory track_path (e.g. "@rabbithill/"),
// or "texturelist" when tileinfo cannot be opened, filling tiles[0..*count-1]
// (room for TERRAIN_MAX_TILES). software = keep pixels in memory instead of
// textures. False (after a message) when neither file opens or no tile is
// defined; *count is then 0.
bool tiles_load(TileType* tiles, int32_t* count, const char* track_path, bool software);
void tiles_free(TileType* tiles, int32_t count);

// The readers behind tiles_load, over an open stream. They append to
// tiles[*count..] and never fail; textures are loaded only with load_textures
// (tests and fuzzing pass false). The transition codes are not computed here.
void tileinfo_read(DataFile* file, TileType* tiles, int32_t* count, bool software,
                   bool load_textures);
void texturelist_read(DataFile* file, TileType* tiles, int32_t* count, bool software,
                      bool load_textures);
// Fills every tile's transition code from the keys.
void tiles_compute_transitions(TileType* tiles, int32_t count);
// The transition key of a texture name: from its last "/" on (the "/"
// included), else the whole name; a leading "@" is dropped. Never nullptr.
const char* tile_transition_key(const char* name);

// Friction coefficient at the squared slip speed (linear in squared speed).
float tile_type_friction(const TileType* tile, float slip_speed_squared);
// (shallow, deep) rolling resistance at the speed (linear in speed).
void tile_type_roll_resist(const TileType* tile, float speed, float* shallow, float* deep);

// The same on the current track's tiles; an index outside the tile list uses
// the defaults (friction 1, rolling resistance (5, 15)).
float tile_friction(int32_t tile, float slip_speed_squared);
void tile_roll_resist(int32_t tile, float speed, float* shallow, float* deep);
