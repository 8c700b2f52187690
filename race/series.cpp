// placeholder: not built yet
#include "race/series.h"
void series_list_load() {}
void series_list_free() {}
void series_select(int32_t) {}
void series_standings_save() {}
void series_event_start() {}
