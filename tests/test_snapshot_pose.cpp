// Bikes posed from snapshots: the forward kinematics checked through the
// joints' own readings (so posing and packing agree on every sign), the
// pack -> pose -> pack round trip, the flags byte, velocities from the
// bracketing entries, the ground lift, the crash feet and dab, the older
// layout, rotation_between, the correction of a woken bike, wake and fade.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "physics/crash.h"
#include "physics/snapshot_pose.h"
#include "race/race.h"
#include "tests/bike_fixture.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double H = 1.0 / 128.0;

Vec3 fv3(const float* p) { return vec3(p[0], p[1], p[2]); }

void quat_mul(const double a[4], const double b[4], double out[4]) {
  out[0] = a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3];
  out[1] = a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2];
  out[2] = a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1];
  out[3] = a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0];
}

void quat_axis_angle(Vec3 axis, double angle, double q[4]) {
  Vec3 u = vec3_normalize(axis);
  q[0] = cos(angle / 2);
  q[1] = u.x * sin(angle / 2);
  q[2] = u.y * sin(angle / 2);
  q[3] = u.z * sin(angle / 2);
}

// The values one snapshot carries, in physical units where that is simpler.
struct Snap {
  Vec3 pos = vec3(128, 4, 128);
  double quat[4] = {1, 0, 0, 0};
  uint8_t steer = 127, swingarm = 255, fork = 254;
  Vec3 offset = vec3(0, 0, 0);  // rider - frame; set from the seat by the fixture
  double rider_quat[4] = {1, 0, 0, 0};
  uint8_t front = 127, rear = 127, flags = 0;
  double rpm = 0;
};

class SnapshotPose : public BikeWorld {
 protected:
  Bike* bike = nullptr;
  Vec3 seat;  // rider_pos - frame_pos

  void SetUp() override {
    BikeWorld::SetUp();
    track.hf.min_height = -64;  // heights -64 .. 192 on the 256 ft field
    bike = add_bike();
    ASSERT_NE(bike, nullptr);
    const BikeInfo& info = bike->info;
    seat = vec3((double)info.rider_pos[0] - info.frame_pos[0],
                (double)info.rider_pos[1] - info.frame_pos[1],
                (double)info.rider_pos[2] - info.frame_pos[2]);
  }

  Snap snap() {
    Snap s;
    s.offset = seat;
    return s;
  }

  static BikeState make(const Snap& s) {
    BikeState b;
    memset(&b, 0, sizeof b);
    state_write(b.bytes + STATE_POS_X, 3, state_encode(s.pos.x, 0, 256, 24));
    state_write(b.bytes + STATE_POS_Y, 3, state_encode(s.pos.y, -64, 192, 24));
    state_write(b.bytes + STATE_POS_Z, 3, state_encode(s.pos.z, 0, 256, 24));
    for (int32_t i = 0; i < 4; i++) {
      state_write(b.bytes + STATE_QUAT + 2 * i, 2, state_encode(s.quat[i], -1, 1, 16));
      state_write(b.bytes + STATE_RIDER_QUAT + 2 * i, 2, state_encode(s.rider_quat[i], -1, 1, 16));
    }
    b.bytes[STATE_STEER] = s.steer;
    b.bytes[STATE_SWINGARM] = s.swingarm;
    b.bytes[STATE_FORK] = s.fork;
    double o[3] = {s.offset.x, s.offset.y, s.offset.z};
    for (int32_t i = 0; i < 3; i++)
      state_write(b.bytes + STATE_RIDER_OFFSET + 2 * i, 2, state_encode(o[i], -16, 16, 16));
    b.bytes[STATE_FRONT_WHEEL] = s.front;
    b.bytes[STATE_REAR_WHEEL] = s.rear;
    b.bytes[STATE_FLAGS] = s.flags;
    state_write(b.bytes + STATE_RPM, 2, state_encode(s.rpm, 0, 32768, 16));
    return b;
  }

  static Vec3 decoded_pos(const BikeState& b) {
    return vec3(state_decode(state_read(b.bytes + STATE_POS_X, 3), 0, 256, 24),
                state_decode(state_read(b.bytes + STATE_POS_Y, 3), -64, 192, 24),
                state_decode(state_read(b.bytes + STATE_POS_Z, 3), 0, 256, 24));
  }

  Vec3 frame_point(Vec3 p) {
    dVector3 out;
    dBodyGetRelPointPos(bike->body[FRAME], p.x, p.y, p.z, out);
    return fx_vec(out);
  }

  bool mounted() {
    return dJointGetBody(bike->joint[RIDER_MOUNT], 0) == bike->body[RIDER] &&
           dJointGetBody(bike->joint[RIDER_MOUNT], 1) == bike->body[FRAME];
  }

  void expect_near(Vec3 a, Vec3 b, double tol, const char* what) {
    EXPECT_NEAR(a.x, b.x, tol) << what;
    EXPECT_NEAR(a.y, b.y, tol) << what;
    EXPECT_NEAR(a.z, b.z, tol) << what;
  }
};

// ---------------------------------------------------------------- posing

struct JointCase {
  uint8_t steer, swingarm, fork, front, rear;
  double yaw, pitch;
};

