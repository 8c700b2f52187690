// Dab, back-up and realignment, tested on posed bikes by calling the pieces
// directly and reading the forces and one-tick joints they leave behind.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "physics/crash.h"
#include "physics/rider_control.h"
#include "tests/crash_fixture.h"
#include "track/timing.h"

namespace {

// The suite.
class DabAids : public PosedBike {};

}  // namespace

// ---------------------------------------------------------------- dab

TEST_F(DabAids, PosedBikesLeanAsPosed) {
  // The tests below pose bikes at known leans; the lean function must agree.
  for (double lean : {-0.9, -0.3, 0.0, 0.2, 0.7}) {
    pose(lean, 0, 1.0);
    EXPECT_NEAR(posed_lean(bike), lean, 1e-9);
    EXPECT_NEAR(lean_angle(bike), lean, 1e-6) << lean;
  }
}

TEST_F(DabAids, SpeedLimitRaisedForStruckBikes) {
  struct Case {
    double max_dab_speed;
    float blame;
    double limit;
  } cases[] = {{20, 0, 20},    {20, -511, 20},   {20, -512, 75},
               {20, -900, 75}, {100, -600, 100}, {7, 300, 7}};
  for (const Case& c : cases) {
    bike->setup.max_dab_speed = c.max_dab_speed;
    bike->blame = c.blame;
    EXPECT_EQ(dab_speed_limit(bike), c.limit) << c.max_dab_speed << " " << c.blame;
  }
}

TEST_F(DabAids, ShouldDabFollowsSpeedLeanAndThrottle) {
  struct Case {
    bool auto_dab;
    double speed, lean;
    float throttle, clutch, blame;
    bool dab;
  } cases[] = {
      {false, 0, 0, 0, 0, 0, false},        // aid off
      {true, 0, 0, 0, 0, 0, true},          // standing
      {true, 20.5, 1.0, 0, 0, 0, false},    // above M = 20
      {true, 20.5, 1.0, 0, 0, -512, true},  // struck: M = 75
      // Faster than 15 ft/s the lean must reach clamp((V - 15) / 15) * 45 degrees.
      {true, 20, 0.25, 0, 0, 0, false},  // needs pi/12 = 0.2618
      {true, 20, 0.27, 0, 0, 0, true},
      {true, 20, -0.27, 0, 0, 0, true},
      {true, 15.5, 0.0, 0, 0, 0, false},  // needs 0.026
      {true, 15.5, 0.03, 0, 0, 0, true},
      // Throttle and clutch both on: below 5 ft/s yes, else only past pi/16.
      {true, 4.9, 0.0, 1, 1, 0, true},
      {true, 10, 0.19, 1, 1, 0, false},
      {true, 10, 0.2, 1, 1, 0, true},
      {true, 10, 0.0, 1, 0, 0, true},  // clutch out
      {true, 10, 0.0, 0, 1, 0, true},  // throttle closed
  };
  for (const Case& c : cases) {
    pose(c.lean, c.speed);
    bike->setup.auto_dab = c.auto_dab;
    bike->throttle = c.throttle;
    bike->clutch = c.clutch;
    bike->blame = c.blame;
    double v2 = c.speed * c.speed;
    EXPECT_EQ(should_dab(bike, v2), c.dab) << c.speed << " lean " << c.lean;
  }
}

