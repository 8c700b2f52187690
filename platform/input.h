// Input devices: the timestamped event queue, key codes and key names, name
// aliases, the device registry with its analogue axes, and the headless
// back-end's scripted input.
//
// Back-ends (the headless script, the window toolkit) queue their events with
// input_queue_event and register their devices with input_device_add or
// input_device_ensure; everything above reads events with input_next_due or
// input_next and turns names into codes and axis handles.
#pragma once

#include <cstdint>

#include "platform/log.h"

// ---------------------------------------------------------------- key codes
// 0..255 typed characters (pressed only); 0x1000 + scan code for keyboard
// keys (set-1 scan codes, 0x100 added for extended keys); the mouse buttons;
// the window's close request (pressed only); device buttons are
// device id * 65536 + button.
constexpr int32_t KEY_SCAN_BASE = 0x1000;
constexpr int32_t KEY_SCAN_COUNT = 0x200;
constexpr int32_t KEY_EXTENDED = 0x100;
constexpr int32_t KEY_MOUSE_LEFT = 0x2000;
constexpr int32_t KEY_MOUSE_MIDDLE = 0x2001;
constexpr int32_t KEY_MOUSE_RIGHT = 0x2002;
constexpr int32_t KEY_CLOSE = 0xDEAD;
constexpr int32_t KEY_DEVICE_SHIFT = 16;
constexpr int32_t KEY_DEVICE_BUTTONS = 256;  // buttons that have key codes

inline int32_t key_device_button(int32_t device_id, int32_t button) {
  return (device_id << KEY_DEVICE_SHIFT) + button;
}

// ---------------------------------------------------------------- events
struct InputEvent {
  int32_t code;
  int32_t pressed;  // 1 pressed, 0 released
  ClockValue time;
};

constexpr int32_t INPUT_QUEUE_SIZE = 256;

// The oldest queued event when its timestamp is at or before the deadline.
// Runs the window's message handling first; when nothing suitable is queued,
// polls the back-end and every started device and looks again.
bool input_next_due(ClockValue deadline, InputEvent* out);
// The oldest queued event, whatever its time (same pumping and polling).
bool input_next(InputEvent* out);
// Adds an event in timestamp order (after queued events with the same or an
// earlier time). Dropped silently when the queue is full or the code is
// negative. Safe to call from a window thread.
void input_queue_event(int32_t code, bool pressed, ClockValue time);
void input_queue_clear();
int32_t input_queue_count();

// ---------------------------------------------------------------- names
// Key code for a name (aliases, exact then loose names, "0x1d" scan codes,
// device buttons "Pad.key[3]" / "Pad button 3"); -1 when unknown. A device
// button keeps its device started until the devices are closed.
int32_t key_code(const char* name);
// Name for a code (pooled string, valid until exit); nullptr when none.
const char* key_name(int32_t code);

// Number of fixed key names and the i-th one with its code (keyboard names
// first in table order, then the special names).
int32_t key_fixed_name_count();
const char* key_fixed_name(int32_t index, int32_t* code);

// Adds an alias (name -> target). A second alias for the same name is refused
// and logged; false also when out of memory.
bool input_alias(const char* name, const char* target);
// Installed alias target for a name (case ignored), or nullptr.
const char* input_alias_target(const char* name);
// Target in the built-in alias table (installed or not), or nullptr.
const char* input_default_alias(const char* name);
// The built-in aliases: cursor and mouse always, joysticks when controllers
// is true. Aliases that already exist with the same target are left alone.
void input_install_default_aliases(bool controllers);

// ---------------------------------------------------------------- devices
constexpr int32_t MAX_DEVICE_AXES = 100;
constexpr int32_t MAX_DEVICE_BUTTONS = 500;
constexpr int32_t DEVICE_NAME_SIZE = 64;  // names fit the 63 characters key names allow
constexpr int32_t AXIS_RANGE = 32767;     // controller axes read -32767..32767

// What a back-end does for one kind of device. Every entry may be null.
struct InputDeviceOps {
  const char* kind;
  // First use (an axis opened or a button bound); false: the device failed.
  bool (*start)(int32_t device_id, void* user);
  // Last axis handle closed.
  void (*stop)(int32_t device_id, void* user);
  // Queues buffered button events (called while started, from input_next*).
  void (*poll)(int32_t device_id, void* user);
  // Live axis reading; false (or no function) reads the stored value.
  bool (*read_axis)(int32_t device_id, int32_t index, void* user, int32_t* value);
  // The device is being removed.
  void (*close)(int32_t device_id, void* user);
};

