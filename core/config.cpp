// Reading and writing the "config" file and bike set-up files, the setters
// with their value rules, the presets and the derived run-time values.
#include "core/config.h"
#include "physics/catalogue.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/files.h"
#include "core/mem.h"
#include "core/messages.h"

static const char* selected_track;
static void (*bike_hook)(const char* bike_name);

// ---------------------------------------------------------------- conversions

// "%d" reading: leading white space, optional sign, decimal digits; text after
// the number is ignored. Values beyond 32 bits saturate.
static bool parse_int(const char* text, int32_t* out) {
  char* end = nullptr;
  errno = 0;
  long long v = strtoll(text, &end, 10);
  if (end == text) return false;
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  *out = (int32_t)v;
  return true;
}

// "%f" reading. Not-a-number does not count as a conversion, so a setting
// never holds one; infinities are clamped by the caller.
static bool parse_real(const char* text, double* out) {
  char* end = nullptr;
  double v = strtod(text, &end);
  if (end == text || std::isnan(v)) return false;
  *out = v;
  return true;
}

static double clamp_real(double v, double lo, double hi) {
  if (!(v >= lo)) return lo;  // also catches NaN
  if (v > hi) return hi;
  return v;
}

// ---------------------------------------------------------------- setters

void number_assign(NumberSetting* s, double value) { s->value = clamp_real(value, s->min, s->max); }

bool number_set(NumberSetting* s, const char* text) {
  double v;
  if (!text || !parse_real(text, &v)) return false;
  number_assign(s, v);
  return true;
}

bool choice_set(ChoiceSetting* s, const char* text) {
  if (!text) return false;
  for (int32_t i = 0; i < s->count; i++) {
    if (strcmp(s->options[i], text) == 0) {
      s->index = i;
      return true;
    }
  }
  return false;
}

const char* choice_text(const ChoiceSetting* s) {
  if (!s->options || s->index < 0 || s->index >= s->count) return "";
  return s->options[s->index];
}

void choice_set_options(ChoiceSetting* s, const char* const* options, int32_t count) {
  const char* old =
      (s->options && s->index >= 0 && s->index < s->count) ? s->options[s->index] : nullptr;
  int32_t index = 0;
  if (count < 0 || !options) count = 0;
  for (int32_t i = 0; old && i < count; i++) {
    if (strcmp(options[i], old) == 0) {
      index = i;
      break;
    }
  }
  s->options = count ? options : nullptr;
  s->count = count;
  s->index = index;
}

// Copies at most max_length characters; a line break ends the text so the
// file keeps one value per line.
void text_set(TextSetting* s, const char* text) {
  if (!s->text) return;
  int32_t n = 0;
  if (text) {
    while (n < s->max_length && text[n] && text[n] != '\n' && text[n] != '\r') n++;
    memcpy(s->text, text, (size_t)n);
  }
  s->text[n] = '\0';
}

// Interned copy of a name up to its first line break, at most
// BINDING_NAME_MAX characters (device, key and axis names are far shorter);
// nullptr when empty.
static const char* binding_name(const char* text) {
  char name[BINDING_NAME_MAX + 1];
  size_t n = strcspn(text, "\r\n");
  if (n > (size_t)BINDING_NAME_MAX) n = BINDING_NAME_MAX;
  if (n == 0) return nullptr;
  memcpy(name, text, n);
  name[n] = '\0';
  return intern_string(name);
}

bool binding_set(KeyBinding* b, const char* value) {
  if (axis_valid(b->axis)) axis_close(b->axis);
  b->key_name = nullptr;
  b->key_code = 0;
  b->axis_name = nullptr;
  b->axis = AXIS_NONE;
  b->low = 0;
  b->high = 1;
  b->value = 0;
  if (!value) return false;
  while (isspace((unsigned char)*value)) value++;

  const char* close = strchr(value, ')');
  float low, high;
  if (value[0] == '(' && close && sscanf(value, "(%f,%f)", &low, &high) == 2 &&
      std::isfinite(low) && std::isfinite(high)) {
    b->low = low;
    b->high = high;
    b->axis_name = binding_name(close + 1);
    return b->axis_name != nullptr;
  }
  if (strncmp(value, "(k)", 3) == 0) value += 3;
  b->key_name = binding_name(value);
  return b->key_name != nullptr;
}

void binding_format(const KeyBinding* b, char* out, int32_t size) {
  if (size <= 0) return;
  out[0] = '\0';
  if (b->key_name && b->key_name[0]) {
    snprintf(out, (size_t)size, "(k)%s", b->key_name);
  } else if (b->axis_name && b->axis_name[0]) {
    snprintf(out, (size_t)size, "(%f,%f)%s", (double)b->low, (double)b->high, b->axis_name);
  }
}

// ---------------------------------------------------------------- defaults