TEST_F(DabAids, AutoHoldOverridesBrakesForOneTick) {
  pose(0, 2);
  touch(true, true);
  bike->front_brake = 0.25f;
  bike->rear_brake = 0.5f;
  dab_and_back_up(bike);
  EXPECT_FLOAT_EQ(bike->dab, 0.9f);  // 1 - V / M
  EXPECT_EQ(bike->front_brake, 1.0f);
  EXPECT_EQ(bike->rear_brake, 1.0f);
  // hold_velocity towards 0 with 1000 lbf: the whole force against the motion.
  Vec3 f = force_on(bike->body[FRAME]);
  EXPECT_NEAR(f.x, 0, 1e-9);
  EXPECT_NEAR(f.y, 0, 1e-9);
  EXPECT_NEAR(f.z, 1000, 1e-9);

  // A dab already held stays; knocked out the foot stays up.
  pose(0, 2);
  touch(true, true);
  bike->dab = 1;
  dab_and_back_up(bike);
  EXPECT_EQ(bike->dab, 1.0f);
  pose(0, 2);
  bike->crash_countdown = 300;
  bike->dab = 1;
  dab_and_back_up(bike);
  EXPECT_EQ(bike->dab, 0.0f);

  // No hold with a wheel in the air, or with throttle and clutch both on.
  struct Case {
    bool front, rear;
    float throttle, clutch;
  } cases[] = {{true, false, 0, 0}, {false, true, 0, 0}, {true, true, 1, 1}};
  for (const Case& c : cases) {
    pose(0, 2);
    touch(c.front, c.rear);
    bike->throttle = c.throttle;
    bike->clutch = c.clutch;
    dab_and_back_up(bike);
    EXPECT_EQ(bike->front_brake, 0.0f);
    EXPECT_EQ(vec3_length(force_on(bike->body[FRAME])), 0.0);
    EXPECT_FLOAT_EQ(bike->dab, 0.9f);
  }

  // Through the whole post-step work the rider's own controls come back.
  pose(0, 2);
  touch(true, true);
  bike->front_brake = 0.25f;
  bike->rear_brake = 0.5f;
  bike_physics_update(bike);
  EXPECT_EQ(bike->front_brake, 0.25f);
  EXPECT_EQ(bike->rear_brake, 0.5f);
  EXPECT_EQ(bike->dab, 0.0f);
}

TEST_F(DabAids, HoldVelocityIsHorizontal) {
  dBodyID body = dBodyCreate(physics_world);
  struct Case {
    Vec3 velocity, target;
    double max_force;
    Vec3 force;
  } cases[] = {
      {{0.2, 0, 0}, {0, 0, 0}, 1000, {0, 0, 0}},     // below 0.25: nothing
      {{0, 3, 0}, {0, 0, 0}, 1000, {0, 0, 0}},       // vertical difference only
      {{2, 0, 0}, {0, 0, 0}, 1000, {-1000, 0, 0}},   // (2 - 0.25) * 0.8 > 1
      {{1, 0, 0}, {0, 0, 0}, 1000, {-600, 0, 0}},    // (1 - 0.25) * 0.8 = 0.6
      {{0, 0, -3}, {0, 0, -2}, 2000, {0, 0, 1200}},  // towards the target
      {{1, 1, 0},
       {0, 0, 0},
       1000,  // |delta| counts y, the force not
       {-1000 * (sqrt(2.0) - 0.25) * 0.8 / sqrt(2.0), 0, 0}},
  };
  for (const Case& c : cases) {
    dBodySetForce(body, 0, 0, 0);
    dBodySetLinearVel(body, c.velocity.x, c.velocity.y, c.velocity.z);
    hold_velocity(body, c.target, c.max_force);
    Vec3 f = force_on(body);
    EXPECT_NEAR(f.x, c.force.x, 1e-9);
    EXPECT_EQ(f.y, 0.0);
    EXPECT_NEAR(f.z, c.force.z, 1e-9);
  }
  dBodyDestroy(body);
}

// ---------------------------------------------------------------- back-up

