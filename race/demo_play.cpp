// Demo playback: the header reader, walking the blocks in both directions,
// feeding the played bikes' histories, seeking, and the practice ghost.
#include <cstdio>
#include <cstring>

#include "core/config.h"
#include "core/files.h"
#include "core/main_loop.h"
#include "core/mem.h"
#include "core/messages.h"
#include "core/program.h"
#include "core/subsystems.h"
#include "physics/bike.h"
#include "platform/log.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/results.h"
#include "track/timing.h"
#include "track/track.h"

DemoPlayer demo_player;
DemoHooks demo_hooks;

namespace {

// Reads one header line ending in "\n" into buf (without the "\n"). Counts
// the bytes taken into *consumed. False when the stream ends before the
// "\n", the line is longer than the buffer or holds a NUL byte.
bool read_header_line(DataFile* file, char* buf, int32_t size, int64_t* consumed) {
  int32_t n = 0;
  for (;;) {
    int c = data_getc(file);
    if (c == EOF) return false;
    (*consumed)++;
    if (c == '\n') break;
    if (c == 0 || n >= size - 1) return false;
    buf[n++] = (char)c;
  }
  buf[n] = 0;
  return true;
}

char* copy_text(const char* text) {
  char* copy = mem_strdup(text);
  if (!copy) fatal_out_of_memory();
  return copy;
}

// Texture field: empty means absent.
const char* copy_optional(const char* text) { return *text ? copy_text(text) : nullptr; }

// Older catalogue names read as their current entries.
const char* renamed_model(const char* model) {
  static const char* const RENAMES[][2] = {{"crf250", "crf250(2008)"},
                                           {"kx250f", "kx250f(2008)"},
                                           {"rmz250", "rmz250(2008)"},
                                           {"yz250f", "yz250f(2008)"}};
  for (const auto& r : RENAMES)
    if (strcmp(model, r[0]) == 0) return r[1];
  return model;
}

// Splits "<model>|<rider>|<bike>|<wheels>|<helmet>" into the bike record.
void parse_bike_line(char* line, DemoBikeInfo* bike) {
  char* field[5] = {line, nullptr, nullptr, nullptr, nullptr};
  for (int32_t i = 1; i < 5; i++) {
    char* bar = strchr(field[i - 1], '|');
    if (!bar) break;
    *bar = 0;
    field[i] = bar + 1;
  }
  bike->model = copy_text(renamed_model(field[0]));
  bike->rider_texture = field[1] ? copy_optional(field[1]) : nullptr;
  bike->bike_texture = field[2] ? copy_optional(field[2]) : nullptr;
  bike->wheel_texture = field[3] ? copy_optional(field[3]) : nullptr;
  bike->helmet_texture = field[4] ? copy_optional(field[4]) : nullptr;
}

int32_t read_le32(const uint8_t* p) {
  return (int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 |
                   (uint32_t)p[3] << 24);
}

int32_t snapshot_bytes(int32_t version) {
  return version == 4 ? BIKE_STATE_OLD_BYTES : BIKE_STATE_BYTES;
}

}  // namespace

// ---------------------------------------------------------------- header

bool demo_header_read(DataFile* file, DemoHeader* header) {
  memset(header, 0, sizeof *header);
  if (!file) return false;
  char line[DEMO_LINE_CHARS];
  int64_t consumed = 0;
  if (!read_header_line(file, line, sizeof line, &consumed)) return false;
  int32_t v[5] = {0, 0, 0, 0, DEMO_DEFAULT_START_TICK};
  int got = sscanf(line, "RT%d %d %d %d %d", &v[0], &v[1], &v[2], &v[3], &v[4]);
  if (got < 3 || v[0] < 4 || v[0] > 6 || v[1] < 0 || v[1] > MAX_BIKES) return false;
  header->version = v[0];
  header->bike_count = v[1];
  header->time_limit = v[2];
  header->extra_laps = v[3];
  header->start_tick = v[4];
  header->owned = true;

  if (!read_header_line(file, line, sizeof line, &consumed) || !asset_name_safe(line)) {
    demo_header_free(header);
    return false;
  }
  header->track = copy_text(line);
  for (int32_t i = 0; i < header->bike_count; i++) {
    DemoBikeInfo* bike = &header->bikes[i];
    bool ok = read_header_line(file, line, sizeof line, &consumed);
    if (ok) parse_bike_line(line, bike);
    ok = ok && read_header_line(file, line, sizeof line, &consumed);
    if (ok) bike->number = copy_text(line);
    if (ok && header->version >= 6) {
      ok = read_header_line(file, line, sizeof line, &consumed);
      if (ok) bike->name = copy_text(line);
      ok = ok && read_header_line(file, line, sizeof line, &consumed);
    }
    if (!ok) {
      demo_header_free(header);
      return false;
    }
    if (!bike->name) bike->name = copy_text("");
  }
  header->data_start = consumed;
  return true;
}

