#include "core/random.h"

#include <random>

namespace {
// Program-wide; seeded with 5489 (the generator's default) at start-up.
std::mt19937 source;
}  // namespace

void random_seed(uint32_t seed) { source.seed(seed); }
uint32_t random_next() { return (uint32_t)source(); }
double random_unit() { return (double)(random_next() & 0x7FFFFFFFu) * (1.0 / 2147483648.0); }
