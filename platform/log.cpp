// The log file and VOLG_OPTIONS.
#include "platform/log.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct LogState {
  FILE* file;
  bool initialised;
  char last_error[256];
};

LogState log_state = {nullptr, false, "Unknown"};

struct OptionsState {
  bool read;
  char text[4096];
};

OptionsState options_state;

void log_open(const char* configured_name) {
  const char* env_name = getenv("VOLG_LOGFILE");
  const char* env_flags = getenv("VOLG_LOGFILE_FLAGS");
  const char* name = (env_name && *env_name) ? env_name : configured_name;
  log_state.initialised = true;
  if (!name || !*name) return;
  const char* mode = "w";
  if (strncmp(name, ">>", 2) == 0) {
    mode = "a";
    name += 2;
  } else if (name[0] == '>') {
    name += 1;
  }
  if (env_flags && *env_flags) mode = env_flags;
  log_state.file = fopen(name, mode);
  if (!log_state.file) return;  // logging silently disabled
  log_printf("Logfile \"%s\" opened\n", name);
  log_printf("VOLG 0.31\n");
}

void log_write(const char* format, va_list args) {
  if (!log_state.file) return;
  char prefix[64];
  log_format_prefix(clock_now(), prefix, sizeof prefix);
  fputs(prefix, log_state.file);
  vfprintf(log_state.file, format, args);
  fflush(log_state.file);
}

}  // namespace

void log_format_prefix(ClockValue t, char* out, int out_size) {
  int32_t s = t.seconds;
  snprintf(out, (size_t)out_size, "[%d:%02d:%02d.%02d] ", s / 3600, (s / 60) % 60, s % 60,
           t.micros / 10000);
}

void log_printf(const char* format, ...) {
  if (!format) {
    if (log_state.file) fclose(log_state.file);
    log_state.file = nullptr;
    return;
  }
  if (!log_state.initialised) {
    const char* key = "VOLG_LOGFILE=";
    if (strncmp(format, key, strlen(key)) == 0) {
      // A configuration message: its text names the log file.
      char message[1100];
      va_list args;
      va_start(args, format);
      vsnprintf(message, sizeof message, format, args);
      va_end(args);
      log_open(message + strlen(key));
      return;
    }
    log_open(nullptr);
  }
  if ((unsigned char)format[0] == 19) return;
  va_list args;
  va_start(args, format);
  log_write(format, args);
  va_end(args);
}

void log_error(const char* text) {
  snprintf(log_state.last_error, sizeof log_state.last_error, "%s", text);
  log_printf("Error: %s\n", text);
}

const char* log_last_error() { return log_state.last_error; }

void log_reset() {
  if (log_state.file) fclose(log_state.file);
  log_state.file = nullptr;
  log_state.initialised = false;
}

// ---------------------------------------------------------------- options

namespace {

const char* options_text() {
  if (!options_state.read) {
    options_state.read = true;
    const char* env = getenv("VOLG_OPTIONS");
    snprintf(options_state.text, sizeof options_state.text, "%s", env ? env : "");
  }
  return options_state.text;
}

// Returns the text right after "[name:" or nullptr.
const char* option_find(const char* name) {
  char key[64];
  snprintf(key, sizeof key, "[%.60s:", name);
  return strstr(options_text(), key) ? strstr(options_text(), key) + strlen(key) : nullptr;
}

}  // namespace

void options_reset() { options_state.read = false; }

int option_bool(const char* name, int default_value) {
  const char* value = option_find(name);
  if (!value) return default_value;
  if (strncmp(value, "yes]", 4) == 0 || strncmp(value, "on]", 3) == 0) return 1;
  if (strncmp(value, "no]", 3) == 0 || strncmp(value, "off]", 4) == 0) return 0;
  log_printf("unrecognized setting for %s\n", name);
  return default_value;
}

int option_int(const char* name, int default_value) {
  const char* value = option_find(name);
  if (!value) return default_value;
  while (*value == ' ' || *value == '\t') value++;
  const char* digits = value;
  if (*digits == '-' || *digits == '+') digits++;
  if (!isdigit((unsigned char)*digits)) {
    log_printf("unrecognized setting for %s\n", name);
    return default_value;
  }
  return (int)strtol(value, nullptr, 10);
}
