// Bike creation and destruction: bodies with their mass models, the six
// permanent joints, the assets kept by name, and enabling / disabling.
#include <cmath>
#include <cstring>

#include "core/mem.h"
#include "physics/bike.h"
#include "physics/drivetrain.h"
#include "physics/rider_control.h"
#include "physics/shape.h"
#include "physics/world.h"
#include "platform/log.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr int32_t WHEEL_RING_SPHERES = 16;

// Shape slots in catalogue order belong to these bodies.
constexpr BikeBody SHAPE_BODIES[BIKE_SHAPE_COUNT] = {FRAME,       STEERING,   FORK_LOWER, SWINGARM,
                                                     FRONT_WHEEL, REAR_WHEEL, RIDER};


// A hub sphere plus a ring of 16 spheres in the wheel's y-z plane.
void wheel_mass(const WheelInfo& wheel, dMass* out) {
  dMassSetSphereTotal(out, wheel.hub_mass, wheel.hub_radius);
  for (int32_t k = 0; k < WHEEL_RING_SPHERES; k++) {
    dMass ring;
    dMassSetSphereTotal(&ring, wheel.ring_mass / WHEEL_RING_SPHERES, wheel.tyre_radius);
    dMassTranslate(&ring, 0, wheel.ring_radius, 0);
    dMatrix3 r;
    dRFromAxisAndAngle(r, 1, 0, 0, k * (PI / 8));
    dMassRotate(&ring, r);
    dMassAdd(out, &ring);
  }
}

// Two legs along the steering axis, fork_mass in all.
void fork_mass(const BikeInfo& info, dMass* out) {
  double spacing = info.fork_leg_spacing;
  dMass leg;
  dMassSetCylinderTotal(out, info.fork_mass / 2, 2, spacing / 8, info.fork_leg_length * 2 / 3);
  dMassTranslate(out, spacing / 2, 0, 0);
  dMassSetCylinderTotal(&leg, info.fork_mass / 2, 2, spacing / 8, info.fork_leg_length * 2 / 3);
  dMassTranslate(&leg, -spacing / 2, 0, 0);
  dMassAdd(out, &leg);
  double dy = (double)info.steering_pos[1] - info.fork_lower_pos[1];
  double dz = (double)info.steering_pos[2] - info.fork_lower_pos[2];
  dMatrix3 r;
  dRFromAxisAndAngle(r, 1, 0, 0, dy != 0 ? atan(dz / dy) : 0);
  dMassRotate(out, r);
}

// Two boxes from the pivot to the rear axle, swingarm_mass each.
void swingarm_mass(const BikeInfo& info, dMass* out) {
  double dx = (double)info.rear_wheel.pos[0] - info.swingarm_pivot[0];
  double dy = (double)info.rear_wheel.pos[1] - info.swingarm_pivot[1];
  double dz = (double)info.rear_wheel.pos[2] - info.swingarm_pivot[2];
  double length = sqrt(dx * dx + dy * dy + dz * dz);
  double w = info.frame_box[0] / 4.0;
  dMass side;
  dMassSetBoxTotal(out, info.swingarm_mass, w, w, length);
  dMassTranslate(out, info.frame_box[0] / 2.0, 0, 0);
  dMassSetBoxTotal(&side, info.swingarm_mass, w, w, length);
  dMassTranslate(&side, -info.frame_box[0] / 2.0, 0, 0);
  dMassAdd(out, &side);
  dMatrix3 r;
  dRFromAxisAndAngle(r, 1, 0, 0, dz != 0 ? -atan(dy / dz) : 0);
  dMassRotate(out, r);
}

void set_frame_and_rider_mass(Bike* bike) {
  const BikeInfo& info = bike->info;
  double d = bike->rider_mass_share;
  dMass m;
  dMassSetBoxTotal(&m, info.frame_mass + (1 - d) * info.rider_mass, info.frame_box[0],
                   info.frame_box[1], info.frame_box[2]);
  dBodySetMass(bike->body[FRAME], &m);
  dMassSetSphereTotal(&m, d * info.rider_mass, 1.0);
  dBodySetMass(bike->body[RIDER], &m);
}

void create_bodies(Bike* bike) {
  dMatrix3 identity;
  dRFromAxisAndAngle(identity, 0, 1, 0, 0);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) bike->body[b] = dBodyCreate(physics_world);
  dBodySetFiniteRotationMode(bike->body[FRONT_WHEEL], 1);
  dBodySetFiniteRotationMode(bike->body[REAR_WHEEL], 1);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    const float* p = bike_reset_position(bike->info, b);
    dBodySetPosition(bike->body[b], p[0], p[1], p[2]);
    dBodySetRotation(bike->body[b], identity);
  }
  const BikeInfo& info = bike->info;
  set_frame_and_rider_mass(bike);
  dMass m;
  wheel_mass(info.front_wheel, &m);
  dBodySetMass(bike->body[FRONT_WHEEL], &m);
  wheel_mass(info.rear_wheel, &m);
  dBodySetMass(bike->body[REAR_WHEEL], &m);
  fork_mass(info, &m);
  dBodySetMass(bike->body[STEERING], &m);
  dBodySetMass(bike->body[FORK_LOWER], &m);
  swingarm_mass(info, &m);
  dBodySetMass(bike->body[SWINGARM], &m);
}

