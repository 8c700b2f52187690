// The texture layer without GL: loading by name through a recording upload
// table, detail skipping, power-of-two shrinking, custom mip levels,
// compression choice, aliases, animations, purging by generation, the memory
// image cache and the texture variants of a skin prefix.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/files.h"
#include "core/messages.h"
#include "core/program.h"
#include "render/texture.h"
#include "tests/test_helpers.h"

namespace {

// ---------------------------------------------------------------- recording upload table

struct Upload {
  uint32_t id;
  int32_t width, height, channels, level_count;
  std::vector<std::pair<int, int>> sizes;
  std::vector<std::vector<uint8_t>> levels;
  bool repeat_s, repeat_t, compressed;
};

std::vector<Upload> uploads;
std::vector<Upload> replaced;
std::vector<uint32_t> destroyed;
uint32_t next_id = 500;

Upload capture(uint32_t id, const TextureUpload* u) {
  Upload r{id, u->width, u->height,   u->channels, u->level_count,
           {}, {},       u->repeat_s, u->repeat_t, u->compressed};
  int w = u->width, h = u->height;
  for (int i = 0; i < u->level_count; i++) {
    r.sizes.push_back({w, h});
    r.levels.emplace_back(u->levels[i], u->levels[i] + (size_t)w * h * u->channels);
    w = w > 1 ? w / 2 : 1;
    h = h > 1 ? h / 2 : 1;
  }
  return r;
}

uint32_t record_create(const TextureUpload* u, uint64_t* memory) {
  Upload r = capture(next_id++, u);
  uint64_t bytes = 0;
  for (const auto& level : r.levels) bytes += level.size();
  *memory = bytes;
  uploads.push_back(r);
  return r.id;
}

void record_replace(uint32_t id, const TextureUpload* u) { replaced.push_back(capture(id, u)); }
void record_destroy(uint32_t id) { destroyed.push_back(id); }

const TextureUploadOps RECORDING = {record_create, record_replace, record_destroy};

const Upload* upload_of(uint32_t id) {
  for (const Upload& u : uploads)
    if (u.id == id) return &u;
  return nullptr;
}

// ---------------------------------------------------------------- fixture files


// Pixels whose every byte depends on position, so misplaced data shows.
std::vector<uint8_t> pattern(int w, int h, int channels, int salt = 0) {
  std::vector<uint8_t> px((size_t)w * h * channels);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      for (int c = 0; c < channels; c++)
        px[((size_t)y * w + x) * channels + c] = (uint8_t)(x * 7 + y * 13 + c * 71 + salt);
  return px;
}

// A V6/V7 raster of px (the inverse of the predictive rule).
std::string v_bytes(const std::vector<uint8_t>& px, int w, int h, int channels) {
  std::string out =
      (channels == 4 ? "V7\n" : "V6\n") + std::to_string(w) + " " + std::to_string(h) + "\n";
  auto at = [&](int x, int y, int c) { return (int)px[((size_t)y * w + x) * channels + c]; };
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++)
      for (int c = 0; c < channels; c++) {
        int pred = y == 0   ? (x == 0 ? 0 : at(x - 1, 0, c))
                   : x == 0 ? at(0, y - 1, c)
                            : std::min(255, std::max(0, at(x - 1, y, c) + at(x, y - 1, c) -
                                                            at(x - 1, y - 1, c)));
        out += (char)(uint8_t)(at(x, y, c) - pred);
      }
  return out;
}

std::vector<uint8_t> block(const std::vector<uint8_t>& px, int w, int channels, int x0, int y0,
                           int bw, int bh) {
  std::vector<uint8_t> out;
  for (int y = y0; y < y0 + bh; y++)
    out.insert(out.end(), px.begin() + ((size_t)y * w + x0) * channels,
               px.begin() + ((size_t)y * w + x0 + bw) * channels);
  return out;
}

