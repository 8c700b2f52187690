// Contacts between two bikes and between a bike and a track object: the
// shapes of one side as spheres against the other side's wheels (tori) and
// shapes, as contact joints, as penalty forces when the bikes already touched
// something this tick, or only detected; then who is to blame.
#include <cmath>
#include <cstring>

#include "physics/bike.h"
#include "physics/body_vectors.h"
#include "physics/collide.h"
#include "physics/crash.h"
#include "physics/shape.h"
#include "physics/step.h"
#include "physics/world.h"
#include "track/objects.h"
#include "track/timing.h"
#include "track/track.h"

namespace {

enum ContactMode : int32_t { MODE_JOINT, MODE_PENALTY, MODE_DETECT };

// Speed (ft/s, squared) from which a bike counts as moving for blame, and the
// least squared speed of the bike that is hit.
constexpr double BLAME_SPEED_SQ = 10.0 * 10.0;
constexpr double STRUCK_SPEED_SQ = 25.0;

const BikeBody SHAPE_ORDER[] = {FRONT_WHEEL, REAR_WHEEL, FRAME, STEERING,
                                FORK_LOWER,  SWINGARM,   RIDER};
const BikeBody TARGET_WHEELS[] = {FRONT_WHEEL, REAR_WHEEL};
const BikeBody TARGET_SHAPES[] = {FRAME, STEERING, FORK_LOWER, SWINGARM, RIDER};
constexpr int32_t FRONT_PARTS = PART_FRONT_WHEEL | PART_FORK_LOWER;
// Online: these parts of the local bike meeting those of a remote bike are only detected.
constexpr int32_t ONLINE_PASSIVE_PARTS = PART_REAR_WHEEL | PART_FRAME | PART_SWINGARM | PART_RIDER;
constexpr int32_t ONLINE_REMOTE_FRONT = PART_FRONT_WHEEL | PART_STEERING | PART_FORK_LOWER;

int32_t part_bit(BikeBody body) { return 1 << body; }



double frame_speed_sq(const Bike* bike) {
  return vec3_length_sq(to_vec(dBodyGetLinearVel(bike->body[FRAME])));
}

const WheelInfo& wheel_info(const Bike* bike, BikeBody wheel) {
  return wheel == FRONT_WHEEL ? bike->info.front_wheel : bike->info.rear_wheel;
}

// The striking side of a test: a shape whose elements are either already in
// world space (a bike's instance) or in an object's own coordinates.
struct Striker {
  const Shape* shape;
  dBodyID body;   // may be nullptr (static object)
  int32_t part;   // PART_* bit of the striking bike's part, 0 for an object
  bool local;     // elements in the object's coordinates
  Vec3 position;  // bounding-sphere centre (body or object position)
  double rotation[3][3];
};

// A track object's shape (elements in its own coordinates) at a position
// with a rotation; body nullptr for a static object.
Striker object_striker(const Shape* shape, const float position[3], const float rotation[3][3],
                       dBodyID body) {
  Striker s{};
  s.shape = shape;
  s.body = body;
  s.part = 0;
  s.local = true;
  s.position = vec3(position[0], position[1], position[2]);
  for (int32_t r = 0; r < 3; r++)
    for (int32_t c = 0; c < 3; c++) s.rotation[r][c] = rotation[r][c];
  return s;
}

ContactSphere striker_sphere(const Striker& s, int32_t k) {
  ContactSphere sphere = contact_sphere_from_element(s.shape->elements[k]);
  if (s.local) {
    Vec3 c = sphere.centre;
    const double(*r)[3] = s.rotation;
    sphere.centre = s.position + vec3(r[0][0] * c.x + r[0][1] * c.y + r[0][2] * c.z,
                                      r[1][0] * c.x + r[1][1] * c.y + r[1][2] * c.z,
                                      r[2][0] * c.x + r[2][1] * c.y + r[2][2] * c.z);
  }
  return sphere;
}

// One contact between the striker (A) and the struck body (B).
void apply_contact(ContactMode mode, dBodyID struck, dBodyID striker, const ContactResult& hit,
                   const ContactParams& params) {
  if (mode == MODE_DETECT) return;
  if (mode == MODE_JOINT) {
    dContact contact;
    if (!physics_world || !contact_group ||
        !soft_dcontact(hit.point, hit.normal, hit.depth, params.mu, params.kp, params.kd, &contact))
      return;
    dJointID joint = dJointCreateContact(physics_world, contact_group, &contact);
    dJointAttach(joint, struck, striker);
    return;
  }
  Vec3 relative = point_velocity(striker, hit.point) - point_velocity(struck, hit.point);
  double force = vec3_dot(relative, hit.normal) * params.kd + hit.depth * params.kp;
  if (!(force > -PAIR_PENALTY_FORCE_LIMIT)) force = -PAIR_PENALTY_FORCE_LIMIT;  // NaN too
  if (force > PAIR_PENALTY_FORCE_LIMIT) force = PAIR_PENALTY_FORCE_LIMIT;
  Vec3 f = hit.normal * force;
  if (struck && dBodyIsEnabled(struck))
    dBodyAddForceAtPos(struck, f.x, f.y, f.z, hit.point.x, hit.point.y, hit.point.z);
  if (striker && dBodyIsEnabled(striker))
    dBodyAddForceAtPos(striker, -f.x, -f.y, -f.z, hit.point.x, hit.point.y, hit.point.z);
}

// How the striker's part meeting the target's part is handled.
ContactMode mode_for(ContactMode base, bool online, int32_t striker_part, int32_t target_part) {
  if (online && (striker_part & ONLINE_PASSIVE_PARTS) && (target_part & ONLINE_REMOTE_FRONT))
    return MODE_DETECT;
  return base;
}

// The striker against the target bike's two wheels (as tori) and its five
// body shapes (sphere pairs); shape_ok[body] tells which target shapes are
// in world space this tick. Returns the bits of the target's parts hit.
int32_t strike_bike(const Striker& s, Bike* target, const bool shape_ok[BIKE_BODY_COUNT],
                    ContactMode base, bool online) {
  int32_t hits = 0;
  double reach = s.shape->bounding_radius;
  for (BikeBody wheel : TARGET_WHEELS) {
    dBodyID body = target->body[wheel];
    const WheelInfo& info = wheel_info(target, wheel);
    Vec3 centre = body_position(body);
    if (!bounding_spheres_meet(s.position, reach, centre, info.ring_radius + info.tyre_radius))
      continue;
    dVector3 axle_out;
    dBodyVectorToWorld(body, 1, 0, 0, axle_out);
    Vec3 axle = to_vec(axle_out);
    ContactResult deepest{};
    ContactParams deepest_params{};
    bool found = false;
    for (int32_t k = 0; k < s.shape->count; k++) {
      ContactResult hit;
      ContactParams params;
      if (!wheel_sphere_contact(striker_sphere(s, k), centre, axle, info.ring_radius,
                                info.tyre_radius, &hit, &params))
        continue;
      if (found && !(hit.depth > deepest.depth)) continue;
      found = true;
      deepest = hit;
      deepest_params = params;
    }
    if (!found) continue;
    hits |= part_bit(wheel);
    ContactMode mode = mode_for(base, online, s.part, part_bit(wheel));
    apply_contact(mode, body, s.body, deepest, deepest_params);
    if (mode == MODE_DETECT) continue;
    // A wheel resting on another bike or an object counts as touching.
    WheelContact* record = &target->wheel_contact[wheel == FRONT_WHEEL ? WHEEL_FRONT : WHEEL_REAR];
    if (!(record->depth > 0)) {
      record->depth = deepest.depth;
      record->point = deepest.point;
      record->normal = deepest.normal;
      record->velocity = point_velocity(body, deepest.point);
    }
  }
  for (BikeBody part : TARGET_SHAPES) {
    if (!shape_ok[part]) continue;
    const Shape* shape = target->shapes[part];
    dBodyID body = target->body[part];
    if (!bounding_spheres_meet(s.position, reach, body_position(body), shape->bounding_radius))
      continue;
    ContactMode mode = mode_for(base, online, s.part, part_bit(part));
    for (int32_t k = 0; k < s.shape->count; k++) {
      ContactSphere a = striker_sphere(s, k);
      for (int32_t e = 0; e < shape->count; e++) {
        ContactSphere b = contact_sphere_from_element(shape->elements[e]);
        ContactResult hit;
        ContactParams params;
        if (!sphere_pair(a, b, &hit, &params)) continue;
        hits |= part_bit(part);
        apply_contact(mode, body, s.body, hit, params);
      }
    }
  }
  return hits;
}

// Puts every shape of the bike into world space; ok[body] tells which exist.
void update_shapes(Bike* bike, bool ok[BIKE_BODY_COUNT]) {
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) ok[b] = bike_shape_update(bike, (BikeBody)b);
}

