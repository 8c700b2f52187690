#include "core/loading.h"

#include <cstdio>
#include <cstring>

#include "core/program.h"
#include "core/subsystems.h"
#include "platform/input.h"
#include "platform/platform.h"

namespace {

struct LoadingState {
  bool have_last;
  double last_time;
  char last_text[80];
  double max_delay;
  char max_delay_text[80];
  double spinner_time;
  bool spinner_shown;
  int32_t spinner_phase;
};

LoadingState loading;

}  // namespace

void show_loading_message(const char* text) {
  InputEvent event;
  while (input_next(&event)) {
  }
  for (float& c : program.controls) c = 0;

  double now = clock_seconds(clock_now());
  if (loading.have_last && now - loading.last_time > loading.max_delay) {
    loading.max_delay = now - loading.last_time;
    memcpy(loading.max_delay_text, loading.last_text, sizeof loading.last_text);
  }
  loading.have_last = true;
  loading.last_time = now;
  snprintf(loading.last_text, sizeof loading.last_text, "%.79s", text);

  FrameRect rect;
  if (platform.window->is_open() && platform.window->frame_begin(&rect)) {
    if (platform.window->draws) render_loading_screen(text);
    platform.window->frame_end();
  }
}

void log_loading_message(const char* text) {
  show_loading_message(text);
  if (text[0]) log_printf("%s\n", text);
}

void log_loading_message_reset_spinner(const char* text) {
  loading.spinner_phase = 0;
  loading.spinner_shown = false;
  log_loading_message(text);
}

void loading_spinner(const char* text) {
  double now = clock_seconds(clock_now());
  if (loading.spinner_shown && now - loading.spinner_time < 0.125) return;
  loading.spinner_shown = true;
  loading.spinner_time = now;
  static const char* const dots[4] = {"", ".", "..", "..."};
  char line[80];
  snprintf(line, sizeof line, "%.64s%s", text, dots[loading.spinner_phase]);
  loading.spinner_phase = (loading.spinner_phase + 1) % 4;
  show_loading_message(line);
}

void loading_done(const char* text) {
  char line[80];
  snprintf(line, sizeof line, "%.64s...done", text);
  show_loading_message(line);
}

double loading_max_delay() { return loading.max_delay; }
const char* loading_max_delay_text() { return loading.max_delay_text; }
void loading_reset_stats() { loading = LoadingState{}; }
const char* loading_last_text() { return loading.last_text; }
