// Input: the event queue, key names and codes, aliases, devices and axes, and
// the headless back-end's input script.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/mem.h"
#include "platform/input.h"
#include "platform/platform.h"
#include "tests/test_helpers.h"

namespace {

ClockValue at(double seconds) { return clock_from_seconds(seconds); }

ClockValue at_us(int64_t micros) {
  return {(int32_t)(micros / 1000000), (int32_t)(micros % 1000000)};
}

int64_t micros_of(ClockValue t) { return (int64_t)t.seconds * 1000000 + t.micros; }

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform_use_headless();
    headless_clock_set({0, 0});
    headless_input_reset();
    input_reset();
  }
  void TearDown() override {
    headless_input_reset();
    input_reset();
    platform_use_headless();
  }

  // Every queued (and pollable) event, whatever its time.
  static std::vector<InputEvent> drain() {
    std::vector<InputEvent> events;
    InputEvent event;
    while (input_next(&event)) events.push_back(event);
    return events;
  }

  static std::vector<InputEvent> drain_due(ClockValue deadline) {
    std::vector<InputEvent> events;
    InputEvent event;
    while (input_next_due(deadline, &event)) events.push_back(event);
    return events;
  }
};

// Points the log at a temporary file for the scope of a test.
struct LogCapture {
  TempDir dir;
  std::string path = dir.file("log.txt");
  ScopedEnv env{"VOLG_LOGFILE", path.c_str()};
  LogCapture() { log_reset(); }
  ~LogCapture() { log_reset(); }
  std::string text() {
    log_reset();
    return read_file(path);
  }
};

// ---------------------------------------------------------------- key names

using InputKeyNames = InputTest;

struct NamedScanCode {
  const char* name;
  int32_t scan;
};

// The fixed keyboard names with their set-1 scan codes (0x100 extended).
const NamedScanCode KEYBOARD_TABLE[] = {
    {"Esc", 0x01},         {"1", 0x02},           {"2", 0x03},          {"3", 0x04},
    {"4", 0x05},           {"5", 0x06},           {"6", 0x07},          {"7", 0x08},
    {"8", 0x09},           {"9", 0x0A},           {"0", 0x0B},          {"-", 0x0C},
    {"=", 0x0D},           {"Backspace", 0x0E},   {"Tab", 0x0F},        {"Q", 0x10},
    {"W", 0x11},           {"E", 0x12},           {"R", 0x13},          {"T", 0x14},
    {"Y", 0x15},           {"U", 0x16},           {"I", 0x17},          {"O", 0x18},
    {"P", 0x19},           {"[", 0x1A},           {"]", 0x1B},          {"Enter", 0x1C},
    {"Left Ctrl", 0x1D},   {"A", 0x1E},           {"S", 0x1F},          {"D", 0x20},
    {"F", 0x21},           {"G", 0x22},           {"H", 0x23},          {"J", 0x24},
    {"K", 0x25},           {"L", 0x26},           {";", 0x27},          {"'", 0x28},
    {"`", 0x29},           {"Left Shift", 0x2A},  {"\\", 0x2B},         {"Z", 0x2C},
    {"X", 0x2D},           {"C", 0x2E},           {"V", 0x2F},          {"B", 0x30},
    {"N", 0x31},           {"M", 0x32},           {",", 0x33},          {".", 0x34},
    {"/", 0x35},           {"Right Shift", 0x36}, {"Keypad *", 0x37},   {"Space", 0x39},
    {"Caps Lock", 0x3A},   {"F1", 0x3B},          {"F2", 0x3C},         {"F3", 0x3D},
    {"F4", 0x3E},          {"F5", 0x3F},          {"F6", 0x40},         {"F7", 0x41},
    {"F8", 0x42},          {"F9", 0x43},          {"F10", 0x44},        {"Pause", 0x45},
    {"Keypad 7", 0x47},    {"Keypad 8", 0x48},    {"Keypad 9", 0x49},   {"Keypad -", 0x4A},
    {"Keypad 4", 0x4B},    {"Keypad 5", 0x4C},    {"Keypad 6", 0x4D},   {"Keypad +", 0x4E},
    {"Keypad 1", 0x4F},    {"Keypad 2", 0x50},    {"Keypad 3", 0x51},   {"Keypad 0", 0x52},
    {"Keypad .", 0x53},    {"F11", 0x57},         {"F12", 0x58},        {"Keypad Enter", 0x11C},
    {"Right Ctrl", 0x11D}, {"Keypad /", 0x135},   {"Num Lock", 0x145},  {"Home", 0x147},
    {"Up", 0x148},         {"Page Up", 0x149},    {"Left", 0x14B},      {"Right", 0x14D},
    {"End", 0x14F},        {"Down", 0x150},       {"Page Down", 0x151}, {"Insert", 0x152},
    {"Delete", 0x153},
};

