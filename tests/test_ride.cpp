// Whole rides through the ride harness: a bike settling on its wheels,
// accelerating through the gears, braking, circling, lapping the practice
// track, jumping its tabletop, hitting a statue and recovering, holding still
// with a foot down, backing up, and repeating a ride bit for bit.
//
// Each ride runs for a 450f, a 250f and a 125. The figures each ride measures
// are printed as "FIGURE <class> <name> <value>" lines.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "core/config.h"
#include "physics/bike.h"
#include "physics/catalogue.h"
#include "physics/rider_control.h"
#include "physics/step.h"
#include "physics/world.h"
#include "tests/bike_fixture.h"
#include "tools/ride.h"
#include "track/track.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double MPH = 1.4666667;  // ft/s

double wrap_angle(double a) {
  while (a > PI) a -= 2 * PI;
  while (a < -PI) a += 2 * PI;
  return a;
}
double clampd(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

void figure(const char* cls, const char* name, double value) {
  printf("FIGURE %s %s %.3f\n", cls, name, value);
}

// Holds a speed with the throttle and a heading or a path with the steering.
struct Driver {
  double speed = 0;         // target forward speed; < 0: fixed throttle below
  double throttle = 0;      // used when speed < 0
  double speed_cap = 0;     // > 0: the fixed throttle closes above this speed
  double steer = 0;         // fixed STEER value when no path
  bool follow_loop = false;  // the practice loop's centre line
  bool hold_line = false;    // keep to the line through (line_x, line_z) at line_heading
  double line_x = 0, line_z = 0, line_heading = 0;
  bool brake = false;
  double back_up = 0;
};

// The practice loop's centre line: the start straight (z = 380, towards +x),
// a half circle of radius 70 about (392, 310), the back straight (z = 240,
// towards -x), a half circle about (120, 310).
constexpr double LOOP_STRAIGHT = 272.0;
constexpr double LOOP_RADIUS = 70.0;
constexpr double LOOP_LENGTH = 2 * LOOP_STRAIGHT + 2 * PI * LOOP_RADIUS;

void loop_point(double s, double* x, double* z) {
  s = fmod(s, LOOP_LENGTH);
  if (s < 0) s += LOOP_LENGTH;
  double arc = PI * LOOP_RADIUS;
  if (s < LOOP_STRAIGHT) {
    *x = 120 + s;
    *z = 380;
  } else if (s < LOOP_STRAIGHT + arc) {
    double phi = (s - LOOP_STRAIGHT) / LOOP_RADIUS;
    *x = 392 + LOOP_RADIUS * sin(phi);
    *z = 310 + LOOP_RADIUS * cos(phi);
  } else if (s < 2 * LOOP_STRAIGHT + arc) {
    *x = 392 - (s - LOOP_STRAIGHT - arc);
    *z = 240;
  } else {
    double phi = (s - 2 * LOOP_STRAIGHT - arc) / LOOP_RADIUS;
    *x = 120 - LOOP_RADIUS * sin(phi);
    *z = 310 - LOOP_RADIUS * cos(phi);
  }
}

// Arc length of the loop point nearest (x, z) (coarse search).
double loop_nearest(double x, double z) {
  double best = 0, best_d = 1e30;
  for (double s = 0; s < LOOP_LENGTH; s += 1.0) {
    double px, pz;
    loop_point(s, &px, &pz);
    double d = (px - x) * (px - x) + (pz - z) * (pz - z);
    if (d < best_d) {
      best_d = d;
      best = s;
    }
  }
  return best;
}

// Heading (0 = towards -z, positive to the left) from (x, z) towards (tx, tz).
double heading_to(double x, double z, double tx, double tz) { return atan2(-(tx - x), -(tz - z)); }

void drive(const Bike* bike, int32_t, void* user, float out[CONTROL_SLOT_COUNT]) {
  const Driver* d = (const Driver*)user;
  RideSample s = ride_sample(bike);
  if (d->speed >= 0) {
    double e = d->speed - s.forward_speed;
    out[THROTTLE] = (float)clampd(e * 0.2, 0, 1);
  } else {
    out[THROTTLE] = (float)d->throttle;
    if (d->speed_cap > 0 && s.forward_speed > d->speed_cap) out[THROTTLE] = 0;
  }
  if (d->brake) {
    out[THROTTLE] = 0;
    out[FRONT_BRAKE] = 1;
    out[REAR_BRAKE] = 1;
  }
  out[BACK_UP] = (float)d->back_up;
  double want = s.heading;
  if (d->follow_loop) {
    double tx, tz;
    loop_point(loop_nearest(s.x, s.z) + 25.0, &tx, &tz);
    want = heading_to(s.x, s.z, tx, tz);
  } else if (d->hold_line) {
    // Aim at a point 30 ft ahead on the line.
    double fx = -sin(d->line_heading), fz = -cos(d->line_heading);
    double along = (s.x - d->line_x) * fx + (s.z - d->line_z) * fz + 30.0;
    want = heading_to(s.x, s.z, d->line_x + fx * along, d->line_z + fz * along);
  }
  // STEER +1 turns left (the "Left" key).
  if (d->follow_loop || d->hold_line)
    out[STEER] = (float)clampd(wrap_angle(want - s.heading) * 2.0, -1, 1);
  else
    out[STEER] = (float)d->steer;
}

struct ModelCase {
  const char* bike_class;
  const char* model;
};

void PrintTo(const ModelCase& c, std::ostream* os) { *os << c.bike_class; }

std::string case_name(const ::testing::TestParamInfo<ModelCase>& info) {
  return std::string("c") + info.param.bike_class;
}

const ModelCase MODELS[] = {{"450f", "crf450(2016)"}, {"250f", "crf250(2016)"}, {"125", "cr125"}};

// Rides on flat in-memory ground, 1024 ft square, or on the practice track.
class Rides : public BikeWorld, public ::testing::WithParamInterface<ModelCase> {
 protected:
  Ride ride;
  std::vector<Driver*> drivers;
  bool practice = false;

  void SetUp() override {
    BikeWorld::SetUp();
    set_ground([](double, double) { return 0.0; }, 9, 2.0f);
    ride_init(&ride);
    // RIDE_TRACE=file writes the per-tick trace of the ride (for looking into a failure).
    if (const char* path = getenv("RIDE_TRACE")) {
      ride.trace = fopen(path, "w");
      if (ride.trace) ride_trace_header(ride.trace);
    }
  }
  void TearDown() override {
    if (ride.trace) fclose(ride.trace);
    ride.trace = nullptr;
    ride_free(&ride);
    for (Driver* d : drivers) delete d;
    if (practice) {
      ride_unload_track();
      heights.clear();
    }
    BikeWorld::TearDown();
  }
  void load_practice() {
    track.hf.heights = nullptr;
    track = Track{};
    ASSERT_TRUE(ride_load_track("practice"));
    practice = true;
  }
  const char* model() const { return GetParam().model; }
  const char* cls() const { return GetParam().bike_class; }
  Bike* add(double x, double z, double heading, Driver* d) {
    drivers.push_back(d);
    Bike* b = ride_add_bike(&ride, model(), x, z, heading, drive, d);
    EXPECT_NE(b, nullptr);
    return b;
  }
  void step(int32_t n) {
    for (int32_t i = 0; i < n; i++) ride_step(&ride);
  }
};

}  // namespace

