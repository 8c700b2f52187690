// Demo files: header, block chain, recorder, backups, "namedemo", playback
// into the histories, seeking and practice laps.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/files.h"
#include "core/mem.h"
#include "core/program.h"
#include "core/subsystems.h"
#include "physics/bike.h"
#include "physics/step.h"
#include "race/demo.h"
#include "race/race.h"
#include "tests/bike_fixture.h"
#include "tests/test_helpers.h"
#include "track/track.h"

namespace {

// ---------------------------------------------------------------- helpers

void put_le32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; i++) s.push_back((char)(uint8_t)(v >> (8 * i)));
}
uint32_t get_le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; i++) v |= (uint32_t)(uint8_t)s[at + i] << (8 * i);
  return v;
}

// A recognisable 39-byte state: every byte from the bike and the tick.
std::string state_bytes(int bike, int tick, int size = 39) {
  std::string s;
  for (int i = 0; i < size; i++) s.push_back((char)(uint8_t)(bike * 31 + tick * 7 + i));
  return s;
}

// Appends a block with its chained length field.
void add_block(std::string& file, uint32_t* chain, int32_t tick, int type,
               const std::string& body) {
  put_le32(file, (uint32_t)body.size() ^ *chain);
  put_le32(file, (uint32_t)tick);
  file.push_back((char)type);
  file += body;
  *chain = (uint32_t)body.size();
}

std::string states_body(const std::vector<std::pair<int, int>>& bike_ticks) {
  std::string body;
  for (auto [bike, tick] : bike_ticks) {
    body.push_back((char)bike);
    put_le32(body, (uint32_t)tick);
    body += state_bytes(bike, tick);
  }
  return body;
}

const char* HEADER_V6_TWO =
    "RT06 2 0 0 1800\nflat\nkx125|rider.png|kx.png|wheels.png|helmet.png\n7\nAnna\n\n"
    "yz125||||\n12\nBen\n\n";

// The history entry of a slot at tick (nullptr when none).
const HistoryEntry* entry_at(int32_t slot, int32_t tick) {
  const SlotHistory& h = race_session.history[slot];
  for (const HistoryEntry& e : h.entries)
    if (e.tick == tick) return &e;
  return nullptr;
}

void clear_histories() {
  for (SlotHistory& h : race_session.history) {
    for (HistoryEntry& e : h.entries) e.tick = -1;
    h.head = 0;
    h.count = 0;
  }
}

// Stores an entry the way the history does (next ring place, count + 1).
void put_history(int32_t slot, int32_t tick, uint8_t fill) {
  SlotHistory& h = race_session.history[slot];
  h.head = (h.head + 1) % HISTORY_LENGTH;
  h.entries[h.head].tick = tick;
  memset(h.entries[h.head].state.bytes, fill, BIKE_STATE_BYTES);
  if (h.count < HISTORY_LENGTH) h.count++;
}

void reset_globals() {
  for (BikeSlot& s : program.slots) s = {};
  demo_streams_reset();
  demo_recorder.pending_name[0] = 0;
  demo_hooks = {};
  run_options.practice = false;
  run_options.accurate_skip = false;
  physics_state.online = false;
  race_session.local_slot = NO_LOCAL_SLOT;
  race_session.length = {};
  race_session.results_final = false;
  for (BikeSlot& s : program.slots) s = {};
  program.tick = 0;
  settings.demo_backups = 0;
  clear_histories();
}

class DemoFiles : public ::testing::Test {
 protected:
  TempDir root;
  ScopedEnv env_xdg{"XDG_DATA_HOME", (root.path + "/xdg").c_str()};
  ScopedEnv env_rt{"RT_HOME", (root.path + "/data").c_str()};
  std::vector<Bike*> fake_bikes;

  void SetUp() override {
    file_list_free();
    reset_globals();
  }
  void TearDown() override {
    reset_globals();
    for (Bike* b : fake_bikes) mem_free(b);
    file_list_free();
  }
  std::string home(const std::string& rel) const { return root.path + "/xdg/Rutmoto/" + rel; }
  // A bike record with only the fields a header needs (no bodies).
  Bike* fake_bike(const char* model, const char* number) {
    Bike* b = (Bike*)mem_alloc_zeroed(1, sizeof(Bike));
    b->info.name = model;
    snprintf(b->number_text, sizeof b->number_text, "%s", number);
    fake_bikes.push_back(b);
    return b;
  }
  std::string write_demo(const std::string& rel, const std::string& bytes) {
    std::string path = home(rel);
    make_parent_dirs(path.c_str(), false);
    write_file(path, bytes);
    return path;
  }
};