// Bounding sphere of the whole bike about its frame: every body's reach from
// there (a knocked-out rider may lie away from the bike).
double bike_reach_of(const Bike* bike) {
  Vec3 centre = body_position(bike->body[FRAME]);
  double reach = 0;
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    double r = bike->shapes[b] ? bike->shapes[b]->bounding_radius : 0.0;
    if (b == FRONT_WHEEL || b == REAR_WHEEL) {
      const WheelInfo& info = wheel_info(bike, (BikeBody)b);
      double torus = (double)info.ring_radius + info.tyre_radius;
      if (torus > r) r = torus;
    }
    double d = vec3_length(body_position(bike->body[b]) - centre) + r;
    if (d > reach) reach = d;
  }
  return reach;
}

}  // namespace

double bike_collision_reach(const Bike* bike) { return bike ? bike_reach_of(bike) : 0; }

namespace {

void note_bike_contact(Bike* bike) {
  int32_t tick = physics_state.tick;
  bike->last_bike_contact_tick = tick;
  memset(bike->lap_progress, 0, sizeof bike->lap_progress);
  if (bike->first_bike_contact_tick == -1) bike->first_bike_contact_tick = tick;
}

void raise_blame(Bike* bike, float value) {
  if (bike->blame < value) bike->blame = value;
}

void protect(Bike* bike) {
  if (bike->blame > BLAME_STRUCK) bike->blame = BLAME_STRUCK;
}

}  // namespace

