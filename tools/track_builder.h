// A small toolkit for building tracks in memory: the centre line of a course
// made of straights and arcs, jump profiles and banking along it, sculpting
// of a height field around it, tile painting by distance to it, and writers
// for the text files of a track directory that have no writer of their own.
//
// Coordinates are world feet: x and z on the ground, y up. A heading of 0
// points along +x, a heading of pi/2 along +z; a positive turn increases the
// heading, which is a right-hand turn for a rider (right of +x is +z).
#pragma once

#include <cstdint>
#include <cstdio>

// The sky lines every generated track's "lighting" file carries.
#define DG_SKY_LIGHTING_LINES                                                            \
  "sky_n " DG_SKY_N "\n"                                                               \
  "sky_e " DG_SKY_E "\n"                                                               \
  "sky_s " DG_SKY_S "\n"                                                               \
  "sky_w " DG_SKY_W "\n"                                                               \
  "sky_u " DG_SKY_U "\n"                                                               \
  "sky_env " DG_SKY_ENV "\n"

#include "core/mem.h"
#include "track/heightfield.h"
#include "track/objects.h"
#include "tools/datagen.h"
#include "track/timing.h"

// Distance between neighbouring points of a path.
constexpr float PATH_STEP = 1.0f;

struct PathPoint {
  float x, z;     // centre
  float dx, dz;   // unit direction of travel
  float s;        // distance from the path's start
  float width;    // full width of the riding surface
  float bank;     // height gain per foot towards the rider's right
  float profile;  // height of jumps and whoops above the ground line
  float ground;   // ground line under the centre (smoothed base terrain)
  int32_t turn;   // -1 left, 0 straight, +1 right
};

struct TrackPath {
  GrowArray<PathPoint> points;
  float x, z, heading;  // the turtle: where the next piece starts
  float width;          // width of the next piece
  bool closed;          // the last point joins the first
};

// ---------------------------------------------------------------- centre line

void path_begin(TrackPath* path, float x, float z, float heading, float width);
// A straight piece; the width changes linearly to end_width (< 0 keeps it).
void path_straight(TrackPath* path, float length, float end_width = -1.0f);
// A straight along the current heading up to where x (or z) reaches value;
// for pieces that run along an axis.
void path_straight_to_x(TrackPath* path, float x);
void path_straight_to_z(TrackPath* path, float z);
// An arc of radius turning by degrees (positive = right). bank > 0 raises the
// outside of the turn (berm), bank < 0 lowers it (off-camber); ft per ft.
void path_arc(TrackPath* path, float radius, float degrees, float bank = 0.0f);
float path_length(const TrackPath* path);
// The point nearest to distance s (clamped into the path).
const PathPoint* path_at(const TrackPath* path, float s);
int32_t path_index_at(const TrackPath* path, float s);
void path_free(TrackPath* path);
// Smooths the bank values along the path (box filter of +-radius feet,
// twice) so berms ramp in and out of their corners.
void path_smooth_bank(TrackPath* path, float radius);
// Ground line: base(x, z) sampled under each point, smoothed along the path.
void path_set_ground(TrackPath* path, float (*base)(float x, float z), float smooth_radius);

// ---------------------------------------------------------------- jump profiles
// Each adds to the profile from distance s0 on and returns the distance just
// past the feature. Faces rise concavely (steepest at the lip) at about
// face_degrees; landings fall with a smooth S-curve.

float profile_tabletop(TrackPath* path, float s0, float height, float face_degrees,
                       float deck_length, float landing_length);
// Take-off, a gap back down to the ground, then a landing ramp whose top is
// gap feet past the lip.
float profile_double(TrackPath* path, float s0, float height, float face_degrees, float gap,
                     float landing_height, float landing_length);
// Take-off to height, a short gap, a landing plateau higher than the lip, then
// a long ramp down.
float profile_step_up(TrackPath* path, float s0, float height, float face_degrees, float gap,
                      float top_height, float top_length, float down_length);
