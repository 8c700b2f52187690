// The starting grid: grid places, the gate statues and their drop at the start.
#include <cmath>
#include <cstring>

#include "core/common.h"
#include "core/mem.h"
#include "track/objects.h"
#include "track/timing.h"

namespace {

// Gate drop: acceleration (units of position per second squared), top speed.
constexpr float DROP_ACCELERATION = 32.0f;
constexpr float DROP_TOP_SPEED = 8.0f;
// Grid rows are this far apart; the first row stands a little behind the gate.
constexpr float GRID_ROW_SPACING = 10.0f;
constexpr float GRID_FIRST_ROW = 0.0625f;
// The statue stands this far in front of the grid place.
constexpr float GATE_STATUE_DISTANCE = 3.0f;

Statue* gate_statue(TrackObjects* objects, const StartingGate* gate) {
  if (!objects || gate->statue < 0) return nullptr;
  return grow_at(objects->statues, gate->statue);
}

// Orientation of the gate statue: its placed orientation turned about its
// first axis by the gate's position (up = fully turned).
void tilt_statue(Statue* statue, const StartingGate* gate) {
  float angle = gate->drop_position * STARTING_GATE_TILT;
  float c = cosf(angle), s = sinf(angle);
  const float* placed = gate->placed_orientation;
  for (int row = 0; row < 3; row++) {
    float first = placed[row * 3 + 0];
    float up = placed[row * 3 + 1];
    float third = placed[row * 3 + 2];
    statue->orientation[row][0] = first;
    statue->orientation[row][1] = c * up - s * third;
    statue->orientation[row][2] = s * up + c * third;
  }
}

void gate_raise(TrackObjects* objects, StartingGate* gate) {
  gate->drop_position = 1.0f;
  gate->drop_speed = 0.0f;
  if (Statue* statue = gate_statue(objects, gate)) tilt_statue(statue, gate);
}

}  // namespace

int32_t starting_gate_add(TimingData* timing, TrackObjects* objects, const HeightField* hf, float x,
                          float y, float z, float angle, const char* model, const char* texture,
                          const char* shape) {
  if (!timing || timing->starting_gate_count < 0 ||
      timing->starting_gate_count >= TIMING_MAX_STARTING_GATES)
    return -1;
  int32_t index = timing->starting_gate_count++;
  StartingGate* gate = &timing->starting_gates[index];
  memset(gate, 0, sizeof *gate);
  float a = timing_wrap_angle(angle);
  gate->x = x;
  gate->y = y;
  gate->z = z;
  gate->angle = a;
  gate->model = model;
  gate->texture = texture;
  gate->shape = shape;
  gate->statue = -1;
  for (int i = 0; i < 3; i++) gate->placed_orientation[i * 4] = 1.0f;
  if (objects) {
    gate->statue =
        statue_add(objects, hf, model, texture, shape, x - GATE_STATUE_DISTANCE * sinf(a), y,
                   z - GATE_STATUE_DISTANCE * cosf(a), a);
    if (Statue* statue = gate_statue(objects, gate))
      memcpy(gate->placed_orientation, statue->orientation, sizeof gate->placed_orientation);
  }
  gate_raise(objects, gate);
  return index;
}

bool starting_grid_place(const TimingData* timing, int32_t slot, float* x, float* z,
                         float* facing_x, float* facing_z) {
  if (!timing || slot < 0) return false;
  int32_t count = timing->starting_gate_count;
  if (count > TIMING_MAX_STARTING_GATES) count = TIMING_MAX_STARTING_GATES;
  if (count <= 0) return false;
  const StartingGate* gate = &timing->starting_gates[slot % count];
  int32_t row = slot / count;
  float back = GRID_ROW_SPACING * ((float)row + GRID_FIRST_ROW);
  float s = sinf(gate->angle), c = cosf(gate->angle);
  if (x) *x = gate->x + back * s;
  if (z) *z = gate->z + back * c;
  if (facing_x) *facing_x = -s;
  if (facing_z) *facing_z = -c;
  return true;
}

void starting_gates_reset(TimingData* timing, TrackObjects* objects) {
  if (!timing) return;
  int32_t count = timing->starting_gate_count;
  if (count > TIMING_MAX_STARTING_GATES) count = TIMING_MAX_STARTING_GATES;
  for (int32_t i = 0; i < count; i++) gate_raise(objects, &timing->starting_gates[i]);
}

bool starting_gates_solid(int32_t current_tick, int32_t drop_tick) {
  int64_t since = (int64_t)current_tick - drop_tick;
  return since < STARTING_GATE_TICKS;
}

void starting_gates_update(TimingData* timing, TrackObjects* objects, int32_t current_tick,
                           int32_t drop_tick) {
  if (!timing) return;
  int64_t since = (int64_t)current_tick - drop_tick;
  if (since >= STARTING_GATE_TICKS) return;  // the drop is over; gates stay where they are
  if (since < 0) {
    starting_gates_reset(timing, objects);
    return;
  }
  int32_t count = timing->starting_gate_count;
  if (count > TIMING_MAX_STARTING_GATES) count = TIMING_MAX_STARTING_GATES;
  const float step = (float)TICK_SECONDS;
  for (int32_t i = 0; i < count; i++) {
    StartingGate* gate = &timing->starting_gates[i];
    Statue* statue = gate_statue(objects, gate);
    if (statue && statue->last_hit_tick == current_tick) {
      gate->drop_speed = 0.0f;  // a bike leans on it
    } else {
      gate->drop_speed += DROP_ACCELERATION * step;
      if (gate->drop_speed > DROP_TOP_SPEED) gate->drop_speed = DROP_TOP_SPEED;
      gate->drop_position -= gate->drop_speed * step;
      if (gate->drop_position < 0.0f) gate->drop_position = 0.0f;
    }
    if (statue) tilt_statue(statue, gate);
  }
}
