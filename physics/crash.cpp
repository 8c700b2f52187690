// Crashes: the checks that throw the rider off, the knocked-out phase with the
// rider tied to the handlebar, the walk back onto the seat and the remount.
#include "physics/crash.h"
#include "physics/body_vectors.h"

#include <cmath>

#include "core/common.h"
#include "physics/bike.h"
#include "physics/rider_control.h"
#include "physics/shape.h"
#include "physics/step.h"
#include "physics/world.h"

namespace {

// Speed difference (ft/s) and jolt (ft/s^2) that throw the rider, per unit of
// tolerance.
constexpr double CRASH_SPEED = 31.0;
constexpr double CRASH_JOLT = 1376.0;
constexpr double GRAVITY = 32.0;
// The knocked-out phase: base length, the countdown stands still while the
// rider moves at this speed or more.
constexpr int32_t KNOCKOUT_BASE_TICKS = 512;
constexpr double RIDER_REST_SPEED = 2.0;
// The walk back starts with this many ticks left; its tethers are fully drawn
// in with WALK_BACK_SEATED left; the high-side foot steps over from WALK_BACK_STEP_OVER.
constexpr int32_t WALK_BACK_START = 511;
constexpr int32_t WALK_BACK_SEATED = 128;
constexpr int32_t WALK_BACK_STEP_OVER = 319;
constexpr double WALK_BACK_LENGTH = 5.0;
// Tethers: contact softness.
constexpr double TETHER_KP = 5000.0;
constexpr double TETHER_KD = 500.0;




// The rider's shape against one of the bike's own shapes (FRAME or
// STEERING), each touching element pair becoming a one-tick contact joint.
void rider_shape_contacts(Bike* bike, BikeBody body) {
  if (!physics_world || !contact_group) return;
  const Shape* rider = bike->shapes[RIDER];
  const Shape* other = bike->shapes[body];
  if (!rider || !other || rider->count <= 0 || other->count <= 0) return;
  if (!bounding_spheres_meet(to_vec(dBodyGetPosition(bike->body[RIDER])), rider->bounding_radius,
                             to_vec(dBodyGetPosition(bike->body[body])), other->bounding_radius))
    return;
  if (!bike_shape_update(bike, RIDER) || !bike_shape_update(bike, body)) return;
  for (int32_t i = 0; i < rider->count; i++) {
    ContactSphere a = contact_sphere_from_element(rider->elements[i]);
    for (int32_t k = 0; k < other->count; k++) {
      ContactSphere b = contact_sphere_from_element(other->elements[k]);
      ContactResult hit;
      ContactParams params;
      if (!sphere_pair(a, b, &hit, &params)) continue;
      double erp, cfm;
      if (!contact_softness(params.kp, params.kd, &erp, &cfm)) continue;
      dContact contact{};
      contact.surface.mode = dContactApprox1 | dContactSoftERP | dContactSoftCFM;
      contact.surface.mu = params.mu;
      contact.surface.soft_erp = erp;
      contact.surface.soft_cfm = cfm;
      contact.geom.pos[0] = hit.point.x;
      contact.geom.pos[1] = hit.point.y;
      contact.geom.pos[2] = hit.point.z;
      contact.geom.normal[0] = hit.normal.x;
      contact.geom.normal[1] = hit.normal.y;
      contact.geom.normal[2] = hit.normal.z;
      contact.geom.depth = hit.depth;
      dJointID joint = dJointCreateContact(physics_world, contact_group, &contact);
      if (joint) dJointAttach(joint, bike->body[body], bike->body[RIDER]);
    }
  }
}

// The rider back on its seat and on its mount.
void remount(Bike* bike) {
  const BikeInfo& info = bike->info;
  dBodyID frame = bike->body[FRAME];
  dBodyID rider = bike->body[RIDER];
  Vec3 seat = body_point(frame, fvec(info.rider_pos) - fvec(info.frame_pos));
  dBodySetPosition(rider, seat.x, seat.y, seat.z);
  dBodySetRotation(rider, dBodyGetRotation(frame));
  dJointAttach(bike->joint[RIDER_MOUNT], rider, frame);
}

}  // namespace

double crash_tolerance(const Bike* bike, int32_t tick) {
  if (bike->landing_tick < bike->takeoff_tick) return 1.5;  // airborne
  double air = ((int64_t)bike->landing_tick - bike->takeoff_tick) * TICK_SECONDS;
  double since = ((int64_t)tick - bike->landing_tick) * TICK_SECONDS;
  return 1.5 - 0.5 * clampd((air - 0.559) * 7.9365087, 0, 1) * clampd((since - 0.25) * -8.0, 0, 1);
}

void crash_checks(Bike* bike) {
  if (!bike || bike->crash_countdown != 0) return;
  const int32_t tick = physics_state.tick;
  double f = crash_tolerance(bike, tick);
  dBodyID rider = bike->body[RIDER];
  Vec3 rider_pos = to_vec(dBodyGetPosition(rider));
  Vec3 rider_vel = to_vec(dBodyGetLinearVel(rider));

  // Speed test: the rider moves too fast against the bike under it.
  dVector3 frame_vel;
  dBodyGetPointVel(bike->body[FRAME], rider_pos.x, rider_pos.y, rider_pos.z, frame_vel);
  if (vec3_length(rider_vel - to_vec(frame_vel)) > CRASH_SPEED * f && bike->blame >= 0) {
    rider_crash(bike);
  }

  // Jolt test over the last four ticks (the slot still holds the oldest).
  const float* old = bike->rider_velocity_ring[((tick % 4) + 4) % 4];
  Vec3 jolt = (rider_vel - fvec(old)) * (1.0 / (4 * TICK_SECONDS)) + vec3(0, GRAVITY, 0);
  if (vec3_length(jolt) > CRASH_JOLT * f && !bike_knocked_out(bike) && bike->blame >= 0) {
    rider_crash(bike);
  }
}

