// The wheel mark ring: where the wheels pushed on the ground, for erosion.
#include <cmath>

#include "physics/contact_geometry.h"
#include "track/tiles.h"

static_assert((WHEEL_MARK_COUNT & (WHEEL_MARK_COUNT - 1)) == 0, "ring size is a power of two");

namespace {

constexpr int32_t INDEX_MASK = WHEEL_MARK_COUNT - 1;

int32_t next_index(int32_t index) { return (index + 1) & INDEX_MASK; }

}  // namespace

void wheel_marks_clear(WheelMarkRing* ring) {
  ring->write_index = 0;
  ring->read_index = 0;
}

bool wheel_marks_full(const WheelMarkRing* ring) {
  return next_index(ring->write_index) == (ring->read_index & INDEX_MASK);
}

bool wheel_marks_empty(const WheelMarkRing* ring) {
  return (ring->write_index & INDEX_MASK) == (ring->read_index & INDEX_MASK);
}

int32_t wheel_marks_count(const WheelMarkRing* ring) {
  return (ring->write_index - ring->read_index) & INDEX_MASK;
}

bool wheel_mark_push(WheelMarkRing* ring, const WheelMark& mark) {
  if (wheel_marks_full(ring)) return false;
  int32_t at = ring->write_index & INDEX_MASK;
  ring->marks[at] = mark;
  ring->write_index = next_index(at);
  return true;
}

bool wheel_mark_pop(WheelMarkRing* ring, WheelMark* out) {
  if (wheel_marks_empty(ring)) return false;
  int32_t at = ring->read_index & INDEX_MASK;
  *out = ring->marks[at];
  ring->read_index = next_index(at);
  return true;
}

double wheel_mark_scale(double speed, double off_speed, double on_speed) {
  if (!(on_speed > off_speed)) return speed > off_speed ? 1.0 : 0.0;
  double u = (speed - off_speed) / (on_speed - off_speed);
  if (!(u > 0)) return 0;  // NaN too
  return u < 1 ? u : 1;
}

bool wheel_mark_record(WheelMarkRing* ring, const TileType* tile, double x, double z, double speed,
                       double force_x, double force_z) {
  if (!tile || wheel_marks_full(ring)) return false;
  double u = wheel_mark_scale(speed, tile->erode_off_speed, tile->erode_on_speed);
  double fx = u * force_x, fz = u * force_z;
  int32_t at = ring->write_index & INDEX_MASK;
  ring->marks[at] = WheelMark{(float)x, (float)z, (float)fx, (float)fz};
  double strength = fx * fx + fz * fz;
  double lower = tile->erode_lower;
  if (!(strength > lower * lower) || !(strength > 1.0 / 1024.0)) return false;
  ring->write_index = next_index(at);
  return true;
}
