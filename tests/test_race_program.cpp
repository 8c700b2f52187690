// Whole races with the real program: a scripted ride recorded as a demo and
// played back snapshot for snapshot, a short race writing "results.txt", and
// a points-series moto updating its standings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <array>
#include <map>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/files.h"
#include "core/main_loop.h"
#include "core/program.h"
#include "core/session.h"
#include "core/startup.h"
#include "core/subsystems.h"
#include "physics/bike.h"
#include "physics/rider_control.h"
#include "physics/shape.h"
#include "physics/world.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/series.h"
#include "tests/test_helpers.h"
#include "track/track.h"

namespace {

const std::string program_path = std::string(RT_BINARY_DIR) + "/rutmoto";

// A home directory with a configuration and an input script, and the
// generated game data.
struct RaceHome {
  TempDir home;
  std::string dir = home.path + "/Rutmoto/";
  RaceHome(const std::string& config, const std::string& script) {
    write_file(dir + "config", config);
    write_file(home.path + "/input.txt", script);
  }
  CommandResult run(const std::string& args) const {
    return run_command("RT_HOME='" RT_BINARY_DIR "' XDG_DATA_HOME='" + home.path +
                       "' VOLG_LOGFILE= " + program_path + " --headless --input-script '" +
                       home.path + "/input.txt' " + args);
  }
};

// The recorded snapshots of bike 0 by tick.
std::map<int32_t, BikeState> recorded_states(const std::string& path) {
  std::map<int32_t, BikeState> out;
  DataFile* file = data_open_path(path.c_str(), "rb");
  if (!file) return out;
  DemoHeader header;
  if (demo_header_read(file, &header)) {
    DemoStream stream{file, header.data_start};
    DemoBlock block, next;
    bool have = false;
    while (demo_block_next(&stream, header.data_start, have ? &block : nullptr, &next)) {
      block = next;
      have = true;
      if (block.type != DEMO_BLOCK_STATES) continue;
      for (uint32_t k = 0; k < block.length / DEMO_RECORD_BYTES; k++) {
        DemoRecord record;
        if (!demo_record_read(&stream, &record)) break;
        if (record.bike != 0) continue;
        BikeState s;
        memcpy(s.bytes, record.state, sizeof s.bytes);
        out[record.tick] = s;
      }
    }
    demo_header_free(&header);
  }
  data_close(file);
  return out;
}

// Fresh program state for an in-process session over the generated data.
struct InProcess {
  ScopedEnv env_rt{"RT_HOME", RT_BINARY_DIR};
  ScopedEnv env_xdg;
  explicit InProcess(const std::string& xdg) : env_xdg("XDG_DATA_HOME", xdg.c_str()) {
    file_list_free();
    settings_init_defaults();
    program_init(program);
    physics_world_create();
  }
  ~InProcess() {
    session_free();
    track = Track{};
    physics_world_destroy();
    shape_cache_free();
    file_list_free();
  }
};

}  // namespace

TEST(RaceProgram, ScriptedRideIsRecordedAndPlaysBackSnapshotForSnapshot) {
  // Throttle after the gate drops (the start comes 13 to 15 s in), a turn, brakes.
  RaceHome h("record=Yes\nlaps=3\n",
             "15.5 press x\n18.0 press left\n18.6 release left\n20.0 release x\n"
             "20.0 press c\n21.5 release c\n");
  CommandResult r = h.run("--track practice --lineup 1 --ticks 2900");
  ASSERT_EQ(r.status, 0) << r.err;
  std::string demo = h.dir + "demos/default.rtdemo";
  ASSERT_TRUE(file_exists(demo));
  // Starting the program with the demo file plays it.
  RaceHome watch("", "");
  CommandResult w = watch.run("--ticks 300 '" + demo + "'");
  EXPECT_EQ(w.status, 0) << w.err;
  EXPECT_NE(read_file(watch.dir + "lastlog.txt").find("Playing demo of 1 riders"),
            std::string::npos);
  std::map<int32_t, BikeState> recorded = recorded_states(demo);
  ASSERT_GT(recorded.size(), 600u);  // a snapshot every 4 ticks
  // The rider moved: the first and last positions differ.
  EXPECT_NE(memcmp(recorded.begin()->second.bytes, recorded.rbegin()->second.bytes, 9), 0);

  // Playing it back poses the replayed bike from each snapshot at its tick.
  InProcess p(h.home.path);
  session_options.demo_path = "@demos/default.rtdemo";
  std::array<int32_t, MAX_BIKES> lineup{};
  ASSERT_TRUE(session_start("practice", lineup.data(), true, false, 0, 1000, 0));
  session_options.demo_path = nullptr;
  int32_t slot = demo_player.slots[0];
  ASSERT_GE(slot, 0);
  Bike* bike = program.slots[slot].bike;
  ASSERT_NE(bike, nullptr);
  EXPECT_EQ(program.slots[slot].kind, REPLAYED);
  int32_t compared = 0, last_tick = recorded.rbegin()->first;
  while (program.tick < last_tick) {
    int32_t tick = program.tick;
    simulate_tick();
    auto it = recorded.find(tick);
    if (it == recorded.end()) continue;
    BikeState played = bike_state_pack(bike);
    const uint8_t* want = it->second.bytes;
    // Positions exactly; the rest exactly except the quaternions, which the
    // dynamics library renormalises (one step at most).
    EXPECT_EQ(memcmp(played.bytes, want, 9), 0) << "tick " << tick;
    for (int32_t b = 9; b < BIKE_STATE_BYTES; b++) {
      bool quaternion = (b >= STATE_QUAT && b < STATE_QUAT + 8) ||
                        (b >= STATE_RIDER_QUAT && b < STATE_RIDER_QUAT + 8);
      if (quaternion && (b - (b < STATE_RIDER_QUAT ? STATE_QUAT : STATE_RIDER_QUAT)) % 2 == 0) {
        uint32_t got = state_read(played.bytes + b, 2), exp = state_read(want + b, 2);
        EXPECT_LE(got > exp ? got - exp : exp - got, 1u) << "tick " << tick << " byte " << b;
        b++;
      } else if (b == STATE_FLAGS) {
        // Bit 3 shows the foot-down animation, which a played bike runs
        // itself from the dab bits it sees; gear, throttle and crash exactly.
        EXPECT_EQ(played.bytes[b] & ~0x08, want[b] & ~0x08) << "tick " << tick;
      } else if (!quaternion) {
        EXPECT_EQ(played.bytes[b], want[b]) << "tick " << tick << " byte " << b;
      }
    }
    compared++;
    if (HasFailure()) break;
  }
  EXPECT_GT(compared, 500);
}

