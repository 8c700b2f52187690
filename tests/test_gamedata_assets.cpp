// The generated shared assets: determinism of the generator, every shared
// asset loading through the program's own readers from the generated
// game-data folder, the pictures' sizes and contents, the models, the stock
// and statue shapes with their digest check, the series and the set-ups.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/files.h"
#include "core/subsystems.h"
#include "physics/shape.h"
#include "render/image.h"
#include "render/texture.h"
#include "tests/test_helpers.h"
#include "tools/datagen.h"

#include "core/subsystems.h"

namespace {

const std::string BIN = RT_BINARY_DIR;

// Game data from the build's generated folder; an empty home of our own.
class GameDataAssets : public ::testing::Test {
 protected:
  TempDir root;
  ScopedEnv env_xdg{"XDG_DATA_HOME", (root.path + "/xdg").c_str()};
  ScopedEnv env_rt{"RT_HOME", BIN.c_str()};

  void SetUp() override {
    file_list_free();
    shape_cache_free();
    textures_purge(true);
  }
  void TearDown() override {
    shape_cache_free();
    textures_purge(true);
    file_list_free();
  }
  std::string home() const { return root.path + "/xdg/Rutmoto/"; }
};

void list_files(const std::string& dir, const std::string& prefix,
                std::map<std::string, std::string>* out) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode))
      list_files(path, prefix + name + "/", out);
    else
      (*out)[prefix + name] = read_file(path);
  }
  closedir(d);
}

std::string format_name(const char* format, const char* arg) {
  char buf[128];
  snprintf(buf, sizeof buf, format, arg);
  return buf;
}

std::string format_name(const char* format, int arg) {
  char buf[128];
  snprintf(buf, sizeof buf, format, arg);
  return buf;
}

std::string mask_bits(int mask) {
  std::string s;
  for (int i = 3; i >= 0; i--) s += (mask >> i) & 1 ? '1' : '0';
  return s;
}

}  // namespace

// ------------------------------------------------------------ determinism

TEST(GameDataAssetsGenerator, TwoRunsWriteIdenticalBytes) {
  TempDir a, b;
  std::string tool = BIN + "/rt_datagen";
  CommandResult ra = run_command("'" + tool + "' '" + a.path + "'");
  CommandResult rb = run_command("'" + tool + "' '" + b.path + "/'");
  ASSERT_EQ(ra.status, 0) << ra.err;
  ASSERT_EQ(rb.status, 0) << rb.err;
  std::map<std::string, std::string> fa, fb;
  list_files(a.path, "", &fa);
  list_files(b.path, "", &fb);
  std::vector<std::string> names_a, names_b;
  for (auto& [name, bytes] : fa) names_a.push_back(name);
  for (auto& [name, bytes] : fb) names_b.push_back(name);
  ASSERT_EQ(names_a, names_b);
  for (auto& [name, bytes] : fa) EXPECT_TRUE(bytes == fb[name]) << name << " differs between runs";
  // The shared assets are packed; series and set-ups stay plain files and
  // no loose copy of a packed file is left behind.
  for (const char* name : {"textures.saf", "models.saf", "rabbithill_cup.series", "setups/soft",
                           "setups/stiff", "zzzz.saf"})
    EXPECT_TRUE(fa.count(name)) << name;
  for (const char* name : {"dirt.png", "sky-n.ppm", "haybale.jm", "generic_frame.shp"})
    EXPECT_FALSE(fa.count(name)) << name;
}

// ------------------------------------------------------------ pictures

struct PictureCase {
  std::string name;
  int width, height, channels;
};

