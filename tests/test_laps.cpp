// Gate crossings, laps, lap times, race length, finish, cutting penalty,
// slow riders and false starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/common.h"
#include "core/files.h"
#include "core/messages.h"
#include "track/timing.h"

namespace {

// Gate k stands at (20k, 0, 0), radius 5, open towards +x.
std::unique_ptr<TimingData> course(int gates, const std::vector<int>& first,
                                   const std::vector<int>& normal) {
  auto t = std::make_unique<TimingData>();
  timing_init(t.get());
  t->gate_count = gates;
  for (int k = 0; k < gates; k++) {
    t->gates[k].centre[0] = 20.0f * k;
    t->gates[k].direction[0] = 1.0f;
    t->gates[k].radius = 5.0f;
  }
  t->first_lap_count = (int)first.size();
  std::copy(first.begin(), first.end(), t->first_lap);
  t->normal_lap_count = (int)normal.size();
  std::copy(normal.begin(), normal.end(), t->normal_lap);
  timing_finish(t.get());
  return t;
}

// Six gates, both laps 0..5: F = N = 6, laps end at positions 5, 11, 17 ...
std::unique_ptr<TimingData> six_gates() {
  return course(6, {0, 1, 2, 3, 4, 5}, {0, 1, 2, 3, 4, 5});
}

struct RiderPassages {
  BikeTiming timing = {};
  ~RiderPassages() { bike_timing_free(&timing); }
  // Credits positions 0, 1, ... with the given ticks (-1 = skipped).
  void passages(const std::vector<int>& ticks) {
    for (size_t p = 0; p < ticks.size(); p++)
      if (ticks[p] >= 0) {
        EXPECT_TRUE(bike_timing_credit(&timing, (int)p, ticks[p]));
      }
    timing.gate_position = (int)ticks.size();
  }
  std::vector<int> ticks() const {
    return std::vector<int>(timing.gate_ticks.data,
                            timing.gate_ticks.data + timing.gate_ticks.count);
  }
};

// Rides the bike through checkpoint k (just behind its centre on the open side).
int ride_through(const TimingData* t, RiderPassages& bike, int k, int tick,
                 const BikeTiming* leader = nullptr, int race_laps = RACE_LAPS_UNSET) {
  return bike_gate_progress(t, &bike.timing, 20.0f * k + 1.0f, 0.0f, tick, leader, race_laps);
}

}  // namespace

// ---------------------------------------------------------------- crossing

TEST(LapsCrossing, InsideTheGateZone) {
  struct Case {
    float dir_x, dir_y, dir_z, x, z;
    bool inside;
  } cases[] = {
      {1, 0, 0, 1, 0, true},      {1, 0, 0, 0, 0, true},       // on the gate line
      {1, 0, 0, -0.1f, 0, false},                              // wrong side
      {1, 0, 0, 5, 0, true},      {1, 0, 0, 5.01f, 0, false},  // radius edge
      {1, 0, 0, 3, 4, true},      {1, 0, 0, 3, 4.1f, false},  {0, 0, -1, 0, -4, true},
      {0, 0, -1, 0, 4, false},    {0, 9, 0, -4, 0, true},  // y of the direction is not used
  };
  for (const Case& c : cases) {
    auto t = course(1, {0}, {0});
    t->gates[0].direction[0] = c.dir_x;
    t->gates[0].direction[1] = c.dir_y;
    t->gates[0].direction[2] = c.dir_z;
    t->gates[0].centre[1] = 100;  // height does not matter either
    RiderPassages bike;
    EXPECT_EQ(gate_crossing_test(t.get(), &bike.timing, c.x, c.z), c.inside ? 0 : -1)
        << c.dir_x << " " << c.dir_z << " at " << c.x << "," << c.z;
  }
}

