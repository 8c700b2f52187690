// Contacts of the bike with the ground, the track objects and other bikes,
// made as one-step contact joints in the contact group, and the wheel marks
// that feed ground erosion.
#pragma once

#include <ode/ode.h>

#include <cstdint>

#include "physics/contact_geometry.h"

struct Bike;
struct Shape;

// Bits naming a bike's parts in collision results.
enum BikePartBit : int32_t {
  PART_FRAME = 1,
  PART_FRONT_WHEEL = 2,
  PART_REAR_WHEEL = 4,
  PART_STEERING = 8,
  PART_FORK_LOWER = 16,
  PART_SWINGARM = 32,
  PART_RIDER = 64,
};

// Blame given to the bike at fault, and the protection of a struck bike.
constexpr float BLAME_FRONT_TO_FRONT = 192.0f;
constexpr float BLAME_AT_FAULT = 256.0f;
constexpr float BLAME_STRUCK = -640.0f;

// Ground, shapes and track objects of one bike for this tick: wheel
// contacts (rewritten), shape contacts, object contacts.
void bike_collide(Bike* bike);
// Wheels and shapes against the ground only, making joints; whether anything touched.
bool bike_ground_collide(Bike* bike);
// Wheel against the ground without joints and without the fallback (replayed
// bikes' roost); fills the wheel's contact record. Whether it touches.
bool wheel_ground_probe(Bike* bike, int32_t wheel);
// Radius about the FRAME position that holds every part of the bike (the
// cheap test before a pair test).
double bike_collision_reach(const Bike* bike);
// Bike A against bike B: bits of B's parts that were hit.
int32_t bike_pair_collide(Bike* a, Bike* b, bool online);
// An object's shape (elements in the object's own coordinates) at a position
// with a rotation (rotation[row][column], columns = the object's axes in the
// world) against the bike, in joint mode; body may be nullptr (static).
// Returns the bits of the bike's parts that were hit.
int32_t bike_object_collide(Bike* bike, const Shape* object_shape, const float position[3],
                            const float rotation[3][3], dBodyID object_body);
// A replayed bike against the starting-gate plates, detection only: a
// plate it touches gets last_hit_tick (it stays held up by the bike).
void bike_starting_gates_touch(Bike* bike);
// The bike against the statues near it; statues touched get last_hit_tick.
void bike_objects_collide(Bike* bike);
// Writes a wheel mark for a touching wheel (erosion).
void record_wheel_mark(Bike* bike, int32_t wheel);

// ---------------------------------------------------------------- contact records and rules
// The pieces the contact code is built from: what is handed to the dynamics
// library and the decisions taken on a contact, each on its own so that it
// can be checked without a world step.

struct WheelContact;

// Mode of every contact joint the bike makes (wheel contacts may add dContactFDir1).
constexpr int32_t CONTACT_JOINT_MODE = dContactApprox1 | dContactSoftERP | dContactSoftCFM;
// Relative speed (ft/s) above which an object hitting the rider throws it off.
constexpr double OBJECT_CRASH_SPEED = 20.0;
// Speed (ft/s) above which the rider lying upside down on the ground crashes.
constexpr double GROUND_CRASH_SPEED = 5.0;
// Largest force (lbf) of a penalty contact between two bikes.
constexpr double PAIR_PENALTY_FORCE_LIMIT = 1000.0;

// A contact at the point with the normal and depth, friction mu and softness
// from stiffness kp and damping kd (mode CONTACT_JOINT_MODE). False when the
// softness cannot be formed (the caller makes no joint).
bool soft_dcontact(Vec3 point, Vec3 normal, double depth, double mu, double kp, double kd,
                   dContact* out);
// The contact of a wheel touching the ground: softness from how far it is
// sunk, the first friction direction from its velocity (or its axle). False
// when the record shows no contact.
bool wheel_ground_dcontact(const WheelContact* contact, Vec3 axle, double tyre_radius, double mu,
                           dContact* out);
// Grip factor of the wheels: 1, or with arcade physics on
// 1 - 0.375 min(1, 4 |lean| / pi).
double wheel_grip_factor(const Bike* bike);
// Friction coefficient of a touching wheel: the friction of the tile under the
// contact point at the contact velocity's squared speed, times the grip factor.
double wheel_ground_mu(const Bike* bike, const WheelContact* contact);
// Rolling resistance on a wheel body moving at velocity over the tile, its
// contact having the normal and sinking factor k (0..1): against the travel
// along the ground, (low + (high - low) k), falling off in proportion below 1 ft/s.
Vec3 rolling_resistance_force(Vec3 velocity, Vec3 normal, double k, int32_t tile);
// Whether the rider, whose shape touches the ground, crashes: lying upside
// down, faster than GROUND_CRASH_SPEED, not knocked out, not struck (blame >= 0).
bool rider_ground_crash_due(const Bike* bike);
// The blame after a pair test of A against B in which B's parts hit_bits were
// hit and A's front parts front_bits (PART_FRONT_WHEEL, PART_FORK_LOWER) took
// part; the struck bike gets BLAME_STRUCK (see docs/bike_collisions.md).
void bike_pair_blame(Bike* a, Bike* b, int32_t front_bits, int32_t hit_bits);
