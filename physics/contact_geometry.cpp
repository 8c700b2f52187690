// Contact geometry: terrain triangles, torus and sphere tests against a
// triangle, the closest approach of a ring and a triangle, sphere pairs, the
// wheel against a sphere, and the softness of contacts.
#include "physics/contact_geometry.h"

#include <cmath>

#include "core/common.h"
#include "physics/shape.h"
#include "track/heightfield.h"

double vec3_length(Vec3 a) { return sqrt(vec3_length_sq(a)); }

Vec3 vec3_normalize(Vec3 a) {
  double len = vec3_length(a);
  if (!(len > 1e-300) || !std::isfinite(len)) return Vec3{0, 0, 0};
  return a * (1.0 / len);
}

ContactSphere contact_sphere_from_element(const float element[7]) {
  ContactSphere s;
  s.centre = Vec3{element[SHAPE_X], element[SHAPE_Y], element[SHAPE_Z]};
  s.radius = element[SHAPE_RADIUS];
  s.friction = element[SHAPE_FRICTION];
  s.stiffness = element[SHAPE_STIFFNESS];
  s.damping = element[SHAPE_DAMPING];
  return s;
}

namespace {

constexpr Vec3 UP = {0, 1, 0};
// Depth given to a wheel that straddles a triangle's edge.
constexpr double EDGE_CROSSING_DEPTH_OFFSET = 1.0 / 1048576.0;  // 2^-20
// Samples per edge when searching the ring's closest approach, and the
// golden-section steps that refine each sampled minimum.
constexpr int EDGE_SAMPLES = 16;
constexpr int EDGE_REFINE_STEPS = 48;
// Cell indices stay well inside int32 (i + 1 must not overflow).
constexpr double MAX_CELL_INDEX = 1073741824.0;  // 2^30

bool finite3(Vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Some unit vector perpendicular to the unit vector a.
Vec3 any_perpendicular(Vec3 a) {
  Vec3 other = fabs(a.x) < 0.6 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
  return vec3_normalize(vec3_cross(a, other));
}

// The precomputed sides of a triangle for the inside tests.
struct TriangleFrame {
  Vec3 t[3];
  Vec3 edge[3];         // T(i+1) - T(i)
  Vec3 edge_normal[3];  // edge x N, pointing out of the triangle
  Vec3 n;               // (T1 - T0) x (T2 - T0)
  Vec3 unit_n;
  double n_length;
};

bool triangle_frame(const Triangle& tri, TriangleFrame* f) {
  for (int i = 0; i < 3; i++) {
    if (!finite3(tri.v[i])) return false;
    f->t[i] = tri.v[i];
  }
  for (int i = 0; i < 3; i++) f->edge[i] = f->t[(i + 1) % 3] - f->t[i];
  f->n = vec3_cross(f->edge[0], f->t[2] - f->t[0]);
  f->n_length = vec3_length(f->n);
  if (!(f->n_length > 0) || !std::isfinite(f->n_length)) return false;
  f->unit_n = f->n * (1.0 / f->n_length);
  for (int i = 0; i < 3; i++) f->edge_normal[i] = vec3_cross(f->edge[i], f->n);
  return true;
}

bool inside(const TriangleFrame& f, Vec3 x) {
  for (int i = 0; i < 3; i++)
    if (vec3_dot(f.edge_normal[i], x - f.t[i]) > 0) return false;
  return true;
}

// The inside test seen from above: edge normals made with (0, 1, 0).
bool inside_from_above(const TriangleFrame& f, Vec3 x) {
  for (int i = 0; i < 3; i++)
    if (vec3_dot(vec3_cross(f.edge[i], UP), x - f.t[i]) > 0) return false;
  return true;
}

// Squared distance from x to the ring, with the ring point.
double ring_distance_sq(Vec3 c, Vec3 a, double ring_radius, Vec3 x, Vec3* ring_point) {
  Vec3 y = x - c;
  double along = vec3_dot(a, y);
  Vec3 radial = y - a * along;
  double rho = vec3_length(radial);
  if (ring_point) {
    Vec3 dir = rho > 1e-12 ? radial * (1.0 / rho) : any_perpendicular(a);
    *ring_point = c + dir * ring_radius;
  }
  double off = rho - ring_radius;
  return along * along + off * off;
}

// Least squared distance between the ring and the segment A..B: the squared
// distance along the segment is sampled, and every sampled local minimum is
// refined by golden-section search within its neighbouring samples.
double ring_segment_distance_sq(Vec3 c, Vec3 a, double ring_radius, Vec3 A, Vec3 B, Vec3* seg_point,
                                Vec3* ring_point) {
  Vec3 d = B - A;
  double f[EDGE_SAMPLES + 1];
  for (int k = 0; k <= EDGE_SAMPLES; k++)
    f[k] = ring_distance_sq(c, a, ring_radius, A + d * ((double)k / EDGE_SAMPLES), nullptr);
  double best = INFINITY, best_t = 0;
  for (int k = 0; k <= EDGE_SAMPLES; k++) {
    if (k > 0 && f[k] > f[k - 1]) continue;
    if (k < EDGE_SAMPLES && f[k] > f[k + 1]) continue;
    double lo = (double)(k > 0 ? k - 1 : 0) / EDGE_SAMPLES;
    double hi = (double)(k < EDGE_SAMPLES ? k + 1 : EDGE_SAMPLES) / EDGE_SAMPLES;
    if (f[k] < best) {
      best = f[k];
      best_t = (double)k / EDGE_SAMPLES;
    }
    const double g = 0.6180339887498949;
    double x1 = hi - g * (hi - lo), x2 = lo + g * (hi - lo);
    double f1 = ring_distance_sq(c, a, ring_radius, A + d * x1, nullptr);
    double f2 = ring_distance_sq(c, a, ring_radius, A + d * x2, nullptr);
    for (int step = 0; step < EDGE_REFINE_STEPS; step++) {
      if (f1 <= f2) {
        hi = x2;
        x2 = x1;
        f2 = f1;
        x1 = hi - g * (hi - lo);
        f1 = ring_distance_sq(c, a, ring_radius, A + d * x1, nullptr);
      } else {
        lo = x1;
        x1 = x2;
        f1 = f2;
        x2 = lo + g * (hi - lo);
        f2 = ring_distance_sq(c, a, ring_radius, A + d * x2, nullptr);
      }
    }
    double t = f1 <= f2 ? x1 : x2;
    double v = f1 <= f2 ? f1 : f2;
    if (v < best) {
      best = v;
      best_t = t;
    }
  }
  *seg_point = A + d * best_t;
  return ring_distance_sq(c, a, ring_radius, *seg_point, ring_point);
}

// The direction in the wheel plane towards the back of the triangle's plane.
Vec3 towards_back(const TriangleFrame& f, Vec3 a) {
  Vec3 u = vec3_cross(vec3_cross(f.n, a), a);
  if (vec3_dot(u, f.n) > 0) u = -u;
  // A wheel lying parallel to the plane has no such direction: any ring
  // point is then as near to the plane as any other.
  if (vec3_length(u) <= 1e-12 * f.n_length) return any_perpendicular(a);
  return vec3_normalize(u);
}

bool ring_triangle_distance_frame(Vec3 c, Vec3 a, double ring_radius, const TriangleFrame& f,
                                  double* distance, Vec3* ring_point, Vec3* triangle_point) {
  double best = INFINITY;
  Vec3 best_ring = c, best_tri = f.t[0];
  // The triangle's interior: the ring point nearest the plane, or the points
  // where the ring passes through it.
  Vec3 uh = towards_back(f, a);
  double s_c = vec3_dot(c - f.t[0], f.unit_n);
  double slope = -vec3_dot(uh, f.unit_n);  // >= 0: how far the ring tilts towards the plane
  double s_low = s_c - ring_radius * slope, s_high = s_c + ring_radius * slope;
  if (s_low > 0 || s_high < 0) {
    Vec3 p = s_low > 0 ? c + uh * ring_radius : c - uh * ring_radius;
    double s = s_low > 0 ? s_low : s_high;
    Vec3 q = p - f.unit_n * s;
    if (inside(f, q)) {
      best = fabs(s);
      best_ring = p;
      best_tri = q;
    }
  } else if (slope > 1e-12) {
    Vec3 x = c + uh * (s_c / slope);
    double off = vec3_length(x - c);
    double half = ring_radius * ring_radius - off * off;
    half = half > 0 ? sqrt(half) : 0;
    Vec3 along = vec3_normalize(vec3_cross(a, f.n));
    for (int side = -1; side <= 1; side += 2) {
      Vec3 p = x + along * (half * side);
      if (inside(f, p)) {
        best = 0;
        best_ring = best_tri = p;
        break;
      }
    }
  } else {
    // The ring lies in the plane.
    Vec3 p = c + any_perpendicular(a) * ring_radius;
    if (inside(f, p)) {
      best = 0;
      best_ring = best_tri = p;
    }
  }
  if (best > 0) {
    for (int i = 0; i < 3; i++) {
      Vec3 seg, ring;
      double d2 =
          ring_segment_distance_sq(c, a, ring_radius, f.t[i], f.t[(i + 1) % 3], &seg, &ring);
      double d = sqrt(d2);
      if (d < best) {
        best = d;
        best_ring = ring;
        best_tri = seg;
      }
    }
  }
  if (!std::isfinite(best)) return false;
  *distance = best;
  *ring_point = best_ring;
  *triangle_point = best_tri;
  return true;
}

// Whether the tube of radius tyre_radius around the ring cannot reach the
// triangle: the triangle lies beyond the tube's slab on one side of the wheel
// plane, or wholly outside the torus's outer sphere or inside its hole.
bool torus_misses(Vec3 c, Vec3 a, double ring_radius, double tyre_radius, const TriangleFrame& f) {
  double along[3], dist[3];
  for (int i = 0; i < 3; i++) {
    along[i] = vec3_dot(a, f.t[i] - c);
    dist[i] = vec3_length(f.t[i] - c);
  }
  if (along[0] > tyre_radius && along[1] > tyre_radius && along[2] > tyre_radius) return true;
  if (along[0] < -tyre_radius && along[1] < -tyre_radius && along[2] < -tyre_radius) return true;
  if (dist[0] < ring_radius - tyre_radius && dist[1] < ring_radius - tyre_radius &&
      dist[2] < ring_radius - tyre_radius)
    return true;
  Vec3 centroid = (f.t[0] + f.t[1] + f.t[2]) * (1.0 / 3.0);
  double spread = 0;
  for (int i = 0; i < 3; i++) {
    double s = vec3_length(f.t[i] - centroid);
    if (s > spread) spread = s;
  }
  if (vec3_length(c - centroid) - spread > ring_radius + tyre_radius) return true;
  // The whole triangle lies within `spread` of its centroid, so it is at
  // least (distance from the ring to the centroid - spread) from the ring.
  return sqrt(ring_distance_sq(c, a, ring_radius, centroid, nullptr)) - spread >= tyre_radius;
}

}  // namespace

// ---------------------------------------------------------------- terrain triangles

bool contact_cell_range(const HeightField* hf, Vec3 centre, double reach, CellRange* out) {
  *out = CellRange{0, 0, 0, 0};
  if (!hf || !hf->heights || !(hf->spacing > 0) || hf->grid_size < 1) return false;
  if (!finite3(centre) || !(reach >= 0) || !std::isfinite(reach)) return false;
  double s = hf->spacing;
  double i0 = floor((centre.x - reach) / s), i1 = ceil((centre.x + reach) / s);
  double j0 = floor((centre.z - reach) / s), j1 = ceil((centre.z + reach) / s);
  if (!(i0 >= -MAX_CELL_INDEX && i1 <= MAX_CELL_INDEX && j0 >= -MAX_CELL_INDEX &&
        j1 <= MAX_CELL_INDEX))
    return false;
  if (i1 - i0 > CONTACT_MAX_CELL_SPAN || j1 - j0 > CONTACT_MAX_CELL_SPAN) return false;
  *out = CellRange{(int32_t)i0, (int32_t)i1, (int32_t)j0, (int32_t)j1};
  return true;
}

void terrain_cell_triangles(const HeightField* hf, int32_t i, int32_t j, Triangle out[2]) {
  double s = hf->spacing;
  auto corner = [&](int32_t ci, int32_t cj) {
    return Vec3{ci * s, (double)hf_sample(hf, ci, cj), cj * s};
  };
  int32_t e = ((i ^ j) & 1) == 0 ? 1 : 0;
  out[0].v[0] = corner(i, j);
  out[0].v[1] = corner(i, j + 1);
  out[0].v[2] = corner(i + 1, j + e);
  out[1].v[0] = corner(i + 1, j + 1);
  out[1].v[1] = corner(i + 1, j);
  out[1].v[2] = corner(i, j + 1 - e);
}

int32_t contact_tile_index(const HeightField* hf, double x, double z) {
  if (!hf || !hf->tilemap || !(hf->spacing > 0)) return 0;
  int32_t n = 1 << hf->size_log2;
  double tile = 2.0 * hf->spacing;
  double col = x / tile, row = z / tile;
  if (!(col >= 0)) col = 0;  // NaN too
  if (col > n - 1) col = n - 1;
  if (!(row >= 0)) row = 0;
  if (row > n - 1) row = n - 1;
  return hf->tilemap[(size_t)(int32_t)row * (size_t)n + (size_t)(int32_t)col];
}

// ---------------------------------------------------------------- triangle tests

Vec3 ring_nearest_point(Vec3 centre, Vec3 axle, double ring_radius, Vec3 x) {
  Vec3 a = vec3_normalize(axle);
  if (vec3_length_sq(a) == 0) a = Vec3{1, 0, 0};
  Vec3 point;
  ring_distance_sq(centre, a, ring_radius, x, &point);
  return point;
}

bool ring_triangle_distance(Vec3 centre, Vec3 axle, double ring_radius, const Triangle& tri,
                            double* distance, Vec3* ring_point, Vec3* triangle_point) {
  Vec3 a = vec3_normalize(axle);
  TriangleFrame f;
  if (vec3_length_sq(a) == 0 || !finite3(centre) || !(ring_radius >= 0) || !triangle_frame(tri, &f))
    return false;
  return ring_triangle_distance_frame(centre, a, ring_radius, f, distance, ring_point,
                                      triangle_point);
}

namespace {

// How torus_triangle_test treats a triangle that needs the closest-approach
// fallback.
enum FallbackMode { FALLBACK_SKIP, FALLBACK_RUN, FALLBACK_DEFER };

// The torus-triangle test. With FALLBACK_DEFER a triangle that would need the
// fallback gives no contact and *bound receives the most depth the fallback
// could find there (-1 when it finds none for sure).
bool torus_triangle_test(Vec3 c, Vec3 axle, double ring_radius, double tyre_radius,
                         const Triangle& tri, FallbackMode mode, ContactResult* out,
                         double* bound) {
  if (bound) *bound = -1;
  Vec3 a = vec3_normalize(axle);
  TriangleFrame f;
  if (vec3_length_sq(a) == 0 || !finite3(c) || !(ring_radius >= 0) || !(tyre_radius > 0) ||
      !std::isfinite(ring_radius + tyre_radius) || !triangle_frame(tri, &f))
    return false;
  const double R = ring_radius, r = tyre_radius;
  Vec3 uh = towards_back(f, a);
  Vec3 p_low = c + uh * R, p_high = c - uh * R;
  double s_low = vec3_dot(p_low - f.t[0], f.unit_n);
  double s_high = vec3_dot(p_high - f.t[0], f.unit_n);
  ContactResult res;
  if (s_low > 0) {
    // The ring is in front of the plane: its lowest point over the interior.
    if (inside(f, p_low)) {
      Vec3 q = p_low - f.unit_n * s_low;
      res.normal = f.unit_n;
      res.depth = r - s_low;
      res.point = ring_nearest_point(c, a, R, q) - res.normal * r;
      if (!(res.depth > 0)) return false;
      *out = res;
      return true;
    }
  } else if (s_high > 0) {
    // The ring crosses the plane. X is where the line through c along u meets it.
    double slope = vec3_dot(uh, f.unit_n);  // < 0 here
    Vec3 x = c + uh * (-vec3_dot(c - f.t[0], f.unit_n) / slope);
    if (inside(f, x)) {
      res.normal = f.unit_n;
      res.depth = r - s_low;
      res.point = p_low - res.normal * r;
      *out = res;
      return true;
    }
    for (int i = 0; i < 3; i++) {
      if (!(vec3_dot(f.edge_normal[i], x - f.t[i]) > 0)) continue;
      Vec3 t0 = f.t[i], t1 = f.t[(i + 1) % 3];
      double side0 = vec3_dot(a, t0 - c), side1 = vec3_dot(a, t1 - c);
      if ((side0 <= 0) == (side1 <= 0)) continue;
      Vec3 p = t0 + f.edge[i] * (side0 / (side0 - side1));
      if (!(vec3_length(p - c) < R)) continue;
      Vec3 w = vec3_cross(p - c, a);
      if (vec3_dot(w, f.n) < 0) w = -w;
      Vec3 n = vec3_normalize(vec3_cross(f.edge[i], w));
      if (vec3_length_sq(n) == 0) continue;  // p at the centre: no direction
      res.normal = n;
      res.depth = r - EDGE_CROSSING_DEPTH_OFFSET;
      res.point = ring_nearest_point(c, a, R, p) - n * r;
      if (!(res.depth > 0)) return false;
      *out = res;
      return true;
    }
  } else {
    // The ring lies wholly behind the plane: buried under the triangle.
    if (inside_from_above(f, c)) {
      res.normal = UP;
      res.depth = 2 * R;
      res.point = p_low;
      if (!(res.depth > 0)) return false;
      *out = res;
      return true;
    }
  }
  if (mode == FALLBACK_SKIP || torus_misses(c, a, R, r, f)) return false;
  if (mode == FALLBACK_DEFER) {
    // Every ring point is at least s_low from the plane when the ring lies
    // in front of it, so the triangle is at least that far away.
    // And the whole triangle lies within its spread of its centroid.
    double lower = s_low > 0 ? s_low : 0;
    Vec3 centroid = (f.t[0] + f.t[1] + f.t[2]) * (1.0 / 3.0);
    double spread = 0;
    for (int i = 0; i < 3; i++) spread = fmax(spread, vec3_length(f.t[i] - centroid));
    lower = fmax(lower, sqrt(ring_distance_sq(c, a, R, centroid, nullptr)) - spread);
    if (bound) *bound = r - lower;
    return false;
  }
  double distance;
  Vec3 ring_point, tri_point;
  if (!ring_triangle_distance_frame(c, a, R, f, &distance, &ring_point, &tri_point)) return false;
  res.depth = r - distance;
  if (!(res.depth > 0)) return false;
  res.normal = vec3_normalize(ring_point - tri_point);
  if (vec3_length_sq(res.normal) == 0) res.normal = f.unit_n;
  res.point = ring_point - res.normal * r;
  *out = res;
  return true;
}

}  // namespace

bool torus_triangle(Vec3 c, Vec3 axle, double ring_radius, double tyre_radius, const Triangle& tri,
                    bool with_fallback, ContactResult* out) {
  return torus_triangle_test(c, axle, ring_radius, tyre_radius, tri,
                             with_fallback ? FALLBACK_RUN : FALLBACK_SKIP, out, nullptr);
}

bool sphere_triangle(Vec3 p, double radius, const Triangle& tri, ContactResult* out) {
  TriangleFrame f;
  if (!finite3(p) || !(radius > 0) || !std::isfinite(radius) || !triangle_frame(tri, &f))
    return false;
  bool outer[3];
  bool outside = false;
  for (int i = 0; i < 3; i++) {
    outer[i] = vec3_dot(p - f.t[i], f.edge_normal[i]) > 0;
    outside = outside || outer[i];
  }
  ContactResult res;
  if (outside) {
    // Closest point on the boundary: the first outer edge that p projects
    // onto, else the nearest corner.
    Vec3 q = f.t[0];
    bool on_edge = false;
    for (int i = 0; i < 3 && !on_edge; i++) {
      if (!outer[i]) continue;
      double t = vec3_dot(p - f.t[i], f.edge[i]) / vec3_length_sq(f.edge[i]);
      if (t >= 0 && t <= 1) {
        q = f.t[i] + f.edge[i] * t;
        on_edge = true;
      }
    }
    if (!on_edge) {
      double nearest = INFINITY;
      for (int i = 0; i < 3; i++) {
        double d2 = vec3_length_sq(p - f.t[i]);
        if (d2 < nearest) {
          nearest = d2;
          q = f.t[i];
        }
      }
    }
    double dist = vec3_length(p - q);
    res.normal = vec3_normalize(p - q);
    if (vec3_length_sq(res.normal) == 0) res.normal = f.unit_n;
    res.depth = radius - dist;
  } else {
    res.normal = f.unit_n;
    res.depth = radius - vec3_dot(res.normal, p - f.t[0]);
    if (res.depth > 2 * radius) return false;  // the centre is more than a radius behind
  }
  if (!(res.depth > 0)) return false;
  res.point = p - res.normal * radius;
  *out = res;
  return true;
}

Vec3 fix_ground_normal(Vec3 n) {
  if (!finite3(n)) return UP;
  if (n.y < 0) {
    if (n.x * n.x + n.z * n.z >= 1.0 / 1024.0)
      n.y = 0;
    else
      return UP;
  }
  n = vec3_normalize(n);
  return vec3_length_sq(n) == 0 ? UP : n;
}

// ---------------------------------------------------------------- over the height field

namespace {

// The deepest contact of test(triangle) over the cells within reach of
// centre, with the downward-normal fix; false when nothing touches.
template <typename TriangleTest>
bool hf_deepest_contact(const HeightField* hf, Vec3 centre, double reach, TriangleTest test,
                        ContactResult* out) {
  out->depth = 0;
  CellRange cells;
  if (!contact_cell_range(hf, centre, reach, &cells)) return false;
  ContactResult best;
  best.depth = 0;
  for (int32_t j = cells.j0; j < cells.j1; j++) {
    for (int32_t i = cells.i0; i < cells.i1; i++) {
      Triangle tris[2];
      terrain_cell_triangles(hf, i, j, tris);
      for (int k = 0; k < 2; k++) {
        ContactResult c;
        if (test(tris[k], &c) && c.depth > best.depth) best = c;
      }
    }
  }
  if (!(best.depth > 0)) return false;
  best.normal = fix_ground_normal(best.normal);
  *out = best;
  return true;
}

}  // namespace

double hf_max_height(const HeightField* hf, Vec3 centre, double reach) {
  CellRange cells;
  if (!contact_cell_range(hf, centre, reach, &cells)) return INFINITY;
  int32_t last = hf->grid_size - 1;
  auto clampi = [last](int32_t v) { return v < 0 ? 0 : (v > last ? last : v); };
  double top = -INFINITY;
  for (int32_t j = clampi(cells.j0); j <= clampi(cells.j1); j++)
    for (int32_t i = clampi(cells.i0); i <= clampi(cells.i1); i++)
      top = fmax(top, (double)hf->heights[(size_t)j * hf->grid_size + i]);
  return top;
}

bool hf_torus_contact(const HeightField* hf, Vec3 centre, Vec3 axle, double ring_radius,
                      double tyre_radius, bool with_fallback, ContactResult* out) {
  if (with_fallback) {
    // The closest-approach fallback is costly. First every triangle's direct
    // contact; then the fallback only where it could still beat the deepest
    // contact so far (or tie with it from an earlier triangle). The result is
    // that of testing every triangle in order and keeping the first deepest.
    out->depth = 0;
    CellRange cells;
    if (!contact_cell_range(hf, centre, ring_radius + tyre_radius, &cells)) return false;
    struct Deferred {
      Triangle tri;
      double bound;
      int32_t index;
      bool parallel;
    };
    constexpr int32_t MAX_DEFERRED = 256;
    Deferred deferred[MAX_DEFERRED];
    int32_t n_deferred = 0;
    ContactResult best;
    best.depth = 0;
    int32_t best_index = -1, index = 0;
    // Every contact the test can find lies within the tyre radius of the
    // ring (or, buried, right under its centre): triangles whose horizontal
    // extent misses the ring's, widened by the tyre radius, are skipped, and
    // so is all of it when the tyre is above every sample under it.
    Vec3 a = vec3_normalize(axle);
    double lowest = centre.y - ring_radius * sqrt(fmax(0.0, 1 - a.y * a.y)) - tyre_radius;
    if (lowest > hf_max_height(hf, centre, ring_radius + tyre_radius)) return false;
    double half_x = ring_radius * sqrt(fmax(0.0, 1 - a.x * a.x)) + tyre_radius;
    double half_z = ring_radius * sqrt(fmax(0.0, 1 - a.z * a.z)) + tyre_radius;
    for (int32_t j = cells.j0; j < cells.j1; j++) {
      for (int32_t i = cells.i0; i < cells.i1; i++) {
        Triangle tris[2];
        terrain_cell_triangles(hf, i, j, tris);
        for (int k = 0; k < 2; k++, index++) {
          const Vec3* v = tris[k].v;
          if (fmax(fmax(v[0].x, v[1].x), v[2].x) < centre.x - half_x ||
              fmin(fmin(v[0].x, v[1].x), v[2].x) > centre.x + half_x ||
              fmax(fmax(v[0].z, v[1].z), v[2].z) < centre.z - half_z ||
              fmin(fmin(v[0].z, v[1].z), v[2].z) > centre.z + half_z)
            continue;
          ContactResult c;
          double bound = -1;
          FallbackMode mode = n_deferred < MAX_DEFERRED ? FALLBACK_DEFER : FALLBACK_RUN;
          if (torus_triangle_test(centre, axle, ring_radius, tyre_radius, tris[k], mode, &c,
                                  &bound)) {
            if (c.depth > best.depth) {
              best = c;
              best_index = index;
            }
          } else if (bound > 0) {
            Vec3 n = vec3_normalize(vec3_cross(tris[k].v[1] - tris[k].v[0], tris[k].v[2] - tris[k].v[0]));
            bool parallel = fabs(vec3_dot(a, n)) > 1 - 1e-9;
            deferred[n_deferred++] = Deferred{tris[k], bound, index, parallel};
          }
        }
      }
    }
    for (int32_t d = 0; d < n_deferred; d++) {
      const Deferred& t = deferred[d];
      // A fallback contact is strictly shallower than its bound unless the
      // ring lies parallel to the triangle's plane (a wheel on its side).
      if (t.bound < best.depth ||
          (t.bound == best.depth && (t.index > best_index || !t.parallel)))
        continue;
      ContactResult c;
      if (!torus_triangle_test(centre, axle, ring_radius, tyre_radius, t.tri, FALLBACK_RUN, &c,
                               nullptr))
        continue;
      if (c.depth > best.depth || (c.depth == best.depth && t.index < best_index)) {
        best = c;
        best_index = t.index;
      }
    }
    if (!(best.depth > 0)) return false;
    best.normal = fix_ground_normal(best.normal);
    *out = best;
    return true;
  }
  return hf_deepest_contact(
      hf, centre, ring_radius + tyre_radius,
      [&](const Triangle& t, ContactResult* c) {
        return torus_triangle(centre, axle, ring_radius, tyre_radius, t, with_fallback, c);
      },
      out);
}


bool hf_sphere_contact(const HeightField* hf, Vec3 centre, double radius, ContactResult* out) {
  // A sphere wholly above every sample under it touches nothing.
  if (centre.y - radius > hf_max_height(hf, centre, radius)) {
    out->depth = 0;
    return false;
  }
  return hf_deepest_contact(
      hf, centre, radius,
      [&](const Triangle& t, ContactResult* c) { return sphere_triangle(centre, radius, t, c); },
      out);
}

// ---------------------------------------------------------------- shapes against shapes

bool bounding_spheres_meet(Vec3 a, double radius_a, Vec3 b, double radius_b) {
  double reach = radius_a + radius_b;
  return vec3_length_sq(b - a) < reach * reach;
}

bool sphere_pair(const ContactSphere& a, const ContactSphere& b, ContactResult* out,
                 ContactParams* params) {
  if (!finite3(a.centre) || !finite3(b.centre)) return false;
  double reach = a.radius + b.radius;
  Vec3 diff = b.centre - a.centre;
  double d = vec3_length(diff);
  if (!(d < reach)) return false;
  ContactResult res;
  res.depth = reach - d;
  if (d > 0) {
    res.normal = diff * (1.0 / d);
    res.point = a.centre + diff * ((a.radius - res.depth / 2) / d);
  } else {
    // Coincident centres give no direction; push along the vertical.
    res.normal = UP;
    res.point = a.centre + UP * (a.radius - res.depth / 2);
  }
  *out = res;
  if (params) {
    params->mu = a.friction < b.friction ? a.friction : b.friction;
    params->kp = a.stiffness < b.stiffness ? a.stiffness : b.stiffness;
    params->kd = a.damping < b.damping ? a.damping : b.damping;
  }
  return true;
}

bool wheel_sphere_contact(const ContactSphere& element, Vec3 centre, Vec3 axle, double ring_radius,
                          double tyre_radius, ContactResult* out, ContactParams* params) {
  ContactSphere wheel;
  wheel.centre = ring_nearest_point(centre, axle, ring_radius, element.centre);
  wheel.radius = tyre_radius;
  wheel.friction = WHEEL_SHAPE_FRICTION;
  wheel.stiffness = WHEEL_SHAPE_STIFFNESS;
  wheel.damping = WHEEL_SHAPE_DAMPING;
  return sphere_pair(element, wheel, out, params);
}

bool wheel_shape_contact(const Shape* shape, Vec3 centre, Vec3 axle, double ring_radius,
                         double tyre_radius, ContactResult* out, ContactParams* params,
                         int32_t* element_index) {
  if (!shape || !shape->elements) return false;
  bool found = false;
  for (int32_t k = 0; k < shape->count; k++) {
    ContactSphere element = contact_sphere_from_element(shape->elements[k]);
    ContactResult c;
    ContactParams p;
    if (!wheel_sphere_contact(element, centre, axle, ring_radius, tyre_radius, &c, &p)) continue;
    if (found && !(c.depth > out->depth)) continue;
    found = true;
    *out = c;
    if (params) *params = p;
    if (element_index) *element_index = k;
  }
  return found;
}

// ---------------------------------------------------------------- softness and friction

bool contact_softness(double kp, double kd, double* erp, double* cfm) {
  if (!(kp > 0)) kp = 0;  // NaN too
  if (!(kd > 0)) kd = 0;
  double denominator = TICK_SECONDS * kp + kd;
  if (!(denominator > 0) || !std::isfinite(denominator)) {
    *erp = 0;
    *cfm = 0;
    return false;
  }
  *cfm = 1.0 / denominator;
  *erp = TICK_SECONDS * kp * *cfm;
  return true;
}

double wheel_ground_stiffness(double depth, double tyre_radius, double* kp, double* kd) {
  double k = tyre_radius > 0 ? depth / tyre_radius : 1.0;
  if (!(k > 0)) k = 0;  // NaN too
  if (k > 1) k = 1;
  double k3 = k * k * k;
  *kp = 1000 + 24000 * k3;
  *kd = 200 + 2300 * k3;
  return k;
}

bool wheel_friction_direction(Vec3 normal, Vec3 velocity, Vec3 axle, Vec3* out) {
  Vec3 f = vec3_cross(normal, velocity);
  if (!(vec3_length_sq(f) >= 1.0 / 1024.0)) f = vec3_cross(normal, axle);
  Vec3 unit = vec3_normalize(f);
  if (vec3_length_sq(unit) == 0) return false;
  *out = unit;
  return true;
}