// Every joint value of the snapshot reads back through the joint itself, so
// the bodies are placed with the signs that packing reads.
TEST_F(SnapshotPose, JointsReadBackTheSnapshotValues) {
  const BikeInfo& info = bike->info;
  const JointCase cases[] = {
      {127, 255, 255, 127, 127, 0, 0},     // extended: swing arm and fork at 0
      {0, 0, 0, 10, 240, 0, 0},            // full lock, fully compressed
      {255, 128, 100, 200, 60, 0.7, 0.2},  // turned and pitched bike
      {190, 40, 222, 1, 254, -2.5, -0.4},
  };
  for (const JointCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "steer " << (int)c.steer << " arm " << (int)c.swingarm);
    Snap s = snap();
    double qy[4], qx[4];
    quat_axis_angle(vec3(0, 1, 0), c.yaw, qy);
    quat_axis_angle(vec3(1, 0, 0), c.pitch, qx);
    quat_mul(qy, qx, s.quat);
    s.steer = c.steer;
    s.swingarm = c.swingarm;
    s.fork = c.fork;
    s.front = c.front;
    s.rear = c.rear;
    bike_pose_from_state(bike, make(s), STATE_LAYOUT_CURRENT);
    EXPECT_NEAR(dJointGetHingeAngle(bike->joint[STEERING_HEAD]), c.steer / 255.0 * PI / 2 - PI / 4,
                1e-9);
    EXPECT_NEAR(dJointGetHingeAngle(bike->joint[SWINGARM_PIVOT]),
                info.swingarm_max_angle * (c.swingarm / 255.0) - info.swingarm_max_angle, 1e-9);
    EXPECT_NEAR(dJointGetSliderPosition(bike->joint[FORK_SLIDER]),
                info.fork_travel * (c.fork / 255.0) - info.fork_travel, 1e-9);
    EXPECT_NEAR(dJointGetHingeAngle(bike->joint[FRONT_AXLE]), c.front / 255.0 * 2 * PI - PI, 1e-9);
    EXPECT_NEAR(dJointGetHingeAngle(bike->joint[REAR_AXLE]), c.rear / 255.0 * 2 * PI - PI, 1e-9);
    // The joints hold: each hinge's anchor is the same point seen from both bodies.
    for (BikeJoint j : {FRONT_AXLE, REAR_AXLE, STEERING_HEAD, SWINGARM_PIVOT}) {
      dVector3 a1, a2;
      dJointGetHingeAnchor(bike->joint[j], a1);
      dJointGetHingeAnchor2(bike->joint[j], a2);
      expect_near(fx_vec(a1), fx_vec(a2), 1e-9, "hinge anchor");
    }
  }
  // Byte 255 for swing arm and fork is the full extension, 0 the full travel.
  Snap s = snap();
  s.swingarm = 0;
  s.fork = 0;
  bike_pose_from_state(bike, make(s), STATE_LAYOUT_CURRENT);
  EXPECT_NEAR(dJointGetHingeAngle(bike->joint[SWINGARM_PIVOT]), -info.swingarm_max_angle, 1e-6);
  EXPECT_NEAR(dJointGetSliderPosition(bike->joint[FORK_SLIDER]), -info.fork_travel, 1e-6);
  s.swingarm = 255;
  s.fork = 255;
  bike_pose_from_state(bike, make(s), STATE_LAYOUT_CURRENT);
  EXPECT_NEAR(dJointGetHingeAngle(bike->joint[SWINGARM_PIVOT]), 0, 1e-12);
  EXPECT_NEAR(dJointGetSliderPosition(bike->joint[FORK_SLIDER]), 0, 1e-12);
}

// With extended suspension, nearly straight steering and identity
// orientations every body sits at its catalogue place relative to the frame.
TEST_F(SnapshotPose, NeutralSnapshotGivesTheResetGeometry) {
  const BikeInfo& info = bike->info;
  Snap s = snap();
  s.swingarm = 255;
  s.fork = 255;
  BikeState state = make(s);
  bike_pose_from_state(bike, state, STATE_LAYOUT_CURRENT);
  Vec3 frame = pos(bike, FRAME);
  expect_near(frame, decoded_pos(state), 1e-12, "frame");
  const Vec3 frame_pos = vec3(info.frame_pos[0], info.frame_pos[1], info.frame_pos[2]);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    const float* c = bike_reset_position(info, b);
    // The wheel angles and the steering are half a step off zero.
    double tol = b == FRONT_WHEEL ? 0.01 : 1e-3;
    SCOPED_TRACE(b);
    expect_near(pos(bike, b) - frame, vec3(c[0], c[1], c[2]) - frame_pos, tol, "body");
  }
}