void create_joints(Bike* bike) {
  const BikeInfo& info = bike->info;
  dBodyID* body = bike->body;
  dJointID* joint = bike->joint;
  double axis_x = (double)info.steering_pos[0] - info.fork_lower_pos[0];
  double axis_y = (double)info.steering_pos[1] - info.fork_lower_pos[1];
  double axis_z = (double)info.steering_pos[2] - info.fork_lower_pos[2];

  joint[FRONT_AXLE] = dJointCreateHinge(physics_world, nullptr);
  dJointAttach(joint[FRONT_AXLE], body[FORK_LOWER], body[FRONT_WHEEL]);
  const float* front = info.front_wheel.pos;
  dJointSetHingeAnchor(joint[FRONT_AXLE], front[0], front[1], front[2]);
  dJointSetHingeAxis(joint[FRONT_AXLE], 1, 0, 0);

  joint[REAR_AXLE] = dJointCreateHinge(physics_world, nullptr);
  dJointAttach(joint[REAR_AXLE], body[SWINGARM], body[REAR_WHEEL]);
  const float* rear = info.rear_wheel.pos;
  dJointSetHingeAnchor(joint[REAR_AXLE], rear[0], rear[1], rear[2]);
  dJointSetHingeAxis(joint[REAR_AXLE], 1, 0, 0);

  joint[STEERING_HEAD] = dJointCreateHinge(physics_world, nullptr);
  dJointAttach(joint[STEERING_HEAD], body[STEERING], body[FRAME]);
  const float* head = info.steering_pos;
  dJointSetHingeAnchor(joint[STEERING_HEAD], head[0], head[1], head[2]);
  dJointSetHingeAxis(joint[STEERING_HEAD], axis_x, axis_y, axis_z);
  dJointSetHingeParam(joint[STEERING_HEAD], dParamLoStop, -STEERING_LOCK);
  dJointSetHingeParam(joint[STEERING_HEAD], dParamHiStop, STEERING_LOCK);

  joint[FORK_SLIDER] = dJointCreateSlider(physics_world, nullptr);
  dJointAttach(joint[FORK_SLIDER], body[STEERING], body[FORK_LOWER]);
  dJointSetSliderAxis(joint[FORK_SLIDER], axis_x, axis_y, axis_z);
  dJointSetSliderParam(joint[FORK_SLIDER], dParamBounce, 0);
  dJointSetSliderParam(joint[FORK_SLIDER], dParamLoStop, -info.fork_travel);
  dJointSetSliderParam(joint[FORK_SLIDER], dParamHiStop, 0);

  joint[SWINGARM_PIVOT] = dJointCreateHinge(physics_world, nullptr);
  dJointAttach(joint[SWINGARM_PIVOT], body[SWINGARM], body[FRAME]);
  const float* pivot = info.swingarm_pivot;
  dJointSetHingeAnchor(joint[SWINGARM_PIVOT], pivot[0], pivot[1], pivot[2]);
  dJointSetHingeParam(joint[SWINGARM_PIVOT], dParamBounce, 0);
  dJointSetHingeAxis(joint[SWINGARM_PIVOT], 1, 0, 0);
  dJointSetHingeParam(joint[SWINGARM_PIVOT], dParamLoStop, -info.swingarm_max_angle);
  dJointSetHingeParam(joint[SWINGARM_PIVOT], dParamHiStop, 0);

  joint[RIDER_MOUNT] = dJointCreateHinge2(physics_world, nullptr);
  dJointAttach(joint[RIDER_MOUNT], body[RIDER], body[FRAME]);
  dJointSetHinge2Anchor(joint[RIDER_MOUNT], 0, info.rider_pos[1], -RIDER_MOUNT_REACH);
  const dReal axis1[3] = {0, 1, 1};
  const dReal axis2[3] = {1, 0, 0};
  dJointSetHinge2Axes(joint[RIDER_MOUNT], axis1, nullptr);
  dJointSetHinge2Axes(joint[RIDER_MOUNT], nullptr, axis2);
  dJointSetHinge2Param(joint[RIDER_MOUNT], dParamLoStop, 0);
  dJointSetHinge2Param(joint[RIDER_MOUNT], dParamHiStop, 0);

  for (int32_t j = 0; j < BIKE_JOINT_COUNT; j++) dJointSetFeedback(joint[j], &bike->feedback[j]);
}

