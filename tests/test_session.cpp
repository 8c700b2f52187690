// Session start and reset: line-up codes, grid places, the one local rider,
// time trial, keeping or reloading the track, the robot roster.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "core/config.h"
#include "core/files.h"
#include "core/program.h"
#include "core/random.h"
#include "core/roster.h"
#include "core/session.h"
#include "core/subsystems.h"
#include "physics/bike.h"
#include "physics/shape.h"
#include "physics/world.h"
#include "race/race.h"
#include "tests/test_helpers.h"
#include "tests/track_fixture.h"
#include "track/track.h"

namespace {

constexpr double PI = 3.14159265358979323846;

// A flat fixture track "grid" in the home directory with `gates` starting
// gates in a row along z, facing +x; game data (shapes) from the build.
class Session : public ::testing::Test {
 protected:
  TempDir root;
  std::string home = root.path + "/xdg/Rutmoto/";
  ScopedEnv env_xdg{"XDG_DATA_HOME", (root.path + "/xdg").c_str()};
  ScopedEnv env_rt{"RT_HOME", RT_BINARY_DIR};

  void SetUp() override {
    file_list_free();
    settings_init_defaults();
    program_init(program);
    ASSERT_TRUE(physics_world_create());
  }
  void TearDown() override {
    session_free();
    track = Track{};
    physics_world_destroy();
    shape_cache_free();
    file_list_free();
  }
  void write_track(int32_t gates, uint16_t height = 0) {
    FixtureTrack t;
    t.n = 6;  // 129 samples
    t.spacing = 2.0f;
    t.samples.assign((size_t)t.grid() * t.grid(), height);
    t.statues = false;
    t.billboards = false;
    t.extras = false;
    write_fixture_track(home, "grid", t);
    std::string text = "startinggate:\n";
    for (int32_t g = 0; g < gates; g++)
      text += "[40 0 " + std::to_string(60 + 4 * g) + "] -1.570796\n";
    text += "checkpoints:\n10 [200 0 100] [1 0 0]\nfirstlap:\n0\nnormallap:\n0\n";
    write_file(home + "grid/timing_gates", text);
    file_list_free();
  }
  static Vec3 frame(int32_t slot) {
    const dReal* p = dBodyGetPosition(program.slots[slot].bike->body[FRAME]);
    return vec3(p[0], p[1], p[2]);
  }
};

std::array<int32_t, MAX_BIKES> lineup_of(std::initializer_list<int32_t> codes) {
  std::array<int32_t, MAX_BIKES> out{};
  int32_t i = 0;
  for (int32_t c : codes) out[i++] = c;
  return out;
}

}  // namespace

TEST_F(Session, GridPlacesRowsBehindTheGates) {
  write_track(20);
  std::array<int32_t, MAX_BIKES> lineup{};
  for (int32_t s = 0; s < 45; s++) lineup[s] = LINEUP_ROBOT;
  ASSERT_TRUE(session_start("grid", lineup.data(), false, false, 0, 3, 0));
  for (int32_t s = 0; s < MAX_BIKES; s++)
    EXPECT_EQ(program.slots[s].bike != nullptr, s < 45) << "slot " << s;
  // Slot s stands behind gate s mod 20, 10 ft further back per row; every
  // bike faces +x like its gate.
  for (int32_t s = 0; s < 45; s++) {
    Vec3 p = frame(s);
    Vec3 same_gate = frame(s % 20);
    int32_t row = s / 20;
    EXPECT_NEAR(p.z, same_gate.z, 1e-4) << s;
    EXPECT_NEAR(p.x, same_gate.x - 10.0 * row, 1e-4) << s;
    EXPECT_EQ(program.slots[s].kind, ROBOT);
    dVector3 f;
    dBodyVectorToWorld(program.slots[s].bike->body[FRAME], 0, 0, -1, f);
    EXPECT_NEAR(f[0], 1.0, 1e-6);
  }
  // Row 0 stands 0.625 ft behind its gate: the frame lies frame_pos.z behind
  // the bike's reference point, which is at x = 40 - 0.625.
  const Bike* b = program.slots[0].bike;
  EXPECT_NEAR(frame(0).x, 40 - 0.625 - b->info.frame_pos[2], 1e-4);
  EXPECT_EQ(program.view_order_count, 45);
}

