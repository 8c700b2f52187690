// One tick of bike physics: contacts before the world step, the step itself,
// then each bike's post-step work (crash checks, rider, suspension, steering,
// drivetrain, brakes, dab) in a fixed order. See docs/tick_order.md.
//
// PhysicsState is program-wide and per session: the session (or a test, or
// the ride harness) fills it before the first tick and advances `tick`.
#pragma once

#include <cstdint>

#include "core/program.h"

struct Bike;
struct TimingData;
struct BikeTiming;

constexpr int32_t KNOCKOUT_TICKS_COUNT = 16;

struct PhysicsState {
  int32_t tick;             // the current tick number
  int32_t race_start_tick;  // the tick at which the race starts
  // Race timing for realignment and finish tests; nullptr or inactive = none.
  const TimingData* timing;
  const BikeTiming* leader;  // first entry of the position table, may be nullptr
  int32_t race_laps;
  bool online;     // connected to a race server
  bool no_arcade;  // a race server forbade arcade physics
  double erosion;  // terrain erosion factor, 0 = off
  // Extra knockout ticks for the 1st, 2nd, ... 16th and later crash.
  int32_t knockout_ticks[KNOCKOUT_TICKS_COUNT];
  // Program clock (seconds) and the last refused set-up, for apply_setup.
  double clock;
  double setup_refused_at;
};

extern PhysicsState physics_state;

// Time spent in the phases of physics_tick, summed while `physics_profile`
// points at a record (benchmarks); nullptr (the default) measures nothing.
struct PhysicsProfile {
  double collide_seconds;  // ground, objects and bike pairs
  double step_seconds;     // the world step and emptying the contact group
  double update_seconds;   // every bike's post-step work
  int64_t ticks;
};
extern PhysicsProfile* physics_profile;

// Back to a fresh session: tick 0, race start 0, no timing, no server, no
// knockout extras, erosion off, set-up refusal long ago.
void physics_state_reset();

// The physics part of the simulation tick over the bike slots (offline):
// collisions of every non-replayed bike, bike pairs, the world step, the
// contact group emptied, then bike_physics_update for every bike.
void physics_tick(BikeSlot* slots, int32_t count);

// The post-step work of one bike, in its fixed order.
void bike_physics_update(Bike* bike);

// Take-off and landing bookkeeping from the wheel contacts of this tick.
void update_flight_ticks(Bike* bike, int32_t tick);

// Removes the net force and torque that joint error correction added to the
// bike in the last step (from the six joints' feedback records), applied to
// the FRAME. Nothing when a joint has lost a body.
void joint_force_balance(Bike* bike);