TEST_F(InputKeyNames, EveryFixedNameHasItsCodeAndRoundTrips) {
  for (const NamedScanCode& key : KEYBOARD_TABLE) {
    SCOPED_TRACE(key.name);
    int32_t code = key_code(key.name);
    EXPECT_EQ(code, KEY_SCAN_BASE + key.scan);
    ASSERT_NE(key_name(code), nullptr);
    EXPECT_STREQ(key_name(code), key.name);
  }
  const NamedScanCode specials[] = {
      {"Close", 0xDEAD}, {"Mouse Left", 0x2000}, {"Mouse Middle", 0x2001}, {"Mouse Right", 0x2002}};
  for (const NamedScanCode& key : specials) {
    SCOPED_TRACE(key.name);
    EXPECT_EQ(key_code(key.name), key.scan);
    EXPECT_STREQ(key_name(key.scan), key.name);
  }
  // The published list holds the same names.
  EXPECT_EQ(key_fixed_name_count(),
            (int32_t)(sizeof KEYBOARD_TABLE / sizeof KEYBOARD_TABLE[0]) + 4);
  for (int32_t i = 0; i < key_fixed_name_count(); i++) {
    int32_t code = -1;
    const char* name = key_fixed_name(i, &code);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(key_code(name), code) << name;
  }
  EXPECT_EQ(key_fixed_name(key_fixed_name_count(), nullptr), nullptr);
}

