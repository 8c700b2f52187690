// Gate passages of one bike and the race rules built on them: the crossing
// test, laps and lap times, race length, finish, cutting penalty, slow
// riders and false starts.
#include <cstdio>
#include <cstring>

#include "core/common.h"
#include "core/mem.h"
#include "core/messages.h"
#include "track/timing.h"

namespace {

// The expected time of a cut stretch when no rider timed it, and the grace
// added to every expected time (ticks).
constexpr double CUT_DEFAULT_TICKS = 60.0 * TICKS_PER_SECOND;
constexpr double CUT_GRACE_TICKS = 1.0 * TICKS_PER_SECOND;
// Squared distance from the grid place that makes a false start.
constexpr float FALSE_START_DISTANCE_SQUARED = 9.0f;

int32_t clamp_to_int32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return (int32_t)v;
}

// Positions passed that can be looked at: both gate_position and the list.
int32_t passed_limit(const BikeTiming* bike) {
  return bike->gate_position < bike->gate_ticks.count ? bike->gate_position
                                                      : bike->gate_ticks.count;
}

// Tick at position (or 0 for a position before the first), -1 when missing.
int32_t tick_or_zero_before(const BikeTiming* bike, int32_t position) {
  return position < 0 ? 0 : bike_timing_tick(bike, position);
}

// Whether bike has ticks at both ends of from .. to and no skipped position
// between; *ticks receives the time over the stretch.
bool stretch_time(const BikeTiming* bike, int32_t from, int32_t to, int64_t* ticks) {
  if (bike->gate_position <= to) return false;
  int32_t start = tick_or_zero_before(bike, from);
  int32_t end = bike_timing_tick(bike, to);
  if (start < 0 || end < 0) return false;
  for (int32_t p = from + 1; p < to; p++)
    if (bike_timing_tick(bike, p) < 0) return false;
  *ticks = (int64_t)end - start;
  return true;
}

// Time of one other bike over the stretch from .. to of the penalised bike:
// in the first lap the stretch itself, later the average over every normal
// lap that bike timed at the same place of the lap.
bool rider_stretch_time(const TimingData* timing, const BikeTiming* other, int32_t from, int32_t to,
                        double* ticks) {
  int32_t first = timing->first_lap_count, normal = timing->normal_lap_count;
  if (from < first) {
    int64_t t;
    if (!stretch_time(other, from, to, &t)) return false;
    *ticks = (double)t;
    return true;
  }
  int64_t length = (int64_t)to - from;
  int64_t f = first + (from - first) % normal;
  double sum = 0.0;
  int32_t laps = 0;
  for (; f + length < other->gate_position; f += normal) {
    int64_t t;
    if (stretch_time(other, (int32_t)f, (int32_t)(f + length), &t)) {
      sum += (double)t;
      laps++;
    }
  }
  if (laps == 0) return false;
  *ticks = sum / laps;
  return true;
}

double expected_stretch_ticks(const TimingData* timing, int32_t from, int32_t to,
                              const BikeTiming* const* bikes, int32_t bike_count) {
  double sum = 0.0;
  int32_t riders = 0;
  for (int32_t i = 0; i < bike_count; i++) {
    if (!bikes[i]) continue;
    double t;
    if (rider_stretch_time(timing, bikes[i], from, to, &t)) {
      sum += t;
      riders++;
    }
  }
  double expected = riders > 0 ? sum / riders : CUT_DEFAULT_TICKS;
  return expected + CUT_GRACE_TICKS;
}

// Earliest tick at which any bike finished the lap; -1 when none did.
int32_t earliest_lap_end(const TimingData* timing, const BikeTiming* const* bikes,
                         int32_t bike_count, int32_t lap) {
  int32_t position = timing_lap_end_position(timing, lap);
  if (position < 0) return -1;
  int32_t best = -1;
  for (int32_t i = 0; i < bike_count; i++) {
    if (!bikes[i] || bikes[i]->gate_position <= position) continue;
    int32_t t = bike_timing_tick(bikes[i], position);
    if (t >= 0 && (best < 0 || t < best)) best = t;
  }
  return best;
}

}  // namespace