TEST_F(Session, LineupCodesAndTheOneLocalRider) {
  write_track(8);
  struct Case {
    std::array<int32_t, MAX_BIKES> lineup;
    std::vector<std::pair<int32_t, BikeSlotKind>> occupied;
    int32_t viewed, local;
  };
  const Case cases[] = {
      // Two humans: only the first keeps a rider.
      {lineup_of({LINEUP_HUMAN, LINEUP_HUMAN, LINEUP_ROBOT}),
       {{0, LOCAL_RIDER}, {2, ROBOT}},
       0,
       0},
      // The viewed slot is the human even when a robot comes first.
      {lineup_of({LINEUP_ROBOT_2_STROKE, LINEUP_HUMAN}), {{0, ROBOT}, {1, LOCAL_RIDER}}, 1, 1},
      // Nobody: one robot in slot 0.
      {lineup_of({}), {{0, ROBOT}}, 0, NO_LOCAL_SLOT},
      // Robots by number; an unknown code rides the default bike.
      {lineup_of({LINEUP_ROBOT_NUMBER + 42, 77}), {{0, ROBOT}, {1, ROBOT}}, 0, NO_LOCAL_SLOT},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(session_start("grid", c.lineup.data(), false, false, 0, 3, 0));
    int32_t count = 0;
    for (int32_t s = 0; s < MAX_BIKES; s++)
      if (program.slots[s].bike) count++;
    EXPECT_EQ(count, (int32_t)c.occupied.size());
    for (auto [slot, kind] : c.occupied) {
      ASSERT_NE(program.slots[slot].bike, nullptr) << slot;
      EXPECT_EQ(program.slots[slot].kind, kind) << slot;
    }
    EXPECT_EQ(program.viewed_slot, c.viewed);
    EXPECT_EQ(race_session.local_slot, c.local);
  }
  // The robot with number 42 is roster entry 22, a four-stroke; code 77
  // gets "rm125".
  ASSERT_TRUE(
      session_start("grid", lineup_of({LINEUP_ROBOT_NUMBER + 42, 77}).data(), false, false, 0, 3, 0));
  EXPECT_STREQ(program.slots[0].bike->number_text, "42");
  EXPECT_STREQ(program.slots[1].bike->info.name, "rm125");
}

TEST_F(Session, TimeTrialAndRaceLength) {
  write_track(8);
  ASSERT_TRUE(session_start("grid", nullptr, false, false, 0, 3, 0));
  EXPECT_TRUE(race_session.time_trial);
  EXPECT_EQ(program.tick, 38400);
  EXPECT_NE(program.slots[0].bike, nullptr);
  EXPECT_EQ(program.slots[0].kind, LOCAL_RIDER);
  for (int32_t s = 1; s < MAX_BIKES; s++) EXPECT_EQ(program.slots[s].bike, nullptr);

  // Laps: race laps and half distance; a time limit makes both unset.
  auto lineup = lineup_of({LINEUP_HUMAN});
  ASSERT_TRUE(session_start("grid", lineup.data(), false, false, 0, 5, 0));
  EXPECT_FALSE(race_session.time_trial);
  EXPECT_EQ(program.tick, 0);
  EXPECT_EQ(race_session.length.race_laps, 5);
  EXPECT_EQ(race_session.length.half_way_lap, 3);
  // The start comes between 13 and 15 seconds in.
  EXPECT_GE(race_session.length.start_tick, 13 * 128);
  EXPECT_LT(race_session.length.start_tick, 15 * 128);
  ASSERT_TRUE(session_start("grid", lineup.data(), false, false, 5 * 60 * 128, 2, 0));
  EXPECT_EQ(race_session.length.time_limit, 5 * 60 * 128);
  EXPECT_EQ(race_session.length.race_laps, RACE_LAPS_UNSET);
  EXPECT_EQ(race_session.length.half_way_lap, RACE_LAPS_UNSET);
  EXPECT_EQ(race_session.length.extra_laps, 2);
}

