// Settings, the "config" file, set-up files, presets and derived values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/files.h"
#include "core/messages.h"
#include "tests/test_helpers.h"

namespace {

// A fresh home and game-data directory with default settings.
class ConfigTest : public ::testing::Test {
 protected:
  TempDir home_root;
  TempDir data_root;
  ScopedEnv xdg{"XDG_DATA_HOME", home_root.path.c_str()};
  ScopedEnv rt_home{"RT_HOME", data_root.path.c_str()};

  void SetUp() override {
    file_list_free();
    settings_init_defaults();
    config_set_bike_hook(nullptr);
  }
  void TearDown() override {
    config_set_bike_hook(nullptr);
    file_list_free();
    settings_init_defaults();
  }

  std::string home() const { return home_root.path + "/Rutmoto/"; }

  // Feeds text to the reader as a file's content.
  static void read_text(const std::string& text) {
    DataFile* f = data_open_memory(text.data(), text.size(), false, false);
    ASSERT_NE(f, nullptr);
    config_read_from(f);
    data_close(f);
  }

  // The configuration as the writer emits it.
  std::string written() {
    config_write();
    return read_file(home() + "config");
  }
};

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

const char* last_message() { return message_history_line(message_history, 0); }

// ---------------------------------------------------------------- reading lines

struct LineCase {
  const char* name;
  std::string text;
  std::function<void()> check;
};

TEST_F(ConfigTest, ReadLineRules) {
  const std::string long_name(100, 'n');
  const std::string hist126(126, 'h');
  const std::string hist127(127, 'h');
  const std::vector<LineCase> cases = {
      {"laps clamped", "laps=99\n", [] { EXPECT_EQ(settings.laps.value, 50); }},
      {"fov clamped", "fov=5\n", [] { EXPECT_EQ(settings.fov.value, 10); }},
      {"negative clamped", "front_sprocket_adjustment=-5\n",
       [] { EXPECT_EQ(settings.front_sprocket_adjustment.value, -2); }},
      {"fraction kept", "rider_mass_distribution=0.45\n",
       [] { EXPECT_DOUBLE_EQ(settings.rider_mass_distribution.value, 0.45); }},
      {"number not converted", "laps=abc\n", [] { EXPECT_EQ(settings.laps.value, 5); }},
      {"not-a-number refused", "laps=nan\n", [] { EXPECT_EQ(settings.laps.value, 5); }},
      {"infinity clamped", "fov=inf\n", [] { EXPECT_EQ(settings.fov.value, 170); }},
      {"choice case matters", "skill=expert\n", [] { EXPECT_EQ(settings.skill.index, 0); }},
      {"choice exact", "skill=Expert\n", [] { EXPECT_EQ(settings.skill.index, 2); }},
      {"key case matters", "Laps=7\n", [] { EXPECT_EQ(settings.laps.value, 5); }},
      {"no equals sign", "laps 7\n", [] { EXPECT_EQ(settings.laps.value, 5); }},
      {"carriage return stripped", "laps=7\r\n", [] { EXPECT_EQ(settings.laps.value, 7); }},
      {"last line without newline", "laps=8", [] { EXPECT_EQ(settings.laps.value, 8); }},
      {"integer", "xres=1024\n", [] { EXPECT_EQ(settings.xres, 1024); }},
      {"integer with trailing text", "yres= 800x\n", [] { EXPECT_EQ(settings.yres, 800); }},
      {"integer not converted", "xres=wide\n", [] { EXPECT_EQ(settings.xres, 640); }},
      {"integer saturates", "demo_backups=99999999999\n",
       [] { EXPECT_EQ(settings.demo_backups, INT32_MAX); }},
      {"use_fbo Yes", "use_fbo=Yes\n",
       [] { EXPECT_STREQ(choice_text(&settings.render_texture), "Hardware/Direct"); }},
      {"use_fbo No", "use_fbo=No\n",
       [] { EXPECT_STREQ(choice_text(&settings.render_texture), "Hardware/Copy"); }},
      {"map_scale high", "map_scale=20\n", [] { EXPECT_EQ(settings.map_scale, 8.0f); }},
      {"map_scale low", "map_scale=0.01\n", [] { EXPECT_EQ(settings.map_scale, 0.125f); }},
      {"map_scale kept", "map_scale=2.5\n", [] { EXPECT_EQ(settings.map_scale, 2.5f); }},
      {"old bike name", "bike=kx250f\n",
       [] { EXPECT_STREQ(choice_text(&settings.bike), "kx250f(2008)"); }},
      {"unknown bike", "bike=bicycle\n",
       [] { EXPECT_STREQ(choice_text(&settings.bike), "450sxf(2016)"); }},
      {"gate slot", "slot05=Robot (4 stroke)\n",
       [] { EXPECT_EQ(settings.slots[5].index, SLOT_ROBOT_4_STROKE); }},
      {"gate slot out of range", "slot40=Robot\nslot5=Robot\n",
       [] {
         for (const ChoiceSetting& s : settings.slots) EXPECT_EQ(s.index, SLOT_EMPTY);
       }},
      {"track interned", "track=motoland\n",
       [] { EXPECT_EQ(settings.track, intern_string("motoland")); }},
      {"value with equals sign", "server_name=a=b\n",
       [] { EXPECT_STREQ(settings.server_name.text, "a=b"); }},
      {"rider name cut", "name=" + long_name + "\n",
       [&] { EXPECT_EQ(std::string(settings.name.text), long_name.substr(0, 63)); }},
      {"number cut", "number=12345\n", [] { EXPECT_STREQ(settings.number.text, "123"); }},
      {"history of 126 kept", "server_name_hist03=" + hist126 + "\n",
       [&] { EXPECT_EQ(std::string(settings.server_name_hist[3].text), hist126); }},
      {"history of 127 ignored", "server_name_hist03=" + hist127 + "\n",
       [] { EXPECT_STREQ(settings.server_name_hist[3].text, ""); }},
      {"ignored key", "ground_texture_distance=5\nfov=90\n",
       [] { EXPECT_EQ(settings.fov.value, 90); }},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    settings_init_defaults();
    read_text(c.text);
    c.check();
  }
}

struct BindingCase {
  const char* value;
  const char* key_name;  // nullptr: an axis binding
  const char* axis_name;
  float low, high;
};

TEST_F(ConfigTest, BindingForms) {
  const BindingCase cases[] = {
      {"(-1.000000,1.000000)Joystick1.axis[1]", nullptr, "Joystick1.axis[1]", -1, 1},
      {"(0.1,0.9)Pedals axis 2", nullptr, "Pedals axis 2", 0.1f, 0.9f},
      {"c", "c", nullptr, 0, 1},
      {"(k)c", "c", nullptr, 0, 1},
      {"  right ctrl", "right ctrl", nullptr, 0, 1},
      {"(k)(", "(", nullptr, 0, 1},
      {"(x,y)pad", "(x,y)pad", nullptr, 0, 1},
  };
  for (const BindingCase& c : cases) {
    SCOPED_TRACE(c.value);
    settings_init_defaults();
    read_text(std::string("front_brake_key=") + c.value + "\n");
    const KeyBinding& b = settings.bindings[BIND_FRONT_BRAKE];
    if (c.key_name) {
      EXPECT_STREQ(b.key_name, c.key_name);
      EXPECT_EQ(b.key_name, intern_string(c.key_name));
      EXPECT_EQ(b.axis_name, nullptr);
    } else {
      EXPECT_EQ(b.key_name, nullptr);
      EXPECT_STREQ(b.axis_name, c.axis_name);
    }
    EXPECT_FLOAT_EQ(b.low, c.low);
    EXPECT_FLOAT_EQ(b.high, c.high);
    EXPECT_EQ(b.key_code, 0);
    EXPECT_FALSE(axis_valid(b.axis));
  }
}

TEST_F(ConfigTest, EmptyBindingIsNotWritten) {
  read_text("throttle_key=\nclutch_key=(0,1)\n");
  EXPECT_EQ(settings.bindings[BIND_THROTTLE].key_name, nullptr);
  EXPECT_EQ(settings.bindings[BIND_CLUTCH].axis_name, nullptr);
  std::string text = written();
  EXPECT_EQ(text.find("throttle_key="), std::string::npos);
  EXPECT_EQ(text.find("clutch_key="), std::string::npos);
  EXPECT_NE(text.find("front_brake_key=(k)c\n"), std::string::npos);
}

TEST_F(ConfigTest, StabilityThenOwnAidValues) {
  read_text("stability=0\nleveling=35\n");
  EXPECT_EQ(settings.stability.value, 0);
  EXPECT_EQ(settings.leveling.value, 35);
  // The rest come from the preset for 0.
  EXPECT_EQ(settings.restricted_lock.value, 45);
  EXPECT_EQ(settings.roll_limit_factor.value, 0);
  EXPECT_EQ(settings.roll_limit_angle.value, 90);
  EXPECT_EQ(settings.roll_damping.value, 40);
  EXPECT_EQ(settings.land_damping_factor.value, 1);
  EXPECT_EQ(settings.land_damping_falloff.value, 0);
  EXPECT_EQ(settings.slow_damping_factor.value, 1);
  EXPECT_EQ(settings.direct_steering.value, 1);
}

TEST_F(ConfigTest, UnconvertedStabilityKeepsAids) {
  read_text("roll_damping=12\nstability=high\n");
  EXPECT_EQ(settings.stability.value, 100);
  EXPECT_EQ(settings.roll_damping.value, 12);
}

// A line longer than the reader's buffer must not leak its tail in as a line.
TEST_F(ConfigTest, OverlongLineTailIsSkipped) {
  std::string head = "server_name=";
  std::string line = head + std::string(1023 - head.size(), 'a') + "laps=7\n";
  read_text(line + "fov=90\n");
  EXPECT_EQ(settings.laps.value, 5);
  EXPECT_EQ(settings.fov.value, 90);
  EXPECT_EQ(strlen(settings.server_name.text), (size_t)SERVER_NAME_MAX);
}

TEST_F(ConfigTest, MissingFileKeepsDefaults) {
  config_read();
  EXPECT_EQ(settings.laps.value, 5);
  EXPECT_EQ(settings.xres, 640);
  EXPECT_STREQ(settings.bindings[BIND_THROTTLE].key_name, "x");
}

TEST_F(ConfigTest, ReadsHomeConfigOverGameData) {
  write_file(data_root.file("config"), "laps=3\nfov=60\n");
  write_file(home() + "config", "laps=9\n");
  config_read();
  EXPECT_EQ(settings.laps.value, 9);
  EXPECT_EQ(settings.fov.value, 110);
}

TEST_F(ConfigTest, BikeHookRebuildsGraphicsList) {
  static const char* const skins_a[] = {"a-1", "a-2", "a-3"};
  static std::string hooked;
  hooked.clear();
  choice_set_options(&settings.bike_texture, skins_a, 3);
  config_set_bike_hook([](const char* bike) { hooked = bike; });
  read_text("bike_texture=a-3\nbike=rmz250\n");
  EXPECT_EQ(hooked, "rmz250(2008)");
  EXPECT_EQ(settings.bike_texture.index, 0);
  read_text("bike=rs50kx\nbike_texture=a-2\n");
  EXPECT_EQ(hooked, "rs50kx");
  EXPECT_EQ(settings.bike_texture.index, 1);
  hooked.clear();
  read_text("bike=nosuchbike\n");
  EXPECT_EQ(hooked, "");
  EXPECT_EQ(settings.bike_texture.index, 1);
}

// ---------------------------------------------------------------- defaults and writing

// Every line the writer emits after defaults, in order, as the key tables give them.
std::vector<std::string> expected_default_lines() {
  std::vector<std::string> lines = {
      "xres=640",         "yres=480",      "draw_fps=0",       "draw_time=0", "draw_ping=1",
      "draw_speed=0",     "spy=0",         "track=rabbithill", "record=No",   "skill=Novice",
      "minutes=0.000000", "laps=5.000000",
  };
  char buf[64];
  for (int i = 0; i < 40; i++) {
    snprintf(buf, sizeof buf, "slot%02d=Empty", i);
    lines.push_back(buf);
  }
  const char* middle[] = {
      "ghost_fade_distance=10.000000",
      "time_trial_abort=Yes",
      "bike=450sxf(2016)",
      "name=Rider",
      "number=999",
      "rider_texture=",
      "head_texture=",
      "bike_texture=",
      "wheel_texture=",
      "stability=100.000000",
      "leveling=20.000000",
      "roll_damping=80.000000",
      "roll_limit_angle=35.000000",
      "roll_limit_factor=32.000000",
      "steering_damping=45.000000",
      "steering_strength=75.000000",
      "max_steering_force=400.000000",
      "direct_steering=0.000000",
      "slow_damping_speed=40.000000",
      "slow_damping_factor=2.000000",
      "land_damping_falloff=0.250000",
      "land_damping_factor=2.000000",
      "full_lock_speed=10.000000",
      "restricted_lock_speed=50.000000",
      "restricted_lock=5.000000",
      "arcade=Yes",
      "front_brake=Antilock",
      "rear_brake=Normal",
      "stop_wheelies=No",
      "auto_shift=Yes",
      "auto_dab=Yes",
      "auto_align=Yes",
      "sticky_dab=No",
      "reverse_steering=Yes",
      "lean_indicator=Yes",
      "auto_clutch_rpms=5000.000000",
      "brake_torque=250.000000",
      "rear_brake_torque=250.000000",
      "max_dab_speed=20.000000",
      "front_sprocket_adjustment=0.000000",
      "rear_sprocket_adjustment=0.000000",
      "fork_compression_adjustment=50.000000",
      "fork_slow_compression_adjustment=50.000000",
      "fork_rebound_adjustment=50.000000",
      "fork_slow_rebound_adjustment=50.000000",
      "fork_spring_rate_adjustment=50.000000",
      "fork_preload_adjustment=50.000000",
      "fork_oil_level_adjustment=50.000000",
      "shock_compression_adjustment=50.000000",
      "shock_slow_compression_adjustment=50.000000",
      "shock_rebound_adjustment=50.000000",
      "shock_slow_rebound_adjustment=50.000000",
      "shock_spring_rate_adjustment=50.000000",
      "shock_preload_adjustment=50.000000",
      "rider_yspring=50.000000",
      "rider_ydamping=50.000000",
      "rider_zspring=50.000000",
      "rider_zdamping=50.000000",
      "rider_mass_distribution=0.330000",
      "video_mode=Default Fullscreen",
      "server_name=race.rutmoto.net",
  };
  lines.insert(lines.end(), std::begin(middle), std::end(middle));
  for (int i = 0; i < 16; i++) {
    snprintf(buf, sizeof buf, "server_name_hist%02d=", i);
    lines.push_back(buf);
  }
  const char* tail[] = {
      "ground_detail=70.000000",
      "ground_texture_detail=9.000000",
      "ground_texture_dim=64x64",
      "ground_mipmaps=Yes",
      "texture_compress=No",
      "render_texture=Software",
      "use_shader=Yes",
      "roost_density=1000.000000",
      "lens_flare=Yes",
      "reflections=Yes",
      "hide_rider=No",
      "rigid_camera=No",
      "model_detail=50.000000",
      "model_texture_detail=9.000000",
      "fov=110.000000",
      "first_person_height=0.000000",
      "first_person_angle=0.000000",
      "third_person_height=5.000000",
      "third_person_distance=10.000000",
      "volume=10.000000",
      "comp_volume=8.000000",
      "playback_mode=Playback Only",
      "billboard_optimize_lookahead=8",
      "message_lines=5",
      "demo_backups=0",
      "map_scale=1.000000",
      "throttle_key=(k)x",
      "front_brake_key=(k)c",
      "rear_brake_key=(k)v",
      "left_key=(k)left",
      "right_key=(k)right",
      "clutch_key=(k)z",
      "upshift_key=(k)up",
      "downshift_key=(k)down",
      "dab_key=(k)right ctrl",
      "back_up_key=(k)b",
      "lean_forward_key=(k)n",
      "lean_backward_key=(k)m",
      "pause_key=(k)pause",
      "step_key=(k).",
      "rewind_key=(k)\\",
      "skip_key=(k)/",
      "prev_key=(k)[",
      "next_key=(k)]",
      "console_key=(k)t",
      "screenshot_key=(k)s",
  };
  lines.insert(lines.end(), std::begin(tail), std::end(tail));
  return lines;
}

TEST_F(ConfigTest, WriteAfterEmptyFileGivesEveryDefaultInOrder) {
  write_file(home() + "config", "");
  config_read();
  std::string text = written();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  std::vector<std::string> got = split_lines(text);
  std::vector<std::string> want = expected_default_lines();
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); i++) EXPECT_EQ(got[i], want[i]) << "line " << i;
}