TEST_F(InputKeyNames, NamesResolveExactlyLooselyAndAsScanCodes) {
  struct Case {
    const char* name;
    int32_t code;
  };
  const Case cases[] = {
      {"right ctrl", 0x1000 + 0x11D},
      {"Right_Ctrl", 0x1000 + 0x11D},
      {"RIGHT CTRL", 0x1000 + 0x11D},
      {"right\tctrl", 0x1000 + 0x11D},
      {"esc", 0x1001},
      {"close", 0xDEAD},
      {"mouse_left", 0x2000},
      {"keypad enter", 0x111C},
      {"page up", 0x1149},
      {"x", 0x102D},
      {"Space", 0x1039},
      {" ", 0x1039},
      {"0x1d", 0x1000 + 0x1D},
      {"0x1D", 0x1000 + 0x1D},
      {"0x0", 0x1000},
      {"0x1ff", 0x11FF},
      {"0x0001ff", 0x11FF},
      {"0x200", -1},
      {"0x1000000000000001d", -1},
      {"0x", -1},
      {"0x1g", -1},
      {"0x1d ", -1},
      {"", -1},
      {"no such key", -1},
      {"right ctr", -1},
      {"cursor-left", -1},  // aliases are not installed yet
      {"Pad.key[0]", -1},   // no such device
      {nullptr, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(null)");
    EXPECT_EQ(key_code(c.name), c.code);
  }
}

TEST_F(InputKeyNames, EveryScanCodeHasANameThatRoundTrips) {
  for (int32_t scan = 0; scan < KEY_SCAN_COUNT; scan++) {
    const char* name = key_name(KEY_SCAN_BASE + scan);
    ASSERT_NE(name, nullptr) << scan;
    EXPECT_EQ(key_code(name), KEY_SCAN_BASE + scan) << name;
  }
  EXPECT_STREQ(key_name(0x1054), "0x54");
  EXPECT_STREQ(key_name(0x11FF), "0x1ff");
  // The same text every time, and still valid after other calls.
  const char* first = key_name(0x1054);
  key_name(0x1055);
  EXPECT_STREQ(first, "0x54");
}

TEST_F(InputKeyNames, CodesWithoutNames) {
  for (int32_t code : {-1, 0, (int)'a', 255, 0x1200, 0x2003, 0xDEAC, 5 << 16})
    EXPECT_EQ(key_name(code), nullptr) << code;
}

TEST_F(InputKeyNames, AliasesResolveBeforeNames) {
  input_install_default_aliases(false);
  EXPECT_EQ(key_code("cursor-left"), 0x2000);
  EXPECT_EQ(key_code("cursor-middle"), 0x2001);
  EXPECT_EQ(key_code("Cursor-Right"), 0x2002);
  ASSERT_TRUE(input_alias("throttle", "right ctrl"));
  EXPECT_EQ(key_code("throttle"), 0x111D);
}

// A back-end with its own key labels: they are looked up first.
const char* test_scan_label(int32_t scan) {
  if (scan == 0x1D) return "Strg links";
  if (scan == 0x2D) return "";  // no label
  return nullptr;
}

TEST_F(InputKeyNames, PlatformLabelsComeFirst) {
  const InputOps labelled = {"labelled", nullptr, nullptr, test_scan_label};
  platform.input = &labelled;
  EXPECT_STREQ(key_name(0x101D), "Strg links");
  EXPECT_EQ(key_code("Strg links"), 0x101D);
  EXPECT_EQ(key_code("strg_links"), 0x101D);
  EXPECT_EQ(key_code("Left Ctrl"), 0x101D);  // the fixed name still works
  EXPECT_STREQ(key_name(0x102D), "X");       // empty labels are ignored
  platform.input = &headless_input_ops;
}

// ---------------------------------------------------------------- queue

using InputQueue = InputTest;

TEST_F(InputQueue, EventLateForATickWaitsForTheNext) {
  ClockValue deadline = at(2.0);
  ClockValue next_deadline = at_us(micros_of(deadline) + 1000000 / 128);
  input_queue_event(0x102D, true, at_us(micros_of(deadline) + 5000));
  InputEvent event;
  EXPECT_FALSE(input_next_due(deadline, &event));
  EXPECT_EQ(input_queue_count(), 1);
  ASSERT_TRUE(input_next_due(next_deadline, &event));
  EXPECT_EQ(event.code, 0x102D);
  EXPECT_EQ(event.pressed, 1);
  EXPECT_EQ(micros_of(event.time), micros_of(deadline) + 5000);
}

TEST_F(InputQueue, EventAtTheDeadlineIsDue) {
  input_queue_event(0x1001, false, at(1.5));
  InputEvent event;
  ASSERT_TRUE(input_next_due(at(1.5), &event));
  EXPECT_EQ(event.code, 0x1001);
  EXPECT_EQ(event.pressed, 0);
  EXPECT_FALSE(input_next_due(at(10), &event));
}

TEST_F(InputQueue, LaterQueuedEarlierEventsMoveBefore) {
  // (time, code) in queueing order; equal times keep their order.
  const std::pair<double, int32_t> queued[] = {{3.0, 30}, {1.0, 10}, {2.0, 20},
                                               {1.0, 11}, {5.0, 50}, {0.5, 5}};
  for (auto& q : queued) input_queue_event(q.second, true, at(q.first));
  std::vector<int32_t> codes;
  for (const InputEvent& e : drain()) codes.push_back(e.code);
  EXPECT_EQ(codes, (std::vector<int32_t>{5, 10, 11, 20, 30, 50}));
}

TEST_F(InputQueue, OrderHoldsAcrossTheRingsWrap) {
  InputEvent event;
  for (int i = 0; i < 200; i++) input_queue_event(i, true, at(i));
  for (int i = 0; i < 200; i++) ASSERT_TRUE(input_next(&event));
  for (int i = 0; i < 100; i++) input_queue_event(1000 + i, true, at(300 - i));
  std::vector<InputEvent> events = drain();
  ASSERT_EQ(events.size(), 100u);
  for (size_t i = 1; i < events.size(); i++)
    EXPECT_LT(micros_of(events[i - 1].time), micros_of(events[i].time));
}

TEST_F(InputQueue, The257thEventIsDropped) {
  for (int i = 0; i < 256; i++) input_queue_event(i, true, at(1 + i * 0.001));
  EXPECT_EQ(input_queue_count(), 256);
  input_queue_event(256, true, at(2));
  input_queue_event(257, true, at(0.5));  // earlier, but the queue is full
  EXPECT_EQ(input_queue_count(), 256);
  std::vector<InputEvent> events = drain();
  ASSERT_EQ(events.size(), 256u);
  for (int i = 0; i < 256; i++) EXPECT_EQ(events[i].code, i);
  // Room again once read.
  input_queue_event(7, true, at(3));
  EXPECT_EQ(input_queue_count(), 1);
}

TEST_F(InputQueue, NegativeCodesAndClear) {
  input_queue_event(-5, true, at(1));
  EXPECT_EQ(input_queue_count(), 0);
  input_queue_event(1, true, at(1));
  input_queue_event(2, true, at(1));
  input_queue_clear();
  InputEvent event;
  EXPECT_FALSE(input_next(&event));
}

// ---------------------------------------------------------------- devices

// A device kind that counts its calls and queues one button press per poll.
struct FakeDevice {
  int starts = 0;
  int stops = 0;
  int polls = 0;
  int closes = 0;
  bool refuse_start = false;
  bool live_axis = false;
};

FakeDevice fake;

bool fake_start(int32_t, void* user) {
  static_cast<FakeDevice*>(user)->starts++;
  return !static_cast<FakeDevice*>(user)->refuse_start;
}
void fake_stop(int32_t, void* user) { static_cast<FakeDevice*>(user)->stops++; }
void fake_poll(int32_t id, void* user) {
  static_cast<FakeDevice*>(user)->polls++;
  input_queue_event(key_device_button(id, 4), true, clock_now());
}
bool fake_read(int32_t, int32_t index, void* user, int32_t* value) {
  if (!static_cast<FakeDevice*>(user)->live_axis) return false;
  *value = 1000 + index;
  return true;
}
void fake_close(int32_t, void* user) { static_cast<FakeDevice*>(user)->closes++; }

const InputDeviceOps FAKE_OPS = {"fake", fake_start, fake_stop, fake_poll, fake_read, fake_close};

class InputDevices : public InputTest {
 protected:
  void SetUp() override {
    InputTest::SetUp();
    fake = FakeDevice();
  }
};

TEST_F(InputDevices, NamesAreCleanedAndMadeUnique) {
  struct Case {
    const char* product;
    const char* name;
  };
  const Case cases[] = {
      {"Logitech Dual Action", "LogitechDualAction"},
      {"Logitech Dual Action", "LogitechDualAction#2"},
      {"Logitech Dual Action", "LogitechDualAction#3"},
      {"Pad v1.2\tPro", "Padv12Pro"},
      {" . ", "Device"},
      {"", "Device#2"},
  };
  for (const Case& c : cases) {
    int32_t id = input_device_add(c.product, 2, 4, nullptr, nullptr);
    ASSERT_GT(id, 0) << c.product;
    ASSERT_NE(input_device_by_id(id), nullptr);
    EXPECT_STREQ(input_device_by_id(id)->name, c.name);
  }
  EXPECT_EQ(input_device_count(), 6);
  // Long product names are shortened so that button names stay readable.
  std::string long_name(200, 'q');
  int32_t id = input_device_add(long_name.c_str(), 1, 1, nullptr, nullptr);
  ASSERT_GT(id, 0);
  EXPECT_LT(strlen(input_device_by_id(id)->name), 64u);
  int32_t code = key_code((std::string(input_device_by_id(id)->name) + ".key[0]").c_str());
  EXPECT_EQ(code, key_device_button(id, 0));
  ASSERT_NE(key_name(code), nullptr);
  EXPECT_EQ(key_code(key_name(code)), code);
}

TEST_F(InputDevices, IdComesFromTheNameSums) {
  struct Case {
    std::string name;
    int32_t id;
  };
  const Case cases[] = {
      {"a", 97},
      {"ab", 97 + 256 * 98},
      {"Gamepad", 10376},
      {"LogitechDualAction#2", 30070},
      {std::string(1200, 'z'), 3568},  // both sums wrap
      {"\xff\x7f", 32767},
  };
  for (const Case& c : cases) EXPECT_EQ(input_device_name_id(c.name.c_str()), c.id) << c.name;
}

TEST_F(InputDevices, TakenIdsMoveOnAndWrapPastZero) {
  // Equal sums at even and odd positions give equal ids.
  EXPECT_EQ(input_device_add("abcd", 1, 0, nullptr, nullptr), 18116);
  EXPECT_EQ(input_device_add("cbad", 1, 0, nullptr, nullptr), 18117);
  EXPECT_EQ(input_device_add("\xff\x7f", 1, 0, nullptr, nullptr), 32767);
  // 32767 is taken; 0 would clash with keyboard and character codes.
  EXPECT_EQ(input_device_add("\x80\x3f\x7f\x40", 1, 0, nullptr, nullptr), 1);
}

TEST_F(InputDevices, IdenticalControllersGetDistinctButtonCodes) {
  int32_t first = input_device_add("USB Gamepad", 2, 10, nullptr, nullptr);
  int32_t second = input_device_add("USB Gamepad", 2, 10, nullptr, nullptr);
  EXPECT_STREQ(input_device_by_id(first)->name, "USBGamepad");
  EXPECT_STREQ(input_device_by_id(second)->name, "USBGamepad#2");
  EXPECT_EQ(key_code("USBGamepad.key[3]"), key_device_button(first, 3));
  EXPECT_EQ(key_code("USBGamepad#2 button 3"), key_device_button(second, 3));
  EXPECT_STREQ(key_name(key_device_button(second, 3)), "USBGamepad#2 button 3");
  EXPECT_EQ(key_code(key_name(key_device_button(first, 9))), key_device_button(first, 9));
}

TEST_F(InputDevices, ButtonNamesNeedAButtonTheDeviceHas) {
  int32_t id = input_device_add("Wheel", 3, 300, nullptr, nullptr);
  struct Case {
    const char* name;
    int32_t code;
  };
  const Case cases[] = {
      {"Wheel.key[0]", key_device_button(id, 0)},
      {"Wheel.key[255]", key_device_button(id, 255)},
      {"Wheel.key[256]", -1},  // beyond the codes devices have
      {"Wheel button 7", key_device_button(id, 7)},
      {"wheel.key[7]", key_device_button(id, 7)},
      {"Wheel.key[-1]", -1},
      {"Wheel.key[7]x", -1},
      {"Wheel.key[]", -1},
      {"Wheel.axis[0]", -1},
      {"Pedals.key[0]", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(key_code(c.name), c.code) << c.name;
  int32_t small = input_device_add("Small", 1, 4, nullptr, nullptr);
  EXPECT_EQ(key_code("Small.key[3]"), key_device_button(small, 3));
  EXPECT_EQ(key_code("Small.key[4]"), -1);
}

TEST_F(InputDevices, CountsAreLimited) {
  int32_t id = input_device_add("Big", 150, 600, nullptr, nullptr);
  ASSERT_GT(id, 0);
  EXPECT_EQ(input_device_by_id(id)->axes, MAX_DEVICE_AXES);
  EXPECT_EQ(input_device_by_id(id)->buttons, MAX_DEVICE_BUTTONS);
  EXPECT_EQ(input_device_add("Empty", 0, 0, nullptr, nullptr), -1);
  EXPECT_EQ(input_device_count(), 1);
}

TEST_F(InputDevices, AxisHandlesStartAndStopTheDevice) {
  int32_t id = input_device_add("Stick", 2, 4, &FAKE_OPS, &fake);
  AxisHandle a, b, bad;
  ASSERT_TRUE(axis_open("Stick.axis[0]", &a));
  EXPECT_EQ(a.device, id);
  EXPECT_EQ(a.index, 0);
  ASSERT_TRUE(axis_open("Stick axis 1", &b));
  EXPECT_EQ(b.index, 1);
  EXPECT_EQ(fake.starts, 1);
  EXPECT_EQ(input_device_by_id(id)->use_count, 2);

  EXPECT_FALSE(axis_open("Stick.axis[2]", &bad));
  EXPECT_FALSE(axis_valid(bad));
  EXPECT_FALSE(axis_open("Nothing.axis[0]", &bad));
  EXPECT_FALSE(axis_open("Stick", &bad));

  axis_close(a);
  EXPECT_EQ(fake.stops, 0);
  EXPECT_TRUE(input_device_by_id(id)->started);
  axis_close(b);
  EXPECT_EQ(fake.stops, 1);
  EXPECT_FALSE(input_device_by_id(id)->started);
  axis_close(b);  // one close too many changes nothing
  EXPECT_EQ(input_device_by_id(id)->use_count, 0);
  ASSERT_TRUE(axis_open("Stick.axis[1]", &b));
  EXPECT_EQ(fake.starts, 2);
}

TEST_F(InputDevices, DeviceThatFailsToStartGivesNoHandle) {
  fake.refuse_start = true;
  input_device_add("Broken", 2, 2, &FAKE_OPS, &fake);
  AxisHandle handle;
  EXPECT_FALSE(axis_open("Broken.axis[0]", &handle));
  EXPECT_EQ(key_code("Broken.key[0]"), -1);
  EXPECT_EQ(fake.polls, 0);
}

TEST_F(InputDevices, OnlyStartedDevicesArePolled) {
  int32_t id = input_device_add("Stick", 2, 8, &FAKE_OPS, &fake);
  InputEvent event;
  EXPECT_FALSE(input_next(&event));
  EXPECT_EQ(fake.polls, 0);
  // Naming a button starts the device for good.
  EXPECT_EQ(key_code("Stick.key[4]"), key_device_button(id, 4));
  EXPECT_EQ(fake.starts, 1);
  ASSERT_TRUE(input_next(&event));
  EXPECT_EQ(fake.polls, 1);
  EXPECT_EQ(event.code, key_device_button(id, 4));
  EXPECT_STREQ(key_name(event.code), "Stick button 4");
  // Polling happens only when nothing suitable is queued.
  input_queue_event(0x1001, true, clock_now());
  ASSERT_TRUE(input_next(&event));
  EXPECT_EQ(event.code, 0x1001);
  EXPECT_EQ(fake.polls, 1);
  // An axis opened and closed again leaves it running for its buttons.
  AxisHandle handle;
  ASSERT_TRUE(axis_open("Stick.axis[0]", &handle));
  axis_close(handle);
  EXPECT_EQ(fake.stops, 0);
}

TEST_F(InputDevices, AxisReadingsLiveOrStored) {
  int32_t id = input_device_add("Stick", 3, 0, &FAKE_OPS, &fake);
  AxisHandle handle;
  ASSERT_TRUE(axis_open("Stick.axis[2]", &handle));
  EXPECT_EQ(axis_read(handle), 0);
  input_device_set_axis(id, 2, -32767);
  EXPECT_EQ(axis_read(handle), -32767);
  fake.live_axis = true;
  EXPECT_EQ(axis_read(handle), 1002);
  EXPECT_EQ(axis_read(AXIS_NONE), 0);
  input_device_remove(id);
  EXPECT_EQ(fake.closes, 1);
  EXPECT_EQ(fake.stops, 1);
  EXPECT_EQ(axis_read(handle), 0);  // stale handle
  axis_close(handle);
}

TEST_F(InputDevices, CursorDeviceAndItsAliases) {
  input_devices_open(false);
  const InputDevice* cursor = input_device_find("cursor");
  ASSERT_NE(cursor, nullptr);
  EXPECT_EQ(cursor->axes, 2);
  input_set_cursor(320, -12);
  AxisHandle x, y;
  ASSERT_TRUE(axis_open("cursor-x", &x));
  ASSERT_TRUE(axis_open("cursor-y", &y));
  EXPECT_EQ(axis_read(x), 320);
  EXPECT_EQ(axis_read(y), -12);
  EXPECT_EQ(input_alias_target("joystick-a-x"), nullptr);
  EXPECT_STREQ(input_alias_target("mouse-x"), "Mouse.axis[0]");
  EXPECT_STREQ(input_alias_target("mouse-middle"), "Mouse.key[2]");
  // The cursor is not offered for binding; controller axes are.
  EXPECT_EQ(input_axis_list_count(), 0);
  input_device_add("Pad", 2, 0, nullptr, nullptr);
  ASSERT_EQ(input_axis_list_count(), 2);
  EXPECT_STREQ(input_axis_list_name(1), "Pad axis 1");
  EXPECT_EQ(input_axis_list_name(2), nullptr);
  AxisHandle pad;
  EXPECT_TRUE(axis_open(input_axis_list_name(0), &pad));
}

TEST_F(InputDevices, ControllerAliasesOnlyWithEnumeration) {
  input_devices_open(true);
  EXPECT_STREQ(input_alias_target("joystick-a-x"), "Joystick1.axis[0]");
  EXPECT_STREQ(input_alias_target("joystick-b-2"), "Joystick2.key[1]");
  EXPECT_STREQ(input_alias_target("cursor-left"), "Mouse Left");
}

TEST_F(InputDevices, ClosingLogsOnlyWhenDevicesExist) {
  LogCapture log;
  input_devices_close();
  EXPECT_EQ(log.text().find("Closing input devices"), std::string::npos);
  input_device_add("Stick", 1, 1, &FAKE_OPS, &fake);
  input_devices_open(false);
  EXPECT_EQ(input_device_count(), 2);
  input_devices_close();
  EXPECT_NE(log.text().find("Closing input devices\n"), std::string::npos);
  EXPECT_EQ(input_device_count(), 0);
  EXPECT_EQ(fake.closes, 1);
  // The aliases go with the devices and come back with the next open.
  EXPECT_EQ(input_alias_target("cursor-left"), nullptr);
  input_devices_open(false);
  EXPECT_EQ(key_code("cursor-left"), KEY_MOUSE_LEFT);
}

// ---------------------------------------------------------------- aliases

using InputAliases = InputTest;

TEST_F(InputAliases, SecondAliasIsRefusedAndLogged) {
  LogCapture log;
  ASSERT_TRUE(input_alias("boost", "x"));
  EXPECT_FALSE(input_alias("boost", "c"));
  EXPECT_FALSE(input_alias("BOOST", "v"));
  EXPECT_EQ(key_code("boost"), 0x102D);
  std::string text = log.text();
  EXPECT_NE(text.find("Second alias for 'boost' ('c') ignored\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Second alias for 'BOOST' ('v') ignored\n"), std::string::npos) << text;
}

TEST_F(InputAliases, DefaultAliasesInstallTwiceQuietly) {
  LogCapture log;
  input_install_default_aliases(true);
  input_install_default_aliases(true);
  EXPECT_EQ(log.text().find("Second alias"), std::string::npos);
}

TEST_F(InputAliases, OutOfMemoryIsLogged) {
  LogCapture log;
  log_printf("start\n");  // opens the log before the failing allocation
  mem_fail_next_for_tests(1);
  EXPECT_FALSE(input_alias("boost", "x"));
  mem_fail_next_for_tests(0);
  EXPECT_EQ(input_alias_target("boost"), nullptr);
  EXPECT_NE(log.text().find("Can't alias boost to x -- out of memory\n"), std::string::npos);
  EXPECT_TRUE(input_alias("boost", "x"));
}

// ---------------------------------------------------------------- script

using InputScript = InputTest;

std::string load_error(const char* text) {
  char error[200] = "unchanged";
  if (headless_input_load_script_text(text, error, sizeof error)) return "";
  return error;
}

TEST_F(InputScript, EachVerbQueuesItsEvents) {
  const char* text =
      "# a comment line\n"
      "\n"
      "0.5 press right ctrl\n"
      "  0.75\trelease   Right_Ctrl   # comment after the fields\n"
      "1 type Hi #1\n"
      "1.25 press close\n"
      "1.5 axis Joystick1.axis[1] -20000\n";
  ASSERT_EQ(load_error(text), "");
  EXPECT_EQ(headless_input_pending(), 8);
  headless_clock_set(at(2));
  std::vector<InputEvent> events = drain();
  struct Expected {
    int32_t code;
    int32_t pressed;
    int64_t time_us;
  };
  const Expected expected[] = {{0x111D, 1, 500000}, {0x111D, 0, 750000}, {'H', 1, 1000000},
                               {'i', 1, 1000000},   {' ', 1, 1000000},   {'#', 1, 1000000},
                               {'1', 1, 1000000},   {0xDEAD, 1, 1250000}};
  ASSERT_EQ(events.size(), sizeof expected / sizeof expected[0]);
  for (size_t i = 0; i < events.size(); i++) {
    EXPECT_EQ(events[i].code, expected[i].code) << i;
    EXPECT_EQ(events[i].pressed, expected[i].pressed) << i;
    EXPECT_EQ(micros_of(events[i].time), expected[i].time_us) << i;
  }
  EXPECT_EQ(headless_input_pending(), 0);
}

TEST_F(InputScript, TimesAreSecondsWithFractions) {
  struct Case {
    const char* time;
    int64_t micros;
  };
  const Case cases[] = {{"2", 2000000},         {"1.25", 1250000}, {".5", 500000},
                        {"3.", 3000000},        {"0.0000005", 1},  {"0.0000004", 0},
                        {"+1.000001", 1000001}, {"-0", 0},         {"0.9999996", 1000000}};
  for (const Case& c : cases) {
    std::string line = std::string(c.time) + " press x\n";
    ASSERT_EQ(load_error(line.c_str()), "") << c.time;
    headless_clock_set(at(100));
    std::vector<InputEvent> events = drain();
    ASSERT_EQ(events.size(), 1u) << c.time;
    EXPECT_EQ(micros_of(events[0].time), c.micros) << c.time;
  }
}

TEST_F(InputScript, UnsortedLinesAreSortedStably) {
  ASSERT_EQ(load_error("3 press c\n1 press a\n2 press b\n1 release a\n0.5 type z\n"), "");
  headless_clock_set(at(5));
  std::vector<std::pair<int32_t, int32_t>> got;
  for (const InputEvent& e : drain()) got.push_back({e.code, e.pressed});
  std::vector<std::pair<int32_t, int32_t>> want = {
      {'z', 1}, {0x101E, 1}, {0x101E, 0}, {0x1030, 1}, {0x102E, 1}};
  EXPECT_EQ(got, want);
}

TEST_F(InputScript, MalformedLinesFailWithTheirLineNumber) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"1 press foo", "input script line 1: unknown key 'foo'"},
      {"# c\n\n1 press x\nabc press x\n", "input script line 4: bad time 'abc'"},
      {"1.2.3 press x", "input script line 1: bad time '1.2.3'"},
      {"1e3 press x", "input script line 1: bad time '1e3'"},
      {"99999999999 press x", "input script line 1: bad time '99999999999'"},
      {". press x", "input script line 1: bad time '.'"},
      {"1 press x\n-1 press x", "input script line 2: negative time '-1'"},
      {"1 jump x", "input script line 1: unknown verb 'jump'"},
      {"1 press", "input script line 1: missing key name"},
      {"1 press # nothing", "input script line 1: missing key name"},
      {"1", "input script line 1: missing verb"},
      {"1 # comment", "input script line 1: missing verb"},
      {"1 type", "input script line 1: missing text"},
      {"1 type ", "input script line 1: missing text"},
      {"1 axis", "input script line 1: missing axis name"},
      {"1 axis Joystick1.axis[0]", "input script line 1: missing axis value"},
      {"1 axis Joystick1.axis[0] 1.5", "input script line 1: bad axis value '1.5'"},
      {"1 axis Joystick1.axis[0] -", "input script line 1: bad axis value '-'"},
      {"1 axis foo 5", "input script line 1: unknown axis 'foo'"},
      {"1 axis Joystick1.axis[100] 5",
       "input script line 1: axis index too large 'Joystick1.axis[100]'"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(load_error(c.text), c.error) << c.text;
    EXPECT_EQ(headless_input_pending(), 0) << c.text;
  }
}

TEST_F(InputScript, FailedLoadDropsThePreviousScript) {
  ASSERT_EQ(load_error("1 press x\n"), "");
  EXPECT_EQ(headless_input_pending(), 1);
  EXPECT_NE(load_error("1 press x\n2 press nokey\n"), "");
  headless_clock_set(at(5));
  EXPECT_TRUE(drain().empty());
}

TEST_F(InputScript, EventsReachTheQueueWhenTheClockPassesThem) {
  ASSERT_EQ(load_error("0.5 press x\n1.0 release x\n1.5 press c\n"), "");
  InputEvent event;
  EXPECT_FALSE(input_next(&event));
  headless_clock_set(at(0.9));
  std::vector<InputEvent> events = drain();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, 0x102D);
  headless_clock_set(at(1.0));
  events = drain();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].pressed, 0);
  EXPECT_EQ(headless_input_pending(), 1);
}

