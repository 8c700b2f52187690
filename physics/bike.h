// One motorcycle with its rider: seven rigid bodies held together by six
// joints in the physics world, created from a catalogue entry, put back into
// its reset pose, placed on the ground, taken in and out of the simulation
// and destroyed.
//
// Units: feet, slugs, seconds, radians. In the reset pose the bike stands
// upright at the world origin with x lateral, y up and z towards the rear.
//
// Lifetime: created at session start for each entrant (bike_create), placed
// (bike_place), stepped every tick, destroyed when the session ends or the
// entrant leaves (bike_destroy). The world (physics/world.h) must exist.
#pragma once

#include <ode/ode.h>

#include <cstdint>

#include "physics/catalogue.h"
#include "physics/contact_geometry.h"
#include "track/timing.h"

struct HeightField;
struct Shape;

// The bodies, in creation order.
enum BikeBody : int32_t {
  FRAME = 0,
  FRONT_WHEEL = 1,
  REAR_WHEEL = 2,
  STEERING = 3,
  FORK_LOWER = 4,
  SWINGARM = 5,
  RIDER = 6,
  BIKE_BODY_COUNT = 7,
};

// The permanent joints, in creation order.
enum BikeJoint : int32_t {
  FRONT_AXLE = 0,      // hinge FORK_LOWER - FRONT_WHEEL
  REAR_AXLE = 1,       // hinge SWINGARM - REAR_WHEEL
  STEERING_HEAD = 2,   // hinge STEERING - FRAME
  FORK_SLIDER = 3,     // slider STEERING - FORK_LOWER (0 extended, negative compressed)
  SWINGARM_PIVOT = 4,  // hinge SWINGARM - FRAME (0 extended, negative compressed)
  RIDER_MOUNT = 5,     // hinge-2 RIDER - FRAME
  BIKE_JOINT_COUNT = 6,
};

constexpr int32_t BIKE_TEXTURE_COUNT = 4;
// Texture name slots.
enum BikeTextureRole : int32_t {
  TEXTURE_RIDER = 0,
  TEXTURE_HELMET = 1,
  TEXTURE_BIKE = 2,
  TEXTURE_WHEEL = 3,
};

// Share of rider_mass carried by the RIDER body at creation.
constexpr double RIDER_MASS_SHARE_DEFAULT = 1.0 / 3.0;
constexpr double RIDER_MASS_SHARE_MIN = 0.33;
constexpr double RIDER_MASS_SHARE_MAX = 0.5;
// Lean stops of the steering head.
constexpr double STEERING_LOCK = 3.14159265358979323846 / 4;
// The rider mount's anchor lies this far in front of the bike at rider height.
constexpr double RIDER_MOUNT_REACH = 50.0;
// Height step of the placement search, and the most steps it takes.
constexpr double PLACE_STEP = 0.25;
constexpr int32_t PLACE_MAX_STEPS = 4096;
// simulated at or below this: the bike gets no forces.
constexpr float SIMULATED_THRESHOLD = 0.25f;

// A wheel's deepest ground contact of the last tick (depth 0 = none).
struct WheelContact {
  double depth;
  Vec3 point;     // on the tyre surface
  Vec3 normal;    // from the ground towards the wheel
  Vec3 velocity;  // of the wheel body at the contact point
};
enum WheelIndex : int32_t { WHEEL_FRONT = 0, WHEEL_REAR = 1 };

// Stop-wheelies codes.
constexpr int32_t STOP_WHEELIES_CODE_NO = 0;
constexpr int32_t STOP_WHEELIES_CODE_FRONT = 2;
constexpr int32_t STOP_WHEELIES_CODE_YES = 3;

// The set-up of one bike: suspension, drivetrain, brakes and riding aids, as
// copied in from the settings (angles in radians, speeds in ft/s).
struct BikeSetup {
  // Fork and shock (damping coefficients, spring rates in lbf/ft, lengths in ft).
  double fork_hs_compression, fork_ls_compression, fork_hs_rebound, fork_ls_rebound;
  double fork_spring, fork_preload, fork_air_length;
  double shock_hs_compression, shock_ls_compression, shock_hs_rebound, shock_ls_rebound;
  double shock_spring, shock_preload;
  // Rider mount springs (0..1).
  double rider_yspring, rider_ydamping, rider_zspring, rider_zdamping;
  // Steering and stability aids.
  double leveling, roll_damping, roll_limit_angle, roll_limit_factor;
  double steering_damping, steering_strength, max_steering_force, direct_steering;
  double slow_damping_speed, slow_damping_factor;
  double land_damping_falloff, land_damping_factor;
  double full_lock_speed, restricted_lock_speed, restricted_lock;
  // Brakes, clutch, dab, sprockets.
  double brake_torque, rear_brake_torque;  // front and rear, 0..500
  double auto_clutch_rpms;                 // 0..5000
  double max_dab_speed;                    // ft/s, 7..100
  double front_sprocket_adjustment, rear_sprocket_adjustment;  // teeth, -2..2
  // Option flags.
  bool front_antilock, rear_antilock;
  bool auto_shift, auto_dab, auto_align, arcade;
  int32_t stop_wheelies;  // STOP_WHEELIES_CODE_*
};

struct Bike {
  BikeInfo info;  // copy of the catalogue entry

  // ---- bodies and joints
  dBodyID body[BIKE_BODY_COUNT];
  dJointID joint[BIKE_JOINT_COUNT];
  dJointFeedback feedback[BIKE_JOINT_COUNT];
  double rider_mass_share;  // d: share of rider_mass on RIDER (1/3 at creation)
  double total_mass;        // the seven body masses at creation

