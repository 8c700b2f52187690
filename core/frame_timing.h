// Frame timing: how much simulated time one frame pays for.
#pragma once

#include "core/program.h"
#include "platform/log.h"

struct FrameTimer {
  ClockValue frame_start;
  double target_time;      // simulated time the tick loop runs up to
  double simulation_time;  // simulated time reached so far
};

struct FrameTimingParams {
  double lock_fps;  // 0 = off
  bool warp;
  bool connected;
  // Connected-clock scaling (network client): server and local ticks.
  int32_t server_tick;
  int32_t local_tick;
  int32_t start_tick;
};

void frame_timer_start(FrameTimer& t);
// Counts a measured frame duration into the histogram.
void frame_stats_count(FrameStats& s, double seconds);
// Scales a step to keep the local tick just behind the server's.
double connected_clock_scale(double step, const FrameTimingParams& p);
// Measures the frame, sleeps as the pacing asks, and returns the step V that
// was added to the target time and the program clock.
double frame_timing_step(FrameTimer& t, FrameStats& stats, const FrameTimingParams& p,
                         double* program_clock);
