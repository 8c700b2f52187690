// Contacts of the bike: wheels and shapes against the ground, bike against
// bike with the blame rules, bike against track objects, and wheel marks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "physics/collide.h"
#include "physics/rider_control.h"
#include "tests/bike_fixture.h"
#include "track/objects.h"
#include "track/tiles.h"

namespace {

constexpr double PI = 3.14159265358979323846;

Vec3 v3(const dReal* p) { return vec3(p[0], p[1], p[2]); }

void expect_vec(Vec3 got, Vec3 want, double tol, const std::string& what) {
  EXPECT_NEAR(got.x, want.x, tol) << what;
  EXPECT_NEAR(got.y, want.y, tol) << what;
  EXPECT_NEAR(got.z, want.z, tol) << what;
}

const WheelInfo& wheel_of(const Bike* b, int32_t w) {
  return w == WHEEL_FRONT ? b->info.front_wheel : b->info.rear_wheel;
}
int32_t body_of(int32_t w) { return w == WHEEL_FRONT ? FRONT_WHEEL : REAR_WHEEL; }

// The contact joints on a body.
std::vector<dJointID> contact_joints(const Bike* b, int32_t body) {
  std::vector<dJointID> out;
  for (int32_t i = 0; i < dBodyGetNumJoints(b->body[body]); i++) {
    dJointID j = dBodyGetJoint(b->body[body], i);
    if (dJointGetType(j) == dJointTypeContact) out.push_back(j);
  }
  return out;
}

bool bikes_joined(const Bike* a, const Bike* b) {
  for (int32_t i = 0; i < BIKE_BODY_COUNT; i++)
    for (int32_t k = 0; k < BIKE_BODY_COUNT; k++)
      if (dAreConnected(a->body[i], b->body[k])) return true;
  return false;
}

double force_size(const Bike* b, int32_t body) {
  return vec3_length(v3(dBodyGetForce(b->body[body])));
}

class CollideWorld : public BikeWorld {
 protected:
  void SetUp() override {
    BikeWorld::SetUp();
    objects_init(&track.objects);
    physics_state.tick = 1000;
  }
  void TearDown() override {
    dJointGroupEmpty(contact_group);
    objects_free(&track.objects);
    track.hf.tile_count = 0;
    BikeWorld::TearDown();
  }
  // One tile on the whole ground.
  TileType* single_tile() {
    tile_type_defaults(&track.hf.tiles[0], false);
    track.hf.tile_count = 1;
    return &track.hf.tiles[0];
  }
  // Moves one wheel body alone so that its tyre reaches `sink` below flat ground
  // at y = 0 (negative: above it).
  static void sink_wheel(Bike* b, int32_t w, double sink) {
    const WheelInfo& info = wheel_of(b, w);
    const dReal* p = dBodyGetPosition(b->body[body_of(w)]);
    dBodySetPosition(b->body[body_of(w)], p[0], info.ring_radius + info.tyre_radius - sink, p[2]);
  }
  static void set_velocity(Bike* b, Vec3 v) {
    for (int32_t i = 0; i < BIKE_BODY_COUNT; i++) {
      dBodySetLinearVel(b->body[i], v.x, v.y, v.z);
      dBodySetAngularVel(b->body[i], 0, 0, 0);
    }
  }
  static void clear_forces(Bike* b) {
    for (int32_t i = 0; i < BIKE_BODY_COUNT; i++) dBodySetForce(b->body[i], 0, 0, 0);
  }
};

// ---------------------------------------------------------------- wheels on the ground

class CollideWheel : public CollideWorld {};

TEST_F(CollideWheel, SinkingGivesDepthSoftnessAndOneJointWithFeedback) {
  struct Case {
    double sink_in_tyres;  // how far the tyre reaches below the ground, in tyre radii
    double kp, kd;
  };
  const Case cases[] = {
      {-0.03, 0, 0},       // lowest tyre point 0.01 ft above the ground
      {0.5, 4000, 487.5},  // k = 0.5: 1000 + 24000/8, 200 + 2300/8
      {1.0, 25000, 2500},  // fully sunk
      {1.5, 25000, 2500},  // deeper changes nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sink_in_tyres);
    Bike* b = add_bike();
    double r = b->info.front_wheel.tyre_radius;
    sink_wheel(b, WHEEL_FRONT, c.sink_in_tyres * r);
    bool touching = c.sink_in_tyres > 0;
    EXPECT_EQ(bike_ground_collide(b), touching);
    const WheelContact& wc = b->wheel_contact[WHEEL_FRONT];
    EXPECT_EQ(b->wheel_contact[WHEEL_REAR].depth, 0.0);
    std::vector<dJointID> joints = contact_joints(b, FRONT_WHEEL);
    if (!touching) {
      EXPECT_EQ(wc.depth, 0.0);
      EXPECT_TRUE(joints.empty());
      dContact unused;
      EXPECT_FALSE(wheel_ground_dcontact(&wc, vec3(1, 0, 0), r, 1.0, &unused));
      continue;
    }
    EXPECT_NEAR(wc.depth, c.sink_in_tyres * r, 1e-6);
    expect_vec(wc.normal, vec3(0, 1, 0), 1e-9, "normal");
    EXPECT_NEAR(wc.point.y, -c.sink_in_tyres * r, 1e-6);
    ASSERT_EQ(joints.size(), 1u);
    EXPECT_EQ(dJointGetBody(joints[0], 0), b->body[FRONT_WHEEL]);
    EXPECT_EQ(dJointGetBody(joints[0], 1), nullptr);
    EXPECT_EQ(dJointGetFeedback(joints[0]), &b->wheel_feedback[WHEEL_FRONT]);

    dContact dc;
    ASSERT_TRUE(wheel_ground_dcontact(&wc, vec3(1, 0, 0), r, 0.8, &dc));
    double erp, cfm;
    ASSERT_TRUE(contact_softness(c.kp, c.kd, &erp, &cfm));
    EXPECT_NEAR(dc.surface.soft_erp, erp, 1e-12);
    EXPECT_NEAR(dc.surface.soft_cfm, cfm, 1e-12);
    EXPECT_DOUBLE_EQ(dc.surface.mu, 0.8);
    EXPECT_EQ(dc.surface.mode & CONTACT_JOINT_MODE, CONTACT_JOINT_MODE);
    EXPECT_FALSE(dc.surface.mode & dContactMu2);
    EXPECT_DOUBLE_EQ(dc.geom.depth, wc.depth);
    EXPECT_DOUBLE_EQ(dc.geom.pos[1], wc.point.y);
    // At rest the first friction direction is normal x axle.
    EXPECT_TRUE(dc.surface.mode & dContactFDir1);
    expect_vec(v3(dc.fdir1), vec3(0, 0, -1), 1e-12, "fdir1");
    dJointGroupEmpty(contact_group);
  }
}

TEST_F(CollideWheel, FrictionFromTheTileFallsWithSlipSpeed) {
  TileType* tile = single_tile();
  tile->friction[0] = 1.2f;
  tile->friction[1] = 0.6f;
  tile->friction_speed[0] = 1.0f;
  tile->friction_speed[1] = 20.0f;
  struct Case {
    Vec3 velocity;
    double mu;
    Vec3 fdir;
  };
  const Case cases[] = {
      {{0, 0, 0}, 1.2, {0, 0, -1}},    // at rest: the first point, normal x axle
      {{20, 0, 0}, 0.6, {0, 0, -1}},   // sliding sideways at 20 ft/s
      {{0, 0, -20}, 0.6, {-1, 0, 0}},  // rolling forwards as fast
  };
  Bike* b = add_bike();
  sink_wheel(b, WHEEL_FRONT, 0.1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mu);
    set_velocity(b, c.velocity);
    bike_collide(b);
    const WheelContact& wc = b->wheel_contact[WHEEL_FRONT];
    expect_vec(wc.velocity, c.velocity, 1e-9, "contact velocity");
    EXPECT_NEAR(wheel_ground_mu(b, &wc), c.mu, 1e-6);
    dContact dc;
    ASSERT_TRUE(wheel_ground_dcontact(&wc, vec3(1, 0, 0), b->info.front_wheel.tyre_radius,
                                      wheel_ground_mu(b, &wc), &dc));
    EXPECT_NEAR(dc.surface.mu, c.mu, 1e-6);
    expect_vec(v3(dc.fdir1), c.fdir, 1e-9, "fdir1");
    dJointGroupEmpty(contact_group);
  }
}

