// Crash checks, the knocked-out rider's recovery and the foot particles,
// tested on posed bikes by calling the pieces directly and reading the forces
// and one-tick joints they leave behind.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "physics/crash.h"
#include "physics/rider_control.h"
#include "tests/crash_fixture.h"

namespace {

// The suites.
class CrashRider : public PosedBike {};
class KnockoutRider : public PosedBike {};
class FeetParticles : public PosedBike {};

}  // namespace

// ---------------------------------------------------------------- crash checks

TEST_F(CrashRider, ToleranceAfterLongFlights) {
  struct Case {
    int32_t takeoff, landing, tick;
    double f;
  } cases[] = {
      {1000, 900, 1010, 1.5},  // airborne
      {900, 988, 988, 1.0},    // 0.6875 s flight, just landed
      {900, 988, 1004, 1.0},   // 0.125 s after landing
      {900, 988, 1012, 1.25},  // half-way back
      {900, 988, 1020, 1.5},   // 0.25 s after landing
      {900, 988, 1100, 1.5},
      {900, 964, 964, 1.5},  // 0.5 s flight: short
      {900, 980, 980, 1.5 - 0.5 * (80 * H - 0.559) * 7.9365087},
      {0, 0, 5000, 1.5},  // never flew
  };
  for (const Case& c : cases) {
    bike->takeoff_tick = c.takeoff;
    bike->landing_tick = c.landing;
    EXPECT_NEAR(crash_tolerance(bike, c.tick), c.f, 1e-6) << c.takeoff << " " << c.landing;
  }
}

TEST_F(CrashRider, SpeedAndJoltLimits) {
  // f = 1.0 (just after a long flight) or 1.5: 31 / 46.5 ft/s, 1376 / 2064 ft/s^2.
  struct Case {
    bool long_flight;
    bool jolt;  // else the speed test
    double amount;
    float blame;
    bool crash;
  } cases[] = {
      {true, false, 30.5, 0, false},  {true, false, 31.5, 0, true}, {false, false, 46, 0, false},
      {false, false, 47, 0, true},    {true, true, 1370, 0, false}, {true, true, 1382, 0, true},
      {false, true, 2058, 0, false},  {false, true, 2070, 0, true}, {false, false, 200, -1, false},
      {false, true, 9000, -1, false},  // struck bikes stay on
      {false, false, 47, 5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.long_flight << " " << c.jolt << " " << c.amount);
    pose(0);
    physics_state.tick = 2000;
    bike->takeoff_tick = c.long_flight ? 1900 : 1990;
    bike->landing_tick = 1996;
    bike->blame = c.blame;
    dBodyID rider = bike->body[RIDER];
    float* ring = bike->rider_velocity_ring[physics_state.tick % 4];
    if (c.jolt) {
      // At rest now, 4 ticks ago moving sideways (and falling as gravity wants).
      ring[0] = (float)(-c.amount * 4 * H);
      ring[1] = (float)(32 * 4 * H);
      ring[2] = 0;
    } else {
      dBodySetLinearVel(rider, c.amount, 0, 0);
      for (int i = 0; i < 3; i++) ring[i] = (float)dBodyGetLinearVel(rider)[i];
    }
    crash_checks(bike);
    EXPECT_EQ(bike_knocked_out(bike), c.crash);
    EXPECT_EQ(bike->crash_count, c.crash ? 1 : 0);
  }
  // The rider's speed counts against the frame's velocity at the rider's
  // position: a spinning frame carries the rider along.
  pose(0);
  dBodySetAngularVel(bike->body[FRAME], 0, 10, 0);
  Vec3 r = pos(bike, RIDER);
  dVector3 carried;
  dBodyGetPointVel(bike->body[FRAME], r.x, r.y, r.z, carried);
  dBodySetLinearVel(bike->body[RIDER], carried[0], carried[1], carried[2] + 40);
  for (int i = 0; i < 3; i++)
    bike->rider_velocity_ring[physics_state.tick % 4][i] = (float)carried[i];
  bike->rider_velocity_ring[physics_state.tick % 4][2] += 40;
  crash_checks(bike);
  EXPECT_FALSE(bike_knocked_out(bike));
  // Nothing while already knocked out.
  pose(0);
  bike->crash_countdown = 5;
  dBodySetLinearVel(bike->body[RIDER], 500, 0, 0);
  crash_checks(bike);
  EXPECT_EQ(bike->crash_count, 0);
  EXPECT_EQ(bike->crash_countdown, 5);
}

