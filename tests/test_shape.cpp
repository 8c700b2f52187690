// Collision shapes: the ".shp" reader, the cache by name and per-bike instances.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "core/files.h"
#include "core/mem.h"
#include "physics/shape.h"
#include "test_helpers.h"

namespace {

bool read_shape(const std::string& text, Shape* out) {
  DataFile* f = data_open_memory(text.data(), text.size(), false, false);
  if (!f) return false;
  bool ok = shape_read(f, out);
  data_close(f);
  return ok;
}

}  // namespace

TEST(ShapeRead, ElementsAndBoundingRadius) {
  Shape s;
  ASSERT_TRUE(read_shape("2\n 3 4 0 1 0.5 25000 2500\n0 0 -10 0.5\t1 1e4 -2\n trailing", &s));
  ASSERT_EQ(s.count, 2);
  const float expected[2][7] = {{3, 4, 0, 1, 0.5f, 25000, 2500}, {0, 0, -10, 0.5f, 1, 1e4f, -2}};
  for (int i = 0; i < 2; i++)
    for (int k = 0; k < SHAPE_ELEMENT_FLOATS; k++)
      EXPECT_FLOAT_EQ(s.elements[i][k], expected[i][k]);
  EXPECT_FLOAT_EQ(s.bounding_radius, 10.5f);  // max(5 + 1, 10 + 0.5)
  EXPECT_EQ(s.name, nullptr);
  mem_free(s.elements);

  ASSERT_TRUE(read_shape("0\n", &s));
  EXPECT_EQ(s.count, 0);
  EXPECT_FLOAT_EQ(s.bounding_radius, 0.0f);
  mem_free(s.elements);
}

TEST(ShapeRead, MalformedFilesGiveNoShape) {
  const char* cases[] = {
      "",
      "x 1 2 3 4 5 6 7",
      "-1\n",
      "65537\n",
      "99999999999999999999\n",
      "1\n1 2 3 4 5 6\n",    // ends inside the element
      "2\n1 2 3 4 5 6 7\n",  // ends before the second
      "1\n1 2 3 oops 5 6 7\n",
      "1\n1 2 3 nan 5 6 7\n",  // not a usable number
      "1\n1 2 3 4 5 inf 7\n",
      "1000\n1 2 3 4 5 6 7\n",
  };
  for (const char* text : cases) {
    Shape s;
    s.count = 123;
    EXPECT_FALSE(read_shape(text, &s)) << text;
    EXPECT_EQ(s.count, 0) << text;
    EXPECT_EQ(s.elements, nullptr) << text;
  }
}

TEST(ShapeRead, BoundingRadiusOfElements) {
  const float elements[3][7] = {{1, 2, 2, 0.5f}, {0, -6, 8, 1}, {0, 0, 0, 12}};
  EXPECT_FLOAT_EQ(shape_bounding_radius(elements, 0), 0.0f);
  EXPECT_FLOAT_EQ(shape_bounding_radius(elements, 1), 3.5f);
  EXPECT_FLOAT_EQ(shape_bounding_radius(elements, 2), 11.0f);
  EXPECT_FLOAT_EQ(shape_bounding_radius(elements, 3), 12.0f);
}

namespace {

// Game data in "<root>/game/"; the cache starts and ends empty.
class ShapeCache : public ::testing::Test {
 protected:
  TempDir root;
  std::string game = root.path + "/game/";
  ScopedEnv env_xdg{"XDG_DATA_HOME", (root.path + "/xdg").c_str()};
  ScopedEnv env_rt{"RT_HOME", (root.path + "/game").c_str()};

  void SetUp() override {
    mkdir(game.c_str(), 0777);
    file_list_free();
    shape_cache_free();
  }
  void TearDown() override {
    shape_cache_free();
    file_list_free();
  }
};

}  // namespace

