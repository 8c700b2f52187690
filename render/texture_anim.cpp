// Animated textures ("ANIM1" sequences): reading, stepping with the
// simulation tick, restart and pause.
#include <cstring>

#include "core/files.h"
#include "core/mem.h"
#include "core/messages.h"
#include "core/program.h"
#include "render/texture.h"

namespace {

// Sanity limits on what a sequence file may announce.
constexpr int32_t ANIM_MAX_SEQUENCE = 65536;
constexpr int32_t ANIM_MAX_FRAMES = 4096;
constexpr int32_t FRAME_NAME_MAX = 1023;

struct TextureAnim {
  uint32_t texture;
  int32_t frame_count;
  MipChain* frames;  // all of one size and channel count
  int32_t* sequence;
  int32_t sequence_length;
  int32_t ticks_per_step;
  bool loop;
  int32_t start_tick;
  bool paused;
  int32_t current;  // frame currently uploaded
};

GrowArray<TextureAnim> anims;

void anim_free(TextureAnim* a) {
  for (int32_t i = 0; i < a->frame_count; i++) mip_chain_free(&a->frames[i]);
  mem_free(a->frames);
  mem_free(a->sequence);
  memset(a, 0, sizeof *a);
}

TextureAnim* find_anim(uint32_t id) {
  if (!id) return nullptr;
  for (int32_t i = 0; i < anims.count; i++)
    if (anims.data[i].texture == id) return &anims.data[i];
  return nullptr;
}

bool read_int(DataFile* file, int32_t* value) {
  int v = 0;
  if (data_scanf(file, "%d", &v) != 1) return false;
  *value = v;
  return true;
}

// The file name on the rest of the line after "PNG" (or on the next line).
bool read_frame_name(DataFile* file, char* out, size_t size) {
  int c;
  while ((c = data_getc(file)) == ' ' || c == '\t' || c == '\r' || c == '\n') {
  }
  size_t n = 0;
  while (c != EOF && c != '\n' && n + 1 < size) {
    out[n++] = (char)c;
    c = data_getc(file);
  }
  while (n > 0 && (out[n - 1] == ' ' || out[n - 1] == '\t' || out[n - 1] == '\r')) n--;
  out[n] = 0;
  return n > 0;
}

// Reads one frame image; prints the failure.
bool read_frame(DataFile* file, int32_t index, Image* image) {
  char word[16];
  if (data_scanf(file, "%15s", word) != 1) {
    print_message("EOF while reading .seq");
    return false;
  }
  if (strcmp(word, "V7") == 0) {
    if (image_read_v_raster(file, 4, image)) return true;
    print_messagef("Error reading .seq frame %d", (int)index);
    return false;
  }
  if (strcmp(word, "PNG") == 0) {
    char name[FRAME_NAME_MAX + 1];
    if (!read_frame_name(file, name, sizeof name)) {
      print_message("EOF while reading .seq");
      return false;
    }
    if (image_read(name, image)) return true;
    print_messagef("Can't read %.900s", name);
    return false;
  }
  print_messagef("Error reading .seq frame %d", (int)index);
  return false;
}

// Reads an "ANIM1" body into a (not yet registered) record whose frames are
// reduced to the animation size limit and skip_levels.
bool anim_parse(DataFile* file, const char* name, int32_t skip_levels, TextureAnim* out) {
  memset(out, 0, sizeof *out);
  int32_t length = 0, frames = 0, ticks = 0, loop = 0;
  if (!read_int(file, &length) || !read_int(file, &frames) || !read_int(file, &ticks) ||
      !read_int(file, &loop)) {
    print_message("EOF while reading .seq");
    return false;
  }
  if (length < 1 || length > ANIM_MAX_SEQUENCE || frames < 1 || frames > ANIM_MAX_FRAMES ||
      ticks < 1) {
    print_messagef("Bad .seq header in '%.900s'", name);
    return false;
  }
  out->sequence = (int32_t*)mem_alloc(sizeof(int32_t) * (size_t)length);
  out->frames = (MipChain*)mem_alloc_zeroed((size_t)frames, sizeof(MipChain));
  if (!out->sequence || !out->frames) fatal_out_of_memory();
  out->sequence_length = length;
  out->ticks_per_step = ticks;
  out->loop = loop != 0;
  for (int32_t i = 0; i < length; i++) {
    if (!read_int(file, &out->sequence[i])) {
      print_message("EOF while reading .seq");
      anim_free(out);
      return false;
    }
    if (out->sequence[i] < 0 || out->sequence[i] >= frames) {
      print_messagef("Bad .seq header in '%.900s'", name);
      anim_free(out);
      return false;
    }
  }
  int32_t width = 0, height = 0, channels = 0;
  for (int32_t i = 0; i < frames; i++) {
    Image image;
    memset(&image, 0, sizeof image);
    bool ok = read_frame(file, i, &image);
    if (ok && i > 0 && (image.width != width || image.height != height)) {
      print_message("Width/height mismatch reading .seq");
      ok = false;
    } else if (ok && i > 0 && image.channels != channels) {
      print_message("Depth mismatch reading .seq");
      ok = false;
    }
    if (ok) {
      width = image.width;
      height = image.height;
      channels = image.channels;
      MipChain* chain = &out->frames[out->frame_count];
      ok = image_to_chain(&image, name, true, true, 0, chain, nullptr);
      if (ok) {
        out->frame_count++;
        mip_chain_limit(chain, TEXTURE_ANIM_MAX_PIXELS);
        mip_chain_skip(chain, skip_levels);
      }
    }
    image_free(&image);
    if (!ok) {
      anim_free(out);
      return false;
    }
  }
  return true;
}

void fill_upload(const MipChain* chain, TextureUpload* upload) {
  upload->width = chain->width;
  upload->height = chain->height;
  upload->channels = chain->channels;
  upload->level_count =
      chain->level_count < TEXTURE_MAX_LEVELS ? chain->level_count : TEXTURE_MAX_LEVELS;
  for (int32_t i = 0; i < upload->level_count; i++)
    upload->levels[i] = mip_level(chain, i, nullptr, nullptr);
}

}  // namespace

