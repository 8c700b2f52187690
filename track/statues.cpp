// Statues: placing and orienting them on the ground, the "statues" file and
// its writer, and the grid that finds the statues near a point.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/files.h"
#include "core/loading.h"
#include "core/mem.h"
#include "core/messages.h"
#include "physics/shape.h"
#include "platform/log.h"
#include "render/texture.h"
#include "track/heightfield.h"
#include "track/objects.h"
#include "track/track.h"

static constexpr int32_t LINE_MAX = 4096;
static constexpr float TWO_PI = 6.28318530717958647692f;

// ---------------------------------------------------------------- orientation

static void normalise(float v[3]) {
  float length = sqrtf(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (length > 0.0f && std::isfinite(length)) {
    v[0] /= length;
    v[1] /= length;
    v[2] /= length;
  }
}

static void cross(const float a[3], const float b[3], float out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

void statue_orientation(const HeightField* hf, float x, float z, float angle, float out[3][3],
                        float* face_distance) {
  if (angle >= STATUE_FACING_ANGLE) {
    for (int r = 0; r < 3; r++)
      for (int c = 0; c < 3; c++) out[r][c] = r == c ? 1.0f : 0.0f;
    *face_distance = exp2f(angle);
    return;
  }
  *face_distance = 0.0f;
  float first[3] = {cosf(angle), 0.0f, -sinf(angle)};
  float up[3] = {0.0f, 1.0f, 0.0f};
  if (angle > -TWO_PI) {
    // Tilt with the ground: the normal from the heights one unit along x and z.
    float h = objects_ground_height(hf, x, z);
    up[0] = -(objects_ground_height(hf, x + 1.0f, z) - h);
    up[2] = -(objects_ground_height(hf, x, z + 1.0f) - h);
    normalise(up);
  }
  float third[3];
  cross(first, up, third);
  normalise(third);
  cross(up, third, first);
  normalise(first);
  for (int r = 0; r < 3; r++) {
    out[r][0] = first[r];
    out[r][1] = up[r];
    out[r][2] = third[r];
  }
}

void statue_place(TrackObjects* objects, const HeightField* hf, int32_t index) {
  Statue* s = grow_at(objects->statues, index);
  if (!s) return;
  s->y = objects_ground_height(hf, s->x, s->z) + s->offset;
  statue_orientation(hf, s->x, s->z, s->angle, s->orientation, &s->face_distance);
}

// ---------------------------------------------------------------- adding

static const char* name_or_none(const char* name) {
  if (!name || !name[0] || strcmp(name, "null") == 0) return nullptr;
  return intern_string(name);
}

// Loads texture_name with its tail replaced: from the position `cut` on,
// `suffix` and then each of the three extensions in turn.
static uint32_t load_variant(const char* name, size_t cut, const char* suffix) {
  static const char* const EXTENSIONS[] = {".seq", ".png", ".ppm"};
  size_t suffix_length = strlen(suffix);
  char* candidate = (char*)mem_alloc(cut + suffix_length + 8);
  if (!candidate) return 0;
  memcpy(candidate, name, cut);
  memcpy(candidate + cut, suffix, suffix_length);
  uint32_t texture = 0;
  for (const char* extension : EXTENSIONS) {
    strcpy(candidate + cut + suffix_length, extension);
    texture = texture_load(candidate);
    if (texture) break;
  }
  mem_free(candidate);
  return texture;
}

// Start of the extension (the last '.' after the last '/'), or the end.
static size_t extension_start(const char* name) {
  const char* slash = strrchr(name, '/');
  const char* dot = strrchr(slash ? slash : name, '.');
  return dot ? (size_t)(dot - name) : strlen(name);
}

// The normal ("_norm") or specular ("_spec") map belonging to a statue texture.
static uint32_t find_map(const char* texture, const char* model, const char* kind) {
  char suffix[32];
  size_t base = extension_start(texture);
  static const char REPEAT[] = "-repeat";
  const size_t repeat_length = sizeof REPEAT - 1;
  uint32_t found;
  if (base >= repeat_length &&
      strncmp(texture + base - repeat_length, REPEAT, repeat_length) == 0) {
    snprintf(suffix, sizeof suffix, "%s-repeat", kind);
    found = load_variant(texture, base - repeat_length, suffix);
  } else {
    found = load_variant(texture, base, kind);
  }
  if (!found && model) found = load_variant(model, extension_start(model), kind);
  return found;
}

int32_t statue_add(TrackObjects* objects, const HeightField* hf, const char* model,
                   const char* texture, const char* shape, float x, float offset, float z,
                   float angle) {
  Statue s = {};
  s.model_name = name_or_none(model);
  s.texture_name = name_or_none(texture);
  s.shape_name = name_or_none(shape);
  // The model layer does not exist yet: the statue keeps its model name and
  // draws nothing until models can be loaded.
  s.model = nullptr;
  if (s.model_name && s.texture_name) {
    s.texture = texture_load(s.texture_name);
    if (objects->shader_textures) {
      s.normal_texture = find_map(s.texture_name, s.model_name, "_norm");
      s.specular_texture = find_map(s.texture_name, s.model_name, "_spec");
    }
  }
  if (s.shape_name) {
    s.shape = shape_load(s.shape_name);
    if (!s.shape) log_printf("Warning: missing shape file %.900s\n", s.shape_name);
  }
  s.x = x;
  s.z = z;
  s.offset = offset;
  s.angle = angle;
  s.last_hit_tick = -1;
  if (!grow_push(objects->statues, s)) return -1;
  int32_t index = objects->statues.count - 1;
  statue_place(objects, hf, index);
  return index;
}

bool statue_add_line(TrackObjects* objects, const HeightField* hf, const char* line) {
  float v[4];
  char* names = (char*)mem_alloc(3 * (OBJECT_NAME_MAX + 1));
  if (!names) return false;
  char* model = names;
  char* texture = names + OBJECT_NAME_MAX + 1;
  char* shape = names + 2 * (OBJECT_NAME_MAX + 1);
  bool ok = sscanf(line, " [ %f %f %f ] %f %1023s %1023s %1023s", &v[0], &v[1], &v[2], &v[3], model,
                   texture, shape) == 7;
  for (int i = 0; ok && i < 4; i++) ok = std::isfinite(v[i]);
  if (ok) ok = statue_add(objects, hf, model, texture, shape, v[0], v[1], v[2], v[3]) >= 0;
  mem_free(names);
  return ok;
}

int32_t statues_read(TrackObjects* objects, const HeightField* hf, DataFile* file) {
  return objects_read_records(objects, hf, file, statue_add_line, "Loading statues");
}

bool statues_load(TrackObjects* objects, const HeightField* hf, const char* track_path) {
  return objects_load_records(objects, hf, track_path, "statues", statue_add_line,
                              "Loading statues");
}

// ---------------------------------------------------------------- writing

static const char* or_null(const char* name) { return name ? name : "null"; }

bool statues_write(const TrackObjects* objects, DataFile* file, int32_t first_file_statue) {
  if (first_file_statue < 0) first_file_statue = 0;
  bool ok = true;
  for (int32_t i = first_file_statue; i < objects->statues.count; i++) {
    const Statue& s = objects->statues.data[i];
    if (data_printf(file, "[%f %f %f] %f %s %s %s\n", s.x, s.offset, s.z, s.angle,
                    or_null(s.model_name), or_null(s.texture_name), or_null(s.shape_name)) < 0)
      ok = false;
  }
  return ok;
}

bool statues_save(const TrackObjects* objects, const char* track_path, int32_t first_file_statue) {
  char* name = join(track_path, "statues");
  DataFile* file = name ? data_open(name, "wb") : nullptr;
  mem_free(name);
  if (!file) {
    print_message("Can't open 'statues'\n");
    return false;
  }
  bool ok = statues_write(objects, file, first_file_statue);
  ok = data_flush(file) && ok;
  data_close(file);
  return ok;
}

// ---------------------------------------------------------------- grid

int32_t statue_grid_coord(float v, float world_size) {
  if (!(world_size > 0.0f)) return 0;
  float t = floorf((v / world_size - 0.125f) * (4.0f / 3.0f) * (float)STATUE_GRID_SIDE);
  if (!(t >= 0.0f)) return 0;  // also NaN
  if (t > (float)(STATUE_GRID_SIDE - 1)) return STATUE_GRID_SIDE - 1;
  return (int32_t)t;
}

static float hf_world_size(const TrackObjects* objects, const HeightField* hf) {
  return hf ? hf->world_size : objects->grid_world_size;
}

// Inserts index into an ascending bucket unless it is there already.
static void bucket_insert(GrowArray<int32_t>& bucket, int32_t index) {
  int32_t at = bucket.count;
  while (at > 0 && bucket.data[at - 1] > index) at--;
  if (at > 0 && bucket.data[at - 1] == index) return;
  if (!grow_push(bucket, index)) return;
  memmove(&bucket.data[at + 1], &bucket.data[at],
          (size_t)(bucket.count - 1 - at) * sizeof(int32_t));
  bucket.data[at] = index;
}

void statue_grid_add(TrackObjects* objects, const HeightField* hf, int32_t index) {
  const Statue* s = grow_at(objects->statues, index);
  if (!s || !s->shape) return;
  objects->grid_world_size = hf_world_size(objects, hf);
  float ws = objects->grid_world_size;
  float radius = s->shape->bounding_radius;
  if (!(radius >= 0.0f)) radius = 0.0f;
  int32_t i0 = statue_grid_coord(s->x - radius, ws), i1 = statue_grid_coord(s->x + radius, ws);
  int32_t j0 = statue_grid_coord(s->z - radius, ws), j1 = statue_grid_coord(s->z + radius, ws);
  for (int32_t j = j0; j <= j1; j++)
    for (int32_t i = i0; i <= i1; i++)
      bucket_insert(objects->statue_grid[j * STATUE_GRID_SIDE + i], index);
}

void statue_grid_build(TrackObjects* objects, const HeightField* hf) {
  for (GrowArray<int32_t>& bucket : objects->statue_grid) bucket.count = 0;
  objects->grid_world_size = hf_world_size(objects, hf);
  for (int32_t i = 0; i < objects->statues.count; i++) statue_grid_add(objects, hf, i);
}

static int compare_index(const void* a, const void* b) {
  int32_t x = *(const int32_t*)a, y = *(const int32_t*)b;
  return (x > y) - (x < y);
}

int32_t objects_statues_near(const TrackObjects* objects, float x, float z,
                             GrowArray<int32_t>* out) {
  out->count = 0;
  float ws = objects->grid_world_size;
  int32_t i0 = statue_grid_coord(x - STATUE_NEAR_RANGE, ws);
  int32_t i1 = statue_grid_coord(x + STATUE_NEAR_RANGE, ws);
  int32_t j0 = statue_grid_coord(z - STATUE_NEAR_RANGE, ws);
  int32_t j1 = statue_grid_coord(z + STATUE_NEAR_RANGE, ws);
  for (int32_t j = j0; j <= j1; j++)
    for (int32_t i = i0; i <= i1; i++) {
      const GrowArray<int32_t>& bucket = objects->statue_grid[j * STATUE_GRID_SIDE + i];
      for (int32_t k = 0; k < bucket.count; k++) grow_push(*out, bucket.data[k]);
    }
  if (out->count > 1) {
    qsort(out->data, (size_t)out->count, sizeof(int32_t), compare_index);
    int32_t kept = 1;
    for (int32_t k = 1; k < out->count; k++)
      if (out->data[k] != out->data[kept - 1]) out->data[kept++] = out->data[k];
    out->count = kept;
  }
  return out->count;
}

// ---------------------------------------------------------------- current track

int32_t statues_near(float x, float z, GrowArray<int32_t>* out) {
  return objects_statues_near(&track.objects, x, z, out);
}

void statue_grid_rebuild() { statue_grid_build(&track.objects, &track.hf); }
