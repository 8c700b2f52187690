// BikeState: the fixed-point fields, the little-endian byte access, packing a
// bike (ranges, border values, the flags byte) and the interpolation between
// two snapshots (positions, the short way for quaternions, wheel wrap-around).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "physics/snapshot_pose.h"
#include "race/race.h"
#include "tests/bike_fixture.h"

namespace {

constexpr double PI = 3.14159265358979323846;

// ---------------------------------------------------------------- fields

struct EncodeCase {
  double v, lo, hi;
  int32_t bits;
  uint32_t raw;
};

TEST(BikeStateCodec, EncodeFloorsAndClampsToTheRange) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const EncodeCase cases[] = {
      {0.5, 0, 1, 8, 127},           // floor(127.5)
      {0.999, 0, 1, 8, 254},         // floor(254.745)
      {1, 0, 1, 8, 255},             // the top of the range is the largest value
      {-3, 0, 1, 8, 0},              // below the range: the border
      {7, 0, 1, 8, 255},             // above the range: the border
      {nan, 0, 1, 8, 0},             // not a number: the bottom
      {0, -PI / 4, PI / 4, 8, 127},  // steering straight ahead
      {0, -1, 1, 16, 32767},         // a zero quaternion component
      {512, 0, 1024, 24, 8388607},   // half a 1024 ft terrain, floor(8388607.5)
      {1024, 0, 1024, 24, 16777215},
      {-0.25, -0.5, 0, 8, 127},                  // a fork half compressed
      {4000 * 9.5492966, 0, 32768, 16, 0xFFFF},  // engine speeds above 32768 rpm clamp
  };
  for (const EncodeCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.v << " in " << c.lo << ".." << c.hi << " / " << c.bits);
    EXPECT_EQ(state_encode(c.v, c.lo, c.hi, c.bits), c.raw);
  }
}

TEST(BikeStateCodec, DecodeIsTheLowerEdgeOfTheStep) {
  EXPECT_DOUBLE_EQ(state_decode(0, -PI, PI, 8), -PI);
  EXPECT_DOUBLE_EQ(state_decode(255, -PI, PI, 8), PI);
  EXPECT_DOUBLE_EQ(state_decode(51, 0, 1, 8), 0.2);
  EXPECT_DOUBLE_EQ(state_decode(16777215, -10, 1014, 24), 1014);
  EXPECT_DOUBLE_EQ(state_decode(0xFFFF, 0, 32768, 16), 32768);
}

// Every raw value survives decoding and encoding again, also when the decoded
// value went through a float (engine speed is kept in rad/s as a float).
TEST(BikeStateCodec, DecodedValuesEncodeBackToTheSameRaw) {
  const double ranges[][2] = {{-PI / 4, PI / 4}, {-PI, PI}, {-0.61, 0}, {-1, 1}, {-16, 16}};
  for (const auto& r : ranges)
    for (uint32_t raw = 0; raw < 256; raw++)
      ASSERT_EQ(state_encode(state_decode(raw, r[0], r[1], 8), r[0], r[1], 8), raw) << r[0];
  for (uint32_t raw = 0; raw <= 0xFFFF; raw++) {
    float rad = (float)(state_decode(raw, 0, 32768, 16) * (2 * PI / 60));
    ASSERT_EQ(state_encode(rad * 9.5492966, 0, 32768, 16), raw);
    ASSERT_EQ(state_encode(state_decode(raw, -1, 1, 16), -1, 1, 16), raw);
  }
  for (uint32_t raw = 0; raw < (1u << 24); raw += 4099)
    ASSERT_EQ(state_encode(state_decode(raw, -37.5, 986.5, 24), -37.5, 986.5, 24), raw);
}

TEST(BikeStateCodec, FieldsAreLittleEndian) {
  uint8_t bytes[5] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  state_write(bytes, 3, 0x123456);
  EXPECT_EQ(bytes[0], 0x56);
  EXPECT_EQ(bytes[1], 0x34);
  EXPECT_EQ(bytes[2], 0x12);
  EXPECT_EQ(bytes[3], 0xAA);  // nothing past the field
  EXPECT_EQ(state_read(bytes, 3), 0x123456u);
  EXPECT_EQ(state_read(bytes, 2), 0x3456u);
  state_write(bytes, 4, 0xDEADBEEF);
  EXPECT_EQ(state_read(bytes, 4), 0xDEADBEEFu);
  state_write(bytes, 2, 0x1FFFF);  // only the field's bytes are written
  EXPECT_EQ(state_read(bytes, 2), 0xFFFFu);
  EXPECT_EQ(bytes[2], 0xAD);
}

// ---------------------------------------------------------------- interpolation