TEST_F(CollideWheel, ArcadeGripFallsWithLean) {
  Bike* b = add_bike();
  EXPECT_EQ(wheel_grip_factor(b), 1.0);
  b->setup.arcade = true;
  EXPECT_EQ(wheel_grip_factor(b), 1.0);  // upright
  // Leaned over by 60 degrees.
  bike_reset_pose(b);
  bike_rotate(b, 0, 0, 1, PI / 3);
  bike_translate(b, 128, 5, 128);
  b->setup.arcade = true;
  physics_state.no_arcade = true;
  EXPECT_EQ(wheel_grip_factor(b), 1.0);
  physics_state.no_arcade = false;
  if (fabs(lean_angle(b)) < 0.5) GTEST_SKIP() << "lean_angle does not measure the lean yet";
  EXPECT_NEAR(wheel_grip_factor(b), 0.625, 1e-9);
  b->setup.arcade = false;
  EXPECT_EQ(wheel_grip_factor(b), 1.0);
}

TEST_F(CollideWheel, RollingResistanceOpposesTravelAlongTheGround) {
  struct Case {
    Vec3 velocity;
    double sink_in_tyres;
    bool slow_tile;  // a tile with rolling resistance (2, 4) instead of (5, 15)
    Vec3 force;
  };
  const Case cases[] = {
      {{0, 0, -10}, 1.0, false, {0, 0, 15}},    // full sinking: the deep value
      {{0, 0, -0.5}, 1.0, false, {0, 0, 7.5}},  // below 1 ft/s: in proportion to speed
      {{0, -5, -10}, 1.0, false, {0, 0, 15}},   // the part along the normal is left out
      {{0, 0, -10}, 0.5, false, {0, 0, 10}},    // half sunk: 5 + 10 * 0.5
      {{6, 0, 8}, 1.0, false, {-9, 0, -12}},    // any direction of travel
      {{0, 0, -10}, 1.0, true, {0, 0, 4}},      // the tile's own values
      {{0, 0, 0}, 1.0, false, {0, 0, 0}},       // at rest: none
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.force.z);
    if (c.slow_tile) {
      TileType* tile = single_tile();
      tile->roll_resist[0][0] = 2.0f;
      tile->roll_resist[0][1] = 4.0f;
    } else {
      track.hf.tile_count = 0;
    }
    Bike* b = add_bike();
    sink_wheel(b, WHEEL_REAR, c.sink_in_tyres * b->info.rear_wheel.tyre_radius);
    set_velocity(b, c.velocity);
    clear_forces(b);
    bike_collide(b);
    expect_vec(v3(dBodyGetForce(b->body[REAR_WHEEL])), c.force, 1e-4, "rear wheel force");
    EXPECT_EQ(force_size(b, FRONT_WHEEL), 0.0);  // not touching
    dJointGroupEmpty(contact_group);
  }
}

