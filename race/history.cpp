// placeholder: not built yet
#include "race/race.h"
RaceSession race_session;
void race_session_reset() {}
void history_clear(int32_t) {}
void history_clear_all() {}
void add_state_to_history(int32_t, const BikeState&, int32_t) {}
HistoryLookup history_lookup(int32_t, int32_t) { return {}; }
void history_apply(int32_t, int32_t) {}
bool bike_hidden(int32_t) { return false; }
void positions_update() {}