TEST(LapsCrossing, SkipsOneOrTwoGatesButNotThree) {
  auto t = six_gates();
  RiderPassages bike;
  EXPECT_EQ(ride_through(t.get(), bike, 0, 10), GATE_CREDITED);
  EXPECT_EQ(ride_through(t.get(), bike, 2, 30), GATE_CREDITED);  // missed gate 1
  EXPECT_EQ(bike.ticks(), (std::vector<int>{10, -1, 30}));
  EXPECT_EQ(ride_through(t.get(), bike, 5, 50), GATE_CREDITED | GATE_LAP_DONE);  // missed 3, 4
  EXPECT_EQ(bike.ticks(), (std::vector<int>{10, -1, 30, -1, -1, 50}));
  EXPECT_EQ(bike.timing.gate_position, 6);
  // The gate just passed is never credited again.
  EXPECT_EQ(ride_through(t.get(), bike, 5, 61), GATE_NONE);
  EXPECT_EQ(bike.timing.gate_position, 6);
  // Three ahead is out of reach.
  RiderPassages fresh;
  EXPECT_EQ(ride_through(t.get(), fresh, 3, 60), GATE_NONE);
  EXPECT_EQ(fresh.timing.gate_position, 0);
  EXPECT_EQ(fresh.timing.gate_ticks.count, 0);
}

TEST(LapsCrossing, FinishGateOfALapCannotBeSkipped) {
  auto t = six_gates();
  RiderPassages bike;
  for (int k = 0; k < 5; k++)
    ASSERT_EQ(ride_through(t.get(), bike, k, 10 * (k + 1)), GATE_CREDITED);
  ASSERT_EQ(bike.timing.gate_position, 5);  // next: the finish gate (position 5)
  EXPECT_EQ(ride_through(t.get(), bike, 0, 100), GATE_NONE);
  EXPECT_EQ(ride_through(t.get(), bike, 1, 110), GATE_NONE);
  EXPECT_EQ(bike.timing.gate_position, 5);
  EXPECT_EQ(bike.timing.gate_ticks.count, 5);
  EXPECT_EQ(ride_through(t.get(), bike, 5, 120), GATE_CREDITED | GATE_LAP_DONE);
  EXPECT_EQ(ride_through(t.get(), bike, 0, 130), GATE_CREDITED);
  EXPECT_EQ(bike.timing.gate_position, 7);
  EXPECT_EQ(timing_laps_completed(t.get(), bike.timing.gate_position), 1);
}

TEST(LapsCrossing, GoingBackForASkippedGate) {
  auto t = six_gates();
  RiderPassages bike;
  bike.passages({10, -1, 30});
  // Position 1 is two behind and skipped: accepted, the bike goes back.
  EXPECT_EQ(ride_through(t.get(), bike, 1, 40), GATE_CREDITED);
  EXPECT_EQ(bike.timing.gate_position, 2);
  EXPECT_EQ(bike.ticks(), (std::vector<int>{10, 40, 30}));
  EXPECT_EQ(ride_through(t.get(), bike, 2, 50), GATE_CREDITED);  // credited again
  EXPECT_EQ(bike.ticks(), (std::vector<int>{10, 40, 50}));

  // Three behind, past a credited position: the skipped one still counts.
  RiderPassages other;
  other.passages({10, -1, 30, 40});
  EXPECT_EQ(gate_crossing_test(t.get(), &other.timing, 21, 0), 1);
  // A credited gate behind is not taken again.
  RiderPassages clean;
  clean.passages({10, 20, 30});
  EXPECT_EQ(gate_crossing_test(t.get(), &clean.timing, 1, 0), -1);
  EXPECT_EQ(gate_crossing_test(t.get(), &clean.timing, 21, 0), -1);
}

TEST(LapsCrossing, LapsOfTheThreeGateCourse) {
  auto t = course(3, {3, 0, 1, 2}, {0, 1, 2});
  RiderPassages bike;
  const int gates[] = {2, 0, 1, 2, 0, 1, 2, 0, 1, 2};
  for (int p = 0; p < RT_ARRAY_COUNT(gates); p++) {
    int result = ride_through(t.get(), bike, gates[p], 100 + p);
    bool lap = p == 3 || p == 6 || p == 9;
    EXPECT_EQ(result, lap ? GATE_CREDITED | GATE_LAP_DONE : GATE_CREDITED) << p;
  }
  EXPECT_EQ(timing_laps_completed(t.get(), bike.timing.gate_position), 3);
}

