// Physics benchmark (not a test): simulated ticks per wall-clock second for
// 1, 10, 40 and 160 bikes riding on rabbithill with control streams, and, in
// the same run and on the same bodies and joints, the cost of the bare world
// step without the program's collision and controllers.
//
// Columns: whole ticks per second; microseconds per tick and, of these, in
// collision, in the world step (with the tick's contact joints) and in the
// bikes' post-step work; the bare step; the whole tick over the step with
// contacts and over the bare step.
//
// Usage: bench_physics [--ticks N] [--counts 1,10,40,160]
// Game data comes from RT_HOME or the executable's folder.
#include <time.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/config.h"
#include "core/files.h"
#include "physics/bike.h"
#include "physics/catalogue.h"
#include "physics/shape.h"
#include "physics/step.h"
#include "physics/world.h"
#include "tools/ride.h"
#include "track/track.h"

namespace {

double now_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Half throttle with a slow weave, different for each bike.
void weave(const Bike*, int32_t tick, void* user, float out[CONTROL_SLOT_COUNT]) {
  intptr_t index = (intptr_t)user;
  out[THROTTLE] = 0.5f;
  out[STEER] = 0.3f * (float)sin(tick * 0.01 + index * 0.7);
}

struct Result {
  double tick_seconds;          // per whole tick (controls and physics)
  double collide_seconds;       // of which collision
  double world_step_seconds;    // of which the world step (with the tick's contacts)
  double update_seconds;        // of which the bikes' post-step work
  double bare_step_seconds;     // bare world step: no contacts, no forces of ours
};

Result measure(int32_t bikes, int32_t ticks) {
  Ride ride;
  ride_init(&ride);
  // Rows of 20 behind the start gates, 4 ft apart, rows 12 ft apart, all
  // facing +x like the gates.
  for (int32_t i = 0; i < bikes; i++) {
    double x = 157 - 12.0 * (i / 20);
    double z = 852 + 4.0 * (i % 20);
    ride_add_bike(&ride, bike_catalogue[i % BIKE_CATALOGUE_COUNT].name, x, z, -M_PI / 2, weave,
                  (void*)(intptr_t)i);
  }
  for (int32_t t = 0; t < 128; t++) ride_step(&ride);  // settle and get going
  PhysicsProfile profile{};
  physics_profile = &profile;
  double t0 = now_seconds();
  for (int32_t t = 0; t < ticks; t++) ride_step(&ride);
  double t1 = now_seconds();
  physics_profile = nullptr;
  // The same bodies and permanent joints, stepped bare: no contacts, no
  // forces of our own.
  int32_t bare = ticks;
  double t2 = now_seconds();
  for (int32_t t = 0; t < bare; t++) dWorldStep(physics_world, TICK_SECONDS);
  double t3 = now_seconds();
  ride_free(&ride);
  return Result{(t1 - t0) / ticks, profile.collide_seconds / ticks, profile.step_seconds / ticks,
                profile.update_seconds / ticks, (t3 - t2) / bare};
}

}  // namespace

int main(int argc, char** argv) {
  int32_t ticks = 1024;
  int32_t counts[8] = {1, 10, 40, 160};
  int32_t count_n = 4;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--ticks")) {
      ticks = atoi(argv[i + 1]);
    } else if (!strcmp(argv[i], "--counts")) {
      count_n = 0;
      for (char* p = argv[i + 1]; *p && count_n < 8;) {
        counts[count_n++] = (int32_t)strtol(p, &p, 10);
        if (*p == ',') p++;
      }
    }
  }
  if (ticks < 1) ticks = 1;
  settings_init_defaults();
  if (!physics_world_create()) return 1;
  if (!ride_load_track("rabbithill")) {
    fprintf(stderr, "bench_physics: can't load rabbithill\n");
    return 1;
  }
  printf("%5s %10s %9s %9s %9s %9s %9s %11s %11s\n", "bikes", "ticks/s", "us/tick", "collide",
         "step", "update", "bare", "tick/step", "tick/bare");
  for (int32_t k = 0; k < count_n; k++) {
    int32_t n = counts[k];
    if (n < 1 || n > MAX_BIKES) continue;
    Result r = measure(n, ticks);
    printf("%5d %10.1f %9.1f %9.1f %9.1f %9.1f %9.1f %11.2f %11.2f\n", n, 1.0 / r.tick_seconds,
           r.tick_seconds * 1e6, r.collide_seconds * 1e6, r.world_step_seconds * 1e6,
           r.update_seconds * 1e6, r.bare_step_seconds * 1e6,
           r.tick_seconds / r.world_step_seconds, r.tick_seconds / r.bare_step_seconds);
    fflush(stdout);
  }
  ride_unload_track();
  physics_world_destroy();
  shape_cache_free();
  file_list_free();
  return 0;
}
