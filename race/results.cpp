// placeholder: not built yet
#include "race/results.h"
void results_update() {}
