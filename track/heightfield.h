// The ground of a track: one square grid of height samples with its layers
// (shading, shadow, tilemap, decals), the files of a track directory that fill
// it, the editor's writer, and the height / normal / tile queries.
//
// World axes: x and z span the ground, y is up. Sample (i, j) lies at
// x = i * spacing, z = j * spacing; the terrain covers (0, 0)..(world_size, world_size).
//
// Lifetime: one record per loaded track (track.hf), filled by terrain_load,
// emptied by terrain_free. The editor and the ground deformation change
// heights, shading, tilemap and decals in place.
#pragma once

#include <cstdint>

#include "core/mem.h"
#include "track/tiles.h"

struct DataFile;
struct TerrainRenderer;  // level-of-detail arrays and ground textures (terrain renderer)

// Largest accepted size exponent n: 2^(n+1) + 1 samples per side.
constexpr int32_t TERRAIN_MAX_SIZE_LOG2 = 12;
constexpr int32_t DECAL_BUCKETS_PER_SIDE = 8;
constexpr int32_t DECAL_BUCKET_COUNT = DECAL_BUCKETS_PER_SIDE * DECAL_BUCKETS_PER_SIDE;

// Texture methods chosen at load.
enum TerrainTextureMethod : int32_t {
  TERRAIN_METHOD_NONE = 0,
  TERRAIN_METHOD_SOFTWARE = 1,  // composed in memory, uploaded with TexSubImage
  TERRAIN_METHOD_COPY = 2,      // rendered with GL, copied with CopyTexSubImage
  TERRAIN_METHOD_DIRECT = 3,    // rendered into the texture through a framebuffer object
};

// One ground decal: a picture laid flat on the ground.
struct Decal {
  uint8_t* pixels;  // software method: the cached memory image (owned by the image cache)
  int32_t width;
  int32_t height;
  int32_t channels;
  uint32_t texture;           // other methods: texture id
  uint32_t normal_texture;    // shader rendering only, 0 if none
  uint32_t specular_texture;  // shader rendering only, 0 if none
  float x, z;                 // centre on the ground
  float angle;                // rotation about the vertical axis, radians
  float size;                 // width of the rectangle
  float aspect;               // length / width
  float sin_angle;            // computed at load
  float cos_angle;
  const char* name;  // image name as written in the file (interned)
};

struct HeightField {
  int32_t size_log2;           // n
  int32_t grid_size;           // samples per side: 2^(n+1) + 1
  float spacing;               // distance between neighbouring samples
  float tile_size;             // side of one tilemap cell: 2 * spacing
  float world_size;            // 2^(n+1) * spacing
  float min_height;            // height of sample value 0
  float max_height;            // height of sample value 65535
  float* heights;              // grid_size^2, row index z, x fastest
  uint8_t* shading;            // grid_size^2 * 3, RGB at half scale
  uint8_t* shadow;             // grid_size^2, 0 fully lit .. 255 fully shadowed
  uint8_t* tilemap;            // 2^n * 2^n tile indices, every entry < tile_count
  uint8_t* normal_map;         // grid_size^2 * 3, shader rendering only (else nullptr)
  uint8_t samples_digest[20];  // RIPEMD-160 of the 16-bit samples as loaded

  TileType tiles[TERRAIN_MAX_TILES];
  int32_t tile_count;

  bool has_decals;  // a "decals" file was present (even an empty one)
  GrowArray<Decal> decals;
  GrowArray<int32_t> decal_buckets[DECAL_BUCKET_COUNT];  // [row * 8 + column], ascending indices

  // Renderer state.
  int32_t requested_method;     // index of the 'Terrain Rendering Method' setting
  int32_t texture_method;       // TerrainTextureMethod
  int32_t ground_texture_size;  // P, pixels per side of a composed ground texture
  bool shaders;                 // shader rendering active (normal_map present)
  TerrainRenderer* renderer;    // owned by the terrain renderer, nullptr until it exists
};

