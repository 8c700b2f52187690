// The configuration key tables, in the order the writer emits them, and the
// graphics and stability preset tables.
#include "core/common.h"
#include "core/config.h"

Settings settings;
DerivedSettings derived;

#define DEFAULT_TRACK_TEXT "rabbithill"
#define DEFAULT_RIDER_TEXT "Rider"
#define DEFAULT_SERVER_TEXT "race.rutmoto.net"
const char* const DEFAULT_TRACK = DEFAULT_TRACK_TEXT;
const char* const DEFAULT_RIDER_NAME = DEFAULT_RIDER_TEXT;
const char* const DEFAULT_SERVER_NAME = DEFAULT_SERVER_TEXT;

// ---------------------------------------------------------------- option lists
static const char* const NO_YES[] = {"No", "Yes"};
static const char* const SKILL_OPTIONS[] = {"Novice", "Amateur", "Expert"};
const char* const SLOT_OPTIONS[] = {"Empty", "Human", "Robot", "Robot (2 stroke)",
                                    "Robot (4 stroke)"};
const int32_t SLOT_OPTION_COUNT = RT_ARRAY_COUNT(SLOT_OPTIONS);
static const char* const VIDEO_MODE_OPTIONS[] = {"Default Fullscreen", "Windowed"};
static const char* const TEXTURE_DIM_OPTIONS[] = {"32x32",   "64x64",   "128x128",
                                                  "256x256", "512x512", "1024x1024"};
static const char* const COMPRESS_OPTIONS[] = {"No", "Yes", "Always"};
static const char* const RENDER_TEXTURE_OPTIONS[] = {"Software", "Hardware/Copy", "Hardware/Direct",
                                                     "Shaders/Copy", "Shaders/Direct"};
static const char* const PLAYBACK_OPTIONS[] = {"Playback Only", "Race Against"};
static const char* const BRAKE_OPTIONS[] = {"Normal", "Antilock"};
static const char* const STOP_WHEELIES_OPTIONS[] = {"No", "Yes", "Front Only"};

// The bike catalogue's identifiers in menu order.
const char* const BIKE_NAMES[] = {
    "450sxf(2016)",    "crf450(2016)", "kx450f(2016)", "rmz450(2016)", "yz450f(2016)",
    "crf450(2013)",    "kx450f(2013)", "rmz450(2013)", "yz450f(2013)", "450sxf(2013)",
    "350sxf(2013)",    "crf450(2011)", "kx450f(2011)", "rmz450(2011)", "yz450f(2011)",
    "450sxf(2011)",    "350sxf(2011)", "250sx(2012)",  "cr250(2007)",  "kx250(2006)",
    "rm250(2008)",     "yz250(2012)",  "crf250(2016)", "kx250f(2016)", "rmz250(2016)",
    "yz250f(2016)",    "250sxf(2016)", "crf250(2013)", "kx250f(2013)", "rmz250(2013)",
    "yz250f(2013)",    "250sxf(2013)", "crf250(2009)", "kx250f(2009)", "rmz250(2009)",
    "yz250f(2009)",    "250sxf(2009)", "crf250(2008)", "kx250f(2008)", "rmz250(2008)",
    "yz250f(2008)",    "cr125",        "kx125",        "rm125",        "yz125",
    "125sx",           "crf250(2007)", "kx250f(2007)", "rmz250(2007)", "yz250f(2007)",
    "yz250f_se(2006)", "rs50cr",       "rs50kx",       "rs50rm",       "rs50yz",
};
const int32_t BIKE_NAME_COUNT = RT_ARRAY_COUNT(BIKE_NAMES);

// ---------------------------------------------------------------- text buffers
static char rider_name_buffer[RIDER_NAME_MAX + 1];
static char rider_number_buffer[RIDER_NUMBER_MAX + 1];
static char server_name_buffer[SERVER_NAME_MAX + 1];
char server_history_buffers[SERVER_HISTORY_COUNT][SERVER_HISTORY_NAME_MAX + 1];
char gate_labels[GATE_SLOT_COUNT][12];

