// Replayed bikes posed from snapshots: the seven bodies placed by forward
// kinematics from one BikeState (the inverse of bike_state_pack), their
// velocities from the two bracketing history entries, the correction forces
// of a briefly woken remote bike, and how that bike wakes and fades.
#include "physics/snapshot_pose.h"
#include "physics/body_vectors.h"

#include <cmath>
#include <cstring>

#include "physics/bike.h"
#include "physics/crash.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double RPM_TO_RAD_PER_SEC = 2 * PI / 60;
constexpr double RPM_RANGE = 32768.0;
constexpr double RIDER_OFFSET_RANGE = 16.0;
constexpr uint32_t GEAR_KNOCKED_OUT = 7;
constexpr uint32_t FLAG_DAB = 8;
// Rise of the foot-down pose per second while a replayed rider dabs.
constexpr double DAB_ANIM_RISE = 8.0;
// Correction of a woken remote bike: gains and the longest force and torque.
constexpr double CORRECT_KP = 5000.0;
constexpr double CORRECT_KP_EXTRA = 45000.0;
constexpr double CORRECT_KD = 500.0;
constexpr double CORRECT_LIMIT = 2500.0;
constexpr double STEER_GAIN = 0.25;

// Offsets of the older 26-byte layout that differ from the current one.
constexpr int32_t OLD_RIDER_SLIDE = 20;
constexpr int32_t OLD_FRONT_WHEEL = 21;
constexpr int32_t OLD_REAR_WHEEL = 22;
constexpr int32_t OLD_FLAGS = 23;
constexpr int32_t OLD_RPM = 24;

Vec3 dvec(const dReal* p) { return vec3(p[0], p[1], p[2]); }

// One snapshot decoded to physical values.
struct Snapshot {
  Vec3 position;
  double quat[4];
  double steer, swingarm, fork;
  bool old_layout;
  Vec3 rider_offset;     // current layout
  double rider_quat[4];  // current layout
  double rider_slide;    // older layout: fraction of the slide range
  double front_angle, rear_angle;
  uint32_t flags;
  double engine_speed;  // rad/s
};

uint32_t byte_at(const BikeState& s, int32_t offset) { return s.bytes[offset]; }

void decode_quat(const BikeState& s, int32_t offset, double q[4]) {
  for (int32_t i = 0; i < 4; i++)
    q[i] = state_decode(state_read(s.bytes + offset + 2 * i, 2), -1, 1, 16);
}

Snapshot decode(const Bike* bike, const BikeState& s, BikeStateLayout layout) {
  const BikeInfo& info = bike->info;
  const double size = track.hf.world_size;
  const double low = track.hf.min_height;
  Snapshot d;
  memset(&d, 0, sizeof d);
  d.position = vec3(state_decode(state_read(s.bytes + STATE_POS_X, 3), 0, size, 24),
                    state_decode(state_read(s.bytes + STATE_POS_Y, 3), low, low + size, 24),
                    state_decode(state_read(s.bytes + STATE_POS_Z, 3), 0, size, 24));
  decode_quat(s, STATE_QUAT, d.quat);
  d.steer = state_decode(byte_at(s, STATE_STEER), -PI / 4, PI / 4, 8);
  double a = info.swingarm_max_angle;
  d.swingarm = state_decode(byte_at(s, STATE_SWINGARM), -a, 0, 8);
  double travel = info.fork_travel;
  d.fork = state_decode(byte_at(s, STATE_FORK), -travel, 0, 8);
  d.old_layout = layout == STATE_LAYOUT_OLD;
  int32_t front, rear, flags, rpm;
  if (d.old_layout) {
    d.rider_slide = byte_at(s, OLD_RIDER_SLIDE) / 255.0;
    front = OLD_FRONT_WHEEL;
    rear = OLD_REAR_WHEEL;
    flags = OLD_FLAGS;
    rpm = OLD_RPM;
  } else {
    double o[3];
    for (int32_t i = 0; i < 3; i++)
      o[i] = state_decode(state_read(s.bytes + STATE_RIDER_OFFSET + 2 * i, 2), -RIDER_OFFSET_RANGE,
                          RIDER_OFFSET_RANGE, 16);
    d.rider_offset = vec3(o[0], o[1], o[2]);
    decode_quat(s, STATE_RIDER_QUAT, d.rider_quat);
    front = STATE_FRONT_WHEEL;
    rear = STATE_REAR_WHEEL;
    flags = STATE_FLAGS;
    rpm = STATE_RPM;
  }
  d.front_angle = state_decode(byte_at(s, front), -PI, PI, 8);
  d.rear_angle = state_decode(byte_at(s, rear), -PI, PI, 8);
  d.flags = byte_at(s, flags);
  d.engine_speed =
      state_decode(state_read(s.bytes + rpm, 2), 0, RPM_RANGE, 16) * RPM_TO_RAD_PER_SEC;
  return d;
}