class TextureTest : public ::testing::Test {
 protected:
  TempDir root;
  std::string game = root.path + "/game/";
  ScopedEnv env_xdg{"XDG_DATA_HOME", (root.path + "/xdg").c_str()};
  ScopedEnv env_rt{"RT_HOME", (root.path + "/game").c_str()};
  int32_t saved_debug = debug_level;

  void SetUp() override {
    textures_purge(true);
    mkdir(game.c_str(), 0777);
    file_list_free();
    settings_init_defaults();
    settings.model_texture_detail.value = 10;
  derive_runtime_settings();
    choice_set_index(&settings.texture_compress, 0);
    texture_set_upload_ops(&RECORDING);
    texture_generation_reset_for_tests();
    message_history_clear(message_history);
    uploads.clear();
    replaced.clear();
    destroyed.clear();
  }
  void TearDown() override {
    textures_purge(true);
    texture_set_upload_ops(nullptr);
    texture_generation_reset_for_tests();
    file_list_free();
    settings_init_defaults();
    debug_level = saved_debug;
  }

  void put(const std::string& name, const std::string& bytes) { write_file(game + name, bytes); }

  static void choice_set_index(ChoiceSetting* s, int32_t index) { s->index = index; }

  static bool seen(const std::string& text) {
    for (int i = 0; i < MESSAGE_RING_LINES; i++)
      if (text == message_history_line(message_history, i)) return true;
    return false;
  }
};

// ---------------------------------------------------------------- names and ids

TEST_F(TextureTest, SameNameSameIdAndCaseMismatchWarns) {
  put("tex/a.png", png_bytes(4, 4, 3, pattern(4, 4, 3)));
  uint32_t id = texture_load("@tex/a.png");
  ASSERT_NE(id, 0u);
  EXPECT_EQ(texture_load("@tex/a.png"), id);
  EXPECT_FALSE(seen("Warning: case mismatch on '@tex/A.png'"));
  EXPECT_EQ(texture_load("@tex/A.png"), id);
  EXPECT_TRUE(seen("Warning: case mismatch on '@tex/A.png'"));
  EXPECT_EQ(uploads.size(), 1u);
  EXPECT_STREQ(texture_name(id), "@tex/a.png");
  EXPECT_STREQ(texture_info(id), "");
  EXPECT_EQ(texture_name(id + 1000), nullptr);
  EXPECT_EQ(texture_info(id + 1000), nullptr);

  EXPECT_EQ(texture_load("@tex/missing.png"), 0u);
  EXPECT_EQ(texture_load(""), 0u);
  EXPECT_EQ(texture_load(nullptr), 0u);
  EXPECT_EQ(uploads.size(), 1u);
}

TEST_F(TextureTest, MissingFileIsReportedOnlyInDebugMode) {
  debug_level = 0;
  EXPECT_EQ(texture_load("@nope.png"), 0u);
  EXPECT_FALSE(seen("Can't open texture \"@nope.png\""));
  debug_level = 1;
  EXPECT_EQ(texture_load("@nope.png"), 0u);
  EXPECT_TRUE(seen("Can't open texture \"@nope.png\""));
}

TEST_F(TextureTest, DefaultUploadCountsIdsAndMemory) {
  texture_set_upload_ops(nullptr);
  put("a.png", png_bytes(8, 4, 3, pattern(8, 4, 3)));
  put("b.png", png_bytes(2, 2, 4, pattern(2, 2, 4)));
  uint64_t before = texture_memory_used();
  uint32_t a = texture_load("@a.png");
  ASSERT_NE(a, 0u);
  // 8x4, 4x2, 2x1, 1x1 at three bytes each.
  EXPECT_EQ(texture_memory_used() - before, (uint64_t)(32 + 8 + 2 + 1) * 3);
  uint32_t b = texture_load("@b.png");
  EXPECT_EQ(b, a + 1);
  EXPECT_EQ(texture_memory_used() - before, (uint64_t)(32 + 8 + 2 + 1) * 3 + (4 + 1) * 4);
  EXPECT_EQ(texture_find(a)->memory, (uint64_t)(32 + 8 + 2 + 1) * 3);
  EXPECT_TRUE(uploads.empty());  // the recording table was not used
  textures_purge(true);
  EXPECT_EQ(texture_memory_used(), before);
}

