// Bikes this program does not simulate itself (demo playback, remote riders)
// posed from snapshots: forward kinematics of the seven bodies from one
// BikeState, velocities from the two bracketing history entries, the
// correction forces of a briefly woken remote bike, and its wake and fade.
#pragma once

#include <cstdint>

#include "physics/contact_geometry.h"
#include "race/race.h"

struct Bike;

// Places the seven bodies and sets crash state, gear, throttle and engine
// speed from one snapshot. Velocities are not touched.
void bike_pose_from_state(Bike* bike, const BikeState& state, BikeStateLayout layout);
// The per-tick posing of a replayed bike: current snapshot, the earlier and
// later bracketing entries and their tick distance n.
void bike_state_apply(Bike* bike, const BikeState& current, const BikeState& earlier,
                      const BikeState& later, int32_t n, BikeStateLayout layout);
// The branch of bike_state_apply for a woken (simulated) bike.
void bike_state_correct(Bike* bike, const BikeState& current, const BikeState& earlier,
                        const BikeState& later, int32_t n);
// Rotation vector (axis x angle / TICK_SECONDS) turning orientation a into b;
// quaternions in the dynamics library's order (w, x, y, z).
Vec3 rotation_between(const double a[4], const double b[4]);
void bike_wake(Bike* bike);
void bike_fade(Bike* bike);
