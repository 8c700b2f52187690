// Opening names and paths, numbered backups, the gzip and scrambled read
// layers, and the reading and writing calls of DataFile.
#include <errno.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <zlib.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "core/files.h"
#include "core/mem.h"
#include "core/scramble.h"

namespace {

constexpr int64_t PLAIN_LENGTH = INT32_MAX;  // readable bytes of a plain file
constexpr size_t MAX_PATH_TEXT = 1024;       // paths must stay shorter than this
constexpr size_t MAX_ASSET_PATH = 511;       // search directory + "@" name
constexpr size_t MAX_BACKUP_PATH = 1000;     // longest path that gets a backup
constexpr int MAX_BACKUPS = 9999;
constexpr size_t COPY_BLOCK = 64 * 1024;
constexpr size_t INFLATE_IN = 16 * 1024;
constexpr size_t INFLATE_OUT = 1024;

constexpr int OP_NONE = 0;
constexpr int OP_READ = 1;
constexpr int OP_WRITE = 2;

}  // namespace

struct InflateState {
  z_stream z;
  bool ready;  // inflateInit2 succeeded
  bool ended;  // end of the deflate stream, an error, or no more input
  int32_t out_pos;
  int32_t out_len;
  uint8_t in[INFLATE_IN];
  uint8_t out[INFLATE_OUT];
};

