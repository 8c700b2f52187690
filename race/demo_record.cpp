// Demo recording: backups of the default demo, the header, the snapshot and
// message blocks with their XOR length chain, and "namedemo".
#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/config.h"
#include "core/files.h"
#include "core/mem.h"
#include "core/messages.h"
#include "core/program.h"
#include "physics/bike.h"
#include "physics/step.h"
#include "platform/log.h"
#include "race/demo.h"
#include "race/race.h"
#include "track/track.h"

const char* const DEMO_DEFAULT_PATH = "@demos/default.rtdemo";
DemoRecorder demo_recorder;

namespace {

void write_le32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}

const char* text_or_empty(const char* text) { return text ? text : ""; }

// "@demos/default%02d.rtdemo" n moves to n + 1 for n = B - 2 .. 0, then the
// default demo becomes backup 00.
void rotate_backups() {
  int32_t backups = settings.demo_backups;
  if (backups < 0) backups = 0;
  if (backups > DEMO_MAX_BACKUPS) backups = DEMO_MAX_BACKUPS;
  char from[64], to[64];
  for (int32_t n = backups - 2; n >= 0; n--) {
    snprintf(from, sizeof from, "@demos/default%02d.rtdemo", n);
    snprintf(to, sizeof to, "@demos/default%02d.rtdemo", n + 1);
    data_replace(from, to);
  }
  if (backups > 0) data_replace(DEMO_DEFAULT_PATH, "@demos/default00.rtdemo");
}

// Which slots a recording holds: offline the local rider and the robots;
// connected as a rider every bike; as a watcher the other riders and robots.
bool slot_recorded(int32_t slot) {
  const BikeSlot& s = program.slots[slot];
  if (!s.bike) return false;
  if (!physics_state.online) return s.kind == LOCAL_RIDER || s.kind == ROBOT;
  if (race_session.local_slot != NO_LOCAL_SLOT) return true;
  return s.kind == REPLAYED || s.kind == ROBOT;
}

const char* rider_name(int32_t slot) {
  if (demo_hooks.rider_name) return text_or_empty(demo_hooks.rider_name(slot));
  switch (program.slots[slot].kind) {
    case LOCAL_RIDER: return settings.name.text ? settings.name.text : "";
    case ROBOT: return "Roborider";
    default: return "";
  }
}

// Writes the unwritten history entries of every recorded slot as one block.
void write_states_block() {
  DemoRecorder& r = demo_recorder;
  int64_t total = 0;
  for (int32_t i = 0; i < r.slot_count; i++) {
    int32_t c = race_session.history[r.slots[i]].count;
    if (c > 0) total += c < HISTORY_LENGTH ? c : HISTORY_LENGTH;
  }
  if (total == 0) return;
  uint8_t* body = (uint8_t*)mem_alloc((size_t)total * DEMO_RECORD_BYTES);
  if (!body) fatal_out_of_memory();
  uint8_t* out = body;
  for (int32_t i = 0; i < r.slot_count; i++) {
    SlotHistory& h = race_session.history[r.slots[i]];
    int32_t c = h.count < HISTORY_LENGTH ? h.count : HISTORY_LENGTH;
    for (int32_t k = c - 1; k >= 0; k--) {  // oldest first
      const HistoryEntry& e =
          h.entries[((h.head - k) % HISTORY_LENGTH + HISTORY_LENGTH) % HISTORY_LENGTH];
      out[0] = (uint8_t)i;
      write_le32(out + 1, (uint32_t)e.tick);
      memcpy(out + 5, e.state.bytes, BIKE_STATE_BYTES);
      out += DEMO_RECORD_BYTES;
    }
    h.count = 0;
  }
  if (!demo_block_write(r.file, &r.chain, program.tick, DEMO_BLOCK_STATES, body,
                        (uint32_t)(total * DEMO_RECORD_BYTES)))
    log_printf("Demo block could not be written\n");
  mem_free(body);
  data_flush(r.file);
}

}  // namespace

// ---------------------------------------------------------------- format

bool demo_header_write(DataFile* file, const DemoHeader* h) {
  if (!file || !h) return false;
  bool ok = data_printf(file, "RT%02d %d %d %d %d\n", DEMO_VERSION, h->bike_count, h->time_limit,
                        h->extra_laps, h->start_tick) > 0;
  ok = ok && data_printf(file, "%s\n", text_or_empty(h->track)) > 0;
  for (int32_t i = 0; ok && i < h->bike_count && i < MAX_BIKES; i++) {
    const DemoBikeInfo& b = h->bikes[i];
    ok = data_printf(file, "%s|%s|%s|%s|%s\n%s\n%s\n\n", text_or_empty(b.model),
                     text_or_empty(b.rider_texture), text_or_empty(b.bike_texture),
                     text_or_empty(b.wheel_texture), text_or_empty(b.helmet_texture),
                     text_or_empty(b.number), text_or_empty(b.name)) > 0;
  }
  return ok;
}

