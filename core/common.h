// Program-wide constants and small shared types.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr double TICK_SECONDS = 1.0 / 128.0;
constexpr int TICKS_PER_SECOND = 128;
constexpr int MAX_BIKES = 160;
constexpr double MAX_FRAME_SECONDS = 0.125;

// Readback audio for "--record-audio": one tick's worth of 8-bit stereo.
constexpr int READBACK_AUDIO_RATE = 88320;
constexpr int READBACK_AUDIO_SAMPLES_PER_TICK = READBACK_AUDIO_RATE / TICKS_PER_SECOND;

enum BikeSlotKind : int32_t { LOCAL_RIDER = 0, REPLAYED = 1, ROBOT = 2 };

enum ViewMode : int32_t {
  RIDE_VIEW = 0,
  SPECTATE_VIEW = 1,
  EDITOR_VIEW = 2,
  CHASE_VIEW = 3,
  KEY_CAMERA_VIEW = 4,
  TITLE_VIEW = 5,
};

// The nine per-tick control values.
enum ControlSlot : int32_t {
  STEER = 0,
  THROTTLE = 1,
  FRONT_BRAKE = 2,
  REAR_BRAKE = 3,
  SHIFT = 4,
  CLUTCH = 5,
  SIT_DAB = 6,
  BACK_UP = 7,
  LEAN = 8,
  CONTROL_SLOT_COUNT = 9,
};

#define RT_ARRAY_COUNT(a) (int)(sizeof(a) / sizeof((a)[0]))