namespace {

bool is_write_mode(const char* mode) { return !strchr(mode, 'r') || strchr(mode, '+'); }

bool path_exists(const char* path, bool* unknown) {
  struct stat st;
  if (stat(path, &st) == 0) return true;
  if (unknown) *unknown = errno != ENOENT && errno != ENOTDIR;
  return false;
}

DataFile* new_data_file() {
  DataFile* f = (DataFile*)mem_alloc_zeroed(1, sizeof(DataFile));
  if (!f) return nullptr;
  f->pushed_back = -1;
  return f;
}

voidpf zlib_alloc(voidpf, uInt items, uInt size) { return mem_alloc_zeroed(items, size); }
void zlib_free(voidpf, voidpf block) { mem_free(block); }

// ---------------------------------------------------------------- raw layer
// Bytes of the underlying file region (bounded by length), descrambled.

void prepare_read(DataFile* f) {
  if (f->file && f->last_op == OP_WRITE) fseek(f->file, 0, SEEK_CUR);
  f->last_op = OP_READ;
}

size_t raw_read(DataFile* f, uint8_t* buf, size_t n) {
  int64_t left = f->length - f->position;
  if (left <= 0 || n == 0) return 0;
  if ((int64_t)n > left) n = (size_t)left;
  size_t got;
  if (f->memory) {
    memcpy(buf, f->memory + f->position, n);
    got = n;
  } else {
    prepare_read(f);
    got = fread(buf, 1, n, f->file);
  }
  if (f->descramble) scramble_apply(f->descramble, buf, got);
  f->position += (int64_t)got;
  return got;
}

int raw_getc(DataFile* f) {
  if (f->position >= f->length) return EOF;
  int c;
  if (f->memory) {
    c = f->memory[f->position];
  } else {
    prepare_read(f);
    c = getc(f->file);
    if (c == EOF) return EOF;
  }
  if (f->descramble) {
    uint8_t b = (uint8_t)c;
    scramble_apply(f->descramble, &b, 1);
    c = b;
  }
  f->position++;
  return c;
}

// ---------------------------------------------------------------- gzip layer

// The gzip header: magic 31 139, method 8, flags below 32, six bytes of time,
// extra flags and system, then the optional fields the flags announce.
bool gzip_skip_header(DataFile* f) {
  if (raw_getc(f) != 31 || raw_getc(f) != 139 || raw_getc(f) != 8) return false;
  int flags = raw_getc(f);
  if (flags < 0 || flags >= 32) return false;
  for (int i = 0; i < 6; i++)
    if (raw_getc(f) == EOF) return false;
  if (flags & 4) {
    int lo = raw_getc(f);
    int hi = raw_getc(f);
    if (lo == EOF || hi == EOF) return false;
    for (int n = lo | (hi << 8); n > 0; n--)
      if (raw_getc(f) == EOF) return false;
  }
  for (int field = 8; field <= 16; field += 8) {  // zero-terminated name, then comment
    if (!(flags & field)) continue;
    int c;
    do c = raw_getc(f);
    while (c > 0);
    if (c == EOF) return false;
  }
  if (flags & 2) {
    if (raw_getc(f) == EOF || raw_getc(f) == EOF) return false;
  }
  return true;
}

// Makes at least one inflated byte available; false at the end of the stream.
bool inflate_fill(DataFile* f) {
  InflateState* s = f->inflate;
  while (s->out_pos >= s->out_len) {
    if (s->ended) return false;
    if (s->z.avail_in == 0) {
      size_t got = raw_read(f, s->in, sizeof s->in);
      if (got == 0) {
        s->ended = true;
        return false;
      }
      s->z.next_in = s->in;
      s->z.avail_in = (uInt)got;
    }
    s->z.next_out = s->out;
    s->z.avail_out = sizeof s->out;
    int ret = inflate(&s->z, Z_NO_FLUSH);
    s->out_pos = 0;
    s->out_len = (int32_t)(sizeof s->out - s->z.avail_out);
    if (ret != Z_OK) s->ended = true;  // end of stream or an error
  }
  return true;
}

bool setup_stream(DataFile* f, bool compressed, bool scrambled) {
  if (scrambled) {
    f->descramble = (ScrambleStream*)mem_alloc(sizeof(ScrambleStream));
    if (!f->descramble) return false;
    scramble_start(f->descramble);
    f->scrambled = true;
  }
  if (compressed) {
    f->inflate = (InflateState*)mem_alloc_zeroed(1, sizeof(InflateState));
    if (!f->inflate) return false;
    f->compressed = true;
    if (!gzip_skip_header(f)) return false;
    z_stream* z = &f->inflate->z;
    z->zalloc = zlib_alloc;
    z->zfree = zlib_free;
    z->opaque = nullptr;
    if (inflateInit2(z, -15) != Z_OK) return false;
    f->inflate->ready = true;
  }
  return true;
}

// Opens the real file path and makes a stream of its bytes [base, base + length).
DataFile* open_region(const char* path, const char* mode, uint32_t base, int64_t length,
                      bool compressed, bool scrambled) {
  FILE* fp = fopen(path, mode);
  if (!fp) return nullptr;
  struct stat st;
  if (fstat(fileno(fp), &st) != 0 || S_ISDIR(st.st_mode) ||
      (base && fseek(fp, (long)base, SEEK_SET) != 0)) {
    fclose(fp);
    return nullptr;
  }
  DataFile* f = new_data_file();
  if (!f) {
    fclose(fp);
    return nullptr;
  }
  f->file = fp;
  f->base = base;
  f->length = length;
  f->writable = is_write_mode(mode);
  if (!setup_stream(f, compressed, scrambled)) {
    data_close(f);
    return nullptr;
  }
  return f;
}

// ---------------------------------------------------------------- backups

bool copy_file(const char* from, const char* to) {
  FILE* in = fopen(from, "rb");
  if (!in) return false;
  FILE* out = fopen(to, "wbx");
  if (!out) {
    fclose(in);
    return false;
  }
  uint8_t* block = (uint8_t*)mem_alloc(COPY_BLOCK);
  bool ok = block != nullptr;
  while (ok) {
    size_t got = fread(block, 1, COPY_BLOCK, in);
    if (got == 0) {
      ok = !ferror(in);
      break;
    }
    if (fwrite(block, 1, got, out) != got) ok = false;
  }
  mem_free(block);
  fclose(in);
  if (fclose(out) != 0) ok = false;
  if (!ok) remove(to);
  return ok;
}

// Copies an existing file to the first free "<path>.~N~"; true when there was
// nothing to back up or the copy is complete.
bool make_backup(const char* path) {
  bool unknown = false;
  if (!path_exists(path, &unknown)) return !unknown;
  if (strlen(path) > MAX_BACKUP_PATH) return false;
  char name[MAX_PATH_TEXT + 16];
  for (int n = 1; n <= MAX_BACKUPS; n++) {
    snprintf(name, sizeof name, "%s.~%d~", path, n);
    bool taken_unknown = false;
    if (path_exists(name, &taken_unknown)) continue;
    if (taken_unknown) return false;
    return copy_file(path, name);
  }
  return false;
}

// Step 4 of opening a name: the file list, as name, .gz, .scram and .gz.scram.
DataFile* open_from_list(const char* name, const char* mode) {
  static const char* const SUFFIXES[] = {"", ".gz", ".scram", ".gz.scram"};
  const FileEntry* best = nullptr;
  int best_form = 0;
  for (int form = 0; form < 4; form++) {
    char* key = join(name, SUFFIXES[form]);
    if (!key) return nullptr;
    const FileEntry* e = file_list_find(key);
    mem_free(key);
    if (e && (!best || e->source < best->source)) {
      best = e;
      best_form = form;
    }
  }
  if (!best) return nullptr;
  bool compressed = best_form == 1 || best_form == 3;
  bool scrambled = best_form >= 2;
  bool member = best->source >= search_dir_count();
  return open_region(best->path, mode, member ? best->offset : 0,
                     member ? (int64_t)best->size : PLAIN_LENGTH, compressed, scrambled);
}

}  // namespace

