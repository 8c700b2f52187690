// Contact geometry: terrain triangles, sphere and torus tests against a
// triangle, the ring's closest approach, the normal fix, sphere pairs, the
// wheel against a sphere, softness, the deepest contact over a height field,
// the tile under a point and the wheel mark ring.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "physics/contact_geometry.h"
#include "physics/shape.h"
#include "track/heightfield.h"
#include "track/tiles.h"

namespace {

constexpr double EPS = 1e-9;

void expect_vec(Vec3 got, Vec3 want, double tol, const char* what) {
  EXPECT_NEAR(got.x, want.x, tol) << what;
  EXPECT_NEAR(got.y, want.y, tol) << what;
  EXPECT_NEAR(got.z, want.z, tol) << what;
}

Vec3 unit(Vec3 v) { return v * (1.0 / sqrt(vec3_dot(v, v))); }

// A height field built in memory: heights from a function of the sample indices.
struct SmallField {
  std::unique_ptr<HeightField> hf{new HeightField()};
  std::vector<float> heights;
  std::vector<uint8_t> tilemap;
  SmallField(int32_t n, float spacing, const std::function<float(int32_t, int32_t)>& height) {
    EXPECT_TRUE(hf_set_geometry(hf.get(), n, spacing, -1000, 1000));
    int32_t g = hf->grid_size;
    heights.resize((size_t)g * g);
    for (int32_t j = 0; j < g; j++)
      for (int32_t i = 0; i < g; i++) heights[(size_t)j * g + i] = height(i, j);
    hf->heights = heights.data();
  }
};

// Closest point of a filled triangle to x.
Vec3 closest_on_triangle(const Triangle& t, Vec3 x) {
  Vec3 n = vec3_cross(t.v[1] - t.v[0], t.v[2] - t.v[0]);
  Vec3 q = x - n * (vec3_dot(x - t.v[0], n) / vec3_dot(n, n));
  bool in = true;
  for (int i = 0; i < 3; i++) {
    Vec3 e = t.v[(i + 1) % 3] - t.v[i];
    if (vec3_dot(vec3_cross(e, n), q - t.v[i]) > 0) in = false;
  }
  if (in) return q;
  Vec3 best = t.v[0];
  double best_d = INFINITY;
  for (int i = 0; i < 3; i++) {
    Vec3 a = t.v[i], e = t.v[(i + 1) % 3] - t.v[i];
    double s = vec3_dot(x - a, e) / vec3_dot(e, e);
    s = s < 0 ? 0 : s > 1 ? 1 : s;
    Vec3 p = a + e * s;
    double d = vec3_length(x - p);
    if (d < best_d) {
      best_d = d;
      best = p;
    }
  }
  return best;
}

// Barycentric weights of (x, z) in the triangle's ground projection.
bool ground_barycentric(const Triangle& t, double x, double z, double w[3]) {
  double x0 = t.v[0].x, z0 = t.v[0].z, x1 = t.v[1].x, z1 = t.v[1].z, x2 = t.v[2].x, z2 = t.v[2].z;
  double det = (z1 - z2) * (x0 - x2) + (x2 - x1) * (z0 - z2);
  w[0] = ((z1 - z2) * (x - x2) + (x2 - x1) * (z - z2)) / det;
  w[1] = ((z2 - z0) * (x - x2) + (x0 - x2) * (z - z2)) / det;
  w[2] = 1 - w[0] - w[1];
  return w[0] >= -1e-9 && w[1] >= -1e-9 && w[2] >= -1e-9;
}

}  // namespace

// ---------------------------------------------------------------- terrain triangles

TEST(ContactTerrain, CellTrianglesTakeTheirCornersInOrder) {
  SmallField f(1, 0.5f, [](int32_t i, int32_t j) { return (float)(i * 10 + j); });
  struct Case {
    int32_t i, j;
    int32_t corners[6][2];  // (i, j) of T0 T1 T2 of both triangles
  } cases[] = {
      // Equal parity: the diagonal joins (i, j) and (i+1, j+1).
      {0, 0, {{0, 0}, {0, 1}, {1, 1}, {1, 1}, {1, 0}, {0, 0}}},
      {1, 3, {{1, 3}, {1, 4}, {2, 4}, {2, 4}, {2, 3}, {1, 3}}},
      // Different parity: the diagonal joins (i+1, j) and (i, j+1).
      {1, 0, {{1, 0}, {1, 1}, {2, 0}, {2, 1}, {2, 0}, {1, 1}}},
      {2, 1, {{2, 1}, {2, 2}, {3, 1}, {3, 2}, {3, 1}, {2, 2}}},
  };
  for (const Case& c : cases) {
    Triangle t[2];
    terrain_cell_triangles(f.hf.get(), c.i, c.j, t);
    for (int k = 0; k < 6; k++) {
      Vec3 v = t[k / 3].v[k % 3];
      int32_t ci = c.corners[k][0], cj = c.corners[k][1];
      EXPECT_EQ(v.x, ci * 0.5) << c.i << "," << c.j << " corner " << k;
      EXPECT_EQ(v.z, cj * 0.5) << c.i << "," << c.j << " corner " << k;
      EXPECT_EQ(v.y, ci * 10 + cj) << c.i << "," << c.j << " corner " << k;
    }
  }
}

