// Scene lighting of a track: sun, ambient light, clip planes, sky box, fog and
// lens flares, read from the "lighting" file over built-in defaults.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/files.h"
#include "core/loading.h"
#include "core/mem.h"
#include "core/messages.h"
#include "render/texture.h"
#include "track/objects.h"

static constexpr int32_t LINE_MAX = 4096;
static constexpr float NEAR_PLANE_MIN = 1.0f / 1024.0f;
static constexpr float NEAR_PLANE_MAX = 0.875f;
static constexpr float FAR_PLANE_MAX = 1048576.0f;
static const char* const SKY_KEYS[SKY_TEXTURES] = {"sky_n", "sky_e", "sky_s", "sky_w", "sky_u"};
static const char* const SKY_DEFAULTS[SKY_TEXTURES] = {"@sky-n.ppm", "@sky-e.ppm", "@sky-s.ppm",
                                                       "@sky-w.ppm", "@sky-u.ppm"};
static const char SKY_ENV_DEFAULT[] = "@sky-env.ppm";

static void set3(float v[3], float a, float b, float c) {
  v[0] = a;
  v[1] = b;
  v[2] = c;
}

static bool finite_all(const float* v, int n) {
  for (int i = 0; i < n; i++)
    if (!std::isfinite(v[i])) return false;
  return true;
}

void lighting_defaults(Lighting* lighting) {
  grow_free(lighting->flares);
  float unit = 1.0f / sqrtf(3.0f);
  set3(lighting->sun_vector, unit, unit, unit);
  set3(lighting->sun_color, 1.0f, 1.0f, 1.0f);
  set3(lighting->ambient, 0.5f, 0.5f, 0.5f);
  set3(lighting->global_ambient, 0.2f, 0.2f, 0.2f);
  lighting->near_plane = 0.25f;
  lighting->far_plane = 5000.0f;
  lighting->dynamic_lighting = false;
  for (int i = 0; i < SKY_TEXTURES; i++) {
    lighting->sky_names[i] = nullptr;
    lighting->sky[i] = 0;
  }
  lighting->sky_env_name = nullptr;
  lighting->sky_env = 0;
  set3(lighting->fog_color, 0.0f, 0.0f, 0.0f);
  lighting->fog_density = 0.0f;
}

void lighting_free(Lighting* lighting) { grow_free(lighting->flares); }

// " [ %f %f %f ] " with finite numbers.
static bool parse_vector(const char* value, float out[3]) {
  float v[3];
  if (sscanf(value, " [ %f %f %f ]", &v[0], &v[1], &v[2]) != 3 || !finite_all(v, 3)) return false;
  set3(out, v[0], v[1], v[2]);
  return true;
}

