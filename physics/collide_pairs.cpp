// placeholder: not built yet
#include "physics/collide.h"

int32_t bike_pair_collide(Bike* a, Bike* b, bool online) { return 0; }
int32_t bike_object_collide(Bike* bike, const Shape* object_shape, const float position[3], const float rotation[3][3], dBodyID object_body) { return 0; }
void bike_objects_collide(Bike* bike) {  }