const char* texture_or_default(const char* name, const char* fallback) {
  return intern_string(name && name[0] ? name : fallback);
}

void keep_assets(Bike* bike, const char* number, const char* const textures[BIKE_TEXTURE_COUNT]) {
  const BikeInfo* info = &bike->info;
  for (int32_t s = 0; s < BIKE_SHAPE_COUNT; s++) {
    const char* name = bike_shape_name(info, s);
    bike->shapes[SHAPE_BODIES[s]] = name ? shape_instance(name) : nullptr;
  }
  bike->texture_names[TEXTURE_RIDER] =
      texture_or_default(textures[TEXTURE_RIDER], info->default_rider_texture);
  bike->texture_names[TEXTURE_HELMET] =
      texture_or_default(textures[TEXTURE_HELMET], info->default_head_texture);
  bike->texture_names[TEXTURE_BIKE] =
      texture_or_default(textures[TEXTURE_BIKE], info->default_bike_texture);
  bike->texture_names[TEXTURE_WHEEL] =
      texture_or_default(textures[TEXTURE_WHEEL], info->default_wheel_texture);
  for (int32_t m = 0; m < BIKE_MODEL_COUNT; m++)
    bike->model_names[m] = bike_model_name(info, (BikeModelRole)m);
  rider_number_text(number, bike->number_text);
}

}  // namespace

BikeBody bike_shape_body(int32_t shape_index) {
  if (shape_index < 0 || shape_index >= BIKE_SHAPE_COUNT) return FRAME;
  return SHAPE_BODIES[shape_index];
}

Bike* bike_create(const char* identifier, const char* number, const char* rider_texture,
                  const char* helmet_texture, const char* bike_texture, const char* wheel_texture,
                  int32_t controller) {
  if (!physics_world) {
    log_printf("bike_create: no physics world\n");
    return nullptr;
  }
  Bike* bike = (Bike*)mem_alloc_zeroed(1, sizeof(Bike));
  if (!bike) return nullptr;
  bike->info = *find_bike_info(identifier ? identifier : "");
  bike->engine_inertia = bike->info.engine_inertia;

  const char* textures[BIKE_TEXTURE_COUNT] = {rider_texture, helmet_texture, bike_texture,
                                              wheel_texture};
  keep_assets(bike, number, textures);

  bike->rider_mass_share = RIDER_MASS_SHARE_DEFAULT;
  create_bodies(bike);
  create_joints(bike);
  // The set-up defaults, with the final drive from the stock sprockets.
  drivetrain_setup_defaults(bike);
  aid_setup_defaults(bike);

  double total = 0;
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    dMass m;
    dBodyGetMass(bike->body[b], &m);
    total += m.mass;
  }
  bike->total_mass = total;

  bike_reset_pose(bike);
  bike->controller = controller;
  return bike;
}

void bike_destroy(Bike* bike) {
  if (!bike) return;
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++)
    if (bike->body[b]) dBodyDestroy(bike->body[b]);
  for (int32_t j = 0; j < BIKE_JOINT_COUNT; j++)
    if (bike->joint[j]) dJointDestroy(bike->joint[j]);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) shape_instance_free(bike->shapes[b]);
  bike_timing_free(&bike->timing);
  mem_free(bike);
}

void bike_set_rider_mass_share(Bike* bike, double share) {
  if (!bike) return;
  if (!(share >= RIDER_MASS_SHARE_MIN)) share = RIDER_MASS_SHARE_MIN;  // also NaN
  if (share > RIDER_MASS_SHARE_MAX) share = RIDER_MASS_SHARE_MAX;
  bike->rider_mass_share = share;
  set_frame_and_rider_mass(bike);
}

namespace {
void clear_accumulators_if_disabled(Bike* bike) {
  if (bike->simulated > SIMULATED_THRESHOLD) return;
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    dBodySetForce(bike->body[b], 0, 0, 0);
    dBodySetTorque(bike->body[b], 0, 0, 0);
  }
}
}  // namespace

void bike_enable(Bike* bike) {
  if (!bike) return;
  clear_accumulators_if_disabled(bike);
  bike->simulated = 1;
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) dBodyEnable(bike->body[b]);
}

void bike_disable(Bike* bike) {
  if (!bike) return;
  clear_accumulators_if_disabled(bike);
  bike->simulated = 0;
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) dBodyDisable(bike->body[b]);
}

const float* bike_reset_position(const BikeInfo& info, int32_t body) {
  switch (body) {
    case FRAME: return info.frame_pos;
    case FRONT_WHEEL: return info.front_wheel.pos;
    case REAR_WHEEL: return info.rear_wheel.pos;
    case STEERING: return info.steering_pos;
    case FORK_LOWER: return info.fork_lower_pos;
    case SWINGARM: return info.swingarm_pos;
    default: return info.rider_pos;
  }
}
