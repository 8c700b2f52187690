// Textures by name: loading and dispatch by content, the upload operation
// table with its GL-free default, the memory counter, generations, purging,
// aliases and the texture variants of a skin prefix.
#include "render/texture.h"

#include <strings.h>

#include <cstring>

#include "core/config.h"
#include "core/files.h"
#include "core/mem.h"
#include "core/messages.h"
#include "core/program.h"

namespace {

// "LINK" files naming each other must not recurse for ever.
constexpr int32_t MAX_LINK_DEPTH = 8;
constexpr int32_t LINK_NAME_MAX = 1023;

struct Alias {
  char* name;
  char* target;
};

GrowArray<Texture> textures;
GrowArray<Alias> aliases;
uint64_t memory_used = 0;
int32_t generation = 0;

// ---------------------------------------------------------------- default upload (no GL)

uint32_t next_default_id = 1;

uint32_t default_create(const TextureUpload* upload, uint64_t* memory) {
  uint64_t bytes = 0;
  int32_t w = upload->width, h = upload->height;
  for (int32_t i = 0; i < upload->level_count; i++) {
    bytes += (uint64_t)w * h * upload->channels;
    w = w > 1 ? w / 2 : 1;
    h = h > 1 ? h / 2 : 1;
  }
  if (memory) *memory = bytes;
  return next_default_id++;
}

void default_replace_levels(uint32_t, const TextureUpload*) {}
void default_destroy(uint32_t) {}

const TextureUploadOps DEFAULT_OPS = {default_create, default_replace_levels, default_destroy};
const TextureUploadOps* upload_ops = &DEFAULT_OPS;

// ---------------------------------------------------------------- records

void record_free(Texture* t) {
  mem_free(t->name);
  mem_free(t->info);
  t->name = t->info = nullptr;
}

Texture* find_by_name(const char* name, bool full_detail, bool ignore_case) {
  for (int32_t i = 0; i < textures.count; i++) {
    Texture* t = &textures.data[i];
    if (t->full_detail != full_detail) continue;
    if (ignore_case ? strcasecmp(t->name, name) == 0 : strcmp(t->name, name) == 0) return t;
  }
  return nullptr;
}

// A texture found again by a later track belongs to that track now, so that
// the purge after its load keeps it.
uint32_t reuse(Texture* t) {
  if (t->generation != 0) t->generation = generation;
  return t->id;
}

bool has_suffix(const char* text, size_t length, const char* tail) {
  size_t m = strlen(tail);
  return length >= m && strncasecmp(text + length - m, tail, m) == 0;
}

// The rest of a "LINK" file: leading blanks skipped, trailing blanks removed.
void read_link_target(DataFile* file, char* out, size_t size) {
  size_t n = 0;
  int c;
  while ((c = data_getc(file)) != EOF && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
  }
  while (c != EOF && n + 1 < size) {
    out[n++] = (char)c;
    c = data_getc(file);
  }
  while (n > 0 &&
         (out[n - 1] == ' ' || out[n - 1] == '\t' || out[n - 1] == '\n' || out[n - 1] == '\r'))
    n--;
  out[n] = 0;
}

// Whether compression is chosen for a PNG with this info text.
bool choose_compression(const char* info) {
  // 0 "No", 1 "Yes", 2 "Always".
  switch (settings.texture_compress.index) {
    case 0: return false;
    case 2: return true;
    default: return info && strstr(info, "[compress]") != nullptr;
  }
}

// Decodes an opened file and creates its texture; *record receives the
// fields of the new texture. A "LINK" file creates nothing and leaves its
// target name in link_target (link_size bytes).
uint32_t load_stream(DataFile* file, const char* name, bool full_detail, Texture* record,
                     char* link_target, size_t link_size) {
  memset(record, 0, sizeof *record);
  link_target[0] = 0;
  bool repeat_s = strstr(name, "-hrepeat.") || strstr(name, "-repeat.");
  bool repeat_t = strstr(name, "-vrepeat.") || strstr(name, "-repeat.");
  int32_t skip = texture_skip_levels(full_detail);
  char word[16];
  uint8_t raw[64];
  size_t raw_size = 0;
  bool have_word = image_read_magic(file, word, raw, sizeof raw, &raw_size);
  Image image;
  memset(&image, 0, sizeof image);
  bool compressed = false;
  bool ok;
  if (have_word && (strcmp(word, "V7") == 0 || strcmp(word, "V6") == 0)) {
    ok = image_read_v_raster(file, word[1] == '7' ? 4 : 3, &image);
  } else if (have_word && word[0] == 'P' && word[1] && strchr("2356", word[1]) && !word[2]) {
    ok = image_read_pnm_body(file, word[1], &image);
  } else if (have_word && strcmp(word, "ANIM1") == 0) {
    return texture_anim_load(file, name, skip, repeat_s, repeat_t, record);
  } else if (have_word && strcmp(word, "LINK") == 0) {
    read_link_target(file, link_target, link_size);
    return 0;
  } else if (raw_size == SIZE_MAX) {
    image_set_error("Unknown image format in '%.900s'", name);
    ok = false;
  } else {
    ok = image_read_png_stream(file, raw, raw_size, name, &image);
    if (ok) compressed = choose_compression(image.info);
  }
  if (!ok) {
    print_message(image_last_error());
    return 0;
  }
  char* info = image.info ? mem_strdup(image.info) : nullptr;
  MipChain chain;
  bool npot = false;
  if (!image_to_chain(&image, name, true, true, skip, &chain, &npot)) {
    mem_free(info);
    return 0;
  }
  uint64_t memory = 0;
  uint32_t id = texture_upload(&chain, repeat_s, repeat_t, compressed, &memory);
  if (id) {
    if (npot) print_messagef("Warning: Non power of 2 texture '%.950s'", name);
    record->id = id;
    record->memory = memory;
    record->info = info;
    record->width = chain.width;
    record->height = chain.height;
    record->channels = chain.channels;
    record->level_count = chain.level_count;
    record->repeat_s = repeat_s;
    record->repeat_t = repeat_t;
    record->compressed = compressed;
  } else {
    mem_free(info);
  }
  mip_chain_free(&chain);
  return id;
}

uint32_t load(const char* requested, int32_t depth) {
  if (!requested || depth > MAX_LINK_DEPTH) return 0;
  bool full_detail = requested[0] == '!';
  const char* name = full_detail ? requested + 1 : requested;
  if (!*name) return 0;
  const char* target = texture_alias_target(name);
  if (target) name = target;
  if (Texture* t = find_by_name(name, full_detail, false)) return reuse(t);
  if (Texture* t = find_by_name(name, full_detail, true)) {
    print_messagef("Warning: case mismatch on '%.900s'", name);
    return reuse(t);
  }
  DataFile* file = data_open(name, "rb");
  if (!file) {
    if (debug_level > 0) print_messagef("Can't open texture \"%.900s\"", name);
    return 0;
  }
  // The name may point into the alias list, which the load can grow.
  char* own_name = mem_strdup(name);
  if (!own_name) fatal_out_of_memory();
  Texture record;
  char link[LINK_NAME_MAX + 2];
  link[0] = '!';
  uint32_t id = load_stream(file, own_name, full_detail, &record, link + 1, sizeof link - 1);
  data_close(file);
  if (link[1]) {
    // An alias: the other texture is loaded (and recorded) under its own name.
    texture_alias_add(own_name, link + 1);
    mem_free(own_name);
    return load(full_detail ? link : link + 1, depth + 1);
  }
  if (!id) {
    mem_free(own_name);
    return 0;
  }
  record.generation = generation;
  record.name = own_name;
  record.full_detail = full_detail;
  if (!grow_push(textures, record)) fatal_out_of_memory();
  return id;
}

}  // namespace

