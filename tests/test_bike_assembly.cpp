// The bike's bodies, masses, joints and poses, its placement on the ground,
// and the physics world's create / step / destroy.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/files.h"
#include "core/mem.h"
#include "physics/bike.h"
#include "physics/catalogue.h"
#include "physics/shape.h"
#include "physics/world.h"
#include "tests/test_helpers.h"
#include "track/heightfield.h"

namespace {

constexpr double PI = 3.14159265358979323846;

Vec3 v3(const dReal* p) { return vec3(p[0], p[1], p[2]); }
Vec3 v3f(const float* p) { return vec3(p[0], p[1], p[2]); }
Vec3 unit(Vec3 v) { return v * (1.0 / vec3_length(v)); }

void expect_vec(Vec3 got, Vec3 want, double tol, const std::string& what) {
  EXPECT_NEAR(got.x, want.x, tol) << what;
  EXPECT_NEAR(got.y, want.y, tol) << what;
  EXPECT_NEAR(got.z, want.z, tol) << what;
}

Vec3 body_pos(const Bike* bike, int32_t b) { return v3(dBodyGetPosition(bike->body[b])); }

double body_mass(const Bike* bike, int32_t b) {
  dMass m;
  dBodyGetMass(bike->body[b], &m);
  return m.mass;
}

// u^T I u: the moment of inertia of a body about a unit axis through its origin.
double inertia_about(const Bike* bike, int32_t b, Vec3 u) {
  dMass m;
  dBodyGetMass(bike->body[b], &m);
  double a[3] = {u.x, u.y, u.z};
  double sum = 0;
  for (int r = 0; r < 3; r++)
    for (int c = 0; c < 3; c++) sum += a[r] * m.I[r * 4 + c] * a[c];
  return sum;
}

Vec3 reset_position(const BikeInfo& info, int32_t b) {
  const float* p[BIKE_BODY_COUNT] = {info.frame_pos,    info.front_wheel.pos, info.rear_wheel.pos,
                                     info.steering_pos, info.fork_lower_pos,  info.swingarm_pos,
                                     info.rider_pos};
  return v3f(p[b]);
}

Vec3 steering_axis(const BikeInfo& info) {
  return v3f(info.steering_pos) - v3f(info.fork_lower_pos);
}

// Mass centre of the whole bike.
Vec3 mass_centre(const Bike* bike) {
  Vec3 sum = vec3(0, 0, 0);
  double total = 0;
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    double m = body_mass(bike, b);
    sum = sum + body_pos(bike, b) * m;
    total += m;
  }
  return sum * (1.0 / total);
}

// A height field built in memory from a function of the sample position.
struct Ground {
  std::unique_ptr<HeightField> hf{new HeightField()};
  std::vector<float> heights;
  Ground(int32_t n, float spacing, const std::function<float(double, double)>& height) {
    EXPECT_TRUE(hf_set_geometry(hf.get(), n, spacing, -1000, 1000));
    int32_t g = hf->grid_size;
    heights.resize((size_t)g * g);
    for (int32_t j = 0; j < g; j++)
      for (int32_t i = 0; i < g; i++)
        heights[(size_t)j * g + i] = height(i * (double)spacing, j * (double)spacing);
    hf->heights = heights.data();
  }
};

// The world exists for every test; game data (collision shapes) lives in a
// fresh directory and the shape cache starts and ends empty.
class BikeAssembly : public ::testing::Test {
 protected:
  TempDir root;
  std::string game = root.path + "/game/";
  ScopedEnv env_xdg{"XDG_DATA_HOME", (root.path + "/xdg").c_str()};
  ScopedEnv env_rt{"RT_HOME", (root.path + "/game").c_str()};
  const BikeInfo* info = &bike_catalogue[0];
  Bike* bike = nullptr;

  void SetUp() override {
    mkdir(game.c_str(), 0777);
    file_list_free();
    shape_cache_free();
    ASSERT_TRUE(physics_world_create());
  }
  void TearDown() override {
    bike_destroy(bike);
    physics_world_destroy();
    shape_cache_free();
    file_list_free();
  }
  void make_bike() {
    bike = bike_create(info->name, "17", nullptr, nullptr, nullptr, nullptr, 0);
    ASSERT_NE(bike, nullptr);
  }
  // One sphere per shape file; the frame's reaches `below` under the
  // ground plane y = 0 of the reset pose.
  void write_shapes(double below) {
    char text[200];
    snprintf(text, sizeof text, "1\n0 %f 0 %f 0.8 2500 250\n", -info->frame_pos[1], below);
    write_file(game + "generic_frame.shp", text);
    const char* small = "1\n0 0 0 0.1 1 2500 250\n";
    write_file(game + "generic_fork_upper.shp", small);
    write_file(game + "generic_fork_lower.shp", small);
    write_file(game + "generic_swingarm.shp", small);
    write_file(game + "front_wheel.shp", small);
    write_file(game + "rear_wheel.shp", small);
    write_file(game + "generic_rider.shp", small);
  }
};

}  // namespace

