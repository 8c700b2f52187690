// Session start and reset: the entrants of a race, practice, time trial or
// demo playback on one loaded track, their bikes dropped behind the starting
// gates, and a clean start for the race bookkeeping.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/config.h"
#include "core/loading.h"
#include "core/main_loop.h"
#include "core/mem.h"
#include "core/messages.h"
#include "core/program.h"
#include "core/random.h"
#include "core/roster.h"
#include "core/session.h"
#include "core/subsystems.h"
#include "physics/bike.h"
#include "physics/catalogue.h"
#include "physics/rider_control.h"
#include "physics/step.h"
#include "physics/world.h"
#include "platform/log.h"
#include "race/demo.h"
#include "race/demo_riders.h"
#include "race/race.h"
#include "race/results.h"
#include "render/texture.h"
#include "track/track.h"

SessionOptions session_options;

namespace {

constexpr int32_t TIME_TRIAL_START_TICK = 300 * TICKS_PER_SECOND;  // 38400

void destroy_bikes() {
  log_printf("Deallocating bikes\n");
  for (int32_t s = 0; s < MAX_BIKES; s++) {
    BikeSlot& slot = program.slots[s];
    // Sound states go before their bikes so the mixer never sees a dangling bike.
    slot.sound = nullptr;
    bike_destroy(slot.bike);
    slot.bike = nullptr;
    slot.kind = REPLAYED;
  }
  program.view_order_count = 0;
  log_printf("Finished deallocating bikes\n");
}

// Start position p: the grid place, or a row across the middle of the
// terrain when the track has no starting gates.
void start_position(int32_t p, double* x, double* z, double* heading) {
  float gx = 0, gz = 0, fx = 0, fz = -1;
  if (starting_grid_place(&track.timing, p, &gx, &gz, &fx, &fz)) {
    *x = gx;
    *z = gz;
    *heading = atan2(-(double)fx, -(double)fz);
    return;
  }
  double w = track.hf.world_size;
  *x = w / 2 + 5.0 * p;
  *z = w / 2;
  *heading = 0;
}

// The line-up actually used: time trial, at most one local rider, and a
// robot when nobody would ride.
void effective_lineup(const int32_t* given, bool demo_riders, int32_t out[MAX_BIKES],
                      int32_t* viewed) {
  if (!given) {
    memset(out, 0, sizeof(int32_t) * MAX_BIKES);
    out[0] = LINEUP_HUMAN;
  } else {
    memcpy(out, given, sizeof(int32_t) * MAX_BIKES);
  }
  *viewed = -1;
  int32_t human = -1;
  for (int32_t s = 0; s < MAX_BIKES; s++) {
    if (out[s] != LINEUP_EMPTY && *viewed < 0) *viewed = s;
    if (out[s] == LINEUP_HUMAN) {
      if (human < 0)
        human = s;
      else
        out[s] = LINEUP_EMPTY;
    }
  }
  if (human >= 0) *viewed = human;
  if (*viewed < 0) {
    *viewed = 0;
    if (!demo_riders) out[0] = LINEUP_ROBOT;
  }
}

struct Entrant {
  const char* model;
  const char* number;
  const char* textures[BIKE_TEXTURE_COUNT];  // rider, helmet, bike, wheels
  BikeSlotKind kind;
  int32_t roster;  // roster index for robots, -1 otherwise
};

// The entrant a line-up code stands for; false for an empty slot.
bool entrant_for(int32_t code, int32_t* roster_next, Entrant* e) {
  memset(e, 0, sizeof *e);
  e->roster = -1;
  auto robot = [&](int32_t index) {
    const RosterEntry* r = roster_entry(index);
    e->model = r->bike;
    e->number = r->number;
    e->textures[TEXTURE_RIDER] = r->rider_texture;
    e->textures[TEXTURE_HELMET] = r->helmet_texture;
    e->textures[TEXTURE_BIKE] = r->bike_texture;
    e->textures[TEXTURE_WHEEL] = r->wheel_texture;
    e->kind = ROBOT;
    e->roster = index;
  };
  // The next shuffled roster entry whose model contains `pattern` (any when nullptr).
  auto next_robot = [&](const char* pattern) {
    for (int32_t tries = 0; tries < ROSTER_COUNT; tries++) {
      int32_t index = roster_order(*roster_next % ROSTER_COUNT);
      (*roster_next)++;
      if (!pattern || strstr(roster_entry(index)->bike, pattern)) {
        robot(index);
        return;
      }
    }
    robot(roster_order(0));
  };
  switch (code) {
    case LINEUP_EMPTY: return false;
    case LINEUP_HUMAN:
      e->model = choice_text(&settings.bike);
      e->number = settings.number.text;
      e->textures[TEXTURE_RIDER] = choice_text(&settings.rider_texture);
      e->textures[TEXTURE_HELMET] = choice_text(&settings.head_texture);
      e->textures[TEXTURE_BIKE] = choice_text(&settings.bike_texture);
      e->textures[TEXTURE_WHEEL] = choice_text(&settings.wheel_texture);
      e->kind = LOCAL_RIDER;
      return true;
    case LINEUP_ROBOT: next_robot(nullptr); return true;
    case LINEUP_ROBOT_2_STROKE: next_robot("125"); return true;
    case LINEUP_ROBOT_4_STROKE: next_robot("250"); return true;
    default:
      if (code >= LINEUP_ROBOT_NUMBER && roster_find_number(code - LINEUP_ROBOT_NUMBER) >= 0) {
        robot(roster_find_number(code - LINEUP_ROBOT_NUMBER));
        return true;
      }
      // Remote riders come from the race server; anything else rides the
      // default bike.
      e->model = "rm125";
      e->number = "";
      e->kind = code == LINEUP_REMOTE ? REPLAYED : ROBOT;
      return true;
  }
}

// An empty texture choice means the bike's default look.
const char* texture_or_null(const char* name) { return name && *name ? name : nullptr; }

// Recorded rider `index` of the demo being played, as a replayed entrant.
void entrant_from_demo(int32_t index, Entrant* e) {
  DemoRider rider;
  demo_player_rider(index, &rider);
  memset(e, 0, sizeof *e);
  e->model = rider.model;
  e->number = rider.number;
  for (int32_t t = 0; t < BIKE_TEXTURE_COUNT; t++) e->textures[t] = rider.textures[t];
  e->kind = REPLAYED;
  e->roster = -1;
}

// The entrant's bike in slot s, dropped at its start position (replayed
// bikes disabled). nullptr, with the slot left empty, when it cannot be built.
Bike* seat_entrant(int32_t s, const Entrant& e, double* x, double* z) {
  double heading;
  start_position(s, x, z, &heading);
  Bike* bike = bike_create(bike_model_current_name(e.model), e.number,
                           texture_or_null(e.textures[TEXTURE_RIDER]),
                           texture_or_null(e.textures[TEXTURE_HELMET]),
                           texture_or_null(e.textures[TEXTURE_BIKE]),
                           texture_or_null(e.textures[TEXTURE_WHEEL]), s);
  if (!bike) return nullptr;
  bike_place(bike, *x, *z, heading);
  dJointGroupEmpty(contact_group);
  if (e.kind == REPLAYED) bike_disable(bike);
  program.slots[s].bike = bike;
  program.slots[s].kind = e.kind;
  program.view_order[program.view_order_count++] = s;
  return bike;
}

void working_set_tuning() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long page_size = sysconf(_SC_PAGESIZE);
  uint64_t physical = pages > 0 && page_size > 0 ? (uint64_t)pages * (uint64_t)page_size : 0;
  const uint64_t MB = 1024 * 1024;
  if (physical < 64 * MB) {
    log_printf("Working set left alone - less than 64 MB physical memory\n");
    return;
  }
  uint64_t m = physical < 2048 * MB ? physical : 2048 * MB;
  uint64_t high = m - 32 * MB;
  uint64_t low = high < 1024 * MB ? high : 1024 * MB;
  log_printf("Setting working set range to %u - %u\n", (unsigned)low, (unsigned)high);
  // Linux keeps a process resident as long as memory allows; there is no
  // working-set control to set.
  log_printf("Working set update failed\n");
}

}  // namespace