std::vector<PictureCase> all_pictures() {
  std::vector<PictureCase> v;
  for (const char* t :
       {DG_TILE_DIRT, DG_TILE_DIRT_ALT, DG_TILE_HARDPACK, DG_TILE_GRASS, DG_TILE_SAND, DG_TILE_MUD})
    v.push_back({t, 256, 256, 3});
  for (int mask = 1; mask <= 14; mask++)
    v.push_back({format_name(DG_TILE_DIRT_GRASS_FORMAT, mask_bits(mask).c_str()), 256, 256, 3});
  for (const char* t : {DG_ROOST_DIRT, DG_ROOST_DUST, DG_ROOST_GRASS, DG_ROOST_SAND, DG_SPLASH_MUD})
    v.push_back({t, 64, 64, 4});
  for (const char* t : {DG_SKY_N, DG_SKY_E, DG_SKY_S, DG_SKY_W, DG_SKY_U, DG_SKY_ENV})
    v.push_back({t, 256, 256, 3});
  v.push_back({DG_BB_TREE1, 256, 256, 4});
  v.push_back({DG_BB_TREE2, 256, 256, 4});
  v.push_back({DG_BB_BUSH, 256, 128, 4});
  v.push_back({DG_BB_BANNER1, 512, 128, 4});
  v.push_back({DG_BB_BANNER2, 512, 128, 4});
  v.push_back({DG_BB_ARROW, 128, 128, 4});
  for (int i = 1; i <= 5; i++) v.push_back({format_name(DG_FLAG_STARTER_FORMAT, i), 128, 256, 4});
  for (int i = 1; i <= 4; i++) v.push_back({format_name(DG_FLAG_LAP_FORMAT, i), 128, 256, 4});
  v.push_back({DG_FLAG_CORNER, 128, 256, 4});
  v.push_back({DG_FLAG_CORNER_WAVING, 128, 256, 4});
  v.push_back({DG_DECAL_TYRES, 64, 256, 4});
  v.push_back({DG_DECAL_PUDDLE, 128, 128, 4});
  v.push_back({DG_DECAL_START, 256, 32, 4});
  v.push_back({DG_HAYBALE_TEXTURE, 256, 256, 3});
  v.push_back({DG_TUFFBLOCK_TEXTURE, 256, 128, 3});
  v.push_back({DG_TIRE_TEXTURE, 256, 64, 3});
  v.push_back({DG_SIGN_TEXTURE, 256, 128, 3});
  v.push_back({DG_STARTGATE_TEXTURE, 256, 128, 3});
  return v;
}

TEST_F(GameDataAssets, EveryPictureLoadsWithItsSizeAndChannels) {
  for (const PictureCase& c : all_pictures()) {
    SCOPED_TRACE(c.name);
    Image img = {};
    ASSERT_TRUE(image_read(c.name.c_str(), &img)) << image_last_error();
    EXPECT_EQ(img.width, c.width);
    EXPECT_EQ(img.height, c.height);
    EXPECT_EQ(img.channels, c.channels);
    if (c.channels == 4) {
      // Billboards and particles have both see-through and solid pixels.
      int clear = 0, solid = 0;
      for (int i = 0; i < img.width * img.height; i++) {
        uint8_t a = img.pixels[i * 4 + 3];
        clear += a == 0;
        solid += a >= 160;
      }
      EXPECT_GT(clear, 0);
      EXPECT_GT(solid, 0);
    }
    image_free(&img);
    EXPECT_NE(texture_load(c.name.c_str()), 0u);
    // Served from the archive (PPM pictures gzip-compressed), not from a loose file.
    const FileEntry* e = file_list_find(dg_file(c.name.c_str()));
    if (!e) e = file_list_find((std::string(dg_file(c.name.c_str())) + ".gz").c_str());
    ASSERT_NE(e, nullptr);
    EXPECT_NE(strstr(e->path, "textures.saf"), nullptr) << e->path;
  }
}

struct Pixels {
  Image img = {};
  explicit Pixels(const std::string& name) { image_read(name.c_str(), &img); }
  ~Pixels() { image_free(&img); }
  const uint8_t* at(int x, int y) const { return img.pixels + (y * img.width + x) * img.channels; }
  // Mean colour of a square block.
  void mean(int x0, int y0, int size, double out[3]) const {
    out[0] = out[1] = out[2] = 0;
    for (int y = y0; y < y0 + size; y++)
      for (int x = x0; x < x0 + size; x++)
        for (int k = 0; k < 3; k++) out[k] += at(x, y)[k];
    for (int k = 0; k < 3; k++) out[k] /= size * size;
  }
};

bool is_grass(const double c[3]) { return c[1] > c[0] * 1.15 && c[1] > c[2] * 1.3; }
bool is_dirt(const double c[3]) { return c[0] > c[1] * 1.1 && c[1] > c[2]; }

