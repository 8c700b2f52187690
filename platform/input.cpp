// The input event queue, name aliases, the device registry and axis handles.
#include "platform/input.h"

#include <pthread.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/mem.h"
#include "platform/platform.h"

namespace {

// ---------------------------------------------------------------- queue
// Ring of events in timestamp order; the window thread (when there is one)
// appends under the lock while the main thread removes.
struct EventQueue {
  InputEvent events[INPUT_QUEUE_SIZE];
  int32_t read;
  int32_t count;
};

EventQueue queue;
pthread_mutex_t queue_lock = PTHREAD_MUTEX_INITIALIZER;

bool time_after(ClockValue a, ClockValue b) {
  return a.seconds > b.seconds || (a.seconds == b.seconds && a.micros > b.micros);
}

InputEvent& queue_at(int32_t position) {
  return queue.events[(queue.read + position) % INPUT_QUEUE_SIZE];
}

// Removes the head when there is one and (with a deadline) it is due.
bool queue_take(const ClockValue* deadline, InputEvent* out) {
  pthread_mutex_lock(&queue_lock);
  bool taken = false;
  if (queue.count > 0 && !(deadline && time_after(queue_at(0).time, *deadline))) {
    if (out) *out = queue_at(0);
    queue.read = (queue.read + 1) % INPUT_QUEUE_SIZE;
    queue.count--;
    taken = true;
  }
  pthread_mutex_unlock(&queue_lock);
  return taken;
}

// ---------------------------------------------------------------- aliases
struct Alias {
  char* name;
  char* target;
};

GrowArray<Alias> aliases;

struct DefaultAlias {
  const char* name;
  const char* target;
  bool controller;
};

constexpr DefaultAlias DEFAULT_ALIASES[] = {
    {"cursor-left", "Mouse Left", false},        {"cursor-middle", "Mouse Middle", false},
    {"cursor-right", "Mouse Right", false},      {"cursor-x", "cursor.axis[0]", false},
    {"cursor-y", "cursor.axis[1]", false},       {"mouse-x", "Mouse.axis[0]", false},
    {"mouse-y", "Mouse.axis[1]", false},         {"mouse-left", "Mouse.key[0]", false},
    {"mouse-right", "Mouse.key[1]", false},      {"mouse-middle", "Mouse.key[2]", false},
    {"joystick-a-x", "Joystick1.axis[0]", true}, {"joystick-a-y", "Joystick1.axis[1]", true},
    {"joystick-a-1", "Joystick1.key[0]", true},  {"joystick-a-2", "Joystick1.key[1]", true},
    {"joystick-b-x", "Joystick2.axis[0]", true}, {"joystick-b-y", "Joystick2.axis[1]", true},
    {"joystick-b-1", "Joystick2.key[0]", true},  {"joystick-b-2", "Joystick2.key[1]", true},
};

// ---------------------------------------------------------------- devices
constexpr int32_t MAX_DEVICES = 1024;
constexpr int32_t DEVICE_ID_MASK = 0x7FFF;
// Room kept for a "#%d" suffix when a product name is shortened.
constexpr size_t DEVICE_BASE_NAME_MAX = DEVICE_NAME_SIZE - 8;

GrowArray<InputDevice> devices;

int32_t clamp_count(int32_t value, int32_t limit) {
  return value < 0 ? 0 : value > limit ? limit : value;
}

// The product name without white space and dots, shortened so that the name
// with a suffix still fits a key name; "Device" when nothing is left.
void clean_device_name(const char* product_name, char* out) {
  size_t length = 0;
  for (const char* p = product_name ? product_name : ""; *p; p++) {
    if (*p == '.' || isspace((unsigned char)*p)) continue;
    if (length >= DEVICE_BASE_NAME_MAX) break;
    out[length++] = *p;
  }
  out[length] = 0;
  if (!length) strcpy(out, "Device");
}

InputDevice* device_by_id(int32_t device_id) {
  for (int32_t i = 0; i < devices.count; i++)
    if (devices.data[i].id == device_id) return &devices.data[i];
  return nullptr;
}

InputDevice* device_named(const char* name, bool ignore_case) {
  for (int32_t i = 0; i < devices.count; i++) {
    const char* have = devices.data[i].name;
    if (ignore_case ? strcasecmp(have, name) == 0 : strcmp(have, name) == 0)
      return &devices.data[i];
  }
  return nullptr;
}

// Adds a device under a name that is already clean; "#2", "#3", ... make it
// unique.
int32_t add_clean_device(const char* clean_name, int32_t axes, int32_t buttons,
                         const InputDeviceOps* ops, void* user) {
  if (devices.count >= MAX_DEVICES) return -1;
  InputDevice device;
  memset(&device, 0, sizeof device);
  snprintf(device.name, sizeof device.name, "%s", clean_name);
  for (int32_t n = 2; device_named(device.name, false); n++)
    snprintf(device.name, sizeof device.name, "%s#%d", clean_name, (int)n);
  // Id 0 would make the device's button codes those of typed characters
  // and keyboard keys, so it is skipped like a taken one.
  int32_t id = input_device_name_id(device.name);
  while (id == 0 || device_by_id(id)) id = (id + 1) & DEVICE_ID_MASK;
  device.id = id;
  device.axes = clamp_count(axes, MAX_DEVICE_AXES);
  device.buttons = clamp_count(buttons, MAX_DEVICE_BUTTONS);
  device.ops = ops;
  device.user = user;
  if (!grow_push(devices, device)) return -1;
  return id;
}

bool device_start(int32_t device_id) {
  InputDevice* device = device_by_id(device_id);
  if (!device) return false;
  if (device->started) return true;
  if (device->ops && device->ops->start && !device->ops->start(device_id, device->user))
    return false;
  device = device_by_id(device_id);  // the start may have changed the list
  if (!device) return false;
  device->started = true;
  return true;
}

void device_stop_if_unused(int32_t device_id) {
  InputDevice* device = device_by_id(device_id);
  if (!device || !device->started || device->use_count > 0 || device->buttons_bound) return;
  device->started = false;
  if (device->ops && device->ops->stop) device->ops->stop(device_id, device->user);
}

void remove_device_at(int32_t index) {
  InputDevice device = devices.data[index];
  memmove((void*)&devices.data[index], (const void*)&devices.data[index + 1],
          sizeof(InputDevice) * (size_t)(devices.count - index - 1));
  devices.count--;
  if (device.started && device.ops && device.ops->stop) device.ops->stop(device.id, device.user);
  if (device.ops && device.ops->close) device.ops->close(device.id, device.user);
}

void remove_all_devices() {
  while (devices.count > 0) remove_device_at(0);
  grow_free(devices);
}

void free_aliases() {
  for (int32_t i = 0; i < aliases.count; i++) {
    mem_free(aliases.data[i].name);
    mem_free(aliases.data[i].target);
  }
  grow_free(aliases);
}

void pump_window() {
  if (platform.window && platform.window->pump) platform.window->pump();
}

// The back-end's own events, then every started device's buffered buttons.
void poll_devices() {
  if (platform.input && platform.input->poll) platform.input->poll();
  for (int32_t i = 0; i < devices.count; i++) {
    InputDevice& device = devices.data[i];
    if (device.started && device.ops && device.ops->poll) device.ops->poll(device.id, device.user);
  }
}

bool next_event(const ClockValue* deadline, InputEvent* out) {
  pump_window();
  if (queue_take(deadline, out)) return true;
  poll_devices();
  return queue_take(deadline, out);
}

}  // namespace

