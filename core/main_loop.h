// The frame loop, the tick loop and key-event dispatch.
#pragma once

#include <cstdint>

#include "core/frame_timing.h"
#include "platform/input.h"

// Key codes of the fixed (not rebindable) keys, resolved at start-up.
struct FixedKeys {
  int32_t up, down, left, right, enter, keypad_enter, esc, pause;
  int32_t cursor_left, cursor_right, page_up, page_down, close;
};

extern FixedKeys fixed_keys;

struct MainLoopState {
  FrameTimer timer;
  bool cursor_left_down;
  AxisHandle cursor_x;
  AxisHandle cursor_y;
  bool cursor_axes_open;
  int32_t last_cursor_x;
  int32_t last_cursor_y;
  int32_t window_width;
  int32_t window_height;
};

extern MainLoopState main_loop_state;

// Observers for tests and tools: called on every tick of the tick loop
// after the tick's controls are formed (tick index counts from 0).
struct MainLoopHooks {
  void (*after_controls)(int64_t tick_index, const float* controls, void* user);
  void* user;
};

extern MainLoopHooks main_loop_hooks;

void fixed_keys_resolve();
void main_loop();
// One pass of the loop; false when the loop should end.
bool main_loop_frame();
// The tick loop for a frame whose clock reading is now.
void main_loop_run_ticks(ClockValue now);
void handle_key_event(const InputEvent& event);
void view_mode_fix_up();
// Tab: the next view mode.
void view_mode_cycle();
void simulate_tick();
// The physics' view of the session (tick, race start, timing, leader, clock,
// server, erosion), taken before every tick and at session start.
void physics_state_sync();
// Next free "screenshot%03d.png" number in a directory.
int32_t next_screenshot_number(const char* directory);