TEST(ContactTerrain, TrianglesFollowTheHeightQueryInsideAndOutsideTheGrid) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> h(-3.0f, 3.0f);
  SmallField f(1, 0.75f, [&](int32_t, int32_t) { return h(rng); });
  const double s = 0.75;
  int parities[2] = {0, 0};
  for (int32_t j = -2; j <= 5; j++) {
    for (int32_t i = -2; i <= 5; i++) {
      parities[(i ^ j) & 1]++;
      Triangle t[2];
      terrain_cell_triangles(f.hf.get(), i, j, t);
      for (int k = 0; k < 2; k++) {
        Vec3 n = vec3_cross(t[k].v[1] - t[k].v[0], t[k].v[2] - t[k].v[0]);
        EXPECT_GT(n.y, 0) << "cell " << i << "," << j << " triangle " << k;
      }
      // Every point of the cell lies on the plane of the triangle over it.
      for (int a = 0; a <= 8; a++) {
        for (int b = 0; b <= 8; b++) {
          double x = (i + (a + 0.5) / 9.5) * s, z = (j + (b + 0.3) / 9.5) * s;
          int hits = 0;
          for (int k = 0; k < 2; k++) {
            double w[3];
            if (!ground_barycentric(t[k], x, z, w)) continue;
            hits++;
            double plane = w[0] * t[k].v[0].y + w[1] * t[k].v[1].y + w[2] * t[k].v[2].y;
            EXPECT_NEAR(plane, hf_height_at(f.hf.get(), (float)x, (float)z), 2e-5)
                << "cell " << i << "," << j << " at " << x << "," << z;
          }
          EXPECT_GE(hits, 1) << "cell " << i << "," << j << " not covered at " << x << "," << z;
        }
      }
    }
  }
  EXPECT_GT(parities[0], 0);
  EXPECT_GT(parities[1], 0);
}

TEST(ContactTerrain, CellRangeCoversTheReach) {
  SmallField f(2, 0.5f, [](int32_t, int32_t) { return 0.0f; });
  struct Case {
    Vec3 c;
    double reach;
    CellRange want;
  } cases[] = {
      {{1.25, 0, 2.6}, 0.75, {1, 4, 3, 7}},     // x 0.5..2.0, z 1.85..3.35
      {{1.0, 0, 1.0}, 0.5, {1, 3, 1, 3}},       // ends on grid lines exactly
      {{-3.1, 0, 9.0}, 1.0, {-9, -4, 16, 20}},  // outside the grid on both axes
  };
  for (const Case& c : cases) {
    CellRange r;
    ASSERT_TRUE(contact_cell_range(f.hf.get(), c.c, c.reach, &r));
    EXPECT_EQ(r.i0, c.want.i0);
    EXPECT_EQ(r.i1, c.want.i1);
    EXPECT_EQ(r.j0, c.want.j0);
    EXPECT_EQ(r.j1, c.want.j1);
  }
  CellRange r;
  EXPECT_FALSE(contact_cell_range(f.hf.get(), {NAN, 0, 0}, 1, &r));
  EXPECT_FALSE(contact_cell_range(f.hf.get(), {0, 0, 0}, INFINITY, &r));
  EXPECT_FALSE(contact_cell_range(f.hf.get(), {1e12, 0, 0}, 1, &r));
  EXPECT_FALSE(contact_cell_range(f.hf.get(), {0, 0, 0}, 10000, &r));
  EXPECT_EQ(r.i1 - r.i0, 0);
  HeightField empty{};
  EXPECT_FALSE(contact_cell_range(&empty, {0, 0, 0}, 1, &r));
}

TEST(ContactTerrain, TileUnderAPointIsClampedIntoTheMap) {
  SmallField f(1, 1.0f, [](int32_t, int32_t) { return 0.0f; });
  EXPECT_EQ(contact_tile_index(f.hf.get(), 1, 1), 0);  // no tilemap yet
  f.tilemap = {4, 5, 6, 7};                            // 2 x 2, row-major (row = z)
  f.hf->tilemap = f.tilemap.data();
  struct Case {
    double x, z;
    int32_t tile;
  } cases[] = {
      {0.5, 0.5, 4}, {2.5, 0.5, 5}, {0.5, 2.5, 6}, {3.9, 3.9, 7}, {1.99, 1.99, 4},
      {-5, 100, 6},  {1e30, -1, 5}, {NAN, NAN, 4}, {2.0, 2.0, 7},
  };
  for (const Case& c : cases)
    EXPECT_EQ(contact_tile_index(f.hf.get(), c.x, c.z), c.tile) << c.x << "," << c.z;
}

// ---------------------------------------------------------------- sphere against triangle

TEST(ContactSphereTriangle, InteriorEdgeCornerAndMiss) {
  // Normal up; edge 0 faces -x, edge 1 (the long one) faces +x+z, edge 2 faces -z.
  Triangle tri{{{0, 0, 0}, {0, 0, 2}, {2, 0, 0}}};
  const double h = 1 / sqrt(2.0);
  Vec3 corner_p = {-0.3, 0.4, -0.3};
  double corner_d = vec3_length(corner_p);
  struct Case {
    const char* name;
    Vec3 p;
    double r;
    bool touch;
    double depth;
    Vec3 normal;
  } cases[] = {
      {"above the interior", {0.5, 0.3, 0.5}, 0.5, true, 0.2, {0, 1, 0}},
      {"centre under the surface", {0.5, -0.4, 0.5}, 0.5, true, 0.9, {0, 1, 0}},
      {"more than a radius under", {0.5, -0.6, 0.5}, 0.5, false, 0, {}},
      {"too high", {0.5, 0.6, 0.5}, 0.5, false, 0, {}},
      {"past edge 0", {-0.3, 0.4, 1.0}, 0.6, true, 0.1, {-0.6, 0.8, 0}},
      // Also projects onto edge 0's segment, but lies inside that edge.
      {"past the long edge",
       {1 + 0.3 * h, 0.4, 1 + 0.3 * h},
       0.7,
       true,
       0.2,
       {0.6 * h, 0.8, 0.6 * h}},
      // Projects onto the long edge's segment, but lies outside edges 0 and 2 only.
      {"past a corner", corner_p, 0.7, true, 0.7 - corner_d, unit(corner_p)},
      {"above a corner", {0, 0.3, 0}, 0.5, true, 0.2, {0, 1, 0}},
      {"beside, out of reach", {-1.0, 0.1, 1.0}, 0.9, false, 0, {}},
  };
  for (const Case& c : cases) {
    ContactResult res{-1, {9, 9, 9}, {9, 9, 9}};
    bool touch = sphere_triangle(c.p, c.r, tri, &res);
    ASSERT_EQ(touch, c.touch) << c.name;
    if (!touch) {
      EXPECT_EQ(res.depth, -1) << c.name;  // left alone
      continue;
    }
    EXPECT_NEAR(res.depth, c.depth, EPS) << c.name;
    expect_vec(res.normal, c.normal, EPS, c.name);
    expect_vec(res.point, c.p - c.normal * c.r, EPS, c.name);
  }
}

