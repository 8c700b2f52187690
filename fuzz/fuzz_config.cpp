// Arbitrary bytes as the "config" file: reading must never fail, every value
// must stay within its range, and what the writer then emits must read back
// to the same file. A binding left with neither key nor axis is not written
// and so comes back as its default; only then may the second file differ.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/config.h"
#include "core/files.h"

static char home_config[512];

static bool prepare() {
  static char dir[] = "/tmp/rt_fuzz_config_XXXXXX";
  if (!mkdtemp(dir)) abort();
  setenv("XDG_DATA_HOME", dir, 1);
  setenv("RT_HOME", dir, 1);
  file_list_free();
  const char* home = home_dir();
  if (!home) abort();
  snprintf(home_config, sizeof home_config, "%sconfig", home);
  return true;
}

// The whole home "config" file (at most 1 MiB).
static size_t slurp(char* out, size_t size) {
  FILE* f = fopen(home_config, "rb");
  if (!f) abort();
  size_t n = fread(out, 1, size, f);
  fclose(f);
  return n;
}

static void check_ranges() {
  for (int32_t t = 0; t < 2; t++) {
    const ConfigKey* table = t ? SETUP_KEYS : CONFIG_KEYS;
    int32_t count = t ? SETUP_KEY_COUNT : CONFIG_KEY_COUNT;
    for (int32_t i = 0; i < count; i++) {
      const ConfigKey& k = table[i];
      if (k.kind == CONFIG_NUMBER) {
        double v = k.number->value;
        if (!(v >= k.number->min && v <= k.number->max)) abort();
      }
      if (k.kind == CONFIG_CHOICE && k.choice->count > 0 &&
          (k.choice->index < 0 || k.choice->index >= k.choice->count))
        abort();
      if (k.kind == CONFIG_TEXT && strlen(k.text->text) > (size_t)k.text->max_length) abort();
    }
  }
  if (!(settings.map_scale >= 0.125f && settings.map_scale <= 8.0f)) abort();
  for (const KeyBinding& b : settings.bindings)
    if (!std::isfinite(b.low) || !std::isfinite(b.high)) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = prepare();
  (void)ready;
  static char first[1 << 20], second[1 << 20], third[1 << 20];

  settings_init_defaults();
  DataFile* f = data_open_memory(data, size, false, false);
  if (!f) return 0;
  config_read_from(f);
  data_close(f);
  check_ranges();
  derive_runtime_settings();
  bool all_bound = true;
  for (const KeyBinding& b : settings.bindings) all_bound &= b.key_name || b.axis_name;

  config_write();
  size_t n1 = slurp(first, sizeof first);
  settings_init_defaults();
  config_read();
  check_ranges();
  config_write();
  size_t n2 = slurp(second, sizeof second);
  if (all_bound && (n1 != n2 || memcmp(first, second, n1) != 0)) abort();
  settings_init_defaults();
  config_read();
  config_write();
  size_t n3 = slurp(third, sizeof third);
  if (n2 != n3 || memcmp(second, third, n2) != 0) abort();
  return 0;
}