// ---------------------------------------------------------------- world

TEST(PhysicsWorld, CreateSetsGravityAndGroupAndDestroyClears) {
  ASSERT_TRUE(physics_world_create());
  ASSERT_NE(physics_world, nullptr);
  ASSERT_NE(contact_group, nullptr);
  dWorldID first = physics_world;
  EXPECT_TRUE(physics_world_create());  // a second call keeps the world
  EXPECT_EQ(physics_world, first);
  dVector3 g;
  dWorldGetGravity(physics_world, g);
  expect_vec(v3(g), vec3(0, -32, 0), 0, "gravity");
  EXPECT_DOUBLE_EQ(dWorldGetERP(physics_world), 0.2);
  EXPECT_DOUBLE_EQ(dWorldGetCFM(physics_world), 1e-10);
  physics_world_destroy();
  EXPECT_EQ(physics_world, nullptr);
  EXPECT_EQ(contact_group, nullptr);
  physics_world_destroy();  // harmless twice
  physics_world_step();     // and stepping nothing too
  // The library can be opened again after it was closed.
  ASSERT_TRUE(physics_world_create());
  physics_world_step();  // an empty world steps
  physics_world_destroy();
}

TEST(PhysicsWorld, StepFallsUnderGravityAndEmptiesTheContactGroup) {
  ASSERT_TRUE(physics_world_create());
  dBodyID body = dBodyCreate(physics_world);
  dBodySetPosition(body, 0, 10, 0);
  dContact contact;
  memset(&contact, 0, sizeof contact);
  contact.geom.pos[1] = 10;
  contact.geom.normal[1] = 1;
  contact.geom.depth = 0;
  dJointID joint = dJointCreateContact(physics_world, contact_group, &contact);
  dJointAttach(joint, body, nullptr);
  EXPECT_EQ(dBodyGetNumJoints(body), 1);
  physics_world_step();
  EXPECT_EQ(dBodyGetNumJoints(body), 0);  // the one-step joint is gone
  // The next step has no contact: free fall by 32 ft/s^2 per tick.
  double vy = dBodyGetLinearVel(body)[1];
  physics_world_step();
  EXPECT_NEAR(dBodyGetLinearVel(body)[1] - vy, -32.0 / 128, 1e-9);
  dBodyDestroy(body);
  physics_world_destroy();
}

TEST(PhysicsWorld, BikeNeedsAWorld) {
  EXPECT_EQ(physics_world, nullptr);
  EXPECT_EQ(bike_create("450sxf(2016)", "1", nullptr, nullptr, nullptr, nullptr, 0), nullptr);
}

// ---------------------------------------------------------------- bodies and masses

TEST_F(BikeAssembly, BodiesStartInTheResetPoseWithTheirMasses) {
  make_bike();
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    ASSERT_NE(bike->body[b], nullptr);
    expect_vec(body_pos(bike, b), reset_position(*info, b), 1e-6, "body " + std::to_string(b));
    const dReal* r = dBodyGetRotation(bike->body[b]);
    for (int k = 0; k < 12; k++) EXPECT_NEAR(r[k], (k % 5 == 0) ? 1 : 0, 1e-12) << b;
    EXPECT_EQ(dBodyGetFiniteRotationMode(bike->body[b]),
              (b == FRONT_WHEEL || b == REAR_WHEEL) ? 1 : 0)
        << b;
    EXPECT_TRUE(dBodyIsEnabled(bike->body[b]));
  }
  // Creation order: body handles are distinct.
  for (int32_t a = 0; a < BIKE_BODY_COUNT; a++)
    for (int32_t b = a + 1; b < BIKE_BODY_COUNT; b++) EXPECT_NE(bike->body[a], bike->body[b]);

  double rider = info->rider_mass;
  struct {
    int32_t body;
    double mass;
  } table[] = {
      {FRAME, info->frame_mass + rider * 2 / 3},
      {FRONT_WHEEL, info->front_wheel.hub_mass + info->front_wheel.ring_mass},
      {REAR_WHEEL, info->rear_wheel.hub_mass + info->rear_wheel.ring_mass},
      {STEERING, info->fork_mass},
      {FORK_LOWER, info->fork_mass},
      {SWINGARM, 2.0 * info->swingarm_mass},
      {RIDER, rider / 3},
  };
  double total = 0;
  for (auto& row : table) {
    EXPECT_NEAR(body_mass(bike, row.body), row.mass, 1e-5) << row.body;
    total += row.mass;
  }
  EXPECT_NEAR(bike->total_mass, total, 1e-5);
  EXPECT_NEAR(bike->total_mass,
              info->frame_mass + rider + info->front_wheel.hub_mass + info->front_wheel.ring_mass +
                  info->rear_wheel.hub_mass + info->rear_wheel.ring_mass + 2.0 * info->fork_mass +
                  2.0 * info->swingarm_mass,
              1e-5);
  EXPECT_FLOAT_EQ(bike->engine_inertia, info->engine_inertia);
  EXPECT_EQ(bike->simulated, 1.0f);
}

