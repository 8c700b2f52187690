// placeholder: not built yet
#include "race/demo.h"
bool demo_play_start(const char*) { return false; }
void demo_play_tick() {}
void demo_play_stop() {}
void demo_seek(double) {}
void demo_streams_reset() {}
