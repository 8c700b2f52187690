#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/cmdline.h"
#include "core/config.h"
#include "core/program.h"

namespace {

struct Parsed {
  CommandLineResult result;
  std::string error;
};

Parsed parse(std::vector<const char*> args) {
  run_options_init(run_options);
  settings_init_defaults();
  derive_runtime_settings();
  debug_level = 0;
  args.insert(args.begin(), "rutmoto");
  char error[1200];
  CommandLineResult r = parse_command_line((int)args.size(), args.data(), error, sizeof error);
  return {r, error};
}

}  // namespace

TEST(CommandLine, BadValuesExitWithTheirMessage) {
  struct Case {
    std::vector<const char*> args;
    const char* message;
  } cases[] = {
      {{"--lod-bias", "x"}, "Bad arg for --lod-bias\n"},
      {{"--lod-bias=x"}, "Bad arg for --lod-bias\n"},
      {{"--texture-detail", "abc"}, "Bad arg for --texture-detail\n"},
      {{"--ground-texture-detail=q"}, "Bad arg for --ground-texture-detail\n"},
      {{"--roostfrequency", ""}, "Bad arg for --roostfrequency\n"},
      {{"--erode", "much"}, "Bad arg for --erode\n"},
      {{"--detail", "-"}, "Bad arg for --detail\n"},
      {{"--max-detail-distance", "far"}, "Bad arg for --max-detail-distance\n"},
      {{"--lod-scale", "big"}, "Bad arg for --lod-scale\n"},
      {{"--lock-fps", "sixty"}, "Bad arg for --lock-fps\n"},
      {{"--fake-lag", "lots"}, "Bad arg for --fake-lag\n"},
      {{"--fake-loss", "half"}, "Bad arg for --fake-loss\n"},
      {{"--chase-center", "1,2"}, "Bad arg for --chase-center\n"},
      {{"--ticks", "many"}, "Bad arg for --ticks\n"},
      {{"--lineup", "1,,2"}, "Bad arg for --lineup\n"},
      {{"--lineup", "1,x"}, "Bad arg for --lineup\n"},
      {{"--lineup", ""}, "Bad arg for --lineup\n"},
      {{"--lineup", "1,"}, "Bad arg for --lineup\n"},
      {{"--lod-bias"}, "Bad arg for --lod-bias\n"},  // value missing at the end
      {{"--track"}, "Bad arg for --track\n"},
      {{"-x"}, "bad option '-x'\n"},
      {{"--unknown"}, "bad option '--unknown'\n"},
      {{"--detailed"}, "bad option '--detailed'\n"},
      {{"a.rtdemo", "b.rtdemo"}, "Too many files!\n"},
      {{"--", "a.rtdemo", "-b.rtdemo"}, "Too many files!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    Parsed p = parse(c.args);
    EXPECT_EQ(p.result, COMMAND_LINE_EXIT_ERROR);
    EXPECT_EQ(p.error, c.message);
  }
}

TEST(CommandLine, ValuesAreStoredClampedAndInBothForms) {
  EXPECT_EQ(parse({"--lod-bias=2.5"}).result, COMMAND_LINE_OK);
  EXPECT_DOUBLE_EQ(derived.lod_bias, 2.5);
  EXPECT_EQ(parse({"--lod-bias", "2.5"}).result, COMMAND_LINE_OK);
  EXPECT_DOUBLE_EQ(derived.lod_bias, 2.5);

  parse({"--texture-detail", "9"});
  EXPECT_EQ(derived.model_levels_skipped, 4);
  EXPECT_EQ(derived.ground_levels_skipped, 4);
  parse({"--texture-detail", "-3"});
  EXPECT_EQ(derived.model_levels_skipped, 0);
  parse({"--texture-detail=2", "--ground-texture-detail=3"});
  EXPECT_EQ(derived.model_levels_skipped, 2);
  EXPECT_EQ(derived.ground_levels_skipped, 3);

  parse({"--fake-lag", "2500"});
  EXPECT_DOUBLE_EQ(run_options.fake_lag, 1.0);
  parse({"--fake-lag", "250"});
  EXPECT_DOUBLE_EQ(run_options.fake_lag, 0.25);
  parse({"--fake-loss", "150", "--roostfrequency", "5000", "--erode", "-1"});
  EXPECT_EQ(run_options.fake_loss, 100);
  EXPECT_EQ(derived.roost_rate, 1000);
  EXPECT_DOUBLE_EQ(run_options.erode, 0);
  parse({"--lod-scale", "0", "--max-detail-distance", "30", "--detail=0.5"});
  EXPECT_DOUBLE_EQ(derived.lod_scale, 0.000001);
  EXPECT_DOUBLE_EQ(run_options.max_detail_distance, 30);
  EXPECT_DOUBLE_EQ(run_options.detail_fade_distance, 35);
  EXPECT_DOUBLE_EQ(derived.terrain_detail, 0.5);

  parse({"--chase-center=1,2.5,-3", "--lock-fps", "30", "--width", "800", "--height=600"});
  EXPECT_DOUBLE_EQ(run_options.chase_center[0], 1);
  EXPECT_DOUBLE_EQ(run_options.chase_center[1], 2.5);
  EXPECT_DOUBLE_EQ(run_options.chase_center[2], -3);
  EXPECT_DOUBLE_EQ(run_options.lock_fps, 30);
  EXPECT_EQ(settings.xres, 800);
  EXPECT_EQ(settings.yres, 600);

  parse({"--depth", "24x", "--zdepth", "junk", "--draw-fps", "1", "--draw-render-stats=2"});
  EXPECT_EQ(run_options.color_depth, 24);
  EXPECT_EQ(run_options.depth_bits, 0);
  EXPECT_EQ(settings.draw_fps, 1);
  EXPECT_EQ(run_options.draw_render_stats, 2);
}

TEST(CommandLine, FlagsAndDefaults) {
  Parsed p = parse({});
  EXPECT_EQ(p.result, COMMAND_LINE_OK);
  EXPECT_TRUE(run_options.show_hud);
  EXPECT_TRUE(run_options.show_pause_text);
  EXPECT_EQ(run_options.color_depth, 16);
  EXPECT_EQ(run_options.depth_bits, 16);
  EXPECT_DOUBLE_EQ(run_options.chase_center[1], 2.52);
  EXPECT_EQ(run_options.ticks, -1);

  parse({"--nosound", "--hidden-hud", "--hidden-pause", "--warp", "--editor", "--learn",
         "--practice", "--glfinish", "--fugly", "--super-debug", "--headless", "--ticks", "500"});
  EXPECT_TRUE(run_options.no_sound);
  EXPECT_FALSE(run_options.show_hud);
  EXPECT_FALSE(run_options.show_pause_text);
  EXPECT_TRUE(run_options.warp);
  EXPECT_TRUE(run_options.editor);
  EXPECT_EQ(run_options.learn, 1);
  EXPECT_TRUE(run_options.practice);
  EXPECT_TRUE(run_options.glfinish);
  EXPECT_TRUE(run_options.fugly);
  EXPECT_EQ(debug_level, 2);
  EXPECT_TRUE(run_options.headless);
  EXPECT_EQ(run_options.ticks, 500);
  parse({"--learn", "--nolearn"});
  EXPECT_EQ(run_options.learn, 0);
}

TEST(CommandLine, FileArgumentsAndLoneDoubleDash) {
  Parsed p = parse({"--", "-demo.rtdemo"});
  EXPECT_EQ(p.result, COMMAND_LINE_OK);
  EXPECT_STREQ(run_options.demo_file, "-demo.rtdemo");
  p = parse({"race.rtdemo", "--nosound"});
  EXPECT_EQ(p.result, COMMAND_LINE_OK);
  EXPECT_STREQ(run_options.demo_file, "race.rtdemo");
  EXPECT_TRUE(run_options.no_sound);
  p = parse({"--", "--nosound"});
  EXPECT_STREQ(run_options.demo_file, "--nosound");
  EXPECT_FALSE(run_options.no_sound);
}

TEST(CommandLine, BikesOptionWarnsAndContinues) {
  testing::internal::CaptureStderr();
  Parsed p = parse({"--bikes", "4", "--nosound"});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "--bikes doesn't do anything anymore\n");
  EXPECT_EQ(p.result, COMMAND_LINE_OK);
  EXPECT_EQ(run_options.demo_file, nullptr);
  EXPECT_TRUE(run_options.no_sound);
}