// 1. Dropped on the practice track the bike settles upright on both wheels
// with its fork and shock sagging.
TEST_P(Rides, SettlesOnItsWheels) {
  load_practice();
  Driver* d = new Driver;
  d->speed = -1;
  Bike* bike = add(170, 380, -PI / 2, d);
  ASSERT_NE(bike, nullptr);
  step(2 * TICKS_PER_SECOND);
  RideSample s = ride_sample(bike);
  EXPECT_GT(s.up_y, 0.97);
  EXPECT_LT(fabs(s.lean), 0.15);
  EXPECT_TRUE(s.front_contact);
  EXPECT_TRUE(s.rear_contact);
  EXPECT_LT(s.speed, 0.5);
  EXPECT_LT(s.fork_position, -0.01);  // sag
  EXPECT_GT(s.fork_position, -bike->info.fork_travel * 0.9);
  EXPECT_LT(s.swingarm_angle, -0.005);
  EXPECT_GT(s.swingarm_angle, -bike->info.swingarm_max_angle * 0.9);
  EXPECT_EQ(bike->crash_count, 0);
  figure(cls(), "fork_sag_ft", -s.fork_position);
  figure(cls(), "swingarm_sag_rad", -s.swingarm_angle);
}

// 2. Full throttle from rest with automatic shifting.
TEST_P(Rides, FullThrottleShiftsUpAndGainsSpeed) {
  Driver* d = new Driver;
  d->speed = -1;
  d->throttle = 1;
  d->hold_line = true;
  d->line_x = 60;
  d->line_z = 512;
  d->line_heading = -PI / 2;  // towards +x
  Bike* bike = add(60, 512, -PI / 2, d);
  ASSERT_NE(bike, nullptr);
  double top_rpm = 0, speed_at[4] = {};
  int32_t top_gear = 0, ticks_over_redline = 0;
  for (int32_t t = 0; t < 12 * TICKS_PER_SECOND; t++) {
    step(1);
    RideSample s = ride_sample(bike);
    top_rpm = fmax(top_rpm, s.rpm);
    top_gear = s.gear > top_gear ? s.gear : top_gear;
    if (s.rpm > bike->info.redline_rpm + 500) ticks_over_redline++;
    if (t == 2 * TICKS_PER_SECOND) speed_at[0] = s.forward_speed;
    if (t == 4 * TICKS_PER_SECOND) speed_at[1] = s.forward_speed;
    if (t == 8 * TICKS_PER_SECOND) speed_at[2] = s.forward_speed;
    if (s.x > 900) break;  // the end of the field
  }
  RideSample end = ride_sample(bike);
  EXPECT_EQ(bike->crash_count, 0);
  EXPECT_GT(end.up_y, 0.9);
  EXPECT_GE(top_gear, 3);
  EXPECT_GT(speed_at[0], 3.0);  // moving (a 125 on the automatic clutch starts slowly)
  EXPECT_GT(speed_at[1], speed_at[0]);
  EXPECT_GT(end.forward_speed, 45.0);
  // The rev limiter keeps the engine near its redline, not above it for long.
  EXPECT_LT(ticks_over_redline, TICKS_PER_SECOND / 4);
  figure(cls(), "speed_2s_mph", speed_at[0] / MPH);
  figure(cls(), "speed_4s_mph", speed_at[1] / MPH);
  figure(cls(), "top_speed_mph", end.forward_speed / MPH);
  figure(cls(), "top_gear", top_gear);
  figure(cls(), "top_rpm", top_rpm);
}