// ---------------------------------------------------------------- torus against triangle

TEST(ContactTorusTriangle, UprightWheelOverFlatGround) {
  const double g = 3, R = 1, r = 0.4;
  Triangle tri{{{-10, g, -10}, {-10, g, 10}, {10, g, -10}}};
  struct Case {
    const char* name;
    double gap;  // lowest ring point above the ground
    bool touch;
    double depth;
    double point_y;
  } cases[] = {
      {"0.01 above the tyre", r + 0.01, false, 0, 0},
      {"just touching", 0.39, true, 0.01, g - 0.01},
      {"half sunk", 0.2, true, 0.2, g - 0.2},
      {"nearly sunk", 0.01, true, 0.39, g - 0.39},
      {"ring crossing the ground", -0.1, true, 0.5, g - 0.5},
      {"ring crossing deep", -1.5, true, 1.9, g - 1.9},
      {"ring wholly under the ground", -2.5, true, 2 * R, g - 2.5},
  };
  for (const Case& c : cases) {
    Vec3 centre = {-2, g + R + c.gap, -3};
    ContactResult res{};
    bool touch = torus_triangle(centre, {1, 0, 0}, R, r, tri, true, &res);
    ASSERT_EQ(touch, c.touch) << c.name;
    if (!touch) continue;
    EXPECT_NEAR(res.depth, c.depth, EPS) << c.name;
    expect_vec(res.normal, {0, 1, 0}, EPS, c.name);
    expect_vec(res.point, {-2, c.point_y, -3}, EPS, c.name);
  }
  // The same without the fallback: none of these needs it.
  ContactResult res{};
  EXPECT_TRUE(torus_triangle({-2, g + R + 0.2, -3}, {1, 0, 0}, R, r, tri, false, &res));
  EXPECT_NEAR(res.depth, 0.2, EPS);
  // The axle's length does not matter.
  EXPECT_TRUE(torus_triangle({-2, g + R + 0.2, -3}, {0, 0, -7}, R, r, tri, true, &res));
  EXPECT_NEAR(res.depth, 0.2, EPS);
}

TEST(ContactTorusTriangle, LeanedWheelTouchesWithItsLowestRingPoint) {
  const double g = -2, R = 1.1, r = 0.35;
  Triangle tri{{{-10, g, -10}, {-10, g, 10}, {10, g, -10}}};
  for (double lean : {0.3, -0.5236, 1.2}) {
    Vec3 axle = {cos(lean), sin(lean), 0};
    Vec3 down = {sin(lean), -cos(lean), 0};  // in the wheel plane, towards the ground
    double gap = 0.25;
    Vec3 centre = {0.5, g + R * cos(lean) + gap, -2};
    ContactResult res{};
    ASSERT_TRUE(torus_triangle(centre, axle, R, r, tri, true, &res)) << lean;
    EXPECT_NEAR(res.depth, r - gap, EPS) << lean;
    expect_vec(res.normal, {0, 1, 0}, EPS, "leaned normal");
    expect_vec(res.point, centre + down * R - Vec3{0, r, 0}, EPS, "leaned point");
  }
}

TEST(ContactTorusTriangle, RingCrossingBesideAnEdgeIsPushedAwayFromIt) {
  // Edge 0 runs along +x at z = 0; the triangle lies at z < 0.
  Triangle tri{{{-5, 0, 0}, {5, 0, 0}, {0, 0, -10}}};
  const double R = 1, r = 0.4;
  Vec3 centre = {0, 0.5, 0.6};
  ContactResult res{};
  ASSERT_TRUE(torus_triangle(centre, {1, 0, 0}, R, r, tri, true, &res));
  Vec3 n = unit(centre);  // from the edge's crossing point (the origin) to the centre
  EXPECT_EQ(res.depth, r - 1.0 / 1048576.0);
  expect_vec(res.normal, n, EPS, "edge normal");
  expect_vec(res.point, centre - n * (R + r), EPS, "edge point");
  // Replayed bikes take this branch too: it is not the fallback.
  EXPECT_TRUE(torus_triangle(centre, {1, 0, 0}, R, r, tri, false, &res));
  // With the wheel plane past the edge's end the crossing finds no edge and
  // the closest approach decides: the edge's end (5, 0, 0) is 1 from the plane.
  ContactResult far{};
  EXPECT_FALSE(torus_triangle({6, 0.5, 0.6}, {1, 0, 0}, R, r, tri, true, &far));
  EXPECT_FALSE(torus_triangle({6, 0.5, 0.6}, {1, 0, 0}, R, r, tri, false, &far));
}

