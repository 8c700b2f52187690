// The rider's controls applied to the bike, the set-up copied in from the
// settings, the rider's mount springs, the stability controller that turns
// steering input, lean and roll rate into a steering torque, the arcade
// controller, and front-wheel wobble damping.
//
// Frame axes: x to the rider's right, y up, z to the rear.
#pragma once

#include <cstdint>

#include "core/common.h"

struct Bike;

// The nine control values of a tick (ControlSlot order) into the bike.
void controls_apply(Bike* bike, const float values[CONTROL_SLOT_COUNT]);

// Setters used by controls_apply, the robot driver and the start hold. They
// clamp to the control's range; while the bike is knocked out throttle, dab,
// back_up and lean are held at 0 (and shift is ignored, see shift()).
void bike_set_steer(Bike* bike, float value);
void bike_set_throttle(Bike* bike, float value);
void bike_set_front_brake(Bike* bike, float value);
void bike_set_rear_brake(Bike* bike, float value);
// Clutch lever (1 = fully pulled): engages at most 4 per second, releases at once.
void bike_set_clutch_lever(Bike* bike, float lever);
void bike_set_clutch(Bike* bike, float engagement);
void bike_set_dab(Bike* bike, float value);
void bike_set_back_up(Bike* bike, float value);
void bike_set_lean(Bike* bike, float value);
// Online start hold: before the start (penalty false) or during a false-start
// penalty (true).
void gate_hold(Bike* bike, bool penalty);

// Creation values of the aids (before apply_setup).
void aid_setup_defaults(Bike* bike);
// Copies every set-up setting into the bike; refused (false) while the frame
// moves faster than 0.125 ft/s.
bool apply_setup(Bike* bike);
// A race server forbade arcade physics: turned off on the given bikes now.
void forbid_arcade(Bike** bikes, int32_t count);

// Lean angle (positive leaning to the bike's left) and front slip angle.
double lean_angle(const Bike* bike);
double front_slip_angle(const Bike* bike);
// Applies steering torque T about the steering axis (FRONT_WHEEL +, FRAME -).
void apply_steering_torque(Bike* bike, double torque);

void rider_mount_update(Bike* bike);
void steering_update(Bike* bike);
void arcade_update(Bike* bike);
void wobble_damping(Bike* bike);

// The steering lock (radians) at front-wheel ground speed g: the full lock up
// to full_lock_speed, falling towards restricted_lock / (grip of the ground
// under the front wheel) at restricted_lock_speed and beyond; never above pi/4.
double steering_lock(const Bike* bike, double ground_speed);
// How far (radians) lean-target steering lets the bike lean at squared frame
// speed speed2: 0 at rest, rising to roll_limit_angle at 15 ft/s and to 2 pi
// at the max dab speed.
double lean_allowance(const Bike* bike, double speed2);