// 3. Both brakes from 40 mph.
TEST_P(Rides, BrakesStopFromFortyMph) {
  Driver* d = new Driver;
  d->hold_line = true;
  d->line_x = 100;
  d->line_z = 512;
  d->line_heading = -PI / 2;
  d->brake = true;
  Bike* bike = add(100, 512, -PI / 2, d);
  ASSERT_NE(bike, nullptr);
  step(64);  // settle
  ride_launch(bike, 40 * MPH);
  RideSample start = ride_sample(bike);
  int32_t ticks = 0;
  while (ticks < 10 * TICKS_PER_SECOND && ride_sample(bike).speed > 0.5) {
    step(1);
    ticks++;
  }
  RideSample end = ride_sample(bike);
  double distance = hypot(end.x - start.x, end.z - start.z);
  EXPECT_LT(end.speed, 0.5);
  EXPECT_EQ(bike->crash_count, 0);
  EXPECT_GT(end.up_y, 0.9);
  EXPECT_GT(distance, 25.0);   // no more than about 2 g
  EXPECT_LT(distance, 200.0);  // no less than about 0.27 g
  figure(cls(), "stop_distance_ft", distance);
  figure(cls(), "stop_time_s", ticks * TICK_SECONDS);
}

// 4. A steady steer at 20 mph: a circle, leaned into the turn.
TEST_P(Rides, SteadySteerMakesALeanedCircle) {
  Driver* d = new Driver;
  d->speed = 20 * MPH;
  Bike* bike = add(512, 700, -PI / 2, d);
  ASSERT_NE(bike, nullptr);
  step(64);
  ride_launch(bike, 20 * MPH);
  d->steer = 0.5;  // left
  step(3 * TICKS_PER_SECOND);  // into the steady turn
  std::vector<RideSample> samples;
  double turned = 0, last_heading = ride_sample(bike).heading;
  for (int32_t t = 0; t < 6 * TICKS_PER_SECOND; t++) {
    step(1);
    RideSample s = ride_sample(bike);
    turned += wrap_angle(s.heading - last_heading);
    last_heading = s.heading;
    if (t % 16 == 0) samples.push_back(s);
  }
  ASSERT_EQ(bike->crash_count, 0);
  // Centre as the mean of the points over whole turns is rough; fit instead:
  // least squares of x^2 + z^2 + a x + b z + c = 0.
  double sxx = 0, sxz = 0, szz = 0, sx = 0, sz = 0, n = 0, sxr = 0, szr = 0, sr = 0;
  for (const RideSample& s : samples) {
    double r2 = s.x * s.x + s.z * s.z;
    sxx += s.x * s.x, sxz += s.x * s.z, szz += s.z * s.z, sx += s.x, sz += s.z, n += 1;
    sxr += s.x * r2, szr += s.z * r2, sr += r2;
  }
  // Normal equations [sxx sxz sx; sxz szz sz; sx sz n] (a b c) = -(sxr szr sr).
  double m[3][4] = {{sxx, sxz, sx, -sxr}, {sxz, szz, sz, -szr}, {sx, sz, n, -sr}};
  for (int i = 0; i < 3; i++)
    for (int k = i + 1; k < 3; k++) {
      double f = m[k][i] / m[i][i];
      for (int j = i; j < 4; j++) m[k][j] -= f * m[i][j];
    }
  double c = m[2][3] / m[2][2];
  double b = (m[1][3] - m[1][2] * c) / m[1][1];
  double a = (m[0][3] - m[0][1] * b - m[0][2] * c) / m[0][0];
  double cx = -a / 2, cz = -b / 2, radius = sqrt(cx * cx + cz * cz - c);
  double worst = 0, mean_lean = 0, mean_speed = 0;
  for (const RideSample& s : samples) {
    worst = fmax(worst, fabs(hypot(s.x - cx, s.z - cz) - radius));
    mean_lean += s.lean / samples.size();
    mean_speed += s.speed / samples.size();
  }
  EXPECT_GT(turned, 1.0);  // turning left, steadily
  EXPECT_LT(worst, 0.15 * radius);
  EXPECT_GT(radius, 10.0);
  EXPECT_LT(radius, 400.0);
  EXPECT_GT(mean_lean, 0.05);  // leaned left, into the turn
  EXPECT_NEAR(mean_speed, 20 * MPH, 8.0);
  // Leaning balances the turn: tan(lean) is about v^2 / (g r) (the rider's
  // weight shifts and the tyres' width make it differ somewhat).
  double balanced = atan(mean_speed * mean_speed / (32.0 * radius));
  EXPECT_NEAR(mean_lean, balanced, 0.5 * balanced + 0.1);
  figure(cls(), "circle_radius_ft", radius);
  figure(cls(), "circle_lean_deg", mean_lean * 180 / PI);
  figure(cls(), "circle_speed_mph", mean_speed / MPH);
}

