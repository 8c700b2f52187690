// The single dynamics world every bike lives in, and the single joint group
// that holds the joints living for one step only (contacts, the rider's spring
// contacts, tethers and the angular motors of the aids).
//
// Lifetime: created once at start-up, destroyed at shutdown after the bikes.
#pragma once

#include <ode/ode.h>

#include <cstdint>

// Gravity along y, feet per second squared.
constexpr double WORLD_GRAVITY_Y = -32.0;

// The world; nullptr before physics_world_create and after physics_world_destroy.
extern dWorldID physics_world;
// The group of one-step joints; nullptr outside the world's lifetime.
extern dJointGroupID contact_group;

// Initialises the dynamics library (once), creates the world with gravity
// (0, -32, 0) and the contact group (size 0). True when both exist (also when
// they already did); false, with nothing left behind, when either fails.
bool physics_world_create();
// Destroys the contact group and the world and closes the dynamics library.
// Every bike must have been destroyed before. Harmless when nothing exists.
void physics_world_destroy();
// Warnings of the dynamics library since start-up (they are logged).
int64_t physics_message_count();
// One exact step of TICK_SECONDS, then the contact group is emptied. Nothing
// happens without a world.
void physics_world_step();
