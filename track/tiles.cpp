// Ground tile types: the "tileinfo" reader, tile loading, transition codes and
// the friction and rolling-resistance lookups.
#include "track/tiles.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/common.h"
#include "core/files.h"
#include "core/mem.h"
#include "core/messages.h"
#include "render/texture.h"
#include "track/track.h"

namespace {

constexpr int LINE_CHARS = 1024;  // lines up to 1023 characters
const char* const ROOST_TEXTURE = "@roost.png";

// Keeps NaN out of stored values: anything not above the floor becomes the floor.
float at_least(float value, float floor_value) { return value > floor_value ? value : floor_value; }

template <typename... Values>
bool finite_all(Values... values) {
  return (std::isfinite(values) && ...);
}

float clamp01(float t) {
  if (!(t > 0.0f)) return 0.0f;  // also NaN
  return t > 1.0f ? 1.0f : t;
}

// The number truncated to an integer, its low 8 bits (NaN and infinities give 0).
uint8_t low_byte(double value) {
  if (!std::isfinite(value)) return 0;
  double m = std::fmod(std::trunc(value), 256.0);
  if (m < 0) m += 256.0;
  return (uint8_t)(int)m;
}

struct PendingTile {
  TileType tile;
  int32_t friction_count;
  int32_t roll_count;
  int32_t roost_count;
};

void pending_reset(PendingTile* p, bool load_textures) {
  tile_type_defaults(&p->tile, load_textures);
  p->friction_count = 0;
  p->roll_count = 0;
  p->roost_count = 0;
}

// ---------------------------------------------------------------- roost parameters

enum RoostField : int32_t {
  RF_COUNT,
  RF_DIG,
  RF_SLIP_THRESHOLD,
  RF_SLOW_ANGLE,
  RF_FAST_ANGLE,
  RF_SLOW_SPEED,
  RF_FAST_SPEED,
  RF_SIZE,
  RF_GROW,
  RF_DRAG,
  RF_VSCALE,
  RF_RANDOMIZE,
  RF_R,
  RF_G,
  RF_B,
  RF_A,
  RF_FADE_R,
  RF_FADE_G,
  RF_FADE_B,
  RF_FADE_A,
};

struct RoostParam {
  const char* prefix;
  RoostField field;
};

// In the order they are tried.
const RoostParam ROOST_PARAMS[] = {
    {"count=", RF_COUNT},
    {"dig=", RF_DIG},
    {"slip_threshold=", RF_SLIP_THRESHOLD},
    {"slow_angle=", RF_SLOW_ANGLE},
    {"fast_angle=", RF_FAST_ANGLE},
    {"slow_speed=", RF_SLOW_SPEED},
    {"fast_speed=", RF_FAST_SPEED},
    {"size=", RF_SIZE},
    {"grow=", RF_GROW},
    {"drag=", RF_DRAG},
    {"vscale=", RF_VSCALE},
    {"randomize=", RF_RANDOMIZE},
    {"r=", RF_R},
    {"g=", RF_G},
    {"b=", RF_B},
    {"a=", RF_A},
    {"fade_r=", RF_FADE_R},
    {"fade_g=", RF_FADE_G},
    {"fade_b=", RF_FADE_B},
    {"fade_a=", RF_FADE_A},
};

float* roost_float_field(RoostType* r, RoostField field) {
  switch (field) {
    case RF_COUNT: return &r->count;
    case RF_DIG: return &r->dig;
    case RF_SLIP_THRESHOLD: return &r->slip_threshold;
    case RF_SLOW_ANGLE: return &r->slow_angle;
    case RF_FAST_ANGLE: return &r->fast_angle;
    case RF_SLOW_SPEED: return &r->slow_speed;
    case RF_FAST_SPEED: return &r->fast_speed;
    case RF_SIZE: return &r->size;
    case RF_GROW: return &r->grow;
    case RF_DRAG: return &r->drag;
    case RF_VSCALE: return &r->vscale;
    case RF_RANDOMIZE: return &r->randomize;
    default: return nullptr;
  }
}

bool starts_with(const char* text, const char* prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

// Reads a number from the start of text; 0 and false when none is there. NaN
// and infinities count as no number: they would poison the particle maths.
bool read_number(const char* text, double* out) {
  char* end = nullptr;
  double v = strtod(text, &end);
  if (end == text || !std::isfinite(v)) {
    *out = 0.0;
    return false;
  }
  *out = v;
  return true;
}

void roost_apply_token(RoostType* r, const char* token, bool load_textures) {
  if (starts_with(token, "texture=")) {
    const char* name = token + 8;
    r->texture = load_textures ? texture_load(name) : 0;
    return;
  }
  if (starts_with(token, "splash=")) {
    double v;
    read_number(token + 7, &v);
    if (v != 0.0) r->kind = 2;
    return;
  }
  for (const RoostParam& p : ROOST_PARAMS) {
    if (!starts_with(token, p.prefix)) continue;
    const char* text = token + strlen(p.prefix);
    double v;
    if (!read_number(text, &v)) {
      // The warning names the parameter without its "=".
      print_messagef("tileinfo warning: bad %.*s\n", (int)strlen(p.prefix) - 1, p.prefix);
    }
    float* f = roost_float_field(r, p.field);
    if (f) {
      *f = (float)std::fmax(-FLT_MAX, std::fmin(FLT_MAX, v));
    } else if (p.field <= RF_A) {
      uint8_t byte = low_byte(v);
      if (p.field == RF_R) r->r = byte;
      if (p.field == RF_G) r->g = byte;
      if (p.field == RF_B) r->b = byte;
      if (p.field == RF_A) r->a = byte;
    } else {
      int8_t per_tick = (int8_t)low_byte(v * TICK_SECONDS);
      if (p.field == RF_FADE_R) r->fade_r = per_tick;
      if (p.field == RF_FADE_G) r->fade_g = per_tick;
      if (p.field == RF_FADE_B) r->fade_b = per_tick;
      if (p.field == RF_FADE_A) r->fade_a = per_tick;
    }
    return;
  }
  print_messagef("tileinfo warning: unknown roost parameter '%.40s'\n", token);
}

bool roost_separator(char c) {
  return c == ' ' || c == '\f' || c == '\n' || c == '\r' || c == '\t' || c == '\b';
}

// Splits value into tokens (double-quoted stretches kept whole, without their
// quotes) and applies each to r.
void roost_parse(RoostType* r, const char* value, bool load_textures) {
  char token[LINE_CHARS];
  const char* p = value;
  for (;;) {
    while (*p && roost_separator(*p)) p++;
    if (!*p) break;
    size_t n = 0;
    bool quoted = false;
    while (*p && (quoted || !roost_separator(*p))) {
      if (*p == '"') {
        quoted = !quoted;
      } else if (n + 1 < sizeof token) {
        token[n++] = *p;
      }
      p++;
    }
    token[n] = 0;
    roost_apply_token(r, token, load_textures);
  }
}

// ---------------------------------------------------------------- addtile

// Pairwise exchange sort of the first n points by speed, ascending (stable).
template <typename Swap>
void sort_points(float* speed, int32_t n, Swap swap_values) {
  for (int32_t pass = 0; pass + 1 < n; pass++) {
    for (int32_t i = 0; i + 1 < n - pass; i++) {
      if (speed[i] > speed[i + 1]) {
        float s = speed[i];
        speed[i] = speed[i + 1];
        speed[i + 1] = s;
        swap_values(i, i + 1);
      }
    }
  }
}

void add_tile(PendingTile* p, TileType* tiles, int32_t* count, bool load_textures) {
  TileType* t = &p->tile;
  sort_points(t->friction_speed, p->friction_count, [t](int32_t a, int32_t b) {
    float f = t->friction[a];
    t->friction[a] = t->friction[b];
    t->friction[b] = f;
  });
  sort_points(t->roll_resist_speed, p->roll_count, [t](int32_t a, int32_t b) {
    for (int k = 0; k < 2; k++) {
      float f = t->roll_resist[a][k];
      t->roll_resist[a][k] = t->roll_resist[b][k];
      t->roll_resist[b][k] = f;
    }
  });
  tiles[*count] = *t;  // the key moves to the new tile
  t->key = nullptr;
  (*count)++;
  pending_reset(p, load_textures);
}

// Splits a line into keyword and value; false for an empty line.
bool split_line(char* line, char** keyword, char** value) {
  char* p = line + strspn(line, " \t\r\n");
  if (!*p) return false;
  *keyword = p;
  p += strcspn(p, " \t\r\n");
  // Only blanks lead to a value: a keyword ended by "\r" or "\n" has none.
  char* v = p + strspn(p, " \t");
  v[strcspn(v, "\r\n")] = 0;
  *p = 0;
  *value = v;
  return true;
}

void read_erode(const char* name, const char* value, float* field) {
  float v;
  if (sscanf(value, "%f", &v) == 1 && std::isfinite(v)) {
    *field = v;
  } else {
    print_messagef("tileinfo warning: bad %s\n", name);
  }
}

}  // namespace

// ---------------------------------------------------------------- defaults

void roost_type_defaults(RoostType* roost, bool load_texture) {
  memset(roost, 0, sizeof *roost);
  roost->kind = 0;
  roost->texture = load_texture ? texture_load(ROOST_TEXTURE) : 0;
  roost->count = 10.0f;
  roost->dig = 1.0f;
  roost->slip_threshold = 4.0f;
  roost->slow_angle = 1.5707964f;
  roost->fast_angle = 0.19634955f;
  roost->slow_speed = 0.0f;
  roost->fast_speed = 64.0f;
  roost->size = 0.25f;
  roost->grow = 4.0f;
  roost->drag = 0.5f;
  roost->vscale = 1.0f;
  roost->randomize = 15.0f;
  roost->r = roost->g = roost->b = roost->a = 255;
  roost->fade_r = roost->fade_g = roost->fade_b = 0;
  roost->fade_a = -2;
}

void tile_type_defaults(TileType* tile, bool load_texture) {
  memset(tile, 0, sizeof *tile);
  for (int i = 0; i < TILE_MAX_POINTS; i++) {
    tile->friction[i] = 1.0f;
    tile->friction_speed[i] = 0.0f;
    tile->roll_resist[i][0] = 5.0f;
    tile->roll_resist[i][1] = 15.0f;
    tile->roll_resist_speed[i] = 0.0f;
  }
  tile->friction_speed[0] = 1.0f;
  tile->roll_resist_speed[0] = 1.0f;
  RoostType roost;
  roost_type_defaults(&roost, load_texture);
  for (int i = 0; i < TILE_MAX_ROOST; i++) tile->roost[i] = roost;
  tile->erode_depth = 1.0f;
  tile->erode_lower = 50.0f;
  tile->erode_upper = 150.0f;
  tile->erode_displacement = 2.0f;
  tile->erode_radius = 4.0f;
  tile->erode_max_slope = 0.25f;
  tile->erode_off_speed = 10.0f;
  tile->erode_on_speed = 15.0f;
}

void tile_set_image(TileType* tile, const char* name, bool software, bool load_textures) {
  mem_free((void*)tile->key);
  tile->key = mem_strdup(name);
  tile->texture = 0;
  tile->pixels = nullptr;
  tile->width = tile->height = tile->channels = 0;
  if (!load_textures) return;
  if (software) {
    uint8_t* pixels = nullptr;
    int32_t w = 0, h = 0, c = 0;
    if (image_load(name, &pixels, &w, &h, &c)) {
      tile->pixels = pixels;
      tile->width = w;
      tile->height = h;
      tile->channels = c;
    }
  } else {
    tile->texture = texture_load(name);
  }
}

// ---------------------------------------------------------------- tileinfo

void tileinfo_read(DataFile* file, TileType* tiles, int32_t* count, bool software,
                   bool load_textures) {
  if (*count < 0) *count = 0;
  PendingTile pending;
  pending_reset(&pending, load_textures);
  char line[LINE_CHARS];
  while (*count < TERRAIN_MAX_TILES && data_read_line(file, line, sizeof line)) {
    char *keyword, *value;
    if (!split_line(line, &keyword, &value)) continue;
    TileType* t = &pending.tile;
    if (strcmp(keyword, "texture") == 0) {
      tile_set_image(t, value, software, load_textures);
    } else if (strcmp(keyword, "friction") == 0) {
      float c, s;
      if (pending.friction_count >= TILE_MAX_POINTS) {
        print_message("tileinfo warning: too many friction points\n");
      } else if (sscanf(value, "%f %f", &c, &s) != 2 || !finite_all(c, s)) {
        print_message("tileinfo warning: bad friction parameters\n");
      } else {
        t->friction[pending.friction_count] = at_least(c, 0.0f);
        t->friction_speed[pending.friction_count] = at_least(s, TILE_MIN_POINT_SPEED);
        pending.friction_count++;
      }
    } else if (strcmp(keyword, "roll_resist") == 0) {
      float lo, hi, s;
      if (pending.roll_count >= TILE_MAX_POINTS) {
        print_message("tileinfo warning: too many roll_resist points\n");
      } else if (sscanf(value, "%f %f %f", &lo, &hi, &s) != 3 || !finite_all(lo, hi, s)) {
        print_message("tileinfo warning: bad roll_resist parameters\n");
      } else {
        t->roll_resist[pending.roll_count][0] = at_least(lo, 0.0f);
        t->roll_resist[pending.roll_count][1] = at_least(hi, 0.0f);
        t->roll_resist_speed[pending.roll_count] = at_least(s, TILE_MIN_POINT_SPEED);
        pending.roll_count++;
      }
    } else if (strcmp(keyword, "roost") == 0) {
      if (pending.roost_count >= TILE_MAX_ROOST) {
        print_message("tileinfo warning: too many roost types\n");
      } else {
        RoostType* r = &t->roost[pending.roost_count++];
        r->kind = 1;
        roost_parse(r, value, load_textures);
      }
    } else if (strcmp(keyword, "erode_depth") == 0) {
      read_erode(keyword, value, &t->erode_depth);
    } else if (strcmp(keyword, "erode_lower") == 0) {
      read_erode(keyword, value, &t->erode_lower);
    } else if (strcmp(keyword, "erode_upper") == 0) {
      read_erode(keyword, value, &t->erode_upper);
    } else if (strcmp(keyword, "erode_displacement") == 0) {
      read_erode(keyword, value, &t->erode_displacement);
    } else if (strcmp(keyword, "erode_radius") == 0) {
      read_erode(keyword, value, &t->erode_radius);
    } else if (strcmp(keyword, "erode_max_slope") == 0) {
      read_erode(keyword, value, &t->erode_max_slope);
    } else if (strcmp(keyword, "erode_off_speed") == 0) {
      read_erode(keyword, value, &t->erode_off_speed);
    } else if (strcmp(keyword, "erode_on_speed") == 0) {
      read_erode(keyword, value, &t->erode_on_speed);
    } else if (strcmp(keyword, "addtile") == 0) {
      add_tile(&pending, tiles, count, load_textures);
    } else {
      print_messagef("tileinfo warning: Unknown identifier '%.950s'\n", keyword);
    }
  }
  mem_free((void*)pending.tile.key);  // parameters after the last addtile
}

// ---------------------------------------------------------------- transition codes

const char* tile_transition_key(const char* name) {
  if (!name) return "";
  const char* slash = strrchr(name, '/');
  if (slash) return slash;
  return name[0] == '@' ? name + 1 : name;
}

namespace {

// Keys are compared without the "/" that starts a key taken from a path, so
// that names in a track directory find each other the same way bare names do.
const char* key_text(const TileType* tile) {
  const char* key = tile_transition_key(tile->key);
  return key[0] == '/' ? key + 1 : key;
}

// The first tile whose key starts with text[0..len) followed by ".", or -1.
int32_t find_tile_by_stem(const TileType* tiles, int32_t count, const char* text, size_t len) {
  for (int32_t i = 0; i < count; i++) {
    const char* key = key_text(&tiles[i]);
    if (strncmp(key, text, len) == 0 && strlen(key) > len && key[len] == '.') return i;
  }
  return -1;
}

uint32_t transition_code(const TileType* tiles, int32_t count, int32_t own) {
  uint32_t own_code = ((uint32_t)own << 16) | ((uint32_t)own << 8);
  const char* key = key_text(&tiles[own]);
  const char* dash = strchr(key, '-');
  if (!dash) return own_code;
  int32_t b = find_tile_by_stem(tiles, count, key, (size_t)(dash - key));
  if (b < 0) return own_code;
  const char* second = dash + 1;
  if (strncmp(second, "alt", 3) == 0 && second[3] >= '0' && second[3] <= '9') {
    return ((uint32_t)b << 16) | ((uint32_t)b << 8);
  }
  const char* dash2 = strchr(second, '-');
  if (!dash2) return 0xFFFFFF00u;
  int32_t k = find_tile_by_stem(tiles, count, second, (size_t)(dash2 - second));
  if (k < 0) return 0xFFFFFF00u;
  uint32_t code = ((uint32_t)b << 16) | ((uint32_t)k << 8);
  const char* m = dash2 + 1;
  uint32_t mask = 0;
  for (int i = 0; i < 4; i++) {
    if (m[i] != '0' && m[i] != '1') return code;
    mask = (mask << 1) | (uint32_t)(m[i] - '0');
  }
  return code | mask;
}

}  // namespace

void tiles_compute_transitions(TileType* tiles, int32_t count) {
  if (count > TERRAIN_MAX_TILES) count = TERRAIN_MAX_TILES;
  for (int32_t i = 0; i < count; i++) tiles[i].transition = transition_code(tiles, count, i);
}

// ---------------------------------------------------------------- loading

bool tiles_load(TileType* tiles, int32_t* count, const char* track_path, bool software) {
  *count = 0;
  char* name = join(track_path, "tileinfo");
  if (!name) fatal_out_of_memory();
  DataFile* file = data_open(name, "rb");
  if (file) {
    tileinfo_read(file, tiles, count, software, true);
    data_close(file);
    if (*count == 0) {
      print_messagef("No ground tiles defined in '%.950s'", name);
      mem_free(name);
      return false;
    }
  } else {
    mem_free(name);
    name = join(track_path, "texturelist");
    if (!name) fatal_out_of_memory();
    file = data_open(name, "rb");
    if (!file) {
      print_messagef("Can't open '%.950s'", name);
      mem_free(name);
      return false;
    }
    texturelist_read(file, tiles, count, software, true);
    data_close(file);
    if (*count == 0) {
      print_messagef("No ground tiles defined in '%.950s'", name);
      mem_free(name);
      return false;
    }
  }
  mem_free(name);
  tiles_compute_transitions(tiles, *count);
  return true;
}

void tiles_free(TileType* tiles, int32_t count) {
  if (!tiles) return;
  if (count > TERRAIN_MAX_TILES) count = TERRAIN_MAX_TILES;
  for (int32_t i = 0; i < count; i++) {
    mem_free((void*)tiles[i].key);
    tiles[i].key = nullptr;
    tiles[i].pixels = nullptr;
    tiles[i].texture = 0;
  }
}

// ---------------------------------------------------------------- lookups

float tile_type_friction(const TileType* tile, float s2) {
  const float* speed = tile->friction_speed;
  int i = 0;
  while (i < TILE_MAX_POINTS && speed[i] != 0.0f && s2 >= speed[i] * speed[i]) i++;
  if (i == 0) return tile->friction[0];
  if (i < TILE_MAX_POINTS && speed[i] != 0.0f) {
    float lo = speed[i - 1] * speed[i - 1];
    float hi = speed[i] * speed[i];
    float t = clamp01((s2 - lo) / (hi - lo));
    return tile->friction[i - 1] + t * (tile->friction[i] - tile->friction[i - 1]);
  }
  return tile->friction[i - 1];
}

void tile_type_roll_resist(const TileType* tile, float s, float* shallow, float* deep) {
  const float* speed = tile->roll_resist_speed;
  int i = 0;
  while (i < TILE_MAX_POINTS && speed[i] != 0.0f && s >= speed[i]) i++;
  if (i == 0) {
    *shallow = tile->roll_resist[0][0];
    *deep = tile->roll_resist[0][1];
    return;
  }
  const float* a = tile->roll_resist[i - 1];
  if (i < TILE_MAX_POINTS && speed[i] != 0.0f) {
    const float* b = tile->roll_resist[i];
    float t = clamp01((s - speed[i - 1]) / (speed[i] - speed[i - 1]));
    *shallow = a[0] + t * (b[0] - a[0]);
    *deep = a[1] + t * (b[1] - a[1]);
    return;
  }
  *shallow = a[0];
  *deep = a[1];
}

float tile_friction(int32_t tile, float s2) {
  if (tile < 0 || tile >= track.hf.tile_count || tile >= TERRAIN_MAX_TILES) return 1.0f;
  return tile_type_friction(&track.hf.tiles[tile], s2);
}

void tile_roll_resist(int32_t tile, float speed, float* shallow, float* deep) {
  if (tile < 0 || tile >= track.hf.tile_count || tile >= TERRAIN_MAX_TILES) {
    *shallow = 5.0f;
    *deep = 15.0f;
    return;
  }
  tile_type_roll_resist(&track.hf.tiles[tile], speed, shallow, deep);
}
