// The riders recorded in the demo being played, for the session that creates
// their bikes.
#pragma once

#include <cstdint>

struct DemoRider {
  const char* model;
  const char* number;
  const char* name;
  const char* textures[4];  // rider, helmet, bike, wheels; nullptr = default look
};

// Riders in the header of the demo being played (0 when none is open).
int32_t demo_player_bike_count();
void demo_player_rider(int32_t index, DemoRider* out);
// The session slot that plays recorded bike `index`.
void demo_player_set_slot(int32_t index, int32_t slot);
