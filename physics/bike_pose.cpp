// The bike's pose: back to the reset pose, turned and moved as a whole, and
// placed on the ground so that nothing touches it.
#include <cmath>
#include <cstring>

#include "physics/bike.h"
#include "physics/body_vectors.h"
#include "physics/shape.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace {


void reset_body(dBodyID body, const float* position, const dMatrix3 identity) {
  dBodySetPosition(body, position[0], position[1], position[2]);
  dBodySetRotation(body, identity);
  dBodySetLinearVel(body, 0, 0, 0);
  dBodySetAngularVel(body, 0, 0, 0);
  dBodySetForce(body, 0, 0, 0);
  dBodySetTorque(body, 0, 0, 0);
}


// Body-frame vector v turned into the world by the body's rotation.
Vec3 body_vector(dBodyID body, double x, double y, double z) {
  dVector3 out;
  dBodyVectorToWorld(body, x, y, z, out);
  return vec3(out[0], out[1], out[2]);
}

bool wheel_touches(const Bike* bike, BikeBody body, const WheelInfo& wheel, const HeightField* hf) {
  ContactResult contact;
  Vec3 centre = body_position(bike->body[body]);
  Vec3 axle = body_vector(bike->body[body], 1, 0, 0);
  return hf_torus_contact(hf, centre, axle, wheel.ring_radius, wheel.tyre_radius, true, &contact);
}

bool shape_touches(Bike* bike, BikeBody body, const HeightField* hf) {
  if (!bike_shape_update(bike, body)) return false;
  const Shape* shape = bike->shapes[body];
  for (int32_t e = 0; e < shape->count; e++) {
    ContactSphere sphere = contact_sphere_from_element(shape->elements[e]);
    ContactResult contact;
    if (hf_sphere_contact(hf, sphere.centre, sphere.radius, &contact)) return true;
  }
  return false;
}

// Sample height at the grid point nearest below (x, z), indices clamped.
double sample_height_below(const HeightField* hf, double x, double z) {
  if (!hf || !hf->heights || hf->grid_size <= 0 || !(hf->spacing > 0)) return 0;
  int32_t last = hf->grid_size - 1;
  auto index = [&](double v) {
    double i = floor(v / hf->spacing);
    if (!(i >= 0)) return 0;  // also NaN
    if (i > last) return last;
    return (int32_t)i;
  };
  int32_t column = index(x);
  int32_t row = index(z);
  return hf->heights[(size_t)row * hf->grid_size + column];
}

}  // namespace

void bike_reset_pose(Bike* bike) {
  if (!bike) return;
  const BikeInfo& info = bike->info;
  dMatrix3 identity;
  dRFromAxisAndAngle(identity, 0, 1, 0, 0);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++)
    reset_body(bike->body[b], bike_reset_position(info, b), identity);

  // The rider sits at rider_pos relative to the frame, turned with it.
  dBodyID frame = bike->body[FRAME];
  dBodyID rider = bike->body[RIDER];
  dVector3 offset;
  dBodyVectorToWorld(frame, (double)info.rider_pos[0] - info.frame_pos[0],
                     (double)info.rider_pos[1] - info.frame_pos[1],
                     (double)info.rider_pos[2] - info.frame_pos[2], offset);
  const dReal* frame_pos = dBodyGetPosition(frame);
  dBodySetPosition(rider, frame_pos[0] + offset[0], frame_pos[1] + offset[1],
                   frame_pos[2] + offset[2]);
  dBodySetRotation(rider, dBodyGetRotation(frame));
  dJointAttach(bike->joint[RIDER_MOUNT], rider, frame);

  bike->throttle = 0;
  bike->clutch = 0;
  bike->front_brake = 0;
  bike->rear_brake = 0;
  bike->steer = 0;
  bike->dab = 0;
  bike->dab_anim = 0;
  bike->back_up = 0;
  bike->lean = 0;
  bike->gear = 0;
  bike->shift_request = 0;
  bike->clutch_twist = 0;
  bike->engine_speed = 0;
  bike->crash_countdown = 0;
  bike->crash_count = 0;
  wheel_marks_clear(&bike->wheel_marks);
  memset(bike->wheel_marks.marks, 0, sizeof bike->wheel_marks.marks);
  memset(bike->feedback, 0, sizeof bike->feedback);
  memset(bike->rider_velocity_ring, 0, sizeof bike->rider_velocity_ring);
  memset(bike->wheel_contact, 0, sizeof bike->wheel_contact);
  bike->steer_assist = 0;
  bike->land_damping = 1;
  bike->blame = 0;
  bike->dab_latch = false;
  bike->last_dab_input = 0;
  bike->crashed_flag = 0;
  bike->takeoff_tick = 0;
  bike->landing_tick = 0;
  bike->last_bike_contact_tick = -1;
  bike->first_bike_contact_tick = -1;
  memset(bike->lap_progress, 0, sizeof bike->lap_progress);
  // The feet stand on the pegs until the first tick moves them.
  for (int32_t i = 0; i < 3; i++) {
    bike->left_foot_pos[i] = (float)dBodyGetPosition(frame)[i];
    bike->right_foot_pos[i] = (float)dBodyGetPosition(frame)[i];
    bike->left_foot_vel[i] = 0;
    bike->right_foot_vel[i] = 0;
  }
  bike->simulated = 1;
}

