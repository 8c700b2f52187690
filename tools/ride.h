// The ride harness: puts bikes on the loaded track, feeds each a control
// stream every tick and steps the physics, optionally writing a per-tick trace
// as CSV. Used by the rt_ride tool, the ride tests and the physics benchmark.
//
// A controller is called once per tick before the physics with the bike and
// the tick; it fills the nine control values (ControlSlot order), which go
// into the bike through controls_apply.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/common.h"
#include "core/program.h"

struct Bike;

typedef void (*RideController)(const Bike* bike, int32_t tick, void* user,
                               float out[CONTROL_SLOT_COUNT]);

struct Ride {
  BikeSlot slots[MAX_BIKES];
  RideController controllers[MAX_BIKES];
  void* users[MAX_BIKES];
  int32_t count;
  FILE* trace;  // per-tick CSV rows when not nullptr
};

// Loads the named track from the game data into the global track (the
// physics world must exist). False when it cannot be loaded.
bool ride_load_track(const char* name);
void ride_unload_track();

// Everything at the start: no bikes, physics state reset (tick 0).
void ride_init(Ride* ride);
// Creates a bike of the catalogue entry, places it at (x, z) facing heading
// (0 = towards -z, pi/2 = towards -x), applies the set-up from the settings
// and adds it with its controller (may be nullptr: no input). nullptr when the world is missing or the ride is full.
Bike* ride_add_bike(Ride* ride, const char* model, double x, double z, double heading,
                    RideController controller, void* user);
// One tick: every controller, controls_apply, physics_tick, trace rows, tick + 1.
void ride_step(Ride* ride);
// Destroys the bikes.
void ride_free(Ride* ride);

// Quantities of a bike used by traces and tests.
struct RideSample {
  double x, y, z;
  double speed;          // frame speed, ft/s
  double forward_speed;  // along the frame's forward (-z) axis
  double heading;        // radians, 0 = facing -z, positive turning left
  double lean;           // positive leaning left
  double pitch;          // nose up positive
  double up_y;           // world y of the frame's up axis (1 upright, < 0 upside down)
  double fork_position;  // slider position (0 extended, negative compressed)
  double swingarm_angle;
  double rpm;
  int32_t gear;  // 1-based
  bool front_contact, rear_contact;
};
RideSample ride_sample(const Bike* bike);

void ride_trace_header(FILE* out);
void ride_trace_row(FILE* out, int32_t tick, int32_t index, const Bike* bike);

// A piecewise-constant control script: lines "TICK name=value ...", names
// steer, throttle, front_brake, rear_brake, shift, clutch, dab, back_up,
// lean; a value holds from its tick until changed. '#' starts a comment.
struct RideScriptEntry {
  int32_t tick;
  int32_t slot;
  float value;
};
struct RideScript {
  RideScriptEntry* entries;
  int32_t count;
  int32_t next;
  float values[CONTROL_SLOT_COUNT];
};
// Parses script text; false (with the line number in *bad_line) on a bad line.
bool ride_script_parse(const char* text, RideScript* out, int32_t* bad_line);
void ride_script_free(RideScript* script);
// A RideController over a RideScript passed as user data.
void ride_script_controller(const Bike* bike, int32_t tick, void* user,
                            float out[CONTROL_SLOT_COUNT]);

// Sets the whole bike moving forward at speed (ft/s): every body's linear
// velocity along the frame's forward axis and both wheels rolling.
void ride_launch(Bike* bike, double speed);
