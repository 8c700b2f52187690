// placeholder: not built yet
#include "physics/snapshot_pose.h"
void bike_pose_from_state(Bike*, const BikeState&, BikeStateLayout) {}
void bike_state_apply(Bike*, const BikeState&, const BikeState&, const BikeState&, int32_t,
                      BikeStateLayout) {}
void bike_state_correct(Bike*, const BikeState&, const BikeState&, const BikeState&, int32_t) {}
Vec3 rotation_between(const double[4], const double[4]) { return {}; }
void bike_wake(Bike*) {}
void bike_fade(Bike*) {}
