// The one current track: ground, objects, lighting and race course.
//
// Lifetime: loaded by track_load during session start, freed by track_free
// on session reset or shutdown.
#pragma once

#include <cstdint>

#include "track/heightfield.h"
#include "track/objects.h"
#include "track/timing.h"

struct Track {
  const char* name;       // directory name, e.g. "rabbithill" (interned), nullptr = none
  const char* long_name;  // description from the track list, or the name
  HeightField hf;
  Lighting lighting;
  TrackObjects objects;
  TimingData timing;
  uint32_t map_texture;  // 0 when the track has no map.png
  uint8_t hash[20];      // fingerprint of the files that decide how it rides
  int32_t first_file_statue;
  int32_t first_file_billboard;
  bool loaded;
};

extern Track track;

// Loads the track named by track.name; 1 on success, 0 when the ground could
// not be loaded (the names are then cleared).
int track_load();
void track_free();
// Writes "@<name>.trackinfo".
void track_info_save();
// Lower-case hex of track.hash into out (41 bytes).
void track_hash_hex(char out[41]);
