// Bindings, the nine control values and key/axis capture.
#include <gtest/gtest.h>

#include <string>

#include "core/config.h"
#include "core/mem.h"
#include "platform/input.h"
#include "ui/controls.h"

namespace {

// Default settings, no devices, and a two-axis "Pedals" device whose readings
// the test sets.
class ControlsTest : public ::testing::Test {
 protected:
  int32_t pedals = -1;
  float values[CONTROL_SLOT_COUNT] = {};

  void SetUp() override {
    capture_cancel();
    input_reset();
    settings_init_defaults();
    pedals = input_device_add("Pedals", 2, 0, nullptr, nullptr);
    ASSERT_GT(pedals, 0);
  }
  void TearDown() override {
    capture_cancel();
    bindings_release();
    input_reset();
    settings_init_defaults();
  }

  void set_axis(int32_t index, int32_t raw) { input_device_set_axis(pedals, index, raw); }
  int32_t pedal_uses() const { return input_device_by_id(pedals)->use_count; }
  const float* form() {
    controls_form(values);
    return values;
  }
  static int32_t code_of(BindingIndex i) { return settings.bindings[i].key_code; }
};

TEST_F(ControlsTest, DefaultKeysResolve) {
  bindings_resolve();
  for (int i = 0; i < BINDING_COUNT; i++) {
    SCOPED_TRACE(BINDING_KEYS[i].key);
    EXPECT_EQ(settings.bindings[i].key_code, key_code(BINDING_KEYS[i].def));
    EXPECT_GT(settings.bindings[i].key_code, 0);
  }
}

// Each control key drives its own slot with its own sign, and only that slot.
TEST_F(ControlsTest, EachControlKeyDrivesItsSlot) {
  struct Case {
    BindingIndex binding;
    ControlSlot slot;
    float value;
  };
  const Case cases[] = {
      {BIND_THROTTLE, THROTTLE, 1},     {BIND_FRONT_BRAKE, FRONT_BRAKE, 1},
      {BIND_REAR_BRAKE, REAR_BRAKE, 1}, {BIND_LEFT, STEER, 1},
      {BIND_RIGHT, STEER, -1},          {BIND_CLUTCH, CLUTCH, 1},
      {BIND_UPSHIFT, SHIFT, 1},         {BIND_DOWNSHIFT, SHIFT, -1},
      {BIND_DAB, SIT_DAB, 1},           {BIND_BACK_UP, BACK_UP, 1},
      {BIND_LEAN_FORWARD, LEAN, -1},    {BIND_LEAN_BACKWARD, LEAN, 1},
  };
  bindings_resolve();
  for (const Case& c : cases) {
    SCOPED_TRACE(BINDING_KEYS[c.binding].key);
    binding_key_event(code_of(c.binding), true);
    form();
    for (int s = 0; s < CONTROL_SLOT_COUNT; s++) EXPECT_EQ(values[s], s == c.slot ? c.value : 0);
    binding_key_event(code_of(c.binding), false);
    form();
    for (int s = 0; s < CONTROL_SLOT_COUNT; s++) EXPECT_EQ(values[s], 0);
  }
}

TEST_F(ControlsTest, OppositeKeysCancel) {
  bindings_resolve();
  binding_key_event(code_of(BIND_LEFT), true);
  binding_key_event(code_of(BIND_RIGHT), true);
  binding_key_event(code_of(BIND_LEAN_FORWARD), true);
  binding_key_event(code_of(BIND_LEAN_BACKWARD), true);
  form();
  EXPECT_EQ(values[STEER], 0);
  EXPECT_EQ(values[LEAN], 0);
  binding_key_event(code_of(BIND_LEFT), false);
  EXPECT_EQ(form()[STEER], -1);
}

TEST_F(ControlsTest, FormOverwritesPreviousValues) {
  for (float& v : values) v = 5;
  form();
  for (float v : values) EXPECT_EQ(v, 0);
}

TEST_F(ControlsTest, CommandKeysDoNotDriveControls) {
  bindings_resolve();
  // Bind pause to the throttle's key: only the throttle reacts.
  binding_set(&settings.bindings[BIND_PAUSE], "x");
  bindings_resolve();
  binding_key_event(key_code("x"), true);
  form();
  EXPECT_EQ(values[THROTTLE], 1);
  EXPECT_EQ(settings.bindings[BIND_PAUSE].value, 0);
  EXPECT_TRUE(binding_is_key(&settings.bindings[BIND_PAUSE], key_code("x")));
  EXPECT_FALSE(binding_is_key(&settings.bindings[BIND_PAUSE], key_code("c")));
}

TEST_F(ControlsTest, AxisRangeMapsRawReadings) {
  ASSERT_TRUE(binding_set(&settings.bindings[BIND_THROTTLE], "(0.1,0.9)Pedals axis 0"));
  bindings_resolve();
  ASSERT_TRUE(axis_valid(settings.bindings[BIND_THROTTLE].axis));
  struct Case {
    int32_t raw;
    float want;
  };
  const Case cases[] = {
      {-32767, 0}, {0, 0}, {3276, 0}, {16384, 0.5f}, {29492, 1}, {32767, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    set_axis(0, c.raw);
    EXPECT_NEAR(form()[THROTTLE], c.want, 1e-6);
  }
  // Just inside the range the value is no longer clamped.
  set_axis(0, 3277);
  EXPECT_GT(form()[THROTTLE], 0);
  set_axis(0, 29491);
  EXPECT_LT(form()[THROTTLE], 1);
}

TEST_F(ControlsTest, ReversedAxisRange) {
  ASSERT_TRUE(binding_set(&settings.bindings[BIND_LEFT], "(0.9,0.1)Pedals axis 1"));
  bindings_resolve();
  set_axis(1, 29492);
  EXPECT_EQ(form()[STEER], 0);
  set_axis(1, 16384);
  EXPECT_NEAR(form()[STEER], 0.5, 1e-6);
  set_axis(1, 0);
  EXPECT_EQ(form()[STEER], 1);
}

TEST_F(ControlsTest, DegenerateAxisRangeIsAStep) {
  ASSERT_TRUE(binding_set(&settings.bindings[BIND_CLUTCH], "(0.5,0.5)Pedals axis 0"));
  bindings_resolve();
  set_axis(0, 8192);
  EXPECT_EQ(form()[CLUTCH], 0);
  set_axis(0, 24576);
  EXPECT_EQ(form()[CLUTCH], 1);
}

TEST_F(ControlsTest, UnknownNamesStayUnresolved) {
  binding_set(&settings.bindings[BIND_THROTTLE], "no such key");
  binding_set(&settings.bindings[BIND_FRONT_BRAKE], "(0,1)Nothing axis 0");
  binding_set(&settings.bindings[BIND_REAR_BRAKE], "(0,1)Pedals axis 7");
  bindings_resolve();
  EXPECT_EQ(settings.bindings[BIND_THROTTLE].key_code, 0);
  EXPECT_FALSE(axis_valid(settings.bindings[BIND_FRONT_BRAKE].axis));
  EXPECT_FALSE(axis_valid(settings.bindings[BIND_REAR_BRAKE].axis));
  for (int32_t code : {0, -1, key_code("x")}) binding_key_event(code, true);
  form();
  EXPECT_EQ(values[THROTTLE], 0);
  EXPECT_EQ(values[FRONT_BRAKE], 0);
  EXPECT_EQ(values[REAR_BRAKE], 0);
}

TEST_F(ControlsTest, ResolveAndReleaseBalanceAxisUses) {
  binding_set(&settings.bindings[BIND_THROTTLE], "(0,1)Pedals axis 0");
  binding_set(&settings.bindings[BIND_SKIP], "(0,1)Pedals axis 1");  // opened, never read
  bindings_resolve();
  EXPECT_EQ(pedal_uses(), 2);
  bindings_resolve();  // again: no handle is leaked
  EXPECT_EQ(pedal_uses(), 2);
  bindings_release();
  EXPECT_EQ(pedal_uses(), 0);
  EXPECT_FALSE(axis_valid(settings.bindings[BIND_THROTTLE].axis));
}

// ---------------------------------------------------------------- capture

constexpr double TICK = 1.0 / 128;

TEST_F(ControlsTest, CaptureKey) {
  bindings_resolve();
  KeyBinding* b = &settings.bindings[BIND_THROTTLE];
  capture_start(b);
  ASSERT_TRUE(capture_active());
  EXPECT_EQ(pedal_uses(), 2);  // every offered axis is watched
  double t = 0;
  capture_update(t);
  t = 0.5;
  capture_update(t);
  int32_t q = key_code("q");
  ASSERT_GT(q, 0);
  capture_key(q);
  capture_key(key_code("w"));  // later presses are ignored
  capture_update(t);
  // Held back for a quarter second after the press.
  for (int i = 1; i <= 32; i++) capture_update(t + i * TICK);
  EXPECT_TRUE(capture_active());
  EXPECT_STREQ(b->key_name, "x");
  capture_update(t + 33 * TICK);
  EXPECT_FALSE(capture_active());
  EXPECT_EQ(b->key_code, q);
  EXPECT_EQ(b->key_name, intern_string(key_name(q)));
  EXPECT_EQ(b->axis_name, nullptr);
  EXPECT_EQ(pedal_uses(), 0);
  binding_key_event(q, true);
  EXPECT_EQ(form()[THROTTLE], 1);
}

// A stray key press followed at once by a pedal sweep binds the pedal.
TEST_F(ControlsTest, CapturePedalAfterKey) {
  binding_set(&settings.bindings[BIND_REAR_BRAKE], "(0,1)Pedals axis 1");
  bindings_resolve();
  EXPECT_EQ(pedal_uses(), 1);
  KeyBinding* b = &settings.bindings[BIND_REAR_BRAKE];
  set_axis(0, 0);
  capture_start(b);
  double t = 10;
  capture_update(t);
  capture_key(key_code("z"));
  capture_update(t += TICK);
  for (int i = 1; i <= 13; i++) {  // sweep to 0.8 over 0.1 s
    set_axis(0, (int32_t)(0.8 * 32768 * i / 13));
    capture_update(t += TICK);
  }
  double swept = t;
  while (capture_active() && t < swept + 1) capture_update(t += TICK);
  EXPECT_FALSE(capture_active());
  EXPECT_GT(t - swept, 0.25);
  EXPECT_EQ(b->key_name, nullptr);
  EXPECT_EQ(b->key_code, 0);
  EXPECT_STREQ(b->axis_name, "Pedals axis 0");
  ASSERT_TRUE(axis_valid(b->axis));
  EXPECT_EQ(b->axis.index, 0);
  EXPECT_NEAR(b->low, 0.8 * 0.0625, 1e-4);
  EXPECT_NEAR(b->high, 0.8 * 0.9375, 1e-4);
  // Only the captured axis stays open; the binding's old axis was released.
  EXPECT_EQ(pedal_uses(), 1);
  EXPECT_EQ(form()[REAR_BRAKE], 1);
  set_axis(0, 0);
  EXPECT_EQ(form()[REAR_BRAKE], 0);
  set_axis(0, (int32_t)(0.4 * 32768));
  EXPECT_NEAR(form()[REAR_BRAKE], (0.4 - 0.05) / 0.7, 1e-3);
}

// An axis resting high and pulled down gets low above high.
TEST_F(ControlsTest, CaptureAxisMovedDownward) {
  KeyBinding* b = &settings.bindings[BIND_CLUTCH];
  set_axis(1, 29491);  // rest 0.9
  capture_start(b);
  double t = 0;
  capture_update(t);
  set_axis(1, 3277);  // 0.1
  capture_update(t += TICK);
  while (capture_active() && t < 2) capture_update(t += TICK);
  ASSERT_FALSE(capture_active());
  EXPECT_STREQ(b->axis_name, "Pedals axis 1");
  EXPECT_GT(b->low, b->high);
  EXPECT_NEAR(b->low, 0.9 - 0.8 * 0.0625, 1e-3);
  EXPECT_NEAR(b->high, 0.9 - 0.8 * 0.9375, 1e-3);
  EXPECT_EQ(form()[CLUTCH], 1);
  set_axis(1, 29491);
  EXPECT_EQ(form()[CLUTCH], 0);
}

TEST_F(ControlsTest, CaptureNeedsHalfTravel) {
  KeyBinding* b = &settings.bindings[BIND_CLUTCH];
  capture_start(b);
  set_axis(0, 16000);  // under half travel
  for (double t = 0; t < 2; t += TICK) capture_update(t);
  EXPECT_TRUE(capture_active());
  EXPECT_STREQ(b->key_name, "z");
}

TEST_F(ControlsTest, CaptureCancelLeavesBinding) {
  bindings_resolve();
  KeyBinding* b = &settings.bindings[BIND_DAB];
  int32_t old_code = b->key_code;
  capture_start(b);
  capture_key(key_code("q"));
  capture_update(0);
  set_axis(1, -30000);
  capture_update(TICK);
  capture_cancel();
  EXPECT_FALSE(capture_active());
  EXPECT_STREQ(b->key_name, "right ctrl");
  EXPECT_EQ(b->key_code, old_code);
  EXPECT_EQ(pedal_uses(), 0);
  for (double t = 0; t < 1; t += TICK) capture_update(t);  // no effect once ended
  EXPECT_STREQ(b->key_name, "right ctrl");
}

// An axis that fails to open is ignored; the others are still watched.
TEST_F(ControlsTest, CaptureSkipsFailingAxes) {
  static const InputDeviceOps broken = {
      "broken", [](int32_t, void*) { return false; }, nullptr, nullptr, nullptr, nullptr};
  ASSERT_GT(input_device_add("Broken", 3, 0, &broken, nullptr), 0);
  KeyBinding* b = &settings.bindings[BIND_BACK_UP];
  capture_start(b);
  double t = 0;
  capture_update(t);
  set_axis(1, 30000);
  while (capture_active() && t < 2) capture_update(t += TICK);
  EXPECT_STREQ(b->axis_name, "Pedals axis 1");
}

TEST_F(ControlsTest, NewCaptureEndsThePreviousOne) {
  capture_start(&settings.bindings[BIND_THROTTLE]);
  capture_start(&settings.bindings[BIND_CLUTCH]);
  EXPECT_EQ(capture_binding(), &settings.bindings[BIND_CLUTCH]);
  EXPECT_EQ(pedal_uses(), 2);
  capture_cancel();
  EXPECT_EQ(pedal_uses(), 0);
}

}  // namespace
