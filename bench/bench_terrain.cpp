// Terrain benchmark (not a test): writes a 2049 x 2049 track (n = 10) into a
// temporary directory, then measures
//   (a) terrain_height_at calls per second over random points, and
//   (b) the time of terrain_load against the time to only read (and inflate)
//       the same files.
// Usage: bench_terrain [--gz] [--calls N] [--runs N]
//   --gz   writes the files gzip-compressed ("<name>.gz"), so both timings
//          include inflating.
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/files.h"
#include "core/mem.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace {

constexpr int32_t SIZE_LOG2 = 10;
constexpr int32_t GRID = (1 << (SIZE_LOG2 + 1)) + 1;
constexpr int32_t CELLS = 1 << SIZE_LOG2;
constexpr float SPACING = 0.5f;

const char* const TRACK_FILES[] = {"terrain.hf", "shadingx2.ppm", "tileinfo", "tilemap"};

double now_seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

uint64_t rng_state = 0x9E3779B97F4A7C15ull;
uint32_t next_random() {
  rng_state ^= rng_state << 13;
  rng_state ^= rng_state >> 7;
  rng_state ^= rng_state << 17;
  return (uint32_t)(rng_state >> 16);
}

// Writes bytes as path (or path.gz when compressed).
bool write_bytes(const char* dir, const char* name, const void* bytes, size_t size, bool gz) {
  char path[1024];
  snprintf(path, sizeof path, "%s%s%s", dir, name, gz ? ".gz" : "");
  if (gz) {
    gzFile file = gzopen(path, "wb6");
    if (!file) return false;
    const uint8_t* p = (const uint8_t*)bytes;
    size_t left = size;
    while (left > 0) {
      unsigned step = left > (1u << 30) ? (1u << 30) : (unsigned)left;
      if (gzwrite(file, p, step) != (int)step) {
        gzclose(file);
        return false;
      }
      p += step;
      left -= step;
    }
    return gzclose(file) == Z_OK;
  }
  FILE* file = fopen(path, "wb");
  if (!file) return false;
  bool ok = fwrite(bytes, 1, size, file) == size;
  return fclose(file) == 0 && ok;
}

// Rolling hills with a few sharp bumps, as 16-bit samples after a ':' header.
bool write_track(const char* dir, bool gz) {
  const float min_height = -12, max_height = 48;
  char head[128];
  int head_length =
      snprintf(head, sizeof head, "%d %f %f %f\n:", SIZE_LOG2, SPACING, min_height, max_height);
  size_t samples = (size_t)GRID * GRID;
  size_t size = (size_t)head_length + samples * 2;
  uint8_t* hf = (uint8_t*)mem_alloc_or_die(size);
  memcpy(hf, head, (size_t)head_length);
  uint8_t* out = hf + head_length;
  for (int32_t j = 0; j < GRID; j++)
    for (int32_t i = 0; i < GRID; i++) {
      double h = 18 + 10 * sin(i * 0.013) * cos(j * 0.021) + 4 * sin(i * 0.11 + j * 0.07);
      if ((next_random() & 1023) == 0) h += 6;
      double s = (h - min_height) / (max_height - min_height) * 65535;
      uint32_t v = s < 0 ? 0 : s > 65535 ? 65535 : (uint32_t)s;
      *out++ = (uint8_t)v;
      *out++ = (uint8_t)(v >> 8);
    }
  bool ok = write_bytes(dir, "terrain.hf", hf, size, gz);
  mem_free(hf);

  char ppm_head[64];
  int ppm_length = snprintf(ppm_head, sizeof ppm_head, "P6\n%d %d\n255\n", GRID, GRID);
  size = (size_t)ppm_length + samples * 3;
  uint8_t* ppm = (uint8_t*)mem_alloc_or_die(size);
  memcpy(ppm, ppm_head, (size_t)ppm_length);
  for (size_t k = 0; k < samples * 3; k++) ppm[ppm_length + k] = (uint8_t)(96 + (k * 7 % 61));
  ok = ok && write_bytes(dir, "shadingx2.ppm", ppm, size, gz);
  mem_free(ppm);

  const char tileinfo[] =
      "friction 1.1 1\nroll_resist 4 12 1\naddtile\n"
      "friction 0.8 2\nfriction 1.0 8\naddtile\n"
      "friction 0.6 1\nerode_depth 2\naddtile\n"
      "friction 0.9 1\naddtile\n";
  ok = ok && write_bytes(dir, "tileinfo", tileinfo, sizeof tileinfo - 1, gz);

  size_t cells = (size_t)CELLS * CELLS;
  uint8_t* tilemap = (uint8_t*)mem_alloc_or_die(cells);
  for (size_t k = 0; k < cells; k++) tilemap[k] = (uint8_t)(next_random() % 5);
  ok = ok && write_bytes(dir, "tilemap", tilemap, cells, gz);
  mem_free(tilemap);
  return ok;
}

// Reads every track file through the file layer without interpreting it.
size_t read_files_only(const char* dir) {
  static uint8_t buffer[65536];
  size_t total = 0;
  for (const char* name : TRACK_FILES) {
    char* path = join(dir, name);
    DataFile* file = data_open(path, "rb");
    mem_free(path);
    if (!file) continue;
    size_t got;
    while ((got = data_read(file, buffer, sizeof buffer)) > 0) total += got;
    data_close(file);
  }
  return total;
}

