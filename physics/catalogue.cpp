// Catalogue lookups, asset names, skin variants and number plates. The
// entries themselves are in catalogue_tables.cpp.
#include "physics/catalogue.h"

#include <cstdio>
#include <cstring>

#include "core/mem.h"
#include "core/messages.h"
#include "render/texture.h"

// ---------------------------------------------------------------- lookup

int32_t bike_catalogue_index(const char* name) {
  if (!name) return -1;
  int32_t found = -1;
  for (int32_t i = 0; i < BIKE_CATALOGUE_COUNT; i++)
    if (strcmp(bike_catalogue[i].name, name) == 0) found = i;
  return found;
}

const char* bike_model_current_name(const char* name) {
  static const char* const OLD_NAMES[] = {"crf250", "kx250f", "rmz250", "yz250f"};
  if (!name) return nullptr;
  for (const char* old : OLD_NAMES) {
    if (strcmp(name, old) == 0) {
      char mapped[32];
      snprintf(mapped, sizeof mapped, "%s(2008)", old);
      return intern_string(mapped);
    }
  }
  return intern_string(name);
}

const BikeInfo* find_bike_info(const char* name) {
  int32_t found = bike_catalogue_index(name);
  if (found >= 0) return &bike_catalogue[found];
  const char* requested = name ? name : "";
  const char* pattern = strstr(requested, "125") ? "125" : "250f";
  const BikeInfo* chosen = &bike_catalogue[0];
  for (int32_t i = 0; i < BIKE_CATALOGUE_COUNT; i++) {
    if (strstr(bike_catalogue[i].name, pattern)) {
      chosen = &bike_catalogue[i];
      break;
    }
  }
  print_messagef("bike info for '%.20s' not found using '%.20s' instead", requested, chosen->name);
  return chosen;
}

// ---------------------------------------------------------------- assets

const char* bike_model_name(const BikeInfo* info, BikeModelRole role) {
  if (!info) return nullptr;
  switch (role) {
    case MODEL_FRAME: return info->frame_model;
    case MODEL_FORK_UPPER: return info->fork_upper_model;
    case MODEL_FORK_LOWER: return info->fork_lower_model;
    case MODEL_SWINGARM: return info->swingarm_model;
    case MODEL_SIDE_PLATES: return info->side_plates_model;
    case MODEL_FRONT_PLATE: return info->front_plate_model;
    case MODEL_FRONT_WHEEL: return info->front_wheel_model;
    case MODEL_REAR_WHEEL: return info->rear_wheel_model;
    case MODEL_RIDER_BODY: return info->rider_body_model;
    case MODEL_RIDER_BODY_FP: return info->rider_body_fp_model;
    case MODEL_RIDER_PLATE: return info->rider_plate_model;
    case MODEL_RIDER_HEAD: return info->rider_head_model;
    default: return nullptr;
  }
}

const char* bike_shape_name(const BikeInfo* info, int32_t index) {
  if (!info) return nullptr;
  switch (index) {
    case 0: return info->frame_shape;
    case 1: return info->fork_upper_shape;
    case 2: return info->fork_lower_shape;
    case 3: return info->swingarm_shape;
    case 4: return info->front_wheel_shape;
    case 5: return info->rear_wheel_shape;
    case 6: return info->rider_shape;
    default: return nullptr;
  }
}

bool bike_model_base(const BikeInfo* info, char* out, int32_t size) {
  static const char SUFFIX[] = "_frame.jm";
  if (!info || !info->frame_model || !out || size <= 0) return false;
  const char* start = info->frame_model[0] == '@' ? info->frame_model + 1 : info->frame_model;
  size_t length = strlen(start);
  size_t suffix = sizeof SUFFIX - 1;
  if (length <= suffix || strcmp(start + length - suffix, SUFFIX) != 0) return false;
  size_t base = length - suffix;
  if (base + 1 > (size_t)size) return false;
  memcpy(out, start, base);
  out[base] = '\0';
  return true;
}

// ---------------------------------------------------------------- skins

