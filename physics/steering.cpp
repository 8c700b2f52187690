// placeholder: not built yet
#include "physics/rider_control.h"

double lean_angle(const Bike* bike) { return 0; }
double front_slip_angle(const Bike* bike) { return 0; }
void apply_steering_torque(Bike* bike, double torque) {  }
void rider_mount_update(Bike* bike) {  }
void steering_update(Bike* bike) {  }
void arcade_update(Bike* bike) {  }
void wobble_damping(Bike* bike) {  }
