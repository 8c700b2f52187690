// Race course of a track: timing gates ("checkpoints"), the first-lap and
// normal-lap gate sequences and the starting grid with its falling gates;
// the per-bike record of gate passages and the race rules built on it (gate
// crossing, laps and lap times, race length, finish, cutting penalty,
// slow riders, false starts).
//
// Lifetime: TimingData is loaded with the track (timing_load) and freed with
// it (timing_free). BikeTiming lives in each bike and is cleared when the bike
// is reset.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/mem.h"

struct DataFile;
struct HeightField;
struct TrackObjects;

constexpr int32_t TIMING_MAX_GATES = 256;           // checkpoints per track
constexpr int32_t TIMING_MAX_SEQUENCE = 256;        // entries per lap sequence
constexpr int32_t TIMING_MAX_STARTING_GATES = 160;  // grid places
// A sequence entry of GATE_NO_SPLIT + k names checkpoint k but does not end a
// section of the robots' line tables.
constexpr int32_t GATE_NO_SPLIT = 100000;
// Race lengths and half-way lap while unset.
constexpr int32_t RACE_LAPS_UNSET = 1000000;
// Tilt of a standing starting gate statue (3*pi/16).
constexpr float STARTING_GATE_TILT = 0.5890486f;
// Starting gates drop and hold bikes only during this long after the drop tick.
constexpr int32_t STARTING_GATE_TICKS = 10 * 128;
// False start: the bike is held until this long after the start tick.
constexpr int32_t FALSE_START_TICKS = 15 * 128;

extern const char* const STARTING_GATE_MODEL;    // "@startgate.jm"
extern const char* const STARTING_GATE_TEXTURE;  // "@startgate.ppm"
extern const char* const STARTING_GATE_SHAPE;    // "@startgate.shp"

// One timing gate.
struct TimingGate {
  float centre[3];
  float direction[3];  // the side on which a bike counts as through; x and z used
  float radius;        // horizontal radius of the gate zone
  int32_t marked;      // set by the scene for the flaggers, cleared every frame
};

// One grid place with its gate statue.
struct StartingGate {
  float x, y, z;      // as written in the file (y above the ground)
  float angle;        // radians, -pi .. pi
  const char* model;  // interned asset names; nullptr = none ("null" in the file)
  const char* texture;
  const char* shape;
  int32_t statue;               // index of its statue in TrackObjects, -1 when none
  float placed_orientation[9];  // the statue's orientation as placed (gate down)
  float drop_position;          // 1 = up, 0 = down
  float drop_speed;
};

struct TimingData {
  TimingGate gates[TIMING_MAX_GATES];
  int32_t gate_count;
  int32_t first_lap[TIMING_MAX_SEQUENCE];  // raw entries, GATE_NO_SPLIT marker kept
  int32_t first_lap_count;
  int32_t normal_lap[TIMING_MAX_SEQUENCE];
  int32_t normal_lap_count;
  int32_t first_lap_required;  // entries below GATE_NO_SPLIT (section ends)
  int32_t normal_lap_required;
  StartingGate starting_gates[TIMING_MAX_STARTING_GATES];
  int32_t starting_gate_count;
  bool active;  // gates and both sequences usable: laps are counted
};

// ---------------------------------------------------------------- file (timing_gates.cpp)

// Empties the record (no gates, no grid, timing off).
void timing_init(TimingData* timing);
// Loads "<track_path>timing_gates"; a missing file leaves no gates and
// returns true. objects/hf receive the starting-gate statues.
bool timing_load(TimingData* timing, TrackObjects* objects, const HeightField* hf,
                 const char* track_path);
// Parses an open stream. With objects == nullptr no statues are created
// (statue indices stay -1). Returns whether any section was found.
bool timing_read(TimingData* timing, TrackObjects* objects, const HeightField* hf, DataFile* file);
// Writes "<track_path>timing_gates"; false after "Can't open 'timing_gates'".
bool timing_save(const TimingData* timing, const TrackObjects* objects, const char* track_path);
bool timing_write(const TimingData* timing, DataFile* file);
void timing_free(TimingData* timing);

// Recomputes the required counts and the active flag after the editor (or a
// test) changed gates or sequences; clamps every entry as the reader does.
void timing_finish(TimingData* timing);

// Angle wrapped into -pi .. pi.
float timing_wrap_angle(float angle);

// ---------------------------------------------------------------- sequences

// Raw entry (marker kept) at sequence position p: first lap, then the normal
// lap repeated. -1 when p < 0 or there is no such entry.
int32_t timing_sequence_entry(const TimingData* timing, int32_t position);
// Checkpoint index at sequence position p (marker removed), -1 when none.
int32_t timing_gate_at(const TimingData* timing, int32_t position);
// Whether position p ends a section of the line tables (entry below the marker).
bool timing_position_splits(const TimingData* timing, int32_t position);
// Laps completed with gate position p.
int32_t timing_laps_completed(const TimingData* timing, int32_t gate_position);
// Gate within the current lap for gate position p.
int32_t timing_gate_in_lap(const TimingData* timing, int32_t gate_position);
// Sequence position of the finish gate of lap L (L >= 1); -1 for L < 1 or no timing.
int32_t timing_lap_end_position(const TimingData* timing, int32_t lap);
// Whether sequence position q is the last gate of a lap.
bool timing_is_lap_end(const TimingData* timing, int32_t position);

// ---------------------------------------------------------------- per bike (laps.cpp)

struct BikeTiming {
  int32_t gate_position;          // next sequence position = positions passed
  GrowArray<int32_t> gate_ticks;  // tick credited per passed position, -1 = skipped
  bool finished;
};