TEST(ContactTorusTriangle, FallbackTakesTheClosestApproachNearAnEdge) {
  Triangle tri{{{-5, 0, 0}, {5, 0, 0}, {0, 0, -10}}};
  const double R = 1, r = 0.4;
  struct Case {
    const char* name;
    Vec3 centre;
  } cases[] = {
      {"ring above, beyond the edge", {0, 1.2, 0.3}},
      {"ring wholly under, beyond the edge", {0, -1.2, 0.3}},
  };
  for (const Case& c : cases) {
    // The nearest triangle point is the origin, in the wheel plane.
    double distance = vec3_length(c.centre) - R;
    Vec3 n = unit(c.centre);
    Vec3 ring_point = c.centre - n * R;
    ContactResult res{};
    ASSERT_TRUE(torus_triangle(c.centre, {1, 0, 0}, R, r, tri, true, &res)) << c.name;
    EXPECT_NEAR(res.depth, r - distance, 1e-9) << c.name;
    expect_vec(res.normal, n, 1e-6, c.name);
    expect_vec(res.point, ring_point - n * r, 1e-6, c.name);
    // Replayed bikes stop before the fallback.
    EXPECT_FALSE(torus_triangle(c.centre, {1, 0, 0}, R, r, tri, false, &res)) << c.name;
  }
  // Too far for the tube.
  ContactResult res{};
  EXPECT_FALSE(torus_triangle({0, 1.5, 0.3}, {1, 0, 0}, R, r, tri, true, &res));
}

TEST(ContactTorusTriangle, WhollyBehindOutsideFromAboveIsNotBuried) {
  Triangle tri{{{-5, 0, 0}, {5, 0, 0}, {0, 0, -10}}};
  ContactResult res{};
  // Deep under the triangle: buried, depth 2R.
  ASSERT_TRUE(torus_triangle({0, -3, -2}, {1, 0, 0}, 1, 0.4, tri, false, &res));
  EXPECT_EQ(res.depth, 2.0);
  expect_vec(res.point, {0, -4, -2}, EPS, "buried point");
  // Deep under but beside the triangle: no contact at all.
  EXPECT_FALSE(torus_triangle({0, -3, 2}, {1, 0, 0}, 1, 0.4, tri, true, &res));
}

TEST(ContactTorusTriangle, DegenerateInputGivesNoContact) {
  Triangle flat{{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}};
  Triangle good{{{-10, 0, -10}, {-10, 0, 10}, {10, 0, -10}}};
  ContactResult res{};
  EXPECT_FALSE(torus_triangle({0, 1, 0}, {1, 0, 0}, 1, 0.4, flat, true, &res));
  EXPECT_FALSE(torus_triangle({0, 1, 0}, {0, 0, 0}, 1, 0.4, good, true, &res));
  EXPECT_FALSE(torus_triangle({NAN, 1, 0}, {1, 0, 0}, 1, 0.4, good, true, &res));
  EXPECT_FALSE(torus_triangle({0, 1, 0}, {1, 0, 0}, 1, 0, good, true, &res));
  // A wheel lying flat on the ground still touches it with its tube.
  ASSERT_TRUE(torus_triangle({-1, 0.3, -1}, {0, 1, 0}, 1, 0.4, good, true, &res));
  EXPECT_NEAR(res.depth, 0.1, EPS);
  expect_vec(res.normal, {0, 1, 0}, EPS, "flat wheel");
}

TEST(ContactTorusTriangle, RingTriangleDistanceMatchesABruteForceSearch) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<double> u(-1, 1);
  const double two_pi = 6.283185307179586;
  for (int round = 0; round < 100; round++) {
    Vec3 c = {u(rng), u(rng), u(rng)};
    Vec3 a = unit({u(rng), u(rng), u(rng)});
    double R = 0.75 + 0.5 * u(rng);
    Triangle t{{{2 * u(rng), 2 * u(rng), 2 * u(rng)},
                {2 * u(rng), 2 * u(rng), 2 * u(rng)},
                {2 * u(rng), 2 * u(rng), 2 * u(rng)}}};
    double got;
    Vec3 ring_point, tri_point;
    ASSERT_TRUE(ring_triangle_distance(c, a, R, t, &got, &ring_point, &tri_point));
    // The answer is a real pair of points: one on the ring, one on the triangle.
    EXPECT_NEAR(vec3_length(ring_point - tri_point), got, 1e-9) << round;
    EXPECT_NEAR(vec3_dot(ring_point - c, a), 0, 1e-9) << round;
    EXPECT_NEAR(vec3_length(ring_point - c), R, 1e-9) << round;
    EXPECT_NEAR(vec3_length(closest_on_triangle(t, tri_point) - tri_point), 0, 1e-9) << round;
    // And no ring point comes nearer.
    Vec3 e1 = unit(vec3_cross(a, fabs(a.x) < 0.6 ? Vec3{1, 0, 0} : Vec3{0, 1, 0}));
    Vec3 e2 = vec3_cross(a, e1);
    double brute = INFINITY;
    for (int k = 0; k < 10000; k++) {
      double th = two_pi * k / 10000;
      Vec3 q = c + (e1 * cos(th) + e2 * sin(th)) * R;
      double d = vec3_length(q - closest_on_triangle(t, q));
      if (d < brute) brute = d;
    }
    EXPECT_LE(got, brute + 1e-9) << round;
    EXPECT_GE(got, brute - 1e-3) << round;
  }
}

// ---------------------------------------------------------------- normal fix

