// ".shp" collision shapes: the reader, the cache by name and per-bike instances.
#include "physics/shape.h"

#include <cmath>
#include <cstring>

#include "core/files.h"
#include "core/mem.h"
#include "core/program.h"
#include "platform/log.h"

namespace {

// Cached shapes; each record is its own block so pointers handed out stay put.
GrowArray<Shape*> shape_cache;

void shape_clear(Shape* shape) {
  shape->count = 0;
  shape->elements = nullptr;
  shape->name = nullptr;
  shape->bounding_radius = 0.0f;
}

}  // namespace

float shape_bounding_radius(const float (*elements)[7], int32_t count) {
  float radius = 0.0f;
  for (int32_t i = 0; i < count; i++) {
    const float* e = elements[i];
    float r =
        std::sqrt(e[SHAPE_X] * e[SHAPE_X] + e[SHAPE_Y] * e[SHAPE_Y] + e[SHAPE_Z] * e[SHAPE_Z]) +
        e[SHAPE_RADIUS];
    if (r > radius) radius = r;
  }
  return radius;
}

bool shape_read(DataFile* file, Shape* out) {
  shape_clear(out);
  int count = 0;
  if (data_scanf(file, "%d", &count) != 1) return false;
  if (count < 0 || count > SHAPE_MAX_ELEMENTS) return false;
  float(*elements)[7] = nullptr;
  if (count > 0) {
    elements = (float(*)[7])mem_alloc((size_t)count * sizeof *elements);
    if (!elements) fatal_out_of_memory();
  }
  for (int32_t i = 0; i < count; i++) {
    for (int32_t k = 0; k < SHAPE_ELEMENT_FLOATS; k++) {
      float v;
      // A number that is not finite would poison every contact it takes part in.
      if (data_scanf(file, "%f", &v) != 1 || !std::isfinite(v)) {
        mem_free(elements);
        return false;
      }
      elements[i][k] = v;
    }
  }
  out->count = count;
  out->elements = elements;
  out->bounding_radius = shape_bounding_radius(elements, count);
  return true;
}

const Shape* shape_load(const char* name) {
  if (!name || !*name) return nullptr;
  for (int32_t i = 0; i < shape_cache.count; i++) {
    Shape* s = shape_cache.data[i];
    if (strcmp(s->name, name) == 0) return s;
  }
  DataFile* file = data_open(name, "rb");
  if (!file) {
    if (debug_level > 0) log_printf("Can't open shape '%.900s'\n", name);
    return nullptr;
  }
  Shape loaded;
  bool ok = shape_read(file, &loaded);
  data_close(file);
  if (!ok) {
    if (debug_level > 0) log_printf("Bad shape file '%.900s'\n", name);
    return nullptr;
  }
  Shape* s = (Shape*)mem_alloc(sizeof(Shape));
  if (!s) fatal_out_of_memory();
  *s = loaded;
  s->name = intern_string(name);
  if (!grow_push(shape_cache, s)) {
    mem_free(s->elements);
    mem_free(s);
    fatal_out_of_memory();
  }
  return s;
}

Shape* shape_instance(const char* name) {
  const Shape* source = shape_load(name);
  if (!source) return nullptr;
  // One block: the record followed by its elements.
  size_t bytes = sizeof(Shape) + (size_t)source->count * sizeof *source->elements;
  Shape* copy = (Shape*)mem_alloc(bytes);
  if (!copy) fatal_out_of_memory();
  copy->count = source->count;
  copy->elements = source->count > 0 ? (float(*)[7])(copy + 1) : nullptr;
  if (source->count > 0) {
    memcpy(copy->elements, source->elements, (size_t)source->count * sizeof *source->elements);
  }
  copy->name = source->name;
  copy->bounding_radius = source->bounding_radius;
  return copy;
}

void shape_instance_free(Shape* shape) { mem_free(shape); }

void shape_cache_free() {
  for (int32_t i = 0; i < shape_cache.count; i++) {
    mem_free(shape_cache.data[i]->elements);
    mem_free(shape_cache.data[i]);
  }
  grow_free(shape_cache);
}

int32_t shape_cache_count() { return shape_cache.count; }