// ---------------------------------------------------------------- passages

void bike_timing_reset(BikeTiming* bike) {
  bike->gate_position = 0;
  bike->gate_ticks.count = 0;
  bike->finished = false;
}

void bike_timing_free(BikeTiming* bike) {
  grow_free(bike->gate_ticks);
  bike->gate_position = 0;
  bike->finished = false;
}

int32_t bike_timing_tick(const BikeTiming* bike, int32_t position) {
  const int32_t* tick = grow_at(bike->gate_ticks, position);
  return tick && *tick >= 0 ? *tick : -1;
}

bool bike_timing_credit(BikeTiming* bike, int32_t position, int32_t tick) {
  if (position < 0 || position == INT32_MAX) return false;
  while (bike->gate_ticks.count <= position)
    if (!grow_push(bike->gate_ticks, (int32_t)-1)) return false;
  bike->gate_ticks.data[position] = tick;
  bike->gate_position = position + 1;
  return true;
}

int32_t gate_crossing_test(const TimingData* timing, const BikeTiming* bike, float x, float z) {
  static const int32_t CANDIDATES[] = {-3, -2, 0, 1, 2};
  if (!timing || !bike || timing->normal_lap_count <= 0) return -1;
  bool unpassed = false;
  for (int32_t offset : CANDIDATES) {
    int64_t q64 = (int64_t)bike->gate_position + offset;
    if (q64 < 0) continue;
    if (q64 >= INT32_MAX) break;
    int32_t q = (int32_t)q64;
    bool no_tick = bike_timing_tick(bike, q) < 0;
    if (no_tick) unpassed = true;
    int32_t k = timing_gate_at(timing, q);
    if (k < 0) continue;
    const TimingGate* gate = &timing->gates[k];
    float dx = x - gate->centre[0], dz = z - gate->centre[2];
    bool inside = dx * dx + dz * dz <= gate->radius * gate->radius &&
                  dx * gate->direction[0] + dz * gate->direction[2] >= 0.0f;
    if (inside && (unpassed || offset >= 0)) return q;
    if (!inside && no_tick && timing_is_lap_end(timing, q)) return -1;
  }
  return -1;
}

int32_t bike_gate_progress(const TimingData* timing, BikeTiming* bike, float x, float z,
                           int32_t tick, const BikeTiming* leader, int32_t race_laps) {
  if (!timing || !bike || !timing->active || bike->finished) return GATE_NONE;
  int32_t q = gate_crossing_test(timing, bike, x, z);
  if (q < 0 || !bike_timing_credit(bike, q, tick)) return GATE_NONE;
  int32_t result = GATE_CREDITED;
  bool lap_end = timing_is_lap_end(timing, q);
  if (lap_end) result |= GATE_LAP_DONE;
  int32_t finish = race_laps > 0 ? timing_lap_end_position(timing, race_laps) : 0;
  bool leader_through = leader && leader->gate_position > finish;
  // A bike ahead of the (possibly older) position table's leader leads itself:
  // with no laps to race, it finishes at the first gate.
  const BikeTiming* lead = leader && leader->gate_position >= bike->gate_position ? leader : bike;
  if ((lap_end && (leader_through || timing_laps_completed(timing, bike->gate_position) >= race_laps)) ||
      bike_finish_test(timing, bike, lead, race_laps)) {
    bike->finished = true;
    result |= GATE_FINISHED;
  }
  return result;
}

bool bike_finish_test(const TimingData* timing, const BikeTiming* bike, const BikeTiming* leader,
                      int32_t race_laps) {
  if (!timing || !bike) return false;
  if (bike->finished) return true;
  if (!leader || timing->normal_lap_count <= 0) return false;
  int32_t finish = race_laps > 0 ? timing_lap_end_position(timing, race_laps) : 0;
  if (leader->gate_position <= finish) return false;
  int32_t leader_tick = bike_timing_tick(leader, finish);
  if (leader_tick < 0) return false;
  int32_t laps = timing_laps_completed(timing, bike->gate_position);
  int32_t own_position = laps > 0 ? timing_lap_end_position(timing, laps) : 0;
  int32_t own_tick = bike_timing_tick(bike, own_position);
  return own_tick >= 0 && own_tick >= leader_tick;
}

