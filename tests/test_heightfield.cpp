// The height field: terrain.hf with binary samples or terrain.png, shading,
// shadows, tilemap, decals and their buckets, the samples digest, the
// editor's save, and the height / normal / tile queries.
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

std::string ppm(int w, int h, const std::vector<uint8_t>& rgb) {
  return "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n" +
         std::string(rgb.begin(), rgb.end());
}

std::string pgm(int w, int h, const std::vector<uint8_t>& grey) {
  return "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n" +
         std::string(grey.begin(), grey.end());
}

std::string header(int n, float spacing, float min, float max) {
  char text[200];
  snprintf(text, sizeof text, "%d %f %f %f\n", n, spacing, min, max);
  return text;
}

std::string binary_heights(int n, float spacing, float min, float max,
                           const std::vector<uint16_t>& samples) {
  std::string out = header(n, spacing, min, max) + ":";
  for (uint16_t s : samples) {
    out += (char)(s & 0xFF);
    out += (char)(s >> 8);
  }
  return out;
}

std::string tileinfo(int count) {
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

std::vector<uint16_t> random_samples(int count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint16_t> out(count);
  for (uint16_t& s : out) s = (uint16_t)(rng() & 0xFFFF);
  return out;
}

bool message_seen(const std::string& text) {
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

bool all_zero(const HeightField& hf) {
  const uint8_t* bytes = (const uint8_t*)&hf;
  for (size_t k = 0; k < sizeof hf; k++)
    if (bytes[k]) return false;
  return true;
}

}  // namespace

// ---------------------------------------------------------------- terrain.hf

TEST_F(HeightFieldLoad, HeaderWithoutColonAndNoPngGivesFlatFieldAtMinimum) {
  TrackDir t;
  t.put("terrain.hf", header(10, 0.5f, -20, 40));
  t.basics(10);
  ASSERT_TRUE(load(t));
  EXPECT_EQ(hf.size_log2, 10);
  EXPECT_EQ(hf.grid_size, 2049);
  EXPECT_FLOAT_EQ(hf.spacing, 0.5f);
  EXPECT_FLOAT_EQ(hf.tile_size, 1.0f);
  EXPECT_FLOAT_EQ(hf.world_size, 1024.0f);
  EXPECT_FLOAT_EQ(hf.min_height, -20.0f);
  EXPECT_FLOAT_EQ(hf.max_height, 40.0f);
  size_t count = 2049u * 2049u;
  size_t off = 0;
  for (size_t k = 0; k < count; k++)
    if (hf.heights[k] != -20.0f) off++;
  EXPECT_EQ(off, 0u);
  EXPECT_EQ(hf_height_at(&hf, 512.3f, 700.9f), -20.0f);
  EXPECT_EQ(hf_tile_at(&hf, 1023.9f, 1023.9f), 1);
  EXPECT_TRUE(message_seen("Terrain texture rendering with TexSubImage"));
  // The stages run in their order, each announced in the log.
  std::string log = log_text();
  size_t at = 0;
  for (const char* stage :
       {"Loading terrain", "Terrain texture rendering with TexSubImage", "Loading shading",
        "Loading shadows", "Loading tileinfo", "Loading tilemap"}) {
    size_t found = log.find(std::string("] ") + stage + "\n", at);
    ASSERT_NE(found, std::string::npos) << stage;
    at = found;
  }
}

TEST_F(HeightFieldLoad, BinarySamplesAreRowMajorAndExactAtBothEnds) {
  TrackDir t;
  const int n = 2, g = grid_of(n);
  std::vector<uint16_t> samples = random_samples(g * g, 7);
  samples[0] = 0;
  samples[1] = 65535;          // (1, 0)
  samples[g * 3 + 2] = 65535;  // (2, 3)
  samples[g * g - 1] = 0;
  t.put("terrain.hf", binary_heights(n, 2.0f, -3.25f, 17.5f, samples));
  t.basics(n);
  ASSERT_TRUE(load(t));
  EXPECT_EQ(hf.heights[0], -3.25f);
  EXPECT_EQ(hf.heights[1], 17.5f);
  EXPECT_EQ(hf.heights[g * 3 + 2], 17.5f);
  EXPECT_EQ(hf.heights[g * g - 1], -3.25f);
  for (int k = 0; k < g * g; k++)
    EXPECT_NEAR(hf.heights[k], -3.25 + samples[k] * (20.75 / 65535.0), 1e-5) << k;
  EXPECT_EQ(hf_sample(&hf, 2, 3), 17.5f);  // x = column 2, z = row 3
}

TEST_F(HeightFieldLoad, ShortBinarySectionFillsTheRestWithMinimumHeight) {
  TrackDir t;
  const int n = 1, g = grid_of(n);
  std::vector<uint16_t> samples(10, 65535);
  std::string file = binary_heights(n, 1, 5, 6, samples) + "\x01";  // plus half a sample
  t.put("terrain.hf", file);
  t.basics(n);
  ASSERT_TRUE(load(t));
  for (int k = 0; k < g * g; k++) EXPECT_EQ(hf.heights[k], k < 10 ? 6.0f : 5.0f) << k;
  EXPECT_NE(log_text().find("Height data ends after 10 of 25 samples"), std::string::npos);
}

TEST_F(HeightFieldLoad, PngHeightsRepeatTheLastRowAndColumnAndUnreadableIsFlat) {
  TrackDir t;
  const int n = 1, g = grid_of(n);  // 5 x 5 grid
  const int w = 3, h = 2;
  std::vector<uint16_t> png = {0, 1000, 2000, 30000, 40000, 65535};
  ASSERT_TRUE(image_write_png_grey16(t.file("terrain.png").c_str(), png.data(), w, h));
  t.put("terrain.hf", header(n, 1, 0, 65535));
  t.basics(n);
  ASSERT_TRUE(load(t));
  for (int j = 0; j < g; j++)
    for (int i = 0; i < g; i++) {
      int row = j < h ? j : h - 1, column = i < w ? i : w - 1;
      EXPECT_FLOAT_EQ(hf.heights[j * g + i], (float)png[row * w + column]) << i << "," << j;
    }
  terrain_free(&hf);
  {
    TrackDir t;
    t.put("terrain.png", "not a png at all");
    t.put("terrain.hf", header(1, 1, 2.5f, 9));
    t.basics(1);
    ASSERT_TRUE(load(t));
    for (int k = 0; k < 25; k++) EXPECT_EQ(hf.heights[k], 2.5f);
  }
}

TEST_F(HeightFieldLoad, DigestOfTheSamplesIsLoggedAtVerbosityTwoOnly) {
  const int n = 1, g = grid_of(n);
  std::vector<uint16_t> samples = random_samples(g * g, 11);
  std::string bytes;
  for (uint16_t s : samples) bytes += {(char)(s & 0xFF), (char)(s >> 8)};
  ripemd160_ctx ctx;
  ripemd160_init(&ctx);
  ripemd160_update(&ctx, bytes.size(), (const uint8_t*)bytes.data());
  uint8_t digest[20];
  ripemd160_digest(&ctx, 20, digest);
  char hex[41];
  for (int k = 0; k < 20; k++) snprintf(hex + 2 * k, 3, "%02x", digest[k]);

  for (int level : {1, 2}) {
    TrackDir t;
    t.put("terrain.hf", binary_heights(n, 1, 0, 1, samples));
    t.basics(n);
    debug_level = level;
    ASSERT_TRUE(load(t));
    EXPECT_EQ(memcmp(hf.samples_digest, digest, 20), 0);
    bool logged = log_text().find(std::string("] ") + hex + "\n") != std::string::npos;
    EXPECT_EQ(logged, level == 2) << level;
    for (const char* when : {"before ground tiles loaded", "after ground tiles loaded",
                             "after low detail ground textures"})
      EXPECT_NE(log_text().find(std::string(" bytes texture memory used ") + when + "\n"),
                std::string::npos)
          << when;
    terrain_free(&hf);
  }
  // From terrain.png the digest covers the grid's samples, not the image's.
  TrackDir t;
  std::vector<uint16_t> image = {0x0103, 0x0103, 0x0103, 0x0103};  // 2 x 2, repeated over 5 x 5
  ASSERT_TRUE(image_write_png_grey16(t.file("terrain.png").c_str(), image.data(), 2, 2));
  t.put("terrain.hf", header(n, 1, 0, 1));
  t.basics(n);
  ASSERT_TRUE(load(t));
  ripemd160_init(&ctx);
  std::string grid((size_t)g * g * 2, '\x01');
  for (size_t k = 0; k < grid.size(); k += 2) grid[k] = '\x03';
  ripemd160_update(&ctx, grid.size(), (const uint8_t*)grid.data());
  ripemd160_digest(&ctx, 20, digest);
  EXPECT_EQ(memcmp(hf.samples_digest, digest, 20), 0);
}

TEST_F(HeightFieldLoad, BadHeaderFailsWithBothMessagesAndLeavesTheRecordEmpty) {
  const char* headers[] = {
      "",
      "abc\n",
      "2 1.0 0\n",
      "13 1 0 1\n",
      "-1 1 0 1\n",
      "2 0 0 1\n",
      "2 -1 0 1\n",
      "2 nan 0 1\n",
      "2 1 inf 1\n",
      "2 1 0 -inf :",
      "2 1e38 0 1\n",
      "2 1 -3e38 3e38\n",
  };
  for (const char* text : headers) {
    TrackDir t;
    t.put("terrain.hf", text);
    t.basics(2);
    message_history_clear(message_history);
    EXPECT_FALSE(load(t)) << text;
    EXPECT_STREQ(message_history_line(message_history, 1), "Bad height field parameters") << text;
    EXPECT_STREQ(message_history_line(message_history, 0), "Error reading heights") << text;
    EXPECT_TRUE(all_zero(hf)) << text;
  }
}

TEST_F(HeightFieldLoad, MissingRequiredFilesNameTheirFullPath) {
  struct Case {
    const char* missing;
    const char* reported;
  } cases[] = {
      {"terrain.hf", "terrain.hf"},
      {"tilemap", "tilemap"},
      {"shadingx2.ppm", "shading.ppm"},  // with neither shading file
  };
  for (const Case& c : cases) {
    TrackDir t;
    t.put("terrain.hf", header(1, 1, 0, 1));
    t.basics(1);
    ASSERT_EQ(remove(t.file(c.missing).c_str()), 0);
    message_history_clear(message_history);
    EXPECT_FALSE(load(t)) << c.missing;
    EXPECT_TRUE(message_seen("Can't open '" + t.path + c.reported + "'")) << c.missing;
    EXPECT_TRUE(all_zero(hf));
  }
}

// ---------------------------------------------------------------- shading and shadows

TEST_F(HeightFieldLoad, ShadingX2IsKeptAndShadingPpmIsHalved) {
  const int n = 1, g = grid_of(n);
  std::vector<uint8_t> rgb((size_t)g * g * 3);
  for (size_t k = 0; k < rgb.size(); k++) rgb[k] = (uint8_t)(k * 37 + 1);
  rgb[0] = 255;
  rgb[1] = 1;
  for (bool x2 : {true, false}) {
    TrackDir t;
    t.put("terrain.hf", header(n, 1, 0, 1));
    t.basics(n);
    ASSERT_EQ(remove(t.file("shadingx2.ppm").c_str()), 0);
    t.put(x2 ? "shadingx2.ppm" : "shading.ppm", ppm(g, g, rgb));
    ASSERT_TRUE(load(t));
    for (size_t k = 0; k < rgb.size(); k++)
      ASSERT_EQ(hf.shading[k], x2 ? rgb[k] : rgb[k] >> 1) << k << " x2=" << x2;
    terrain_free(&hf);
  }
  // shadingx2.ppm wins over shading.ppm.
  TrackDir t;
  t.put("terrain.hf", header(n, 1, 0, 1));
  t.basics(n);
  t.put("shading.ppm", ppm(g, g, rgb));
  ASSERT_TRUE(load(t));
  EXPECT_EQ(hf.shading[0], 100);
}

TEST_F(HeightFieldLoad, ShadingOfTheWrongSizeOrUnreadableFailsTheLoad) {
  struct Case {
    const char* name;
    std::string content;
    const char* message;
  } cases[] = {
      {"shadingx2.ppm", ppm(3, 3, std::vector<uint8_t>(27, 1)), "Bad shading dimensions (3x3)"},
      {"shading.ppm", ppm(5, 4, std::vector<uint8_t>(60, 1)), "Bad shading dimensions (5x4)"},
      {"shadingx2.ppm", "P6\n5 5\n255\nshort", "Error reading shading"},
      {"shading.ppm", "garbage", "Error reading shading"},
  };
  for (const Case& c : cases) {
    TrackDir t;
    t.put("terrain.hf", header(1, 1, 0, 1));
    t.basics(1);
    ASSERT_EQ(remove(t.file("shadingx2.ppm").c_str()), 0);
    t.put(c.name, c.content);
    message_history_clear(message_history);
    EXPECT_FALSE(load(t)) << c.message;
    EXPECT_TRUE(message_seen(c.message)) << c.message;
    EXPECT_TRUE(all_zero(hf));
  }
}

TEST_F(HeightFieldLoad, ShadowsAreStoredInvertedMissingMeansLitBadOnesFail) {
  const int n = 1, g = grid_of(n);
  std::vector<uint8_t> light((size_t)g * g);
  for (size_t k = 0; k < light.size(); k++) light[k] = (uint8_t)(k * 10);
  TrackDir t;
  t.put("terrain.hf", header(n, 1, 0, 1));
  t.basics(n);
  ASSERT_TRUE(load(t));
  for (size_t k = 0; k < light.size(); k++) ASSERT_EQ(hf.shadow[k], 0);
  terrain_free(&hf);
  t.put("shadows.pgm", pgm(g, g, light));
  ASSERT_TRUE(load(t));
  for (size_t k = 0; k < light.size(); k++) ASSERT_EQ(hf.shadow[k], 255 - light[k]) << k;
  terrain_free(&hf);
  {
    TrackDir t;
    t.put("terrain.hf", header(1, 1, 0, 1));
    t.basics(1);
    t.put("shadows.pgm", pgm(5, 6, std::vector<uint8_t>(30, 9)));
    EXPECT_FALSE(load(t));
    EXPECT_NE(log_text().find("Bad shadow dimensions (5x6)\n"), std::string::npos);
    EXPECT_FALSE(message_seen("Bad shadow dimensions (5x6)"));
    t.put("shadows.pgm", "P5\n5 5\n255\nxy");
    EXPECT_FALSE(load(t));
    EXPECT_TRUE(message_seen("Error reading shadows"));
    EXPECT_TRUE(all_zero(hf));
  }
}

// ---------------------------------------------------------------- tilemap

TEST_F(HeightFieldLoad, TilemapClampsToTheLastTileAndAShortFileLeavesTileZero) {
  TrackDir t;
  t.put("terrain.hf", header(2, 1, 0, 1));
  t.basics(2);
  t.put("tileinfo", tileinfo(3));
  std::string map(16, '\0');
  const uint8_t bytes[16] = {0, 1, 2, 3, 4, 200, 255, 1, 0, 2, 2, 9, 0, 0, 1, 128};
  memcpy(&map[0], bytes, 16);
  t.put("tilemap", map);
  ASSERT_TRUE(load(t));
  EXPECT_EQ(hf.tile_count, 3);
  for (int k = 0; k < 16; k++) EXPECT_EQ(hf.tilemap[k], bytes[k] > 2 ? 2 : bytes[k]) << k;
  terrain_free(&hf);
  {
    TrackDir t;
    t.put("terrain.hf", header(2, 1, 0, 1));
    t.basics(2);
    t.put("tilemap", "\x01\x01\x01");
    ASSERT_TRUE(load(t));
    for (int k = 0; k < 16; k++) EXPECT_EQ(hf.tilemap[k], k < 3 ? 1 : 0) << k;
    EXPECT_NE(log_text().find("Tilemap ends after 3 of 16 cells"), std::string::npos);
  }
}

// ---------------------------------------------------------------- method, normals, free

TEST_F(HeightFieldLoad, TextureMethodFollowsTheSettingAndWhatGlOffers) {
  struct Case {
    int32_t requested;
    bool fbo;
    int32_t dim;
    int32_t method;
    int32_t size;
  } cases[] = {
      {0, true, 512, TERRAIN_METHOD_SOFTWARE, 256}, {1, true, 512, TERRAIN_METHOD_COPY, 256},
      {3, false, 128, TERRAIN_METHOD_COPY, 128},    {2, true, 512, TERRAIN_METHOD_DIRECT, 512},
      {4, true, 1024, TERRAIN_METHOD_DIRECT, 1024}, {4, false, 512, TERRAIN_METHOD_COPY, 256},
      {2, false, 64, TERRAIN_METHOD_COPY, 64},      {0, false, 64, TERRAIN_METHOD_SOFTWARE, 64},
  };
  for (const Case& c : cases) {
    terrain_render_hooks.framebuffer_objects = c.fbo;
    int32_t size = 0;
    EXPECT_EQ(terrain_choose_method(c.requested, c.dim, &size), c.method) << c.requested;
    EXPECT_EQ(size, c.size) << c.requested;
  }
  const char* announced[] = {"Terrain texture rendering with TexSubImage",
                             "Terrain texture rendering with CopyTexSubImage",
                             "Terrain texture rendering with framebuffer objects"};
  terrain_render_hooks.framebuffer_objects = true;
  for (int32_t requested : {0, 1, 2}) {
    TrackDir t;
    t.put("terrain.hf", header(1, 1, 0, 1));
    t.basics(1);
    message_history_clear(message_history);
    ASSERT_TRUE(load(t, requested));
    EXPECT_EQ(hf.texture_method, requested + 1);
    EXPECT_TRUE(message_seen(announced[requested])) << requested;
    EXPECT_FALSE(hf.shaders);
    EXPECT_EQ(hf.normal_map, nullptr);
    terrain_free(&hf);
  }
}

TEST_F(HeightFieldLoad, ShaderRenderingBuildsTheNormalMap) {
  const int n = 1, g = grid_of(n);
  std::vector<uint16_t> samples(g * g);
  for (int j = 0; j < g; j++)
    for (int i = 0; i < g; i++) samples[j * g + i] = (uint16_t)(i * 1000);  // h = 0.5 x
  std::vector<uint8_t> light((size_t)g * g);
  for (size_t k = 0; k < light.size(); k++) light[k] = (uint8_t)(k * 9);
  TrackDir t;
  t.put("terrain.hf", binary_heights(n, 2, 0, 65.535f, samples));
  t.basics(n);
  t.put("shadows.pgm", pgm(g, g, light));
  terrain_render_hooks.shaders = true;
  ASSERT_TRUE(load(t, 2));  // shaders need a "Shaders/..." setting
  EXPECT_FALSE(hf.shaders);
  EXPECT_EQ(hf.normal_map, nullptr);
  terrain_free(&hf);
  ASSERT_TRUE(load(t, 3));
  ASSERT_TRUE(hf.shaders);
  ASSERT_NE(hf.normal_map, nullptr);
  // Interior normal of h = 0.5 x is (-0.5, 1, 0) / |..|: x byte trunc(-0.4472 * 127) + 128.
  for (int j = 1; j < g - 1; j++)
    for (int i = 1; i < g - 1; i++) {
      const uint8_t* p = hf.normal_map + (j * g + i) * 3;
      EXPECT_EQ(p[0], 128 - 56) << i << "," << j;
      EXPECT_EQ(p[2], 128);
    }
  for (int k = 0; k < g * g; k++) EXPECT_EQ(hf.normal_map[k * 3 + 1], light[k]) << k;
}

TEST_F(HeightFieldLoad, FreeLeavesAnEmptyRecordThatLoadsAgain) {
  TrackDir t;
  t.put("terrain.hf", header(1, 1, 0, 1));
  t.basics(1);
  t.put("decals", "");
  ASSERT_TRUE(load(t));
  EXPECT_TRUE(hf.has_decals);
  terrain_free(&hf);
  EXPECT_TRUE(all_zero(hf));
  terrain_free(&hf);  // twice is harmless
  ASSERT_TRUE(load(t));
  EXPECT_EQ(hf.grid_size, 5);
}

TEST_F(HeightFieldLoad, AssetPathThroughTheHomeDirectory) {
  TempDir home, data;
  ScopedEnv xdg{"XDG_DATA_HOME", home.path.c_str()};
  ScopedEnv rt{"RT_HOME", data.path.c_str()};
  file_list_free();
  std::string dir = data.path + "/hill/";
  write_file(dir + "terrain.hf", binary_heights(1, 1, 0, 1, std::vector<uint16_t>(25, 65535)));
  write_file(dir + "shading.ppm", ppm(5, 5, std::vector<uint8_t>(75, 200)));
  write_file(dir + "tileinfo", tileinfo(1));
  write_file(dir + "tilemap", "\x05\x05\x05\x05");
  bool ok = terrain_load(&track.hf, "@hill/", 0);
  file_list_free();
  ASSERT_TRUE(ok);
  EXPECT_EQ(terrain_height_at(1.5f, 2.5f), 1.0f);
  EXPECT_EQ(terrain_tile_at(3, 3), 0);
  float normal[3];
  terrain_vertex_normal(2, 2, normal);
  EXPECT_EQ(normal[1], 1.0f);
  EXPECT_EQ(track.hf.shading[0], 100);
  terrain_free(&track.hf);
}

// ---------------------------------------------------------------- queries

namespace {

// The height on the plane of the triangle holding (x, z), in sample units,
// worked out from the triangulation rather than the loader's formula.
double reference_height(const HeightField& hf, double x, double z) {
  int i = (int)floor(x), j = (int)floor(z);
  double lx = x - i, lz = z - j;
  auto H = [&](int a, int b) { return (double)hf_sample(&hf, a, b); };
  double h00 = H(i, j), h10 = H(i + 1, j), h01 = H(i, j + 1), h11 = H(i + 1, j + 1);
  if (((i + j) & 1) == 0) {  // diagonal (i, j) - (i+1, j+1)
    if (lx >= lz) return h00 + lx * (h10 - h00) + lz * (h11 - h10);
    return h00 + lz * (h01 - h00) + lx * (h11 - h01);
  }
  // diagonal (i+1, j) - (i, j+1)
  if (lx + lz <= 1) return h00 + lx * (h10 - h00) + lz * (h01 - h00);
  return h11 + (1 - lx) * (h01 - h11) + (1 - lz) * (h10 - h11);
}

}  // namespace

TEST_F(HeightFieldQuery, HeightAtSamplesDiagonalsAndInsideEachTriangle) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> any(-10, 10);
  std::vector<float> values(9 * 9);
  for (float& v : values) v = any(rng);
  make_field(&hf, 2, 1.0f, [&](int i, int j) { return values[j * 9 + i]; });
  for (int j = 0; j < 9; j++)
    for (int i = 0; i < 9; i++) EXPECT_EQ(hf_height_at(&hf, (float)i, (float)j), values[j * 9 + i]);
  for (int j = 0; j < 8; j++)
    for (int i = 0; i < 8; i++) {
      // On the cell's own diagonal both triangles give the linear blend of its ends.
      bool even = ((i + j) & 1) == 0;
      float a0 = even ? values[j * 9 + i] : values[j * 9 + i + 1];
      float a1 = even ? values[(j + 1) * 9 + i + 1] : values[(j + 1) * 9 + i];
      for (float t : {0.25f, 0.5f, 0.75f}) {
        float x = i + (even ? t : 1 - t), z = j + t;
        float expected = a0 + t * (a1 - a0);
        EXPECT_NEAR(hf_height_at(&hf, x, z), expected, 1e-4) << i << "," << j;
        EXPECT_NEAR(hf_height_at(&hf, x + 1e-4f, z), expected, 5e-3);
        EXPECT_NEAR(hf_height_at(&hf, x - 1e-4f, z), expected, 5e-3);
      }
    }
  std::uniform_real_distribution<float> inside(0, 8);
  for (int k = 0; k < 2000; k++) {
    float x = inside(rng), z = inside(rng);
    ASSERT_NEAR(hf_height_at(&hf, x, z), reference_height(hf, x, z), 1e-4) << x << "," << z;
  }
  // The spacing scales positions.
  terrain_free(&hf);
  make_field(&hf, 1, 2.5f, [](int i, int j) { return (float)(i * 10 + j); });
  EXPECT_FLOAT_EQ(hf_height_at(&hf, 2.5f * 3, 2.5f * 2), 32.0f);
  EXPECT_NEAR(hf_height_at(&hf, 2.5f * 1.5f, 2.5f * 0.5f), 15.5f, 1e-4);  // planar field
}

