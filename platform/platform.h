// The platform layer's operation tables. Two back-ends fill them: the
// headless one (virtual clock, scripted input, no window, no audio) and the
// SDL2 one for the real program. Everything above the platform layer calls
// through the program-wide `platform` record.
#pragma once

#include <csignal>
#include <cstdint>

#include "platform/log.h"

struct FrameRect {
  int32_t x;
  int32_t width;
  int32_t height;
};

struct DisplayMode {
  int32_t width;
  int32_t height;
  int32_t depth;
  int32_t refresh;
};

// Window open flags: low byte colour depth.
constexpr int32_t WINDOW_UNDECORATED = 0x100;
constexpr int32_t WINDOW_FULLSCREEN = 0x200;

struct ClockOps {
  const char* name;
  ClockValue (*now)();
  void (*sleep)(int32_t seconds, int32_t micros);
};

struct WindowOps {
  const char* name;
  bool (*open)(const char* title, int32_t width, int32_t height, int32_t flags, int32_t alpha_bits,
               int32_t depth_bits, int32_t stencil_bits, int32_t accum_bits);
  void (*close)();
  bool (*is_open)();
  // Returns false when nothing should be drawn this frame.
  bool (*frame_begin)(FrameRect* rect);
  // Swaps; false when the window is gone.
  bool (*frame_end)();
  void (*set_mode)(int32_t width, int32_t height, int32_t flags);
  // Zero-terminated mode list (first entry the desktop mode).
  const DisplayMode* (*display_modes)();
  // Runs pending window-system messages (queues input events).
  void (*pump)();
  // True when frames are actually drawn (false: every draw is skipped).
  bool draws;
};

// Back-end input work behind the generic event queue and device registry of
// input.h. Devices carry their own operations (InputDeviceOps); any entry
// here may be null.
struct InputOps {
  const char* name;
  // Moves due back-end and script events into the event queue.
  void (*poll)();
  // Registers the back-end's devices when the window opens (controllers:
  // game-controller enumeration is enabled).
  void (*enumerate)(bool controllers);
  // The platform's own label for a scan code 0..0x1FF, or nullptr.
  const char* (*scan_name)(int32_t scan);
};

struct AudioOps;  // defined with the mixer

struct Platform {
  const ClockOps* clock;
  const WindowOps* window;
  const InputOps* input;
  const AudioOps* audio;  // open audio device kind, or nullptr
  bool headless;
  volatile sig_atomic_t quit_signal;  // set by SIGINT/SIGTERM
};

extern Platform platform;

extern const ClockOps system_clock_ops;
extern const ClockOps headless_clock_ops;
extern const WindowOps headless_window_ops;
extern const InputOps headless_input_ops;

// Installs the headless tables (virtual clock starting at 0).
void platform_use_headless();
// Installs the system clock; window and input stay headless until the SDL
// back-end replaces them.
void platform_use_system();
// Virtual clock control for the headless back-end.
void headless_clock_set(ClockValue t);
void headless_clock_advance_us(int64_t micros);
// SIGINT and SIGTERM set platform.quit_signal.
void platform_install_signal_handlers();
// Closes audio and window if open (out-of-memory exit).
void platform_emergency_close();