static bool parse_number(const char* value, float* out) {
  float v;
  if (sscanf(value, "%f", &v) != 1 || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

static void parse_flare_element(const char* value, LensFlare* flare) {
  float v[6];
  char name[OBJECT_NAME_MAX + 1];
  if (flare->element_count >= MAX_FLARE_ELEMENTS) return;
  if (sscanf(value, " [ %f %f ] [ %f %f %f ] %f %1023s", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
             name) != 7 ||
      !finite_all(v, 6))
    return;
  FlareElement& e = flare->elements[flare->element_count++];
  e.a = v[0];
  e.b = v[1];
  set3(e.color, v[2], v[3], v[4]);
  e.c = v[5];
  e.texture_name = intern_string(name);
  e.texture = texture_load(e.texture_name);
}

bool lighting_read(Lighting* lighting, DataFile* file) {
  char* line = (char*)mem_alloc(LINE_MAX);
  if (!line) return true;
  LensFlare flare = {};
  bool building = false;
  bool ok = true;
  int32_t status;
  while ((status = objects_read_line(file, line, LINE_MAX)) != 0) {
    if (status < 0) continue;
    char* keyword = line + strspn(line, " \t");
    char* value = keyword + strcspn(keyword, " \t");
    if (*value) *value++ = 0;
    value += strspn(value, " \t");
    size_t length = strlen(value);
    while (length > 0 && strchr(" \t\r\n\v\f", value[length - 1])) value[--length] = 0;
    if (!keyword[0]) continue;

    float number;
    if (strcmp(keyword, "sun_vector") == 0) {
      parse_vector(value, lighting->sun_vector);
    } else if (strcmp(keyword, "sun_color") == 0) {
      parse_vector(value, lighting->sun_color);
    } else if (strcmp(keyword, "ambient") == 0) {
      parse_vector(value, lighting->ambient);
    } else if (strcmp(keyword, "global_ambient") == 0) {
      parse_vector(value, lighting->global_ambient);
    } else if (strcmp(keyword, "near_plane") == 0) {
      if (parse_number(value, &number)) lighting->near_plane = number;
    } else if (strcmp(keyword, "far_plane") == 0) {
      if (parse_number(value, &number)) lighting->far_plane = number;
    } else if (strcmp(keyword, "dynamic_lighting") == 0) {
      int on;
      if (sscanf(value, "%d", &on) == 1) lighting->dynamic_lighting = on > 0;
    } else if (strcmp(keyword, "sky_env") == 0) {
      if (value[0]) lighting->sky_env_name = intern_string(value);
    } else if (strcmp(keyword, "fog") == 0) {
      float v[4];
      if (sscanf(value, " [ %f %f %f ] %f", &v[0], &v[1], &v[2], &v[3]) == 4 && finite_all(v, 4)) {
        set3(lighting->fog_color, v[0], v[1], v[2]);
        lighting->fog_density = v[3];
      }
    } else if (strcmp(keyword, "flare_point") == 0 || strcmp(keyword, "flare_vector") == 0) {
      if (building) grow_push(lighting->flares, flare);
      flare = LensFlare{};
      flare.positional = strcmp(keyword, "flare_point") == 0;
      building = parse_vector(value, flare.v);
    } else if (strcmp(keyword, "flare_element") == 0) {
      if (building) parse_flare_element(value, &flare);
    } else {
      int sky = -1;
      for (int i = 0; i < SKY_TEXTURES; i++)
        if (strcmp(keyword, SKY_KEYS[i]) == 0) sky = i;
      if (sky < 0) {
        print_messagef("Error reading lighting: Unknown identifier '%.950s'\n", keyword);
        ok = false;
        break;
      }
      if (value[0]) lighting->sky_names[sky] = intern_string(value);
    }
  }
  if (building) grow_push(lighting->flares, flare);
  mem_free(line);
  return ok;
}

// The named texture, or the default one when there is no name or it does not load.
static uint32_t load_sky(const char** name, const char* fallback) {
  uint32_t texture = *name ? texture_load(*name) : 0;
  if (!texture) {
    *name = intern_string(fallback);
    texture = texture_load(*name);
  }
  return texture;
}

void lighting_finish(Lighting* lighting) {
  float* sun = lighting->sun_vector;
  float length = sqrtf(sun[0] * sun[0] + sun[1] * sun[1] + sun[2] * sun[2]);
  if (length > 0.0f && std::isfinite(length))
    set3(sun, sun[0] / length, sun[1] / length, sun[2] / length);
  else
    set3(sun, 1.0f / sqrtf(3.0f), 1.0f / sqrtf(3.0f), 1.0f / sqrtf(3.0f));

  float& near_plane = lighting->near_plane;
  if (!(near_plane >= NEAR_PLANE_MIN)) near_plane = NEAR_PLANE_MIN;
  if (near_plane > NEAR_PLANE_MAX) near_plane = NEAR_PLANE_MAX;
  float& far_plane = lighting->far_plane;
  if (!(far_plane >= near_plane)) far_plane = near_plane;
  if (far_plane > FAR_PLANE_MAX) far_plane = FAR_PLANE_MAX;

  for (int i = 0; i < SKY_TEXTURES; i++)
    lighting->sky[i] = load_sky(&lighting->sky_names[i], SKY_DEFAULTS[i]);
  lighting->sky_env = load_sky(&lighting->sky_env_name, SKY_ENV_DEFAULT);
}

bool lighting_load(Lighting* lighting, const char* track_path) {
  log_loading_message("Loading lighting");
  lighting_defaults(lighting);
  char* name = join(track_path, "lighting");
  DataFile* file = name ? data_open(name, "rb") : nullptr;
  mem_free(name);
  if (file) {
    lighting_read(lighting, file);
    data_close(file);
  }
  lighting_finish(lighting);
  loading_done("Loading lighting");
  return true;
}