TEST_F(BikeAssembly, InertiasFollowTheMassModels) {
  make_bike();
  const double x = 1, eps = 1e-6;
  Vec3 ex = vec3(x, 0, 0), ey = vec3(0, 1, 0), ez = vec3(0, 0, 1);
  // Frame box and rider sphere (radius 1).
  double fm = body_mass(bike, FRAME);
  const float* box = info->frame_box;
  EXPECT_NEAR(inertia_about(bike, FRAME, ex), fm / 12 * (box[1] * box[1] + box[2] * box[2]), eps);
  EXPECT_NEAR(inertia_about(bike, FRAME, ez), fm / 12 * (box[0] * box[0] + box[1] * box[1]), eps);
  EXPECT_NEAR(inertia_about(bike, RIDER, ey), 0.4 * body_mass(bike, RIDER), eps);

  // Wheels: a ring in the y-z plane around the hub, so the axle carries the
  // full ring term and y and z half of it.
  for (int32_t b : {FRONT_WHEEL, REAR_WHEEL}) {
    const WheelInfo& w = b == FRONT_WHEEL ? info->front_wheel : info->rear_wheel;
    double hub = 0.4 * w.hub_mass * w.hub_radius * w.hub_radius;
    double tube = 0.4 * w.ring_mass * w.tyre_radius * w.tyre_radius;
    double ring = w.ring_mass * w.ring_radius * w.ring_radius;
    EXPECT_NEAR(inertia_about(bike, b, ex), hub + tube + ring, 1e-5) << b;
    EXPECT_NEAR(inertia_about(bike, b, ey), hub + tube + ring / 2, 1e-5) << b;
    EXPECT_NEAR(inertia_about(bike, b, ez), hub + tube + ring / 2, 1e-5) << b;
    dMass m;
    dBodyGetMass(bike->body[b], &m);
    expect_vec(v3(m.c), vec3(0, 0, 0), 1e-9, "wheel mass centre");
  }

  // Fork bodies: the two legs lie along the steering axis.
  Vec3 u = unit(steering_axis(*info));
  double leg_r = info->fork_leg_spacing / 8, half = info->fork_leg_spacing / 2;
  double leg_len = info->fork_leg_length * 2 / 3;
  double along = info->fork_mass * (leg_r * leg_r / 2 + half * half);
  Vec3 across = unit(vec3_cross(u, ex));  // in the y-z plane, normal to the legs
  double normal = info->fork_mass * (leg_r * leg_r / 4 + leg_len * leg_len / 12 + half * half);
  for (int32_t b : {STEERING, FORK_LOWER}) {
    EXPECT_NEAR(inertia_about(bike, b, u), along, 1e-6) << b;
    EXPECT_NEAR(inertia_about(bike, b, across), normal, 1e-6) << b;
  }

  // Swingarm: the two boxes point from the pivot to the rear axle.
  Vec3 arm = v3f(info->rear_wheel.pos) - v3f(info->swingarm_pivot);
  Vec3 a = unit(arm);
  double w = info->frame_box[0] / 4, len = vec3_length(arm), side = info->frame_box[0] / 2;
  double sm = info->swingarm_mass;
  EXPECT_NEAR(inertia_about(bike, SWINGARM, a), 2 * (sm / 12 * 2 * w * w + sm * side * side), 1e-6);
  Vec3 a_across = unit(vec3_cross(a, ex));
  EXPECT_NEAR(inertia_about(bike, SWINGARM, a_across),
              2 * (sm / 12 * (w * w + len * len) + sm * side * side), 1e-6);
}

