// The order of one physics tick: contacts live for one step, disabled bikes
// keep still, the bookkeeping of take-off, landing, blame and stalls, and the
// joint force balance.
#include <gtest/gtest.h>

#include "physics/bike.h"
#include "physics/step.h"
#include "physics/world.h"
#include "tests/bike_fixture.h"

namespace {

class PhysicsStep : public BikeWorld {};

int32_t group_joint_count(dBodyID body) {
  int32_t n = 0;
  for (int32_t i = 0; i < dBodyGetNumJoints(body); i++)
    if (dJointGetType(dBodyGetJoint(body, i)) == dJointTypeContact) n++;
  return n;
}

}  // namespace

TEST_F(PhysicsStep, ContactJointsLastOneStepAndAFreeBikeFallsAtGravity) {
  Bike* bike = add_bike();
  ASSERT_NE(bike, nullptr);
  // A contact made now exists until the next world step empties the group.
  dContact c{};
  c.surface.mode = dContactSoftERP | dContactSoftCFM;
  c.geom.pos[1] = 0;
  c.geom.normal[1] = 1;
  c.geom.depth = 0.01;
  dJointID j = dJointCreateContact(physics_world, contact_group, &c);
  dJointAttach(j, bike->body[FRONT_WHEEL], nullptr);
  EXPECT_EQ(group_joint_count(bike->body[FRONT_WHEEL]), 1);
  physics_world_step();
  EXPECT_EQ(group_joint_count(bike->body[FRONT_WHEEL]), 0);

  // Lifted far above the ground, the whole bike falls freely: after one
  // second every body has gained 32 ft/s downwards.
  bike_translate(bike, 0, 100, 0);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    dBodySetLinearVel(bike->body[b], 0, 0, 0);
    dBodySetAngularVel(bike->body[b], 0, 0, 0);
  }
  bike_disable(bike);
  bike_enable(bike);
  double y0 = pos(bike, FRAME).y;
  // Only the world step: no controllers push the bodies.
  for (int32_t t = 0; t < TICKS_PER_SECOND; t++) physics_world_step();
  EXPECT_NEAR(vel(bike, FRAME).y, -32.0, 0.05);
  EXPECT_NEAR(pos(bike, FRAME).y, y0 - 16.0 - 32.0 * TICK_SECONDS / 2, 0.1);
}

TEST_F(PhysicsStep, DisabledBikeKeepsItsPoseAndEmptyWorldSteps) {
  run_ticks(3);  // no bikes: the world still steps
  EXPECT_EQ(physics_state.tick, 3);
  Bike* bike = add_bike();
  ASSERT_NE(bike, nullptr);
  bike_translate(bike, 0, 50, 0);  // in the air: only gravity would move it
  bike_disable(bike);
  Vec3 before[BIKE_BODY_COUNT];
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) before[b] = pos(bike, b);
  run_ticks(64);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    EXPECT_EQ(pos(bike, b).x, before[b].x);
    EXPECT_EQ(pos(bike, b).y, before[b].y);
    EXPECT_EQ(pos(bike, b).z, before[b].z);
  }
  bike_enable(bike);
  run_ticks(32);  // 1 ft of free fall
  EXPECT_LT(pos(bike, FRAME).y, before[FRAME].y - 0.5);
}

TEST_F(PhysicsStep, FlightTicksFollowTheWheelContacts) {
  Bike* bike = add_bike();
  ASSERT_NE(bike, nullptr);
  struct Case {
    bool touching;
    double vy;
    int32_t tick;
    int32_t takeoff, landing;  // afterwards
  };
  // Start: takeoff 0, landing 0 (on the ground).
  const Case cases[] = {
      {false, 1.0, 10, 0, 0},     // rising off the ground: not yet a take-off
      {false, -1.0, 12, 12, 0},   // falling without contact: take-off
      {false, -2.0, 20, 12, 0},   // still airborne: unchanged
      {true, -2.0, 90, 12, 90},   // touchdown: landing
      {true, 0.0, 95, 12, 90},    // rolling: unchanged
      {false, -1.0, 100, 100, 90},
  };
  for (const Case& c : cases) {
    bike->wheel_contact[WHEEL_FRONT].depth = 0;
    bike->wheel_contact[WHEEL_REAR].depth = c.touching ? 0.1 : 0;
    dBodySetLinearVel(bike->body[FRAME], 0, c.vy, 0);
    update_flight_ticks(bike, c.tick);
    EXPECT_EQ(bike->takeoff_tick, c.takeoff) << "tick " << c.tick;
    EXPECT_EQ(bike->landing_tick, c.landing) << "tick " << c.tick;
  }
}

