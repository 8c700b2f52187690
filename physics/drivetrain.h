// Fork and shock forces, the linkage curve, the engine with its torque tables,
// clutch, gearbox and brakes. Run once per tick after the world step.
//
// Joint motors push in one way: to push with force F along a joint, the motor
// velocity is 100 (extending) with maximum force F when F >= 0, and velocity
// 0 with maximum force |F| when F < 0 (a negative force only resists).
#pragma once

#include <ode/ode.h>

#include <cstdint>

struct Bike;
struct BikeInfo;

constexpr double RPM_PER_RAD_S = 9.549296;

// Motor push on a slider or hinge joint as described above.
void joint_motor_push(dJointID joint, double force);

// Damping force for suspension velocity v (negative while compressing) with
// the high-speed coefficients and low-speed offsets of both directions.
double damping_force(double v, double hs_compression, double ls_compression, double hs_rebound,
                     double ls_rebound);
// Air spring force at compression c (ft) for the fork travel and air length.
double fork_air_force(double travel, double air_length, double compression);

struct LinkagePoint {
  double travel;    // shock travel
  double leverage;  // d travel / d u
};
// u = swingarm rotation as a fraction of swingarm_max_angle (clamped 0..1).
LinkagePoint linkage_curve(const Bike* bike, double u);

// Force the fork would push with at slider position p and rate v.
double fork_force(const Bike* bike, double p, double v);
// Torque the shock would apply at swingarm angle a and rate w.
double shock_torque(const Bike* bike, double a, double w);
void fork_update(Bike* bike);
void shock_update(Bike* bike);

// Creation defaults of the suspension, brakes, clutch and sprockets.
void drivetrain_setup_defaults(Bike* bike);
// The suspension and sprocket part of apply_setup from the global settings.
void drivetrain_apply_settings(Bike* bike);
// max(3, floor(rear + rear_adj)) / max(3, floor(front + front_adj)), adjustments clamped -2..2.
double final_drive_ratio(const BikeInfo& info, double front_adjustment, double rear_adjustment);

double bike_rpm(const Bike* bike);
// gear_ratio[gear] * primary_ratio * final_ratio (0 for an absent gear).
double gear_total_ratio(const Bike* bike, int32_t gear);
void auto_shift(Bike* bike, int32_t tick);
// Edge-triggered gear change from the shift control (-1, 0, +1).
void shift(Bike* bike, int32_t request);
double engine_torque(const Bike* bike);
void drivetrain_update(Bike* bike);
void brakes_update(Bike* bike);