TEST_F(CrashRider, RiderLetsGoAndCountsCrashes) {
  pose(0, 10);
  dBodySetAngularVel(bike->body[RIDER], 0, 0, 2);
  FeetPose feet = feet_pose(bike);
  rider_crash(bike);
  EXPECT_EQ(dJointGetBody(bike->joint[RIDER_MOUNT], 0), nullptr);
  EXPECT_EQ(dJointGetBody(bike->joint[RIDER_MOUNT], 1), nullptr);
  EXPECT_EQ(bike->crash_countdown, 512);
  EXPECT_EQ(bike->crash_count, 1);
  // The particles start at the riding feet with the rider's velocity there.
  dVector3 v;
  dBodyGetPointVel(bike->body[RIDER], feet.left.x, feet.left.y, feet.left.z, v);
  EXPECT_NEAR(bike->left_foot_pos[0], feet.left.x, 1e-4);
  EXPECT_NEAR(bike->left_foot_pos[1], feet.left.y, 1e-4);
  EXPECT_NEAR(bike->left_foot_vel[0], v[0], 1e-4);
  EXPECT_NEAR(bike->left_foot_vel[1], v[1], 1e-4);
  EXPECT_NEAR(bike->left_foot_vel[2], v[2], 1e-4);
  EXPECT_NEAR(bike->right_foot_pos[0], feet.right.x, 1e-4);
  EXPECT_GT(std::fabs(bike->left_foot_vel[0] - bike->right_foot_vel[0]) +
                std::fabs(bike->left_foot_vel[1] - bike->right_foot_vel[1]),
            0.1);  // the spin shows

  // The server's extra time by crash number; the 16th and later use the last.
  for (int i = 0; i < KNOCKOUT_TICKS_COUNT; i++) physics_state.knockout_ticks[i] = 10 * (i + 1);
  struct Case {
    int32_t count_before, countdown;
  } cases[] = {{0, 522}, {1, 532}, {14, 662}, {15, 672}, {16, 672}, {40, 672}};
  for (const Case& c : cases) {
    pose(0);
    bike->crash_count = c.count_before;
    rider_crash(bike);
    EXPECT_EQ(bike->crash_countdown, c.countdown) << c.count_before;
    EXPECT_EQ(bike->crash_count, c.count_before + 1);
  }
  // A negative extra never leaves a detached rider without a knocked-out phase.
  pose(0);
  physics_state.knockout_ticks[0] = -2000;
  rider_crash(bike);
  EXPECT_GT(bike->crash_countdown, 0);
}

// ---------------------------------------------------------------- tether