TEST_F(HeightFieldQuery, OutsideTheSquareReadsTheNearestBorder) {
  make_field(&hf, 1, 2.0f, [](int i, int j) { return (float)(i * i * 3 + j * 7 + i * j); });
  const float w = hf.world_size;  // 8
  struct Case {
    float x, z, bx, bz;
  } cases[] = {
      {-3, 3.3f, 0, 3.3f},    {-100, 5, 0, 5},         {w + 1, 1.7f, w, 1.7f},
      {2.2f, -0.5f, 2.2f, 0}, {6.1f, w + 50, 6.1f, w}, {-1, -1, 0, 0},
      {w + 3, w + 9, w, w},   {-1e30f, 1e30f, 0, w},   {3, -4e9f, 3, 0},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(hf_height_at(&hf, c.x, c.z), hf_height_at(&hf, c.bx, c.bz), 1e-4)
        << c.x << "," << c.z;
  EXPECT_EQ(hf_height_at(&hf, -1, -1), hf.heights[0]);
  EXPECT_EQ(hf_height_at(&hf, w + 2, w + 2), hf.heights[24]);
  EXPECT_TRUE(std::isfinite(hf_height_at(&hf, NAN, INFINITY)));
}

TEST_F(HeightFieldQuery, NormalsOfFlatAndTiltedGround) {
  make_field(&hf, 2, 1.5f, [](int, int) { return 4.0f; });
  for (int j : {-3, 0, 4, 8, 12})
    for (int i : {-1, 0, 3, 8, 9}) {
      float n[3];
      hf_vertex_normal(&hf, i, j, n);
      EXPECT_EQ(n[0], 0.0f);
      EXPECT_FLOAT_EQ(n[1], 1.0f);
      EXPECT_EQ(n[2], 0.0f);
    }
  terrain_free(&hf);
  const float a = 0.3f, b = -1.7f, s = 1.5f;
  make_field(&hf, 2, s, [&](int i, int j) { return a * i * s + b * j * s + 2; });
  double len = sqrt(a * a + 1 + b * b);
  for (int j = 1; j < 8; j++)
    for (int i = 1; i < 8; i++) {
      float n[3];
      hf_vertex_normal(&hf, i, j, n);
      EXPECT_NEAR(n[0], -a / len, 1e-5);
      EXPECT_NEAR(n[1], 1 / len, 1e-5);
      EXPECT_NEAR(n[2], -b / len, 1e-5);
    }
  // A ridge along z: the normal leans away from the higher side.
  terrain_free(&hf);
  make_field(&hf, 1, 1, [](int i, int) { return i >= 2 ? 1.0f : 0.0f; });
  float n[3];
  hf_vertex_normal(&hf, 1, 2, n);
  EXPECT_LT(n[0], -0.1f);
  EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0f, 1e-5);
}