TEST_F(InputScript, TicksTakeTheirEventsByDeadline) {
  // A frame at t = 2 runs ticks with earlier deadlines; each takes only its
  // own events, the frame's last tick takes the rest.
  ASSERT_EQ(load_error("1.000 press x\n1.005 release x\n1.9 press c\n"), "");
  headless_clock_set(at(2));
  ClockValue first_tick = at(1.0);
  ClockValue second_tick = at_us(1000000 + 1000000 / 128);
  std::vector<InputEvent> events = drain_due(first_tick);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].pressed, 1);
  events = drain_due(second_tick);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].pressed, 0);
  events = drain_due(at(2));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].code, 0x102E);
}

TEST_F(InputScript, LargeScriptsLoseNothing) {
  std::string text;
  for (int i = 0; i < 1000; i++)
    text += std::to_string(i / 1000.0) + (i % 2 ? " release x\n" : " press x\n");
  text += "2 type " + std::string(600, 'k') + "\n";
  ASSERT_EQ(load_error(text.c_str()), "");
  headless_clock_set(at(0.4995));
  std::vector<InputEvent> events = drain();
  ASSERT_EQ(events.size(), 500u);  // only what is due
  headless_clock_set(at(3));
  std::vector<InputEvent> rest = drain();
  ASSERT_EQ(rest.size(), 1100u);
  for (size_t i = 0; i < 500; i++) EXPECT_EQ(rest[i].pressed, (int32_t)((i + 1) % 2)) << i;
  for (size_t i = 500; i < rest.size(); i++) ASSERT_EQ(rest[i].code, 'k');
}