// A point given in a body's own axes, in the world.
void set_position(dBodyID body, Vec3 p) { dBodySetPosition(body, p.x, p.y, p.z); }

// out = a * Rot(axis, angle).
void rotate_local(dMatrix3 out, const dReal* a, Vec3 axis, double angle) {
  dMatrix3 r;
  dRFromAxisAndAngle(r, axis.x, axis.y, axis.z, angle);
  dMultiply0_333(out, a, r);
}

// Body poses, to carry a rider through the remount.
struct BodyPose {
  dVector3 position;
  dMatrix3 rotation;
};

BodyPose save_pose(dBodyID body) {
  BodyPose p;
  memcpy(p.position, dBodyGetPosition(body), sizeof p.position);
  memcpy(p.rotation, dBodyGetRotation(body), sizeof p.rotation);
  return p;
}

void restore_pose(dBodyID body, const BodyPose& p) {
  dBodySetPosition(body, p.position[0], p.position[1], p.position[2]);
  dBodySetRotation(body, p.rotation);
}

// The rider mount is attached again with the rider for a moment at its
// seat, so that the joint takes its anchor and axes from the seat pose; the
// rider then goes back where it was.
void remount_rider(Bike* bike) {
  const BikeInfo& info = bike->info;
  dBodyID frame = bike->body[FRAME];
  dBodyID rider = bike->body[RIDER];
  BodyPose was = save_pose(rider);
  set_position(rider, body_point(frame, fvec(info.rider_pos) - fvec(info.frame_pos)));
  dBodySetRotation(rider, dBodyGetRotation(frame));
  dJointAttach(bike->joint[RIDER_MOUNT], rider, frame);
  restore_pose(rider, was);
}

// The foot particles of a rider who has just come off, as rider_crash sets
// them: the riding feet, moving with the rider.
void feet_from_crash(Bike* bike) {
  int32_t countdown = bike->crash_countdown;
  bike->crash_countdown = 0;
  FeetPose feet = feet_pose(bike);
  bike->crash_countdown = countdown;
  feet_start(bike, feet);
}

// Gear from the flags: at most the fifth, lowered past absent gears.
int32_t gear_from_flags(const Bike* bike, uint32_t flags) {
  int32_t gear = (int32_t)(flags & 7);
  if (gear > 5) gear = 5;
  while (gear > 0 && !(bike->info.gear_ratio[gear] > 0)) gear--;
  return gear;
}

int32_t crash_countdown_from_flags(uint32_t flags) {
  uint32_t level = flags >> 4;
  return (int32_t)(level * 127 / 15) + 1;
}

// Crash state, gear and throttle from the flags byte: a knocked-out snapshot
// detaches the rider; the first riding one afterwards remounts it.
void apply_state_flags(Bike* bike, uint32_t flags) {
  if ((flags & 7) == GEAR_KNOCKED_OUT) {
    dJointAttach(bike->joint[RIDER_MOUNT], nullptr, nullptr);
    bike->throttle = 0;
    bike->crash_countdown = crash_countdown_from_flags(flags);
  } else {
    if (bike->crash_countdown != 0) remount_rider(bike);
    bike->crash_countdown = 0;
    bike->gear = gear_from_flags(bike, flags);
    bike->throttle = (float)clampd((flags >> 4) / 15.0, 0, 1);
  }
}

void zero_accumulators(Bike* bike) {
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    dBodySetForce(bike->body[b], 0, 0, 0);
    dBodySetTorque(bike->body[b], 0, 0, 0);
  }
}

void enable_bodies(Bike* bike, bool enable) {
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    if (enable)
      dBodyEnable(bike->body[b]);
    else
      dBodyDisable(bike->body[b]);
  }
}