// A bike in a non-trivial pose (turned, leaning, steered, suspension and
// wheels turned, rider off the seat, knocked out, engine running) packs to the
// same bytes after being posed from its own snapshot. Quaternions are
// normalised by the dynamics library and may move by one step.
TEST_F(SnapshotPose, PackPosePackGivesTheSameBytes) {
  Bike* source = add_bike(nullptr, 100, 140, 0.8);
  ASSERT_NE(source, nullptr);
  source->throttle = 1;
  source->steer = 0.4f;
  run_ticks(100);
  bike_rotate(bike, 0, 1, 0, 0);  // leave the target in some other pose
  source->crash_countdown = 128;
  source->dab_anim = 0;
  BikeState first = bike_state_pack(source);
  // Sanity: the pose is not trivial.
  EXPECT_NE(first.bytes[STATE_STEER], 127);
  EXPECT_NE(first.bytes[STATE_FORK], 254);
  EXPECT_NE(first.bytes[STATE_SWINGARM], 255);
  EXPECT_NE(first.bytes[STATE_REAR_WHEEL], 127);
  EXPECT_NE(state_read(first.bytes + STATE_RPM, 2), 0u);

  bike_pose_from_state(bike, first, STATE_LAYOUT_CURRENT);
  EXPECT_FALSE(mounted());
  BikeState second = bike_state_pack(bike);
  for (int32_t i = 0; i < BIKE_STATE_BYTES;) {
    bool quat = (i >= STATE_QUAT && i < STATE_QUAT + 8) ||
                (i >= STATE_RIDER_QUAT && i < STATE_RIDER_QUAT + 8);
    if (quat) {
      int32_t a = (int32_t)state_read(first.bytes + i, 2);
      int32_t b = (int32_t)state_read(second.bytes + i, 2);
      EXPECT_LE(abs(a - b), 1) << "quaternion field at byte " << i;
      i += 2;
    } else {
      EXPECT_EQ(first.bytes[i], second.bytes[i]) << "byte " << i;
      i++;
    }
  }

  // Riding again: the same holds with the rider back on the bike.
  source->crash_countdown = 0;
  source->gear = 3;
  source->throttle = 0.6f;
  first = bike_state_pack(source);
  bike_pose_from_state(bike, first, STATE_LAYOUT_CURRENT);
  EXPECT_TRUE(mounted());
  second = bike_state_pack(bike);
  for (int32_t i = STATE_STEER; i < STATE_RIDER_QUAT; i++)
    EXPECT_EQ(first.bytes[i], second.bytes[i]) << i;
  for (int32_t i = STATE_FRONT_WHEEL; i < BIKE_STATE_BYTES; i++)
    EXPECT_EQ(first.bytes[i], second.bytes[i]) << i;
  for (int32_t i = 0; i < STATE_QUAT; i++) EXPECT_EQ(first.bytes[i], second.bytes[i]) << i;
}

// Every field of a snapshot survives posing and packing again.
TEST_F(SnapshotPose, PosePackGivesTheSnapshotBack) {
  Snap s = snap();
  s.pos = vec3(130.3, 5.2, 97.1);
  double yaw[4], roll[4];
  quat_axis_angle(vec3(0, 1, 0), 2.2, yaw);
  quat_axis_angle(vec3(0.2, 0.1, 1), 0.35, roll);
  quat_mul(yaw, roll, s.quat);
  quat_axis_angle(vec3(0.1, 1, 0.3), 2.1, s.rider_quat);
  s.steer = 201;
  s.swingarm = 77;
  s.fork = 130;
  s.offset = seat + vec3(0.1, -0.2, 0.3);
  s.front = 30;
  s.rear = 220;
  s.rpm = 12345;
  for (uint8_t flags : {0xF7, 0x6B, 0x02}) {
    SCOPED_TRACE((int)flags);
    s.flags = flags;
    BikeState in = make(s);
    bike->dab_anim = (flags & 8) ? 0.5f : 0;
    bike_pose_from_state(bike, in, STATE_LAYOUT_CURRENT);
    BikeState out = bike_state_pack(bike);
    for (int32_t i = 0; i < BIKE_STATE_BYTES; i++) {
      bool quat = (i >= STATE_QUAT && i < STATE_QUAT + 8) ||
                  (i >= STATE_RIDER_QUAT && i < STATE_RIDER_QUAT + 8);
      if (!quat) {
        EXPECT_EQ(in.bytes[i], out.bytes[i]) << "byte " << i;
      }
    }
    for (int32_t offset : {STATE_QUAT, STATE_RIDER_QUAT})
      for (int32_t i = 0; i < 4; i++) {
        int32_t a = (int32_t)state_read(in.bytes + offset + 2 * i, 2);
        int32_t b = (int32_t)state_read(out.bytes + offset + 2 * i, 2);
        EXPECT_LE(abs(a - b), 1) << "quaternion at byte " << offset + 2 * i;
      }
  }
}

struct FlagsCase {
  uint8_t flags;
  int32_t crash_countdown, gear;
  float throttle;
};

TEST_F(SnapshotPose, FlagsByteSetsCrashGearAndThrottle) {
  const float ratios[GEAR_COUNT] = {3.0f, 2.0f, 1.5f, 1.2f, 1.0f, 0.9f};
  memcpy(bike->info.gear_ratio, ratios, sizeof ratios);
  bike->gear = 1;
  const FlagsCase cases[] = {
      {0xF7, 128, 1, 0},        // knocked out, longest time; gear kept
      {0x07, 1, 1, 0},          // knocked out, shortest time
      {0x77, 60, 1, 0},         // floor(7 * 127 / 15) + 1
      {0x06, 0, 5, 0},          // gear 6 is read as the fifth
      {0xF2, 0, 2, 1},          // full throttle
      {0x8B, 0, 3, 8 / 15.0f},  // dab bit does not change gear or throttle
  };
  for (const FlagsCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << (int)c.flags);
    Snap s = snap();
    s.flags = c.flags;
    bike_pose_from_state(bike, make(s), STATE_LAYOUT_CURRENT);
    EXPECT_EQ(bike->crash_countdown, c.crash_countdown);
    EXPECT_EQ(bike->gear, c.gear);
    EXPECT_FLOAT_EQ(bike->throttle, c.throttle);
    EXPECT_EQ(mounted(), c.crash_countdown == 0);
  }
  // Absent gears fall to the next lower present one.
  bike->info.gear_ratio[5] = 0;
  bike->info.gear_ratio[4] = -1;
  for (uint8_t g : {4, 5, 6}) {
    Snap s = snap();
    s.flags = g;
    bike_pose_from_state(bike, make(s), STATE_LAYOUT_CURRENT);
    EXPECT_EQ(bike->gear, 3) << (int)g;
  }
}

