// The stability controller's torque and its signs on posed bikes, the arcade
// servos and the wobble damping; and short rides on a simple two-wheel ground
// contact that show the controller rights the bike and turns it the way the
// rider steers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
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
#include "tests/rider_fixture.h"

namespace {

// ---------------------------------------------------------------- signs

using Steering = RiderWorld;

TEST_F(Steering, LeanAngleIsPositiveLeaningLeft) {
  for (double lean : {0.35, -0.35, 1.2, 0.0}) {
    SCOPED_TRACE(lean);
    pose(lean, 0);
    EXPECT_NEAR(lean_angle(bike), lean, 1e-9);
    // Leaning left the frame's up axis points to -x (the rider's left).
    if (lean > 0) {
      EXPECT_LT(body_axis(FRAME, 1).x, 0);
    }
  }
  // Heading does not matter.
  bike_reset_pose(bike);
  dMatrix3 r, yaw, roll;
  dRFromAxisAndAngle(yaw, 0, 1, 0, 2.0);
  dRFromAxisAndAngle(roll, 0, 0, 1, 0.3);
  dMultiply0_333(r, yaw, roll);
  dBodySetRotation(bike->body[FRAME], r);
  EXPECT_NEAR(lean_angle(bike), 0.3, 1e-9);
}

TEST_F(Steering, PositiveRollRateIncreasesLean) {
  dWorldSetGravity(physics_world, 0, 0, 0);
  pose(0.2, 0, 1.0);
  for (int t = 0; t < 8; t++) physics_world_step();
  EXPECT_NEAR(lean_angle(bike), 0.2 + 8 * H, 2e-3);
}

TEST_F(Steering, PositiveTorqueTurnsTheWheelLeft) {
  // The steering-head angle is positive with the front turned left...
  pose(0, 0);
  turn_front(0.2);
  EXPECT_NEAR(steer_angle(), 0.2, 1e-6);
  Vec3 heading = body_axis(FRONT_WHEEL, 2) * -1;
  EXPECT_LT(heading.x, -0.1);
  // ...and a positive steering torque turns it that way.
  dWorldSetGravity(physics_world, 0, 0, 0);
  pose(0, 0);
  for (int t = 0; t < 16; t++) {
    apply_steering_torque(bike, 20);
    physics_world_step();
  }
  EXPECT_GT(steer_angle(), 0.01);
  EXPECT_GT(dJointGetHingeAngleRate(bike->joint[STEERING_HEAD]), 0);
}

TEST_F(Steering, ControllerSteersIntoALean) {
  // Leaning left at 20 ft/s: the leveling torque turns the wheel left, the way
  // that brings the bike back up; leaning right, to the right.
  for (double lean : {20 * DEG, -20 * DEG}) {
    SCOPED_TRACE(lean);
    pose(lean, 20);
    steering_update(bike);
    double t = steering_torque();
    EXPECT_NEAR(t, 1.5 * lean * 20, 1e-6);
    EXPECT_GT(t * lean, 0);
  }
  // Falling further left (roll rate > 0): roll damping steers left too.
  pose(0, 20, 0.5);
  steering_update(bike);
  EXPECT_GT(steering_torque(), 0);
}

// ---------------------------------------------------------------- controller values

struct TorqueCase {
  const char* name;
  double lean, speed, roll;
  float steer;
  bool touching;
  float blame;
  double direct_steering;
  double want;
  double max_force = 400;
};

TEST_F(Steering, TorqueTable) {
  const double A = 45 * DEG;
  const TorqueCase cases[] = {
      {"steer input", 0, 20, 0, -1, true, 0, 1, -112.5},
      {"leveling", 0.35, 20, 0, 0, true, 0, 1, 1.5 * 0.35 * 20},
      {"roll damping", 0, 20, 1, 0, true, 0, 1, 90},
      {"roll damping back", 0, 20, -1, 0, true, 0, 1, -90},
      {"roll limit", 1.0, 20, 0.5, 0, true, 0, 1,
       1.5 * (0.5 * 60 * ((1.0 - A) * 10 + 1) + 20 * 1.0)},
      {"roll limit needs falling further", 1.0, 20, -0.5, 0, true, 0, 1, 1.5 * (-30 + 20)},
      {"blame 96 limits", 0, 20, 2, 0, true, 96, 1, 150},
      {"blame 96 limits negative", 0, 20, -2, 0, true, 96, 1, -150},
      {"blame 192 removes aid", 0.3, 20, 2, 0, true, 192, 1, 0},
      {"blame 400 keeps steering", 0.3, 20, 2, -1, true, 400, 1, -112.5},
      {"struck bike unaffected", 0, 20, 1, 0, true, -300, 1, 90},
      {"lean target counter-steers", 0, 20, 0, -1, true, 0, 0, -112.5},
      {"lean target right", 0, 20, 0, 1, true, 0, 0, 112.5},
      {"max force", 0, 20, 2, 0, true, 0, 1, 100, 100},
      {"max force negative", 0, 20, 0, -1, true, 0, 1, -50, 50},
  };
  for (const TorqueCase& c : cases) {
    SCOPED_TRACE(c.name);
    aid_setup_defaults(bike);
    bike->setup.direct_steering = c.direct_steering;
    bike->setup.max_steering_force = c.max_force;
    pose(c.lean, c.speed, c.roll);
    bike->steer = c.steer;
    bike->blame = c.blame;
    if (!c.touching) bike->wheel_contact[WHEEL_FRONT].depth = 0;
    steering_update(bike);
    EXPECT_NEAR(steering_torque(), c.want, 1e-6);
  }
}

TEST_F(Steering, SlowDampingScalesRollDampingAndLeveling) {
  const struct {
    double speed, want_scale;
  } cases[] = {{20, 1.5}, {1.5, 2 - 1.5 / 40}, {40, 1}, {60, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.speed);
    aid_setup_defaults(bike);
    bike->setup.slow_damping_speed = 40;
    bike->setup.slow_damping_factor = 2;
    pose(0.1, c.speed, 1);
    steering_update(bike);
    EXPECT_NEAR(steering_torque(), 1.5 * (60 + 20 * 0.1) * c.want_scale, 1e-6);
  }
}

TEST_F(Steering, AirborneAndBackwardsCentreTheSteering) {
  const struct {
    const char* name;
    double speed;
    bool touching;
  } cases[] = {{"in the air", 20, false}, {"rolling backwards", -10, true}, {"at rest", 0, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    aid_setup_defaults(bike);
    pose(0.3, c.speed, 1);  // lean and roll rate are ignored here
    turn_front(0.2);
    if (!c.touching) bike->wheel_contact[WHEEL_FRONT].depth = 0;
    bike->land_damping = 1;
    steering_update(bike);
    EXPECT_NEAR(steering_torque(), 1.5 * -50 * 0.2, 1e-4);
    EXPECT_FLOAT_EQ(bike->land_damping, 2);  // the landing boost is armed
  }
}

TEST_F(Steering, LandingBoostFades) {
  const struct {
    double falloff, want_after;
  } cases[] = {{0.25, 2 - H / 0.25}, {0, 1}, {0.5, 2 - H / 0.5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.falloff);
    aid_setup_defaults(bike);
    bike->setup.land_damping_falloff = c.falloff;
    pose(0, 20, 1);
    bike->land_damping = 2;
    steering_update(bike);
    EXPECT_NEAR(steering_torque(), 1.5 * 60 * 2, 1e-6);  // the boost of this tick
    EXPECT_NEAR(bike->land_damping, c.want_after, 1e-6);
  }
  // It never fades below 1.
  aid_setup_defaults(bike);
  pose(0, 20, 1);
  bike->land_damping = 1.01f;
  steering_update(bike);
  EXPECT_EQ(bike->land_damping, 1);
}

TEST_F(Steering, SoftLockResistsTurningAcrossThePath) {
  // The front wheel slides 1.2 rad to the left of where it points (or to the
  // right): the torque that would turn it further across its path is refused
  // and a quarter of the maximum turns it back.
  const struct {
    double slip_side;
    float steer;
    double want;
  } cases[] = {{1, -1, 100}, {-1, 1, -100}, {1, 1, 112.5}, {-1, -1, -112.5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.slip_side);
    aid_setup_defaults(bike);
    pose(0, 20);
    double a = 1.2 * c.slip_side;
    set_front_slip(a);
    EXPECT_NEAR(front_slip_angle(bike), a, 1e-9);
    bike->steer = c.steer;
    steering_update(bike);
    EXPECT_NEAR(steering_torque(), c.want, 1e-6);
  }
}

TEST_F(Steering, FrontSlipAngle) {
  pose(0, 0);
  Vec3 s = axis_world();
  const struct {
    const char* name;
    Vec3 v;
    double want;
  } cases[] = {
      {"straight", vec3(0, 0, -20), 0},
      {"drifting right", vec3(3, 0, -10), -atan2(3, 10 * s.y)},
      {"drifting left", vec3(-3, 0, -10), atan2(3, 10 * s.y)},
      {"slow", vec3(0.5, 0, -0.5), 0},
      {"along the steering axis", s * 30, 0},
      {"sideways", vec3(-5, 0, 0), PI / 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dBodySetLinearVel(bike->body[FRONT_WHEEL], c.v.x, c.v.y, c.v.z);
    EXPECT_NEAR(front_slip_angle(bike), c.want, 1e-9);
  }
}

TEST_F(Steering, LockFollowsSpeedAndGrip) {
  const double fl = PI / 4, rl = 5 * DEG;
  const struct {
    double speed, grip, restricted, want;
  } cases[] = {
      {0, 1, rl, fl},
      {10, 1, rl, fl},
      {50, 1, rl, rl},
      {80, 1, rl, rl},
      {20, 1, rl, rl + (fl - rl) * 0.375},
      {80, 0.5, rl, 2 * rl},
      {80, 0.5, 30 * DEG, fl},
      {80, 0.01, rl, 8 * rl},
      {80, 2, rl, rl / 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.speed << " " << c.grip);
    aid_setup_defaults(bike);
    bike->setup.restricted_lock = c.restricted;
    track.hf.tile_count = 1;
    tile_type_defaults(&track.hf.tiles[0], false);
    track.hf.tiles[0].friction[0] = (float)c.grip;
    EXPECT_NEAR(steering_lock(bike, c.speed), c.want, 1e-6);
  }
  track.hf.tile_count = 0;
}

TEST_F(Steering, LeanAllowance) {
  aid_setup_defaults(bike);  // roll limit 45 degrees, max dab speed 30 ft/s
  const double A = 45 * DEG;
  const struct {
    double v2, want;
  } cases[] = {
      {0, 0},
      {225, (1 - pow(0.75, 4)) * A},
      {100, (1 - pow(1 - 100.0 / 900, 4)) * A},
      {562.5, A + (2 * PI - A) * 0.5},
      {900, 2 * PI},
      {5000, 2 * PI},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.v2);
    EXPECT_NEAR(lean_allowance(bike, c.v2), c.want, 1e-9);
  }
  // A dab speed below 15 ft/s: everything above it is free.
  bike->setup.max_dab_speed = 10;
  EXPECT_NEAR(lean_allowance(bike, 150), 2 * PI, 1e-12);
}

TEST_F(Steering, SteerAssistShowsSteeringIntoTheLean) {
  const struct {
    const char* name;
    double lean, speed, turn, slip;
    bool knocked_out;
    double want;
  } cases[] = {
      {"turned into a left lean", 0.1, 0, PI / 8, 0, false, 0.5},
      {"fully into a left lean", 0.1, 0, PI / 6, 0, false, 1},
      {"turned into a right lean", -0.1, 0, -PI / 8, 0, false, 0.5},
      {"turned against the lean", 0.1, 0, -PI / 8, 0, false, 0},
      {"knocked out", 0.1, 0, PI / 6, 0, true, 0},
      // At 20 ft/s: slip half the lock towards the lean's side.
      {"sliding into the lean", 0, 20, 0, -1, false, 0.5},
      {"sliding against the lean", 0, 20, 0, 1, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    aid_setup_defaults(bike);
    pose(c.lean, c.speed);
    if (c.turn != 0) turn_front(c.turn);
    if (c.slip != 0) {
      set_front_slip(c.slip * 0.5 * steering_lock(bike, 20));
    }
    bike->crash_countdown = c.knocked_out ? 100 : 0;
    bike->steer_assist = 0.7f;
    steering_update(bike);
    EXPECT_NEAR(bike->steer_assist, c.want, 1e-5);
    if (c.knocked_out) {
      EXPECT_EQ(steering_torque(), 0);
    }
  }
}

// ---------------------------------------------------------------- wobble

TEST_F(Steering, WobbleDampingRemovesOffAxleSpinOnly) {
  pose(0.4, 0);
  Vec3 axle = body_axis(FRONT_WHEEL, 0);
  Vec3 side = vec3_normalize(vec3_cross(axle, vec3(0, 1, 0)));
  const struct { double spin, wobble; } cases[] = {{-30, 0}, {-30, 2}, {0, -3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.wobble);
    clear_torques();
    Vec3 w = axle * c.spin + side * c.wobble;
    dBodySetAngularVel(bike->body[FRONT_WHEEL], w.x, w.y, w.z);
    wobble_damping(bike);
    Vec3 tw = v3(dBodyGetTorque(bike->body[FRONT_WHEEL]));
    Vec3 tf = v3(dBodyGetTorque(bike->body[FRAME]));
    Vec3 want = side * (-c.wobble * 45);
    EXPECT_NEAR(vec3_length(tw - want), 0, 1e-9);
    EXPECT_NEAR(vec3_length(tw + tf), 0, 1e-9);
  }
}

// ---------------------------------------------------------------- arcade

using SteeringArcade = RiderWorld;

TEST_F(SteeringArcade, RollServoRates) {
  const struct {
    double roll_damping;
    float steer;
    double lean, want;
  } cases[] = {
      {60, -1, 0, 1.25}, {60, -1, PI / 4 - 0.015625, 1.25 * 0.015625 * 16},
      {40, 1, 0, -1.5},  {100, 1, 0, -1.0},
      {0, 0, -0.5, 1.5}, {80, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.roll_damping << " " << c.steer << " " << c.lean);
    dJointGroupEmpty(contact_group);
    bike->setup.roll_damping = c.roll_damping;
    pose(c.lean, 0);
    bike->steer = c.steer;
    arcade_update(bike);
    dJointID motor = find_joint(FRAME, dJointTypeAMotor);
    ASSERT_NE(motor, nullptr);
    EXPECT_NEAR(dJointGetAMotorParam(motor, dParamVel), c.want, 1e-9);
    EXPECT_EQ(dJointGetAMotorParam(motor, dParamFMax), 1000);
    dVector3 axis;
    dJointGetAMotorAxis(motor, 0, axis);
    EXPECT_NEAR(vec3_length(v3(axis) - body_axis(FRAME, 2)), 0, 1e-9);
  }
}

TEST_F(SteeringArcade, RollServoLeansTheBikeTowardsTheSteering) {
  dWorldSetGravity(physics_world, 0, 0, 0);
  bike->setup.roll_damping = 60;
  pose(0, 0);
  bike->steer = -1;  // the "Left" key after reversed steering
  for (int t = 0; t < 64; t++) {
    arcade_update(bike);
    physics_world_step();
  }
  EXPECT_GT(lean_angle(bike), 0.3);  // leaning left
}

TEST_F(SteeringArcade, SteeringServo) {
  const struct {
    float steer;
    double turn, want;
  } cases[] = {
      {-1, 0, 75 * 2.0 / 3},                                       // saturated
      {-1, 0.45, 75 * 0.5 * (8 * (0.05 - 0.03125) - 1.0 / 2400)},  // small error
      {-1, 0.48, 0},                                               // inside the dead band
      {1, 0, -75 * 2.0 / 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.turn);
    dJointGroupEmpty(contact_group);
    bike->setup.steering_strength = 75;
    pose(0, 0);
    turn_front(c.turn);
    bike->steer = c.steer;
    arcade_update(bike);
    EXPECT_NEAR(steering_torque(), c.want, 1e-6);
  }
}

TEST_F(SteeringArcade, YawDragAndKnockedOut) {
  pose(0, 0);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) dBodySetAngularVel(bike->body[b], 0, 1, 0);
  bike->steer = 0;
  arcade_update(bike);
  // The point 20 ft behind moves at 20 ft/s to +x; a quarter of that pulls back.
  Vec3 f = v3(dBodyGetForce(bike->body[FRAME]));
  EXPECT_NEAR(vec3_length(f - vec3(-5, 0, 0)), 0, 1e-6);
  Vec3 t = v3(dBodyGetTorque(bike->body[FRAME])) + v3(dBodyGetTorque(bike->body[FRONT_WHEEL]));
  EXPECT_NEAR(vec3_length(t - vec3(0, -100, 0)), 0, 1e-6);

  dJointGroupEmpty(contact_group);
  pose(0, 0);
  bike->crash_countdown = 10;
  bike->steer = -1;
  arcade_update(bike);
  EXPECT_EQ(count_joints(FRAME, dJointTypeAMotor), 0);
  EXPECT_EQ(vec3_length(v3(dBodyGetTorque(bike->body[FRONT_WHEEL]))), 0);
}

// ---------------------------------------------------------------- rides

// Short rides on flat ground with a plain two-wheel contact (the full ground
// collision is not needed to see what the controller does): every tick the
// wheels touch the ground, the world steps, and the rider mount, the steering
// controller and the wobble damping run, as in the bike's post-step work.
class SteeringRide : public RiderWorld {
 protected:
  void wheel_contact(int32_t body, int32_t index) {
    const WheelInfo& w = body == FRONT_WHEEL ? bike->info.front_wheel : bike->info.rear_wheel;
    Vec3 c = pos(bike, body);
    Vec3 a = body_axis(body, 0);
    Vec3 down = vec3(0, -1, 0);
    Vec3 d = vec3_normalize(down - a * vec3_dot(a, down));
    Vec3 q = c + d * w.ring_radius;
    double depth = w.tyre_radius - q.y;
    bike->wheel_contact[index].depth = depth > 0 ? depth : 0;
    if (depth <= 0) return;
    dContact k;
    memset(&k, 0, sizeof k);
    k.surface.mode = dContactApprox1 | dContactSoftERP | dContactSoftCFM;
    k.surface.mu = 1.0;
    double kp = 20000, kd = 1000;
    k.surface.soft_cfm = 1 / (H * kp + kd);
    k.surface.soft_erp = H * kp * k.surface.soft_cfm;
    k.geom.pos[0] = q.x;
    k.geom.pos[1] = 0;
    k.geom.pos[2] = q.z;
    k.geom.normal[1] = 1;
    k.geom.depth = depth;
    dJointAttach(dJointCreateContact(physics_world, contact_group, &k), bike->body[body], nullptr);
  }
  // Rides n ticks; returns the largest lean seen.
  double ride(int n, std::function<void(int)> each = nullptr) {
    double most = 0;
    for (int t = 0; t < n; t++) {
      if (each) each(t);
      wheel_contact(FRONT_WHEEL, WHEEL_FRONT);
      wheel_contact(REAR_WHEEL, WHEEL_REAR);
      physics_world_step();
      rider_mount_update(bike);
      steering_update(bike);
      wobble_damping(bike);
      most = fmax(most, fabs(lean_angle(bike)));
    }
    return most;
  }
  Vec3 heading() { return body_axis(FRAME, 2) * -1; }
};

// With the stability-100 set-up (the default) a bike leaning 10 degrees at
// 25 ft/s is brought back up, to either side; without leveling, roll
// damping and lean-target steering the same bike falls over.
TEST_F(SteeringRide, ControllerRightsTheBike) {
  const struct {
    double lean;
    bool aids;
  } cases[] = {{10 * DEG, true}, {-10 * DEG, true}, {10 * DEG, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lean << (c.aids ? " aids" : " no aids"));
    bike_reset_pose(bike);
    ASSERT_TRUE(apply_setup(bike));
    if (!c.aids) {
      bike->setup.leveling = 0;
      bike->setup.roll_damping = 0;
      bike->setup.direct_steering = 1;  // no lean-target steering either
    }
    pose(c.lean, 25);
    double most = ride(256);
    if (c.aids) {
      EXPECT_LT(most, fabs(c.lean) + 0.01);
      EXPECT_LT(fabs(lean_angle(bike)), 0.07);
      EXPECT_GT(lean_angle(bike) * c.lean, 0);  // no overshoot to the other side
    } else {
      EXPECT_GT(most, 1.0);
    }
  }
}

// A held steering input leans the bike and turns it the way the rider
// steers: the "Left" key (STEER +1, reversed to steer -1 by the default
// reversed steering) leans it left and turns it left; both with the direct
// torque steering of the creation values and with lean-target steering.
TEST_F(SteeringRide, HeldSteeringLeansAndTurnsThatWay) {
  const struct {
    float key;
    bool preset;
  } cases[] = {{1, false}, {-1, false}, {1, true}, {-1, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.key << (c.preset ? " lean target" : " direct"));
    bike_reset_pose(bike);
    aid_setup_defaults(bike);
    if (c.preset) {
      ASSERT_TRUE(apply_setup(bike));
    }
    pose(0, 25);
    const float values[CONTROL_SLOT_COUNT] = {c.key, 0, 0, 0, 0, 0, 0, 0, 0};
    ride(128, [&](int) { controls_apply(bike, values); });
    double left = c.key;  // +1: expect a left lean and a heading to -x
    EXPECT_GT(lean_angle(bike) * left, 0.2);
    EXPECT_LT(heading().x * left, -0.1);
    EXPECT_LT(vel(bike, FRAME).x * left, -1);
  }
}

}  // namespace
