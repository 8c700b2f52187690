// Posed bikes for the tests of the dab, back-up, realignment, crash checks,
// the knocked-out rider's recovery and the foot particles: a bike of the
// bike-world fixture reset, leaned, turned and moved at will, with helpers for
// the forces and one-tick joints the pieces under test leave behind.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "physics/crash.h"
#include "physics/rider_control.h"
#include "tests/bike_fixture.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double H = 1.0 / 128.0;

inline Vec3 fv3(const float* p) { return vec3(p[0], p[1], p[2]); }

// The lean of a posed bike, as the rider-control convention defines it.
inline double posed_lean(const Bike* b) {
  const dReal* r = dBodyGetRotation(b->body[FRAME]);
  Vec3 up = vec3(r[1], r[5], r[9]);
  Vec3 forward = vec3_normalize(vec3(-r[2], 0, -r[10]));
  Vec3 right = vec3_cross(forward, vec3(0, 1, 0));
  return -asin(vec3_dot(up, right));
}

inline std::vector<dJointID> joints_of(dBodyID body, dJointType type) {
  std::vector<dJointID> out;
  for (int i = 0; i < dBodyGetNumJoints(body); i++) {
    dJointID j = dBodyGetJoint(body, i);
    if (dJointGetType(j) == type) out.push_back(j);
  }
  return out;
}

inline int contacts_between(dBodyID a, dBodyID b) {
  int n = 0;
  for (dJointID j : joints_of(a, dJointTypeContact))
    if ((dJointGetBody(j, 0) == a && dJointGetBody(j, 1) == b) ||
        (dJointGetBody(j, 0) == b && dJointGetBody(j, 1) == a))
      n++;
  return n;
}

inline Vec3 force_on(dBodyID body) { return fx_vec(dBodyGetForce(body)); }

class PosedBike : public BikeWorld {
 protected:
  Bike* bike = nullptr;

  void SetUp() override {
    BikeWorld::SetUp();
    bike = add_bike();
    ASSERT_NE(bike, nullptr);
    pose(0);
  }

  // The reset bike turned by heading about y after leaning by `lean` (to its
  // left when positive), raised by y and moved over (128, 128), every
  // body moving forward at `speed`. The run state starts fresh; the aids are
  // set to known values.
  void pose(double lean, double speed = 0, double heading = 0, double y = 1) {
    dJointGroupEmpty(contact_group);
    bike_reset_pose(bike);
    dMatrix3 ry, rz, r;
    dRFromAxisAndAngle(ry, 0, 1, 0, heading);
    dRFromAxisAndAngle(rz, 0, 0, 1, lean);
    dMultiply0_333(r, ry, rz);
    Vec3 forward = vec3(-r[2], -r[6], -r[10]) * speed;
    for (int b = 0; b < BIKE_BODY_COUNT; b++) {
      const dReal* p = dBodyGetPosition(bike->body[b]);
      dVector3 in = {p[0], p[1], p[2], 0}, out;
      dMultiply0_331(out, r, in);
      dBodySetRotation(bike->body[b], r);
      dBodySetPosition(bike->body[b], out[0] + 128, out[1] + y, out[2] + 128);
      dBodySetLinearVel(bike->body[b], forward.x, forward.y, forward.z);
    }
    BikeSetup& s = bike->setup;
    s.auto_dab = true;
    s.auto_align = true;
    s.arcade = false;
    s.max_dab_speed = 20;
    s.roll_limit_angle = 0.5;
    bike->steer_assist = 1;
    physics_state.tick = 10000;
    physics_state.race_start_tick = 0;
  }
  void touch(bool front, bool rear) {
    bike->wheel_contact[WHEEL_FRONT].depth = front ? 0.1 : 0;
    bike->wheel_contact[WHEEL_REAR].depth = rear ? 0.1 : 0;
  }
  Vec3 frame_axis(int column) const {
    const dReal* r = dBodyGetRotation(bike->body[FRAME]);
    return vec3(r[column], r[4 + column], r[8 + column]);
  }
  std::vector<dJointID> motors() const { return joints_of(bike->body[FRAME], dJointTypeAMotor); }
  Vec3 seat() const {
    Vec3 d = fv3(bike->info.rider_pos) - fv3(bike->info.frame_pos);
    dVector3 w;
    dBodyGetRelPointPos(bike->body[FRAME], d.x, d.y, d.z, w);
    return fx_vec(w);
  }
};

}  // namespace