static void key_init(const ConfigKey& k) {
  switch (k.kind) {
    case CONFIG_INT: *k.integer = (int32_t)k.def; break;
    case CONFIG_TRACK: settings.track = intern_string(DEFAULT_TRACK); break;
    case CONFIG_CHOICE: {
      ChoiceSetting* s = k.choice;
      s->label = k.label;
      s->options = k.options;
      s->count = k.options ? k.option_count : 0;
      s->index = 0;
      if (k.def_text) choice_set(s, k.def_text);
      break;
    }
    case CONFIG_NUMBER: {
      NumberSetting* s = k.number;
      s->label = k.label;
      s->min = k.min;
      s->max = k.max;
      s->step = k.step;
      s->value = k.def;
      break;
    }
    case CONFIG_TEXT:
      k.text->label = k.label;
      k.text->max_length = k.max_length;
      k.text->text = k.buffer;
      text_set(k.text, k.def_text);
      break;
    case CONFIG_MAP_SCALE: settings.map_scale = (float)k.def; break;
    case CONFIG_SLOTS:
      for (int32_t i = 0; i < GATE_SLOT_COUNT; i++) {
        snprintf(gate_labels[i], sizeof gate_labels[i], "Gate %d", (int)(i + 1));
        ChoiceSetting* s = &settings.slots[i];
        s->label = gate_labels[i];
        s->options = k.options;
        s->count = k.option_count;
        s->index = 0;
        choice_set(s, k.def_text);
      }
      break;
    case CONFIG_SETUP:
      for (int32_t i = 0; i < SETUP_KEY_COUNT; i++) key_init(SETUP_KEYS[i]);
      break;
    case CONFIG_HISTORY:
      for (int32_t i = 0; i < SERVER_HISTORY_COUNT; i++) {
        TextSetting* s = &settings.server_name_hist[i];
        s->label = "Server";
        s->max_length = k.max_length;
        s->text = server_history_buffers[i];
        s->text[0] = '\0';
      }
      break;
  }
}

void settings_init_defaults() {
  for (int32_t i = 0; i < CONFIG_KEY_COUNT; i++) key_init(CONFIG_KEYS[i]);
  for (int32_t i = 0; i < BINDING_COUNT; i++) {
    KeyBinding* b = &settings.bindings[i];
    b->label = BINDING_KEYS[i].label;
    b->axis = AXIS_NONE;  // a fresh record holds no open handle
    binding_set(b, BINDING_KEYS[i].def);
  }
  selected_track = nullptr;
  apply_graphics_preset(0);
  apply_stability_preset(100);
  derive_runtime_settings();
}

void config_set_selected_track(const char* name) {
  selected_track = (name && *name) ? intern_string(name) : nullptr;
}

void config_set_bike_hook(void (*hook)(const char* bike_name)) { bike_hook = hook; }

// ---------------------------------------------------------------- set-up keys

static bool bike_set(const char* value) {
  value = bike_model_current_name(value);
  if (!value || !choice_set(&settings.bike, value)) return false;
  if (bike_hook) bike_hook(choice_text(&settings.bike));
  settings.bike_texture.index = 0;
  return true;
}

bool setup_key_set(const char* key, const char* value) {
  for (int32_t i = 0; i < SETUP_KEY_COUNT; i++) {
    const ConfigKey& k = SETUP_KEYS[i];
    if (strcmp(k.key, key) != 0) continue;
    if (k.choice == &settings.bike) {
      bike_set(value);
    } else if (k.kind == CONFIG_CHOICE) {
      choice_set(k.choice, value);
    } else if (k.kind == CONFIG_TEXT) {
      text_set(k.text, value);
    } else if (k.kind == CONFIG_NUMBER) {
      // The aids that follow "stability" in a file override its preset.
      if (number_set(k.number, value) && k.number == &settings.stability)
        apply_stability_preset(settings.stability.value);
    }
    return true;
  }
  return false;
}

// A text value up to its first line break.
static void write_pair(DataFile* file, const char* key, const char* value) {
  data_printf(file, "%s=%.*s\n", key, (int)strcspn(value, "\r\n"), value);
}

static void write_key(DataFile* file, const ConfigKey& k) {
  switch (k.kind) {
    case CONFIG_INT: data_printf(file, "%s=%d\n", k.key, (int)*k.integer); break;
    case CONFIG_TRACK: {
      const char* name = selected_track ? selected_track : settings.track;
      write_pair(file, k.key, name ? name : DEFAULT_TRACK);
      break;
    }
    case CONFIG_CHOICE: write_pair(file, k.key, choice_text(k.choice)); break;
    case CONFIG_NUMBER: data_printf(file, "%s=%f\n", k.key, k.number->value); break;
    case CONFIG_TEXT: write_pair(file, k.key, k.text->text ? k.text->text : ""); break;
    case CONFIG_MAP_SCALE: data_printf(file, "%s=%f\n", k.key, (double)settings.map_scale); break;
    case CONFIG_SLOTS:
      for (int32_t i = 0; i < GATE_SLOT_COUNT; i++)
        data_printf(file, "slot%02d=%s\n", (int)i, choice_text(&settings.slots[i]));
      break;
    case CONFIG_SETUP: setup_write(file); break;
    case CONFIG_HISTORY:
      for (int32_t i = 0; i < SERVER_HISTORY_COUNT; i++) {
        const char* text = settings.server_name_hist[i].text;
        data_printf(file, "server_name_hist%02d=%s\n", (int)i, text ? text : "");
      }
      break;
  }
}

