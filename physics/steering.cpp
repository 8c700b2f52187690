// The rider's body on its soft mount, the stability controller that turns the
// steering input, lean, roll rate, speed and grip into one torque about the
// steering axis, the arcade servos that replace it, and the front wheel's
// wobble damping.
//
// Signs: lean is positive leaning to the bike's left; the frame's roll rate
// about its own z axis (to the rear) is positive while the lean increases; a
// positive steering torque turns the front wheel to the left, which is also
// the positive steering-head angle. Turning the wheel into a lean rights the
// bike, so a positive torque answers a positive lean or roll rate.
#include <cmath>
#include <cstring>

#include "physics/bike.h"
#include "physics/body_vectors.h"
#include "physics/rider_control.h"
#include "physics/world.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double FULL_LOCK = PI / 4;
// Below this front axle rate (rad/s) the wheel counts as not rolling forward.
constexpr double ROLLING_AXLE_RATE = PI / 4;
// Largest roll rate asked for by lean-target steering; more when righting.
constexpr double LEAN_RATE_MAX = 5 * PI / 4;
constexpr double RIGHTING_RATE_MAX = 25 * PI / 8;
// Rider mount springs are given per slug of rider mass at this scale.
constexpr double MOUNT_MASS_SCALE = 0.21333333;
// Stiff rider-mount contacts beyond the seat's range of travel.
constexpr double MOUNT_STOP_STIFFNESS = 2500;
constexpr double MOUNT_FORE_AFT_LIMIT = 0.75;
// The roll servo of arcade mode, and its steering servo's dead bands.
constexpr double ARCADE_ROLL_FMAX = 1000;
constexpr double ARCADE_ANGLE_DEAD = 0.03125;
constexpr double ARCADE_RATE_DEAD = 1.0 / 2400;
// Arcade yaw drag: applied this far behind the frame centre.
constexpr double ARCADE_DRAG_ARM = 20;
constexpr double ARCADE_DRAG = 0.25;



// The steering axis in frame coordinates, unit length.
Vec3 steering_axis(const Bike* bike) {
  const BikeInfo& info = bike->info;
  return vec3_normalize(vec3((double)info.steering_pos[0] - info.fork_lower_pos[0],
                             (double)info.steering_pos[1] - info.fork_lower_pos[1],
                             (double)info.steering_pos[2] - info.fork_lower_pos[2]));
}

double front_outer_radius(const Bike* bike) {
  return (double)bike->info.front_wheel.ring_radius + bike->info.front_wheel.tyre_radius;
}

// The frame's roll rate (angular velocity about its own z axis).
double roll_rate(const Bike* bike) {
  return from_world(bike->body[FRAME], to_vec(dBodyGetAngularVel(bike->body[FRAME]))).z;
}

// The first friction coefficient of the ground tile under (x, z); 1 where the
// track has no such tile.
double ground_grip(double x, double z) {
  int32_t tile = contact_tile_index(&track.hf, x, z);
  if (tile < 0 || tile >= track.hf.tile_count || tile >= TERRAIN_MAX_TILES) return 1;
  return track.hf.tiles[tile].friction[0];
}

// One frictionless spring contact pushing the rider along `normal` by `depth`.
void mount_contact(Bike* bike, Vec3 normal, double depth, double kp, double kd) {
  dContact c;
  memset(&c, 0, sizeof c);
  c.surface.mode = dContactSoftERP | dContactSoftCFM;
  c.surface.mu = 0;
  double cfm = 1.0 / (TICK_SECONDS * kp + kd);
  c.surface.soft_cfm = cfm;
  c.surface.soft_erp = TICK_SECONDS * kp * cfm;
  const dReal* p = dBodyGetPosition(bike->body[RIDER]);
  c.geom.pos[0] = p[0];
  c.geom.pos[1] = p[1];
  c.geom.pos[2] = p[2];
  c.geom.normal[0] = normal.x;
  c.geom.normal[1] = normal.y;
  c.geom.normal[2] = normal.z;
  c.geom.depth = depth;
  dJointID j = dJointCreateContact(physics_world, contact_group, &c);
  dJointAttach(j, bike->body[RIDER], bike->body[FRAME]);
}

// Moves v towards 0 by step; 0 when it lies within the step.
double shrink(double v, double step) {
  if (v > step) return v - step;
  if (v < -step) return v + step;
  return 0;
}

}  // namespace

// ---------------------------------------------------------------- queries

