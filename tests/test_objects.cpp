// Track objects: billboards, statues and their grid, flaggers, cameras, lighting.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/mem.h"
#include "core/messages.h"
#include "physics/shape.h"
#include "render/texture.h"
#include "tests/test_helpers.h"
#include "track/heightfield.h"
#include "track/objects.h"

namespace {

// An in-memory ground h = base + slope_x * x + slope_z * z.
struct GroundFixture {
  std::unique_ptr<HeightField> hf{new HeightField{}};
  GroundFixture(int n, float spacing, float base, float slope_x, float slope_z) {
    EXPECT_TRUE(hf_set_geometry(hf.get(), n, spacing, -1000.0f, 1000.0f));
    int g = hf->grid_size;
    hf->heights = (float*)mem_alloc((size_t)g * g * sizeof(float));
    for (int j = 0; j < g; j++)
      for (int i = 0; i < g; i++)
        hf->heights[j * g + i] = base + slope_x * i * spacing + slope_z * j * spacing;
  }
  ~GroundFixture() { mem_free(hf->heights); }
  const HeightField* get() const { return hf.get(); }
};

// Writes a file, creating its directories (without a shell, so fixtures stay quick).
void put_file(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

DataFile* memory_file(const std::string& text) {
  return data_open_memory(text.data(), text.size(), false, false);
}

std::string ppm(int size = 4) {
  return "P6\n" + std::to_string(size) + " " + std::to_string(size) + "\n255\n" +
         std::string((size_t)size * size * 3, '\x80');
}

// Game data in "<root>/game/", home in "<root>/xdg/Rutmoto/"; the object lists
// start empty and are freed after each test.
class ObjectsEnv : public ::testing::Test {
 protected:
  TempDir root;
  std::string game = root.path + "/game/";
  std::string home = root.path + "/xdg/Rutmoto/";
  ScopedEnv env_xdg{"XDG_DATA_HOME", (root.path + "/xdg").c_str()};
  ScopedEnv env_rt{"RT_HOME", (root.path + "/game").c_str()};
  TrackObjects objects;

  void SetUp() override {
    mkdir(game.c_str(), 0777);
    for (const char* name : {"pic.ppm", "a.ppm", "b.ppm", "c.ppm", "d.ppm", "e.ppm"})
      put_file(game + name, ppm());
    put_file(game + "box.shp", "1\n0 0 0 2 1 1000 10\n");
    file_list_free();
    objects_init(&objects);
  }
  void TearDown() override {
    objects_free(&objects);
    shape_cache_free();
    textures_purge(true);
    file_list_free();
  }
  void add_file(const std::string& name, const std::string& content) {
    put_file(game + name, content);
    file_list_free();
  }
};

// One fixture class per suite.
class ObjectsTest : public ObjectsEnv {};
class BillboardTest : public ObjectsEnv {};
class StatueTest : public ObjectsEnv {};
class FlaggerTest : public ObjectsEnv {};
class CameraTest : public ObjectsEnv {};
class LightingTest : public ObjectsEnv {};

void expect_vec(const float* v, float x, float y, float z, float eps = 1e-5f) {
  EXPECT_NEAR(v[0], x, eps);
  EXPECT_NEAR(v[1], y, eps);
  EXPECT_NEAR(v[2], z, eps);
}

// Column c of a statue orientation.
std::vector<float> axis(const float m[3][3], int c) { return {m[0][c], m[1][c], m[2][c]}; }

float dot(const std::vector<float>& a, const std::vector<float>& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

}  // namespace

// ---------------------------------------------------------------- lifetime

TEST_F(ObjectsTest, InitLeavesEmptyListsAndNoCameraForAnyGate) {
  EXPECT_EQ(objects.billboards.count, 0);
  EXPECT_EQ(objects.statues.count, 0);
  EXPECT_EQ(objects.flaggers.count, 0);
  EXPECT_EQ(objects.cameras.count, 0);
  EXPECT_EQ(objects.starter.billboard, -1);
  EXPECT_EQ(objects.lap_flagger.billboard, -1);
  for (int32_t camera : objects.gate_camera) EXPECT_EQ(camera, -1);
  for (const auto& bucket : objects.statue_grid) EXPECT_EQ(bucket.count, 0);

  billboards_reserve(&objects);
  objects.gate_camera[3] = 0;
  objects_free(&objects);
  EXPECT_EQ(objects.billboards.count, 0);
  EXPECT_EQ(objects.billboards.data, nullptr);
  EXPECT_EQ(objects.gate_camera[3], -1);
}

TEST_F(ObjectsTest, LoadersReportMissingFilesAndAddNothing) {
  GroundFixture ground(2, 1.0f, 0, 0, 0);
  EXPECT_FALSE(billboards_load(&objects, ground.get(), "@notrack/"));
  EXPECT_FALSE(statues_load(&objects, ground.get(), "@notrack/"));
  EXPECT_FALSE(flaggers_load(&objects, ground.get(), "@notrack/", 4));
  EXPECT_FALSE(cameras_load_hf(&objects, ground.get(), "@notrack/"));
  EXPECT_EQ(objects.billboards.count, 0);
  EXPECT_EQ(objects.statues.count, 0);
  EXPECT_EQ(objects.flaggers.count, 0);
  EXPECT_EQ(objects.cameras.count, 0);
}

TEST_F(ObjectsTest, LoadersReadTheTrackDirectory) {
  GroundFixture ground(2, 1.0f, 2.0f, 0, 0);
  add_file("trk/billboards", "[1 0.5 1] 1 1 @a.ppm\n[2 0.5 2] 1 1 @b.ppm\n");
  add_file("trk/statues", "[1 0 1] 0 null null @box.shp\n");
  add_file("trk/flaggers", "[1 0 1] [2 0 2] 1 1 3 @a.ppm @b.ppm @c.ppm @d.ppm @e.ppm\n");
  add_file("trk/cameras", "addcamera 1 5 1\n");
  billboards_reserve(&objects);
  EXPECT_TRUE(billboards_load(&objects, ground.get(), "@trk/"));
  EXPECT_TRUE(statues_load(&objects, ground.get(), "@trk/"));
  EXPECT_TRUE(flaggers_load(&objects, ground.get(), "@trk/", 4));
  EXPECT_TRUE(cameras_load_hf(&objects, ground.get(), "@trk/"));
  ASSERT_EQ(objects.billboards.count, RESERVED_BILLBOARDS + 3);
  EXPECT_FLOAT_EQ(objects.billboards.data[RESERVED_BILLBOARDS].y, 2.5f);
  EXPECT_EQ(objects.billboards.data[RESERVED_BILLBOARDS].texture, texture_load("@a.ppm"));
  EXPECT_EQ(objects.statues.count, 1);
  EXPECT_EQ(objects.starter.billboard, RESERVED_BILLBOARDS + 2);
  ASSERT_EQ(objects.cameras.count, 1);
  EXPECT_FLOAT_EQ(objects.cameras.data[0].y, 7.0f);
}

// ---------------------------------------------------------------- billboards

TEST_F(BillboardTest, ReservedSlotsComeFirst) {
  GroundFixture ground(2, 1.0f, 3.0f, 0, 0);
  billboards_reserve(&objects);
  ASSERT_EQ(objects.billboards.count, RESERVED_BILLBOARDS);
  for (int i : {0, 1, RESERVED_BILLBOARDS - 1}) {
    const Billboard& b = objects.billboards.data[i];
    EXPECT_EQ(b.x, 0.0f);
    EXPECT_EQ(b.y, 0.0f);
    EXPECT_EQ(b.z, 0.0f);
    EXPECT_EQ(b.size, 1.0f);
    EXPECT_EQ(b.extra, 1.0f);
    EXPECT_EQ(b.texture, 0u);
    EXPECT_EQ(b.name, nullptr);
  }
  EXPECT_TRUE(billboard_add(&objects, ground.get(), "[1 2 3] 4 5 @pic.ppm"));
  EXPECT_EQ(objects.billboards.count, RESERVED_BILLBOARDS + 1);
  const Billboard& b = objects.billboards.data[RESERVED_BILLBOARDS];
  EXPECT_FLOAT_EQ(b.x, 1.0f);
  EXPECT_FLOAT_EQ(b.offset, 2.0f);
  EXPECT_FLOAT_EQ(b.y, 5.0f);  // ground 3 + offset 2
  EXPECT_FLOAT_EQ(b.z, 3.0f);
  EXPECT_FLOAT_EQ(b.size, 4.0f);
  EXPECT_FLOAT_EQ(b.extra, 5.0f);
  EXPECT_NE(b.texture, 0u);
  EXPECT_EQ(b.texture, texture_load("@pic.ppm"));
}

TEST_F(BillboardTest, ColourPrefixes) {
  struct Case {
    const char* name;
    uint8_t r, g, b;
    const char* plain;  // stored picture name, nullptr = none
    bool textured;
  };
  const Case cases[] = {
      {"@pic.ppm", 255, 255, 255, "@pic.ppm", true},
      {"#0a141e#@pic.ppm", 10, 20, 30, "@pic.ppm", true},
      {"#0A141E#@pic.ppm", 10, 20, 30, "@pic.ppm", true},
      {"#ff0000#@pic.ppm", 255, 0, 0, "@pic.ppm", true},
      {"#0a141e#", 10, 20, 30, nullptr, false},                        // colour without picture
      {"#0a141x#@pic.ppm", 255, 255, 255, "#0a141x#@pic.ppm", false},  // not hex
      {"#12345#@pic.ppm", 255, 255, 255, "#12345#@pic.ppm", false},    // eighth is not '#'
      {"#0a141e", 255, 255, 255, "#0a141e", false},                    // too short
      {"@missing.ppm", 255, 255, 255, "@missing.ppm", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t index = billboard_create(&objects, nullptr, 0, 0, 0, 1, 1, c.name);
    ASSERT_GE(index, 0);
    const Billboard& b = objects.billboards.data[index];
    EXPECT_EQ(b.r, c.r);
    EXPECT_EQ(b.g, c.g);
    EXPECT_EQ(b.b, c.b);
    EXPECT_EQ(b.a, 255);
    if (c.plain) {
      EXPECT_STREQ(b.name, c.plain);
    } else {
      EXPECT_EQ(b.name, nullptr);
    }
    EXPECT_EQ(b.texture != 0, c.textured);
  }
}

TEST_F(BillboardTest, MalformedLinesAddNothing) {
  const char* lines[] = {
      "",
      "[1 2 3] 4 5",           // no name
      "[1 2] 3 4 5 @pic.ppm",  // two coordinates
      "1 2 3 4 5 @pic.ppm",    // no brackets
      "[1 2 3 4 5 @pic.ppm",   // unclosed
      "[a 2 3] 4 5 @pic.ppm",
      "[nan 2 3] 4 5 @pic.ppm",  // not a position
      "[1 inf 3] 4 5 @pic.ppm",
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(billboard_add(&objects, nullptr, line));
  }
  EXPECT_EQ(objects.billboards.count, 0);
}

TEST_F(BillboardTest, ReadingStopsAtTheFirstBadLine) {
  DataFile* f = memory_file(
      "[1 0 1] 1 1 @a.ppm\r\n"
      "\n"
      "   \t\n"
      "  [2 0 2] 1 1 #010203#@b.ppm\n"
      "[3 0 3] 1 1\n"
      "[4 0 4] 1 1 @c.ppm\n");
  EXPECT_EQ(billboards_read(&objects, nullptr, f), 2);
  data_close(f);
  ASSERT_EQ(objects.billboards.count, 2);
  EXPECT_STREQ(objects.billboards.data[0].name, "@a.ppm");
  EXPECT_STREQ(objects.billboards.data[1].name, "@b.ppm");
  EXPECT_EQ(objects.billboards.data[1].b, 3);
}

TEST_F(BillboardTest, SaveWritesFileBillboardsAndReadsBack) {
  GroundFixture ground(2, 1.0f, 1.0f, 0.25f, 0);
  billboards_reserve(&objects);
  billboard_create(&objects, ground.get(), 7, 0, 7, 2, 2, "@d.ppm");  // before the file ones
  int32_t first = objects.billboards.count;
  billboard_create(&objects, ground.get(), 1, 0.5f, 3, 2, 1, "@pic.ppm");
  billboard_create(&objects, ground.get(), 4, 1, 5, 1, 0.25f, "#0A141E#@pic.ppm");
  billboard_create(&objects, ground.get(), 2, 0, 2, 1, 1, "#0a141e#");  // no picture: dropped
  billboard_create(&objects, ground.get(), 6, 0, 6, 1, 1, "#ffffff#@a.ppm");
  billboard_create(&objects, ground.get(), 5, 2, 1, 3, 3, "@missing.ppm");
  ASSERT_TRUE(billboards_save(&objects, "@trk/", first));

  std::string written = read_file(home + "trk/billboards");
  EXPECT_EQ(written,
            "[1.000000 0.500000 3.000000] 2.000000 1.000000 @pic.ppm\n"
            "[4.000000 1.000000 5.000000] 1.000000 0.250000 #0a141e#@pic.ppm\n"
            "[6.000000 0.000000 6.000000] 1.000000 1.000000 @a.ppm\n"
            "[5.000000 2.000000 1.000000] 3.000000 3.000000 @missing.ppm\n");

  TrackObjects again;
  objects_init(&again);
  ASSERT_TRUE(billboards_load(&again, ground.get(), "@trk/"));
  ASSERT_EQ(again.billboards.count, 4);
  const int kept[] = {first, first + 1, first + 3, first + 4};
  for (int i = 0; i < 4; i++) {
    SCOPED_TRACE(i);
    const Billboard& a = objects.billboards.data[kept[i]];
    const Billboard& b = again.billboards.data[i];
    EXPECT_FLOAT_EQ(a.x, b.x);
    EXPECT_FLOAT_EQ(a.y, b.y);
    EXPECT_FLOAT_EQ(a.z, b.z);
    EXPECT_FLOAT_EQ(a.offset, b.offset);
    EXPECT_FLOAT_EQ(a.size, b.size);
    EXPECT_FLOAT_EQ(a.extra, b.extra);
    EXPECT_EQ(a.texture, b.texture);
    EXPECT_EQ(a.name, b.name);  // interned
    EXPECT_EQ(a.r, b.r);
    EXPECT_EQ(a.g, b.g);
    EXPECT_EQ(a.b, b.b);
  }
  objects_free(&again);
}

TEST_F(BillboardTest, SaveReportsAnUnwritableDirectory) {
  put_file(root.path + "/plainfile", "x");
  billboard_create(&objects, nullptr, 1, 0, 1, 1, 1, "@pic.ppm");
  std::string path = root.path + "/plainfile/";
  EXPECT_FALSE(billboards_save(&objects, path.c_str(), 0));
  EXPECT_STREQ(message_history_line(message_history, 0), "Can't open 'billboards'\n");
  EXPECT_FALSE(statues_save(&objects, path.c_str(), 0));
  EXPECT_STREQ(message_history_line(message_history, 0), "Can't open 'statues'\n");
}

// ---------------------------------------------------------------- statues

TEST(StatueOrientation, AngleRanges) {
  // Ground rising 0.5 per unit along x and 0.25 along z.
  GroundFixture slope(2, 2.0f, 1.0f, 0.5f, 0.25f);
  float n_len = sqrtf(0.25f + 1.0f + 0.0625f);
  struct Case {
    float angle;
    float face_distance;
    float up[3];
    float yaw;  // heading of the first axis in the ground plane, NAN = identity
  };
  const float pi = 3.14159265f;
  const Case cases[] = {
      {4.0f, 16.0f, {0, 1, 0}, NAN},
      {3.25f, exp2f(3.25f), {0, 1, 0}, NAN},
      {-7.0f, 0, {0, 1, 0}, -7.0f},
      {-2 * pi - 0.001f, 0, {0, 1, 0}, -2 * pi - 0.001f},
      {0.0f, 0, {-0.5f / n_len, 1 / n_len, -0.25f / n_len}, 0.0f},
      {1.0f, 0, {-0.5f / n_len, 1 / n_len, -0.25f / n_len}, 1.0f},
      {-6.0f, 0, {-0.5f / n_len, 1 / n_len, -0.25f / n_len}, -6.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.angle);
    float m[3][3];
    float face = -1;
    statue_orientation(slope.get(), 3.0f, 3.0f, c.angle, m, &face);
    EXPECT_FLOAT_EQ(face, c.face_distance);
    std::vector<float> first = axis(m, 0), up = axis(m, 1), third = axis(m, 2);
    expect_vec(up.data(), c.up[0], c.up[1], c.up[2]);
    if (std::isnan(c.yaw)) {
      expect_vec(first.data(), 1, 0, 0);
      expect_vec(third.data(), 0, 0, 1);
      continue;
    }
    // Orthonormal and right-handed (first x up = third).
    EXPECT_NEAR(dot(first, first), 1, 1e-5);
    EXPECT_NEAR(dot(third, third), 1, 1e-5);
    EXPECT_NEAR(dot(first, up), 0, 1e-5);
    EXPECT_NEAR(dot(third, up), 0, 1e-5);
    EXPECT_NEAR(dot(first, third), 0, 1e-5);
    EXPECT_NEAR(first[1] * up[2] - first[2] * up[1], third[0], 1e-5);
    // The yaw is kept: the first axis only tilts within the vertical plane
    // of its unturned direction, so the third axis stays square to it.
    std::vector<float> heading = {cosf(c.yaw), 0, -sinf(c.yaw)};
    EXPECT_NEAR(dot(third, heading), 0, 1e-5) << "yaw changed";
    EXPECT_GT(dot(first, heading), 0.8f);
    if (c.up[1] == 1.0f) {
      expect_vec(first.data(), heading[0], 0, heading[2]);
    }
  }
  // On flat ground the tilt vanishes: the exact rotation about y.
  GroundFixture flat(2, 2.0f, 0, 0, 0);
  float m[3][3], face;
  statue_orientation(flat.get(), 3, 3, 1.0f, m, &face);
  expect_vec(axis(m, 0).data(), cosf(1.0f), 0, -sinf(1.0f));
  expect_vec(axis(m, 1).data(), 0, 1, 0);
  expect_vec(axis(m, 2).data(), sinf(1.0f), 0, cosf(1.0f));
}

TEST_F(StatueTest, AddPlacesOnTheGroundAndLoadsItsParts) {
  GroundFixture slope(2, 2.0f, 1.0f, 0.5f, 0.25f);
  int32_t a = statue_add(&objects, slope.get(), "@m.jm", "@pic.ppm", "@box.shp", 2, 1.5f, 4, 0);
  int32_t b = statue_add(&objects, slope.get(), "null", "@pic.ppm", "null", 1, 0, 1, 4);
  int32_t c = statue_add(&objects, slope.get(), nullptr, nullptr, "@gone.shp", 1, 0, 1, -7);
  ASSERT_EQ(a, 0);
  ASSERT_EQ(b, 1);
  ASSERT_EQ(c, 2);
  const Statue& sa = objects.statues.data[a];
  EXPECT_FLOAT_EQ(sa.y, 1.0f + 0.5f * 2 + 0.25f * 4 + 1.5f);
  EXPECT_FLOAT_EQ(sa.offset, 1.5f);
  EXPECT_STREQ(sa.model_name, "@m.jm");
  EXPECT_EQ(sa.model, nullptr);
  EXPECT_EQ(sa.texture, texture_load("@pic.ppm"));
  EXPECT_NE(sa.texture, 0u);
  ASSERT_NE(sa.shape, nullptr);
  EXPECT_EQ(sa.shape, shape_load("@box.shp"));
  EXPECT_FLOAT_EQ(sa.shape->bounding_radius, 2.0f);
  EXPECT_EQ(sa.last_hit_tick, -1);
  EXPECT_EQ(sa.face_distance, 0.0f);
  EXPECT_LT(sa.orientation[1][1], 1.0f);  // tilted with the slope

  const Statue& sb = objects.statues.data[b];
  EXPECT_EQ(sb.model_name, nullptr);
  EXPECT_EQ(sb.shape_name, nullptr);
  EXPECT_STREQ(sb.texture_name, "@pic.ppm");
  EXPECT_EQ(sb.texture, 0u);  // a texture without a model is not loaded
  EXPECT_FLOAT_EQ(sb.face_distance, 16.0f);
  EXPECT_EQ(sb.orientation[1][1], 1.0f);

  const Statue& sc = objects.statues.data[c];
  EXPECT_EQ(sc.shape, nullptr);  // missing shape file: none, but the name stays
  EXPECT_STREQ(sc.shape_name, "@gone.shp");
  EXPECT_FLOAT_EQ(sc.angle, -7.0f);

  // After the ground is raised, placing again follows it.
  int g = slope.hf->grid_size;
  for (int k = 0; k < g * g; k++) slope.hf->heights[k] += 2.0f;
  statue_place(&objects, slope.get(), a);
  EXPECT_FLOAT_EQ(objects.statues.data[a].y, 3.0f + 1.5f + 2.0f);
}

TEST_F(StatueTest, NormalAndSpecularMapsWithShaders) {
  for (const char* name : {"rock_norm-repeat.png", "rock_spec-repeat.ppm", "wall_norm.ppm",
                           "model_spec.png", "dir.v2/plain_norm.ppm"})
    add_file(name, ppm());
  objects.shader_textures = true;
  struct Case {
    const char* model;
    const char* texture;
    const char* normal;  // expected texture names, nullptr = none
    const char* specular;
  };
  const Case cases[] = {
      {"@m.jm", "@rock-repeat.ppm", "@rock_norm-repeat.png", "@rock_spec-repeat.ppm"},
      {"@model.jm", "@wall.ppm", "@wall_norm.ppm", "@model_spec.png"},
      {"@x.jm", "@dir.v2/plain", "@dir.v2/plain_norm.ppm", nullptr},
      {"@x.jm", "@pic.ppm", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.texture);
    int32_t i = statue_add(&objects, nullptr, c.model, c.texture, "null", 0, 0, 0, 0);
    ASSERT_GE(i, 0);
    const Statue& s = objects.statues.data[i];
    EXPECT_EQ(s.normal_texture, c.normal ? texture_load(c.normal) : 0u);
    EXPECT_EQ(s.specular_texture, c.specular ? texture_load(c.specular) : 0u);
    if (c.normal) {
      EXPECT_NE(s.normal_texture, 0u);
    }
  }
  // Without shader rendering no maps are looked for.
  objects.shader_textures = false;
  int32_t i = statue_add(&objects, nullptr, "@m.jm", "@rock-repeat.ppm", "null", 0, 0, 0, 0);
  EXPECT_EQ(objects.statues.data[i].normal_texture, 0u);
  EXPECT_EQ(objects.statues.data[i].specular_texture, 0u);
}

TEST_F(StatueTest, LinesAndMalformedLines) {
  EXPECT_TRUE(statue_add_line(&objects, nullptr, "[1 2 3] 0.5 @m.jm @pic.ppm @box.shp"));
  EXPECT_TRUE(statue_add_line(&objects, nullptr, "  [ 1 2 3 ] 0.5 null null null  "));
  const char* bad[] = {
      "[1 2 3] 0.5 @m.jm @pic.ppm",  // six fields
      "[1 2 3] @m.jm @pic.ppm @box.shp",
      "[1 2 3 0.5 @m.jm @pic.ppm @box.shp",
      "[1 2 nan] 0.5 a b c",
      "",
  };
  for (const char* line : bad) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(statue_add_line(&objects, nullptr, line));
  }
  EXPECT_EQ(objects.statues.count, 2);

  DataFile* f = memory_file("[1 0 1] 0 a b c\n\n[2 0 2] 0 a b\n[3 0 3] 0 a b c\n");
  EXPECT_EQ(statues_read(&objects, nullptr, f), 1);
  data_close(f);
  EXPECT_EQ(objects.statues.count, 3);
}

TEST_F(StatueTest, SaveStartsAfterTheGateStatuesAndReadsBack) {
  GroundFixture slope(2, 2.0f, 1.0f, 0.5f, 0.25f);
  // A starting-gate statue created before the file's statues.
  statue_add(&objects, slope.get(), "@startgate.jm", "@startgate.ppm", "@box.shp", 5, 0, 5, 1);
  int32_t first = objects.statues.count;
  statue_add(&objects, slope.get(), "@m.jm", "@pic.ppm", "@box.shp", 1, 0, 2, 0.5f);
  statue_add(&objects, slope.get(), "null", "null", "null", 3, 1, 4, -7);
  statue_add(&objects, slope.get(), "@m.jm", "null", "@gone.shp", 2, 0.25f, 2, 4);
  ASSERT_TRUE(statues_save(&objects, "@trk/", first));
  EXPECT_EQ(read_file(home + "trk/statues"),
            "[1.000000 0.000000 2.000000] 0.500000 @m.jm @pic.ppm @box.shp\n"
            "[3.000000 1.000000 4.000000] -7.000000 null null null\n"
            "[2.000000 0.250000 2.000000] 4.000000 @m.jm null @gone.shp\n");

  TrackObjects again;
  objects_init(&again);
  ASSERT_TRUE(statues_load(&again, slope.get(), "@trk/"));
  ASSERT_EQ(again.statues.count, 3);
  for (int i = 0; i < 3; i++) {
    SCOPED_TRACE(i);
    const Statue& a = objects.statues.data[first + i];
    const Statue& b = again.statues.data[i];
    EXPECT_FLOAT_EQ(a.x, b.x);
    EXPECT_FLOAT_EQ(a.y, b.y);
    EXPECT_FLOAT_EQ(a.z, b.z);
    EXPECT_FLOAT_EQ(a.offset, b.offset);
    EXPECT_FLOAT_EQ(a.angle, b.angle);
    EXPECT_FLOAT_EQ(a.face_distance, b.face_distance);
    for (int r = 0; r < 3; r++)
      for (int k = 0; k < 3; k++) EXPECT_FLOAT_EQ(a.orientation[r][k], b.orientation[r][k]);
    EXPECT_EQ(a.model_name, b.model_name);
    EXPECT_EQ(a.texture_name, b.texture_name);
    EXPECT_EQ(a.shape_name, b.shape_name);
    EXPECT_EQ(a.shape, b.shape);
    EXPECT_EQ(a.texture, b.texture);
  }
  objects_free(&again);
}

// ---------------------------------------------------------------- statue grid

TEST(StatueGrid, BucketCoordinates) {
  // world 128: the grid spans 16..112, buckets 12 units wide.
  struct Case {
    float v;
    int32_t coord;
  };
  const Case cases[] = {{-50, 0},   {0, 0},      {16.5f, 0},  {27.9f, 0},   {28.1f, 1},
                        {64, 4},    {99.9f, 6},  {100.1f, 7}, {112, 7},     {128, 7},
                        {1e30f, 7}, {-1e30f, 0}, {NAN, 0},    {INFINITY, 7}};
  for (const Case& c : cases) EXPECT_EQ(statue_grid_coord(c.v, 128.0f), c.coord) << c.v;
  EXPECT_EQ(statue_grid_coord(50.0f, 0.0f), 0);  // no terrain
}

TEST_F(StatueTest, GridAndStatuesNear) {
  GroundFixture ground(4, 4.0f, 0, 0, 0);  // world 128
  ASSERT_FLOAT_EQ(ground.hf->world_size, 128.0f);
  const HeightField* hf = ground.get();
  int32_t right = statue_add(&objects, hf, "null", "null", "@box.shp", 44, 0, 34, 0);  // (2,1)
  int32_t a = statue_add(&objects, hf, "null", "null", "@box.shp", 34, 0, 34, 0);      // (1,1)
  int32_t straddle =
      statue_add(&objects, hf, "null", "null", "@box.shp", 39, 0, 34, 0);               // (1..2,1)
  int32_t border = statue_add(&objects, hf, "null", "null", "@box.shp", 120, 0, 5, 0);  // (7,0)
  int32_t shapeless = statue_add(&objects, hf, "@m.jm", "null", "null", 64, 0, 64, 0);
  int32_t far = statue_add(&objects, hf, "null", "null", "@box.shp", 80, 0, 80, 0);  // (5,5)
  statue_grid_build(&objects, hf);

  auto bucket = [&](int i, int j) {
    const GrowArray<int32_t>& b = objects.statue_grid[j * STATUE_GRID_SIDE + i];
    return std::vector<int32_t>(b.data, b.data + b.count);
  };
  EXPECT_EQ(bucket(1, 1), (std::vector<int32_t>{a, straddle}));
  EXPECT_EQ(bucket(2, 1), (std::vector<int32_t>{right, straddle}));
  EXPECT_EQ(bucket(7, 0), (std::vector<int32_t>{border}));
  EXPECT_EQ(bucket(5, 5), (std::vector<int32_t>{far}));
  int entered = 0;
  for (const auto& b : objects.statue_grid)
    for (int k = 0; k < b.count; k++) {
      EXPECT_NE(b.data[k], shapeless);
      entered++;
    }
  EXPECT_EQ(entered, 6);  // the straddling statue sits in two buckets

  GrowArray<int32_t> near;
  auto near_list = [&](float x, float z) {
    objects_statues_near(&objects, x, z, &near);
    return std::vector<int32_t>(near.data, near.data + near.count);
  };
  // 28.5..40.5 covers buckets 1..2 on both axes: from neighbouring buckets,
  // ascending, the straddling statue once.
  EXPECT_EQ(near_list(34.5f, 34.5f), (std::vector<int32_t>{right, a, straddle}));
  // 16.5..28.5 stays in bucket 0 along x: only bucket (0..1, 1) -> a and straddle.
  EXPECT_EQ(near_list(22.5f, 34.5f), (std::vector<int32_t>{a, straddle}));
  // Outside the grid's span the border buckets answer.
  EXPECT_EQ(near_list(127.0f, 1.0f), (std::vector<int32_t>{border}));
  EXPECT_EQ(near_list(500.0f, -500.0f), (std::vector<int32_t>{border}));
  EXPECT_TRUE(near_list(64, 64).empty());
  EXPECT_EQ(near_list(NAN, NAN).size(), 0u);  // bucket (0,0) is empty

  // Re-entering a statue and rebuilding keep each index once per bucket.
  statue_grid_add(&objects, hf, a);
  statue_grid_build(&objects, hf);
  EXPECT_EQ(bucket(1, 1), (std::vector<int32_t>{a, straddle}));
  // Moving a statue and rebuilding moves it to its new buckets.
  objects.statues.data[a].x = 80;
  objects.statues.data[a].z = 80;
  statue_place(&objects, hf, a);
  statue_grid_build(&objects, hf);
  EXPECT_EQ(bucket(1, 1), (std::vector<int32_t>{straddle}));
  EXPECT_EQ(near_list(80, 80), (std::vector<int32_t>{a, far}));
  grow_free(near);
}

// ---------------------------------------------------------------- flaggers

TEST_F(FlaggerTest, FileWithStarterLapFlaggerAndGateFlaggers) {
  GroundFixture ground(2, 1.0f, 0.5f, 0.25f, 0);
  DataFile* f = memory_file(
      "[1 2 3] [5 1 7] 1.5 0.5 4.0\n"
      "@a.ppm @b.ppm @c.ppm @d.ppm @e.ppm\n"
      "[2 1 2] 2 0.75 @c.ppm @d.ppm @e.ppm @a.ppm\n"
      "[3 0 3] 1 1 0 7 -5 2 @b.ppm @c.ppm\n"
      "[4 0 4] 1 1 -1 -1 -1 1 @d.ppm @e.ppm\n"
      "[5 0 5] 1 1 x 1 1 1 @d.ppm @e.ppm\n"
      "[6 0 6] 1 1 1 1 1 1 @d.ppm @e.ppm\n");
  flaggers_read(&objects, ground.get(), f, 5);
  data_close(f);
  auto tex = [](const char* name) { return texture_load(name); };

  ASSERT_EQ(objects.billboards.count, 4);
  const StarterFlagger& s = objects.starter;
  ASSERT_EQ(s.billboard, 0);
  const Billboard& sb = objects.billboards.data[0];
  EXPECT_FLOAT_EQ(sb.x, 1);
  EXPECT_FLOAT_EQ(sb.y, 0.5f + 0.25f + 2);
  EXPECT_FLOAT_EQ(sb.size, 1.5f);
  EXPECT_FLOAT_EQ(sb.extra, 0.5f);
  EXPECT_EQ(sb.texture, tex("@a.ppm"));
  EXPECT_FLOAT_EQ(s.x2, 5);
  EXPECT_FLOAT_EQ(s.y2, 0.5f + 1.25f + 1);
  EXPECT_FLOAT_EQ(s.z2, 7);
  EXPECT_FLOAT_EQ(s.duration, 4);
  const char* starter_names[] = {"@a.ppm", "@b.ppm", "@c.ppm", "@d.ppm", "@e.ppm"};
  for (int i = 0; i < STARTER_TEXTURES; i++) EXPECT_EQ(s.textures[i], tex(starter_names[i])) << i;

  const LapFlagger& lap = objects.lap_flagger;
  ASSERT_EQ(lap.billboard, 1);
  EXPECT_FLOAT_EQ(objects.billboards.data[1].size, 2);
  EXPECT_EQ(objects.billboards.data[1].texture, tex("@c.ppm"));
  const char* lap_names[] = {"@c.ppm", "@d.ppm", "@e.ppm", "@a.ppm"};
  for (int i = 0; i < LAP_FLAGGER_TEXTURES; i++) EXPECT_EQ(lap.textures[i], tex(lap_names[i])) << i;

  // The fifth record does not match: reading stops before the sixth.
  ASSERT_EQ(objects.flaggers.count, 2);
  const Flagger& f0 = objects.flaggers.data[0];
  EXPECT_EQ(f0.billboard, 2);
  EXPECT_EQ(f0.normal_texture, tex("@b.ppm"));
  EXPECT_EQ(f0.waving_texture, tex("@c.ppm"));
  EXPECT_EQ(objects.billboards.data[2].texture, tex("@b.ppm"));
  const int32_t gates0[] = {0, 4, -1, 2};  // clamped to -1 .. 4
  for (int i = 0; i < FLAGGER_GATES; i++) EXPECT_EQ(f0.gates[i], gates0[i]) << i;
  const Flagger& f1 = objects.flaggers.data[1];
  const int32_t gates1[] = {-1, -1, -1, 1};
  for (int i = 0; i < FLAGGER_GATES; i++) EXPECT_EQ(f1.gates[i], gates1[i]) << i;
}

TEST_F(FlaggerTest, ReadingStopsAtTheFirstItemThatDoesNotMatch) {
  struct Case {
    const char* text;
    bool starter, lap;
    int flaggers;
  };
  const Case cases[] = {
      {"", false, false, 0},
      {"[1 2 3] [5 1 7] 1.5 0.5 4.0 @a.ppm @b.ppm @c.ppm @d.ppm", false, false, 0},
      {"[1 2 3] [5 1 7] 1.5 0.5 4.0 @a.ppm @b.ppm @c.ppm @d.ppm @e.ppm", true, false, 0},
      {"[1 2 3] [5 1 7] 1.5 0.5 4.0 @a.ppm @b.ppm @c.ppm @d.ppm @e.ppm "
       "[2 1 2] 2 0.75 @c.ppm @d.ppm @e.ppm",
       true, false, 0},
      {"[1 2 3] [5 1 7] 1.5 0.5 4.0 @a.ppm @b.ppm @c.ppm @d.ppm @e.ppm "
       "[2 1 2] 2 0.75 @c.ppm @d.ppm @e.ppm @a.ppm [3 0 3] 1 1 0 1 2 3 @b.ppm",
       true, true, 0},
      {"[1 2 3] [5 1 nan] 1.5 0.5 4.0 @a.ppm @b.ppm @c.ppm @d.ppm @e.ppm", false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    objects_free(&objects);
    DataFile* f = memory_file(c.text);
    flaggers_read(&objects, nullptr, f, 4);
    data_close(f);
    EXPECT_EQ(objects.starter.billboard >= 0, c.starter);
    EXPECT_EQ(objects.lap_flagger.billboard >= 0, c.lap);
    EXPECT_EQ(objects.flaggers.count, c.flaggers);
  }
  // Without timing gates every gate index becomes -1.
  objects_free(&objects);
  DataFile* f = memory_file(
      "[1 2 3] [5 1 7] 1 1 1 @a.ppm @b.ppm @c.ppm @d.ppm @e.ppm\n"
      "[2 1 2] 2 0.75 @c.ppm @d.ppm @e.ppm @a.ppm\n[3 0 3] 1 1 0 1 2 3 @b.ppm @c.ppm\n");
  flaggers_read(&objects, nullptr, f, 0);
  data_close(f);
  ASSERT_EQ(objects.flaggers.count, 1);
  for (int32_t gate : objects.flaggers.data[0].gates) EXPECT_EQ(gate, -1);
}

// ---------------------------------------------------------------- cameras

TEST_F(CameraTest, FileWithGateMappings) {
  GroundFixture ground(2, 1.0f, 2.0f, 0, 0.5f);
  DataFile* f = memory_file(
      "# trackside cameras\n"
      "fov -60\n"
      "autofovsize -3\n"
      "gate 3 7 300 5\n"
      "addcamera 1 5 2\n"
      "gate\t9 x 10\n"
      "  addcamera 4 1 6\r\n"
      "addcamera 4 1\n"
      "fov 70\n"
      "camera 1 2 3\n"
      "gate 0 1\n");
  cameras_read(&objects, ground.get(), f);
  data_close(f);
  ASSERT_EQ(objects.cameras.count, 2);
  const TrackCamera& c0 = objects.cameras.data[0];
  EXPECT_FLOAT_EQ(c0.x, 1);
  EXPECT_FLOAT_EQ(c0.y, 2 + 0.5f * 2 + 5);
  EXPECT_FLOAT_EQ(c0.z, 2);
  EXPECT_FLOAT_EQ(c0.fov, 60);
  EXPECT_FLOAT_EQ(c0.autofovsize, 3);
  for (float v : c0.state) EXPECT_EQ(v, 0.0f);
  const TrackCamera& c1 = objects.cameras.data[1];
  EXPECT_FLOAT_EQ(c1.y, 2 + 0.5f * 6 + 1);
  EXPECT_FLOAT_EQ(c1.fov, 90);  // reset after the first camera
  EXPECT_FLOAT_EQ(c1.autofovsize, 0);

  for (int gate = 0; gate < CAMERA_GATE_SLOTS; gate++) {
    int expected = -1;
    if (gate == 3 || gate == 7) expected = 0;  // 300 ends the list, 5 is ignored
    if (gate == 9) expected = 1;               // "x" ends the list
    // "gate 0 1" names a third camera that never comes.
    EXPECT_EQ(objects.gate_camera[gate], expected) << gate;
  }
}

// ---------------------------------------------------------------- lighting

TEST_F(LightingTest, DefaultsWhenTheFileIsMissing) {
  add_file("sky-n.ppm", ppm());
  Lighting l{};
  EXPECT_TRUE(lighting_load(&l, "@notrack/"));
  float unit = 1 / sqrtf(3.0f);
  expect_vec(l.sun_vector, unit, unit, unit);
  expect_vec(l.sun_color, 1, 1, 1);
  expect_vec(l.ambient, 0.5f, 0.5f, 0.5f);
  expect_vec(l.global_ambient, 0.2f, 0.2f, 0.2f);
  EXPECT_FLOAT_EQ(l.near_plane, 0.25f);
  EXPECT_FLOAT_EQ(l.far_plane, 5000);
  EXPECT_FALSE(l.dynamic_lighting);
  EXPECT_EQ(l.fog_density, 0.0f);
  EXPECT_EQ(l.flares.count, 0);
  const char* defaults[] = {"@sky-n.ppm", "@sky-e.ppm", "@sky-s.ppm", "@sky-w.ppm", "@sky-u.ppm"};
  for (int i = 0; i < SKY_TEXTURES; i++) EXPECT_STREQ(l.sky_names[i], defaults[i]);
  EXPECT_STREQ(l.sky_env_name, "@sky-env.ppm");
  EXPECT_NE(l.sky[0], 0u);
  EXPECT_EQ(l.sky[0], texture_load("@sky-n.ppm"));
  EXPECT_EQ(l.sky[1], 0u);  // not in the game data
  lighting_free(&l);
}

TEST_F(LightingTest, FileWithEveryKeyword) {
  add_file(
      "trk/lighting",
      "  sun_vector [0 3 4]\n"
      "sun_color\t[0.9 0.8 0.7]\n"
      "ambient [0.1 0.2 0.3]   \n"
      "global_ambient [0.3 0.3 0.4]\r\n"
      "\n"
      "near_plane 0.5\n"
      "far_plane 800\n"
      "dynamic_lighting 1\n"
      "sky_n   @a.ppm  \n"
      "sky_e @nosuch.ppm\n"
      "sky_env @b.ppm\n"
      "fog [0.5 0.6 0.7] 0.01\n"
      "flare_element [9 9] [1 1 1] 9 @c.ppm\n"  // no flare yet: ignored
      "flare_point [1 2 3]\n"
      "flare_element [0.1 0.2] [1 0 0] 0.5 @c.ppm\n"
      "flare_element [0.3 0.4] [0 1 0] 0.25 @d.ppm\n"
      "flare_vector [0 1 0]\n" +
          [] {
            std::string s;
            for (int i = 0; i < 10; i++)
              s += "flare_element [" + std::to_string(i) + " 0] [1 1 1] 1 @e.ppm\n";
            return s;
          }());
  Lighting l{};
  ASSERT_TRUE(lighting_load(&l, "@trk/"));
  expect_vec(l.sun_vector, 0, 0.6f, 0.8f);
  expect_vec(l.sun_color, 0.9f, 0.8f, 0.7f);
  expect_vec(l.ambient, 0.1f, 0.2f, 0.3f);
  expect_vec(l.global_ambient, 0.3f, 0.3f, 0.4f);
  EXPECT_FLOAT_EQ(l.near_plane, 0.5f);
  EXPECT_FLOAT_EQ(l.far_plane, 800);
  EXPECT_TRUE(l.dynamic_lighting);
  EXPECT_STREQ(l.sky_names[0], "@a.ppm");
  EXPECT_EQ(l.sky[0], texture_load("@a.ppm"));
  EXPECT_STREQ(l.sky_names[1], "@sky-e.ppm");  // unreadable: the default
  EXPECT_STREQ(l.sky_names[2], "@sky-s.ppm");
  EXPECT_STREQ(l.sky_env_name, "@b.ppm");
  EXPECT_EQ(l.sky_env, texture_load("@b.ppm"));
  expect_vec(l.fog_color, 0.5f, 0.6f, 0.7f);
  EXPECT_FLOAT_EQ(l.fog_density, 0.01f);

  ASSERT_EQ(l.flares.count, 2);
  const LensFlare& p = l.flares.data[0];
  EXPECT_TRUE(p.positional);
  expect_vec(p.v, 1, 2, 3);
  ASSERT_EQ(p.element_count, 2);
  EXPECT_FLOAT_EQ(p.elements[0].a, 0.1f);
  EXPECT_FLOAT_EQ(p.elements[0].b, 0.2f);
  expect_vec(p.elements[0].color, 1, 0, 0);
  EXPECT_FLOAT_EQ(p.elements[0].c, 0.5f);
  EXPECT_EQ(p.elements[0].texture, texture_load("@c.ppm"));
  EXPECT_EQ(p.elements[1].texture, texture_load("@d.ppm"));
  const LensFlare& v = l.flares.data[1];
  EXPECT_FALSE(v.positional);
  ASSERT_EQ(v.element_count, MAX_FLARE_ELEMENTS);  // the ninth and tenth are ignored
  EXPECT_FLOAT_EQ(v.elements[7].a, 7);

  // Loading again starts from the defaults.
  ASSERT_TRUE(lighting_load(&l, "@notrack/"));
  EXPECT_EQ(l.flares.count, 0);
  EXPECT_FALSE(l.dynamic_lighting);
  lighting_free(&l);
}

TEST_F(LightingTest, PlaneClamps) {
  struct Case {
    const char* text;
    float near_plane, far_plane;
  };
  const Case cases[] = {
      {"near_plane 2\n", 0.875f, 5000},
      {"far_plane 0.1\nnear_plane 0.25\n", 0.25f, 0.25f},
      {"near_plane 0.0001\nfar_plane 0\n", 1.0f / 1024, 1.0f / 1024},
      {"near_plane -3\n", 1.0f / 1024, 5000},
      {"far_plane 1e9\n", 0.25f, 1048576},
      {"near_plane nan\nfar_plane inf\n", 0.25f, 5000},  // not numbers: unchanged
      {"near_plane\nfar_plane x\n", 0.25f, 5000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Lighting l{};
    lighting_defaults(&l);
    DataFile* f = memory_file(c.text);
    EXPECT_TRUE(lighting_read(&l, f));
    data_close(f);
    lighting_finish(&l);
    EXPECT_FLOAT_EQ(l.near_plane, c.near_plane);
    EXPECT_FLOAT_EQ(l.far_plane, c.far_plane);
    lighting_free(&l);
  }
}

TEST_F(LightingTest, UnknownKeywordStopsReading) {
  Lighting l{};
  lighting_defaults(&l);
  DataFile* f = memory_file(
      "near_plane 0.5\nflare_point [1 1 1]\nsun_vector [0 0 0]\nbogus 1\nfar_plane 100\n");
  EXPECT_FALSE(lighting_read(&l, f));
  data_close(f);
  lighting_finish(&l);
  EXPECT_STREQ(message_history_line(message_history, 0),
               "Error reading lighting: Unknown identifier 'bogus'\n");
  EXPECT_FLOAT_EQ(l.near_plane, 0.5f);  // read before: stays
  EXPECT_FLOAT_EQ(l.far_plane, 5000);   // after: not read
  EXPECT_EQ(l.flares.count, 1);         // the flare being built is kept
  float unit = 1 / sqrtf(3.0f);         // a zero sun vector cannot be normalised
  expect_vec(l.sun_vector, unit, unit, unit);
  lighting_free(&l);
}
