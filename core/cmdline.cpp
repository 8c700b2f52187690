// The command-line option table.
#include "core/cmdline.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/config.h"
#include "core/files.h"
#include "core/program.h"
#include "platform/log.h"

namespace {

enum ValueKind {
  NONE,      // flag
  INT,       // "%d", "Bad arg" when it does not convert
  REAL,      // "%f", "Bad arg" when it does not convert
  INT_LAX,   // decimal text, no check
  TEXT,      // any text
  OPTIONAL,  // takes a following value when one is there ("--bikes")
};

enum OptionId {
  OPT_FUGLY, OPT_NOSOUND, OPT_NOVERTEXARRAYS, OPT_LEARN, OPT_NOLEARN, OPT_NOMMX, OPT_DEBUG,
  OPT_SUPER_DEBUG, OPT_PRACTICE, OPT_WARP, OPT_TEXTURE_DETAIL, OPT_GROUND_TEXTURE_DETAIL,
  OPT_ROOSTFREQUENCY, OPT_ERODE, OPT_DETAIL, OPT_MAX_DETAIL_DISTANCE, OPT_LOD_SCALE,
  OPT_LOD_BIAS, OPT_LOCK_FPS, OPT_FAKE_LAG, OPT_FAKE_LOSS, OPT_RECORD_AUDIO, OPT_RECORD_VIDEO,
  OPT_ROTATE_LINEUP, OPT_EDITOR, OPT_HIDDEN_PAUSE, OPT_HIDDEN_HUD, OPT_BIKES, OPT_WIDTH,
  OPT_HEIGHT, OPT_DEPTH, OPT_ZDEPTH, OPT_DRAW_FPS, OPT_DRAW_TIME, OPT_DRAW_PING, OPT_DRAW_SPEED,
  OPT_DRAW_RENDER_STATS, OPT_ACCURATE_SKIP, OPT_TRACK, OPT_CONNECT, OPT_PASSWORD,
  OPT_CHASE_CENTER, OPT_OPEN_HOME, OPT_GLFINISH, OPT_PRINT_ORIENTATION, OPT_HEADLESS, OPT_TICKS,
  OPT_INPUT_SCRIPT, OPT_LINEUP,
};

struct OptionRow {
  const char* name;
  ValueKind kind;
  OptionId id;
};

// Matched in this order.
const OptionRow option_table[] = {
    {"--fugly", NONE, OPT_FUGLY},
    {"--nosound", NONE, OPT_NOSOUND},
    {"--novertexarrays", NONE, OPT_NOVERTEXARRAYS},
    {"--learn", NONE, OPT_LEARN},
    {"--nolearn", NONE, OPT_NOLEARN},
    {"--nommx", NONE, OPT_NOMMX},
    {"--debug", NONE, OPT_DEBUG},
    {"--super-debug", NONE, OPT_SUPER_DEBUG},
    {"--practice", NONE, OPT_PRACTICE},
    {"--warp", NONE, OPT_WARP},
    {"--texture-detail", INT, OPT_TEXTURE_DETAIL},
    {"--ground-texture-detail", INT, OPT_GROUND_TEXTURE_DETAIL},
    {"--roostfrequency", INT, OPT_ROOSTFREQUENCY},
    {"--erode", REAL, OPT_ERODE},
    {"--detail", REAL, OPT_DETAIL},
    {"--max-detail-distance", REAL, OPT_MAX_DETAIL_DISTANCE},
    {"--lod-scale", REAL, OPT_LOD_SCALE},
    {"--lod-bias", REAL, OPT_LOD_BIAS},
    {"--lock-fps", REAL, OPT_LOCK_FPS},
    {"--fake-lag", REAL, OPT_FAKE_LAG},
    {"--fake-loss", INT, OPT_FAKE_LOSS},
    {"--record-audio", TEXT, OPT_RECORD_AUDIO},
    {"--record-video", NONE, OPT_RECORD_VIDEO},
    {"--rotate-lineup", INT, OPT_ROTATE_LINEUP},
    {"--editor", NONE, OPT_EDITOR},
    {"--hidden-pause", NONE, OPT_HIDDEN_PAUSE},
    {"--hidden-hud", NONE, OPT_HIDDEN_HUD},
    {"--bikes", OPTIONAL, OPT_BIKES},
    {"--width", INT_LAX, OPT_WIDTH},
    {"--height", INT_LAX, OPT_HEIGHT},
    {"--depth", INT_LAX, OPT_DEPTH},
    {"--zdepth", INT_LAX, OPT_ZDEPTH},
    {"--draw-fps", INT_LAX, OPT_DRAW_FPS},
    {"--draw-time", INT_LAX, OPT_DRAW_TIME},
    {"--draw-ping", INT_LAX, OPT_DRAW_PING},
    {"--draw-speed", INT_LAX, OPT_DRAW_SPEED},
    {"--draw-render-stats", INT_LAX, OPT_DRAW_RENDER_STATS},
    {"--accurate-skip", NONE, OPT_ACCURATE_SKIP},
    {"--track", TEXT, OPT_TRACK},
    {"--connect", TEXT, OPT_CONNECT},
    {"--password", TEXT, OPT_PASSWORD},
    {"--chase-center", TEXT, OPT_CHASE_CENTER},
    {"--open-home", NONE, OPT_OPEN_HOME},
    {"--glfinish", NONE, OPT_GLFINISH},
    {"--print-orientation", NONE, OPT_PRINT_ORIENTATION},
    {"--headless", NONE, OPT_HEADLESS},
    {"--ticks", INT, OPT_TICKS},
    {"--input-script", TEXT, OPT_INPUT_SCRIPT},
    {"--lineup", TEXT, OPT_LINEUP},
};

int clamp_int(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }
double clamp_real(double v, double lo, double hi) { return v < lo ? lo : v > hi ? hi : v; }

// Matches "--name" or "--name=value"; sets *inline_value for the latter.
bool option_matches(const char* arg, const char* name, const char** inline_value) {
  size_t n = strlen(name);
  if (strncmp(arg, name, n) != 0) return false;
  if (arg[n] == 0) {
    *inline_value = nullptr;
    return true;
  }
  if (arg[n] == '=') {
    *inline_value = arg + n + 1;
    return true;
  }
  return false;
}

// "--lineup CODES": comma-separated line-up codes for slots 0, 1, ...; at
// least one and at most one per slot, each a decimal integer.
bool parse_lineup(const char* value) {
  int32_t codes[MAX_BIKES];
  int32_t n = 0;
  const char* p = value;
  while (true) {
    char* end = nullptr;
    long code = strtol(p, &end, 10);
    if (end == p || code < -2147483647L || code > 2147483647L || n >= MAX_BIKES) return false;
    codes[n++] = (int32_t)code;
    if (*end == 0) break;
    if (*end != ',') return false;
    p = end + 1;
  }
  memset(run_options.lineup, 0, sizeof run_options.lineup);
  memcpy(run_options.lineup, codes, sizeof(int32_t) * n);
  run_options.lineup_count = n;
  return true;
}

// Applies one option with its value; false means "Bad arg".
bool apply_option(OptionId id, const char* value) {
  int i = 0;
  double d = 0;
  switch (id) {
    case OPT_FUGLY: run_options.fugly = true; return true;
    case OPT_NOSOUND: run_options.no_sound = true; return true;
    case OPT_NOVERTEXARRAYS: run_options.no_vertex_arrays = true; return true;
    case OPT_LEARN: run_options.learn = 1; return true;
    case OPT_NOLEARN: run_options.learn = 0; return true;
    case OPT_NOMMX:
      // Every processor this runs on has MMX.
      run_options.no_mmx = true;
      log_printf("Ignoring MMX\n");
      return true;
    case OPT_DEBUG: debug_level = 1; return true;
    case OPT_SUPER_DEBUG: debug_level = 2; return true;
    case OPT_PRACTICE: run_options.practice = true; return true;
    case OPT_WARP: run_options.warp = true; return true;
    case OPT_TEXTURE_DETAIL:
      if (sscanf(value, "%d", &i) != 1) return false;
      derived.model_levels_skipped = derived.ground_levels_skipped = clamp_int(i, 0, 4);
      return true;
    case OPT_GROUND_TEXTURE_DETAIL:
      if (sscanf(value, "%d", &i) != 1) return false;
      derived.ground_levels_skipped = clamp_int(i, 0, 4);
      return true;
    case OPT_ROOSTFREQUENCY:
      if (sscanf(value, "%d", &i) != 1) return false;
      derived.roost_rate = clamp_int(i, 0, 1000);
      return true;
    case OPT_ERODE:
      if (sscanf(value, "%lf", &d) != 1) return false;
      run_options.erode = clamp_real(d, 0, 100);
      return true;
    case OPT_DETAIL:
      if (sscanf(value, "%lf", &d) != 1) return false;
      derived.terrain_detail = d;
      return true;
    case OPT_MAX_DETAIL_DISTANCE:
      if (sscanf(value, "%lf", &d) != 1) return false;
      run_options.max_detail_distance = d;
      run_options.detail_fade_distance = d + 5;
      return true;
    case OPT_LOD_SCALE:
      if (sscanf(value, "%lf", &d) != 1) return false;
      derived.lod_scale = clamp_real(d, 0.000001, 1000000);
      return true;
    case OPT_LOD_BIAS:
      if (sscanf(value, "%lf", &d) != 1) return false;
      derived.lod_bias = d;
      return true;
    case OPT_LOCK_FPS:
      if (sscanf(value, "%lf", &d) != 1) return false;
      run_options.lock_fps = d;
      return true;
    case OPT_FAKE_LAG:
      if (sscanf(value, "%lf", &d) != 1) return false;
      run_options.fake_lag = clamp_real(d * 0.001, 0, 1);
      return true;
    case OPT_FAKE_LOSS:
      if (sscanf(value, "%d", &i) != 1) return false;
      run_options.fake_loss = clamp_int(i, 0, 100);
      return true;
    case OPT_RECORD_AUDIO: run_options.record_audio = intern_string(value); return true;
    case OPT_RECORD_VIDEO: run_options.record_video = true; return true;
    case OPT_ROTATE_LINEUP:
      if (sscanf(value, "%d", &i) != 1) return false;
      run_options.rotate_lineup = i;
      return true;
    case OPT_EDITOR: run_options.editor = true; return true;
    case OPT_HIDDEN_PAUSE: run_options.show_pause_text = false; return true;
    case OPT_HIDDEN_HUD: run_options.show_hud = false; return true;
    case OPT_BIKES: fputs("--bikes doesn't do anything anymore\n", stderr); return true;
    case OPT_WIDTH: settings.xres = atoi(value); return true;
    case OPT_HEIGHT: settings.yres = atoi(value); return true;
    case OPT_DEPTH: run_options.color_depth = atoi(value); return true;
    case OPT_ZDEPTH: run_options.depth_bits = atoi(value); return true;
    case OPT_DRAW_FPS: settings.draw_fps = atoi(value); return true;
    case OPT_DRAW_TIME: settings.draw_time = atoi(value); return true;
    case OPT_DRAW_PING: settings.draw_ping = atoi(value); return true;
    case OPT_DRAW_SPEED: settings.draw_speed = atoi(value); return true;
    case OPT_DRAW_RENDER_STATS: run_options.draw_render_stats = atoi(value); return true;
    case OPT_ACCURATE_SKIP: run_options.accurate_skip = true; return true;
    case OPT_TRACK: run_options.track = intern_string(value); return true;
    case OPT_CONNECT: {
      const char* name = value;
      if (strncmp(name, "rutmoto:", 8) == 0) name += 8;
      run_options.connect = intern_string(name);
      server_history_push(name);
      return true;
    }
    case OPT_PASSWORD: run_options.password = intern_string(value); return true;
    case OPT_CHASE_CENTER: {
      double c[3];
      if (sscanf(value, "%lf,%lf,%lf", &c[0], &c[1], &c[2]) != 3) return false;
      memcpy(run_options.chase_center, c, sizeof c);
      return true;
    }
    case OPT_OPEN_HOME: return true;  // handled by the caller
    case OPT_GLFINISH: run_options.glfinish = true; return true;
    case OPT_PRINT_ORIENTATION: run_options.print_orientation = true; return true;
    case OPT_HEADLESS: run_options.headless = true; return true;
    case OPT_TICKS:
      if (sscanf(value, "%d", &i) != 1 || i < 0) return false;
      run_options.ticks = i;
      return true;
    case OPT_INPUT_SCRIPT: run_options.input_script = intern_string(value); return true;
    case OPT_LINEUP: return parse_lineup(value);
  }
  return false;
}

}  // namespace