TEST_F(InputScript, ScriptedAxisReadsByNameAndAlias) {
  ASSERT_EQ(load_error("2 axis Joystick1.axis[1] 40000\n"
                       "1 axis Joystick1.axis[1] -20000\n"
                       "1 axis Joystick1.axis[1] -21000\n"
                       "3 axis joystick-a-x 123  # the alias works before it is installed\n"
                       "1 axis cursor.axis[0] 640\n"),
            "");
  input_devices_open(true);
  AxisHandle by_name, by_alias, x, cursor_x, missing;
  ASSERT_TRUE(axis_open("Joystick1.axis[1]", &by_name));
  ASSERT_TRUE(axis_open("joystick-a-y", &by_alias));
  ASSERT_TRUE(axis_open("joystick-a-x", &x));
  ASSERT_TRUE(axis_open("cursor-x", &cursor_x));
  EXPECT_FALSE(axis_open("Joystick1.axis[2]", &missing));
  struct Case {
    double time;
    int32_t y;
    int32_t x;
    int32_t cursor;
  };
  const Case cases[] = {
      {0.5, 0, 0, 0},         {1.0, -21000, 0, 640}, {1.99, -21000, 0, 640}, {2.5, 32767, 0, 640},
      {3.0, 32767, 123, 640}, {1.5, -21000, 0, 640},  // the clock may be set back
  };
  for (const Case& c : cases) {
    headless_clock_set(at(c.time));
    EXPECT_EQ(axis_read(by_name), c.y) << c.time;
    EXPECT_EQ(axis_read(by_alias), c.y) << c.time;
    EXPECT_EQ(axis_read(x), c.x) << c.time;
    EXPECT_EQ(axis_read(cursor_x), c.cursor) << c.time;
  }
}

