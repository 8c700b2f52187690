#include "core/roster.h"

#include <cstdio>
#include <cstring>

#include "core/random.h"

namespace {

RosterEntry table[ROSTER_COUNT];
int32_t order[ROSTER_COUNT];
bool built = false;

const char* const TWO_STROKES[4] = {"kx125", "yz125", "cr125", "rm125"};
// Entries 20..39 (and 40..59): five crf250, five kx250f, four rmz250, five
// yz250f, one special.
const char* const FOUR_STROKES[20] = {
    "crf250", "crf250", "crf250", "crf250", "crf250", "kx250f", "kx250f",
    "kx250f", "kx250f", "kx250f", "rmz250", "rmz250", "rmz250", "rmz250",
    "yz250f", "yz250f", "yz250f", "yz250f", "yz250f", "yz250f_se(2006)"};
const char* const TEAM[4] = {"crf250", "kx250f", "yz250f", "rmz250"};

// Looks: alternate rider and helmet images, and for the team riders their
// own bike and wheel images.
const char* const RIDER_LOOKS[3] = {nullptr, "@rider_body-alt1.png", "@rider_body-alt2.png"};
const char* const HELMET_LOOKS[3] = {nullptr, "@rider_head-alt1.png", "@rider_head-alt2.png"};

void build() {
  for (int32_t i = 0; i < ROSTER_COUNT; i++) {
    RosterEntry& e = table[i];
    snprintf(e.number, sizeof e.number, "%d", 20 + i);
    e.rider_texture = RIDER_LOOKS[i % 3];
    e.helmet_texture = HELMET_LOOKS[(i / 3) % 3];
    e.bike_texture = nullptr;
    e.wheel_texture = nullptr;
    if (i < 20) {
      e.personality = "corvin";
      e.bike = TWO_STROKES[i / 5];
    } else if (i < 60) {
      e.personality = i < 40 ? "bastian" : "corvin";
      e.bike = FOUR_STROKES[(i - 20) % 20];
    } else {
      e.personality = "tobiah";
      int32_t k = i - 60;
      e.bike = TEAM[k / 5];
      static char names[ROSTER_COUNT][2][40];
      const char* alt = k % 2 == 0 ? "alt1" : "alt2";
      snprintf(names[i][0], sizeof names[i][0], "@%s-%s.png", e.bike, alt);
      snprintf(names[i][1], sizeof names[i][1], "@wheels-%s.png", alt);
      e.bike_texture = names[i][0];
      e.wheel_texture = names[i][1];
    }
  }
  for (int32_t i = 0; i < ROSTER_COUNT; i++) order[i] = i;
  built = true;
}

}  // namespace

const RosterEntry* roster_entry(int32_t index) {
  if (!built) build();
  if (index < 0 || index >= ROSTER_COUNT) return nullptr;
  return &table[index];
}

void roster_shuffle(uint32_t seed) {
  if (!built) build();
  for (int32_t i = 0; i < ROSTER_COUNT; i++) order[i] = i;
  random_seed(seed);
  for (int32_t k = ROSTER_COUNT - 1; k >= 1; k--) {
    uint32_t r = random_next();
    int32_t j = (int32_t)((r / 65536u) % (uint32_t)k);
    int32_t t = order[k];
    order[k] = order[j];
    order[j] = t;
  }
}

int32_t roster_order(int32_t position) {
  if (!built) build();
  if (position < 0 || position >= ROSTER_COUNT) return -1;
  return order[position];
}

int32_t roster_find_number(int32_t number) {
  if (number < 20 || number >= 20 + ROSTER_COUNT) return -1;
  return number - 20;
}
