// Generated collision shapes (".shp"): spheres covering each statue model,
// and the seven stock bike shapes placed on the bike's bodies.
//
// Bike shapes are written relative to each body's centre in the reset pose
// (x lateral, y up, z towards the rear; feet). The points below are given in
// the bike frame and the body centre is subtracted when writing.
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "tools/datagen.h"

extern const float DG_GATE_PLATE_Z;
extern const float DG_GATE_PLATE_HEIGHT;
extern const float DG_GATE_HALF_WIDTH;
void dg_gate_lower(float y, float z, float* out_y, float* out_z);

namespace {

// Contact material of a sphere.
struct Material {
  float friction, stiffness, damping;
};

// Metal and plastic parts of the bike: fairly hard, slide easily.
constexpr Material BIKE_HARD = {0.5f, 20000, 2000};
// Tyres: the values the wheel contact uses for a tyre against a shape.
constexpr Material TYRE = {1.0f, 25000, 2500};
// Rider in riding gear: softer and grippier.
constexpr Material RIDER = {0.8f, 6000, 600};
// Track objects.
constexpr Material HAY = {0.9f, 4000, 400};
constexpr Material PLASTIC = {0.6f, 10000, 1000};
// Tyres bolted into a wall give little.
constexpr Material RUBBER = {1.0f, 20000, 2000};
constexpr Material GATE = {0.6f, 20000, 2000};

struct Sphere {
  float x, y, z, r;
};

struct ShapeOut {
  Sphere spheres[64];
  Material material[64];
  int32_t count;
};

void put(ShapeOut* s, float x, float y, float z, float r, Material m) {
  if (s->count >= 64) return;
  s->spheres[s->count] = Sphere{x, y, z, r};
  s->material[s->count] = m;
  s->count++;
}

// Mirrored pair at +x and -x.
void put_pair(ShapeOut* s, float x, float y, float z, float r, Material m) {
  put(s, -x, y, z, r, m);
  put(s, x, y, z, r, m);
}

bool write_shape(const char* out_dir, const char* asset, const ShapeOut* s, const float centre[3]) {
  FILE* f = dg_create(out_dir, dg_file(asset));
  if (!f) return false;
  fprintf(f, "%d\n", s->count);
  for (int32_t i = 0; i < s->count; i++) {
    const Sphere& e = s->spheres[i];
    const Material& m = s->material[i];
    fprintf(f, "%.4f %.4f %.4f %.4f %.3f %.0f %.0f\n", e.x - centre[0], e.y - centre[1],
            e.z - centre[2], e.r, m.friction, m.stiffness, m.damping);
  }
  return fclose(f) == 0;
}

const float ORIGIN[3] = {0, 0, 0};

// ------------------------------------------------------------ bike bodies

// Body centres of the reset pose, common to every catalogue entry.
const float FRAME_POS[3] = {0, 1.98f, 3.6f};
const float STEERING_POS[3] = {0, 2.9f, 2.16f};
const float FORK_LOWER_POS[3] = {0, 1.77f, 1.59f};
const float SWINGARM_POS[3] = {0, 1.34f, 4.99f};
const float SWINGARM_PIVOT[3] = {0, 1.6f, 4.08f};
const float FRONT_WHEEL_POS[3] = {0, 1.09f, 1.11f};
const float REAR_WHEEL_POS[3] = {0, 1.04f, 6.0f};
const float RIDER_POS[3] = {0, 4.5f, 4.12f};
constexpr float FRONT_RING = 0.8333333f, REAR_RING = 0.75f, TYRE_RADIUS = 0.3333333f;

bool frame(const char* dir) {
  ShapeOut s = {};
  put(&s, 0, 1.45f, 3.3f, 0.5f, BIKE_HARD);            // crankcase
  put(&s, 0, 1.5f, 3.9f, 0.42f, BIKE_HARD);            // gearbox
  put(&s, 0, 2.25f, 2.9f, 0.42f, BIKE_HARD);           // cylinder and head
  put(&s, 0, 2.75f, 2.45f, 0.3f, BIKE_HARD);           // steering head
  put_pair(&s, 0.5f, 2.6f, 2.75f, 0.32f, BIKE_HARD);   // radiators and shrouds
  put(&s, 0, 2.9f, 3.25f, 0.38f, BIKE_HARD);           // tank
  put(&s, 0, 3.05f, 4.0f, 0.33f, BIKE_HARD);           // seat
  put(&s, 0, 3.1f, 4.7f, 0.3f, BIKE_HARD);             // seat, rear
  put(&s, 0, 3.1f, 5.45f, 0.28f, BIKE_HARD);           // rear fender
  put(&s, 0, 3.0f, 6.15f, 0.22f, BIKE_HARD);           // rear fender tip
  put(&s, 0.42f, 2.45f, 5.15f, 0.28f, BIKE_HARD);      // silencer
  put_pair(&s, 0.6f, 1.42f, 4.18f, 0.16f, BIKE_HARD);  // footpegs
  return write_shape(dir, DG_SHAPE_FRAME, &s, FRAME_POS);
}

bool fork_upper(const char* dir) {
  ShapeOut s = {};
  put_pair(&s, 1.05f, 4.0f, 2.9f, 0.2f, BIKE_HARD);    // bar ends at the grips
  put_pair(&s, 0.55f, 3.95f, 2.8f, 0.2f, BIKE_HARD);   // handlebar
  put(&s, 0, 3.3f, 2.35f, 0.3f, BIKE_HARD);            // triple clamp
  put_pair(&s, 0.42f, 2.9f, 2.16f, 0.18f, BIKE_HARD);  // fork tubes
  put(&s, 0, 3.05f, 1.9f, 0.3f, BIKE_HARD);            // number plate
  return write_shape(dir, DG_SHAPE_FORK_UPPER, &s, STEERING_POS);
}

bool fork_lower(const char* dir) {
  ShapeOut s = {};
  // Along the steering axis on both legs, from the axle up.
  float dy = STEERING_POS[1] - FORK_LOWER_POS[1], dz = STEERING_POS[2] - FORK_LOWER_POS[2];
  float len = sqrtf(dy * dy + dz * dz);
  dy /= len, dz /= len;
  const float along[3] = {-0.55f, -0.05f, 0.45f};
  for (float t : along)
    put_pair(&s, 0.42f, FORK_LOWER_POS[1] + t * dy, FORK_LOWER_POS[2] + t * dz, 0.16f, BIKE_HARD);
  put(&s, 0, 2.45f, 1.05f, 0.24f, BIKE_HARD);  // front fender
  return write_shape(dir, DG_SHAPE_FORK_LOWER, &s, FORK_LOWER_POS);
}

bool swingarm(const char* dir) {
  ShapeOut s = {};
  const float along[3] = {0.2f, 0.55f, 0.9f};
  for (float t : along) {
    float y = SWINGARM_PIVOT[1] + t * (REAR_WHEEL_POS[1] - SWINGARM_PIVOT[1]);
    float z = SWINGARM_PIVOT[2] + t * (REAR_WHEEL_POS[2] - SWINGARM_PIVOT[2]);
    put_pair(&s, 0.36f, y, z, 0.15f, BIKE_HARD);
  }
  put(&s, 0, 1.05f, 4.55f, 0.16f, BIKE_HARD);  // chain slider under the pivot
  return write_shape(dir, DG_SHAPE_SWINGARM, &s, SWINGARM_POS);
}

bool wheel(const char* dir, const char* asset, const float centre[3], float ring) {
  ShapeOut s = {};
  // Spheres of the tyre section around the ring in the wheel's y-z plane.
  const float PI = 3.14159265358979f;
  for (int32_t k = 0; k < 10; k++) {
    float a = 2 * PI * k / 10;
    put(&s, centre[0], centre[1] + ring * sinf(a), centre[2] + ring * cosf(a), TYRE_RADIUS, TYRE);
  }
  return write_shape(dir, asset, &s, centre);
}

bool rider(const char* dir) {
  ShapeOut s = {};
  float x = RIDER_POS[0], y = RIDER_POS[1], z = RIDER_POS[2];
  put(&s, x, y + 0.81f, z - 0.94f, 0.45f, RIDER);            // helmet
  put(&s, x, y + 0.2f, z - 0.3f, 0.52f, RIDER);              // chest
  put(&s, x, y - 0.45f, z + 0.45f, 0.5f, RIDER);             // hips
  put_pair(&s, 0.556f, y + 0.58f, z - 0.65f, 0.28f, RIDER);  // shoulders
  put_pair(&s, 0.9f, y + 0.05f, z - 1.1f, 0.22f, RIDER);     // elbows
  put_pair(&s, 0.55f, y - 1.6f, z - 0.5f, 0.28f, RIDER);     // knees
  return write_shape(dir, DG_SHAPE_RIDER, &s, RIDER_POS);
}

// ------------------------------------------------------------ statues

bool statue_shapes(const char* dir) {
  {  // Hay bale 3.5 x 1.4 x 1.8.
    ShapeOut s = {};
    for (int i = 0; i < 4; i++)
      for (int k = -1; k <= 1; k += 2) put(&s, -1.05f + 0.7f * i, 0.7f, 0.2f * k, 0.7f, HAY);
    if (!write_shape(dir, DG_HAYBALE_SHAPE, &s, ORIGIN)) return false;
  }
  {  // Tuff block 4 x 1.5 x 1.2.
    ShapeOut s = {};
    for (int i = 0; i < 5; i++) put(&s, -1.4f + 0.7f * i, 0.75f, 0, 0.62f, PLASTIC);
    if (!write_shape(dir, DG_TUFFBLOCK_SHAPE, &s, ORIGIN)) return false;
  }
  {  // A wall of stacked tires, chest high.
    ShapeOut s = {};
    const float PI = 3.14159265358979f;
    for (int layer = 0; layer < TIRE_LAYERS; layer++)
      for (int k = 0; k < 8; k++) {
        float a = 2 * PI * k / 8;
        put(&s, 0.75f * cosf(a), 0.3f + 0.6f * layer, 0.75f * sinf(a), 0.32f, RUBBER);
      }
    if (!write_shape(dir, DG_TIRE_SHAPE, &s, ORIGIN)) return false;
  }
  {  // Starting gate plate, placed as modelled (lowered).
    ShapeOut s = {};
    float r = 0.25f;
    for (int row = 0; row < 3; row++)
      for (int col = 0; col < 7; col++) {
        float y, z;
        dg_gate_lower(0.25f + 0.5f * row, DG_GATE_PLATE_Z, &y, &z);
        float x = -DG_GATE_HALF_WIDTH + 0.2f + col * (2 * DG_GATE_HALF_WIDTH - 0.4f) / 6;
        put(&s, x, y, z, r, GATE);
      }
    (void)DG_GATE_PLATE_HEIGHT;
    if (!write_shape(dir, DG_STARTGATE_SHAPE, &s, ORIGIN)) return false;
  }
  return true;
}

}  // namespace

bool datagen_shapes(const char* out_dir) {
  return frame(out_dir) && fork_upper(out_dir) && fork_lower(out_dir) && swingarm(out_dir) &&
         wheel(out_dir, DG_SHAPE_FRONT_WHEEL, FRONT_WHEEL_POS, FRONT_RING) &&
         wheel(out_dir, DG_SHAPE_REAR_WHEEL, REAR_WHEEL_POS, REAR_RING) && rider(out_dir) &&
         statue_shapes(out_dir);
}
