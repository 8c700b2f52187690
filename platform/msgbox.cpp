// The modal message box: SDL's when a display is available, else stderr.
#include <SDL2/SDL.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

void message_box(const char* title, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  const char* display = getenv("DISPLAY");
  const char* wayland = getenv("WAYLAND_DISPLAY");
  bool has_display = (display && *display) || (wayland && *wayland);
  if (!platform.headless && has_display &&
      SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title, text, nullptr) == 0)
    return;
  fprintf(stderr, "%s: %s", title, text);
  size_t n = strlen(text);
  if (n == 0 || text[n - 1] != '\n') fputc('\n', stderr);
}