TEST_F(ConfigTest, WriteUsesSelectedTrack) {
  read_text("track=motoland\n");
  EXPECT_NE(written().find("\ntrack=motoland\n"), std::string::npos);
  config_set_selected_track("dunes");
  EXPECT_NE(written().find("\ntrack=dunes\n"), std::string::npos);
}

TEST_F(ConfigTest, WriteFailureIsSilent) {
  // The home directory cannot be created under a regular file.
  TempDir other;
  write_file(other.file("blocker"), "x");
  ScopedEnv bad("XDG_DATA_HOME", other.file("blocker").c_str());
  file_list_free();
  config_write();
  EXPECT_FALSE(file_exists(other.file("blocker/Rutmoto/config")));
}

// Sets every value away from its default, writes, resets and reads back.
TEST_F(ConfigTest, WriteReadRoundTripKeepsEveryValue) {
  static const char* const skins[] = {"s-one", "s-two", "s-three"};
  ChoiceSetting* runtime[] = {&settings.rider_texture, &settings.head_texture,
                              &settings.bike_texture, &settings.wheel_texture};
  for (ChoiceSetting* c : runtime) choice_set_options(c, skins, 3);

  auto alter = [](const ConfigKey& k) {
    switch (k.kind) {
      case CONFIG_INT: *k.integer = 7000 + (int32_t)strlen(k.key); break;
      case CONFIG_NUMBER: {
        NumberSetting* n = k.number;
        double v = n->min + n->step;
        if (v == n->value) v += n->step;
        n->value = v;
        break;
      }
      case CONFIG_CHOICE:
        k.choice->index = k.choice->count - 1 == k.choice->index ? 0 : k.choice->count - 1;
        break;
      case CONFIG_TEXT: text_set(k.text, k.key); break;
      default: break;
    }
  };
  for (int32_t i = 0; i < CONFIG_KEY_COUNT; i++) alter(CONFIG_KEYS[i]);
  for (int32_t i = 0; i < SETUP_KEY_COUNT; i++) alter(SETUP_KEYS[i]);
  for (int i = 0; i < GATE_SLOT_COUNT; i++) settings.slots[i].index = i % SLOT_OPTION_COUNT;
  for (int i = 0; i < 5; i++) server_history_push(("host" + std::to_string(i)).c_str());
  settings.map_scale = 2.5f;
  config_set_selected_track("dunes");
  binding_set(&settings.bindings[BIND_THROTTLE], "(0.062500,0.937500)Pedals axis 1");
  binding_set(&settings.bindings[BIND_LEFT], "(-0.250000,-0.750000)Pad axis 0");
  binding_set(&settings.bindings[BIND_SCREENSHOT], "f12");
  binding_set(&settings.bindings[BIND_PAUSE], "");

  Settings before = settings;
  std::vector<std::string> texts;
  auto collect_texts = [&texts] {
    texts.clear();
    texts.push_back(settings.name.text);
    texts.push_back(settings.number.text);
    texts.push_back(settings.server_name.text);
    for (const TextSetting& t : settings.server_name_hist) texts.push_back(t.text);
  };
  collect_texts();
  std::vector<std::string> texts_before = texts;
  std::string first = written();

  settings_init_defaults();
  for (ChoiceSetting* c : runtime) choice_set_options(c, skins, 3);
  config_read();

  auto same_number = [](const NumberSetting& a, const NumberSetting& b) {
    EXPECT_NEAR(a.value, b.value, 1e-9);
  };
  for (int32_t t = 0; t < 2; t++) {
    const ConfigKey* table = t ? SETUP_KEYS : CONFIG_KEYS;
    int32_t count = t ? SETUP_KEY_COUNT : CONFIG_KEY_COUNT;
    for (int32_t i = 0; i < count; i++) {
      const ConfigKey& k = table[i];
      SCOPED_TRACE(k.key);
      // Offsets of the same field in the saved copy.
      auto offset = [](const void* p) { return (const char*)p - (const char*)&settings; };
      const char* saved = (const char*)&before;
      if (k.kind == CONFIG_INT) {
        EXPECT_EQ(*k.integer, *(const int32_t*)(saved + offset(k.integer)));
      }
      if (k.kind == CONFIG_NUMBER) {
        same_number(*k.number, *(const NumberSetting*)(saved + offset(k.number)));
      }
      if (k.kind == CONFIG_CHOICE) {
        EXPECT_EQ(k.choice->index, ((const ChoiceSetting*)(saved + offset(k.choice)))->index);
      }
    }
  }
  for (int i = 0; i < GATE_SLOT_COUNT; i++)
    EXPECT_EQ(settings.slots[i].index, i % SLOT_OPTION_COUNT);
  collect_texts();
  EXPECT_EQ(texts, texts_before);
  EXPECT_STREQ(settings.server_name_hist[0].text, "host4");
  EXPECT_EQ(settings.map_scale, 2.5f);
  EXPECT_STREQ(settings.track, "dunes");
  // The binding with neither key nor axis was not written, so it reads back
  // as its default.
  EXPECT_STREQ(settings.bindings[BIND_PAUSE].key_name, "pause");
  binding_set(&settings.bindings[BIND_PAUSE], "");
  for (int i = 0; i < BINDING_COUNT; i++) {
    SCOPED_TRACE(BINDING_KEYS[i].key);
    const KeyBinding& a = settings.bindings[i];
    const KeyBinding& b = before.bindings[i];
    EXPECT_EQ(a.key_name, b.key_name);
    EXPECT_EQ(a.axis_name, b.axis_name);
    EXPECT_FLOAT_EQ(a.low, b.low);
    EXPECT_FLOAT_EQ(a.high, b.high);
  }
  EXPECT_EQ(written(), first);
}

