// Demo files (".rtdemo"): the recorder of every session with numbered
// backups, the reader that feeds the histories of played bikes, seeking, the
// practice laps with their ghost, and "namedemo".
#pragma once

#include <cstdint>

// Opens the recording and writes the header (practice: "lastlap.rtdemo" of
// the track). False when the file cannot be created.
bool demo_record_start();
// Every tick (final = false) and once when a recording ends (final = true).
void demo_record_tick(bool final);
void demo_record_stop();
// Appends a message block while recording.
void demo_message(const char* text);
// Opens the chosen demo (path may be nullptr: the default or the practice
// ghost) and reads its header. False when it cannot be opened or read.
bool demo_play_start(const char* path);
void demo_play_tick();
void demo_play_stop();
// Moves playback by seconds (negative: back).
void demo_seek(double seconds);
// Closes both streams and forgets their state.
void demo_streams_reset();
