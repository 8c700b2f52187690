// Fork and shock: the damping rule, the fork's coil and air springs, the
// shock linkage curve, the joint motors that carry the forces, and the
// suspension, brake, clutch and sprocket part of the bike set-up.
#include <cmath>
#include <cstring>

#include "core/config.h"
#include "physics/bike.h"
#include "physics/drivetrain.h"

namespace {

// Motor velocity that means "push towards extension".
constexpr double MOTOR_PUSH_VELOCITY = 100.0;
// Pressure constant of the fork's air column.
constexpr double FORK_AIR_CONSTANT = 82.4616928;
constexpr double FORK_AIR_EXPONENT = 1.4;
// Suspension forces fade in over this share of travel from full extension.
constexpr double EXTENSION_FADE = 32.0;
// The smallest air column left when a fork bottoms out (keeps the air force finite).
constexpr double MIN_AIR_COLUMN = 1e-4;

constexpr double DEFAULT_BRAKE_TORQUE = 250.0;
constexpr double DEFAULT_AUTO_CLUTCH_RPMS = 5000.0;
constexpr double MAX_BRAKE_TORQUE = 500.0;
constexpr double MAX_AUTO_CLUTCH_RPMS = 5000.0;

// Clamp that also maps NaN to the lower bound.
double clamp_value(double x, double lo, double hi) {
  if (!(x >= lo)) return lo;
  return x > hi ? hi : x;
}

// High-speed damping multiplier of a 0..100 setting (1 at 50).
double high_speed_factor(double setting) {
  return clamp_value(exp2(setting * 0.04 - 2.0), 0.25, 4.0);
}
// Low-speed damping factor of a 0..100 setting (0 at 50).
double low_speed_factor(double setting) { return clamp_value(setting * 0.02 - 1.0, -1.0, 1.0); }
// Linear range setting 0..100 between min and max.
double range_value(double setting, double min, double max) {
  return min + (max - min) * clamp_value(setting / 100.0, 0.0, 1.0);
}

bool choice_is(const ChoiceSetting& s, const char* text) {
  return strcmp(choice_text(&s), text) == 0;
}

}  // namespace

void joint_motor_push(dJointID joint, double force) {
  if (!joint) return;
  double vel = force >= 0 ? MOTOR_PUSH_VELOCITY : 0.0;
  double fmax = fabs(force);
  if (!std::isfinite(fmax)) {
    vel = 0;
    fmax = 0;
  }
  switch (dJointGetType(joint)) {
    case dJointTypeSlider:
      dJointSetSliderParam(joint, dParamVel, vel);
      dJointSetSliderParam(joint, dParamFMax, fmax);
      break;
    case dJointTypeHinge:
      dJointSetHingeParam(joint, dParamVel, vel);
      dJointSetHingeParam(joint, dParamFMax, fmax);
      break;
    default: break;
  }
}

double damping_force(double v, double hs_compression, double ls_compression, double hs_rebound,
                     double ls_rebound) {
  if (v < 0) {
    double f = -v * hs_compression;  // >= 0
    double g = f + ls_compression;
    return clamp_value(g, f / 8, 8 * f);
  }
  double f = -v * hs_rebound;  // <= 0
  double g = f - ls_rebound;
  return clamp_value(g, 8 * f, f / 8);
}

double fork_air_force(double travel, double air_length, double compression) {
  double c = clamp_value(compression, 0.0, travel);
  double length = travel + air_length;
  double column = length - c;
  if (column < MIN_AIR_COLUMN) column = MIN_AIR_COLUMN;
  return FORK_AIR_CONSTANT * (pow(length / column, FORK_AIR_EXPONENT) - 1.0);
}

