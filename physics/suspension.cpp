// placeholder: not built yet
#include "physics/drivetrain.h"

void joint_motor_push(dJointID joint, double force) {  }
double damping_force(double v, double hs_compression, double ls_compression, double hs_rebound, double ls_rebound) { return 0; }
double fork_air_force(double travel, double air_length, double compression) { return 0; }
LinkagePoint linkage_curve(const Bike* bike, double u) { return {}; }
double fork_force(const Bike* bike, double p, double v) { return 0; }
double shock_torque(const Bike* bike, double a, double w) { return 0; }
void fork_update(Bike* bike) {  }
void shock_update(Bike* bike) {  }
void drivetrain_setup_defaults(Bike* bike) {  }
void drivetrain_apply_settings(Bike* bike) {  }