// ---------------------------------------------------------------- public

void texture_set_upload_ops(const TextureUploadOps* ops) { upload_ops = ops ? ops : &DEFAULT_OPS; }

const TextureUploadOps* texture_upload_ops() { return upload_ops; }

int32_t texture_skip_levels(bool full_detail) {
  // From "model_texture_detail", or "--texture-detail" when given.
  if (full_detail) return 0;
  int32_t skip = derived.model_levels_skipped;
  return skip < 0 ? 0 : skip > 10 ? 10 : skip;
}

uint32_t texture_load(const char* name) { return load(name, 0); }

uint32_t texture_upload(const MipChain* chain, bool repeat_s, bool repeat_t, bool compressed,
                        uint64_t* memory) {
  if (memory) *memory = 0;
  if (!chain || !chain->pixels || chain->level_count < 1) return 0;
  TextureUpload upload;
  memset(&upload, 0, sizeof upload);
  upload.width = chain->width;
  upload.height = chain->height;
  upload.channels = chain->channels;
  upload.level_count =
      chain->level_count < TEXTURE_MAX_LEVELS ? chain->level_count : TEXTURE_MAX_LEVELS;
  for (int32_t i = 0; i < upload.level_count; i++)
    upload.levels[i] = mip_level(chain, i, nullptr, nullptr);
  upload.repeat_s = repeat_s;
  upload.repeat_t = repeat_t;
  upload.compressed = compressed;
  uint64_t bytes = 0;
  uint32_t id = upload_ops->create(&upload, &bytes);
  if (!id) return 0;
  memory_used += bytes;
  if (memory) *memory = bytes;
  return id;
}

