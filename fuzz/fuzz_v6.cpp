// Fuzzes the predictive "V6"/"V7" raster reader. The first byte chooses the
// channel count; the rest is the raster after its magic word.
#include <cstddef>
#include <cstdint>

#include "core/files.h"
#include "render/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  int32_t channels = (data[0] & 1) ? 4 : 3;
  DataFile* f = data_open_memory(data + 1, size - 1, false, false);
  if (!f) return 0;
  Image image;
  if (image_read_v_raster(f, channels, &image)) {
    if (image.width <= 0 || image.height <= 0 || image.channels != channels || !image.pixels)
      __builtin_trap();
    MipChain chain;
    if (!image_to_chain(&image, "fuzz.v7", false, true, 0, &chain, nullptr)) __builtin_trap();
    mip_chain_free(&chain);
  } else if (image.pixels) {
    __builtin_trap();
  }
  image_free(&image);
  data_close(f);

  // The same bytes read by content (any magic the input starts with).
  f = data_open_memory(data + 1, size - 1, false, false);
  if (image_read_stream(f, nullptr, &image)) image_free(&image);
  data_close(f);
  return 0;
}