TEST_F(SnapshotPose, EngineSpeedFromTheLastTwoBytes) {
  Snap s = snap();
  s.rpm = 9000;
  bike_pose_from_state(bike, make(s), STATE_LAYOUT_CURRENT);
  EXPECT_NEAR(bike->engine_speed, 9000 * 2 * PI / 60, 0.1);
}

// The remount puts the rider at its seat while the mount is attached, so the
// joint's anchor lies where it was built relative to the frame, whatever the
// snapshot shows of the rider.
TEST_F(SnapshotPose, RemountAttachesTheMountFromTheSeat) {
  const BikeInfo& info = bike->info;
  Snap s = snap();
  s.flags = 0xF7;
  s.offset = vec3(1.5, -1, 2.5);
  bike_pose_from_state(bike, make(s), STATE_LAYOUT_CURRENT);
  EXPECT_FALSE(mounted());
  quat_axis_angle(vec3(0, 1, 0), 0.3, s.quat);
  s.offset = seat + vec3(0, 0.2, 0.3);
  s.flags = 0x30;
  BikeState riding = make(s);
  bike_pose_from_state(bike, riding, STATE_LAYOUT_CURRENT);
  EXPECT_TRUE(mounted());
  EXPECT_EQ(bike->crash_countdown, 0);
  // The rider stays where the snapshot shows it.
  Vec3 offset =
      vec3(state_decode(state_read(riding.bytes + STATE_RIDER_OFFSET, 2), -16, 16, 16),
           state_decode(state_read(riding.bytes + STATE_RIDER_OFFSET + 2, 2), -16, 16, 16),
           state_decode(state_read(riding.bytes + STATE_RIDER_OFFSET + 4, 2), -16, 16, 16));
  expect_near(pos(bike, RIDER), pos(bike, FRAME) + offset, 1e-9, "rider");
  dVector3 anchor;
  dJointGetHinge2Anchor2(bike->joint[RIDER_MOUNT], anchor);
  Vec3 expect = frame_point(vec3(-info.frame_pos[0], (double)info.rider_pos[1] - info.frame_pos[1],
                                 -RIDER_MOUNT_REACH - info.frame_pos[2]));
  expect_near(fx_vec(anchor), expect, 1e-6, "mount anchor on the frame");
}

TEST_F(SnapshotPose, OlderLayoutSlidesTheRiderAlongItsAxis) {
  const BikeInfo& info = bike->info;
  Vec3 axis = vec3_normalize(
      vec3(info.rider_slide_axis[0], info.rider_slide_axis[1], info.rider_slide_axis[2]));
  struct Case {
    uint8_t slide;
    double s;
  };
  const double r0 = info.rider_slide_range[0], r1 = info.rider_slide_range[1];
  const Case cases[] = {{0, r0}, {255, r1}, {51, r0 + (r1 - r0) * 0.2}};
  for (const Case& c : cases) {
    for (uint8_t fill : {0x00, 0xFF}) {  // bytes past the older layout do not matter
      Snap sn = snap();
      quat_axis_angle(vec3(0.3, 1, 0.1), 1.1, sn.quat);
      BikeState s = make(sn);
      memset(s.bytes + BIKE_STATE_OLD_BYTES, fill, BIKE_STATE_BYTES - BIKE_STATE_OLD_BYTES);
      s.bytes[20] = c.slide;
      s.bytes[21] = 200;  // front wheel
      s.bytes[22] = 40;   // rear wheel
      s.bytes[23] = 0x52;
      state_write(s.bytes + 24, 2, state_encode(4000, 0, 32768, 16));
      bike_pose_from_state(bike, s, STATE_LAYOUT_OLD);
      Vec3 expect =
          frame_point(axis * c.s + vec3(info.rider_pos[0], info.rider_pos[1], info.rider_pos[2]) -
                      vec3(info.frame_pos[0], info.frame_pos[1], info.frame_pos[2]));
      expect_near(pos(bike, RIDER), expect, 1e-9, "rider");
      const dReal* rr = dBodyGetRotation(bike->body[RIDER]);
      const dReal* fr = dBodyGetRotation(bike->body[FRAME]);
      for (int32_t i = 0; i < 12; i++) EXPECT_NEAR(rr[i], fr[i], 1e-12);
      EXPECT_NEAR(dJointGetHingeAngle(bike->joint[FRONT_AXLE]), 200 / 255.0 * 2 * PI - PI, 1e-9);
      EXPECT_NEAR(dJointGetHingeAngle(bike->joint[REAR_AXLE]), 40 / 255.0 * 2 * PI - PI, 1e-9);
      EXPECT_EQ(bike->gear, 2);
      EXPECT_FLOAT_EQ(bike->throttle, 5 / 15.0f);
      EXPECT_NEAR(bike->engine_speed, 4000 * 2 * PI / 60, 0.1);
    }
  }
}

