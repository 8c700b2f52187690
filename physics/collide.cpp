// Contacts of a bike with the ground: each wheel as a torus against the
// height-field triangles, the frame, fork, swingarm and rider shapes as
// spheres, turned into one-step contact joints with the ground's friction and
// the tyre's softness; the wheels' rolling resistance; the wheel marks that
// feed ground erosion.
#include "physics/collide.h"
#include "physics/body_vectors.h"

#include <cmath>
#include <cstring>

#include "core/common.h"
#include "physics/bike.h"
#include "physics/crash.h"
#include "physics/rider_control.h"
#include "physics/shape.h"
#include "physics/step.h"
#include "physics/world.h"
#include "track/heightfield.h"
#include "track/tiles.h"
#include "track/track.h"

namespace {

// Arcade physics: a bike leaned over by 45 degrees or more grips with this
// much less of the ground's friction.
constexpr double ARCADE_GRIP_LOSS = 0.375;
constexpr double HALF_TURN = 3.14159265358979323846;


BikeBody wheel_body(int32_t wheel) { return wheel == WHEEL_FRONT ? FRONT_WHEEL : REAR_WHEEL; }

const WheelInfo& wheel_info(const Bike* bike, int32_t wheel) {
  return wheel == WHEEL_FRONT ? bike->info.front_wheel : bike->info.rear_wheel;
}

Vec3 wheel_axle(dBodyID body) {
  dVector3 out;
  dBodyVectorToWorld(body, 1, 0, 0, out);
  return to_vec(out);
}

void set_dvector(dVector3 out, Vec3 v) {
  out[0] = v.x;
  out[1] = v.y;
  out[2] = v.z;
  out[3] = 0;
}

// The wheel's deepest ground contact into its record (depth 0 without one).
bool wheel_ground_test(Bike* bike, int32_t wheel, bool with_fallback) {
  WheelContact* record = &bike->wheel_contact[wheel];
  const WheelInfo& info = wheel_info(bike, wheel);
  dBodyID body = bike->body[wheel_body(wheel)];
  ContactResult contact;
  Vec3 centre = to_vec(dBodyGetPosition(body));
  if (!hf_torus_contact(&track.hf, centre, wheel_axle(body), info.ring_radius, info.tyre_radius,
                        with_fallback, &contact)) {
    record->depth = 0;
    return false;
  }
  record->depth = contact.depth;
  record->point = contact.point;
  record->normal = contact.normal;
  record->velocity = point_velocity(body, contact.point);
  return true;
}

// Wheel against the ground: the contact record, one contact joint with the
// wheel's feedback record, and the rolling resistance.
bool wheel_ground_collide(Bike* bike, int32_t wheel) {
  memset(&bike->wheel_feedback[wheel], 0, sizeof bike->wheel_feedback[wheel]);
  if (!wheel_ground_test(bike, wheel, true)) return false;
  const WheelContact* record = &bike->wheel_contact[wheel];
  const WheelInfo& info = wheel_info(bike, wheel);
  dBodyID body = bike->body[wheel_body(wheel)];

  dContact contact;
  if (wheel_ground_dcontact(record, wheel_axle(body), info.tyre_radius,
                            wheel_ground_mu(bike, record), &contact) &&
      physics_world && contact_group) {
    dJointID joint = dJointCreateContact(physics_world, contact_group, &contact);
    dJointAttach(joint, body, nullptr);
    dJointSetFeedback(joint, &bike->wheel_feedback[wheel]);
  }

  double kp, kd;
  double k = wheel_ground_stiffness(record->depth, info.tyre_radius, &kp, &kd);
  int32_t tile = contact_tile_index(&track.hf, record->point.x, record->point.z);
  Vec3 force = rolling_resistance_force(to_vec(dBodyGetLinearVel(body)), record->normal, k, tile);
  dBodyAddForce(body, force.x, force.y, force.z);
  return true;
}

// One shape against the ground: a joint for each touching element. Whether
// any element touched.
bool shape_ground_collide(Bike* bike, BikeBody part) {
  if (!bike_shape_update(bike, part)) return false;
  const Shape* shape = bike->shapes[part];
  dBodyID body = bike->body[part];
  // Every element lies within the shape's bounding sphere about the body:
  // when that sphere is above every ground sample under it, nothing touches.
  const dReal* at = dBodyGetPosition(body);
  Vec3 origin = vec3(at[0], at[1], at[2]);
  double radius = shape->bounding_radius;
  if (origin.y - radius > hf_max_height(&track.hf, origin, radius)) return false;
  bool touched = false;
  for (int32_t e = 0; e < shape->count; e++) {
    ContactSphere sphere = contact_sphere_from_element(shape->elements[e]);
    ContactResult hit;
    if (!hf_sphere_contact(&track.hf, sphere.centre, sphere.radius, &hit)) continue;
    touched = true;
    dContact contact;
    if (!physics_world || !contact_group ||
        !soft_dcontact(hit.point, hit.normal, hit.depth, sphere.friction, SHAPE_GROUND_STIFFNESS,
                       SHAPE_GROUND_DAMPING, &contact))
      continue;
    dJointID joint = dJointCreateContact(physics_world, contact_group, &contact);
    dJointAttach(joint, body, nullptr);
  }
  if (!touched) return false;
  if (part != FRAME && bike->crashed_flag == 0) bike->crashed_flag = 1;
  if (part == RIDER && rider_ground_crash_due(bike)) rider_crash(bike);
  return true;
}

TileType default_tile() {
  TileType tile;
  tile_type_defaults(&tile, false);
  return tile;
}

}  // namespace

