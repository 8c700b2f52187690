// Track objects: billboards, statues with their spatial grid, flaggers,
// trackside cameras, and the scene lighting of a track.
//
// Every object height in a track file is given above the ground; the ground
// height at (x, z) is added at load. The readers take an open DataFile so they
// can run over memory; the *_load functions open the file in a track directory
// ("@rabbithill/" style asset path) and call them.
#pragma once

#include <cstdint>

#include "core/mem.h"
#include "physics/shape.h"

struct DataFile;
struct HeightField;
struct Model;

// The first billboards of every track are reserved slots (roost particles).
constexpr int32_t RESERVED_BILLBOARDS = 2000;
// Statue grid: STATUE_GRID_SIDE × STATUE_GRID_SIDE buckets over the middle of the terrain.
constexpr int32_t STATUE_GRID_SIDE = 8;
constexpr int32_t STATUE_GRID_BUCKETS = STATUE_GRID_SIDE * STATUE_GRID_SIDE;
// statues_near looks this far around the point along x and z.
constexpr float STATUE_NEAR_RANGE = 6.0f;
// A statue with at least this angle always faces the camera.
constexpr float STATUE_FACING_ANGLE = 3.25f;
// Entries of the gate-to-camera table (one per possible timing gate).
constexpr int32_t CAMERA_GATE_SLOTS = 256;
constexpr int32_t FLAGGER_GATES = 4;
constexpr int32_t STARTER_TEXTURES = 5;
constexpr int32_t LAP_FLAGGER_TEXTURES = 4;
constexpr int32_t MAX_FLARE_ELEMENTS = 8;
constexpr int32_t SKY_TEXTURES = 5;  // north, east, south, west, up
// Longest asset name read from a track file (characters, without the NUL).
constexpr int32_t OBJECT_NAME_MAX = 1023;

// ---------------------------------------------------------------- records

struct Billboard {
  float x, y, z;  // y = ground height + offset
  float size;
  float offset;  // height above ground as given
  float extra;
  uint32_t texture;  // 0 when there is no usable picture
  uint8_t r, g, b, a;
  const char* name;  // interned picture name without colour prefix; nullptr = none
};

struct Statue {
  // Models are not loaded yet: the name is kept and the pointer stays nullptr
  // until the model layer exists.
  Model* model;
  const char* model_name;    // interned, nullptr = none
  const Shape* shape;        // from the shape cache, nullptr = none or missing
  const char* shape_name;    // interned name as written, nullptr = none
  const char* texture_name;  // interned name as written, nullptr = none
  uint32_t texture, normal_texture, specular_texture;  // 0 when absent
  float x, y, z;                                       // y = ground height + offset
  float offset;
  float angle;
  // Rotation matrix, orientation[row][column]; its columns are the statue's
  // first (x), up (y) and third (z) axes in world coordinates.
  float orientation[3][3];
  float face_distance;    // 2^angle for camera-facing statues, else 0
  int32_t last_hit_tick;  // tick at which a bike last touched it, -1 = never
};

struct StarterFlagger {
  int32_t billboard;  // -1 when the flaggers file has no starter
  float x2, y2, z2;   // the point it moves to (y2 = ground + height)
  float duration;     // seconds to get there
  uint32_t textures[STARTER_TEXTURES];
};

struct LapFlagger {
  int32_t billboard;                        // -1 when absent
  uint32_t textures[LAP_FLAGGER_TEXTURES];  // normal, half-way lap, last lap, finished
};

struct Flagger {
  int32_t billboard;
  uint32_t normal_texture;
  uint32_t waving_texture;
  int32_t gates[FLAGGER_GATES];  // timing-gate indices, -1 = none
};

struct TrackCamera {
  float x, y, z;   // y = ground + height
  float state[4];  // scene state, 0 at load
  float fov;       // degrees
  float autofovsize;
};

