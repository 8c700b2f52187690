// placeholder: not built yet
#include "race/demo.h"
bool demo_record_start() { return false; }
void demo_record_tick(bool) {}
void demo_record_stop() {}
void demo_message(const char*) {}