// What the GL layer can offer the terrain, and the terrain renderer's entry
// points into the load. All off / nullptr until a window with GL exists and the
// renderer registers itself; the load then keeps to the plain in-memory data.
struct TerrainRenderHooks {
  bool framebuffer_objects;  // framebuffer objects usable (creating one succeeded)
  bool shaders;              // shader programs in use, use_shader and dynamic lighting on
  // Level-of-detail arrays over the whole field, after the heights. false fails the load.
  bool (*lod_setup)(HeightField* hf);
  // Low-detail and level-of-detail ground textures, after the tilemap. false fails the load.
  bool (*ground_textures_setup)(HeightField* hf);
  // Releases hf->renderer with every GL texture and framebuffer object.
  void (*release)(HeightField* hf);
};
extern TerrainRenderHooks terrain_render_hooks;

// ---------------------------------------------------------------- load, free, save

// Loads the ground of the track directory track_path (e.g. "@rabbithill/").
// texture_method = index of the 'Terrain Rendering Method' setting (0 Software
// .. 4 Shaders/Direct). hf must be empty (zeroed or freed). Returns false after
// its message; the record is then empty.
bool terrain_load(HeightField* hf, const char* track_path, int32_t texture_method);
// Releases everything and leaves the record zeroed.
void terrain_free(HeightField* hf);
// Writes terrain.hf, terrain.png, shading.ppm, shadingx2.ppm, tilemap and
// (when the track has a decal list) decals. The heights' range becomes the new
// min_height / max_height.
bool terrain_save(HeightField* hf, const char* track_path);

// ---------------------------------------------------------------- readers (also used by the
// fuzzers)

// Sets n, spacing and the heights range with every derived size; false when
// they are out of range (n outside 0..12, spacing not positive and finite,
// heights not finite). Allocates nothing.
bool hf_set_geometry(HeightField* hf, int32_t n, float spacing, float min_height, float max_height);
// Reads the terrain.hf header and, after ":", the binary samples from file;
// otherwise the 16-bit grey image png_name (nullptr or unreadable: flat field).
// Allocates heights. Shows the message and returns false on a bad header.
bool hf_read_heights(HeightField* hf, DataFile* file, const char* png_name);
// Reads the 2^n x 2^n tilemap (allocates it); bytes past tile_count - 1 are
// clamped, a short file leaves tile 0. Needs the geometry set and tile_count >= 1.
bool hf_read_tilemap(HeightField* hf, DataFile* file);
// Decal lines of an open "decals" file. With load_images each image is loaded
// by name (decals whose image fails are skipped); without (fuzzing) the decals
// are kept without pictures.
void decals_read(HeightField* hf, DataFile* file, bool load_images);
// Enters every decal into the 8 x 8 buckets (rebuilds them).
void decal_buckets_build(HeightField* hf);
// Bucket range of a decal on one axis: first and last bucket (0..7).
void decal_bucket_range(const HeightField* hf, float centre, float half_extent, int32_t* first,
                        int32_t* last);
// Axis-aligned half extents of a decal rectangle.
void decal_half_extents(const Decal* decal, float* half_x, float* half_z);
void decals_free(HeightField* hf);
// Builds normal_map from the heights and the shadow.
bool hf_build_normal_map(HeightField* hf);
// Texture method for a requested setting index, with the ground texture size.
int32_t terrain_choose_method(int32_t requested, int32_t texture_dim, int32_t* ground_texture_size);

// ---------------------------------------------------------------- queries

float hf_height_at(const HeightField* hf, float x, float z);
// Unit normal at sample (i, j), y up; indices outside the grid read the border.
void hf_vertex_normal(const HeightField* hf, int32_t i, int32_t j, float out[3]);
int32_t hf_tile_at(const HeightField* hf, float x, float z);
// Height sample at (i, j), indices clamped into the grid.
float hf_sample(const HeightField* hf, int32_t i, int32_t j);

// The same on the current track (track.hf).
float terrain_height_at(float x, float z);
void terrain_vertex_normal(int32_t i, int32_t j, float out[3]);
int32_t terrain_tile_at(float x, float z);