TEST_F(CollideWheel, ProbeFillsTheRecordWithoutJointsOrForces) {
  Bike* b = add_bike();
  sink_wheel(b, WHEEL_FRONT, 0.2);
  set_velocity(b, vec3(0, 0, -12));
  clear_forces(b);
  EXPECT_TRUE(wheel_ground_probe(b, WHEEL_FRONT));
  EXPECT_NEAR(b->wheel_contact[WHEEL_FRONT].depth, 0.2, 1e-6);
  expect_vec(b->wheel_contact[WHEEL_FRONT].velocity, vec3(0, 0, -12), 1e-9, "velocity");
  EXPECT_TRUE(contact_joints(b, FRONT_WHEEL).empty());
  EXPECT_EQ(force_size(b, FRONT_WHEEL), 0.0);
  EXPECT_FALSE(wheel_ground_probe(b, WHEEL_REAR));
  EXPECT_EQ(b->wheel_contact[WHEEL_REAR].depth, 0.0);
  EXPECT_FALSE(wheel_ground_probe(b, 2));
  // A wheel lifted off clears an old contact.
  sink_wheel(b, WHEEL_FRONT, -0.5);
  EXPECT_FALSE(wheel_ground_probe(b, WHEEL_FRONT));
  EXPECT_EQ(b->wheel_contact[WHEEL_FRONT].depth, 0.0);
}

// ---------------------------------------------------------------- shapes on the ground

class CollideShape : public CollideWorld {};

TEST_F(CollideShape, TouchingPartsMakeJointsAndMarkACrash) {
  struct Case {
    BikeBody part;
    bool marks_crash;
  };
  const Case cases[] = {
      {FRAME, false}, {STEERING, true}, {FORK_LOWER, true}, {SWINGARM, true}, {RIDER, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.part);
    Bike* b = add_bike();
    ASSERT_NE(b->shapes[c.part], nullptr);
    EXPECT_FALSE(bike_ground_collide(b));  // placed clear of the ground
    EXPECT_EQ(b->crashed_flag, 0);
    const dReal* p = dBodyGetPosition(b->body[c.part]);
    dBodySetPosition(b->body[c.part], p[0], 0.05, p[2]);
    EXPECT_TRUE(bike_ground_collide(b));
    std::vector<dJointID> joints = contact_joints(b, c.part);
    EXPECT_FALSE(joints.empty());
    for (dJointID j : joints) EXPECT_EQ(dJointGetBody(j, 1), nullptr);
    EXPECT_EQ(b->crashed_flag, c.marks_crash ? 1 : 0);
    dJointGroupEmpty(contact_group);
  }
}

TEST_F(CollideShape, RiderCrashesOnlyUpsideDownAtSpeedWhenNotStruck) {
  struct Case {
    bool upside_down;
    double speed;
    float blame;
    int32_t countdown;
    bool crash;
  };
  const Case cases[] = {
      {true, 6, 0, 0, true},   {true, 4, 0, 0, false}, {false, 6, 0, 0, false},
      {true, 6, -1, 0, false}, {true, 6, 50, 0, true}, {true, 6, 0, 100, false},
  };
  Bike* b = add_bike();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.speed) + " " + std::to_string(c.blame));
    dMatrix3 r;
    dRFromAxisAndAngle(r, 0, 0, 1, c.upside_down ? 0.9 * PI : 0.4 * PI);
    dBodySetRotation(b->body[RIDER], r);
    dBodySetLinearVel(b->body[RIDER], 0, 0, -c.speed);
    b->blame = c.blame;
    b->crash_countdown = c.countdown;
    EXPECT_EQ(rider_ground_crash_due(b), c.crash);
  }
}

TEST_F(CollideShape, BikeRestingOnFlatGroundStaysOnItsWheels) {
  Bike* b = add_bike();
  for (int32_t t = 0; t < 128; t++) {
    bike_collide(b);
    physics_world_step();
    physics_state.tick++;
  }
  for (int32_t w = WHEEL_FRONT; w <= WHEEL_REAR; w++) {
    SCOPED_TRACE(w);
    const WheelInfo& info = wheel_of(b, w);
    dBodyID body = b->body[body_of(w)];
    dVector3 axle;
    dBodyVectorToWorld(body, 1, 0, 0, axle);
    ContactResult now;
    bool touching = hf_torus_contact(&track.hf, v3(dBodyGetPosition(body)), v3(axle),
                                     info.ring_radius, info.tyre_radius, true, &now);
    // Not sunk into the ground, and not far above it either.
    if (touching) {
      EXPECT_LT(now.depth, 0.5 * info.tyre_radius);
    }
    double lowest = dBodyGetPosition(body)[1] - info.ring_radius - info.tyre_radius;
    EXPECT_LT(lowest, 0.05);
    EXPECT_GT(dBodyGetPosition(body)[1], info.tyre_radius * 0.75);
  }
  EXPECT_GT(b->wheel_contact[WHEEL_FRONT].depth + b->wheel_contact[WHEEL_REAR].depth, 0.0);
}

