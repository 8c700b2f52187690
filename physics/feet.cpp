// The rider's two foot particles: on the pegs while riding, reaching for the
// ground while the foot is down, and flailing under gravity, held by the legs,
// while the rider is knocked out.
#include <cmath>

#include "core/common.h"
#include "physics/bike.h"
#include "physics/body_vectors.h"
#include "physics/crash.h"
#include "physics/rider_control.h"
#include "track/heightfield.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double GRAVITY = 32.0;
// The dab foot comes up at this rate (per second), every tick.
constexpr double DAB_ANIM_FALL = 4.0;
// Feet rest this far above the ground.
constexpr double FOOT_CLEARANCE = 0.25;
constexpr double DAB_FOOT_CLEARANCE = 0.125;
// Velocity kept per tick by a flailing foot.
constexpr double FOOT_DRAG = 0.9375;



void store(float* out, Vec3 v) {
  out[0] = (float)v.x;
  out[1] = (float)v.y;
  out[2] = (float)v.z;
}

// One flailing foot after its free move: gravity, the ground, drag, the leg's
// reach from the hip and the plane 1 ft below the hips.
void foot_constrain(dBodyID rider, float* pos_f, float* vel_f, Vec3 hip, Vec3 down,
                    Vec3 plane_point, double reach) {
  Vec3 pos = fvec(pos_f);
  Vec3 vel = fvec(vel_f);
  vel.y -= GRAVITY * TICK_SECONDS;
  double ground = terrain_height_at((float)pos.x, (float)pos.z);
  if (pos.y < ground + FOOT_CLEARANCE) {
    pos.y = ground + FOOT_CLEARANCE;
    vel = vec3(0, 0, 0);
  }
  vel = vel * FOOT_DRAG;

  Vec3 leg = pos - hip;
  double len = vec3_length(leg);
  if (len > reach) {
    Vec3 n = leg * (1.0 / len);
    pos = hip + n * reach;
    Vec3 hip_vel = point_velocity(rider, hip);
    vel = vel - n * vec3_dot(vel, n) + n * vec3_dot(hip_vel, n);
  }

  double k = vec3_dot(down, pos - plane_point);
  if (k < 0) {
    pos = pos - down * k;
    Vec3 v = point_velocity(rider, pos);
    vel = vel - down * vec3_dot(vel, down) + down * vec3_dot(v, down);
  }
  store(pos_f, pos);
  store(vel_f, vel);
}

}  // namespace