class BikeStateInterpolate : public ::testing::Test {
 protected:
  bool saved_playing = false;
  int32_t saved_version = 0;
  void SetUp() override {
    saved_playing = race_session.playing_demo;
    saved_version = race_session.demo_version;
    race_session.playing_demo = false;
    race_session.demo_version = 6;
  }
  void TearDown() override {
    race_session.playing_demo = saved_playing;
    race_session.demo_version = saved_version;
  }
  static BikeState blank() {
    BikeState s;
    memset(&s, 0, sizeof s);
    double identity[4] = {1, 0, 0, 0};
    set_quat(&s, STATE_QUAT, identity);
    set_quat(&s, STATE_RIDER_QUAT, identity);
    return s;
  }
  static void set_quat(BikeState* s, int32_t offset, const double q[4]) {
    for (int32_t i = 0; i < 4; i++)
      state_write(s->bytes + offset + 2 * i, 2, state_encode(q[i], -1, 1, 16));
  }
  static void get_quat(const BikeState& s, int32_t offset, double q[4]) {
    for (int32_t i = 0; i < 4; i++)
      q[i] = state_decode(state_read(s.bytes + offset + 2 * i, 2), -1, 1, 16);
  }
};

TEST_F(BikeStateInterpolate, LinearFieldsLerpTheirFractionsAndClamp) {
  BikeState a = blank(), b = blank();
  state_write(a.bytes + STATE_POS_X, 3, 1000);
  state_write(b.bytes + STATE_POS_X, 3, 5000);
  state_write(a.bytes + STATE_POS_Y, 3, 0xFFFF00);
  state_write(b.bytes + STATE_POS_Y, 3, 0xFFFFF0);
  state_write(a.bytes + STATE_RIDER_OFFSET + 2, 2, 40000);
  state_write(b.bytes + STATE_RIDER_OFFSET + 2, 2, 30000);
  a.bytes[STATE_STEER] = 100;
  b.bytes[STATE_STEER] = 140;
  a.bytes[STATE_FORK] = 20;
  b.bytes[STATE_FORK] = 10;
  state_write(a.bytes + STATE_RPM, 2, 8000);
  state_write(b.bytes + STATE_RPM, 2, 12000);

  BikeState h = bike_state_interpolate(a, b, 0.25);
  EXPECT_EQ(state_read(h.bytes + STATE_POS_X, 3), 2000u);
  EXPECT_EQ(state_read(h.bytes + STATE_RIDER_OFFSET + 2, 2), 37500u);
  EXPECT_EQ(h.bytes[STATE_STEER], 110);
  EXPECT_EQ(h.bytes[STATE_FORK], 17);  // 17.5 floored
  EXPECT_EQ(state_read(h.bytes + STATE_RPM, 2), 9000u);

  // Extrapolated past b: x runs on, y stops at the top of its range.
  BikeState e = bike_state_interpolate(a, b, 17);
  EXPECT_EQ(state_read(e.bytes + STATE_POS_X, 3), 69000u);
  EXPECT_EQ(state_read(e.bytes + STATE_POS_Y, 3), 0xFFFFFFu);
  EXPECT_EQ(state_read(e.bytes + STATE_RIDER_OFFSET + 2, 2), 0u);  // ran below 0
}

TEST_F(BikeStateInterpolate, FlagsComeFromTheEarlierStateAndTheExactFlagIsCleared) {
  BikeState a = blank(), b = blank();
  a.bytes[STATE_FLAGS] = 0x3B;
  b.bytes[STATE_FLAGS] = 0xF7;
  a.bytes[STATE_SWINGARM] = 201;  // exact snapshots of a simulated bike
  b.bytes[STATE_SWINGARM] = 201;
  BikeState h = bike_state_interpolate(a, b, 0.5);
  EXPECT_EQ(h.bytes[STATE_FLAGS], 0x3B);
  EXPECT_EQ(h.bytes[STATE_SWINGARM], 200);
}

TEST_F(BikeStateInterpolate, FractionZeroAndVersionFourDemosGiveTheEarlierStateUnchanged) {
  BikeState a = blank(), b = blank();
  for (int32_t i = 0; i < BIKE_STATE_BYTES; i++) {
    a.bytes[i] = (uint8_t)(i * 7 + 1);
    b.bytes[i] = (uint8_t)(255 - i * 3);
  }
  BikeState h = bike_state_interpolate(a, b, 0);
  EXPECT_EQ(memcmp(h.bytes, a.bytes, BIKE_STATE_BYTES), 0);

  race_session.playing_demo = true;
  race_session.demo_version = 4;
  h = bike_state_interpolate(a, b, 0.5);
  EXPECT_EQ(memcmp(h.bytes, a.bytes, BIKE_STATE_BYTES), 0);
  race_session.demo_version = 5;  // later demos interpolate
  h = bike_state_interpolate(a, b, 0.5);
  EXPECT_NE(memcmp(h.bytes, a.bytes, BIKE_STATE_BYTES), 0);
}

