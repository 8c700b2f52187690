#include <gtest/gtest.h>
#include <nettle/ripemd160.h>

#include <unistd.h>

#include <string>

#include "core/files.h"
#include "core/messages.h"
#include "core/program.h"
#include "tests/test_helpers.h"
#include "tests/track_fixture.h"
#include "track/track.h"

namespace {

// A game-data folder with fixture tracks, used as RT_HOME.
struct TrackFixture : testing::Test {
  TempDir data;
  TempDir home;
  ScopedEnv rt_home{"RT_HOME", nullptr};
  ScopedEnv xdg{"XDG_DATA_HOME", nullptr};
  void SetUp() override {
    setenv("RT_HOME", data.path.c_str(), 1);
    setenv("XDG_DATA_HOME", home.path.c_str(), 1);
    file_list_free();
    program_init(program);
  }
  void TearDown() override {
    track_free();
    track = Track{};
    file_list_free();
  }
  bool load(const char* name) {
    track_free();
    track.name = name;
    return track_load() == 1;
  }
  std::string hash_of(const char* name) {
    EXPECT_TRUE(load(name));
    char hex[41];
    track_hash_hex(hex);
    return hex;
  }
};

using TrackLoad = TrackFixture;

std::string ripemd160_hex(const std::string& bytes) {
  ripemd160_ctx ctx;
  ripemd160_init(&ctx);
  ripemd160_update(&ctx, bytes.size(), (const uint8_t*)bytes.data());
  uint8_t d[20];
  ripemd160_digest(&ctx, 20, d);
  char hex[41];
  for (int i = 0; i < 20; i++) snprintf(hex + 2 * i, 3, "%02x", d[i]);
  return hex;
}

}  // namespace

TEST_F(TrackLoad, MinimalTrackHasNoGatesNoObjectsAndDefaultLighting) {
  FixtureTrack t;
  t.binary_heights = false;  // heights from terrain.png, which is missing: flat
  t.tileinfo = false;
  t.timing_gates = t.statues = t.billboards = t.extras = false;
  write_fixture_track(data.path, "minimal", t);
  ASSERT_TRUE(load("minimal"));
  EXPECT_STREQ(track.long_name, "minimal");  // not in the track list
  EXPECT_EQ(track.timing.first_lap_count, 0);
  EXPECT_EQ(track.timing.starting_gate_count, 0);
  EXPECT_EQ(track.objects.statues.count, 0);
  EXPECT_EQ(track.first_file_billboard, 2000);  // only the reserved slots
  EXPECT_EQ(track.objects.billboards.count, 2000);
  EXPECT_FLOAT_EQ(terrain_height_at(3.0f, 5.0f), 0.0f);
  EXPECT_EQ(track.hf.tile_count, 2);
}

TEST_F(TrackLoad, FingerprintCoversExactlyTheListedFiles) {
  FixtureTrack t;
  write_fixture_track(data.path, "full", t);
  std::string dir = data.file("full/");
  // terrain.png and texturelist are absent and add nothing; the shape file
  // of the two statues is added once.
  std::string expected = ripemd160_hex(
      read_file(dir + "terrain.hf") + read_file(dir + "tilemap") + read_file(dir + "tileinfo") +
      read_file(dir + "timing_gates") + read_file(dir + "statues") + read_file(data.file("fixture.shp")));
  EXPECT_EQ(hash_of("full"), expected);
}

TEST_F(TrackLoad, FingerprintIgnoresLooksAndFollowsRidingFiles) {
  FixtureTrack t;
  write_fixture_track(data.path, "a", t);
  std::string base = hash_of("a");

  write_file(data.file("a/shading.ppm"), fixture_ppm(t.grid(), t.grid(), 17));
  write_file(data.file("a/billboards"), "[2 0 2] 3 1 @other.png\n");
  write_file(data.file("a/lighting"), "sun_vector [0 1 0]\n");
  EXPECT_EQ(hash_of("a"), base);

  std::string tileinfo = read_file(data.file("a/tileinfo"));
  tileinfo[tileinfo.find("0.8")] = '1';
  write_file(data.file("a/tileinfo"), tileinfo);
  std::string changed_tiles = hash_of("a");
  EXPECT_NE(changed_tiles, base);

  write_file(data.file("fixture.shp"), "1\n0 0.5 0 0.6 1 1000 10\n");
  EXPECT_NE(hash_of("a"), changed_tiles);
}

TEST_F(TrackLoad, LoadsEveryFileKind) {
  FixtureTrack t;
  write_fixture_track(data.path, "full", t);
  ASSERT_TRUE(load("full"));
  EXPECT_EQ(track.timing.starting_gate_count, 2);
  EXPECT_EQ(track.timing.first_lap_count, 2);
  EXPECT_EQ(track.timing.normal_lap_count, 2);
  // Two starting-gate statues come before the file's statues.
  EXPECT_EQ(track.first_file_statue, 2);
  EXPECT_EQ(track.objects.statues.count, 4);
  // Reserved slots, three flagger billboards, then the two from the file.
  EXPECT_EQ(track.first_file_billboard, 2003);
  EXPECT_EQ(track.objects.billboards.count, 2005);
  EXPECT_EQ(track.hf.tile_count, 2);
  EXPECT_TRUE(track.hf.has_decals);
  // Statue heights sit on the ground plus their offset.
  const Statue& s = track.objects.statues.data[3];
  EXPECT_NEAR(s.y, terrain_height_at(2, 2) + 0.5f, 1e-4);
  EXPECT_FLOAT_EQ(s.angle, 1.5f);
}

TEST_F(TrackLoad, TrackInfoWithoutTimingGates) {
  FixtureTrack t;
  t.timing_gates = false;
  write_fixture_track(data.path, "plain", t);
  ASSERT_TRUE(load("plain"));
  track_info_save();
  char hex[41];
  track_hash_hex(hex);
  std::string info = read_file(home.path + "/Rutmoto/plain.trackinfo");
  EXPECT_EQ(info, std::string("dir=plain\nlongname=plain\nfirstlap=0\nnormallap=0\ngatecount=0\nhash=") +
                      hex + "\n");
  EXPECT_STREQ(message_history_line(message_history, 0), "Track info saved to plain.trackinfo");
}

TEST_F(TrackLoad, BrokenGroundFailsAndClearsTheName) {
  struct Case {
    const char* name;
    void (*spoil)(const std::string& dir);
    const char* message;
  } cases[] = {
      {"notiles",
       [](const std::string& dir) {
         unlink((dir + "tileinfo").c_str());
       },
       "Can't open '"},
      {"badheader", [](const std::string& dir) { write_file(dir + "terrain.hf", "garbage\n"); },
       "Error reading heights"},
      {"nofile", [](const std::string& dir) { unlink((dir + "terrain.hf").c_str()); },
       "Can't open '"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FixtureTrack t;
    write_fixture_track(data.path, c.name, t);
    c.spoil(data.file(c.name) + "/");
    file_list_free();
    message_history_clear(message_history);
    EXPECT_FALSE(load(c.name));
    EXPECT_EQ(track.name, nullptr);
    EXPECT_FALSE(track.loaded);
    bool found = false;
    for (int k = 0; k < 10; k++)
      found |= std::string(message_history_line(message_history, k)).find(c.message) == 0;
    EXPECT_TRUE(found) << message_history_line(message_history, 0);
  }
}
