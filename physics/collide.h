// Contacts of the bike with the ground, the track objects and other bikes,
// made as one-step contact joints in the contact group, and the wheel marks
// that feed ground erosion.
#pragma once

#include <ode/ode.h>

#include <cstdint>

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
// Bike A against bike B: bits of B's parts that were hit.
int32_t bike_pair_collide(Bike* a, Bike* b, bool online);
// An object's shape (elements in the object's own coordinates) at a position
// with a rotation (rotation[row][column], columns = the object's axes in the
// world) against the bike, in joint mode; body may be nullptr (static).
// Returns the bits of the bike's parts that were hit.
int32_t bike_object_collide(Bike* bike, const Shape* object_shape, const float position[3],
                            const float rotation[3][3], dBodyID object_body);
// The bike against the statues near it; statues touched get last_hit_tick.
void bike_objects_collide(Bike* bike);
// Writes a wheel mark for a touching wheel (erosion).
void record_wheel_mark(Bike* bike, int32_t wheel);