// 5. A minute at half throttle around the practice loop at stability 100.
TEST_P(Rides, LapsThePracticeLoopWithoutCrashing) {
  load_practice();
  apply_stability_preset(100);
  Driver* d = new Driver;
  d->speed = -1;
  d->throttle = 0.5;
  d->speed_cap = 40;  // the rider rolls off above 27 mph, for the turns
  d->follow_loop = true;
  Bike* bike = add(150, 380, -PI / 2, d);
  ASSERT_NE(bike, nullptr);
  double travelled = 0, top_speed = 0;
  RideSample last = ride_sample(bike);
  for (int32_t t = 0; t < 60 * TICKS_PER_SECOND; t++) {
    step(1);
    RideSample s = ride_sample(bike);
    travelled += hypot(s.x - last.x, s.z - last.z);
    top_speed = fmax(top_speed, s.speed);
    last = s;
    if (bike->crash_count) break;
  }
  EXPECT_EQ(bike->crash_count, 0);
  EXPECT_GT(last.up_y, 0.5);  // on its wheels (maybe leaned into a turn)
  EXPECT_GT(travelled, 1.5 * LOOP_LENGTH);
  // Still on the loop: near its centre line.
  double lx, lz;
  loop_point(loop_nearest(last.x, last.z), &lx, &lz);
  EXPECT_LT(hypot(last.x - lx, last.z - lz), 20.0);
  figure(cls(), "loop_distance_ft", travelled);
  figure(cls(), "loop_laps", travelled / LOOP_LENGTH);
  figure(cls(), "loop_top_speed_mph", top_speed / MPH);
}

