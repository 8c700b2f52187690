// Points series: the ".series" reader, "_standings" files, round and
// championship scoring, standings texts, event line-ups and saving a moto.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/files.h"
#include "core/mem.h"
#include "core/program.h"
#include "core/session.h"
#include "core/startup.h"
#include "core/subsystems.h"
#include "physics/bike.h"
#include "physics/shape.h"
#include "physics/step.h"
#include "physics/world.h"
#include "race/race.h"
#include "race/series.h"
#include "tests/test_helpers.h"
#include "tests/track_fixture.h"
#include "track/timing.h"
#include "track/track.h"

namespace {

std::string table40(const std::vector<int>& head) {
  std::string s;
  for (int i = 0; i < SERIES_POINTS_GIVEN; i++)
    s += std::to_string(i < (int)head.size() ? head[i] : 0) + (i % 20 == 19 ? "\n" : " ");
  return s;
}

struct MotoText {
  std::string name, track;
  int minutes, laps;
  bool ends_round;
};

std::string series_text(const std::string& name, const std::string& riders_line,
                        const std::string& numbers, const std::vector<MotoText>& motos) {
  std::string s =
      name + "\n" + riders_line + "\n" + numbers + "\n" + std::to_string(motos.size()) + "\n";
  for (const MotoText& m : motos) {
    s += m.name + "\n" + m.track + "\n" + std::to_string(m.minutes) + " " + std::to_string(m.laps) +
         "\n";
    s += table40({25, 22, 20, 18});
    s += table40(m.ends_round ? std::vector<int>{50, 44, 40, 36} : std::vector<int>{});
  }
  return s;
}

bool read_series_text(const std::string& text, Series* out, const char* path = "@t.series") {
  DataFile* f = data_open_memory(text.data(), text.size(), false, false);
  bool ok = series_read(f, path, out);
  data_close(f);
  return ok;
}

// Swaps in a track list of two tracks and an empty series list.
class SeriesTest : public ::testing::Test {
 protected:
  GrowArray<TrackEntry> saved_tracks;
  GrowArray<Series> saved_series;
  void SetUp() override {
    saved_tracks = program.track_list;
    program.track_list = GrowArray<TrackEntry>();
    grow_push(program.track_list, TrackEntry{intern_string("rabbithill"), "Rabbit Hill"});
    grow_push(program.track_list, TrackEntry{intern_string("practice"), "Practice"});
    saved_series = series_list;
    series_list = GrowArray<Series>();
    series_select(-1);
  }
  void TearDown() override {
    series_list_free();
    series_list = saved_series;
    grow_free(program.track_list);
    program.track_list = saved_tracks;
  }
};

// Series of 2 robots and the user with moto points 10, 8, 6 and round points
// 50, 40, 30 at each moto that ends a round; positions [moto][rider].
Series make_series(const std::vector<bool>& ends_round,
                   const std::vector<std::vector<int>>& positions) {
  Series s{};
  s.name = intern_string("Cup");
  s.rider_count = 2;
  s.rider_numbers[0] = 4;
  s.rider_numbers[1] = 7;
  for (size_t m = 0; m < ends_round.size(); m++) {
    SeriesMoto moto;
    memset(&moto, 0, sizeof moto);
    moto.name = mem_strdup(("Moto " + std::to_string(m + 1)).c_str());
    moto.moto_points[0] = 10, moto.moto_points[1] = 8, moto.moto_points[2] = 6;
    if (ends_round[m])
      moto.round_points[0] = 50, moto.round_points[1] = 40, moto.round_points[2] = 30;
    if (m < positions.size())
      for (int r = 0; r < 3; r++) moto.positions[r] = positions[m][r];
    grow_push(s.motos, moto);
  }
  s.completed = (int32_t)positions.size();
  series_overall_positions_update(&s);
  return s;
}

// ---------------------------------------------------------------- reader

TEST_F(SeriesTest, ReadsGoodFileWithQuotedAndPlainWords) {
  std::string text = series_text(
      "\"Spring Cup  2\"", "3 Novice", "4 7 12",
      {{"\"First moto\"", "rabbithill", 0, 4, false}, {"Second", "\"practice\"", 6, 1, true}});
  Series s;
  ASSERT_TRUE(read_series_text(text, &s, "@cups/spring.series"));
  EXPECT_STREQ(s.name, "Spring Cup  2");
  EXPECT_STREQ(s.standings_path, "@cups/spring.series_standings");
  EXPECT_EQ(s.skill, SERIES_NOVICE);
  ASSERT_EQ(s.rider_count, 3);
  EXPECT_EQ(s.rider_numbers[0], 4);
  EXPECT_EQ(s.rider_numbers[2], 12);
  ASSERT_EQ(s.motos.count, 2);
  EXPECT_STREQ(s.motos.data[0].name, "First moto");
  EXPECT_EQ(s.motos.data[0].track, 0);
  EXPECT_EQ(s.motos.data[0].laps, 4);
  EXPECT_STREQ(s.motos.data[1].name, "Second");
  EXPECT_EQ(s.motos.data[1].track, 1);
  EXPECT_EQ(s.motos.data[1].minutes, 6);
  EXPECT_EQ(s.motos.data[1].moto_points[0], 25);
  EXPECT_EQ(s.motos.data[1].moto_points[3], 18);
  EXPECT_EQ(s.motos.data[1].moto_points[4], 0);
  EXPECT_EQ(s.motos.data[0].round_points[0], 0);
  EXPECT_EQ(s.motos.data[1].round_points[1], 44);
  EXPECT_EQ(s.motos.data[1].round_points[159], 0);
  EXPECT_EQ(s.completed, 0);
  EXPECT_EQ(series_round_count(&s), 1);
  series_free(&s);
}

TEST_F(SeriesTest, SkillNames) {
  struct Case {
    const char* word;
    int32_t skill;
  } cases[] = {{"Novice", SERIES_NOVICE},
               {"Amateur", SERIES_AMATEUR},
               {"Expert", SERIES_EXPERT},
               {"novice", SERIES_EXPERT},
               {"Pro", SERIES_EXPERT}};
  for (const Case& c : cases) {
    Series s;
    ASSERT_TRUE(read_series_text(
        series_text("Cup", std::string("1 ") + c.word, "5", {{"M", "rabbithill", 0, 2, true}}), &s))
        << c.word;
    EXPECT_EQ(s.skill, c.skill) << c.word;
    series_free(&s);
  }
}

TEST_F(SeriesTest, BadFilesAreRejected) {
  std::vector<MotoText> one = {{"M", "rabbithill", 0, 2, true}};
  std::string good = series_text("Cup", "2 Expert", "4 7", one);
  // The count line says one more moto than follows.
  std::string more_motos = good;
  more_motos.replace(more_motos.find("\n1\n"), 3, "\n2\n");
  struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"rider count 160", series_text("Cup", "160 Expert", "4 7", one)},
      {"negative rider count", series_text("Cup", "-1 Expert", "", one)},
      {"unknown track", series_text("Cup", "2 Expert", "4 7", {{"M", "moonbase", 0, 2, true}})},
      {"track name differs in case",
       series_text("Cup", "2 Expert", "4 7", {{"M", "RabbitHill", 0, 2, true}})},
      {"missing rider number", series_text("Cup", "3 Expert", "4 7", one)},
      {"truncated points", good.substr(0, good.size() - 12)},
      {"more motos than given", more_motos},
      {"unterminated quote", "\"Cup\n2 Expert\n4 7\n0\n"},
      {"word longer than 1023", std::string(1024, 'x') + "\n2 Expert\n4 7\n0\n"},
      {"negative moto count", "Cup\n2 Expert\n4 7\n-1\n"},
      {"empty", ""},
  };
  for (const Case& c : cases) {
    Series s;
    EXPECT_FALSE(read_series_text(c.text, &s)) << c.what;
  }
  Series s;
  ASSERT_TRUE(read_series_text(good, &s));  // the base of the cases is fine
  series_free(&s);
  ASSERT_TRUE(read_series_text(std::string(1023, 'x') + "\n2 Expert\n4 7\n0\n", &s));
  EXPECT_EQ(strlen(s.name), 1023u);
  EXPECT_EQ(s.motos.count, 0);
  series_free(&s);
}