// ---------------------------------------------------------------- apply

class SnapshotPoseApply : public SnapshotPose {
 protected:
  void SetUp() override {
    SnapshotPose::SetUp();
    bike_disable(bike);
  }
};

TEST_F(SnapshotPoseApply, IdenticalBracketingSnapshotsGiveZeroVelocities) {
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    dBodySetLinearVel(bike->body[b], 1, 2, 3);
    dBodySetAngularVel(bike->body[b], 4, 5, 6);
  }
  Snap s = snap();
  quat_axis_angle(vec3(0.2, 1, -0.3), 0.9, s.quat);
  s.steer = 170;
  s.front = 33;
  BikeState state = make(s);
  bike_state_apply(bike, state, state, state, 8, STATE_LAYOUT_CURRENT);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    expect_near(vel(bike, b), vec3(0, 0, 0), 1e-12, "linear");
    expect_near(fx_vec(dBodyGetAngularVel(bike->body[b])), vec3(0, 0, 0), 1e-12, "angular");
  }
}

TEST_F(SnapshotPoseApply, VelocitiesSpreadOverTheTickDistance) {
  Snap a = snap(), b = snap(), now = snap();
  b.pos = a.pos + vec3(0.5, 0.1, -0.25);
  now.pos = a.pos + vec3(0.25, 0.05, -0.125);
  quat_axis_angle(vec3(0, 1, 0), 0.04, b.quat);
  quat_axis_angle(vec3(0, 1, 0), 0.02, now.quat);
  BikeState sa = make(a), sb = make(b), sn = make(now);
  Vec3 delta = decoded_pos(sb) - decoded_pos(sa);
  struct Case {
    int32_t n;
    double m;
  };
  // Each body moves from its earlier to its later pose over the distance.
  Vec3 p0[BIKE_BODY_COUNT], p1[BIKE_BODY_COUNT];
  bike_pose_from_state(bike, sa, STATE_LAYOUT_CURRENT);
  for (int32_t k = 0; k < BIKE_BODY_COUNT; k++) p0[k] = pos(bike, k);
  bike_pose_from_state(bike, sb, STATE_LAYOUT_CURRENT);
  for (int32_t k = 0; k < BIKE_BODY_COUNT; k++) p1[k] = pos(bike, k);
  for (Case c : {Case{4, 4}, Case{2, 2}, Case{1, 1}, Case{0, 1}}) {
    SCOPED_TRACE(c.n);
    bike_state_apply(bike, sn, sa, sb, c.n, STATE_LAYOUT_CURRENT);
    expect_near(vel(bike, FRAME), delta * (1 / (c.m * H)), 1e-6, "frame");
    for (int32_t k = 0; k < BIKE_BODY_COUNT; k++)
      expect_near(vel(bike, k), (p1[k] - p0[k]) * (1 / (c.m * H)), 1e-6, "body");
    // The yaw of 0.04 rad over the distance, for the frame and the bodies turning with it.
    for (int32_t k : {FRAME, STEERING, SWINGARM})
      expect_near(fx_vec(dBodyGetAngularVel(bike->body[k])), vec3(0, 0.04 / (c.m * H), 0), 0.02,
                  "angular");
    // The bike is left at the current snapshot.
    expect_near(pos(bike, FRAME), decoded_pos(sn), 1e-9, "position");
  }
}

// The whole bike is lifted until the rear wheel's lowest point along the
// frame's down axis is on the ground; a bike above the ground stays.
TEST_F(SnapshotPoseApply, SinkingRearWheelLiftsTheWholeBike) {
  set_ground([](double x, double) { return 0.05 * (x - 128); });
  track.hf.min_height = -64;
  const WheelInfo& rear = bike->info.rear_wheel;
  for (double sink : {0.4, -0.3}) {
    SCOPED_TRACE(sink);
    Snap s = snap();
    quat_axis_angle(vec3(1, 0, 0.2), 0.15, s.quat);
    s.swingarm = 90;
    BikeState probe = make(s);
    bike_pose_from_state(bike, probe, STATE_LAYOUT_CURRENT);
    Vec3 before[BIKE_BODY_COUNT];
    dVector3 down;
    dBodyVectorToWorld(bike->body[FRAME], 0, -rear.ring_radius, 0, down);
    Vec3 low = pos(bike, REAR_WHEEL) + fx_vec(down);
    double ground = terrain_height_at((float)low.x, (float)low.z);
    s.pos.y += ground - low.y - sink;  // the lowest point `sink` below the ground
    BikeState state = make(s);
    bike_pose_from_state(bike, state, STATE_LAYOUT_CURRENT);
    for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) before[b] = pos(bike, b);

    bike_state_apply(bike, state, state, state, 1, STATE_LAYOUT_CURRENT);
    double lift = pos(bike, FRAME).y - before[FRAME].y;
    for (int32_t b = 0; b < BIKE_BODY_COUNT; b++)
      expect_near(pos(bike, b), before[b] + vec3(0, lift, 0), 1e-9, "moved as a whole");
    dBodyVectorToWorld(bike->body[FRAME], 0, -rear.ring_radius, 0, down);
    low = pos(bike, REAR_WHEEL) + fx_vec(down);
    if (sink > 0) {
      EXPECT_NEAR(low.y, terrain_height_at((float)low.x, (float)low.z), 1e-4);
    } else {
      EXPECT_EQ(lift, 0);
    }
  }
}

