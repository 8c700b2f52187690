// Final results of a race and the "results.txt" report.
#include "race/results.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "core/files.h"
#include "core/program.h"
#include "physics/bike.h"
#include "physics/step.h"
#include "race/race.h"
#include "race/series.h"
#include "track/timing.h"
#include "track/track.h"

namespace {

// A replayed (demo) bike whose newest snapshot is older than this is through.
constexpr int32_t REPLAY_QUIET_TICKS = 10 * TICKS_PER_SECOND;
// A remote bike not heard from for this long is through.
constexpr int32_t REMOTE_QUIET_TICKS = TICKS_PER_SECOND;

int compare_entries(const void* pa, const void* pb) {
  const PositionEntry* a = (const PositionEntry*)pa;
  const PositionEntry* b = (const PositionEntry*)pb;
  if (a->gate_position != b->gate_position) return a->gate_position > b->gate_position ? -1 : 1;
  if (a->last_gate_tick != b->last_gate_tick) return a->last_gate_tick < b->last_gate_tick ? -1 : 1;
  return (a->slot > b->slot) - (a->slot < b->slot);
}

const Bike* slot_bike(int32_t slot) {
  return slot >= 0 && slot < MAX_BIKES ? program.slots[slot].bike : nullptr;
}

// The position table's bikes' passages, leader first.
int32_t table_timings(const BikeTiming** out) {
  int32_t n = 0;
  for (int32_t i = 0; i < race_session.position_count && i < MAX_BIKES; i++) {
    const Bike* bike = slot_bike(race_session.positions[i].slot);
    if (bike) out[n++] = &bike->timing;
  }
  return n;
}

bool put(DataFile* file, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool put(DataFile* file, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = data_vprintf(file, format, args);
  va_end(args);
  return n >= 0;
}

// Builds race_session.results from the position table: penalties, lost laps
// and the final order.
void results_build() {
  const TimingData* timing = &track.timing;
  const BikeTiming* bikes[MAX_BIKES];
  int32_t bike_count = table_timings(bikes);
  int32_t n = 0;
  for (int32_t i = 0; i < race_session.position_count && i < MAX_BIKES; i++) {
    PositionEntry entry = race_session.positions[i];
    const Bike* bike = slot_bike(entry.slot);
    if (bike) {
      int32_t penalty = cutting_penalty(timing, &bike->timing, bikes, bike_count);
      int32_t best_ticks = 0;
      bike_best_lap(timing, &bike->timing, race_session.length.start_tick, &best_ticks);
      cutting_penalty_apply(timing, penalty, best_ticks, &entry.gate_position,
                            &entry.last_gate_tick);
    }
    race_session.results[n++] = entry;
  }
  race_session.result_count = n;
  results_sort(race_session.results, n);
}

void write_results_file() {
  DataFile* file = data_open("@results.txt", "wb");
  if (!file) return;
  results_write(file, track.name, (int64_t)time(nullptr));
  data_close(file);
}

}  // namespace

void results_sort(PositionEntry* entries, int32_t count) {
  if (entries && count > 1) qsort(entries, (size_t)count, sizeof(PositionEntry), compare_entries);
}

bool results_slot_through(int32_t slot) {
  const Bike* bike = slot_bike(slot);
  if (!bike) return true;
  if (bike->timing.finished) return true;
  if (slot == race_session.local_slot) return false;
  BikeSlotKind kind = program.slots[slot].kind;
  if (!physics_state.online) {
    if (kind != REPLAYED) return false;
    const SlotHistory& history = race_session.history[slot];
    if (history.count <= 0 || history.head < 0 || history.head >= HISTORY_LENGTH) return false;
    int32_t newest = history.entries[history.head].tick;
    return newest >= 0 && program.tick - newest > REPLAY_QUIET_TICKS;
  }
  if (race_session.local_slot == NO_LOCAL_SLOT && kind == LOCAL_RIDER) return true;
  return (int64_t)program.tick - race_session.last_heard_tick[slot] >= REMOTE_QUIET_TICKS;
}

void results_update() {
  if (race_session.results_final) return;
  positions_update();
  const BikeTiming* bikes[MAX_BIKES];
  int32_t bike_count = table_timings(bikes);
  race_length_update(&race_session.length, &track.timing, bikes, bike_count, program.tick);

  // A race without riders has no result yet.
  if (race_session.position_count <= 0) return;
  for (int32_t i = 0; i < race_session.position_count && i < MAX_BIKES; i++)
    if (!results_slot_through(race_session.positions[i].slot)) return;

  results_build();
  const Bike* winner =
      race_session.result_count > 0 ? slot_bike(race_session.results[0].slot) : nullptr;
  if (winner && winner->timing.finished) write_results_file();
  race_session.results_final = true;
  series_standings_save();
}

void results_time_text(int32_t ticks, char* out, int32_t size) {
  if (!out || size <= 0) return;
  int64_t ms = ticks > 0 ? (int64_t)ticks * 1000 / TICKS_PER_SECOND : 0;
  snprintf(out, (size_t)size, "%3d:%02d.%03d", (int)(ms / 60000), (int)(ms / 1000 % 60),
           (int)(ms % 1000));
}

bool results_write(DataFile* file, const char* track_name, int64_t date) {
  if (!file) return false;
  const TimingData* timing = &track.timing;
  const RaceLength& length = race_session.length;
  bool ok = put(file, "Time=%.2f|Laps=%d|Track=%s|Date=%ld\r\n", length.time_limit * TICK_SECONDS,
                length.extra_laps, track_name ? track_name : "", (long)date);
  ok &= put(file, "%4s | %12s | %4s | %10s | %4s | %10s\r\n", "No.", "Bike", "Laps", "Total Time",
            "BLap", "Best Time");
  int32_t count = race_session.result_count;
  if (count > MAX_BIKES) count = MAX_BIKES;
  char total[32], best[32];
  for (int32_t i = 0; i < count; i++) {
    const PositionEntry& entry = race_session.results[i];
    const Bike* bike = slot_bike(entry.slot);
    if (!bike || !bike->timing.finished) continue;
    int32_t best_ticks = 0;
    int32_t best_lap = bike_best_lap(timing, &bike->timing, length.start_tick, &best_ticks);
    results_time_text(entry.last_gate_tick - length.start_tick, total, sizeof total);
    results_time_text(best_ticks, best, sizeof best);
    ok &= put(file, "%4s | %12s | %4d | %s | ", bike->number_text,
              bike->info.name ? bike->info.name : "",
              timing_laps_completed(timing, entry.gate_position), total);
    ok &= put(file, "%4d | %s\r\n", best_lap, best);
  }
  for (int32_t i = 0; i < count; i++) {
    const Bike* bike = slot_bike(race_session.results[i].slot);
    if (!bike || !bike->timing.finished) continue;
    const BikeTiming& passages = bike->timing;
    int32_t positions = passages.gate_position;
    if (positions > passages.gate_ticks.count) positions = passages.gate_ticks.count;
    if (positions < 0) positions = 0;
    ok &= put(file, "\r\n%d\r\n", positions);
    for (int32_t p = 0; p < positions; p++) {
      int32_t tick = passages.gate_ticks.data[p];
      if (tick < 0)
        ok &= put(file, "%8d", -1);
      else
        ok &= put(file, "%8.3f", (tick - length.start_tick) * TICK_SECONDS);
      bool line_end = p + 1 == positions || timing_is_lap_end(timing, p);
      ok &= put(file, "%s", line_end ? "\r\n" : " ");
    }
  }
  return ok;
}
