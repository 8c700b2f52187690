// User settings: the records the menus edit, the "config" file that keeps them
// between runs, bike set-up files, the graphics and stability presets and the
// run-time values derived from the settings at start-up.
//
// Lifetime: `settings` and `derived` are program-wide and live for the whole
// run. Option lists of choices point at static tables or at run-time lists
// owned by their builder (video modes, skins, bike names), which must outlive
// the setting's use of them (they are freed after the configuration is
// written at shutdown).
#pragma once

#include <cstdint>

#include "platform/input.h"

struct DataFile;

struct ChoiceSetting {
  const char* label;
  const char* const* options;
  int32_t count;
  int32_t index;
};

struct NumberSetting {
  const char* label;
  double value, step, min, max;
};

// Text with a fixed buffer of max_length + 1 characters.
struct TextSetting {
  const char* label;
  int32_t max_length;
  char* text;
};

// A key or an analogue axis with its calibrated range. Names are interned.
struct KeyBinding {
  const char* label;
  const char* key_name;   // nullptr when not a key binding
  int32_t key_code;       // 0 while unresolved
  const char* axis_name;  // nullptr when not an axis binding
  AxisHandle axis;        // open handle, or none
  float low, high;
  float value;  // current value (0 or 1 for keys)
};

// The twenty bindings in the order of the controls menu.
enum BindingIndex : int32_t {
  BIND_THROTTLE,
  BIND_FRONT_BRAKE,
  BIND_REAR_BRAKE,
  BIND_LEFT,
  BIND_RIGHT,
  BIND_CLUTCH,
  BIND_UPSHIFT,
  BIND_DOWNSHIFT,
  BIND_DAB,
  BIND_BACK_UP,
  BIND_LEAN_FORWARD,
  BIND_LEAN_BACKWARD,
  BIND_PAUSE,
  BIND_STEP,
  BIND_REWIND,
  BIND_SKIP,
  BIND_PREV,
  BIND_NEXT,
  BIND_CHAT,
  BIND_SCREENSHOT,
  BINDING_COUNT
};
// Bindings below this index drive the nine control values; the rest are commands.
constexpr int32_t CONTROL_BINDING_COUNT = BIND_PAUSE;

constexpr int32_t GATE_SLOT_COUNT = 40;
constexpr int32_t SERVER_HISTORY_COUNT = 16;
constexpr int32_t SERVER_NAME_MAX = 127;
constexpr int32_t SERVER_HISTORY_NAME_MAX = 126;
constexpr int32_t RIDER_NAME_MAX = 63;
constexpr int32_t RIDER_NUMBER_MAX = 3;
constexpr int32_t GRAPHICS_PRESET_COUNT = 4;
constexpr int32_t BINDING_NAME_MAX = 255;  // longest key or axis name kept

// Option indexes used by callers.
enum GateSlotOption : int32_t {
  SLOT_EMPTY,
  SLOT_HUMAN,
  SLOT_ROBOT,
  SLOT_ROBOT_2_STROKE,
  SLOT_ROBOT_4_STROKE
};
enum RenderTextureOption : int32_t {
  RENDER_SOFTWARE,
  RENDER_HARDWARE_COPY,
  RENDER_HARDWARE_DIRECT,
  RENDER_SHADERS_COPY,
  RENDER_SHADERS_DIRECT
};
enum StopWheeliesOption : int32_t { STOP_WHEELIES_NO, STOP_WHEELIES_YES, STOP_WHEELIES_FRONT };

struct Settings {
  // Plain integers.
  int32_t xres, yres;
  int32_t draw_fps, draw_time, draw_ping, draw_speed;
  int32_t spy;
  int32_t billboard_optimize_lookahead;
  int32_t message_lines;
  int32_t demo_backups;

  const char* track;  // interned track directory name

  // Race.
  ChoiceSetting record, skill;
  NumberSetting minutes, laps;
  ChoiceSetting slots[GATE_SLOT_COUNT];
  NumberSetting ghost_fade_distance;
  ChoiceSetting time_trial_abort;

