// placeholder: not built yet
#include "race/race.h"
uint32_t state_encode(double, double, double, int32_t) { return 0; }
double state_decode(uint32_t, double, double, int32_t) { return 0; }
uint32_t state_read(const uint8_t*, int32_t) { return 0; }
void state_write(uint8_t*, int32_t, uint32_t) {}
BikeState bike_state_pack(const Bike*) { return {}; }
BikeState bike_state_interpolate(const BikeState& a, const BikeState&, double) { return a; }