// ---------------------------------------------------------------- queue

bool input_next_due(ClockValue deadline, InputEvent* out) { return next_event(&deadline, out); }

bool input_next(InputEvent* out) { return next_event(nullptr, out); }

void input_queue_event(int32_t code, bool pressed, ClockValue time) {
  if (code < 0) return;
  pthread_mutex_lock(&queue_lock);
  if (queue.count < INPUT_QUEUE_SIZE) {
    // Later-stamped events already waiting move back one place each.
    int32_t position = queue.count;
    while (position > 0 && time_after(queue_at(position - 1).time, time)) {
      queue_at(position) = queue_at(position - 1);
      position--;
    }
    queue_at(position) = {code, pressed ? 1 : 0, time};
    queue.count++;
  }
  pthread_mutex_unlock(&queue_lock);
}

void input_queue_clear() {
  pthread_mutex_lock(&queue_lock);
  queue.read = 0;
  queue.count = 0;
  pthread_mutex_unlock(&queue_lock);
}

int32_t input_queue_count() {
  pthread_mutex_lock(&queue_lock);
  int32_t count = queue.count;
  pthread_mutex_unlock(&queue_lock);
  return count;
}

// ---------------------------------------------------------------- aliases

const char* input_alias_target(const char* name) {
  if (!name) return nullptr;
  for (int32_t i = 0; i < aliases.count; i++)
    if (key_names_match_loosely(aliases.data[i].name, name)) return aliases.data[i].target;
  return nullptr;
}