void texture_unload(uint32_t id, uint64_t memory) {
  if (!id) return;
  upload_ops->destroy(id);
  memory_used -= memory < memory_used ? memory : memory_used;
}

const Texture* texture_find(uint32_t id) {
  if (!id) return nullptr;
  for (int32_t i = 0; i < textures.count; i++)
    if (textures.data[i].id == id) return &textures.data[i];
  return nullptr;
}

int32_t texture_count() { return textures.count; }

const char* texture_name(uint32_t id) {
  const Texture* t = texture_find(id);
  return t ? t->name : nullptr;
}

const char* texture_info(uint32_t id) {
  const Texture* t = texture_find(id);
  if (!t) return nullptr;
  return t->info ? t->info : "";
}

uint64_t texture_memory_used() { return memory_used; }

int32_t texture_generation() { return generation; }

void texture_generation_advance() { generation++; }

const char* texture_alias_target(const char* name) {
  for (int32_t i = 0; i < aliases.count; i++)
    if (strcmp(aliases.data[i].name, name) == 0) return aliases.data[i].target;
  return nullptr;
}

void texture_alias_add(const char* name, const char* target) {
  for (int32_t i = 0; i < aliases.count; i++) {
    if (strcmp(aliases.data[i].name, name) == 0) {
      char* copy = mem_strdup(target);
      if (!copy) fatal_out_of_memory();
      mem_free(aliases.data[i].target);
      aliases.data[i].target = copy;
      return;
    }
  }
  Alias alias = {mem_strdup(name), mem_strdup(target)};
  if (!alias.name || !alias.target || !grow_push(aliases, alias)) fatal_out_of_memory();
}

void textures_purge(bool all) {
  int32_t kept = 0;
  for (int32_t i = 0; i < textures.count; i++) {
    Texture* t = &textures.data[i];
    if (all || (t->generation != 0 && t->generation != generation)) {
      if (debug_level > 0) print_messagef("deleting tid %d (%.900s)", (int)t->id, t->name);
      texture_unload(t->id, t->memory);
      record_free(t);
    } else {
      textures.data[kept++] = *t;
    }
  }
  textures.count = kept;
  images_purge(all);
  texture_anims_purge(all);
  if (all) {
    grow_free(textures);
    for (int32_t i = 0; i < aliases.count; i++) {
      mem_free(aliases.data[i].name);
      mem_free(aliases.data[i].target);
    }
    grow_free(aliases);
  }
}

// ---------------------------------------------------------------- variants

int32_t texture_variants(const char* prefix, const char*** names, const char*** labels) {
  if (!prefix) prefix = "";
  size_t prefix_length = strlen(prefix);
  GrowArray<const char*> name_list, label_list;
  const char* none = nullptr;
  const char* default_label = mem_strdup("default");
  if (!default_label || !grow_push(name_list, none) || !grow_push(label_list, default_label))
    fatal_out_of_memory();
  const char* const* files = file_list();
  for (int32_t i = 0; files && files[i]; i++) {
    const char* path = files[i];
    size_t length = strlen(path);
    if (has_suffix(path, length, ".scram")) length -= 6;
    if (!has_suffix(path, length, ".png") || has_suffix(path, length, "_norm.png") ||
        has_suffix(path, length, "_spec.png"))
      continue;
    const char* base = path;
    for (size_t k = 0; k < length; k++)
      if (path[k] == '/') base = path + k + 1;
    size_t base_length = length - (size_t)(base - path);
    if (base_length < prefix_length + 4 || strncmp(base, prefix, prefix_length) != 0) continue;
    char* name = (char*)mem_alloc(length + 2);
    if (!name) fatal_out_of_memory();
    name[0] = '@';
    memcpy(name + 1, path, length);
    name[length + 1] = 0;
    bool seen = false;
    for (int32_t k = 1; k < name_list.count && !seen; k++)
      seen = strcasecmp(name_list.data[k], name) == 0;
    if (seen) {
      mem_free(name);
      continue;
    }
    size_t label_length = base_length - prefix_length - 4;
    char* label = (char*)mem_alloc(label_length + 1);
    if (!label) fatal_out_of_memory();
    memcpy(label, base + prefix_length, label_length);
    label[label_length] = 0;
    const char* n = name;
    const char* l = label;
    if (!grow_push(name_list, n) || !grow_push(label_list, l)) fatal_out_of_memory();
  }
  *names = name_list.data;
  *labels = label_list.data;
  return name_list.count;
}

void texture_variants_free(const char** names, const char** labels, int32_t count) {
  for (int32_t i = 0; i < count; i++) {
    if (names) mem_free((void*)names[i]);
    if (labels) mem_free((void*)labels[i]);
  }
  mem_free(names);
  mem_free(labels);
}

void texture_generation_reset_for_tests() { generation = 0; }
