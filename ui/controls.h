// Key bindings turned into the nine per-tick control values, and the
// "watching pots" capture by which the controls menu learns a new key or axis.
#pragma once

#include <cstdint>

#include "core/common.h"
#include "core/config.h"

// After the window (and its input devices) exist: key names become key
// codes, otherwise axis names are opened. Unknown names stay unresolved.
void bindings_resolve();
// Closes every binding's axis handle (shutdown, "Closing input devices").
void bindings_release();

// Every control binding whose key code is code takes 1 on press, 0 on release.
void binding_key_event(int32_t code, bool pressed);
// True when the binding is a resolved key binding for code (command keys).
bool binding_is_key(const KeyBinding* b, int32_t code);
// A binding's current value: 0 or 1 for keys, the calibrated 0..1 axis value.
float binding_value(KeyBinding* b);

// Sets the nine control values from the twelve control bindings.
void controls_form(float values[CONTROL_SLOT_COUNT]);

// Capture ("watching pots"). capture_update is called once per tick with the
// program clock; times of key presses are taken from the following update.
void capture_start(KeyBinding* b);
bool capture_active();
// The binding being captured, or nullptr.
KeyBinding* capture_binding();
// Offers a key press (not "esc", which cancels); later presses are ignored.
void capture_key(int32_t code);
void capture_update(double now_seconds);
// Ends capture leaving the binding unchanged.
void capture_cancel();
