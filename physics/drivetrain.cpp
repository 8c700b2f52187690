// The engine, clutch, gearbox and brakes. The engine is one rotating mass
// driven by its torque tables; it is coupled to the rear wheel through a
// torsional clutch spring that slips beyond a twist limit set by the clutch
// engagement. Brakes are axle hinge motors with antilock and anti-stoppie
// rules.
//
// Signs: the REAR_AXLE hinge rate (swingarm relative to the wheel about the
// axle) is positive while the wheel rolls forwards, so a positive engine
// speed and a positive clutch torque drive the bike forwards.
#include "physics/drivetrain.h"

#include <cmath>

#include "core/common.h"
#include "physics/bike.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double TWO_PI = 2 * PI;
constexpr int32_t TOP_GEAR = GEAR_COUNT - 1;
// Torque table lookup: samples per rpm and the last sample index.
constexpr double TORQUE_SAMPLES_PER_RPM = 0.002;
constexpr double LAST_TORQUE_SAMPLE = TORQUE_SAMPLES - 1;
// Stop wheelies: frame pitch rate (rad/s) above which drive torque is cut.
constexpr double WHEELIE_PITCH_RATE = -0.03125;
// Automatic shifting runs on every AUTO_SHIFT_PERIOD-th tick.
constexpr int32_t AUTO_SHIFT_PERIOD = 32;
constexpr double LOADED_SWINGARM_ANGLE = -0.01;
// Wheel contact speed (ft/s) above which a wheel counts as slipping.
constexpr double SLIP_SPEED = 2.0;
// Auto clutch engagement ramp (rpm).
constexpr double AUTO_CLUTCH_RANGE = 2000.0;
constexpr double CLUTCH_DAMPING_LIMIT = 500.0;
constexpr double CLUTCH_TORQUE_LIMIT = 1e6;
// Clutch twist at which a fully engaged clutch slips (rad at the wheel).
constexpr double CLUTCH_SLIP_TWIST = PI / 4;

double clamp_value(double x, double lo, double hi) {
  if (!(x >= lo)) return lo;
  return x > hi ? hi : x;
}

double wrap_angle(double a) {
  if (!std::isfinite(a)) return 0;
  a = fmod(a, TWO_PI);
  if (a > PI) a -= TWO_PI;
  if (a < -PI) a += TWO_PI;
  return a;
}

bool wheel_touches(const Bike* bike, int32_t wheel) { return bike->wheel_contact[wheel].depth > 0; }

double contact_speed(const Bike* bike, int32_t wheel) {
  return vec3_length(bike->wheel_contact[wheel].velocity);
}

// Clamps the gear to 0..top and steps down over absent gears.
int32_t valid_gear(const Bike* bike, int32_t gear) {
  if (gear < 0) gear = 0;
  if (gear > TOP_GEAR) gear = TOP_GEAR;
  while (gear > 0 && !(bike->info.gear_ratio[gear] > 0)) gear--;
  return gear;
}

}  // namespace

double final_drive_ratio(const BikeInfo& info, double front_adjustment, double rear_adjustment) {
  double rear = floor(info.rear_sprocket_teeth + clamp_value(rear_adjustment, -2, 2));
  double front = floor(info.countershaft_teeth + clamp_value(front_adjustment, -2, 2));
  if (!(rear >= 3)) rear = 3;
  if (!(front >= 3)) front = 3;
  return rear / front;
}

double bike_rpm(const Bike* bike) { return bike->engine_speed * RPM_PER_RAD_S; }

double gear_total_ratio(const Bike* bike, int32_t gear) {
  if (gear < 0 || gear >= GEAR_COUNT) return 0;
  double ratio = bike->info.gear_ratio[gear];
  if (!(ratio > 0)) return 0;
  return ratio * bike->info.primary_ratio * bike->final_ratio;
}

void auto_shift(Bike* bike, int32_t tick) {
  if (!bike->setup.auto_shift) return;
  if (tick % AUTO_SHIFT_PERIOD != 0) return;
  if (!(dJointGetHingeAngle(bike->joint[SWINGARM_PIVOT]) < LOADED_SWINGARM_ANGLE)) return;
  if (wheel_touches(bike, WHEEL_REAR) && contact_speed(bike, WHEEL_REAR) > SLIP_SPEED) return;
  double wheel_rpm = dJointGetHingeAngleRate(bike->joint[REAR_AXLE]) *
                     gear_total_ratio(bike, bike->gear) * RPM_PER_RAD_S;
  int32_t gear = bike->gear;
  if (wheel_rpm < bike->info.shift_down_rpm)
    gear--;
  else if (wheel_rpm > bike->info.shift_up_rpm)
    gear++;
  bike->gear = valid_gear(bike, gear);
}

void shift(Bike* bike, int32_t request) {
  if (request < -1 || request > 1 || request == bike->shift_request) return;
  bike->shift_request = request;
  // A knocked-out rider's request is remembered (so that a control held
  // through the knockout does not shift afterwards) but changes nothing.
  if (bike_knocked_out(bike)) return;
  bike->gear = valid_gear(bike, bike->gear + request);
}