// A rider who comes off in the snapshots gets the foot particles of a crash:
// the riding feet, moving with the rider.
TEST_F(SnapshotPoseApply, CrashInTheSnapshotsSetsTheFootParticles) {
  Snap riding = snap(), down = snap();
  down.flags = 0xF7;
  down.pos = riding.pos + vec3(0, 0, -0.5);
  BikeState sr = make(riding), sd = make(down);
  bike_state_apply(bike, sr, sr, sr, 4, STATE_LAYOUT_CURRENT);
  ASSERT_EQ(bike->crash_countdown, 0);
  for (int32_t i = 0; i < 3; i++) bike->left_foot_pos[i] = bike->right_foot_pos[i] = 999;

  bike_state_apply(bike, sd, sr, sd, 4, STATE_LAYOUT_CURRENT);
  EXPECT_EQ(bike->crash_countdown, 128);
  EXPECT_FALSE(mounted());
  // The feet as riding, before this tick's foot-down pose rose.
  EXPECT_FLOAT_EQ(bike->dab_anim, (float)(8 * H));
  int32_t countdown = bike->crash_countdown;
  bike->crash_countdown = 0;
  bike->dab_anim = 0;
  FeetPose feet = feet_pose(bike);
  bike->crash_countdown = countdown;
  expect_near(fv3(bike->left_foot_pos), feet.left, 1e-5, "left foot");
  expect_near(fv3(bike->right_foot_pos), feet.right, 1e-5, "right foot");
  dVector3 v;
  dBodyGetPointVel(bike->body[RIDER], feet.left.x, feet.left.y, feet.left.z, v);
  expect_near(fv3(bike->left_foot_vel), fx_vec(v), 1e-4, "left foot velocity");
  EXPECT_NEAR(bike->left_foot_vel[2], -0.5 / (4 * H), 0.01);  // moving with the rider
  dBodyGetPointVel(bike->body[RIDER], feet.right.x, feet.right.y, feet.right.z, v);
  expect_near(fv3(bike->right_foot_vel), fx_vec(v), 1e-4, "right foot velocity");

  // Still down in the next snapshot: the particles are left to the feet.
  for (int32_t i = 0; i < 3; i++) bike->left_foot_pos[i] = 999;
  bike_state_apply(bike, sd, sd, sd, 4, STATE_LAYOUT_CURRENT);
  EXPECT_EQ(bike->left_foot_pos[0], 999);
  // Back up: the rider is remounted.
  bike_state_apply(bike, sr, sd, sr, 4, STATE_LAYOUT_CURRENT);
  EXPECT_EQ(bike->crash_countdown, 0);
  EXPECT_TRUE(mounted());
}

TEST_F(SnapshotPoseApply, DabAndKnockedOutRaiseTheFootDownPose) {
  struct Case {
    uint8_t flags;
    bool rises;
  };
  for (Case c : {Case{0x08, true}, Case{0x07, true}, Case{0xF3, false}}) {
    SCOPED_TRACE((int)c.flags);
    Snap s = snap();
    s.flags = c.flags;
    BikeState state = make(s);
    bike->dab_anim = 0.5f;
    bike_state_apply(bike, state, state, state, 1, STATE_LAYOUT_CURRENT);
    EXPECT_FLOAT_EQ(bike->dab_anim, c.rises ? 0.5f + 8 * H : 0.5f);
    for (int32_t k = 0; k < 10; k++)
      bike_state_apply(bike, state, state, state, 1, STATE_LAYOUT_CURRENT);
    EXPECT_FLOAT_EQ(bike->dab_anim, c.rises ? 1.0f : 0.5f);
  }
  // The older layout keeps its flags in byte 23.
  Snap s = snap();
  BikeState old = make(s);
  old.bytes[23] = 0x08;
  old.bytes[STATE_FLAGS] = 0;
  bike->dab_anim = 0;
  bike_state_apply(bike, old, old, old, 1, STATE_LAYOUT_OLD);
  EXPECT_FLOAT_EQ(bike->dab_anim, (float)(8 * H));
}

// ---------------------------------------------------------------- rotation_between

// Axis x angle of the rotation matrix b * a^T, from the matrices.
Vec3 exact_rotation(const double qa[4], const double qb[4]) {
  dMatrix3 ra, rb, r;
  dQtoR(qa, ra);
  dQtoR(qb, rb);
  dMultiply2_333(r, rb, ra);  // rb * ra^T
  double trace = r[0] + r[5] + r[10];
  double angle = acos(fmax(-1.0, fmin(1.0, (trace - 1) / 2)));
  Vec3 axis = vec3(r[9] - r[6], r[2] - r[8], r[4] - r[1]);  // 2 sin(angle) * axis
  if (vec3_length(axis) < 1e-15) return vec3(0, 0, 0);
  return vec3_normalize(axis) * angle;
}