void session_bikes_free() { destroy_bikes(); }

// The practice ghost's bikes: one replayed bike per rider of the demo being
// played, in the slots the player gave them.
void practice_ghosts_create() {
  int32_t count = demo_player_bike_count();
  for (int32_t i = 0; i < count; i++) {
    int32_t s = demo_player.slots[i];
    if (s <= 0 || s >= MAX_BIKES || program.slots[s].bike) continue;
    Entrant e;
    entrant_from_demo(i, &e);
    double x, z;
    seat_entrant(s, e, &x, &z);
  }
}

void practice_ghosts_remove() {
  for (int32_t s = 1; s < MAX_BIKES; s++) {
    if (!program.slots[s].bike || program.slots[s].kind != REPLAYED) continue;
    program.slots[s].sound = nullptr;
    bike_destroy(program.slots[s].bike);
    program.slots[s].bike = nullptr;
    history_clear(s);
  }
  program.view_order_count = 0;
  for (int32_t s = 0; s < MAX_BIKES; s++)
    if (program.slots[s].bike) program.view_order[program.view_order_count++] = s;
}

bool session_start(const char* track_name, const int32_t* lineup, bool demo_playback,
                   bool record_demo, int32_t time_limit_ticks, int32_t laps, int32_t robot_skill) {
  program.session_loaded = false;
  demo_hooks.create_ghosts = practice_ghosts_create;
  demo_hooks.remove_ghosts = practice_ghosts_remove;
  // 1.
  race_session.position_count = 0;
  race_session.result_count = 0;
  race_session.results_final = false;
  loading_reset_stats();
  show_loading_message("Resetting...");
  log_printf("Resetting\n");
  // 2.
  roster_shuffle((uint32_t)program.tick);
  // 3. Learned lines are kept with the robots; the demo being read closes.
  log_loading_message("Remembering lines");
  demo_play_stop();
  loading_done("Remembering lines");
  // 4.
  demo_streams_reset();
  // 5.
  log_loading_message("Cleaning up");
  destroy_bikes();
  loading_done("Cleaning up");
  // 6.
  program.tick = 0;
  int32_t start_tick = (int32_t)((13.0 + 2.0 * random_unit()) / TICK_SECONDS);
  // 7.
  bool time_trial = lineup == nullptr;
  // 8. Offline: no own slot, empty histories.
  race_session_reset();
  race_session.local_slot = NO_LOCAL_SLOT;
  race_session.time_trial = time_trial;
  race_session.robot_skill = robot_skill;
  race_session.length.start_tick = start_tick;
  race_session.length.time_limit = time_limit_ticks > 0 ? time_limit_ticks : 0;
  race_session.length.extra_laps = laps;
  race_session.length.half_way_lap = RACE_LAPS_UNSET;
  // The demo to play: its header sets the race clock and names the riders.
  if (demo_playback) {
    demo_playback = demo_play_start(session_options.demo_path ? session_options.demo_path
                                                              : run_options.demo_file);
    if (demo_playback) laps = race_session.length.extra_laps;
    log_printf("Playing demo of %d riders\n", demo_player_bike_count());
  }
  // 9. The track, reloaded only when it changed or a reload was asked for.
  if (!track_name) return false;
  if (!track.loaded || !track.name || strcmp(track.name, track_name) != 0 ||
      session_options.force_reload) {
    session_options.force_reload = false;
    track_free();
    // Textures of the previous track go; those loaded before any track stay.
    texture_generation_advance();
    textures_purge(false);
    track.name = intern_string(track_name);
    if (!track_load()) {
      log_printf("Track '%s' could not be loaded\n", track_name);
      return false;
    }
  }
  // 10, 11.
  int32_t codes[MAX_BIKES];
  int32_t viewed = 0;
  int32_t demo_riders = demo_playback ? demo_player_bike_count() : 0;
  effective_lineup(lineup, demo_riders > 0, codes, &viewed);
  if (time_trial) program.tick = TIME_TRIAL_START_TICK;
  program.viewed_slot = viewed;
  // 12. Robot lines join with the robots' driver.
  log_loading_message("Analyzing lines");
  loading_done("Analyzing lines");
  // 13.
  physics_state_reset();
  physics_state_sync();
  log_loading_message_reset_spinner("Loading bikes");
  int32_t roster_next = 0;
  int32_t demo_next = 0;
  for (int32_t s = 0; s < MAX_BIKES; s++) {
    loading_spinner("Loading bikes");
    Entrant e;
    bool occupied;
    if (codes[s] == LINEUP_EMPTY && demo_playback && demo_next < demo_riders) {
      entrant_from_demo(demo_next, &e);
      demo_player_set_slot(demo_next, s);
      demo_next++;
      occupied = true;
    } else {
      occupied = entrant_for(codes[s], &roster_next, &e);
    }
    if (!occupied) continue;
    double x, z;
    Bike* bike = seat_entrant(s, e, &x, &z);
    if (!bike) continue;  // the slot stays empty and replayed
    if (e.kind == LOCAL_RIDER) {
      race_session.local_slot = s;
      race_session.start_position[0] = (float)x;
      race_session.start_position[1] = (float)dBodyGetPosition(bike->body[FRAME])[1];
      race_session.start_position[2] = (float)z;
      race_session.false_start_countdown = 0;
    }
    // Robots keep still until a driver takes them over.
  }
  loading_done("Loading bikes");
  // 14.
  history_clear_all();
  // Practice: the fastest lap so far rides along as a ghost, and every lap
  // is recorded so that a faster one can replace it.
  if (run_options.practice && !demo_playback && program.slots[0].kind == LOCAL_RIDER &&
      demo_play_start(nullptr)) {
    practice_ghosts_create();
    int32_t first_lap_end = track.timing.first_lap_count - 1;
    for (int32_t i = 0; i < demo_player_bike_count(); i++) {
      int32_t g = demo_player.slots[i];
      if (g > 0 && g < MAX_BIKES && program.slots[g].bike && first_lap_end >= 0)
        program.slots[g].bike->timing.gate_position = first_lap_end;
    }
  }
  if (record_demo || (run_options.practice && program.slots[0].kind == LOCAL_RIDER))
    demo_record_start();
  // 15.
  print_messagef("%d MB texture memory used\n", (int)(texture_memory_used() / (1024 * 1024)));
  textures_purge(false);
  // 16.
  if (race_session.length.time_limit > 0) {
    race_session.length.race_laps = RACE_LAPS_UNSET;
    race_session.length.half_way_lap = RACE_LAPS_UNSET;
  } else {
    race_session.length.race_laps = laps;
    race_session.length.half_way_lap = (laps + 1) / 2;
  }
  physics_state.race_laps = race_session.length.race_laps;
  // 17.
  starting_gates_reset(&track.timing, &track.objects);
  // 18.
  if (time_trial) time_trial_restart();
  // 19.
  log_printf("Max loading delay was %f (%s)\n", loading_max_delay(), loading_max_delay_text());
  // 20.
  if (demo_playback) demo_play_tick();
  results_update();
  // 21.
  if (program.viewed_slot < 0 || program.viewed_slot >= MAX_BIKES ||
      !program.slots[program.viewed_slot].bike) {
    program.viewed_slot = race_session.position_count > 0 ? race_session.positions[0].slot
                                                          : (program.view_order_count > 0
                                                                 ? program.view_order[0]
                                                                 : -1);
  }
  dJointGroupEmpty(contact_group);
  if (program.viewed_slot >= 0 && program.slots[program.viewed_slot].kind == LOCAL_RIDER &&
      program.slots[program.viewed_slot].bike)
    apply_setup(program.slots[program.viewed_slot].bike);
  // 22.
  working_set_tuning();
  program.paused = false;
  program.session_loaded = true;
  return true;
}

