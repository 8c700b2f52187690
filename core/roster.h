// The fixed table of 80 robot riders: number, personality, bike and looks,
// and its per-session shuffled order.
#pragma once

#include <cstdint>

constexpr int32_t ROSTER_COUNT = 80;

struct RosterEntry {
  char number[4];           // "20" .. "99"
  const char* personality;  // auto-pilot personality
  const char* bike;         // bike model name
  const char* rider_texture;  // nullptr = default look
  const char* helmet_texture;
  const char* bike_texture;
  const char* wheel_texture;
};

// Entry i of the table (0..79), in table order.
const RosterEntry* roster_entry(int32_t index);
// Shuffles the order from 0..79 with the random source seeded with seed:
// for k = 79 down to 1, swap k with (r / 65536) mod k.
void roster_shuffle(uint32_t seed);
// The table index at shuffled position p.
int32_t roster_order(int32_t position);
// The robot whose number is n, or -1.
int32_t roster_find_number(int32_t number);
