// Collision shapes: small sets of spheres read from ".shp" files, cached by
// name, with per-bike instances whose elements are rewritten in world space.
//
// ".shp" text: the element count N, then N elements of seven numbers each:
// centre x, y, z (body frame), radius, friction, stiffness, damping.
#pragma once

#include <cstdint>

struct DataFile;

constexpr int32_t SHAPE_ELEMENT_FLOATS = 7;
// Element fields.
constexpr int32_t SHAPE_X = 0;
constexpr int32_t SHAPE_Y = 1;
constexpr int32_t SHAPE_Z = 2;
constexpr int32_t SHAPE_RADIUS = 3;
constexpr int32_t SHAPE_FRICTION = 4;
constexpr int32_t SHAPE_STIFFNESS = 5;
constexpr int32_t SHAPE_DAMPING = 6;
// Largest element count accepted from a file.
constexpr int32_t SHAPE_MAX_ELEMENTS = 65536;

// A cached shape (name set, elements in the body frame), or an instance
// (elements in world space, name of the cached shape it copies).
struct Shape {
  int32_t count;
  float (*elements)[7];
  const char* name;       // interned
  float bounding_radius;  // largest |centre| + radius, 0 without elements
};

// Parses a ".shp" stream into out (elements mem_alloc'd, name left nullptr).
// False, with out cleared, when the count cannot be read, is negative or too
// large, or the file ends before the last element is complete.
bool shape_read(DataFile* file, Shape* out);
// Largest |centre| + radius over the elements (0 for none).
float shape_bounding_radius(const float (*elements)[7], int32_t count);

// Cached by exact name; nullptr when missing or malformed (failures are not
// cached, so a file that appears later is read then).
const Shape* shape_load(const char* name);
// A per-bike copy of the cached shape (mem_alloc'd); nullptr when none.
Shape* shape_instance(const char* name);
void shape_instance_free(Shape* shape);
// Frees every cached shape (shutdown; tests).
void shape_cache_free();
int32_t shape_cache_count();
