// The ride harness over the physics tick.
#include "tools/ride.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/config.h"
#include "core/files.h"
#include "core/mem.h"
#include "physics/bike.h"
#include "physics/drivetrain.h"
#include "physics/rider_control.h"
#include "physics/step.h"
#include "physics/world.h"
#include "track/track.h"

bool ride_load_track(const char* name) {
  track_free();
  track = Track{};
  track.name = intern_string(name);
  return track_load() == 1;
}

void ride_unload_track() {
  track_free();
  track = Track{};
}

void ride_init(Ride* ride) {
  memset(ride, 0, sizeof *ride);
  physics_state_reset();
}

Bike* ride_add_bike(Ride* ride, const char* model, double x, double z, double heading,
                    RideController controller, void* user) {
  if (ride->count >= MAX_BIKES) return nullptr;
  char number[16];
  snprintf(number, sizeof number, "%d", ride->count + 1);
  Bike* bike = bike_create(model, number, nullptr, nullptr, nullptr, nullptr, ride->count);
  if (!bike) return nullptr;
  bike_place(bike, x, z, heading);
  dJointGroupEmpty(contact_group);
  apply_setup(bike);  // the rider's set-up from the settings, as a session does
  int32_t i = ride->count++;
  ride->slots[i].bike = bike;
  ride->slots[i].kind = LOCAL_RIDER;
  ride->controllers[i] = controller;
  ride->users[i] = user;
  return bike;
}

void ride_step(Ride* ride) {
  for (int32_t i = 0; i < ride->count; i++) {
    float values[CONTROL_SLOT_COUNT] = {};
    if (ride->controllers[i])
      ride->controllers[i](ride->slots[i].bike, physics_state.tick, ride->users[i], values);
    controls_apply(ride->slots[i].bike, values);
  }
  physics_tick(ride->slots, ride->count);
  if (ride->trace)
    for (int32_t i = 0; i < ride->count; i++)
      ride_trace_row(ride->trace, physics_state.tick, i, ride->slots[i].bike);
  physics_state.tick++;
}

void ride_free(Ride* ride) {
  for (int32_t i = 0; i < ride->count; i++) bike_destroy(ride->slots[i].bike);
  ride->count = 0;
}

RideSample ride_sample(const Bike* bike) {
  RideSample s{};
  dBodyID frame = bike->body[FRAME];
  const dReal* p = dBodyGetPosition(frame);
  const dReal* v = dBodyGetLinearVel(frame);
  s.x = p[0];
  s.y = p[1];
  s.z = p[2];
  s.speed = sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  dVector3 f, up;
  dBodyVectorToWorld(frame, 0, 0, -1, f);
  dBodyVectorToWorld(frame, 0, 1, 0, up);
  s.forward_speed = v[0] * f[0] + v[1] * f[1] + v[2] * f[2];
  s.heading = atan2(-f[0], -f[2]);
  s.pitch = asin(f[1] < -1 ? -1 : (f[1] > 1 ? 1 : f[1]));
  s.up_y = up[1];
  s.lean = lean_angle(bike);
  s.fork_position = dJointGetSliderPosition(bike->joint[FORK_SLIDER]);
  s.swingarm_angle = dJointGetHingeAngle(bike->joint[SWINGARM_PIVOT]);
  s.rpm = bike_rpm(bike);
  s.gear = bike->gear + 1;
  s.front_contact = bike->wheel_contact[WHEEL_FRONT].depth > 0;
  s.rear_contact = bike->wheel_contact[WHEEL_REAR].depth > 0;
  return s;
}

void ride_trace_header(FILE* out) {
  fprintf(out,
          "tick,bike,x,y,z,speed,forward_speed,heading,lean,pitch,up_y,fork,swingarm,rpm,gear,"
          "front_contact,rear_contact,throttle,front_brake,rear_brake,steer,clutch,dab,back_up,"
          "crash_countdown,crash_count,blame\n");
}

void ride_trace_row(FILE* out, int32_t tick, int32_t index, const Bike* bike) {
  RideSample s = ride_sample(bike);
  fprintf(out,
          "%d,%d,%.4f,%.4f,%.4f,%.4f,%.4f,%.5f,%.5f,%.5f,%.5f,%.5f,%.5f,%.1f,%d,%d,%d,%.3f,%.3f,"
          "%.3f,%.3f,%.3f,%.3f,%.3f,%d,%d,%.1f\n",
          tick, index, s.x, s.y, s.z, s.speed, s.forward_speed, s.heading, s.lean, s.pitch, s.up_y,
          s.fork_position, s.swingarm_angle, s.rpm, s.gear, s.front_contact ? 1 : 0,
          s.rear_contact ? 1 : 0, bike->throttle, bike->front_brake, bike->rear_brake, bike->steer,
          bike->clutch, bike->dab, bike->back_up, bike->crash_countdown, bike->crash_count,
          bike->blame);
}