// ---------------------------------------------------------------- opening

bool make_parent_dirs(const char* path, bool include_last) {
  if (!path || !*path) return false;
  char* copy = mem_strdup(path);
  if (!copy) return false;
  for (char* p = copy + 1; *p; p++) {
    if (*p != '/' || p[-1] == '/') continue;
    *p = 0;
    mkdir(copy, 0777);
    *p = '/';
  }
  if (include_last) mkdir(copy, 0777);
  // Report whether the innermost directory now exists.
  if (!include_last) {
    char* slash = strrchr(copy, '/');
    if (!slash) {
      mem_free(copy);
      return true;
    }
    slash[slash == copy ? 1 : 0] = 0;
  }
  struct stat st;
  bool ok = stat(copy, &st) == 0 && S_ISDIR(st.st_mode);
  mem_free(copy);
  return ok;
}

DataFile* data_open_path(const char* path, const char* mode) {
  if (!path || !*path || !mode) return nullptr;
  bool backup = mode[0] == '~';
  if (backup) mode++;
  if (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a') return nullptr;
  bool write = is_write_mode(mode);
  size_t len = strlen(path);
  if (write && len < MAX_PATH_TEXT) make_parent_dirs(path, false);
  if (backup && write && !make_backup(path)) return nullptr;
  DataFile* f = open_region(path, mode, 0, PLAIN_LENGTH, false, false);
  if (f || write) return f;
  static const struct {
    const char* suffix;
    bool compressed, scrambled;
  } FALLBACKS[] = {{".gz", true, false}, {".scram", false, true}, {".gz.scram", true, true}};
  for (const auto& fb : FALLBACKS) {
    if (len + strlen(fb.suffix) >= MAX_PATH_TEXT) continue;
    char* longer = join(path, fb.suffix);
    if (!longer) return nullptr;
    f = open_region(longer, mode, 0, PLAIN_LENGTH, fb.compressed, fb.scrambled);
    mem_free(longer);
    if (f) return f;
  }
  return nullptr;
}

DataFile* data_open(const char* name, const char* mode) {
  if (!name || !mode) return nullptr;
  file_list();  // built on first use
  if (name[0] != '@') return data_open_path(name, mode);
  const char* rel = name + 1;
  if (!asset_name_safe(rel)) return nullptr;
  const char* open_mode = mode[0] == '~' ? mode + 1 : mode;
  if (is_write_mode(open_mode)) {
    // Written assets always go to the home directory.
    const char* home = home_dir();
    if (!home || strlen(home) + strlen(rel) > MAX_ASSET_PATH) return nullptr;
    char* path = join(home, rel);
    if (!path) return nullptr;
    DataFile* f = data_open_path(path, mode);
    mem_free(path);
    return f;
  }
  for (int32_t i = 0; i < search_dir_count(); i++) {
    const char* dir = search_dir(i);
    if (strlen(dir) + strlen(rel) > MAX_ASSET_PATH) continue;
    char* path = join(dir, rel);
    if (!path) return nullptr;
    DataFile* f = data_open_path(path, mode);
    mem_free(path);
    if (f) return f;
  }
  return open_from_list(rel, open_mode);
}

DataFile* data_open_memory(const void* bytes, size_t size, bool compressed, bool scrambled) {
  if (!bytes && size) return nullptr;
  DataFile* f = new_data_file();
  if (!f) return nullptr;
  f->memory = (uint8_t*)mem_alloc(size ? size : 1);
  if (!f->memory) {
    mem_free(f);
    return nullptr;
  }
  if (size) memcpy(f->memory, bytes, size);
  f->length = (int64_t)size;
  if (!setup_stream(f, compressed, scrambled)) {
    data_close(f);
    return nullptr;
  }
  return f;
}

void data_close(DataFile* f) {
  if (!f) return;
  if (f->inflate) {
    if (f->inflate->ready) inflateEnd(&f->inflate->z);
    mem_free(f->inflate);
  }
  mem_free(f->descramble);
  if (f->file) fclose(f->file);
  mem_free(f->memory);
  mem_free(f);
}

// ---------------------------------------------------------------- reading

int data_getc(DataFile* f) {
  if (!f) return EOF;
  if (f->pushed_back >= 0) {
    int c = f->pushed_back;
    f->pushed_back = -1;
    return c;
  }
  if (f->compressed) {
    if (!inflate_fill(f)) return EOF;
    return f->inflate->out[f->inflate->out_pos++];
  }
  return raw_getc(f);
}

int data_peek(DataFile* f) {
  int c = data_getc(f);
  if (c != EOF) f->pushed_back = c;
  return c;
}

int data_ungetc(DataFile* f, int c) {
  if (!f || c == EOF || f->pushed_back >= 0) return EOF;
  f->pushed_back = (uint8_t)c;
  return f->pushed_back;
}

char* data_read_line(DataFile* f, char* buf, int n) {
  if (!buf || n <= 0) return nullptr;
  buf[0] = 0;
  if (!f || n < 2) return nullptr;
  int i = 0;
  while (i < n - 1) {
    int c = data_getc(f);
    if (c == EOF) break;
    buf[i++] = (char)c;
    if (c == '\n') break;
  }
  buf[i] = 0;
  return i ? buf : nullptr;
}

size_t data_read(DataFile* f, void* buf, size_t n) {
  if (!f || !buf || !n) return 0;
  uint8_t* out = (uint8_t*)buf;
  size_t done = 0;
  if (f->pushed_back >= 0) {
    out[done++] = (uint8_t)f->pushed_back;
    f->pushed_back = -1;
  }
  if (f->compressed) {
    InflateState* s = f->inflate;
    while (done < n && inflate_fill(f)) {
      size_t take = (size_t)(s->out_len - s->out_pos);
      if (take > n - done) take = n - done;
      memcpy(out + done, s->out + s->out_pos, take);
      s->out_pos += (int32_t)take;
      done += take;
    }
    return done;
  }
  while (done < n) {
    size_t got = raw_read(f, out + done, n - done);
    if (got == 0) break;
    done += got;
  }
  return done;
}

// ---------------------------------------------------------------- writing

namespace {

bool prepare_write(DataFile* f) {
  if (!f || !f->file || !f->writable || f->compressed || f->scrambled) return false;
  if (f->pushed_back >= 0) {
    // The peeked byte was read from the file; write where the reader stands.
    f->pushed_back = -1;
    if (fseek(f->file, -1, SEEK_CUR) == 0) f->position--;
    f->last_op = OP_NONE;
  }
  if (f->last_op == OP_READ) fseek(f->file, 0, SEEK_CUR);
  f->last_op = OP_WRITE;
  return true;
}

}  // namespace

int data_putc(DataFile* f, int c) {
  if (!prepare_write(f)) return EOF;
  int r = putc(c, f->file);
  if (r != EOF) f->position++;
  return r;
}

int data_puts(DataFile* f, const char* text) {
  if (!text || !prepare_write(f)) return EOF;
  if (fputs(text, f->file) == EOF) return EOF;
  f->position += (int64_t)strlen(text);
  return 0;
}

size_t data_write(DataFile* f, const void* buf, size_t n) {
  if (!buf || !n || !prepare_write(f)) return 0;
  size_t done = fwrite(buf, 1, n, f->file);
  f->position += (int64_t)done;
  return done;
}

int data_vprintf(DataFile* f, const char* format, va_list args) {
  if (!format || !prepare_write(f)) return -1;
  int r = vfprintf(f->file, format, args);
  if (r > 0) f->position += r;
  return r;
}

int data_printf(DataFile* f, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int r = data_vprintf(f, format, args);
  va_end(args);
  return r;
}

// ---------------------------------------------------------------- other calls

bool data_seek(DataFile* f, int64_t position) {
  if (!f || f->compressed || f->scrambled) return false;
  if (position < 0 || position > f->length) return false;
  if (f->file) {
    int64_t target = (int64_t)f->base + position;
    if (target > LONG_MAX || fseek(f->file, (long)target, SEEK_SET) != 0) return false;
    f->last_op = OP_NONE;
  }
  f->position = position;
  f->pushed_back = -1;
  return true;
}

bool data_flush(DataFile* f) {
  if (!f) return false;
  return f->file ? fflush(f->file) == 0 : true;
}

bool data_is_scrambled(const DataFile* f) { return f && f->scrambled; }