TEST_F(CrashRider, TetherPullsOnlyBeyondItsLength) {
  dWorldSetGravity(physics_world, 0, 0, 0);
  dBodyID a = dBodyCreate(physics_world);
  dBodyID b = dBodyCreate(physics_world);
  dMass m;
  dMassSetSphereTotal(&m, 1, 0.5);
  dBodySetMass(a, &m);
  dBodySetMass(b, &m);
  dBodySetPosition(a, 0, 10, 0);
  dBodySetPosition(b, 10, 10, 0);
  // Body points 1 ft off the centres, on the line: 8 ft apart.
  tether(a, vec3(1, 0, 0), b, vec3(-1, 0, 0), 8);
  EXPECT_TRUE(joints_of(a, dJointTypeContact).empty());
  tether(a, vec3(1, 0, 0), b, vec3(-1, 0, 0), 8.01);
  EXPECT_TRUE(joints_of(a, dJointTypeContact).empty());
  // Beyond: one joint, pulling the points together at ERP * depth / h along the
  // unscaled separation (kp 5000, kd 500).
  dBodySetPosition(a, 0, 10, 0);
  dBodySetPosition(b, 12, 10, 0);
  tether(a, vec3(1, 0, 0), b, vec3(-1, 0, 0), 8);
  ASSERT_EQ(contacts_between(a, b), 1);
  physics_world_step();
  double cfm = 1 / (H * 5000 + 500), erp = H * 5000 * cfm;
  double d = 10, depth = 2;
  double closing = erp * depth / H / d;
  double closing_soft = closing * (2 * d * d) / (2 * d * d + cfm / H);
  Vec3 va = fx_vec(dBodyGetLinearVel(a)), vb = fx_vec(dBodyGetLinearVel(b));
  EXPECT_NEAR(va.x - vb.x, closing_soft, 1e-3 * closing);
  EXPECT_NEAR(va.x, -vb.x, 1e-9);
  EXPECT_GT(va.x, 0);
  EXPECT_TRUE(joints_of(a, dJointTypeContact).empty());  // one step only
  dBodyDestroy(a);
  dBodyDestroy(b);
}

// ---------------------------------------------------------------- knockout

TEST_F(KnockoutRider, CountsDownOnlyAtRest) {
  const BikeInfo& info = bike->info;
  dBodyID rider = bike->body[RIDER];
  dBodyID steering = bike->body[STEERING];
  auto world = [](dBodyID body, Vec3 p) {
    dVector3 w;
    dBodyGetRelPointPos(body, p.x, p.y, p.z, w);
    return fx_vec(w);
  };
  // The tethers the rules ask for in the rider's current place.
  auto expected_tethers = [&]() {
    double reach = 0.875 * (info.arm_lengths[0] + info.arm_lengths[1]);
    int n = 0;
    for (int side = 0; side < 2; side++)
      n += vec3_length(world(rider, fv3(info.shoulder_pos[side])) -
                       world(steering, fv3(info.grip_pos[side]))) > reach;
    Vec3 hip = vec3(0, info.hip_pos[1][1], info.hip_pos[1][2]);
    Vec3 bar = vec3(0, info.grip_pos[1][1], info.grip_pos[1][2] + 10.0);
    if (bike->crash_countdown > 511) n += vec3_length(world(rider, hip) - world(steering, bar)) > 8;
    return n;
  };
  pose(0);
  rider_crash(bike);
  ASSERT_EQ(bike->crash_countdown, 512);
  // Sliding away from the bike: the countdown stands and the hands hold on.
  Vec3 r = pos(bike, RIDER);
  dBodySetPosition(rider, r.x + 6, r.y, r.z);
  dBodySetLinearVel(rider, 2.0, 0, 0);
  int expected = expected_tethers();
  EXPECT_GE(expected, 2);
  knockout_step(bike);
  EXPECT_EQ(bike->crash_countdown, 512);
  EXPECT_EQ(contacts_between(rider, steering), expected);
  EXPECT_EQ(contacts_between(rider, bike->body[FRAME]), 0);
  dJointGroupEmpty(contact_group);

  // Sliding through the bike: the rider's shape collides with its own frame.
  Vec3 f = pos(bike, FRAME);
  dBodySetPosition(rider, f.x, f.y, f.z);
  dBodySetLinearVel(rider, 0, -3, 0);
  knockout_step(bike);
  EXPECT_EQ(bike->crash_countdown, 512);
  EXPECT_GT(contacts_between(rider, bike->body[FRAME]), 0);
  for (dJointID j : joints_of(rider, dJointTypeContact))
    if (dJointGetBody(j, 1) == rider) {
      EXPECT_TRUE(dJointGetBody(j, 0) == bike->body[FRAME] || dJointGetBody(j, 0) == steering);
    }
  dJointGroupEmpty(contact_group);

  // At rest it counts; the walk back begins with 511 left.
  dBodySetLinearVel(rider, 1.9, 0, 0);
  knockout_step(bike);
  EXPECT_EQ(bike->crash_countdown, 511);
  EXPECT_EQ(contacts_between(rider, steering), 0);  // no hands while at rest
  dJointGroupEmpty(contact_group);
  dBodySetLinearVel(rider, 0, 0, 0);
  for (int t = 0; t < 100; t++) knockout_step(bike);
  EXPECT_EQ(bike->crash_countdown, 411);
}