void demo_header_free(DemoHeader* header) {
  if (!header) return;
  if (header->owned) {
    mem_free((void*)header->track);
    for (int32_t i = 0; i < MAX_BIKES; i++) {
      DemoBikeInfo& b = header->bikes[i];
      const char* strings[] = {b.model,          b.rider_texture, b.bike_texture, b.wheel_texture,
                               b.helmet_texture, b.number,        b.name};
      for (const char* s : strings) mem_free((void*)s);
    }
  }
  memset(header, 0, sizeof *header);
}

// ---------------------------------------------------------------- blocks

bool demo_stream_seek(DemoStream* stream, int64_t offset) {
  if (stream->position == offset) return true;
  if (!data_seek(stream->file, offset)) return false;
  stream->position = offset;
  return true;
}

bool demo_stream_read(DemoStream* stream, void* buffer, size_t n) {
  size_t got = data_read(stream->file, buffer, n);
  stream->position += (int64_t)got;
  return got == n;
}

bool demo_stream_skip(DemoStream* stream, uint64_t n) {
  uint8_t scratch[4096];
  while (n > 0) {
    size_t take = n < sizeof scratch ? (size_t)n : sizeof scratch;
    if (!demo_stream_read(stream, scratch, take)) return false;
    n -= take;
  }
  return true;
}

namespace {

bool block_header_at(DemoStream* stream, int64_t offset, DemoBlock* block) {
  uint8_t raw[DEMO_BLOCK_HEADER_BYTES];
  if (!demo_stream_seek(stream, offset) || !demo_stream_read(stream, raw, sizeof raw)) return false;
  block->offset = offset;
  block->stored = (uint32_t)read_le32(raw);
  block->tick = read_le32(raw + 4);
  block->type = raw[8];
  return true;
}

}  // namespace

bool demo_block_next(DemoStream* stream, int64_t data_start, const DemoBlock* block,
                     DemoBlock* next) {
  int64_t offset = block ? block->offset + DEMO_BLOCK_HEADER_BYTES + block->length : data_start;
  uint32_t previous = block ? block->length : 0;
  if (!block_header_at(stream, offset, next)) return false;
  next->length = next->stored ^ previous;
  return true;
}

bool demo_block_previous(DemoStream* stream, int64_t data_start, const DemoBlock& block,
                         DemoBlock* previous) {
  if (block.offset <= data_start) return false;
  uint32_t length = block.stored ^ block.length;
  int64_t offset = block.offset - DEMO_BLOCK_HEADER_BYTES - (int64_t)length;
  if (offset < data_start) return false;
  if (!block_header_at(stream, offset, previous)) return false;
  previous->length = length;
  return true;
}

bool demo_record_read(DemoStream* stream, DemoRecord* record) {
  uint8_t raw[DEMO_RECORD_BYTES];
  if (!demo_stream_read(stream, raw, sizeof raw)) return false;
  record->bike = raw[0];
  record->tick = read_le32(raw + 1);
  memcpy(record->state, raw + 5, sizeof record->state);
  return true;
}

// ---------------------------------------------------------------- playback

