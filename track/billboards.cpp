// Billboards: the reserved particle slots, the "billboards" file and its
// writer, plus the small helpers the other object readers share.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/files.h"
#include "core/loading.h"
#include "core/mem.h"
#include "core/messages.h"
#include "core/program.h"
#include "platform/log.h"
#include "render/texture.h"
#include "track/heightfield.h"
#include "track/objects.h"

// Longest billboard line: three brackets, five numbers and a 1023-character name.
static constexpr int32_t LINE_MAX = 4096;

// ---------------------------------------------------------------- lifetime and helpers

void objects_init(TrackObjects* objects) {
  objects->billboards = GrowArray<Billboard>();
  objects->statues = GrowArray<Statue>();
  for (GrowArray<int32_t>& bucket : objects->statue_grid) bucket = GrowArray<int32_t>();
  objects->grid_world_size = 0.0f;
  memset(&objects->starter, 0, sizeof objects->starter);
  objects->starter.billboard = -1;
  memset(&objects->lap_flagger, 0, sizeof objects->lap_flagger);
  objects->lap_flagger.billboard = -1;
  objects->flaggers = GrowArray<Flagger>();
  objects->cameras = GrowArray<TrackCamera>();
  for (int32_t& camera : objects->gate_camera) camera = -1;
  objects->shader_textures = false;
}

void objects_free(TrackObjects* objects) {
  grow_free(objects->billboards);
  grow_free(objects->statues);
  for (GrowArray<int32_t>& bucket : objects->statue_grid) grow_free(bucket);
  grow_free(objects->flaggers);
  grow_free(objects->cameras);
  bool shader_textures = objects->shader_textures;
  objects_init(objects);
  objects->shader_textures = shader_textures;
}

float objects_ground_height(const HeightField* hf, float x, float z) {
  if (!hf || !std::isfinite(x) || !std::isfinite(z)) return 0.0f;
  return hf_height_at(hf, x, z);
}

int32_t objects_read_line(DataFile* file, char* buf, int32_t size) {
  int32_t length = 0;
  bool too_long = false;
  int c = data_getc(file);
  if (c == EOF) {
    if (size > 0) buf[0] = 0;
    return 0;
  }
  for (; c != EOF && c != '\n'; c = data_getc(file)) {
    if (length < size - 1)
      buf[length++] = c == 0 ? ' ' : (char)c;
    else
      too_long = true;
  }
  if (length > 0 && buf[length - 1] == '\r') length--;
  if (size > 0) buf[too_long ? 0 : length] = 0;
  return too_long ? -1 : 1;
}

// ---------------------------------------------------------------- billboards

void billboards_reserve(TrackObjects* objects) {
  Billboard slot = {};
  slot.size = 1.0f;
  slot.extra = 1.0f;
  slot.r = slot.g = slot.b = slot.a = 255;
  for (int32_t i = 0; i < RESERVED_BILLBOARDS; i++) grow_push(objects->billboards, slot);
}

// "#rrggbb#" at the start of a name of at least 8 characters.
static bool has_colour_prefix(const char* name) {
  if (strlen(name) < 8 || name[0] != '#' || name[7] != '#') return false;
  for (int i = 1; i <= 6; i++)
    if (!isxdigit((unsigned char)name[i])) return false;
  return true;
}

int32_t billboard_create(TrackObjects* objects, const HeightField* hf, float x, float offset,
                         float z, float size, float extra, const char* name) {
  Billboard b = {};
  b.x = x;
  b.z = z;
  b.offset = offset;
  b.y = objects_ground_height(hf, x, z) + offset;
  b.size = size;
  b.extra = extra;
  b.r = b.g = b.b = b.a = 255;
  if (name && has_colour_prefix(name)) {
    unsigned long rgb = strtoul(name + 1, nullptr, 16);  // stops at the second '#'
    b.r = (uint8_t)((rgb >> 16) & 0xFF);
    b.g = (uint8_t)((rgb >> 8) & 0xFF);
    b.b = (uint8_t)(rgb & 0xFF);
    name += 8;
  }
  if (name && name[0]) {
    b.name = intern_string(name);
    b.texture = texture_load(b.name);
  }
  if (!grow_push(objects->billboards, b)) return -1;
  return objects->billboards.count - 1;
}

bool billboard_add(TrackObjects* objects, const HeightField* hf, const char* line) {
  float v[5];
  char name[OBJECT_NAME_MAX + 1];
  if (sscanf(line, " [ %f %f %f ] %f %f %1023s", &v[0], &v[1], &v[2], &v[3], &v[4], name) != 6)
    return false;
  for (float f : v)
    if (!std::isfinite(f)) return false;
  return billboard_create(objects, hf, v[0], v[1], v[2], v[3], v[4], name) >= 0;
}

static bool blank(const char* line) {
  for (; *line; line++)
    if (!isspace((unsigned char)*line)) return false;
  return true;
}

int32_t objects_read_records(TrackObjects* objects, const HeightField* hf, DataFile* file,
                             ObjectLineReader add, const char* spinner_text) {
  char* line = (char*)mem_alloc(LINE_MAX);
  if (!line) return 0;
  int32_t added = 0;
  int32_t status;
  while ((status = objects_read_line(file, line, LINE_MAX)) != 0) {
    if (status > 0 && blank(line)) continue;
    if (status < 0 || !add(objects, hf, line)) break;
    added++;
    loading_spinner(spinner_text);
  }
  mem_free(line);
  return added;
}

bool objects_load_records(TrackObjects* objects, const HeightField* hf, const char* track_path,
                          const char* file_name, ObjectLineReader add, const char* message) {
  char* name = join(track_path, file_name);
  DataFile* file = name ? data_open(name, "rb") : nullptr;
  mem_free(name);
  if (!file) return false;
  log_loading_message(message);
  objects_read_records(objects, hf, file, add, message);
  data_close(file);
  loading_done(message);
  return true;
}

int32_t billboards_read(TrackObjects* objects, const HeightField* hf, DataFile* file) {
  return objects_read_records(objects, hf, file, billboard_add, "Loading billboards");
}

bool billboards_load(TrackObjects* objects, const HeightField* hf, const char* track_path) {
  return objects_load_records(objects, hf, track_path, "billboards", billboard_add,
                              "Loading billboards");
}

bool billboards_write(const TrackObjects* objects, DataFile* file, int32_t first_file_billboard) {
  if (first_file_billboard < 0) first_file_billboard = 0;
  bool ok = true;
  for (int32_t i = first_file_billboard; i < objects->billboards.count; i++) {
    const Billboard& b = objects->billboards.data[i];
    if (!b.name) continue;
    if (data_printf(file, "[%f %f %f] %f %f ", b.x, b.offset, b.z, b.size, b.extra) < 0) ok = false;
    int written;
    if (b.r == 255 && b.g == 255 && b.b == 255)
      written = data_printf(file, "%s\n", b.name);
    else
      written = data_printf(file, "#%02x%02x%02x#%s\n", b.r, b.g, b.b, b.name);
    if (written < 0) ok = false;
  }
  return ok;
}

bool billboards_save(const TrackObjects* objects, const char* track_path,
                     int32_t first_file_billboard) {
  char* name = join(track_path, "billboards");
  DataFile* file = name ? data_open(name, "wb") : nullptr;
  mem_free(name);
  if (!file) {
    print_message("Can't open 'billboards'\n");
    return false;
  }
  bool ok = billboards_write(objects, file, first_file_billboard);
  ok = data_flush(file) && ok;
  data_close(file);
  return ok;
}