TEST_F(BikeAssembly, RiderMassShareMovesMassBetweenFrameAndRider) {
  make_bike();
  double frame = body_mass(bike, FRAME), rider = body_mass(bike, RIDER);
  bike_set_rider_mass_share(bike, 0.5);
  EXPECT_NEAR(body_mass(bike, FRAME), frame - info->rider_mass / 6, 1e-5);
  EXPECT_NEAR(body_mass(bike, RIDER), rider + info->rider_mass / 6, 1e-5);
  EXPECT_NEAR(body_mass(bike, FRAME) + body_mass(bike, RIDER), frame + rider, 1e-5);
  struct {
    double asked, used;
  } clamps[] = {{0.9, 0.5}, {0.1, 0.33}, {NAN, 0.33}, {0.4, 0.4}};
  for (auto& c : clamps) {
    bike_set_rider_mass_share(bike, c.asked);
    EXPECT_NEAR(body_mass(bike, RIDER), c.used * info->rider_mass, 1e-5) << c.asked;
    EXPECT_NEAR(body_mass(bike, FRAME), info->frame_mass + (1 - c.used) * info->rider_mass, 1e-5);
  }
}

// ---------------------------------------------------------------- joints

TEST_F(BikeAssembly, JointsConnectTheBodiesWithTheirAnchorsAxesAndStops) {
  make_bike();
  struct {
    int32_t joint;
    int type;
    int32_t body1, body2;
  } table[] = {
      {FRONT_AXLE, dJointTypeHinge, FORK_LOWER, FRONT_WHEEL},
      {REAR_AXLE, dJointTypeHinge, SWINGARM, REAR_WHEEL},
      {STEERING_HEAD, dJointTypeHinge, STEERING, FRAME},
      {FORK_SLIDER, dJointTypeSlider, STEERING, FORK_LOWER},
      {SWINGARM_PIVOT, dJointTypeHinge, SWINGARM, FRAME},
      {RIDER_MOUNT, dJointTypeHinge2, RIDER, FRAME},
  };
  for (auto& row : table) {
    dJointID j = bike->joint[row.joint];
    ASSERT_NE(j, nullptr);
    EXPECT_EQ(dJointGetType(j), row.type) << row.joint;
    EXPECT_EQ(dJointGetBody(j, 0), bike->body[row.body1]) << row.joint;
    EXPECT_EQ(dJointGetBody(j, 1), bike->body[row.body2]) << row.joint;
    EXPECT_EQ(dJointGetFeedback(j), &bike->feedback[row.joint]) << row.joint;
  }
  dVector3 p;
  dJointGetHingeAnchor(bike->joint[FRONT_AXLE], p);
  expect_vec(v3(p), v3f(info->front_wheel.pos), 1e-6, "front axle anchor");
  dJointGetHingeAxis(bike->joint[FRONT_AXLE], p);
  expect_vec(v3(p), vec3(1, 0, 0), 1e-12, "front axle axis");
  dJointGetHingeAnchor(bike->joint[REAR_AXLE], p);
  expect_vec(v3(p), v3f(info->rear_wheel.pos), 1e-6, "rear axle anchor");
  dJointGetHingeAxis(bike->joint[REAR_AXLE], p);
  expect_vec(v3(p), vec3(1, 0, 0), 1e-12, "rear axle axis");

  // Steering head: leans back along (0, 1.13, 0.57) with stops of +-pi/4.
  Vec3 axis = steering_axis(*info);
  expect_vec(axis, vec3(0, 1.13, 0.57), 1e-5, "steering axis before normalisation");
  dJointGetHingeAnchor(bike->joint[STEERING_HEAD], p);
  expect_vec(v3(p), v3f(info->steering_pos), 1e-6, "steering anchor");
  dJointGetHingeAxis(bike->joint[STEERING_HEAD], p);
  expect_vec(v3(p), unit(axis), 1e-9, "steering axis");
  EXPECT_DOUBLE_EQ(dJointGetHingeParam(bike->joint[STEERING_HEAD], dParamLoStop), -PI / 4);
  EXPECT_DOUBLE_EQ(dJointGetHingeParam(bike->joint[STEERING_HEAD], dParamHiStop), PI / 4);

  dJointGetSliderAxis(bike->joint[FORK_SLIDER], p);
  expect_vec(v3(p), unit(axis), 1e-9, "fork slider axis");
  EXPECT_EQ(dJointGetSliderParam(bike->joint[FORK_SLIDER], dParamBounce), 0);
  EXPECT_NEAR(dJointGetSliderParam(bike->joint[FORK_SLIDER], dParamLoStop), -info->fork_travel,
              1e-7);
  EXPECT_EQ(dJointGetSliderParam(bike->joint[FORK_SLIDER], dParamHiStop), 0);
  EXPECT_NEAR(dJointGetSliderPosition(bike->joint[FORK_SLIDER]), 0, 1e-9);

  dJointGetHingeAnchor(bike->joint[SWINGARM_PIVOT], p);
  expect_vec(v3(p), v3f(info->swingarm_pivot), 1e-6, "swingarm pivot");
  dJointGetHingeAxis(bike->joint[SWINGARM_PIVOT], p);
  expect_vec(v3(p), vec3(1, 0, 0), 1e-12, "swingarm axis");
  EXPECT_EQ(dJointGetHingeParam(bike->joint[SWINGARM_PIVOT], dParamBounce), 0);
  EXPECT_NEAR(dJointGetHingeParam(bike->joint[SWINGARM_PIVOT], dParamLoStop),
              -info->swingarm_max_angle, 1e-7);
  EXPECT_EQ(dJointGetHingeParam(bike->joint[SWINGARM_PIVOT], dParamHiStop), 0);
  EXPECT_NEAR(dJointGetHingeAngle(bike->joint[SWINGARM_PIVOT]), 0, 1e-9);

  dJointGetHinge2Anchor(bike->joint[RIDER_MOUNT], p);
  expect_vec(v3(p), vec3(0, info->rider_pos[1], -50), 1e-6, "rider mount anchor");
  dJointGetHinge2Axis1(bike->joint[RIDER_MOUNT], p);
  expect_vec(v3(p), unit(vec3(0, 1, 1)), 1e-9, "rider mount axis 1");
  dJointGetHinge2Axis2(bike->joint[RIDER_MOUNT], p);
  expect_vec(v3(p), vec3(1, 0, 0), 1e-9, "rider mount axis 2");
  EXPECT_EQ(dJointGetHinge2Param(bike->joint[RIDER_MOUNT], dParamLoStop), 0);
  EXPECT_EQ(dJointGetHinge2Param(bike->joint[RIDER_MOUNT], dParamHiStop), 0);

  // The stock sprockets give the final drive.
  EXPECT_FLOAT_EQ(bike->final_ratio,
                  floorf(info->rear_sprocket_teeth) / floorf(info->countershaft_teeth));
}

