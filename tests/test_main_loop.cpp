#include <gtest/gtest.h>

#include <string>

#include "core/config.h"
#include "core/main_loop.h"
#include "core/program.h"
#include "platform/input.h"
#include "platform/platform.h"
#include "tests/test_helpers.h"
#include "ui/controls.h"

namespace {

struct FakeBike {
  int unused;
};

struct KeyFixture : testing::Test {
  FakeBike bikes[3];
  void SetUp() override {
    platform_use_headless();
    run_options_init(run_options);
    program_init(program);
    settings_init_defaults();
    bindings_resolve();
    fixed_keys_resolve();
    program.session_loaded = true;
    program.menu_state = -1;
    for (int i = 0; i < 3; i++) {
      program.slots[i] = {reinterpret_cast<::Bike*>(&bikes[i]), ROBOT, nullptr};
      program.view_order[i] = 2 - i;  // race order: slot 2, 1, 0
    }
    program.view_order_count = 3;
    program.viewed_slot = 1;
  }
  void press(const char* name) {
    int32_t code = key_code(name);
    ASSERT_GE(code, 0) << name;
    handle_key_event({code, 1, {0, 0}});
    handle_key_event({code, 0, {0, 0}});
  }
  void type(char c) { handle_key_event({(int32_t)(unsigned char)c, 1, {0, 0}}); }
};

using KeyEvents = KeyFixture;

}  // namespace

TEST_F(KeyEvents, TabCyclesViewModes) {
  program.view_mode = RIDE_VIEW;
  ViewMode expected[] = {CHASE_VIEW, KEY_CAMERA_VIEW, RIDE_VIEW, CHASE_VIEW};
  for (ViewMode mode : expected) {
    type('\t');
    EXPECT_EQ(program.view_mode, mode);
  }
  run_options.editor = true;
  program.view_mode = RIDE_VIEW;
  type('\t');
  EXPECT_EQ(program.view_mode, EDITOR_VIEW);
  type('\t');
  EXPECT_EQ(program.view_mode, CHASE_VIEW);
  program.view_mode = SPECTATE_VIEW;
  type('\t');
  EXPECT_EQ(program.view_mode, RIDE_VIEW);
  program.view_mode = TITLE_VIEW;
  type('\t');
  EXPECT_EQ(program.view_mode, TITLE_VIEW);
}

TEST_F(KeyEvents, PauseAndStep) {
  // Stepping runs real ticks: no stand-in bikes in the slots for that.
  for (BikeSlot& slot : program.slots) slot = {nullptr, REPLAYED, nullptr};
  program.view_mode = RIDE_VIEW;
  press(".");  // Step while not paused: nothing
  EXPECT_EQ(program.tick, 0);
  press("pause");
  EXPECT_TRUE(program.paused);
  press(".");
  press(".");
  EXPECT_EQ(program.tick, 2);
  press("pause");
  EXPECT_FALSE(program.paused);
}

TEST_F(KeyEvents, EscapeOpensAndClosesTheMenuWhichTakesOtherKeys) {
  program.view_mode = RIDE_VIEW;
  press("esc");
  EXPECT_EQ(program.menu_state, 0);
  press("pause");  // goes to the menu
  EXPECT_FALSE(program.paused);
  press("esc");
  EXPECT_EQ(program.menu_state, -1);
  press("t");  // Chat
  EXPECT_EQ(program.menu_state, 16);
  program.menu_state = -1;
  program.view_mode = EDITOR_VIEW;
  press("t");
  EXPECT_EQ(program.menu_state, -1);
}

TEST_F(KeyEvents, CloseSetsTheQuitFlag) {
  handle_key_event({KEY_CLOSE, 1, {0, 0}});
  EXPECT_TRUE(program.quit);
}

