// Contact geometry of the bike against the ground and against other shapes:
// the height field's triangles, the torus (wheel) and sphere tests against a
// triangle, sphere pairs, the wheel against a sphere, the contact softness
// handed to the dynamics library, the tile under a point and the wheel mark
// ring that feeds ground erosion.
//
// Everything here is pure geometry over plain vectors; the callers turn the
// results into contact joints. Vectors are double precision: the dynamics
// library works in doubles, body positions arrive as doubles, and the tests
// subtract nearby points far from the origin (a track is up to a few thousand
// feet wide) and compare depths down to 2^-20, which float cannot carry.
//
// Conventions: a contact's normal points from the ground (or the struck
// element) towards the wheel or sphere being tested; depth > 0 means contact.
#pragma once

#include <cstdint>

struct HeightField;
struct Shape;
struct TileType;

// ---------------------------------------------------------------- vectors

struct Vec3 {
  double x, y, z;
};

inline Vec3 vec3(double x, double y, double z) { return Vec3{x, y, z}; }
inline Vec3 operator+(Vec3 a, Vec3 b) { return Vec3{a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator-(Vec3 a) { return Vec3{-a.x, -a.y, -a.z}; }
inline Vec3 operator*(Vec3 a, double s) { return Vec3{a.x * s, a.y * s, a.z * s}; }
inline Vec3 operator*(double s, Vec3 a) { return Vec3{a.x * s, a.y * s, a.z * s}; }
inline double vec3_dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 vec3_cross(Vec3 a, Vec3 b) {
  return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double vec3_length_sq(Vec3 a) { return vec3_dot(a, a); }
double vec3_length(Vec3 a);
// a / |a|; (0, 0, 0) when a has no usable length (zero, denormal-small or not finite).
Vec3 vec3_normalize(Vec3 a);

// ---------------------------------------------------------------- results

// One contact. depth > 0 means the shapes touch; point is on the tested
// shape's surface (tyre or sphere) and normal is unit length.
struct ContactResult {
  double depth;
  Vec3 point;
  Vec3 normal;
};

// Friction and softness of a contact, before conversion to ERP / CFM.
struct ContactParams {
  double mu;
  double kp;  // stiffness
  double kd;  // damping
};

// One collision sphere in world space with its surface parameters (a shape
// element after transformation).
struct ContactSphere {
  Vec3 centre;
  double radius;
  double friction;
  double stiffness;
  double damping;
};

// The element of a shape (seven floats: x, y, z, radius, friction, stiffness,
// damping) as a sphere.
ContactSphere contact_sphere_from_element(const float element[7]);

struct Triangle {
  Vec3 v[3];
};

// ---------------------------------------------------------------- terrain triangles

// Cells [i0, i1) x [j0, j1) covered by a test at centre c with reach e: i from
// floor((c.x - e) / spacing) up to, not including, ceil((c.x + e) / spacing),
// likewise j over z. Cells outside the grid are allowed (the border heights
// continue flat there). False, with an empty range, when the field has no
// heights, the input is not finite, or the range is absurdly large
// (more than CONTACT_MAX_CELL_SPAN cells per side or far beyond any world).
struct CellRange {
  int32_t i0, i1;
  int32_t j0, j1;
};
constexpr int32_t CONTACT_MAX_CELL_SPAN = 1024;
bool contact_cell_range(const HeightField* hf, Vec3 centre, double reach, CellRange* out);

// The two triangles of cell (i, j), split as the height query splits it. With
// e = 1 when i and j have equal parity, else 0: first (i, j), (i, j+1),
// (i+1, j+e); second (i+1, j+1), (i+1, j), (i, j+1-e). Corners lie at
// (i * spacing, height, j * spacing); sample indices are clamped into the grid.
// Both triangles' normals (T1 - T0) x (T2 - T0) point up.
void terrain_cell_triangles(const HeightField* hf, int32_t i, int32_t j, Triangle out[2]);

// Tile index under (x, z): column trunc(clamp(x / (2 spacing), 0, n - 1)),
// row likewise from z, n the tilemap size. 0 without a tilemap.
int32_t contact_tile_index(const HeightField* hf, double x, double z);

// ---------------------------------------------------------------- triangle tests

// Nearest point to x on the ring (circle of radius ring_radius about the unit
// axle through centre). A point on the axle takes a fixed ring point.
Vec3 ring_nearest_point(Vec3 centre, Vec3 axle, double ring_radius, Vec3 x);

// Torus (wheel) against one triangle: centre c, axle (normalised here), ring
// radius R, tube radius r. with_fallback = false skips the closest-approach
// fallback (replayed bikes): such a triangle gives no contact. True with *out
// filled when depth > 0; otherwise false and *out is left alone.
bool torus_triangle(Vec3 centre, Vec3 axle, double ring_radius, double tyre_radius,
                    const Triangle& tri, bool with_fallback, ContactResult* out);

// Least distance between the ring and the (filled) triangle, with the ring's
// point and the triangle's point of closest approach. False for a degenerate
// triangle or axle.
bool ring_triangle_distance(Vec3 centre, Vec3 axle, double ring_radius, const Triangle& tri,
                            double* distance, Vec3* ring_point, Vec3* triangle_point);

// Sphere against one triangle. True with *out filled when depth > 0.
bool sphere_triangle(Vec3 centre, double radius, const Triangle& tri, ContactResult* out);

// The fix for a ground normal that points down: with y < 0, a horizontal part
// of squared length >= 1/1024 keeps its direction with y set to 0, otherwise
// the normal becomes (0, 1, 0); the result is normalised. A degenerate normal
// (zero or not finite) also becomes (0, 1, 0).
Vec3 fix_ground_normal(Vec3 normal);

// ---------------------------------------------------------------- over the height field

// Deepest torus contact over the triangles of the cells within
// ring_radius + tyre_radius of the centre, normal fixed as above. True with
// *out filled on contact; otherwise false with out->depth = 0.
bool hf_torus_contact(const HeightField* hf, Vec3 centre, Vec3 axle, double ring_radius,
                      double tyre_radius, bool with_fallback, ContactResult* out);
// Highest height sample at the corners of the cells within reach of the
// centre (samples clamped into the grid as the triangles clamp them): no
// triangle of those cells rises above it. Infinity when the range is unusable.
double hf_max_height(const HeightField* hf, Vec3 centre, double reach);
// Deepest sphere contact over the cells within radius of the centre, normal
// fixed as above. True with *out filled on contact; otherwise false with out->depth = 0.
bool hf_sphere_contact(const HeightField* hf, Vec3 centre, double radius, ContactResult* out);

// ---------------------------------------------------------------- shapes against shapes

// Whether two bounding spheres meet (the cheap test before any pair test).
bool bounding_spheres_meet(Vec3 a, double radius_a, Vec3 b, double radius_b);

// Sphere a (on body A) against sphere b (on body B): touch when
// d = |b - a| < ra + rb; depth = ra + rb - d, normal = (b - a) / d (from a
// towards b), point = a + (b - a)(ra - depth / 2) / d. Coincident centres take
// the normal (0, 1, 0). params (when not nullptr) get the smaller friction,
// stiffness and damping of the two.
bool sphere_pair(const ContactSphere& a, const ContactSphere& b, ContactResult* out,
                 ContactParams* params);

// Surface of a wheel taken as a sphere at its ring: friction 1, stiffness and damping.
constexpr double WHEEL_SHAPE_FRICTION = 1.0;
constexpr double WHEEL_SHAPE_STIFFNESS = 25000.0;
constexpr double WHEEL_SHAPE_DAMPING = 2500.0;

// An element (on body A) against a wheel (on body B) taken as a torus: the
// element's centre is projected onto the wheel plane and scaled to the ring
// to find the nearest ring point; a sphere of tyre_radius there (with the
// wheel surface above) is tested as sphere_pair(element, wheel sphere).
bool wheel_sphere_contact(const ContactSphere& element, Vec3 centre, Vec3 axle, double ring_radius,
                          double tyre_radius, ContactResult* out, ContactParams* params);
// The deepest such contact over the elements of a world-space shape instance.
// *element_index (when not nullptr) gets the element that made it.
bool wheel_shape_contact(const Shape* shape, Vec3 centre, Vec3 axle, double ring_radius,
                         double tyre_radius, ContactResult* out, ContactParams* params,
                         int32_t* element_index);

// ---------------------------------------------------------------- softness and friction

// ODE softness from stiffness kp and damping kd with h = TICK_SECONDS:
// CFM = 1 / (h kp + kd), ERP = h kp CFM. Negative kp or kd count as 0; false
// (with ERP 0 and CFM 0) when both are 0 or not finite, and the caller makes no joint.
bool contact_softness(double kp, double kd, double* erp, double* cfm);

// Ground softness of a wheel sunk by depth: k = min(1, depth / tyre_radius),
// kp = 1000 + 24000 k^3, kd = 200 + 2300 k^3. Returns k (1 for a tyre radius <= 0).
double wheel_ground_stiffness(double depth, double tyre_radius, double* kp, double* kd);
// Ground and shape contacts other than wheels.
constexpr double SHAPE_GROUND_STIFFNESS = 2500.0;
constexpr double SHAPE_GROUND_DAMPING = 250.0;

// First friction direction of a wheel contact: normal x velocity, or
// normal x axle when that is shorter than 1/32; normalised. False when both
// vanish (no direction to set).
bool wheel_friction_direction(Vec3 normal, Vec3 velocity, Vec3 axle, Vec3* out);

// ---------------------------------------------------------------- wheel mark ring

constexpr int32_t WHEEL_MARK_COUNT = 1024;

struct WheelMark {
  float x, z;              // contact point on the ground
  float force_x, force_z;  // scaled horizontal contact force
};

// A ring of marks written by the bike and consumed by ground erosion. Full when
// advancing the write index would reach the read index (so it holds at most
// WHEEL_MARK_COUNT - 1 marks); empty when both indices are equal.
struct WheelMarkRing {
  WheelMark marks[WHEEL_MARK_COUNT];
  int32_t write_index;
  int32_t read_index;
};

void wheel_marks_clear(WheelMarkRing* ring);
bool wheel_marks_full(const WheelMarkRing* ring);
bool wheel_marks_empty(const WheelMarkRing* ring);
int32_t wheel_marks_count(const WheelMarkRing* ring);
// Stores a mark and advances the write index; false (nothing stored) when full.
bool wheel_mark_push(WheelMarkRing* ring, const WheelMark& mark);
// Takes the oldest mark; false when empty.
bool wheel_mark_pop(WheelMarkRing* ring, WheelMark* out);

// Erosion scale of a wheel moving at speed over a tile:
// clamp((speed - off) / (on - off), 0, 1). With on <= off the scale is a step:
// 1 above off, else 0.
double wheel_mark_scale(double speed, double off_speed, double on_speed);
// The mark rule for a touching wheel: left alone when the ring is full;
// otherwise (x, z, u fx, u fz) with u = wheel_mark_scale(speed, tile's
// erode_off_speed, erode_on_speed) is written at the write index, which advances
// only when (u fx)^2 + (u fz)^2 exceeds both erode_lower^2 and 1/1024.
// Returns whether the index advanced.
bool wheel_mark_record(WheelMarkRing* ring, const TileType* tile, double x, double z, double speed,
                       double force_x, double force_z);