// ---------------------------------------------------------------- standings file

TEST_F(SeriesTest, StandingsReadStopsAtFirstIncompleteLine) {
  std::vector<MotoText> motos(4, MotoText{"M", "rabbithill", 0, 2, true});
  Series s;
  ASSERT_TRUE(read_series_text(series_text("Cup", "2 Expert", "4 7", motos), &s));
  struct Case {
    const char* what;
    const char* text;
    int32_t completed;
  } cases[] = {
      {"two lines", "1 2 3 \n3 1 2 \n", 2},
      {"short second line", "1 2 3 \n3 1\n2 3 1 \n", 1},
      {"last line without newline", "1 2 3 \n3 1 2", 1},
      {"position beyond the riders", "1 2 3 \n1 2 4 \n", 1},
      {"position 0", "0 2 3 \n", 0},
      {"word in a line", "1 x 3 \n", 0},
      {"more lines than motos", "1 2 3\n1 2 3\n1 2 3\n1 2 3\n1 2 3\n", 4},
      {"empty", "", 0},
  };
  for (const Case& c : cases) {
    DataFile* f = data_open_memory(c.text, strlen(c.text), false, false);
    EXPECT_EQ(standings_read(&s, f), c.completed) << c.what;
    EXPECT_EQ(s.completed, c.completed) << c.what;
    data_close(f);
  }
  DataFile* f = data_open_memory("2 3 1 \n", 7, false, false);
  standings_read(&s, f);
  data_close(f);
  EXPECT_EQ(s.motos.data[0].positions[0], 1);
  EXPECT_EQ(s.motos.data[0].positions[1], 2);
  EXPECT_EQ(s.motos.data[0].positions[2], 0);  // the user is the last number
  EXPECT_EQ(standings_read(&s, nullptr), 0);
  series_free(&s);
}