void bike_rotate(Bike* bike, double x, double y, double z, double angle) {
  if (!bike) return;
  dMatrix3 r;
  dRFromAxisAndAngle(r, x, y, z, angle);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    dBodyID body = bike->body[b];
    const dReal* p = dBodyGetPosition(body);
    dVector3 old_pos = {p[0], p[1], p[2], 0};
    dVector3 new_pos;
    dMultiply0_331(new_pos, r, old_pos);
    dBodySetRotation(body, r);
    dBodySetPosition(body, new_pos[0], new_pos[1], new_pos[2]);
  }
}

void bike_translate(Bike* bike, double dx, double dy, double dz) {
  if (!bike) return;
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    const dReal* p = dBodyGetPosition(bike->body[b]);
    dBodySetPosition(bike->body[b], p[0] + dx, p[1] + dy, p[2] + dz);
  }
}

bool bike_shape_update(Bike* bike, BikeBody body) {
  if (!bike || body < 0 || body >= BIKE_BODY_COUNT) return false;
  Shape* instance = bike->shapes[body];
  if (!instance || !instance->name) return false;
  const Shape* cached = shape_load(instance->name);
  if (!cached || cached->count != instance->count) return false;
  dBodyID b = bike->body[body];
  for (int32_t e = 0; e < cached->count; e++) {
    const float* local = cached->elements[e];
    dVector3 world;
    dBodyGetRelPointPos(b, local[SHAPE_X], local[SHAPE_Y], local[SHAPE_Z], world);
    float* out = instance->elements[e];
    memcpy(out, local, sizeof(float) * SHAPE_ELEMENT_FLOATS);
    out[SHAPE_X] = (float)world[0];
    out[SHAPE_Y] = (float)world[1];
    out[SHAPE_Z] = (float)world[2];
  }
  return true;
}

bool bike_touches_ground(Bike* bike, const HeightField* hf) {
  if (!bike || !hf) return false;
  bool touched = wheel_touches(bike, FRONT_WHEEL, bike->info.front_wheel, hf);
  touched = wheel_touches(bike, REAR_WHEEL, bike->info.rear_wheel, hf) || touched;
  const BikeBody shaped[] = {FRAME, STEERING, FORK_LOWER, SWINGARM, RIDER};
  for (BikeBody body : shaped) touched = shape_touches(bike, body, hf) || touched;
  return touched;
}

double bike_place_on(Bike* bike, const HeightField* hf, double x, double z, double heading) {
  if (!bike) return 0;
  if (!std::isfinite(x)) x = 0;
  if (!std::isfinite(z)) z = 0;
  if (!std::isfinite(heading)) heading = 0;
  double y = sample_height_below(hf, x, z);
  for (int32_t step = 0;; step++) {
    bike_reset_pose(bike);
    bike_rotate(bike, 0, 1, 0, heading);
    bike_translate(bike, x, y, z);
    // A bike that still touches after this many steps stays where it is
    // rather than searching forever.
    if (step >= PLACE_MAX_STEPS || !bike_touches_ground(bike, hf)) break;
    y += PLACE_STEP;
  }
  return y;
}

void bike_place(Bike* bike, double x, double z, double heading) {
  bike_place_on(bike, &track.hf, x, z, heading);
}
