// The generated tracks, loaded from the build's game-data folder through the
// program's own loader: they load cleanly and ride like what they claim to be.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/messages.h"
#include "core/program.h"
#include "core/startup.h"
#include "platform/log.h"
#include "render/image.h"
#include "render/texture.h"
#include "tests/test_helpers.h"
#include "track/track.h"

namespace {

struct Point {
  float x, z;
};

// The track loaded once per suite, with everything the load said.
struct LoadedTrack {
  bool ok = false;
  std::vector<std::string> lines;  // message history and log lines of the load
};

TempDir* suite_home = nullptr;
ScopedEnv* suite_env[4] = {};

LoadedTrack load_generated(const char* name) {
  LoadedTrack out;
  suite_home = new TempDir();
  suite_env[0] = new ScopedEnv("RT_HOME", RT_BINARY_DIR);
  suite_env[1] = new ScopedEnv("XDG_DATA_HOME", suite_home->path.c_str());
  std::string log_path = suite_home->file("load.log");
  suite_env[2] = new ScopedEnv("VOLG_LOGFILE", log_path.c_str());
  suite_env[3] = new ScopedEnv("VOLG_LOGFILE_FLAGS", nullptr);
  log_reset();
  file_list_free();
  program_init(program);
  track_list_build();
  message_history_clear(message_history);
  int32_t old_debug = debug_level;
  debug_level = 1;  // missing textures are reported at this level
  track_free();
  track = Track{};
  track.name = name;
  out.ok = track_load() == 1;
  debug_level = old_debug;
  for (int32_t k = MESSAGE_RING_LINES - 1; k >= 0; k--) {
    const char* line = message_history_line(message_history, k);
    if (line && *line) out.lines.push_back(line);
  }
  log_reset();
  std::string log = read_file(log_path);
  for (size_t start = 0; start < log.size();) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    out.lines.push_back(log.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

void unload_generated() {
  track_free();
  track = Track{};
  track_list_free();
  file_list_free();
  log_reset();
  for (ScopedEnv*& env : suite_env) {
    delete env;
    env = nullptr;
  }
  delete suite_home;
  suite_home = nullptr;
  log_reset();
}

bool is_problem(const std::string& line) {
  for (const char* word : {"Warning", "warning", "Can't", "Error", "error", "missing", "Bad "})
    if (line.find(word) != std::string::npos) return true;
  return false;
}

int32_t tile_by_key(const char* key) {
  for (int32_t k = 0; k < track.hf.tile_count; k++)
    if (track.hf.tiles[k].key && strcmp(track.hf.tiles[k].key, key) == 0) return k;
  return -1;
}

// Checkpoint centres in normal-lap order.
std::vector<Point> lap_polyline() {
  std::vector<Point> pts;
  const TimingData& t = track.timing;
  for (int32_t k = 0; k < t.normal_lap_count; k++) {
    int32_t g = t.normal_lap[k] % GATE_NO_SPLIT;
    pts.push_back({t.gates[g].centre[0], t.gates[g].centre[2]});
  }
  return pts;
}

float polyline_length(const std::vector<Point>& pts) {
  float length = 0;
  for (size_t k = 0; k < pts.size(); k++) {
    const Point& a = pts[k];
    const Point& b = pts[(k + 1) % pts.size()];
    length += std::hypot(b.x - a.x, b.z - a.z);
  }
  return length;
}

// Heights every half foot along the closed polyline.
std::vector<float> height_profile(const std::vector<Point>& pts) {
  std::vector<float> h;
  for (size_t k = 0; k < pts.size(); k++) {
    const Point& a = pts[k];
    const Point& b = pts[(k + 1) % pts.size()];
    float len = std::hypot(b.x - a.x, b.z - a.z);
    int steps = std::max(1, (int)(len / 0.5f));
    for (int i = 0; i < steps; i++) {
      float t = (float)i / steps;
      h.push_back(hf_height_at(&track.hf, a.x + (b.x - a.x) * t, a.z + (b.z - a.z) * t));
    }
  }
  return h;
}

// Jump faces: rises of more than `rise` feet within `within` feet, counted
// once per feature.
int32_t count_rises(const std::vector<float>& h, float rise, float within) {
  int32_t n = (int32_t)h.size(), w = (int32_t)(within / 0.5f), count = 0;
  for (int32_t i = 0; i < n; i++) {
    if (h[(i + w) % n] - h[i] > rise) {
      count++;
      i += w + 20;
    }
  }
  return count;
}

// Raised flat stretches (tabletop decks): slope below 0.12 and at least 3.5 ft
// above the lowest point within 70 ft; returns the lengths in feet.
std::vector<float> decks(const std::vector<float>& h) {
  int32_t n = (int32_t)h.size(), window = 140;
  std::vector<float> out;
  float run = 0;
  for (int32_t i = 0; i < n; i++) {
    float lowest = h[i];
    for (int32_t k = -window; k <= window; k++) lowest = std::min(lowest, h[((i + k) % n + n) % n]);
    float slope = std::fabs(h[(i + 1) % n] - h[i]) / 0.5f;
    if (slope < 0.12f && h[i] - lowest > 3.5f) {
      run += 0.5f;
    } else {
      if (run > 0) out.push_back(run);
      run = 0;
    }
  }
  if (run > 0) out.push_back(run);
  return out;
}

// Longest run of bumps (peaks at least 1 ft above everything within 8 ft,
// spaced at most 16 ft).
int32_t longest_whoops(const std::vector<float>& h) {
  int32_t n = (int32_t)h.size(), r = 16;
  std::vector<int32_t> peaks;
  for (int32_t i = 0; i < n; i++) {
    bool peak = true;
    float lowest = h[i];
    for (int32_t k = -r; k <= r && peak; k++) {
      float v = h[((i + k) % n + n) % n];
      if (k != 0 && (v > h[i] || (v == h[i] && k < 0))) peak = false;
      lowest = std::min(lowest, v);
    }
    if (peak && h[i] - lowest >= 1.0f) peaks.push_back(i);
  }
  int32_t best = peaks.empty() ? 0 : 1, run = 1;
  for (size_t k = 1; k < peaks.size(); k++) {
    run = peaks[k] - peaks[k - 1] <= 32 ? run + 1 : 1;
    best = std::max(best, run);
  }
  return best;
}

// A top-down picture of the loaded track: tile colours times the shading,
// checkpoints red, statues black, starting gates blue, cameras magenta.
bool write_overview(const std::string& path) {
  const HeightField& hf = track.hf;
  int32_t cells = 1 << hf.size_log2;
  std::vector<uint8_t> rgb((size_t)cells * cells * 3);
  auto colour_of = [&](int32_t tile, uint8_t c[3]) {
    const char* key = track.hf.tiles[tile].key ? track.hf.tiles[tile].key : "";
    int r = 150, g = 110, b = 75;  // dirt and transitions
    if (strstr(key, "grass.png") && !strstr(key, "dirt-")) r = 70, g = 130, b = 50;
    if (strstr(key, "hardpack")) r = 175, g = 160, b = 130;
    if (strstr(key, "sand")) r = 220, g = 200, b = 140;
    if (strstr(key, "mud")) r = 85, g = 65, b = 45;
    if (strstr(key, "dirt-grass")) r = 115, g = 120, b = 65;
    c[0] = (uint8_t)r, c[1] = (uint8_t)g, c[2] = (uint8_t)b;
  };
  for (int32_t cz = 0; cz < cells; cz++) {
    for (int32_t cx = 0; cx < cells; cx++) {
      uint8_t c[3];
      colour_of(hf.tilemap[(size_t)cz * cells + cx], c);
      size_t s = ((size_t)(2 * cz) * hf.grid_size + (size_t)(2 * cx)) * 3;
      for (int k = 0; k < 3; k++)
        rgb[((size_t)cz * cells + cx) * 3 + k] =
            (uint8_t)std::min(255, c[k] * hf.shading[s + k] * 2 / 255);
    }
  }
  auto dot = [&](float x, float z, int radius, uint8_t r, uint8_t g, uint8_t b) {
    int32_t cx = (int32_t)(x / hf.tile_size), cz = (int32_t)(z / hf.tile_size);
    for (int dz = -radius; dz <= radius; dz++)
      for (int dx = -radius; dx <= radius; dx++) {
        int32_t px = cx + dx, pz = cz + dz;
        if (px < 0 || pz < 0 || px >= cells || pz >= cells) continue;
        uint8_t* o = &rgb[((size_t)pz * cells + px) * 3];
        o[0] = r, o[1] = g, o[2] = b;
      }
  };
  for (int32_t k = 0; k < track.objects.statues.count; k++)
    dot(track.objects.statues.data[k].x, track.objects.statues.data[k].z, 0, 0, 0, 0);
  for (int32_t k = 0; k < track.timing.starting_gate_count; k++)
    dot(track.timing.starting_gates[k].x, track.timing.starting_gates[k].z, 0, 40, 80, 255);
  for (int32_t k = 0; k < track.timing.gate_count; k++)
    dot(track.timing.gates[k].centre[0], track.timing.gates[k].centre[2], 2, 230, 20, 20);
  for (int32_t k = 0; k < track.objects.cameras.count; k++)
    dot(track.objects.cameras.data[k].x, track.objects.cameras.data[k].z, 3, 230, 0, 230);
  return image_write_png_rgb(path.c_str(), rgb.data(), cells, cells);
}

// ---------------------------------------------------------------- rabbithill

class GameDataTracksRabbitHill : public testing::Test {
 protected:
  static LoadedTrack* loaded;
  static void SetUpTestSuite() { loaded = new LoadedTrack(load_generated("rabbithill")); }
  static void TearDownTestSuite() {
    unload_generated();
    delete loaded;
    loaded = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(loaded->ok) << "rabbithill did not load"; }
};
LoadedTrack* GameDataTracksRabbitHill::loaded = nullptr;

TEST_F(GameDataTracksRabbitHill, LoadsWithoutWarnings) {
  for (const std::string& line : loaded->lines) EXPECT_FALSE(is_problem(line)) << line;
  EXPECT_STREQ(track.long_name, "Rabbit Hill MX");
  EXPECT_EQ(track.hf.size_log2, 10);
  EXPECT_EQ(track.hf.grid_size, 2049);
  EXPECT_FLOAT_EQ(track.hf.spacing, 0.5f);
  EXPECT_NE(track.map_texture, 0u);
}

TEST_F(GameDataTracksRabbitHill, StartGridAndLapSequences) {
  const TimingData& t = track.timing;
  ASSERT_TRUE(t.active);
  EXPECT_EQ(t.starting_gate_count, 30);
  int32_t hardpack = tile_by_key("@hardpack.png");
  for (int32_t k = 0; k < t.starting_gate_count; k++) {
    const StartingGate& g = t.starting_gates[k];
    ASSERT_GE(g.statue, 0);
    EXPECT_NE(track.objects.statues.data[g.statue].shape, nullptr) << "gate " << k;
    // Riders line up on the hard start pad, facing along the chute.
    float x, z, fx, fz;
    ASSERT_TRUE(starting_grid_place(&t, k, &x, &z, &fx, &fz));
    EXPECT_EQ(hf_tile_at(&track.hf, x, z), hardpack) << "grid place " << k;
    EXPECT_EQ(hf_tile_at(&track.hf, x - 10 * fx, z - 10 * fz), hardpack) << "second row " << k;
  }
  // Normal lap: every loop checkpoint once, in order. The first lap starts
  // with checkpoints of the start chute that later laps do not pass and ends
  // on the same finish gate.
  ASSERT_GE(t.normal_lap_count, 20);
  std::set<int32_t> normal(t.normal_lap, t.normal_lap + t.normal_lap_count);
  EXPECT_EQ((int32_t)normal.size(), t.normal_lap_count);
  ASSERT_GE(t.first_lap_count, 3);
  EXPECT_EQ(normal.count(t.first_lap[0]), 0u);
  EXPECT_EQ(t.first_lap[t.first_lap_count - 1], t.normal_lap[t.normal_lap_count - 1]);
  EXPECT_LT(t.first_lap_count, t.normal_lap_count + 3);
  float length = polyline_length(lap_polyline());
  EXPECT_GE(length, 2500.0f);
  EXPECT_LE(length, 3500.0f);
  // No stretch between checkpoints is long enough to hide a shortcut.
  std::vector<Point> pts = lap_polyline();
  for (size_t k = 0; k < pts.size(); k++) {
    const Point& a = pts[k];
    const Point& b = pts[(k + 1) % pts.size()];
    EXPECT_LT(std::hypot(b.x - a.x, b.z - a.z), 120.0f) << "after checkpoint " << k;
  }
}

TEST_F(GameDataTracksRabbitHill, CheckpointsLieOnTheRidingSurface) {
  int32_t grass = tile_by_key("@grass.png");
  ASSERT_GE(grass, 0);
  const TimingData& t = track.timing;
  for (int32_t g = 0; g < t.gate_count; g++) {
    const TimingGate& gate = t.gates[g];
    float side_x = -gate.direction[2], side_z = gate.direction[0];
    float reach = gate.radius - 3;
    for (float f : {-1.0f, 0.0f, 1.0f}) {
      float x = gate.centre[0] + side_x * reach * f, z = gate.centre[2] + side_z * reach * f;
      int32_t tile = hf_tile_at(&track.hf, x, z);
      EXPECT_NE(tile, grass) << "checkpoint " << g << " at offset " << f;
      const char* key = track.hf.tiles[tile].key;
      EXPECT_EQ(strstr(key, "dirt-grass"), nullptr) << "checkpoint " << g << " on the border";
    }
    EXPECT_GT(gate.radius, 10.0f);
  }
}

TEST_F(GameDataTracksRabbitHill, HeightProfileHasTheJumps) {
  std::vector<float> h = height_profile(lap_polyline());
  // Two tabletops, the double (take-off and landing), the step-up and the
  // finish jump each rise more than 4 ft within 30 ft; the hill does not.
  EXPECT_GE(count_rises(h, 4.0f, 30.0f), 6);
  EXPECT_LE(count_rises(h, 4.0f, 30.0f), 9);
  std::vector<float> found = decks(h);
  int32_t tabletops = 0;
  for (float length : found) tabletops += length >= 28.0f && length <= 65.0f;
  EXPECT_GE(tabletops, 2);
  EXPECT_GE(longest_whoops(h), 8);
  // Faces are rideable: nowhere along the lap does the ground rise faster
  // than about 34 degrees over 4 ft.
  float steepest = 0;
  for (size_t i = 0; i + 8 < h.size(); i++) steepest = std::max(steepest, (h[i + 8] - h[i]) / 4.0f);
  EXPECT_LT(steepest, 1.3f);
}

TEST_F(GameDataTracksRabbitHill, GroundTypes) {
  const char* const keys[] = {"@dirt.png", "@grass.png", "@hardpack.png",
                              "@sand.png", "@mud.png",   "@dirt-alt1.png"};
  std::vector<int64_t> used(track.hf.tile_count, 0);
  int32_t cells = 1 << track.hf.size_log2;
  for (int64_t k = 0; k < (int64_t)cells * cells; k++) used[track.hf.tilemap[k]]++;
  for (const char* key : keys) {
    int32_t t = tile_by_key(key);
    ASSERT_GE(t, 0) << key;
    EXPECT_GT(used[t], 0) << key << " is never used";
    EXPECT_NE(track.hf.tiles[t].roost[0].kind, 0) << key;
  }
  int32_t dirt = tile_by_key("@dirt.png"), grass = tile_by_key("@grass.png");
  for (int32_t mask = 1; mask <= 14; mask++) {
    char key[64];
    snprintf(key, sizeof key, "@dirt-grass-%d%d%d%d.png", mask >> 3 & 1, mask >> 2 & 1,
             mask >> 1 & 1, mask & 1);
    int32_t t = tile_by_key(key);
    ASSERT_GE(t, 0) << key;
    EXPECT_EQ(track.hf.tiles[t].transition, (uint32_t)(dirt << 16 | grass << 8 | mask)) << key;
    // The two diagonal masks need a border narrower than a cell; all others
    // appear along every curved edge.
    if (mask != 6 && mask != 9) {
      EXPECT_GT(used[t], 0) << key << " is never used";
    }
  }
  int32_t alt = tile_by_key("@dirt-alt1.png");
  EXPECT_EQ(track.hf.tiles[alt].transition, (uint32_t)(dirt << 16 | dirt << 8));
  // Every picture loaded.
  for (int32_t k = 0; k < track.hf.tile_count; k++)
    EXPECT_TRUE(track.hf.tiles[k].texture || track.hf.tiles[k].pixels) << track.hf.tiles[k].key;
  // Each ground rides differently.
  auto grip = [](int32_t t) { return tile_type_friction(&track.hf.tiles[t], 0.0f); };
  auto drag = [](int32_t t) {
    float shallow, deep;
    tile_type_roll_resist(&track.hf.tiles[t], 5.0f, &shallow, &deep);
    return deep;
  };
  int32_t hard = tile_by_key("@hardpack.png"), sand = tile_by_key("@sand.png"),
          mud = tile_by_key("@mud.png");
  EXPECT_GT(grip(hard), grip(dirt));
  EXPECT_GT(grip(dirt), grip(grass));
  EXPECT_GT(grip(grass), grip(mud));
  EXPECT_GT(drag(sand), drag(dirt));
  EXPECT_GT(drag(mud), drag(hard));
  EXPECT_GT(track.hf.tiles[sand].erode_depth, track.hf.tiles[dirt].erode_depth);
  EXPECT_LT(track.hf.tiles[hard].erode_depth, track.hf.tiles[dirt].erode_depth);
  EXPECT_EQ(track.hf.tiles[mud].roost[0].kind, 2);  // mud splashes
  // Friction falls as the tyre slips on loose dirt.
  EXPECT_LT(tile_type_friction(&track.hf.tiles[dirt], 400.0f), grip(dirt));
}

TEST_F(GameDataTracksRabbitHill, ObjectsLoad) {
  const TrackObjects& o = track.objects;
  int32_t with_shape = 0, facing = 0;
  for (int32_t k = track.first_file_statue; k < o.statues.count; k++) {
    const Statue& s = o.statues.data[k];
    if (s.shape_name) {
      EXPECT_NE(s.shape, nullptr) << s.shape_name;
      with_shape++;
      // Nothing solid stands on the racing line.
      for (int32_t g = 0; g < track.timing.gate_count; g++) {
        const TimingGate& gate = track.timing.gates[g];
        EXPECT_GT(std::hypot(s.x - gate.centre[0], s.z - gate.centre[2]), gate.radius - 2)
            << "statue " << k << " near checkpoint " << g;
      }
    }
    if (s.face_distance > 0) {
      facing++;
      EXPECT_GE(s.angle, 3.25f);
    }
  }
  EXPECT_GE(with_shape, 60);
  EXPECT_GE(facing, 3);
  int32_t banners = 0, file_billboards = 0;
  for (int32_t k = track.first_file_billboard; k < o.billboards.count; k++) {
    const Billboard& b = o.billboards.data[k];
    EXPECT_NE(b.texture, 0u) << (b.name ? b.name : "(none)");
    file_billboards++;
    banners += !(b.r == 255 && b.g == 255 && b.b == 255);
  }
  EXPECT_GE(file_billboards, 100);
  EXPECT_GE(banners, 3);
  // Flaggers.
  ASSERT_GE(o.starter.billboard, 0);
  for (uint32_t tex : o.starter.textures) EXPECT_NE(tex, 0u);
  ASSERT_GE(o.lap_flagger.billboard, 0);
  for (uint32_t tex : o.lap_flagger.textures) EXPECT_NE(tex, 0u);
  ASSERT_GE(o.flaggers.count, 3);
  for (int32_t k = 0; k < o.flaggers.count; k++) {
    const Flagger& f = o.flaggers.data[k];
    EXPECT_GE(f.gates[0], 0);
    EXPECT_NE(f.normal_texture, 0u);
    EXPECT_NE(f.waving_texture, 0u);
  }
  // Cameras cover every checkpoint.
  ASSERT_GE(o.cameras.count, 6);
  for (int32_t g = 0; g < track.timing.gate_count; g++) {
    EXPECT_GE(o.gate_camera[g], 0) << "checkpoint " << g;
    EXPECT_LT(o.gate_camera[g], o.cameras.count);
  }
  // Lighting, fog and sky.
  EXPECT_GT(track.lighting.fog_density, 0.0f);
  for (uint32_t sky : track.lighting.sky) EXPECT_NE(sky, 0u);
  EXPECT_NE(track.lighting.sky_env, 0u);
  // Decals.
  ASSERT_TRUE(track.hf.has_decals);
  EXPECT_GE(track.hf.decals.count, 4);
  for (int32_t k = 0; k < track.hf.decals.count; k++)
    EXPECT_TRUE(track.hf.decals.data[k].texture || track.hf.decals.data[k].pixels);
}

TEST_F(GameDataTracksRabbitHill, MapPictureShowsTheTrack) {
  Image map{};
  ASSERT_TRUE(image_read("@rabbithill/map.png", &map));
  EXPECT_EQ(map.width, 256);
  EXPECT_EQ(map.height, 256);
  ASSERT_EQ(map.channels, 4);
  auto alpha = [&](float x, float z) {
    int32_t px = (int32_t)(x / track.hf.world_size * 256),
            pz = (int32_t)(z / track.hf.world_size * 256);
    return map.pixels[((size_t)pz * 256 + px) * 4 + 3];
  };
  for (int32_t g = 0; g < track.timing.gate_count; g++)
    EXPECT_EQ(alpha(track.timing.gates[g].centre[0], track.timing.gates[g].centre[2]), 255) << g;
  int64_t opaque = 0;
  for (int32_t k = 0; k < 256 * 256; k++) opaque += map.pixels[k * 4 + 3] > 128;
  EXPECT_GT(opaque, 256 * 256 / 40);
  EXPECT_LT(opaque, 256 * 256 / 3);
  EXPECT_EQ(map.pixels[3], 0);  // corner: transparent
  image_free(&map);
}

TEST_F(GameDataTracksRabbitHill, ShadingFollowsTheSun) {
  const HeightField& hf = track.hf;
  const float* sun = track.lighting.sun_vector;
  double lit = 0, away = 0;
  int64_t lit_n = 0, away_n = 0, shadowed = 0;
  for (int32_t j = 1; j < hf.grid_size - 1; j += 3) {
    for (int32_t i = 1; i < hf.grid_size - 1; i += 3) {
      float n[3];
      hf_vertex_normal(&hf, i, j, n);
      float d = n[0] * sun[0] + n[1] * sun[1] + n[2] * sun[2];
      size_t idx = (size_t)j * hf.grid_size + i;
      if (hf.shadow[idx] > 0) shadowed++;
      if (hf.shadow[idx] == 0 && d > 0.75f) lit += hf.shading[idx * 3], lit_n++;
      if (d < 0.5f) away += hf.shading[idx * 3], away_n++;
    }
  }
  ASSERT_GT(lit_n, 0);
  ASSERT_GT(away_n, 0);
  EXPECT_GT(lit / lit_n, away / away_n + 10);
  EXPECT_GT(shadowed, 20);  // the steep walls of the jumps cast shadows
  // Flat open ground is not in shadow.
  EXPECT_LT(shadowed, (int64_t)hf.grid_size * hf.grid_size / 9 / 5);
  EXPECT_TRUE(write_overview("/tmp/rutmoto_overview_rabbithill.png"));
}

// ---------------------------------------------------------------- practice

class GameDataTracksPractice : public testing::Test {
 protected:
  static LoadedTrack* loaded;
  static void SetUpTestSuite() { loaded = new LoadedTrack(load_generated("practice")); }
  static void TearDownTestSuite() {
    unload_generated();
    delete loaded;
    loaded = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(loaded->ok) << "practice did not load"; }
};
LoadedTrack* GameDataTracksPractice::loaded = nullptr;

TEST_F(GameDataTracksPractice, LoadsWithoutWarnings) {
  for (const std::string& line : loaded->lines) EXPECT_FALSE(is_problem(line)) << line;
  EXPECT_STREQ(track.long_name, "Practice Field");
  EXPECT_EQ(track.hf.grid_size, 513);
  for (int32_t k = 0; k < track.hf.tile_count; k++)
    EXPECT_TRUE(track.hf.tiles[k].texture || track.hf.tiles[k].pixels) << track.hf.tiles[k].key;
  for (int32_t k = track.first_file_statue; k < track.objects.statues.count; k++) {
    const Statue& s = track.objects.statues.data[k];
    if (s.shape_name) {
      EXPECT_NE(s.shape, nullptr) << s.shape_name;
    }
  }
  EXPECT_GE(track.objects.statues.count - track.first_file_statue, 5);
  EXPECT_NE(track.map_texture, 0u);
  EXPECT_TRUE(write_overview("/tmp/rutmoto_overview_practice.png"));
}

TEST_F(GameDataTracksPractice, FlatHardpackStartAndTiming) {
  const TimingData& t = track.timing;
  ASSERT_TRUE(t.active);
  EXPECT_GE(t.starting_gate_count, 4);
  int32_t hardpack = tile_by_key("@hardpack.png");
  ASSERT_GE(hardpack, 0);
  // The grid and the straight ahead of it are exactly level hardpack.
  float x0, z0, fx, fz;
  ASSERT_TRUE(starting_grid_place(&t, 0, &x0, &z0, &fx, &fz));
  for (float ahead = -20; ahead <= 200; ahead += 2) {
    float x = x0 + fx * ahead, z = z0 + fz * ahead;
    EXPECT_EQ(hf_height_at(&track.hf, x, z), 0.0f) << ahead;
    EXPECT_EQ(hf_tile_at(&track.hf, x, z), hardpack) << ahead;
  }
  float n[3];
  hf_vertex_normal(&track.hf, (int32_t)(x0 / track.hf.spacing), (int32_t)(z0 / track.hf.spacing),
                   n);
  EXPECT_EQ(n[1], 1.0f);
  float length = polyline_length(lap_polyline());
  EXPECT_GT(length, 700.0f);
  EXPECT_LT(length, 1200.0f);
  EXPECT_EQ(t.first_lap[t.first_lap_count - 1], t.normal_lap[t.normal_lap_count - 1]);
  std::vector<float> h = height_profile(lap_polyline());
  // One tabletop (a raised deck) and a small kicker.
  std::vector<float> found = decks(h);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_GE(found[0], 25.0f);
  EXPECT_EQ(count_rises(h, 1.5f, 12.0f), 2);
}

// ---------------------------------------------------------------- generator

// The generator writes the same bytes on every run.
TEST(GameDataTracksGenerator, IsDeterministic) {
  TempDir out;
  CommandResult r =
      run_command(std::string("'") + RT_BINARY_DIR + "/rt_datagen' '" + out.path + "/'");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* dir : {"practice", "rabbithill"}) {
    for (const char* file : {"terrain.hf", "terrain.png", "shadingx2.ppm", "shadows.pgm", "tilemap",
                             "tileinfo", "timing_gates", "statues", "billboards", "flaggers",
                             "cameras", "lighting", "decals", "map.png", "desc"}) {
      std::string a = read_file(std::string(RT_BINARY_DIR) + "/" + dir + "/" + file);
      std::string b = read_file(out.path + "/" + dir + "/" + file);
      EXPECT_FALSE(a.empty()) << dir << "/" << file;
      EXPECT_TRUE(a == b) << dir << "/" << file << " differs between runs";
    }
  }
}

}  // namespace
