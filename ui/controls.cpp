// Key bindings, the nine control values and axis/key capture.
#include "ui/controls.h"

#include <cmath>

#include "core/mem.h"
#include "core/program.h"
#include "platform/input.h"
#include "platform/log.h"

// ---------------------------------------------------------------- bindings

void bindings_resolve() {
  for (int32_t i = 0; i < BINDING_COUNT; i++) {
    KeyBinding* b = &settings.bindings[i];
    b->value = 0;
    b->key_code = 0;
    if (axis_valid(b->axis)) axis_close(b->axis);
    b->axis = AXIS_NONE;
    if (b->key_name) {
      int32_t code = key_code(b->key_name);
      if (code > 0)
        b->key_code = code;
      else if (debug_level > 0)
        log_printf("Unknown key \"%s\" for %s\n", b->key_name, b->label);
    } else if (b->axis_name) {
      if (!axis_open(b->axis_name, &b->axis)) {
        b->axis = AXIS_NONE;
        if (debug_level > 0) log_printf("Unknown axis \"%s\" for %s\n", b->axis_name, b->label);
      }
    }
  }
}

void bindings_release() {
  for (int32_t i = 0; i < BINDING_COUNT; i++) {
    KeyBinding* b = &settings.bindings[i];
    if (axis_valid(b->axis)) axis_close(b->axis);
    b->axis = AXIS_NONE;
  }
}

bool binding_is_key(const KeyBinding* b, int32_t code) {
  return b->key_code != 0 && b->key_code == code;
}

void binding_key_event(int32_t code, bool pressed) {
  for (int32_t i = 0; i < CONTROL_BINDING_COUNT; i++) {
    KeyBinding* b = &settings.bindings[i];
    if (binding_is_key(b, code)) b->value = pressed ? 1.0f : 0.0f;
  }
}

// Axis reading mapped through the calibrated range: 0 at low, 1 at high.
static float axis_value(const KeyBinding* b) {
  double a = axis_read(b->axis) / 32768.0;
  double low = b->low, high = b->high;
  double v;
  if (high != low) {
    v = (a - low) / (high - low);
  } else {
    v = a > low ? 1 : 0;
  }
  if (!(v > 0)) return 0;  // also NaN
  return v < 1 ? (float)v : 1.0f;
}

float binding_value(KeyBinding* b) {
  if (b->key_name) return b->value;
  if (b->axis_name && axis_valid(b->axis))
    b->value = axis_value(b);
  else
    b->value = 0;
  return b->value;
}

void controls_form(float values[CONTROL_SLOT_COUNT]) {
  for (int32_t s = 0; s < CONTROL_SLOT_COUNT; s++) values[s] = 0;
  for (int32_t i = 0; i < CONTROL_BINDING_COUNT; i++) {
    const BindingKey& k = BINDING_KEYS[i];
    values[k.slot] += k.scale * binding_value(&settings.bindings[i]);
  }
}

// ---------------------------------------------------------------- capture

struct CaptureAxis {
  const char* name;
  AxisHandle handle;  // AXIS_NONE when it failed to open
  double rest;
  double extreme;
  double time;  // of the last new extreme
};

struct Capture {
  KeyBinding* binding;  // nullptr when not capturing
  bool timed;           // start time known (first update)
  double start;
  int32_t key_code;  // 0 = no key captured yet
  const char* key_name;
  bool key_timed;
  double key_time;
  GrowArray<CaptureAxis> axes;
};

static Capture capture;

static constexpr double CAPTURE_SETTLE_SECONDS = 0.25;
static constexpr double CAPTURE_MIN_TRAVEL = 0.5;

// Closes every capture axis except keep (pass -1 to close all) and ends capture.
static void capture_finish(int32_t keep) {
  for (int32_t i = 0; i < capture.axes.count; i++) {
    CaptureAxis* a = grow_at(capture.axes, i);
    if (i != keep && axis_valid(a->handle)) axis_close(a->handle);
  }
  grow_free(capture.axes);
  capture.binding = nullptr;
  capture.key_code = 0;
  capture.key_name = nullptr;
  if (debug_level > 0) log_printf("Done watching pots\n");
}

