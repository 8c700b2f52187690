// The message history: every user-visible status line goes to the on-screen
// message lines and to the log.
#pragma once

#include <cstdint>

constexpr int MESSAGE_RING_LINES = 1000;
constexpr int MESSAGE_LINE_CHARS = 127;

struct MessageHistory {
  char lines[MESSAGE_RING_LINES][MESSAGE_LINE_CHARS + 1];
  int32_t write_index;  // next line to write
  int32_t visible;      // lines currently shown on the HUD
  double expiry;        // program-clock time the oldest visible line goes
};

// The program's message history (lives for the whole run).
extern MessageHistory message_history;

void message_history_clear(MessageHistory& h);
// Adds a line at program-clock time now, showing at most max_visible lines.
void message_history_add(MessageHistory& h, const char* text, double now, int32_t max_visible);
// Per-frame expiry: drops one visible line when the clock passed the expiry.
void message_history_expire(MessageHistory& h, double now);
// The n-th most recent line (0 = newest).
const char* message_history_line(const MessageHistory& h, int32_t back);

// Logs the text and adds it to the program's history.
void print_message(const char* text);
void print_messagef(const char* format, ...) __attribute__((format(printf, 1, 2)));