TEST(SnapshotPoseRotation, RotationBetweenIsTheAxisAngleOfTheChange) {
  struct Case {
    Vec3 axis_a;
    double angle_a;
    Vec3 axis_d;
    double angle_d;
  };
  const Case cases[] = {
      {vec3(0, 1, 0), 0, vec3(0, 1, 0), PI / 2},
      {vec3(1, 0, 0), 0.3, vec3(0, 0, 1), 0.01},
      {vec3(1, 2, 3), 1.2, vec3(-1, 0.5, 0.2), 2.0},
      {vec3(0.3, -1, 0.2), 2.9, vec3(1, 1, 0), 3.1},
      {vec3(0, 0, 1), -0.7, vec3(0.5, 0.5, -1), 1e-6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.angle_d);
    double qa[4], qd[4], qb[4];
    quat_axis_angle(c.axis_a, c.angle_a, qa);
    quat_axis_angle(c.axis_d, c.angle_d, qd);
    quat_mul(qd, qa, qb);  // b = d * a
    Vec3 r = rotation_between(qa, qb) * H;
    Vec3 expect = vec3_normalize(c.axis_d) * c.angle_d;
    EXPECT_NEAR(r.x, expect.x, 1e-9);
    EXPECT_NEAR(r.y, expect.y, 1e-9);
    EXPECT_NEAR(r.z, expect.z, 1e-9);
    if (c.angle_d > 1e-3) {  // the matrix extraction loses precision for tiny angles
      Vec3 m = exact_rotation(qa, qb);
      EXPECT_NEAR(r.x, m.x, 1e-7);
      EXPECT_NEAR(r.y, m.y, 1e-7);
      EXPECT_NEAR(r.z, m.z, 1e-7);
    }
    // The sign of a quaternion does not matter, nor does its length.
    double nb[4] = {-2 * qb[0], -2 * qb[1], -2 * qb[2], -2 * qb[3]};
    Vec3 r2 = rotation_between(qa, nb) * H;
    EXPECT_NEAR(r2.x, expect.x, 1e-9);
    EXPECT_NEAR(r2.y, expect.y, 1e-9);
    EXPECT_NEAR(r2.z, expect.z, 1e-9);
  }
  double q[4] = {0.5, 0.5, -0.5, 0.5};
  Vec3 zero = rotation_between(q, q);
  EXPECT_EQ(zero.x, 0);
  EXPECT_EQ(zero.y, 0);
  EXPECT_EQ(zero.z, 0);
  // Divided by the tick: a quarter turn in one tick.
  double id[4] = {1, 0, 0, 0}, quarter[4];
  quat_axis_angle(vec3(0, 0, 1), PI / 2, quarter);
  EXPECT_NEAR(rotation_between(id, quarter).z, PI / 2 * 128, 1e-9);
}

// ---------------------------------------------------------------- woken bikes

TEST_F(SnapshotPose, WakeAndFade) {
  bike_disable(bike);
  dBodyAddForce(bike->body[FRAME], 10, 0, 0);
  bike_wake(bike);
  EXPECT_EQ(bike->simulated, 1.0f);
  EXPECT_TRUE(dBodyIsEnabled(bike->body[RIDER]));
  EXPECT_EQ(dBodyGetForce(bike->body[FRAME])[0], 0);
  bike_wake(bike);  // awake: nothing
  EXPECT_EQ(bike->simulated, 1.0f);

  int32_t ticks = 0;
  while (bike->simulated > 0.25f && ticks < 1000) {
    EXPECT_TRUE(dBodyIsEnabled(bike->body[FRAME])) << ticks;
    bike_fade(bike);
    ticks++;
  }
  EXPECT_EQ(ticks, 96);  // 0.75 s simulated
  EXPECT_FLOAT_EQ(bike->simulated, 0.25f);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) EXPECT_FALSE(dBodyIsEnabled(bike->body[b]));

  // Hit again while fading out: not woken, held at 0.25 and disabled.
  for (int32_t k = 0; k < 19; k++) bike_fade(bike);
  EXPECT_NEAR(bike->simulated, 0.25 - 19 * H, 1e-6);  // about 0.1
  dBodyAddTorque(bike->body[SWINGARM], 0, 5, 0);
  bike_wake(bike);
  EXPECT_FLOAT_EQ(bike->simulated, 0.25f);
  EXPECT_FALSE(dBodyIsEnabled(bike->body[FRAME]));
  EXPECT_EQ(dBodyGetTorque(bike->body[SWINGARM])[1], 0);

  for (int32_t k = 0; k < 32; k++) bike_fade(bike);
  EXPECT_EQ(bike->simulated, 0.0f);
  bike_fade(bike);
  EXPECT_EQ(bike->simulated, 0.0f);
  EXPECT_FALSE(dBodyIsEnabled(bike->body[FRAME]));
}

struct GainCase {
  float simulated;
  double kp, kd;
};

