// The rider's controls as the bike receives them, the start hold, and the
// set-up: the aids' creation values and the copy of the settings into a bike.
#include "physics/rider_control.h"

#include <cmath>
#include <cstring>

#include "core/config.h"
#include "core/messages.h"
#include "physics/bike.h"
#include "physics/drivetrain.h"
#include "physics/step.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double DEGREES = PI / 180.0;

// A lever pulled this far already disengages the clutch completely.
constexpr double CLUTCH_LEVER_FULL = 7.0 / 8.0;
// Clutch engagement per second while the lever is let out.
constexpr double CLUTCH_ENGAGE_RATE = 4.0;
// Control values at or above this count as pressed (sticky dab).
constexpr float DAB_PRESS = 0.5f;
// Set-up changes are refused while the frame moves faster than this (ft/s).
constexpr double SETUP_MAX_SPEED = 0.125;
// A second refusal within this many seconds tells the rider why.
constexpr double SETUP_REFUSAL_WINDOW = 10.0;
constexpr double MPH_TO_FT_S = 1.4666667;

// Clamp that also maps NaN to 0 (or to the range's nearest end when 0 is
// outside it): a broken input never reaches the physics.
float clamp_control(float v, float lo, float hi) {
  if (std::isnan(v)) v = 0;
  if (v < lo) return lo;
  return v > hi ? hi : v;
}

double clamp_setting(double v, double lo, double hi) {
  if (!(v >= lo)) return lo;  // also NaN
  return v > hi ? hi : v;
}

bool choice_yes(const ChoiceSetting& s) { return strcmp(choice_text(&s), "Yes") == 0; }

}  // namespace

// ---------------------------------------------------------------- setters

void bike_set_steer(Bike* bike, float value) {
  if (!bike) return;
  bike->steer = clamp_control(value, -1, 1);
}

void bike_set_throttle(Bike* bike, float value) {
  if (!bike) return;
  bike->throttle = bike_knocked_out(bike) ? 0 : clamp_control(value, 0, 1);
}

void bike_set_front_brake(Bike* bike, float value) {
  if (!bike) return;
  bike->front_brake = clamp_control(value, 0, 1);
}

void bike_set_rear_brake(Bike* bike, float value) {
  if (!bike) return;
  bike->rear_brake = clamp_control(value, 0, 1);
}

void bike_set_clutch(Bike* bike, float engagement) {
  if (!bike) return;
  bike->clutch = clamp_control(engagement, 0, 1);
}

void bike_set_clutch_lever(Bike* bike, float lever) {
  if (!bike) return;
  float target = clamp_control((float)(1.0 - clamp_control(lever, 0, 1) / CLUTCH_LEVER_FULL), 0, 1);
  float current = clamp_control(bike->clutch, 0, 1);
  if (target > current) {
    // Let out at a limited rate, never past where the lever holds it.
    float next = (float)(current + CLUTCH_ENGAGE_RATE * TICK_SECONDS);
    bike->clutch = next < target ? next : target;
  } else {
    bike->clutch = target;
  }
}

void bike_set_dab(Bike* bike, float value) {
  if (!bike) return;
  bike->dab = bike_knocked_out(bike) ? 0 : clamp_control(value, 0, 1);
}

void bike_set_back_up(Bike* bike, float value) {
  if (!bike) return;
  bike->back_up = bike_knocked_out(bike) ? 0 : clamp_control(value, 0, 1);
}

void bike_set_lean(Bike* bike, float value) {
  if (!bike) return;
  bike->lean = bike_knocked_out(bike) ? 0 : clamp_control(value, -1, 1);
}

void gate_hold(Bike* bike, bool penalty) {
  if (!bike) return;
  if (penalty) {
    bike_set_front_brake(bike, 1);
    bike_set_rear_brake(bike, 1);
    bike_set_back_up(bike, 0);
    bike_set_clutch(bike, 0);
    bike_set_throttle(bike, 0);
  }
  bike_set_dab(bike, 1);
}

// ---------------------------------------------------------------- controls

void controls_apply(Bike* bike, const float values[CONTROL_SLOT_COUNT]) {
  if (!bike || !values) return;
  float steer = clamp_control(values[STEER], -1, 1);
  if (choice_yes(settings.reverse_steering)) steer = -steer;
  bike_set_steer(bike, steer);

  bike_set_throttle(bike, values[THROTTLE]);
  bike_set_front_brake(bike, values[FRONT_BRAKE]);
  bike_set_rear_brake(bike, values[REAR_BRAKE]);

  // shift() acts only on a change of request and ignores it while knocked out.
  float s = values[SHIFT];
  shift(bike, s > 0.5f ? 1 : (s < -0.5f ? -1 : 0));

  bike_set_clutch_lever(bike, values[CLUTCH]);

  float dab_input = clamp_control(values[SIT_DAB], 0, 1);
  float dab = dab_input;
  if (choice_yes(settings.sticky_dab)) {
    if (bike->last_dab_input < DAB_PRESS && dab_input >= DAB_PRESS)
      bike->dab_latch = !bike->dab_latch;
    dab = bike->dab_latch ? 1.0f : 0.0f;
  }
  bike->last_dab_input = dab_input;
  bike_set_dab(bike, dab);

  bike_set_back_up(bike, values[BACK_UP]);
  bike_set_lean(bike, values[LEAN]);
}