bool read_header_text(const std::string& text, DemoHeader* h) {
  DataFile* f = data_open_memory(text.data(), text.size(), false, false);
  bool ok = demo_header_read(f, h);
  data_close(f);
  return ok;
}

// ---------------------------------------------------------------- header

TEST_F(DemoFiles, HeaderRoundTripVersion6) {
  DemoHeader out = {};
  out.version = 6;
  out.bike_count = 3;
  out.time_limit = 38400;
  out.extra_laps = 2;
  out.start_tick = 1850;
  out.track = "rabbithill";
  out.bikes[0] = {"kx125",
                  "@rider_body-alt1.png",
                  "@kx125-alt1.png",
                  "@wheels-alt1.png",
                  "@rider_head-alt2.png",
                  "20",
                  "Roborider"};
  out.bikes[1] = {"crf250(2008)", nullptr, nullptr, nullptr, nullptr, "7", "Anna Lee"};
  out.bikes[2] = {"yz125", nullptr, "@yz.png", nullptr, "@helmet.png", "99", ""};
  std::string path = root.file("h.rtdemo");
  DataFile* w = data_open_path(path.c_str(), "wb");
  ASSERT_TRUE(w);
  ASSERT_TRUE(demo_header_write(w, &out));
  data_close(w);
  std::string text = read_file(path);
  EXPECT_EQ(text.substr(0, 26), "RT06 3 38400 2 1850\nrabbit");
  EXPECT_NE(text.find("\ncrf250(2008)||||\n7\nAnna Lee\n\n"), std::string::npos);
  EXPECT_NE(text.find("\nyz125||@yz.png||@helmet.png\n99\n\n\n"), std::string::npos);

  DemoHeader in;
  ASSERT_TRUE(read_header_text(text, &in));
  EXPECT_EQ(in.version, 6);
  EXPECT_EQ(in.bike_count, 3);
  EXPECT_EQ(in.time_limit, 38400);
  EXPECT_EQ(in.extra_laps, 2);
  EXPECT_EQ(in.start_tick, 1850);
  EXPECT_STREQ(in.track, "rabbithill");
  EXPECT_EQ(in.data_start, (int64_t)text.size());
  auto str = [](const char* s) { return std::string(s ? s : "<none>"); };
  for (int i = 0; i < 3; i++) {
    SCOPED_TRACE(i);
    const DemoBikeInfo& a = out.bikes[i];
    const DemoBikeInfo& b = in.bikes[i];
    EXPECT_EQ(str(b.model), str(a.model));
    EXPECT_EQ(str(b.rider_texture), str(a.rider_texture));
    EXPECT_EQ(str(b.bike_texture), str(a.bike_texture));
    EXPECT_EQ(str(b.wheel_texture), str(a.wheel_texture));
    EXPECT_EQ(str(b.helmet_texture), str(a.helmet_texture));
    EXPECT_EQ(str(b.number), str(a.number));
    EXPECT_EQ(str(b.name), str(a.name));
  }
  demo_header_free(&in);
}

