// The per-slot snapshot history (adding, dropping newer entries, the ring,
// lookups with interpolation and extrapolation), posing a slot's bike from it,
// which bikes are hidden, and the position table.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/messages.h"
#include "core/program.h"
#include "physics/snapshot_pose.h"
#include "physics/step.h"
#include "race/race.h"
#include "tests/bike_fixture.h"

namespace {

// A state told apart by its frame x field and its flags byte.
BikeState state(uint32_t x, uint8_t marker = 0) {
  BikeState s;
  memset(&s, 0, sizeof s);
  state_write(s.bytes + STATE_POS_X, 3, x);
  for (int32_t offset : {STATE_QUAT, STATE_RIDER_QUAT}) {
    state_write(s.bytes + offset, 2, 0xFFFF);  // identity
    for (int32_t i = 1; i < 4; i++) state_write(s.bytes + offset + 2 * i, 2, 32767);
  }
  s.bytes[STATE_FLAGS] = marker;
  s.bytes[STATE_SWINGARM] = 0x81;  // exact-snapshot bit set
  return s;
}

uint32_t x_of(const BikeState& s) { return state_read(s.bytes + STATE_POS_X, 3); }

// Saves and restores the program-wide records the history reads.
class HistoryTest : public ::testing::Test {
 protected:
  BikeSlot saved_slots[MAX_BIKES];
  int32_t saved_tick = 0, saved_viewed = 0;
  bool saved_online = false;
  std::vector<std::unique_ptr<Bike>> fakes;

