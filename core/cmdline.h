// The command line.
#pragma once

#include "core/program.h"

enum CommandLineResult {
  COMMAND_LINE_OK = 0,
  COMMAND_LINE_EXIT_OK = 1,     // "--open-home" done: exit 0
  COMMAND_LINE_EXIT_ERROR = 2,  // message in error: exit 1
};

// Parses argv[1..argc-1] into run_options and overrides settings and
// derived values. On COMMAND_LINE_EXIT_ERROR, error holds the text for
// standard error (with its line feed).
CommandLineResult parse_command_line(int argc, const char* const* argv, char* error,
                                     int error_size);

// True when argv (before any lone "--") contains exactly this option.
bool command_line_has(int argc, const char* const* argv, const char* option);
