// placeholder: not built yet
#include "physics/crash.h"

void crash_checks(Bike* bike) {  }
void rider_crash(Bike* bike) {  }
void knockout_step(Bike* bike) {  }
void walk_back(Bike* bike) {  }
void tether(dBodyID b1, Vec3 p1, dBodyID b2, Vec3 p2, double length) {  }
