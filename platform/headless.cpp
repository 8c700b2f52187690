// The headless back-end: a virtual clock that sleeping advances at once, and
// a window that always counts as drawable but never draws.
#include "platform/platform.h"

namespace {

int64_t virtual_micros = 0;

ClockValue headless_now() {
  return {(int32_t)(virtual_micros / 1000000), (int32_t)(virtual_micros % 1000000)};
}

void headless_sleep(int32_t seconds, int32_t micros) {
  int64_t d = (int64_t)seconds * 1000000 + micros;
  if (d > 0) virtual_micros += d;
}

struct HeadlessWindow {
  bool open;
  int32_t width;
  int32_t height;
};

HeadlessWindow headless_window;

const DisplayMode headless_modes[] = {{640, 480, 32, 60}, {0, 0, 0, 0}};

bool headless_open(const char* title, int32_t width, int32_t height, int32_t flags, int32_t,
                   int32_t, int32_t, int32_t) {
  log_printf("Creating window\n");
  headless_window.open = true;
  headless_window.width = width > 0 ? width : 640;
  headless_window.height = height > 0 ? height : 480;
  return true;
}

void headless_close() {
  if (!headless_window.open) return;
  headless_window.open = false;
  log_printf("Window shutdown complete\n");
}

bool headless_is_open() { return headless_window.open; }

bool headless_frame_begin(FrameRect* rect) {
  if (!headless_window.open) return false;
  *rect = {0, headless_window.width, headless_window.height};
  return true;
}

bool headless_frame_end() { return headless_window.open; }

void headless_set_mode(int32_t width, int32_t height, int32_t flags) {
  headless_window.width = width > 0 ? width : 640;
  headless_window.height = height > 0 ? height : 480;
}

const DisplayMode* headless_display_modes() { return headless_modes; }

void headless_pump() {}

}  // namespace

void headless_clock_set(ClockValue t) { virtual_micros = (int64_t)t.seconds * 1000000 + t.micros; }

void headless_clock_advance_us(int64_t micros) { virtual_micros += micros; }

const ClockOps headless_clock_ops = {"headless", headless_now, headless_sleep};

const WindowOps headless_window_ops = {
    "headless",       headless_open,     headless_close,
    headless_is_open, headless_frame_begin, headless_frame_end,
    headless_set_mode, headless_display_modes, headless_pump,
    false,
};