// ---------------------------------------------------------------- key rows
#define I(name, d) \
  { .key = #name, .kind = CONFIG_INT, .integer = &settings.name, .def = d }
#define N(name, lbl, d, lo, hi, st)                                                        \
  {                                                                                        \
    .key = #name, .kind = CONFIG_NUMBER, .number = &settings.name, .label = lbl, .def = d, \
    .min = lo, .max = hi, .step = st                                                       \
  }
#define C(name, lbl, opts, d)                                                                     \
  {                                                                                               \
    .key = #name, .kind = CONFIG_CHOICE, .choice = &settings.name, .label = lbl, .options = opts, \
    .option_count = RT_ARRAY_COUNT(opts), .def_text = d                                           \
  }
// A choice whose option list is built at run time.
#define C_RUNTIME(name, lbl) \
  { .key = #name, .kind = CONFIG_CHOICE, .choice = &settings.name, .label = lbl }
#define T(name, lbl, d, buf, len)                                                           \
  {                                                                                         \
    .key = #name, .kind = CONFIG_TEXT, .text = &settings.name, .label = lbl, .def_text = d, \
    .buffer = buf, .max_length = len                                                        \
  }

const ConfigKey CONFIG_KEYS[] = {
    I(xres, 640),
    I(yres, 480),
    I(draw_fps, 0),
    I(draw_time, 0),
    I(draw_ping, 1),
    I(draw_speed, 0),
    I(spy, 0),
    {.key = "track", .kind = CONFIG_TRACK},
    C(record, "Record Demo", NO_YES, "No"),
    C(skill, "Robot Skill", SKILL_OPTIONS, "Novice"),
    N(minutes, "Minutes", 0, 0, 60, 1),
    N(laps, "Laps", 5, 0, 50, 1),
    {.key = "slot",
     .kind = CONFIG_SLOTS,
     .options = SLOT_OPTIONS,
     .option_count = RT_ARRAY_COUNT(SLOT_OPTIONS),
     .def_text = "Empty"},
    N(ghost_fade_distance, "Ghost Fade Distance", 10, 0, 40, 1),
    C(time_trial_abort, "Backing Up Aborts Attempt", NO_YES, "Yes"),
    {.key = "", .kind = CONFIG_SETUP},
    C(video_mode, "Video Mode", VIDEO_MODE_OPTIONS, "Default Fullscreen"),
    {.key = "server_name",
     .kind = CONFIG_TEXT,
     .text = &settings.server_name,
     .label = "Server",
     .def_text = DEFAULT_SERVER_TEXT,
     .buffer = server_name_buffer,
     .max_length = SERVER_NAME_MAX},
    {.key = "server_name_hist", .kind = CONFIG_HISTORY, .max_length = SERVER_HISTORY_NAME_MAX},
    N(ground_detail, "Ground Geometric Detail", 70, 0, 100, 1),
    N(ground_texture_detail, "Ground Texture Levels", 9, 0, 10, 1),
    C(ground_texture_dim, "Ground Texture Resolution", TEXTURE_DIM_OPTIONS, "64x64"),
    C(ground_mipmaps, "Enable Ground Mipmaps", NO_YES, "Yes"),
    C(texture_compress, "Compress Textures", COMPRESS_OPTIONS, "No"),
    C(render_texture, "Terrain Rendering Method", RENDER_TEXTURE_OPTIONS, "Software"),
    C(use_shader, "Use Shader Programs", NO_YES, "Yes"),
    N(roost_density, "Roost Density", 1000, 0, 1000, 10),
    C(lens_flare, "Enable Lens Flares", NO_YES, "Yes"),
    C(reflections, "Enable Reflections", NO_YES, "Yes"),
    C(hide_rider, "Hide 1st Person Rider", NO_YES, "No"),
    C(rigid_camera, "Rigid 3rd person camera", NO_YES, "No"),
    N(model_detail, "Model Geometric Detail", 50, 0, 100, 1),
    N(model_texture_detail, "Model Texture Detail", 9, 0, 10, 1),
    N(fov, "Field Of View", 110, 10, 170, 1),
    N(first_person_height, "1st Person Height", 0, 0, 1, 1.0 / 32),
    N(first_person_angle, "1st Person Angle", 0, 0, 40, 1),
    N(third_person_height, "3rd Person Height", 5, 0, 20, 1),
    N(third_person_distance, "3rd Person Distance", 10, 5, 40, 1),
    N(volume, "Volume", 10, 0, 10, 1),
    N(comp_volume, "Competitor Volume", 8, 0, 10, 1),
    C(playback_mode, "Playback Mode", PLAYBACK_OPTIONS, "Playback Only"),
    I(billboard_optimize_lookahead, 8),
    I(message_lines, 5),
    I(demo_backups, 0),
    {.key = "map_scale", .kind = CONFIG_MAP_SCALE, .def = 1, .min = 0.125, .max = 8},
};
const int32_t CONFIG_KEY_COUNT = RT_ARRAY_COUNT(CONFIG_KEYS);

const ConfigKey SETUP_KEYS[] = {
    {.key = "bike",
     .kind = CONFIG_CHOICE,
     .choice = &settings.bike,
     .label = "Bike",
     .options = BIKE_NAMES,
     .option_count = RT_ARRAY_COUNT(BIKE_NAMES),
     .def_text = "450sxf(2016)"},
    T(name, "Name", DEFAULT_RIDER_TEXT, rider_name_buffer, RIDER_NAME_MAX),
    T(number, "Number", "999", rider_number_buffer, RIDER_NUMBER_MAX),
    C_RUNTIME(rider_texture, "Riding Gear"),
    C_RUNTIME(head_texture, "Helmet"),
    C_RUNTIME(bike_texture, "Bike Graphics"),
    C_RUNTIME(wheel_texture, "Wheel Graphics"),
    N(stability, "Stability", 100, 0, 100, 1),
    N(leveling, "Leveling", 20, 0, 100, 1),
    N(roll_damping, "Roll Damping", 60, 0, 100, 1),
    N(roll_limit_angle, "Roll Limit Angle", 45, 0, 180, 1),
    N(roll_limit_factor, "Roll Limit Factor", 10, 0, 64, 1),
    N(steering_damping, "Steering Damping", 45, 0, 100, 1),
    N(steering_strength, "Steering Strength", 75, 0, 100, 1),
    N(max_steering_force, "Max Steering Force", 400, 0, 1000, 5),
    N(direct_steering, "Direct Steering", 1, 0, 1, 0.125),
    N(slow_damping_speed, "Slow Damping Speed", 40, 0, 100, 1),
    N(slow_damping_factor, "Slow Damping Factor", 2, 1, 10, 0.25),
    N(land_damping_falloff, "Landing Damping Falloff", 0.25, 0, 0.5, 0.0625),
    N(land_damping_factor, "Landing Damping Factor", 2, 1, 3, 0.25),
    N(full_lock_speed, "Full Lock Speed", 10, 1, 100, 1),
    N(restricted_lock_speed, "Restricted Lock Speed", 50, 1, 100, 1),
    N(restricted_lock, "Restricted Lock Angle", 7.5, 0, 45, 0.125),
    C(arcade, "Arcade Physics", NO_YES, "Yes"),
    C(front_brake, "Front Brake", BRAKE_OPTIONS, "Antilock"),
    C(rear_brake, "Rear Brake", BRAKE_OPTIONS, "Normal"),
    C(stop_wheelies, "Stop Wheelies", STOP_WHEELIES_OPTIONS, "No"),
    C(auto_shift, "Automatic Shifting", NO_YES, "Yes"),
    C(auto_dab, "Dab When Stopped", NO_YES, "Yes"),
    C(auto_align, "Realign After Fall", NO_YES, "Yes"),
    C(sticky_dab, "Sticky Sit/Dab", NO_YES, "No"),
    C(reverse_steering, "Reversed Steering", NO_YES, "Yes"),
    C(lean_indicator, "Lean Indicator", NO_YES, "Yes"),
    N(auto_clutch_rpms, "Auto Clutch RPMs", 5000, 0, 5000, 100),
    N(brake_torque, "Braking Torque (Front)", 250, 0, 500, 10),
    N(rear_brake_torque, "Braking Torque (Rear)", 250, 0, 500, 10),
    N(max_dab_speed, "Max Dab Speed (MPH)", 20, 5, 60, 1),
    N(front_sprocket_adjustment, "Countershaft Sprocket", 0, -2, 2, 1),
    N(rear_sprocket_adjustment, "Rear Sprocket", 0, -2, 2, 1),
    N(fork_compression_adjustment, "Fork High Speed Compression Damping", 50, 0, 100, 1),
    N(fork_slow_compression_adjustment, "Fork Low Speed Compression Damping", 50, 0, 100, 1),
    N(fork_rebound_adjustment, "Fork High Speed Rebound Damping", 50, 0, 100, 1),
    N(fork_slow_rebound_adjustment, "Fork Low Speed Rebound Damping", 50, 0, 100, 1),
    N(fork_spring_rate_adjustment, "Fork Spring Rate", 50, 0, 100, 1),
    N(fork_preload_adjustment, "Fork Preload", 50, 0, 100, 1),
    N(fork_oil_level_adjustment, "Fork Oil Level", 50, 0, 100, 1),
    N(shock_compression_adjustment, "Shock High Speed Compression Damping", 50, 0, 100, 1),
    N(shock_slow_compression_adjustment, "Shock Low Speed Compression Damping", 50, 0, 100, 1),
    N(shock_rebound_adjustment, "Shock High Speed Rebound Damping", 50, 0, 100, 1),
    N(shock_slow_rebound_adjustment, "Shock Low Speed Rebound Damping", 50, 0, 100, 1),
    N(shock_spring_rate_adjustment, "Shock Spring Rate", 50, 0, 100, 1),
    N(shock_preload_adjustment, "Shock Preload", 50, 0, 100, 1),
    N(rider_yspring, "Rider Vertical Spring", 50, 0, 100, 1),
    N(rider_ydamping, "Rider Vertical Damping", 50, 0, 100, 1),
    N(rider_zspring, "Rider Forward Spring", 50, 0, 100, 1),
    N(rider_zdamping, "Rider Forward Damping", 50, 0, 100, 1),
    N(rider_mass_distribution, "Rider Mass Distribution", 0.33, 0.33, 0.5, 0.01),
};
const int32_t SETUP_KEY_COUNT = RT_ARRAY_COUNT(SETUP_KEYS);

#undef I
#undef N
#undef C
#undef C_RUNTIME
#undef T

const BindingKey BINDING_KEYS[BINDING_COUNT] = {
    {"throttle_key", "Throttle", "x", THROTTLE, 1},
    {"front_brake_key", "Front Brake", "c", FRONT_BRAKE, 1},
    {"rear_brake_key", "Rear Brake", "v", REAR_BRAKE, 1},
    {"left_key", "Left", "left", STEER, 1},
    {"right_key", "Right", "right", STEER, -1},
    {"clutch_key", "Clutch", "z", CLUTCH, 1},
    {"upshift_key", "Upshift", "up", SHIFT, 1},
    {"downshift_key", "Downshift", "down", SHIFT, -1},
    {"dab_key", "Sit/Dab", "right ctrl", SIT_DAB, 1},
    {"back_up_key", "Back up", "b", BACK_UP, 1},
    {"lean_forward_key", "Lean Forward", "n", LEAN, -1},
    {"lean_backward_key", "Lean Backward", "m", LEAN, 1},
    {"pause_key", "Pause", "pause", -1, 0},
    {"step_key", "Step", ".", -1, 0},
    {"rewind_key", "Rewind", "\\", -1, 0},
    {"skip_key", "Skip", "/", -1, 0},
    {"prev_key", "Previous Bike", "[", -1, 0},
    {"next_key", "Next Bike", "]", -1, 0},
    {"console_key", "Chat", "t", -1, 0},
    {"screenshot_key", "Screenshot", "s", -1, 0},
};

// ---------------------------------------------------------------- presets
const char* const GRAPHICS_PRESET_NAMES[GRAPHICS_PRESET_COUNT] = {"Compatibility", "High FPS",
                                                                  "Normal", "High Detail"};

#define GN(name, a, b, c, d)                           \
  {                                                    \
    .number = &settings.name, .values = { a, b, c, d } \
  }
#define GC(name, a, b, c, d)                          \
  {                                                   \
    .choice = &settings.name, .texts = { a, b, c, d } \
  }
const GraphicsPresetRow GRAPHICS_PRESETS[] = {
    GN(ground_detail, 70, 50, 70, 90),
    GN(ground_texture_detail, 9, 7, 9, 10),
    GC(ground_texture_dim, "64x64", "64x64", "128x128", "256x256"),
    GC(ground_mipmaps, "Yes", "Yes", "Yes", "Yes"),
    GC(texture_compress, "No", "Yes", "Yes", "No"),
    GC(render_texture, "Software", "Hardware/Direct", "Shaders/Direct", "Shaders/Direct"),
    GC(use_shader, "Yes", "No", "Yes", "Yes"),
    GN(model_detail, 50, 25, 50, 75),
    GN(model_texture_detail, 9, 7, 9, 10),
    GC(lens_flare, "Yes", "No", "Yes", "Yes"),
    GC(reflections, "Yes", "No", "Yes", "Yes"),
    GN(roost_density, 1000, 0, 1000, 1000),
};
const int32_t GRAPHICS_PRESET_ROW_COUNT = RT_ARRAY_COUNT(GRAPHICS_PRESETS);
#undef GN
#undef GC

const StabilityPresetRow STABILITY_PRESETS[] = {
    {&settings.restricted_lock, {45, 15, 10, 5, 5, 5}},
    {&settings.restricted_lock_speed, {50, 50, 50, 50, 50, 50}},
    {&settings.full_lock_speed, {10, 10, 10, 10, 10, 10}},
    {&settings.max_steering_force, {400, 400, 400, 400, 400, 400}},
    {&settings.land_damping_factor, {1, 1.5, 2, 2, 2, 2}},
    {&settings.land_damping_falloff, {0, 0.125, 0.25, 0.25, 0.25, 0.25}},
    {&settings.slow_damping_factor, {1, 1, 1.5, 2, 2, 2}},
    {&settings.slow_damping_speed, {40, 40, 40, 40, 40, 40}},
    {&settings.direct_steering, {1, 1, 1, 1, 1, 0}},
    {&settings.steering_strength, {75, 75, 75, 75, 75, 75}},
    {&settings.steering_damping, {45, 45, 45, 45, 45, 45}},
    {&settings.roll_limit_factor, {0, 5, 10, 32, 32, 32}},
    {&settings.roll_limit_angle, {90, 45, 45, 40, 35, 35}},
    {&settings.roll_damping, {40, 50, 60, 70, 75, 80}},
    {&settings.leveling, {20, 20, 20, 20, 20, 20}},
};
const int32_t STABILITY_PRESET_ROW_COUNT = RT_ARRAY_COUNT(STABILITY_PRESETS);
