// Rider controls and their setters, the set-up copy, the rider's mount, the
// stability controller's torque and its signs on posed bikes, the arcade
// servos and the wobble damping; and short rides on a simple two-wheel ground
// contact that show the controller rights the bike and turns it the way the
// rider steers.
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

// ---------------------------------------------------------------- controls

// A bike record without bodies, enough for the setters.
struct LooseBike {
  std::unique_ptr<Bike> bike{new Bike()};
  LooseBike() {
    bike->info = bike_catalogue[0];
    bike->clutch = 1;
  }
};

class RiderControl : public ::testing::Test {
 protected:
  LooseBike loose;
  Bike* bike = loose.bike.get();
  void SetUp() override {
    settings_init_defaults();
    physics_state_reset();
    message_history_clear(message_history);
  }
  void apply(float steer, float throttle, float fb, float rb, float shift_v, float clutch,
             float dab, float back, float lean) {
    const float v[CONTROL_SLOT_COUNT] = {steer, throttle, fb, rb, shift_v, clutch, dab, back, lean};
    controls_apply(bike, v);
  }
};

struct ControlCase {
  const char* name;
  const char* reverse;
  float in[CONTROL_SLOT_COUNT];
  float steer, throttle, front, rear, dab, back, lean;
};

TEST_F(RiderControl, ValuesAreClampedAndSteeringReversed) {
  const float nan = NAN;
  const ControlCase cases[] = {
      {"plain",
       "No",
       {0.5f, 0.25f, 0.75f, 1, 0, 0, 0.5f, 0.125f, -0.5f},
       0.5f,
       0.25f,
       0.75f,
       1,
       0.5f,
       0.125f,
       -0.5f},
      {"reversed left key", "Yes", {1, 0, 0, 0, 0, 0, 0, 0, 0}, -1, 0, 0, 0, 0, 0, 0},
      {"reversed right key", "Yes", {-1, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 0, 0, 0, 0, 0, 0},
      {"over range", "No", {3, 2, 5, 9, 0, 0, 4, 7, 3}, 1, 1, 1, 1, 1, 1, 1},
      {"under range", "Yes", {-3, -2, -5, -9, 0, 0, -4, -7, -3}, 1, 0, 0, 0, 0, 0, -1},
      {"nan", "No", {nan, nan, nan, nan, nan, 0, nan, nan, nan}, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const ControlCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(choice_set(&settings.reverse_steering, c.reverse));
    controls_apply(bike, c.in);
    EXPECT_FLOAT_EQ(bike->steer, c.steer);
    EXPECT_FLOAT_EQ(bike->throttle, c.throttle);
    EXPECT_FLOAT_EQ(bike->front_brake, c.front);
    EXPECT_FLOAT_EQ(bike->rear_brake, c.rear);
    EXPECT_FLOAT_EQ(bike->dab, c.dab);
    EXPECT_FLOAT_EQ(bike->back_up, c.back);
    EXPECT_FLOAT_EQ(bike->lean, c.lean);
  }
}

TEST_F(RiderControl, ClutchLeverDisengagesAtSevenEighths) {
  const struct {
    float lever, want;
  } cases[] = {{1, 0}, {0.875f, 0}, {0.9f, 0}, {0.4375f, 0.5f}, {0, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lever);
    bike->clutch = 1;  // fully engaged: any target at or below it applies at once
    apply(0, 0, 0, 0, 0, c.lever, 0, 0, 0);
    EXPECT_FLOAT_EQ(bike->clutch, c.want);
  }
}

TEST_F(RiderControl, ClutchEngagesOverThirtyTwoTicks) {
  apply(0, 0, 0, 0, 0, 1, 0, 0, 0);
  EXPECT_EQ(bike->clutch, 0);
  for (int t = 1; t <= 32; t++) {
    apply(0, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_NEAR(bike->clutch, t / 32.0, 1e-6) << t;
  }
  apply(0, 0, 0, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(bike->clutch, 1);
  // Pulled half way again: disengages at once; let out to a part-pulled lever,
  // the engagement never passes what the lever allows.
  apply(0, 0, 0, 0, 0, 0.4375f, 0, 0, 0);
  EXPECT_FLOAT_EQ(bike->clutch, 0.5f);
  apply(0, 0, 0, 0, 0, 0.875f, 0, 0, 0);
  EXPECT_EQ(bike->clutch, 0);
  for (int t = 0; t < 40; t++) {
    apply(0, 0, 0, 0, 0, 0.4375f, 0, 0, 0);
    EXPECT_LE(bike->clutch, 0.5f);
  }
  EXPECT_FLOAT_EQ(bike->clutch, 0.5f);
}

TEST_F(RiderControl, StickyDabToggles) {
  const struct {
    const char* sticky;
    float in[9];
    float want[9];
  } cases[] = {
      // held down keeps the latch, a second press releases it
      {"Yes", {1, 1, 1, 0, 0, 0.5f, 0.6f, 0.2f, 1}, {1, 1, 1, 1, 1, 0, 0, 0, 1}},
      // a value below the threshold never toggles
      {"Yes", {0.4f, 0.49f, 0, 0.3f, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"No", {1, 1, 0, 0.25f, 0.75f, 0, 1, 0, 0}, {1, 1, 0, 0.25f, 0.75f, 0, 1, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sticky);
    ASSERT_TRUE(choice_set(&settings.sticky_dab, c.sticky));
    bike->dab_latch = false;
    bike->last_dab_input = 0;
    for (int t = 0; t < 9; t++) {
      apply(0, 0, 0, 0, 0, 0, c.in[t], 0, 0);
      EXPECT_FLOAT_EQ(bike->dab, c.want[t]) << "tick " << t;
    }
  }
}

TEST_F(RiderControl, KnockedOutHoldsRiderInputs) {
  bike->crash_countdown = 100;
  apply(1, 1, 0.5f, 0.25f, 0, 0, 1, 1, -1);
  EXPECT_EQ(bike->throttle, 0);
  EXPECT_EQ(bike->dab, 0);
  EXPECT_EQ(bike->back_up, 0);
  EXPECT_EQ(bike->lean, 0);
  // Steering and brakes still follow the controls.
  EXPECT_EQ(bike->steer, -1);
  EXPECT_EQ(bike->front_brake, 0.5f);
  EXPECT_EQ(bike->rear_brake, 0.25f);
  // The setters the robot driver uses hold the same rule.
  bike_set_throttle(bike, 1);
  bike_set_dab(bike, 1);
  bike_set_back_up(bike, 1);
  bike_set_lean(bike, 1);
  EXPECT_EQ(bike->throttle + bike->dab + bike->back_up + bike->lean, 0);
  bike->crash_countdown = 0;
  bike_set_throttle(bike, 1);
  EXPECT_EQ(bike->throttle, 1);
}

TEST_F(RiderControl, ShiftActsOnChangeOfRequest) {
  bike->gear = 0;
  const struct {
    float shift_value;
    bool knocked_out;
    int32_t gear;
  } steps[] = {
      {1, false, 1}, {1, false, 1},     {0.4f, false, 1}, {0.6f, false, 2},
      {0, false, 2}, {-0.6f, false, 1}, {-1, false, 1},   {0, true, 1},
      {1, true, 1},  {1, false, 1},     {0, false, 1},    {1, false, 2},
  };
  for (size_t i = 0; i < sizeof steps / sizeof steps[0]; i++) {
    bike->crash_countdown = steps[i].knocked_out ? 10 : 0;
    apply(0, 0, 0, 0, steps[i].shift_value, 0, 0, 0, 0);
    EXPECT_EQ(bike->gear, steps[i].gear) << "step " << i;
  }
}

TEST_F(RiderControl, GateHold) {
  bike->throttle = 1;
  bike->clutch = 1;
  bike->back_up = 1;
  gate_hold(bike, false);
  EXPECT_EQ(bike->dab, 1);
  EXPECT_EQ(bike->throttle, 1);  // before the start only the foot goes down
  gate_hold(bike, true);
  EXPECT_EQ(bike->front_brake, 1);
  EXPECT_EQ(bike->rear_brake, 1);
  EXPECT_EQ(bike->back_up, 0);
  EXPECT_EQ(bike->clutch, 0);
  EXPECT_EQ(bike->throttle, 0);
  EXPECT_EQ(bike->dab, 1);
}

// ---------------------------------------------------------------- posed bikes

Vec3 v3(const dReal* p) { return vec3(p[0], p[1], p[2]); }

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

// ---------------------------------------------------------------- rider mount

using RiderMount = RiderWorld;

TEST_F(RiderMount, SuspensionAndContacts) {
  double m = bike->info.rider_mass;
  bike->setup.rider_zdamping = 0.5;
  rider_mount_update(bike);
  EXPECT_NEAR(dJointGetHinge2Param(bike->joint[RIDER_MOUNT], dParamSuspensionCFM),
              1 / ((30 * 0.5 + 5) * m * 0.21333333), 1e-12);
  EXPECT_EQ(dJointGetHinge2Param(bike->joint[RIDER_MOUNT], dParamSuspensionERP), 0);
  EXPECT_EQ(count_joints(RIDER, dJointTypeContact), 2);
  dJointID c = find_joint(RIDER, dJointTypeContact);
  EXPECT_EQ(dJointGetBody(c, 0), bike->body[RIDER]);
  EXPECT_EQ(dJointGetBody(c, 1), bike->body[FRAME]);

  // Without vertical spring and damping only the fore-aft contact is made.
  dJointGroupEmpty(contact_group);
  bike->setup.rider_ydamping = 0;
  bike->setup.rider_yspring = 0;
  rider_mount_update(bike);
  EXPECT_EQ(count_joints(RIDER, dJointTypeContact), 1);

  // Knocked out: the suspension is still set, but no seat springs pull on the
  // thrown rider.
  dJointGroupEmpty(contact_group);
  bike->crash_countdown = 300;
  bike->setup.rider_zdamping = 1;
  rider_mount_update(bike);
  EXPECT_EQ(count_joints(RIDER, dJointTypeContact), 0);
  EXPECT_NEAR(dJointGetHinge2Param(bike->joint[RIDER_MOUNT], dParamSuspensionCFM),
              1 / (35 * m * 0.21333333), 1e-12);
}

TEST_F(RiderMount, SettlesOnItsTarget) {
  // Without gravity the rider settles where the two seat springs put it:
  // 0.125 ft above its place with dab 0, 0.375 below with dab 1; forward by
  // the lean (-1 = forward) and sinking back when sitting low.
  const struct {
    float dab, lean;
    double above, forward;
  } cases[] = {
      {0, 0, 0.125, -0.0625}, {1, 0, -0.375, 0.375},   {0, -1, 0.125, 0.75},
      {0, 1, 0.125, -0.75},   {1, -0.5, -0.375, 0.75}, {0.5f, 0, -0.125, 0.09375},
  };
  dWorldSetGravity(physics_world, 0, 0, 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.dab << " " << c.lean);
    pose(0.3, 0);
    bike->dab = c.dab;
    bike->lean = c.lean;
    for (int t = 0; t < 640; t++) {
      rider_mount_update(bike);
      physics_world_step();
    }
    const BikeInfo& i = bike->info;
    dVector3 seat;
    dBodyGetRelPointPos(bike->body[FRAME], i.rider_pos[0] - i.frame_pos[0],
                        i.rider_pos[1] - i.frame_pos[1], i.rider_pos[2] - i.frame_pos[2], seat);
    Vec3 d = pos(bike, RIDER) - v3(seat);
    EXPECT_NEAR(vec3_dot(d, body_axis(FRAME, 1)), c.above, 0.01);
    EXPECT_NEAR(-vec3_dot(d, body_axis(FRAME, 2)), c.forward, 0.01);
  }
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

// ---------------------------------------------------------------- set-up

using RiderControlSetup = RiderWorld;

TEST_F(RiderControlSetup, CreatedValues) {
  const BikeSetup& su = bike->setup;
  const struct {
    const char* name;
    double got, want;
  } cases[] = {
      {"leveling", su.leveling, 20},
      {"roll_damping", su.roll_damping, 60},
      {"roll_limit_angle", su.roll_limit_angle, 45 * DEG},
      {"roll_limit_factor", su.roll_limit_factor, 10},
      {"steering_damping", su.steering_damping, 45},
      {"steering_strength", su.steering_strength, 75},
      {"max_steering_force", su.max_steering_force, 400},
      {"direct_steering", su.direct_steering, 1},
      {"slow_damping_speed", su.slow_damping_speed, 0},
      {"slow_damping_factor", su.slow_damping_factor, 1},
      {"land_damping_falloff", su.land_damping_falloff, 0.25},
      {"land_damping_factor", su.land_damping_factor, 2},
      {"full_lock_speed", su.full_lock_speed, 10},
      {"restricted_lock_speed", su.restricted_lock_speed, 50},
      {"restricted_lock", su.restricted_lock, 5 * DEG},
      {"rider_yspring", su.rider_yspring, 0.5},
      {"rider_ydamping", su.rider_ydamping, 0.5},
      {"rider_zspring", su.rider_zspring, 0.5},
      {"rider_zdamping", su.rider_zdamping, 0.5},
      {"max_dab_speed", su.max_dab_speed, 30},
      {"arcade", su.arcade ? 1.0 : 0.0, 0},
      {"land_damping", bike->land_damping, 1},
      {"rider share", bike->rider_mass_share, 1.0 / 3},
  };
  for (const auto& c : cases) EXPECT_NEAR(c.got, c.want, 1e-12) << c.name;
}

TEST_F(RiderControlSetup, CopiesAndClampsTheSettings) {
  // The stability preset 100 is in force after the defaults.
  settings.max_dab_speed.value = 20;
  settings.rider_mass_distribution.value = 0.5;
  settings.rider_zspring.value = 80;
  ASSERT_TRUE(choice_set(&settings.arcade, "Yes"));
  ASSERT_TRUE(choice_set(&settings.auto_dab, "Yes"));
  ASSERT_TRUE(choice_set(&settings.auto_align, "No"));
  ASSERT_TRUE(apply_setup(bike));
  const BikeSetup& su = bike->setup;
  EXPECT_EQ(su.direct_steering, 0);
  EXPECT_EQ(su.roll_damping, 80);
  EXPECT_NEAR(su.roll_limit_angle, 35 * DEG, 1e-12);
  EXPECT_EQ(su.roll_limit_factor, 32);
  EXPECT_NEAR(su.restricted_lock, 5 * DEG, 1e-12);
  EXPECT_EQ(su.slow_damping_speed, 40);
  EXPECT_EQ(su.slow_damping_factor, 2);
  EXPECT_NEAR(su.max_dab_speed, 20 * 1.4666667, 1e-9);
  EXPECT_NEAR(su.rider_zspring, 0.8, 1e-12);
  EXPECT_TRUE(su.arcade);
  EXPECT_TRUE(su.auto_dab);
  EXPECT_FALSE(su.auto_align);
  EXPECT_EQ(bike->rider_mass_share, 0.5);
  dMass rider;
  dBodyGetMass(bike->body[RIDER], &rider);
  EXPECT_NEAR(rider.mass, 0.5 * bike->info.rider_mass, 1e-9);

  // Out-of-range values (as a hand-edited file could leave them) are clamped.
  const struct {
    NumberSetting* setting;
    double value;
    const double* field;
    double want;
  } cases[] = {
      {&settings.leveling, 250, &su.leveling, 100},
      {&settings.roll_limit_angle, 400, &su.roll_limit_angle, PI},
      {&settings.roll_limit_factor, -3, &su.roll_limit_factor, 0},
      {&settings.slow_damping_factor, 0, &su.slow_damping_factor, 1},
      {&settings.land_damping_factor, 9, &su.land_damping_factor, 3},
      {&settings.land_damping_falloff, 2, &su.land_damping_falloff, 0.5},
      {&settings.full_lock_speed, 0, &su.full_lock_speed, 1},
      {&settings.restricted_lock, 90, &su.restricted_lock, PI / 4},
      {&settings.max_steering_force, 5000, &su.max_steering_force, 1000},
      {&settings.direct_steering, NAN, &su.direct_steering, 0},
      {&settings.max_dab_speed, 3, &su.max_dab_speed, 7},
      {&settings.max_dab_speed, 80, &su.max_dab_speed, 100},
      {&settings.rider_yspring, 150, &su.rider_yspring, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setting->label);
    double keep = c.setting->value;
    c.setting->value = c.value;
    ASSERT_TRUE(apply_setup(bike));
    EXPECT_NEAR(*c.field, c.want, 1e-9);
    c.setting->value = keep;
  }
}

TEST_F(RiderControlSetup, RefusedWhileMoving) {
  double before = bike->setup.roll_damping;
  settings.roll_damping.value = 10;
  const struct {
    double clock;
    bool message;
  } tries[] = {{100, false}, {105, true}, {120, false}, {129.5, true}, {129.75, true}};
  pose(0, 1);
  for (const auto& t : tries) {
    SCOPED_TRACE(t.clock);
    message_history_clear(message_history);
    physics_state.clock = t.clock;
    EXPECT_FALSE(apply_setup(bike));
    EXPECT_EQ(bike->setup.roll_damping, before);
    EXPECT_EQ(physics_state.setup_refused_at, t.clock);
    EXPECT_EQ(std::string(message_history_line(message_history, 0)),
              t.message ? "Settings not applied.  Mechanic can't keep up error." : "");
  }
  // The first refusal of a session is silent (the refusal time starts long ago).
  physics_state_reset();
  physics_state.clock = 3;
  message_history_clear(message_history);
  EXPECT_FALSE(apply_setup(bike));
  EXPECT_EQ(std::string(message_history_line(message_history, 0)), "");
  // Standing still (slower than 0.125 ft/s) it applies.
  pose(0, 0.1);
  EXPECT_TRUE(apply_setup(bike));
  EXPECT_EQ(bike->setup.roll_damping, 10);
}

TEST_F(RiderControlSetup, ServerForbidsArcade) {
  Bike* other = add_bike(nullptr, 100, 100);
  ASSERT_TRUE(choice_set(&settings.arcade, "Yes"));
  ASSERT_TRUE(apply_setup(bike));
  ASSERT_TRUE(apply_setup(other));
  ASSERT_TRUE(bike->setup.arcade && other->setup.arcade);
  Bike* list[] = {bike, nullptr, other};
  forbid_arcade(list, 3);
  EXPECT_TRUE(physics_state.no_arcade);
  EXPECT_FALSE(bike->setup.arcade);
  EXPECT_FALSE(other->setup.arcade);
  EXPECT_EQ(std::string(message_history_line(message_history, 0)), "Arcade physics disabled");
  // From then on the setting is not applied.
  ASSERT_TRUE(apply_setup(bike));
  EXPECT_FALSE(bike->setup.arcade);

  // With the setting off there is nothing to tell.
  message_history_clear(message_history);
  ASSERT_TRUE(choice_set(&settings.arcade, "No"));
  forbid_arcade(list, 3);
  EXPECT_EQ(std::string(message_history_line(message_history, 0)), "");
}

}  // namespace