TEST(CommandLine, ConnectStripsPrefixAndFillsHistory) {
  Parsed p = parse({"--connect", "rutmoto:example.org", "--track", "practice"});
  EXPECT_EQ(p.result, COMMAND_LINE_OK);
  EXPECT_STREQ(run_options.connect, "example.org");
  EXPECT_STREQ(settings.server_name_hist[0].text, "example.org");
  EXPECT_STREQ(run_options.track, "practice");  // dropped later by start-up
}

TEST(CommandLine, LineupCodesFillTheSlotsInOrder) {
  Parsed p = parse({"--track", "practice", "--lineup", "1,2,1042,0,3"});
  EXPECT_EQ(p.result, COMMAND_LINE_OK) << p.error;
  ASSERT_EQ(run_options.lineup_count, 5);
  const int32_t want[] = {1, 2, 1042, 0, 3};
  for (int32_t i = 0; i < 5; i++) EXPECT_EQ(run_options.lineup[i], want[i]);
  EXPECT_EQ(run_options.lineup[5], 0);
  // One code per slot at most.
  std::string many = "1";
  for (int32_t i = 1; i < MAX_BIKES; i++) many += ",2";
  p = parse({"--lineup", many.c_str()});
  EXPECT_EQ(p.result, COMMAND_LINE_OK);
  EXPECT_EQ(run_options.lineup_count, MAX_BIKES);
  many += ",2";
  p = parse({"--lineup", many.c_str()});
  EXPECT_EQ(p.result, COMMAND_LINE_EXIT_ERROR);
  EXPECT_EQ(p.error, "Bad arg for --lineup\n");
}