TEST(LapsCrossing, NothingWithoutTimingOrAfterTheFinish) {
  auto none = course(0, {}, {});
  EXPECT_FALSE(none->active);
  RiderPassages bike;
  for (int tick = 0; tick < 100; tick++)
    EXPECT_EQ(bike_gate_progress(none.get(), &bike.timing, 0, 0, tick, nullptr, 1), GATE_NONE);
  EXPECT_EQ(bike.timing.gate_position, 0);
  EXPECT_EQ(bike_lap_ticks(none.get(), &bike.timing, 1, 0), 0);

  auto t = six_gates();
  bike.timing.finished = true;
  EXPECT_EQ(ride_through(t.get(), bike, 0, 5), GATE_NONE);
  bike_timing_reset(&bike.timing);
  EXPECT_FALSE(bike.timing.finished);
  EXPECT_EQ(ride_through(t.get(), bike, 0, 5), GATE_CREDITED);
}

// ---------------------------------------------------------------- lap times

TEST(LapsLaps, LapTimesAndBestLap) {
  auto t = course(3, {3, 0, 1, 2}, {0, 1, 2});  // laps end at 3, 6, 9, 12
  const int start = 100;
  RiderPassages bike;
  bike.passages({400, 600, 800, 1000, 1200, 1400, 1800, 2000, 2200, 2500, 2700, 2900, 3200});
  const int expected[] = {0, 900, 800, 700, 700, 0};
  for (int lap = 0; lap <= 5; lap++)
    EXPECT_EQ(bike_lap_ticks(t.get(), &bike.timing, lap, start), expected[lap]) << lap;
  EXPECT_FLOAT_EQ(bike_lap_time(t.get(), &bike.timing, 2, start), 800.0f / 128);
  int ticks = -1;
  EXPECT_EQ(bike_best_lap(t.get(), &bike.timing, start, &ticks), 3);  // tie: the earlier
  EXPECT_EQ(ticks, 700);

  // The first lap never counts, even when fastest; one lap gives no best lap.
  RiderPassages quick;
  quick.passages({110, 120, 130, 140, 500, 900, 1300});
  EXPECT_EQ(bike_best_lap(t.get(), &quick.timing, start, &ticks), 2);
  EXPECT_EQ(ticks, 1160);
  RiderPassages one;
  one.passages({110, 120, 130, 140});
  EXPECT_EQ(bike_best_lap(t.get(), &one.timing, start, &ticks), 0);
  EXPECT_EQ(ticks, 0);

  // A lap whose end or beginning has no tick has time 0 and is never best.
  RiderPassages holes;
  EXPECT_TRUE(bike_timing_credit(&holes.timing, 3, 1000));
  EXPECT_TRUE(bike_timing_credit(&holes.timing, 9, 2000));
  EXPECT_EQ(bike_lap_ticks(t.get(), &holes.timing, 1, start), 900);
  EXPECT_EQ(bike_lap_ticks(t.get(), &holes.timing, 2, start), 0);
  EXPECT_EQ(bike_lap_ticks(t.get(), &holes.timing, 3, start), 0);
  EXPECT_EQ(bike_best_lap(t.get(), &holes.timing, start, &ticks), 0);
}

// ---------------------------------------------------------------- race length

