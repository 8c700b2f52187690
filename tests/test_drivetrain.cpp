// Fork and shock forces and their joint motors, the linkage curve, the set-up
// mappings, gear changes, the engine's torque tables, the clutch and the
// brakes; and in the world: the engine drives the rear wheel forwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/config.h"
#include "physics/bike.h"
#include "physics/catalogue.h"
#include "physics/drivetrain.h"
#include "physics/world.h"
#include "tests/bike_fixture.h"

namespace {

constexpr double PI = 3.14159265358979323846;

const BikeInfo& entry(const char* name) {
  int32_t i = bike_catalogue_index(name);
  EXPECT_GE(i, 0) << name;
  return bike_catalogue[i < 0 ? 0 : i];
}

class DrivetrainBike : public BikeWorld {
 protected:
  Bike* bike = nullptr;
  Vec3 offset{};  // world position of the bike's reset-pose origin

  void SetUp() override {
    BikeWorld::SetUp();
    bike = add_bike();
    ASSERT_NE(bike, nullptr);
    Vec3 frame = pos(bike, FRAME);
    offset =
        frame - vec3(bike->info.frame_pos[0], bike->info.frame_pos[1], bike->info.frame_pos[2]);
  }

  Vec3 world_point(const float p[3]) const { return offset + vec3(p[0], p[1], p[2]); }

  Vec3 fork_axis() const {
    const BikeInfo& in = bike->info;
    return vec3_normalize(vec3(in.steering_pos[0] - in.fork_lower_pos[0],
                               in.steering_pos[1] - in.fork_lower_pos[1],
                               in.steering_pos[2] - in.fork_lower_pos[2]));
  }
  // Moves the lower fork (and the front wheel) up the steering axis by d.
  void compress_fork(double d) {
    for (int32_t b : {FORK_LOWER, FRONT_WHEEL}) {
      Vec3 p = pos(bike, b) + fork_axis() * d;
      dBodySetPosition(bike->body[b], p.x, p.y, p.z);
    }
  }
  // Back to the reset pose where the bike was placed.
  void repose() {
    bike_reset_pose(bike);
    bike_translate(bike, offset.x, offset.y, offset.z);
  }

  // Turns the swingarm (with the rear wheel) about its pivot so that the
  // rear axle rises by the angle alpha (compression).
  void compress_swingarm(double alpha) {
    Vec3 pivot = world_point(bike->info.swingarm_pivot);
    dMatrix3 r;
    dRFromAxisAndAngle(r, 1, 0, 0, -alpha);
    for (int32_t b : {SWINGARM, REAR_WHEEL}) {
      Vec3 d = pos(bike, b) - pivot;
      Vec3 rd = vec3(r[0] * d.x + r[1] * d.y + r[2] * d.z, r[4] * d.x + r[5] * d.y + r[6] * d.z,
                     r[8] * d.x + r[9] * d.y + r[10] * d.z);
      Vec3 p = pivot + rd;
      dBodySetPosition(bike->body[b], p.x, p.y, p.z);
      dBodySetRotation(bike->body[b], r);
    }
  }

  void set_contact(int32_t wheel, double depth, double speed) {
    bike->wheel_contact[wheel].depth = depth;
    bike->wheel_contact[wheel].velocity = vec3(0, 0, -speed);
  }

  // Rear wheel turning forwards with REAR_AXLE rate w (rad/s).
  void spin_rear_wheel(double w) { dBodySetAngularVel(bike->body[REAR_WHEEL], -w, 0, 0); }

  void set_rpm(double rpm) { bike->engine_speed = (float)(rpm / RPM_PER_RAD_S); }