// 6. The practice tabletop at a jumping speed.
TEST_P(Rides, JumpsTheTabletopAndLands) {
  load_practice();
  Driver* d = new Driver;
  d->speed = 45;
  d->hold_line = true;
  d->line_x = 440;
  d->line_z = 240;
  d->line_heading = PI / 2;  // towards -x along the back straight
  Bike* bike = add(440, 240, PI / 2, d);
  ASSERT_NE(bike, nullptr);
  step(64);
  ride_launch(bike, 45);
  int32_t air = 0, longest_air = 0;
  double peak = -1e9;
  for (int32_t t = 0; t < 6 * TICKS_PER_SECOND; t++) {
    step(1);
    RideSample s = ride_sample(bike);
    if (!s.front_contact && !s.rear_contact) {
      air++;
      peak = fmax(peak, s.y - terrain_height_at((float)s.x, (float)s.z));
    } else {
      air = 0;
    }
    longest_air = air > longest_air ? air : longest_air;
  }
  RideSample end = ride_sample(bike);
  EXPECT_LT(end.x, 240.0);  // past the table
  EXPECT_GE(longest_air, 32);  // a quarter of a second in the air at least
  EXPECT_EQ(bike->crash_count, 0);
  EXPECT_GT(end.up_y, 0.9);
  figure(cls(), "tabletop_air_s", longest_air * TICK_SECONDS);
  figure(cls(), "tabletop_peak_ft", peak);
}

// 7. Into a statue at 40 mph: thrown, lies 512 ticks, walks back, remounts.
TEST_P(Rides, StatueThrowsTheRiderWhoRecoversAndRemounts) {
  load_practice();
  // The first stack of tyres in the infield, approached from the start
  // straight over flat ground.
  const Statue* target = nullptr;
  for (int32_t i = 0; i < track.objects.statues.count && !target; i++) {
    const Statue& st = track.objects.statues.data[i];
    if (st.shape && st.shape_name && strstr(st.shape_name, "tire")) target = &st;
  }
  ASSERT_NE(target, nullptr);
  double sx = target->x, sz = 372;
  double heading = heading_to(sx, sz, target->x, target->z);
  double dist = hypot(target->x - sx, target->z - sz);
  double start = dist - 60.0;
  Driver* d = new Driver;
  d->speed = 40 * MPH;
  d->hold_line = true;
  d->line_x = sx;
  d->line_z = sz;
  d->line_heading = heading;
  Bike* bike =
      add(sx - sin(heading) * start, sz - cos(heading) * start, heading, d);
  ASSERT_NE(bike, nullptr);
  step(32);
  ride_launch(bike, 40 * MPH);
  int32_t hit_tick = -1, rest_ticks = 0, remount_tick = -1, max_countdown = 0;
  for (int32_t t = 0; t < 40 * TICKS_PER_SECOND; t++) {
    int32_t before = bike->crash_countdown;
    step(1);
    if (bike->crash_count > 0 && hit_tick < 0) {
      hit_tick = t;
      d->speed = 0;  // the rider lets go of the throttle
    }
    if (before > 0 && bike->crash_countdown == before - 1) rest_ticks++;
    max_countdown = bike->crash_countdown > max_countdown ? bike->crash_countdown : max_countdown;
    if (hit_tick >= 0 && before > 0 && bike->crash_countdown == 0) {
      remount_tick = t;
      break;
    }
  }
  ASSERT_GE(hit_tick, 0) << "the rider was not thrown";
  EXPECT_LT(hit_tick, 3 * TICKS_PER_SECOND);
  EXPECT_EQ(max_countdown, 512);
  EXPECT_EQ(rest_ticks, 512);  // counted only while the rider lay still
  ASSERT_GE(remount_tick, 0) << "no remount";
  // Back on the bike: the mount joins rider and frame, the rider on its seat.
  EXPECT_EQ(dJointGetBody(bike->joint[RIDER_MOUNT], 0), bike->body[RIDER]);
  EXPECT_EQ(dJointGetBody(bike->joint[RIDER_MOUNT], 1), bike->body[FRAME]);
  dVector3 seat;
  const float* rp = bike->info.rider_pos;
  const float* fp = bike->info.frame_pos;
  dBodyGetRelPointPos(bike->body[FRAME], rp[0] - fp[0], rp[1] - fp[1], rp[2] - fp[2], seat);
  Vec3 rider = pos(bike, RIDER);
  EXPECT_LT(vec3_length(rider - vec3(seat[0], seat[1], seat[2])), 0.2);
  figure(cls(), "statue_hit_s", hit_tick * TICK_SECONDS);
  figure(cls(), "statue_remount_after_s", (remount_tick - hit_tick) * TICK_SECONDS);
}

