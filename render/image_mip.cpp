// Mipmap chains built on the CPU, hand-made ("[mip_custom]") chains, detail
// skipping, and the image reshaping the texture layer needs (grey to RGB,
// power-of-two shrinking).
#include <cstring>

#include "core/mem.h"
#include "core/messages.h"
#include "render/image.h"

namespace {

uint8_t* alloc_or_die(size_t size) {
  uint8_t* p = (uint8_t*)mem_alloc(size ? size : 1);
  if (!p) fatal_out_of_memory();
  return p;
}

int32_t half(int32_t v) { return v > 1 ? v / 2 : 1; }

int32_t pow2_floor(int32_t v) {
  int32_t p = 1;
  while (p <= v / 2) p *= 2;
  return p;
}

// Copies a width x height block at (x, y) of the image into dst.
void copy_block(const Image* image, int32_t x, int32_t y, int32_t width, int32_t height,
                uint8_t* dst) {
  size_t c = (size_t)image->channels;
  for (int32_t row = 0; row < height; row++)
    memcpy(dst + (size_t)row * width * c,
           image->pixels + ((size_t)(y + row) * image->width + x) * c, (size_t)width * c);
}

}  // namespace

bool is_power_of_two(int32_t value) { return value > 0 && (value & (value - 1)) == 0; }

int32_t mip_level_count(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return 0;
  int32_t levels = 1;
  while (width > 1 || height > 1) {
    width = half(width);
    height = half(height);
    levels++;
  }
  return levels;
}

size_t mip_chain_bytes(int32_t width, int32_t height, int32_t channels, int32_t levels) {
  size_t total = 0;
  for (int32_t i = 0; i < levels; i++) {
    total += (size_t)width * height * channels;
    width = half(width);
    height = half(height);
  }
  return total;
}

uint8_t* mip_level(const MipChain* chain, int32_t level, int32_t* width, int32_t* height) {
  if (!chain || !chain->pixels || level < 0 || level >= chain->level_count) return nullptr;
  int32_t w = chain->width, h = chain->height;
  for (int32_t i = 0; i < level; i++) {
    w = half(w);
    h = half(h);
  }
  if (width) *width = w;
  if (height) *height = h;
  return chain->pixels + mip_chain_bytes(chain->width, chain->height, chain->channels, level);
}

void mip_reduce(const uint8_t* src, int32_t width, int32_t height, int32_t channels, bool max_alpha,
                uint8_t* dst) {
  int32_t dw = half(width), dh = half(height);
  for (int32_t y = 0; y < dh; y++) {
    for (int32_t x = 0; x < dw; x++) {
      // The 2x2 block, or the pair along the side longer than one pixel.
      const uint8_t* p[4];
      int n = 0;
      int32_t x0 = width > 1 ? 2 * x : 0, y0 = height > 1 ? 2 * y : 0;
      p[n++] = src + ((size_t)y0 * width + x0) * channels;
      if (width > 1) p[n++] = src + ((size_t)y0 * width + x0 + 1) * channels;
      if (height > 1) {
        p[n++] = src + ((size_t)(y0 + 1) * width + x0) * channels;
        if (width > 1) p[n++] = src + ((size_t)(y0 + 1) * width + x0 + 1) * channels;
      }
      uint8_t* out = dst + ((size_t)y * dw + x) * channels;
      if (channels == 4) {
        uint32_t alpha_sum = 0, alpha_max = 0;
        for (int k = 0; k < n; k++) {
          alpha_sum += p[k][3];
          if (p[k][3] > alpha_max) alpha_max = p[k][3];
        }
        out[3] = (uint8_t)(max_alpha ? alpha_max : alpha_sum / n);
        bool weighted = alpha_sum != 0 && alpha_sum != (uint32_t)n * 255;
        for (int c = 0; c < 3; c++) {
          uint32_t sum = 0;
          if (weighted) {
            for (int k = 0; k < n; k++) sum += (uint32_t)p[k][c] * p[k][3];
            out[c] = (uint8_t)(sum / alpha_sum);
          } else {
            for (int k = 0; k < n; k++) sum += p[k][c];
            out[c] = (uint8_t)(sum / n);
          }
        }
      } else {
        for (int c = 0; c < channels; c++) {
          uint32_t sum = 0;
          for (int k = 0; k < n; k++) sum += p[k][c];
          out[c] = (uint8_t)(sum / n);
        }
      }
    }
  }
}

bool mip_chain_build(const uint8_t* level0, int32_t width, int32_t height, int32_t channels,
                     bool max_alpha, MipChain* out) {
  memset(out, 0, sizeof *out);
  if (!level0 || width <= 0 || height <= 0 || channels < 1 || channels > 4) return false;
  int32_t levels = mip_level_count(width, height);
  uint8_t* pixels = alloc_or_die(mip_chain_bytes(width, height, channels, levels));
  memcpy(pixels, level0, (size_t)width * height * channels);
  uint8_t* level = pixels;
  int32_t w = width, h = height;
  for (int32_t i = 1; i < levels; i++) {
    uint8_t* next = level + (size_t)w * h * channels;
    mip_reduce(level, w, h, channels, max_alpha, next);
    level = next;
    w = half(w);
    h = half(h);
  }
  out->width = width;
  out->height = height;
  out->channels = channels;
  out->level_count = levels;
  out->pixels = pixels;
  return true;
}