// Back to the start of the sequence (keeps the allocated list).
void bike_timing_reset(BikeTiming* bike);
void bike_timing_free(BikeTiming* bike);
// Tick at position q, or -1 when skipped or not reached.
int32_t bike_timing_tick(const BikeTiming* bike, int32_t position);
// Credits position q at tick: fills skipped entries with -1, sets
// gate_position = q + 1. False (nothing changed) when q < 0 or memory runs out.
bool bike_timing_credit(BikeTiming* bike, int32_t position, int32_t tick);

// The crossing test at front-wheel position (x, z): the accepted sequence
// position, or -1. Does not look at the finished flag or the active flag.
int32_t gate_crossing_test(const TimingData* timing, const BikeTiming* bike, float x, float z);

// Results of one tick of gate progress.
enum GateProgress : int32_t {
  GATE_NONE = 0,
  GATE_CREDITED = 1,  // a gate was accepted
  GATE_LAP_DONE = 2,  // ... and it completed a lap
  GATE_FINISHED = 4,  // ... and the bike is now finished
};

// One tick of gate progress for a bike whose simulation this program owns:
// nothing when timing is off or the bike has finished; else the crossing
// test, the credit and the lap-completion rule. leader = first entry of the
// position table (may be nullptr or the bike itself). Returns GateProgress bits.
int32_t bike_gate_progress(const TimingData* timing, BikeTiming* bike, float x, float z,
                           int32_t tick, const BikeTiming* leader, int32_t race_laps);

// Finish rule: whether the bike has finished given the leader's passages.
bool bike_finish_test(const TimingData* timing, const BikeTiming* bike, const BikeTiming* leader,
                      int32_t race_laps);

// Lap time of lap L in ticks (end of lap 0 = start_tick); 0 when a tick is missing.
int32_t bike_lap_ticks(const TimingData* timing, const BikeTiming* bike, int32_t lap,
                       int32_t start_tick);
float bike_lap_time(const TimingData* timing, const BikeTiming* bike, int32_t lap,
                    int32_t start_tick);
// Best lap among laps 2 .. completed (earlier on ties): its number, or 0 when
// there is none; *ticks receives its time (0 when none).
int32_t bike_best_lap(const TimingData* timing, const BikeTiming* bike, int32_t start_tick,
                      int32_t* ticks);

// ---------------------------------------------------------------- race rules (laps.cpp)

// Race length state kept by the session.
struct RaceLength {
  int32_t start_tick;
  int32_t time_limit;  // ticks, 0 = none
  int32_t extra_laps;
  int32_t race_laps;     // the lap after which a bike has finished
  int32_t half_way_lap;  // RACE_LAPS_UNSET while unset
};

// The 512-tick check: half-way lap and race laps from the time limit.
// bikes = every bike in position-table order (leader first).
void race_length_update(RaceLength* race, const TimingData* timing, const BikeTiming* const* bikes,
                        int32_t bike_count, int32_t current_tick);
// "%d minutes + %d laps", "%d minutes" or "%d laps" into out.
void race_length_text(const RaceLength* race, char* out, size_t size);

// Cutting penalty of bike in ticks; bikes = the position table's bikes.
int32_t cutting_penalty(const TimingData* timing, const BikeTiming* bike,
                        const BikeTiming* const* bikes, int32_t bike_count);
// Applies a penalty to a result entry: with a best lap, whole laps go while
// the penalty is larger than the best lap; the rest is added to *entry_tick.
// Returns the number of laps taken away.
int32_t cutting_penalty_apply(const TimingData* timing, int32_t penalty, int32_t best_lap_ticks,
                              int32_t* entry_gate_position, int32_t* entry_tick);

// Slow-rider rule for bike at gate position j; bikes in position-table order.
bool slow_rider_at(const BikeTiming* bike, int32_t position, const BikeTiming* const* bikes,
                   int32_t bike_count, int32_t start_tick, int32_t current_tick, float factor,
                   float seconds);

// False start: before start_tick, sets *countdown when the bike is 3 units or
// more from its grid place and no countdown runs ("15 second false start
// penalty"). Returns whether the penalty was given now.
bool false_start_check(int32_t* countdown, const float grid_place[3], const float position[3],
                       int32_t start_tick, int32_t current_tick);
// Holds the controls (ControlSlot order) for this tick: sit/dab before the
// start; while the countdown runs it counts down and the bike is held.
// Returns whether the countdown forced the controls.
bool false_start_hold(int32_t* countdown, float controls[9], int32_t start_tick,
                      int32_t current_tick);

// ---------------------------------------------------------------- starting grid
// (starting_gate.cpp)

// Adds a starting gate (angle wrapped) and its statue; -1 when the grid is full.
int32_t starting_gate_add(TimingData* timing, TrackObjects* objects, const HeightField* hf, float x,
                          float y, float z, float angle, const char* model, const char* texture,
                          const char* shape);
// Grid place of bike slot s: position (x, z) and facing angle; false without gates.
bool starting_grid_place(const TimingData* timing, int32_t slot, float* x, float* z,
                         float* facing_x, float* facing_z);
// Every gate up with speed 0 and its statue tilted up.
void starting_gates_reset(TimingData* timing, TrackObjects* objects);
// One tick of the drop from drop_tick on (the start tick, or start + 127 when
// a connected watcher); statues touched in this tick hold their gate.
void starting_gates_update(TimingData* timing, TrackObjects* objects, int32_t current_tick,
                           int32_t drop_tick);
// Whether bikes collide with the starting gates at this tick.
bool starting_gates_solid(int32_t current_tick, int32_t drop_tick);