TEST(DabBackUpStroke, StrokesOf128TicksAfterTheStart) {
  struct Case {
    int32_t tick, start;
    double s;
  } cases[] = {
      {1024, 0, 0.0},
      {1024 + 64, 0, (1 - cos(2 * PI * 64 / 127)) / 2},
      {1024 + 127, 0, 0.0},
      {1024 + 32, 0, (1 - cos(2 * PI * 32 / 127)) / 2},
      // Start 1000: strokes from 1024 on; before that only where tick mod 512 < 128.
      {960, 1000, 0.0},
      {1000, 1000, 0.0},
      {576, 1000, (1 - cos(2 * PI * 64 / 127)) / 2},
      {1088, 1000, (1 - cos(2 * PI * 64 / 127)) / 2},
      {-448, 0, (1 - cos(2 * PI * 64 / 127)) / 2},  // tick mod 512 = 64
      {-64, 0, 0.0},                                // mod 512 = 448, before 128
  };
  for (const Case& c : cases)
    EXPECT_NEAR(backup_stroke(c.tick, c.start), c.s, 1e-12) << c.tick << " " << c.start;
  EXPECT_GT(backup_stroke(1024 + 64, 0), 0.999);
}

TEST_F(DabAids, BackUpPushesBackwardsAndTurnsInStrokes) {
  for (int32_t phase : {0, 64, 127}) {
    pose(0, 0, 0.7);
    bike->back_up = 1;
    bike->steer = 0.5f;
    physics_state.tick = 1024 * 4 + phase;
    double s = backup_stroke(physics_state.tick, 0);
    dab_and_back_up(bike);
    EXPECT_EQ(bike->dab, 1.0f);
    // Towards the rear (the frame's +z axis) at 4 s ft/s, up to 2000 lbf.
    Vec3 expected = frame_axis(2) * (2000 * std::clamp((4 * s - 0.25) * 0.8, 0.0, 1.0));
    if (4 * s < 0.25) expected = vec3(0, 0, 0);
    Vec3 f = force_on(bike->body[FRAME]);
    EXPECT_NEAR(f.x, expected.x, 1e-6) << phase;
    EXPECT_NEAR(f.y, 0, 1e-9);
    EXPECT_NEAR(f.z, expected.z, 1e-6) << phase;
    auto m = motors();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(dJointGetAMotorNumAxes(m[0]), 1);
    dVector3 axis;
    dJointGetAMotorAxis(m[0], 0, axis);
    EXPECT_NEAR(axis[1], 1, 1e-12);
    EXPECT_NEAR(dJointGetAMotorParam(m[0], dParamVel), -0.5 * s * PI / 2, 1e-12);
    EXPECT_EQ(dJointGetAMotorParam(m[0], dParamFMax), 2000);
    EXPECT_EQ(dJointGetBody(m[0], 1), nullptr);
    dJointGroupEmpty(contact_group);
  }
  EXPECT_GT(std::fabs(-0.5 * backup_stroke(1024 * 4 + 64, 0) * PI / 2), 0.78);

  // Knocked out the foot stays up; at 5 ft/s there is no back-up.
  pose(0);
  bike->back_up = 1;
  bike->crash_countdown = 100;
  dab_and_back_up(bike);
  EXPECT_EQ(bike->dab, 0.0f);
  pose(0, 5);
  bike->back_up = 1;
  bike->setup.auto_dab = false;
  dab_and_back_up(bike);
  EXPECT_EQ(bike->dab, 0.0f);
  EXPECT_TRUE(motors().empty());
}

// ---------------------------------------------------------------- dab support

TEST_F(DabAids, AnimRisesEightAndFallsFourPerSecond) {
  pose(0.3, 0, 0, 0);
  touch(true, true);
  bike->dab = 1;
  for (int t = 0; t < 16; t++) {
    dab_support(bike);
    feet_update(bike);
  }
  EXPECT_NEAR(bike->dab_anim, 16 * 4 * H, 1e-6);
  bike->dab = 0;
  for (int t = 0; t < 8; t++) feet_update(bike);
  EXPECT_NEAR(bike->dab_anim, 8 * 4 * H, 1e-6);
  for (int t = 0; t < 100; t++) feet_update(bike);
  EXPECT_EQ(bike->dab_anim, 0.0f);
  // Knocked out it rises without a dab, up to 1, and nothing pushes.
  dBodySetForce(bike->body[FRAME], 0, 0, 0);
  bike->crash_countdown = 600;
  for (int t = 0; t < 20; t++) dab_support(bike);
  EXPECT_EQ(bike->dab_anim, 1.0f);
  EXPECT_EQ(vec3_length(force_on(bike->body[FRAME])), 0.0);
}