void remove_track(const char* dir) {
  static const char* const SUFFIXES[] = {"", ".gz"};
  char path[1024];
  for (const char* name : TRACK_FILES)
    for (const char* suffix : SUFFIXES) {
      snprintf(path, sizeof path, "%s%s%s", dir, name, suffix);
      unlink(path);
    }
  snprintf(path, sizeof path, "%slastlog.txt", dir);
  unlink(path);
  rmdir(dir);
}

}  // namespace

int main(int argc, char** argv) {
  bool gz = false;
  long calls = 20000000;
  int runs = 3;
  for (int k = 1; k < argc; k++) {
    if (!strcmp(argv[k], "--gz")) {
      gz = true;
    } else if (!strcmp(argv[k], "--calls") && k + 1 < argc) {
      calls = strtol(argv[++k], nullptr, 10);
    } else if (!strcmp(argv[k], "--runs") && k + 1 < argc) {
      runs = atoi(argv[++k]);
    } else {
      fprintf(stderr, "usage: %s [--gz] [--calls N] [--runs N]\n", argv[0]);
      return 2;
    }
  }
  if (calls < 1) calls = 1;
  if (runs < 1) runs = 1;

  platform_use_system();
  char dir_template[] = "/tmp/rt_bench_terrain_XXXXXX";
  char* made = mkdtemp(dir_template);
  if (!made) {
    perror("mkdtemp");
    return 1;
  }
  char dir[512];
  snprintf(dir, sizeof dir, "%s/", made);
  char log_name[600];
  snprintf(log_name, sizeof log_name, "%slastlog.txt", dir);
  log_printf("VOLG_LOGFILE=%s", log_name);

  printf("Writing a %dx%d track (n = %d)%s into %s\n", GRID, GRID, SIZE_LOG2,
         gz ? ", gzip-compressed," : "", dir);
  double t0 = now_seconds();
  if (!write_track(dir, gz)) {
    fprintf(stderr, "could not write the track files\n");
    remove_track(dir);
    return 1;
  }
  printf("  written in %.3f s\n\n", now_seconds() - t0);

  // (b) terrain_load against reading the same files.
  double best_read = 1e30, best_load = 1e30;
  size_t bytes = 0;
  bool loaded = true;
  for (int run = 0; run < runs; run++) {
    t0 = now_seconds();
    bytes = read_files_only(dir);
    double t_read = now_seconds() - t0;
    if (t_read < best_read) best_read = t_read;

    terrain_free(&track.hf);
    t0 = now_seconds();
    loaded = terrain_load(&track.hf, dir, 0);
    double t_load = now_seconds() - t0;
    if (!loaded) break;
    if (t_load < best_load) best_load = t_load;
  }
  if (!loaded) {
    fprintf(stderr, "terrain_load failed (see %s)\n", log_name);
    remove_track(dir);
    return 1;
  }
  printf("Load (best of %d runs)\n", runs);
  printf("  read%s only:  %8.3f s  (%zu bytes)\n", gz ? " + inflate" : "", best_read, bytes);
  printf("  terrain_load:    %8.3f s  (%.2fx the plain read)\n\n", best_load,
         best_load / best_read);

  // (a) height queries: random points over the whole square (a few percent
  // outside it; mostly cache misses), and points clustered around a slowly
  // moving spot, as the wheels of a bike ask.
  float world = track.hf.world_size;
  const size_t POINTS = 1 << 16;
  float* xs = (float*)mem_alloc_or_die(POINTS * sizeof(float));
  float* zs = (float*)mem_alloc_or_die(POINTS * sizeof(float));
  printf("Height queries\n");
  for (int pattern = 0; pattern < 2; pattern++) {
    for (size_t k = 0; k < POINTS; k++) {
      float rx = (float)next_random() / 4294967296.0f, rz = (float)next_random() / 4294967296.0f;
      if (pattern == 0) {
        xs[k] = rx * world * 1.04f - world * 0.02f;
        zs[k] = rz * world * 1.04f - world * 0.02f;
      } else {
        float centre = world * 0.1f + (float)k / POINTS * world * 0.8f;
        xs[k] = centre + rx * 2;
        zs[k] = centre * 0.5f + rz * 2;
      }
    }
    double sum = 0;
    t0 = now_seconds();
    for (long k = 0; k < calls; k++) {
      size_t p = (size_t)k & (POINTS - 1);
      sum += terrain_height_at(xs[p], zs[p]);
    }
    double t_calls = now_seconds() - t0;
    printf(
        "  %-9s %ld terrain_height_at calls in %.3f s: %.1f million calls per second"
        " (mean height %.3f)\n",
        pattern == 0 ? "random:" : "clustered:", calls, t_calls, (double)calls / t_calls / 1e6,
        sum / (double)calls);
  }

  mem_free(xs);
  mem_free(zs);
  terrain_free(&track.hf);
  log_printf(nullptr);
  remove_track(dir);
  return 0;
}
