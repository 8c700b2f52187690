#include "core/frame_timing.h"

#include <algorithm>
#include <cmath>

namespace {

double seconds_between(ClockValue from, ClockValue to) {
  return (double)(to.seconds - from.seconds) + (double)(to.micros - from.micros) * 1e-6;
}

void sleep_seconds(double s) {
  if (s <= 0) return;
  ClockValue d = clock_from_seconds(s);
  sleep_for(d.seconds, d.micros);
}

}  // namespace

void frame_timer_start(FrameTimer& t) {
  t.frame_start = clock_now();
  t.target_time = 0;
  t.simulation_time = 0;
}

void frame_stats_count(FrameStats& s, double seconds) {
  int bucket = 7;
  for (int k = 0; k < 7; k++) {
    if (seconds < TICK_SECONDS * (double)(1 << k)) {
      bucket = k;
      break;
    }
  }
  s.histogram[bucket]++;
}

double connected_clock_scale(double step, const FrameTimingParams& p) {
  if (!p.connected) return step;
  int32_t lag = p.server_tick - p.local_tick - 1;
  double o = lag * TICK_SECONDS;
  if (o >= 0) {
    if (p.local_tick >= p.start_tick) return step * (1 + 0.125 * std::clamp(8 * o, 0.0, 1.0));
    return step * (1 + 3 * std::clamp(o, 0.0, 1.0));
  }
  return step * (0.5 + 0.5 * std::clamp(o + 1, 0.0, 1.0));
}

double frame_timing_step(FrameTimer& t, FrameStats& stats, const FrameTimingParams& p,
                         double* program_clock) {
  ClockValue now = clock_now();
  double w = seconds_between(t.frame_start, now);
  frame_stats_count(stats, w);
  double v;
  for (;;) {
    if (!p.connected && p.lock_fps > 0) {
      double period = 1.0 / p.lock_fps;
      if (w < period) {
        sleep_seconds(period - w);
        now = clock_now();
      }
      v = period;
      break;
    }
    if (!p.connected && p.warp) {
      v = 100 * TICK_SECONDS;
      break;
    }
    if (w >= TICK_SECONDS) {
      v = std::min(w, MAX_FRAME_SECONDS);
      // The clock counts whole microseconds, which cannot hold 1/128 s: a
      // step within a microsecond of whole ticks counts as those ticks, so
      // a paced run does not gain a spurious tick now and then.
      double ticks = std::round(v / TICK_SECONDS);
      if (std::fabs(v - ticks * TICK_SECONDS) < 1e-6) v = ticks * TICK_SECONDS;
      break;
    }
    sleep_seconds(TICK_SECONDS - w);
    now = clock_now();
    w = seconds_between(t.frame_start, now);
  }
  stats.shortest_step = std::min(stats.shortest_step, v);
  stats.longest_step = std::max(stats.longest_step, v);
  v = connected_clock_scale(v, p);
  t.target_time += v;
  if (program_clock) *program_clock += v;
  t.frame_start = now;
  return v;
}