// ---------------------------------------------------------------- bike against bike

class BikePair : public CollideWorld {
 protected:
  // Bike a facing -z at (128, 128); bike b facing +z with its front wheel
  // overlapping a's front wheel by `overlap`.
  void front_to_front(Bike** a, Bike** b, double overlap = 0.1) {
    *a = add_bike(nullptr, 128, 128, 0);
    const WheelInfo& fw = (*a)->info.front_wheel;
    double a_front_z = v3(dBodyGetPosition((*a)->body[FRONT_WHEEL])).z;
    double reach = fw.ring_radius + fw.tyre_radius;
    double front_offset = a_front_z - 128;  // front wheel relative to the placing point
    double b_z = a_front_z - 2 * reach + overlap + front_offset;
    *b = add_bike(nullptr, 128, b_z, PI);
  }
  // Bike a facing -z at (128, 128); bike b facing -x coming from +x, moved
  // until its front wheel just reaches into a's rear wheel shape.
  void side_hit(Bike** a, Bike** b) {
    *a = add_bike(nullptr, 128, 128, 0);
    double rear_z = v3(dBodyGetPosition((*a)->body[REAR_WHEEL])).z;
    *b = add_bike(nullptr, 140, rear_z, PI / 2);
    const WheelInfo& fw = (*b)->info.front_wheel;
    ASSERT_TRUE(bike_shape_update(*a, REAR_WHEEL));
    for (int32_t step = 0; step < 2000; step++) {
      dBodyID wheel = (*b)->body[FRONT_WHEEL];
      dVector3 axle;
      dBodyVectorToWorld(wheel, 1, 0, 0, axle);
      ContactResult hit;
      if (wheel_shape_contact((*a)->shapes[REAR_WHEEL], v3(dBodyGetPosition(wheel)), v3(axle),
                              fw.ring_radius, fw.tyre_radius, &hit, nullptr, nullptr) &&
          hit.depth > 0.03)
        return;
      bike_translate(*b, -0.01, 0, 0);
    }
    FAIL() << "bike b never reached bike a";
  }
};

TEST_F(BikePair, FrontToFrontAtSpeedBlamesBoth) {
  struct Case {
    double a_speed, b_speed;
    float a_blame, b_blame;
  };
  const Case cases[] = {
      {15, 15, 192, 192},
      {15, 5, 192, 0},  // a bike slower than 10 ft/s is not at fault
      {10, 9.9, 192, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.a_speed) + " " + std::to_string(c.b_speed));
    Bike *a, *b;
    front_to_front(&a, &b);
    set_velocity(a, vec3(0, 0, -c.a_speed));
    set_velocity(b, vec3(0, 0, c.b_speed));
    int32_t hits = bike_pair_collide(a, b, false);
    EXPECT_TRUE(hits & PART_FRONT_WHEEL);
    EXPECT_FALSE(hits & (PART_REAR_WHEEL | PART_SWINGARM));
    EXPECT_EQ(a->blame, c.a_blame);
    EXPECT_EQ(b->blame, c.b_blame);
    // Joint mode: the two front wheels are joined by a contact for one step.
    EXPECT_TRUE(dAreConnected(a->body[FRONT_WHEEL], b->body[FRONT_WHEEL]));
    dJointGroupEmpty(contact_group);
    EXPECT_FALSE(bikes_joined(a, b));
    for (Bike* bike : {a, b}) bike_destroy(bike);
    bikes.clear();
  }
}

TEST_F(BikePair, FrontIntoTheSideBlamesTheStrikerAndProtectsTheStruck) {
  struct Case {
    double struck_speed, striker_speed;
    bool struck_knocked_out;
    bool striker_first;  // the striker is bike A of the pair test
    float struck_blame, striker_blame;
  };
  const Case cases[] = {
      {6, 15, false, false, BLAME_STRUCK, BLAME_AT_FAULT},
      {6, 15, false, true, BLAME_STRUCK, BLAME_AT_FAULT},
      {4, 15, false, false, 0, 0},  // the struck bike nearly stands: no fault
      {4, 15, false, true, 0, 0},
      {6, 8, false, false, 0, 0},  // the striker is slow
      {6, 8, false, true, 0, 0},
      {6, 15, true, false, 0, 0},  // the struck rider is already down
      {6, 15, true, true, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.struck_speed) + " " + std::to_string(c.striker_speed) +
                 (c.struck_knocked_out ? " out" : "") + (c.striker_first ? " striker first" : ""));
    Bike *struck, *striker;
    side_hit(&struck, &striker);
    set_velocity(struck, vec3(0, 0, -c.struck_speed));
    set_velocity(striker, vec3(-c.striker_speed, 0, 0));
    struck->crash_countdown = c.struck_knocked_out ? 300 : 0;
    int32_t hits = c.striker_first ? bike_pair_collide(striker, struck, false)
                                   : bike_pair_collide(struck, striker, false);
    if (c.striker_first)
      EXPECT_TRUE(hits & PART_REAR_WHEEL) << hits;
    else
      EXPECT_TRUE(hits & PART_FRONT_WHEEL) << hits;
    EXPECT_EQ(struck->blame, c.struck_blame);
    EXPECT_EQ(striker->blame, c.striker_blame);
    dJointGroupEmpty(contact_group);
    for (Bike* bike : {struck, striker}) bike_destroy(bike);
    bikes.clear();
  }
}

