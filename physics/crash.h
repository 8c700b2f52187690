// Putting a foot down (dab), walking the bike backwards, the automatic
// realignment, the crash checks, the knocked-out rider's recovery and the two
// foot particles.
#pragma once

#include <ode/ode.h>

#include <cstdint>

#include "physics/contact_geometry.h"

struct Bike;


// Dab speed limit M (ft/s): max_dab_speed, at least 75 while blame <= -512.
double dab_speed_limit(const Bike* bike);
bool should_dab(const Bike* bike, double v2);
void dab_and_back_up(Bike* bike);
void dab_support(Bike* bike);
// Where the realignment turns the bike to.
Vec3 realign_target(const Bike* bike);

void crash_checks(Bike* bike);
void rider_crash(Bike* bike);
void knockout_step(Bike* bike);
void walk_back(Bike* bike);

// Keeps two body points (body coordinates) within L of each other for one tick.
void tether(dBodyID b1, Vec3 p1, dBodyID b2, Vec3 p2, double length);
// Horizontal force pulling the body's velocity towards target.
void hold_velocity(dBodyID body, Vec3 target, double max_force);

struct FeetPose {
  Vec3 left, right;  // world points
  double left_weight, right_weight;
};
FeetPose feet_pose(const Bike* bike);
// The foot particles at the pose's points, each moving with the RIDER body
// at its point (a rider just thrown off).
void feet_start(Bike* bike, const FeetPose& pose);
void feet_update(Bike* bike);

// Push of the back-up stroke at a tick (0..1, strokes of 128 ticks); before
// the race's first whole stroke only the first 128 ticks of every 512 push.
double backup_stroke(int32_t tick, int32_t start_tick);
// Crash tolerance factor f at a tick (1.0 just after a long flight, else 1.5).
double crash_tolerance(const Bike* bike, int32_t tick);