TEST(LapsRace, TwoMinutesPlusOneLapEndsAfterLapFive) {
  auto t = course(1, {0}, {0});  // every crossing completes a lap
  RaceLength race = {1792, 2 * 60 * 128, 1, RACE_LAPS_UNSET, RACE_LAPS_UNSET};
  // Lap end times in seconds after the start.
  const std::vector<int> leader_laps = {35, 72, 110, 145, 180, 215, 250};
  const std::vector<int> second_laps = {40, 80, 121, 161, 202, 243, 284};
  RiderPassages a, b;
  RiderPassages* bikes[] = {&a, &b};
  const std::vector<int>* laps[] = {&leader_laps, &second_laps};
  int finished_laps[2] = {-1, -1};
  int finished_at[2] = {-1, -1};
  int laps_at_2_20 = 0;
  for (int tick = race.start_tick; tick < race.start_tick + 300 * 128; tick++) {
    // Position table: more gates first, then the earlier last gate.
    std::vector<RiderPassages*> order = {&a, &b};
    std::stable_sort(order.begin(), order.end(), [](RiderPassages* x, RiderPassages* y) {
      if (x->timing.gate_position != y->timing.gate_position)
        return x->timing.gate_position > y->timing.gate_position;
      int tx = bike_timing_tick(&x->timing, x->timing.gate_position - 1);
      int ty = bike_timing_tick(&y->timing, y->timing.gate_position - 1);
      return tx < ty;
    });
    const BikeTiming* table[] = {&order[0]->timing, &order[1]->timing};
    bool lap_done = false;
    for (int i = 0; i < 2; i++) {
      int second = (tick - race.start_tick) / 128;
      bool at_gate = (tick - race.start_tick) % 128 == 0 &&
                     std::find(laps[i]->begin(), laps[i]->end(), second) != laps[i]->end();
      float x = at_gate ? 1.0f : -1000.0f;
      int r = bike_gate_progress(t.get(), &bikes[i]->timing, x, 0, tick, table[0], race.race_laps);
      if (r & GATE_LAP_DONE) lap_done = true;
      if (r & GATE_FINISHED) {
        finished_laps[i] = timing_laps_completed(t.get(), bikes[i]->timing.gate_position);
        finished_at[i] = (tick - race.start_tick) / 128;
      }
    }
    if (lap_done || (tick - race.start_tick) % 512 == 0)
      race_length_update(&race, t.get(), table, 2, tick);
    if (tick == race.start_tick + 140 * 128) laps_at_2_20 = race.race_laps;
  }
  EXPECT_EQ(race.half_way_lap, 2);           // leader on lap 2 at one minute
  EXPECT_EQ(laps_at_2_20, RACE_LAPS_UNSET);  // lap 4 not yet done
  EXPECT_EQ(race.race_laps, 5);
  EXPECT_EQ(finished_laps[0], 5);
  EXPECT_EQ(finished_at[0], 180);
  EXPECT_EQ(finished_laps[1], 5);
  EXPECT_EQ(finished_at[1], 202);
  EXPECT_EQ(timing_laps_completed(t.get(), a.timing.gate_position), 5);  // no lap 6 credited
}

TEST(LapsRace, RaceLapsGrowWhileLapsEndBeforeTheLimit) {
  auto t = course(1, {0}, {0});
  RaceLength race = {0, 1000, 2, 3, 1};
  RiderPassages a;
  a.passages({100, 300, 600, 900, 1100});  // laps 1..5
  const BikeTiming* table[] = {&a.timing};
  race_length_update(&race, t.get(), table, 1, 999);  // before the limit: nothing
  EXPECT_EQ(race.race_laps, 3);
  race_length_update(&race, t.get(), table, 1, 1200);
  // o = min(3, 5 - 1) = 3: lap 3 (600) and 4 (900) end before 1000 -> 4 + 2 + 1 = 7;
  // lap 5 (1100) after it -> min(7, 5 + 2) = 7.
  EXPECT_EQ(race.race_laps, 7);
  RaceLength none = {0, 0, 10, 10, 5};
  race_length_update(&none, t.get(), table, 1, 100000);
  EXPECT_EQ(none.race_laps, 10);
  EXPECT_EQ(none.half_way_lap, 5);
}

TEST(LapsRace, LengthText) {
  struct Case {
    int time_limit, extra, laps;
    const char* text;
  } cases[] = {
      {2 * 60 * 128, 1, RACE_LAPS_UNSET, "2 minutes + 1 laps"},
      {2 * 60 * 128, 0, RACE_LAPS_UNSET, "2 minutes"},
      {89 * 128, 0, 5, "1 minutes"},
      {90 * 128, 3, 5, "2 minutes + 3 laps"},
      {0, 10, 10, "10 laps"},
  };
  for (const Case& c : cases) {
    RaceLength race = {0, c.time_limit, c.extra, c.laps, RACE_LAPS_UNSET};
    char text[64];
    race_length_text(&race, text, sizeof text);
    EXPECT_STREQ(text, c.text);
  }
}