void bike_pair_blame(Bike* a, Bike* b, int32_t front_bits, int32_t hit_bits) {
  // Truncating the squared speed to a whole number does not change a test
  // against a whole number, so the squares are compared as they are.
  double a_sq = frame_speed_sq(a), b_sq = frame_speed_sq(b);
  bool a_moving = a_sq >= BLAME_SPEED_SQ, b_moving = b_sq >= BLAME_SPEED_SQ;
  if (front_bits & hit_bits) {
    // Front against front: both at fault.
    if (a_moving) raise_blame(a, BLAME_FRONT_TO_FRONT);
    if (b_moving) raise_blame(b, BLAME_FRONT_TO_FRONT);
  } else if (front_bits == 0) {
    // B's front ran into A.
    if ((hit_bits & FRONT_PARTS) && !bike_knocked_out(a) && a_sq >= STRUCK_SPEED_SQ && b_moving) {
      raise_blame(b, BLAME_AT_FAULT);
      protect(a);
    }
  } else {
    // A's front ran into the side or back of B.
    if (!bike_knocked_out(b) && b_sq >= STRUCK_SPEED_SQ && a_moving) {
      raise_blame(a, BLAME_AT_FAULT);
      protect(b);
    }
  }
}

int32_t bike_pair_collide(Bike* a, Bike* b, bool online) {
  if (!a || !b || a == b) return 0;
  if (!bounding_spheres_meet(body_position(a->body[FRAME]), bike_reach_of(a),
                             body_position(b->body[FRAME]), bike_reach_of(b)))
    return 0;
  int32_t tick = physics_state.tick;
  ContactMode base = (a->last_bike_contact_tick == tick || b->last_bike_contact_tick == tick)
                         ? MODE_PENALTY
                         : MODE_JOINT;
  bool a_ok[BIKE_BODY_COUNT], b_ok[BIKE_BODY_COUNT];
  update_shapes(a, a_ok);
  update_shapes(b, b_ok);

  int32_t hits = 0, front_bits = 0;
  for (BikeBody part : SHAPE_ORDER) {
    if (!a_ok[part]) continue;
    Striker s{};
    s.shape = a->shapes[part];
    s.body = a->body[part];
    s.part = part_bit(part);
    s.position = body_position(s.body);
    int32_t hit = strike_bike(s, b, b_ok, base, online);
    if (hit && (s.part & FRONT_PARTS)) front_bits |= s.part;
    hits |= hit;
  }
  if (!hits) return 0;
  bike_pair_blame(a, b, front_bits, hits);
  note_bike_contact(a);
  note_bike_contact(b);
  return hits;
}

