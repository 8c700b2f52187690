// Posed bikes for the tests of the rider's controls, set-up and mount and of
// the stability controller: a bike of the bike-world fixture placed, leaned,
// rolled and moving at will, its fork turned about the steering axis, with
// helpers reading the steering torque and the bike's joints.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/messages.h"
#include "physics/bike.h"
#include "physics/catalogue.h"
#include "physics/drivetrain.h"
#include "physics/rider_control.h"
#include "physics/step.h"
#include "physics/world.h"
#include "tests/bike_fixture.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double DEG = PI / 180;
constexpr double H = 1.0 / 128;

// ---------------------------------------------------------------- posed bikes

inline Vec3 v3(const dReal* p) { return vec3(p[0], p[1], p[2]); }

class RiderWorld : public BikeWorld {
 protected:
  Bike* bike = nullptr;

  void SetUp() override {
    BikeWorld::SetUp();
    message_history_clear(message_history);
    bike = add_bike();
    ASSERT_NE(bike, nullptr);
  }

  Vec3 axis_world() {
    const BikeInfo& i = bike->info;
    Vec3 s = vec3_normalize(vec3(i.steering_pos[0] - i.fork_lower_pos[0],
                                 i.steering_pos[1] - i.fork_lower_pos[1],
                                 i.steering_pos[2] - i.fork_lower_pos[2]));
    dVector3 w;
    dBodyVectorToWorld(bike->body[FRAME], s.x, s.y, s.z, w);
    return v3(w);
  }
  Vec3 body_axis(int32_t body, int c) {
    const dReal* r = dBodyGetRotation(bike->body[body]);
    return vec3(r[c], r[4 + c], r[8 + c]);
  }
  double front_radius() {
    return bike->info.front_wheel.ring_radius + bike->info.front_wheel.tyre_radius;
  }
  double rear_radius() {
    return bike->info.rear_wheel.ring_radius + bike->info.rear_wheel.tyre_radius;
  }

  // The bike at (128, 128) facing -z, leaning by `lean` (positive to the
  // left) about its ground line, every body moving forward at `speed` and
  // rolling the frame at `roll` rad/s about its own z axis; the wheels spin
  // as they roll. The front wheel is marked as touching the ground.
  void pose(double lean, double speed, double roll = 0) {
    bike_reset_pose(bike);
    bike_rotate(bike, 0, 0, 1, lean);
    bike_translate(bike, 128, 0, 128);
    Vec3 back = body_axis(FRAME, 2);
    Vec3 centre = pos(bike, FRAME);
    for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
      Vec3 v = vec3(0, 0, -speed) + vec3_cross(back * roll, pos(bike, b) - centre);
      dBodySetLinearVel(bike->body[b], v.x, v.y, v.z);
      Vec3 w = back * roll;
      if (b == FRONT_WHEEL) w = w + body_axis(b, 0) * (-speed / front_radius());
      if (b == REAR_WHEEL) w = w + body_axis(b, 0) * (-speed / rear_radius());
      dBodySetAngularVel(bike->body[b], w.x, w.y, w.z);
    }
    bike->wheel_contact[WHEEL_FRONT].depth = 0.01;
    clear_torques();
  }
  // Turns the fork and the front wheel about the steering axis by angle.
  void turn_front(double angle) {
    Vec3 s = axis_world();
    dVector3 anchor;
    dJointGetHingeAnchor(bike->joint[STEERING_HEAD], anchor);
    dMatrix3 r;
    dRFromAxisAndAngle(r, s.x, s.y, s.z, angle);
    for (int32_t b : {STEERING, FORK_LOWER, FRONT_WHEEL}) {
      const dReal* old = dBodyGetRotation(bike->body[b]);
      dMatrix3 turned;
      dMultiply0_333(turned, r, old);
      dBodySetRotation(bike->body[b], turned);
      Vec3 p = v3(dBodyGetPosition(bike->body[b])) - v3(anchor);
      Vec3 q = vec3(r[0] * p.x + r[1] * p.y + r[2] * p.z, r[4] * p.x + r[5] * p.y + r[6] * p.z,
                    r[8] * p.x + r[9] * p.y + r[10] * p.z);
      dBodySetPosition(bike->body[b], anchor[0] + q.x, anchor[1] + q.y, anchor[2] + q.z);
    }
  }
  void clear_torques() {
    for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
      dBodySetForce(bike->body[b], 0, 0, 0);
      dBodySetTorque(bike->body[b], 0, 0, 0);
    }
  }
  // The steering torque of the last update: the front wheel's torque about
  // the steering axis (the frame takes the same torque negated).
  double steering_torque() {
    Vec3 tw = v3(dBodyGetTorque(bike->body[FRONT_WHEEL]));
    Vec3 tf = v3(dBodyGetTorque(bike->body[FRAME]));
    EXPECT_NEAR(vec3_length(tw + tf), 0, 1e-9);
    return vec3_dot(tw, axis_world());
  }
  // Moves the front wheel at `speed` so that its slip angle is `slip` (the
  // bike upright and the front straight).
  void set_front_slip(double slip, double speed = 20) {
    double sy = axis_world().y;
    dBodySetLinearVel(bike->body[FRONT_WHEEL], -speed * sin(slip), 0, -speed * cos(slip) / sy);
  }
  double steer_angle() { return dJointGetHingeAngle(bike->joint[STEERING_HEAD]); }
  int count_joints(int32_t body, int type) {
    int n = 0;
    for (int i = 0; i < dBodyGetNumJoints(bike->body[body]); i++)
      if (dJointGetType(dBodyGetJoint(bike->body[body], i)) == type) n++;
    return n;
  }
  dJointID find_joint(int32_t body, int type) {
    for (int i = 0; i < dBodyGetNumJoints(bike->body[body]); i++) {
      dJointID j = dBodyGetJoint(bike->body[body], i);
      if (dJointGetType(j) == type) return j;
    }
    return nullptr;
  }
};

}  // namespace
