// Calls from the core's start-up, main loop and shutdown into subsystems.
// Each subsystem module provides its calls here as it lands; until then the
// bodies in core/subsystems.cpp do nothing observable (and say so).
#pragma once

#include <cstdint>

// Bike catalogue and shapes.
bool check_shape_digests();
// 1 when the seven stock shapes are the accepted ones (the race server
// client refuses to connect otherwise).
extern int32_t stock_shapes_ok;
// RIPEMD-160 over the seven stock shape files, as 40 hex digits.
void stock_shapes_digest(char out[41]);
void bike_catalogue_free();

// Physics world and bikes.
void bikes_free_all();

// Sessions (start, reset) and the simulation tick's subsystem steps.
// Starts (or restarts) a session on the track with the line-up codes (nullptr:
// time trial); false when the track cannot be loaded.
bool session_start(const char* track, const int32_t* lineup, bool demo_playback,
                   bool record_demo, int32_t time_limit_ticks, int32_t laps, int32_t robot_skill);
int32_t track_camera_count();
bool demo_read_header(const char* path, const char** track_out);
void demo_seek_seconds(double delta);


bool race_leader_finished();
void session_free();

// Rendering (drawn only when the window draws).
void render_detect_gl();
void render_load_startup_images();
void render_frame(int32_t width, int32_t height);
void render_loading_screen(const char* text);
bool render_screenshot(const char* path);
void render_delete_textures();
void render_delete_models();
void render_delete_fonts();
void terrain_frame_update();

// Sound.
bool audio_open_device();
void audio_close_device();
void audio_frame_sounds(double master);
void engine_sound_tables_free();

// Network.
bool net_connected();
void net_tick();
void net_disconnect();
void net_library_shutdown();

// Menus and the editor.
void menu_key(int32_t code);
void menu_cursor(bool button_down, bool moved);
bool editor_key(int32_t code);
void editor_tick();
void editor_apply_terrain();
void skin_lists_build();
void skin_lists_free();