bool input_alias(const char* name, const char* target) {
  if (!name || !target) return false;
  if (input_alias_target(name)) {
    log_printf("Second alias for '%s' ('%s') ignored\n", name, target);
    return false;
  }
  Alias alias = {mem_strdup(name), mem_strdup(target)};
  if (!alias.name || !alias.target || !grow_push(aliases, alias)) {
    mem_free(alias.name);
    mem_free(alias.target);
    log_printf("Can't alias %s to %s -- out of memory\n", name, target);
    return false;
  }
  return true;
}

const char* input_default_alias(const char* name) {
  if (!name) return nullptr;
  for (const DefaultAlias& alias : DEFAULT_ALIASES)
    if (key_names_match_loosely(alias.name, name)) return alias.target;
  return nullptr;
}

void input_install_default_aliases(bool controllers) {
  for (const DefaultAlias& alias : DEFAULT_ALIASES) {
    if (alias.controller && !controllers) continue;
    const char* existing = input_alias_target(alias.name);
    if (existing && strcmp(existing, alias.target) == 0) continue;
    input_alias(alias.name, alias.target);
  }
}

// ---------------------------------------------------------------- devices

int32_t input_device_name_id(const char* name) {
  uint16_t even_sum = 0;
  uint8_t odd_sum = 0;
  for (int32_t i = 0; name && name[i]; i++) {
    unsigned char c = (unsigned char)name[i];
    if (i % 2 == 0)
      even_sum = (uint16_t)(even_sum + c);
    else
      odd_sum = (uint8_t)(odd_sum + c);
  }
  return (int32_t)((even_sum + 256 * (uint32_t)odd_sum) & DEVICE_ID_MASK);
}

int32_t input_device_add(const char* product_name, int32_t axes, int32_t buttons,
                         const InputDeviceOps* ops, void* user) {
  if (axes <= 0 && buttons <= 0) return -1;
  char clean[DEVICE_NAME_SIZE];
  clean_device_name(product_name, clean);
  return add_clean_device(clean, axes, buttons, ops, user);
}

int32_t input_device_ensure(const char* name, int32_t axes, int32_t buttons,
                            const InputDeviceOps* ops, void* user) {
  char clean[DEVICE_NAME_SIZE];
  clean_device_name(name, clean);
  InputDevice* device = device_named(clean, false);
  int32_t id;
  if (device) {
    id = device->id;
    if (device->axes < axes) device->axes = clamp_count(axes, MAX_DEVICE_AXES);
    if (device->buttons < buttons) device->buttons = clamp_count(buttons, MAX_DEVICE_BUTTONS);
    if (ops) {
      device->ops = ops;
      device->user = user;
    }
  } else {
    if (axes <= 0 && buttons <= 0) return -1;
    id = add_clean_device(clean, axes, buttons, ops, user);
    if (id < 0) return -1;
    device = device_by_id(id);
  }
  if (strcmp(device->name, "cursor") == 0) device->is_cursor = true;
  return id;
}