TEST_F(GameDataAssets, TransitionCornersFollowTheirMask) {
  // Corner order of the mask bits, highest first: top-left, top-right,
  // bottom-left, bottom-right.
  const int corner_x[4] = {0, 248, 0, 248}, corner_y[4] = {0, 0, 248, 248};
  for (int mask = 1; mask <= 14; mask++) {
    std::string name = format_name(DG_TILE_DIRT_GRASS_FORMAT, mask_bits(mask).c_str());
    SCOPED_TRACE(name);
    Pixels p(name);
    ASSERT_EQ(p.img.width, 256);
    for (int c = 0; c < 4; c++) {
      double m[3];
      p.mean(corner_x[c], corner_y[c], 8, m);
      bool grass = (mask >> (3 - c)) & 1;
      EXPECT_EQ(is_grass(m), grass)
          << "corner " << c << " rgb " << m[0] << "," << m[1] << "," << m[2];
      EXPECT_EQ(is_dirt(m), !grass) << "corner " << c;
    }
  }
  double m[3];
  Pixels dirt(DG_TILE_DIRT), grass(DG_TILE_GRASS);
  dirt.mean(0, 0, 256, m);
  EXPECT_TRUE(is_dirt(m));
  grass.mean(0, 0, 256, m);
  EXPECT_TRUE(is_grass(m));
}

// Far from the ragged border a transition tile is pixel for pixel the plain
// tile, so it joins its plain neighbours without a seam.
TEST_F(GameDataAssets, TransitionEdgesMatchThePlainTiles) {
  Pixels top_grass(format_name(DG_TILE_DIRT_GRASS_FORMAT, "1100"));
  Pixels left_dirt(format_name(DG_TILE_DIRT_GRASS_FORMAT, "0101"));
  Pixels dirt(DG_TILE_DIRT), grass(DG_TILE_GRASS);
  for (int x = 0; x < 256; x++) {
    EXPECT_EQ(memcmp(top_grass.at(x, 0), grass.at(x, 0), 3), 0) << x;
    EXPECT_EQ(memcmp(top_grass.at(x, 255), dirt.at(x, 255), 3), 0) << x;
    EXPECT_EQ(memcmp(left_dirt.at(0, x), dirt.at(0, x), 3), 0) << x;
    EXPECT_EQ(memcmp(left_dirt.at(255, x), grass.at(255, x), 3), 0) << x;
  }
  // The plain tiles repeat: their opposite edges are close in colour.
  for (const char* tile : {DG_TILE_DIRT, DG_TILE_GRASS, DG_TILE_SAND, DG_TILE_MUD}) {
    Pixels p(tile);
    double diff = 0;
    for (int i = 0; i < 256; i++)
      for (int k = 0; k < 3; k++)
        diff +=
            std::abs(p.at(0, i)[k] - p.at(255, i)[k]) + std::abs(p.at(i, 0)[k] - p.at(i, 255)[k]);
    EXPECT_LT(diff / (256 * 6), 30) << tile;
  }
}

TEST_F(GameDataAssets, SkyFacesMeetAtTheirEdges) {
  Pixels n(DG_SKY_N), e(DG_SKY_E), s(DG_SKY_S), w(DG_SKY_W), u(DG_SKY_U);
  // Around the horizon: each face's right edge meets the next face's left edge.
  const Pixels* ring[4] = {&n, &e, &s, &w};
  for (int f = 0; f < 4; f++) {
    const Pixels* a = ring[f];
    const Pixels* b = ring[(f + 1) % 4];
    double diff = 0;
    for (int y = 0; y < 256; y++)
      for (int k = 0; k < 3; k++) diff += std::abs(a->at(255, y)[k] - b->at(0, y)[k]);
    EXPECT_LT(diff / (256 * 3), 6) << "face " << f;
  }
  // The top face's upper edge meets the north face's upper edge.
  double diff = 0;
  for (int x = 0; x < 256; x++)
    for (int k = 0; k < 3; k++) diff += std::abs(u.at(x, 0)[k] - n.at(x, 0)[k]);
  EXPECT_LT(diff / (256 * 3), 6);
  // Sky above (blue wins), ground below the horizon.
  double top[3], bottom[3];
  n.mean(0, 0, 32, top);
  n.mean(0, 224, 32, bottom);
  EXPECT_GT(top[2], top[0] + 20);
  EXPECT_LT(bottom[2], bottom[1]);
}

// ------------------------------------------------------------ models

struct JmMesh {
  int vertices = 0, triangles = 0;
  std::vector<float> v;  // 8 per vertex
};