void setup_write(DataFile* file) {
  for (int32_t i = 0; i < SETUP_KEY_COUNT; i++) write_key(file, SETUP_KEYS[i]);
}

// ---------------------------------------------------------------- reading

// "<prefix>NN" with exactly two digits below limit; the number or -1.
static int32_t numbered_key(const char* key, const char* prefix, int32_t limit) {
  size_t n = strlen(prefix);
  if (strncmp(key, prefix, n) != 0) return -1;
  key += n;
  if (!isdigit((unsigned char)key[0]) || !isdigit((unsigned char)key[1]) || key[2]) return -1;
  int32_t v = (key[0] - '0') * 10 + (key[1] - '0');
  return v < limit ? v : -1;
}

static void config_key_set(const char* key, const char* value) {
  if (strcmp(key, "ground_texture_distance") == 0) return;
  if (strcmp(key, "use_fbo") == 0) {
    if (strcmp(value, "Yes") == 0) settings.render_texture.index = RENDER_HARDWARE_DIRECT;
    if (strcmp(value, "No") == 0) settings.render_texture.index = RENDER_HARDWARE_COPY;
    return;
  }
  int32_t n = numbered_key(key, "slot", GATE_SLOT_COUNT);
  if (n >= 0) {
    choice_set(&settings.slots[n], value);
    return;
  }
  n = numbered_key(key, "server_name_hist", SERVER_HISTORY_COUNT);
  if (n >= 0) {
    if (strlen(value) < 127) text_set(&settings.server_name_hist[n], value);
    return;
  }
  for (int32_t i = 0; i < BINDING_COUNT; i++) {
    if (strcmp(BINDING_KEYS[i].key, key) == 0) {
      binding_set(&settings.bindings[i], value);
      return;
    }
  }
  for (int32_t i = 0; i < CONFIG_KEY_COUNT; i++) {
    const ConfigKey& k = CONFIG_KEYS[i];
    if (strcmp(k.key, key) != 0) continue;
    switch (k.kind) {
      case CONFIG_INT: parse_int(value, k.integer); break;
      case CONFIG_TRACK: {
        size_t n = strcspn(value, "\r\n");
        if (n > 0 && n < 1024) {
          char name[1024];
          memcpy(name, value, n);
          name[n] = '\0';
          settings.track = intern_string(name);
        }
        break;
      }
      case CONFIG_CHOICE: choice_set(k.choice, value); break;
      case CONFIG_NUMBER: number_set(k.number, value); break;
      case CONFIG_TEXT: text_set(k.text, value); break;
      case CONFIG_MAP_SCALE: {
        double v;
        if (parse_real(value, &v)) settings.map_scale = (float)clamp_real(v, k.min, k.max);
        break;
      }
      default: break;
    }
    return;
  }
}

// Reads "key=value" lines into handler. A line longer than the buffer is
// taken by its first part; the rest of it is skipped rather than read as
// lines of its own.
static void read_pairs(DataFile* file, bool (*handler)(const char* key, const char* value)) {
  char line[1024];
  bool continuing = false;
  while (data_read_line(file, line, (int)sizeof line)) {
    size_t len = strlen(line);
    bool skip = continuing;
    continuing = len == sizeof line - 1 && line[len - 1] != '\n';
    if (skip) continue;
    char* eq = strchr(line, '=');
    if (!eq) continue;
    *eq = '\0';
    char* value = eq + 1;
    size_t vlen = strlen(value);
    while (vlen > 0 && (value[vlen - 1] == '\n' || value[vlen - 1] == '\r')) value[--vlen] = '\0';
    handler(line, value);
  }
}

static bool config_pair(const char* key, const char* value) {
  if (!setup_key_set(key, value)) config_key_set(key, value);
  return true;
}

void config_read_from(DataFile* file) {
  if (file) read_pairs(file, config_pair);
}

void config_read() {
  DataFile* file = data_open("@config", "r");
  if (!file) return;
  config_read_from(file);
  data_close(file);
}

// ---------------------------------------------------------------- writing