TEST_F(TextureTest, UploadsCarryEveryLevel) {
  std::vector<uint8_t> px = pattern(8, 4, 4);
  put("lv.png", png_bytes(8, 4, 4, px));
  uint32_t id = texture_load("@lv.png");
  const Upload* u = upload_of(id);
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->channels, 4);
  std::vector<std::pair<int, int>> expected = {{8, 4}, {4, 2}, {2, 1}, {1, 1}};
  EXPECT_EQ(u->sizes, expected);
  EXPECT_EQ(u->levels[0], px);
  MipChain chain;
  ASSERT_TRUE(mip_chain_build(px.data(), 8, 4, 4, false, &chain));
  for (int i = 1; i < 4; i++) {
    int32_t w, h;
    uint8_t* level = mip_level(&chain, i, &w, &h);
    EXPECT_EQ(u->levels[i], std::vector<uint8_t>(level, level + w * h * 4)) << "level " << i;
  }
  mip_chain_free(&chain);
  EXPECT_EQ(texture_memory_used(), (uint64_t)(32 + 8 + 2 + 1) * 4);
}

// ---------------------------------------------------------------- shapes and detail

TEST_F(TextureTest, NonPowerOfTwoWarnsAndShrinks) {
  put("np.png", png_bytes(300, 200, 3, pattern(300, 200, 3)));
  uint32_t id = texture_load("@np.png");
  ASSERT_NE(id, 0u);
  EXPECT_TRUE(seen("Warning: Non power of 2 texture '@np.png'"));
  const Upload* u = upload_of(id);
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->width, 256);
  EXPECT_EQ(u->height, 128);
  EXPECT_EQ(u->level_count, 9);
  EXPECT_EQ(texture_find(id)->width, 256);
  // Power-of-two images do not warn.
  message_history_clear(message_history);
  put("p2.png", png_bytes(64, 32, 3, pattern(64, 32, 3)));
  ASSERT_NE(texture_load("@p2.png"), 0u);
  EXPECT_FALSE(seen("Warning: Non power of 2 texture '@p2.png'"));
}

TEST_F(TextureTest, DetailLevelsAreSkippedForLargeTextures) {
  settings.model_texture_detail.value = 9;
  derive_runtime_settings();
  std::vector<uint8_t> big = pattern(1024, 1024, 3);
  put("big.png", png_bytes(1024, 1024, 3, big));
  put("small.png", png_bytes(128, 128, 3, pattern(128, 128, 3)));
  put("wide.png", png_bytes(256, 128, 3, pattern(256, 128, 3)));
  uint32_t id = texture_load("@big.png");
  const Upload* u = upload_of(id);
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->width, 512);
  EXPECT_EQ(u->height, 512);
  EXPECT_EQ(u->level_count, 10);
  MipChain chain;
  ASSERT_TRUE(mip_chain_build(big.data(), 1024, 1024, 3, false, &chain));
  uint8_t* level1 = mip_level(&chain, 1, nullptr, nullptr);
  EXPECT_EQ(u->levels[0], std::vector<uint8_t>(level1, level1 + 512 * 512 * 3));
  mip_chain_free(&chain);

  EXPECT_EQ(upload_of(texture_load("@small.png"))->width, 128);
  EXPECT_EQ(upload_of(texture_load("@wide.png"))->width, 256);

  // "!" keeps every level and is a different texture from the plain name.
  uint32_t full = texture_load("!@big.png");
  EXPECT_NE(full, id);
  EXPECT_EQ(upload_of(full)->width, 1024);
  EXPECT_STREQ(texture_name(full), "@big.png");
  EXPECT_EQ(texture_load("!@big.png"), full);

  // Detail 7 skips three levels but never below 128 on both sides.
  settings.model_texture_detail.value = 7;
  derive_runtime_settings();
  put("big2.png", png_bytes(1024, 512, 3, pattern(1024, 512, 3)));
  const Upload* u2 = upload_of(texture_load("@big2.png"));
  ASSERT_NE(u2, nullptr);
  EXPECT_EQ(u2->width, 256);
  EXPECT_EQ(u2->height, 128);
}

