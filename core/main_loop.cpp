// main_loop: draw, sound, frame timing, then the ticks the time pays for.
#include "core/main_loop.h"
#include "core/session.h"
#include "physics/rider_control.h"
#include "race/race.h"

#include <dirent.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/config.h"
#include "core/files.h"
#include "core/messages.h"
#include "core/program.h"
#include "core/subsystems.h"
#include "platform/platform.h"
#include "ui/controls.h"

FixedKeys fixed_keys;
MainLoopState main_loop_state;
MainLoopHooks main_loop_hooks;

namespace {

bool viewed_is_local() {
  int32_t v = program.viewed_slot;
  return v >= 0 && v < MAX_BIKES && program.slots[v].bike && program.slots[v].kind == LOCAL_RIDER;
}

bool has_viewed_bike() {
  int32_t v = program.viewed_slot;
  return v >= 0 && v < MAX_BIKES && program.slots[v].bike;
}

void step_viewed_bike(int32_t direction) {
  if (viewed_is_local() && !settings.spy && !program.warmup) return;
  int32_t position = -1;
  for (int32_t i = 0; i < program.view_order_count; i++)
    if (program.view_order[i] == program.viewed_slot) position = i;
  if (program.view_order_count == 0) return;
  int32_t next = position + direction;
  if (next < 0) next = 0;
  if (next >= program.view_order_count) next = program.view_order_count - 1;
  program.viewed_slot = program.view_order[next];
}

void take_screenshot() {
  const char* home = home_dir();
  if (!home) return;
  char name[64];
  snprintf(name, sizeof name, "screenshot%03d.png", next_screenshot_number(home));
  char* path = join(home, (const char*)name);
  if (!path) return;
  if (render_screenshot(path)) print_messagef("Saved \"%s\"", name);
  mem_free(path);
}

bool is_binding(int32_t code, BindingIndex b) { return binding_is_key(&settings.bindings[b], code); }

// Riding input for the tick (steps f to h); false skips the rest of it.
bool tick_controls() {
  bool menu_open = program.menu_state >= 0;
  bool online = net_connected();
  if (menu_open && viewed_is_local() && !online) return false;
  if (program.view_mode == EDITOR_VIEW) {
    editor_tick();
    if (!online) return false;
    program.paused = false;
    return true;
  }
  if (menu_open || program.view_mode == TITLE_VIEW) return true;
  const float* c = program.controls;
  if (viewed_is_local()) {
    Bike* bike = program.slots[program.viewed_slot].bike;
    if (bike) controls_apply(bike, c);
    // In time trial, backing up can abort the attempt.
    if (race_session.time_trial && settings.time_trial_abort.index == 1 && c[BACK_UP] > 0.5)
      time_trial_restart();
  } else if (program.view_mode == CHASE_VIEW) {
    program.orbit_angle += c[STEER] * M_PI / 512;
    if (program.orbit_angle > M_PI) program.orbit_angle -= 2 * M_PI;
    if (program.orbit_angle < -M_PI) program.orbit_angle += 2 * M_PI;
    if (c[THROTTLE] > 0.5) program.orbit_distance = fmax(0.25, program.orbit_distance * 63 / 64);
    if (c[FRONT_BRAKE] > 0.5) program.orbit_distance *= 65.0 / 64;
    program.orbit_height += TICK_SECONDS * c[SHIFT];
  } else if (program.view_mode == KEY_CAMERA_VIEW) {
    bool high = c[SIT_DAB] >= 0.5;
    if (high && !program.sit_dab_was_high) program.key_camera_names = !program.key_camera_names;
    program.sit_dab_was_high = high;
  }
  if (online) program.paused = false;
  return true;
}

void run_one_tick(ClockValue now, double behind) {
  for (float& c : program.controls) c = 0;
  InputEvent event;
  if (behind > 1e-9) {
    ClockValue deadline = clock_from_seconds(clock_seconds(now) - behind);
    while (input_next_due(deadline, &event)) handle_key_event(event);
  } else {
    while (input_next(&event)) handle_key_event(event);
  }
  if (capture_active()) capture_update(clock_seconds(now));
  controls_form(program.controls);
  if (main_loop_hooks.after_controls)
    main_loop_hooks.after_controls(program.ticks_run, program.controls, main_loop_hooks.user);

  if (!tick_controls()) return;
  net_tick();
  if (program.paused || !program.session_loaded) return;
  if (net_connected() && program.server_tick <= 0) return;
  simulate_tick();
}

}  // namespace