TEST_F(BikePair, BlameRulesOnTheirOwn) {
  Bike* a = add_bike(nullptr, 60, 60, 0);
  Bike* b = add_bike(nullptr, 180, 180, 0);
  struct Case {
    int32_t front_bits, hit_bits;
    double a_speed, b_speed;
    float a_start, b_start;
    float a_blame, b_blame;
  };
  const Case cases[] = {
      // A's lower fork took part and B's lower fork was hit: front against front.
      {PART_FORK_LOWER, PART_FORK_LOWER | PART_FRAME, 12, 12, 0, 0, 192, 192},
      // An existing larger blame stays; protection does not undo it for the striker.
      {PART_FRONT_WHEEL, PART_FRONT_WHEEL, 12, 12, 300, 0, 300, 192},
      // B's steering alone is not a front part that strikes.
      {0, PART_STEERING, 12, 12, 0, 0, 0, 0},
      // B's lower fork into A.
      {0, PART_FORK_LOWER, 6, 12, 0, 0, BLAME_STRUCK, BLAME_AT_FAULT},
      // A struck bike already more protected keeps the stronger value.
      {0, PART_FRONT_WHEEL, 6, 12, -700, 0, -700, BLAME_AT_FAULT},
      // A's front wheel into B's rider.
      {PART_FRONT_WHEEL, PART_RIDER, 12, 6, 0, 0, BLAME_AT_FAULT, BLAME_STRUCK},
      // Exactly 5 ft/s for the struck bike is enough.
      {PART_FRONT_WHEEL, PART_RIDER, 12, 5, 0, 0, BLAME_AT_FAULT, BLAME_STRUCK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.front_bits) + " " + std::to_string(c.hit_bits));
    set_velocity(a, vec3(0, 0, -c.a_speed));
    set_velocity(b, vec3(c.b_speed, 0, 0));
    a->blame = c.a_start;
    b->blame = c.b_start;
    bike_pair_blame(a, b, c.front_bits, c.hit_bits);
    EXPECT_EQ(a->blame, c.a_blame);
    EXPECT_EQ(b->blame, c.b_blame);
  }
}

TEST_F(BikePair, ContactIsRememberedByBothBikes) {
  Bike *a, *b;
  front_to_front(&a, &b);
  a->first_bike_contact_tick = 400;
  for (int32_t i = 0; i < 4; i++) a->lap_progress[i] = b->lap_progress[i] = 7;
  ASSERT_NE(bike_pair_collide(a, b, false), 0);
  for (Bike* bike : {a, b}) {
    EXPECT_EQ(bike->last_bike_contact_tick, physics_state.tick);
    for (int32_t i = 0; i < 4; i++) EXPECT_EQ(bike->lap_progress[i], 0);
  }
  EXPECT_EQ(a->first_bike_contact_tick, 400);
  EXPECT_EQ(b->first_bike_contact_tick, physics_state.tick);
}

TEST_F(BikePair, FarApartNothingHappens) {
  Bike* a = add_bike(nullptr, 60, 60, 0);
  Bike* b = add_bike(nullptr, 64, 60, 0);
  set_velocity(a, vec3(0, 0, -20));
  set_velocity(b, vec3(0, 0, -20));
  EXPECT_EQ(bike_pair_collide(a, b, false), 0);
  EXPECT_EQ(a->last_bike_contact_tick, -1);
  EXPECT_EQ(a->blame, 0);
  EXPECT_FALSE(bikes_joined(a, b));
  EXPECT_EQ(bike_pair_collide(a, a, false), 0);
}

TEST_F(BikePair, SecondContactInATickUsesPenaltyForces) {
  Bike *a, *b;
  front_to_front(&a, &b, 0.15);
  set_velocity(a, vec3(0, 0, -3));
  set_velocity(b, vec3(0, 0, 3));
  clear_forces(a);
  clear_forces(b);
  a->last_bike_contact_tick = physics_state.tick;  // a touched another bike already
  ASSERT_TRUE(bike_pair_collide(a, b, false) & PART_FRONT_WHEEL);
  EXPECT_FALSE(bikes_joined(a, b));
  Vec3 fa = v3(dBodyGetForce(a->body[FRONT_WHEEL]));
  Vec3 fb = v3(dBodyGetForce(b->body[FRONT_WHEEL]));
  // b is pushed away from a (towards -z), a back the other way.
  EXPECT_LT(fb.z, -1.0);
  EXPECT_GT(fa.z, 1.0);

  // A disabled bike gets no penalty force; the other still does.
  clear_forces(a);
  clear_forces(b);
  bike_disable(b);
  ASSERT_NE(bike_pair_collide(a, b, false), 0);
  for (int32_t i = 0; i < BIKE_BODY_COUNT; i++) EXPECT_EQ(force_size(b, i), 0.0) << i;
  EXPECT_GT(v3(dBodyGetForce(a->body[FRONT_WHEEL])).z, 1.0);
}