double engine_torque(const Bike* bike) {
  const BikeInfo& info = bike->info;
  double x = clamp_value(bike_rpm(bike) * TORQUE_SAMPLES_PER_RPM, 0, LAST_TORQUE_SAMPLE);
  int32_t i = (int32_t)floor(x);
  double f = x - i;
  int32_t j = i + 1 < TORQUE_SAMPLES ? i + 1 : TORQUE_SAMPLES - 1;
  double closed = info.closed_torque[i] + (info.closed_torque[j] - info.closed_torque[i]) * f;
  double open = info.open_torque[i] + (info.open_torque[j] - info.open_torque[i]) * f;
  double torque = closed + (open - closed) * clamp_value(bike->throttle, 0, 1);

  if (bike->setup.stop_wheelies == STOP_WHEELIES_CODE_YES && !wheel_touches(bike, WHEEL_FRONT) &&
      wheel_touches(bike, WHEEL_REAR)) {
    dVector3 rate;
    const dReal* w = dBodyGetAngularVel(bike->body[FRAME]);
    dBodyVectorFromWorld(bike->body[FRAME], w[0], w[1], w[2], rate);
    if (rate[0] > WHEELIE_PITCH_RATE && torque > 0) torque = 0;
  }
  return torque;
}

void drivetrain_update(Bike* bike) {
  const BikeInfo& info = bike->info;
  dJointID axle = bike->joint[REAR_AXLE];
  double theta = dJointGetHingeAngle(axle);
  double axle_rate = dJointGetHingeAngleRate(axle);
  double twist = wrap_angle(bike->clutch_twist - theta);
  double rpm = bike_rpm(bike);

  double lever = clamp_value(bike->clutch, 0, 1);
  double k = lever;
  double auto_speed = bike->setup.auto_clutch_rpms;
  if (rpm <= auto_speed + AUTO_CLUTCH_RANGE) {
    double limit = clamp_value((rpm - auto_speed) / AUTO_CLUTCH_RANGE, 0, 1);
    if (limit < k) k = limit;
  }

  double ratio = gear_total_ratio(bike, bike->gear);
  if (!(ratio > 0)) {
    // No usable gear: the engine runs free and the clutch follows the wheel.
    bike->engine_speed =
        (float)(bike->engine_speed + TICK_SECONDS * engine_torque(bike) / bike->engine_inertia);
    bike->clutch_twist = (float)wrap_angle(theta);
    return;
  }

  double damping = clamp_value((bike->engine_speed - ratio * axle_rate) * info.clutch_damping,
                               -CLUTCH_DAMPING_LIMIT, CLUTCH_DAMPING_LIMIT);
  double torque = damping + info.clutch_stiffness * twist;
  // The automatic engagement does not limit engine braking.
  if (torque < 0) k = lever;
  torque = clamp_value(torque, -CLUTCH_TORQUE_LIMIT, CLUTCH_TORQUE_LIMIT);

  double slip = k * CLUTCH_SLIP_TWIST;
  if (twist > slip) bike->clutch_twist = (float)(theta + slip);
  if (twist < -slip) bike->clutch_twist = (float)(theta - slip);

  double drive = k * k * torque;
  dBodyAddRelTorque(bike->body[REAR_WHEEL], -drive, 0, 0);
  dBodyAddRelTorque(bike->body[FRAME], drive, 0, 0);

  bike->engine_speed =
      (float)(bike->engine_speed +
              TICK_SECONDS * (engine_torque(bike) - drive / ratio) / bike->engine_inertia);
  bike->clutch_twist =
      (float)wrap_angle(bike->clutch_twist + TICK_SECONDS * bike->engine_speed / ratio);
}

void brakes_update(Bike* bike) {
  const BikeSetup& su = bike->setup;
  bool front_touches = wheel_touches(bike, WHEEL_FRONT);
  bool rear_touches = wheel_touches(bike, WHEEL_REAR);

  double front = su.brake_torque * clamp_value(bike->front_brake, 0, 1);
  if (su.front_antilock && front_touches && contact_speed(bike, WHEEL_FRONT) > SLIP_SPEED)
    front = 0;
  bool front_rule =
      su.stop_wheelies == STOP_WHEELIES_CODE_YES || su.stop_wheelies == STOP_WHEELIES_CODE_FRONT;
  if (front_rule && front_touches && !rear_touches) front = 0;

  double rear = su.rear_brake_torque * clamp_value(bike->rear_brake, 0, 1);
  if (su.rear_antilock && rear_touches && contact_speed(bike, WHEEL_REAR) > SLIP_SPEED) rear = 0;

  dJointSetHingeParam(bike->joint[FRONT_AXLE], dParamVel, 0);
  dJointSetHingeParam(bike->joint[FRONT_AXLE], dParamFMax, front);
  dJointSetHingeParam(bike->joint[REAR_AXLE], dParamVel, 0);
  dJointSetHingeParam(bike->joint[REAR_AXLE], dParamFMax, rear);
}
