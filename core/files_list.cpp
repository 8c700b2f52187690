// Search directories, the file list with ".saf" archive members, renaming,
// opening the home folder and the game-data check.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <nettle/ripemd160.h>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/files.h"
#include "core/mem.h"
#include "platform/log.h"

namespace {

// Digests of the first MiB of "zzzz.saf" that mark a complete game data set.
const char* const ACCEPTED_DIGESTS[] = {
    "715c4d1e915e19e6456a63a9a7664a8716124d05",
    "3314f1e95922f196784573cecac602af70961ee2",  // the data generator's marker archive
};
constexpr size_t DIGEST_PREFIX_BYTES = 1048576;
constexpr size_t DIGEST_BLOCK = 256;

constexpr int32_t MAX_SEARCH_DIRS = 2;
constexpr int MAX_WALK_DEPTH = 64;
constexpr int SAF_LINE = 1024;

char test_digest[41];

struct FileLayer {
  bool dirs_built;
  bool home_known;
  int32_t dir_count;
  char* dirs[MAX_SEARCH_DIRS];
  bool list_built;
  GrowArray<FileEntry> entries;
  const char** visible;  // nullptr-terminated
  int32_t visible_count;
};

FileLayer layer;

// base without its trailing '/' characters, followed by tail.
char* dir_with_tail(const char* base, const char* tail) {
  size_t len = strlen(base);
  while (len > 0 && base[len - 1] == '/') len--;
  char* trimmed = (char*)mem_alloc(len + 1);
  if (!trimmed) return nullptr;
  memcpy(trimmed, base, len);
  trimmed[len] = 0;
  char* joined = join((const char*)trimmed, tail);
  mem_free(trimmed);
  return joined;
}

char* find_home_dir() {
  const char* xdg = getenv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') return dir_with_tail(xdg, "/Rutmoto/");
  const char* home = getenv("HOME");
  if (!home || !*home) {
    struct passwd* pw = getpwuid(getuid());
    home = pw ? pw->pw_dir : nullptr;
  }
  if (!home || !*home) return nullptr;
  return dir_with_tail(home, "/.local/share/Rutmoto/");
}

char* find_game_dir() {
  const char* rt_home = getenv("RT_HOME");
  if (rt_home && *rt_home) return dir_with_tail(rt_home, "/");
  char exe[4096];
  ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (len <= 0) return nullptr;
  exe[len] = 0;
  char* slash = strrchr(exe, '/');
  if (!slash) return nullptr;
  slash[1] = 0;
  return mem_strdup(exe);
}

void build_dirs() {
  if (layer.dirs_built) return;
  layer.dirs_built = true;
  layer.dir_count = 0;
  char* home = find_home_dir();
  layer.home_known = home != nullptr;
  if (home) layer.dirs[layer.dir_count++] = home;
  char* game = find_game_dir();
  if (game) layer.dirs[layer.dir_count++] = game;
}

bool push_entry(char* path, char* name, uint32_t offset, uint32_t size, int32_t source,
                bool owns_path) {
  FileEntry e;
  e.path = path;
  e.name = name;
  e.offset = offset;
  e.size = size;
  e.source = source;
  e.order = layer.entries.count;
  e.owns_path = owns_path;
  return grow_push(layer.entries, e) != nullptr;
}

struct DirId {
  dev_t dev;
  ino_t ino;
};

// Adds every regular file below dir_path; rel is the name prefix ("" or "sub/").
// Directories already on the walk (symbolic link loops) are not entered again.
void walk(const char* dir_path, const char* rel, int32_t source, DirId* stack, int depth) {
  DIR* dir = opendir(*dir_path ? dir_path : "/");
  if (!dir) return;
  while (struct dirent* de = readdir(dir)) {
    const char* leaf = de->d_name;
    if (strcmp(leaf, ".") == 0 || strcmp(leaf, "..") == 0) continue;
    char* path = join(dir_path, "/", leaf);
    if (!path) continue;
    struct stat st;
    if (stat(path, &st) != 0) {
      mem_free(path);
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      bool loop = depth >= MAX_WALK_DEPTH;
      for (int i = 0; i < depth && !loop; i++)
        loop = stack[i].dev == st.st_dev && stack[i].ino == st.st_ino;
      char* sub = loop ? nullptr : join(rel, leaf, "/");
      if (sub) {
        stack[depth] = {st.st_dev, st.st_ino};
        walk(path, sub, source, stack, depth + 1);
        mem_free(sub);
      }
      mem_free(path);
    } else if (S_ISREG(st.st_mode)) {
      char* name = join(rel, leaf);
      uint32_t size = st.st_size > (off_t)UINT32_MAX ? UINT32_MAX : (uint32_t)st.st_size;
      if (!name || !push_entry(path, name, 0, size, source, true)) {
        mem_free(path);
        mem_free(name);
      }
    } else {
      mem_free(path);
    }
  }
  closedir(dir);
}

int compare_entries(const void* a, const void* b) {
  const FileEntry* x = (const FileEntry*)a;
  const FileEntry* y = (const FileEntry*)b;
  int c = strcasecmp(x->name, y->name);
  if (c) return c;
  if (x->source != y->source) return x->source < y->source ? -1 : 1;
  return x->order < y->order ? -1 : x->order > y->order;
}

void sort_entries() {
  if (layer.entries.count > 1)
    qsort(layer.entries.data, (size_t)layer.entries.count, sizeof(FileEntry), compare_entries);
}

bool is_archive_name(const char* name) {
  size_t len = strlen(name);
  return len >= 5 && strcasecmp(name + len - 4, ".saf") == 0;
}

void add_archive_members(int32_t plain_count) {
  int32_t number = layer.dir_count;
  for (int32_t i = 0; i < plain_count; i++) {
    if (!is_archive_name(layer.entries.data[i].name)) continue;
    char* archive_path = layer.entries.data[i].path;
    int32_t source = number++;
    DataFile* f = data_open_path(archive_path, "rb");
    if (!f) continue;
    GrowArray<SafMember> members;
    bool ok = saf_read_header(f, &members);
    data_close(f);
    if (!ok) continue;
    for (int32_t m = 0; m < members.count; m++) {
      SafMember* sm = &members.data[m];
      if (push_entry(archive_path, sm->name, sm->offset, sm->size, source, false))
        sm->name = nullptr;  // the entry owns it now
    }
    saf_members_free(&members);
  }
}

void build_visible() {
  layer.visible = (const char**)mem_alloc(((size_t)layer.entries.count + 1) * sizeof(char*));
  layer.visible_count = 0;
  if (!layer.visible) return;
  const char* last = nullptr;
  for (int32_t i = 0; i < layer.entries.count; i++) {
    const char* name = layer.entries.data[i].name;
    if (last && strcasecmp(last, name) == 0) continue;
    layer.visible[layer.visible_count++] = name;
    last = name;
  }
  layer.visible[layer.visible_count] = nullptr;
}

void build_list() {
  if (layer.list_built) return;
  build_dirs();
  layer.list_built = true;
  DirId stack[MAX_WALK_DEPTH];
  for (int32_t d = 0; d < layer.dir_count; d++) {
    char* root = dir_with_tail(layer.dirs[d], "");
    if (!root) continue;
    struct stat st;
    if (stat(*root ? root : "/", &st) == 0 && S_ISDIR(st.st_mode)) {
      stack[0] = {st.st_dev, st.st_ino};
      walk(root, "", d, stack, 1);
    }
    mem_free(root);
  }
  sort_entries();
  add_archive_members(layer.entries.count);
  sort_entries();
  grow_shrink(layer.entries);
  build_visible();
}

// Full path of a data_replace name: "@" means the home directory only.
char* resolve_home_name(const char* name) {
  if (name[0] != '@') return mem_strdup(name);
  const char* home = home_dir();
  if (!home || !asset_name_safe(name + 1)) return nullptr;
  return join(home, name + 1);
}

// Starts program with one argument, detached (double fork). True when the
// program was found and started.
bool launch_detached(const char* program, const char* arg) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (child == 0) {
    close(fds[0]);
    pid_t grandchild = fork();
    if (grandchild == 0) {
      setsid();
      char* argv[] = {(char*)program, (char*)arg, nullptr};
      execvp(program, argv);
      int err = errno;
      ssize_t ignored = write(fds[1], &err, sizeof err);
      (void)ignored;
      _exit(127);
    }
    if (grandchild < 0) {
      int err = errno;
      ssize_t ignored = write(fds[1], &err, sizeof err);
      (void)ignored;
    }
    _exit(0);
  }
  close(fds[1]);
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  ssize_t got;
  do got = read(fds[0], &err, sizeof err);
  while (got < 0 && errno == EINTR);
  close(fds[0]);
  return got == 0;
}

}  // namespace