Vec3 limit_length(Vec3 v, double limit) {
  double len = vec3_length(v);
  if (len > limit) return v * (limit / len);
  return v;
}

// Unit quaternion (w, x, y, z); the identity when it has no length.
void normalize_quat(const double in[4], double out[4]) {
  double len = sqrt(in[0] * in[0] + in[1] * in[1] + in[2] * in[2] + in[3] * in[3]);
  if (!(len > 0) || !std::isfinite(len)) {
    out[0] = 1;
    out[1] = out[2] = out[3] = 0;
    return;
  }
  for (int32_t i = 0; i < 4; i++) out[i] = in[i] / len;
}

}  // namespace

void bike_pose_from_state(Bike* bike, const BikeState& state, BikeStateLayout layout) {
  if (!bike) return;
  const BikeInfo& info = bike->info;
  const Snapshot d = decode(bike, state, layout);
  dBodyID* body = bike->body;
  const Vec3 frame_pos = fvec(info.frame_pos);
  const Vec3 steering_pos = fvec(info.steering_pos);
  const Vec3 fork_lower_pos = fvec(info.fork_lower_pos);
  const Vec3 swingarm_pos = fvec(info.swingarm_pos);
  const Vec3 pivot = fvec(info.swingarm_pivot);

  // Frame.
  set_position(body[FRAME], d.position);
  dQuaternion q = {d.quat[0], d.quat[1], d.quat[2], d.quat[3]};
  dBodySetQuaternion(body[FRAME], q);
  const dReal* frame_rot = dBodyGetRotation(body[FRAME]);

  // Steering head turned about the steering axis.
  dMatrix3 steering_rot;
  rotate_local(steering_rot, frame_rot, steering_pos - fork_lower_pos, d.steer);
  set_position(body[STEERING], body_point(body[FRAME], steering_pos - frame_pos));
  dBodySetRotation(body[STEERING], steering_rot);

  // Swing arm turned about its pivot.
  dMatrix3 rx;
  dRFromAxisAndAngle(rx, 1, 0, 0, d.swingarm);
  Vec3 arm = swingarm_pos - pivot;
  dVector3 arm_in = {0, arm.y, arm.z, 0};
  dVector3 arm_out;
  dMultiply0_331(arm_out, rx, arm_in);
  Vec3 swingarm_local = vec3(swingarm_pos.x - frame_pos.x, pivot.y + arm_out[1] - frame_pos.y,
                             pivot.z + arm_out[2] - frame_pos.z);
  dMatrix3 swingarm_rot;
  dMultiply0_333(swingarm_rot, frame_rot, rx);
  set_position(body[SWINGARM], body_point(body[FRAME], swingarm_local));
  dBodySetRotation(body[SWINGARM], swingarm_rot);

  // Lower fork slid along the steering axis.
  Vec3 leg = fork_lower_pos - steering_pos;
  Vec3 u = vec3_normalize(leg);
  set_position(body[FORK_LOWER], body_point(body[STEERING], leg + u * d.fork));
  dBodySetRotation(body[FORK_LOWER], steering_rot);

  // Rider.
  if (d.old_layout) {
    double r0 = info.rider_slide_range[0], r1 = info.rider_slide_range[1];
    double s = r0 + (r1 - r0) * d.rider_slide;
    Vec3 axis = vec3_normalize(fvec(info.rider_slide_axis));
    set_position(body[RIDER], body_point(body[FRAME], axis * s + fvec(info.rider_pos) - frame_pos));
    dBodySetRotation(body[RIDER], frame_rot);
  } else {
    set_position(body[RIDER], d.position + d.rider_offset);
    dQuaternion rq = {d.rider_quat[0], d.rider_quat[1], d.rider_quat[2], d.rider_quat[3]};
    dBodySetQuaternion(body[RIDER], rq);
  }

  // Wheels turned backwards about their axles.
  dMatrix3 wheel_rot;
  set_position(body[FRONT_WHEEL],
               body_point(body[FORK_LOWER], fvec(info.front_wheel.pos) - fork_lower_pos));
  rotate_local(wheel_rot, dBodyGetRotation(body[FORK_LOWER]), vec3(-1, 0, 0), d.front_angle);
  dBodySetRotation(body[FRONT_WHEEL], wheel_rot);
  set_position(body[REAR_WHEEL],
               body_point(body[SWINGARM], fvec(info.rear_wheel.pos) - swingarm_pos));
  rotate_local(wheel_rot, dBodyGetRotation(body[SWINGARM]), vec3(-1, 0, 0), d.rear_angle);
  dBodySetRotation(body[REAR_WHEEL], wheel_rot);

  apply_state_flags(bike, d.flags);
  bike->engine_speed = (float)d.engine_speed;
}