// ---------------------------------------------------------------- finish

TEST(LapsFinish, LeaderFinishesOthersOnTheirNextLap) {
  auto t = six_gates();  // laps end at 5, 11, 17
  const int race_laps = 2;
  RiderPassages leader, lapped;
  leader.passages({10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110});  // two laps, end at 110
  lapped.passages({15, 25, 35, 45});
  EXPECT_FALSE(bike_finish_test(t.get(), &leader.timing, &leader.timing, race_laps));
  EXPECT_EQ(ride_through(t.get(), leader, 5, 120, &leader.timing, race_laps),
            GATE_CREDITED | GATE_LAP_DONE | GATE_FINISHED);
  EXPECT_TRUE(leader.timing.finished);
  EXPECT_TRUE(bike_finish_test(t.get(), &leader.timing, &leader.timing, race_laps));
  // Further crossings no longer count for a finished bike.
  EXPECT_EQ(ride_through(t.get(), leader, 0, 130, &leader.timing, race_laps), GATE_NONE);

  // The lapped bike ends on its next completed lap, after one lap only.
  EXPECT_FALSE(bike_finish_test(t.get(), &lapped.timing, &leader.timing, race_laps));
  EXPECT_EQ(ride_through(t.get(), lapped, 4, 150, &leader.timing, race_laps), GATE_CREDITED);
  EXPECT_FALSE(lapped.timing.finished);
  EXPECT_EQ(ride_through(t.get(), lapped, 5, 160, &leader.timing, race_laps),
            GATE_CREDITED | GATE_LAP_DONE | GATE_FINISHED);
  EXPECT_EQ(timing_laps_completed(t.get(), lapped.timing.gate_position), 1);

  // The finish test looks at the tick of the bike's last lap end.
  struct Case {
    std::vector<int> ticks;
    bool finished;
  } cases[] = {
      {{15, 25, 35, 45, 55, 119}, false},      // lap ended before the leader finished
      {{15, 25, 35, 45, 55, 120}, true},       // at the same tick
      {{15, 25, 35, 45, 55, 121, 130}, true},  // on the way after its lap
      {{121}, true},                           // no lap: its tick at position 0
      {{100}, false},
      {{}, false},
  };
  for (const Case& c : cases) {
    RiderPassages bike;
    bike.passages(c.ticks);
    EXPECT_EQ(bike_finish_test(t.get(), &bike.timing, &leader.timing, race_laps), c.finished)
        << c.ticks.size();
  }
  RiderPassages late;
  late.passages({15, 25, 35, 45, 55, 200});
  EXPECT_FALSE(bike_finish_test(t.get(), &late.timing, nullptr, race_laps));
}

// ---------------------------------------------------------------- cutting

TEST(LapsPenalty, CuttingByThreeSecondsCostsFourSeconds) {
  auto t = six_gates();
  RiderPassages a, b, cutter;
  a.passages({1000, 1500, 2000, 2500, 3000, 3500});
  b.passages({1100, 1700, 2300, 2800, 3300, 3800});
  // Others take 1000 and 1200 ticks from position 0 to 2; the cutter 384 less
  // than their average of 1100.
  cutter.passages({1000, -1, 1716, 2300, 2800, 3300});
  const BikeTiming* table[] = {&a.timing, &b.timing, &cutter.timing};
  EXPECT_EQ(cutting_penalty(t.get(), &cutter.timing, table, 3), 4 * 128);
  EXPECT_EQ(cutting_penalty(t.get(), &a.timing, table, 3), 0);
  // Taking as long as the others' average plus a second is no cut.
  RiderPassages slow_enough;
  slow_enough.passages({1000, -1, 1000 + 1100 + 128, 3000});
  EXPECT_EQ(cutting_penalty(t.get(), &slow_enough.timing, table, 3), 0);
  // Nobody timed the stretch: 60 s expected.
  const BikeTiming* alone[] = {&cutter.timing};
  EXPECT_EQ(cutting_penalty(t.get(), &cutter.timing, alone, 1), 60 * 128 + 128 - 716);
}