// 8. Standing still with the throttle closed: the automatic dab holds the
// bike; backing up walks it backwards in strokes.
TEST_P(Rides, DabHoldsAtAStandstillAndBackUpWalksBackwards) {
  Driver* d = new Driver;
  d->speed = -1;
  Bike* bike = add(512, 512, 0, d);
  ASSERT_NE(bike, nullptr);
  float most_dab = 0;
  for (int32_t t = 0; t < 4 * TICKS_PER_SECOND; t++) {
    step(1);
    most_dab = fmaxf(most_dab, bike->dab_anim);
  }
  RideSample held = ride_sample(bike);
  EXPECT_GT(most_dab, 0.5f);
  EXPECT_GT(held.up_y, 0.95);
  EXPECT_LT(held.speed, 0.5);
  EXPECT_EQ(bike->crash_count, 0);

  d->back_up = 1;
  physics_state.race_start_tick = 0;
  std::vector<double> speeds;
  for (int32_t t = 0; t < 4 * TICKS_PER_SECOND; t++) {
    step(1);
    speeds.push_back(ride_sample(bike).forward_speed);
  }
  RideSample back = ride_sample(bike);
  // Moved backwards (the frame's forward axis points along -z at heading 0).
  double moved = -((back.x - held.x) * -sin(held.heading) + (back.z - held.z) * -cos(held.heading));
  EXPECT_GT(moved, 1.0);
  EXPECT_GT(back.up_y, 0.9);
  // In strokes: the backward speed rises and falls within each 128 ticks.
  int32_t strokes = 0;
  for (size_t i = 128; i + 64 < speeds.size(); i += 128) {
    double fast = 0, slow = 1e9;
    for (size_t k = i; k < i + 128 && k < speeds.size(); k++) {
      fast = fmax(fast, -speeds[k]);
      slow = fmin(slow, -speeds[k]);
    }
    if (fast > 0.5 && fast - slow > 0.3) strokes++;
  }
  EXPECT_GE(strokes, 2);
  figure(cls(), "backup_moved_ft", moved);
}

INSTANTIATE_TEST_SUITE_P(Models, Rides, ::testing::ValuesIn(MODELS), case_name);

// 9. The same control stream twice gives bit-identical body states.
TEST(RideDeterminism, SameControlsGiveIdenticalBodyStates) {
  TempDir root;
  ScopedEnv env_xdg{"XDG_DATA_HOME", (root.path + "/xdg").c_str()};
  ScopedEnv env_rt{"RT_HOME", RT_BINARY_DIR};
  settings_init_defaults();
  file_list_free();
  std::vector<double> runs[2];
  for (int run = 0; run < 2; run++) {
    ASSERT_TRUE(physics_world_create());
    ASSERT_TRUE(ride_load_track("practice"));
    Ride ride;
    ride_init(&ride);
    RideScript script;
    int32_t bad = 0;
    ASSERT_TRUE(ride_script_parse("0 throttle=1\n200 steer=0.4 throttle=0.6\n"
                                  "400 steer=-0.3 front_brake=0.5\n600 throttle=1 steer=0\n",
                                  &script, &bad));
    RideScript second = script;
    ride_add_bike(&ride, bike_catalogue[0].name, 150, 380, -PI / 2, ride_script_controller,
                  &script);
    ride_add_bike(&ride, bike_catalogue[1].name, 150, 386, -PI / 2, ride_script_controller,
                  &second);
    for (int32_t t = 0; t < 800; t++) ride_step(&ride);
    for (int32_t i = 0; i < ride.count; i++)
      for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
        dBodyID body = ride.slots[i].bike->body[b];
        const dReal* arrays[4] = {dBodyGetPosition(body), dBodyGetQuaternion(body),
                                  dBodyGetLinearVel(body), dBodyGetAngularVel(body)};
        for (const dReal* a : arrays) runs[run].insert(runs[run].end(), a, a + 4);
      }
    ride_free(&ride);
    ride_script_free(&script);
    ride_unload_track();
    physics_world_destroy();
  }
  ASSERT_EQ(runs[0].size(), runs[1].size());
  EXPECT_EQ(memcmp(runs[0].data(), runs[1].data(), runs[0].size() * sizeof(double)), 0);
  file_list_free();
}