double lean_angle(const Bike* bike) {
  if (!bike) return 0;
  dBodyID frame = bike->body[FRAME];
  Vec3 up = body_axis(frame, 1);
  Vec3 back = body_axis(frame, 2);
  // The horizontal direction to the bike's right: forward (-back) x world up.
  Vec3 right = vec3(back.z, 0, -back.x);
  double len = vec3_length(right);
  if (!(len > 1e-12)) return 0;  // pointing straight up or down: no lean defined
  double u = vec3_dot(up, right) / len;
  return -asin(clampd(u, -1, 1));
}

double front_slip_angle(const Bike* bike) {
  if (!bike) return 0;
  Vec3 v = from_world(bike->body[STEERING], to_vec(dBodyGetLinearVel(bike->body[FRONT_WHEEL])));
  Vec3 s = steering_axis(bike);
  // The rolling direction in the wheel's plane, perpendicular to the steering axis.
  double w = v.y * -s.z + v.z * s.y;
  if (!(v.x * v.x + w * w > 1)) return 0;
  return -atan2(v.x, -w);
}

double steering_lock(const Bike* bike, double ground_speed) {
  if (!bike) return FULL_LOCK;
  const BikeSetup& su = bike->setup;
  double full = su.full_lock_speed >= 1 ? su.full_lock_speed : 1;
  double s = ground_speed > 1 ? ground_speed : 1;
  double h = su.restricted_lock_speed > full + 1 ? su.restricted_lock_speed : full + 1;
  double e = clampd((1 / s - 1 / h) / (1 / full - 1 / h), 0, 1);
  const dReal* p = dBodyGetPosition(bike->body[FRONT_WHEEL]);
  double mu = ground_grip(p[0], p[2]);
  if (!(mu >= 0.125)) mu = 0.125;
  double restricted = su.restricted_lock / mu;
  if (!(restricted <= FULL_LOCK)) restricted = FULL_LOCK;
  if (restricted < 0) restricted = 0;
  return restricted + (FULL_LOCK - restricted) * e;
}

double lean_allowance(const Bike* bike, double speed2) {
  if (!bike) return 0;
  double a = bike->setup.roll_limit_angle;
  double m2 = bike->setup.max_dab_speed * bike->setup.max_dab_speed;
  if (!(speed2 > 0)) return 0;
  if (speed2 >= m2) return 2 * PI;
  if (speed2 <= 225) {
    double t = 1 - clampd(speed2 / m2, 0, 1);
    return (1 - t * t * t * t) * a;
  }
  return a + (2 * PI - a) * clampd((speed2 - 225) / (m2 - 225), 0, 1);
}

// ---------------------------------------------------------------- torques

void apply_steering_torque(Bike* bike, double torque) {
  if (!bike || !std::isfinite(torque)) return;
  Vec3 t = to_world(bike->body[FRAME], steering_axis(bike)) * torque;
  dBodyAddTorque(bike->body[FRONT_WHEEL], t.x, t.y, t.z);
  dBodyAddTorque(bike->body[FRAME], -t.x, -t.y, -t.z);
}

void rider_mount_update(Bike* bike) {
  if (!bike) return;
  const BikeInfo& info = bike->info;
  const BikeSetup& su = bike->setup;
  double scale = info.rider_mass * MOUNT_MASS_SCALE;
  dJointSetHinge2Param(bike->joint[RIDER_MOUNT], dParamSuspensionERP, 0);
  dJointSetHinge2Param(bike->joint[RIDER_MOUNT], dParamSuspensionCFM,
                       1.0 / ((30 * su.rider_zdamping + 5) * scale));
  // A thrown rider is off the mount: the tethers of the crash handling hold
  // the body, and the seat springs must not pull it back onto the bike.
  if (bike_knocked_out(bike)) return;

  dBodyID frame = bike->body[FRAME];
  dVector3 seat;
  dBodyGetRelPointPos(frame, (double)info.rider_pos[0] - info.frame_pos[0],
                      (double)info.rider_pos[1] - info.frame_pos[1],
                      (double)info.rider_pos[2] - info.frame_pos[2], seat);
  Vec3 d = to_vec(seat) - to_vec(dBodyGetPosition(bike->body[RIDER]));
  Vec3 up = body_axis(frame, 1);
  Vec3 back = body_axis(frame, 2);
  double z = vec3_dot(d, back);
  double y = vec3_dot(d, up);

  // Fore-aft: the rider leans forward (lean < 0) or sinks back when sitting low.
  double zt =
      clampd((0.5 + bike->dab / 2.0) * y - bike->lean, -MOUNT_FORE_AFT_LIMIT, MOUNT_FORE_AFT_LIMIT);
  double kp, kd;
  if (z < -MOUNT_FORE_AFT_LIMIT || z >= MOUNT_FORE_AFT_LIMIT) {
    kp = kd = MOUNT_STOP_STIFFNESS;
  } else {
    kp = 100 * fabs(z - zt) + 600 * su.rider_zspring;
    kd = 0;
  }
  kp *= scale;
  kd *= scale;
  // z > zt: the rider sits too far forward and is pushed to the rear (+z).
  if (kp > 0) mount_contact(bike, z > zt ? back : -back, fabs(z - zt), kp, kd);

  // Vertical: 0.125 ft above the seat point, sinking half a foot when sitting.
  double e = y + 0.125 - bike->dab / 2.0;
  if (y > 0.5 || y < -0.75) {
    kp = kd = MOUNT_STOP_STIFFNESS;
  } else {
    kp = 400 * su.rider_yspring;
    kd = 100 * su.rider_ydamping;
  }
  kp *= scale;
  kd *= scale;
  // e > 0: the rider sits too low and is pushed up.
  if (kp + kd > 0) mount_contact(bike, e > 0 ? up : -up, fabs(e), kp, kd);
}