TEST(LapsPenalty, SkippedFirstGateCountsFromTickZero) {
  auto t = six_gates();
  RiderPassages a, cutter;
  a.passages({900, 2000, 3000});
  cutter.passages({-1, 1500, 2600});
  const BikeTiming* table[] = {&a.timing, &cutter.timing};
  // Stretch -1 .. 1: 2000 ticks from tick 0 for a; cutter 1500.
  EXPECT_EQ(cutting_penalty(t.get(), &cutter.timing, table, 2), 2000 + 128 - 1500);
}

TEST(LapsPenalty, LaterLapsUseTheAverageOverEveryTimedLap) {
  auto t = six_gates();
  auto lap_ticks = [](int first_tick, const std::vector<int>& steps) {
    std::vector<int> ticks;
    int tick = first_tick;
    for (int s : steps) ticks.push_back(tick += s);
    return ticks;
  };
  RiderPassages a, b, cutter;
  // a: positions 6 -> 8 take 600 in lap 2 and 800 in lap 3 (average 700);
  // in lap 4 it skipped position 19, so that lap does not count.
  std::vector<int> at = lap_ticks(0, {100, 100, 100, 100, 100, 100,  // lap 1
                                      300, 300, 300, 100, 100, 100,  // lap 2
                                      100, 400, 400, 100, 100, 100,  // lap 3
                                      100, 10,  10,  100});          // lap 4
  at[19] = -1;
  a.passages(at);
  // b: one normal lap, 900.
  b.passages(lap_ticks(0, {100, 100, 100, 100, 100, 100, 100, 450, 450, 100}));
  std::vector<int> ct = lap_ticks(0, {100, 100, 100, 100, 100, 100, 100, 50, 50, 100});
  ct[7] = -1;
  cutter.passages(ct);
  const BikeTiming* table[] = {&a.timing, &b.timing, &cutter.timing};
  // Expected (700 + 900) / 2 + 128 = 928; the cutter took 100.
  EXPECT_EQ(cutting_penalty(t.get(), &cutter.timing, table, 3), 828);
}

TEST(LapsPenalty, LargePenaltyTakesWholeLaps) {
  auto t = six_gates();
  struct Case {
    int penalty, best, gate_position;
    int laps_lost, new_position, added;
  } cases[] = {
      {2500, 1000, 19, 2, 7, 500},    // two laps go, 500 remain
      {2500, 1000, 7, 1, 1, 1500},    // no lap left beyond the first
      {900, 1000, 19, 0, 19, 900},    // smaller than the best lap
      {1000, 1000, 19, 0, 19, 1000},  // not larger than it
      {2500, 0, 19, 0, 19, 2500},     // no best lap
      {0, 1000, 19, 0, 19, 0},
  };
  for (const Case& c : cases) {
    int position = c.gate_position, tick = 10000;
    EXPECT_EQ(cutting_penalty_apply(t.get(), c.penalty, c.best, &position, &tick), c.laps_lost)
        << c.penalty << "/" << c.best;
    EXPECT_EQ(position, c.new_position);
    EXPECT_EQ(tick, 10000 + c.added);
  }
}

// ---------------------------------------------------------------- slow riders

TEST(LapsSlowRider, ComparedWithTheFirstBikeThatTimedTheGate) {
  RiderPassages leader, rider;
  leader.passages({100, 200, 300, 400});
  rider.passages({100, 200});
  const BikeTiming* table[] = {&leader.timing, &rider.timing};
  const int start = 50;
  // Leader took 100 ticks from position 1 to 2: limit 1.5 * 100 + 1280 ticks.
  struct Case {
    int position, now;
    bool slow;
  } cases[] = {
      {2, 200 + 1430, true}, {2, 200 + 1429, false}, {2, 5000, true},
      {4, 100000, false},                         // nobody passed position 4
      {0, 100000, false},    {1, 100000, false},  // the rider itself has a tick at 1: 100 ticks
                                                  // only
  };
  for (const Case& c : cases)
    EXPECT_EQ(slow_rider_at(&rider.timing, c.position, table, 2, start, c.now, 1.5f, 10.0f), c.slow)
        << c.position << " " << c.now;
}

