// The demo player's riders as the session sees them.
#include "race/demo_riders.h"

#include <cstring>

#include "core/common.h"
#include "race/demo.h"

int32_t demo_player_bike_count() {
  return demo_player.stream.file ? demo_player.header.bike_count : 0;
}

void demo_player_rider(int32_t index, DemoRider* out) {
  memset(out, 0, sizeof *out);
  if (index < 0 || index >= demo_player_bike_count()) return;
  const DemoBikeInfo& b = demo_player.header.bikes[index];
  out->model = b.model;
  out->number = b.number;
  out->name = b.name;
  out->textures[0] = b.rider_texture;
  out->textures[1] = b.helmet_texture;
  out->textures[2] = b.bike_texture;
  out->textures[3] = b.wheel_texture;
}

void demo_player_set_slot(int32_t index, int32_t slot) {
  if (index >= 0 && index < MAX_BIKES) demo_player.slots[index] = slot;
}
