// Headless input back-end: events and axis readings come from an input
// script, timed by the headless clock.
//
//   1.25 press right ctrl       key press (names as key_code reads them)
//   1.5 release right ctrl      key release
//   2 type hello                typed characters, all at that time
//   3 axis joystick-a-y -20000  axis reading from that time on
//   # comment                   also after the fields (not inside typed text)
#include <cstdio>
#include <cstring>

#include "core/mem.h"
#include "platform/input.h"
#include "platform/platform.h"

namespace {

constexpr int64_t MICROS = 1000000;
constexpr int64_t MAX_SCRIPT_MICROS = 2147483647LL * MICROS + (MICROS - 1);

struct ScriptEvent {
  int64_t time_us;
  int32_t code;
  int32_t pressed;
};

struct AxisPoint {
  int64_t time_us;
  int32_t value;
};

// One scripted axis: readings over time for a device's axis.
struct ScriptAxis {
  char device[DEVICE_NAME_SIZE];
  int32_t index;
  GrowArray<AxisPoint> points;
};

struct InputScript {
  GrowArray<ScriptEvent> events;  // sorted by time
  int32_t next;                   // first event not yet queued
  GrowArray<ScriptAxis> axes;
};

InputScript script;

int64_t to_micros(ClockValue t) { return (int64_t)t.seconds * MICROS + t.micros; }

ClockValue from_micros(int64_t us) { return {(int32_t)(us / MICROS), (int32_t)(us % MICROS)}; }

// Stable merge sort by time_us; false when the work buffer cannot be had.
template <typename T>
bool sort_by_time(GrowArray<T>& list) {
  int32_t n = list.count;
  if (n < 2) return true;
  T* buffer = (T*)mem_alloc(sizeof(T) * (size_t)n);
  if (!buffer) return false;
  T* from = list.data;
  T* to = buffer;
  for (int32_t width = 1; width < n; width *= 2) {
    for (int32_t left = 0; left < n; left += 2 * width) {
      int32_t mid = left + width < n ? left + width : n;
      int32_t right = left + 2 * width < n ? left + 2 * width : n;
      int32_t i = left, j = mid, k = left;
      while (i < mid && j < right)
        to[k++] = from[j].time_us < from[i].time_us ? from[j++] : from[i++];
      while (i < mid) to[k++] = from[i++];
      while (j < right) to[k++] = from[j++];
    }
    T* swap = from;
    from = to;
    to = swap;
  }
  if (from != list.data) memcpy((void*)list.data, (const void*)from, sizeof(T) * (size_t)n);
  mem_free(buffer);
  return true;
}

void free_script(InputScript& s) {
  for (int32_t i = 0; i < s.axes.count; i++) grow_free(s.axes.data[i].points);
  grow_free(s.axes);
  grow_free(s.events);
  s.next = 0;
}

// ---------------------------------------------------------------- devices

bool script_read_axis(int32_t device_id, int32_t index, void* user, int32_t* value) {
  const InputDevice* device = input_device_by_id(device_id);
  if (!device) return false;
  for (int32_t i = 0; i < script.axes.count; i++) {
    const ScriptAxis& axis = script.axes.data[i];
    if (axis.index != index || strcmp(axis.device, device->name) != 0) continue;
    // Last reading at or before now; 0 before the first one.
    int64_t now = to_micros(clock_now());
    int32_t low = 0, high = axis.points.count;
    while (low < high) {
      int32_t mid = (low + high) / 2;
      if (axis.points.data[mid].time_us <= now)
        low = mid + 1;
      else
        high = mid;
    }
    *value = low > 0 ? axis.points.data[low - 1].value : 0;
    return true;
  }
  return false;
}

constexpr InputDeviceOps SCRIPT_DEVICE_OPS = {"script", nullptr,          nullptr,
                                              nullptr,  script_read_axis, nullptr};

// Makes every scripted device exist with enough axes; the axis records take
// the registered device names.
bool register_script_devices(InputScript& s) {
  for (int32_t i = 0; i < s.axes.count; i++) {
    ScriptAxis& axis = s.axes.data[i];
    int32_t id = input_device_ensure(axis.device, axis.index + 1, 0, &SCRIPT_DEVICE_OPS, nullptr);
    const InputDevice* device = input_device_by_id(id);
    if (!device) return false;
    snprintf(axis.device, sizeof axis.device, "%s", device->name);
  }
  return true;
}

void headless_poll() {
  int64_t now = to_micros(clock_now());
  while (script.next < script.events.count && input_queue_count() < INPUT_QUEUE_SIZE) {
    const ScriptEvent& event = script.events.data[script.next];
    if (event.time_us > now) break;
    input_queue_event(event.code, event.pressed != 0, from_micros(event.time_us));
    script.next++;
  }
}

void headless_enumerate(bool controllers) { register_script_devices(script); }

// ---------------------------------------------------------------- parsing

bool is_blank(char c) { return c == ' ' || c == '\t'; }

char* skip_blanks(char* p) {
  while (is_blank(*p)) p++;
  return p;
}

// Cuts the token at p (ending at a blank or the end); returns what follows.
char* cut_token(char* p) {
  while (*p && !is_blank(*p)) p++;
  if (*p) *p++ = 0;
  return p;
}

void trim_end(char* text) {
  size_t n = strlen(text);
  while (n > 0 && is_blank(text[n - 1])) text[--n] = 0;
}

// Seconds with an optional fraction, as microseconds (rounded).
enum class TimeParse { OK, BAD, NEGATIVE };

TimeParse parse_time(const char* text, int64_t* out) {
  const char* p = text;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') p++;
  int64_t whole = 0;
  int digits = 0;
  while (*p >= '0' && *p <= '9') {
    whole = whole * 10 + (*p++ - '0');
    if (whole > 2147483647LL) return TimeParse::BAD;
    digits++;
  }
  int64_t fraction = 0;
  int fraction_digits = 0;
  bool round_up = false;
  if (*p == '.') {
    p++;
    while (*p >= '0' && *p <= '9') {
      if (fraction_digits < 6)
        fraction = fraction * 10 + (*p - '0');
      else if (fraction_digits == 6)
        round_up = *p >= '5';
      fraction_digits++;
      p++;
    }
  }
  if (*p || digits + fraction_digits == 0) return TimeParse::BAD;
  for (int i = fraction_digits; i < 6; i++) fraction *= 10;
  int64_t us = whole * MICROS + fraction + (round_up ? 1 : 0);
  if (us > MAX_SCRIPT_MICROS) return TimeParse::BAD;
  if (negative && us != 0) return TimeParse::NEGATIVE;
  *out = us;
  return TimeParse::OK;
}

// Integer axis value, clamped to the controller range.
bool parse_axis_value(const char* text, int32_t* out) {
  const char* p = text;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') p++;
  if (!*p) return false;
  int64_t value = 0;
  for (; *p; p++) {
    if (*p < '0' || *p > '9') return false;
    if (value <= AXIS_RANGE) value = value * 10 + (*p - '0');
  }
  if (value > AXIS_RANGE) value = AXIS_RANGE;
  *out = (int32_t)(negative ? -value : value);
  return true;
}

// Key code through the installed aliases, or the built-in ones when they are
// not installed yet.
int32_t script_key_code(const char* name) {
  int32_t code = key_code(name);
  if (code >= 0) return code;
  const char* target = input_default_alias(name);
  return target ? key_code(target) : -1;
}

struct LineError {
  char* text;
  int size;
  int line;
};

bool fail(const LineError& e, const char* what, const char* detail) {
  if (e.text && e.size > 0) {
    if (detail)
      snprintf(e.text, (size_t)e.size, "input script line %d: %s '%.64s'", e.line, what, detail);
    else
      snprintf(e.text, (size_t)e.size, "input script line %d: %s", e.line, what);
  }
  return false;
}

bool out_of_memory(const LineError& e) {
  if (e.text && e.size > 0) snprintf(e.text, (size_t)e.size, "input script: out of memory");
  return false;
}

bool add_event(InputScript& s, int64_t time_us, int32_t code, bool pressed) {
  return grow_push(s.events, ScriptEvent{time_us, code, pressed ? 1 : 0}) != nullptr;
}

bool add_axis_point(InputScript& s, const char* device, int32_t index, AxisPoint point) {
  ScriptAxis* axis = nullptr;
  for (int32_t i = 0; i < s.axes.count && !axis; i++)
    if (s.axes.data[i].index == index && strcmp(s.axes.data[i].device, device) == 0)
      axis = &s.axes.data[i];
  if (!axis) {
    ScriptAxis fresh{};
    snprintf(fresh.device, sizeof fresh.device, "%s", device);
    fresh.index = index;
    axis = grow_push(s.axes, fresh);
    if (!axis) return false;
  }
  return grow_push(axis->points, point) != nullptr;
}

// Cuts a comment: "#" at the start of the fields or after a blank.
void cut_comment(char* p) {
  for (char* q = p; *q; q++) {
    if (*q == '#' && (q == p || is_blank(q[-1]))) {
      *q = 0;
      return;
    }
  }
}

bool parse_axis_line(InputScript& s, int64_t time_us, char* rest, const LineError& e) {
  if (!*rest) return fail(e, "missing axis name", nullptr);
  char* last_blank = nullptr;
  for (char* q = rest; *q; q++)
    if (is_blank(*q)) last_blank = q;
  if (!last_blank) return fail(e, "missing axis value", nullptr);
  char* value_text = last_blank + 1;
  *last_blank = 0;
  trim_end(rest);
  int32_t value;
  if (!parse_axis_value(value_text, &value)) return fail(e, "bad axis value", value_text);

  const char* target = input_alias_target(rest);
  if (!target) target = input_default_alias(rest);
  char device[DEVICE_NAME_SIZE];
  int32_t index;
  if (!input_parse_device_ref(target ? target : rest, true, device, &index))
    return fail(e, "unknown axis", rest);
  if (index >= MAX_DEVICE_AXES) return fail(e, "axis index too large", rest);
  if (!add_axis_point(s, device, index, {time_us, value})) return out_of_memory(e);
  return true;
}

bool parse_line(InputScript& s, char* line, const LineError& e) {
  size_t length = strlen(line);
  if (length > 0 && line[length - 1] == '\r') line[--length] = 0;
  char* p = skip_blanks(line);
  if (!*p || *p == '#') return true;

  char* time_text = p;
  p = cut_token(p);
  int64_t time_us = 0;
  TimeParse parsed = parse_time(time_text, &time_us);
  if (parsed == TimeParse::BAD) return fail(e, "bad time", time_text);
  if (parsed == TimeParse::NEGATIVE) return fail(e, "negative time", time_text);

  p = skip_blanks(p);
  if (!*p || *p == '#') return fail(e, "missing verb", nullptr);
  char* verb = p;
  bool has_text = false;
  while (*p && !is_blank(*p)) p++;
  if (*p) {
    has_text = true;
    *p++ = 0;
  }

  if (strcasecmp(verb, "type") == 0) {
    // The text is everything after the single blank, typed as it stands.
    if (!has_text || !*p) return fail(e, "missing text", nullptr);
    for (const char* c = p; *c; c++)
      if (!add_event(s, time_us, (unsigned char)*c, true)) return out_of_memory(e);
    return true;
  }

  cut_comment(p);
  char* rest = skip_blanks(p);
  trim_end(rest);
  bool press = strcasecmp(verb, "press") == 0;
  if (press || strcasecmp(verb, "release") == 0) {
    if (!*rest) return fail(e, "missing key name", nullptr);
    int32_t code = script_key_code(rest);
    if (code < 0) return fail(e, "unknown key", rest);
    if (!add_event(s, time_us, code, press)) return out_of_memory(e);
    return true;
  }
  if (strcasecmp(verb, "axis") == 0) return parse_axis_line(s, time_us, rest, e);
  return fail(e, "unknown verb", verb);
}

bool load_text(const char* text, size_t length, char* error, int error_size) {
  headless_input_reset();
  if (error && error_size > 0) error[0] = 0;
  LineError e = {error, error_size, 0};
  char* copy = (char*)mem_alloc(length + 1);
  if (!copy) return out_of_memory(e);
  if (length) memcpy(copy, text, length);
  copy[length] = 0;

  InputScript loaded{};
  bool ok = true;
  char* line = copy;
  for (int line_number = 1; ok && line; line_number++) {
    char* end = strchr(line, '\n');
    if (end) *end = 0;
    e.line = line_number;
    ok = parse_line(loaded, line, e);
    line = end ? end + 1 : nullptr;
  }
  mem_free(copy);

  if (ok && !sort_by_time(loaded.events)) ok = out_of_memory(e);
  for (int32_t i = 0; ok && i < loaded.axes.count; i++)
    if (!sort_by_time(loaded.axes.data[i].points)) ok = out_of_memory(e);
  if (ok && !register_script_devices(loaded)) {
    if (error && error_size > 0)
      snprintf(error, (size_t)error_size, "input script: can't create its input devices");
    ok = false;
  }
  if (!ok) {
    free_script(loaded);
    return false;
  }
  script = loaded;
  return true;
}

}  // namespace