void bike_state_apply(Bike* bike, const BikeState& current, const BikeState& earlier,
                      const BikeState& later, int32_t n, BikeStateLayout layout) {
  if (!bike) return;
  if (bike->simulated > SIMULATED_THRESHOLD) {
    bike_state_correct(bike, current, earlier, later, n);
    return;
  }
  const int32_t countdown_before = bike->crash_countdown;
  dBodyID* body = bike->body;

  // The two bracketing poses give the velocities.
  Vec3 p0[BIKE_BODY_COUNT], p1[BIKE_BODY_COUNT];
  double q0[BIKE_BODY_COUNT][4], q1[BIKE_BODY_COUNT][4];
  bike_pose_from_state(bike, earlier, layout);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    p0[b] = dvec(dBodyGetPosition(body[b]));
    memcpy(q0[b], dBodyGetQuaternion(body[b]), sizeof q0[b]);
  }
  bike_pose_from_state(bike, later, layout);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    p1[b] = dvec(dBodyGetPosition(body[b]));
    memcpy(q1[b], dBodyGetQuaternion(body[b]), sizeof q1[b]);
  }
  const double m = n >= 2 ? n : 1;
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    Vec3 v = (p1[b] - p0[b]) * (1.0 / (m * TICK_SECONDS));
    Vec3 w = rotation_between(q0[b], q1[b]) * (1.0 / m);
    dBodySetLinearVel(body[b], v.x, v.y, v.z);
    dBodySetAngularVel(body[b], w.x, w.y, w.z);
  }

  bike_pose_from_state(bike, current, layout);

  // Never below the ground: the rear wheel's lowest point (along the frame's
  // down axis) is kept on the terrain.
  dVector3 down;
  dBodyVectorToWorld(body[FRAME], 0, -(double)bike->info.rear_wheel.ring_radius, 0, down);
  Vec3 p = dvec(dBodyGetPosition(body[REAR_WHEEL])) + dvec(down);
  double h = terrain_height_at((float)p.x, (float)p.z);
  if (h > p.y) {
    double lift = h - p.y;
    for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
      const dReal* q = dBodyGetPosition(body[b]);
      dBodySetPosition(body[b], q[0], q[1] + lift, q[2]);
    }
  }

  if (countdown_before == 0 && bike->crash_countdown != 0) feet_from_crash(bike);

  uint32_t flags = current.bytes[layout == STATE_LAYOUT_OLD ? OLD_FLAGS : STATE_FLAGS];
  if ((flags & 7) == GEAR_KNOCKED_OUT || (flags & FLAG_DAB)) {
    double anim = bike->dab_anim + DAB_ANIM_RISE * TICK_SECONDS;
    bike->dab_anim = (float)(anim < 1 ? anim : 1);
  }
}

