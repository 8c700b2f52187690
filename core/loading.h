// Loading messages shown on the title screen while the program works.
#pragma once

void show_loading_message(const char* text);
// As show_loading_message, plus a log line when text is not empty.
void log_loading_message(const char* text);
// As log_loading_message, and the spinner starts again from no dots.
void log_loading_message_reset_spinner(const char* text);
// Shows "%.64s" with 0..3 dots; does nothing within 0.125 s of the last call.
void loading_spinner(const char* text);
// Shows "%.64s...done".
void loading_done(const char* text);

// Longest gap between two loading messages and the message before it.
double loading_max_delay();
const char* loading_max_delay_text();
void loading_reset_stats();
// The text most recently shown.
const char* loading_last_text();