TEST_F(KnockoutRider, WalkBackTethersShrinkToTheSeat) {
  // The rider lifted straight up from its seat by `up`: the three walk-back
  // tethers act when that exceeds L = 5 clamp((countdown - 128) / 384, 0, 1).
  struct Case {
    int32_t countdown;
    double up;
    int joints;
  } cases[] = {
      {511, 4.98, 0}, {511, 4.99, 3}, {320, 2.49, 0}, {320, 2.51, 3},
      {128, 0.0, 0},  {128, 0.01, 3}, {5, 0.01, 3},   {600, 4.99, 0},  // 600: L = 5
  };
  for (const Case& c : cases) {
    pose(0);
    rider_crash(bike);
    bike->crash_countdown = c.countdown;
    Vec3 s = seat();
    dBodySetPosition(bike->body[RIDER], s.x, s.y + c.up, s.z);
    walk_back(bike);
    EXPECT_EQ(contacts_between(bike->body[FRAME], bike->body[RIDER]), c.joints)
        << c.countdown << " " << c.up;
    dJointGroupEmpty(contact_group);
  }
}

TEST_F(KnockoutRider, HighSideFootStepsOver) {
  struct Case {
    double lean;
    int32_t countdown;
    double away;  // distance of the foot from its target
    bool left;    // which foot moves
    double speed;
  } cases[] = {
      {0.3, 319, 3.0, false, 4},
      {-0.3, 319, 3.0, true, 4},
      {0.0, 200, 1.0 / 64, false, 2},  // close: e shorter than 1
      {0.3, 320, 3.0, false, 0},       // too early
  };
  for (const Case& c : cases) {
    pose(c.lean);
    rider_crash(bike);
    bike->crash_countdown = c.countdown;
    int side = c.left ? 0 : 1;
    dVector3 target;
    const float* peg = bike->info.footpeg_pos[side];
    dBodyGetRelPointPos(bike->body[FRAME], peg[0], peg[1] + 3, peg[2] + 1, target);
    float* foot = c.left ? bike->left_foot_pos : bike->right_foot_pos;
    float* vel = c.left ? bike->left_foot_vel : bike->right_foot_vel;
    float* other_vel = c.left ? bike->right_foot_vel : bike->left_foot_vel;
    foot[0] = (float)(target[0] - c.away);
    foot[1] = (float)target[1];
    foot[2] = (float)target[2];
    for (int i = 0; i < 3; i++) vel[i] = other_vel[i] = 0.5f;
    walk_back(bike);
    if (c.speed == 0) {
      EXPECT_EQ(vel[0], 0.5f);
      continue;
    }
    EXPECT_NEAR(vel[0], c.speed, 1e-3) << c.lean;
    EXPECT_NEAR(vel[1], 0, 1e-3);
    EXPECT_EQ(other_vel[0], 0.5f);
  }
}

