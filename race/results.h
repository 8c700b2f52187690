// Final results of a race: cutting penalties applied, the order fixed, the
// "results.txt" report in the home directory, and the standings of a points
// series updated.
#pragma once

#include <cstdint>

struct DataFile;
struct PositionEntry;

// Rebuilds positions and race length; when every bike is through, makes the
// results final, writes "@results.txt" (when the winner finished) and saves
// the series standings. Does nothing once the results are final.
void results_update();

// Whether the bike in the position table's slot no longer holds up the end of
// the race (finished, or a replayed / remote bike that went quiet).
bool results_slot_through(int32_t slot);

// Orders position entries as the position table does: more gates first, then
// the earlier last gate, then the lower slot.
void results_sort(PositionEntry* entries, int32_t count);

// Writes the report of race_session.results (bikes from program.slots, gates
// from track.timing) for the track directory name and date (seconds since
// 1970). Lines end in "\r\n". Returns false when a write failed.
bool results_write(DataFile* file, const char* track_name, int64_t date);

// Total ticks as "%3d:%02d.%03d" (minutes, seconds, milliseconds).
void results_time_text(int32_t ticks, char* out, int32_t size);
