// Points series: ".series" files listing robot riders and motos with points
// tables, their "_standings" files, round and championship scoring, and the
// grid order of a series event.
//
// Lifetime: `series_list` is built at start-up (series_list_load) and freed
// at shutdown (series_list_free). Series riders are indexed 0 .. rider_count
// - 1 (the robots, in file order) and rider_count (the user).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/common.h"
#include "core/mem.h"

struct DataFile;

// Positions given per points table in the file; the rest score 0.
constexpr int32_t SERIES_POINTS_GIVEN = 40;
// Robot riders per series: 0 .. SERIES_MAX_ROBOTS.
constexpr int32_t SERIES_MAX_ROBOTS = MAX_BIKES - 1;
// The number shown for the user in the standings.
constexpr const char* SERIES_USER_NUMBER = "999";

enum SeriesSkill : int32_t { SERIES_NOVICE = 0, SERIES_AMATEUR = 1, SERIES_EXPERT = 2 };

struct SeriesMoto {
  char* name;     // event name (owned)
  int32_t track;  // index into program.track_list
  int32_t minutes, laps;
  int32_t moto_points[MAX_BIKES];   // by finishing position in this moto
  int32_t round_points[MAX_BIKES];  // by overall position of the round; all 0 unless it ends one
  int32_t positions[MAX_BIKES];     // 0-based finishing position of each series rider
  int32_t overall_positions[MAX_BIKES];  // 0-based overall position in the round this moto ends
};

struct Series {
  const char* name;      // interned
  char* standings_path;  // asset path of the series file + "_standings" (owned)
  GrowArray<SeriesMoto> motos;
  int32_t completed;    // motos with stored results
  int32_t skill;        // SeriesSkill
  int32_t rider_count;  // robot riders, 0 .. SERIES_MAX_ROBOTS
  int32_t rider_numbers[SERIES_MAX_ROBOTS];
};

// Every readable ".series" file of the file list, in list order.
extern GrowArray<Series> series_list;
// The series whose moto is being raced (index into series_list), -1 = none,
// and that moto's index.
extern int32_t series_chosen;
extern int32_t series_chosen_moto;

// ---------------------------------------------------------------- files

// Parses a ".series" stream; asset_path (e.g. "@cup.series") names the
// standings file. Tracks are looked up in program.track_list. False (nothing
// kept) when the file does not parse completely, has a rider count outside
// 0 .. SERIES_MAX_ROBOTS or names an unknown track.
bool series_read(DataFile* file, const char* asset_path, Series* out);
void series_free(Series* series);
// Reads "_standings" lines into the motos' positions; stops at the first
// incomplete line. Sets and returns the completed count and recomputes the
// overall positions.
int32_t standings_read(Series* series, DataFile* file);
// One line per completed moto: the 1-based positions of every rider, the
// user last. False when a write failed.
bool standings_write(const Series* series, DataFile* file);

// Reads every ".series" file of the file list into the series list (start-up).
void series_list_load();
void series_list_free();

// ---------------------------------------------------------------- scoring

// Rounds: a run of motos ending with one whose round points are not all zero
// (motos after the last such one make a last round without points).
int32_t series_round_count(const Series* series);
// First and last moto of a round; false when there is no such round.
bool series_round_motos(const Series* series, int32_t round, int32_t* first, int32_t* last);
// Overall positions of every completed round from the moto positions.
void series_overall_positions_update(Series* series);
// Sum of the round points of the rider's overall position in completed rounds.
int32_t series_rider_total(const Series* series, int32_t rider);
// Riders in standings order (total, then the latest completed round's overall
// position); order needs rider_count + 1 entries. Returns that count.
int32_t series_standings_order(const Series* series, int32_t* order);

// ---------------------------------------------------------------- standings texts

// "Next Event: %.900s" or "%.900s Final Standings".
void series_standings_title(const Series* series, char* out, size_t size);
// The rider's number ("999" for the user).
void series_rider_number_text(const Series* series, int32_t rider, char* out, size_t size);
// One round cell: "%d (%d)", "%d (%d-%d)", "- (%d-)", "%d (%d-%d-%d)"..., "-".
void series_round_cell(const Series* series, int32_t round, int32_t rider, char* out, size_t size);

// ---------------------------------------------------------------- events

// Line-up codes of a moto (0 empty, 1 the user, 1000 + number a robot).
void series_lineup(const Series* series, int32_t moto, int32_t lineup[MAX_BIKES]);
// The chosen series (index into the list), -1 = none; its next moto becomes
// the moto being raced.
void series_select(int32_t index);
// Saves this moto's positions into the series' "_standings" file (called when
// the results become final, or when a series race is left early).
void series_standings_save();
// Starts the next moto of the chosen series.
void series_event_start();
// Starts the next moto of a series without choosing it (practice); false when
// all motos are done or the session did not start.
bool series_moto_start(int32_t index);
// Forgets the series' results ("Reset Points"): completed becomes 0.
void series_reset_points(int32_t index);