TEST_F(KnockoutRider, RemountPutsTheRiderOnItsSeat) {
  pose(0.2, 0, 1.0);
  rider_crash(bike);
  bike->crash_countdown = 1;
  dBodyID rider = bike->body[RIDER];
  dBodySetPosition(rider, 140, 1, 130);
  dMatrix3 tumbled;
  dRFromAxisAndAngle(tumbled, 1, 0, 0, 2.0);
  dBodySetRotation(rider, tumbled);
  dBodySetLinearVel(rider, 0.5, 0, 0);
  knockout_step(bike);
  EXPECT_EQ(bike->crash_countdown, 0);
  EXPECT_EQ(dJointGetBody(bike->joint[RIDER_MOUNT], 0), rider);
  EXPECT_EQ(dJointGetBody(bike->joint[RIDER_MOUNT], 1), bike->body[FRAME]);
  Vec3 s = seat(), p = pos(bike, RIDER);
  EXPECT_NEAR(p.x, s.x, 1e-9);
  EXPECT_NEAR(p.y, s.y, 1e-9);
  EXPECT_NEAR(p.z, s.z, 1e-9);
  const dReal* rr = dBodyGetRotation(rider);
  const dReal* fr = dBodyGetRotation(bike->body[FRAME]);
  for (int i = 0; i < 12; i++) EXPECT_NEAR(rr[i], fr[i], 1e-9);
  EXPECT_EQ(vel(bike, RIDER).x, 0.5);  // velocity kept
}

// ---------------------------------------------------------------- feet

TEST_F(FeetParticles, PoseOnThePegsAndWhileKnockedOut) {
  pose(0.2, 0, 0.5);
  const BikeInfo& info = bike->info;
  auto frame_point = [&](Vec3 p) {
    dVector3 w;
    dBodyGetRelPointPos(bike->body[FRAME], p.x, p.y, p.z, w);
    return fx_vec(w);
  };
  auto near = [](Vec3 a, Vec3 b, double tol) {
    return std::fabs(a.x - b.x) < tol && std::fabs(a.y - b.y) < tol && std::fabs(a.z - b.z) < tol;
  };
  FeetPose riding = feet_pose(bike);
  EXPECT_TRUE(near(riding.left, frame_point(fv3(info.footpeg_pos[0])), 1e-9));
  EXPECT_TRUE(near(riding.right, frame_point(fv3(info.footpeg_pos[1])), 1e-9));
  EXPECT_EQ(riding.left_weight, 0);
  EXPECT_EQ(riding.right_weight, 0);

  Vec3 particle_l = vec3(100, 2, 90), particle_r = vec3(101, 3, 91);
  for (int i = 0; i < 3; i++) {
    bike->left_foot_pos[i] = (float)(&particle_l.x)[i];
    bike->right_foot_pos[i] = (float)(&particle_r.x)[i];
  }
  struct Case {
    int32_t countdown;
    double a, b, c, w;  // peg offsets and the particles' share
  } cases[] = {
      {300, 0.5, 1.75, 1, 1},
      {128, 0.5, 1.75, 1, 1},
      {96, 0.25, 1.75, 1, 64.0 / 128},
      {48, 0, 1.75 * 0.75, 0.5, 1.0 / 128},
      {1, 0, 1.75 / 64, 1.0 / 96, 1.0 / 128},
  };
  for (const Case& c : cases) {
    bike->crash_countdown = c.countdown;
    FeetPose p = feet_pose(bike);
    Vec3 l = frame_point(fv3(info.footpeg_pos[0]) + vec3(-c.a, c.b, c.c));
    Vec3 r = frame_point(fv3(info.footpeg_pos[1]) + vec3(c.a, c.b, c.c));
    l = l + (vec3((float)particle_l.x, (float)particle_l.y, (float)particle_l.z) - l) * c.w;
    r = r + (vec3((float)particle_r.x, (float)particle_r.y, (float)particle_r.z) - r) * c.w;
    EXPECT_TRUE(near(p.left, l, 1e-6)) << c.countdown;
    EXPECT_TRUE(near(p.right, r, 1e-6)) << c.countdown;
    EXPECT_EQ(p.left_weight, 1);
    EXPECT_EQ(p.right_weight, 1);
  }
}

