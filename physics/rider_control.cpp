// placeholder: not built yet
#include "physics/rider_control.h"

void controls_apply(Bike* bike, const float values[CONTROL_SLOT_COUNT]) {  }
void bike_set_steer(Bike* bike, float value) {  }
void bike_set_throttle(Bike* bike, float value) {  }
void bike_set_front_brake(Bike* bike, float value) {  }
void bike_set_rear_brake(Bike* bike, float value) {  }
void bike_set_clutch_lever(Bike* bike, float lever) {  }
void bike_set_clutch(Bike* bike, float engagement) {  }
void bike_set_dab(Bike* bike, float value) {  }
void bike_set_back_up(Bike* bike, float value) {  }
void bike_set_lean(Bike* bike, float value) {  }
void gate_hold(Bike* bike, bool penalty) {  }
void aid_setup_defaults(Bike* bike) {  }
bool apply_setup(Bike* bike) { return false; }
void forbid_arcade(Bike** bikes, int32_t count) {  }