// ---------------------------------------------------------------- lap times

int32_t bike_lap_ticks(const TimingData* timing, const BikeTiming* bike, int32_t lap,
                       int32_t start_tick) {
  if (!timing || !bike || lap < 1) return 0;
  if (lap > timing_laps_completed(timing, bike->gate_position)) return 0;
  int32_t end = bike_timing_tick(bike, timing_lap_end_position(timing, lap));
  int32_t begin =
      lap == 1 ? start_tick : bike_timing_tick(bike, timing_lap_end_position(timing, lap - 1));
  if (end < 0 || begin < 0) return 0;
  return clamp_to_int32((int64_t)end - begin);
}

float bike_lap_time(const TimingData* timing, const BikeTiming* bike, int32_t lap,
                    int32_t start_tick) {
  return (float)(bike_lap_ticks(timing, bike, lap, start_tick) * TICK_SECONDS);
}

int32_t bike_best_lap(const TimingData* timing, const BikeTiming* bike, int32_t start_tick,
                      int32_t* ticks) {
  int32_t best = 0, best_ticks = 0;
  if (timing && bike) {
    int32_t laps = timing_laps_completed(timing, bike->gate_position);
    for (int32_t lap = 2; lap <= laps; lap++) {
      int32_t t = bike_lap_ticks(timing, bike, lap, start_tick);
      if (t != 0 && (best == 0 || t < best_ticks)) {
        best = lap;
        best_ticks = t;
      }
    }
  }
  if (ticks) *ticks = best_ticks;
  return best;
}

// ---------------------------------------------------------------- race length

void race_length_update(RaceLength* race, const TimingData* timing, const BikeTiming* const* bikes,
                        int32_t bike_count, int32_t current_tick) {
  if (!race || !timing) return;
  if (!bikes) bike_count = 0;
  const BikeTiming* leader = bike_count > 0 ? bikes[0] : nullptr;
  int32_t leader_laps = leader ? timing_laps_completed(timing, leader->gate_position) : 0;
  int64_t now = current_tick;
  if (race->half_way_lap == RACE_LAPS_UNSET &&
      now >= (int64_t)race->start_tick + race->time_limit / 2)
    race->half_way_lap = leader_laps + 1;
  if (race->time_limit <= 0) return;
  int64_t end = (int64_t)race->start_tick + race->time_limit;
  if (now < end) return;
  int64_t lap = (int64_t)leader_laps - 1;
  if (lap > race->race_laps) lap = race->race_laps;
  if (lap < 1) lap = 1;
  int64_t extra = race->extra_laps;
  for (; lap < INT32_MAX; lap++) {
    int32_t t = earliest_lap_end(timing, bikes, bike_count, (int32_t)lap);
    if (t < 0) break;
    if (t >= end) {
      if (lap + extra < race->race_laps) race->race_laps = clamp_to_int32(lap + extra);
      break;
    }
    if (lap + extra + 1 > race->race_laps) race->race_laps = clamp_to_int32(lap + extra + 1);
  }
}

void race_length_text(const RaceLength* race, char* out, size_t size) {
  if (!out || size == 0) return;
  if (race->time_limit <= 0) {
    snprintf(out, size, "%d laps", race->race_laps);
    return;
  }
  int minutes = (int)(race->time_limit * TICK_SECONDS / 60.0 + 0.5);
  if (race->extra_laps > 0)
    snprintf(out, size, "%d minutes + %d laps", minutes, race->extra_laps);
  else
    snprintf(out, size, "%d minutes", minutes);
}

// ---------------------------------------------------------------- cutting