TEST_F(FeetParticles, PoseDabFootReachesTheGround) {
  set_ground([](double x, double) { return 0.1 * (x - 128); });
  const BikeInfo& info = bike->info;
  auto hip = [&](int side) {
    dVector3 w;
    const float* h = info.hip_pos[side];
    dBodyGetRelPointPos(bike->body[RIDER], h[0], h[1], h[2], w);
    return fx_vec(w);
  };
  // Upright and standing: both feet half a hip width outside the hips, on the ground.
  pose(0, 0, 0.4);
  bike->dab_anim = 1;
  FeetPose p = feet_pose(bike);
  Vec3 hl = hip(0), hr = hip(1), h = hr - hl;
  Vec3 el = hl - h * 0.5, er = hr + h * 0.5;
  EXPECT_NEAR(p.left.x, el.x, 1e-9);
  EXPECT_NEAR(p.left.z, el.z, 1e-9);
  EXPECT_NEAR(p.left.y, terrain_height_at((float)el.x, (float)el.z) + 0.125, 1e-6);
  EXPECT_NEAR(p.right.x, er.x, 1e-9);
  EXPECT_NEAR(p.right.y, terrain_height_at((float)er.x, (float)er.z) + 0.125, 1e-6);
  EXPECT_EQ(p.left_weight, 1);
  EXPECT_EQ(p.right_weight, 1);

  // Half down: half way from the peg.
  bike->dab_anim = 0.5f;
  FeetPose half = feet_pose(bike);
  FeetPose peg = feet_pose(bike);
  bike->dab_anim = 0;
  peg = feet_pose(bike);
  EXPECT_NEAR(half.left.x, (peg.left.x + p.left.x) / 2, 1e-9);
  EXPECT_NEAR(half.left.y, (peg.left.y + p.left.y) / 2, 1e-6);
  EXPECT_EQ(half.left_weight, 0.5);

  // Leaning left at speed: only the left foot, further forward.
  pose(0.5, 12, 0.4);
  bike->dab_anim = 1;
  p = feet_pose(bike);
  hl = hip(0);
  h = hip(1) - hl;
  double q = 0.5 * 4 / PI, u = 12.0 / 15;
  Vec3 forward = vec3(-sin(0.4), 0, -cos(0.4));
  Vec3 e = hl + h * (q / 2 - 0.5) + forward * ((1.25 * u - 0.25) * q * 2.5);
  EXPECT_NEAR(p.left.x, e.x, 1e-6);
  EXPECT_NEAR(p.left.z, e.z, 1e-6);
  EXPECT_EQ(p.right_weight, 0);
  bike->dab_anim = 0;
  EXPECT_NEAR(feet_pose(bike).right.x, p.right.x, 1e-12);
  // Knocked out with more than 127 ticks left the foot does not reach.
  bike->dab_anim = 1;
  bike->crash_countdown = 200;
  p = feet_pose(bike);
  EXPECT_EQ(p.left.x, (double)bike->left_foot_pos[0]);
}

TEST_F(FeetParticles, UpdateRidingFollowsThePose) {
  pose(0.1, 8, 0.3);
  dBodySetAngularVel(bike->body[RIDER], 0, 1, 0);
  bike->dab_anim = 0.01f;
  feet_update(bike);
  EXPECT_EQ(bike->dab_anim, 0.0f);
  FeetPose p = feet_pose(bike);
  dVector3 v;
  dBodyGetPointVel(bike->body[RIDER], p.right.x, p.right.y, p.right.z, v);
  EXPECT_NEAR(bike->right_foot_pos[2], p.right.z, 1e-4);
  EXPECT_NEAR(bike->right_foot_vel[0], v[0], 1e-4);
  EXPECT_NEAR(bike->right_foot_vel[2], v[2], 1e-4);
}

