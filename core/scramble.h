// Scrambled data files (".scram", ".gz.scram").
//
// Scheme: the stored byte at stream position i is the plain byte XOR k(i),
// where k(i) is the top byte of s(i+1) of the 32-bit linear congruential
// generator s(0) = SCRAMBLE_SEED, s(n+1) = s(n) * 1664525 + 1013904223
// (mod 2^32). There is no header and the size is unchanged. The key stream
// depends only on the position, so scrambling and descrambling are the same
// sequential operation; scrambled streams are read front to back.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t SCRAMBLE_SEED = 0x52544D53u;  // "RTMS"

struct ScrambleStream {
  uint32_t state;
};

void scramble_start(ScrambleStream* stream);
// XORs count bytes in place with the next count key bytes (both directions).
void scramble_apply(ScrambleStream* stream, uint8_t* bytes, size_t count);
// Scrambles (or descrambles) the whole file in_path into out_path.
// Returns false when either file fails; a partial out_path is removed.
bool scramble_file(const char* in_path, const char* out_path);