LinkagePoint linkage_curve(const Bike* bike, double u) {
  const BikeInfo& info = bike->info;
  u = clamp_value(u, 0.0, 1.0);
  double b = info.linkage_break;
  double s, t, y0, y1, m0, m1;
  if (u <= b) {
    s = b;
    t = s > 0 ? u / s : 1.0;
    y0 = 0;
    y1 = info.linkage_mid_travel;
    m0 = info.linkage_slope_start;
    m1 = info.linkage_slope_mid;
  } else {
    s = 1.0 - b;
    t = s > 0 ? (u - b) / s : 1.0;
    y0 = info.linkage_mid_travel;
    y1 = info.linkage_full_travel;
    m0 = info.linkage_slope_mid;
    m1 = info.linkage_slope_end;
  }
  double big_m0 = m0 * s, big_m1 = m1 * s;
  double c2 = 3 * (y1 - y0) - 2 * big_m0 - big_m1;
  double c3 = 2 * (y0 - y1) + big_m0 + big_m1;
  LinkagePoint p;
  p.travel = y0 + big_m0 * t + c2 * t * t + c3 * t * t * t;
  p.leverage = s > 0 ? (big_m0 + 2 * c2 * t + 3 * c3 * t * t) / s : m1;
  return p;
}

double fork_force(const Bike* bike, double p, double v) {
  const BikeInfo& info = bike->info;
  const BikeSetup& su = bike->setup;
  double travel = info.fork_travel;
  double damping = damping_force(v, su.fork_hs_compression, su.fork_ls_compression,
                                 su.fork_hs_rebound, su.fork_ls_rebound);
  double spring = (su.fork_preload - p) * su.fork_spring;
  double air = fork_air_force(travel, su.fork_air_length, -p);
  double fade = travel > 0 ? clamp_value(-EXTENSION_FADE * p / travel, 0.0, 1.0) : 0.0;
  return (spring + damping + air) * fade;
}

double shock_torque(const Bike* bike, double a, double w) {
  const BikeInfo& info = bike->info;
  const BikeSetup& su = bike->setup;
  double max_angle = info.swingarm_max_angle;
  if (!(max_angle > 0)) return 0;
  LinkagePoint lp = linkage_curve(bike, -a / max_angle);
  double v = w * lp.leverage;
  double damping = damping_force(v, su.shock_hs_compression, su.shock_ls_compression,
                                 su.shock_hs_rebound, su.shock_ls_rebound);
  double torque = ((lp.travel + su.shock_preload) * su.shock_spring + damping) * lp.leverage;
  return torque * clamp_value(-EXTENSION_FADE * a / max_angle, 0.0, 1.0);
}

void fork_update(Bike* bike) {
  dJointID slider = bike->joint[FORK_SLIDER];
  double p = dJointGetSliderPosition(slider);
  double v = dJointGetSliderPositionRate(slider);
  joint_motor_push(slider, fork_force(bike, p, v));
}

void shock_update(Bike* bike) {
  dJointID pivot = bike->joint[SWINGARM_PIVOT];
  double a = dJointGetHingeAngle(pivot);
  double w = dJointGetHingeAngleRate(pivot);
  joint_motor_push(pivot, shock_torque(bike, a, w));
}

void drivetrain_setup_defaults(Bike* bike) {
  const BikeInfo& info = bike->info;
  BikeSetup& su = bike->setup;
  su.fork_hs_compression = info.fork_hs_compression;
  su.fork_hs_rebound = info.fork_hs_rebound;
  su.fork_ls_compression = 0;
  su.fork_ls_rebound = 0;
  su.fork_spring = range_value(50, info.fork_spring_min, info.fork_spring_max);
  su.fork_preload = range_value(50, info.fork_preload_min, info.fork_preload_max);
  su.fork_air_length = info.fork_air_min;
  su.shock_hs_compression = info.shock_hs_compression;
  su.shock_hs_rebound = info.shock_hs_rebound;
  su.shock_ls_compression = 0;
  su.shock_ls_rebound = 0;
  su.shock_spring = range_value(50, info.shock_spring_min, info.shock_spring_max);
  su.shock_preload = range_value(50, info.shock_preload_min, info.shock_preload_max);
  su.front_sprocket_adjustment = 0;
  su.rear_sprocket_adjustment = 0;
  su.brake_torque = DEFAULT_BRAKE_TORQUE;
  su.rear_brake_torque = DEFAULT_BRAKE_TORQUE;
  su.auto_clutch_rpms = DEFAULT_AUTO_CLUTCH_RPMS;
  su.front_antilock = true;
  su.rear_antilock = false;
  su.stop_wheelies = STOP_WHEELIES_CODE_FRONT;
  su.auto_shift = false;
  bike->final_ratio = (float)final_drive_ratio(info, 0, 0);
}

