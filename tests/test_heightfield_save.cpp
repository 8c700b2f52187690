// Height-field queries, saving and decals.
#include "tests/heightfield_fixture.h"

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
