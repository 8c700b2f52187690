// Arbitrary bytes as a ".shp" collision shape: the reader either gives a shape
// whose element count is within bounds, whose numbers are finite and whose
// bounding radius covers every element, or nothing with the record cleared.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/files.h"
#include "core/mem.h"
#include "physics/shape.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DataFile* f = data_open_memory(data, size, false, false);
  if (!f) return 0;
  Shape shape;
  bool ok = shape_read(f, &shape);
  data_close(f);
  if (!ok) {
    if (shape.count != 0 || shape.elements != nullptr) abort();
    return 0;
  }
  if (shape.count < 0 || shape.count > SHAPE_MAX_ELEMENTS) abort();
  if (shape.count > 0 && !shape.elements) abort();
  if (!(shape.bounding_radius >= 0.0f)) abort();
  for (int32_t i = 0; i < shape.count; i++) {
    for (int32_t k = 0; k < SHAPE_ELEMENT_FLOATS; k++)
      if (!std::isfinite(shape.elements[i][k])) abort();
  }
  mem_free(shape.elements);
  return 0;
}
