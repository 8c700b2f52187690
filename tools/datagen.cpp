// The game-data generator. Writes everything the program needs to run into
// the game-data folder given on the command line, deterministically: the
// same bytes on every run and machine.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

namespace {

// The marker archive whose digest the game-data check accepts.
const char MARKER_TEXT[] =
    "Rutmoto game data.\n"
    "This archive marks the folder as the game-data directory.\n"
    "It is written by the project's data generator.\n";

bool write_marker_archive(const char* folder) {
  char path[4096];
  snprintf(path, sizeof path, "%s/zzzz.saf", folder);
  FILE* f = fopen(path, "wb");
  if (!f) {
    fprintf(stderr, "rt_datagen: can't write %s\n", path);
    return false;
  }
  size_t n = strlen(MARKER_TEXT);
  fprintf(f, "%zu readme.txt\n-\n", n);
  fwrite(MARKER_TEXT, 1, n, f);
  return fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: rt_datagen FOLDER\n");
    return 1;
  }
  mkdir(argv[1], 0755);
  if (!write_marker_archive(argv[1])) return 1;
  return 0;
}
