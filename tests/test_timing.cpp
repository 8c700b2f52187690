// The timing_gates file (reader, writer), the lap sequences and the starting
// grid with its gate statues.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/common.h"
#include "core/files.h"
#include "core/messages.h"
#include "tests/test_helpers.h"
#include "track/objects.h"
#include "track/timing.h"

namespace {

std::unique_ptr<TimingData> read_text(const std::string& text, TrackObjects* objects = nullptr,
                                      bool* found = nullptr) {
  auto timing = std::make_unique<TimingData>();
  DataFile* file = data_open_memory(text.data(), text.size(), false, false);
  EXPECT_NE(file, nullptr);
  bool any = timing_read(timing.get(), objects, nullptr, file);
  if (found) *found = any;
  data_close(file);
  return timing;
}

std::string gate_lines(int count) {
  std::string out;
  for (int i = 0; i < count; i++) out += "[" + std::to_string(i * 2) + " 0 10] 3.14159\n";
  return out;
}

std::string checkpoint_lines(int count) {
  std::string out;
  for (int i = 0; i < count; i++) out += "5 [" + std::to_string(i * 20) + " 0 0] [1 0 0]\n";
  return out;
}

const char* const THREE_GATE_COURSE =
    "checkpoints:\n"
    "5 [0 0 0] [1 0 0]\n"
    "5 [20 0 0] [1 0 0]\n"
    "5 [40 0 0] [1 0 0]\n"
    "firstlap:\n3 0 1 2\n"
    "normallap:\n0 1 2\n";

std::string write_to_string(const TimingData* timing) {
  TempDir dir;
  std::string path = dir.file("timing_gates");
  DataFile* file = data_open_path(path.c_str(), "w");
  EXPECT_NE(file, nullptr);
  EXPECT_TRUE(timing_write(timing, file));
  data_close(file);
  return read_file(path);
}

}  // namespace

// ---------------------------------------------------------------- sequences

TEST(TimingSequence, FirstLapThenNormalLapRepeated) {
  auto t = read_text(THREE_GATE_COURSE);
  ASSERT_TRUE(t->active);
  EXPECT_EQ(t->first_lap_count, 4);
  EXPECT_EQ(t->normal_lap_count, 3);
  // position -> checkpoint
  const int expected_gate[] = {2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2};
  for (int p = 0; p < RT_ARRAY_COUNT(expected_gate); p++)
    EXPECT_EQ(timing_gate_at(t.get(), p), expected_gate[p]) << "position " << p;
  EXPECT_EQ(timing_gate_at(t.get(), -1), -1);
  // Laps complete at positions 3, 6, 9 ...; each finish gate is checkpoint 2.
  for (int p = 0; p < 13; p++) {
    bool end = p == 3 || p == 6 || p == 9 || p == 12;
    EXPECT_EQ(timing_is_lap_end(t.get(), p), end) << "position " << p;
    if (end) {
      EXPECT_EQ(timing_gate_at(t.get(), p), 2);
    }
  }
  for (int lap = 1; lap <= 4; lap++) EXPECT_EQ(timing_lap_end_position(t.get(), lap), 3 * lap);
  EXPECT_EQ(timing_lap_end_position(t.get(), 0), -1);
}