// ---------------------------------------------------------------- presets

struct StabilityCase {
  double stability;
  NumberSetting* setting;
  double want;
};

TEST_F(ConfigTest, StabilityPresetInterpolates) {
  const StabilityCase cases[] = {
      {100, &settings.direct_steering, 0},          {100, &settings.roll_damping, 80},
      {50, &settings.restricted_lock, 7.5},         {50, &settings.roll_damping, 65},
      {0, &settings.roll_limit_factor, 0},          {0, &settings.land_damping_factor, 1},
      {70, &settings.roll_limit_angle, 37.5},       {90, &settings.direct_steering, 0.5},
      {10, &settings.land_damping_falloff, 0.0625}, {150, &settings.roll_damping, 80},
      {-20, &settings.restricted_lock, 45},         {30, &settings.slow_damping_factor, 1.25},
  };
  for (const StabilityCase& c : cases) {
    SCOPED_TRACE(c.stability);
    settings_init_defaults();
    apply_stability_preset(c.stability);
    EXPECT_DOUBLE_EQ(c.setting->value, c.want);
    EXPECT_EQ(settings.leveling.value, 20);
    EXPECT_EQ(settings.max_steering_force.value, 400);
  }
}

TEST_F(ConfigTest, GraphicsPresetColumns) {
  EXPECT_EQ(graphics_preset_current(), 0);
  apply_graphics_preset(3);
  EXPECT_EQ(settings.ground_detail.value, 90);
  EXPECT_STREQ(choice_text(&settings.ground_texture_dim), "256x256");
  EXPECT_STREQ(choice_text(&settings.render_texture), "Shaders/Direct");
  EXPECT_EQ(graphics_preset_current(), 3);
  EXPECT_STREQ(graphics_preset_name(graphics_preset_current()), "High Detail");
  apply_graphics_preset(1);
  EXPECT_EQ(settings.roost_density.value, 0);
  EXPECT_STREQ(choice_text(&settings.use_shader), "No");
  EXPECT_EQ(graphics_preset_current(), 1);
  settings.model_detail.value = 26;
  EXPECT_EQ(graphics_preset_current(), -1);
  apply_graphics_preset(7);  // ignored
  EXPECT_EQ(settings.model_detail.value, 26);
}

