// The demo player's riders as the session sees them.
#include "race/demo_riders.h"

#include <cstring>

#include "race/demo.h"

int32_t demo_player_bike_count() { return 0; }
void demo_player_rider(int32_t, DemoRider* out) { memset(out, 0, sizeof *out); }
void demo_player_set_slot(int32_t, int32_t) {}
