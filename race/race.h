// The race session: who rides in which slot, when the race started, how long
// it runs, the riders' order, the final results; the compact per-tick
// snapshot of one bike (BikeState) and the per-slot history of snapshots
// through which replayed bikes (demo playback, remote riders) are moved.
//
// Lifetime: `race_session` is program-wide; its contents live from session
// start (session_start) to the next session start or shutdown. The bikes and
// slot kinds themselves are `program.slots` (core/program.h).
#pragma once

#include <cstdint>

#include "core/common.h"
#include "track/timing.h"

struct Bike;

// ---------------------------------------------------------------- snapshots

constexpr int32_t BIKE_STATE_BYTES = 39;
constexpr int32_t BIKE_STATE_OLD_BYTES = 26;  // the older layout of version-4 demos

// 39 bytes, little-endian fixed point (see bike_state.cpp for the layout).
struct BikeState {
  uint8_t bytes[BIKE_STATE_BYTES];
};

enum BikeStateLayout : int32_t {
  STATE_LAYOUT_CURRENT = 0,  // 39 bytes
  STATE_LAYOUT_OLD = 1,      // 26 bytes (version-4 demos), in the first 26 bytes
};

// Byte offsets of the layout.
enum BikeStateField : int32_t {
  STATE_POS_X = 0,
  STATE_POS_Y = 3,
  STATE_POS_Z = 6,
  STATE_QUAT = 9,
  STATE_STEER = 17,
  STATE_SWINGARM = 18,  // bit 0: exact snapshot of a simulated bike
  STATE_FORK = 19,      // bit 0 reserved
  STATE_RIDER_OFFSET = 20,
  STATE_RIDER_QUAT = 26,
  STATE_FRONT_WHEEL = 34,
  STATE_REAR_WHEEL = 35,
  STATE_FLAGS = 36,
  STATE_RPM = 37,
};

// Fixed point: floor((clamp(v, lo, hi) - lo) / (hi - lo) * (2^bits - 1)),
// and back to lo + raw / (2^bits - 1) * (hi - lo).
uint32_t state_encode(double v, double lo, double hi, int32_t bits);
double state_decode(uint32_t raw, double lo, double hi, int32_t bits);
// Little-endian unsigned fields of 1..4 bytes.
uint32_t state_read(const uint8_t* p, int32_t bytes);
void state_write(uint8_t* p, int32_t bytes, uint32_t value);

// Packs a bike (positions over the current track's world size and heights).
BikeState bike_state_pack(const Bike* bike);
// The state at fraction t from a to b.
BikeState bike_state_interpolate(const BikeState& a, const BikeState& b, double t);

// ---------------------------------------------------------------- history

constexpr int32_t HISTORY_LENGTH = 128;

struct HistoryEntry {
  int32_t tick;  // -1 = empty
  BikeState state;
};

struct SlotHistory {
  HistoryEntry entries[HISTORY_LENGTH];
  int32_t head;   // newest entry
  int32_t count;  // entries stored, at most HISTORY_LENGTH (demo recording uses it
                  // as the count of entries not yet written)
};

// The result of a lookup: the two bracketing entries (indices into the
// ring), their tick distance and the state at the target tick.
struct HistoryLookup {
  bool found;
  int32_t older, newer;  // ring indices
  int32_t distance;      // newer tick - older tick
  BikeState state;
};

// ---------------------------------------------------------------- session

struct PositionEntry {
  int32_t slot;
  int32_t gate_position;
  int32_t last_gate_tick;  // 0 when none
};

// The slot number meaning "no own bike" (watching).
constexpr int32_t NO_LOCAL_SLOT = MAX_BIKES;

struct RaceSession {
  int32_t local_slot;  // NO_LOCAL_SLOT when the user only watches
  RaceLength length;   // start tick, time limit, extra laps, race laps, half-way lap
  PositionEntry positions[MAX_BIKES];
  int32_t position_count;
  PositionEntry results[MAX_BIKES];
  int32_t result_count;
  bool results_final;
  float slow_rider_seconds;  // 10 unless a race server says otherwise
  float slow_rider_factor;   // 1.5 likewise
  int32_t false_start_countdown;
  bool time_trial;
  bool playing_demo;
  int32_t demo_version;  // of the demo being played (4 plays without interpolation)
  int32_t robot_skill;   // 0 Novice, 1 Amateur, 2 Expert
  float start_position[3];  // the local rider's grid place (false-start rule)
  int32_t last_heard_tick[MAX_BIKES];  // last network update per slot, -1 = never
  SlotHistory history[MAX_BIKES];
};

extern RaceSession race_session;

// Clears the record for a new session: no positions or results, slow-rider
// defaults, every history empty, race length unset.
void race_session_reset();

// Empties one slot's history (every tick -1, count 0) or all of them.
void history_clear(int32_t slot);
void history_clear_all();
// Stores a snapshot for the slot at tick; the first snapshot of a tick wins,
// newer entries are dropped. An out-of-range slot is reported and ignored.
void add_state_to_history(int32_t slot, const BikeState& state, int32_t tick);
// The slot's history at target tick (interpolated, extrapolated up to 64
// ticks past the newest entry).
HistoryLookup history_lookup(int32_t slot, int32_t tick);
// Poses the slot's bike from its history at tick (bike_state_apply).
void history_apply(int32_t slot, int32_t tick);
// Whether the slot's bike is left out of drawing and (connected) of collisions.
bool bike_hidden(int32_t slot);
// Rebuilds the position table from the bikes' gate passages.
void positions_update();
