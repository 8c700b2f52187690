// The older "texturelist" file: one tile per line, optionally led by its
// friction coefficient and shallow and deep rolling resistance.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/files.h"
#include "core/mem.h"
#include "track/tiles.h"

namespace {

constexpr int LINE_CHARS = 1024;

// Negative values become 0; NaN and infinities keep the default.
float sane(float value, float fallback) {
  if (!std::isfinite(value)) return fallback;
  return value > 0.0f ? value : 0.0f;
}

}  // namespace

void texturelist_read(DataFile* file, TileType* tiles, int32_t* count, bool software,
                      bool load_textures) {
  if (*count < 0) *count = 0;
  char line[LINE_CHARS];
  char name[LINE_CHARS + 1];
  while (*count < TERRAIN_MAX_TILES && data_read_line(file, line, sizeof line)) {
    char* p = line + strspn(line, " \t\r\n\f\v");
    if (!*p) continue;
    // The line ends at its "\n"; a "\r" before it is part of the line break too.
    size_t end = strlen(p);
    while (end > 0 && (p[end - 1] == '\n' || p[end - 1] == '\r')) p[--end] = 0;

    float friction = 1.0f, shallow = 5.0f, deep = 15.0f;
    const char* image = p;
    int used = 0;
    if (sscanf(p, "%f %f %f%n", &friction, &shallow, &deep, &used) == 3 && used > 0) {
      image = p + used;
      image += strspn(image, " \t\r\n\f\v");
    } else {
      friction = 1.0f;
      shallow = 5.0f;
      deep = 15.0f;
    }
    snprintf(name, sizeof name, "@%s", image);

    TileType* tile = &tiles[*count];
    tile_type_defaults(tile, load_textures);
    tile->friction[0] = sane(friction, 1.0f);
    tile->roll_resist[0][0] = sane(shallow, 5.0f);
    tile->roll_resist[0][1] = sane(deep, 15.0f);
    tile->roost[0].kind = 1;
    tile_set_image(tile, name, software, load_textures);
    (*count)++;
  }
}