void fixed_keys_resolve() {
  fixed_keys.up = key_code("up");
  fixed_keys.down = key_code("down");
  fixed_keys.left = key_code("left");
  fixed_keys.right = key_code("right");
  fixed_keys.enter = key_code("enter");
  fixed_keys.keypad_enter = key_code("keypad enter");
  fixed_keys.esc = key_code("esc");
  fixed_keys.pause = key_code("pause");
  fixed_keys.cursor_left = key_code("cursor-left");
  fixed_keys.cursor_right = key_code("cursor-right");
  fixed_keys.page_up = key_code("page up");
  fixed_keys.page_down = key_code("page down");
  fixed_keys.close = key_code("close");
}

int32_t next_screenshot_number(const char* directory) {
  int32_t highest = 0;
  DIR* dir = opendir(directory);
  if (!dir) return 1;
  while (dirent* entry = readdir(dir)) {
    int n = 0;
    if (strncmp(entry->d_name, "screenshot", 10) == 0 && sscanf(entry->d_name + 10, "%d", &n) == 1 &&
        n > highest)
      highest = n;
  }
  closedir(dir);
  return highest + 1;
}

void view_mode_fix_up() {
  if (program.session_loaded && program.view_mode == TITLE_VIEW) program.view_mode = RIDE_VIEW;
  if (viewed_is_local() && program.view_mode != EDITOR_VIEW && program.view_mode != RIDE_VIEW &&
      program.view_mode != CHASE_VIEW)
    program.view_mode = RIDE_VIEW;
  if (!has_viewed_bike()) program.view_mode = KEY_CAMERA_VIEW;
  if (!program.session_loaded) program.view_mode = TITLE_VIEW;
}

void view_mode_cycle() {
  switch (program.view_mode) {
    case RIDE_VIEW: program.view_mode = run_options.editor ? EDITOR_VIEW : CHASE_VIEW; break;
    case EDITOR_VIEW:
      editor_apply_terrain();
      program.view_mode = CHASE_VIEW;
      break;
    case CHASE_VIEW: program.view_mode = KEY_CAMERA_VIEW; break;
    case KEY_CAMERA_VIEW: program.view_mode = RIDE_VIEW; break;
    case SPECTATE_VIEW: program.view_mode = RIDE_VIEW; break;
    case TITLE_VIEW: break;
  }
}

void handle_key_event(const InputEvent& event) {
  int32_t code = event.code;
  bool pressed = event.pressed != 0;
  if (code == KEY_CLOSE) {
    if (pressed) program.quit = true;
    return;
  }
  binding_key_event(code, pressed);
  if (code == fixed_keys.cursor_left) main_loop_state.cursor_left_down = pressed;
  if (!pressed) return;

  if (capture_active()) {
    if (code == fixed_keys.esc) {
      capture_cancel();
    } else {
      capture_key(code);
    }
    return;
  }
  if (code == fixed_keys.esc) {
    program.menu_state = program.menu_state < 0 ? 0 : -1;
    return;
  }
  if (program.menu_state >= 0) {
    menu_key(code);
    if (!program.session_loaded) program.view_mode = TITLE_VIEW;
    return;
  }
  if (is_binding(code, BIND_CHAT) && program.view_mode != EDITOR_VIEW) {
    program.menu_state = 16;
    return;
  }
  if (program.view_mode == TITLE_VIEW) return;
  if (program.view_mode == EDITOR_VIEW && editor_key(code)) return;

  if (is_binding(code, BIND_PAUSE)) {
    if (!net_connected()) program.paused = !program.paused;
  } else if (is_binding(code, BIND_STEP)) {
    if (program.paused && program.session_loaded) simulate_tick();
  } else if (code == '\t') {
    view_mode_cycle();
  } else if (is_binding(code, BIND_REWIND)) {
    demo_seek_seconds(-1.0);
  } else if (is_binding(code, BIND_SKIP)) {
    demo_seek_seconds(1.0);
  } else if (is_binding(code, BIND_PREV)) {
    step_viewed_bike(-1);
  } else if (is_binding(code, BIND_NEXT)) {
    step_viewed_bike(1);
  } else if (is_binding(code, BIND_SCREENSHOT)) {
    if (program.view_mode != EDITOR_VIEW) take_screenshot();
  } else if (code >= '0' && code <= '9') {
    int32_t digit = code - '0';
    int32_t cameras = track_camera_count();
    program.track_camera = (digit < cameras ? digit : cameras) - 1;
  }
}