  // Bike set-up.
  ChoiceSetting bike;
  TextSetting name, number;
  ChoiceSetting rider_texture, head_texture, bike_texture, wheel_texture;
  NumberSetting stability, leveling, roll_damping, roll_limit_angle, roll_limit_factor;
  NumberSetting steering_damping, steering_strength, max_steering_force, direct_steering;
  NumberSetting slow_damping_speed, slow_damping_factor;
  NumberSetting land_damping_falloff, land_damping_factor;
  NumberSetting full_lock_speed, restricted_lock_speed, restricted_lock;
  ChoiceSetting arcade, front_brake, rear_brake, stop_wheelies;
  ChoiceSetting auto_shift, auto_dab, auto_align, sticky_dab, reverse_steering, lean_indicator;
  NumberSetting auto_clutch_rpms, brake_torque, rear_brake_torque, max_dab_speed;
  NumberSetting front_sprocket_adjustment, rear_sprocket_adjustment;
  NumberSetting fork_compression_adjustment, fork_slow_compression_adjustment;
  NumberSetting fork_rebound_adjustment, fork_slow_rebound_adjustment;
  NumberSetting fork_spring_rate_adjustment, fork_preload_adjustment, fork_oil_level_adjustment;
  NumberSetting shock_compression_adjustment, shock_slow_compression_adjustment;
  NumberSetting shock_rebound_adjustment, shock_slow_rebound_adjustment;
  NumberSetting shock_spring_rate_adjustment, shock_preload_adjustment;
  NumberSetting rider_yspring, rider_ydamping, rider_zspring, rider_zdamping;
  NumberSetting rider_mass_distribution;

  // Display and network.
  ChoiceSetting video_mode;
  TextSetting server_name;
  TextSetting server_name_hist[SERVER_HISTORY_COUNT];  // newest first

  // Graphics.
  NumberSetting ground_detail, ground_texture_detail;
  ChoiceSetting ground_texture_dim, ground_mipmaps, texture_compress, render_texture, use_shader;
  NumberSetting roost_density;
  ChoiceSetting lens_flare, reflections, hide_rider, rigid_camera;
  NumberSetting model_detail, model_texture_detail;

  // Camera and sound.
  NumberSetting fov;
  NumberSetting first_person_height, first_person_angle;
  NumberSetting third_person_height, third_person_distance;
  NumberSetting volume, comp_volume;
  ChoiceSetting playback_mode;

  float map_scale;

  KeyBinding bindings[BINDING_COUNT];
};

extern Settings settings;

// Values computed from the settings at start-up (the command line may
// override them afterwards).
struct DerivedSettings {
  double terrain_detail;
  int32_t ground_levels_skipped;
  int32_t ground_texture_size;
  int32_t model_levels_skipped;
  double lod_scale;
  double lod_bias;
  int32_t texture_compress_mode;
  int32_t roost_rate;
  int32_t reflections;
};

extern DerivedSettings derived;

// Every default, then graphics preset column 0 and the stability preset for
// 100: the state of a fresh start before the file is read. Also forgets the
// selected track and clears the server history. Option lists go back to the
// built-in ones (run-time lists empty, video modes the two fixed entries), so
// build the run-time lists afterwards. Axis handles are dropped, not closed.
void settings_init_defaults();

// "@config" in the home directory. Missing files and bad lines are silent.
void config_read();
void config_read_from(DataFile* file);
void config_write();
void config_write_to(DataFile* file);

// The track chooser's selection, written as "track" (the `track` setting when
// nothing was selected).
void config_set_selected_track(const char* name);

// Bike set-up keys: applies one pair; false when key is not a set-up key.
bool setup_key_set(const char* key, const char* value);
void setup_write(DataFile* file);
// "readsetup"/"writesetup": names are relative to "@setups/".
bool setup_file_read(const char* name);
bool setup_file_write(const char* name);

// Called after the `bike` setting selects a bike (from a file or set-up) so
// the owner can rebuild the bike graphics list; `bike_texture` is reset to
// its first option afterwards. nullptr to remove.
void config_set_bike_hook(void (*hook)(const char* bike_name));