bool mip_chain_from_custom(const Image* image, MipChain* out) {
  memset(out, 0, sizeof *out);
  if (!image || !image->pixels || image->width <= 0 || image->height < 3 || image->height % 3 != 0)
    return false;
  int32_t width = image->width, height = image->height / 3 * 2;
  int32_t levels = mip_level_count(width, height);
  // Check that every level lies inside the image before copying.
  int32_t w = half(width), h = half(height), y = height;
  if (levels > 1 && height + h > image->height) return false;
  int32_t column_x = width / 2, column_y = height;
  for (int32_t i = 2; i < levels; i++) {
    w = half(w);
    h = half(h);
    if (column_x + w > image->width || column_y + h > image->height) return false;
    column_y += h;
  }
  uint8_t* pixels = alloc_or_die(mip_chain_bytes(width, height, image->channels, levels));
  MipChain chain = {width, height, image->channels, levels, pixels};
  copy_block(image, 0, 0, width, height, pixels);
  column_y = height;
  for (int32_t i = 1; i < levels; i++) {
    uint8_t* dst = mip_level(&chain, i, &w, &h);
    if (i == 1) {
      copy_block(image, 0, y, w, h, dst);
    } else {
      copy_block(image, column_x, column_y, w, h, dst);
      column_y += h;
    }
  }
  *out = chain;
  return true;
}

// Drops the top `count` levels of a chain.
static void drop_levels(MipChain* chain, int32_t count) {
  if (count <= 0) return;
  size_t offset = mip_chain_bytes(chain->width, chain->height, chain->channels, count);
  size_t total = mip_chain_bytes(chain->width, chain->height, chain->channels, chain->level_count);
  memmove(chain->pixels, chain->pixels + offset, total - offset);
  uint8_t* smaller = (uint8_t*)mem_realloc(chain->pixels, total - offset);
  if (smaller) chain->pixels = smaller;
  for (int32_t i = 0; i < count; i++) {
    chain->width = half(chain->width);
    chain->height = half(chain->height);
  }
  chain->level_count -= count;
}

int32_t mip_chain_skip(MipChain* chain, int32_t levels) {
  if (!chain || !chain->pixels) return 0;
  int32_t dropped = 0, w = chain->width, h = chain->height;
  while (dropped < levels && dropped + 1 < chain->level_count && w > 128 && h > 128) {
    w = half(w);
    h = half(h);
    dropped++;
  }
  drop_levels(chain, dropped);
  return dropped;
}

int32_t mip_chain_limit(MipChain* chain, int64_t max_pixels) {
  if (!chain || !chain->pixels) return 0;
  int32_t dropped = 0, w = chain->width, h = chain->height;
  while ((int64_t)w * h > max_pixels && (int64_t)w * h > 16384 &&
         dropped + 1 < chain->level_count) {
    w = half(w);
    h = half(h);
    dropped++;
  }
  drop_levels(chain, dropped);
  return dropped;
}

void mip_chain_free(MipChain* chain) {
  if (!chain) return;
  mem_free(chain->pixels);
  memset(chain, 0, sizeof *chain);
}

bool image_grey_to_rgb(Image* image) {
  if (!image || image->channels != 1 || !image->pixels) return false;
  size_t count = (size_t)image->width * image->height;
  uint8_t* rgb = alloc_or_die(count * 3);
  for (size_t i = 0; i < count; i++)
    rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = image->pixels[i];
  mem_free(image->pixels);
  image->pixels = rgb;
  image->channels = 3;
  return true;
}

bool image_shrink_to_pow2(Image* image) {
  if (!image || !image->pixels) return false;
  int32_t w = image->width, h = image->height;
  int32_t nw = pow2_floor(w), nh = pow2_floor(h);
  if (nw == w && nh == h) return false;
  size_t c = (size_t)image->channels;
  uint8_t* out = alloc_or_die((size_t)nw * nh * c);
  for (int32_t y = 0; y < nh; y++) {
    int32_t sy = (int32_t)((int64_t)y * h / nh);
    for (int32_t x = 0; x < nw; x++) {
      int32_t sx = (int32_t)((int64_t)x * w / nw);
      memcpy(out + ((size_t)y * nw + x) * c, image->pixels + ((size_t)sy * w + sx) * c, c);
    }
  }
  mem_free(image->pixels);
  image->pixels = out;
  image->width = nw;
  image->height = nh;
  return true;
}

bool image_to_chain(Image* image, const char* name, bool make_pow2, bool make_rgb,
                    int32_t skip_levels, MipChain* out, bool* was_npot) {
  memset(out, 0, sizeof *out);
  if (was_npot) *was_npot = false;
  if (!image || !image->pixels || image->width <= 0 || image->height <= 0 ||
      (image->channels != 1 && image->channels != 3 && image->channels != 4)) {
    image_free(image);
    return false;
  }
  if (make_rgb && image->channels == 1) image_grey_to_rgb(image);
  const char* info = image->info;
  bool max_alpha = info && strstr(info, "[mip_max_alpha]");
  bool done = false;
  if (info && strstr(info, "[mip_custom]")) {
    if (!mip_chain_from_custom(image, out)) {
      print_messagef("Warning: Invalid height for custom MIP map in '%.950s'", name ? name : "");
    } else if (make_pow2 && (!is_power_of_two(out->width) || !is_power_of_two(out->height))) {
      // Hand-made levels of an odd size cannot be kept: use level 0 alone.
      image->height = out->height;
      mip_chain_free(out);
    } else {
      done = true;
    }
  }
  if (!done) {
    if (make_pow2 && image_shrink_to_pow2(image) && was_npot) *was_npot = true;
    mip_chain_build(image->pixels, image->width, image->height, image->channels, max_alpha, out);
  }
  image_free(image);
  mip_chain_skip(out, skip_levels);
  return out->pixels != nullptr;
}
