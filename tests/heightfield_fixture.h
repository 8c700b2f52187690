// Fixture tracks and helpers shared by the height-field tests (terrain.hf
// with binary samples or terrain.png, shading, shadows, tilemap, decals and
// their buckets, the samples digest, the editor's save, and the height /
// normal / tile queries).
#pragma once

#include <gtest/gtest.h>
#include <nettle/ripemd160.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/files.h"
#include "core/messages.h"
#include "core/program.h"
#include "platform/log.h"
#include "render/image.h"
#include "tests/test_helpers.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace {

inline std::string ppm(int w, int h, const std::vector<uint8_t>& rgb) {
  return "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n" +
         std::string(rgb.begin(), rgb.end());
}

inline std::string pgm(int w, int h, const std::vector<uint8_t>& grey) {
  return "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n" +
         std::string(grey.begin(), grey.end());
}

inline std::string header(int n, float spacing, float min, float max) {
  char text[200];
  snprintf(text, sizeof text, "%d %f %f %f\n", n, spacing, min, max);
  return text;
}

inline std::string binary_heights(int n, float spacing, float min, float max,
                           const std::vector<uint16_t>& samples) {
  std::string out = header(n, spacing, min, max) + ":";
  for (uint16_t s : samples) {
    out += (char)(s & 0xFF);
    out += (char)(s >> 8);
  }
  return out;
}

inline std::string tileinfo(int count) {
  std::string out;
  for (int k = 0; k < count; k++) out += "friction 1 1\naddtile\n";
  return out;
}

int grid_of(int n) { return (1 << (n + 1)) + 1; }

// One fixture track directory written by the test, loaded by plain path.
struct TrackDir {
  TempDir dir;
  std::string path = dir.path + "/trk/";
  void put(const std::string& name, const std::string& content) {
    write_file(path + name, content);
  }
  std::string file(const std::string& name) const { return path + name; }
  // Everything a load needs: shadingx2 of grey 100, two tiles, tilemap of tile 1.
  void basics(int n) {
    int g = grid_of(n);
    put("shadingx2.ppm", ppm(g, g, std::vector<uint8_t>((size_t)g * g * 3, 100)));
    put("tileinfo", tileinfo(2));
    put("tilemap", std::string((size_t)1 << (2 * n), '\x01'));
  }
};

inline std::vector<uint16_t> random_samples(int count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint16_t> out(count);
  for (uint16_t& s : out) s = (uint16_t)(rng() & 0xFFFF);
  return out;
}

inline bool message_seen(const std::string& text) {
  for (int back = 0; back < 40; back++) {
    const char* line = message_history_line(message_history, back);
    if (line && text == line) return true;
  }
  return false;
}

// Clean message history, log into a file, hooks and verbosity at defaults.
struct HeightFieldTest : testing::Test {
  TempDir log_dir;
  ScopedEnv no_log_env{"VOLG_LOGFILE", nullptr};
  ScopedEnv no_log_flags{"VOLG_LOGFILE_FLAGS", nullptr};
  std::string log_path = log_dir.path + "/lastlog.txt";
  HeightField hf = {};
  void SetUp() override {
    message_history_clear(message_history);
    log_reset();
    log_printf("VOLG_LOGFILE=%s", log_path.c_str());
    terrain_render_hooks = {};
    debug_level = 0;
    derived.ground_texture_size = 64;
  }
  void TearDown() override {
    terrain_free(&hf);
    terrain_render_hooks = {};
    debug_level = 0;
    log_reset();
  }
  std::string log_text() { return read_file(log_path); }
  bool load(const TrackDir& t, int32_t method = 0) {
    return terrain_load(&hf, t.path.c_str(), method);
  }
};

using HeightFieldLoad = HeightFieldTest;
using HeightFieldQuery = HeightFieldTest;
using HeightFieldSave = HeightFieldTest;
using HeightFieldDecals = HeightFieldTest;

// A field built in memory: n, spacing 1, heights from a function of (i, j).
template <typename F>
void make_field(HeightField* hf, int n, float spacing, F height) {
  ASSERT_TRUE(hf_set_geometry(hf, n, spacing, 0, 1));
  int g = hf->grid_size;
  hf->heights = (float*)mem_alloc((size_t)g * g * sizeof(float));
  for (int j = 0; j < g; j++)
    for (int i = 0; i < g; i++) hf->heights[j * g + i] = height(i, j);
}

inline bool all_zero(const HeightField& hf) {
  const uint8_t* bytes = (const uint8_t*)&hf;
  for (size_t k = 0; k < sizeof hf; k++)
    if (bytes[k]) return false;
  return true;
}

}  // namespace