namespace {

// Adds a snapshot of recorded bike `bike` to its slot's history.
void feed_history(int32_t bike, const uint8_t* bytes, int32_t size, int32_t tick) {
  if (bike < 0 || bike >= demo_player.header.bike_count) return;
  int32_t slot = demo_player.slots[bike];
  if (slot < 0 || slot >= MAX_BIKES) return;
  BikeState state = {};
  memcpy(state.bytes, bytes, (size_t)size);
  add_state_to_history(slot, state, tick);
}

// Reads the body of a version-6 block the stream stands at. False when the
// body is cut short.
bool play_block_body(const DemoBlock& block) {
  DemoStream* s = &demo_player.stream;
  if (block.type == DEMO_BLOCK_STATES && block.length % DEMO_RECORD_BYTES == 0) {
    for (uint32_t i = 0; i < block.length / DEMO_RECORD_BYTES; i++) {
      DemoRecord r;
      if (!demo_record_read(s, &r)) return false;
      feed_history(r.bike, r.state, BIKE_STATE_BYTES, r.tick + demo_player.tick_offset);
    }
    return true;
  }
  if (block.type == DEMO_BLOCK_MESSAGE) {
    char text[DEMO_LINE_CHARS];
    uint32_t keep = block.length < sizeof text - 1 ? block.length : (uint32_t)sizeof text - 1;
    if (!demo_stream_read(s, text, keep) || !demo_stream_skip(s, block.length - keep)) return false;
    text[keep] = 0;
    print_message(text);
    return true;
  }
  return demo_stream_skip(s, block.length);
}

void play_tick_blocks() {
  DemoPlayer& p = demo_player;
  for (int32_t n = 0; n < 128; n++) {
    // Until the first snapshots have set the clock, keep reading.
    if (p.have_block && p.first_block_tick >= 0 && program.tick < p.block_tick - 64) return;
    DemoBlock next;
    if (!demo_block_next(&p.stream, p.header.data_start, p.have_block ? &p.block : nullptr, &next))
      return;
    if (next.type == DEMO_BLOCK_STATES && next.length % DEMO_RECORD_BYTES == 0 &&
        p.first_block_tick < 0) {
      p.first_block_tick = next.tick;
      if (p.practice)
        p.tick_offset = program.tick - next.tick;
      else
        program.tick = next.tick;
    }
    // A cut block ends reading here; it is tried again next tick.
    if (!play_block_body(next)) return;
    p.block = next;
    p.have_block = true;
    p.block_tick = next.tick + p.tick_offset;
  }
}

void play_tick_snapshots() {
  DemoPlayer& p = demo_player;
  int32_t size = snapshot_bytes(p.header.version);
  uint8_t raw[BIKE_STATE_BYTES];
  while (p.read_tick <= program.tick + 8) {
    for (int32_t b = 0; b < p.header.bike_count; b++) {
      if (!demo_stream_read(&p.stream, raw, (size_t)size)) {
        // Back to the start of this tick's snapshots for the next try.
        int64_t tick_bytes = (int64_t)size * p.header.bike_count;
        demo_stream_seek(&p.stream, p.header.data_start + (int64_t)p.read_tick * tick_bytes);
        return;
      }
      feed_history(b, raw, size, p.read_tick + p.tick_offset);
    }
    p.read_tick++;
  }
}

// Seeking is only for playback: nothing recorded and every bike replayed.
bool seek_allowed() {
  if (!demo_player.stream.file || demo_player.practice || demo_recorder.file) return false;
  for (int32_t s = 0; s < MAX_BIKES; s++)
    if (program.slots[s].bike && program.slots[s].kind != REPLAYED) return false;
  return true;
}

// Lap counts back to the target tick: positions credited after it are
// passed again when the replay reaches them.
void gates_back_to(int32_t target) {
  for (int32_t s = 0; s < MAX_BIKES; s++) {
    Bike* bike = program.slots[s].bike;
    if (!bike) continue;
    BikeTiming* t = &bike->timing;
    bool stepped = false;
    while (t->gate_position > 0) {
      int32_t tick = bike_timing_tick(t, t->gate_position - 1);
      if (tick >= 0 && tick <= target) break;
      t->gate_position--;
      stepped = true;
    }
    if (stepped) {
      // Later passages are forgotten, and so is a finish that came after.
      if (t->gate_ticks.count > t->gate_position) t->gate_ticks.count = t->gate_position;
      t->finished = false;
    }
  }
  race_session.results_final = false;
  positions_update();
  results_update();
}

// Version 6: back to the last block not later than target - 64 (or before
// the first block).
void blocks_back_to(int32_t target) {
  DemoPlayer& p = demo_player;
  if (!p.have_block) return;
  DemoBlock block = p.block;
  while (block.tick + p.tick_offset > target - 64) {
    DemoBlock previous;
    if (!demo_block_previous(&p.stream, p.header.data_start, block, &previous)) {
      p.have_block = false;
      return;
    }
    block = previous;
  }
  p.block = block;
  p.block_tick = block.tick + p.tick_offset;
}

char* practice_path(const char* file) {
  if (!track.name) return nullptr;
  char* path = join("@", track.name, "/", file);
  if (!path) fatal_out_of_memory();
  return path;
}

bool copy_demo(const char* from, const char* to) {
  DataFile* in = data_open(from, "rb");
  if (!in) return false;
  DataFile* out = data_open(to, "wb");
  bool ok = out != nullptr;
  uint8_t buf[8192];
  while (ok) {
    size_t n = data_read(in, buf, sizeof buf);
    if (n == 0) break;
    ok = data_write(out, buf, n) == n;
  }
  data_close(in);
  data_close(out);
  return ok;
}

}  // namespace

