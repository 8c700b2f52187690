// Fuzzes the PNG readers (RGB/RGBA with info text, and 16-bit grey) and the
// mip chain built from what they return.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/files.h"
#include "core/mem.h"
#include "render/image.h"

namespace {

// Mutations almost always break a chunk CRC, which libpng rejects at once;
// repairing them lets the fuzzer reach the decoding paths.
std::vector<uint8_t> with_repaired_crcs(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  size_t p = 8;
  while (p + 12 <= bytes.size()) {
    uint32_t length =
        (uint32_t)bytes[p] << 24 | bytes[p + 1] << 16 | bytes[p + 2] << 8 | bytes[p + 3];
    if (length > bytes.size() - p - 12) break;
    uint32_t crc = (uint32_t)crc32(0, bytes.data() + p + 4, length + 4);
    for (int i = 0; i < 4; i++) bytes[p + 8 + length + i] = (uint8_t)(crc >> (24 - 8 * i));
    p += 12 + length;
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* raw, size_t size) {
  std::vector<uint8_t> repaired = with_repaired_crcs(raw, size);
  const uint8_t* data = repaired.data();
  DataFile* f = data_open_memory(data, size, false, false);
  if (!f) return 0;
  Image image;
  if (image_read_png_stream(f, nullptr, 0, nullptr, &image)) {
    if (image.width <= 0 || image.height <= 0 || (image.channels != 3 && image.channels != 4) ||
        !image.pixels)
      __builtin_trap();
    // The info text may ask for hand-made levels or maximum alpha.
    MipChain chain;
    if (image_to_chain(&image, "fuzz.png", true, true, 1, &chain, nullptr)) {
      int32_t w = 0, h = 0;
      if (!mip_level(&chain, chain.level_count - 1, &w, &h) || w != 1 || h != 1) __builtin_trap();
      mip_chain_free(&chain);
    }
  } else if (image.pixels || image.info) {
    __builtin_trap();
  }
  image_free(&image);
  data_close(f);

  f = data_open_memory(data, size, false, false);
  uint16_t* samples = nullptr;
  int32_t width = 0, height = 0;
  if (image_read_png_grey16_stream(f, nullptr, &samples, &width, &height)) {
    if (width <= 0 || height <= 0 || !samples) __builtin_trap();
    volatile uint32_t sum = 0;
    for (int64_t i = 0; i < (int64_t)width * height; i++) sum = sum + samples[i];
  } else if (samples) {
    __builtin_trap();
  }
  mem_free(samples);
  data_close(f);
  return 0;
}