void steering_update(Bike* bike) {
  if (!bike) return;
  bike->steer_assist = 0;
  if (bike_knocked_out(bike)) return;
  const BikeSetup& su = bike->setup;

  double force_hi = su.max_steering_force, force_lo = -force_hi;
  double direct = su.steering_strength * bike->steer * su.direct_steering;

  double radius = front_outer_radius(bike);
  double axle_rate = dJointGetHingeAngleRate(bike->joint[FRONT_AXLE]);
  double ground_speed = radius * axle_rate;
  double slip = front_slip_angle(bike);
  double lock = steering_lock(bike, ground_speed);

  // Soft lock: near the ground, resist turning the wheel further across its
  // path than the lock allows.
  const dReal* wheel = dBodyGetPosition(bike->body[FRONT_WHEEL]);
  double clearance = wheel[1] - terrain_height_at((float)wheel[0], (float)wheel[2]) - radius;
  if (ground_speed > 1 && clearance < 0.5) {
    double l2 = lock + (FULL_LOCK - lock) * clampd(2 * clearance, 0, 1);
    double e = 1.125 * l2 + 0.015;
    if (slip > l2) force_lo *= 1.25 * clampd((slip - e) / (l2 - e), 0, 1) - 0.25;
    if (slip < -l2) force_hi *= 1.25 * clampd((slip + e) / (-l2 + e), 0, 1) - 0.25;
  }

  double lean = lean_angle(bike);
  double omega = roll_rate(bike);
  double steer_angle = dJointGetHingeAngle(bike->joint[STEERING_HEAD]);
  double base;
  if (!(bike->wheel_contact[WHEEL_FRONT].depth > 0) || !(axle_rate > ROLLING_AXLE_RATE)) {
    // In the air or not rolling forward: centre the steering, and arm the
    // landing boost of the roll damping.
    bike->land_damping = (float)su.land_damping_factor;
    base = -50 * steer_angle;
  } else {
    double k = bike->land_damping;
    base = omega * su.roll_damping * k;
    if (k > 1) {
      if (su.land_damping_falloff == 0)
        k = 1;
      else
        k = fmax(1, k - (su.land_damping_factor - 1) * TICK_SECONDS / su.land_damping_falloff);
      bike->land_damping = (float)k;
    }

    double leveling = lean * su.leveling;
    Vec3 v = to_vec(dBodyGetLinearVel(bike->body[FRAME]));
    double speed2 = vec3_length_sq(v);
    double speed = sqrt(speed2);
    if (speed < su.slow_damping_speed) {
      double q = su.slow_damping_factor +
                 (1 - su.slow_damping_factor) * clampd(speed / su.slow_damping_speed, 0, 1);
      base *= q;
      leveling *= q;
    }
    bool falling_further = (omega < 0 && lean < 0) || (omega >= 0 && lean >= 0);
    if (falling_further && fabs(lean) > su.roll_limit_angle)
      base *= (fabs(lean) - su.roll_limit_angle) * su.roll_limit_factor + 1;
    base += leveling;

    if (su.direct_steering < 1) {
      // Steer for a roll rate that takes the lean to the rider's target.
      double target = -bike->steer * lean_allowance(bike, speed2);
      double r = (target - lean) * 2.5;
      bool righting = (r < 0 && lean >= 0) || (lean < 0 && r >= 0);
      double r_max = righting ? RIGHTING_RATE_MAX : LEAN_RATE_MAX;
      r = clampd(r, -r_max, r_max);
      double d = clampd(r - omega, -0.125, 0.125);
      double ls = su.steering_strength * clampd((omega - (r - d)) * 4, -1, 1);
      direct = (direct - ls) * su.direct_steering + ls;
    }
  }

  // A rider at fault after hitting another bike gets little or no help.
  if (bike->blame > 0) {
    double m = 200 * clampd((192 - bike->blame) / 192.0, 0, 1);
    base = clampd(base, -m, m);
  }

  double torque = (base + direct) * 1.5;
  torque = fmax(force_lo, fmin(force_hi, torque));
  apply_steering_torque(bike, torque);

  // How far the rider steers into the lean, for the lean indicator.
  double p = clampd((ground_speed - 5) / 10, 0, 1);
  double q1 = 0.25 * p * lock;
  double q2 = (0.625 * p + 0.125) * lock;
  double into = lean >= 0 ? -slip : slip;
  double a;
  if (q2 > q1)
    a = clampd((into - q1) / (q2 - q1), 0, 1);
  else
    a = into > q1 ? 1 : 0;  // no lock left: all or nothing
  double b = lean >= 0 ? clampd((steer_angle - PI / 12) * 12 / PI, 0, 1)
                       : clampd((steer_angle + PI / 12) * (-12 / PI), 0, 1);
  bike->steer_assist = (float)fmax(a, b);
}

