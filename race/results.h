// Final results of a race: cutting penalties applied, the order fixed, the
// "results.txt" report in the home directory, and the standings of a points
// series updated.
#pragma once

#include <cstdint>

// Rebuilds positions and race length; when every bike is through, makes the
// results final, writes "@results.txt" (when the winner finished) and saves
// the series standings. Does nothing once the results are final.
void results_update();
