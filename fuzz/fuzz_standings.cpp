// Feeds arbitrary bytes to the "_standings" reader of a fixed series (three
// robots, four motos in two rounds), then scores, writes and lines up from it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/files.h"
#include "core/mem.h"
#include "core/program.h"
#include "race/series.h"

namespace {

const char SERIES_TEXT[] =
    "\"Fuzz Cup\"\n3 Amateur\n4 7 12\n4\n"
    "\"One\" rabbithill 0 2\n"
    "25 22 20 18 16 15 14 13 12 11 10 9 8 7 6 5 4 3 2 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
    "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
    "\"Two\" rabbithill 0 2\n"
    "25 22 20 18 16 15 14 13 12 11 10 9 8 7 6 5 4 3 2 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
    "50 44 40 36 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
    "\"Three\" rabbithill 0 2\n"
    "25 22 20 18 16 15 14 13 12 11 10 9 8 7 6 5 4 3 2 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
    "50 44 40 36 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
    "\"Four\" rabbithill 0 2\n"
    "25 22 20 18 16 15 14 13 12 11 10 9 8 7 6 5 4 3 2 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
    "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Series series;
  static bool loaded = false;
  static DataFile* sink = nullptr;
  if (!loaded) {
    grow_push(program.track_list, TrackEntry{intern_string("rabbithill"), "Rabbit Hill"});
    DataFile* f = data_open_memory(SERIES_TEXT, strlen(SERIES_TEXT), false, false);
    if (!f || !series_read(f, "@fuzz.series", &series)) __builtin_trap();
    data_close(f);
    sink = data_open_path("/dev/null", "wb");
    loaded = true;
  }
  DataFile* file = data_open_memory(data, size, false, false);
  if (!file) return 0;
  int32_t completed = standings_read(&series, file);
  data_close(file);
  if (completed < 0 || completed > series.motos.count) __builtin_trap();
  int32_t riders = series.rider_count + 1;
  for (int32_t m = 0; m < completed; m++)
    for (int32_t r = 0; r < riders; r++) {
      int32_t p = series.motos.data[m].positions[r];
      if (p < 0 || p >= riders) __builtin_trap();
      int32_t o = series.motos.data[m].overall_positions[r];
      if (o < 0 || o >= riders) __builtin_trap();
    }
  int32_t order[MAX_BIKES];
  series_standings_order(&series, order);
  char text[1024];
  series_standings_title(&series, text, sizeof text);
  for (int32_t round = 0; round < series_round_count(&series); round++)
    for (int32_t r = 0; r < riders; r++) series_round_cell(&series, round, r, text, sizeof text);
  int32_t lineup[MAX_BIKES];
  series_lineup(&series, completed, lineup);
  if (sink) standings_write(&series, sink);
  return 0;
}