uint32_t texture_anim_load(DataFile* file, const char* name, int32_t skip_levels, bool repeat_s,
                           bool repeat_t, Texture* record) {
  memset(record, 0, sizeof *record);
  TextureAnim anim;
  if (!anim_parse(file, name, skip_levels, &anim)) return 0;
  const MipChain* first = &anim.frames[anim.sequence[0]];
  uint64_t memory = 0;
  uint32_t id = texture_upload(first, repeat_s, repeat_t, false, &memory);
  if (!id) {
    anim_free(&anim);
    return 0;
  }
  anim.texture = id;
  anim.current = anim.sequence[0];
  if (!grow_push(anims, anim)) fatal_out_of_memory();
  record->id = id;
  record->memory = memory;
  record->width = first->width;
  record->height = first->height;
  record->channels = first->channels;
  record->level_count = first->level_count;
  record->repeat_s = repeat_s;
  record->repeat_t = repeat_t;
  return id;
}

bool texture_anim_first_frame(DataFile* file, const char* name, int32_t skip_levels,
                              MipChain* out) {
  memset(out, 0, sizeof *out);
  TextureAnim anim;
  if (!anim_parse(file, name, skip_levels, &anim)) return false;
  MipChain* first = &anim.frames[anim.sequence[0]];
  *out = *first;
  memset(first, 0, sizeof *first);
  anim_free(&anim);
  return true;
}

void textures_animate(int32_t tick) {
  const TextureUploadOps* ops = texture_upload_ops();
  for (int32_t i = 0; i < anims.count; i++) {
    TextureAnim* a = &anims.data[i];
    if (a->paused) continue;
    int64_t elapsed = (int64_t)tick - a->start_tick;
    int64_t step = (elapsed > 0 ? elapsed : 0) / a->ticks_per_step;
    if (a->loop)
      step %= a->sequence_length;
    else if (step > a->sequence_length - 1)
      step = a->sequence_length - 1;
    int32_t frame = a->sequence[step];
    if (frame == a->current) continue;
    TextureUpload upload;
    memset(&upload, 0, sizeof upload);
    fill_upload(&a->frames[frame], &upload);
    const Texture* t = texture_find(a->texture);
    if (t) {
      upload.repeat_s = t->repeat_s;
      upload.repeat_t = t->repeat_t;
    }
    ops->replace_levels(a->texture, &upload);
    a->current = frame;
  }
}

void texture_anim_restart(uint32_t id, int32_t tick) {
  if (TextureAnim* a = find_anim(id)) {
    a->start_tick = tick;
    a->paused = false;
  }
}

void texture_anim_pause(uint32_t id) {
  if (TextureAnim* a = find_anim(id)) a->paused = true;
}

int32_t texture_anim_frame(uint32_t id) {
  TextureAnim* a = find_anim(id);
  return a ? a->current : -1;
}

void texture_anims_purge(bool all) {
  int32_t kept = 0;
  for (int32_t i = 0; i < anims.count; i++) {
    TextureAnim* a = &anims.data[i];
    if (all || !texture_find(a->texture)) {
      if (debug_level > 0) print_messagef("deleting anim %d for tid %d", (int)i, (int)a->texture);
      anim_free(a);
    } else {
      anims.data[kept++] = *a;
    }
  }
  anims.count = kept;
  if (all) grow_free(anims);
}