bool demo_play_start(const char* path) {
  demo_play_stop();
  DemoPlayer& p = demo_player;
  bool practice = run_options.practice;
  char* fallback = nullptr;
  if (!path) {
    fallback = practice ? practice_path("fastlap.rtdemo") : nullptr;
    path = fallback ? fallback : DEMO_DEFAULT_PATH;
  }
  DataFile* file = data_open(path, "rb");
  mem_free(fallback);
  if (!file) return false;
  if (!demo_header_read(file, &p.header)) {
    log_printf("Demo '%s' has no readable header\n", path);
    data_close(file);
    return false;
  }
  p.stream.file = file;
  p.stream.position = p.header.data_start;
  p.practice = practice;
  p.have_block = false;
  p.block_tick = 0;
  p.read_tick = 0;
  p.tick_offset = 0;
  p.first_block_tick = -1;
  for (int32_t i = 0; i < MAX_BIKES; i++) {
    int32_t slot = practice ? i + 1 : i;
    p.slots[i] = i < p.header.bike_count && slot < MAX_BIKES ? slot : -1;
    if (p.slots[i] >= 0) history_clear(p.slots[i]);
  }
  race_session.demo_version = p.header.version;
  race_session.playing_demo = true;
  if (!practice) {
    race_session.length.time_limit = p.header.time_limit;
    race_session.length.extra_laps = p.header.extra_laps;
    race_session.length.start_tick = p.header.start_tick;
  }
  return true;
}

void demo_play_tick() {
  if (!demo_player.stream.file) return;
  if (demo_player.header.version >= 6)
    play_tick_blocks();
  else
    play_tick_snapshots();
}

void demo_play_stop() {
  DemoPlayer& p = demo_player;
  if (p.stream.file) {
    data_close(p.stream.file);
    race_session.playing_demo = false;
    race_session.demo_version = 0;
  }
  p.stream = {};
  demo_header_free(&p.header);
  p.have_block = false;
  p.first_block_tick = -1;
  p.tick_offset = 0;
  p.read_tick = 0;
  for (int32_t& s : p.slots) s = -1;
}

void demo_streams_reset() {
  if (demo_recorder.file) {
    demo_record_tick(true);
    demo_record_stop();
  }
  demo_recorder.chain = 0;
  demo_recorder.slot_count = 0;
  demo_play_stop();
  demo_player.best_lap_ticks = 0;
  demo_player.last_lap_ticks = 0;
  demo_player.lap_reset = false;
}

void demo_seek(double seconds) {
  if (!seek_allowed()) return;
  DemoPlayer& p = demo_player;
  int32_t steps = (int32_t)(seconds / TICK_SECONDS);
  int32_t now = program.tick;
  bool v6 = p.header.version >= 6;

  if (steps > 0 && (v6 || run_options.accurate_skip)) {
    int32_t roost = derived.roost_rate;
    derived.roost_rate = 0;
    for (int32_t target = now + steps; program.tick < target;) simulate_tick();
    derived.roost_rate = roost;
    return;
  }

  int32_t target = now + steps - 1;
  if (target < 0) target = 0;
  if (v6) {
    blocks_back_to(target);
  } else {
    int64_t tick_bytes = (int64_t)snapshot_bytes(p.header.version) * p.header.bike_count;
    int32_t file_tick = target - p.tick_offset;
    if (file_tick < 0) file_tick = 0;
    if (!demo_stream_seek(&p.stream, p.header.data_start + (int64_t)file_tick * tick_bytes)) {
      log_printf("Demo seek failed (stream cannot seek)\n");
      return;
    }
    p.read_tick = file_tick;
  }
  if (target < now) gates_back_to(target);
  program.tick = target;
  history_clear_all();
  demo_play_tick();
  simulate_tick();
}