TEST_F(TextureTest, CustomMipLevelsComeFromTheImage) {
  std::vector<uint8_t> px = pattern(256, 384, 3);
  put("c.png", png_bytes(256, 384, 3, px));
  put("c.png.info", "[mip_custom]");
  uint32_t id = texture_load("@c.png");
  const Upload* u = upload_of(id);
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->width, 256);
  EXPECT_EQ(u->height, 256);
  ASSERT_EQ(u->level_count, 9);
  EXPECT_EQ(u->levels[0], block(px, 256, 3, 0, 0, 256, 256));
  EXPECT_EQ(u->levels[1], block(px, 256, 3, 0, 256, 128, 128));
  EXPECT_EQ(u->levels[2], block(px, 256, 3, 128, 256, 64, 64));
  EXPECT_EQ(u->levels[3], block(px, 256, 3, 128, 320, 32, 32));
  EXPECT_STREQ(texture_info(id), "[mip_custom]");
  EXPECT_FALSE(seen("Warning: Invalid height for custom MIP map in '@c.png'"));

  // A wrong height warns and the image is used as it is (here also shrunk).
  put("bad.png", png_bytes(256, 320, 3, pattern(256, 320, 3)));
  put("bad.png.info", "[mip_custom]");
  const Upload* b = upload_of(texture_load("@bad.png"));
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(seen("Warning: Invalid height for custom MIP map in '@bad.png'"));
  EXPECT_EQ(b->width, 256);
  EXPECT_EQ(b->height, 256);
}

TEST_F(TextureTest, MaxAlphaMipsFromTextChunk) {
  std::vector<uint8_t> px = {
      10, 20, 30, 255, 0, 0, 0, 0,  // row 0
      0,  0,  0,  0,   0, 0, 0, 0,  // row 1
  };
  put("ma.png", png_bytes(2, 2, 4, px, {"[mip_max_alpha]"}));
  put("avg.png", png_bytes(2, 2, 4, px));
  // Copy each level out before the next load records another upload.
  const Upload* m = upload_of(texture_load("@ma.png"));
  ASSERT_NE(m, nullptr);
  std::vector<uint8_t> max_alpha_level = m->levels[1];
  const Upload* a = upload_of(texture_load("@avg.png"));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(max_alpha_level, (std::vector<uint8_t>{10, 20, 30, 255}));
  EXPECT_EQ(a->levels[1], (std::vector<uint8_t>{10, 20, 30, 63}));
}

// ---------------------------------------------------------------- formats, wrap and compression

TEST_F(TextureTest, FormatsAndWrapFlags) {
  std::vector<uint8_t> rgb = pattern(4, 2, 3), rgba = pattern(4, 2, 4, 5);
  put("v6-hrepeat.v6", v_bytes(rgb, 4, 2, 3));
  put("v7-vrepeat.v7", v_bytes(rgba, 4, 2, 4));
  std::string p6 = "P6\n# c\n4 2\n255\n" + std::string(rgb.begin(), rgb.end());
  put("p6-repeat.ppm", p6);
  std::string p3 = "P3 4 2 255\n";
  for (uint8_t v : rgb) p3 += std::to_string(v) + " ";
  put("p3.ppm", p3);
  put("grey.pgm", std::string("P5 2 1 255\n\x05\x06", 13));
  struct Case {
    const char* name;
    int channels;
    std::vector<uint8_t> level0;
    bool repeat_s, repeat_t;
  } cases[] = {
      {"@v6-hrepeat.v6", 3, rgb, true, false},
      {"@v7-vrepeat.v7", 4, rgba, false, true},
      {"@p6-repeat.ppm", 3, rgb, true, true},
      {"@p3.ppm", 3, rgb, false, false},
      {"@grey.pgm", 3, {5, 5, 5, 6, 6, 6}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t id = texture_load(c.name);
    const Upload* u = upload_of(id);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->channels, c.channels);
    EXPECT_EQ(u->levels[0], c.level0);
    EXPECT_EQ(u->repeat_s, c.repeat_s);
    EXPECT_EQ(u->repeat_t, c.repeat_t);
    EXPECT_FALSE(u->compressed);
  }
  put("junk.png", "this is not an image");
  put("badppm.ppm", "P6 -1 2 255\n");
  EXPECT_EQ(texture_load("@junk.png"), 0u);
  EXPECT_EQ(texture_load("@badppm.ppm"), 0u);
  EXPECT_TRUE(seen("Can't get PPM dimensions"));
}