int32_t cutting_penalty(const TimingData* timing, const BikeTiming* bike,
                        const BikeTiming* const* bikes, int32_t bike_count) {
  if (!timing || !bike || timing->normal_lap_count <= 0) return 0;
  if (!bikes) bike_count = 0;
  double penalty = 0.0;
  int64_t last = 0;  // tick of the last credited position
  int32_t skipped = 0;
  int32_t limit = passed_limit(bike);
  for (int32_t j = 0; j < limit; j++) {
    int32_t t = bike_timing_tick(bike, j);
    if (t < 0) {
      skipped++;
      continue;
    }
    if (skipped > 0) {
      int32_t from = j - skipped - 1;
      double expected = expected_stretch_ticks(timing, from, j, bikes, bike_count);
      double took = (double)(t - last);
      if (took < expected) penalty += expected - took;
    }
    last = t;
    skipped = 0;
  }
  if (penalty > INT32_MAX) return INT32_MAX;
  return (int32_t)penalty;
}

int32_t cutting_penalty_apply(const TimingData* timing, int32_t penalty, int32_t best_lap_ticks,
                              int32_t* entry_gate_position, int32_t* entry_tick) {
  int32_t laps_lost = 0;
  int64_t rest = penalty > 0 ? penalty : 0;
  if (timing && entry_gate_position && best_lap_ticks > 0 && timing->normal_lap_count > 0) {
    while (rest > best_lap_ticks && *entry_gate_position > timing->first_lap_count) {
      *entry_gate_position -= timing->normal_lap_count;
      rest -= best_lap_ticks;
      laps_lost++;
    }
  }
  if (entry_tick) *entry_tick = clamp_to_int32(*entry_tick + rest);
  return laps_lost;
}

// ---------------------------------------------------------------- slow riders

bool slow_rider_at(const BikeTiming* bike, int32_t position, const BikeTiming* const* bikes,
                   int32_t bike_count, int32_t start_tick, int32_t current_tick, float factor,
                   float seconds) {
  if (!bike || position < 1 || !bikes) return false;
  const BikeTiming* reference = nullptr;
  for (int32_t i = 0; i < bike_count && !reference; i++) {
    const BikeTiming* other = bikes[i];
    if (!other) continue;
    if (other->gate_position <= position) break;
    if (bike_timing_tick(other, position - 1) >= 0 && bike_timing_tick(other, position) >= 0)
      reference = other;
  }
  if (!reference) return false;
  int64_t before = start_tick;
  for (int32_t p = position - 1; p >= position - 3 && p >= 0; p--) {
    int32_t t = bike_timing_tick(bike, p);
    if (t >= 0) {
      before = t;
      break;
    }
  }
  int64_t after = current_tick;
  for (int32_t p = position; p < bike->gate_ticks.count; p++) {
    int32_t t = bike_timing_tick(bike, p);
    if (t >= 0) {
      after = t;
      break;
    }
  }
  double own = (double)(after - before) * TICK_SECONDS;
  double ref = (double)((int64_t)bike_timing_tick(reference, position) -
                        bike_timing_tick(reference, position - 1)) *
               TICK_SECONDS;
  return own >= factor * ref + seconds;
}

// ---------------------------------------------------------------- false start

bool false_start_check(int32_t* countdown, const float grid_place[3], const float position[3],
                       int32_t start_tick, int32_t current_tick) {
  if (!countdown || current_tick >= start_tick || *countdown > 0) return false;
  float dx = position[0] - grid_place[0];
  float dy = position[1] - grid_place[1];
  float dz = position[2] - grid_place[2];
  if (!(dx * dx + dy * dy + dz * dz >= FALSE_START_DISTANCE_SQUARED)) return false;
  *countdown = clamp_to_int32((int64_t)start_tick + FALSE_START_TICKS - current_tick);
  print_message("15 second false start penalty");
  return true;
}

bool false_start_hold(int32_t* countdown, float controls[9], int32_t start_tick,
                      int32_t current_tick) {
  if (current_tick < start_tick) controls[SIT_DAB] = 1.0f;
  if (!countdown || *countdown <= 0) return false;
  (*countdown)--;
  controls[FRONT_BRAKE] = 1.0f;
  controls[REAR_BRAKE] = 1.0f;
  controls[BACK_UP] = 0.0f;
  controls[CLUTCH] = 0.0f;
  controls[THROTTLE] = 0.0f;
  controls[SIT_DAB] = 1.0f;
  return true;
}