// ---------------------------------------------------------------- derived values

struct DerivedCase {
  double ground_detail, ground_texture_detail, model_detail, model_texture_detail;
  const char* dim;
  double roost;
  double terrain_detail;
  int32_t ground_skip, texture_size, model_skip;
  double lod_scale, lod_bias;
  int32_t roost_rate;
};

TEST_F(ConfigTest, DerivedValues) {
  const DerivedCase cases[] = {
      {70, 9, 50, 9, "64x64", 1000, 0.125 / 70, 1, 64, 1, 1.0, 0, 1000},
      {100, 0, 0, 10, "1024x1024", 0, 0.00125, 10, 1024, 0, 8.0, 50, 0},
      {50, 10, 20, 0, "32x32", 505, 0.0025, 0, 32, 10, 1.6 * 1.6 * 1.6, 25, 505},
      {0, 3.5, 100, 4.5, "256x256", 10, HUGE_VAL, 6, 256, 5, 0.0, 0, 10},
      {10, 9, 75, 9, "128x128", 1000, 0.0125, 1, 128, 1, 0.5, 0, 1000},
  };
  for (const DerivedCase& c : cases) {
    SCOPED_TRACE(c.model_detail);
    settings.ground_detail.value = c.ground_detail;
    settings.ground_texture_detail.value = c.ground_texture_detail;
    settings.model_detail.value = c.model_detail;
    settings.model_texture_detail.value = c.model_texture_detail;
    ASSERT_TRUE(choice_set(&settings.ground_texture_dim, c.dim));
    settings.roost_density.value = c.roost;
    derive_runtime_settings();
    EXPECT_DOUBLE_EQ(derived.terrain_detail, c.terrain_detail);
    EXPECT_EQ(derived.ground_levels_skipped, c.ground_skip);
    EXPECT_EQ(derived.ground_texture_size, c.texture_size);
    EXPECT_EQ(derived.model_levels_skipped, c.model_skip);
    EXPECT_NEAR(derived.lod_scale, c.lod_scale, 1e-12);
    EXPECT_NEAR(derived.lod_bias, c.lod_bias, 1e-12);
    EXPECT_EQ(derived.roost_rate, c.roost_rate);
  }
  choice_set(&settings.texture_compress, "Always");
  choice_set(&settings.reflections, "No");
  derive_runtime_settings();
  EXPECT_EQ(derived.texture_compress_mode, 2);
  EXPECT_EQ(derived.reflections, 0);
}