TEST_F(InputScript, ScriptedDevicesComeBackWithTheWindow) {
  ASSERT_EQ(load_error("0 axis Pedals.axis[3] -5\n"), "");
  input_devices_close();
  AxisHandle handle;
  EXPECT_FALSE(axis_open("Pedals.axis[3]", &handle));
  input_devices_open(false);
  ASSERT_TRUE(axis_open("Pedals axis 3", &handle));
  EXPECT_EQ(axis_read(handle), -5);
  EXPECT_EQ(input_device_find("Pedals")->axes, 4);
}

TEST_F(InputScript, LoadsFromAFile) {
  TempDir dir;
  write_file(dir.file("input.txt"), "0.25 press esc\r\n0.5 release esc\r\n");
  char error[200] = "";
  ASSERT_TRUE(headless_input_load_script(dir.file("input.txt").c_str(), error, sizeof error))
      << error;
  headless_clock_set(at(1));
  std::vector<InputEvent> events = drain();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].code, 0x1001);
  EXPECT_EQ(events[1].pressed, 0);

  EXPECT_FALSE(headless_input_load_script(dir.file("missing.txt").c_str(), error, sizeof error));
  EXPECT_NE(std::string(error).find("missing.txt"), std::string::npos);
  write_file(dir.file("binary"), std::string("1 press x\n\0", 11));
  EXPECT_FALSE(headless_input_load_script(dir.file("binary").c_str(), error, sizeof error));
}

}  // namespace