char* skin_variant_name(const char* model, const char* skin) {
  if (!model || !skin) return nullptr;
  const char* slash = strrchr(model, '/');
  const char* file = slash ? slash + 1 : model;
  const char* cut = strchr(file, '-');
  if (!cut) cut = strrchr(file, '.');
  if (!cut) return nullptr;

  const char* skin_slash = strrchr(skin, '/');
  const char* skin_file = skin_slash ? skin_slash + 1 : skin;
  const char* first = strchr(skin_file, '-');
  if (!first) return nullptr;
  const char* second = strchr(first + 1, '-');
  if (!second) return nullptr;

  size_t head = (size_t)(cut - model);
  size_t label = (size_t)(second - first);
  char* out = (char*)mem_alloc(head + label + sizeof ".jm");
  if (!out) return nullptr;
  memcpy(out, model, head);
  memcpy(out + head, first, label);
  memcpy(out + head + label, ".jm", sizeof ".jm");
  return out;
}

char* skin_variant_in_skin_dir(const char* variant, const char* skin) {
  if (!variant || !skin) return nullptr;
  const char* skin_slash = strrchr(skin, '/');
  if (!skin_slash) return nullptr;
  const char* slash = strrchr(variant, '/');
  const char* file = slash ? slash + 1 : (variant[0] == '@' ? variant + 1 : variant);
  size_t dir = (size_t)(skin_slash + 1 - skin);
  size_t length = strlen(file);
  char* out = (char*)mem_alloc(dir + length + 1);
  if (!out) return nullptr;
  memcpy(out, skin, dir);
  memcpy(out + dir, file, length + 1);
  return out;
}

void* load_skinned_model(const char* model, const char* skin, bool quiet, ModelLoadFn load,
                         void* context) {
  if (!model || !load) return nullptr;
  char* variant = skin_variant_name(model, skin);
  if (!variant) {
    void* loaded = load(model, context);
    if (!loaded && !quiet) print_messagef("Warning: Can't load %.900s", model);
    return loaded;
  }
  void* loaded = load(variant, context);
  if (!loaded) {
    char* local = skin_variant_in_skin_dir(variant, skin);
    if (local) {
      loaded = load(local, context);
      if (!loaded && !quiet) print_messagef("Warning: Can't load %.450s or %.450s", variant, local);
      mem_free(local);
    } else if (!quiet) {
      print_messagef("Warning: Can't load %.900s", variant);
    }
  }
  mem_free(variant);
  return loaded;
}

// ---------------------------------------------------------------- number plates

namespace {

uint8_t colour_byte(float value) {
  // NaN reads as 0 as well.
  float clamped = value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;
  return (uint8_t)(clamped * 255.0f);
}

void read_colour(const char* comment, const char* marker, uint8_t out[3]) {
  const char* at = strstr(comment, marker);
  if (!at) return;
  float r, g, b;
  if (sscanf(at + strlen(marker), "%f,%f,%f", &r, &g, &b) != 3) return;
  out[0] = colour_byte(r);
  out[1] = colour_byte(g);
  out[2] = colour_byte(b);
}

}  // namespace

PlateColours plate_colours_from_comment(const char* comment) {
  PlateColours colours = {{255, 255, 255}, {0, 0, 0}};
  if (!comment) return colours;
  read_colour(comment, "[numberbackground:", colours.background);
  read_colour(comment, "[numberforeground:", colours.foreground);
  return colours;
}

PlateColours plate_colours_for_texture(uint32_t texture_id) {
  return plate_colours_from_comment(texture_id ? texture_info(texture_id) : nullptr);
}

void rider_number_text(const char* number, char out[RIDER_NUMBER_CHARS + 1]) {
  size_t length = number ? strnlen(number, RIDER_NUMBER_CHARS) : 0;
  if (length) memcpy(out, number, length);
  out[length] = '\0';
}

void plate_recolour(uint8_t* rgba, int32_t pixel_count, const PlateColours& colours) {
  if (!rgba) return;
  for (int32_t i = 0; i < pixel_count; i++) {
    uint8_t* px = rgba + (size_t)i * 4;
    for (int32_t c = 0; c < 3; c++) {
      int32_t fg = colours.foreground[c], bg = colours.background[c];
      px[c] = (uint8_t)(fg + (bg - fg) * (int32_t)px[c] / 255);
    }
  }
}
