// BikeState: the 39-byte snapshot of one bike, packed from its bodies and
// joints, and interpolated between two snapshots of the history.
//
// Layout (little-endian, unsigned fixed point of the stated range):
//   0-2, 3-5, 6-8  frame position x, y, z  (0..world_size, min_height..+world_size, 0..world_size)
//   9-16           frame quaternion w, x, y, z, 16 bits each, -1..1
//   17             steering angle -pi/4..pi/4
//   18             swing-arm angle -max..0; bit 0 set in an exact snapshot of a simulated bike
//   19             fork slider -travel..0; bit 0 reserved (0)
//   20-25          rider position - frame position, 16 bits each, -16..16
//   26-33          rider quaternion, 16 bits each, -1..1
//   34, 35         front and rear wheel angle -pi..pi
//   36             gear (bits 0-2, 7 = knocked out), dab (bit 3), throttle or crash time (bits 4-7)
//   37-38          engine speed 0..32768 rpm
#include <cmath>
#include <cstring>

#include "physics/bike.h"
#include "race/race.h"
#include "track/track.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double RAD_PER_SEC_TO_RPM = 9.5492966;
constexpr double RPM_RANGE = 32768.0;
constexpr double RIDER_OFFSET_RANGE = 16.0;

uint32_t field_max(int32_t bits) {
  if (bits <= 0) return 0;
  if (bits >= 32) return 0xFFFFFFFFu;
  return (1u << bits) - 1;
}

// --- raw fraction access (0..1 of a field's range)

double read_fraction(const BikeState& s, int32_t offset, int32_t bytes) {
  return state_read(s.bytes + offset, bytes) / (double)field_max(bytes * 8);
}

void write_fraction(BikeState* s, int32_t offset, int32_t bytes, double fraction) {
  state_write(s->bytes + offset, bytes, state_encode(fraction, 0, 1, bytes * 8));
}

// Linear fields: lerp the fractions, clamp, encode.
void lerp_field(BikeState* out, const BikeState& a, const BikeState& b, int32_t offset,
                int32_t bytes, double t) {
  double u = read_fraction(a, offset, bytes);
  double w = read_fraction(b, offset, bytes);
  double r = u + (w - u) * t;
  if (!(r >= 0)) r = 0;
  if (r > 1) r = 1;
  write_fraction(out, offset, bytes, r);
}

void read_quat(const BikeState& s, int32_t offset, double q[4]) {
  for (int32_t i = 0; i < 4; i++)
    q[i] = state_decode(state_read(s.bytes + offset + 2 * i, 2), -1, 1, 16);
}

void write_quat(BikeState* s, int32_t offset, const double q[4]) {
  for (int32_t i = 0; i < 4; i++)
    state_write(s->bytes + offset + 2 * i, 2, state_encode(q[i], -1, 1, 16));
}

// Quaternions: the short way (a negated when the dot product is negative),
// lerp with at most t = 1, normalised.
void lerp_quat(BikeState* out, const BikeState& a, const BikeState& b, int32_t offset, double t) {
  double qa[4], qb[4], r[4];
  read_quat(a, offset, qa);
  read_quat(b, offset, qb);
  double dot = qa[0] * qb[0] + qa[1] * qb[1] + qa[2] * qb[2] + qa[3] * qb[3];
  if (dot < 0)
    for (double& c : qa) c = -c;
  double s = t < 1 ? t : 1;
  double len2 = 0;
  for (int32_t i = 0; i < 4; i++) {
    r[i] = qa[i] + (qb[i] - qa[i]) * s;
    len2 += r[i] * r[i];
  }
  double len = sqrt(len2);
  if (len > 0) {
    for (double& c : r) c /= len;
  } else {
    // Opposite quaternions half-way: keep the earlier one.
    memcpy(r, qa, sizeof r);
  }
  write_quat(out, offset, r);
}

// Wheel angles as fractions of a turn; the wheel is taken to turn forward,
// or up to an eighth of a turn backwards.
void lerp_wheel(BikeState* out, const BikeState& a, const BikeState& b, int32_t offset, double t) {
  double u = a.bytes[offset] / 255.0;
  double w = b.bytes[offset] / 255.0;
  if (w < u - 0.125)
    u -= 1;
  else if (w > u + 0.875)
    w -= 1;
  double r = u + (w - u) * t;
  if (r < 0) r += 1;
  if (!(r >= 0)) r = 0;
  if (r > 1) r = 1;
  out->bytes[offset] = (uint8_t)state_encode(r, 0, 1, 8);
}

void write_quat_of(BikeState* s, int32_t offset, dBodyID body) {
  const dReal* q = dBodyGetQuaternion(body);
  double v[4] = {q[0], q[1], q[2], q[3]};
  write_quat(s, offset, v);
}

}  // namespace

uint32_t state_encode(double v, double lo, double hi, int32_t bits) {
  uint32_t m = field_max(bits);
  if (!(hi > lo)) return 0;
  if (!(v >= lo)) v = lo;  // also NaN
  if (v > hi) v = hi;
  double x = (v - lo) / (hi - lo) * m;
  // A value a rounding error below a step (a decoded value read back through
  // the joints or a float field) keeps its step, so decoding and encoding
  // again gives the same raw value.
  double slack = x * 1e-6 + 1e-7;
  if (slack > 1.0 / 128) slack = 1.0 / 128;
  double f = floor(x + slack);
  if (f > m) f = m;
  if (f < 0) f = 0;
  return (uint32_t)f;
}

