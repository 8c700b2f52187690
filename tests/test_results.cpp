// Final results: the "through" rules, cutting penalties in the final order,
// the "results.txt" report, and the hand-over to the series standings.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/program.h"
#include "physics/bike.h"
#include "physics/step.h"
#include "race/race.h"
#include "race/results.h"
#include "race/series.h"
#include "tests/test_helpers.h"
#include "track/timing.h"
#include "track/track.h"

namespace {

constexpr int32_t START = 100;

// Three checkpoints, first lap 0 1 2 and normal lap 0 1 2: laps end at
// sequence positions 2, 5, 8...; a two-lap race; bikes filled by hand.
class ResultsRace : public ::testing::Test {
 protected:
  TempDir root;
  std::unique_ptr<ScopedEnv> xdg, rt;
  std::string home;
  std::vector<std::unique_ptr<Bike>> bikes;
  TimingData saved_timing;
  const char* saved_name;

  void SetUp() override {
    mkdir((root.path + "/data").c_str(), 0755);
    xdg = std::make_unique<ScopedEnv>("XDG_DATA_HOME", (root.path + "/xdg").c_str());
    rt = std::make_unique<ScopedEnv>("RT_HOME", (root.path + "/data").c_str());
    home = root.path + "/xdg/Rutmoto";
    file_list_free();
    saved_timing = track.timing;
    saved_name = track.name;
    timing_init(&track.timing);
    TimingData& t = track.timing;
    t.gate_count = 3;
    for (int i = 0; i < 3; i++) {
      t.gates[i] = TimingGate{{10.0f * i, 0, 0}, {0, 0, -1}, 5, 0};
      t.first_lap[i] = i;
      t.normal_lap[i] = i;
    }
    t.first_lap_count = t.normal_lap_count = 3;
    timing_finish(&t);
    ASSERT_TRUE(t.active);
    track.name = "testtrack";
    for (BikeSlot& s : program.slots) s = BikeSlot{};
    race_session_reset();
    race_session.local_slot = NO_LOCAL_SLOT;
    race_session.length.start_tick = START;
    race_session.length.race_laps = 2;
    race_session.length.extra_laps = 2;
    physics_state.online = false;
    program.tick = 1000;
    series_select(-1);
  }
  void TearDown() override {
    for (auto& b : bikes) bike_timing_free(&b->timing);
    for (BikeSlot& s : program.slots) s = BikeSlot{};
    race_session_reset();
    track.timing = saved_timing;
    track.name = saved_name;
    file_list_free();
  }
  // A bike in slot with its gate ticks (-1 = skipped) and finished flag.
  Bike* put_bike(int slot, const char* number, const char* model, BikeSlotKind kind,
                 const std::vector<int>& ticks, bool finished) {
    bikes.push_back(std::make_unique<Bike>());
    Bike* b = bikes.back().get();
    snprintf(b->number_text, sizeof b->number_text, "%s", number);
    b->info.name = model;
    for (size_t q = 0; q < ticks.size(); q++) {
      if (ticks[q] >= 0) {
        EXPECT_TRUE(bike_timing_credit(&b->timing, (int32_t)q, ticks[q]));
      }
    }
    b->timing.finished = finished;
    program.slots[slot].bike = b;
    program.slots[slot].kind = kind;
    return b;
  }
  void two_finishers() {
    put_bike(0, "12", "yz250f", ROBOT, {210, 310, 420, 530, 640, 760}, true);
    put_bike(1, "7", "cr125", ROBOT, {200, 300, 400, 500, 600, 700}, true);
  }
  std::string results_file() { return read_file(home + "/results.txt"); }
};

const char* const TWO_FINISHERS_BODY =
    " No. |         Bike | Laps | Total Time | BLap |  Best Time\r\n"
    "   7 |        cr125 |    2 |   0:04.687 |    2 |   0:02.343\r\n"
    "  12 |       yz250f |    2 |   0:05.156 |    2 |   0:02.656\r\n"
    "\r\n6\r\n"
    "   0.781    1.562    2.344\r\n"
    "   3.125    3.906    4.688\r\n"
    "\r\n6\r\n"
    "   0.859    1.641    2.500\r\n"
    "   3.359    4.219    5.156\r\n";

TEST_F(ResultsRace, FinishedRaceWritesResultsFile) {
  two_finishers();
  time_t before = time(nullptr);
  results_update();
  time_t after = time(nullptr);
  ASSERT_TRUE(race_session.results_final);
  ASSERT_EQ(race_session.result_count, 2);
  EXPECT_EQ(race_session.results[0].slot, 1);
  EXPECT_EQ(race_session.results[1].slot, 0);
  EXPECT_EQ(race_session.results[1].last_gate_tick, 760);
  std::string text = results_file();
  size_t eol = text.find("\r\n");
  ASSERT_NE(eol, std::string::npos);
  std::string first = text.substr(0, eol);
  const std::string prefix = "Time=0.00|Laps=2|Track=testtrack|Date=";
  ASSERT_EQ(first.substr(0, prefix.size()), prefix);
  long date = atol(first.c_str() + prefix.size());
  EXPECT_GE(date, (long)before);
  EXPECT_LE(date, (long)after);
  EXPECT_EQ(text.substr(eol + 2), TWO_FINISHERS_BODY);

  // Final results stay as they are.
  remove((home + "/results.txt").c_str());
  bike_timing_credit(&program.slots[0].bike->timing, 6, 800);
  results_update();
  EXPECT_FALSE(file_exists(home + "/results.txt"));
  EXPECT_EQ(race_session.results[0].slot, 1);
}

TEST_F(ResultsRace, WriterHeaderWithTimeLimitAndSkippedGates) {
  put_bike(4, "3", "kx125", ROBOT, {228, -1, 484}, true);
  put_bike(5, "5", "rm125", ROBOT, {300}, false);
  race_session.length.time_limit = 6 * 60 * 128;
  race_session.length.extra_laps = 1;
  race_session.results[0] = PositionEntry{4, 3, 484};
  race_session.results[1] = PositionEntry{5, 1, 300};
  race_session.result_count = 2;
  TempDir dir;
  DataFile* f = data_open_path(dir.file("r.txt").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(results_write(f, "rabbithill", 1234567890));
  data_close(f);
  EXPECT_EQ(read_file(dir.file("r.txt")),
            "Time=360.00|Laps=1|Track=rabbithill|Date=1234567890\r\n"
            " No. |         Bike | Laps | Total Time | BLap |  Best Time\r\n"
            "   3 |        kx125 |    1 |   0:03.000 |    0 |   0:00.000\r\n"
            "\r\n3\r\n"
            "   1.000       -1    3.000\r\n");
}

TEST_F(ResultsRace, TimeTexts) {
  struct Case {
    int32_t ticks;
    const char* text;
  } cases[] = {{0, "  0:00.000"},           {1, "  0:00.007"},  {128, "  0:01.000"},
               {60 * 128, "  1:00.000"},    {-5, "  0:00.000"}, {128 * 3600 + 64, " 60:00.500"},
               {128 * 60000, "1000:00.000"}};
  for (const Case& c : cases) {
    char text[32];
    results_time_text(c.ticks, text, sizeof text);
    EXPECT_STREQ(text, c.text) << c.ticks;
  }
}

// A cut of 3 s against the others' average over the stretch gets 3 s + 1 s
// added and drops the bike behind a rider who crossed the line after it.
TEST_F(ResultsRace, CuttingPenaltyDropsBehind) {
  two_finishers();
  // Skips position 1: 100 ticks from 0 to 2 where the others took 200 and 210.
  put_bike(2, "44", "kx250f", ROBOT, {200, -1, 300, 420, 520, 640}, true);
  results_update();
  ASSERT_TRUE(race_session.results_final);
  ASSERT_EQ(race_session.result_count, 3);
  EXPECT_EQ(race_session.results[0].slot, 1);
  EXPECT_EQ(race_session.results[1].slot, 0);
  EXPECT_EQ(race_session.results[2].slot, 2);
  // Expected 205 + 128 ticks, took 100: 233 ticks added, less than its best lap (340).
  EXPECT_EQ(race_session.results[2].gate_position, 6);
  EXPECT_EQ(race_session.results[2].last_gate_tick, 640 + 233);
  EXPECT_NE(results_file().find("  44 |       kx250f |    2 |   0:06.039 |"), std::string::npos);
}

TEST_F(ResultsRace, PenaltyLargerThanBestLapTakesALap) {
  two_finishers();
  // Skips position 4: 10 ticks from 3 to 5 where the others took 200 and 230;
  // the penalty 333 exceeds its best lap (110), so lap 2 goes and 223 remain.
  put_bike(2, "44", "kx250f", ROBOT, {200, 300, 400, 500, -1, 510}, true);
  results_update();
  ASSERT_TRUE(race_session.results_final);
  ASSERT_EQ(race_session.result_count, 3);
  EXPECT_EQ(race_session.results[0].slot, 1);
  EXPECT_EQ(race_session.results[2].slot, 2);
  EXPECT_EQ(race_session.results[2].gate_position, 3);
  EXPECT_EQ(race_session.results[2].last_gate_tick, 510 + 223);
  EXPECT_NE(results_file().find("  44 |       kx250f |    1 |   0:04.945 |    2 |   0:00.859\r\n"),
            std::string::npos);
}

// Who holds up the end of the race.
TEST_F(ResultsRace, ThroughRules) {
  struct Case {
    const char* what;
    BikeSlotKind kind;
    bool online;
    int local_slot;
    int history_age;  // ticks since the newest snapshot, -1 = none
    int heard_age;    // ticks since the last network update, -1 = never
    bool finished;
    bool through;
  } cases[] = {
      {"finished robot", ROBOT, false, NO_LOCAL_SLOT, -1, -1, true, true},
      {"racing robot", ROBOT, false, NO_LOCAL_SLOT, -1, -1, false, false},
      {"other local rider offline", LOCAL_RIDER, false, 0, -1, -1, false, false},
      {"the user offline", LOCAL_RIDER, false, 3, -1, -1, false, false},
      {"demo bike 10 s quiet", REPLAYED, false, NO_LOCAL_SLOT, 1280, -1, false, false},
      {"demo bike over 10 s quiet", REPLAYED, false, NO_LOCAL_SLOT, 1281, -1, false, true},
      {"demo bike without snapshots", REPLAYED, false, NO_LOCAL_SLOT, -1, -1, false, false},
      {"remote rider heard just now", REPLAYED, true, 0, -1, 127, false, false},
      {"remote rider quiet 1 s", REPLAYED, true, 0, -1, 128, false, true},
      {"remote rider never heard", REPLAYED, true, 0, -1, -1, false, true},
      {"the user online", LOCAL_RIDER, true, 3, -1, 5000, false, false},
      {"local slot while watching", LOCAL_RIDER, true, NO_LOCAL_SLOT, -1, 0, false, true},
      {"robot online, quiet", ROBOT, true, 0, -1, 200, false, true},
  };
  program.tick = 5000;
  for (const Case& c : cases) {
    for (BikeSlot& s : program.slots) s = BikeSlot{};
    history_clear_all();
    put_bike(3, "3", "cr125", c.kind, {200}, c.finished);
    physics_state.online = c.online;
    race_session.local_slot = c.local_slot;
    if (c.history_age >= 0) add_state_to_history(3, BikeState{}, program.tick - c.history_age);
    race_session.last_heard_tick[3] = c.heard_age >= 0 ? program.tick - c.heard_age : -1;
    EXPECT_EQ(results_slot_through(3), c.through) << c.what;
  }
  EXPECT_TRUE(results_slot_through(7));  // no bike
}

TEST_F(ResultsRace, UnfinishedBikeStopsTheResults) {
  two_finishers();
  put_bike(2, "44", "kx250f", ROBOT, {200, 300, 400, 500}, false);
  results_update();
  EXPECT_FALSE(race_session.results_final);
  EXPECT_FALSE(file_exists(home + "/results.txt"));
  // Once it finishes the results are made.
  bike_timing_credit(&program.slots[2].bike->timing, 4, 900);
  bike_timing_credit(&program.slots[2].bike->timing, 5, 990);
  program.slots[2].bike->timing.finished = true;
  results_update();
  EXPECT_TRUE(race_session.results_final);
  EXPECT_EQ(race_session.results[2].slot, 2);
}

TEST_F(ResultsRace, NoWinnerNoFile) {
  // Demo bikes that went quiet without finishing: final, but nothing to report.
  put_bike(0, "5", "rm125", REPLAYED, {300, 400}, false);
  add_state_to_history(0, BikeState{}, 10);
  program.tick = 10 + 1281;
  results_update();
  EXPECT_TRUE(race_session.results_final);
  EXPECT_EQ(race_session.result_count, 1);
  EXPECT_FALSE(file_exists(home + "/results.txt"));
}

TEST_F(ResultsRace, EmptyRaceIsNotFinal) {
  results_update();
  EXPECT_FALSE(race_session.results_final);
}

}  // namespace
