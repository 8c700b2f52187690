// rt_ride: rides bikes on a track with scripted controls and writes a per-tick
// trace as CSV.
//
//   rt_ride [--track NAME] [--bike MODEL] [--bikes N] [--at X,Z,HEADING]
//           [--ticks N] [--script FILE] [--out FILE]
//
// Bikes after the first are placed 6 ft to the right of each other. The
// script format is ride_script_parse's ("TICK name=value ..."). Game data is
// found as the game finds it (RT_HOME or the executable's folder).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/config.h"
#include "core/files.h"
#include "core/mem.h"
#include "physics/bike.h"
#include "physics/catalogue.h"
#include "physics/shape.h"
#include "physics/world.h"
#include "tools/ride.h"
#include "track/track.h"

namespace {

int usage() {
  fprintf(stderr,
          "usage: rt_ride [--track NAME] [--bike MODEL] [--bikes N] [--at X,Z,HEADING]\n"
          "               [--ticks N] [--script FILE] [--out FILE]\n");
  return 2;
}

bool read_text(const char* path, std::string* out) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
  fclose(f);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const char* track_name = "practice";
  const char* model = bike_catalogue[0].name;
  const char* script_path = nullptr;
  const char* out_path = nullptr;
  int32_t bikes = 1;
  long ticks = 128 * 10;
  double x = 170, z = 380, heading = -M_PI / 2;  // practice: the start straight, facing +x
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    if (!v) return usage();
    if (!strcmp(a, "--track")) track_name = v;
    else if (!strcmp(a, "--bike")) model = v;
    else if (!strcmp(a, "--bikes")) bikes = atoi(v);
    else if (!strcmp(a, "--ticks")) ticks = atol(v);
    else if (!strcmp(a, "--script")) script_path = v;
    else if (!strcmp(a, "--out")) out_path = v;
    else if (!strcmp(a, "--at")) {
      if (sscanf(v, "%lf,%lf,%lf", &x, &z, &heading) != 3) return usage();
    } else {
      return usage();
    }
    i++;
  }
  if (bikes < 1 || bikes > MAX_BIKES || ticks < 0) return usage();

  RideScript script{};
  if (script_path) {
    std::string text;
    int32_t bad = 0;
    if (!read_text(script_path, &text)) {
      fprintf(stderr, "rt_ride: can't read %s\n", script_path);
      return 1;
    }
    if (!ride_script_parse(text.c_str(), &script, &bad)) {
      fprintf(stderr, "rt_ride: %s:%d: bad line\n", script_path, bad);
      return 1;
    }
  }
  FILE* out = stdout;
  if (out_path && !(out = fopen(out_path, "w"))) {
    fprintf(stderr, "rt_ride: can't write %s\n", out_path);
    return 1;
  }

  settings_init_defaults();
  if (!physics_world_create()) return 1;
  int status = 0;
  if (!ride_load_track(track_name)) {
    fprintf(stderr, "rt_ride: can't load track '%s'\n", track_name);
    status = 1;
  } else {
    Ride ride;
    ride_init(&ride);
    ride.trace = out;
    // The script drives every bike; each reads it through its own copy.
    RideScript* copies = (RideScript*)mem_alloc_zeroed((size_t)bikes, sizeof(RideScript));
    for (int32_t b = 0; b < bikes && copies; b++) {
      copies[b] = script;
      double side = 6.0 * b;
      ride_add_bike(&ride, model, x + side * cos(heading), z - side * sin(heading), heading,
                    ride_script_controller, &copies[b]);
    }
    ride_trace_header(out);
    for (long t = 0; t < ticks; t++) ride_step(&ride);
    ride_free(&ride);
    mem_free(copies);
    ride_unload_track();
  }
  if (out != stdout) fclose(out);
  ride_script_free(&script);
  physics_world_destroy();
  shape_cache_free();
  file_list_free();
  return status;
}