bool command_line_has(int argc, const char* const* argv, const char* option) {
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--") == 0) return false;
    if (strcmp(argv[i], option) == 0) return true;
  }
  return false;
}

CommandLineResult parse_command_line(int argc, const char* const* argv, char* error,
                                     int error_size) {
  bool options_done = false;
  int files = 0;
  error[0] = 0;
  for (int a = 1; a < argc; a++) {
    const char* arg = argv[a];
    if (!options_done && strcmp(arg, "--") == 0) {
      options_done = true;
      continue;
    }
    if (options_done || arg[0] != '-') {
      if (++files > 1) {
        snprintf(error, (size_t)error_size, "Too many files!\n");
        return COMMAND_LINE_EXIT_ERROR;
      }
      run_options.demo_file = intern_string(arg);
      continue;
    }
    const OptionRow* option = nullptr;
    const char* value = nullptr;
    for (const OptionRow& s : option_table) {
      if (option_matches(arg, s.name, &value)) {
        option = &s;
        break;
      }
    }
    if (!option) {
      snprintf(error, (size_t)error_size, "bad option '%s'\n", arg);
      return COMMAND_LINE_EXIT_ERROR;
    }
    if (option->kind == NONE) {
      value = nullptr;
    } else if (!value) {
      bool next_is_value = a + 1 < argc;
      if (option->kind == OPTIONAL && next_is_value && argv[a + 1][0] == '-') next_is_value = false;
      if (next_is_value) {
        value = argv[++a];
      } else if (option->kind != OPTIONAL) {
        // An option that needs a value but is the last argument.
        snprintf(error, (size_t)error_size, "Bad arg for %s\n", option->name);
        return COMMAND_LINE_EXIT_ERROR;
      }
    }
    if (!apply_option(option->id, value ? value : "")) {
      snprintf(error, (size_t)error_size, "Bad arg for %s\n", option->name);
      return COMMAND_LINE_EXIT_ERROR;
    }
    if (option->id == OPT_OPEN_HOME) {
      open_home_folder();
      return COMMAND_LINE_EXIT_OK;
    }
  }
  return COMMAND_LINE_OK;
}