// ---------------------------------------------------------------- ".saf" headers

bool saf_read_header(DataFile* file, GrowArray<SafMember>* members) {
  if (!members) return false;
  *members = GrowArray<SafMember>();
  if (!file) return false;
  char line[SAF_LINE];
  uint64_t header_bytes = 0;
  uint64_t data_offset = 0;  // of the next member, relative to the end of the header
  bool ok = false;
  for (;;) {
    int len = 0;
    int c = EOF;
    while (len < SAF_LINE - 1) {
      c = data_getc(file);
      if (c == EOF || c == '\n' || c == 0) break;
      line[len++] = (char)c;
    }
    if (c != '\n') break;  // no line feed within the buffer, a NUL byte, or end of file
    line[len] = 0;
    header_bytes += (uint64_t)len + 1;
    if (len == 1 && line[0] == '-') {
      ok = true;
      break;
    }
    if (line[0] < '0' || line[0] > '9') break;
    uint64_t size = 0;
    int i = 0;
    while (line[i] >= '0' && line[i] <= '9' && size <= UINT32_MAX)
      size = size * 10 + (uint64_t)(line[i++] - '0');
    if (size > UINT32_MAX) break;
    const char* raw_name = line[i] ? line + i + 1 : line + i;  // one separator character
    SafMember m;
    m.offset = (uint32_t)data_offset;  // fixed up below once the header length is known
    m.size = (uint32_t)size;
    data_offset += size;
    if (!*raw_name) continue;  // nameless member: its bytes are still skipped
    m.name = mem_strdup(raw_name);
    if (!m.name) continue;
    // Runs of '/' count as one.
    char* out = m.name;
    for (const char* p = m.name; *p; p++)
      if (!(*p == '/' && out > m.name && out[-1] == '/')) *out++ = *p;
    *out = 0;
    if (!grow_push(*members, m)) mem_free(m.name);
  }
  if (ok && header_bytes + data_offset > UINT32_MAX) ok = false;  // offsets must fit 32 bits
  if (!ok) {
    saf_members_free(members);
    return false;
  }
  for (int32_t i = 0; i < members->count; i++) members->data[i].offset += (uint32_t)header_bytes;
  return true;
}