FeetPose feet_pose(const Bike* bike) {
  FeetPose out{};
  if (!bike) return out;
  const BikeInfo& info = bike->info;
  dBodyID frame = bike->body[FRAME];
  dBodyID rider = bike->body[RIDER];
  const bool knocked_out = bike_knocked_out(bike);
  const int32_t countdown = bike->crash_countdown;

  Vec3 l = fvec(info.footpeg_pos[0]);
  Vec3 r = fvec(info.footpeg_pos[1]);
  if (knocked_out) {
    // The feet spread, rise and move back while the rider gets back on.
    double t = (countdown < 128 ? countdown : 128) / 128.0;
    double a = clampd(2 * t - 1, 0, 1) / 2;
    double b = clampd(2 * t, 0, 1);
    double c = clampd(4 * t / 3, 0, 1);
    l = l + vec3(-a, 1.75 * b, c);
    r = r + vec3(a, 1.75 * b, c);
  }
  l = body_point(frame, l);
  r = body_point(frame, r);

  if (bike->dab_anim != 0 && countdown <= 127) {
    // The dab foot reaches for the ground, further forward with speed and lean.
    Vec3 hip_l = body_point(rider, fvec(info.hip_pos[0]));
    Vec3 hip_r = body_point(rider, fvec(info.hip_pos[1]));
    Vec3 h = hip_r - hip_l;
    const dReal* rot = dBodyGetRotation(frame);
    Vec3 forward = vec3(-rot[2], -rot[6], -rot[10]);
    double u = clampd(vec3_dot(to_vec(dBodyGetLinearVel(frame)), forward) / 15, 0, 1);
    double lean = lean_angle(bike);
    double q = clampd(fabs(lean) * 4 / PI, 0, 1);
    Vec3 o = forward * ((1.25 * u - 0.25) * q * 2.5);
    double anim = bike->dab_anim;
    if (lean > -0.1) {
      Vec3 p = hip_l + h * (q / 2 - 0.5) + o;
      Vec3 g = vec3(p.x, terrain_height_at((float)p.x, (float)p.z) + DAB_FOOT_CLEARANCE, p.z);
      l = l + (g - l) * anim;
      out.left_weight = anim;
    }
    if (lean < 0.1) {
      Vec3 p = hip_r + h * (0.5 - q / 2) + o;
      Vec3 g = vec3(p.x, terrain_height_at((float)p.x, (float)p.z) + DAB_FOOT_CLEARANCE, p.z);
      r = r + (g - r) * anim;
      out.right_weight = anim;
    }
  }

  if (knocked_out) {
    // The particles, blended onto the raised pegs near the remount.
    double w = clampd(2.0 * countdown - 128, 1, 128) / 128;
    l = l + (fvec(bike->left_foot_pos) - l) * w;
    r = r + (fvec(bike->right_foot_pos) - r) * w;
    out.left_weight = 1;
    out.right_weight = 1;
  }
  out.left = l;
  out.right = r;
  return out;
}

void feet_update(Bike* bike) {
  if (!bike) return;
  bike->dab_anim = (float)fmax(0.0, bike->dab_anim - DAB_ANIM_FALL * TICK_SECONDS);
  dBodyID rider = bike->body[RIDER];

  if (!bike_knocked_out(bike)) {
    FeetPose feet = feet_pose(bike);
    store(bike->left_foot_pos, feet.left);
    store(bike->right_foot_pos, feet.right);
    store(bike->left_foot_vel, point_velocity(rider, feet.left));
    store(bike->right_foot_vel, point_velocity(rider, feet.right));
    return;
  }

  for (int32_t i = 0; i < 3; i++) {
    bike->left_foot_pos[i] += (float)(bike->left_foot_vel[i] * TICK_SECONDS);
    bike->right_foot_pos[i] += (float)(bike->right_foot_vel[i] * TICK_SECONDS);
  }
  const BikeInfo& info = bike->info;
  Vec3 hip_l = body_point(rider, fvec(info.hip_pos[0]));
  Vec3 hip_r = body_point(rider, fvec(info.hip_pos[1]));
  const dReal* rot = dBodyGetRotation(rider);
  Vec3 down = vec3(-rot[1], -rot[5], -rot[9]);
  Vec3 plane_point = hip_l + down;
  double reach = (double)info.leg_lengths[0] + info.leg_lengths[1];
  foot_constrain(rider, bike->left_foot_pos, bike->left_foot_vel, hip_l, down, plane_point, reach);
  foot_constrain(rider, bike->right_foot_pos, bike->right_foot_vel, hip_r, down, plane_point,
                 reach);
}

void feet_start(Bike* bike, const FeetPose& pose) {
  dBodyID rider = bike->body[RIDER];
  const Vec3 points[2] = {pose.left, pose.right};
  float* positions[2] = {bike->left_foot_pos, bike->right_foot_pos};
  float* velocities[2] = {bike->left_foot_vel, bike->right_foot_vel};
  for (int32_t f = 0; f < 2; f++) {
    dVector3 v;
    dBodyGetPointVel(rider, points[f].x, points[f].y, points[f].z, v);
    positions[f][0] = (float)points[f].x;
    positions[f][1] = (float)points[f].y;
    positions[f][2] = (float)points[f].z;
    for (int32_t i = 0; i < 3; i++) velocities[f][i] = (float)v[i];
  }
}