void input_device_remove(int32_t device_id) {
  for (int32_t i = 0; i < devices.count; i++) {
    if (devices.data[i].id == device_id) {
      remove_device_at(i);
      return;
    }
  }
}

const InputDevice* input_device_by_id(int32_t device_id) { return device_by_id(device_id); }

const InputDevice* input_device_find(const char* name) {
  if (!name) return nullptr;
  InputDevice* device = device_named(name, false);
  if (device) return device;
  char clean[DEVICE_NAME_SIZE];
  clean_device_name(name, clean);
  device = device_named(clean, false);
  return device ? device : device_named(clean, true);
}

int32_t input_device_count() { return devices.count; }

const InputDevice* input_device_at(int32_t index) { return grow_at(devices, index); }

void input_device_set_axis(int32_t device_id, int32_t index, int32_t value) {
  InputDevice* device = device_by_id(device_id);
  if (device && index >= 0 && index < device->axes) device->axis_values[index] = value;
}

bool input_device_bind_buttons(int32_t device_id) {
  if (!device_start(device_id)) return false;
  device_by_id(device_id)->buttons_bound = true;
  return true;
}

int32_t input_cursor_device() { return input_device_ensure("cursor", 2, 0, nullptr, nullptr); }

void input_set_cursor(int32_t x, int32_t y) {
  int32_t id = input_cursor_device();
  input_device_set_axis(id, 0, x);
  input_device_set_axis(id, 1, y);
}

void input_devices_open(bool controllers) {
  input_cursor_device();
  if (platform.input && platform.input->enumerate) platform.input->enumerate(controllers);
  input_install_default_aliases(controllers);
}

void input_devices_close() {
  if (devices.count > 0) log_printf("Closing input devices\n");
  remove_all_devices();
  free_aliases();
}

void input_reset() {
  input_queue_clear();
  free_aliases();
  remove_all_devices();
}

int32_t input_axis_list_count() {
  int32_t count = 0;
  for (int32_t i = 0; i < devices.count; i++)
    if (!devices.data[i].is_cursor) count += devices.data[i].axes;
  return count;
}

const char* input_axis_list_name(int32_t index) {
  if (index < 0) return nullptr;
  for (int32_t i = 0; i < devices.count; i++) {
    const InputDevice& device = devices.data[i];
    if (device.is_cursor) continue;
    if (index < device.axes) {
      char text[DEVICE_NAME_SIZE + 32];
      snprintf(text, sizeof text, "%.200s axis %d", device.name, (int)index);
      return intern_string(text);
    }
    index -= device.axes;
  }
  return nullptr;
}

// ---------------------------------------------------------------- axes

bool axis_open(const char* name, AxisHandle* out) {
  if (out) *out = AXIS_NONE;
  if (!name) return false;
  const char* target = input_alias_target(name);
  if (target) name = target;
  char device_name[DEVICE_NAME_SIZE];
  int32_t index;
  if (!input_parse_device_ref(name, true, device_name, &index)) return false;
  const InputDevice* device = input_device_find(device_name);
  if (!device || index >= device->axes) return false;
  int32_t id = device->id;
  if (!device_start(id)) return false;
  device_by_id(id)->use_count++;
  if (out) *out = {id, index};
  return true;
}

int32_t axis_read(AxisHandle handle) {
  InputDevice* device = device_by_id(handle.device);
  if (!device || handle.index < 0 || handle.index >= device->axes) return 0;
  int32_t value;
  if (device->ops && device->ops->read_axis &&
      device->ops->read_axis(device->id, handle.index, device->user, &value))
    return value;
  return device->axis_values[handle.index];
}

void axis_close(AxisHandle handle) {
  InputDevice* device = device_by_id(handle.device);
  if (!device || device->use_count <= 0) return;
  device->use_count--;
  device_stop_if_unused(handle.device);
}