// ---------------------------------------------------------------- setters

TEST_F(ConfigTest, ChoiceOptionsReplacementKeepsChosenText) {
  static const char* const modes_a[] = {"Default Fullscreen", "Windowed", "800x600"};
  static const char* const modes_b[] = {"Default Fullscreen", "Windowed", "1024x768", "800x600"};
  choice_set_options(&settings.video_mode, modes_a, 3);
  ASSERT_TRUE(choice_set(&settings.video_mode, "800x600"));
  choice_set_options(&settings.video_mode, modes_b, 4);
  EXPECT_EQ(settings.video_mode.index, 3);
  choice_set_options(&settings.video_mode, modes_b, 2);
  EXPECT_EQ(settings.video_mode.index, 0);
  choice_set_options(&settings.video_mode, nullptr, 0);
  EXPECT_STREQ(choice_text(&settings.video_mode), "");
  EXPECT_FALSE(choice_set(&settings.video_mode, "Windowed"));
}

TEST_F(ConfigTest, TextSetStopsAtLineBreak) {
  text_set(&settings.name, "Speedy\nlaps=1");
  EXPECT_STREQ(settings.name.text, "Speedy");
  text_set(&settings.number, nullptr);
  EXPECT_STREQ(settings.number.text, "");
}

TEST_F(ConfigTest, ServerHistoryPush) {
  server_history_push("alpha");
  server_history_push("alpha");
  server_history_push("");
  server_history_push(nullptr);
  EXPECT_STREQ(settings.server_name_hist[0].text, "alpha");
  EXPECT_STREQ(settings.server_name_hist[1].text, "");
  server_history_push("beta");
  EXPECT_STREQ(settings.server_name_hist[0].text, "beta");
  EXPECT_STREQ(settings.server_name_hist[1].text, "alpha");
  server_history_push("alpha");  // differs from the newest: pushed again
  EXPECT_STREQ(settings.server_name_hist[0].text, "alpha");
  EXPECT_STREQ(settings.server_name_hist[2].text, "alpha");
  for (int i = 0; i < 16; i++) server_history_push(("h" + std::to_string(i)).c_str());
  for (int i = 0; i < 16; i++)
    EXPECT_EQ(std::string(settings.server_name_hist[i].text), "h" + std::to_string(15 - i));
  std::string long_name(127, 'x');
  server_history_push(long_name.c_str());
  EXPECT_EQ(strlen(settings.server_name_hist[0].text), 126u);
  server_history_push(long_name.c_str());  // same as the stored cut entry
  EXPECT_STREQ(settings.server_name_hist[1].text, "h15");
}