TEST(TimingSequence, LapsAndGateWithinLap) {
  auto t = read_text(THREE_GATE_COURSE);
  struct Case {
    int gate_position, laps, in_lap;
  } cases[] = {{0, 0, 0}, {3, 0, 3}, {4, 1, 0},  {5, 1, 1},    {6, 1, 2},
               {7, 2, 0}, {9, 2, 2}, {10, 3, 0}, {301, 100, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(timing_laps_completed(t.get(), c.gate_position), c.laps) << c.gate_position;
    EXPECT_EQ(timing_gate_in_lap(t.get(), c.gate_position), c.in_lap) << c.gate_position;
  }
}

TEST(TimingSequence, MarkerEntriesNameGatesButDoNotSplit) {
  auto t = read_text(
      "checkpoints:\n5 [0 0 0] [1 0 0]\n5 [20 0 0] [1 0 0]\n"
      "firstlap: 100000 1\nnormallap: 0 100001 1\n");
  ASSERT_TRUE(t->active);
  EXPECT_EQ(t->first_lap_required, 1);
  EXPECT_EQ(t->normal_lap_required, 2);
  EXPECT_EQ(timing_sequence_entry(t.get(), 0), 100000);
  EXPECT_EQ(timing_gate_at(t.get(), 0), 0);
  EXPECT_FALSE(timing_position_splits(t.get(), 0));
  EXPECT_TRUE(timing_position_splits(t.get(), 1));
  EXPECT_EQ(timing_gate_at(t.get(), 3), 1);  // normal lap entry 1 = 100001
  EXPECT_FALSE(timing_position_splits(t.get(), 3));
  EXPECT_TRUE(timing_position_splits(t.get(), 5));
}

// ---------------------------------------------------------------- reader

TEST(TimingReader, EntriesAreClampedAndTheMarkerKept) {
  auto t = read_text(
      "checkpoints:\n5 [0 0 0] [1 0 0]\n5 [20 0 0] [1 0 0]\n5 [40 0 0] [1 0 0]\n"
      "firstlap:\n-5 7 100001 100009 250000 2\n"
      "normallap:\n-2147483647 99999 100000\n");
  const int first[] = {0, 2, 100001, 100002, 100002, 2};
  const int normal[] = {0, 2, 100000};
  ASSERT_EQ(t->first_lap_count, 6);
  ASSERT_EQ(t->normal_lap_count, 3);
  for (int i = 0; i < 6; i++) EXPECT_EQ(t->first_lap[i], first[i]) << i;
  for (int i = 0; i < 3; i++) EXPECT_EQ(t->normal_lap[i], normal[i]) << i;
  EXPECT_EQ(t->first_lap_required, 3);
  EXPECT_EQ(t->normal_lap_required, 2);
  EXPECT_TRUE(t->active);
}

TEST(TimingReader, CheckpointFields) {
  auto t = read_text(
      "checkpoints:\n 12.5 [ 1 2 3 ] [ -4 5 6 ]\n7 [8 9 10] [11 12 13]"
      " firstlap: 0 1 normallap: 1");
  ASSERT_EQ(t->gate_count, 2);
  EXPECT_FLOAT_EQ(t->gates[0].radius, 12.5f);
  EXPECT_FLOAT_EQ(t->gates[0].centre[0], 1);
  EXPECT_FLOAT_EQ(t->gates[0].centre[1], 2);
  EXPECT_FLOAT_EQ(t->gates[0].centre[2], 3);
  EXPECT_FLOAT_EQ(t->gates[0].direction[0], -4);
  EXPECT_FLOAT_EQ(t->gates[0].direction[2], 6);
  EXPECT_FLOAT_EQ(t->gates[1].direction[1], 12);
  EXPECT_EQ(t->gates[1].marked, 0);
  EXPECT_TRUE(t->active);
}

TEST(TimingReader, TimingOnlyWithGatesAndRequiredEntries) {
  struct Case {
    const char* name;
    std::string text;
    bool found;
    bool active;
  } cases[] = {
      {"complete", THREE_GATE_COURSE, true, true},
      {"no checkpoints", "checkpoints:\nfirstlap: 0\nnormallap: 0\n", true, false},
      {"empty first lap", "checkpoints:\n5 [0 0 0] [1 0 0]\nfirstlap:\nnormallap: 0\n", true,
       false},
      {"empty normal lap", "checkpoints:\n5 [0 0 0] [1 0 0]\nfirstlap: 0\nnormallap:\n", true,
       false},
      {"only markers", "checkpoints:\n5 [0 0 0] [1 0 0]\nfirstlap: 0\nnormallap: 100000\n", true,
       false},
      {"no normallap word", "checkpoints:\n5 [0 0 0] [1 0 0]\nfirstlap: 0\nnormal: 0\n", true,
       false},
      {"no firstlap word", "checkpoints:\n5 [0 0 0] [1 0 0]\nfirst: 0\nnormallap: 0\n", true,
       false},
      {"no section", "hello world\ncheckpoints:\n5 [0 0 0] [1 0 0]\n", false, false},
      {"empty file", "", false, false},
      {"glued section word", "checkpoints:5 [0 0 0] [1 0 0]\nfirstlap: 0\nnormallap: 0\n", false,
       false},
  };
  for (const Case& c : cases) {
    bool found = !c.found;
    auto t = read_text(c.text, nullptr, &found);
    EXPECT_EQ(found, c.found) << c.name;
    EXPECT_EQ(t->active, c.active) << c.name;
    if (!c.found) {
      EXPECT_EQ(t->gate_count, 0) << c.name;
      EXPECT_EQ(t->first_lap_count, 0) << c.name;
    }
  }
}

TEST(TimingReader, StartingGateLines) {
  auto t = read_text(
      "startinggate:\n"
      "[1 2 3] 0.5\n"
      "  [ 4 5 6 ] -1 @m.jm\n"
      "[7 8 9] 1 @m.jm @t.png null\n"
      "[0 0 0] 7\n"
      "checkpoints:\n5 [0 0 0] [1 0 0]\nfirstlap: 0\nnormallap: 0\n");
  ASSERT_EQ(t->starting_gate_count, 4);
  const StartingGate* g = t->starting_gates;
  EXPECT_FLOAT_EQ(g[0].x, 1);
  EXPECT_FLOAT_EQ(g[0].y, 2);
  EXPECT_FLOAT_EQ(g[0].z, 3);
  EXPECT_FLOAT_EQ(g[0].angle, 0.5f);
  EXPECT_STREQ(g[0].model, "@startgate.jm");
  EXPECT_STREQ(g[0].texture, "@startgate.ppm");
  EXPECT_STREQ(g[0].shape, "@startgate.shp");
  EXPECT_STREQ(g[1].model, "@m.jm");
  EXPECT_STREQ(g[1].texture, "@startgate.ppm");
  EXPECT_STREQ(g[2].texture, "@t.png");
  EXPECT_EQ(g[2].shape, nullptr);
  EXPECT_NEAR(g[3].angle, 7 - 2 * M_PI, 1e-5);
  EXPECT_EQ(g[0].statue, -1);  // no objects given
  EXPECT_FLOAT_EQ(g[0].drop_position, 1.0f);
  EXPECT_EQ(t->gate_count, 1);
  EXPECT_TRUE(t->active);
}

TEST(TimingReader, BadStartingGateLineEndsTheFile) {
  const char* bad_lines[] = {
      "[1 2 3]\n", "\n", "   \n", "[1 2] 3\n", "checkpoints:x\n", "[nan 0 0] 1\n", "[1 0 0] inf\n"};
  for (const char* bad : bad_lines) {
    auto t = read_text(std::string("startinggate:\n[1 2 3] 0\n") + bad +
                       "[4 5 6] 0\ncheckpoints:\n5 [0 0 0] [1 0 0]\nfirstlap: 0\nnormallap: 0\n");
    EXPECT_EQ(t->starting_gate_count, 1) << bad;
    EXPECT_EQ(t->gate_count, 0) << bad;
    EXPECT_FALSE(t->active) << bad;
  }
  // Blank lines straight after the section word are skipped with it.
  auto t = read_text(
      "startinggate:\n\n\n[1 2 3] 0\n  checkpoints:  \n5 [0 0 0] [1 0 0]\n"
      "firstlap: 0\nnormallap: 0\n");
  EXPECT_EQ(t->starting_gate_count, 1);
  EXPECT_TRUE(t->active);
}

TEST(TimingReader, AngleIsWrapped) {
  struct Case {
    float in, out;
  } cases[] = {{0, 0},   {7, (float)(7 - 2 * M_PI)}, {-7, (float)(-7 + 2 * M_PI)},   {3, 3},
               {-3, -3}, {(float)(4 * M_PI + 1), 1}, {100, (float)(100 - 32 * M_PI)}};
  for (const Case& c : cases) {
    float a = timing_wrap_angle(c.in);
    EXPECT_NEAR(a, c.out, 1e-4) << c.in;
    EXPECT_GE(a, -M_PI - 1e-6);
    EXPECT_LE(a, M_PI + 1e-6);
  }
}

TEST(TimingReader, AtMost160StartingGatesAnd159WithCheckpoints) {
  const std::string course = "checkpoints:\n5 [0 0 0] [1 0 0]\nfirstlap: 0\nnormallap: 0\n";
  auto t = read_text("startinggate:\n" + gate_lines(159) + course);
  EXPECT_EQ(t->starting_gate_count, 159);
  EXPECT_TRUE(t->active);
  // The 160th gate ends the reading: its checkpoints are never seen.
  t = read_text("startinggate:\n" + gate_lines(160) + course);
  EXPECT_EQ(t->starting_gate_count, 160);
  EXPECT_EQ(t->gate_count, 0);
  EXPECT_FALSE(t->active);
  t = read_text("startinggate:\n" + gate_lines(300));
  EXPECT_EQ(t->starting_gate_count, 160);
  EXPECT_FLOAT_EQ(t->starting_gates[159].x, 318);
}

TEST(TimingReader, AtMost256CheckpointsAndEntries) {
  auto t = read_text("checkpoints:\n" + checkpoint_lines(256) + "firstlap: 255\nnormallap: 0\n");
  EXPECT_EQ(t->gate_count, 256);
  EXPECT_EQ(t->first_lap[0], 255);
  EXPECT_TRUE(t->active);
  // A 257th checkpoint stands where "firstlap:" must be.
  t = read_text("checkpoints:\n" + checkpoint_lines(257) + "firstlap: 0\nnormallap: 0\n");
  EXPECT_EQ(t->gate_count, 256);
  EXPECT_EQ(t->first_lap_count, 0);
  EXPECT_FALSE(t->active);

  std::string entries;
  for (int i = 0; i < 256; i++) entries += "0 ";
  t = read_text("checkpoints:\n5 [0 0 0] [1 0 0]\nfirstlap: " + entries + "normallap: " + entries);
  EXPECT_EQ(t->first_lap_count, 256);
  EXPECT_EQ(t->normal_lap_count, 256);
  t = read_text("checkpoints:\n5 [0 0 0] [1 0 0]\nfirstlap: " + entries + "0 normallap: 0");
  EXPECT_EQ(t->first_lap_count, 256);
  EXPECT_EQ(t->normal_lap_count, 0);
}

TEST(TimingReader, MalformedInputStaysInBounds) {
  struct Case {
    std::string text;
    bool active;
  } cases[] = {
      {std::string("startinggate:\n[1 2 3] 4 ") + std::string(5000, 'x') + " y z\ncheckpoints:\n",
       false},
      {"checkpoints:\n5 [0 0 0] [1 0\n", false},
      {"checkpoints:\n5 [0 0 0] [1 0 0]\nfirstlap: 99999999999999999999 -99999999999999999999\n"
       "normallap: 1e9\n",
       true},
      {std::string("startinggate:\0\n[1 2 3] 4\n", 25), false},
      {"checkpoints:\nnan [0 0 0] [1 0 0]\nfirstlap: 0\nnormallap: 0\n", false},
      {"startinggate:", false},
      {"firstlap: 0\nnormallap: 0\n", false},
  };
  for (const Case& c : cases) {
    auto t = read_text(c.text);
    EXPECT_LE(t->starting_gate_count, TIMING_MAX_STARTING_GATES);
    EXPECT_LE(t->gate_count, TIMING_MAX_GATES);
    for (int i = 0; i < t->first_lap_count; i++) {
      int k = t->first_lap[i] % GATE_NO_SPLIT;
      EXPECT_GE(k, 0);
      EXPECT_LE(k, t->gate_count > 0 ? t->gate_count - 1 : 0);
    }
    EXPECT_EQ(t->active, c.active) << c.text.substr(0, 40);
  }
}

// ---------------------------------------------------------------- writer

TEST(TimingWriter, WritesTheEditorFormat) {
  auto t = read_text(
      "startinggate:\n[1 2 3] 7\n[4 5 6] 0 @m.jm null @s.shp\n"
      "checkpoints:\n5 [0 1 2] [1 0 0]\nfirstlap: 0 100000\nnormallap: 0\n");
  EXPECT_EQ(write_to_string(t.get()),
            "startinggate:\n"
            "[1.000000 2.000000 3.000000] 0.716815\n"
            "[4.000000 5.000000 6.000000] 0.000000 @m.jm null @s.shp\n"
            "checkpoints:\n"
            "5.000000 [0.000000 1.000000 2.000000] [1.000000 0.000000 0.000000]\n"
            "firstlap:\n0 100000 \n"
            "normallap:\n0 \n");
}

TEST(TimingWriter, ReadsBackIdentically) {
  std::string text = "startinggate:\n" + gate_lines(5) + "[9 9 9] -2 a b c\n" + "checkpoints:\n" +
                     checkpoint_lines(7) + "firstlap:\n6 0 100003 1\nnormallap:\n100002 3 4 5 6\n";
  auto t = read_text(text);
  std::string written = write_to_string(t.get());
  auto again = read_text(written);
  EXPECT_EQ(write_to_string(again.get()), written);
  EXPECT_EQ(again->starting_gate_count, 6);
  EXPECT_EQ(again->gate_count, 7);
  EXPECT_EQ(again->first_lap_count, 4);
  EXPECT_EQ(again->normal_lap_count, 5);
  EXPECT_EQ(again->active, t->active);
  for (int i = 0; i < 6; i++) {
    EXPECT_FLOAT_EQ(again->starting_gates[i].x, t->starting_gates[i].x);
    EXPECT_NEAR(again->starting_gates[i].angle, t->starting_gates[i].angle, 1e-6);
    EXPECT_STREQ(again->starting_gates[i].shape, t->starting_gates[i].shape);
  }
  for (int i = 0; i < 7; i++)
    EXPECT_EQ(memcmp(&again->gates[i], &t->gates[i], sizeof(TimingGate)), 0) << i;
  EXPECT_EQ(memcmp(again->first_lap, t->first_lap, sizeof t->first_lap), 0);
  EXPECT_EQ(memcmp(again->normal_lap, t->normal_lap, sizeof t->normal_lap), 0);
}

TEST(TimingWriter, LoadAndSaveThroughTheTrackDirectory) {
  TempDir dir;
  std::string track_path = dir.path + "/";
  auto t = std::make_unique<TimingData>();
  // No file: no gates, not an error.
  EXPECT_TRUE(timing_load(t.get(), nullptr, nullptr, track_path.c_str()));
  EXPECT_EQ(t->gate_count, 0);
  EXPECT_FALSE(t->active);

  write_file(dir.file("timing_gates"), THREE_GATE_COURSE);
  EXPECT_TRUE(timing_load(t.get(), nullptr, nullptr, track_path.c_str()));
  EXPECT_TRUE(t->active);
  EXPECT_EQ(t->gate_count, 3);

  std::string other = dir.path + "/sub/";
  EXPECT_TRUE(timing_save(t.get(), nullptr, other.c_str()));
  EXPECT_EQ(read_file(other + "timing_gates"), write_to_string(t.get()));

  std::string missing = dir.path + "/file/";
  write_file(dir.file("file"), "not a directory");
  EXPECT_FALSE(timing_save(t.get(), nullptr, missing.c_str()));
  EXPECT_STREQ(message_history_line(message_history, 0), "Can't open 'timing_gates'");

  timing_free(t.get());
  EXPECT_EQ(t->gate_count, 0);
  EXPECT_EQ(t->starting_gate_count, 0);
  EXPECT_FALSE(t->active);
}

// ---------------------------------------------------------------- starting grid

struct TimingGridTest : ::testing::Test {
  TrackObjects objects;
  std::unique_ptr<TimingData> timing;
  void SetUp() override { objects_init(&objects); }
  void TearDown() override { objects_free(&objects); }
};

TEST_F(TimingGridTest, GatesCreateTheirStatues) {
  timing = read_text(
      "startinggate:\n[10 0.5 20] 0\n[30 0 40] 1.5707963 @g.jm @g.png @g.shp\n[50 0 60] 7\n",
      &objects);
  ASSERT_EQ(timing->starting_gate_count, 3);
  ASSERT_EQ(objects.statues.count, 3);
  for (int i = 0; i < 3; i++) {
    const StartingGate* gate = &timing->starting_gates[i];
    ASSERT_EQ(gate->statue, i);
    const Statue* s = grow_at(objects.statues, i);
    EXPECT_NEAR(s->x, gate->x - 3 * sinf(gate->angle), 1e-4) << i;
    EXPECT_NEAR(s->z, gate->z - 3 * cosf(gate->angle), 1e-4) << i;
    EXPECT_FLOAT_EQ(s->offset, gate->y);
    EXPECT_FLOAT_EQ(s->angle, gate->angle);
  }
  EXPECT_NEAR(grow_at(objects.statues, 1)->x, 27, 1e-4);
  EXPECT_NEAR(grow_at(objects.statues, 2)->angle, 7 - 2 * M_PI, 1e-5);
  EXPECT_STREQ(grow_at(objects.statues, 0)->model_name, "@startgate.jm");
  EXPECT_STREQ(grow_at(objects.statues, 1)->shape_name, "@g.shp");
}

TEST_F(TimingGridTest, GridPlacesForMoreEntrantsThanGates) {
  timing = read_text("startinggate:\n[100 0 100] 0\n[110 0 100] 0\n[120 0 100] 1.5707963\n");
  struct Case {
    int slot;
    float x, z, fx, fz;
  } cases[] = {
      {0, 100, 100.625f, 0, -1},       // gate 0, row 0
      {1, 110, 100.625f, 0, -1},       // gate 1, row 0
      {2, 120.625f, 100, -1, 0},       // gate 2 faces -x
      {3, 100, 110.625f, 0, -1},       // gate 0, row 1
      {7, 110, 120.625f, 0, -1},       // gate 1, row 2
      {8, 120.625f + 20, 100, -1, 0},  // gate 2, row 2
  };
  for (const Case& c : cases) {
    float x, z, fx, fz;
    ASSERT_TRUE(starting_grid_place(timing.get(), c.slot, &x, &z, &fx, &fz));
    EXPECT_NEAR(x, c.x, 1e-3) << c.slot;
    EXPECT_NEAR(z, c.z, 1e-3) << c.slot;
    EXPECT_NEAR(fx, c.fx, 1e-6) << c.slot;
    EXPECT_NEAR(fz, c.fz, 1e-6) << c.slot;
  }
  float x;
  EXPECT_FALSE(starting_grid_place(timing.get(), -1, &x, nullptr, nullptr, nullptr));
  auto empty = read_text(THREE_GATE_COURSE);
  EXPECT_FALSE(starting_grid_place(empty.get(), 0, &x, nullptr, nullptr, nullptr));
}

TEST_F(TimingGridTest, GatesDropAfterTheStartAndTouchedGatesHold) {
  timing = read_text("startinggate:\n[0 0 0] 0\n[10 0 0] 0\n", &objects);
  TimingData* t = timing.get();
  const int start = 1000;
  Statue* held = grow_at(objects.statues, 1);
  float placed_up[3] = {held->orientation[0][1], held->orientation[1][1], held->orientation[2][1]};
  // Before the start: up, no speed, the statue turned by the full tilt.
  starting_gates_update(t, &objects, start - 1, start);
  EXPECT_FLOAT_EQ(t->starting_gates[0].drop_position, 1);
  EXPECT_FLOAT_EQ(t->starting_gates[0].drop_speed, 0);
  EXPECT_TRUE(starting_gates_solid(start - 1, start));

  // Gate 0 drops freely; gate 1 is leant on from tick 10 to 19 of the drop.
  float position[2] = {1, 1}, speed[2] = {0, 0};
  for (int tick = start; tick < start + 40; tick++) {
    bool touched = tick >= start + 10 && tick < start + 20;
    held->last_hit_tick = touched ? tick : tick - 1;
    starting_gates_update(t, &objects, tick, start);
    for (int g = 0; g < 2; g++) {
      if (g == 1 && touched) {
        speed[g] = 0;
      } else {
        speed[g] = std::min(8.0f, speed[g] + 32.0f / 128);
        position[g] = std::max(0.0f, position[g] - speed[g] / 128);
      }
      EXPECT_NEAR(t->starting_gates[g].drop_speed, speed[g], 1e-5) << g << " " << tick;
      EXPECT_NEAR(t->starting_gates[g].drop_position, position[g], 1e-5) << g << " " << tick;
    }
  }
  EXPECT_GT(t->starting_gates[1].drop_position, t->starting_gates[0].drop_position);
  EXPECT_NEAR(t->starting_gates[1].drop_speed, 20 * 32.0f / 128, 1e-5);
  for (int tick = start + 40; tick < start + 1280; tick++)
    starting_gates_update(t, &objects, tick, start);
  EXPECT_FLOAT_EQ(t->starting_gates[0].drop_position, 0);
  EXPECT_FLOAT_EQ(t->starting_gates[0].drop_speed, 8);
  EXPECT_FLOAT_EQ(t->starting_gates[1].drop_position, 0);
  // Down: the statue is back in its placed orientation.
  const StartingGate* g = &t->starting_gates[0];
  const Statue* s = grow_at(objects.statues, 0);
  for (int r = 0; r < 3; r++)
    for (int c = 0; c < 3; c++)
      EXPECT_NEAR(s->orientation[r][c], g->placed_orientation[r * 3 + c], 1e-6);
  EXPECT_FALSE(starting_gates_solid(start + 1280, start));
  EXPECT_TRUE(starting_gates_solid(start + 1279, start));

  // After the 10 s nothing moves any more, even a reset gate.
  t->starting_gates[0].drop_position = 0.5f;
  starting_gates_update(t, &objects, start + 1300, start);
  EXPECT_FLOAT_EQ(t->starting_gates[0].drop_position, 0.5f);

  // Reset: up again, the up axis turned by 3*pi/16 about the first axis.
  starting_gates_reset(t, &objects);
  EXPECT_FLOAT_EQ(t->starting_gates[1].drop_position, 1);
  float dot = 0;
  for (int r = 0; r < 3; r++) dot += held->orientation[r][1] * placed_up[r];
  EXPECT_NEAR(dot, 1.0f, 1e-5);  // placed_up was taken while the gate stood up
  float down_dot = 0;
  for (int r = 0; r < 3; r++)
    down_dot += held->orientation[r][1] * t->starting_gates[1].placed_orientation[r * 3 + 1];
  EXPECT_NEAR(down_dot, cosf(STARTING_GATE_TILT), 1e-5);
  float first_dot = 0;
  for (int r = 0; r < 3; r++)
    first_dot += held->orientation[r][0] * t->starting_gates[1].placed_orientation[r * 3];
  EXPECT_NEAR(first_dot, 1.0f, 1e-6);
}
