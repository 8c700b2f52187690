#include <gtest/gtest.h>

#include <vector>

#include "core/config.h"
#include "core/frame_timing.h"
#include "core/main_loop.h"
#include "core/program.h"
#include "platform/input.h"
#include "platform/platform.h"
#include "ui/controls.h"

namespace {

struct FrameFixture : testing::Test {
  FrameStats stats;
  void SetUp() override {
    platform_use_headless();
    headless_clock_set({10, 0});
    run_options_init(run_options);
    program_init(program);
    settings_init_defaults();
    input_queue_clear();
    headless_input_reset();
    stats = program.frame_stats;
    frame_timer_start(main_loop_state.timer);
  }
  void TearDown() override {
    main_loop_hooks = {};
    input_queue_clear();
  }
  // One frame whose own work took `work` seconds; returns the ticks it ran.
  int64_t frame(double work, const FrameTimingParams& params) {
    headless_clock_advance_us((int64_t)(work * 1e6 + 0.5));
    frame_timing_step(main_loop_state.timer, stats, params, &program.clock);
    int64_t before = program.ticks_run;
    main_loop_run_ticks(main_loop_state.timer.frame_start);
    return program.ticks_run - before;
  }
};

using FrameTiming = FrameFixture;

}  // namespace

TEST_F(FrameTiming, LongFrameAddsAtMostSixteenTicks) {
  FrameTimingParams p = {};
  EXPECT_EQ(frame(0.5, p), 16);
  EXPECT_DOUBLE_EQ(stats.longest_step, MAX_FRAME_SECONDS);
  EXPECT_DOUBLE_EQ(program.clock, MAX_FRAME_SECONDS);
  EXPECT_EQ(stats.histogram[7], 1);  // 0.5 s is past the last bound
}

TEST_F(FrameTiming, ShortFrameSleepsUntilOneTickHasPassed) {
  FrameTimingParams p = {};
  ClockValue before = clock_now();
  EXPECT_EQ(frame(0.001, p), 1);
  double waited = clock_seconds(clock_now()) - clock_seconds(before);
  EXPECT_NEAR(waited, TICK_SECONDS, 1.5e-6);
  EXPECT_NEAR(stats.shortest_step, TICK_SECONDS, 1.5e-6);
  EXPECT_EQ(stats.histogram[0], 1);
}

TEST_F(FrameTiming, LockFpsFeedsExactlyOnePeriodPerFrame) {
  FrameTimingParams p = {};
  p.lock_fps = 30;
  int64_t total = 0;
  int fours = 0, fives = 0;
  for (int i = 0; i < 30; i++) {
    int64_t ticks = frame(0.002, p);
    EXPECT_TRUE(ticks == 4 || ticks == 5) << ticks;
    fours += ticks == 4;
    fives += ticks == 5;
    total += ticks;
  }
  EXPECT_EQ(total, 128);  // 30 frames of 1/30 s are exactly one second
  EXPECT_GT(fours, 0);
  EXPECT_GT(fives, 0);
  EXPECT_NEAR(clock_seconds(clock_now()), 11.0, 1e-5);  // paced at 30 frames a second
}

TEST_F(FrameTiming, WarpFeedsHundredTicks) {
  FrameTimingParams p = {};
  p.warp = true;
  EXPECT_EQ(frame(0.0, p), 100);
}

TEST_F(FrameTiming, HistogramBuckets) {
  struct Case {
    double seconds;
    int bucket;
  } cases[] = {{0.0, 0},      {TICK_SECONDS * 0.99, 0}, {TICK_SECONDS, 1}, {TICK_SECONDS * 3, 2},
               {0.05, 3},     {0.0625, 4},              {0.4, 6},          {0.6, 7}};
  for (const Case& c : cases) {
    FrameStats s = {};
    frame_stats_count(s, c.seconds);
    EXPECT_EQ(s.histogram[c.bucket], 1) << c.seconds;
  }
}

TEST_F(FrameTiming, ConnectedClockScaling) {
  struct Case {
    int32_t server, local, start;
    double factor;
  } cases[] = {
      {101, 100, 0, 1.0},                     // exactly one behind: no change
      {117, 100, 0, 1.125},                   // 16 ticks behind after the start: capped
      {105, 100, 0, 1 + 0.125 * 8 * 4 / 128.0},
      {105, 100, 200, 1 + 3 * 4 / 128.0},     // before the start
      {300, 100, 200, 4.0},
      {100, 100, 0, 0.5 + 0.5 * (1 - 1 / 128.0)},  // one tick ahead
      {0, 500, 0, 0.5},
  };
  for (const Case& c : cases) {
    FrameTimingParams p = {};
    p.connected = true;
    p.server_tick = c.server;
    p.local_tick = c.local;
    p.start_tick = c.start;
    EXPECT_NEAR(connected_clock_scale(TICK_SECONDS, p), TICK_SECONDS * c.factor, 1e-12)
        << c.server << " " << c.local;
  }
  FrameTimingParams offline = {};
  EXPECT_DOUBLE_EQ(connected_clock_scale(0.1, offline), 0.1);
}

TEST_F(FrameTiming, KeyEventIsAppliedOnTheTickItsTimeBelongsTo) {
  bindings_resolve();
  int32_t x = key_code("x");
  ASSERT_GT(x, 0);
  ASSERT_EQ(settings.bindings[BIND_THROTTLE].key_code, x);
  // The frame covers 10.0 .. 10.1 s: 13 ticks with deadlines 10 + k/128.
  input_queue_event(x, true, clock_from_seconds(10.030));    // due at tick 4
  input_queue_event(x, false, clock_from_seconds(10.0625));  // exactly tick 8's deadline
  std::vector<float> throttle;
  main_loop_hooks.user = &throttle;
  main_loop_hooks.after_controls = [](int64_t, const float* c, void* user) {
    ((std::vector<float>*)user)->push_back(c[THROTTLE]);
  };
  FrameTimingParams p = {};
  EXPECT_EQ(frame(0.1, p), 13);
  std::vector<float> expected = {0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(throttle, expected);
}

TEST_F(FrameTiming, LastTickOfTheFrameTakesEveryQueuedEvent) {
  bindings_resolve();
  int32_t x = key_code("x");
  input_queue_event(x, true, clock_from_seconds(10.5));  // later than the frame's end
  std::vector<float> throttle;
  main_loop_hooks.user = &throttle;
  main_loop_hooks.after_controls = [](int64_t, const float* c, void* user) {
    ((std::vector<float>*)user)->push_back(c[THROTTLE]);
  };
  FrameTimingParams p = {};
  EXPECT_EQ(frame(0.03, p), 4);
  std::vector<float> expected = {0, 0, 0, 1};
  EXPECT_EQ(throttle, expected);
}