// ---------------------------------------------------------------- set-up files

TEST_F(ConfigTest, SetupFileWriteAndRead) {
  choice_set(&settings.bike, "cr125");
  text_set(&settings.name, "Speedy");
  settings.fork_preload_adjustment.value = 71;
  settings.stability.value = 40;
  apply_stability_preset(40);
  settings.roll_damping.value = 13;
  settings.laps.value = 12;
  ASSERT_TRUE(setup_file_write("mine"));
  EXPECT_STREQ(last_message(), "Setup written");

  std::string text = read_file(home() + "setups/mine");
  std::vector<std::string> lines = split_lines(text);
  ASSERT_EQ((int)lines.size(), SETUP_KEY_COUNT);
  EXPECT_EQ(lines.front(), "bike=cr125");
  EXPECT_EQ(lines.back(), "rider_mass_distribution=0.330000");
  EXPECT_EQ(text.find("laps="), std::string::npos);

  settings_init_defaults();
  ASSERT_TRUE(setup_file_read("mine"));
  EXPECT_STREQ(last_message(), "Setup updated");
  EXPECT_STREQ(choice_text(&settings.bike), "cr125");
  EXPECT_STREQ(settings.name.text, "Speedy");
  EXPECT_EQ(settings.fork_preload_adjustment.value, 71);
  EXPECT_EQ(settings.stability.value, 40);
  EXPECT_EQ(settings.roll_damping.value, 13);
  EXPECT_EQ(settings.restricted_lock.value, 10);  // preset for 40
}

