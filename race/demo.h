// Demo files (".rtdemo"): the recorder of every session with numbered
// backups, the reader that feeds the histories of played bikes, seeking, the
// practice laps with their ghost, and "namedemo".
//
// File layout (version 6): a text header
//   "RT06 <bikes> <time limit> <extra laps> <start tick>\n", "<track>\n", and
//   per bike "<model>|<rider>|<bike>|<wheels>|<helmet>\n<number>\n<name>\n\n"
// followed by blocks: uint32 body length XOR the previous body length,
// int32 tick, uint8 type, body. Type 1 holds 44-byte records (bike number,
// int32 tick, 39-byte BikeState); type 2 the text of a shown message.
// Versions 4 and 5 have no name line and no empty line, and instead of
// blocks one snapshot per bike per tick (26 bytes in version 4, 39 in 5).
//
// Lifetimes: `demo_recorder` and `demo_player` are program-wide; their files
// stay open from demo_record_start / demo_play_start to the matching stop or
// demo_streams_reset. The header strings of the player are owned by it and
// freed when playback stops.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/common.h"

struct DataFile;

constexpr int32_t DEMO_VERSION = 6;
constexpr int32_t DEMO_RECORD_BYTES = 44;       // bike number, tick, BikeState
constexpr int32_t DEMO_BLOCK_HEADER_BYTES = 9;  // length, tick, type
constexpr int32_t DEMO_BLOCK_STATES = 1;
constexpr int32_t DEMO_BLOCK_MESSAGE = 2;
constexpr int32_t DEMO_DEFAULT_START_TICK = 1792;  // 14 s
constexpr int32_t DEMO_LINE_CHARS = 1024;          // header lines, names, messages
constexpr int32_t DEMO_MAX_BACKUPS = 100;
extern const char* const DEMO_DEFAULT_PATH;  // "@demos/default.rtdemo"

// ---------------------------------------------------------------- header

// One recorded rider as the header names it. Absent texture names are
// nullptr here and empty strings in the file.
struct DemoBikeInfo {
  const char* model;  // catalogue name, the four older names already renamed
  const char* rider_texture;
  const char* bike_texture;
  const char* wheel_texture;
  const char* helmet_texture;
  const char* number;
  const char* name;  // "" in version 4 and 5 files
};

struct DemoHeader {
  int32_t version;  // 4, 5 or 6
  int32_t bike_count;
  int32_t time_limit;  // ticks, 0 = none
  int32_t extra_laps;
  int32_t start_tick;
  const char* track;  // directory name
  DemoBikeInfo bikes[MAX_BIKES];
  int64_t data_start;  // bytes of the header = offset of the first data byte
  bool owned;          // strings are mem_strdup copies (read headers)
};

// Reads a header from the start of a stream. False (and nothing owned) when
// a line is missing its "\n", the first line does not scan with at least
// version, bike count and time limit, the version is not 4, 5 or 6, the bike
// count is outside 0..MAX_BIKES, or the track name is empty or leaves its
// directory. Missing values: extra laps 0, start tick 1792.
bool demo_header_read(DataFile* file, DemoHeader* header);
// Frees the strings of a read header (borrowed ones are left alone).
void demo_header_free(DemoHeader* header);
// Writes a version-6 header; false when the stream refuses the bytes.
bool demo_header_write(DataFile* file, const DemoHeader* header);

// ---------------------------------------------------------------- blocks

// A stream with the byte offset the demo code has read up to (compressed
// streams count raw bytes in DataFile::position, so the offset is kept here).
struct DemoStream {
  DataFile* file;
  int64_t position;
};

struct DemoBlock {
  int64_t offset;   // of the block's 9-byte header from the stream start
  uint32_t stored;  // the length field as stored (length XOR previous length)
  uint32_t length;  // body length
  int32_t tick;
  int32_t type;
};

struct DemoRecord {
  int32_t bike;  // number in header order
  int32_t tick;
  uint8_t state[39];
};

bool demo_stream_seek(DemoStream* stream, int64_t offset);
// Exactly n bytes, or false (the offset then counts what was read).
bool demo_stream_read(DemoStream* stream, void* buffer, size_t n);

// The block after `block` (nullptr: the first block at data_start), read up
// to its body, which the stream is left at. False at the end of the file or
// when the block header is cut short.
bool demo_block_next(DemoStream* stream, int64_t data_start, const DemoBlock* block,
                     DemoBlock* next);