TEST_F(SeriesTest, StandingsWriteRoundTrip) {
  TempDir dir;
  Series s = make_series({false, true, true}, {{0, 1, 2}, {2, 0, 1}});
  std::string path = dir.file("st");
  DataFile* out = data_open_path(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(standings_write(&s, out));
  data_close(out);
  EXPECT_EQ(read_file(path), "1 2 3 \n3 1 2 \n");
  Series t = make_series({false, true, true}, {});
  DataFile* in = data_open_path(path.c_str(), "rb");
  EXPECT_EQ(standings_read(&t, in), 2);
  data_close(in);
  for (int m = 0; m < 2; m++)
    for (int r = 0; r < 3; r++)
      EXPECT_EQ(t.motos.data[m].positions[r], s.motos.data[m].positions[r]);
  series_free(&s);
  series_free(&t);
}

// ---------------------------------------------------------------- scoring

TEST_F(SeriesTest, RoundOverallPositionsBreakTiesByLastMoto) {
  // Round of two motos: robot 0 and robot 1 both score 18 points; robot 1 won
  // the last moto, so it is ahead.
  Series s = make_series({false, true}, {{0, 1, 2}, {1, 0, 2}});
  const int32_t* overall = s.motos.data[1].overall_positions;
  EXPECT_EQ(overall[1], 0);
  EXPECT_EQ(overall[0], 1);
  EXPECT_EQ(overall[2], 2);
  series_free(&s);
  // Points decide before the last moto: 16, 18, 14.
  s = make_series({false, true}, {{0, 1, 2}, {2, 0, 1}});
  EXPECT_EQ(s.motos.data[1].overall_positions[1], 0);
  EXPECT_EQ(s.motos.data[1].overall_positions[0], 1);
  EXPECT_EQ(s.motos.data[1].overall_positions[2], 2);
  EXPECT_EQ(series_rider_total(&s, 1), 50);
  EXPECT_EQ(series_rider_total(&s, 0), 40);
  EXPECT_EQ(series_rider_total(&s, 2), 30);
  series_free(&s);
}

TEST_F(SeriesTest, ChampionshipSortTiesByLatestRound) {
  // Two one-moto rounds: robots 0 and 1 both have 90 points; robot 1 won the
  // latest round.
  Series s = make_series({true, true, true}, {{0, 1, 2}, {1, 0, 2}});
  int32_t order[MAX_BIKES];
  ASSERT_EQ(series_standings_order(&s, order), 3);
  EXPECT_EQ(series_rider_total(&s, 0), 90);
  EXPECT_EQ(series_rider_total(&s, 1), 90);
  EXPECT_EQ(series_rider_total(&s, 2), 60);
  EXPECT_EQ(order[0], 1);
  EXPECT_EQ(order[1], 0);
  EXPECT_EQ(order[2], 2);
  series_free(&s);
  // The user ahead on points; a round still running does not count.
  s = make_series({true, false, true}, {{2, 1, 0}, {0, 1, 2}});
  ASSERT_EQ(series_standings_order(&s, order), 3);
  EXPECT_EQ(order[0], 2);
  EXPECT_EQ(order[1], 1);
  EXPECT_EQ(order[2], 0);
  EXPECT_EQ(series_rider_total(&s, 0), 30);
  series_free(&s);
}

TEST_F(SeriesTest, StandingsCellsAndTitles) {
  // Rounds: 1 (moto 0), 2 (motos 1-2), 3 (motos 3-5), 4 (motos 6-7).
  std::vector<bool> ends = {true, false, true, false, false, true, false, true};
  std::vector<std::vector<int>> positions = {{1, 0, 2}, {0, 1, 2}, {0, 2, 1},
                                             {1, 2, 0}, {2, 1, 0}, {0, 2, 1}};
  struct Case {
    int completed, round, rider;
    const char* text;
  } cases[] = {
      {6, 0, 0, "40 (2)"},     {6, 0, 1, "50 (1)"},     {6, 0, 2, "30 (3)"},
      {6, 1, 0, "50 (1-1)"},   {6, 1, 1, "30 (2-3)"},   {6, 1, 2, "40 (3-2)"},
      {6, 2, 2, "50 (1-1-2)"}, {6, 2, 0, "40 (2-3-1)"}, {6, 2, 1, "30 (3-2-3)"},
      {6, 3, 0, "-"},          {2, 1, 0, "- (1-)"},     {2, 1, 2, "- (3-)"},
      {2, 2, 0, "-"},          {5, 2, 2, "- (1-1-)"},   {4, 2, 1, "- (3-)"},
      {1, 0, 1, "50 (1)"},     {0, 0, 1, "-"},
  };
  for (const Case& c : cases) {
    Series s = make_series(
        ends, std::vector<std::vector<int>>(positions.begin(), positions.begin() + c.completed));
    char cell[64];
    series_round_cell(&s, c.round, c.rider, cell, sizeof cell);
    EXPECT_STREQ(cell, c.text) << "completed " << c.completed << " round " << c.round << " rider "
                               << c.rider;
    series_free(&s);
  }
  Series s = make_series(ends, positions);
  EXPECT_EQ(series_round_count(&s), 4);
  char text[1024];
  series_standings_title(&s, text, sizeof text);
  EXPECT_STREQ(text, "Next Event: Moto 7");
  s.completed = 8;
  series_standings_title(&s, text, sizeof text);
  EXPECT_STREQ(text, "Cup Final Standings");
  series_rider_number_text(&s, 1, text, sizeof text);
  EXPECT_STREQ(text, "7");
  series_rider_number_text(&s, 2, text, sizeof text);
  EXPECT_STREQ(text, "999");
  series_free(&s);
}

// ---------------------------------------------------------------- line-ups

Series lineup_series(int robots, const std::vector<int>& previous) {
  Series s{};
  s.rider_count = robots;
  for (int k = 0; k < robots; k++) s.rider_numbers[k] = 20 + k;
  SeriesMoto moto;
  memset(&moto, 0, sizeof moto);
  for (int r = 0; r < (int)previous.size(); r++) moto.positions[r] = previous[r];
  grow_push(s.motos, moto);
  grow_push(s.motos, moto);
  s.completed = 1;
  return s;
}

TEST_F(SeriesTest, LineupFirstMotoInFileOrder) {
  Series s = lineup_series(3, {});
  int32_t lineup[MAX_BIKES];
  series_lineup(&s, 0, lineup);
  std::vector<int32_t> head(lineup, lineup + 5);
  EXPECT_EQ(head, (std::vector<int32_t>{1020, 1021, 1022, 1, 0}));
  for (int i = 4; i < MAX_BIKES; i++) EXPECT_EQ(lineup[i], 0);
  // Numbers that make no robot code ride as an unnamed robot.
  s.rider_numbers[0] = -999;
  s.rider_numbers[1] = 2147483647;
  series_lineup(&s, 0, lineup);
  EXPECT_EQ(lineup[0], 999);
  EXPECT_EQ(lineup[1], 999);
  EXPECT_EQ(lineup[3], LINEUP_HUMAN);
  grow_free(s.motos);
}

TEST_F(SeriesTest, LineupLaterMotoFewRobots) {
  // Robot 3 did not finish (position 7, clamped to 4); robot 1 came last of
  // the finishers; the user was third.
  Series s = lineup_series(4, {0, 3, 1, 7, 2});
  int32_t lineup[MAX_BIKES];
  series_lineup(&s, 1, lineup);
  std::vector<int32_t> expected(MAX_BIKES, 0);
  expected[6] = 1023;
  expected[8] = 1021;
  expected[10] = 1;
  expected[12] = 1022;
  expected[14] = 1020;
  EXPECT_EQ(std::vector<int32_t>(lineup, lineup + MAX_BIKES), expected);
  grow_free(s.motos);
}

TEST_F(SeriesTest, LineupTablesForManyRobots) {
  const int wide[] = {10, 9, 11, 8, 12, 7, 13, 6, 14, 5, 15, 4, 16, 3, 17, 2, 18, 1, 19, 0};
  for (int robots : {14, 15, 20, 45}) {
    // Robot k finished k-th, the user last: the user gets the first table entry,
    // then robots from the back of the field.
    std::vector<int> previous;
    for (int k = 0; k < robots; k++) previous.push_back(k);
    previous.push_back(robots);
    Series s = lineup_series(robots, previous);
    int32_t lineup[MAX_BIKES];
    series_lineup(&s, 1, lineup);
    std::vector<int32_t> expected(MAX_BIKES, 0);
    for (int j = 0; j <= robots; j++) {
      int slot = robots <= 14 ? 6 + 2 * j : (j < 20 ? wide[j] : j);
      expected[slot] = j == 0 ? 1 : 1000 + 20 + (robots - j);
    }
    EXPECT_EQ(std::vector<int32_t>(lineup, lineup + MAX_BIKES), expected) << robots << " robots";
    if (robots == 20) {
      EXPECT_EQ(lineup[10], 1);
    }
    grow_free(s.motos);
  }
}

// ---------------------------------------------------------------- the list

class SeriesFiles : public SeriesTest {
 protected:
  TempDir root;
  std::unique_ptr<ScopedEnv> xdg, rt;
  std::string home;
  void SetUp() override {
    SeriesTest::SetUp();
    mkdir((root.path + "/data").c_str(), 0755);
    xdg = std::make_unique<ScopedEnv>("XDG_DATA_HOME", (root.path + "/xdg").c_str());
    rt = std::make_unique<ScopedEnv>("RT_HOME", (root.path + "/data").c_str());
    home = root.path + "/xdg/Rutmoto";
    mkdir((root.path + "/xdg").c_str(), 0755);
    mkdir(home.c_str(), 0755);
    file_list_free();
  }
  void TearDown() override {
    file_list_free();
    SeriesTest::TearDown();
  }
};

TEST_F(SeriesFiles, ListLoadSkipsBadFilesAndReadsStandings) {
  std::vector<MotoText> two = {{"A1", "rabbithill", 0, 2, false}, {"A2", "practice", 0, 2, true}};
  write_file(home + "/a.series", series_text("Alpha", "2 Amateur", "4 7", two));
  write_file(home + "/b.series",
             series_text("Beta", "1 Expert", "9", {{"B1", "moonbase", 0, 2, true}}));
  write_file(root.path + "/data/c.series", series_text("Gamma", "1 Novice", "9", two));
  write_file(home + "/c.series_standings", "2 1 \n2 1 \n");
  write_file(home + "/d.txt", "not a series");
  series_list_load();
  ASSERT_EQ(series_list.count, 2);
  EXPECT_STREQ(series_list.data[0].name, "Alpha");
  EXPECT_EQ(series_list.data[0].completed, 0);
  EXPECT_STREQ(series_list.data[1].name, "Gamma");
  EXPECT_STREQ(series_list.data[1].standings_path, "@c.series_standings");
  EXPECT_EQ(series_list.data[1].completed, 2);
  EXPECT_EQ(series_list.data[1].motos.data[1].overall_positions[1], 0);  // the user won round 1
  EXPECT_EQ(series_chosen, -1);
}

TEST_F(SeriesFiles, GeneratedSeriesLoads) {
  ScopedEnv data("RT_HOME", RT_BINARY_DIR);
  file_list_free();
  grow_free(program.track_list);
  ASSERT_GE(track_list_build(), 2);
  series_list_load();
  const Series* cup = nullptr;
  for (int32_t i = 0; i < series_list.count; i++)
    if (strcmp(series_list.data[i].name, "Rabbit Hill Cup") == 0) cup = &series_list.data[i];
  ASSERT_NE(cup, nullptr);
  EXPECT_EQ(cup->rider_count, 9);
  EXPECT_EQ(cup->skill, SERIES_AMATEUR);
  EXPECT_EQ(cup->motos.count, 6);
  EXPECT_EQ(series_round_count(cup), 3);
  EXPECT_STREQ(program.track_list.data[cup->motos.data[2].track].name, "practice");
  EXPECT_EQ(cup->motos.data[4].minutes, 6);
  EXPECT_EQ(cup->completed, 0);
}

// ---------------------------------------------------------------- a series moto

class SeriesMotoSave : public SeriesFiles {
 protected:
  std::vector<std::unique_ptr<Bike>> bikes;
  TimingData saved_timing;
  void SetUp() override {
    SeriesFiles::SetUp();
    saved_timing = track.timing;
    timing_init(&track.timing);
    for (BikeSlot& s : program.slots) s = BikeSlot{};
    race_session_reset();
    race_session.local_slot = NO_LOCAL_SLOT;
    physics_state.online = false;
    std::vector<MotoText> motos = {{"\"R1 M1\"", "rabbithill", 0, 2, false},
                                   {"\"R1 M2\"", "rabbithill", 0, 2, true},
                                   {"R2", "practice", 0, 2, true}};
    write_file(home + "/cup.series", series_text("Cup", "3 Expert", "4 7 12", motos));
    series_list_load();
    ASSERT_EQ(series_list.count, 1);
  }
  void TearDown() override {
    for (auto& b : bikes) bike_timing_free(&b->timing);
    for (BikeSlot& s : program.slots) s = BikeSlot{};
    track.timing = saved_timing;
    race_session_reset();
    SeriesFiles::TearDown();
  }
  void put_bike(int slot, const char* number, BikeSlotKind kind, bool finished) {
    bikes.push_back(std::make_unique<Bike>());
    Bike* b = bikes.back().get();
    snprintf(b->number_text, sizeof b->number_text, "%s", number);
    b->timing.finished = finished;
    program.slots[slot].bike = b;
    program.slots[slot].kind = kind;
  }
  void set_results(const std::vector<int>& slots, bool final) {
    PositionEntry* table = final ? race_session.results : race_session.positions;
    for (size_t i = 0; i < slots.size(); i++) table[i] = PositionEntry{slots[i], 0, 0};
    (final ? race_session.result_count : race_session.position_count) = (int32_t)slots.size();
    race_session.results_final = final;
  }
  std::string standings() { return read_file(home + "/cup.series_standings"); }
};

TEST_F(SeriesMotoSave, SavesMotosIntoStandings) {
  // Robots 4, 7, 12 and the user (slot 3, whose number text "12" must not
  // place robot 12); slot 2 is nobody of the series.
  put_bike(0, "7", ROBOT, true);
  put_bike(1, "4", ROBOT, true);
  put_bike(2, "55", REPLAYED, true);
  put_bike(3, "12", LOCAL_RIDER, true);
  race_session.local_slot = 3;
  series_select(0);
  EXPECT_EQ(series_chosen_moto, 0);
  set_results({1, 3, 2, 0}, true);
  series_standings_save();
  EXPECT_EQ(standings(), "1 3 4 2 \n");
  EXPECT_EQ(series_list.data[0].completed, 1);
  EXPECT_EQ(series_chosen, -1);

  // A second save without a new selection changes nothing.
  series_standings_save();
  EXPECT_EQ(standings(), "1 3 4 2 \n");
  EXPECT_EQ(series_list.data[0].completed, 1);

  // Moto 2 ends round 1: robot 7 wins, user second, robot 4 third.
  series_select(0);
  EXPECT_EQ(series_chosen_moto, 1);
  set_results({0, 3, 1, 2}, true);
  series_standings_save();
  EXPECT_EQ(standings(), "1 3 4 2 \n3 1 4 2 \n");
  const Series& s = series_list.data[0];
  EXPECT_EQ(s.completed, 2);
  // Points 25+20=45 (robot 4), 20+25=45 (robot 7), 18+18 (robot 12), 22+22=44
  // (user): robot 7 wins the tie by the last moto.
  EXPECT_EQ(s.motos.data[1].overall_positions[1], 0);
  EXPECT_EQ(s.motos.data[1].overall_positions[0], 1);
  EXPECT_EQ(s.motos.data[1].overall_positions[3], 2);
  EXPECT_EQ(s.motos.data[1].overall_positions[2], 3);
  char cell[64];
  series_round_cell(&s, 0, 3, cell, sizeof cell);
  EXPECT_STREQ(cell, "40 (2-2)");

  // Reloading the list reads the same standings back.
  series_list_free();
  series_list_load();
  ASSERT_EQ(series_list.count, 1);
  EXPECT_EQ(series_list.data[0].completed, 2);
  EXPECT_EQ(series_list.data[0].motos.data[1].overall_positions[1], 0);
}

TEST_F(SeriesMotoSave, WrongMotoIsNotSaved) {
  put_bike(0, "4", ROBOT, true);
  series_select(0);
  series_list.data[0].completed = 1;  // e.g. "Reset Points" went the other way
  set_results({0}, true);
  series_standings_save();
  EXPECT_FALSE(file_exists(home + "/cup.series_standings"));
  EXPECT_EQ(series_list.data[0].completed, 1);
  EXPECT_EQ(series_chosen, -1);
}

TEST_F(SeriesMotoSave, LeftEarlyUsesPositionTable) {
  // Not final: the user has not finished and stays behind everyone; robots
  // are numbered as they lie.
  put_bike(0, "12", ROBOT, false);
  put_bike(1, "99", LOCAL_RIDER, false);
  put_bike(2, "4", ROBOT, false);
  race_session.local_slot = 1;
  series_select(0);
  set_results({1, 0, 2}, false);
  series_standings_save();
  EXPECT_EQ(standings(), "2 4 1 4 \n");
  // A finished user without a cutting penalty counts.
  series_reset_points(0);
  EXPECT_EQ(series_list.data[0].completed, 0);
  program.slots[1].bike->timing.finished = true;
  series_select(0);
  set_results({1, 0, 2}, false);
  series_standings_save();
  EXPECT_EQ(standings(), "3 4 2 1 \n");
}

// ---------------------------------------------------------------- a real event

// A flat fixture track "grid" with 20 starting gates and a series of five
// robots (roster numbers 20..24) and two motos on it.
class SeriesEvent : public ::testing::Test {
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
    FixtureTrack t;
    t.n = 6;
    t.spacing = 2.0f;
    t.samples.assign((size_t)t.grid() * t.grid(), 0);
    t.statues = t.billboards = t.extras = false;
    write_fixture_track(home, "grid", t);
    std::string gates = "startinggate:\n";
    for (int g = 0; g < 20; g++) gates += "[40 0 " + std::to_string(60 + 4 * g) + "] -1.570796\n";
    gates += "checkpoints:\n10 [200 0 100] [1 0 0]\nfirstlap:\n0\nnormallap:\n0\n";
    write_file(home + "grid/timing_gates", gates);
    write_file(home + "grid.series", series_text("\"Grid Cup\"", "5 Novice", "20 21 22 23 24",
                                                 {{"\"Grid 1\"", "grid", 2, 1, false},
                                                  {"\"Grid 2\"", "grid", 0, 3, true}}));
    file_list_free();
    track_list_build();
    series_list_load();
  }
  void TearDown() override {
    series_list_free();
    session_free();
    track = Track{};
    physics_world_destroy();
    shape_cache_free();
    track_list_free();
    file_list_free();
  }
  std::string number_at(int slot) {
    const Bike* b = program.slots[slot].bike;
    return b ? b->number_text : "(empty)";
  }
};

