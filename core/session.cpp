// Session start and reset: the track part. Entrants, bikes and the race
// bookkeeping join here as those modules land.
#include <cstring>

#include "core/loading.h"
#include "core/mem.h"
#include "core/program.h"
#include "core/subsystems.h"
#include "platform/log.h"
#include "render/texture.h"
#include "track/track.h"

bool session_start(const char* track_name, const int32_t* lineup, bool demo_playback,
                   bool record_demo, int32_t time_limit_ticks, int32_t laps, int32_t robot_skill) {
  program.session_loaded = false;
  if (!track_name) return false;
  // Keep the track when it is the same one.
  if (!track.loaded || !track.name || strcmp(track.name, track_name) != 0) {
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
  program.tick = 0;
  program.paused = false;
  program.session_loaded = true;
  return true;
}

void session_free() {
  program.session_loaded = false;
  track_free();
}