TEST_F(BikePair, PenaltyForceIsLimited) {
  Bike *a, *b;
  front_to_front(&a, &b, 0.3);
  // Back b off until a's front wheel only just reaches into it.
  ASSERT_TRUE(bike_shape_update(a, FRONT_WHEEL));
  const WheelInfo& fw = b->info.front_wheel;
  for (int32_t step = 0; step < 500; step++) {
    dBodyID wheel = b->body[FRONT_WHEEL];
    dVector3 axle;
    dBodyVectorToWorld(wheel, 1, 0, 0, axle);
    ContactResult hit;
    if (!wheel_shape_contact(a->shapes[FRONT_WHEEL], v3(dBodyGetPosition(wheel)), v3(axle),
                             fw.ring_radius, fw.tyre_radius, &hit, nullptr, nullptr) ||
        hit.depth < 0.004)
      break;
    bike_translate(b, 0, 0, -0.002);
  }
  b->last_bike_contact_tick = physics_state.tick;
  // The forces on b's front wheel when the bikes close at the given speed.
  auto push = [&](double closing) {
    set_velocity(a, vec3(0, 0, -closing / 2));
    set_velocity(b, vec3(0, 0, closing / 2));
    clear_forces(a);
    clear_forces(b);
    EXPECT_NE(bike_pair_collide(a, b, false), 0);
    return v3(dBodyGetForce(b->body[FRONT_WHEEL]));
  };
  Vec3 slow = push(0.05), fast = push(400), faster = push(800);
  // Each contact's force grows with the closing speed until it reaches 1000 lbf.
  EXPECT_LT(slow.z, -1.0);
  EXPECT_LT(fast.z, slow.z - 100.0);
  expect_vec(faster, fast, 1e-9, "saturated");
  // Pulling apart fast saturates the other way.
  Vec3 apart = push(-800);
  expect_vec(apart, fast * -1.0, 1e-9, "pulling");
}

TEST_F(BikePair, OnlineRearMeetingARemoteFrontIsOnlyDetected) {
  for (bool online : {false, true}) {
    SCOPED_TRACE(online);
    Bike *local, *remote;
    side_hit(&local, &remote);
    set_velocity(local, vec3(0, 0, -6));
    set_velocity(remote, vec3(-15, 0, 0));
    clear_forces(local);
    clear_forces(remote);
    int32_t hits = bike_pair_collide(local, remote, online);
    EXPECT_TRUE(hits & PART_FRONT_WHEEL) << hits;
    EXPECT_EQ(dAreConnected(local->body[REAR_WHEEL], remote->body[FRONT_WHEEL]), !online);
    if (online) {
      EXPECT_FALSE(bikes_joined(local, remote));
      // Detected all the same: the blame rules and the contact bookkeeping run.
      EXPECT_EQ(remote->blame, BLAME_AT_FAULT);
      EXPECT_EQ(local->blame, BLAME_STRUCK);
    }
    EXPECT_EQ(local->last_bike_contact_tick, physics_state.tick);
    dJointGroupEmpty(contact_group);
    for (Bike* bike : {local, remote}) bike_destroy(bike);
    bikes.clear();
  }
}

TEST_F(BikePair, WheelRestingOnAnotherBikeCountsAsTouching) {
  Bike *a, *b;
  front_to_front(&a, &b);
  // Lift both off the ground: only the bikes touch each other.
  bike_translate(a, 0, 3, 0);
  bike_translate(b, 0, 3, 0);
  bike_collide(a);
  bike_collide(b);
  ASSERT_EQ(b->wheel_contact[WHEEL_FRONT].depth, 0.0);
  ASSERT_NE(bike_pair_collide(a, b, false) & PART_FRONT_WHEEL, 0);
  const WheelContact& wc = b->wheel_contact[WHEEL_FRONT];
  EXPECT_GT(wc.depth, 0.0);
  // The normal points from a's front wheel towards b's, along -z.
  EXPECT_LT(wc.normal.z, -0.9);
  EXPECT_EQ(b->wheel_contact[WHEEL_REAR].depth, 0.0);
}

// ---------------------------------------------------------------- bike against objects

class BikeObject : public CollideWorld {
 protected:
  std::vector<float> elements;
  Shape shape{};
  // A statue of one sphere of radius 1 at local (lx, ly, lz), standing at
  // (x, y, z) turned by the orientation (columns = its axes).
  int32_t add_statue(double lx, double ly, double lz, double x, double y, double z,
                     const float orientation[3][3] = nullptr) {
    elements = {(float)lx, (float)ly, (float)lz, 1.0f, 0.7f, 5000.0f, 100.0f};
    shape.count = 1;
    shape.elements = (float(*)[7])elements.data();
    shape.bounding_radius = shape_bounding_radius(shape.elements, 1);
    Statue s{};
    s.shape = &shape;
    s.x = (float)x;
    s.y = (float)y;
    s.z = (float)z;
    for (int32_t r = 0; r < 3; r++)
      for (int32_t c = 0; c < 3; c++)
        s.orientation[r][c] = orientation ? orientation[r][c] : (r == c ? 1.0f : 0.0f);
    s.last_hit_tick = -1;
    grow_push(track.objects.statues, s);
    statue_grid_build(&track.objects, &track.hf);
    return track.objects.statues.count - 1;
  }
};