void main_loop_run_ticks(ClockValue now) {
  FrameTimer& t = main_loop_state.timer;
  while (t.simulation_time + 1e-9 < t.target_time && !program.quit) {
    t.simulation_time += TICK_SECONDS;
    run_one_tick(now, t.target_time - t.simulation_time);
    program.ticks_run++;
    if (run_options.ticks >= 0 && program.ticks_run >= run_options.ticks) program.quit = true;
  }
}

bool main_loop_frame() {
  if (platform.quit_signal) program.quit = true;
  view_mode_fix_up();

  FrameRect rect;
  if (platform.window->frame_begin(&rect)) {
    main_loop_state.window_width = rect.width;
    main_loop_state.window_height = rect.height;
    if (settings.video_mode.index == 1) {
      settings.xres = rect.width;
      settings.yres = rect.height;
    }
    if (platform.window->draws) render_frame(rect.width, rect.height);
    if (!platform.window->frame_end()) return false;
  }

  if (platform.audio) {
    double master;
    if (program.paused || program.view_mode == EDITOR_VIEW)
      master = 0;
    else if (program.menu_state < 0)
      master = 1;
    else
      master = viewed_is_local() ? 0 : 0.25;
    audio_frame_sounds(master * settings.volume.value * 0.1);
  }

  FrameTimingParams params = {};
  params.lock_fps = run_options.lock_fps;
  params.warp = run_options.warp;
  params.connected = net_connected();
  params.server_tick = program.server_tick;
  params.local_tick = program.tick;
  frame_timing_step(main_loop_state.timer, program.frame_stats, params, &program.clock);

  if (main_loop_state.cursor_axes_open) {
    int32_t x = axis_read(main_loop_state.cursor_x);
    int32_t y = axis_read(main_loop_state.cursor_y);
    bool moved = x != main_loop_state.last_cursor_x || y != main_loop_state.last_cursor_y;
    main_loop_state.last_cursor_x = x;
    main_loop_state.last_cursor_y = y;
    if (program.menu_state >= 0) menu_cursor(main_loop_state.cursor_left_down, moved);
  }

  main_loop_run_ticks(main_loop_state.timer.frame_start);

  if (run_options.warp && program.session_loaded && race_leader_finished()) {
    int32_t last = program.lineup[MAX_BIKES - 1];
    memmove(&program.lineup[1], &program.lineup[0], sizeof(int32_t) * (MAX_BIKES - 1));
    program.lineup[0] = last;
    session_start(settings.track, program.lineup, false, settings.record.index == 1,
                  (int32_t)settings.minutes.value * 60 * TICKS_PER_SECOND,
                  (int32_t)settings.laps.value, settings.skill.index);
  }
  if (program.session_loaded) terrain_frame_update();
  message_history_expire(message_history, program.clock);
  return !program.quit;
}

void main_loop() {
  frame_timer_start(main_loop_state.timer);
  while (!program.quit) {
    if (!main_loop_frame()) break;
  }
}