// The block before `block`, found through the XOR chain. False at the first
// block or when the chain points before the data.
bool demo_block_previous(DemoStream* stream, int64_t data_start, const DemoBlock& block,
                         DemoBlock* previous);
// One 44-byte record of a type-1 body at the stream's position.
bool demo_record_read(DemoStream* stream, DemoRecord* record);
// Skips n body bytes by reading them; false when the stream ends first.
bool demo_stream_skip(DemoStream* stream, uint64_t n);
// Writes one block and advances the chain value (previous body length).
bool demo_block_write(DataFile* file, uint32_t* chain, int32_t tick, int32_t type, const void* body,
                      uint32_t length);

// ---------------------------------------------------------------- recorder

struct DemoRecorder {
  DataFile* file;            // nullptr when not recording
  uint32_t chain;            // the previous block's body length, 0 at the start
  int32_t slots[MAX_BIKES];  // recorded slots in bike-number order
  int32_t slot_count;
  char pending_name[DEMO_LINE_CHARS];  // from "namedemo"; "" when none
};

extern DemoRecorder demo_recorder;

// Opens the recording and writes the header (practice: "lastlap.rtdemo" of
// the track; otherwise "@demos/default.rtdemo" after rotating the backups).
// An open recording is finished first. False when the file cannot be created.
bool demo_record_start();
// Every tick (final = false) and once when a recording ends (final = true).
void demo_record_tick(bool final);
// Closes the recording; a name set by "namedemo" renames it.
void demo_record_stop();
// Appends a message block while recording.
void demo_message(const char* text);
// The "namedemo" console command: prints and returns the reply ("Not
// currently recording a demo", "Name too long", "Demo name updated", or
// "Invalid demo name" for a name that would leave the demos folder);
// nullptr (and nothing printed) when the argument holds no name.
const char* demo_name_command(const char* argument);

// ---------------------------------------------------------------- player

struct DemoPlayer {
  DemoStream stream;  // stream.file is nullptr when not playing
  DemoHeader header;  // version, bikes, track; valid while playing
  bool practice;      // a practice ghost: ticks shifted to start now
  bool have_block;    // `block` holds the last block read (version 6)
  DemoBlock block;
  int32_t block_tick;        // session tick of the last block read
  int32_t read_tick;         // versions 4 and 5: next file tick to read
  int32_t tick_offset;       // session tick - file tick
  int32_t first_block_tick;  // -1 until the first block was read
  // Per recorded bike its slot; session start may place the riders in other
  // slots and writes them here. -1 = not played.
  int32_t slots[MAX_BIKES];
  int32_t best_lap_ticks;  // practice: best lap of the session, 0 = none
  int32_t last_lap_ticks;  // practice: the lap just completed
  bool lap_reset;          // practice: slot 0 was put back to the first lap's end
};

extern DemoPlayer demo_player;

// Opens the chosen demo (path may be nullptr: in practice mode the track's
// "fastlap.rtdemo", otherwise "@demos/default.rtdemo") and reads its header;
// riders are given slots 0, 1, ... (1, 2, ... for a practice ghost). Outside
// practice the session's time limit, extra laps and start tick come from the
// header. False when it cannot be opened or read.
bool demo_play_start(const char* path);
// Every tick: feeds the histories of the played bikes up to a little past
// the current tick.
void demo_play_tick();
void demo_play_stop();
// Moves playback by seconds (negative: back).
void demo_seek(double seconds);
// Closes both streams (an open recording is finished first) and forgets
// their state, the practice best lap included.
void demo_streams_reset();

// ---------------------------------------------------------------- practice

// Calls into the session for what a practice lap needs beyond the demo
// streams. Set by the session module; nullptr hooks do nothing.
struct DemoHooks {
  // Destroys the bikes of the played ghost (demo_player.slots).
  void (*remove_ghosts)();
  // Creates one REPLAYED bike per demo_player.header rider in its slot.
  void (*create_ghosts)();
  // The rider name written to a header for a slot; nullptr hook: the
  // configured name for the local rider, "Roborider" for robots, "" else.
  const char* (*rider_name)(int32_t slot);
};

extern DemoHooks demo_hooks;

// The user's bike (slot 0) completed a lap in practice mode: ends the ghost
// and the "lastlap.rtdemo" recording, keeps the lap time and the best lap,
// copies the lap to "fastlap.rtdemo" when it is the first or beat the ghost,
// starts the new ghost and a new recording and recomputes the positions.
// Returns the lap time in ticks (0 when unknown).
int32_t demo_practice_lap_done();