TEST(ContactNormal, DownwardNormalsAreFixed) {
  struct Case {
    Vec3 in, out;
  } cases[] = {
      {{0, 1, 0}, {0, 1, 0}},
      {{0.6, 0.8, 0}, {0.6, 0.8, 0}},
      {{3, 4, 0}, {0.6, 0.8, 0}},   // normalised
      {{0.6, -0.8, 0}, {1, 0, 0}},  // clear horizontal part: keeps its heading
      {{0.3, -0.9, -0.4}, {0.6, 0, -0.8}},
      {{0.02, -0.9998, 0.01}, {0, 1, 0}},  // tiny horizontal part: straight up
      {{0.0, -1, 0.03125}, {0, 0, 1}},     // exactly 1/1024 counts as clear
      {{0, 0, 0}, {0, 1, 0}},              // degenerate
      {{NAN, 1, 0}, {0, 1, 0}},
  };
  for (const Case& c : cases) {
    Vec3 got = fix_ground_normal(c.in);
    expect_vec(got, c.out, 1e-12, "normal");
  }
}

// ---------------------------------------------------------------- over the height field

TEST(ContactHeightField, SphereAndWheelOnASlope) {
  // Heights 0.5 x + 2: every triangle lies on one plane.
  SmallField f(1, 1.0f, [](int32_t i, int32_t) { return 0.5f * (float)i + 2; });
  Vec3 n = unit({-0.5, 1, 0});
  Vec3 foot = {2.3, 0.5 * 2.3 + 2, 2.6};
  {
    Vec3 p = foot + n * 0.3;
    ContactResult res{};
    ASSERT_TRUE(hf_sphere_contact(f.hf.get(), p, 0.5, &res));
    EXPECT_NEAR(res.depth, 0.2, 1e-6);
    expect_vec(res.normal, n, 1e-6, "sphere normal");
    expect_vec(res.point, p - n * 0.5, 1e-6, "sphere point");
    EXPECT_FALSE(hf_sphere_contact(f.hf.get(), foot + n * 0.51, 0.5, &res));
    EXPECT_EQ(res.depth, 0);
  }
  {
    const double R = 1.0, r = 0.4;
    Vec3 c = foot + n * (R + 0.25);
    ContactResult res{};
    ASSERT_TRUE(hf_torus_contact(f.hf.get(), c, {0, 0, 1}, R, r, true, &res));
    EXPECT_NEAR(res.depth, 0.15, 1e-6);
    expect_vec(res.normal, n, 1e-6, "wheel normal");
    expect_vec(res.point, c - n * (R + r), 1e-6, "wheel point");
  }
}

TEST(ContactHeightField, WheelOnFlatGroundInsideAndBeyondTheGrid) {
  const float ground = 1.5f;
  SmallField f(2, 0.5f, [&](int32_t, int32_t) { return ground; });
  const double R = 0.9, r = 0.3;
  struct Case {
    double x, z, gap;
    bool touch;
  } cases[] = {
      {2.1, 2.2, 0.31, false},                          // hovering 0.01 above
      {2.1, 2.2, 0.1, true},   {0.0, 0.0, 0.05, true},  // on a grid corner
      {-3.0, 7.2, 0.2, true},                           // beyond the border the ground goes on flat
      {2.1, 2.2, -0.5, true},                           // ring in the ground
  };
  for (const Case& c : cases) {
    Vec3 centre = {c.x, ground + R + c.gap, c.z};
    ContactResult res{};
    bool touch = hf_torus_contact(f.hf.get(), centre, {1, 0, 0}, R, r, true, &res);
    ASSERT_EQ(touch, c.touch) << c.x << "," << c.z << " gap " << c.gap;
    if (!touch) {
      EXPECT_EQ(res.depth, 0);
      continue;
    }
    EXPECT_NEAR(res.depth, r - c.gap, 1e-6);
    expect_vec(res.normal, {0, 1, 0}, 1e-9, "flat normal");
  }
  // Sunk by the tyre radius or more: the stiffest ground contact.
  ContactResult res{};
  ASSERT_TRUE(
      hf_torus_contact(f.hf.get(), {2.1, ground + R - 0.01, 2.2}, {1, 0, 0}, R, r, true, &res));
  double kp, kd;
  EXPECT_EQ(wheel_ground_stiffness(res.depth, r, &kp, &kd), 1.0);
  EXPECT_EQ(kp, 25000);
  EXPECT_EQ(kd, 2500);
  // No heights: nothing to touch.
  HeightField empty{};
  EXPECT_FALSE(hf_torus_contact(&empty, {0, 0, 0}, {1, 0, 0}, R, r, true, &res));
  EXPECT_EQ(res.depth, 0);
}

TEST(ContactHeightField, WheelAtAStepTakesTheDeepestTriangle) {
  // A step of 0.6 up along x between samples 4 and 5 (x = 2 .. 2.5).
  SmallField f(2, 0.5f, [](int32_t i, int32_t) { return i >= 5 ? 0.6f : 0.0f; });
  const double R = 1.0, r = 0.3;
  // Wheel 0.2 above the low ground; its front reaches into the ramp.
  Vec3 c = {1.6, R + 0.2, 2.2};
  ContactResult res{};
  ASSERT_TRUE(hf_torus_contact(f.hf.get(), c, {0, 0, 1}, R, r, true, &res));
  // Every candidate is at most as deep as the reported one, which equals the
  // best single-triangle result.
  double best = 0;
  CellRange cells;
  ASSERT_TRUE(contact_cell_range(f.hf.get(), c, R + r, &cells));
  for (int32_t j = cells.j0; j < cells.j1; j++)
    for (int32_t i = cells.i0; i < cells.i1; i++) {
      Triangle t[2];
      terrain_cell_triangles(f.hf.get(), i, j, t);
      for (const Triangle& tri : t) {
        ContactResult one{};
        if (torus_triangle(c, {0, 0, 1}, R, r, tri, true, &one) && one.depth > best)
          best = one.depth;
      }
    }
  EXPECT_EQ(res.depth, best);
  // Flat part under the wheel: depth 0.1; the ramp is nearer: deeper than that.
  EXPECT_GT(res.depth, 0.1);
  EXPECT_LT(res.normal.x, 0);  // pushed back, away from the ramp
  EXPECT_GT(res.normal.y, 0);
}

