// The wall clock and the precise sleep.
#include <sched.h>
#include <time.h>

#include "platform/platform.h"

ClockValue system_clock_now() {
  // A monotonic millisecond counter, as (seconds, microseconds).
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  int64_t ms = (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
  uint32_t m = (uint32_t)ms;  // wraps with the counter
  return {(int32_t)(m / 1000), (int32_t)((m % 1000) * 1000)};
}

static int64_t micros_of(ClockValue t) { return (int64_t)t.seconds * 1000000 + t.micros; }

void system_sleep_for(int32_t seconds, int32_t micros) {
  ClockValue start = system_clock_now();
  int64_t n = (int64_t)seconds * 1000 + micros / 1000;
  int64_t coarse = n > 1 ? n - 1 : n;
  if (coarse > 0) {
    timespec ts = {(time_t)(coarse / 1000), (long)(coarse % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
  }
  int64_t target = micros_of(start) + (int64_t)seconds * 1000000 + micros;
  while (micros_of(system_clock_now()) < target) sched_yield();
}

ClockValue clock_now() { return platform.clock->now(); }

void sleep_for(int32_t seconds, int32_t micros) { platform.clock->sleep(seconds, micros); }

double clock_seconds(ClockValue t) { return t.seconds + t.micros * 1e-6; }

ClockValue clock_from_seconds(double s) {
  int64_t us = (int64_t)(s * 1e6 + (s >= 0 ? 0.5 : -0.5));
  int64_t sec = us / 1000000;
  int64_t rem = us % 1000000;
  if (rem < 0) {
    rem += 1000000;
    sec -= 1;
  }
  return {(int32_t)sec, (int32_t)rem};
}

const ClockOps system_clock_ops = {"system", system_clock_now, system_sleep_for};