double state_decode(uint32_t raw, double lo, double hi, int32_t bits) {
  uint32_t m = field_max(bits);
  if (m == 0) return lo;
  return lo + raw / (double)m * (hi - lo);
}

uint32_t state_read(const uint8_t* p, int32_t bytes) {
  uint32_t v = 0;
  for (int32_t i = bytes - 1; i >= 0; i--) v = (v << 8) | p[i];
  return v;
}

void state_write(uint8_t* p, int32_t bytes, uint32_t value) {
  for (int32_t i = 0; i < bytes; i++) {
    p[i] = (uint8_t)(value & 0xFF);
    value >>= 8;
  }
}

BikeState bike_state_pack(const Bike* bike) {
  BikeState s;
  memset(&s, 0, sizeof s);
  if (!bike) return s;
  const BikeInfo& info = bike->info;
  const double size = track.hf.world_size;
  const double low = track.hf.min_height;

  dBodyID frame = bike->body[FRAME];
  dBodyID rider = bike->body[RIDER];
  const dReal* p = dBodyGetPosition(frame);
  state_write(s.bytes + STATE_POS_X, 3, state_encode(p[0], 0, size, 24));
  state_write(s.bytes + STATE_POS_Y, 3, state_encode(p[1], low, low + size, 24));
  state_write(s.bytes + STATE_POS_Z, 3, state_encode(p[2], 0, size, 24));
  write_quat_of(&s, STATE_QUAT, frame);

  double steer = dJointGetHingeAngle(bike->joint[STEERING_HEAD]);
  s.bytes[STATE_STEER] = (uint8_t)state_encode(steer, -PI / 4, PI / 4, 8);
  double swingarm = dJointGetHingeAngle(bike->joint[SWINGARM_PIVOT]);
  s.bytes[STATE_SWINGARM] =
      (uint8_t)(state_encode(swingarm, -(double)info.swingarm_max_angle, 0, 8) | 1u);
  double fork = dJointGetSliderPosition(bike->joint[FORK_SLIDER]);
  s.bytes[STATE_FORK] = (uint8_t)(state_encode(fork, -(double)info.fork_travel, 0, 8) & ~1u);

  const dReal* r = dBodyGetPosition(rider);
  for (int32_t i = 0; i < 3; i++)
    state_write(s.bytes + STATE_RIDER_OFFSET + 2 * i, 2,
                state_encode(r[i] - p[i], -RIDER_OFFSET_RANGE, RIDER_OFFSET_RANGE, 16));
  write_quat_of(&s, STATE_RIDER_QUAT, rider);

  double front = dJointGetHingeAngle(bike->joint[FRONT_AXLE]);
  double rear = dJointGetHingeAngle(bike->joint[REAR_AXLE]);
  s.bytes[STATE_FRONT_WHEEL] = (uint8_t)state_encode(front, -PI, PI, 8);
  s.bytes[STATE_REAR_WHEEL] = (uint8_t)state_encode(rear, -PI, PI, 8);

  uint32_t gear, level;
  if (bike->crash_countdown > 0) {
    gear = 7;
    int64_t scaled = ((int64_t)bike->crash_countdown * 15 - 15) / 127;
    level = (uint32_t)(scaled < 15 ? scaled : 15);
  } else {
    gear = (uint32_t)(bike->gear < 0 ? 0 : bike->gear > 5 ? 5 : bike->gear);
    level = state_encode(bike->throttle, 0, 1, 4);
  }
  uint32_t dab = bike->dab_anim > 0 ? 8u : 0u;
  s.bytes[STATE_FLAGS] = (uint8_t)(gear | dab | (level << 4));

  double rpm = (double)bike->engine_speed * RAD_PER_SEC_TO_RPM;
  state_write(s.bytes + STATE_RPM, 2, state_encode(rpm, 0, RPM_RANGE, 16));
  return s;
}

BikeState bike_state_interpolate(const BikeState& a, const BikeState& b, double t) {
  if (t == 0 || !std::isfinite(t)) return a;
  // Version-4 demos hold the older layout, which is shown as recorded.
  if (race_session.playing_demo && race_session.demo_version == 4) return a;

  BikeState out = a;
  lerp_field(&out, a, b, STATE_POS_X, 3, t);
  lerp_field(&out, a, b, STATE_POS_Y, 3, t);
  lerp_field(&out, a, b, STATE_POS_Z, 3, t);
  for (int32_t i = 0; i < 3; i++) lerp_field(&out, a, b, STATE_RIDER_OFFSET + 2 * i, 2, t);
  lerp_field(&out, a, b, STATE_STEER, 1, t);
  lerp_field(&out, a, b, STATE_SWINGARM, 1, t);
  lerp_field(&out, a, b, STATE_FORK, 1, t);
  lerp_field(&out, a, b, STATE_RPM, 2, t);
  lerp_quat(&out, a, b, STATE_QUAT, t);
  lerp_quat(&out, a, b, STATE_RIDER_QUAT, t);
  lerp_wheel(&out, a, b, STATE_FRONT_WHEEL, t);
  lerp_wheel(&out, a, b, STATE_REAR_WHEEL, t);
  out.bytes[STATE_FLAGS] = a.bytes[STATE_FLAGS];
  out.bytes[STATE_SWINGARM] &= (uint8_t)~1u;
  return out;
}