// ---------------------------------------------------------------- shapes against shapes

TEST(ContactSpherePair, DepthNormalPointAndCombinedParameters) {
  ContactSphere a = {{0, 0, 0}, 1.0, 0.8, 3000, 300};
  ContactSphere b = {{1.5, 0, 0}, 1.0, 0.5, 5000, 100};
  ContactResult res{};
  ContactParams p{};
  ASSERT_TRUE(sphere_pair(a, b, &res, &p));
  EXPECT_DOUBLE_EQ(res.depth, 0.5);
  expect_vec(res.normal, {1, 0, 0}, EPS, "pair normal");
  expect_vec(res.point, {0.75, 0, 0}, EPS, "pair point");
  EXPECT_EQ(p.mu, 0.5);
  EXPECT_EQ(p.kp, 3000);
  EXPECT_EQ(p.kd, 100);
  // Unequal radii, off-axis: the point sits halfway through the overlap.
  ContactSphere c = {{1, 2, 3}, 0.5, 1, 1, 1};
  ContactSphere d = {{1, 2.6, 3.8}, 0.7, 1, 1, 1};
  ASSERT_TRUE(sphere_pair(c, d, &res, nullptr));
  EXPECT_NEAR(res.depth, 0.2, EPS);
  expect_vec(res.normal, {0, 0.6, 0.8}, EPS, "off-axis normal");
  expect_vec(res.point, Vec3{1, 2, 3} + Vec3{0, 0.6, 0.8} * 0.4, EPS, "off-axis point");
  // Just touching is not a contact; coincident centres push straight up.
  ContactSphere e = {{2, 0, 0}, 1, 1, 1, 1};
  EXPECT_FALSE(sphere_pair(a, e, &res, &p));
  ASSERT_TRUE(sphere_pair(a, a, &res, &p));
  EXPECT_EQ(res.depth, 2.0);
  expect_vec(res.normal, {0, 1, 0}, EPS, "coincident normal");
  EXPECT_TRUE(bounding_spheres_meet({0, 0, 0}, 1, {1.9, 0, 0}, 1));
  EXPECT_FALSE(bounding_spheres_meet({0, 0, 0}, 1, {2, 0, 0}, 1));
}

TEST(ContactSpherePair, WheelTakenAsATorus) {
  const Vec3 c = {0, 0, 0}, axle = {1, 0, 0};
  const double R = 1, r = 0.3;
  ContactSphere element = {{0.2, 0, 1.5}, 0.4, 0.7, 30000, 1000};
  ContactResult res{};
  ContactParams p{};
  ASSERT_TRUE(wheel_sphere_contact(element, c, axle, R, r, &res, &p));
  // The ring point nearest the element is (0, 0, 1).
  Vec3 diff = Vec3{0, 0, 1} - element.centre;
  double d = vec3_length(diff);
  EXPECT_NEAR(res.depth, 0.7 - d, EPS);
  expect_vec(res.normal, unit(diff), EPS, "wheel normal");
  EXPECT_EQ(p.mu, 0.7);
  EXPECT_EQ(p.kp, WHEEL_SHAPE_STIFFNESS);
  EXPECT_EQ(p.kd, 1000);
  // An element on the axle meets the ring anywhere.
  ContactSphere hub = {{0.5, 0, 0}, 1.2, 2, 1e6, 1e6};
  ASSERT_TRUE(wheel_sphere_contact(hub, c, axle, R, r, &res, &p));
  EXPECT_NEAR(res.depth, 1.5 - sqrt(1.25), EPS);
  EXPECT_EQ(p.mu, WHEEL_SHAPE_FRICTION);
  EXPECT_EQ(p.kd, WHEEL_SHAPE_DAMPING);
  // Inside the rim, clear of the tyre: no contact.
  ContactSphere inner = {{0, 0.3, 0}, 0.3, 1, 1, 1};
  EXPECT_FALSE(wheel_sphere_contact(inner, c, axle, R, r, &res, &p));

  // Over a shape, the deepest element wins.
  float elements[3][7] = {
      {0, 0, 1.6f, 0.4f, 1, 1, 1}, {0, 1.2f, 0, 0.4f, 0.9f, 2, 3}, {5, 5, 5, 0.4f, 1, 1, 1}};
  Shape shape{3, elements, nullptr, 0};
  int32_t which = -1;
  ASSERT_TRUE(wheel_shape_contact(&shape, c, axle, R, r, &res, &p, &which));
  EXPECT_EQ(which, 1);
  EXPECT_NEAR(res.depth, 0.5, 1e-6);
  EXPECT_NEAR(p.mu, 0.9, 1e-6);
  Shape none{0, nullptr, nullptr, 0};
  EXPECT_FALSE(wheel_shape_contact(&none, c, axle, R, r, &res, &p, &which));
}

// ---------------------------------------------------------------- softness and friction

