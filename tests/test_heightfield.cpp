// The height field's loading: terrain.hf, terrain.png, shading, shadows,
// tilemap, the texture method and the samples digest.
#include "tests/heightfield_fixture.h"


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