  double slider_param(int32_t param) const {
    return dJointGetSliderParam(bike->joint[FORK_SLIDER], param);
  }
  double hinge_param(int32_t joint, int32_t param) const {
    return dJointGetHingeParam(bike->joint[joint], param);
  }
};

// ================================================================ suspension

TEST(SuspensionDamping, SpeedProportionalForceWithLowSpeedOffsetWithinAnEighthToEightTimes) {
  struct Case {
    double v, hs_c, ls_c, hs_r, ls_r, expected;
  };
  const Case cases[] = {
      {-1, 60, 0, 32, 0, 60},          // compression, no offset
      {-1, 60, 60, 32, 0, 120},        // offset added
      {-0.01, 60, 60, 32, 0, 4.8},     // offset limited to 8 f
      {-1, 60, -60, 32, 0, 7.5},       // negative offset limited to f / 8
      {1, 60, 60, 32, 0, -32},         // rebound uses the rebound coefficients
      {1, 60, 0, 32, 30, -62},         // rebound offset resists extension
      {0.01, 60, 0, 32, 30, -2.56},    // limited to 8 f
      {1, 60, 0, 32, -100, -4},        // negative offset limited to f / 8
      {0, 60, 60, 32, 30, 0},          // at rest no damping at all
      {-2, 800, 200, 650, 150, 1800},  // shock-like values
  };
  for (const Case& c : cases)
    EXPECT_NEAR(damping_force(c.v, c.hs_c, c.ls_c, c.hs_r, c.ls_r), c.expected, 1e-9)
        << "v " << c.v << " ls_c " << c.ls_c << " ls_r " << c.ls_r;
}

TEST(SuspensionAirSpring, FullCompressionWithOilLevelZeroOnAStockFork) {
  const BikeInfo& in = bike_catalogue[0];
  ASSERT_FLOAT_EQ(in.fork_travel, 1.0f);
  double l = 1.0 + (double)in.fork_air_min;
  EXPECT_NEAR(l, 1.4166667, 1e-6);
  double expected = 82.4616928 * (pow(1.4166667 / 0.4166667, 1.4) - 1);
  EXPECT_NEAR(fork_air_force(in.fork_travel, in.fork_air_min, 1.0), expected, 1e-3);
  EXPECT_NEAR(expected, 374.966, 0.01);
  // Compression beyond the travel counts as full travel; none at full extension.
  EXPECT_DOUBLE_EQ(fork_air_force(in.fork_travel, in.fork_air_min, 3.0),
                   fork_air_force(in.fork_travel, in.fork_air_min, 1.0));
  EXPECT_DOUBLE_EQ(fork_air_force(in.fork_travel, in.fork_air_min, 0), 0);
  EXPECT_DOUBLE_EQ(fork_air_force(in.fork_travel, in.fork_air_min, -0.5), 0);
  // More oil (a shorter air column) is stiffer.
  EXPECT_GT(fork_air_force(in.fork_travel, in.fork_air_max, 0.5),
            fork_air_force(in.fork_travel, in.fork_air_min, 0.5));
  // An air column of zero stays finite.
  EXPECT_TRUE(std::isfinite(fork_air_force(1.0, 0.0, 1.0)));
}

TEST(SuspensionLinkage, TwoPieceCurveEndsBreakAndProgression) {
  Bike fake{};
  fake.info = bike_catalogue[0];
  const BikeInfo& in = fake.info;
  LinkagePoint rest = linkage_curve(&fake, 0);
  EXPECT_NEAR(rest.travel, 0, 1e-12);
  EXPECT_NEAR(rest.leverage, 0.315, 5e-4);
  EXPECT_NEAR(rest.leverage, in.linkage_slope_start, 1e-6);
  LinkagePoint full = linkage_curve(&fake, 1);
  EXPECT_NEAR(full.travel, in.linkage_full_travel, 1e-6);
  EXPECT_NEAR(full.leverage, 0.607, 5e-4);
  EXPECT_NEAR(full.leverage, in.linkage_slope_end, 1e-6);
  // The two pieces meet at the break with the same travel and leverage.
  double b = in.linkage_break;
  LinkagePoint at = linkage_curve(&fake, b);
  LinkagePoint after = linkage_curve(&fake, b + 1e-9);
  EXPECT_NEAR(at.travel, in.linkage_mid_travel, 1e-6);
  EXPECT_NEAR(at.leverage, in.linkage_slope_mid, 1e-6);
  EXPECT_NEAR(after.travel, at.travel, 1e-8);
  EXPECT_NEAR(after.leverage, at.leverage, 1e-6);
  // Outside 0..1 the ends hold.
  EXPECT_DOUBLE_EQ(linkage_curve(&fake, -0.5).travel, rest.travel);
  EXPECT_DOUBLE_EQ(linkage_curve(&fake, 1.5).travel, full.travel);
  // Leverage is the slope of travel, and travel only grows.
  double last = -1;
  for (double u = 0.01; u < 0.99; u += 0.02) {
    LinkagePoint p = linkage_curve(&fake, u);
    double slope =
        (linkage_curve(&fake, u + 1e-6).travel - linkage_curve(&fake, u - 1e-6).travel) / 2e-6;
    EXPECT_NEAR(p.leverage, slope, 1e-5) << "u " << u;
    EXPECT_GT(p.travel, last);
    last = p.travel;
  }
}

TEST_F(DrivetrainBike, SuspensionCreationDefaults) {
  const BikeInfo& in = bike->info;
  const BikeSetup& su = bike->setup;
  EXPECT_DOUBLE_EQ(su.fork_hs_compression, in.fork_hs_compression);
  EXPECT_DOUBLE_EQ(su.fork_hs_rebound, in.fork_hs_rebound);
  EXPECT_DOUBLE_EQ(su.fork_ls_compression, 0);
  EXPECT_DOUBLE_EQ(su.fork_ls_rebound, 0);
  EXPECT_NEAR(su.fork_spring, (in.fork_spring_min + in.fork_spring_max) / 2, 1e-3);
  EXPECT_NEAR(su.fork_preload, (in.fork_preload_min + in.fork_preload_max) / 2, 1e-7);
  EXPECT_DOUBLE_EQ(su.fork_air_length, in.fork_air_min);
  EXPECT_DOUBLE_EQ(su.shock_hs_compression, in.shock_hs_compression);
  EXPECT_DOUBLE_EQ(su.shock_hs_rebound, in.shock_hs_rebound);
  EXPECT_DOUBLE_EQ(su.shock_ls_compression, 0);
  EXPECT_DOUBLE_EQ(su.shock_ls_rebound, 0);
  EXPECT_NEAR(su.shock_spring, (in.shock_spring_min + in.shock_spring_max) / 2, 1e-3);
  EXPECT_NEAR(su.shock_preload, (in.shock_preload_min + in.shock_preload_max) / 2, 1e-7);
  EXPECT_DOUBLE_EQ(su.brake_torque, 250);
  EXPECT_DOUBLE_EQ(su.rear_brake_torque, 250);
  EXPECT_DOUBLE_EQ(su.auto_clutch_rpms, 5000);
  EXPECT_TRUE(su.front_antilock);
  EXPECT_FALSE(su.rear_antilock);
  EXPECT_EQ(su.stop_wheelies, STOP_WHEELIES_CODE_FRONT);
  EXPECT_FALSE(su.auto_shift);
  EXPECT_FLOAT_EQ(bike->final_ratio, 48.0f / 13.0f);
}

TEST_F(DrivetrainBike, SuspensionForkForceFadesOutAtFullExtension) {
  const BikeInfo& in = bike->info;
  const BikeSetup& su = bike->setup;
  auto unfaded = [&](double p) {
    return (su.fork_preload - p) * su.fork_spring +
           fork_air_force(in.fork_travel, su.fork_air_length, -p);
  };
  double t = in.fork_travel;
  EXPECT_DOUBLE_EQ(fork_force(bike, 0, 0), 0);
  EXPECT_DOUBLE_EQ(fork_force(bike, 0.1, 0), 0);  // beyond full extension
  EXPECT_NEAR(fork_force(bike, -t / 64, 0), unfaded(-t / 64) / 2, 1e-9);
  EXPECT_NEAR(fork_force(bike, -t / 32, 0), unfaded(-t / 32), 1e-9);
  EXPECT_NEAR(fork_force(bike, -t / 2, 0), unfaded(-t / 2), 1e-9);
  EXPECT_NEAR(fork_force(bike, -t, 0), unfaded(-t), 1e-9);
  // Compression damping adds, rebound damping subtracts.
  EXPECT_NEAR(fork_force(bike, -0.5, -1), unfaded(-0.5) + su.fork_hs_compression, 1e-9);
  EXPECT_NEAR(fork_force(bike, -0.5, 1), unfaded(-0.5) - su.fork_hs_rebound, 1e-9);
}

TEST_F(DrivetrainBike, SuspensionForkUpdatePushesThroughTheSliderMotor) {
  struct Case {
    double compression, rate, ls_rebound;
    bool pushes;
  };
  const Case cases[] = {
      {0.5, 0, 0, true},       // sagged: spring and air push it out
      {1.0, 0, 0, true},       // bottomed out
      {0.05, 2, 5000, false},  // fast extension with strong low-speed rebound
      {0.05, 3, 0, false},     // high-speed rebound alone outweighs the soft spring here
      {0.0, 0, 0, true},       // full extension: no force (FMax 0)
  };
  for (const Case& c : cases) {
    repose();
    bike->setup.fork_ls_rebound = c.ls_rebound;
    compress_fork(c.compression);
    Vec3 v = fork_axis() * -c.rate;  // lower leg moving down the axis: extending
    dBodySetLinearVel(bike->body[FORK_LOWER], v.x, v.y, v.z);
    double p = dJointGetSliderPosition(bike->joint[FORK_SLIDER]);
    double rate = dJointGetSliderPositionRate(bike->joint[FORK_SLIDER]);
    ASSERT_NEAR(p, -c.compression, 1e-9);
    ASSERT_NEAR(rate, c.rate, 1e-9);
    double f = fork_force(bike, p, rate);
    fork_update(bike);
    EXPECT_EQ(f >= 0, c.pushes) << "compression " << c.compression << " F " << f;
    EXPECT_DOUBLE_EQ(slider_param(dParamVel), f >= 0 ? 100 : 0) << "compression " << c.compression;
    EXPECT_NEAR(slider_param(dParamFMax), fabs(f), 1e-9) << "compression " << c.compression;
    if (c.compression == 0) {
      EXPECT_DOUBLE_EQ(slider_param(dParamFMax), 0);
    }
  }
}

TEST_F(DrivetrainBike, SuspensionShockUpdateUsesTheLinkageAndTheSwingarmMotor) {
  const BikeInfo& in = bike->info;
  const BikeSetup& su = bike->setup;
  double max = in.swingarm_max_angle;
  // At full extension nothing; at 1/64 of the angle half; from 1/32 all of it.
  EXPECT_DOUBLE_EQ(shock_torque(bike, 0, 0), 0);
  auto unfaded = [&](double a) {
    LinkagePoint lp = linkage_curve(bike, -a / max);
    return (lp.travel + su.shock_preload) * su.shock_spring * lp.leverage;
  };
  EXPECT_NEAR(shock_torque(bike, -max / 64, 0), unfaded(-max / 64) / 2, 1e-9);
  EXPECT_NEAR(shock_torque(bike, -max / 32, 0), unfaded(-max / 32), 1e-9);
  // Damping acts on the shock's own speed (swingarm rate times leverage).
  double a = -0.3;
  LinkagePoint lp = linkage_curve(bike, -a / max);
  EXPECT_NEAR(shock_torque(bike, a, -2) - unfaded(a),
              damping_force(-2 * lp.leverage, su.shock_hs_compression, 0, 0, 0) * lp.leverage,
              1e-9);

  compress_swingarm(0.3);
  ASSERT_NEAR(dJointGetHingeAngle(bike->joint[SWINGARM_PIVOT]), -0.3, 1e-9);
  shock_update(bike);
  EXPECT_DOUBLE_EQ(hinge_param(SWINGARM_PIVOT, dParamVel), 100);
  EXPECT_NEAR(hinge_param(SWINGARM_PIVOT, dParamFMax), shock_torque(bike, -0.3, 0), 1e-9);
  EXPECT_GT(hinge_param(SWINGARM_PIVOT, dParamFMax), 300);

  // Strong rebound damping while extending fast only resists.
  bike->setup.shock_ls_rebound = 1e5;
  double w = 20;  // extending
  dBodySetAngularVel(bike->body[SWINGARM], w, 0, 0);
  double rate = dJointGetHingeAngleRate(bike->joint[SWINGARM_PIVOT]);
  ASSERT_NEAR(rate, w, 1e-9);
  double t = shock_torque(bike, -0.3, rate);
  ASSERT_LT(t, 0);
  shock_update(bike);
  EXPECT_DOUBLE_EQ(hinge_param(SWINGARM_PIVOT, dParamVel), 0);
  EXPECT_NEAR(hinge_param(SWINGARM_PIVOT, dParamFMax), -t, 1e-9);
}

TEST_F(DrivetrainBike, SuspensionSettingsMappings) {
  const BikeInfo& in = bike->info;
  struct Case {
    double setting, high_speed, low_speed, range;
  };
  const Case cases[] = {
      {0, 0.25, -1, 0},   {25, 0.5, -0.5, 0.25}, {50, 1, 0, 0.5},
      {75, 2, 0.5, 0.75}, {100, 4, 1, 1},        {150, 4, 1, 1},  // out of range: clamped
      {-50, 0.25, -1, 0},
  };
  for (const Case& c : cases) {
    Settings& s = settings;
    for (NumberSetting* n :
         {&s.fork_compression_adjustment, &s.fork_slow_compression_adjustment,
          &s.fork_rebound_adjustment, &s.fork_slow_rebound_adjustment,
          &s.fork_spring_rate_adjustment, &s.fork_preload_adjustment, &s.fork_oil_level_adjustment,
          &s.shock_compression_adjustment, &s.shock_slow_compression_adjustment,
          &s.shock_rebound_adjustment, &s.shock_slow_rebound_adjustment,
          &s.shock_spring_rate_adjustment, &s.shock_preload_adjustment})
      n->value = c.setting;
    drivetrain_apply_settings(bike);
    const BikeSetup& su = bike->setup;
    SCOPED_TRACE(c.setting);
    EXPECT_NEAR(su.fork_hs_compression, c.high_speed * in.fork_hs_compression, 1e-9);
    EXPECT_NEAR(su.fork_hs_rebound, c.high_speed * in.fork_hs_rebound, 1e-9);
    EXPECT_NEAR(su.fork_ls_compression, c.low_speed * in.fork_ls_compression, 1e-9);
    EXPECT_NEAR(su.fork_ls_rebound, c.low_speed * in.fork_ls_rebound, 1e-9);
    auto range = [&](double lo, double hi) { return lo + c.range * (hi - lo); };
    EXPECT_NEAR(su.fork_spring, range(in.fork_spring_min, in.fork_spring_max), 1e-3);
    EXPECT_NEAR(su.fork_preload, range(in.fork_preload_min, in.fork_preload_max), 1e-9);
    EXPECT_NEAR(su.fork_air_length, range(in.fork_air_min, in.fork_air_max), 1e-9);
    EXPECT_NEAR(su.shock_hs_compression, c.high_speed * in.shock_hs_compression, 1e-9);
    EXPECT_NEAR(su.shock_hs_rebound, c.high_speed * in.shock_hs_rebound, 1e-9);
    EXPECT_NEAR(su.shock_ls_compression, c.low_speed * in.shock_ls_compression, 1e-9);
    EXPECT_NEAR(su.shock_ls_rebound, c.low_speed * in.shock_ls_rebound, 1e-9);
    EXPECT_NEAR(su.shock_spring, range(in.shock_spring_min, in.shock_spring_max), 1e-3);
    EXPECT_NEAR(su.shock_preload, range(in.shock_preload_min, in.shock_preload_max), 1e-9);
  }
}

// ================================================================ drivetrain

TEST_F(DrivetrainBike, DrivetrainSettingsBrakesClutchSprocketsAndOptions) {
  Settings& s = settings;
  s.brake_torque.value = 400;
  s.rear_brake_torque.value = 900;  // beyond the range
  s.auto_clutch_rpms.value = 3000;
  s.front_sprocket_adjustment.value = 1;
  s.rear_sprocket_adjustment.value = -5;  // clamped to -2
  ASSERT_TRUE(choice_set(&s.front_brake, "Normal"));
  ASSERT_TRUE(choice_set(&s.rear_brake, "Antilock"));
  ASSERT_TRUE(choice_set(&s.auto_shift, "Yes"));
  struct Choice {
    const char* text;
    int32_t code;
  };
  const Choice codes[] = {{"No", STOP_WHEELIES_CODE_NO},
                          {"Yes", STOP_WHEELIES_CODE_YES},
                          {"Front Only", STOP_WHEELIES_CODE_FRONT}};
  for (const Choice& c : codes) {
    ASSERT_TRUE(choice_set(&s.stop_wheelies, c.text));
    drivetrain_apply_settings(bike);
    EXPECT_EQ(bike->setup.stop_wheelies, c.code) << c.text;
  }
  const BikeSetup& su = bike->setup;
  EXPECT_DOUBLE_EQ(su.brake_torque, 400);
  EXPECT_DOUBLE_EQ(su.rear_brake_torque, 500);
  EXPECT_DOUBLE_EQ(su.auto_clutch_rpms, 3000);
  EXPECT_DOUBLE_EQ(su.front_sprocket_adjustment, 1);
  EXPECT_DOUBLE_EQ(su.rear_sprocket_adjustment, -2);
  EXPECT_FLOAT_EQ(bike->final_ratio, 46.0f / 14.0f);
  EXPECT_FALSE(su.front_antilock);
  EXPECT_TRUE(su.rear_antilock);
  EXPECT_TRUE(su.auto_shift);
  ASSERT_TRUE(choice_set(&s.auto_shift, "No"));
  drivetrain_apply_settings(bike);
  EXPECT_FALSE(bike->setup.auto_shift);
}

TEST(DrivetrainFinalRatio, AdjustmentsClampedAndAtLeastThreeTeeth) {
  BikeInfo small = bike_catalogue[0];
  small.countershaft_teeth = 4;
  small.rear_sprocket_teeth = 4.5f;
  struct Case {
    const BikeInfo* info;
    double front, rear, expected;
  };
  const Case cases[] = {
      {&bike_catalogue[0], 0, 0, 48.0 / 13},
      {&bike_catalogue[0], 1, -1, 47.0 / 14},
      {&bike_catalogue[0], -2, 2, 50.0 / 11},
      {&bike_catalogue[0], 5, 5, 50.0 / 15},
      {&bike_catalogue[0], -9, -9, 46.0 / 11},
      {&bike_catalogue[0], 0.5, 0.9, 48.0 / 13},
      {&small, -2, -2, 3.0 / 3},
      {&small, 0, -1.5, 3.0 / 4},
  };
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(final_drive_ratio(*c.info, c.front, c.rear), c.expected)
        << c.front << " " << c.rear;
}

TEST_F(DrivetrainBike, DrivetrainGearRatiosAndRpm) {
  const BikeInfo& in = bike->info;
  double fr = bike->final_ratio;
  EXPECT_NEAR(gear_total_ratio(bike, 0), 2.0 * in.primary_ratio * fr, 1e-9);
  EXPECT_NEAR(gear_total_ratio(bike, 4), 1.0 * in.primary_ratio * fr, 1e-9);
  EXPECT_EQ(gear_total_ratio(bike, 5), 0);  // five-speed: no sixth gear
  EXPECT_EQ(gear_total_ratio(bike, -1), 0);
  EXPECT_EQ(gear_total_ratio(bike, 6), 0);
  bike->engine_speed = 100;
  EXPECT_NEAR(bike_rpm(bike), 954.9296, 1e-4);
}

TEST_F(DrivetrainBike, DrivetrainShiftIsEdgeTriggeredAndSkipsAbsentGears) {
  struct Case {
    const char* bike;
    int32_t start_gear;
    std::vector<int32_t> requests;
    bool knocked_out;
    int32_t expected;
  };
  const Case cases[] = {
      {"450sxf(2016)", 0, {1}, false, 1},
      {"450sxf(2016)", 0, {1, 1, 1}, false, 1},        // held: one gear only
      {"450sxf(2016)", 0, {1, 0, 1, 0, 1}, false, 3},  // three presses
      {"450sxf(2016)", 4, {1}, false, 4},              // top gear of a five-speed
      {"450sxf(2016)", 0, {-1}, false, 0},             // below first
      {"450sxf(2016)", 3, {-1, 0, -1}, false, 1},
      {"450sxf(2016)", 2, {2}, false, 2},  // out of range: ignored
      {"450sxf(2016)", 2, {-2, 1}, false, 3},
      {"450sxf(2016)", 2, {1}, true, 2},   // knocked out
      {"250sxf(2013)", 4, {1}, false, 5},  // six-speed
      {"250sxf(2013)", 5, {1}, false, 5},
  };
  for (const Case& c : cases) {
    bike->info = entry(c.bike);
    bike->gear = c.start_gear;
    bike->shift_request = 0;
    bike->crash_countdown = c.knocked_out ? 100 : 0;
    for (int32_t r : c.requests) shift(bike, r);
    EXPECT_EQ(bike->gear, c.expected) << c.bike << " from " << c.start_gear;
  }
  // A request held through a knockout does not shift when the rider is back.
  bike->info = entry("450sxf(2016)");
  bike->gear = 1;
  bike->shift_request = 0;
  bike->crash_countdown = 10;
  shift(bike, 1);
  bike->crash_countdown = 0;
  shift(bike, 1);
  EXPECT_EQ(bike->gear, 1);
  shift(bike, 0);
  shift(bike, 1);
  EXPECT_EQ(bike->gear, 2);
}

TEST_F(DrivetrainBike, DrivetrainAutoShiftEvery32ndTickWhenLoadedAndGripping) {
  struct Case {
    bool enabled;
    int32_t tick;
    double swingarm;  // compression angle
    double rear_depth, rear_speed;
    double rpm;  // wheel speed in engine rpm in the current gear
    int32_t start, expected;
  };
  const double up = bike->info.shift_up_rpm, down = bike->info.shift_down_rpm;
  const Case cases[] = {
      {true, 64, 0.2, 0.01, 0.5, up + 500, 1, 2},    // upshift
      {true, 64, 0.2, 0.01, 0.5, down - 500, 2, 1},  // downshift
      {true, 64, 0.2, 0.01, 0.5, (up + down) / 2, 2, 2},
      {false, 64, 0.2, 0.01, 0.5, up + 500, 1, 1},  // off
      {true, 65, 0.2, 0.01, 0.5, up + 500, 1, 1},   // not a 32nd tick
      {true, 0, 0.2, 0.01, 0.5, up + 500, 1, 2},
      {true, 64, 0.005, 0.01, 0.5, up + 500, 1, 1},   // rear not loaded
      {true, 64, 0.2, 0.01, 3.0, up + 500, 1, 1},     // rear wheel slipping
      {true, 64, 0.2, 0.0, 3.0, up + 500, 1, 2},      // rear in the air
      {true, 64, 0.2, 0.01, 2.0, up + 500, 1, 2},     // at most 2 ft/s grips
      {true, 64, 0.2, 0.01, 0.5, up + 500, 4, 4},     // top of a five-speed
      {true, 64, 0.2, 0.01, 0.5, down - 500, 0, 0},   // first gear
      {true, 64, 0.2, 0.01, 0.5, -(up + 500), 2, 1},  // rolling backwards: down
  };
  for (const Case& c : cases) {
    repose();
    bike->setup.auto_shift = c.enabled;
    bike->gear = c.start;
    compress_swingarm(c.swingarm);
    set_contact(WHEEL_REAR, c.rear_depth, c.rear_speed);
    double rate = c.rpm / (gear_total_ratio(bike, c.start) * RPM_PER_RAD_S);
    spin_rear_wheel(rate);
    ASSERT_NEAR(dJointGetHingeAngleRate(bike->joint[REAR_AXLE]), rate, 1e-9);
    auto_shift(bike, c.tick);
    EXPECT_EQ(bike->gear, c.expected)
        << "tick " << c.tick << " rpm " << c.rpm << " start " << c.start;
  }
}

TEST_F(DrivetrainBike, DrivetrainEngineTorqueFromTheTables) {
  const BikeInfo& in = bike->info;
  struct Case {
    double rpm, throttle, expected;
  };
  const Case cases[] = {
      {0, 0, in.closed_torque[0]},
      {0, 1, in.open_torque[0]},
      {-3000, 1, in.open_torque[0]},  // below 0 rpm: the first sample
      {2750, 1, (in.open_torque[5] + in.open_torque[6]) / 2},
      {2750, 0, (in.closed_torque[5] + in.closed_torque[6]) / 2},
      {5000, 0.5, (in.closed_torque[10] + in.open_torque[10]) / 2},
      {7600, 0.25,
       0.75 * (0.8 * in.closed_torque[15] + 0.2 * in.closed_torque[16]) +
           0.25 * (0.8 * in.open_torque[15] + 0.2 * in.open_torque[16])},
      {24500, 1, in.open_torque[49]},
      {40000, 1, in.open_torque[49]},  // beyond the table
  };
  for (const Case& c : cases) {
    set_rpm(c.rpm);
    bike->throttle = (float)c.throttle;
    EXPECT_NEAR(engine_torque(bike), c.expected, 2e-3) << c.rpm << " rpm, throttle " << c.throttle;
  }
  // Above the redline the open-throttle torque is negative.
  set_rpm(in.redline_rpm + 500);
  bike->throttle = 1;
  EXPECT_LT(engine_torque(bike), 0);
}

TEST_F(DrivetrainBike, DrivetrainStopWheeliesCutsDriveOnlyWithTheFrontUp) {
  struct Case {
    int32_t code;
    double front_depth, rear_depth, pitch_rate;
    bool cut;
  };
  const Case cases[] = {
      {STOP_WHEELIES_CODE_YES, 0, 0.01, 0, true},
      {STOP_WHEELIES_CODE_YES, 0, 0.01, 1.0, true},     // nose rising
      {STOP_WHEELIES_CODE_YES, 0, 0.01, -0.03, true},   // just above the limit
      {STOP_WHEELIES_CODE_YES, 0, 0.01, -0.05, false},  // nose already falling
      {STOP_WHEELIES_CODE_YES, 0.01, 0.01, 0, false},   // both wheels down
      {STOP_WHEELIES_CODE_YES, 0, 0, 0, false},         // in the air
      {STOP_WHEELIES_CODE_FRONT, 0, 0.01, 0, false},
      {STOP_WHEELIES_CODE_NO, 0, 0.01, 0, false},
  };
  set_rpm(7000);
  bike->throttle = 1;
  for (const Case& c : cases) {
    bike->setup.stop_wheelies = c.code;
    set_contact(WHEEL_FRONT, c.front_depth, 0);
    set_contact(WHEEL_REAR, c.rear_depth, 0);
    dVector3 w;
    dBodyVectorToWorld(bike->body[FRAME], c.pitch_rate, 0, 0, w);
    dBodySetAngularVel(bike->body[FRAME], w[0], w[1], w[2]);
    double t = engine_torque(bike);
    if (c.cut)
      EXPECT_EQ(t, 0) << "code " << c.code << " pitch " << c.pitch_rate;
    else
      EXPECT_GT(t, 20) << "code " << c.code << " pitch " << c.pitch_rate;
  }
  // Engine braking is never cut.
  bike->setup.stop_wheelies = STOP_WHEELIES_CODE_YES;
  set_contact(WHEEL_FRONT, 0, 0);
  set_contact(WHEEL_REAR, 0.01, 0);
  bike->throttle = 0;
  EXPECT_LT(engine_torque(bike), 0);
}

// One drivetrain_update on a bike at rest with the rear wheel turning at
// wheel_rate: the engine at rpm, the clutch engagement and twist given, and
// the engagement that should result.
struct ClutchCase {
  double rpm, clutch, twist, wheel_rate;
  double engagement;  // expected k
};

TEST_F(DrivetrainBike, DrivetrainClutchEngagementAndAutoClutch) {
  const BikeInfo& in = bike->info;
  const ClutchCase cases[] = {
      {6000, 0, 0.01, 0, 0},        // lever pulled: nothing reaches the wheel
      {8000, 1, 0.01, 0, 1},        // fully engaged above auto clutch + 2000
      {7000, 1, 0.01, 0, 1},        // at auto clutch + 2000 the limit is 1
      {6000, 1, 0.01, 0, 0.5},      // half-way up the auto clutch ramp
      {5000, 1, 0.01, 0, 0},        // at the auto clutch speed: no drive
      {3000, 1, 0.01, 0, 0},        // below it
      {8000, 0.6, 0.01, 0, 0.6},    // the lever limits too
      {5000, 1, -0.01, 50, 1},      // engine braking is not limited
      {5000, 0.3, -0.01, 50, 0.3},  // ... but the lever still is
  };
  for (const ClutchCase& c : cases) {
    repose();
    bike->gear = 1;
    bike->clutch = (float)c.clutch;
    bike->throttle = 1;
    bike->clutch_twist = (float)c.twist;
    set_rpm(c.rpm);
    spin_rear_wheel(c.wheel_rate);
    double speed = bike->engine_speed;
    double n = gear_total_ratio(bike, 1);
    double tau = std::clamp((speed - n * c.wheel_rate) * in.clutch_damping, -500.0, 500.0) +
                 in.clutch_stiffness * (double)bike->clutch_twist;
    double drive = c.engagement * c.engagement * tau;
    double engine = engine_torque(bike);
    drivetrain_update(bike);
    SCOPED_TRACE(testing::Message()
                 << c.rpm << " rpm, clutch " << c.clutch << " twist " << c.twist);
    const dReal* wheel = dBodyGetTorque(bike->body[REAR_WHEEL]);
    const dReal* frame = dBodyGetTorque(bike->body[FRAME]);
    EXPECT_NEAR(wheel[0], -drive, 1e-3 * fabs(tau) + 1e-9);
    EXPECT_NEAR(frame[0], drive, 1e-3 * fabs(tau) + 1e-9);
    EXPECT_NEAR(wheel[1], 0, 1e-9);
    if (c.wheel_rate > 0 && c.engagement > 0) {
      EXPECT_GT(wheel[0], 10);  // engine braking resists the forward roll
    }
    EXPECT_NEAR(bike->engine_speed, speed + TICK_SECONDS * (engine - drive / n) / in.engine_inertia,
                1e-2);
  }
}

TEST_F(DrivetrainBike, DrivetrainClutchSlipsBeyondItsTwistLimit) {
  // Half engagement slips at pi/8 of twist; the twist then runs on with the engine.
  bike->gear = 0;
  bike->clutch = 0.5f;
  bike->throttle = 0;
  set_rpm(9000);
  bike->clutch_twist = 1.0f;
  double n = gear_total_ratio(bike, 0);
  drivetrain_update(bike);
  EXPECT_NEAR(bike->clutch_twist, PI / 8 + TICK_SECONDS * bike->engine_speed / n, 1e-5);
  // The same the other way.
  bike->clutch_twist = -1.0f;
  drivetrain_update(bike);
  EXPECT_NEAR(bike->clutch_twist, -PI / 8 + TICK_SECONDS * bike->engine_speed / n, 1e-5);

  // The twist is kept within -pi..pi as the rear wheel's angle wraps. Turning
  // the wheel backwards about its axle by 3 rad is +3 rad of hinge angle.
  dMatrix3 r;
  dRFromAxisAndAngle(r, 1, 0, 0, -3.0);
  dBodySetRotation(bike->body[REAR_WHEEL], r);
  ASSERT_NEAR(dJointGetHingeAngle(bike->joint[REAR_AXLE]), 3.0, 1e-9);
  bike->clutch = 1;
  bike->clutch_twist = 3.0f;
  set_rpm(15000);
  drivetrain_update(bike);
  double expected = 3.0 + TICK_SECONDS * bike->engine_speed / n - 2 * PI;
  ASSERT_GT(expected, -PI);
  EXPECT_NEAR(bike->clutch_twist, expected, 1e-5);
}

TEST_F(DrivetrainBike, DrivetrainPulledClutchRevsFreelyAndRedlineHolds) {
  const BikeInfo& in = bike->info;
  bike->clutch = 0;
  bike->throttle = 1;
  bike->gear = 2;
  set_rpm(3000);
  std::vector<double> rpm;
  for (int32_t t = 0; t < 128; t++) {
    drivetrain_update(bike);
    rpm.push_back(bike_rpm(bike));
    const dReal* wheel = dBodyGetTorque(bike->body[REAR_WHEEL]);
    ASSERT_EQ(wheel[0], 0) << "tick " << t;
  }
  EXPECT_GT(rpm[10], 3000);
  // Past the top of the power band the engine settles near where open torque
  // turns negative, not beyond the redline.
  double last = rpm.back();
  EXPECT_GT(last, 11000);
  EXPECT_LT(last, in.redline_rpm + 500);
  // Above the redline at full throttle the engine slows down.
  set_rpm(in.redline_rpm + 2000);
  double before = bike->engine_speed;
  drivetrain_update(bike);
  EXPECT_LT(bike->engine_speed, before);
}

TEST_F(DrivetrainBike, DrivetrainNoDrivingTorqueWithEngineAtOrBelowAutoClutchSpeed) {
  bike->clutch = 1;
  bike->throttle = 1;
  bike->gear = 0;
  bike->setup.auto_clutch_rpms = 4000;
  set_rpm(3900);
  bike->clutch_twist = 0.2f;
  drivetrain_update(bike);
  EXPECT_EQ(dBodyGetTorque(bike->body[REAR_WHEEL])[0], 0);
  bike->setup.auto_clutch_rpms = 0;  // auto clutch off: engaged from 2000 rpm
  set_rpm(3000);
  bike->clutch_twist = 0.2f;
  dBodySetTorque(bike->body[REAR_WHEEL], 0, 0, 0);
  drivetrain_update(bike);
  EXPECT_LT(dBodyGetTorque(bike->body[REAR_WHEEL])[0], -100);
}

// ================================================================ brakes

TEST_F(DrivetrainBike, BrakesAntilockAndFrontStopWheelies) {
  struct Case {
    double front, rear;
    bool front_abs, rear_abs;
    int32_t code;
    double front_depth, front_speed, rear_depth, rear_speed;
    double front_fmax, rear_fmax;
  };
  const Case cases[] = {
      {1, 1, false, false, 0, 0.01, 10, 0.01, 10, 250, 250},
      {0.5, 0.2, false, false, 0, 0.01, 0, 0.01, 0, 125, 50},
      {1, 1, true, true, 0, 0.01, 2.5, 0.01, 2.5, 0, 0},      // both locking: released
      {1, 1, true, true, 0, 0.01, 2.0, 0.01, 2.0, 250, 250},  // 2 ft/s still grips
      {1, 1, true, true, 0, 0, 9, 0, 9, 250, 250},            // in the air: no antilock
      {1, 1, true, false, 0, 0.01, 9, 0.01, 9, 0, 250},
      {1, 1, false, true, 0, 0.01, 9, 0.01, 9, 250, 0},
      {1, 1, false, false, 2, 0.01, 0, 0, 0, 0, 250},       // stoppie, front rule
      {1, 1, false, false, 3, 0.01, 0, 0, 0, 0, 250},       // "Yes" includes it
      {1, 1, false, false, 0, 0.01, 0, 0, 0, 250, 250},     // "No"
      {1, 1, false, false, 2, 0.01, 0, 0.01, 0, 250, 250},  // both wheels down
      {1, 1, false, false, 2, 0, 0, 0, 0, 250, 250},        // both in the air
  };
  for (const Case& c : cases) {
    bike->front_brake = (float)c.front;
    bike->rear_brake = (float)c.rear;
    bike->setup.front_antilock = c.front_abs;
    bike->setup.rear_antilock = c.rear_abs;
    bike->setup.stop_wheelies = c.code;
    set_contact(WHEEL_FRONT, c.front_depth, c.front_speed);
    set_contact(WHEEL_REAR, c.rear_depth, c.rear_speed);
    brakes_update(bike);
    SCOPED_TRACE(testing::Message() << "abs " << c.front_abs << c.rear_abs << " code " << c.code
                                    << " depths " << c.front_depth << "," << c.rear_depth);
    EXPECT_NEAR(hinge_param(FRONT_AXLE, dParamFMax), c.front_fmax, 1e-5);
    EXPECT_NEAR(hinge_param(REAR_AXLE, dParamFMax), c.rear_fmax, 1e-5);
    EXPECT_DOUBLE_EQ(hinge_param(FRONT_AXLE, dParamVel), 0);
    EXPECT_DOUBLE_EQ(hinge_param(REAR_AXLE, dParamVel), 0);
  }
  bike->setup.brake_torque = 400;
  bike->setup.front_antilock = false;
  bike->front_brake = 0.5f;
  brakes_update(bike);
  EXPECT_DOUBLE_EQ(hinge_param(FRONT_AXLE, dParamFMax), 200);
}

// ================================================================ in the world

// Simple ground for the drive tests: each wheel gets one frictional contact
// with flat ground at y = 0 under its centre when its tyre reaches into it.
void flat_ground_contacts(Bike* bike) {
  for (int32_t w = WHEEL_FRONT; w <= WHEEL_REAR; w++) {
    const WheelInfo& wi = w == WHEEL_FRONT ? bike->info.front_wheel : bike->info.rear_wheel;
    dBodyID body = bike->body[w == WHEEL_FRONT ? FRONT_WHEEL : REAR_WHEEL];
    const dReal* c = dBodyGetPosition(body);
    double depth = wi.ring_radius + wi.tyre_radius - c[1];
    bike->wheel_contact[w].depth = depth > 0 ? depth : 0;
    if (depth <= 0) continue;
    dContact contact{};
    contact.surface.mode = dContactSoftERP | dContactSoftCFM | dContactApprox1;
    contact.surface.mu = 1.0;
    double erp = 0.2, cfm = 1e-5;
    contact_softness(20000, 2000, &erp, &cfm);
    contact.surface.soft_erp = erp;
    contact.surface.soft_cfm = cfm;
    contact.geom.pos[0] = c[0];
    contact.geom.pos[1] = 0;
    contact.geom.pos[2] = c[2];
    contact.geom.normal[1] = 1;
    contact.geom.depth = depth;
    dJointID j = dJointCreateContact(physics_world, contact_group, &contact);
    dJointAttach(j, body, nullptr);
  }
}

class DrivetrainRide : public DrivetrainBike {
 protected:
  void SetUp() override {
    DrivetrainBike::SetUp();
    hold_rider();
    bike->gear = 1;
    bike->clutch = 1;
    bike->throttle = 0.6f;
    set_rpm(3000);  // a running engine
  }
  // Without the rider's spring contacts the rider would swing freely on its
  // mount: hold it in place for these tests.
  void hold_rider() {
    dJointSetHinge2Param(bike->joint[RIDER_MOUNT], dParamLoStop2, 0);
    dJointSetHinge2Param(bike->joint[RIDER_MOUNT], dParamHiStop2, 0);
  }
  void step(bool ground) {
    if (ground) flat_ground_contacts(bike);
    physics_world_step();
    fork_update(bike);
    shock_update(bike);
    drivetrain_update(bike);
  }
};

TEST_F(DrivetrainRide, DrivetrainWheelOffTheGroundSpinsForwardAndEngineSpeedStaysPositive) {
  double angle_sum = 0, last_angle = dJointGetHingeAngle(bike->joint[REAR_AXLE]);
  double rate_sum = 0;
  for (int32_t t = 0; t < 128; t++) {
    step(false);
    ASSERT_GE(bike->engine_speed, 0) << "tick " << t;
    double a = dJointGetHingeAngle(bike->joint[REAR_AXLE]);
    double rate = dJointGetHingeAngleRate(bike->joint[REAR_AXLE]);
    double d = a - last_angle;
    if (d > PI) d -= 2 * PI;
    if (d < -PI) d += 2 * PI;
    angle_sum += d;
    rate_sum += rate * TICK_SECONDS;
    last_angle = a;
  }
  // The engine revved past the auto clutch and the wheel turns forwards: its
  // spin about the axle (x) is negative, the hinge rate positive.
  EXPECT_GT(bike_rpm(bike), 5000);
  double rate = dJointGetHingeAngleRate(bike->joint[REAR_AXLE]);
  EXPECT_GT(rate, 10);
  dVector3 local;
  const dReal* w = dBodyGetAngularVel(bike->body[REAR_WHEEL]);
  dBodyVectorFromWorld(bike->body[SWINGARM], w[0], w[1], w[2], local);
  EXPECT_LT(local[0], -10);
  // The hinge angle advances with the rate (same sign), which the clutch twist relies on.
  EXPECT_GT(angle_sum, 1);
  EXPECT_NEAR(angle_sum, rate_sum, 0.05 * fabs(rate_sum) + 0.1);
}

TEST_F(DrivetrainRide, DrivetrainOnFlatGroundTheBikeDrivesForwards) {
  // Third gear and part throttle keep the front wheel down. With the clutch
  // pulled the same bike does not move forwards.
  for (bool engaged : {true, false}) {
    repose();
    hold_rider();
    bike->gear = 2;
    bike->throttle = 0.4f;
    bike->clutch = engaged ? 1.0f : 0.0f;
    set_rpm(3000);
    Vec3 start = pos(bike, FRAME);
    for (int32_t t = 0; t < 160; t++) {
      step(true);
      dVector3 up;
      dBodyVectorToWorld(bike->body[FRAME], 0, 1, 0, up);
      ASSERT_GT(up[1], 0.99) << "the bike stays on its wheels, tick " << t;
      ASSERT_GT(bike->engine_speed, 0) << "tick " << t;
    }
    Vec3 end = pos(bike, FRAME);
    Vec3 v = vel(bike, FRAME);
    SCOPED_TRACE(engaged ? "clutch engaged" : "clutch pulled");
    if (engaged) {
      EXPECT_LT(end.z - start.z, -1.5);
      EXPECT_LT(v.z, -2.5);
      EXPECT_GT(dJointGetHingeAngleRate(bike->joint[REAR_AXLE]), 2);
    } else {
      EXPECT_GT(end.z - start.z, -0.25);
      EXPECT_GT(v.z, -0.25);
      EXPECT_GT(bike_rpm(bike), 9000);  // the engine revs freely instead
    }
    EXPECT_NEAR(end.x, start.x, 0.1);
  }
}

}  // namespace