void bike_state_correct(Bike* bike, const BikeState& current, const BikeState& earlier,
                        const BikeState& later, int32_t n) {
  if (!bike) return;
  const BikeInfo& info = bike->info;
  const Snapshot d = decode(bike, current, STATE_LAYOUT_CURRENT);
  const Snapshot da = decode(bike, earlier, STATE_LAYOUT_CURRENT);
  const Snapshot db = decode(bike, later, STATE_LAYOUT_CURRENT);
  dBodyID frame = bike->body[FRAME];

  // Gains: free for the first quarter second after a wake, then a growing pull.
  const double w = bike->simulated;
  double kp, kd;
  if (w > 0.75) {
    kp = 0;
    kd = 0;
  } else if (w > 0.5) {
    double q = clampd(4 * (0.75 - w), 0, 1);
    kp = CORRECT_KP * q;
    kd = CORRECT_KD * q;
  } else {
    double q = clampd(2 * (0.5 - w), 0, 1);
    kp = CORRECT_KP + CORRECT_KP_EXTRA * q;
    kd = CORRECT_KD;
  }

  const double ticks = n >= 1 ? n : 1;
  Vec3 target_velocity = (db.position - da.position) * (1.0 / (ticks * TICK_SECONDS));
  Vec3 x = dvec(dBodyGetPosition(frame));
  Vec3 v = dvec(dBodyGetLinearVel(frame));
  Vec3 force = limit_length(kp * (d.position - x) - kd * (v - target_velocity), CORRECT_LIMIT);
  dBodyAddForce(frame, force.x, force.y, force.z);

  const dReal* fq = dBodyGetQuaternion(frame);
  double q[4] = {fq[0], fq[1], fq[2], fq[3]};
  Vec3 omega = dvec(dBodyGetAngularVel(frame));
  Vec3 torque =
      limit_length(kp * TICK_SECONDS * rotation_between(q, d.quat) - kd * omega, CORRECT_LIMIT);
  dBodyAddTorque(frame, torque.x, torque.y, torque.z);

  double angle = dJointGetHingeAngle(bike->joint[STEERING_HEAD]);
  double rate = dJointGetHingeAngleRate(bike->joint[STEERING_HEAD]);
  bike->steer = (float)clampd(STEER_GAIN * (d.steer - angle - rate), -1, 1);

  const bool knocked_out = (d.flags & 7) == GEAR_KNOCKED_OUT;
  if (knocked_out && bike->crash_countdown == 0) feet_from_crash(bike);
  apply_state_flags(bike, d.flags);

  bike->dab = (!knocked_out && (d.flags & FLAG_DAB)) ? 1.0f : 0.0f;

  // The lean that puts the rider mount's fore-aft target where the snapshot
  // shows the rider.
  if (knocked_out) {
    bike->lean = 0;
  } else {
    double qt[4];
    normalize_quat(d.quat, qt);
    dMatrix3 r;
    dQtoR(qt, r);
    Vec3 axis_y = vec3(r[1], r[5], r[9]);
    Vec3 axis_z = vec3(r[2], r[6], r[10]);
    Vec3 seat = fvec(info.rider_pos) - fvec(info.frame_pos);
    double y = seat.y - vec3_dot(d.rider_offset, axis_y);
    double z = seat.z - vec3_dot(d.rider_offset, axis_z);
    bike->lean = (float)clampd((0.5 + bike->dab / 2) * y - z, -1, 1);
  }

  bike->engine_speed = (float)d.engine_speed;
}

Vec3 rotation_between(const double a[4], const double b[4]) {
  double qa[4], qb[4];
  normalize_quat(a, qa);
  normalize_quat(b, qb);
  // r = b * conj(a): the world-frame rotation turning a into b (b a^T).
  double w = qb[0] * qa[0] + qb[1] * qa[1] + qb[2] * qa[2] + qb[3] * qa[3];
  double x = -qb[0] * qa[1] + qb[1] * qa[0] - qb[2] * qa[3] + qb[3] * qa[2];
  double y = -qb[0] * qa[2] + qb[1] * qa[3] + qb[2] * qa[0] - qb[3] * qa[1];
  double z = -qb[0] * qa[3] - qb[1] * qa[2] + qb[2] * qa[1] + qb[3] * qa[0];
  if (w < 0) {  // the short way: angle 0..pi
    w = -w;
    x = -x;
    y = -y;
    z = -z;
  }
  double s = sqrt(x * x + y * y + z * z);
  if (!(s > 0)) return vec3(0, 0, 0);
  double angle = 2 * atan2(s, w);
  double k = angle / (s * TICK_SECONDS);
  return vec3(x * k, y * k, z * k);
}

void bike_wake(Bike* bike) {
  if (!bike) return;
  if (bike->simulated <= 0) {
    zero_accumulators(bike);
    bike->simulated = 1;
    enable_bodies(bike, true);
  } else if (bike->simulated <= SIMULATED_THRESHOLD) {
    zero_accumulators(bike);
    bike->simulated = SIMULATED_THRESHOLD;
    enable_bodies(bike, false);
  }
}

void bike_fade(Bike* bike) {
  if (!bike || bike->simulated <= 0) return;
  if (bike->simulated <= SIMULATED_THRESHOLD) zero_accumulators(bike);
  bike->simulated = (float)clampd(bike->simulated - TICK_SECONDS, 0, 1);
  enable_bodies(bike, bike->simulated > SIMULATED_THRESHOLD);
}
