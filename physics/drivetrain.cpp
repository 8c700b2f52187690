// placeholder: not built yet
#include "physics/drivetrain.h"

double final_drive_ratio(const BikeInfo& info, double front_adjustment, double rear_adjustment) { return 0; }
double bike_rpm(const Bike* bike) { return 0; }
double gear_total_ratio(const Bike* bike, int32_t gear) { return 0; }
void auto_shift(Bike* bike, int32_t tick) {  }
void shift(Bike* bike, int32_t request) {  }
double engine_torque(const Bike* bike) { return 0; }
void drivetrain_update(Bike* bike) {  }
void brakes_update(Bike* bike) {  }