// Minimal reader of the ".jm" version 1 layout: header, then meshes until one
// fails to parse. Every index must name a vertex.
bool parse_jm(const char* name, std::vector<JmMesh>* meshes) {
  DataFile* f = data_open(name, "rb");
  if (!f) return false;
  int version = 0;
  bool ok = data_scanf(f, " JM%d", &version) == 1 && version == 1;
  while (ok) {
    float sh, refl, r, g, b;
    JmMesh m;
    if (data_scanf(f, " %f %f %f %f %f %d %d", &sh, &refl, &r, &g, &b, &m.vertices, &m.triangles) !=
        7)
      break;
    for (int i = 0; ok && i < m.vertices * 8; i++) {
      float x;
      ok = data_scanf(f, " %f", &x) == 1;
      m.v.push_back(x);
    }
    for (int i = 0; ok && i < m.triangles * 3; i++) {
      int k;
      ok = data_scanf(f, " %d", &k) == 1 && k >= 0 && k < m.vertices;
    }
    if (ok) meshes->push_back(m);
  }
  int rest = data_scanf(f, " %*s");
  data_close(f);
  return ok && rest == EOF;
}

TEST_F(GameDataAssets, ModelsParseWithTheirParts) {
  struct Case {
    const char* name;
    size_t meshes;
    float min_height, max_height;  // of the first mesh
  };
  const Case cases[] = {{DG_HAYBALE_MODEL, 1, 1.0f, 2.0f},
                        {DG_TUFFBLOCK_MODEL, 1, 1.0f, 2.5f},
                        {DG_TIRE_MODEL, 1, 3.0f, 4.0f},
                        {DG_SIGN_MODEL, 1, 4.0f, 6.0f},
                        {DG_STARTGATE_MODEL, 2, -2.0f, 0.3f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<JmMesh> meshes;
    ASSERT_TRUE(parse_jm(c.name, &meshes));
    ASSERT_EQ(meshes.size(), c.meshes);
    float top = -1e9f;
    for (const JmMesh& m : meshes) {
      EXPECT_GT(m.triangles, 0);
      for (int i = 0; i < m.vertices; i++) {
        const float* v = &m.v[i * 8];
        EXPECT_NEAR(v[3] * v[3] + v[4] * v[4] + v[5] * v[5], 1.0f, 1e-3f);
        EXPECT_GE(v[6], -0.001f);
        EXPECT_LE(v[7], 1.001f);
        EXPECT_GE(v[7], -0.001f);
      }
    }
    for (int i = 0; i < meshes[0].vertices; i++) top = std::max(top, meshes[0].v[i * 8 + 1]);
    EXPECT_GE(top, c.min_height);
    EXPECT_LE(top, c.max_height);
  }
}

// The gate statue is modelled lowered: turned down into the ground. Raised by
// the drop angle about its first axis (the top leaning away from the riders
// at +z), the plate stands upright across the grid place in front of the
// front wheels.
TEST_F(GameDataAssets, StartGatePlateRisesOutOfTheGround) {
  std::vector<JmMesh> meshes;
  ASSERT_TRUE(parse_jm(DG_STARTGATE_MODEL, &meshes));
  ASSERT_EQ(meshes.size(), 2u);
  const float angle = 0.5890486f, c = cosf(angle), s = sinf(angle);
  float lowered_top = -1e9f, raised_bottom = 1e9f, raised_top = -1e9f;
  float raised_zmin = 1e9f, raised_zmax = -1e9f;
  const JmMesh& plate = meshes[0];
  for (int i = 0; i < plate.vertices; i++) {
    float y = plate.v[i * 8 + 1], z = plate.v[i * 8 + 2];
    if (z < 2.0f) continue;  // the arms near the pivot
    lowered_top = std::max(lowered_top, y);
    float ry = c * y + s * z, rz = -s * y + c * z;
    raised_bottom = std::min(raised_bottom, ry);
    raised_top = std::max(raised_top, ry);
    raised_zmin = std::min(raised_zmin, rz);
    raised_zmax = std::max(raised_zmax, rz);
  }
  EXPECT_LT(lowered_top, 0.0f);
  EXPECT_NEAR(raised_bottom, 0.0f, 0.05f);
  EXPECT_GT(raised_top, 1.5f);
  EXPECT_GT(raised_zmin, 2.5f);
  EXPECT_LT(raised_zmax, 3.5f);  // the front tyres stand about 3.6 from the pivot
}

// ------------------------------------------------------------ shapes

// Body centres of the bike's reset pose (the catalogue's common values).
struct BodyCase {
  const char* shape;
  float centre[3];
};
const BodyCase STOCK_BODIES[7] = {
    {DG_SHAPE_FRAME, {0, 1.98f, 3.6f}},        {DG_SHAPE_FORK_UPPER, {0, 2.9f, 2.16f}},
    {DG_SHAPE_FORK_LOWER, {0, 1.77f, 1.59f}},  {DG_SHAPE_SWINGARM, {0, 1.34f, 4.99f}},
    {DG_SHAPE_FRONT_WHEEL, {0, 1.09f, 1.11f}}, {DG_SHAPE_REAR_WHEEL, {0, 1.04f, 6.0f}},
    {DG_SHAPE_RIDER, {0, 4.5f, 4.12f}},
};

TEST_F(GameDataAssets, StockShapesCoverTheBikeAboveTheGround) {
  for (const BodyCase& b : STOCK_BODIES) {
    SCOPED_TRACE(b.shape);
    const Shape* s = shape_load(b.shape);
    ASSERT_NE(s, nullptr);
    EXPECT_GE(s->count, 4);
    EXPECT_LE(s->count, 32);
    bool wheel = strstr(b.shape, "wheel") != nullptr;
    float ring = strstr(b.shape, "front") ? 0.8333333f : 0.75f;
    for (int i = 0; i < s->count; i++) {
      const float* e = s->elements[i];
      EXPECT_GT(e[SHAPE_RADIUS], 0.1f);
      EXPECT_LT(e[SHAPE_RADIUS], 0.6f);
      EXPECT_GT(e[SHAPE_FRICTION], 0.0f);
      EXPECT_LE(e[SHAPE_FRICTION], 1.5f);
      EXPECT_GE(e[SHAPE_STIFFNESS], 1000.0f);
      EXPECT_GT(e[SHAPE_DAMPING], 0.0f);
      if (wheel) {
        // The tyre section around the ring, in the wheel's plane.
        EXPECT_NEAR(hypotf(e[SHAPE_Y], e[SHAPE_Z]), ring, 1e-3f);
        EXPECT_NEAR(e[SHAPE_X], 0.0f, 1e-6f);
        EXPECT_NEAR(e[SHAPE_RADIUS], 0.3333333f, 1e-3f);
      } else {
        // Nothing but the tyres touches flat ground with the bike upright.
        EXPECT_GT(b.centre[1] + e[SHAPE_Y] - e[SHAPE_RADIUS], 0.3f) << "element " << i;
      }
    }
    EXPECT_LT(s->bounding_radius, 3.0f);
  }
  // Left and right are mirror images of each other.
  const Shape* frame = shape_load(DG_SHAPE_FRAME);
  ASSERT_NE(frame, nullptr);
  int left = 0, right = 0;
  for (int i = 0; i < frame->count; i++) {
    left += frame->elements[i][SHAPE_X] < -0.01f;
    right += frame->elements[i][SHAPE_X] > 0.01f;
  }
  EXPECT_GE(left, 2);
  EXPECT_GE(right, 2);
}

TEST_F(GameDataAssets, StatueShapesCoverTheirModels) {
  struct Case {
    const char* shape;
    float min_radius, max_radius;
  };
  const Case cases[] = {{DG_HAYBALE_SHAPE, 1.5f, 3.0f},
                        {DG_TUFFBLOCK_SHAPE, 1.8f, 3.0f},
                        {DG_TIRE_SHAPE, 1.0f, 4.0f},
                        {DG_STARTGATE_SHAPE, 2.5f, 4.5f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shape);
    const Shape* s = shape_load(c.shape);
    ASSERT_NE(s, nullptr);
    EXPECT_GT(s->count, 0);
    EXPECT_GE(s->bounding_radius, c.min_radius);
    EXPECT_LE(s->bounding_radius, c.max_radius);
  }
  // The lowered gate's spheres lie wholly below the ground, so bikes ride
  // over a dropped gate.
  const Shape* gate = shape_load(DG_STARTGATE_SHAPE);
  ASSERT_NE(gate, nullptr);
  for (int i = 0; i < gate->count; i++)
    EXPECT_LT(gate->elements[i][SHAPE_Y] + gate->elements[i][SHAPE_RADIUS], 0.0f) << i;
}

TEST_F(GameDataAssets, StockShapeDigestAcceptsTheGeneratedShapes) {
  stock_shapes_ok = 0;
  EXPECT_TRUE(check_shape_digests());
  EXPECT_EQ(stock_shapes_ok, 1);
}

TEST_F(GameDataAssets, StockShapeDigestRejectsAChangedOrMissingShape) {
  // A changed rider shape in the home directory hides the stock one.
  write_file(home() + "generic_rider.shp", "1\n0 0 0 0.5 1 25000 2500\n");
  file_list_free();
  EXPECT_FALSE(check_shape_digests());
  EXPECT_EQ(stock_shapes_ok, 0);
  // Without the game data none of the seven opens.
  {
    ScopedEnv empty("RT_HOME", (root.path + "/nothing").c_str());
    file_list_free();
    EXPECT_FALSE(check_shape_digests());
    EXPECT_EQ(stock_shapes_ok, 0);
  }
  file_list_free();
}

// ------------------------------------------------------------ series and set-ups

// Reads a series word: a double-quoted text, or one whitespace-delimited word.
bool read_word(DataFile* f, std::string* out) {
  char buf[1024];
  if (data_scanf(f, " \"%1023[^\"]\"", buf) == 1 || data_scanf(f, " %1023s", buf) == 1) {
    *out = buf;
    return true;
  }
  return false;
}

TEST_F(GameDataAssets, SeriesHasThreeRoundsOnTheGeneratedTracks) {
  DataFile* f = data_open(DG_SERIES, "r");
  ASSERT_NE(f, nullptr);
  std::string name;
  ASSERT_TRUE(read_word(f, &name));
  EXPECT_EQ(name, "Rabbit Hill Cup");
  int riders = -1;
  char skill[1024];
  ASSERT_EQ(data_scanf(f, "%d %1023s", &riders, skill), 2);
  EXPECT_GT(riders, 0);
  EXPECT_LE(riders, 159);
  EXPECT_TRUE(!strcmp(skill, "Novice") || !strcmp(skill, "Amateur") || !strcmp(skill, "Expert"));
  std::vector<int> numbers(riders);
  for (int& n : numbers) ASSERT_EQ(data_scanf(f, "%d", &n), 1);
  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(std::unique(numbers.begin(), numbers.end()), numbers.end());  // distinct numbers
  int motos = 0;
  ASSERT_EQ(data_scanf(f, "%d", &motos), 1);
  int rounds = 0;
  bool last_ends_round = false;
  std::map<std::string, int> tracks;
  for (int m = 0; m < motos; m++) {
    SCOPED_TRACE(m);
    std::string moto, track;
    ASSERT_TRUE(read_word(f, &moto));
    ASSERT_TRUE(read_word(f, &track));
    tracks[track]++;
    int minutes, laps;
    ASSERT_EQ(data_scanf(f, "%d %d", &minutes, &laps), 2);
    EXPECT_TRUE(minutes > 0 || laps > 0);
    int moto_points[40], round_points[40];
    for (int& p : moto_points) ASSERT_EQ(data_scanf(f, "%d", &p), 1);
    for (int& p : round_points) ASSERT_EQ(data_scanf(f, "%d", &p), 1);
    EXPECT_GT(moto_points[0], moto_points[1]);
    last_ends_round = round_points[0] != 0;
    rounds += last_ends_round;
  }
  EXPECT_EQ(data_scanf(f, " %*s"), EOF);  // nothing after the last moto
  data_close(f);
  EXPECT_EQ(rounds, 3);
  EXPECT_TRUE(last_ends_round);
  EXPECT_EQ(tracks.size(), 2u);
  EXPECT_TRUE(tracks.count("practice"));
  EXPECT_TRUE(tracks.count("rabbithill"));
}

TEST_F(GameDataAssets, SetupsApplyThroughReadsetup) {
  settings_init_defaults();
  ASSERT_TRUE(setup_file_read("soft"));
  double soft_fork = settings.fork_spring_rate_adjustment.value;
  double soft_shock = settings.shock_spring_rate_adjustment.value;
  EXPECT_LT(soft_fork, 50);
  EXPECT_LT(soft_shock, 50);
  ASSERT_TRUE(setup_file_read("stiff"));
  EXPECT_GT(settings.fork_spring_rate_adjustment.value, 50);
  EXPECT_GT(settings.shock_compression_adjustment.value, 50);
  // Set-ups change the suspension only: bike and riding aids stay.
  EXPECT_STREQ(choice_text(&settings.bike), "450sxf(2016)");
  EXPECT_EQ(settings.stability.value, 100);
  settings_init_defaults();
}
