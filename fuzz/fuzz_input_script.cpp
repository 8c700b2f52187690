// Feeds arbitrary text to the headless input script loader, then lets the
// clock run over it, draining the event queue and reading the scripted axes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/mem.h"
#include "platform/input.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform_use_headless();
  headless_input_reset();
  input_reset();
  input_install_default_aliases(true);

  char* text = (char*)malloc(size + 1);
  if (!text) return 0;
  memcpy(text, data, size);
  text[size] = 0;
  char error[160];
  bool loaded = headless_input_load_script_text(text, error, sizeof error);
  free(text);
  if (!loaded && !memchr(error, 0, sizeof error)) abort();  // error text must end

  // Open every axis offered, plus the ones the aliases name.
  AxisHandle handles[8];
  int32_t open = 0;
  const char* names[] = {"joystick-a-x", "joystick-a-y", "joystick-b-x", "cursor-x"};
  for (const char* name : names)
    if (open < 8 && axis_open(name, &handles[open])) open++;
  for (int32_t i = 0; i < input_axis_list_count() && open < 8; i++)
    if (axis_open(input_axis_list_name(i), &handles[open])) open++;

  const int64_t steps[] = {0, 250000, 1000000, 60000000, 4000000000000LL};
  ClockValue last = {0, 0};
  for (int64_t micros : steps) {
    headless_clock_set({(int32_t)(micros / 1000000 > 2147483647 ? 2147483647 : micros / 1000000),
                        (int32_t)(micros % 1000000)});
    InputEvent event;
    int32_t drained = 0;
    while (input_next_due(clock_now(), &event) && drained < 100000) {
      if (event.code < 0) abort();
      // Events come out in time order.
      if (event.time.seconds < last.seconds ||
          (event.time.seconds == last.seconds && event.time.micros < last.micros))
        abort();
      last = event.time;
      key_name(event.code);
      drained++;
    }
    for (int32_t i = 0; i < open; i++) {
      int32_t value = axis_read(handles[i]);
      if (value < -AXIS_RANGE || value > AXIS_RANGE) {
        // Only the cursor may go beyond the controller range (script values
        // are clamped, so this would be a fault).
        abort();
      }
    }
  }
  for (int32_t i = 0; i < open; i++) axis_close(handles[i]);
  return 0;
}