TEST(LapsSlowRider, SearchRules) {
  const int start = 50;
  RiderPassages holes, leader, rider, behind;
  holes.passages({100, -1, 300, 400});     // no tick at 1: not a reference
  leader.passages({100, 200, 210, 400});   // 10 ticks from 1 to 2
  rider.passages({-1, -1, -1, -1, 2000});  // b = start, c = first tick from 2 on = 2000
  behind.passages({100});
  const BikeTiming* table[] = {&holes.timing, &leader.timing, &rider.timing};
  // (2000 - 50) ticks against 1.5 * 10 + 1280.
  EXPECT_TRUE(slow_rider_at(&rider.timing, 2, table, 3, start, 99999, 1.5f, 10.0f));
  EXPECT_FALSE(slow_rider_at(&rider.timing, 2, table, 3, start, 99999, 1.5f, 20.0f));
  // b is the latest tick among the three positions before: here position 0.
  RiderPassages gap;
  gap.passages({300, -1, -1});
  const BikeTiming* lead_only[] = {&leader.timing};
  // leader: 190 ticks from 2 to 3 -> limit 1.5 * 190 + 1280 = 1565 ticks.
  EXPECT_TRUE(slow_rider_at(&gap.timing, 3, lead_only, 1, start, 300 + 1565, 1.5f, 10.0f));
  EXPECT_FALSE(slow_rider_at(&gap.timing, 3, lead_only, 1, start, 300 + 1564, 1.5f, 10.0f));
  // A bike that has not passed the position ends the search.
  const BikeTiming* blocked[] = {&behind.timing, &leader.timing};
  EXPECT_FALSE(slow_rider_at(&rider.timing, 2, blocked, 2, start, 99999, 1.5f, 10.0f));
}

// ---------------------------------------------------------------- false start

TEST(LapsFalseStart, MovingOffTheGridHoldsTheBikeUntil15sAfterTheStart) {
  const int start = 2000;
  const float grid[3] = {10, 0, 10};
  int countdown = 0;
  const float near[3] = {12, 2, 10};  // squared distance 8
  EXPECT_FALSE(false_start_check(&countdown, grid, near, start, 1000));
  EXPECT_EQ(countdown, 0);
  float controls[9] = {0.5f, 1, 0, 0, 0, 1, 0, 1, 0};
  EXPECT_FALSE(false_start_hold(&countdown, controls, start, 1000));
  EXPECT_EQ(controls[SIT_DAB], 1.0f);  // held at the gate before the start
  EXPECT_EQ(controls[THROTTLE], 1.0f);

  const float away[3] = {13, 0, 10};                                      // squared distance 9
  EXPECT_FALSE(false_start_check(&countdown, grid, away, start, start));  // too late
  EXPECT_TRUE(false_start_check(&countdown, grid, away, start, 1000));
  EXPECT_EQ(countdown, start + 1920 - 1000);
  EXPECT_STREQ(message_history_line(message_history, 0), "15 second false start penalty");
  EXPECT_FALSE(false_start_check(&countdown, grid, away, start, 1001));  // once only

  int held = 0;
  for (int tick = 1000; tick < start + 2000; tick++) {
    float c[9] = {0.5f, 1, 0, 0, 0, 1, 0, 1, 0};
    bool forced = false_start_hold(&countdown, c, start, tick);
    if (forced) {
      held++;
      EXPECT_EQ(c[FRONT_BRAKE], 1.0f);
      EXPECT_EQ(c[REAR_BRAKE], 1.0f);
      EXPECT_EQ(c[CLUTCH], 0.0f);
      EXPECT_EQ(c[THROTTLE], 0.0f);
      EXPECT_EQ(c[BACK_UP], 0.0f);
      EXPECT_EQ(c[SIT_DAB], 1.0f);
      EXPECT_EQ(c[STEER], 0.5f);
    }
    EXPECT_EQ(forced, tick < start + 1920) << tick;
  }
  EXPECT_EQ(held, start + 1920 - 1000);
  EXPECT_EQ(countdown, 0);
}
