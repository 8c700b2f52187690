// Platform services that do not need a window: the log file, options from
// VOLG_OPTIONS, the wall clock, a precise sleep and the modal message box.
#pragma once

#include <cstdint>

struct ClockValue {
  int32_t seconds;
  int32_t micros;  // 0..999999
};

// printf-style log line, time-stamped and flushed. A null format closes the
// log file. The first message may be "VOLG_LOGFILE=<name>" to configure it.
void log_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Logs "Error: %s\n" and keeps the text as the last error.
void log_error(const char* text);
const char* log_last_error();
// Closes the log and forgets its configuration so a new first message
// configures it again (start of a new run inside one process, tests).
void log_reset();
// Formats the "[%d:%02d:%02d.%02d] " prefix for a clock value.
void log_format_prefix(ClockValue t, char* out, int out_size);

int option_bool(const char* name, int default_value);
int option_int(const char* name, int default_value);
// Forget the cached VOLG_OPTIONS text so it is read again (tests).
void options_reset();

// Current clock through the platform's clock operations.
ClockValue clock_now();
void sleep_for(int32_t seconds, int32_t micros);
double clock_seconds(ClockValue t);
ClockValue clock_from_seconds(double s);
// Real system clock and sleep (the operating system's monotonic counter).
ClockValue system_clock_now();
void system_sleep_for(int32_t seconds, int32_t micros);

// Modal box with one OK button; on a terminal without a display the title and
// text go to standard error.
void message_box(const char* title, const char* format, ...) __attribute__((format(printf, 2, 3)));