TEST_F(HeightFieldQuery, TileAtClampsTheCellAndIsRowMajor) {
  make_field(&hf, 2, 0.5f, [](int, int) { return 0.0f; });  // 4 x 4 cells of 1 unit
  hf.tilemap = (uint8_t*)mem_alloc(16);
  for (int k = 0; k < 16; k++) hf.tilemap[k] = (uint8_t)k;
  struct Case {
    float x, z;
    int tile;
  } cases[] = {{0.5f, 0.5f, 0},    {1.2f, 0.1f, 1}, {0.1f, 1.2f, 4}, {3.99f, 3.99f, 15},
               {-5, 2.5f, 8},      {9, 2.5f, 11},   {2.5f, -1, 2},   {2.5f, 40, 14},
               {1e30f, -1e30f, 3}, {NAN, NAN, 0},   {1.0f, 3.0f, 13}};
  for (const Case& c : cases) EXPECT_EQ(hf_tile_at(&hf, c.x, c.z), c.tile) << c.x << "," << c.z;
}

// ---------------------------------------------------------------- save

TEST_F(HeightFieldSave, SaveThenLoadKeepsHeightsShadingTilemapAndDecals) {
  TrackDir source, target;
  const int n = 2, g = grid_of(n);
  std::vector<uint16_t> samples = random_samples(g * g, 5);
  source.put("terrain.hf", binary_heights(n, 1.25f, -7.3f, 21.9f, samples));
  std::vector<uint8_t> rgb((size_t)g * g * 3);
  for (size_t k = 0; k < rgb.size(); k++) rgb[k] = (uint8_t)(k * 53 + 7);
  source.put("shadingx2.ppm", ppm(g, g, rgb));
  source.put("tileinfo", tileinfo(4));
  std::string map(16, '\0');
  for (int k = 0; k < 16; k++) map[k] = (char)(k % 4);
  source.put("tilemap", map);
  source.put("decal.ppm", ppm(2, 2, std::vector<uint8_t>(12, 50)));
  source.put("decals", "[ 1.5 2.5 ] 0.5 2 3 " + source.file("decal.ppm") + "\n");
  ASSERT_TRUE(load(source, 1));
  ASSERT_EQ(hf.decals.count, 1);
  // Edit in place as the editor does.
  hf.heights[3] = 30.0f;
  hf.heights[7] = -9.5f;
  std::vector<float> saved(hf.heights, hf.heights + g * g);

  ASSERT_TRUE(terrain_save(&hf, target.path.c_str()));
  EXPECT_FLOAT_EQ(hf.min_height, -9.5f);
  EXPECT_FLOAT_EQ(hf.max_height, 30.0f);
  EXPECT_EQ(read_file(target.file("terrain.hf")), "2 1.250000 -9.500000 30.000000\n");
  std::string doubled = read_file(target.file("shading.ppm"));
  std::string head = "P6\n9 9\n255\n";
  ASSERT_EQ(doubled.size(), head.size() + rgb.size());
  EXPECT_EQ(doubled.substr(0, head.size()), head);
  for (size_t k = 0; k < rgb.size(); k++)
    ASSERT_EQ((uint8_t)doubled[head.size() + k], std::min(255, rgb[k] * 2)) << k;
  EXPECT_EQ(read_file(target.file("tilemap")), map);
  EXPECT_EQ(read_file(target.file("decals")),
            "[1.500000 2.500000] 0.500000 2.000000 3.000000 " + source.file("decal.ppm") + "\n");

  terrain_free(&hf);
  target.put("tileinfo", tileinfo(4));
  ASSERT_TRUE(load(target, 1));
  const double half_step = (30.0 + 9.5) / 65535 / 2;
  for (int k = 0; k < g * g; k++) ASSERT_NEAR(hf.heights[k], saved[k], half_step * 1.01) << k;
  EXPECT_EQ(hf.heights[3], 30.0f);
  EXPECT_EQ(hf.heights[7], -9.5f);
  for (size_t k = 0; k < rgb.size(); k++) ASSERT_EQ(hf.shading[k], rgb[k]) << k;
  for (int k = 0; k < 16; k++) EXPECT_EQ(hf.tilemap[k], k % 4);
  ASSERT_EQ(hf.decals.count, 1);
  EXPECT_FLOAT_EQ(hf.decals.data[0].aspect, 3.0f);
}