void saf_members_free(GrowArray<SafMember>* members) {
  if (!members) return;
  for (int32_t i = 0; i < members->count; i++) mem_free(members->data[i].name);
  grow_free(*members);
}

// ---------------------------------------------------------------- search directories

const char* home_dir() {
  build_dirs();
  return layer.home_known ? layer.dirs[0] : nullptr;
}

int32_t search_dir_count() {
  build_dirs();
  return layer.dir_count;
}

const char* search_dir(int32_t index) {
  build_dirs();
  return index >= 0 && index < layer.dir_count ? layer.dirs[index] : nullptr;
}

bool asset_name_safe(const char* name) {
  if (!name || !*name) return false;
  for (const char* p = name;;) {
    const char* end = strchr(p, '/');
    size_t len = end ? (size_t)(end - p) : strlen(p);
    if (len == 2 && p[0] == '.' && p[1] == '.') return false;
    if (!end) return true;
    p = end + 1;
  }
}

// ---------------------------------------------------------------- file list

const char* const* file_list() {
  build_list();
  static const char* const EMPTY[] = {nullptr};
  return layer.visible ? layer.visible : EMPTY;
}

int32_t file_list_count() {
  build_list();
  return layer.visible_count;
}

int32_t file_list_entry_count() {
  build_list();
  return layer.entries.count;
}

const FileEntry* file_list_entry(int32_t index) {
  build_list();
  return grow_at(layer.entries, index);
}