TEST_F(DemoFiles, HeaderFirstLineAndTrackRules) {
  struct Case {
    const char* text;
    bool ok;
    int version = 0, bikes = 0, limit = 0, extra = 0, start = 0;
  } cases[] = {
      {"RT05 2 0\nflat\nkx125|a|b|c|d\n7\nyz125||||\n8\n", true, 5, 2, 0, 0, 1792},
      {"RT06 1 100 3\nflat\nkx125||||\n7\nAnna\n\n", true, 6, 1, 100, 3, 1792},
      {"RT04 0 0 0 900\nflat\n", true, 4, 0, 0, 0, 900},
      {"RT06 0 0 0 0\nflat\n", true, 6, 0, 0, 0, 0},
      {"RT06 1\nflat\nkx125||||\n7\nA\n\n", false},
      {"RT07 0 0\nflat\n", false},
      {"RT03 0 0\nflat\n", false},
      {"XT06 0 0\nflat\n", false},
      {"RT06 -1 0\nflat\n", false},
      {"RT06 161 0\nflat\n", false},
      {"RT06 0 0\n\n", false},
      {"RT06 0 0\n../../etc\n", false},
      {"RT06 2 0\nflat\nkx125||||\n7\nA\n\n", false},  // second rider missing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    DemoHeader h;
    ASSERT_EQ(read_header_text(c.text, &h), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(h.version, c.version);
    EXPECT_EQ(h.bike_count, c.bikes);
    EXPECT_EQ(h.time_limit, c.limit);
    EXPECT_EQ(h.extra_laps, c.extra);
    EXPECT_EQ(h.start_tick, c.start);
    EXPECT_EQ(h.data_start, (int64_t)strlen(c.text));
    demo_header_free(&h);
  }
}

TEST_F(DemoFiles, HeaderCutBeforeAnyNewlineFails) {
  const std::string texts[] = {HEADER_V6_TWO, "RT05 1 0 0 1792\nflat\nkx125||||\n7\n"};
  for (const std::string& full : texts) {
    DemoHeader h;
    ASSERT_TRUE(read_header_text(full, &h));
    demo_header_free(&h);
    for (size_t cut = 0; cut < full.size(); cut++) {
      SCOPED_TRACE(cut);
      EXPECT_FALSE(read_header_text(full.substr(0, cut), &h));
    }
  }
}

TEST_F(DemoFiles, HeaderRenamesOlderModels) {
  const char* cases[][2] = {{"crf250", "crf250(2008)"},
                            {"kx250f", "kx250f(2008)"},
                            {"rmz250", "rmz250(2008)"},
                            {"yz250f", "yz250f(2008)"},
                            {"yz250f_se(2006)", "yz250f_se(2006)"},
                            {"kx125", "kx125"},
                            {"crf250(2008)", "crf250(2008)"}};
  for (auto& c : cases) {
    SCOPED_TRACE(c[0]);
    DemoHeader h;
    ASSERT_TRUE(read_header_text(std::string("RT06 1 0\nflat\n") + c[0] + "||||\n1\nX\n\n", &h));
    EXPECT_STREQ(h.bikes[0].model, c[1]);
    demo_header_free(&h);
  }
}

TEST_F(DemoFiles, ReadHeaderGivesTheTrackForStartUp) {
  std::string path = write_demo("demos/a.rtdemo", HEADER_V6_TWO);
  const char* track_name = nullptr;
  ASSERT_TRUE(demo_read_header(path.c_str(), &track_name));
  EXPECT_STREQ(track_name, "flat");
  write_file(path, "RT06 2 0\nflat");
  EXPECT_FALSE(demo_read_header(path.c_str(), &track_name));
  EXPECT_FALSE(demo_read_header(root.file("missing.rtdemo").c_str(), &track_name));
}

// ---------------------------------------------------------------- blocks

TEST_F(DemoFiles, BlocksWalkForwardAndBackThroughTheChain) {
  std::string file = HEADER_V6_TWO;
  uint32_t chain = 0;
  add_block(file, &chain, 16, 1, states_body({{0, 4}, {0, 8}, {1, 12}}));  // 132
  add_block(file, &chain, 32, 1, states_body({{0, 20}, {1, 24}}));         // 88
  add_block(file, &chain, 33, 2, "hello there");
  add_block(file, &chain, 40, 9, std::string(300, 'x'));
  add_block(file, &chain, 48, 1, "");
  add_block(file, &chain, 64, 1, states_body({{1, 60}}));
  // The second block's field is 88 XOR 132.
  DemoHeader h;
  ASSERT_TRUE(read_header_text(file, &h));
  size_t second = (size_t)h.data_start + 9 + 132;
  EXPECT_EQ(get_le32(file, second), 88u ^ 132u);

  DemoStream s = {data_open_memory(file.data(), file.size(), false, false), 0};
  std::vector<DemoBlock> forward;
  DemoBlock b;
  const DemoBlock* prev = nullptr;
  while (demo_block_next(&s, h.data_start, prev, &b)) {
    ASSERT_TRUE(demo_stream_skip(&s, b.length));
    forward.push_back(b);
    prev = &forward.back();
  }
  ASSERT_EQ(forward.size(), 6u);
  const uint32_t lengths[] = {132, 88, 11, 300, 0, 44};
  const int32_t ticks[] = {16, 32, 33, 40, 48, 64};
  const int32_t types[] = {1, 1, 2, 9, 1, 1};
  for (int i = 0; i < 6; i++) {
    EXPECT_EQ(forward[i].length, lengths[i]);
    EXPECT_EQ(forward[i].tick, ticks[i]);
    EXPECT_EQ(forward[i].type, types[i]);
  }
  // Backwards from the last block finds the same blocks.
  b = forward.back();
  for (int i = 4; i >= 0; i--) {
    DemoBlock p;
    ASSERT_TRUE(demo_block_previous(&s, h.data_start, b, &p));
    EXPECT_EQ(p.offset, forward[i].offset);
    EXPECT_EQ(p.length, forward[i].length);
    EXPECT_EQ(p.tick, forward[i].tick);
    b = p;
  }
  DemoBlock none;
  EXPECT_FALSE(demo_block_previous(&s, h.data_start, b, &none));
  // The records of the first block.
  ASSERT_TRUE(demo_block_next(&s, h.data_start, nullptr, &b));
  DemoRecord r;
  ASSERT_TRUE(demo_record_read(&s, &r));
  EXPECT_EQ(r.bike, 0);
  EXPECT_EQ(r.tick, 4);
  EXPECT_EQ(std::string((char*)r.state, 39), state_bytes(0, 4));
  data_close(s.file);
  demo_header_free(&h);
}

TEST_F(DemoFiles, CutBlockHeaderOrBodyEndsTheWalk) {
  std::string file = HEADER_V6_TWO;
  uint32_t chain = 0;
  add_block(file, &chain, 16, 1, states_body({{0, 4}}));
  size_t whole = file.size();
  add_block(file, &chain, 32, 1, states_body({{0, 20}, {1, 24}}));
  DemoHeader h;
  ASSERT_TRUE(read_header_text(file, &h));
  for (size_t cut : {whole + 4, whole + 9 + 50}) {
    SCOPED_TRACE(cut);
    std::string part = file.substr(0, cut);
    DemoStream s = {data_open_memory(part.data(), part.size(), false, false), 0};
    DemoBlock first, second;
    ASSERT_TRUE(demo_block_next(&s, h.data_start, nullptr, &first));
    ASSERT_TRUE(demo_stream_skip(&s, first.length));
    bool header = demo_block_next(&s, h.data_start, &first, &second);
    EXPECT_EQ(header, cut > whole + 9);
    if (header) {
      EXPECT_FALSE(demo_stream_skip(&s, second.length));
    }
    data_close(s.file);
  }
  demo_header_free(&h);
}

// ---------------------------------------------------------------- recorder

TEST_F(DemoFiles, RecorderWritesUnwrittenHistoryInChainedBlocks) {
  // Connected as a watcher: the replayed riders are recorded, the network
  // fills their histories.
  physics_state.online = true;
  race_session.local_slot = NO_LOCAL_SLOT;
  race_session.length.start_tick = 1700;
  track.name = "flat";
  program.slots[3] = {fake_bike("kx125", "7"), REPLAYED, nullptr};
  program.slots[7] = {fake_bike("yz125", "12"), REPLAYED, nullptr};
  ASSERT_TRUE(demo_record_start());
  for (int t : {4, 8, 12}) put_history(3, t, (uint8_t)t);
  program.tick = 15;
  demo_record_tick(false);  // not a block tick
  program.tick = 16;
  demo_record_tick(false);
  EXPECT_EQ(race_session.history[3].count, 0);
  for (int t : {20, 24}) put_history(7, t, (uint8_t)t);
  program.tick = 32;
  demo_record_tick(false);
  program.tick = 33;
  demo_message(std::string(10, 'm').c_str());
  program.tick = 48;
  demo_record_tick(false);  // nothing unwritten: no block
  demo_record_stop();
  track.name = nullptr;

  std::string file = read_file(home("demos/default.rtdemo"));
  DemoHeader h;
  ASSERT_TRUE(read_header_text(file, &h));
  EXPECT_EQ(h.bike_count, 2);
  EXPECT_EQ(h.start_tick, 1700);
  EXPECT_STREQ(h.bikes[1].model, "yz125");
  EXPECT_STREQ(h.bikes[1].number, "12");
  size_t at = (size_t)h.data_start;
  EXPECT_EQ(get_le32(file, at), 132u);
  EXPECT_EQ(get_le32(file, at + 4), 16u);
  EXPECT_EQ(file[at + 8], 1);
  EXPECT_EQ((uint8_t)file[at + 9], 0);  // bike number 0 = slot 3
  EXPECT_EQ(get_le32(file, at + 10), 4u);
  EXPECT_EQ((uint8_t)file[at + 14], 4);
  EXPECT_EQ(get_le32(file, at + 9 + 88 + 1), 12u);  // oldest first
  at += 9 + 132;
  EXPECT_EQ(get_le32(file, at), 88u ^ 132u);
  EXPECT_EQ(get_le32(file, at + 4), 32u);
  EXPECT_EQ((uint8_t)file[at + 9], 1);
  at += 9 + 88;
  EXPECT_EQ(get_le32(file, at), 10u ^ 88u);
  EXPECT_EQ(file[at + 8], 2);
  EXPECT_EQ(file.substr(at + 9), std::string(10, 'm'));
  demo_header_free(&h);
}

TEST_F(DemoFiles, RecordedSlotsFollowTheConnection) {
  track.name = "flat";
  program.slots[0] = {fake_bike("kx125", "1"), LOCAL_RIDER, nullptr};
  program.slots[1] = {fake_bike("yz125", "2"), REPLAYED, nullptr};
  program.slots[2] = {fake_bike("rm125", "3"), ROBOT, nullptr};
  struct Case {
    bool online;
    int32_t local;
    std::vector<std::string> numbers;
  } cases[] = {
      {false, 0, {"1", "3"}}, {true, 0, {"1", "2", "3"}}, {true, NO_LOCAL_SLOT, {"2", "3"}}};
  for (const Case& c : cases) {
    physics_state.online = c.online;
    race_session.local_slot = c.local;
    ASSERT_TRUE(demo_record_start());
    demo_record_stop();
    DemoHeader h;
    ASSERT_TRUE(read_header_text(read_file(home("demos/default.rtdemo")), &h));
    ASSERT_EQ(h.bike_count, (int)c.numbers.size());
    for (size_t i = 0; i < c.numbers.size(); i++) EXPECT_EQ(h.bikes[i].number, c.numbers[i]);
    if (!c.online) {
      EXPECT_STREQ(h.bikes[1].name, "Roborider");
    }
    demo_header_free(&h);
  }
  track.name = nullptr;
}

TEST_F(DemoFiles, BackupsKeepTheNewestSessions) {
  settings.demo_backups = 3;
  for (int k = 1; k <= 4; k++) {
    ASSERT_TRUE(demo_record_start());
    demo_message(("session " + std::to_string(k)).c_str());
    demo_record_stop();
  }
  auto last_message = [&](const std::string& rel) {
    std::string f = read_file(home("demos/" + rel));
    return f.substr(f.size() - 9);
  };
  EXPECT_EQ(last_message("default.rtdemo"), "session 4");
  EXPECT_EQ(last_message("default00.rtdemo"), "session 3");
  EXPECT_EQ(last_message("default01.rtdemo"), "session 2");
  EXPECT_EQ(last_message("default02.rtdemo"), "session 1");
  EXPECT_FALSE(file_exists(home("demos/default03.rtdemo")));

  settings.demo_backups = 0;  // no rotation: the default is overwritten
  ASSERT_TRUE(demo_record_start());
  demo_record_stop();
  EXPECT_EQ(last_message("default00.rtdemo"), "session 3");
}

TEST_F(DemoFiles, NameDemoRepliesAndRename) {
  EXPECT_STREQ(demo_name_command("mine"), "Not currently recording a demo");
  ASSERT_TRUE(demo_record_start());
  struct Case {
    std::string argument;
    const char* reply;
    const char* pending;
  } cases[] = {
      {"  mine  extra", "Demo name updated", "mine.rtdemo"},
      {"kept.rtdemo", "Demo name updated", "kept.rtdemo"},
      {"a.rtdem", "Demo name updated", "a.rtdem.rtdemo"},
      {std::string(1016, 'n'), "Demo name updated", nullptr},
      {std::string(1017, 'n'), "Name too long", nullptr},
      {"../config", "Invalid demo name", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argument.substr(0, 20));
    demo_recorder.pending_name[0] = 0;
    EXPECT_STREQ(demo_name_command(c.argument.c_str()), c.reply);
    if (c.pending) {
      EXPECT_STREQ(demo_recorder.pending_name, c.pending);
    }
    if (!strcmp(c.reply, "Name too long") || !strcmp(c.reply, "Invalid demo name")) {
      EXPECT_STREQ(demo_recorder.pending_name, "");
    }
  }
  EXPECT_EQ(demo_name_command("   "), nullptr);
  EXPECT_STREQ(demo_name_command("race1"), "Demo name updated");
  demo_message("named");
  demo_record_stop();
  EXPECT_FALSE(file_exists(home("demos/default.rtdemo")));
  EXPECT_TRUE(file_exists(home("demos/race1.rtdemo")));
  EXPECT_STREQ(demo_recorder.pending_name, "");

  run_options.practice = true;
  track.name = "flat";
  ASSERT_TRUE(demo_record_start());
  EXPECT_TRUE(file_exists(home("flat/lastlap.rtdemo")));
  EXPECT_STREQ(demo_name_command("x"), "Not currently recording a demo");
  demo_record_stop();
  track.name = nullptr;
}

// ---------------------------------------------------------------- playback

TEST_F(DemoFiles, PlayerFeedsVersion6BlocksAheadOfTheTick) {
  std::string file = HEADER_V6_TWO;
  uint32_t chain = 0;
  for (int t = 1000; t <= 1400; t += 16)
    add_block(file, &chain, t, 1, states_body({{0, t - 12}, {1, t - 8}, {0, t - 4}, {1, t}}));
  add_block(file, &chain, 1410, 2, "over");
  std::string path = write_demo("demos/p.rtdemo", file);
  ASSERT_TRUE(demo_play_start(path.c_str()));
  EXPECT_EQ(race_session.length.start_tick, 1800);
  EXPECT_EQ(race_session.demo_version, 6);
  demo_play_tick();
  // The first block sets the clock; reading stops past current + 64.
  EXPECT_EQ(program.tick, 1000);
  EXPECT_EQ(demo_player.block_tick, 1080);
  ASSERT_NE(entry_at(0, 988), nullptr);
  EXPECT_EQ(std::string((char*)entry_at(0, 988)->state.bytes, 39), state_bytes(0, 988));
  ASSERT_NE(entry_at(1, 1080), nullptr);
  EXPECT_EQ(entry_at(1, 1096), nullptr);
  program.tick = 1030;
  demo_play_tick();
  EXPECT_EQ(demo_player.block_tick, 1096);
  EXPECT_NE(entry_at(1, 1096), nullptr);
}

TEST_F(DemoFiles, PracticeGhostStartsNow) {
  run_options.practice = true;
  track.name = "flat";
  std::string file = HEADER_V6_TWO;
  uint32_t chain = 0;
  add_block(file, &chain, 5000, 1, states_body({{0, 4996}, {1, 5000}}));
  write_demo("flat/fastlap.rtdemo", file);
  ASSERT_TRUE(demo_play_start(nullptr));
  EXPECT_EQ(demo_player.slots[0], 1);
  EXPECT_EQ(demo_player.slots[1], 2);
  EXPECT_EQ(race_session.length.start_tick, 0);  // the session keeps its own
  program.tick = 300;
  demo_play_tick();
  EXPECT_EQ(program.tick, 300);
  EXPECT_NE(entry_at(1, 296), nullptr);
  EXPECT_NE(entry_at(2, 300), nullptr);
  track.name = nullptr;
}

TEST_F(DemoFiles, TruncatedBlockEndsReading) {
  std::string file = HEADER_V6_TWO;
  uint32_t chain = 0;
  add_block(file, &chain, 16, 1, states_body({{0, 16}}));
  add_block(file, &chain, 32, 1, states_body({{0, 32}}));
  add_block(file, &chain, 48, 1, states_body({{0, 36}, {0, 48}}));
  file.resize(file.size() - 30);  // the last record is cut
  std::string path = write_demo("demos/t.rtdemo", file);
  ASSERT_TRUE(demo_play_start(path.c_str()));
  demo_play_tick();
  demo_play_tick();
  EXPECT_NE(entry_at(0, 32), nullptr);
  EXPECT_EQ(entry_at(0, 48), nullptr);
  EXPECT_EQ(demo_player.block.tick, 32);
}

TEST_F(DemoFiles, OlderVersionsFeedOneSnapshotPerBikePerTick) {
  for (int version : {4, 5}) {
    SCOPED_TRACE(version);
    clear_histories();
    program.tick = 0;
    int size = version == 4 ? 26 : 39;
    std::string file = "RT0" + std::to_string(version) + " 2 0\nflat\nkx125||||\n7\nyz125||||\n8\n";
    for (int t = 0; t < 40; t++)
      for (int b = 0; b < 2; b++) file += state_bytes(b, t, size);
    std::string path = write_demo("demos/old.rtdemo", file);
    ASSERT_TRUE(demo_play_start(path.c_str()));
    EXPECT_EQ(race_session.demo_version, version);
    demo_play_tick();
    for (int t = 0; t <= 8; t++)
      for (int b = 0; b < 2; b++) {
        const HistoryEntry* e = entry_at(b, t);
        ASSERT_NE(e, nullptr) << t;
        EXPECT_EQ(std::string((char*)e->state.bytes, size), state_bytes(b, t, size));
        if (version == 4) {
          EXPECT_EQ(e->state.bytes[30], 0);
        }
      }
    EXPECT_EQ(entry_at(0, 9), nullptr);
    // Seeking forward jumps in the file: snapshots of the target tick on.
    program.tick = 5;
    demo_seek(0.1);               // + 12 ticks, target 16
    EXPECT_EQ(program.tick, 17);  // the seek ends with one simulation tick
    EXPECT_EQ(demo_player.read_tick, program.tick + 9);
    EXPECT_EQ(entry_at(0, 15), nullptr);
    const HistoryEntry* e = entry_at(1, 16);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(std::string((char*)e->state.bytes, size), state_bytes(1, 16, size));
    demo_play_stop();
  }
}

// Seeking moves real bikes: a physics world with bikes in the slots.
class DemoSeek : public BikeWorld {
 protected:
  void SetUp() override {
    BikeWorld::SetUp();
    reset_globals();
  }
  void TearDown() override {
    reset_globals();
    BikeWorld::TearDown();
  }
};

TEST_F(DemoSeek, BackRestoresLapCountsAndRereadsBlocks) {
  std::string file = "RT06 1 0 0 100\nflat\nkx125||||\n7\nA\n\n";
  uint32_t chain = 0;
  for (int t = 16; t <= 2000; t += 16) add_block(file, &chain, t, 1, states_body({{0, t}}));
  std::string path = root.path + "/xdg/s.rtdemo";
  write_file(path, file);
  ASSERT_TRUE(demo_play_start(path.c_str()));
  Bike* bike = add_bike();
  program.slots[0] = {bike, REPLAYED, nullptr};
  for (int q = 0; q < 6; q++) bike_timing_credit(&bike->timing, q, 100 * (q + 1));
  bike->timing.finished = true;
  race_session.results_final = true;
  demo_play_tick();  // the first block sets the clock
  EXPECT_EQ(program.tick, 16);
  program.tick = 450;
  demo_play_tick();

  // A local rider or an open recording blocks seeking.
  program.slots[0].kind = LOCAL_RIDER;
  demo_seek(-1.0);
  EXPECT_EQ(program.tick, 450);
  program.slots[0].kind = REPLAYED;

  demo_seek(-1.0);  // target 450 - 128 - 1 = 321
  EXPECT_EQ(bike->timing.gate_position, 3);
  EXPECT_EQ(bike->timing.gate_ticks.count, 3);
  EXPECT_FALSE(bike->timing.finished);
  EXPECT_FALSE(race_session.results_final);
  // Read again from the block after the last one not later than 321 - 64.
  EXPECT_EQ(entry_at(0, 256), nullptr);
  EXPECT_NE(entry_at(0, 272), nullptr);
  EXPECT_NE(entry_at(0, 320), nullptr);
  EXPECT_GT(demo_player.block_tick, 322 + 64 - 16);
  EXPECT_EQ(program.tick, 322);

  // Forward in version 6 runs the ticks, without roost meanwhile.
  derived.roost_rate = 500;
  demo_seek(0.25);
  EXPECT_EQ(program.tick, 322 + 32);
  EXPECT_EQ(derived.roost_rate, 500);
}

// ---------------------------------------------------------------- practice laps

int ghosts_created = 0;
int ghosts_removed = 0;

TEST_F(DemoSeek, PracticeLapsKeepTheFastestAsGhost) {
  run_options.practice = true;
  track.name = "flat";
  TimingData& tm = track.timing;
  timing_init(&tm);
  tm.first_lap_count = 4;
  tm.normal_lap_count = 3;
  Bike* bike = add_bike();
  program.slots[0] = {bike, LOCAL_RIDER, nullptr};
  race_session.length.start_tick = 200;
  ghosts_created = ghosts_removed = 0;
  demo_hooks.create_ghosts = [] { ghosts_created++; };
  demo_hooks.remove_ghosts = [] { ghosts_removed++; };
  ASSERT_TRUE(demo_record_start());
  program.tick = 16;
  demo_record_tick(false);

  // Lap 1 from the grid: the first lap becomes the ghost.
  for (int q = 0; q < 4; q++) bike_timing_credit(&bike->timing, q, 300 + 200 * q);  // end 900
  program.tick = 900;
  EXPECT_EQ(demo_practice_lap_done(), 700);
  std::string fast = root.path + "/xdg/Rutmoto/flat/fastlap.rtdemo";
  ASSERT_TRUE(file_exists(fast));
  EXPECT_EQ(demo_player.best_lap_ticks, 700);
  EXPECT_EQ(bike->timing.gate_position, 3);
  EXPECT_TRUE(demo_player.stream.file != nullptr);
  EXPECT_TRUE(demo_recorder.file != nullptr);
  EXPECT_EQ(ghosts_created, 1);

  // Crossing the finish again right after is the start of the next lap.
  bike_timing_credit(&bike->timing, 3, 901);
  EXPECT_EQ(demo_practice_lap_done(), 0);
  EXPECT_EQ(ghosts_created, 1);

  // A slower lap while the ghost is ahead: timed, not kept.
  Bike* ghost = add_bike(nullptr, 100, 100);
  program.slots[1] = {ghost, REPLAYED, nullptr};
  ghost->timing.gate_position = 7;
  std::string before = read_file(fast);
  program.tick = 1700;
  demo_record_tick(true);
  demo_message("lap 2");
  for (int q = 4; q < 7; q++) bike_timing_credit(&bike->timing, q, 901 + 300 * (q - 3));
  EXPECT_EQ(demo_practice_lap_done(), 900);
  EXPECT_EQ(demo_player.best_lap_ticks, 700);
  EXPECT_EQ(read_file(fast), before);
  EXPECT_EQ(ghosts_removed, 2);

  // A lap with more gates than the ghost is copied.
  program.slots[1] = {ghost, REPLAYED, nullptr};
  ghost->timing.gate_position = 5;
  bike_timing_credit(&bike->timing, 3, 1800);
  demo_message("lap 3");
  for (int q = 4; q < 7; q++) bike_timing_credit(&bike->timing, q, 1800 + 150 * (q - 3));
  program.tick = 2300;
  demo_record_tick(true);
  EXPECT_EQ(demo_practice_lap_done(), 450);
  EXPECT_EQ(demo_player.best_lap_ticks, 450);
  EXPECT_NE(read_file(fast), before);
  EXPECT_NE(read_file(fast).find("lap 3"), std::string::npos);
  program.slots[1] = {};
  track.name = nullptr;
  timing_init(&tm);
}

}  // namespace