// Setters with the file's value rules.
bool binding_set(KeyBinding* b, const char* value);
bool choice_set(ChoiceSetting* s, const char* text);
bool number_set(NumberSetting* s, const char* text);
void text_set(TextSetting* s, const char* text);
// Replaces the option list; keeps the chosen text when it is in the new list,
// else chooses the first option.
void choice_set_options(ChoiceSetting* s, const char* const* options, int32_t count);
// The chosen option's text ("" when the list is empty).
const char* choice_text(const ChoiceSetting* s);
// Value clamped to the setting's range.
void number_assign(NumberSetting* s, double value);

// The binding's text as the file stores it ("(k)x", "(0.100000,0.900000)Joystick1.axis[1]");
// empty when the binding has neither a key nor an axis.
void binding_format(const KeyBinding* b, char* out, int32_t size);

// Riding aids from the stability level (0..100).
void apply_stability_preset(double stability);
// Graphics column 0 Compatibility, 1 High FPS, 2 Normal, 3 High Detail.
void apply_graphics_preset(int column);
// The column every preset setting matches, or -1 (custom).
int graphics_preset_current();
const char* graphics_preset_name(int column);

void derive_runtime_settings();

// Puts a server name first in the history when it is non-empty and differs
// from the newest entry; the oldest entry is dropped.
void server_history_push(const char* name);

// ---------------------------------------------------------------- key tables
// The tables behind the file format, shared by the reader, the writer and the
// menus. Entries are in the order the writer emits them.

enum ConfigKind : int32_t {
  CONFIG_INT,
  CONFIG_TRACK,
  CONFIG_CHOICE,
  CONFIG_NUMBER,
  CONFIG_TEXT,
  CONFIG_MAP_SCALE,
  CONFIG_SLOTS,    // "slot%02d", 40 lines
  CONFIG_SETUP,    // the bike set-up block
  CONFIG_HISTORY,  // "server_name_hist%02d", 16 lines
};

struct ConfigKey {
  const char* key = nullptr;
  ConfigKind kind = CONFIG_INT;
  int32_t* integer = nullptr;
  NumberSetting* number = nullptr;
  ChoiceSetting* choice = nullptr;
  TextSetting* text = nullptr;
  const char* label = nullptr;
  double def = 0, min = 0, max = 0, step = 0;  // numbers (def also for integers)
  const char* const* options = nullptr;        // choices with a fixed list
  int32_t option_count = 0;
  const char* def_text = nullptr;  // default option or text; nullptr = first option
  char* buffer = nullptr;          // text buffer of max_length + 1
  int32_t max_length = 0;
};

struct BindingKey {
  const char* key;
  const char* label;
  const char* def;
  int32_t slot;  // ControlSlot driven, or -1 for a command binding
  float scale;
};

struct GraphicsPresetRow {
  NumberSetting* number = nullptr;  // one of these two
  ChoiceSetting* choice = nullptr;
  double values[GRAPHICS_PRESET_COUNT] = {};
  const char* texts[GRAPHICS_PRESET_COUNT] = {};
};

struct StabilityPresetRow {
  NumberSetting* setting;
  double row[6];  // stability 0, 20, 40, 60, 80, 100
};

extern const ConfigKey CONFIG_KEYS[];
extern const int32_t CONFIG_KEY_COUNT;
extern const ConfigKey SETUP_KEYS[];
extern const int32_t SETUP_KEY_COUNT;
extern const BindingKey BINDING_KEYS[BINDING_COUNT];
extern const GraphicsPresetRow GRAPHICS_PRESETS[];
extern const int32_t GRAPHICS_PRESET_ROW_COUNT;
extern const char* const GRAPHICS_PRESET_NAMES[GRAPHICS_PRESET_COUNT];
extern const StabilityPresetRow STABILITY_PRESETS[];
extern const int32_t STABILITY_PRESET_ROW_COUNT;

extern const char* const SLOT_OPTIONS[];
extern const int32_t SLOT_OPTION_COUNT;
extern const char* const BIKE_NAMES[];  // the catalogue names, default list of `bike`
extern const int32_t BIKE_NAME_COUNT;

extern const char* const DEFAULT_TRACK;
extern const char* const DEFAULT_RIDER_NAME;
extern const char* const DEFAULT_SERVER_NAME;

// Fixed text buffers and gate labels.
extern char server_history_buffers[SERVER_HISTORY_COUNT][SERVER_HISTORY_NAME_MAX + 1];
extern char gate_labels[GATE_SLOT_COUNT][12];