const FileEntry* file_list_find(const char* name) {
  if (!name) return nullptr;
  build_list();
  int32_t lo = 0, hi = layer.entries.count;
  while (lo < hi) {  // first entry whose name is not below name
    int32_t mid = lo + (hi - lo) / 2;
    if (strcasecmp(layer.entries.data[mid].name, name) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  if (lo < layer.entries.count && strcasecmp(layer.entries.data[lo].name, name) == 0)
    return &layer.entries.data[lo];
  return nullptr;
}

bool file_list_describe(int32_t index, char* buffer, size_t size) {
  const FileEntry* e = file_list_entry(index);
  if (!e || !buffer || size == 0) return false;
  snprintf(buffer, size, "%s -> %s", e->name, e->path);
  return true;
}

void file_list_free() {
  for (int32_t i = 0; i < layer.entries.count; i++) {
    FileEntry* e = &layer.entries.data[i];
    mem_free(e->name);
    if (e->owns_path) mem_free(e->path);
  }
  grow_free(layer.entries);
  mem_free(layer.visible);
  for (int32_t d = 0; d < layer.dir_count; d++) mem_free(layer.dirs[d]);
  layer = FileLayer();
}

// ---------------------------------------------------------------- renaming and the home folder

bool data_replace(const char* from, const char* to) {
  if (!from || !to) return false;
  char* from_path = resolve_home_name(from);
  char* to_path = resolve_home_name(to);
  // rename() replaces `to` atomically, so a failed rename leaves it intact.
  bool ok = from_path && to_path && rename(from_path, to_path) == 0;
  mem_free(from_path);
  mem_free(to_path);
  return ok;
}

bool open_home_folder() {
  const char* home = home_dir();
  if (!home) return false;
  make_parent_dirs(home, true);
  char* folder = dir_with_tail(home, "");  // no trailing '/'; '/' is already the separator
  if (!folder) return false;
  bool ok = *folder && launch_detached("xdg-open", folder);
  mem_free(folder);
  return ok;
}

// ---------------------------------------------------------------- game-data check

bool ripemd160_file_prefix_hex(const char* path, char out[41]) {
  if (!path || !out) return false;
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  struct ripemd160_ctx ctx;
  ripemd160_init(&ctx);
  uint8_t block[DIGEST_BLOCK];
  size_t total = 0;
  bool ok = true;
  while (total < DIGEST_PREFIX_BYTES) {
    size_t got = fread(block, 1, DIGEST_BLOCK, f);
    if (got == 0) {
      ok = !ferror(f);
      break;
    }
    ripemd160_update(&ctx, got, block);
    total += got;
  }
  fclose(f);
  if (!ok) return false;
  uint8_t digest[RIPEMD160_DIGEST_SIZE];
  ripemd160_digest(&ctx, sizeof digest, digest);
  static const char HEX[] = "0123456789abcdef";
  for (int i = 0; i < RIPEMD160_DIGEST_SIZE; i++) {
    out[2 * i] = HEX[digest[i] >> 4];
    out[2 * i + 1] = HEX[digest[i] & 15];
  }
  out[40] = 0;
  return true;
}

bool game_data_digest_accepted(const char* hex) {
  if (!hex) return false;
  for (const char* accepted : ACCEPTED_DIGESTS)
    if (strcasecmp(hex, accepted) == 0) return true;
  return test_digest[0] && strcasecmp(hex, test_digest) == 0;
}

void game_data_add_accepted_digest_for_tests(const char* hex) {
  snprintf(test_digest, sizeof test_digest, "%s", hex ? hex : "");
}

bool game_data_check() {
  const char* home = home_dir();
  if (home) {
    make_parent_dirs(home, true);
    log_printf("VOLG_LOGFILE=%slastlog.txt", home);
  }
  for (int32_t d = 0; d < search_dir_count(); d++) {
    char* path = join(search_dir(d), "zzzz.saf");
    if (!path) continue;
    char hex[41];
    bool found = ripemd160_file_prefix_hex(path, hex) && game_data_digest_accepted(hex);
    mem_free(path);
    if (found) return true;
  }
  return false;
}