TEST_F(TextureTest, CompressionChoice) {
  put("plain.png", png_bytes(2, 2, 3, pattern(2, 2, 3)));
  put("marked.png", png_bytes(2, 2, 3, pattern(2, 2, 3), {"[compress]"}));
  put("side.png", png_bytes(2, 2, 3, pattern(2, 2, 3)));
  put("side.png.info", "x [compress] y");
  put("raster.ppm", std::string("P6 1 1 255\n\x01\x02\x03", 14));
  struct Case {
    int setting;
    bool plain, marked, side, raster;
  } cases[] = {
      {0, false, false, false, false}, {1, false, true, true, false}, {2, true, true, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setting);
    settings.texture_compress.index = c.setting;
    textures_purge(true);
    uploads.clear();
    EXPECT_EQ(upload_of(texture_load("@plain.png"))->compressed, c.plain);
    EXPECT_EQ(upload_of(texture_load("@marked.png"))->compressed, c.marked);
    EXPECT_EQ(upload_of(texture_load("@side.png"))->compressed, c.side);
    uint32_t r = texture_load("@raster.ppm");
    EXPECT_EQ(upload_of(r)->compressed, c.raster);
    EXPECT_EQ(texture_find(r)->compressed, c.raster);
  }
}

// ---------------------------------------------------------------- aliases

TEST_F(TextureTest, LinkFilesAlias) {
  put("real.png", png_bytes(2, 2, 3, pattern(2, 2, 3)));
  put("link.png", "LINK   @real.png  \n\n");
  put("chain.png", "LINK @link.png");
  put("self.png", "LINK @self.png\n");
  put("empty.png", "LINK   \n");
  uint32_t link = texture_load("@link.png");
  ASSERT_NE(link, 0u);
  EXPECT_EQ(texture_load("@real.png"), link);
  EXPECT_EQ(texture_load("@link.png"), link);
  EXPECT_EQ(texture_load("@chain.png"), link);
  EXPECT_EQ(uploads.size(), 1u);
  EXPECT_STREQ(texture_alias_target("@link.png"), "@real.png");
  // The alias record answers without the link file.
  ASSERT_EQ(remove((game + "link.png").c_str()), 0);
  file_list_free();
  EXPECT_EQ(texture_load("@link.png"), link);
  // A file naming itself ends instead of recursing.
  EXPECT_EQ(texture_load("@self.png"), 0u);
  EXPECT_EQ(texture_load("@empty.png"), 0u);
  // The memory image cache follows the same aliases.
  uint8_t* pixels = nullptr;
  int32_t w = 0, h = 0, c = 0;
  ASSERT_TRUE(image_load("@link.png", &pixels, &w, &h, &c));
  EXPECT_EQ(w, 2);
  EXPECT_EQ(std::vector<uint8_t>(pixels, pixels + 12), pattern(2, 2, 3));
}

// ---------------------------------------------------------------- animations

std::string anim_file(int length, int frames, int ticks, int loop, const std::string& sequence,
                      const std::string& body) {
  return "ANIM1\n" + std::to_string(length) + " " + std::to_string(frames) + " " +
         std::to_string(ticks) + " " + std::to_string(loop) + "\n" + sequence + "\n" + body;
}