TEST(RideScript, ParsesHoldsAndRejects) {
  RideScript script;
  int32_t bad = -1;
  ASSERT_TRUE(ride_script_parse("# warm-up\n0 throttle=0.5\n\n10 steer=-1 throttle=1 # go\n",
                                &script, &bad));
  float out[CONTROL_SLOT_COUNT];
  ride_script_controller(nullptr, 0, &script, out);
  EXPECT_FLOAT_EQ(out[THROTTLE], 0.5f);
  EXPECT_FLOAT_EQ(out[STEER], 0.0f);
  ride_script_controller(nullptr, 9, &script, out);
  EXPECT_FLOAT_EQ(out[THROTTLE], 0.5f);
  ride_script_controller(nullptr, 10, &script, out);
  EXPECT_FLOAT_EQ(out[THROTTLE], 1.0f);
  EXPECT_FLOAT_EQ(out[STEER], -1.0f);
  ride_script_free(&script);

  const struct {
    const char* text;
    int32_t line;
  } bad_cases[] = {
      {"0 throttle\n", 1},          {"0 gas=1\n", 1},        {"x throttle=1\n", 1},
      {"5 throttle=1\n2 steer=1\n", 2}, {"0 throttle=nan\n", 1}, {"0\n", 1},
  };
  for (const auto& c : bad_cases) {
    bad = -1;
    EXPECT_FALSE(ride_script_parse(c.text, &script, &bad)) << c.text;
    EXPECT_EQ(bad, c.line) << c.text;
  }
}

// The rt_ride tool: two bikes on the practice track with a script; one CSV
// row per bike per tick, and the throttle in the script shows in the ride.
TEST(RideTool, WritesATracePerBikeAndTick) {
  TempDir dir;
  write_file(dir.file("script.txt"), "# go\n0 throttle=1\n200 throttle=0 front_brake=1\n");
  CommandResult r = run_command("RT_HOME='" RT_BINARY_DIR "' XDG_DATA_HOME='" + dir.path +
                                "' " RT_BINARY_DIR "/rt_ride --bikes 2 --ticks 400 --script '" +
                                dir.file("script.txt") + "' --out '" + dir.file("trace.csv") +
                                "'");
  ASSERT_EQ(r.status, 0) << r.err;
  std::string csv = read_file(dir.file("trace.csv"));
  ASSERT_EQ(csv.rfind("tick,bike,x,y,z,speed,", 0), 0u);
  std::vector<std::string> rows;
  for (size_t at = csv.find('\n') + 1; at < csv.size();) {
    size_t end = csv.find('\n', at);
    rows.push_back(csv.substr(at, end - at));
    at = end + 1;
  }
  ASSERT_EQ(rows.size(), 800u);
  // Columns: tick, bike, x, y, z, speed, forward_speed, ...; throttle at 18.
  auto column = [](const std::string& row, int32_t k) {
    size_t at = 0;
    for (int32_t i = 0; i < k; i++) at = row.find(',', at) + 1;
    return atof(row.c_str() + at);
  };
  EXPECT_EQ(column(rows[0], 1), 0);
  EXPECT_EQ(column(rows[1], 1), 1);
  double fastest = 0;
  for (int32_t t = 150; t < 200; t++) fastest = fmax(fastest, column(rows[2 * t], 6));
  EXPECT_GT(fastest, 5.0);  // moving forward under throttle
  EXPECT_EQ(column(rows[2 * 100], 17), 1.0);
  EXPECT_EQ(column(rows[2 * 300], 17), 0.0);
  // A bad script line is reported with its number.
  write_file(dir.file("bad.txt"), "0 throttle=1\n5 gas=1\n");
  r = run_command(RT_BINARY_DIR "/rt_ride --script '" + dir.file("bad.txt") + "' --out /dev/null");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("bad.txt:2: bad line"), std::string::npos) << r.err;
}