TEST_F(BikeObject, BikeDrivenIntoAStatueMakesContactsAndMarksIt) {
  Bike* b = add_bike(nullptr, 128, 128, 0);
  Vec3 front = v3(dBodyGetPosition(b->body[FRONT_WHEEL]));
  const WheelInfo& fw = b->info.front_wheel;
  // A sphere just ahead of the front tyre, overlapping it by 0.1 ft.
  int32_t near =
      add_statue(0, 0, 0, front.x, front.y, front.z - fw.ring_radius - fw.tyre_radius - 0.9);
  int32_t far = add_statue(0, 0, 0, 30, 1, 30);
  set_velocity(b, vec3(0, 0, -10));
  bike_collide(b);
  std::vector<dJointID> joints = contact_joints(b, FRONT_WHEEL);
  ASSERT_FALSE(joints.empty());
  for (dJointID j : joints) EXPECT_EQ(dJointGetBody(j, 1), nullptr);  // static object
  EXPECT_EQ(track.objects.statues.data[near].last_hit_tick, physics_state.tick);
  EXPECT_EQ(track.objects.statues.data[far].last_hit_tick, -1);

  // Drawn back clear of it: no contact, the mark stays from before.
  bike_translate(b, 0, 0, 2);
  dJointGroupEmpty(contact_group);
  physics_state.tick++;
  bike_collide(b);
  EXPECT_TRUE(contact_joints(b, FRONT_WHEEL).empty());
  EXPECT_EQ(track.objects.statues.data[near].last_hit_tick, physics_state.tick - 1);
}

TEST_F(BikeObject, ObjectShapeIsTurnedByItsOrientation) {
  Bike* b = add_bike(nullptr, 128, 128, 0);
  Vec3 rider = v3(dBodyGetPosition(b->body[RIDER]));
  // The element lies 5 ft along the statue's first axis, which points along -z.
  const float turned[3][3] = {{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}};
  const float at[3] = {(float)rider.x, (float)rider.y, (float)(rider.z + 5)};
  elements = {5.0f, 0.0f, 0.0f, 1.0f, 1.0f, 5000.0f, 100.0f};
  Shape object{1, (float(*)[7])elements.data(), nullptr, 6.0f};
  int32_t hits = bike_object_collide(b, &object, at, turned, nullptr);
  EXPECT_TRUE(hits & PART_RIDER) << hits;
  // Unturned, the element would lie 5 ft to the side of the rider.
  const float identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const float beside[3] = {(float)rider.x, (float)rider.y, (float)rider.z};
  EXPECT_EQ(bike_object_collide(b, &object, beside, identity, nullptr) & PART_RIDER, 0);
  EXPECT_EQ(bike_object_collide(b, nullptr, at, turned, nullptr), 0);
}

TEST_F(BikeObject, WheelOnAnObjectCountsAsTouchingAndMovingObjectsJoinBodies) {
  Bike* b = add_bike(nullptr, 128, 128, 0);
  bike_translate(b, 0, 5, 0);
  bike_collide(b);
  ASSERT_EQ(b->wheel_contact[WHEEL_REAR].depth, 0.0);
  Vec3 rear = v3(dBodyGetPosition(b->body[REAR_WHEEL]));
  const WheelInfo& rw = b->info.rear_wheel;
  // A moving box-like object (one sphere on its own body) under the rear tyre.
  dBodyID object = dBodyCreate(physics_world);
  const float at[3] = {(float)rear.x, (float)(rear.y - rw.ring_radius - rw.tyre_radius - 0.9),
                       (float)rear.z};
  dBodySetPosition(object, at[0], at[1], at[2]);
  elements = {0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 5000.0f, 100.0f};
  Shape s{1, (float(*)[7])elements.data(), nullptr, 1.0f};
  const float identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  int32_t hits = bike_object_collide(b, &s, at, identity, object);
  EXPECT_TRUE(hits & PART_REAR_WHEEL) << hits;
  EXPECT_TRUE(dAreConnected(object, b->body[REAR_WHEEL]));
  const WheelContact& wc = b->wheel_contact[WHEEL_REAR];
  EXPECT_NEAR(wc.depth, 0.1, 1e-4);
  expect_vec(wc.normal, vec3(0, 1, 0), 1e-6, "normal");
  dJointGroupEmpty(contact_group);
  dBodyDestroy(object);
}

// ---------------------------------------------------------------- wheel marks

class CollideMarks : public CollideWorld {};

TEST_F(CollideMarks, RecordWritesAndAdvancesByTheTileRule) {
  TileType* tile = single_tile();
  tile->erode_off_speed = 10;
  tile->erode_on_speed = 15;
  tile->erode_lower = 50;
  struct Case {
    double wheel_speed;
    double force_x;
    bool touching;
    bool written;
    bool advances;
    float mark_fx;
  };
  const Case cases[] = {
      {20, 100, true, true, true, 100},    // u = 1
      {12.5, 120, true, true, true, 60},   // u = 0.5: 60^2 > 50^2
      {12.5, 100, true, true, false, 50},  // u = 0.5: 50^2 is not above 50^2
      {5, 1000, true, true, false, 0},     // below erode_off_speed
      {20, 100, false, false, false, 0},   // not touching: nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.wheel_speed) + " " + std::to_string(c.force_x));
    Bike* b = add_bike();
    WheelContact& wc = b->wheel_contact[WHEEL_REAR];
    wc.depth = c.touching ? 0.1 : 0;
    wc.point = vec3(100.5, 0, 90.25);
    dBodySetLinearVel(b->body[REAR_WHEEL], 0, 0, -c.wheel_speed);
    memset(&b->wheel_feedback[WHEEL_REAR], 0, sizeof(dJointFeedback));
    b->wheel_feedback[WHEEL_REAR].f1[0] = c.force_x;
    b->wheel_feedback[WHEEL_REAR].f1[1] = 500;  // the vertical part does not count
    b->wheel_marks.marks[0] = WheelMark{-1, -1, -1, -1};
    record_wheel_mark(b, WHEEL_REAR);
    EXPECT_EQ(wheel_marks_count(&b->wheel_marks), c.advances ? 1 : 0);
    const WheelMark& m = b->wheel_marks.marks[0];
    if (c.written) {
      EXPECT_FLOAT_EQ(m.x, 100.5f);
      EXPECT_FLOAT_EQ(m.z, 90.25f);
      EXPECT_NEAR(m.force_x, c.mark_fx, 1e-3);
      EXPECT_EQ(m.force_z, 0.0f);
    } else {
      EXPECT_EQ(m.x, -1.0f);
    }
  }
}

