// Program-wide state records of the core.
//
// Lifetimes:
//   RunOptions   - persistent: set once by the command line, read everywhere.
//   Program      - persistent record; its session part (slots, tick, view
//                  order) lives from session start to session reset.
//   FrameStats   - persistent; shown by the console.
#pragma once

#include <cstdint>

#include "core/common.h"
#include "core/mem.h"

struct Bike;        // bike physics
struct SoundState;  // engine sound of one slot

// Values set only by the command line.
struct RunOptions {
  bool no_sound;
  bool warp;
  double lock_fps;  // 0 = off
  const char* record_audio;
  bool record_video;
  bool show_pause_text;
  bool show_hud;
  int32_t color_depth;
  int32_t depth_bits;
  bool glfinish;
  double chase_center[3];
  const char* demo_file;

  bool fugly;
  bool no_vertex_arrays;
  int32_t learn;  // -1 not given, 0 "--nolearn", 1 "--learn"
  bool no_mmx;
  bool practice;
  double erode;
  double max_detail_distance;
  double detail_fade_distance;
  double fake_lag;  // seconds
  int32_t fake_loss;
  int32_t rotate_lineup;
  bool editor;
  bool accurate_skip;
  int32_t draw_render_stats;
  bool print_orientation;
  const char* track;
  const char* connect;
  const char* password;

  // Beyond the original table: testing and automation.
  bool headless;
  int64_t ticks;  // quit after this many simulation ticks; -1 = never
  const char* input_script;
  // "--lineup CODES": with "--track", start-up starts a race with these
  // line-up codes and no menu open. lineup_count 0 = not given.
  int32_t lineup[MAX_BIKES];
  int32_t lineup_count;
};

extern RunOptions run_options;
extern int32_t debug_level;  // 0, 1 "--debug", 2 "--super-debug"

struct BikeSlot {
  Bike* bike;
  BikeSlotKind kind;
  SoundState* sound;
};

// Frame-time histogram: bucket k < 7 counts frames shorter than
// TICK_SECONDS * 2^k (and not shorter than the previous bound).
struct FrameStats {
  int32_t histogram[8];
  double shortest_step;
  double longest_step;
};

struct TrackEntry {
  const char* name;         // directory, e.g. "rabbithill"
  const char* description;  // first line of "desc", or the name
};

struct DemoEntry {
  const char* path;        // relative, e.g. "demos/default.rtdemo"
  const char* short_name;  // file name without directory and extension
};

struct Program {
  // Per bike slot.
  BikeSlot slots[MAX_BIKES];
  int32_t viewed_slot;  // -1 = none
  int32_t view_order[MAX_BIKES];
  int32_t view_order_count;
  int32_t lineup[MAX_BIKES];  // line-up codes for the next session

  int32_t tick;         // ticks since session start
  int32_t server_tick;  // when connected
  bool connected;
  bool warmup;

  ViewMode view_mode;
  bool paused;
  int32_t menu_state;  // -1 = no menu open
  int32_t track_camera;  // -1 = bike camera
  bool session_loaded;
  bool quit;

  double clock;  // program clock (seconds), advances with the simulation
  FrameStats frame_stats;

  float controls[CONTROL_SLOT_COUNT];

  // Orbit camera for another viewed bike.
  double orbit_angle;
  double orbit_distance;
  double orbit_height;

  bool key_camera_names;  // name display in KEY_CAMERA_VIEW
  bool sit_dab_was_high;

  int64_t ticks_run;  // tick-loop ticks since start-up ("--ticks")

  // Start-up lists.
  GrowArray<TrackEntry> track_list;
  int32_t selected_track;  // index into track_list, -1 = none
  GrowArray<DemoEntry> demo_list;
  int32_t demo_page;
  int32_t series_page;

  const char* build_text;
};

extern Program program;

// Resets the records to their start values (start-up and tests).
void run_options_init(RunOptions& o);
void program_init(Program& p);

// Version text shown on the title screen and logged at start-up.
const char* build_text();