TEST_F(DabAids, SupportNeedsTheGroundWithinReach) {
  // Front wheel in the air: the rider's centre must be within rider_pos.y + 1
  // of the ground.
  pose(0.5, 0, 0, 3);
  touch(false, true);
  bike->dab = 1;
  dab_support(bike);
  EXPECT_EQ(bike->dab_anim, 0.0f);
  pose(0.5, 0, 0, 0);
  touch(false, true);
  bike->dab = 1;
  dab_support(bike);
  EXPECT_NEAR(bike->dab_anim, 8 * H, 1e-7);
  EXPECT_GT(vec3_length(force_on(bike->body[FRAME])), 0.0);
}

TEST_F(DabAids, SupportForceRightsTheBike) {
  struct Case {
    double lean, speed;
    float steer;
    bool both_wheels;
    bool arcade;
    double f;  // frame x force; NAN: no rise of dab_anim
  } cases[] = {
      {PI / 4, 0, 0, true, false, 400},    // leaning left: pushed right
      {-PI / 4, 0, 0, true, false, -400},  // leaning right: pushed left
      {1.0, 0, 0, true, false, 400},       // steeper than 45 degrees: only lifted
      {0.05, 0, 0, true, false, 0},        // q = -pi/8 * 0.05 * 16 / pi, w = 0: push scaled
      {PI / 4, 0, 0, true, true, 0},       // arcade: the foot rises, no force
      {0.35, 3, 0, true, false, 0},        // inside the allowance: steer decides
      {0.35, 3, 1, true, false, 400},     {0.58, 16, 0, true, false, NAN},  // fast: needs 3 pi / 16
      {0.6, 16, 0, true, false, 0},       {0.6, 16, 0, false, false, NAN},  // fast with a wheel up
      {0.8, 21, 0, true, false, NAN},                                       // above M
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "lean " << c.lean << " speed " << c.speed);
    pose(c.lean, c.speed, 0, 0);
    touch(true, c.both_wheels);
    bike->dab = 1;
    bike->steer = c.steer;
    bike->setup.arcade = c.arcade;
    dab_support(bike);
    if (std::isnan(c.f)) {
      EXPECT_EQ(bike->dab_anim, 0.0f);
      EXPECT_EQ(vec3_length(force_on(bike->body[FRAME])), 0.0);
      continue;
    }
    EXPECT_NEAR(bike->dab_anim, 8 * H, 1e-7);
    // The expected push from the rules, then where it acts.
    double v2 = c.speed * c.speed, m2 = 400, lean = std::fabs(c.lean);
    double q = (c.lean >= 0 ? -PI / 8 : PI / 8) * (lean < PI / 16 ? lean * 16 / PI : 1);
    double f = q < 0 ? 400 : -400;
    if (lean < PI / 32) f *= lean * 32 / PI;
    double allowance = v2 == 0 ? 0 : (1 - pow(1 - v2 / m2, 32)) * 0.5;
    if (v2 > 225) allowance = 0.5 + (2 * PI - 0.5) * (v2 - 225) / (m2 - 225);
    allowance *= 1.25;
    double sigma = q >= 0 ? -c.steer : c.steer;
    double cc = std::clamp(2 * sigma - 1, 0.0, 1.0);
    double t = std::clamp((lean - allowance) / 0.25, 0.0, 1.0);
    f *= t + (1 - t) * cc;
    if (c.arcade) f = 0;
    if (c.f != 0) {
      EXPECT_NEAR(f, c.f, 1e-9);  // the table's own sanity
    }
    Vec3 expected = vec3(0, 0, 0);
    if (f != 0) {
      if (frame_axis(1).y >= 0.707)
        expected = vec3(0, std::fabs(f) / 8, 0) + frame_axis(0) * f;
      else
        expected = vec3(0, std::fabs(f), 0);
    }
    Vec3 got = force_on(bike->body[FRAME]);
    EXPECT_NEAR(got.x, expected.x, 1e-6);
    EXPECT_NEAR(got.y, expected.y, 1e-6);
    EXPECT_NEAR(got.z, expected.z, 1e-6);
    if (f != 0) {
      // Acting at the frame point (0, 4, 0).
      Vec3 arm = fx_vec(dBodyGetPosition(bike->body[FRAME]));
      dVector3 w;
      dBodyGetRelPointPos(bike->body[FRAME], 0, 4, 0, w);
      Vec3 torque = vec3_cross(fx_vec(w) - arm, expected);
      Vec3 got_t = fx_vec(dBodyGetTorque(bike->body[FRAME]));
      EXPECT_NEAR(got_t.x, torque.x, 1e-6);
      EXPECT_NEAR(got_t.y, torque.y, 1e-6);
      EXPECT_NEAR(got_t.z, torque.z, 1e-6);
    }
    EXPECT_TRUE(motors().empty());  // no race timing: no realignment
  }
}