TEST_F(SnapshotPose, CorrectionPullsAWokenBikeTowardsTheSnapshots) {
  const GainCase cases[] = {
      {1.0f, 0, 0},                                 // the first quarter second runs free
      {0.75f, 0, 0},         {0.625f, 2500, 250},   // Q = 4 * 0.125
      {0.5f, 5000, 500},     {0.375f, 16250, 500},  // Q = 2 * 0.125
      {0.3125f, 21875, 500},                        // Q = 2 * 0.1875
  };
  Snap a = snap(), b = snap(), now = snap();
  a.pos = vec3(128, 2, 128);
  b.pos = a.pos + vec3(0.16, 0, -0.32);
  now.pos = a.pos + vec3(0.02, 0.01, -0.04);
  quat_axis_angle(vec3(0, 1, 0), 0.01, now.quat);
  now.steer = 160;
  BikeState sa = make(a), sb = make(b), sn = make(now);
  const Vec3 target_v = (decoded_pos(sb) - decoded_pos(sa)) * (1 / (2 * H));
  for (const GainCase& c : cases) {
    SCOPED_TRACE(c.simulated);
    bike_pose_from_state(bike, make(a), STATE_LAYOUT_CURRENT);
    bike_enable(bike);
    bike->simulated = c.simulated;
    Vec3 x = decoded_pos(sa);
    Vec3 v = target_v + vec3(0.5, 0, -0.3);
    Vec3 w = vec3(0, 0.2, 0);
    dBodySetLinearVel(bike->body[FRAME], v.x, v.y, v.z);
    dBodySetAngularVel(bike->body[FRAME], w.x, w.y, w.z);
    dBodySetForce(bike->body[FRAME], 0, 0, 0);
    dBodySetTorque(bike->body[FRAME], 0, 0, 0);
    double angle = dJointGetHingeAngle(bike->joint[STEERING_HEAD]);
    double rate = dJointGetHingeAngleRate(bike->joint[STEERING_HEAD]);
    bike_state_apply(bike, sn, sa, sb, 2, STATE_LAYOUT_CURRENT);  // awake: the correction
    Vec3 force = c.kp * (decoded_pos(sn) - x) - c.kd * (v - target_v);
    expect_near(fx_vec(dBodyGetForce(bike->body[FRAME])), force, 1e-6, "force");
    const dReal* fq = dBodyGetQuaternion(bike->body[FRAME]);
    double q[4] = {fq[0], fq[1], fq[2], fq[3]};
    double qt[4];
    for (int32_t i = 0; i < 4; i++)
      qt[i] = state_decode(state_read(sn.bytes + STATE_QUAT + 2 * i, 2), -1, 1, 16);
    Vec3 torque = c.kp * H * rotation_between(q, qt) - c.kd * w;
    expect_near(fx_vec(dBodyGetTorque(bike->body[FRAME])), torque, 1e-6, "torque");
    // The bodies were not posed.
    expect_near(pos(bike, FRAME), x, 1e-12, "frame stays");
    EXPECT_NEAR(bike->steer, 0.25 * (160 / 255.0 * PI / 2 - PI / 4 - angle - rate), 1e-6);
  }

  // Far from the track the pull is at most 2500 lbf and 2500 lbf ft.
  bike_pose_from_state(bike, make(a), STATE_LAYOUT_CURRENT);
  bike->simulated = 0.25f;
  dBodySetForce(bike->body[FRAME], 0, 0, 0);
  dBodySetTorque(bike->body[FRAME], 0, 0, 0);
  Snap far = now;
  far.pos = a.pos + vec3(5, 0, 0);
  quat_axis_angle(vec3(0, 1, 0), 1.0, far.quat);
  bike_state_correct(bike, make(far), sa, sb, 2);
  EXPECT_NEAR(vec3_length(fx_vec(dBodyGetForce(bike->body[FRAME]))), 2500, 1e-6);
  EXPECT_NEAR(vec3_length(fx_vec(dBodyGetTorque(bike->body[FRAME]))), 2500, 1e-6);
  EXPECT_GT(dBodyGetForce(bike->body[FRAME])[0], 2400);
}

// The controls of a woken bike follow the snapshot: crash state, gear and
// throttle, dab, and the lean that puts the rider where the snapshot shows.
TEST_F(SnapshotPose, CorrectionRebuildsTheControls) {
  bike->simulated = 1;
  Snap s = snap();
  s.flags = 0x9A;  // gear 2, dab, throttle 9
  s.offset = seat + vec3(0, -0.1, 0.2);
  BikeState state = make(s);
  bike_state_correct(bike, state, state, state, 1);
  EXPECT_EQ(bike->gear, 2);
  EXPECT_FLOAT_EQ(bike->throttle, 9 / 15.0f);
  EXPECT_EQ(bike->dab, 1.0f);
  // y = 0.1, z = -0.2: lean = (0.5 + 0.5) * 0.1 + 0.2.
  EXPECT_NEAR(bike->lean, 0.3, 1e-3);

  s.flags = 0x12;  // no dab: lean = 0.5 * 0.1 + 0.2
  bike_state_correct(bike, make(s), state, state, 1);
  EXPECT_EQ(bike->dab, 0.0f);
  EXPECT_NEAR(bike->lean, 0.25, 1e-3);

  // Knocked out in the snapshot: feet as in a crash, rider off, no controls.
  for (int32_t i = 0; i < 3; i++) bike->left_foot_pos[i] = 999;
  s.flags = 0x3F;
  bike_state_correct(bike, make(s), state, state, 1);
  EXPECT_EQ(bike->crash_countdown, (int32_t)(3 * 127 / 15) + 1);
  EXPECT_FALSE(mounted());
  EXPECT_EQ(bike->throttle, 0.0f);
  EXPECT_EQ(bike->dab, 0.0f);
  EXPECT_EQ(bike->lean, 0.0f);
  EXPECT_LT(bike->left_foot_pos[0], 900);
  // Back on the bike: remounted where the rider is.
  Vec3 rider = pos(bike, RIDER);
  s.flags = 0x01;
  bike_state_correct(bike, make(s), state, state, 1);
  EXPECT_EQ(bike->crash_countdown, 0);
  EXPECT_TRUE(mounted());
  expect_near(pos(bike, RIDER), rider, 1e-12, "rider left in place");
  EXPECT_EQ(bike->gear, 1);
}

}  // namespace
