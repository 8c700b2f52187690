// Fuzzes the number-plate colour comment reader and the skin variant names.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/mem.h"
#include "physics/catalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text((const char*)data, size);
  PlateColours colours = plate_colours_from_comment(text.c_str());
  (void)colours;
  // The same bytes split in two as a model path and a skin path.
  size_t half = text.size() / 2;
  std::string model = text.substr(0, half).c_str(), skin = text.substr(half).c_str();
  char* variant = skin_variant_name(model.c_str(), skin.c_str());
  if (variant) {
    char* in_skin_dir = skin_variant_in_skin_dir(variant, skin.c_str());
    mem_free(in_skin_dir);
  }
  mem_free(variant);
  return 0;
}
