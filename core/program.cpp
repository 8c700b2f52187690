#include "core/program.h"

#include <cstring>

RunOptions run_options;
Program program;
int32_t debug_level = 0;

void run_options_init(RunOptions& o) {
  memset(&o, 0, sizeof o);
  o.show_pause_text = true;
  o.show_hud = true;
  o.color_depth = 16;
  o.depth_bits = 16;
  o.chase_center[0] = 0.0;
  o.chase_center[1] = 2.52;
  o.chase_center[2] = 0.52;
  o.learn = -1;
  o.max_detail_distance = 70.0;
  o.detail_fade_distance = 75.0;
  o.ticks = -1;
}

void program_init(Program& p) {
  p = Program{};
  p.viewed_slot = -1;
  p.menu_state = -1;
  p.track_camera = -1;
  p.view_mode = RIDE_VIEW;
  p.frame_stats.shortest_step = 1.0;
  p.frame_stats.longest_step = 0.0;
  p.orbit_distance = 10.0;
  p.orbit_height = 5.0;
  p.selected_track = -1;
  for (int i = 0; i < MAX_BIKES; i++) p.slots[i].kind = REPLAYED;
}

const char* build_text() { return "0.1.0"; }