void capture_start(KeyBinding* b) {
  if (capture.binding) capture_cancel();
  if (!b) return;
  capture.binding = b;
  capture.timed = false;
  capture.start = 0;
  capture.key_code = 0;
  capture.key_name = nullptr;
  capture.key_timed = false;
  capture.key_time = 0;
  capture.axes = GrowArray<CaptureAxis>{};
  if (debug_level > 0) log_printf("Watching pots\n");
  int32_t count = input_axis_list_count();
  for (int32_t i = 0; i < count; i++) {
    const char* name = input_axis_list_name(i);
    if (!name) continue;
    CaptureAxis a = {name, AXIS_NONE, 0, 0, 0};
    bool ok = axis_open(name, &a.handle);
    if (debug_level > 0) log_printf("\t%s %s\n", name, ok ? "Ok" : "Failed");
    if (!ok) continue;  // a failed axis is ignored
    a.rest = a.extreme = axis_read(a.handle) / 32768.0;
    if (!grow_push(capture.axes, a)) axis_close(a.handle);
  }
}

bool capture_active() { return capture.binding != nullptr; }

KeyBinding* capture_binding() { return capture.binding; }

void capture_key(int32_t code) {
  if (!capture.binding || capture.key_code != 0 || code <= 0) return;
  const char* name = key_name(code);
  if (!name || !*name) return;
  capture.key_code = code;
  capture.key_name = intern_string(name);
  capture.key_timed = false;
}

void capture_cancel() {
  if (capture.binding) capture_finish(-1);
}

static void bind_axis(int32_t index) {
  KeyBinding* b = capture.binding;
  CaptureAxis* a = grow_at(capture.axes, index);
  if (axis_valid(b->axis)) axis_close(b->axis);
  double travel = a->extreme - a->rest;
  b->key_name = nullptr;
  b->key_code = 0;
  b->axis_name = intern_string(a->name);
  b->axis = a->handle;
  b->low = (float)(a->rest + travel * 0.0625);
  b->high = (float)(a->rest + travel * 0.9375);
  b->value = 0;
  capture_finish(index);
}

static void bind_key() {
  KeyBinding* b = capture.binding;
  if (axis_valid(b->axis)) axis_close(b->axis);
  b->axis = AXIS_NONE;
  b->axis_name = nullptr;
  b->key_name = capture.key_name;
  b->key_code = capture.key_code;
  b->low = 0;
  b->high = 1;
  b->value = 0;
  capture_finish(-1);
}

void capture_update(double now) {
  if (!capture.binding) return;
  if (!capture.timed) {
    capture.timed = true;
    capture.start = now;
    for (int32_t i = 0; i < capture.axes.count; i++) grow_at(capture.axes, i)->time = now;
  }
  if (capture.key_code && !capture.key_timed) {
    capture.key_timed = true;
    capture.key_time = now;
  }

  double latest = capture.start;
  for (int32_t i = 0; i < capture.axes.count; i++) {
    CaptureAxis* a = grow_at(capture.axes, i);
    double v = axis_read(a->handle) / 32768.0;
    if (fabs(v - a->rest) > fabs(a->extreme - a->rest)) {
      a->extreme = v;
      a->time = now;
    }
    if (a->time > latest) latest = a->time;
  }
  for (int32_t i = 0; i < capture.axes.count; i++) {
    CaptureAxis* a = grow_at(capture.axes, i);
    if (fabs(a->extreme - a->rest) > CAPTURE_MIN_TRAVEL && now - a->time > CAPTURE_SETTLE_SECONDS) {
      bind_axis(i);
      return;
    }
  }
  // A key waits until the axes have been still for a while, counted from the
  // press, so a pedal swept just after a stray key press still wins.
  if (capture.key_code) {
    if (capture.key_time > latest) latest = capture.key_time;
    if (now - latest > CAPTURE_SETTLE_SECONDS) bind_key();
  }
}
