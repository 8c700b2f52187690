// Images in memory: the readers for PNG (libpng), PPM/PGM and the predictive
// "V6"/"V7" raster, the 16-bit grey and RGB PNG writers, and the mipmap
// chains that the texture layer and the memory image cache build on the CPU.
//
// Pixel layout everywhere: rows top to bottom, 8 bits per channel. A mip chain
// stores level 0 followed by each half-size level down to 1x1 (each dimension
// halved, never below 1).
#pragma once

#include <cstddef>
#include <cstdint>

struct DataFile;

// Largest accepted side and pixel count of a decoded image.
constexpr int32_t IMAGE_MAX_DIMENSION = 32768;
constexpr int64_t IMAGE_MAX_PIXELS = (int64_t)1 << 27;

struct Image {
  int32_t width;
  int32_t height;
  int32_t channels;  // 1 grey (PGM), 3 RGB, 4 RGBA
  uint8_t* pixels;   // level 0, rows top to bottom, mem_alloc'd
  char* info;        // text chunks + ".info" side file, or nullptr
};

// ---------------------------------------------------------------- reading

// Reads by content: PNG, P2/P3/P5/P6, V6/V7. The name goes through data_open
// ("@..." allowed). False (and image_last_error()) on failure; *out is then
// empty.
bool image_read(const char* name, Image* out);
// The same over an open stream. name (may be nullptr) finds the PNG ".info"
// side file and appears in messages.
bool image_read_stream(DataFile* file, const char* name, Image* out);

// A PPM/PGM (P2, P3, P5, P6) only; any other start fails with
// "Can't parse PPM header".
bool image_read_pnm(const char* name, Image* out);
bool image_read_pnm_stream(DataFile* file, Image* out);

// Format readers after their magic word has been consumed (texture layer).
// pnm_kind is the digit of the magic ('2', '3', '5' or '6').
bool image_read_pnm_body(DataFile* file, char pnm_kind, Image* out);
// channels 3 for "V6", 4 for "V7".
bool image_read_v_raster(DataFile* file, int32_t channels, Image* out);
// PNG whose first prefix_size bytes were already taken from the stream.
bool image_read_png_stream(DataFile* file, const uint8_t* prefix, size_t prefix_size,
                           const char* name, Image* out);

// Reads the first word (up to 15 characters after leading white space) into
// word, keeping every raw byte consumed in raw (up to raw_capacity;
// *raw_size = SIZE_MAX when it overflowed). The white space ending the word is
// left in the stream. False at end of file before any word character.
bool image_read_magic(DataFile* file, char word[16], uint8_t* raw, size_t raw_capacity,
                      size_t* raw_size);

// 8-bit samples widened by repeating the byte, palette/colour converted to
// grey, alpha dropped. samples are mem_alloc'd, width * height, row by row.
bool image_read_png_grey16(const char* name, uint16_t** samples, int32_t* width, int32_t* height);
bool image_read_png_grey16_stream(DataFile* file, const char* name, uint16_t** samples,
                                  int32_t* width, int32_t* height);

// ---------------------------------------------------------------- writing

bool image_write_png_grey16(const char* name, const uint16_t* samples, int32_t width,
                            int32_t height);
// rgb: width * height * 3 bytes, rows top to bottom.
bool image_write_png_rgb(const char* name, const uint8_t* rgb, int32_t width, int32_t height);
// The same with an alpha channel (RGBA, 8 bits each).
bool image_write_png_rgba(const char* name, const uint8_t* rgba, int32_t width, int32_t height);

// ---------------------------------------------------------------- misc

void image_free(Image* image);
// Text of the last reading or writing failure ("" when none yet).
const char* image_last_error();
void image_set_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Grey (1 channel) to RGB in place; false when out of memory.
bool image_grey_to_rgb(Image* image);
// Nearest-pixel shrink of each side to the largest power of two not above
// it. Returns whether the image was changed.
bool image_shrink_to_pow2(Image* image);
bool is_power_of_two(int32_t value);

// ---------------------------------------------------------------- mip chains

struct MipChain {
  int32_t width;  // level 0
  int32_t height;
  int32_t channels;
  int32_t level_count;
  uint8_t* pixels;  // every level, level 0 first, mem_alloc'd
};

int32_t mip_level_count(int32_t width, int32_t height);
// Bytes of levels first..last-1 of a chain starting at width x height.
size_t mip_chain_bytes(int32_t width, int32_t height, int32_t channels, int32_t levels);
// Start of level within the chain's pixels, with its size.
uint8_t* mip_level(const MipChain* chain, int32_t level, int32_t* width, int32_t* height);

// One level from the one above (2x2 blocks; pairs when one side is 1).
// RGBA: alpha = average (or maximum with max_alpha), colours alpha-weighted
// unless the alpha sum is 0 or full; other channel counts: plain average.
void mip_reduce(const uint8_t* src, int32_t width, int32_t height, int32_t channels, bool max_alpha,
                uint8_t* dst);
// A full chain from level 0 pixels.
bool mip_chain_build(const uint8_t* level0, int32_t width, int32_t height, int32_t channels,
                     bool max_alpha, MipChain* out);
// A chain from an image holding its own levels ("[mip_custom]" layout):
// level 0 on top (two thirds of the height), level 1 below it at the left
// edge, each further level below the previous one starting at half the width.
// False when the image does not have that shape.
bool mip_chain_from_custom(const Image* image, MipChain* out);
// Drops up to `levels` top levels while more than one level remains and both
// sides exceed 128. Returns the number dropped.
int32_t mip_chain_skip(MipChain* chain, int32_t levels);
// Drops top levels while the level has more than max_pixels pixels (levels of
// 16384 pixels or fewer are kept).
int32_t mip_chain_limit(MipChain* chain, int64_t max_pixels);
void mip_chain_free(MipChain* chain);

// Turns a decoded image into a chain following its info text:
// "[mip_custom]" (with its warning when the shape is wrong), "[mip_max_alpha]",
// the power-of-two shrink when make_pow2 (*was_npot tells whether it
// happened), grey expanded to RGB when make_rgb, then skip_levels dropped.
// The image is consumed (freed) in every case.
bool image_to_chain(Image* image, const char* name, bool make_pow2, bool make_rgb,
                    int32_t skip_levels, MipChain* out, bool* was_npot);
