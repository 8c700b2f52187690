// The start-up lists: tracks, demos and video modes.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/files.h"
#include "core/program.h"
#include "core/startup.h"
#include "platform/platform.h"

namespace {

GrowArray<VideoModeRow> video_modes;

bool ends_with(const char* text, const char* suffix) {
  size_t n = strlen(text), m = strlen(suffix);
  return n >= m && strcmp(text + n - m, suffix) == 0;
}

// First line of "@<track>/desc", or nullptr.
const char* read_description(const char* track) {
  char* path = join("@", track, "/desc");
  if (!path) fatal_out_of_memory();
  DataFile* file = data_open(path, "rb");
  mem_free(path);
  if (!file) return nullptr;
  char line[256];
  int n = 0;
  for (int c; n < (int)sizeof line - 1 && (c = data_getc(file)) != -1;) {
    if (c == '\r' || c == '\n') break;
    line[n++] = (char)c;
  }
  line[n] = 0;
  data_close(file);
  return intern_string(line);
}

int compare_tracks(const void* a, const void* b) {
  return strcasecmp(((const TrackEntry*)a)->description, ((const TrackEntry*)b)->description);
}

}  // namespace

int32_t track_list_build() {
  static const char* const endings[] = {"/terrain.hf", "/terrain.hf.gz", "/terrain.hf.scram",
                                        "/terrain.hf.gz.scram"};
  GrowArray<TrackEntry>& list = program.track_list;
  if (!grow_init(list)) fatal_out_of_memory();
  for (const char* const* names = file_list(); names && *names; names++) {
    const char* path = *names;
    for (const char* ending : endings) {
      if (!ends_with(path, ending)) continue;
      size_t n = strrchr(path, '/') - path;
      char name[1024];
      if (n >= sizeof name) break;
      memcpy(name, path, n);
      name[n] = 0;
      bool seen = false;
      for (int32_t i = 0; i < list.count; i++) seen |= strcmp(list.data[i].name, name) == 0;
      if (seen) break;
      TrackEntry entry;
      entry.name = intern_string(name);
      entry.description = read_description(name);
      if (!entry.description) entry.description = entry.name;
      if (!grow_push(list, entry)) fatal_out_of_memory();
      break;
    }
  }
  qsort(list.data, (size_t)list.count, sizeof(TrackEntry), compare_tracks);
  grow_shrink(list);
  if (debug_level > 0)
    for (int32_t i = 0; i < list.count; i++)
      log_printf("%s -> %s\n", list.data[i].name, list.data[i].description);
  return list.count;
}

void track_list_free() { grow_free(program.track_list); }

int32_t track_list_find(const char* name) {
  if (!name) return -1;
  for (int32_t i = 0; i < program.track_list.count; i++)
    if (strcmp(program.track_list.data[i].name, name) == 0) return i;
  return -1;
}

int32_t demo_list_build() {
  GrowArray<DemoEntry>& list = program.demo_list;
  if (!grow_init(list)) fatal_out_of_memory();
  for (const char* const* names = file_list(); names && *names; names++) {
    const char* path = *names;
    if (strncasecmp(path, "demos/", 6) != 0 || !ends_with(path, ".rtdemo")) continue;
    const char* base = strrchr(path, '/') + 1;
    char short_name[256];
    snprintf(short_name, sizeof short_name, "%.*s", (int)(strlen(base) - 7), base);
    DemoEntry entry = {intern_string(path), intern_string(short_name)};
    if (!grow_push(list, entry)) fatal_out_of_memory();
    if (debug_level > 0) log_printf("%s -> %s\n", entry.path, entry.short_name);
  }
  grow_shrink(list);
  program.demo_page = 0;
  return list.count;
}

void demo_list_free() { grow_free(program.demo_list); }

void video_mode_list_build() {
  if (!grow_init(video_modes)) fatal_out_of_memory();
  VideoModeRow row = {"Default Fullscreen", 0, 0};
  grow_push(video_modes, row);
  row = {"Windowed", 0, 0};
  grow_push(video_modes, row);
  const DisplayMode* modes = platform.window->display_modes();
  if (modes && modes[0].width) {
    int32_t depth = modes[0].depth;
    for (const DisplayMode* m = modes; m->width; m++) {
      if (m->depth != depth) continue;
      char label[32];
      snprintf(label, sizeof label, "%dx%d", m->width, m->height);
      row = {intern_string(label), m->width, m->height};
      if (!grow_push(video_modes, row)) fatal_out_of_memory();
    }
  }
}

void video_mode_list_free() { grow_free(video_modes); }
int32_t video_mode_count() { return video_modes.count; }
const VideoModeRow* video_mode_at(int32_t index) { return grow_at(video_modes, index); }
