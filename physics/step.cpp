// The order of one physics tick and of one bike's post-step work.
#include "physics/step.h"

#include <cmath>
#include <cstring>
#include <ctime>

#include "physics/bike.h"
#include "physics/collide.h"
#include "physics/crash.h"
#include "physics/drivetrain.h"
#include "physics/rider_control.h"
#include "physics/world.h"
#include "track/timing.h"

PhysicsState physics_state;
PhysicsProfile* physics_profile = nullptr;

namespace {
double profile_clock() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}
}  // namespace

void physics_state_reset() {
  memset(&physics_state, 0, sizeof physics_state);
  physics_state.race_laps = RACE_LAPS_UNSET;
  physics_state.setup_refused_at = -20.0;
}

void update_flight_ticks(Bike* bike, int32_t tick) {
  bool touching = bike->wheel_contact[WHEEL_FRONT].depth > 0 ||
                  bike->wheel_contact[WHEEL_REAR].depth > 0;
  if (touching) {
    if (bike->landing_tick < bike->takeoff_tick) bike->landing_tick = tick;
  } else if (dBodyGetLinearVel(bike->body[FRAME])[1] < 0 &&
             bike->takeoff_tick <= bike->landing_tick) {
    bike->takeoff_tick = tick;
  }
}

void joint_force_balance(Bike* bike) {
  const dReal* frame_pos = dBodyGetPosition(bike->body[FRAME]);
  Vec3 origin = vec3(frame_pos[0], frame_pos[1], frame_pos[2]);
  Vec3 force = vec3(0, 0, 0);
  Vec3 torque = vec3(0, 0, 0);
  for (int32_t j = 0; j < BIKE_JOINT_COUNT; j++) {
    dBodyID b1 = dJointGetBody(bike->joint[j], 0);
    dBodyID b2 = dJointGetBody(bike->joint[j], 1);
    if (!b1 || !b2) return;
    const dJointFeedback& fb = bike->feedback[j];
    Vec3 f1 = vec3(fb.f1[0], fb.f1[1], fb.f1[2]);
    Vec3 f2 = vec3(fb.f2[0], fb.f2[1], fb.f2[2]);
    const dReal* p1 = dBodyGetPosition(b1);
    const dReal* p2 = dBodyGetPosition(b2);
    Vec3 arm1 = vec3(p1[0], p1[1], p1[2]) - origin;
    Vec3 arm2 = vec3(p2[0], p2[1], p2[2]) - origin;
    force = force + f1 + f2;
    torque = torque + vec3(fb.t1[0], fb.t1[1], fb.t1[2]) + vec3(fb.t2[0], fb.t2[1], fb.t2[2]) +
             vec3_cross(arm1, f1) + vec3_cross(arm2, f2);
  }
  dBodyAddForce(bike->body[FRAME], -force.x, -force.y, -force.z);
  dBodyAddTorque(bike->body[FRAME], -torque.x, -torque.y, -torque.z);
}

void bike_physics_update(Bike* bike) {
  if (!bike) return;
  if (bike->simulated <= SIMULATED_THRESHOLD) {
    feet_update(bike);
    return;
  }
  const int32_t tick = physics_state.tick;

  // Bookkeeping.
  if (bike->crashed_flag == 0 && tick - physics_state.race_start_tick > 2 * TICKS_PER_SECOND) {
    const dReal* v = dBodyGetLinearVel(bike->body[FRAME]);
    if (v[0] * v[0] + v[1] * v[1] + v[2] * v[2] < 25.0) bike->crashed_flag = 1;
  }
  if (bike->blame > 0)
    bike->blame = bike->blame > 1 ? bike->blame - 1 : 0;
  else if (bike->blame < 0)
    bike->blame = bike->blame < -1 ? bike->blame + 1 : 0;
  update_flight_ticks(bike, tick);

  crash_checks(bike);
  if (bike_knocked_out(bike)) knockout_step(bike);

  // The dab and brakes may be overridden for this tick only.
  const float dab = bike->dab, front_brake = bike->front_brake, rear_brake = bike->rear_brake;
  dab_and_back_up(bike);
  rider_mount_update(bike);
  fork_update(bike);
  shock_update(bike);
  if (bike->setup.arcade && !physics_state.no_arcade && !bike_knocked_out(bike))
    arcade_update(bike);
  else
    steering_update(bike);
  auto_shift(bike, tick);
  drivetrain_update(bike);
  brakes_update(bike);
  wobble_damping(bike);
  if (tick > 1 && !bike_knocked_out(bike)) joint_force_balance(bike);
  dab_support(bike);
  bike->dab = dab;
  bike->front_brake = front_brake;
  bike->rear_brake = rear_brake;
  feet_update(bike);

  const dReal* rv = dBodyGetLinearVel(bike->body[RIDER]);
  float* slot = bike->rider_velocity_ring[((tick % 4) + 4) % 4];
  slot[0] = (float)rv[0];
  slot[1] = (float)rv[1];
  slot[2] = (float)rv[2];
}

void physics_tick(BikeSlot* slots, int32_t count) {
  if (count > MAX_BIKES) count = MAX_BIKES;
  if (count < 0) count = 0;
  PhysicsProfile* profile = physics_profile;
  double t0 = profile ? profile_clock() : 0;
  // Contacts with the ground and the track objects; the list for pair
  // tests is kept in slot order, which makes the pair order deterministic.
  Bike* colliding[MAX_BIKES];
  int32_t n = 0;
  for (int32_t s = 0; s < count; s++) {
    Bike* bike = slots[s].bike;
    if (!bike) continue;
    if (slots[s].kind == REPLAYED) {
      // Replayed bikes only hold up the starting gates they lean on.
      if (starting_gates_solid(physics_state.tick, physics_state.race_start_tick))
        bike_starting_gates_touch(bike);
      continue;
    }
    bike_collide(bike);
    colliding[n++] = bike;
  }
  // Pairs whose bounding spheres are apart are left out before the pair test.
  double reach[MAX_BIKES];
  Vec3 centre[MAX_BIKES];
  for (int32_t i = 0; i < n; i++) {
    const dReal* p = dBodyGetPosition(colliding[i]->body[FRAME]);
    centre[i] = vec3(p[0], p[1], p[2]);
    reach[i] = bike_collision_reach(colliding[i]);
  }
  for (int32_t i = 0; i < n; i++)
    for (int32_t j = i + 1; j < n; j++)
      if (bounding_spheres_meet(centre[i], reach[i], centre[j], reach[j]))
        bike_pair_collide(colliding[i], colliding[j], false);

  double t1 = profile ? profile_clock() : 0;
  physics_world_step();
  double t2 = profile ? profile_clock() : 0;

  if (physics_state.erosion > 0) {
    for (int32_t i = 0; i < n; i++)
      for (int32_t w = WHEEL_FRONT; w <= WHEEL_REAR; w++)
        if (colliding[i]->wheel_contact[w].depth > 0) record_wheel_mark(colliding[i], w);
  }

  for (int32_t s = 0; s < count; s++)
    if (slots[s].bike) bike_physics_update(slots[s].bike);
  if (profile) {
    double t3 = profile_clock();
    profile->collide_seconds += t1 - t0;
    profile->step_seconds += t2 - t1;
    profile->update_seconds += t3 - t2;
    profile->ticks++;
  }
}