TEST_F(ConfigTest, SetupFileReadIgnoresOtherKeysAndFindsGameData) {
  write_file(data_root.file("setups/stock"), "laps=3\nstability=0\nauto_shift=No\nbogus\n");
  ASSERT_TRUE(setup_file_read("stock"));
  EXPECT_EQ(settings.laps.value, 5);
  EXPECT_EQ(settings.stability.value, 0);
  EXPECT_EQ(settings.roll_limit_factor.value, 0);
  EXPECT_STREQ(choice_text(&settings.auto_shift), "No");
}

TEST_F(ConfigTest, SetupFileErrors) {
  EXPECT_FALSE(setup_file_read("absent"));
  EXPECT_STREQ(last_message(), "Error reading setup");
  // "setups" exists as a plain file, so nothing can be written below it.
  write_file(home() + "setups", "x");
  EXPECT_FALSE(setup_file_write("mine"));
  EXPECT_STREQ(last_message(), "Error writing setup");
}

TEST_F(ConfigTest, SetupKeySetReportsSetupKeys) {
  EXPECT_TRUE(setup_key_set("stop_wheelies", "Front Only"));
  EXPECT_EQ(settings.stop_wheelies.index, STOP_WHEELIES_FRONT);
  EXPECT_TRUE(setup_key_set("max_dab_speed", "bad"));
  EXPECT_EQ(settings.max_dab_speed.value, 20);
  EXPECT_FALSE(setup_key_set("laps", "3"));
  EXPECT_FALSE(setup_key_set("front_brake_key", "q"));
  EXPECT_EQ(settings.laps.value, 5);
}

}  // namespace