TEST(ContactSoftness, ErpAndCfmFromStiffnessAndDamping) {
  struct Case {
    double kp, kd, erp, cfm;
  } cases[] = {
      {25000, 2500, 0.07246376811594203, 0.0003710144927536232},
      {2500, 250, 0.07246376811594203, 0.0037101449275362317},
      {1000, 200, 0.03759398496240601, 0.00481203007518797},
      {4000, 487.5, 0.060240963855421686, 0.0019277108433734939},
      {-5, 10, 0, 0.1},  // negative stiffness counts as none
  };
  for (const Case& c : cases) {
    double erp = -1, cfm = -1;
    ASSERT_TRUE(contact_softness(c.kp, c.kd, &erp, &cfm)) << c.kp;
    EXPECT_NEAR(erp, c.erp, 1e-15) << c.kp;
    EXPECT_NEAR(cfm, c.cfm, 1e-15) << c.kp;
  }
  double erp = -1, cfm = -1;
  EXPECT_FALSE(contact_softness(0, 0, &erp, &cfm));
  EXPECT_EQ(erp, 0);
  EXPECT_EQ(cfm, 0);
  EXPECT_FALSE(contact_softness(NAN, -1, &erp, &cfm));
  EXPECT_FALSE(contact_softness(INFINITY, 1, &erp, &cfm));
}

TEST(ContactSoftness, WheelStiffnessGrowsWithTheCubeOfTheSinking) {
  struct Case {
    double depth, tyre, k, kp, kd;
  } cases[] = {
      {0, 0.3, 0, 1000, 200},     {0.125, 0.25, 0.5, 4000, 487.5}, {0.3, 0.3, 1, 25000, 2500},
      {0.9, 0.3, 1, 25000, 2500}, {0.1, 0, 1, 25000, 2500},        {-0.1, 0.3, 0, 1000, 200},
  };
  for (const Case& c : cases) {
    double kp, kd;
    EXPECT_DOUBLE_EQ(wheel_ground_stiffness(c.depth, c.tyre, &kp, &kd), c.k) << c.depth;
    EXPECT_DOUBLE_EQ(kp, c.kp) << c.depth;
    EXPECT_DOUBLE_EQ(kd, c.kd) << c.depth;
  }
}

TEST(ContactSoftness, FirstFrictionDirection) {
  Vec3 out{};
  ASSERT_TRUE(wheel_friction_direction({0, 1, 0}, {0, 0, 5}, {1, 0, 0}, &out));
  expect_vec(out, {1, 0, 0}, EPS, "across the travel");
  // Barely moving: across the axle instead.
  ASSERT_TRUE(wheel_friction_direction({0, 1, 0}, {0, 0, 0.01}, {1, 0, 0}, &out));
  expect_vec(out, {0, 0, -1}, EPS, "from the axle");
  // Neither gives a direction.
  out = {7, 7, 7};
  EXPECT_FALSE(wheel_friction_direction({0, 1, 0}, {0, 0, 0}, {0, 1, 0}, &out));
  EXPECT_EQ(out.x, 7);
}

// ---------------------------------------------------------------- wheel mark ring

TEST(ContactWheelMarks, RingFillsEmptiesAndWraps) {
  std::unique_ptr<WheelMarkRing> ring(new WheelMarkRing());
  wheel_marks_clear(ring.get());
  EXPECT_TRUE(wheel_marks_empty(ring.get()));
  EXPECT_FALSE(wheel_marks_full(ring.get()));
  WheelMark m{};
  EXPECT_FALSE(wheel_mark_pop(ring.get(), &m));
  // It holds one entry fewer than its size.
  for (int k = 0; k < WHEEL_MARK_COUNT - 1; k++)
    ASSERT_TRUE(wheel_mark_push(ring.get(), WheelMark{(float)k, 0, 0, 0})) << k;
  EXPECT_TRUE(wheel_marks_full(ring.get()));
  EXPECT_EQ(wheel_marks_count(ring.get()), WHEEL_MARK_COUNT - 1);
  EXPECT_FALSE(wheel_mark_push(ring.get(), WheelMark{-1, 0, 0, 0}));
  for (int k = 0; k < 100; k++) {
    ASSERT_TRUE(wheel_mark_pop(ring.get(), &m));
    EXPECT_EQ(m.x, (float)k);
  }
  // Wrap past the end: order is kept.
  for (int k = 0; k < 100; k++)
    ASSERT_TRUE(wheel_mark_push(ring.get(), WheelMark{1000.0f + k, 0, 0, 0}));
  EXPECT_TRUE(wheel_marks_full(ring.get()));
  EXPECT_LT(ring->write_index, ring->read_index);
  for (int k = 100; k < WHEEL_MARK_COUNT - 1; k++) {
    ASSERT_TRUE(wheel_mark_pop(ring.get(), &m));
    EXPECT_EQ(m.x, (float)k);
  }
  for (int k = 0; k < 100; k++) {
    ASSERT_TRUE(wheel_mark_pop(ring.get(), &m));
    EXPECT_EQ(m.x, 1000.0f + k);
  }
  EXPECT_TRUE(wheel_marks_empty(ring.get()));
  EXPECT_FALSE(wheel_mark_pop(ring.get(), &m));
}

