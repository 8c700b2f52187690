// Feeds arbitrary bytes to the ".series" reader, then exercises the scoring,
// the standings texts and the event line-ups on whatever was read.
#include <cstddef>
#include <cstdint>

#include "core/files.h"
#include "core/mem.h"
#include "core/program.h"
#include "race/series.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (program.track_list.count == 0) {
    grow_push(program.track_list, TrackEntry{intern_string("rabbithill"), "Rabbit Hill"});
    grow_push(program.track_list, TrackEntry{intern_string("practice"), "Practice"});
    grow_push(program.track_list, TrackEntry{intern_string("a"), "A"});
  }
  DataFile* file = data_open_memory(data, size, false, false);
  if (!file) return 0;
  Series series;
  bool ok = series_read(file, "@fuzz.series", &series);
  data_close(file);
  if (!ok) return 0;
  if (series.rider_count < 0 || series.rider_count > SERIES_MAX_ROBOTS) __builtin_trap();
  for (int32_t m = 0; m < series.motos.count; m++) {
    int32_t track = series.motos.data[m].track;
    if (track < 0 || track >= program.track_list.count) __builtin_trap();
  }
  // Every moto done with a rotating finishing order.
  int32_t riders = series.rider_count + 1;
  for (int32_t m = 0; m < series.motos.count; m++)
    for (int32_t r = 0; r < riders; r++) series.motos.data[m].positions[r] = (r + m) % riders;
  char text[1024];
  int32_t order[MAX_BIKES];
  int32_t lineup[MAX_BIKES];
  for (int32_t done = 0; done <= series.motos.count && done < 64; done++) {
    series.completed = done;
    series_overall_positions_update(&series);
    series_standings_order(&series, order);
    series_standings_title(&series, text, sizeof text);
    for (int32_t round = 0; round < series_round_count(&series) && round < 16; round++)
      for (int32_t r = 0; r < riders; r++) series_round_cell(&series, round, r, text, sizeof text);
    series_lineup(&series, done, lineup);
  }
  series_free(&series);
  return 0;
}