TEST_F(PhysicsStep, BlameStepsTowardsZeroAndStallsMarkTheBike) {
  Bike* bike = add_bike();
  ASSERT_NE(bike, nullptr);
  bike->blame = 2.5f;
  physics_state.tick = 10;
  bike_physics_update(bike);
  EXPECT_FLOAT_EQ(bike->blame, 1.5f);
  bike_physics_update(bike);
  bike_physics_update(bike);
  EXPECT_FLOAT_EQ(bike->blame, 0.0f);
  bike->blame = -640;
  bike_physics_update(bike);
  EXPECT_FLOAT_EQ(bike->blame, -639.0f);

  // Standing still counts as a stall only once the race has run 2 s.
  physics_state.race_start_tick = 0;
  physics_state.tick = 256;
  bike_physics_update(bike);
  EXPECT_EQ(bike->crashed_flag, 0);
  physics_state.tick = 257;
  bike_physics_update(bike);
  EXPECT_EQ(bike->crashed_flag, 1);
}

TEST_F(PhysicsStep, RiderVelocityRingTakesTheSlotOfTheTick) {
  Bike* bike = add_bike();
  ASSERT_NE(bike, nullptr);
  dBodySetLinearVel(bike->body[RIDER], 1, 2, 3);
  physics_state.tick = 6;
  bike_physics_update(bike);
  // bike_physics_update may add forces but does not step: the velocity is as set.
  EXPECT_FLOAT_EQ(bike->rider_velocity_ring[2][0], 1.0f);
  EXPECT_FLOAT_EQ(bike->rider_velocity_ring[2][1], 2.0f);
  EXPECT_FLOAT_EQ(bike->rider_velocity_ring[2][2], 3.0f);
  EXPECT_FLOAT_EQ(bike->rider_velocity_ring[1][0], 0.0f);
}

TEST_F(PhysicsStep, JointForceBalanceCancelsTheNetJointForceOnTheFrame) {
  Bike* bike = add_bike();
  ASSERT_NE(bike, nullptr);
  // Feedback of the last step: a pair of opposite forces on two bodies at
  // different places adds no force but a torque; an unbalanced force adds both.
  memset(bike->feedback, 0, sizeof bike->feedback);
  bike->feedback[FRONT_AXLE].f1[1] = 10;  // on FORK_LOWER
  bike->feedback[FRONT_AXLE].f2[1] = -4;  // on FRONT_WHEEL
  bike->feedback[STEERING_HEAD].t1[0] = 3;
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    dBodySetForce(bike->body[b], 0, 0, 0);
    dBodySetTorque(bike->body[b], 0, 0, 0);
  }
  joint_force_balance(bike);
  const dReal* f = dBodyGetForce(bike->body[FRAME]);
  const dReal* t = dBodyGetTorque(bike->body[FRAME]);
  EXPECT_NEAR(f[0], 0, 1e-9);
  EXPECT_NEAR(f[1], -6, 1e-9);
  EXPECT_NEAR(f[2], 0, 1e-9);
  Vec3 origin = pos(bike, FRAME);
  Vec3 arm1 = pos(bike, FORK_LOWER) - origin;
  Vec3 arm2 = pos(bike, FRONT_WHEEL) - origin;
  Vec3 want = vec3(3, 0, 0) + vec3_cross(arm1, vec3(0, 10, 0)) + vec3_cross(arm2, vec3(0, -4, 0));
  EXPECT_NEAR(t[0], -want.x, 1e-9);
  EXPECT_NEAR(t[1], -want.y, 1e-9);
  EXPECT_NEAR(t[2], -want.z, 1e-9);

  // A joint without its bodies (the rider thrown off): nothing is applied.
  dBodySetForce(bike->body[FRAME], 0, 0, 0);
  dJointAttach(bike->joint[RIDER_MOUNT], nullptr, nullptr);
  joint_force_balance(bike);
  EXPECT_EQ(dBodyGetForce(bike->body[FRAME])[1], 0.0);
}