struct TrackObjects {
  GrowArray<Billboard> billboards;
  GrowArray<Statue> statues;
  GrowArray<int32_t> statue_grid[STATUE_GRID_BUCKETS];  // ascending statue indices
  float grid_world_size;  // terrain side the grid was laid over (0 = no terrain)
  StarterFlagger starter;
  LapFlagger lap_flagger;
  GrowArray<Flagger> flaggers;
  GrowArray<TrackCamera> cameras;
  int32_t gate_camera[CAMERA_GATE_SLOTS];  // camera covering each timing gate, -1 = none
  // Look for normal and specular maps of statue textures (shader rendering).
  bool shader_textures;
};

struct FlareElement {
  float a, b;  // the two leading numbers (drawing use is the scene's)
  float color[3];
  float c;  // the number after the colour
  uint32_t texture;
  const char* texture_name;  // interned, nullptr = none
};

struct LensFlare {
  bool positional;  // true: a point in the world, false: a direction
  float v[3];
  int32_t element_count;
  FlareElement elements[MAX_FLARE_ELEMENTS];
};

struct Lighting {
  float sun_vector[3];  // unit length
  float sun_color[3];
  float ambient[3];
  float global_ambient[3];
  float near_plane;
  float far_plane;
  bool dynamic_lighting;
  const char* sky_names[SKY_TEXTURES];  // interned: n, e, s, w, up
  uint32_t sky[SKY_TEXTURES];
  const char* sky_env_name;
  uint32_t sky_env;
  // Exponential fog; density 0 = no fog. The renderer sets GL fog from these.
  float fog_color[3];
  float fog_density;
  GrowArray<LensFlare> flares;
};

// ---------------------------------------------------------------- lifetime and helpers

// Empty lists, 64 empty grid buckets, no flaggers, every gate without camera.
void objects_init(TrackObjects* objects);
// Frees every list; the record is left as objects_init leaves it.
void objects_free(TrackObjects* objects);

// Ground height under a point; 0 without a height field.
float objects_ground_height(const HeightField* hf, float x, float z);
// Reads one line without its end ("\n", "\r\n"); NUL bytes become blanks.
// Returns 1 for a line, 0 at end of file, -1 for a line longer than size - 1
// (which is consumed and not stored).
int32_t objects_read_line(DataFile* file, char* buf, int32_t size);

// ---------------------------------------------------------------- billboards

// Appends the RESERVED_BILLBOARDS slots: position 0, size 1, extra 1, no texture.
void billboards_reserve(TrackObjects* objects);
// Adds one billboard; name may carry a "#rrggbb#" colour prefix; nullptr or an
// empty picture name gives no texture. Returns its index, or -1 when the list
// cannot grow.
int32_t billboard_create(TrackObjects* objects, const HeightField* hf, float x, float offset,
                         float z, float size, float extra, const char* name);
// Parses one "[ x offset z ] size extra name" line and adds the billboard.
// False when the line does not give six fields (the reading then stops).
bool billboard_add(TrackObjects* objects, const HeightField* hf, const char* line);
// Object files of one record a line: reads records until one does not match
// (blank lines are skipped); returns how many were added.
typedef bool (*ObjectLineReader)(TrackObjects* objects, const HeightField* hf, const char* line);
int32_t objects_read_records(TrackObjects* objects, const HeightField* hf, DataFile* file,
                             ObjectLineReader add, const char* spinner_text);
// Opens "<track_path><file_name>" and reads it with the loading messages;
// false when it does not open.
bool objects_load_records(TrackObjects* objects, const HeightField* hf, const char* track_path,
                          const char* file_name, ObjectLineReader add, const char* message);
// Reads billboard records until one does not match; returns how many were added.
int32_t billboards_read(TrackObjects* objects, const HeightField* hf, DataFile* file);
// Reads "<track_path>billboards" with loading messages; false when it does not open.
bool billboards_load(TrackObjects* objects, const HeightField* hf, const char* track_path);
// Writes the billboards from first_file_billboard on that have a picture name.
bool billboards_save(const TrackObjects* objects, const char* track_path,
                     int32_t first_file_billboard);