  // ---- wheel contacts (WHEEL_FRONT, WHEEL_REAR), rewritten every tick
  WheelContact wheel_contact[2];
  // Feedback of each wheel's ground contact joint of the last step (erosion).
  dJointFeedback wheel_feedback[2];

  // ---- controls
  float throttle;
  float clutch;  // engagement 0..1 (1 = fully engaged)
  float front_brake;
  float rear_brake;
  float steer;
  float dab;
  float dab_anim;
  float back_up;
  float lean;

  // ---- drivetrain
  int32_t gear;  // 0 is the first gear
  int32_t shift_request;
  float clutch_twist;
  float engine_speed;  // rad/s
  float engine_inertia;
  float final_ratio;

  // ---- set-up (suspension, rider springs, aids, brakes)
  BikeSetup setup;

  // ---- rider control run state
  float steer_assist;     // 0..1, for the lean indicator
  float land_damping;     // landing roll damping multiplier (>= 1)
  float blame;            // > 0 at fault after a bike hit, < 0 struck; steps towards 0
  bool dab_latch;         // sticky dab toggle
  float last_dab_input;   // SIT_DAB value of the previous tick

  // ---- run state
  int32_t crash_countdown;  // > 0: knocked out
  int32_t crash_count;
  int32_t crashed_flag;     // set when the bike stalls or a body part touches the ground
  float simulated;  // > SIMULATED_THRESHOLD: enabled and driven by forces
  WheelMarkRing wheel_marks;
  float rider_velocity_ring[4][3];  // the rider's last linear velocities, tick mod 4
  int32_t controller;               // controller slot given at creation
  int32_t takeoff_tick, landing_tick;
  int32_t last_bike_contact_tick;   // -1 = never
  int32_t first_bike_contact_tick;  // -1 = unset

  // ---- foot particles (world coordinates)
  float left_foot_pos[3], left_foot_vel[3];
  float right_foot_pos[3], right_foot_vel[3];

  // ---- timing
  BikeTiming timing;          // gate passages, finished flag
  int32_t lap_progress[4];    // lap-progress scratch, cleared by bike contacts

  // ---- assets
  Shape* shapes[BIKE_BODY_COUNT];                 // per-body shape copies, nullptr when missing
  const char* texture_names[BIKE_TEXTURE_COUNT];  // interned, by BikeTextureRole
  const char* model_names[BIKE_MODEL_COUNT];      // by BikeModelRole
  char number_text[RIDER_NUMBER_CHARS + 1];
  uint32_t number_plate_texture;  // 0 until drawn
};

// ---------------------------------------------------------------- creation

// A bike of catalogue entry `identifier` (unknown ones fall back as
// find_bike_info does) with its rider number and texture names (each may be
// nullptr: the entry's default is used). Bodies, joints, masses, feedback and
// the stock final drive are set and the bike is left in its reset pose,
// enabled. nullptr without a world or when memory runs out.
Bike* bike_create(const char* identifier, const char* number, const char* rider_texture,
                  const char* helmet_texture, const char* bike_texture, const char* wheel_texture,
                  int32_t controller);
// Destroys bodies and joints and frees the shapes and the record. nullptr is fine.
void bike_destroy(Bike* bike);

// Sets the share of rider_mass on the RIDER body (clamped to 0.33..0.5) and
// sets the FRAME and RIDER masses again; the total stays the same.
void bike_set_rider_mass_share(Bike* bike, double share);

// Zero the accumulators when coming from the disabled state, then enable
// (simulated = 1) or disable (simulated = 0) all seven bodies.
void bike_enable(Bike* bike);
void bike_disable(Bike* bike);

// The shape slot that belongs to each body in catalogue shape order
// (frame, fork upper, fork lower, swingarm, front wheel, rear wheel, rider).
BikeBody bike_shape_body(int32_t shape_index);

// ---------------------------------------------------------------- pose

// Catalogue positions, identity rotations, zero velocities, forces and
// torques; the rider on its mount again; the run state cleared; simulated = 1.
// Body centre of the reset pose, from the catalogue entry.
const float* bike_reset_position(const BikeInfo& info, int32_t body);
void bike_reset_pose(Bike* bike);
// Every body's rotation becomes the rotation about (x, y, z) by angle and its
// position is rotated about the world origin (meant for the reset pose).
void bike_rotate(Bike* bike, double x, double y, double z, double angle);
void bike_translate(Bike* bike, double dx, double dy, double dz);

// Rewrites a shape copy's elements in world space from its body's pose (the
// body-frame elements come from the shape cache). False when the body has no
// shape or the cached shape is gone.
bool bike_shape_update(Bike* bike, BikeBody body);
// Whether any wheel (as a torus) or the frame, steering, lower fork, swingarm
// or rider shape reaches into the ground. Creates no joints.
bool bike_touches_ground(Bike* bike, const HeightField* hf);

// Places the reset bike at (x, z) with the heading about y on the current
// track's ground: from the sample height at the grid point nearest below,
// raised in steps of PLACE_STEP until nothing touches.
void bike_place(Bike* bike, double x, double z, double heading);
// The same over a given height field. Returns the height offset used.
double bike_place_on(Bike* bike, const HeightField* hf, double x, double z, double heading);

// While knocked out the rider lies off the bike and the controls are held.
inline bool bike_knocked_out(const Bike* bike) { return bike->crash_countdown > 0; }
