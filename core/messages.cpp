#include "core/messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/config.h"
#include "core/program.h"
#include "platform/log.h"

MessageHistory message_history;

void message_history_clear(MessageHistory& h) { memset(&h, 0, sizeof h); }

void message_history_add(MessageHistory& h, const char* text, double now, int32_t max_visible) {
  char* line = h.lines[h.write_index];
  snprintf(line, MESSAGE_LINE_CHARS + 1, "%s", text);
  h.write_index = (h.write_index + 1) % MESSAGE_RING_LINES;
  if (h.visible < max_visible) h.visible++;
  h.expiry = now + 2.0;
}

void message_history_expire(MessageHistory& h, double now) {
  if (now > h.expiry && h.visible > 0) {
    h.visible--;
    h.expiry = now + 5.0;
  }
}

const char* message_history_line(const MessageHistory& h, int32_t back) {
  int32_t index = ((h.write_index - 1 - back) % MESSAGE_RING_LINES + MESSAGE_RING_LINES) %
                  MESSAGE_RING_LINES;
  return h.lines[index];
}

void print_message(const char* text) {
  size_t n = strlen(text);
  const char* reset = strchr(text, 27) ? "\x1b[0m" : "";
  if (n > 0 && text[n - 1] == '\n')
    log_printf("%s%s", text, reset);
  else
    log_printf("%s%s\n", text, reset);
  message_history_add(message_history, text, program.clock, settings.message_lines);
}

void print_messagef(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  print_message(text);
}
