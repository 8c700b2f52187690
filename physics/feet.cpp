// placeholder: not built yet
#include "physics/crash.h"

FeetPose feet_pose(const Bike* bike) { return {}; }
void feet_update(Bike* bike) {  }
