// The race session record, the per-slot history of snapshots through which
// replayed bikes are moved, which bikes are hidden, and the position table.
#include <cstring>

#include "core/messages.h"
#include "core/program.h"
#include "physics/bike.h"
#include "physics/snapshot_pose.h"
#include "physics/step.h"
#include "race/race.h"

RaceSession race_session;

namespace {

// Extrapolation reaches at most this far past the newest entry.
constexpr int32_t EXTRAPOLATE_TICKS = 64;
constexpr float SLOW_RIDER_SECONDS_DEFAULT = 10.0f;
constexpr float SLOW_RIDER_FACTOR_DEFAULT = 1.5f;
// Gate positions looked at by the slow-rider ghosting.
constexpr int32_t SLOW_RIDER_POSITIONS = 4;

int32_t ring_prev(int32_t i) { return (i + HISTORY_LENGTH - 1) % HISTORY_LENGTH; }
int32_t ring_next(int32_t i) { return (i + 1) % HISTORY_LENGTH; }

bool slot_valid(int32_t slot) { return slot >= 0 && slot < MAX_BIKES; }

// Tick of the last credited gate of a bike (0 when none).
int32_t last_gate_tick(const BikeTiming& timing) {
  for (int32_t q = timing.gate_position - 1; q >= 0; q--) {
    int32_t tick = bike_timing_tick(&timing, q);
    if (tick >= 0) return tick;
  }
  return 0;
}

// Whether entry a sorts before entry b in the position table.
bool position_before(const PositionEntry& a, const PositionEntry& b) {
  if (a.gate_position != b.gate_position) return a.gate_position > b.gate_position;
  if (a.last_gate_tick != b.last_gate_tick) return a.last_gate_tick < b.last_gate_tick;
  return a.slot < b.slot;
}

// The bikes of the position table in its order (the slow-rider rule's field).
int32_t table_bikes(const BikeTiming* out[MAX_BIKES]) {
  int32_t n = 0;
  for (int32_t i = 0; i < race_session.position_count && i < MAX_BIKES; i++) {
    int32_t slot = race_session.positions[i].slot;
    if (!slot_valid(slot) || !program.slots[slot].bike) continue;
    out[n++] = &program.slots[slot].bike->timing;
  }
  return n;
}

// Finished, no gate passed yet, or slow at one of its last four gate positions.
bool out_of_the_race(const Bike* bike, const BikeTiming* const* bikes, int32_t count) {
  const BikeTiming& timing = bike->timing;
  if (timing.finished || timing.gate_position <= 0) return true;
  for (int32_t k = 0; k < SLOW_RIDER_POSITIONS; k++) {
    int32_t j = timing.gate_position - k;
    if (j < 1) break;
    if (slow_rider_at(&timing, j, bikes, count, race_session.length.start_tick, program.tick,
                      race_session.slow_rider_factor, race_session.slow_rider_seconds))
      return true;
  }
  return false;
}

}  // namespace

void race_session_reset() {
  memset(race_session.positions, 0, sizeof race_session.positions);
  race_session.position_count = 0;
  memset(race_session.results, 0, sizeof race_session.results);
  race_session.result_count = 0;
  race_session.results_final = false;
  race_session.slow_rider_seconds = SLOW_RIDER_SECONDS_DEFAULT;
  race_session.slow_rider_factor = SLOW_RIDER_FACTOR_DEFAULT;
  race_session.false_start_countdown = 0;
  race_session.length.start_tick = 0;
  race_session.length.time_limit = 0;
  race_session.length.extra_laps = 0;
  race_session.length.race_laps = RACE_LAPS_UNSET;
  race_session.length.half_way_lap = RACE_LAPS_UNSET;
  history_clear_all();
}

void history_clear(int32_t slot) {
  if (!slot_valid(slot)) return;
  SlotHistory& h = race_session.history[slot];
  for (HistoryEntry& e : h.entries) e.tick = -1;
  h.head = 0;
  h.count = 0;
}

void history_clear_all() {
  for (int32_t s = 0; s < MAX_BIKES; s++) history_clear(s);
}

void add_state_to_history(int32_t slot, const BikeState& state, int32_t tick) {
  if (!slot_valid(slot)) {
    print_message("add_state_to_history: slot out of range");
    return;
  }
  // -1 marks an empty entry; a negative tick cannot be stored.
  if (tick < 0) return;
  SlotHistory& h = race_session.history[slot];

  // The newest entry at or before the tick (an empty entry ends the walk).
  int32_t i = h.head;
  int32_t newer = 0;  // entries walked past, all newer than the tick
  bool found = false;
  for (; newer < HISTORY_LENGTH; newer++) {
    if (h.entries[i].tick <= tick) {
      found = true;
      break;
    }
    i = ring_prev(i);
  }
  if (found && h.entries[i].tick == tick) return;  // the first snapshot of a tick wins

  // Entries newer than the tick are dropped; the new entry follows the
  // newest older one and becomes the head.
  for (int32_t k = 0, j = h.head; k < newer; k++, j = ring_prev(j)) h.entries[j].tick = -1;
  int32_t at = found ? ring_next(i) : h.head;
  h.entries[at].tick = tick;
  h.entries[at].state = state;
  h.head = at;

  // The count grows by one, but never past the entries actually stored.
  int32_t stored = 0;
  for (int32_t j = at; stored < HISTORY_LENGTH && h.entries[j].tick >= 0; j = ring_prev(j))
    stored++;
  int32_t count = h.count + 1;
  if (count > stored) count = stored;
  h.count = count;
}