// ---------------------------------------------------------------- realignment

class DabRealign : public PosedBike {
 protected:
  TimingData timing{};
  BikeTiming leader{};

  void SetUp() override {
    PosedBike::SetUp();
    timing_init(&timing);
    timing.gate_count = 3;
    for (int k = 0; k < 3; k++) {
      timing.gates[k].centre[0] = 128;
      timing.gates[k].centre[2] = 28;  // far ahead of a bike facing -z
      timing.gates[k].direction[2] = -1;
      timing.gates[k].radius = 5;
    }
    timing.gates[2].centre[0] = 200;  // to the right, level with the bike
    timing.gates[2].centre[2] = 128;
    timing.first_lap_count = 3;
    timing.first_lap[0] = 0;
    timing.first_lap[1] = 1 + GATE_NO_SPLIT;
    timing.first_lap[2] = 2;
    timing.normal_lap_count = 3;
    for (int k = 0; k < 3; k++) timing.normal_lap[k] = k;
    timing_finish(&timing);
    ASSERT_TRUE(timing.active);
    physics_state.timing = &timing;
    physics_state.leader = &leader;
    physics_state.race_laps = 1;
  }
  void TearDown() override {
    physics_state.timing = nullptr;
    physics_state.leader = nullptr;
    bike_timing_free(&leader);
    PosedBike::TearDown();
  }
  void ready(int32_t gate_position, double lean = PI / 4) {
    pose(lean);
    touch(true, true);
    bike->dab = 1;
    bike->timing.gate_position = gate_position;
  }
  // Puts gate k at an offset from the frame (dx to the right, dz to the rear).
  void gate_at(int k, double dx, double dz) {
    Vec3 p = pos(bike, FRAME);
    timing.gates[k].centre[0] = (float)(p.x + dx);
    timing.gates[k].centre[2] = (float)(p.z + dz);
  }
};

TEST_F(DabRealign, TargetIsTheNextGate) {
  bike->timing.gate_position = 1;  // entry 1 carries the no-split marker
  Vec3 t = realign_target(bike);
  EXPECT_EQ(t.x, 128);
  EXPECT_EQ(t.z, 28);
  bike->timing.gate_position = 5;  // second lap, gate 2
  EXPECT_EQ(realign_target(bike).x, 200);
  physics_state.timing = nullptr;  // no timing: the frame's own position
  Vec3 p = pos(bike, FRAME);
  t = realign_target(bike);
  EXPECT_EQ(t.x, p.x);
  EXPECT_EQ(t.z, p.z);
}

