// Textures by name: one texture per name, built from PNG, PPM, V6/V7,
// animated "ANIM1" sequences and "LINK" aliases, with CPU-built mip chains,
// detail-level skipping, compression choice and purging by generation. Also
// the memory image cache (image_load) and the texture variants of a skin.
//
// Textures are created through an upload operation table. The default table
// works without any GL: it hands out ids counting up from 1 and counts
// width * height * channels bytes per level. The GL back-end installs its own
// table, so a track loads identically with and without a window.
//
// Lifetime: textures and cached images load on first use and stay until
// textures_purge removes those of older generations (or all at exit).
#pragma once

#include <cstdint>

#include "render/image.h"

constexpr int32_t TEXTURE_MAX_LEVELS = 32;
// Animation frames above this many pixels lose their top levels.
constexpr int64_t TEXTURE_ANIM_MAX_PIXELS = 65536;

// One upload: level 0 size and the levels to store.
struct TextureUpload {
  int32_t width;
  int32_t height;
  int32_t channels;     // 3 RGB, 4 RGBA
  int32_t level_count;  // 1 = no mipmaps
  const uint8_t* levels[TEXTURE_MAX_LEVELS];
  bool repeat_s;    // wrap horizontally (else clamp to edge)
  bool repeat_t;    // wrap vertically
  bool compressed;  // compression chosen (the back-end decides if it can)
};

struct TextureUploadOps {
  // New texture; returns its id (0 on failure) and the bytes it occupies.
  uint32_t (*create)(const TextureUpload* upload, uint64_t* memory);
  // Replaces the levels of an existing texture in place (animations).
  void (*replace_levels)(uint32_t id, const TextureUpload* upload);
  void (*destroy)(uint32_t id);
};

// Installs a table (nullptr = the default one without GL). The table must
// outlive its use.
void texture_set_upload_ops(const TextureUploadOps* ops);
const TextureUploadOps* texture_upload_ops();

// One loaded texture.
struct Texture {
  uint32_t id;
  int32_t generation;  // 0 = loaded before the first track
  uint64_t memory;     // bytes its upload added
  char* info;          // text chunks + ".info", nullptr when none
  char* name;          // the file name as requested (without a leading "!")
  bool full_detail;    // requested with "!"
  int32_t width;       // as stored (after shrinking and skipping)
  int32_t height;
  int32_t channels;
  int32_t level_count;
  bool repeat_s, repeat_t;
  bool compressed;  // compression was chosen for it
};

// ---------------------------------------------------------------- loading

// 0 when unreadable; the same name gives the same id. A leading "!" keeps
// every detail level.
uint32_t texture_load(const char* name);
// Cached memory image with its mip chain after level 0 (owned by the cache,
// valid until a purge). Detail levels are skipped as for textures.
bool image_load(const char* name, uint8_t** pixels, int32_t* width, int32_t* height,
                int32_t* channels);
// Info text of a cached image ("" when it has none), nullptr when not cached.
const char* image_info(const char* name);

const char* texture_name(uint32_t id);  // nullptr for unknown ids
const char* texture_info(uint32_t id);  // "" when none, nullptr for unknown ids
const Texture* texture_find(uint32_t id);
int32_t texture_count();

// A texture from pixels already in memory (terrain, decals, fonts): uploads
// the chain's levels and adds to the memory counter. Not recorded by name;
// free it with texture_unload.
uint32_t texture_upload(const MipChain* chain, bool repeat_s, bool repeat_t, bool compressed,
                        uint64_t* memory);
void texture_unload(uint32_t id, uint64_t memory);

// ---------------------------------------------------------------- memory and generations

uint64_t texture_memory_used();  // bytes
// Generation of textures loaded from now on; starts at 0 (before any track).
int32_t texture_generation();
// A different track is being loaded.
void texture_generation_advance();

// Deletes every texture, cached image and animation of a generation that is
// neither 0 nor current (everything when all; the lists are freed too).
void textures_purge(bool all);

// ---------------------------------------------------------------- animations

// Once per frame: shows the frame of each running animation for tick.
void textures_animate(int32_t tick);
void texture_anim_restart(uint32_t id, int32_t tick);
void texture_anim_pause(uint32_t id);
// Frame index currently shown by the animation on id, -1 when none.
int32_t texture_anim_frame(uint32_t id);

// ---------------------------------------------------------------- variants

// Skins under a prefix: entry 0 is the label "default" with name nullptr,
// then "@"+path and label for each matching ".png" of the file list. Returns
// the count; free both lists with texture_variants_free.
int32_t texture_variants(const char* prefix, const char*** names, const char*** labels);
void texture_variants_free(const char** names, const char** labels, int32_t count);

// ---------------------------------------------------------------- internal (texture layer files)

// Reads an "ANIM1" body (after the magic) and creates its texture, filling
// the size fields, id and memory of record; 0 on failure (nothing created).
uint32_t texture_anim_load(DataFile* file, const char* name, int32_t skip_levels, bool repeat_s,
                           bool repeat_t, Texture* record);
// Reads an "ANIM1" body and keeps only the chain of the first sequence entry.
bool texture_anim_first_frame(DataFile* file, const char* name, int32_t skip_levels, MipChain* out);
// Drops animations whose texture is gone (all when all).
void texture_anims_purge(bool all);
void images_purge(bool all);
// Levels to skip for a requested name ("!" keeps every level).
int32_t texture_skip_levels(bool full_detail);
// Resolves "LINK" aliases recorded so far (nullptr when none).
const char* texture_alias_target(const char* name);
void texture_alias_add(const char* name, const char* target);

// Tests only: back to generation 0 (before any track).
void texture_generation_reset_for_tests();