TEST_F(FeetParticles, UpdateKnockedOutFlailWithinTheLegs) {
  const BikeInfo& info = bike->info;
  double reach = info.leg_lengths[0] + info.leg_lengths[1];
  auto hip = [&](int side) {
    dVector3 w;
    const float* h = info.hip_pos[side];
    dBodyGetRelPointPos(bike->body[RIDER], h[0], h[1], h[2], w);
    return fx_vec(w);
  };
  auto set = [](float* p, Vec3 v) {
    p[0] = (float)v.x;
    p[1] = (float)v.y;
    p[2] = (float)v.z;
  };
  pose(0, 0, 0, 10);  // high above the ground
  rider_crash(bike);
  Vec3 hl = hip(0), hr = hip(1);  // upright rider: down is -y
  // Free fall within reach: moved first, then gravity and drag.
  set(bike->left_foot_pos, hl + vec3(0, -2, 0));
  set(bike->left_foot_vel, vec3(1, 0, 0));
  set(bike->right_foot_pos, hr + vec3(0.3, -1.5, 0));
  set(bike->right_foot_vel, vec3(0, 0, 0));
  feet_update(bike);
  EXPECT_NEAR(bike->left_foot_pos[0], hl.x + H, 1e-5);
  EXPECT_NEAR(bike->left_foot_vel[0], 0.9375, 1e-6);
  EXPECT_NEAR(bike->left_foot_vel[1], -32 * H * 0.9375, 1e-6);
  EXPECT_NEAR(bike->right_foot_vel[1], -32 * H * 0.9375, 1e-6);

  // Too far from the hip: back on the leg's reach, moving as the hip does
  // along the leg (the rider is still).
  set(bike->right_foot_pos, hr + vec3(0.5, -3 * reach, 0));
  set(bike->right_foot_vel, vec3(0, -10, 2));
  feet_update(bike);
  Vec3 right = fv3(bike->right_foot_pos);
  EXPECT_NEAR(vec3_length(right - hr), reach, 1e-4);
  Vec3 n = vec3_normalize(right - hr);
  EXPECT_NEAR(vec3_dot(fv3(bike->right_foot_vel), n), 0, 1e-4);
  EXPECT_GT(std::fabs(bike->right_foot_vel[2]), 1.0f);  // across the leg it keeps moving

  // Below the ground: on it, stopped (a rider low enough for the leg to reach).
  pose(0, 0, 0, -2);
  rider_crash(bike);
  hl = hip(0);
  ASSERT_LT(hl.y - 0.25, reach);
  ASSERT_GT(hl.y - 1, 0.25);
  set(bike->left_foot_pos, vec3(hl.x, -1, hl.z));
  set(bike->left_foot_vel, vec3(3, -5, 0));
  feet_update(bike);
  EXPECT_NEAR(bike->left_foot_pos[1], 0.25, 1e-6);
  EXPECT_NEAR(bike->left_foot_pos[0], hl.x + 3 * H, 1e-5);
  EXPECT_EQ(bike->left_foot_vel[0], 0.0f);
  EXPECT_EQ(bike->left_foot_vel[1], 0.0f);

  // Above the hips: pushed down to the plane 1 ft below them.
  set(bike->left_foot_pos, hl + vec3(0.2, 0.5, 0.3));
  set(bike->left_foot_vel, vec3(0, 4, 0));
  feet_update(bike);
  EXPECT_NEAR(bike->left_foot_pos[1], hl.y - 1, 1e-5);
  EXPECT_NEAR(bike->left_foot_vel[1], 0, 1e-5);  // the rider's velocity there
  EXPECT_NEAR(bike->left_foot_pos[0], hl.x + 0.2, 1e-5);
}

// ---------------------------------------------------------------- recovery in the world

