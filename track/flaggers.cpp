// Flaggers: the starter, the lap flagger and the flaggers that wave at timing
// gates, read from the "flaggers" file. Each one is drawn as a billboard whose
// picture the scene swaps with the state of the race.
#include <cmath>
#include <cstring>

#include "core/files.h"
#include "core/loading.h"
#include "core/mem.h"
#include "render/texture.h"
#include "track/objects.h"

static constexpr int32_t NAME_SIZE = OBJECT_NAME_MAX + 1;

static bool finite_all(const float* v, int n) {
  for (int i = 0; i < n; i++)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// Reads `count` names " %1023s " into names[i * NAME_SIZE]; false when one is missing.
static bool read_names(DataFile* file, char* names, int count) {
  for (int i = 0; i < count; i++)
    if (data_scanf(file, " %1023s ", names + i * NAME_SIZE) != 1) return false;
  return true;
}

static int32_t clamp_gate(int32_t gate, int32_t gate_count) {
  if (gate > gate_count - 1) gate = gate_count - 1;
  if (gate < -1) gate = -1;
  return gate;
}

static bool read_starter(TrackObjects* objects, const HeightField* hf, DataFile* file,
                         char* names) {
  float v[9];
  if (data_scanf(file, " [ %f %f %f ] [ %f %f %f ] %f %f %f ", &v[0], &v[1], &v[2], &v[3], &v[4],
                 &v[5], &v[6], &v[7], &v[8]) != 9)
    return false;
  if (!read_names(file, names, STARTER_TEXTURES) || !finite_all(v, 9)) return false;
  StarterFlagger& starter = objects->starter;
  starter.billboard = billboard_create(objects, hf, v[0], v[1], v[2], v[6], v[7], names);
  starter.x2 = v[3];
  starter.y2 = objects_ground_height(hf, v[3], v[5]) + v[4];
  starter.z2 = v[5];
  starter.duration = v[8];
  const Billboard* b = grow_at(objects->billboards, starter.billboard);
  starter.textures[0] = b ? b->texture : 0;
  for (int i = 1; i < STARTER_TEXTURES; i++)
    starter.textures[i] = texture_load(names + i * NAME_SIZE);
  return true;
}

static bool read_lap_flagger(TrackObjects* objects, const HeightField* hf, DataFile* file,
                             char* names) {
  float v[5];
  if (data_scanf(file, " [ %f %f %f ] %f %f ", &v[0], &v[1], &v[2], &v[3], &v[4]) != 5)
    return false;
  if (!read_names(file, names, LAP_FLAGGER_TEXTURES) || !finite_all(v, 5)) return false;
  LapFlagger& lap = objects->lap_flagger;
  lap.billboard = billboard_create(objects, hf, v[0], v[1], v[2], v[3], v[4], names);
  for (int i = 0; i < LAP_FLAGGER_TEXTURES; i++)
    lap.textures[i] = texture_load(names + i * NAME_SIZE);
  return true;
}

static bool read_flagger(TrackObjects* objects, const HeightField* hf, DataFile* file, char* names,
                         int32_t gate_count) {
  float v[5];
  int gates[FLAGGER_GATES];
  if (data_scanf(file, " [ %f %f %f ] %f %f %d %d %d %d", &v[0], &v[1], &v[2], &v[3], &v[4],
                 &gates[0], &gates[1], &gates[2], &gates[3]) != 9)
    return false;
  if (!read_names(file, names, 2) || !finite_all(v, 5)) return false;
  Flagger f = {};
  f.billboard = billboard_create(objects, hf, v[0], v[1], v[2], v[3], v[4], names);
  if (f.billboard < 0) return false;
  f.normal_texture = objects->billboards.data[f.billboard].texture;
  f.waving_texture = texture_load(names + NAME_SIZE);
  for (int i = 0; i < FLAGGER_GATES; i++) f.gates[i] = clamp_gate(gates[i], gate_count);
  return grow_push(objects->flaggers, f) != nullptr;
}

void flaggers_read(TrackObjects* objects, const HeightField* hf, DataFile* file,
                   int32_t gate_count) {
  if (gate_count > CAMERA_GATE_SLOTS) gate_count = CAMERA_GATE_SLOTS;
  if (gate_count < 0) gate_count = 0;
  char* names = (char*)mem_alloc(STARTER_TEXTURES * NAME_SIZE);
  if (!names) return;
  if (read_starter(objects, hf, file, names) && read_lap_flagger(objects, hf, file, names)) {
    while (read_flagger(objects, hf, file, names, gate_count)) loading_spinner("Loading flaggers");
  }
  mem_free(names);
}

bool flaggers_load(TrackObjects* objects, const HeightField* hf, const char* track_path,
                   int32_t gate_count) {
  char* name = join(track_path, "flaggers");
  DataFile* file = name ? data_open(name, "rb") : nullptr;
  mem_free(name);
  if (!file) return false;
  flaggers_read(objects, hf, file, gate_count);
  data_close(file);
  return true;
}
