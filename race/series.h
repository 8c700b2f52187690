// Points series: ".series" files listing robot riders and motos with points
// tables, their "_standings" files, round and championship scoring, and the
// grid order of a series event.
#pragma once

#include <cstdint>

// Reads every ".series" file of the file list into the series list (start-up).
void series_list_load();
void series_list_free();
// The chosen series (index into the list), -1 = none; a moto being raced.
void series_select(int32_t index);
// Saves this moto's positions into the series' "_standings" file (called when
// the results become final).
void series_standings_save();
// Starts the next moto of the chosen series.
void series_event_start();