TEST_F(CollideMarks, FullRingIsLeftAlone) {
  Bike* b = add_bike();
  b->wheel_marks.read_index = 5;
  b->wheel_marks.write_index = 4;  // advancing would reach the read index
  ASSERT_TRUE(wheel_marks_full(&b->wheel_marks));
  b->wheel_marks.marks[4] = WheelMark{-1, -1, -1, -1};
  b->wheel_contact[WHEEL_FRONT].depth = 0.1;
  b->wheel_contact[WHEEL_FRONT].point = vec3(10, 0, 10);
  b->wheel_feedback[WHEEL_FRONT].f1[0] = 1000;
  dBodySetLinearVel(b->body[FRONT_WHEEL], 30, 0, 0);
  record_wheel_mark(b, WHEEL_FRONT);
  EXPECT_EQ(b->wheel_marks.write_index, 4);
  EXPECT_EQ(b->wheel_marks.marks[4].x, -1.0f);
}

TEST_F(CollideMarks, ForceComesFromTheStepAfterTheContact) {
  // Default ground tiles: erosion between 10 and 15 ft/s, lower bound 50.
  Bike* b = add_bike();
  for (int32_t t = 0; t < 64; t++) {  // settle onto the wheels
    bike_collide(b);
    physics_world_step();
  }
  // Sliding forwards on locked wheels at 20 ft/s.
  set_velocity(b, vec3(0, 0, -20));
  bike_collide(b);
  ASSERT_GT(b->wheel_contact[WHEEL_REAR].depth, 0.0);
  EXPECT_EQ(b->wheel_feedback[WHEEL_REAR].f1[1], 0.0);  // cleared until the step
  physics_world_step();
  EXPECT_GT(b->wheel_feedback[WHEEL_REAR].f1[1], 10.0);  // the ground carries the wheel
  record_wheel_mark(b, WHEEL_REAR);
  const WheelMark& m = b->wheel_marks.marks[0];
  EXPECT_FLOAT_EQ(m.x, (float)b->wheel_contact[WHEEL_REAR].point.x);
  EXPECT_FLOAT_EQ(m.z, (float)b->wheel_contact[WHEEL_REAR].point.z);
  EXPECT_FLOAT_EQ(m.force_z, (float)b->wheel_feedback[WHEEL_REAR].f1[2]);
  // The friction pushes the sliding wheel back (towards +z).
  EXPECT_GT(m.force_z, 0.0f);
}

}  // namespace

// Replayed bikes only mark the starting-gate plates they touch, during the
// first 10 s of the race clock; they get no contact joints.
TEST(CollideStartingGate, ReplayedBikeMarksThePlateItTouches) {
  TempDir home;
  ScopedEnv env_xdg{"XDG_DATA_HOME", home.path.c_str()};
  ScopedEnv env_rt{"RT_HOME", RT_BINARY_DIR};
  file_list_free();
  settings_init_defaults();
  ASSERT_TRUE(physics_world_create());
  track = Track{};
  track.name = "practice";
  ASSERT_EQ(track_load(), 1);
  ASSERT_GT(track.timing.starting_gate_count, 0);
  const StartingGate& gate = track.timing.starting_gates[0];
  Statue* plate = grow_at(track.objects.statues, gate.statue);
  ASSERT_NE(plate, nullptr);
  ASSERT_NE(plate->shape, nullptr);
  Bike* bike = bike_create("crf450(2016)", "1", nullptr, nullptr, nullptr, nullptr, 0);
  ASSERT_NE(bike, nullptr);
  // Right on the plate, facing through the gate.
  bike_place(bike, plate->x, plate->z, gate.angle);
  dJointGroupEmpty(contact_group);
  bike_disable(bike);
  BikeSlot slots[1] = {{bike, REPLAYED, nullptr}};
  physics_state_reset();
  physics_state.race_start_tick = 100;
  physics_state.tick = 1379;  // 10 s after the start, less one tick
  plate->last_hit_tick = -1;
  physics_tick(slots, 1);
  EXPECT_EQ(plate->last_hit_tick, 1379);
  int32_t contacts = 0;
  for (int32_t b = 0; b < BIKE_BODY_COUNT; b++)
    for (int32_t j = 0; j < dBodyGetNumJoints(bike->body[b]); j++)
      if (dJointGetType(dBodyGetJoint(bike->body[b], j)) == dJointTypeContact) contacts++;
  EXPECT_EQ(contacts, 0);
  physics_state.tick = 1380;  // from 10 s on the plates are not tested
  plate->last_hit_tick = -1;
  physics_tick(slots, 1);
  EXPECT_EQ(plate->last_hit_tick, -1);
  bike_destroy(bike);
  track_free();
  track = Track{};
  physics_world_destroy();
  shape_cache_free();
  file_list_free();
}
