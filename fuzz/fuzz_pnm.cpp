// Fuzzes the PPM/PGM reader (P2, P3, P5, P6) and the texture shaping of its
// result (grey to RGB, power-of-two shrink, mip chain).
#include <cstddef>
#include <cstdint>

#include "core/files.h"
#include "render/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DataFile* f = data_open_memory(data, size, false, false);
  if (!f) return 0;
  Image image;
  if (image_read_pnm_stream(f, &image)) {
    if (image.width <= 0 || image.height <= 0 || (image.channels != 1 && image.channels != 3) ||
        !image.pixels)
      __builtin_trap();
    MipChain chain;
    bool npot = false;
    if (!image_to_chain(&image, "fuzz.ppm", true, true, 2, &chain, &npot)) __builtin_trap();
    if (chain.channels != 3 || (chain.width & (chain.width - 1)) ||
        (chain.height & (chain.height - 1)))
      __builtin_trap();
    mip_chain_free(&chain);
  } else if (image.pixels) {
    __builtin_trap();
  }
  image_free(&image);
  data_close(f);
  return 0;
}