// ---------------------------------------------------------------- poses

TEST_F(BikeAssembly, ResetPoseUndoesADisturbedBike) {
  make_bike();
  dMatrix3 tilt;
  dRFromAxisAndAngle(tilt, 0.3, 0.2, 1, 0.7);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    dBodySetPosition(bike->body[b], 100 + b, 5, -30);
    dBodySetRotation(bike->body[b], tilt);
    dBodySetLinearVel(bike->body[b], 1, 2, 3);
    dBodySetAngularVel(bike->body[b], 4, 5, 6);
    dBodyAddForce(bike->body[b], 7, 8, 9);
    dBodyAddTorque(bike->body[b], 1, 1, 1);
  }
  dJointAttach(bike->joint[RIDER_MOUNT], nullptr, nullptr);  // a crash throws the rider off
  bike->throttle = bike->clutch = bike->front_brake = bike->rear_brake = 1;
  bike->steer = bike->dab = bike->dab_anim = bike->back_up = bike->lean = 0.5f;
  bike->gear = 3;
  bike->shift_request = 1;
  bike->clutch_twist = 2;
  bike->engine_speed = 900;
  bike->crash_countdown = 40;
  bike->crash_count = 2;
  bike->simulated = 0;
  bike->feedback[SWINGARM_PIVOT].f1[1] = 55;
  bike->rider_velocity_ring[2][0] = 9;
  WheelMark mark = {1, 2, 3, 4};
  wheel_mark_push(&bike->wheel_marks, mark);

  bike_reset_pose(bike);

  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    std::string what = "body " + std::to_string(b);
    expect_vec(body_pos(bike, b), reset_position(*info, b), 1e-6, what);
    const dReal* r = dBodyGetRotation(bike->body[b]);
    for (int k = 0; k < 12; k++) EXPECT_NEAR(r[k], (k % 5 == 0) ? 1 : 0, 1e-12) << what;
    expect_vec(v3(dBodyGetLinearVel(bike->body[b])), vec3(0, 0, 0), 0, what);
    expect_vec(v3(dBodyGetAngularVel(bike->body[b])), vec3(0, 0, 0), 0, what);
    expect_vec(v3(dBodyGetForce(bike->body[b])), vec3(0, 0, 0), 0, what);
    expect_vec(v3(dBodyGetTorque(bike->body[b])), vec3(0, 0, 0), 0, what);
  }
  // The rider is on the mount again, at rider_pos relative to the frame.
  EXPECT_EQ(dJointGetBody(bike->joint[RIDER_MOUNT], 0), bike->body[RIDER]);
  EXPECT_EQ(dJointGetBody(bike->joint[RIDER_MOUNT], 1), bike->body[FRAME]);
  expect_vec(body_pos(bike, RIDER) - body_pos(bike, FRAME),
             v3f(info->rider_pos) - v3f(info->frame_pos), 1e-6, "rider offset");
  float controls[] = {bike->throttle,   bike->clutch,  bike->front_brake,
                      bike->rear_brake, bike->steer,   bike->dab,
                      bike->dab_anim,   bike->back_up, bike->lean};
  for (float c : controls) EXPECT_EQ(c, 0.0f);
  EXPECT_EQ(bike->gear, 0);
  EXPECT_EQ(bike->shift_request, 0);
  EXPECT_EQ(bike->clutch_twist, 0.0f);
  EXPECT_EQ(bike->engine_speed, 0.0f);
  EXPECT_EQ(bike->crash_countdown, 0);
  EXPECT_EQ(bike->crash_count, 0);
  EXPECT_EQ(bike->simulated, 1.0f);
  EXPECT_EQ(bike->feedback[SWINGARM_PIVOT].f1[1], 0);
  EXPECT_EQ(bike->rider_velocity_ring[2][0], 0.0f);
  EXPECT_TRUE(wheel_marks_empty(&bike->wheel_marks));
}

