// The current track: load sequence, fingerprint, free, and ".trackinfo".
#include <nettle/ripemd160.h>

#include <cstdio>
#include <cstring>

#include "core/config.h"
#include "core/files.h"
#include "core/loading.h"
#include "core/mem.h"
#include "core/messages.h"
#include "core/program.h"
#include "core/startup.h"
#include "render/texture.h"
#include "track/track.h"

Track track;

namespace {

// Feeds the whole file (as the file layer reads it) into the digest; a
// missing file adds nothing.
void digest_file(ripemd160_ctx* digest, const char* name) {
  DataFile* file = data_open(name, "rb");
  if (!file) return;
  uint8_t block[1024];
  for (int32_t n; (n = data_read(file, block, sizeof block)) > 0;)
    ripemd160_update(digest, (size_t)n, block);
  data_close(file);
}

void digest_track_file(ripemd160_ctx* digest, const char* track_path, const char* file) {
  char* name = join(track_path, file);
  if (!name) fatal_out_of_memory();
  digest_file(digest, name);
  mem_free(name);
}

const char* find_long_name(const char* name) {
  int32_t index = track_list_find(name);
  return index >= 0 ? program.track_list.data[index].description : name;
}

void log_texture_memory(const char* when) {
  if (debug_level >= 1)
    log_printf("%lu bytes texture memory used %s\n", (unsigned long)texture_memory_used(), when);
}

}  // namespace

int track_load() {
  if (!track.name) return 0;
  // 1.
  track.long_name = find_long_name(track.name);
  char* track_path = join("@", track.name, "/");
  if (!track_path) fatal_out_of_memory();

  // 2.
  ripemd160_ctx digest;
  ripemd160_init(&digest);
  objects_init(&track.objects);

  // 3.
  log_loading_message("Scanning");
  static const char* const scanned[] = {"terrain.hf", "terrain.png", "texturelist", "tilemap",
                                        "tileinfo"};
  for (const char* file : scanned) {
    digest_track_file(&digest, track_path, file);
    loading_spinner("Scanning");
  }
  loading_done("Scanning");
  // 4.
  if (debug_level >= 1) log_printf("Loading '%s'\n", track_path);
  // 5.
  lighting_load(&track.lighting, track_path);
  // 6.
  if (!terrain_load(&track.hf, track_path, settings.render_texture.index)) {
    objects_free(&track.objects);
    track.name = nullptr;
    track.long_name = nullptr;
    mem_free(track_path);
    return 0;
  }
  log_texture_memory("after hf creation");
  // 7.
  digest_track_file(&digest, track_path, "timing_gates");
  timing_load(&track.timing, &track.objects, &track.hf, track_path);
  // 8.
  billboards_reserve(&track.objects);
  // 9.
  log_loading_message("Loading flaggers");
  flaggers_load(&track.objects, &track.hf, track_path, track.timing.gate_count);
  loading_done("Loading flaggers");
  log_texture_memory("after flagger creation");
  // 10.
  track.first_file_statue = track.objects.statues.count;
  track.first_file_billboard = track.objects.billboards.count;
  // 11.
  if (billboards_load(&track.objects, &track.hf, track_path))
    log_texture_memory("after billboard creation");
  // 12.
  digest_track_file(&digest, track_path, "statues");
  statues_load(&track.objects, &track.hf, track_path);
  // 13.
  log_loading_message("Loading map");
  log_texture_memory("after statue creation");
  char* name = join(track_path, "map.png");
  if (!name) fatal_out_of_memory();
  track.map_texture = texture_load(name);
  mem_free(name);
  loading_done("Loading map");
  // 14.
  statue_grid_build(&track.objects, &track.hf);
  // 15. The editor starts on this track when it is enabled (editor module).
  // 16.
  for (int32_t i = 0; i < track.objects.statues.count; i++) {
    const Shape* shape = track.objects.statues.data[i].shape;
    if (!shape || !shape->name) continue;
    bool seen = false;
    for (int32_t k = 0; k < i && !seen; k++) {
      const Shape* earlier = track.objects.statues.data[k].shape;
      seen = earlier && earlier->name && strcmp(earlier->name, shape->name) == 0;
    }
    if (!seen) digest_file(&digest, shape->name);
  }
  // 17.
  ripemd160_digest(&digest, sizeof track.hash, track.hash);
  // 18.
  cameras_load(&track.objects, track_path);
  mem_free(track_path);
  track.loaded = true;
  return 1;
}

void track_free() {
  if (!track.loaded) return;
  log_printf("Deallocating track\n");
  timing_free(&track.timing);
  objects_free(&track.objects);
  terrain_free(&track.hf);
  track.loaded = false;
  track.map_texture = 0;
  log_printf("Finished deallocating track\n");
}

void track_hash_hex(char out[41]) {
  for (int i = 0; i < 20; i++) snprintf(out + 2 * i, 3, "%02x", track.hash[i]);
}

void track_info_save() {
  if (!track.loaded || !track.name) return;
  char* name = join("@", track.name, ".trackinfo");
  if (!name) fatal_out_of_memory();
  DataFile* file = data_open(name, "w");
  mem_free(name);
  if (!file) return;
  char hex[41];
  track_hash_hex(hex);
  data_printf(file, "dir=%s\n", track.name);
  data_printf(file, "longname=%s\n", find_long_name(track.name));
  data_printf(file, "firstlap=%d\n", track.timing.first_lap_count);
  data_printf(file, "normallap=%d\n", track.timing.normal_lap_count);
  data_printf(file, "gatecount=%d\n", track.timing.starting_gate_count);
  data_printf(file, "hash=%s\n", hex);
  data_close(file);
  print_messagef("Track info saved to %s.trackinfo", track.name);
}