TEST_F(HeightFieldSave, HeaderRangeRoundsOutwardsAndFlatFieldsWriteZero) {
  TrackDir t;
  make_field(&hf, 1, 1, [](int i, int j) { return 0.1234567f + 0.0000001f * (float)(i + j); });
  hf.shading = (uint8_t*)mem_alloc_zeroed(25 * 3, 1);
  ASSERT_TRUE(terrain_save(&hf, t.path.c_str()));
  // The written range encloses every height, so each reloads within half a step.
  EXPECT_LE(hf.min_height, 0.1234567f);
  EXPECT_GE(hf.max_height, 0.1234567f + 0.0000008f);
  float min = 0, max = 0;
  int n = 0;
  ASSERT_EQ(sscanf(read_file(t.file("terrain.hf")).c_str(), "%d %*f %f %f", &n, &min, &max), 3);
  EXPECT_EQ(min, hf.min_height);
  EXPECT_EQ(max, hf.max_height);
  uint16_t* samples = nullptr;
  int32_t w = 0, h = 0;
  ASSERT_TRUE(image_read_png_grey16(t.file("terrain.png").c_str(), &samples, &w, &h));
  ASSERT_EQ(w, 5);
  ASSERT_EQ(h, 5);
  double step = ((double)max - min) / 65535;
  for (int k = 0; k < 25; k++)
    EXPECT_NEAR(min + samples[k] * step, hf.heights[k], step / 2 + 1e-9) << k;
  mem_free(samples);
  EXPECT_FALSE(file_exists(t.file("decals")));  // no decal list at load

  terrain_free(&hf);
  make_field(&hf, 1, 1, [](int, int) { return 3.0f; });
  ASSERT_TRUE(terrain_save(&hf, t.path.c_str()));
  EXPECT_EQ(read_file(t.file("terrain.hf")), "1 1.000000 3.000000 3.000000\n");
  ASSERT_TRUE(image_read_png_grey16(t.file("terrain.png").c_str(), &samples, &w, &h));
  for (int k = 0; k < 25; k++) EXPECT_EQ(samples[k], 0);
  mem_free(samples);
}