int32_t bike_object_collide(Bike* bike, const Shape* object_shape, const float position[3],
                            const float rotation[3][3], dBodyID object_body) {
  if (!bike || !object_shape || !object_shape->elements || object_shape->count <= 0 || !position ||
      !rotation)
    return 0;
  Striker s = object_striker(object_shape, position, rotation, object_body);
  if (!bounding_spheres_meet(s.position, object_shape->bounding_radius,
                             body_position(bike->body[FRAME]), bike_reach_of(bike)))
    return 0;
  bool ok[BIKE_BODY_COUNT];
  update_shapes(bike, ok);
  int32_t hits = strike_bike(s, bike, ok, MODE_JOINT, false);

  if ((hits & PART_RIDER) && !bike_knocked_out(bike) && bike->blame >= 0) {
    dBodyID rider = bike->body[RIDER];
    Vec3 rider_pos = body_position(rider);
    Vec3 relative = to_vec(dBodyGetLinearVel(rider)) - point_velocity(object_body, rider_pos);
    if (vec3_length_sq(relative) > OBJECT_CRASH_SPEED * OBJECT_CRASH_SPEED) rider_crash(bike);
  }
  return hits;
}

namespace {
// Whether statue `index` is the plate of a starting gate.
bool starting_gate_statue(int32_t index) {
  int32_t count = track.timing.starting_gate_count;
  if (count > TIMING_MAX_STARTING_GATES) count = TIMING_MAX_STARTING_GATES;
  for (int32_t g = 0; g < count; g++)
    if (track.timing.starting_gates[g].statue == index) return true;
  return false;
}
}  // namespace

void bike_objects_collide(Bike* bike) {
  if (!bike) return;
  Vec3 at = body_position(bike->body[FRAME]);
  GrowArray<int32_t> near;
  statues_near((float)at.x, (float)at.z, &near);
  // The starting gates hold bikes back only around the start.
  bool gates_solid = starting_gates_solid(physics_state.tick, physics_state.race_start_tick);
  for (int32_t k = 0; k < near.count; k++) {
    Statue* statue = grow_at(track.objects.statues, near.data[k]);
    if (!statue || !statue->shape) continue;
    if (!gates_solid && starting_gate_statue(near.data[k])) continue;
    const float position[3] = {statue->x, statue->y, statue->z};
    if (bike_object_collide(bike, statue->shape, position, statue->orientation, nullptr))
      statue->last_hit_tick = physics_state.tick;
  }
  grow_free(near);
}

void bike_starting_gates_touch(Bike* bike) {
  if (!bike) return;
  int32_t count = track.timing.starting_gate_count;
  if (count > TIMING_MAX_STARTING_GATES) count = TIMING_MAX_STARTING_GATES;
  bool ok[BIKE_BODY_COUNT];
  bool shapes_ready = false;
  for (int32_t g = 0; g < count; g++) {
    Statue* statue = grow_at(track.objects.statues, track.timing.starting_gates[g].statue);
    if (!statue || !statue->shape || !statue->shape->elements || statue->shape->count <= 0) continue;
    const float position[3] = {statue->x, statue->y, statue->z};
    Striker s = object_striker(statue->shape, position, statue->orientation, nullptr);
    if (!bounding_spheres_meet(s.position, statue->shape->bounding_radius,
                               body_position(bike->body[FRAME]), bike_reach_of(bike)))
      continue;
    if (!shapes_ready) {
      update_shapes(bike, ok);
      shapes_ready = true;
    }
    if (strike_bike(s, bike, ok, MODE_DETECT, false)) statue->last_hit_tick = physics_state.tick;
  }
}