TEST(RaceProgram, RaceEndingAtTheFirstGateWritesResults) {
  // "laps" 0: the race is over once the leader passes the first gate.
  RaceHome h("laps=0\n", "15.5 press x\n24.0 release x\n");
  CommandResult r = h.run("--track practice --lineup 1 --ticks 3200");
  ASSERT_EQ(r.status, 0) << r.err;
  std::string results = read_file(h.dir + "results.txt");
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results.rfind("Time=0.00|Laps=0|Track=practice|Date=", 0), 0u) << results;
  char header[120];
  snprintf(header, sizeof header, "%4s | %12s | %4s | %10s | %4s | %10s\r\n", "No.", "Bike", "Laps",
           "Total Time", "BLap", "Best Time");
  EXPECT_NE(results.find(header), std::string::npos) << results;
  // One finished rider, the user: number, bike, no laps, a total time.
  size_t line = results.find("\r\n", results.find(header) + strlen(header) - 2) + 2;
  std::string row = results.substr(line, results.find("\r\n", line) - line);
  char number[8], model[32];
  int laps = -1, minutes = -1, seconds = -1, millis = -1;
  ASSERT_EQ(sscanf(row.c_str(), "%7s | %31s | %d | %d:%d.%d", number, model, &laps, &minutes,
                   &seconds, &millis),
            6)
      << row;
  EXPECT_EQ(laps, 0);
  EXPECT_EQ(minutes, 0);
  EXPECT_GT(seconds, 0);
  EXPECT_LT(seconds, 15);  // from the start to the first gate, 72 ft away
}

TEST(RaceProgram, SeriesMotoUpdatesTheStandings) {
  // A one-moto series on the practice track with three robots; the moto ends
  // at the first gate ("laps" 0). Robots have no driver yet, so the user
  // leaves the moto once through and the current order is saved.
  TempDir home;
  std::string points;
  for (int32_t i = 0; i < 40; i++) points += std::to_string(i < 10 ? 25 - 2 * i : 0) + " ";
  write_file(home.path + "/Rutmoto/cup.series", "\"Practice Cup\"\n3 Novice\n21 22 23\n1\n"
                                                "\"Moto 1\" practice 0 0\n" + points + "\n" +
                                                points + "\n");
  InProcess p(home.path);
  track_list_build();
  series_list_load();
  int32_t index = -1;
  for (int32_t i = 0; i < series_list.count; i++)
    if (strcmp(series_list.data[i].name, "Practice Cup") == 0) index = i;
  ASSERT_GE(index, 0);
  ASSERT_EQ(series_list.data[index].completed, 0);
  series_select(index);
  series_event_start();
  ASSERT_TRUE(program.session_loaded);
  ASSERT_EQ(race_session.length.race_laps, 0);
  int32_t user = race_session.local_slot;
  ASSERT_NE(user, NO_LOCAL_SLOT);
  EXPECT_EQ(user, 3);  // first moto: the robots in slots 0..2, the user after them
  Bike* bike = program.slots[user].bike;
  ASSERT_NE(bike, nullptr);
  // Ride from the start until the moto is over for the user.
  for (int32_t t = 0; t < 40 * 128 && !bike->timing.finished; t++) {
    float controls[CONTROL_SLOT_COUNT] = {};
    controls[THROTTLE] = program.tick > race_session.length.start_tick ? 0.7f : 0.0f;
    controls_apply(bike, controls);
    simulate_tick();
  }
  ASSERT_TRUE(bike->timing.finished) << "the user never reached the first gate";
  series_standings_save();
  std::string standings = read_file(home.path + "/Rutmoto/cup.series_standings");
  // One line: the place of every series rider, robots in file order, the
  // user last. The user finished first; the robots follow in the order of
  // the position table (no gates yet: by slot).
  EXPECT_EQ(standings, "2 3 4 1 \n");
  EXPECT_EQ(series_list.data[index].completed, 1);
  series_list_free();
  track_list_free();
}