  void SetUp() override {
    memcpy(saved_slots, program.slots, sizeof saved_slots);
    memset(program.slots, 0, sizeof program.slots);
    saved_tick = program.tick;
    saved_viewed = program.viewed_slot;
    saved_online = physics_state.online;
    physics_state.online = false;
    race_session_reset();
    race_session.playing_demo = false;
    race_session.demo_version = 6;
    race_session.local_slot = NO_LOCAL_SLOT;
    for (int32_t& t : race_session.last_heard_tick) t = -1;
    message_history_clear(message_history);
  }
  void TearDown() override {
    for (auto& b : fakes) bike_timing_free(&b->timing);
    memcpy(program.slots, saved_slots, sizeof saved_slots);
    program.tick = saved_tick;
    program.viewed_slot = saved_viewed;
    physics_state.online = saved_online;
    race_session_reset();
    race_session.playing_demo = false;
  }
  // A bike record for the timing and visibility rules (no bodies).
  Bike* fake(int32_t slot, BikeSlotKind kind) {
    fakes.push_back(std::make_unique<Bike>());
    Bike* b = fakes.back().get();  // value-initialised: all zero
    program.slots[slot].bike = b;
    program.slots[slot].kind = kind;
    return b;
  }
  static std::vector<int32_t> ticks_back(int32_t slot) {
    const SlotHistory& h = race_session.history[slot];
    std::vector<int32_t> out;
    for (int32_t k = 0, i = h.head; k < HISTORY_LENGTH;
         k++, i = (i + HISTORY_LENGTH - 1) % HISTORY_LENGTH) {
      if (h.entries[i].tick < 0) break;
      out.push_back(h.entries[i].tick);
    }
    return out;
  }
};

using Positions = HistoryTest;
using BikeHidden = HistoryTest;

// ---------------------------------------------------------------- adding

TEST_F(HistoryTest, FirstSnapshotOfATickWins) {
  add_state_to_history(3, state(10), 10);
  add_state_to_history(3, state(11, 1), 11);
  add_state_to_history(3, state(12), 12);
  add_state_to_history(3, state(99, 2), 11);
  EXPECT_EQ(ticks_back(3), (std::vector<int32_t>{12, 11, 10}));
  EXPECT_EQ(race_session.history[3].count, 3);
  HistoryLookup l = history_lookup(3, 11);
  ASSERT_TRUE(l.found);
  EXPECT_EQ(x_of(l.state), 11u);
  EXPECT_EQ(l.state.bytes[STATE_FLAGS], 1);
  // The other slots are untouched.
  EXPECT_FALSE(history_lookup(2, 11).found);
}

TEST_F(HistoryTest, AnOlderTickDropsTheNewerEntries) {
  add_state_to_history(0, state(10), 10);
  add_state_to_history(0, state(12), 12);
  add_state_to_history(0, state(11), 11);
  EXPECT_EQ(ticks_back(0), (std::vector<int32_t>{11, 10}));
  EXPECT_EQ(race_session.history[0].entries[race_session.history[0].head].tick, 11);
  EXPECT_EQ(race_session.history[0].count, 2);
  // Tick 12 is gone: it is extrapolated from 10 and 11 now.
  HistoryLookup l = history_lookup(0, 12);
  EXPECT_EQ(x_of(l.state), 12u);
  EXPECT_EQ(l.distance, 1);

  // Older than everything stored: only the new entry remains.
  for (int32_t t = 100; t < 104; t++) add_state_to_history(1, state(t), t);
  add_state_to_history(1, state(50), 50);
  EXPECT_EQ(ticks_back(1), (std::vector<int32_t>{50}));
}

TEST_F(HistoryTest, TheRingKeepsTheNewest128) {
  for (int32_t t = 0; t < 300; t++) add_state_to_history(7, state(1000 + t), t);
  std::vector<int32_t> ticks = ticks_back(7);
  ASSERT_EQ(ticks.size(), 128u);
  EXPECT_EQ(ticks.front(), 299);
  EXPECT_EQ(ticks.back(), 172);
  EXPECT_EQ(race_session.history[7].count, 128);
  // Before the oldest entry: the oldest state unchanged.
  HistoryLookup l = history_lookup(7, 20);
  EXPECT_EQ(x_of(l.state), 1172u);
  EXPECT_EQ(l.state.bytes[STATE_SWINGARM], 0x81);
  // A full ring and a tick older than all of it.
  add_state_to_history(7, state(5), 5);
  EXPECT_EQ(ticks_back(7), (std::vector<int32_t>{5}));
  add_state_to_history(7, state(6), 6);
  EXPECT_EQ(ticks_back(7), (std::vector<int32_t>{6, 5}));
}

TEST_F(HistoryTest, OutOfRangeSlotsAndNegativeTicksStoreNothing) {
  for (int32_t slot : {-1, MAX_BIKES, 100000}) {
    message_history_clear(message_history);
    add_state_to_history(slot, state(1), 10);
    EXPECT_STREQ(message_history_line(message_history, 0),
                 "add_state_to_history: slot out of range");
  }
  add_state_to_history(4, state(1), -1);
  for (int32_t s = 0; s < MAX_BIKES; s++) ASSERT_TRUE(ticks_back(s).empty()) << s;
  EXPECT_FALSE(history_lookup(-1, 0).found);
  EXPECT_FALSE(history_lookup(MAX_BIKES, 0).found);
}

TEST_F(HistoryTest, ClearEmptiesASlot) {
  add_state_to_history(9, state(1), 1);
  add_state_to_history(10, state(1), 1);
  history_clear(9);
  EXPECT_FALSE(history_lookup(9, 1).found);
  EXPECT_EQ(race_session.history[9].count, 0);
  EXPECT_TRUE(history_lookup(10, 1).found);
  history_clear_all();
  EXPECT_FALSE(history_lookup(10, 1).found);
  for (const HistoryEntry& e : race_session.history[10].entries) ASSERT_EQ(e.tick, -1);
}

// ---------------------------------------------------------------- lookup

struct LookupCase {
  int32_t target;
  uint32_t x;
  int32_t older_tick, newer_tick;
  uint8_t swingarm;  // 0x81 for a stored state, 0x80 for an interpolated one
};

TEST_F(HistoryTest, LookupInterpolatesAndExtrapolates) {
  add_state_to_history(2, state(1000), 100);
  add_state_to_history(2, state(5000), 104);
  add_state_to_history(2, state(9000), 112);
  const LookupCase cases[] = {
      {106, 6000, 104, 112, 0x80},   // a quarter of the way
      {113, 9500, 104, 112, 0x80},   // one tick past the newest: fraction 9/8
      {192, 41000, 104, 112, 0x80},  // 80 ticks past: fraction (112 + 64 - 104) / 8
      {500, 41000, 104, 112, 0x80},  // at most 64 ticks of extrapolation
      {102, 3000, 100, 104, 0x80},  {104, 5000, 100, 104, 0x81},  // exactly the newer entry
      {112, 9000, 104, 112, 0x81},  {100, 1000, 100, 104, 0x81},  // the oldest entry unchanged
      {40, 1000, 100, 104, 0x81},   {-50, 1000, 100, 104, 0x81},  // negative counts as 0
  };
  for (const LookupCase& c : cases) {
    SCOPED_TRACE(c.target);
    HistoryLookup l = history_lookup(2, c.target);
    ASSERT_TRUE(l.found);
    const SlotHistory& h = race_session.history[2];
    EXPECT_EQ(h.entries[l.older].tick, c.older_tick);
    EXPECT_EQ(h.entries[l.newer].tick, c.newer_tick);
    EXPECT_EQ(l.distance, c.newer_tick - c.older_tick);
    EXPECT_EQ(x_of(l.state), c.x);
    EXPECT_EQ(l.state.bytes[STATE_SWINGARM], c.swingarm);
  }
}

TEST_F(HistoryTest, ExtrapolationFractionsPastTwoEntries) {
  add_state_to_history(2, state(400), 100);
  add_state_to_history(2, state(800), 104);
  EXPECT_EQ(x_of(history_lookup(2, 105).state), 900u);             // 400 + 400 * 5/4
  EXPECT_EQ(x_of(history_lookup(2, 184).state), 400u + 400 * 17);  // (104 + 64 - 100)/4
}

TEST_F(HistoryTest, LookupOfEmptyAndSingleEntryHistories) {
  EXPECT_FALSE(history_lookup(5, 10).found);
  add_state_to_history(5, state(77), 100);
  for (int32_t target : {0, 100, 500}) {
    HistoryLookup l = history_lookup(5, target);
    ASSERT_TRUE(l.found) << target;
    EXPECT_EQ(l.older, l.newer);
    EXPECT_EQ(l.distance, 0);
    EXPECT_EQ(x_of(l.state), 77u);
  }
}

TEST_F(HistoryTest, VersionFourDemosAreNotInterpolated) {
  add_state_to_history(2, state(1000), 100);
  add_state_to_history(2, state(5000), 104);
  race_session.playing_demo = true;
  race_session.demo_version = 4;
  EXPECT_EQ(x_of(history_lookup(2, 102).state), 1000u);
  EXPECT_EQ(x_of(history_lookup(2, 104).state), 5000u);
  race_session.demo_version = 6;
  EXPECT_EQ(x_of(history_lookup(2, 102).state), 3000u);
}

TEST_F(HistoryTest, ResetClearsTheSession) {
  race_session.position_count = 3;
  race_session.result_count = 2;
  race_session.results_final = true;
  race_session.slow_rider_seconds = 3;
  race_session.slow_rider_factor = 9;
  race_session.length.half_way_lap = 4;
  race_session.length.time_limit = 100;
  add_state_to_history(1, state(1), 1);
  race_session_reset();
  EXPECT_EQ(race_session.position_count, 0);
  EXPECT_EQ(race_session.result_count, 0);
  EXPECT_FALSE(race_session.results_final);
  EXPECT_FLOAT_EQ(race_session.slow_rider_seconds, 10);
  EXPECT_FLOAT_EQ(race_session.slow_rider_factor, 1.5f);
  EXPECT_EQ(race_session.length.half_way_lap, RACE_LAPS_UNSET);
  EXPECT_EQ(race_session.length.race_laps, RACE_LAPS_UNSET);
  EXPECT_EQ(race_session.length.time_limit, 0);
  EXPECT_FALSE(history_lookup(1, 1).found);
}

// ---------------------------------------------------------------- positions

TEST_F(Positions, SortByGatesThenLastGateTickThenSlot) {
  struct Rider {
    int32_t slot;
    std::vector<std::pair<int32_t, int32_t>> credits;  // position, tick
  };
  const Rider riders[] = {
      {5, {{0, 100}, {1, 200}, {2, 300}}},
      {2, {{0, 90}, {1, 210}, {2, 300}}},  // tie with slot 5: lower slot first
      {7, {{0, 100}, {1, 200}, {2, 250}}},
      {1, {}},
      {9, {{0, 100}, {1, 200}, {2, 300}, {3, 400}}},
      {4, {}},
      {6, {{2, 260}}},  // skipped gates still count as passed
  };
  for (const Rider& r : riders) {
    Bike* b = fake(r.slot, r.slot == 5 ? LOCAL_RIDER : ROBOT);
    for (auto [p, t] : r.credits) ASSERT_TRUE(bike_timing_credit(&b->timing, p, t));
  }
  positions_update();
  ASSERT_EQ(race_session.position_count, 7);
  const int32_t order[] = {9, 7, 6, 2, 5, 1, 4};
  const int32_t gates[] = {4, 3, 3, 3, 3, 0, 0};
  const int32_t last[] = {400, 250, 260, 300, 300, 0, 0};
  for (int32_t i = 0; i < 7; i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(race_session.positions[i].slot, order[i]);
    EXPECT_EQ(race_session.positions[i].gate_position, gates[i]);
    EXPECT_EQ(race_session.positions[i].last_gate_tick, last[i]);
  }
  // A slot that empties leaves the table at the next update.
  program.slots[7].bike = nullptr;
  positions_update();
  EXPECT_EQ(race_session.position_count, 6);
  EXPECT_EQ(race_session.positions[1].slot, 6);
}

// ---------------------------------------------------------------- hidden bikes

TEST_F(BikeHidden, LocalAndRobotBikes) {
  fake(0, LOCAL_RIDER);
  fake(1, LOCAL_RIDER);
  fake(2, ROBOT);
  program.viewed_slot = 0;
  EXPECT_TRUE(bike_hidden(3));  // empty
  EXPECT_TRUE(bike_hidden(-1));
  EXPECT_TRUE(bike_hidden(MAX_BIKES));
  EXPECT_FALSE(bike_hidden(0));
  EXPECT_FALSE(bike_hidden(1));
  EXPECT_FALSE(bike_hidden(2));
  // A connected watcher sees only the viewed one of the local riders.
  physics_state.online = true;
  EXPECT_FALSE(bike_hidden(0));
  EXPECT_TRUE(bike_hidden(1));
  EXPECT_FALSE(bike_hidden(2));
  race_session.local_slot = 0;  // riding, not watching
  EXPECT_FALSE(bike_hidden(1));
}

struct WindowCase {
  int32_t now;
  bool hidden;
};

TEST_F(BikeHidden, ReplayedBikesAreHiddenOutsideTheirHistory) {
  fake(4, REPLAYED);
  program.tick = 1000;
  EXPECT_TRUE(bike_hidden(4));  // no history at all
  add_state_to_history(4, state(1), 1000);
  add_state_to_history(4, state(2), 1004);
  const WindowCase cases[] = {
      {1002, false}, {1132, false}, {1133, true}, {872, false}, {871, true}, {5000, true},
  };
  for (const WindowCase& c : cases) {
    program.tick = c.now;
    EXPECT_EQ(bike_hidden(4), c.hidden) << c.now;
  }
}

TEST_F(BikeHidden, ConnectedReplayedBikesNeedARecentUpdate) {
  fake(0, LOCAL_RIDER);
  fake(4, REPLAYED);
  race_session.local_slot = 0;
  race_session.length.start_tick = 900;  // the race is younger than the slow-rider time
  program.tick = 1002;
  add_state_to_history(4, state(1), 1000);
  add_state_to_history(4, state(2), 1004);
  physics_state.online = true;
  struct Case {
    int32_t heard;
    bool hidden;
  };
  for (Case c : {Case{1002, false}, Case{875, false}, Case{874, true}, Case{-1, true}}) {
    race_session.last_heard_tick[4] = c.heard;
    EXPECT_EQ(bike_hidden(4), c.hidden) << c.heard;
  }
  // Watching, or offline, the update time does not matter.
  race_session.local_slot = NO_LOCAL_SLOT;
  EXPECT_FALSE(bike_hidden(4));
  race_session.local_slot = 0;
  physics_state.online = false;
  EXPECT_FALSE(bike_hidden(4));
  // A local slot without a bike counts as watching.
  physics_state.online = true;
  program.slots[0].bike = nullptr;
  EXPECT_FALSE(bike_hidden(4));
}

// Finished, gateless and slow riders are ghosted unless the local rider is
// one of them itself.
TEST_F(BikeHidden, SlowAndFinishedRidersAreHidden) {
  Bike* local = fake(0, LOCAL_RIDER);
  Bike* other = fake(4, REPLAYED);
  race_session.local_slot = 0;
  race_session.length.start_tick = 0;
  physics_state.online = true;
  // The local rider: gates 0, 1, 2 at 1000, 1200, 1400.
  for (int32_t p = 0; p < 3; p++)
    ASSERT_TRUE(bike_timing_credit(&local->timing, p, 1000 + 200 * p));
  auto at = [&](int32_t now) {
    program.tick = now;
    race_session.last_heard_tick[4] = now;
    history_clear(4);
    add_state_to_history(4, state(1), now - 2);
    add_state_to_history(4, state(2), now + 2);
    positions_update();
    return bike_hidden(4);
  };
  EXPECT_TRUE(at(2500));  // the other has passed no gate
  ASSERT_TRUE(bike_timing_credit(&other->timing, 0, 1000));
  ASSERT_TRUE(bike_timing_credit(&other->timing, 1, 1250));
  EXPECT_FALSE(at(2500));  // 9.8 s since its last gate: not slow
  // 21.5 s since its last gate >= 1.5 x the leader's 1.56 s + 10 s: slow.
  EXPECT_TRUE(at(4000));
  other->timing.finished = true;
  EXPECT_TRUE(at(2500));
  physics_state.online = false;  // offline nobody is ghosted
  EXPECT_FALSE(at(2500));
  physics_state.online = true;
  // A local rider who is out of the race sees everyone.
  local->timing.finished = true;
  EXPECT_FALSE(at(2500));
  EXPECT_FALSE(at(4000));
  // Before the slow-rider time nobody is ghosted.
  local->timing.finished = false;
  race_session.length.start_tick = 2400;
  EXPECT_FALSE(at(2500));
}

// ---------------------------------------------------------------- posing a slot

class HistoryApply : public BikeWorld {
 protected:
  BikeSlot saved_slots[MAX_BIKES];
  Bike* bike = nullptr;
  void SetUp() override {
    BikeWorld::SetUp();
    track.hf.min_height = -64;
    memcpy(saved_slots, program.slots, sizeof saved_slots);
    memset(program.slots, 0, sizeof program.slots);
    race_session_reset();
    race_session.playing_demo = false;
    bike = add_bike();
    ASSERT_NE(bike, nullptr);
    bike_disable(bike);
    program.slots[3].bike = bike;
    program.slots[3].kind = REPLAYED;
  }
  void TearDown() override {
    memcpy(program.slots, saved_slots, sizeof saved_slots);
    race_session_reset();
    race_session.playing_demo = false;
    BikeWorld::TearDown();
  }
};

TEST_F(HistoryApply, PosesTheSlotsBikeFromItsHistory) {
  bike_place(bike, 100, 120, 0);
  BikeState a = bike_state_pack(bike);
  bike_place(bike, 101, 118, 0);
  BikeState b = bike_state_pack(bike);
  bike_place(bike, 30, 30, 0);  // somewhere else entirely
  bike_disable(bike);
  add_state_to_history(3, a, 100);
  add_state_to_history(3, b, 104);
  history_apply(3, 102);
  Vec3 p = pos(bike, FRAME);
  EXPECT_NEAR(p.x, 100.5 + bike->info.frame_pos[0], 1e-3);
  EXPECT_NEAR(p.z, 119 + bike->info.frame_pos[2], 1e-3);
  Vec3 v = vel(bike, FRAME);
  EXPECT_NEAR(v.x, 1.0 / (4.0 / 128), 0.01);
  EXPECT_NEAR(v.z, -2.0 / (4.0 / 128), 0.01);
  // Nothing happens for an empty slot or history.
  history_apply(4, 102);
  history_clear(3);
  history_apply(3, 102);
  EXPECT_NEAR(pos(bike, FRAME).x, p.x, 1e-12);
}

// Version-4 demos hold the older layout: the rider sits on its slide axis
// and turns with the frame.
TEST_F(HistoryApply, VersionFourDemosUseTheOlderLayout) {
  BikeState s = bike_state_pack(bike);
  s.bytes[20] = 0;                                      // rider at the start of its slide range
  state_write(s.bytes + STATE_RIDER_OFFSET + 2, 2, 0);  // nonsense in the new layout
  add_state_to_history(3, s, 100);
  race_session.playing_demo = true;
  race_session.demo_version = 4;
  history_apply(3, 100);
  const BikeInfo& info = bike->info;
  Vec3 axis = vec3_normalize(
      vec3(info.rider_slide_axis[0], info.rider_slide_axis[1], info.rider_slide_axis[2]));
  Vec3 local =
      axis * info.rider_slide_range[0] + vec3((double)info.rider_pos[0] - info.frame_pos[0],
                                              (double)info.rider_pos[1] - info.frame_pos[1],
                                              (double)info.rider_pos[2] - info.frame_pos[2]);
  dVector3 world;
  dBodyGetRelPointPos(bike->body[FRAME], local.x, local.y, local.z, world);
  Vec3 expect = fx_vec(world);
  Vec3 rider = pos(bike, RIDER);
  EXPECT_NEAR(rider.x, expect.x, 1e-6);
  EXPECT_NEAR(rider.y, expect.y, 1e-6);
  EXPECT_NEAR(rider.z, expect.z, 1e-6);
}

}  // namespace