struct InputDevice {
  char name[DEVICE_NAME_SIZE];
  int32_t id;  // 1..32767, unique
  int32_t axes;
  int32_t buttons;
  int32_t use_count;   // open axis handles
  bool buttons_bound;  // a key_code named one of its buttons
  bool started;
  bool is_cursor;
  const InputDeviceOps* ops;
  void* user;
  int32_t axis_values[MAX_DEVICE_AXES];
};

// Registers a device: the product name without blanks and dots (made unique
// with "#2", "#3", ...), the id from the name, at most 100 axes and 500
// buttons. Returns the device id, or -1 (no axes and no buttons, out of
// memory).
int32_t input_device_add(const char* product_name, int32_t axes, int32_t buttons,
                         const InputDeviceOps* ops, void* user);
// The device with this (cleaned) name, created when missing; grows its axis
// and button counts to at least the given ones and, when ops is not null,
// attaches ops and user. Returns the device id or -1.
int32_t input_device_ensure(const char* name, int32_t axes, int32_t buttons,
                            const InputDeviceOps* ops, void* user);
// Removes one device (stopping and closing it).
void input_device_remove(int32_t device_id);
const InputDevice* input_device_by_id(int32_t device_id);
// By name: exact, then cleaned, then cleaned with case ignored.
const InputDevice* input_device_find(const char* name);
int32_t input_device_count();
const InputDevice* input_device_at(int32_t index);
// Stored axis value written by a back-end (clamping is the caller's choice).
void input_device_set_axis(int32_t device_id, int32_t index, int32_t value);
// Id from a name: even-position byte sum (16 bits) + 256 * odd-position byte
// sum (8 bits), mod 32768.
int32_t input_device_name_id(const char* name);

// The pointer device "cursor" (x and y in window client pixels), created on
// first call; returns its id.
int32_t input_cursor_device();
void input_set_cursor(int32_t x, int32_t y);

// Window open: the cursor device, the back-end's devices (controllers only
// when enumeration is enabled) and the default aliases.
void input_devices_open(bool controllers);
// Window close: logs "Closing input devices" when any exist, removes them and
// forgets the aliases (installed again with the devices).
void input_devices_close();
// Forgets queue, aliases and devices silently (tests, shutdown).
void input_reset();

// Axes offered for binding: "<device> axis <n>" for every axis of every
// device except the cursor. Pooled strings.
int32_t input_axis_list_count();
const char* input_axis_list_name(int32_t index);

// Helpers shared by the name and device code.
// Names equal when case is ignored and white space and "_" count as a space.
bool key_names_match_loosely(const char* a, const char* b);
// Splits "Dev.axis[n]" / "Dev axis n" (axis true) or "Dev.key[n]" /
// "Dev button n" (axis false) into a device name (at most 63 characters) and
// a number.
bool input_parse_device_ref(const char* name, bool axis, char* device, int32_t* number);
// Marks a device's buttons as bound and starts it; false when it cannot start.
bool input_device_bind_buttons(int32_t device_id);

// ---------------------------------------------------------------- axes
struct AxisHandle {
  int32_t device;  // device id
  int32_t index;
};
constexpr AxisHandle AXIS_NONE = {-1, -1};
inline bool axis_valid(AxisHandle handle) { return handle.device >= 0 && handle.index >= 0; }

// Resolves aliases, parses "Dev.axis[n]" or "Dev axis n", starts the device on
// its first use. False (and AXIS_NONE) when the name is unknown.
bool axis_open(const char* name, AxisHandle* out);
// Current reading (0 for an invalid or stale handle).
int32_t axis_read(AxisHandle handle);
void axis_close(AxisHandle handle);

// ---------------------------------------------------------------- headless back-end
// Input script, one event a line (times in seconds of the headless clock):
//   "<s> press <key>", "<s> release <key>", "<s> type <text>",
//   "<s> axis <axis name> <value>"; "#" starts a comment.
// Loading replaces the previous script; on failure no script remains and
// error holds "input script line N: ...".
bool headless_input_load_script(const char* path, char* error, int error_size);
bool headless_input_load_script_text(const char* text, char* error, int error_size);
// Forgets the script.
void headless_input_reset();
// Script events not yet moved to the queue.
int32_t headless_input_pending();