TEST_F(BikeAssembly, RotateAndTranslateMoveTheWholeBike) {
  make_bike();
  Vec3 before[BIKE_BODY_COUNT];
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) before[b] = body_pos(bike, b);

  // A quarter turn about y takes z onto x and leaves y alone.
  bike_rotate(bike, 0, 1, 0, PI / 2);
  dMatrix3 want;
  dRFromAxisAndAngle(want, 0, 1, 0, PI / 2);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    std::string what = "body " + std::to_string(b);
    Vec3 p = body_pos(bike, b);
    expect_vec(p, vec3(before[b].z, before[b].y, -before[b].x), 1e-6, what);
    const dReal* r = dBodyGetRotation(bike->body[b]);
    for (int k = 0; k < 12; k++) EXPECT_NEAR(r[k], want[k], 1e-12) << what;
  }
  EXPECT_NEAR(body_pos(bike, FRONT_WHEEL).x, info->front_wheel.pos[2], 1e-6);

  bike_translate(bike, 10, -2, 300);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++)
    expect_vec(body_pos(bike, b), vec3(before[b].z + 10, before[b].y - 2, -before[b].x + 300), 1e-6,
               "translated " + std::to_string(b));
  // Relative placement is kept: every pair keeps its distance.
  for (int32_t a = 0; a < BIKE_BODY_COUNT; a++)
    for (int32_t b = a + 1; b < BIKE_BODY_COUNT; b++)
      EXPECT_NEAR(vec3_length(body_pos(bike, a) - body_pos(bike, b)),
                  vec3_length(before[a] - before[b]), 1e-6);
  // The joints agree with the moved bodies: the hinge angles stay at rest.
  EXPECT_NEAR(dJointGetHingeAngle(bike->joint[SWINGARM_PIVOT]), 0, 1e-9);
  EXPECT_NEAR(dJointGetHingeAngle(bike->joint[STEERING_HEAD]), 0, 1e-9);
  EXPECT_NEAR(dJointGetSliderPosition(bike->joint[FORK_SLIDER]), 0, 1e-9);
}

TEST_F(BikeAssembly, ShapesFollowTheirBodies) {
  write_shapes(0.3);
  make_bike();
  for (int32_t s = 0; s < BIKE_SHAPE_COUNT; s++)
    EXPECT_NE(bike->shapes[bike_shape_body(s)], nullptr) << s;
  EXPECT_EQ(bike_shape_body(0), FRAME);
  EXPECT_EQ(bike_shape_body(1), STEERING);
  EXPECT_EQ(bike_shape_body(6), RIDER);
  bike_rotate(bike, 0, 1, 0, PI / 2);
  bike_translate(bike, 5, 1, 7);
  ASSERT_TRUE(bike_shape_update(bike, FRAME));
  // The frame's sphere sits at (0, -frame y, 0) in the frame body.
  Vec3 frame = body_pos(bike, FRAME);
  const float* e = bike->shapes[FRAME]->elements[0];
  expect_vec(v3f(e), vec3(frame.x, 1, frame.z), 1e-5, "frame sphere");
  EXPECT_FLOAT_EQ(e[SHAPE_RADIUS], 0.3f);
  EXPECT_FLOAT_EQ(e[SHAPE_FRICTION], 0.8f);
}

