// The memory image cache: images held as pixels with their mip chain and no
// texture (the terrain texture builder composes ground textures from them).
#include <strings.h>

#include <cstring>

#include "core/files.h"
#include "core/mem.h"
#include "core/messages.h"
#include "core/program.h"
#include "render/texture.h"

namespace {

constexpr int32_t MAX_LINK_DEPTH = 8;
constexpr int32_t LINK_NAME_MAX = 1023;

struct CachedImage {
  char* name;  // without a leading "!"
  bool full_detail;
  int32_t generation;
  MipChain chain;
  char* info;
};

GrowArray<CachedImage> images;

CachedImage* find_image(const char* name, bool full_detail, bool ignore_case) {
  for (int32_t i = 0; i < images.count; i++) {
    CachedImage* c = &images.data[i];
    if (c->full_detail != full_detail) continue;
    if (ignore_case ? strcasecmp(c->name, name) == 0 : strcmp(c->name, name) == 0) return c;
  }
  return nullptr;
}

void give_out(CachedImage* c, uint8_t** pixels, int32_t* width, int32_t* height,
              int32_t* channels) {
  if (c->generation != 0) c->generation = texture_generation();
  if (pixels) *pixels = c->chain.pixels;
  if (width) *width = c->chain.width;
  if (height) *height = c->chain.height;
  if (channels) *channels = c->chain.channels;
}

// Decodes one file into a chain; a "LINK" leaves its target in link.
bool decode(DataFile* file, const char* name, int32_t skip, MipChain* chain, char** info,
            char* link, size_t link_size) {
  link[0] = 0;
  *info = nullptr;
  char word[16];
  uint8_t raw[64];
  size_t raw_size = 0;
  bool have_word = image_read_magic(file, word, raw, sizeof raw, &raw_size);
  Image image;
  memset(&image, 0, sizeof image);
  bool ok;
  if (have_word && (strcmp(word, "V7") == 0 || strcmp(word, "V6") == 0)) {
    ok = image_read_v_raster(file, word[1] == '7' ? 4 : 3, &image);
  } else if (have_word && word[0] == 'P' && word[1] && strchr("2356", word[1]) && !word[2]) {
    ok = image_read_pnm_body(file, word[1], &image);
  } else if (have_word && strcmp(word, "ANIM1") == 0) {
    return texture_anim_first_frame(file, name, skip, chain);
  } else if (have_word && strcmp(word, "LINK") == 0) {
    size_t n = 0;
    int c;
    while ((c = data_getc(file)) == ' ' || c == '\t' || c == '\n' || c == '\r') {
    }
    while (c != EOF && n + 1 < link_size) {
      link[n++] = (char)c;
      c = data_getc(file);
    }
    while (n > 0 && strchr(" \t\r\n", link[n - 1])) n--;
    link[n] = 0;
    return false;
  } else if (raw_size == SIZE_MAX) {
    image_set_error("Unknown image format in '%.900s'", name);
    ok = false;
  } else {
    ok = image_read_png_stream(file, raw, raw_size, name, &image);
  }
  if (!ok) {
    print_message(image_last_error());
    return false;
  }
  *info = image.info ? mem_strdup(image.info) : nullptr;
  return image_to_chain(&image, name, false, true, skip, chain, nullptr);
}

bool load_image(const char* requested, int32_t depth, uint8_t** pixels, int32_t* width,
                int32_t* height, int32_t* channels) {
  if (!requested || depth > MAX_LINK_DEPTH) return false;
  bool full_detail = requested[0] == '!';
  const char* name = full_detail ? requested + 1 : requested;
  if (!*name) return false;
  const char* target = texture_alias_target(name);
  if (target) name = target;
  if (CachedImage* c = find_image(name, full_detail, false)) {
    give_out(c, pixels, width, height, channels);
    return true;
  }
  if (CachedImage* c = find_image(name, full_detail, true)) {
    print_messagef("Warning: case mismatch on '%.900s'", name);
    give_out(c, pixels, width, height, channels);
    return true;
  }
  DataFile* file = data_open(name, "rb");
  if (!file) {
    if (debug_level > 0) print_messagef("Can't open texture \"%.900s\"", name);
    return false;
  }
  CachedImage entry;
  memset(&entry, 0, sizeof entry);
  entry.name = mem_strdup(name);
  if (!entry.name) fatal_out_of_memory();
  char link[LINK_NAME_MAX + 2];
  link[0] = '!';
  bool ok = decode(file, entry.name, texture_skip_levels(full_detail), &entry.chain, &entry.info,
                   link + 1, sizeof link - 1);
  data_close(file);
  if (link[1]) {
    texture_alias_add(entry.name, link + 1);
    mem_free(entry.name);
    return load_image(full_detail ? link : link + 1, depth + 1, pixels, width, height, channels);
  }
  if (!ok) {
    mem_free(entry.name);
    mem_free(entry.info);
    mip_chain_free(&entry.chain);
    return false;
  }
  entry.full_detail = full_detail;
  entry.generation = texture_generation();
  CachedImage* stored = grow_push(images, entry);
  if (!stored) fatal_out_of_memory();
  give_out(stored, pixels, width, height, channels);
  return true;
}

}  // namespace

bool image_load(const char* name, uint8_t** pixels, int32_t* width, int32_t* height,
                int32_t* channels) {
  if (pixels) *pixels = nullptr;
  if (width) *width = 0;
  if (height) *height = 0;
  if (channels) *channels = 0;
  return load_image(name, 0, pixels, width, height, channels);
}

const char* image_info(const char* name) {
  if (!name) return nullptr;
  bool full_detail = name[0] == '!';
  if (full_detail) name++;
  const char* target = texture_alias_target(name);
  CachedImage* c = find_image(target ? target : name, full_detail, false);
  if (!c) return nullptr;
  return c->info ? c->info : "";
}

void images_purge(bool all) {
  int32_t current = texture_generation();
  int32_t kept = 0;
  for (int32_t i = 0; i < images.count; i++) {
    CachedImage* c = &images.data[i];
    if (all || (c->generation != 0 && c->generation != current)) {
      if (debug_level > 0) print_messagef("deleting image %.900s", c->name);
      mem_free(c->name);
      mem_free(c->info);
      mip_chain_free(&c->chain);
    } else {
      images.data[kept++] = *c;
    }
  }
  images.count = kept;
  if (all) grow_free(images);
}
