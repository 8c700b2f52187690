// The program-wide platform record and signal handling.
#include "platform/platform.h"

#include <csignal>

Platform platform = {&system_clock_ops, &headless_window_ops, &headless_input_ops, nullptr, false, 0};

void platform_use_system() {
  platform.clock = &system_clock_ops;
  platform.window = &headless_window_ops;
  platform.input = &headless_input_ops;
  platform.headless = false;
}

void platform_use_headless() {
  platform.clock = &headless_clock_ops;
  platform.window = &headless_window_ops;
  platform.input = &headless_input_ops;
  platform.headless = true;
  headless_clock_set({0, 0});
}

static void on_quit_signal(int) { platform.quit_signal = 1; }

void platform_install_signal_handlers() {
  struct sigaction action = {};
  action.sa_handler = on_quit_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void platform_emergency_close() {
  // Audio devices and windows register their own close through the tables.
  if (platform.window && platform.window->is_open && platform.window->is_open())
    platform.window->close();
}