void arcade_update(Bike* bike) {
  if (!bike || bike_knocked_out(bike)) return;
  const BikeSetup& su = bike->setup;
  dBodyID frame = bike->body[FRAME];
  bike->steer_assist = 0;

  // Roll servo towards a lean of -steer * 45 degrees.
  double c = clampd((su.roll_damping - 40) * 0.025, 0, 1);
  double lean = lean_angle(bike);
  double target = -FULL_LOCK * bike->steer;
  double rate = (1.5 - 0.5 * c) * fmin(0.0625, fabs(lean - target)) * 16;
  if (lean >= target) rate = -rate;
  Vec3 axis = body_axis(frame, 2);
  dJointID motor = dJointCreateAMotor(physics_world, contact_group);
  dJointAttach(motor, frame, nullptr);
  dJointSetAMotorMode(motor, dAMotorUser);
  dJointSetAMotorNumAxes(motor, 1);
  dJointSetAMotorAxis(motor, 0, 0, axis.x, axis.y, axis.z);
  dJointSetAMotorParam(motor, dParamVel, rate);
  dJointSetAMotorParam(motor, dParamFMax, ARCADE_ROLL_FMAX);

  // Steering servo: the wheel follows the path, turned by half the input.
  double steer_angle = dJointGetHingeAngle(bike->joint[STEERING_HEAD]);
  double steer_rate = dJointGetHingeAngleRate(bike->joint[STEERING_HEAD]);
  double aim = front_slip_angle(bike) - 0.5 * bike->steer;
  double e = shrink(clampd(aim - steer_angle, -0.25, 0.25), ARCADE_ANGLE_DEAD);
  double f = shrink(8 * e - steer_rate, ARCADE_RATE_DEAD);
  double out = clampd(0.5 * f, -2.0 / 3.0, 2.0 / 3.0);
  apply_steering_torque(bike, out * su.steering_strength);

  // Yaw drag far behind the frame keeps the bike pointing along its path.
  dVector3 v;
  dBodyGetRelPointVel(frame, 0, 0, ARCADE_DRAG_ARM, v);
  dBodyAddForceAtRelPos(frame, -ARCADE_DRAG * v[0], -ARCADE_DRAG * v[1], -ARCADE_DRAG * v[2], 0, 0,
                        ARCADE_DRAG_ARM);
}

void wobble_damping(Bike* bike) {
  if (!bike) return;
  dBodyID wheel = bike->body[FRONT_WHEEL];
  Vec3 w = to_vec(dBodyGetAngularVel(wheel));
  Vec3 a = body_axis(wheel, 0);
  Vec3 t = (a * vec3_dot(a, w) - w) * bike->setup.steering_damping;
  dBodyAddTorque(wheel, t.x, t.y, t.z);
  dBodyAddTorque(bike->body[FRAME], -t.x, -t.y, -t.z);
}