TEST_F(ShapeCache, SameNameGivesTheSameShape) {
  write_file(game + "frame.shp", "1\n0 1 0 0.5 0.8 2500 250\n");
  const Shape* a = shape_load("@frame.shp");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->count, 1);
  EXPECT_STREQ(a->name, "@frame.shp");
  EXPECT_FLOAT_EQ(a->bounding_radius, 1.5f);
  // The file changing on disk does not matter: the cached shape is kept.
  write_file(game + "frame.shp", "0\n");
  EXPECT_EQ(shape_load("@frame.shp"), a);
  EXPECT_EQ(shape_cache_count(), 1);
  // After the cache is freed the file is read again.
  shape_cache_free();
  const Shape* b = shape_load("@frame.shp");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->count, 0);
}

TEST_F(ShapeCache, MissingAndMalformedFilesGiveNone) {
  write_file(game + "short.shp", "3\n0 0 0 1 1 1 1\n");
  EXPECT_EQ(shape_load("@missing.shp"), nullptr);
  EXPECT_EQ(shape_load("@short.shp"), nullptr);
  EXPECT_EQ(shape_load(""), nullptr);
  EXPECT_EQ(shape_load(nullptr), nullptr);
  EXPECT_EQ(shape_instance("@missing.shp"), nullptr);
  EXPECT_EQ(shape_instance("@short.shp"), nullptr);
  EXPECT_EQ(shape_cache_count(), 0);
  // A failure is not remembered: a file that appears later is read.
  write_file(game + "missing.shp", "1 0 0 0 1 1 1 1");
  file_list_free();
  EXPECT_NE(shape_load("@missing.shp"), nullptr);
}

TEST_F(ShapeCache, InstanceIsAnIndependentCopy) {
  write_file(game + "rider.shp", "2\n0 1 0 0.5 0.8 2500 250\n0 2 0 0.25 0.6 2000 200\n");
  const Shape* cached = shape_load("@rider.shp");
  ASSERT_NE(cached, nullptr);
  Shape* a = shape_instance("@rider.shp");
  Shape* b = shape_instance("@rider.shp");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(shape_cache_count(), 1);
  EXPECT_EQ(a->count, 2);
  EXPECT_EQ(a->name, cached->name);
  EXPECT_FLOAT_EQ(a->bounding_radius, cached->bounding_radius);
  EXPECT_NE(a->elements, cached->elements);
  EXPECT_NE(a->elements, b->elements);
  for (int i = 0; i < 2; i++)
    for (int k = 0; k < SHAPE_ELEMENT_FLOATS; k++)
      EXPECT_EQ(a->elements[i][k], cached->elements[i][k]);
  // Moving one instance into world space leaves the cache and the other alone.
  a->elements[1][SHAPE_Y] = 100.0f;
  EXPECT_FLOAT_EQ(cached->elements[1][SHAPE_Y], 2.0f);
  EXPECT_FLOAT_EQ(b->elements[1][SHAPE_Y], 2.0f);
  shape_instance_free(a);
  shape_instance_free(b);
  shape_instance_free(nullptr);
}

TEST_F(ShapeCache, CachedShapesStayPutWhileTheCacheGrows) {
  std::vector<const Shape*> shapes;
  for (int i = 0; i < 20; i++) {
    std::string name = "s" + std::to_string(i) + ".shp";
    write_file(game + name, "1\n0 0 0 " + std::to_string(i + 1) + " 1 1 1\n");
  }
  file_list_free();
  for (int i = 0; i < 20; i++) {
    const Shape* s = shape_load(("@s" + std::to_string(i) + ".shp").c_str());
    ASSERT_NE(s, nullptr);
    shapes.push_back(s);
  }
  EXPECT_EQ(shape_cache_count(), 20);
  for (int i = 0; i < 20; i++) {
    EXPECT_EQ(shape_load(("@s" + std::to_string(i) + ".shp").c_str()), shapes[i]);
    EXPECT_FLOAT_EQ(shapes[i]->bounding_radius, (float)(i + 1));
  }
}