bool demo_block_write(DataFile* file, uint32_t* chain, int32_t tick, int32_t type, const void* body,
                      uint32_t length) {
  uint8_t head[DEMO_BLOCK_HEADER_BYTES];
  write_le32(head, length ^ *chain);
  write_le32(head + 4, (uint32_t)tick);
  head[8] = (uint8_t)type;
  *chain = length;
  return data_write(file, head, sizeof head) == sizeof head &&
         (length == 0 || data_write(file, body, length) == length);
}

// ---------------------------------------------------------------- recorder

bool demo_record_start() {
  DemoRecorder& r = demo_recorder;
  if (r.file) {
    demo_record_tick(true);
    demo_record_stop();
  }
  char* path;
  if (run_options.practice) {
    if (!track.name) return false;
    path = join("@", track.name, "/lastlap.rtdemo");
  } else {
    rotate_backups();
    path = mem_strdup(DEMO_DEFAULT_PATH);
  }
  if (!path) fatal_out_of_memory();
  r.file = data_open(path, "wb");
  if (!r.file) {
    log_printf("Can't record demo '%s'\n", path);
    mem_free(path);
    return false;
  }
  mem_free(path);

  DemoHeader header;
  memset(&header, 0, sizeof header);
  header.version = DEMO_VERSION;
  header.time_limit = race_session.length.time_limit;
  header.extra_laps = race_session.length.extra_laps;
  header.start_tick = race_session.length.start_tick;
  header.track = track.name;
  r.slot_count = 0;
  for (int32_t s = 0; s < MAX_BIKES; s++) {
    if (!slot_recorded(s)) continue;
    const Bike* bike = program.slots[s].bike;
    DemoBikeInfo& b = header.bikes[r.slot_count];
    b.model = bike->info.name;
    b.rider_texture = bike->texture_names[TEXTURE_RIDER];
    b.bike_texture = bike->texture_names[TEXTURE_BIKE];
    b.wheel_texture = bike->texture_names[TEXTURE_WHEEL];
    b.helmet_texture = bike->texture_names[TEXTURE_HELMET];
    b.number = bike->number_text;
    b.name = rider_name(s);
    r.slots[r.slot_count++] = s;
  }
  header.bike_count = r.slot_count;
  r.chain = 0;
  if (!demo_header_write(r.file, &header) || !data_flush(r.file)) {
    log_printf("Demo header could not be written\n");
    data_close(r.file);
    r.file = nullptr;
    r.slot_count = 0;
    return false;
  }
  return true;
}

void demo_record_tick(bool final) {
  DemoRecorder& r = demo_recorder;
  if (!r.file) return;
  int32_t tick = program.tick;
  if (final || tick % 4 == 0) {
    for (int32_t s = 0; s < MAX_BIKES; s++) {
      const BikeSlot& slot = program.slots[s];
      if (slot.bike && (slot.kind == LOCAL_RIDER || slot.kind == ROBOT))
        add_state_to_history(s, bike_state_pack(slot.bike), tick);
    }
  }
  if (final || tick % 16 == 0) write_states_block();
}

void demo_record_stop() {
  DemoRecorder& r = demo_recorder;
  if (!r.file) return;
  data_close(r.file);
  r.file = nullptr;
  r.slot_count = 0;
  if (r.pending_name[0]) {
    char* to = join("@demos/", r.pending_name);
    if (!to) fatal_out_of_memory();
    if (!data_replace(DEMO_DEFAULT_PATH, to)) log_printf("Could not rename the demo to '%s'\n", to);
    mem_free(to);
    r.pending_name[0] = 0;
  }
}

void demo_message(const char* text) {
  DemoRecorder& r = demo_recorder;
  if (!r.file || !text) return;
  if (!demo_block_write(r.file, &r.chain, program.tick, DEMO_BLOCK_MESSAGE, text,
                        (uint32_t)strlen(text)))
    log_printf("Demo block could not be written\n");
}

const char* demo_name_command(const char* argument) {
  static const char* const EXTENSION = ".rtdemo";
  const char* reply;
  if (run_options.practice || !demo_recorder.file) {
    reply = "Not currently recording a demo";
  } else {
    const char* p = argument ? argument : "";
    while (*p && isspace((unsigned char)*p)) p++;
    size_t length = 0;
    while (p[length] && !isspace((unsigned char)p[length])) length++;
    if (length == 0) return nullptr;
    if (length + 8 > (size_t)DEMO_LINE_CHARS) {
      reply = "Name too long";
    } else {
      char name[DEMO_LINE_CHARS];
      memcpy(name, p, length);
      name[length] = 0;
      size_t ext = strlen(EXTENSION);
      if (length < ext || strcmp(name + length - ext, EXTENSION) != 0)
        memcpy(name + length, EXTENSION, ext + 1);
      // The name stays a file of the demos folder.
      if (strchr(name, '/')) {
        reply = "Invalid demo name";
      } else {
        memcpy(demo_recorder.pending_name, name, strlen(name) + 1);
        reply = "Demo name updated";
      }
    }
  }
  print_message(reply);
  return reply;
}