TEST(ContactWheelMarks, RecordScalesBySpeedAndAdvancesOnlyForStrongForces) {
  std::unique_ptr<WheelMarkRing> ring(new WheelMarkRing());
  wheel_marks_clear(ring.get());
  TileType tile{};
  tile.erode_off_speed = 2;
  tile.erode_on_speed = 10;
  tile.erode_lower = 5;
  struct Case {
    const char* name;
    double speed, fx, fz;
    bool advances;
    float stored_fx, stored_fz;
  } cases[] = {
      {"full speed", 20, 30, 40, true, 30, 40},    {"half way", 6, 30, 40, true, 15, 20},
      {"below erode_lower", 6, 6, 8, false, 3, 4},  // |uF| = 5, not above 5
      {"standing", 1, 300, 400, false, 0, 0},      {"just above", 10, 3, 4.01, true, 3, 4.01f},
  };
  for (const Case& c : cases) {
    int32_t before = ring->write_index;
    EXPECT_EQ(wheel_mark_record(ring.get(), &tile, 7.5, -2.25, c.speed, c.fx, c.fz), c.advances)
        << c.name;
    const WheelMark& m = ring->marks[before];
    EXPECT_EQ(m.x, 7.5f) << c.name;
    EXPECT_EQ(m.z, -2.25f) << c.name;
    EXPECT_FLOAT_EQ(m.force_x, c.stored_fx) << c.name;
    EXPECT_FLOAT_EQ(m.force_z, c.stored_fz) << c.name;
    EXPECT_EQ(ring->write_index, c.advances ? before + 1 : before) << c.name;
  }
  // With no lower bound, forces up to 1/32 still do not count.
  tile.erode_lower = 0;
  EXPECT_FALSE(wheel_mark_record(ring.get(), &tile, 0, 0, 20, 0.03, 0));
  EXPECT_TRUE(wheel_mark_record(ring.get(), &tile, 0, 0, 20, 0.04, 0));
  // A full ring is left alone.
  ring->read_index = (ring->write_index + 1) % WHEEL_MARK_COUNT;
  ASSERT_TRUE(wheel_marks_full(ring.get()));
  WheelMark kept = ring->marks[ring->write_index];
  int32_t write = ring->write_index;
  EXPECT_FALSE(wheel_mark_record(ring.get(), &tile, 99, 99, 20, 500, 500));
  EXPECT_EQ(ring->write_index, write);
  EXPECT_EQ(ring->marks[write].x, kept.x);
}

TEST(ContactWheelMarks, ErosionScale) {
  struct Case {
    double speed, off, on, u;
  } cases[] = {
      {0, 2, 10, 0}, {2, 2, 10, 0},  {6, 2, 10, 0.5}, {10, 2, 10, 1},  {50, 2, 10, 1},
      {3, 3, 3, 0},  {3.1, 3, 3, 1}, {1, 5, 2, 0},    {NAN, 2, 10, 0},
  };
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(wheel_mark_scale(c.speed, c.off, c.on), c.u) << c.speed << " " << c.off;
}

// The height-field searches skip triangles that cannot touch and run the
// costly fallback only where it could win; they must find exactly what
// testing every triangle of the covered cells in order finds.
TEST(ContactHeightField, PrunedSearchesMatchTestingEveryTriangle) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  SmallField field(4, 0.5f, [&](int32_t i, int32_t j) {
    return (float)(0.4 * sin(i * 0.9) * cos(j * 0.7) + 0.2 * u(rng));
  });
  const HeightField* hf = field.hf.get();
  auto brute = [&](double reach, const std::function<bool(const Triangle&, ContactResult*)>& test,
                   Vec3 centre, ContactResult* out) {
    CellRange cells;
    out->depth = 0;
    if (!contact_cell_range(hf, centre, reach, &cells)) return false;
    ContactResult best;
    best.depth = 0;
    for (int32_t j = cells.j0; j < cells.j1; j++)
      for (int32_t i = cells.i0; i < cells.i1; i++) {
        Triangle tris[2];
        terrain_cell_triangles(hf, i, j, tris);
        for (const Triangle& t : tris) {
          ContactResult c;
          if (test(t, &c) && c.depth > best.depth) best = c;
        }
      }
    if (!(best.depth > 0)) return false;
    best.normal = fix_ground_normal(best.normal);
    *out = best;
    return true;
  };
  int32_t wheel_hits = 0, sphere_hits = 0;
  for (int32_t n = 0; n < 3000; n++) {
    Vec3 c = vec3(1 + 14 * u(rng), -0.3 + 1.6 * u(rng), 1 + 14 * u(rng));
    // Mostly upright wheels, some leaned far over or lying flat.
    double lean = n % 10 == 0 ? 1.5707963 : (u(rng) - 0.5) * 1.6;
    double yaw = n % 3 == 0 ? 0.0 : n % 3 == 1 ? 1.5707963 : u(rng) * 6.283;  // along x, z, any
    Vec3 axle = vec3(cos(yaw) * cos(lean), sin(lean), sin(yaw) * cos(lean));
    const double R = 0.8, r = 0.3;
    ContactResult fast, slow;
    bool f = hf_torus_contact(hf, c, axle, R, r, true, &fast);
    bool s = brute(R + r,
                   [&](const Triangle& t, ContactResult* o) {
                     return torus_triangle(c, axle, R, r, t, true, o);
                   },
                   c, &slow);
    ASSERT_EQ(f, s) << n;
    if (f) {
      wheel_hits++;
      EXPECT_EQ(fast.depth, slow.depth) << n;
      EXPECT_EQ(fast.normal.x, slow.normal.x) << n;
      EXPECT_EQ(fast.normal.y, slow.normal.y) << n;
      EXPECT_EQ(fast.point.z, slow.point.z) << n;
    }
    double radius = 0.1 + 0.5 * u(rng);
    f = hf_sphere_contact(hf, c, radius, &fast);
    s = brute(radius,
              [&](const Triangle& t, ContactResult* o) { return sphere_triangle(c, radius, t, o); },
              c, &slow);
    ASSERT_EQ(f, s) << n;
    if (f) {
      sphere_hits++;
      EXPECT_EQ(fast.depth, slow.depth) << n;
    }
  }
  // Both kinds of outcome were exercised.
  EXPECT_GT(wheel_hits, 500);
  EXPECT_LT(wheel_hits, 2900);
  EXPECT_GT(sphere_hits, 300);
}