TEST_F(BikeAssembly, MissingShapesLeaveEmptySlots) {
  make_bike();  // no shape files at all
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) EXPECT_EQ(bike->shapes[b], nullptr);
  EXPECT_FALSE(bike_shape_update(bike, FRAME));
  EXPECT_STREQ(bike->number_text, "17");
  EXPECT_STREQ(bike->texture_names[TEXTURE_BIKE], info->default_bike_texture);
}

// ---------------------------------------------------------------- placement

TEST_F(BikeAssembly, PlaceOnFlatGroundRisesUntilNothingTouches) {
  write_shapes(0.3);  // the frame sphere reaches 0.3 below the wheels' ground
  make_bike();
  const float h = 12.5f;
  Ground ground(3, 4.0f, [&](double, double) { return h; });
  double y = bike_place_on(bike, ground.hf.get(), 20.3, 17.9, 0.4);
  EXPECT_DOUBLE_EQ(y, h + 0.5);  // 0.25 still touches with 0.05 to go
  EXPECT_FALSE(bike_touches_ground(bike, ground.hf.get()));
  expect_vec(body_pos(bike, FRAME) - vec3(20.3, y, 17.9),
             vec3(info->frame_pos[2] * sin(0.4), info->frame_pos[1], info->frame_pos[2] * cos(0.4)),
             1e-5, "frame placed");
  // One step lower the frame sphere is in the ground.
  bike_translate(bike, 0, -0.25, 0);
  EXPECT_TRUE(bike_touches_ground(bike, ground.hf.get()));
  // Placement leaves the bike reset and simulated.
  EXPECT_EQ(bike->simulated, 1.0f);
  expect_vec(v3(dBodyGetLinearVel(bike->body[FRAME])), vec3(0, 0, 0), 0, "still");
}

TEST_F(BikeAssembly, PlaceStartsAtTheSampleBelowAndRisesFurtherOnASlope) {
  write_shapes(0.3);
  make_bike();
  // The search starts at the sample of the grid point nearest below (x, z) and
  // stops at the first height, in steps of 0.25, where nothing touches;
  // indices outside the grid (17 samples of 4 ft) are clamped.
  struct {
    double x, z, start;
  } cases[] = {{9.9, 4.1, -36}, {-5, 40, -20 - 0 - 2 * 40}, {100, 100, -20 - 64 - 2 * 64}};
  Ground low(3, 4.0f, [](double x, double z) { return -20 - x - 2 * z; });
  for (auto& c : cases) {
    double y = bike_place_on(bike, low.hf.get(), c.x, c.z, 0);
    EXPECT_GE(y, c.start) << c.x;
    EXPECT_EQ(fmod(y - c.start, 0.25), 0.0) << c.x;
    EXPECT_FALSE(bike_touches_ground(bike, low.hf.get())) << c.x;
    if (y > c.start) {
      bike_translate(bike, 0, -0.25, 0);
      EXPECT_TRUE(bike_touches_ground(bike, low.hf.get())) << c.x;
    }
  }
  // A single raised sample under the spot lifts the start.
  Ground spike(3, 4.0f, [](double x, double z) { return x == 8 && z == 4 ? 5.0f : 0.0f; });
  double y = bike_place_on(bike, spike.hf.get(), 9.9, 4.1, 0);
  EXPECT_GE(y, 5.0);
  EXPECT_EQ(fmod(y - 5, 0.25), 0.0);

  Ground flat(3, 4.0f, [](double, double) { return 0.0f; });
  double flat_y = bike_place_on(bike, flat.hf.get(), 16, 16, PI / 2);
  // A steep slope rising along the bike's length (heading pi/2: the bike lies along x).
  Ground slope(3, 4.0f, [](double x, double) { return 0.8 * (x - 16); });
  double slope_y = bike_place_on(bike, slope.hf.get(), 16, 16, PI / 2);
  EXPECT_GT(slope_y, flat_y);
  EXPECT_FALSE(bike_touches_ground(bike, slope.hf.get()));
  bike_translate(bike, 0, -0.25, 0);
  EXPECT_TRUE(bike_touches_ground(bike, slope.hf.get()));
}

