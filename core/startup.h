// Start-up, the run and the shutdown sequence.
#pragma once

#include <cstdint>

struct VideoModeRow {
  const char* label;  // "Default Fullscreen", "Windowed", "%dx%d"
  int32_t width;
  int32_t height;
};

// The whole program: start-up, main loop, shutdown. Returns the exit status.
int program_run(int argc, const char* const* argv);

// Start-up lists (also used by the menus).
void video_mode_list_build();
void video_mode_list_free();
int32_t video_mode_count();
const VideoModeRow* video_mode_at(int32_t index);
// Builds program.track_list; returns the number of tracks.
int32_t track_list_build();
void track_list_free();
int32_t track_list_find(const char* name);
int32_t demo_list_build();
void demo_list_free();

// The shutdown sequence after the loop; returns the exit status.
int shutdown_sequence();