// Writes the same records to an open stream.
bool billboards_write(const TrackObjects* objects, DataFile* file, int32_t first_file_billboard);

// ---------------------------------------------------------------- statues

// Adds a statue; names equal to "null" or nullptr mean none. offset is the
// height above ground. Returns its index, or -1 when the list cannot grow. The
// statue is not entered into the grid (statue_grid_add / statue_grid_build).
int32_t statue_add(TrackObjects* objects, const HeightField* hf, const char* model,
                   const char* texture, const char* shape, float x, float offset, float z,
                   float angle);
// Parses one "[ x offset z ] angle model texture shape" line and adds the statue.
bool statue_add_line(TrackObjects* objects, const HeightField* hf, const char* line);
// Reads statue records until one does not match; returns how many were added.
int32_t statues_read(TrackObjects* objects, const HeightField* hf, DataFile* file);
// Reads "<track_path>statues" with loading messages; false when it does not open.
bool statues_load(TrackObjects* objects, const HeightField* hf, const char* track_path);
// Recomputes y, orientation and face_distance of a statue from its x, z,
// offset and angle and the ground under it.
void statue_place(TrackObjects* objects, const HeightField* hf, int32_t index);
// The orientation rules on their own (for the editor and tests).
void statue_orientation(const HeightField* hf, float x, float z, float angle, float out[3][3],
                        float* face_distance);
bool statues_save(const TrackObjects* objects, const char* track_path, int32_t first_file_statue);
bool statues_write(const TrackObjects* objects, DataFile* file, int32_t first_file_statue);

// ---------------------------------------------------------------- statue grid

// Bucket coordinate (0..7) of a world coordinate on a terrain of world_size.
int32_t statue_grid_coord(float v, float world_size);
// Enters one statue (with a shape) into every bucket its bounding circle covers.
void statue_grid_add(TrackObjects* objects, const HeightField* hf, int32_t index);
// Empties the buckets and enters every statue again.
void statue_grid_build(TrackObjects* objects, const HeightField* hf);
// Statue indices from the buckets covering x ± 6, z ± 6: ascending, each once.
// out is emptied first (its memory is kept, so a per-tick caller does not
// allocate); returns out->count.
int32_t objects_statues_near(const TrackObjects* objects, float x, float z,
                             GrowArray<int32_t>* out);

// The same on the current track.
int32_t statues_near(float x, float z, GrowArray<int32_t>* out);
void statue_grid_rebuild();

// ---------------------------------------------------------------- flaggers

// Reads the flaggers file: the starter, the lap flagger, then the gate
// flaggers, stopping at the first item that does not match. Gate indices are
// clamped to -1 .. gate_count - 1 (pass the track's timing-gate count).
void flaggers_read(TrackObjects* objects, const HeightField* hf, DataFile* file,
                   int32_t gate_count);
// False when "<track_path>flaggers" does not open (no flaggers then).
bool flaggers_load(TrackObjects* objects, const HeightField* hf, const char* track_path,
                   int32_t gate_count = CAMERA_GATE_SLOTS);

// ---------------------------------------------------------------- cameras

void cameras_read(TrackObjects* objects, const HeightField* hf, DataFile* file);
bool cameras_load_hf(TrackObjects* objects, const HeightField* hf, const char* track_path);
// Heights from the current track's ground.
bool cameras_load(TrackObjects* objects, const char* track_path);

// ---------------------------------------------------------------- lighting

// Every value at its default, no flares (frees those of an earlier load), no
// sky names or textures yet.
void lighting_defaults(Lighting* lighting);
// Reads lighting keywords from a stream over the current values; false when
// an unknown keyword stopped the reading (the values read so far stay).
bool lighting_read(Lighting* lighting, DataFile* file);
// After reading: normalises the sun vector, clamps the planes, gives the
// missing sky textures their defaults and loads the sky textures.
void lighting_finish(Lighting* lighting);
// Reads "<track_path>lighting"; a missing file leaves the defaults (true).
bool lighting_load(Lighting* lighting, const char* track_path);
void lighting_free(Lighting* lighting);