void config_write_to(DataFile* file) {
  for (int32_t i = 0; i < CONFIG_KEY_COUNT; i++) write_key(file, CONFIG_KEYS[i]);
  char text[1100];
  for (int32_t i = 0; i < BINDING_COUNT; i++) {
    binding_format(&settings.bindings[i], text, (int32_t)sizeof text);
    if (text[0]) write_pair(file, BINDING_KEYS[i].key, text);
  }
}

void config_write() {
  DataFile* file = data_open("@config", "w");
  if (!file) return;
  config_write_to(file);
  data_close(file);
}

// ---------------------------------------------------------------- set-up files

static DataFile* setup_open(const char* name, const char* mode) {
  if (!name || !*name) return nullptr;
  char* path = join("@setups/", name);
  if (!path) return nullptr;
  DataFile* file = data_open(path, mode);
  mem_free(path);
  return file;
}

bool setup_file_read(const char* name) {
  DataFile* file = setup_open(name, "r");
  if (!file) {
    print_message("Error reading setup");
    return false;
  }
  read_pairs(file, setup_key_set);
  data_close(file);
  print_message("Setup updated");
  return true;
}

bool setup_file_write(const char* name) {
  DataFile* file = setup_open(name, "w");
  if (!file) {
    print_message("Error writing setup");
    return false;
  }
  setup_write(file);
  data_close(file);
  print_message("Setup written");
  return true;
}

// ---------------------------------------------------------------- presets

void apply_stability_preset(double stability) {
  double x = clamp_real(stability * 5.0 / 100.0, 0, 5);
  int i = (int)floor(x);
  if (i > 4) i = 4;
  double f = x - i;
  for (int32_t r = 0; r < STABILITY_PRESET_ROW_COUNT; r++) {
    const double* row = STABILITY_PRESETS[r].row;
    number_assign(STABILITY_PRESETS[r].setting, row[i] + f * (row[i + 1] - row[i]));
  }
}

void apply_graphics_preset(int column) {
  if (column < 0 || column >= GRAPHICS_PRESET_COUNT) return;
  for (int32_t r = 0; r < GRAPHICS_PRESET_ROW_COUNT; r++) {
    const GraphicsPresetRow& row = GRAPHICS_PRESETS[r];
    if (row.number) number_assign(row.number, row.values[column]);
    if (row.choice) choice_set(row.choice, row.texts[column]);
  }
}

int graphics_preset_current() {
  for (int column = 0; column < GRAPHICS_PRESET_COUNT; column++) {
    bool all = true;
    for (int32_t r = 0; r < GRAPHICS_PRESET_ROW_COUNT && all; r++) {
      const GraphicsPresetRow& row = GRAPHICS_PRESETS[r];
      if (row.number) all = row.number->value == row.values[column];
      if (row.choice) all = strcmp(choice_text(row.choice), row.texts[column]) == 0;
    }
    if (all) return column;
  }
  return -1;
}

const char* graphics_preset_name(int column) {
  if (column < 0 || column >= GRAPHICS_PRESET_COUNT) return "Custom";
  return GRAPHICS_PRESET_NAMES[column];
}

// ---------------------------------------------------------------- derived values

void derive_runtime_settings() {
  double gd = settings.ground_detail.value;
  derived.terrain_detail = gd > 0 ? 0.125 / gd : HUGE_VAL;
  derived.ground_levels_skipped =
      (int32_t)clamp_real(10 - settings.ground_texture_detail.value, 0, 10);
  int32_t dim = settings.ground_texture_dim.index;
  if (dim < 0) dim = 0;
  if (dim > 5) dim = 5;
  derived.ground_texture_size = 32 << dim;
  derived.model_levels_skipped =
      (int32_t)clamp_real(10 - settings.model_texture_detail.value, 0, 10);
  double md = settings.model_detail.value;
  double s = 0.02 * clamp_real(100 - md, 0, 100);
  derived.lod_scale = s > 1 ? s * s * s : s;
  derived.lod_bias = 50 - 50 * clamp_real(0.05 * (md - 10), 0, 1);
  derived.texture_compress_mode = settings.texture_compress.index;
  derived.roost_rate = (int32_t)settings.roost_density.value;
  derived.reflections = settings.reflections.index;
}

// ---------------------------------------------------------------- server history

void server_history_push(const char* name) {
  if (!name || !*name) return;
  // Compare in the form the history would store.
  char entry[SERVER_HISTORY_NAME_MAX + 1];
  TextSetting cut = {nullptr, SERVER_HISTORY_NAME_MAX, entry};
  text_set(&cut, name);
  if (!entry[0] || strcmp(settings.server_name_hist[0].text, entry) == 0) return;
  for (int32_t i = SERVER_HISTORY_COUNT - 1; i > 0; i--)
    text_set(&settings.server_name_hist[i], settings.server_name_hist[i - 1].text);
  text_set(&settings.server_name_hist[0], entry);
}