void time_trial_restart() {
  // 1.
  demo_play_stop();
  demo_streams_reset();
  for (int32_t s = 1; s < MAX_BIKES; s++) {
    program.slots[s].sound = nullptr;
    bike_destroy(program.slots[s].bike);
    program.slots[s].bike = nullptr;
    program.slots[s].kind = REPLAYED;
  }
  program.view_order_count = program.slots[0].bike ? 1 : 0;
  program.view_order[0] = 0;
  // 2, 3. Without learned lines the rider goes back to the first grid place.
  Bike* bike = program.slots[0].bike;
  if (bike) {
    double x, z, heading;
    start_position(0, &x, &z, &heading);
    bike_place(bike, x, z, heading);
    dJointGroupEmpty(contact_group);
    bike_timing_reset(&bike->timing);
    history_clear(0);
  }
  results_update();
}

void session_free() {
  if (contact_group) dJointGroupEmpty(contact_group);
  destroy_bikes();
  demo_play_stop();
  demo_streams_reset();
  program.session_loaded = false;
  track_free();
}

void bikes_free_all() { destroy_bikes(); }

bool race_leader_finished() {
  if (race_session.position_count <= 0) return false;
  const Bike* leader = program.slots[race_session.positions[0].slot].bike;
  return leader && leader->timing.finished;
}