// ---------------------------------------------------------------- practice laps

int32_t demo_practice_lap_done() {
  Bike* bike = program.slots[0].bike;
  if (!bike) return 0;
  const TimingData* timing = &track.timing;
  DemoPlayer& p = demo_player;
  int32_t lap = timing_laps_completed(timing, bike->timing.gate_position);
  // After a practice lap the bike stands just past the finish gate with the
  // first lap's end to pass: crediting it starts the next lap, not a new one.
  if (lap <= 1 && p.lap_reset) return 0;

  // How far the ghost (the user's own bike in the fast lap) had got.
  int32_t ghost_slot = p.stream.file && p.header.bike_count > 0 ? p.slots[0] : -1;
  Bike* ghost = ghost_slot >= 0 ? program.slots[ghost_slot].bike : nullptr;
  bool beat_ghost = !ghost || bike->timing.gate_position > ghost->timing.gate_position;

  // 1. End the ghost and the lap's recording.
  bool recorded = demo_recorder.file != nullptr;
  if (recorded) {
    demo_record_tick(true);
    demo_record_stop();
  }
  demo_play_stop();
  if (demo_hooks.remove_ghosts) demo_hooks.remove_ghosts();

  // 2. Lap time and the session's best.
  int32_t ticks = bike_lap_ticks(timing, &bike->timing, lap, race_session.length.start_tick);
  p.last_lap_ticks = ticks;
  if (ticks > 0 && (p.best_lap_ticks <= 0 || ticks < p.best_lap_ticks)) p.best_lap_ticks = ticks;

  // 3. The lap becomes the ghost when it is the first or beat the ghost.
  char* last = practice_path("lastlap.rtdemo");
  char* fast = practice_path("fastlap.rtdemo");
  if (last && fast && recorded) {
    DataFile* existing = data_open(fast, "rb");
    bool first = existing == nullptr;
    data_close(existing);
    if (first || (beat_ghost && ticks > 0)) {
      if (!copy_demo(last, fast)) log_printf("Could not copy '%s' to '%s'\n", last, fast);
    }
  }
  mem_free(last);
  mem_free(fast);

  // 4. The new ghost, the lap start for both, a new recording.
  int32_t lap_start = timing->first_lap_count - 1;
  if (lap_start < 0) lap_start = 0;
  if (demo_play_start(nullptr)) {
    if (demo_hooks.create_ghosts) demo_hooks.create_ghosts();
    for (int32_t i = 0; i < p.header.bike_count; i++) {
      int32_t s = p.slots[i];
      Bike* g = s >= 0 ? program.slots[s].bike : nullptr;
      if (!g) continue;
      g->timing.gate_position = lap_start;
      if (g->timing.gate_ticks.count > lap_start) g->timing.gate_ticks.count = lap_start;
    }
  }
  // The finish gate just crossed is credited again as the first lap's end,
  // which starts the next timed lap.
  bike->timing.gate_position = lap_start;
  if (bike->timing.gate_ticks.count > lap_start) bike->timing.gate_ticks.count = lap_start;
  p.lap_reset = true;
  demo_record_start();
  positions_update();
  results_update();
  return ticks;
}

// ---------------------------------------------------------------- start-up and keys

bool demo_read_header(const char* path, const char** track_out) {
  DataFile* file = data_open(path, "rb");
  if (!file) return false;
  DemoHeader header;
  bool ok = demo_header_read(file, &header);
  data_close(file);
  if (ok && track_out) *track_out = intern_string(header.track);
  demo_header_free(&header);
  return ok;
}

void demo_seek_seconds(double delta) { demo_seek(delta); }