TEST_F(DabRealign, TurnsTowardsAGateAheadAndStillSupports) {
  ready(1);
  gate_at(1, 1, -100);  // 100 ft ahead, one foot to the right
  dab_support(bike);
  auto m = motors();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_NEAR(dJointGetAMotorParam(m[0], dParamVel), -PI / 2, 1e-12);  // towards +x
  EXPECT_NEAR(dJointGetAMotorParam(m[0], dParamFMax), 1.0 / 25 * bike->total_mass * 320, 1e-3);
  EXPECT_GT(std::fabs(force_on(bike->body[FRAME]).x), 100.0);  // the support force follows
  EXPECT_EQ(vec3_length(force_on(bike->body[REAR_WHEEL])), 0.0);

  // Struck bikes turn twice as fast, the other way for a gate on the left.
  ready(1);
  gate_at(1, -1, -100);
  bike->blame = -10;
  dab_support(bike);
  m = motors();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_NEAR(dJointGetAMotorParam(m[0], dParamVel), PI, 1e-12);
}

TEST_F(DabRealign, WideTurnLiftsTheWheelsInsteadOfSupporting) {
  ready(2);
  gate_at(2, 70, -2);  // to the right, slightly ahead: outside the narrow cone
  touch(false, true);
  dab_support(bike);
  auto m = motors();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_NEAR(dJointGetAMotorParam(m[0], dParamVel), -PI / 2, 1e-12);
  EXPECT_NEAR(dJointGetAMotorParam(m[0], dParamFMax), bike->total_mass * 320, 1e-6);
  EXPECT_EQ(vec3_length(force_on(bike->body[FRAME])), 0.0);
  Vec3 lift = force_on(bike->body[REAR_WHEEL]);
  EXPECT_NEAR(lift.y, bike->total_mass * 32, 1e-9);
  EXPECT_EQ(vec3_length(force_on(bike->body[FRONT_WHEEL])), 0.0);  // in the air
}

TEST_F(DabRealign, OnlyInARaceBeforeTheFinishAtALargeLean) {
  struct Case {
    const char* what;
    int32_t gate_position;
    double lean;
    bool auto_align;
    float back_up;
    bool active;
    bool motor;
  } cases[] = {
      {"ok", 1, PI / 4, true, 0, true, true},
      {"no gate passed", 0, PI / 4, true, 0, true, false},
      {"aid off", 1, PI / 4, false, 0, true, false},
      {"backing up", 1, PI / 4, true, 0.2f, true, false},
      {"small lean", 1, 0.39, true, 0, true, false},
      {"fallen", 1, 0.35 * PI + 0.01, true, 0, true, false},
      {"timing off", 1, PI / 4, true, 0, false, false},
  };
  for (const Case& c : cases) {
    ready(c.gate_position, c.lean);
    bike->setup.auto_align = c.auto_align;
    bike->back_up = c.back_up;
    timing.active = c.active;
    dab_support(bike);
    EXPECT_EQ(motors().size(), c.motor ? 1u : 0u) << c.what;
    dJointGroupEmpty(contact_group);
  }
}

TEST_F(DabRealign, FinishTestMarksTheBikeAndSkipsRealignment) {
  // Leader done with lap 1 (positions 0..2) at tick 30; the bike at 35.
  for (int p = 0; p < 3; p++) ASSERT_TRUE(bike_timing_credit(&leader, p, 10 + 10 * p));
  ready(3);
  for (int p = 0; p < 3; p++) ASSERT_TRUE(bike_timing_credit(&bike->timing, p, 15 + 10 * p));
  dab_support(bike);
  EXPECT_TRUE(bike->timing.finished);
  EXPECT_TRUE(motors().empty());
  EXPECT_GT(vec3_length(force_on(bike->body[FRAME])), 0.0);  // still supported
  // Finished bikes stay without realignment.
  dJointGroupEmpty(contact_group);
  dab_support(bike);
  EXPECT_TRUE(motors().empty());
}