TEST_F(KeyEvents, NextAndPreviousBikeFollowTheViewOrderAndClamp) {
  program.view_mode = CHASE_VIEW;
  press("]");
  EXPECT_EQ(program.viewed_slot, 0);
  press("]");
  EXPECT_EQ(program.viewed_slot, 0);  // clamped at the end
  press("[");
  press("[");
  press("[");
  EXPECT_EQ(program.viewed_slot, 2);
  // A local viewed bike may not switch unless spying.
  program.slots[2].kind = LOCAL_RIDER;
  press("]");
  EXPECT_EQ(program.viewed_slot, 2);
  settings.spy = 1;
  press("]");
  EXPECT_EQ(program.viewed_slot, 1);
}

TEST_F(KeyEvents, DigitsChooseTrackCameras) {
  program.view_mode = RIDE_VIEW;
  program.track_camera = 3;
  type('5');  // the track has no cameras: back to the bike camera
  EXPECT_EQ(program.track_camera, -1);
}

TEST_F(KeyEvents, TitleViewIgnoresRidingKeys) {
  program.view_mode = TITLE_VIEW;
  press("pause");
  EXPECT_FALSE(program.paused);
}

TEST_F(KeyEvents, ViewModeFixUp) {
  program.view_mode = TITLE_VIEW;
  view_mode_fix_up();
  EXPECT_EQ(program.view_mode, RIDE_VIEW);
  program.slots[1].kind = LOCAL_RIDER;
  program.view_mode = KEY_CAMERA_VIEW;
  view_mode_fix_up();
  EXPECT_EQ(program.view_mode, RIDE_VIEW);
  program.viewed_slot = -1;
  view_mode_fix_up();
  EXPECT_EQ(program.view_mode, KEY_CAMERA_VIEW);
  program.session_loaded = false;
  view_mode_fix_up();
  EXPECT_EQ(program.view_mode, TITLE_VIEW);
}

TEST(Screenshots, NextNumberFollowsTheHighestExisting) {
  TempDir dir;
  EXPECT_EQ(next_screenshot_number(dir.path.c_str()), 1);
  for (const char* name : {"screenshot001.png", "screenshot017.png", "screenshotx.png",
                           "screenshot5", "other042.png"})
    write_file(dir.file(name), "x");
  EXPECT_EQ(next_screenshot_number(dir.path.c_str()), 18);
}

#include "core/loading.h"

TEST(Loading, SpinnerGrowsOneDotPerShownCallAndWaitsAnEighthSecond) {
  platform_use_headless();
  loading_reset_stats();
  const char* expected[] = {"Loading", "Loading.", "Loading..", "Loading...", "Loading"};
  for (const char* text : expected) {
    loading_spinner("Loading");
    EXPECT_STREQ(loading_last_text(), text);
    loading_spinner("Loading");  // again within 0.125 s: nothing
    EXPECT_STREQ(loading_last_text(), text);
    headless_clock_advance_us(125000);
  }
  log_loading_message_reset_spinner("Reading");
  loading_spinner("Reading");
  EXPECT_STREQ(loading_last_text(), "Reading");
  loading_done(std::string(100, 'a').c_str());
  EXPECT_EQ(std::string(loading_last_text()), std::string(64, 'a') + "...done");
}

TEST(Loading, KeepsTheLongestGapAndTheMessageBeforeIt) {
  platform_use_headless();
  loading_reset_stats();
  show_loading_message("first");
  headless_clock_advance_us(300000);
  show_loading_message("second");
  headless_clock_advance_us(900000);
  show_loading_message("third");
  headless_clock_advance_us(100000);
  show_loading_message("fourth");
  EXPECT_NEAR(loading_max_delay(), 0.9, 1e-9);
  EXPECT_STREQ(loading_max_delay_text(), "second");
}

TEST(Loading, MessagesDrainInputAndClearControls) {
  platform_use_headless();
  input_queue_clear();
  input_queue_event(key_code("x"), true, clock_now());
  program.controls[THROTTLE] = 1;
  show_loading_message("Loading track");
  EXPECT_EQ(input_queue_count(), 0);
  EXPECT_EQ(program.controls[THROTTLE], 0);
}
