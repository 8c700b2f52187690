// The file layer: one DataFile stream over plain files, ".saf" archive
// members, gzip-compressed and scrambled files; the search directories (home
// first, then game data), the "@" asset prefix, the list of every visible file,
// numbered backups and the game-data check.
//
// Asset names starting with "@" are looked up in the home directory, then the
// game data directory (each also as ".gz", ".scram" and ".gz.scram"), then in
// the file list (archive members included). Written "@" names always go to the
// home directory, which is created on demand.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/mem.h"

struct InflateState;    // gzip inflation buffers and zlib state (files_open.cpp)
struct ScrambleStream;  // descrambling key stream (core/scramble.h)

// One open stream. Owned by its opener, freed by data_close.
struct DataFile {
  FILE* file;                  // the underlying open file (nullptr for memory streams)
  uint32_t base;               // byte offset of the stream's data in the file
  int64_t length;              // bytes the stream may read (member size, or INT32_MAX)
  int64_t position;            // raw bytes consumed (or written) so far
  int32_t pushed_back;         // one character returned by a peek, or -1
  bool compressed;             // gzip data, inflated while reading
  bool scrambled;              // data goes through the descrambling stream
  bool writable;               // opened with a write mode
  InflateState* inflate;       // compressed streams only
  ScrambleStream* descramble;  // scrambled streams only
  uint8_t* memory;             // memory streams: private copy of the bytes
  int32_t last_op;             // 0 none, 1 read, 2 write (update streams need a seek between)
};

// ---------------------------------------------------------------- opening

// mode is a C open mode ("rb", "wb", "a", "r+"...). A mode without 'r' or with
// '+' writes. A leading '~' keeps a numbered backup "<path>.~N~" of an existing
// file before it is written; when the backup cannot be made the open fails.
DataFile* data_open(const char* name, const char* mode);
// Opens a path as data_open does for names without "@" (parent directories,
// backups, the ".gz"/".scram" read fallbacks) but never builds the file list.
DataFile* data_open_path(const char* path, const char* mode);
// A read stream over a private copy of size bytes (for parsers and tests).
DataFile* data_open_memory(const void* bytes, size_t size, bool compressed, bool scrambled);
void data_close(DataFile* file);

// ---------------------------------------------------------------- reading

int data_getc(DataFile* file);  // next byte (0..255) or EOF
int data_peek(DataFile* file);  // next byte without consuming it, or EOF
// Returns c to the stream (one character only); c or EOF when the slot is taken.
int data_ungetc(DataFile* file, int c);
// Reads up to and including '\n', or n - 1 bytes; always terminates buf.
// Returns buf, or nullptr at end of file when nothing was read (or n < 2).
char* data_read_line(DataFile* file, char* buf, int n);
// Up to n bytes, bounded by the stream length; returns the count read.
size_t data_read(DataFile* file, void* buf, size_t n);

// scanf-family formatted reading, one character of push-back. Conversions:
// white space, literals, %%, %d %i %o %u %x %X, %f %e %g %a (F E G A),
// %s %c %[...] %[^...], %n; widths, '*', size prefixes hh h l ll L q j z t.
// Returns the number of assignments, or EOF when the input ends first.
int data_scanf(DataFile* file, const char* format, ...) __attribute__((format(scanf, 2, 3)));
int data_vscanf(DataFile* file, const char* format, va_list args);
// Skips white space and every following line that starts with '#'.
void data_skip_comments(DataFile* file);
// Reads "%d"; INT32_MIN when nothing converts.
int32_t data_read_int(DataFile* file);

// ---------------------------------------------------------------- writing (plain files only)

int data_putc(DataFile* file, int c);             // c, or EOF on failure
int data_puts(DataFile* file, const char* text);  // >= 0, or EOF on failure (no newline added)
size_t data_write(DataFile* file, const void* buf, size_t n);  // count written
int data_printf(DataFile* file, const char* format, ...) __attribute__((format(printf, 2, 3)));
int data_vprintf(DataFile* file, const char* format, va_list args);

// ---------------------------------------------------------------- other stream calls

// Plain uncompressed, unscrambled streams only, 0 <= position <= length.
// Drops the pushed-back character.
bool data_seek(DataFile* file, int64_t position);
bool data_flush(DataFile* file);
bool data_is_scrambled(const DataFile* file);

// Replaces the file `to` with `from` (rename). "@" means the home directory.
bool data_replace(const char* from, const char* to);

// ---------------------------------------------------------------- ".saf" archives

struct SafMember {
  char* name;       // collapsed "/" runs; owned (mem_strdup)
  uint32_t offset;  // from the start of the archive file
  uint32_t size;
};

// Reads an archive header ("<size> <name>\n" lines, then "-\n") from the start
// of file. On success appends one member per named line and returns true. A
// malformed header (line without '\n', line not starting with a digit, end of
// file before "-", sizes past 4 GiB) appends nothing and returns false.
bool saf_read_header(DataFile* file, GrowArray<SafMember>* members);
void saf_members_free(GrowArray<SafMember>* members);

// ---------------------------------------------------------------- search directories and file list

struct FileEntry {
  char* path;       // the real file holding the data (the file, or the archive)
  char* name;       // relative to its search directory, or the member name
  uint32_t offset;  // of the data in the real file
  uint32_t size;
  int32_t source;  // 0 home, 1 game data, then archives in the order met
  int32_t order;   // insertion order (keeps equal keys in header order)
  bool owns_path;
};

// Home directory ("$XDG_DATA_HOME/Rutmoto/" or "$HOME/.local/share/Rutmoto/"),
// nullptr when unknown.
const char* home_dir();
int32_t search_dir_count();
const char* search_dir(int32_t index);  // nullptr when out of range

// Sorted visible names, each name (ignoring case) once, ended by nullptr.
const char* const* file_list();
int32_t file_list_count();        // visible names
int32_t file_list_entry_count();  // every entry, hidden ones included
const FileEntry* file_list_entry(int32_t index);
// The winning entry for name (ignoring case), or nullptr.
const FileEntry* file_list_find(const char* name);
// "<name> -> <path>" of entry index, cut to size; false when out of range.
bool file_list_describe(int32_t index, char* buffer, size_t size);
// Frees the list and the search directories; the next access rebuilds both
// from the environment.
void file_list_free();

// Creates the home directory with its parents and opens it in the desktop's
// file browser (xdg-open). Returns whether the browser was started.
bool open_home_folder();

// Creates the home directory, configures the log there, and checks for the
// marker archive "zzzz.saf" in each search directory by its digest.
bool game_data_check();
bool game_data_digest_accepted(const char* hex);
// RIPEMD-160 of the first 1 MiB of a file (256-byte blocks) as 40 lowercase
// hex digits plus NUL; false when the file cannot be read.
bool ripemd160_file_prefix_hex(const char* path, char out[41]);
// Tests: accept one more digest (nullptr clears it).
void game_data_add_accepted_digest_for_tests(const char* hex);

// An "@" name (without the "@") that stays below its search directory: not
// empty and without ".." components.
bool asset_name_safe(const char* name);

// Creates every missing directory of path (prefixes up to each '/').
// With include_last, path itself is created too.
bool make_parent_dirs(const char* path, bool include_last);