// ---------------------------------------------------------------- set-up

void aid_setup_defaults(Bike* bike) {
  if (!bike) return;
  BikeSetup& su = bike->setup;
  su.leveling = 20;
  su.roll_damping = 60;
  su.roll_limit_angle = 45 * DEGREES;
  su.roll_limit_factor = 10;
  su.steering_damping = 45;
  su.steering_strength = 75;
  su.max_steering_force = 400;
  su.direct_steering = 1;
  su.slow_damping_speed = 0;
  su.slow_damping_factor = 1;
  su.land_damping_falloff = 0.25;
  su.land_damping_factor = 2;
  su.full_lock_speed = 10;
  su.restricted_lock_speed = 50;
  su.restricted_lock = 5 * DEGREES;
  su.rider_yspring = 0.5;
  su.rider_ydamping = 0.5;
  su.rider_zspring = 0.5;
  su.rider_zdamping = 0.5;
  su.max_dab_speed = 30;
  su.arcade = false;
  bike->land_damping = 1;
}

bool apply_setup(Bike* bike) {
  if (!bike) return false;
  const dReal* v = dBodyGetLinearVel(bike->body[FRAME]);
  double speed2 = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  if (!(speed2 <= SETUP_MAX_SPEED * SETUP_MAX_SPEED)) {
    double previous = physics_state.setup_refused_at;
    physics_state.setup_refused_at = physics_state.clock;
    if (physics_state.clock - previous < SETUP_REFUSAL_WINDOW)
      print_message("Settings not applied.  Mechanic can't keep up error.");
    return false;
  }

  const Settings& s = settings;
  BikeSetup& su = bike->setup;
  su.leveling = clamp_setting(s.leveling.value, 0, 100);
  su.roll_damping = clamp_setting(s.roll_damping.value, 0, 100);
  su.roll_limit_angle = clamp_setting(s.roll_limit_angle.value, 0, 180) * DEGREES;
  su.roll_limit_factor = clamp_setting(s.roll_limit_factor.value, 0, 64);
  su.steering_damping = clamp_setting(s.steering_damping.value, 0, 100);
  su.steering_strength = clamp_setting(s.steering_strength.value, 0, 100);
  su.max_steering_force = clamp_setting(s.max_steering_force.value, 0, 1000);
  su.direct_steering = clamp_setting(s.direct_steering.value, 0, 1);
  su.slow_damping_speed = clamp_setting(s.slow_damping_speed.value, 0, 100);
  su.slow_damping_factor = clamp_setting(s.slow_damping_factor.value, 1, 10);
  su.land_damping_falloff = clamp_setting(s.land_damping_falloff.value, 0, 0.5);
  su.land_damping_factor = clamp_setting(s.land_damping_factor.value, 1, 3);
  su.full_lock_speed = clamp_setting(s.full_lock_speed.value, 1, 100);
  su.restricted_lock_speed = clamp_setting(s.restricted_lock_speed.value, 1, 100);
  su.restricted_lock = clamp_setting(s.restricted_lock.value, 0, 45) * DEGREES;
  su.rider_yspring = clamp_setting(s.rider_yspring.value, 0, 100) / 100;
  su.rider_ydamping = clamp_setting(s.rider_ydamping.value, 0, 100) / 100;
  su.rider_zspring = clamp_setting(s.rider_zspring.value, 0, 100) / 100;
  su.rider_zdamping = clamp_setting(s.rider_zdamping.value, 0, 100) / 100;
  su.max_dab_speed = clamp_setting(s.max_dab_speed.value * MPH_TO_FT_S, 7, 100);
  su.auto_dab = choice_yes(s.auto_dab);
  su.auto_align = choice_yes(s.auto_align);
  su.arcade = !physics_state.no_arcade && choice_yes(s.arcade);

  // Suspension, brakes, clutch, sprockets and the final drive.
  drivetrain_apply_settings(bike);
  bike_set_rider_mass_share(bike, s.rider_mass_distribution.value);
  return true;
}

void forbid_arcade(Bike** bikes, int32_t count) {
  physics_state.no_arcade = true;
  for (int32_t i = 0; bikes && i < count; i++)
    if (bikes[i]) bikes[i]->setup.arcade = false;
  if (choice_yes(settings.arcade)) print_message("Arcade physics disabled");
}
