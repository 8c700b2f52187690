// The game-data generator. Writes everything the program needs to run into
// the game-data folder given on the command line, deterministically: the
// same bytes on every run and machine.
#include "tools/datagen.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "core/files.h"
#include "platform/platform.h"

namespace {

// The marker archive whose digest the game-data check accepts.
const char MARKER_TEXT[] =
    "Rutmoto game data.\n"
    "This archive marks the folder as the game-data directory.\n"
    "It is written by the project's data generator.\n";

}  // namespace

FILE* dg_create(const char* dir, const char* name) {
  char path[4200];
  snprintf(path, sizeof path, "%s%s", dir, name);
  make_parent_dirs(path, false);
  FILE* f = fopen(path, "wb");
  if (!f) fprintf(stderr, "rt_datagen: can't write %s\n", path);
  return f;
}

bool datagen_marker_archive(const char* out_dir) {
  FILE* f = dg_create(out_dir, "zzzz.saf");
  if (!f) return false;
  size_t n = strlen(MARKER_TEXT);
  fprintf(f, "%zu readme.txt\n-\n", n);
  fwrite(MARKER_TEXT, 1, n, f);
  return fclose(f) == 0;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: rt_datagen FOLDER\n");
    return 1;
  }
  char out_dir[4000];
  snprintf(out_dir, sizeof out_dir, "%s%s", argv[1],
           argv[1][0] && argv[1][strlen(argv[1]) - 1] == '/' ? "" : "/");
  mkdir(out_dir, 0755);
  // Tracks are built through the program's own loaders and writers: the
  // output folder is their game-data directory, and nothing is read from
  // any user's home directory.
  platform_use_headless();
  setenv("RT_HOME", out_dir, 1);
  setenv("XDG_DATA_HOME", "/nonexistent-rt-datagen-home", 1);
  setenv("VOLG_LOGFILE", "", 1);
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  // The marker goes last, so a folder with it is complete.
  remove((std::string(out_dir) + "zzzz.saf").c_str());
  bool ok = datagen_assets(out_dir);
  file_list_free();
  ok = ok && datagen_track_practice(out_dir);
  file_list_free();
  ok = ok && datagen_track_rabbithill(out_dir);
  ok = ok && datagen_marker_archive(out_dir);
  if (!ok) return 1;
  timespec end;
  clock_gettime(CLOCK_MONOTONIC, &end);
  printf("rt_datagen: game data written to %s in %.1f s\n", out_dir,
         (double)(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) * 1e-9);
  return 0;
}
