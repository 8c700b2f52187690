// placeholder: not built yet
#include "physics/crash.h"

double dab_speed_limit(const Bike* bike) { return 0; }
bool should_dab(const Bike* bike, double v2) { return false; }
void dab_and_back_up(Bike* bike) {  }
void dab_support(Bike* bike) {  }
Vec3 realign_target(const Bike* bike) { return {}; }
void hold_velocity(dBodyID body, Vec3 target, double max_force) {  }