TEST_F(SeriesEvent, MotosStartOnTheirGridsAndSaveStandings) {
  int32_t cup = -1;  // the generated game data brings its own series too
  for (int32_t i = 0; i < series_list.count; i++)
    if (strcmp(series_list.data[i].name, "Grid Cup") == 0) cup = i;
  ASSERT_GE(cup, 0);
  int32_t grid = track_list_find("grid");
  ASSERT_GE(grid, 0);
  series_select(cup);
  series_event_start();
  ASSERT_TRUE(program.session_loaded);
  EXPECT_EQ(program.selected_track, grid);
  for (int k = 0; k < 5; k++) {
    EXPECT_EQ(number_at(k), std::to_string(20 + k));
    EXPECT_EQ(program.slots[k].kind, ROBOT);
  }
  EXPECT_EQ(program.slots[5].kind, LOCAL_RIDER);
  EXPECT_EQ(race_session.local_slot, 5);
  EXPECT_EQ(race_session.length.time_limit, 2 * 60 * 128);
  EXPECT_EQ(race_session.length.extra_laps, 1);
  EXPECT_EQ(race_session.robot_skill, SERIES_NOVICE);
  EXPECT_EQ(series_chosen, cup);
  EXPECT_EQ(series_chosen_moto, 0);

  // The moto ends: user first, then robots 23, 21, 20, 24, 22.
  const int order[] = {5, 3, 1, 0, 4, 2};
  for (int i = 0; i < 6; i++) race_session.results[i] = PositionEntry{order[i], 0, 0};
  race_session.result_count = 6;
  race_session.results_final = true;
  series_standings_save();
  EXPECT_EQ(read_file(home + "grid.series_standings"), "4 3 6 2 5 1 \n");

  // The next moto lines up worst first on gates 6, 8, 10...
  series_select(cup);
  series_event_start();
  ASSERT_TRUE(program.session_loaded);
  EXPECT_EQ(series_chosen_moto, 1);
  const std::pair<int, const char*> grid_places[] = {
      {6, "22"}, {8, "24"}, {10, "20"}, {12, "21"}, {14, "23"}};
  for (auto [slot, number] : grid_places) EXPECT_EQ(number_at(slot), number) << slot;
  EXPECT_EQ(program.slots[16].kind, LOCAL_RIDER);
  EXPECT_EQ(race_session.local_slot, 16);
  for (int s = 0; s < 6; s++) EXPECT_EQ(program.slots[s].bike, nullptr) << s;
  EXPECT_EQ(race_session.length.time_limit, 0);
  EXPECT_EQ(race_session.length.extra_laps, 3);

  // Practice starts the same moto without choosing the series.
  series_select(-1);
  EXPECT_TRUE(series_moto_start(cup));
  EXPECT_EQ(series_chosen, -1);
  EXPECT_EQ(number_at(6), "22");
  // Nothing starts once every moto is done.
  series_list.data[cup].completed = 2;
  EXPECT_FALSE(series_moto_start(cup));
}

}  // namespace
