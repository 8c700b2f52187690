// One simulation tick: replayed bikes posed, the physics tick, race
// bookkeeping, the starting gates, the tick counter, and the demo streams.
#include <cstring>

#include "core/main_loop.h"
#include "core/program.h"
#include "core/subsystems.h"
#include "physics/bike.h"
#include "physics/step.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/results.h"
#include "track/timing.h"
#include "track/track.h"

namespace {

// Positions and the race length are checked every 512 ticks.
constexpr int32_t POSITION_PERIOD = 512;

const BikeTiming* leader_timing() {
  if (race_session.position_count <= 0) return nullptr;
  const Bike* leader = program.slots[race_session.positions[0].slot].bike;
  return leader ? &leader->timing : nullptr;
}

// Gate crossings, laps and the finish of every bike this program simulates.
void race_bookkeeping() {
  if (!track.timing.active) return;
  bool results_due = false;
  for (int32_t s = 0; s < MAX_BIKES; s++) {
    Bike* bike = program.slots[s].bike;
    if (!bike || program.slots[s].kind == REPLAYED) continue;
    const dReal* p = dBodyGetPosition(bike->body[FRONT_WHEEL]);
    int32_t progress =
        bike_gate_progress(&track.timing, &bike->timing, (float)p[0], (float)p[2], program.tick,
                           leader_timing(), race_session.length.race_laps);
    if (progress & GATE_FINISHED) results_due = true;
    if (progress & GATE_LAP_DONE) {
      results_due = true;
      // Practice: the lap just ridden may become the new ghost.
      if (run_options.practice && s == 0 && program.slots[0].kind == LOCAL_RIDER)
        demo_practice_lap_done();
    }
  }
  if (results_due) results_update();
  if (program.tick % POSITION_PERIOD == 0) {
    positions_update();
    const BikeTiming* bikes[MAX_BIKES];
    int32_t n = 0;
    for (int32_t i = 0; i < race_session.position_count; i++) {
      const Bike* bike = program.slots[race_session.positions[i].slot].bike;
      if (bike) bikes[n++] = &bike->timing;
    }
    race_length_update(&race_session.length, &track.timing, bikes, n, program.tick);
  }
}

}  // namespace

void physics_state_sync() {
  physics_state.tick = program.tick;
  physics_state.race_start_tick = race_session.length.start_tick;
  physics_state.timing = &track.timing;
  physics_state.leader = leader_timing();
  physics_state.race_laps = race_session.length.race_laps;
  physics_state.clock = program.clock;
  physics_state.online = net_connected();
  physics_state.erosion = run_options.erode;
}

void simulate_tick() {
  physics_state_sync();
  // 1. Replayed bikes follow their histories.
  for (int32_t s = 0; s < MAX_BIKES; s++)
    if (program.slots[s].bike && program.slots[s].kind == REPLAYED) history_apply(s, program.tick);
  // 2-6. Collisions, the world step, every bike's post-step.
  physics_tick(program.slots, MAX_BIKES);
  // 7.
  race_bookkeeping();
  // 8.
  starting_gates_update(&track.timing, &track.objects, program.tick,
                        race_session.length.start_tick);
  // 9.
  program.tick++;
  // 10.
  demo_record_tick(false);
  if (race_session.playing_demo) demo_play_tick();
}
