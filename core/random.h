// The program's one source of random numbers (MT19937 32-bit values): robots,
// start delays, line-up shuffles and roost all draw from it. Session start
// reseeds it with the tick counter.
#pragma once

#include <cstdint>

void random_seed(uint32_t seed);
// The next 32-bit value.
uint32_t random_next();
// (x & 0x7FFFFFFF) * 2^-31: uniform in [0, 1).
double random_unit();