// Steps between two wheel bytes around the turn (0 and 255 are both a half
// turn from straight up: -pi and pi).
int32_t turn_steps(int32_t a, int32_t b) {
  int32_t d = abs(a - b) % 255;
  return d < 255 - d ? d : 255 - d;
}

struct WheelCase {
  uint8_t from, to;
  double t;
  uint8_t expect;
};

// A wheel turns forward (or up to an eighth of a turn backwards): 0.95 of a
// turn to 0.05 passes through a whole turn, not back through a half.
TEST_F(BikeStateInterpolate, WheelAnglesWrapTheShortForwardWay) {
  const WheelCase cases[] = {
      {242, 13, 0.5, 0},                        // 0.949 -> 0.051 through 0 (not 127)
      {242, 13, 0.25, 248},                     // a quarter of the way: just below a whole turn
      {242, 13, 0.75, 6},   {13, 242, 0.5, 0},  // 0.051 -> 0.949: a tenth of a turn back, through 0
      {60, 40, 0.5, 50},                        // a little backwards stays backwards
      {100, 200, 0.5, 150},                     // plain forward
      {10, 250, 0.5, 2},   // 250 is 0.02 of a turn behind 10 (w - 1): backwards through 0
      {250, 10, 0.5, 2},   // forward through 0 the other way round
      {0, 60, 2, 120},     // extrapolated
      {200, 240, 3, 255},  // extrapolated past a whole turn: clamped
  };
  for (const WheelCase& c : cases) {
    SCOPED_TRACE(testing::Message() << (int)c.from << " -> " << (int)c.to << " at " << c.t);
    BikeState a = blank(), b = blank();
    a.bytes[STATE_FRONT_WHEEL] = c.from;
    b.bytes[STATE_FRONT_WHEEL] = c.to;
    a.bytes[STATE_REAR_WHEEL] = c.from;
    b.bytes[STATE_REAR_WHEEL] = c.to;
    BikeState h = bike_state_interpolate(a, b, c.t);
    EXPECT_EQ(turn_steps(h.bytes[STATE_FRONT_WHEEL], c.expect), 0)
        << (int)h.bytes[STATE_FRONT_WHEEL];
    EXPECT_EQ(turn_steps(h.bytes[STATE_REAR_WHEEL], c.expect), 0) << (int)h.bytes[STATE_REAR_WHEEL];
  }
}

// Two quaternions of nearby orientations with a negative dot product (q and
// -q are the same orientation) interpolate between the orientations.
TEST_F(BikeStateInterpolate, QuaternionsTakeTheShortWay) {
  auto yaw = [](double deg, double sign, double q[4]) {
    double h = deg * PI / 360;
    q[0] = sign * cos(h);
    q[1] = 0;
    q[2] = sign * sin(h);
    q[3] = 0;
  };
  for (int32_t offset : {STATE_QUAT, STATE_RIDER_QUAT}) {
    BikeState a = blank(), b = blank();
    double qa[4], qb[4];
    yaw(20, 1, qa);
    yaw(40, -1, qb);
    set_quat(&a, offset, qa);
    set_quat(&b, offset, qb);
    double r[4], expect[4];
    get_quat(bike_state_interpolate(a, b, 0.5), offset, r);
    yaw(30, 1, expect);
    double dot = 0, len = 0;
    for (int32_t i = 0; i < 4; i++) {
      dot += r[i] * expect[i];
      len += r[i] * r[i];
    }
    EXPECT_NEAR(fabs(dot), 1, 1e-4) << "offset " << offset;
    EXPECT_NEAR(len, 1, 2e-4);
    // Extrapolation does not carry quaternions past the later one.
    get_quat(bike_state_interpolate(a, b, 3), offset, r);
    dot = 0;
    for (int32_t i = 0; i < 4; i++) dot += r[i] * qb[i];
    EXPECT_NEAR(fabs(dot), 1, 1e-4);
  }
}

// ---------------------------------------------------------------- packing

class BikeStatePack : public BikeWorld {
 protected:
  Bike* bike = nullptr;
  void SetUp() override {
    BikeWorld::SetUp();
    track.hf.min_height = -64;  // heights -64 .. 192 on the 256 ft field
    bike = add_bike();
    ASSERT_NE(bike, nullptr);
  }
  uint32_t field(const BikeState& s, int32_t offset, int32_t bytes) {
    return state_read(s.bytes + offset, bytes);
  }
};