// ---------------------------------------------------------------- contact records and rules

bool soft_dcontact(Vec3 point, Vec3 normal, double depth, double mu, double kp, double kd,
                   dContact* out) {
  memset(out, 0, sizeof *out);
  double erp, cfm;
  if (!contact_softness(kp, kd, &erp, &cfm)) return false;
  out->surface.mode = CONTACT_JOINT_MODE;
  out->surface.mu = mu > 0 ? mu : 0;  // NaN too
  out->surface.soft_erp = erp;
  out->surface.soft_cfm = cfm;
  set_dvector(out->geom.pos, point);
  set_dvector(out->geom.normal, normal);
  out->geom.depth = depth;
  return true;
}

bool wheel_ground_dcontact(const WheelContact* contact, Vec3 axle, double tyre_radius, double mu,
                           dContact* out) {
  if (!contact || !(contact->depth > 0)) return false;
  double kp, kd;
  wheel_ground_stiffness(contact->depth, tyre_radius, &kp, &kd);
  if (!soft_dcontact(contact->point, contact->normal, contact->depth, mu, kp, kd, out))
    return false;
  Vec3 direction;
  if (wheel_friction_direction(contact->normal, contact->velocity, axle, &direction)) {
    out->surface.mode |= dContactFDir1;
    set_dvector(out->fdir1, direction);
  }
  return true;
}

double wheel_grip_factor(const Bike* bike) {
  if (!bike->setup.arcade || physics_state.no_arcade) return 1.0;
  double lean = fabs(lean_angle(bike));
  double share = 4 * lean / HALF_TURN;
  if (!(share < 1)) share = 1;  // NaN too
  return 1.0 - ARCADE_GRIP_LOSS * share;
}

double wheel_ground_mu(const Bike* bike, const WheelContact* contact) {
  int32_t tile = contact_tile_index(&track.hf, contact->point.x, contact->point.z);
  double s2 = vec3_length_sq(contact->velocity);
  return tile_friction(tile, (float)s2) * wheel_grip_factor(bike);
}

Vec3 rolling_resistance_force(Vec3 velocity, Vec3 normal, double k, int32_t tile) {
  Vec3 v = velocity - normal * vec3_dot(velocity, normal);
  double s = vec3_length(v);
  if (!std::isfinite(s)) return vec3(0, 0, 0);
  float low, high;
  tile_roll_resist(tile, (float)s, &low, &high);
  double resistance = low + (high - low) * k;
  if (s > 1) v = v * (1.0 / s);
  return v * -resistance;
}

bool rider_ground_crash_due(const Bike* bike) {
  if (bike_knocked_out(bike) || bike->blame < 0) return false;
  dBodyID rider = bike->body[RIDER];
  const dReal* r = dBodyGetRotation(rider);
  if (!(r[5] < 0)) return false;  // the y axis's y component: upside down
  Vec3 v = to_vec(dBodyGetLinearVel(rider));
  return vec3_length_sq(v) > GROUND_CRASH_SPEED * GROUND_CRASH_SPEED;
}

// ---------------------------------------------------------------- per tick

bool bike_ground_collide(Bike* bike) {
  if (!bike) return false;
  bool touched = wheel_ground_collide(bike, WHEEL_FRONT);
  touched = wheel_ground_collide(bike, WHEEL_REAR) || touched;
  const BikeBody shaped[] = {FRAME, STEERING, FORK_LOWER, SWINGARM, RIDER};
  for (BikeBody part : shaped) touched = shape_ground_collide(bike, part) || touched;
  return touched;
}

void bike_collide(Bike* bike) {
  if (!bike) return;
  bike_ground_collide(bike);
  bike_objects_collide(bike);
}

bool wheel_ground_probe(Bike* bike, int32_t wheel) {
  if (!bike || (wheel != WHEEL_FRONT && wheel != WHEEL_REAR)) return false;
  return wheel_ground_test(bike, wheel, false);
}

void record_wheel_mark(Bike* bike, int32_t wheel) {
  if (!bike || (wheel != WHEEL_FRONT && wheel != WHEEL_REAR)) return;
  const WheelContact& contact = bike->wheel_contact[wheel];
  if (!(contact.depth > 0)) return;
  int32_t index = contact_tile_index(&track.hf, contact.point.x, contact.point.z);
  static const TileType fallback = default_tile();
  const TileType* tile = index >= 0 && index < track.hf.tile_count && index < TERRAIN_MAX_TILES
                             ? &track.hf.tiles[index]
                             : &fallback;
  double speed = vec3_length(to_vec(dBodyGetLinearVel(bike->body[wheel_body(wheel)])));
  const dJointFeedback& feedback = bike->wheel_feedback[wheel];
  wheel_mark_record(&bike->wheel_marks, tile, contact.point.x, contact.point.z, speed,
                    feedback.f1[0], feedback.f1[2]);
}