HistoryLookup history_lookup(int32_t slot, int32_t tick) {
  HistoryLookup out;
  memset(&out, 0, sizeof out);
  if (!slot_valid(slot)) return out;
  const SlotHistory& h = race_session.history[slot];
  const HistoryEntry* e = h.entries;
  int32_t t = tick < 0 ? 0 : tick;
  int32_t head = h.head;
  if (head < 0 || head >= HISTORY_LENGTH) return out;

  int32_t older, newer;
  if (e[head].tick < t) {
    if (e[head].tick < 0) return out;  // empty history
    newer = head;
    older = e[ring_prev(head)].tick >= 0 ? ring_prev(head) : head;
  } else {
    // Back from the head past every entry at or after the target.
    int32_t i = head;
    int32_t last = head;  // oldest entry walked past (tick >= t)
    bool below = false;
    for (int32_t k = 0; k < HISTORY_LENGTH; k++) {
      if (e[i].tick < t) {
        below = e[i].tick >= 0;
        break;
      }
      last = i;
      i = ring_prev(i);
    }
    if (below) {
      older = i;
      newer = ring_next(i);
    } else {
      older = last;
      newer = older == head ? head : ring_next(older);
    }
  }

  int32_t a = e[older].tick;
  int32_t b = e[newer].tick;
  out.found = true;
  out.older = older;
  out.newer = newer;
  out.distance = b - a;
  if (a < t && a != b) {
    if (t == b) {
      out.state = e[newer].state;
    } else {
      int32_t reach = t < b + EXTRAPOLATE_TICKS ? t : b + EXTRAPOLATE_TICKS;
      out.state = bike_state_interpolate(e[older].state, e[newer].state,
                                         (double)(reach - a) / (double)(b - a));
    }
  } else {
    out.state = e[older].state;
  }
  return out;
}

void history_apply(int32_t slot, int32_t tick) {
  if (!slot_valid(slot)) return;
  Bike* bike = program.slots[slot].bike;
  if (!bike) return;
  HistoryLookup look = history_lookup(slot, tick);
  if (!look.found) return;
  const SlotHistory& h = race_session.history[slot];
  BikeStateLayout layout = race_session.playing_demo && race_session.demo_version == 4
                               ? STATE_LAYOUT_OLD
                               : STATE_LAYOUT_CURRENT;
  bike_state_apply(bike, look.state, h.entries[look.older].state, h.entries[look.newer].state,
                   look.distance, layout);
}

bool bike_hidden(int32_t slot) {
  if (!slot_valid(slot)) return true;
  const BikeSlot& s = program.slots[slot];
  if (!s.bike) return true;
  const bool connected = physics_state.online;
  const bool watching = race_session.local_slot == NO_LOCAL_SLOT;
  if (s.kind != REPLAYED) {
    return connected && watching && s.kind == LOCAL_RIDER && slot != program.viewed_slot;
  }

  // Only while the history reaches the current tick (one second either way).
  const int32_t now = program.tick;
  HistoryLookup look = history_lookup(slot, now);
  if (!look.found) return true;
  const SlotHistory& h = race_session.history[slot];
  int64_t older_tick = h.entries[look.older].tick;
  int64_t newer_tick = h.entries[look.newer].tick;
  if ((int64_t)now < older_tick - TICKS_PER_SECOND || (int64_t)now > newer_tick + TICKS_PER_SECOND)
    return true;

  // The rest ghosts riders of a connected race for a user who rides in it.
  const int32_t local = race_session.local_slot;
  if (!slot_valid(local) || !program.slots[local].bike || !connected) return false;
  int32_t heard = race_session.last_heard_tick[slot];
  if (heard < 0 || (int64_t)now - heard >= TICKS_PER_SECOND) return true;

  // Finished and slow riders are ghosted for the others.
  int32_t riders = 0;
  for (int32_t i = 0; i < MAX_BIKES; i++)
    if (program.slots[i].bike) riders++;
  double race_seconds = ((int64_t)now - race_session.length.start_tick) * TICK_SECONDS;
  if (riders > 1 && race_seconds > race_session.slow_rider_seconds) {
    const BikeTiming* bikes[MAX_BIKES];
    int32_t count = table_bikes(bikes);
    if (out_of_the_race(program.slots[local].bike, bikes, count)) return false;
    if (out_of_the_race(s.bike, bikes, count)) return true;
  }
  return false;
}

void positions_update() {
  int32_t n = 0;
  for (int32_t s = 0; s < MAX_BIKES; s++) {
    const Bike* bike = program.slots[s].bike;
    if (!bike) continue;
    PositionEntry entry;
    entry.slot = s;
    entry.gate_position = bike->timing.gate_position;
    entry.last_gate_tick = last_gate_tick(bike->timing);
    // Insertion keeps the table sorted as it grows.
    int32_t at = n;
    while (at > 0 && position_before(entry, race_session.positions[at - 1])) {
      race_session.positions[at] = race_session.positions[at - 1];
      at--;
    }
    race_session.positions[at] = entry;
    n++;
  }
  race_session.position_count = n;
}
