// Demo benchmark (not a test): records a race of N robots on rabbithill for a
// number of seconds, reports the demo's size per bike per minute of racing,
// then plays it back and reports the playback cost per bike per tick.
//
// Usage: bench_demo [--bikes N] [--seconds S]
// Game data comes from RT_HOME or the executable's folder; the demo is
// written to a temporary home directory.
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/config.h"
#include "core/files.h"
#include "core/main_loop.h"
#include "core/program.h"
#include "core/session.h"
#include "core/subsystems.h"
#include "physics/shape.h"
#include "physics/world.h"
#include "race/demo.h"
#include "race/race.h"
#include "track/track.h"

namespace {

double now_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  int32_t bikes = 20;
  double seconds = 60;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--bikes")) bikes = atoi(argv[i + 1]);
    if (!strcmp(argv[i], "--seconds")) seconds = atof(argv[i + 1]);
  }
  if (bikes < 1 || bikes > MAX_BIKES) bikes = 20;
  char home[] = "/tmp/rt_bench_demo_XXXXXX";
  if (!mkdtemp(home)) return 1;
  setenv("XDG_DATA_HOME", home, 1);
  setenv("VOLG_LOGFILE", "", 1);
  settings_init_defaults();
  program_init(program);
  if (!physics_world_create()) return 1;

  // Record a race of robots. A snapshot of every bike goes into the demo
  // every 4 ticks whether it moves or not, so the size does not depend on
  // how the robots ride.
  std::array<int32_t, MAX_BIKES> lineup{};
  for (int32_t s = 0; s < bikes; s++) lineup[s] = LINEUP_ROBOT;
  if (!session_start("rabbithill", lineup.data(), false, true, 0, 5, 0)) {
    fprintf(stderr, "bench_demo: can't start a session on rabbithill\n");
    return 1;
  }
  int32_t ticks = (int32_t)(seconds * TICKS_PER_SECOND);
  int32_t first = program.tick;
  for (int32_t t = 0; t < ticks; t++) simulate_tick();
  int32_t recorded_ticks = program.tick - first;
  demo_streams_reset();
  std::string path = std::string(home) + "/Rutmoto/demos/default.rtdemo";
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    fprintf(stderr, "bench_demo: no demo written\n");
    return 1;
  }
  double minutes = recorded_ticks * TICK_SECONDS / 60.0;
  printf("recorded %d bikes for %.1f s: %lld bytes, %.1f KiB per bike per minute\n", bikes,
         recorded_ticks * TICK_SECONDS, (long long)st.st_size,
         st.st_size / 1024.0 / bikes / minutes);

  // Play back: every bike is posed from its history each tick.
  session_options.demo_path = "@demos/default.rtdemo";
  std::array<int32_t, MAX_BIKES> none{};
  if (!session_start("rabbithill", none.data(), true, false, 0, 1000, 0)) return 1;
  int32_t played = 0;
  double t0 = now_seconds();
  for (int32_t t = 0; t < recorded_ticks - 64; t++, played++) simulate_tick();
  double t1 = now_seconds();
  int32_t replayed = 0;
  for (int32_t s = 0; s < MAX_BIKES; s++)
    if (program.slots[s].bike && program.slots[s].kind == REPLAYED) replayed++;
  printf("played %d bikes for %d ticks: %.2f us per tick, %.2f us per bike per tick\n", replayed,
         played, (t1 - t0) / played * 1e6, (t1 - t0) / played / (replayed ? replayed : 1) * 1e6);
  session_free();
  physics_world_destroy();
  shape_cache_free();
  file_list_free();
  std::string cleanup = std::string("rm -rf '") + home + "'";
  return system(cleanup.c_str()) == 0 ? 0 : 0;
}
