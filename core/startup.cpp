// Start-up in its fixed order, then the main loop and the shutdown.
#include "core/startup.h"

#include <cstdio>
#include <cstring>

#include "core/cmdline.h"
#include "core/config.h"
#include "core/files.h"
#include "core/loading.h"
#include "core/main_loop.h"
#include "core/messages.h"
#include "core/program.h"
#include "race/series.h"
#include "core/subsystems.h"
#include "physics/world.h"
#include "platform/input.h"
#include "platform/platform.h"
#include "ui/controls.h"

namespace {

constexpr int WINDOW_READY_POLLS = 162;

void video_mode_setting_options() {
  static const char* labels[64];
  int32_t n = video_mode_count() < 64 ? video_mode_count() : 64;
  for (int32_t i = 0; i < n; i++) labels[i] = video_mode_at(i)->label;
  choice_set_options(&settings.video_mode, labels, n);
}

bool open_window() {
  int32_t mode = settings.video_mode.index;
  int32_t width = 0, height = 0, flags = run_options.color_depth & 0xFF;
  if (mode == 1) {
    width = settings.xres;
    height = settings.yres;
  } else {
    const VideoModeRow* row = video_mode_at(mode);
    if (row) {
      width = row->width;
      height = row->height;
    }
    flags |= WINDOW_FULLSCREEN;
  }
  return platform.window->open("Rutmoto", width, height, flags, 0, run_options.depth_bits, 0, 0);
}

bool wait_until_drawable(FrameRect* rect) {
  for (int i = 0; i < WINDOW_READY_POLLS; i++) {
    if (platform.window->frame_begin(rect)) return true;
    sleep_for(0, 62500);
  }
  return false;
}

bool has_mmx() {
#if defined(__x86_64__) || defined(__i386__)
  return __builtin_cpu_supports("mmx");
#else
  return false;
#endif
}

}  // namespace

int program_run(int argc, const char* const* argv) {
  // 1. Message lines; standard output is binary on this platform already.
  message_history_clear(message_history);
  run_options_init(run_options);
  program_init(program);
  settings_init_defaults();
  if (command_line_has(argc, argv, "--headless"))
    platform_use_headless();
  else
    platform_use_system();
  platform_install_signal_handlers();

  // 2. "--open-home" alone runs before anything else.
  if (argc == 2 && strcmp(argv[1], "--open-home") == 0) {
    open_home_folder();
    return 0;
  }

  // 3. Game data and the log file.
  if (!game_data_check()) {
    message_box("Problem starting Rutmoto", "Can't find game data\n");
    return 0;
  }
  // 4.
  program.build_text = build_text();
  log_printf("Rutmoto version %s\n", program.build_text);
  // 5.
  check_shape_digests();
  // 6. Server history and flags start empty (settings defaults).
  // 7.
  video_mode_list_build();
  video_mode_setting_options();
  // 8.
  if (!has_mmx()) log_printf("This CPU does not have MMX!\n");
  // 9.
  apply_stability_preset(settings.stability.value);
  apply_graphics_preset(0);
  // 10.
  skin_lists_build();
  // 11, 12.
  config_read();
  derive_runtime_settings();
  // 13.
  char error[1200];
  CommandLineResult parsed = parse_command_line(argc, argv, error, sizeof error);
  if (parsed == COMMAND_LINE_EXIT_ERROR) {
    fputs(error, stderr);
    return 1;
  }
  if (parsed == COMMAND_LINE_EXIT_OK) return 0;
  if (run_options.input_script) {
    if (!run_options.headless) {
      fputs("--input-script needs --headless\n", stderr);
      return 1;
    }
    if (!headless_input_load_script(run_options.input_script, error, sizeof error)) {
      fprintf(stderr, "%s\n", error);
      return 1;
    }
  }
  // 14.
  if (run_options.connect) run_options.track = nullptr;
  // 15.
  if (track_list_build() == 0) {
    fputs("No tracks found\n", stderr);
    return 1;
  }
  // 16, 17.
  demo_list_build();
  series_list_load();
  // 18.
  const char* chosen = run_options.track ? run_options.track : settings.track;
  program.selected_track = track_list_find(chosen);
  if (program.selected_track >= 0) config_set_selected_track(chosen);
  // 19.
  if (!open_window()) return 1;
  input_devices_open(option_bool("dinput", 1) != 0);
  // 20.
  if (!run_options.no_sound && !run_options.headless) audio_open_device();
  // 21.
  FrameRect rect;
  if (wait_until_drawable(&rect)) {
    // 22 to 24.
    if (platform.window->draws) {
      render_detect_gl();
      render_load_startup_images();
    }
    // 25.
    if (platform.window->frame_end()) {
      main_loop_state.cursor_axes_open = axis_open("cursor-x", &main_loop_state.cursor_x) &&
                                         axis_open("cursor-y", &main_loop_state.cursor_y);
      bindings_resolve();
      fixed_keys_resolve();
    }
    // 26.
    physics_world_create();
    // 27.
    const char* startup_track = run_options.track;
    if (!startup_track && !run_options.connect && program.selected_track >= 0)
      startup_track = program.track_list.data[program.selected_track].name;
    bool demo = false;
    if (run_options.demo_file) {
      const char* demo_track = nullptr;
      demo = demo_read_header(run_options.demo_file, &demo_track);
      if (demo) startup_track = demo_track;
    }
    // 28.
    for (BikeSlot& slot : program.slots) slot = {nullptr, REPLAYED, nullptr};
    program.view_order_count = 0;
    if (!demo) program.lineup[0] = ROBOT;
    // 29. "--lineup" with "--track" starts the race the New Race menu would
    // start, with no menu open.
    bool quick_race = !demo && run_options.track && run_options.lineup_count > 0;
    if (quick_race) {
      memcpy(program.lineup, run_options.lineup, sizeof program.lineup);
      session_start(startup_track, program.lineup, false, settings.record.index == 1,
                    (int32_t)settings.minutes.value * 60 * TICKS_PER_SECOND,
                    (int32_t)settings.laps.value, settings.skill.index);
    } else if (startup_track) {
      session_start(startup_track, program.lineup, demo, false, 0, 1000, settings.skill.index);
    }
    // 30.
    program.view_mode = RIDE_VIEW;
    program.menu_state = run_options.connect || quick_race ? -1 : 0;
    main_loop();
  }
  return shutdown_sequence();
}