TEST_F(BikeAssembly, PlacedBikeFallsFreelyWithoutContacts) {
  write_shapes(0.3);
  make_bike();
  Ground ground(3, 4.0f, [](double, double) { return 3.0f; });
  bike_place_on(bike, ground.hf.get(), 16, 16, 1.0);
  Vec3 start = mass_centre(bike);
  double wheel_gap = vec3_length(body_pos(bike, FRONT_WHEEL) - body_pos(bike, FORK_LOWER));
  const int ticks = 256;
  for (int t = 0; t < ticks; t++) physics_world_step();
  Vec3 end = mass_centre(bike);
  // The joints only pass forces inside the bike: its mass centre falls as a
  // stone, by g h^2 n (n + 1) / 2 after n steps of h (velocity first, then position).
  double h = 1.0 / 128;
  EXPECT_NEAR(end.y - start.y, -0.5 * 32 * h * h * ticks * (ticks + 1), 1e-3);
  EXPECT_NEAR(end.x, start.x, 1e-3);
  EXPECT_NEAR(end.z, start.z, 1e-3);
  EXPECT_TRUE(bike_touches_ground(bike, ground.hf.get()) || end.y < 3);
  // And it stays in one piece.
  EXPECT_NEAR(vec3_length(body_pos(bike, FRONT_WHEEL) - body_pos(bike, FORK_LOWER)), wheel_gap,
              1e-3);
}

TEST_F(BikeAssembly, PlaceWithoutGroundKeepsTheHeadingAndOrigin) {
  make_bike();
  HeightField empty{};
  double y = bike_place_on(bike, &empty, 3, 4, PI);
  EXPECT_EQ(y, 0.0);
  expect_vec(
      body_pos(bike, FRONT_WHEEL),
      vec3(3 - info->front_wheel.pos[0], info->front_wheel.pos[1], 4 - info->front_wheel.pos[2]),
      1e-5, "turned half round");
  // Non-finite input places at the origin instead of searching forever.
  y = bike_place_on(bike, &empty, NAN, INFINITY, NAN);
  EXPECT_EQ(y, 0.0);
  expect_vec(body_pos(bike, FRAME), v3f(info->frame_pos), 1e-6, "origin");
}

// ---------------------------------------------------------------- enable / disable / destroy

TEST_F(BikeAssembly, DisableAndEnableSwitchBodiesAndClearStaleForces) {
  make_bike();
  bike_disable(bike);
  EXPECT_EQ(bike->simulated, 0.0f);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) EXPECT_FALSE(dBodyIsEnabled(bike->body[b])) << b;
  // A disabled bike keeps its pose through world steps.
  Vec3 frame = body_pos(bike, FRAME);
  for (int t = 0; t < 50; t++) physics_world_step();
  expect_vec(body_pos(bike, FRAME), frame, 0, "disabled frame");

  // Forces left on a disabled bike are dropped when it is enabled.
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) dBodyAddForce(bike->body[b], 1, 2, 3);
  bike_enable(bike);
  EXPECT_EQ(bike->simulated, 1.0f);
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++) {
    EXPECT_TRUE(dBodyIsEnabled(bike->body[b])) << b;
    expect_vec(v3(dBodyGetForce(bike->body[b])), vec3(0, 0, 0), 0, "cleared");
  }
  // An enabled bike keeps the forces set for its next step.
  dBodyAddForce(bike->body[FRAME], 0, 50, 0);
  bike_enable(bike);
  EXPECT_EQ(dBodyGetForce(bike->body[FRAME])[1], 50);
  bike_disable(bike);
  EXPECT_EQ(dBodyGetForce(bike->body[FRAME])[1], 50);  // was simulated: left alone
  bike->simulated = 0.2f;  // a bike on its way in from a snapshot counts as disabled
  bike_disable(bike);
  EXPECT_EQ(dBodyGetForce(bike->body[FRAME])[1], 0);
}

TEST_F(BikeAssembly, DestroyFreesEverything) {
  ScopedEnv check("RT_CHECK_ALLOC", "1");
  mem_checker_reset_for_tests();
  write_shapes(0.3);
  // The first bike of each kind fills the shape cache and the string pool.
  for (int k = 0; k < 3; k++)
    bike_destroy(
        bike_create(bike_catalogue[k * 20].name, "5", "a.png", nullptr, nullptr, nullptr, 0));
  int live = mem_live_count();
  for (int k = 0; k < 3; k++) {
    Bike* other =
        bike_create(bike_catalogue[k * 20].name, "5", "a.png", nullptr, nullptr, nullptr, 1);
    ASSERT_NE(other, nullptr);
    EXPECT_GT(mem_live_count(), live);
    bike_destroy(other);
  }
  EXPECT_EQ(mem_live_count(), live);
  bike_destroy(nullptr);
  shape_cache_free();
  file_list_free();
  mem_checker_reset_for_tests();
}
