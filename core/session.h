// Sessions: one loaded track with one set of entrants. session_start and
// session_free are declared with the other subsystem calls (core/subsystems.h).
#pragma once

#include <cstdint>

// Line-up codes, one per slot.
enum LineupCode : int32_t {
  LINEUP_EMPTY = 0,  // during demo playback: the next rider recorded in the demo
  LINEUP_HUMAN = 1,
  LINEUP_ROBOT = 2,
  LINEUP_ROBOT_2_STROKE = 3,
  LINEUP_ROBOT_4_STROKE = 4,
  LINEUP_REMOTE = 5,          // a remote human of a network line-up
  LINEUP_ROBOT_NUMBER = 1000  // + n: the robot whose roster number is n
};

struct SessionOptions {
  bool force_reload;  // "forcereload": the next session start reloads the track
  // The demo a playback session plays (nullptr: the one named on the command
  // line, else the default demo).
  const char* demo_path;
};
extern SessionOptions session_options;

// A new time-trial attempt: only slot 0 stays, back at the start.
void time_trial_restart();
// Destroys every bike (slots become empty and replayed).
void session_bikes_free();
// The practice ghost's replayed bikes (the demo player's hooks).
void practice_ghosts_create();
void practice_ghosts_remove();
