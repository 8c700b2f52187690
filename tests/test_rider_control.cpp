// Rider controls and their setters, the set-up copy and the rider's mount.
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
#include "tests/rider_fixture.h"

namespace {

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