const InputOps headless_input_ops = {"headless", headless_poll, headless_enumerate, nullptr};

bool headless_input_load_script_text(const char* text, char* error, int error_size) {
  return load_text(text ? text : "", text ? strlen(text) : 0, error, error_size);
}

bool headless_input_load_script(const char* path, char* error, int error_size) {
  FILE* file = path ? fopen(path, "rb") : nullptr;
  if (!file) {
    headless_input_reset();
    if (error && error_size > 0)
      snprintf(error, (size_t)error_size, "input script: can't open '%.200s'", path ? path : "");
    return false;
  }
  char* text = nullptr;
  size_t length = 0, capacity = 0;
  bool ok = true;
  for (;;) {
    if (length == capacity) {
      size_t bigger = capacity ? capacity * 2 : 4096;
      char* grown = (char*)mem_realloc(text, bigger);
      if (!grown) {
        ok = false;
        break;
      }
      text = grown;
      capacity = bigger;
    }
    size_t got = fread(text + length, 1, capacity - length, file);
    if (!got) break;
    length += got;
  }
  bool read_error = ferror(file) != 0;
  fclose(file);
  if (ok && !read_error && length && memchr(text, 0, length)) {
    headless_input_reset();
    if (error && error_size > 0)
      snprintf(error, (size_t)error_size, "input script: '%.200s' is not a text file", path);
    mem_free(text);
    return false;
  }
  if (!ok || read_error) {
    headless_input_reset();
    if (error && error_size > 0)
      snprintf(error, (size_t)error_size, "input script: can't read '%.200s'", path);
    mem_free(text);
    return false;
  }
  ok = load_text(text ? text : "", length, error, error_size);
  mem_free(text);
  return ok;
}

void headless_input_reset() { free_script(script); }

int32_t headless_input_pending() { return script.events.count - script.next; }