// ---------------------------------------------------------------- scripts

namespace {

const char* const SLOT_NAMES[CONTROL_SLOT_COUNT] = {
    "steer", "throttle", "front_brake", "rear_brake", "shift",
    "clutch", "dab", "back_up", "lean"};

int32_t slot_by_name(const char* name, size_t length) {
  for (int32_t i = 0; i < CONTROL_SLOT_COUNT; i++)
    if (strlen(SLOT_NAMES[i]) == length && strncmp(SLOT_NAMES[i], name, length) == 0) return i;
  return -1;
}

// One "name=value" word; false when malformed.
bool parse_word(const char* word, size_t length, int32_t* slot, float* value) {
  const char* eq = (const char*)memchr(word, '=', length);
  if (!eq) return false;
  *slot = slot_by_name(word, (size_t)(eq - word));
  if (*slot < 0) return false;
  char number[64];
  size_t n = length - (size_t)(eq + 1 - word);
  if (n == 0 || n >= sizeof number) return false;
  memcpy(number, eq + 1, n);
  number[n] = 0;
  char* end = nullptr;
  double v = strtod(number, &end);
  if (!end || *end || !std::isfinite(v)) return false;
  *value = (float)v;
  return true;
}

}  // namespace

bool ride_script_parse(const char* text, RideScript* out, int32_t* bad_line) {
  memset(out, 0, sizeof *out);
  GrowArray<RideScriptEntry> entries{};
  int32_t line_number = 0;
  int32_t last_tick = 0;
  for (const char* line = text; line && *line;) {
    line_number++;
    const char* end = strchr(line, '\n');
    size_t length = end ? (size_t)(end - line) : strlen(line);
    const char* hash = (const char*)memchr(line, '#', length);
    if (hash) length = (size_t)(hash - line);
    const char* p = line;
    const char* stop = line + length;
    while (p < stop && (*p == ' ' || *p == '\t' || *p == '\r')) p++;
    if (p < stop) {
      char* after = nullptr;
      long tick = strtol(p, &after, 10);
      bool ok = after != p && after <= stop && tick >= last_tick && tick <= 0x7FFFFFFF;
      p = after;
      int32_t words = 0;
      while (ok) {
        while (p < stop && (*p == ' ' || *p == '\t' || *p == '\r')) p++;
        if (p >= stop) break;
        const char* w = p;
        while (p < stop && *p != ' ' && *p != '\t' && *p != '\r') p++;
        RideScriptEntry e{(int32_t)tick, 0, 0};
        ok = parse_word(w, (size_t)(p - w), &e.slot, &e.value) && grow_push(entries, e);
        words++;
      }
      if (!ok || words == 0) {
        grow_free(entries);
        if (bad_line) *bad_line = line_number;
        return false;
      }
      last_tick = (int32_t)tick;
    }
    line = end ? end + 1 : nullptr;
  }
  out->entries = entries.data;
  out->count = entries.count;
  return true;
}

void ride_script_free(RideScript* script) {
  mem_free(script->entries);
  memset(script, 0, sizeof *script);
}

void ride_script_controller(const Bike*, int32_t tick, void* user, float out[CONTROL_SLOT_COUNT]) {
  RideScript* script = (RideScript*)user;
  while (script->next < script->count && script->entries[script->next].tick <= tick) {
    const RideScriptEntry& e = script->entries[script->next++];
    script->values[e.slot] = e.value;
  }
  memcpy(out, script->values, sizeof script->values);
}

void ride_launch(Bike* bike, double speed) {
  dVector3 forward, axle;
  dBodyVectorToWorld(bike->body[FRAME], 0, 0, -1, forward);
  dBodyVectorToWorld(bike->body[FRAME], 1, 0, 0, axle);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    dBodySetLinearVel(bike->body[b], forward[0] * speed, forward[1] * speed, forward[2] * speed);
    dBodySetAngularVel(bike->body[b], 0, 0, 0);
  }
  // Rolling towards -z about the x axle: the wheel turns backwards about +x.
  const WheelInfo* wheels[2] = {&bike->info.front_wheel, &bike->info.rear_wheel};
  const BikeBody bodies[2] = {FRONT_WHEEL, REAR_WHEEL};
  for (int32_t w = 0; w < 2; w++) {
    double omega = -speed / (wheels[w]->ring_radius + wheels[w]->tyre_radius);
    dBodySetAngularVel(bike->body[bodies[w]], axle[0] * omega, axle[1] * omega, axle[2] * omega);
  }
}
