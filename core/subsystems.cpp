// Placeholders for subsystems that have not landed yet. Each returns the
// value that makes the caller carry on as if the subsystem had nothing to
// do (no shapes to check, no session, nothing to draw or play).
#include "core/subsystems.h"

#include "core/program.h"
#include "physics/shape.h"
#include "platform/log.h"
#include "render/texture.h"

void bike_catalogue_free() { shape_cache_free(); }


int32_t track_camera_count() { return 0; }

void render_detect_gl() {}
void render_load_startup_images() {}
void render_frame(int32_t, int32_t) {}
void render_loading_screen(const char*) {}
bool render_screenshot(const char*) { return false; }
void render_delete_textures() { textures_purge(true); }
void render_delete_models() {}
void render_delete_fonts() {}
void terrain_frame_update() {}

bool audio_open_device() { return false; }
void audio_close_device() {}
void audio_frame_sounds(double) {}
void engine_sound_tables_free() {}

bool net_connected() { return false; }
void net_tick() {}
void net_disconnect() {}
void net_library_shutdown() {}

void menu_key(int32_t) {}
void menu_cursor(bool, bool) {}
bool editor_key(int32_t) { return false; }
void editor_tick() {}
void editor_apply_terrain() {}
void skin_lists_build() {}
void skin_lists_free() {}