namespace {

// Flat ground at y = 0 for every shape element and both wheels (as spheres
// of their outer radius), as one-step contact joints.
void flat_ground_contacts(Bike* b) {
  auto contact = [](dBodyID body, Vec3 at, double depth, double mu, double kp, double kd) {
    double erp, cfm;
    ASSERT_TRUE(contact_softness(kp, kd, &erp, &cfm));
    dContact c{};
    c.surface.mode = dContactApprox1 | dContactSoftERP | dContactSoftCFM;
    c.surface.mu = mu;
    c.surface.soft_erp = erp;
    c.surface.soft_cfm = cfm;
    c.geom.pos[0] = at.x;
    c.geom.pos[2] = at.z;
    c.geom.normal[1] = 1;
    c.geom.depth = depth;
    dJointAttach(dJointCreateContact(physics_world, contact_group, &c), body, nullptr);
  };
  for (int body = 0; body < BIKE_BODY_COUNT; body++) {
    if (body == FRONT_WHEEL || body == REAR_WHEEL) {
      const WheelInfo& w = body == FRONT_WHEEL ? b->info.front_wheel : b->info.rear_wheel;
      Vec3 c = fx_vec(dBodyGetPosition(b->body[body]));
      double depth = w.ring_radius + w.tyre_radius - c.y;
      b->wheel_contact[body == FRONT_WHEEL ? WHEEL_FRONT : WHEEL_REAR].depth =
          depth > 0 ? depth : 0;
      if (depth > 0) contact(b->body[body], vec3(c.x, 0, c.z), depth, 1, 25000, 2500);
      continue;
    }
    if (!bike_shape_update(b, (BikeBody)body)) continue;
    const Shape* s = b->shapes[body];
    for (int e = 0; e < s->count; e++) {
      const float* el = s->elements[e];
      double depth = el[SHAPE_RADIUS] - el[SHAPE_Y];
      if (depth > 0)
        contact(b->body[body], vec3(el[0], 0, el[2]), depth, el[SHAPE_FRICTION], 2500, 250);
    }
  }
}

}  // namespace

TEST_F(KnockoutRider, RecoveryOnFlatGround) {
  // A bike on its wheels throws its rider; the rider falls, comes to rest,
  // is walked back onto the seat and remounted within 512 ticks of rest.
  bike_place(bike, 128, 128, 0);
  dJointGroupEmpty(contact_group);
  ASSERT_NE(bike->shapes[RIDER], nullptr);
  physics_state.tick = 5000;
  rider_crash(bike);
  dBodySetLinearVel(bike->body[RIDER], 3, 0, 0);  // thrown off to the right
  int32_t first_count = -1, remount_tick = -1;
  double last_distance = 1e9;
  for (int t = 0; t < 512 + 512 && remount_tick < 0; t++) {
    flat_ground_contacts(bike);
    physics_world_step();
    if (bike->crash_countdown == 1) last_distance = vec3_length(pos(bike, RIDER) - seat());
    if (bike_knocked_out(bike)) knockout_step(bike);
    feet_update(bike);
    if (first_count < 0 && bike->crash_countdown < 512) first_count = t;
    if (bike->crash_countdown == 0) remount_tick = t;
    physics_state.tick++;
  }
  ASSERT_GE(first_count, 1);  // the rider fell and slid before the count began
  ASSERT_GE(remount_tick, 0);
  EXPECT_LE(remount_tick - first_count, 512 + 64);
  EXPECT_LT(last_distance, 0.5);  // the tethers had drawn it in
  EXPECT_EQ(dJointGetBody(bike->joint[RIDER_MOUNT], 0), bike->body[RIDER]);
  Vec3 p = pos(bike, RIDER), s = seat();
  EXPECT_NEAR(p.x, s.x, 1e-9);
  EXPECT_NEAR(p.y, s.y, 1e-9);
  EXPECT_NEAR(p.z, s.z, 1e-9);
  // The feet stood on the ground or above it all along.
  EXPECT_GE(bike->left_foot_pos[1], 0.0f);
  EXPECT_GE(bike->right_foot_pos[1], 0.0f);
}