TEST_F(BikeStatePack, ReadsTheBodiesAndJointsOfAPlacedBike) {
  bike->engine_speed = (float)(6000 / 9.5492966);
  bike->gear = 2;
  bike->throttle = 0.5f;
  BikeState s = bike_state_pack(bike);
  const dReal* p = dBodyGetPosition(bike->body[FRAME]);
  EXPECT_EQ(field(s, STATE_POS_X, 3), state_encode(p[0], 0, 256, 24));
  EXPECT_EQ(field(s, STATE_POS_Y, 3), state_encode(p[1], -64, 192, 24));
  EXPECT_EQ(field(s, STATE_POS_Z, 3), state_encode(p[2], 0, 256, 24));
  // Placed heading 0: the identity orientation.
  EXPECT_EQ(field(s, STATE_QUAT, 2), 0xFFFFu);
  EXPECT_EQ(field(s, STATE_QUAT + 2, 2), 32767u);
  EXPECT_EQ(field(s, STATE_RIDER_QUAT, 2), 0xFFFFu);
  EXPECT_EQ(s.bytes[STATE_STEER], 127);     // straight
  EXPECT_EQ(s.bytes[STATE_SWINGARM], 255);  // extended, exact-snapshot bit set
  EXPECT_EQ(s.bytes[STATE_FORK], 254);      // extended, reserved bit clear
  const BikeInfo& info = bike->info;
  for (int32_t i = 0; i < 3; i++)
    EXPECT_EQ(field(s, STATE_RIDER_OFFSET + 2 * i, 2),
              state_encode((double)info.rider_pos[i] - info.frame_pos[i], -16, 16, 16));
  EXPECT_EQ(s.bytes[STATE_FRONT_WHEEL], 127);
  EXPECT_EQ(s.bytes[STATE_FLAGS], 2 | (7 << 4));
  EXPECT_EQ(field(s, STATE_RPM, 2), state_encode(6000, 0, 32768, 16));
}

TEST_F(BikeStatePack, PositionsOutsideTheTerrainStoreTheBorder) {
  bike_translate(bike, -200, -500, 300);  // x and y below their ranges, z above
  BikeState s = bike_state_pack(bike);
  EXPECT_EQ(field(s, STATE_POS_X, 3), 0u);
  EXPECT_EQ(field(s, STATE_POS_Y, 3), 0u);
  EXPECT_EQ(field(s, STATE_POS_Z, 3), 0xFFFFFFu);
  bike_translate(bike, 500, 1000, -1000);
  s = bike_state_pack(bike);
  EXPECT_EQ(field(s, STATE_POS_X, 3), 0xFFFFFFu);
  EXPECT_EQ(field(s, STATE_POS_Y, 3), 0xFFFFFFu);
  EXPECT_EQ(field(s, STATE_POS_Z, 3), 0u);
}

struct FlagsCase {
  int32_t crash_countdown, gear;
  float throttle, dab_anim;
  uint8_t flags;
};

TEST_F(BikeStatePack, FlagsByte) {
  const FlagsCase cases[] = {
      {0, 0, 0, 0, 0x00},        {0, 3, 1, 0, 0xF3},
      {0, 5, 0.2f, 0.5f, 0x3D},                        // throttle 3 of 15, dab bit
      {0, 4, 0.999f, 0, 0xE4},                         // floor(14.985)
      {0, 9, 0, 0, 0x05},                              // never above the fifth gear
      {128, 2, 1, 0, 0xF7},                            // knocked out: (128 * 15 - 15) / 127 = 15
      {1, 2, 1, 0, 0x07},        {64, 2, 1, 0, 0x77},  // (960 - 15) / 127 = 7
      {5000, 2, 1, 0.25f, 0xFF},                       // at most 15, dab bit kept
  };
  for (const FlagsCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "countdown " << c.crash_countdown << " gear " << c.gear);
    bike->crash_countdown = c.crash_countdown;
    bike->gear = c.gear;
    bike->throttle = c.throttle;
    bike->dab_anim = c.dab_anim;
    EXPECT_EQ(bike_state_pack(bike).bytes[STATE_FLAGS], c.flags);
  }
}

TEST_F(BikeStatePack, EngineSpeedInRevolutionsPerMinute) {
  const double rpms[] = {0, 1000, 12345, 32768, 40000};
  for (double rpm : rpms) {
    bike->engine_speed = (float)(rpm / 9.5492966);
    uint32_t raw = field(bike_state_pack(bike), STATE_RPM, 2);
    double expect = floor((rpm > 32768 ? 32768 : rpm) / 32768 * 65535);
    EXPECT_NEAR(raw, expect, 1) << rpm;
  }
  bike->engine_speed = -50;  // running backwards stores 0
  EXPECT_EQ(field(bike_state_pack(bike), STATE_RPM, 2), 0u);
}

}  // namespace
