// Putting a foot down: the automatic dab and its hold, walking the bike
// backwards in strokes, the foot's support force and the automatic
// realignment that turns a nearly fallen bike back towards the course.
#include <cmath>

#include "core/common.h"
#include "physics/bike.h"
#include "physics/body_vectors.h"
#include "physics/crash.h"
#include "physics/rider_control.h"
#include "physics/step.h"
#include "physics/world.h"
#include "track/timing.h"
#include "track/track.h"

namespace {

constexpr double PI = 3.14159265358979323846;
// Below this speed (5 ft/s, squared) the bike counts as at walking pace.
constexpr double WALKING_SPEED_SQ = 25.0;
// 15 ft/s, squared: above it the foot only helps a bike that leans a lot.
constexpr double DAB_FAST_SPEED_SQ = 225.0;
// Struck bikes get at least this dab speed limit while blame <= -512.
constexpr double STRUCK_DAB_SPEED = 75.0;
constexpr float STRUCK_DAB_BLAME = -512.0f;
// Back-up: strokes of 128 ticks, push speed 4 ft/s, forces and turning.
constexpr int32_t BACKUP_STROKE_TICKS = 128;
constexpr double BACKUP_SPEED = 4.0;
constexpr double BACKUP_FORCE = 2000.0;
constexpr double BACKUP_TURN_FORCE = 2000.0;
// The automatic dab holds the bike still with up to this force.
constexpr double DAB_HOLD_FORCE = 1000.0;
// The dab foot comes down at this rate (per second).
constexpr double DAB_ANIM_RISE = 8.0;
// The support force: magnitude, roll rate and where it acts on the frame.
constexpr double SUPPORT_FORCE = 400.0;
constexpr double SUPPORT_ROLL_RATE = PI / 8;
constexpr double SUPPORT_HEIGHT = 4.0;


Vec3 body_linear_vel(dBodyID body) {
  const dReal* v = dBodyGetLinearVel(body);
  return vec3(v[0], v[1], v[2]);
}


// The frame's z axis (towards the rear) in world coordinates.
Vec3 frame_rear_axis(const Bike* bike) {
  const dReal* r = dBodyGetRotation(bike->body[FRAME]);
  return vec3(r[2], r[6], r[10]);
}

double frame_speed_sq(const Bike* bike) {
  return vec3_length_sq(body_linear_vel(bike->body[FRAME]));
}

bool wheel_touches(const Bike* bike, int32_t wheel) { return bike->wheel_contact[wheel].depth > 0; }

bool arcade_on(const Bike* bike) { return bike->setup.arcade && !physics_state.no_arcade; }

// A one-tick angular motor between the frame and the static world about the
// world's vertical axis.
void yaw_motor(Bike* bike, double velocity, double max_force) {
  if (!physics_world || !contact_group) return;
  dJointID motor = dJointCreateAMotor(physics_world, contact_group);
  if (!motor) return;
  dJointAttach(motor, bike->body[FRAME], nullptr);
  dJointSetAMotorMode(motor, dAMotorUser);
  dJointSetAMotorNumAxes(motor, 1);
  dJointSetAMotorAxis(motor, 0, 0, 0, 1, 0);  // relative to the world
  dJointSetAMotorParam(motor, dParamVel, velocity);
  dJointSetAMotorParam(motor, dParamFMax, max_force);
}

int32_t floor_div(int32_t a, int32_t b) {
  int32_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

int32_t positive_mod(int32_t a, int32_t b) {
  int32_t m = a % b;
  return m < 0 ? m + b : m;
}

// Whether the realignment should run at all: race timing is on, the bike has
// passed a gate and has not finished. The finish test is evaluated here; on
// the tick that marks the bike finished there is no realignment.
bool realignment_allowed(Bike* bike) {
  const TimingData* timing = physics_state.timing;
  if (!timing || !timing->active) return false;
  if (bike->timing.gate_position < 1 || bike->timing.finished) return false;
  if (bike_finish_test(timing, &bike->timing, physics_state.leader, physics_state.race_laps)) {
    bike->timing.finished = true;
    return false;
  }
  return true;
}

// The automatic realignment: turns the bike about the vertical towards the
// realignment target. Returns true when it took over and the support force
// must not follow this tick.
bool realign(Bike* bike) {
  if (!bike->setup.auto_align || bike->back_up > 0.125f) return false;
  double rate = bike->blame < 0 ? PI : PI / 2;
  Vec3 p = body_position(bike->body[FRAME]);
  Vec3 d = realign_target(bike) - p;
  Vec3 rear = frame_rear_axis(bike);
  double a = rear.x, b = rear.z;
  double len_sq = a * a + b * b;
  if (len_sq <= 1.0 / 1024) return false;
  double len = sqrt(len_sq);
  a /= len;
  b /= len;
  double side = b * d.x - a * d.z;
  double along = a * d.x + b * d.z;  // negative when the target lies ahead
  double speed = side >= 0 ? -rate : rate;
  double full = bike->total_mass * 320.0;
  if (along >= 0 || fabs(side) >= -0.25 * along) {
    yaw_motor(bike, speed, full);
    // Lift the bike's weight off the touching tyres while it turns.
    double lift = bike->total_mass * 32.0;
    if (wheel_touches(bike, WHEEL_REAR)) dBodyAddForce(bike->body[REAR_WHEEL], 0, lift, 0);
    if (wheel_touches(bike, WHEEL_FRONT)) dBodyAddForce(bike->body[FRONT_WHEEL], 0, lift, 0);
    return true;
  }
  yaw_motor(bike, speed, fabs(side / (0.25 * along)) * full);
  return false;
}

// How far the bike may lean before the foot pushes fully, at speed squared v2.
double lean_allowance(const Bike* bike, double v2, double m2) {
  double limit = bike->setup.roll_limit_angle;
  double allowance;
  if (v2 == 0) {
    allowance = 0;
  } else if (v2 >= m2) {
    allowance = 2 * PI;
  } else if (v2 <= DAB_FAST_SPEED_SQ) {
    allowance = (1 - pow(1 - clampd(v2 / m2, 0, 1), 32)) * limit;
  } else {
    allowance = limit + (2 * PI - limit) *
                            clampd((v2 - DAB_FAST_SPEED_SQ) / (m2 - DAB_FAST_SPEED_SQ), 0, 1);
  }
  return 1.25 * allowance;
}

// The foot's push that rights the bike at a limited roll rate.
void support_force(Bike* bike, double v2, double lean) {
  dBodyID frame = bike->body[FRAME];
  const dReal* w_world = dBodyGetAngularVel(frame);
  dVector3 w_frame;
  dBodyVectorFromWorld(frame, w_world[0], w_world[1], w_world[2], w_frame);
  double w = w_frame[2];
  double abs_lean = fabs(lean);

  double q = lean >= 0 ? -SUPPORT_ROLL_RATE : SUPPORT_ROLL_RATE;
  if (bike->setup.auto_dab && bike->blame < 0) q *= 3;
  if (abs_lean < PI / 16) q = q * abs_lean * 16 / PI;

  double force = 0;
  if (q > 0 && q > w)
    force = -SUPPORT_FORCE;
  else if (q < 0 && q < w)
    force = SUPPORT_FORCE;
  if (abs_lean < PI / 32) force = force * abs_lean * 32 / PI;

  if (bike->back_up < 0.125f || v2 > WALKING_SPEED_SQ) {
    // Near upright the foot only helps as far as the rider steers into the fall.
    double m = dab_speed_limit(bike);
    double allowance = lean_allowance(bike, v2, m * m);
    double sigma = q >= 0 ? -bike->steer : bike->steer;
    double c = clampd(2 * sigma - 1, 0, 1);
    double t = clampd((abs_lean - allowance) / 0.25, 0, 1);
    force *= t + (1 - t) * c;
    if (v2 > WALKING_SPEED_SQ) force *= bike->steer_assist;
  }

  if (force == 0) return;
  const dReal* r = dBodyGetRotation(frame);
  if (r[5] >= 0.707) {
    dBodyAddForceAtRelPos(frame, 0, fabs(force) / 8, 0, 0, SUPPORT_HEIGHT, 0);
    dBodyAddRelForceAtRelPos(frame, force, 0, 0, 0, SUPPORT_HEIGHT, 0);
  } else {
    dBodyAddForceAtRelPos(frame, 0, fabs(force), 0, 0, SUPPORT_HEIGHT, 0);
  }
}

}  // namespace

double backup_stroke(int32_t tick, int32_t start_tick) {
  int32_t strokes_from =
      floor_div(start_tick + BACKUP_STROKE_TICKS, BACKUP_STROKE_TICKS) * BACKUP_STROKE_TICKS;
  if (tick < strokes_from && positive_mod(tick, 512) >= BACKUP_STROKE_TICKS) return 0;
  double phase = positive_mod(tick, BACKUP_STROKE_TICKS) / 127.0;
  return (1 - cos(2 * PI * phase)) / 2;
}

double dab_speed_limit(const Bike* bike) {
  double m = bike->setup.max_dab_speed;
  if (bike->blame <= STRUCK_DAB_BLAME && m < STRUCK_DAB_SPEED) m = STRUCK_DAB_SPEED;
  return m;
}

bool should_dab(const Bike* bike, double v2) {
  if (!bike->setup.auto_dab) return false;
  double m = dab_speed_limit(bike);
  if (v2 > m * m) return false;
  double lean = fabs(lean_angle(bike));
  if (v2 > DAB_FAST_SPEED_SQ) {
    double v = sqrt(v2);
    if (lean < clampd((v - 15) / 15, 0, 1) * PI / 4) return false;
  }
  if (bike->throttle != 0 && bike->clutch != 0) {
    if (v2 < WALKING_SPEED_SQ) return true;
    return lean > PI / 16;
  }
  return true;
}

void hold_velocity(dBodyID body, Vec3 target, double max_force) {
  if (!body) return;
  Vec3 delta = body_linear_vel(body) - target;
  double len = vec3_length(delta);
  if (!(len >= 0.25)) return;
  double scale = -max_force * clampd((len - 0.25) * 0.8, 0, 1) / len;
  dBodyAddForce(body, scale * delta.x, 0, scale * delta.z);
}

void dab_and_back_up(Bike* bike) {
  if (!bike) return;
  double v2 = frame_speed_sq(bike);
  bool knocked_out = bike_knocked_out(bike);
  if (bike->back_up > 0 && v2 < WALKING_SPEED_SQ) {
    // Walking the bike backwards, one push per stroke.
    double s = backup_stroke(physics_state.tick, physics_state.race_start_tick);
    bike->dab = knocked_out ? 0.0f : 1.0f;
    hold_velocity(bike->body[FRAME], frame_rear_axis(bike) * (BACKUP_SPEED * s), BACKUP_FORCE);
    yaw_motor(bike, -bike->steer * s * PI / 2, BACKUP_TURN_FORCE);
    return;
  }
  if (!should_dab(bike, v2)) return;
  double m = dab_speed_limit(bike);
  double foot = m > 0 ? clampd(1 - sqrt(v2) / m, 0, 1) : 0;
  bike->dab = knocked_out ? 0.0f : (float)clampd(fmax(foot, (double)bike->dab), 0, 1);
  if (v2 < WALKING_SPEED_SQ && (bike->throttle == 0 || bike->clutch == 0) &&
      wheel_touches(bike, WHEEL_FRONT) && wheel_touches(bike, WHEEL_REAR)) {
    // Hold the bike still on both brakes and the foot.
    bike->front_brake = 1;
    bike->rear_brake = 1;
    hold_velocity(bike->body[FRAME], vec3(0, 0, 0), DAB_HOLD_FORCE);
  }
}

void dab_support(Bike* bike) {
  if (!bike) return;
  if (bike_knocked_out(bike)) {
    bike->dab_anim = (float)fmin(1.0, bike->dab_anim + DAB_ANIM_RISE * TICK_SECONDS);
    return;
  }
  if (bike->dab == 0) return;
  if (!wheel_touches(bike, WHEEL_FRONT)) {
    // The foot must still reach the ground.
    ContactResult ground;
    Vec3 rider = body_position(bike->body[RIDER]);
    if (!hf_sphere_contact(&track.hf, rider, bike->info.rider_pos[1] + 1.0, &ground)) return;
  }
  double v2 = frame_speed_sq(bike);
  double m = dab_speed_limit(bike);
  if (v2 > m * m) return;
  double lean = lean_angle(bike);
  if (v2 > DAB_FAST_SPEED_SQ && !(wheel_touches(bike, WHEEL_FRONT) &&
                                  wheel_touches(bike, WHEEL_REAR) && fabs(lean) >= 3 * PI / 16))
    return;
  bike->dab_anim = (float)fmin(1.0, bike->dab_anim + DAB_ANIM_RISE * TICK_SECONDS);
  if (arcade_on(bike)) return;
  if (v2 >= WALKING_SPEED_SQ) {
    if (bike->blame > 0) return;
  } else if (fabs(lean) > PI / 8 && fabs(lean) < 0.35 * PI) {
    if (realignment_allowed(bike) && realign(bike)) return;
  }
  support_force(bike, v2, lean);
}

Vec3 realign_target(const Bike* bike) {
  // Robots and learned racing lines will be consulted here first once they
  // exist; until then the bike heads for its next timing gate, and without
  // race timing stays where it is.
  const TimingData* timing = physics_state.timing;
  if (timing && timing->active) {
    int32_t gate = timing_gate_at(timing, bike->timing.gate_position);
    if (gate >= 0) {
      const float* c = timing->gates[gate].centre;
      return vec3(c[0], c[1], c[2]);
    }
  }
  return body_position(bike->body[FRAME]);
}