void drivetrain_apply_settings(Bike* bike) {
  const BikeInfo& info = bike->info;
  BikeSetup& su = bike->setup;
  const Settings& s = settings;

  su.fork_hs_compression =
      high_speed_factor(s.fork_compression_adjustment.value) * info.fork_hs_compression;
  su.fork_ls_compression =
      low_speed_factor(s.fork_slow_compression_adjustment.value) * info.fork_ls_compression;
  su.fork_hs_rebound = high_speed_factor(s.fork_rebound_adjustment.value) * info.fork_hs_rebound;
  su.fork_ls_rebound =
      low_speed_factor(s.fork_slow_rebound_adjustment.value) * info.fork_ls_rebound;
  su.fork_spring =
      range_value(s.fork_spring_rate_adjustment.value, info.fork_spring_min, info.fork_spring_max);
  su.fork_preload =
      range_value(s.fork_preload_adjustment.value, info.fork_preload_min, info.fork_preload_max);
  su.fork_air_length =
      range_value(s.fork_oil_level_adjustment.value, info.fork_air_min, info.fork_air_max);

  su.shock_hs_compression =
      high_speed_factor(s.shock_compression_adjustment.value) * info.shock_hs_compression;
  su.shock_ls_compression =
      low_speed_factor(s.shock_slow_compression_adjustment.value) * info.shock_ls_compression;
  su.shock_hs_rebound = high_speed_factor(s.shock_rebound_adjustment.value) * info.shock_hs_rebound;
  su.shock_ls_rebound =
      low_speed_factor(s.shock_slow_rebound_adjustment.value) * info.shock_ls_rebound;
  su.shock_spring = range_value(s.shock_spring_rate_adjustment.value, info.shock_spring_min,
                                info.shock_spring_max);
  su.shock_preload =
      range_value(s.shock_preload_adjustment.value, info.shock_preload_min, info.shock_preload_max);

  su.brake_torque = clamp_value(s.brake_torque.value, 0, MAX_BRAKE_TORQUE);
  su.rear_brake_torque = clamp_value(s.rear_brake_torque.value, 0, MAX_BRAKE_TORQUE);
  su.auto_clutch_rpms = clamp_value(s.auto_clutch_rpms.value, 0, MAX_AUTO_CLUTCH_RPMS);

  su.front_sprocket_adjustment = clamp_value(s.front_sprocket_adjustment.value, -2, 2);
  su.rear_sprocket_adjustment = clamp_value(s.rear_sprocket_adjustment.value, -2, 2);
  bike->final_ratio =
      (float)final_drive_ratio(info, su.front_sprocket_adjustment, su.rear_sprocket_adjustment);

  su.front_antilock = choice_is(s.front_brake, "Antilock");
  su.rear_antilock = choice_is(s.rear_brake, "Antilock");
  if (choice_is(s.stop_wheelies, "Yes"))
    su.stop_wheelies = STOP_WHEELIES_CODE_YES;
  else if (choice_is(s.stop_wheelies, "Front Only"))
    su.stop_wheelies = STOP_WHEELIES_CODE_FRONT;
  else
    su.stop_wheelies = STOP_WHEELIES_CODE_NO;
  su.auto_shift = choice_is(s.auto_shift, "Yes");
}