TEST_F(TextureTest, AnimationStepsStopsAndLoops) {
  std::vector<uint8_t> f0 = pattern(4, 4, 4, 0), f1 = pattern(4, 4, 4, 1), f2 = pattern(4, 4, 4, 2);
  put("frames/f2.png", png_bytes(4, 4, 4, f2));
  std::string body = "V7 " + v_bytes(f0, 4, 4, 4).substr(3) + "\nV7\n" +
                     v_bytes(f1, 4, 4, 4).substr(3) + "\nPNG\n@frames/f2.png\n";
  put("once.seq", anim_file(4, 3, 10, 0, "0 1 2 1", body));
  put("loop.seq", anim_file(4, 3, 10, 1, "2 1 0 1", body));

  uint32_t once = texture_load("@once.seq");
  ASSERT_NE(once, 0u);
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].levels[0], f0);
  EXPECT_EQ(texture_anim_frame(once), 0);
  texture_anim_restart(once, 0);

  struct Step {
    int tick;
    int frame;
    bool uploads;
  } steps[] = {{5, 0, false}, {10, 1, true},    {19, 1, false}, {25, 2, true},
               {35, 1, true}, {1000, 1, false}, {-50, 0, true}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.tick);
    size_t before = replaced.size();
    textures_animate(s.tick);
    EXPECT_EQ(texture_anim_frame(once), s.frame);
    ASSERT_EQ(replaced.size(), before + (s.uploads ? 1 : 0));
    if (s.uploads) {
      EXPECT_EQ(replaced.back().id, once);
      const std::vector<uint8_t>& want = s.frame == 0 ? f0 : s.frame == 1 ? f1 : f2;
      EXPECT_EQ(replaced.back().levels[0], want);
      EXPECT_EQ(replaced.back().level_count, 3);
    }
  }

  uint32_t loop = texture_load("@loop.seq");
  ASSERT_NE(loop, 0u);
  EXPECT_EQ(upload_of(loop)->levels[0], f2);  // created from sequence[0]
  texture_anim_restart(loop, 100);
  textures_animate(100 + 4 * 10 + 5);  // step 4 wraps to 0
  EXPECT_EQ(texture_anim_frame(loop), 2);
  textures_animate(100 + 5 * 10);  // step 5 -> entry 1
  EXPECT_EQ(texture_anim_frame(loop), 1);
  // Paused animations keep their frame until restarted.
  texture_anim_pause(loop);
  textures_animate(100 + 6 * 10);
  EXPECT_EQ(texture_anim_frame(loop), 1);
  texture_anim_restart(loop, 200);
  textures_animate(200);
  EXPECT_EQ(texture_anim_frame(loop), 2);
  EXPECT_EQ(texture_anim_frame(12345), -1);
}

