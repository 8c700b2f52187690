// A physics world with one or more bikes on in-memory ground, for the tests of
// the bike's per-tick work. Game data (collision shapes) comes from the
// generated data beside the executables; the ground is the global track's
// height field, built here from a height function (flat at y = 0 unless told
// otherwise), with default ground tiles.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/files.h"
#include "core/mem.h"
#include "physics/bike.h"
#include "physics/catalogue.h"
#include "physics/shape.h"
#include "physics/step.h"
#include "physics/world.h"
#include "tests/test_helpers.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace {

inline Vec3 fx_vec(const dReal* p) { return vec3(p[0], p[1], p[2]); }

class BikeWorld : public ::testing::Test {
 protected:
  TempDir root;
  ScopedEnv env_xdg{"XDG_DATA_HOME", (root.path + "/xdg").c_str()};
  ScopedEnv env_rt{"RT_HOME", RT_BINARY_DIR};
  std::vector<float> heights;
  std::vector<Bike*> bikes;

  void SetUp() override {
    file_list_free();
    shape_cache_free();
    settings_init_defaults();
    physics_state_reset();
    ASSERT_TRUE(physics_world_create());
    set_ground([](double, double) { return 0.0; });
  }
  void TearDown() override {
    for (Bike* b : bikes) bike_destroy(b);
    bikes.clear();
    physics_world_destroy();
    track.hf.heights = nullptr;
    track.hf.grid_size = 0;
    shape_cache_free();
    file_list_free();
  }
  // A 256 x 256 ft field of 1 ft spacing (grid of 2^(n_log2 + 1) + 1
  // samples of `spacing`) from a height function of (x, z). No tilemap:
  // every point is tile 0 with default friction.
  void set_ground(const std::function<double(double, double)>& height, int32_t n_log2 = 7,
                  float spacing = 1.0f) {
    track.hf = HeightField();
    ASSERT_TRUE(hf_set_geometry(&track.hf, n_log2, spacing, -1000, 1000));
    int32_t g = track.hf.grid_size;
    heights.assign((size_t)g * g, 0.0f);
    for (int32_t j = 0; j < g; j++)
      for (int32_t i = 0; i < g; i++)
        heights[(size_t)j * g + i] = (float)height(i * (double)spacing, j * (double)spacing);
    track.hf.heights = heights.data();
  }
  // A bike of catalogue entry `name` (nullptr: the first), placed on the
  // ground at (x, z) facing heading (0 = towards -z).
  Bike* add_bike(const char* name = nullptr, double x = 128, double z = 128,
                 double heading = 0) {
    Bike* b = bike_create(name ? name : bike_catalogue[0].name, "1", nullptr, nullptr, nullptr,
                          nullptr, 0);
    EXPECT_NE(b, nullptr);
    if (!b) return nullptr;
    bike_place(b, x, z, heading);
    dJointGroupEmpty(contact_group);
    bikes.push_back(b);
    return b;
  }
  // Runs n physics ticks over the bikes (all locally simulated).
  void run_ticks(int32_t n) {
    BikeSlot slots[MAX_BIKES] = {};
    int32_t count = (int32_t)bikes.size();
    for (int32_t i = 0; i < count; i++) {
      slots[i].bike = bikes[i];
      slots[i].kind = LOCAL_RIDER;
    }
    for (int32_t t = 0; t < n; t++) {
      physics_tick(slots, count);
      physics_state.tick++;
    }
  }
  static Vec3 pos(const Bike* b, int32_t body) { return fx_vec(dBodyGetPosition(b->body[body])); }
  static Vec3 vel(const Bike* b, int32_t body) { return fx_vec(dBodyGetLinearVel(b->body[body])); }
};

}  // namespace