TEST_F(Session, SameTrackIsKeptUnlessAReloadIsAsked) {
  write_track(8, 0);
  auto lineup = lineup_of({LINEUP_HUMAN});
  ASSERT_TRUE(session_start("grid", lineup.data(), false, false, 0, 3, 0));
  EXPECT_FLOAT_EQ(terrain_height_at(64, 64), 0.0f);
  // The files change on disk: a restart on the same track keeps what it had.
  write_track(8, 65535);
  ASSERT_TRUE(session_start("grid", lineup.data(), false, false, 0, 3, 0));
  EXPECT_FLOAT_EQ(terrain_height_at(64, 64), 0.0f);
  session_options.force_reload = true;
  ASSERT_TRUE(session_start("grid", lineup.data(), false, false, 0, 3, 0));
  EXPECT_GT(terrain_height_at(64, 64), 5.0f);
  EXPECT_FALSE(session_options.force_reload);  // once
  // A missing track fails the start.
  EXPECT_FALSE(session_start("nosuchtrack", lineup.data(), false, false, 0, 3, 0));
  EXPECT_FALSE(program.session_loaded);
}

TEST(Roster, TableAndShuffle) {
  std::multiset<std::string> bikes_20_39;
  for (int32_t i = 0; i < ROSTER_COUNT; i++) {
    const RosterEntry* e = roster_entry(i);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(std::string(e->number), std::to_string(20 + i));
    const char* personality = i < 20 ? "corvin" : i < 40 ? "bastian" : i < 60 ? "corvin" : "tobiah";
    EXPECT_STREQ(e->personality, personality) << i;
    if (i >= 20 && i < 40) {
      bikes_20_39.insert(e->bike);
      EXPECT_STREQ(e->bike, roster_entry(i + 20)->bike);
    }
    if (i < 20) EXPECT_NE(strstr(e->bike, "125"), nullptr);
    if (i >= 60) EXPECT_NE(e->bike_texture, nullptr);
  }
  EXPECT_EQ(bikes_20_39.count("crf250"), 5u);
  EXPECT_EQ(bikes_20_39.count("kx250f"), 5u);
  EXPECT_EQ(bikes_20_39.count("rmz250"), 4u);
  EXPECT_EQ(bikes_20_39.count("yz250f"), 5u);
  EXPECT_EQ(bikes_20_39.count("yz250f_se(2006)"), 1u);
  EXPECT_EQ(roster_entry(80), nullptr);

  // A permutation, the same for the same seed, different for another.
  roster_shuffle(7);
  std::vector<int32_t> a, b, c;
  for (int32_t p = 0; p < ROSTER_COUNT; p++) a.push_back(roster_order(p));
  roster_shuffle(7);
  for (int32_t p = 0; p < ROSTER_COUNT; p++) b.push_back(roster_order(p));
  roster_shuffle(8);
  for (int32_t p = 0; p < ROSTER_COUNT; p++) c.push_back(roster_order(p));
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  EXPECT_EQ(std::set<int32_t>(a.begin(), a.end()).size(), (size_t)ROSTER_COUNT);
  // The swap rule: replaying the generator by hand gives the same order.
  random_seed(7);
  std::vector<int32_t> manual(ROSTER_COUNT);
  for (int32_t i = 0; i < ROSTER_COUNT; i++) manual[i] = i;
  for (int32_t k = ROSTER_COUNT - 1; k >= 1; k--) std::swap(manual[k], manual[(random_next() / 65536u) % k]);
  EXPECT_EQ(a, manual);
  EXPECT_EQ(roster_find_number(42), 22);
  EXPECT_EQ(roster_find_number(19), -1);
  EXPECT_EQ(roster_find_number(100), -1);
}