TEST_F(TextureTest, AnimationErrorsCreateNothing) {
  std::vector<uint8_t> small = pattern(4, 4, 4), other = pattern(8, 4, 4);
  std::string ok_frame = "V7 " + v_bytes(small, 4, 4, 4).substr(3) + "\n";
  put("rgb.png", png_bytes(4, 4, 3, pattern(4, 4, 3)));
  struct Case {
    const char* label;
    std::string file;
    const char* message;
  } cases[] = {
      {"size mismatch",
       anim_file(2, 2, 1, 0, "0 1", ok_frame + "V7 " + v_bytes(other, 8, 4, 4).substr(3)),
       "Width/height mismatch reading .seq"},
      {"depth mismatch", anim_file(2, 2, 1, 0, "0 1", ok_frame + "PNG @rgb.png\n"),
       "Depth mismatch reading .seq"},
      {"missing png", anim_file(2, 2, 1, 0, "0 1", ok_frame + "PNG\n@gone.png\n"),
       "Can't read @gone.png"},
      {"unknown frame word", anim_file(2, 2, 1, 0, "0 1", ok_frame + "GIF x\n"),
       "Error reading .seq frame 1"},
      {"broken raster", anim_file(1, 1, 1, 0, "0", "V7 4 4\n\x01\x02"),
       "Error reading .seq frame 0"},
      {"end of file in frames", anim_file(2, 2, 1, 0, "0 1", ok_frame), "EOF while reading .seq"},
      {"end of file in header", "ANIM1\n2 2", "EOF while reading .seq"},
      {"end of file in sequence", "ANIM1\n3 1 1 0\n0 0", "EOF while reading .seq"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    message_history_clear(message_history);
    uploads.clear();
    put("bad.seq", c.file);
    EXPECT_EQ(texture_load("@bad.seq"), 0u);
    EXPECT_TRUE(seen(c.message)) << message_history_line(message_history, 0);
    EXPECT_TRUE(uploads.empty());
  }
  // Nonsense counts and sequence entries outside the frames are refused.
  for (const std::string& file :
       {anim_file(0, 1, 1, 0, "", ok_frame), anim_file(1, 1, 0, 0, "0", ok_frame),
        anim_file(1, 1, 1, 0, "1", ok_frame), anim_file(1, 1, 1, 0, "-1", ok_frame)}) {
    put("bad.seq", file);
    EXPECT_EQ(texture_load("@bad.seq"), 0u) << file.substr(0, 20);
  }
  EXPECT_TRUE(uploads.empty());
}

TEST_F(TextureTest, LargeAnimationFramesAreReduced) {
  std::vector<uint8_t> big = pattern(512, 256, 4);
  put("big.seq", anim_file(1, 1, 1, 1, "0", "V7 " + v_bytes(big, 512, 256, 4).substr(3)));
  const Upload* u = upload_of(texture_load("@big.seq"));
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->width, 256);
  EXPECT_EQ(u->height, 128);
  MipChain chain;
  ASSERT_TRUE(mip_chain_build(big.data(), 512, 256, 4, false, &chain));
  uint8_t* level1 = mip_level(&chain, 1, nullptr, nullptr);
  EXPECT_EQ(u->levels[0], std::vector<uint8_t>(level1, level1 + 256 * 128 * 4));
  mip_chain_free(&chain);
}

// ---------------------------------------------------------------- purging and generations

TEST_F(TextureTest, PurgeKeepsGenerationZeroAndCurrent) {
  debug_level = 1;
  put("menu.png", png_bytes(2, 2, 3, pattern(2, 2, 3)));
  put("old.png", png_bytes(2, 2, 3, pattern(2, 2, 3)));
  put("shared.png", png_bytes(2, 2, 3, pattern(2, 2, 3)));
  put("new.png", png_bytes(2, 2, 3, pattern(2, 2, 3)));
  put("anim.seq", anim_file(1, 1, 1, 0, "0", "V7 " + v_bytes(pattern(2, 2, 4), 2, 2, 4).substr(3)));
  uint32_t menu = texture_load("@menu.png");  // before any track
  texture_generation_advance();               // first track
  uint32_t old_tex = texture_load("@old.png");
  uint32_t shared = texture_load("@shared.png");
  uint32_t anim = texture_load("@anim.seq");
  uint8_t* pixels;
  int32_t w, h, c;
  ASSERT_TRUE(image_load("@old.png", &pixels, &w, &h, &c));
  texture_generation_advance();  // second track uses the shared texture again
  EXPECT_EQ(texture_load("@shared.png"), shared);
  uint32_t new_tex = texture_load("@new.png");
  uint64_t memory = texture_memory_used();

  textures_purge(false);
  EXPECT_NE(texture_find(menu), nullptr);
  EXPECT_EQ(texture_find(old_tex), nullptr);
  EXPECT_EQ(texture_find(anim), nullptr);
  EXPECT_NE(texture_find(shared), nullptr);
  EXPECT_NE(texture_find(new_tex), nullptr);
  EXPECT_EQ(destroyed, (std::vector<uint32_t>{old_tex, anim}));
  EXPECT_EQ(texture_memory_used(), memory - (4 + 1) * 3 - (4 + 1) * 4);
  EXPECT_TRUE(seen("deleting tid " + std::to_string(old_tex) + " (@old.png)"));
  EXPECT_TRUE(seen("deleting image @old.png"));
  EXPECT_TRUE(seen("deleting anim 0 for tid " + std::to_string(anim)));
  EXPECT_EQ(image_info("@old.png"), nullptr);
  EXPECT_EQ(texture_anim_frame(anim), -1);
  EXPECT_EQ(texture_count(), 3);

  // Loading the deleted name again makes a new texture.
  uint32_t again = texture_load("@old.png");
  EXPECT_NE(again, 0u);
  EXPECT_NE(again, old_tex);

  textures_purge(true);
  EXPECT_EQ(texture_count(), 0);
  EXPECT_EQ(texture_find(menu), nullptr);
  EXPECT_EQ(texture_memory_used(), 0u);
}