TEST_F(HeightFieldSave, FirstFileThatCannotBeCreatedEndsTheSave) {
  make_field(&hf, 1, 1, [](int i, int) { return (float)i; });
  struct Case {
    const char* blocker;  // a directory in the way of this file
    const char* message;
    std::vector<const char*> written;
  } cases[] = {
      {"terrain.hf", "Can't open 'terrain.hf'", {}},
      {"shading.ppm", "Can't open 'shading.ppm'", {"terrain.hf", "terrain.png"}},
      {"shadingx2.ppm", "Can't open 'shadingx2.ppm'", {"terrain.hf", "shading.ppm"}},
      {"tilemap", "Can't open 'tilemap'", {"shadingx2.ppm"}},
      {"decals", "Can't open 'decals'", {"tilemap"}},
  };
  hf.has_decals = true;
  for (const Case& c : cases) {
    TrackDir t;
    ASSERT_EQ(mkdir(t.path.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(t.file(c.blocker).c_str(), 0755), 0);
    message_history_clear(message_history);
    EXPECT_FALSE(terrain_save(&hf, t.path.c_str())) << c.blocker;
    EXPECT_STREQ(message_history_line(message_history, 0), c.message);
    for (const char* name : c.written) EXPECT_TRUE(file_exists(t.file(name))) << name;
  }
  TrackDir t;
  write_file(t.dir.path + "/plain", "x");
  EXPECT_FALSE(terrain_save(&hf, (t.dir.path + "/plain/").c_str()));
  EXPECT_STREQ(message_history_line(message_history, 0), "Can't open 'terrain.hf'");
}

// ---------------------------------------------------------------- decals

TEST_F(HeightFieldDecals, ParsingStopsAtTheFirstBadLineAndSkipsUnloadableImages) {
  TrackDir t;
  t.put("terrain.hf", header(2, 2, 0, 1));  // world 16 x 16
  t.basics(2);
  t.put("a.ppm", ppm(2, 1, {10, 20, 30, 40, 50, 60}));
  std::string a = t.file("a.ppm");
  t.put("decals", "[ 1 2 ] 0 1 1 " + a + "\n" +                //
                      "[3.5 4] 1.5707964 2 0.5 " + a + "\n" +  //
                      "[ 5 5 ] 0 1 1 " + t.file("missing.ppm") + "\n" + "[ 6 7 ] 0.1 1 2 " + a +
                      "\n" +                       //
                      "[ 8 8 ] 0 1 " + a + "\n" +  // five numbers: reading stops
                      "[ 9 9 ] 0 1 1 " + a + "\n");
  ASSERT_TRUE(load(t, 0));
  ASSERT_TRUE(hf.has_decals);
  ASSERT_EQ(hf.decals.count, 3);
  const Decal& d = hf.decals.data[1];
  EXPECT_FLOAT_EQ(d.x, 3.5f);
  EXPECT_FLOAT_EQ(d.z, 4.0f);
  EXPECT_FLOAT_EQ(d.size, 2.0f);
  EXPECT_FLOAT_EQ(d.aspect, 0.5f);
  EXPECT_NEAR(d.sin_angle, 1.0f, 1e-6);
  EXPECT_NEAR(d.cos_angle, 0.0f, 1e-6);
  EXPECT_STREQ(d.name, a.c_str());
  EXPECT_FLOAT_EQ(hf.decals.data[2].x, 6.0f);
  // Software method: pixels in memory, no texture.
  EXPECT_NE(d.pixels, nullptr);
  EXPECT_EQ(d.width, 2);
  EXPECT_EQ(d.height, 1);
  EXPECT_EQ(d.texture, 0u);
  terrain_free(&hf);

  ASSERT_TRUE(load(t, 1));  // other methods: a texture
  ASSERT_EQ(hf.decals.count, 3);
  EXPECT_NE(hf.decals.data[0].texture, 0u);
  EXPECT_EQ(hf.decals.data[0].pixels, nullptr);
  EXPECT_EQ(hf.decals.data[0].normal_texture, 0u);
}

TEST_F(HeightFieldDecals, ShaderRenderingLooksForNormalAndSpecularImages) {
  TrackDir t;
  t.put("terrain.hf", header(1, 1, 0, 1));
  t.basics(1);
  std::string img = ppm(1, 1, {1, 2, 3});
  t.put("a.ppm", img);
  t.put("a_tnorm.ppm", img);  // no .png: the .ppm is taken
  t.put("b.c.ppm", img);
  t.put("b.c_tspec.png", "");                    // unreadable png: falls back to the missing .ppm
  t.put("b.c_tnorm.png", ppm(1, 1, {9, 9, 9}));  // by content, not by extension
  t.put("noext", img);
  t.put("noext_tnorm.png", img);
  t.put("decals", "[1 1] 0 1 1 " + t.file("a.ppm") + "\n[1 1] 0 1 1 " + t.file("b.c.ppm") +
                      "\n[1 1] 0 1 1 " + t.file("noext") + "\n");
  terrain_render_hooks.shaders = true;
  ASSERT_TRUE(load(t, 4));
  ASSERT_TRUE(hf.shaders);
  ASSERT_EQ(hf.decals.count, 3);
  const Decal* d = hf.decals.data;
  EXPECT_NE(d[0].normal_texture, 0u);
  EXPECT_EQ(d[0].specular_texture, 0u);
  EXPECT_NE(d[1].normal_texture, 0u);
  EXPECT_EQ(d[1].specular_texture, 0u);
  EXPECT_NE(d[2].texture, 0u);
  // A path whose only "." is in a directory name would still be cut there; a
  // bare name without "." gets neither picture.
  if (!strchr(t.path.c_str(), '.')) {
    EXPECT_EQ(d[2].normal_texture, 0u);
    EXPECT_EQ(d[2].specular_texture, 0u);
  }
}

TEST_F(HeightFieldDecals, BucketRangesFollowTheRotatedExtent) {
  hf_set_geometry(&hf, 3, 1.0f, 0, 1);  // world 16: buckets of 2 units
  struct Case {
    float centre, half;
    int first, last;
  } ranges[] = {{1, 0.5f, 0, 0}, {2, 0.5f, 0, 1}, {3.9f, 0.05f, 1, 1}, {-5, 1, 0, 0},
                {15, 4, 5, 7},   {40, 1, 7, 7},   {8, 100, 0, 7},      {4, 0, 2, 2},
                {NAN, 1, 0, 0},  {1e30f, 1, 7, 7}};
  for (const Case& c : ranges) {
    int32_t first = -1, last = -1;
    decal_bucket_range(&hf, c.centre, c.half, &first, &last);
    EXPECT_EQ(first, c.first) << c.centre << " " << c.half;
    EXPECT_EQ(last, c.last) << c.centre << " " << c.half;
  }
  auto decal = [](float x, float z, float size, float aspect, float angle) {
    Decal d = {};
    d.x = x;
    d.z = z;
    d.size = size;
    d.aspect = aspect;
    d.sin_angle = sinf(angle);
    d.cos_angle = cosf(angle);
    return d;
  };
  Decal rotated = decal(0, 0, 2, 3, 0.5f);
  float hx, hz;
  decal_half_extents(&rotated, &hx, &hz);
  EXPECT_NEAR(hx, fabs(6 * cos(0.5)) / 2 + fabs(2 * sin(0.5)) / 2, 1e-5);
  EXPECT_NEAR(hz, fabs(2 * cos(0.5)) / 2 + fabs(6 * sin(0.5)) / 2, 1e-5);

  // Three decals: inside one bucket, straddling four, and turned a quarter so
  // that its length (4) runs along z: z 7..11, x 10.5..11.5.
  grow_push(hf.decals, decal(1, 1, 1, 1, 0));
  grow_push(hf.decals, decal(4, 6, 0.5f, 1, 0));
  grow_push(hf.decals, decal(11, 9, 1, 4, 1.5707964f));
  decal_buckets_build(&hf);
  std::vector<std::vector<int>> expected(64);
  expected[0 * 8 + 0] = {0};
  for (int row : {2, 3})
    for (int column : {1, 2}) expected[row * 8 + column].push_back(1);
  for (int row : {3, 4, 5}) expected[row * 8 + 5].push_back(2);
  for (int b = 0; b < 64; b++) {
    std::vector<int> got(hf.decal_buckets[b].data,
                         hf.decal_buckets[b].data + hf.decal_buckets[b].count);
    EXPECT_EQ(got, expected[b]) << "bucket " << b;
  }
  decal_buckets_build(&hf);  // rebuilding does not duplicate entries
  EXPECT_EQ(hf.decal_buckets[0].count, 1);
}

TEST_F(HeightFieldDecals, BucketsHoldAscendingIndicesAfterLoad) {
  TrackDir t;
  t.put("terrain.hf", header(2, 1, 0, 1));  // world 8: buckets of 1 unit
  t.basics(2);
  t.put("a.ppm", ppm(1, 1, {1, 2, 3}));
  std::string a = t.file("a.ppm");
  t.put("decals", "[ 0.5 0.5 ] 0 0.2 1 " + a + "\n[ 1 1 ] 0 0.5 1 " + a + "\n[ 0.4 0.6 ] 0 0.1 1 " +
                      a + "\n[ nan 1 ] 0 0.5 1 " + a + "\n[ 7.5 7.5 ] 0 0.2 1 " + a + "\n");
  ASSERT_TRUE(load(t));
  ASSERT_EQ(hf.decals.count, 4);  // the nan placement is skipped
  std::vector<int> first(hf.decal_buckets[0].data,
                         hf.decal_buckets[0].data + hf.decal_buckets[0].count);
  EXPECT_EQ(first, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(hf.decal_buckets[1].count, 1);  // decal 1 reaches x 1.25
  EXPECT_EQ(hf.decal_buckets[9].count, 1);
  ASSERT_EQ(hf.decal_buckets[63].count, 1);
  EXPECT_EQ(hf.decal_buckets[63].data[0], 3);
}
