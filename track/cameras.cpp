// Trackside cameras from the "cameras" file, and which timing gate each covers.
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/files.h"
#include "core/mem.h"
#include "core/program.h"
#include "platform/log.h"
#include "track/objects.h"
#include "track/track.h"

static constexpr int32_t LINE_MAX = 4096;
static constexpr float DEFAULT_FOV = 90.0f;

static const char* skip_blanks(const char* p) {
  while (*p == ' ' || *p == '\t') p++;
  return p;
}

// "gate 3 7 12": maps each gate 0..255 to camera; stops at the first other word.
static void read_gate_list(TrackObjects* objects, const char* p, int32_t camera) {
  for (;;) {
    while (isspace((unsigned char)*p)) p++;
    char* end;
    errno = 0;
    long gate = strtol(p, &end, 10);
    if (end == p || errno != 0 || gate < 0 || gate >= CAMERA_GATE_SLOTS) return;
    objects->gate_camera[gate] = camera;
    p = end;
  }
}

void cameras_read(TrackObjects* objects, const HeightField* hf, DataFile* file) {
  char* line = (char*)mem_alloc(LINE_MAX);
  if (!line) return;
  float fov = DEFAULT_FOV, autofovsize = 0.0f;
  int32_t status;
  while ((status = objects_read_line(file, line, LINE_MAX)) != 0) {
    if (status < 0) continue;  // far too long for any camera line
    const char* p = skip_blanks(line);
    float v[3];
    if (sscanf(p, "addcamera %f %f %f", &v[0], &v[1], &v[2]) == 3) {
      if (!std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[2])) continue;
      TrackCamera camera = {};
      camera.x = v[0];
      camera.z = v[2];
      camera.y = objects_ground_height(hf, v[0], v[2]) + v[1];
      camera.fov = fov;
      camera.autofovsize = autofovsize;
      grow_push(objects->cameras, camera);
      fov = DEFAULT_FOV;
      autofovsize = 0.0f;
    } else if (sscanf(p, "fov %f", &v[0]) == 1) {
      if (std::isfinite(v[0])) fov = fabsf(v[0]);
    } else if (sscanf(p, "autofovsize %f", &v[0]) == 1) {
      if (std::isfinite(v[0])) autofovsize = fabsf(v[0]);
    } else if (strncmp(p, "gate", 4) == 0 && isspace((unsigned char)p[4])) {
      read_gate_list(objects, p + 4, objects->cameras.count);
    }
  }
  mem_free(line);
  // A gate list after the last "addcamera" names a camera that never came.
  for (int32_t& camera : objects->gate_camera)
    if (camera >= objects->cameras.count) camera = -1;
}

bool cameras_load_hf(TrackObjects* objects, const HeightField* hf, const char* track_path) {
  char* name = join(track_path, "cameras");
  DataFile* file = name ? data_open(name, "rb") : nullptr;
  mem_free(name);
  if (!file) return false;
  cameras_read(objects, hf, file);
  data_close(file);
  if (debug_level >= 1) log_printf("%d cameras found\n", objects->cameras.count);
  return true;
}

bool cameras_load(TrackObjects* objects, const char* track_path) {
  return cameras_load_hf(objects, &track.hf, track_path);
}
