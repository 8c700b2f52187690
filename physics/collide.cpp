// placeholder: not built yet
#include "physics/collide.h"

void bike_collide(Bike* bike) {  }
bool bike_ground_collide(Bike* bike) { return false; }
bool wheel_ground_probe(Bike* bike, int32_t wheel) { return false; }
void record_wheel_mark(Bike* bike, int32_t wheel) {  }