// ---------------------------------------------------------------- memory images

TEST_F(TextureTest, ImageLoadKeepsMipChainInMemory) {
  std::vector<uint8_t> px = pattern(4, 2, 3);
  put("img.png", png_bytes(4, 2, 3, px, {"note"}));
  uint8_t* pixels = nullptr;
  int32_t w = 0, h = 0, c = 0;
  ASSERT_TRUE(image_load("@img.png", &pixels, &w, &h, &c));
  EXPECT_EQ(w, 4);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(c, 3);
  MipChain chain;
  ASSERT_TRUE(mip_chain_build(px.data(), 4, 2, 3, false, &chain));
  size_t bytes = mip_chain_bytes(4, 2, 3, chain.level_count);
  EXPECT_EQ(std::vector<uint8_t>(pixels, pixels + bytes),
            std::vector<uint8_t>(chain.pixels, chain.pixels + bytes));
  mip_chain_free(&chain);
  uint8_t* again = nullptr;
  ASSERT_TRUE(image_load("@img.png", &again, &w, &h, &c));
  EXPECT_EQ(again, pixels);
  EXPECT_STREQ(image_info("@img.png"), "note");
  EXPECT_TRUE(uploads.empty());  // no texture made

  settings.model_texture_detail.value = 9;
  derive_runtime_settings();
  put("bigimg.ppm", "P6 256 256 255\n" + std::string(256 * 256 * 3, '\x40'));
  ASSERT_TRUE(image_load("@bigimg.ppm", &pixels, &w, &h, &c));
  EXPECT_EQ(w, 128);
  ASSERT_TRUE(image_load("!@bigimg.ppm", &pixels, &w, &h, &c));
  EXPECT_EQ(w, 256);
  EXPECT_FALSE(image_load("@none.png", &pixels, &w, &h, &c));
  EXPECT_EQ(pixels, nullptr);
}

// ---------------------------------------------------------------- variants

TEST_F(TextureTest, VariantsListSkinsUnderAPrefix) {
  for (const char* name : {"bikes/yz-red.png", "bikes/yz-blue.png.scram", "bikes/yz-red_norm.png",
                           "bikes/yz-x_spec.png.scram", "bikes/yz-notes.txt", "bikes/kx-red.png",
                           "yz-top.png", "bikes/yz-.png", "bikes/yz-dark.jpg"})
    put(name, "x");
  const char** names = nullptr;
  const char** labels = nullptr;
  int32_t count = texture_variants("yz-", &names, &labels);
  std::vector<std::pair<std::string, std::string>> got;
  for (int32_t i = 0; i < count; i++) got.push_back({names[i] ? names[i] : "(none)", labels[i]});
  // The default entry comes first; the others follow the file list's order.
  std::sort(got.begin() + 1, got.end());
  std::vector<std::pair<std::string, std::string>> expected = {
      {"(none)", "default"},        {"@bikes/yz-.png", ""}, {"@bikes/yz-blue.png", "blue"},
      {"@bikes/yz-red.png", "red"}, {"@yz-top.png", "top"},
  };
  EXPECT_EQ(got, expected);
  texture_variants_free(names, labels, count);

  count = texture_variants("zz", &names, &labels);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(names[0], nullptr);
  EXPECT_STREQ(labels[0], "default");
  texture_variants_free(names, labels, count);
}

}  // namespace
