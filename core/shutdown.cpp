// The shutdown sequence, each step shown and logged.
#include <cstdio>

#include "core/config.h"
#include "core/files.h"
#include "core/loading.h"
#include "core/main_loop.h"
#include "core/messages.h"
#include "core/program.h"
#include "race/series.h"
#include "core/startup.h"
#include "core/subsystems.h"
#include "physics/world.h"
#include "platform/input.h"
#include "platform/platform.h"
#include "ui/controls.h"

int shutdown_sequence() {
  log_printf("Ran %lld ticks\n", (long long)program.ticks_run);
  // 1.
  if (net_connected()) net_disconnect();
  // 2.
  bikes_free_all();
  session_free();
  physics_world_destroy();
  // 3.
  log_loading_message("Freeing memory (1)");
  message_history_clear(message_history);
  // 4.
  log_loading_message("Closing input devices");
  if (main_loop_state.cursor_axes_open) {
    axis_close(main_loop_state.cursor_x);
    axis_close(main_loop_state.cursor_y);
    main_loop_state.cursor_axes_open = false;
  }
  bindings_release();
  // 5.
  log_loading_message("Closing audio");
  audio_close_device();
  engine_sound_tables_free();
  // 6.
  log_loading_message("Writing config files");
  config_write();
  // 7.
  net_library_shutdown();
  // 8.
  log_loading_message("Freeing memory (2)");
  series_list_free();
  track_list_free();
  // 9.
  log_loading_message("Freeing memory (3)");
  skin_lists_free();
  demo_list_free();
  video_mode_list_free();
  // 10.
  log_loading_message("Freeing file list");
  file_list_free();
  // 11.
  log_loading_message("Freeing memory (4)");
  bike_catalogue_free();
  // 12.
  log_loading_message("Deleting textures");
  render_delete_textures();
  log_loading_message("Deleting models");
  render_delete_models();
  render_delete_fonts();
  // 13.
  if (platform.window->is_open()) platform.window->close();
  input_devices_close();
  headless_input_reset();
  input_reset();
  log_printf("Shutdown complete\n");
  log_printf(nullptr);
  string_pool_free();
  mem_report_leaks();
  sleep_for(1, 0);
  return 0;
}