void rider_crash(Bike* bike) {
  if (!bike) return;
  dJointAttach(bike->joint[RIDER_MOUNT], nullptr, nullptr);

  // The foot particles start where the feet are, moving with the rider.
  feet_start(bike, feet_pose(bike));

  int32_t index = bike->crash_count < 0                          ? 0
                  : bike->crash_count > KNOCKOUT_TICKS_COUNT - 1 ? KNOCKOUT_TICKS_COUNT - 1
                                                                 : bike->crash_count;
  // A server's extra time never makes the phase end before it starts (the
  // detached rider must come back through the remount).
  int64_t ticks = (int64_t)KNOCKOUT_BASE_TICKS + physics_state.knockout_ticks[index];
  if (ticks < 1) ticks = 1;
  if (ticks > INT32_MAX) ticks = INT32_MAX;
  bike->crash_countdown = (int32_t)ticks;
  if (bike->crash_count < INT32_MAX) bike->crash_count += 1;
}

void knockout_step(Bike* bike) {
  if (!bike || bike->crash_countdown <= 0) return;
  const BikeInfo& info = bike->info;
  dBodyID rider = bike->body[RIDER];
  dBodyID steering = bike->body[STEERING];
  if (vec3_length(to_vec(dBodyGetLinearVel(rider))) >= RIDER_REST_SPEED) {
    // Still sliding: the hands hold on to the grips and the body hits the bike.
    double reach = 0.875 * ((double)info.arm_lengths[0] + info.arm_lengths[1]);
    tether(rider, fvec(info.shoulder_pos[0]), steering, fvec(info.grip_pos[0]), reach);
    tether(rider, fvec(info.shoulder_pos[1]), steering, fvec(info.grip_pos[1]), reach);
    if (bike->crash_countdown > WALK_BACK_START) {
      const float* hip = info.hip_pos[1];
      const float* grip = info.grip_pos[1];
      tether(rider, vec3(0, hip[1], hip[2]), steering, vec3(0, grip[1], (double)grip[2] + 10), 8);
    }
    rider_shape_contacts(bike, FRAME);
    rider_shape_contacts(bike, STEERING);
  } else {
    bike->crash_countdown -= 1;
  }
  if (bike->crash_countdown > 0 && bike->crash_countdown <= WALK_BACK_START) walk_back(bike);
  if (bike->crash_countdown == 0) remount(bike);
}

void walk_back(Bike* bike) {
  if (!bike) return;
  const BikeInfo& info = bike->info;
  dBodyID frame = bike->body[FRAME];
  dBodyID rider = bike->body[RIDER];
  Vec3 seat = fvec(info.rider_pos) - fvec(info.frame_pos);
  double length = WALK_BACK_LENGTH * clampd((bike->crash_countdown - WALK_BACK_SEATED) /
                                                (double)(WALK_BACK_START + 1 - WALK_BACK_SEATED),
                                            0, 1);
  tether(frame, seat, rider, vec3(0, 0, 0), length);
  tether(frame, seat + vec3(-5, 10, 0), rider, vec3(-5, 10, 0), length);
  tether(frame, seat + vec3(5, 10, 0), rider, vec3(5, 10, 0), length);

  if (bike->crash_countdown > WALK_BACK_STEP_OVER) return;
  // The high-side foot steps over onto its peg.
  bool left = lean_angle(bike) < 0;
  float* foot_pos = left ? bike->left_foot_pos : bike->right_foot_pos;
  float* foot_vel = left ? bike->left_foot_vel : bike->right_foot_vel;
  Vec3 target = body_point(frame, fvec(info.footpeg_pos[left ? 0 : 1]) + vec3(0, 3, 1));
  Vec3 e = (target - fvec(foot_pos)) * 32.0;
  double len = vec3_length(e);
  if (len == 0) return;
  if (len > 1) e = e * (1.0 / len);
  foot_vel[0] = (float)(4 * e.x);
  foot_vel[1] = (float)(4 * e.y);
  foot_vel[2] = (float)(4 * e.z);
}

void tether(dBodyID b1, Vec3 p1, dBodyID b2, Vec3 p2, double length) {
  if (!physics_world || !contact_group || (!b1 && !b2)) return;
  Vec3 w1 = body_point(b1, p1);
  Vec3 w2 = body_point(b2, p2);
  Vec3 d = w2 - w1;
  double distance = vec3_length(d);
  if (!std::isfinite(distance) || !(distance > length)) return;
  double erp, cfm;
  if (!contact_softness(TETHER_KP, TETHER_KD, &erp, &cfm)) return;
  dContact contact{};
  contact.surface.mode = dContactSoftERP | dContactSoftCFM;
  contact.surface.mu = 0;
  contact.surface.soft_erp = erp;
  contact.surface.soft_cfm = cfm;
  contact.geom.pos[0] = w1.x;
  contact.geom.pos[1] = w1.y;
  contact.geom.pos[2] = w1.z;
  // The normal keeps the separation's length: the pull is gentler the
  // further apart the points are.
  contact.geom.normal[0] = d.x;
  contact.geom.normal[1] = d.y;
  contact.geom.normal[2] = d.z;
  contact.geom.depth = distance - length;
  dJointID joint = dJointCreateContact(physics_world, contact_group, &contact);
  if (joint) dJointAttach(joint, b1, b2);
}