// A short steep ramp with a quick drop behind it.
float profile_kicker(TrackPath* path, float s0, float height, float face_degrees);
// count rounded bumps of height every spacing feet.
float profile_whoops(TrackPath* path, float s0, int32_t count, float spacing, float height);

// ---------------------------------------------------------------- sculpting

// Nearest-path information per height sample, filled by sculpt_paths.
struct PathField {
  int32_t grid;  // samples per side
  float spacing;
  float* dist;     // horizontal distance to the nearest centre line (huge = far)
  float* lateral;  // signed offset from it, positive to the rider's right
  float* s;        // distance along that path
  uint8_t* which;  // index of that path
};

struct SculptParams {
  float shoulder;     // flat extra beside the riding surface
  float blend_min;    // shortest blend into the surrounding ground
  float blend_ratio;  // extra blend length per foot of height difference
};

// Finds for every sample within reach the nearest point of any path and sets
// heights: the track surface on the path, blended smoothly into base(x, z)
// beyond it. hf must have its geometry and heights allocated.
bool sculpt_paths(HeightField* hf, TrackPath* const* paths, int32_t path_count,
                  float (*base)(float x, float z), const SculptParams* params, PathField* field);
void path_field_free(PathField* field);
// Track surface height of a path at distance s and lateral offset.
float path_surface_height(const TrackPath* path, float s, float lateral);
// Whether sample (i, j) lies on the riding surface of a path (with margin).
bool path_field_on_track(const PathField* field, TrackPath* const* paths, int32_t i, int32_t j,
                         float margin);

// ---------------------------------------------------------------- tiles

// Corner classification for transition tiles: returns for cell (cx, cz) the
// mask of grass corners in the order top-left, top-right, bottom-right,
// bottom-left (top-left = highest bit; top = smaller z).
int32_t tile_corner_mask(const bool* grass_corner, int32_t corners_per_side, int32_t cx,
                         int32_t cz);
// A stable pseudo-random number 0..1 for a cell (no global state).
float cell_hash(int32_t cx, int32_t cz, uint32_t salt);

// ---------------------------------------------------------------- shading (track_shading.cpp)

struct SunLight {
  float direction[3];  // towards the sun, any length
  float color[3];
  float ambient[3];
  float shadow_softness;  // feet of horizon excess for a full shadow
  float shadow_strength;  // 0..1: shadow amount of a fully shadowed sample
};

// Fills hf->shadow by a horizon sweep along the sun azimuth and hf->shading
// with Lambert lighting of the vertex normals (stored at half scale).
bool shade_terrain(HeightField* hf, const SunLight* sun);
// Writes the shadow layer as lightness (255 - shadow), "P5" PGM, to path.
bool write_shadows_pgm(const HeightField* hf, const char* path);

// ---------------------------------------------------------------- files

bool track_write_text(const char* dir, const char* name, const char* text);
// Top-down picture of the paths for the HUD map: size x size RGBA, the riding
// surface opaque (with a dark outline), the rest transparent.
bool render_track_map(const char* path, const HeightField* hf, TrackPath* const* paths,
                      int32_t path_count, int32_t size);

// Adds a decal to hf's list (the list then gets written by terrain_save).
void decal_push(HeightField* hf, float x, float z, float angle, float size, float aspect,
                const char* name);

// Timing: a checkpoint at distance s of path with the given radius, facing
// along the path. Returns its index or -1.
int32_t checkpoint_add(TimingData* timing, const TrackPath* path, float s, float radius);

// ---------------------------------------------------------------- ground types

enum GroundKind : int32_t {
  GROUND_DIRT = 0,
  GROUND_HARDPACK,
  GROUND_GRASS,
  GROUND_SAND,
  GROUND_MUD,
};

// Appends one tile definition (grip, rolling drag, roost, erosion, then
// "addtile") for a kind of ground with the given picture to a tileinfo text.
void tileinfo_write_tile(FILE* file, GroundKind kind, const char* texture);
